// INI layer: lookups with the private-profile rules, writes that touch one line only, and a write
// that fails without harming the file.
#include "conveniences/IniFile.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const Sample = "; recent files\r\n"
                           "top=outside any section\r\n"
                           "[Other]\r\n"
                           "Count=9\r\n"
                           "\r\n"
                           "[ MRU_Files_FormMain ]\r\n"
                           "  count = 2  \r\n"
                           ";File_0=commented out\r\n"
                           "File_0=/sites/b.vrnl\r\n"
                           "file_0=second spelling\r\n"
                           "File_1=\r\n"
                           "File_2=/sites/stale.vrnl\r\n"
                           "not a key line\r\n"
                           "\r\n"
                           "[mru_files_formmain]\r\n"
                           "Extra=in the duplicate section\r\n";

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() / ("ini-test-" + std::to_string(::getpid()));
        fs::remove_all(FDir);
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }
    std::string PathOf(const std::string& name) const { return (FDir / name).string(); }
    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path FDir;
};

} // namespace

TEST_F(IniFileTest, LooksUpKeysWithoutCaseInTheFirstMatchingSection) {
    const char* s = "MRU_Files_FormMain";
    EXPECT_EQ(IniReadString(Sample, s, "COUNT", "-"), "2");
    EXPECT_EQ(IniReadString(Sample, " mru_files_FORMMAIN\t", " Count ", "-"), "2"); // names are trimmed
    EXPECT_EQ(IniReadString(Sample, "mru_files_formmain", "file_0", "-"), "/sites/b.vrnl");
    EXPECT_EQ(IniReadString(Sample, s, "File_1", "-"), ""); // present but empty: not the default
    EXPECT_EQ(IniReadString(Sample, s, "File_3", "-"), "-");
    EXPECT_EQ(IniReadString(Sample, s, "not a key line", "-"), "-");
    EXPECT_EQ(IniReadString(Sample, s, "Extra", "-"), "-"); // only the first section of that name
    EXPECT_EQ(IniReadString(Sample, s, "top", "-"), "-");   // lines before any section belong to none
    EXPECT_EQ(IniReadString(Sample, "Other", "Count", "-"), "9");
    EXPECT_EQ(IniReadString(Sample, "Missing", "Count", "-"), "-");
    EXPECT_EQ(IniReadString("[S]\nk=a=b\n", "S", "k", "-"), "a=b");
    EXPECT_EQ(IniReadString("[S]\rk=v", "S", "K", "-"), "v");
}

TEST_F(IniFileTest, ReadsTheLeadingIntegerOfAValue) {
    auto read = [](const char* value) {
        return IniReadInteger(std::string("[S]\nCount=") + value + "\n", "S", "Count", -7);
    };
    EXPECT_EQ(read("12"), 12);
    EXPECT_EQ(read("3 files"), 3);
    EXPECT_EQ(read("-4"), -4);
    EXPECT_EQ(read("abc"), 0);
    EXPECT_EQ(read(""), 0);
    EXPECT_EQ(read("99999999999999999999"), 2147483647);
    EXPECT_EQ(read("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(IniReadInteger("[S]\n", "S", "Count", -7), -7);
}

TEST_F(IniFileTest, WriteChangesOneLineAndLeavesTheRestAsItWas) {
    const std::string s = "MRU_Files_FormMain";
    // An existing key: only its line changes, written with the caller's spelling.
    std::string text = IniWriteString(Sample, s, "Count", "1");
    std::string expected = Sample;
    expected.replace(expected.find("  count = 2  "), 13, "Count=1");
    EXPECT_EQ(text, expected);

    // A new key goes after the section's last non-blank line, before the blank line.
    text = IniWriteString(Sample, s, "File_9", "/x");
    expected = Sample;
    expected.insert(expected.find("not a key line\r\n") + 16, "File_9=/x\r\n");
    EXPECT_EQ(text, expected);

    // A new section is appended; a file with LF line ends keeps them.
    EXPECT_EQ(IniWriteString("[A]\nk=v", "B", "Count", "0"), "[A]\nk=v\n\n[B]\nCount=0\n");
    EXPECT_EQ(IniWriteString("", "B", "k", "v"), "[B]\r\nk=v\r\n");
    EXPECT_EQ(IniWriteString("[B]\n", "b", "k", "v"), "[B]\nk=v\n");

    // What cannot be written without changing the file's structure is refused.
    EXPECT_TRUE(IniCanWrite("S", "File_0", "C:\\a b\\c=d;e[f].vrnl"));
    EXPECT_FALSE(IniCanWrite("S", "File_0", "a\nb"));
    EXPECT_FALSE(IniCanWrite("S", "File_0", "a\rb"));
    EXPECT_FALSE(IniCanWrite("S]", "k", "v"));
    EXPECT_FALSE(IniCanWrite("S", "k=1", "v"));
    EXPECT_FALSE(IniCanWrite("S", " ", "v"));
    EXPECT_FALSE(IniCanWrite("S", ";k", "v"));
}

TEST_F(IniFileTest, FileIsCreatedOnFirstWriteAndRereadOnEveryCall) {
    TIniFile ini(PathOf("varnello.INI"));
    EXPECT_EQ(ini.ReadInteger("S", "Count", 5), 5); // no file yet
    EXPECT_FALSE(fs::exists(ini.FileName()));
    ASSERT_TRUE(ini.WriteInteger("S", "Count", 2));
    ASSERT_TRUE(ini.WriteString("S", "File_0", "/a.vrnl"));
    EXPECT_EQ(ReadBytes(ini.FileName()), "[S]\r\nCount=2\r\nFile_0=/a.vrnl\r\n");

    std::ofstream(ini.FileName(), std::ios::app) << "File_1=/b.vrnl\r\n"; // changed behind its back
    EXPECT_EQ(TIniFile(ini.FileName()).ReadString("s", "file_1", ""), "/b.vrnl");
    EXPECT_EQ(ini.ReadString("s", "file_1", ""), "/b.vrnl");

    EXPECT_FALSE(ini.WriteString("S", "File_2", "two\nlines"));
    EXPECT_FALSE(TIniFile("").WriteString("S", "k", "v"));
    EXPECT_FALSE(TIniFile(FDir.string()).WriteString("S", "k", "v")); // a folder in the way
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileIntact) {
    const std::string path = PathOf("varnello.INI");
    TIniFile ini(path);
    ASSERT_TRUE(ini.WriteString("S", "File_0", "/a.vrnl"));
    const std::string before = ReadBytes(path);

    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = ini.WriteString("S", "File_1", std::string(100000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(FDir), {}), 1); // no temporary file left
}
