// Joins a TNvSSHClient to a TCP socket with a small poll loop, the way an application would.
#pragma once

#include "SshdFixture.h"

#include "ssh/SshClient.h"

#include <chrono>
#include <functional>

namespace SshdTest {

class TPump {
public:
    explicit TPump(Varnello::Ssh::TNvSSHClient& client) : FClient(client) {
        client.OnSend = [this](Varnello::Ssh::TNvSSHClient*, const uint8_t* buf, int size) {
            size_t done = 0;
            while (FFd >= 0 && done < size_t(size)) {
                ssize_t n = send(FFd, buf + done, size_t(size) - done, MSG_NOSIGNAL);
                if (n < 0 && errno == EAGAIN) {
                    pollfd p{FFd, POLLOUT, 0};
                    poll(&p, 1, 1000);
                    continue;
                }
                if (n <= 0) {
                    FPeerClosed = true;
                    return;
                }
                done += size_t(n);
            }
        };
        client.OnReceive = [this](Varnello::Ssh::TNvSSHClient*, uint8_t* buf, int max, int& written) {
            written = 0;
            if (FFd < 0) return;
            ssize_t n = recv(FFd, buf, size_t(max), MSG_DONTWAIT);
            if (n > 0)
                written = int(n);
            else if (n == 0)
                FPeerClosed = true;
            FGotBytes = n > 0;
        };
    }
    ~TPump() {
        if (FFd >= 0) close(FFd);
    }

    bool Connect(int port) {
        FFd = ConnectLoopback(port);
        if (FFd < 0) return false;
        FClient.Open();
        return true;
    }

    // Runs the client until done() holds, the peer closes, or the time is up. True when done.
    bool RunUntil(const std::function<bool()>& done, int seconds = 20) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (FPeerClosed || std::chrono::steady_clock::now() > end) return done();
            pollfd p{FFd, POLLIN, 0};
            poll(&p, 1, 50);
            // Drain: the client asks for exact amounts, so call it while bytes keep coming.
            for (int i = 0; i < 100000; ++i) {
                FGotBytes = false;
                FClient.ReceiveData();
                if (!FGotBytes || done()) break;
            }
        }
        return true;
    }

    bool PeerClosed() const { return FPeerClosed; }
    int Fd() const { return FFd; }

private:
    Varnello::Ssh::TNvSSHClient& FClient;
    int FFd = -1;
    bool FPeerClosed = false;
    bool FGotBytes = false;
};

using namespace Varnello::Ssh;

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

// Runs "exec" with a command and returns what it printed; the session must end cleanly.
inline std::string RunExec(TSshd& sshd, const std::string& command, TSession& s, TNvSSHTunnelList& list,
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

// Base64 (RFC 4648) for authorized_keys lines and the .pub files of sshd.
inline std::string Base64(const std::vector<uint8_t>& in) {
    static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        uint32_t v = uint32_t(in[i]) << 16;
        if (i + 1 < in.size()) v |= uint32_t(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= in[i + 2];
        out += t[(v >> 18) & 63];
        out += t[(v >> 12) & 63];
        out += i + 1 < in.size() ? t[(v >> 6) & 63] : '=';
        out += i + 2 < in.size() ? t[v & 63] : '=';
    }
    return out;
}

inline std::vector<uint8_t> Unbase64(const std::string& in) {
    std::vector<uint8_t> out;
    uint32_t v = 0;
    int bits = 0;
    for (char ch : in) {
        int x;
        if (ch >= 'A' && ch <= 'Z')
            x = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            x = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            x = ch - '0' + 52;
        else if (ch == '+')
            x = 62;
        else if (ch == '/')
            x = 63;
        else
            continue;
        v = (v << 6) | uint32_t(x);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(v >> bits));
        }
    }
    return out;
}

// The key blob of an OpenSSH .pub line ("type base64 comment").
inline std::vector<uint8_t> PubFileBlob(const std::string& line) {
    size_t a = line.find(' ');
    size_t b = line.find(' ', a + 1);
    return Unbase64(line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1));
}

} // namespace SshdTest
