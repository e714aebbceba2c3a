// TSftpSession: the Secure FTP window's state machine, without the window.
//
// It takes the SFTP client's events and the user's actions and issues requests. One action runs
// at a time: every request it sends is remembered by id and only the answer to that id moves
// the state on, so a late answer can never be read as the answer to a newer request; an action
// started while another is outstanding is refused with a log line. File data moves through
// TNvSftpTransfer with several requests in flight and 64-bit offsets. A download goes to a
// temporary file beside the target, renamed only once the server has reported end of file.
#pragma once

#include "sftp/SftpClient.h"
#include "sftp/SftpTransfer.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Varnello::SecureWin {

enum class TSessionState {
    StateIdle,
    StateOpeningList,
    StateReadingList,
    StateChangingDir,
    StateMakingDir,
    StateRenaming,
    StateRemoving,
    StateOpeningDownload,
    StateDownloading,
    StateOpeningUpload,
    StateUploading,
    StateClosingUpload,
};

// "d" for a directory, then rwx for owner, group and other.
std::string FormatPermissions(const Sftp::TNvSftpFileAttributes& a);
// A name a server sent that must not become part of a local or remote path: empty, or holding
// "/", "\" or NUL. "." and ".." are kept for navigation; IsPlainFileName refuses them as files.
bool IsUnsafeListingName(const std::string& name);
bool IsPlainFileName(const std::string& name);

class TSftpSession {
public:
    // Wires the client's events to the session; the client must outlive it.
    explicit TSftpSession(Sftp::TNvSftpClient& client);
    ~TSftpSession();

    std::function<bool()> IsConnected;                  // the TCP connection is up
    std::function<void(const std::string& line)> OnLog; // a log message, without time stamp
    std::function<void()> OnListChanged;                // Entries() was rebuilt
    std::function<void(const std::string& path)> OnPathChanged;
    std::function<void()> OnProgress; // transfer progress moved

    // User actions; each logs why when it does nothing.
    void ListDirectory(const std::string& path);
    void ChangeDirectory(size_t index);
    void MakeDirectory(const std::string& name);
    void Rename(size_t index, const std::string& newName);
    void Remove(size_t index);
    void Download(size_t index, const std::string& localPath);
    void Upload(const std::string& localPath);
    void CancelTransfer();
    // The TCP or SFTP connection has gone: a running action ends as failed.
    void ConnectionLost();

    TSessionState State() const { return FState; }
    bool Busy() const { return FExpected.has_value() || FTransfer != nullptr; }
    const std::string& CurrentDir() const { return FCurrentDir; }
    const std::vector<Sftp::TNvSftpFileInfo>& Entries() const { return FEntries; }
    uint64_t TransferOffset() const { return FTransfer ? FTransfer->Transferred() : 0; }
    uint64_t TransferSize() const { return FTransferSize; }

    // A listing that never ends is cut at either bound rather than growing without limit.
    size_t MaxListingEntries = 1000000;
    size_t MaxListingBytes = size_t(256) << 20; // names and long names together

    // Upload and download pipelining: 8 MiB in flight. OpenSSH's sftp default (64 of 32 KiB)
    // halved our download speed at a 20 ms round trip; a server that reads less per request
    // answers short reads, whose rest is asked for again.
    uint32_t BlockSize = 65536;
    int RequestsInFlight = 128;

private:
    void Log(const std::string& line);
    bool CheckReady();
    void Expect(std::optional<uint32_t> id, TSessionState state);
    void CloseActiveHandle();
    void FinishDownload(bool ok, const std::string& why);
    void FinishUpload(bool ok, const std::string& why);
    void CheckTransfer();

    void OpenedConnection();
    void OpenFile(const std::string& handle);
    void Listing(const std::vector<Sftp::TNvSftpFileInfo>& listing);
    void Error(int code, const std::string& comment);
    void Success(const std::string& comment);
    void AbsolutePath(const std::string& path);
    void Data(const uint8_t* buffer, int size);

    Sftp::TNvSftpClient& FClient;
    TSessionState FState = TSessionState::StateIdle;
    std::optional<uint32_t> FExpected; // the one request whose answer moves the state on
    std::string FCurrentHandle;
    std::string FCurrentDir;
    std::string FChosenDir;
    std::vector<Sftp::TNvSftpFileInfo> FEntries;
    std::vector<Sftp::TNvSftpFileInfo> FIncoming;
    size_t FIncomingBytes = 0;
    std::unique_ptr<Sftp::TNvSftpTransfer> FTransfer;
    uint64_t FTransferSize = 0;
    std::FILE* FTransferFile = nullptr;
    std::string FLocalPath;   // final local name of a download
    std::string FPartialPath; // where it is written until it is complete
};

} // namespace Varnello::SecureWin
