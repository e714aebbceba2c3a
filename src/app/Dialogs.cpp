// MessageDialog and SInputBox on QMessageBox and a small QDialog.
#include "app/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

std::function<int(TDialogRequest&)> DialogHook;

namespace {
void CentreOnScreen(QWidget* w) {
    w->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w->move(screen->availableGeometry().center() - w->rect().center());
}
} // namespace

int MessageDialog(QWidget* parent, const QString& text, const QStringList& buttons, QMessageBox::Icon icon,
                  const QString& title) {
    TDialogRequest req;
    req.Kind = TDialogRequest::dkMessage;
    req.Title = title.isEmpty() ? QString("Varnello") : title;
    req.Text = text;
    req.Buttons = buttons.isEmpty() ? QStringList{"OK"} : buttons;
    req.Icon = icon;
    if (DialogHook) return DialogHook(req);

    QMessageBox box(icon, req.Title, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText); // messages quote server replies and names
    QList<QAbstractButton*> made;
    for (int i = 0; i < req.Buttons.size() && i < 3; ++i) {
        QPushButton* b = box.addButton(req.Buttons[i], QMessageBox::ActionRole);
        b->setAccessibleName(QString(req.Buttons[i]).remove('&'));
        made.append(b);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(made.first()));
    box.setEscapeButton(made.last());
    CentreOnScreen(&box);
    box.exec();
    const int index = static_cast<int>(made.indexOf(box.clickedButton()));
    return index < 0 ? 0 : index + 1;
}

int SInputBox(QWidget* parent, const QString& title, const QString& prompt, QString& value) {
    TDialogRequest req;
    req.Kind = TDialogRequest::dkInput;
    req.Title = title;
    req.Text = prompt;
    req.Buttons = {"OK", "Cancel"};
    req.Value = &value;
    if (DialogHook) return DialogHook(req);

    QDialog dlg(parent);
    dlg.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dlg);
    auto* label = new QLabel(prompt, &dlg);
    auto* edit = new QLineEdit(value, &dlg);
    edit->setAccessibleName(prompt);
    label->setBuddy(edit);
    layout->addWidget(label);
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(&dlg);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    ok->setAccessibleName("OK");
    cancel->setAccessibleName("Cancel");
    ok->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    dlg.setMinimumWidth(360);
    CentreOnScreen(&dlg);
    edit->selectAll();
    if (dlg.exec() == QDialog::Accepted) {
        value = edit->text();
        return 1;
    }
    return 2;
}

QString ErrorDisplayText(const QString& message) {
    // Ordinal comparison of the last character, as the message handler always did it.
    if (!message.isEmpty() && message.back() > QChar('.')) return message + ".";
    return message;
}

QString ErrorBoxText(const QString& message, const QString& advice) {
    const QString text = ErrorDisplayText(message);
    return advice.isEmpty() ? text : text + "\n\n" + advice;
}

void ShowErrorMessage(QWidget* parent, const QString& message, const QString& advice) {
    MessageDialog(parent, ErrorBoxText(message, advice), {"OK"}, QMessageBox::Critical,
                  QApplication::applicationName());
}
