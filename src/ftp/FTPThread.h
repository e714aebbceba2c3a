// TFTPThread: moves one file between the local disk and the server on a thread of its own, so
// the window keeps painting while the bytes flow. The worker never touches window state: each
// status line is handed to the GUI thread through OnStatus and the worker waits until it has
// been shown; when the run ends, OnTerminate runs on the GUI thread while the worker waits, and
// the worker then deletes itself. The window keeps no reference after Start. Deleting a
// running worker (its parent closing) silences it and waits for the transfer to end.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ftp/inet/WinInet.h"

class TFTPThread : public QThread {
    Q_OBJECT
public:
    // Create on the GUI thread; set the fields, then start().
    explicit TFTPThread(QObject* parent = nullptr);
    ~TFTPThread() override;

    HINTERNET Connection = nullptr; // the window's connection; null = open an own one
    bool Receiving = false;         // true = download
    std::string LocalFile;
    std::string RemoteFile;
    // Downloads: the size the listing showed, checked against the bytes received when the
    // server answers no SIZE; FTP_SIZE_UNKNOWN takes whatever arrives.
    std::uint64_t ExpectedSize = FTP_SIZE_UNKNOWN;
    std::string ServerName, LogonName, LogonPassword; // for an own connection
    DWORD PutFlags = 0;
    // Resumable runs: a download keeps its part when it fails and goes on from PartialFile
    // (ResumeOffset bytes of it) when one is given; an upload with a ResumeOffset appends the
    // rest of the local file to the server's first ResumeOffset bytes. After the run,
    // PartialFile and ResumeOffset describe the part kept ("" and 0 when none).
    bool Resumable = false;
    std::string PartialFile;
    std::uint64_t ResumeOffset = 0;
    // 64-bit: transfers beyond 2 GiB count on (and the final line shows the full size).
    std::int64_t BytesDone = 0;
    QString ProgressLabel;
    QString StatusText;
    QString ErrorText;   // empty after success
    QString ErrorAdvice; // what happened and what to try, for the message box; may be empty

    // Receives every status line, on the GUI thread.
    std::function<void(QObject* sender, const QString& text)> OnStatus;
    // The termination event, on the GUI thread, after the run and before the worker ends.
    std::function<void(QObject* sender)> OnTerminate;

    // From the worker: show the text through OnStatus and wait until it has been shown.
    void ReportStatus(const QString& text);

    // "12,345": the count grouped with the locale's thousands separator, as the status lines show counts.
    static QString FormatCount(std::int64_t count);

protected:
    void run() override; // Execute: Transfer inside an error guard, then the termination hand-over

private:
    std::atomic<bool> FDetached{false};  // being deleted: no more hand-overs
    const TFtpResume* FResume = nullptr; // a resumable download's record while the call runs
    std::uint64_t FMoved = 0;            // bytes this call moved
    void Transfer();
    void DoStatus();
    static void TransferStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                       DWORD length);
};
