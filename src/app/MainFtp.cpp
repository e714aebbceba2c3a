// TFormMain: layout, shared operations, start-up and shutdown, and the local panel's commands.
#include "app/MainFtp.h"

#include "VarnelloError.h"

#include "app/AboutBox.h"
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/HelpWindow.h"
#include "app/QueuePane.h"
#include "app/Theme.h"
#include "conveniences/MruMenu.h"
#include "conveniences/Tips.h"
#include "editor/MemoStyler.h"
#include "ftp/INetUtil.h"
#include "ftp/inet/WinInet.h"
#include "local/Recycle.h"
#include "securewin/UnitSFTP.h"
#include "settings/FormSettings.h"
#include "ssh/SshAgent.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStorageInfo>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <unistd.h>

namespace {

const char* const kDefaultHost = "ftp.example.org";

// A padlock for the secure FTP button; the style has no such standard icon.
QIcon LockIcon() {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 80, 100), 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(7, 2, 10, 12), 0, 180 * 16);
    p.drawLine(QPointF(7, 8), QPointF(7, 11));
    p.drawLine(QPointF(17, 8), QPointF(17, 11));
    QLinearGradient g(0, 11, 0, 22);
    g.setColorAt(0, QColor(250, 210, 80));
    g.setColorAt(1, QColor(200, 150, 20));
    p.setBrush(g);
    p.setPen(QPen(QColor(140, 100, 10), 1));
    p.drawRoundedRect(QRectF(4, 10.5, 16, 12), 2, 2);
    p.setBrush(QColor(90, 60, 0));
    p.drawEllipse(QPointF(12, 15.5), 1.6, 1.6);
    return QIcon(pm);
}

QToolButton* MakeToolButton(QToolBar* bar, const QString& name, const QString& hint, const QIcon& icon) {
    auto* b = new QToolButton(bar);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setAccessibleName(hint);
    b->setIcon(icon);
    b->setIconSize(QSize(24, 24));
    b->setFixedSize(39, 32);
    b->setAutoRaise(true);
    bar->addWidget(b);
    return b;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, const QString& label, const QString& text) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(name);
    e->setAccessibleName(label);
    return e;
}

// A pop-up menu has no caption of its own; its title and accessible name say whose it is.
void NameMenu(QMenu* menu, const QString& name) {
    menu->setTitle(name);
    menu->setAccessibleName(name);
}

// Double-clicks on an edit field run a window command.
class TDblClickFilter : public QObject {
public:
    TDblClickFilter(QObject* parent, std::function<void()> action)
        : QObject(parent), FAction(std::move(action)) {}

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonDblClick) {
            FAction();
            return true;
        }
        return QObject::eventFilter(o, e);
    }

private:
    std::function<void()> FAction;
};

const char* const kNamedSelectorProperty = "varnelloNamedSelector";

class TNamedSelectorAccessible : public QAccessibleWidget {
public:
    explicit TNamedSelectorAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
        const auto* box = static_cast<const QComboBox*>(widget());
        if (t == QAccessible::Value) return box->currentText();
        if (t == QAccessible::Name && !box->accessibleName().isEmpty()) return box->accessibleName();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << showMenuAction(); }
    void doAction(const QString& action) override {
        if (action == showMenuAction())
            static_cast<QComboBox*>(widget())->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* NamedSelectorFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox") && object &&
        object->property(kNamedSelectorProperty).toBool())
        return new TNamedSelectorAccessible(static_cast<QComboBox*>(object));
    return nullptr;
}

} // namespace

void NameSelector(QComboBox* box, const QString& name) {
    // Installed once, before the first selector is asked for its interface (Qt keeps it).
    static const bool installed = [] {
        QAccessible::installFactory(NamedSelectorFactory);
        return true;
    }();
    (void)installed;
    box->setProperty(kNamedSelectorProperty, true);
    box->setAccessibleName(name);
}

TFormMain::TFormMain(QWidget* parent, std::unique_ptr<TWindowPrompts> prompts)
    : QMainWindow(parent), Prompts(prompts ? std::move(prompts) : std::make_unique<TSystemPrompts>()) {
    setObjectName("FormMain");
    setWindowTitle("Varnello");
    setMinimumWidth(130);
    setGeometry(226, 76, 788, 614);

    FTransferQueue = std::make_unique<TTransferQueue>();
    // A download's kept part goes with its row; a target continued in place is the user's file.
    FTransferQueue->OnDiscard = [](const TQueueItem& i) {
        if (i.PartialPath != i.LocalPath) ::unlink(i.PartialPath.c_str());
    };
    BuildMenus();
    BuildToolBar();
    PageControlMain = new QTabWidget(this);
    PageControlMain->setObjectName("PageControlMain");
    PageControlMain->setAccessibleName("Pages");
    setCentralWidget(PageControlMain);
    BuildFtpTab();
    BuildListMenus();
    BuildEditorTab();
    BuildStatusBar();

    Tips1 = new TTips(this);
    Tips1->SetTips({"Click on the Mouse Context Buttom (Right Button) for more menu",
                    "Secure FTP transacts over 128 bit SSL encrypted connections",
                    "You can Drag and Drop from Local to Host and Viceversa.",
                    "If you see an error, close the connection as quick as possible"});
    AboutBox1 = new TAboutBox1(this);
    AboutBox1->hide();
    HelpWindow = new THelpWindow(this);

    WireCommands();
    SetUpRemoteEdit();

    // The saved position and field values come back before the creation handler runs.
    FormSettings1 = new TFormSettings(this);
    FormSettings1->SaveValues = true;
    FormSettings1->LoadValues = true;
    FormSettings1->LoadSettings();

    RunCommand([this] { FormCreate(); });
}

TFormMain::~TFormMain() {
    // A window destroyed without being closed still lets go of its connection.
    if (FTransferConnection != FConnection) InternetCloseHandle(static_cast<HINTERNET>(FTransferConnection));
    InternetCloseHandle(static_cast<HINTERNET>(FConnection));
    InternetCloseHandle(static_cast<HINTERNET>(FInternet));
    // The private copies of server files go too, unless one holds text that never reached the server.
    RemoveRemoteEditFolder();
    // FormDestroy: the transfer queue goes with the window, after the pane that shows it.
    delete QueuePane;
    QueuePane = nullptr;
    FTransferQueue.reset();
}

void TFormMain::BuildMenus() {
    File1 = menuBar()->addMenu("&File");
    File1->setObjectName("File1");
    Open2 = File1->addAction("&Open...");
    Open2->setObjectName("Open2");
    Open2->setShortcut(QKeySequence("Ctrl+O"));
    Save2 = File1->addAction("&Save");
    Save2->setObjectName("Save2");
    Save2->setShortcut(QKeySequence("Ctrl+S"));
    SaveAs2 = File1->addAction("Save &As...");
    SaveAs2->setObjectName("SaveAs2");
    SaveAs2->setShortcut(QKeySequence("Ctrl+Alt+S"));
    File1->addSeparator();
    Exit2 = File1->addAction("E&xit");
    Exit2->setObjectName("Exit2");
    Exit2->setShortcut(QKeySequence("Alt+Q"));

    Edit1 = menuBar()->addMenu("&Edit");
    Edit1->setObjectName("Edit1");
    Cut1 = Edit1->addAction("C&ut");
    Cut1->setObjectName("Cut1");
    Copy1 = Edit1->addAction("&Copy");
    Copy1->setObjectName("Copy1");
    Paste1 = Edit1->addAction("&Paste");
    Paste1->setObjectName("Paste1");

    Help1 = menuBar()->addMenu("&Help");
    Help1->setObjectName("Help1");
    HelpContents = Help1->addAction("Varnello Help");
    HelpContents->setObjectName("HelpContents");
    HelpContents->setShortcut(QKeySequence(Qt::Key_F1));
    Tips2 = Help1->addAction("Tips...");
    Tips2->setObjectName("Tips2");
    Help1->addSeparator();
    About2 = Help1->addAction("&About...");
    About2->setObjectName("About2");
}

void TFormMain::BuildToolBar() {
    auto* bar = addToolBar("Tools");
    bar->setObjectName("ToolBar1");
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 24));
    QStyle* st = style();

    BtnOpen = MakeToolButton(bar, "BtnOpen", "Open", st->standardIcon(QStyle::SP_DialogOpenButton));
    auto* openMenu = new QMenu(BtnOpen);
    mnuFTPConfiguration = openMenu->addAction("FTP Configuration...");
    mnuFTPConfiguration->setObjectName("mnuFTPConfiguration");
    mnuFiletoedit = openMenu->addAction("File to edit...");
    mnuFiletoedit->setObjectName("mnuFiletoedit");
    NameMenu(openMenu, "Open menu");
    BtnOpen->setMenu(openMenu);
    BtnOpen->setPopupMode(QToolButton::InstantPopup);

    BtnSave = MakeToolButton(bar, "BtnSave", "Save", st->standardIcon(QStyle::SP_DialogSaveButton));
    auto* saveMenu = new QMenu(BtnSave);
    mnuSaveFTPConfiguration = saveMenu->addAction("Save FTP Configuration...");
    mnuSaveFTPConfiguration->setObjectName("mnuSaveFTPConfiguration");
    mnuSaveEditedFile = saveMenu->addAction("Save Edited File...");
    mnuSaveEditedFile->setObjectName("mnuSaveEditedFile");
    NameMenu(saveMenu, "Save menu");
    BtnSave->setMenu(saveMenu);
    BtnSave->setPopupMode(QToolButton::InstantPopup);
    bar->addSeparator();

    BtnSftp = MakeToolButton(bar, "BtnSftp", "Secure FTP...", LockIcon());
    bar->addSeparator();
    ConnectBut = MakeToolButton(bar, "ConnectBut", "Connect with External Host",
                                st->standardIcon(QStyle::SP_DriveNetIcon));
    DisconBut = MakeToolButton(bar, "DisconBut", "Disconnect", st->standardIcon(QStyle::SP_BrowserStop));
    bar->addSeparator();
    GetBut = MakeToolButton(bar, "GetBut", "Get Document", st->standardIcon(QStyle::SP_ArrowLeft));
    SendBut = MakeToolButton(bar, "SendBut", "Put Document", st->standardIcon(QStyle::SP_ArrowRight));
    bar->addSeparator();
    ExitBut = MakeToolButton(bar, "ExitBut", "Exit", st->standardIcon(QStyle::SP_DialogCloseButton));
}

void TFormMain::BuildFtpTab() {
    TabFTP = new QWidget;
    TabFTP->setObjectName("TabFTP");
    PageControlMain->addTab(TabFTP, "FTP");
    auto* outer = new QVBoxLayout(TabFTP);
    outer->setContentsMargins(4, 4, 4, 4);

    ConnectionPanel = new QGroupBox("Connection", TabFTP);
    ConnectionPanel->setObjectName("ConnectionPanel");
    ConnectionPanel->setMinimumHeight(108);
    auto* grid = new QGridLayout(ConnectionPanel);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(4);

    FTPEdit = MakeEdit(ConnectionPanel, "FTPEdit", "Host Server", kDefaultHost);
    LogonEdit = MakeEdit(ConnectionPanel, "LogonEdit", "User ID", "Anonymous");
    PassEdit = MakeEdit(ConnectionPanel, "PassEdit", "Password", "tarnwick");
    PassEdit->setEchoMode(QLineEdit::Password);
    FTPDirEdit = MakeEdit(ConnectionPanel, "FTPDirEdit", "Server Start Directory", "");
    FTPDirEdit->setToolTip("Double click to use current directory");
    LocalDirEdit = MakeEdit(ConnectionPanel, "LocalDirEdit", "Local Start Directory", "");
    LocalDirEdit->setToolTip("Double click to use current directory");
    BrowseBut = new QPushButton("..", ConnectionPanel);
    BrowseBut->setObjectName("BrowseBut");
    BrowseBut->setAccessibleName("Browse for the local start directory");
    BrowseBut->setToolTip("Browse for a folder");
    BrowseBut->setFixedWidth(28);
    CBSSH1 = new QCheckBox("SSH V1", ConnectionPanel);
    CBSSH1->setObjectName("CBSSH1");
    CBSSH1->setAccessibleName("SSH V1");
    CBSSH2 = new QCheckBox("SSH V2", ConnectionPanel);
    CBSSH2->setObjectName("CBSSH2");
    CBSSH2->setAccessibleName("SSH V2");
    EditPrivKey = MakeEdit(ConnectionPanel, "EditPrivKey", "Private Key", "");
    BrowsePrivKeyBut = new QPushButton("..", ConnectionPanel);
    BrowsePrivKeyBut->setObjectName("BrowsePrivKeyBut");
    BrowsePrivKeyBut->setAccessibleName("Browse for the private key folder");
    BrowsePrivKeyBut->setToolTip("Browse for a folder");
    BrowsePrivKeyBut->setFixedWidth(28);

    auto addField = [&](int row, int col, const QString& caption, QWidget* field, QWidget* extra = nullptr) {
        auto* label = new QLabel(caption, ConnectionPanel);
        label->setBuddy(field);
        grid->addWidget(label, row, col * 3, Qt::AlignRight);
        if (extra) {
            auto* box = new QHBoxLayout;
            box->setSpacing(2);
            box->addWidget(field);
            box->addWidget(extra);
            grid->addLayout(box, row, col * 3 + 1);
        } else {
            grid->addWidget(field, row, col * 3 + 1);
        }
    };
    addField(0, 0, "Host Server", FTPEdit);
    addField(0, 1, "User ID", LogonEdit);
    addField(0, 2, "Password", PassEdit);
    addField(1, 0, "Server Start Directory", FTPDirEdit);
    addField(1, 1, "Local Start Directory", LocalDirEdit, BrowseBut);
    auto* sshBox = new QHBoxLayout;
    sshBox->addWidget(CBSSH1);
    sshBox->addWidget(CBSSH2);
    sshBox->addStretch();
    grid->addLayout(sshBox, 1, 7);
    addField(2, 0, "Private Key", EditPrivKey, BrowsePrivKeyBut);
    EncryptionBox = new QComboBox(ConnectionPanel);
    EncryptionBox->setObjectName("EncryptionBox");
    EncryptionBox->setAccessibleName("Encryption");
    EncryptionBox->addItems(
        {"Use explicit TLS if available", "Require explicit TLS", "Implicit TLS", "Plain FTP (insecure)"});
    addField(2, 1, "Encryption", EncryptionBox);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setColumnStretch(7, 1);
    grid->setColumnMinimumWidth(2, 8);
    grid->setColumnMinimumWidth(5, 8);
    outer->addWidget(ConnectionPanel);

    setTabOrder(FTPEdit, LogonEdit);
    setTabOrder(LogonEdit, PassEdit);
    setTabOrder(PassEdit, FTPDirEdit);
    setTabOrder(FTPDirEdit, LocalDirEdit);
    setTabOrder(LocalDirEdit, BrowseBut);
    setTabOrder(BrowseBut, CBSSH1);
    setTabOrder(CBSSH1, CBSSH2);
    setTabOrder(CBSSH2, EditPrivKey);
    setTabOrder(EditPrivKey, BrowsePrivKeyBut);
    setTabOrder(BrowsePrivKeyBut, EncryptionBox);

    Splitter1 = new QSplitter(Qt::Horizontal, TabFTP);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setChildrenCollapsible(false);

    LocalTopPanel = new QGroupBox("Local Settings", Splitter1);
    LocalTopPanel->setObjectName("LocalTopPanel");
    auto* localLayout = new QVBoxLayout(LocalTopPanel);
    localLayout->setContentsMargins(4, 4, 4, 4);
    LocalList = new TFileList(LocalTopPanel);
    LocalList->setObjectName("LocalList");
    LocalList->setAccessibleName("Local files");
    localLayout->addWidget(LocalList, 1);
    auto* drivePanel = new QGroupBox("Drive:", LocalTopPanel);
    drivePanel->setObjectName("DrivePanel");
    drivePanel->setFixedHeight(61);
    auto* driveLayout = new QHBoxLayout(drivePanel);
    DriveComboBox1 = new QComboBox(drivePanel);
    DriveComboBox1->setObjectName("DriveComboBox1");
    NameSelector(DriveComboBox1, "Drive");
    DriveComboBox1->setProperty(TFormSettings::kSkipProperty, true);
    for (const std::string& root : DriveRoots())
        DriveComboBox1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), QString::fromStdString(root));
    driveLayout->addWidget(DriveComboBox1);
    localLayout->addWidget(drivePanel);

    FTPTopPanel = new QGroupBox("Host Server", Splitter1);
    FTPTopPanel->setObjectName("FTPTopPanel");
    auto* hostLayout = new QVBoxLayout(FTPTopPanel);
    hostLayout->setContentsMargins(4, 4, 4, 4);
    FTPList = new TFileList(FTPTopPanel);
    FTPList->setObjectName("FTPList");
    FTPList->setAccessibleName("Server files");
    hostLayout->addWidget(FTPList);

    Splitter1->addWidget(LocalTopPanel);
    Splitter1->addWidget(FTPTopPanel);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({369, 400});
    FtpSplitter = new QSplitter(Qt::Vertical, TabFTP);
    FtpSplitter->setObjectName("FtpSplitter");
    FtpSplitter->addWidget(Splitter1);
    BuildQueuePane();
    outer->addWidget(FtpSplitter, 1);

    LocalPopup = new QMenu(LocalList);
    LocalPopup->setObjectName("LocalPopup");
    Put1 = LocalPopup->addAction("&Put");
    Put1->setObjectName("Put1");
    LocalPopup->addSeparator();
    LocalDelete = LocalPopup->addAction("&Delete");
    LocalDelete->setObjectName("LocalDelete");

    FTPPopup = new QMenu(FTPList);
    FTPPopup->setObjectName("FTPPopup");
    Get1 = FTPPopup->addAction("&Get");
    Get1->setObjectName("Get1");
    HostDelete = FTPPopup->addAction("&Delete");
    HostDelete->setObjectName("HostDelete");
    CreateDirectory1 = FTPPopup->addAction("&Create Directory");
    CreateDirectory1->setObjectName("CreateDirectory1");
    NameMenu(LocalPopup, "Local files menu");
    NameMenu(FTPPopup, "Server files menu");
}

void TFormMain::BuildListMenus() {
    // The same actions as the lists' pop-up menus, reachable from the keyboard and by
    // assistive technology, which cannot reach a pop-up menu before it is open.
    Local1 = new QMenu("&Local", this);
    Local1->setObjectName("Local1");
    Local1->addAction(Put1);
    Local1->addSeparator();
    Local1->addAction(LocalDelete);
    Server1 = new QMenu("&Server", this);
    Server1->setObjectName("Server1");
    Server1->addAction(Get1);
    Server1->addAction(HostDelete);
    Server1->addAction(CreateDirectory1);
    menuBar()->insertMenu(Help1->menuAction(), Local1);
    menuBar()->insertMenu(Help1->menuAction(), Server1);
    menuBar()->insertMenu(Help1->menuAction(), Queue1);
    menuBar()->insertMenu(Help1->menuAction(), View1);
}

void TFormMain::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(true);
    StatusPanel0 = new QLabel(bar);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(150);
    // No accessible names: a label without one is named by its text, so a screen reader reads
    // the status itself; the panel's role goes into the description.
    StatusPanel0->setAccessibleDescription("Activity");
    // Status lines carry server names and replies: never markup.
    StatusPanel0->setTextFormat(Qt::PlainText);
    StatusPanel1 = new QLabel(bar);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setMinimumWidth(50);
    StatusPanel1->setAccessibleDescription("Details");
    StatusPanel1->setTextFormat(Qt::PlainText);
    StatusQueue = new QLabel(bar);
    StatusQueue->setObjectName("StatusQueue");
    StatusQueue->setAccessibleDescription("Transfer queue");
    StatusQueue->setTextFormat(Qt::PlainText);
    bar->addWidget(StatusPanel0);
    bar->addWidget(StatusPanel1, 1);
    bar->addPermanentWidget(StatusQueue);
}

void TFormMain::WireCommands() {
    auto command = [this](auto handler) {
        return [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); };
    };

    connect(ExitBut, &QToolButton::clicked, this, &QWidget::close);
    connect(Exit2, &QAction::triggered, this, &QWidget::close);
    connect(HelpContents, &QAction::triggered, this, command(&TFormMain::HelpContentsClick));
    connect(Tips2, &QAction::triggered, this, command(&TFormMain::Tips2Click));
    connect(About2, &QAction::triggered, this, command(&TFormMain::About2Click));

    connect(LocalList, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(FTPList, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(LocalList, &QTreeWidget::itemDoubleClicked, this, command(&TFormMain::LocalListDblClick));
    connect(DriveComboBox1, &QComboBox::activated, this, command(&TFormMain::DriveComboBox1Change));
    connect(BrowseBut, &QPushButton::clicked, this, command(&TFormMain::BrowseButClick));
    connect(BrowsePrivKeyBut, &QPushButton::clicked, this, command(&TFormMain::BrowseButClick));
    connect(LocalDelete, &QAction::triggered, this, command(&TFormMain::LocalDeleteClick));
    LocalDirEdit->installEventFilter(new TDblClickFilter(this, command(&TFormMain::LocalDirEditDblClick)));

    connect(BtnSftp, &QToolButton::clicked, this, command(&TFormMain::BtnSftpClick));
    connect(ConnectBut, &QToolButton::clicked, this, command(&TFormMain::ConnectButClick));
    connect(DisconBut, &QToolButton::clicked, this, command(&TFormMain::DisconButClick));
    connect(GetBut, &QToolButton::clicked, this, command(&TFormMain::GetButClick));
    connect(Get1, &QAction::triggered, this, command(&TFormMain::GetButClick));
    connect(SendBut, &QToolButton::clicked, this, command(&TFormMain::SendButClick));
    connect(Put1, &QAction::triggered, this, command(&TFormMain::SendButClick));
    connect(HostDelete, &QAction::triggered, this, command(&TFormMain::HostDeleteClick));
    connect(CreateDirectory1, &QAction::triggered, this, command(&TFormMain::CreateDirectory1Click));
    connect(FTPList, &QTreeWidget::itemDoubleClicked, this, command(&TFormMain::FTPListDblClick));
    FTPDirEdit->installEventFilter(new TDblClickFilter(this, command(&TFormMain::FTPDirEditDblClick)));
    for (TFileList* list : {LocalList, FTPList}) {
        list->OnDragOver = [this](TFileList* target, QObject* source) { return AcceptsDrop(target, source); };
        list->OnDragDrop = [this](TFileList* target, QObject* source) {
            RunCommand([this, target, source] { ListDrop(target, source); });
        };
        list->OnEnterKey = [this](TFileList* l) { RunCommand([this, l] { ListEnterKey(l); }); };
        list->OnDeleteKey = [this](TFileList* l) { RunCommand([this, l] { ListDeleteKey(l); }); };
    }
    // Enter in the password field connects, as the Connect button does while it is enabled.
    connect(PassEdit, &QLineEdit::returnPressed, this, [this] {
        if (ConnectBut->isEnabled()) RunCommand([this] { ConnectButClick(); });
    });

    WireEditorCommands();

    connect(LocalList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { LocalPopup->popup(LocalList->viewport()->mapToGlobal(pos)); });
    connect(FTPList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { FTPPopup->popup(FTPList->viewport()->mapToGlobal(pos)); });
}

void TFormMain::RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const EInetError& e) {
        ShowErrorMessage(*Prompts, this, QString::fromUtf8(e.what()), QString::fromStdString(e.Advice));
    } catch (const std::exception& e) {
        ShowErrorMessage(*Prompts, this, QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorMessage(*Prompts, this, "Unknown error");
    }
}

void TFormMain::SetStatus(int panel, const QString& text) {
    QLabel* label = panel == 0 ? StatusPanel0 : StatusPanel1;
    // A panel is one line, cut off at its edge: an error of several lines ("Win32 Error 12003:",
    // a blank line, the server's reply) reads as one instead of making the status bar grow.
    QString line = text;
    if (line.contains('\n') || line.contains('\r')) line = line.simplified();
    label->setText(line);
    // Painted at once, so the text shows while the command that set it still blocks.
    label->repaint();
}

QString TFormMain::StatusText(int panel) const {
    return (panel == 0 ? StatusPanel0 : StatusPanel1)->text();
}

void TFormMain::UpdateButtons() {
    const bool connected = FConnection != nullptr;
    ConnectBut->setEnabled(!connected);
    DisconBut->setEnabled(connected);
    GetBut->setEnabled(connected && !FTPList->selectedItems().isEmpty());
    SendBut->setEnabled(connected && !LocalList->selectedItems().isEmpty());
}

void TFormMain::ClearHostListing() {
    FTPList->clear();
    FTPTopPanel->setTitle("Host Server");
    UpdateButtons();
}

void TFormMain::FormCreate() {
    setWindowTitle("Varnello v1.2");
    FEditFileName.clear();
    LoadTheme("blue.theme");
    LabelURL->clear();
    urlLabel->Address.clear();
    FEditModified = false;
    PageControlMain->setCurrentIndex(0);
    PageControlMainChange();
    repaint();
    UpdateButtons();
    ComboBoxShortcuts->setCurrentIndex(0);
    ComboBoxShortcutsChange();
    if (!LocalDirEdit->text().isEmpty()) {
        FLocalDir = LocalDirEdit->text().toStdString();
        ListLocalDirectory();
        FStartDirListed = true;
    }
    Tips1->PickRandomTip();
    // Shown once the main window is up, so the tip opens in front of it.
    if (Tips1->ShowOnStartup)
        QTimer::singleShot(0, this, [this] {
            if (Tips1->ShowOnStartup) Tips1->ShowTipWindow();
        });
}

void TFormMain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (FFirstShowDone) return;
    FFirstShowDone = true;
    // The drive selector starts on the volume of the current folder and reports that as a
    // change; a start directory listed at creation keeps the list and only picks its volume.
    if (FStartDirListed) {
        SelectDrive(QStorageInfo(QString::fromStdString(FLocalDir)).rootPath().toStdString());
        return;
    }
    SelectDrive(QStorageInfo(QDir::currentPath()).rootPath().toStdString());
    RunCommand([this] { DriveComboBox1Change(); });
}

void TFormMain::SelectDrive(const std::string& root) {
    const int index = DriveComboBox1->findText(QString::fromStdString(root));
    QSignalBlocker block(DriveComboBox1);
    DriveComboBox1->setCurrentIndex(index >= 0 ? index : 0);
}

std::vector<std::string> TFormMain::DriveRoots() {
    static const QList<QByteArray> pseudo{
        "proc", "sysfs",  "devpts",    "cgroup",   "cgroup2", "securityfs",  "debugfs", "tracefs",  "pstore",
        "bpf",  "mqueue", "hugetlbfs", "configfs", "fusectl", "binfmt_misc", "autofs",  "devtmpfs", "nsfs"};
    std::vector<std::string> roots{"/"};
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady() || pseudo.contains(v.fileSystemType())) continue;
        const std::string root = v.rootPath().toStdString();
        if (!QFileInfo(v.rootPath()).isDir()) continue;
        if (std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(root);
    }
    std::sort(roots.begin() + 1, roots.end());
    return roots;
}

void TFormMain::ListLocalDirectory() {
    LocalTopPanel->setTitle("Local Dir: " + QString::fromStdString(FLocalDir));
    LocalList->SetRecords(ListLocalEntries(FLocalDir));
    UpdateButtons();
}

void TFormMain::LocalListDblClick() {
    QTreeWidgetItem* item = LocalList->FirstSelected();
    if (!item || !IsFolderItem(item)) return;
    const std::string caption = item->text(0).toStdString();
    if (caption != "..")
        FLocalDir = EnsureTrailing(FLocalDir, '/') + caption;
    else
        FLocalDir = ParentLocalDir(FLocalDir);
    ListLocalDirectory();
}

void TFormMain::DriveComboBox1Change() {
    FLocalDir = DriveComboBox1->currentText().toStdString();
    ListLocalDirectory();
}

void TFormMain::BrowseButClick() {
    const std::optional<std::string> chosen = Prompts->ChooseFolder(this);
    if (!chosen || chosen->empty()) return;
    FLocalDir = *chosen;
    LocalDirEdit->setText(QString::fromStdString(*chosen));
    ListLocalDirectory();
}

void TFormMain::LocalDirEditDblClick() {
    LocalDirEdit->setText(QString::fromStdString(FLocalDir));
}

void TFormMain::LocalDeleteClick() {
    std::string failed;
    for (QTreeWidgetItem* item : LocalList->SelectedInListOrder()) {
        const std::string caption = item->text(0).toStdString();
        // A selected ".." names the parent folder; it is never sent to the trash by a click.
        if (IsDotsName(caption)) continue;
        // The desktop has no error window of its own for a failed move, so the window
        // reports the entries that stayed, after trying all of them.
        if (!RecycleFile(EnsureTrailing(FLocalDir, '/') + caption, false))
            failed += (failed.empty() ? "" : ", ") + caption;
    }
    ListLocalDirectory();
    if (!failed.empty()) throw EVarnelloError("Could not move to the trash: " + failed);
}

void TFormMain::ListEnterKey(TFileList* list) {
    QTreeWidgetItem* item = list->currentItem();
    if (!item) return;
    // The entry under the cursor is what Enter acts on; when it is outside the selection it
    // becomes the selection, so nothing else is opened or sent by surprise.
    if (IsFolderItem(item) || !item->isSelected()) {
        list->clearSelection();
        item->setSelected(true);
    }
    if (IsFolderItem(item)) {
        if (list == LocalList)
            LocalListDblClick();
        else
            FTPListDblClick();
        return;
    }
    if (!FConnection)
        throw EVarnelloError("Not connected: connect to the server first, then press Enter again");
    // On a shared connection one worker at a time runs; a second connection leaves it free.
    if (TransferRunning() && FSingleConnection)
        throw EVarnelloError("A transfer is still running: wait until the status line says Ready, then press "
                             "Enter again");
    if (list == LocalList)
        PutSelection();
    else
        GetSelection();
}

void TFormMain::ListDeleteKey(TFileList* list) {
    // Without a selection the menu command would only list the folder again.
    if (list->selectedItems().isEmpty()) return;
    if (list == LocalList)
        LocalDeleteClick();
    else
        HostDeleteClick();
}

void TFormMain::HelpContentsClick() {
    const QString helpFile = QDir(QCoreApplication::applicationDirPath()).filePath("VARNELLO.HLP");
    HelpWindow->ShowContents(helpFile);
}

void TFormMain::Tips2Click() {
    Tips1->PickRandomTip();
    Tips1->ShowTipWindow();
}

void TFormMain::About2Click() {
    AboutBox1->exec();
}

bool TFormMain::FormCloseQuery() {
    if (RemoteDocumentUnsent())
        return MessageDialog(*Prompts, this,
                             QString::fromStdString("Your changes to " + FRemoteDoc->Url +
                                                    " have not been uploaded to the server. Are you sure you "
                                                    "want to quit?"),
                             {"&Yes", "&No"}) == 1;
    if (!FEditModified) return true;
    return MessageDialog(*Prompts, this,
                         "The document you are editing has not been saved. Are you sure you want to quit?",
                         {"&Yes", "&No"}) == 1;
}

void TFormMain::FormClose() {
    CloseConnections();
    RemoveRemoteEditFolder();
    FormSettings1->SaveSettings();
    MruMenu1->Save();
}

void TFormMain::closeEvent(QCloseEvent* e) {
    if (!FormCloseQuery()) {
        e->ignore();
        return;
    }
    // A batch still running ends here: its remaining files are dropped and the transfer on
    // the wire is aborted by closing the connection, without a message per dropped file.
    FClosing = true;
    FTransferQueue->CancelAll();
    RunCommand([this] { FormClose(); });
    if (Tips1->Window()) Tips1->Window()->close();
    e->accept();
}

Varnello::Ssh::TNvSSHLogonSettings TFormMain::SecureLogonSettings() const {
    Varnello::Ssh::TNvSSHLogonSettings s;
    s.PrivateKey = EditPrivKey->text().trimmed().toStdString();
    s.SshV1 = CBSSH1->isChecked();
    s.SshV2 = CBSSH2->isChecked();
    return s;
}

void TFormMain::BtnSftpClick() {
    const QString configDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(configDir);
    // Owned by the main window; each click opens another window with its own session.
    auto* form = new Varnello::SecureWin::TFormSFTP(this, (configDir + "/known_hosts").toStdString());
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->editHost->setText(FTPEdit->text());
    form->editUserName->setText(LogonEdit->text());
    form->editPassword->setText(PassEdit->text());
    form->LogonSettings = SecureLogonSettings();
    form->setWindowTitle("Varnello Secure FTP [" + FTPEdit->text() + "]");
    form->ConnectButClick();
    form->show();
}
