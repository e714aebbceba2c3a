// The window's prompts answered by the test: each question goes to a function the fixture sets,
// an unset one answers as a cancel would, and the recent-profiles INI file lies in the test's
// own folder.
#pragma once

#include "app/Dialogs.h"

#include <QString>
#include <functional>
#include <optional>
#include <string>

class TTestPrompts : public TWindowPrompts {
public:
    explicit TTestPrompts(QString recentIni) : RecentIni(std::move(recentIni)) {}

    std::function<int(TDialogRequest&)> OnAsk;
    std::function<std::optional<std::string>(const QString& filter, const QString& defaultExt)> OnOpenFile;
    std::function<std::optional<std::string>(const QString& filter, const QString& defaultExt)> OnSaveFile;
    std::function<std::optional<std::string>()> OnFolder;
    QString RecentIni;

    int Ask(QWidget*, TDialogRequest& request) override { return OnAsk ? OnAsk(request) : 0; }
    std::optional<std::string> ChooseOpenFile(QWidget*, const QString& filter, const QString& ext) override {
        return OnOpenFile ? OnOpenFile(filter, ext) : std::nullopt;
    }
    std::optional<std::string> ChooseSaveFile(QWidget*, const QString& filter, const QString& ext) override {
        return OnSaveFile ? OnSaveFile(filter, ext) : std::nullopt;
    }
    std::optional<std::string> ChooseFolder(QWidget*) override {
        return OnFolder ? OnFolder() : std::nullopt;
    }
    QString RecentIniFile() const override { return RecentIni; }
};
