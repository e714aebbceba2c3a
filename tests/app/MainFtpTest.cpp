// The main window driven offscreen: button rule, list order and sizes, local navigation,
// trash delete, settings round trip, close query and the error guard.
#include "app/MainFtp.h"
#include "TestPrompts.h"
#include "VarnelloError.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "conveniences/Tips.h"
#include "settings/FormSettings.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

void WriteFile(const QString& path, const std::string& content) {
    std::ofstream(path.toStdString(), std::ios::binary) << content;
}

class MainFtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setApplicationName("Varnello");
        ASSERT_TRUE(Home.isValid());
        TFormSettings::StorageFile = Home.filePath("settings.ini");
        qputenv("XDG_DATA_HOME", Home.filePath("data").toUtf8());
    }
    void TearDown() override {
        TFormSettings::StorageFile.clear();
        qunsetenv("XDG_DATA_HOME");
    }

    std::unique_ptr<TFormMain> MakeWindow() {
        auto prompts = std::make_unique<TTestPrompts>(Home.filePath("recent.INI"));
        prompts->OnAsk = [this](TDialogRequest& r) {
            Requests.push_back(r);
            return Answer;
        };
        auto w = std::make_unique<TFormMain>(nullptr, std::move(prompts));
        w->Tips1->ShowOnStartup = false;
        return w;
    }

    QStringList Captions(const TFileList* list) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
        return out;
    }

    QTreeWidgetItem* Item(const TFileList* list, const QString& caption) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == caption) return list->topLevelItem(i);
        return nullptr;
    }

    void DoubleClick(TFileList* list, const QString& caption) {
        QTreeWidgetItem* item = Item(list, caption);
        ASSERT_NE(item, nullptr) << caption.toStdString();
        const QPoint pos = list->visualItemRect(item).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, pos);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, pos);
    }

    QTemporaryDir Home;
    std::vector<TDialogRequest> Requests;
    int Answer = 1;
};

} // namespace

TEST_F(MainFtpTest, ErrorGuardShowsMessageWithPeriodRule) {
    EXPECT_EQ(ErrorDisplayText("Cannot connect"), "Cannot connect.");
    EXPECT_EQ(ErrorDisplayText("Done."), "Done.");
    EXPECT_EQ(ErrorDisplayText("Failed!"), "Failed!");
    EXPECT_EQ(ErrorDisplayText("code (12029)"), "code (12029)");
    EXPECT_EQ(ErrorDisplayText("port 21"), "port 21.");
    EXPECT_EQ(ErrorDisplayText(""), "");

    auto w = MakeWindow();
    bool after = false;
    w->RunCommand([&] {
        throw EVarnelloError("Unable to find the host");
        after = true;
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Title, "Varnello");
    EXPECT_EQ(Requests[0].Text, "Unable to find the host.");
    EXPECT_EQ(Requests[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Requests[0].Buttons, QStringList{"OK"});
}

TEST_F(MainFtpTest, StartUpStateAndButtonRule) {
    auto w = MakeWindow();
    w->show();
    EXPECT_EQ(w->windowTitle(), "Varnello v1.2");
    EXPECT_EQ(w->PageControlMain->currentIndex(), 0);
    EXPECT_EQ(w->PageControlMain->tabText(0), "FTP");
    EXPECT_EQ(w->PageControlMain->tabText(1), "Editor");
    ASSERT_NE(w->FTransferQueue, nullptr);
    EXPECT_EQ(w->LogonEdit->text(), "Anonymous");
    EXPECT_EQ(w->PassEdit->text(), "tarnwick");
    EXPECT_EQ(w->PassEdit->echoMode(), QLineEdit::Password);

    // Not connected: only Connect is enabled, and selecting entries changes nothing.
    EXPECT_TRUE(w->ConnectBut->isEnabled());
    EXPECT_FALSE(w->DisconBut->isEnabled());
    w->LocalList->selectAll();
    EXPECT_FALSE(w->SendBut->isEnabled());
    EXPECT_FALSE(w->GetBut->isEnabled());

    int dummy = 0;
    w->FConnection = &dummy;
    w->UpdateButtons();
    EXPECT_FALSE(w->ConnectBut->isEnabled());
    EXPECT_TRUE(w->DisconBut->isEnabled());
    EXPECT_TRUE(w->SendBut->isEnabled());
    EXPECT_FALSE(w->GetBut->isEnabled()); // nothing selected on the server side
    w->LocalList->clearSelection();
    EXPECT_FALSE(w->SendBut->isEnabled());
    w->FConnection = nullptr;
    w->UpdateButtons();
}

TEST_F(MainFtpTest, StatusPanelsKeepTheirTexts) {
    auto w = MakeWindow();
    w->SetStatus(1, "File: a.txt  (3 to go)");
    w->SetStatus(0, "Receiving File");
    w->SetStatus(0, "a.txt  1,024 bytes");
    EXPECT_EQ(w->StatusText(0), "a.txt  1,024 bytes");
    EXPECT_EQ(w->StatusText(1), "File: a.txt  (3 to go)");
}

TEST_F(MainFtpTest, ListsFoldersFirstCaseInsensitiveWithWholeSizes) {
    QTemporaryDir dir;
    WriteFile(dir.filePath("b.txt"), "bb");
    WriteFile(dir.filePath("A.txt"), std::string(1234, 'a'));
    QDir(dir.path()).mkdir("zeta");
    QDir(dir.path()).mkdir("Alpha");
    const QString big = dir.filePath("huge.iso");
    WriteFile(big, "");
    ASSERT_EQ(truncate(big.toStdString().c_str(), static_cast<off_t>(5ULL << 30)), 0);

    auto w = MakeWindow();
    w->FLocalDir = dir.path().toStdString();
    w->ListLocalDirectory();
    EXPECT_EQ(Captions(w->LocalList), (QStringList{"..", "Alpha", "zeta", "A.txt", "b.txt", "huge.iso"}));
    EXPECT_EQ(w->LocalTopPanel->title(), "Local Dir: " + dir.path());
    EXPECT_TRUE(IsFolderItem(Item(w->LocalList, "..")));
    EXPECT_EQ(Item(w->LocalList, "Alpha")->text(1), "");
    EXPECT_EQ(Item(w->LocalList, "A.txt")->text(1),
              QLocale().language() == QLocale::C ? "1,234" : QLocale().toString(1234));
    // A 5 GiB file shows its whole size, not the low 32 bits.
    EXPECT_EQ(Item(w->LocalList, "huge.iso")->text(1),
              QLocale().language() == QLocale::C ? "5,368,709,120" : QLocale().toString(5368709120ULL));
    EXPECT_FALSE(Item(w->LocalList, "b.txt")->text(2).isEmpty());
}

TEST_F(MainFtpTest, TimeTextLeavesOutMidnight) {
    const QDateTime midnight(QDate(2024, 3, 5), QTime(0, 0), Qt::LocalTime);
    const QDateTime afternoon(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::LocalTime);
    const auto ft = [](const QDateTime& t) { return UnixTimeToFileTime(t.toSecsSinceEpoch()); };
    const QString dateOnly = FormatTimeText(ft(midnight));
    const QString withTime = FormatTimeText(ft(afternoon));
    EXPECT_FALSE(dateOnly.isEmpty());
    EXPECT_TRUE(withTime.startsWith(dateOnly + " "));
    EXPECT_TRUE(withTime.contains("07"));
    EXPECT_EQ(FormatTimeText(0), "");
}

TEST_F(MainFtpTest, NavigatesByDoubleClickDriveAndChooser) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("site/img");
    WriteFile(dir.filePath("site/index.html"), "<html>");
    auto w = MakeWindow();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->FLocalDir = dir.path().toStdString();
    w->ListLocalDirectory();

    DoubleClick(w->LocalList, "site");
    EXPECT_EQ(w->FLocalDir, dir.filePath("site").toStdString());
    EXPECT_NE(Item(w->LocalList, "index.html"), nullptr);

    // A file is not entered.
    DoubleClick(w->LocalList, "index.html");
    EXPECT_EQ(w->FLocalDir, dir.filePath("site").toStdString());

    DoubleClick(w->LocalList, "..");
    EXPECT_EQ(w->FLocalDir, dir.path().toStdString());

    // The drive selector shows the volume root and leaves the start directory field alone.
    w->LocalDirEdit->setText("kept");
    w->DriveComboBox1->setCurrentIndex(0);
    w->DriveComboBox1Change();
    EXPECT_EQ(w->FLocalDir, "/");
    EXPECT_EQ(w->LocalDirEdit->text(), "kept");
    EXPECT_EQ(Item(w->LocalList, ".."), nullptr);
    DoubleClick(w->LocalList, Captions(w->LocalList).first());
    w->LocalList->clearSelection();
    w->FLocalDir = "/tmp";
    w->ListLocalDirectory();
    DoubleClick(w->LocalList, "..");
    EXPECT_EQ(w->FLocalDir, "/");

    // The chooser (injected here) sets both the folder and the field; cancelling changes nothing.
    auto& prompts = static_cast<TTestPrompts&>(*w->Prompts);
    prompts.OnFolder = [&]() -> std::optional<std::string> { return dir.filePath("site").toStdString(); };
    QTest::mouseClick(w->BrowseBut, Qt::LeftButton);
    EXPECT_EQ(w->FLocalDir, dir.filePath("site").toStdString());
    EXPECT_EQ(w->LocalDirEdit->text(), dir.filePath("site"));
    prompts.OnFolder = []() -> std::optional<std::string> { return std::nullopt; };
    QTest::mouseClick(w->BrowseBut, Qt::LeftButton);
    EXPECT_EQ(w->FLocalDir, dir.filePath("site").toStdString());

    // Double-clicking the field copies the current folder into it.
    w->LocalDirEdit->setText("");
    QTest::mouseDClick(w->LocalDirEdit, Qt::LeftButton);
    EXPECT_EQ(w->LocalDirEdit->text(), dir.filePath("site"));
}

TEST_F(MainFtpTest, DeleteMovesSelectionToTrashButNeverTheParent) {
    QTemporaryDir dir(Home.filePath("work-XXXXXX"));
    QDir(dir.path()).mkpath("cur/old");
    WriteFile(dir.filePath("cur/old/x.txt"), "x");
    WriteFile(dir.filePath("cur/page.html"), "p");
    WriteFile(dir.filePath("cur/keep.txt"), "k");
    auto w = MakeWindow();
    w->FLocalDir = dir.filePath("cur").toStdString();
    w->ListLocalDirectory();
    Item(w->LocalList, "..")->setSelected(true);
    Item(w->LocalList, "old")->setSelected(true);
    Item(w->LocalList, "page.html")->setSelected(true);
    w->LocalDeleteClick();
    EXPECT_TRUE(Requests.empty()); // no question is asked
    EXPECT_TRUE(QDir(dir.filePath("cur")).exists());
    EXPECT_FALSE(QFile::exists(dir.filePath("cur/old")));
    EXPECT_FALSE(QFile::exists(dir.filePath("cur/page.html")));
    EXPECT_TRUE(QFile::exists(dir.filePath("cur/keep.txt")));
    EXPECT_TRUE(QFile::exists(Home.filePath("data/Trash/files/old/x.txt")));
    EXPECT_EQ(Captions(w->LocalList), (QStringList{"..", "keep.txt"}));

    // An entry that cannot be moved (gone since the listing) is reported after the others.
    WriteFile(dir.filePath("cur/gone.txt"), "g");
    WriteFile(dir.filePath("cur/next.txt"), "n");
    w->ListLocalDirectory();
    Item(w->LocalList, "gone.txt")->setSelected(true);
    Item(w->LocalList, "next.txt")->setSelected(true);
    QFile::remove(dir.filePath("cur/gone.txt"));
    w->RunCommand([&] { w->LocalDeleteClick(); });
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Text, "Could not move to the trash: gone.txt.");
    EXPECT_FALSE(QFile::exists(dir.filePath("cur/next.txt")));
    EXPECT_EQ(Captions(w->LocalList), (QStringList{"..", "keep.txt"}));
}

TEST_F(MainFtpTest, SettingsSurviveARestart) {
    QTemporaryDir dir;
    {
        auto w = MakeWindow();
        w->FTPEdit->setText("files.example.net:2121");
        w->LogonEdit->setText("webmaster");
        w->LocalDirEdit->setText(dir.path());
        w->CBSSH2->setChecked(true);
        w->close();
    }
    auto w = MakeWindow();
    EXPECT_EQ(w->FTPEdit->text(), "files.example.net:2121");
    EXPECT_EQ(w->LogonEdit->text(), "webmaster");
    EXPECT_TRUE(w->CBSSH2->isChecked());
    // The start directory is listed at creation and kept when the window first shows.
    EXPECT_EQ(w->FLocalDir, dir.path().toStdString());
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_EQ(w->FLocalDir, dir.path().toStdString());
}

TEST_F(MainFtpTest, CloseAsksOnlyAboutUnsavedDocument) {
    auto w = MakeWindow();
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(Requests.empty());

    auto m = MakeWindow();
    m->show();
    m->FEditModified = true;
    Answer = 2; // "&No"
    EXPECT_FALSE(m->close());
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Text,
              "The document you are editing has not been saved. Are you sure you want to quit?");
    EXPECT_EQ(Requests[0].Buttons, (QStringList{"&Yes", "&No"}));
    EXPECT_TRUE(m->isVisible());
    Answer = 1;
    EXPECT_TRUE(m->close());
}

TEST_F(MainFtpTest, ToolbarOrderHintsAndAccessibleNames) {
    auto w = MakeWindow();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    const QList<QToolButton*> expected{w->BtnOpen,   w->BtnSave, w->BtnSftp, w->ConnectBut,
                                       w->DisconBut, w->GetBut,  w->SendBut, w->ExitBut};
    const QStringList hints{"Open",       "Save",         "Secure FTP...", "Connect with External Host",
                            "Disconnect", "Get Document", "Put Document",  "Exit"};
    int lastX = -1;
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i]->toolTip(), hints[i]);
        EXPECT_EQ(expected[i]->accessibleName(), hints[i]);
        const int x = expected[i]->mapTo(w.get(), QPoint(0, 0)).x();
        EXPECT_GT(x, lastX);
        lastX = x;
    }
    for (QWidget* wd : w->findChildren<QLineEdit*>()) {
        if (!wd->objectName().isEmpty() && !wd->objectName().startsWith("qt_")) {
            EXPECT_FALSE(wd->accessibleName().isEmpty()) << wd->objectName().toStdString();
        }
    }
}

TEST_F(MainFtpTest, ListCommandsHaveMenuBarHomesAndPopupsHaveNames) {
    QTemporaryDir dir(Home.filePath("work-XXXXXX"));
    WriteFile(dir.filePath("old.txt"), "o");
    WriteFile(dir.filePath("keep.txt"), "k");
    auto w = MakeWindow();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));

    QStringList titles;
    for (QAction* a : w->menuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Edit", "&Local", "&Server", "&Queue", "&View", "&Help"}));
    // The menu bar carries the very actions of the pop-up menus, so both run one command.
    EXPECT_TRUE(w->Server1->actions().contains(w->HostDelete));
    EXPECT_TRUE(w->Server1->actions().contains(w->CreateDirectory1));
    EXPECT_TRUE(w->Server1->actions().contains(w->Get1));
    EXPECT_TRUE(w->Local1->actions().contains(w->LocalDelete));
    EXPECT_TRUE(w->Local1->actions().contains(w->Put1));

    // Local > Delete from the keyboard sends the selection to the trash.
    w->FLocalDir = dir.path().toStdString();
    w->ListLocalDirectory();
    for (int i = 0; i < w->LocalList->topLevelItemCount(); ++i)
        w->LocalList->topLevelItem(i)->setSelected(w->LocalList->topLevelItem(i)->text(0) == "old.txt");
    w->Local1->popup(w->mapToGlobal(QPoint(40, 20)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w->Local1));
    QTest::keyClick(w->Local1, Qt::Key_D);
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFile::exists(dir.filePath("old.txt")));
    EXPECT_TRUE(QFile::exists(dir.filePath("keep.txt")));
    EXPECT_TRUE(Requests.empty());

    // Every pop-up menu tells assistive technology whose it is and what its entries are.
    for (QMenu* menu : {w->LocalPopup, w->FTPPopup, w->BtnOpen->menu(), w->BtnSave->menu()}) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(menu);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::PopupMenu);
        EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty()) << menu->objectName().toStdString();
        QStringList names, expected;
        for (int i = 0; i < iface->childCount(); ++i)
            if (iface->child(i)->role() == QAccessible::MenuItem)
                names << iface->child(i)->text(QAccessible::Name);
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) expected << QString(a->text()).remove('&');
        EXPECT_EQ(names, expected) << menu->objectName().toStdString();
        EXPECT_FALSE(names.isEmpty());
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w->LocalPopup)->text(QAccessible::Name),
              "Local files menu");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w->FTPPopup)->text(QAccessible::Name),
              "Server files menu");
}

TEST_F(MainFtpTest, ScreenReaderGetsStatusTextsAndTheDriveSelectorsName) {
    auto w = MakeWindow();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    // A progress line arrives the way the transfer worker hands it over.
    w->SetStatus(1, "File: site.zip  (2 to go)");
    w->TransferStatus(nullptr, "Bytes Received = 65,536");
    QAccessibleInterface* activity = QAccessible::queryAccessibleInterface(w->StatusPanel0);
    QAccessibleInterface* details = QAccessible::queryAccessibleInterface(w->StatusPanel1);
    ASSERT_NE(activity, nullptr);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(activity->text(QAccessible::Name), "Bytes Received = 65,536");
    EXPECT_EQ(activity->text(QAccessible::Description), "Activity");
    EXPECT_EQ(details->text(QAccessible::Name), "File: site.zip  (2 to go)");
    EXPECT_EQ(details->text(QAccessible::Description), "Details");
    w->TransferStatus(nullptr, "Receive Complete  131,072 bytes");
    EXPECT_EQ(activity->text(QAccessible::Name), "Receive Complete  131,072 bytes");

    // The drive selector is called "Drive"; the drive shown is its value.
    QAccessibleInterface* drive = QAccessible::queryAccessibleInterface(w->DriveComboBox1);
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->role(), QAccessible::ComboBox);
    EXPECT_EQ(drive->text(QAccessible::Name), "Drive");
    EXPECT_EQ(drive->text(QAccessible::Value), w->DriveComboBox1->currentText());
    EXPECT_FALSE(drive->text(QAccessible::Value).isEmpty());
    ASSERT_NE(drive->actionInterface(), nullptr);
    EXPECT_TRUE(
        drive->actionInterface()->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
}
