// An SSH-2 server in the test process, built from the same primitives: it answers the client's
// key exchange with curve25519-sha256 and an Ed25519 host key, derives the keys on its own, and
// then speaks encrypted packets. Every byte it sends is recorded, so a session can be replayed
// into a fresh client seeded the same way (with a byte flipped, for instance).
#pragma once

#include "ssh/SshClient.h"
#include "ssh/SshPacketLayer.h"
#include "ssh/SshWire.h"

#include "ssh/crypto/Ed25519.h"
#include "ssh/crypto/Random.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/X25519.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ScriptedSsh {

using namespace Varnello::Ssh;
using Varnello::Crypto::TRandom;

struct TServerOptions {
    std::string Cipher = "aes128-ctr";
    std::string Mac = "hmac-sha2-256";
    std::string Compression = "none";
    std::string HostKeyAlgorithm = "ssh-ed25519";
    bool Strict = true;
    bool AllZeroPoint = false; // answer with a small-order point
    bool BadSignature = false; // flip a bit of the host-key signature
};

class TScriptedServer {
public:
    TServerOptions Options;
    std::vector<uint8_t> Sent; // everything the server sent, in order
    std::vector<TBytes> ClientPayloads;
    size_t EncryptedFrom = 0; // offset in Sent where the server's encrypted packets begin
    std::function<void(const TBytes& payload)> OnClientPacket; // after keys, per client payload

    TScriptedServer() {
        uint8_t seed[32];
        for (int i = 0; i < 32; ++i) seed[i] = uint8_t(i * 7 + 1);
        FHostKey.SetSeed(seed);
        const uint8_t rs[] = {9, 9, 9};
        FRandom.SeedWith(rs, sizeof(rs));
        FOut.SetRandom(&FRandom);
        FIn.SetRandom(&FRandom);
    }

    void Begin() {
        SendRaw("SSH-2.0-Scripted_1.0\r\n");
        SendKexInit();
    }

    // A KEXINIT of the server's own: the first one, or a re-exchange once a session runs.
    void SendKexInit() {
        TSshWriter w;
        w.Byte(20);
        uint8_t cookie[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        w.Raw(cookie, 16);
        std::vector<std::string> kex = {"curve25519-sha256"};
        if (Options.Strict) kex.push_back("kex-strict-s-v00@openssh.com");
        w.NameList(kex).NameList({Options.HostKeyAlgorithm});
        w.NameList({Options.Cipher})
            .NameList({Options.Cipher})
            .NameList({Options.Mac})
            .NameList({Options.Mac});
        w.NameList({Options.Compression}).NameList({Options.Compression}).NameList({}).NameList({});
        w.Boolean(false).Uint32(0);
        FIS = w.Take();
        SendPacket(FIS);
    }

    // Bytes the client sent; processes whole units and answers.
    void FromClient(const uint8_t* data, size_t len) {
        FPending.insert(FPending.end(), data, data + len);
        for (;;) {
            size_t want = FIn.Wanted();
            size_t n = std::min(want, FPending.size());
            if (n) {
                std::copy(FPending.begin(), FPending.begin() + std::ptrdiff_t(n), FIn.InputSpace());
                FPending.erase(FPending.begin(), FPending.begin() + std::ptrdiff_t(n));
                FIn.Append(n);
            }
            auto unit = FIn.Poll();
            if (unit == TSshPacketLayer::TUnit::uNone) {
                if (n == 0) return;
                continue;
            }
            if (unit == TSshPacketLayer::TUnit::uLine) {
                FVC = FIn.Line().substr(0, FIn.Line().find_first_of("\r\n"));
                FIn.StartPackets();
                continue;
            }
            OnPacket(FIn.Payload());
        }
    }

    void SendPacket(const TBytes& payload) {
        TBytes p = FOut.Seal(payload);
        Sent.insert(Sent.end(), p.begin(), p.end());
    }
    void SendRaw(const std::string& s) { Sent.insert(Sent.end(), s.begin(), s.end()); }

    TBytes SessionId;

private:
    void OnPacket(const TBytes& payload) {
        ClientPayloads.push_back(payload);
        const uint8_t msg = payload[0];
        if (msg == 20) {
            FIC = payload;
            return;
        }
        if (msg == 30) {
            Reply(payload);
            return;
        }
        if (msg == 21) {
            FIn.SetInbound(FClientToServer);
            if (Options.Strict) FIn.ResetInboundSequence();
            return;
        }
        if (OnClientPacket) OnClientPacket(payload);
    }

    TSecureBytes Derive(const TBytes& k, const TBytes& h, char letter, size_t need) {
        TBytes in = k;
        in.insert(in.end(), h.begin(), h.end());
        in.push_back(uint8_t(letter));
        in.insert(in.end(), SessionId.begin(), SessionId.end()); // the first exchange's H
        TBytes out(32);
        Varnello::Crypto::TSha256::Compute(in.data(), in.size(), out.data());
        while (out.size() < need) {
            TBytes more = k;
            more.insert(more.end(), h.begin(), h.end());
            more.insert(more.end(), out.begin(), out.end());
            uint8_t d[32];
            Varnello::Crypto::TSha256::Compute(more.data(), more.size(), d);
            out.insert(out.end(), d, d + 32);
        }
        out.resize(need);
        return out;
    }

    void Reply(const TBytes& payload) {
        TSshReader r(payload);
        r.Byte();
        TBytes qc = r.StringBytes();
        uint8_t priv[32], pub[32], shared[32];
        for (int i = 0; i < 32; ++i) priv[i] = uint8_t(200 - i);
        Varnello::Crypto::X25519PublicKey(pub, priv);
        if (Options.AllZeroPoint) std::fill(pub, pub + 32, 0);
        Varnello::Crypto::X25519(shared, priv, qc.data());
        TSshWriter kb;
        kb.String("ssh-ed25519").String(FHostKey.PublicKey(), 32);
        TBytes ks = kb.Take();
        TSshWriter km;
        km.Mpint(shared, 32);
        TBytes k = km.Take();
        TSshWriter hw;
        hw.String(FVC)
            .String("SSH-2.0-Scripted_1.0")
            .String(FIC)
            .String(FIS)
            .String(ks)
            .String(qc)
            .String(pub, 32)
            .Raw(k);
        TBytes h(32);
        Varnello::Crypto::TSha256::Compute(hw.Data().data(), hw.Size(), h.data());
        if (SessionId.empty()) SessionId = h;
        uint8_t sig[64];
        FHostKey.Sign(h.data(), h.size(), sig);
        if (Options.BadSignature) sig[10] ^= 1;
        TSshWriter sw;
        sw.String("ssh-ed25519").String(sig, 64);
        TSshWriter reply;
        reply.Byte(31).String(ks).String(pub, 32).String(sw.Data());
        SendPacket(reply.Take());
        SendPacket(TBytes{21});

        const TCipherAlgorithm* cipher = FindCipherAlgorithm(Options.Cipher);
        const TMacAlgorithm* mac =
            cipher->Mode == TCipherMode::cmBlock ? FindMacAlgorithm(Options.Mac) : nullptr;
        const TCompressionAlgorithm* comp = FindCompression(Options.Compression);
        TDirectionKeys sc, cs;
        sc.Cipher = cs.Cipher = cipher;
        sc.Mac = cs.Mac = mac;
        sc.Compression = cs.Compression = comp;
        cs.Iv = Derive(k, h, 'A', cipher->IvSize);
        sc.Iv = Derive(k, h, 'B', cipher->IvSize);
        cs.Key = Derive(k, h, 'C', cipher->KeySize);
        sc.Key = Derive(k, h, 'D', cipher->KeySize);
        if (mac) {
            cs.MacKey = Derive(k, h, 'E', mac->KeyBytes);
            sc.MacKey = Derive(k, h, 'F', mac->KeyBytes);
        }
        FOut.SetOutbound(sc);
        if (Options.Strict) FOut.ResetOutboundSequence();
        FClientToServer = cs;
        EncryptedFrom = Sent.size();
    }

    TSshPacketLayer FOut; // only its outbound half is used: server to client
    TSshPacketLayer FIn;  // only its inbound half: client to server
    TDirectionKeys FClientToServer;
    std::deque<uint8_t> FPending;
    Varnello::Crypto::TEd25519Key FHostKey;
    TRandom FRandom;
    std::string FVC;
    TBytes FIC, FIS;
};

// Joins a client and a scripted server in memory. Bytes reach the client in exact amounts, as
// many per call as it asks for (or fewer when limit is set, to split reads).
class TLink {
public:
    TNvSSHClient& Client;
    TScriptedServer& Server;
    std::vector<uint8_t> ClientSent;
    size_t Delivered = 0;
    size_t Limit = 0;                       // 0: as much as asked
    std::vector<uint8_t>* Replay = nullptr; // feed these bytes instead of the server's

    TLink(TNvSSHClient& c, TScriptedServer& s) : Client(c), Server(s) {
        c.OnSend = [this](TNvSSHClient*, const uint8_t* b, int n) {
            ClientSent.insert(ClientSent.end(), b, b + n);
            if (!Replay) Server.FromClient(b, size_t(n));
        };
        c.OnReceive = [this](TNvSSHClient*, uint8_t* buf, int max, int& written) {
            const std::vector<uint8_t>& src = Replay ? *Replay : Server.Sent;
            size_t n = std::min(size_t(max), src.size() - Delivered);
            if (Limit) n = std::min(n, Limit);
            std::copy(src.begin() + std::ptrdiff_t(Delivered), src.begin() + std::ptrdiff_t(Delivered + n),
                      buf);
            Delivered += n;
            written = int(n);
        };
    }

    // Calls ReceiveData until nothing more arrives (bounded).
    void Run() {
        int idle = 0;
        for (int i = 0; i < 100000 && idle < 3; ++i) {
            const size_t before = Delivered;
            Client.ReceiveData();
            idle = Delivered == before ? idle + 1 : 0;
        }
    }
};

} // namespace ScriptedSsh
