// Interop tests of the Internet-library calls against a real pyftpdlib server, in each of the
// server set-ups the client has to cope with (see ftpserver.py).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "FtpPeer.h"
#include "ftp/inet/WinInet.h"

namespace fs = std::filesystem;

namespace {

struct TConnection {
    HINTERNET Internet = nullptr;
    HINTERNET Connection = nullptr;
    ~TConnection() {
        InternetCloseHandle(Connection);
        InternetCloseHandle(Internet);
    }
};

void Connect(TConnection& c, const std::string& host, const char* user = TFtpPeer::User,
             const char* password = TFtpPeer::Password) {
    c.Internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    ASSERT_NE(c.Internet, nullptr);
    c.Connection = InternetConnect(c.Internet, host.c_str(), INTERNET_DEFAULT_FTP_PORT, user, password,
                                   INTERNET_SERVICE_FTP, 0, 0);
}

std::string LastResponse() {
    char buffer[4097];
    DWORD error = 0, length = sizeof buffer;
    InternetGetLastResponseInfo(&error, buffer, &length);
    return std::string(buffer, std::min<DWORD>(length, sizeof buffer - 1));
}

std::map<std::string, TWin32FindData> ListAll(HINTERNET connection, const char* pattern = "") {
    std::map<std::string, TWin32FindData> entries;
    TWin32FindData data;
    HINTERNET find = FtpFindFirstFile(connection, pattern, &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) return entries;
    do entries[data.cFileName] = data;
    while (InternetFindNextFile(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    InternetCloseHandle(find);
    return entries;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

// Collects what the status callback reports; the context points at one of these.
struct TProgressLog {
    std::atomic<std::uint64_t> Sent{0}, Received{0};
    std::atomic<int> Calls{0}, Other{0};
    std::atomic<DWORD> Largest{0};
    std::function<void()> OnFirst; // runs on the transferring thread at the first notification
};

void ProgressCallback(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    auto* log = reinterpret_cast<TProgressLog*>(context);
    DWORD count = 0;
    if (length == sizeof count) std::memcpy(&count, info, sizeof count);
    if (status == INTERNET_STATUS_REQUEST_SENT)
        log->Sent += count;
    else if (status == INTERNET_STATUS_RESPONSE_RECEIVED)
        log->Received += count;
    else
        ++log->Other;
    if (count > log->Largest) log->Largest = count;
    if (log->Calls++ == 0 && log->OnFirst) log->OnFirst();
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

const std::string Utf8Name = "gr\xc3\xbc\xc3\x9f"
                             "e.txt";

class FtpModes : public ::testing::TestWithParam<const char*> {};

} // namespace

TEST(WinInetLogin, RefusalsAndFailuresCarryTheLibraryCodes) {
    TFtpPeer peer;
    {
        TConnection c;
        Connect(c, peer.HostField(), TFtpPeer::User, "wrong");
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_PASSWORD);
        EXPECT_EQ(LastResponse().substr(0, 4), "530 ");
    }
    {
        TConnection c;
        Connect(c, "no-such-host.invalid:2121");
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
        Connect(c, "127.0.0.1:notaport");
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    }
    {
        // A port nobody listens on: bound, never listening.
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        TConnection c;
        Connect(c, "127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);

        // Listening but never greeting: the connect succeeds, the greeting times out.
        ASSERT_EQ(listen(s, 1), 0);
        c.Internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        DWORD ms = 300;
        ASSERT_TRUE(InternetSetOption(c.Internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms));
        HINTERNET h = InternetConnect(c.Internet, ("127.0.0.1:" + std::to_string(ntohs(a.sin_port))).c_str(),
                                      21, "u", "p", INTERNET_SERVICE_FTP, 0, 0);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
        close(s);
    }
    {
        TConnection c;
        Connect(c, peer.HostField());
        ASSERT_NE(c.Connection, nullptr) << GetLastError();
        // Handles are checked, not followed.
        EXPECT_FALSE(FtpSetCurrentDirectory(nullptr, "/"));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(FtpSetCurrentDirectory(c.Internet, "/"));
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    }
}

TEST_P(FtpModes, ListingNavigationAndRemoteOperations) {
    TFtpPeer peer(GetParam());
    TFtpPeer::WriteFile(peer.Root() + "/a.txt", "abc");
    TFtpPeer::WriteFile(peer.Root() + "/.hidden", "h");
    TFtpPeer::WriteFile(peer.Root() + "/with space.txt", "12345");
    TFtpPeer::WriteFile(peer.Root() + "/" + Utf8Name, "utf-8 name");
    fs::create_directories(peer.Root() + "/sub/empty");
    TFtpPeer::WriteFile(peer.Root() + "/sub/inner.bin", "x");
    {
        // 5 GiB without using the disk.
        int fd = open((peer.Root() + "/big.iso").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(ftruncate(fd, 5LL << 30), 0);
        close(fd);
    }
    utimbuf times{1583298367, 1583298367}; // 2020-03-04 05:06:07 UTC
    utime((peer.Root() + "/a.txt").c_str(), &times);

    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr) << GetLastError() << " " << LastResponse();

    auto entries = ListAll(c.Connection);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(FindDataSize(entries[Utf8Name]), 10u); // names are UTF-8 bytes both ways
    EXPECT_EQ(entries["sub"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries["a.txt"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(FindDataSize(entries["a.txt"]), 3u);
    EXPECT_EQ(FindDataSize(entries["with space.txt"]), 5u);
    EXPECT_EQ(FindDataSize(entries["big.iso"]), 5ULL << 30);
    EXPECT_EQ(entries["big.iso"].nFileSizeHigh, 1u);
    EXPECT_TRUE(entries.count(".hidden"));
    // FILETIME of 2020-03-04; LIST shows old files with a date only, MLSD to the second.
    std::uint64_t expected = (1583298367ULL + 11644473600ULL) * 10000000ULL;
    std::uint64_t got = FileTimeValue(entries["a.txt"].ftLastWriteTime);
    if (std::string(GetParam()) == "no-mlsd") {
        EXPECT_EQ(got / (86400ULL * 10000000ULL), expected / (86400ULL * 10000000ULL));
    } else {
        EXPECT_EQ(got, expected);
    }
    auto filtered = ListAll(c.Connection, "*.txt");
    EXPECT_EQ(filtered.size(), 3u);

    // Navigation and the current directory.
    char dir[261];
    DWORD length = sizeof dir;
    ASSERT_TRUE(FtpGetCurrentDirectory(c.Connection, dir, &length));
    EXPECT_STREQ(dir, "/");
    EXPECT_EQ(length, 1u);
    ASSERT_TRUE(FtpSetCurrentDirectory(c.Connection, "sub"));
    length = sizeof dir;
    ASSERT_TRUE(FtpGetCurrentDirectory(c.Connection, dir, &length));
    EXPECT_STREQ(dir, "/sub");
    length = 3;
    EXPECT_FALSE(FtpGetCurrentDirectory(c.Connection, dir, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(dir, "");
    ASSERT_TRUE(FtpSetCurrentDirectory(c.Connection, "/sub/.."));
    EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, "missing"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(LastResponse().substr(0, 4), "550 ");

    // An empty folder is "no more files", not an error of its own.
    TWin32FindData data;
    ASSERT_TRUE(FtpSetCurrentDirectory(c.Connection, "/sub/empty"));
    EXPECT_EQ(FtpFindFirstFile(c.Connection, "", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    ASSERT_TRUE(FtpSetCurrentDirectory(c.Connection, "/"));

    // Create, refuse, remove, delete.
    ASSERT_TRUE(FtpCreateDirectory(c.Connection, "newdir"));
    EXPECT_TRUE(fs::is_directory(peer.Root() + "/newdir"));
    EXPECT_FALSE(FtpCreateDirectory(c.Connection, "newdir"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(LastResponse().substr(0, 3), "550");
    EXPECT_FALSE(FtpRemoveDirectory(c.Connection, "/sub"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_TRUE(fs::exists(peer.Root() + "/sub/inner.bin"));
    ASSERT_TRUE(FtpRemoveDirectory(c.Connection, "/newdir"));
    ASSERT_TRUE(FtpDeleteFile(c.Connection, "/a.txt"));
    EXPECT_FALSE(fs::exists(peer.Root() + "/a.txt"));
    EXPECT_FALSE(FtpDeleteFile(c.Connection, "/a.txt"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);

    // A line break in an argument would smuggle a second command to the server.
    EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, "sub\r\nDELE with space.txt"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(fs::exists(peer.Root() + "/with space.txt"));
    EXPECT_EQ(ListAll(c.Connection).size(), 5u); // and the connection is still in step
}

TEST_P(FtpModes, BinaryRoundTripsWithProgress) {
    TFtpPeer peer(GetParam());
    const std::string content = RandomBytes((3 << 20) + 12345, 7);
    const std::string local = peer.Local() + "/up.bin";
    TFtpPeer::WriteFile(local, content);
    TFtpPeer::WriteFile(peer.Local() + "/empty.bin", "");

    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr) << GetLastError();
    EXPECT_EQ(InternetSetStatusCallback(c.Connection, ProgressCallback), nullptr);

    TProgressLog put;
    ASSERT_TRUE(FtpPutFile(c.Connection, local.c_str(), "/stored.bin", 0, reinterpret_cast<DWORD_PTR>(&put)))
        << GetLastError() << " " << LastResponse();
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Root() + "/stored.bin"), content);
    EXPECT_EQ(put.Sent, content.size());
    EXPECT_EQ(put.Received, 0u);
    EXPECT_LE(put.Largest, 64u * 1024);
    EXPECT_GE(put.Calls, int(content.size() / (64 * 1024)));

    // Over an existing local file, which is replaced; nothing else is left in the folder.
    const std::string target = peer.Local() + "/down.bin";
    TFtpPeer::WriteFile(target, "old contents");
    TProgressLog get;
    ASSERT_TRUE(FtpGetFile(c.Connection, "/stored.bin", target.c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY,
                           reinterpret_cast<DWORD_PTR>(&get)))
        << GetLastError() << " " << LastResponse();
    EXPECT_EQ(TFtpPeer::ReadFile(target), content);
    EXPECT_EQ(get.Received, content.size());
    EXPECT_EQ(get.Sent, 0u);
    EXPECT_LE(get.Largest, 64u * 1024);

    // Without a context nobody is told anything.
    TProgressLog quiet;
    ASSERT_TRUE(FtpGetFile(c.Connection, "/stored.bin", target.c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_FALSE(FtpGetFile(c.Connection, "/stored.bin", target.c_str(), 1, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    // Empty files both ways; a missing remote file is the server's refusal.
    ASSERT_TRUE(FtpPutFile(c.Connection, (peer.Local() + "/empty.bin").c_str(), "/empty.bin", 0, 0));
    ASSERT_TRUE(FtpGetFile(c.Connection, "/empty.bin", (peer.Local() + "/empty2.bin").c_str(), 0, 0, 2, 0));
    EXPECT_EQ(fs::file_size(peer.Local() + "/empty2.bin"), 0u);
    EXPECT_FALSE(FtpGetFile(c.Connection, "/missing.bin", (peer.Local() + "/m.bin").c_str(), 0, 0, 2, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(LastResponse().substr(0, 3), "550");
    EXPECT_FALSE(FtpPutFile(c.Connection, (peer.Local() + "/missing.bin").c_str(), "/x.bin", 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(
        FtpGetFile(c.Connection, "/stored.bin", (peer.Local() + "/no/such/dir/f").c_str(), 0, 0, 2, 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FolderEntries(peer.Local()),
              (std::vector<std::string>{"down.bin", "empty.bin", "empty2.bin", "up.bin"}));
    EXPECT_EQ(ListAll(c.Connection).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(ServerSetUps, FtpModes,
                         ::testing::Values("active", "no-active", "late-425", "no-epsv", "no-mlsd"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST(WinInetTransfer, ServerDyingMidwayFailsAndLeavesNoPartialFile) {
    TFtpPeer peer("slow");
    {
        int fd = open((peer.Root() + "/large.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(ftruncate(fd, 64LL << 20), 0);
        close(fd);
    }
    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr);
    InternetSetStatusCallback(c.Connection, ProgressCallback);
    const std::string target = peer.Local() + "/large.bin";
    TFtpPeer::WriteFile(target, "previous");
    TProgressLog log;
    log.OnFirst = [&] { peer.Kill(); };
    EXPECT_FALSE(
        FtpGetFile(c.Connection, "/large.bin", target.c_str(), 0, 0, 2, reinterpret_cast<DWORD_PTR>(&log)));
    DWORD code = GetLastError();
    EXPECT_TRUE(code == ERROR_FTP_DROPPED || code == ERROR_INTERNET_CONNECTION_ABORTED) << code;
    EXPECT_LT(log.Received, 64ULL << 20);
    EXPECT_EQ(TFtpPeer::ReadFile(target), "previous");
    EXPECT_EQ(FolderEntries(peer.Local()), std::vector<std::string>{"large.bin"});
    // The connection is gone for good and says so.
    EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, "/"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
}

TEST(WinInetTransfer, UploadToDyingServerFails) {
    TFtpPeer peer("slow");
    const std::string local = peer.Local() + "/up.bin";
    {
        int fd = open(local.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(ftruncate(fd, 64LL << 20), 0);
        close(fd);
    }
    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr);
    InternetSetStatusCallback(c.Connection, ProgressCallback);
    TProgressLog log;
    log.OnFirst = [&] { peer.Kill(); };
    EXPECT_FALSE(FtpPutFile(c.Connection, local.c_str(), "/up.bin", 0, reinterpret_cast<DWORD_PTR>(&log)));
    DWORD code = GetLastError();
    EXPECT_TRUE(code == ERROR_FTP_DROPPED || code == ERROR_INTERNET_CONNECTION_ABORTED) << code;
}

TEST(WinInetTransfer, SecondCallDuringTransferIsRefusedAndCloseAbortsTransfer) {
    TFtpPeer peer;
    TFtpPeer::WriteFile(peer.Root() + "/f.bin", RandomBytes(8 << 20, 3));
    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr);
    InternetSetStatusCallback(c.Connection, ProgressCallback);

    std::mutex m;
    std::condition_variable cv;
    bool inside = false, checked = false;
    TProgressLog log;
    log.OnFirst = [&] {
        std::unique_lock<std::mutex> lock(m);
        inside = true;
        cv.notify_all();
        cv.wait(lock, [&] { return checked; });
    };
    BOOL ok = 0;
    std::thread worker([&] {
        ok = FtpGetFile(c.Connection, "/f.bin", (peer.Local() + "/f.bin").c_str(), 0, 0, 2,
                        reinterpret_cast<DWORD_PTR>(&log));
    });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return inside; });
    }
    TWin32FindData data;
    EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, "/"));
    EXPECT_EQ(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
    EXPECT_EQ(FtpFindFirstFile(c.Connection, "", &data, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
    {
        std::lock_guard<std::mutex> lock(m);
        checked = true;
        cv.notify_all();
    }
    worker.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(fs::file_size(peer.Local() + "/f.bin"), 8u << 20);
    EXPECT_TRUE(FtpSetCurrentDirectory(c.Connection, "/"));

    // Closing the handle while another thread transfers on it ends that transfer.
    TProgressLog log2;
    inside = checked = false;
    log2.OnFirst = log.OnFirst;
    std::thread worker2([&] {
        ok = FtpGetFile(c.Connection, "/f.bin", (peer.Local() + "/g.bin").c_str(), 0, 0, 2,
                        reinterpret_cast<DWORD_PTR>(&log2));
    });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return inside; });
    }
    EXPECT_TRUE(InternetCloseHandle(c.Connection));
    HINTERNET closed = c.Connection;
    c.Connection = nullptr;
    {
        std::lock_guard<std::mutex> lock(m);
        checked = true;
        cv.notify_all();
    }
    worker2.join();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(fs::exists(peer.Local() + "/g.bin"));
    EXPECT_FALSE(FtpSetCurrentDirectory(closed, "/"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(WinInetDataConnection, PassiveGoesToTheControlPeerNotToTheNamedHost) {
    // The server names 192.0.2.1 (a documentation address) in its PASV replies.
    TFtpPeer peer("masquerade");
    TFtpPeer::WriteFile(peer.Root() + "/f.txt", "payload");
    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr);
    DWORD ms = 2000;
    ASSERT_TRUE(InternetSetOption(c.Connection, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms));
    ASSERT_TRUE(FtpGetFile(c.Connection, "/f.txt", (peer.Local() + "/f.txt").c_str(), 0, 0, 2, 0))
        << GetLastError();
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Local() + "/f.txt"), "payload");
}

TEST(WinInetDataConnection, ActiveAcceptsOnlyTheServer) {
    TFtpPeer peer("intruder");
    TFtpPeer::WriteFile(peer.Root() + "/f.txt", "from the server");
    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr);
    ASSERT_TRUE(FtpGetFile(c.Connection, "/f.txt", (peer.Local() + "/f.txt").c_str(), 0, 0, 2, 0))
        << GetLastError() << " " << LastResponse();
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Local() + "/f.txt"), "from the server");
    EXPECT_EQ(ListAll(c.Connection).size(), 1u);
}

TEST(WinInetDataConnection, IPv6HostFieldActiveAndPassive) {
    for (const char* mode : {"active", "no-active"}) {
        TFtpPeer peer(mode, "::1");
        TFtpPeer::WriteFile(peer.Root() + "/six.txt", "over v6");
        TConnection c;
        Connect(c, peer.HostField());
        ASSERT_NE(c.Connection, nullptr) << mode << " " << GetLastError();
        EXPECT_EQ(ListAll(c.Connection).size(), 1u);
        ASSERT_TRUE(FtpGetFile(c.Connection, "/six.txt", (peer.Local() + "/six.txt").c_str(), 0, 0, 2, 0));
        EXPECT_EQ(TFtpPeer::ReadFile(peer.Local() + "/six.txt"), "over v6");
        ASSERT_TRUE(FtpPutFile(c.Connection, (peer.Local() + "/six.txt").c_str(), "/back.txt", 0, 0));
        EXPECT_EQ(TFtpPeer::ReadFile(peer.Root() + "/back.txt"), "over v6");
    }
}

TEST(WinInetResponse, LongReplyIsCutInsideTheBuffer) {
    TFtpPeer peer;
    TConnection c;
    Connect(c, peer.HostField());
    ASSERT_NE(c.Connection, nullptr);
    EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, std::string(300, 'q').c_str()));
    char buffer[16];
    DWORD error = 0, length = sizeof buffer;
    std::string full = LastResponse();
    ASSERT_GT(full.size(), sizeof buffer);
    EXPECT_FALSE(InternetGetLastResponseInfo(&error, buffer, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, full.size() + 1);
    EXPECT_EQ(std::string(buffer), full.substr(0, sizeof buffer - 1));
    EXPECT_EQ(error, 550u);
}
