// TTips: a list of short hints shown one at a time in a small modeless "Tip of the Day" window
// with an icon, a "Next Tip" button and a "Show Tips on Startup" check box.
//
// The component owns at most one window at a time; the window is built on demand and freed
// when closed with its button, so the component's state (tips, current index, start-up flag)
// outlives it.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;

enum TGlyphStyle { gsLightBulb, gsClown, gsHelp, gsArrow, gsTorch, gsCustom };

class TTips;

// The window: 337 x 231 client pixels, dialog border, always on top, centred on the screen.
class TTipDialog : public QDialog {
    Q_OBJECT
public:
    explicit TTipDialog(TTips* tips);
    QLabel* TipLabel = nullptr;
    QCheckBox* CheckBox = nullptr;
    QPushButton* NextButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QWidget* PaintBox = nullptr;
};

class TTips : public QObject {
    Q_OBJECT
public:
    explicit TTips(QObject* owner = nullptr);
    ~TTips() override;

    QStringList Tips() const { return FTips; }
    void SetTips(const QStringList& tips);
    int CurrentTip() const { return FCurrentTip; }
    void SetCurrentTip(int index);
    bool ShowOnStartup = true;
    TGlyphStyle GlyphStyle = gsLightBulb;
    QIcon Glyph;

    std::function<void(QObject* sender)> OnNextTip;
    std::function<void(QObject* sender)> OnCloseDialog;

    // Brings the window to the front, building and showing it (without blocking) if needed.
    void ShowTipWindow();
    // The window while it exists, else null.
    TTipDialog* Window() const { return FWindow; }
    // The icon of the current glyph style.
    QIcon StyleIcon() const;

    // Picks a random tip from a freshly seeded generator.
    void PickRandomTip();

    void NextClicked();
    void CloseClicked();

private:
    void ShowCurrentText();
    QStringList FTips;
    int FCurrentTip = -1;
    QPointer<TTipDialog> FWindow;
};
