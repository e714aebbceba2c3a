// Snippet-table loader: delimiter detection, field splitting and line reading. See ShortcutCsv.h.
#include "editor/ShortcutCsv.h"

#include "VarnelloError.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

// Runs of c of odd length, plus a run that ends the line whatever its length: a doubled delimiter
// inside a line reads as an escaped one, so it does not separate fields.
size_t DelimiterFieldCount(std::string_view line, char c) {
    size_t count = 0;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] != c) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < line.size() && line[j] == c) ++j;
        if ((j - i) % 2 == 1 || j == line.size()) ++count;
        i = j;
    }
    return count;
}

size_t PlainCount(std::string_view line, char c) {
    return static_cast<size_t>(std::count(line.begin(), line.end(), c));
}

// Index of the closing quote of a quoted field whose opening quote is already taken off: the last
// quote of the first odd-length run of quotes (the even runs before it are doubled quotes).
size_t ClosingQuote(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '"') {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < s.size() && s[j] == '"') ++j;
        if ((j - i) % 2 == 1) return j - 1;
        i = j;
    }
    return std::string_view::npos;
}

// "" becomes one quote, any other quote is dropped, a lone LF becomes CR LF.
std::string CleanField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        char ch = field[i];
        if (ch == '"') {
            if (i + 1 < field.size() && field[i + 1] == '"') {
                out += '"';
                ++i;
            }
        } else if (ch == '\n' && (i == 0 || field[i - 1] != '\r')) {
            out += "\r\n";
        } else {
            out += ch;
        }
    }
    return out;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    out.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return !std::ferror(f.get());
}

} // namespace

std::optional<char> DetectCsvDelimiter(std::string_view line1, std::string_view line2) {
    // 1 and 2: the largest count that is equal in both lines; an earlier candidate keeps a tie.
    for (auto count : {DelimiterFieldCount, PlainCount}) {
        std::optional<char> chosen;
        size_t best = 0;
        for (char c : CsvDelimiterCandidates) {
            size_t n1 = count(line1, c);
            if (n1 == count(line2, c) && n1 > best) {
                chosen = c;
                best = n1;
            }
        }
        if (chosen) return chosen;
    }
    // 3: the most frequent candidate in either line.
    std::optional<char> chosen;
    size_t best = 0;
    for (char c : CsvDelimiterCandidates) {
        size_t n = std::max(PlainCount(line1, c), PlainCount(line2, c));
        if (n > best) {
            chosen = c;
            best = n;
        }
    }
    return chosen;
}

TCsvRow SplitCsvLine(std::string_view line, std::optional<char> delimiter) {
    TCsvRow row;
    std::string_view s = line;
    if (delimiter) {
        const char d = *delimiter;
        while (s.find(d) != std::string_view::npos) {
            std::string_view field;
            size_t next;
            if (s.front() == '"') {
                s.remove_prefix(1);
                size_t close = ClosingQuote(s);
                if (close != std::string_view::npos) {
                    field = s.substr(0, close);
                    s.remove_prefix(close + 1);
                }
                // Whatever lies between the closing quote and the next delimiter is dropped; when no
                // delimiter follows, the rest becomes the last field below.
                next = s.find(d);
            } else {
                next = s.find(d);
                field = s.substr(0, next);
            }
            row.push_back(CleanField(field));
            if (next != std::string_view::npos) s.remove_prefix(next + 1);
        }
    }
    if (!s.empty()) {
        if (s.front() == '"') s.remove_prefix(1);
        if (!s.empty() && s.back() == '"') s.remove_suffix(1);
        row.push_back(CleanField(s));
    }
    return row;
}

std::vector<std::string_view> SplitCsvLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return lines;
}

TCsvTable ParseShortcutCsv(std::string_view text) {
    std::vector<std::string_view> lines = SplitCsvLines(text);
    std::optional<char> delimiter = DetectCsvDelimiter(lines.empty() ? std::string_view() : lines[0],
                                                       lines.size() < 2 ? std::string_view() : lines[1]);
    TCsvTable table;
    table.reserve(lines.size());
    for (std::string_view line : lines) table.push_back(SplitCsvLine(line, delimiter));
    return table;
}

TCsvTable LoadShortcutCsv(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) throw EVarnelloError("Cannot open file " + path);
    return ParseShortcutCsv(text);
}
