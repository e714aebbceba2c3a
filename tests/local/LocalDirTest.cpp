// Local listing, path rules and the trash move, on real folders in a temporary tree.
#include "local/LocalDir.h"
#include "local/Recycle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const TListRecord* Find(const std::vector<TListRecord>& v, const std::string& name) {
    auto it = std::find_if(v.begin(), v.end(), [&](const TListRecord& r) { return r.Name == name; });
    return it == v.end() ? nullptr : &*it;
}

void WriteFile(const QString& path, const std::string& content) {
    std::ofstream(path.toStdString(), std::ios::binary) << content;
}

} // namespace

TEST(LocalDir, PathRules) {
    EXPECT_TRUE(IsDotsName(""));
    EXPECT_TRUE(IsDotsName("."));
    EXPECT_TRUE(IsDotsName(".."));
    EXPECT_TRUE(IsDotsName("..."));
    EXPECT_FALSE(IsDotsName(".hidden"));
    EXPECT_FALSE(IsDotsName("a."));

    EXPECT_EQ(EnsureTrailing("", '/'), "/");
    EXPECT_EQ(EnsureTrailing("/web", '/'), "/web/");
    EXPECT_EQ(EnsureTrailing("/web/", '/'), "/web/");

    EXPECT_EQ(ParentLocalDir("/web/site"), "/web");
    EXPECT_EQ(ParentLocalDir("/web"), "/");
    // Going up from the top stays at the top.
    EXPECT_EQ(ParentLocalDir("/"), "/");
}

TEST(LocalDir, ListingKeepsDotDotSkipsDotAndReportsFolders) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QDir(tmp.path()).mkdir("sub");
    WriteFile(tmp.filePath("a.txt"), "hello");
    WriteFile(tmp.filePath(".hidden"), "x");

    const auto entries = ListLocalEntries(tmp.path().toStdString());
    EXPECT_EQ(Find(entries, "."), nullptr);
    ASSERT_NE(Find(entries, ".."), nullptr);
    EXPECT_TRUE(Find(entries, "..")->Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT);
    ASSERT_NE(Find(entries, "sub"), nullptr);
    EXPECT_TRUE(Find(entries, "sub")->Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT);
    ASSERT_NE(Find(entries, "a.txt"), nullptr);
    EXPECT_FALSE(Find(entries, "a.txt")->Attributes & FILE_ATTRIBUTE_DIRECTORY_BIT);
    EXPECT_EQ(Find(entries, "a.txt")->Size, 5u);
    EXPECT_NE(Find(entries, ".hidden"), nullptr);
    EXPECT_EQ(entries.size(), 4u);

    // The top of the tree has no way further up.
    const auto top = ListLocalEntries("/");
    EXPECT_EQ(Find(top, ".."), nullptr);
    EXPECT_EQ(Find(top, "."), nullptr);

    EXPECT_TRUE(ListLocalEntries(tmp.filePath("missing").toStdString()).empty());
}

TEST(LocalDir, SizesAreSixtyFourBitAndTimesAreFileTimes) {
    QTemporaryDir tmp;
    const QString big = tmp.filePath("big.bin");
    WriteFile(big, "");
    const uint64_t fiveGiB = 5ULL << 30;
    ASSERT_EQ(truncate(big.toStdString().c_str(), static_cast<off_t>(fiveGiB)), 0);
    const auto entries = ListLocalEntries(tmp.path().toStdString());
    ASSERT_NE(Find(entries, "big.bin"), nullptr);
    EXPECT_EQ(Find(entries, "big.bin")->Size, fiveGiB);

    EXPECT_EQ(UnixTimeToFileTime(0), 116444736000000000ULL);
    EXPECT_EQ(FileTimeToUnixTime(UnixTimeToFileTime(1700000000)), 1700000000);
    const int64_t now = time(nullptr);
    const int64_t listed = FileTimeToUnixTime(Find(entries, "big.bin")->LastWriteTime);
    EXPECT_LE(std::llabs(listed - now), 60);
}

TEST(Recycle, MovesFilesAndFoldersToTheTrash) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    QDir().mkpath(home.filePath("data"));
    QTemporaryDir work(home.filePath("work-XXXXXX"));
    ASSERT_TRUE(work.isValid());

    WriteFile(work.filePath("page.html"), "<html></html>");
    QDir(work.path()).mkpath("site/img");
    WriteFile(work.filePath("site/img/logo.png"), "png");

    EXPECT_TRUE(RecycleFile(work.filePath("page.html").toStdString(), false));
    EXPECT_TRUE(RecycleFile(work.filePath("site").toStdString(), false));
    EXPECT_FALSE(QFile::exists(work.filePath("page.html")));
    EXPECT_FALSE(QFile::exists(work.filePath("site")));
    EXPECT_TRUE(QFile::exists(home.filePath("data/Trash/files/page.html")));
    EXPECT_TRUE(QFile::exists(home.filePath("data/Trash/files/site/img/logo.png")));
    EXPECT_TRUE(QFile::exists(home.filePath("data/Trash/info/page.html.trashinfo")));

    // A path that does not exist is reported, not thrown.
    EXPECT_FALSE(RecycleFile(work.filePath("nothing-here").toStdString(), false));
    qunsetenv("XDG_DATA_HOME");
}

TEST(Recycle, MissingDataFolderStillGoesToTheHomeTrash) {
    // Regression: with the user's data folder not yet made, the move once landed in "files/"
    // under the process's current folder.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath("not-yet").toUtf8());
    QTemporaryDir work(home.filePath("work-XXXXXX"));
    WriteFile(work.filePath("a.txt"), "a");
    EXPECT_TRUE(RecycleFile(work.filePath("a.txt").toStdString(), false));
    EXPECT_TRUE(QFile::exists(home.filePath("not-yet/Trash/files/a.txt")));
    EXPECT_FALSE(QFile::exists(QDir::current().filePath("files/a.txt")));
    qunsetenv("XDG_DATA_HOME");
}
