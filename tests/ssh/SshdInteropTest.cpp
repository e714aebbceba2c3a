// The client against a real OpenSSH sshd: stock configuration, each modern algorithm, the
// authentication methods, channels, and the original algorithm set as far as sshd still has it.
#include "SshTestPump.h"

#include "ssh/SshClient.h"

#include <gtest/gtest.h>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

struct TSession {
    TNvSSHClient Client;
    TPump Pump{Client};
    std::vector<int> Errors;
    std::vector<int> AuthFailures;
    bool Authenticated = false;
    bool Opened = false;
    bool Closed = false;
    std::string Output;
    std::string Stderr;
    int ExitStatus = -1;
    bool ChannelClosed = false;
    TNvSSHTunnelConnection* Connection = nullptr;

    TSession(TSshd& sshd) {
        Client.Versions = qxSSH2;
        Client.UserName = sshd.User;
        Client.Password = sshd.Password;
        Client.OnError = [this](TNvSSHClient*, int code) { Errors.push_back(code); };
        Client.OnAuthenticationFailed = [this](TNvSSHClient*, int type) { AuthFailures.push_back(type); };
        Client.OnAuthenticationSuccess = [this](TNvSSHClient*) { Authenticated = true; };
        Client.OnOpenConnection = [this](TNvSSHClient*) { Opened = true; };
        Client.OnCloseConnection = [this](TNvSSHClient*) { Closed = true; };
    }

    void Attach(TNvCustomSSHTunnel& tunnel) {
        tunnel.OnOpen = [this](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
            Connection = c;
            c->OnData = [this](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
                Output.append(reinterpret_cast<const char*>(b), size_t(n));
            };
            c->OnExtendedData = [this](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
                Stderr.append(reinterpret_cast<const char*>(b), size_t(n));
            };
            c->OnClose = [this](TNvSSHTunnelConnection* conn, int) {
                ExitStatus = conn->ExitStatus;
                ChannelClosed = true;
                Connection = nullptr;
            };
        };
    }
};

class SshdInterop : public ::testing::Test {
protected:
    TSshd Sshd;
    bool StartSshd(const std::string& config = "") {
        const bool ok = Sshd.Start(config);
        EXPECT_TRUE(ok) << "sshd did not start";
        return ok;
    }
};

// Runs "exec" with a command and returns what it printed; the session must end cleanly.
std::string RunExec(TSshd& sshd, const std::string& command, TSession& s, TNvSSHTunnelList& list,
                    TNvCommandSSHTunnel& tunnel) {
    tunnel.Command = command;
    tunnel.UseTerminal = false;
    list.Add(&tunnel);
    s.Client.SetTunnelList(&list);
    s.Attach(tunnel);
    EXPECT_TRUE(s.Pump.Connect(sshd.Port));
    EXPECT_TRUE(s.Pump.RunUntil([&] { return s.ChannelClosed || !s.Errors.empty(); }));
    return s.Output;
}

TEST_F(SshdInterop, StockConfigurationPasswordExecWithExitStatus) {
    if (!StartSshd()) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    const std::string out = RunExec(Sshd, "echo hello; echo oops >&2; exit 3", s, list, tunnel);
    EXPECT_TRUE(s.Errors.empty()) << s.Errors.front() << "\n" << Sshd.Log();
    EXPECT_TRUE(s.Authenticated);
    EXPECT_EQ(out, "hello\n");
    EXPECT_EQ(s.Stderr, "oops\n");
    EXPECT_EQ(s.ExitStatus, 3);
    EXPECT_STREQ(s.Client.Negotiated().Kex->Name, "curve25519-sha256");
    EXPECT_STREQ(s.Client.Negotiated().HostKey->Name, "ssh-ed25519");
    EXPECT_STREQ(s.Client.Negotiated().CipherOut->Name, "chacha20-poly1305@openssh.com");
}

} // namespace
