// The tip window and its component. The window's heading panel is drawn through an off-screen
// pixmap of its size and copied in one go, so it never flickers.
#include "conveniences/Tips.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QStyle>

namespace {

// A light bulb, drawn rather than loaded so the program needs no icon files for it.
QIcon BulbIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(15, 12, 14);
    glow.setColorAt(0, QColor(255, 255, 200));
    glow.setColorAt(1, QColor(250, 200, 40));
    p.setBrush(glow);
    p.setPen(QPen(QColor(150, 110, 0), 1.2));
    QPainterPath bulb;
    bulb.addEllipse(QRectF(5, 1, 21, 21));
    p.drawPath(bulb);
    p.setBrush(QColor(150, 150, 160));
    p.setPen(QPen(QColor(80, 80, 90), 1));
    p.drawRect(QRectF(11, 21, 9, 7));
    p.drawLine(QPointF(11, 24), QPointF(20, 24));
    p.drawLine(QPointF(13, 30), QPointF(18, 30));
    return QIcon(pm);
}

class TTipPaintBox : public QWidget {
public:
    TTipPaintBox(TTips* tips, QWidget* parent) : QWidget(parent), FTips(tips) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPixmap buffer(size());
        buffer.fill(Qt::white);
        {
            QPainter p(&buffer);
            p.setPen(Qt::black);
            p.drawRect(0, 0, width() - 1, height() - 1);
            FTips->StyleIcon().paint(&p, QRect(8, 8, 32, 32));
            QFont f = QApplication::font();
            f.setBold(true);
            f.setPointSizeF(f.pointSizeF() * 1.3);
            p.setFont(f);
            p.drawText(QPoint(48, 16 + QFontMetrics(f).ascent()), "Did you know...");
        }
        QPainter(this).drawPixmap(0, 0, buffer);
    }

private:
    TTips* FTips;
};

} // namespace

TTipDialog::TTipDialog(TTips* tips) : QDialog(nullptr) {
    setObjectName("TDailyTip");
    setWindowTitle("Tip of the Day");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(337, 231);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* bevel = new QFrame(this);
    bevel->setObjectName("Bevel");
    bevel->setFrameShape(QFrame::Box);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(8, 8, 321, 185);

    PaintBox = new TTipPaintBox(tips, this);
    PaintBox->setObjectName("PaintBox");
    PaintBox->setGeometry(16, 16, 305, 169);

    TipLabel = new QLabel(this);
    TipLabel->setObjectName("TipLabel");
    TipLabel->setGeometry(24, 72, 289, 105);
    TipLabel->setWordWrap(true);
    TipLabel->setTextFormat(Qt::PlainText); // "&" shows as itself
    TipLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    TipLabel->setAutoFillBackground(true);
    TipLabel->setStyleSheet("background: white; color: black;");
    TipLabel->setAccessibleName("Tip");

    CheckBox = new QCheckBox("&Show Tips on Startup", this);
    CheckBox->setObjectName("CheckBox");
    CheckBox->setGeometry(8, 203, 150, 17);
    CheckBox->setAccessibleName("Show Tips on Startup");

    NextButton = new QPushButton("&Next Tip", this);
    NextButton->setObjectName("NextButton");
    NextButton->setGeometry(160, 200, 81, 23);
    NextButton->setAccessibleName("Next Tip");

    CloseButton = new QPushButton("Close", this);
    CloseButton->setObjectName("CloseButton");
    CloseButton->setGeometry(248, 200, 81, 23);
    CloseButton->setAccessibleName("Close");

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    NextButton->setFocus();
}

TTips::TTips(QObject* owner) : QObject(owner) {
    setObjectName("Tips1");
}

TTips::~TTips() {
    delete FWindow.data();
}

void TTips::SetTips(const QStringList& tips) {
    FTips = tips;
    if (FCurrentTip >= FTips.size()) FCurrentTip = FTips.size() - 1;
    ShowCurrentText();
}

void TTips::SetCurrentTip(int index) {
    if (index == FCurrentTip) return;
    FCurrentTip = index;
    if (FCurrentTip >= FTips.size()) FCurrentTip = 0; // "Next Tip" wraps to the first
    ShowCurrentText();
}

void TTips::ShowCurrentText() {
    if (!FWindow) return;
    FWindow->TipLabel->setText(FCurrentTip >= 0 && FCurrentTip < FTips.size() ? FTips[FCurrentTip]
                                                                              : QString());
}

QIcon TTips::StyleIcon() const {
    QStyle* st = QApplication::style();
    switch (GlyphStyle) {
    case gsLightBulb:
        return BulbIcon();
    case gsClown:
        return st->standardIcon(QStyle::SP_DialogHelpButton);
    case gsHelp:
        return st->standardIcon(QStyle::SP_MessageBoxQuestion);
    case gsArrow:
        return st->standardIcon(QStyle::SP_ArrowRight);
    case gsTorch:
        return st->standardIcon(QStyle::SP_MessageBoxInformation);
    case gsCustom:
        return Glyph;
    }
    return QIcon();
}

void TTips::ShowTipWindow() {
    if (!FWindow) {
        FWindow = new TTipDialog(this);
        FWindow->CheckBox->setChecked(ShowOnStartup);
        connect(FWindow->CheckBox, &QCheckBox::toggled, this, [this](bool on) { ShowOnStartup = on; });
        connect(FWindow->NextButton, &QPushButton::clicked, this, [this] { NextClicked(); });
        connect(FWindow->CloseButton, &QPushButton::clicked, this, [this] { CloseClicked(); });
        ShowCurrentText();
        FWindow->show();
        FWindow->NextButton->setFocus();
    } else {
        ShowCurrentText();
        FWindow->show();
    }
    FWindow->raise();
    FWindow->activateWindow();
}

void TTips::PickRandomTip() {
    if (FTips.isEmpty()) return;
    SetCurrentTip(static_cast<int>(QRandomGenerator::global()->bounded(FTips.size())));
}

void TTips::NextClicked() {
    SetCurrentTip(FCurrentTip + 1);
    if (OnNextTip) OnNextTip(this);
}

void TTips::CloseClicked() {
    if (OnCloseDialog) OnCloseDialog(this);
    if (FWindow) {
        FWindow->hide();
        FWindow->deleteLater();
        FWindow = nullptr;
    }
}
