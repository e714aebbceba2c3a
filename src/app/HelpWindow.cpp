#include "app/HelpWindow.h"

#include "VarnelloError.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

THelpWindow::THelpWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("HelpWindow");
    setWindowTitle("Varnello Help");
    resize(640, 560);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Browser = new QTextBrowser(this);
    Browser->setObjectName("HelpBrowser");
    Browser->setAccessibleName("Help contents");
    Browser->setOpenExternalLinks(true);
    layout->addWidget(Browser);
}

void THelpWindow::ShowContents(const QString& helpFile) {
    QFile f(helpFile);
    if (!f.open(QIODevice::ReadOnly))
        throw EVarnelloError("Cannot open the help file " + helpFile.toStdString());
    Browser->setSearchPaths({QFileInfo(helpFile).absolutePath()});
    Browser->setHtml(QString::fromUtf8(f.readAll()));
    show();
    raise();
    activateWindow();
}
