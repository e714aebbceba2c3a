// Socket helpers for the FTP session; see FtpSocket.h.
#include "ftp/inet/FtpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

TSocket& TSocket::operator=(TSocket&& other) noexcept {
    if (this != &other) {
        Close();
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

void TSocket::Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
}

std::uint16_t TAddress::Port() const {
    if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(Storage).sin_port);
    if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(Storage).sin6_port);
    return 0;
}

void TAddress::SetPort(std::uint16_t port) {
    if (Family() == AF_INET) reinterpret_cast<sockaddr_in&>(Storage).sin_port = htons(port);
    if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6&>(Storage).sin6_port = htons(port);
}

bool TAddress::SameHost(const TAddress& other) const {
    if (Family() != other.Family()) return false;
    if (Family() == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(Storage).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(other.Storage).sin_addr.s_addr;
    if (Family() == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(Storage).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(other.Storage).sin6_addr,
                           sizeof(in6_addr)) == 0;
    return false;
}

std::string TAddress::HostText() const {
    char text[INET6_ADDRSTRLEN] = "";
    if (Family() == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(Storage).sin_addr, text, sizeof text);
    else if (Family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(Storage).sin6_addr, text, sizeof text);
    return text;
}

namespace {

bool ParsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

int Remaining(std::chrono::steady_clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

bool SplitHostPort(std::string_view field, std::string& host, std::uint16_t& port) {
    port = 0;
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
    if (field.empty()) return false;
    if (field.front() == '[') {
        std::size_t close = field.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        host = std::string(field.substr(1, close - 1));
        std::string_view rest = field.substr(close + 1);
        if (rest.empty()) return true;
        return rest.front() == ':' && ParsePort(rest.substr(1), port);
    }
    std::size_t colon = field.find(':');
    if (colon != std::string_view::npos && field.find(':', colon + 1) == std::string_view::npos) {
        host = std::string(field.substr(0, colon));
        return !host.empty() && ParsePort(field.substr(colon + 1), port);
    }
    host = std::string(field); // a name, an IPv4 address or a bare IPv6 address
    return true;
}

std::vector<TAddress> Resolve(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        throw EInetFailure{ERROR_INTERNET_NAME_NOT_RESOLVED};
    std::vector<TAddress> addresses;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if ((ai->ai_family != AF_INET && ai->ai_family != AF_INET6) ||
            ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        TAddress a;
        std::memcpy(&a.Storage, ai->ai_addr, ai->ai_addrlen);
        a.Length = ai->ai_addrlen;
        a.SetPort(port);
        addresses.push_back(a);
    }
    freeaddrinfo(list);
    if (addresses.empty()) throw EInetFailure{ERROR_INTERNET_NAME_NOT_RESOLVED};
    return addresses;
}

TSocket ConnectTo(const TAddress& address, int timeoutMs, int wakeFd) {
    TSocket s(::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.IsOpen()) throw EInetFailure{ERROR_INTERNET_CANNOT_CONNECT};
    int rc = ::connect(s.Fd(), reinterpret_cast<const sockaddr*>(&address.Storage), address.Length);
    if (rc != 0) {
        if (errno != EINPROGRESS) throw EInetFailure{ERROR_INTERNET_CANNOT_CONNECT};
        if (!WaitFor(s.Fd(), POLLOUT, timeoutMs, wakeFd)) throw EInetFailure{ERROR_INTERNET_TIMEOUT};
        if (IsSignalled(wakeFd)) throw EInetFailure{ERROR_INTERNET_OPERATION_CANCELLED};
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(s.Fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
            throw EInetFailure{err == ETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT};
    }
    // Blocking from here on: every wait goes through poll() with its own time-out.
    int flags = fcntl(s.Fd(), F_GETFL);
    fcntl(s.Fd(), F_SETFL, flags & ~O_NONBLOCK);
    return s;
}

void SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

TAddress LocalAddress(int fd) {
    TAddress a;
    a.Length = sizeof a.Storage;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a.Storage), &a.Length) != 0) a.Length = 0;
    return a;
}

TAddress PeerAddress(int fd) {
    TAddress a;
    a.Length = sizeof a.Storage;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a.Storage), &a.Length) != 0) a.Length = 0;
    return a;
}

bool IsSignalled(int wakeFd) {
    if (wakeFd < 0) return false;
    pollfd p{wakeFd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool WaitFor(int fd, short events, int timeoutMs, int wakeFd) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int rc = ::poll(p, wakeFd >= 0 ? 2 : 1, Remaining(deadline));
        if (rc > 0) return true; // readiness, hang-up or error: the next call reports which
        if (rc == 0) return false;
        if (errno != EINTR) return true;
    }
}
