// Find, replace and go-to-line on a real model: options, wrapping, groups, matches across line
// ends and undoing a replace-all in one step.
#include "editor/CodeMemoSearch.h"

#include <gtest/gtest.h>

namespace {

TMemoSearch Search(const std::string& pattern, TSearchOptions o = {}) {
    TMemoSearch s;
    EXPECT_TRUE(s.SetPattern(pattern, o)) << s.Error();
    return s;
}

std::string Sel(const TCodeMemoModel& m) {
    return m.SelText();
}

} // namespace

TEST(CodeMemoSearch, CaseAndWholeWordDecideWhatMatches) {
    TCodeMemoModel m;
    m.SetText("Foo foo FOOD\r\nfood_foo Élan élan\r\n");
    EXPECT_EQ(Search("foo").CountAll(m.Lines()), 5);
    EXPECT_EQ(Search("foo", {.MatchCase = true}).CountAll(m.Lines()), 3);
    EXPECT_EQ(Search("foo", {.WholeWord = true}).CountAll(m.Lines()), 2); // food_foo is one word
    EXPECT_EQ(Search("élan").CountAll(m.Lines()), 2);                     // Latin-1 capitals fold
    EXPECT_EQ(Search("élan", {.MatchCase = true}).CountAll(m.Lines()), 1);
    // Columns are characters, not bytes: "É" is two bytes before "lan".
    auto hits = Search("lan").LineMatches(m.Lines(), 1);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0], std::make_pair(10, 13));
    EXPECT_EQ(hits[1], std::make_pair(15, 18));
}

TEST(CodeMemoSearch, NextAndPreviousWrapRoundTheText) {
    TCodeMemoModel m;
    m.SetText("a x\r\nb x\r\nc x\r\n");
    auto s = Search("x");
    bool wrapped = true;
    auto r = s.Find(m.Lines(), {0, 1}, true, true, &wrapped);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Start, (TMemoPos{2, 1}));
    EXPECT_FALSE(wrapped);
    // From just after the last match: nothing further without wrap, the first one with it.
    EXPECT_FALSE(s.Find(m.Lines(), {3, 2}, true, false));
    r = s.Find(m.Lines(), {3, 2}, true, true, &wrapped);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Start, (TMemoPos{2, 0}));
    EXPECT_TRUE(wrapped);
    // Backward finds the match starting before the position, and wraps to the last one.
    r = s.Find(m.Lines(), {2, 1}, false, true, &wrapped);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Start, (TMemoPos{2, 0}));
    r = s.Find(m.Lines(), {2, 0}, false, true, &wrapped);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Start, (TMemoPos{2, 2}));
    EXPECT_TRUE(wrapped);
    EXPECT_FALSE(Search("zzz").Find(m.Lines(), {0, 0}, true, true));
}

TEST(CodeMemoSearch, BadOrEmptyPatternsAreRefusedWithAReason) {
    TMemoSearch s;
    EXPECT_FALSE(s.SetPattern("a(b", {.Regex = true}));
    EXPECT_FALSE(s.Valid());
    EXPECT_NE(s.Error().find("Invalid regular expression"), std::string::npos) << s.Error();
    EXPECT_FALSE(s.SetPattern("", {}));
    TCodeMemoModel m;
    m.SetText("a(b\r\n");
    EXPECT_EQ(s.CountAll(m.Lines()), 0);
    // The same text is a fine literal pattern.
    EXPECT_EQ(Search("a(b").CountAll(m.Lines()), 1);
    // Patterns that match only the empty string find nothing instead of looping.
    EXPECT_EQ(Search("x*", {.Regex = true}).CountAll(m.Lines()), 0);
}

TEST(CodeMemoSearch, RegexGroupsAndAnchorsWorkPerLine) {
    TCodeMemoModel m;
    m.SetText("key=value\r\nname = Bob\r\n# key=skip\r\n");
    auto s = Search(R"(^(\w+)\s*=\s*(\w+)$)", {.Regex = true});
    EXPECT_EQ(s.CountAll(m.Lines()), 2); // the commented line does not start with a word
    EXPECT_EQ(s.ReplaceAll(m, "$2:$1"), 2);
    EXPECT_EQ(m.Text(), "value:key\r\nBob:name\r\n# key=skip\r\n");
}

TEST(CodeMemoSearch, RegexNamingALineBreakMatchesAcrossLines) {
    TCodeMemoModel m;
    m.SetText("one\r\n}\r\nelse {\r\ntwo }\r\nelse\r\n");
    auto s = Search(R"(\}\nelse)", {.Regex = true});
    EXPECT_TRUE(s.Multiline());
    EXPECT_EQ(s.CountAll(m.Lines()), 2);
    auto r = s.Find(m.Lines(), {0, 0}, true, false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Start, (TMemoPos{0, 1}));
    EXPECT_EQ(r->End, (TMemoPos{4, 2}));
    EXPECT_TRUE(s.IsMatch(m.Lines(), *r));
    EXPECT_EQ(s.ReplaceAll(m, "} else"), 2);
    EXPECT_EQ(m.Text(), "one\r\n} else {\r\ntwo } else\r\n");
    m.Undo();
    EXPECT_EQ(m.Text(), "one\r\n}\r\nelse {\r\ntwo }\r\nelse\r\n");
}

TEST(CodeMemoSearch, ReplaceAllIsOneUndoStepAndRedoes) {
    TCodeMemoModel m;
    m.SetText("cat cat\r\ndog\r\ncat\r\n");
    m.TypeText("x"); // an earlier edit that must survive the undo of the replace-all
    const std::string before = m.Text();
    auto s = Search("cat");
    EXPECT_EQ(s.ReplaceAll(m, "lion\r\nking"), 3); // replacements may add lines
    EXPECT_EQ(m.Text(), "xlion\r\nking lion\r\nking\r\ndog\r\nlion\r\nking\r\n");
    EXPECT_TRUE(m.Modified());
    m.Undo();
    EXPECT_EQ(m.Text(), before);
    m.Redo();
    EXPECT_EQ(m.Text(), "xlion\r\nking lion\r\nking\r\ndog\r\nlion\r\nking\r\n");
    m.Undo();
    m.Undo();
    EXPECT_EQ(m.Text(), "cat cat\r\ndog\r\ncat\r\n");
    EXPECT_EQ(Search("none").ReplaceAll(m, "y"), 0);
    m.ReadOnly = true;
    EXPECT_EQ(s.ReplaceAll(m, "y"), 0);
    EXPECT_EQ(m.Text(), "cat cat\r\ndog\r\ncat\r\n");
}

TEST(CodeMemoSearch, ReplaceReplacesOnlyAMatchingSelectionThenSelectsTheNext) {
    TCodeMemoModel m;
    m.SetText("ab ab ab\r\n");
    auto s = Search("(a)b", {.Regex = true});
    // Nothing selected: the first press only finds.
    EXPECT_FALSE(s.ReplaceCurrent(m, "[$1]"));
    EXPECT_EQ(Sel(m), "ab");
    EXPECT_EQ(m.SelStart(), (TMemoPos{0, 0}));
    EXPECT_TRUE(s.ReplaceCurrent(m, "[$1]"));
    EXPECT_EQ(m.Text(), "[a] ab ab\r\n");
    EXPECT_EQ(m.SelStart(), (TMemoPos{4, 0}));
    EXPECT_EQ(Sel(m), "ab");
    // A selection that is not a match is left alone.
    m.SetSelection({0, 0}, {2, 0});
    EXPECT_FALSE(s.ReplaceCurrent(m, "[$1]"));
    EXPECT_EQ(m.Text(), "[a] ab ab\r\n");
    // One replace is one undo step.
    m.SetSelection({4, 0}, {6, 0});
    EXPECT_TRUE(s.ReplaceCurrent(m, "[$1]"));
    EXPECT_EQ(m.Text(), "[a] [a] ab\r\n");
    m.Undo();
    EXPECT_EQ(m.Text(), "[a] ab ab\r\n");
}

TEST(CodeMemoSearch, GotoLineCountsFromOneAndRefusesOutOfRange) {
    TCodeMemoModel m;
    m.SetText("a\r\nb\r\nc\r\n");
    m.SetCaret(1, 0);
    EXPECT_TRUE(GotoLine(m, 3));
    EXPECT_EQ(m.Caret(), (TMemoPos{0, 2}));
    EXPECT_FALSE(GotoLine(m, 0));
    EXPECT_FALSE(GotoLine(m, m.Lines().Count() + 1));
    EXPECT_EQ(m.Caret(), (TMemoPos{0, 2}));
}

TEST(CodeMemoSearch, RegexOnVeryLongLinesNeitherCrashesNorPretends) {
    // std::regex recurses per character: a 200,000-character match would overflow a normal stack.
    TCodeMemoModel m;
    m.SetText(std::string(200000, 'x') + "\r\nend\r\n");
    auto s = Search("x.*", {.Regex = true});
    EXPECT_EQ(s.CountAll(m.Lines()), 1);
    EXPECT_FALSE(s.SkippedLongText());
    auto across = Search(R"([\s\S]*\nend)", {.Regex = true});
    EXPECT_EQ(across.CountAll(m.Lines()), 1);
    // Beyond the limit the line is left out and the search says so; plain text still finds it.
    m.SetText(std::string(2 << 20, 'y') + "\r\n");
    EXPECT_EQ(Search("y+", {.Regex = true}).CountAll(m.Lines()), 0);
    auto big = Search("y+", {.Regex = true});
    big.CountAll(m.Lines());
    EXPECT_TRUE(big.SkippedLongText());
    EXPECT_EQ(Search("yyy").CountAll(m.Lines()), (2 << 20) / 3);
}
