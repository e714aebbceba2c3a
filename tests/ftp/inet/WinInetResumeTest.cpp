// Resumed transfers and the conversation log, against pyftpdlib: a download cut by the server's
// death goes on from its kept part at a second server, an upload appends what the server lacks,
// and the log shows every command and reply with the password hidden.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "FtpPeer.h"
#include "ftp/inet/WinInet.h"

namespace fs = std::filesystem;

namespace {

struct TLogLine {
    DWORD Connection, Kind;
    std::string Text;
};

struct TLog {
    std::mutex Lock;
    std::vector<TLogLine> Lines;
    bool Has(DWORD kind, const std::string& prefix) {
        std::lock_guard<std::mutex> guard(Lock);
        for (const TLogLine& l : Lines)
            if (l.Kind == kind && l.Text.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
};

void LogLine(DWORD connection, DWORD kind, const char* text, void* context) {
    auto* log = static_cast<TLog*>(context);
    std::lock_guard<std::mutex> guard(log->Lock);
    log->Lines.push_back({connection, kind, text});
}

struct TSession {
    HINTERNET Internet = nullptr;
    HINTERNET Connection = nullptr;
    TLog Log;
    explicit TSession(const std::string& host) {
        Internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        FtpSetLogCallback(Internet, LogLine, &Log);
        Connection = InternetConnect(Internet, host.c_str(), INTERNET_DEFAULT_FTP_PORT, TFtpPeer::User,
                                     TFtpPeer::Password, INTERNET_SERVICE_FTP, 0, 0);
    }
    ~TSession() {
        InternetCloseHandle(Connection);
        InternetCloseHandle(Internet);
    }
};

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

struct TKillAtFirst {
    TFtpPeer* Peer;
    std::atomic<int> Calls{0};
};

void KillAtFirst(HINTERNET, DWORD_PTR context, DWORD, void*, DWORD) {
    auto* k = reinterpret_cast<TKillAtFirst*>(context);
    if (k->Calls++ == 0) k->Peer->Kill();
}

TFtpResume NoPart() {
    TFtpResume r{};
    r.PartialFile[0] = '\0';
    r.Offset = 0;
    return r;
}

} // namespace

TEST(WinInetResume, CutDownloadKeepsItsPartAndAnotherServerCompletesIt) {
    const std::string content = RandomBytes(24 << 20, 7);
    TFtpPeer slow("slow");
    TFtpPeer::WriteFile(slow.Root() + "/big.bin", content);
    const std::string target = slow.Local() + "/big.bin";
    TFtpResume resume = NoPart();
    {
        TSession s(slow.HostField());
        ASSERT_NE(s.Connection, nullptr);
        InternetSetStatusCallback(s.Connection, KillAtFirst);
        TKillAtFirst kill{&slow};
        EXPECT_FALSE(FtpGetFileResumable(s.Connection, "/big.bin", target.c_str(),
                                         reinterpret_cast<DWORD_PTR>(&kill), FTP_SIZE_UNKNOWN, &resume));
    }
    // Nothing under the final name; the part is kept and holds the file's first bytes.
    ASSERT_FALSE(fs::exists(target));
    const std::string part = resume.PartialFile;
    ASSERT_FALSE(part.empty());
    ASSERT_GT(resume.Offset, 0u);
    ASSERT_LT(resume.Offset, content.size());
    EXPECT_EQ(fs::path(part).parent_path(), fs::path(target).parent_path());
    EXPECT_EQ(TFtpPeer::ReadFile(part), content.substr(0, resume.Offset));

    // The same file at another server: only the rest crosses the network.
    TFtpPeer second;
    TFtpPeer::WriteFile(second.Root() + "/big.bin", content);
    TSession s(second.HostField());
    ASSERT_NE(s.Connection, nullptr);
    const std::uint64_t kept = resume.Offset;
    ASSERT_TRUE(FtpGetFileResumable(s.Connection, "/big.bin", target.c_str(), 0, content.size(), &resume))
        << GetLastError();
    EXPECT_TRUE(s.Log.Has(FTP_LOG_COMMAND, "REST " + std::to_string(kept)));
    EXPECT_TRUE(s.Log.Has(FTP_LOG_REPLY, "350"));
    EXPECT_EQ(TFtpPeer::ReadFile(target), content);
    EXPECT_EQ(resume.PartialFile[0], '\0');
    EXPECT_EQ(Entries(slow.Local()), std::vector<std::string>{"big.bin"});
}

TEST(WinInetResume, PartsThatCannotGoOnStartAgainAndForeignFilesAreLeftAlone) {
    TFtpPeer peer("no-mlsd"); // its FEAT names no REST STREAM
    const std::string content = RandomBytes(300000, 3);
    TFtpPeer::WriteFile(peer.Root() + "/f.bin", content);
    const std::string target = peer.Local() + "/f.bin";
    TSession s(peer.HostField());
    ASSERT_NE(s.Connection, nullptr);

    // Without REST the part is thrown away and the whole file fetched; while the call runs the
    // record says it started from 0, so progress counts from there.
    const std::string part = peer.Local() + "/.f.bin.part-0000abcd";
    TFtpPeer::WriteFile(part, "XXXXXXXXXX");
    TFtpResume resume = NoPart();
    std::snprintf(resume.PartialFile, sizeof resume.PartialFile, "%s", part.c_str());
    resume.Offset = 10;
    struct TSeen {
        const TFtpResume* Resume;
        std::uint64_t OffsetDuring = 99;
    } seen{&resume};
    InternetSetStatusCallback(s.Connection, [](HINTERNET, DWORD_PTR context, DWORD, void*, DWORD) {
        auto* x = reinterpret_cast<TSeen*>(context);
        x->OffsetDuring = x->Resume->Offset;
    });
    ASSERT_TRUE(FtpGetFileResumable(s.Connection, "/f.bin", target.c_str(),
                                    reinterpret_cast<DWORD_PTR>(&seen), FTP_SIZE_UNKNOWN, &resume));
    EXPECT_EQ(seen.OffsetDuring, 0u);
    InternetSetStatusCallback(s.Connection, nullptr);
    EXPECT_EQ(TFtpPeer::ReadFile(target), content);
    EXPECT_FALSE(fs::exists(part));
    EXPECT_FALSE(s.Log.Has(FTP_LOG_COMMAND, "REST"));

    // A "part" that is no temporary name of this target is never cut or written.
    const std::string other = peer.Local() + "/notes.txt";
    TFtpPeer::WriteFile(other, "keep me");
    fs::remove(target);
    resume = NoPart();
    std::snprintf(resume.PartialFile, sizeof resume.PartialFile, "%s", other.c_str());
    resume.Offset = 2;
    ASSERT_TRUE(FtpGetFileResumable(s.Connection, "/f.bin", target.c_str(), 0, FTP_SIZE_UNKNOWN, &resume));
    EXPECT_EQ(TFtpPeer::ReadFile(other), "keep me");
    EXPECT_EQ(TFtpPeer::ReadFile(target), content);
}

TEST(WinInetResume, ShorterTargetGoesOnInPlaceAndAPartLongerThanTheFileStartsAgain) {
    TFtpPeer peer;
    const std::string content = RandomBytes(200000, 5);
    TFtpPeer::WriteFile(peer.Root() + "/f.bin", content);
    const std::string target = peer.Local() + "/f.bin";
    TFtpPeer::WriteFile(target, content.substr(0, 50000));
    TSession s(peer.HostField());
    ASSERT_NE(s.Connection, nullptr);
    TFtpResume resume = NoPart();
    std::snprintf(resume.PartialFile, sizeof resume.PartialFile, "%s", target.c_str());
    resume.Offset = 50000;
    ASSERT_TRUE(FtpGetFileResumable(s.Connection, "/f.bin", target.c_str(), 0, FTP_SIZE_UNKNOWN, &resume));
    EXPECT_EQ(TFtpPeer::ReadFile(target), content);
    EXPECT_TRUE(s.Log.Has(FTP_LOG_COMMAND, "REST 50000"));
    EXPECT_EQ(Entries(peer.Local()), std::vector<std::string>{"f.bin"});

    // A part claiming more bytes than the server's file has cannot belong to it.
    const std::string part = peer.Local() + "/.g.bin.part-00000001";
    TFtpPeer::WriteFile(peer.Root() + "/g.bin", "short");
    TFtpPeer::WriteFile(part, "a much longer part than the file");
    resume = NoPart();
    std::snprintf(resume.PartialFile, sizeof resume.PartialFile, "%s", part.c_str());
    resume.Offset = 20;
    const std::string g = peer.Local() + "/g.bin";
    ASSERT_TRUE(FtpGetFileResumable(s.Connection, "/g.bin", g.c_str(), 0, FTP_SIZE_UNKNOWN, &resume));
    EXPECT_EQ(TFtpPeer::ReadFile(g), "short");
    EXPECT_FALSE(fs::exists(part));
}

TEST(WinInetResume, UploadAppendsTheRestAndAWrongServerPartFails) {
    TFtpPeer peer;
    const std::string content = RandomBytes(500000, 9);
    const std::string local = peer.Local() + "/up.bin";
    TFtpPeer::WriteFile(local, content);
    TFtpPeer::WriteFile(peer.Root() + "/up.bin", content.substr(0, 123456));
    TSession s(peer.HostField());
    ASSERT_NE(s.Connection, nullptr);
    std::uint64_t size = 0, modified = 0;
    ASSERT_TRUE(FtpGetRemoteFileInfo(s.Connection, "/up.bin", &size, &modified));
    EXPECT_EQ(size, 123456u);
    EXPECT_GT(modified, 0u);
    InternetSetStatusCallback(s.Connection, [](HINTERNET, DWORD_PTR, DWORD, void*, DWORD) {});
    ASSERT_TRUE(FtpPutFileFrom(s.Connection, local.c_str(), "/up.bin", 1, size)) << GetLastError();
    ASSERT_TRUE(FtpGetRemoteFileInfo(s.Connection, "/up.bin", &size, &modified)) << GetLastError();
    EXPECT_EQ(size, content.size());
    TFtpPeer::WriteFile(peer.Root() + "/other.txt", "other");
    ASSERT_TRUE(FtpGetRemoteFileInfo(s.Connection, "/other.txt", &size, &modified)) << GetLastError();
    EXPECT_EQ(TFtpPeer::ReadFile(peer.Root() + "/up.bin"), content);
    EXPECT_TRUE(s.Log.Has(FTP_LOG_COMMAND, "APPE /up.bin"));

    // The server's part is longer than we believed: the appended file is not the local one.
    TFtpPeer::WriteFile(peer.Root() + "/up.bin", content.substr(0, 1000));
    EXPECT_FALSE(FtpPutFileFrom(s.Connection, local.c_str(), "/up.bin", 0, 900));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);

    EXPECT_FALSE(FtpGetRemoteFileInfo(s.Connection, "/none.bin", &size, &modified));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(FtpPutFileFrom(s.Connection, local.c_str(), "/up.bin", 0, content.size() + 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(WinInetLog, CommandsAndRepliesOfEachConnectionWithThePasswordHidden) {
    TFtpPeer peer;
    TSession s(peer.HostField());
    ASSERT_NE(s.Connection, nullptr);
    HINTERNET second = InternetConnect(s.Internet, peer.HostField().c_str(), INTERNET_DEFAULT_FTP_PORT,
                                       TFtpPeer::User, TFtpPeer::Password, INTERNET_SERVICE_FTP, 0, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(FtpSetCurrentDirectory(second, "/missing"));
    InternetCloseHandle(second);

    std::lock_guard<std::mutex> guard(s.Log.Lock);
    bool userSeen = false, refusalSeen = false;
    for (const TLogLine& l : s.Log.Lines) {
        EXPECT_EQ(l.Text.find(TFtpPeer::Password), std::string::npos) << l.Text;
        EXPECT_TRUE(l.Connection == 1 || l.Connection == 2) << l.Connection;
        if (l.Kind == FTP_LOG_COMMAND && l.Text == std::string("USER ") + TFtpPeer::User) userSeen = true;
        if (l.Connection == 2 && l.Kind == FTP_LOG_REPLY && l.Text.compare(0, 3, "550") == 0)
            refusalSeen = true;
    }
    EXPECT_TRUE(userSeen);
    EXPECT_TRUE(refusalSeen);
    ASSERT_FALSE(s.Log.Lines.empty());
    EXPECT_EQ(s.Log.Lines.front().Kind, FTP_LOG_NOTE);
    EXPECT_EQ(s.Log.Lines.front().Text.compare(0, 13, "Connected to "), 0);
    int passes = 0;
    for (const TLogLine& l : s.Log.Lines) passes += l.Kind == FTP_LOG_COMMAND && l.Text == "PASS ****";
    EXPECT_EQ(passes, 2);
}
