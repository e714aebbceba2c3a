// The Internet-library calls over TFtpSession: a table of live handles, the per-thread last
// error and last response, the status callback and the local-file side of transfers.
//
// Handles are keys of a table of shared objects, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of being followed, and closing a connection while another thread
// transfers on it is safe: the object lives until that call has returned.
#include "ftp/inet/WinInet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <fnmatch.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>

#include "ftp/inet/FtpSession.h"

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;
thread_local std::string tLastResponse;
thread_local DWORD tLastResponseCode = 0;
thread_local DWORD tLastListingSkippedNames = 0;

struct TInetObject {
    virtual ~TInetObject() = default;
};

struct TRootObject : TInetObject {
    std::mutex Lock;
    TInetOptions Options;
    DWORD Connections = 0; // opened so far, under Lock: numbers them in the log
    std::atomic<TInternetStatusCallback> Callback{nullptr};
};

struct TConnectionObject : TInetObject {
    explicit TConnectionObject(const TInetOptions& options) : Session(options) {}
    TFtpSession Session;
    std::mutex Busy; // held for the whole of every call on the connection
    std::atomic<TInternetStatusCallback> Callback{nullptr};
};

struct TFindObject : TInetObject {
    std::mutex Lock;
    std::vector<TWin32FindData> Records;
    std::size_t Next = 0;
};

std::mutex gHandlesLock;
std::unordered_map<HINTERNET, std::shared_ptr<TInetObject>>& Handles() {
    static auto* handles = new std::unordered_map<HINTERNET, std::shared_ptr<TInetObject>>;
    return *handles;
}

HINTERNET Register(std::shared_ptr<TInetObject> object) {
    // Handle values are never reused, so a handle kept after its close cannot reach a newer
    // object that happens to live at the same address.
    static std::uintptr_t lastHandle = 0x10000;
    std::lock_guard<std::mutex> lock(gHandlesLock);
    lastHandle += 0x10;
    HINTERNET handle = reinterpret_cast<HINTERNET>(lastHandle);
    Handles()[handle] = std::move(object);
    return handle;
}

std::shared_ptr<TInetObject> Unregister(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(gHandlesLock);
    auto it = Handles().find(handle);
    if (it == Handles().end()) return nullptr;
    std::shared_ptr<TInetObject> object = std::move(it->second);
    Handles().erase(it);
    return object;
}

template <class T> std::shared_ptr<T> Lookup(HINTERNET handle) {
    std::shared_ptr<TInetObject> object;
    {
        std::lock_guard<std::mutex> lock(gHandlesLock);
        auto it = Handles().find(handle);
        if (it != Handles().end()) object = it->second;
    }
    if (!object) throw EInetFailure{ERROR_INVALID_HANDLE};
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(object);
    if (!typed) throw EInetFailure{ERROR_INTERNET_INCORRECT_HANDLE_TYPE};
    return typed;
}

// Runs body; a failure becomes the thread's last error and a FALSE result.
template <class F> BOOL Guard(F&& body) {
    try {
        body();
        return 1;
    } catch (const EInetFailure& e) {
        tLastError = e.Code;
    } catch (const std::bad_alloc&) {
        tLastError = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception&) {
        tLastError = ERROR_INTERNET_INTERNAL_ERROR; // e.g. no thread could be started
    }
    return 0;
}

// A text that travels into a command line: CR or LF would end the command early and let the
// rest run as a command of its own.
std::string Argument(const char* text, bool mayBeEmpty = false) {
    if (!text) throw EInetFailure{ERROR_INVALID_PARAMETER};
    std::string s(text);
    if ((!mayBeEmpty && s.empty()) || s.find_first_of("\r\n") != std::string::npos)
        throw EInetFailure{ERROR_INVALID_PARAMETER};
    return s;
}

void KeepResponse(const TFtpSession& session) {
    tLastResponse = session.LastReply().Text;
    tLastResponseCode = static_cast<DWORD>(session.LastReply().Code);
}

// Runs body with the connection to itself; another call in progress on it means 12110.
template <class F> BOOL OnConnection(HINTERNET handle, F&& body) {
    return Guard([&] {
        std::shared_ptr<TConnectionObject> c = Lookup<TConnectionObject>(handle);
        std::unique_lock<std::mutex> busy(c->Busy, std::try_to_lock);
        if (!busy) throw EInetFailure{ERROR_FTP_TRANSFER_IN_PROGRESS};
        struct TKeep {
            TFtpSession& Session;
            ~TKeep() { KeepResponse(Session); }
        } keep{c->Session};
        body(*c);
    });
}

// Changes the options a root handle gives its later connections.
template <class F> BOOL OnRootOptions(HINTERNET internet, F&& change) {
    return Guard([&] {
        std::shared_ptr<TRootObject> root = Lookup<TRootObject>(internet);
        std::lock_guard<std::mutex> lock(root->Lock);
        change(root->Options);
    });
}

DWORD LocalError(int err, DWORD fallback) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return fallback;
    }
}

// Runs a transfer and feeds the connection's status callback with its byte counts, in
// notifications of at most the progress step, on the calling thread as the library does.
// The callback may take its time (the transfer worker waits for the window to show each line),
// so the bytes move on a helper thread meanwhile and the counts queue up for the caller; a
// slow callback then delays the call's return, never the data. Without a callback and a
// context the transfer simply runs here.
void TransferWithProgress(HINTERNET handle, TConnectionObject& c, DWORD_PTR context, DWORD status,
                          const std::function<void(const TFtpSession::TProgress&)>& transfer) {
    TInternetStatusCallback callback = c.Callback.load();
    if (!callback || !context) {
        transfer(nullptr);
        return;
    }
    const DWORD step = c.Session.Options().ProgressStep;
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t pending = 0;
    bool done = false;
    std::exception_ptr failure, callbackFailure;
    std::thread mover([&] {
        try {
            transfer([&](std::size_t bytes) {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    pending += bytes;
                }
                changed.notify_one();
            });
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            done = true;
        }
        changed.notify_one();
    });
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [&] { return pending > 0 || done; });
        if (pending == 0) break; // done, and every count delivered
        DWORD count = static_cast<DWORD>(std::min<std::uint64_t>(pending, step));
        pending -= count;
        guard.unlock();
        // The helper thread must be joined whatever the callback does, so a throwing callback
        // is silenced for the rest of the transfer and its exception passed on afterwards.
        if (!callbackFailure) {
            try {
                callback(handle, context, status, &count, sizeof count);
            } catch (...) {
                callbackFailure = std::current_exception();
            }
        }
        guard.lock();
    }
    guard.unlock();
    mover.join();
    if (failure) std::rethrow_exception(failure);
    if (callbackFailure) std::rethrow_exception(callbackFailure);
}

// The temporary names of a download into target are this prefix and eight hex digits: a dot, the
// target's name cut to 200 bytes and ".part-", in target's folder.
std::string TempNamePrefix(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.size() > 200) base.resize(200);
    return folder + "." + base + ".part-";
}

class TTempFile {
public:
    // A new file beside target, created exclusively and readable as the umask allows.
    explicit TTempFile(const std::string& target) {
        const std::string prefix = TempNamePrefix(target);
        static_assert(FtpTempNameLength(300) == 1 + 200 + sizeof ".part-00000000" - 1);
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
            FPath = prefix + suffix;
            FFd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (FFd >= 0) return;
            if (errno != EEXIST) throw EInetFailure{LocalError(errno, ERROR_WRITE_FAULT)};
        }
        throw EInetFailure{ERROR_WRITE_FAULT};
    }
    // A file kept by an earlier download (or the target itself, continued in place), cut to
    // its first keep bytes. Fails (false from IsOpen) when it is not a regular file of at least
    // that many bytes.
    TTempFile(const std::string& path, std::uint64_t keep, bool inPlace) : FPath(path), FInPlace(inPlace) {
        FFd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (FFd >= 0 && ::fstat(FFd, &st) == 0 && S_ISREG(st.st_mode) && std::uint64_t(st.st_size) >= keep &&
            ::ftruncate(FFd, static_cast<off_t>(keep)) == 0 && ::lseek(FFd, 0, SEEK_END) >= 0) {
            FSize = keep;
            return;
        }
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
        FKept = true; // not ours to remove
    }
    ~TTempFile() {
        if (FFd >= 0) ::close(FFd);
        if (!FKept && !FInPlace && !(FKeepOnFailure && FSize > 0)) ::unlink(FPath.c_str());
    }
    bool IsOpen() const { return FFd >= 0; }
    const std::string& Path() const { return FPath; }
    std::uint64_t Size() const { return FSize; }
    // A failure leaves the file for a later call to go on from, when it holds anything.
    void KeepOnFailure(bool keep) { FKeepOnFailure = keep; }
    void Write(const char* data, std::size_t length) {
        while (length > 0) {
            ssize_t n = ::write(FFd, data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw EInetFailure{LocalError(n < 0 ? errno : ENOSPC, ERROR_WRITE_FAULT)};
            data += n;
            length -= std::size_t(n);
            FSize += std::uint64_t(n);
        }
    }
    void MoveTo(const std::string& target) {
        int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0) throw EInetFailure{LocalError(errno, ERROR_WRITE_FAULT)};
        if (!FInPlace && ::rename(FPath.c_str(), target.c_str()) != 0)
            throw EInetFailure{LocalError(errno, ERROR_WRITE_FAULT)};
        FKept = true;
    }

private:
    std::string FPath;
    int FFd = -1;
    bool FKept = false;
    bool FInPlace = false;
    bool FKeepOnFailure = false;
    std::uint64_t FSize = 0;
};

// Whether path may be continued as the download of target: target itself, or a temporary
// name of ours in target's folder, so a caller cannot have any other file cut and written.
bool IsPartialOf(const std::string& path, const std::string& target) {
    if (path == target) return true;
    const std::string prefix = TempNamePrefix(target);
    if (path.size() != prefix.size() + 8 || path.compare(0, prefix.size(), prefix) != 0) return false;
    return path.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

// The download behind FtpGetFileSized and FtpGetFileResumable; resume may be null.
void Download(HINTERNET connect, TConnectionObject& c, const std::string& remote, const std::string& target,
              DWORD_PTR context, std::uint64_t expectedSize, TFtpResume* resume) {
    // The server's own counts are fresher than the caller's listing: SIZE, then the size
    // the transfer's preliminary reply announces.
    std::uint64_t known = c.Session.Reconnecting([&] { return c.Session.RemoteSize(remote); });
    std::optional<TTempFile> temp;
    if (resume) {
        resume->PartialFile[sizeof resume->PartialFile - 1] = '\0';
        const std::string partial(resume->PartialFile);
        const bool inPlace = partial == target;
        // Going on needs REST and a server file at least as long as the part; a part that
        // cannot be continued in place leaves the target alone and starts afresh beside it.
        const bool usable = !partial.empty() && IsPartialOf(partial, target) && c.Session.SupportsRestart() &&
                            (known == FTP_SIZE_UNKNOWN || resume->Offset <= known);
        if (usable) {
            temp.emplace(partial, resume->Offset, inPlace);
            if (!temp->IsOpen()) temp.reset();
        }
        if (!temp && !partial.empty() && !inPlace && IsPartialOf(partial, target)) ::unlink(partial.c_str());
        resume->PartialFile[0] = '\0';
        resume->Offset = 0;
    }
    if (!temp) temp.emplace(target);
    temp->KeepOnFailure(resume != nullptr);
    if (resume) resume->Offset = temp->Size(); // where this call starts, for the caller's progress
    const std::uint64_t offset = temp->Size();
    std::uint64_t received = 0, written = 0;
    // A server that sends more than the size it gave is cut off there, before it can fill
    // the disk with a file that would be refused anyway.
    bool tooMuch = false, overrun = false;
    auto limit = [&] {
        if (known != FTP_SIZE_UNKNOWN) return known;
        std::uint64_t announced = c.Session.AnnouncedSize();
        // The 150 of a restarted transfer may announce the rest or the whole; neither is sure.
        if (announced != FTP_SIZE_UNKNOWN && offset == 0) return announced;
        return expectedSize;
    };
    auto keepForLater = [&] {
        if (!resume || tooMuch || temp->Size() == 0) {
            temp->KeepOnFailure(false);
            return;
        }
        std::snprintf(resume->PartialFile, sizeof resume->PartialFile, "%s", temp->Path().c_str());
        resume->Offset = temp->Size();
    };
    try {
        if (offset == 0 || known == FTP_SIZE_UNKNOWN || offset < known)
            TransferWithProgress(connect, c, context, INTERNET_STATUS_RESPONSE_RECEIVED,
                                 [&](const TFtpSession::TProgress& progress) {
                                     received = c.Session.Reconnecting([&] {
                                         written = offset;
                                         return c.Session.Retrieve(
                                             remote,
                                             [&](const char* data, std::size_t length) {
                                                 const std::uint64_t most = limit();
                                                 if (most != FTP_SIZE_UNKNOWN && length > most - written) {
                                                     tooMuch = overrun = true;
                                                     throw EInetFailure{ERROR_INTERNET_CONNECTION_ABORTED};
                                                 }
                                                 temp->Write(data, length);
                                                 written += length;
                                             },
                                             progress, offset);
                                     });
                                 });
        // Closed from another thread while the last counts were being reported: not a success.
        if (c.Session.WasAborted()) throw EInetFailure{ERROR_INTERNET_OPERATION_CANCELLED};
        if (known == FTP_SIZE_UNKNOWN && offset == 0) known = c.Session.AnnouncedSize();
        if (known == FTP_SIZE_UNKNOWN) known = expectedSize;
        const std::uint64_t total = offset + received;
        if (known != FTP_SIZE_UNKNOWN && total != known) {
            c.Session.SetLastText(total < known
                                      ? "Received " + std::to_string(total) + " of " + std::to_string(known) +
                                            " bytes: the server ended the transfer early."
                                      : "Received " + std::to_string(total) + " bytes where " +
                                            std::to_string(known) + " were announced.");
            tooMuch = total > known;
            throw EInetFailure{ERROR_INTERNET_CONNECTION_ABORTED};
        }
        temp->MoveTo(target);
    } catch (const EInetFailure&) {
        if (overrun && !c.Session.WasAborted())
            c.Session.SetLastText("The server sent more than the " + std::to_string(limit()) +
                                  " bytes it announced.");
        keepForLater();
        throw;
    }
}

} // namespace

DWORD GetLastError() {
    return tLastError;
}

void SetLastError(DWORD code) {
    tLastError = code;
}

HINTERNET InternetOpen(const char*, DWORD accessType, const char*, const char*, DWORD) {
    if (accessType != INTERNET_OPEN_TYPE_DIRECT && accessType != INTERNET_OPEN_TYPE_PRECONFIG) {
        tLastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    try {
        return Register(std::make_shared<TRootObject>());
    } catch (const std::bad_alloc&) {
        tLastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
}

HINTERNET InternetConnect(HINTERNET internet, const char* serverName, INTERNET_PORT serverPort,
                          const char* userName, const char* password, DWORD service, DWORD flags, DWORD_PTR) {
    HINTERNET result = nullptr;
    Guard([&] {
        std::shared_ptr<TRootObject> root = Lookup<TRootObject>(internet);
        if (service != INTERNET_SERVICE_FTP) throw EInetFailure{ERROR_INVALID_PARAMETER};
        std::string host = Argument(serverName, true);
        // No user means anonymous, as the library does.
        std::string user = userName && *userName ? Argument(userName) : "anonymous";
        std::string pass =
            password && *password ? Argument(password) : (userName && *userName ? "" : "guest@");
        TInetOptions options;
        {
            std::lock_guard<std::mutex> lock(root->Lock);
            options = root->Options;
            options.LogConnection = ++root->Connections;
        }
        auto c = std::make_shared<TConnectionObject>(options);
        c->Callback = root->Callback.load();
        tLastResponse.clear();
        tLastResponseCode = 0;
        try {
            c->Session.Open(host, serverPort, user, pass, (flags & INTERNET_FLAG_PASSIVE) != 0);
        } catch (const EInetFailure&) {
            KeepResponse(c->Session);
            throw;
        }
        KeepResponse(c->Session);
        result = Register(std::move(c));
    });
    return result;
}

BOOL FtpGetCurrentDirectory(HINTERNET connect, char* currentDirectory, DWORD* length) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        if (!currentDirectory || !length || *length == 0) throw EInetFailure{ERROR_INVALID_PARAMETER};
        currentDirectory[0] = '\0';
        std::string path = c.Session.Reconnecting([&] { return c.Session.CurrentDirectory(); });
        if (path.size() + 1 > *length) {
            *length = static_cast<DWORD>(path.size() + 1);
            throw EInetFailure{ERROR_INSUFFICIENT_BUFFER};
        }
        std::memcpy(currentDirectory, path.c_str(), path.size() + 1);
        *length = static_cast<DWORD>(path.size());
    });
}

BOOL FtpSetCurrentDirectory(HINTERNET connect, const char* directory) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string argument = Argument(directory);
        c.Session.Reconnecting([&] { c.Session.Simple("CWD", argument); });
    });
}

BOOL FtpCreateDirectory(HINTERNET connect, const char* directory) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string argument = Argument(directory);
        c.Session.Reconnecting([&] { c.Session.Simple("MKD", argument); });
    });
}

BOOL FtpRemoveDirectory(HINTERNET connect, const char* directory) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string argument = Argument(directory);
        c.Session.Reconnecting([&] { c.Session.Simple("RMD", argument); });
    });
}

BOOL FtpDeleteFile(HINTERNET connect, const char* fileName) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string argument = Argument(fileName);
        c.Session.Reconnecting([&] { c.Session.Simple("DELE", argument); });
    });
}

HINTERNET FtpFindFirstFile(HINTERNET connect, const char* searchFile, TWin32FindData* findData, DWORD,
                           DWORD_PTR) {
    HINTERNET result = nullptr;
    tLastListingSkippedNames = 0;
    OnConnection(connect, [&](TConnectionObject& c) {
        if (!findData) throw EInetFailure{ERROR_INVALID_PARAMETER};
        std::string pattern = Argument(searchFile ? searchFile : "", true);
        bool whole = pattern.empty() || pattern == "*" || pattern == "*.*";
        bool wildcard = !whole && pattern.find_first_of("*?") != std::string::npos;
        auto find = std::make_shared<TFindObject>();
        find->Records = c.Session.Reconnecting(
            [&] { return c.Session.List(whole || wildcard ? std::string() : pattern); });
        tLastListingSkippedNames = static_cast<DWORD>(c.Session.LastListingLongNames());
        if (wildcard) {
            std::erase_if(find->Records, [&](const TWin32FindData& r) {
                return fnmatch(pattern.c_str(), r.cFileName, 0) != 0;
            });
        }
        if (find->Records.empty()) throw EInetFailure{ERROR_NO_MORE_FILES};
        *findData = find->Records[0];
        find->Next = 1;
        result = Register(std::move(find));
    });
    return result;
}

DWORD FtpGetLastListingSkippedNames() {
    return tLastListingSkippedNames;
}

BOOL InternetFindNextFile(HINTERNET find, TWin32FindData* findData) {
    return Guard([&] {
        std::shared_ptr<TFindObject> f = Lookup<TFindObject>(find);
        if (!findData) throw EInetFailure{ERROR_INVALID_PARAMETER};
        std::lock_guard<std::mutex> lock(f->Lock);
        if (f->Next >= f->Records.size()) throw EInetFailure{ERROR_NO_MORE_FILES};
        *findData = f->Records[f->Next++];
    });
}

BOOL FtpGetFile(HINTERNET connect, const char* remoteFile, const char* newFile, BOOL failIfExists,
                DWORD flagsAndAttributes, DWORD flags, DWORD_PTR context) {
    return FtpGetFileSized(connect, remoteFile, newFile, failIfExists, flagsAndAttributes, flags, context,
                           FTP_SIZE_UNKNOWN);
}

BOOL FtpGetFileSized(HINTERNET connect, const char* remoteFile, const char* newFile, BOOL failIfExists, DWORD,
                     DWORD, DWORD_PTR context, std::uint64_t expectedSize) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string remote = Argument(remoteFile);
        if (!newFile || !*newFile) throw EInetFailure{ERROR_INVALID_PARAMETER};
        std::string target(newFile);
        struct stat st;
        if (failIfExists && ::stat(target.c_str(), &st) == 0) throw EInetFailure{ERROR_FILE_EXISTS};
        if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw EInetFailure{ERROR_ACCESS_DENIED};
        Download(connect, c, remote, target, context, expectedSize, nullptr);
    });
}

BOOL FtpGetFileResumable(HINTERNET connect, const char* remoteFile, const char* newFile, DWORD_PTR context,
                         std::uint64_t expectedSize, TFtpResume* resume) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string remote = Argument(remoteFile);
        if (!newFile || !*newFile || !resume) throw EInetFailure{ERROR_INVALID_PARAMETER};
        std::string target(newFile);
        struct stat st;
        if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw EInetFailure{ERROR_ACCESS_DENIED};
        Download(connect, c, remote, target, context, expectedSize, resume);
    });
}

namespace {

void Upload(HINTERNET connect, TConnectionObject& c, const char* localFile, const std::string& remote,
            DWORD_PTR context, std::uint64_t offset) {
    if (!localFile || !*localFile) throw EInetFailure{ERROR_INVALID_PARAMETER};
    int fd = ::open(localFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EInetFailure{errno == ENOENT ? ERROR_FILE_NOT_FOUND : LocalError(errno, ERROR_READ_FAULT)};
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) throw EInetFailure{ERROR_ACCESS_DENIED};
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (offset > size) throw EInetFailure{ERROR_INVALID_PARAMETER};
    TransferWithProgress(connect, c, context, INTERNET_STATUS_REQUEST_SENT,
                         [&](const TFtpSession::TProgress& progress) {
                             c.Session.Reconnecting([&] {
                                 if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0)
                                     throw EInetFailure{LocalError(errno, ERROR_READ_FAULT)};
                                 c.Session.Store(remote, fd, progress, offset > 0);
                             });
                         });
    if (c.Session.WasAborted()) throw EInetFailure{ERROR_INTERNET_OPERATION_CANCELLED};
    if (offset == 0) return;
    // An appended file is whole only when the server's part was what we think it was.
    const std::uint64_t stored = c.Session.RemoteSize(remote);
    if (stored != FTP_SIZE_UNKNOWN && stored != size) {
        c.Session.SetLastText("The server's file has " + std::to_string(stored) +
                              " bytes after the upload of " + std::to_string(size) + ".");
        throw EInetFailure{ERROR_INTERNET_CONNECTION_ABORTED};
    }
}

} // namespace

BOOL FtpPutFile(HINTERNET connect, const char* localFile, const char* newRemoteFile, DWORD,
                DWORD_PTR context) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        Upload(connect, c, localFile, Argument(newRemoteFile), context, 0);
    });
}

BOOL FtpPutFileFrom(HINTERNET connect, const char* localFile, const char* newRemoteFile, DWORD_PTR context,
                    std::uint64_t offset) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        Upload(connect, c, localFile, Argument(newRemoteFile), context, offset);
    });
}

BOOL FtpGetRemoteFileInfo(HINTERNET connect, const char* remoteFile, std::uint64_t* size,
                          std::uint64_t* modified) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        std::string remote = Argument(remoteFile);
        if (!size) throw EInetFailure{ERROR_INVALID_PARAMETER};
        *size = c.Session.Reconnecting([&] { return c.Session.RemoteSize(remote); });
        if (*size == FTP_SIZE_UNKNOWN) throw EInetFailure{ERROR_FILE_NOT_FOUND};
        if (modified) *modified = c.Session.RemoteModified(remote);
    });
}

TInternetStatusCallback InternetSetStatusCallback(HINTERNET internet, TInternetStatusCallback callback) {
    std::shared_ptr<TInetObject> object;
    {
        std::lock_guard<std::mutex> lock(gHandlesLock);
        auto it = Handles().find(internet);
        if (it != Handles().end()) object = it->second;
    }
    if (auto c = std::dynamic_pointer_cast<TConnectionObject>(object)) return c->Callback.exchange(callback);
    if (auto r = std::dynamic_pointer_cast<TRootObject>(object)) return r->Callback.exchange(callback);
    tLastError = object ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE;
    return INTERNET_INVALID_STATUS_CALLBACK;
}

BOOL InternetGetLastResponseInfo(DWORD* error, char* buffer, DWORD* length) {
    if (!length || (!buffer && *length)) {
        tLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (error) *error = tLastResponseCode;
    const std::string& text = tLastResponse;
    if (text.size() < *length) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        *length = static_cast<DWORD>(text.size());
        return 1;
    }
    if (*length > 0) { // cut to fit, still terminated
        std::memcpy(buffer, text.data(), *length - 1);
        buffer[*length - 1] = '\0';
    }
    *length = static_cast<DWORD>(text.size() + 1);
    tLastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
}

BOOL InternetSetOption(HINTERNET internet, DWORD option, const void* buffer, DWORD length) {
    return Guard([&] {
        std::shared_ptr<TInetObject> object;
        {
            std::lock_guard<std::mutex> lock(gHandlesLock);
            auto it = Handles().find(internet);
            if (it != Handles().end()) object = it->second;
        }
        if (!object) throw EInetFailure{ERROR_INVALID_HANDLE};
        if (!buffer || length != sizeof(DWORD)) throw EInetFailure{ERROR_INTERNET_BAD_OPTION_LENGTH};
        DWORD value;
        std::memcpy(&value, buffer, sizeof value);
        auto apply = [&](TInetOptions& o) {
            int ms = value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(value);
            switch (option) {
            case INTERNET_OPTION_CONNECT_TIMEOUT:
                o.ConnectTimeoutMs = ms;
                break;
            case INTERNET_OPTION_SEND_TIMEOUT:
            case INTERNET_OPTION_DATA_SEND_TIMEOUT:
                o.SendTimeoutMs = ms;
                break;
            case INTERNET_OPTION_RECEIVE_TIMEOUT:
            case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
                o.ReceiveTimeoutMs = ms;
                break;
            case INTERNET_OPTION_PROGRESS_STEP:
                if (value == 0) throw EInetFailure{ERROR_INVALID_PARAMETER};
                o.ProgressStep = value;
                break;
            case INTERNET_OPTION_FTP_TLS:
                if (value > FTP_TLS_IMPLICIT) throw EInetFailure{ERROR_INVALID_PARAMETER};
                o.TlsMode = value;
                break;
            case INTERNET_OPTION_FTP_IDLE_TIME:
                o.IdleMs = ms;
                break;
            case INTERNET_OPTION_FTP_RECONNECT:
                o.Reconnect = value != 0;
                break;
            default:
                throw EInetFailure{ERROR_INTERNET_INVALID_OPTION};
            }
        };
        if (auto r = std::dynamic_pointer_cast<TRootObject>(object)) {
            std::lock_guard<std::mutex> lock(r->Lock);
            apply(r->Options);
        } else if (auto c = std::dynamic_pointer_cast<TConnectionObject>(object)) {
            std::unique_lock<std::mutex> busy(c->Busy, std::try_to_lock);
            if (!busy) throw EInetFailure{ERROR_FTP_TRANSFER_IN_PROGRESS};
            apply(c->Session.Options());
        } else {
            throw EInetFailure{ERROR_INTERNET_INCORRECT_HANDLE_TYPE};
        }
    });
}

BOOL InternetCloseHandle(HINTERNET internet) {
    if (!internet) return 1; // closing nothing is harmless
    std::shared_ptr<TInetObject> object = Unregister(internet);
    if (!object) {
        tLastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    if (auto c = std::dynamic_pointer_cast<TConnectionObject>(object)) {
        std::unique_lock<std::mutex> busy(c->Busy, std::try_to_lock);
        if (busy)
            c->Session.Quit();
        else
            c->Session.Abort(); // the running call fails and drops the last reference
    }
    return 1;
}

BOOL FtpSetCertificateCallback(HINTERNET internet, TFtpCertificateCallback callback, void* context) {
    return OnRootOptions(internet, [&](TInetOptions& o) {
        o.CertificateCallback = callback;
        o.CertificateContext = context;
    });
}

BOOL FtpSetLogCallback(HINTERNET internet, TFtpLogCallback callback, void* context) {
    return OnRootOptions(internet, [&](TInetOptions& o) {
        o.LogCallback = callback;
        o.LogContext = context;
    });
}

BOOL FtpGetConnectionSecurity(HINTERNET connect, char* version, DWORD length) {
    return OnConnection(connect, [&](TConnectionObject& c) {
        if (!version || length == 0) throw EInetFailure{ERROR_INVALID_PARAMETER};
        std::string text = c.Session.TlsVersion();
        if (text.size() + 1 > length) throw EInetFailure{ERROR_INSUFFICIENT_BUFFER};
        std::memcpy(version, text.c_str(), text.size() + 1);
    });
}

BOOL FtpKeepAlive(HINTERNET connect) {
    return Guard([&] {
        std::shared_ptr<TConnectionObject> c = Lookup<TConnectionObject>(connect);
        std::unique_lock<std::mutex> busy(c->Busy, std::try_to_lock);
        if (!busy) return; // a call in progress keeps the connection busy enough
        c->Session.KeepAlive();
    });
}
