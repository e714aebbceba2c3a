// Caret, selection, editing commands, undo replay, auto-correction, completion and hints.
#include "editor/CodeMemoModel.h"

#include <algorithm>
#include <cctype>

namespace {

std::u32string U32Line(const TCodeMemoStrings& lines, int line) {
    return Utf8ToU32(lines[line]);
}

char32_t Upper(char32_t c) {
    return c < 128 ? static_cast<char32_t>(std::toupper(static_cast<int>(c))) : c;
}
char32_t Lower(char32_t c) {
    return c < 128 ? static_cast<char32_t>(std::tolower(static_cast<int>(c))) : c;
}

std::string UpperAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Leading spaces and TABs: the indentation Enter copies as it stands.
int CountLeadingBlanks(std::string_view s) {
    int n = 0;
    while (n < static_cast<int>(s.size()) &&
           (s[static_cast<std::size_t>(n)] == ' ' || s[static_cast<std::size_t>(n)] == '\t'))
        ++n;
    return n;
}

bool IsBlank(char32_t c) {
    return c == U' ' || c == U'\t';
}

std::string_view TrimRight(std::string_view s) {
    std::size_t end = s.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

} // namespace

bool IsInsidePhpCode(const TCodeMemoStrings& lines, TMemoPos pos) {
    if (lines.Count() == 0) return false;
    int line = std::clamp(pos.Line, 0, lines.Count() - 1);
    std::size_t end = Utf8ByteOffset(lines[line], static_cast<std::size_t>(std::max(pos.Col, 0)));
    for (; line >= 0; --line) {
        const std::string upper = UpperAscii(lines[line].substr(0, end));
        auto last = [&upper](const char* tag) {
            const std::size_t at = upper.rfind(tag);
            return at == std::string::npos ? std::ptrdiff_t(-1) : static_cast<std::ptrdiff_t>(at);
        };
        // The nearest tag before pos decides; an opening and a closing tag never start alike.
        const std::ptrdiff_t open = std::max(last("<?PHP"), last("<?=")), close = last("?>");
        if (open != close) return open > close;
        end = std::string::npos;
    }
    return false;
}

TCodeMemoModel::TCodeMemoModel() {
    FLines.OnChange = [this](TCodeMemoStrings&, int line) { LinesChanged(line); };
    FLines.Add("");
}

TCodeMemoModel::~TCodeMemoModel() {
    if (FStyler) FStyler->RemoveFreeNotification(this);
}

void TCodeMemoModel::SetSyntaxStyles(TCustomMemoStyler* styler) {
    if (styler == FStyler) return;
    if (FStyler) FStyler->RemoveFreeNotification(this);
    FStyler = styler;
    if (FStyler)
        FStyler->AddFreeNotification(this, [this](TCustomMemoStyler&) {
            FStyler = nullptr;
            FHighlighter.SetStyler(nullptr);
            FBlockMark = {};
            if (OnLinesChange) OnLinesChange(*this, 0); // repaint uncoloured
        });
    FHighlighter.SetStyler(FStyler);
    FBlockMark = {};
    if (OnLinesChange) OnLinesChange(*this, 0);
}

// ---------------------------------------------------------------------------------------------
// Notifications

void TCodeMemoModel::LinesChanged(int firstLine) {
    // Callers may change Lines() directly: keep one line and the caret on an existing one.
    if (FLines.Count() == 0) {
        ++FQuiet;
        FLines.Add(""); // notifies again, re-entering here with one line
        --FQuiet;
    }
    FCaretY = std::min(FCaretY, FLines.Count() - 1);
    FHighlighter.LinesChanged(firstLine);
    if (FQuiet == 0) {
        FModified = true;
        if (OnChange) OnChange(*this);
    }
    if (OnLinesChange) OnLinesChange(*this, firstLine);
}

void TCodeMemoModel::StatusChange() {
    if (OnStatusChange) OnStatusChange(*this);
}

void TCodeMemoModel::CaretMoved() {
    ScrollToCaret();
    if (FStyler && FCaretY < FLines.Count()) {
        const std::string& line = FLines[FCaretY];
        int byteCol = static_cast<int>(Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX)));
        FHighlighter.UpdateBlockMark(FLines, FCaretY, byteCol, FTopLine,
                                     std::min(FTopLine + FVisibleLines, FLines.Count()) - 1, FBlockMark);
    }
}

// ---------------------------------------------------------------------------------------------
// Caret and selection

void TCodeMemoModel::EnsureOneLine() {
    if (FLines.Count() == 0) {
        ++FQuiet;
        FLines.Add("");
        --FQuiet;
    }
}

void TCodeMemoModel::PadCaretLine() {
    if (FCaretY >= FLines.Count()) return;
    int len = FLines.Length(FCaretY);
    if (FCaretX > len) {
        ++FQuiet;
        FLines.PutPadding(FCaretY,
                          FLines[FCaretY] + std::string(static_cast<std::size_t>(FCaretX - len), ' '));
        --FQuiet;
    }
}

void TCodeMemoModel::TrimLine(int line) {
    if (line < 0 || line >= FLines.Count()) return;
    const std::string& s = FLines[line];
    if (s.empty() || s.back() != ' ') return;
    // A line the user did not edit loses only the caret's padding, not spaces the file had.
    const int original = FLines.OriginalLength(line);
    if (original >= 0 && static_cast<std::size_t>(original) >= s.size()) return;
    ++FQuiet;
    if (original >= 0)
        FLines.PutPadding(line, s.substr(0, static_cast<std::size_t>(original)));
    else
        FLines.Put(line, TrimRight(s));
    --FQuiet;
}

void TCodeMemoModel::SetCaretY(int y) {
    SetCaret(FCaretX, y);
}

void TCodeMemoModel::SetCaretX(int x) {
    EnsureOneLine();
    if (x < 0) {
        if (FCaretY > 0) {
            SetCaret(FLines.Length(FCaretY - 1), FCaretY - 1);
            return;
        }
        x = 0;
    }
    bool changed = x != FCaretX;
    FCaretX = x;
    PadCaretLine();
    CaretMoved();
    if (changed) StatusChange();
}

void TCodeMemoModel::SetCaret(int x, int y) {
    EnsureOneLine();
    y = std::clamp(y, 0, FLines.Count() - 1);
    if (y != FCaretY) {
        TrimLine(FCaretY);
        HideParamHint();
    }
    FCaretY = y;
    StatusChange(); // the line is set: always reported
    // The column is set only now, so the new line is padded to the new column, not the old one.
    SetCaretX(x);
}

void TCodeMemoModel::PlaceCaret(TMemoPos pos) {
    EnsureOneLine();
    if (pos.Line != FCaretY) HideParamHint();
    FCaretY = std::clamp(pos.Line, 0, FLines.Count() - 1);
    FCaretX = std::max(pos.Col, 0);
    PadCaretLine();
    CaretMoved();
    StatusChange();
}

void TCodeMemoModel::CollapseSelection() {
    FSelStart = FSelEnd = Caret();
}

void TCodeMemoModel::ClearSelection() {
    CollapseSelection();
}

void TCodeMemoModel::SetSelection(TMemoPos anchor, TMemoPos end) {
    SetCaret(end.Col, end.Line);
    FSelStart = anchor;
    FSelEnd = Caret();
}

void TCodeMemoModel::SelectAll() {
    int last = FLines.Count() - 1;
    SetSelection({0, 0}, {FLines.Length(last), last});
}

std::string TCodeMemoModel::SelText() const {
    if (!HasSelection()) return {};
    return GetRange(std::min(FSelStart, FSelEnd), std::max(FSelStart, FSelEnd));
}

void TCodeMemoModel::MoveTo(TMemoPos pos, bool extend) {
    if (extend && !HasSelection()) FSelStart = Caret();
    SetCaret(pos.Col, pos.Line);
    if (extend)
        FSelEnd = Caret();
    else
        CollapseSelection();
}

bool TCodeMemoModel::IsWordBreak(char32_t c) const {
    return IsBlank(c) || (c < 128 && FStyler && FStyler->IsDelimiterChar(static_cast<char>(c)));
}

bool TCodeMemoModel::IsCtrlWordBreak(char32_t c) const {
    if (IsBlank(c)) return true;
    if (!FStyler || c >= 128) return false;
    for (const TElementStyle& style : FStyler->AllStyles)
        if (style.StyleType == stSymbol) return style.Symbols.find(static_cast<char>(c)) != std::string::npos;
    return false;
}

void TCodeMemoModel::WordLeft(bool extend) {
    if (FCaretX == 0) {
        if (FCaretY > 0) MoveTo({FLines.Length(FCaretY - 1), FCaretY - 1}, extend);
        return;
    }
    std::u32string line = U32Line(FLines, FCaretY);
    int x = std::min(FCaretX, static_cast<int>(line.size()));
    while (x > 0 && IsCtrlWordBreak(line[static_cast<std::size_t>(x - 1)])) --x;
    while (x > 0 && !IsCtrlWordBreak(line[static_cast<std::size_t>(x - 1)])) --x;
    MoveTo({x, FCaretY}, extend);
}

void TCodeMemoModel::WordRight(bool extend) {
    std::u32string line = U32Line(FLines, FCaretY);
    int len = static_cast<int>(line.size());
    if (FCaretX >= len) {
        if (FCaretY + 1 >= FLines.Count()) return;
        std::u32string next = U32Line(FLines, FCaretY + 1);
        int x = 0;
        while (x < static_cast<int>(next.size()) && IsCtrlWordBreak(next[static_cast<std::size_t>(x)])) ++x;
        MoveTo({x, FCaretY + 1}, extend);
        return;
    }
    int x = FCaretX;
    while (x < len && !IsCtrlWordBreak(line[static_cast<std::size_t>(x)])) ++x;
    while (x < len && IsCtrlWordBreak(line[static_cast<std::size_t>(x)])) ++x;
    MoveTo({x, FCaretY}, extend);
}

// ---------------------------------------------------------------------------------------------
// View

void TCodeMemoModel::SetTopLine(int line) {
    FTopLine = std::clamp(line, 0, std::max(FLines.Count() - 1, 0));
}

void TCodeMemoModel::SetLeftCol(int col) {
    FLeftCol = std::max(col, 0);
}

void TCodeMemoModel::SetVisibleSize(int lines, int cols) {
    FVisibleLines = std::max(lines, 1);
    FVisibleCols = std::max(cols, 1);
}

void TCodeMemoModel::ScrollToCaret() {
    if (FCaretY < FTopLine) FTopLine = FCaretY;
    if (FCaretY >= FTopLine + FVisibleLines) FTopLine = FCaretY - FVisibleLines + 1;
    // The view scrolls by screen cells; a TAB before the caret takes TabSize of them.
    const int cell = CaretCell();
    if (cell < FLeftCol) FLeftCol = cell;
    if (cell >= FLeftCol + FVisibleCols) FLeftCol = cell - FVisibleCols + 1;
    SetTopLine(FTopLine);
}

// ---------------------------------------------------------------------------------------------
// Text primitives (no undo records; the callers record)

std::string TCodeMemoModel::Normalise(std::string_view text) const {
    return IsValidUtf8(text) ? std::string(text) : Windows1252ToUtf8(text);
}

TMemoPos TCodeMemoModel::InsertRaw(TMemoPos at, std::string_view text) {
    EnsureOneLine();
    at.Line = std::clamp(at.Line, 0, FLines.Count() - 1);
    at.Col = std::max(at.Col, 0);
    std::string line = FLines[at.Line];
    int len = FLines.Length(at.Line);
    if (at.Col > len) line.append(static_cast<std::size_t>(at.Col - len), ' ');
    std::size_t b = Utf8ByteOffset(line, static_cast<std::size_t>(at.Col));
    std::string head = line.substr(0, b), tail = line.substr(b);

    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            pieces.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    pieces.emplace_back(text.substr(start));

    if (pieces.size() == 1) {
        FLines.Put(at.Line, head + pieces[0] + tail);
        return {at.Col + static_cast<int>(Utf8CharCount(pieces[0])), at.Line};
    }
    FLines.BeginUpdate();
    FLines.Put(at.Line, head + pieces[0]);
    TMemoPos end{static_cast<int>(Utf8CharCount(pieces.back())),
                 at.Line + static_cast<int>(pieces.size()) - 1};
    pieces.back() += tail;
    pieces.erase(pieces.begin());
    const auto lineBreak = FLines.Break(at.Line);
    FLines.InsertLines(at.Line + 1, pieces);
    FLines.SetBreak(end.Line, lineBreak); // the line's own break stays after its tail
    FLines.EndUpdate();
    return end;
}

std::string TCodeMemoModel::GetRange(TMemoPos from, TMemoPos to) const {
    if (FLines.Count() == 0) return {};
    from.Line = std::clamp(from.Line, 0, FLines.Count() - 1);
    to.Line = std::clamp(to.Line, 0, FLines.Count() - 1);
    const std::string& first = FLines[from.Line];
    std::size_t b1 = Utf8ByteOffset(first, static_cast<std::size_t>(std::max(from.Col, 0)));
    if (from.Line == to.Line) {
        std::size_t b2 = Utf8ByteOffset(first, static_cast<std::size_t>(std::max(to.Col, 0)));
        return b2 > b1 ? first.substr(b1, b2 - b1) : std::string();
    }
    std::string out = first.substr(b1);
    for (int i = from.Line + 1; i < to.Line; ++i) {
        out += "\r\n";
        out += FLines[i];
    }
    const std::string& last = FLines[to.Line];
    out += "\r\n";
    out += last.substr(0, Utf8ByteOffset(last, static_cast<std::size_t>(std::max(to.Col, 0))));
    return out;
}

std::string TCodeMemoModel::DeleteRaw(TMemoPos from, TMemoPos to) {
    EnsureOneLine();
    from.Line = std::clamp(from.Line, 0, FLines.Count() - 1);
    to.Line = std::clamp(to.Line, 0, FLines.Count() - 1);
    if (to < from) std::swap(from, to);
    std::string deleted = GetRange(from, to);
    std::string first = FLines[from.Line];
    int len = FLines.Length(from.Line);
    if (from.Col > len) first.append(static_cast<std::size_t>(from.Col - len), ' ');
    std::size_t b1 = Utf8ByteOffset(first, static_cast<std::size_t>(from.Col));
    if (from.Line == to.Line) {
        std::size_t b2 = std::max(b1, Utf8ByteOffset(first, static_cast<std::size_t>(to.Col)));
        FLines.Put(from.Line, first.substr(0, b1) + first.substr(b2));
        return deleted;
    }
    const std::string& last = FLines[to.Line];
    std::string joined =
        first.substr(0, b1) + last.substr(Utf8ByteOffset(last, static_cast<std::size_t>(to.Col)));
    FLines.BeginUpdate();
    FLines.Put(from.Line, joined);
    FLines.SetBreak(from.Line, FLines.Break(to.Line)); // the joined line ends as the last one did
    FLines.DeleteLines(from.Line + 1, to.Line - from.Line);
    FLines.EndUpdate();
    return deleted;
}

// ---------------------------------------------------------------------------------------------
// Undo target

void TCodeMemoModel::UndoSetCaret(TMemoPos pos) {
    PlaceCaret(pos);
    CollapseSelection();
}

void TCodeMemoModel::UndoInsert(TMemoPos at, std::string_view text) {
    InsertRaw(at, text);
}

void TCodeMemoModel::UndoDelete(TMemoPos from, TMemoPos to) {
    DeleteRaw(from, to);
}

void TCodeMemoModel::UndoInsertLine(int line, std::string_view text) {
    FLines.Insert(std::clamp(line, 0, FLines.Count()), text);
}

void TCodeMemoModel::UndoDeleteLine(int line) {
    if (FLines.Count() <= 1)
        FLines.Put(0, "");
    else
        FLines.Delete(std::clamp(line, 0, FLines.Count() - 1));
}

void TCodeMemoModel::UndoSetLine(int line, std::string_view text) {
    FLines.Put(std::clamp(line, 0, FLines.Count() - 1), text);
}

void TCodeMemoModel::UndoSelect(TMemoPos anchor, TMemoPos caret) {
    PlaceCaret(caret);
    FSelStart = anchor;
    FSelEnd = Caret();
}

void TCodeMemoModel::Undo() {
    if (ReadOnly) return;
    CloseCompletion();
    FUndoList.Undo(*this);
}

void TCodeMemoModel::Redo() {
    if (ReadOnly) return;
    CloseCompletion();
    FUndoList.Redo(*this);
}

// ---------------------------------------------------------------------------------------------
// Editing commands

void TCodeMemoModel::DeleteSelection() {
    if (ReadOnly || !HasSelection()) return;
    TMemoPos from = std::min(FSelStart, FSelEnd), to = std::max(FSelStart, FSelEnd);
    TMemoPos caret = Caret();
    TMemoPos anchor = FSelStart, end = FSelEnd;
    std::string text = DeleteRaw(from, to);
    PlaceCaret(from);
    CollapseSelection();
    FUndoList.Add(std::make_unique<TDeleteBufUndo>(caret, from, std::move(text), anchor, end));
}

void TCodeMemoModel::Replace(int line, int from, int to, const std::string& text) {
    TMemoPos start{from, line};
    if (to > from) {
        TMemoPos caret = Caret();
        std::string old = DeleteRaw(start, {to, line});
        FUndoList.Add(
            std::make_unique<TDeleteBufUndo>(caret, start, std::move(old), start, TMemoPos{to, line}));
    }
    TMemoPos end = InsertRaw(start, text);
    FUndoList.Add(std::make_unique<TPasteUndo>(start, end, text));
    PlaceCaret(end);
    CollapseSelection();
}

void TCodeMemoModel::TypeChar(char32_t ch) {
    if (ReadOnly) return;
    if (DelErase && HasSelection()) DeleteSelection();
    CollapseSelection();
    PadCaretLine();
    TMemoPos start = Caret();
    std::string s;
    AppendUtf8(s, ch);
    std::string overwritten;
    std::string line = FLines[FCaretY];
    std::size_t b = Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX));
    if (FOverwrite && FCaretX < FLines.Length(FCaretY)) {
        std::size_t e = Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX + 1));
        overwritten = line.substr(b, e - b);
        line.replace(b, e - b, s);
    } else {
        line.insert(b, s);
    }
    FLines.Put(FCaretY, line);
    FUndoList.Add(std::make_unique<TInsertCharUndo>(start, TMemoPos{FCaretX + 1, FCaretY}, s, overwritten));
    SetCaretX(FCaretX + 1);
    CollapseSelection();
}

void TCodeMemoModel::DoAutoCorrect() {
    if (AutoCorrect.empty() || ReadOnly) return;
    std::u32string line = U32Line(FLines, FCaretY);
    int col = std::min(FCaretX, static_cast<int>(line.size()));
    int start = col;
    while (start > 0 && !IsWordBreak(line[static_cast<std::size_t>(start - 1)])) --start;
    if (start == col) return;
    std::string word = U32ToUtf8(std::u32string_view(line).substr(static_cast<std::size_t>(start),
                                                                  static_cast<std::size_t>(col - start)));
    for (const auto& [oldWord, newWord] : AutoCorrect) {
        if (word == oldWord) {
            if (OnCanAutoCorrect && !OnCanAutoCorrect(*this, word, Caret())) return;
            // Only the part of the word left of the caret is taken, so the replacement never
            // reaches text the caret has not passed.
            Replace(FCaretY, start, col, Normalise(newWord));
            return;
        }
    }
}

void TCodeMemoModel::Enter() {
    if (ReadOnly) return;
    DoAutoCorrect();
    if (DelErase && HasSelection()) DeleteSelection();
    CollapseSelection();
    PadCaretLine();
    const std::string line = FLines[FCaretY];
    int col = FCaretX;
    std::size_t b = Utf8ByteOffset(line, static_cast<std::size_t>(col));
    std::string before = line.substr(0, b);
    std::string_view after = TrimRight(std::string_view(line).substr(b));
    std::string removed;
    std::string pad;
    if (AutoIndent) {
        // The new line starts with the same spaces and TABs as this one, up to the caret.
        const std::size_t lead = static_cast<std::size_t>(CountLeadingBlanks(line));
        pad = line.substr(0, std::min(lead, b));
        const std::size_t afterLead = static_cast<std::size_t>(CountLeadingBlanks(after));
        removed.assign(after.substr(0, afterLead));
        after.remove_prefix(afterLead);
    }
    const int indent = static_cast<int>(Utf8CharCount(pad));
    FLines.BeginUpdate();
    FLines.Put(FCaretY, before);
    FLines.Insert(FCaretY + 1, pad + std::string(after));
    FLines.SetBreak(FCaretY + 1, FLines.Break(FCaretY));
    FLines.EndUpdate();
    TMemoPos start{col, FCaretY}, end{indent, FCaretY + 1};
    FUndoList.Add(std::make_unique<TInsertCharUndo>(start, end, "\r" + pad, removed));
    SetCaret(end.Col, end.Line);
    CollapseSelection();
}

void TCodeMemoModel::Tab() {
    if (ReadOnly) return;
    if (FOverwrite) {
        // TabSize screen cells, as far as the same keys reach across a TAB.
        MoveTo({FLines.ColumnAtCell(FCaretY, CaretCell() + FLines.TabSize), FCaretY}, false);
        return;
    }
    if (DelErase && HasSelection()) DeleteSelection();
    CollapseSelection();
    TMemoPos start = Caret();
    // The key types a TAB character; the screen shows it TabSize cells wide.
    const std::string tab = "\t";
    TMemoPos end = InsertRaw(start, tab);
    FUndoList.Add(std::make_unique<TInsertCharUndo>(start, end, tab));
    SetCaretX(end.Col);
    CollapseSelection();
}

void TCodeMemoModel::Backspace() {
    if (ReadOnly) return;
    if (HasSelection()) {
        DeleteSelection();
        return;
    }
    PadCaretLine();
    TMemoPos start = Caret();
    if (FCaretX > 0) {
        const std::string& line = FLines[FCaretY];
        std::size_t b = Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX - 1));
        std::size_t e = Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX));
        std::string ch = line.substr(b, e - b);
        FLines.Put(FCaretY, line.substr(0, b) + line.substr(e));
        TMemoPos end{FCaretX - 1, FCaretY};
        FUndoList.Add(std::make_unique<TDeleteCharUndo>(start, end, std::move(ch), true));
        SetCaretX(end.Col);
    } else if (FCaretY > 0) {
        int y = FCaretY;
        TMemoPos end{FLines.Length(y - 1), y - 1};
        FLines.BeginUpdate();
        FLines.Put(y - 1, FLines[y - 1] + FLines[y]);
        FLines.SetBreak(y - 1, FLines.Break(y));
        FLines.Delete(y);
        FLines.EndUpdate();
        FUndoList.Add(std::make_unique<TDeleteCharUndo>(start, end, "\r", true));
        PlaceCaret(end);
    }
    CollapseSelection();
}

void TCodeMemoModel::CtrlBackspace() {
    if (ReadOnly) return;
    if (HasSelection()) {
        DeleteSelection();
        return;
    }
    TMemoPos before = Caret();
    Backspace();
    while (Caret() != before && FCaretX > 0) {
        const std::string& line = FLines[FCaretY];
        if (IsBlank(Utf8CharAt(line, Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX - 1))))) break;
        before = Caret();
        Backspace();
    }
}

void TCodeMemoModel::DeleteChar() {
    if (ReadOnly) return;
    if (HasSelection()) {
        DeleteSelection();
        return;
    }
    PadCaretLine();
    TMemoPos pos = Caret();
    int len = FLines.Length(FCaretY);
    if (FCaretX < len) {
        const std::string& line = FLines[FCaretY];
        std::size_t b = Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX));
        std::size_t e = Utf8ByteOffset(line, static_cast<std::size_t>(FCaretX + 1));
        std::string ch = line.substr(b, e - b);
        FLines.Put(FCaretY, line.substr(0, b) + line.substr(e));
        FUndoList.Add(std::make_unique<TDeleteCharUndo>(pos, pos, std::move(ch), false));
    } else if (FCaretY + 1 < FLines.Count()) {
        int y = FCaretY;
        FLines.BeginUpdate();
        FLines.Put(y, FLines[y] + FLines[y + 1]);
        FLines.SetBreak(y, FLines.Break(y + 1));
        FLines.Delete(y + 1);
        FLines.EndUpdate();
        FUndoList.Add(std::make_unique<TDeleteCharUndo>(pos, pos, "\r", false));
    }
    PlaceCaret(pos);
    CollapseSelection();
}

void TCodeMemoModel::DeleteLine() {
    if (ReadOnly) return;
    TMemoPos start = Caret();
    std::string text = FLines[FCaretY];
    bool emptied = FLines.Count() == 1;
    if (emptied)
        FLines.Put(0, "");
    else
        FLines.Delete(FCaretY);
    // The column stays; the line now under the caret is padded to it.
    PlaceCaret({FCaretX, std::min(FCaretY, FLines.Count() - 1)});
    CollapseSelection();
    FUndoList.Add(std::make_unique<TDeleteLineUndo>(start, Caret(), std::move(text), emptied));
}

void TCodeMemoModel::InsertText(std::string_view text) {
    if (ReadOnly) return;
    std::string s = Normalise(text);
    if (HasSelection()) DeleteSelection();
    CollapseSelection();
    TMemoPos start = Caret();
    TMemoPos end = InsertRaw(start, s);
    FUndoList.Add(std::make_unique<TPasteUndo>(start, end, std::move(s)));
    PlaceCaret(end);
    CollapseSelection();
}

void TCodeMemoModel::ReplaceLineChunks(std::vector<TReplaceLinesUndo::TChunk> chunks, TMemoPos caret) {
    if (ReadOnly || chunks.empty()) return;
    CloseCompletion();
    HideParamHint();
    const TMemoPos start = Caret();
    FLines.BeginUpdate();
    try {
        for (auto& chunk : chunks) {
            chunk.Old = Normalise(chunk.Old);
            chunk.New = Normalise(chunk.New);
            const TMemoPos at{0, chunk.Line};
            DeleteRaw(at, TextEndPos(at, chunk.Old));
            InsertRaw(at, chunk.New);
        }
    } catch (...) {
        FLines.EndUpdate();
        throw;
    }
    FLines.EndUpdate();
    PlaceCaret(caret);
    CollapseSelection();
    FUndoList.Add(std::make_unique<TReplaceLinesUndo>(start, Caret(), std::move(chunks)));
}

void TCodeMemoModel::PasteText(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            s += "\r\n";
        } else {
            s += text[i];
        }
    }
    InsertText(s);
}

void TCodeMemoModel::CopyToClipboard() {
    if (HasSelection() && OnSetClipboard) OnSetClipboard(*this, SelText());
}

void TCodeMemoModel::CutToClipboard() {
    if (ReadOnly || !HasSelection()) return;
    CopyToClipboard();
    DeleteSelection();
}

void TCodeMemoModel::PasteFromClipboard() {
    if (ReadOnly || !OnGetClipboard) return;
    std::string text = OnGetClipboard(*this);
    if (!text.empty()) PasteText(text);
}

void TCodeMemoModel::SetText(std::string_view text) {
    CloseCompletion();
    HideParamHint();
    FLines.SetText(text);
    EnsureOneLine();
    FUndoList.Clear();
    FHighlighter.Reset();
    FCaretX = FCaretY = 0;
    FTopLine = FLeftCol = 0;
    FBlockMark = {};
    CollapseSelection();
    SetCaret(0, 0);
}

void TCodeMemoModel::LoadLines(const std::string& path) {
    CloseCompletion();
    HideParamHint();
    ++FQuiet;
    try {
        FLines.LoadFromFile(path); // throws before any line is touched
    } catch (...) {
        --FQuiet;
        throw;
    }
    EnsureOneLine();
    --FQuiet;
    FUndoList.Clear();
    FHighlighter.Reset();
    FCaretX = FCaretY = 0;
    FTopLine = FLeftCol = 0;
    FBlockMark = {};
    CollapseSelection();
    FModified = false;
    SetCaret(0, 0);
}

void TCodeMemoModel::SaveLines(const std::string& path) {
    // The caret's padding is no text of the file; the caret keeps its column and pads again when
    // the user types there.
    TrimLine(FCaretY);
    FLines.SaveToFile(path);
    FModified = false;
}

// ---------------------------------------------------------------------------------------------
// Mouse

std::pair<int, int> TCodeMemoModel::WordAt(TMemoPos pos) const {
    if (pos.Line < 0 || pos.Line >= FLines.Count()) return {0, 0};
    std::u32string line = U32Line(FLines, pos.Line);
    int len = static_cast<int>(line.size());
    if (pos.Col < 0 || pos.Col >= len || IsWordBreak(line[static_cast<std::size_t>(pos.Col)]))
        return {pos.Col, pos.Col};
    int s = pos.Col, e = pos.Col;
    while (s > 0 && !IsWordBreak(line[static_cast<std::size_t>(s - 1)])) --s;
    while (e < len && !IsWordBreak(line[static_cast<std::size_t>(e)])) ++e;
    return {s, e};
}

void TCodeMemoModel::MouseDown(TMemoPos pos, bool extend) {
    CloseCompletion();
    MoveTo(pos, extend);
}

void TCodeMemoModel::MouseDrag(TMemoPos pos) {
    TMemoPos anchor = FSelStart;
    SetCaret(pos.Col, pos.Line);
    FSelStart = anchor;
    FSelEnd = Caret();
}

void TCodeMemoModel::DoubleClick(TMemoPos pos) {
    auto [s, e] = WordAt(pos);
    if (e > s) SetSelection({s, pos.Line}, {e, pos.Line});
}

// ---------------------------------------------------------------------------------------------
// Keys

void TCodeMemoModel::AfterKey(bool ctrl) {
    if (!ctrl && AutoHintParameters && !FCompletion.Open) EvaluateHint(false);
}

bool TCodeMemoModel::KeyDown(TMemoKey key, TShiftState shift) {
    bool sh = shift & ssShift, ctrl = shift & ssCtrl, alt = shift & ssAlt;
    if (FCompletion.Open && CompletionKeyDown(key, shift)) return true;
    int page = std::max(FVisibleLines - 1, 1);
    int last = FLines.Count() - 1;
    // Up and down keep the caret's screen cell, so it stays above the same text across TABs.
    auto vertical = [this, last](int line) {
        line = std::clamp(line, 0, last);
        return TMemoPos{FLines.ColumnAtCell(line, CaretCell()), line};
    };
    switch (key) {
    case TMemoKey::mkLeft:
        if (ctrl)
            WordLeft(sh);
        else
            MoveTo({FCaretX - 1, FCaretY}, sh);
        break;
    case TMemoKey::mkRight:
        if (ctrl)
            WordRight(sh);
        else
            MoveTo({FCaretX + 1, FCaretY}, sh);
        break;
    case TMemoKey::mkUp:
        MoveTo(vertical(FCaretY - 1), sh);
        break;
    case TMemoKey::mkDown:
        MoveTo(vertical(FCaretY + 1), sh);
        break;
    case TMemoKey::mkHome:
        if (ctrl) {
            MoveTo({0, 0}, sh);
        } else {
            MoveTo({0, FCaretY}, sh);
            FLeftCol = 0;
        }
        break;
    case TMemoKey::mkEnd:
        if (ctrl)
            MoveTo({FLines.Length(last), last}, sh);
        else
            MoveTo({static_cast<int>(Utf8CharCount(TrimRight(FLines[FCaretY]))), FCaretY}, sh);
        break;
    case TMemoKey::mkPageUp:
        if (ctrl) {
            MoveTo({0, 0}, sh);
        } else {
            SetTopLine(FTopLine - page);
            MoveTo(vertical(FCaretY - page), sh);
        }
        break;
    case TMemoKey::mkPageDown:
        if (ctrl) {
            MoveTo({FLines.Length(last), last}, sh);
        } else {
            SetTopLine(std::min(FTopLine + page, std::max(FLines.Count() - FVisibleLines, 0)));
            MoveTo(vertical(FCaretY + page), sh);
        }
        break;
    case TMemoKey::mkReturn:
        if (ctrl || alt) return false;
        Enter();
        break;
    case TMemoKey::mkTab:
        if (!WantTab || ctrl || alt) return false;
        if (sh) {
            MoveTo({FLines.ColumnAtCell(FCaretY, std::max(CaretCell() - FLines.TabSize, 0)), FCaretY}, false);
        } else {
            Tab();
        }
        break;
    case TMemoKey::mkBackspace:
        if (alt) {
            if (sh)
                Redo();
            else
                Undo();
        } else if (ctrl) {
            CtrlBackspace();
        } else {
            Backspace();
        }
        break;
    case TMemoKey::mkDelete:
        if (sh)
            CutToClipboard();
        else
            DeleteChar();
        break;
    case TMemoKey::mkInsert:
        if (ctrl)
            CopyToClipboard();
        else if (sh)
            PasteFromClipboard();
        else
            FOverwrite = !FOverwrite;
        break;
    case TMemoKey::mkSpace:
        if (!ctrl) return false;
        if (sh)
            ShowParamHint();
        else
            ShowCompletion();
        return true;
    case TMemoKey::mkA:
        if (!ctrl) return false;
        SelectAll();
        break;
    case TMemoKey::mkC:
        if (!ctrl) return false;
        CopyToClipboard();
        break;
    case TMemoKey::mkX:
        if (!ctrl) return false;
        CutToClipboard();
        break;
    case TMemoKey::mkV:
        if (!ctrl) return false;
        PasteFromClipboard();
        break;
    case TMemoKey::mkY:
        if (!ctrl) return false;
        DeleteLine();
        break;
    case TMemoKey::mkF:
        if (!ctrl) return false;
        if (OnFind) OnFind(*this);
        break;
    case TMemoKey::mkH:
        if (!ctrl) return false;
        if (OnReplace) OnReplace(*this);
        break;
    case TMemoKey::mkEscape:
        if (!FHint.Visible) return false;
        HideParamHint();
        return true;
    default:
        return false; // Ctrl+Z has no function
    }
    AfterKey(ctrl);
    return true;
}

bool TCodeMemoModel::KeyPress(char32_t ch, TShiftState shift) {
    // Ctrl or Alt alone make a command, not a character; both together are AltGr and type.
    bool command = ((shift & ssCtrl) != 0) != ((shift & ssAlt) != 0);
    if (ch < 32 || ch == 127 || (ch >= 0x80 && ch < 0xA0) || command) return false;
    if (ReadOnly) return false;
    if (FCompletion.Open) {
        bool letter = (ch < 128 && std::isalpha(static_cast<int>(ch)));
        if (ch == U' ') {
            CompletionInsert();
            return true;
        }
        if (letter || (ch < 128 && (std::isdigit(static_cast<int>(ch)) || ch == U'_'))) {
            if (letter) ch = (shift & ssShift) ? Upper(ch) : Lower(ch);
            TypeChar(ch);
            CompletionReselect();
            return true;
        }
        CloseCompletion();
    }
    if (ch == U' ') DoAutoCorrect();
    TypeChar(ch);
    if (ch == U'.' && AutoCompletion) {
        FDotPos = Caret();
        if (OnCompletionTimer) OnCompletionTimer(*this, AutoCompletionDelay);
    }
    AfterKey(false);
    return true;
}

void TCodeMemoModel::TypeText(std::string_view utf8) {
    for (char32_t c : Utf8ToU32(utf8)) {
        if (c == U'\r' || c == U'\n')
            KeyDown(TMemoKey::mkReturn);
        else if (c == U'\t')
            KeyDown(TMemoKey::mkTab);
        else
            KeyPress(c);
    }
}

// ---------------------------------------------------------------------------------------------
// Completion list

std::string TCodeMemoModel::CompletionWord(const std::string& entry) {
    std::size_t space = entry.find(' ');
    std::string rest = space == std::string::npos ? entry : entry.substr(space + 1);
    return rest.substr(0, rest.find_first_of(" (;"));
}

std::vector<std::string> TCodeMemoModel::CompletionCandidates(const std::vector<std::string>& list,
                                                              const std::string& prefix) {
    std::vector<std::string> items;
    for (const std::string& entry : list) {
        std::size_t space = entry.find(' ');
        std::string key = UpperAscii(space == std::string::npos ? entry : entry.substr(space + 1));
        if (key.compare(0, prefix.size(), prefix) == 0) items.push_back(entry);
    }
    std::stable_sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
        return UpperAscii(CompletionWord(a)) < UpperAscii(CompletionWord(b));
    });
    return items;
}

void TCodeMemoModel::OpenCompletion(bool fromDot) {
    if (!AutoCompletion || !FStyler || FStyler->AutoCompletion.empty()) return;
    std::u32string line = U32Line(FLines, FCaretY);
    int col = std::min(FCaretX, static_cast<int>(line.size()));
    int s = col, e = col;
    while (s > 0 && !IsBlank(line[static_cast<std::size_t>(s - 1)])) --s;
    while (e < static_cast<int>(line.size()) && !IsBlank(line[static_cast<std::size_t>(e)])) ++e;
    std::string word = U32ToUtf8(
        std::u32string_view(line).substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s)));
    if (fromDot && (word.empty() || word == ".")) return;
    std::vector<std::string> items = CompletionCandidates(FStyler->AutoCompletion, UpperAscii(word));
    if (items.empty()) return;
    FCompletion.Open = true;
    FCompletion.Items = std::move(items);
    FCompletion.ItemIndex = 0;
    FCompletion.Pos = Caret();
    FCompletion.ReplaceFrom = fromDot && FDotPos.Line == FCaretY ? std::min(FDotPos.Col, col) : -1;
    CompletionReselect();
}

void TCodeMemoModel::ShowCompletion() {
    OpenCompletion(false);
}

void TCodeMemoModel::CompletionTimerFired() {
    if (!FCompletion.Open) OpenCompletion(true);
}

void TCodeMemoModel::CompletionReselect() {
    if (!FCompletion.Open) return;
    std::u32string line = U32Line(FLines, FCaretY);
    int col = std::min(FCaretX, static_cast<int>(line.size()));
    int s = col;
    while (s > 0 && !IsBlank(line[static_cast<std::size_t>(s - 1)])) --s;
    std::string prefix = UpperAscii(U32ToUtf8(
        std::u32string_view(line).substr(static_cast<std::size_t>(s), static_cast<std::size_t>(col - s))));
    for (int i = 0; i < static_cast<int>(FCompletion.Items.size()); ++i) {
        if (UpperAscii(CompletionWord(FCompletion.Items[static_cast<std::size_t>(i)]))
                .compare(0, prefix.size(), prefix) == 0) {
            FCompletion.ItemIndex = i;
            break;
        }
    }
    if (OnCompletionChange) OnCompletionChange(*this);
}

void TCodeMemoModel::CompletionSelect(int index) {
    if (!FCompletion.Open || FCompletion.Items.empty()) return;
    FCompletion.ItemIndex = std::clamp(index, 0, static_cast<int>(FCompletion.Items.size()) - 1);
    if (OnCompletionChange) OnCompletionChange(*this);
}

void TCodeMemoModel::CloseCompletion() {
    if (!FCompletion.Open) return;
    FCompletion = {};
    if (OnCompletionChange) OnCompletionChange(*this);
}

void TCodeMemoModel::CompletionInsert() {
    if (!FCompletion.Open || FCompletion.ItemIndex < 0 ||
        FCompletion.ItemIndex >= static_cast<int>(FCompletion.Items.size())) {
        CloseCompletion();
        return;
    }
    std::string entry = FCompletion.Items[static_cast<std::size_t>(FCompletion.ItemIndex)];
    int replaceFrom = FCompletion.ReplaceFrom;
    CloseCompletion();
    if (ReadOnly) return;
    std::string word = CompletionWord(entry);
    bool call = entry.find('(') != std::string::npos;
    std::u32string line = U32Line(FLines, FCaretY);
    int len = static_cast<int>(line.size());
    int col = std::min(FCaretX, len);
    int s = col, e = col;
    while (s > 0 && !IsBlank(line[static_cast<std::size_t>(s - 1)])) --s;
    while (e < len && !IsBlank(line[static_cast<std::size_t>(e)])) ++e;
    if (replaceFrom >= 0) s = std::min(replaceFrom, e);
    Replace(FCaretY, s, e, word + (call ? "()" : ""));
    if (call) {
        SetCaretX(s + static_cast<int>(Utf8CharCount(word)) + 1);
        ShowParamHint();
    }
}

bool TCodeMemoModel::CompletionKeyDown(TMemoKey key, TShiftState shift) {
    int count = static_cast<int>(FCompletion.Items.size());
    const int page = 5; // rows the 100-pixel list shows
    switch (key) {
    case TMemoKey::mkTab:
    case TMemoKey::mkEscape:
        CloseCompletion();
        return true;
    case TMemoKey::mkReturn:
        CompletionInsert();
        return true;
    case TMemoKey::mkUp:
        CompletionSelect(FCompletion.ItemIndex - 1);
        return true;
    case TMemoKey::mkDown:
        CompletionSelect(FCompletion.ItemIndex + 1);
        return true;
    case TMemoKey::mkPageUp:
        CompletionSelect(FCompletion.ItemIndex - page);
        return true;
    case TMemoKey::mkPageDown:
        CompletionSelect(FCompletion.ItemIndex + page);
        return true;
    case TMemoKey::mkHome:
        CompletionSelect(0);
        return true;
    case TMemoKey::mkEnd:
        CompletionSelect(count - 1);
        return true;
    case TMemoKey::mkBackspace:
        if (shift & (ssCtrl | ssAlt)) break;
        Backspace();
        CompletionReselect();
        return true;
    case TMemoKey::mkDelete:
        if (shift) break;
        DeleteChar();
        return true;
    case TMemoKey::mkSpace:
        // Ctrl+Space keeps it open; a plain Space arrives as a typed character and inserts.
        if (shift & ssCtrl) return true;
        return false;
    default:
        break;
    }
    CloseCompletion();
    return false;
}

// ---------------------------------------------------------------------------------------------
// Parameter hint

void TCodeMemoModel::SetHint(const TParamHint& hint) {
    FHint = hint;
    if (OnHintChange) OnHintChange(*this);
}

void TCodeMemoModel::HideParamHint() {
    if (!FHint.Visible) return;
    SetHint({});
}

void TCodeMemoModel::ShowParamHint() {
    EvaluateHint(true);
}

void TCodeMemoModel::EvaluateHint(bool onDemand) {
    (void)onDemand;
    if (!FStyler) {
        HideParamHint();
        return;
    }
    const THintParameter& hp = FStyler->HintParameter;
    std::u32string line = U32Line(FLines, FCaretY);
    int i = std::min(FCaretX, static_cast<int>(line.size())) - 1;
    int index = 0, spaces = 0;
    for (; i >= 0; --i) {
        char32_t c = line[static_cast<std::size_t>(i)];
        if (c == static_cast<unsigned char>(hp.HintCharStart)) break;
        if (c == static_cast<unsigned char>(hp.HintCharEnd)) {
            i = -1;
            break;
        }
        if (c == static_cast<unsigned char>(hp.HintCharWriteDelimiter)) ++index;
        if (IsBlank(c)) {
            spaces += c == U'\t' ? FLines.TabSize : 1;
            if (spaces > 4) {
                i = -1;
                break;
            }
        } else {
            spaces = 0;
        }
    }
    if (i < 0) {
        HideParamHint();
        return;
    }
    int nameEnd = i, nameStart = i;
    while (nameStart > 0 && !IsWordBreak(line[static_cast<std::size_t>(nameStart - 1)])) --nameStart;
    // An empty name would be "contained" in every prototype; it finds nothing instead.
    if (nameStart == nameEnd) {
        HideParamHint();
        return;
    }
    std::string name = U32ToUtf8(std::u32string_view(line).substr(
        static_cast<std::size_t>(nameStart), static_cast<std::size_t>(nameEnd - nameStart)));
    if (!CaseSensitive) name = UpperAscii(name);
    const std::string* proto = nullptr;
    for (const std::string& p : hp.Parameters) {
        if ((CaseSensitive ? p : UpperAscii(p)).find(name) != std::string::npos) {
            proto = &p;
            break;
        }
    }
    std::size_t open = proto ? proto->find(hp.HintCharStart) : std::string::npos;
    if (open == std::string::npos) {
        HideParamHint();
        return;
    }
    std::size_t close = proto->find(hp.HintCharEnd, open + 1);
    std::string params =
        proto->substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);

    TParamHint hint;
    hint.Visible = true;
    hint.Text = params;
    std::u32string p32 = Utf8ToU32(params);
    int current = 0, start = 0;
    for (int k = 0; k <= static_cast<int>(p32.size()); ++k) {
        bool delim =
            k == static_cast<int>(p32.size()) ||
            p32[static_cast<std::size_t>(k)] == static_cast<unsigned char>(hp.HintCharDelimiter) ||
            p32[static_cast<std::size_t>(k)] == static_cast<unsigned char>(hp.HintCharWriteDelimiter);
        if (!delim) continue;
        if (current == index) {
            int s = start;
            while (s < k && p32[static_cast<std::size_t>(s)] == U' ') ++s;
            hint.BoldStart = s;
            hint.BoldLength = k - s;
            break;
        }
        ++current;
        start = k + 1;
    }
    hint.Pos = {CaretCell(), AutoHintParameterPosition == hpBelow ? FCaretY + 1 : FCaretY - 1};
    SetHint(hint);
}
