// TFormMain, transfer queue: the pane under the lists, its commands, the batch's totals in the
// status bar, and the question for a target that exists. The decisions are the queue model's;
// this file only asks the user and hands the answers over.
#include "app/Dialogs.h"
#include "app/FileList.h"
#include "app/MainFtp.h"
#include "app/QueuePane.h"
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
        if (sizes.size() == 2 && sizes[1] == 0)
            FtpSplitter->setSizes({std::max(1, sizes[0] - DefaultQueueHeight), DefaultQueueHeight});
    });

    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::applicationName(),
                QCoreApplication::applicationName());
    const int height = s.value("FormMain/QueuePane/Height", DefaultQueueHeight).toInt();
    const bool visible = s.value("FormMain/QueuePane/Visible", true).toBool();
    FtpSplitter->setSizes({400, std::max(0, height)});
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

void TFormMain::QueueCancelFile() {
    if (!FTransferQueue->CancelRunning()) return;
    // Closing the handle aborts the call on the worker; the worker ends and reports the failure.
    // On the window's own connection that closes the session too, so it is left alone there:
    // the cancel then takes effect when the file ends.
    if (FTransferConnection && FTransferConnection != FConnection) CloseTransferConnection();
    QueuePane->Changed();
}

void TFormMain::QueueCancelAll() {
    const bool running = FTransferQueue->Running() != nullptr;
    FTransferQueue->CancelAll();
    if (running && FTransferConnection && FTransferConnection != FConnection) CloseTransferConnection();
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

bool TFormMain::ResolveExistingTarget(TQueueItem& item) {
    // Uploads are written as they come: asking the server about every file would cost a round
    // trip each.
    if (!item.Downloading || item.ResumeOffset > 0) return true;
    struct stat st {};
    if (::lstat(item.LocalPath.c_str(), &st) != 0) return true;
    TBatchAnswers& answers = FTransferQueue->Answers(item.Batch);
    TOverwriteAnswer answer;
    if (answers.OverwriteAll) {
        answer = *answers.OverwriteAll;
    } else {
        TDialogRequest req;
        req.Kind = TDialogRequest::dkMessage;
        req.Title = "Varnello";
        req.Text = QString("%1 exists already.\n\nLocal: %2 bytes\nServer: %3")
                       .arg(QString::fromStdString(item.LocalPath))
                       .arg(FormatSizeText(static_cast<std::uint64_t>(st.st_size)))
                       .arg(item.Size == QueueSizeUnknown ? QString("size unknown")
                                                          : FormatSizeText(item.Size) + " bytes");
        req.Buttons = {"&Overwrite", "&Skip", "&Rename"};
        req.Icon = QMessageBox::Question;
        req.CheckBox = "Apply to all files of this batch";
        const int choice = Prompts->Ask(this, req);
        static const TOverwriteAnswer answersByButton[] = {TOverwriteAnswer::Overwrite,
                                                           TOverwriteAnswer::Skip, TOverwriteAnswer::Rename};
        // Closing the question overwrites nothing.
        answer = choice >= 1 && choice <= 3 ? answersByButton[choice - 1] : TOverwriteAnswer::Skip;
        if (req.Checked && choice >= 1) answers.OverwriteAll = answer;
    }
    TFileFacts target{static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime) * 1000};
    TFileFacts source{item.Size, 0};
    const TOverwriteAction action = ResolveOverwrite(answer, item.LocalPath, source, target, LocalExists);
    if (action.Kind == TOverwriteAction::Skip) {
        FTransferQueue->Skip(item.Id, "exists already");
        return false;
    }
    item.LocalPath = action.TargetPath;
    return true;
}
