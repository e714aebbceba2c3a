// Times one download or upload the way the window runs it: a TFTPThread on the window's
// connection, every status line handed to the GUI thread and written into a label there.
//   bench_ftp_thread get|put host:port user password remote local
// With VARNELLO_BENCH_TLS=1 in the environment the connection requires explicit TLS and
// accepts the server's certificate, as a user answering "Trust once" would.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ftp/FTPThread.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 7) {
        std::fprintf(stderr, "usage: bench_ftp_thread get|put host user password remote local\n");
        return 2;
    }
    QLabel statusPanel; // stands in for the window's status panel 0
    QElapsedTimer timer;
    timer.start();
    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (const char* tls = std::getenv("VARNELLO_BENCH_TLS"); tls && *tls == '1') {
        const DWORD mode = FTP_TLS_EXPLICIT_REQUIRED;
        InternetSetOption(internet, INTERNET_OPTION_FTP_TLS, &mode, sizeof mode);
        FtpSetCertificateCallback(
            internet, [](const TFtpCertificateInfo*, void*) -> BOOL { return 1; }, nullptr);
    }
    HINTERNET connection = InternetConnect(internet, argv[2], INTERNET_DEFAULT_FTP_PORT, argv[3], argv[4],
                                           INTERNET_SERVICE_FTP, 0, 0);
    if (!connection) {
        std::fprintf(stderr, "connect failed: %u\n", GetLastError());
        return 1;
    }
    long long lines = 0;
    QString error;
    auto* worker = new TFTPThread;
    worker->Connection = connection;
    worker->Receiving = std::string(argv[1]) == "get";
    worker->RemoteFile = argv[5];
    worker->LocalFile = argv[6];
    worker->Resumable = true; // as the queue runs every transfer
    worker->OnStatus = [&](QObject*, const QString& text) {
        statusPanel.setText(text);
        ++lines;
    };
    worker->OnTerminate = [&](QObject* sender) {
        error = static_cast<TFTPThread*>(sender)->ErrorText;
        QCoreApplication::quit();
    };
    worker->start();
    app.exec();
    double seconds = timer.nsecsElapsed() / 1e9;
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "transfer failed: %s\n", error.toStdString().c_str());
        return 1;
    }
    std::printf("%.6f %lld\n", seconds, lines);
    return 0;
}
