// The main window's two modal dialogs, MessageDialog and SInputBox, and the error display.
//
// Every question, message, file or folder choice of the window and the place of its INI file
// go through one TWindowPrompts the window holds; a test hands the window its own before the
// window does anything, and answers without a modal loop. The look comes from the theme.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class QWidget;

struct TDialogRequest {
    enum TKind { dkMessage, dkInput } Kind = dkMessage;
    QString Title;
    QString Text;        // message text or input prompt
    QStringList Buttons; // captions, first returns 1, second 2, third 3
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString* Value = nullptr; // input boxes: the editable value, in and out
    QString CheckBox;         // message boxes: a check box under the text when not empty
    bool Checked = false;     // its state, in and out
};

// What the window asks the desktop: dialogs, file and folder choices, where files live.
class TWindowPrompts {
public:
    virtual ~TWindowPrompts() = default;
    // Shows a message or input box; returns 1 for the first button, 2 for the second, ... and
    // 0 when closed. An input box's value is changed only when it returns 1.
    virtual int Ask(QWidget* parent, TDialogRequest& request) = 0;
    // Filters are "Description|pattern;pattern|..."; nullopt when the user cancels.
    virtual std::optional<std::string> ChooseOpenFile(QWidget* parent, const QString& filter,
                                                      const QString& defaultExt) = 0;
    virtual std::optional<std::string> ChooseSaveFile(QWidget* parent, const QString& filter,
                                                      const QString& defaultExt) = 0;
    virtual std::optional<std::string> ChooseFolder(QWidget* parent) = 0;
    // The recent-profiles INI file; empty means the menu's own place (beside the program).
    virtual QString RecentIniFile() const = 0;
};

// The real desktop: Qt's dialogs on the screen.
class TSystemPrompts : public TWindowPrompts {
public:
    int Ask(QWidget* parent, TDialogRequest& request) override;
    std::optional<std::string> ChooseOpenFile(QWidget* parent, const QString& filter,
                                              const QString& defaultExt) override;
    std::optional<std::string> ChooseSaveFile(QWidget* parent, const QString& filter,
                                              const QString& defaultExt) override;
    std::optional<std::string> ChooseFolder(QWidget* parent) override;
    QString RecentIniFile() const override { return QString(); }
};

// "Description|pattern;pattern|..." as Qt's dialogs want it: "Description (pattern pattern);;...".
QString QtFilter(const QString& filter);

// MessageDialog: title "Varnello" unless given, centred on the screen; one to three buttons.
int MessageDialog(TWindowPrompts& prompts, QWidget* parent, const QString& text,
                  const QStringList& buttons = {"OK"}, QMessageBox::Icon icon = QMessageBox::NoIcon,
                  const QString& title = QString());

// SInputBox: a title, a prompt and an editable value; "OK" returns 1, "Cancel" 2.
int SInputBox(TWindowPrompts& prompts, QWidget* parent, const QString& title, const QString& prompt,
              QString& value);

// The error text as the message box shows it: a period is appended when the last character
// sorts after ".".
QString ErrorDisplayText(const QString& message);

// The message box text of a failed command: the message under the period rule, then, when
// there is one, a blank line and the advice sentence.
QString ErrorBoxText(const QString& message, const QString& advice = QString());

// The message box of a failed command: application title, error icon, "OK".
void ShowErrorMessage(TWindowPrompts& prompts, QWidget* parent, const QString& message,
                      const QString& advice = QString());
