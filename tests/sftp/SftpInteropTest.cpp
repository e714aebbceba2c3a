// The SFTP client through the real SSH client against OpenSSH sshd's sftp-server: listings,
// file operations, refusals, and pipelined reads and writes checked byte for byte.
#include "../ssh/SshTestPump.h"

#include "sftp/SftpClient.h"
#include "sftp/SftpTransfer.h"
#include "ssh/SshConnection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <pwd.h>
#include <random>

using namespace Varnello::Sftp;
using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

struct TAnswer {
    TAnswer(std::string kind = "", int code = 0, std::string text = "")
        : Kind(std::move(kind)), Code(code), Text(std::move(text)) {}
    std::string Kind; // "success", "error", "handle", "data", "listing", "path", "attrs"
    int Code;
    std::string Text;
    TBytes Data;
    std::vector<TNvSftpFileInfo> Listing;
};

// One SSH connection with the sftp subsystem; answers are kept by request id.
class TSftpSession {
public:
    TSession S;
    TNvSSHTunnelList List;
    TNvSubsystemSSHTunnel Tunnel;
    TNvSftpClient Sftp;
    bool Ready = false;
    bool Closed = false;
    std::map<uint32_t, TAnswer> Answers;
    std::function<void(uint32_t id, TAnswer&)> OnAnswer; // pipelined transfers react here

    explicit TSftpSession(TSshd& sshd) : S(sshd) {
        List.Add(&Tunnel);
        S.Client.SetTunnelList(&List);
        Sftp.SetTunnel(&Tunnel);
        Sftp.OnOpenConnection = [this](TNvSftpClient*) { Ready = true; };
        Sftp.OnCloseConnection = [this](TNvSftpClient*) { Closed = true; };
        Sftp.OnSuccess = [this](TNvSftpClient* c, const std::string& m) {
            Put(c->ReplyId(), {"success", 0, m});
        };
        Sftp.OnError = [this](TNvSftpClient* c, int code, const std::string& m) {
            Put(c->ReplyId(), {"error", code, m});
        };
        Sftp.OnOpenFile = [this](TNvSftpClient* c, const std::string& h) {
            Put(c->ReplyId(), {"handle", 0, h});
        };
        Sftp.OnAbsolutePath = [this](TNvSftpClient* c, const std::string& p) {
            Put(c->ReplyId(), {"path", 0, p});
        };
        Sftp.OnData = [this](TNvSftpClient* c, const uint8_t* b, int n) {
            TAnswer a{"data"};
            a.Data.assign(b, b + n);
            Put(c->ReplyId(), std::move(a));
        };
        Sftp.OnDirectoryListing = [this](TNvSftpClient* c, const std::vector<TNvSftpFileInfo>& l) {
            TAnswer a{"listing"};
            a.Listing.resize(l.size());
            for (size_t i = 0; i < l.size(); ++i) l[i].CopyTo(a.Listing[i]);
            Put(c->ReplyId(), std::move(a));
        };
    }

    void Put(uint32_t id, TAnswer a) {
        if (OnAnswer) {
            OnAnswer(id, a);
            return;
        }
        Answers[id] = std::move(a);
    }

    bool Connect(int port) {
        return S.Pump.Connect(port) &&
               S.Pump.RunUntil([&] { return Ready || Closed || !S.Errors.empty(); }) && Ready;
    }

    // Runs until the request's answer arrives.
    TAnswer Await(std::optional<uint32_t> id, int seconds = 30) {
        EXPECT_TRUE(id.has_value());
        if (!id) return {};
        S.Pump.RunUntil([&] { return Answers.count(*id) || Closed; }, seconds);
        auto it = Answers.find(*id);
        if (it == Answers.end()) return {"none"};
        TAnswer a = std::move(it->second);
        Answers.erase(it);
        return a;
    }

    std::string OpenHandle(std::optional<uint32_t> id) {
        TAnswer a = Await(id);
        EXPECT_EQ(a.Kind, "handle") << a.Code << " " << a.Text;
        return a.Text;
    }

    std::vector<TNvSftpFileInfo> ListFolder(const std::string& path) {
        std::vector<TNvSftpFileInfo> all;
        const std::string h = OpenHandle(Sftp.OpenDirectory(path));
        for (int i = 0; i < 100000; ++i) {
            TAnswer a = Await(Sftp.ReadDirectory(h));
            if (a.Kind != "listing") {
                EXPECT_EQ(a.Code, 1) << "a listing ends with end of file";
                break;
            }
            for (auto& e : a.Listing) all.push_back(std::move(e));
        }
        EXPECT_EQ(Await(Sftp.CloseHandle(h)).Kind, "success");
        return all;
    }

    // Moves one file through TNvSftpTransfer as the window does, with the client's events routed
    // to it; every answer must belong to one of its requests.
    bool Run(TNvSftpTransfer& t) {
        bool stray = false;
        Sftp.OnData = [&](TNvSftpClient* c, const uint8_t* b, int n) {
            stray |= !t.HandleData(c->ReplyId(), b, n);
        };
        Sftp.OnError = [&](TNvSftpClient* c, int code, const std::string& m) {
            stray |= !t.HandleStatus(c->ReplyId(), code, m);
        };
        Sftp.OnSuccess = [&](TNvSftpClient* c, const std::string& m) {
            stray |= !t.HandleStatus(c->ReplyId(), 0, m);
        };
        const bool started = t.Start();
        if (started) S.Pump.RunUntil([&] { return t.Done() || Closed; }, 120);
        // Back to keeping answers by id.
        Sftp.OnSuccess = [this](TNvSftpClient* c, const std::string& m) {
            Put(c->ReplyId(), {"success", 0, m});
        };
        Sftp.OnError = [this](TNvSftpClient* c, int code, const std::string& m) {
            Put(c->ReplyId(), {"error", code, m});
        };
        Sftp.OnData = nullptr;
        EXPECT_FALSE(stray);
        EXPECT_TRUE(t.Succeeded()) << t.FailureCode() << " " << t.FailureText();
        return started && t.Succeeded() && !stray;
    }

    bool Upload(const std::string& path, const TBytes& bytes, uint32_t block, int inFlight) {
        const std::string h = OpenHandle(Sftp.OpenFile(path, ModeWrite | ModeCreate | ModeTruncate));
        if (h.empty()) return false;
        TNvSftpTransfer t(Sftp, h, TNvSftpTransfer::TDirection::Upload, block, inFlight);
        t.Read = [&](uint64_t off, uint8_t* b, size_t max) -> long long {
            size_t n = off >= bytes.size() ? 0 : std::min(max, bytes.size() - size_t(off));
            std::copy(bytes.begin() + std::ptrdiff_t(off), bytes.begin() + std::ptrdiff_t(off + n), b);
            return (long long)n;
        };
        const bool ok = Run(t) && t.Transferred() == bytes.size();
        return Await(Sftp.CloseHandle(h)).Kind == "success" && ok;
    }

    TBytes Download(const std::string& path, uint32_t block, int inFlight, uint64_t* transferred = nullptr) {
        TBytes out;
        const std::string h = OpenHandle(Sftp.OpenFile(path, ModeRead));
        if (h.empty()) return out;
        TNvSftpTransfer t(Sftp, h, TNvSftpTransfer::TDirection::Download, block, inFlight);
        t.Write = [&](uint64_t off, const uint8_t* d, size_t n) {
            if (out.size() < off + n) out.resize(off + n);
            std::copy(d, d + n, out.begin() + std::ptrdiff_t(off));
            return true;
        };
        Run(t);
        if (transferred) *transferred = t.Transferred();
        EXPECT_EQ(t.EndOfFile(), out.size());
        EXPECT_EQ(Await(Sftp.CloseHandle(h)).Kind, "success");
        return out;
    }
};

class SftpInterop : public ::testing::Test {
protected:
    TSshd Sshd;
    std::string Work; // a folder the test user owns
    uid_t Uid = 0;
    gid_t Gid = 0;

    bool Start() {
        if (!Sshd.Start("")) {
            ADD_FAILURE() << "sshd did not start";
            return false;
        }
        Work = Sshd.Dir + "/work";
        mkdir(Work.c_str(), 0755);
        passwd* pw = getpwnam(Sshd.User.c_str());
        if (!pw || chown(Work.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            ADD_FAILURE() << "cannot hand the work folder to the test user";
            return false;
        }
        Uid = pw->pw_uid;
        Gid = pw->pw_gid;
        return true;
    }
};

TBytes RandomBytes(size_t n, unsigned seed) {
    TBytes b(n);
    std::mt19937 gen(seed);
    for (auto& x : b) x = uint8_t(gen());
    return b;
}

} // namespace

TEST_F(SftpInterop, ListingAndFileOperations) {
    if (!Start()) return;
    for (int i = 0; i < 250; ++i) std::ofstream(Work + "/f" + std::to_string(i)) << i;
    RunCommand("truncate -s 5G " + Work + "/sparse");
    TSftpSession s(Sshd);
    ASSERT_TRUE(s.Connect(Sshd.Port));

    TAnswer home = s.Await(s.Sftp.RequestAbsolutePath("."));
    EXPECT_EQ(home.Kind, "path");
    EXPECT_EQ(home.Text, Sshd.Dir);

    auto listing = s.ListFolder(Work);
    EXPECT_EQ(listing.size(), 253u); // 250 files, the sparse one, "." and ".."
    int plain = 0;
    for (const auto& e : listing) {
        if (e.Name.rfind("f", 0) == 0 && e.LongName.find(e.Name) != std::string::npos) ++plain;
        if (e.Name == "sparse") {
            EXPECT_TRUE(e.Attributes.Includes(AttrSize));
            EXPECT_EQ(e.Attributes.Size, int64_t(5) << 30);
        }
        if (e.Name == ".") {
            EXPECT_TRUE(e.Attributes.IsDirectory());
        }
    }
    EXPECT_EQ(plain, 250);

    EXPECT_EQ(s.Await(s.Sftp.MakeDirectory(Work + "/sub")).Kind, "success");
    EXPECT_EQ(s.Await(s.Sftp.RenameFile(Work + "/f0", Work + "/sub/moved")).Kind, "success");
    EXPECT_EQ(ReadFile(Work + "/sub/moved"), "0");
    TAnswer refused = s.Await(s.Sftp.RemoveDirectory(Work + "/sub"));
    EXPECT_EQ(refused.Kind, "error") << "a folder with a file in it stays";
    EXPECT_EQ(s.Await(s.Sftp.RemoveFile(Work + "/sub/moved")).Kind, "success");
    EXPECT_EQ(s.Await(s.Sftp.RemoveDirectory(Work + "/sub")).Kind, "success");
    struct stat st;
    EXPECT_NE(stat((Work + "/sub").c_str(), &st), 0);

    TAnswer missing = s.Await(s.Sftp.OpenDirectory(Work + "/nothing-here"));
    EXPECT_EQ(missing.Kind, "error");
    EXPECT_EQ(missing.Code, 2);
    TAnswer denied = s.Await(s.Sftp.CreateFile("/etc/varnello-denied"));
    EXPECT_EQ(denied.Code, 3);
    EXPECT_FALSE(s.Closed) << "refusals leave the connection usable";
}

TEST_F(SftpInterop, PipelinedTransfersArriveWhole) {
    if (!Start()) return;
    TSftpSession s(Sshd);
    ASSERT_TRUE(s.Connect(Sshd.Port));

    // Empty, small and large files, written and read with 64 requests of 32 KiB in flight.
    for (size_t size : {size_t(0), size_t(1000), size_t(64) << 20}) {
        const std::string path = Work + "/up" + std::to_string(size);
        const TBytes bytes = RandomBytes(size, unsigned(size));
        ASSERT_TRUE(s.Upload(path, bytes, 32768, 64)) << size;
        EXPECT_TRUE(ReadFile(path) == std::string(bytes.begin(), bytes.end())) << size;
        const TBytes back = s.Download(path, 32768, 64);
        EXPECT_EQ(back.size(), size);
        EXPECT_TRUE(back == bytes) << size;
    }

    // Over a longer file, create with truncate leaves exactly the new bytes.
    std::ofstream(Work + "/longer") << std::string(100000, 'L');
    ASSERT_EQ(chown((Work + "/longer").c_str(), Uid, Gid), 0);
    ASSERT_TRUE(s.Upload(Work + "/longer", TBytes(10, 'n'), 32768, 4));
    EXPECT_EQ(ReadFile(Work + "/longer"), std::string(10, 'n'));

    // Asking for the most a reply may carry: sftp-server answers with shorter blocks, and every
    // gap is asked for again.
    const TBytes odd = RandomBytes(3 * 81911 + 17, 5);
    std::ofstream(Work + "/odd", std::ios::binary)
        .write(reinterpret_cast<const char*>(odd.data()), std::streamsize(odd.size()));
    uint64_t moved = 0;
    const TBytes got = s.Download(Work + "/odd", TNvSftpClient::MaxReadLength, 8, &moved);
    EXPECT_TRUE(got == odd);
    EXPECT_EQ(moved, odd.size()) << "every byte stored once";
    EXPECT_FALSE(s.Closed);
}
