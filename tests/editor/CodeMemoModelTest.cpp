// Editing, navigation, completion and hints of the editor model, driven as keys would drive them.
#include "editor/CodeMemoModel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

std::string Line(const TCodeMemoModel& m, int i) {
    return m.Lines()[i];
}

struct CodeMemoModel : ::testing::Test {
    TCodeMemoModel M;
    int StatusCount = 0;
    void SetUp() override {
        M.OnStatusChange = [this](TCodeMemoModel&) { ++StatusCount; };
    }
    void Key(TMemoKey k, TShiftState s = 0) { M.KeyDown(k, s); }
};

} // namespace

TEST_F(CodeMemoModel, TrailingSpacesGoWhenTheCaretLeavesTheLine) {
    M.SetText("\r\n\r\n");
    M.TypeText("a ");
    EXPECT_EQ(Line(M, 0), "a ");
    Key(TMemoKey::mkDown);
    EXPECT_EQ(Line(M, 0), "a");
    // End stops before trailing spaces; Right past the end pads, and the padding stays before a letter.
    M.SetText("x   \r\nab\r\n");
    Key(TMemoKey::mkEnd);
    EXPECT_EQ(M.Caret(), (TMemoPos{1, 0}));
    Key(TMemoKey::mkDown);
    Key(TMemoKey::mkEnd);
    Key(TMemoKey::mkRight);
    Key(TMemoKey::mkRight);
    M.KeyPress(U'z');
    EXPECT_EQ(Line(M, 1), "ab  z");
    // Up keeps the column and pads the shorter line only while the caret is on it.
    M.SetText("abcdef\r\nx\r\n");
    M.SetCaret(5, 0);
    Key(TMemoKey::mkDown);
    EXPECT_EQ(M.Caret(), (TMemoPos{5, 1}));
    EXPECT_EQ(Line(M, 1), "x    ");
    Key(TMemoKey::mkUp);
    EXPECT_EQ(Line(M, 1), "x");
    // Left at column 0 goes to the end of the previous line; at (0, 0) it stays.
    M.SetCaret(0, 1);
    Key(TMemoKey::mkLeft);
    EXPECT_EQ(M.Caret(), (TMemoPos{6, 0}));
    M.SetCaret(0, 0);
    Key(TMemoKey::mkLeft);
    EXPECT_EQ(M.Caret(), (TMemoPos{0, 0}));
}

TEST_F(CodeMemoModel, StatusChangeOnEveryCaretSetAndEdit) {
    M.SetText("abc\r\n");
    StatusCount = 0;
    M.SetCaretY(0); // line set again: reported
    EXPECT_EQ(StatusCount, 1);
    M.SetCaretX(0); // same column: not reported
    EXPECT_EQ(StatusCount, 1);
    M.KeyPress(U'x');
    EXPECT_GT(StatusCount, 1);
    int before = StatusCount;
    Key(TMemoKey::mkDelete); // an edit without caret movement still reports
    EXPECT_GT(StatusCount, before);
}

TEST_F(CodeMemoModel, EnterSplitsWithAutoIndentAndUndoRestoresTheLine) {
    M.SetText("    abc def\r\n");
    M.SetCaret(8, 0);
    Key(TMemoKey::mkReturn);
    EXPECT_EQ(Line(M, 0), "    abc");
    EXPECT_EQ(Line(M, 1), "    def");
    EXPECT_EQ(M.Caret(), (TMemoPos{4, 1}));
    // Indentation is at most the caret column; leading spaces of the carried text go.
    M.SetText("      x   y  \r\n");
    M.SetCaret(2, 0);
    Key(TMemoKey::mkReturn);
    EXPECT_EQ(Line(M, 0), "");
    EXPECT_EQ(Line(M, 1), "  x   y");
    // Spaces Enter removed come back with undo.
    M.SetText("abc   def\r\n");
    M.SetCaret(3, 0);
    Key(TMemoKey::mkReturn);
    EXPECT_EQ(Line(M, 1), "def");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(M.Lines().Count(), 1);
    EXPECT_EQ(Line(M, 0), "abc   def");
    Key(TMemoKey::mkBackspace, ssAlt | ssShift);
    EXPECT_EQ(Line(M, 0), "abc");
    EXPECT_EQ(Line(M, 1), "def");
    // Without AutoIndent nothing is indented or stripped at the front.
    M.AutoIndent = false;
    M.SetText("  ab  cd\r\n");
    M.SetCaret(4, 0);
    Key(TMemoKey::mkReturn);
    EXPECT_EQ(Line(M, 1), "  cd");
    EXPECT_EQ(M.Caret(), (TMemoPos{0, 1}));
}

TEST_F(CodeMemoModel, UndoRunsAndLimit) {
    M.TypeText("abc");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "");
    Key(TMemoKey::mkBackspace, ssAlt | ssShift);
    EXPECT_EQ(Line(M, 0), "abc");
    EXPECT_EQ(M.Caret(), (TMemoPos{3, 0}));

    M.SetText("");
    M.TypeText("ab");
    M.MouseDown({0, 0}, false);
    M.TypeText("c");
    EXPECT_EQ(Line(M, 0), "cab");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "ab");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "");

    // 101 separate actions: the first one is gone from the list.
    M.SetText("");
    for (int i = 0; i < 101; ++i) {
        M.SetCaret(0, 0);
        M.KeyPress(U'x');
        M.SetCaret(0, 0); // breaks the run: the next character starts a new record
    }
    EXPECT_EQ(M.UndoList().Count(), 100);
    for (int i = 0; i < 101; ++i) Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "x");
    // A new action after undo ends the redo chain, and never lands in an undone record.
    M.KeyPress(U'y');
    EXPECT_FALSE(M.CanRedo());
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "x");
}

TEST_F(CodeMemoModel, DeleteAndBackspaceRunsUndoInOrder) {
    M.SetText("abcdef\r\n");
    M.SetCaret(1, 0);
    for (int i = 0; i < 3; ++i) Key(TMemoKey::mkDelete);
    EXPECT_EQ(Line(M, 0), "aef");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "abcdef");
    M.SetCaret(5, 0);
    for (int i = 0; i < 3; ++i) Key(TMemoKey::mkBackspace);
    EXPECT_EQ(Line(M, 0), "abf");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "abcdef");
    EXPECT_EQ(M.Caret(), (TMemoPos{5, 0}));
    // Line joins both ways, and their undo.
    M.SetText("ab\r\ncd\r\n");
    M.SetCaret(0, 1);
    Key(TMemoKey::mkBackspace);
    EXPECT_EQ(Line(M, 0), "abcd");
    EXPECT_EQ(M.Caret(), (TMemoPos{2, 0}));
    Key(TMemoKey::mkDelete); // deletes 'c'
    Key(TMemoKey::mkEnd);
    Key(TMemoKey::mkDelete); // nothing below: no change
    EXPECT_EQ(Line(M, 0), "abd");
    Key(TMemoKey::mkBackspace, ssAlt);
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(M.Lines().Count(), 2);
    EXPECT_EQ(Line(M, 1), "cd");
    // Ctrl+Backspace eats back to a space.
    M.SetText("one two three\r\n");
    Key(TMemoKey::mkEnd);
    Key(TMemoKey::mkBackspace, ssCtrl);
    EXPECT_EQ(Line(M, 0), "one two ");
}

TEST_F(CodeMemoModel, OverwriteModeAndItsUndo) {
    M.SetText("abcd\r\n");
    Key(TMemoKey::mkInsert);
    M.SetCaret(2, 0);
    M.TypeText("xyz");
    EXPECT_EQ(Line(M, 0), "abxyz");
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(Line(M, 0), "abcd");
    // Tab only moves in overwrite mode, padding past the end.
    M.SetCaret(3, 0);
    Key(TMemoKey::mkTab);
    EXPECT_EQ(M.Caret(), (TMemoPos{7, 0}));
    EXPECT_EQ(Line(M, 0), "abcd   ");
}

TEST_F(CodeMemoModel, TabShiftTabAndCtrlY) {
    M.SetText("ab\r\ncd\r\n");
    M.SetCaret(1, 0);
    Key(TMemoKey::mkTab); // a TAB character: one column, four cells on screen
    EXPECT_EQ(Line(M, 0), "a\tb");
    EXPECT_EQ(M.Caret(), (TMemoPos{2, 0}));
    EXPECT_EQ(M.CaretCell(), 5);
    // Down keeps the screen cell: cell 5 of "cd" is column 5 (padded), and back up it is after the TAB.
    Key(TMemoKey::mkDown);
    EXPECT_EQ(M.Caret(), (TMemoPos{5, 1}));
    Key(TMemoKey::mkUp);
    EXPECT_EQ(M.Caret(), (TMemoPos{2, 0}));
    Key(TMemoKey::mkTab, ssShift); // four cells left: from cell 5 to cell 1, the TAB's nearer edge
    EXPECT_EQ(M.Caret(), (TMemoPos{1, 0}));
    Key(TMemoKey::mkTab, ssShift);
    EXPECT_EQ(M.Caret(), (TMemoPos{0, 0}));
    EXPECT_EQ(Line(M, 0), "a\tb");
    Key(TMemoKey::mkY, ssCtrl);
    EXPECT_EQ(M.Lines().Count(), 1);
    EXPECT_EQ(Line(M, 0), "cd");
    Key(TMemoKey::mkY, ssCtrl);
    EXPECT_EQ(M.Lines().Count(), 1);
    EXPECT_EQ(Line(M, 0), "");
    Key(TMemoKey::mkBackspace, ssAlt);
    Key(TMemoKey::mkBackspace, ssAlt);
    EXPECT_EQ(M.Text(), "a\tb\r\ncd\r\n");
}

TEST_F(CodeMemoModel, SelectionClipboardAndInsertText) {
    std::string clip;
    M.OnSetClipboard = [&](TCodeMemoModel&, const std::string& t) { clip = t; };
    M.OnGetClipboard = [&](TCodeMemoModel&) { return clip; };
    M.SetText("hello world\r\nsecond line\r\n");
    M.SetCaret(6, 0);
    Key(TMemoKey::mkDown, ssShift);
    Key(TMemoKey::mkC, ssCtrl);
    EXPECT_EQ(clip, "world\r\nsecond");
    Key(TMemoKey::mkX, ssCtrl);
    EXPECT_EQ(M.Text(), "hello  line\r\n");
    EXPECT_EQ(M.Caret(), (TMemoPos{6, 0}));
    clip = "A\nB\rC";
    Key(TMemoKey::mkV, ssCtrl);
    EXPECT_EQ(M.Text(), "hello A\r\nB\r\nC line\r\n");
    EXPECT_EQ(M.Caret(), (TMemoPos{1, 2}));
    Key(TMemoKey::mkBackspace, ssAlt); // the paste
    Key(TMemoKey::mkBackspace, ssAlt); // the cut
    EXPECT_EQ(M.Text(), "hello world\r\nsecond line\r\n");
    EXPECT_EQ(M.SelText(), "world\r\nsecond");

    // Typing over a selection replaces it; Ctrl+A selects everything.
    Key(TMemoKey::mkA, ssCtrl);
    M.KeyPress(U'q');
    EXPECT_EQ(M.Text(), "q\r\n");

    // InsertText: CR LF splits, TABs stay, the caret ends after the text.
    M.SetText("abXYcd\r\n");
    M.SetSelection({2, 0}, {4, 0});
    M.InsertText("1\t\r\n2");
    EXPECT_EQ(M.Text(), "ab1\t\r\n2cd\r\n");
    EXPECT_EQ(M.Caret(), (TMemoPos{1, 1}));
    // Word navigation stops at symbols of the styler's first symbol entry.
    TWebMemoStyler web;
    M.SetSyntaxStyles(&web);
    M.SetText("foo.bar baz\r\n");
    Key(TMemoKey::mkRight, ssCtrl);
    EXPECT_EQ(M.Caret().Col, 4);
    Key(TMemoKey::mkRight, ssCtrl);
    EXPECT_EQ(M.Caret().Col, 8);
    Key(TMemoKey::mkLeft, ssCtrl);
    EXPECT_EQ(M.Caret().Col, 4);
    M.DoubleClick({5, 0});
    EXPECT_EQ(M.SelText(), "bar");
}

TEST_F(CodeMemoModel, ReadOnlyIgnoresEdits) {
    M.SetText("abc\r\n");
    M.ReadOnly = true;
    M.TypeText("x");
    Key(TMemoKey::mkDelete);
    Key(TMemoKey::mkReturn);
    M.InsertText("zz");
    EXPECT_EQ(M.Text(), "abc\r\n");
    Key(TMemoKey::mkEnd);
    EXPECT_EQ(M.CaretX(), 3);
}

TEST_F(CodeMemoModel, AutoCorrectReplacesTheWordBeforeTheCaret) {
    M.AutoCorrect = {{"my", "mysql_"}};
    M.TypeText("my\n");
    EXPECT_EQ(Line(M, 0), "mysql_");
    EXPECT_EQ(M.Lines().Count(), 2);
    M.SetText("");
    M.TypeText("x my ");
    EXPECT_EQ(Line(M, 0), "x mysql_ ");
    // Case-sensitive, whole word only, and only the part left of the caret.
    M.SetText("");
    M.TypeText("My amy ");
    EXPECT_EQ(Line(M, 0), "My amy ");
    M.SetText("mmy\r\n");
    M.SetCaret(1, 0);
    M.KeyPress(U' ');
    EXPECT_EQ(Line(M, 0), "m my");
    // Tab is no word end for the correction.
    M.SetText("");
    M.TypeText("my\t");
    EXPECT_EQ(Line(M, 0), "my\t");
}

TEST_F(CodeMemoModel, AutoCorrectCanBeLimitedToPhpCode) {
    M.AutoCorrect = {{"my", "mysql_"}};
    M.OnCanAutoCorrect = [](const TCodeMemoModel& m, const std::string& word, TMemoPos end) {
        EXPECT_EQ(word, "my");
        return IsInsidePhpCode(m.Lines(), end);
    };
    M.TypeText("<p>my page</p> <?php my");
    M.KeyPress(U' ');
    M.TypeText("?> my ");
    EXPECT_EQ(Line(M, 0), "<p>my page</p> <?php mysql_ ?> my ");
    // Across lines, and with the opening tag in capitals; "<?=" opens code too.
    M.SetText("");
    M.TypeText("<?PHP\n  my\n?>\nmy\n<?= my ");
    EXPECT_EQ(M.Text(), "<?PHP\r\n  mysql_\r\n  ?>\r\n  my\r\n  <?= mysql_ \r\n");

    TCodeMemoStrings lines;
    lines.Add("text <?php code ?> text");
    lines.Add("code?");
    EXPECT_FALSE(IsInsidePhpCode(lines, {3, 0}));
    EXPECT_TRUE(IsInsidePhpCode(lines, {12, 0}));
    EXPECT_FALSE(IsInsidePhpCode(lines, {20, 0}));
    EXPECT_FALSE(IsInsidePhpCode(lines, {2, 1}));
}

TEST_F(CodeMemoModel, SqlCompletionFiltersWithoutTheFirstWord) {
    TSQLMemoStyler sql;
    M.SetSyntaxStyles(&sql);
    M.TypeText("SEL");
    Key(TMemoKey::mkSpace, ssCtrl);
    ASSERT_TRUE(M.Completion().Open);
    EXPECT_EQ(M.Completion().Items, std::vector<std::string>{"SELECT"});
    Key(TMemoKey::mkReturn);
    EXPECT_EQ(Line(M, 0), "SELECT");
    EXPECT_FALSE(M.Completion().Open);

    M.SetText("");
    M.TypeText("x by");
    Key(TMemoKey::mkSpace, ssCtrl);
    ASSERT_TRUE(M.Completion().Open);
    EXPECT_EQ(M.Completion().Items, std::vector<std::string>{"ORDER BY"});
    M.KeyPress(U' ');
    EXPECT_EQ(Line(M, 0), "x BY");

    // Empty prefix lists everything, sorted by the inserted word; letters typed re-select.
    M.SetText("");
    Key(TMemoKey::mkSpace, ssCtrl);
    ASSERT_TRUE(M.Completion().Open);
    EXPECT_EQ(M.Completion().Items.size(), sql.AutoCompletion.size());
    EXPECT_EQ(M.Completion().Items.front(), "ORDER BY"); // "BY" sorts first
    M.KeyPress(U'V');
    EXPECT_EQ(Line(M, 0), "v");
    EXPECT_EQ(M.Completion().Items[static_cast<std::size_t>(M.Completion().ItemIndex)], "VALUES");
    Key(TMemoKey::mkDown);
    EXPECT_EQ(M.Completion().Items[static_cast<std::size_t>(M.Completion().ItemIndex)], "WHERE");
    Key(TMemoKey::mkEscape);
    EXPECT_FALSE(M.Completion().Open);
    EXPECT_EQ(Line(M, 0), "v");
    // Nothing fits: no list.
    M.TypeText("qq");
    Key(TMemoKey::mkSpace, ssCtrl);
    EXPECT_FALSE(M.Completion().Open);
}

TEST_F(CodeMemoModel, PascalHintsAndCompletionOfCalls) {
    TPascalMemoStyler pas;
    M.SetSyntaxStyles(&pas);
    M.TypeText("ShowMessage(");
    ASSERT_TRUE(M.Hint().Visible);
    EXPECT_EQ(M.Hint().Text, "const Msg: string");
    EXPECT_EQ(M.Hint().Text.substr(static_cast<std::size_t>(M.Hint().BoldStart),
                                   static_cast<std::size_t>(M.Hint().BoldLength)),
              "const Msg: string");
    EXPECT_EQ(M.Hint().Pos, (TMemoPos{12, 1}));
    M.TypeText("'x')");
    EXPECT_FALSE(M.Hint().Visible);

    M.SetText("");
    M.TypeText("Show(");
    ASSERT_TRUE(M.Hint().Visible);
    EXPECT_EQ(M.Hint().Text, "const Msg: string");

    // The comma count picks the current parameter of MessageDlg.
    M.SetText("\r\n\r\n");
    M.TypeText("MessageDlg('a', mtInfo, ");
    ASSERT_TRUE(M.Hint().Visible);
    const TParamHint& h = M.Hint();
    EXPECT_EQ(h.Text.substr(static_cast<std::size_t>(h.BoldStart), static_cast<std::size_t>(h.BoldLength)),
              "Buttons: TMsgDlgButtons");
    // Leaving the line hides it; more than four spaces in a row finds nothing.
    M.KeyDown(TMemoKey::mkDown);
    EXPECT_FALSE(M.Hint().Visible);
    M.SetText("");
    M.TypeText("Show(a,      ");
    EXPECT_FALSE(M.Hint().Visible);

    // Completion inserts the entry's word; an entry with parameters adds "()" and shows the hint.
    M.SetText("");
    M.TypeText("showm");
    Key(TMemoKey::mkSpace, ssCtrl);
    ASSERT_TRUE(M.Completion().Open);
    Key(TMemoKey::mkReturn);
    EXPECT_EQ(Line(M, 0), "ShowMessage");
    pas.AutoCompletion = {"MessageDlg(Msg;DlgType)"}; // no space: the first space would cut it
    M.SetText("x := mess + 1\r\n");
    M.SetCaret(7, 0);
    Key(TMemoKey::mkSpace, ssCtrl);
    ASSERT_TRUE(M.Completion().Open);
    M.KeyPress(U' ');
    EXPECT_EQ(Line(M, 0), "x := MessageDlg() + 1");
    EXPECT_EQ(M.Caret(), (TMemoPos{16, 0}));
    EXPECT_TRUE(M.Hint().Visible);
    EXPECT_EQ(M.Hint().BoldStart, 0);
    EXPECT_EQ(M.Hint().BoldLength, 17);
}

TEST_F(CodeMemoModel, DotTimerOffersTheListForTheWordWithItsDot) {
    TSQLMemoStyler sql;
    sql.AutoCompletion.push_back("T.ID"); // a word list that fits a dotted prefix
    M.SetSyntaxStyles(&sql);
    int requested = 0;
    M.OnCompletionTimer = [&](TCodeMemoModel&, int delay) { requested = delay; };
    M.TypeText("x .");
    EXPECT_EQ(requested, 500);
    M.CompletionTimerFired(); // the dot alone is no word
    EXPECT_FALSE(M.Completion().Open);
    M.SetText("");
    M.TypeText("t.");
    M.CompletionTimerFired();
    ASSERT_TRUE(M.Completion().Open);
    EXPECT_EQ(M.Completion().Items, std::vector<std::string>{"T.ID"});
    EXPECT_EQ(M.Completion().ReplaceFrom, 2);
}

TEST_F(CodeMemoModel, LoadLinesResetsTheEditorAndFailsCleanly) {
    std::string path = ::testing::TempDir() + "varnello_model_load.pas";
    {
        std::ofstream out(path, std::ios::binary);
        out << "\tx\r\nbegin\r\n";
    }
    M.TypeText("typed");
    M.SetCaret(3, 0);
    StatusCount = 0;
    M.LoadLines(path);
    EXPECT_EQ(M.Text(), "\tx\r\nbegin\r\n");
    EXPECT_EQ(M.Caret(), (TMemoPos{0, 0}));
    EXPECT_FALSE(M.CanUndo());
    EXPECT_FALSE(M.Modified());
    EXPECT_GT(StatusCount, 0);
    M.SetCaret(2, 1);
    M.KeyPress(U'!');
    EXPECT_TRUE(M.Modified());
    EXPECT_THROW(M.LoadLines(path + ".missing"), EVarnelloError);
    EXPECT_EQ(M.Text(), "\tx\r\nbe!gin\r\n");
    EXPECT_TRUE(M.CanUndo());
    std::remove(path.c_str());
}

TEST_F(CodeMemoModel, LinesTheUserDidNotEditAreSavedAsTheyWereRead) {
    const std::string path = ::testing::TempDir() + "varnello_model_keep.php";
    const std::string original = "<?php  \n\tif ($a) {\n\t\techo 1;   \n\t}\n?>";
    std::ofstream(path, std::ios::binary) << original;
    M.LoadLines(path);
    // The caret walks through every line and beyond their ends; nothing is typed.
    for (int i = 0; i < 5; ++i) {
        M.KeyDown(TMemoKey::mkEnd);
        for (int k = 0; k < 6; ++k) M.KeyDown(TMemoKey::mkRight);
        M.KeyDown(TMemoKey::mkDown);
    }
    M.KeyDown(TMemoKey::mkHome, ssCtrl);
    M.SaveLines(path);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), original);

    // Enter copies the TAB indentation; the new and the edited line keep TABs and the LF break.
    M.SetCaret(10, 2); // after "echo 1;"
    M.KeyDown(TMemoKey::mkReturn);
    EXPECT_EQ(M.Caret(), (TMemoPos{2, 3}));
    M.TypeText("echo 2;");
    M.KeyDown(TMemoKey::mkDown); // leaving the edited line trims what the user left behind
    M.SaveLines(path);
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}),
              "<?php  \n\tif ($a) {\n\t\techo 1;\n\t\techo 2;\n\t}\n?>");
    std::remove(path.c_str());
}

TEST_F(CodeMemoModel, BlockMarkFollowsTheCaret) {
    TPascalMemoStyler pas;
    M.SetSyntaxStyles(&pas);
    M.SetText("begin\r\n  if x then begin y; end;\r\nend;\r\n");
    M.SetCaret(2, 0);
    ASSERT_TRUE(M.BlockMark().Visible);
    EXPECT_EQ(M.BlockMark().Line, 2);
    EXPECT_EQ(M.BlockMark().Start, 0);
    M.SetCaret(14, 1); // on the inner begin
    ASSERT_TRUE(M.BlockMark().Visible);
    EXPECT_EQ(M.BlockMark().Line, 1);
    EXPECT_EQ(M.BlockMark().Start, 21);
    M.SetCaret(5, 1); // on "x": no block word, no mark
    EXPECT_FALSE(M.BlockMark().Visible);
}
