// Lists a server folder into the main window's server list, the way the Connect command and a
// double-click do it, and prints "<best seconds> <entries>". Arguments: host[:port] user
// password folder.
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "conveniences/Tips.h"
#include "settings/FormSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

namespace {
// Any message means the listing failed; it is printed instead of shown.
class TBenchPrompts : public TSystemPrompts {
public:
    TBenchPrompts(QString ini, bool& failed) : FIni(std::move(ini)), FFailed(failed) {}
    int Ask(QWidget*, TDialogRequest& r) override {
        std::fprintf(stderr, "%s\n", r.Text.toUtf8().constData());
        FFailed = true;
        return 1;
    }
    QString RecentIniFile() const override { return FIni; }

private:
    QString FIni;
    bool& FFailed;
};
} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s host[:port] user password folder\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Varnello");
    QTemporaryDir dir;
    TFormSettings::StorageFile = dir.filePath("settings.ini");
    bool failed = false;
    TFormMain form(nullptr, std::make_unique<TBenchPrompts>(dir.filePath("recent.INI"), failed));
    form.Tips1->ShowOnStartup = false;
    form.FTPEdit->setText(argv[1]);
    form.LogonEdit->setText(argv[2]);
    form.PassEdit->setText(argv[3]);
    form.FTPDirEdit->setText(argv[4]);
    form.LocalDirEdit->clear();
    form.show();
    form.RunCommand([&] { form.ConnectButClick(); });
    if (failed) return 1;
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        form.RunCommand([&] { form.ListHostDirectory(); });
        QCoreApplication::processEvents(); // the list paints once, as it would on screen
        best = std::min(best, t.nsecsElapsed() / 1e9);
    }
    if (failed) return 1;
    std::printf("%.4f %d\n", best, form.FTPList->topLevelItemCount());
    return 0;
}
