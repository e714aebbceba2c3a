// The protocol 1.5 engine in process against a scripted server: exact bytes in and out.
#include "Ssh1TestKeys.h"

#include "ssh/Ssh1.h"
#include "ssh/SshClient.h"
#include "ssh/crypto/CipherSuite.h"
#include "ssh/crypto/Compression.h"
#include "ssh/crypto/Md5.h"
#include "ssh/crypto/Rsa.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

using namespace Varnello::Ssh;
using Varnello::Crypto::TBigInt;

namespace {

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Bitwise reflected CRC-32, initial value 0, no final inversion: the protocol 1 trailer,
// written out here independently of the library's table version.
uint32_t BitCrc(const uint8_t* p, size_t n) {
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc;
}

struct TKey {
    TBigInt N, D, E = TBigInt::FromUint(65537);
};

TKey MakeKey(const char* n, const char* d) {
    return {TBigInt::FromHex(n), TBigInt::FromHex(d)};
}

void PutMpint(TBytes& out, const TBigInt& v) {
    TSshWriter w;
    WriteSsh1Mpint(w, v.ToMinimalBytes());
    out.insert(out.end(), w.Data().begin(), w.Data().end());
}

// The server side of a session: reads what the client sent, answers in exact bytes.
struct TSsh1Script {
    TNvSSHClient Client;
    std::deque<uint8_t> ToClient;
    TBytes FromClient;
    size_t Read = 0;
    std::vector<int> Errors, AuthFailures;
    std::vector<std::string> Events;
    TKey ServerKey = MakeKey(Ssh1TestKeys::Key1024N, Ssh1TestKeys::Key1024D);
    TKey HostKey = MakeKey(Ssh1TestKeys::Key1280N, Ssh1TestKeys::Key1280D);
    uint8_t Cookie[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t SessionId[16] = {};
    TBytes SessionKey;
    TBytes Last;
    std::unique_ptr<Varnello::Crypto::TNvCipher> Enc, Dec;
    std::unique_ptr<Varnello::Crypto::TCompressor> Deflate;
    std::unique_ptr<Varnello::Crypto::TDecompressor> Inflate;

    TSsh1Script() {
        Client.Versions = qxSSH1;
        Client.UserName = "user";
        Client.Password = "secret";
        const uint8_t seed[] = {7};
        Client.SeedRandom(seed, 1);
        Client.OnSend = [this](TNvSSHClient*, const uint8_t* b, int n) {
            FromClient.insert(FromClient.end(), b, b + n);
        };
        Client.OnReceive = [this](TNvSSHClient*, uint8_t* b, int max, int& written) {
            written = 0;
            while (written < max && !ToClient.empty()) {
                b[written++] = ToClient.front();
                ToClient.pop_front();
            }
        };
        Client.OnError = [this](TNvSSHClient*, int c) {
            Errors.push_back(c);
            Events.push_back("error " + std::to_string(c));
        };
        Client.OnAuthenticationFailed = [this](TNvSSHClient*, int t) { AuthFailures.push_back(t); };
        Client.OnAuthenticationSuccess = [this](TNvSSHClient*) { Events.push_back("auth"); };
        Client.OnOpenConnection = [this](TNvSSHClient*) { Events.push_back("open"); };
        Client.OnCloseConnection = [this](TNvSSHClient*) { Events.push_back("close"); };
    }

    void Run() {
        for (int i = 0; i < 1000 && !ToClient.empty(); ++i) Client.ReceiveData();
    }

    void Raw(const TBytes& b) {
        ToClient.insert(ToClient.end(), b.begin(), b.end());
        Run();
    }

    void Start(const std::string& line = "SSH-1.5-Scripted\n") {
        Client.Open();
        Raw(TBytes(line.begin(), line.end()));
    }

    std::string ClientLine() {
        const auto nl = std::find(FromClient.begin() + long(Read), FromClient.end(), uint8_t('\n'));
        std::string s(FromClient.begin() + long(Read), nl);
        Read = size_t(nl - FromClient.begin()) + 1;
        return s;
    }

    void Send(const TBytes& payload) {
        TBytes p = payload;
        if (Deflate) Deflate->Compress(p);
        const uint32_t len = uint32_t(p.size() + 4);
        const size_t pad = 8 - len % 8;
        TBytes pkt(4 + pad, 0);
        pkt[0] = uint8_t(len >> 24), pkt[1] = uint8_t(len >> 16), pkt[2] = uint8_t(len >> 8),
        pkt[3] = uint8_t(len);
        pkt.insert(pkt.end(), p.begin(), p.end());
        const uint32_t crc = BitCrc(pkt.data() + 4, pkt.size() - 4);
        for (int i = 3; i >= 0; --i) pkt.push_back(uint8_t(crc >> (8 * i)));
        if (Enc) Enc->Process(pkt.data() + 4, pkt.size() - 4);
        Raw(pkt);
    }

    // The next packet the client sent, checked (padding, CRC) and returned as type and data.
    TBytes Next() {
        if (FromClient.size() - Read < 4) return {};
        const uint32_t len = Be32(FromClient.data() + Read);
        const size_t pad = 8 - len % 8;
        EXPECT_LE(Read + 4 + pad + len, FromClient.size());
        TBytes body(FromClient.begin() + long(Read) + 4, FromClient.begin() + long(Read + 4 + pad + len));
        Read += 4 + pad + len;
        if (Dec) Dec->Process(body.data(), body.size());
        EXPECT_EQ(BitCrc(body.data(), body.size() - 4), Be32(body.data() + body.size() - 4));
        if (!Enc) {
            for (size_t i = 0; i < pad; ++i) EXPECT_EQ(body[i], 0) << "padding in clear is zero";
        }
        TBytes payload(body.begin() + long(pad), body.end() - 4);
        if (Inflate) Inflate->Decompress(payload);
        return payload;
    }

    TBytes PublicKeyMessage(uint32_t ciphers, uint32_t auths) {
        TBytes p{2};
        p.insert(p.end(), Cookie, Cookie + 8);
        const TKey* keys[] = {&ServerKey, &HostKey};
        for (const TKey* k : keys) {
            const uint32_t bits = uint32_t(k->N.BitCount());
            for (int i = 3; i >= 0; --i) p.push_back(uint8_t(bits >> (8 * i)));
            PutMpint(p, k->E);
            PutMpint(p, k->N);
        }
        for (uint32_t v : {uint32_t(0), ciphers, auths})
            for (int i = 3; i >= 0; --i) p.push_back(uint8_t(v >> (8 * i)));
        return p;
    }

    // Sends the public key, reads the session key the client chose and keys both directions.
    int KeyExchange(uint32_t ciphers = 1u << 3 | 1u << 6, uint32_t auths = 1u << 3) {
        EXPECT_EQ(ClientLine().rfind("SSH-1.5-", 0), 0u);
        Send(PublicKeyMessage(ciphers, auths));
        const TBytes m = Next();
        Last = m;
        if (m.size() < 12 || m[0] != 3) return -1;
        const int cipher = m[1];
        EXPECT_EQ(0, std::memcmp(m.data() + 2, Cookie, 8));
        TSshReader r(m.data() + 10, m.size() - 10, 100000);
        const TBytes enc = ReadSsh1Mpint(r, 8192);
        EXPECT_EQ(r.Uint32(), 3u);
        EXPECT_TRUE(r.AtEnd());

        Varnello::Crypto::TMd5 md5;
        const TBytes hn = HostKey.N.ToMinimalBytes(), sn = ServerKey.N.ToMinimalBytes();
        md5.Update(hn.data(), hn.size());
        md5.Update(sn.data(), sn.size());
        md5.Update(Cookie, 8);
        md5.Final(SessionId);
        // Undo the outer (larger modulus) layer, then the inner one.
        const TKey* outer = HostKey.N > ServerKey.N ? &HostKey : &ServerKey;
        const TKey* inner = outer == &HostKey ? &ServerKey : &HostKey;
        TBytes data = enc;
        for (const TKey* k : {outer, inner}) {
            const Varnello::Crypto::TRsaPrivateKey priv{k->E, k->N, k->D};
            TBytes block(Varnello::Crypto::RsaModulusBytes(k->N));
            Varnello::Crypto::RsaPrivate(priv, TBigInt::FromBytes(data)).ToBytes(block.data(), block.size());
            auto un = Varnello::Crypto::RsaUnpadType2(block.data(), block.size());
            if (!un) {
                ADD_FAILURE() << "session key layer is not a type 2 block";
                return -1;
            }
            data = *un;
        }
        EXPECT_EQ(data.size(), 32u);
        for (int i = 0; i < 16; ++i) data[size_t(i)] ^= SessionId[i];
        SessionKey = data;
        // The client's contexts seen from the other end: RC4 keys each direction with its own
        // half, so the server encrypts with the client's decryption half and the other way round.
        const bool rc4 = cipher == 5;
        Enc = Varnello::Crypto::CreateSsh1Cipher(cipher, !rc4, SessionKey.data());
        Dec = Varnello::Crypto::CreateSsh1Cipher(cipher, rc4, SessionKey.data());
        return cipher;
    }

    void Reply(bool ok) { Send(TBytes{uint8_t(ok ? 14 : 15)}); }

    // Through SSH_CMSG_USER; leaves the server about to answer it.
    void ToUser() {
        KeyExchange();
        Reply(true);
        const TBytes user = Next();
        EXPECT_EQ(user, (TBytes{4, 0, 0, 0, 4, 'u', 's', 'e', 'r'}));
    }
};

TEST(Ssh1Version, ChoiceByIdentificationAndVersions) {
    {
        TSsh1Script s;
        s.Start();
        EXPECT_EQ(s.ClientLine(), "SSH-1.5-Norvane_SSH");
        EXPECT_EQ(s.Client.Protocol(), 1);
    }
    {
        TSsh1Script s;
        s.Start("SSH-1.99-Both\n");
        EXPECT_EQ(s.Client.Protocol(), 1) << "1.99 without protocol 2 allowed speaks 1.5";
    }
    {
        TSsh1Script s;
        s.Client.Versions = qxSSH1 | qxSSH2;
        s.Start("SSH-1.99-Both\n");
        EXPECT_EQ(s.Client.Protocol(), 2);
        EXPECT_EQ(s.ClientLine(), "SSH-2.0-Norvane_SSH");
    }
    {
        TSsh1Script s;
        s.Client.Versions = qxSSH2;
        s.Start();
        EXPECT_EQ(s.Errors, std::vector<int>{2});
        EXPECT_TRUE(s.FromClient.empty());
    }
}

TEST(Ssh1KeyExchange, CipherChoiceAndSessionKey) {
    {
        // 3DES is disabled by default, so of 3DES and Blowfish the client takes Blowfish.
        TSsh1Script s;
        s.Start();
        EXPECT_EQ(s.KeyExchange(1u << 3 | 1u << 6), 6);
        s.Reply(true);
        // The server recovered the key: the next packet decrypts to SSH_CMSG_USER.
        EXPECT_EQ(s.Next(), (TBytes{4, 0, 0, 0, 4, 'u', 's', 'e', 'r'}));
        EXPECT_TRUE(s.Errors.empty());
    }
    {
        TSsh1Script s;
        s.Start();
        EXPECT_EQ(s.KeyExchange(1u << 3), -1);
        EXPECT_EQ(s.Errors, std::vector<int>{7});
        EXPECT_EQ(s.Events.back(), "close");
        // The abort's DISCONNECT, still in clear: type 1, string "Unsupported cipher".
        const TBytes d = s.Last;
        ASSERT_GE(d.size(), 5u);
        EXPECT_EQ(d[0], 1);
        EXPECT_EQ(std::string(d.begin() + 5, d.end()), "Unsupported cipher");
    }
    {
        TSsh1Script s;
        s.Client.AuthenticationTypes = 2; // RSA only, the server offers only password
        s.Start();
        EXPECT_EQ(s.KeyExchange(1u << 6, 1u << 3), -1);
        EXPECT_EQ(s.Errors, std::vector<int>{8});
    }
}

TEST(Ssh1KeyExchange, ServerKeyLargerThanHostKeyStillDecrypts) {
    // Encrypting always with the server key first cannot fit a 1280-bit result into a 1024-bit
    // host key block; the smaller modulus must go first.
    TSsh1Script s;
    std::swap(s.ServerKey, s.HostKey);
    s.Start();
    EXPECT_EQ(s.KeyExchange(1u << 5), 5);
    s.Reply(true);
    EXPECT_EQ(s.Next(), (TBytes{4, 0, 0, 0, 4, 'u', 's', 'e', 'r'}));
    EXPECT_TRUE(s.Errors.empty());
}

TEST(Ssh1KeyExchange, RefusedHostKeyAndOversizedMpint) {
    {
        TSsh1Script s;
        s.Client.OnKeyValidate = [](TNvSSHClient*, const TNvSSHKey& k, bool& ok) {
            EXPECT_EQ(k.KeyType, TNvSSHKey::ktRSA);
            ok = false;
        };
        s.Start();
        s.KeyExchange();
        EXPECT_EQ(s.Errors, std::vector<int>{109});
    }
    {
        // An mp-int claiming 8193 bits is refused before anything is read.
        TSsh1Script s;
        s.Start();
        s.ClientLine();
        TBytes p{2, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 4, 0, 0x20, 0x01};
        p.resize(p.size() + 200, 0xAB);
        s.Send(p);
        EXPECT_EQ(s.Errors, std::vector<int>{6});
    }
}

TEST(Ssh1Framing, PaddingCrcAndBounds) {
    {
        // Type and 3 data bytes: L = 8, so 8 padding bytes.
        const TBytes f = FrameSsh1Packet(TBytes{32, 0xAA, 0xBB, 0xCC}, nullptr);
        ASSERT_EQ(f.size(), 4u + 8 + 4 + 4);
        EXPECT_EQ(Be32(f.data()), 8u);
        EXPECT_EQ(TBytes(f.begin() + 4, f.begin() + 12), TBytes(8, 0));
        EXPECT_EQ(Be32(f.data() + 16), BitCrc(f.data() + 4, 12));
    }
    {
        TSsh1Script s;
        s.Start();
        s.Raw(TBytes{0x00, 0x01, 0xF3, 0xF8}); // 127992 + 8 padding: the limit
        EXPECT_EQ(s.Errors, std::vector<int>{11});
    }
    {
        TSsh1Script s;
        s.Start();
        TBytes pkt{0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 0}; // IGNORE with a zero CRC
        s.Raw(pkt);
        EXPECT_EQ(s.Errors, std::vector<int>{4});
    }
    {
        TSsh1Script s;
        s.Start();
        s.Send(TBytes{99});
        EXPECT_EQ(s.Errors, std::vector<int>{5});
    }
    {
        // The server's disconnect ends the session without OnError.
        TSsh1Script s;
        s.Start();
        s.Send(TBytes{1, 0, 0, 0, 3, 'b', 'y', 'e'});
        EXPECT_TRUE(s.Errors.empty());
        EXPECT_EQ(s.Events, std::vector<std::string>{"close"});
        EXPECT_EQ(s.Client.DisconnectMessage(), "bye");
    }
}

TEST(Ssh1Framing, CompensationAttackDetected) {
    uint8_t iv[8] = {};
    uint8_t blocks[32];
    for (int i = 0; i < 32; ++i) blocks[i] = uint8_t(i + 1);
    EXPECT_FALSE(DetectCrcAttack(blocks, sizeof blocks, iv));
    std::memcpy(blocks + 24, blocks + 8, 8);
    EXPECT_TRUE(DetectCrcAttack(blocks, sizeof blocks, iv));
    std::memcpy(blocks + 24, iv, 8);
    EXPECT_TRUE(DetectCrcAttack(blocks, sizeof blocks, iv)) << "a block equal to the chaining value";

    // In a session: a packet whose ciphertext repeats a block is refused with error 4.
    TSsh1Script s;
    s.Start();
    s.KeyExchange();
    TBytes pkt{0, 0, 0, 21};
    pkt.resize(4 + 24, 0x5A);
    s.Raw(pkt);
    EXPECT_EQ(s.Errors, std::vector<int>{4});
}

TEST(Ssh1Auth, NoneNeededThenPasswordThenExhausted) {
    {
        TSsh1Script s;
        s.Start();
        s.ToUser();
        s.Reply(true);
        EXPECT_EQ(s.Events, (std::vector<std::string>{"auth", "open"}));
        EXPECT_TRUE(s.Next().empty()) << "no pty without a session tunnel";
        EXPECT_TRUE(s.Client.SessionActive());
    }
    {
        TSsh1Script s;
        s.Start();
        s.ToUser();
        s.Reply(false);
        EXPECT_EQ(s.Next(), (TBytes{9, 0, 0, 0, 6, 's', 'e', 'c', 'r', 'e', 't'}));
        s.Reply(false);
        EXPECT_EQ(s.AuthFailures, std::vector<int>{4});
        EXPECT_EQ(s.Errors, std::vector<int>{10});
    }
}

TEST(Ssh1Auth, RsaSecondKeyAfterRefusalAndChallenge) {
    const TKey other = MakeKey(Ssh1TestKeys::Key1280N, Ssh1TestKeys::Key1280D);
    const TKey user = MakeKey(Ssh1TestKeys::User1024N, Ssh1TestKeys::User1024D);
    TNvSSHMemoryKeyStorage storage;
    for (const TKey* k : {&other, &user}) {
        TNvSSHKey key;
        key.KeyType = TNvSSHKey::ktRSA;
        key.RSAPublicExponent = k->E.ToMinimalBytes();
        key.RSAModulus = k->N.ToMinimalBytes();
        key.RSAPrivateExponent = k->D.ToMinimalBytes();
        storage.AddKey(key);
    }
    TSsh1Script s;
    s.Client.AuthenticationTypes = 2;
    s.Client.SetKeyStorage(&storage);
    s.Start();
    s.KeyExchange(1u << 6, 1u << 2);
    s.Reply(true);
    s.Next();
    s.Reply(false);
    TBytes first = s.Next();
    TBytes expect{6};
    PutMpint(expect, other.N);
    EXPECT_EQ(first, expect);
    s.Reply(false);
    expect = {6};
    PutMpint(expect, user.N);
    EXPECT_EQ(s.Next(), expect);

    uint8_t secret[32];
    for (int i = 0; i < 32; ++i) secret[i] = uint8_t(200 - i);
    Varnello::Crypto::TRandom rng;
    const uint8_t seed[] = {3};
    rng.SeedWith(seed, 1);
    const TBigInt c = Varnello::Crypto::RsaEncryptType2({user.E, user.N}, secret, 32, rng);
    TBytes challenge{7};
    PutMpint(challenge, c);
    s.Send(challenge);
    uint8_t want[16];
    Varnello::Crypto::TMd5 md5;
    md5.Update(secret, 32);
    md5.Update(s.SessionId, 16);
    md5.Final(want);
    TBytes response{8};
    response.insert(response.end(), want, want + 16);
    EXPECT_EQ(s.Next(), response);
    s.Reply(true);
    EXPECT_EQ(s.Events, (std::vector<std::string>{"auth", "open"}));
    EXPECT_TRUE(s.Errors.empty());
}

TEST(Ssh1Session, ForcedCompressionThenVt100PtyAndShell) {
    TSsh1Script s;
    s.Client.ForceCompression = true;
    TNvSSHTunnelList list;
    TNvShellSSHTunnel shell;
    shell.SetTunnelList(&list);
    s.Client.SetTunnelList(&list);
    s.Start();
    s.ToUser();
    s.Reply(true);
    EXPECT_EQ(s.Next(), (TBytes{37, 0, 0, 0, 6}));
    s.Reply(true);
    s.Deflate = std::make_unique<Varnello::Crypto::TCompressor>();
    s.Deflate->Init(6);
    s.Inflate = std::make_unique<Varnello::Crypto::TDecompressor>();
    s.Inflate->Init();
    const TBytes pty = s.Next();
    ASSERT_GT(pty.size(), 30u);
    EXPECT_EQ(
        TBytes(pty.begin(), pty.begin() + 26),
        (TBytes{10, 0, 0, 0, 5, 'v', 't', '1', '0', '0', 0, 0, 0, 24, 0, 0, 0, 80, 0, 0, 0, 0, 0, 0, 0, 0}));
    // 47 one-byte pairs, then the two speeds and the end.
    ASSERT_EQ(pty.size(), 26u + 47 * 2 + 11);
    EXPECT_EQ(TBytes(pty.end() - 11, pty.end()), (TBytes{192, 0, 0, 0x96, 0, 193, 0, 0, 0x96, 0, 0}));
    s.Reply(true);
    EXPECT_EQ(s.Next(), TBytes{12});
    s.Reply(true);
    EXPECT_EQ(s.Events, (std::vector<std::string>{"auth", "open"}));
    // Exit status is confirmed.
    s.Send(TBytes{20, 0, 0, 0, 0});
    EXPECT_EQ(s.Next(), TBytes{33});
    s.Client.SetTunnelList(nullptr);
}

} // namespace

namespace {

// A session whose shell has started, with a remote port forward the server may open.
struct TSsh1Channels : TSsh1Script {
    TNvSSHTunnelList List;
    TNvShellSSHTunnel Shell;
    TNvRemotePortForwardSSHTunnel Forward;
    TNvSSHTunnelConnection* Session = nullptr;
    std::vector<TNvSSHTunnelConnection*> Opened;
    std::vector<int> CloseTypes, TunnelErrors;
    std::string Data;

    TSsh1Channels() {
        Forward.Port = 8080;
        Forward.ToHost = "web";
        Forward.ToPort = 80;
        List.Add(&Shell);
        List.Add(&Forward);
        Client.SetTunnelList(&List);
        Shell.OnOpen = [this](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) { Session = c; };
        Forward.OnOpen = [this](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
            Opened.push_back(c);
            c->OnData = [this](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
                Data.append(reinterpret_cast<const char*>(b), size_t(n));
            };
            c->OnClose = [this](TNvSSHTunnelConnection*, int t) { CloseTypes.push_back(t); };
        };
        Forward.OnError = [this](TNvCustomSSHTunnel*, int e) { TunnelErrors.push_back(e); };
        Start();
        ToUser();
        Reply(true);
        EXPECT_EQ(Next()[0], 10); // pty
        Reply(true);
        TBytes forward{28, 0, 0, 0x1F, 0x90, 0, 0, 0, 3, 'w', 'e', 'b', 0, 0, 0, 80};
        EXPECT_EQ(Next(), forward);
        Reply(false);
        EXPECT_EQ(TunnelErrors, std::vector<int>{1});
        EXPECT_EQ(Next(), TBytes{12});
        EXPECT_NE(Session, nullptr);
    }
    ~TSsh1Channels() { Client.SetTunnelList(nullptr); }

    static TBytes PortOpen(uint32_t remote, const std::string& host, uint32_t port) {
        TSshWriter w;
        w.Byte(29).Uint32(remote).String(host).Uint32(port).String("origin");
        return w.Take();
    }
};

TEST(Ssh1Channels, ServerOpenedChannelDataAndCloseHandshake) {
    TSsh1Channels s;
    ASSERT_EQ(s.Events, (std::vector<std::string>{"auth", "open"}));
    // Stdin of the session.
    s.Session->SendData(reinterpret_cast<const uint8_t*>("ls\n"), 3);
    EXPECT_EQ(s.Next(), (TBytes{16, 0, 0, 0, 3, 'l', 's', '\n'}));

    // A port open for another destination is refused, a matching one accepted as channel 1.
    s.Send(TSsh1Channels::PortOpen(7, "other", 80));
    EXPECT_EQ(s.Next(), (TBytes{22, 0, 0, 0, 7}));
    s.Send(TSsh1Channels::PortOpen(9, "web", 80));
    EXPECT_EQ(s.Next(), (TBytes{21, 0, 0, 0, 9, 0, 0, 0, 1}));
    ASSERT_EQ(s.Opened.size(), 1u);
    TNvSSHTunnelConnection* c = s.Opened[0];
    EXPECT_EQ(c->LocalChannel, 1u);
    EXPECT_EQ(c->RemoteChannel, 9u);

    s.Send(TBytes{23, 0, 0, 0, 1, 0, 0, 0, 2, 'h', 'i'});
    EXPECT_EQ(s.Data, "hi");
    c->SendData(reinterpret_cast<const uint8_t*>("yo"), 2);
    EXPECT_EQ(s.Next(), (TBytes{23, 0, 0, 0, 9, 0, 0, 0, 2, 'y', 'o'}));

    // Our close, then the server's confirmation frees the connection without a second OnClose.
    c->Close();
    EXPECT_EQ(s.Next(), (TBytes{24, 0, 0, 0, 9}));
    s.Send(TBytes{25, 0, 0, 0, 1});
    EXPECT_TRUE(s.Forward.Connections().empty());
    EXPECT_TRUE(s.CloseTypes.empty());

    // Numbers are not reused: the next channel is 2. The server's close of it is confirmed.
    s.Send(TSsh1Channels::PortOpen(11, "web", 80));
    EXPECT_EQ(s.Next(), (TBytes{21, 0, 0, 0, 11, 0, 0, 0, 2}));
    s.Send(TBytes{24, 0, 0, 0, 2});
    EXPECT_EQ(s.Next(), (TBytes{25, 0, 0, 0, 11}));
    EXPECT_EQ(s.CloseTypes, std::vector<int>{0});
    EXPECT_TRUE(s.Errors.empty());

    // Exit status: confirmed, the session takes it and the connection ends.
    int status = -1;
    s.Session->OnClose = [&](TNvSSHTunnelConnection* conn, int type) {
        status = conn->ExitStatus;
        EXPECT_EQ(type, 0);
    };
    s.Send(TBytes{20, 0, 0, 0, 42});
    EXPECT_EQ(s.Next(), TBytes{33});
    EXPECT_EQ(status, 42);
    EXPECT_EQ(s.Events.back(), "close");
    EXPECT_FALSE(s.Client.SessionActive());
}

TEST(Ssh1Channels, UnknownChannelShortExitAndDisconnect) {
    {
        TSsh1Channels s;
        s.Send(TBytes{23, 0, 0, 0, 5, 0, 0, 0, 0});
        EXPECT_EQ(s.Errors, std::vector<int>{6});
        // An abort raises no connection's OnClose.
        EXPECT_TRUE(s.CloseTypes.empty());
    }
    {
        TSsh1Channels s;
        s.Send(TBytes{20, 0, 0, 0});
        EXPECT_EQ(s.Errors, std::vector<int>{6});
    }
    {
        TSsh1Channels s;
        s.Send(TSsh1Channels::PortOpen(9, "web", 80));
        s.Next();
        int sessionClose = -1;
        s.Session->OnClose = [&](TNvSSHTunnelConnection*, int t) { sessionClose = t; };
        s.Send(TBytes{1, 0, 0, 0, 4, 'd', 'o', 'w', 'n'});
        EXPECT_TRUE(s.Errors.empty());
        EXPECT_EQ(sessionClose, 2);
        EXPECT_EQ(s.CloseTypes, std::vector<int>{2});
        EXPECT_EQ(s.Client.DisconnectMessage(), "down");
    }
}

} // namespace

namespace {

TEST(Ssh1Auth, RhostsThenRhostsRsaSkippingOtherKeyTypes) {
    const TKey user = MakeKey(Ssh1TestKeys::User1024N, Ssh1TestKeys::User1024D);
    TNvSSHMemoryKeyStorage storage;
    TNvSSHKey dss;
    dss.KeyType = TNvSSHKey::ktDSS; // passed over by the RSA methods
    storage.AddKey(dss);
    TNvSSHKey publicOnly; // no private half to answer a challenge with: passed over too
    publicOnly.KeyType = TNvSSHKey::ktRSA;
    publicOnly.RSAPublicExponent = user.E.ToMinimalBytes();
    publicOnly.RSAModulus = MakeKey(Ssh1TestKeys::Key1024N, Ssh1TestKeys::Key1024D).N.ToMinimalBytes();
    storage.AddKey(publicOnly);
    TNvSSHKey key;
    key.KeyType = TNvSSHKey::ktRSA;
    key.RSAPublicExponent = user.E.ToMinimalBytes();
    key.RSAModulus = user.N.ToMinimalBytes();
    key.RSAPrivateExponent = user.D.ToMinimalBytes();
    storage.AddKey(key);

    TSsh1Script s;
    s.Client.AuthenticationTypes = 1 | 8;
    s.Client.ClientUserName = "local";
    s.Client.SetKeyStorage(&storage);
    s.Start();
    s.KeyExchange(1u << 6, 1u << 1 | 1u << 4 | 1u << 3);
    s.Reply(true);
    s.Next();
    s.Reply(false);
    EXPECT_EQ(s.Next(), (TBytes{5, 0, 0, 0, 4, 'u', 's', 'e', 'r'}));
    s.Reply(false);
    EXPECT_EQ(s.AuthFailures, std::vector<int>{1});
    TBytes expect{35, 0, 0, 0, 5, 'l', 'o', 'c', 'a', 'l', 0, 0, 4, 0};
    PutMpint(expect, user.E);
    PutMpint(expect, user.N);
    EXPECT_EQ(s.Next(), expect);
    s.Reply(false);
    // Keys exhausted for rhosts-RSA, and no other method left.
    EXPECT_EQ(s.AuthFailures, (std::vector<int>{1, 8}));
    EXPECT_EQ(s.Errors, std::vector<int>{10});
}

TEST(Ssh1Session, TerminalInfoModesAndCommand) {
    TSsh1Script s;
    TNvTerminalInfo info;
    info.TerminalType = "xterm";
    info.Modes = {{1, 3}, {53, 0x101}, {200, 9}};
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel command;
    command.Command = "id";
    command.TerminalInfo = &info;
    list.Add(&command);
    s.Client.SetTunnelList(&list);
    bool opened = false;
    command.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        opened = true;
        EXPECT_EQ(c->LocalChannel, 0xFFFFu);
        EXPECT_EQ(c->RemoteChannel, 0xFFFFu);
    };
    s.Start();
    s.ToUser();
    s.Reply(true);
    TBytes pty{10, 0, 0, 0, 5, 'x', 't', 'e', 'r', 'm', 0, 0, 0,    24, 0,   0, 0, 80,   0, 0, 0,
               0,  0, 0, 0, 0, 1,   3,   53,  1,   192, 0, 0, 0x96, 0,  193, 0, 0, 0x96, 0, 0};
    EXPECT_EQ(s.Next(), pty);
    s.Reply(false); // no pty: the session goes on without
    EXPECT_EQ(s.Next(), (TBytes{13, 0, 0, 0, 2, 'i', 'd'}));
    EXPECT_TRUE(opened);
    EXPECT_EQ(s.Events, (std::vector<std::string>{"auth", "open"}));
    s.Client.SetTunnelList(nullptr);
}

} // namespace
