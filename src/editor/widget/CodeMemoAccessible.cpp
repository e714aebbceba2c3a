// The editor's accessible text interface. See CodeMemoAccessible.h.
#include "editor/widget/CodeMemoAccessible.h"

#include "editor/widget/CodeMemo.h"

#include <algorithm>

namespace {

QString LineText(const TCustomCodeMemo& memo, int line) {
    return QString::fromStdString(memo.Lines()[line]);
}

QAccessibleInterface* CodeMemoFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("TCodeMemo") && className != QLatin1String("TCustomCodeMemo"))
        return nullptr;
    auto* memo = qobject_cast<TCustomCodeMemo*>(object);
    return memo ? new TCodeMemoAccessible(memo) : nullptr;
}

} // namespace

void InstallCodeMemoAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(CodeMemoFactory);
        return true;
    }();
    (void)installed;
}

TCodeMemoAccessible::TCodeMemoAccessible(TCustomCodeMemo* memo)
    : QAccessibleWidget(memo, QAccessible::EditableText) {}

TCustomCodeMemo* TCodeMemoAccessible::Memo() const {
    return static_cast<TCustomCodeMemo*>(widget());
}

void* TCodeMemoAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

QString TCodeMemoAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value) return text(0, characterCount());
    return QAccessibleWidget::text(t);
}

QAccessible::State TCodeMemoAccessible::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.multiLine = true;
    s.editable = !Memo()->ReadOnly();
    s.readOnly = Memo()->ReadOnly();
    s.selectableText = true;
    return s;
}

int TCodeMemoAccessible::OffsetOf(const TCustomCodeMemo& memo, TMemoPos pos) {
    const TCodeMemoStrings& lines = memo.Lines();
    const int last = lines.Count() - 1;
    if (last < 0) return 0;
    pos.Line = std::clamp(pos.Line, 0, last);
    int offset = 0;
    for (int i = 0; i < pos.Line; ++i) offset += static_cast<int>(LineText(memo, i).size()) + 1;
    const std::u32string chars = LineText(memo, pos.Line).toStdU32String();
    const std::size_t col = static_cast<std::size_t>(std::clamp(pos.Col, 0, static_cast<int>(chars.size())));
    return offset + static_cast<int>(QString::fromStdU32String(chars.substr(0, col)).size());
}

TMemoPos TCodeMemoAccessible::PosAt(const TCustomCodeMemo& memo, int offset) {
    const TCodeMemoStrings& lines = memo.Lines();
    offset = std::max(offset, 0);
    for (int line = 0; line < lines.Count(); ++line) {
        const QString text = LineText(memo, line);
        if (offset <= text.size() || line == lines.Count() - 1) {
            const int units = std::min(offset, static_cast<int>(text.size()));
            return {static_cast<int>(text.left(units).toStdU32String().size()), line};
        }
        offset -= static_cast<int>(text.size()) + 1;
    }
    return {0, 0};
}

void TCodeMemoAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    const TCodeMemoModel& m = Memo()->Model();
    if (selectionIndex != 0 || !m.HasSelection()) return;
    *startOffset = OffsetOf(*Memo(), std::min(m.SelStart(), m.SelEnd()));
    *endOffset = OffsetOf(*Memo(), std::max(m.SelStart(), m.SelEnd()));
}

int TCodeMemoAccessible::selectionCount() const {
    return Memo()->Model().HasSelection() ? 1 : 0;
}

void TCodeMemoAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void TCodeMemoAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex != 0) return;
    Memo()->Model().ClearSelection();
    Memo()->Refresh();
}

void TCodeMemoAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0) return;
    Memo()->Model().SetSelection(PosAt(*Memo(), startOffset), PosAt(*Memo(), endOffset));
    Memo()->Refresh();
}

int TCodeMemoAccessible::cursorPosition() const {
    return OffsetOf(*Memo(), Memo()->Model().Caret());
}

void TCodeMemoAccessible::setCursorPosition(int position) {
    Memo()->Model().MoveTo(PosAt(*Memo(), position), false);
    Memo()->Refresh();
}

QString TCodeMemoAccessible::text(int startOffset, int endOffset) const {
    QStringList lines;
    for (int i = 0; i < Memo()->Lines().Count(); ++i) lines << LineText(*Memo(), i);
    const QString all = lines.join(QLatin1Char('\n'));
    startOffset = std::clamp(startOffset, 0, static_cast<int>(all.size()));
    endOffset = std::clamp(endOffset, startOffset, static_cast<int>(all.size()));
    return all.mid(startOffset, endOffset - startOffset);
}

int TCodeMemoAccessible::characterCount() const {
    int count = 0;
    for (int i = 0; i < Memo()->Lines().Count(); ++i)
        count += static_cast<int>(LineText(*Memo(), i).size()) + 1;
    return std::max(count - 1, 0);
}

QRect TCodeMemoAccessible::characterRect(int offset) const {
    const TMemoPos pos = PosAt(*Memo(), offset);
    auto& lines = Memo()->Lines();
    const int cells = lines.CellOf(pos.Line, pos.Col + 1) - lines.CellOf(pos.Line, pos.Col);
    const QPoint topLeft = Memo()->viewport()->mapToGlobal(Memo()->CellToPoint(pos));
    return {topLeft, QSize(cells * Memo()->CharWidth(), Memo()->LineHeight())};
}

int TCodeMemoAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint local = Memo()->viewport()->mapFromGlobal(point);
    if (!Memo()->viewport()->rect().contains(local)) return -1;
    return OffsetOf(*Memo(), Memo()->PointToCell(local));
}

void TCodeMemoAccessible::scrollToSubstring(int startIndex, int) {
    TCodeMemoModel& m = Memo()->Model();
    const TMemoPos pos = PosAt(*Memo(), startIndex);
    if (pos.Line < m.TopLine() || pos.Line >= m.TopLine() + m.VisibleLines())
        m.SetTopLine(pos.Line - m.VisibleLines() / 2);
    Memo()->Refresh();
}

QString TCodeMemoAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // One run without attributes of its own: the colouring is no part of the text.
    (void)offset;
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}
