// The few socket operations the FTP session needs, over POSIX sockets: host-field splitting,
// name resolution, connect with a time-out, waiting with poll, and an owning socket type.
// Failures are thrown as EInetFailure carrying the library's error code, so the session reads
// as a straight line of protocol steps.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/inet/WinInet.h"

// Internal failure of a call; the API layer turns it into the thread's last error.
struct EInetFailure {
    DWORD Code;
};

class TSocket {
public:
    TSocket() = default;
    explicit TSocket(int fd) : FFd(fd) {}
    TSocket(TSocket&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    TSocket& operator=(TSocket&& other) noexcept;
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    ~TSocket() { Close(); }

    int Fd() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }
    void Close();

private:
    int FFd = -1;
};

struct TAddress {
    sockaddr_storage Storage{};
    socklen_t Length = 0;

    int Family() const { return Storage.ss_family; }
    std::uint16_t Port() const;
    void SetPort(std::uint16_t port);
    // Same host address, ports ignored.
    bool SameHost(const TAddress& other) const;
    // Dotted or colon form without brackets.
    std::string HostText() const;
};

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address. port is 0 when the field
// names none. False for a malformed field (bad port, unclosed bracket, empty host).
bool SplitHostPort(std::string_view field, std::string& host, std::uint16_t& port);

// Throws ERROR_INTERNET_NAME_NOT_RESOLVED.
std::vector<TAddress> Resolve(const std::string& host, std::uint16_t port);
// Throws ERROR_INTERNET_CANNOT_CONNECT or ERROR_INTERNET_TIMEOUT, and
// ERROR_INTERNET_OPERATION_CANCELLED when wakeFd (an eventfd, or -1) is signalled meanwhile.
TSocket ConnectTo(const TAddress& address, int timeoutMs, int wakeFd = -1);
TAddress LocalAddress(int fd);
void SetNonBlocking(int fd);
TAddress PeerAddress(int fd);

// poll() on one descriptor; true when ready, false on time-out. EINTR is retried with the
// time left. A signalled wakeFd (an eventfd, or -1 for none) ends the wait at once with true;
// the caller tells the two apart with IsSignalled.
bool WaitFor(int fd, short events, int timeoutMs, int wakeFd = -1);
bool IsSignalled(int wakeFd);
