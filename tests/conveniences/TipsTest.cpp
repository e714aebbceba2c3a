// Tip of the day: wrapping, the start-up flag, reuse of the open window, literal ampersands.
#include "conveniences/Tips.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

TEST(Tips, NextWrapsFromLastToFirst) {
    TTips tips;
    tips.SetTips({"one", "two", "three"});
    int nextEvents = 0;
    tips.OnNextTip = [&](QObject* sender) {
        EXPECT_EQ(sender, &tips);
        ++nextEvents;
    };
    tips.SetCurrentTip(2);
    tips.ShowTipWindow();
    ASSERT_NE(tips.Window(), nullptr);
    EXPECT_EQ(tips.Window()->TipLabel->text(), "three");
    QTest::mouseClick(tips.Window()->NextButton, Qt::LeftButton);
    EXPECT_EQ(tips.CurrentTip(), 0);
    EXPECT_EQ(tips.Window()->TipLabel->text(), "one");
    EXPECT_EQ(nextEvents, 1);
}

TEST(Tips, CheckBoxChangesOnlyThisRunAndCloseFreesWindow) {
    TTips tips;
    tips.SetTips({"a & b"});
    tips.SetCurrentTip(0);
    tips.ShowTipWindow();
    TTipDialog* first = tips.Window();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->CheckBox->isChecked());
    // "&" shows as itself, not as a mnemonic.
    EXPECT_EQ(first->TipLabel->textFormat(), Qt::PlainText);
    EXPECT_EQ(first->TipLabel->text(), "a & b");

    QTest::mouseClick(first->CheckBox, Qt::LeftButton);
    EXPECT_FALSE(tips.ShowOnStartup);

    bool closed = false;
    tips.OnCloseDialog = [&](QObject*) { closed = true; };
    QTest::mouseClick(first->CloseButton, Qt::LeftButton);
    EXPECT_TRUE(closed);
    EXPECT_EQ(tips.Window(), nullptr);

    // A fresh component starts with the configured value again.
    TTips next;
    EXPECT_TRUE(next.ShowOnStartup);
}

TEST(Tips, ShowingAgainReusesTheOpenWindowWithTheNewTip) {
    TTips tips;
    tips.SetTips({"one", "two"});
    tips.SetCurrentTip(0);
    tips.ShowTipWindow();
    TTipDialog* window = tips.Window();
    tips.SetCurrentTip(1);
    tips.ShowTipWindow();
    EXPECT_EQ(tips.Window(), window);
    EXPECT_EQ(window->TipLabel->text(), "two");

    // A negative index shows an empty text; a shorter list clamps the index.
    tips.SetCurrentTip(-1);
    EXPECT_EQ(window->TipLabel->text(), "");
    tips.SetCurrentTip(1);
    tips.SetTips({"only"});
    EXPECT_EQ(tips.CurrentTip(), 0);
}
