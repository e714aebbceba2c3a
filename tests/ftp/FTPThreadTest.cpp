// The transfer worker against a real server: status lines on the GUI thread in order, the
// final count, failures reported through ErrorText, and the worker deleting itself.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <random>

#include "ftp/FTPThread.h"
#include "inet/FtpPeer.h"

namespace {

struct TRun {
    QStringList Lines;
    QString ErrorText;
    bool Done = false;
    bool AllOnGuiThread = true;
};

// Starts a worker and spins the event loop until its termination handler has run.
TRun RunWorker(HINTERNET connection, bool receiving, const std::string& local, const std::string& remote) {
    TRun run;
    auto* worker = new TFTPThread;
    QPointer<TFTPThread> alive(worker);
    worker->Connection = connection;
    worker->Receiving = receiving;
    worker->LocalFile = local;
    worker->RemoteFile = remote;
    QThread* gui = QThread::currentThread();
    worker->OnStatus = [&](QObject*, const QString& text) {
        run.AllOnGuiThread &= QThread::currentThread() == gui;
        run.Lines << text;
    };
    worker->OnTerminate = [&](QObject* sender) {
        run.AllOnGuiThread &= QThread::currentThread() == gui;
        run.ErrorText = static_cast<TFTPThread*>(sender)->ErrorText;
        run.Done = true;
    };
    worker->start();
    QElapsedTimer timer;
    timer.start();
    while ((!run.Done || alive) && timer.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(run.Done);
    EXPECT_TRUE(alive.isNull()) << "the worker did not delete itself";
    return run;
}

} // namespace

TEST(FTPThread, CountFormatting) {
    EXPECT_EQ(TFTPThread::FormatCount(0), "0");
    EXPECT_EQ(TFTPThread::FormatCount(999), "999");
    EXPECT_EQ(TFTPThread::FormatCount(8192), "8,192");
    EXPECT_EQ(TFTPThread::FormatCount(5368709120LL), "5,368,709,120");
}

TEST(FTPThread, TransfersReportProgressAndCompletionOnTheGuiThread) {
    TFtpPeer peer;
    std::string content(1234567, '\0');
    std::mt19937 random(1);
    for (char& c : content) c = static_cast<char>(random());
    TFtpPeer::WriteFile(peer.Root() + "/site.bin", content);

    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnect(internet, peer.HostField().c_str(), 21, TFtpPeer::User,
                                           TFtpPeer::Password, INTERNET_SERVICE_FTP, 0, 0);
    ASSERT_NE(connection, nullptr);

    TRun get = RunWorker(connection, true, peer.Local() + "/site.bin", "/site.bin");
    EXPECT_TRUE(get.AllOnGuiThread);
    EXPECT_EQ(get.ErrorText, "");
    ASSERT_GE(get.Lines.size(), 3);
    EXPECT_EQ(get.Lines.first(), "Receiving File");
    EXPECT_TRUE(get.Lines[1].startsWith("Bytes Received = ")) << get.Lines[1].toStdString();
    EXPECT_EQ(get.Lines[get.Lines.size() - 2], "Bytes Received = 1,234,567");
    EXPECT_EQ(get.Lines.last(), "Receive Complete  1,234,567 bytes");
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Local() + "/site.bin"), content);

    TRun put = RunWorker(connection, false, peer.Local() + "/site.bin", "/copy.bin");
    EXPECT_EQ(put.ErrorText, "");
    EXPECT_EQ(put.Lines.first(), "Sending File");
    EXPECT_EQ(put.Lines.last(), "Send Complete  1,234,567 bytes");
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Root() + "/copy.bin"), content);

    // A refused file: the message is the last status line and the error text, no final line.
    TRun missing = RunWorker(connection, true, peer.Local() + "/none.bin", "/none.bin");
    EXPECT_TRUE(missing.ErrorText.startsWith("Win32 Error 12003:\r\n\r\n550 "))
        << missing.ErrorText.toStdString();
    EXPECT_EQ(missing.Lines.last(), missing.ErrorText);
    EXPECT_EQ(missing.Lines.size(), 2); // "Receiving File", then the message
    EXPECT_FALSE(std::filesystem::exists(peer.Local() + "/none.bin"));

    InternetCloseHandle(connection);
    InternetCloseHandle(internet);

    // Without a connection the worker opens its own, with the empty fields the window leaves.
    TRun own = RunWorker(nullptr, true, peer.Local() + "/x.bin", "/site.bin");
    EXPECT_EQ(own.Lines.mid(0, 2), (QStringList{"Initializing Internet Functions", "Connecting to Host"}));
    EXPECT_EQ(own.ErrorText, "INTERNET_NAME_NOT_RESOLVED ");
}

TEST(FTPThread, DeletedWhileRunningNeitherHangsNorReportsToItsOwner) {
    TFtpPeer peer;
    TFtpPeer::WriteFile(peer.Root() + "/big.bin", std::string(32 << 20, 'z'));
    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnect(internet, peer.HostField().c_str(), 21, TFtpPeer::User,
                                           TFtpPeer::Password, INTERNET_SERVICE_FTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    auto* worker = new TFTPThread;
    worker->Connection = connection;
    worker->Receiving = true;
    worker->LocalFile = peer.Local() + "/big.bin";
    worker->RemoteFile = "/big.bin";
    int lines = 0;
    bool terminated = false;
    worker->OnStatus = [&](QObject*, const QString&) { ++lines; };
    worker->OnTerminate = [&](QObject*) { terminated = true; };
    worker->start();
    QElapsedTimer timer;
    timer.start();
    while (lines < 2 && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_GE(lines, 2);
    int seen = lines;
    delete worker; // with hand-overs pending; the transfer itself runs to its end
    EXPECT_EQ(lines, seen);
    EXPECT_FALSE(terminated);
    EXPECT_EQ(std::filesystem::file_size(peer.Local() + "/big.bin"), 32u << 20);
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
}
