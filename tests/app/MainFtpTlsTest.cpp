// The FTP tab over TLS against pyftpdlib with a self-signed certificate: the Encryption
// control and its place in profiles, the certificate question answered each way, remembered
// certificates and the warning when a remembered server shows another one, and the status
// bar's encryption panel.
#include "../ftp/inet/FtpPeer.h"
#include "TestPrompts.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "conveniences/Tips.h"
#include "settings/FormSettings.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class MainFtpTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir::setCurrent(QDir::tempPath());
        const std::string dir = Home.path().toStdString();
        Cert = dir + "/cert.pem";
        Key = dir + "/key.pem";
        const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Window-Test "
                                 "-keyout " +
                                 Key + " -out " + Cert + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0);
        Peer = std::make_unique<TFtpPeer>(
            "active", "127.0.0.1",
            std::vector<std::string>{"--tls", "explicit", "--cert", Cert, "--key", Key, "--tls-required"});
        TFtpPeer::WriteFile(Peer->Root() + "/hello.txt", "hi");
        QApplication::setApplicationName("Varnello");
        TFormSettings::StorageFile = Home.filePath("settings.ini");
        auto prompts = std::make_unique<TTestPrompts>(Home.filePath("recent.INI"));
        prompts->OnAsk = [this](TDialogRequest& r) {
            Requests.push_back(r);
            if (Answers.empty()) return 1;
            int answer = Answers.front();
            Answers.erase(Answers.begin());
            return answer;
        };
        Window = std::make_unique<TFormMain>(nullptr, std::move(prompts));
        Window->Tips1->ShowOnStartup = false;
        Window->FTPEdit->setText(QString::fromStdString(Peer->HostField()));
        Window->LogonEdit->setText(TFtpPeer::User);
        Window->PassEdit->setText(TFtpPeer::Password);
        Window->FTPDirEdit->clear();
        Window->LocalDirEdit->setText(QString::fromStdString(Peer->Local()));
        Store = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/ftp_certificates";
        QFile::remove(Store);
    }
    void TearDown() override {
        QDir::setCurrent(QDir::tempPath());
        Window.reset();
        TFormSettings::StorageFile.clear();
        Peer.reset();
    }
    QString Security() const {
        auto* label = Window->findChild<QLabel*>("StatusSecurity");
        return label ? label->text() : "(none)";
    }
    void Connect() { QTest::mouseClick(Window->ConnectBut, Qt::LeftButton); }
    void Disconnect() { QTest::mouseClick(Window->DisconBut, Qt::LeftButton); }

    QTemporaryDir Home;
    std::string Cert, Key;
    std::unique_ptr<TFtpPeer> Peer;
    std::unique_ptr<TFormMain> Window;
    std::vector<TDialogRequest> Requests;
    std::vector<int> Answers;
    QString Store;
};

TEST_F(MainFtpTlsTest, EncryptionControlIsNamedOrderedAndKeptInProfiles) {
    QComboBox* box = Window->EncryptionBox;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->accessibleName(), "Encryption");
    ASSERT_EQ(box->count(), 4);
    EXPECT_EQ(box->itemText(0), "Use explicit TLS if available");
    EXPECT_EQ(box->itemText(1), "Require explicit TLS");
    EXPECT_EQ(box->itemText(2), "Implicit TLS");
    EXPECT_EQ(box->itemText(3), "Plain FTP (insecure)");
    EXPECT_EQ(box->currentIndex(), 0);
    // Tab from the last connection field lands on it.
    QWidget* next = Window->BrowsePrivKeyBut->nextInFocusChain();
    while (next && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    EXPECT_EQ(next, box);

    const std::string path = Home.filePath("site.vrnl").toStdString();
    box->setCurrentIndex(2);
    Window->SaveProfile(path);
    const std::string bytes = TFtpPeer::ReadFile(path);
    EXPECT_TRUE(bytes.ends_with("\r\nimplicit\r\n")) << bytes;
    box->setCurrentIndex(0);
    Window->LoadProfile(path);
    EXPECT_EQ(box->currentIndex(), 2);
    TFtpPeer::WriteFile(path, "h\r\nu\r\np\r\n/d\r\n/l\r\n"); // written before the choice existed
    Window->LoadProfile(path);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(Window->FTPEdit->text(), "h");
}

TEST_F(MainFtpTlsTest, CertificateQuestionTrustOnceRememberAndChangedWarning) {
    // Cancel: no connection, and never plain FTP behind the user's back.
    Answers = {3};
    Connect();
    EXPECT_EQ(Window->FConnection, nullptr);
    ASSERT_GE(Requests.size(), 1u);
    const TDialogRequest& question = Requests.front();
    EXPECT_EQ(question.Buttons, (QStringList{"Trust and remember", "Trust once", "Cancel"}));
    EXPECT_TRUE(question.Text.contains("self-signed certificate")) << question.Text.toStdString();
    EXPECT_TRUE(question.Text.contains("Subject: CN = Window-Test")) << question.Text.toStdString();
    EXPECT_TRUE(question.Text.contains("Valid until:"));
    EXPECT_TRUE(question.Text.contains("SHA-256 fingerprint:"));
    EXPECT_FALSE(question.Text.contains("WARNING"));
    // The failure's message box names the reason.
    ASSERT_EQ(Requests.size(), 2u);
    EXPECT_TRUE(Requests[1].Text.contains("certificate is not trusted")) << Requests[1].Text.toStdString();

    // Trust once: connected and encrypted, nothing remembered, asked again next time.
    Requests.clear();
    Answers = {2};
    Connect();
    ASSERT_NE(Window->FConnection, nullptr);
    EXPECT_EQ(Requests.size(), 1u);
    EXPECT_TRUE(Security().startsWith("Encrypted (TLSv1.")) << Security().toStdString();
    EXPECT_FALSE(QFile::exists(Store));
    Disconnect();
    EXPECT_EQ(Security(), "");

    // Trust and remember: the next connect asks nothing.
    Requests.clear();
    Answers = {1};
    Connect();
    ASSERT_NE(Window->FConnection, nullptr);
    EXPECT_EQ(Requests.size(), 1u);
    ASSERT_TRUE(QFile::exists(Store));
    Disconnect();
    Requests.clear();
    Connect();
    ASSERT_NE(Window->FConnection, nullptr);
    EXPECT_TRUE(Requests.empty());
    Disconnect();

    // A remembered server with another certificate: warned, and Cancel keeps the old entry.
    const std::string original = TFtpPeer::ReadFile(Store.toStdString());
    const std::string key = original.substr(0, original.find(' '));
    TFtpPeer::WriteFile(Store.toStdString(), key + " 00:11:22\n");
    Requests.clear();
    Answers = {3};
    Connect();
    EXPECT_EQ(Window->FConnection, nullptr);
    ASSERT_FALSE(Requests.empty());
    EXPECT_TRUE(Requests.front().Text.contains("has changed")) << Requests.front().Text.toStdString();
    EXPECT_TRUE(Requests.front().Text.contains("00:11:22"));
    EXPECT_EQ(TFtpPeer::ReadFile(Store.toStdString()), key + " 00:11:22\n");
}

// Transfers run on a second connection; a certificate trusted once for this session must not be
// asked about again there, and a new Connect asks again.
TEST_F(MainFtpTlsTest, TrustOnceCoversTheTransferConnection) {
    Answers = {2};
    Connect();
    ASSERT_NE(Window->FConnection, nullptr);
    ASSERT_EQ(Requests.size(), 1u);
    Requests.clear();
    auto* list = Window->FTPList;
    list->clearSelection();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == "hello.txt") list->topLevelItem(i)->setSelected(true);
    ASSERT_EQ(list->selectedItems().size(), 1);
    Window->GetButClick();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 &&
           (Window->TransferRunning() || Window->PendingTransfers() != 0 || Window->StatusText(0) != "Ready"))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(Requests.empty()) << Requests.front().Text.toStdString();
    EXPECT_EQ(TFtpPeer::ReadFile(Peer->Local() + "/hello.txt"), "hi");
    Disconnect();
    Answers = {3};
    Connect();
    EXPECT_EQ(Window->FConnection, nullptr);
    EXPECT_FALSE(Requests.empty());
}

TEST_F(MainFtpTlsTest, PlainChoiceAgainstATlsOnlyServerFailsAndShowsNoEncryption) {
    Window->EncryptionBox->setCurrentIndex(3);
    Connect();
    EXPECT_EQ(Window->FConnection, nullptr);
    ASSERT_FALSE(Requests.empty());
    for (const TDialogRequest& r : Requests) EXPECT_NE(r.Buttons.size(), 3) << "no certificate question";
    EXPECT_EQ(Security(), "");
}

} // namespace
