// TCodeMemo: the source-code editor control. A fixed-pitch, line-oriented view over
// TCodeMemoModel: it paints the visible lines through the highlighter and TMemoPainter (one
// off-screen line at a time, so nothing flickers), draws the gutter, caret and decorations, keeps
// the scroll bars in step with the model's top line and left column, and turns keys and mouse
// events into model calls. It decides nothing about text itself.
//
// The completion list (TCompletionForm) and the parameter hint (TParamHintForm) are separate
// top-level windows owned by the editor; they never take the focus, so every key still reaches
// the editor, which routes it to the model's completion or hint logic.
#pragma once

#include "editor/CodeMemoModel.h"
#include "editor/CodeMemoSearch.h"
#include "editor/widget/MemoPainter.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QListWidget>
#include <QTimer>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QMenu;
class TCustomCodeMemo;

// The list box of the completion window.
class TAutoCompletionListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TAutoCompletionListBox(QWidget* parent = nullptr);
};

// Borderless, always-on-top tool window holding the completion list.
class TCompletionForm : public QWidget {
    Q_OBJECT
public:
    explicit TCompletionForm(TCustomCodeMemo* memo);
    TAutoCompletionListBox* ListBox() const { return FListBox; }
    // Shows the model's list at `global` (top-left), 200 x 100 pixels or wider to fit the entries.
    void ShowList(const TCompletionState& state, QPoint global);

private:
    TCustomCodeMemo* FMemo;
    TAutoCompletionListBox* FListBox;
    bool FSyncing = false;
};

// Borderless, always-on-top window showing one parameter hint, the current parameter in bold.
class TParamHintForm : public QWidget {
    Q_OBJECT
public:
    explicit TParamHintForm(QWidget* parent);
    void ShowHint(const TParamHint& hint, QPoint global, const QFont& font, QColor text, QColor back);
    const TParamHint& Hint() const { return FHint; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont FFont;
    QColor FText, FBack;
    TParamHint FHint;
};

class TCustomCodeMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TCustomCodeMemo(QWidget* parent = nullptr);
    ~TCustomCodeMemo() override;

    TCodeMemoModel& Model() { return FModel; }
    const TCodeMemoModel& Model() const { return FModel; }
    TCodeMemoStrings& Lines() { return FModel.Lines(); }
    const TCodeMemoStrings& Lines() const { return FModel.Lines(); }

    // The styler (referenced, not owned; cleared when it is destroyed). nullptr = plain text.
    TCustomMemoStyler* SyntaxStyles() const { return FModel.SyntaxStyles(); }
    void SetSyntaxStyles(TCustomMemoStyler* styler);
    void SetAutoCorrect(std::vector<std::pair<std::string, std::string>> pairs) {
        FModel.AutoCorrect = std::move(pairs);
    }

    // Load and save (UTF-8 paths). LoadLines throws EVarnelloError "Cannot open file <path>",
    // SaveLines "Cannot create file <path>" or ETextEncodingError; LoadFromFile and SaveToFile are
    // the same operations under their usual names.
    void LoadLines(const std::string& path);
    void SaveLines(const std::string& path);
    void LoadFromFile(const std::string& path) { LoadLines(path); }
    void SaveToFile(const std::string& path) { SaveLines(path); }
    void InsertText(const std::string& text);
    void SetText(const std::string& text);
    std::string Text() const { return FModel.Text(); }

    bool Modified() const { return FModel.Modified(); }
    void SetModified(bool modified) { FModel.SetModified(modified); }
    bool ReadOnly() const { return FModel.ReadOnly; }
    void SetReadOnly(bool readOnly) { FModel.ReadOnly = readOnly; }

    // The editor font; it must be fixed-pitch, else EVarnelloError "Monospace font required" and
    // the font stays as it was.
    QFont MemoFont() const { return FFont; }
    void SetMemoFont(const QFont& font);
    int CharWidth() const { return FCharWidth; }
    int LineHeight() const { return FLineHeight; }

    // Appearance.
    void SetGutterWidth(int width);
    int GutterWidth() const { return FGutterWidth; }
    QColor GutterColor, BkColor = Qt::white, SelColor = Qt::white, SelBkColor = QColor(0x00, 0x00, 0x80);
    QColor FontColor = Qt::black;
    QColor RightMarginColor = QColor(0xE2, 0xE2, 0xE2), BlockLineColor = QColor(0x80, 0x80, 0x80);
    int RightMargin = 80;
    bool LineNumbers = true;
    int LineNumberStart = 1;
    bool BlockShow = true;

    // Pixel geometry of the text area (viewport coordinates), for callers and tests.
    int TextLeft() const { return FGutterWidth + 2; }
    // Top-left of the character at pos (a TAB before it counts TabSize cells).
    QPoint CellToPoint(TMemoPos pos) const;
    // The text position nearest to the point: inside a TAB, its nearer edge.
    TMemoPos PointToCell(QPoint point) const;

    // Matches of this search are tinted on screen (referenced, not owned; nullptr = none). The
    // owner calls Refresh after changing the pattern.
    void SetSearchHighlight(const TMemoSearch* search) {
        FSearch = search;
        Refresh();
    }
    QColor MatchBkColor = QColor(0xFF, 0xE0, 0x40);

    // Brings scroll bars and screen in line with the model after calls made on Model() directly.
    void Refresh() { UpdateView(); }

    TCompletionForm* CompletionForm() const { return FCompletionForm; }
    TParamHintForm* HintForm() const { return FHintForm; }
    QMenu* ContextMenu() const { return FContextMenu; }

    // Events; the sender is the editor. Unassigned ones do nothing.
    std::function<void(TCustomCodeMemo& sender)> OnStatusChange;
    std::function<void(TCustomCodeMemo& sender)> OnChange;
    std::function<void(TCustomCodeMemo& sender)> OnFind;
    std::function<void(TCustomCodeMemo& sender)> OnReplace;

    QSize sizeHint() const override { return {400, 300}; }

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What one visible row shows; rows whose data did not change since the last paint are not
    // repainted, so a keystroke redraws its own line (and what its colouring state reaches).
    struct TRow {
        int Line = -1;
        std::string Text;
        std::vector<THighlightRun> Runs;
        bool Sel = false;
        int SelStart = 0, SelEnd = 0;
        int Caret = -1; // caret column on this row, -1 = none
        bool Mark = false;
        int MarkStart = 0, MarkLength = 0;
        std::vector<std::pair<int, int>> Matches; // screen cells
        friend bool operator==(const TRow&, const TRow&) = default;
    };
    struct TFrame {
        int Top = -1, Left = -1, Width = 0, Height = 0;
        bool Focus = false, Overwrite = false;
        std::vector<TRow> Rows;
    };
    TFrame BuildFrame();
    void Invalidate();     // repaint the rows that differ from what was painted last
    void PostInvalidate(); // the same, once, after the current event
    void ApplyFont(const QFont& font);
    void UpdateView(); // scroll ranges and positions from the model, then repaint
    void UpdateVisibleSize();
    void SyncCompletion();
    void SyncHint();
    void PaintGutter(QPainter& p, int firstRow, int lastRow);
    void ShowContextMenu(QPoint global);
    QPoint CellPixel(int cell, int line) const; // viewport point of a screen cell
    static bool MapKey(int qtKey, TMemoKey& key);

    TCodeMemoModel FModel;
    TMemoPainter FPainter;
    QFont FFont;
    int FCharWidth = 8, FLineHeight = 16, FAscent = 12, FMarginCharWidth = 8;
    int FGutterWidth = 45;
    bool FDragging = false;
    bool FSyncingScroll = false;
    TCompletionForm* FCompletionForm = nullptr;
    TParamHintForm* FHintForm = nullptr;
    QMenu* FContextMenu = nullptr;
    QTimer FDotTimer;
    QTimer FHintTimer;
    TFrame FPainted; // what the last paint showed
    bool FInvalidatePosted = false;
    const TMemoSearch* FSearch = nullptr;
};

class TCodeMemo : public TCustomCodeMemo {
    Q_OBJECT
public:
    using TCustomCodeMemo::TCustomCodeMemo;
};
