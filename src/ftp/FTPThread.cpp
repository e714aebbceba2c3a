// The transfer worker; see FTPThread.h.
#include "ftp/FTPThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>

#include <cstdio>
#include <cstring>
#include <exception>

#include "ftp/INetUtil.h"

TFTPThread::TFTPThread(QObject* parent) : QThread(parent) {
    // Nobody holds the worker after it has run; it goes once its termination hand-over is over.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TFTPThread::~TFTPThread() {
    // Normally the worker has ended by now (deleteLater after finished). When its parent goes
    // first, the worker may be blocked on a hand-over to this thread: the lines must no longer
    // reach the parent, and the blocked calls must be served or the wait below never ends.
    OnStatus = nullptr;
    OnTerminate = nullptr;
    FDetached = true; // later hand-overs are skipped by the worker itself
    do QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    while (!wait(QDeadlineTimer(5)));
}

QString TFTPThread::FormatCount(std::int64_t count) {
    // Grouped by the user's locale, as the file lists show sizes; the C locale groups nothing,
    // so English's "1,234" stands in for it there.
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return locale.toString(static_cast<qlonglong>(count));
}

void TFTPThread::ReportStatus(const QString& text) {
    StatusText = text;
    // The worker object lives on the GUI thread, so the call runs there; the worker waits.
    if (FDetached) return;
    QMetaObject::invokeMethod(
        this, [this] { DoStatus(); }, Qt::BlockingQueuedConnection);
}

void TFTPThread::DoStatus() {
    if (OnStatus) OnStatus(this, StatusText);
}

void TFTPThread::TransferStatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info,
                                        DWORD length) {
    auto* self = reinterpret_cast<TFTPThread*>(context);
    if ((status == INTERNET_STATUS_REQUEST_SENT || status == INTERNET_STATUS_RESPONSE_RECEIVED) && info &&
        length >= sizeof(DWORD)) {
        DWORD count;
        std::memcpy(&count, info, sizeof count);
        self->FMoved += count;
        // A resumed download counts from where the layer started, which is 0 when the server
        // could not go on from the kept part.
        const std::uint64_t start = self->FResume ? self->FResume->Offset : self->ResumeOffset;
        self->BytesDone = static_cast<std::int64_t>((self->Resumable ? start : 0) + self->FMoved);
    }
    self->ReportStatus(QString("%1 = %2").arg(self->ProgressLabel, FormatCount(self->BytesDone)));
}

void TFTPThread::Transfer() {
    HINTERNET internet = nullptr;
    HINTERNET connection = Connection;
    struct TOwn {
        HINTERNET& Internet;
        HINTERNET& Connection;
        bool Owned;
        ~TOwn() {
            if (Owned) {
                InternetCloseHandle(Connection);
                InternetCloseHandle(Internet);
            }
        }
    } own{internet, connection, Connection == nullptr};
    if (!Connection) {
        ReportStatus("Initializing Internet Functions");
        internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        InetCheck(internet);
        ReportStatus("Connecting to Host");
        connection = InternetConnect(internet, ServerName.c_str(), INTERNET_DEFAULT_FTP_PORT,
                                     LogonName.c_str(), LogonPassword.c_str(), INTERNET_SERVICE_FTP, 0, 0);
        InetCheck(connection);
    }
    // A resumed run counts the part already there, so the progress shows the whole file.
    BytesDone = Resumable ? static_cast<std::int64_t>(ResumeOffset) : 0;
    FMoved = 0;
    auto context = reinterpret_cast<DWORD_PTR>(this);
    if (Receiving) {
        ReportStatus(BytesDone > 0 ? "Resuming File" : "Receiving File");
        ProgressLabel = "Bytes Received";
        InternetSetStatusCallback(connection, TransferStatusCallback);
        if (Resumable) {
            TFtpResume resume{};
            std::snprintf(resume.PartialFile, sizeof resume.PartialFile, "%s", PartialFile.c_str());
            resume.Offset = PartialFile.empty() ? 0 : ResumeOffset;
            FResume = &resume;
            const BOOL ok = FtpGetFileResumable(connection, RemoteFile.c_str(), LocalFile.c_str(), context,
                                                ExpectedSize, &resume);
            FResume = nullptr;
            const DWORD error = GetLastError();
            PartialFile = resume.PartialFile;
            ResumeOffset = resume.Offset;
            SetLastError(error);
            InetCheck(ok);
        } else {
            InetCheck(FtpGetFileSized(connection, RemoteFile.c_str(), LocalFile.c_str(), 0, 0,
                                      FTP_TRANSFER_TYPE_BINARY, context, ExpectedSize));
        }
        ProgressLabel = "Receive Complete";
    } else {
        ReportStatus(BytesDone > 0 ? "Resuming File" : "Sending File");
        ProgressLabel = "Bytes Sent";
        InternetSetStatusCallback(connection, TransferStatusCallback);
        if (Resumable && ResumeOffset > 0)
            InetCheck(
                FtpPutFileFrom(connection, LocalFile.c_str(), RemoteFile.c_str(), context, ResumeOffset));
        else
            InetCheck(FtpPutFile(connection, LocalFile.c_str(), RemoteFile.c_str(), PutFlags, context));
        ProgressLabel = "Send Complete";
    }
    if (own.Owned) {
        InternetCloseHandle(connection);
        InternetCloseHandle(internet);
        own.Owned = false;
    }
    ReportStatus(QString("%1  %2 bytes").arg(ProgressLabel, FormatCount(BytesDone)));
}

void TFTPThread::run() {
    try {
        Transfer();
    } catch (const EInetError& e) {
        ErrorText = QString::fromStdString(e.what());
        ErrorAdvice = QString::fromStdString(e.Advice);
        ReportStatus(ErrorText);
    } catch (const std::exception& e) {
        ErrorText = QString::fromStdString(e.what());
        ReportStatus(ErrorText);
    }
    if (FDetached) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (OnTerminate) OnTerminate(this);
        },
        Qt::BlockingQueuedConnection);
}
