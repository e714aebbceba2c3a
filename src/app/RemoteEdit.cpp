// TFormMain, editing a server file in place: Edit fetches the selected server file into a
// private folder and opens it on the Editor page; Save writes that copy and puts it back over
// the window's connection, after checking that nobody changed the server file meanwhile.
//
// The local copy is the safe place of the user's text: it is written before any upload, and an
// upload that fails or is cancelled leaves it marked unsent, so a later Save tries again and
// quitting asks first.
#include "VarnelloError.h"
#include "app/AboutBox.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "editor/widget/CodeMemo.h"
#include "ftp/INetUtil.h"
#include "ftp/inet/WinInet.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidgetItem>
#include <cstdlib>

#include <filesystem>
#include <fstream>

namespace {

HINTERNET Handle(void* h) {
    return static_cast<HINTERNET>(h);
}

std::string ReplyOrError() {
    const DWORD code = GetLastError();
    if (code != ERROR_INTERNET_EXTENDED_ERROR) return InetErrorMessage(code);
    char text[1025] = "";
    DWORD error = 0, length = sizeof text;
    InternetGetLastResponseInfo(&error, text, &length);
    text[sizeof text - 1] = '\0';
    std::string s = text;
    s = s.substr(0, s.find_first_of("\r\n"));
    return s.empty() ? InetErrorMessage(code) : s;
}

// Size and time of one server file, from a listing of its folder (a listing of the file's own
// path is not served by every server: MLSD takes folders only). Found: true. Otherwise `broken`
// tells a connection that no longer answers from a folder that simply lacks the file.
bool StatRemote(HINTERNET connection, const std::string& path, uint64_t& size, uint64_t& time, bool& broken) {
    broken = false;
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    TWin32FindData data{};
    HINTERNET find = FtpFindFirstFile(connection, folder.c_str(), &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) {
        const DWORD code = GetLastError();
        broken = code != ERROR_NO_MORE_FILES && code != ERROR_INTERNET_EXTENDED_ERROR;
        return false;
    }
    bool found = false;
    do {
        if (name == data.cFileName && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY_BIT)) {
            size = FindDataSize(data);
            time = FileTimeValue(data.ftLastWriteTime);
            found = true;
            break;
        }
    } while (InternetFindNextFile(find, &data));
    InternetCloseHandle(find);
    return found;
}

// A NUL byte in the first 64 KiB: no text file the editor could save back unchanged.
bool LooksBinary(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char buffer[65536];
    in.read(buffer, sizeof buffer);
    return std::string_view(buffer, static_cast<std::size_t>(in.gcount())).find('\0') !=
           std::string_view::npos;
}

} // namespace

void TFormMain::SetUpRemoteEdit() {
    EditRemote1 = new QAction("&Edit", this);
    EditRemote1->setObjectName("EditRemote1");
    EditRemote1->setToolTip("Edit the selected server file in the editor (Shift+Enter)");
    EditRemote1->setShortcuts(
        {QKeySequence(Qt::SHIFT | Qt::Key_Return), QKeySequence(Qt::SHIFT | Qt::Key_Enter)});
    EditRemote1->setShortcutContext(Qt::WidgetShortcut);
    FTPList->addAction(EditRemote1);
    FTPPopup->insertAction(FTPPopup->actions().value(1), EditRemote1);
    Server1->insertAction(Server1->actions().value(1), EditRemote1);
    connect(EditRemote1, &QAction::triggered, this, [this] { RunCommand([this] { EditRemoteClick(); }); });
}

bool TFormMain::RemoteDocumentUnsent() const {
    return FRemoteDoc && (FRemoteDoc->Unsent || FEditModified);
}

std::string TFormMain::RemoteEditFolder() {
    if (!FRemoteEditDir.empty() && QDir(QString::fromStdString(FRemoteEditDir)).exists())
        return FRemoteEditDir;
    // mkdtemp makes the folder mode 0700: other users cannot read the copies.
    std::string pattern = QDir::tempPath().toStdString() + "/varnello-edit-XXXXXX";
    if (!mkdtemp(pattern.data())) throw EVarnelloError("Cannot create a private folder for the server file");
    FRemoteEditDir = pattern;
    return FRemoteEditDir;
}

void TFormMain::RemoveRemoteEditFolder() {
    // Kept while it holds text that did not reach the server.
    if (FRemoteEditDir.empty() || RemoteDocumentUnsent()) return;
    std::error_code ec;
    std::filesystem::remove_all(FRemoteEditDir, ec);
    FRemoteEditDir.clear();
}

void TFormMain::EditRemoteClick() {
    if (!FConnection) throw EVarnelloError("Connect to a server first");
    QTreeWidgetItem* item = FTPList->currentItem();
    if (!item || !item->isSelected()) item = FTPList->FirstSelected();
    if (!item || IsFolderItem(item)) throw EVarnelloError("Select a server file to edit");
    EditRemoteFile(item->text(0).toStdString(), ItemSize(item));
}

void TFormMain::EditRemoteFile(const std::string& name, std::uint64_t listedSize) {
    if (FWorkerRunning)
        throw EVarnelloError("A transfer is running on the connection; edit the file when it has finished");
    if (name.empty() || IsDotsName(name) || IsUnsafeListingName(name))
        throw EVarnelloError("The server file name \"" + name + "\" cannot be edited");
    if (listedSize != FTP_SIZE_UNKNOWN && listedSize > kRemoteEditMaxBytes)
        throw EVarnelloError(name + " is larger than 50 MiB and is not opened in the editor");
    if (!ConfirmDiscard()) return;

    const std::string remote =
        (FHostDir.empty() || FHostDir.back() != '/' ? FHostDir + "/" : FHostDir) + name;
    const std::string host = FTPEdit->text().toStdString();
    const std::string local = RemoteEditFolder() + "/" + name;
    SetStatus(0, QString::fromStdString("Fetching " + name));
    uint64_t size = 0, time = 0;
    bool broken = false;
    const bool listed = StatRemote(Handle(FConnection), remote, size, time, broken);
    if (listed && size > kRemoteEditMaxBytes)
        throw EVarnelloError(name + " is larger than 50 MiB and is not opened in the editor");
    if (!FtpGetFileSized(Handle(FConnection), remote.c_str(), local.c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY,
                         0, listed ? size : listedSize)) {
        SetStatus(0, "");
        throw EVarnelloError("Cannot fetch " + remote + ": " + ReplyOrError());
    }
    std::error_code ec;
    const auto onDisk = std::filesystem::file_size(local, ec);
    if (ec || onDisk > kRemoteEditMaxBytes || LooksBinary(local)) {
        std::filesystem::remove(local, ec);
        SetStatus(0, "");
        throw EVarnelloError(
            name + (onDisk > kRemoteEditMaxBytes ? " is larger than 50 MiB" : " looks like a binary file") +
            " and is not opened in the editor");
    }

    const std::string url = "ftp://" + host + remote;
    ApplyFileType(local);
    CodeMemoMain->LoadLines(local);
    FEditFileName = local;
    FEditModified = false;
    FRemoteDoc = TRemoteDocument{url, host, remote, local, size, time, listed, false};
    // The server location stands wherever the document's place is shown.
    LabelURL->setText(QString::fromStdString(url));
    urlLabel->Address = QString::fromStdString(url);
    setWindowTitle(QString::fromStdString("Varnello v1.2[" + url + "]"));
    PageControlMain->setCurrentIndex(1);
    SetStatus(0, QString::fromStdString("Editing " + url));
}

void TFormMain::UploadRemoteDocument() {
    if (!FRemoteDoc) return;
    TRemoteDocument& doc = *FRemoteDoc;
    doc.Unsent = true;
    const std::string saved = "The text is saved in the local copy " + doc.LocalPath + ", but ";
    if (FWorkerRunning)
        throw EVarnelloError(saved +
                             "a transfer is running on the connection; save again when it has finished");
    auto reconnect = [&] {
        try {
            ConnectButClick();
        } catch (const std::exception& e) {
            throw EVarnelloError(saved + "reconnecting to " + doc.Host + " failed: " + e.what());
        }
    };
    if (FTPEdit->text().toStdString() != doc.Host)
        throw EVarnelloError(saved + "the window is set up for another server than " + doc.Host);
    if (!FConnection) reconnect();

    uint64_t size = 0, time = 0;
    bool broken = false;
    bool found = StatRemote(Handle(FConnection), doc.RemotePath, size, time, broken);
    if (broken) {
        // The server dropped the connection since the file was fetched: one reconnect.
        reconnect();
        found = StatRemote(Handle(FConnection), doc.RemotePath, size, time, broken);
        if (broken) throw EVarnelloError(saved + "the server does not answer: " + ReplyOrError());
    }
    const bool changed = !found || !doc.Listed || size != doc.Size || time != doc.Time;
    if (changed && doc.Listed) {
        const QString text = QString::fromStdString(
            doc.Url +
            (found ? " has changed on the server since it was opened." : " is no longer on the server.") +
            "\n\nOverwrite it with your text, save a copy of your text locally, or cancel?");
        const int answer = MessageDialog(*Prompts, this, text, {"&Overwrite", "Save a &copy...", "Cancel"},
                                         QMessageBox::Warning);
        if (answer == 2) {
            const std::optional<std::string> copy = AskSaveName("All File(s)|*.*", "");
            if (copy && !copy->empty()) {
                CodeMemoMain->SaveLines(*copy);
                SetStatus(
                    0, QString::fromStdString("Saved a copy to " + *copy + "; the server file is unchanged"));
            }
            return;
        }
        if (answer != 1) {
            SetStatus(0, "Upload cancelled; the text is saved in the local copy");
            return;
        }
    }
    SetStatus(0, QString::fromStdString("Uploading " + doc.Url));
    if (!FtpPutFile(Handle(FConnection), doc.LocalPath.c_str(), doc.RemotePath.c_str(),
                    FTP_TRANSFER_TYPE_BINARY, 0)) {
        const std::string reason = ReplyOrError();
        SetStatus(0, "Upload failed");
        throw EVarnelloError(saved + "the upload to " + doc.Url + " failed: " + reason +
                             ". Save again to retry");
    }
    doc.Listed = StatRemote(Handle(FConnection), doc.RemotePath, doc.Size, doc.Time, broken);
    doc.Unsent = false;
    SetStatus(0, QString::fromStdString("Uploaded " + doc.Url));
}
