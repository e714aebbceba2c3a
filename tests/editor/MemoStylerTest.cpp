// The six language stylers as configured, lookups in list order, and the styler's own behaviour.
#include "editor/MemoStyler.h"
#include "editor/Highlighter.h"

#include <gtest/gtest.h>

namespace {

// One expected entry: name, kind, colours, style, then the keyword count, symbols or bracket.
struct TEntry {
    const char* Info;
    TStyleType Type;
    TColor Fg, Bg;
    TFontStyles Style;
    int Words;
    std::string Symbols;
    char Bracket;
};

void ExpectEntries(const TCustomMemoStyler& s, const std::vector<TEntry>& expected) {
    ASSERT_EQ(s.AllStyles.Count(), int(expected.size())) << s.Name;
    for (int i = 0; i < s.AllStyles.Count(); ++i) {
        const TElementStyle& e = s.AllStyles[i];
        const TEntry& x = expected[std::size_t(i)];
        SCOPED_TRACE(std::string(s.Name) + " / " + x.Info);
        EXPECT_EQ(e.Info, x.Info);
        EXPECT_EQ(e.StyleType, x.Type);
        EXPECT_EQ(e.Font.Color, x.Fg);
        EXPECT_EQ(e.BGColor, x.Bg);
        EXPECT_EQ(e.Font.Style, x.Style);
        EXPECT_EQ(e.Font.Name, "Courier New");
        EXPECT_EQ(int(e.KeyWords.size()), x.Words);
        EXPECT_EQ(e.Symbols, x.Symbols);
        EXPECT_EQ(e.Bracket, x.Bracket);
    }
}

const TColor W = clr::White;

} // namespace

TEST(MemoStylerTest, LanguageTablesAsConfigured) {
    TWebMemoStyler web;
    ExpectEntries(web, {{"Script Standard Default", stKeyword, clr::Fuchsia, W, fsBold, 24, "", 0},
                        {"HTML Standard Default", stKeyword, clr::Fuchsia, W, fsBold, 48, "", 0},
                        {"Single Quote", stBracket, clr::Green, W, 0, 0, "", '\''},
                        {"Double Quote", stBracket, clr::Teal, W, 0, 0, "", '"'},
                        {"Symbols Delimiters", stSymbol, clr::Teal, W, 0, 0, " ,;:.()[]=-*/^<>#\r\n", 0},
                        {"JavaScript Functions", stKeyword, clr::Green, W, fsBold, 7, "", 0},
                        {"PHP Functions", stKeyword, clr::Olive, W, fsBold, 6, "", 0},
                        {"PHP Content", stSymbol, clr::Black, clr::Lime, 0, 0, "<?>", 0},
                        {"ASP Java Server Pages", stSymbol, clr::Black, clr::Yellow, 0, 0, "<%>", 0}});
    EXPECT_EQ(web.AllStyles[0].KeyWords[22], "WINDOW"); // listed twice, kept
    EXPECT_EQ(web.AllStyles[6].KeyWords[3], "$row");
    EXPECT_EQ(web.CommentStyle, (TCharStyle{clr::Silver, W, fsItalic}));
    EXPECT_EQ(web.NumberStyle, (TCharStyle{clr::Navy, W, fsBold}));
    EXPECT_EQ(web.HintParameter.Parameters.back(), "prompt(message,defaultvalue)");

    TPascalMemoStyler pas;
    ExpectEntries(pas, {{"Pascal Standard Default", stKeyword, clr::Green, W, fsBold, 42, "", 0},
                        {"Simple Quote", stBracket, clr::Blue, W, 0, 0, "", '\''},
                        {"Double Quote", stBracket, clr::Blue, W, 0, 0, "", '"'},
                        {"Symbols Delimiters", stSymbol, clr::Red, W, 0, 0, " ,;:.(){}[]=-*/^%<>#\r\n", 0}});
    EXPECT_EQ(pas.HexIdentifier, "$");
    EXPECT_EQ(pas.BlockStart + "/" + pas.BlockEnd, "begin/end");
    EXPECT_EQ(pas.CommentStyle, (TCharStyle{clr::Navy, W, fsItalic}));
    EXPECT_EQ(pas.NumberStyle, (TCharStyle{clr::Fuchsia, W, fsBold}));

    TSQLMemoStyler sql;
    ExpectEntries(sql, {{"SQL Standard Default", stKeyword, clr::Green, W, 0, 51, "", 0},
                        {"Double Quote", stBracket, clr::Blue, W, 0, 0, "", '"'},
                        {"Symbols Delimiters", stSymbol, clr::Teal, W, 0, 0, " ,;:.(){}[]=-*/^%<>#\r\n", 0}});
    EXPECT_EQ(sql.AutoCompletion.size(), 12u);
    EXPECT_EQ(sql.HintParameter.TextColor, clr::Red);
    EXPECT_EQ(sql.HintParameter.BkColor, clr::Aqua);
    EXPECT_EQ(sql.MultiCommentLeft + sql.MultiCommentRight, "/**/");

    TPerlMemoStyler perl;
    ExpectEntries(perl,
                  {{"Perl functions", stKeyword, clr::Green, W, fsBold, 231, "", 0},
                   {"Simple Quote", stBracket, clr::Blue, W, 0, 0, "", '\''},
                   {"Double Quote", stBracket, clr::Blue, W, 0, 0, "", '"'},
                   {"Symbols Delimiters", stSymbol, clr::Red, W, 0, 0, " ,(){}[]-+*/=~!&|<>?:;.\r\n", 0}});
    EXPECT_EQ(perl.LineComment, "#");
    EXPECT_EQ(perl.MultiCommentLeft, "\"\"\"");
    EXPECT_EQ(perl.AllStyles[0].KeyWords.back(), "write");

    TCSharpMemoStyler cs;
    ExpectEntries(cs, {{"C# Standard Default", stKeyword, clr::Green, W, fsBold, 86, "", 0},
                       {"C# Regions", stKeyword, clr::Blue, W, fsBold, 2, "", 0},
                       {"C# Conditional defines", stKeyword, clr::Navy, W, fsBold, 8, "", 0},
                       {"Simple Quote", stBracket, clr::Blue, W, 0, 0, "", '\''},
                       {"Double Quote", stBracket, clr::Blue, W, 0, 0, "", '"'},
                       {"Symbols Delimiters", stSymbol, clr::Red, W, 0, 0, " ,;:.()[]=-*/^%&^<>|!~\r\n", 0}});
    EXPECT_EQ(cs.Name, "JavaMemoStyler1");
    EXPECT_EQ(cs.EscapeChar, "\\");
    EXPECT_EQ(cs.HexIdentifier, "0x");

    TBasicMemoStyler bas;
    ExpectEntries(bas, {{"Basic Standard Default", stKeyword, clr::Green, W, 0, 98, "", 0},
                        {"Double Quote", stBracket, clr::Blue, W, 0, 0, "", '"'},
                        {"Symbols Delimiters", stSymbol, clr::Teal, W, 0, 0, " ,;:.(){}[]=-*/^%<>#\r\n", 0}});
    EXPECT_EQ(bas.LineComment, "'");
    EXPECT_EQ(bas.AllStyles[0].KeyWords[29], "FOR NEXT");
    EXPECT_EQ(bas.HintParameter.Parameters.size(), 2u);
}

TEST(MemoStylerTest, DelimitersAndFactory) {
    TWebMemoStyler web;
    EXPECT_TRUE(web.IsDelimiterChar('?') && web.IsDelimiterChar('"') && web.IsDelimiterChar('\''));
    EXPECT_TRUE(web.IsDelimiterChar(' ') && web.IsDelimiterChar('%'));
    EXPECT_FALSE(web.IsDelimiterChar('{') || web.IsDelimiterChar('a') || web.IsDelimiterChar('\0'));
    TPascalMemoStyler pas;
    EXPECT_TRUE(pas.IsDelimiterChar('{'));
    EXPECT_FALSE(pas.IsDelimiterChar('?'));

    for (const std::string& name : MemoStylerClassNames()) {
        auto s = CreateMemoStyler(name);
        ASSERT_TRUE(s) << name;
        EXPECT_EQ(s->ClassName(), name);
        auto byInstance = CreateMemoStyler(s->Name);
        ASSERT_TRUE(byInstance);
        EXPECT_EQ(byInstance->ClassName(), name);
    }
    EXPECT_EQ(CreateMemoStyler("sqlmemostyler1")->ClassName(), "TSQLMemoStyler");
    EXPECT_EQ(CreateMemoStyler("TNoSuchStyler"), nullptr);
}

TEST(MemoStylerTest, CopyAndFreeNotification) {
    TCSharpMemoStyler cs;
    TElementStyles copy;
    copy.Add();
    copy.Assign(cs.AllStyles);
    ASSERT_EQ(copy.Count(), cs.AllStyles.Count());
    for (int i = 0; i < copy.Count(); ++i) EXPECT_EQ(copy[i], cs.AllStyles[i]);
    copy[0].KeyWords.clear(); // a deep copy
    EXPECT_EQ(cs.AllStyles[0].KeyWords.size(), 86u);

    int told = 0, detached = 0;
    int editorA = 0, editorB = 0;
    {
        TSQLMemoStyler sql;
        sql.AddFreeNotification(&editorA, [&](TCustomMemoStyler& s) {
            EXPECT_EQ(s.Name, "SQLMemoStyler1");
            ++told;
        });
        sql.AddFreeNotification(&editorB, [&](TCustomMemoStyler&) { ++detached; });
        sql.RemoveFreeNotification(&editorB);
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(detached, 0);
}

// Lookups in list order: the earlier entry wins, case is ignored, a keyword with a space never
// matches, and only colour and style of an entry's font reach the screen.
TEST(MemoStylerTest, LookupOrderAndCase) {
    auto lookOf = [](const TCustomMemoStyler& s, const std::string& line, std::size_t at) {
        TMemoHighlighter h;
        h.SetStyler(&s);
        THighlightState st;
        for (const THighlightRun& r : h.ScanLine(line, st))
            if (int(at) >= r.Start && int(at) < r.Start + r.Length) return r;
        return THighlightRun{};
    };
    TPascalMemoStyler pas;
    for (const char* w : {"begin", "Begin", "BEGIN"}) EXPECT_EQ(lookOf(pas, w, 0).Color, clr::Green) << w;
    TSQLMemoStyler sql;
    EXPECT_EQ(lookOf(sql, "SELECT a from b", 0).Color, clr::Green);
    EXPECT_EQ(lookOf(sql, "SELECT a from b", 9).Color, clr::Green);
    TBasicMemoStyler bas;
    EXPECT_EQ(lookOf(bas, "FOR NEXT", 0).Color, clr::Green); // FOR on its own
    EXPECT_EQ(lookOf(bas, "FOR NEXT", 4).Color, clr::Green); // NEXT on its own
    EXPECT_EQ(lookOf(bas, "FOR NEXT", 0).Length, 3);

    // A keyword listed by two entries takes the first entry's colour; a font size changes nothing.
    TCustomMemoStyler custom;
    TElementStyle& first = custom.AllStyles.Add();
    first.KeyWords = {"go"};
    first.Font.Size = 30;
    first.Font.Color = clr::Red;
    first.Font.Style = fsItalic;
    TElementStyle& second = custom.AllStyles.Add();
    second.KeyWords = {"GO", "stop"};
    second.Font.Color = clr::Blue;
    EXPECT_EQ(lookOf(custom, "go", 0).Color, clr::Red);
    EXPECT_EQ(lookOf(custom, "go", 0).Style, fsItalic);
    EXPECT_EQ(lookOf(custom, "stop", 0).Color, clr::Blue);
}
