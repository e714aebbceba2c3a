// The editor's undo list: one record per editing action, newest first, with a redo depth. A run of
// typing or of Backspace/Delete presses is folded into one record by absorption, so it is undone
// in one step. Records describe what happened in caret positions and text; they replay through
// the small TUndoTarget interface, so the list is tested without an editor.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TMemoPos {
    int Col = 0;
    int Line = 0;
    friend bool operator==(const TMemoPos&, const TMemoPos&) = default;
    friend bool operator<(const TMemoPos& a, const TMemoPos& b) {
        return a.Line != b.Line ? a.Line < b.Line : a.Col < b.Col;
    }
};

// Position just after `text` when it is inserted at `from`; CR LF, CR or LF break lines.
TMemoPos TextEndPos(TMemoPos from, std::string_view text);

// What an undo record needs from the editor to replay itself. Text uses CR LF or CR as breaks.
class TUndoTarget {
public:
    virtual ~TUndoTarget() = default;
    virtual void UndoSetCaret(TMemoPos pos) = 0;
    virtual void UndoInsert(TMemoPos at, std::string_view text) = 0;
    virtual void UndoDelete(TMemoPos from, TMemoPos to) = 0; // from <= to
    virtual void UndoInsertLine(int line, std::string_view text) = 0;
    virtual void UndoDeleteLine(int line) = 0; // the last remaining line is emptied instead
    virtual void UndoSetLine(int line, std::string_view text) = 0;
    virtual void UndoSelect(TMemoPos anchor, TMemoPos caret) = 0;
};

class TUndo {
public:
    TMemoPos StartPos; // caret before the action
    TMemoPos EndPos;   // caret after it
    std::string Text;

    TUndo(TMemoPos start, TMemoPos end, std::string text)
        : StartPos(start), EndPos(end), Text(std::move(text)) {}
    virtual ~TUndo() = default;
    // Folds `next`, the action that followed this one, into this record; false when it does not fit.
    virtual bool Absorb(const TUndo& next) {
        (void)next;
        return false;
    }
    virtual void Undo(TUndoTarget& target) const = 0;
    virtual void Redo(TUndoTarget& target) const = 0;
};

// Typed characters, Tab and Enter (CR plus the indentation inserted). The record says "at StartPos,
// Overwritten was replaced by Text": Overwritten holds characters typed over in overwrite mode and
// the leading spaces Enter takes off the carried text, so undo gives them back.
class TInsertCharUndo : public TUndo {
public:
    std::string Overwritten;

    TInsertCharUndo(TMemoPos start, TMemoPos end, std::string text, std::string overwritten = {})
        : TUndo(start, end, std::move(text)), Overwritten(std::move(overwritten)) {}
    bool Absorb(const TUndo& next) override;
    void Undo(TUndoTarget& target) const override;
    void Redo(TUndoTarget& target) const override;
};

// One character or line break (CR) removed by Delete or Backspace; runs of the same key fold.
class TDeleteCharUndo : public TUndo {
public:
    bool Backspace = false;

    TDeleteCharUndo(TMemoPos start, TMemoPos end, std::string text, bool backspace)
        : TUndo(start, end, std::move(text)), Backspace(backspace) {}
    bool Absorb(const TUndo& next) override;
    void Undo(TUndoTarget& target) const override;
    void Redo(TUndoTarget& target) const override;
};

// A whole line removed (Ctrl+Y); Emptied when it was the only line and was cleared instead.
class TDeleteLineUndo : public TUndo {
public:
    bool Emptied = false;

    TDeleteLineUndo(TMemoPos start, TMemoPos end, std::string text, bool emptied)
        : TUndo(start, end, std::move(text)), Emptied(emptied) {}
    void Undo(TUndoTarget& target) const override;
    void Redo(TUndoTarget& target) const override;
};

// A selection removed; Text has CR LF between lines; SelStart is the anchor, SelEnd the caret end.
class TDeleteBufUndo : public TUndo {
public:
    TMemoPos SelStart, SelEnd;

    TDeleteBufUndo(TMemoPos start, TMemoPos end, std::string text, TMemoPos selStart, TMemoPos selEnd)
        : TUndo(start, end, std::move(text)), SelStart(selStart), SelEnd(selEnd) {}
    void Undo(TUndoTarget& target) const override;
    void Redo(TUndoTarget& target) const override;
};

// Text inserted by paste, InsertText or auto-correction.
class TPasteUndo : public TUndo {
public:
    using TUndo::TUndo;
    void Undo(TUndoTarget& target) const override;
    void Redo(TUndoTarget& target) const override;
};

// Several stretches of whole lines replaced at once (find and replace): one step to undo. Each
// chunk says "from column 0 of Line, Old was replaced by New"; a chunk's Line counts the lines as
// they were after the chunks before it had been applied, so undo walks the chunks backwards.
class TReplaceLinesUndo : public TUndo {
public:
    struct TChunk {
        int Line = 0;
        std::string Old, New; // CR LF between lines
    };
    std::vector<TChunk> Chunks;

    TReplaceLinesUndo(TMemoPos start, TMemoPos end, std::vector<TChunk> chunks)
        : TUndo(start, end, {}), Chunks(std::move(chunks)) {}
    void Undo(TUndoTarget& target) const override;
    void Redo(TUndoTarget& target) const override;
};

class TCodeMemoUndoList {
public:
    static constexpr int MaxLimit = 100;

    // Offers the record to the newest one for absorption, else makes it the newest and drops the
    // oldest beyond the limit. Records undone earlier are discarded first: a new action ends the
    // redo chain. Ignored while an undo or redo is being replayed.
    void Add(std::unique_ptr<TUndo> record);
    bool CanUndo() const { return FRedoDepth < static_cast<int>(FRecords.size()); }
    bool CanRedo() const { return FRedoDepth > 0; }
    void Undo(TUndoTarget& target);
    void Redo(TUndoTarget& target);
    void Clear();

    int Count() const { return static_cast<int>(FRecords.size()); }
    int RedoDepth() const { return FRedoDepth; }
    const TUndo& Record(int i) const { return *FRecords[i]; } // 0 = newest
    int Limit() const { return FLimit; }
    void SetLimit(int limit); // clamped to 1..100
    bool Performing() const { return FPerforming; }

private:
    std::deque<std::unique_ptr<TUndo>> FRecords; // newest first
    int FRedoDepth = 0;
    int FLimit = MaxLimit;
    bool FPerforming = false;
};
