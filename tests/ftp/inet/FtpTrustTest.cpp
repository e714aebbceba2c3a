// The remembered-certificates file: kept across instances, one certificate per server and
// port, replaced on request, and never corrupted by a name it cannot hold.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ftp/inet/FtpTrust.h"

namespace fs = std::filesystem;

TEST(FtpTrustStore, RemembersPerServerAndPortAcrossInstances) {
    const fs::path dir = fs::temp_directory_path() / ("trust-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "ftp_certificates").string();
    {
        TFtpTrustStore store(path);
        EXPECT_EQ(store.Lookup("example.org", 21), "");
        EXPECT_TRUE(store.Remember("example.org", 21, "AA:BB"));
        EXPECT_TRUE(store.Remember("::1", 990, "CC:DD"));
        EXPECT_FALSE(store.Remember("bad host", 21, "EE")); // would not read back
    }
    {
        TFtpTrustStore store(path);
        EXPECT_EQ(store.Lookup("example.org", 21), "AA:BB");
        EXPECT_EQ(store.Lookup("example.org", 990), ""); // another port is another server
        EXPECT_EQ(store.Lookup("::1", 990), "CC:DD");
        EXPECT_EQ(store.Lookup("bad host", 21), "");
        EXPECT_TRUE(store.Remember("example.org", 21, "11:22")); // a changed certificate, trusted
    }
    EXPECT_EQ(TFtpTrustStore(path).Lookup("example.org", 21), "11:22");
    std::ifstream in(path);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(all, "[::1]:990 CC:DD\nexample.org:21 11:22\n");
    EXPECT_FALSE(fs::exists(path + ".new"));
    fs::remove_all(dir);
}
