#include "securewin/ClientSocket.h"

#include "ssh/SshClient.h"

namespace Varnello::SecureWin {

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    port = 22;
    std::string rest;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else {
        size_t colon = text.find(':');
        // More than one colon without brackets: a bare IPv6 address.
        if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
            host = text;
            return !host.empty();
        }
        host = text.substr(0, colon);
        rest = text.substr(colon);
    }
    if (!rest.empty()) {
        if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
        int value = 0;
        for (size_t i = 1; i < rest.size(); ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            value = value * 10 + (rest[i] - '0');
        }
        if (value < 1 || value > 65535) return false;
        port = value;
    }
    return !host.empty();
}

TClientSocket::TClientSocket(Ssh::TNvSSHClient& client, QObject* parent) : QObject(parent), FClient(client) {
    client.OnSend = [this](Ssh::TNvSSHClient*, const uint8_t* buf, int size) {
        if (!FActive || size <= 0) return; // not connected: the bytes are dropped
        FSocket.write(reinterpret_cast<const char*>(buf), size);
        // Qt otherwise hands the kernel one buffered block per event-loop pass; flush() sends
        // what the socket takes now without blocking and leaves the rest for the write notifier.
        FSocket.flush();
    };
    client.OnReceive = [this](Ssh::TNvSSHClient*, uint8_t* buf, int maxSize, int& written) {
        written = 0;
        if (!FActive || maxSize <= 0) return;
        qint64 n = FSocket.read(reinterpret_cast<char*>(buf), maxSize);
        if (n > 0) written = int(n);
        FGotBytes = n > 0;
    };
    connect(&FSocket, &QTcpSocket::connected, this, [this] {
        // Requests are small and each waits for its answer; with Nagle's delay a request queued
        // behind unacknowledged bytes waits for the server's delayed ACK (about 40 ms per listing
        // chunk or read batch).
        FSocket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        FActive = true;
        if (OnConnect) OnConnect();
    });
    // Queued: flush() inside OnSend can find the peer gone and raise these at once, which would
    // run the window's disconnect handling (freeing the transfer) under the SSH and SFTP calls
    // that are sending.
    connect(
        &FSocket, &QTcpSocket::disconnected, this,
        [this] {
            const bool was = FActive;
            FActive = false;
            if (was && OnDisconnect) OnDisconnect();
        },
        Qt::QueuedConnection);
    connect(&FSocket, &QTcpSocket::readyRead, this, &TClientSocket::Readable);
    connect(
        &FSocket, &QTcpSocket::errorOccurred, this,
        [this](QAbstractSocket::SocketError e) {
            if (e == QAbstractSocket::RemoteHostClosedError) return; // reported as a disconnect
            if (OnSocketError) OnSocketError(FSocket.errorString().toStdString());
        },
        Qt::QueuedConnection);
}

void TClientSocket::Open(const std::string& host, int port) {
    if (FSocket.state() != QAbstractSocket::UnconnectedState) return;
    FSocket.connectToHost(QString::fromStdString(host), quint16(port));
}

void TClientSocket::Close() {
    FSocket.abort();
    if (FActive) {
        FActive = false;
        if (OnDisconnect) OnDisconnect();
    }
}

void TClientSocket::Readable() {
    if (FInReceive) {
        FMoreArrived = true; // taken by the outer call's drain
        return;
    }
    FInReceive = true;
    // The SSH client asks for exact amounts, so it is called while bytes keep coming; bounded so
    // that a flood cannot keep the event loop from running.
    for (int i = 0; i < 4096 && FActive; ++i) {
        FMoreArrived = false;
        FGotBytes = false;
        FClient.ReceiveData();
        if (!FGotBytes && !FMoreArrived) break;
    }
    FInReceive = false;
    if (FActive && FSocket.bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &TClientSocket::Readable, Qt::QueuedConnection);
}

} // namespace Varnello::SecureWin
