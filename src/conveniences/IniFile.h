// A small INI file reader and writer with the semantics of the Windows private-profile calls, so
// that files written by the program on either platform read the same way:
//   - "[Section]" lines open sections; "key=value" lines inside them hold values; ";" starts a comment;
//   - section and key names compare without regard to ASCII letter case; names and values are trimmed
//     of surrounding blanks on reading; there is no escaping and no quoting;
//   - the first matching section and the first matching key in it win;
//   - a write changes one line (or adds one) and leaves every other line of the file as it was, so
//     keys nobody writes any more stay in the file; the file is created on the first write.
// Every call reads the file afresh; writes go through a temporary file in the same folder that is
// renamed over the old one, so a failed write leaves the old file intact.
//
// Plain C++: the recent-files list uses it, and it is fuzzed without Qt.
#pragma once

#include <string>
#include <string_view>

// Value of key in section of the INI text, or defaultValue when there is no such key.
std::string IniReadString(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultValue);

// The leading decimal integer of key's value (optional blanks and sign, then digits; 0 when there
// are no digits, clamped to the int range), or defaultValue when there is no such key.
int IniReadInteger(std::string_view text, std::string_view section, std::string_view key, int defaultValue);

// True when section, key and value can be written without changing the file's structure: no line
// breaks anywhere, a non-empty key without "=" that does not start like a section or a comment,
// a section name without "]".
bool IniCanWrite(std::string_view section, std::string_view key, std::string_view value);

// text with key in section set to value: the first matching key line is replaced, else a line is
// added after the section's last non-blank line, else the section is appended at the end.
// REQUIRES: IniCanWrite(section, key, value).
std::string IniWriteString(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value);

class TIniFile {
public:
    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

    const std::string& FileName() const { return FFileName; }

    // A file that cannot be read reads as empty.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;

    // False when the file cannot be written (the old file is then unchanged) or when the names or
    // the value cannot be written (IniCanWrite).
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);

private:
    std::string FFileName;
};
