// The help viewer: shows the HTML help file in a small browser window.
#pragma once

#include <QDialog>

class QTextBrowser;

class THelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);
    // Shows the contents page of the help file; raises EVarnelloError when it cannot be read.
    void ShowContents(const QString& helpFile);
    QTextBrowser* Browser = nullptr;
};
