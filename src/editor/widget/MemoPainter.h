// Draws one editor line from the scanner's runs. Each line is built run by run in an off-screen
// buffer one line high and then copied to the target in one go, so the window never shows a
// half-drawn line. Text is fixed pitch: a character's cell is CharWidth wide whatever the glyph,
// which keeps columns, the caret and the selection aligned for any text the line holds.
#pragma once

#include "editor/Highlighter.h"

#include <QColor>
#include <QFont>
#include <QImage>

#include <string>
#include <utility>
#include <vector>

class QPainter;

QColor ToQColor(TColor color);

struct TPaintLineOptions {
    QFont Font;          // the editor's fixed-pitch font
    int CharWidth = 8;   // cell width (the width of "W")
    int LineHeight = 16; // cell height
    int Ascent = 12;     // baseline offset within the cell
    int TextLeft = 0;    // x of the text area's left edge in the target
    int TextWidth = 0;   // width of the text area; the line is drawn over all of it
    int LeftColumn = 0;  // first visible column (horizontal scrolling)
    QColor BkColor = Qt::white;
    // Selection on this line, in character columns [SelStart, SelEnd); shown only with focus.
    bool ShowSelection = false;
    int SelStart = 0;
    int SelEnd = 0;
    QColor SelColor = Qt::white;
    QColor SelBkColor = QColor(0x00, 0x00, 0x80);
    // Matching-block mark under columns [BlockStart, BlockStart + BlockLength) of this line.
    bool ShowBlockMark = false;
    int BlockStart = 0;
    int BlockLength = 0;
    QColor BlockLineColor = QColor(0x80, 0x80, 0x80);
    // Search matches on this line, in screen cells [first, second), tinted behind their text.
    std::vector<std::pair<int, int>> Matches;
    QColor MatchBkColor = QColor(0xFF, 0xE0, 0x40);
    // Right margin after RightMargin columns of "w", fixed to the text area (does not scroll).
    int RightMargin = 80;
    int RightMarginWidth = 8; // the width of "w"
    QColor RightMarginColor = QColor(0xE2, 0xE2, 0xE2);
};

class TMemoPainter {
public:
    // Draws `text` (UTF-8, one line) with its runs at vertical position y of `target`, covering the
    // text area's full width: runs in their colours and styles, selection, block mark, right margin,
    // and BkColor after the last run. Runs are in bytes as the scanner makes them.
    void PaintLine(QPainter& target, int y, const std::string& text, const std::vector<THighlightRun>& runs,
                   const TPaintLineOptions& opt);

    // Draws the right margin over an area with no lines (below the last line).
    static void PaintRightMargin(QPainter& target, int top, int height, const TPaintLineOptions& opt);

private:
    QImage FBuffer;
};
