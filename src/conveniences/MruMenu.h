// TMruMenu: the recent-files list of the main window (its MruMenu1). It keeps the paths of the
// connection profiles last read or written, newest first, stores them in an INI file between runs
// and shows them as numbered entries at the end of a menu, raising OnSelectFile when one is picked.
//
// The list rules are plain functions over a QStringList, so they are tested without a menu or a
// file. The INI file lies beside the program when that folder is writable, else in the user's
// config folder; tests and the window may name the file themselves (SetIniFileName).
//
// Storage: section "MRU_Files_" + the owner's name, keys "Count" and "File_0" ... "File_<Count-1>".
// Keys beyond Count written by an earlier, longer list stay in the file and are ignored.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QAction;
class QMenu;

class TIniFile;

enum TMruLocation { ml_ExeDirectory, ml_WindowsDirectory, ml_CurrentDirectory };

// A hand-edited Count larger than this loads this many entries; it keeps a stray number from
// filling memory with empty entries.
inline constexpr int MruMaxLoadedFiles = 1024;

// Puts path at the top of files, removing an entry that differs only in letter case, and trims the
// list to numFiles entries (a list longer than that from the INI file shrinks here).
void MruAddFile(QStringList& files, const QString& path, int numFiles);

// The list stored in section of ini: Count entries (at most MruMaxLoadedFiles), an absent key
// giving an empty entry.
QStringList MruLoadList(const TIniFile& ini, const QString& section);

// Writes Count and File_0 ... File_<n-1>. Throws EVarnelloError "Unable to write to <file>" at the
// first key that cannot be written; the keys after it are not written.
void MruSaveList(TIniFile& ini, const QString& section, const QStringList& files);

// The INI file for a location: for ml_ExeDirectory <exeDir>/<exeBaseName>.INI when exeDir is a
// writable folder, else the same name in configDir; for ml_WindowsDirectory (no such folder here)
// the name in configDir; for ml_CurrentDirectory the bare name, relative to the current folder.
QString MruIniFileName(TMruLocation location, const QString& exeDir, const QString& exeBaseName,
                       const QString& configDir);

// The caption of entry index: "&" + (index + 1) + " " + the path or its file name, with the
// ampersands of the name doubled so that they show as written.
QString MruCaption(int index, const QString& path, bool showPath);

class TMruMenu : public QObject {
public:
    // ownerName names the INI section; when empty, the owner's objectName() is taken (the main
    // window's, "FormMain").
    explicit TMruMenu(QObject* owner, const QString& ownerName = QString());
    // Saves the list when it changed since the last Save; a failure is only logged here, as a
    // destructor cannot raise. Call Save() while closing to have the failure shown.
    ~TMruMenu() override;

    // Adds path as the newest entry (see MruAddFile) and rebuilds the menu entries.
    void AddFile(const QString& path);

    // Reads the list from the INI file (errors leave what was read) and rebuilds the menu entries.
    // The window calls it once its properties are set.
    void Load();
    // Writes the list. Throws EVarnelloError "Unable to write to <file>".
    void Save();

    const QStringList& Files() const { return FFiles; }
    QString Section() const { return "MRU_Files_" + FOwnerName; }
    // The INI file in use: the one set by SetIniFileName, else the one MruLocation gives for this
    // program.
    QString IniFileName() const;
    void SetIniFileName(const QString& fileName) { FIniFileName = fileName; }

    // The menu whose end receives the entries (the window's File menu); none by default.
    QMenu* ParentMenu() const { return FParentMenu; }
    void SetParentMenu(QMenu* menu);
    int NumFiles() const { return FNumFiles; }
    void SetNumFiles(int numFiles) { FNumFiles = numFiles; }
    bool ShowPath() const { return FShowPath; }
    void SetShowPath(bool showPath);
    TMruLocation MruLocation() const { return FMruLocation; }
    void SetMruLocation(TMruLocation location) { FMruLocation = location; }

    // The separator and entries currently shown, in menu order.
    const std::vector<QAction*>& MenuActions() const { return FActions; }

    // Raised when the user picks an entry, with its path; the entry then moves to the top. It runs
    // inside the menu's signal, so it must not let an exception escape (the window runs its
    // commands through its guard). Without it, picking an entry does nothing.
    std::function<void(TMruMenu* sender, const QString& fileName)> OnSelectFile;

private:
    void RebuildMenu();
    void ClearMenu();
    void EntryClicked(int index);

    QString FOwnerName;
    QStringList FFiles;
    QPointer<QMenu> FParentMenu;
    std::vector<QAction*> FActions;
    int FNumFiles = 4;
    bool FShowPath = false;
    TMruLocation FMruLocation = ml_ExeDirectory;
    QString FIniFileName;
    bool FChanged = false;
};
