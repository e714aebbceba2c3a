// UTF-8 validation and the lossless Windows-1252 mapping behind the editor's load and save.
#include "editor/TextEncoding.h"

#include <cstdint>

namespace {

// 0x80..0x9F of Windows-1252; the five unassigned bytes keep their own value as C1 controls.
const char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsCont(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the UTF-8 sequence starting at lead byte c (1 for a stray byte).
std::size_t SeqLen(unsigned char c) {
    if (c < 0xC0) return 1;
    if (c < 0xE0) return 2;
    if (c < 0xF0) return 3;
    return 4;
}

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size(), i = 0;
    while (i < n) {
        // ASCII runs are the common case: test eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t w;
            __builtin_memcpy(&w, p + i, 8);
            if (w & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if (!IsCont(p[i + k])) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            AppendUtf8(out, kHigh1252[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

TDecodedText DecodeText(std::string_view bytes) {
    TDecodedText result;
    if (IsValidUtf8(bytes)) {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            result.Bom = true;
            bytes.remove_prefix(3);
        }
        result.Text.assign(bytes);
        result.Encoding = TTextEncoding::teUtf8;
    } else {
        result.Text = Windows1252ToUtf8(bytes);
        result.Encoding = TTextEncoding::teWindows1252;
    }
    return result;
}

std::string EncodeText(std::string_view utf8, TTextEncoding encoding) {
    if (encoding == TTextEncoding::teUtf8) return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        char32_t cp = Utf8CharAt(utf8, i);
        i += SeqLen(c);
        if (cp >= 0xA0 && cp <= 0xFF) {
            out += static_cast<char>(cp);
            continue;
        }
        int found = -1;
        for (int k = 0; k < 32; ++k)
            if (kHigh1252[k] == cp) found = k;
        if (found < 0)
            throw ETextEncodingError("The character U+" + [cp] {
                static const char* hex = "0123456789ABCDEF";
                std::string h;
                for (int shift = (cp > 0xFFFF ? 20 : 12); shift >= 0; shift -= 4)
                    h += hex[(cp >> shift) & 0xF];
                return h;
            }() + " cannot be saved in the file's encoding (Windows-1252)");
        out += static_cast<char>(0x80 + found);
    }
    return out;
}

std::size_t Utf8CharCount(std::string_view s) {
    std::size_t count = 0;
    for (char c : s)
        if (!IsCont(static_cast<unsigned char>(c))) ++count;
    return count;
}

std::size_t Utf8ByteOffset(std::string_view s, std::size_t col) {
    std::size_t i = 0;
    while (col > 0 && i < s.size()) {
        std::size_t len = SeqLen(static_cast<unsigned char>(s[i]));
        i += len <= s.size() - i ? len : s.size() - i;
        --col;
    }
    return i;
}

char32_t Utf8CharAt(std::string_view s, std::size_t pos) {
    if (pos >= s.size()) return 0;
    auto c = static_cast<unsigned char>(s[pos]);
    std::size_t len = SeqLen(c);
    if (len == 1 || len > s.size() - pos) return c;
    char32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[pos + k]) & 0x3F);
    return cp;
}

std::string Utf8Mid(std::string_view s, std::size_t col, std::size_t count) {
    std::size_t from = Utf8ByteOffset(s, col);
    if (count == std::string::npos) return std::string(s.substr(from));
    std::size_t to = from + Utf8ByteOffset(s.substr(from), count);
    return std::string(s.substr(from, to - from));
}

std::string Utf8CharStrAt(std::string_view s, std::size_t col) {
    return Utf8Mid(s, col, 1);
}

std::u32string Utf8ToU32(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        out += Utf8CharAt(s, i);
        std::size_t len = SeqLen(static_cast<unsigned char>(s[i]));
        i += len <= s.size() - i ? len : s.size() - i;
    }
    return out;
}

std::string U32ToUtf8(std::u32string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t c : s) AppendUtf8(out, c);
    return out;
}
