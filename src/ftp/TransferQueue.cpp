// The transfer queue model; see TransferQueue.h.
#include "ftp/TransferQueue.h"

#include <algorithm>

namespace {

// Speed samples closer than this are merged: a burst of small callbacks would swing the figure.
constexpr std::int64_t SpeedSampleMs = 250;
// Weight of the newest sample in the smoothed speed.
constexpr double SpeedWeight = 0.3;

bool IsOver(TQueueState s) {
    return s == TQueueState::Done || s == TQueueState::Failed || s == TQueueState::Skipped;
}

} // namespace

std::string NumberedName(const std::string& path, int n) {
    const auto slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    auto dot = path.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart) dot = path.size();
    return path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
}

TOverwriteAction ResolveOverwrite(TOverwriteAnswer answer, const std::string& targetPath,
                                  const TFileFacts& source, const TFileFacts& target,
                                  const std::function<bool(const std::string&)>& exists) {
    TOverwriteAction action;
    action.TargetPath = targetPath;
    switch (answer) {
    case TOverwriteAnswer::Overwrite:
        break;
    case TOverwriteAnswer::OverwriteIfNewer:
        // An unknown time is never "newer": nothing is overwritten on a guess.
        if (source.ModifiedMs == 0 || target.ModifiedMs == 0 || source.ModifiedMs <= target.ModifiedMs)
            action.Kind = TOverwriteAction::Skip;
        break;
    case TOverwriteAnswer::Resume:
        if (source.Size != QueueSizeUnknown && target.Size != QueueSizeUnknown && target.Size < source.Size) {
            action.Kind = TOverwriteAction::Resume;
            action.Offset = target.Size;
        }
        break;
    case TOverwriteAnswer::Skip:
        action.Kind = TOverwriteAction::Skip;
        break;
    case TOverwriteAnswer::Rename: {
        constexpr int MaxTries = 10000;
        for (int n = 1; n <= MaxTries; ++n) {
            std::string candidate = NumberedName(targetPath, n);
            if (!exists || !exists(candidate)) {
                action.TargetPath = std::move(candidate);
                return action;
            }
        }
        action.Kind = TOverwriteAction::Skip; // no free name: nothing is overwritten
        break;
    }
    }
    return action;
}

std::uint64_t TTransferQueue::BeginBatch() {
    FBatches.emplace_back(++FBatch, TBatchAnswers{});
    // Answers of batches whose rows are all gone are dropped with them.
    std::erase_if(FBatches, [this](const auto& b) {
        return b.first != FBatch && std::none_of(FItems.begin(), FItems.end(),
                                                 [&](const TQueueItem& i) { return i.Batch == b.first; });
    });
    return FBatch;
}

std::uint64_t TTransferQueue::Add(const std::string& local, const std::string& remote, bool downloading,
                                  std::uint64_t size) {
    if (FBatch == 0) BeginBatch();
    TQueueItem item;
    item.Id = FNextId++;
    item.Batch = FBatch;
    item.LocalPath = local;
    item.RemotePath = remote;
    item.Downloading = downloading;
    item.Size = size;
    FItems.push_back(std::move(item));
    return FItems.back().Id;
}

long TTransferQueue::IndexOf(std::uint64_t id) const {
    for (std::size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Id == id) return static_cast<long>(i);
    return -1;
}

TQueueItem* TTransferQueue::Find(std::uint64_t id) {
    const long i = IndexOf(id);
    return i < 0 ? nullptr : &FItems[static_cast<std::size_t>(i)];
}

const TQueueItem* TTransferQueue::Find(std::uint64_t id) const {
    const long i = IndexOf(id);
    return i < 0 ? nullptr : &FItems[static_cast<std::size_t>(i)];
}

const TQueueItem* TTransferQueue::Running() const {
    for (const TQueueItem& i : FItems)
        if (i.State == TQueueState::Running) return &i;
    return nullptr;
}

bool TTransferQueue::Busy() const {
    return std::any_of(FItems.begin(), FItems.end(), [](const TQueueItem& i) {
        return i.State == TQueueState::Queued || i.State == TQueueState::Running;
    });
}

std::size_t TTransferQueue::Pending() const {
    return static_cast<std::size_t>(std::count_if(FItems.begin(), FItems.end(), [](const TQueueItem& i) {
        return i.State == TQueueState::Queued || i.State == TQueueState::Running;
    }));
}

TQueueItem* TTransferQueue::StartNext(std::int64_t nowMs) {
    if (FPaused || Running()) return nullptr;
    for (TQueueItem& i : FItems) {
        if (i.State != TQueueState::Queued) continue;
        i.State = TQueueState::Running;
        i.Reason.clear();
        i.CancelRequested = false;
        i.BytesDone = i.ResumeOffset;
        i.BytesPerSecond = 0;
        i.StartedMs = nowMs;
        FLastProgressMs = nowMs;
        FSampleBytes = i.BytesDone;
        return &i;
    }
    return nullptr;
}

void TTransferQueue::Progress(std::uint64_t id, std::uint64_t bytesDone, std::int64_t nowMs) {
    TQueueItem* i = Find(id);
    if (!i || i->State != TQueueState::Running) return;
    i->BytesDone = bytesDone;
    const std::int64_t dt = nowMs - FLastProgressMs;
    if (dt < 0 || bytesDone < FSampleBytes) { // a clock or a count that went back: start over
        FLastProgressMs = nowMs;
        FSampleBytes = bytesDone;
        return;
    }
    if (dt < SpeedSampleMs) return;
    const double sample = static_cast<double>(bytesDone - FSampleBytes) * 1000.0 / static_cast<double>(dt);
    i->BytesPerSecond =
        i->BytesPerSecond == 0 ? sample : (1 - SpeedWeight) * i->BytesPerSecond + SpeedWeight * sample;
    FLastProgressMs = nowMs;
    FSampleBytes = bytesDone;
}

void TTransferQueue::Finished(std::uint64_t id, bool ok, const std::string& reason, std::uint64_t keptBytes,
                              const std::string& partialPath) {
    TQueueItem* i = Find(id);
    if (!i || i->State != TQueueState::Running) return;
    i->BytesPerSecond = 0;
    if (ok && !i->CancelRequested) {
        i->State = TQueueState::Done;
        i->Reason.clear();
        i->ResumeOffset = 0;
        i->PartialPath.clear();
        i->Interrupted = false;
        if (i->Size != QueueSizeUnknown) i->BytesDone = i->Size;
        return;
    }
    i->State = TQueueState::Failed;
    i->Reason = i->CancelRequested ? std::string("Cancelled")
                : reason.empty()   ? std::string("Failed")
                                   : reason;
    i->Interrupted = i->BytesDone > i->ResumeOffset || keptBytes > 0;
    i->ResumeOffset = keptBytes;
    i->PartialPath = partialPath;
    i->CancelRequested = false;
}

void TTransferQueue::Skip(std::uint64_t id, const std::string& reason) {
    TQueueItem* i = Find(id);
    if (!i || i->State == TQueueState::Done) return;
    i->State = TQueueState::Skipped;
    i->Reason = reason;
    i->BytesPerSecond = 0;
}

bool TTransferQueue::CancelRunning() {
    for (TQueueItem& i : FItems)
        if (i.State == TQueueState::Running && !i.CancelRequested) {
            i.CancelRequested = true;
            return true;
        }
    return false;
}

bool TTransferQueue::CancelAll() {
    bool changed = CancelRunning();
    for (TQueueItem& i : FItems)
        if (i.State == TQueueState::Queued) {
            i.State = TQueueState::Skipped;
            i.Reason = "Cancelled";
            changed = true;
        }
    return changed;
}

TTransferQueue::~TTransferQueue() {
    if (OnDiscard)
        for (const TQueueItem& i : FItems)
            if (!i.PartialPath.empty()) OnDiscard(i);
}

bool TTransferQueue::Remove(const std::vector<std::uint64_t>& ids) {
    const std::size_t before = FItems.size();
    std::erase_if(FItems, [&](const TQueueItem& i) {
        const bool gone =
            i.State != TQueueState::Running && std::find(ids.begin(), ids.end(), i.Id) != ids.end();
        if (gone && OnDiscard && !i.PartialPath.empty()) OnDiscard(i);
        return gone;
    });
    return FItems.size() != before;
}

bool TTransferQueue::RetryFailed() {
    bool changed = false;
    for (TQueueItem& i : FItems)
        if (i.State == TQueueState::Failed || i.State == TQueueState::Skipped) {
            i.State = TQueueState::Queued;
            i.Reason.clear();
            changed = true;
        }
    return changed;
}

bool TTransferQueue::MoveUp(const std::vector<std::uint64_t>& ids) {
    bool changed = false;
    // Front to back, a selected row passes an unselected one above it; a block moves as one.
    for (std::size_t k = 1; k < FItems.size(); ++k) {
        const bool selected = std::find(ids.begin(), ids.end(), FItems[k].Id) != ids.end();
        const bool aboveSelected = std::find(ids.begin(), ids.end(), FItems[k - 1].Id) != ids.end();
        if (selected && !aboveSelected) {
            std::swap(FItems[k], FItems[k - 1]);
            changed = true;
        }
    }
    return changed;
}

bool TTransferQueue::MoveDown(const std::vector<std::uint64_t>& ids) {
    bool changed = false;
    for (std::size_t k = FItems.size(); k-- > 1;) {
        const bool selected = std::find(ids.begin(), ids.end(), FItems[k - 1].Id) != ids.end();
        const bool belowSelected = std::find(ids.begin(), ids.end(), FItems[k].Id) != ids.end();
        if (selected && !belowSelected) {
            std::swap(FItems[k], FItems[k - 1]);
            changed = true;
        }
    }
    return changed;
}

bool TTransferQueue::ClearFinished() {
    const std::size_t before = FItems.size();
    std::erase_if(FItems, [](const TQueueItem& i) { return i.State == TQueueState::Done; });
    return FItems.size() != before;
}

TBatchAnswers& TTransferQueue::Answers(std::uint64_t batch) {
    for (auto& [number, answers] : FBatches)
        if (number == batch) return answers;
    FBatches.emplace_back(batch, TBatchAnswers{});
    return FBatches.back().second;
}

double TTransferQueue::SecondsLeft(const TQueueItem& item) {
    if (item.State != TQueueState::Running || item.Size == QueueSizeUnknown || item.BytesPerSecond <= 0)
        return -1;
    if (item.BytesDone >= item.Size) return 0;
    return static_cast<double>(item.Size - item.BytesDone) / item.BytesPerSecond;
}

TTransferQueue::TTotals TTransferQueue::Totals() const {
    TTotals t;
    bool sizesKnown = true;
    for (const TQueueItem& i : FItems) {
        ++t.Files;
        if (i.State == TQueueState::Done) ++t.FilesDone;
        if (i.State == TQueueState::Failed) ++t.FilesFailed;
        if (IsOver(i.State) && i.State != TQueueState::Done) continue; // not going to move
        if (i.Size == QueueSizeUnknown) {
            if (i.State != TQueueState::Done) sizesKnown = false;
            continue;
        }
        t.BytesTotal += i.Size;
        t.BytesDone += i.State == TQueueState::Done ? i.Size : std::min(i.BytesDone, i.Size);
        if (i.State == TQueueState::Running) t.BytesPerSecond = i.BytesPerSecond;
    }
    if (sizesKnown && t.BytesPerSecond > 0)
        t.SecondsLeft = static_cast<double>(t.BytesTotal - t.BytesDone) / t.BytesPerSecond;
    return t;
}
