// INI text from arbitrary bytes: lookups never fail, and a value written can be read back (trimmed,
// as every value is) while another section's value stays as it was.
#include "conveniences/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::string section = in.ConsumeRandomLengthString(16);
    std::string key = in.ConsumeRandomLengthString(16);
    std::string value = in.ConsumeRandomLengthString(64);
    std::string text = in.ConsumeRemainingBytesAsString();

    IniReadInteger(text, section, key, 0);
    if (!IniCanWrite(section, key, value)) return 0;
    const std::string other = "Other Section Of Its Own";
    std::string_view trimmed = TrimBlanks(section);
    if (trimmed.size() == other.size() &&
        std::equal(trimmed.begin(), trimmed.end(), other.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(b);
        }))
        return 0; // the same section, names compare without case
    std::string before = IniReadString(text, other, key, "\x01");
    std::string written = IniWriteString(text, section, key, value);
    if (IniReadString(written, section, key, "\x01") != TrimBlanks(value)) __builtin_trap();
    if (IniReadString(written, other, key, "\x01") != before) __builtin_trap();
    return 0;
}
