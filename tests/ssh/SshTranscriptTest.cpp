// The client in process against scripted peers: exact bytes in, exact bytes out.
#include "ScriptedServer.h"

#include "ssh/SshError.h"

#include <gtest/gtest.h>

#include <set>

using namespace Varnello::Ssh;
using namespace ScriptedSsh;

namespace {

// A client with recorders on its events.
struct TClientProbe {
    TNvSSHClient Client;
    std::vector<int> Errors;
    std::vector<int> AuthFailures;
    std::vector<std::string> Debug;
    std::vector<std::string> Events;
    bool Opened = false;

    TClientProbe() {
        Client.Versions = qxSSH2;
        Client.UserName = "user";
        Client.Password = "secret";
        const uint8_t seed[] = {42};
        Client.SeedRandom(seed, 1);
        Client.OnError = [this](TNvSSHClient*, int c) {
            Errors.push_back(c);
            Events.push_back("error " + std::to_string(c));
        };
        Client.OnAuthenticationFailed = [this](TNvSSHClient*, int t) { AuthFailures.push_back(t); };
        Client.OnDebugData = [this](TNvSSHClient*, const uint8_t* b, int n) {
            Debug.emplace_back(reinterpret_cast<const char*>(b), size_t(n));
        };
        Client.OnOpenConnection = [this](TNvSSHClient*) {
            Opened = true;
            Events.push_back("open");
        };
        Client.OnCloseConnection = [this](TNvSSHClient*) { Events.push_back("close"); };
    }
};

// Unencrypted packets the client sent after its identification line.
std::vector<TBytes> PlainPackets(const std::vector<uint8_t>& sent) {
    std::vector<TBytes> out;
    size_t p = 0;
    while (p < sent.size() && sent[p] != '\n') ++p;
    ++p;
    while (p + 5 <= sent.size()) {
        uint32_t len =
            uint32_t(sent[p]) << 24 | uint32_t(sent[p + 1]) << 16 | uint32_t(sent[p + 2]) << 8 | sent[p + 3];
        uint8_t pad = sent[p + 4];
        if (p + 4 + len > sent.size()) break;
        out.emplace_back(sent.begin() + std::ptrdiff_t(p + 5),
                         sent.begin() + std::ptrdiff_t(p + 4 + len - pad));
        p += 4 + len;
    }
    return out;
}

TBytes Packet(const TBytes& payload, uint8_t padding = 4) {
    TSshWriter w;
    w.Uint32(uint32_t(payload.size() + 1 + padding)).Byte(padding).Raw(payload);
    for (int i = 0; i < padding; ++i) w.Byte(0);
    return w.Take();
}

std::string ClientLine(const std::vector<uint8_t>& sent) {
    std::string s(sent.begin(), sent.end());
    return s.substr(0, s.find('\n') + 1);
}

// --- Identification --------------------------------------------------------------------------

TEST(SshIdentification, LinesTerminatorsAndVersions) {
    {
        // Split over reads of 5 bytes: the line is parsed once, when its terminator arrives.
        TClientProbe c;
        TScriptedServer s;
        s.SendRaw("SSH-2.0-Peer_1\r\n");
        TLink link(c.Client, s);
        link.Limit = 5;
        c.Client.Open();
        link.Run();
        EXPECT_EQ(std::string(link.ClientSent.begin(), link.ClientSent.end()), "SSH-2.0-Norvane_SSH\r\n");
        EXPECT_TRUE(c.Errors.empty());
    }
    {
        TClientProbe c;
        c.Client.SoftwareName = "My Client-1.0";
        TScriptedServer s;
        s.SendRaw("SSH-1.99-Peer\n");
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(std::string(link.ClientSent.begin(), link.ClientSent.end()), "SSH-2.0-My\n");
    }
    {
        // Lines before the identification are skipped.
        TClientProbe c;
        TScriptedServer s;
        s.SendRaw("Welcome\r\n\r\nSSH-2.0-Peer\r\n");
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(ClientLine(link.ClientSent), "SSH-2.0-Norvane_SSH\r\n");
        EXPECT_EQ(c.Client.ServerVersion(), "Peer");
    }
    struct TBad {
        std::string Line;
        TSSHVersions Versions;
        int Error;
    } bad[] = {{"SSH-2.0\r\n", qxSSH2, 1},
               {"SSH-1.3-x\r\n", qxSSH2, 2},
               {"SSH-2.0-x\r\n", 0, 2},
               {"SSH-1.5-x\r\n", qxSSH2, 2},
               {"SSH-2.0-" + std::string(300, 'a'), qxSSH2, 1}};
    for (const TBad& b : bad) {
        TClientProbe c;
        c.Client.Versions = b.Versions;
        TScriptedServer s;
        s.SendRaw(b.Line);
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(c.Errors, std::vector<int>{b.Error}) << b.Line.substr(0, 20);
        EXPECT_TRUE(link.ClientSent.empty()) << b.Line.substr(0, 20);
        // Stalled: no further byte is read.
        if (b.Error == 1 && b.Line.size() > 255) {
            EXPECT_EQ(link.Delivered, 255u);
        }
    }
}

// --- Packet layer without keys ---------------------------------------------------------------

struct TPlainCase {
    const char* Label;
    TBytes Bytes;
    int Error;
};

TEST(SshPackets, MalformedFramingIsRefusedBeforeReadingOn) {
    TBytes huge = {0x00, 0x04, 0x93, 0xE0, 4, 0, 0, 0}; // packet_length 300000
    TBytes shortLen = {0, 0, 0, 2, 1, 0, 0, 0};         // below b - 4
    TBytes thinPadding = Packet({2}, 3);                // padding below four bytes
    TBytes padPastEnd = {0, 0, 0, 12, 40, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    TPlainCase cases[] = {
        {"huge", huge, 11}, {"short", shortLen, 6}, {"padding3", thinPadding, 6}, {"padding", padPastEnd, 6}};
    for (const TPlainCase& pc : cases) {
        TClientProbe c;
        TScriptedServer s;
        s.SendRaw("SSH-2.0-Peer\r\n");
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        // The packet arrives after the identification, so the reads show the exact amounts.
        s.Sent.insert(s.Sent.end(), pc.Bytes.begin(), pc.Bytes.end());
        s.Sent.insert(s.Sent.end(), 400000, 0);
        link.Run();
        EXPECT_EQ(c.Errors, std::vector<int>{pc.Error}) << pc.Label;
        if (pc.Error == 11) {
            EXPECT_EQ(link.Delivered, 14u + 8u) << "no byte past the first block";
        }
        // The abort sends DISCONNECT with reason 2 and the message.
        std::vector<TBytes> sent = PlainPackets(link.ClientSent);
        ASSERT_FALSE(sent.empty()) << pc.Label;
        TSshReader r(sent.back());
        EXPECT_EQ(r.Byte(), 1);
        EXPECT_EQ(r.Uint32(), 2u);
        EXPECT_EQ(r.String(), pc.Error == 11 ? "Invalid packet size" : "Invalid packet");
        EXPECT_EQ(r.String(), "");
        EXPECT_EQ(c.Events.back(), "close");
    }
}

TEST(SshPackets, TransportMessagesBeforeKeys) {
    TClientProbe c;
    TScriptedServer s;
    s.SendRaw("SSH-2.0-Peer\r\n");
    TSshWriter ignore;
    ignore.Byte(2).String("anything at all");
    auto add = [&](const TBytes& p) {
        TBytes pk =
            Packet(p, uint8_t(8 - (p.size() + 5) % 8 < 4 ? 16 - (p.size() + 5) % 8 : 8 - (p.size() + 5) % 8));
        s.Sent.insert(s.Sent.end(), pk.begin(), pk.end());
    };
    add(ignore.Take());
    TSshWriter debug;
    debug.Byte(4).Boolean(true).String("hello there").String("en");
    add(debug.Take());
    TSshWriter badDebug;
    badDebug.Byte(4).Boolean(false).Uint32(50).Raw(TBytes(10, 'x'));
    add(badDebug.Take());
    TLink link(c.Client, s);
    c.Client.Open();
    link.Run();
    EXPECT_EQ(c.Debug, std::vector<std::string>{"hello there"});
    EXPECT_EQ(c.Errors, std::vector<int>{6});
}

TEST(SshPackets, UnknownMessageBeforeKeysIsError3AndServerDisconnectIsReported) {
    {
        TClientProbe c;
        TScriptedServer s;
        s.SendRaw("SSH-2.0-Peer\r\n");
        TBytes pk = Packet({200, 0, 0}, 8);
        s.Sent.insert(s.Sent.end(), pk.begin(), pk.end());
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(c.Errors, std::vector<int>{3});
    }
    {
        TClientProbe c;
        TScriptedServer s;
        s.SendRaw("SSH-2.0-Peer\r\n");
        TSshWriter d;
        d.Byte(1).Uint32(11).String("bye").String("");
        TBytes payload = d.Take();
        TBytes pk = Packet(payload, uint8_t(16 - (payload.size() + 5) % 8));
        s.Sent.insert(s.Sent.end(), pk.begin(), pk.end());
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(c.Events, (std::vector<std::string>{"error 11", "close"}));
        EXPECT_EQ(c.Client.DisconnectMessage(), "bye");
        EXPECT_TRUE(PlainPackets(link.ClientSent).empty()) << "no DISCONNECT is sent back";
    }
}

// --- KEXINIT -----------------------------------------------------------------------------------

TBytes KexInitLists(const std::vector<std::string>& kex, const std::vector<std::string>& hostKeys,
                    const std::vector<std::string>& ciphers, const std::vector<std::string>& macs,
                    const std::vector<std::string>& comp) {
    TSshWriter w;
    w.NameList(kex).NameList(hostKeys).NameList(ciphers).NameList(ciphers).NameList(macs).NameList(macs);
    w.NameList(comp).NameList(comp).NameList({}).NameList({}).Boolean(false).Uint32(0);
    return w.Take();
}

TBytes ClientKexInitFor(TAlgorithmSet set, bool force) {
    TClientProbe c;
    c.Client.AlgorithmSet = set;
    c.Client.ForceCompression = force;
    TScriptedServer s;
    if (set == TAlgorithmSet::asOriginal) {
        // A server of the classic kind, so that negotiation succeeds and the KEXINIT goes out.
        s.SendRaw("SSH-2.0-Peer\r\n");
        TSshWriter w;
        w.Byte(20).Raw(TBytes(16, 7));
        w.Raw(KexInitLists({"diffie-hellman-group1-sha1"}, {"ssh-rsa"}, {"aes128-cbc"}, {"hmac-sha1"},
                           {"none"}));
        TBytes p = w.Take();
        TBytes pk = Packet(p, uint8_t(16 - (p.size() + 5) % 8));
        s.Sent.insert(s.Sent.end(), pk.begin(), pk.end());
    } else {
        s.Begin();
    }
    TLink link(c.Client, s);
    c.Client.Open();
    link.Run();
    std::vector<TBytes> sent = PlainPackets(link.ClientSent);
    if (sent.empty() || sent[0][0] != 20) return {};
    return TBytes(sent[0].begin() + 17, sent[0].end());
}

TEST(SshKexInit, OriginalSetIsTheClassicOfferByteForByte) {
    const std::vector<std::string> kex = {"diffie-hellman-group-exchange-sha1", "diffie-hellman-group1-sha1"};
    const std::vector<std::string> hostKeys = {"ssh-dss",         "ssh-rsa",       "x509v3-sign-rsa",
                                               "x509v3-sign-dss", "spki-sign-rsa", "spki-sign-dss",
                                               "pgp-sign-rsa",    "pgp-sign-dss"};
    const std::vector<std::string> ciphers = {
        "blowfish-cbc", "twofish256-cbc", "twofish192-cbc", "twofish128-cbc", "aes256-cbc",
        "aes192-cbc",   "aes128-cbc",     "serpent256-cbc", "serpent192-cbc", "serpent128-cbc",
        "arcfour",      "idea-cbc",       "cast128-cbc",    "none",           "des-cbc"};
    const std::vector<std::string> macs = {"hmac-sha1", "hmac-sha1-96", "hmac-md5", "hmac-md5-96", "none"};
    EXPECT_EQ(ClientKexInitFor(TAlgorithmSet::asOriginal, false),
              KexInitLists(kex, hostKeys, ciphers, macs, {"none", "zlib"}));
    EXPECT_EQ(ClientKexInitFor(TAlgorithmSet::asOriginal, true),
              KexInitLists(kex, hostKeys, ciphers, macs, {"zlib", "none"}));
}

TEST(SshKexInit, ModernSetLeadsWithTodaysAlgorithmsAndOffersNoNoneCipher) {
    TBytes lists = ClientKexInitFor(TAlgorithmSet::asModern, false);
    ASSERT_FALSE(lists.empty());
    TSshReader r(lists);
    EXPECT_EQ(
        JoinNames(r.NameList()),
        "curve25519-sha256,curve25519-sha256@libssh.org,diffie-hellman-group16-sha512,"
        "diffie-hellman-group14-sha256,diffie-hellman-group-exchange-sha256,diffie-hellman-group-exchange-"
        "sha1,"
        "diffie-hellman-group1-sha1,diffie-hellman-group14-sha1,ext-info-c,kex-strict-c-v00@openssh.com");
    EXPECT_EQ(JoinNames(r.NameList()),
              "ssh-ed25519,rsa-sha2-512,rsa-sha2-256,ssh-dss,ssh-rsa,x509v3-sign-rsa,"
              "x509v3-sign-dss,spki-sign-rsa,spki-sign-dss,pgp-sign-rsa,pgp-sign-dss");
    const std::string ciphers = JoinNames(r.NameList());
    EXPECT_EQ(ciphers.rfind(
                  "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes128-gcm@openssh.com,aes256-ctr,"
                  "aes192-ctr,aes128-ctr,blowfish-cbc,",
                  0),
              0u);
    EXPECT_EQ(ciphers.find("none"), std::string::npos);
    r.NameList();
    const std::string macs = JoinNames(r.NameList());
    EXPECT_EQ(macs, "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha1-etm@openssh.com,"
                    "hmac-sha2-256,hmac-sha2-512,hmac-sha1,hmac-sha1-96,hmac-md5,hmac-md5-96");
    r.NameList();
    EXPECT_EQ(JoinNames(r.NameList()), "none,zlib@openssh.com,zlib");
    EXPECT_EQ(JoinNames(ClientKexInitFor(TAlgorithmSet::asModern, true).empty() ? std::vector<std::string>{} : [] {
                  TBytes l = ClientKexInitFor(TAlgorithmSet::asModern, true);
                  TSshReader rr(l);
                  for (int i = 0; i < 6; ++i) rr.NameList();
                  return rr.NameList();
              }()),
              "zlib@openssh.com,zlib,none");
}

// --- Whole sessions against the scripted server ----------------------------------------------

// Answers the service request and "none" with success, then sends a debug message.
void ScriptLogin(TScriptedServer& s) {
    s.OnClientPacket = [&s](const TBytes& p) {
        if (p[0] == 5) {
            TSshWriter w;
            w.Byte(6).String("ssh-userauth");
            s.SendPacket(w.Take());
        } else if (p[0] == 50) {
            s.SendPacket(TBytes{52});
            TSshWriter d;
            d.Byte(4).Boolean(false).String("hello").String("");
            s.SendPacket(d.Take());
            TSshWriter ig;
            ig.Byte(2).String("padding of the stream");
            s.SendPacket(ig.Take());
        }
    };
}

struct TPair {
    const char* Cipher;
    const char* Mac;
};

const TPair Pairs[] = {
    {"chacha20-poly1305@openssh.com", "hmac-sha2-256"},
    {"aes256-gcm@openssh.com", "hmac-sha2-256"},
    {"aes128-gcm@openssh.com", "hmac-sha2-256"},
    {"aes256-ctr", "hmac-sha2-256-etm@openssh.com"},
    {"aes192-ctr", "hmac-sha2-512-etm@openssh.com"},
    {"aes128-ctr", "hmac-sha1-etm@openssh.com"},
    {"aes128-ctr", "hmac-sha2-256"},
    {"aes256-ctr", "hmac-sha2-512"},
    {"aes128-cbc", "hmac-sha1"},
    {"aes256-cbc", "hmac-sha1-96"},
    {"aes192-cbc", "hmac-md5"},
    {"blowfish-cbc", "hmac-md5-96"},
    {"twofish256-cbc", "hmac-sha1"},
    {"serpent128-cbc", "hmac-sha1"},
    {"arcfour", "hmac-sha1"},
    {"idea-cbc", "hmac-md5"},
    {"cast128-cbc", "hmac-sha1"},
    {"des-cbc", "hmac-sha1"},
};

TEST(SshSession, EveryCipherAndMacCarriesASessionAndRefusesEveryFlippedByte) {
    for (const TPair& pair : Pairs) {
        SCOPED_TRACE(std::string(pair.Cipher) + " / " + pair.Mac);
        TClientProbe c;
        TScriptedServer s;
        s.Options.Cipher = pair.Cipher;
        s.Options.Mac = pair.Mac;
        ScriptLogin(s);
        s.Begin();
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        ASSERT_TRUE(c.Errors.empty()) << c.Errors.front();
        ASSERT_TRUE(c.Opened);
        ASSERT_EQ(c.Debug, std::vector<std::string>{"hello"});
        EXPECT_STREQ(c.Client.Negotiated().CipherIn->Name, pair.Cipher);
        ASSERT_GT(s.EncryptedFrom, 0u);

        // Replays of the recorded stream, each with one byte flipped after the server's NEWKEYS.
        const size_t span = s.Sent.size() - s.EncryptedFrom;
        for (size_t k = 0; k < 40; ++k) {
            const size_t at = s.EncryptedFrom + (k * 7919) % span;
            std::vector<uint8_t> replay = s.Sent;
            replay[at] ^= uint8_t(1 << (k % 8));
            // Later traffic that a waiting client would read (a flipped length asks for more).
            replay.insert(replay.end(), 130000, 0);
            TClientProbe r;
            TScriptedServer unused;
            TLink rl(r.Client, unused);
            rl.Replay = &replay;
            r.Client.Open();
            rl.Run();
            ASSERT_EQ(r.Errors.size(), 1u) << "flip at " << at;
            EXPECT_TRUE(std::set<int>({6, 11, 105}).count(r.Errors[0])) << r.Errors[0] << " at " << at;
            EXPECT_TRUE(r.Debug.empty() || r.Debug[0] == "hello") << "altered data delivered";
        }
    }
}

TEST(SshSession, DelayedCompressionStartsAfterAuthentication) {
    TClientProbe c;
    c.Client.ForceCompression = true;
    TScriptedServer s;
    s.Options.Compression = "zlib@openssh.com";
    s.Options.Cipher = "aes128-gcm@openssh.com";
    ScriptLogin(s);
    s.Begin();
    TLink link(c.Client, s);
    c.Client.Open();
    link.Run();
    // The scripted server does not compress, so the client's inflater refuses its first packet
    // after USERAUTH_SUCCESS: proof that decompression switched on at that point, not before.
    EXPECT_TRUE(c.Opened);
    EXPECT_EQ(c.Errors, std::vector<int>{106});
    EXPECT_TRUE(c.Debug.empty());
}

TEST(SshKex, FailuresOfTheExchange) {
    struct TCase {
        const char* Label;
        std::function<void(TScriptedServer&)> Setup;
        bool Refuse;
        int Error;
    } cases[] = {
        {"small-order point", [](TScriptedServer& s) { s.Options.AllZeroPoint = true; }, false, 103},
        {"bad signature", [](TScriptedServer& s) { s.Options.BadSignature = true; }, false, 6},
        {"unsupported host key format",
         [](TScriptedServer& s) { s.Options.HostKeyAlgorithm = "x509v3-sign-rsa"; }, false, 103},
        {"no common cipher", [](TScriptedServer& s) { s.Options.Cipher = "3des-cbc"; }, false, 6},
        {"refused host key", [](TScriptedServer&) {}, true, 109},
    };
    for (const TCase& tc : cases) {
        TClientProbe c;
        TScriptedServer s;
        tc.Setup(s);
        if (tc.Refuse) c.Client.OnKeyValidate = [](TNvSSHClient*, const TNvSSHKey&, bool& v) { v = false; };
        s.Begin();
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(c.Errors, std::vector<int>{tc.Error}) << tc.Label;
        EXPECT_EQ(c.Events.back(), "close") << tc.Label;
        bool newKeys = false;
        for (const TBytes& p : PlainPackets(link.ClientSent)) newKeys |= p[0] == 21;
        EXPECT_FALSE(newKeys) << tc.Label;
    }
}

TEST(SshKex, KeyValidateGetsTheEd25519HostKey) {
    TClientProbe c;
    TScriptedServer s;
    TBytes seen;
    int type = -1;
    c.Client.OnKeyValidate = [&](TNvSSHClient*, const TNvSSHKey& k, bool& v) {
        EXPECT_TRUE(v);
        type = k.KeyType;
        seen = k.Ed25519PublicKey;
    };
    ScriptLogin(s);
    s.Begin();
    TLink link(c.Client, s);
    c.Client.Open();
    link.Run();
    EXPECT_EQ(type, TNvSSHKey::ktEd25519);
    uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = uint8_t(i * 7 + 1);
    Varnello::Crypto::TEd25519Key k(seed);
    EXPECT_EQ(seen, TBytes(k.PublicKey(), k.PublicKey() + 32));
}

TEST(SshKex, StrictModeRefusesAnIgnoreBeforeKexInit) {
    TClientProbe c;
    TScriptedServer s;
    s.SendRaw("SSH-2.0-Scripted_1.0\r\n");
    TSshWriter ig;
    ig.Byte(2).String("x");
    TBytes p = ig.Take();
    TBytes pk = Packet(p, uint8_t(16 - (p.size() + 5) % 8));
    s.Sent.insert(s.Sent.end(), pk.begin(), pk.end());
    // The rest of a normal exchange follows, but its identification line must not be sent again.
    TScriptedServer real;
    real.Begin();
    const std::string ident = "SSH-2.0-Scripted_1.0\r\n";
    s.Sent.insert(s.Sent.end(), real.Sent.begin() + std::ptrdiff_t(ident.size()), real.Sent.end());
    TLink link(c.Client, s);
    c.Client.Open();
    link.Run();
    EXPECT_EQ(c.Errors, std::vector<int>{6});
}

// --- After the first exchange ------------------------------------------------------------------

struct TOpenSession {
    TClientProbe C;
    TScriptedServer S;
    TLink Link{C.Client, S};
    std::vector<TBytes> AfterLogin; // client payloads after authentication

    void Start(TNvSSHTunnelList* list = nullptr) {
        if (list) C.Client.SetTunnelList(list);
        S.OnClientPacket = [this](const TBytes& p) {
            if (p[0] == 5) {
                TSshWriter w;
                w.Byte(6).String("ssh-userauth");
                S.SendPacket(w.Take());
            } else if (p[0] == 50) {
                S.SendPacket(TBytes{52});
            } else {
                AfterLogin.push_back(p);
                if (OnPacket) OnPacket(p);
            }
        };
        S.Begin();
        C.Client.Open();
        Link.Run();
    }
    std::function<void(const TBytes&)> OnPacket;
};

TEST(SshSession, UnknownMessagesAndRequestsAreAnsweredNotFatal) {
    TOpenSession o;
    o.Start();
    ASSERT_TRUE(o.C.Opened);
    o.S.SendPacket(TBytes{200, 1, 2});
    TSshWriter g;
    g.Byte(80).String("keepalive@openssh.com").Boolean(true);
    o.S.SendPacket(g.Take());
    o.Link.Run();
    EXPECT_TRUE(o.C.Errors.empty());
    ASSERT_EQ(o.AfterLogin.size(), 2u);
    TSshReader r(o.AfterLogin[0]);
    EXPECT_EQ(r.Byte(), 3); // UNIMPLEMENTED with the sequence number of the refused packet
    // With strict kex the counter restarted at NEWKEYS: ACCEPT 0, SUCCESS 1, the unknown one 2.
    EXPECT_EQ(r.Uint32(), 2u);
    EXPECT_EQ(o.AfterLogin[1], TBytes{82});
}

TEST(SshSession, ServerReExchangeKeepsTheSessionAndLosesNothing) {
    TOpenSession o;
    o.Start();
    ASSERT_TRUE(o.C.Opened);
    const TBytes firstId = o.S.SessionId;
    const size_t mark = o.S.ClientPayloads.size();
    // The server starts a new exchange, and a request that needs a reply arrives right behind
    // its KEXINIT: the reply has to wait for the new keys, then go out under them.
    o.S.SendKexInit();
    TSshWriter g;
    g.Byte(80).String("keepalive@openssh.com").Boolean(true);
    o.S.SendPacket(g.Take());
    o.Link.Run();
    std::vector<uint8_t> kinds;
    for (size_t i = mark; i < o.S.ClientPayloads.size(); ++i) kinds.push_back(o.S.ClientPayloads[i][0]);
    EXPECT_EQ(kinds, (std::vector<uint8_t>{20, 30, 21, 82})) << "no second ssh-userauth request";
    EXPECT_EQ(o.C.Client.KeyExchanges(), 2);
    EXPECT_EQ(o.S.SessionId, firstId);
    // The new keys carry on both ways.
    TSshWriter d;
    d.Byte(4).Boolean(false).String("after").String("");
    o.S.SendPacket(d.Take());
    o.Link.Run();
    EXPECT_EQ(o.C.Debug, std::vector<std::string>{"after"});
    EXPECT_TRUE(o.C.Errors.empty());
}

TEST(SshSession, OwnReKeyHoldsOtherMessagesUntilNewKeys) {
    TOpenSession o;
    o.Start();
    ASSERT_TRUE(o.C.Opened);
    o.C.Client.RekeyTime = std::chrono::seconds(0);
    // The next packet in finds the keys "an hour" old: the client sends its KEXINIT ...
    TSshWriter ig;
    ig.Byte(2).String("tick");
    o.S.SendPacket(ig.Take());
    o.Link.Run();
    ASSERT_FALSE(o.S.ClientPayloads.empty());
    EXPECT_EQ(o.S.ClientPayloads.back()[0], 20);
    const size_t mark = o.S.ClientPayloads.size();
    // ... and until the exchange is through, a reply it owes is held back, not sent.
    TSshWriter g;
    g.Byte(80).String("keepalive@openssh.com").Boolean(true);
    o.S.SendPacket(g.Take());
    o.Link.Run();
    EXPECT_EQ(o.S.ClientPayloads.size(), mark);
    EXPECT_TRUE(o.C.Errors.empty());
}

TEST(SshChannels, SubsystemOpensThenSendsRespectTheWindowAndPacketSize) {
    TNvSSHTunnelList list;
    TNvSubsystemSSHTunnel sftp;
    sftp.Subsystem = "sftp";
    list.Add(&sftp);
    TNvSSHTunnelConnection* conn = nullptr;
    std::vector<std::string> order;
    std::string received;
    int closeType = -1;
    sftp.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        order.push_back("tunnel open");
        conn = c;
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            received.append(reinterpret_cast<const char*>(b), size_t(n));
        };
        c->OnClose = [&](TNvSSHTunnelConnection*, int t) { closeType = t; };
    };
    TOpenSession o;
    o.C.Client.OnOpenConnection = [&](TNvSSHClient*) { order.push_back("session open"); };
    o.OnPacket = [&](const TBytes& p) {
        TSshReader r(p);
        const uint8_t m = r.Byte();
        if (m == 90) {
            EXPECT_EQ(r.String(), "session");
            const uint32_t local = r.Uint32();
            EXPECT_EQ(r.Uint32(), 2u * 1024 * 1024);
            EXPECT_EQ(r.Uint32(), 32768u);
            TSshWriter w;
            w.Byte(91).Uint32(local).Uint32(77).Uint32(100).Uint32(40);
            o.S.SendPacket(w.Take());
        } else if (m == 98) {
            EXPECT_EQ(r.Uint32(), 77u);
            EXPECT_EQ(r.String(), "subsystem");
            EXPECT_TRUE(r.Boolean());
            EXPECT_EQ(r.String(), "sftp");
            TSshWriter w;
            w.Byte(99).Uint32(0);
            o.S.SendPacket(w.Take());
        }
    };
    o.Start(&list);
    EXPECT_EQ(order, (std::vector<std::string>{"session open", "tunnel open"}));
    ASSERT_NE(conn, nullptr);
    {
        const TBytes lastPayload = o.AfterLogin.back();
        TSshReader r(lastPayload);
        EXPECT_EQ(r.Byte(), 93);
        EXPECT_EQ(r.Uint32(), 77u);
        EXPECT_EQ(r.Uint32(), 131072u);
    }
    const size_t before = o.AfterLogin.size();
    std::string data(250, 'd');
    conn->SendData(reinterpret_cast<const uint8_t*>(data.data()), int(data.size()));
    std::vector<size_t> chunks;
    auto collect = [&](size_t from) {
        for (size_t i = from; i < o.AfterLogin.size(); ++i) {
            TSshReader r(o.AfterLogin[i]);
            if (r.Byte() != 94) continue;
            EXPECT_EQ(r.Uint32(), 77u);
            chunks.push_back(r.StringView().size());
        }
    };
    collect(before);
    EXPECT_EQ(chunks, (std::vector<size_t>{40, 40, 20})) << "the window of 100 is used up";
    const size_t mid = o.AfterLogin.size();
    TSshWriter adj;
    adj.Byte(93).Uint32(0).Uint32(1000);
    o.S.SendPacket(adj.Take());
    o.Link.Run();
    chunks.clear();
    collect(mid);
    EXPECT_EQ(chunks, (std::vector<size_t>{40, 40, 40, 30}));

    // 100 data bytes are answered with an adjustment of 365 before OnData sees them.
    const size_t mark = o.AfterLogin.size();
    TSshWriter d;
    d.Byte(94).Uint32(0).String(std::string(100, 'x'));
    o.S.SendPacket(d.Take());
    TSshWriter ka;
    ka.Byte(98).Uint32(0).String("keepalive@openssh.com").Boolean(true);
    o.S.SendPacket(ka.Take());
    o.Link.Run();
    EXPECT_EQ(received, std::string(100, 'x'));
    ASSERT_EQ(o.AfterLogin.size(), mark + 2);
    {
        TSshReader r(o.AfterLogin[mark]);
        EXPECT_EQ(r.Byte(), 93);
        EXPECT_EQ(r.Uint32(), 77u);
        EXPECT_EQ(r.Uint32(), 365u);
        TSshReader f(o.AfterLogin[mark + 1]);
        EXPECT_EQ(f.Byte(), 100); // CHANNEL_FAILURE, not an abort
        EXPECT_EQ(f.Uint32(), 77u);
    }

    // exit-signal, EOF and CLOSE: one CLOSE back, OnClose with type 1, then the session closes.
    const size_t end = o.AfterLogin.size();
    TSshWriter sig;
    sig.Byte(98)
        .Uint32(0)
        .String("exit-signal")
        .Boolean(false)
        .String("KILL")
        .Boolean(false)
        .String("killed")
        .String("");
    o.S.SendPacket(sig.Take());
    TSshWriter eof;
    eof.Byte(96).Uint32(0);
    o.S.SendPacket(eof.Take());
    TSshWriter cl;
    cl.Byte(97).Uint32(0);
    o.S.SendPacket(cl.Take());
    o.Link.Run();
    int closes = 0;
    for (size_t i = end; i < o.AfterLogin.size(); ++i) closes += o.AfterLogin[i][0] == 97;
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(closeType, 1);
    EXPECT_EQ(o.C.Events.back(), "close");
    EXPECT_FALSE(o.C.Client.SessionActive());
    EXPECT_TRUE(o.C.Errors.empty());
}

TEST(SshChannels, SendWhileNoSessionIsError222) {
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel cmd;
    cmd.Command = "x";
    list.Add(&cmd);
    TOpenSession o;
    o.Start(&list); // the server never confirms the channel
    ASSERT_EQ(o.C.Client.Connections().size(), 1u);
    EXPECT_FALSE(o.C.Client.SessionActive());
    const uint8_t b[] = {1};
    o.C.Client.Connections()[0]->SendData(b, 1);
    EXPECT_EQ(o.C.Errors, std::vector<int>{222});
}

// --- Authentication ------------------------------------------------------------------------------

TEST(SshAuthentication, WrongPasswordAndKeyboardInteractiveRounds) {
    {
        TClientProbe c;
        TScriptedServer s;
        s.OnClientPacket = [&](const TBytes& p) {
            if (p[0] == 5) {
                TSshWriter w;
                w.Byte(6).String("ssh-userauth");
                s.SendPacket(w.Take());
            } else if (p[0] == 50) {
                TSshWriter w;
                w.Byte(51).NameList({"publickey", "password"}).Boolean(false);
                s.SendPacket(w.Take());
            }
        };
        s.Begin();
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(c.AuthFailures, std::vector<int>{4});
        EXPECT_EQ(c.Errors, std::vector<int>{114});
    }
    {
        // AuthenticationTypes 18: keyboard-interactive before public keys; an INFO_REQUEST with
        // zero prompts still raises the event and is answered with a count of 0; fewer responses
        // than prompts are padded with empty strings.
        TClientProbe c;
        c.Client.AuthenticationTypes = atPublicKey | atKeyboardInteractive;
        TScriptedServer s;
        std::vector<TBytes> responses;
        int round = 0;
        std::vector<size_t> promptCounts;
        c.Client.OnAuthenticationKeyboard = [&](TNvSSHClient*, const std::vector<std::string>& prompts,
                                                const std::vector<bool>&, std::vector<std::string>& out) {
            promptCounts.push_back(prompts.size());
            if (!prompts.empty()) out.push_back("first");
        };
        s.OnClientPacket = [&](const TBytes& p) {
            if (p[0] == 5) {
                TSshWriter w;
                w.Byte(6).String("ssh-userauth");
                s.SendPacket(w.Take());
            } else if (p[0] == 50) {
                TSshReader r(p);
                r.Byte();
                r.String();
                r.String();
                const std::string method = r.String();
                if (method == "none") {
                    TSshWriter w;
                    w.Byte(51).NameList({"publickey", "keyboard-interactive"}).Boolean(false);
                    s.SendPacket(w.Take());
                } else if (method == "keyboard-interactive") {
                    TSshWriter w;
                    w.Byte(60).String("").String("").String("").Uint32(0);
                    s.SendPacket(w.Take());
                } else {
                    TSshWriter w;
                    w.Byte(51).NameList({"publickey", "keyboard-interactive"}).Boolean(false);
                    s.SendPacket(w.Take());
                }
            } else if (p[0] == 61) {
                responses.push_back(p);
                if (++round == 1) {
                    TSshWriter w;
                    w.Byte(60)
                        .String("n")
                        .String("i")
                        .String("")
                        .Uint32(2)
                        .String("A:")
                        .Boolean(true)
                        .String("B:")
                        .Boolean(false);
                    s.SendPacket(w.Take());
                } else {
                    TSshWriter w;
                    w.Byte(51).NameList({"publickey", "keyboard-interactive"}).Boolean(false);
                    s.SendPacket(w.Take());
                }
            }
        };
        s.Begin();
        TLink link(c.Client, s);
        c.Client.Open();
        link.Run();
        EXPECT_EQ(promptCounts, (std::vector<size_t>{0, 2}));
        ASSERT_EQ(responses.size(), 2u);
        TSshWriter zero;
        zero.Byte(61).Uint32(0);
        EXPECT_EQ(responses[0], zero.Data());
        TSshWriter two;
        two.Byte(61).Uint32(2).String("first").String("");
        EXPECT_EQ(responses[1], two.Data());
        // Then publickey with no storage: failed at once, and nothing is left.
        EXPECT_EQ(c.AuthFailures, (std::vector<int>{16, 2}));
        EXPECT_EQ(c.Errors, std::vector<int>{114});
    }
}

} // namespace
