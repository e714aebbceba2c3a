// TFormSettings: remembers a window's position, size and state and the values of its input
// controls between runs.
//
// Everything lives below one key path ("Software/<application title>/<window name>") with two
// sections, "Position" and "Values"; every value is stored as text (integers in decimal,
// booleans as "0"/"1"), so the stored form is the same whatever backs QSettings on the platform.
// Reading never fails: a missing value, or an integer text that is not a number, leaves the
// control as it is.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QFont;
class QSettings;
class QWidget;

enum TSaveValOpt { svEdit, svMemo, svCheckBox, svRadioButton, svListBox, svComboBox, svFontDialog };

class TFormSettings : public QObject {
    Q_OBJECT
public:
    // `owner` is the window whose position and controls are kept.
    explicit TFormSettings(QWidget* owner);
    ~TFormSettings() override;

    bool SavePosition = true;
    bool SaveValues = false;
    bool LoadValues = false;
    QString KeyName;                // empty: the derived name
    QWidget* RootControl = nullptr; // none: the owning window

    // Where the values are stored: empty means the platform's native settings store for the
    // application; otherwise an INI file at this path (tests use a temporary one).
    static QString StorageFile;

    QString GetKeyName() const;
    void LoadSettings();
    void SaveSettings();
    void ReadControlValues(QSettings& s);
    void WriteControlValues(QSettings& s);
    void ReadFont(QSettings& s, const QString& dialogName, QFont& font);
    void WriteFont(QSettings& s, const QString& dialogName, const QFont& font);

    static Qt::WindowStates StrToWindowState(const QString& text);
    static QString WindowStateToStr(Qt::WindowStates state);

    // Controls with this dynamic property set to true are not kept (e.g. the drive selector,
    // which is a list of the machine's volumes, not a value the user typed).
    static constexpr const char* kSkipProperty = "formSettingsSkip";

private:
    std::unique_ptr<QSettings> OpenStore() const;
    QWidget* FOwner;
};
