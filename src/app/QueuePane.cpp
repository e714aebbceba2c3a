// The queue pane; see QueuePane.h.
#include "app/QueuePane.h"

#include "app/FileList.h"
#include "ftp/TransferQueue.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cmath>

namespace {

// At most ten repaints a second: the worker may report thousands of times.
constexpr int RepaintIntervalMs = 100;

QString StateText(const TQueueItem& i) {
    switch (i.State) {
    case TQueueState::Queued:
        return "Queued";
    case TQueueState::Running:
        return i.CancelRequested ? "Cancelling" : "Running";
    case TQueueState::Done:
        return "Done";
    // A reason of several lines ("Win32 Error 12003:", blank, the server's reply) reads as one.
    case TQueueState::Failed:
        return "Failed: " + QString::fromStdString(i.Reason).simplified();
    case TQueueState::Skipped:
        return i.Reason.empty() ? QString("Skipped")
                                : "Skipped: " + QString::fromStdString(i.Reason).simplified();
    }
    return {};
}

// Percent done, or -1 when the size is unknown.
int Percent(const TQueueItem& i) {
    if (i.State == TQueueState::Done) return 100;
    if (i.Size == QueueSizeUnknown || i.Size == 0)
        return i.Size == 0 && i.State != TQueueState::Queued ? 100 : -1;
    return static_cast<int>(std::min<std::uint64_t>(100, i.BytesDone * 100 / i.Size));
}

class TProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariant v = index.data(Qt::UserRole);
        if (!v.isValid() || v.toInt() < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(1, 2, -1, -2);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = v.toInt();
        bar.text = QString::number(bar.progress) + "%";
        bar.textVisible = true;
        bar.state = option.state | QStyle::State_Horizontal;
        QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    }
};

} // namespace

QString SpeedText(double bytesPerSecond) {
    if (!(bytesPerSecond > 0)) return {};
    static const char* const units[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    int u = 0;
    while (bytesPerSecond >= 1024 && u < 3) {
        bytesPerSecond /= 1024;
        ++u;
    }
    return QString::number(bytesPerSecond, 'f', bytesPerSecond < 10 && u > 0 ? 1 : 0) + " " + units[u];
}

QString DurationText(double seconds) {
    if (!(seconds >= 0) || seconds > 1e9) return {};
    const auto s = static_cast<long long>(std::ceil(seconds));
    const long long h = s / 3600, m = s / 60 % 60, r = s % 60;
    if (h > 0) return QString("%1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(r, 2, 10, QChar('0'));
    return QString("%1:%2").arg(m).arg(r, 2, 10, QChar('0'));
}

TQueueModel::TQueueModel(TTransferQueue& queue, QObject* parent)
    : QAbstractTableModel(parent), FQueue(queue) {}

int TQueueModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRows;
}

int TQueueModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : colCount;
}

QVariant TQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const titles[] = {"Direction", "Local file", "Server file", "Size",
                                         "Progress",  "Speed",      "Time left",   "State"};
    return section >= 0 && section < colCount ? QString(titles[section]) : QVariant();
}

QVariant TQueueModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(FQueue.Count())) return {};
    const TQueueItem& i = FQueue.Items()[static_cast<std::size_t>(index.row())];
    if (role == Qt::UserRole && index.column() == colProgress) return Percent(i);
    if (role == Qt::ForegroundRole && index.column() == colState && i.State == TQueueState::Failed)
        return QColor(Qt::red);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole) return {};
    switch (index.column()) {
    case colDirection:
        return i.Downloading ? QString("Download") : QString("Upload");
    case colLocal:
        return QString::fromStdString(i.LocalPath);
    case colServer:
        return QString::fromStdString(i.RemotePath);
    case colSize:
        return i.Size == QueueSizeUnknown ? QString() : FormatSizeText(i.Size);
    case colProgress: {
        const int p = Percent(i);
        return p < 0 ? (i.BytesDone ? FormatSizeText(i.BytesDone) : QString()) : QString("%1%").arg(p);
    }
    case colSpeed:
        return i.State == TQueueState::Running ? SpeedText(i.BytesPerSecond) : QString();
    case colLeft:
        return DurationText(TTransferQueue::SecondsLeft(i));
    case colState:
        return StateText(i);
    }
    return {};
}

void TQueueModel::Refresh() {
    const int rows = static_cast<int>(FQueue.Count());
    if (rows != FRows) {
        beginResetModel();
        FRows = rows;
        endResetModel();
        return;
    }
    // Only the visible rows are read again by the view.
    if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, colCount - 1));
}

TQueuePane::TQueuePane(TTransferQueue& queue, QWidget* parent) : QWidget(parent), FQueue(queue) {
    setObjectName("QueuePane");
    setAccessibleName("Transfer queue");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);

    View = new QTreeView(this);
    View->setObjectName("QueueView");
    View->setAccessibleName("Queued transfers");
    View->setRootIsDecorated(false);
    View->setUniformRowHeights(true); // keeps ten thousand rows cheap to lay out
    View->setSelectionMode(QAbstractItemView::ExtendedSelection);
    View->setAllColumnsShowFocus(true);
    Model = new TQueueModel(queue, this);
    View->setModel(Model);
    View->setItemDelegateForColumn(TQueueModel::colProgress, new TProgressDelegate(View));
    View->header()->setStretchLastSection(true);
    View->setColumnWidth(TQueueModel::colLocal, 220);
    View->setColumnWidth(TQueueModel::colServer, 220);
    View->setColumnWidth(TQueueModel::colProgress, 110);
    layout->addWidget(View, 1);

    auto make = [&](const char* name, const QString& caption, const QKeySequence& key,
                    std::function<void()>* hook) {
        auto* a = new QAction(caption, this);
        a->setObjectName(name);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        }
        connect(a, &QAction::triggered, this, [hook] {
            if (*hook) (*hook)();
        });
        addAction(a);
        auto* b = new QToolButton(this);
        b->setDefaultAction(a);
        b->setAccessibleName(QString(caption).remove('&'));
        buttons->addWidget(b);
        return a;
    };
    CancelFile = make("QueueCancelFile", "&Cancel File", QKeySequence(Qt::Key_Escape), &OnCancelFile);
    CancelAllFiles =
        make("QueueCancelAll", "Cancel &All", QKeySequence(Qt::SHIFT | Qt::Key_Escape), &OnCancelAll);
    RemoveSelected = make("QueueRemove", "&Remove", QKeySequence(QKeySequence::Delete), &OnRemove);
    RetryFailed = make("QueueRetry", "Re&try Failed", QKeySequence(Qt::CTRL | Qt::Key_R), &OnRetry);
    MoveUp = make("QueueMoveUp", "Move &Up", QKeySequence(Qt::CTRL | Qt::Key_Up), &OnMoveUp);
    MoveDown = make("QueueMoveDown", "Move &Down", QKeySequence(Qt::CTRL | Qt::Key_Down), &OnMoveDown);
    PauseQueue = new QAction("&Pause", this);
    PauseQueue->setObjectName("QueuePause");
    PauseQueue->setCheckable(true);
    PauseQueue->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    PauseQueue->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(PauseQueue, &QAction::toggled, this, [this](bool on) {
        if (OnPause) OnPause(on);
    });
    addAction(PauseQueue);
    auto* pause = new QToolButton(this);
    pause->setDefaultAction(PauseQueue);
    pause->setAccessibleName("Pause");
    buttons->addWidget(pause);
    buttons->addStretch(1);

    View->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(View, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.setAccessibleName("Transfer queue menu");
        menu.addActions(Commands());
        menu.exec(View->viewport()->mapToGlobal(at));
    });

    FTimer = new QTimer(this);
    FTimer->setInterval(RepaintIntervalMs);
    connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
    FTimer->start();
}

QList<QAction*> TQueuePane::Commands() const {
    return {CancelFile, CancelAllFiles, RemoveSelected, RetryFailed, MoveUp, MoveDown, PauseQueue};
}

std::vector<std::uint64_t> TQueuePane::SelectedIds() const {
    std::vector<std::uint64_t> ids;
    QModelIndexList rows = View->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& r : rows)
        if (r.row() < static_cast<int>(FQueue.Count()))
            ids.push_back(FQueue.Items()[static_cast<std::size_t>(r.row())].Id);
    return ids;
}

void TQueuePane::RefreshNow() {
    // A reset drops the selection; the selected rows are chosen again by id.
    const std::vector<std::uint64_t> selected = SelectedIds();
    const bool reorder = FDirty;
    FDirty = false;
    Model->Refresh();
    if (reorder && !selected.empty()) {
        QItemSelection again;
        for (std::uint64_t id : selected) {
            const long row = FQueue.IndexOf(id);
            if (row >= 0)
                again.select(Model->index(static_cast<int>(row), 0),
                             Model->index(static_cast<int>(row), TQueueModel::colCount - 1));
        }
        View->selectionModel()->select(again, QItemSelectionModel::ClearAndSelect);
    }
}

void TQueuePane::Tick() {
    if (FDirty || FQueue.Running()) RefreshNow();
}
