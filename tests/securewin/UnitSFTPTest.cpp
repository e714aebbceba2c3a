// The Secure FTP window offscreen against a real OpenSSH sshd: the host-key question answered
// each way, the first listing, entering a folder by double-click, download and upload.
#include "../ssh/SshdFixture.h"

#include "securewin/UnitSFTP.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <pwd.h>

using namespace Varnello::SecureWin;
using namespace SshdTest;

namespace {

class SecureWindow : public ::testing::Test {
protected:
    TSshd Sshd;
    std::string Work;
    std::string Local; // the test's own folder for local files and the known-hosts file

    void SetUp() override {
        ASSERT_TRUE(Sshd.Start("")) << "sshd did not start";
        Work = Sshd.Dir + "/work";
        mkdir(Work.c_str(), 0755);
        passwd* pw = getpwnam(Sshd.User.c_str());
        ASSERT_TRUE(pw);
        ASSERT_EQ(chown(Work.c_str(), pw->pw_uid, pw->pw_gid), 0);
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-securewin-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(tmpl.data()));
        Local = tmpl;
    }
    void TearDown() override { RunCommand("rm -rf " + Local); }

    std::unique_ptr<TFormSFTP> Open(THostKeyAnswer answer, int* asked) {
        auto form = std::make_unique<TFormSFTP>(nullptr, Local + "/known_hosts", "");
        form->AskUnknownHostKey = [answer, asked](const std::string&, const std::string& type,
                                                  const std::string& fp) {
            ++*asked;
            EXPECT_FALSE(type.empty());
            EXPECT_EQ(fp.rfind("SHA256:", 0), 0u);
            return answer;
        };
        form->editHost->setText(QString("127.0.0.1:%1").arg(Sshd.Port));
        form->editUserName->setText(QString::fromStdString(Sshd.User));
        form->editPassword->setText(QString::fromStdString(Sshd.Password));
        form->show();
        form->ConnectButClick();
        return form;
    }

    static bool Logged(TFormSFTP& f, const QString& text) { return f.Memo1->toPlainText().contains(text); }
    static QTreeWidgetItem* Item(TFormSFTP& f, const QString& name) {
        auto found = f.FtpList->findItems(name, Qt::MatchExactly, 0);
        return found.isEmpty() ? nullptr : found.first();
    }
};

} // namespace

TEST_F(SecureWindow, ListsEntersFolderDownloadsAndUploads) {
    for (int i = 0; i < 250; ++i) std::ofstream(Work + "/f" + std::to_string(i)) << "content " << i;
    ASSERT_EQ(RunCommand("chown -R " + Sshd.User + " " + Work), 0);
    int asked = 0;
    auto form = Open(THostKeyAnswer::AcceptAndRemember, &asked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File list received"); }, 20000))
        << form->Memo1->toPlainText().toStdString();
    EXPECT_EQ(asked, 1);
    for (const char* line : {"TCP connection opened", "Authentication succeeded", "SSH Connection started",
                             "Sftp connection started", "Opening directory ."})
        EXPECT_TRUE(Logged(*form, line)) << line;

    QTreeWidgetItem* work = Item(*form, "work");
    ASSERT_TRUE(work);
    EXPECT_EQ(work->text(2).left(1), "d");
    const QRect r = form->FtpList->visualItemRect(work);
    QTest::mouseClick(form->FtpList->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(form->FtpList->viewport(), Qt::LeftButton, {}, r.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->FtpList->topLevelItemCount() == 252; }, 20000))
        << form->Memo1->toPlainText().toStdString();
    EXPECT_EQ(form->EditPath->text().toStdString(), Work);

    // Download f7 through the menu action with the save dialog answered.
    QTreeWidgetItem* f7 = Item(*form, "f7");
    ASSERT_TRUE(f7);
    form->FtpList->setCurrentItem(f7);
    const std::string target = Local + "/f7.txt";
    form->AskSaveFile = [&](const QString&) { return target; };
    form->GetFileClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File received"); }, 20000));
    EXPECT_EQ(ReadFile(target), "content 7");

    // Upload over a longer remote file: exactly the new bytes remain, and the list is refreshed.
    std::ofstream(Local + "/f8") << "new";
    form->AskOpenFile = [&] { return Local + "/f8"; };
    form->Memo1->clear();
    form->PutFileClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File list received"); }, 20000))
        << form->Memo1->toPlainText().toStdString();
    EXPECT_EQ(ReadFile(Work + "/f8"), "new");

    // The key was remembered: a second window asks nothing.
    int askedAgain = 0;
    auto second = Open(THostKeyAnswer::Cancel, &askedAgain);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*second, "File list received"); }, 20000));
    EXPECT_EQ(askedAgain, 0);
}

TEST_F(SecureWindow, CancelledHostKeyQuestionConnectsNothing) {
    int asked = 0;
    auto form = Open(THostKeyAnswer::Cancel, &asked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "TCP Connection closed"); }, 20000))
        << form->Memo1->toPlainText().toStdString();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(Logged(*form, "Host key refused by the user"));
    EXPECT_FALSE(Logged(*form, "Authentication succeeded"));
    EXPECT_EQ(form->FtpList->topLevelItemCount(), 0);
    form->CreateDirectoryClick();
    EXPECT_TRUE(Logged(*form, "Error: not connected"));
}
