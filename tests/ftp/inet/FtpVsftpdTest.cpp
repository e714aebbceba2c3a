// FTP over TLS against vsftpd, the stricter peer: TLS required for the anonymous login and
// every data connection, and each data connection must resume the control connection's TLS
// session (require_ssl_reuse). vsftpd runs as a child in the foreground on a free loopback
// port and is stopped by its process id.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FtpPeer.h"
#include "ftp/inet/FtpSession.h"
#include "ftp/inet/WinInet.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* Vsftpd = "/usr/sbin/vsftpd";

int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

class TVsftpd {
public:
    TVsftpd() {
        char tmpl[] = "/tmp/varnello-vsftpd-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        Base = tmpl;
        Root = Base + "/root";
        Local = Base + "/local";
        fs::create_directories(Root + "/up");
        fs::create_directories(Local);
        fs::create_directories(Base + "/empty");
        // vsftpd refuses a root its anonymous user could write; uploads go to "up".
        chmod(Base.c_str(), 0755);
        chmod(Root.c_str(), 0755);
        chmod((Base + "/empty").c_str(), 0755);
        if (chown((Root + "/up").c_str(), FtpUid(), static_cast<gid_t>(-1)) != 0)
            chmod((Root + "/up").c_str(), 0777);
        const std::string make =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=vsftpd-test -keyout " + Base +
            "/key.pem -out " + Base + "/cert.pem >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) throw std::runtime_error("openssl failed");
        Port = FreePort();
        std::ofstream conf(Base + "/vsftpd.conf");
        conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << Port
             << "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\n"
                "anon_root="
             << Root
             << "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                "anon_umask=022\nsecure_chroot_dir="
             << Base
             << "/empty\nseccomp_sandbox=NO\nxferlog_enable=NO\n"
                "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                "require_ssl_reuse=YES\nrsa_cert_file="
             << Base << "/cert.pem\nrsa_private_key_file=" << Base << "/key.pem\n";
        conf.close();
        std::string conffile = Base + "/vsftpd.conf";
        std::vector<char*> argv = {const_cast<char*>(Vsftpd), conffile.data(), nullptr};
        if (posix_spawn(&Pid, Vsftpd, nullptr, nullptr, argv.data(), environ) != 0) Pid = -1;
        // Ready once it accepts connections.
        for (int i = 0; i < 100 && Pid > 0; ++i) {
            int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(Port));
            bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(s);
            if (up) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~TVsftpd() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            int status;
            waitpid(Pid, &status, 0);
        }
        std::error_code ec;
        fs::remove_all(Base, ec);
    }
    static uid_t FtpUid() {
        std::ifstream passwd("/etc/passwd");
        std::string line;
        while (std::getline(passwd, line))
            if (line.rfind("ftp:", 0) == 0)
                return static_cast<uid_t>(std::stoul(line.substr(line.find(':', 4) + 1)));
        return static_cast<uid_t>(-1);
    }
    std::string HostField() const { return "127.0.0.1:" + std::to_string(Port); }

    std::string Base, Root, Local;
    int Port = 0;
    pid_t Pid = -1;
};

BOOL TrustIt(const TFtpCertificateInfo*, void* context) {
    ++*static_cast<int*>(context);
    return 1;
}

class FtpVsftpd : public ::testing::TestWithParam<DWORD> {
protected:
    void SetUp() override {
        if (access(Vsftpd, X_OK) != 0) GTEST_SKIP() << "vsftpd is not installed (scripts/install-deps)";
        Server = std::make_unique<TVsftpd>();
    }
    std::unique_ptr<TVsftpd> Server;
};

// Listing, upload and download over protected data connections that vsftpd accepts only as
// resumed sessions, in both data-connection directions.
TEST_P(FtpVsftpd, TransfersWithTheStrictServerOverResumedSessions) {
    TFtpPeer::WriteFile(Server->Root + "/readme.txt", "from vsftpd\n");
    int asked = 0;
    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const DWORD tls = FTP_TLS_EXPLICIT_REQUIRED;
    ASSERT_TRUE(InternetSetOption(internet, INTERNET_OPTION_FTP_TLS, &tls, sizeof tls));
    ASSERT_TRUE(FtpSetCertificateCallback(internet, TrustIt, &asked));
    HINTERNET c = InternetConnect(internet, Server->HostField().c_str(), 0, "anonymous", "",
                                  INTERNET_SERVICE_FTP, GetParam(), 0);
    ASSERT_NE(c, nullptr) << GetLastError();
    EXPECT_EQ(asked, 1);
    TWin32FindData data;
    HINTERNET find = FtpFindFirstFile(c, "", &data, 0, 0);
    ASSERT_NE(find, nullptr) << GetLastError();
    InternetCloseHandle(find);
    const std::string body(1 << 20, 'v');
    TFtpPeer::WriteFile(Server->Local + "/up.bin", body);
    EXPECT_TRUE(FtpPutFile(c, (Server->Local + "/up.bin").c_str(), "/up/up.bin", FTP_TRANSFER_TYPE_BINARY, 0))
        << GetLastError();
    EXPECT_TRUE(TFtpPeer::ReadFile(Server->Root + "/up/up.bin") == body);
    ASSERT_TRUE(FtpGetFile(c, "/readme.txt", (Server->Local + "/readme.txt").c_str(), 0, 0,
                           FTP_TRANSFER_TYPE_BINARY, 0))
        << GetLastError();
    EXPECT_EQ(TFtpPeer::ReadFile(Server->Local + "/readme.txt"), "from vsftpd\n");
    ASSERT_TRUE(
        FtpGetFile(c, "/up/up.bin", (Server->Local + "/back.bin").c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY, 0))
        << GetLastError();
    EXPECT_TRUE(TFtpPeer::ReadFile(Server->Local + "/back.bin") == body);
    InternetCloseHandle(c);
    InternetCloseHandle(internet);
}

INSTANTIATE_TEST_SUITE_P(ActiveAndPassive, FtpVsftpd, ::testing::Values(DWORD{0}, INTERNET_FLAG_PASSIVE));

} // namespace
