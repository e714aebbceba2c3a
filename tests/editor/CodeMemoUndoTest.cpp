// The undo list on its own: absorption rules, the redo chain, the limit and replay through a target.
#include "editor/CodeMemoUndo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A one-line text as the target, enough to replay character records.
struct TLineTarget : TUndoTarget {
    std::string Text;
    TMemoPos Caret;
    void UndoSetCaret(TMemoPos pos) override { Caret = pos; }
    void UndoInsert(TMemoPos at, std::string_view text) override { Text.insert(std::size_t(at.Col), text); }
    void UndoDelete(TMemoPos from, TMemoPos to) override {
        Text.erase(std::size_t(from.Col), std::size_t(to.Col - from.Col));
    }
    void UndoInsertLine(int, std::string_view) override {}
    void UndoDeleteLine(int) override {}
    void UndoSetLine(int, std::string_view) override {}
    void UndoSelect(TMemoPos, TMemoPos) override {}
};

std::unique_ptr<TUndo> Typed(int col, const std::string& s, std::string over = {}) {
    return std::make_unique<TInsertCharUndo>(TMemoPos{col, 0}, TMemoPos{col + int(s.size()), 0}, s, over);
}

} // namespace

TEST(CodeMemoUndo, RunsFoldOnlyWhenTheyTouch) {
    TCodeMemoUndoList list;
    list.Add(Typed(0, "a"));
    list.Add(Typed(1, "b"));
    list.Add(Typed(5, "c")); // elsewhere: a new step
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Record(1).Text, "ab");
    // Backspace runs prepend, Delete runs append: the text stays in document order.
    list.Add(std::make_unique<TDeleteCharUndo>(TMemoPos{3, 0}, TMemoPos{2, 0}, "c", true));
    list.Add(std::make_unique<TDeleteCharUndo>(TMemoPos{2, 0}, TMemoPos{1, 0}, "b", true));
    EXPECT_EQ(list.Record(0).Text, "bc");
    list.Add(std::make_unique<TDeleteCharUndo>(TMemoPos{1, 0}, TMemoPos{1, 0}, "x", false));
    list.Add(std::make_unique<TDeleteCharUndo>(TMemoPos{1, 0}, TMemoPos{1, 0}, "y", false));
    EXPECT_EQ(list.Record(0).Text, "xy");
    EXPECT_EQ(list.Count(), 4);
}

TEST(CodeMemoUndo, ReplayRedoChainAndLimit) {
    TLineTarget t;
    TCodeMemoUndoList list;
    // "cd" typed over "XY" in overwrite mode.
    t.Text = "abcdef";
    list.Add(Typed(2, "c", "X"));
    list.Add(Typed(3, "d", "Y"));
    list.Undo(t);
    EXPECT_EQ(t.Text, "abXYef");
    EXPECT_EQ(t.Caret, (TMemoPos{2, 0}));
    list.Redo(t);
    EXPECT_EQ(t.Text, "abcdef");
    EXPECT_EQ(t.Caret, (TMemoPos{4, 0}));
    // Undo then a new action: the undone record is gone, not extended.
    list.Undo(t);
    list.Add(Typed(2, "z"));
    EXPECT_FALSE(list.CanRedo());
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Record(0).Text, "z");

    list.Clear();
    list.SetLimit(500);
    EXPECT_EQ(list.Limit(), 100);
    for (int i = 0; i < 150; ++i) list.Add(Typed(2 * i, "q")); // never touching: 150 steps
    EXPECT_EQ(list.Count(), 100);
    EXPECT_EQ(list.Record(99).StartPos.Col, 100); // the oldest kept is the 51st
    list.SetLimit(3);
    EXPECT_EQ(list.Count(), 3);
}
