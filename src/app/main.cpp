// Program start: application title, the main window, the message loop.
#include "app/MainFtp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Varnello");
    QApplication::setApplicationDisplayName("Varnello");
    QApplication::setWindowIcon(QIcon(QApplication::applicationDirPath() + "/varnello.svg"));
    TFormMain form;
    form.show();
    return app.exec();
}
