// TFormMain, transfer queue: the pane under the lists, its commands, the batch's totals in the
// status bar, and the question for a target that exists. The decisions are the queue model's;
// this file only asks the user and hands the answers over.
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "app/MessageLog.h"
#include "app/QueuePane.h"
#include "ftp/INetUtil.h"
#include "ftp/inet/WinInet.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QMenuBar>
#include <QSettings>
#include <QSplitter>
#include <sys/stat.h>

namespace {

constexpr int DefaultQueueHeight = 150;

bool LocalExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

void TFormMain::BuildQueuePane() {
    QueuePane = new TQueuePane(*FTransferQueue, FtpSplitter);
    FtpSplitter->addWidget(QueuePane);
    FtpSplitter->setStretchFactor(0, 1);
    FtpSplitter->setStretchFactor(1, 0);
    FtpSplitter->setCollapsible(0, false);
    FtpSplitter->setCollapsible(1, true);
    auto run = [this](void (TFormMain::*handler)()) {
        return [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); };
    };
    QueuePane->OnCancelFile = run(&TFormMain::QueueCancelFile);
    QueuePane->OnCancelAll = run(&TFormMain::QueueCancelAll);
    QueuePane->OnRemove = run(&TFormMain::QueueRemove);
    QueuePane->OnRetry = run(&TFormMain::QueueRetry);
    QueuePane->OnMoveUp = [this] { RunCommand([this] { QueueMove(true); }); };
    QueuePane->OnMoveDown = [this] { RunCommand([this] { QueueMove(false); }); };
    QueuePane->OnPause = [this](bool paused) { RunCommand([this, paused] { QueuePause(paused); }); };

    // The menu bar's home of the queue's commands, and the pane's own toggle.
    Queue1 = new QMenu("&Queue", this);
    Queue1->setObjectName("Queue1");
    Queue1->addActions(QueuePane->Commands());
    View1 = new QMenu("&View", this);
    View1->setObjectName("View1");
    mnuShowQueue = View1->addAction("Transfer &Queue");
    mnuShowQueue->setObjectName("mnuShowQueue");
    mnuShowQueue->setCheckable(true);
    mnuShowQueue->setChecked(true);
    connect(mnuShowQueue, &QAction::toggled, this, [this](bool on) {
        if (!on) {
            QueuePane->hide();
            return;
        }
        QueuePane->show();
        const QList<int> sizes = FtpSplitter->sizes();
        if (sizes.size() == 3 && sizes[1] == 0)
            FtpSplitter->setSizes({std::max(1, sizes[0] - DefaultQueueHeight), DefaultQueueHeight, sizes[2]});
    });

    MessageLog = new TMessageLog(FtpSplitter);
    FtpSplitter->addWidget(MessageLog);
    FtpSplitter->setCollapsible(2, true);
    MessageLog->hide();
    mnuShowLog = View1->addAction("Message &Log");
    mnuShowLog->setObjectName("mnuShowLog");
    mnuShowLog->setCheckable(true);
    connect(mnuShowLog, &QAction::toggled, this, [this](bool on) {
        MessageLog->setVisible(on);
        const QList<int> sizes = FtpSplitter->sizes();
        if (on && sizes.size() == 3 && sizes[2] == 0)
            FtpSplitter->setSizes({std::max(1, sizes[0] - DefaultQueueHeight), sizes[1], DefaultQueueHeight});
    });

    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::applicationName(),
                QCoreApplication::applicationName());
    const int height = s.value("FormMain/QueuePane/Height", DefaultQueueHeight).toInt();
    const bool visible = s.value("FormMain/QueuePane/Visible", true).toBool();
    FtpSplitter->setSizes({400, std::max(0, height), 0});
    mnuShowQueue->setChecked(visible);
    QueuePane->setVisible(visible);
    // The height is stored when the splitter moves, so it survives however the window ends.
    connect(FtpSplitter, &QSplitter::splitterMoved, this, [this] {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::applicationName(),
                        QCoreApplication::applicationName());
        store.setValue("FormMain/QueuePane/Height", FtpSplitter->sizes().value(1, DefaultQueueHeight));
    });
    connect(mnuShowQueue, &QAction::toggled, this, [](bool on) {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::applicationName(),
                        QCoreApplication::applicationName());
        store.setValue("FormMain/QueuePane/Visible", on);
    });
}

std::size_t TFormMain::PendingTransfers() const {
    return FTransferQueue ? FTransferQueue->Pending() : 0;
}

void TFormMain::AbortRunningTransfer() {
    // Closing the handle aborts the call on the worker; the worker ends and reports the failure.
    if (FTransferConnection && FTransferConnection != FConnection) {
        CloseTransferConnection();
        return;
    }
    // On a server that allows one connection the transfer runs on the window's own: it can only
    // be stopped with the session, so the window connects again once the worker has ended. A
    // walk in progress owns that connection; its files stop when it is done.
    if (!FSingleConnection || !FWorkerRunning || FWalk || !FConnection) return;
    InternetCloseHandle(static_cast<HINTERNET>(FConnection));
    FConnection = nullptr;
    FReconnectAfterCancel = true;
    SetStatus(1, "Cancelling: the server allows one connection, so it is opened again");
}

void TFormMain::ReconnectAfterCancel() {
    FReconnectAfterCancel = false;
    FConnection = OpenFtpConnection(FInternet);
    if (!FConnection) {
        const std::string why = InetErrorMessage(GetLastError());
        CloseConnections(); // the rows still queued end "Disconnected"
        ClearHostListing();
        UpdateButtons();
        throw EVarnelloError("The connection closed to cancel the transfer could not be opened again: " +
                             why);
    }
    const std::string dir = FHostDir.empty() ? std::string("/") : FHostDir;
    FtpSetCurrentDirectory(static_cast<HINTERNET>(FConnection), dir.c_str());
    ListHostDirectory();
}

void TFormMain::QueueCancelFile() {
    if (!FTransferQueue->CancelRunning()) return;
    AbortRunningTransfer();
    QueuePane->Changed();
}

void TFormMain::QueueCancelAll() {
    const bool running = FTransferQueue->Running() != nullptr;
    FTransferQueue->CancelAll();
    if (running) AbortRunningTransfer();
    QueuePane->Changed();
    UpdateQueueStatus();
}

void TFormMain::QueueRemove() {
    FTransferQueue->Remove(QueuePane->SelectedIds());
    QueuePane->Changed();
    UpdateQueueStatus();
}

void TFormMain::QueueRetry() {
    if (!FTransferQueue->RetryFailed()) return;
    QueuePane->Changed();
    if (!FWorkerRunning && !FWalk && FConnection) StartNextTransfer();
}

void TFormMain::QueueMove(bool up) {
    const std::vector<std::uint64_t> ids = QueuePane->SelectedIds();
    if (up ? FTransferQueue->MoveUp(ids) : FTransferQueue->MoveDown(ids)) QueuePane->Changed();
    QueuePane->RefreshNow();
}

void TFormMain::QueuePause(bool paused) {
    FTransferQueue->SetPaused(paused);
    if (QueuePane->PauseQueue->isChecked() != paused) QueuePane->PauseQueue->setChecked(paused);
    UpdateQueueStatus();
    if (!paused && !FWorkerRunning && !FWalk && FConnection && FTransferQueue->Busy()) StartNextTransfer();
}

void TFormMain::UpdateQueueStatus() {
    const TTransferQueue::TTotals t = FTransferQueue->Totals();
    if (!FTransferQueue->Busy()) {
        StatusQueue->setText(t.FilesFailed ? QString("%1 failed").arg(t.FilesFailed) : QString());
        return;
    }
    QString text = QString("%1 of %2 files").arg(t.FilesDone).arg(t.Files);
    if (t.BytesTotal > 0) text += QString(", %1%").arg(t.BytesDone * 100 / t.BytesTotal);
    const QString speed = SpeedText(t.BytesPerSecond);
    if (!speed.isEmpty()) text += ", " + speed;
    const QString left = DurationText(t.SecondsLeft);
    if (!left.isEmpty()) text += ", " + left + " left";
    if (FTransferQueue->Paused()) text += " (paused)";
    if (FSingleConnection) text += " (one connection: the server list waits)";
    StatusQueue->setText(text);
}

namespace {

// Milliseconds since 1970 of a FILETIME value; 0 stays unknown.
std::int64_t FileTimeMs(std::uint64_t fileTime) {
    constexpr std::int64_t MsFrom1601To1970 = 11644473600000LL;
    return fileTime == 0 ? 0 : static_cast<std::int64_t>(fileTime / 10000) - MsFrom1601To1970;
}

QString FactsText(const TFileFacts& f) {
    QString text = f.Size == QueueSizeUnknown ? QString("size unknown") : FormatSizeText(f.Size) + " bytes";
    if (f.ModifiedMs > 0)
        text += ", " + QDateTime::fromMSecsSinceEpoch(f.ModifiedMs).toString("yyyy-MM-dd HH:mm:ss");
    return text;
}

} // namespace

bool TFormMain::ResolveExistingTarget(TQueueItem& item) {
    // A retry of a download goes on from the part it kept, without a question.
    if (item.Downloading && !item.PartialPath.empty()) return true;
    HINTERNET connection = static_cast<HINTERNET>(TransferConnection());
    TFileFacts source, target;
    struct stat st {};
    if (item.Downloading) {
        if (::lstat(item.LocalPath.c_str(), &st) != 0) return true;
        source = {item.Size, 0};
        target = {static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime) * 1000};
    } else {
        // One round trip on the idle transfer connection tells whether the server has the file.
        std::uint64_t size = 0, modified = 0;
        if (!FtpGetRemoteFileInfo(connection, item.RemotePath.c_str(), &size, &modified)) return true;
        if (::stat(item.LocalPath.c_str(), &st) != 0) return true; // the upload itself reports it
        source = {static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime) * 1000};
        target = {size, FileTimeMs(modified)};
        // A retried upload that broke off goes on after what the server kept.
        if (item.Interrupted && size < source.Size) {
            item.ResumeOffset = size;
            return true;
        }
        item.ResumeOffset = 0;
    }
    const bool canResume = source.Size != QueueSizeUnknown && target.Size < source.Size && target.Size > 0;
    TBatchAnswers& answers = FTransferQueue->Answers(item.Batch);
    TOverwriteAnswer answer;
    if (answers.OverwriteAll) {
        answer = *answers.OverwriteAll;
    } else {
        TDialogRequest req;
        req.Kind = TDialogRequest::dkMessage;
        req.Title = "Varnello";
        const QString where = item.Downloading ? "Local" : "Server";
        req.Text =
            QString("%1 exists already.\n\n%2 file: %3\n%4 file: %5")
                .arg(QString::fromStdString(item.Downloading ? item.LocalPath : item.RemotePath), where,
                     FactsText(target), item.Downloading ? "Server" : "Local", FactsText(source));
        std::vector<TOverwriteAnswer> byButton = {TOverwriteAnswer::Overwrite,
                                                  TOverwriteAnswer::OverwriteIfNewer};
        req.Buttons = {"&Overwrite", "Overwrite if &newer"};
        if (canResume) {
            req.Buttons << "&Resume";
            byButton.push_back(TOverwriteAnswer::Resume);
        }
        req.Buttons << "&Skip"
                    << "Re&name";
        byButton.push_back(TOverwriteAnswer::Skip);
        byButton.push_back(TOverwriteAnswer::Rename);
        req.Icon = QMessageBox::Question;
        req.CheckBox = "Apply to all files of this batch";
        const int choice = Prompts->Ask(this, req);
        // Closing the question overwrites nothing.
        const bool chosen = choice >= 1 && choice <= static_cast<int>(byButton.size());
        answer = chosen ? byButton[static_cast<std::size_t>(choice - 1)] : TOverwriteAnswer::Skip;
        if (req.Checked && chosen) answers.OverwriteAll = answer;
    }
    // "If newer" on a download needs the server file's time, which the queue does not hold.
    if (answer == TOverwriteAnswer::OverwriteIfNewer && item.Downloading) {
        std::uint64_t size = 0, modified = 0;
        if (FtpGetRemoteFileInfo(connection, item.RemotePath.c_str(), &size, &modified))
            source.ModifiedMs = FileTimeMs(modified);
    }
    std::function<bool(const std::string&)> exists = LocalExists;
    if (!item.Downloading)
        exists = [connection](const std::string& path) {
            std::uint64_t size = 0;
            return FtpGetRemoteFileInfo(connection, path.c_str(), &size, nullptr) != 0;
        };
    const TOverwriteAction action =
        ResolveOverwrite(answer, item.Downloading ? item.LocalPath : item.RemotePath, source, target, exists);
    switch (action.Kind) {
    case TOverwriteAction::Skip:
        FTransferQueue->Skip(item.Id,
                             answer == TOverwriteAnswer::OverwriteIfNewer ? "not newer" : "exists already");
        return false;
    case TOverwriteAction::Resume:
        item.ResumeOffset = action.Offset;
        if (item.Downloading) item.PartialPath = item.LocalPath; // goes on in place
        return true;
    case TOverwriteAction::Write:
        (item.Downloading ? item.LocalPath : item.RemotePath) = action.TargetPath;
        return true;
    }
    return true;
}
