// The window's state machine fed scripted replies: the flow to the first listing, unsafe names,
// downloads to a temporary file, refusals, late answers and a lost connection.
#include "securewin/SftpSession.h"

#include "ssh/SshWire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace Varnello::SecureWin;
using namespace Varnello::Sftp;
using Varnello::Ssh::TBytes;
using Varnello::Ssh::TSshReader;
using Varnello::Ssh::TSshWriter;

namespace {

struct TSent {
    uint8_t Type;
    uint32_t Id;
    std::string First;   // the first string field (path or handle)
    uint64_t Offset = 0; // READ / WRITE
    uint32_t Length = 0;
    uint32_t Flags = 0; // OPEN
};

struct THarness {
    TNvSftpClient Client;
    TSftpSession Session{Client};
    std::vector<TSent> Sent;
    std::vector<std::string> Log;
    bool Connected = true;
    std::string Dir;

    THarness() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-sftpsession-XXXXXX").string();
        Dir = mkdtemp(tmpl.data());
        Session.IsConnected = [this] { return Connected; };
        Session.OnLog = [this](const std::string& l) { Log.push_back(l); };
        Session.BlockSize = 4;
        Session.RequestsInFlight = 2;
        Client.SendHook = [this](const uint8_t* d, size_t n) {
            TSshReader r(d + 4, n - 4, 1 << 20);
            TSent s{};
            s.Type = r.Byte();
            if (s.Type == SSH_FXP_INIT) return;
            s.Id = r.Uint32();
            s.First = r.String();
            if (s.Type == SSH_FXP_READ || s.Type == SSH_FXP_WRITE) {
                s.Offset = r.Uint64();
                s.Length = s.Type == SSH_FXP_READ ? r.Uint32() : uint32_t(r.StringView().size());
            }
            if (s.Type == SSH_FXP_OPEN) s.Flags = r.Uint32();
            Sent.push_back(s);
        };
        Client.ChannelOpened(nullptr);
        Feed(Packet(SSH_FXP_VERSION, [](TSshWriter& w) { w.Uint32(3); }));
    }
    ~THarness() { std::filesystem::remove_all(Dir); }

    template <typename F> static TBytes Packet(uint8_t type, F body) {
        TSshWriter w(1 << 20);
        size_t m = w.BeginLength();
        w.Byte(type);
        body(w);
        w.PatchLength(m);
        return w.Take();
    }
    void Feed(const TBytes& b) { Client.ChannelData(b.data(), b.size()); }
    const TSent& Last() const { return Sent.back(); }
    void Handle(uint32_t id, const std::string& h) {
        Feed(Packet(SSH_FXP_HANDLE, [&](TSshWriter& w) { w.Uint32(id).String(h); }));
    }
    void Status(uint32_t id, uint32_t code, const std::string& m = "") {
        Feed(Packet(SSH_FXP_STATUS, [&](TSshWriter& w) { w.Uint32(id).Uint32(code).String(m).String(""); }));
    }
    void Data(uint32_t id, const std::string& d) {
        Feed(Packet(SSH_FXP_DATA, [&](TSshWriter& w) { w.Uint32(id).String(d); }));
    }
    // name, permissions, size
    void Names(uint32_t id, const std::vector<std::tuple<std::string, uint32_t, uint64_t>>& entries) {
        Feed(Packet(SSH_FXP_NAME, [&](TSshWriter& w) {
            w.Uint32(id).Uint32(uint32_t(entries.size()));
            for (auto& [n, p, s] : entries) w.String(n).String("").Uint32(5).Uint64(s).Uint32(p);
        }));
    }
    // Runs the first listing with the given entries in one NAME reply.
    void List(const std::vector<std::tuple<std::string, uint32_t, uint64_t>>& entries) {
        Handle(Last().Id, "D");
        Names(Last().Id, entries);
        Status(Last().Id, 1, "End of file");
    }
    bool Logged(const std::string& line) const {
        return std::find(Log.begin(), Log.end(), line) != Log.end();
    }
    size_t Index(const std::string& name) const {
        for (size_t i = 0; i < Session.Entries().size(); ++i)
            if (Session.Entries()[i].Name == name) return i;
        return SIZE_MAX;
    }
    // The names in the folder, sorted, one a line.
    std::string Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string out;
        for (const auto& n : names) out += n + "\n";
        return out;
    }
};

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

TEST(SftpSession, FirstListingSkipsUnsafeNamesAndKeepsServerOrder) {
    THarness h;
    ASSERT_EQ(h.Sent.size(), 1u);
    EXPECT_EQ(h.Last().Type, SSH_FXP_OPENDIR);
    EXPECT_EQ(h.Last().First, ".");
    h.Handle(h.Last().Id, "D");
    EXPECT_EQ(h.Last().Type, SSH_FXP_READDIR);
    h.Names(h.Last().Id, {{"zeta", 0x81A4, 3}, {"..", 0x41ED, 0}, {"a/b", 0x81A4, 1}});
    h.Names(h.Last().Id, {{std::string("n\0ul", 4), 0x81A4, 1}, {"alpha", 0x41ED, 0}, {"..\\x", 0x81A4, 1}});
    EXPECT_EQ(h.Session.Entries().size(), 0u) << "the list is shown once it is complete";
    h.Status(h.Last().Id, 1, "End of file");
    EXPECT_EQ(h.Last().Type, SSH_FXP_CLOSE);
    ASSERT_EQ(h.Session.Entries().size(), 3u);
    EXPECT_EQ(h.Session.Entries()[0].Name, "zeta");
    EXPECT_EQ(h.Session.Entries()[1].Name, "..");
    EXPECT_EQ(h.Session.Entries()[2].Name, "alpha");
    EXPECT_EQ(FormatPermissions(h.Session.Entries()[1].Attributes), "drwxr-xr-x");
    EXPECT_EQ(FormatPermissions(h.Session.Entries()[0].Attributes), "rw-r--r--");
    EXPECT_TRUE(h.Logged("Skipped unsafe name \"a/b\""));
    EXPECT_TRUE(h.Logged("File list received"));
    EXPECT_TRUE(h.Logged("Closing active handle"));

    // "..": open, close, absolute path with a trailing slash, then list what came back.
    h.Session.ChangeDirectory(h.Index(".."));
    EXPECT_EQ(h.Last().First, "./..");
    h.Handle(h.Last().Id, "P");
    EXPECT_EQ(h.Last().Type, SSH_FXP_CLOSE);
    h.Status(h.Last().Id, 0);
    EXPECT_EQ(h.Last().Type, SSH_FXP_REALPATH);
    EXPECT_EQ(h.Last().First, "./../");
    h.Feed(THarness::Packet(SSH_FXP_NAME, [&](TSshWriter& w) {
        w.Uint32(h.Last().Id).Uint32(1).String("/srv").String("").Uint32(0);
    }));
    EXPECT_EQ(h.Session.CurrentDir(), "/srv");
    EXPECT_EQ(h.Last().Type, SSH_FXP_OPENDIR);
    EXPECT_EQ(h.Last().First, "/srv");
}

TEST(SftpSession, DownloadAppearsUnderItsNameOnlyWhenComplete) {
    THarness h;
    h.List({{"f", 0x81A4, 5}, {"g", 0x81A4, 5}, {"...", 0x81A4, 1}});
    const std::string target = h.Dir + "/f";
    std::ofstream(target + ".part") << "user's own file";

    h.Session.Download(h.Index("f"), target);
    EXPECT_EQ(h.Last().Type, SSH_FXP_OPEN);
    EXPECT_EQ(h.Last().Flags, uint32_t(ModeRead));
    h.Handle(h.Last().Id, "F");
    // Two reads of 4 bytes in flight; the listing said 5 bytes but the file has grown to 9.
    // The second is answered first and the first falls short, so the rest is asked again.
    const std::string remote = "012345678";
    std::set<uint32_t> answered;
    ASSERT_GE(h.Sent.size(), 2u);
    TSent r1 = h.Sent[h.Sent.size() - 2], r2 = h.Last();
    EXPECT_EQ(r2.Offset, 4u);
    h.Data(r2.Id, "4567");
    h.Data(r1.Id, "01");
    answered = {r1.Id, r2.Id};
    struct stat st;
    EXPECT_NE(stat(target.c_str(), &st), 0) << "nothing under the final name yet";
    for (int round = 0; round < 50; ++round) {
        std::vector<TSent> open;
        for (auto& q : h.Sent)
            if (q.Type == SSH_FXP_READ && !answered.count(q.Id)) open.push_back(q);
        if (open.empty()) break;
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            answered.insert(it->Id);
            if (it->Offset >= remote.size())
                h.Status(it->Id, 1, "End of file");
            else
                h.Data(it->Id, remote.substr(it->Offset, it->Length));
        }
    }
    EXPECT_FALSE(h.Session.Busy());
    EXPECT_TRUE(h.Logged("File received"));
    EXPECT_EQ(ReadAll(target), "012345678") << "read to end of file, past the listed size";
    EXPECT_EQ(ReadAll(target + ".part"), "user's own file") << "an existing file is not used as scratch";
    EXPECT_EQ(h.Last().Type, SSH_FXP_CLOSE);

    // A refused open and a lost connection leave nothing behind.
    h.Session.Download(h.Index("g"), h.Dir + "/g");
    h.Status(h.Last().Id, 2, "No such file");
    EXPECT_TRUE(h.Logged("Error #2 with comment \"No such file\""));
    h.Session.Download(h.Index("g"), h.Dir + "/g");
    h.Handle(h.Last().Id, "G");
    h.Data(h.Sent[h.Sent.size() - 2].Id, "abcd");
    h.Connected = false;
    h.Client.ChannelClosed();
    EXPECT_TRUE(h.Logged("Error: connection lost, transfer failed"));
    EXPECT_EQ(h.Files(), "f\nf.part\n");
    h.Session.Download(h.Index("..."), h.Dir + "/x");
    EXPECT_TRUE(h.Logged("Error: unsafe file name \"...\", download cancelled."));
    h.Session.MakeDirectory("d");
    EXPECT_TRUE(h.Logged("Error: not connected"));
}

TEST(SftpSession, OneActionAtATimeAndLateAnswersIgnored) {
    THarness h;
    h.List({{"a", 0x81A4, 1}, {"b", 0x41ED, 0}});
    h.Session.Rename(h.Index("a"), "");
    EXPECT_TRUE(h.Logged("Invalid filename, renaming cancelled."));
    const size_t before = h.Sent.size();
    h.Session.Rename(h.Index("a"), "c");
    const TSent rename = h.Last();
    EXPECT_EQ(rename.Type, SSH_FXP_RENAME);
    h.Session.Remove(h.Index("b"));
    EXPECT_TRUE(h.Logged("Error: the previous operation has not finished yet"));
    EXPECT_EQ(h.Sent.size(), before + 1);
    h.Status(rename.Id + 100, 0); // an answer to nothing outstanding
    EXPECT_EQ(h.Sent.size(), before + 1);
    h.Status(rename.Id, 0, "ok");
    EXPECT_TRUE(h.Logged("Operation succeeded with comment \"ok\""));
    EXPECT_EQ(h.Last().Type, SSH_FXP_OPENDIR) << "the folder is listed again";
    h.List({{"b", 0x41ED, 0}});
    h.Session.Remove(0);
    EXPECT_EQ(h.Last().Type, SSH_FXP_RMDIR);
    h.Status(h.Last().Id, 3, "Permission denied");
    EXPECT_TRUE(h.Logged("Error #3 with comment \"Permission denied\""));
    EXPECT_FALSE(h.Session.Busy()) << "a refusal ends the action";

    // An upload opens with create and truncate and sends every byte.
    const std::string local = h.Dir + "/up.txt";
    std::ofstream(local) << "123456";
    h.Session.Upload(local);
    EXPECT_EQ(h.Last().Flags, uint32_t(ModeWrite | ModeCreate | ModeTruncate));
    EXPECT_EQ(h.Last().First, "./up.txt");
    h.Handle(h.Last().Id, "U");
    uint64_t sent = 0;
    for (int i = 0; i < 10 && h.Last().Type == SSH_FXP_WRITE; ++i) {
        std::vector<TSent> writes;
        for (auto& s : h.Sent)
            if (s.Type == SSH_FXP_WRITE && s.Offset + s.Length > sent) writes.push_back(s);
        for (auto& w : writes) {
            sent = std::max(sent, w.Offset + w.Length);
            h.Status(w.Id, 0);
        }
    }
    EXPECT_EQ(sent, 6u);
    EXPECT_EQ(h.Last().Type, SSH_FXP_CLOSE);
    h.Status(h.Last().Id, 0);
    EXPECT_EQ(h.Last().Type, SSH_FXP_OPENDIR) << "after an upload the folder is listed again";
}
