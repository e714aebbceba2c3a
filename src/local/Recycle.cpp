// The trash move through Qt, which implements the freedesktop trash (info file + files/).
#include "local/Recycle.h"

#include "VarnelloError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <exception>

bool RecycleFile(const std::string& path, bool confirm) {
    (void)confirm; // the trash asks nothing; callers that want a question ask it themselves
    try {
        const QString p = QString::fromStdString(path);
        if (!QFile::exists(p) && !QFileInfo(p).isSymLink()) return false;
        // Qt falls back to a trash relative to the current folder when the user's data folder
        // does not exist yet; making the home trash first keeps files from landing there.
        const QString trash =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
        if (!QDir().mkpath(trash + "/files") || !QDir().mkpath(trash + "/info")) return false;
        return QFile::moveToTrash(p);
    } catch (const std::exception& e) {
        throw EVarnelloError("Tried to recycle file: " + path + "\r\n" + e.what());
    }
}
