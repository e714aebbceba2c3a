// What assistive technology reads of TCodeMemo: Qt's accessible text interface over the editor's
// lines, so a screen reader can read the content, follow the caret and select text. Offsets count
// UTF-16 units of the whole text with "\n" between lines, as Qt's text interfaces do; positions
// beyond a line's end read as the line's end.
#pragma once

#include <QAccessibleWidget>

class TCustomCodeMemo;
struct TMemoPos;

class TCodeMemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TCodeMemoAccessible(TCustomCodeMemo* memo);

    void* interface_cast(QAccessible::InterfaceType t) override;
    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // Offset of a text position and back (clamped to the text).
    static int OffsetOf(const TCustomCodeMemo& memo, TMemoPos pos);
    static TMemoPos PosAt(const TCustomCodeMemo& memo, int offset);

private:
    TCustomCodeMemo* Memo() const;
};

// Registers the factory that gives every TCodeMemo this interface; safe to call more than once.
void InstallCodeMemoAccessibility();
