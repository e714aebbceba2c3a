// The window's state machine over the real SSH client against a lying SFTP server (a paramiko
// script sending hand-made packets): unsafe names, a listing without end, a read answered with
// more than was asked, and an answer to no request.
#include "../ssh/SshTestPump.h"

#include "securewin/SftpSession.h"
#include "ssh/SshTunnels.h"

#include <cerrno>
#include <filesystem>

using namespace Varnello::SecureWin;
using namespace Varnello::Sftp;
using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

class HostileServer : public ::testing::Test {
protected:
    std::string Dir;
    pid_t Server = -1;
    TNvSSHClient Client;
    TNvSSHTunnelList List;
    TNvSubsystemSSHTunnel Tunnel;
    TNvSftpClient Sftp;
    std::unique_ptr<TSftpSession> Session;
    std::unique_ptr<TPump> Pump;
    std::vector<std::string> Log;

    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-hostile-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(tmpl.data()));
        Dir = tmpl;
    }
    void TearDown() override {
        Session.reset();
        Pump.reset();
        StopServer();
        RunCommand("rm -rf " + Dir);
    }
    void StopServer() {
        if (Server > 0) {
            kill(Server, SIGTERM);
            int status;
            waitpid(Server, &status, 0);
            Server = -1;
        }
    }
    // True when the server ended by itself within the time.
    bool ServerExits(int seconds) {
        int status;
        auto gone = [&] {
            if (Server < 0) return true;
            const pid_t r = waitpid(Server, &status, WNOHANG);
            return r == Server || (r < 0 && errno == ECHILD);
        };
        bool done = Pump->RunUntil(gone, seconds);
        for (int i = 0; i < seconds * 20 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            done = gone();
        }
        if (done) Server = -1;
        return done;
    }

    // Starts the script in the given mode and runs the session up to its first answer.
    void Connect(const char* mode) {
        const std::string portFile = Dir + "/port";
        const std::string script = std::string(VARNELLO_SOURCE_DIR) + "/tests/sftp/hostile_sftp_server.py";
        Server = fork();
        if (Server == 0) {
            int fd = open((Dir + "/server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            execl("/usr/bin/python3", "/usr/bin/python3", script.c_str(), portFile.c_str(), mode, "user",
                  "pw-123", (char*)nullptr);
            _exit(127);
        }
        int port = 0;
        for (int i = 0; i < 200 && port == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::string text = ReadFile(portFile);
            if (!text.empty()) port = std::stoi(text);
        }
        ASSERT_GT(port, 0) << ReadFile(Dir + "/server.log");
        Client.Versions = qxSSH2;
        Client.UserName = "user";
        Client.Password = "pw-123";
        Client.OnError = [this](TNvSSHClient*, int code) {
            Log.push_back("SSH error " + std::to_string(code));
        };
        List.Add(&Tunnel);
        Client.SetTunnelList(&List);
        Sftp.SetTunnel(&Tunnel);
        Session = std::make_unique<TSftpSession>(Sftp);
        Session->BlockSize = 4096;
        Session->RequestsInFlight = 8;
        Session->OnLog = [this](const std::string& l) { Log.push_back(l); };
        Pump = std::make_unique<TPump>(Client);
        Session->IsConnected = [this] { return !Pump->PeerClosed(); };
        ASSERT_TRUE(Pump->Connect(port));
    }
    bool Logged(const std::string& part) const {
        for (const auto& l : Log)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
    bool RunUntilLogged(const std::string& part, int seconds = 20) {
        return Pump->RunUntil([&] { return Logged(part); }, seconds);
    }
    std::string AllLog() const {
        std::string s;
        for (const auto& l : Log) s += l + "\n";
        return s + ReadFile(Dir + "/server.log");
    }
    size_t IndexOf(const std::string& name) const {
        for (size_t i = 0; i < Session->Entries().size(); ++i)
            if (Session->Entries()[i].Name == name) return i;
        return size_t(-1);
    }
    std::vector<std::string> LocalFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Dir))
            if (e.path().filename() != "port" && e.path().filename() != "server.log")
                names.push_back(e.path().filename().string());
        return names;
    }
};

} // namespace

TEST_F(HostileServer, NamesWithSlashesOrDotsNeverBecomeLocalPaths) {
    Connect("names");
    ASSERT_TRUE(RunUntilLogged("File list received")) << AllLog();
    std::vector<std::string> shown;
    for (const auto& e : Session->Entries()) shown.push_back(e.Name);
    EXPECT_EQ(shown, (std::vector<std::string>{"..", ".", "...", "ok.txt"}));
    for (const char* bad : {"../escape", "sub/file", "back\\slash"})
        EXPECT_TRUE(Logged(std::string("Skipped unsafe name \"") + bad + "\"")) << bad;
    EXPECT_TRUE(Logged("Skipped unsafe name \"nul")) << AllLog();

    // The dot names are kept for navigation but are never taken as a file to download.
    Session->Download(IndexOf("..."), Dir + "/dots");
    EXPECT_TRUE(Logged("unsafe file name \"...\""));
    EXPECT_TRUE(LocalFiles().empty());
    EXPECT_FALSE(Session->Busy());

    // The one plain name downloads, to exactly the chosen path.
    Session->Download(IndexOf("ok.txt"), Dir + "/ok.txt");
    ASSERT_TRUE(RunUntilLogged("File received")) << AllLog();
    EXPECT_EQ(LocalFiles(), std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(std::filesystem::file_size(Dir + "/ok.txt"), 1u << 20);
    EXPECT_EQ(ReadFile(Dir + "/ok.txt"), std::string(1 << 20, 'd'));
}

TEST_F(HostileServer, AListingThatNeverEndsIsCutWithAClearError) {
    Connect("endless");
    Session->MaxListingEntries = 20000;
    ASSERT_TRUE(RunUntilLogged("File list received", 60)) << AllLog();
    EXPECT_TRUE(Logged("Error: the server's file list does not end; cut at 20000 entries")) << AllLog();
    EXPECT_EQ(Session->Entries().size(), 20000u);
    EXPECT_EQ(Session->Entries().back().Name, "e19999");
    EXPECT_FALSE(Session->Busy());
}

TEST_F(HostileServer, AListingOfHugeNamesIsCutByItsSize) {
    Connect("endless");
    Session->MaxListingBytes = 100000; // each entry here takes at least 8 bytes of names
    ASSERT_TRUE(RunUntilLogged("File list received", 60)) << AllLog();
    EXPECT_TRUE(Logged("does not end")) << AllLog();
    EXPECT_LT(Session->Entries().size(), 12500u);
    EXPECT_GT(Session->Entries().size(), 1000u);
}

TEST_F(HostileServer, AReadAnsweredWithMoreThanAskedFailsTheDownloadAndLeavesNoFile) {
    Connect("longdata");
    ASSERT_TRUE(RunUntilLogged("File list received")) << AllLog();
    Session->Download(IndexOf("ok.txt"), Dir + "/ok.txt");
    ASSERT_TRUE(RunUntilLogged("download failed")) << AllLog();
    EXPECT_TRUE(Logged("4196 bytes for 4096 asked")) << AllLog();
    EXPECT_TRUE(LocalFiles().empty());
    // The remaining answers are taken and dropped; the session takes a new action afterwards.
    ASSERT_TRUE(Pump->RunUntil([&] { return Sftp.PendingCount() <= 1; })) << AllLog();
    Log.clear();
    Session->ListDirectory(".");
    ASSERT_TRUE(RunUntilLogged("File list received")) << AllLog();
}

TEST_F(HostileServer, AnAnswerToNoRequestClosesTheSftpConnection) {
    Connect("unknownid");
    ASSERT_TRUE(RunUntilLogged("Sftp connection closed")) << AllLog();
    EXPECT_TRUE(Logged("Error #101 with comment \"Invalid Packet\"")) << AllLog();
    EXPECT_FALSE(Logged("Directory opened"));
    EXPECT_TRUE(Session->Entries().empty());
    EXPECT_FALSE(Session->Busy());
    // The channel was closed, so the server's subsystem loop ends and the script exits by itself.
    EXPECT_TRUE(ServerExits(10)) << AllLog();
}
