// TFormSettings on QSettings. Values are written as strings and read back as strings, so a
// value stored by hand as "abc" is simply not a number and leaves the control as designed.
#include "settings/FormSettings.h"

#include "VarnelloError.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTextEdit>
#include <QWidget>

QString TFormSettings::StorageFile;

namespace {

int ReadInt(QSettings& s, const QString& name, int def) {
    const QVariant v = s.value(name);
    if (!v.isValid()) return def;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? n : def;
}

bool ReadBool(QSettings& s, const QString& name, bool def) {
    return ReadInt(s, name, def ? 1 : 0) != 0;
}

QString ReadString(QSettings& s, const QString& name, const QString& def) {
    const QVariant v = s.value(name);
    return v.isValid() ? v.toString() : def;
}

void WriteString(QSettings& s, const QString& name, const QString& value) {
    s.setValue(name, value);
}
void WriteInt(QSettings& s, const QString& name, int value) {
    s.setValue(name, QString::number(value));
}
void WriteBool(QSettings& s, const QString& name, bool value) {
    s.setValue(name, value ? "1" : "0");
}

// Only the window's own controls: a dialog or tool window it owns (the help browser, the tips,
// a completion list) keeps no values here, so their texts never land in the window's settings.
bool Named(const QObject* o) {
    return !o->objectName().isEmpty() && !o->objectName().startsWith("qt_") &&
           !o->property(TFormSettings::kSkipProperty).toBool();
}
bool Kept(const QWidget* w, const QWidget* root) {
    return Named(w) && w->window() == root->window();
}

} // namespace

TFormSettings::TFormSettings(QWidget* owner) : QObject(owner), FOwner(owner) {
    setObjectName("FormSettings1");
}

TFormSettings::~TFormSettings() = default;

QString TFormSettings::GetKeyName() const {
    if (!KeyName.isEmpty()) return KeyName;
    if (QCoreApplication::instance() && FOwner)
        return "Software/" + QCoreApplication::applicationName() + "/" + FOwner->objectName();
    return QString();
}

std::unique_ptr<QSettings> TFormSettings::OpenStore() const {
    std::unique_ptr<QSettings> s;
    if (StorageFile.isEmpty())
        s = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                        QCoreApplication::applicationName(),
                                        QCoreApplication::applicationName());
    else
        s = std::make_unique<QSettings>(StorageFile, QSettings::IniFormat);
    s->beginGroup(GetKeyName());
    return s;
}

Qt::WindowStates TFormSettings::StrToWindowState(const QString& text) {
    const QString t = text.toUpper();
    if (t == "MINIMIZED") return Qt::WindowMinimized;
    if (t == "MAXIMIZED") return Qt::WindowMaximized;
    return Qt::WindowNoState;
}

QString TFormSettings::WindowStateToStr(Qt::WindowStates state) {
    if (state & Qt::WindowMinimized) return "MINIMIZED";
    if (state & Qt::WindowMaximized) return "MAXIMIZED";
    return "NORMAL";
}

void TFormSettings::LoadSettings() {
    if (!FOwner || !FOwner->isWindow()) return;
    auto s = OpenStore();
    if (SavePosition) {
        s->beginGroup("Position");
        const QRect g = FOwner->geometry();
        const int left = ReadInt(*s, "Left", FOwner->x());
        const int top = ReadInt(*s, "Top", FOwner->y());
        const int width = ReadInt(*s, "Width", g.width());
        const int height = ReadInt(*s, "Height", g.height());
        FOwner->move(left, top);
        FOwner->resize(width, height);
        FOwner->setWindowState(StrToWindowState(ReadString(*s, "WindowState", "Normal")));
        s->endGroup();
    }
    if (LoadValues) {
        s->beginGroup("Values");
        ReadControlValues(*s);
        s->endGroup();
    }
}

void TFormSettings::SaveSettings() {
    if (!FOwner || !FOwner->isWindow()) return;
    auto s = OpenStore();
    if (SavePosition) {
        s->beginGroup("Position");
        const Qt::WindowStates state = FOwner->windowState();
        // A maximized or minimized window keeps the bounds it last had in the normal state.
        if (!(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
            WriteInt(*s, "Left", FOwner->x());
            WriteInt(*s, "Top", FOwner->y());
            WriteInt(*s, "Width", FOwner->width());
            WriteInt(*s, "Height", FOwner->height());
        }
        WriteString(*s, "WindowState", WindowStateToStr(state));
        s->endGroup();
    }
    if (SaveValues) {
        s->beginGroup("Values");
        WriteControlValues(*s);
        s->endGroup();
    }
    s->sync();
    if (s->status() != QSettings::NoError)
        throw EVarnelloError("Failed to write the window settings to " + s->fileName().toStdString());
}

void TFormSettings::ReadControlValues(QSettings& s) {
    QWidget* root = RootControl ? RootControl : FOwner;
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (!Kept(w, root)) continue;
        const QString name = w->objectName();
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->setText(ReadString(s, name, e->text()));
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            m->setPlainText(ReadString(s, name, m->toPlainText()));
        } else if (auto* t = qobject_cast<QTextEdit*>(w)) {
            t->setPlainText(ReadString(s, name, t->toPlainText()));
        } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
            c->setChecked(ReadBool(s, name, c->isChecked()));
        } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
            r->setChecked(ReadBool(s, name, r->isChecked()));
        } else if (auto* l = qobject_cast<QListWidget*>(w)) {
            l->setCurrentRow(ReadInt(s, name, l->currentRow()));
        } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
            cb->setCurrentIndex(ReadInt(s, name, cb->currentIndex()));
        }
    }
    for (QFontDialog* d : root->findChildren<QFontDialog*>()) {
        if (!Named(d)) continue; // a font dialog is a window of its own by nature
        QFont f = d->currentFont();
        ReadFont(s, d->objectName(), f);
        d->setCurrentFont(f);
    }
}

void TFormSettings::WriteControlValues(QSettings& s) {
    QWidget* root = RootControl ? RootControl : FOwner;
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (!Kept(w, root)) continue;
        const QString name = w->objectName();
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            WriteString(s, name, e->text());
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            WriteString(s, name, m->toPlainText());
        } else if (auto* t = qobject_cast<QTextEdit*>(w)) {
            WriteString(s, name, t->toPlainText());
        } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
            WriteBool(s, name, c->isChecked());
        } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
            WriteBool(s, name, r->isChecked());
        } else if (auto* l = qobject_cast<QListWidget*>(w)) {
            WriteInt(s, name, l->currentRow());
        } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
            WriteInt(s, name, cb->currentIndex());
        }
    }
    for (QFontDialog* d : root->findChildren<QFontDialog*>())
        if (Named(d)) WriteFont(s, d->objectName(), d->currentFont());
}

void TFormSettings::ReadFont(QSettings& s, const QString& dialogName, QFont& font) {
    font.setFamily(ReadString(s, dialogName + "_Name", font.family()));
    font.setPointSize(ReadInt(s, dialogName + "_Size", font.pointSize()));
    // The colour belongs to the dialog's caller in Qt; it is kept as a value all the same.
    font.setBold(ReadBool(s, dialogName + "_Bold", font.bold()));
    font.setItalic(ReadBool(s, dialogName + "_Italic", font.italic()));
    font.setUnderline(ReadBool(s, dialogName + "_Underline", font.underline()));
    font.setStrikeOut(ReadBool(s, dialogName + "_StrikeOut", font.strikeOut()));
}

void TFormSettings::WriteFont(QSettings& s, const QString& dialogName, const QFont& font) {
    WriteString(s, dialogName + "_Name", font.family());
    WriteInt(s, dialogName + "_Size", font.pointSize());
    WriteInt(s, dialogName + "_Color", 0);
    WriteBool(s, dialogName + "_Bold", font.bold());
    WriteBool(s, dialogName + "_Italic", font.italic());
    WriteBool(s, dialogName + "_Underline", font.underline());
    WriteBool(s, dialogName + "_StrikeOut", font.strikeOut());
}
