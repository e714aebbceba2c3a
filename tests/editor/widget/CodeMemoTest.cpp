// The editor control driven with real key and mouse events on the offscreen platform.
#include "editor/widget/CodeMemo.h"

#include "VarnelloError.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

struct TCodeMemoFixture : ::testing::Test {
    TCodeMemo Memo;
    void SetUp() override {
        Memo.resize(500, 300);
        Memo.show();
        QApplication::setActiveWindow(&Memo);
        Memo.setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Memo));
    }
    QWidget* View() { return Memo.viewport(); }
    QPoint CellCentre(int col, int line) {
        return Memo.CellToPoint({col, line}) + QPoint(Memo.CharWidth() / 4, Memo.LineHeight() / 2);
    }
    std::string Line(int i) { return Memo.Lines()[i]; }
    QPoint TextLeftPoint() { return {Memo.TextLeft(), 0}; }
};

} // namespace

TEST_F(TCodeMemoFixture, TypingEditingAndUndoThroughKeys) {
    int status = 0;
    Memo.OnStatusChange = [&](TCustomCodeMemo& sender) {
        EXPECT_EQ(&sender, &Memo);
        ++status;
    };
    QTest::keyClicks(&Memo, "    abc def");
    for (int i = 0; i < 3; ++i) QTest::keyClick(&Memo, Qt::Key_Left);
    QTest::keyClick(&Memo, Qt::Key_Return);
    EXPECT_EQ(Line(0), "    abc");
    EXPECT_EQ(Line(1), "    def");
    EXPECT_GT(status, 10);
    EXPECT_TRUE(Memo.Modified());
    // Tab stays in the editor and types a TAB; Alt+Backspace undoes, Ctrl+Z does nothing.
    QTest::keyClick(&Memo, Qt::Key_Tab);
    EXPECT_EQ(Line(1), "    \tdef");
    EXPECT_TRUE(Memo.hasFocus());
    QTest::keyClick(&Memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Line(1), "    \tdef");
    // Enter and the Tab typed right after it are one run of typing: one undo takes both.
    QTest::keyClick(&Memo, Qt::Key_Backspace, Qt::AltModifier);
    ASSERT_EQ(Memo.Lines().Count(), 1);
    EXPECT_EQ(Line(0), "    abc def");
    QTest::keyClick(&Memo, Qt::Key_Backspace, Qt::AltModifier | Qt::ShiftModifier);
    ASSERT_EQ(Memo.Lines().Count(), 2);
    EXPECT_EQ(Line(1), "    \tdef");
    // Shift+Home selects, Ctrl+C copies, Ctrl+V pastes it back after End.
    QTest::keyClick(&Memo, Qt::Key_End);
    QTest::keyClick(&Memo, Qt::Key_Home, Qt::ShiftModifier);
    QTest::keyClick(&Memo, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("    \tdef"));
    QTest::keyClick(&Memo, Qt::Key_End);
    QTest::keyClick(&Memo, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Line(1), "    \tdef    \tdef");
    // Non-ASCII characters are one column each.
    for (QString ch : {QStringLiteral("é"), QStringLiteral("€")}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, ch);
        QApplication::sendEvent(&Memo, &press);
    }
    EXPECT_EQ(Memo.Model().CaretX(), 18);
    QTest::keyClick(&Memo, Qt::Key_Backspace);
    EXPECT_EQ(Line(1), "    \tdef    \tdefé");
}

TEST_F(TCodeMemoFixture, ATabIsDrawnFourCellsWideAndClicksFindTheTextAfterIt) {
    Memo.SetText("\tab\r\n");
    // The caret after the TAB stands four cells right of the text's left edge.
    EXPECT_EQ(Memo.CellToPoint({1, 0}).x(), Memo.TextLeft() + 4 * Memo.CharWidth());
    QTest::mouseClick(View(), Qt::LeftButton, {}, Memo.CellToPoint({2, 0}) + QPoint(1, 2));
    EXPECT_EQ(Memo.Model().Caret(), (TMemoPos{2, 0}));
    // A click on the TAB's left half puts the caret before it, on its right half after it.
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(Memo.TextLeft() + Memo.CharWidth(), 2));
    EXPECT_EQ(Memo.Model().Caret(), (TMemoPos{0, 0}));
    QTest::mouseClick(View(), Qt::LeftButton, {}, QPoint(Memo.TextLeft() + 3 * Memo.CharWidth(), 2));
    EXPECT_EQ(Memo.Model().Caret(), (TMemoPos{1, 0}));

    // The letter is painted where its cell is: the TAB's cells stay background.
    Memo.SetSyntaxStyles(nullptr);
    QImage shot = View()->grab().toImage();
    auto inkIn = [&](int cellFrom, int cellTo) {
        for (int x = Memo.TextLeft() + cellFrom * Memo.CharWidth();
             x < Memo.TextLeft() + cellTo * Memo.CharWidth(); ++x)
            for (int y = 0; y < Memo.LineHeight(); ++y)
                if (qGray(shot.pixel(x, y)) < 100) return true;
        return false;
    };
    EXPECT_FALSE(inkIn(1, 4)); // the caret may stand in cell 0
    EXPECT_TRUE(inkIn(4, 5));  // "a"
}

TEST_F(TCodeMemoFixture, MouseClickDragDoubleClickAndWheel) {
    TPascalMemoStyler pas;
    Memo.SetSyntaxStyles(&pas);
    std::string text;
    for (int i = 0; i < 100; ++i) text += "begin writeln(x" + std::to_string(i) + "); end\r\n";
    Memo.SetText(text);
    QTest::mouseClick(View(), Qt::LeftButton, {}, CellCentre(6, 2));
    EXPECT_EQ(Memo.Model().Caret(), (TMemoPos{6, 2}));
    QTest::mousePress(View(), Qt::LeftButton, {}, CellCentre(0, 1));
    QMouseEvent move(QEvent::MouseMove, CellCentre(5, 1), View()->mapToGlobal(CellCentre(5, 1)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(View(), &move);
    QTest::mouseRelease(View(), Qt::LeftButton, {}, CellCentre(5, 1));
    EXPECT_EQ(Memo.Model().SelText(), "begin");
    QTest::mouseDClick(View(), Qt::LeftButton, {}, CellCentre(8, 3));
    EXPECT_EQ(Memo.Model().SelText(), "writeln");

    QPoint at = CellCentre(2, 2);
    QWheelEvent wheel(at, View()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(View(), &wheel);
    EXPECT_GT(Memo.Model().TopLine(), 0);
    EXPECT_EQ(Memo.verticalScrollBar()->value(), Memo.Model().TopLine());
    // Dragging above the window scrolls it up and extends the selection there.
    int top = Memo.Model().TopLine();
    QTest::mousePress(View(), Qt::LeftButton, {}, CellCentre(0, top + 1));
    QMouseEvent above(QEvent::MouseMove, QPoint(Memo.TextLeft(), -2),
                      View()->mapToGlobal(QPoint(Memo.TextLeft(), -2)), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(View(), &above);
    QTest::mouseRelease(View(), Qt::LeftButton, {}, QPoint(Memo.TextLeft(), -2));
    EXPECT_EQ(Memo.Model().TopLine(), top - 1);
    EXPECT_EQ(Memo.Model().SelEnd(), (TMemoPos{0, top - 1}));
    // Keys keep the caret in view.
    QTest::keyClick(&Memo, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(Memo.Model().CaretY(), 99);
    EXPECT_GE(Memo.Model().TopLine() + Memo.Model().VisibleLines(), 100);
}

TEST_F(TCodeMemoFixture, ContextMenuEntriesFollowSelectionAndClipboard) {
    Memo.SetText("alpha beta\r\n");
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(View(), Qt::RightButton, {}, CellCentre(1, 0));
    QMenu* menu = Memo.ContextMenu();
    ASSERT_TRUE(menu->isVisible());
    QStringList texts;
    for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(texts,
              (QStringList{"Copy\tCtrl-C", "Cut\tCtrl-X", "Paste\tCtrl-V", "-", "Select All\tCtrl-A"}));
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
    menu->actions()[4]->trigger();
    menu->hide();
    EXPECT_EQ(Memo.Model().SelText(), "alpha beta");
    QTest::mouseClick(View(), Qt::RightButton, {}, CellCentre(1, 0));
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[1]->trigger(); // Cut
    menu->hide();
    EXPECT_EQ(Memo.Text(), "\r\n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("alpha beta"));
    // A right-click in the gutter opens nothing.
    QTest::mouseClick(View(), Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(TCodeMemoFixture, CompletionListAndHintWindows) {
    TSQLMemoStyler sql;
    Memo.SetSyntaxStyles(&sql);
    QTest::keyClicks(&Memo, "sel");
    QTest::keyClick(&Memo, Qt::Key_Space, Qt::ControlModifier);
    TCompletionForm* form = Memo.CompletionForm();
    ASSERT_TRUE(form->isVisible());
    EXPECT_EQ(form->ListBox()->count(), 1);
    EXPECT_GE(form->width(), 200);
    EXPECT_EQ(form->height(), 100);
    // The list sits below the caret line at the caret column.
    QPoint expected = Memo.viewport()->mapToGlobal(Memo.CellToPoint({3, 1}));
    EXPECT_EQ(form->pos(), expected);
    QTest::keyClick(&Memo, Qt::Key_Return);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(Line(0), "SELECT");

    TPascalMemoStyler pas;
    Memo.SetSyntaxStyles(&pas);
    Memo.SetText("");
    QTest::keyClicks(&Memo, "ShowMessage(");
    TParamHintForm* hint = Memo.HintForm();
    ASSERT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->Hint().Text, "const Msg: string");
    QTest::keyClick(&Memo, Qt::Key_Escape);
    EXPECT_FALSE(hint->isVisible());
}

TEST_F(TCodeMemoFixture, KeywordPixelsGutterAndSelectionColours) {
    TPascalMemoStyler pas;
    Memo.SetSyntaxStyles(&pas);
    Memo.SetText("begin\r\n");
    Memo.Model().SetCaret(5, 1);
    QImage shot = Memo.viewport()->grab().toImage();
    // Some pixel in the cells of "begin" takes the keyword colour (green).
    bool green = false;
    QPoint cell = Memo.CellToPoint({0, 0});
    for (int x = cell.x(); x < cell.x() + 5 * Memo.CharWidth(); ++x)
        for (int y = 0; y < Memo.LineHeight(); ++y)
            green |= shot.pixelColor(x, y) == QColor(0x00, 0x80, 0x00);
    EXPECT_TRUE(green);
    EXPECT_EQ(shot.pixelColor(2, Memo.LineHeight() * 3), Memo.GutterColor);
    // Selection colours only while focused.
    Memo.Model().SelectAll();
    Memo.viewport()->repaint();
    shot = Memo.viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(cell + QPoint(1, 1)), QColor(0x00, 0x00, 0x80));
    Memo.clearFocus();
    shot = Memo.viewport()->grab().toImage();
    EXPECT_NE(shot.pixelColor(cell + QPoint(1, 1)), QColor(0x00, 0x00, 0x80));
}

namespace {
// Collects the areas the viewport repaints.
struct TPaintSpy : QObject {
    QRegion Painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) Painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};
} // namespace

TEST_F(TCodeMemoFixture, AKeystrokeRepaintsWhatItChangesAndNoMore) {
    TSQLMemoStyler sql;
    Memo.SetSyntaxStyles(&sql);
    Memo.SetText("select a\r\nfrom b\r\nwhere c\r\norder by d\r\n");
    QTest::mouseClick(View(), Qt::LeftButton, {}, CellCentre(6, 1));
    QApplication::processEvents();
    TPaintSpy spy;
    View()->installEventFilter(&spy);
    const int h = Memo.LineHeight();
    QTest::keyClick(&Memo, Qt::Key_X);
    QApplication::processEvents();
    EXPECT_TRUE(spy.Painted.contains(QRect(TextLeftPoint().x(), h + 1, 10, h - 2)));
    EXPECT_FALSE(spy.Painted.intersects(QRect(TextLeftPoint().x(), 2 * h + 1, 10, 3 * h)));
    // Opening a comment changes the colouring of every line below: they are repainted too.
    spy.Painted = {};
    QTest::keyClick(&Memo, Qt::Key_Slash);
    QTest::keyClick(&Memo, Qt::Key_Asterisk);
    QApplication::processEvents();
    EXPECT_TRUE(spy.Painted.contains(QRect(TextLeftPoint().x(), 3 * h + 1, 10, h - 2)));
    View()->removeEventFilter(&spy);
}

TEST_F(TCodeMemoFixture, FontMustBeFixedPitchAndLoadErrorsCarryThePath) {
    QFont before = Memo.MemoFont();
    QFont proportional(QStringLiteral("DejaVu Sans"));
    proportional.setPixelSize(13);
    try {
        Memo.SetMemoFont(proportional);
        FAIL() << "a proportional font was accepted";
    } catch (const EVarnelloError& e) {
        EXPECT_STREQ(e.what(), "Monospace font required");
    }
    EXPECT_EQ(Memo.MemoFont(), before);
    try {
        Memo.LoadLines("/nonexistent/x.html");
        FAIL();
    } catch (const EVarnelloError& e) {
        EXPECT_STREQ(e.what(), "Cannot open file /nonexistent/x.html");
    }
}

TEST(CodeMemoWidget, CollapsedToTwoPixelsItStillWorks) {
    TCodeMemo memo;
    memo.resize(300, 2);
    memo.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&memo));
    memo.SetText("one\r\ntwo\r\n");
    QTest::keyClick(&memo, Qt::Key_Down);
    QTest::keyClicks(&memo, "x");
    QImage shot = memo.grab().toImage();
    EXPECT_FALSE(shot.isNull());
    EXPECT_EQ(memo.Lines()[1], "xtwo");
    EXPECT_EQ(memo.Model().TopLine(), 1); // the one visible row follows the caret
}

TEST_F(TCodeMemoFixture, ScreenReadersReadTheTextCaretAndSelection) {
    Memo.SetText("ab\tc\r\n\xC3\xA9x\r\n");
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(&Memo);
    ASSERT_NE(acc, nullptr);
    QAccessibleTextInterface* text = acc->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(acc->text(QAccessible::Name), "Code editor");
    EXPECT_EQ(acc->role(), QAccessible::EditableText);
    EXPECT_TRUE(acc->state().multiLine);
    EXPECT_EQ(text->characterCount(), 7);
    EXPECT_EQ(text->text(0, 7), QString::fromUtf8("ab\tc\n\xC3\xA9x"));
    EXPECT_EQ(acc->text(QAccessible::Value), QString::fromUtf8("ab\tc\n\xC3\xA9x"));

    // The caret as the keys move it.
    QTest::keyClick(&Memo, Qt::Key_Down);
    QTest::keyClick(&Memo, Qt::Key_Right);
    EXPECT_EQ(text->cursorPosition(), 6);
    QTest::keyClick(&Memo, Qt::Key_Right);
    EXPECT_EQ(text->cursorPosition(), 7);
    int start = -1, end = -1;
    EXPECT_EQ(text->textAtOffset(6, QAccessible::LineBoundary, &start, &end), QString::fromUtf8("\xC3\xA9x"));
    EXPECT_EQ(start, 5);

    // Selecting with Shift shows as the selection; setting one moves the editor's.
    QTest::keyClick(&Memo, Qt::Key_Home);
    QTest::keyClick(&Memo, Qt::Key_Up, Qt::ShiftModifier);
    ASSERT_EQ(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 5);
    text->setSelection(0, 1, 3);
    EXPECT_EQ(Memo.Model().SelText(), "b\t");
    text->setCursorPosition(3);
    EXPECT_EQ(Memo.Model().Caret(), (TMemoPos{3, 0}));
    EXPECT_EQ(text->selectionCount(), 0);

    // Geometry: the TAB is four cells wide, and a point finds its character.
    const QRect tab = text->characterRect(2);
    EXPECT_EQ(tab.width(), 4 * Memo.CharWidth());
    EXPECT_EQ(text->offsetAtPoint(text->characterRect(3).center()), 3);
}
