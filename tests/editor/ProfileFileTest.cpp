// Connection profiles: the five-line format, the lenient reader, the failure texts, and a save that
// never leaves a half-written profile behind.
#include "editor/ProfileFile.h"

#include "../common/FileSizeLimit.h"
#include "VarnelloError.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(FDir);
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string ErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const EVarnelloError& e) {
            return e.what();
        }
        return "no error";
    }

    const fs::path FDir = fs::temp_directory_path() / ("profile-test-" + std::to_string(::getpid()));
    const std::string FPath = (FDir / "site.vrnl").string();
};

const TProfile Sample{"H", "U", "", "/htdocs", "C:\\Sites\\web"};

bool operator==(const TProfile& a, const TProfile& b) {
    return FormatProfile(a) == FormatProfile(b); // fields never hold line breaks here
}

} // namespace

TEST_F(ProfileFileTest, SavesFiveCrLfLinesAndReadsThemBack) {
    SaveProfile(FPath, Sample);
    EXPECT_EQ(ReadBytes(FPath), "H\r\nU\r\n\r\n/htdocs\r\nC:\\Sites\\web\r\n");
    TProfile read;
    LoadProfile(FPath, read);
    EXPECT_TRUE(read == Sample);

    SaveProfile(FPath, {});
    EXPECT_EQ(ReadBytes(FPath), "\r\n\r\n\r\n\r\n\r\n");
    LoadProfile(FPath, read);
    EXPECT_TRUE(read == TProfile{});

    struct stat st {};
    ASSERT_EQ(::stat(FPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // a new profile holds a password
    ::chmod(FPath.c_str(), 0640);
    fs::create_symlink(FPath, FDir / "link.vrnl");
    SaveProfile((FDir / "link.vrnl").string(), Sample); // written through the link, mode kept
    EXPECT_TRUE(fs::is_symlink(FDir / "link.vrnl"));
    ASSERT_EQ(::stat(FPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadBytes(FPath), FormatProfile(Sample));
}

TEST_F(ProfileFileTest, ReaderAcceptsAnyLineEndStopsAtNulAndIgnoresExtraLines) {
    for (std::string text :
         {"H\nU\n\n/htdocs\nC:\\Sites\\web"s, "H\rU\r\r/htdocs\rC:\\Sites\\web\r"s,
          "H\r\nU\n\r/htdocs\r\nC:\\Sites\\web\n"s, "H\nU\n\n/htdocs\nC:\\Sites\\web\n6\n7\n"s,
          "H\nU\n\n/htdocs\nC:\\Sites\\web\0junk\nmore"s}) {
        TProfile p;
        ParseProfile(text, p);
        EXPECT_TRUE(p == Sample) << text;
    }
}

TEST_F(ProfileFileTest, ShortOrMissingProfileFailsWithTheReadersTexts) {
    TProfile p{"old host", "old user", "old pass", "old dir", "old local"};
    EXPECT_EQ(ErrorOf([&] { ParseProfile("h\r\nu\r\np\r\n/d\r\n", p); }), "List index out of bounds (4)");
    EXPECT_TRUE(p == (TProfile{"h", "u", "p", "/d", "old local"})); // filled up to the missing line
    EXPECT_EQ(ErrorOf([&] { ParseProfile("", p); }), "List index out of bounds (0)");
    EXPECT_EQ(ErrorOf([&] { ParseProfile("H\nU\0\n\n/htdocs\nC:\\Sites\\web"s, p); }),
              "List index out of bounds (2)"); // a NUL ends the text

    p = Sample;
    EXPECT_EQ(ErrorOf([&] { LoadProfile(FPath, p); }), "Cannot open file " + FPath);
    EXPECT_EQ(ErrorOf([&] { LoadProfile(FDir.string(), p); }), "Cannot open file " + FDir.string());
    EXPECT_TRUE(p == Sample);
}

TEST_F(ProfileFileTest, FailedSaveLeavesTheOldProfileIntact) {
    const std::string old = "old\r\nold\r\nold\r\nold\r\nold\r\n";
    std::ofstream(FPath, std::ios::binary) << old;

    TProfile big = Sample;
    big.LocalDir.assign(100000, 'x');
    {
        TFileSizeLimit limit(4096); // the new file fails part-way
        EXPECT_EQ(ErrorOf([&] { SaveProfile(FPath, big); }), "Cannot create file " + FPath);
    }
    EXPECT_EQ(ReadBytes(FPath), old);

    ::chmod(FPath.c_str(), 0444); // read-only holds even for root
    EXPECT_EQ(ErrorOf([&] { SaveProfile(FPath, Sample); }), "Cannot create file " + FPath);
    ::chmod(FPath.c_str(), 0644);

    TProfile broken = Sample; // a line break would shift every later field on reading
    broken.Password = "pa\nss";
    EXPECT_EQ(ErrorOf([&] { SaveProfile(FPath, broken); }).rfind("Cannot create file " + FPath, 0), 0u);
    EXPECT_EQ(ReadBytes(FPath), old);

    const std::string noFolder = (FDir / "none/site.vrnl").string();
    EXPECT_EQ(ErrorOf([&] { SaveProfile(noFolder, Sample); }), "Cannot create file " + noFolder);
    EXPECT_EQ(ErrorOf([&] { SaveProfile(FDir.string(), Sample); }), "Cannot create file " + FDir.string());
    EXPECT_EQ(ErrorOf([&] { SaveProfile("", Sample); }), "Cannot create file ");
    EXPECT_EQ(std::distance(fs::directory_iterator(FDir), {}), 1); // no temporary file left behind
}

// The encryption choice rides on a sixth line: a five-line reader still finds its fields, a
// five-line file means the default, and a sixth line that names no choice is ignored as before.
TEST_F(ProfileFileTest, EncryptionIsAnOptionalSixthLine) {
    TProfile secure = Sample;
    secure.Encryption = "implicit";
    SaveProfile(FPath, secure);
    const std::string bytes = ReadBytes(FPath);
    EXPECT_EQ(bytes, "H\r\nU\r\n\r\n/htdocs\r\nC:\\Sites\\web\r\nimplicit\r\n");
    std::vector<std::string> lines = SplitProfileLines(bytes);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"H", "U", "", "/htdocs", "C:\\Sites\\web"}));
    TProfile read;
    LoadProfile(FPath, read);
    EXPECT_EQ(read.Encryption, "implicit");
    EXPECT_EQ(ProfileEncryptionIndex(read.Encryption), 2);

    read.Encryption = "plain";
    ParseProfile("H\r\nU\r\n\r\n/htdocs\r\nC:\\Sites\\web\r\n", read);
    EXPECT_EQ(read.Encryption, ""); // an old profile: the default, not the previous value
    EXPECT_EQ(ProfileEncryptionIndex(read.Encryption), 0);
    ParseProfile("H\nU\n\n/htdocs\nC:\\Sites\\web\nrot13\n", read);
    EXPECT_EQ(read.Encryption, "");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ProfileEncryptionIndex(ProfileEncryptionNames[i]), i);

    secure.Encryption = "plain\r\nx";
    EXPECT_NE(ErrorOf([&] { SaveProfile(FPath, secure); }), "no error");
    EXPECT_EQ(ReadBytes(FPath), bytes); // the old file stays as it was
}
