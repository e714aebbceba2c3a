// The FTP protocol engine; see FtpSession.h.
#include "ftp/inet/FtpSession.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>

#include "ftp/inet/FtpList.h"

namespace {

// Large reads and writes keep the per-byte cost of a transfer down to one copy.
constexpr std::size_t BufferSize = 1 << 20;
// QUIT on close waits no longer than this for the goodbye.
constexpr int QuitTimeoutMs = 3000;
// How long a data connection may lag behind a final reply that came before it.
constexpr int EarlyFinalGraceMs = 2000;
// Preliminary (1xx) replies accepted before the final one of a command.
constexpr int MaxPreliminaryReplies = 8;
// One whole TLS record, so a control read leaves nothing decrypted behind unseen by poll.
constexpr std::size_t TlsRecordSize = 16384 + 256;

bool Is2xx(const TFtpReply& r) {
    return r.Code / 100 == 2;
}

// "150 Opening BINARY mode data connection for f (1234 bytes)." -> 1234.
std::uint64_t SizeInPreliminary(const TFtpReply& r) {
    if (r.Code != 150) return FTP_SIZE_UNKNOWN;
    const std::string& t = r.Text;
    std::size_t open = t.rfind('(');
    if (open == std::string::npos) return FTP_SIZE_UNKNOWN;
    std::size_t i = open + 1, digits = 0;
    std::uint64_t size = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9' && digits < 19; ++i, ++digits)
        size = size * 10 + std::uint64_t(t[i] - '0');
    if (digits == 0 || t.compare(i, 7, " bytes)") != 0) return FTP_SIZE_UNKNOWN;
    return size;
}

} // namespace

TFtpSession::TFtpSession(const TInetOptions& options)
    : FOptions(options), FWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!FWake.IsOpen()) throw EInetFailure{ERROR_INTERNET_INTERNAL_ERROR};
}

bool TFtpSession::Wait(int fd, short events, int timeoutMs) {
    bool ready = WaitFor(fd, events, timeoutMs, FWake.Fd());
    if (FAborted) Dropped();
    return ready;
}

TFtpSession::~TFtpSession() = default;

void TFtpSession::CheckUsable() {
    if (FAborted) throw EInetFailure{ERROR_INTERNET_OPERATION_CANCELLED};
    if (FDead || !FControl.IsOpen()) throw EInetFailure{ERROR_INTERNET_CONNECTION_ABORTED};
}

void TFtpSession::Dropped() {
    FDead = true;
    if (FAborted) throw EInetFailure{ERROR_INTERNET_OPERATION_CANCELLED};
    FServerClosed = true;
    Log(FTP_LOG_NOTE, "The server closed the connection");
    throw EInetFailure{FInTransfer ? ERROR_FTP_DROPPED : ERROR_INTERNET_CONNECTION_ABORTED};
}

void TFtpSession::Refused(const TFtpReply& reply) {
    if (reply.Code == 421) FDead = FServerClosed = true; // the server is closing the connection
    throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
}

TFtpReply TFtpSession::ReadReply() {
    TFtpReply reply;
    for (;;) {
        switch (FReader.Next(reply)) {
        case rsComplete:
            FLastReply = reply;
            Log(FTP_LOG_REPLY, reply.Text);
            return reply;
        case rsInvalid:
            // Not FTP, or a reply without end: we cannot tell which command it belongs to.
            FDead = true;
            throw EInetFailure{ERROR_INTERNET_CONNECTION_ABORTED};
        case rsIncomplete:
            break;
        }
        if (FAborted) Dropped();
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(FReplyDeadline -
                                                                          std::chrono::steady_clock::now());
        if (!ControlPending() &&
            (left.count() <= 0 || !Wait(FControl.Fd(), POLLIN, static_cast<int>(left.count())))) {
            FDead = true; // a late reply would answer the wrong command
            throw EInetFailure{ERROR_INTERNET_TIMEOUT};
        }
        char chunk[TlsRecordSize];
        ssize_t n = ControlRecv(chunk, sizeof chunk);
        if (n < 0) continue;
        if (n == 0) Dropped();
        FReader.Feed(chunk, static_cast<std::size_t>(n));
    }
}

void TFtpSession::StartReplyClock() {
    FReplyDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FOptions.ReceiveTimeoutMs);
}

TFtpReply TFtpSession::ReadFinalReply() {
    TFtpReply reply = ReadReply();
    // A few preliminary replies are normal; an endless run of them is a server stalling us.
    for (int preliminary = 0; reply.Code / 100 == 1; ++preliminary) {
        if (preliminary >= MaxPreliminaryReplies) {
            FDead = true;
            throw EInetFailure{ERROR_INTERNET_TIMEOUT};
        }
        reply = ReadReply();
    }
    return reply;
}

void TFtpSession::Log(DWORD kind, const std::string& text) const {
    if (FOptions.LogCallback)
        FOptions.LogCallback(FOptions.LogConnection, kind, text.c_str(), FOptions.LogContext);
}

void TFtpSession::SendCommand(const std::string& line) {
    CheckUsable();
    StartReplyClock();
    // The log is shown and copied; the password never is.
    Log(FTP_LOG_COMMAND, line.compare(0, 5, "PASS ") == 0 ? std::string("PASS ****") : line);
    std::string wire = line + "\r\n";
    FLastCommand = std::chrono::steady_clock::now();
    if (!SendAllOn(FControl.Fd(), FControlTls.get(), wire.data(), wire.size(), FOptions.SendTimeoutMs))
        Dropped();
}

bool TFtpSession::SendAllOn(int fd, TTls* tls, const char* data, std::size_t size, int timeoutMs) {
    std::size_t sent = 0;
    if (tls) {
        // Write first and wait only when TLS asks: a poll per record would halve the speed.
        while (sent < size) {
            std::size_t put = 0;
            TTlsResult r = tls->Write(data + sent, size - sent, put);
            if (r == trDone) {
                sent += put;
                continue;
            }
            if (r != trWantRead && r != trWantWrite) return false;
            if (!Wait(fd, r == trWantRead ? POLLIN : POLLOUT, timeoutMs)) {
                FDead = true;
                throw EInetFailure{ERROR_INTERNET_TIMEOUT};
            }
        }
        return true;
    }
    while (sent < size) {
        if (!Wait(fd, POLLOUT, timeoutMs)) {
            FDead = true;
            throw EInetFailure{ERROR_INTERNET_TIMEOUT};
        }
        ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t TFtpSession::ControlRecv(char* buffer, std::size_t size) {
    if (FControlTls) {
        std::size_t got = 0;
        TTlsResult r = FControlTls->Read(buffer, size, got);
        if (r == trDone) return static_cast<ssize_t>(got);
        return r == trWantRead || r == trWantWrite ? -1 : 0;
    }
    ssize_t n = ::recv(FControl.Fd(), buffer, size, 0);
    if (n < 0 && errno == EINTR) return -1;
    return n < 0 ? 0 : n;
}

TTlsResult TFtpSession::TlsStep(int fd, int timeoutMs, const std::function<TTlsResult()>& step) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        TTlsResult r = step();
        if (r != trWantRead && r != trWantWrite) return r;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            !Wait(fd, r == trWantRead ? POLLIN : POLLOUT, static_cast<int>(left.count()))) {
            FDead = true;
            throw EInetFailure{ERROR_INTERNET_TIMEOUT};
        }
    }
}

void TFtpSession::StartControlTls() {
    SetNonBlocking(FControl.Fd());
    FControlTls = std::make_unique<TTls>(FControl.Fd(), FHost, nullptr);
    TTlsResult r =
        TlsStep(FControl.Fd(), FOptions.ConnectTimeoutMs, [&] { return FControlTls->Handshake(); });
    if (r != trDone) {
        FDead = true;
        SetLastText("The TLS handshake with the server failed: " + FControlTls->ErrorText() + ".");
        throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
    }
    CheckCertificate();
}

void TFtpSession::CheckCertificate() {
    TTlsCertificate cert = FControlTls->Certificate();
    FControlFingerprint = cert.Fingerprint;
    if (cert.Problem.empty()) return;
    bool accepted = !cert.Fingerprint.empty() && cert.Fingerprint == FAcceptedFingerprint;
    if (!accepted && FOptions.CertificateCallback && !cert.Fingerprint.empty()) {
        std::string host;
        std::uint16_t port = 0;
        SplitHostPort(FHostField, host, port);
        TFtpCertificateInfo info{
            host.c_str(),           FPeer.Port(),          cert.Subject.c_str(),     cert.Issuer.c_str(),
            cert.NotBefore.c_str(), cert.NotAfter.c_str(), cert.Fingerprint.c_str(), cert.Problem.c_str()};
        accepted = FOptions.CertificateCallback(&info, FOptions.CertificateContext) != 0;
    }
    if (!accepted) {
        FDead = true;
        SetLastText("The server's certificate is not trusted: " + cert.Problem + ".");
        throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
    }
    FAcceptedFingerprint = cert.Fingerprint;
}

void TFtpSession::StartDataTls() {
    SetNonBlocking(FData.Fd());
    // A TLS 1.3 ticket serves one resumption: after the control connection's, the last data
    // connection's ticket (same session lineage) is offered.
    SSL_SESSION* session = FControlTls->Session();
    if (!IsResumable(session) && IsResumable(FResume.get())) {
        FreeTlsSession(session);
        session = FResume.get();
        UpRefTlsSession(session);
    }
    {
        std::lock_guard<std::mutex> lock(FSocketLock);
        FDataTls = std::make_unique<TTls>(FData.Fd(), FHost, session);
    }
    FDataTls->ReadAhead();
    FreeTlsSession(session);
    TTlsResult r;
    try {
        r = TlsStep(FData.Fd(), FOptions.ConnectTimeoutMs, [&] { return FDataTls->Handshake(); });
    } catch (const EInetFailure&) {
        CloseData();
        throw;
    }
    if (r != trDone)
        DataFailed(ERROR_INTERNET_EXTENDED_ERROR,
                   "The TLS handshake on the data connection failed: " + FDataTls->ErrorText() + ".");
    FDataResumed = FDataTls->Resumed();
    // Only the server we verified may serve our data.
    if (!FDataResumed && FDataTls->Certificate().Fingerprint != FControlFingerprint)
        DataFailed(ERROR_INTERNET_EXTENDED_ERROR,
                   "The data connection's certificate differs from the control connection's.");
}

TFtpReply TFtpSession::Command(const std::string& line) {
    SendCommand(line);
    return ReadFinalReply();
}

void TFtpSession::Open(const std::string& hostField, std::uint16_t defaultPort, const std::string& user,
                       const std::string& password, bool passiveOnly) {
    FHostField = hostField;
    FDefaultPort = defaultPort;
    FUser = user;
    FPassword = password;
    FPassiveOnly = passiveOnly;
    Connect();
}

void TFtpSession::Reconnect() {
    {
        std::lock_guard<std::mutex> lock(FSocketLock);
        FDataTls.reset();
        FControlTls.reset();
        FData.Close();
        FListener.Close();
        FControl.Close();
    }
    FReader = TFtpReplyReader();
    FEarlyFinal.reset();
    ++FReconnects;
    Connect();
    if (!FDirectory.empty()) Simple("CWD", FDirectory);
}

bool TFtpSession::KeepAlive() {
    if (FDead || !FControl.IsOpen()) return false;
    if (std::chrono::steady_clock::now() - FLastCommand < std::chrono::milliseconds(FOptions.IdleMs))
        return false;
    Command("NOOP"); // any answer will do; a gone connection throws
    if (FLastReply.Code == 421) Refused(FLastReply);
    return true;
}

void TFtpSession::Connect() {
    FDead = false;
    FServerClosed = false;
    FProtected = false;
    std::string host;
    std::uint16_t port = 0;
    if (!SplitHostPort(FHostField, host, port)) throw EInetFailure{ERROR_INTERNET_NAME_NOT_RESOLVED};
    FHost = host;
    const bool implicit = FOptions.TlsMode == FTP_TLS_IMPLICIT;
    const std::uint16_t defaultPort = FDefaultPort;
    const bool passiveOnly = FPassiveOnly;
    const std::string& user = FUser;
    const std::string& password = FPassword;
    if (port == 0)
        port = defaultPort ? defaultPort : implicit ? INTERNET_DEFAULT_FTPS_PORT : INTERNET_DEFAULT_FTP_PORT;
    DWORD lastFailure = ERROR_INTERNET_CANNOT_CONNECT;
    for (const TAddress& address : Resolve(host, port)) {
        try {
            FControl = ConnectTo(address, FOptions.ConnectTimeoutMs, FWake.Fd());
            break;
        } catch (const EInetFailure& e) {
            lastFailure = e.Code;
        }
    }
    if (!FControl.IsOpen()) throw EInetFailure{lastFailure};
    Log(FTP_LOG_NOTE, "Connected to " + host + " port " + std::to_string(port));
    FPeer = PeerAddress(FControl.Fd());
    FPassive = passiveOnly;
    if (implicit) {
        StartControlTls();
        Log(FTP_LOG_NOTE, "Encrypted with " + FControlTls->Version());
    }
    StartReplyClock();

    TFtpReply greeting = ReadFinalReply(); // "120 ready in n minutes" precedes the real greeting
    if (!Is2xx(greeting)) Refused(greeting);

    if (FOptions.TlsMode == FTP_TLS_EXPLICIT_IF_OFFERED || FOptions.TlsMode == FTP_TLS_EXPLICIT_REQUIRED) {
        TFtpReply auth = Command("AUTH TLS");
        if (auth.Code == 234) {
            StartControlTls();
            Log(FTP_LOG_NOTE, "Encrypted with " + FControlTls->Version());
        } else if (auth.Code == 421 || FOptions.TlsMode == FTP_TLS_EXPLICIT_REQUIRED) {
            FDead = true;
            if (auth.Code != 421) SetLastText("The server does not offer TLS: " + auth.Text);
            throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
        }
    }

    TFtpReply reply = Command("USER " + user);
    if (reply.Code / 100 == 3 && reply.Code != 332) {
        reply = Command("PASS " + password);
        if (reply.Code == 530) throw EInetFailure{ERROR_INTERNET_INCORRECT_PASSWORD};
    }
    if (!Is2xx(reply)) throw EInetFailure{ERROR_INTERNET_LOGIN_FAILURE}; // includes a demanded ACCT

    if (FControlTls) {
        Command("PBSZ 0");
        reply = Command("PROT P");
        if (!Is2xx(reply)) {
            FDead = true;
            SetLastText("The server refuses to encrypt data connections: " + reply.Text);
            throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
        }
        FProtected = true;
    }

    reply = Command("FEAT");
    if (reply.Code == 211) {
        std::set<std::string> features = ParseFeatures(reply.Text);
        FUseMlsd = features.count("MLST") || features.count("MLSD");
        FRestStream = features.count("REST") != 0;           // "REST STREAM" is the only kind there is
        if (features.count("UTF8")) Command("OPTS UTF8 ON"); // names are bytes to us either way
    }
    reply = Command("TYPE I");
    if (!Is2xx(reply)) Refused(reply);
}

std::string TFtpSession::CurrentDirectory() {
    TFtpReply reply = Command("PWD");
    std::string path;
    if (reply.Code != 257 || !ParsePwdReply(reply.Text, path)) Refused(reply);
    return path;
}

void TFtpSession::Simple(const std::string& verb, const std::string& argument) {
    TFtpReply reply = Command(verb + " " + argument);
    if (!Is2xx(reply)) Refused(reply);
    if (verb == "CWD") {
        // Kept for connecting again; a relative argument is only known by its result.
        TFtpReply pwd = Command("PWD");
        std::string path;
        if (pwd.Code == 257 && ParsePwdReply(pwd.Text, path)) FDirectory = path;
        FLastReply = reply;
    }
}

void TFtpSession::CloseData() {
    if (FDataTls) {
        SSL_SESSION* next = FDataTls->Session();
        if (IsResumable(next))
            FResume.reset(next);
        else
            FreeTlsSession(next);
    }
    std::lock_guard<std::mutex> lock(FSocketLock);
    FDataTls.reset();
    FData.Close();
}

void TFtpSession::CloseListener() {
    std::lock_guard<std::mutex> lock(FSocketLock);
    FListener.Close();
}

void TFtpSession::Abort() {
    FAborted = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(FWake.Fd(), &one, sizeof one);
    std::lock_guard<std::mutex> lock(FSocketLock);
    for (TSocket* s : {&FControl, &FData, &FListener})
        if (s->IsOpen()) ::shutdown(s->Fd(), SHUT_RDWR);
}

bool TFtpSession::PrepareActive() {
    TAddress local = LocalAddress(FControl.Fd());
    local.SetPort(0);
    {
        TSocket listener(::socket(local.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!listener.IsOpen() ||
            ::bind(listener.Fd(), reinterpret_cast<sockaddr*>(&local.Storage), local.Length) != 0 ||
            ::listen(listener.Fd(), 4) != 0)
            return false; // no way to listen here: passive it is
        std::lock_guard<std::mutex> lock(FSocketLock);
        FListener = std::move(listener);
    }
    std::uint16_t port = LocalAddress(FListener.Fd()).Port();
    std::string line;
    if (local.Family() == AF_INET) {
        std::string host = local.HostText();
        std::replace(host.begin(), host.end(), '.', ',');
        line = "PORT " + host + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
    } else {
        line = "EPRT |2|" + local.HostText() + "|" + std::to_string(port) + "|";
    }
    TFtpReply reply = Command(line);
    if (Is2xx(reply)) return true;
    CloseListener();
    if (reply.Code == 421) Refused(reply);
    return false;
}

void TFtpSession::PreparePassive() {
    std::uint16_t port = 0;
    bool ok = false;
    if (FUseEpsv || FPeer.Family() != AF_INET) {
        TFtpReply reply = Command("EPSV");
        ok = reply.Code == 229 && ParseEpsvReply(reply.Text, port);
        if (!ok) {
            if (reply.Code == 421 || FPeer.Family() != AF_INET) Refused(reply);
            FUseEpsv = false;
        }
    }
    if (!ok) {
        TFtpReply reply = Command("PASV");
        // Only the port of the reply is used; see the file comment.
        if (reply.Code != 227 || !ParsePasvReply(reply.Text, port)) Refused(reply);
    }
    TAddress target = FPeer;
    target.SetPort(port);
    TSocket data;
    try {
        data = ConnectTo(target, FOptions.ConnectTimeoutMs, FWake.Fd());
    } catch (const EInetFailure&) {
        if (FAborted) Dropped();
        throw;
    }
    std::lock_guard<std::mutex> lock(FSocketLock);
    FData = std::move(data);
}

void TFtpSession::AcceptFromServer() {
    TAddress from;
    from.Length = sizeof from.Storage;
    TSocket s(
        ::accept4(FListener.Fd(), reinterpret_cast<sockaddr*>(&from.Storage), &from.Length, SOCK_CLOEXEC));
    if (!s.IsOpen()) {
        if (FAborted) Dropped();
        return; // a connection that vanished before we took it; keep waiting
    }
    if (!from.SameHost(FPeer)) return; // not the server: dropped, we keep waiting for the server
    std::lock_guard<std::mutex> lock(FSocketLock);
    FData = std::move(s);
}

std::optional<TFtpReply> TFtpSession::OpenData(const std::string& command) {
    std::optional<TFtpReply> refusal = OpenDataConnection(command);
    if (!refusal && FProtected && FData.IsOpen()) StartDataTls();
    return refusal;
}

std::optional<TFtpReply> TFtpSession::SendRestart() {
    if (FRestart == 0) return std::nullopt;
    TFtpReply reply = Command("REST " + std::to_string(FRestart));
    if (reply.Code == 350) return std::nullopt;
    CloseData();
    return reply;
}

std::optional<TFtpReply> TFtpSession::OpenDataConnection(const std::string& command) {
    FEarlyFinal.reset();
    for (;;) {
        bool active = !FPassive && PrepareActive();
        if (!active) {
            FPassive = true;
            PreparePassive();
            if (std::optional<TFtpReply> refusal = SendRestart()) return refusal;
            SendCommand(command);
            TFtpReply reply = ReadReply();
            if (reply.Code / 100 == 1) return std::nullopt;
            // Some servers skip the 150 for an empty file: the 226 alone is a success, and the
            // data connection still holds whatever was sent.
            if (Is2xx(reply)) {
                FEarlyFinal = reply;
                return std::nullopt;
            }
            CloseData();
            return reply;
        }
        if (std::optional<TFtpReply> refusal = SendRestart()) {
            CloseListener();
            return refusal;
        }
        SendCommand(command);
        // The server may connect before or after its preliminary reply, or answer 425 when it
        // cannot reach us; watch both the control connection and the listener.
        bool preliminary = false;
        bool fallBack = false;
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(FOptions.ReceiveTimeoutMs);
        while (!FData.IsOpen()) {
            if ((FReader.HasBufferedData() || ControlPending()) && !FEarlyFinal) {
                TFtpReply reply = ReadReply();
                if (reply.Code / 100 == 1) {
                    preliminary = true;
                    continue;
                }
                if (Is2xx(reply)) {
                    // The server has finished, yet its connection may still wait in our accept
                    // queue (behind a foreign one, say): take it, with its data, before giving
                    // up on it. No connection within the grace means nothing was sent.
                    FEarlyFinal = reply;
                    deadline = std::min(deadline, std::chrono::steady_clock::now() +
                                                      std::chrono::milliseconds(EarlyFinalGraceMs));
                    continue;
                }
                CloseListener();
                if (reply.Code == 425 && !preliminary) {
                    fallBack = true;
                    break;
                }
                return reply;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                CloseListener();
                if (FEarlyFinal) return std::nullopt; // a 2xx with no data connection: empty
                FDead = true;
                throw EInetFailure{ERROR_INTERNET_TIMEOUT};
            }
            // After the final reply only the listener matters; the control stays unread.
            pollfd p[3] = {{FEarlyFinal ? -1 : FControl.Fd(), POLLIN, 0},
                           {FListener.Fd(), POLLIN, 0},
                           {FWake.Fd(), POLLIN, 0}};
            int rc = ::poll(p, 3, static_cast<int>(left.count()));
            if (FAborted) Dropped();
            if (rc < 0 && errno != EINTR) Dropped();
            if (rc <= 0) continue;
            if (p[1].revents) AcceptFromServer();
            if (p[0].revents && !FData.IsOpen()) {
                char chunk[TlsRecordSize];
                ssize_t n = ControlRecv(chunk, sizeof chunk);
                if (n < 0) continue;
                if (n == 0) Dropped();
                FReader.Feed(chunk, static_cast<std::size_t>(n));
            }
        }
        if (fallBack) {
            FPassive = true;
            continue;
        }
        CloseListener();
        if (!preliminary && !FEarlyFinal) {
            TFtpReply reply = ReadReply();
            if (Is2xx(reply)) {
                FEarlyFinal = reply; // all data already sent; still read what the socket holds
            } else if (reply.Code / 100 != 1) {
                CloseData();
                return reply;
            }
        }
        return std::nullopt;
    }
}

void TFtpSession::FinishTransfer() {
    if (FAborted) Dropped(); // the data may have ended because we were cut off
    StartReplyClock();       // the transfer itself may take as long as it needs
    TFtpReply reply = FEarlyFinal ? *FEarlyFinal : ReadFinalReply();
    FEarlyFinal.reset();
    if (!Is2xx(reply)) Refused(reply);
}

void TFtpSession::DataFailed(DWORD code, const std::string& why) {
    CloseData();
    if (FAborted) Dropped();
    StartReplyClock();
    TFtpReply reply = FEarlyFinal ? *FEarlyFinal : ReadFinalReply();
    FEarlyFinal.reset();
    if (!Is2xx(reply)) Refused(reply);
    if (!why.empty()) SetLastText(why);
    throw EInetFailure{code};
}

void TFtpSession::ReceiveAll(const TSink& sink, const TProgress& progress) {
    if (!FData.IsOpen()) return; // the server confirmed a transfer without connecting
    if (!FBuffer) FBuffer.reset(new char[BufferSize]);
    for (;;) {
        auto waitFor = [&](short events) {
            if (Wait(FData.Fd(), events, FOptions.ReceiveTimeoutMs)) return;
            CloseData();
            FDead = true;
            throw EInetFailure{ERROR_INTERNET_TIMEOUT};
        };
        // Bytes OpenSSL has read ahead need no wait; a record it could not finish does, below.
        if (!(FDataTls && FDataTls->Buffered())) waitFor(POLLIN);
        ssize_t n;
        if (FDataTls) {
            std::size_t got = 0;
            TTlsResult r = FDataTls->Read(FBuffer.get(), BufferSize, got);
            if (r == trWantRead || r == trWantWrite) {
                waitFor(r == trWantRead ? POLLIN : POLLOUT);
                continue;
            }
            if (r == trClosed) {
                FDataTls->Shutdown(); // answer in kind; the server may be gone already
                break;
            }
            // Without close_notify a cut-off connection looks like a short file.
            if (r != trDone)
                DataFailed(ERROR_FTP_DROPPED,
                           "The data connection ended without TLS close_notify: the transfer is incomplete.");
            n = static_cast<ssize_t>(got);
        } else {
            n = ::recv(FData.Fd(), FBuffer.get(), BufferSize, 0);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                DataFailed();
            }
        }
        FTransferred = true;
        try {
            sink(FBuffer.get(), static_cast<std::size_t>(n));
            if (progress) progress(static_cast<std::size_t>(n));
        } catch (...) {
            // Our side failed: drop the data connection and let the server say its piece, so
            // the control connection stays in step for the next command.
            CloseData();
            try {
                StartReplyClock();
                if (!FEarlyFinal) ReadFinalReply();
            } catch (const EInetFailure&) {
            }
            FEarlyFinal.reset();
            throw;
        }
    }
    CloseData();
}

std::vector<TWin32FindData> TFtpSession::List(const std::string& argument) {
    CheckUsable();
    FLongNames = 0;
    for (;;) {
        std::string verb = FUseMlsd ? "MLSD" : "LIST";
        std::optional<TFtpReply> refusal = OpenData(argument.empty() ? verb : verb + " " + argument);
        if (refusal) {
            if (FUseMlsd && (refusal->Code == 500 || refusal->Code == 502)) {
                FUseMlsd = false; // advertised but not served: plain LIST from now on
                continue;
            }
            if (refusal->Code == 450) return {}; // "no files found"
            Refused(*refusal);
        }
        std::string text;
        constexpr std::size_t MaxListing = 256u << 20;
        ReceiveAll(
            [&](const char* data, std::size_t length) {
                if (text.size() + length > MaxListing) throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
                text.append(data, length);
            },
            nullptr);
        FinishTransfer();
        std::vector<TWin32FindData> records =
            ParseListing(text, FUseMlsd, std::time(nullptr), FTP_LISTING_MAX_ENTRIES, &FLongNames);
        if (records.size() > FTP_LISTING_MAX_ENTRIES) {
            SetLastText("The server's listing has more than " + std::to_string(FTP_LISTING_MAX_ENTRIES) +
                        " entries.");
            throw EInetFailure{ERROR_INTERNET_EXTENDED_ERROR};
        }
        return records;
    }
}

std::uint64_t TFtpSession::RemoteSize(const std::string& remote) {
    TFtpReply reply = Command("SIZE " + remote);
    // At most 19 digits, so the value cannot wrap around.
    if (reply.Code != 213 || reply.Text.size() < 5 || reply.Text.size() > 4 + 19) return FTP_SIZE_UNKNOWN;
    std::uint64_t size = 0;
    for (std::size_t i = 4; i < reply.Text.size(); ++i) {
        char ch = reply.Text[i];
        if (ch < '0' || ch > '9') return FTP_SIZE_UNKNOWN;
        size = size * 10 + std::uint64_t(ch - '0');
    }
    return size;
}

std::uint64_t TFtpSession::RemoteModified(const std::string& remote) {
    TFtpReply reply = Command("MDTM " + remote);
    TFileTime t{};
    if (reply.Code != 213 || reply.Text.size() < 4 ||
        !ParseFactTime(std::string_view(reply.Text).substr(4), t))
        return 0;
    return FileTimeValue(t);
}

std::uint64_t TFtpSession::Retrieve(const std::string& remote, const TSink& sink, const TProgress& progress,
                                    std::uint64_t offset) {
    std::uint64_t received = 0;
    CheckUsable();
    FInTransfer = true;
    struct TReset {
        bool& Flag;
        std::uint64_t& Restart;
        ~TReset() {
            Flag = false;
            Restart = 0;
        }
    } reset{FInTransfer, FRestart};
    FAnnouncedSize = FTP_SIZE_UNKNOWN;
    FRestart = offset;
    if (std::optional<TFtpReply> refusal = OpenData("RETR " + remote)) Refused(*refusal);
    FAnnouncedSize = SizeInPreliminary(FLastReply);
    ReceiveAll(
        [&](const char* data, std::size_t length) {
            received += length;
            sink(data, length);
        },
        progress);
    FinishTransfer();
    return received;
}

void TFtpSession::Store(const std::string& remote, int fd, const TProgress& progress, bool append) {
    CheckUsable();
    FInTransfer = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } reset{FInTransfer};
    if (std::optional<TFtpReply> refusal = OpenData((append ? "APPE " : "STOR ") + remote)) Refused(*refusal);
    if (!FBuffer) FBuffer.reset(new char[BufferSize]);
    for (;;) {
        ssize_t n = ::read(fd, FBuffer.get(), BufferSize);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // The server would store a cut file as if complete; closing the data connection
            // is all FTP offers, so abort it and report our read error.
            CloseData();
            try {
                StartReplyClock();
                ReadFinalReply();
            } catch (const EInetFailure&) {
            }
            throw EInetFailure{ERROR_READ_FAULT};
        }
        if (n == 0) break;
        FTransferred = true;
        bool sent;
        try {
            sent =
                SendAllOn(FData.Fd(), FDataTls.get(), FBuffer.get(), std::size_t(n), FOptions.SendTimeoutMs);
        } catch (const EInetFailure& e) {
            if (e.Code == ERROR_INTERNET_TIMEOUT) CloseData();
            throw;
        }
        if (!sent) DataFailed();
        if (progress) progress(std::size_t(n));
    }
    // close_notify tells the server the file is complete, not cut off.
    if (FDataTls) {
        if (TlsStep(FData.Fd(), FOptions.SendTimeoutMs, [&] { return FDataTls->Shutdown(); }) != trDone)
            DataFailed();
        // Closing with unread bytes (session tickets) would reset the connection, and a reset
        // can cost the server the end of the file: read until the server closes.
        ::shutdown(FData.Fd(), SHUT_WR);
        for (;;) {
            std::size_t got = 0;
            TTlsResult r = FDataTls->Read(FBuffer.get(), BufferSize, got);
            if (r == trDone) continue;
            if (r != trWantRead || !Wait(FData.Fd(), POLLIN, FOptions.ReceiveTimeoutMs)) break;
        }
    }
    CloseData();
    FinishTransfer();
}

void TFtpSession::Quit() {
    if (!FAborted && !FDead && FControl.IsOpen()) {
        FOptions.ReceiveTimeoutMs = std::min(FOptions.ReceiveTimeoutMs, QuitTimeoutMs);
        FOptions.SendTimeoutMs = std::min(FOptions.SendTimeoutMs, QuitTimeoutMs);
        try {
            Command("QUIT");
            if (FControlTls) FControlTls->Shutdown();
        } catch (const EInetFailure&) {
        }
    }
    std::lock_guard<std::mutex> lock(FSocketLock);
    FDataTls.reset();
    FControlTls.reset();
    FData.Close();
    FListener.Close();
    FControl.Close();
    FDead = true;
}
