// TFormSFTP: the "Secure FTP" window. It owns the whole secure stack (socket, SSH client, tunnel
// list, subsystem tunnel, SFTP client) and shows what TSftpSession does: the remote folder as a
// list, a time-stamped log, a transfer progress bar with Cancel.
#pragma once

#include "securewin/ClientSocket.h"
#include "securewin/SftpSession.h"
#include "sftp/SftpClient.h"
#include "ssh/KnownHosts.h"
#include "ssh/SshAgent.h"
#include "ssh/SshClient.h"
#include "ssh/SshTunnels.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace Varnello::SecureWin {

// The answer to a host-key question.
enum class THostKeyAnswer { AcceptAndRemember, AcceptOnce, Cancel };

class TFormSFTP : public QWidget {
    Q_OBJECT
public:
    // knownHostsFile: the program's own known-hosts file; userKnownHosts: OpenSSH's, only read.
    explicit TFormSFTP(QWidget* parent, const std::string& knownHostsFile,
                       const std::string& userKnownHosts = Ssh::TNvKnownHosts::DefaultUserFile());
    ~TFormSFTP() override;

    // The main window's "Private Key" field and SSH version boxes; read at each connect.
    Ssh::TNvSSHLogonSettings LogonSettings;

    QLineEdit* editHost = nullptr;
    QLineEdit* editUserName = nullptr;
    QLineEdit* editPassword = nullptr;
    QPushButton* btnConnect = nullptr;
    QLineEdit* EditPath = nullptr;
    QTreeWidget* FtpList = nullptr;
    QLineEdit* Edit4 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* ProgressText = nullptr;
    QPushButton* BtnCancel = nullptr;
    QMenu* PopupMenu = nullptr;

    // Questions the window asks; tests replace them. Unknown key: host, key type, fingerprint.
    std::function<THostKeyAnswer(const std::string& host, const std::string& type,
                                 const std::string& fingerprint)>
        AskUnknownHostKey;
    // Changed key: true only when the user explicitly accepts the new key.
    std::function<bool(const std::string& host, const std::string& oldFingerprint,
                       const std::string& newFingerprint)>
        AskChangedHostKey;
    std::function<std::string(const QString& caption, const QString& prompt)> AskText; // empty: cancelled
    std::function<bool(const QString& question)> AskYesNo;
    std::function<std::string(const QString& remoteName)> AskSaveFile;
    std::function<std::string()> AskOpenFile;

    void ConnectButClick();
    void AddLogLine(const QString& message);
    TSftpSession& Session() { return *FSession; }

    // Menu actions on the selected item.
    void CreateDirectoryClick();
    void DeleteClick();
    void RenameClick();
    void GetFileClick();
    void PutFileClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FillFileList();
    void UpdateProgress();
    void KeyValidate(const Ssh::TNvSSHKey& key, bool& validate);
    int SelectedIndex() const;

    // Holds the key storage the client signs with; declared first so it outlives the client.
    Ssh::TNvSSHUserKeys FUserKeys;
    std::unique_ptr<Ssh::TNvSSHClient> FSSHClient;
    std::unique_ptr<Ssh::TNvSSHTunnelList> FTunnelList;
    std::unique_ptr<Ssh::TNvSubsystemSSHTunnel> FTunnel;
    std::unique_ptr<Sftp::TNvSftpClient> FSftpClient;
    std::unique_ptr<TSftpSession> FSession;
    std::unique_ptr<TClientSocket> FSocket;
    Ssh::TNvKnownHosts FKnownHosts;
    std::string FHost;
    int FPort = 22;
    bool FClosing = false; // the user (or the window's end) closes the connection
    QElapsedTimer FTransferClock;
    qint64 FProgressShown = 0; // FTransferClock's time of the last progress shown
};

} // namespace Varnello::SecureWin
