// The about box: product artwork with the version, a rights notice, two web links and OK.
#pragma once

#include <QDialog>
#include <QLabel>

// A label that opens its address with the system's default handler when clicked, unless the
// address is blank.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    TLinkLabel(const QString& caption, const QString& address, QWidget* parent);
    QString Address;
    // Opens `Address` unless it is blank; returns whether it tried.
    bool Open();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class TAboutBox1 : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox1(QWidget* parent = nullptr);
    QLabel* VersionLabel = nullptr;
    QLabel* NoticeLabel = nullptr;
    TLinkLabel* LinkLabel1 = nullptr;
    TLinkLabel* LinkLabel2 = nullptr;
    QPushButton* OKButton = nullptr;
};
