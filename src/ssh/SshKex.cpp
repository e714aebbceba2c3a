// Negotiation, the Diffie-Hellman and X25519 exchanges, host-key checks and key derivation.
#include "ssh/SshKex.h"

#include "ssh/SshError.h"
#include "ssh/SshGroups.h"

#include "ssh/crypto/X25519.h"

#include <algorithm>

namespace Varnello::Ssh {

using namespace Varnello::Crypto;

namespace {

[[noreturn]] void KexFailed() {
    throw ENvSSHError(103, MsgKeyExchangeFailed);
}
[[noreturn]] void Invalid() {
    throw ENvSSHError(6, MsgInvalidPacket);
}

// The client's names that are real algorithms (the extension markers are never chosen).
std::vector<std::string> Choosable(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& n : names) {
        const TKexAlgorithm* k = FindKex(n);
        if (!k || k->Kind != TKexKind::kkMarker) out.push_back(n);
    }
    return out;
}

const char* GroupPrime(int group) {
    switch (group) {
    case 1:
        return ModpGroup1Prime;
    case 14:
        return ModpGroup14Prime;
    default:
        return ModpGroup16Prime;
    }
}

} // namespace

void TSshKex::Reset(const std::string& clientVersion, const std::string& serverVersion) {
    FState = TState::ksIdle;
    FSentKexInit = false;
    FExchanges = 0;
    FStrict = false;
    FVC = clientVersion;
    FVS = serverVersion;
    FIC.clear();
    FIS.clear();
    FNeg = TNegotiated();
    FSessionId.clear();
    if (!FRandom.IsSeeded()) FRandom.Seed();
}

void TSshKex::Send(const TBytes& payload) {
    if (OnSendPayload) OnSendPayload(payload);
}

void TSshKex::Start() {
    if (FState != TState::ksIdle || FSentKexInit) return;
    SendKexInit();
}

void TSshKex::SendKexInit() {
    TSshWriter w;
    w.Byte(MsgKexInit);
    uint8_t cookie[16];
    FRandom.Fill(cookie, sizeof(cookie));
    w.Raw(cookie, sizeof(cookie));
    std::vector<std::string> kex = OfferedKex(AlgorithmSet);
    // The extension markers belong to the first KEXINIT only.
    if (FExchanges > 0) kex = Choosable(kex);
    const std::vector<std::string> ciphers = OfferedCiphers(AlgorithmSet);
    const std::vector<std::string> macs = OfferedMacs(AlgorithmSet);
    const std::vector<std::string> comp = OfferedCompression(AlgorithmSet, ForceCompression);
    w.NameList(kex).NameList(OfferedHostKeys(AlgorithmSet));
    w.NameList(ciphers).NameList(ciphers).NameList(macs).NameList(macs).NameList(comp).NameList(comp);
    w.NameList({}).NameList({}).Boolean(false).Uint32(0);
    FIC = w.Take();
    FSentKexInit = true;
    Send(FIC);
}

void TSshKex::Handle(const TBytes& payload) {
    if (payload.empty()) Invalid();
    const uint8_t msg = payload[0];
    try {
        TSshReader r(payload);
        r.Byte();
        switch (msg) {
        case MsgKexInit:
            if (FState != TState::ksIdle) Invalid();
            ServerKexInit(payload);
            return;
        case MsgNewKeys:
            if (FState != TState::ksAwaitNewKeys) Invalid();
            FState = TState::ksIdle;
            FSentKexInit = false;
            ++FExchanges;
            if (OnInboundKeys) OnInboundKeys(FPendingIn, FExchanges == 1);
            FPendingIn = TDirectionKeys();
            return;
        case MsgKexDhReply:
            if (FState == TState::ksAwaitGroup)
                GexGroup(r);
            else if (FState == TState::ksAwaitReply && FNeg.Kex->Kind == TKexKind::kkCurve25519)
                EcdhReply(r);
            else if (FState == TState::ksAwaitReply)
                DhReply(r, false);
            else
                Invalid();
            return;
        case MsgGexReply:
            if (FState != TState::ksAwaitGexReply) Invalid();
            DhReply(r, true);
            return;
        default:
            Invalid();
        }
    } catch (const ENvSSHException&) {
        Invalid();
    } catch (const EBigIntOverflow&) {
        Invalid();
    }
}

void TSshKex::ServerKexInit(const TBytes& payload) {
    if (payload.size() <= 16) Invalid();
    FIS = payload;
    TSshReader r(payload);
    r.Byte();
    r.Raw(16);
    Negotiate(r);
    if (!FSentKexInit) SendKexInit();
    BeginExchange();
}

void TSshKex::Negotiate(TSshReader& r) {
    std::vector<std::string> lists[10];
    for (auto& l : lists) l = r.NameList();
    const bool guessFollows = r.Boolean();

    TNegotiated n;
    auto pick = [&](const std::vector<std::string>& client, const std::vector<std::string>& server) {
        std::string c = Choose(client, server);
        if (c.empty()) Invalid();
        return c;
    };
    n.Kex = FindKex(pick(Choosable(OfferedKex(AlgorithmSet)), lists[0]));
    n.HostKey = FindHostKey(pick(OfferedHostKeys(AlgorithmSet), lists[1]));
    const auto ciphers = OfferedCiphers(AlgorithmSet);
    n.CipherOut = FindCipherAlgorithm(pick(ciphers, lists[2]));
    n.CipherIn = FindCipherAlgorithm(pick(ciphers, lists[3]));
    const auto macs = OfferedMacs(AlgorithmSet);
    // An AEAD cipher authenticates by itself; its MAC slot is not used.
    if (n.CipherOut->Mode == TCipherMode::cmBlock) n.MacOut = FindMacAlgorithm(pick(macs, lists[4]));
    if (n.CipherIn->Mode == TCipherMode::cmBlock) n.MacIn = FindMacAlgorithm(pick(macs, lists[5]));
    const auto comp = OfferedCompression(AlgorithmSet, ForceCompression);
    n.CompressionOut = FindCompression(pick(comp, lists[6]));
    n.CompressionIn = FindCompression(pick(comp, lists[7]));
    FNeg = n;

    if (FExchanges == 0 && AlgorithmSet == TAlgorithmSet::asModern)
        FStrict = std::find(lists[0].begin(), lists[0].end(), StrictKexServerName) != lists[0].end();
    // A guessed first packet from the server would follow; we never guess, and the server's
    // guess is right only when both first choices match (RFC 4253 section 7).
    (void)guessFollows;
}

void TSshKex::BeginExchange() {
    switch (FNeg.Kex->Kind) {
    case TKexKind::kkCurve25519: {
        FCurvePrivate.assign(X25519KeySize, 0);
        FRandom.Fill(FCurvePrivate.data(), X25519KeySize);
        FCurvePublic.assign(X25519KeySize, 0);
        X25519PublicKey(FCurvePublic.data(), FCurvePrivate.data());
        TSshWriter w;
        w.Byte(MsgKexDhInit).String(FCurvePublic);
        FState = TState::ksAwaitReply;
        Send(w.Take());
        return;
    }
    case TKexKind::kkDhGroup: {
        FP = TBigInt::FromHex(GroupPrime(FNeg.Kex->Group));
        FG = TBigInt::FromUint(2);
        MakeDhValues();
        TSshWriter w;
        w.Byte(MsgKexDhInit).Mpint(FE);
        FState = TState::ksAwaitReply;
        Send(w.Take());
        return;
    }
    case TKexKind::kkDhGroupExchange: {
        if (AlgorithmSet == TAlgorithmSet::asOriginal) {
            FGexMin = 1024, FGexN = 1024, FGexMax = 8192;
        } else {
            FGexMin = 2048, FGexN = 3072, FGexMax = 8192;
        }
        TSshWriter w;
        w.Byte(MsgGexRequest).Uint32(FGexMin).Uint32(FGexN).Uint32(FGexMax);
        FState = TState::ksAwaitGroup;
        Send(w.Take());
        return;
    }
    case TKexKind::kkMarker:
        break;
    }
    Invalid();
}

void TSshKex::MakeDhValues() {
    // As many random bytes as p has 32-bit words, and never fewer than 32.
    size_t bytes = size_t(FP.WordCount());
    if (bytes < 32) bytes = 32;
    FX.RandomFill(FRandom, bytes);
    FE = TBigInt::ModExp(FG, FX, FP);
}

void TSshKex::GexGroup(TSshReader& r) {
    TBigInt p = r.MpintValue();
    TBigInt g = r.MpintValue();
    const int bits = p.BitCount();
    if (bits < int(FGexMin) || bits > int(FGexMax)) KexFailed();
    if (FNeg.Kex->Hash != THashKind::hkSha1 && bits < 2048) KexFailed();
    if (!p.IsOdd()) KexFailed();
    const TBigInt two = TBigInt::FromUint(2);
    if (g < two || g > p - two) KexFailed();
    FP = p;
    FG = g;
    MakeDhValues();
    TSshWriter w;
    w.Byte(MsgGexInit).Mpint(FE);
    FState = TState::ksAwaitGexReply;
    Send(w.Take());
}

void TSshKex::DhReply(TSshReader& r, bool gex) {
    TBytes hostKey = r.StringBytes();
    TBigInt f = r.MpintValue();
    TBytes signature = r.StringBytes();
    // f must lie in [2, p-2]: 0, 1 and p-1 give a shared secret anyone can know.
    const TBigInt two = TBigInt::FromUint(2);
    if (f < two || f > FP - two) KexFailed();
    TBigInt k = TBigInt::ModExp(f, FX, FP);

    TSshWriter kw(16384);
    kw.Mpint(k);
    TSecureBytes sharedMpint(kw.Data());
    SecureWipe(kw.Data().data(), kw.Size());

    TSshWriter h(128000);
    h.String(FVC).String(FVS).String(FIC).String(FIS).String(hostKey);
    if (gex) {
        h.Uint32(FGexMin).Uint32(FGexN).Uint32(FGexMax).Mpint(FP).Mpint(FG);
    }
    h.Mpint(FE).Mpint(f).Raw(sharedMpint.data(), sharedMpint.size());
    TBytes exchangeHash = HashBytes(FNeg.Kex->Hash, h.Data().data(), h.Size());
    SecureWipe(h.Data().data(), h.Size());
    CheckHostKeyAndSignature(hostKey, signature, exchangeHash);
    Finish(exchangeHash, sharedMpint);
}

void TSshKex::EcdhReply(TSshReader& r) {
    TBytes hostKey = r.StringBytes();
    TBytes serverPublic = r.StringBytes();
    TBytes signature = r.StringBytes();
    if (serverPublic.size() != X25519KeySize) Invalid();
    TSecureBytes shared(X25519KeySize);
    // An all-zero result means a small-order point: the secret would be known to anyone.
    if (!X25519(shared.data(), FCurvePrivate.data(), serverPublic.data())) KexFailed();
    FCurvePrivate.Wipe();

    TSshWriter kw(64);
    kw.Mpint(shared.data(), shared.size());
    TSecureBytes sharedMpint(kw.Data());
    SecureWipe(kw.Data().data(), kw.Size());

    TSshWriter h(128000);
    h.String(FVC).String(FVS).String(FIC).String(FIS).String(hostKey);
    h.String(FCurvePublic).String(serverPublic).Raw(sharedMpint.data(), sharedMpint.size());
    TBytes exchangeHash = HashBytes(FNeg.Kex->Hash, h.Data().data(), h.Size());
    SecureWipe(h.Data().data(), h.Size());
    CheckHostKeyAndSignature(hostKey, signature, exchangeHash);
    Finish(exchangeHash, sharedMpint);
}

void TSshKex::CheckHostKeyAndSignature(const TBytes& hostKey, const TBytes& signature,
                                       const TBytes& exchangeHash) {
    const THostKeyAlgorithm& alg = *FNeg.HostKey;
    if (alg.Kind == THostKeyKind::hkUnsupported) KexFailed();
    if (BlobKeyType(hostKey) != alg.BlobType) KexFailed();
    TNvSSHKey key;
    if (!KeyFromBlob(hostKey, key)) KexFailed();
    if (OnHostKey && !OnHostKey(key)) throw ENvSSHError(109, MsgHostKeyNotVerifiable);
    if (SignatureAlgorithm(signature) != alg.Name) KexFailed();
    if (!VerifySignature(key, alg.Name, exchangeHash.data(), exchangeHash.size(), signature)) Invalid();
}

TSecureBytes TSshKex::Derive(const TSecureBytes& sharedMpint, const TBytes& h, char letter,
                             size_t need) const {
    const THashKind hash = FNeg.Kex->Hash;
    TSecureBytes out;
    TSecureBytes input(sharedMpint);
    input.insert(input.end(), h.begin(), h.end());
    const size_t prefix = input.size();
    input.push_back(uint8_t(letter));
    input.insert(input.end(), FSessionId.begin(), FSessionId.end());
    TSecureBytes block(HashBytes(hash, input.data(), input.size()));
    out.insert(out.end(), block.begin(), block.end());
    while (out.size() < need) {
        input.resize(prefix);
        input.insert(input.end(), out.begin(), out.end());
        TSecureBytes more(HashBytes(hash, input.data(), input.size()));
        out.insert(out.end(), more.begin(), more.end());
    }
    out.resize(need);
    return out;
}

void TSshKex::Finish(const TBytes& exchangeHash, const TSecureBytes& sharedMpint) {
    if (FSessionId.empty()) FSessionId = exchangeHash;
    TDirectionKeys out, in;
    out.Cipher = FNeg.CipherOut;
    in.Cipher = FNeg.CipherIn;
    out.Mac = FNeg.MacOut;
    in.Mac = FNeg.MacIn;
    out.Compression = FNeg.CompressionOut;
    in.Compression = FNeg.CompressionIn;
    out.Iv = Derive(sharedMpint, exchangeHash, 'A', out.Cipher->IvSize);
    in.Iv = Derive(sharedMpint, exchangeHash, 'B', in.Cipher->IvSize);
    out.Key = Derive(sharedMpint, exchangeHash, 'C', out.Cipher->KeySize);
    in.Key = Derive(sharedMpint, exchangeHash, 'D', in.Cipher->KeySize);
    if (out.Mac) out.MacKey = Derive(sharedMpint, exchangeHash, 'E', out.Mac->KeyBytes);
    if (in.Mac) in.MacKey = Derive(sharedMpint, exchangeHash, 'F', in.Mac->KeyBytes);
    FX = TBigInt::Zero();
    FPendingIn = in;
    FState = TState::ksAwaitNewKeys;
    Send(TBytes{MsgNewKeys});
    if (OnOutboundKeys) OnOutboundKeys(out);
}

} // namespace Varnello::Ssh
