// The line list: what a save writes back, TAB cells, change notices and cache invalidation.
#include "editor/CodeMemoStrings.h"
#include "editor/CodeMemoModel.h"

#include "../common/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("varnello_lines_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

} // namespace

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CodeMemoStrings, AFileGoesBackAsItCameInWhereNothingWasEdited) {
    TCodeMemoStrings lines;
    std::string path = TempPath("asread.txt");
    // TABs, every kind of break, trailing blanks, no final break.
    const std::string mixed = "\tx \r\nCR\rLF\n\r\n\t\tlast\t";
    std::ofstream(path, std::ios::binary) << mixed;
    lines.LoadFromFile(path);
    ASSERT_EQ(lines.Count(), 5);
    EXPECT_EQ(lines[0], "\tx ");
    EXPECT_EQ(lines[1], "CR");
    EXPECT_EQ(lines[2], "LF");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "\t\tlast\t");
    EXPECT_EQ(lines.Length(4), 7);    // a TAB is one column
    EXPECT_EQ(lines.MaxLength(), 16); // ... and four cells
    EXPECT_FALSE(lines.FinalBreak);
    EXPECT_EQ(lines.LineBreak, TCodeMemoStrings::TLineBreak::lbCRLF); // the first one read
    lines.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), mixed);

    // An edited line keeps its own break; a new line takes the file's first one.
    lines.Put(1, "cr!");
    lines.Insert(5, "added");
    lines.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), "\tx \r\ncr!\rLF\n\r\n\t\tlast\t\r\nadded");

    // An LF file stays LF, with its final break; a file of nothing stays nothing.
    std::ofstream(path, std::ios::binary) << "<?php\n\techo 1;\n?>\n";
    lines.LoadFromFile(path);
    lines.Put(1, "\techo 2;");
    lines.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), "<?php\n\techo 2;\n?>\n");
    std::ofstream(path, std::ios::binary | std::ios::trunc).flush();
    lines.LoadFromFile(path);
    EXPECT_EQ(lines.Count(), 0);
    lines.Add("");
    lines.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), "");

    // A new document writes LF and ends with a break.
    TCodeMemoStrings fresh;
    fresh.Add("a");
    fresh.Add("b");
    fresh.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), "a\nb\n");

    std::remove(path.c_str());
    EXPECT_THROW(lines.LoadFromFile(path), EVarnelloError);
    EXPECT_EQ(lines.Count(), 1); // a failed load leaves the text alone
}

TEST(CodeMemoStrings, ColumnsAndScreenCellsAroundTabs) {
    TCodeMemoStrings lines;
    lines.Add("\tab\tc");
    lines.Add("\xC3\xA9\tx"); // é is one column
    EXPECT_EQ(lines.CellOf(0, 0), 0);
    EXPECT_EQ(lines.CellOf(0, 1), 4);
    EXPECT_EQ(lines.CellOf(0, 3), 6);
    EXPECT_EQ(lines.CellOf(0, 4), 10);
    EXPECT_EQ(lines.CellOf(0, 7), 13); // beyond the end one cell per column
    EXPECT_EQ(lines.CellOf(1, 2), 5);
    // A cell boundary inside a TAB goes to its nearer edge.
    EXPECT_EQ(lines.ColumnAtCell(0, 1), 0);
    EXPECT_EQ(lines.ColumnAtCell(0, 2), 0);
    EXPECT_EQ(lines.ColumnAtCell(0, 3), 1);
    EXPECT_EQ(lines.ColumnAtCell(0, 5), 2);
    EXPECT_EQ(lines.ColumnAtCell(0, 10), 4);
    EXPECT_EQ(lines.ColumnAtCell(0, 14), 8);
    EXPECT_EQ(lines.ColumnAtCell(1, 5), 2);
    for (int col = 0; col < 9; ++col) EXPECT_EQ(lines.ColumnAtCell(0, lines.CellOf(0, col)), col);
}

TEST(CodeMemoStrings, AFailedSaveLeavesTheDocumentOnDiskAsItWas) {
    std::string path = TempPath("full.php");
    const std::string old = "<?php echo 1; ?>\r\n";
    std::ofstream(path, std::ios::binary) << old;
    TCodeMemoStrings lines;
    lines.LoadFromFile(path);
    lines.Put(0, std::string(100000, 'x'));
    {
        TFileSizeLimit limit(4096); // the disk fills up part-way
        EXPECT_THROW(lines.SaveToFile(path), EVarnelloError);
    }
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), old);
    std::remove(path.c_str());
}

TEST(CodeMemoStrings, EditsDropCachedStatesAtAndBelowTheLine) {
    TCodeMemoStrings lines;
    for (int i = 0; i < 200; ++i) lines.Add("line");
    for (int i : {0, 50, 100, 150, 199}) lines.LineProp(i).StateValid = true;
    int notified = -1, notices = 0;
    lines.OnChange = [&](TCodeMemoStrings&, int line) {
        notified = line;
        ++notices;
    };
    lines.Put(100, "changed");
    EXPECT_EQ(notified, 100);
    EXPECT_TRUE(lines.LineProp(0).StateValid);
    EXPECT_TRUE(lines.LineProp(50).StateValid);
    EXPECT_FALSE(lines.LineProp(100).StateValid);
    EXPECT_FALSE(lines.LineProp(150).StateValid);
    EXPECT_FALSE(lines.LineProp(199).StateValid);
    // Inserting above a cached line moves the line with it, and invalidates it.
    lines.LineProp(150).StateValid = true;
    lines.Insert(10, "new");
    EXPECT_TRUE(lines.LineProp(0).StateValid);
    EXPECT_FALSE(lines.LineProp(51).StateValid);
    EXPECT_FALSE(lines.LineProp(151).StateValid);
    // One notice for a batch, from its first line.
    notices = 0;
    lines.BeginUpdate();
    lines.Put(30, "x");
    lines.Delete(20);
    lines.EndUpdate();
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(notified, 20);
}

TEST(CodeMemoStrings, TheEditorSurvivesLinesChangedBehindItsBack) {
    TCodeMemoModel model;
    model.SetText("a\r\nb\r\nc\r\n");
    model.SetCaret(0, 2);
    model.Lines().Clear();
    EXPECT_EQ(model.Lines().Count(), 1);
    EXPECT_EQ(model.CaretY(), 0);
    model.TypeText("x\n");
    EXPECT_EQ(model.Text(), "x\r\n\r\n");
}

TEST(CodeMemoStrings, ColouringFollowsEditsAboveTheWindow) {
    // A comment opened far above the top line must stop colouring the window once it is closed.
    TCodeMemoModel model;
    TSQLMemoStyler sql;
    model.SetSyntaxStyles(&sql);
    std::string text = "/* open\r\n";
    for (int i = 0; i < 300; ++i) text += "select x\r\n";
    model.SetText(text);
    TMemoHighlighter& hl = model.Highlighter();
    EXPECT_TRUE(hl.TopLineState(model.Lines(), 250).InComment);
    hl.TopLineState(model.Lines(), 120); // caches on the way, then a different top line
    model.SetCaret(7, 0);
    model.TypeText(" */");
    EXPECT_FALSE(hl.TopLineState(model.Lines(), 250).InComment);
    EXPECT_FALSE(hl.TopLineState(model.Lines(), 120).InComment);
}
