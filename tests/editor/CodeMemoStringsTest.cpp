// The line list: TAB expansion, line splitting on load, change notices and cache invalidation.
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

TEST(CodeMemoStrings, TabsExpandOnEveryStoreAndLoadSplitsAllBreaks) {
    TCodeMemoStrings lines;
    lines.Add("\tx");
    lines.Insert(0, "a\tb\t");
    lines.Put(1, "\t\t");
    EXPECT_EQ(lines[0], "a    b    ");
    EXPECT_EQ(lines[1], "        ");
    EXPECT_EQ(lines.Length(0), 10);
    EXPECT_EQ(lines.MaxLength(), 10);

    std::string path = TempPath("tabs.txt");
    std::ofstream(path, std::ios::binary) << "\tx\r\nCR\rLF\n\r\nlast";
    lines.LoadFromFile(path);
    ASSERT_EQ(lines.Count(), 5);
    EXPECT_EQ(lines[0], "    x");
    EXPECT_EQ(lines[1], "CR");
    EXPECT_EQ(lines[2], "LF");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "last");
    lines.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "    x\r\nCR\r\nLF\r\n\r\nlast\r\n");
    std::remove(path.c_str());
    EXPECT_THROW(lines.LoadFromFile(path), EVarnelloError);
    EXPECT_EQ(lines.Count(), 5); // a failed load leaves the text alone
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
