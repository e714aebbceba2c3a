// Recent-files list with its INI storage and menu entries. See MruMenu.h.
#include "conveniences/MruMenu.h"

#include "VarnelloError.h"
#include "conveniences/IniFile.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>
#include <QtGlobal>
#include <algorithm>

namespace {

std::string Utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

} // namespace

void MruAddFile(QStringList& files, const QString& path, int numFiles) {
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (files[i].compare(path, Qt::CaseInsensitive) == 0) {
            files.removeAt(i);
            break; // the list never holds two spellings of one path
        }
    }
    files.prepend(path);
    while (files.size() > std::max(numFiles, 0)) files.removeLast();
}

QStringList MruLoadList(const TIniFile& ini, const QString& section) {
    const std::string sectionName = Utf8(section);
    int count = std::min(ini.ReadInteger(sectionName, "Count", 0), MruMaxLoadedFiles);
    QStringList files;
    for (int i = 0; i < count; ++i)
        files.append(QString::fromStdString(ini.ReadString(sectionName, "File_" + std::to_string(i), "")));
    return files;
}

void MruSaveList(TIniFile& ini, const QString& section, const QStringList& files) {
    const std::string sectionName = Utf8(section);
    auto fail = [&] { throw EVarnelloError("Unable to write to " + ini.FileName()); };
    if (!ini.WriteInteger(sectionName, "Count", static_cast<int>(files.size()))) fail();
    for (qsizetype i = 0; i < files.size(); ++i)
        if (!ini.WriteString(sectionName, "File_" + std::to_string(i), Utf8(files[i]))) fail();
}

QString MruIniFileName(TMruLocation location, const QString& exeDir, const QString& exeBaseName,
                       const QString& configDir) {
    const QString name = exeBaseName + ".INI";
    switch (location) {
    case ml_ExeDirectory: {
        QFileInfo dir(exeDir);
        if (!exeDir.isEmpty() && dir.isDir() && dir.isWritable()) return QDir(exeDir).filePath(name);
        return QDir(configDir).filePath(name);
    }
    case ml_WindowsDirectory:
        return QDir(configDir).filePath(name);
    case ml_CurrentDirectory:
        return name;
    }
    return name;
}

QString MruCaption(int index, const QString& path, bool showPath) {
    QString shown = showPath ? path : QFileInfo(path).fileName();
    return "&" + QString::number(index + 1) + " " + shown.replace("&", "&&");
}

TMruMenu::TMruMenu(QObject* owner, const QString& ownerName)
    : QObject(owner), FOwnerName(!ownerName.isEmpty() ? ownerName
                                 : owner              ? owner->objectName()
                                                      : QString()) {}

TMruMenu::~TMruMenu() {
    if (FChanged) {
        try {
            Save();
        } catch (const EVarnelloError& e) {
            qWarning("%s", e.what());
        }
    }
    ClearMenu();
}

QString TMruMenu::IniFileName() const {
    if (!FIniFileName.isEmpty()) return FIniFileName;
    QFileInfo program(QCoreApplication::applicationFilePath());
    return MruIniFileName(FMruLocation, QCoreApplication::applicationDirPath(), program.completeBaseName(),
                          QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

void TMruMenu::AddFile(const QString& path) {
    MruAddFile(FFiles, path, FNumFiles);
    FChanged = true;
    RebuildMenu();
}

void TMruMenu::Load() {
    TIniFile ini(Utf8(IniFileName()));
    FFiles = MruLoadList(ini, Section());
    FChanged = false;
    RebuildMenu();
}

void TMruMenu::Save() {
    QString fileName = IniFileName();
    QString folder = QFileInfo(fileName).path();
    if (!folder.isEmpty()) QDir().mkpath(folder); // the config folder may not exist yet
    TIniFile ini(Utf8(fileName));
    MruSaveList(ini, Section(), FFiles);
    FChanged = false;
}

void TMruMenu::SetParentMenu(QMenu* menu) {
    ClearMenu();
    FParentMenu = menu;
    RebuildMenu();
}

void TMruMenu::SetShowPath(bool showPath) {
    FShowPath = showPath;
    RebuildMenu();
}

void TMruMenu::ClearMenu() {
    if (FParentMenu) {
        for (QAction* action : FActions) {
            FParentMenu->removeAction(action);
            // Later, not now: the entry being clicked is still inside its triggered signal.
            action->deleteLater();
        }
    }
    FActions.clear();
}

void TMruMenu::RebuildMenu() {
    ClearMenu();
    if (!FParentMenu || FFiles.isEmpty()) return;
    FActions.push_back(FParentMenu->addSeparator());
    for (int i = 0; i < FFiles.size(); ++i) {
        QAction* action = FParentMenu->addAction(MruCaption(i, FFiles[i], FShowPath));
        connect(action, &QAction::triggered, this, [this, i] { EntryClicked(i); });
        FActions.push_back(action);
    }
}

void TMruMenu::EntryClicked(int index) {
    if (!OnSelectFile || index >= FFiles.size()) return;
    const QString path = FFiles[index]; // a copy: the handler may change the list
    OnSelectFile(this, path);
    AddFile(path);
}
