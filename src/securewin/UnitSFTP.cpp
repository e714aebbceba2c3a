#include "securewin/UnitSFTP.h"

#include "ssh/SshConnection.h"
#include "ssh/SshKey.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Varnello::SecureWin {

using namespace Varnello::Ssh;

namespace {
QString Bytes(uint64_t n) {
    return QLocale().formattedDataSize(qint64(n));
}
} // namespace

TFormSFTP::TFormSFTP(QWidget* parent, const std::string& knownHostsFile, const std::string& userKnownHosts)
    : QWidget(parent, Qt::Window), FKnownHosts(knownHostsFile, userKnownHosts) {
    setObjectName("FormSFTP");
    setWindowTitle("Varnello SFTP");
    resize(672, 504);
    setMinimumWidth(130);

    auto* props = new QGroupBox("Connection properties", this);
    auto* pl = new QHBoxLayout(props);
    editHost = new QLineEdit(props);
    editUserName = new QLineEdit(props);
    editPassword = new QLineEdit(props);
    editPassword->setEchoMode(QLineEdit::Password);
    btnConnect = new QPushButton("Connect", props);
    btnConnect->setDefault(true);
    for (auto [w, name] : {std::pair<QWidget*, const char*>{editHost, "Host"},
                           {editUserName, "User name"},
                           {editPassword, "Password"}}) {
        pl->addWidget(new QLabel(name, props));
        pl->addWidget(w);
        w->setAccessibleName(name);
    }
    pl->addWidget(btnConnect);
    btnConnect->setAccessibleName("Connect");
    props->hide(); // never shown: the window is opened connected

    auto* top = new QGroupBox("Secure FTP", this);
    auto* tl = new QVBoxLayout(top);
    EditPath = new QLineEdit(top);
    EditPath->setReadOnly(true);
    EditPath->setAccessibleName("Remote folder");
    FtpList = new QTreeWidget(top);
    FtpList->setObjectName("FtpList");
    FtpList->setAccessibleName("Remote files");
    FtpList->setRootIsDecorated(false);
    FtpList->setIconSize(QSize(24, 24));
    FtpList->setHeaderLabels({"Name", "Size", "Permissions"});
    FtpList->header()->resizeSection(0, 120);
    FtpList->header()->resizeSection(1, 75);
    FtpList->header()->resizeSection(2, 100);
    FtpList->setContextMenuPolicy(Qt::CustomContextMenu);
    Edit4 = new QLineEdit(top);
    Edit4->setReadOnly(true);
    Edit4->setAccessibleName("Status");
    auto* progressRow = new QHBoxLayout;
    Progress = new QProgressBar(top);
    Progress->setAccessibleName("Transfer progress");
    ProgressText = new QLabel(top);
    BtnCancel = new QPushButton("Cancel", top);
    BtnCancel->setAccessibleName("Cancel");
    BtnCancel->setEnabled(false);
    progressRow->addWidget(Progress, 1);
    progressRow->addWidget(ProgressText);
    progressRow->addWidget(BtnCancel);
    tl->addWidget(EditPath);
    tl->addWidget(FtpList, 1);
    tl->addWidget(Edit4);
    tl->addLayout(progressRow);

    auto* bottom = new QGroupBox("Secure FTP Log", this);
    auto* bl = new QVBoxLayout(bottom);
    Memo1 = new QPlainTextEdit(bottom);
    Memo1->setReadOnly(true);
    Memo1->setAccessibleName("Log");
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bl->addWidget(Memo1);

    auto* main = new QVBoxLayout(this);
    main->addWidget(props);
    main->addWidget(top, 313);
    main->addWidget(bottom, 88);

    PopupMenu = new QMenu(this);
    PopupMenu->addAction("Create Directory", this, &TFormSFTP::CreateDirectoryClick);
    PopupMenu->addSeparator();
    PopupMenu->addAction("Delete", this, &TFormSFTP::DeleteClick);
    PopupMenu->addAction("Rename", this, &TFormSFTP::RenameClick);
    PopupMenu->addSeparator();
    PopupMenu->addAction("Get File", this, &TFormSFTP::GetFileClick);
    PopupMenu->addAction("Put File", this, &TFormSFTP::PutFileClick);
    connect(FtpList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu->popup(FtpList->viewport()->mapToGlobal(p)); });
    connect(FtpList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const int i = FtpList->indexOfTopLevelItem(item);
        if (i < 0) return;
        if (!FSocket->Active()) {
            AddLogLine("Error: not connected");
            return;
        }
        FSession->ChangeDirectory(size_t(i));
    });
    connect(btnConnect, &QPushButton::clicked, this, &TFormSFTP::ConnectButClick);
    connect(BtnCancel, &QPushButton::clicked, this, [this] { FSession->CancelTransfer(); });

    // The session objects.
    FSSHClient = std::make_unique<TNvSSHClient>();
    FSSHClient->Versions = qxSSH2;
    FSSHClient->OnOpenConnection = [this](TNvSSHClient*) { AddLogLine("SSH Connection started"); };
    FSSHClient->OnCloseConnection = [this](TNvSSHClient*) { AddLogLine("SSH Connection closed"); };
    FSSHClient->OnAuthenticationSuccess = [this](TNvSSHClient*) { AddLogLine("Authentication succeeded"); };
    FSSHClient->OnAuthenticationFailed = [this](TNvSSHClient*, int) {
        AddLogLine("Authentication failed. Unknown user or Invalid password.");
    };
    FSSHClient->OnKeyValidate = [this](TNvSSHClient*, const TNvSSHKey& key, bool& validate) {
        KeyValidate(key, validate);
    };
    FTunnelList = std::make_unique<TNvSSHTunnelList>();
    FTunnel = std::make_unique<TNvSubsystemSSHTunnel>();
    FSftpClient = std::make_unique<Sftp::TNvSftpClient>();
    FTunnelList->Add(FTunnel.get());
    FSSHClient->SetTunnelList(FTunnelList.get());
    FSftpClient->SetTunnel(FTunnel.get());
    FSession = std::make_unique<TSftpSession>(*FSftpClient);
    FSocket = std::make_unique<TClientSocket>(*FSSHClient);

    FSession->IsConnected = [this] { return FSocket->Active(); };
    FSession->OnLog = [this](const std::string& l) { AddLogLine(QString::fromStdString(l)); };
    FSession->OnListChanged = [this] { FillFileList(); };
    FSession->OnPathChanged = [this](const std::string& p) { EditPath->setText(QString::fromStdString(p)); };
    FSession->OnProgress = [this] { UpdateProgress(); };

    FSocket->OnConnect = [this] {
        AddLogLine("TCP connection opened");
        FSSHClient->UserName = editUserName->text().toStdString();
        FSSHClient->Password = editPassword->text().toStdString();
        // SFTP is a protocol 2 subsystem: this window never speaks protocol 1.5.
        Ssh::TNvSSHLogonSettings logon = LogonSettings;
        logon.SshV1 = false;
        FUserKeys.OnLog = [this](const std::string& m) { AddLogLine(QString::fromStdString(m)); };
        FUserKeys.OnPassphrase = [this](const std::string& file, int, std::string& passphrase) {
            bool ok = false;
            const QString text =
                QInputDialog::getText(this, windowTitle(), "Passphrase for " + QString::fromStdString(file),
                                      QLineEdit::Password, QString(), &ok);
            passphrase = text.toStdString();
            return ok;
        };
        FUserKeys.Apply(*FSSHClient, logon);
        FSSHClient->Open();
    };
    FSocket->OnDisconnect = [this] {
        AddLogLine("TCP Connection closed");
        btnConnect->setText("Connect");
        FSession->ConnectionLost();
        UpdateProgress();
        // Only a close the user asked for is a plain disconnect; anything else lost the server.
        Edit4->setText(FClosing ? "Not connected" : "Connection lost");
        FClosing = false;
    };
    FSocket->OnSocketError = [this](const std::string& m) {
        AddLogLine("Error: " + QString::fromStdString(m));
        Edit4->setText(QString::fromStdString(m));
    };

    AskUnknownHostKey = [this](const std::string& host, const std::string& type, const std::string& fp) {
        QMessageBox box(
            QMessageBox::Question, "Unknown host key",
            QString("The host %1 is not known.\nKey type: %2\nFingerprint: %3\n\nTrust this key?")
                .arg(QString::fromStdString(host), QString::fromStdString(type), QString::fromStdString(fp)),
            QMessageBox::NoButton, this);
        auto* remember = box.addButton("Accept and remember", QMessageBox::AcceptRole);
        auto* once = box.addButton("Accept once", QMessageBox::AcceptRole);
        auto* cancel = box.addButton("Cancel", QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.exec();
        if (box.clickedButton() == remember) return THostKeyAnswer::AcceptAndRemember;
        if (box.clickedButton() == once) return THostKeyAnswer::AcceptOnce;
        return THostKeyAnswer::Cancel;
    };
    AskChangedHostKey = [this](const std::string& host, const std::string& oldFp, const std::string& newFp) {
        QMessageBox box(QMessageBox::Warning, "Host key changed",
                        QString("WARNING: the host key of %1 has changed!\nOld: %2\nNew: %3\n\n"
                                "Someone may be intercepting the connection. Connect anyway?")
                            .arg(QString::fromStdString(host), QString::fromStdString(oldFp),
                                 QString::fromStdString(newFp)),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
    AskText = [this](const QString& caption, const QString& prompt) {
        return QInputDialog::getText(this, caption, prompt).toStdString();
    };
    AskYesNo = [this](const QString& q) {
        return QMessageBox::question(this, "Varnello", q, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    };
    AskSaveFile = [this](const QString& name) {
        return QFileDialog::getSaveFileName(this, QString(), QString("./") + name).toStdString();
    };
    AskOpenFile = [this] { return QFileDialog::getOpenFileName(this, QString(), ".").toStdString(); };
}

TFormSFTP::~TFormSFTP() {
    // The socket first, so that no socket event reaches the session objects being released.
    FClosing = true;
    FSocket->Close();
    FSocket.reset();
    FSession.reset();
    FSftpClient.reset();
}

void TFormSFTP::closeEvent(QCloseEvent* event) {
    FClosing = true;
    FSocket->Close();
    event->accept();
}

void TFormSFTP::AddLogLine(const QString& message) {
    const QLocale locale;
    Memo1->appendPlainText(locale.toString(QDate::currentDate(), QLocale::ShortFormat) + " " +
                           locale.toString(QTime::currentTime(), QLocale::LongFormat) + " " + message);
}

void TFormSFTP::ConnectButClick() {
    if (FSocket->Active()) {
        FClosing = true;
        FSocket->Close();
        btnConnect->setText("Connect");
        return;
    }
    btnConnect->setText("Disconnect");
    if (!SplitHostPort(editHost->text().trimmed().toStdString(), FHost, FPort)) {
        AddLogLine("Error: invalid host " + editHost->text());
        btnConnect->setText("Connect");
        return;
    }
    FSocket->Open(FHost, FPort);
}

void TFormSFTP::KeyValidate(const TNvSSHKey& key, bool& validate) {
    const TBytes blob = PublicKeyBlob(key);
    const THostKeyCheck check = FKnownHosts.Check(FHost, FPort, blob);
    const std::string fp = KeyFingerprint(blob);
    switch (check.Status) {
    case THostKeyStatus::Known:
        validate = true;
        return;
    case THostKeyStatus::Revoked:
        AddLogLine("Host key refused: it is marked as revoked");
        validate = false;
        return;
    case THostKeyStatus::Changed:
        validate = AskChangedHostKey && AskChangedHostKey(FHost, check.OldFingerprint, fp);
        if (!validate) AddLogLine("Host key refused: it differs from the one known for this host");
        return;
    case THostKeyStatus::Unknown:
        break;
    }
    const THostKeyAnswer a =
        AskUnknownHostKey ? AskUnknownHostKey(FHost, BlobKeyType(blob), fp) : THostKeyAnswer::Cancel;
    validate = a != THostKeyAnswer::Cancel;
    if (!validate) {
        AddLogLine("Host key refused by the user");
        return;
    }
    if (a == THostKeyAnswer::AcceptAndRemember) {
        std::string error;
        if (!FKnownHosts.Accept(FHost, FPort, blob, false, error))
            AddLogLine("Error: the host key could not be remembered: " + QString::fromStdString(error));
    }
}

void TFormSFTP::FillFileList() {
    FtpList->setUpdatesEnabled(false);
    FtpList->clear();
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);
    QList<QTreeWidgetItem*> items;
    for (const auto& e : FSession->Entries()) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, QString::fromStdString(e.Name));
        item->setIcon(0, e.Attributes.IsDirectory() ? folder : file);
        item->setData(0, Qt::UserRole, e.Attributes.IsDirectory() ? 0 : 1);
        item->setText(1, QString::number(e.Attributes.Includes(Sftp::AttrSize) ? e.Attributes.Size : 0));
        item->setText(2, QString::fromStdString(FormatPermissions(e.Attributes)));
        items.append(item);
    }
    FtpList->addTopLevelItems(items);
    FtpList->setUpdatesEnabled(true);
}

void TFormSFTP::UpdateProgress() {
    const bool running = FSession->State() == TSessionState::StateDownloading ||
                         FSession->State() == TSessionState::StateUploading;
    const bool active = running && FSession->Busy();
    BtnCancel->setEnabled(active);
    if (!active) {
        FTransferClock.invalidate();
        Progress->setValue(0);
        ProgressText->clear();
        return;
    }
    if (!FTransferClock.isValid()) {
        FTransferClock.start();
        FProgressShown = -1000;
    }
    // Every answer moves the progress; redrawing the bar and its text each time cost a large
    // part of a fast download, so they follow at most ten times a second.
    if (FTransferClock.elapsed() - FProgressShown < 100) return;
    FProgressShown = FTransferClock.elapsed();
    const uint64_t done = FSession->TransferOffset();
    const uint64_t total = FSession->TransferSize();
    Progress->setRange(0, 1000);
    Progress->setValue(total ? int(std::min<uint64_t>(1000, done * 1000 / total)) : 0);
    const double secs = std::max<qint64>(1, FTransferClock.elapsed()) / 1000.0;
    const double speed = double(done) / secs;
    QString text = Bytes(done) + " / " + Bytes(total) + ", " + Bytes(uint64_t(speed)) + "/s";
    if (speed > 0 && total > done) text += QString(", %1 s left").arg(qint64(double(total - done) / speed));
    ProgressText->setText(text);
}

int TFormSFTP::SelectedIndex() const {
    QTreeWidgetItem* item = FtpList->currentItem();
    return item && item->isSelected() ? FtpList->indexOfTopLevelItem(item) : -1;
}

void TFormSFTP::CreateDirectoryClick() {
    if (!FSocket->Active()) {
        AddLogLine("Error: not connected");
        return;
    }
    const std::string name = AskText ? AskText("New directory...", "Enter directory name:") : std::string();
    FSession->MakeDirectory(name);
}

void TFormSFTP::DeleteClick() {
    const int i = SelectedIndex();
    if (i < 0 || !AskYesNo || !AskYesNo("Do you really want to remove this item?")) return;
    FSession->Remove(size_t(i));
}

void TFormSFTP::RenameClick() {
    const int i = SelectedIndex();
    if (i < 0) return;
    const std::string name = AskText ? AskText("Rename...", "Enter NEW name:") : std::string();
    FSession->Rename(size_t(i), name);
}

void TFormSFTP::GetFileClick() {
    const int i = SelectedIndex();
    if (i < 0) return;
    const auto& e = FSession->Entries()[size_t(i)];
    if (e.Attributes.IsDirectory()) {
        AddLogLine("Can not download directory. Please choose ordinary file.");
        return;
    }
    const std::string local = AskSaveFile ? AskSaveFile(QString::fromStdString(e.Name)) : std::string();
    if (local.empty()) return;
    FSession->Download(size_t(i), local);
    UpdateProgress();
}

void TFormSFTP::PutFileClick() {
    const std::string local = AskOpenFile ? AskOpenFile() : std::string();
    if (local.empty()) return;
    FSession->Upload(local);
    UpdateProgress();
}

} // namespace Varnello::SecureWin
