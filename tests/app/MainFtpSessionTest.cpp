// The main window used as a person uses it, against a real pyftpdlib server on loopback:
// failure messages in words, what the window shows after a failed connect and a disconnect,
// Create Directory without a selection, and the keyboard (Enter and Delete in the lists,
// Enter in the password field). Everything goes through real clicks and key presses.
#include "../ftp/inet/FtpPeer.h"
#include "TestPrompts.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "conveniences/Tips.h"
#include "settings/FormSettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class MainFtpSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir::setCurrent(QDir::tempPath());
        QApplication::setApplicationName("Varnello");
        ASSERT_TRUE(Home.isValid());
        TFormSettings::StorageFile = Home.filePath("settings.ini");
        qputenv("XDG_DATA_HOME", Home.filePath("data").toUtf8());
        auto prompts = std::make_unique<TTestPrompts>(Home.filePath("recent.INI"));
        prompts->OnAsk = [this](TDialogRequest& r) {
            Requests.push_back(r);
            if (r.Kind == TDialogRequest::dkInput) {
                if (InputAnswers.empty()) return 2;
                *r.Value = InputAnswers.front();
                InputAnswers.erase(InputAnswers.begin());
            }
            return 1;
        };
        Peer = std::make_unique<TFtpPeer>();
        Window = std::make_unique<TFormMain>(nullptr, std::move(prompts));
        Window->Tips1->ShowOnStartup = false;
        Window->FTPEdit->setText(QString::fromStdString(Peer->HostField()));
        Window->LogonEdit->setText(TFtpPeer::User);
        Window->PassEdit->setText(TFtpPeer::Password);
        Window->FTPDirEdit->clear();
        Window->LocalDirEdit->setText(QString::fromStdString(Peer->Local()));
        Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    }
    void TearDown() override {
        QDir::setCurrent(QDir::tempPath());
        Window.reset();
        Peer.reset();
        TFormSettings::StorageFile.clear();
        qunsetenv("XDG_DATA_HOME");
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
    // Clicks the entry, so it becomes the current and only selected one, as a user would.
    void ClickEntry(TFileList* list, const QString& caption) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            if (item->text(0) != caption) continue;
            list->scrollToItem(item);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
            return;
        }
        ADD_FAILURE() << "no entry " << caption.toStdString();
    }
    bool WaitForBatch(int ms = 30000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (!Window->TransferRunning() && (Window->PendingTransfers() == 0) &&
                Window->StatusText(0) == "Ready")
                return true;
        }
        ADD_FAILURE() << "batch still running: " << Window->StatusText(0).toStdString();
        return false;
    }
    std::string Root(const std::string& rel) { return Peer->Root() + "/" + rel; }
    std::string Local(const std::string& rel) { return Peer->Local() + "/" + rel; }

    QTemporaryDir Home;
    std::unique_ptr<TFtpPeer> Peer;
    std::unique_ptr<TFormMain> Window;
    std::vector<TDialogRequest> Requests;
    std::vector<QString> InputAnswers;
};

} // namespace

TEST_F(MainFtpSessionTest, FailedConnectsSayWhatHappenedAndClearTheWindow) {
    TFtpPeer::WriteFile(Root("old.txt"), "x");
    Connect();
    ASSERT_EQ(Captions(Window->FTPList), QStringList{"old.txt"});

    QTest::mouseClick(Window->DisconBut, Qt::LeftButton);

    // A wrong password: the code's text, then what happened and what to try.
    Window->PassEdit->setText("wrong");
    QTest::mouseClick(Window->ConnectBut, Qt::LeftButton);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Title, "Varnello");
    EXPECT_EQ(Requests[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Requests[0].Text,
              "INTERNET_INCORRECT_PASSWORD.\n\n"
              "The server refused the user name or password: check the User ID and Password "
              "fields.");
    // The connect step's text does not stay as if the connect were still going on.
    EXPECT_EQ(Window->FConnection, nullptr);
    EXPECT_EQ(Window->StatusText(0), "");
    EXPECT_EQ(Window->FTPList->topLevelItemCount(), 0);
    EXPECT_TRUE(Window->ConnectBut->isEnabled());

    // Nobody listening: the host and port of the connection are named.
    Window->PassEdit->setText(TFtpPeer::Password);
    const std::string field = Peer->HostField();
    Peer->Stop();
    QTest::mouseClick(Window->ConnectBut, Qt::LeftButton);
    ASSERT_EQ(Requests.size(), 2u);
    const std::string port = field.substr(field.rfind(':') + 1);
    EXPECT_EQ(Requests[1].Text.toStdString(),
              "INTERNET_CANNOT_CONNECT.\n\nNothing answered at 127.0.0.1 port " + port +
                  ": check the host and port, or whether the server is running.");
    EXPECT_NE(Window->StatusText(0), "Connecting to Host Server");
}

TEST_F(MainFtpSessionTest, DisconnectTakesTheListingAwayAndCreateDirectoryAsksOnce) {
    TFtpPeer::WriteFile(Root("a.txt"), "a");
    Connect();
    ASSERT_EQ(Captions(Window->FTPList), QStringList{"a.txt"});

    // Nothing selected: the name is asked once; cancelling creates nothing and keeps the list.
    Window->FTPList->clearSelection();
    Window->CreateDirectory1->trigger();
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Title, "Brandle FTP");
    EXPECT_EQ(Requests[0].Text, "Directory Name (case sensitive):");
    EXPECT_EQ(Captions(Window->FTPList), QStringList{"a.txt"});
    InputAnswers = {"site"};
    Window->CreateDirectory1->trigger();
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_TRUE(fs::is_directory(Root("site")));
    EXPECT_EQ(Captions(Window->FTPList), (QStringList{"site", "a.txt"}));

    QTest::mouseClick(Window->DisconBut, Qt::LeftButton);
    EXPECT_EQ(Window->FConnection, nullptr);
    EXPECT_EQ(Window->StatusText(0), "Closing Connections");
    EXPECT_EQ(Window->FTPList->topLevelItemCount(), 0);
    EXPECT_EQ(Window->FTPTopPanel->title(), "Host Server");
    EXPECT_EQ(Requests.size(), 2u);

    // Create Directory still asks without a connection, then says what is missing.
    InputAnswers = {"later"};
    Window->CreateDirectory1->trigger();
    ASSERT_EQ(Requests.size(), 4u);
    EXPECT_TRUE(Requests[3].Text.endsWith(
        "\n\nThe connection to the server is not open: connect, then repeat the action."))
        << Requests[3].Text.toStdString();
    EXPECT_FALSE(fs::exists(Root("later")));
}

TEST_F(MainFtpSessionTest, EnterConnectsOpensFoldersAndTransfersFiles) {
    fs::create_directories(Root("pub"));
    TFtpPeer::WriteFile(Root("pub/readme.txt"), "read me");
    fs::create_directories(Local("site"));
    TFtpPeer::WriteFile(Local("site/page.html"), "<p>page</p>");

    // Before connecting, Enter on a local file says what is missing instead of doing nothing.
    Window->FLocalDir = Peer->Local();
    Window->ListLocalDirectory();
    ClickEntry(Window->LocalList, "site");
    QTest::keyClick(Window->LocalList, Qt::Key_Return);
    ASSERT_EQ(Window->FLocalDir, Local("site"));
    ClickEntry(Window->LocalList, "page.html");
    QTest::keyClick(Window->LocalList, Qt::Key_Return);
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Text, "Not connected: connect to the server first, then press Enter again.");
    Requests.clear();

    // Enter in the password field connects.
    Window->PassEdit->setFocus();
    QTest::keyClick(Window->PassEdit, Qt::Key_Return);
    ASSERT_NE(Window->FConnection, nullptr) << (Requests.empty() ? "" : Requests[0].Text.toStdString());
    EXPECT_EQ(Captions(Window->FTPList), QStringList{"pub"});
    EXPECT_EQ(Window->FLocalDir, Peer->Local()); // the local start directory was listed again

    // A server folder opens with Enter (the keypad's too), ".." goes back up.
    ClickEntry(Window->FTPList, "pub");
    QTest::keyClick(Window->FTPList, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Window->FHostDir, "/pub");
    EXPECT_EQ(Captions(Window->FTPList), (QStringList{"..", "readme.txt"}));

    // A server file is downloaded into the local folder.
    ClickEntry(Window->FTPList, "readme.txt");
    QTest::keyClick(Window->FTPList, Qt::Key_Return);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << Requests[0].Text.toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Local("readme.txt")), "read me");
    EXPECT_TRUE(Captions(Window->LocalList).contains("readme.txt"));

    // A local file is uploaded into the server folder shown; the local folder is entered first.
    ClickEntry(Window->LocalList, "site");
    QTest::keyClick(Window->LocalList, Qt::Key_Return);
    ClickEntry(Window->LocalList, "page.html");
    QTest::keyClick(Window->LocalList, Qt::Key_Return);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(Requests.empty()) << Requests[0].Text.toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Root("pub/page.html")), "<p>page</p>");
    EXPECT_TRUE(Captions(Window->FTPList).contains("page.html"));

    ClickEntry(Window->FTPList, "..");
    QTest::keyClick(Window->FTPList, Qt::Key_Return);
    EXPECT_EQ(Window->FHostDir, "/");
}

TEST_F(MainFtpSessionTest, DeleteKeyDeletesTheSelectionOnEitherSide) {
    TFtpPeer::WriteFile(Root("old.html"), "old");
    TFtpPeer::WriteFile(Root("keep.html"), "keep");
    TFtpPeer::WriteFile(Local("draft.txt"), "draft");
    TFtpPeer::WriteFile(Local("notes.txt"), "notes");
    Connect();

    ClickEntry(Window->FTPList, "old.html");
    QTest::keyClick(Window->FTPList, Qt::Key_Delete);
    EXPECT_FALSE(fs::exists(Root("old.html")));
    EXPECT_TRUE(fs::exists(Root("keep.html")));
    EXPECT_EQ(Captions(Window->FTPList), QStringList{"keep.html"});
    // The server has no trash: the key asked first.
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(Requests[0].Text, "Delete \"old.html\" from the server? This cannot be undone.");
    Requests.clear();

    // Locally the entry goes to the trash, as the menu command sends it, without a question.
    ClickEntry(Window->LocalList, "draft.txt");
    QTest::keyClick(Window->LocalList, Qt::Key_Delete);
    EXPECT_FALSE(fs::exists(Local("draft.txt")));
    EXPECT_TRUE(QFile::exists(Home.filePath("data/Trash/files/draft.txt")));
    EXPECT_TRUE(fs::exists(Local("notes.txt")));
    EXPECT_FALSE(Captions(Window->LocalList).contains("draft.txt"));
    EXPECT_TRUE(Requests.empty()) << Requests[0].Text.toStdString();

    // Nothing selected: nothing happens, the listing is not even redone.
    Window->FTPList->clearSelection();
    Window->SetStatus(0, "untouched");
    QTest::keyClick(Window->FTPList, Qt::Key_Delete);
    EXPECT_EQ(Window->StatusText(0), "untouched");
    EXPECT_TRUE(fs::exists(Root("keep.html")));
}

namespace {
// Records every text the status panel paints, as the user sees them go by.
class TPaintedTexts : public QObject {
public:
    explicit TPaintedTexts(QLabel* label) : FLabel(label) { label->installEventFilter(this); }
    ~TPaintedTexts() override { FLabel->removeEventFilter(this); }
    QStringList Texts;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == FLabel && e->type() == QEvent::Paint && (Texts.isEmpty() || Texts.back() != FLabel->text()))
            Texts << FLabel->text();
        return false;
    }

private:
    QLabel* FLabel;
};
} // namespace

TEST_F(MainFtpSessionTest, ProgressLinesGroupDigitsAsTheLocaleDoes) {
    TFtpPeer::WriteFile(Root("photo.jpg"), std::string(70000, 'j'));
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct TRestore {
        QLocale Locale;
        ~TRestore() { QLocale::setDefault(Locale); }
    } restore{previous};
    Connect();
    EXPECT_EQ(Window->FTPList->topLevelItem(0)->text(1), "70.000");

    TPaintedTexts painted(Window->StatusPanel0);
    ClickEntry(Window->FTPList, "photo.jpg");
    QTest::mouseClick(Window->GetBut, Qt::LeftButton);
    ASSERT_TRUE(WaitForBatch());
    EXPECT_TRUE(painted.Texts.contains("Receive Complete  70.000 bytes"))
        << painted.Texts.join(" | ").toStdString();
    bool grouped = false;
    for (const QString& line : painted.Texts) {
        EXPECT_FALSE(line.contains(QRegularExpression("\\d,\\d"))) << line.toStdString();
        grouped = grouped || (line.startsWith("Bytes Received = ") && line.contains('.'));
    }
    EXPECT_TRUE(grouped) << painted.Texts.join(" | ").toStdString();
}
