// The agent protocol client: framing, identities, sign requests.
#include "ssh/SshAgent.h"

#include "ssh/SshClient.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Varnello::Ssh {

namespace {

constexpr uint8_t AgentFailure = 5;
constexpr uint8_t RequestIdentities = 11;
constexpr uint8_t IdentitiesAnswer = 12;
constexpr uint8_t SignRequest = 13;
constexpr uint8_t SignResponse = 14;
constexpr uint32_t FlagRsaSha256 = 2;
constexpr uint32_t FlagRsaSha512 = 4;

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

using TClock = std::chrono::steady_clock;

// Waits for the socket until the deadline; false on timeout or error.
bool WaitFor(int fd, short events, TClock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

} // namespace

TNvSSHAgentKeyStorage::TNvSSHAgentKeyStorage(std::string socketPath)
    : FSocket(socketPath.empty() ? DefaultSocket() : std::move(socketPath)) {}

std::string TNvSSHAgentKeyStorage::DefaultSocket() {
    const char* s = std::getenv("SSH_AUTH_SOCK");
    return s ? std::string(s) : std::string();
}

void TNvSSHAgentKeyStorage::Report(const std::string& message) {
    FLastError = message;
    if (OnError) OnError(this, message);
}

TNvSSHKey* TNvSSHAgentKeyStorage::GetKey(int index) {
    if (index < 0 || index >= GetCount()) return nullptr;
    return FKeys[size_t(index)].Key.get();
}

std::string TNvSSHAgentKeyStorage::Comment(int index) const {
    if (index < 0 || index >= int(FKeys.size())) return {};
    return FKeys[size_t(index)].Comment;
}

bool TNvSSHAgentKeyStorage::Transact(const TBytes& request, TBytes& reply) {
    reply.clear();
    if (FSocket.empty()) {
        Report("No SSH agent is running (SSH_AUTH_SOCK is not set)");
        return false;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (FSocket.size() >= sizeof(addr.sun_path)) {
        Report("SSH agent socket path too long: " + FSocket);
        return false;
    }
    std::memcpy(addr.sun_path, FSocket.c_str(), FSocket.size() + 1);
    TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0) {
        Report(std::string("SSH agent: ") + std::strerror(errno));
        return false;
    }
    const auto deadline = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (errno != EINPROGRESS && errno != EAGAIN) {
            Report("Cannot reach the SSH agent at " + FSocket + ": " + std::strerror(errno));
            return false;
        }
        int err = 0;
        socklen_t len = sizeof(err);
        if (!WaitFor(fd.Get(), POLLOUT, deadline) ||
            ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            Report("Cannot reach the SSH agent at " + FSocket +
                   (err ? std::string(": ") + std::strerror(err) : ""));
            return false;
        }
    }
    TBytes frame;
    {
        TSshWriter w(MaxReplySize);
        w.String(request);
        frame = w.Take();
    }
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::send(fd.Get(), frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd.Get(), POLLOUT, deadline)) {
                Report("The SSH agent does not answer");
                return false;
            }
        } else {
            Report("The SSH agent closed the connection");
            return false;
        }
    }
    auto readExactly = [&](uint8_t* out, size_t want) {
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::recv(fd.Get(), out + got, want - got, 0);
            if (n > 0) {
                got += size_t(n);
            } else if (n == 0) {
                Report("The SSH agent closed the connection");
                return false;
            } else if (errno == EAGAIN || errno == EINTR) {
                if (!WaitFor(fd.Get(), POLLIN, deadline)) {
                    Report("The SSH agent does not answer");
                    return false;
                }
            } else {
                Report(std::string("SSH agent: ") + std::strerror(errno));
                return false;
            }
        }
        return true;
    };
    uint8_t head[4];
    if (!readExactly(head, 4)) return false;
    const uint32_t len =
        (uint32_t(head[0]) << 24) | (uint32_t(head[1]) << 16) | (uint32_t(head[2]) << 8) | head[3];
    if (len == 0 || len > MaxReplySize) {
        Report("Invalid reply from the SSH agent (length " + std::to_string(len) + ")");
        return false;
    }
    reply.resize(len);
    if (!readExactly(reply.data(), len)) {
        reply.clear();
        return false;
    }
    return true;
}

bool TNvSSHAgentKeyStorage::Refresh() {
    FKeys.clear();
    TBytes reply;
    if (!Transact(TBytes{RequestIdentities}, reply)) return false;
    try {
        TSshReader r(reply, MaxReplySize);
        const uint8_t type = r.Byte();
        if (type != IdentitiesAnswer) {
            Report("The SSH agent refused to list its keys");
            return false;
        }
        const uint32_t count = r.Uint32();
        // Each identity takes at least two length fields.
        if (count > MaxIdentities || count > r.Remaining() / 8) throw ENvSSHException("Invalid size");
        std::vector<TIdentity> keys;
        for (uint32_t i = 0; i < count; ++i) {
            TIdentity id;
            id.Blob = r.StringBytes();
            id.Comment = r.String();
            auto key = std::make_unique<TNvSSHKey>();
            bool known = false;
            try {
                known = KeyFromBlob(id.Blob, *key);
            } catch (const ENvSSHException&) {
                known = false; // a type this client cannot read (ECDSA, certificates, ...)
            }
            if (!known) continue;
            id.Key = std::move(key);
            keys.push_back(std::move(id));
        }
        r.ExpectEnd();
        FKeys = std::move(keys);
        return true;
    } catch (const ENvSSHException&) {
        Report("Invalid reply from the SSH agent");
        return false;
    }
}

TBytes TNvSSHAgentKeyStorage::Sign(const TBytes& blob, const std::string& algorithm, const uint8_t* data,
                                   size_t len) {
    uint32_t flags = 0;
    if (algorithm == "rsa-sha2-256")
        flags = FlagRsaSha256;
    else if (algorithm == "rsa-sha2-512")
        flags = FlagRsaSha512;
    TBytes request;
    {
        TSshWriter w(MaxReplySize);
        w.Byte(SignRequest).String(blob).String(data, len).Uint32(flags);
        request = w.Take();
    }
    TBytes reply;
    if (!Transact(request, reply)) return {};
    try {
        TSshReader r(reply, MaxReplySize);
        const uint8_t type = r.Byte();
        if (type != SignResponse) {
            Report(type == AgentFailure ? "The SSH agent refused to sign"
                                        : "Invalid reply from the SSH agent");
            return {};
        }
        TBytes signature = r.StringBytes();
        r.ExpectEnd();
        // An agent without the SHA-2 flags would answer "ssh-rsa", which the server was not told.
        if (SignatureAlgorithm(signature) != algorithm) {
            Report("The SSH agent signed with \"" + SignatureAlgorithm(signature) + "\" instead of \"" +
                   algorithm + "\"");
            return {};
        }
        return signature;
    } catch (const ENvSSHException&) {
        Report("Invalid reply from the SSH agent");
        return {};
    }
}

bool TNvSSHAgentKeyStorage::SignExternally(int index, const std::string& algorithm, const uint8_t* data,
                                           size_t len, TBytes& signature) {
    signature.clear();
    if (index < 0 || index >= GetCount()) return true;
    signature = Sign(FKeys[size_t(index)].Blob, algorithm, data, len);
    return true;
}

void TNvSSHUserKeys::Apply(TNvSSHClient& client, const TNvSSHLogonSettings& settings) {
    client.Versions = qxSSH2;
    if (settings.SshV1) {
        client.Versions |= qxSSH1;
        Log("SSH V1 allows protocol 1.5, which is not secure");
    }
    FFile.Clear();
    FAgent.Clear();
    client.SetKeyStorage(nullptr);
    if (!settings.PrivateKey.empty()) {
        FFile.OnPassphrase = OnPassphrase;
        if (!FFile.LoadFile(settings.PrivateKey)) {
            Log("Private key not used: " + FFile.LastError);
            return;
        }
        Offer(client, &FFile);
        return;
    }
    if (FAgent.SocketPath().empty()) return;
    FAgent.OnError = [this](TNvSSHAgentKeyStorage*, const std::string& m) { Log(m); };
    if (FAgent.Refresh() && FAgent.Count() > 0) {
        Offer(client, &FAgent);
    }
}

void TNvSSHUserKeys::Offer(TNvSSHClient& client, TNvSSHCustomKeyStorage* storage) {
    client.SetKeyStorage(storage);
    client.AuthenticationTypes |= atPublicKey;
    // The client tries "password" before "publickey"; with no password typed that attempt could
    // only fail (and count against the server's tries), so the key goes first by leaving it out.
    if (client.Password.empty()) client.AuthenticationTypes &= ~unsigned(atPassword);
}

} // namespace Varnello::Ssh
