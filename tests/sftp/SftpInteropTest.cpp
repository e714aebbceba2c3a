// The SFTP client through the real SSH client against OpenSSH sshd's sftp-server: listings,
// file operations, refusals, and pipelined reads and writes checked byte for byte.
#include "../ssh/SshTestPump.h"

#include "sftp/SftpClient.h"
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
        Sftp.OnSuccess = [this](TNvSftpClient* c, const std::string& m) { Put(c->ReplyId(), {"success", 0, m}); };
        Sftp.OnError = [this](TNvSftpClient* c, int code, const std::string& m) {
            Put(c->ReplyId(), {"error", code, m});
        };
        Sftp.OnOpenFile = [this](TNvSftpClient* c, const std::string& h) { Put(c->ReplyId(), {"handle", 0, h}); };
        Sftp.OnAbsolutePath = [this](TNvSftpClient* c, const std::string& p) { Put(c->ReplyId(), {"path", 0, p}); };
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
        return S.Pump.Connect(port) && S.Pump.RunUntil([&] { return Ready || Closed || !S.Errors.empty(); }) && Ready;
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

    // Writes the bytes with up to `inFlight` requests of `block` bytes outstanding.
    bool Upload(const std::string& path, const TBytes& bytes, uint32_t block, int inFlight) {
        const std::string h = OpenHandle(Sftp.OpenFile(path, ModeWrite | ModeCreate | ModeTruncate));
        if (h.empty()) return false;
        uint64_t next = 0;
        int outstanding = 0;
        bool failed = false;
        auto fill = [&] {
            while (outstanding < inFlight && next < bytes.size()) {
                uint32_t n = uint32_t(std::min<uint64_t>(block, bytes.size() - next));
                if (!Sftp.WriteBlock(h, next, bytes.data() + next, n)) {
                    failed = true;
                    return;
                }
                next += n;
                ++outstanding;
            }
        };
        OnAnswer = [&](uint32_t, TAnswer& a) {
            --outstanding;
            if (a.Kind != "success") failed = true;
            if (!failed) fill();
        };
        fill();
        S.Pump.RunUntil([&] { return outstanding == 0 || Closed; }, 120);
        OnAnswer = nullptr;
        bool ok = !failed && outstanding == 0 && next == bytes.size();
        return Await(Sftp.CloseHandle(h)).Kind == "success" && ok;
    }

    // Reads until the server reports end of file, with up to `inFlight` reads of `block` bytes
    // outstanding; a short answer has the rest of its range asked for again.
    TBytes Download(const std::string& path, uint32_t block, int inFlight, int* shortReads = nullptr) {
        TBytes out;
        const std::string h = OpenHandle(Sftp.OpenFile(path, ModeRead));
        if (h.empty()) return out;
        std::map<uint32_t, std::pair<uint64_t, uint32_t>> reads; // id -> offset, length
        std::vector<std::pair<uint64_t, uint32_t>> retry;
        uint64_t next = 0;
        uint64_t eofAt = UINT64_MAX;
        bool failed = false;
        auto issue = [&](uint64_t offset, uint32_t length) {
            auto id = Sftp.ReadBlock(h, offset, length);
            if (!id) failed = true;
            else reads[*id] = {offset, length};
        };
        auto fill = [&] {
            while (!failed && !retry.empty()) {
                issue(retry.back().first, retry.back().second);
                retry.pop_back();
            }
            while (!failed && int(reads.size()) < inFlight && next < eofAt) {
                issue(next, block);
                next += block;
            }
        };
        OnAnswer = [&](uint32_t id, TAnswer& a) {
            auto it = reads.find(id);
            if (it == reads.end()) {
                failed = true; // an answer to nothing we asked
                return;
            }
            auto [offset, length] = it->second;
            reads.erase(it);
            if (a.Kind == "data" && !a.Data.empty() && a.Data.size() <= length) {
                if (out.size() < offset + a.Data.size()) out.resize(offset + a.Data.size());
                std::copy(a.Data.begin(), a.Data.end(), out.begin() + std::ptrdiff_t(offset));
                if (a.Data.size() < length) {
                    if (shortReads) ++*shortReads;
                    retry.emplace_back(offset + a.Data.size(), uint32_t(length - a.Data.size()));
                }
            } else if (a.Kind == "error" && a.Code == 1) {
                eofAt = std::min(eofAt, offset);
            } else {
                failed = true;
            }
            fill();
        };
        fill();
        S.Pump.RunUntil([&] { return reads.empty() || failed || Closed; }, 120);
        OnAnswer = nullptr;
        EXPECT_FALSE(failed);
        EXPECT_TRUE(reads.empty());
        EXPECT_EQ(Await(Sftp.CloseHandle(h)).Kind, "success");
        if (eofAt != UINT64_MAX && out.size() > eofAt) out.resize(eofAt);
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

    // Asking for the most a reply may carry: the server answers with shorter blocks, and every
    // gap is filled again.
    const TBytes odd = RandomBytes(3 * 81911 + 17, 5);
    std::ofstream(Work + "/odd", std::ios::binary).write(reinterpret_cast<const char*>(odd.data()), std::streamsize(odd.size()));
    int shortReads = 0;
    const TBytes got = s.Download(Work + "/odd", TNvSftpClient::MaxReadLength, 8, &shortReads);
    EXPECT_TRUE(got == odd);
    EXPECT_GT(shortReads, 0) << "sftp-server caps its answers below what was asked";
    EXPECT_FALSE(s.Closed);
}
