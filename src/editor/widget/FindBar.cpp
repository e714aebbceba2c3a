// The find bar's rows, keys and status line.
#include "editor/widget/FindBar.h"

#include "editor/widget/CodeMemo.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QPushButton* Button(QWidget* row, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, row);
    b->setObjectName(name);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::TabFocus);
    row->layout()->addWidget(b);
    return b;
}

QLineEdit* Edit(QWidget* row, const char* name, const QString& label, const QString& accessible) {
    auto* caption = new QLabel(label, row);
    auto* e = new QLineEdit(row);
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    caption->setBuddy(e);
    row->layout()->addWidget(caption);
    row->layout()->addWidget(e);
    return e;
}

QWidget* Row(QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    return row;
}

} // namespace

TFindBar::TFindBar(TCustomCodeMemo* memo, QWidget* scope, QWidget* parent) : QWidget(parent), FMemo(memo) {
    setObjectName("FindBar");
    setAccessibleName("Find bar");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    FFindRow = Row(this);
    FindEdit = Edit(FFindRow, "FindEdit", "&Find:", "Find");
    MatchCase = new QCheckBox("Match &case", FFindRow);
    WholeWord = new QCheckBox("&Whole word", FFindRow);
    RegexBox = new QCheckBox("Regular e&xpression", FFindRow);
    for (QCheckBox* box : {MatchCase, WholeWord, RegexBox}) {
        FFindRow->layout()->addWidget(box);
        connect(box, &QCheckBox::toggled, this, [this] { Incremental(); });
    }
    PrevButton = Button(FFindRow, "FindPrevButton", "Previous");
    NextButton = Button(FFindRow, "FindNextButton", "Next");
    CloseButton = new QToolButton(FFindRow);
    CloseButton->setObjectName("FindCloseButton");
    CloseButton->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    CloseButton->setToolTip("Close");
    CloseButton->setAccessibleName("Close");
    FFindRow->layout()->addWidget(CloseButton);
    layout->addWidget(FFindRow);

    FReplaceRow = Row(this);
    ReplaceEdit = Edit(FReplaceRow, "ReplaceEdit", "R&eplace with:", "Replace with");
    ReplaceButton = Button(FReplaceRow, "ReplaceButton", "&Replace");
    ReplaceAllButton = Button(FReplaceRow, "ReplaceAllButton", "Replace &all");
    layout->addWidget(FReplaceRow);

    FLineRow = Row(this);
    LineEdit = Edit(FLineRow, "GotoLineEdit", "&Go to line:", "Go to line");
    LineEdit->setValidator(new QIntValidator(1, 1 << 30, LineEdit));
    GoButton = Button(FLineRow, "GotoLineButton", "Go");
    layout->addWidget(FLineRow);

    Status = new QLabel(this);
    Status->setObjectName("FindStatus");
    Status->setAccessibleName("Find status");
    layout->addWidget(Status);

    connect(FindEdit, &QLineEdit::textEdited, this, [this] { Incremental(); });
    connect(FindEdit, &QLineEdit::returnPressed, this,
            [this] { FindNext(!(QApplication::keyboardModifiers() & Qt::ShiftModifier)); });
    connect(ReplaceEdit, &QLineEdit::returnPressed, this, [this] { Replace(); });
    connect(LineEdit, &QLineEdit::returnPressed, this, [this] { GoToLine(); });
    connect(PrevButton, &QPushButton::clicked, this, [this] { FindNext(false); });
    connect(NextButton, &QPushButton::clicked, this, [this] { FindNext(true); });
    connect(ReplaceButton, &QPushButton::clicked, this, [this] { Replace(); });
    connect(ReplaceAllButton, &QPushButton::clicked, this, [this] { ReplaceAll(); });
    connect(GoButton, &QPushButton::clicked, this, [this] { GoToLine(); });
    connect(CloseButton, &QToolButton::clicked, this, [this] { CloseBar(); });

    auto key = [this, scope](const QKeySequence& seq, std::function<void()> fn) {
        auto* a = new QAction(this);
        a->setShortcut(seq);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, std::move(fn));
        scope->addAction(a);
    };
    key(QKeySequence(Qt::Key_F3), [this] { FindNext(true); });
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(false); });
    key(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { ShowFind(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_H), [this] { ShowReplace(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_G), [this] { ShowGotoLine(); });
    // With the focus in the editor, Ctrl+F and Ctrl+H reach the editor first.
    memo->OnFind = [this](TCustomCodeMemo&) { ShowFind(); };
    memo->OnReplace = [this](TCustomCodeMemo&) { ShowReplace(); };
    hide();
}

TFindBar::~TFindBar() {
    if (!FMemo) return;
    // The editor outlives the bar: it must not call into it or read its search any more.
    FMemo->OnFind = nullptr;
    FMemo->OnReplace = nullptr;
    FMemo->SetSearchHighlight(nullptr);
}

void TFindBar::SetMode(bool find, bool replace, bool gotoLine) {
    FFindRow->setVisible(find);
    FReplaceRow->setVisible(replace);
    FLineRow->setVisible(gotoLine);
    const bool editable = !FMemo->ReadOnly();
    ReplaceButton->setEnabled(editable);
    ReplaceAllButton->setEnabled(editable);
    show();
}

void TFindBar::ShowFind() {
    TCodeMemoModel& m = FMemo->Model();
    const TMemoPos a = std::min(m.SelStart(), m.SelEnd()), b = std::max(m.SelStart(), m.SelEnd());
    FAnchor = m.HasSelection() ? a : m.Caret();
    if (m.HasSelection() && a.Line == b.Line) FindEdit->setText(QString::fromStdString(m.SelText()));
    SetMode(true, FReplaceRow->isVisible() && isVisible(), false);
    SetStatus({});
    Compile();
    FMemo->SetSearchHighlight(&FSearch);
    FindEdit->setFocus();
    FindEdit->selectAll();
}

void TFindBar::ShowReplace() {
    ShowFind();
    SetMode(true, true, false);
}

void TFindBar::ShowGotoLine() {
    SetMode(false, false, true);
    FMemo->SetSearchHighlight(nullptr);
    LineEdit->setText(QString::number(FMemo->Model().CaretY() + 1));
    SetStatus(QString("Lines: %1").arg(FMemo->Lines().Count()));
    LineEdit->setFocus();
    LineEdit->selectAll();
}

void TFindBar::CloseBar() {
    hide();
    FMemo->SetSearchHighlight(nullptr);
    FMemo->setFocus();
}

void TFindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        CloseBar();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFindBar::SetStatus(const QString& text, bool error) {
    Status->setText(text);
    Status->setStyleSheet(error ? "color: #B00000" : "");
}

QString TFindBar::StatusText() const {
    return Status->text();
}

bool TFindBar::Compile() {
    TSearchOptions o;
    o.MatchCase = MatchCase->isChecked();
    o.WholeWord = WholeWord->isChecked();
    o.Regex = RegexBox->isChecked();
    const bool ok = FSearch.SetPattern(FindEdit->text().toStdString(), o);
    if (!ok && !FSearch.Error().empty()) SetStatus(QString::fromStdString(FSearch.Error()), true);
    FMemo->Refresh();
    return ok;
}

void TFindBar::Select(const TSearchMatch& m) {
    TCodeMemoModel& model = FMemo->Model();
    model.SetSelection(m.Start, m.End);
    model.ScrollToCaret();
    FMemo->Refresh();
}

void TFindBar::Incremental() {
    if (!isVisible() || !FFindRow->isVisible()) return;
    if (!Compile()) {
        if (FSearch.Error().empty()) SetStatus({});
        return;
    }
    bool wrapped = false;
    if (auto m = FSearch.Find(FMemo->Lines(), FAnchor, true, true, &wrapped)) {
        Select(*m);
        const int n = FSearch.CountAll(FMemo->Lines());
        SetStatus((n == 1 ? QString("1 match") : QString("%1 matches").arg(n)) + LongNote());
    } else {
        SetStatus("Not found" + LongNote(), true);
    }
}

QString TFindBar::LongNote() const {
    return FSearch.SkippedLongText() ? QString(" (lines over 1 MiB were not searched)") : QString();
}

void TFindBar::FindNext(bool forward) {
    if (FindEdit->text().isEmpty()) {
        ShowFind();
        return;
    }
    if (!FSearch.Valid() && !Compile()) return;
    TCodeMemoModel& m = FMemo->Model();
    const TMemoPos from = !m.HasSelection() ? m.Caret()
                          : forward         ? std::max(m.SelStart(), m.SelEnd())
                                            : std::min(m.SelStart(), m.SelEnd());
    bool wrapped = false;
    if (auto r = FSearch.Find(FMemo->Lines(), from, forward, true, &wrapped)) {
        Select(*r);
        FAnchor = r->Start;
        SetStatus(wrapped ? (forward ? "Passed the end, continued from the top"
                                     : "Passed the top, continued from the end")
                          : QString());
    } else {
        SetStatus("Not found", true);
    }
}

void TFindBar::Replace() {
    if (FMemo->ReadOnly() || (!FSearch.Valid() && !Compile())) return;
    const bool done = FSearch.ReplaceCurrent(FMemo->Model(), ReplaceEdit->text().toStdString());
    FMemo->Refresh();
    SetStatus(done ? "Replaced 1" : (FMemo->Model().HasSelection() ? QString() : QString("Not found")),
              !done);
}

void TFindBar::ReplaceAll() {
    if (FMemo->ReadOnly() || (!FSearch.Valid() && !Compile())) return;
    const int n = FSearch.ReplaceAll(FMemo->Model(), ReplaceEdit->text().toStdString());
    FMemo->Refresh();
    SetStatus((n == 1 ? QString("Replaced 1 occurrence") : QString("Replaced %1 occurrences").arg(n)) +
                  LongNote(),
              n == 0);
}

void TFindBar::GoToLine() {
    bool ok = false;
    const int line = LineEdit->text().toInt(&ok);
    if (!ok || !::GotoLine(FMemo->Model(), line)) {
        SetStatus(
            QString("No line %1: the text has %2 lines").arg(LineEdit->text()).arg(FMemo->Lines().Count()),
            true);
        return;
    }
    FMemo->Refresh();
    CloseBar();
}
