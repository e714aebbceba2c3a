// The Editor page of the main window: opening files and profiles, stylers by extension, the
// backup copy, the discard and quit prompts, Save and Save As, dialog filters per page, the
// recent-profiles menu and the snippet table.
#include "TestPrompts.h"
#include "app/AboutBox.h"
#include "app/Dialogs.h"
#include "app/HelpWindow.h"
#include "app/MainFtp.h"
#include "conveniences/MruMenu.h"
#include "conveniences/Tips.h"
#include "editor/MemoStyler.h"
#include "editor/widget/CodeMemo.h"
#include "settings/FormSettings.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBox>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string ReadAll(const QString& path) {
    std::ifstream f(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}
void WriteAll(const QString& path, const std::string& text) {
    std::ofstream(path.toStdString(), std::ios::binary) << text;
}

class MainFtpEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setApplicationName("Varnello");
        TFormSettings::StorageFile = Dir.filePath("settings.ini");
        auto prompts = std::make_unique<TTestPrompts>(Dir.filePath("recent.INI"));
        prompts->OnAsk = [this](TDialogRequest& r) {
            Requests.push_back(r);
            return Answer;
        };
        prompts->OnOpenFile = [this](const QString& filter,
                                     const QString& ext) -> std::optional<std::string> {
            Filters.push_back(filter + "#" + ext);
            if (NextFile.empty()) return std::nullopt;
            return NextFile;
        };
        prompts->OnSaveFile = prompts->OnOpenFile;
        Window = std::make_unique<TFormMain>(nullptr, std::move(prompts));
        Window->Tips1->ShowOnStartup = false;
    }
    void TearDown() override {
        Window.reset();
        TFormSettings::StorageFile.clear();
    }
    // Shows the window on the Editor page with the focus in the document.
    void ShowEditor() {
        Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
        QApplication::setActiveWindow(Window.get());
        Window->PageControlMain->setCurrentIndex(1);
        Window->CodeMemoMain->setFocus();
        QApplication::processEvents();
    }
    void Keys(const QKeySequence& keys) {
        QTest::keySequence(QApplication::focusWidget() ? QApplication::focusWidget() : Window.get(), keys);
    }
    void Open(const QString& path) {
        NextFile = path.toStdString();
        Window->RunCommand([this] { Window->Open2Click(); });
    }

    QTemporaryDir Dir;
    std::unique_ptr<TFormMain> Window;
    std::vector<TDialogRequest> Requests;
    std::vector<QString> Filters;
    std::string NextFile;
    int Answer = 1;
};

} // namespace

TEST_F(MainFtpEditorTest, StylerByExactExtensionBackupAndBrowserLink) {
    WriteAll(Dir.filePath("unit.pas"), "begin end.\r\n");
    WriteAll(Dir.filePath("PAGE.HTML"), "<b>x</b>\r\n");
    WriteAll(Dir.filePath("notes.txt"), "plain\r\n");
    WriteAll(Dir.filePath("index.php"), "<?php echo 1; ?>\r\n");
    WriteAll(Dir.filePath("App.java"), "class A {}\r\n");

    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->WebMemoStyler1.get());
    Open(Dir.filePath("unit.pas"));
    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->PascalMemoStyler1.get());
    EXPECT_EQ(Window->PageControlMain->currentIndex(), 1);
    EXPECT_EQ(Window->windowTitle(), "Varnello v1.2[unit.pas]");
    EXPECT_TRUE(Window->FEditModified); // the load ends by placing the caret
    EXPECT_EQ(ReadAll(Dir.filePath("unit.pas_bak")), "begin end.\r\n");

    // Upper-case and unknown extensions keep the previous styler and set no link.
    Answer = 1;
    Open(Dir.filePath("PAGE.HTML"));
    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->PascalMemoStyler1.get());
    EXPECT_TRUE(Window->LabelURL->text().isEmpty());
    Open(Dir.filePath("notes.txt"));
    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->PascalMemoStyler1.get());
    EXPECT_EQ(Window->CodeMemoMain->Text(), "plain\r\n");

    Open(Dir.filePath("App.java"));
    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->JavaMemoStyler1.get());

    Open(Dir.filePath("index.php"));
    EXPECT_EQ(Window->CodeMemoMain->SyntaxStyles(), Window->WebMemoStyler1.get());
    EXPECT_EQ(Window->LabelURL->text(), "file://" + Dir.filePath("index.php"));
    EXPECT_EQ(Window->urlLabel->Address, "file://" + Dir.filePath("index.php"));
    EXPECT_EQ(Window->FEditFileName, Dir.filePath("index.php").toStdString());

    // The backup holds the file as it was on disk, not the edits made since.
    Window->CodeMemoMain->InsertText("// edited\n");
    Window->RunCommand([this] { Window->Save2Click(); });
    EXPECT_EQ(ReadAll(Dir.filePath("index.php_bak")), "<?php echo 1; ?>\r\n");
    EXPECT_EQ(ReadAll(Dir.filePath("index.php")), "// edited\r\n<?php echo 1; ?>\r\n");
    EXPECT_FALSE(Window->FEditModified);
}

TEST_F(MainFtpEditorTest, DiscardAndQuitPrompts) {
    WriteAll(Dir.filePath("a.html"), "a\r\n");
    WriteAll(Dir.filePath("b.html"), "b\r\n");
    Open(Dir.filePath("a.html"));
    EXPECT_TRUE(Requests.empty());
    // Open again: asked even though nothing was typed; "No" keeps the document.
    Answer = 2;
    Open(Dir.filePath("b.html"));
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_EQ(
        Requests[0].Text,
        "The file that you are editing has not been saved. Are you sure you want to discard the changes?");
    EXPECT_EQ(Window->CodeMemoMain->Text(), "a\r\n");
    Answer = 1;
    Open(Dir.filePath("b.html"));
    EXPECT_EQ(Window->CodeMemoMain->Text(), "b\r\n");

    // Cancelling the file dialog changes nothing.
    Requests.clear();
    NextFile.clear();
    Window->RunCommand([this] { Window->Open2Click(); });
    EXPECT_EQ(Window->FEditFileName, Dir.filePath("b.html").toStdString());

    // A missing file reports the editor's text.
    Requests.clear();
    Window->FEditModified = false;
    Open(Dir.filePath("missing.html"));
    ASSERT_EQ(Requests.size(), 1u);
    EXPECT_TRUE(Requests[0].Text.startsWith("Cannot open file")) << Requests[0].Text.toStdString();

    Requests.clear();
    Window->FEditModified = true;
    Answer = 2;
    EXPECT_FALSE(Window->close());
    EXPECT_EQ(Requests.size(), 1u);
}

TEST_F(MainFtpEditorTest, FiltersAndMenuEntriesFollowThePage) {
    EXPECT_EQ(Window->FDialogDefaultExt, "vrnl");
    EXPECT_TRUE(Window->mnuFTPConfiguration->isEnabled());
    EXPECT_FALSE(Window->mnuFiletoedit->isEnabled());
    Window->PageControlMain->setCurrentIndex(1);
    EXPECT_EQ(Window->FDialogDefaultExt, "html");
    EXPECT_TRUE(Window->FDialogFilter.startsWith("HTML|*.htm;*.html|PHP|*.php"));
    EXPECT_FALSE(Window->mnuSaveFTPConfiguration->isEnabled());
    EXPECT_TRUE(Window->mnuSaveEditedFile->isEnabled());
    Window->mnuFiletoedit->trigger(); // cancelled dialog
    Window->PageControlMain->setCurrentIndex(0);
    EXPECT_EQ(Window->FDialogFilter, "Varnello (*.vrnl)|*.vrnl|All File(s) (*.*)|*.*");
    Window->mnuFTPConfiguration->trigger();
    ASSERT_EQ(Filters.size(), 2u);
    EXPECT_TRUE(Filters[0].endsWith("#html"));
    EXPECT_TRUE(Filters[1].endsWith("#vrnl"));
}

TEST_F(MainFtpEditorTest, ProfilesRoundTripAndReopenFromRecentMenu) {
    // Save with neither a document nor a profile name asks for a name instead.
    Window->FTPEdit->setText("ftp.example.org");
    Window->LogonEdit->setText("web");
    Window->PassEdit->setText("pw");
    Window->FTPDirEdit->setText("/htdocs");
    Window->LocalDirEdit->setText("");
    NextFile = Dir.filePath("site.vrnl").toStdString();
    Window->RunCommand([this] { Window->Save2Click(); });
    EXPECT_EQ(ReadAll(Dir.filePath("site.vrnl")), "ftp.example.org\r\nweb\r\npw\r\n/htdocs\r\n\r\n");
    EXPECT_EQ(Window->FProfileFileName, NextFile);

    // The recent entry reopens the profile and switches to the FTP page.
    Window->FTPEdit->setText("changed");
    Window->PageControlMain->setCurrentIndex(1);
    QAction* entry = nullptr;
    for (QAction* a : Window->File1->actions())
        if (a->text().contains("site.vrnl")) entry = a;
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    EXPECT_EQ(Window->FTPEdit->text(), "ftp.example.org");
    EXPECT_EQ(Window->PageControlMain->currentIndex(), 0);
    EXPECT_EQ(Window->windowTitle(), "Varnello v1.2[site.vrnl]");
    EXPECT_FALSE(Window->FEditModified);

    // A short profile fills what it has and reports the missing line.
    WriteAll(Dir.filePath("short.vrnl"), "h\nu\n");
    Window->PageControlMain->setCurrentIndex(1);
    Open(Dir.filePath("short.vrnl"));
    ASSERT_FALSE(Requests.empty());
    EXPECT_EQ(Requests.back().Text, "List index out of bounds (2)"); // ")" sorts before "."
    EXPECT_EQ(Window->LogonEdit->text(), "u");
    EXPECT_EQ(Window->PageControlMain->currentIndex(), 1);

    // Closing the window keeps the recent list for the next run.
    Window->FEditModified = false;
    EXPECT_TRUE(Window->close());
    const std::string ini = ReadAll(Dir.filePath("recent.INI"));
    EXPECT_NE(ini.find("[MRU_Files_FormMain]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("site.vrnl"), std::string::npos) << ini;
    const QFileInfo program(QCoreApplication::applicationFilePath());
    EXPECT_FALSE(QFileInfo::exists(program.absolutePath() + "/" + program.completeBaseName() + ".INI"));
}

// The shared widget-test main gives the run a home of its own; the window's settings, the trash
// and caches must never reach the user's real folders.
TEST(WidgetTestHome, UserFoldersLieInATemporaryHome) {
    const QString home = QDir::homePath();
    EXPECT_TRUE(home.startsWith(QDir::tempPath() + "/")) << home.toStdString();
    if (const passwd* user = getpwuid(getuid())) {
        EXPECT_NE(QDir(home).canonicalPath(), QDir(QString::fromLocal8Bit(user->pw_dir)).canonicalPath());
    }
    for (const auto location : {QStandardPaths::ConfigLocation, QStandardPaths::GenericDataLocation,
                                QStandardPaths::CacheLocation, QStandardPaths::RuntimeLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        EXPECT_TRUE(path.startsWith(home + "/")) << path.toStdString();
    }
    QSettings settings;
    EXPECT_TRUE(settings.fileName().startsWith(home + "/")) << settings.fileName().toStdString();
}

TEST_F(MainFtpEditorTest, SnippetTableLoadsAndInsertsAsOneUndoStep) {
    ASSERT_GE(Window->StringGridScut->rowCount(), 15); // at least 15 PHP snippets below the header
    EXPECT_EQ(Window->ComboBoxShortcuts->currentText(), "PHP");
    const QString snippet = Window->StringGridScut->item(2, 1)->text(); // grid row 3
    Window->PageControlMain->setCurrentIndex(1);
    Window->FEditModified = false;
    const std::string before = Window->CodeMemoMain->Text();
    Window->StringGridScutDblClickCell(3, 0);
    EXPECT_TRUE(Window->FEditModified);
    EXPECT_NE(Window->CodeMemoMain->Text().find(snippet.toStdString()), std::string::npos);
    Window->CodeMemoMain->Model().Undo();
    EXPECT_EQ(Window->CodeMemoMain->Text(), before);

    // JavaScript and Perl have tables of their own, chosen with the keyboard as a user would.
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    QApplication::setActiveWindow(Window.get());
    Window->ComboBoxShortcuts->setFocus();
    auto choose = [this](const QString& language) {
        while (Window->ComboBoxShortcuts->currentText() != language &&
               Window->ComboBoxShortcuts->currentIndex() + 1 < Window->ComboBoxShortcuts->count())
            QTest::keyClick(Window->ComboBoxShortcuts, Qt::Key_Down);
        ASSERT_EQ(Window->ComboBoxShortcuts->currentText(), language);
    };
    auto cells = [this](int column) {
        QStringList out;
        for (int r = 0; r < Window->StringGridScut->rowCount(); ++r)
            out << (Window->StringGridScut->item(r, column) ? Window->StringGridScut->item(r, column)->text()
                                                            : "");
        return out;
    };
    choose("JavaScript");
    EXPECT_GE(Window->StringGridScut->rowCount(), 15);
    EXPECT_TRUE(cells(1).contains("console.log(value);")) << cells(1).join("|").toStdString();
    choose("Perl");
    EXPECT_GE(Window->StringGridScut->rowCount(), 15);
    EXPECT_TRUE(cells(1).contains("print \"$value\\n\";")) << cells(1).join("|").toStdString();
    EXPECT_TRUE(Requests.empty()); // both files were found beside the program
}

TEST_F(MainFtpEditorTest, SaveAsOnTheEditorPageWritesTheDocumentUnderTheChosenName) {
    ShowEditor();
    Window->FTPEdit->setText("ftp.example.org");
    Window->PassEdit->setText("secret");
    QTest::keyClicks(Window->CodeMemoMain, "<html>");
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_Return);
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_Tab);
    QTest::keyClicks(Window->CodeMemoMain, "<?php echo 1; ?>");
    ASSERT_TRUE(Window->FEditModified);

    // Cancelled: nothing written, the text still counts as unsaved.
    NextFile.clear();
    Keys(QKeySequence("Ctrl+Alt+S"));
    ASSERT_EQ(Filters.size(), 1u);
    EXPECT_TRUE(Filters[0].startsWith("HTML|") && Filters[0].endsWith("#html")) << Filters[0].toStdString();
    EXPECT_TRUE(Window->FEditModified);
    EXPECT_TRUE(Window->FEditFileName.empty());

    const QString page = Dir.filePath("new.php");
    NextFile = page.toStdString();
    Keys(QKeySequence("Ctrl+Alt+S"));
    EXPECT_EQ(ReadAll(page), "<html>\n\t<?php echo 1; ?>\n"); // the page, not a profile
    EXPECT_EQ(Window->FEditFileName, page.toStdString());
    EXPECT_FALSE(Window->FEditModified);
    EXPECT_EQ(Window->windowTitle(), "Varnello v1.2[new.php]");
    EXPECT_EQ(Window->LabelURL->text(), "file://" + page);
    EXPECT_TRUE(Window->FProfileFileName.empty());

    // With a document open Save As still saves it, under the new name; Ctrl+S then writes there.
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(Window->CodeMemoMain, "!");
    const QString other = Dir.filePath("other.html");
    NextFile = other.toStdString();
    Keys(QKeySequence("Ctrl+Alt+S"));
    EXPECT_EQ(ReadAll(other), "<html>\n\t<?php echo 1; ?>!\n");
    EXPECT_EQ(ReadAll(page), "<html>\n\t<?php echo 1; ?>\n");
    EXPECT_EQ(Window->FEditFileName, other.toStdString());
    QTest::keyClicks(Window->CodeMemoMain, "?");
    NextFile.clear();
    Keys(QKeySequence("Ctrl+S"));
    EXPECT_EQ(ReadAll(other), "<html>\n\t<?php echo 1; ?>!?\n");
    EXPECT_FALSE(Window->FEditModified);
}

TEST_F(MainFtpEditorTest, SaveAsOnTheFtpPageAndTheSaveDropDownEntries) {
    ShowEditor();
    QTest::keyClicks(Window->CodeMemoMain, "typed");
    Window->PageControlMain->setCurrentIndex(0);
    Window->FTPEdit->setText("ftp.example.org");
    Window->LogonEdit->setText("web");
    Window->PassEdit->setText("pw");
    Window->FTPDirEdit->setText("/htdocs");
    Window->LocalDirEdit->setText("/srv");
    const std::string profile = "ftp.example.org\r\nweb\r\npw\r\n/htdocs\r\n/srv\r\n";

    // The FTP page's Save As writes a profile; the unsaved document keeps its flag.
    const QString site = Dir.filePath("site.vrnl");
    NextFile = site.toStdString();
    Window->SaveAs2->trigger();
    EXPECT_EQ(ReadAll(site), profile);
    EXPECT_TRUE(Filters.back().endsWith("#vrnl"));
    EXPECT_TRUE(Window->FEditModified);

    // "Save FTP Configuration..." writes the known profile without asking ...
    Filters.clear();
    Window->PassEdit->setText("new");
    Window->mnuSaveFTPConfiguration->trigger();
    EXPECT_TRUE(Filters.empty());
    EXPECT_EQ(ReadAll(site), "ftp.example.org\r\nweb\r\nnew\r\n/htdocs\r\n/srv\r\n");
    EXPECT_TRUE(Window->FEditModified);

    // ... and "Save Edited File..." the document, asking for its first name.
    Window->PageControlMain->setCurrentIndex(1);
    const QString doc = Dir.filePath("typed.html");
    NextFile = doc.toStdString();
    Window->mnuSaveEditedFile->trigger();
    EXPECT_EQ(ReadAll(doc), "typed\n");
    EXPECT_FALSE(Window->FEditModified);
    EXPECT_EQ(ReadAll(site), "ftp.example.org\r\nweb\r\nnew\r\n/htdocs\r\n/srv\r\n");
}

TEST_F(MainFtpEditorTest, SaveAfterAFailedOpenDoesNotWriteOverTheUnreadFile) {
    WriteAll(Dir.filePath("a.html"), "a\r\n");
    Open(Dir.filePath("a.html"));
    // Too large to read: a sparse file costs no disk.
    const QString big = Dir.filePath("big.html");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(300) << 20));
    }
    Requests.clear();
    Answer = 1;
    Open(big);
    ASSERT_FALSE(Requests.empty());
    EXPECT_TRUE(Requests.back().Text.startsWith("Cannot open file")) << Requests.back().Text.toStdString();
    Window->RunCommand([this] { Window->Save2Click(); });
    EXPECT_EQ(QFileInfo(big).size(), qint64(300) << 20);
    EXPECT_EQ(Window->FEditFileName, Dir.filePath("a.html").toStdString());
}

TEST_F(MainFtpEditorTest, MyBecomesMysqlOnlyInPhpCode) {
    ShowEditor();
    QTest::keyClicks(Window->CodeMemoMain, "<p>my page</p>");
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_Return);
    QTest::keyClicks(Window->CodeMemoMain, "<?php my");
    QTest::keyClick(Window->CodeMemoMain, Qt::Key_Return);
    QTest::keyClicks(Window->CodeMemoMain, "?> my ");
    EXPECT_EQ(Window->CodeMemoMain->Text(), "<p>my page</p>\r\n<?php mysql_\r\n?> my \r\n");
}

TEST_F(MainFtpEditorTest, ClosingAfterHelpKeepsOnlyTheConnectionFieldsAndTheLanguage) {
    ShowEditor();
    Window->FTPEdit->setFocus();
    QTest::keyClick(Window->FTPEdit, Qt::Key_F1);
    ASSERT_TRUE(Window->HelpWindow->isVisible());
    ASSERT_TRUE(Requests.empty());
    Window->FEditModified = false;
    ASSERT_TRUE(Window->close());
    QSettings s(TFormSettings::StorageFile, QSettings::IniFormat);
    s.beginGroup("Software/Varnello/FormMain/Values");
    QStringList keys = s.childKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"CBSSH1", "CBSSH2", "ComboBoxShortcuts", "EditPrivKey", "EncryptionBox",
                                 "FTPDirEdit", "FTPEdit", "LocalDirEdit", "LogonEdit", "PassEdit"}));
}

TEST_F(MainFtpEditorTest, SnippetTableHeaderIsFixedAndDoubleClicksBelowTheRowsInsertItsSecondField) {
    ShowEditor();
    QTableWidget* grid = Window->StringGridScut;
    Window->ToolPanelTab1->setCurrentIndex(0);
    // The header names the columns; the first data row is the first snippet, not the header.
    ASSERT_NE(grid->horizontalHeaderItem(1), nullptr);
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "Shortcut");
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Code");
    EXPECT_EQ(grid->item(0, 0)->text(), "PHP block");
    EXPECT_TRUE(grid->horizontalHeader()->isVisible());
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    QAccessibleInterface* headerCell = table->tableInterface()->cellAt(0, 1);
    ASSERT_NE(headerCell, nullptr);
    ASSERT_NE(headerCell->tableCellInterface(), nullptr);
    const QList<QAccessibleInterface*> columnHeader = headerCell->tableCellInterface()->columnHeaderCells();
    ASSERT_EQ(columnHeader.size(), 1);
    EXPECT_EQ(columnHeader[0]->text(QAccessible::Name), "Code");

    // A real double-click on a row inserts its snippet ...
    grid->setRowCount(3); // room below the rows
    QApplication::processEvents();
    const QString snippet = grid->item(1, 1)->text();
    // A user's double-click is a click followed by the double-click event.
    const QPoint row = grid->visualItemRect(grid->item(1, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, row);
    EXPECT_EQ(Window->CodeMemoMain->Text(), snippet.toStdString() + "\r\n");

    // ... and one on the empty area below the last row inserts the header's second field.
    Window->CodeMemoMain->SetText("");
    const QRect last = grid->visualItemRect(grid->item(2, 0));
    ASSERT_LT(last.bottom() + 10, grid->viewport()->height());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 10));
    EXPECT_EQ(Window->CodeMemoMain->Text(), "Code\r\n");
    EXPECT_TRUE(Requests.empty());

    QAccessibleInterface* language = QAccessible::queryAccessibleInterface(Window->ComboBoxShortcuts);
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(language->text(QAccessible::Name), "Snippet language");
    EXPECT_EQ(language->text(QAccessible::Value), "PHP");
}
