// Window settings: position, state and control values through a temporary settings file.
#include "settings/FormSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct TTestWindow {
    QWidget Window;
    QLineEdit* Edit;
    QCheckBox* Check;
    QComboBox* Combo;
    QComboBox* Skipped;
    TFormSettings* Settings;

    TTestWindow() {
        Window.setObjectName("FormMain");
        Edit = new QLineEdit("designed", &Window);
        Edit->setObjectName("FTPEdit");
        Check = new QCheckBox(&Window);
        Check->setObjectName("CBSSH1");
        Combo = new QComboBox(&Window);
        Combo->setObjectName("ComboBoxShortcuts");
        Combo->addItems({"PHP", "HTML", "Pascal"});
        Skipped = new QComboBox(&Window);
        Skipped->setObjectName("DriveComboBox1");
        Skipped->addItems({"/", "/mnt"});
        Skipped->setProperty(TFormSettings::kSkipProperty, true);
        Settings = new TFormSettings(&Window);
        Settings->SaveValues = true;
        Settings->LoadValues = true;
        Window.setGeometry(100, 120, 500, 400);
    }
};

class FormSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setApplicationName("Varnello");
        TFormSettings::StorageFile = Dir.filePath("settings.ini");
    }
    void TearDown() override { TFormSettings::StorageFile.clear(); }
    QSettings Store() { return QSettings(TFormSettings::StorageFile, QSettings::IniFormat); }
    QTemporaryDir Dir;
};

} // namespace

TEST_F(FormSettingsTest, KeyPathAndTextValues) {
    TTestWindow w;
    EXPECT_EQ(w.Settings->GetKeyName(), "Software/Varnello/FormMain");
    w.Edit->setText("ftp.example.net");
    w.Check->setChecked(true);
    w.Combo->setCurrentIndex(2);
    w.Settings->SaveSettings();

    QSettings s = Store();
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Values/FTPEdit").toString(), "ftp.example.net");
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Values/CBSSH1").toString(), "1");
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Values/ComboBoxShortcuts").toString(), "2");
    EXPECT_FALSE(s.contains("Software/Varnello/FormMain/Values/DriveComboBox1"));
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Position/Width").toString(), "500");
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Position/WindowState").toString(), "NORMAL");
}

TEST_F(FormSettingsTest, RoundTripRestoresBoundsAndValues) {
    {
        TTestWindow w;
        w.Window.setGeometry(40, 50, 640, 480);
        w.Edit->setText("host.example");
        w.Check->setChecked(true);
        w.Combo->setCurrentIndex(1);
        w.Settings->SaveSettings();
    }
    TTestWindow w;
    w.Settings->LoadSettings();
    EXPECT_EQ(w.Window.width(), 640);
    EXPECT_EQ(w.Window.height(), 480);
    EXPECT_EQ(w.Edit->text(), "host.example");
    EXPECT_TRUE(w.Check->isChecked());
    EXPECT_EQ(w.Combo->currentIndex(), 1);
}

TEST_F(FormSettingsTest, FirstStartKeepsDesignedValues) {
    TTestWindow w;
    w.Settings->LoadSettings();
    EXPECT_EQ(w.Edit->text(), "designed");
    EXPECT_FALSE(w.Check->isChecked());
    EXPECT_EQ(w.Window.width(), 500);
}

TEST_F(FormSettingsTest, MaximizedStateInAnyCaseAndLastNormalBounds) {
    {
        QSettings s = Store();
        s.setValue("Software/Varnello/FormMain/Position/WindowState", "maXimized");
    }
    TTestWindow w;
    w.Settings->LoadSettings();
    EXPECT_TRUE(w.Window.windowState() & Qt::WindowMaximized);

    // Saving while maximized keeps the stored normal bounds and records the state.
    {
        QSettings s = Store();
        s.setValue("Software/Varnello/FormMain/Position/Width", "321");
    }
    w.Settings->SaveSettings();
    QSettings s = Store();
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Position/Width").toString(), "321");
    EXPECT_EQ(s.value("Software/Varnello/FormMain/Position/WindowState").toString(), "MAXIMIZED");

    EXPECT_EQ(TFormSettings::StrToWindowState("Anything"), Qt::WindowNoState);
    EXPECT_EQ(TFormSettings::StrToWindowState("minimized"), Qt::WindowMinimized);
}

TEST_F(FormSettingsTest, BadNumbersLeaveControlsAsDesigned) {
    {
        QSettings s = Store();
        s.setValue("Software/Varnello/FormMain/Values/CBSSH1", "abc");
        s.setValue("Software/Varnello/FormMain/Values/ComboBoxShortcuts", "x1");
        s.setValue("Software/Varnello/FormMain/Position/Left", "wide");
    }
    TTestWindow w;
    const int left = w.Window.x();
    w.Settings->LoadSettings();
    EXPECT_FALSE(w.Check->isChecked());
    EXPECT_EQ(w.Combo->currentIndex(), 0);
    EXPECT_EQ(w.Window.x(), left);
    {
        QSettings s = Store();
        s.setValue("Software/Varnello/FormMain/Values/CBSSH1", "2");
    }
    w.Settings->LoadSettings();
    EXPECT_TRUE(w.Check->isChecked());
}

TEST_F(FormSettingsTest, ControlsOfTheWindowsOwnDialogsAreNotKept) {
    TTestWindow w;
    auto* help = new QDialog(&w.Window);
    help->setObjectName("HelpWindow");
    auto* browser = new QTextBrowser(help);
    browser->setObjectName("HelpBrowser");
    browser->setPlainText("the whole help text");
    auto* field = new QLineEdit("in a dialog", help);
    field->setObjectName("DialogEdit");
    w.Settings->SaveSettings();
    QSettings s = Store();
    s.beginGroup("Software/Varnello/FormMain/Values");
    EXPECT_EQ(s.childKeys(), (QStringList{"CBSSH1", "ComboBoxShortcuts", "FTPEdit"}));

    // Nor are they restored from values written before.
    s.setValue("HelpBrowser", "stale");
    s.setValue("DialogEdit", "stale");
    s.sync();
    w.Settings->LoadSettings();
    EXPECT_EQ(browser->toPlainText(), "the whole help text");
    EXPECT_EQ(field->text(), "in a dialog");
}
