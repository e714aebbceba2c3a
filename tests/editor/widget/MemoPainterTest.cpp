// The line painter on a real image: a keyword comes out in its colour, the selection in the
// selection colours, the block mark and the right margin where they belong.
#include "editor/widget/MemoPainter.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct TCanvas {
    TPaintLineOptions Opt;
    QImage Image;

    TCanvas() {
        Opt.Font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        Opt.Font.setPixelSize(13);
        const QFontMetrics fm(Opt.Font);
        Opt.CharWidth = fm.horizontalAdvance('W');
        Opt.LineHeight = fm.height();
        Opt.Ascent = fm.ascent();
        Opt.RightMarginWidth = fm.horizontalAdvance('w');
        Opt.TextLeft = 45;
        Opt.TextWidth = 90 * Opt.CharWidth;
        Image = QImage(Opt.TextLeft + Opt.TextWidth, Opt.LineHeight * 2, QImage::Format_RGB32);
        Image.fill(Qt::magenta);
    }

    void Paint(const std::string& line, const TCustomMemoStyler& styler, int y = 0) {
        TMemoHighlighter h;
        h.SetStyler(&styler);
        THighlightState st;
        QPainter p(&Image);
        TMemoPainter painter;
        painter.PaintLine(p, y, line, h.ScanLine(line, st), Opt);
    }

    // Pixels inside the cells of columns [col, col + count) of the line at y that show `ink`: the colour
    // itself or, at antialiased edges, a blend of it with the background of at least a quarter.
    int Count(int col, int count, QColor ink, int y = 0, QColor background = Qt::white) const {
        int n = 0;
        for (int x = Opt.TextLeft + col * Opt.CharWidth; x < Opt.TextLeft + (col + count) * Opt.CharWidth;
             ++x)
            for (int yy = y; yy < y + Opt.LineHeight; ++yy)
                if (Shows(Image.pixelColor(x, yy), ink, background)) ++n;
        return n;
    }

    static bool Shows(QColor px, QColor ink, QColor bg) {
        const int d[3] = {ink.red() - bg.red(), ink.green() - bg.green(), ink.blue() - bg.blue()};
        const int q[3] = {px.red() - bg.red(), px.green() - bg.green(), px.blue() - bg.blue()};
        const int k = std::abs(d[0]) >= std::abs(d[1]) && std::abs(d[0]) >= std::abs(d[2]) ? 0
                      : std::abs(d[1]) >= std::abs(d[2])                                   ? 1
                                                                                           : 2;
        if (d[k] == 0) return px == ink;
        const double a = double(q[k]) / d[k];
        if (a < 0.25 || a > 1.02) return false;
        for (int i = 0; i < 3; ++i)
            if (std::abs(q[i] - a * d[i]) > 12) return false;
        return true;
    }
};

const QColor Green(0x00, 0x80, 0x00), Red(0xFF, 0x00, 0x00), Navy(0x00, 0x00, 0x80);

} // namespace

TEST(MemoPainterTest, KeywordIsDrawnInItsColour) {
    TCanvas c;
    TPascalMemoStyler pas;
    c.Paint("begin x", pas);
    EXPECT_GT(c.Count(0, 5, Green), 10); // "begin": green strokes
    EXPECT_EQ(c.Count(0, 5, Qt::black), 0);
    EXPECT_GT(c.Count(6, 1, Qt::black), 3); // "x": plain black
    EXPECT_EQ(c.Count(6, 1, Green), 0);
    // The whole text area is covered: no pixel of the old canvas is left on the line, the gutter is
    // untouched.
    EXPECT_EQ(c.Count(0, 90, Qt::magenta), 0);
    EXPECT_EQ(c.Image.pixelColor(10, 2), QColor(Qt::magenta));
    EXPECT_EQ(c.Image.pixelColor(c.Opt.TextLeft + 40 * c.Opt.CharWidth, 2), QColor(Qt::white));
}

TEST(MemoPainterTest, SelectionBlockMarkMarginAndScrolling) {
    TCanvas c;
    TPascalMemoStyler pas;
    c.Opt.ShowSelection = true;
    c.Opt.SelStart = 2;
    c.Opt.SelEnd = 4;
    c.Opt.ShowBlockMark = true;
    c.Opt.BlockStart = 6;
    c.Opt.BlockLength = 3;
    c.Paint("begin end", pas, c.Opt.LineHeight);
    const int y = c.Opt.LineHeight;
    // "gi" selected: navy background, no green; "be" and "n" stay green on white.
    EXPECT_GT(c.Count(2, 2, Navy, y), c.Opt.CharWidth * c.Opt.LineHeight);
    EXPECT_EQ(c.Count(2, 2, Green, y), 0);
    EXPECT_GT(c.Count(0, 2, Green, y), 5);
    EXPECT_EQ(c.Count(0, 2, Navy, y), 0);
    // The block mark: a grey line under "end", two pixels above the bottom of the line.
    const QColor grey(0x80, 0x80, 0x80);
    const int markY = y + c.Opt.LineHeight - 3;
    EXPECT_EQ(c.Image.pixelColor(c.Opt.TextLeft + 7 * c.Opt.CharWidth, markY), grey);
    EXPECT_NE(c.Image.pixelColor(c.Opt.TextLeft + 1 * c.Opt.CharWidth, markY), grey);
    // The right margin after 80 "w" cells, two pixels wide.
    const int marginX = c.Opt.TextLeft + 80 * c.Opt.RightMarginWidth;
    EXPECT_EQ(c.Image.pixelColor(marginX, y + 1), QColor(0xE2, 0xE2, 0xE2));
    EXPECT_EQ(c.Image.pixelColor(marginX + 1, y + 1), QColor(0xE2, 0xE2, 0xE2));
    EXPECT_EQ(c.Image.pixelColor(marginX + 2, y + 1), QColor(Qt::white));

    // Scrolled two columns right: "gin" starts the line and the margin stays where it was.
    TCanvas s;
    s.Opt.LeftColumn = 2;
    s.Paint("begin end", pas);
    EXPECT_GT(s.Count(0, 3, Green), 5);
    EXPECT_EQ(s.Count(3, 1, Green), 0);
    EXPECT_EQ(s.Image.pixelColor(marginX, 1), QColor(0xE2, 0xE2, 0xE2));
}

TEST(MemoPainterTest, MultiByteTextKeepsColumns) {
    TCanvas c;
    TPascalMemoStyler pas;
    // Two-byte characters take one cell each, so "end" lands in columns 6 to 8.
    c.Paint("\xC3\xA9t\xC3\xA9 ; end", pas);
    EXPECT_GT(c.Count(4, 1, Red), 2); // ";"
    EXPECT_GT(c.Count(6, 3, Green), 5);
    EXPECT_EQ(c.Count(0, 3, Green), 0);
}
