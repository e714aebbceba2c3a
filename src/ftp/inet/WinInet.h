// The Internet-library interface the FTP side of the program is written against: handles,
// find-data records, status callbacks and a per-thread last-error code with the library's
// numbers, implemented by our own FTP client over POSIX sockets. The window and the transfer
// worker call these exactly as they would call the platform library, so the names, argument
// orders and results follow that library; everything behind them (time-outs, data-connection
// modes, listing formats) is ours.
//
// Threads: any call may come from any thread. A connection serves one call at a time; a call
// made while another runs on the same connection fails at once with ERROR_FTP_TRANSFER_IN_PROGRESS.
// The last error and the last server response belong to the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;
using BOOL = int;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;
using HINTERNET = void*;

// 100-nanosecond intervals since 1601-01-01 00:00 UTC.
struct TFileTime {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

constexpr std::size_t MAX_PATH = 260;

struct TWin32FindData {
    DWORD dwFileAttributes;
    TFileTime ftCreationTime;
    TFileTime ftLastAccessTime;
    TFileTime ftLastWriteTime; // UTC
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH]; // zero-terminated
    char cAlternateFileName[14];
};

inline std::uint64_t FindDataSize(const TWin32FindData& data) {
    return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
inline std::uint64_t FileTimeValue(const TFileTime& t) {
    return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0; // use the default port
constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000; // skip active mode altogether
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD FTP_TRANSFER_TYPE_UNKNOWN = 0;
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;

// Status codes passed to the callback; both carry a DWORD byte count as status data.
constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;      // upload: bytes sent since the last one
constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41; // download: bytes received since the last one

// Options for InternetSetOption: time-outs in milliseconds (DWORD). Set on the root handle they
// apply to later connections, on a connection handle to its later calls.
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr DWORD INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
constexpr DWORD INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
// Our own: the largest byte count one progress notification carries (default 64 KiB).
constexpr DWORD INTERNET_OPTION_PROGRESS_STEP = 0x7F000001;
// Our own: FTP over TLS for later connections, one of the FTP_TLS_ values (default plain).
// Explicit TLS sends AUTH TLS after the greeting, then PBSZ 0 and PROT P after the login, so the
// data connections are protected too; implicit TLS starts TLS on the first byte (port 990 when
// InternetConnect names none). TLS 1.2 and 1.3 only.
constexpr DWORD INTERNET_OPTION_FTP_TLS = 0x7F000002;
constexpr DWORD FTP_TLS_PLAIN = 0;
constexpr DWORD FTP_TLS_EXPLICIT_IF_OFFERED = 1; // plain when the server refuses AUTH TLS
constexpr DWORD FTP_TLS_EXPLICIT_REQUIRED = 2;
constexpr DWORD FTP_TLS_IMPLICIT = 3;
// Our own: milliseconds without a command after which FtpKeepAlive sends NOOP (default 60 s).
constexpr DWORD INTERNET_OPTION_FTP_IDLE_TIME = 0x7F000003;
// Our own: non-zero lets command calls connect again after the server closed the connection
// (see FtpKeepAlive); default 0, a closed connection stays closed.
constexpr DWORD INTERNET_OPTION_FTP_RECONNECT = 0x7F000004;
constexpr INTERNET_PORT INTERNET_DEFAULT_FTPS_PORT = 990;

// Last-error codes. System codes first, then the library's.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
constexpr DWORD ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr DWORD ERROR_FTP_DROPPED = 12111;

using TInternetStatusCallback = void (*)(HINTERNET handle, DWORD_PTR context, DWORD status,
                                         void* statusInformation, DWORD statusInformationLength);
// Returned by InternetSetStatusCallback for a handle it does not know.
inline const TInternetStatusCallback INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<TInternetStatusCallback>(static_cast<std::intptr_t>(-1));

DWORD GetLastError();
void SetLastError(DWORD code);

// Root handle. Only direct access exists; agent, proxy and bypass are accepted and unused.
HINTERNET InternetOpen(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                       DWORD flags);

// Connects and logs in. serverName is "host", "host:port", "[v6]:port" or a bare IPv6 address;
// a port in it wins over serverPort, and serverPort 0 means 21. Flags 0 = active data
// connections (falling back to passive when refused), INTERNET_FLAG_PASSIVE = passive only.
// Failures: 12007 unknown host, 12029 no connection, 12002 time-out, 12014 password refused
// (530), 12015 any other login refusal, 12003 a refused greeting or TYPE (the reply is in
// InternetGetLastResponseInfo), 12030 a peer that does not speak FTP.
HINTERNET InternetConnect(HINTERNET internet, const char* serverName, INTERNET_PORT serverPort,
                          const char* userName, const char* password, DWORD service, DWORD flags,
                          DWORD_PTR context);

// length is in/out: buffer size in, characters stored (without the zero) out. A buffer too
// small fails with ERROR_INSUFFICIENT_BUFFER, *length = size needed, buffer = "".
BOOL FtpGetCurrentDirectory(HINTERNET connect, char* currentDirectory, DWORD* length);
BOOL FtpSetCurrentDirectory(HINTERNET connect, const char* directory);
BOOL FtpCreateDirectory(HINTERNET connect, const char* directory);
BOOL FtpRemoveDirectory(HINTERNET connect, const char* directory);
BOOL FtpDeleteFile(HINTERNET connect, const char* fileName);

// Lists the directory named by searchFile ("", "*" or "*.*" = the current directory; a pattern
// with * or ? filters the current directory's names; anything else is listed as a path) and
// returns a find handle with the first record. The whole listing is read during this call.
// An empty listing returns null with ERROR_NO_MORE_FILES.
// A listing with more entries than this fails with ERROR_INTERNET_EXTENDED_ERROR.
constexpr std::size_t FTP_LISTING_MAX_ENTRIES = 100000;
HINTERNET FtpFindFirstFile(HINTERNET connect, const char* searchFile, TWin32FindData* findData, DWORD flags,
                           DWORD_PTR context);
BOOL InternetFindNextFile(HINTERNET find, TWin32FindData* findData);
// Our own: how many entries the calling thread's last FtpFindFirstFile left out because their
// names do not fit the record (MAX_PATH bytes or more), so the caller can count them.
DWORD FtpGetLastListingSkippedNames();

// The length of the temporary name a download uses beside a file whose name has nameLength
// bytes: a dot, the name (cut to 200 bytes) and ".part-" with eight hex digits.
constexpr std::size_t FtpTempNameLength(std::size_t nameLength) {
    return 1 + (nameLength < 200 ? nameLength : 200) + 14;
}

// Downloads into a temporary file beside newFile and renames it over newFile once the server
// has confirmed the transfer; a failed download leaves newFile as it was. Always binary. With a
// non-zero context the connection's status callback receives INTERNET_STATUS_RESPONSE_RECEIVED
// counts of at most 64 KiB each (INTERNET_OPTION_PROGRESS_STEP), on the calling thread; the
// bytes move on a helper thread meanwhile, so a slow callback does not hold up the data.
BOOL FtpGetFile(HINTERNET connect, const char* remoteFile, const char* newFile, BOOL failIfExists,
                DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context);
constexpr std::uint64_t FTP_SIZE_UNKNOWN = ~std::uint64_t{0};
// Like FtpGetFile; expectedSize is the size the caller saw in a listing, or FTP_SIZE_UNKNOWN.
// The size the server answers to SIZE wins over it, then a size the transfer's "150" reply
// announces ("(1234 bytes)"). A received byte count that differs from
// the known size fails with ERROR_INTERNET_CONNECTION_ABORTED and leaves newFile as it was.
BOOL FtpGetFileSized(HINTERNET connect, const char* remoteFile, const char* newFile, BOOL failIfExists,
                     DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context, std::uint64_t expectedSize);
// Uploads; with a non-zero context the callback receives INTERNET_STATUS_REQUEST_SENT counts.
BOOL FtpPutFile(HINTERNET connect, const char* localFile, const char* newRemoteFile, DWORD flags,
                DWORD_PTR context);

// Installs the callback on a connection (or root) handle and returns the previous one.
TInternetStatusCallback InternetSetStatusCallback(HINTERNET internet, TInternetStatusCallback callback);

// The calling thread's last server reply: all its lines as received, joined by CR LF, without
// the final line end; *error gets its reply code. *length: buffer size in, text length out. When the
// buffer is too small the text is cut to fit (still zero-terminated), *length is the size
// needed and the call fails with ERROR_INSUFFICIENT_BUFFER.
BOOL InternetGetLastResponseInfo(DWORD* error, char* buffer, DWORD* length);

BOOL InternetSetOption(HINTERNET internet, DWORD option, const void* buffer, DWORD length);

// Our own: a server certificate that does not verify against the trust store for the host
// (untrusted, expired, or naming another host). All texts are zero-terminated.
struct TFtpCertificateInfo {
    const char* Host; // as InternetConnect was given it, without the port
    INTERNET_PORT Port;
    const char* Subject;
    const char* Issuer;
    const char* NotBefore;
    const char* NotAfter;
    const char* Fingerprint; // SHA-256, "AB:CD:..."
    const char* Problem;     // why it did not verify
};
// Returns non-zero to go on with this certificate, zero to refuse it. Called on the thread
// that runs InternetConnect (or a call that reconnects), while the connection waits.
using TFtpCertificateCallback = BOOL (*)(const TFtpCertificateInfo* info, void* context);
// Sets the certificate question on a root handle for its later connections. Without one an
// unverified certificate fails the connect with ERROR_INTERNET_EXTENDED_ERROR and the text
// "The server's certificate is not trusted: <problem>.".
BOOL FtpSetCertificateCallback(HINTERNET internet, TFtpCertificateCallback callback, void* context);
// Our own: a record of what the connections say, for the program's message log.
constexpr DWORD FTP_LOG_COMMAND = 1; // a command as sent; a password shows as ****
constexpr DWORD FTP_LOG_REPLY = 2;   // a server reply, all its lines joined by CR LF
constexpr DWORD FTP_LOG_NOTE = 3;    // the connection's own events: connected, encrypted, closed
// connection numbers the root's connections from 1 in the order they were opened. Called on
// whichever thread talks to the server at the time (a transfer's own helper thread included),
// while that connection waits: it must return quickly and must not call the library.
using TFtpLogCallback = void (*)(DWORD connection, DWORD kind, const char* text, void* context);
// Sets the log on a root handle for its later connections; null turns it off.
BOOL FtpSetLogCallback(HINTERNET internet, TFtpLogCallback callback, void* context);
// Our own: resumable transfers.
// A download that keeps its temporary file when it fails, so a later call can go on from there.
// resume->PartialFile names a file kept by an earlier call for the same newFile ("" = none) and
// resume->Offset the bytes of it to keep; the file may also be newFile itself (continue a
// shorter target in place). The call asks the server for the rest (REST) when it offers
// REST STREAM, and otherwise starts from the beginning. On success the file is renamed over
// newFile and PartialFile is cleared; on failure PartialFile names the file now kept (or ""
// when nothing worth keeping arrived) and Offset the bytes it holds. While the call runs (in the
// status callback) Offset is the byte the transfer started from: 0 when the part was dropped.
// The final size is checked as FtpGetFileSized checks it.
struct TFtpResume {
    char PartialFile[4096];
    std::uint64_t Offset;
};
BOOL FtpGetFileResumable(HINTERNET connect, const char* remoteFile, const char* newFile, DWORD_PTR context,
                         std::uint64_t expectedSize, TFtpResume* resume);
// Uploads localFile from byte offset on and appends it to the server's file (APPE); offset 0
// is FtpPutFile. When the server answers SIZE afterwards, a size other than the local file's
// fails the call with ERROR_INTERNET_CONNECTION_ABORTED.
BOOL FtpPutFileFrom(HINTERNET connect, const char* localFile, const char* newRemoteFile, DWORD_PTR context,
                    std::uint64_t offset);
// The size (SIZE) and modification time (MDTM, FILETIME value, 0 when unknown) of a server file;
// fails with ERROR_FILE_NOT_FOUND when the server gives no size for it.
BOOL FtpGetRemoteFileInfo(HINTERNET connect, const char* remoteFile, std::uint64_t* size,
                          std::uint64_t* modified);
// Our own: *version gets the connection's TLS version ("TLSv1.3"), or "" when it is plain FTP.
BOOL FtpGetConnectionSecurity(HINTERNET connect, char* version, DWORD length);
// Our own: sends NOOP when the connection has been idle for INTERNET_OPTION_FTP_IDLE_TIME;
// a connection busy with another call is left alone (success). A connection the server has
// closed meanwhile fails here; the next command then connects again (see below).
//
// With INTERNET_OPTION_FTP_RECONNECT, every command call that finds its connection closed by the server
// (reply 421, or the socket gone) before anything was transferred connects again once, logs in again, returns
// to the server folder of the last successful FtpSetCurrentDirectory and repeats itself; only when that fails
// does it report an error.
BOOL FtpKeepAlive(HINTERNET connect);

// Releases any handle; null is harmless. Closing a connection sends QUIT when it is idle and
// aborts a transfer running on it in another thread (that call then fails with 12017).
BOOL InternetCloseHandle(HINTERNET internet);
