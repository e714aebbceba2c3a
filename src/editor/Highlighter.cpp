// The highlighting scanner: pieces, the painter's rules, run colours, the state scanner with its
// line caches, and the matching-block search. See Highlighter.h for the shape of the whole.
//
// A piece is scanned with one position that only moves forward: what lies before it has been
// emitted, so "emit the piece from its start" and "search the rest of the piece" both begin there.
// That keeps every byte of the line emitted exactly once, whatever order the rules fire in.
#include "editor/Highlighter.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kCacheStep = 50; // the state scanner caches every 50th line it passes

constexpr unsigned char Up(char c) {
    return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 'a' + 'A') : (unsigned char)c;
}

std::string Upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = char(Up(c));
    return r;
}

constexpr std::array<bool, 256> kSeparators = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : {' ', '\t', '"', '\'', ','}) t[c] = true;
    return t;
}();

bool IsSeparator(char c) {
    return kSeparators[(unsigned char)c];
}

bool IsContinuationByte(char c) {
    return ((unsigned char)c & 0xC0) == 0x80;
}

// True when `what` (non-empty) stands at `pos` of `s`.
bool StartsAt(std::string_view s, std::size_t pos, std::string_view what) {
    if (what.empty() || pos >= s.size() || s[pos] != what[0] || s.size() - pos < what.size()) return false;
    for (std::size_t i = 1; i < what.size(); ++i) // delimiters are short: a loop beats a memcmp call
        if (s[pos + i] != what[i]) return false;
    return true;
}

// Same, comparing `s` upper-cased with an upper-cased `what`.
bool StartsAtUpper(std::string_view s, std::size_t pos, std::string_view upperWhat) {
    if (upperWhat.empty() || pos > s.size() || s.size() - pos < upperWhat.size()) return false;
    for (std::size_t i = 0; i < upperWhat.size(); ++i)
        if (Up(s[pos + i]) != (unsigned char)upperWhat[i]) return false;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Line properties, pieces

void TLineProp::Store(const THighlightState& state) {
    StateValid = true;
    InComment = state.InComment;
    InBracket = state.InBracket;
    BracketChar = state.BracketChar;
    StyleIndex = state.StyleIndex;
}

THighlightState TLineProp::Load() const {
    THighlightState s;
    s.InComment = InComment;
    s.InBracket = InBracket;
    s.BracketChar = BracketChar;
    s.StyleIndex = StyleIndex;
    return s;
}

THighlightLines::~THighlightLines() = default;

void InvalidateLineStates(THighlightLines& lines, int fromLine) {
    for (int i = std::max(fromLine, 0), n = lines.LineCount(); i < n; ++i) lines.LineProp(i).Invalidate();
}

int PieceEnd(std::string_view line, int start, char escape) {
    const int n = int(line.size());
    int kind = -1; // of the piece: 1 separators, 0 others, -1 not yet known
    int i = start;
    while (i < n) {
        const char c = line[std::size_t(i)];
        if (escape != 0 && c == escape) {
            // The escape and the character after it (all of its bytes) join the piece.
            if (kind == -1) kind = 0;
            i += 2;
            while (i < n && IsContinuationByte(line[std::size_t(i)])) ++i;
            continue;
        }
        const int k = IsSeparator(c) ? 1 : 0;
        if (kind != -1 && k != kind) return i;
        kind = k;
        ++i;
    }
    return n;
}

std::vector<std::pair<int, int>> SplitPieces(std::string_view line, char escape, bool urlAware) {
    std::vector<std::pair<int, int>> pieces;
    const int n = int(line.size());
    if (!urlAware) {
        if (n > 0) pieces.emplace_back(0, n);
        return pieces;
    }
    for (int start = 0; start < n;) {
        const int end = std::min(PieceEnd(line, start, escape), n);
        pieces.emplace_back(start, end);
        start = end;
    }
    return pieces;
}

bool IsLinkPiece(std::string_view piece) {
    if (piece.empty() || (Up(piece[0]) != 'H' && Up(piece[0]) != 'M')) return false;
    return StartsAtUpper(piece, 0, "HTTP://") || StartsAtUpper(piece, 0, "MAILTO:");
}

// ---------------------------------------------------------------------------------------------
// Styler-derived sets

void TMemoHighlighter::SetStyler(const TCustomMemoStyler* styler) {
    FStyler = styler;
    FTopValid = false;
    Prepare();
}

void TMemoHighlighter::Prepare() {
    FSets = TSets{};
    if (!FStyler) return;
    const TCustomMemoStyler& s = *FStyler;
    for (int i = 0; i < s.AllStyles.Count(); ++i) {
        const TElementStyle& e = s.AllStyles[i];
        switch (e.StyleType) {
        case stSymbol:
            for (char c : e.Symbols) FSets.D[(unsigned char)c] = true;
            if (!e.Symbols.empty()) FSets.DEmpty = false;
            break;
        case stKeyword:
            for (const std::string& w : e.KeyWords)
                FSets.Keywords.emplace(Options.CaseSensitive ? w : Upper(w), i); // first entry wins
            break;
        case stBracket:
            if (e.Bracket != 0) {
                FSets.StateChars[(unsigned char)e.Bracket] = true;
                FSets.Brackets.emplace_back(i, e.Bracket);
            }
            break;
        }
    }
    for (char c : TCustomMemoStyler::NumberChars) FSets.NumStart[Up(c)] = FSets.NumBody[Up(c)] = true;
    for (char c : s.HexIdentifier) FSets.NumStart[Up(c)] = true;
    FSets.NumBody['E'] = true;
    FSets.HexPrefix = Upper(s.HexIdentifier);
    FSets.Escape = s.EscapeChar.empty() ? 0 : s.EscapeChar[0];
    FSets.Multi = !s.MultiCommentLeft.empty() && !s.MultiCommentRight.empty();
    if (FSets.Multi) {
        FSets.StateChars[(unsigned char)s.MultiCommentLeft[0]] = true;
        FSets.StateChars[(unsigned char)s.MultiCommentRight[0]] = true;
    }
    if (!s.LineComment.empty()) FSets.StateChars[(unsigned char)s.LineComment[0]] = true;
    if (FSets.Escape != 0) FSets.StateChars[(unsigned char)FSets.Escape] = true;
}

// ---------------------------------------------------------------------------------------------
// Painting scan

THighlightRun TMemoHighlighter::RunOf(const THighlightState& st, int start, int length) const {
    THighlightRun run{start, length, Options.FontColor, Options.BkColor, Options.FontStyle};
    auto apply = [&run](TColor fg, TColor bg, TFontStyles style) {
        run.Color = fg;
        run.BkColor = bg;
        run.Style = style;
    };
    const TElementStyle* entry = nullptr;
    if (FStyler && st.StyleIndex >= 0 && st.StyleIndex < FStyler->AllStyles.Count())
        entry = &FStyler->AllStyles[st.StyleIndex];
    if (!FStyler) return run;
    if (st.InComment && !st.IsUrl) {
        apply(FStyler->CommentStyle.TextColor, FStyler->CommentStyle.BkColor, FStyler->CommentStyle.Style);
    } else if (st.InBracket && !st.IsUrl) {
        if (entry) apply(entry->Font.Color, entry->BGColor, entry->Font.Style);
    } else {
        if (st.IsNumber)
            apply(FStyler->NumberStyle.TextColor, FStyler->NumberStyle.BkColor, FStyler->NumberStyle.Style);
        if ((st.IsSymbol || st.IsKeyword) && entry)
            apply(entry->Font.Color, entry->BGColor, entry->Font.Style);
        if (st.IsUrl) apply(Options.UrlStyle.TextColor, Options.UrlStyle.BkColor, Options.UrlStyle.Style);
    }
    return run;
}

// The scan of one line: the carried state, the pending run and the runs made so far.
struct TMemoHighlighter::TLineScan {
    TLineScan(const TMemoHighlighter& h, const TCustomMemoStyler& s, std::string_view line,
              THighlightState& st)
        : H(h), S(s), Line(line), St(st) {}

    const TMemoHighlighter& H;
    const TCustomMemoStyler& S;
    std::string_view Line;
    THighlightState& St;
    std::vector<THighlightRun> Runs;
    bool HasPending = false;
    THighlightState PendingState;
    int PendingStart = 0;
    int PendingEnd = 0;
    bool LineComment = false;

    // Emits [start, start + length) in the current state and clears the token flags.
    void Emit(int start, int length) {
        if (length <= 0) return;
        if (HasPending && PendingState == St && PendingEnd == start) {
            PendingEnd += length;
        } else {
            Flush();
            HasPending = true;
            PendingState = St;
            PendingStart = start;
            PendingEnd = start + length;
        }
        St.ClearTokenFlags();
    }

    void Flush() {
        if (HasPending) Runs.push_back(H.RunOf(PendingState, PendingStart, PendingEnd - PendingStart));
        HasPending = false;
    }

    // A TAB kept in the text separates words as a space does.
    bool IsWordBreak(char c) const { return c == ' ' || c == '\t' || H.FSets.D[(unsigned char)c]; }

    void Piece(int base, int end);
};

void TMemoHighlighter::TLineScan::Piece(int base, int end) {
    const std::string_view T = Line.substr(std::size_t(base), std::size_t(end - base));
    const int n = int(T.size());
    const TSets& sets = H.FSets;
    const std::string& lineComment = S.LineComment;
    const std::string& left = S.MultiCommentLeft;
    const std::string& right = S.MultiCommentRight;
    enum { rOther, rPlain, rOpenBracket } last = rOther;
    bool W = true; // at a word start
    int p = 0;
    auto emit = [&](int from, int length) { Emit(base + from, length); };

    while (p < n) {
        // a. Word start, after a plain character or an opening quote.
        if (last == rPlain || last == rOpenBracket) W = IsWordBreak(T[p]) || sets.DEmpty;
        last = rOther;

        // b. Multi-line comments.
        if (sets.Multi && !St.InBracket) {
            if (St.InComment) {
                const std::size_t q = T.find(right, std::size_t(p));
                if (q == std::string_view::npos) {
                    emit(p, n - p);
                    return;
                }
                const int close = int(q + right.size());
                emit(p, close - p);
                p = close;
                St.InComment = false;
                if (p >= n) return;
                // closing does not count as a rule: go on with c in this pass
            } else {
                const std::size_t qL =
                    lineComment.empty() ? std::string_view::npos : T.find(lineComment, std::size_t(p));
                const std::size_t qM = T.find(left, std::size_t(p));
                if (qM != std::string_view::npos && (qL == std::string_view::npos || qM < qL)) {
                    emit(p, int(qM) - p); // the text before the delimiter, as it stands
                    St.InComment = true;
                    emit(int(qM), int(left.size()));
                    p = int(qM + left.size());
                    continue;
                }
            }
        }
        const char c = T[p];

        // c. Line comment.
        if (!St.InComment && !St.InBracket && StartsAt(T, std::size_t(p), lineComment)) {
            St.InComment = true;
            emit(p, n - p);
            LineComment = true;
            return;
        }

        // d. Brackets (strings).
        if (!St.InComment) {
            if (St.InBracket) {
                if (St.BracketChar != 0) {
                    if (sets.Escape != 0 && c == sets.Escape) {
                        emit(p, 1);
                        ++p;
                        if (p < n) {
                            emit(p, 1);
                            ++p;
                        }
                    } else if (c == St.BracketChar) {
                        emit(p, 1);
                        ++p;
                        St.InBracket = false;
                        W = false;
                    } else {
                        emit(p, 1);
                        ++p;
                    }
                    continue;
                }
            } else {
                for (int i = 0; i < S.AllStyles.Count(); ++i) {
                    const TElementStyle& e = S.AllStyles[i];
                    if (e.StyleType != stBracket) continue;
                    St.BracketChar = e.Bracket;
                    St.StyleIndex = i;
                    if (e.Bracket != 0 && e.Bracket == c) {
                        St.InBracket = true;
                        break;
                    }
                }
                if (St.InBracket) {
                    emit(p, 1);
                    ++p;
                    last = rOpenBracket;
                    continue;
                }
            }
        }

        // e. Symbols.
        {
            int hit = -1;
            if (sets.D[(unsigned char)c])
                for (int i = 0; i < S.AllStyles.Count() && hit < 0; ++i) {
                    const TElementStyle& e = S.AllStyles[i];
                    if (e.StyleType == stSymbol && e.Symbols.find(c) != std::string::npos) hit = i;
                }
            if (hit >= 0) {
                St.IsSymbol = true;
                St.StyleIndex = hit;
                emit(p, 1);
                ++p;
                W = true;
                continue;
            }
        }

        // f. Numbers.
        if (W && sets.NumStart[Up(c)]) {
            const bool hex = StartsAtUpper(T, std::size_t(p), sets.HexPrefix);
            const int from = hex ? p + int(sets.HexPrefix.size()) : p;
            int q = from;
            int firstDot = -1;
            while (q < n) {
                const unsigned char u = Up(T[q]);
                if (!sets.NumBody[u] && !(hex && u >= 'A' && u <= 'F')) break;
                if (u == '.') {
                    if (firstDot >= 0) {
                        q = firstDot; // a second dot: the number ends before the first
                        break;
                    }
                    firstDot = q;
                }
                ++q;
            }
            if (q > from) {
                St.IsSymbol = false;
                St.IsNumber = true;
                emit(p, q - p);
                p = q;
                W = false;
                continue;
            }
        }

        // g. Keywords.
        if (W) {
            int q = p;
            while (q < n && !IsWordBreak(T[q])) ++q;
            if (q > p) {
                const std::string_view word = T.substr(std::size_t(p), std::size_t(q - p));
                const auto it = sets.Keywords.find(H.Options.CaseSensitive ? std::string(word) : Upper(word));
                if (it != sets.Keywords.end()) {
                    St.IsKeyword = true;
                    St.StyleIndex = it->second;
                    emit(p, q - p);
                    p = q;
                    continue;
                }
            }
        }

        // h. Plain character.
        emit(p, 1);
        ++p;
        last = rPlain;
    }
}

std::vector<THighlightRun> TMemoHighlighter::ScanLine(std::string_view line, THighlightState& state) const {
    if (line.empty()) return {};
    if (!FStyler) return {RunOf(state, 0, int(line.size()))};
    TLineScan scan(*this, *FStyler, line, state);
    const int n = int(line.size());
    for (int start = 0, end = 0; start < n; start = end) {
        end = Options.UrlAware ? std::min(PieceEnd(line, start, FSets.Escape), n) : n;
        if (Options.UrlAware && IsLinkPiece(line.substr(std::size_t(start), std::size_t(end - start)))) {
            // A link is one token: no rule looks into it, so it opens and closes nothing.
            state.IsUrl = true;
            scan.Emit(start, end - start);
            continue;
        }
        scan.Piece(start, end);
    }
    scan.Flush();
    if (scan.LineComment) state.InComment = false;
    return std::move(scan.Runs);
}

std::vector<std::vector<THighlightRun>> TMemoHighlighter::ScanLines(THighlightLines& lines, int topLine,
                                                                    int count) {
    std::vector<std::vector<THighlightRun>> result;
    if (lines.LineCount() == 0) return result;
    topLine = std::clamp(topLine, 0, lines.LineCount() - 1);
    THighlightState state = TopLineState(lines, topLine);
    for (int i = topLine; i < lines.LineCount() && i < topLine + count; ++i)
        result.push_back(ScanLine(lines.LineText(i), state));
    return result;
}

// ---------------------------------------------------------------------------------------------
// State scanner

void TMemoHighlighter::ScanStateLine(std::string_view line, THighlightState& st) const {
    if (line.empty() || !FSets.Multi) return;
    const TCustomMemoStyler& s = *FStyler;
    const std::string& left = s.MultiCommentLeft;
    const std::string& right = s.MultiCommentRight;
    const std::string& lineComment = s.LineComment;
    const char escape = FSets.Escape;
    const auto& brackets = FSets.Brackets;
    const int n = int(line.size());

    // Most lines change nothing; these two exits give the same result as the walk below.
    if (st.InComment && !st.InBracket && line.find(right) == std::string_view::npos) return;
    if (!st.InComment && !st.InBracket &&
        std::none_of(brackets.begin(), brackets.end(),
                     [line](const auto& b) { return line.find(b.second) != std::string_view::npos; }) &&
        line.find(left) == std::string_view::npos) {
        // Only the bracket visit at the first position walked leaves a trace: the last entry's values.
        for (int start = 0; start < n;) {
            const int end = Options.UrlAware ? std::min(PieceEnd(line, start, escape), n) : n;
            const std::string_view T = line.substr(std::size_t(start), std::size_t(end - start));
            start = end;
            if (Options.UrlAware && IsLinkPiece(T)) continue;
            if (!StartsAt(T, 0, lineComment) && !brackets.empty()) {
                st.BracketChar = brackets.back().second;
                st.StyleIndex = brackets.back().first;
            }
            break;
        }
        return;
    }

    for (int start = 0; start < n;) {
        const int end = Options.UrlAware ? std::min(PieceEnd(line, start, escape), n) : n;
        const std::string_view T = line.substr(std::size_t(start), std::size_t(end - start));
        start = end;
        if (Options.UrlAware && IsLinkPiece(T)) continue;
        const std::size_t len = T.size();
        std::size_t i = 0;
        while (i < len) {
            if (!FSets.StateChars[(unsigned char)T[i]]) {
                // No delimiter or quote starts here: outside comments and strings, the bracket visit
                // only leaves the last bracket entry's character and index behind. Skip the run.
                if (!st.InComment && !st.InBracket && !brackets.empty()) {
                    st.BracketChar = brackets.back().second;
                    st.StyleIndex = brackets.back().first;
                }
                while (++i < len && !FSets.StateChars[(unsigned char)T[i]]) {
                }
                continue;
            }
            if (!st.InComment && !st.InBracket && StartsAt(T, i, left)) {
                st.InComment = true;
                i += left.size();
                continue;
            }
            if (st.InComment && !st.InBracket && StartsAt(T, i, right)) {
                st.InComment = false;
                i += right.size();
                continue;
            }
            if (!st.InComment && !st.InBracket && StartsAt(T, i, lineComment)) return;
            if (!st.InComment) {
                for (const auto& [index, bracket] : brackets) {
                    if (i >= len) break;
                    if (!st.InBracket) {
                        st.BracketChar = bracket;
                        st.StyleIndex = index;
                    }
                    if (st.InBracket && escape != 0 && T[i] == escape) {
                        i += 2; // the escape and its character are dropped; later entries see what follows
                    } else if (T[i] == st.BracketChar) {
                        st.InBracket = !st.InBracket;
                        break;
                    }
                }
            }
            ++i;
        }
    }
}

THighlightState TMemoHighlighter::TopLineState(THighlightLines& lines, int topLine) {
    Prepare();
    const int count = lines.LineCount();
    if (count == 0 || !FStyler) return {};
    topLine = std::clamp(topLine, 0, count - 1);
    if (FTopValid && FTopLine == topLine) return FTopState;

    THighlightState st;
    int from = 0;
    for (int i = topLine - 1; i >= 0; --i) {
        const TLineProp& prop = lines.LineProp(i);
        if (prop.StateValid) {
            st = prop.Load();
            from = i;
            break;
        }
    }
    for (int i = from; i < topLine; ++i) {
        const std::string& text = lines.LineText(i);
        if (i % kCacheStep == 0 && !text.empty()) {
            TLineProp& prop = lines.LineProp(i);
            if (!prop.StateValid) prop.Store(st);
        }
        ++FScanned;
        ScanStateLine(text, st);
    }
    lines.LineProp(topLine).Store(st);
    FTopValid = true;
    FTopLine = topLine;
    FTopState = st;
    return st;
}

void TMemoHighlighter::LinesChanged(int line) {
    // The top line's start state depends only on the lines above it.
    if (FTopValid && line < FTopLine) FTopValid = false;
}

void TMemoHighlighter::Reset() {
    FTopValid = false;
    FTopLine = -1;
}

// ---------------------------------------------------------------------------------------------
// Matching-block mark

void TMemoHighlighter::UpdateBlockMark(const THighlightLines& lines, int caretLine, int caretColumn,
                                       int topLine, int lastVisibleLine, TBlockMark& mark) const {
    if (!FStyler || FStyler->BlockStart.empty() || FStyler->BlockEnd.empty()) {
        mark.Visible = false;
        return;
    }
    const int count = lines.LineCount();
    if (caretLine < 0 || caretLine >= count) return;
    const TCustomMemoStyler& s = *FStyler;
    auto boundary = [&s](char c) { return c == ' ' || c == '\t' || s.IsDelimiterChar(c); };
    const std::string blockStart = Upper(s.BlockStart);
    const std::string blockEnd = Upper(s.BlockEnd);

    const std::string& text = lines.LineText(caretLine);
    const int len = int(text.size());
    const int col = std::clamp(caretColumn, 0, len);
    int ws = col;
    while (ws > 0 && !boundary(text[ws - 1])) --ws;
    int we = col;
    while (we < len && !boundary(text[we])) ++we;
    const std::string word = Upper(std::string_view(text).substr(std::size_t(ws), std::size_t(we - ws)));

    // Block words on a line, in order: +1 for BlockStart, -1 for BlockEnd. An occurrence counts at the
    // line start or after a boundary; what follows it is not looked at.
    struct TOccurrence {
        int Pos, Delta, Length;
    };
    auto occurrences = [&](const std::string& t) {
        std::vector<TOccurrence> r;
        for (int i = 0; i < int(t.size()); ++i) {
            if (i > 0 && !boundary(t[i - 1])) continue;
            if (StartsAtUpper(t, std::size_t(i), blockStart))
                r.push_back({i, +1, int(blockStart.size())});
            else if (StartsAtUpper(t, std::size_t(i), blockEnd))
                r.push_back({i, -1, int(blockEnd.size())});
        }
        return r;
    };

    if (word == blockStart) {
        int depth = 0;
        const int last = std::min(std::max(lastVisibleLine, caretLine), count - 1);
        for (int l = caretLine; l <= last; ++l) {
            for (const TOccurrence& o : occurrences(lines.LineText(l))) {
                if (l == caretLine && o.Pos < ws) continue;
                depth += o.Delta;
                if (o.Delta < 0 && depth == 0) {
                    mark = {true, l, o.Pos, o.Length};
                    return;
                }
            }
        }
    } else if (word == blockEnd) {
        // Upwards, each line read from right to left so nesting on one line pairs correctly.
        int depth = 0;
        for (int l = caretLine; l >= std::max(std::min(topLine, caretLine), 0); --l) {
            const std::vector<TOccurrence> occ = occurrences(lines.LineText(l));
            for (auto it = occ.rbegin(); it != occ.rend(); ++it) {
                if (l == caretLine && it->Pos > ws) continue;
                depth -= it->Delta;
                if (it->Delta > 0 && depth == 0) {
                    mark = {true, l, it->Pos, it->Length};
                    return;
                }
            }
        }
    } else {
        mark.Visible = false;
    }
}
