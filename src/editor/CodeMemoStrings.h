// The editor's text: an ordered list of lines without line-break characters, each kept as UTF-8
// with its length in characters and its TLineProp (the highlighter's cached start state). Any
// change drops the cached start states at and below the changed line, because those states were
// computed from text that is gone; lines above keep theirs.
//
// A file goes back to the disk as it came in wherever the user did not edit it: the list keeps
// TAB characters as they are (a TAB is one character, one column, drawn TabSize cells wide), the
// line break that followed each line (LF, CR LF or CR), whether the last line had one, and the
// encoding (TextEncoding.h). New lines get the file's first line break; a new document uses LF.
// A line still as it was read remembers its length, so the caret's padding can be taken off it
// again without trimming spaces the file itself had.
#pragma once

#include "editor/Highlighter.h"
#include "editor/TextEncoding.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TCodeMemoStrings : public THighlightLines {
public:
    // Every line of a larger file would be held in memory several times over.
    static constexpr std::size_t kMaxDocumentBytes = std::size_t(256) << 20;

    TCodeMemoStrings();

    int TabSize = 4;

    int Count() const { return static_cast<int>(FLines.size()); }
    // REQUIRES: 0 <= index < Count() for the accessors and Put/Delete.
    const std::string& operator[](int index) const { return FLines[static_cast<std::size_t>(index)]; }
    const std::string& Get(int index) const { return (*this)[index]; }
    int Length(int index) const { return FLengths[static_cast<std::size_t>(index)]; } // in characters
    // The longest line seen since the last load or clear, in display cells (the horizontal scroll
    // range).
    int MaxLength() const { return FMaxLength; }
    // Display cells of the first col characters of a line (beyond its end one cell per column).
    int CellOf(int index, int col) const;
    // The column whose left edge is nearest to the cell boundary `cell` of a line.
    int ColumnAtCell(int index, int cell) const;

    enum class TLineBreak : unsigned char { lbLF, lbCRLF, lbCR };
    // The break written after a line.
    TLineBreak Break(int index) const { return FBreaks[static_cast<std::size_t>(index)]; }
    void SetBreak(int index, TLineBreak lineBreak) { FBreaks[static_cast<std::size_t>(index)] = lineBreak; }
    // Break of new lines: the file's first one; LF for a new document.
    TLineBreak LineBreak = TLineBreak::lbLF;
    // Whether the last line is followed by a break on saving (a new document: yes).
    bool FinalBreak = true;

    // The byte length a line had when it was read, or -1 once it was edited (or for a new line).
    int OriginalLength(int index) const { return FOriginal[static_cast<std::size_t>(index)]; }
    // Put for the caret's padding: the line counts as unedited still.
    void PutPadding(int index, std::string_view text);

    // Bytes that are not valid UTF-8 are read as Windows-1252. New lines get LineBreak.
    void Add(std::string_view text);
    void Insert(int index, std::string_view text); // 0 <= index <= Count()
    void InsertLines(int index, const std::vector<std::string>& texts);
    void Put(int index, std::string_view text);
    void Delete(int index);
    void DeleteLines(int index, int count);
    void Clear(); // no lines at all; the editor keeps one empty line itself

    // The whole text with CR LF after every line, as UTF-8.
    std::string Text() const;
    // Replaces all lines by text split at CR LF, LF or CR (the breaks and the final break are
    // remembered as on loading); drops every cached state.
    void SetText(std::string_view utf8);

    // Reads a file, decoding it as UTF-8 or else Windows-1252 (remembered in Encoding).
    // Throws EVarnelloError "Cannot open file <path>" when it cannot be read or is larger than
    // kMaxDocumentBytes.
    void LoadFromFile(const std::string& path);
    // Writes the lines with their breaks in Encoding, replacing the file through a temporary one
    // (the old file survives any failure). Throws EVarnelloError "Cannot create file <path>..."
    // when it cannot be written, ETextEncodingError (before touching the file) when a character has
    // no byte in the file's encoding.
    void SaveToFile(const std::string& path) const;
    // The bytes SaveToFile writes.
    std::string EncodedText() const;

    TTextEncoding Encoding = TTextEncoding::teUtf8;
    bool Bom = false;

    // Batches notifications: OnChange fires once, from the first changed line, at the last EndUpdate.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Raised after every change with the first line whose text or position changed.
    std::function<void(TCodeMemoStrings& sender, int firstLine)> OnChange;

    // THighlightLines
    int LineCount() const override { return Count(); }
    const std::string& LineText(int index) const override { return (*this)[index]; }
    TLineProp& LineProp(int index) override;

private:
    std::string Prepare(std::string_view text) const;
    void Changed(int firstLine);
    void Loaded(std::string_view utf8);
    int CellCount(std::string_view s) const;

    std::vector<std::string> FLines;
    std::vector<int> FLengths;
    std::vector<TLineProp> FProps;
    std::vector<TLineBreak> FBreaks;
    std::vector<int> FOriginal;
    int FMaxLength = 0;
    // Highest line whose TLineProp was handed out: caches can only be valid up to there.
    int FPropHigh = -1;
    int FUpdateCount = 0;
    int FPendingLine = -1;
};

// Expands every TAB to tabSize spaces (no tab stops): the text as the screen shows it.
std::string ExpandTabs(std::string_view text, int tabSize);
