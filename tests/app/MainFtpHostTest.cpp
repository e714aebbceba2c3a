// The main window's FTP commands against a real pyftpdlib server on loopback: connect and
// listing, navigation, transfers of files and trees both ways, remote delete and create
// directory, failures mid-batch, and the rules for unsafe server names.
#include "../ftp/inet/FtpPeer.h"
#include "../ftp/inet/FtpScriptServer.h"
#include "TestPrompts.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "app/MessageLog.h"
#include "conveniences/Tips.h"
#include "ftp/INetUtil.h"
#include "settings/FormSettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

// The window with its dialogs answered by the test; the peer is up to the derived fixture.
class TWindowFixture {
protected:
    void OpenWindow(const std::string& host, const std::string& localDir) {
        // Put moves the process into the local folder, which a test removes at its end; the
        // server process inherits the current folder and must not start in a removed one.
        QDir::setCurrent(QDir::tempPath());
        QApplication::setApplicationName("Varnello");
        TFormSettings::StorageFile = Home.filePath("settings.ini");
        auto prompts = std::make_unique<TTestPrompts>(Home.filePath("recent.INI"));
        prompts->OnAsk = [this](TDialogRequest& r) {
            // The question for an existing target is kept apart from the messages.
            if (r.CheckBox == "Apply to all files of this batch") {
                OverwriteQuestions.push_back(r);
                r.Checked = OverwriteApplyAll;
                return static_cast<int>(r.Buttons.indexOf(OverwriteAnswer)) + 1;
            }
            if (!r.CheckBox.isEmpty()) r.Checked = SilenceFailures;
            Requests.push_back(r);
            StatusDuringQuestions.push_back(Window->StatusText(0));
            if (r.Text.endsWith("This cannot be undone.")) return DeleteAnswer;
            if (r.Value) ProposedValues.push_back(*r.Value);
            if (r.Kind == TDialogRequest::dkInput && !InputAnswers.empty()) {
                *r.Value = InputAnswers.front();
                InputAnswers.erase(InputAnswers.begin());
                return 1;
            }
            return r.Kind == TDialogRequest::dkInput ? 2 : 1;
        };
        Window = std::make_unique<TFormMain>(nullptr, std::move(prompts));
        Window->Tips1->ShowOnStartup = false;
        Window->FTPEdit->setText(QString::fromStdString(host));
        Window->LogonEdit->setText(TFtpPeer::User);
        Window->PassEdit->setText(TFtpPeer::Password);
        Window->FTPDirEdit->clear();
        Window->LocalDirEdit->setText(QString::fromStdString(localDir));
    }
    void CloseWindow() {
        QDir::setCurrent(QDir::tempPath());
        Window.reset();
        TFormSettings::StorageFile.clear();
    }

    void Connect() {
        QTest::mouseClick(Window->ConnectBut, Qt::LeftButton);
        ASSERT_NE(Window->FConnection, nullptr)
            << (Requests.empty() ? "" : Requests.back().Text.toStdString());
        ASSERT_TRUE(Requests.empty()) << Requests.back().Text.toStdString();
    }

    QStringList Captions(const TFileList* list) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
        return out;
    }
    void Select(TFileList* list, const QStringList& captions) {
        list->clearSelection();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (captions.contains(list->topLevelItem(i)->text(0))) list->topLevelItem(i)->setSelected(true);
    }
    // Runs the event loop until the batch has ended ("Ready" with an empty queue).
    bool WaitForBatch(int ms = 30000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (!Window->TransferRunning() && (Window->PendingTransfers() == 0) &&
                Window->StatusText(0) == "Ready")
                return true;
        }
        ADD_FAILURE() << "batch still running: status \"" << Window->StatusText(0).toStdString() << "\" / \""
                      << Window->StatusText(1).toStdString() << "\", queue " << Window->PendingTransfers()
                      << (Window->TransferRunning() ? ", worker running" : "");
        return false;
    }
    // Regular files of a folder, leaving out hidden ones (a download's kept part).
    static int VisibleFiles(const std::string& folder) {
        int files = 0;
        for (const auto& e : fs::directory_iterator(folder))
            files += e.is_regular_file() && e.path().filename().string()[0] != '.';
        return files;
    }
    QString AllRequests() const {
        QString out;
        for (const TDialogRequest& r : Requests) out += r.Text + "\n";
        return out;
    }

    QTemporaryDir Home;
    std::unique_ptr<TFormMain> Window;
    std::vector<TDialogRequest> Requests;
    std::vector<QString> StatusDuringQuestions; // status panel 0 while each request was up
    // The overwrite question: its requests, the caption of the button pressed and "apply to
    // all"; the failure box's "don't show again".
    std::vector<TDialogRequest> OverwriteQuestions;
    QString OverwriteAnswer = "&Overwrite";
    bool OverwriteApplyAll = false;
    bool SilenceFailures = false;
    int DeleteAnswer = 1; // the server delete question: 1 Delete, 2 Cancel
    std::vector<QString> InputAnswers;
    std::vector<QString> ProposedValues;
};

class MainFtpHostTest : public ::testing::TestWithParam<std::string>, public TWindowFixture {
protected:
    void SetUp() override {
        QDir::setCurrent(QDir::tempPath());
        Peer = std::make_unique<TFtpPeer>(GetParam());
        OpenWindow(Peer->HostField(), Peer->Local());
    }
    void TearDown() override {
        CloseWindow();
        Peer.reset();
    }
    std::string Root(const std::string& rel) { return Peer->Root() + "/" + rel; }
    std::string Local(const std::string& rel) { return Peer->Local() + "/" + rel; }

    std::unique_ptr<TFtpPeer> Peer;
};

// The window against a scripted server, for what pyftpdlib never does.
class MainFtpScriptTest : public ::testing::Test, public TWindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(LocalDir.isValid());
        Server.Listing = [this](const std::string& path, std::vector<TScriptedFtpTree::TEntry>& entries) {
            std::lock_guard<std::mutex> lock(TreeLock);
            auto it = Tree.find(path);
            if (it == Tree.end()) return false;
            entries = it->second;
            return true;
        };
        Server.Content = [this](const std::string& path, std::string& content) {
            std::lock_guard<std::mutex> lock(TreeLock);
            auto it = Files.find(path);
            if (it == Files.end()) return false;
            content = it->second;
            return true;
        };
    }
    void Open() {
        Server.Start();
        OpenWindow(Server.Host(), LocalDir.path().toStdString());
    }
    void TearDown() override { CloseWindow(); }
    std::string Local(const std::string& rel) { return LocalDir.path().toStdString() + "/" + rel; }

    QTemporaryDir LocalDir;
    TScriptedFtpTree Server;
    std::mutex TreeLock;
    std::map<std::string, std::vector<TScriptedFtpTree::TEntry>> Tree{{"/", {}}};
    std::map<std::string, std::string> Files;
};

} // namespace

TEST_P(MainFtpHostTest, ConnectListsWithDotDotAndCounts) {
    fs::create_directories(Root("pub/empty"));
    TFtpPeer::WriteFile(Root("pub/readme.txt"), "hello");
    TFtpPeer::WriteFile(Root("top.txt"), "x");
    Connect();
    EXPECT_EQ(Window->FHostDir, "/");
    EXPECT_EQ(Captions(Window->FTPList), (QStringList{"pub", "top.txt"}));
    EXPECT_EQ(Window->StatusText(0), "Host Ready");
    EXPECT_EQ(Window->StatusText(1), "2 files");
    EXPECT_EQ(Window->FTPTopPanel->title(), "Host Dir: /");
    EXPECT_FALSE(Window->ConnectBut->isEnabled());
    EXPECT_TRUE(Window->DisconBut->isEnabled());
    // The local start directory was listed too.
    EXPECT_EQ(Window->FLocalDir, Peer->Local());

    // Double-click a folder, then the empty one: only ".." and a count of 1.
    Select(Window->FTPList, {"pub"});
    Window->FTPListDblClick();
    EXPECT_EQ(Window->FHostDir, "/pub");
    EXPECT_EQ(Captions(Window->FTPList), (QStringList{"..", "empty", "readme.txt"}));
    EXPECT_EQ(Window->StatusText(1), "3 files");
    EXPECT_EQ(Window->FTPList->topLevelItem(2)->text(1), "5");
    Select(Window->FTPList, {"empty"});
    Window->FTPListDblClick();
    EXPECT_EQ(Captions(Window->FTPList), QStringList{".."});
    EXPECT_EQ(Window->StatusText(1), "1 files");
    Select(Window->FTPList, {".."});
    Window->FTPListDblClick();
    EXPECT_EQ(Window->FHostDir, "/pub");
    // A file is not entered.
    Select(Window->FTPList, {"readme.txt"});
    Window->FTPListDblClick();
    EXPECT_EQ(Window->FHostDir, "/pub");

    // The start directory field takes the server folder on a double-click.
    QTest::mouseDClick(Window->FTPDirEdit, Qt::LeftButton);
    EXPECT_EQ(Window->FTPDirEdit->text(), "/pub");

    QTest::mouseClick(Window->DisconBut, Qt::LeftButton);
    EXPECT_EQ(Window->FConnection, nullptr);
    EXPECT_EQ(Window->StatusText(0), "Closing Connections");
    EXPECT_EQ(Window->FTPList->topLevelItemCount(), 0); // the old listing goes with the connection
    EXPECT_TRUE(Requests.empty());
}

TEST_P(MainFtpHostTest, StartDirectoryAndFailureTexts) {
    fs::create_directories(Root("www"));
    Window->FTPDirEdit->setText("www");
    Connect();
    EXPECT_EQ(Window->FHostDir, "/www");
    EXPECT_EQ(Captions(Window->FTPList), QStringList{".."});

    QTest::mouseClick(Window->DisconBut, Qt::LeftButton);
    Window->PassEdit->setText("wrong");
    QTest::mouseClick(Window->ConnectBut, Qt::LeftButton);
    EXPECT_EQ(Window->FConnection, nullptr);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_TRUE(Requests[0].Text.startsWith("INTERNET_INCORRECT_PASSWORD.\n\n"))
        << Requests[0].Text.toStdString();
    EXPECT_TRUE(Window->ConnectBut->isEnabled());
    EXPECT_EQ(Requests[0].Title, "Varnello");

    // Nobody listens on the port any more: the connect is refused.
    Window->PassEdit->setText(TFtpPeer::Password);
    Peer->Stop();
    QTest::mouseClick(Window->ConnectBut, Qt::LeftButton);
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_TRUE(Requests[1].Text.startsWith("INTERNET_CANNOT_CONNECT.\n\n"))
        << Requests[1].Text.toStdString();
}

TEST_P(MainFtpHostTest, GetFilesAndTreesFilesBeforeSubfolders) {
    fs::create_directories(Root("site/img/icons"));
    TFtpPeer::WriteFile(Root("site/index.html"), "<html>index</html>");
    TFtpPeer::WriteFile(Root("site/.htaccess"), "Deny from all");
    TFtpPeer::WriteFile(Root("site/img/logo.png"), std::string(300000, '\x89'));
    TFtpPeer::WriteFile(Root("site/img/icons/a.ico"), "ico");
    TFtpPeer::WriteFile(Root("notes.txt"), "notes");
    TFtpPeer::WriteFile(Local("notes.txt"), "old local content that is longer");
    Connect();

    Select(Window->FTPList, {"site", "notes.txt"});
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << Requests.front().Text.toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/index.html")), "<html>index</html>");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/.htaccess")), "Deny from all");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/img/logo.png")), std::string(300000, '\x89'));
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/img/icons/a.ico")), "ico");
    // An existing local file is replaced.
    EXPECT_EQ(TFtpPeer::ReadFile(Local("notes.txt")), "notes");
    EXPECT_EQ(Window->StatusText(1), "");
    // The server is back in the folder shown, and the local list was refreshed.
    EXPECT_EQ(Window->FHostDir, "/");
    EXPECT_TRUE(Captions(Window->LocalList).contains("site"));
}

TEST_P(MainFtpHostTest, PutTreeCreatesServerFoldersAndKeepsHiddenFiles) {
    fs::create_directories(Local("upload/css"));
    TFtpPeer::WriteFile(Local("upload/page.php"), "<?php echo 1; ?>");
    TFtpPeer::WriteFile(Local("upload/.hidden"), "h");
    TFtpPeer::WriteFile(Local("upload/css/style.css"), "body{}");
    TFtpPeer::WriteFile(Local("single.txt"), std::string(1 << 20, 's'));
    fs::create_directories(Root("dest"));
    Window->FTPDirEdit->setText("/dest");
    Connect();
    Select(Window->LocalList, {"upload", "single.txt", ".."});
    QTest::mouseClick(Window->SendBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << Requests.front().Text.toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Root("dest/upload/page.php")), "<?php echo 1; ?>");
    EXPECT_EQ(TFtpPeer::ReadFile(Root("dest/upload/.hidden")), "h");
    EXPECT_EQ(TFtpPeer::ReadFile(Root("dest/upload/css/style.css")), "body{}");
    EXPECT_EQ(fs::file_size(Root("dest/single.txt")), 1u << 20);
    // The selected ".." took no part: nothing of the parent folder went up.
    EXPECT_FALSE(fs::exists(Root("local")));
    EXPECT_EQ(Window->StatusText(0), "Ready");
}

TEST_P(MainFtpHostTest, DropsTransferTheSelectionOfTheOtherList) {
    TFtpPeer::WriteFile(Root("down.txt"), "down");
    TFtpPeer::WriteFile(Local("up.txt"), "up");
    Connect();
    EXPECT_TRUE(Window->AcceptsDrop(Window->LocalList, Window->FTPList));
    EXPECT_TRUE(Window->AcceptsDrop(Window->FTPList, Window->LocalList));
    EXPECT_FALSE(Window->AcceptsDrop(Window->LocalList, Window->LocalList));
    EXPECT_FALSE(Window->AcceptsDrop(Window->FTPList, Window->FTPList));
    EXPECT_FALSE(Window->AcceptsDrop(Window->FTPList, nullptr));

    Select(Window->FTPList, {"down.txt"});
    Window->ListDrop(Window->LocalList, Window->FTPList);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(TFtpPeer::ReadFile(Local("down.txt")), "down");
    Select(Window->LocalList, {"up.txt"});
    Window->ListDrop(Window->FTPList, Window->LocalList);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(TFtpPeer::ReadFile(Root("up.txt")), "up");
    EXPECT_TRUE(Captions(Window->FTPList).contains("up.txt"));
}

// Files gone from the server between listing and transfer fail one by one; the batch goes on,
// "don't show again" keeps the rest of the batch quiet, and each failed row keeps its reason.
TEST_P(MainFtpHostTest, FailingBatchGoesOnAndItsFailuresCanBeSilenced) {
    for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) TFtpPeer::WriteFile(Root(name), "gone");
    TFtpPeer::WriteFile(Root("ok.txt"), "ok");
    Connect();
    Select(Window->FTPList, {"f1.txt", "f2.txt", "f3.txt", "ok.txt"});
    for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) fs::remove(Root(name));
    SilenceFailures = true;
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u) << "only the first failure is shown";
    // The status line shows the same failure on one line, the server's reply included.
    EXPECT_FALSE(StatusDuringQuestions[0].contains('\n')) << StatusDuringQuestions[0].toStdString();
    EXPECT_TRUE(StatusDuringQuestions[0].startsWith("Win32 Error 12003: 550"))
        << StatusDuringQuestions[0].toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Local("ok.txt")), "ok");
    int failed = 0;
    for (const TQueueItem& i : Window->FTransferQueue->Items())
        if (i.State == TQueueState::Failed) {
            ++failed;
            EXPECT_FALSE(i.Reason.empty());
        }
    EXPECT_EQ(failed, 3);
    // Retried in the same batch, they stay quiet; the server still lacks them.
    Window->QueueRetry();
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Window->FTransferQueue->Totals().FilesFailed, 3u);
}

// An existing local file is asked about; "Skip" applied to all keeps both files and asks once,
// "Rename" writes beside the old file.
TEST_P(MainFtpHostTest, OverwriteQuestionSkipForAllAndRename) {
    TFtpPeer::WriteFile(Root("a.txt"), "server a");
    TFtpPeer::WriteFile(Root("b.txt"), "server b");
    TFtpPeer::WriteFile(Local("a.txt"), "local a");
    TFtpPeer::WriteFile(Local("b.txt"), "local b");
    Connect();
    OverwriteAnswer = "&Skip";
    OverwriteApplyAll = true;
    Select(Window->FTPList, {"a.txt", "b.txt"});
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(OverwriteQuestions.size(), 1u);
    EXPECT_EQ(TFtpPeer::ReadFile(Local("a.txt")), "local a");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("b.txt")), "local b");

    OverwriteAnswer = "Re&name";
    OverwriteApplyAll = false;
    Select(Window->FTPList, {"a.txt"});
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(OverwriteQuestions.size(), 2u) << "a new batch asks again";
    EXPECT_EQ(TFtpPeer::ReadFile(Local("a.txt")), "local a");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("a (1).txt")), "server a");
    EXPECT_TRUE(Requests.empty());
}

TEST_P(MainFtpHostTest, DeleteAndCreateDirectoryWithServerRefusals) {
    fs::create_directories(Root("full/sub"));
    Window->ListHostDirectory();
    fs::create_directories(Root("emptydir"));
    TFtpPeer::WriteFile(Root("a.txt"), "a");
    TFtpPeer::WriteFile(Root("b.txt"), "b");
    Connect();

    // Server files have no trash: the question comes first, and "Cancel" deletes nothing.
    Select(Window->FTPList, {"a.txt", "b.txt", "emptydir"});
    DeleteAnswer = 2;
    Window->HostDeleteClick();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Text, "Delete 3 items from the server? This cannot be undone.");
    EXPECT_TRUE(fs::exists(Root("a.txt")));
    DeleteAnswer = 1;
    Requests.clear();
    Window->HostDeleteClick();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_FALSE(fs::exists(Root("a.txt")));
    EXPECT_FALSE(fs::exists(Root("emptydir")));
    EXPECT_EQ(Captions(Window->FTPList), QStringList{"full"});

    // A folder with content goes with its content, after the question naming it.
    TFtpPeer::WriteFile(Root("full/sub/deep.txt"), "d");
    TFtpPeer::WriteFile(Root("full/top.txt"), "t");
    Requests.clear();
    Select(Window->FTPList, {"full"});
    Window->RunCommand([this] { Window->HostDeleteClick(); });
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Text, "Delete \"full\" from the server? This cannot be undone.");
    EXPECT_FALSE(fs::exists(Root("full")));
    EXPECT_TRUE(Captions(Window->FTPList).isEmpty());
    fs::create_directories(Root("full/sub"));

    // Create Directory asks once per selected entry, proposing "newdir".
    Requests.clear();
    Select(Window->FTPList, {"full"});
    Window->CreateDirectory1Click(); // no answer queued: cancelled
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Title, "Brandle FTP");
    EXPECT_EQ(Requests[0].Text, "Directory Name (case sensitive):");
    EXPECT_EQ(ProposedValues, std::vector<QString>{"newdir"});
    EXPECT_FALSE(fs::exists(Root("newdir")));
    InputAnswers = {"newdir"};
    Window->CreateDirectory1Click();
    EXPECT_TRUE(fs::is_directory(Root("newdir")));
    EXPECT_TRUE(Captions(Window->FTPList).contains("newdir"));
    Requests.clear();
    InputAnswers = {"newdir"};
    Select(Window->FTPList, {"full"});
    Window->RunCommand([this] { Window->CreateDirectory1Click(); });
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_TRUE(Requests[1].Text.startsWith("Win32 Error 12003:")) << Requests[1].Text.toStdString();
}

TEST_P(MainFtpHostTest, FailedFileIsReportedAndTheBatchGoesOn) {
    TFtpPeer::WriteFile(Root("gone.txt"), "soon removed");
    TFtpPeer::WriteFile(Root("stays.txt"), "stays");
    Connect();
    Select(Window->FTPList, {"gone.txt", "stays.txt"});
    fs::remove(Root("gone.txt"));
    Window->GetButClick();
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_TRUE(Requests[0].Text.startsWith("Win32 Error 12003:")) << Requests[0].Text.toStdString();
    // After the server's reply, one sentence on what happened and what to try.
    const QStringList parts = Requests[0].Text.split("\n\n");
    ASSERT_EQ(parts.size(), 2) << Requests[0].Text.toStdString();
    EXPECT_FALSE(parts[1].trimmed().isEmpty());
    EXPECT_EQ(Requests[0].Buttons, QStringList{"OK"});
    EXPECT_FALSE(fs::exists(Local("gone.txt")));
    EXPECT_EQ(TFtpPeer::ReadFile(Local("stays.txt")), "stays");
}

TEST_P(MainFtpHostTest, ServerStoppedMidTransferLeavesNoHalfFile) {
    // A server that sends slowly, so the download is surely still running when it is stopped.
    Peer = std::make_unique<TFtpPeer>(GetParam() + "+slow");
    Window->FTPEdit->setText(QString::fromStdString(Peer->HostField()));
    Window->LocalDirEdit->setText(QString::fromStdString(Peer->Local()));
    const std::string big(16 << 20, 'b');
    TFtpPeer::WriteFile(Root("big.bin"), big);
    TFtpPeer::WriteFile(Local("big.bin"), "previous");
    Connect();
    Select(Window->FTPList, {"big.bin"});
    Window->GetButClick();
    // The worker waits for every progress line, so the server can be stopped between two.
    QElapsedTimer t;
    t.start();
    while (!Window->StatusText(0).startsWith("Bytes Received =") && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(Window->StatusText(0).startsWith("Bytes Received ="));
    Peer->Kill();
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_FALSE(Requests[0].Text.isEmpty());
    // The old file is untouched; what arrived is only the row's hidden part, which goes with
    // the row.
    EXPECT_EQ(TFtpPeer::ReadFile(Local("big.bin")), "previous");
    EXPECT_EQ(VisibleFiles(Peer->Local()), 1);
    const TQueueItem row = Window->FTransferQueue->Items().front();
    ASSERT_FALSE(row.PartialPath.empty());
    EXPECT_EQ(fs::path(row.PartialPath).filename().string().rfind(".big.bin.part-", 0), 0u);
    Window->FTransferQueue->Remove({row.Id});
    EXPECT_FALSE(fs::exists(row.PartialPath));
}

TEST_P(MainFtpHostTest, HugeSizesAndUnsafeNames) {
    const std::string huge = Root("disk.img");
    TFtpPeer::WriteFile(huge, "");
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(5ULL << 30)), 0);
    fs::create_directories(Root("evil"));
    TFtpPeer::WriteFile(Root("evil/..\\..\\escape.txt"), "bad");
    TFtpPeer::WriteFile(Root("evil/fine.txt"), "fine");
    TFtpPeer::WriteFile(Root("a\\b.txt"), "bad");
    Connect();
    ASSERT_EQ(Captions(Window->FTPList), (QStringList{"evil", "disk.img"}));
    EXPECT_EQ(Window->FTPList->topLevelItem(1)->text(1), FormatSizeText(5ULL << 30));
    EXPECT_EQ(Window->StatusText(1), "2 files  (1 unsafe names skipped)");

    Select(Window->FTPList, {"evil"});
    Window->GetButClick();
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(TFtpPeer::ReadFile(Local("evil/fine.txt")), "fine");
    EXPECT_FALSE(fs::exists(Local("evil/..\\..\\escape.txt")));
    EXPECT_EQ(Window->StatusText(1), "1 unsafe names skipped");
}

TEST_P(MainFtpHostTest, ClosingDuringABatchEndsItQuietly) {
    Peer = std::make_unique<TFtpPeer>(GetParam() + "+slow");
    Window->FTPEdit->setText(QString::fromStdString(Peer->HostField()));
    Window->LocalDirEdit->setText(QString::fromStdString(Peer->Local()));
    TFtpPeer::WriteFile(Root("one.bin"), std::string(16 << 20, '1'));
    TFtpPeer::WriteFile(Root("two.bin"), std::string(16 << 20, '2'));
    Connect();
    Window->show();
    Select(Window->FTPList, {"one.bin", "two.bin"});
    Window->GetButClick();
    QElapsedTimer t;
    t.start();
    while (!Window->StatusText(0).startsWith("Bytes Received =") && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(Window->StatusText(0).startsWith("Bytes Received ="));
    t.restart();
    EXPECT_TRUE(Window->close());
    EXPECT_EQ(Window->FConnection, nullptr);
    EXPECT_EQ(Window->StatusText(0), "Closing Connections");
    t.restart();
    while (Window->TransferRunning() && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // The transfer on the wire was aborted, not left to run to its end (4 s at this pace).
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_FALSE(Window->TransferRunning());
    // No message for the aborted file, no second file started, nothing half-written left.
    EXPECT_TRUE(Requests.empty()) << Requests.front().Text.toStdString();
    EXPECT_TRUE((Window->PendingTransfers() == 0));
    EXPECT_FALSE(fs::exists(Local("one.bin")));
    EXPECT_FALSE(fs::exists(Local("two.bin")));
}

INSTANTIATE_TEST_SUITE_P(Modes, MainFtpHostTest, ::testing::Values("active", "no-active"));

// A server that closes the data connection early and still reports success, without SIZE: the
// listing's size shows the download is short; it is reported and the old file stays.
TEST_F(MainFtpScriptTest, TruncatedDownloadFailsAndKeepsTheOldFile) {
    Tree["/"] = {{"page.html", false, 5000}};
    Files["/page.html"] = std::string(1000, 'p');
    Open();
    TFtpPeer::WriteFile(Local("page.html"), "old");
    Connect();
    Select(Window->FTPList, {"page.html"});
    Window->GetButClick();
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    // The error's own text, then the sentence on what happened.
    EXPECT_EQ(Requests[0].Text.section("\n\n", 0, 0), "INTERNET_CONNECTION_ABORTED");
    EXPECT_FALSE(Requests[0].Text.section("\n\n", 1).isEmpty());
    EXPECT_EQ(TFtpPeer::ReadFile(Local("page.html")), "old");
    // What arrived is kept only as the row's hidden part, for a retry to go on from.
    EXPECT_EQ(VisibleFiles(Local("")), 1);
    EXPECT_EQ(Window->FTransferQueue->Items().front().ResumeOffset, 1000u);
    // The size the server answers wins over the listing's.
    Requests.clear();
    Server.SetSizeReply("213 1000\r\n");
    Window->GetButClick();
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << AllRequests().toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Local("page.html")), std::string(1000, 'p'));
}

// Every folder of this server holds a folder "a", listed twice: without a depth cap and a
// visited set the walk would never end (or double at every level).
TEST_F(MainFtpScriptTest, EndlessServerTreeStopsAtTheDepthCap) {
    Tree["/"] = {{"top", true, 0}};
    Server.Listing = [](const std::string& path, std::vector<TScriptedFtpTree::TEntry>& entries) {
        if (path == "/") {
            entries = {{"top", true, 0}};
            return true;
        }
        if (path.rfind("/top", 0) != 0) return false;
        entries = {{"a", true, 0}, {"a", true, 0}};
        return true;
    };
    Open();
    Connect();
    Select(Window->FTPList, {"top"});
    QElapsedTimer t;
    t.start();
    Window->RunCommand([this] { Window->GetButClick(); });
    ASSERT_TRUE(WaitForBatch());
    EXPECT_LT(t.elapsed(), 20000);
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    EXPECT_TRUE(Requests[0].Text.startsWith("Some folders were skipped:\r\n/top/a/a/"))
        << Requests[0].Text.toStdString();
    EXPECT_TRUE(Requests[0].Text.endsWith(": deeper than 64 levels")) << Requests[0].Text.toStdString();
    // One listing per level; the duplicate entry was not walked again.
    EXPECT_EQ(Server.Count("LIST"), 1 + 64); // the root listing, then the walk
    std::string deepest = Local("top");
    int levels = 1;
    while (fs::is_directory(deepest + "/a")) {
        deepest += "/a";
        ++levels;
    }
    EXPECT_EQ(levels, 64);
    EXPECT_EQ(Window->FHostDir, "/");
}

// A folder the server refuses is reported once and skipped; its siblings are still walked and
// nothing is listed in its place.
TEST_F(MainFtpScriptTest, RefusedFolderIsReportedOnceAndSkipped) {
    Tree["/"] = {{"site", true, 0}};
    Tree["/site"] = {{"locked", true, 0}, {"open", true, 0}, {"index.html", false, 2}};
    Tree["/site/open"] = {{"ok.txt", false, 2}};
    Files["/site/index.html"] = "ix";
    Files["/site/open/ok.txt"] = "ok";
    Open();
    Connect();
    Select(Window->FTPList, {"site"});
    Window->RunCommand([this] { Window->GetButClick(); });
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    EXPECT_EQ(Requests[0].Text,
              "Some folders were skipped:\r\n/site/locked: 550 /site/locked: No such folder");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/index.html")), "ix");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/open/ok.txt")), "ok");
    EXPECT_FALSE(fs::exists(Local("site/locked")));
    EXPECT_EQ(Server.Count("LIST"), 3); // the root, /site and /site/open
    EXPECT_EQ(Window->FHostDir, "/");
}

// A slow endless tree: the walk keeps the window alive and its Cancel button ends it with
// nothing queued.
TEST_F(MainFtpScriptTest, WalkCanBeCancelled) {
    Server.Listing = [](const std::string& path, std::vector<TScriptedFtpTree::TEntry>& entries) {
        entries = {{"deep", true, 0}, {"f.txt", false, 1}};
        return path == "/" || path.rfind("/deep", 0) == 0;
    };
    Server.Override = [](TScriptedServer&, const std::string& line) {
        if (line.rfind("LIST", 0) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return false;
    };
    Open();
    Connect();
    Select(Window->FTPList, {"deep"});
    bool clicked = false;
    QTimer::singleShot(900, Window.get(), [&] {
        auto* dialog = Window->findChild<QProgressDialog*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isVisible());
        auto* cancel = dialog->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->accessibleName(), "Cancel");
        QTest::mouseClick(cancel, Qt::LeftButton);
        clicked = true;
    });
    QElapsedTimer t;
    t.start();
    Window->RunCommand([this] { Window->GetButClick(); });
    EXPECT_TRUE(clicked);
    EXPECT_LT(t.elapsed(), 2500);
    EXPECT_LT(Server.Count("LIST"), 1 + 64);
    EXPECT_TRUE(Requests.empty()) << AllRequests().toStdString();
    EXPECT_TRUE((Window->PendingTransfers() == 0));
    EXPECT_EQ(Window->StatusText(0), "Ready");
    EXPECT_EQ(Server.Count("RETR"), 0);
    EXPECT_EQ(Window->findChild<QProgressDialog*>(), nullptr);
}

TEST_F(MainFtpScriptTest, WalkWithTooManyEntriesQueuesNothing) {
    std::vector<TScriptedFtpTree::TEntry> many;
    for (int i = 0; i < 50001; ++i) many.push_back({"f" + std::to_string(i), false, 1});
    Tree["/"] = {{"x", true, 0}, {"y", true, 0}};
    Tree["/x"] = many;
    Tree["/y"] = many;
    Open();
    Connect();
    Select(Window->FTPList, {"x", "y"});
    Window->RunCommand([this] { Window->GetButClick(); });
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    EXPECT_EQ(Requests[0].Text,
              "The selection holds more than 100000 files and folders; nothing was transferred.");
    EXPECT_TRUE((Window->PendingTransfers() == 0));
    EXPECT_FALSE(Window->TransferRunning());
    EXPECT_EQ(Server.Count("RETR"), 0);
}

// A walk that fails midway queues nothing, so the next batch cannot run its entries the other
// way: after the failed Get, a Put with nothing selected uploads nothing.
TEST_F(MainFtpScriptTest, FailedWalkLeavesNothingForTheNextBatch) {
    Tree["/"] = {{"a-good", true, 0}, {"b-bad", true, 0}};
    Tree["/a-good"] = {{"f.txt", false, 3}};
    Tree["/b-bad"] = {};
    Files["/a-good/f.txt"] = "new";
    Server.Override = [](TScriptedServer& s, const std::string& line) {
        if (line != "LIST /b-bad") return false;
        s.Reply("451 Local error in processing\r\n");
        return true;
    };
    Open();
    fs::create_directories(Local("a-good"));
    TFtpPeer::WriteFile(Local("a-good/f.txt"), "old local copy");
    Connect();
    Select(Window->FTPList, {"a-good", "b-bad"});
    Window->RunCommand([this] { Window->GetButClick(); });
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    EXPECT_TRUE(Requests[0].Text.startsWith("Win32 Error 12003:\r\n\r\n451"))
        << Requests[0].Text.toStdString();
    EXPECT_TRUE((Window->PendingTransfers() == 0));
    Window->ListLocalDirectory();
    Window->LocalList->clearSelection();
    Window->RunCommand([this] { Window->PutSelection(); });
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    EXPECT_EQ(Server.Count("STOR"), 0);
    EXPECT_EQ(Server.Count("RETR"), 0);
    EXPECT_EQ(TFtpPeer::ReadFile(Local("a-good/f.txt")), "old local copy");
}

// Uploads do not descend into linked folders (a link to its own folder would repeat the tree),
// upload a link to a file as that file, and leave out the editor's backup copies.
TEST_F(MainFtpScriptTest, UploadWalkSkipsLinkedFoldersAndBackupCopies) {
    Open();
    fs::create_directories(Local("up/sub"));
    TFtpPeer::WriteFile(Local("up/index.php"), "php");
    TFtpPeer::WriteFile(Local("up/index.php_bak"), "backup");
    TFtpPeer::WriteFile(Local("up/alone_bak"), "not a backup: nothing beside it");
    TFtpPeer::WriteFile(Local("up/sub/page.html"), "page");
    TFtpPeer::WriteFile(Local("up/sub/page.html_bak"), "backup");
    fs::create_directory_symlink(".", Local("up/loop"));
    fs::create_directory_symlink(Local("up/sub"), Local("up/sub-again"));
    fs::create_symlink("index.php", Local("up/same.php"));
    Connect();
    Window->ListLocalDirectory();
    Select(Window->LocalList, {"up"});
    Window->RunCommand([this] { Window->SendButClick(); });
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << AllRequests().toStdString();
    std::map<std::string, std::string> stored;
    for (const auto& [path, data] : Server.Stored()) stored[path] += data;
    EXPECT_EQ(stored,
              (std::map<std::string, std::string>{{"/up/index.php", "php"},
                                                  {"/up/alone_bak", "not a backup: nothing beside it"},
                                                  {"/up/same.php", "php"},
                                                  {"/up/sub/page.html", "page"}}));
    EXPECT_EQ(Server.Count("STOR"), 4);
    EXPECT_EQ(Window->StatusText(1), "2 backup copies skipped, 2 linked folders skipped");
}

// Downloads never write through a linked folder inside the local target.
TEST_F(MainFtpScriptTest, DownloadRefusesLinkedLocalFolders) {
    QTemporaryDir outside;
    Tree["/"] = {{"site", true, 0}, {"other", true, 0}};
    Tree["/site"] = {{"img", true, 0}, {"index.html", false, 2}};
    Tree["/site/img"] = {{"logo.png", false, 4}};
    Tree["/other"] = {{"x.txt", false, 1}};
    Files["/site/index.html"] = "ix";
    Files["/site/img/logo.png"] = "logo";
    Files["/other/x.txt"] = "x";
    Open();
    fs::create_directories(Local("site"));
    fs::create_directory_symlink(outside.path().toStdString(), Local("site/img"));
    fs::create_directory_symlink(outside.path().toStdString(), Local("other"));
    Connect();
    Select(Window->FTPList, {"site", "other"});
    Window->RunCommand([this] { Window->GetButClick(); });
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    // Folders come first in the list, by name: "other" is walked before "site".
    EXPECT_EQ(Requests[0].Text.toStdString(), "Some folders were skipped:\r\n" + Local("other") +
                                                  ": is a link; nothing is written through it\r\n" +
                                                  Local("site/img") +
                                                  ": is a link; nothing is written through it");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("site/index.html")), "ix");
    EXPECT_TRUE(fs::is_empty(outside.path().toStdString()));
    EXPECT_EQ(Server.Count("RETR"), 1);
}

// Names longer than the local file system holds are unsafe names: counted and skipped before
// any byte moves, whether the listing could carry them (256 bytes) or not (300 bytes).
TEST_F(MainFtpScriptTest, NamesTooLongForTheLocalDiskAreCountedAndSkipped) {
    const std::string n255(255, 'k'), n256(256, 'l'), n300(300, 'm');
    Tree["/"] = {{"long", true, 0}, {n255, false, 1}, {n256, false, 1}, {n300, false, 1}};
    Tree["/long"] = {{n256, false, 1}, {n300, false, 1}, {n256 + "d", true, 0}, {"fine.txt", false, 1}};
    Files["/" + n255] = "k";
    Files["/long/fine.txt"] = "f";
    Open();
    Connect();
    EXPECT_EQ(Captions(Window->FTPList),
              (QStringList{"long", QString::fromStdString(n255), QString::fromStdString(n256)}));
    EXPECT_EQ(Window->StatusText(1), "3 files  (1 unsafe names skipped)");
    Select(Window->FTPList, {"long", QString::fromStdString(n255), QString::fromStdString(n256)});
    Window->RunCommand([this] { Window->GetButClick(); });
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << AllRequests().toStdString();
    EXPECT_EQ(Window->StatusText(1), "4 unsafe names skipped");
    EXPECT_EQ(Server.Count("RETR"), 2);
    EXPECT_EQ(TFtpPeer::ReadFile(Local(n255)), "k");
    EXPECT_EQ(TFtpPeer::ReadFile(Local("long/fine.txt")), "f");
    EXPECT_EQ(std::distance(fs::directory_iterator(Local("long")), {}), 1);
}

// Server names are shown as they are, never as markup.
TEST_F(MainFtpScriptTest, ServerNamesShowAsPlainText) {
    const std::string name = "<font color=red size=7>HUGE";
    Tree["/"] = {{name, false, 1}};
    Files["/" + name] = "h";
    Open();
    Connect();
    Select(Window->FTPList, {QString::fromStdString(name)});
    Window->GetButClick();
    EXPECT_EQ(Window->StatusText(1), QString::fromStdString("File: " + name + "  (1 to go)"));
    for (QLabel* label : {Window->StatusPanel0, Window->StatusPanel1})
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    // Rendered as markup the size=7 font would make the line taller.
    const int shown = Window->StatusPanel1->sizeHint().height();
    Window->StatusPanel1->setTextFormat(Qt::RichText);
    const int asMarkup = Window->StatusPanel1->sizeHint().height();
    Window->StatusPanel1->setTextFormat(Qt::PlainText);
    EXPECT_LT(shown, asMarkup);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(TFtpPeer::ReadFile(Local(name)), "h");
}

// Disconnect during a batch: the running transfer is aborted and nothing queued after it runs
// on the next connection.
TEST_P(MainFtpHostTest, DisconnectDropsTheRestOfTheQueue) {
    Peer = std::make_unique<TFtpPeer>(GetParam() + "+slow");
    Window->FTPEdit->setText(QString::fromStdString(Peer->HostField()));
    Window->LocalDirEdit->setText(QString::fromStdString(Peer->Local()));
    TFtpPeer::WriteFile(Root("one.bin"), std::string(16 << 20, '1'));
    TFtpPeer::WriteFile(Root("two.bin"), std::string(16 << 20, '2'));
    Connect();
    Select(Window->FTPList, {"one.bin", "two.bin"});
    Window->GetButClick();
    QElapsedTimer t;
    t.start();
    while (!Window->StatusText(0).startsWith("Bytes Received =") && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(Window->StatusText(0).startsWith("Bytes Received ="));
    QTest::mouseClick(Window->DisconBut, Qt::LeftButton);
    EXPECT_EQ(Window->PendingTransfers(), 1u); // only the running one, until its worker ends
    ASSERT_TRUE(WaitForBatch());
    // The aborted file says so once; the second never started (it would fail without a connection).
    ASSERT_EQ(Requests.size(), 1u) << AllRequests().toStdString();
    EXPECT_EQ(Requests[0].Text.section("\n\n", 0, 0), "INTERNET_OPERATION_CANCELLED ");
    EXPECT_FALSE(fs::exists(Local("one.bin")));
    EXPECT_FALSE(fs::exists(Local("two.bin")));
}

// A listing that fails leaves the list empty, and the status line says it was no empty folder.
TEST_F(MainFtpScriptTest, FailedListingIsNoEmptyFolder) {
    Server.Override = [](TScriptedServer& s, const std::string& line) {
        if (line.rfind("LIST", 0) != 0) return false;
        s.Reply("451 Cannot list now\r\n");
        return true;
    };
    Open();
    Connect();
    EXPECT_EQ(Window->FTPList->topLevelItemCount(), 0);
    EXPECT_EQ(Window->StatusText(0), "Host Ready");
    EXPECT_EQ(Window->StatusText(1), "0 files  (listing failed: 451 Cannot list now)");
}

// The queue's resume, cancel and upload question, each against servers of its own.
class MainFtpResumeTest : public ::testing::Test, public TWindowFixture {
protected:
    void TearDown() override { CloseWindow(); }
    // Runs the event loop until the running row has moved at least bytes.
    bool WaitForBytes(std::uint64_t bytes, int ms = 20000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            const TQueueItem* running = Window->FTransferQueue->Running();
            if (running && running->BytesDone >= bytes) return true;
        }
        ADD_FAILURE() << "no running row reached " << bytes << " bytes";
        return false;
    }
    const TQueueItem& OnlyRow() {
        EXPECT_EQ(Window->FTransferQueue->Count(), 1u);
        return Window->FTransferQueue->Items().front();
    }
    static std::string Content(std::size_t size) {
        std::string s(size, '\0');
        std::uint32_t x = 12345;
        for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        return s;
    }
};

// The server dies mid-download: nothing under the final name, the part is kept; Retry against
// the same file at another server asks only for the rest, and the bytes equal the source's.
TEST_F(MainFtpResumeTest, RetryAfterTheServerDiedGoesOnFromTheKeptPart) {
    const std::string content = Content(40 << 20);
    auto first = std::make_unique<TFtpPeer>("slow");
    TFtpPeer::WriteFile(first->Root() + "/big.bin", content);
    QTemporaryDir local;
    const std::string target = local.path().toStdString() + "/big.bin";
    OpenWindow(first->HostField(), local.path().toStdString());
    SilenceFailures = true;
    Connect();
    Select(Window->FTPList, {"big.bin"});
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBytes(1 << 20));
    first->Kill();
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(Requests.size(), 1u) << "the failure is shown";
    Requests.clear();
    const TQueueItem& row = OnlyRow();
    ASSERT_EQ(row.State, TQueueState::Failed);
    EXPECT_FALSE(fs::exists(target));
    ASSERT_FALSE(row.PartialPath.empty());
    const std::uint64_t kept = row.ResumeOffset;
    ASSERT_GE(kept, 1u << 20);
    EXPECT_EQ(fs::file_size(row.PartialPath), kept);

    TFtpPeer second("no-active"); // see UploadOverAServerFileAsksAndResumes
    TFtpPeer::WriteFile(second.Root() + "/big.bin", content);
    Window->FTPEdit->setText(QString::fromStdString(second.HostField()));
    Window->RunCommand([this] { Window->ConnectButClick(); });
    ASSERT_TRUE(Requests.empty()) << AllRequests().toStdString();
    Window->QueueRetry();
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(OnlyRow().State, TQueueState::Done) << OnlyRow().Reason;
    EXPECT_TRUE(TFtpPeer::ReadFile(target) == content) << "the resumed file differs from the source";
    EXPECT_EQ(std::distance(fs::directory_iterator(local.path().toStdString()), {}), 1);
    EXPECT_TRUE(OverwriteQuestions.empty());
}

// Cancel mid-file leaves nothing under the final name; removing the row takes its part along.
// On a server that allows one connection the transfer shares the window's, and the cancel
// connects again so the server list can be used at once.
TEST_F(MainFtpResumeTest, CancelMidFileOnAOneConnectionServer) {
    TFtpPeer peer("single");
    TFtpPeer::WriteFile(peer.Root() + "/big.bin", Content(40 << 20));
    TFtpPeer::WriteFile(peer.Root() + "/small.txt", "small");
    QTemporaryDir local;
    OpenWindow(peer.HostField(), local.path().toStdString());
    SilenceFailures = true;
    Connect();
    Select(Window->FTPList, {"big.bin"});
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBytes(1 << 20));
    EXPECT_TRUE(Window->StatusQueue->text().contains("one connection"))
        << Window->StatusQueue->text().toStdString();
    Window->RunCommand([this] { Window->QueueCancelFile(); });
    ASSERT_TRUE(WaitForBatch());
    const TQueueItem row = OnlyRow();
    EXPECT_EQ(row.State, TQueueState::Failed);
    EXPECT_EQ(row.Reason, "Cancelled");
    EXPECT_FALSE(fs::exists(local.path().toStdString() + "/big.bin"));
    EXPECT_TRUE(Requests.empty()) << AllRequests().toStdString();
    // The window is connected again and lists the server.
    ASSERT_NE(Window->FConnection, nullptr);
    EXPECT_TRUE(Captions(Window->FTPList).contains("small.txt"));
    Select(Window->FTPList, {"small.txt"});
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_EQ(TFtpPeer::ReadFile(local.path().toStdString() + "/small.txt"), "small");
    // Its kept part goes with the row.
    ASSERT_FALSE(row.PartialPath.empty());
    EXPECT_TRUE(fs::exists(row.PartialPath));
    Window->FTransferQueue->Remove({row.Id});
    EXPECT_FALSE(fs::exists(row.PartialPath));
}

// An upload over a server file asks first, naming both files; "Resume" appends what the server
// lacks and "Overwrite if newer" leaves a newer server file alone.
TEST_F(MainFtpResumeTest, UploadOverAServerFileAsksAndResumes) {
    // Passive: this pyftpdlib, when one connection's active data channel is replaced, can stop
    // serving the other connection whose socket reused the old channel's descriptor.
    TFtpPeer peer("no-active");
    const std::string content = Content(300000);
    QTemporaryDir local;
    TFtpPeer::WriteFile(local.path().toStdString() + "/page.bin", content);
    TFtpPeer::WriteFile(peer.Root() + "/page.bin", content.substr(0, 100000));
    TFtpPeer::WriteFile(local.path().toStdString() + "/old.txt", "older local");
    TFtpPeer::WriteFile(peer.Root() + "/old.txt", "newer server");
    struct utimbuf past {
        1000000000, 1000000000
    };
    ASSERT_EQ(utime((local.path().toStdString() + "/old.txt").c_str(), &past), 0);
    OpenWindow(peer.HostField(), local.path().toStdString());
    Connect();
    Window->ListLocalDirectory();
    OverwriteAnswer = "&Resume";
    Select(Window->LocalList, {"page.bin"});
    QTest::mouseClick(Window->SendBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(OverwriteQuestions.size(), 1u);
    EXPECT_TRUE(OverwriteQuestions[0].Text.contains("Server file: 100,000 bytes"))
        << OverwriteQuestions[0].Text.toStdString();
    EXPECT_TRUE(OverwriteQuestions[0].Buttons.contains("&Resume"));
    EXPECT_TRUE(TFtpPeer::ReadFile(peer.Root() + "/page.bin") == content);

    OverwriteAnswer = "Overwrite if &newer";
    Select(Window->LocalList, {"old.txt"});
    QTest::mouseClick(Window->SendBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    ASSERT_EQ(OverwriteQuestions.size(), 2u);
    EXPECT_FALSE(OverwriteQuestions[1].Buttons.contains("&Resume")) << "the server file is not shorter";
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Root() + "/old.txt"), "newer server");
    EXPECT_EQ(Window->FTransferQueue->Items().back().State, TQueueState::Skipped);
    EXPECT_TRUE(Requests.empty()) << AllRequests().toStdString();
}

// View > Message Log shows both connections' commands and replies, the password hidden and a
// refusal in red.
TEST_F(MainFtpResumeTest, MessageLogShowsTheConversation) {
    TFtpPeer peer("no-active");
    QTemporaryDir local;
    OpenWindow(peer.HostField(), local.path().toStdString());
    ASSERT_NE(Window->mnuShowLog, nullptr);
    EXPECT_FALSE(Window->MessageLog->isVisibleTo(Window.get()));
    Window->mnuShowLog->trigger();
    EXPECT_TRUE(Window->MessageLog->isVisibleTo(Window.get()));
    EXPECT_EQ(Window->MessageLog->accessibleName(), "Message log");
    Connect();
    Window->RunCommand([this] {
        InetCheck(FtpSetCurrentDirectory(static_cast<HINTERNET>(Window->FConnection), "/nowhere"));
    });
    Requests.clear();
    Window->MessageLog->Drain();
    const QString text = Window->MessageLog->toPlainText();
    EXPECT_TRUE(text.contains("[1] > USER tester")) << text.toStdString();
    EXPECT_TRUE(text.contains("[1] > PASS ****"));
    EXPECT_FALSE(text.contains(TFtpPeer::Password));
    EXPECT_TRUE(text.contains("[1] < 230 "));
    bool redRefusal = false;
    for (QTextBlock b = Window->MessageLog->document()->begin(); b.isValid(); b = b.next())
        if (b.text().contains("< 550 ") && !b.begin().atEnd() &&
            b.begin().fragment().charFormat().foreground().color() == QColor(0xC0, 0x00, 0x00))
            redRefusal = true;
    EXPECT_TRUE(redRefusal) << text.toStdString();
}
