// The editor's find bar: a strip under the editor (not a dialog) for incremental find, replace
// and go-to-line. All matching is TMemoSearch's; the bar only reads its fields, moves the
// selection through the model and tells the editor which matches to tint.
#pragma once

#include "editor/CodeMemoSearch.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TCustomCodeMemo;

class TFindBar : public QWidget {
    Q_OBJECT
public:
    // The keys (Ctrl+F, Ctrl+H, Ctrl+G, F3, Shift+F3) work while the focus is anywhere inside
    // `scope`, which should hold the editor and the bar.
    TFindBar(TCustomCodeMemo* memo, QWidget* scope, QWidget* parent = nullptr);
    ~TFindBar() override;

    void ShowFind();     // the selection (one line of it) becomes the pattern
    void ShowReplace();  // find plus the replace row
    void ShowGotoLine(); // the line-number row only
    void CloseBar();     // hides, stops the tinting and gives the focus back to the editor
    // F3 / Shift+F3: the next or previous match from the selection; opens the bar without a pattern.
    void FindNext(bool forward);
    void Replace();
    void ReplaceAll();
    void GoToLine();

    const TMemoSearch& Search() const { return FSearch; }
    QString StatusText() const;

    QLineEdit* FindEdit = nullptr;
    QLineEdit* ReplaceEdit = nullptr;
    QLineEdit* LineEdit = nullptr;
    QCheckBox* MatchCase = nullptr;
    QCheckBox* WholeWord = nullptr;
    QCheckBox* RegexBox = nullptr;
    QPushButton* PrevButton = nullptr;
    QPushButton* NextButton = nullptr;
    QPushButton* ReplaceButton = nullptr;
    QPushButton* ReplaceAllButton = nullptr;
    QPushButton* GoButton = nullptr;
    QToolButton* CloseButton = nullptr;
    QLabel* Status = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetMode(bool find, bool replace, bool gotoLine);
    bool Compile(); // pattern and options into FSearch; shows a bad expression's error
    void Incremental();
    void Select(const TSearchMatch& m);
    void SetStatus(const QString& text, bool error = false);
    QString LongNote() const; // the search left out text too long for a regular expression

    // The editor may go first when both die with their parent.
    QPointer<TCustomCodeMemo> FMemo;
    TMemoSearch FSearch;
    TMemoPos FAnchor; // where the incremental search starts: the caret when the bar opened
    QWidget* FFindRow = nullptr;
    QWidget* FReplaceRow = nullptr;
    QWidget* FLineRow = nullptr;
};
