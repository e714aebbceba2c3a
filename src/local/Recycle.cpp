// The trash move through Qt, which implements the freedesktop trash (info file + files/).
#include "local/Recycle.h"

#include "VarnelloError.h"

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <exception>

bool RecycleFile(const std::string& path, bool confirm) {
    (void)confirm; // the trash asks nothing; callers that want a question ask it themselves
    try {
        const QString p = QString::fromStdString(path);
        if (!QFile::exists(p) && !QFileInfo(p).isSymLink()) return false;
        return QFile::moveToTrash(p);
    } catch (const std::exception& e) {
        throw EVarnelloError("Tried to recycle file: " + path + "\r\n" + e.what());
    }
}
