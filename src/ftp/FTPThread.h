// TFTPThread: moves exactly one file between the local disk and the server in a worker thread,
// so the window keeps painting while the bytes flow.
//
// The worker never touches window state. Every status line goes to the GUI thread through
// ReportStatus, which waits until the window's handler has run; the end of the run is handed
// over the same way (OnTerminate), so the window starts the next worker only after this one
// has finished with the shared connection handle.
#pragma once

#include "ftp/inet/WinInet.h"

#include <QThread>
#include <cstdint>
#include <functional>
#include <string>

class TFTPThread : public QThread {
    Q_OBJECT
public:
    explicit TFTPThread(QObject* parent = nullptr);

    HINTERNET Connection = nullptr; // null: the worker opens its own connection
    bool Receiving = false;         // true = download
    std::string LocalFile;
    std::string RemoteFile;
    std::string ServerName, LogonName, LogonPassword; // for an own connection
    DWORD PutFlags = 0;
    int64_t BytesDone = 0; // 64-bit: one transfer can exceed 2 GiB
    std::string ProgressLabel;
    std::string StatusText;
    std::string ErrorText;

    // Run on the GUI thread while the worker waits.
    std::function<void(TFTPThread* sender, const QString& text)> OnStatus;
    std::function<void(TFTPThread* sender)> OnTerminate;

    // Hands `text` to OnStatus on the GUI thread and waits until it has run.
    void ReportStatus(const std::string& text);

    // "%s = %1.0n" and "%s  %1.0n bytes" with the digits grouped by thousands.
    static std::string FormatCount(int64_t value);

protected:
    void run() override; // Execute: Transfer inside an error guard, then the hand-over of the end

private:
    void Transfer();
    void DoStatus();
    void DoTerminate();
    static void TransferStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                       DWORD infoLength);
};
