// Decoding and encoding of documents: UTF-8 when valid, else a lossless Windows-1252 round trip.
#include "editor/TextEncoding.h"
#include "editor/CodeMemoStrings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("varnello_enc_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(TextEncoding, Utf8Validation) {
    EXPECT_TRUE(IsValidUtf8("plain ascii, long enough to take the eight-byte path"));
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));          // Windows-1252 e acute
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // beyond U+10FFFF
    EXPECT_FALSE(IsValidUtf8("abc\xE2\x82"));      // cut short at the end
    EXPECT_FALSE(IsValidUtf8("\x80"));             // stray continuation byte
}

TEST(TextEncoding, EveryWindows1252ByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    TDecodedText d = DecodeText(all);
    EXPECT_EQ(d.Encoding, TTextEncoding::teWindows1252);
    EXPECT_TRUE(IsValidUtf8(d.Text));
    EXPECT_EQ(Utf8CharCount(d.Text), 256u);
    EXPECT_EQ(EncodeText(d.Text, TTextEncoding::teWindows1252), all);
    // The euro sign is 0x80 in the code page; a character the code page lacks cannot be written.
    EXPECT_EQ(EncodeText("\xE2\x82\xAC", TTextEncoding::teWindows1252), "\x80");
    EXPECT_THROW(EncodeText("\xE4\xB8\xAD", TTextEncoding::teWindows1252), ETextEncodingError);
}

TEST(TextEncoding, ColumnHelpersCountCharacters) {
    std::string s = "a\xC3\xA9\xE2\x82\xAC"
                    "b"; // a é € b
    EXPECT_EQ(Utf8CharCount(s), 4u);
    EXPECT_EQ(Utf8ByteOffset(s, 2), 3u);
    EXPECT_EQ(Utf8ByteOffset(s, 9), s.size());
    EXPECT_EQ(Utf8Mid(s, 1, 2), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(Utf8CharAt(s, 3), U'\u20AC');
    EXPECT_EQ(U32ToUtf8(Utf8ToU32(s)), s);
}

TEST(TextEncoding, FilesGoBackInTheEncodingTheyCameIn) {
    // A Windows-1252 file, including bytes that are invalid UTF-8 sequences, saved unchanged.
    std::string path = TempPath("cp1252.txt");
    std::string bytes = "caf\xE9 \x80 \x81\x8D\x8F\x90\x9D \xFF\r\n\xC3(\r\n";
    WriteFile(path, bytes);
    TCodeMemoStrings lines;
    lines.LoadFromFile(path);
    EXPECT_EQ(lines.Encoding, TTextEncoding::teWindows1252);
    ASSERT_EQ(lines.Count(), 2);
    EXPECT_EQ(lines.Length(0), 14);
    EXPECT_EQ(lines[0].substr(0, 5), "caf\xC3\xA9");
    lines.SaveToFile(path);
    EXPECT_EQ(ReadFile(path), bytes);
    // An edit with a code-page character keeps the rest byte for byte.
    lines.Put(1, lines[1] + "\xE2\x82\xAC");
    lines.SaveToFile(path);
    EXPECT_EQ(ReadFile(path), "caf\xE9 \x80 \x81\x8D\x8F\x90\x9D \xFF\r\n\xC3(\x80\r\n");
    // A character the code page lacks: refused, and the file is not touched.
    lines.Put(0, "\xE4\xB8\xAD");
    try {
        lines.SaveToFile(path);
        ADD_FAILURE() << "saved a character Windows-1252 has no byte for";
    } catch (const ETextEncodingError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Line 1: ", 0), 0u) << e.what();
    }
    EXPECT_EQ(ReadFile(path), "caf\xE9 \x80 \x81\x8D\x8F\x90\x9D \xFF\r\n\xC3(\x80\r\n");

    // UTF-8 with a byte-order mark keeps it, and its LF breaks and missing final break.
    WriteFile(path, "\xEF\xBB\xBFna\xC3\xAFve\nx");
    lines.LoadFromFile(path);
    EXPECT_EQ(lines.Encoding, TTextEncoding::teUtf8);
    EXPECT_EQ(lines[0], "na\xC3\xAFve");
    EXPECT_EQ(lines.Length(0), 5);
    lines.SaveToFile(path);
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBFna\xC3\xAFve\nx");
    std::remove(path.c_str());
}
