// The message log; see MessageLog.h.
#include "app/MessageLog.h"
#include "settings/FormSettings.h"

#include <QDateTime>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct TMessageLog::TSink {
    struct TLine {
        QString Text;
        bool Error;
    };
    std::mutex Lock;
    std::vector<TLine> Pending;
    static constexpr std::size_t MaxPending = MaxLines; // older ones would be dropped anyway
};

namespace {

// The layer calls back with a number, not with the sink itself: a connection may outlive the
// window by a moment (a worker ending), and a number of a sink that is gone finds nothing.
std::mutex gSinksLock;
std::map<std::uintptr_t, std::weak_ptr<TMessageLog::TSink>> gSinks;
std::uintptr_t gNextSink = 1;

void LogCallback(DWORD connection, DWORD kind, const char* text, void* context) {
    std::shared_ptr<TMessageLog::TSink> sink;
    {
        std::lock_guard<std::mutex> lock(gSinksLock);
        auto it = gSinks.find(reinterpret_cast<std::uintptr_t>(context));
        if (it != gSinks.end()) sink = it->second.lock();
    }
    if (!sink) return;
    const QString body = QString::fromUtf8(text).replace("\r\n", "\n      ");
    const char* mark = kind == FTP_LOG_COMMAND ? ">" : kind == FTP_LOG_REPLY ? "<" : "*";
    // Refusals (4xx, 5xx) and the connection's end are what the user looks for.
    const bool error = (kind == FTP_LOG_REPLY && (text[0] == '4' || text[0] == '5')) ||
                       (kind == FTP_LOG_NOTE && std::string(text).find("closed") != std::string::npos);
    const QString line = QString("%1  [%2] %3 %4")
                             .arg(QDateTime::currentDateTime().toString("HH:mm:ss.zzz"))
                             .arg(connection)
                             .arg(mark, body);
    std::lock_guard<std::mutex> lock(sink->Lock);
    if (sink->Pending.size() >= TMessageLog::TSink::MaxPending) sink->Pending.erase(sink->Pending.begin());
    sink->Pending.push_back({line, error});
}

} // namespace

TMessageLog::TMessageLog(QWidget* parent) : QPlainTextEdit(parent), FSink(std::make_shared<TSink>()) {
    setObjectName("MessageLog");
    setAccessibleName("Message log");
    // The conversation is no setting of the window: it is neither saved nor brought back.
    setProperty(TFormSettings::kSkipProperty, true);
    setReadOnly(true); // still selectable and copyable
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setMaximumBlockCount(MaxLines);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    setFont(mono);
    {
        std::lock_guard<std::mutex> lock(gSinksLock);
        FId = gNextSink++;
        gSinks[FId] = FSink;
    }
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!FScrolling) FFollow = value >= verticalScrollBar()->maximum();
    });
    FDrain.setInterval(100);
    connect(&FDrain, &QTimer::timeout, this, &TMessageLog::Drain);
    FDrain.start();
}

TMessageLog::~TMessageLog() {
    std::lock_guard<std::mutex> lock(gSinksLock);
    gSinks.erase(FId);
}

void TMessageLog::Attach(HINTERNET internet) {
    FtpSetLogCallback(internet, LogCallback, reinterpret_cast<void*>(FId));
}

void TMessageLog::AddLine(const QString& text, bool error) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!document()->isEmpty()) cursor.insertBlock();
    QTextCharFormat format;
    if (error) format.setForeground(QColor(0xC0, 0x00, 0x00));
    cursor.insertText(text, format);
}

void TMessageLog::Drain() {
    std::vector<TSink::TLine> lines;
    {
        std::lock_guard<std::mutex> lock(FSink->Lock);
        lines.swap(FSink->Pending);
    }
    if (lines.empty()) return;
    // Appending moves the bar by itself (lines dropped at the top); only the user's moves count.
    FScrolling = true;
    for (const TSink::TLine& l : lines) AddLine(l.Text, l.Error);
    if (FFollow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    FScrolling = false;
}
