// Listing parsers on hand-written lines of the formats servers really send.
#include <gtest/gtest.h>

#include "ftp/inet/FtpList.h"

namespace {

// 2024-06-15 12:00:00 UTC: "recent" Unix dates are read relative to it.
constexpr std::time_t Now = 1718452800;

std::uint64_t Ft(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    TFileTime t{};
    EXPECT_TRUE(CivilToFileTime(y, mo, d, h, mi, s, t));
    return FileTimeValue(t);
}

} // namespace

TEST(FtpList, FileTimeEpochs) {
    EXPECT_EQ(Ft(1601, 1, 1), 0u);
    EXPECT_EQ(Ft(1970, 1, 1), 116444736000000000ULL);
    EXPECT_EQ(Ft(2000, 2, 29, 23, 59, 59), (951868799ULL + 11644473600ULL) * 10000000ULL);
    TFileTime t;
    EXPECT_FALSE(CivilToFileTime(2020, 13, 1, 0, 0, 0, t));
    EXPECT_FALSE(CivilToFileTime(1600, 12, 31, 0, 0, 0, t));
    EXPECT_FALSE(CivilToFileTime(2020, 1, 1, 24, 0, 0, t));
}

TEST(FtpList, UnixLinesBothDateFormsSymlinksAndOddColumns) {
    TWin32FindData d;
    ASSERT_TRUE(ParseUnixListLine("drwxr-xr-x   2 user group     4096 Mar  1 09:15 htdocs", Now, d));
    EXPECT_STREQ(d.cFileName, "htdocs");
    EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(2024, 3, 1, 9, 15));

    // A month after "now" cannot be this year's: ls shows the clock only for recent files.
    ASSERT_TRUE(ParseUnixListLine("-rw-r--r--   1 user group      120 Dec 24 18:00 old.txt", Now, d));
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(2023, 12, 24, 18, 0));
    EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);

    ASSERT_TRUE(
        ParseUnixListLine("-rw-r--r--   1 user group 5368709120 Jan  5  2019 disk image.iso", Now, d));
    EXPECT_STREQ(d.cFileName, "disk image.iso");
    EXPECT_EQ(FindDataSize(d), 5368709120ULL);
    EXPECT_EQ(d.nFileSizeHigh, 1u);
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(2019, 1, 5));

    ASSERT_TRUE(
        ParseUnixListLine("lrwxrwxrwx   1 user group       11 Jun  2 08:00 current -> release-2.1", Now, d));
    EXPECT_STREQ(d.cFileName, "current");

    // No group column; owner named like a month; leading blanks of a name are kept.
    ASSERT_TRUE(ParseUnixListLine("-rw-r--r-- 1 may 77 Feb 10 2020 notes", Now, d));
    EXPECT_STREQ(d.cFileName, "notes");
    EXPECT_EQ(FindDataSize(d), 77u);
    ASSERT_TRUE(ParseUnixListLine("-rw-r--r--   1 jan  12     1234 Jan  5 12:34  spaced", Now, d));
    EXPECT_STREQ(d.cFileName, " spaced");
    EXPECT_EQ(FindDataSize(d), 1234u);

    // Access-control suffix on the permissions.
    ASSERT_TRUE(ParseUnixListLine("-rw-r--r--+  1 u g 5 Jun 14 23:59 acl.txt", Now, d));
    EXPECT_STREQ(d.cFileName, "acl.txt");

    for (const char* junk :
         {"total 48", "", "drwxr-xr-x 2 u g 4096 Foo 1 09:15 x", "-rw-r--r-- 1 u g 12 Jan 5 12:34",
          "-rw-r--r-- 1 u g 1x2 Jan 5 12:34 x", "-rw-r--r-- 1 u g 99999999999999999999 Jan 5 12:34 x",
          "?????????? 1 u g 1 Jan 5 2020 x"})
        EXPECT_FALSE(ParseUnixListLine(junk, Now, d)) << junk;
}

TEST(FtpList, DosAndIisLines) {
    TWin32FindData d;
    ASSERT_TRUE(ParseDosListLine("01-05-19  12:34PM       <DIR>          My Folder", d));
    EXPECT_STREQ(d.cFileName, "My Folder");
    EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(2019, 1, 5, 12, 34));
    ASSERT_TRUE(ParseDosListLine("11-30-1998  12:05AM             6442450944 backup.zip", d));
    EXPECT_EQ(FindDataSize(d), 6442450944ULL);
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(1998, 11, 30, 0, 5));
    ASSERT_TRUE(ParseDosListLine("07-04-23  17:45                   12 index.htm", d));
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(2023, 7, 4, 17, 45));
    for (const char* junk : {"01-05-19  13:34PM  <DIR> x", "01-05-19 12:34PM <DIR>", "1-5-19 12:34PM 1 x",
                             "01-05-19  12:34PM  12a x", "Directory of C:\\"})
        EXPECT_FALSE(ParseDosListLine(junk, d)) << junk;
    // Both kinds through the common entry point.
    EXPECT_TRUE(ParseListLine("01-05-19  12:34PM  <DIR> x", Now, d));
    EXPECT_TRUE(ParseListLine("-rw-r--r-- 1 u g 1 Jan 5 2020 x", Now, d));
}

TEST(FtpList, MlsdFacts) {
    TWin32FindData d;
    ASSERT_TRUE(ParseMlsdLine("type=file;size=5368709121;modify=20200304050607.123;perm=r; big file.iso", d));
    EXPECT_STREQ(d.cFileName, "big file.iso");
    EXPECT_EQ(FindDataSize(d), 5368709121ULL);
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), Ft(2020, 3, 4, 5, 6, 7));
    ASSERT_TRUE(ParseMlsdLine("Type=DIR;Modify=20240101000000; site", d));
    EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(ParseMlsdLine("type=OS.unix=slink:/target;size=7; link", d));
    EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(ParseMlsdLine(" no facts at all", d));
    EXPECT_STREQ(d.cFileName, "no facts at all");
    // A broken date or size leaves the field empty instead of dropping the entry.
    ASSERT_TRUE(ParseMlsdLine("type=file;size=12x;modify=2020; odd", d));
    EXPECT_EQ(FindDataSize(d), 0u);
    EXPECT_EQ(FileTimeValue(d.ftLastWriteTime), 0u);
    EXPECT_FALSE(ParseMlsdLine("type=cdir; /pub", d));
    EXPECT_FALSE(ParseMlsdLine("type=pdir; ..", d));
    EXPECT_FALSE(ParseMlsdLine("type=file;size=1;", d));
}

TEST(FtpList, WholeListingsSkipJunkAndUnrepresentableNames) {
    std::string unix = "total 8\r\n"
                       "drwxr-xr-x 2 u g 4096 Jun  1 10:00 a\r\n"
                       "garbage line\r\n"
                       "-rw-r--r-- 1 u g 10 Jun  1 10:00 b\n"
                       "-rw-r--r-- 1 u g 10 Jun  1 10:00 " +
                       std::string(300, 'n') +
                       "\r\n"
                       "-rw-r--r-- 1 u g 10 Jun  1 10:00 nul" +
                       std::string(1, '\0') +
                       "name\r\n"
                       "-rw-r--r-- 1 u g 3 Jun  1 10:00 last"; // no final line end
    std::size_t longNames = 0;
    auto records = ParseListing(unix, false, Now, ~std::size_t{0}, &longNames);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(longNames, 1u); // the NUL name is no long name
    EXPECT_STREQ(records[0].cFileName, "a");
    EXPECT_STREQ(records[1].cFileName, "b");
    EXPECT_STREQ(records[2].cFileName, "last");

    longNames = 0;
    auto mlsd =
        ParseListing("type=cdir; .\r\ntype=pdir; ..\r\ntype=file;size=1; x\r\nnonsense\r\ntype=file; " +
                         std::string(260, 'z') + "\r\n",
                     true, Now, ~std::size_t{0}, &longNames);
    ASSERT_EQ(mlsd.size(), 1u);
    EXPECT_EQ(longNames, 1u);
    EXPECT_STREQ(mlsd[0].cFileName, "x");
}
