// What the editor control does, without a window: the caret and selection rules, every editing
// and navigation command, the undo list, auto-correction, the completion list and the parameter
// hint. The widget (widget/CodeMemo.h) only paints this state and turns key and mouse events into
// calls here, so a test drives the editor exactly as a user would, with no QApplication.
//
// Positions are (column, line), zero-based; columns count characters. A TAB is one character,
// one column, and the screen shows it TabSize cells wide: the view (top line, left column) and the
// hint's position are in screen cells, which Lines().CellOf converts to. The caret column may lie
// beyond a line's end only for the moment it is set: the line is padded with spaces up to it, and
// the padding is removed when the caret leaves the line (with the line's other trailing spaces
// once the user edited it; a line as it was read keeps its own).
#pragma once

#include "editor/CodeMemoStrings.h"
#include "editor/CodeMemoUndo.h"
#include "editor/Highlighter.h"
#include "editor/MemoStyler.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// True when pos lies in PHP code: after a "<?php" (any letter case) or "<?=" opening tag that no
// "?>" has closed yet. Looks back from pos only as far as the nearest tag.
bool IsInsidePhpCode(const TCodeMemoStrings& lines, TMemoPos pos);

// The keys the editor gives a meaning to; the widget maps its toolkit's key codes to these.
enum class TMemoKey {
    mkNone,
    mkLeft,
    mkRight,
    mkUp,
    mkDown,
    mkHome,
    mkEnd,
    mkPageUp,
    mkPageDown,
    mkReturn,
    mkTab,
    mkBackspace,
    mkDelete,
    mkInsert,
    mkEscape,
    mkSpace,
    mkA,
    mkC,
    mkF,
    mkH,
    mkV,
    mkX,
    mkY,
    mkZ
};

using TShiftState = unsigned;
inline constexpr TShiftState ssShift = 1;
inline constexpr TShiftState ssCtrl = 2;
inline constexpr TShiftState ssAlt = 4;

enum THintPosition { hpBelow, hpAbove };

// The open completion list.
struct TCompletionState {
    bool Open = false;
    std::vector<std::string> Items; // entries as the styler lists them
    int ItemIndex = -1;
    TMemoPos Pos;         // caret when it opened: the list goes below this line, at this column
    int ReplaceFrom = -1; // opened by the dot timer: insertion replaces from this column on
};

// The parameter hint as it should be shown.
struct TParamHint {
    bool Visible = false;
    std::string Text;  // the prototype's parameter list
    int BoldStart = 0; // the current parameter, in characters of Text
    int BoldLength = 0;
    TMemoPos Pos; // the hint's top-left screen cell: caret cell, one line below (or above) the caret
};

class TCodeMemoModel : private TUndoTarget {
public:
    TCodeMemoModel();
    ~TCodeMemoModel() override;
    TCodeMemoModel(const TCodeMemoModel&) = delete;
    TCodeMemoModel& operator=(const TCodeMemoModel&) = delete;

    // Settings (the values the main editor runs with).
    bool AutoIndent = true;
    bool DelErase = true;
    bool WantTab = true;
    bool ReadOnly = false;
    bool CaseSensitive = false;
    bool AutoCompletion = true;
    int AutoCompletionDelay = 500;
    bool AutoHintParameters = true;
    THintPosition AutoHintParameterPosition = hpBelow;
    int AutoHintParameterDelay = 2500;
    // (old, new) word pairs: typing Space or Enter after `old` replaces it by `new`.
    std::vector<std::pair<std::string, std::string>> AutoCorrect;
    // Asked before a pair is applied to the word ending at `end`; unassigned, every pair applies.
    std::function<bool(const TCodeMemoModel& sender, const std::string& word, TMemoPos end)> OnCanAutoCorrect;

    int TabSize() const { return FLines.TabSize; }
    void SetTabSize(int size) { FLines.TabSize = size; }
    int UndoLimit() const { return FUndoList.Limit(); }
    void SetUndoLimit(int limit) { FUndoList.SetLimit(limit); }

    // The styler is referenced, not owned; it tells the model when it goes away.
    TCustomMemoStyler* SyntaxStyles() const { return FStyler; }
    void SetSyntaxStyles(TCustomMemoStyler* styler);

    TCodeMemoStrings& Lines() { return FLines; }
    const TCodeMemoStrings& Lines() const { return FLines; }
    TCodeMemoUndoList& UndoList() { return FUndoList; }
    TMemoHighlighter& Highlighter() { return FHighlighter; }

    // Caret rules. SetCaretY clamps to the text; leaving a line strips its trailing spaces and hides
    // the hint. SetCaretX below 0 goes to the end of the previous line; beyond the end pads the line.
    int CaretX() const { return FCaretX; }
    int CaretY() const { return FCaretY; }
    TMemoPos Caret() const { return {FCaretX, FCaretY}; }
    int CaretCell() const { return FLines.CellOf(FCaretY, FCaretX); } // the caret's screen cell
    void SetCaretX(int x);
    void SetCaretY(int y);
    void SetCaret(int x, int y);

    // Selection: SelStart is the anchor, SelEnd moves with the caret; equal = none.
    TMemoPos SelStart() const { return FSelStart; }
    TMemoPos SelEnd() const { return FSelEnd; }
    bool HasSelection() const { return FSelStart != FSelEnd; }
    void SetSelection(TMemoPos anchor, TMemoPos end); // moves the caret to end
    void ClearSelection();
    void SelectAll();
    std::string SelText() const; // CR LF between lines

    // View: the widget tells the model how much it shows; the model keeps the caret in view.
    int TopLine() const { return FTopLine; }
    int LeftCol() const { return FLeftCol; }
    void SetTopLine(int line);
    void SetLeftCol(int col);
    int VisibleLines() const { return FVisibleLines; }
    int VisibleCols() const { return FVisibleCols; }
    void SetVisibleSize(int lines, int cols);
    void ScrollToCaret();

    bool Overwrite() const { return FOverwrite; }
    void SetOverwrite(bool on) { FOverwrite = on; }
    // True after any change of the text since the last load, save or reset.
    bool Modified() const { return FModified; }
    void SetModified(bool modified) { FModified = modified; }

    // Key input: KeyDown for keys with a meaning of their own, KeyPress for a typed character
    // (Unicode scalar). Both return whether the key was used. `shift` is a set of ss... flags.
    bool KeyDown(TMemoKey key, TShiftState shift = 0);
    bool KeyPress(char32_t ch, TShiftState shift = 0);
    void TypeText(std::string_view utf8); // KeyPress for each character, for tests and scripting

    // Commands behind the keys.
    void MoveTo(TMemoPos pos, bool extend);
    void WordLeft(bool extend);
    void WordRight(bool extend);
    void Enter();
    void Tab();
    void Backspace();
    void CtrlBackspace();
    void DeleteChar();
    void DeleteLine();
    void DeleteSelection();
    void Undo();
    void Redo();
    bool CanUndo() const { return FUndoList.CanUndo(); }
    bool CanRedo() const { return FUndoList.CanRedo(); }

    // Clipboard through the events below; the text forms are for callers that hold it themselves.
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();
    void PasteText(std::string_view text); // any line breaks, normalised to CR LF

    // Deletes the selection, inserts text at the caret (CR LF splits lines) and leaves the caret
    // after it; one TPasteUndo. Text that is not valid UTF-8 is read as Windows-1252.
    void InsertText(std::string_view text);

    // Applies the chunks in order (each replaces whole lines from column 0 of its Line, see
    // TReplaceLinesUndo) as one undo step, then puts the caret at `caret`. Nothing when ReadOnly.
    void ReplaceLineChunks(std::vector<TReplaceLinesUndo::TChunk> chunks, TMemoPos caret);

    // Whole text (CR LF after each line) and its replacement; SetText clears the undo list.
    std::string Text() const { return FLines.Text(); }
    void SetText(std::string_view text);

    // LoadLines: clears undo and selection, reads the file (UTF-8, else Windows-1252), caret to
    // (0, 0). Throws EVarnelloError "Cannot open file <path>" and then leaves everything as it was.
    void LoadLines(const std::string& path);
    // SaveLines: the lines with the breaks, TABs and encoding the file came in.
    void SaveLines(const std::string& path);

    // Mouse, in text positions (the widget converts pixels).
    void MouseDown(TMemoPos pos, bool extend);
    void MouseDrag(TMemoPos pos);
    void DoubleClick(TMemoPos pos);
    // The word around pos, bounded by spaces and the styler's delimiter characters: [start, end).
    std::pair<int, int> WordAt(TMemoPos pos) const;

    // Completion list.
    const TCompletionState& Completion() const { return FCompletion; }
    void ShowCompletion();       // Ctrl+Space
    void CompletionTimerFired(); // the dot timer
    void CompletionSelect(int index);
    void CompletionInsert();
    void CloseCompletion();
    // Entries of `list` that fit `prefix` (compared upper-cased, without the entry's first word
    // when it has several), sorted by the word they insert, ignoring case.
    static std::vector<std::string> CompletionCandidates(const std::vector<std::string>& list,
                                                         const std::string& prefix);
    // The word an entry inserts: after its first space, up to a space, "(" or ";".
    static std::string CompletionWord(const std::string& entry);

    // Parameter hint.
    const TParamHint& Hint() const { return FHint; }
    void ShowParamHint(); // Ctrl+Shift+Space: evaluate now
    void HideParamHint();

    const TBlockMark& BlockMark() const { return FBlockMark; }

    // Events. An unassigned event is skipped.
    std::function<void(TCodeMemoModel& sender)> OnStatusChange; // caret line set, caret column changed
    std::function<void(TCodeMemoModel& sender)> OnChange;       // the text changed
    std::function<void(TCodeMemoModel& sender, int firstLine)> OnLinesChange;
    std::function<void(TCodeMemoModel& sender)> OnFind;    // Ctrl+F
    std::function<void(TCodeMemoModel& sender)> OnReplace; // Ctrl+H
    std::function<void(TCodeMemoModel& sender)> OnCompletionChange;
    std::function<void(TCodeMemoModel& sender, int delayMs)> OnCompletionTimer; // start the dot timer
    std::function<void(TCodeMemoModel& sender)> OnHintChange;
    std::function<void(TCodeMemoModel& sender, const std::string& text)> OnSetClipboard;
    std::function<std::string(TCodeMemoModel& sender)> OnGetClipboard;

private:
    // TUndoTarget
    void UndoSetCaret(TMemoPos pos) override;
    void UndoInsert(TMemoPos at, std::string_view text) override;
    void UndoDelete(TMemoPos from, TMemoPos to) override;
    void UndoInsertLine(int line, std::string_view text) override;
    void UndoDeleteLine(int line) override;
    void UndoSetLine(int line, std::string_view text) override;
    void UndoSelect(TMemoPos anchor, TMemoPos caret) override;

    void LinesChanged(int firstLine);
    void StatusChange();
    void CaretMoved();
    void PadCaretLine();
    void TrimLine(int line);
    // Places the caret after an edit: no trimming (the line left may be gone), padding kept.
    void PlaceCaret(TMemoPos pos);
    void CollapseSelection();
    TMemoPos InsertRaw(TMemoPos at, std::string_view text);
    std::string DeleteRaw(TMemoPos from, TMemoPos to);
    std::string GetRange(TMemoPos from, TMemoPos to) const;
    std::string Normalise(std::string_view text) const;
    void Replace(int line, int from, int to, const std::string& text); // recorded, caret after it
    void TypeChar(char32_t ch);
    void DoAutoCorrect();
    void EnsureOneLine();
    bool IsWordBreak(char32_t c) const;     // space or delimiter
    bool IsCtrlWordBreak(char32_t c) const; // space or a member of the first symbol entry
    bool CompletionKeyDown(TMemoKey key, TShiftState shift);
    void CompletionReselect();
    void OpenCompletion(bool fromDot);
    void EvaluateHint(bool onDemand);
    void SetHint(const TParamHint& hint);
    void AfterKey(bool ctrl);

    TCodeMemoStrings FLines;
    TCodeMemoUndoList FUndoList;
    TMemoHighlighter FHighlighter;
    TCustomMemoStyler* FStyler = nullptr;
    int FCaretX = 0, FCaretY = 0;
    TMemoPos FSelStart, FSelEnd;
    int FTopLine = 0, FLeftCol = 0;
    int FVisibleLines = 20, FVisibleCols = 80;
    bool FOverwrite = false;
    bool FModified = false;
    int FQuiet = 0; // padding and trimming do not count as modifications
    TCompletionState FCompletion;
    TMemoPos FDotPos; // caret after the last typed dot: where a dot-timer insertion starts
    TParamHint FHint;
    TBlockMark FBlockMark;
};
