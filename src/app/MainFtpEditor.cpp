// TFormMain, editor side: the Editor page (the code editor, the snippet table, the browser
// link), opening and saving documents and connection profiles, the recent-profiles menu, and
// the page-dependent dialog filters and menu entries.
#include "app/AboutBox.h"
#include "app/Dialogs.h"
#include "editor/ProfileFile.h"

#include "app/MainFtp.h"
#include "conveniences/MruMenu.h"
#include "editor/MemoStyler.h"
#include "editor/ProfileFile.h"
#include "editor/ShortcutCsv.h"
#include "editor/widget/CodeMemo.h"
#include "editor/widget/FindBar.h"
#include "settings/FormSettings.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char* const kProfileFilter = "Varnello (*.vrnl)|*.vrnl|All File(s) (*.*)|*.*";
const char* const kEditorFilter =
    "HTML|*.htm;*.html|PHP|*.php|SQL|*.sql|Perl|*.pl|Delphi (*.pas)|*.pas|Java|*.java|JavaScript (*.js)|*.js|"
    "Java Server Pages|*.jsp|Active Server Pages|*.asp|Active Server Pages .NET|*.aspx|C#|*.cs|Visual "
    "Basic|*.bas|"
    "All File(s)|*.*";

// The extension with its dot, exactly as the file name spells it ("" when there is none).
std::string ExtensionOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return path.substr(dot);
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A selection-only combo box named by its accessible name, with its current item as the value.
// Qt's own interface on this platform names a combo box by its current text ("PHP"), so a screen
// reader would announce the value twice and never say what the box is for.
class TNamedComboBoxAccessible : public QAccessibleWidget {
public:
    explicit TNamedComboBoxAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return Box()->accessibleName();
        if (t == QAccessible::Value) return Box()->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << showMenuAction(); }
    void doAction(const QString& name) override {
        if (name == showMenuAction())
            Box()->showPopup();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    QComboBox* Box() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* NamedComboBoxFactory(const QString& className, QObject* object) {
    auto* box = qobject_cast<QComboBox*>(object);
    if (className != QLatin1String("QComboBox") || !box || box->isEditable() ||
        box->accessibleName().isEmpty())
        return nullptr;
    return new TNamedComboBoxAccessible(box);
}

// Double-clicks on the snippet table's empty area below its last row, which the table itself
// reports to no one.
class TBelowRowsDoubleClick : public QObject {
public:
    TBelowRowsDoubleClick(QTableWidget* table, std::function<void()> handler)
        : QObject(table), FTable(table), FViewport(table->viewport()), FHandler(std::move(handler)) {
        FViewport->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The viewport outlives the table's own destructor and still sends events from its own;
        // only a double-click, which cannot arrive then, may touch the table.
        if (event->type() == QEvent::MouseButtonDblClick && watched == FViewport) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const int rows = FTable->rowCount();
            const int bottom =
                rows > 0 ? FTable->rowViewportPosition(rows - 1) + FTable->rowHeight(rows - 1) : 0;
            if (mouse->button() == Qt::LeftButton && mouse->position().y() >= bottom) {
                FHandler();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTableWidget* FTable;
    QObject* FViewport;
    std::function<void()> FHandler;
};

} // namespace

void TFormMain::BuildEditorTab() {
    TabEditor = new QWidget;
    TabEditor->setObjectName("TabEditor");
    auto* layout = new QVBoxLayout(TabEditor);
    layout->setContentsMargins(4, 4, 4, 4);

    WebMemoStyler1 = CreateMemoStyler("TWebMemoStyler");
    PascalMemoStyler1 = CreateMemoStyler("TPascalMemoStyler");
    JavaMemoStyler1 = CreateMemoStyler("TCSharpMemoStyler");
    BasicMemoStyler1 = CreateMemoStyler("TBasicMemoStyler");
    SQLMemoStyler1 = CreateMemoStyler("TSQLMemoStyler");
    PerlMemoStyler1 = CreateMemoStyler("TPerlMemoStyler");

    auto* outer = new QSplitter(Qt::Horizontal, TabEditor);
    outer->setObjectName("EditorPageSplitter");
    ToolPanelTab1 = new QToolBox(outer);
    ToolPanelTab1->setObjectName("ToolPanelTab1");
    ToolPanelTab1->setMinimumWidth(200);

    ToolPanel1 = new QWidget;
    ToolPanel1->setObjectName("ToolPanel1");
    auto* shortcuts = new QVBoxLayout(ToolPanel1);
    shortcuts->setContentsMargins(2, 2, 2, 2);
    // Installed before the box exists: Qt keeps the first interface it made for an object.
    static const bool namedCombos = [] {
        QAccessible::installFactory(NamedComboBoxFactory);
        return true;
    }();
    (void)namedCombos;
    ComboBoxShortcuts = new QComboBox(ToolPanel1);
    ComboBoxShortcuts->setObjectName("ComboBoxShortcuts");
    ComboBoxShortcuts->setAccessibleName("Snippet language");
    ComboBoxShortcuts->addItems({"PHP", "HTML", "Pascal", "Java", "JavaScript", "SQL", "Perl"});
    shortcuts->addWidget(ComboBoxShortcuts);
    // The file's header line is the table's fixed header: it names the columns, stays in view and
    // cannot be selected; the table's rows are the snippets (grid row r is table row r - 1).
    StringGridScut = new QTableWidget(4, 2, ToolPanel1);
    StringGridScut->setObjectName("StringGridScut");
    StringGridScut->setAccessibleName("Snippets");
    StringGridScut->horizontalHeader()->setHighlightSections(false);
    StringGridScut->horizontalHeader()->setSectionsClickable(false);
    StringGridScut->horizontalHeader()->setFixedHeight(21);
    QFont headerFont = StringGridScut->horizontalHeader()->font();
    headerFont.setBold(true);
    StringGridScut->horizontalHeader()->setFont(headerFont);
    StringGridScut->verticalHeader()->setVisible(false);
    StringGridScut->verticalHeader()->setDefaultSectionSize(21);
    StringGridScut->setColumnWidth(0, 110);
    StringGridScut->setColumnWidth(1, 143);
    StringGridScut->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGridScut->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGridScut->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGridScut->setWordWrap(true);
    StringGridScut->setShowGrid(true);
    shortcuts->addWidget(StringGridScut, 1);
    ToolPanelTab1->addItem(ToolPanel1, "Shortcuts");

    auto* browser = new QWidget;
    browser->setObjectName("ToolPanel2");
    auto* browserLayout = new QVBoxLayout(browser);
    LabelURL = new QLabel(browser);
    LabelURL->setObjectName("LabelURL");
    LabelURL->setWordWrap(true);
    LabelURL->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelURL->setAccessibleName("Browser link");
    urlLabel = new TLinkLabel("Check it out on the browser", "", browser);
    urlLabel->setObjectName("urlLabel");
    urlLabel->setStyleSheet("color: #1d4fa0; text-decoration: underline;");
    browserLayout->addWidget(LabelURL);
    browserLayout->addWidget(urlLabel);
    browserLayout->addStretch();
    ToolPanelTab1->addItem(browser, "Browser");

    EditorSplitter = new QSplitter(Qt::Vertical, outer);
    EditorSplitter->setObjectName("EditorSplitter");
    CodeMemoSecondary = new TCodeMemo(EditorSplitter);
    CodeMemoSecondary->setObjectName("CodeMemoSecondary");
    CodeMemoSecondary->setAccessibleName("Second editor");
    CodeMemoMain = new TCodeMemo(EditorSplitter);
    CodeMemoMain->setObjectName("CodeMemoMain");
    CodeMemoMain->setAccessibleName("Code editor");
    CodeMemoMain->SetSyntaxStyles(WebMemoStyler1.get());
    CodeMemoMain->SetAutoCorrect({{"my", "mysql_"}});
    // "my" is a word of every page's prose; only in PHP code is it the start of a function name.
    CodeMemoMain->Model().OnCanAutoCorrect = [](const TCodeMemoModel& memo, const std::string&,
                                                TMemoPos end) { return IsInsidePhpCode(memo.Lines(), end); };
    EditorSplitter->addWidget(CodeMemoSecondary);
    EditorSplitter->addWidget(CodeMemoMain);
    // The second editor starts collapsed to a sliver above the splitter.
    CodeMemoSecondary->setMinimumHeight(2);
    EditorSplitter->setCollapsible(0, false);
    EditorSplitter->setSizes({2, 1000});

    // The find bar sits under both editors and acts on the main one; its keys work anywhere in
    // the column.
    auto* editorColumn = new QWidget(outer);
    editorColumn->setObjectName("EditorColumn");
    auto* columnLayout = new QVBoxLayout(editorColumn);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    FindBar1 = new TFindBar(CodeMemoMain, editorColumn, editorColumn);
    // What was last searched for is no setting of the window.
    for (QLineEdit* edit : {FindBar1->FindEdit, FindBar1->ReplaceEdit, FindBar1->LineEdit})
        edit->setProperty(TFormSettings::kSkipProperty, true);
    columnLayout->addWidget(EditorSplitter, 1);
    columnLayout->addWidget(FindBar1);

    outer->addWidget(ToolPanelTab1);
    outer->addWidget(editorColumn);
    outer->setStretchFactor(1, 1);
    outer->setSizes({260, 600});
    layout->addWidget(outer);
    PageControlMain->addTab(TabEditor, "Editor");

    MruMenu1 = new TMruMenu(this, "FormMain");
    if (const QString ini = Prompts->RecentIniFile(); !ini.isEmpty()) MruMenu1->SetIniFileName(ini);
}

void TFormMain::WireEditorCommands() {
    auto command = [this](auto handler) {
        return [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(Open2, &QAction::triggered, this, command(&TFormMain::Open2Click));
    connect(mnuFTPConfiguration, &QAction::triggered, this, command(&TFormMain::Open2Click));
    connect(mnuFiletoedit, &QAction::triggered, this, command(&TFormMain::Open2Click));
    connect(Save2, &QAction::triggered, this, command(&TFormMain::Save2Click));
    connect(mnuSaveFTPConfiguration, &QAction::triggered, this,
            command(&TFormMain::mnuSaveFTPConfigurationClick));
    connect(mnuSaveEditedFile, &QAction::triggered, this, command(&TFormMain::mnuSaveEditedFileClick));
    connect(SaveAs2, &QAction::triggered, this, command(&TFormMain::SaveAs2Click));
    connect(PageControlMain, &QTabWidget::currentChanged, this, command(&TFormMain::PageControlMainChange));
    connect(ComboBoxShortcuts, &QComboBox::activated, this, command(&TFormMain::ComboBoxShortcutsChange));
    connect(StringGridScut, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        RunCommand([=, this] { StringGridScutDblClickCell(row + 1, column); });
    });
    connect(StringGridScut->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this,
            [this](int column) { RunCommand([=, this] { StringGridScutDblClickCell(0, column); }); });
    // Below the last row counts as the header row.
    new TBelowRowsDoubleClick(StringGridScut,
                              [this] { RunCommand([this] { StringGridScutDblClickCell(0, 0); }); });
    CodeMemoMain->OnStatusChange = [this](TCustomCodeMemo& sender) { CodeMemoMainStatusChange(sender); };

    // The Edit menu acts on the editor through its own clipboard keys.
    auto sendKey = [this](int key) {
        return [this, key] {
            QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
            QCoreApplication::sendEvent(CodeMemoMain, &press);
        };
    };
    connect(Cut1, &QAction::triggered, this, sendKey(Qt::Key_X));
    connect(Copy1, &QAction::triggered, this, sendKey(Qt::Key_C));
    connect(Paste1, &QAction::triggered, this, sendKey(Qt::Key_V));

    MruMenu1->SetParentMenu(File1);
    MruMenu1->OnSelectFile = [this](TMruMenu*, const QString& path) {
        RunCommand([this, path] { MruMenuSelectFile(path); });
    };
    MruMenu1->Load();
}

void TFormMain::PageControlMainChange() {
    const bool ftp = PageControlMain->currentIndex() == 0;
    FDialogFilter = ftp ? kProfileFilter : kEditorFilter;
    FDialogDefaultExt = ftp ? "vrnl" : "html";
    mnuFTPConfiguration->setEnabled(ftp);
    mnuSaveFTPConfiguration->setEnabled(ftp);
    mnuFiletoedit->setEnabled(!ftp);
    mnuSaveEditedFile->setEnabled(!ftp);
}

void TFormMain::CodeMemoMainStatusChange(TCustomCodeMemo&) {
    FEditModified = true;
}

bool TFormMain::ConfirmDiscard() {
    if (RemoteDocumentUnsent())
        return MessageDialog(*Prompts, this,
                             QString::fromStdString("Your changes to " + FRemoteDoc->Url +
                                                    " have not been uploaded to the server. Are you sure you "
                                                    "want to discard them?"),
                             {"&Yes", "&No"}) == 1;
    return !FEditModified || MessageDialog(*Prompts, this,
                                           "The file that you are editing has not been saved. Are you sure "
                                           "you want to discard the changes?",
                                           {"&Yes", "&No"}) == 1;
}

TProfile TFormMain::ProfileFromFields() const {
    return TProfile{FTPEdit->text().toStdString(), LogonEdit->text().toStdString(),
                    PassEdit->text().toStdString(), FTPDirEdit->text().toStdString(),
                    LocalDirEdit->text().toStdString(),
                    // The default adds no line, so such a profile stays byte for byte as before.
                    EncryptionBox->currentIndex() > 0
                        ? ProfileEncryptionNames[std::clamp(EncryptionBox->currentIndex(), 0, 3)]
                        : ""};
}

void TFormMain::Open2Click() {
    if (!ConfirmDiscard()) return;
    const std::optional<std::string> chosen = Prompts->ChooseOpenFile(this, FDialogFilter, FDialogDefaultExt);
    if (!chosen) return;
    OpenPath(*chosen);
}

void TFormMain::MruMenuSelectFile(const QString& path) {
    if (!ConfirmDiscard()) return;
    OpenPath(path.toStdString());
}

void TFormMain::OpenPath(const std::string& path) {
    FEditModified = false;
    if (ExtensionOf(path) != ".vrnl") FRemoteDoc.reset();
    LabelURL->clear();
    urlLabel->Address.clear();
    setWindowTitle(QString::fromStdString("Varnello v1.2[" + FileNameOf(path) + "]"));
    if (ExtensionOf(path) == ".vrnl") {
        LoadProfile(path);
        PageControlMain->setCurrentIndex(0);
        return;
    }
    ApplyFileType(path);
    // The name changes only with the text: after a failed load the editor still shows the previous
    // document, and a Save must not write it over the file that could not be read.
    CodeMemoMain->LoadLines(path);
    PageControlMain->setCurrentIndex(1);
    FEditFileName = path;
    // The backup holds the file as it was on disk when opened; a failed copy is silent.
    const QString backup = QString::fromStdString(path + "_bak");
    QFile::remove(backup);
    QFile::copy(QString::fromStdString(path), backup);
}

bool TFormMain::ApplyFileType(const std::string& path) {
    const std::string ext = ExtensionOf(path);
    bool web = false;
    if (ext == ".htm" || ext == ".html" || ext == ".js" || ext == ".php" || ext == ".asp" || ext == ".aspx" ||
        ext == ".jsp") {
        CodeMemoMain->SetSyntaxStyles(WebMemoStyler1.get());
        const QString link = QString::fromStdString("file://" + path);
        LabelURL->setText(link);
        urlLabel->Address = link;
        web = true;
    }
    if (ext == ".pas") CodeMemoMain->SetSyntaxStyles(PascalMemoStyler1.get());
    if (ext == ".jav" || ext == ".java" || ext == ".cs") CodeMemoMain->SetSyntaxStyles(JavaMemoStyler1.get());
    if (ext == ".bas") CodeMemoMain->SetSyntaxStyles(BasicMemoStyler1.get());
    if (ext == ".sql") CodeMemoMain->SetSyntaxStyles(SQLMemoStyler1.get());
    if (ext == ".pl") CodeMemoMain->SetSyntaxStyles(PerlMemoStyler1.get());
    return web;
}

std::optional<std::string> TFormMain::AskSaveName(const QString& filter, const QString& defaultExt) {
    return Prompts->ChooseSaveFile(this, filter, defaultExt);
}

void TFormMain::SaveDocument() {
    if (FEditFileName.empty()) {
        SaveDocumentAs();
        return;
    }
    CodeMemoMain->SaveLines(FEditFileName); // throws before the flag is cleared
    FEditModified = false;
    // A server file's copy goes back where it came from; the local save above stands either way.
    if (FRemoteDoc && FRemoteDoc->LocalPath == FEditFileName) UploadRemoteDocument();
}

void TFormMain::SaveDocumentAs() {
    const std::optional<std::string> chosen = AskSaveName(kEditorFilter, "html");
    if (!chosen || chosen->empty()) return; // cancelled: the text is still unsaved
    CodeMemoMain->SaveLines(*chosen);
    // The document now lives under the new name, coloured and linked as Open would have it.
    FEditFileName = *chosen;
    FEditModified = false;
    FRemoteDoc.reset();
    LabelURL->clear();
    urlLabel->Address.clear();
    ApplyFileType(*chosen);
    setWindowTitle(QString::fromStdString("Varnello v1.2[" + FileNameOf(*chosen) + "]"));
}

void TFormMain::SaveProfileAs() {
    const std::optional<std::string> chosen = AskSaveName(kProfileFilter, "vrnl");
    if (chosen && !chosen->empty()) SaveProfile(*chosen);
}

void TFormMain::Save2Click() {
    if (!FEditFileName.empty() || PageControlMain->currentIndex() != 0) {
        SaveDocument();
        return;
    }
    mnuSaveFTPConfigurationClick();
}

void TFormMain::SaveAs2Click() {
    // The Editor page saves the document under a new name, the FTP page a connection profile.
    if (PageControlMain->currentIndex() != 0)
        SaveDocumentAs();
    else
        SaveProfileAs();
}

void TFormMain::mnuSaveFTPConfigurationClick() {
    if (FProfileFileName.empty())
        SaveProfileAs();
    else
        SaveProfile(FProfileFileName);
}

void TFormMain::mnuSaveEditedFileClick() {
    SaveDocument();
}

void TFormMain::LoadProfile(const std::string& path) {
    MruMenu1->AddFile(QString::fromStdString(path));
    FProfileFileName = path;
    TProfile profile = ProfileFromFields();
    // A short file fills the fields it has before the error; both ways the fields show it.
    auto show = [&] {
        FTPEdit->setText(QString::fromStdString(profile.Host));
        LogonEdit->setText(QString::fromStdString(profile.User));
        PassEdit->setText(QString::fromStdString(profile.Password));
        FTPDirEdit->setText(QString::fromStdString(profile.ServerDir));
        LocalDirEdit->setText(QString::fromStdString(profile.LocalDir));
        EncryptionBox->setCurrentIndex(ProfileEncryptionIndex(profile.Encryption));
    };
    try {
        ::LoadProfile(path, profile);
    } catch (...) {
        show();
        throw;
    }
    show();
}

void TFormMain::SaveProfile(const std::string& path) {
    MruMenu1->AddFile(QString::fromStdString(path));
    FProfileFileName = path;
    ::SaveProfile(path, ProfileFromFields());
}

void TFormMain::ComboBoxShortcutsChange() {
    static const std::pair<const char*, const char*> files[] = {{"PHP", "php.csv"},
                                                                {"HTML", "html.csv"},
                                                                {"Pascal", "pascal.csv"},
                                                                {"Java", "java.csv"},
                                                                {"JavaScript", "javascript.csv"},
                                                                {"SQL", "sql.csv"},
                                                                {"Perl", "perl.csv"}};
    const QString language = ComboBoxShortcuts->currentText();
    for (const auto& [name, file] : files) {
        if (language != name) continue;
        const std::string path = QDir(QCoreApplication::applicationDirPath()).filePath(file).toStdString();
        const TCsvTable table = LoadShortcutCsv(path);
        int columns = StringGridScut->columnCount();
        for (const TCsvRow& row : table) columns = std::max(columns, static_cast<int>(row.size()));
        StringGridScut->clearContents();
        StringGridScut->setColumnCount(columns);
        const int rows = std::max(static_cast<int>(table.size()) - 1, 0);
        StringGridScut->setRowCount(rows);
        QStringList header;
        if (!table.empty())
            for (const std::string& field : table[0]) header << QString::fromStdString(field);
        while (header.size() < columns) header << QString();
        StringGridScut->setHorizontalHeaderLabels(header);
        for (int r = 0; r < rows; ++r) {
            const TCsvRow& row = table[static_cast<std::size_t>(r) + 1];
            for (int c = 0; c < static_cast<int>(row.size()); ++c)
                StringGridScut->setItem(
                    r, c, new QTableWidgetItem(QString::fromStdString(row[static_cast<std::size_t>(c)])));
        }
        return;
    }
}

void TFormMain::StringGridScutDblClickCell(int row, int) {
    // Row 0 is the header; a double-click below the last row counts as one on it.
    if (row < 0 || row > StringGridScut->rowCount()) row = 0;
    QString text;
    if (row == 0) {
        if (QTableWidgetItem* header = StringGridScut->horizontalHeaderItem(1)) text = header->text();
    } else if (QTableWidgetItem* cell = StringGridScut->item(row - 1, 1)) {
        text = cell->text();
    }
    CodeMemoMain->InsertText(text.toStdString());
}
