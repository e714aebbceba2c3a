// The transfer queue model: order, states, the user's commands, the batch's standing answers,
// speed and time left, and what an existing target's answer means.
#include "ftp/TransferQueue.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::vector<std::string> Order(const TTransferQueue& q) {
    std::vector<std::string> names;
    for (const TQueueItem& i : q.Items()) names.push_back(i.LocalPath);
    return names;
}

TEST(TransferQueue, RunsOneAtATimeInOrderAndPauseHoldsTheNext) {
    TTransferQueue q;
    const auto a = q.Add("a", "/a", true, 10);
    const auto b = q.Add("b", "/b", false);
    TQueueItem* first = q.StartNext(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Id, a);
    EXPECT_EQ(q.StartNext(0), nullptr) << "a second transfer while one runs";
    q.Finished(a, true, "");
    EXPECT_EQ(q.Find(a)->State, TQueueState::Done);
    EXPECT_EQ(q.Find(a)->BytesDone, 10u);
    q.SetPaused(true);
    EXPECT_EQ(q.StartNext(0), nullptr);
    EXPECT_TRUE(q.Busy());
    q.SetPaused(false);
    ASSERT_NE(q.StartNext(0), nullptr);
    EXPECT_EQ(q.Running()->Id, b);
    q.Finished(b, false, "550 No such file");
    EXPECT_EQ(q.Find(b)->State, TQueueState::Failed);
    EXPECT_EQ(q.Find(b)->Reason, "550 No such file");
    EXPECT_FALSE(q.Busy());
    EXPECT_EQ(q.StartNext(0), nullptr);
}

TEST(TransferQueue, CancelRemoveAndRetry) {
    TTransferQueue q;
    const auto a = q.Add("a", "/a", true, 100);
    const auto b = q.Add("b", "/b", true);
    const auto c = q.Add("c", "/c", true);
    q.StartNext(0);
    EXPECT_FALSE(q.Remove({a})) << "the running row stays until its worker ends";
    EXPECT_TRUE(q.CancelRunning());
    EXPECT_FALSE(q.CancelRunning()) << "asked once";
    // The worker may still report success after the abort was asked for; the user's cancel wins.
    q.Finished(a, true, "", 40);
    EXPECT_EQ(q.Find(a)->State, TQueueState::Failed);
    EXPECT_EQ(q.Find(a)->Reason, "Cancelled");
    EXPECT_EQ(q.Find(a)->ResumeOffset, 40u);

    q.StartNext(0);
    EXPECT_TRUE(q.CancelAll());
    q.Finished(b, false, "aborted");
    EXPECT_EQ(q.Find(b)->Reason, "Cancelled");
    EXPECT_EQ(q.Find(c)->State, TQueueState::Skipped);
    EXPECT_FALSE(q.Busy());

    EXPECT_TRUE(q.Remove({c}));
    EXPECT_EQ(q.Find(c), nullptr);
    EXPECT_TRUE(q.RetryFailed());
    EXPECT_EQ(q.Find(a)->State, TQueueState::Queued);
    EXPECT_TRUE(q.Find(a)->Reason.empty());
    // A retried download starts where the kept part ends.
    TQueueItem* again = q.StartNext(0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Id, a);
    EXPECT_EQ(again->BytesDone, 40u);
    EXPECT_EQ(again->ResumeOffset, 40u);
    q.Finished(a, true, "");
    EXPECT_EQ(q.Find(a)->ResumeOffset, 0u) << "a finished file has nothing to resume";
    EXPECT_TRUE(q.ClearFinished());
    EXPECT_EQ(q.Find(a), nullptr);
}

// A failed download keeps its part for the retry; success, removal and the queue's end let it go.
TEST(TransferQueue, KeptPartsGoOnAndLeaveWithTheirRows) {
    std::vector<std::string> discarded;
    {
        TTransferQueue q;
        q.OnDiscard = [&](const TQueueItem& i) { discarded.push_back(i.PartialPath); };
        const auto a = q.Add("a", "/a", true, 100);
        const auto b = q.Add("b", "/b", true, 100);
        const auto c = q.Add("c", "/c", false, 100);
        for (auto id : {a, b}) {
            ASSERT_EQ(q.StartNext(0)->Id, id);
            q.Progress(id, 40, 10);
            q.Finished(id, false, "dropped", 40, "." + q.Find(id)->LocalPath + ".part-00000001");
        }
        EXPECT_EQ(q.Find(a)->ResumeOffset, 40u);
        EXPECT_TRUE(q.Find(a)->Interrupted);
        ASSERT_EQ(q.StartNext(0)->Id, c);
        q.Finished(c, false, "refused");
        EXPECT_FALSE(q.Find(c)->Interrupted) << "nothing had moved";

        ASSERT_TRUE(q.RetryFailed());
        TQueueItem* run = q.StartNext(0);
        ASSERT_EQ(run->Id, a);
        EXPECT_EQ(run->BytesDone, 40u) << "the retry counts the kept part";
        q.Finished(a, true, "");
        EXPECT_TRUE(q.Find(a)->PartialPath.empty());
        EXPECT_EQ(q.Find(a)->ResumeOffset, 0u);

        // A cancelled run keeps its part too.
        run = q.StartNext(0);
        ASSERT_EQ(run->Id, b);
        q.CancelRunning();
        q.Finished(b, true, "", 60, ".b.part-00000002");
        EXPECT_EQ(q.Find(b)->Reason, "Cancelled");
        EXPECT_EQ(q.Find(b)->PartialPath, ".b.part-00000002");
        q.Remove({b});
        EXPECT_EQ(discarded, std::vector<std::string>{".b.part-00000002"});
        discarded.clear();
        q.Finished(c, false, "", 0, ".c.part-00000003"); // not running: ignored
        q.StartNext(0);
        q.Finished(c, false, "refused", 10, ".c.part-00000003");
    }
    EXPECT_EQ(discarded, std::vector<std::string>{".c.part-00000003"}) << "the queue's end takes the rest";
}

TEST(TransferQueue, MoveUpAndDownKeepSelectedBlocksTogether) {
    TTransferQueue q;
    const auto a = q.Add("a", "", true);
    const auto b = q.Add("b", "", true);
    const auto c = q.Add("c", "", true);
    const auto d = q.Add("d", "", true);
    EXPECT_TRUE(q.MoveUp({c, d}));
    EXPECT_EQ(Order(q), (std::vector<std::string>{"a", "c", "d", "b"}));
    EXPECT_FALSE(q.MoveUp({a, c}));
    EXPECT_EQ(Order(q), (std::vector<std::string>{"a", "c", "d", "b"})) << "a block at the top stays";
    EXPECT_TRUE(q.MoveDown({a}));
    EXPECT_EQ(Order(q), (std::vector<std::string>{"c", "a", "d", "b"}));
    EXPECT_FALSE(q.MoveDown({b}));
    EXPECT_TRUE(q.MoveDown({c, a}));
    EXPECT_EQ(Order(q), (std::vector<std::string>{"d", "c", "a", "b"}));
    // The moved order is the run order.
    EXPECT_EQ(q.StartNext(0)->Id, d);
    (void)b;
}

TEST(TransferQueue, BatchAnswersBelongToTheirBatch) {
    TTransferQueue q;
    const auto first = q.BeginBatch();
    const auto a = q.Add("a", "", true);
    q.Answers(first).SilenceFailures = true;
    q.Answers(first).OverwriteAll = TOverwriteAnswer::Skip;
    const auto second = q.BeginBatch();
    const auto b = q.Add("b", "", true);
    EXPECT_NE(first, second);
    EXPECT_EQ(q.Find(a)->Batch, first);
    EXPECT_EQ(q.Find(b)->Batch, second);
    EXPECT_TRUE(q.Answers(first).SilenceFailures);
    EXPECT_FALSE(q.Answers(second).SilenceFailures) << "a new batch asks again";
    EXPECT_FALSE(q.Answers(second).OverwriteAll.has_value());
}

TEST(TransferQueue, SpeedTimeLeftAndTotals) {
    TTransferQueue q;
    const auto a = q.Add("a", "", true, 1000);
    q.Add("b", "", true, 1000);
    const auto failed = q.Add("c", "", true, 5000);
    q.Find(failed)->State = TQueueState::Failed;
    q.StartNext(1000);
    q.Progress(a, 50, 1100); // too soon for a sample
    EXPECT_EQ(q.Find(a)->BytesPerSecond, 0);
    EXPECT_EQ(TTransferQueue::SecondsLeft(*q.Find(a)), -1);
    q.Progress(a, 100, 2000);
    EXPECT_DOUBLE_EQ(q.Find(a)->BytesPerSecond, 100);
    EXPECT_DOUBLE_EQ(TTransferQueue::SecondsLeft(*q.Find(a)), 9);
    q.Progress(a, 300, 3000); // 200 B/s, smoothed
    EXPECT_GT(q.Find(a)->BytesPerSecond, 100);
    EXPECT_LT(q.Find(a)->BytesPerSecond, 200);
    const auto t = q.Totals();
    EXPECT_EQ(t.Files, 3u);
    EXPECT_EQ(t.FilesFailed, 1u);
    EXPECT_EQ(t.BytesTotal, 2000u) << "a failed row is not work left";
    EXPECT_EQ(t.BytesDone, 300u);
    EXPECT_NEAR(t.SecondsLeft, 1700 / q.Find(a)->BytesPerSecond, 1e-9);
    // An unknown size leaves the batch's time left unknown.
    q.Add("d", "", false);
    EXPECT_EQ(q.Totals().SecondsLeft, -1);
}

TEST(TransferQueue, ReportsForRowsNotRunningAreIgnored) {
    TTransferQueue q;
    const auto a = q.Add("a", "", true, 10);
    q.Progress(a, 5, 0);
    q.Finished(a, true, "");
    EXPECT_EQ(q.Find(a)->State, TQueueState::Queued);
    q.Finished(999, true, "");
    q.StartNext(0);
    q.Finished(a, true, "");
    q.Skip(a, "late");
    EXPECT_EQ(q.Find(a)->State, TQueueState::Done) << "a done row is never turned into a skipped one";
}

TEST(TransferQueue, ManyRowsStayCheapToAdd) {
    TTransferQueue q;
    for (int i = 0; i < 10000; ++i) q.Add(std::to_string(i), "", true, 1);
    EXPECT_EQ(q.Count(), 10000u);
    EXPECT_EQ(q.IndexOf(q.Items().back().Id), 9999);
}

TEST(ResolveOverwrite, EachAnswer) {
    const auto none = [](const std::string&) { return false; };
    const TFileFacts src{100, 2000}, shorter{40, 1000}, longer{200, 3000};
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::Overwrite, "t", src, longer, none).Kind,
              TOverwriteAction::Write);
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::Skip, "t", src, shorter, none).Kind, TOverwriteAction::Skip);

    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::OverwriteIfNewer, "t", src, shorter, none).Kind,
              TOverwriteAction::Write);
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::OverwriteIfNewer, "t", src, longer, none).Kind,
              TOverwriteAction::Skip);
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::OverwriteIfNewer, "t", src, TFileFacts{40, 2000}, none).Kind,
              TOverwriteAction::Skip)
        << "same time is not newer";
    EXPECT_EQ(
        ResolveOverwrite(TOverwriteAnswer::OverwriteIfNewer, "t", TFileFacts{100, 0}, shorter, none).Kind,
        TOverwriteAction::Skip)
        << "an unknown time overwrites nothing";

    const auto resume = ResolveOverwrite(TOverwriteAnswer::Resume, "t", src, shorter, none);
    EXPECT_EQ(resume.Kind, TOverwriteAction::Resume);
    EXPECT_EQ(resume.Offset, 40u);
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::Resume, "t", src, longer, none).Kind,
              TOverwriteAction::Write)
        << "a target at least as long as the source is written whole";
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::Resume, "t", TFileFacts{}, shorter, none).Kind,
              TOverwriteAction::Write);
}

TEST(ResolveOverwrite, RenamePicksAFreeNumberedName) {
    std::set<std::string> taken{"dir/report.txt", "dir/report (1).txt", "dir/report (2).txt"};
    const auto exists = [&](const std::string& p) { return taken.count(p) != 0; };
    const auto a = ResolveOverwrite(TOverwriteAnswer::Rename, "dir/report.txt", {}, {}, exists);
    EXPECT_EQ(a.Kind, TOverwriteAction::Write);
    EXPECT_EQ(a.TargetPath, "dir/report (3).txt");
    EXPECT_EQ(NumberedName("dir.d/.profile", 1), "dir.d/.profile (1)");
    EXPECT_EQ(NumberedName("archive.tar.gz", 2), "archive.tar (2).gz");
    EXPECT_EQ(NumberedName("README", 4), "README (4)");
    const auto always = [](const std::string&) { return true; };
    EXPECT_EQ(ResolveOverwrite(TOverwriteAnswer::Rename, "x", {}, {}, always).Kind, TOverwriteAction::Skip);
}

} // namespace
