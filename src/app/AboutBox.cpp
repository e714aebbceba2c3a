// The about box. Its artwork is painted, so the program ships no picture for it.
#include "app/AboutBox.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace {

class TArtworkPanel : public QFrame {
public:
    explicit TArtworkPanel(QWidget* parent) : QFrame(parent) {
        setFrameShape(QFrame::Panel);
        setFrameShadow(QFrame::Sunken);
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, QColor(24, 64, 128));
        g.setColorAt(1, QColor(120, 170, 225));
        p.fillRect(rect(), g);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 255, 255, 60), 2));
        for (int i = 0; i < 6; ++i)
            p.drawEllipse(QPointF(width() * 0.8, height() * 0.25), 20.0 + i * 18, 20.0 + i * 18);
        QFont f = font();
        f.setPointSize(26);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 40, width(), 50), Qt::AlignHCenter, "Varnello");
        f.setPointSize(10);
        f.setBold(false);
        p.setFont(f);
        p.drawText(QRect(0, 90, width(), 24), Qt::AlignHCenter, "FTP, SFTP and code editing for web sites");
        QFrame::paintEvent(e);
    }
};

} // namespace

TLinkLabel::TLinkLabel(const QString& caption, const QString& address, QWidget* parent)
    : QLabel(caption, parent), Address(address) {
    setCursor(Qt::PointingHandCursor);
    setStyleSheet("color: #cfe4ff; text-decoration: underline; background: transparent;");
    setAccessibleName(caption);
}

bool TLinkLabel::Open() {
    if (Address.trimmed().isEmpty()) return false;
    QDesktopServices::openUrl(QUrl(Address));
    return true;
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) Open();
    QLabel::mouseReleaseEvent(e);
}

TAboutBox1::TAboutBox1(QWidget* parent) : QDialog(parent) {
    setObjectName("AboutBox1");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(315, 372);

    auto* panel = new TArtworkPanel(this);
    panel->setObjectName("Panel1");
    panel->setGeometry(8, 8, 299, 316);

    VersionLabel = new QLabel("Version 1.2", panel);
    VersionLabel->setObjectName("Version");
    VersionLabel->setStyleSheet("color: white; background: transparent; font-weight: bold;");
    VersionLabel->setGeometry(16, 150, 267, 20);
    VersionLabel->setAlignment(Qt::AlignHCenter);

    NoticeLabel = new QLabel("Copyright \u00A9 2026 the Varnello developers.\nAll rights reserved.", panel);
    NoticeLabel->setObjectName("Copyright");
    NoticeLabel->setStyleSheet("color: white; background: transparent;");
    NoticeLabel->setGeometry(16, 190, 267, 40);
    NoticeLabel->setAlignment(Qt::AlignHCenter);

    LinkLabel1 = new TLinkLabel("Varnello home page", "https://varnello.example.org/", panel);
    LinkLabel1->setObjectName("LinkLabel1");
    LinkLabel1->setGeometry(16, 250, 267, 20);
    LinkLabel1->setAlignment(Qt::AlignHCenter);

    LinkLabel2 = new TLinkLabel("Write to the developers", "mailto:team@varnello.example.org", panel);
    LinkLabel2->setObjectName("LinkLabel2");
    LinkLabel2->setGeometry(16, 276, 267, 20);
    LinkLabel2->setAlignment(Qt::AlignHCenter);

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setAccessibleName("OK");
    OKButton->setDefault(true);
    OKButton->setGeometry(120, 336, 75, 25);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
