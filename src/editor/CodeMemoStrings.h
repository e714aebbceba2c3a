// The editor's text: an ordered list of lines without line-break characters, each kept as UTF-8
// with its length in characters and its TLineProp (the highlighter's cached start state). Every
// store expands TAB characters to TabSize spaces, so the text never holds a TAB and a column is
// always one character. Any change drops the cached start states at and below the changed line,
// because those states were computed from text that is gone; lines above keep theirs.
//
// The list remembers the encoding its file came in (TextEncoding.h) and writes it back in that
// encoding, each line followed by CR LF.
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
    // The longest line seen since the last load or clear, in characters (the horizontal scroll range).
    int MaxLength() const { return FMaxLength; }

    // Stored text has TABs expanded; bytes that are not valid UTF-8 are read as Windows-1252.
    void Add(std::string_view text);
    void Insert(int index, std::string_view text); // 0 <= index <= Count()
    void InsertLines(int index, const std::vector<std::string>& texts);
    void Put(int index, std::string_view text);
    void Delete(int index);
    void DeleteLines(int index, int count);
    void Clear(); // no lines at all; the editor keeps one empty line itself

    // The whole text with CR LF after every line, as UTF-8.
    std::string Text() const;
    // Replaces all lines by text split at CR LF, LF or CR; drops every cached state.
    void SetText(std::string_view utf8);

    // Reads a file, decoding it as UTF-8 or else Windows-1252 (remembered in Encoding).
    // Throws EVarnelloError "Cannot open file <path>" when it cannot be read or is larger than
    // kMaxDocumentBytes.
    void LoadFromFile(const std::string& path);
    // Writes every line followed by CR LF in Encoding, replacing the file through a temporary one
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

    std::vector<std::string> FLines;
    std::vector<int> FLengths;
    std::vector<TLineProp> FProps;
    int FMaxLength = 0;
    // Highest line whose TLineProp was handed out: caches can only be valid up to there.
    int FPropHigh = -1;
    int FUpdateCount = 0;
    int FPendingLine = -1;
};

// Expands every TAB to tabSize spaces (no tab stops).
std::string ExpandTabs(std::string_view text, int tabSize);
