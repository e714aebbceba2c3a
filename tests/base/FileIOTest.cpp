// Whole-file read and atomic replace: the old file survives every failed write, the temporary goes,
// and the file's permission bits stay.
#include "base/FileIO.h"

#include "../common/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class FileIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "varnello_fileio_XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        FDir = templ;
        FPath = (FDir / "page.php").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(FDir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(FDir, ec);
    }
    static std::string Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    long Entries() const { return std::distance(fs::directory_iterator(FDir), {}); }

    fs::path FDir;
    std::string FPath;
};

} // namespace

TEST_F(FileIOTest, ReplaceWritesNewFilesAndKeepsTheModeOfOldOnes) {
    ASSERT_TRUE(ReplaceFile(FPath, "first", 0600));
    EXPECT_EQ(Bytes(FPath), "first");
    EXPECT_EQ(Mode(FPath), 0600u);

    ::chmod(FPath.c_str(), 0751);
    ASSERT_TRUE(ReplaceFile(FPath, std::string("second\0bytes", 12), 0600));
    EXPECT_EQ(Bytes(FPath), std::string("second\0bytes", 12));
    EXPECT_EQ(Mode(FPath), 0751u);

    // Through a link to the target; the link stays a link.
    const std::string link = (FDir / "link.php").string();
    ASSERT_EQ(::symlink(FPath.c_str(), link.c_str()), 0);
    ASSERT_TRUE(ReplaceFile(link, "via link"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Bytes(FPath), "via link");
    EXPECT_EQ(Entries(), 2); // no temporary left behind
}

TEST_F(FileIOTest, FailedWritesLeaveTheOldFileAndNoTemporary) {
    const std::string old = "<?php echo 'old'; ?>\n";
    ASSERT_TRUE(ReplaceFile(FPath, old));
    const std::string big(200000, 'x');
    {
        TFileSizeLimit limit(4096); // the disk fills up part-way through the new file
        EXPECT_FALSE(ReplaceFile(FPath, big));
    }
    EXPECT_EQ(Bytes(FPath), old);
    EXPECT_EQ(Entries(), 1);

    ::chmod(FPath.c_str(), 0444); // read-only refuses even root
    EXPECT_FALSE(ReplaceFile(FPath, "new"));
    ::chmod(FPath.c_str(), 0644);
    EXPECT_EQ(Bytes(FPath), old);

    EXPECT_FALSE(ReplaceFile((FDir / "none" / "a.txt").string(), "x"));
    EXPECT_FALSE(ReplaceFile(FDir.string(), "x")); // a folder is never replaced by a file
    EXPECT_TRUE(fs::is_directory(FDir));
    EXPECT_FALSE(ReplaceFile("", "x"));
    EXPECT_EQ(Entries(), 1);

    if (::geteuid() != 0) { // a folder without write permission stops the temporary (not for root)
        fs::permissions(FDir, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_FALSE(ReplaceFile(FPath, "new"));
        fs::permissions(FDir, fs::perms::owner_write, fs::perm_options::add);
        EXPECT_EQ(Bytes(FPath), old);
    }
}

TEST_F(FileIOTest, ReadTellsMissingFromUnreadableAndBoundsTheSize) {
    std::string out = "stale";
    EXPECT_EQ(ReadWholeFile(FPath, out), TReadResult::rrMissing);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadWholeFile(FDir.string(), out), TReadResult::rrFailed);

    std::string content(70000, 'a'); // more than one read buffer
    content[69999] = 'z';
    ASSERT_TRUE(ReplaceFile(FPath, content));
    ASSERT_EQ(ReadWholeFile(FPath, out), TReadResult::rrOk);
    EXPECT_EQ(out, content);
    EXPECT_EQ(ReadWholeFile(FPath, out, 70000), TReadResult::rrOk);
    EXPECT_EQ(ReadWholeFile(FPath, out, 69999), TReadResult::rrTooLarge);
    EXPECT_TRUE(out.empty());
}
