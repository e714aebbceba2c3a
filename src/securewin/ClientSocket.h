// TClientSocket: the window's TCP client socket on QTcpSocket, joined to one TNvSSHClient.
//
// Sending never blocks: what the socket does not take at once stays in Qt's write buffer and
// goes out in order as the socket can write. Receiving is re-entrancy safe: ReceiveData is never
// called while a call of it is still on the stack (a modal question raised from inside an SSH
// event runs a nested event loop); data that arrives meanwhile is drained after the outer call.
#pragma once

#include <QObject>
#include <QTcpSocket>

#include <functional>
#include <string>

namespace Varnello::Ssh {
class TNvSSHClient;
}

namespace Varnello::SecureWin {

// "host", "host:port" or "[v6]:port"; port 22 without one. False for an unusable port.
bool SplitHostPort(const std::string& text, std::string& host, int& port);

class TClientSocket : public QObject {
    Q_OBJECT
public:
    explicit TClientSocket(Ssh::TNvSSHClient& client, QObject* parent = nullptr);

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    std::function<void(const std::string& message)> OnSocketError;

    void Open(const std::string& host, int port);
    void Close();
    bool Active() const { return FActive; }

private:
    void Readable();

    Ssh::TNvSSHClient& FClient;
    QTcpSocket FSocket;
    bool FActive = false;
    bool FInReceive = false;
    bool FMoreArrived = false;
    bool FGotBytes = false;
};

} // namespace Varnello::SecureWin
