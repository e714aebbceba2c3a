#include "app/Theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString LoadTheme(const QString& fileName) {
    const QStringList candidates{QFileInfo(fileName).absoluteFilePath(),
                                 QDir(QCoreApplication::applicationDirPath()).filePath(fileName)};
    for (const QString& path : candidates) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        qApp->setStyleSheet(QString::fromUtf8(f.readAll()));
        return path;
    }
    return QString();
}
