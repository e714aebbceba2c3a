// The main window's two modal dialogs, MessageDialog and SInputBox, and the error display.
//
// Every question and message of the window goes through these few functions, so a test can
// answer them through `DialogHook` without a modal loop, and the look comes from the theme.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

struct TDialogRequest {
    enum TKind { dkMessage, dkInput } Kind = dkMessage;
    QString Title;
    QString Text;        // message text or input prompt
    QStringList Buttons; // captions, first returns 1, second 2, third 3
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString* Value = nullptr; // input boxes: the editable value, in and out
};

// When set, every dialog goes to this function instead of the screen; it returns the result
// the dialog would have returned (1 for the first button, ...; 0 when closed).
extern std::function<int(TDialogRequest&)> DialogHook;

// MessageDialog: title "Varnello" unless given, centred on the screen; one to three buttons.
int MessageDialog(QWidget* parent, const QString& text, const QStringList& buttons = {"OK"},
                  QMessageBox::Icon icon = QMessageBox::NoIcon, const QString& title = QString());

// SInputBox: a title, a prompt and an editable value; "OK" returns 1, "Cancel" 2.
int SInputBox(QWidget* parent, const QString& title, const QString& prompt, QString& value);

// The error text as the message box shows it: a period is appended when the last character
// sorts after ".".
QString ErrorDisplayText(const QString& message);

// The message box text of a failed command: the message under the period rule, then, when
// there is one, a blank line and the advice sentence.
QString ErrorBoxText(const QString& message, const QString& advice = QString());

// The message box of a failed command: application title, error icon, "OK".
void ShowErrorMessage(QWidget* parent, const QString& message, const QString& advice = QString());
