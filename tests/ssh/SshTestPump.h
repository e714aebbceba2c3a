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

} // namespace SshdTest
