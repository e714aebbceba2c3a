// Text encoding of edited documents. A file is read as UTF-8 when its bytes are valid UTF-8,
// else as Windows-1252; the editor keeps every line as UTF-8 and writes it back in the encoding
// it came in. The Windows-1252 mapping is total in both directions (the five unassigned bytes map
// to the C1 controls of the same value), so a file that is not UTF-8 goes out byte for byte as it
// came in wherever the user did not type. Columns count characters (code points), not bytes: the
// helpers below convert between the two.
#pragma once

#include "VarnelloError.h"

#include <cstddef>
#include <string>
#include <string_view>

enum class TTextEncoding { teUtf8, teWindows1252 };

// Raised when a text cannot be written in the document's encoding (a character typed or pasted
// into a Windows-1252 document that the code page has no byte for).
class ETextEncodingError : public EVarnelloError {
public:
    using EVarnelloError::EVarnelloError;
};

struct TDecodedText {
    std::string Text; // UTF-8
    TTextEncoding Encoding = TTextEncoding::teUtf8;
    bool Bom = false; // a UTF-8 byte-order mark was present (and is not part of Text)
};

bool IsValidUtf8(std::string_view bytes);

// UTF-8 when valid (a leading byte-order mark is taken off and remembered), else Windows-1252.
TDecodedText DecodeText(std::string_view bytes);

// Inverse of DecodeText for one piece of text. REQUIRES: utf8 is valid UTF-8.
// Throws ETextEncodingError for a character Windows-1252 has no byte for.
std::string EncodeText(std::string_view utf8, TTextEncoding encoding);

std::string Windows1252ToUtf8(std::string_view bytes);

// Code-point helpers. REQUIRES: valid UTF-8 (the line list guarantees it); on other input they
// still never read past the end.
std::size_t Utf8CharCount(std::string_view s);
// Byte offset of character column col; the string's size when col is at or beyond its end.
std::size_t Utf8ByteOffset(std::string_view s, std::size_t col);
// The code point starting at byte offset pos (0 at the end).
char32_t Utf8CharAt(std::string_view s, std::size_t pos);
// The characters [col, col + count) of s; clamped to the string.
std::string Utf8Mid(std::string_view s, std::size_t col, std::size_t count = std::string::npos);
// The single character at column col as UTF-8 ("" beyond the end).
std::string Utf8CharStrAt(std::string_view s, std::size_t col);
void AppendUtf8(std::string& out, char32_t c);
std::u32string Utf8ToU32(std::string_view s);
std::string U32ToUtf8(std::u32string_view s);
