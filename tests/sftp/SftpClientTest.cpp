// Transcripts: scripted server bytes go in through the channel handlers, the packets the client
// sends are compared byte for byte, and every event is recorded in order.
#include "sftp/SftpClient.h"

#include "ssh/SshWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Varnello::Sftp;
using Varnello::Ssh::TBytes;
using Varnello::Ssh::TSshReader;
using Varnello::Ssh::TSshWriter;

namespace {

TBytes Hex(const std::string& hex) {
    TBytes out;
    for (size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// A reply packet: length, type, then the body the writer builds.
template <typename F> TBytes Reply(uint8_t type, F body) {
    TSshWriter w(1 << 20);
    size_t mark = w.BeginLength();
    w.Byte(type);
    body(w);
    w.PatchLength(mark);
    return w.Take();
}

TBytes Version(uint32_t v) {
    return Reply(SSH_FXP_VERSION, [&](TSshWriter& w) { w.Uint32(v); });
}

TBytes Status(uint32_t id, uint32_t code, const std::string& msg) {
    return Reply(SSH_FXP_STATUS, [&](TSshWriter& w) { w.Uint32(id).Uint32(code).String(msg).String("en"); });
}

struct TTranscript {
    TNvSftpClient Client;
    std::vector<TBytes> Sent;
    std::vector<std::string> Events;
    std::vector<TNvSftpFileInfo> Listing;
    std::vector<uint32_t> ReplyIds;
    TBytes Data;

    TTranscript() {
        Client.SendHook = [this](const uint8_t* d, size_t n) { Sent.emplace_back(d, d + n); };
        Client.OnOpenConnection = [this](TNvSftpClient*) { Events.push_back("open"); };
        Client.OnCloseConnection = [this](TNvSftpClient*) { Events.push_back("close"); };
        Client.OnOpenFile = [this](TNvSftpClient* c, const std::string& h) {
            Events.push_back("handle " + h);
            ReplyIds.push_back(c->ReplyId());
        };
        Client.OnError = [this](TNvSftpClient* c, int code, const std::string& m) {
            Events.push_back("error " + std::to_string(code) + " " + m);
            ReplyIds.push_back(c->ReplyId());
        };
        Client.OnSuccess = [this](TNvSftpClient* c, const std::string& m) {
            Events.push_back("success " + m);
            ReplyIds.push_back(c->ReplyId());
        };
        Client.OnDirectoryListing = [this](TNvSftpClient*, const std::vector<TNvSftpFileInfo>& l) {
            Events.push_back("listing " + std::to_string(l.size()));
            for (const auto& e : l) {
                TNvSftpFileInfo copy;
                e.CopyTo(copy);
                Listing.push_back(copy);
            }
        };
        Client.OnFileAttributes = [this](TNvSftpClient*, const TNvSftpFileAttributes& a) {
            Events.push_back("attrs " + std::to_string(a.Size));
        };
        Client.OnData = [this](TNvSftpClient* c, const uint8_t* b, int n) {
            Events.push_back("data " + std::to_string(n));
            Data.insert(Data.end(), b, b + n);
            ReplyIds.push_back(c->ReplyId());
        };
        Client.OnAbsolutePath = [this](TNvSftpClient*, const std::string& p) {
            Events.push_back("path " + p);
        };
    }

    void Open() {
        Client.ChannelOpened(nullptr);
        Feed(Version(3));
        Events.clear();
        Sent.clear();
    }
    void Feed(const TBytes& b) { Client.ChannelData(b.data(), b.size()); }
};

} // namespace

TEST(SftpClient, InitAndFirstRequestsOnTheWire) {
    TTranscript t;
    EXPECT_FALSE(t.Client.CreateFile("a")) << "nothing goes out before the channel is open";
    t.Client.ChannelOpened(nullptr);
    ASSERT_EQ(t.Sent.size(), 1u);
    EXPECT_EQ(t.Sent[0], Hex("00 00 00 05 01 00 00 00 03"));
    t.Feed(Version(3));
    EXPECT_EQ(t.Events, std::vector<std::string>{"open"});

    EXPECT_EQ(t.Client.CreateFile("a"), 1u);
    EXPECT_EQ(t.Sent[1], Hex("00 00 00 12 03 00 00 00 01 00 00 00 01 61 00 00 00 0A 00 00 00 00"));

    // Truncate and exclusive only travel with create.
    t.Client.OpenFile("a", ModeWrite | ModeTruncate | ModeExclusive);
    EXPECT_EQ(t.Sent[2], Hex("00 00 00 12 03 00 00 00 02 00 00 00 01 61 00 00 00 02 00 00 00 00"));
    t.Client.OpenFile("a", ModeWrite | ModeCreate | ModeTruncate);
    EXPECT_EQ(t.Sent[3], Hex("00 00 00 12 03 00 00 00 03 00 00 00 01 61 00 00 00 1A 00 00 00 00"));

    // 64-bit offsets go out whole.
    t.Client.ReadBlock("h", 0x0000000140000000ull, 32768);
    EXPECT_EQ(t.Sent[4],
              Hex("00 00 00 16 05 00 00 00 04 00 00 00 01 68 00 00 00 01 40 00 00 00 00 00 80 00"));
    const uint8_t payload[] = {0xAA, 0xBB};
    t.Client.WriteBlock("h", 7, payload, 2);
    EXPECT_EQ(t.Sent[5],
              Hex("00 00 00 18 06 00 00 00 05 00 00 00 01 68 00 00 00 00 00 00 00 07 00 00 00 02 AA BB"));
    t.Client.RenameFile("x", "yz");
    EXPECT_EQ(t.Sent[6], Hex("00 00 00 10 12 00 00 00 06 00 00 00 01 78 00 00 00 02 79 7A"));
    EXPECT_EQ(t.Client.PendingCount(), 7u); // INIT's entry is never answered
}

TEST(SftpClient, AttributeBlockEncoding) {
    TTranscript t;
    t.Open();
    TNvSftpFileAttributes a;
    a.UID = 5;
    a.GID = 6;
    a.Include(AttrGID);
    a.Include(AttrExtended);
    a.ExtendedAttributes = {{"t", "d"}, {"u", "e"}};
    t.Client.MakeDirectory("d", &a);
    // Only GID marked: both ids go; the extended pairs never do.
    EXPECT_EQ(t.Sent[0],
              Hex("00 00 00 16 0E 00 00 00 01 00 00 00 01 64 00 00 00 02 00 00 00 05 00 00 00 06"));

    TNvSftpFileAttributes full;
    full.Size = 0x123456789LL;
    full.Permissions = 0x41ED;
    full.ATime = 1;
    full.SetMTimeFromDateTime(25569.5);
    EXPECT_EQ(full.MTime, 43200u);
    for (auto at : {AttrSize, AttrPermissions, AttrMTime}) full.Include(at);
    TSshWriter w;
    full.Encode(w);
    EXPECT_EQ(w.Data(), Hex("00 00 00 0D 00 00 00 01 23 45 67 89 00 00 41 ED 00 00 00 01 00 00 A8 C0"));
    TNvSftpFileAttributes back;
    TSshReader r(w.Data());
    EXPECT_EQ(back.Decode(r), w.Size());
    EXPECT_EQ(back.Size, full.Size);
    EXPECT_EQ(back.MTime, 43200u);
    EXPECT_TRUE(back.Includes(AttrATime)) << "one time flag carries both times";
    EXPECT_FALSE(back.Includes(AttrUID));

    EXPECT_TRUE(back.IsDirectory() && back.UserRead() && back.UserWrite() && back.UserExecute());
    EXPECT_TRUE(back.GroupRead() && !back.GroupWrite() && back.GroupExecute());
    EXPECT_TRUE(back.OtherRead() && !back.OtherWrite() && back.OtherExecute());
    back.Permissions = 0x81A4;
    EXPECT_FALSE(back.IsDirectory());

    // 1/256 of a day is exactly 337.5 s: ties round to even.
    EXPECT_EQ(TNvSftpFileAttributes::DateTimeToUnix(25569.0 + 1.0 / 256), 338u);
    EXPECT_EQ(TNvSftpFileAttributes::DateTimeToUnix(25569.0 + 3.0 / 256), 1012u);
}

TEST(SftpClient, RepliesRaiseTheirEventsWithTheirIds) {
    TTranscript t;
    t.Open();
    t.Client.OpenDirectory("/d");      // 1
    t.Client.ReadDirectory("H");       // 2
    t.Client.RequestAbsolutePath("."); // 3
    t.Client.ReadBlock("F", 0, 10);    // 4
    t.Client.ReadDirectory("H");       // 5

    TBytes joined = Status(9, 0, "");
    TBytes h = Reply(SSH_FXP_HANDLE, [](TSshWriter& w) { w.Uint32(1).String("H"); });
    joined.insert(joined.end(), h.begin(), h.end());
    t.Feed(joined); // two replies in one delivery, dispatched in order
    // Two entries; the first carries two extended pairs of different lengths.
    t.Feed(Reply(SSH_FXP_NAME, [](TSshWriter& w) {
        w.Uint32(2).Uint32(2);
        w.String("a").String("-rw a").Uint32(0x80000001).Uint64(5).Uint32(2);
        w.String("x").String("long data").String("type2").String("");
        w.String("b").String("drwx b").Uint32(4).Uint32(0x41ED);
    }));
    t.Feed(Reply(SSH_FXP_NAME,
                 [](TSshWriter& w) { w.Uint32(3).Uint32(1).String("/home/u").String("").Uint32(0); }));
    t.Feed(Reply(SSH_FXP_DATA, [](TSshWriter& w) { w.Uint32(4).String("hello"); }));
    t.Feed(Reply(SSH_FXP_NAME, [](TSshWriter& w) { w.Uint32(5).Uint32(0); }));
    t.Feed(Status(2, 1, "EOF"));
    t.Feed(Reply(SSH_FXP_ATTRS, [](TSshWriter& w) { w.Uint32(77).Uint32(1).Uint64(5ull << 30); }));
    t.Feed(Reply(SSH_FXP_NAME, [](TSshWriter& w) { w.Uint32(555).Uint32(0); })); // unknown id: no event
    t.Feed(Reply(200, [](TSshWriter& w) { w.Uint32(1); }));                      // unknown type: ignored

    EXPECT_EQ(t.Events, (std::vector<std::string>{"success ", "handle H", "listing 2", "path /home/u",
                                                  "data 5", "listing 0", "error 1 EOF", "attrs 5368709120"}));
    EXPECT_EQ(t.ReplyIds, (std::vector<uint32_t>{9, 1, 4, 2}));
    ASSERT_EQ(t.Listing.size(), 2u);
    EXPECT_EQ(t.Listing[0].Name, "a");
    EXPECT_EQ(t.Listing[0].Attributes.Size, 5);
    EXPECT_TRUE(t.Listing[0].Attributes.ExtendedAttributes.empty()) << "CopyTo leaves the pairs behind";
    EXPECT_EQ(t.Listing[1].Name, "b");
    EXPECT_TRUE(t.Listing[1].Attributes.IsDirectory());
    EXPECT_EQ(std::string(t.Data.begin(), t.Data.end()), "hello");
    EXPECT_EQ(t.Client.PendingCount(), 1u); // only INIT's entry is left
}

TEST(SftpClient, ReassemblyAcrossDeliveriesAndTheLengthLimit) {
    TTranscript t;
    t.Open();
    t.Client.ReadBlock("F", 0, 60000);
    // A split reply is dispatched once, when its last byte arrives.
    TBytes d = Reply(SSH_FXP_DATA, [](TSshWriter& w) { w.Uint32(1).String(std::string(300, 'x')); });
    t.Client.ChannelData(d.data(), 2);
    t.Client.ChannelData(d.data() + 2, 100);
    EXPECT_TRUE(t.Events.empty());
    t.Client.ChannelData(d.data() + 102, d.size() - 102);
    EXPECT_EQ(t.Events, std::vector<std::string>{"data 300"});

    // Exactly the buffer size is accepted, even delivered in one block with a reply after it.
    TBytes big = Reply(SSH_FXP_DATA, [](TSshWriter& w) { w.Uint32(1).String(std::string(81920 - 9, 'y')); });
    ASSERT_EQ(big.size(), 4u + 81920u);
    TBytes two = big;
    TBytes st = Status(1, 0, "ok");
    two.insert(two.end(), st.begin(), st.end());
    t.Feed(two);
    EXPECT_EQ(t.Events.back(), "success ok");
    EXPECT_EQ(t.Events[1], "data 81911");

    // One above it ends the connection.
    t.Events.clear();
    TBytes tooBig = Hex("00 01 40 01 67");
    t.Feed(tooBig);
    EXPECT_EQ(t.Events, (std::vector<std::string>{"error 101 Invalid Packet", "close"}));
    EXPECT_FALSE(t.Client.ReadBlock("F", 0, 1)) << "a failed connection sends nothing more";
}

TEST(SftpClient, InvalidRepliesEndTheConnection) {
    auto expectInvalid = [](const TBytes& reply, const char* what) {
        TTranscript t;
        t.Open();
        t.Client.ReadDirectory("H");
        t.Feed(reply);
        EXPECT_EQ(t.Events, (std::vector<std::string>{"error 101 Invalid Packet", "close"})) << what;
        EXPECT_TRUE(t.Listing.empty()) << what;
    };
    expectInvalid(Reply(SSH_FXP_STATUS, [](TSshWriter& w) { w.Uint32(1).Uint32(0).String("no tag"); }),
                  "status without its language tag");
    expectInvalid(Reply(SSH_FXP_HANDLE, [](TSshWriter& w) { w.Uint32(1).String(std::string(32769, 'h')); }),
                  "string of 32769 bytes");
    expectInvalid(Reply(SSH_FXP_DATA, [](TSshWriter& w) { w.Uint32(1).Uint32(10).Raw(TBytes(9, 0)); }),
                  "data count beyond the packet");
    expectInvalid(
        Reply(SSH_FXP_NAME, [](TSshWriter& w) { w.Uint32(1).Uint32(2).String("a").String("").Uint32(0); }),
        "fewer entries than announced");
    expectInvalid(Reply(SSH_FXP_NAME, [](TSshWriter& w) { w.Uint32(1).Uint32(0xFFFFFFFF); }),
                  "a huge entry count");
    expectInvalid(Reply(SSH_FXP_ATTRS, [](TSshWriter& w) { w.Uint32(1).Uint32(0x0F).Uint64(1); }),
                  "attribute flags announcing missing fields");
    expectInvalid(
        Reply(SSH_FXP_ATTRS, [](TSshWriter& w) { w.Uint32(1).Uint32(0x80000000).Uint32(3).String("a"); }),
        "extended pairs cut short");
    expectInvalid(Hex("00 00 00 00"), "an empty packet");
    expectInvalid(Hex("00 00 00 01 65"), "a status with no fields");
}

TEST(SftpClient, VersionAndLowerLevelFailures) {
    {
        TTranscript t;
        t.Client.ChannelOpened(nullptr);
        t.Sent.clear();
        t.Feed(Version(4));
        EXPECT_EQ(t.Events, (std::vector<std::string>{"error 100 Unsupported Protocol Version", "close"}));
        EXPECT_TRUE(t.Sent.empty());
    }
    {
        TTranscript t;
        t.Open();
        t.Client.ChannelExtendedData();
        EXPECT_TRUE(t.Events.empty());
        t.Client.ChannelError();
        t.Client.ChannelClosed();
        t.Client.TunnelClosed();
        EXPECT_EQ(t.Events, (std::vector<std::string>{"error 102 Tunnel Error", "close",
                                                      "error 103 Connection closed by lower level protocol",
                                                      "close", "close"}));
        EXPECT_FALSE(t.Client.RemoveFile("x")) << "no request after the channel closed";
    }
}

TEST(SftpClient, OversizedRequestsAreRefusedAndAHandlerFailureConsumesThePacket) {
    TTranscript t;
    t.Open();
    const uint32_t most = TNvSftpClient::MaxWriteLength(4);
    TBytes block(most + 1, 1);
    EXPECT_FALSE(t.Client.WriteBlock("HHHH", 0, block.data(), most + 1));
    EXPECT_TRUE(t.Sent.empty());
    EXPECT_TRUE(t.Client.WriteBlock("HHHH", 0, block.data(), most));
    ASSERT_EQ(t.Sent.size(), 1u);
    EXPECT_EQ(t.Sent[0].size(), TNvSftpClient::BufferSize);
    EXPECT_FALSE(t.Client.RemoveFile(std::string(TNvSftpClient::BufferSize, 'p')));
    // A read whose answer could not be taken in is not asked for.
    EXPECT_FALSE(t.Client.ReadBlock("HHHH", 0, TNvSftpClient::MaxReadLength + 1));
    EXPECT_TRUE(t.Client.ReadBlock("HHHH", 0, TNvSftpClient::MaxReadLength));

    int calls = 0;
    t.Client.OnSuccess = [&](TNvSftpClient*, const std::string&) {
        ++calls;
        throw std::runtime_error("local file error");
    };
    TBytes s = Status(1, 0, "");
    EXPECT_THROW(t.Feed(s), std::runtime_error);
    t.Client.OnSuccess = nullptr;
    t.Feed(Status(2, 1, "next"));
    EXPECT_EQ(calls, 1) << "the failed packet is not dispatched again";
    EXPECT_EQ(t.Events.back(), "error 1 next");
}
