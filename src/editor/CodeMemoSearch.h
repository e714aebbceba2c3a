// Find, replace and go-to-line on the editor's text, without a window. Matching works on the
// lines' UTF-8 bytes and reports positions in character columns, as the rest of the model does.
//
// A pattern matches within one line, unless it is a regular expression that names a line break
// (\n or \r): then it runs over the whole text with "\n" between lines, so a match can span lines.
// Empty matches are never reported, so Next always moves and Replace All always ends.
#pragma once

#include "editor/CodeMemoModel.h"

#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

struct TSearchOptions {
    bool MatchCase = false;
    bool WholeWord = false;
    bool Regex = false;
};

struct TSearchMatch {
    TMemoPos Start, End; // [Start, End)
};

class TMemoSearch {
public:
    // Compiles the pattern; false (with Error() set) for a bad regular expression or an empty
    // pattern. A failed call leaves the search invalid, never the previous pattern in force.
    bool SetPattern(const std::string& pattern, TSearchOptions options);
    bool Valid() const { return FValid; }
    const std::string& Error() const { return FError; }
    bool Multiline() const { return FMultiline; }
    const TSearchOptions& Options() const { return FOptions; }

    // Matches inside one line as character columns [start, end); for highlighting. A multiline
    // pattern reports the matches that lie within the line.
    std::vector<std::pair<int, int>> LineMatches(const TCodeMemoStrings& lines, int line) const;

    // Forward: the first match starting at or after `from`; backward: the last one starting before
    // it. With wrap, the search goes round the text once and sets *wrapped when it did.
    std::optional<TSearchMatch> Find(const TCodeMemoStrings& lines, TMemoPos from, bool forward, bool wrap,
                                     bool* wrapped = nullptr) const;
    int CountAll(const TCodeMemoStrings& lines) const;

    // Whether [start, end) is exactly a match (the selection a Replace may replace).
    bool IsMatch(const TCodeMemoStrings& lines, TSearchMatch m) const;

    // Replaces the match at the selection, as one undo step, and selects the next match; false
    // when the selection is not a match (then it only finds the next one from the caret).
    bool ReplaceCurrent(TCodeMemoModel& model, const std::string& replacement) const;
    // Replaces every match as one undo step; returns how many. A regular expression's
    // replacement may name its groups ($1, $&); otherwise the replacement is literal.
    int ReplaceAll(TCodeMemoModel& model, const std::string& replacement) const;

    // True when the last call left out a line (or, across lines, the text) too long to give to a
    // regular expression safely (1 MiB); its matches were not seen.
    bool SkippedLongText() const { return FSkippedLong; }

private:
    struct TByteMatch {
        std::size_t Start, End; // bytes in the searched string
        std::smatch Groups;     // regular expressions only
    };
    // Every match in s, in order. `from` is the first byte a match may start at.
    void Scan(const std::string& s, std::size_t from,
              const std::function<bool(const TByteMatch&)>& sink) const;
    // Runs fn where a regular expression has room to recurse; exceptions pass through.
    void Deep(const std::function<void()>& fn) const;
    std::vector<std::pair<int, int>> LineMatchesImpl(const TCodeMemoStrings& lines, int line) const;
    std::optional<TSearchMatch> FindImpl(const TCodeMemoStrings& lines, TMemoPos from, bool forward,
                                         bool wrap, bool* wrapped) const;
    int CountAllImpl(const TCodeMemoStrings& lines) const;
    bool IsMatchImpl(const TCodeMemoStrings& lines, TSearchMatch m) const;
    void CollectReplacements(const TCodeMemoStrings& lines, const std::string& replacement,
                             std::vector<TReplaceLinesUndo::TChunk>& chunks, int& count) const;
    std::string Expand(const TByteMatch& m, const std::string& replacement) const;
    bool WordBounded(const std::string& s, std::size_t start, std::size_t end) const;

    std::string FPattern, FFolded;
    TSearchOptions FOptions;
    std::regex FRegex;
    bool FValid = false;
    bool FMultiline = false;
    std::string FError;
    mutable bool FSkippedLong = false;
};

// Moves the caret to the start of a line, counted from 1 as the gutter shows it, and scrolls to
// it; false (nothing moved) when there is no such line.
bool GotoLine(TCodeMemoModel& model, int lineNumber);
