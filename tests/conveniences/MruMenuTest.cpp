// Recent-files list: the list rules, its INI storage, where the INI file goes, and the numbered
// entries at the end of the File menu.
#include "conveniences/MruMenu.h"

#include "VarnelloError.h"
#include "conveniences/IniFile.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace {

const QString Section = "MRU_Files_FormMain";

QStringList Captions(const std::vector<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << (a->isSeparator() ? "-" : a->text());
    return out;
}

} // namespace

TEST(MruMenuTest, AddingPutsThePathFirstWithoutCaseDuplicatesAndTrims) {
    QStringList files;
    for (const char* p : {"C:\\a.vrnl", "C:\\b.vrnl", "c:\\A.VRNL"}) MruAddFile(files, p, 4);
    EXPECT_EQ(files, QStringList({"c:\\A.VRNL", "C:\\b.vrnl"}));
    for (const char* p : {"/3", "/4", "/5"}) MruAddFile(files, p, 4);
    EXPECT_EQ(files, QStringList({"/5", "/4", "/3", "c:\\A.VRNL"}));

    files = {"/1", "/2", "/3", "/4", "/5", "/6"}; // as loaded from a hand-edited file
    MruAddFile(files, "/3", 4);
    EXPECT_EQ(files, QStringList({"/3", "/1", "/2", "/4"}));
}

TEST(MruMenuTest, StorageKeepsCountEntriesAndIgnoresStaleKeys) {
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("varnello.INI").toStdString());
    EXPECT_TRUE(MruLoadList(ini, Section).isEmpty()); // no file

    std::ofstream(ini.FileName()) << "[MRU_Files_FormMain]\nCount=3\nFile_0=/sites/a.vrnl\n";
    EXPECT_EQ(MruLoadList(ini, Section), QStringList({"/sites/a.vrnl", "", ""}));
    std::ofstream(ini.FileName()) << "[MRU_Files_FormMain]\nCount=2000000000\n";
    EXPECT_EQ(MruLoadList(ini, Section).size(), MruMaxLoadedFiles);

    MruSaveList(ini, Section, {"/d", "/c", "/b", "/a"});
    MruSaveList(ini, Section, {"/f", "/e"});
    EXPECT_EQ(ini.ReadString("MRU_Files_FormMain", "File_3", ""), "/a"); // stale, still there
    EXPECT_EQ(MruLoadList(ini, Section), QStringList({"/f", "/e"}));

    TIniFile blocked(ini.FileName() + "/inside.INI"); // a file where its folder should be
    try {
        MruSaveList(blocked, Section, {"/f"});
        FAIL() << "no error";
    } catch (const EVarnelloError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocked.FileName());
    }
}

TEST(MruMenuTest, IniFileLiesBesideTheProgramWhenThatFolderIsWritable) {
    QTemporaryDir exe, config;
    EXPECT_EQ(MruIniFileName(ml_ExeDirectory, exe.path(), "varnello", config.path()),
              exe.filePath("varnello.INI"));
    EXPECT_EQ(MruIniFileName(ml_ExeDirectory, exe.filePath("missing"), "varnello", config.path()),
              config.filePath("varnello.INI"));
    EXPECT_EQ(MruIniFileName(ml_CurrentDirectory, exe.path(), "varnello", config.path()), "varnello.INI");
}

TEST(MruMenuTest, EntriesAppearAtTheEndOfTheMenuAndPickingOneRaisesOnSelectFile) {
    QTemporaryDir dir;
    const QString iniName = dir.filePath("sub/varnello.INI");
    QObject owner;
    owner.setObjectName("FormMain");
    QMenu fileMenu;
    fileMenu.addAction("E&xit");

    auto* mru = new TMruMenu(&owner);
    mru->SetIniFileName(iniName);
    mru->SetParentMenu(&fileMenu);
    mru->Load();
    EXPECT_EQ(fileMenu.actions().size(), 1); // an empty list shows nothing
    mru->AddFile("/sites/b.vrnl");
    mru->AddFile("/sites/R&D.vrnl");
    EXPECT_EQ(Captions(mru->MenuActions()), QStringList({"-", "&1 R&&D.vrnl", "&2 b.vrnl"}));
    EXPECT_EQ(fileMenu.actions().mid(1),
              QList<QAction*>(mru->MenuActions().begin(), mru->MenuActions().end()));
    mru->SetShowPath(true);
    EXPECT_EQ(Captions(mru->MenuActions()), QStringList({"-", "&1 /sites/R&&D.vrnl", "&2 /sites/b.vrnl"}));

    mru->MenuActions()[2]->trigger(); // without a handler, picking does nothing
    EXPECT_EQ(mru->Files(), QStringList({"/sites/R&D.vrnl", "/sites/b.vrnl"}));

    // Picked with the mouse: raised with the path, which then moves to the top.
    QStringList picked;
    mru->OnSelectFile = [&](TMruMenu* sender, const QString& fileName) {
        EXPECT_EQ(sender, mru);
        picked << fileName;
        sender->AddFile("/sites/other.vrnl"); // the handler may change the list meanwhile
    };
    fileMenu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fileMenu));
    QTest::mouseClick(&fileMenu, Qt::LeftButton, {}, fileMenu.actionGeometry(mru->MenuActions()[2]).center());
    EXPECT_EQ(picked, QStringList({"/sites/b.vrnl"}));
    EXPECT_EQ(mru->Files(), QStringList({"/sites/b.vrnl", "/sites/other.vrnl", "/sites/R&D.vrnl"}));
    EXPECT_EQ(fileMenu.actions().size(), 5);

    // Freed, it stores the changed list (creating the missing folder) and takes its entries away.
    delete mru;
    EXPECT_EQ(fileMenu.actions().size(), 1);
    TMruMenu again(&owner);
    again.SetIniFileName(iniName);
    again.Load();
    EXPECT_EQ(again.Files(), QStringList({"/sites/b.vrnl", "/sites/other.vrnl", "/sites/R&D.vrnl"}));
}
