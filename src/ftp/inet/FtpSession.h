// One FTP control connection and the data connections it opens: login, the directory
// commands, listings and file transfers. The session speaks the protocol and knows nothing of
// handles, threads or the last-error slot; every failure is thrown as EInetFailure with the
// library's code, and LastReply() keeps the server's last words for the extended-error text.
//
// Data connections start in active mode (PORT, or EPRT over IPv6). When the server refuses
// that or says it cannot open the connection, the session switches to passive mode (EPSV,
// then PASV) for good. Passive data connections go to the control connection's peer whatever
// address a PASV reply names, and active ones are accepted only from that peer, so a server
// cannot point our data at a third host nor can a third host feed us data.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ftp/inet/FtpReply.h"
#include "ftp/inet/FtpSocket.h"
#include "ftp/inet/FtpTls.h"
#include "ftp/inet/WinInet.h"

struct TInetOptions {
    int ConnectTimeoutMs = 30000;
    int ReceiveTimeoutMs = 30000; // control replies and data reads
    int SendTimeoutMs = 30000;    // control commands and data writes
    DWORD ProgressStep = 64 * 1024;
    DWORD TlsMode = FTP_TLS_PLAIN;
    int IdleMs = 60000;
    bool Reconnect = false;
    TFtpCertificateCallback CertificateCallback = nullptr;
    void* CertificateContext = nullptr;
    TFtpLogCallback LogCallback = nullptr;
    void* LogContext = nullptr;
    DWORD LogConnection = 0; // this connection's number in the log
};

class TFtpSession {
public:
    // Called after each chunk of a transfer with its size.
    using TProgress = std::function<void(std::size_t bytes)>;
    // Receives downloaded bytes; throws EInetFailure on a local write error.
    using TSink = std::function<void(const char* data, std::size_t length)>;

    explicit TFtpSession(const TInetOptions& options);
    ~TFtpSession();

    TInetOptions& Options() { return FOptions; }
    const TFtpReply& LastReply() const { return FLastReply; }
    bool UsesMlsd() const { return FUseMlsd; }
    // The server's FEAT named "REST STREAM": a transfer can start in the middle of a file.
    bool SupportsRestart() const { return FRestStream; }
    bool IsPassive() const { return FPassive; }
    bool WasAborted() const { return FAborted; }
    // "TLSv1.3" and the like while the control connection is encrypted, else "".
    std::string TlsVersion() const { return FControlTls ? FControlTls->Version() : std::string(); }
    // Whether the last protected data connection resumed the control connection's TLS session.
    bool LastDataResumed() const { return FDataResumed; }
    // How often the session has connected again after the server closed it.
    int Reconnects() const { return FReconnects; }

    // Connects, logs in, reads FEAT, switches to UTF-8 names when offered and to binary type.
    void Open(const std::string& hostField, std::uint16_t defaultPort, const std::string& user,
              const std::string& password, bool passiveOnly);

    std::string CurrentDirectory();
    // NOOP when nothing was sent for the idle time; false when nothing was due.
    bool KeepAlive();
    // Runs one command call; a connection the server closed before anything was transferred
    // is opened again (login, folder) and the call repeated once.
    template <class F> auto Reconnecting(F&& call) -> decltype(call());
    // Sends "verb argument" and requires a 2xx reply (else ERROR_INTERNET_EXTENDED_ERROR).
    void Simple(const std::string& verb, const std::string& argument);
    // The entries of a folder (argument empty = the current one); MLSD when the server offers it.
    std::vector<TWin32FindData> List(const std::string& argument);
    // Entries the last listing left out because their names do not fit a record.
    std::size_t LastListingLongNames() const { return FLongNames; }
    // Returns the byte count received. A non-zero offset asks for the file from that byte on
    // (REST); the server's refusal of REST fails the call like any refusal.
    std::uint64_t Retrieve(const std::string& remote, const TSink& sink, const TProgress& progress,
                           std::uint64_t offset = 0);
    // The size the last RETR's preliminary reply announced ("150 ... (1234 bytes)"), or
    // FTP_SIZE_UNKNOWN.
    std::uint64_t AnnouncedSize() const { return FAnnouncedSize; }
    // The server's SIZE answer, or FTP_SIZE_UNKNOWN when it gives none.
    std::uint64_t RemoteSize(const std::string& remote);
    // The server's MDTM answer as a FILETIME value, or 0 when it gives none.
    std::uint64_t RemoteModified(const std::string& remote);
    // Replaces the last reply's text with a sentence of ours (the code stays the server's).
    void SetLastText(const std::string& text) { FLastReply.Text = text; }
    // Sends the file behind fd from its current position until its end; append sends APPE,
    // so the bytes go after what the server's file holds.
    void Store(const std::string& remote, int fd, const TProgress& progress, bool append = false);

    // Polite close: QUIT when the connection is sound, then close.
    void Quit();
    // From any thread: wakes a call blocked on this session, which then fails with
    // ERROR_INTERNET_OPERATION_CANCELLED. The session is unusable afterwards.
    void Abort();

private:
    void Connect();
    void Reconnect();
    void StartControlTls();
    void CheckCertificate();
    void StartDataTls();
    // Runs a TLS step on fd until it completes, waiting as it asks; throws on time-out.
    TTlsResult TlsStep(int fd, int timeoutMs, const std::function<TTlsResult()>& step);
    // Reads from the control connection: bytes, 0 when it is gone, -1 to wait and try again.
    ssize_t ControlRecv(char* buffer, std::size_t size);
    bool ControlPending() const { return FControlTls && FControlTls->Pending(); }
    // Sends all of data over fd (through tls when set); false when the connection broke.
    bool SendAllOn(int fd, TTls* tls, const char* data, std::size_t size, int timeoutMs);
    std::optional<TFtpReply> OpenDataConnection(const std::string& command);
    // REST for the next data command when one is due; the server's refusal, if any.
    std::optional<TFtpReply> SendRestart();
    TFtpReply ReadReply();
    TFtpReply ReadFinalReply(); // skips 1xx
    void SendCommand(const std::string& line);
    void Log(DWORD kind, const std::string& text) const;
    TFtpReply Command(const std::string& line);
    [[noreturn]] void Refused(const TFtpReply& reply); // throws 12003
    [[noreturn]] void Dropped();                       // throws 12030, 12111 or 12017
    void CheckUsable();

    bool PrepareActive();
    void PreparePassive();
    // Opens the data connection and sends the command. Returns the server's refusal, if any,
    // with the data connection closed; otherwise the data connection is ready.
    std::optional<TFtpReply> OpenData(const std::string& command);
    void AcceptFromServer();
    // After the data connection is done: the transfer's final reply must be 2xx.
    void FinishTransfer();
    // The data connection broke: the server's reply, if it sends one, says why.
    [[noreturn]] void DataFailed(DWORD code = ERROR_FTP_DROPPED, const std::string& why = {});
    void CloseData();
    void CloseListener();
    void ReceiveAll(const TSink& sink, const TProgress& progress);

    TInetOptions FOptions;
    TSocket FControl, FData, FListener;
    std::mutex FSocketLock; // guards closing the sockets against Abort from another thread
    std::atomic<bool> FAborted{false};
    // Signalled by Abort; every wait of the session polls it, also the connect of a data
    // connection that is not yet one of the sockets above.
    TSocket FWake;
    // WaitFor on the session's wake-up; an abort throws (12017) instead of returning.
    bool Wait(int fd, short events, int timeoutMs);
    bool FDead = false;       // the control connection can no longer be trusted
    bool FInTransfer = false; // a drop now is a dropped transfer
    bool FPassive = false;
    bool FUseEpsv = true;
    bool FUseMlsd = false;
    bool FRestStream = false;
    std::uint64_t FRestart = 0; // REST sent right before the next data command when non-zero
    std::size_t FLongNames = 0;
    std::uint64_t FAnnouncedSize = FTP_SIZE_UNKNOWN;
    TAddress FPeer;
    TFtpReplyReader FReader;
    TFtpReply FLastReply;
    std::optional<TFtpReply> FEarlyFinal; // a final reply that came before the data connection
    std::unique_ptr<char[]> FBuffer;
    // A reply must be complete by then, however slowly its bytes trickle in; set when a
    // command is sent (and for the greeting and a transfer's final reply).
    std::chrono::steady_clock::time_point FReplyDeadline;
    void StartReplyClock();

    std::unique_ptr<TTls> FControlTls, FDataTls;
    struct TSessionFree {
        void operator()(SSL_SESSION* s) const { FreeTlsSession(s); }
    };
    std::unique_ptr<SSL_SESSION, TSessionFree> FResume; // the last data connection's, for the next
    bool FProtected = false;                            // PROT P accepted: data connections use TLS
    bool FDataResumed = false;
    std::string FAcceptedFingerprint; // a certificate the user let pass, for reconnects
    std::string FControlFingerprint;
    // What Open was given, for connecting again, and the folder to return to.
    std::string FHostField, FHost, FUser, FPassword, FDirectory;
    std::uint16_t FDefaultPort = 0;
    bool FPassiveOnly = false;
    bool FServerClosed = false; // the last failure was the server closing the connection
    bool FTransferred = false;  // bytes of the current call moved: it cannot be repeated
    int FReconnects = 0;
    std::chrono::steady_clock::time_point FLastCommand;
};

template <class F> auto TFtpSession::Reconnecting(F&& call) -> decltype(call()) {
    if (!FOptions.Reconnect) return call();
    if (FDead && FServerClosed && !FAborted) Reconnect();
    FTransferred = false;
    try {
        return call();
    } catch (const EInetFailure&) {
        if (!FServerClosed || FTransferred || FAborted) throw;
    }
    Reconnect();
    FTransferred = false;
    return call();
}
