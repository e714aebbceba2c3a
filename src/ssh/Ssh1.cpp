// The protocol 1.5 engine: framing, session key exchange, authentication and the session.
#include "ssh/Ssh1.h"

#include "ssh/SshClient.h"
#include "ssh/SshConnection.h"
#include "ssh/SshError.h"
#include "ssh/crypto/ByteOrder.h"
#include "ssh/crypto/Crc32.h"
#include "ssh/crypto/Md5.h"
#include "ssh/crypto/Random.h"
#include "ssh/crypto/Rsa.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace Varnello::Ssh {

using Crypto::TBigInt;

namespace {
constexpr const char* MsgInvalidCrc = "Invalid CRC checksum";
constexpr const char* MsgInvalidType = "Invalid packet type";
constexpr const char* MsgUnsupportedCipher = "Unsupported cipher";
constexpr const char* MsgUnsupportedAuth = "Unsupported AUTH type";
constexpr const char* MsgInvalidChallenge = "Invalid RSA challenge";
constexpr const char* MsgAuthFailed = "Authentication failed";
constexpr const char* MsgCompression = "Compression error";

// Protocol flags sent with the session key: screen number in X11 requests, host in port opens.
constexpr uint32_t ProtocolFlags = 3;

[[noreturn]] void Invalid() {
    throw ENvSSHError(6, MsgInvalidPacket);
}

uint32_t LoadBe32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void StoreBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

size_t PaddingFor(uint32_t length) {
    return 8 - (length % 8);
}

struct TSsh1PublicKey {
    uint32_t Bits = 0;
    TBytes E, N;
};

TSsh1PublicKey ReadKey(TSshReader& r) {
    TSsh1PublicKey k;
    k.Bits = r.Uint32();
    k.E = ReadSsh1Mpint(r, TSsh1Engine::MaxKeyBits);
    k.N = ReadSsh1Mpint(r, TSsh1Engine::MaxKeyBits);
    return k;
}

// Block ciphers chain through the ciphertext, which is what the compensation attack exploits.
bool IsChained(int cipher) {
    return cipher == 1 || cipher == 2 || cipher == 3 || cipher == 6;
}
} // namespace

TBytes ReadSsh1Mpint(TSshReader& r, int maxBits) {
    const uint8_t* p = r.Raw(2);
    const unsigned bits = unsigned(p[0]) << 8 | p[1];
    if (int(bits) > maxBits) throw ENvSSHError(6, MsgInvalidPacket);
    const size_t n = (bits + 7) / 8;
    const uint8_t* b = r.Raw(n);
    return TBytes(b, b + n);
}

void WriteSsh1Mpint(TSshWriter& w, const TBytes& magnitude) {
    size_t skip = 0;
    while (skip < magnitude.size() && magnitude[skip] == 0) ++skip;
    const size_t n = magnitude.size() - skip;
    unsigned bits = 0;
    if (n > 0) {
        bits = unsigned(n - 1) * 8;
        for (uint8_t top = magnitude[skip]; top; top >>= 1) ++bits;
    }
    w.Byte(uint8_t(bits >> 8)).Byte(uint8_t(bits));
    w.Raw(magnitude.data() + skip, n);
}

TBytes FrameSsh1Packet(const TBytes& payload, Crypto::TRandom* padding) {
    const uint32_t length = uint32_t(payload.size() + 4);
    const size_t pad = PaddingFor(length);
    TBytes out(4 + pad + payload.size() + 4, 0);
    StoreBe32(out.data(), length);
    if (padding) padding->Fill(out.data() + 4, pad);
    std::memcpy(out.data() + 4 + pad, payload.data(), payload.size());
    const uint32_t crc = Crypto::Crc32(out.data() + 4, pad + payload.size());
    StoreBe32(out.data() + out.size() - 4, crc);
    return out;
}

bool DetectCrcAttack(const uint8_t* data, size_t len, const uint8_t* iv) {
    std::unordered_set<uint64_t> seen;
    seen.reserve(len / 8 + 1);
    uint64_t v = 0;
    std::memcpy(&v, iv, 8);
    seen.insert(v);
    // Bounded by the packet limit: at most 16000 blocks.
    for (size_t i = 0; i + 8 <= len; i += 8) {
        std::memcpy(&v, data + i, 8);
        if (!seen.insert(v).second) return true;
    }
    return false;
}

TSsh1Engine::TSsh1Engine(TNvSSHClient& client) : FClient(client), FIn(PacketLimit + 8) {}

TSsh1Engine::~TSsh1Engine() {
    // Tunnels outlive the session: they must not keep pointers to freed connections.
    while (!FConns.empty()) Remove(FConns.back().get());
}

void Ssh1SendData(TSsh1Engine* engine, TNvSSHTunnelConnection* c, const uint8_t* data, size_t len) {
    engine->ConnectionSend(c, data, len);
}

void Ssh1Close(TSsh1Engine* engine, TNvSSHTunnelConnection* c) {
    engine->ConnectionClose(c);
}

template <class F> void TSsh1Engine::Guarded(F f) {
    if (FClient.FClosed) return;
    try {
        f();
    } catch (const ENvSSHError& e) {
        FClient.Abort(e.Code, e.what());
    } catch (const std::exception&) {
        FClient.Abort(6, MsgInvalidPacket);
    }
}

void TSsh1Engine::ConnectionSend(TNvSSHTunnelConnection* c, const uint8_t* data, size_t len) {
    Guarded([&] {
        TSshWriter w;
        if (c == FSession)
            w.Byte(CmsgStdinData).String(data, len);
        else
            w.Byte(MsgChannelData).Uint32(c->RemoteChannel).String(data, len);
        Send(w.Take());
    });
}

void TSsh1Engine::ConnectionClose(TNvSSHTunnelConnection* c) {
    Guarded([&] {
        c->CloseSent = true;
        TSshWriter w;
        w.Byte(MsgChannelClose).Uint32(c->RemoteChannel);
        Send(w.Take());
    });
}

TNvSSHTunnelConnection* TSsh1Engine::Create(TNvCustomSSHTunnel* tunnel, uint32_t local, uint32_t remote) {
    auto c = std::make_unique<TNvSSHTunnelConnection>();
    c->SSHClient = &FClient;
    c->Ssh1 = this;
    c->Tunnel = tunnel;
    c->LocalChannel = local;
    c->RemoteChannel = remote;
    c->ChannelPhase = TChannelPhase::cpOpen;
    TNvSSHTunnelConnection* raw = c.get();
    FConns.push_back(std::move(c));
    if (tunnel) tunnel->Connections().push_back(raw);
    return raw;
}

TNvSSHTunnelConnection* TSsh1Engine::Find(uint32_t local) const {
    for (const auto& c : FConns)
        if (c->LocalChannel == local && c.get() != FSession) return c.get();
    return nullptr;
}

void TSsh1Engine::Remove(TNvSSHTunnelConnection* c) {
    if (c->Tunnel) {
        auto& list = c->Tunnel->Connections();
        list.erase(std::remove(list.begin(), list.end(), c), list.end());
    }
    if (c == FSession) FSession = nullptr;
    c->Attached = false;
    FConns.erase(std::remove_if(FConns.begin(), FConns.end(), [c](const auto& p) { return p.get() == c; }),
                 FConns.end());
}

void TSsh1Engine::CloseAll() {
    // A handler may close or free others; work on a snapshot of what is still listed.
    std::vector<TNvSSHTunnelConnection*> all;
    for (const auto& c : FConns) all.push_back(c.get());
    for (TNvSSHTunnelConnection* c : all) {
        if (std::none_of(FConns.begin(), FConns.end(), [c](const auto& p) { return p.get() == c; })) continue;
        c->CloseType = 2;
        if (c->OnClose) c->OnClose(c, 2);
    }
}

void TSsh1Engine::Accept(TNvCustomSSHTunnel* tunnel, uint32_t remote) {
    const uint32_t local = FConns.empty() ? 1 : FLastLocal + 1;
    FLastLocal = local;
    TNvSSHTunnelConnection* c = Create(tunnel, local, remote);
    TSshWriter w;
    w.Byte(MsgChannelOpenConfirmation).Uint32(remote).Uint32(local);
    Send(w.Take());
    if (tunnel->OnOpen) tunnel->OnOpen(tunnel, c);
}

void TSsh1Engine::Refuse(uint32_t remote) {
    TSshWriter w;
    w.Byte(MsgChannelOpenFailure).Uint32(remote);
    Send(w.Take());
}

void TSsh1Engine::Feed(const uint8_t* data, size_t len) {
    if (len > FIn.size() - FHeld) throw ENvSSHError(11, MsgInvalidPacketSize);
    // memcpy may not be given a null source, even for no bytes; Poll still runs.
    if (len > 0) std::memcpy(FIn.data() + FHeld, data, len);
    FHeld += len;
    Poll();
}

void TSsh1Engine::ReceiveData() {
    const size_t want = FNeed > FHeld ? FNeed - FHeld : 0;
    if (want > 0 && FClient.OnReceive) {
        int written = 0;
        FClient.OnReceive(&FClient, FIn.data() + FHeld, int(want), written);
        if (written < 0) written = 0;
        FHeld += std::min(size_t(written), want);
    }
    Poll();
}

void TSsh1Engine::Poll() {
    // Bounded: each turn consumes a length field or a whole packet from the bytes held.
    while (!FClient.FClosed && FHeld >= FNeed) {
        if (!FHaveLength) {
            FLength = LoadBe32(FIn.data());
            const uint64_t rest = uint64_t(FLength) + PaddingFor(FLength);
            if (rest >= PacketLimit) throw ENvSSHError(11, MsgInvalidPacketSize);
            // Room for the type byte and the CRC at least.
            if (FLength < 5) throw ENvSSHError(11, MsgInvalidPacketSize);
            std::memmove(FIn.data(), FIn.data() + 4, FHeld - 4);
            FHeld -= 4;
            FHaveLength = true;
            FNeed = size_t(rest);
            continue;
        }
        HandlePacket();
    }
}

void TSsh1Engine::HandlePacket() {
    const size_t total = FNeed;
    TSecureBytes body(TBytes(FIn.begin(), FIn.begin() + long(total)));
    std::memmove(FIn.data(), FIn.data() + total, FHeld - total);
    FHeld -= total;
    FHaveLength = false;
    FNeed = 4;

    if (FEncryption && FDecrypt) {
        if (IsChained(FCipher)) {
            if (DetectCrcAttack(body.data(), body.size(), FInIv)) throw ENvSSHError(4, MsgInvalidCrc);
            std::memcpy(FInIv, body.data() + body.size() - 8, 8);
        }
        FDecrypt->Process(body.data(), body.size());
    }
    const uint32_t want = LoadBe32(body.data() + total - 4);
    if (Crypto::Crc32(body.data(), total - 4) != want) throw ENvSSHError(4, MsgInvalidCrc);
    const size_t pad = PaddingFor(FLength);
    TBytes payload(body.begin() + long(pad), body.end() - 4);
    if (FCompression) {
        try {
            FDecompressor->Decompress(payload);
        } catch (const std::exception&) {
            throw ENvSSHError(106, MsgCompression);
        }
        if (payload.empty()) Invalid();
    }
    FLastReceived = payload[0];
    Dispatch(payload);
}

void TSsh1Engine::Send(const TBytes& input) {
    if (FClient.FClosed || input.empty()) return;
    FLastSent = input[0];
    TBytes payload = input;
    if (FCompression) {
        try {
            FCompressor->Compress(payload);
        } catch (const std::exception&) {
            throw ENvSSHError(106, MsgCompression);
        }
    }
    TBytes packet = FrameSsh1Packet(payload, FEncryption ? &FClient.FKex.Random() : nullptr);
    if (FEncryption && FEncrypt) FEncrypt->Process(packet.data() + 4, packet.size() - 4);
    if (FClient.OnSend) FClient.OnSend(&FClient, packet.data(), int(packet.size()));
    // The copies may hold a password or a response.
    std::fill(payload.begin(), payload.end(), 0);
    std::fill(packet.begin(), packet.end(), 0);
}

void TSsh1Engine::SendDisconnect(const std::string& message) {
    try {
        TSshWriter w;
        w.Byte(MsgDisconnect).String(message);
        const bool closed = FClient.FClosed;
        FClient.FClosed = false;
        Send(w.Take());
        FClient.FClosed = closed;
    } catch (const std::exception&) {
        // The session ends all the same.
    }
}

void TSsh1Engine::Dispatch(const TBytes& payload) {
    try {
        TSshReader r(payload, PacketLimit);
        const uint8_t type = r.Byte();
        switch (type) {
        case MsgDisconnect: {
            FClient.FDisconnectMessage = r.String();
            FClient.FClosed = true;
            CloseAll();
            FClient.FSessionActive = false;
            if (FClient.OnCloseConnection) FClient.OnCloseConnection(&FClient);
            return;
        }
        case SmsgPublicKey:
            PublicKey(payload);
            return;
        case SmsgAuthRsaChallenge:
            Challenge(payload);
            return;
        case SmsgSuccess:
            Reply(true);
            return;
        case SmsgFailure:
            Reply(false);
            return;
        case SmsgStdoutData:
        case SmsgStderrData: {
            const std::string_view data = r.StringView();
            TNvSSHTunnelConnection* c = FSession;
            if (!c) return;
            const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
            if (type == SmsgStdoutData) {
                if (c->OnData) c->OnData(c, bytes, int(data.size()));
            } else if (FSessionKind == 1 && c->OnExtendedData) {
                c->OnExtendedData(c, bytes, int(data.size()));
            }
            return;
        }
        case SmsgExitStatus: {
            if (payload.size() < 5) Invalid();
            const uint32_t status = r.Uint32();
            TSshWriter w;
            w.Byte(CmsgExitConfirmation);
            Send(w.Take());
            if (TNvSSHTunnelConnection* c = FSession) {
                c->ExitStatus = int(status);
                c->ExitSignal.clear();
                c->CloseType = 0;
                if (c->OnClose) c->OnClose(c, 0);
                FClient.FSessionActive = false;
                if (FClient.OnCloseConnection) FClient.OnCloseConnection(&FClient);
            }
            return;
        }
        case MsgIgnore:
            return;
        case MsgDebug: {
            const std::string_view text = r.StringView();
            if (FClient.OnDebugData)
                FClient.OnDebugData(&FClient, reinterpret_cast<const uint8_t*>(text.data()),
                                    int(text.size()));
            return;
        }
        case SmsgX11Open:
        case SmsgAgentOpen:
        case MsgPortOpen: {
            const uint32_t remote = r.Uint32();
            std::string host;
            uint32_t port = 0;
            if (type == MsgPortOpen) {
                host = r.String();
                port = r.Uint32();
            }
            TNvCustomSSHTunnel* found = nullptr;
            TNvSSHTunnelList* list = FClient.FTunnelList;
            for (int i = 0; list && !found && i < list->Count(); ++i) {
                TNvCustomSSHTunnel* t = list->Tunnels(i);
                if (!t) continue;
                if (type == SmsgX11Open && t->Kind() == TTunnelKind::tkX11) found = t;
                if (type == SmsgAgentOpen && t->Kind() == TTunnelKind::tkAgent) found = t;
                if (type == MsgPortOpen && t->Kind() == TTunnelKind::tkRemotePortForward) {
                    auto* f = static_cast<TNvRemotePortForwardSSHTunnel*>(t);
                    if (f->ToHost == host && f->ToPort == port) found = t;
                }
            }
            if (found)
                Accept(found, remote);
            else
                Refuse(remote);
            return;
        }
        case MsgChannelOpenConfirmation: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            c->RemoteChannel = r.Uint32();
            if (c->Tunnel && c->Tunnel->OnOpen) c->Tunnel->OnOpen(c->Tunnel, c);
            return;
        }
        case MsgChannelOpenFailure: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            TNvCustomSSHTunnel* t = c->Tunnel;
            Remove(c);
            if (t && t->OnError) t->OnError(t, 2);
            return;
        }
        case MsgChannelData: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            const std::string_view data = r.StringView();
            if (c->OnData) c->OnData(c, reinterpret_cast<const uint8_t*>(data.data()), int(data.size()));
            return;
        }
        case MsgChannelClose: {
            const uint32_t local = r.Uint32();
            TNvSSHTunnelConnection* c = Find(local);
            if (!c) Invalid();
            TSshWriter w;
            w.Byte(MsgChannelCloseConfirmation).Uint32(c->RemoteChannel);
            Send(w.Take());
            c->CloseType = 0;
            if (c->OnClose) c->OnClose(c, 0);
            // The handler may have let the session end; look the connection up again.
            c = Find(local);
            if (!c) return;
            if (c->CloseReceived)
                Remove(c);
            else
                c->CloseSent = true;
            return;
        }
        case MsgChannelCloseConfirmation: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) return;
            if (c->CloseSent)
                Remove(c);
            else
                c->CloseReceived = true;
            return;
        }
        default:
            throw ENvSSHError(5, MsgInvalidType);
        }
    } catch (const ENvSSHException&) {
        Invalid();
    }
}

void TSsh1Engine::PublicKey(const TBytes& payload) {
    if (FLastSent != -1 || payload.size() <= 11) Invalid();
    TSshReader r(payload, PacketLimit);
    r.Byte();
    std::memcpy(FCookie, r.Raw(8), 8);
    const TSsh1PublicKey server = ReadKey(r);
    const TSsh1PublicKey host = ReadKey(r);
    r.Uint32(); // the server's protocol flags
    const uint32_t ciphers = r.Uint32();
    const uint32_t auths = r.Uint32();

    TNvSSHKey hostKey;
    hostKey.KeyType = TNvSSHKey::ktRSA;
    hostKey.RSAPublicExponent = host.E;
    hostKey.RSAModulus = host.N;
    bool validate = true;
    if (FClient.OnKeyValidate) FClient.OnKeyValidate(&FClient, hostKey, validate);
    if (!validate) throw ENvSSHError(109, MsgHostKeyNotVerifiable);

    Crypto::TMd5 md5;
    md5.Update(host.N.data(), host.N.size());
    md5.Update(server.N.data(), server.N.size());
    md5.Update(FCookie, 8);
    md5.Final(FSessionId);

    static const struct {
        int Number;
        const char* Name;
    } order[] = {{3, "3des-cbc"}, {6, "blowfish-cbc"}, {2, "des-cbc"},
                 {5, "arcfour"},  {1, "idea-cbc"},     {0, "none"}};
    FCipher = -1;
    for (const auto& c : order) {
        const Crypto::TNvCipherInfo* info = Crypto::FindCipher(c.Name);
        if ((ciphers >> c.Number & 1) && info && info->Enabled) {
            FCipher = c.Number;
            break;
        }
    }
    if (FCipher < 0) throw ENvSSHError(7, MsgUnsupportedCipher);

    const unsigned types = FClient.AuthenticationTypes;
    FAuthMask = 0;
    if ((auths >> 3 & 1) && (types & 4)) FAuthMask |= 4;
    if ((auths >> 2 & 1) && (types & 2)) FAuthMask |= 2;
    if ((auths >> 4 & 1) && (types & 8)) FAuthMask |= 8;
    if ((auths >> 1 & 1) && (types & 1)) FAuthMask |= 1;
    if (FAuthMask == 0) throw ENvSSHError(8, MsgUnsupportedAuth);
    FUntried = FAuthMask;

    Crypto::TRandom& rng = FClient.FKex.Random();
    FSessionKey.assign(32, 0);
    rng.Fill(FSessionKey.data(), 32);
    TSecureBytes block = FSessionKey;
    for (int i = 0; i < 16; ++i) block[size_t(i)] ^= FSessionId[i];

    // The smaller modulus goes first so the first result always fits the second key's block.
    Crypto::TRsaPublicKey keys[2] = {{TBigInt::FromBytes(server.E), TBigInt::FromBytes(server.N)},
                                     {TBigInt::FromBytes(host.E), TBigInt::FromBytes(host.N)}};
    if (keys[1].N < keys[0].N) std::swap(keys[0], keys[1]);
    TBytes data(block.begin(), block.end());
    try {
        for (const auto& key : keys) {
            if (key.N.IsZero()) Invalid();
            const TBigInt c = Crypto::RsaEncryptType2(key, data.data(), data.size(), rng);
            std::fill(data.begin(), data.end(), 0);
            data.assign(Crypto::RsaModulusBytes(key.N), 0);
            c.ToBytes(data.data(), data.size());
        }
    } catch (const ENvSSHError&) {
        throw;
    } catch (const std::exception&) {
        // A modulus too small for the key it must carry.
        throw ENvSSHError(6, MsgInvalidPacket);
    }

    TSshWriter w;
    w.Byte(CmsgSessionKey).Byte(uint8_t(FCipher)).Raw(FCookie, 8);
    WriteSsh1Mpint(w, data);
    w.Uint32(ProtocolFlags);
    Send(w.Take());
    std::fill(data.begin(), data.end(), 0);

    FEncrypt = Crypto::CreateSsh1Cipher(FCipher, true, FSessionKey.data());
    FDecrypt = Crypto::CreateSsh1Cipher(FCipher, false, FSessionKey.data());
    std::memset(FInIv, 0, sizeof(FInIv));
    FEncryption = true;
}

void TSsh1Engine::Reply(bool success) {
    switch (FLastSent) {
    case CmsgSessionKey: {
        if (!success) Invalid();
        TSshWriter w;
        w.Byte(CmsgUser).String(FClient.UserName);
        Send(w.Take());
        return;
    }
    case CmsgUser:
        if (success)
            Authenticated();
        else
            NextMethod();
        return;
    case CmsgAuthRhosts:
    case CmsgAuthPassword:
        if (success) {
            Authenticated();
        } else {
            if (FClient.OnAuthenticationFailed)
                FClient.OnAuthenticationFailed(&FClient, FLastSent == CmsgAuthRhosts ? 1 : 4);
            NextMethod();
        }
        return;
    case CmsgAuthRsa:
    case CmsgAuthRhostsRsa:
        if (success) Invalid();
        if (!NextKey()) NextMethod();
        return;
    case CmsgAuthRsaResponse:
        if (success) {
            Authenticated();
            return;
        }
        if (FKeyMethod != 2 && FKeyMethod != 8) Invalid();
        if (!NextKey()) NextMethod();
        return;
    case CmsgRequestCompression:
        if (success) {
            FCompressor = std::make_unique<Crypto::TCompressor>();
            FCompressor->Init(FClient.CompressionLevel);
            FDecompressor = std::make_unique<Crypto::TDecompressor>();
            FDecompressor->Init();
        }
        FCompression = success;
        RequestPty();
        return;
    case CmsgRequestPty:
        NextForwarding();
        return;
    case CmsgPortForwardRequest:
    case CmsgAgentRequestForwarding:
    case CmsgX11RequestForwarding: {
        if (!success) {
            TNvCustomSSHTunnel* t =
                FClient.FTunnelList ? FClient.FTunnelList->Tunnels(FForwardIndex) : nullptr;
            if (t && t->OnError) t->OnError(t, 1);
        }
        NextForwarding();
        return;
    }
    case CmsgExecShell:
        // Servers need not answer the shell request; the session started when it was sent.
        if (!success) Invalid();
        if (!FClient.FSessionActive) {
            FClient.FSessionActive = true;
            if (FClient.OnOpenConnection) FClient.OnOpenConnection(&FClient);
        }
        return;
    default:
        Invalid();
    }
}

void TSsh1Engine::NextMethod() {
    static const unsigned order[] = {1, 2, 4, 8};
    for (unsigned m : order) {
        if (!(FUntried & m)) continue;
        FUntried &= ~m;
        if (m == 1) {
            TSshWriter w;
            w.Byte(CmsgAuthRhosts).String(FClient.UserName);
            Send(w.Take());
            return;
        }
        if (m == 4) {
            TSshWriter w;
            w.Byte(CmsgAuthPassword).String(FClient.Password);
            TBytes p = w.Take();
            Send(p);
            std::fill(p.begin(), p.end(), 0);
            return;
        }
        FKeyMethod = int(m);
        FKeyIndex = -1;
        if (NextKey()) return;
    }
    throw ENvSSHError(10, MsgAuthFailed);
}

// Sends the request for the next RSA key of the current key method; false (after
// OnAuthenticationFailed) when the storage has no further one.
bool TSsh1Engine::NextKey() {
    TNvSSHCustomKeyStorage* storage = FClient.FKeyStorage;
    const int count = storage ? storage->Count() : 0;
    while (++FKeyIndex < count) {
        const TNvSSHKey* key = storage->GetKey(FKeyIndex);
        // The challenge needs the private exponent here; a key whose private half lives in an
        // agent cannot answer it, and offering it would end the session at the challenge.
        if (!key || key->KeyType != TNvSSHKey::ktRSA || !key->HasPrivate()) continue;
        TSshWriter w;
        if (FKeyMethod == 2) {
            w.Byte(CmsgAuthRsa);
            WriteSsh1Mpint(w, key->RSAModulus);
        } else {
            const TBigInt n = TBigInt::FromBytes(key->RSAModulus);
            w.Byte(CmsgAuthRhostsRsa).String(FClient.ClientUserName).Uint32(uint32_t(n.BitCount()));
            WriteSsh1Mpint(w, key->RSAPublicExponent);
            WriteSsh1Mpint(w, key->RSAModulus);
        }
        Send(w.Take());
        return true;
    }
    if (FClient.OnAuthenticationFailed) FClient.OnAuthenticationFailed(&FClient, FKeyMethod);
    return false;
}

void TSsh1Engine::Challenge(const TBytes& payload) {
    TSshReader r(payload, PacketLimit);
    r.Byte();
    TNvSSHCustomKeyStorage* storage = FClient.FKeyStorage;
    const TNvSSHKey* key =
        storage && FKeyIndex >= 0 && FKeyIndex < storage->Count() ? storage->GetKey(FKeyIndex) : nullptr;
    if (!key || !key->HasPrivate()) throw ENvSSHError(200, MsgInternalError);
    const TBigInt n = TBigInt::FromBytes(key->RSAModulus);
    const TBytes challenge = ReadSsh1Mpint(r, n.BitCount());
    Crypto::TRsaPrivateKey priv{
        TBigInt::FromBytes(key->RSAPublicExponent), n,
        TBigInt::FromBytes(key->RSAPrivateExponent.data(), key->RSAPrivateExponent.size())};
    const TBigInt c = TBigInt::FromBytes(challenge);
    if (!(c < n)) throw ENvSSHError(9, MsgInvalidChallenge);
    TSecureBytes block(TBytes(Crypto::RsaModulusBytes(n), 0));
    Crypto::RsaPrivate(priv, c).ToBytes(block.data(), block.size());
    // 00 02, nonzero padding, 00, then exactly the 32 challenge bytes.
    if (block.size() < 2 + 1 + 32 || block[0] != 0 || block[1] != 2)
        throw ENvSSHError(9, MsgInvalidChallenge);
    const auto zero = std::find(block.begin() + 2, block.end(), uint8_t(0));
    if (zero == block.end() || block.end() - (zero + 1) != 32) throw ENvSSHError(9, MsgInvalidChallenge);
    uint8_t response[16];
    Crypto::TMd5 md5;
    md5.Update(&*(zero + 1), 32);
    md5.Update(FSessionId, 16);
    md5.Final(response);
    TSshWriter w;
    w.Byte(CmsgAuthRsaResponse).Raw(response, 16);
    Send(w.Take());
}

void TSsh1Engine::Authenticated() {
    if (FClient.OnAuthenticationSuccess) FClient.OnAuthenticationSuccess(&FClient);
    FSessionTunnel = nullptr;
    FSessionKind = 3;
    if (TNvSSHTunnelList* list = FClient.FTunnelList) {
        for (int i = 0; i < list->Count(); ++i) {
            TNvCustomSSHTunnel* t = list->Tunnels(i);
            if (t && (t->Kind() == TTunnelKind::tkShell || t->Kind() == TTunnelKind::tkCommand)) {
                FSessionTunnel = t;
                FSessionKind = t->Kind() == TTunnelKind::tkShell ? 1 : 2;
                break;
            }
        }
    }
    if (FClient.ForceCompression) {
        TSshWriter w;
        w.Byte(CmsgRequestCompression).Uint32(uint32_t(FClient.CompressionLevel));
        Send(w.Take());
        return;
    }
    if (FSessionTunnel) {
        RequestPty();
        return;
    }
    FClient.FSessionActive = true;
    if (FClient.OnOpenConnection) FClient.OnOpenConnection(&FClient);
}

void TSsh1Engine::RequestPty() {
    const TNvTerminalInfo* info = nullptr;
    if (auto* s = dynamic_cast<TNvSessionSSHTunnel*>(FSessionTunnel)) info = s->TerminalInfo;
    TSshWriter w;
    w.Byte(CmsgRequestPty).String(info ? info->TerminalType : std::string("vt100"));
    w.Uint32(24).Uint32(80).Uint32(0).Uint32(0);
    if (info) {
        for (const auto& [op, value] : info->Modes) {
            // Opcodes 1 to 159 carry a value; 0 ends the list and 160 up are not modes.
            if (op == 0 || op >= 160) continue;
            w.Byte(op).Byte(uint8_t(value));
        }
    } else {
        // The default pairs of the protocol 2 pty request, each value as one byte here; its own
        // speed opcodes (128 up) are replaced by the protocol 1 ones below.
        const TBytes modes = DefaultTerminalModes();
        for (size_t i = 0; i + 5 <= modes.size() && modes[i] != 0 && modes[i] < 128; i += 5)
            w.Byte(modes[i]).Byte(modes[i + 4]);
    }
    w.Byte(192).Uint32(38400).Byte(193).Uint32(38400).Byte(0);
    Send(w.Take());
}

void TSsh1Engine::NextForwarding() {
    TNvSSHTunnelList* list = FClient.FTunnelList;
    const int count = list ? list->Count() : 0;
    while (++FForwardIndex < count) {
        TNvCustomSSHTunnel* t = list->Tunnels(FForwardIndex);
        if (!t) continue;
        TSshWriter w;
        if (t->Kind() == TTunnelKind::tkRemotePortForward) {
            auto* f = static_cast<TNvRemotePortForwardSSHTunnel*>(t);
            w.Byte(CmsgPortForwardRequest)
                .Uint32(uint32_t(f->Port))
                .String(f->ToHost)
                .Uint32(uint32_t(f->ToPort));
        } else if (t->Kind() == TTunnelKind::tkX11) {
            w.Byte(CmsgX11RequestForwarding).String("MIT-MAGIC-COOKIE-1").String("pqzr").Uint32(150);
        } else if (t->Kind() == TTunnelKind::tkAgent) {
            w.Byte(CmsgAgentRequestForwarding);
        } else {
            continue;
        }
        Send(w.Take());
        return;
    }
    StartSession();
}

void TSsh1Engine::StartSession() {
    if (FSessionKind == 1 || FSessionKind == 2) {
        TSshWriter w;
        if (FSessionKind == 1)
            w.Byte(CmsgExecShell);
        else
            w.Byte(CmsgExecCmd).String(static_cast<TNvCommandSSHTunnel*>(FSessionTunnel)->Command);
        Send(w.Take());
        FSession = Create(FSessionTunnel, 0xFFFF, 0xFFFF);
        FSession->ChannelPhase = FSessionKind == 1 ? TChannelPhase::cpShell : TChannelPhase::cpCommand;
        if (FSessionTunnel->OnOpen) FSessionTunnel->OnOpen(FSessionTunnel, FSession);
    }
    FClient.FSessionActive = true;
    if (FClient.OnOpenConnection) FClient.OnOpenConnection(&FClient);
}

} // namespace Varnello::Ssh
