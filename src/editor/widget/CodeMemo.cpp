// The editor control: painting, scroll bars, key and mouse routing, completion and hint windows.
#include "editor/widget/CodeMemo.h"

#include "editor/widget/CodeMemoAccessible.h"

#include "VarnelloError.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

TColor ToTColor(const QColor& c) {
    return TColor((unsigned(c.red()) << 16) | (unsigned(c.green()) << 8) | unsigned(c.blue()));
}

bool IsFixedPitch(const QFont& font) {
    QFontMetrics fm(font);
    int w = fm.horizontalAdvance(QLatin1Char('W'));
    for (QChar c : QStringLiteral("il.m _#"))
        if (fm.horizontalAdvance(c) != w) return false;
    QFont bold(font);
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(QLatin1Char('i')) == w;
}

TShiftState ShiftOf(Qt::KeyboardModifiers mods) {
    TShiftState s = 0;
    if (mods & Qt::ShiftModifier) s |= ssShift;
    if (mods & Qt::ControlModifier) s |= ssCtrl;
    if (mods & Qt::AltModifier) s |= ssAlt;
    return s;
}

bool IsLetterKey(TMemoKey k) {
    return k >= TMemoKey::mkA && k <= TMemoKey::mkZ;
}

// The line as the screen shows it, TABs widened to tabSize spaces, with the scanner's runs (byte
// ranges of the stored line) moved along to the same characters.
void ExpandForDisplay(std::string& text, std::vector<THighlightRun>& runs, int tabSize) {
    if (text.find('\t') == std::string::npos) return;
    const int widen = std::max(tabSize, 1) - 1;
    std::vector<int> shift(text.size() + 1, 0); // extra bytes before each offset
    int extra = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        shift[i] = extra;
        if (text[i] == '\t') extra += widen;
    }
    shift[text.size()] = extra;
    auto moved = [&](int offset) {
        offset = std::clamp(offset, 0, static_cast<int>(text.size()));
        return offset + shift[static_cast<std::size_t>(offset)];
    };
    for (THighlightRun& run : runs) {
        const int end = moved(run.Start + run.Length);
        run.Start = moved(run.Start);
        run.Length = end - run.Start;
    }
    text = ExpandTabs(text, tabSize);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Completion window

TAutoCompletionListBox::TAutoCompletionListBox(QWidget* parent) : QListWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    setFont(f);
}

TCompletionForm::TCompletionForm(TCustomCodeMemo* memo)
    : QWidget(memo, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), FMemo(memo) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Completion list"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FListBox = new TAutoCompletionListBox(this);
    layout->addWidget(FListBox);
    connect(FListBox, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!FSyncing && row >= 0) FMemo->Model().CompletionSelect(row);
    });
    connect(FListBox, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem*) {
        FMemo->Model().CompletionInsert();
        FMemo->Refresh();
    });
}

void TCompletionForm::ShowList(const TCompletionState& state, QPoint global) {
    FSyncing = true;
    QStringList items;
    for (const auto& s : state.Items) items << QString::fromStdString(s);
    bool same = FListBox->count() == items.size();
    for (int i = 0; same && i < items.size(); ++i) same = FListBox->item(i)->text() == items[i];
    if (!same) {
        FListBox->clear();
        FListBox->addItems(items);
    }
    FListBox->setCurrentRow(state.ItemIndex);
    FSyncing = false;
    int width = 200;
    QFontMetrics fm(FListBox->font());
    for (const QString& s : items)
        width =
            std::max(width, fm.horizontalAdvance(s) + 12 + FListBox->verticalScrollBar()->sizeHint().width());
    resize(width, 100);
    move(global);
    if (!isVisible()) show();
}

// ---------------------------------------------------------------------------------------------
// Hint window

TParamHintForm::TParamHintForm(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Parameter hint"));
}

void TParamHintForm::ShowHint(const TParamHint& hint, QPoint global, const QFont& font, QColor text,
                              QColor back) {
    FHint = hint;
    FFont = font;
    FText = text;
    FBack = back;
    QString all = QString::fromStdString(hint.Text);
    QFont bold(font);
    bold.setBold(true);
    std::u32string u = all.toStdU32String();
    auto part = [&u](int from, int count) {
        from = std::clamp(from, 0, int(u.size()));
        count = std::clamp(count, 0, int(u.size()) - from);
        return QString::fromStdU32String(u.substr(std::size_t(from), std::size_t(count)));
    };
    int w = QFontMetrics(font).horizontalAdvance(part(0, hint.BoldStart)) +
            QFontMetrics(bold).horizontalAdvance(part(hint.BoldStart, hint.BoldLength)) +
            QFontMetrics(font).horizontalAdvance(part(hint.BoldStart + hint.BoldLength, int(u.size())));
    resize(w + 6, QFontMetrics(font).height() + 4);
    move(global);
    if (!isVisible()) show();
    update();
}

void TParamHintForm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), FBack);
    p.setPen(FText);
    std::u32string u = QString::fromStdString(FHint.Text).toStdU32String();
    auto part = [&u](int from, int count) {
        from = std::clamp(from, 0, int(u.size()));
        count = std::clamp(count, 0, int(u.size()) - from);
        return QString::fromStdU32String(u.substr(std::size_t(from), std::size_t(count)));
    };
    QFont bold(FFont);
    bold.setBold(true);
    int x = 3, y = 2 + QFontMetrics(FFont).ascent();
    const QString pieces[3] = {part(0, FHint.BoldStart), part(FHint.BoldStart, FHint.BoldLength),
                               part(FHint.BoldStart + FHint.BoldLength, int(u.size()))};
    for (int i = 0; i < 3; ++i) {
        const QFont& f = i == 1 ? bold : FFont;
        p.setFont(f);
        p.drawText(x, y, pieces[i]);
        x += QFontMetrics(f).horizontalAdvance(pieces[i]);
    }
}

// ---------------------------------------------------------------------------------------------
// The editor

TCustomCodeMemo::TCustomCodeMemo(QWidget* parent) : QAbstractScrollArea(parent) {
    InstallCodeMemoAccessibility(); // before the first accessibility event makes Qt's own interface
    GutterColor = QApplication::palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAccessibleName(QStringLiteral("Code editor"));
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(13);
    if (!IsFixedPitch(font)) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(13);
    }
    ApplyFont(font);

    FCompletionForm = new TCompletionForm(this);
    FHintForm = new TParamHintForm(this);
    FContextMenu = new QMenu(this);
    FDotTimer.setSingleShot(true);
    FHintTimer.setSingleShot(true);
    connect(&FDotTimer, &QTimer::timeout, this, [this] {
        FModel.CompletionTimerFired();
        UpdateView();
    });
    connect(&FHintTimer, &QTimer::timeout, this, [this] { FModel.HideParamHint(); });

    FModel.OnStatusChange = [this](TCodeMemoModel&) {
        if (QAccessible::isActive()) {
            QAccessibleTextCursorEvent moved(this, TCodeMemoAccessible::OffsetOf(*this, FModel.Caret()));
            QAccessible::updateAccessibility(&moved);
        }
        if (OnStatusChange) OnStatusChange(*this);
    };
    FModel.OnChange = [this](TCodeMemoModel&) {
        if (OnChange) OnChange(*this);
    };
    FModel.OnLinesChange = [this](TCodeMemoModel&, int) { PostInvalidate(); };
    FModel.OnFind = [this](TCodeMemoModel&) {
        if (OnFind) OnFind(*this);
    };
    FModel.OnReplace = [this](TCodeMemoModel&) {
        if (OnReplace) OnReplace(*this);
    };
    FModel.OnCompletionChange = [this](TCodeMemoModel&) { SyncCompletion(); };
    FModel.OnCompletionTimer = [this](TCodeMemoModel&, int delay) { FDotTimer.start(delay); };
    FModel.OnHintChange = [this](TCodeMemoModel&) { SyncHint(); };
    FModel.OnSetClipboard = [](TCodeMemoModel&, const std::string& text) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    };
    FModel.OnGetClipboard = [](TCodeMemoModel&) {
        return QGuiApplication::clipboard()->text().toStdString();
    };
    UpdateView();
}

TCustomCodeMemo::~TCustomCodeMemo() {
    // The windows' handlers call back into the model: they go before it does.
    delete FCompletionForm;
    delete FHintForm;
    // The model's events point back here; silence them before the members go.
    FModel.OnStatusChange = nullptr;
    FModel.OnChange = nullptr;
    FModel.OnLinesChange = nullptr;
    FModel.OnCompletionChange = nullptr;
    FModel.OnHintChange = nullptr;
}

void TCustomCodeMemo::SetSyntaxStyles(TCustomMemoStyler* styler) {
    FModel.SetSyntaxStyles(styler);
    viewport()->update();
}

void TCustomCodeMemo::LoadLines(const std::string& path) {
    FModel.LoadLines(path);
    UpdateView();
}

void TCustomCodeMemo::SaveLines(const std::string& path) {
    FModel.SaveLines(path);
}

void TCustomCodeMemo::InsertText(const std::string& text) {
    FModel.InsertText(text);
    UpdateView();
}

void TCustomCodeMemo::SetText(const std::string& text) {
    FModel.SetText(text);
    UpdateView();
}

void TCustomCodeMemo::SetMemoFont(const QFont& font) {
    if (!IsFixedPitch(font)) throw EVarnelloError("Monospace font required");
    ApplyFont(font);
}

void TCustomCodeMemo::ApplyFont(const QFont& font) {
    FFont = font;
    QFontMetrics fm(font);
    FCharWidth = std::max(fm.horizontalAdvance(QLatin1Char('W')), 1);
    FLineHeight = std::max(fm.height(), 1);
    FAscent = fm.ascent();
    FMarginCharWidth = fm.horizontalAdvance(QLatin1Char('w'));
    UpdateVisibleSize();
}

void TCustomCodeMemo::SetGutterWidth(int width) {
    FGutterWidth = std::max(width, 0);
    UpdateVisibleSize();
}

QPoint TCustomCodeMemo::CellToPoint(TMemoPos pos) const {
    return CellPixel(FModel.Lines().CellOf(pos.Line, pos.Col), pos.Line);
}

QPoint TCustomCodeMemo::CellPixel(int cell, int line) const {
    return {TextLeft() + (cell - FModel.LeftCol()) * FCharWidth, (line - FModel.TopLine()) * FLineHeight};
}

TMemoPos TCustomCodeMemo::PointToCell(QPoint point) const {
    // Points left of or above the text area give cells before the view, so a drag out of the
    // window scrolls it (through the model keeping the caret in view).
    auto floorDiv = [](int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    int cell = FModel.LeftCol() + floorDiv(point.x() - TextLeft() + FCharWidth / 2, FCharWidth);
    int line = std::clamp(FModel.TopLine() + floorDiv(point.y(), FLineHeight), 0, FModel.Lines().Count() - 1);
    return {FModel.Lines().ColumnAtCell(line, std::max(cell, 0)), line};
}

void TCustomCodeMemo::UpdateVisibleSize() {
    int lines = std::max(viewport()->height() / FLineHeight, 1);
    int cols = std::max((viewport()->width() - TextLeft()) / FCharWidth, 1);
    FModel.SetVisibleSize(lines, cols);
    UpdateView();
}

void TCustomCodeMemo::UpdateView() {
    FSyncingScroll = true;
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, std::max(FModel.Lines().Count() - 1, 0));
    v->setPageStep(FModel.VisibleLines());
    v->setSingleStep(1);
    v->setValue(FModel.TopLine());
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(FModel.Lines().MaxLength(), FModel.CaretCell()));
    h->setPageStep(FModel.VisibleCols());
    h->setValue(FModel.LeftCol());
    FSyncingScroll = false;
    Invalidate();
}

void TCustomCodeMemo::scrollContentsBy(int, int) {
    if (FSyncingScroll) return;
    FModel.SetTopLine(verticalScrollBar()->value());
    FModel.SetLeftCol(horizontalScrollBar()->value());
    SyncCompletion();
    viewport()->update();
}

void TCustomCodeMemo::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateVisibleSize();
}

void TCustomCodeMemo::SyncCompletion() {
    const TCompletionState& st = FModel.Completion();
    if (!st.Open) {
        FCompletionForm->hide();
        return;
    }
    const int cell = FModel.Lines().CellOf(st.Pos.Line, st.Pos.Col);
    FCompletionForm->ShowList(st, viewport()->mapToGlobal(CellPixel(cell, st.Pos.Line + 1)));
}

void TCustomCodeMemo::SyncHint() {
    const TParamHint& hint = FModel.Hint();
    if (!hint.Visible) {
        FHintTimer.stop();
        FHintForm->hide();
        return;
    }
    QColor text = Qt::black, back = QColor(0xFF, 0xFF, 0xE1);
    if (const TCustomMemoStyler* s = FModel.SyntaxStyles()) {
        text = ToQColor(s->HintParameter.TextColor);
        back = ToQColor(s->HintParameter.BkColor);
    }
    FHintForm->ShowHint(hint, viewport()->mapToGlobal(CellPixel(hint.Pos.Col, hint.Pos.Line)), FFont, text,
                        back);
    FHintTimer.start(FModel.AutoHintParameterDelay);
}

// ---------------------------------------------------------------------------------------------
// Painting

TCustomCodeMemo::TFrame TCustomCodeMemo::BuildFrame() {
    TFrame f;
    f.Top = FModel.TopLine();
    f.Left = FModel.LeftCol();
    f.Width = viewport()->width();
    f.Height = viewport()->height();
    f.Focus = hasFocus();
    f.Overwrite = FModel.Overwrite();

    TMemoHighlighter& hl = FModel.Highlighter();
    hl.Options.FontColor = ToTColor(FontColor);
    hl.Options.BkColor = ToTColor(BkColor);
    hl.Options.CaseSensitive = FModel.CaseSensitive;
    std::vector<std::vector<THighlightRun>> runs =
        hl.ScanLines(FModel.Lines(), f.Top, f.Height / FLineHeight + 1);

    const TCodeMemoStrings& lines = FModel.Lines();
    const TMemoPos selFrom = std::min(FModel.SelStart(), FModel.SelEnd());
    const TMemoPos selTo = std::max(FModel.SelStart(), FModel.SelEnd());
    const TBlockMark& mark = FModel.BlockMark();
    f.Rows.resize(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        TRow& row = f.Rows[i];
        row.Line = f.Top + static_cast<int>(i);
        row.Text = lines[row.Line];
        row.Runs = std::move(runs[i]);
        // Everything below is in screen cells, so a TAB is drawn TabSize cells wide.
        auto cell = [&lines, &row](int col) { return lines.CellOf(row.Line, col); };
        row.Sel = f.Focus && FModel.HasSelection() && row.Line >= selFrom.Line && row.Line <= selTo.Line;
        if (row.Sel) {
            row.SelStart = row.Line == selFrom.Line ? cell(selFrom.Col) : 0;
            row.SelEnd =
                row.Line == selTo.Line ? cell(selTo.Col) : cell(lines.Length(row.Line)) + 1; // the break too
        }
        row.Caret = f.Focus && row.Line == FModel.CaretY() ? FModel.CaretCell() : -1;
        row.Mark = BlockShow && mark.Visible && mark.Line == row.Line;
        if (row.Mark) {
            std::string_view sv(row.Text);
            std::size_t start = std::min<std::size_t>(static_cast<std::size_t>(mark.Start), sv.size());
            const int col = static_cast<int>(Utf8CharCount(sv.substr(0, start)));
            const int len =
                static_cast<int>(Utf8CharCount(sv.substr(start, static_cast<std::size_t>(mark.Length))));
            row.MarkStart = cell(col);
            row.MarkLength = cell(col + len) - row.MarkStart;
        }
        if (FSearch && FSearch->Valid())
            for (const auto& [from, to] : FSearch->LineMatches(lines, row.Line))
                row.Matches.emplace_back(cell(from), cell(to));
        ExpandForDisplay(row.Text, row.Runs, lines.TabSize);
    }
    return f;
}

void TCustomCodeMemo::Invalidate() {
    TFrame now = BuildFrame();
    const TFrame& was = FPainted;
    if (now.Top != was.Top || now.Left != was.Left || now.Width != was.Width || now.Height != was.Height ||
        now.Focus != was.Focus || now.Overwrite != was.Overwrite || now.Rows.size() != was.Rows.size()) {
        viewport()->update();
        return;
    }
    for (std::size_t i = 0; i < now.Rows.size(); ++i)
        if (!(now.Rows[i] == was.Rows[i]))
            viewport()->update(0, static_cast<int>(i) * FLineHeight, viewport()->width(), FLineHeight);
}

void TCustomCodeMemo::PostInvalidate() {
    if (FInvalidatePosted) return;
    FInvalidatePosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FInvalidatePosted = false;
            UpdateView(); // the scroll ranges follow the text too
        },
        Qt::QueuedConnection);
}

void TCustomCodeMemo::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    const int height = viewport()->height();
    TFrame frame = BuildFrame();

    TPaintLineOptions opt;
    opt.Font = FFont;
    opt.CharWidth = FCharWidth;
    opt.LineHeight = FLineHeight;
    opt.Ascent = FAscent;
    opt.TextLeft = TextLeft();
    opt.TextWidth = std::max(viewport()->width() - TextLeft(), 1);
    opt.LeftColumn = frame.Left;
    opt.BkColor = BkColor;
    opt.SelColor = SelColor;
    opt.SelBkColor = SelBkColor;
    opt.BlockLineColor = BlockLineColor;
    opt.RightMargin = RightMargin;
    opt.RightMarginWidth = FMarginCharWidth;
    opt.RightMarginColor = RightMarginColor;
    opt.MatchBkColor = MatchBkColor;

    // Only the rows inside the exposed area are drawn; the others keep their pixels.
    const QRect area = event->rect();
    const int firstRow = std::max(area.top() / FLineHeight, 0);
    const int lastRow = std::min(area.bottom() / FLineHeight, static_cast<int>(frame.Rows.size()) - 1);
    for (int i = firstRow; i <= lastRow; ++i) {
        const TRow& row = frame.Rows[static_cast<std::size_t>(i)];
        opt.ShowSelection = row.Sel;
        opt.SelStart = row.SelStart;
        opt.SelEnd = row.SelEnd;
        opt.ShowBlockMark = row.Mark;
        opt.BlockStart = row.MarkStart;
        opt.BlockLength = row.MarkLength;
        opt.Matches = row.Matches;
        FPainter.PaintLine(p, i * FLineHeight, row.Text, row.Runs, opt);
        if (row.Caret >= frame.Left) {
            int x = TextLeft() + (row.Caret - frame.Left) * FCharWidth;
            int y = i * FLineHeight;
            if (frame.Overwrite)
                p.fillRect(x, y + FLineHeight - 3, FCharWidth, 3, FontColor);
            else
                p.fillRect(x, y, 2, FLineHeight, FontColor);
        }
    }
    const int used = static_cast<int>(frame.Rows.size()) * FLineHeight;
    if (used < height && area.bottom() >= used) {
        p.fillRect(opt.TextLeft, used, opt.TextWidth, height - used, BkColor);
        TMemoPainter::PaintRightMargin(p, used, height - used, opt);
    }
    p.fillRect(FGutterWidth, area.top(), TextLeft() - FGutterWidth, area.height(), BkColor);
    PaintGutter(p, firstRow, lastRow);
    FPainted = std::move(frame);
}

void TCustomCodeMemo::PaintGutter(QPainter& p, int firstRow, int lastRow) {
    if (FGutterWidth <= 0) return;
    const int height = viewport()->height();
    p.fillRect(0, 0, FGutterWidth, height, GutterColor);
    if (FGutterWidth >= 2) {
        p.fillRect(FGutterWidth - 2, 0, 1, height, QColor(0x80, 0x80, 0x80));
        p.fillRect(FGutterWidth - 1, 0, 1, height, Qt::white);
    }
    if (!LineNumbers) return;
    p.setFont(FFont);
    p.setPen(FontColor);
    for (int i = firstRow; i <= lastRow; ++i) {
        int number = FModel.TopLine() + i + LineNumberStart;
        p.drawText(QRect(0, i * FLineHeight, std::max(FGutterWidth - 2, 0), FLineHeight),
                   Qt::AlignHCenter | Qt::AlignVCenter, QString::number(number));
    }
}

// ---------------------------------------------------------------------------------------------
// Keys

bool TCustomCodeMemo::MapKey(int qtKey, TMemoKey& key) {
    switch (qtKey) {
    case Qt::Key_Left:
        key = TMemoKey::mkLeft;
        return true;
    case Qt::Key_Right:
        key = TMemoKey::mkRight;
        return true;
    case Qt::Key_Up:
        key = TMemoKey::mkUp;
        return true;
    case Qt::Key_Down:
        key = TMemoKey::mkDown;
        return true;
    case Qt::Key_Home:
        key = TMemoKey::mkHome;
        return true;
    case Qt::Key_End:
        key = TMemoKey::mkEnd;
        return true;
    case Qt::Key_PageUp:
        key = TMemoKey::mkPageUp;
        return true;
    case Qt::Key_PageDown:
        key = TMemoKey::mkPageDown;
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        key = TMemoKey::mkReturn;
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        key = TMemoKey::mkTab;
        return true;
    case Qt::Key_Backspace:
        key = TMemoKey::mkBackspace;
        return true;
    case Qt::Key_Delete:
        key = TMemoKey::mkDelete;
        return true;
    case Qt::Key_Insert:
        key = TMemoKey::mkInsert;
        return true;
    case Qt::Key_Escape:
        key = TMemoKey::mkEscape;
        return true;
    case Qt::Key_Space:
        key = TMemoKey::mkSpace;
        return true;
    case Qt::Key_A:
        key = TMemoKey::mkA;
        return true;
    case Qt::Key_C:
        key = TMemoKey::mkC;
        return true;
    case Qt::Key_F:
        key = TMemoKey::mkF;
        return true;
    case Qt::Key_H:
        key = TMemoKey::mkH;
        return true;
    case Qt::Key_V:
        key = TMemoKey::mkV;
        return true;
    case Qt::Key_X:
        key = TMemoKey::mkX;
        return true;
    case Qt::Key_Y:
        key = TMemoKey::mkY;
        return true;
    case Qt::Key_Z:
        key = TMemoKey::mkZ;
        return true;
    default:
        return false;
    }
}

bool TCustomCodeMemo::focusNextPrevChild(bool next) {
    if (FModel.WantTab) return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

bool TCustomCodeMemo::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys the editor gives a meaning to win over window shortcuts while it has the focus.
        auto* ke = static_cast<QKeyEvent*>(event);
        TMemoKey key;
        TShiftState shift = ShiftOf(ke->modifiers());
        if (MapKey(ke->key(), key) && (shift & (ssCtrl | ssAlt))) {
            bool mine = !IsLetterKey(key) || key == TMemoKey::mkA || key == TMemoKey::mkC ||
                        key == TMemoKey::mkV || key == TMemoKey::mkX || key == TMemoKey::mkY ||
                        (key == TMemoKey::mkF && OnFind) || (key == TMemoKey::mkH && OnReplace);
            if (mine) {
                ke->accept();
                return true;
            }
        }
    } else if (event->type() == QEvent::KeyPress && FModel.WantTab) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
            keyPressEvent(ke);
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TCustomCodeMemo::keyPressEvent(QKeyEvent* event) {
    TShiftState shift = ShiftOf(event->modifiers());
    if (event->key() == Qt::Key_Backtab) shift |= ssShift;
    TMemoKey key;
    bool handled = false;
    bool isText = false;
    if (MapKey(event->key(), key)) {
        // Space and letters without Ctrl are typed characters, not commands.
        isText = (key == TMemoKey::mkSpace || IsLetterKey(key)) && !(shift & ssCtrl);
        if (!isText) handled = FModel.KeyDown(key, shift);
    }
    if (!handled && (isText || !MapKey(event->key(), key))) {
        const std::u32string text = event->text().toStdU32String();
        for (char32_t c : text) handled = FModel.KeyPress(c, shift) || handled;
    }
    if (!handled) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    UpdateView();
}

void TCustomCodeMemo::inputMethodEvent(QInputMethodEvent* event) {
    // Composed characters (dead keys, input methods) arrive here instead of as key presses.
    const std::u32string text = event->commitString().toStdU32String();
    for (char32_t c : text) FModel.KeyPress(c);
    event->accept();
    if (!text.empty()) UpdateView();
}

// ---------------------------------------------------------------------------------------------
// Mouse and focus

void TCustomCodeMemo::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        FModel.MouseDown(PointToCell(pos), event->modifiers() & Qt::ShiftModifier);
        FDragging = true;
        UpdateView();
    } else if (event->button() == Qt::RightButton && pos.x() >= FGutterWidth) {
        ShowContextMenu(viewport()->mapToGlobal(pos));
    }
}

void TCustomCodeMemo::mouseMoveEvent(QMouseEvent* event) {
    if (!FDragging || !(event->buttons() & Qt::LeftButton)) return;
    FModel.MouseDrag(PointToCell(event->position().toPoint()));
    UpdateView();
}

void TCustomCodeMemo::mouseReleaseEvent(QMouseEvent*) {
    FDragging = false;
}

void TCustomCodeMemo::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    FModel.DoubleClick(PointToCell(event->position().toPoint()));
    UpdateView();
}

void TCustomCodeMemo::ShowContextMenu(QPoint global) {
    FContextMenu->clear();
    QAction* copy = FContextMenu->addAction(QStringLiteral("Copy\tCtrl-C"));
    QAction* cut = FContextMenu->addAction(QStringLiteral("Cut\tCtrl-X"));
    QAction* paste = FContextMenu->addAction(QStringLiteral("Paste\tCtrl-V"));
    FContextMenu->addSeparator();
    QAction* all = FContextMenu->addAction(QStringLiteral("Select All\tCtrl-A"));
    copy->setEnabled(FModel.HasSelection());
    cut->setEnabled(FModel.HasSelection() && !FModel.ReadOnly);
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    paste->setEnabled(mime && mime->hasText() && !FModel.ReadOnly);
    connect(copy, &QAction::triggered, this, [this] { FModel.CopyToClipboard(); });
    connect(cut, &QAction::triggered, this, [this] {
        FModel.CutToClipboard();
        UpdateView();
    });
    connect(paste, &QAction::triggered, this, [this] {
        FModel.PasteFromClipboard();
        UpdateView();
    });
    connect(all, &QAction::triggered, this, [this] {
        FModel.SelectAll();
        UpdateView();
    });
    FContextMenu->popup(global);
}

void TCustomCodeMemo::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TCustomCodeMemo::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TCustomCodeMemo::hideEvent(QHideEvent* event) {
    FModel.CloseCompletion();
    FModel.HideParamHint();
    QAbstractScrollArea::hideEvent(event);
}
