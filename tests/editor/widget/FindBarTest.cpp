// The find bar driven with real keys: opening, incremental search, F3 / Shift+F3 with wrapping,
// a bad expression, replace and replace-all, go-to-line, and Escape handing the focus back.
#include "editor/widget/FindBar.h"

#include "editor/widget/CodeMemo.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

struct TFindBarFixture : ::testing::Test {
    QWidget Page;
    TCodeMemo* Memo = nullptr;
    TFindBar* Bar = nullptr;
    void SetUp() override {
        auto* layout = new QVBoxLayout(&Page);
        Memo = new TCodeMemo(&Page);
        Bar = new TFindBar(Memo, &Page, &Page);
        layout->addWidget(Memo);
        layout->addWidget(Bar);
        Page.resize(700, 400);
        Page.show();
        QApplication::setActiveWindow(&Page);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Page));
        Memo->SetText("alpha beta\r\nBeta gamma\r\nbetamax beta\r\n");
        Memo->Model().SetModified(false);
        Memo->setFocus();
    }
    std::string Sel() { return Memo->Model().SelText(); }
    TMemoPos SelStart() { return Memo->Model().SelStart(); }
};

} // namespace

TEST_F(TFindBarFixture, CtrlFSearchesAsYouTypeAndF3WrapsWithANote) {
    QTest::keyClick(Memo, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(Bar->isVisible());
    EXPECT_TRUE(Bar->FindEdit->hasFocus());
    QTest::keyClicks(Bar->FindEdit, "bet");
    EXPECT_EQ(SelStart(), (TMemoPos{6, 0}));
    EXPECT_EQ(Bar->StatusText(), "4 matches");
    QTest::keyClicks(Bar->FindEdit, "a ");
    EXPECT_EQ(Bar->StatusText(), "1 match"); // "Beta gamma": case is ignored by default
    EXPECT_EQ(SelStart(), (TMemoPos{0, 1}));
    QTest::keyClick(Bar->FindEdit, Qt::Key_Backspace);
    // Whole word and match case narrow it down: the first line's "beta" and the last line's.
    QTest::mouseClick(Bar->WholeWord, Qt::LeftButton);
    QTest::mouseClick(Bar->MatchCase, Qt::LeftButton);
    Bar->FindEdit->setFocus();
    QTest::keyClick(Bar->FindEdit, Qt::Key_F3);
    EXPECT_EQ(SelStart(), (TMemoPos{8, 2}));
    QTest::keyClick(Bar->FindEdit, Qt::Key_F3);
    EXPECT_EQ(SelStart(), (TMemoPos{6, 0}));
    EXPECT_NE(Bar->StatusText().indexOf("continued from the top"), -1) << Bar->StatusText().toStdString();
    QTest::keyClick(Bar->FindEdit, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(SelStart(), (TMemoPos{8, 2}));
    EXPECT_NE(Bar->StatusText().indexOf("continued from the end"), -1);
    // The matches are tinted on screen.
    const QImage shot = Memo->viewport()->grab().toImage();
    const QPoint inMatch = Memo->CellToPoint({6, 0}) + QPoint(Memo->CharWidth() / 2, 1);
    const QPoint outside = Memo->CellToPoint({2, 1}) + QPoint(Memo->CharWidth() / 2, 1);
    EXPECT_NE(shot.pixelColor(inMatch), shot.pixelColor(outside));
    // Escape closes the bar and the editor has the focus again; F3 from the editor still works.
    QTest::keyClick(Bar->FindEdit, Qt::Key_Escape);
    EXPECT_FALSE(Bar->isVisible());
    EXPECT_TRUE(Memo->hasFocus());
    Memo->Model().ClearSelection();
    Memo->Model().SetCaret(0, 1);
    QTest::keyClick(Memo, Qt::Key_F3);
    EXPECT_EQ(SelStart(), (TMemoPos{8, 2}));
}

TEST_F(TFindBarFixture, ABadExpressionShowsItsErrorAndFindsNothing) {
    QTest::keyClick(Memo, Qt::Key_F, Qt::ControlModifier);
    QTest::mouseClick(Bar->RegexBox, Qt::LeftButton);
    Bar->FindEdit->setFocus();
    QTest::keyClicks(Bar->FindEdit, "be(t");
    EXPECT_NE(Bar->StatusText().indexOf("Invalid regular expression"), -1) << Bar->StatusText().toStdString();
    EXPECT_FALSE(Bar->Search().Valid());
    QTest::keyClicks(Bar->FindEdit, ")a");
    EXPECT_TRUE(Bar->Search().Valid());
    EXPECT_EQ(Bar->StatusText(), "4 matches");
}

TEST_F(TFindBarFixture, CtrlHReplacesOneOrAllAsOneUndoStep) {
    QTest::keyClick(Memo, Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(Bar->ReplaceEdit->isVisible());
    QTest::mouseClick(Bar->RegexBox, Qt::LeftButton);
    Bar->FindEdit->setFocus();
    QTest::keyClicks(Bar->FindEdit, "(b)eta\\b");
    Bar->ReplaceEdit->setFocus();
    QTest::keyClicks(Bar->ReplaceEdit, "[$1]");
    QTest::keyClick(Bar->ReplaceEdit, Qt::Key_Return); // the selected match is replaced
    EXPECT_EQ(Memo->Lines()[0], "alpha [b]");
    EXPECT_EQ(SelStart(), (TMemoPos{0, 1})); // and the next one selected ("Beta": case ignored)
    QTest::mouseClick(Bar->ReplaceAllButton, Qt::LeftButton);
    EXPECT_EQ(Bar->StatusText(), "Replaced 2 occurrences");
    EXPECT_EQ(Memo->Text(), "alpha [b]\r\n[B] gamma\r\nbetamax [b]\r\n");
    EXPECT_TRUE(Memo->Modified());
    Memo->setFocus();
    QTest::keyClick(Memo, Qt::Key_Backspace, Qt::AltModifier); // undo: the whole replace-all at once
    EXPECT_EQ(Memo->Text(), "alpha [b]\r\nBeta gamma\r\nbetamax beta\r\n");
}

TEST_F(TFindBarFixture, CtrlGGoesToALineAndRefusesOneThatIsNotThere) {
    QTest::keyClick(Memo, Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(Bar->LineEdit->isVisible());
    EXPECT_FALSE(Bar->FindEdit->isVisible());
    QTest::keyClicks(Bar->LineEdit, "9");
    QTest::keyClick(Bar->LineEdit, Qt::Key_Return);
    EXPECT_TRUE(Bar->isVisible());
    EXPECT_NE(Bar->StatusText().indexOf("No line 9"), -1);
    QTest::keyClick(Bar->LineEdit, Qt::Key_Backspace);
    QTest::keyClicks(Bar->LineEdit, "3");
    QTest::keyClick(Bar->LineEdit, Qt::Key_Return);
    EXPECT_FALSE(Bar->isVisible());
    EXPECT_EQ(Memo->Model().Caret(), (TMemoPos{0, 2}));
    EXPECT_TRUE(Memo->hasFocus());
}
