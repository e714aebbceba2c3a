// The highlighting scanner: rule precedence on single lines, state carried across lines, the state
// scanner's caches (cost and validity after edits), the block mark, and golden runs per language.
#include "editor/Highlighter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

class TTestLines : public THighlightLines {
public:
    explicit TTestLines(std::vector<std::string> text = {}) : Text(std::move(text)), Props(Text.size()) {}
    int LineCount() const override { return int(Text.size()); }
    const std::string& LineText(int index) const override { return Text.at(std::size_t(index)); }
    TLineProp& LineProp(int index) override { return Props.at(std::size_t(index)); }

    // An edit as the text model makes it: caches at and below the line go.
    void Change(int index, std::string text, TMemoHighlighter& h) {
        Text.at(std::size_t(index)) = std::move(text);
        InvalidateLineStates(*this, index);
        h.LinesChanged(index);
    }

    std::vector<std::string> Text;
    std::vector<TLineProp> Props;
};

struct TLook {
    TColor Fg, Bg;
    TFontStyles Style = 0;
    friend bool operator==(const TLook&, const TLook&) = default;
};

std::ostream& operator<<(std::ostream& os, const TLook& l) {
    return os << std::hex << l.Fg.Rgb << "/" << l.Bg.Rgb << "/" << l.Style << std::dec;
}

const TLook Plain{clr::Black, clr::White, 0};

// The look of `sub` (its n-th occurrence) in the line: every byte of it must look the same.
std::optional<TLook> LookOf(const std::string& line, const std::vector<THighlightRun>& runs,
                            const std::string& sub, int occurrence = 0) {
    std::size_t pos = line.find(sub);
    while (occurrence-- > 0 && pos != std::string::npos) pos = line.find(sub, pos + 1);
    if (pos == std::string::npos) return std::nullopt;
    std::optional<TLook> look;
    for (std::size_t i = pos; i < pos + sub.size(); ++i) {
        std::optional<TLook> here;
        for (const THighlightRun& r : runs)
            if (int(i) >= r.Start && int(i) < r.Start + r.Length) here = TLook{r.Color, r.BkColor, r.Style};
        if (!here || (look && !(*look == *here))) return std::nullopt;
        look = here;
    }
    return look;
}

// Runs cover the line exactly once, in order.
void ExpectCovers(const std::string& line, const std::vector<THighlightRun>& runs) {
    int at = 0;
    for (const THighlightRun& r : runs) {
        EXPECT_EQ(r.Start, at) << line;
        EXPECT_GT(r.Length, 0) << line;
        at = r.Start + r.Length;
    }
    EXPECT_EQ(at, int(line.size())) << line;
}

// Scans `text` from the start of the file and returns the runs of each line.
struct TScanned {
    std::vector<std::string> Text;
    std::vector<std::vector<THighlightRun>> Runs;
    THighlightState End;
    std::optional<TLook> Look(int line, const std::string& sub, int occurrence = 0) const {
        return LookOf(Text[std::size_t(line)], Runs[std::size_t(line)], sub, occurrence);
    }
};

TScanned Scan(const TCustomMemoStyler& styler, std::vector<std::string> text) {
    TMemoHighlighter h;
    h.SetStyler(&styler);
    TScanned s{std::move(text), {}, {}};
    for (const std::string& line : s.Text) {
        s.Runs.push_back(h.ScanLine(line, s.End));
        ExpectCovers(line, s.Runs.back());
    }
    return s;
}

} // namespace

TEST(HighlighterTest, PiecesSplitAtSeparatorsAndKeepEscapedPairs) {
    auto texts = [](std::string_view line, char escape) {
        std::vector<std::string> r;
        for (auto [a, b] : SplitPieces(line, escape))
            r.emplace_back(line.substr(std::size_t(a), std::size_t(b - a)));
        return r;
    };
    EXPECT_EQ(texts("a = \"x, y\";", 0),
              (std::vector<std::string>{"a", " ", "=", " \"", "x", ", ", "y", "\"", ";"}));
    EXPECT_EQ(texts("s\\\" t", '\\'), (std::vector<std::string>{"s\\\"", " ", "t"}));
    EXPECT_EQ(texts("\\", '\\'), (std::vector<std::string>{"\\"}));
    EXPECT_TRUE(SplitPieces("", 0).empty());
    EXPECT_EQ(SplitPieces("a b", 0, false).size(), 1u);
    EXPECT_TRUE(IsLinkPiece("HTTP://x") && IsLinkPiece("mailto:a@b") && !IsLinkPiece("http:/x"));
}

TEST(HighlighterTest, PascalNumbersHexAndDots) {
    TPascalMemoStyler pas;
    const TLook number{clr::Fuchsia, clr::White, fsBold}, symbol{clr::Red, clr::White, 0};
    TScanned s = Scan(pas, {"x := $1F;", "1.2.3", "a$1F $", "1E5 12abc"});
    EXPECT_EQ(s.Look(0, "$1F"), number);
    EXPECT_EQ(s.Look(0, ":="), symbol);
    EXPECT_EQ(s.Look(0, "x"), Plain);
    // 1.2.3 is the number 1, the symbol . and the number 2.3.
    EXPECT_EQ(s.Runs[1], (std::vector<THighlightRun>{{0, 1, clr::Fuchsia, clr::White, fsBold},
                                                     {1, 1, clr::Red, clr::White, 0},
                                                     {2, 3, clr::Fuchsia, clr::White, fsBold}}));
    // Glued to a plain character, $1F is no number; a lone $ takes no digits and stays plain.
    EXPECT_EQ(s.Look(2, "a$1F"), Plain);
    EXPECT_EQ(s.Look(2, "$", 1), Plain);
    EXPECT_EQ(s.Look(3, "1E5"), number);
    EXPECT_EQ(s.Look(3, "12"), number);
    EXPECT_EQ(s.Look(3, "abc"), Plain);
}

TEST(HighlighterTest, WebSignsKeywordsAndServerTagBackgrounds) {
    TWebMemoStyler web;
    const TLook teal{clr::Teal, clr::White, 0}, lime{clr::Black, clr::Lime, 0},
        yellow{clr::Black, clr::Yellow, 0};
    TScanned s = Scan(web, {"a +5 -5 .5", "IFX X IF", "<?php echo $row; ?> <% x %>", "if ( ifx"});
    EXPECT_EQ(s.Look(0, "+5"), (TLook{clr::Navy, clr::White, fsBold}));
    EXPECT_EQ(s.Look(0, "-"), teal);
    EXPECT_EQ(s.Look(0, "."), teal);
    EXPECT_EQ(s.Look(1, "IFX"), Plain);
    EXPECT_EQ(s.Look(1, "IF", 1), (TLook{clr::Fuchsia, clr::White, fsBold}));
    EXPECT_EQ(s.Look(2, "<"), teal);
    EXPECT_EQ(s.Look(2, "?"), lime);
    EXPECT_EQ(s.Look(2, "?", 1), lime);
    EXPECT_EQ(s.Look(2, ">"), teal);
    EXPECT_EQ(s.Look(2, "%"), yellow);
    EXPECT_EQ(s.Look(2, "php"), Plain);
    EXPECT_EQ(s.Look(2, "echo"), (TLook{clr::Olive, clr::White, fsBold}));
    EXPECT_EQ(s.Look(2, "$row"), (TLook{clr::Olive, clr::White, fsBold}));
    // Case-insensitive keywords; "(" is a keyword of the first entry but the symbol rule comes first.
    EXPECT_EQ(s.Look(3, "if"), (TLook{clr::Fuchsia, clr::White, fsBold}));
    EXPECT_EQ(s.Look(3, "("), teal);
    EXPECT_EQ(s.Look(3, "ifx"), Plain);
}

TEST(HighlighterTest, StringsEscapesAndCarriedBrackets) {
    TCSharpMemoStyler cs;
    const TLook str{clr::Blue, clr::White, 0};
    TScanned c = Scan(cs, {R"(s = "a\"b"; t)", R"(x = "open)", R"(still" + 1)"});
    EXPECT_EQ(c.Look(0, R"("a\"b")"), str);
    EXPECT_EQ(c.Look(0, ";"), (TLook{clr::Red, clr::White, 0}));
    EXPECT_EQ(c.Look(0, "t"), Plain);
    // An unterminated string carries over to the next line and closes there.
    EXPECT_EQ(c.Look(1, "\"open"), str);
    EXPECT_EQ(c.Look(2, "still\""), str);
    EXPECT_EQ(c.Look(2, "1"), (TLook{clr::Fuchsia, clr::White, fsBold}));
    EXPECT_FALSE(c.End.InBracket);

    // Elsewhere a backslash is an ordinary character: the string ends at \" and "b" opens another.
    TWebMemoStyler web;
    TScanned w = Scan(web, {R"("a\"b")"});
    EXPECT_EQ(w.Look(0, R"("a\")"), (TLook{clr::Teal, clr::White, 0}));
    EXPECT_TRUE(w.End.InBracket);

    // Apostrophes: a string in Pascal, nothing in SQL, a line comment in Basic.
    TPascalMemoStyler pas;
    TSQLMemoStyler sql;
    TBasicMemoStyler bas;
    EXPECT_EQ(Scan(pas, {"x := 'begin';"}).Look(0, "'begin'"), str);
    EXPECT_EQ(Scan(sql, {"x = 'select'"}).Look(0, "select"), (TLook{clr::Green, clr::White, 0}));
    EXPECT_EQ(Scan(bas, {"x = 1 ' if then"}).Look(0, "' if then"), (TLook{clr::Navy, clr::White, fsItalic}));
}

TEST(HighlighterTest, CommentsAcrossLinesAndLineCommentExit) {
    const TLook comment{clr::Navy, clr::White, fsItalic};
    TSQLMemoStyler sql;
    TScanned s = Scan(sql, {"select * from t /*", "where x = 1", "done */ select", "// note */ from"});
    EXPECT_EQ(s.Look(0, "select"), (TLook{clr::Green, clr::White, 0}));
    EXPECT_EQ(s.Look(0, "/*"), comment);
    EXPECT_EQ(s.Look(1, "where x = 1"), comment);
    EXPECT_EQ(s.Look(2, "done */"), comment);
    EXPECT_EQ(s.Look(2, "select"), (TLook{clr::Green, clr::White, 0}));
    // A line comment ends at the closing delimiter; the rest of the line is scanned normally.
    EXPECT_EQ(s.Look(3, "// note */"), comment);
    EXPECT_EQ(s.Look(3, "from"), (TLook{clr::Green, clr::White, 0}));
    EXPECT_FALSE(s.End.InComment);

    // Text between a closing and a reopening delimiter in one piece is drawn once, as plain text.
    TScanned again = Scan(sql, {"/*", "*/x/*"});
    EXPECT_EQ(again.Runs[1].size(), 3u);
    EXPECT_EQ(again.Look(1, "x"), Plain);
    EXPECT_TRUE(again.End.InComment);

    TPascalMemoStyler pas;
    TScanned p = Scan(pas, {"// note } begin", "ifthen { open", "end } end"});
    EXPECT_EQ(p.Look(0, "// note }"), comment);
    EXPECT_EQ(p.Look(0, "begin"), (TLook{clr::Green, clr::White, fsBold}));
    EXPECT_EQ(p.Look(1, "ifthen"), Plain);
    EXPECT_EQ(p.Look(1, "{ open"), comment);
    EXPECT_EQ(p.Look(2, "end }"), comment);
    EXPECT_EQ(p.Look(2, "end", 1), (TLook{clr::Green, clr::White, fsBold}));

    TPerlMemoStyler perl;
    TScanned l = Scan(perl, {"print 1; \"\"\"", "doc text", "\"\"\" print # x"});
    EXPECT_EQ(l.Look(0, "print"), (TLook{clr::Green, clr::White, fsBold}));
    EXPECT_EQ(l.Look(0, "\"\"\""), comment);
    EXPECT_EQ(l.Look(1, "doc text"), comment);
    EXPECT_EQ(l.Look(2, "print"), (TLook{clr::Green, clr::White, fsBold}));
    EXPECT_EQ(l.Look(2, "# x"), comment);
    EXPECT_FALSE(l.End.InComment);
}

TEST(HighlighterTest, LinksAreOneTokenThatOpensNothing) {
    const TLook link{clr::Blue, clr::White, fsUnderline};
    TSQLMemoStyler sql;
    TScanned s = Scan(sql, {"see http://x/*y here", "/* a mailto:me@x.org */", "\"HTTP://q\""});
    EXPECT_EQ(s.Look(0, "http://x/*y"), link);
    EXPECT_EQ(s.Look(0, "here"), Plain);
    EXPECT_EQ(s.Look(1, "mailto:me@x.org"), link);
    EXPECT_EQ(s.Look(1, "*/"), (TLook{clr::Navy, clr::White, fsItalic}));
    EXPECT_EQ(s.Look(2, "HTTP://q"), link);
    EXPECT_EQ(s.Look(2, "\""), (TLook{clr::Blue, clr::White, 0}));

    // The state scanner skips link pieces too: the top line after them is not in a comment.
    TTestLines lines({"see http://x/*y here", "where"});
    TMemoHighlighter h;
    h.SetStyler(&sql);
    EXPECT_FALSE(h.TopLineState(lines, 1).InComment);
}

TEST(HighlighterTest, NoStylerAndCustomStylerEdges) {
    TMemoHighlighter h;
    THighlightState st;
    EXPECT_EQ(h.ScanLine("if x // y", st), (std::vector<THighlightRun>{{0, 9, clr::Black, clr::White, 0}}));
    EXPECT_TRUE(h.ScanLine("", st).empty());

    // An empty line comment never matches; a styler without symbols makes every position a word start.
    TCustomMemoStyler bare;
    bare.MultiCommentLeft = "(*";
    bare.MultiCommentRight = "*)";
    TElementStyle& keywords = bare.AllStyles.Add();
    keywords.KeyWords = {"do"};
    keywords.Font.Color = clr::Red;
    TScanned s = Scan(bare, {"x// (* c *)do 7"});
    EXPECT_EQ(s.Look(0, "x//"), Plain);
    EXPECT_EQ(s.Look(0, "(* c *)"), (TLook{clr::Silver, clr::White, fsItalic}));
    EXPECT_EQ(s.Look(0, "do"), (TLook{clr::Red, clr::White, 0}));
    EXPECT_EQ(s.Look(0, "7"), (TLook{clr::Navy, clr::White, fsBold}));
}

TEST(HighlighterTest, StateScannerCostIsBoundedByTheNearestCache) {
    TPascalMemoStyler pas;
    std::vector<std::string> text(10000, "x := 'a'; y // c");
    text[100] = "{ opened here";
    text[7000] = "closed }";
    TTestLines lines(text);
    TMemoHighlighter h;
    h.SetStyler(&pas);

    EXPECT_FALSE(h.TopLineState(lines, 9990).InComment);
    EXPECT_EQ(h.ScannedLineCount(), 9990); // once from line 0
    h.ResetScanCount();
    EXPECT_TRUE(h.TopLineState(lines, 5000).InComment);
    EXPECT_EQ(h.ScannedLineCount(), 50); // from the cache at 4950
    h.ResetScanCount();
    h.TopLineState(lines, 9990);
    EXPECT_EQ(h.ScannedLineCount(), 40); // from 9950
    h.ResetScanCount();
    h.TopLineState(lines, 9990);
    EXPECT_EQ(h.ScannedLineCount(), 0); // remembered
    h.TopLineState(lines, 5001);
    EXPECT_EQ(h.ScannedLineCount(), 1); // the previous top line's own cache
    EXPECT_TRUE(lines.Props[4950].StateValid && lines.Props[50].StateValid && !lines.Props[51].StateValid);

    // The painted state agrees with the state scanner at the top of the window.
    TMemoHighlighter fresh;
    fresh.SetStyler(&pas);
    THighlightState painted;
    for (int i = 0; i < 5000; ++i) fresh.ScanLine(lines.Text[std::size_t(i)], painted);
    EXPECT_EQ(painted.InComment, h.TopLineState(lines, 5000).InComment);
}

TEST(HighlighterTest, CachedStatesFollowEditsAboveThem) {
    TPascalMemoStyler pas;
    TTestLines lines(std::vector<std::string>(3000, "a := 'b';"));
    lines.Text[10] = "{ open";
    TMemoHighlighter h;
    h.SetStyler(&pas);
    EXPECT_TRUE(h.TopLineState(lines, 2000).InComment);
    EXPECT_TRUE(h.TopLineState(lines, 1000).InComment);

    // Closing the comment above both tops: neither the caches nor the remembered state may survive.
    lines.Change(10, "{ open } closed", h);
    EXPECT_FALSE(h.TopLineState(lines, 1000).InComment);
    EXPECT_FALSE(h.TopLineState(lines, 2000).InComment);
    EXPECT_FALSE(h.ScanLines(lines, 2000, 1).at(0).empty());

    // An edit below the top keeps the remembered state (and costs no scan).
    h.ResetScanCount();
    lines.Change(2500, "{", h);
    h.TopLineState(lines, 2000);
    EXPECT_EQ(h.ScannedLineCount(), 0);
    // Reopening a string at line 5 is seen at the top after the edit.
    lines.Change(5, "s := 'unterminated", h);
    EXPECT_TRUE(h.TopLineState(lines, 2000).InBracket);
}

TEST(HighlighterTest, MatchingBlockMark) {
    TPascalMemoStyler pas;
    TTestLines lines({"begin", "  if x then begin y end;", "end;", "beginning", "  x"});
    TMemoHighlighter h;
    h.SetStyler(&pas);
    TBlockMark mark;
    h.UpdateBlockMark(lines, 0, 2, 0, 4, mark);
    EXPECT_EQ(mark, (TBlockMark{true, 2, 0, 3}));
    // From the inner end, upwards: the begin on its own line, read right to left.
    h.UpdateBlockMark(lines, 1, 21, 0, 4, mark);
    EXPECT_EQ(mark, (TBlockMark{true, 1, 12, 5}));
    // From the outer end: the top line itself is searched.
    h.UpdateBlockMark(lines, 2, 1, 0, 4, mark);
    EXPECT_EQ(mark, (TBlockMark{true, 0, 0, 5}));
    // An end pairs with the nearest begin before it on its line, even after another end.
    TTestLines mixed({"begin", "  a; end; begin", "end"});
    h.UpdateBlockMark(mixed, 2, 0, 0, 2, mark);
    EXPECT_EQ(mark, (TBlockMark{true, 1, 10, 5}));
    // "beginning" counts as a begin while searching but is not a block word under the caret.
    h.UpdateBlockMark(lines, 3, 2, 0, 4, mark);
    EXPECT_FALSE(mark.Visible);
    // An unmatched begin leaves the mark where it was.
    mark = {true, 2, 0, 3};
    lines.Text = {"begin", "begin", "end"};
    h.UpdateBlockMark(lines, 0, 0, 0, 2, mark);
    EXPECT_EQ(mark, (TBlockMark{true, 2, 0, 3}));

    TWebMemoStyler web;
    h.SetStyler(&web);
    lines.Text = {"function f() {", "  if (x){ y }", "}"};
    h.UpdateBlockMark(lines, 0, 13, 0, 2, mark);
    EXPECT_EQ(mark, (TBlockMark{true, 2, 0, 1}));
    TSQLMemoStyler sql; // no block words: no mark
    h.SetStyler(&sql);
    h.UpdateBlockMark(lines, 0, 13, 0, 2, mark);
    EXPECT_FALSE(mark.Visible);
}

// Golden runs: a sample per language under data/, its expected runs beside it. Set
// VARNELLO_UPDATE_GOLDEN=1 to rewrite the expectations after checking a change by eye.
TEST(HighlighterTest, GoldenRunsPerLanguage) {
    const std::pair<const char*, const char*> samples[] = {
        {"TWebMemoStyler", "web.html"},     {"TPascalMemoStyler", "pascal.pas"},
        {"TSQLMemoStyler", "sql.sql"},      {"TPerlMemoStyler", "perl.pl"},
        {"TCSharpMemoStyler", "csharp.cs"}, {"TBasicMemoStyler", "basic.bas"},
    };
    for (const auto& [styler, file] : samples) {
        SCOPED_TRACE(file);
        const std::string path = std::string(VARNELLO_TEST_DATA) + "/data/" + file;
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        TTestLines lines;
        for (std::string line; std::getline(in, line);) lines.Text.push_back(line);
        lines.Props.resize(lines.Text.size());
        auto s = CreateMemoStyler(styler);
        TMemoHighlighter h;
        h.SetStyler(s.get());
        std::ostringstream out;
        THighlightState st;
        for (int i = 0; i < lines.LineCount(); ++i) {
            // The window's top-line state must agree with what scrolling down from the top carried.
            const THighlightState top = h.TopLineState(lines, i);
            EXPECT_EQ(top.InComment, st.InComment) << "line " << i + 1;
            EXPECT_EQ(top.InBracket, st.InBracket) << "line " << i + 1;
            const std::string& text = lines.Text[std::size_t(i)];
            out << i + 1 << ": " << text << "\n";
            for (const THighlightRun& r : h.ScanLine(text, st)) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "  %06X/%06X %c%c%c ", r.Color.Rgb, r.BkColor.Rgb,
                              r.Style & fsBold ? 'B' : '-', r.Style & fsItalic ? 'I' : '-',
                              r.Style & fsUnderline ? 'U' : '-');
                out << buf << text.substr(std::size_t(r.Start), std::size_t(r.Length)) << "\n";
            }
        }
        const std::string expectedPath = path + ".runs";
        if (std::getenv("VARNELLO_UPDATE_GOLDEN")) std::ofstream(expectedPath, std::ios::binary) << out.str();
        std::ifstream expectedIn(expectedPath, std::ios::binary);
        ASSERT_TRUE(expectedIn) << expectedPath;
        std::stringstream expected;
        expected << expectedIn.rdbuf();
        EXPECT_EQ(out.str(), expected.str());
    }
}
