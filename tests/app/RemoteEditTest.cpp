// Editing a server file in place against a real pyftpdlib server on loopback: Edit opens the
// file with its server location, Save uploads the new bytes, a file changed on the server is not
// overwritten unasked, a failed upload keeps the text for a later Save, and quitting with text
// that never reached the server asks first.
#include "../ftp/inet/FtpPeer.h"
#include "TestPrompts.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "conveniences/Tips.h"
#include "editor/widget/CodeMemo.h"
#include "settings/FormSettings.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class RemoteEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir::setCurrent(QDir::tempPath());
        Peer = std::make_unique<TFtpPeer>("passive");
        QApplication::setApplicationName("Varnello");
        TFormSettings::StorageFile = Home.filePath("settings.ini");
        auto prompts = std::make_unique<TTestPrompts>(Home.filePath("recent.INI"));
        prompts->OnAsk = [this](TDialogRequest& r) {
            Requests.push_back(r);
            if (Answers.empty()) return 1;
            const int a = Answers.front();
            Answers.pop_front();
            return a;
        };
        prompts->OnSaveFile = [this](const QString&, const QString&) { return SaveAnswer; };
        Window = std::make_unique<TFormMain>(nullptr, std::move(prompts));
        Window->Tips1->ShowOnStartup = false;
        Window->FTPEdit->setText(QString::fromStdString(Peer->HostField()));
        Window->LogonEdit->setText(TFtpPeer::User);
        Window->PassEdit->setText(TFtpPeer::Password);
        Window->FTPDirEdit->clear();
        Window->LocalDirEdit->setText(QString::fromStdString(Peer->Local()));
        Window->show();
        QApplication::setActiveWindow(Window.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    }
    void TearDown() override {
        QDir::setCurrent(QDir::tempPath());
        Window.reset();
        TFormSettings::StorageFile.clear();
        Peer.reset();
    }

    std::string Root(const std::string& rel) { return Peer->Root() + "/" + rel; }
    std::string Url(const std::string& rel) { return "ftp://" + Peer->HostField() + "/" + rel; }

    void Connect() {
        QTest::mouseClick(Window->ConnectBut, Qt::LeftButton);
        ASSERT_NE(Window->FConnection, nullptr) << LastText();
        ASSERT_TRUE(Requests.empty()) << LastText();
    }
    // Selects the server entry and presses Shift+Enter in the server list.
    void EditByKey(const QString& name) {
        TFileList* list = Window->FTPList;
        list->clearSelection();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == name) {
                list->setCurrentItem(list->topLevelItem(i));
                list->topLevelItem(i)->setSelected(true);
            }
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return, Qt::ShiftModifier);
    }
    void TypeAndSave(const QString& text, bool newLine = false) {
        Window->CodeMemoMain->setFocus();
        Window->CodeMemoMain->Model().SetCaret(0, 0);
        QTest::keyClicks(Window->CodeMemoMain, text);
        if (newLine) QTest::keyClick(Window->CodeMemoMain, Qt::Key_Return);
        QTest::keyClick(Window->CodeMemoMain, Qt::Key_S, Qt::ControlModifier);
    }
    std::string LastText() const { return Requests.empty() ? "" : Requests.back().Text.toStdString(); }

    QTemporaryDir Home;
    std::unique_ptr<TFtpPeer> Peer;
    std::unique_ptr<TFormMain> Window;
    std::vector<TDialogRequest> Requests;
    std::deque<int> Answers;
    std::optional<std::string> SaveAnswer;
};

} // namespace

TEST_F(RemoteEditTest, EditOpensTheServerFileAndSaveUploadsTheNewBytes) {
    TFtpPeer::WriteFile(Root("index.php"), "<?php echo 1; ?>\n");
    Connect();
    EditByKey("index.php");
    ASSERT_TRUE(Requests.empty()) << LastText();
    EXPECT_EQ(Window->PageControlMain->currentIndex(), 1);
    EXPECT_NE(Window->windowTitle().indexOf(QString::fromStdString(Url("index.php"))), -1)
        << Window->windowTitle().toStdString();
    EXPECT_EQ(Window->LabelURL->text().toStdString(), Url("index.php"));
    EXPECT_EQ(Window->CodeMemoMain->Text(), "<?php echo 1; ?>\r\n");
    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->WebMemoStyler1.get());
    // The copy lies in a folder only its owner can enter.
    const std::string local = Window->FRemoteDoc->LocalPath;
    struct stat st {};
    ASSERT_EQ(stat(fs::path(local).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    TypeAndSave("// edited", true);
    ASSERT_TRUE(Requests.empty()) << LastText();
    // The file's own LF line ends are kept on the way back.
    EXPECT_EQ(TFtpPeer::ReadFile(Root("index.php")), "// edited\n<?php echo 1; ?>\n");
    EXPECT_EQ(TFtpPeer::ReadFile(local), "// edited\n<?php echo 1; ?>\n");
    EXPECT_EQ(Window->StatusText(0).toStdString(), "Uploaded " + Url("index.php"));
    EXPECT_FALSE(Window->RemoteDocumentUnsent());
    // A second edit and save goes up as well: the first upload's listing is the new reference.
    TypeAndSave("x");
    EXPECT_TRUE(Requests.empty()) << LastText();
    EXPECT_EQ(TFtpPeer::ReadFile(Root("index.php")), "x// edited\n<?php echo 1; ?>\n");
    // Quitting now asks nothing: everything is on the server.
    Window->close();
    EXPECT_TRUE(Requests.empty()) << LastText();
}

TEST_F(RemoteEditTest, AFileChangedOnTheServerIsNotOverwrittenUnasked) {
    TFtpPeer::WriteFile(Root("page.html"), "<p>one</p>\n");
    Connect();
    EditByKey("page.html");
    ASSERT_TRUE(Window->FRemoteDoc);
    TFtpPeer::WriteFile(Root("page.html"), "<p>someone else's longer text</p>\n");

    Answers = {3}; // Cancel
    TypeAndSave("A");
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_NE(Requests[0].Text.indexOf("has changed on the server"), -1) << LastText();
    EXPECT_EQ(Requests[0].Buttons, (QStringList{"&Overwrite", "Save a &copy...", "Cancel"}));
    EXPECT_EQ(TFtpPeer::ReadFile(Root("page.html")), "<p>someone else's longer text</p>\n");
    EXPECT_EQ(TFtpPeer::ReadFile(Window->FRemoteDoc->LocalPath), "A<p>one</p>\n");
    EXPECT_TRUE(Window->RemoteDocumentUnsent());

    // Save a copy: the text goes to a local file of the user's choice, the server keeps its own.
    const std::string copy = Peer->Local() + "/copy.html";
    SaveAnswer = copy;
    Answers = {2};
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_EQ(TFtpPeer::ReadFile(copy), "A<p>one</p>\n");
    EXPECT_EQ(TFtpPeer::ReadFile(Root("page.html")), "<p>someone else's longer text</p>\n");

    Answers = {1}; // Overwrite
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(Requests.size(), 3u);
    EXPECT_EQ(TFtpPeer::ReadFile(Root("page.html")), "A<p>one</p>\n");
    EXPECT_FALSE(Window->RemoteDocumentUnsent());
}

TEST_F(RemoteEditTest, AFailedUploadKeepsTheTextAndALaterSaveSendsIt) {
    TFtpPeer::WriteFile(Root("a.txt"), "old\n");
    Connect();
    EditByKey("a.txt");
    ASSERT_TRUE(Window->FRemoteDoc);
    // A folder where the file was: the server refuses to store over it.
    fs::remove(Root("a.txt"));
    fs::create_directory(Root("a.txt"));
    Answers = {1, 1}; // overwrite what is (not) there; OK on the error box
    TypeAndSave("new ");
    ASSERT_EQ(Requests.size(), 2u) << LastText();
    EXPECT_NE(Requests[0].Text.indexOf("no longer on the server"), -1) << Requests[0].Text.toStdString();
    EXPECT_NE(Requests[1].Text.indexOf("saved in the local copy"), -1) << LastText();
    EXPECT_NE(Requests[1].Text.indexOf("upload to " + QString::fromStdString(Url("a.txt")) + " failed"), -1)
        << LastText();
    EXPECT_EQ(Window->CodeMemoMain->Text(), "new old\r\n");
    EXPECT_EQ(TFtpPeer::ReadFile(Window->FRemoteDoc->LocalPath), "new old\n");
    EXPECT_TRUE(Window->RemoteDocumentUnsent());

    // Quitting now asks; "No" keeps the window open.
    Answers = {2};
    Window->close();
    ASSERT_EQ(Requests.size(), 3u);
    EXPECT_NE(Requests[2].Text.indexOf("have not been uploaded"), -1) << LastText();
    EXPECT_TRUE(Window->isVisible());

    fs::remove(Root("a.txt"));
    Answers = {1};
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(Requests.size(), 4u) << LastText();
    EXPECT_EQ(TFtpPeer::ReadFile(Root("a.txt")), "new old\n");
    EXPECT_FALSE(Window->RemoteDocumentUnsent());
}

TEST_F(RemoteEditTest, ALostConnectionFailsTheUploadButNotTheText) {
    TFtpPeer::WriteFile(Root("b.txt"), "b\n");
    Connect();
    EditByKey("b.txt");
    ASSERT_TRUE(Window->FRemoteDoc);
    Peer->Kill();
    TypeAndSave("z");
    ASSERT_FALSE(Requests.empty());
    EXPECT_NE(Requests.back().Text.indexOf("saved in the local copy"), -1) << LastText();
    EXPECT_EQ(Window->CodeMemoMain->Text(), "zb\r\n");
    EXPECT_EQ(TFtpPeer::ReadFile(Window->FRemoteDoc->LocalPath), "zb\n");
    EXPECT_TRUE(Window->RemoteDocumentUnsent());
}

TEST_F(RemoteEditTest, BinaryAndOversizedFilesAreRefused) {
    TFtpPeer::WriteFile(Root("logo.png"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    {
        std::ofstream big(Root("big.sql"), std::ios::binary);
        big.seekp((50 << 20) + 1);
        big.put('\n');
    }
    Connect();
    Window->CodeMemoMain->SetText("keep me");
    Window->FEditModified = false;
    EditByKey("logo.png");
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_NE(Requests[0].Text.indexOf("looks like a binary file"), -1) << LastText();
    EditByKey("big.sql");
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_NE(Requests[1].Text.indexOf("larger than 50 MiB"), -1) << LastText();
    EXPECT_EQ(Window->CodeMemoMain->Text(), "keep me\r\n");
    EXPECT_FALSE(Window->FRemoteDoc);
    // Folders and an unconnected window get a reason, not a download.
    Window->DisconButClick();
    EditByKey("logo.png");
    EXPECT_NE(LastText().find("Connect to a server first"), std::string::npos) << LastText();
}
