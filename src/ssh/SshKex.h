// SSH-2 key exchange (RFC 4253 sections 7 and 8, RFC 4419, RFC 8731, RFC 8308 section 2.1, and
// the OpenSSH strict key exchange): the client's KEXINIT, negotiation over the algorithm tables,
// the Diffie-Hellman or X25519 exchange, the host-key check, key derivation and NEWKEYS.
//
// The class only exchanges payloads: Handle() takes messages 20 to 49 and the events below send
// payloads and hand the derived keys to the packet layer. It runs again for every re-exchange,
// keeping the first exchange hash as the session identifier.
#pragma once

#include "ssh/SshAlgorithms.h"
#include "ssh/SshKey.h"
#include "ssh/SshPacketLayer.h"
#include "ssh/SshSecure.h"
#include "ssh/SshWire.h"

#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/Random.h"

#include <functional>
#include <string>

namespace Varnello::Ssh {

struct TNegotiated {
    const TKexAlgorithm* Kex = nullptr;
    const THostKeyAlgorithm* HostKey = nullptr;
    const TCipherAlgorithm* CipherOut = nullptr;
    const TCipherAlgorithm* CipherIn = nullptr;
    const TMacAlgorithm* MacOut = nullptr;
    const TMacAlgorithm* MacIn = nullptr;
    const TCompressionAlgorithm* CompressionOut = nullptr;
    const TCompressionAlgorithm* CompressionIn = nullptr;
};

class TSshKex {
public:
    // Message numbers of this layer.
    static constexpr uint8_t MsgKexInit = 20;
    static constexpr uint8_t MsgNewKeys = 21;
    static constexpr uint8_t MsgKexDhInit = 30;
    static constexpr uint8_t MsgKexDhReply = 31; // also KEX_ECDH_REPLY and KEX_DH_GEX_GROUP
    static constexpr uint8_t MsgGexInit = 32;
    static constexpr uint8_t MsgGexReply = 33;
    static constexpr uint8_t MsgGexRequest = 34;

    TAlgorithmSet AlgorithmSet = TAlgorithmSet::asModern;
    bool ForceCompression = false;

    std::function<void(const TBytes& payload)> OnSendPayload;
    // The server's host key; returns false to refuse it.
    std::function<bool(const TNvSSHKey& key)> OnHostKey;
    // Our NEWKEYS has gone out: the outbound keys take over.
    std::function<void(const TDirectionKeys& keys)> OnOutboundKeys;
    // The server's NEWKEYS arrived: the inbound keys take over; first tells the first exchange.
    std::function<void(const TDirectionKeys& keys, bool first)> OnInboundKeys;

    void Reset(const std::string& clientVersion, const std::string& serverVersion);

    // The client starts a re-exchange (its own KEXINIT first). Ignored while one runs.
    void Start();
    // Messages 20 to 49. Throws ENvSSHError with the session's codes.
    void Handle(const TBytes& payload);

    bool InProgress() const { return FState != TState::ksIdle; }
    bool FirstDone() const { return FExchanges > 0; }
    bool Strict() const { return FStrict; }
    // The server's KEXINIT named "ext-info-s"-capable extension negotiation (we sent ext-info-c).
    const TBytes& SessionId() const { return FSessionId; }
    const TNegotiated& Negotiated() const { return FNeg; }
    Crypto::TRandom& Random() { return FRandom; }

private:
    enum class TState { ksIdle, ksAwaitReply, ksAwaitGroup, ksAwaitGexReply, ksAwaitNewKeys };

    void SendKexInit();
    void ServerKexInit(const TBytes& payload);
    void Negotiate(TSshReader& r);
    void BeginExchange();
    void MakeDhValues();
    void DhReply(TSshReader& r, bool gex);
    void EcdhReply(TSshReader& r);
    void GexGroup(TSshReader& r);
    void CheckHostKeyAndSignature(const TBytes& hostKey, const TBytes& signature, const TBytes& exchangeHash);
    void Finish(const TBytes& exchangeHash, const TSecureBytes& sharedMpint);
    TSecureBytes Derive(const TSecureBytes& sharedMpint, const TBytes& h, char letter, size_t need) const;
    void Send(const TBytes& payload);

    TState FState = TState::ksIdle;
    bool FSentKexInit = false;
    int FExchanges = 0;
    bool FStrict = false;
    std::string FVC, FVS;
    TBytes FIC, FIS;
    TNegotiated FNeg;
    TBytes FSessionId;
    TDirectionKeys FPendingIn;

    Crypto::TBigInt FP, FG, FX, FE;
    uint32_t FGexMin = 0, FGexN = 0, FGexMax = 0;
    TSecureBytes FCurvePrivate;
    TBytes FCurvePublic;
    Crypto::TRandom FRandom;
};

} // namespace Varnello::Ssh
