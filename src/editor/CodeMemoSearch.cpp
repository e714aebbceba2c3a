// Find and replace over TCodeMemoStrings. Case folding keeps byte offsets: ASCII letters and the
// Latin-1 capitals (two UTF-8 bytes either way) fold in place, so a folded line maps 1:1 onto
// the real one.
#include "editor/CodeMemoSearch.h"

#include "editor/TextEncoding.h"

#include <algorithm>
#include <exception>
#include <pthread.h>

namespace {

std::string Fold(const std::string& s) {
    std::string out = s;
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xC3 && i + 1 < out.size()) {
            unsigned char d = static_cast<unsigned char>(out[i + 1]);
            if (d >= 0x80 && d <= 0x9E && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
            ++i;
        }
    }
    return out;
}

bool IsWordByte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           c >= 0x80;
}

int ColOf(const std::string& line, std::size_t byte) {
    return static_cast<int>(Utf8CharCount(std::string_view(line).substr(0, std::min(byte, line.size()))));
}

std::size_t ByteOf(const std::string& line, int col) {
    return Utf8ByteOffset(line, static_cast<std::size_t>(std::max(col, 0)));
}

// The whole text with "\n" between lines, and where each line starts in it.
struct TJoined {
    std::string Text;
    std::vector<std::size_t> Starts;

    explicit TJoined(const TCodeMemoStrings& lines) {
        std::size_t total = 0;
        for (int i = 0; i < lines.Count(); ++i) total += lines[i].size() + 1;
        Text.reserve(total);
        Starts.reserve(static_cast<std::size_t>(lines.Count()));
        for (int i = 0; i < lines.Count(); ++i) {
            if (i > 0) Text += '\n';
            Starts.push_back(Text.size());
            Text += lines[i];
        }
    }
    std::size_t Offset(const TCodeMemoStrings& lines, TMemoPos p) const {
        if (Starts.empty()) return 0;
        int line = std::clamp(p.Line, 0, static_cast<int>(Starts.size()) - 1);
        return Starts[static_cast<std::size_t>(line)] + ByteOf(lines[line], p.Col);
    }
    TMemoPos Pos(const TCodeMemoStrings& lines, std::size_t off) const {
        auto it = std::upper_bound(Starts.begin(), Starts.end(), off);
        int line = static_cast<int>(it - Starts.begin()) - 1;
        if (line < 0) return {0, 0};
        return {ColOf(lines[line], off - Starts[static_cast<std::size_t>(line)]), line};
    }
};

std::string JoinCrLf(const TCodeMemoStrings& lines, int first, int last) {
    std::string out;
    for (int i = first; i <= last; ++i) {
        if (i > first) out += "\r\n";
        out += lines[i];
    }
    return out;
}

int BreakCount(const std::string& s) {
    int n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
            ++n;
        }
    }
    return n;
}

} // namespace

namespace {

// std::regex matches by recursion, about a kilobyte of stack per character a match attempt
// covers: the default stack ends near 10,000 characters. Regular expressions therefore run on a
// thread with a large (lazily committed) stack, and longer texts are not handed to them at all.
constexpr std::size_t kDeepStackBytes = std::size_t(1) << 30;
constexpr std::size_t kDeepRegexMaxBytes = std::size_t(1) << 20;
constexpr std::size_t kShallowRegexMaxBytes = 4096; // when no such thread can be made
thread_local std::size_t tRegexMaxBytes = kShallowRegexMaxBytes;

struct TDeepCall {
    const std::function<void()>* Fn;
    std::exception_ptr Error;
};

void* DeepEntry(void* arg) {
    auto* call = static_cast<TDeepCall*>(arg);
    tRegexMaxBytes = kDeepRegexMaxBytes;
    try {
        (*call->Fn)();
    } catch (...) {
        call->Error = std::current_exception();
    }
    return nullptr;
}

} // namespace

void TMemoSearch::Deep(const std::function<void()>& fn) const {
    FSkippedLong = false;
    if (!FOptions.Regex) {
        fn();
        return;
    }
    TDeepCall call{&fn, nullptr};
    pthread_attr_t attr;
    pthread_t thread{};
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        started = pthread_attr_setstacksize(&attr, kDeepStackBytes) == 0 &&
                  pthread_create(&thread, &attr, DeepEntry, &call) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) {
        fn(); // this thread's small limit applies
        return;
    }
    pthread_join(thread, nullptr);
    if (call.Error) std::rethrow_exception(call.Error);
}

std::vector<std::pair<int, int>> TMemoSearch::LineMatches(const TCodeMemoStrings& lines, int line) const {
    std::vector<std::pair<int, int>> out;
    Deep([&] { out = LineMatchesImpl(lines, line); });
    return out;
}

std::optional<TSearchMatch> TMemoSearch::Find(const TCodeMemoStrings& lines, TMemoPos from, bool forward,
                                              bool wrap, bool* wrapped) const {
    std::optional<TSearchMatch> out;
    Deep([&] { out = FindImpl(lines, from, forward, wrap, wrapped); });
    return out;
}

int TMemoSearch::CountAll(const TCodeMemoStrings& lines) const {
    int out = 0;
    Deep([&] { out = CountAllImpl(lines); });
    return out;
}

bool TMemoSearch::IsMatch(const TCodeMemoStrings& lines, TSearchMatch m) const {
    bool out = false;
    Deep([&] { out = IsMatchImpl(lines, m); });
    return out;
}

bool TMemoSearch::SetPattern(const std::string& pattern, TSearchOptions options) {
    FValid = false;
    FError.clear();
    FPattern = pattern;
    FOptions = options;
    FMultiline = false;
    if (pattern.empty()) return false;
    if (!options.Regex) {
        FFolded = options.MatchCase ? pattern : Fold(pattern);
        FValid = true;
        return true;
    }
    FMultiline = pattern.find_first_of("\r\n") != std::string::npos ||
                 pattern.find("\\n") != std::string::npos || pattern.find("\\r") != std::string::npos;
    auto flags = std::regex::ECMAScript;
    if (!options.MatchCase) flags |= std::regex::icase;
    if (FMultiline) flags |= std::regex::multiline; // ^ and $ still mean a line's start and end
    try {
        FRegex = std::regex(pattern, flags);
    } catch (const std::regex_error& e) {
        FError = std::string("Invalid regular expression: ") + e.what();
        return false;
    }
    FValid = true;
    return true;
}

bool TMemoSearch::WordBounded(const std::string& s, std::size_t start, std::size_t end) const {
    if (!FOptions.WholeWord) return true;
    if (start > 0 && IsWordByte(static_cast<unsigned char>(s[start - 1]))) return false;
    if (end < s.size() && IsWordByte(static_cast<unsigned char>(s[end]))) return false;
    return true;
}

void TMemoSearch::Scan(const std::string& s, std::size_t from,
                       const std::function<bool(const TByteMatch&)>& sink) const {
    if (!FValid) return;
    if (!FOptions.Regex) {
        const std::string folded = FOptions.MatchCase ? std::string() : Fold(s);
        const std::string& hay = FOptions.MatchCase ? s : folded;
        std::size_t pos = from;
        while (pos <= hay.size()) {
            std::size_t at = hay.find(FFolded, pos);
            if (at == std::string::npos) return;
            std::size_t end = at + FFolded.size();
            if (WordBounded(s, at, end)) {
                if (!sink({at, end, {}})) return;
                pos = end;
            } else {
                pos = at + 1;
            }
        }
        return;
    }
    if (s.size() > tRegexMaxBytes) {
        FSkippedLong = true;
        return;
    }
    std::size_t pos = from;
    while (pos <= s.size()) {
        auto flags = std::regex_constants::match_not_null;
        if (pos > 0) flags |= std::regex_constants::match_prev_avail;
        std::smatch m;
        if (!std::regex_search(s.begin() + static_cast<std::ptrdiff_t>(pos), s.end(), m, FRegex, flags))
            return;
        std::size_t at = static_cast<std::size_t>(m[0].first - s.begin());
        std::size_t end = static_cast<std::size_t>(m[0].second - s.begin());
        if (WordBounded(s, at, end)) {
            if (!sink({at, end, m})) return;
            pos = end;
        } else {
            pos = at + 1;
        }
    }
}

std::string TMemoSearch::Expand(const TByteMatch& m, const std::string& replacement) const {
    if (!FOptions.Regex) return replacement;
    return m.Groups.format(replacement);
}

std::vector<std::pair<int, int>> TMemoSearch::LineMatchesImpl(const TCodeMemoStrings& lines, int line) const {
    std::vector<std::pair<int, int>> out;
    if (line < 0 || line >= lines.Count()) return out;
    const std::string& s = lines[line];
    Scan(s, 0, [&](const TByteMatch& m) {
        out.emplace_back(ColOf(s, m.Start), ColOf(s, m.End));
        return true;
    });
    return out;
}

std::optional<TSearchMatch> TMemoSearch::FindImpl(const TCodeMemoStrings& lines, TMemoPos from, bool forward,
                                                  bool wrap, bool* wrapped) const {
    if (wrapped) *wrapped = false;
    if (!FValid || lines.Count() == 0) return std::nullopt;
    from.Line = std::clamp(from.Line, 0, lines.Count() - 1);

    if (FMultiline) {
        TJoined j(lines);
        const std::size_t off = j.Offset(lines, from);
        std::optional<std::pair<std::size_t, std::size_t>> hit, last;
        if (forward) {
            Scan(j.Text, off, [&](const TByteMatch& m) {
                hit = {m.Start, m.End};
                return false;
            });
            if (!hit && wrap) {
                Scan(j.Text, 0, [&](const TByteMatch& m) {
                    hit = {m.Start, m.End};
                    return false;
                });
                if (hit && wrapped) *wrapped = true;
            }
        } else {
            Scan(j.Text, 0, [&](const TByteMatch& m) {
                if (m.Start < off) hit = {m.Start, m.End};
                last = {m.Start, m.End};
                return true;
            });
            if (!hit && wrap && last) {
                hit = last;
                if (wrapped) *wrapped = true;
            }
        }
        if (!hit) return std::nullopt;
        return TSearchMatch{j.Pos(lines, hit->first), j.Pos(lines, hit->second)};
    }

    const int n = lines.Count();
    auto firstIn = [&](int line, std::size_t fromByte) -> std::optional<TSearchMatch> {
        const std::string& s = lines[line];
        std::optional<TSearchMatch> r;
        Scan(s, fromByte, [&](const TByteMatch& m) {
            r = TSearchMatch{{ColOf(s, m.Start), line}, {ColOf(s, m.End), line}};
            return false;
        });
        return r;
    };
    auto lastIn = [&](int line, std::size_t beforeByte) -> std::optional<TSearchMatch> {
        const std::string& s = lines[line];
        std::optional<TSearchMatch> r;
        Scan(s, 0, [&](const TByteMatch& m) {
            if (m.Start >= beforeByte) return false;
            r = TSearchMatch{{ColOf(s, m.Start), line}, {ColOf(s, m.End), line}};
            return true;
        });
        return r;
    };
    if (forward) {
        if (auto r = firstIn(from.Line, ByteOf(lines[from.Line], from.Col))) return r;
        for (int i = from.Line + 1; i < n; ++i)
            if (auto r = firstIn(i, 0)) return r;
        if (!wrap) return std::nullopt;
        for (int i = 0; i <= from.Line; ++i)
            if (auto r = firstIn(i, 0)) {
                if (wrapped) *wrapped = true;
                return r;
            }
        return std::nullopt;
    }
    if (auto r = lastIn(from.Line, ByteOf(lines[from.Line], from.Col))) return r;
    for (int i = from.Line - 1; i >= 0; --i)
        if (auto r = lastIn(i, std::string::npos)) return r;
    if (!wrap) return std::nullopt;
    for (int i = n - 1; i >= from.Line; --i)
        if (auto r = lastIn(i, std::string::npos)) {
            if (wrapped) *wrapped = true;
            return r;
        }
    return std::nullopt;
}

int TMemoSearch::CountAllImpl(const TCodeMemoStrings& lines) const {
    int count = 0;
    auto sink = [&](const TByteMatch&) {
        ++count;
        return true;
    };
    if (FMultiline) {
        TJoined j(lines);
        Scan(j.Text, 0, sink);
    } else {
        for (int i = 0; i < lines.Count(); ++i) Scan(lines[i], 0, sink);
    }
    return count;
}

bool TMemoSearch::IsMatchImpl(const TCodeMemoStrings& lines, TSearchMatch m) const {
    if (!FValid || lines.Count() == 0 || !(m.Start < m.End)) return false;
    auto exact = [&](const std::string& s, std::size_t start, std::size_t end) {
        bool found = false;
        Scan(s, start, [&](const TByteMatch& b) {
            found = b.Start == start && b.End == end;
            return false;
        });
        return found;
    };
    if (FMultiline) {
        TJoined j(lines);
        return exact(j.Text, j.Offset(lines, m.Start), j.Offset(lines, m.End));
    }
    if (m.Start.Line != m.End.Line || m.Start.Line < 0 || m.Start.Line >= lines.Count()) return false;
    const std::string& s = lines[m.Start.Line];
    return exact(s, ByteOf(s, m.Start.Col), ByteOf(s, m.End.Col));
}

bool TMemoSearch::ReplaceCurrent(TCodeMemoModel& model, const std::string& replacement) const {
    const TCodeMemoStrings& lines = model.Lines();
    const TMemoPos a = std::min(model.SelStart(), model.SelEnd()),
                   b = std::max(model.SelStart(), model.SelEnd());
    bool replaced = false;
    TMemoPos next = model.Caret();
    std::string expansion;
    bool match = false;
    Deep([&] {
        if (model.ReadOnly || !model.HasSelection() || !IsMatchImpl(lines, {a, b})) return;
        match = true;
        // Expand the groups from the match as the search sees it: the joined text or the line.
        if (FMultiline) {
            TJoined j(lines);
            Scan(j.Text, j.Offset(lines, a), [&](const TByteMatch& m) {
                expansion = Expand(m, replacement);
                return false;
            });
        } else {
            const std::string& s = lines[a.Line];
            Scan(s, ByteOf(s, a.Col), [&](const TByteMatch& m) {
                expansion = Expand(m, replacement);
                return false;
            });
        }
    });
    if (match) {
        const std::string head = lines[a.Line].substr(0, ByteOf(lines[a.Line], a.Col));
        const std::string tail = lines[b.Line].substr(ByteOf(lines[b.Line], b.Col));
        TReplaceLinesUndo::TChunk chunk{a.Line, JoinCrLf(lines, a.Line, b.Line), head + expansion + tail};
        next = TextEndPos({0, a.Line}, head + expansion);
        model.ReplaceLineChunks({std::move(chunk)}, next);
        replaced = true;
    }
    bool wrapped = false;
    if (auto m = Find(model.Lines(), next, true, true, &wrapped)) model.SetSelection(m->Start, m->End);
    model.ScrollToCaret();
    return replaced;
}

int TMemoSearch::ReplaceAll(TCodeMemoModel& model, const std::string& replacement) const {
    if (!FValid || model.ReadOnly) return 0;
    const TCodeMemoStrings& lines = model.Lines();
    std::vector<TReplaceLinesUndo::TChunk> chunks;
    int count = 0;
    Deep([&] { CollectReplacements(lines, replacement, chunks, count); });
    if (count == 0) return 0;
    const int caretLine = chunks.front().Line;
    model.ReplaceLineChunks(std::move(chunks), {0, caretLine});
    model.ScrollToCaret();
    return count;
}

void TMemoSearch::CollectReplacements(const TCodeMemoStrings& lines, const std::string& replacement,
                                      std::vector<TReplaceLinesUndo::TChunk>& chunks, int& count) const {
    if (FMultiline) {
        TJoined j(lines);
        std::string out;
        std::size_t copied = 0, first = std::string::npos, last = 0;
        Scan(j.Text, 0, [&](const TByteMatch& m) {
            if (first == std::string::npos) first = m.Start;
            out.append(j.Text, copied, m.Start - copied);
            out += Expand(m, replacement);
            copied = m.End;
            last = m.End;
            ++count;
            return true;
        });
        if (count == 0) return;
        const TMemoPos p1 = j.Pos(lines, first), p2 = j.Pos(lines, last);
        const std::size_t rangeStart = j.Starts[static_cast<std::size_t>(p1.Line)];
        const std::size_t rangeEnd = j.Starts[static_cast<std::size_t>(p2.Line)] + lines[p2.Line].size();
        out.append(j.Text, copied, rangeEnd - copied);
        chunks.push_back({p1.Line, JoinCrLf(lines, p1.Line, p2.Line), out.substr(rangeStart)});
    } else {
        int delta = 0; // lines the chunks so far added (replacements may hold line breaks)
        for (int i = 0; i < lines.Count(); ++i) {
            const std::string& s = lines[i];
            std::string out;
            std::size_t copied = 0;
            int here = 0;
            Scan(s, 0, [&](const TByteMatch& m) {
                out.append(s, copied, m.Start - copied);
                out += Expand(m, replacement);
                copied = m.End;
                ++here;
                return true;
            });
            if (here == 0) continue;
            out.append(s, copied, std::string::npos);
            count += here;
            const int added = BreakCount(out);
            chunks.push_back({i + delta, s, std::move(out)});
            delta += added;
        }
    }
}

bool GotoLine(TCodeMemoModel& model, int lineNumber) {
    if (lineNumber < 1 || lineNumber > model.Lines().Count()) return false;
    model.ClearSelection();
    model.SetCaret(0, lineNumber - 1);
    model.ScrollToCaret();
    return true;
}
