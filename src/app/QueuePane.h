// TQueuePane: the transfer queue under the FTP tab's two lists. One row per file (direction,
// local and server path, size, progress bar, speed, time left, state with its reason) over the
// window's TTransferQueue, and the commands that steer it. The view repaints from a timer at
// most ten times a second, however often the worker reports, and reads only visible rows, so
// ten thousand queued files cost nothing until scrolled to.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <functional>
#include <vector>

class QAction;
class QTimer;
class QToolButton;
class QTreeView;
class TTransferQueue;

class TQueueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn {
        colDirection,
        colLocal,
        colServer,
        colSize,
        colProgress,
        colSpeed,
        colLeft,
        colState,
        colCount
    };
    explicit TQueueModel(TTransferQueue& queue, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The queue changed: rows added or removed are reset, the rest repaint.
    void Refresh();

private:
    TTransferQueue& FQueue;
    int FRows = 0;
};

class TQueuePane : public QWidget {
    Q_OBJECT
public:
    TQueuePane(TTransferQueue& queue, QWidget* parent = nullptr);

    QTreeView* View = nullptr;
    TQueueModel* Model = nullptr;
    QAction* CancelFile = nullptr;
    QAction* CancelAllFiles = nullptr;
    QAction* RemoveSelected = nullptr;
    QAction* RetryFailed = nullptr;
    QAction* MoveUp = nullptr;
    QAction* MoveDown = nullptr;
    QAction* PauseQueue = nullptr; // checkable: checked = paused
    QList<QAction*> Commands() const;

    // The ids of the selected rows, in list order.
    std::vector<std::uint64_t> SelectedIds() const;
    // Marks the queue changed; the next tick repaints.
    void Changed() { FDirty = true; }
    // Repaints now (tests, and the end of a batch).
    void RefreshNow();

    // Hooks to the window: each command goes through the window's command guard.
    std::function<void()> OnCancelFile, OnCancelAll, OnRemove, OnRetry, OnMoveUp, OnMoveDown;
    std::function<void(bool paused)> OnPause;

private:
    TTransferQueue& FQueue;
    QTimer* FTimer = nullptr;
    bool FDirty = false;
    void Tick();
};

// "1.5 MB/s", "12 KB/s"; "" when unknown.
QString SpeedText(double bytesPerSecond);
// "1:05:09", "4:07"; "" when unknown.
QString DurationText(double seconds);
