// TFormMain, server side: connect and disconnect, the server listing and navigation, remote
// delete and create directory, and the transfer batches (queue, folder walks, workers, drops).
//
// Every call on the connection runs on the GUI thread except the file transfers, which a
// TFTPThread runs one at a time; the next one starts from the previous one's end hand-over.
#include "app/CertificatePrompt.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "app/MessageLog.h"
#include "app/QueuePane.h"
#include "ftp/FTPThread.h"
#include "ftp/INetUtil.h"
#include "ftp/inet/WinInet.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QToolButton>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>
#include <string_view>

namespace {

HINTERNET Handle(void* h) {
    return static_cast<HINTERNET>(h);
}

TListRecord ToRecord(const TWin32FindData& d) {
    TListRecord r;
    r.Attributes = d.dwFileAttributes;
    r.LastWriteTime = FileTimeValue(d.ftLastWriteTime);
    r.Size = FindDataSize(d);
    r.Name = d.cFileName;
    return r;
}

// Server names that are dots only are listing artifacts, skipped without a word; other unsafe
// names (holding "/", "\" or NUL) are skipped and counted, since a hostile server could use
// them to climb out of the target folder.
bool SkipServerName(const std::string& name, int& unsafeCount) {
    if (IsDotsName(name)) return true;
    if (IsUnsafeListingName(name)) {
        ++unsafeCount;
        return true;
    }
    return false;
}

// The server's last reply and its code; the thread's last error stays as it was.
std::string LastReply(DWORD* code = nullptr) {
    const DWORD saved = GetLastError();
    char text[4097] = "";
    DWORD error = 0, length = sizeof text;
    InternetGetLastResponseInfo(&error, text, &length);
    text[sizeof text - 1] = '\0';
    SetLastError(saved);
    if (code) *code = error;
    return text;
}

QString CountText(qsizetype n) {
    return FormatSizeText(static_cast<uint64_t>(n));
}

} // namespace

void TFormMain::CloseConnections() {
    SetStatus(0, "Closing Connections");
    SetStatus(1, "");
    // Nothing queued outlives its connection; the running worker's row ends when it does.
    if (FTransferQueue) {
        for (const TQueueItem& i : FTransferQueue->Items())
            if (i.State == TQueueState::Queued) FTransferQueue->Skip(i.Id, "Disconnected");
        if (QueuePane) QueuePane->Changed();
    }
    CloseTransferConnection();
    FSingleConnection = false;
    FReconnectAfterCancel = false;
    InternetCloseHandle(Handle(FConnection));
    FConnection = nullptr;
    InternetCloseHandle(Handle(FInternet));
    FInternet = nullptr;
    ShowConnectionSecurity();
    UpdateButtons();
}

void TFormMain::DisconButClick() {
    CloseConnections();
    ClearHostListing();
}

void TFormMain::ConnectButClick() {
    CloseConnections();
    FCertificatesTrustedOnce.clear();
    // A failed step must not leave a connect step's text standing, nor, without a connection,
    // the listing of the one just closed.
    struct TFailureGuard {
        TFormMain* W;
        int Uncaught = std::uncaught_exceptions();
        ~TFailureGuard() {
            if (std::uncaught_exceptions() <= Uncaught) return;
            W->SetStatus(0, "");
            if (!W->FConnection) W->ClearHostListing();
        }
    } failureGuard{this};
    SetStatus(0, "Initializing Internet Connections");
    FInternet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InetCheck(Handle(FInternet));
    const DWORD tls = TlsModeForEncryptionIndex(EncryptionBox->currentIndex()), reconnect = 1;
    InetCheck(InternetSetOption(Handle(FInternet), INTERNET_OPTION_FTP_TLS, &tls, sizeof tls));
    InetCheck(
        InternetSetOption(Handle(FInternet), INTERNET_OPTION_FTP_RECONNECT, &reconnect, sizeof reconnect));
    InetCheck(FtpSetCertificateCallback(Handle(FInternet), AskAboutCertificate, this));
    MessageLog->Attach(Handle(FInternet));
    SetStatus(0, "Connecting to Host Server");
    const std::string host = FTPEdit->text().toStdString();
    FConnection = OpenFtpConnection(FInternet);
    InetCheck(Handle(FConnection), host);
    if (!FTPDirEdit->text().isEmpty())
        InetCheck(FtpSetCurrentDirectory(Handle(FConnection), FTPDirEdit->text().toStdString().c_str()),
                  host);
    ListHostDirectory();
    ShowConnectionSecurity();
    if (!LocalDirEdit->text().isEmpty()) {
        FLocalDir = LocalDirEdit->text().toStdString();
        ListLocalDirectory();
    }
    UpdateButtons();
}

void* TFormMain::OpenFtpConnection(void* internet) {
    const std::string host = FTPEdit->text().toStdString();
    const std::string user = LogonEdit->text().toStdString();
    const std::string pass = PassEdit->text().toStdString();
    // Implicit TLS has its own default port; the layer picks it when none is named.
    const INTERNET_PORT port = TlsModeForEncryptionIndex(EncryptionBox->currentIndex()) == FTP_TLS_IMPLICIT
                                   ? INTERNET_INVALID_PORT_NUMBER
                                   : INTERNET_DEFAULT_FTP_PORT;
    return InternetConnect(Handle(internet), host.c_str(), port, user.c_str(), pass.c_str(),
                           INTERNET_SERVICE_FTP, 0, 0);
}

void* TFormMain::TransferConnection() {
    if (FSingleConnection) return FConnection;
    if (FTransferConnection) return FTransferConnection;
    const DWORD savedError = GetLastError();
    FTransferConnection = OpenFtpConnection(FInternet);
    if (FTransferConnection) {
        const std::string dir = FHostDir.empty() ? std::string("/") : FHostDir;
        FtpSetCurrentDirectory(Handle(FTransferConnection), dir.c_str());
        return FTransferConnection;
    }
    // A server allowing one session per user answers 421; the batch then shares the window's
    // connection as it always did, and browsing waits for it. The status bar says so.
    SetLastError(savedError);
    FSingleConnection = true;
    return FConnection;
}

void TFormMain::CloseTransferConnection() {
    if (FTransferConnection && FTransferConnection != FConnection)
        InternetCloseHandle(Handle(FTransferConnection));
    FTransferConnection = nullptr;
}

void TFormMain::ListHostDirectory() {
    SetStatus(0, "Host Directory");
    SetStatus(1, "");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TCursorGuard {
        ~TCursorGuard() { QApplication::restoreOverrideCursor(); }
    } cursorGuard;

    char dir[MAX_PATH + 1] = {};
    DWORD length = sizeof(dir);
    if (FtpGetCurrentDirectory(Handle(FConnection), dir, &length)) FHostDir = dir;
    FTPTopPanel->setTitle("Host Dir: " + QString::fromStdString(FHostDir));

    std::vector<TListRecord> records;
    if (FHostDir.size() > 1) {
        TListRecord dots;
        dots.Name = "..";
        dots.Attributes = FILE_ATTRIBUTE_DIRECTORY_BIT;
        records.push_back(dots);
    }
    FUnsafeNamesSkipped = 0;
    TWin32FindData data{};
    HINTERNET find = FtpFindFirstFile(Handle(FConnection), "", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    FUnsafeNamesSkipped += static_cast<int>(FtpGetLastListingSkippedNames());
    // The listing's failure is not raised, but an empty list must not pass for an empty folder.
    QString failure;
    if (!find && GetLastError() != ERROR_NO_MORE_FILES) {
        const DWORD code = GetLastError();
        const std::string text = code == ERROR_INTERNET_EXTENDED_ERROR ? LastReply() : InetErrorMessage(code);
        failure = QString::fromStdString(text.substr(0, text.find_first_of("\r\n"))).trimmed();
    }
    if (find) {
        do {
            if (!SkipServerName(data.cFileName, FUnsafeNamesSkipped)) records.push_back(ToRecord(data));
        } while (InternetFindNextFile(find, &data));
        InternetCloseHandle(find);
    }
    FTPList->SetRecords(records);
    SetStatus(0, "Host Ready");
    QString count = CountText(FTPList->topLevelItemCount()) + " files";
    if (FUnsafeNamesSkipped > 0) count += QString("  (%1 unsafe names skipped)").arg(FUnsafeNamesSkipped);
    if (!failure.isEmpty()) count += "  (listing failed: " + failure + ")";
    SetStatus(1, count);
    UpdateButtons();
}

void TFormMain::FTPListDblClick() {
    QTreeWidgetItem* item = FTPList->FirstSelected();
    if (!item || !IsFolderItem(item)) return;
    const std::string path = EnsureTrailing(FHostDir, '/') + item->text(0).toStdString();
    InetCheck(FtpSetCurrentDirectory(Handle(FConnection), path.c_str()));
    ListHostDirectory();
}

void TFormMain::FTPDirEditDblClick() {
    FTPDirEdit->setText(QString::fromStdString(FHostDir));
}

namespace {

// Removes a server folder with everything in it, depth first; each folder is listed by entering
// it, so a name with wildcards is not taken as a pattern. The first refusal ends the delete
// with the server's reply.
void RemoveHostTree(HINTERNET connection, const std::string& path, std::size_t depth) {
    constexpr std::size_t MaxDepth = 64;
    if (depth > MaxDepth)
        throw EVarnelloError(path + ": deeper than " + std::to_string(MaxDepth) + " levels; not deleted");
    InetCheck(FtpSetCurrentDirectory(connection, path.c_str()));
    std::vector<std::string> files, folders;
    TWin32FindData data{};
    int unsafe = 0;
    HINTERNET find = FtpFindFirstFile(connection, "", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find && GetLastError() != ERROR_NO_MORE_FILES) InetCheck(static_cast<std::uintptr_t>(0));
    if (find) {
        do {
            if (IsDotsName(data.cFileName)) continue;
            // A name that cannot be named back to the server would leave the folder non-empty.
            if (SkipServerName(data.cFileName, unsafe)) continue;
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? folders : files).push_back(data.cFileName);
        } while (InternetFindNextFile(find, &data));
        InternetCloseHandle(find);
    }
    const std::string base = EnsureTrailing(path, '/');
    for (const std::string& f : files) InetCheck(FtpDeleteFile(connection, (base + f).c_str()));
    for (const std::string& d : folders) RemoveHostTree(connection, base + d, depth + 1);
    InetCheck(FtpSetCurrentDirectory(connection, "/"));
    InetCheck(FtpRemoveDirectory(connection, path.c_str()));
}

} // namespace

void TFormMain::HostDeleteClick() {
    QList<QTreeWidgetItem*> items = FTPList->SelectedInListOrder();
    items.removeIf([](QTreeWidgetItem* i) { return IsDotsName(i->text(0).toStdString()); });
    if (items.isEmpty()) return;
    // The server has no trash: the question comes first, and it says so.
    const QString what =
        items.size() == 1 ? "\"" + items.front()->text(0) + "\"" : QString("%1 items").arg(items.size());
    if (MessageDialog(*Prompts, this, "Delete " + what + " from the server? This cannot be undone.",
                      {"&Delete", "&Cancel"}, QMessageBox::Warning) != 1)
        return;
    struct TBack { // the tree delete moves the current folder; the listing comes back either way
        TFormMain* W;
        ~TBack() {
            FtpSetCurrentDirectory(Handle(W->FConnection), W->FHostDir.c_str());
            try {
                W->ListHostDirectory();
            } catch (...) {
            }
        }
    } back{this};
    for (QTreeWidgetItem* item : items) {
        const std::string path = EnsureTrailing(FHostDir, '/') + item->text(0).toStdString();
        if (!IsFolderItem(item))
            InetCheck(FtpDeleteFile(Handle(FConnection), path.c_str()));
        else if (!FtpRemoveDirectory(Handle(FConnection), path.c_str()))
            RemoveHostTree(Handle(FConnection), path, 0); // not empty, or refused: its content first
    }
}

void TFormMain::CreateDirectory1Click() {
    // With nothing selected the name is still asked once, so the command always does something.
    const int selected = std::max(1, static_cast<int>(FTPList->SelectedInListOrder().size()));
    for (int i = 0; i < selected; ++i) {
        QString name = "newdir";
        if (SInputBox(*Prompts, this, "Brandle FTP", "Directory Name (case sensitive):", name) != 1) return;
        InetCheck(FtpCreateDirectory(Handle(FConnection), name.toStdString().c_str()));
    }
    ListHostDirectory();
}

// --- transfers ---

namespace {

// Bounds of one batch's folder walk, so that a tree without end (a server whose every folder
// holds another, a local link loop) can exhaust neither the memory nor the user's patience.
constexpr std::size_t MaxWalkDepth = 64;
constexpr std::size_t MaxWalkEntries = 100000;
// How often a walk lets the window paint and its Cancel button work, and when the walk's
// progress dialog appears.
constexpr qint64 WalkEventsIntervalMs = 50;
constexpr qint64 WalkDialogDelayMs = 400;
constexpr std::size_t MaxReportedFolders = 10;

struct EWalkCancelled {};

// An editor backup copy is the file's name with "_bak" appended, beside the file itself.
bool IsBackupCopy(const std::string& name, const std::set<std::string>& siblings) {
    constexpr std::string_view suffix = "_bak";
    return name.size() > suffix.size() && name.ends_with(suffix) &&
           siblings.count(name.substr(0, name.size() - suffix.size())) != 0;
}

// Whether a server name can become a file or folder in `folder`: the name and the temporary
// name a download writes first must fit the file system's name limit, the path the path limit.
bool LocalNameFits(const std::string& folder, const std::string& name) {
    long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    const std::size_t limit = static_cast<std::size_t>(nameMax);
    const std::size_t pathLength = EnsureTrailing(folder, '/').size();
    return name.size() <= limit && FtpTempNameLength(name.size()) <= limit &&
           pathLength + FtpTempNameLength(name.size()) < PATH_MAX && pathLength + name.size() < PATH_MAX;
}

// The folder a download writes into must be a real folder: never a link (the files would land
// wherever it points) and never a file. Missing, it is made.
bool EnsureLocalFolder(const std::string& path, std::string& why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT || (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) ||
            ::lstat(path.c_str(), &st) != 0) {
            why = std::string("cannot be created: ") + std::strerror(errno);
            return false;
        }
    }
    if (S_ISLNK(st.st_mode)) {
        why = "is a link; nothing is written through it";
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        why = "is not a folder";
        return false;
    }
    return true;
}

} // namespace

// One batch being built. Its entries wait here until the whole walk has succeeded, so a walk
// that fails or is cancelled leaves nothing behind for a later batch.
struct TFolderWalk {
    std::vector<TTransferEntry> Batch;
    std::set<std::string> VisitedRemote;
    std::set<std::pair<dev_t, ino_t>> VisitedLocal;
    std::vector<std::string> Skipped; // "path: reason", reported once at the end
    std::size_t Entries = 0;
    QElapsedTimer Clock;
    qint64 LastEvents = 0;
    std::unique_ptr<QProgressDialog> Progress;
};

namespace {

void SkipFolder(TFolderWalk& walk, const std::string& path, const std::string& why) {
    // The reason may be a server's reply of any length; one line of it says enough.
    constexpr std::size_t MaxReason = 200;
    std::string reason = why.substr(0, why.find_first_of("\r\n"));
    if (reason.size() > MaxReason) reason = reason.substr(0, MaxReason) + "...";
    walk.Skipped.push_back(path + ": " + reason);
}

void CountWalkEntry(TFolderWalk& walk) {
    if (++walk.Entries > MaxWalkEntries)
        throw EVarnelloError("The selection holds more than " + std::to_string(MaxWalkEntries) +
                             " files and folders; nothing was transferred");
}

// Between two server calls: paint, serve the Cancel button, and stop when it was pressed.
// User input reaches the window only once the window-modal dialog is up, so no other command
// can start on the connection in the middle of a walk.
void WalkTick(QWidget* window, TFolderWalk& walk, const std::string& where) {
    const qint64 now = walk.Clock.elapsed();
    if (now - walk.LastEvents < WalkEventsIntervalMs) return;
    walk.LastEvents = now;
    if (!walk.Progress && now >= WalkDialogDelayMs) {
        walk.Progress = std::make_unique<QProgressDialog>(window);
        walk.Progress->setWindowTitle("Varnello");
        walk.Progress->setAccessibleName("Reading folders");
        auto* cancel = new QPushButton("Cancel", walk.Progress.get());
        cancel->setAccessibleName("Cancel");
        walk.Progress->setCancelButton(cancel);
        walk.Progress->setRange(0, 0);
        walk.Progress->setAutoClose(false);
        walk.Progress->setAutoReset(false);
        walk.Progress->setMinimumDuration(0);
        walk.Progress->setWindowModality(Qt::WindowModal);
        walk.Progress->show();
    }
    if (walk.Progress) {
        walk.Progress->setLabelText("Reading folders: " + QString::fromStdString(where));
        if (auto* label = walk.Progress->findChild<QLabel*>()) label->setTextFormat(Qt::PlainText);
    }
    QCoreApplication::processEvents(walk.Progress ? QEventLoop::AllEvents
                                                  : QEventLoop::ExcludeUserInputEvents);
    if (walk.Progress && walk.Progress->wasCanceled()) throw EWalkCancelled{};
}

} // namespace

void TFormMain::GetButClick() {
    GetSelection();
}
void TFormMain::SendButClick() {
    PutSelection();
}

bool TFormMain::WalkSelection(TFileList* list) {
    TFolderWalk walk;
    walk.Clock.start();
    FWalk = &walk;
    struct TEnd {
        TFolderWalk*& Walk;
        ~TEnd() { Walk = nullptr; }
    } end{FWalk};
    try {
        QueueSelection(list);
    } catch (const EWalkCancelled&) {
        return false;
    }
    walk.Progress.reset();
    if (!walk.Skipped.empty()) {
        QString text = "Some folders were skipped:";
        for (std::size_t i = 0; i < walk.Skipped.size() && i < MaxReportedFolders; ++i)
            text += "\r\n" + QString::fromStdString(walk.Skipped[i]);
        if (walk.Skipped.size() > MaxReportedFolders)
            text += QString("\r\n... and %1 more").arg(walk.Skipped.size() - MaxReportedFolders);
        MessageDialog(*Prompts, this, text, {"OK"}, QMessageBox::Warning);
    }
    FTransferQueue->BeginBatch();
    for (const TTransferEntry& e : walk.Batch)
        FTransferQueue->Add(e.LocalPath, e.RemotePath, e.Downloading, e.Size);
    if (QueuePane) QueuePane->Changed();
    return true;
}

void TFormMain::GetSelection() {
    if (FWalk) return; // a walk is on (its dialog is up): one at a time
    FDownloading = true;
    FUnsafeNamesSkipped = FBackupCopiesSkipped = FLocalLinksSkipped = 0;
    std::exception_ptr failure;
    try {
        WalkSelection(FTPList);
    } catch (...) {
        failure = std::current_exception();
    }
    // A worker still running starts the next entry itself when it ends; a second worker on
    // the same connection would only fail.
    if (!FWorkerRunning && (!failure || FTransferQueue->Busy())) StartNextTransfer();
    // The download walk moved the server's current folder.
    const BOOL back = FtpSetCurrentDirectory(Handle(FConnection), FHostDir.c_str());
    if (failure) std::rethrow_exception(failure);
    InetCheck(back);
}

void TFormMain::PutSelection() {
    if (FWalk) return;
    FDownloading = false;
    FUnsafeNamesSkipped = FBackupCopiesSkipped = FLocalLinksSkipped = 0;
    std::exception_ptr failure;
    try {
        WalkSelection(LocalList);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!FWorkerRunning && (!failure || FTransferQueue->Busy())) StartNextTransfer();
    QDir::setCurrent(QString::fromStdString(FLocalDir));
    if (failure) std::rethrow_exception(failure);
}

void TFormMain::QueueSelection(TFileList* list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (!item->isSelected()) continue;
        const std::string caption = item->text(0).toStdString();
        // A selected ".." would walk the parent folder; it takes no part.
        if (IsDotsName(caption)) continue;
        if (FDownloading && !LocalNameFits(FLocalDir, caption)) {
            ++FUnsafeNamesSkipped;
            continue;
        }
        const std::string local = EnsureTrailing(FLocalDir, '/') + caption;
        const std::string remote = EnsureTrailing(FHostDir, '/') + caption;
        if (!IsFolderItem(item))
            QueueTransfer(local, remote, FDownloading ? ItemSize(item) : FTP_SIZE_UNKNOWN);
        else
            QueueFolder(FDownloading, local, remote);
    }
}

void TFormMain::QueueTransfer(const std::string& local, const std::string& remote, std::uint64_t size) {
    if (!FWalk) {
        FTransferQueue->Add(local, remote, FDownloading, size);
        return;
    }
    CountWalkEntry(*FWalk);
    FWalk->Batch.push_back({local, remote, FDownloading, size});
}

void TFormMain::QueueFolder(bool downloading, const std::string& local, const std::string& remote) {
    if (downloading)
        QueueHostFolder(local, remote);
    else
        QueueLocalFolder(local, remote);
}

// The upload walk, depth first in the order the file system delivers the entries, with an
// explicit stack: links to folders inside the tree are not followed (a link to its own folder
// would upload the tree again and again), links to files are uploaded as the files they name.
void TFormMain::QueueLocalFolder(const std::string& local, const std::string& remote) {
    TFolderWalk own;
    TFolderWalk& walk = FWalk ? *FWalk : own;
    struct TFrame {
        std::string Local, Remote;
        std::vector<TListRecord> Entries;
        std::set<std::string> Names;
        std::size_t Next = 0;
    };
    std::vector<TFrame> stack;
    auto enter = [&](const std::string& l, const std::string& r) {
        if (stack.size() >= MaxWalkDepth) {
            SkipFolder(walk, l, "deeper than " + std::to_string(MaxWalkDepth) + " levels");
            return;
        }
        struct stat st {};
        if (::stat(l.c_str(), &st) == 0 && !walk.VisitedLocal.insert({st.st_dev, st.st_ino}).second) return;
        CountWalkEntry(walk);
        WalkTick(this, walk, l);
        // Make sure the server folder exists; neither result is looked at (the transfers into
        // a folder that could not be made fail later, each with its own message).
        if (!FtpSetCurrentDirectory(Handle(FConnection), r.c_str()))
            FtpCreateDirectory(Handle(FConnection), r.c_str());
        TFrame frame{l, r, ListLocalEntries(l), {}, 0};
        for (const TListRecord& e : frame.Entries) frame.Names.insert(e.Name);
        stack.push_back(std::move(frame));
    };
    enter(local, remote);
    while (!stack.empty()) {
        TFrame& top = stack.back();
        if (top.Next == top.Entries.size()) {
            stack.pop_back();
            continue;
        }
        const TListRecord r = top.Entries[top.Next++];
        if (IsDotsName(r.Name)) continue;
        const std::string childLocal = EnsureTrailing(top.Local, '/') + r.Name;
        const std::string childRemote = EnsureTrailing(top.Remote, '/') + r.Name;
        if (r.Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) {
            if (r.IsLink)
                ++FLocalLinksSkipped;
            else
                enter(childLocal, childRemote);
        } else if (IsBackupCopy(r.Name, top.Names)) {
            ++FBackupCopiesSkipped;
        } else {
            QueueTransfer(childLocal, childRemote);
        }
    }
}

// The download walk: within a server folder its files first, then its folders, depth first,
// with an explicit stack. Each folder is entered and listed by its full path, so a folder the
// server refuses is skipped (and reported once) instead of listing whatever folder is current.
void TFormMain::QueueHostFolder(const std::string& local, const std::string& remote) {
    TFolderWalk own;
    TFolderWalk& walk = FWalk ? *FWalk : own;
    struct TFrame {
        std::string Local, Remote;
        std::vector<std::string> Folders;
        std::size_t Next = 0;
    };
    std::vector<TFrame> stack;
    auto enter = [&](const std::string& l, const std::string& r) {
        if (stack.size() >= MaxWalkDepth) {
            SkipFolder(walk, r, "deeper than " + std::to_string(MaxWalkDepth) + " levels");
            return;
        }
        if (!walk.VisitedRemote.insert(r).second) return; // listed twice by the server
        CountWalkEntry(walk);
        WalkTick(this, walk, r);
        HINTERNET connection = Handle(FConnection);
        if (!FtpSetCurrentDirectory(connection, r.c_str())) {
            if (GetLastError() != ERROR_INTERNET_EXTENDED_ERROR) InetCheck(static_cast<std::uintptr_t>(0));
            SkipFolder(walk, r, LastReply());
            return;
        }
        // A name with wildcards would be taken as a pattern; the folder is current by now.
        const char* listed = r.find_first_of("*?") == std::string::npos ? r.c_str() : "";
        TWin32FindData data{};
        std::vector<std::pair<std::string, std::uint64_t>> files;
        std::vector<std::string> folders;
        HINTERNET find = FtpFindFirstFile(connection, listed, &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
        FUnsafeNamesSkipped += static_cast<int>(FtpGetLastListingSkippedNames());
        if (!find) {
            const DWORD code = GetLastError();
            DWORD replyCode = 0;
            const std::string reply = LastReply(&replyCode);
            if (code == ERROR_INTERNET_EXTENDED_ERROR && replyCode / 100 == 5) {
                SkipFolder(walk, r, reply);
                return;
            }
            if (code != ERROR_NO_MORE_FILES) InetCheck(static_cast<std::uintptr_t>(0));
        } else {
            do {
                if (SkipServerName(data.cFileName, FUnsafeNamesSkipped)) continue;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    folders.push_back(data.cFileName);
                else
                    files.emplace_back(data.cFileName, FindDataSize(data));
            } while (InternetFindNextFile(find, &data));
            InternetCloseHandle(find);
        }
        if (stack.empty()) {
            std::error_code ec; // the target folder's own parents; made as the user named them
            std::filesystem::create_directories(ParentLocalDir(l), ec);
        }
        std::string why;
        if (!EnsureLocalFolder(l, why)) {
            SkipFolder(walk, l, why);
            return;
        }
        // Names this folder cannot hold are counted with the unsafe ones, before any transfer.
        auto fits = [&](const std::string& name) {
            if (LocalNameFits(l, name)) return true;
            ++FUnsafeNamesSkipped;
            return false;
        };
        for (const auto& [name, size] : files)
            if (fits(name)) QueueTransfer(EnsureTrailing(l, '/') + name, EnsureTrailing(r, '/') + name, size);
        std::erase_if(folders, [&](const std::string& name) { return !fits(name); });
        stack.push_back({l, r, std::move(folders), 0});
    };
    enter(local, remote);
    while (!stack.empty()) {
        TFrame& top = stack.back();
        if (top.Next == top.Folders.size()) {
            stack.pop_back();
            continue;
        }
        const std::string& name = top.Folders[top.Next++];
        const std::string childLocal = EnsureTrailing(top.Local, '/') + name;
        const std::string childRemote = EnsureTrailing(top.Remote, '/') + name;
        enter(childLocal, childRemote);
    }
}

std::string TFormMain::QueueEntryFileName(const TTransferEntry& entry) {
    const auto slash = entry.LocalPath.find_last_of('/');
    return slash == std::string::npos ? entry.LocalPath : entry.LocalPath.substr(slash + 1);
}

void TFormMain::StartNextTransfer() {
    TQueueItem* item = nullptr;
    while ((item = FTransferQueue->StartNext(QDateTime::currentMSecsSinceEpoch())) &&
           !ResolveExistingTarget(*item))
        item = nullptr;
    if (QueuePane) QueuePane->Changed();
    if (!item) {
        UpdateQueueStatus();
        if (FTransferQueue->Busy()) { // paused with rows waiting
            QApplication::restoreOverrideCursor();
            SetStatus(0, "Paused");
            return;
        }
        if (FDownloading)
            ListLocalDirectory();
        else
            ListHostDirectory();
        QApplication::restoreOverrideCursor();
        SetStatus(0, "Ready");
        QStringList notes;
        if (FUnsafeNamesSkipped > 0) notes << QString("%1 unsafe names skipped").arg(FUnsafeNamesSkipped);
        if (FBackupCopiesSkipped > 0) notes << QString("%1 backup copies skipped").arg(FBackupCopiesSkipped);
        if (FLocalLinksSkipped > 0) notes << QString("%1 linked folders skipped").arg(FLocalLinksSkipped);
        SetStatus(1, notes.join(", "));
        return;
    }
    if (!QApplication::overrideCursor()) QApplication::setOverrideCursor(Qt::BusyCursor);
    HINTERNET connection = Handle(TransferConnection());
    SetStatus(1,
              QString("File: %1  (%2 to go)")
                  .arg(QString::fromStdString(item->LocalPath.substr(item->LocalPath.find_last_of('/') + 1)),
                       CountText(static_cast<qsizetype>(FTransferQueue->Pending()))));
    auto* worker = new TFTPThread(this);
    worker->Connection = connection;
    worker->Receiving = item->Downloading;
    worker->LocalFile = item->LocalPath;
    worker->RemoteFile = item->RemotePath;
    worker->ExpectedSize = item->Size;
    worker->Resumable = true;
    worker->PartialFile = item->PartialPath;
    worker->ResumeOffset = item->ResumeOffset;
    FRunningId = item->Id;
    worker->OnStatus = [this](QObject* sender, const QString& text) { TransferStatus(sender, text); };
    worker->OnTerminate = [this](QObject* sender) {
        RunCommand([this, sender] { TransferThreadDone(sender); });
    };
    FWorkerRunning = true;
    UpdateQueueStatus();
    worker->start();
}

void TFormMain::TransferStatus(QObject* sender, const QString& text) {
    SetStatus(0, text);
    // The worker waits while this runs, so its count is read safely.
    if (auto* worker = qobject_cast<TFTPThread*>(sender)) {
        FTransferQueue->Progress(FRunningId,
                                 static_cast<std::uint64_t>(std::max<std::int64_t>(0, worker->BytesDone)),
                                 QDateTime::currentMSecsSinceEpoch());
        UpdateQueueStatus();
    }
}

void TFormMain::TransferThreadDone(QObject* sender) {
    auto* worker = qobject_cast<TFTPThread*>(sender);
    FWorkerRunning = false;
    const std::uint64_t id = FRunningId;
    FRunningId = 0;
    const TQueueItem* row = FTransferQueue->Find(id);
    const bool cancelled = row && row->CancelRequested;
    const bool failed = worker && !worker->ErrorText.isEmpty();
    // A failed download hands over the part it kept, so a retry goes on from there.
    FTransferQueue->Finished(id, !failed, failed ? worker->ErrorText.toStdString() : std::string(),
                             worker && worker->Receiving ? worker->ResumeOffset : 0,
                             worker && worker->Receiving ? worker->PartialFile : std::string());
    if (FClosing) return;
    if (QueuePane) QueuePane->Changed();
    // An aborted transfer leaves its connection unusable; the next one opens a fresh one.
    if (cancelled) CloseTransferConnection();
    if (FReconnectAfterCancel) ReconnectAfterCancel();
    if (failed && !cancelled && row) {
        TBatchAnswers& answers = FTransferQueue->Answers(FTransferQueue->Find(id)->Batch);
        if (!answers.SilenceFailures) {
            QApplication::beep();
            // The status line keeps the bare text; the box adds what happened and what to try.
            TDialogRequest req;
            req.Kind = TDialogRequest::dkMessage;
            req.Title = "Varnello";
            req.Text = worker->ErrorAdvice.isEmpty() ? worker->ErrorText
                                                     : worker->ErrorText + "\n\n" + worker->ErrorAdvice;
            req.Buttons = {"OK"};
            req.CheckBox = "Don't show this again for this batch";
            Prompts->Ask(this, req);
            answers.SilenceFailures = req.Checked;
        }
    }
    // On a shared connection a walk owns it until done; the walk starts the next worker then.
    if (!FWalk || !FSingleConnection) StartNextTransfer();
}

bool TFormMain::AcceptsDrop(const TFileList* target, const QObject* source) const {
    if (target == LocalList) return source == FTPList;
    if (target == FTPList) return source == LocalList;
    return false;
}

void TFormMain::ListDrop(TFileList* target, QObject* source) {
    if (!AcceptsDrop(target, source)) return;
    if (target == LocalList)
        GetSelection();
    else
        PutSelection();
}
