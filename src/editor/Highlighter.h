// The highlighting scanner. There is no parse tree: a visible line is scanned left to right when it
// is painted, and a small state record (inside a multi-line comment, inside a string) is carried
// from one line to the next. The state at the top of the window comes from a cheaper state scanner
// that walks forward from the nearest earlier line whose start state is cached; caches are kept on
// every 50th line it passes and on each painted top line, so the cost of a paint stays bounded by
// the distance to the nearest cache rather than by the position in the file.
//
// The scanner reaches the text through THighlightLines, which the text model implements; the model
// owns one TLineProp per line and drops the cached states at and below a line it changes, so
// colouring never follows a state computed from text that is gone. Runs are produced as plain data
// (byte ranges of the UTF-8 line plus colours) for a painter to draw; nothing here knows Qt.
#pragma once

#include "editor/MemoStyler.h"

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The scanner's state. The first four fields are carried from token to token and from line to
// line; the four Is... flags describe the token being emitted and are cleared after each emission.
struct THighlightState {
    bool InComment = false;
    bool InBracket = false;
    char BracketChar = 0;
    int StyleIndex = -1; // index in AllStyles, -1 = none
    bool IsNumber = false;
    bool IsKeyword = false;
    bool IsSymbol = false;
    bool IsUrl = false;

    void ClearTokenFlags() { IsNumber = IsKeyword = IsSymbol = IsUrl = false; }
    friend bool operator==(const THighlightState&, const THighlightState&) = default;
};

// Per-line properties the text model keeps beside each line: the cached start state of the line.
// Caches move with their lines on insert and delete.
struct TLineProp {
    bool StateValid = false;
    bool InComment = false;
    bool InBracket = false;
    char BracketChar = 0;
    int StyleIndex = -1;

    void Invalidate() { StateValid = false; }
    void Store(const THighlightState& state);
    THighlightState Load() const; // the carried fields; the token flags are clear
};

// How the scanner sees the text. Line texts are UTF-8 without line-break characters.
class THighlightLines {
public:
    virtual ~THighlightLines();
    virtual int LineCount() const = 0;
    // REQUIRES: 0 <= index < LineCount().
    virtual const std::string& LineText(int index) const = 0;
    virtual TLineProp& LineProp(int index) = 0;
};

// Drops the cached start states of lines fromLine.. (clamped), for a text model that has no faster
// way. Lines above fromLine keep theirs: their start states do not depend on what follows them.
void InvalidateLineStates(THighlightLines& lines, int fromLine);

// One run of equally coloured text. Start and Length count bytes of the line's UTF-8 text; a run
// never splits a multi-byte character.
struct THighlightRun {
    int Start = 0;
    int Length = 0;
    TColor Color;
    TColor BkColor;
    TFontStyles Style = 0;
    friend bool operator==(const THighlightRun&, const THighlightRun&) = default;
};

// The editor-side settings the colours fall back to.
struct THighlightOptions {
    TColor FontColor = clr::Black;
    TFontStyles FontStyle = 0;
    TColor BkColor = clr::White;
    TCharStyle UrlStyle{clr::Blue, clr::White, fsUnderline};
    bool UrlAware = true;
    bool CaseSensitive = false;
};

// The matching-block mark: the block word that matches the one under the caret.
struct TBlockMark {
    bool Visible = false;
    int Line = 0;
    int Start = 0; // byte offset of the word in the line
    int Length = 0;
    friend bool operator==(const TBlockMark&, const TBlockMark&) = default;
};

class TMemoHighlighter {
public:
    THighlightOptions Options;

    // The styler is referenced, not owned; nullptr = no colouring (one run per line in the
    // editor's colours). Setting it forgets the remembered top-line state.
    void SetStyler(const TCustomMemoStyler* styler);
    const TCustomMemoStyler* Styler() const { return FStyler; }

    // Start state of topLine: the remembered one when it belongs to topLine, else the state scanner
    // runs from the nearest earlier cached line (or line 0), caching every 50th line it passes and
    // topLine itself. Also re-derives the styler's character sets, so call it at the start of each
    // paint. topLine is clamped to the text.
    THighlightState TopLineState(THighlightLines& lines, int topLine);

    // Scans one line from `state` (the state at its start) and returns its runs, covering the whole
    // line in order; `state` becomes the start state of the next line.
    std::vector<THighlightRun> ScanLine(std::string_view line, THighlightState& state) const;

    // Convenience for a paint: the runs of `count` lines from topLine down.
    std::vector<std::vector<THighlightRun>> ScanLines(THighlightLines& lines, int topLine, int count);

    // Tells the highlighter that lines from `line` on were inserted, changed or deleted: the
    // remembered top-line state goes when the change lies above the top line. The per-line caches
    // are the text model's to drop (InvalidateLineStates).
    void LinesChanged(int line);
    // Forgets the remembered top-line state (on load).
    void Reset();

    // Lines the state scanner has walked since construction or the last ResetScanCount.
    long long ScannedLineCount() const { return FScanned; }
    void ResetScanCount() { FScanned = 0; }

    // Updates `mark` after a caret movement: finds the block word matching the word under the caret
    // (BlockStart downwards to lastVisibleLine, BlockEnd upwards to topLine), removes the mark when
    // the word is neither, and leaves it as it was when no match is found. Columns are bytes.
    void UpdateBlockMark(const THighlightLines& lines, int caretLine, int caretColumn, int topLine,
                         int lastVisibleLine, TBlockMark& mark) const;

private:
    struct TSets {
        std::array<bool, 256> D{}; // symbol set D
        bool DEmpty = true;
        std::array<bool, 256> NumStart{}; // number start set, upper-cased
        std::array<bool, 256> NumBody{};  // number body set, upper-cased
        std::string HexPrefix;            // upper-cased
        char Escape = 0;
        bool Multi = false;                            // both multi-line delimiters set
        std::array<bool, 256> StateChars{};            // bytes the state scanner must look at
        std::vector<std::pair<int, char>> Brackets;    // (entry index, bracket) in list order
        std::unordered_map<std::string, int> Keywords; // word (upper-cased unless case-sensitive) -> entry
    };
    struct TLineScan;
    void Prepare();
    void ScanStateLine(std::string_view line, THighlightState& state) const;
    THighlightRun RunOf(const THighlightState& state, int start, int length) const;

    const TCustomMemoStyler* FStyler = nullptr;
    TSets FSets;
    bool FTopValid = false;
    int FTopLine = -1;
    THighlightState FTopState;
    long long FScanned = 0;
};

// Splits a line into pieces: maximal runs of separators (space, double quote, apostrophe, comma)
// and of other characters; an escape character takes the next character into its piece. Returns
// the [start, end) byte ranges, which together cover the line. urlAware false = one piece.
std::vector<std::pair<int, int>> SplitPieces(std::string_view line, char escape, bool urlAware = true);

// End of the piece that starts at `start` (the same cut as SplitPieces).
int PieceEnd(std::string_view line, int start, char escape);

// True for a piece that begins, ignoring case, with "http://" or "mailto:".
bool IsLinkPiece(std::string_view piece);
