#include "securewin/SftpSession.h"

#include <cstdio>
#include <sys/types.h>

namespace Varnello::SecureWin {

using Sftp::TNvSftpClient;
using Sftp::TNvSftpFileInfo;
using Sftp::TNvSftpTransfer;

namespace {
constexpr int StatusEof = 1;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

std::string FormatPermissions(const Sftp::TNvSftpFileAttributes& a) {
    std::string s = a.IsDirectory() ? "d" : "";
    s += a.UserRead() ? 'r' : '-';
    s += a.UserWrite() ? 'w' : '-';
    s += a.UserExecute() ? 'x' : '-';
    s += a.GroupRead() ? 'r' : '-';
    s += a.GroupWrite() ? 'w' : '-';
    s += a.GroupExecute() ? 'x' : '-';
    s += a.OtherRead() ? 'r' : '-';
    s += a.OtherWrite() ? 'w' : '-';
    s += a.OtherExecute() ? 'x' : '-';
    return s;
}

bool IsUnsafeListingName(const std::string& name) {
    return name.empty() || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

bool IsPlainFileName(const std::string& name) {
    return !IsUnsafeListingName(name) && name.find_first_not_of('.') != std::string::npos;
}

TSftpSession::TSftpSession(TNvSftpClient& client) : FClient(client) {
    // Every request is remembered by id, so an answer to none of them is a protocol error.
    client.StrictReplyIds = true;
    client.OnOpenConnection = [this](TNvSftpClient*) { OpenedConnection(); };
    client.OnCloseConnection = [this](TNvSftpClient*) {
        Log("Sftp connection closed");
        ConnectionLost();
    };
    client.OnOpenFile = [this](TNvSftpClient*, const std::string& h) { OpenFile(h); };
    client.OnError = [this](TNvSftpClient*, int code, const std::string& m) { Error(code, m); };
    client.OnSuccess = [this](TNvSftpClient*, const std::string& m) { Success(m); };
    client.OnDirectoryListing = [this](TNvSftpClient*, const std::vector<TNvSftpFileInfo>& l) { Listing(l); };
    client.OnData = [this](TNvSftpClient*, const uint8_t* b, int n) { Data(b, n); };
    client.OnAbsolutePath = [this](TNvSftpClient*, const std::string& p) { AbsolutePath(p); };
}

TSftpSession::~TSftpSession() {
    FClient.OnOpenConnection = nullptr;
    FClient.OnCloseConnection = nullptr;
    FClient.OnOpenFile = nullptr;
    FClient.OnError = nullptr;
    FClient.OnSuccess = nullptr;
    FClient.OnDirectoryListing = nullptr;
    FClient.OnData = nullptr;
    FClient.OnAbsolutePath = nullptr;
    if (FTransferFile) std::fclose(FTransferFile);
    if (!FPartialPath.empty()) std::remove(FPartialPath.c_str());
}

void TSftpSession::Log(const std::string& line) {
    if (OnLog) OnLog(line);
}

bool TSftpSession::CheckReady() {
    if (IsConnected && !IsConnected()) {
        Log("Error: not connected");
        return false;
    }
    if (Busy()) {
        Log("Error: the previous operation has not finished yet");
        return false;
    }
    return true;
}

void TSftpSession::Expect(std::optional<uint32_t> id, TSessionState state) {
    FState = state;
    FExpected = id;
}

void TSftpSession::OpenedConnection() {
    Log("Sftp connection started");
    FCurrentDir = ".";
    FExpected.reset();
    ListDirectory(".");
}

void TSftpSession::ListDirectory(const std::string& path) {
    if (IsConnected && !IsConnected()) {
        Log("Error: not connected");
        return;
    }
    FIncoming.clear();
    FIncomingBytes = 0;
    Log("Opening directory " + path);
    Expect(FClient.OpenDirectory(path), TSessionState::StateOpeningList);
}

void TSftpSession::CloseActiveHandle() {
    Log("Closing active handle");
    FClient.CloseHandle(FCurrentHandle); // its answer is not waited for
}

void TSftpSession::ChangeDirectory(size_t index) {
    if (index >= FEntries.size() || !FEntries[index].Attributes.IsDirectory()) return;
    if (!CheckReady()) return;
    const std::string& name = FEntries[index].Name;
    Log("Trying to change directory to " + Quoted(name));
    FChosenDir = name;
    Expect(FClient.OpenDirectory(FCurrentDir + "/" + name), TSessionState::StateChangingDir);
}

void TSftpSession::MakeDirectory(const std::string& name) {
    if (IsConnected && !IsConnected()) {
        Log("Error: not connected");
        return;
    }
    if (name.empty()) {
        Log("Invalid directory name, creation cancelled.");
        return;
    }
    if (!CheckReady()) return;
    Log("Creating directory " + Quoted(name));
    Sftp::TNvSftpFileAttributes none;
    Expect(FClient.MakeDirectory(FCurrentDir + "/" + name, &none), TSessionState::StateMakingDir);
}

void TSftpSession::Rename(size_t index, const std::string& newName) {
    if (index >= FEntries.size()) return;
    if (newName.empty()) {
        Log("Invalid filename, renaming cancelled.");
        return;
    }
    if (!CheckReady()) return;
    const std::string& old = FEntries[index].Name;
    Log("Renaming " + Quoted(old) + " to " + Quoted(newName));
    Expect(FClient.RenameFile(FCurrentDir + "/" + old, FCurrentDir + "/" + newName),
           TSessionState::StateRenaming);
}

void TSftpSession::Remove(size_t index) {
    if (index >= FEntries.size() || !CheckReady()) return;
    const TNvSftpFileInfo& e = FEntries[index];
    if (e.Attributes.IsDirectory()) {
        Log("Removing directory " + Quoted(e.Name));
        Expect(FClient.RemoveDirectory(FCurrentDir + "/" + e.Name), TSessionState::StateRemoving);
    } else {
        Log("Removing file " + Quoted(e.Name));
        Expect(FClient.RemoveFile(FCurrentDir + "/" + e.Name), TSessionState::StateRemoving);
    }
}

void TSftpSession::Download(size_t index, const std::string& localPath) {
    if (index >= FEntries.size()) return;
    const TNvSftpFileInfo& e = FEntries[index];
    if (e.Attributes.IsDirectory()) {
        Log("Can not download directory. Please choose ordinary file.");
        return;
    }
    if (!IsPlainFileName(e.Name)) {
        Log("Error: unsafe file name " + Quoted(e.Name) + ", download cancelled.");
        return;
    }
    if (!CheckReady()) return;
    // A fresh name beside the target: an existing file is never overwritten before the
    // download has succeeded.
    std::string partial;
    std::FILE* f = nullptr;
    for (int i = 0; i < 100 && !f; ++i) {
        partial = localPath + (i ? "." + std::to_string(i) : std::string()) + ".part";
        f = std::fopen(partial.c_str(), "wbx");
    }
    if (!f) {
        Log("Error: cannot create local file " + Quoted(partial));
        return;
    }
    Log("Starting file download, " + Quoted(e.Name));
    FTransferFile = f;
    FLocalPath = localPath;
    FPartialPath = partial;
    FTransferSize = e.Attributes.Includes(Sftp::AttrSize) ? uint64_t(e.Attributes.Size) : 0;
    Expect(FClient.OpenFile(FCurrentDir + "/" + e.Name, Sftp::ModeRead), TSessionState::StateOpeningDownload);
    if (!FExpected) FinishDownload(false, "request not sent");
}

void TSftpSession::Upload(const std::string& localPath) {
    if (!CheckReady()) return;
    std::FILE* f = std::fopen(localPath.c_str(), "rb");
    if (!f) {
        Log("Error: cannot open local file " + Quoted(localPath));
        return;
    }
    std::fseek(f, 0, SEEK_END);
    const off_t size = ftello(f);
    std::fseek(f, 0, SEEK_SET);
    const std::string name = BaseName(localPath);
    if (size < 0 || !IsPlainFileName(name)) {
        std::fclose(f);
        Log("Error: cannot upload " + Quoted(localPath));
        return;
    }
    Log("Starting file upload, " + Quoted(localPath));
    FTransferFile = f;
    FTransferSize = uint64_t(size);
    // Truncate, so an upload over a longer remote file leaves exactly the uploaded bytes.
    Expect(
        FClient.OpenFile(FCurrentDir + "/" + name, Sftp::ModeWrite | Sftp::ModeCreate | Sftp::ModeTruncate),
        TSessionState::StateOpeningUpload);
    if (!FExpected) FinishUpload(false, "request not sent");
}

void TSftpSession::CancelTransfer() {
    if (!FTransfer) return;
    Log("Transfer cancelled");
    FTransfer->Cancel();
    CheckTransfer();
}

void TSftpSession::ConnectionLost() {
    FExpected.reset();
    if (FTransferFile || FTransfer) {
        const bool download = !FPartialPath.empty();
        FTransfer.reset();
        if (FTransferFile) std::fclose(FTransferFile);
        FTransferFile = nullptr;
        if (download) std::remove(FPartialPath.c_str());
        FPartialPath.clear();
        Log("Error: connection lost, transfer failed");
    }
}

void TSftpSession::CheckTransfer() {
    if (!FTransfer) return;
    if (OnProgress) OnProgress();
    if (!FTransfer->Done()) return;
    const std::string why = FTransfer->Cancelled() ? "cancelled" : FTransfer->FailureText();
    const bool ok = FTransfer->Succeeded();
    if (FState == TSessionState::StateDownloading)
        FinishDownload(ok, why);
    else
        FinishUpload(ok, why);
    if (OnProgress) OnProgress(); // the finished transfer's progress and Cancel go idle
}

void TSftpSession::FinishDownload(bool ok, const std::string& why) {
    const bool hadHandle = FTransfer != nullptr;
    FTransfer.reset();
    FExpected.reset();
    if (FTransferFile && std::fclose(FTransferFile) != 0) ok = false;
    FTransferFile = nullptr;
    if (ok && std::rename(FPartialPath.c_str(), FLocalPath.c_str()) != 0) ok = false;
    if (ok) {
        Log("File received");
    } else {
        std::remove(FPartialPath.c_str());
        Log("Error: download failed" + (why.empty() ? std::string() : ": " + why));
    }
    FPartialPath.clear();
    if (hadHandle) CloseActiveHandle();
}

void TSftpSession::FinishUpload(bool ok, const std::string& why) {
    const bool hadHandle = FTransfer != nullptr;
    FTransfer.reset();
    FExpected.reset();
    if (FTransferFile) std::fclose(FTransferFile);
    FTransferFile = nullptr;
    if (ok) {
        Log("Closing active handle");
        Expect(FClient.CloseHandle(FCurrentHandle), TSessionState::StateClosingUpload);
        return;
    }
    Log("Error: upload failed" + (why.empty() ? std::string() : ": " + why));
    if (hadHandle) CloseActiveHandle();
}

void TSftpSession::OpenFile(const std::string& handle) {
    if (!FExpected || FClient.ReplyId() != *FExpected) {
        FClient.CloseHandle(handle); // not ours to keep open
        return;
    }
    FExpected.reset();
    switch (FState) {
    case TSessionState::StateOpeningList:
        Log("Directory opened");
        FCurrentHandle = handle;
        Expect(FClient.ReadDirectory(FCurrentHandle), TSessionState::StateReadingList);
        break;
    case TSessionState::StateChangingDir:
        Expect(FClient.CloseHandle(handle), TSessionState::StateChangingDir);
        break;
    case TSessionState::StateOpeningDownload:
    case TSessionState::StateOpeningUpload: {
        const bool download = FState == TSessionState::StateOpeningDownload;
        FCurrentHandle = handle;
        FState = download ? TSessionState::StateDownloading : TSessionState::StateUploading;
        FTransfer = std::make_unique<TNvSftpTransfer>(FClient, handle,
                                                      download ? TNvSftpTransfer::TDirection::Download
                                                               : TNvSftpTransfer::TDirection::Upload,
                                                      BlockSize, RequestsInFlight);
        std::FILE* f = FTransferFile;
        FTransfer->Write = [f](uint64_t off, const uint8_t* d, size_t n) {
            return fseeko(f, off_t(off), SEEK_SET) == 0 && std::fwrite(d, 1, n, f) == n;
        };
        FTransfer->Read = [f](uint64_t off, uint8_t* b, size_t max) -> long long {
            if (fseeko(f, off_t(off), SEEK_SET) != 0) return -1;
            size_t n = std::fread(b, 1, max, f);
            return std::ferror(f) ? -1 : (long long)n;
        };
        FTransfer->Start();
        CheckTransfer();
        break;
    }
    default:
        break;
    }
}

void TSftpSession::Listing(const std::vector<TNvSftpFileInfo>& listing) {
    if (!FExpected || FClient.ReplyId() != *FExpected || FState != TSessionState::StateReadingList) return;
    bool full = false;
    for (const auto& e : listing) {
        if (IsUnsafeListingName(e.Name)) {
            Log("Skipped unsafe name " + Quoted(e.Name));
            continue;
        }
        full = FIncoming.size() >= MaxListingEntries ||
               FIncomingBytes + e.Name.size() + e.LongName.size() > MaxListingBytes;
        if (full) break;
        FIncomingBytes += e.Name.size() + e.LongName.size();
        FIncoming.emplace_back();
        e.CopyTo(FIncoming.back());
    }
    if (full || FIncoming.size() >= MaxListingEntries) {
        Log("Error: the server's file list does not end; cut at " + std::to_string(FIncoming.size()) +
            " entries");
        Error(StatusEof, "");
        return;
    }
    Expect(FClient.ReadDirectory(FCurrentHandle), TSessionState::StateReadingList);
}

void TSftpSession::Data(const uint8_t* buffer, int size) {
    if (FTransfer && FTransfer->HandleData(FClient.ReplyId(), buffer, size)) CheckTransfer();
}

void TSftpSession::Error(int code, const std::string& comment) {
    if (FTransfer && FTransfer->HandleStatus(FClient.ReplyId(), code, comment)) {
        CheckTransfer();
        return;
    }
    const bool ours = FExpected && FClient.ReplyId() == *FExpected;
    if (ours && code == StatusEof && FState == TSessionState::StateReadingList) {
        FExpected.reset();
        Log("File list received");
        CloseActiveHandle();
        FEntries = std::move(FIncoming);
        FIncoming.clear();
        if (OnListChanged) OnListChanged();
        return;
    }
    Log("Error #" + std::to_string(code) + " with comment " + Quoted(comment));
    if (!ours) return;
    FExpected.reset();
    if (FState == TSessionState::StateOpeningDownload)
        FinishDownload(false, comment);
    else if (FState == TSessionState::StateOpeningUpload)
        FinishUpload(false, comment);
}

void TSftpSession::Success(const std::string& comment) {
    if (FTransfer && FTransfer->HandleStatus(FClient.ReplyId(), 0, comment)) {
        CheckTransfer();
        return;
    }
    if (!FExpected || FClient.ReplyId() != *FExpected) return; // e.g. the CLOSE of a listing
    FExpected.reset();
    switch (FState) {
    case TSessionState::StateChangingDir:
        Log("Operation succeeded with comment " + Quoted(comment));
        Expect(FClient.RequestAbsolutePath(FCurrentDir + "/" + FChosenDir + "/"),
               TSessionState::StateChangingDir);
        break;
    case TSessionState::StateMakingDir:
    case TSessionState::StateRenaming:
    case TSessionState::StateRemoving:
        Log("Operation succeeded with comment " + Quoted(comment));
        ListDirectory(FCurrentDir);
        break;
    case TSessionState::StateClosingUpload:
        ListDirectory(FCurrentDir);
        break;
    default:
        break;
    }
}

void TSftpSession::AbsolutePath(const std::string& path) {
    if (!FExpected || FClient.ReplyId() != *FExpected) return;
    FExpected.reset();
    FCurrentDir = path;
    if (OnPathChanged) OnPathChanged(path);
    ListDirectory(path);
}

} // namespace Varnello::SecureWin
