// MessageDialog and SInputBox on QMessageBox and a small QDialog; the system's file and
// folder choosers.
#include "app/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {
void CentreOnScreen(QWidget* w) {
    w->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w->move(screen->availableGeometry().center() - w->rect().center());
}

int ShowMessageBox(QWidget* parent, TDialogRequest& req) {
    QMessageBox box(req.Icon, req.Title, req.Text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText); // messages quote server replies and names
    QCheckBox* check = nullptr;
    if (!req.CheckBox.isEmpty()) {
        check = new QCheckBox(req.CheckBox, &box);
        check->setAccessibleName(QString(req.CheckBox).remove('&'));
        check->setChecked(req.Checked);
        box.setCheckBox(check);
    }
    const QStringList captions = req.Buttons.isEmpty() ? QStringList{"OK"} : req.Buttons;
    QList<QAbstractButton*> made;
    for (int i = 0; i < captions.size() && i < 3; ++i) {
        QPushButton* b = box.addButton(captions[i], QMessageBox::ActionRole);
        b->setAccessibleName(QString(captions[i]).remove('&'));
        made.append(b);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(made.first()));
    box.setEscapeButton(made.last());
    CentreOnScreen(&box);
    box.exec();
    if (check) req.Checked = check->isChecked();
    const int index = static_cast<int>(made.indexOf(box.clickedButton()));
    return index < 0 ? 0 : index + 1;
}

int ShowInputBox(QWidget* parent, const TDialogRequest& req) {
    QDialog dlg(parent);
    dlg.setWindowTitle(req.Title);
    auto* layout = new QVBoxLayout(&dlg);
    auto* label = new QLabel(req.Text, &dlg);
    auto* edit = new QLineEdit(req.Value ? *req.Value : QString(), &dlg);
    edit->setAccessibleName(req.Text);
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
        if (req.Value) *req.Value = edit->text();
        return 1;
    }
    return 2;
}
} // namespace

int TSystemPrompts::Ask(QWidget* parent, TDialogRequest& request) {
    return request.Kind == TDialogRequest::dkInput ? ShowInputBox(parent, request)
                                                   : ShowMessageBox(parent, request);
}

std::optional<std::string> TSystemPrompts::ChooseOpenFile(QWidget* parent, const QString& filter,
                                                          const QString& /*defaultExt*/) {
    const QString file = QFileDialog::getOpenFileName(parent, "Open", QString(), QtFilter(filter));
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
}

std::optional<std::string> TSystemPrompts::ChooseSaveFile(QWidget* parent, const QString& filter,
                                                          const QString& defaultExt) {
    QFileDialog dlg(parent, "Save As", QString(), QtFilter(filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(defaultExt);
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
        return dlg.selectedFiles().first().toStdString();
    return std::nullopt;
}

std::optional<std::string> TSystemPrompts::ChooseFolder(QWidget* /*parent*/) {
    // Parentless, as the folder dialog always was: it opens on the desktop folder.
    const QString dir =
        QFileDialog::getExistingDirectory(nullptr, "Select a new database directory",
                                          QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
}

QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        out << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + patterns + ")");
    }
    return out.join(";;");
}

int MessageDialog(TWindowPrompts& prompts, QWidget* parent, const QString& text, const QStringList& buttons,
                  QMessageBox::Icon icon, const QString& title) {
    TDialogRequest req;
    req.Kind = TDialogRequest::dkMessage;
    req.Title = title.isEmpty() ? QString("Varnello") : title;
    req.Text = text;
    req.Buttons = buttons.isEmpty() ? QStringList{"OK"} : buttons;
    req.Icon = icon;
    return prompts.Ask(parent, req);
}

int SInputBox(TWindowPrompts& prompts, QWidget* parent, const QString& title, const QString& prompt,
              QString& value) {
    TDialogRequest req;
    req.Kind = TDialogRequest::dkInput;
    req.Title = title;
    req.Text = prompt;
    req.Buttons = {"OK", "Cancel"};
    req.Value = &value;
    return prompts.Ask(parent, req);
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

void ShowErrorMessage(TWindowPrompts& prompts, QWidget* parent, const QString& message,
                      const QString& advice) {
    MessageDialog(prompts, parent, ErrorBoxText(message, advice), {"OK"}, QMessageBox::Critical,
                  QApplication::applicationName());
}
