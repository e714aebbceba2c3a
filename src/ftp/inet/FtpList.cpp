// Listing parsers; see FtpList.h.
#include "ftp/inet/FtpList.h"

#include <cstring>
#include <string>

namespace {

constexpr std::int64_t SecondsFrom1601To1970 = 11644473600LL;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// A decimal number of up to 19 digits (fits 64 bits).
bool ParseNumber(std::string_view s, std::uint64_t& value) {
    if (s.empty() || s.size() > 19) return false;
    value = 0;
    for (char c : s) {
        if (!IsDigit(c)) return false;
        value = value * 10 + std::uint64_t(c - '0');
    }
    return true;
}

int Digits(std::string_view s, std::size_t pos, std::size_t count) {
    int v = 0;
    for (std::size_t i = pos; i < pos + count; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!IsDigit(c)) return false;
    return true;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int MonthIndex(std::string_view s) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (EqualNoCase(s, names[i])) return i + 1;
    return 0;
}

void SetSize(TWin32FindData& out, std::uint64_t size) {
    out.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    out.nFileSizeLow = static_cast<DWORD>(size);
}

bool SetName(TWin32FindData& out, std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return false;
    if (name.size() >= MAX_PATH) {
        out.dwReserved1 = FTP_RECORD_NAME_TOO_LONG;
        return false;
    }
    std::memcpy(out.cFileName, name.data(), name.size());
    out.cFileName[name.size()] = '\0';
    return true;
}

struct TToken {
    std::string_view Text;
    std::size_t End; // offset just past the token in the line
};

std::vector<TToken> Tokens(std::string_view line, std::size_t max) {
    std::vector<TToken> tokens;
    std::size_t i = 0;
    while (i < line.size() && tokens.size() < max) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t b = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > b) tokens.push_back({line.substr(b, i - b), i});
    }
    return tokens;
}

bool IsPermissions(std::string_view s) {
    if (s.size() < 10) return false;
    if (std::string_view("-dlbcpsD").find(s[0]) == std::string_view::npos) return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (std::string_view("rwxsStTlL-").find(s[i]) == std::string_view::npos) return false;
    return true;
}

// "HH:MM" -> hour and minute.
bool ParseClock(std::string_view s, int& hour, int& minute) {
    std::size_t colon = s.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || s.size() != colon + 3) return false;
    if (!AllDigits(s.substr(0, colon)) || !AllDigits(s.substr(colon + 1))) return false;
    hour = Digits(s, 0, colon);
    minute = Digits(s, colon + 1, 2);
    return hour < 24 && minute < 60;
}

} // namespace

bool CivilToFileTime(int year, int month, int day, int hour, int minute, int second, TFileTime& out) {
    if (year < 1601 || year > 30000 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return false;
    std::int64_t secs = DaysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 +
                        minute * 60 + second + SecondsFrom1601To1970;
    std::uint64_t ticks = std::uint64_t(secs) * 10000000ULL;
    out.dwLowDateTime = static_cast<DWORD>(ticks);
    out.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

bool ParseFactTime(std::string_view value, TFileTime& out) {
    if (value.size() < 14 || !AllDigits(value.substr(0, 14))) return false;
    return CivilToFileTime(Digits(value, 0, 4), Digits(value, 4, 2), Digits(value, 6, 2), Digits(value, 8, 2),
                           Digits(value, 10, 2), Digits(value, 12, 2), out);
}

bool ParseMlsdLine(std::string_view line, TWin32FindData& out) {
    std::memset(&out, 0, sizeof out);
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view facts = line.substr(0, space);
    std::string_view name = line.substr(space + 1);
    out.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    while (!facts.empty()) {
        std::size_t semi = facts.find(';');
        std::string_view fact = facts.substr(0, semi);
        facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
        std::size_t eq = fact.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = fact.substr(0, eq), value = fact.substr(eq + 1);
        if (EqualNoCase(key, "type")) {
            if (EqualNoCase(value, "dir"))
                out.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
            else if (EqualNoCase(value, "cdir") || EqualNoCase(value, "pdir"))
                return false; // the listed folder itself and its parent: not entries of it
        } else if (EqualNoCase(key, "size") || EqualNoCase(key, "sizd")) {
            std::uint64_t size;
            if (ParseNumber(value, size)) SetSize(out, size);
        } else if (EqualNoCase(key, "modify")) {
            ParseFactTime(value, out.ftLastWriteTime);
        }
    }
    return SetName(out, name);
}

bool ParseUnixListLine(std::string_view line, std::time_t now, TWin32FindData& out) {
    std::memset(&out, 0, sizeof out);
    std::vector<TToken> t = Tokens(line, 9);
    if (t.size() < 6 || !IsPermissions(t[0].Text)) return false;
    // Owner and group columns vary (one, two or none), so find the date: month, day, then a
    // clock or a year, with the size right before it.
    for (std::size_t m = 3; m + 2 < t.size() && m <= 5; ++m) {
        int month = MonthIndex(t[m].Text);
        if (month == 0 || !AllDigits(t[m + 1].Text) || t[m + 1].Text.size() > 2) continue;
        int day = Digits(t[m + 1].Text, 0, t[m + 1].Text.size());
        std::uint64_t size;
        if (!ParseNumber(t[m - 1].Text, size)) continue;
        int hour = 0, minute = 0, year = 0;
        std::string_view when = t[m + 2].Text;
        bool hasClock = ParseClock(when, hour, minute);
        if (!hasClock) {
            if (when.size() != 4 || !AllDigits(when)) continue;
            year = Digits(when, 0, 4);
        } else {
            std::tm utc{};
            gmtime_r(&now, &utc);
            year = utc.tm_year + 1900;
            TFileTime candidate, limit;
            std::time_t tomorrow = now + 86400;
            std::tm lim{};
            gmtime_r(&tomorrow, &lim);
            if (CivilToFileTime(year, month, day, hour, minute, 0, candidate) &&
                CivilToFileTime(lim.tm_year + 1900, lim.tm_mon + 1, lim.tm_mday, lim.tm_hour, lim.tm_min, 0,
                                limit) &&
                FileTimeValue(candidate) > FileTimeValue(limit))
                --year;
        }
        if (!CivilToFileTime(year, month, day, hour, minute, 0, out.ftLastWriteTime)) continue;
        // The name begins after the single blank that follows the date, so names that begin
        // with blanks keep them.
        std::size_t start = t[m + 2].End + 1;
        if (start >= line.size()) return false;
        std::string_view name = line.substr(start);
        if (t[0].Text[0] == 'l') {
            std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos) name = name.substr(0, arrow);
        }
        out.dwFileAttributes = t[0].Text[0] == 'd' ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        SetSize(out, out.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? 0 : size);
        return SetName(out, name);
    }
    return false;
}

bool ParseDosListLine(std::string_view line, TWin32FindData& out) {
    std::memset(&out, 0, sizeof out);
    std::vector<TToken> t = Tokens(line, 3);
    if (t.size() < 3) return false;
    // MM-DD-YY or MM-DD-YYYY
    std::string_view date = t[0].Text;
    if ((date.size() != 8 && date.size() != 10) || (date[2] != '-' && date[2] != '/') || date[5] != date[2] ||
        !AllDigits(date.substr(0, 2)) || !AllDigits(date.substr(3, 2)) || !AllDigits(date.substr(6)))
        return false;
    int month = Digits(date, 0, 2), day = Digits(date, 3, 2);
    int year = Digits(date, 6, date.size() - 6);
    if (date.size() == 8) year += year < 70 ? 2000 : 1900;
    std::string_view clock = t[1].Text;
    int hour, minute;
    bool pm = false, am = false;
    if (clock.size() >= 2 && (EqualNoCase(clock.substr(clock.size() - 2), "PM") ||
                              EqualNoCase(clock.substr(clock.size() - 2), "AM"))) {
        pm = Lower(clock[clock.size() - 2]) == 'p';
        am = !pm;
        clock.remove_suffix(2);
    }
    if (!ParseClock(clock, hour, minute)) return false;
    if (am || pm) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (!CivilToFileTime(year, month, day, hour, minute, 0, out.ftLastWriteTime)) return false;
    std::string_view kind = t[2].Text;
    if (kind == "<DIR>") {
        out.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else {
        std::uint64_t size;
        if (!ParseNumber(kind, size)) return false;
        out.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetSize(out, size);
    }
    std::size_t start = t[2].End;
    while (start < line.size() && line[start] == ' ') ++start;
    return SetName(out, line.substr(start));
}

bool ParseListLine(std::string_view line, std::time_t now, TWin32FindData& out) {
    if (ParseUnixListLine(line, now, out)) return true;
    const bool longName = out.dwReserved1 == FTP_RECORD_NAME_TOO_LONG;
    if (ParseDosListLine(line, out)) return true;
    if (longName) out.dwReserved1 = FTP_RECORD_NAME_TOO_LONG;
    return false;
}

std::vector<TWin32FindData> ParseListing(std::string_view data, bool mlsd, std::time_t now,
                                         std::size_t maxEntries, std::size_t* longNames) {
    std::vector<TWin32FindData> records;
    std::size_t start = 0;
    while (start < data.size() && records.size() <= maxEntries) {
        std::size_t nl = data.find('\n', start);
        std::string_view line =
            data.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        TWin32FindData record;
        if (mlsd ? ParseMlsdLine(line, record) : ParseListLine(line, now, record))
            records.push_back(record);
        else if (longNames && record.dwReserved1 == FTP_RECORD_NAME_TOO_LONG)
            ++*longNames;
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return records;
}
