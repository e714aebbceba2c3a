// Undo records and the list that folds, limits and replays them.
#include "editor/CodeMemoUndo.h"

#include "editor/TextEncoding.h"

#include <algorithm>

TMemoPos TextEndPos(TMemoPos from, std::string_view text) {
    TMemoPos pos = from;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            ++pos.Line;
            pos.Col = 0;
            lineStart = i + 1;
        }
    }
    pos.Col += static_cast<int>(Utf8CharCount(text.substr(lineStart)));
    return pos;
}

bool TInsertCharUndo::Absorb(const TUndo& next) {
    auto* other = dynamic_cast<const TInsertCharUndo*>(&next);
    if (!other || other->StartPos != EndPos) return false;
    // The next action starts where this one's text ends, so what it typed over continues what this
    // one typed over: both pairs join into one replacement at StartPos.
    Text += other->Text;
    Overwritten += other->Overwritten;
    EndPos = other->EndPos;
    return true;
}

void TInsertCharUndo::Undo(TUndoTarget& target) const {
    target.UndoSetCaret(EndPos);
    target.UndoDelete(StartPos, TextEndPos(StartPos, Text));
    if (!Overwritten.empty()) target.UndoInsert(StartPos, Overwritten);
    target.UndoSetCaret(StartPos);
}

void TInsertCharUndo::Redo(TUndoTarget& target) const {
    target.UndoSetCaret(StartPos);
    if (!Overwritten.empty()) target.UndoDelete(StartPos, TextEndPos(StartPos, Overwritten));
    target.UndoInsert(StartPos, Text);
    target.UndoSetCaret(EndPos);
}

bool TDeleteCharUndo::Absorb(const TUndo& next) {
    auto* other = dynamic_cast<const TDeleteCharUndo*>(&next);
    if (!other || other->Backspace != Backspace || other->StartPos != EndPos) return false;
    // Backspace eats leftwards, Delete rightwards: keep Text in document order either way.
    Text = Backspace ? other->Text + Text : Text + other->Text;
    EndPos = other->EndPos;
    return true;
}

void TDeleteCharUndo::Undo(TUndoTarget& target) const {
    target.UndoSetCaret(EndPos);
    target.UndoInsert(EndPos, Text);
    target.UndoSetCaret(StartPos);
}

void TDeleteCharUndo::Redo(TUndoTarget& target) const {
    target.UndoSetCaret(EndPos);
    target.UndoDelete(EndPos, TextEndPos(EndPos, Text));
    target.UndoSetCaret(EndPos);
}

void TDeleteLineUndo::Undo(TUndoTarget& target) const {
    if (Emptied)
        target.UndoSetLine(StartPos.Line, Text);
    else
        target.UndoInsertLine(StartPos.Line, Text);
    target.UndoSetCaret(StartPos);
}

void TDeleteLineUndo::Redo(TUndoTarget& target) const {
    target.UndoDeleteLine(StartPos.Line);
    target.UndoSetCaret(EndPos);
}

void TDeleteBufUndo::Undo(TUndoTarget& target) const {
    TMemoPos from = std::min(SelStart, SelEnd);
    target.UndoInsert(from, Text);
    target.UndoSetCaret(StartPos);
    target.UndoSelect(SelStart, SelEnd);
}

void TDeleteBufUndo::Redo(TUndoTarget& target) const {
    target.UndoDelete(std::min(SelStart, SelEnd), std::max(SelStart, SelEnd));
    target.UndoSetCaret(EndPos);
}

void TPasteUndo::Undo(TUndoTarget& target) const {
    target.UndoSetCaret(EndPos);
    target.UndoDelete(StartPos, TextEndPos(StartPos, Text));
    target.UndoSetCaret(StartPos);
}

void TPasteUndo::Redo(TUndoTarget& target) const {
    target.UndoSetCaret(StartPos);
    target.UndoInsert(StartPos, Text);
    target.UndoSetCaret(EndPos);
}

void TReplaceLinesUndo::Undo(TUndoTarget& target) const {
    for (auto it = Chunks.rbegin(); it != Chunks.rend(); ++it) {
        const TMemoPos at{0, it->Line};
        target.UndoDelete(at, TextEndPos(at, it->New));
        target.UndoInsert(at, it->Old);
    }
    target.UndoSetCaret(StartPos);
}

void TReplaceLinesUndo::Redo(TUndoTarget& target) const {
    for (const auto& chunk : Chunks) {
        const TMemoPos at{0, chunk.Line};
        target.UndoDelete(at, TextEndPos(at, chunk.Old));
        target.UndoInsert(at, chunk.New);
    }
    target.UndoSetCaret(EndPos);
}

void TCodeMemoUndoList::Add(std::unique_ptr<TUndo> record) {
    if (FPerforming || !record) return;
    // An undone record must not swallow new typing: redo would then replay text that is there.
    FRecords.erase(FRecords.begin(), FRecords.begin() + FRedoDepth);
    FRedoDepth = 0;
    if (!FRecords.empty() && FRecords.front()->Absorb(*record)) return;
    FRecords.push_front(std::move(record));
    while (static_cast<int>(FRecords.size()) > FLimit) FRecords.pop_back();
}

void TCodeMemoUndoList::Undo(TUndoTarget& target) {
    if (!CanUndo()) return;
    FPerforming = true;
    try {
        FRecords[FRedoDepth]->Undo(target);
    } catch (...) {
        FPerforming = false;
        throw;
    }
    FPerforming = false;
    ++FRedoDepth;
}

void TCodeMemoUndoList::Redo(TUndoTarget& target) {
    if (!CanRedo()) return;
    FPerforming = true;
    try {
        FRecords[FRedoDepth - 1]->Redo(target);
    } catch (...) {
        FPerforming = false;
        throw;
    }
    FPerforming = false;
    --FRedoDepth;
}

void TCodeMemoUndoList::Clear() {
    FRecords.clear();
    FRedoDepth = 0;
}

void TCodeMemoUndoList::SetLimit(int limit) {
    FLimit = std::clamp(limit, 1, MaxLimit);
    while (static_cast<int>(FRecords.size()) > FLimit) FRecords.pop_back();
    FRedoDepth = std::min(FRedoDepth, static_cast<int>(FRecords.size()));
}
