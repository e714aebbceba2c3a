// INI layer: lookups with the private-profile rules, writes that touch one line only, and a write
// that fails without harming the file.
#include "conveniences/IniFile.h"

#include "../common/FileSizeLimit.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

const char* const Sample = "; recent files\r\n"
                           "top=outside any section\r\n"
                           "[ MRU_Files_FormMain ]\r\n"
                           "  count = 2  \r\n"
                           ";File_0=commented out\r\n"
                           "File_0=/sites/b.vrnl\r\n"
                           "file_0=second spelling\r\n"
                           "File_1=\r\n"
                           "not a key line\r\n"
                           "\r\n"
                           "[mru_files_formmain]\r\n"
                           "Extra=in the duplicate section\r\n";

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(IniFileTest, LooksUpTrimmedNamesWithoutCaseInTheFirstMatchingSection) {
    const char* s = "MRU_Files_FormMain";
    EXPECT_EQ(IniReadString(Sample, " mru_files_FORMMAIN\t", "COUNT ", "-"), "2");
    EXPECT_EQ(IniReadString(Sample, s, "file_0", "-"), "/sites/b.vrnl");
    EXPECT_EQ(IniReadString(Sample, s, "File_1", "-"), ""); // present but empty: not the default
    EXPECT_EQ(IniReadString(Sample, s, "File_3", "-"), "-");
    EXPECT_EQ(IniReadString(Sample, s, "not a key line", "-"), "-");
    EXPECT_EQ(IniReadString(Sample, s, "Extra", "-"), "-"); // only the first section of that name
    EXPECT_EQ(IniReadString(Sample, s, "top", "-"), "-");   // lines before any section belong to none
    EXPECT_EQ(IniReadString("[S]\rk=a=b", "S", "K", "-"), "a=b");

    auto count = [](const char* value) {
        return IniReadInteger(std::string("[S]\nN=") + value, "S", "N", -7);
    };
    EXPECT_EQ(count("3 files"), 3);
    EXPECT_EQ(count("-4"), -4);
    EXPECT_EQ(count("abc"), 0);
    EXPECT_EQ(count("99999999999999999999"), 2147483647);
    EXPECT_EQ(IniReadInteger("[S]\n", "S", "N", -7), -7);
}

TEST(IniFileTest, WriteChangesOneLineAndLeavesTheRestAsItWas) {
    const std::string s = "MRU_Files_FormMain";
    std::string expected = Sample;
    expected.replace(expected.find("  count = 2  "), 13, "Count=1");
    EXPECT_EQ(IniWriteString(Sample, s, "Count", "1"), expected);

    expected = Sample; // a new key follows the section's last non-blank line
    expected.insert(expected.find("not a key line\r\n") + 16, "File_9=/x\r\n");
    EXPECT_EQ(IniWriteString(Sample, s, "File_9", "/x"), expected);

    EXPECT_EQ(IniWriteString("[A]\nk=v", "B", "Count", "0"), "[A]\nk=v\n\n[B]\nCount=0\n"); // LF stays LF
    EXPECT_EQ(IniWriteString("", "B", "k", "v"), "[B]\r\nk=v\r\n");

    EXPECT_TRUE(IniCanWrite("S", "File_0", "C:\\a b\\c=d;e[f].vrnl"));
    for (auto [section, key, value] : {std::tuple{"S", "File_0", "a\nb"},
                                       {"S", "File_0", "a\rb"},
                                       {"S]", "k", "v"},
                                       {"S", "k=1", "v"},
                                       {"S", " ", "v"},
                                       {"S", ";k", "v"},
                                       {"S", "[k", "v"}})
        EXPECT_FALSE(IniCanWrite(section, key, value)) << section << "/" << key << "/" << value;
}

TEST(IniFileTest, FileIsCreatedOnFirstWriteAndAFailedWriteLeavesItIntact) {
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("varnello.INI").toStdString());
    EXPECT_EQ(ini.ReadInteger("S", "Count", 5), 5); // no file yet
    ASSERT_TRUE(ini.WriteInteger("S", "Count", 2));
    ASSERT_TRUE(ini.WriteString("S", "File_0", "/a.vrnl"));
    const std::string before = ReadBytes(ini.FileName());
    EXPECT_EQ(before, "[S]\r\nCount=2\r\nFile_0=/a.vrnl\r\n");

    {
        TFileSizeLimit limit(4096);
        EXPECT_FALSE(ini.WriteString("S", "File_1", std::string(100000, 'x')));
    }
    EXPECT_FALSE(ini.WriteString("S", "File_2", "two\nlines"));
    EXPECT_EQ(ReadBytes(ini.FileName()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path().toStdString()), {}), 1);

    EXPECT_FALSE(TIniFile("").WriteString("S", "k", "v"));
    EXPECT_FALSE(TIniFile(dir.path().toStdString()).WriteString("S", "k", "v")); // a folder in the way
}
