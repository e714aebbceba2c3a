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

std::string ReadBytes(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QStringList Captions(const std::vector<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << (a->isSeparator() ? "-" : a->text());
    return out;
}

} // namespace

TEST(MruMenuTest, AddingPutsThePathFirstWithoutCaseDuplicatesAndTrims) {
    QStringList files;
    MruAddFile(files, "C:\\a.vrnl", 4);
    MruAddFile(files, "C:\\b.vrnl", 4);
    MruAddFile(files, "c:\\A.VRNL", 4);
    EXPECT_EQ(files, QStringList({"c:\\A.VRNL", "C:\\b.vrnl"}));

    for (const char* p : {"/3", "/4", "/5"}) MruAddFile(files, p, 4);
    EXPECT_EQ(files, QStringList({"/5", "/4", "/3", "c:\\A.VRNL"}));

    // A longer list read from a hand-edited file stays until the next addition.
    files = {"/1", "/2", "/3", "/4", "/5", "/6"};
    MruAddFile(files, "/3", 4);
    EXPECT_EQ(files, QStringList({"/3", "/1", "/2", "/4"}));
}

TEST(MruMenuTest, LoadingTakesCountEntriesWhateverKeysArePresent) {
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("varnello.INI").toStdString());
    EXPECT_TRUE(MruLoadList(ini, Section).isEmpty()); // no file

    std::ofstream(ini.FileName()) << "[MRU_Files_FormMain]\nCount=3\nFile_0=/sites/a.vrnl\n";
    EXPECT_EQ(MruLoadList(ini, Section), QStringList({"/sites/a.vrnl", "", ""}));

    std::ofstream(ini.FileName()) << "[MRU_Files_FormMain]\nCount=6\nFile_0=/1\nFile_1=/2\nFile_2=/3\n"
                                     "File_3=/4\nFile_4=/5\nFile_5=/6\n";
    EXPECT_EQ(MruLoadList(ini, Section).size(), 6);

    std::ofstream(ini.FileName()) << "[MRU_Files_FormMain]\nCount=-2\nFile_0=/1\n";
    EXPECT_TRUE(MruLoadList(ini, Section).isEmpty());
    std::ofstream(ini.FileName()) << "[MRU_Files_FormMain]\nCount=2000000000\nFile_0=/1\n";
    EXPECT_EQ(MruLoadList(ini, Section).size(), MruMaxLoadedFiles);
}

TEST(MruMenuTest, SavingAShorterListLeavesStaleKeysThatLoadingIgnores) {
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("varnello.INI").toStdString());
    MruSaveList(ini, Section, {"/d", "/c", "/b", "/a"});
    MruSaveList(ini, Section, {"/f", "/e"});
    EXPECT_EQ(ReadBytes(QString::fromStdString(ini.FileName())), "[MRU_Files_FormMain]\r\n"
                                                                 "Count=2\r\n"
                                                                 "File_0=/f\r\n"
                                                                 "File_1=/e\r\n"
                                                                 "File_2=/b\r\n"
                                                                 "File_3=/a\r\n");
    EXPECT_EQ(MruLoadList(ini, Section), QStringList({"/f", "/e"}));

    TIniFile blocked(dir.filePath("varnello.INI/inside.INI").toStdString()); // a file as its folder
    try {
        MruSaveList(blocked, Section, {"/f"});
        FAIL() << "no error";
    } catch (const EVarnelloError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocked.FileName());
    }
}

TEST(MruMenuTest, IniFileLiesBesideTheProgramWhenThatFolderIsWritable) {
    QTemporaryDir exeDir, configDir;
    EXPECT_EQ(MruIniFileName(ml_ExeDirectory, exeDir.path(), "varnello", configDir.path()),
              exeDir.filePath("varnello.INI"));
    EXPECT_EQ(MruIniFileName(ml_ExeDirectory, exeDir.filePath("missing"), "varnello", configDir.path()),
              configDir.filePath("varnello.INI"));
    EXPECT_EQ(MruIniFileName(ml_WindowsDirectory, exeDir.path(), "varnello", configDir.path()),
              configDir.filePath("varnello.INI"));
    EXPECT_EQ(MruIniFileName(ml_CurrentDirectory, exeDir.path(), "varnello", configDir.path()),
              "varnello.INI");

    // Without a file name set, the program's own name and folder are used.
    TMruMenu mru(nullptr, "FormMain");
    EXPECT_TRUE(mru.IniFileName().endsWith(
        "/" + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + ".INI"));
}

TEST(MruMenuTest, EntriesAppearAtTheEndOfTheMenuAndPickingOneRaisesOnSelectFile) {
    QTemporaryDir dir;
    const QString iniName = dir.filePath("varnello.INI");
    std::ofstream(iniName.toStdString()) << "[MRU_Files_FormMain]\r\nCount=2\r\nFile_0=/sites/b.vrnl\r\n"
                                            "File_1=/sites/R&D.vrnl\r\n";
    QObject owner;
    owner.setObjectName("FormMain");
    QMenu fileMenu;
    fileMenu.addAction("&Open...");
    fileMenu.addAction("E&xit");

    auto* mru = new TMruMenu(&owner);
    mru->SetIniFileName(iniName);
    mru->SetParentMenu(&fileMenu);
    EXPECT_EQ(fileMenu.actions().size(), 2); // nothing to show before loading
    mru->Load();
    EXPECT_EQ(Captions(mru->MenuActions()), QStringList({"-", "&1 b.vrnl", "&2 R&&D.vrnl"}));
    ASSERT_EQ(fileMenu.actions().size(), 5);
    EXPECT_EQ(fileMenu.actions()[2], mru->MenuActions()[0]);

    mru->SetShowPath(true);
    EXPECT_EQ(Captions(mru->MenuActions()), QStringList({"-", "&1 /sites/b.vrnl", "&2 /sites/R&&D.vrnl"}));

    // Without a handler, picking does nothing.
    mru->MenuActions()[2]->trigger();
    EXPECT_EQ(mru->Files(), QStringList({"/sites/b.vrnl", "/sites/R&D.vrnl"}));

    // Picked with the mouse in the open menu: raised with the path, which then moves to the top.
    QStringList picked;
    mru->OnSelectFile = [&](TMruMenu* sender, const QString& fileName) {
        EXPECT_EQ(sender, mru);
        picked << fileName;
        sender->AddFile("/sites/opened-by-handler.vrnl"); // as opening a profile does
    };
    fileMenu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fileMenu));
    QAction* second = mru->MenuActions()[2];
    QTest::mouseClick(&fileMenu, Qt::LeftButton, {}, fileMenu.actionGeometry(second).center());
    EXPECT_EQ(picked, QStringList({"/sites/R&D.vrnl"}));
    EXPECT_EQ(mru->Files(),
              QStringList({"/sites/R&D.vrnl", "/sites/opened-by-handler.vrnl", "/sites/b.vrnl"}));
    EXPECT_EQ(
        Captions(mru->MenuActions()),
        QStringList({"-", "&1 /sites/R&&D.vrnl", "&2 /sites/opened-by-handler.vrnl", "&3 /sites/b.vrnl"}));
    EXPECT_EQ(fileMenu.actions().size(), 6);

    // Freed with its owner, it stores the changed list.
    delete mru;
    EXPECT_EQ(fileMenu.actions().size(), 2);
    EXPECT_EQ(MruLoadList(TIniFile(iniName.toStdString()), Section),
              QStringList({"/sites/R&D.vrnl", "/sites/opened-by-handler.vrnl", "/sites/b.vrnl"}));
}

TEST(MruMenuTest, UnchangedListIsNotWrittenAndAnEmptyListShowsNothing) {
    QTemporaryDir dir;
    const QString iniName = dir.filePath("sub/varnello.INI");
    QMenu fileMenu;
    fileMenu.addAction("E&xit");
    {
        TMruMenu mru(nullptr, "FormMain");
        mru.SetIniFileName(iniName);
        mru.SetParentMenu(&fileMenu);
        mru.Load();
        EXPECT_TRUE(mru.MenuActions().empty());
        EXPECT_EQ(fileMenu.actions().size(), 1);
    }
    EXPECT_FALSE(QFileInfo::exists(iniName));
    {
        TMruMenu mru(nullptr, "FormMain");
        mru.SetIniFileName(iniName);
        mru.AddFile("/x.vrnl");
        mru.Save(); // creates the missing folder
    }
    EXPECT_EQ(MruLoadList(TIniFile(iniName.toStdString()), Section), QStringList({"/x.vrnl"}));
}
