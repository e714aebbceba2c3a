// Snippet-table loader: delimiter detection, field splitting, line reading, and the snippet files
// shipped in data/.
#include "editor/ShortcutCsv.h"

#include "VarnelloError.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TCsvRow Row(std::initializer_list<const char*> fields) {
    return TCsvRow(fields.begin(), fields.end());
}

} // namespace

TEST(ShortcutCsvTest, DetectsTheDelimiterFromTheFirstTwoLines) {
    EXPECT_EQ(DetectCsvDelimiter("name;text", "echo;echo $x"), ';');
    // Both commas and semicolons with equal non-zero counts: the larger equal count wins...
    EXPECT_EQ(DetectCsvDelimiter("a,b;c;d", "e,f;g;h"), ';');
    // ...and on a tie the earlier candidate stays.
    EXPECT_EQ(DetectCsvDelimiter("a,b;c", "d,e;f"), ',');
    // Unequal counts do not qualify in the first pass even when larger.
    EXPECT_EQ(DetectCsvDelimiter("a|b|c,d", "e|f,g"), ',');
    // A doubled delimiter is no field break for the first pass, but a run ending the line is.
    EXPECT_EQ(DetectCsvDelimiter("a;;b", "c;;d"), ';'); // second pass: plain counts 2 and 2
    EXPECT_EQ(DetectCsvDelimiter("a;;", "b;"), ';');    // first pass: 1 and 1
    // Third pass: the most frequent candidate in either line, earlier on a tie.
    EXPECT_EQ(DetectCsvDelimiter("a#b#c", "d|e"), '#');
    EXPECT_EQ(DetectCsvDelimiter("a#b", "d|e|f"), '|');
    EXPECT_EQ(DetectCsvDelimiter("a\tb", ""), '\t');
    EXPECT_EQ(DetectCsvDelimiter("one field", "another"), std::nullopt);
    EXPECT_EQ(DetectCsvDelimiter("", ""), std::nullopt);
}

TEST(ShortcutCsvTest, SplitsQuotedAndPlainFields) {
    const std::optional<char> comma = ',';
    EXPECT_EQ(SplitCsvLine("name,text,extra", comma), Row({"name", "text", "extra"}));
    // A quoted field keeps its delimiter; "" inside it is one quote.
    EXPECT_EQ(SplitCsvLine("\"a,b\",c", comma), Row({"a,b", "c"}));
    EXPECT_EQ(SplitCsvLine("x,\"a,b\"", comma), Row({"x", "a,b"}));
    EXPECT_EQ(SplitCsvLine("\"say \"\"hi\"\"\",x", comma), Row({"say \"hi\"", "x"}));
    EXPECT_EQ(SplitCsvLine("x,\"say \"\"hi\"\"\"", comma), Row({"x", "say \"hi\""}));
    // A quote that is neither doubled nor enclosing is dropped.
    EXPECT_EQ(SplitCsvLine("a\"b,c\"\"d", comma), Row({"ab", "c\"d"}));
    // Empty fields between delimiters stay; a trailing delimiter adds no field.
    EXPECT_EQ(SplitCsvLine(",a,,b,", comma), Row({"", "a", "", "b"}));
    // Text between a closing quote and the next delimiter is dropped.
    EXPECT_EQ(SplitCsvLine("\"a\"junk,b", comma), Row({"a", "b"}));
    // After a closing quote with no delimiter left, the rest becomes the last field.
    EXPECT_EQ(SplitCsvLine("\"a,b\"c", comma), Row({"a,b", "c"}));
    // An opening quote that never closes gives an empty field, and its text up to the next
    // delimiter goes with it.
    EXPECT_EQ(SplitCsvLine("\"ab,cd", comma), Row({"", "cd"}));
    EXPECT_EQ(SplitCsvLine("a,\"", comma), Row({"a", ""}));
    EXPECT_EQ(SplitCsvLine("", comma), Row({}));
    // Without a delimiter the line is one field with the last field's quote treatment.
    EXPECT_EQ(SplitCsvLine("\"a, \"\"b\"\"\"", std::nullopt), Row({"a, \"b\""}));
}

TEST(ShortcutCsvTest, ParsesLinesIntoRowsWithTheHeaderFirst) {
    TCsvTable table = ParseShortcutCsv("Name;Code\r\necho;echo $x;\n\nif;\"if (a;b) {}\"\r\nwide;x;y;z");
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0], Row({"Name", "Code"}));
    EXPECT_EQ(table[1], Row({"echo", "echo $x"}));
    EXPECT_EQ(table[2], Row({})); // empty line, empty row
    EXPECT_EQ(table[3], Row({"if", "if (a;b) {}"}));
    EXPECT_EQ(table[4], Row({"wide", "x", "y", "z"}));

    EXPECT_EQ(ParseShortcutCsv("Name,Code\n").size(), 1u); // header only: no snippets
    EXPECT_EQ(ParseShortcutCsv("a,b\n\n").size(), 2u);     // the final LF adds no row
    EXPECT_TRUE(ParseShortcutCsv("").empty());
    // A lone CR is no line end here.
    EXPECT_EQ(ParseShortcutCsv("a,b\rc,d"), TCsvTable({Row({"a", "b\rc", "d"})}));
}

TEST(ShortcutCsvTest, MissingFileRaisesCannotOpen) {
    const std::string missing = std::filesystem::temp_directory_path() / "no-such-folder-x9/php.csv";
    try {
        LoadShortcutCsv(missing);
        FAIL() << "no error";
    } catch (const EVarnelloError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
    }
    EXPECT_THROW(LoadShortcutCsv(std::filesystem::temp_directory_path()), EVarnelloError);
}

TEST(ShortcutCsvTest, ShippedSnippetFilesLoadAsNameAndCode) {
    for (const char* name : {"php.csv", "html.csv", "pascal.csv", "java.csv", "sql.csv"}) {
        SCOPED_TRACE(name);
        TCsvTable table = LoadShortcutCsv(std::string(VARNELLO_SOURCE_DIR "/data/") + name);
        ASSERT_GE(table.size(), 16u); // header and at least 15 snippets
        EXPECT_EQ(table[0], Row({"Shortcut", "Code"}));
        for (size_t i = 1; i < table.size(); ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(table[i].size(), 2u);
            EXPECT_FALSE(table[i][0].empty());
            EXPECT_FALSE(table[i][1].empty());
            EXPECT_EQ(table[i][1].find_first_of("\r\n"), std::string::npos);
        }
    }
    // Quotes in the HTML snippets come through undoubled.
    TCsvTable html = LoadShortcutCsv(VARNELLO_SOURCE_DIR "/data/html.csv");
    EXPECT_EQ(html[2], Row({"Link", "<a href=\"page.html\">text</a>"}));
}
