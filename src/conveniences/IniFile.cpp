// INI reader and writer with the private-profile semantics. See IniFile.h.
#include "conveniences/IniFile.h"

#include "base/FileIO.h"

#include <climits>
#include <optional>
#include <vector>

namespace {

// The recent-files list is a few lines; a larger file is read as empty and never rewritten.
constexpr std::size_t kMaxIniBytes = 16u << 20;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

struct TIniLines {
    std::vector<std::string_view> Lines;
    std::string_view Eol = "\r\n"; // the file's own line end, CR LF for a new file
};

TIniLines SplitLines(std::string_view text) {
    TIniLines out;
    bool eolSeen = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            out.Lines.push_back(text.substr(start));
            break;
        }
        out.Lines.push_back(text.substr(start, end - start));
        size_t eolLen = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        if (!eolSeen) {
            out.Eol = text.substr(end, eolLen);
            eolSeen = true;
        }
        start = end + eolLen;
    }
    return out;
}

// The section name of a "[name]" line (a missing "]" closes at the line's end).
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

struct TKeyLine {
    std::string_view Key;
    std::string_view Value;
};

std::optional<TKeyLine> KeyLine(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == ';') return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return TKeyLine{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

// Where a key lives in the first matching section.
struct TKeyPlace {
    std::optional<size_t> SectionLine;
    size_t LastContentLine = 0; // last non-blank line of the section, the header included
    std::optional<size_t> KeyLine;
    std::string_view Value;
};

TKeyPlace FindKey(const std::vector<std::string_view>& lines, std::string_view section,
                  std::string_view key) {
    section = Trim(section); // as the file's names are read
    key = Trim(key);
    TKeyPlace place;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i])) {
            if (place.SectionLine) break; // only the first matching section counts
            if (SameName(*name, section)) place.SectionLine = place.LastContentLine = i;
            continue;
        }
        if (!place.SectionLine) continue;
        if (!Trim(lines[i]).empty()) place.LastContentLine = i;
        if (auto kv = KeyLine(lines[i]); kv && SameName(kv->Key, key)) {
            place.KeyLine = i;
            place.Value = kv->Value;
            break;
        }
    }
    return place;
}

} // namespace

std::string IniReadString(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
    TIniLines lines = SplitLines(text);
    TKeyPlace place = FindKey(lines.Lines, section, key);
    return std::string(place.KeyLine ? place.Value : defaultValue);
}

int IniReadInteger(std::string_view text, std::string_view section, std::string_view key, int defaultValue) {
    TIniLines lines = SplitLines(text);
    TKeyPlace place = FindKey(lines.Lines, section, key);
    if (!place.KeyLine) return defaultValue;
    std::string_view v = place.Value;
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    long long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) n = -n;
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

bool IniCanWrite(std::string_view section, std::string_view key, std::string_view value) {
    auto hasBreak = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
    if (hasBreak(section) || hasBreak(key) || hasBreak(value)) return false;
    if (section.find(']') != std::string_view::npos) return false;
    std::string_view k = Trim(key);
    return !k.empty() && k.find('=') == std::string_view::npos && k.front() != '[' && k.front() != ';';
}

std::string IniWriteString(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value) {
    TIniLines lines = SplitLines(text);
    TKeyPlace place = FindKey(lines.Lines, section, key);
    std::string keyLine = std::string(key) + "=" + std::string(value);
    std::string sectionLine = "[" + std::string(section) + "]";

    std::vector<std::string_view> out = lines.Lines;
    if (place.KeyLine) {
        out[*place.KeyLine] = keyLine;
    } else if (place.SectionLine) {
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(place.LastContentLine + 1), keyLine);
    } else {
        if (!out.empty() && !Trim(out.back()).empty()) out.push_back({});
        out.push_back(sectionLine);
        out.push_back(keyLine);
    }
    std::string result;
    for (std::string_view line : out) {
        result += line;
        result += lines.Eol;
    }
    return result;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    std::string text;
    ReadWholeFile(FFileName, text,
                  kMaxIniBytes); // an unreadable file reads as empty, as the profile calls do
    return IniReadString(text, section, key, defaultValue);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    std::string text;
    ReadWholeFile(FFileName, text, kMaxIniBytes);
    return IniReadInteger(text, section, key, defaultValue);
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (FFileName.empty() || !IniCanWrite(section, key, value)) return false;
    std::string text;
    // A file that exists but cannot be read is not replaced by one that lacks its other sections.
    TReadResult read = ReadWholeFile(FFileName, text, kMaxIniBytes);
    if (read == TReadResult::rrFailed || read == TReadResult::rrTooLarge) return false;
    return ReplaceFile(FFileName, IniWriteString(text, section, key, value), 0644);
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    return WriteString(section, key, std::to_string(value));
}
