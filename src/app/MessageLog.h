// TMessageLog: what the FTP connections said, one line per command, reply and event, with the
// time and the connection's number; the password shows as ****, refusals and lost connections
// in red. The lines come from whichever thread talks to the server: they wait in a sink of
// their own and the GUI thread adds them in batches, so a busy server cannot flood the window
// with repaints. Only the last MaxLines lines are kept.
#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "ftp/inet/WinInet.h"

class TMessageLog : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int MaxLines = 10000;

    explicit TMessageLog(QWidget* parent = nullptr);
    ~TMessageLog() override;

    // Logs the later connections of a root handle.
    void Attach(HINTERNET internet);
    // Adds one line now (GUI thread); error lines are red.
    void AddLine(const QString& text, bool error);
    // Adds the lines waiting in the sink (the timer does this every 100 ms).
    void Drain();

    struct TSink;

private:
    std::shared_ptr<TSink> FSink;
    std::uintptr_t FId = 0; // the sink's number, which the layer hands back
    QTimer FDrain;
    bool FFollow = true;     // new lines scroll into view until the user scrolls up to read
    bool FScrolling = false; // our own scrolling, which says nothing about the user
};
