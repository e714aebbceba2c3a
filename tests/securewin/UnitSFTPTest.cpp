// The Secure FTP window offscreen against a real OpenSSH sshd: the host-key question answered
// each way, the first listing, folder navigation by double-click, downloads and uploads small and
// large, file operations and refusals, and the server lost in the middle of a download.
#include "../ssh/SshdFixture.h"

#include "securewin/UnitSFTP.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <dirent.h>
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
    static std::string LogOf(TFormSFTP& f) { return f.Memo1->toPlainText().toStdString(); }
    static void DoubleClick(TFormSFTP& f, QTreeWidgetItem* item) {
        const QRect r = f.FtpList->visualItemRect(item);
        QTest::mouseClick(f.FtpList->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(f.FtpList->viewport(), Qt::LeftButton, {}, r.center());
    }
    static void Select(TFormSFTP& f, const QString& name) {
        QTreeWidgetItem* item = Item(f, name);
        ASSERT_TRUE(item) << name.toStdString();
        f.FtpList->setCurrentItem(item);
    }
    // Connected, the first listing shown, then into the work folder.
    int Asked = 0; // questions asked of windows opened by OpenInWork
    std::unique_ptr<TFormSFTP> OpenInWork() {
        auto form = Open(THostKeyAnswer::AcceptOnce, &Asked);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Item(*form, "work") != nullptr; }, 20000)) << LogOf(*form);
        if (QTreeWidgetItem* work = Item(*form, "work")) DoubleClick(*form, work);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return form->EditPath->text().toStdString() == Work && !form->Session().Busy(); }, 20000))
            << LogOf(*form);
        return form;
    }
    void Own(const std::string& path) { ASSERT_EQ(RunCommand("chown -R " + Sshd.User + " " + path), 0); }
    // Every process below sshd's listener: the sessions it forked for our connections.
    std::vector<pid_t> SessionProcesses() const {
        std::vector<pid_t> found, parents{Sshd.Pid};
        for (size_t i = 0; i < parents.size(); ++i) {
            DIR* d = opendir("/proc");
            while (dirent* e = d ? readdir(d) : nullptr) {
                const pid_t pid = pid_t(std::atoi(e->d_name));
                if (pid <= 0) continue;
                const std::string stat = ReadFile("/proc/" + std::string(e->d_name) + "/stat");
                const size_t close = stat.rfind(')');
                if (close == std::string::npos) continue;
                int ppid = 0;
                if (std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) == 1 && ppid == parents[i]) {
                    found.push_back(pid);
                    parents.push_back(pid);
                }
            }
            if (d) closedir(d);
        }
        return found;
    }
    bool LeftoverIn(const std::string& dir, const std::string& prefix) const {
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().filename().string().rfind(prefix, 0) == 0) return true;
        return false;
    }
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

TEST_F(SecureWindow, AcceptOnceAsksAgainNextTime) {
    int asked = 0;
    auto form = Open(THostKeyAnswer::AcceptOnce, &asked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File list received"); }, 20000)) << LogOf(*form);
    auto second = Open(THostKeyAnswer::AcceptOnce, &asked);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*second, "File list received"); }, 20000))
        << LogOf(*second);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(std::filesystem::exists(Local + "/known_hosts") &&
                 std::filesystem::file_size(Local + "/known_hosts") > 0);
}

TEST_F(SecureWindow, FolderNavigationGoesDownAndBackUpByDotDot) {
    mkdir((Work + "/inner").c_str(), 0755);
    std::ofstream(Work + "/inner/deep.txt") << "deep";
    Own(Work);
    auto form = OpenInWork();
    ASSERT_TRUE(Item(*form, "inner"));
    DoubleClick(*form, Item(*form, "inner"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "deep.txt") != nullptr; }, 20000)) << LogOf(*form);
    EXPECT_EQ(form->EditPath->text().toStdString(), Work + "/inner");

    QTreeWidgetItem* up = Item(*form, "..");
    ASSERT_TRUE(up);
    DoubleClick(*form, up);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->EditPath->text().toStdString() == Work; }, 20000))
        << LogOf(*form);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "inner") != nullptr; }, 20000)) << LogOf(*form);
    EXPECT_FALSE(Item(*form, "deep.txt"));
    DoubleClick(*form, Item(*form, ".."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "work") != nullptr; }, 20000)) << LogOf(*form);
    EXPECT_EQ(form->EditPath->text().toStdString(), Sshd.Dir);
    EXPECT_TRUE(Item(*form, "sshd_config"));
    // A file is not a folder: double-clicking it changes nothing.
    const int before = form->FtpList->topLevelItemCount();
    DoubleClick(*form, Item(*form, "sshd_config"));
    QTest::qWait(200);
    EXPECT_EQ(form->EditPath->text().toStdString(), Sshd.Dir);
    EXPECT_EQ(form->FtpList->topLevelItemCount(), before);
}

TEST_F(SecureWindow, LargeDownloadAndUploadArriveWhole) {
    const std::string size = std::to_string(300 << 20);
    ASSERT_EQ(RunCommand("head -c " + size + " /dev/urandom > " + Work + "/big.bin"), 0);
    ASSERT_EQ(RunCommand("head -c " + size + " /dev/urandom > " + Local + "/up.bin"), 0);
    std::ofstream(Work + "/empty.bin").close();
    std::ofstream(Local + "/empty-up.bin").close();
    Own(Work);
    auto form = OpenInWork();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "big.bin") != nullptr; }, 20000)) << LogOf(*form);

    Select(*form, "big.bin");
    form->AskSaveFile = [&](const QString&) { return Local + "/big.dl"; };
    form->GetFileClick();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->BtnCancel->isEnabled(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File received"); }, 50000)) << LogOf(*form);
    EXPECT_EQ(RunCommand("cmp -s " + Work + "/big.bin " + Local + "/big.dl"), 0);
    EXPECT_FALSE(form->BtnCancel->isEnabled());
    EXPECT_FALSE(LeftoverIn(Local, "big.dl."));

    Select(*form, "empty.bin");
    form->AskSaveFile = [&](const QString&) { return Local + "/empty.dl"; };
    form->Memo1->clear();
    form->GetFileClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File received"); }, 20000)) << LogOf(*form);
    EXPECT_TRUE(std::filesystem::exists(Local + "/empty.dl"));
    EXPECT_EQ(std::filesystem::file_size(Local + "/empty.dl"), 0u);

    for (const char* name : {"up.bin", "empty-up.bin"}) {
        form->AskOpenFile = [&] { return Local + "/" + name; };
        form->Memo1->clear();
        form->PutFileClick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File list received"); }, 50000))
            << LogOf(*form);
        EXPECT_EQ(RunCommand("cmp -s " + Local + "/" + name + " " + Work + "/" + name), 0) << name;
        EXPECT_TRUE(Item(*form, name)) << name;
    }
    EXPECT_EQ(Item(*form, "up.bin")->text(1).toStdString(), size);
}

TEST_F(SecureWindow, MakesRenamesAndDeletesThroughTheMenu) {
    Own(Work);
    auto form = OpenInWork();
    form->AskText = [](const QString&, const QString&) { return std::string("made"); };
    form->CreateDirectoryClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "made") != nullptr; }, 20000)) << LogOf(*form);
    EXPECT_TRUE(std::filesystem::is_directory(Work + "/made"));
    EXPECT_EQ(Item(*form, "made")->text(2).left(1), "d");

    Select(*form, "made");
    form->AskText = [](const QString&, const QString&) { return std::string("renamed"); };
    form->RenameClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "renamed") != nullptr; }, 20000)) << LogOf(*form);
    EXPECT_FALSE(Item(*form, "made"));
    EXPECT_TRUE(std::filesystem::is_directory(Work + "/renamed"));

    // Declining the question removes nothing.
    Select(*form, "renamed");
    form->AskYesNo = [](const QString&) { return false; };
    form->DeleteClick();
    QTest::qWait(200);
    EXPECT_TRUE(std::filesystem::is_directory(Work + "/renamed"));
    form->AskYesNo = [](const QString&) { return true; };
    form->DeleteClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "renamed") == nullptr; }, 20000)) << LogOf(*form);
    EXPECT_FALSE(std::filesystem::exists(Work + "/renamed"));

    std::ofstream(Work + "/plain.txt") << "x";
    Own(Work + "/plain.txt");
    form->CreateDirectoryClick(); // refreshes the list
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "plain.txt") != nullptr; }, 20000)) << LogOf(*form);
    Select(*form, "plain.txt");
    form->DeleteClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "plain.txt") == nullptr; }, 20000)) << LogOf(*form);
    EXPECT_FALSE(std::filesystem::exists(Work + "/plain.txt"));
}

TEST_F(SecureWindow, RefusedPathsAreLoggedAndLeaveNoLocalFile) {
    std::ofstream(Work + "/gone.txt") << "soon removed";
    Own(Work);
    std::ofstream(Work + "/secret.txt") << "root only"; // owned by root, unreadable to the user
    chmod((Work + "/secret.txt").c_str(), 0600);
    auto form = OpenInWork();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "gone.txt") != nullptr; }, 20000)) << LogOf(*form);
    std::filesystem::remove(Work + "/gone.txt");

    Select(*form, "gone.txt");
    form->AskSaveFile = [&](const QString&) { return Local + "/gone.txt"; };
    form->GetFileClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "Error #2 with comment"); }, 20000))
        << LogOf(*form);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "download failed"); }, 20000)) << LogOf(*form);
    EXPECT_FALSE(LeftoverIn(Local, "gone.txt"));

    Select(*form, "secret.txt");
    form->AskSaveFile = [&](const QString&) { return Local + "/secret.txt"; };
    form->GetFileClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "Error #3 with comment"); }, 20000))
        << LogOf(*form);
    EXPECT_FALSE(LeftoverIn(Local, "secret.txt"));

    // The window is still usable after both refusals.
    form->AskText = [](const QString&, const QString&) { return std::string("after"); };
    form->CreateDirectoryClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "after") != nullptr; }, 20000)) << LogOf(*form);
}

TEST_F(SecureWindow, ServerKilledMidDownloadLeavesNoFileAndTheWindowUsable) {
    ASSERT_EQ(RunCommand("truncate -s 3G " + Work + "/huge.bin"), 0);
    Own(Work);
    auto form = OpenInWork();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Item(*form, "huge.bin") != nullptr; }, 20000)) << LogOf(*form);
    Select(*form, "huge.bin");
    form->AskSaveFile = [&](const QString&) { return Local + "/huge.bin"; };
    form->GetFileClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Session().TransferOffset() > (8u << 20); }, 20000))
        << LogOf(*form);
    ASSERT_TRUE(LeftoverIn(Local, "huge.bin")); // the partial file exists while it runs
    const std::vector<pid_t> sessions = SessionProcesses();
    ASSERT_FALSE(sessions.empty());
    for (pid_t pid : sessions) kill(pid, SIGKILL);

    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "TCP Connection closed"); }, 20000))
        << LogOf(*form);
    EXPECT_TRUE(Logged(*form, "connection lost")) << LogOf(*form);
    EXPECT_EQ(form->Edit4->text(), "Connection lost");
    EXPECT_FALSE(LeftoverIn(Local, "huge.bin"));
    EXPECT_FALSE(form->BtnCancel->isEnabled());
    EXPECT_EQ(form->btnConnect->text(), "Connect");
    EXPECT_EQ(form->Progress->value(), 0);
    EXPECT_FALSE(form->Session().Busy());

    // The listener is still there: a second connect from the same window lists again.
    form->Memo1->clear();
    form->ConnectButClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(*form, "File list received"); }, 20000)) << LogOf(*form);
    EXPECT_TRUE(Item(*form, "work"));
}
