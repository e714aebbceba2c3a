// TFormMain: the program's one main window. The "FTP" tab is a dual-pane FTP client (local
// files left, the server's right), the "Editor" tab the source editor. Every command is one of
// the window's handlers and runs on the GUI thread through RunCommand, which shows a failure in
// the window's message box; only file transfers run in a worker thread.
#pragma once

#include "app/Dialogs.h"
#include "ftp/TransferQueue.h"
#include "local/LocalDir.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QTabWidget;
class QToolButton;
class QTreeWidgetItem;
class TAboutBox1;
class TFileList;
class TFormSettings;
class THelpWindow;
class TTips;
class TCodeMemo;
class TFindBar;
class TCustomCodeMemo;
class TCustomMemoStyler;
class TLinkLabel;
class TMruMenu;
class TQueuePane;
class TMessageLog;
class QTableWidget;
class QToolBox;
struct TProfile;
struct TFolderWalk;
namespace Varnello::Ssh {
struct TNvSSHLogonSettings;
}

// One pending transfer: where the file is, where it goes, and which way.
struct TTransferEntry {
    std::string LocalPath;
    std::string RemotePath;
    bool Downloading = false;
    std::uint64_t Size = ~std::uint64_t{0}; // a download's listed size; all ones = unknown
};

// Gives a selector its accessible name ("Drive"). On this platform Qt names a combo box by its
// current item; a selector named here keeps its name, and the current item is its value.
void NameSelector(QComboBox* box, const QString& name);

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // The window asks through `prompts` (the system's dialogs when null) from its first step on.
    explicit TFormMain(QWidget* parent = nullptr, std::unique_ptr<TWindowPrompts> prompts = nullptr);
    ~TFormMain() override;

    // "Private Key", "SSH V1" and "SSH V2" as the secure window hands them to its SSH client.
    Varnello::Ssh::TNvSSHLogonSettings SecureLogonSettings() const;

    // --- controls (named as the window's layout names them) ---
    QTabWidget* PageControlMain = nullptr;
    QWidget* TabFTP = nullptr;
    QWidget* TabEditor = nullptr;

    QToolButton* BtnOpen = nullptr;
    QToolButton* BtnSave = nullptr;
    QToolButton* BtnSftp = nullptr;
    QToolButton* ConnectBut = nullptr;
    QToolButton* DisconBut = nullptr;
    QToolButton* GetBut = nullptr;
    QToolButton* SendBut = nullptr;
    QToolButton* ExitBut = nullptr;
    QAction* mnuFTPConfiguration = nullptr;
    QAction* mnuFiletoedit = nullptr;
    QAction* mnuSaveFTPConfiguration = nullptr;
    QAction* mnuSaveEditedFile = nullptr;

    QMenu* File1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* Local1 = nullptr;  // menu bar homes of the list commands: Put, Delete
    QMenu* Server1 = nullptr; // Get, Delete, Create Directory
    QMenu* Help1 = nullptr;
    QAction* Open2 = nullptr;
    QAction* Save2 = nullptr;
    QAction* SaveAs2 = nullptr;
    QAction* Exit2 = nullptr;
    QAction* Cut1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Paste1 = nullptr;
    QAction* HelpContents = nullptr;
    QAction* Tips2 = nullptr;
    QAction* About2 = nullptr;

    QGroupBox* ConnectionPanel = nullptr;
    QLineEdit* FTPEdit = nullptr;
    QComboBox* EncryptionBox = nullptr; // FTP over TLS choice
    QLineEdit* LogonEdit = nullptr;
    QLineEdit* PassEdit = nullptr;
    QLineEdit* FTPDirEdit = nullptr;
    QLineEdit* LocalDirEdit = nullptr;
    QPushButton* BrowseBut = nullptr;
    QCheckBox* CBSSH1 = nullptr;
    QCheckBox* CBSSH2 = nullptr;
    QLineEdit* EditPrivKey = nullptr;
    QPushButton* BrowsePrivKeyBut = nullptr;

    QSplitter* Splitter1 = nullptr;
    QGroupBox* LocalTopPanel = nullptr;
    QGroupBox* FTPTopPanel = nullptr;
    TFileList* LocalList = nullptr;
    TFileList* FTPList = nullptr;
    QComboBox* DriveComboBox1 = nullptr;
    QMenu* LocalPopup = nullptr;
    QMenu* FTPPopup = nullptr;
    QAction* Put1 = nullptr;
    QAction* LocalDelete = nullptr;
    QAction* Get1 = nullptr;
    QAction* HostDelete = nullptr;
    QAction* CreateDirectory1 = nullptr;

    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusQueue = nullptr; // the batch's total progress, speed and time left

    QSplitter* FtpSplitter = nullptr; // the two lists above, the queue below
    TQueuePane* QueuePane = nullptr;
    QMenu* Queue1 = nullptr; // the queue's commands
    QMenu* View1 = nullptr;
    QAction* mnuShowQueue = nullptr;
    TMessageLog* MessageLog = nullptr; // under the queue, hidden until View > Message Log
    QAction* mnuShowLog = nullptr;

    TFormSettings* FormSettings1 = nullptr;
    TTips* Tips1 = nullptr;
    TAboutBox1* AboutBox1 = nullptr;
    THelpWindow* HelpWindow = nullptr;

    // --- state ---
    void* FInternet = nullptr;   // root handle of the FTP layer, null when absent
    void* FConnection = nullptr; // FTP connection handle; non-null means "connected"
    std::string FHostDir;
    std::string FLocalDir;
    bool FDownloading = false;
    // Every file of the batches, run one at a time; done and failed rows stay for the user to see.
    std::unique_ptr<TTransferQueue> FTransferQueue;
    // The connection the transfers run on, so the server list stays usable meanwhile; null
    // until the first transfer, and the window's own when the server refused a second one.
    void* FTransferConnection = nullptr;
    bool FSingleConnection = false;
    // "host:port fingerprint" of certificates trusted once: the transfer connection and a
    // reconnect of this session do not ask again; a new Connect does.
    std::set<std::string> FCertificatesTrustedOnce;
    std::uint64_t FRunningId = 0; // the queue row the worker runs
    std::string FEditFileName;    // the editor's document name
    bool FEditModified = false;   // the editor's "modified" flag
    std::string FProfileFileName; // the last connection profile read or written

    // --- editor page ---
    QSplitter* EditorSplitter = nullptr;
    TFindBar* FindBar1 = nullptr;
    QToolBox* ToolPanelTab1 = nullptr;
    QWidget* ToolPanel1 = nullptr;
    QComboBox* ComboBoxShortcuts = nullptr;
    QTableWidget* StringGridScut = nullptr;
    QLabel* LabelURL = nullptr;
    TLinkLabel* urlLabel = nullptr;
    TCodeMemo* CodeMemoMain = nullptr;
    TCodeMemo* CodeMemoSecondary = nullptr;
    std::unique_ptr<TCustomMemoStyler> WebMemoStyler1, PascalMemoStyler1, JavaMemoStyler1, BasicMemoStyler1,
        SQLMemoStyler1, PerlMemoStyler1;
    TMruMenu* MruMenu1 = nullptr;
    // Filter and default extension of the open and save dialogs, set by the page change.
    QString FDialogFilter;
    QString FDialogDefaultExt;
    // Message and input boxes, file and folder choosers, the recent-profiles INI file.
    std::unique_ptr<TWindowPrompts> Prompts;

    // --- shared operations ---
    void SetStatus(int panel, const QString& text);
    QString StatusText(int panel) const;
    void UpdateButtons();
    // Runs one command; a failure ends it and shows the window's error message box.
    void RunCommand(const std::function<void()>& command);

    // --- local panel ---
    void ListLocalDirectory();
    void LocalListDblClick();
    void DriveComboBox1Change();
    void BrowseButClick();
    void LocalDirEditDblClick();
    void LocalDeleteClick();
    // Keys in the lists: Enter opens the folder under the cursor or transfers the selection to
    // the other side, as a drag does; Delete runs the list's delete command.
    void ListEnterKey(TFileList* list);
    void ListDeleteKey(TFileList* list);
    // Mounted volumes' root folders, "/" first.
    static std::vector<std::string> DriveRoots();

    // --- server side ---
    void ConnectButClick();
    // Opens another Secure FTP window connecting to the host, user and password fields.
    void BtnSftpClick();
    void DisconButClick();
    void CloseConnections();
    void ListHostDirectory();
    // The status bar's encryption panel, and the idle NOOPs that keep the connection open.
    void ShowConnectionSecurity();
    QLabel* StatusSecurity = nullptr;
    // Empties the server list and gives its panel back the caption it had before any listing.
    void ClearHostListing();
    void FTPListDblClick();
    void FTPDirEditDblClick();
    void HostDeleteClick();
    void CreateDirectory1Click();

    // --- transfers ---
    void GetButClick();
    void SendButClick();
    void GetSelection();
    void PutSelection();
    void QueueSelection(TFileList* list);
    void QueueTransfer(const std::string& local, const std::string& remote,
                       std::uint64_t size = ~std::uint64_t{0});
    void QueueFolder(bool downloading, const std::string& local, const std::string& remote);
    void QueueLocalFolder(const std::string& local, const std::string& remote);
    void QueueHostFolder(const std::string& local, const std::string& remote);
    void StartNextTransfer();
    // Opens a logged-in connection with the connection fields, as Connect does.
    void* OpenFtpConnection(void* internet);
    // The connection for the next transfer: a second one when the server allows it.
    void* TransferConnection();
    void CloseTransferConnection();
    // Stops the running transfer: closes the transfer connection, or on a one-connection
    // server the window's own, which ReconnectAfterCancel opens again after the worker ended.
    void AbortRunningTransfer();
    void ReconnectAfterCancel();
    bool FReconnectAfterCancel = false;
    // The queue's commands.
    void QueueCancelFile();
    void QueueCancelAll();
    void QueueRemove();
    void QueueRetry();
    void QueueMove(bool up);
    void QueuePause(bool paused);
    // Status bar figure of the queue's totals.
    void UpdateQueueStatus();
    // The question for a target that exists; false when the row was skipped.
    bool ResolveExistingTarget(TQueueItem& item);
    static std::string QueueEntryFileName(const TTransferEntry& entry);
    void TransferStatus(QObject* sender, const QString& text);
    void TransferThreadDone(QObject* sender);
    // Drops: a drop on one list accepts only entries dragged from the other.
    bool AcceptsDrop(const TFileList* target, const QObject* source) const;
    void ListDrop(TFileList* target, QObject* source);
    // True while a transfer batch has a worker running.
    bool TransferRunning() const { return FWorkerRunning; }
    // Rows waiting or running.
    std::size_t PendingTransfers() const;
    // Server names skipped because they are unsafe as local paths, since the last listing or batch.
    int FUnsafeNamesSkipped = 0;
    // Left out of the last upload's folder walks: editor backup copies and links to folders.
    int FBackupCopiesSkipped = 0;
    int FLocalLinksSkipped = 0;
    // Builds the batch of the selection whole and queues it; false when the user cancelled.
    bool WalkSelection(TFileList* list);
    // The walk building the current batch, null between walks.
    TFolderWalk* FWalk = nullptr;

    // --- editor documents, profiles, snippets ---
    void Open2Click();
    void OpenPath(const std::string& path);
    void Save2Click();
    void SaveAs2Click();
    void mnuSaveFTPConfigurationClick();
    void mnuSaveEditedFileClick();
    // The document under its name (asking for one when it has none); under a name the user picks;
    // a profile under a name the user picks. A cancelled dialog saves nothing and keeps the flag.
    void SaveDocument();
    void SaveDocumentAs();
    void SaveProfileAs();
    std::optional<std::string> AskSaveName(const QString& filter, const QString& defaultExt);
    // Styler and browser link by the file's extension; true for the web group.
    bool ApplyFileType(const std::string& path);
    void LoadProfile(const std::string& path);
    void SaveProfile(const std::string& path);
    void PageControlMainChange();
    void CodeMemoMainStatusChange(TCustomCodeMemo& sender);
    void ComboBoxShortcutsChange();
    void StringGridScutDblClickCell(int row, int column);
    void MruMenuSelectFile(const QString& path);
    // The discard question of Open; true when there is nothing to lose or the user agrees.
    bool ConfirmDiscard();
    TProfile ProfileFromFields() const;

    // --- editing a server file in place (RemoteEdit.cpp) ---
    struct TRemoteDocument {
        std::string Url, Host, RemotePath, LocalPath;
        std::uint64_t Size = 0, Time = 0; // from the server's listing when it was fetched or sent
        bool Listed = false;              // the listing showed the file, so the check can run
        bool Unsent = false;              // saved locally, not yet on the server
    };
    static constexpr std::uint64_t kRemoteEditMaxBytes = std::uint64_t(50) << 20;
    QAction* EditRemote1 = nullptr;
    std::optional<TRemoteDocument> FRemoteDoc; // the editor's document is this server file
    void SetUpRemoteEdit();
    void EditRemoteClick();
    // Fetches a file of the current server folder into the private folder and opens it.
    void EditRemoteFile(const std::string& name, std::uint64_t listedSize);
    // Puts the saved local copy back; throws with the reason when it could not, leaving it unsent.
    void UploadRemoteDocument();
    bool RemoteDocumentUnsent() const;
    std::string RemoteEditFolder();
    void RemoveRemoteEditFolder();
    std::string FRemoteEditDir;

    // --- help, tips, about ---
    void HelpContentsClick();
    void Tips2Click();
    void About2Click();

    void FormCreate();
    bool FormCloseQuery();
    void FormClose();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildFtpTab();
    void BuildEditorTab();
    void BuildListMenus();
    void BuildStatusBar();
    void BuildQueuePane();
    void WireCommands();
    void WireEditorCommands();
    void SelectDrive(const std::string& root);
    bool FFirstShowDone = false;
    bool FWorkerRunning = false;
    bool FClosing = false; // the window is closing: a running batch ends with it
    bool FStartDirListed = false;
};
