// TFormMain, server side: connect and disconnect, the server listing and navigation, remote
// delete and create directory, and the transfer batches (queue, folder walks, workers, drops).
//
// Every call on the connection runs on the GUI thread except the file transfers, which a
// TFTPThread runs one at a time; the next one starts from the previous one's end hand-over.
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "ftp/FTPThread.h"
#include "ftp/INetUtil.h"
#include "ftp/inet/WinInet.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <filesystem>

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

QString CountText(qsizetype n) {
    return FormatSizeText(static_cast<uint64_t>(n));
}

} // namespace

void TFormMain::CloseConnections() {
    SetStatus(0, "Closing Connections");
    SetStatus(1, "");
    InternetCloseHandle(Handle(FConnection));
    FConnection = nullptr;
    InternetCloseHandle(Handle(FInternet));
    FInternet = nullptr;
    UpdateButtons();
}

void TFormMain::DisconButClick() {
    CloseConnections();
}

void TFormMain::ConnectButClick() {
    CloseConnections();
    SetStatus(0, "Initializing Internet Connections");
    FInternet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InetCheck(Handle(FInternet));
    SetStatus(0, "Connecting to Host Server");
    const std::string host = FTPEdit->text().toStdString();
    const std::string user = LogonEdit->text().toStdString();
    const std::string pass = PassEdit->text().toStdString();
    FConnection = InternetConnect(Handle(FInternet), host.c_str(), INTERNET_DEFAULT_FTP_PORT, user.c_str(),
                                  pass.c_str(), INTERNET_SERVICE_FTP, 0, 0);
    InetCheck(Handle(FConnection));
    if (!FTPDirEdit->text().isEmpty())
        InetCheck(FtpSetCurrentDirectory(Handle(FConnection), FTPDirEdit->text().toStdString().c_str()));
    ListHostDirectory();
    if (!LocalDirEdit->text().isEmpty()) {
        FLocalDir = LocalDirEdit->text().toStdString();
        ListLocalDirectory();
    }
    UpdateButtons();
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
    if (HINTERNET find = FtpFindFirstFile(Handle(FConnection), "", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0)) {
        do {
            if (!SkipServerName(data.cFileName, FUnsafeNamesSkipped)) records.push_back(ToRecord(data));
        } while (InternetFindNextFile(find, &data));
        InternetCloseHandle(find);
    }
    FTPList->SetRecords(records);
    SetStatus(0, "Host Ready");
    QString count = CountText(FTPList->topLevelItemCount()) + " files";
    if (FUnsafeNamesSkipped > 0) count += QString("  (%1 unsafe names skipped)").arg(FUnsafeNamesSkipped);
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

void TFormMain::HostDeleteClick() {
    for (QTreeWidgetItem* item : FTPList->SelectedInListOrder()) {
        const std::string path = EnsureTrailing(FHostDir, '/') + item->text(0).toStdString();
        if (IsFolderItem(item))
            InetCheck(FtpRemoveDirectory(Handle(FConnection), path.c_str()));
        else
            InetCheck(FtpDeleteFile(Handle(FConnection), path.c_str()));
    }
    ListHostDirectory();
}

void TFormMain::CreateDirectory1Click() {
    const int selected = static_cast<int>(FTPList->SelectedInListOrder().size());
    for (int i = 0; i < selected; ++i) {
        QString name = "newdir";
        if (SInputBox(this, "Brandle FTP", "Directory Name (case sensitive):", name) != 1) return;
        InetCheck(FtpCreateDirectory(Handle(FConnection), name.toStdString().c_str()));
    }
    ListHostDirectory();
}

// --- transfers ---

void TFormMain::GetButClick() {
    GetSelection();
}
void TFormMain::SendButClick() {
    PutSelection();
}

void TFormMain::GetSelection() {
    FDownloading = true;
    FUnsafeNamesSkipped = 0;
    QueueSelection(FTPList);
    StartNextTransfer();
    // The download walk moved the server's current folder.
    InetCheck(FtpSetCurrentDirectory(Handle(FConnection), FHostDir.c_str()));
}

void TFormMain::PutSelection() {
    FDownloading = false;
    FUnsafeNamesSkipped = 0;
    QueueSelection(LocalList);
    StartNextTransfer();
    QDir::setCurrent(QString::fromStdString(FLocalDir));
}

void TFormMain::QueueSelection(TFileList* list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (!item->isSelected()) continue;
        const std::string caption = item->text(0).toStdString();
        // A selected ".." would walk the parent folder; it takes no part.
        if (IsDotsName(caption)) continue;
        const std::string local = EnsureTrailing(FLocalDir, '/') + caption;
        const std::string remote = EnsureTrailing(FHostDir, '/') + caption;
        if (!IsFolderItem(item))
            QueueTransfer(local, remote, FDownloading ? ItemSize(item) : FTP_SIZE_UNKNOWN);
        else
            QueueFolder(FDownloading, local, remote);
    }
}

void TFormMain::QueueTransfer(const std::string& local, const std::string& remote, std::uint64_t size) {
    FTransferQueue->push_back({local, remote, FDownloading, size});
}

void TFormMain::QueueFolder(bool downloading, const std::string& local, const std::string& remote) {
    if (downloading)
        QueueHostFolder(local, remote);
    else
        QueueLocalFolder(local, remote);
}

void TFormMain::QueueLocalFolder(const std::string& local, const std::string& remote) {
    // Make sure the server folder exists; neither result is looked at (the transfers into a
    // folder that could not be made fail later, each with its own message).
    if (!FtpSetCurrentDirectory(Handle(FConnection), remote.c_str()))
        FtpCreateDirectory(Handle(FConnection), remote.c_str());
    for (const TListRecord& r : ListLocalEntries(local)) {
        if (IsDotsName(r.Name)) continue;
        const std::string childLocal = EnsureTrailing(local, '/') + r.Name;
        const std::string childRemote = EnsureTrailing(remote, '/') + r.Name;
        if (r.Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT)
            QueueFolder(false, childLocal, childRemote);
        else
            QueueTransfer(childLocal, childRemote);
    }
}

void TFormMain::QueueHostFolder(const std::string& local, const std::string& remote) {
    FtpSetCurrentDirectory(Handle(FConnection), remote.c_str());
    TWin32FindData data{};
    std::vector<std::pair<std::string, std::uint64_t>> files;
    std::vector<std::string> folders;
    HINTERNET find = FtpFindFirstFile(Handle(FConnection), "*", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) {
        if (GetLastError() != ERROR_NO_MORE_FILES) InetCheck(static_cast<std::uintptr_t>(0));
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
    std::error_code ec; // a folder that cannot be made shows up as each file's own failure
    std::filesystem::create_directories(local, ec);
    for (const auto& [name, size] : files)
        QueueTransfer(EnsureTrailing(local, '/') + name, EnsureTrailing(remote, '/') + name, size);
    for (const std::string& name : folders)
        QueueHostFolder(EnsureTrailing(local, '/') + name, EnsureTrailing(remote, '/') + name);
}

std::string TFormMain::QueueEntryFileName(const TTransferEntry& entry) {
    const auto slash = entry.LocalPath.find_last_of('/');
    return slash == std::string::npos ? entry.LocalPath : entry.LocalPath.substr(slash + 1);
}

void TFormMain::StartNextTransfer() {
    if (FTransferQueue->empty()) {
        if (FDownloading)
            ListLocalDirectory();
        else
            ListHostDirectory();
        QApplication::restoreOverrideCursor();
        SetStatus(0, "Ready");
        SetStatus(1,
                  FUnsafeNamesSkipped > 0 ? QString("%1 unsafe names skipped").arg(FUnsafeNamesSkipped) : "");
        return;
    }
    if (!QApplication::overrideCursor()) QApplication::setOverrideCursor(Qt::BusyCursor);
    const TTransferEntry& entry = FTransferQueue->front();
    SetStatus(1,
              QString("File: %1  (%2 to go)")
                  .arg(QString::fromStdString(QueueEntryFileName(entry)), CountText(FTransferQueue->size())));
    auto* worker = new TFTPThread(this);
    worker->Connection = Handle(FConnection);
    worker->Receiving = entry.Downloading;
    worker->LocalFile = entry.LocalPath;
    worker->RemoteFile = entry.RemotePath;
    worker->ExpectedSize = entry.Size;
    worker->OnStatus = [this](QObject* sender, const QString& text) { TransferStatus(sender, text); };
    worker->OnTerminate = [this](QObject* sender) {
        RunCommand([this, sender] { TransferThreadDone(sender); });
    };
    FWorkerRunning = true;
    worker->start();
}

void TFormMain::TransferStatus(QObject*, const QString& text) {
    SetStatus(0, text);
}

void TFormMain::TransferThreadDone(QObject* sender) {
    auto* worker = qobject_cast<TFTPThread*>(sender);
    FWorkerRunning = false;
    if (FClosing) return;
    if (worker && !worker->ErrorText.isEmpty()) {
        QApplication::beep();
        MessageDialog(this, worker->ErrorText, {"OK"});
    }
    if (!FTransferQueue->empty()) FTransferQueue->erase(FTransferQueue->begin());
    StartNextTransfer();
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
