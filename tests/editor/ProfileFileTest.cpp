// Connection profiles: the five-line format, the lenient reader, the failure texts, and a save that
// never leaves a half-written profile behind.
#include "editor/ProfileFile.h"

#include "VarnelloError.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() / ("profile-test-" + std::to_string(::getpid()));
        fs::remove_all(FDir);
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }

    std::string PathOf(const std::string& name) const { return (FDir / name).string(); }

    static void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t EntriesInDir() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(FDir), {}));
    }

    static std::string ErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const EVarnelloError& e) {
            return e.what();
        }
        return "no error";
    }

    fs::path FDir;
};

TProfile Sample() {
    return {"H", "U", "", "/htdocs", "C:\\Sites\\web"};
}

bool operator==(const TProfile& a, const TProfile& b) {
    return a.Host == b.Host && a.User == b.User && a.Password == b.Password && a.ServerDir == b.ServerDir &&
           a.LocalDir == b.LocalDir;
}

} // namespace

TEST_F(ProfileFileTest, SavesFiveCrLfLinesAndReadsThemBack) {
    const std::string path = PathOf("site.vrnl");
    SaveProfile(path, Sample());
    EXPECT_EQ(ReadBytes(path), "H\r\nU\r\n\r\n/htdocs\r\nC:\\Sites\\web\r\n");
    TProfile read;
    LoadProfile(path, read);
    EXPECT_TRUE(read == Sample());

    // The password goes out as typed; all-empty fields are five bare line ends.
    SaveProfile(path, {"h", "u", " p@ss;word=\"x\" ", "", ""});
    LoadProfile(path, read);
    EXPECT_EQ(read.Password, " p@ss;word=\"x\" ");
    SaveProfile(path, {});
    EXPECT_EQ(ReadBytes(path), "\r\n\r\n\r\n\r\n\r\n");
    LoadProfile(path, read);
    EXPECT_TRUE(read == TProfile{});
    EXPECT_EQ(EntriesInDir(), 1u); // no temporary file left beside it
}

TEST_F(ProfileFileTest, ReaderAcceptsAnyLineEndStopsAtNulAndIgnoresExtraLines) {
    for (const char* text :
         {"H\nU\n\n/htdocs\nC:\\Sites\\web", "H\rU\r\r/htdocs\rC:\\Sites\\web\r",
          "H\r\nU\n\r/htdocs\r\nC:\\Sites\\web\n", "H\nU\n\n/htdocs\nC:\\Sites\\web\nsix\nseven\n"}) {
        SCOPED_TRACE(text);
        TProfile p;
        ParseProfile(text, p);
        EXPECT_TRUE(p == Sample());
    }
    TProfile p;
    ParseProfile("H\nU\n\n/htdocs\nC:\\Sites\\web\0junk\nmore"s, p);
    EXPECT_TRUE(p == Sample());
    // A NUL inside the fields cuts the text there, so the profile comes up short.
    EXPECT_EQ(ErrorOf([] {
                  TProfile q;
                  ParseProfile("H\nU\0\n\n/htdocs\nC:\\Sites\\web"s, q);
              }),
              "List index out of bounds (2)");
}

TEST_F(ProfileFileTest, ShortProfileFillsWhatItHasThenFailsAtTheMissingLine) {
    TProfile p{"old host", "old user", "old pass", "old dir", "old local"};
    EXPECT_EQ(ErrorOf([&] { ParseProfile("h\r\nu\r\np\r\n/d\r\n", p); }), "List index out of bounds (4)");
    EXPECT_TRUE(p == (TProfile{"h", "u", "p", "/d", "old local"}));

    p = {"old host", "old user", "old pass", "old dir", "old local"};
    EXPECT_EQ(ErrorOf([&] { ParseProfile("", p); }), "List index out of bounds (0)");
    EXPECT_EQ(p.Host, "old host");
    EXPECT_EQ(ErrorOf([&] { ParseProfile("h\r\n\r\n", p); }), "List index out of bounds (2)");
}

TEST_F(ProfileFileTest, UnreadableProfileRaisesCannotOpen) {
    const std::string missing = PathOf("missing.vrnl");
    TProfile p = Sample();
    EXPECT_EQ(ErrorOf([&] { LoadProfile(missing, p); }), "Cannot open file " + missing);
    EXPECT_EQ(ErrorOf([&] { LoadProfile(FDir.string(), p); }), "Cannot open file " + FDir.string());
    EXPECT_TRUE(p == Sample());
}

TEST_F(ProfileFileTest, FailedSaveLeavesTheOldProfileIntact) {
    const std::string path = PathOf("site.vrnl");
    const std::string old = "old\r\nold\r\nold\r\nold\r\nold\r\n";

    // A write that fails part-way: the file size limit stops the temporary file mid-write.
    WriteBytes(path, old);
    TProfile big = Sample();
    big.LocalDir.assign(100000, 'x');
    {
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 4096;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        std::string error = ErrorOf([&] { SaveProfile(path, big); });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(error, "Cannot create file " + path);
    }
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(EntriesInDir(), 1u);

    // A profile marked read-only stays as it is, whoever runs the program.
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(ErrorOf([&] { SaveProfile(path, Sample()); }), "Cannot create file " + path);
    EXPECT_EQ(ReadBytes(path), old);
    ::chmod(path.c_str(), 0644);

    // A field with a line break would shift every later field on reading: refused up front.
    TProfile broken = Sample();
    broken.Password = "pa\nss";
    EXPECT_NE(ErrorOf([&] { SaveProfile(path, broken); }).find("Cannot create file " + path),
              std::string::npos);
    EXPECT_EQ(ReadBytes(path), old);

    // No folder, or a folder in the way: nothing to replace, the usual text.
    const std::string noFolder = PathOf("none/site.vrnl");
    EXPECT_EQ(ErrorOf([&] { SaveProfile(noFolder, Sample()); }), "Cannot create file " + noFolder);
    EXPECT_EQ(ErrorOf([&] { SaveProfile(FDir.string(), Sample()); }), "Cannot create file " + FDir.string());
    EXPECT_EQ(ErrorOf([&] { SaveProfile("", Sample()); }), "Cannot create file ");
    EXPECT_EQ(EntriesInDir(), 1u);
}

TEST_F(ProfileFileTest, SaveKeepsPermissionsAndWritesThroughLinks) {
    const std::string path = PathOf("site.vrnl");
    SaveProfile(path, Sample());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // it holds a password

    ::chmod(path.c_str(), 0640);
    SaveProfile(path, {"x", "", "", "", ""});
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string link = PathOf("link.vrnl");
    fs::create_symlink(path, link);
    SaveProfile(link, Sample());
    EXPECT_TRUE(fs::is_symlink(link));
    TProfile read;
    LoadProfile(path, read);
    EXPECT_TRUE(read == Sample());
}
