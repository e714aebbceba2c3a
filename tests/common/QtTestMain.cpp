// Entry point of the widget tests: one QApplication (offscreen platform) for the whole run,
// then GoogleTest. Real key and mouse events need a live application object.
//
// The run gets a home of its own: settings, the trash, caches and runtime files all land in a
// temporary folder that is removed at exit, so no test reads or changes the user's own.
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

bool PointUserFoldersAt(const QTemporaryDir& home) {
    if (!home.isValid()) return false;
    const QDir root(home.path());
    const struct {
        const char* Variable;
        const char* Folder;
    } folders[] = {
        {"XDG_CONFIG_HOME", ".config"},     {"XDG_DATA_HOME", ".local/share"}, {"XDG_CACHE_HOME", ".cache"},
        {"XDG_STATE_HOME", ".local/state"}, {"XDG_RUNTIME_DIR", "runtime"},
    };
    if (!qputenv("HOME", QFile::encodeName(home.path()))) return false;
    for (const auto& f : folders) {
        const QString path = root.filePath(f.Folder);
        if (!root.mkpath(f.Folder)) return false;
        if (!qputenv(f.Variable, QFile::encodeName(path))) return false;
    }
    // Qt insists on a runtime folder only its owner can enter.
    return QFile::setPermissions(root.filePath("runtime"),
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Made before the application object so that nothing reads the real folders first.
    QTemporaryDir home(QDir::tempPath() + "/varnello-test-home-XXXXXX");
    if (!PointUserFoldersAt(home)) {
        std::fprintf(stderr, "cannot set up a temporary home folder for the tests\n");
        return 1;
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
