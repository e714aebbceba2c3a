// The client against a scripted server in this process, for server behaviour pyftpdlib never
// shows: "120" and multi-line greetings, ACCT demands, MLSD advertised but refused, "450" for
// an empty listing, a final reply that comes without a preliminary one, "421" and nonsense.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FtpScriptServer.h"
#include "ftp/inet/WinInet.h"

namespace {

// A fresh folder under the system's temporary folder; empty when none could be made.
std::string MakeTempFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "varnello-script-XXXXXX").string();
    return mkdtemp(name.data()) ? name : std::string();
}

struct TClient {
    HINTERNET Internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET Connection = nullptr;
    explicit TClient(const std::string& host, const char* password = "pw") {
        DWORD ms = 2000;
        InternetSetOption(Internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
        Connection =
            InternetConnect(Internet, host.c_str(), 21, "user", password, INTERNET_SERVICE_FTP, 0, 0);
    }
    ~TClient() {
        InternetCloseHandle(Connection);
        InternetCloseHandle(Internet);
    }
};

} // namespace

TEST(FtpScript, GreetingsFeaturesListingFallbacksAndQuit) {
    TScriptedServer server;
    server.Greeting = "120 Wait a moment\r\n220-Welcome\r\n220-to the\r\n220 scripted server\r\n";
    server.Answer = [](TScriptedServer& s, const std::string& line) {
        if (line.rfind("USER", 0) == 0) return s.Reply("331 Password\r\n");
        if (line.rfind("PASS", 0) == 0) return s.Reply("230 In\r\n");
        if (line == "FEAT") return s.Reply("211-Features:\r\n MLST type*;size*;\r\n UTF8\r\n211 End\r\n");
        if (line == "OPTS UTF8 ON") return s.Reply("200 Always\r\n");
        if (line == "TYPE I") return s.Reply("200 Binary\r\n");
        if (line.rfind("PORT", 0) == 0) return s.Reply("502 Not here\r\n");
        if (line == "EPSV") return s.Reply("229 Extended (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
        if (line == "MLSD") return s.Reply("500 Unknown command\r\n");
        if (line.rfind("CWD", 0) == 0) return s.Reply("250 Moved\r\n");
        if (line == "LIST") {
            if (s.ReceivedVerb("CWD")) { // the second folder is empty
                s.SendPassiveData("");
                return s.Reply("450 No files found\r\n");
            }
            s.Reply("150 Here it comes\r\n");
            s.SendPassiveData("total 2\r\n"
                              "drwxr-xr-x 1 u g 0 Jan  1  2020 dir\r\n"
                              "-rw-r--r-- 1 u g 5368709120 Jan  1  2020 big\r\n");
            return s.Reply("226 Done\r\n");
        }
        if (line == "QUIT") return s.Reply("221 Bye\r\n");
        s.Reply("502 " + line + "\r\n");
    };
    server.Start();
    {
        TClient c(server.Host());
        ASSERT_NE(c.Connection, nullptr) << GetLastError();
        TWin32FindData data;
        HINTERNET find = FtpFindFirstFile(c.Connection, "", &data, 0, 0);
        ASSERT_NE(find, nullptr) << GetLastError();
        EXPECT_STREQ(data.cFileName, "dir");
        ASSERT_TRUE(InternetFindNextFile(find, &data));
        EXPECT_EQ(FindDataSize(data), 5368709120ULL);
        EXPECT_FALSE(InternetFindNextFile(find, &data));
        InternetCloseHandle(find);
        ASSERT_TRUE(FtpSetCurrentDirectory(c.Connection, "empty"));
        EXPECT_EQ(FtpFindFirstFile(c.Connection, "", &data, 0, 0), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    }
    std::vector<std::string> received = server.Received();
    EXPECT_EQ(received.back(), "QUIT");
    // Active refused once is passive for good, and refused MLSD is LIST for good.
    EXPECT_EQ(
        std::count_if(received.begin(), received.end(), [](auto& l) { return l.rfind("PORT", 0) == 0; }), 1);
    EXPECT_EQ(std::count(received.begin(), received.end(), "MLSD"), 1);
    EXPECT_EQ(std::count(received.begin(), received.end(), "LIST"), 2);
}

TEST(FtpScript, FinalReplyWithoutPreliminaryAndLoginWithoutPassword) {
    TScriptedServer server;
    server.Answer = [](TScriptedServer& s, const std::string& line) {
        if (line.rfind("USER", 0) == 0) return s.Reply("230 No password needed\r\n");
        if (line.rfind("PORT", 0) == 0) {
            s.ConnectActive(line);
            return s.Reply("200 Connected\r\n");
        }
        if (line.rfind("RETR", 0) == 0) {
            s.SendActiveData("early bytes");
            return s.Reply("226 Sent\r\n"); // no 150 before it
        }
        s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
    };
    server.Start();
    TClient c(server.Host());
    ASSERT_NE(c.Connection, nullptr) << GetLastError();
    const std::string folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    std::string target = std::string(folder) + "/f";
    EXPECT_TRUE(FtpGetFile(c.Connection, "/f", target.c_str(), 0, 0, 2, 0)) << GetLastError();
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "early bytes");
    std::filesystem::remove_all(folder);
    EXPECT_FALSE(server.ReceivedVerb("PASS"));
}

TEST(FtpScript, RefusedLoginsClosingServersAndNonsense) {
    {
        TScriptedServer server; // demands an account
        server.Answer = [](TScriptedServer& s, const std::string&) { s.Reply("332 Need account\r\n"); };
        server.Start();
        TClient c(server.Host());
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_LOGIN_FAILURE);
    }
    {
        TScriptedServer server;
        server.Greeting = "421 Too many users\r\n";
        server.Answer = [](TScriptedServer&, const std::string&) {};
        server.Start();
        TClient c(server.Host());
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        char text[64];
        DWORD error, length = sizeof text;
        InternetGetLastResponseInfo(&error, text, &length);
        EXPECT_STREQ(text, "421 Too many users");
    }
    {
        TScriptedServer server;
        server.Greeting = "SSH-2.0-not an FTP server\r\n";
        server.Answer = [](TScriptedServer&, const std::string&) {};
        server.Start();
        TClient c(server.Host());
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
    }
    {
        TScriptedServer server; // logs in, then closes on the first command
        server.Answer = [](TScriptedServer& s, const std::string& line) {
            if (line.rfind("CWD", 0) == 0) {
                s.Reply("421 Shutting down\r\n");
                return s.Hangup();
            }
            s.Reply(line.rfind("USER", 0) == 0 ? "230 In\r\n" : "200 OK\r\n");
        };
        server.Start();
        TClient c(server.Host());
        ASSERT_NE(c.Connection, nullptr);
        EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, "x"));
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        EXPECT_FALSE(FtpSetCurrentDirectory(c.Connection, "x"));
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
    }
}

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string LastText() {
    char text[512];
    DWORD error = 0, length = sizeof text;
    InternetGetLastResponseInfo(&error, text, &length);
    return text;
}

} // namespace

// A final 2xx may overtake the data connection: in passive mode for an empty file with no 150,
// in active mode when the server's connection still waits in our accept queue.
TEST(FtpScript, FinalReplyBeforeTheDataIsNotARefusal) {
    const std::string folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    {
        TScriptedServer server;
        server.Answer = [](TScriptedServer& s, const std::string& line) {
            if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
            if (line.rfind("PORT", 0) == 0) return s.Reply("502 Passive only\r\n");
            if (line == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
            if (line.rfind("RETR", 0) == 0) {
                s.SendPassiveData("");
                return s.Reply("226 Empty file sent\r\n"); // no 150
            }
            s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
        };
        server.Start();
        TClient c(server.Host());
        ASSERT_NE(c.Connection, nullptr) << GetLastError();
        std::string target = std::string(folder) + "/empty";
        EXPECT_TRUE(FtpGetFile(c.Connection, "/empty", target.c_str(), 0, 0, 2, 0))
            << GetLastError() << " " << LastText();
        EXPECT_TRUE(std::filesystem::exists(target));
        EXPECT_EQ(ReadAll(target), "");
    }
    {
        TScriptedServer server;
        std::string portLine;
        server.Answer = [&](TScriptedServer& s, const std::string& line) {
            if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
            if (line.rfind("PORT", 0) == 0) {
                portLine = line;
                return s.Reply("200 Port\r\n");
            }
            if (line.rfind("RETR", 0) == 0) {
                // Both replies are read before the data connection arrives.
                s.Reply("150 Opening\r\n226 Sent\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                s.ConnectActive(portLine);
                return s.SendActiveData("late but whole");
            }
            s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
        };
        server.Start();
        TClient c(server.Host());
        ASSERT_NE(c.Connection, nullptr) << GetLastError();
        std::string target = std::string(folder) + "/late";
        EXPECT_TRUE(FtpGetFile(c.Connection, "/late", target.c_str(), 0, 0, 2, 0))
            << GetLastError() << " " << LastText();
        EXPECT_EQ(ReadAll(target), "late but whole");
    }
    std::filesystem::remove_all(folder);
}

// A server that closes the data connection early and still says 226: the count decides, from
// SIZE when it answers, else from the caller's listing size; the old file stays.
TEST(FtpScript, TruncatedDownloadFailsAndKeepsTheOldFile) {
    const std::string folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    // Where the 5000 comes from: SIZE, the 150 reply, or only the caller's listing.
    enum { fromSize, fromPreliminary, fromListing };
    for (int source : {fromSize, fromPreliminary, fromListing}) {
        TScriptedServer server;
        server.Answer = [source](TScriptedServer& s, const std::string& line) {
            if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
            if (line.rfind("PORT", 0) == 0) return s.Reply("502 Passive only\r\n");
            if (line == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
            if (line.rfind("SIZE", 0) == 0)
                return s.Reply(source == fromSize ? "213 5000\r\n" : "502 No SIZE\r\n");
            if (line.rfind("RETR", 0) == 0) {
                s.Reply(source == fromPreliminary ? "150 Opening data connection for f (5000 bytes).\r\n"
                                                  : "150 Opening\r\n");
                s.SendPassiveData(std::string(1000, 'x'));
                return s.Reply("226 Done\r\n");
            }
            s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
        };
        server.Start();
        TClient c(server.Host());
        ASSERT_NE(c.Connection, nullptr) << GetLastError();
        std::string target = std::string(folder) + "/f";
        { std::ofstream(target) << "old"; }
        EXPECT_FALSE(FtpGetFileSized(c.Connection, "/f", target.c_str(), 0, 0, 2, 0,
                                     source == fromListing ? 5000 : FTP_SIZE_UNKNOWN))
            << source;
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
        EXPECT_EQ(LastText(), "Received 1000 of 5000 bytes: the server ended the transfer early.");
        EXPECT_EQ(ReadAll(target), "old");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
        // Without any known size the same bytes are taken as the whole file.
        if (source == fromListing) {
            EXPECT_TRUE(FtpGetFile(c.Connection, "/f", target.c_str(), 0, 0, 2, 0)) << GetLastError();
            EXPECT_EQ(ReadAll(target).size(), 1000u);
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(FtpScript, ListingWithTooManyEntriesFailsInWords) {
    TScriptedServer server;
    server.Answer = [](TScriptedServer& s, const std::string& line) {
        if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
        if (line == "FEAT") return s.Reply("211-Features:\r\n MLST type*;size*;\r\n211 End\r\n");
        if (line.rfind("PORT", 0) == 0) return s.Reply("502 Passive only\r\n");
        if (line == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
        if (line == "MLSD") {
            s.Reply("150 Here\r\n");
            std::string lines;
            for (std::size_t i = 0; i <= FTP_LISTING_MAX_ENTRIES; ++i)
                lines += " " + std::to_string(i) + "\r\n";
            s.SendPassiveData(lines);
            return s.Reply("226 Done\r\n");
        }
        s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
    };
    server.Start();
    TClient c(server.Host());
    ASSERT_NE(c.Connection, nullptr) << GetLastError();
    TWin32FindData data;
    EXPECT_EQ(FtpFindFirstFile(c.Connection, "", &data, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
    EXPECT_EQ(LastText(), "The server's listing has more than 100000 entries.");
}

// Time-outs count from the command, not from the last byte: a trickled greeting and an endless
// run of preliminary replies both end in time.
TEST(FtpScript, TrickledGreetingAndEndlessPreliminariesEndInTime) {
    for (bool trickle : {true, false}) {
        std::uint16_t port;
        int listener = ListenLoopback(port);
        std::atomic<bool> stop{false};
        std::thread peer([&] {
            int c = accept(listener, nullptr, nullptr);
            if (c < 0) return;
            for (int i = 0; i < 100 && !stop; ++i) {
                SendAll(c, trickle ? "2" : "120 Wait\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(trickle ? 300 : 20));
            }
            close(c);
        });
        auto start = std::chrono::steady_clock::now();
        TClient c("127.0.0.1:" + std::to_string(port)); // 2 s receive time-out
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(c.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
        EXPECT_LT(took, std::chrono::milliseconds(3500));
        stop = true;
        shutdown(listener, SHUT_RDWR);
        peer.join();
        close(listener);
    }
}

// The server names a data port where nobody answers (a listener that never accepts, its backlog
// full): closing the connection from another thread must end the connect at once.
TEST(FtpScript, CloseReachesAPassiveConnectInProgress) {
    std::uint16_t deadPort = 0;
    int dead = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(dead, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(dead, 0), 0);
    getsockname(dead, reinterpret_cast<sockaddr*>(&a), &len);
    deadPort = ntohs(a.sin_port);
    // Fill the backlog until a connect no longer completes.
    std::vector<int> fillers;
    for (int i = 0; i < 16; ++i) {
        int f = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
        pollfd p{f, POLLOUT, 0};
        if (poll(&p, 1, 200) == 0) break;
    }
    TScriptedServer server;
    server.Answer = [deadPort](TScriptedServer& s, const std::string& line) {
        if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
        if (line.rfind("PORT", 0) == 0) return s.Reply("502 Passive only\r\n");
        if (line == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(deadPort) + "|)\r\n");
        s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
    };
    server.Start();
    TClient c(server.Host());
    ASSERT_NE(c.Connection, nullptr) << GetLastError();
    const std::string folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    std::string target = std::string(folder) + "/f";
    BOOL result = 1;
    DWORD error = 0;
    auto start = std::chrono::steady_clock::now();
    std::thread transfer([&] {
        result = FtpGetFile(c.Connection, "/f", target.c_str(), 0, 0, 2, 0);
        error = GetLastError();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    InternetCloseHandle(c.Connection);
    c.Connection = nullptr;
    transfer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(result);
    EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_FALSE(std::filesystem::exists(target));
    std::filesystem::remove_all(folder);
    for (int f : fillers) close(f);
    close(dead);
}

// A server that goes on sending past the size it gave is cut off, and the old file stays.
TEST(FtpScript, DownloadLongerThanAnnouncedIsCutOff) {
    const std::string folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    std::atomic<bool> cutOff{false};
    TScriptedServer server;
    server.Answer = [&](TScriptedServer& s, const std::string& line) {
        if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
        if (line.rfind("PORT", 0) == 0) return s.Reply("502 Passive only\r\n");
        if (line == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
        if (line.rfind("SIZE", 0) == 0) return s.Reply("213 1000\r\n");
        if (line.rfind("RETR", 0) == 0) {
            s.Reply("150 Opening\r\n");
            // 256 MiB unless the client hangs up: the send then fails early.
            cutOff = !s.SendPassiveDataChecked(std::string(1 << 20, 'x'), 256);
            return s.Reply("226 Done\r\n");
        }
        s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
    };
    server.Start();
    TClient c(server.Host());
    ASSERT_NE(c.Connection, nullptr) << GetLastError();
    std::string target = std::string(folder) + "/f";
    { std::ofstream(target) << "old"; }
    EXPECT_FALSE(FtpGetFile(c.Connection, "/f", target.c_str(), 0, 0, 2, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(LastText(), "The server sent more than the 1000 bytes it announced.");
    EXPECT_TRUE(cutOff);
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    std::filesystem::remove_all(folder);
}

// A SIZE answer too long for 64 bits is no size at all, not a wrapped-around one.
TEST(FtpScript, OversizedSizeAnswerIsIgnored) {
    const std::string folder = MakeTempFolder();
    ASSERT_FALSE(folder.empty());
    TScriptedServer server;
    server.Answer = [](TScriptedServer& s, const std::string& line) {
        if (line.rfind("USER", 0) == 0) return s.Reply("230 In\r\n");
        if (line.rfind("PORT", 0) == 0) return s.Reply("502 Passive only\r\n");
        if (line == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
        // 2^64 + 3: wrapped around it would read as 3 and win over the listing's 5.
        if (line.rfind("SIZE", 0) == 0) return s.Reply("213 18446744073709551619\r\n");
        if (line.rfind("RETR", 0) == 0) {
            s.Reply("150 Opening\r\n");
            s.SendPassiveData("abc");
            return s.Reply("226 Done\r\n");
        }
        s.Reply(line == "TYPE I" ? "200 OK\r\n" : "502 No\r\n");
    };
    server.Start();
    TClient c(server.Host());
    ASSERT_NE(c.Connection, nullptr) << GetLastError();
    std::string target = std::string(folder) + "/f";
    EXPECT_FALSE(FtpGetFileSized(c.Connection, "/f", target.c_str(), 0, 0, 2, 0, 5));
    EXPECT_EQ(LastText(), "Received 3 of 5 bytes: the server ended the transfer early.");
    EXPECT_TRUE(FtpGetFile(c.Connection, "/f", target.c_str(), 0, 0, 2, 0)) << GetLastError();
    EXPECT_EQ(ReadAll(target), "abc");
    std::filesystem::remove_all(folder);
}
