// Pipelined transfers against a scripted server: answers out of order, short reads, end of
// file before the listed size or after it, and answers that do not fit what was asked.
#include "sftp/SftpTransfer.h"
#include "sftp/SftpClient.h"

#include "ssh/SshWire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace Varnello::Sftp;
using Varnello::Ssh::TBytes;
using Varnello::Ssh::TSshReader;
using Varnello::Ssh::TSshWriter;

namespace {

struct TRequest {
    uint8_t Type;
    uint32_t Id;
    uint64_t Offset;
    uint32_t Length;
    TBytes Data;
};

// A server that holds the client's requests until the test answers them, in any order.
struct TScriptedServer {
    TNvSftpClient Client;
    std::vector<TRequest> Requests;
    std::unique_ptr<TNvSftpTransfer> Transfer;
    std::vector<uint32_t> Unclaimed;

    TScriptedServer() {
        Client.SendHook = [this](const uint8_t* d, size_t n) {
            TSshReader r(d + 4, n - 4, 1 << 20);
            TRequest q{};
            q.Type = r.Byte();
            if (q.Type == SSH_FXP_INIT) return;
            q.Id = r.Uint32();
            r.StringView(); // handle
            q.Offset = r.Uint64();
            if (q.Type == SSH_FXP_READ) {
                q.Length = r.Uint32();
            } else {
                q.Data = r.StringBytes();
                q.Length = uint32_t(q.Data.size());
            }
            Requests.push_back(std::move(q));
        };
        Client.OnData = [this](TNvSftpClient* c, const uint8_t* b, int n) {
            if (!Transfer->HandleData(c->ReplyId(), b, n)) Unclaimed.push_back(c->ReplyId());
        };
        Client.OnError = [this](TNvSftpClient* c, int code, const std::string& m) {
            if (!Transfer->HandleStatus(c->ReplyId(), code, m)) Unclaimed.push_back(c->ReplyId());
        };
        Client.OnSuccess = [this](TNvSftpClient* c, const std::string& m) {
            if (!Transfer->HandleStatus(c->ReplyId(), 0, m)) Unclaimed.push_back(c->ReplyId());
        };
        Client.ChannelOpened(nullptr);
        TBytes v = {0, 0, 0, 5, SSH_FXP_VERSION, 0, 0, 0, 3};
        Client.ChannelData(v.data(), v.size());
    }

    TRequest TakeAt(size_t i) {
        TRequest q = Requests.at(i);
        Requests.erase(Requests.begin() + std::ptrdiff_t(i));
        return q;
    }
    void Data(uint32_t id, const uint8_t* b, size_t n) {
        TSshWriter w(1 << 20);
        size_t m = w.BeginLength();
        w.Byte(SSH_FXP_DATA).Uint32(id).String(b, n);
        w.PatchLength(m);
        Client.ChannelData(w.Data().data(), w.Size());
    }
    void Status(uint32_t id, uint32_t code) {
        TSshWriter w;
        size_t m = w.BeginLength();
        w.Byte(SSH_FXP_STATUS).Uint32(id).Uint32(code).String(code ? "End of file" : "").String("");
        w.PatchLength(m);
        Client.ChannelData(w.Data().data(), w.Size());
    }
    // Answers one read from the file, at most `cap` bytes of it.
    void AnswerRead(const TRequest& q, const TBytes& file, size_t cap = SIZE_MAX) {
        if (q.Offset >= file.size()) {
            Status(q.Id, 1);
            return;
        }
        size_t n = std::min({size_t(q.Length), file.size() - size_t(q.Offset), cap});
        Data(q.Id, file.data() + q.Offset, n);
    }
};

TBytes Random(size_t n, unsigned seed) {
    TBytes b(n);
    std::mt19937 g(seed);
    for (auto& x : b) x = uint8_t(g());
    return b;
}

} // namespace

TEST(SftpTransfer, DownloadWithAnswersOutOfOrderAndShortReads) {
    TScriptedServer s;
    const TBytes file = Random(10 * 1000 + 123, 1);
    TBytes local;
    s.Transfer =
        std::make_unique<TNvSftpTransfer>(s.Client, "H", TNvSftpTransfer::TDirection::Download, 1000, 4);
    s.Transfer->Write = [&](uint64_t off, const uint8_t* d, size_t n) {
        if (local.size() < off + n) local.resize(off + n);
        std::copy(d, d + n, local.begin() + std::ptrdiff_t(off));
        return true;
    };
    ASSERT_TRUE(s.Transfer->Start());
    EXPECT_EQ(s.Requests.size(), 4u) << "four reads in flight";
    std::mt19937 g(7);
    for (int step = 0; step < 1000 && !s.Requests.empty(); ++step) {
        // Newest first, and every third answer cut short.
        TRequest q = s.TakeAt(s.Requests.size() - 1 - (g() % s.Requests.size()));
        s.AnswerRead(q, file, step % 3 == 0 ? 333 : SIZE_MAX);
    }
    EXPECT_TRUE(s.Requests.empty());
    EXPECT_TRUE(s.Transfer->Succeeded()) << s.Transfer->FailureText();
    EXPECT_EQ(s.Transfer->EndOfFile(), file.size());
    EXPECT_TRUE(local == file);
    EXPECT_TRUE(s.Unclaimed.empty());
}

TEST(SftpTransfer, HostileAnswersFailTheDownload) {
    auto run = [](auto answer, const char* what) {
        TScriptedServer s;
        s.Transfer =
            std::make_unique<TNvSftpTransfer>(s.Client, "H", TNvSftpTransfer::TDirection::Download, 100, 2);
        uint64_t written = 0;
        s.Transfer->Write = [&](uint64_t, const uint8_t*, size_t n) {
            written += n;
            return true;
        };
        s.Transfer->Start();
        answer(s);
        while (!s.Requests.empty()) s.Status(s.TakeAt(0).Id, 4);
        EXPECT_TRUE(s.Transfer->Done()) << what;
        EXPECT_TRUE(s.Transfer->Failed()) << what;
        return written;
    };
    TBytes big(101, 'x');
    EXPECT_EQ(
        run([&](TScriptedServer& s) { s.Data(s.TakeAt(0).Id, big.data(), big.size()); }, "longer than asked"),
        0u);
    run(
        [&](TScriptedServer& s) {
            TRequest second = s.TakeAt(1);
            s.Data(second.Id, big.data(), 100);
            s.Status(s.TakeAt(0).Id, 1);
        },
        "end of file before data already sent");
    // An answer to a request the transfer never made is not taken as file data.
    TScriptedServer s;
    s.Transfer =
        std::make_unique<TNvSftpTransfer>(s.Client, "H", TNvSftpTransfer::TDirection::Download, 100, 1);
    s.Transfer->Write = [](uint64_t, const uint8_t*, size_t) { return true; };
    s.Transfer->Start();
    s.Data(9999, big.data(), 10);
    EXPECT_EQ(s.Unclaimed, std::vector<uint32_t>{9999});
    EXPECT_EQ(s.Transfer->Transferred(), 0u);
    // A local write failure stops it; the answers still outstanding are drained.
    s.Transfer->Write = [](uint64_t, const uint8_t*, size_t) { return false; };
    s.Data(s.TakeAt(0).Id, big.data(), 10);
    EXPECT_TRUE(s.Transfer->Failed());
    EXPECT_TRUE(s.Requests.empty()) << "no new request after a failure";
}

TEST(SftpTransfer, UploadSendsEveryByteOnceAndReportsRefusal) {
    TScriptedServer s;
    const TBytes file = Random(2500, 3);
    s.Transfer =
        std::make_unique<TNvSftpTransfer>(s.Client, "H", TNvSftpTransfer::TDirection::Upload, 1000, 2);
    s.Transfer->Read = [&](uint64_t off, uint8_t* b, size_t max) -> long long {
        size_t n = off >= file.size() ? 0 : std::min(max, file.size() - size_t(off));
        std::copy(file.begin() + std::ptrdiff_t(off), file.begin() + std::ptrdiff_t(off + n), b);
        return (long long)n;
    };
    ASSERT_TRUE(s.Transfer->Start());
    TBytes remote(file.size());
    while (!s.Requests.empty()) {
        TRequest q = s.TakeAt(s.Requests.size() - 1);
        std::copy(q.Data.begin(), q.Data.end(), remote.begin() + std::ptrdiff_t(q.Offset));
        s.Status(q.Id, 0);
    }
    EXPECT_TRUE(s.Transfer->Succeeded());
    EXPECT_EQ(s.Transfer->Transferred(), file.size());
    EXPECT_TRUE(remote == file);

    TScriptedServer refused;
    refused.Transfer =
        std::make_unique<TNvSftpTransfer>(refused.Client, "H", TNvSftpTransfer::TDirection::Upload, 10, 2);
    refused.Transfer->Read = [](uint64_t, uint8_t*, size_t max) -> long long {
        return (long long)max;
    }; // endless
    refused.Transfer->Start();
    refused.Status(refused.TakeAt(0).Id, 4);
    refused.Status(refused.TakeAt(0).Id, 0);
    EXPECT_TRUE(refused.Transfer->Done());
    EXPECT_TRUE(refused.Transfer->Failed());
    EXPECT_EQ(refused.Transfer->FailureCode(), 4);
}
