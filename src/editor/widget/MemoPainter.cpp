// Line painting: runs into an off-screen line buffer, then one copy to the window.
#include "editor/widget/MemoPainter.h"

#include <QPainter>

#include <algorithm>

namespace {

bool IsContinuationByte(char c) {
    return ((unsigned char)c & 0xC0) == 0x80;
}

int CharCount(const std::string& text, int from, int to) {
    int n = 0;
    for (int i = from; i < to; ++i)
        if (!IsContinuationByte(text[std::size_t(i)])) ++n;
    return n;
}

QFont StyledFont(const QFont& base, TFontStyles style) {
    QFont f(base);
    f.setBold(style & fsBold);
    f.setItalic(style & fsItalic);
    f.setUnderline(style & fsUnderline);
    f.setStrikeOut(style & fsStrikeOut);
    return f;
}

} // namespace

QColor ToQColor(TColor color) {
    return QColor(color.Red(), color.Green(), color.Blue());
}

void TMemoPainter::PaintLine(QPainter& target, int y, const std::string& text,
                             const std::vector<THighlightRun>& runs, const TPaintLineOptions& opt) {
    const int width = std::max(opt.TextWidth, 1);
    const int height = std::max(opt.LineHeight, 1);
    const qreal ratio = target.device() ? target.device()->devicePixelRatioF() : 1.0;
    const QSize pixels(int(width * ratio), int(height * ratio));
    if (FBuffer.size() != pixels) {
        FBuffer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        FBuffer.setDevicePixelRatio(ratio);
    }
    FBuffer.fill(opt.BkColor);

    QPainter p(&FBuffer);
    const int cw = opt.CharWidth;
    const int visibleColumns = width / std::max(cw, 1) + 2;
    const bool selection = opt.ShowSelection && opt.SelEnd > opt.SelStart;

    // Draws the characters [col, col + count) of one run, in the given colours.
    auto draw = [&](const QString& chars, int col, const QColor& fg, const QColor& bg, TFontStyles style) {
        const int x = (col - opt.LeftColumn) * cw;
        const int w = int(chars.size()) * cw; // one cell per character, whatever the glyph
        p.fillRect(x, 0, w, height, bg);
        p.setFont(StyledFont(opt.Font, style));
        p.setPen(fg);
        p.drawText(x, opt.Ascent, chars);
    };

    int col = 0; // character column of the run's start
    for (const THighlightRun& run : runs) {
        const int start = std::clamp(run.Start, 0, int(text.size()));
        const int end = std::clamp(run.Start + run.Length, start, int(text.size()));
        const int count = CharCount(text, start, end);
        const int runCol = col;
        col += count;
        if (col <= opt.LeftColumn) continue;
        if (runCol >= opt.LeftColumn + visibleColumns) break;
        // One code point per element, so columns index it directly (QString would count UTF-16 units).
        const std::u32string chars = QString::fromUtf8(text.data() + start, end - start).toStdU32String();
        auto piece = [&chars, runCol](int from, int to) {
            return QString::fromStdU32String(
                chars.substr(std::size_t(from - runCol), std::size_t(to - from)));
        };
        int a = runCol, b = runCol + int(chars.size());
        // Split the run where the selection starts and ends.
        int selA = selection ? std::clamp(opt.SelStart, a, b) : b;
        int selB = selection ? std::clamp(opt.SelEnd, a, b) : b;
        if (selA > a) draw(piece(a, selA), a, ToQColor(run.Color), ToQColor(run.BkColor), run.Style);
        if (selB > selA) draw(piece(selA, selB), selA, opt.SelColor, opt.SelBkColor, run.Style);
        if (b > selB) draw(piece(selB, b), selB, ToQColor(run.Color), ToQColor(run.BkColor), run.Style);
    }

    // Multiplying keeps each run's own text colour readable on the tint.
    if (!opt.Matches.empty()) {
        p.setCompositionMode(QPainter::CompositionMode_Multiply);
        for (const auto& [from, to] : opt.Matches)
            if (to > from)
                p.fillRect((from - opt.LeftColumn) * cw, 0, (to - from) * cw, height, opt.MatchBkColor);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (opt.ShowBlockMark && opt.BlockLength > 0) {
        const int x = (opt.BlockStart - opt.LeftColumn) * cw;
        p.fillRect(x, height - 3, opt.BlockLength * cw, 1, opt.BlockLineColor);
    }
    if (opt.RightMargin > 0)
        p.fillRect(opt.RightMargin * opt.RightMarginWidth, 0, 2, height, opt.RightMarginColor);
    p.end();

    target.drawImage(QPoint(opt.TextLeft, y), FBuffer);
}

void TMemoPainter::PaintRightMargin(QPainter& target, int top, int height, const TPaintLineOptions& opt) {
    if (opt.RightMargin <= 0 || height <= 0) return;
    target.fillRect(opt.TextLeft + opt.RightMargin * opt.RightMarginWidth, top, 2, height,
                    opt.RightMarginColor);
}
