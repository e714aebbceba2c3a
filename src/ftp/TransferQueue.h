// TTransferQueue: the files of the transfer batches, one row each, and the decisions about them.
// It takes the worker's reports (started, bytes so far, finished) and the user's commands
// (cancel, remove, retry, move, pause) and says which row runs next; it also holds a batch's
// standing answers (the failure message silenced, the overwrite answer applied to all files).
// Plain C++: times come in as milliseconds from the caller's clock, so the speed and time left
// are tested without a window or a timer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

constexpr std::uint64_t QueueSizeUnknown = ~std::uint64_t{0};

enum class TQueueState { Queued, Running, Done, Failed, Skipped };

// What to do with a target that exists already.
enum class TOverwriteAnswer { Overwrite, OverwriteIfNewer, Resume, Skip, Rename };

struct TQueueItem {
    std::uint64_t Id = 0;    // stable while the row lives; commands name rows by it
    std::uint64_t Batch = 0; // rows queued by one command share a batch
    std::string LocalPath;
    std::string RemotePath;
    bool Downloading = false;
    std::uint64_t Size = QueueSizeUnknown; // the source's size when known
    TQueueState State = TQueueState::Queued;
    std::string Reason;             // why it failed or was skipped
    std::uint64_t BytesDone = 0;    // of this run, including the resumed part
    std::uint64_t ResumeOffset = 0; // where the next run starts; 0 = from the beginning
    // A download's kept part that the next run goes on from ("" = none); the target itself when
    // a shorter target is continued in place. Uploads go on from ResumeOffset alone.
    std::string PartialPath;
    bool Interrupted = false;     // the last run failed after bytes had moved
    bool CancelRequested = false; // the user cancelled it while it ran
    std::int64_t StartedMs = 0;
    double BytesPerSecond = 0; // this row's speed while it runs
};

// The standing answers of one batch.
struct TBatchAnswers {
    bool SilenceFailures = false;                 // "Don't show this again for this batch"
    std::optional<TOverwriteAnswer> OverwriteAll; // "Apply to all files of this batch"
};

// What the overwrite question's answer means for one file.
struct TOverwriteAction {
    enum TKind { Write, Resume, Skip } Kind = Write;
    std::uint64_t Offset = 0; // Resume: bytes of the target kept
    std::string TargetPath;   // Write or Resume: where the file goes (Rename picks a new one)
};

// One side of a transfer as the overwrite decision sees it.
struct TFileFacts {
    std::uint64_t Size = QueueSizeUnknown;
    std::int64_t ModifiedMs = 0; // 0 = unknown
};

// The answer applied to one file. Resume keeps the target only when it is shorter than a source
// of known size (otherwise it is written whole); "if newer" writes only a source known to be
// newer; Rename asks `exists` for a free "name (n).ext" beside the target.
TOverwriteAction ResolveOverwrite(TOverwriteAnswer answer, const std::string& targetPath,
                                  const TFileFacts& source, const TFileFacts& target,
                                  const std::function<bool(const std::string&)>& exists);

// "report (2).txt" for n = 2 and "report.txt"; a dot leading the name is not an extension.
std::string NumberedName(const std::string& path, int n);

class TTransferQueue {
public:
    TTransferQueue() = default;
    TTransferQueue(const TTransferQueue&) = delete;
    TTransferQueue& operator=(const TTransferQueue&) = delete;
    ~TTransferQueue();
    // Starts a batch; the rows added after it belong to it. Returns the batch number.
    std::uint64_t BeginBatch();
    std::uint64_t Add(const std::string& local, const std::string& remote, bool downloading,
                      std::uint64_t size = QueueSizeUnknown);

    const std::deque<TQueueItem>& Items() const { return FItems; }
    std::size_t Count() const { return FItems.size(); }
    TQueueItem* Find(std::uint64_t id);
    const TQueueItem* Find(std::uint64_t id) const;
    // Position of the row, or -1.
    long IndexOf(std::uint64_t id) const;
    const TQueueItem* Running() const;

    // The row to start now, marked running: the first queued one, or none while paused or
    // while one runs (one transfer at a time).
    TQueueItem* StartNext(std::int64_t nowMs);
    // The worker's progress: bytes of the file so far (the resumed part included).
    void Progress(std::uint64_t id, std::uint64_t bytesDone, std::int64_t nowMs);
    // The worker's end. A row the user cancelled ends failed "Cancelled" whatever the worker
    // said; a failed download keeps what it received as the next run's resume point when
    // `keptBytes` is given.
    void Finished(std::uint64_t id, bool ok, const std::string& reason, std::uint64_t keptBytes = 0,
                  const std::string& partialPath = {});
    void Skip(std::uint64_t id, const std::string& reason);

    // Commands. Each returns whether it changed something.
    bool CancelRunning();                               // the caller aborts the transfer itself
    bool CancelAll();                                   // queued rows are skipped, the running one cancelled
    bool Remove(const std::vector<std::uint64_t>& ids); // never the running row
    bool RetryFailed();                                 // failed and skipped rows queue again
    bool MoveUp(const std::vector<std::uint64_t>& ids);
    bool MoveDown(const std::vector<std::uint64_t>& ids);
    bool ClearFinished(); // drops the done rows
    // Called for every row that leaves the queue with a kept part, so its file can go too.
    std::function<void(const TQueueItem&)> OnDiscard;
    void SetPaused(bool paused) { FPaused = paused; }
    bool Paused() const { return FPaused; }
    // True while rows wait or one runs.
    bool Busy() const;
    std::size_t Pending() const;

    TBatchAnswers& Answers(std::uint64_t batch);

    // The totals of the unfinished work and of what ran: bytes of the queued and running rows
    // of known size, bytes moved by them, the running speed and the seconds left (-1 unknown).
    struct TTotals {
        std::uint64_t Files = 0, FilesDone = 0, FilesFailed = 0;
        std::uint64_t BytesTotal = 0, BytesDone = 0;
        double BytesPerSecond = 0;
        double SecondsLeft = -1;
    };
    TTotals Totals() const;

    // Seconds left of one row at its speed, -1 unknown.
    static double SecondsLeft(const TQueueItem& item);

private:
    std::deque<TQueueItem> FItems;
    std::vector<std::pair<std::uint64_t, TBatchAnswers>> FBatches;
    std::uint64_t FNextId = 1;
    std::uint64_t FBatch = 0;
    bool FPaused = false;
    // The running row's last speed sample.
    std::int64_t FLastProgressMs = 0;
    std::uint64_t FSampleBytes = 0;
};
