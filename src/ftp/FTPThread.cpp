#include "ftp/FTPThread.h"

#include "ftp/INetUtil.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <exception>

TFTPThread::TFTPThread(QObject* parent) : QThread(parent) {}

std::string TFTPThread::FormatCount(int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

void TFTPThread::ReportStatus(const std::string& text) {
    StatusText = text;
    QObject* gui = QCoreApplication::instance();
    if (!gui || QThread::currentThread() == gui->thread()) {
        DoStatus();
        return;
    }
    QMetaObject::invokeMethod(gui, [this] { DoStatus(); }, Qt::BlockingQueuedConnection);
}

void TFTPThread::DoStatus() {
    if (OnStatus) OnStatus(this, QString::fromStdString(StatusText));
}

void TFTPThread::DoTerminate() {
    if (OnTerminate) OnTerminate(this);
}

void TFTPThread::TransferStatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD infoLength) {
    auto* self = reinterpret_cast<TFTPThread*>(context);
    if (!self) return;
    if ((status == INTERNET_STATUS_REQUEST_SENT || status == INTERNET_STATUS_RESPONSE_RECEIVED) && info &&
        infoLength >= sizeof(DWORD))
        self->BytesDone += *static_cast<const DWORD*>(info);
    self->ReportStatus(self->ProgressLabel + " = " + FormatCount(self->BytesDone));
}

void TFTPThread::Transfer() {
    HINTERNET internet = nullptr;
    HINTERNET connection = Connection;
    const bool own = connection == nullptr;
    struct TCloser {
        HINTERNET& Internet;
        HINTERNET& Connection;
        bool Own;
        ~TCloser() {
            if (Own) {
                InternetCloseHandle(Connection);
                InternetCloseHandle(Internet);
            }
        }
    } closer{internet, connection, own};

    if (own) {
        ReportStatus("Initializing Internet Functions");
        internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        InetCheck(internet);
        ReportStatus("Connecting to Host");
        connection = InternetConnect(internet, ServerName.c_str(), INTERNET_DEFAULT_FTP_PORT, LogonName.c_str(),
                                     LogonPassword.c_str(), INTERNET_SERVICE_FTP, 0, 0);
        InetCheck(connection);
    }
    BytesDone = 0;
    const auto context = reinterpret_cast<DWORD_PTR>(this);
    if (Receiving) {
        ReportStatus("Receiving File");
        ProgressLabel = "Bytes Received";
        InternetSetStatusCallback(connection, &TFTPThread::TransferStatusCallback);
        InetCheck(FtpGetFile(connection, RemoteFile.c_str(), LocalFile.c_str(), false, 0, FTP_TRANSFER_TYPE_BINARY,
                             context));
        ProgressLabel = "Receive Complete";
    } else {
        ReportStatus("Sending File");
        ProgressLabel = "Bytes Sent";
        InternetSetStatusCallback(connection, &TFTPThread::TransferStatusCallback);
        InetCheck(FtpPutFile(connection, LocalFile.c_str(), RemoteFile.c_str(), PutFlags, context));
        ProgressLabel = "Send Complete";
    }
    ReportStatus(ProgressLabel + "  " + FormatCount(BytesDone) + " bytes");
}

void TFTPThread::run() {
    try {
        Transfer();
    } catch (const std::exception& e) {
        ErrorText = e.what();
        ReportStatus(ErrorText);
    } catch (...) {
        ErrorText = "Unknown error";
        ReportStatus(ErrorText);
    }
    // The end of the run is handled on the GUI thread while the worker waits.
    QObject* gui = QCoreApplication::instance();
    if (gui) QMetaObject::invokeMethod(gui, [this] { DoTerminate(); }, Qt::BlockingQueuedConnection);
}
