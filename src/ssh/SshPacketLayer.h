// The binary packet protocol of SSH-2 (RFC 4253 sections 4.2 and 6) and the identification line.
//
// Input is pulled in exact amounts: Wanted() says how many bytes the current step still needs,
// so no byte of a following packet is taken before it is due. A packet is read as its first
// block (or, for encrypt-then-MAC and the AEAD forms, its 4-byte length), checked, and then
// exactly the rest of it with its MAC or tag. The identification phase reads up to 255 bytes at
// once; bytes that followed the server's line in the same read are kept for the first packet.
//
// Framing per mode:
//   block cipher + MAC: length, padding length, payload, padding encrypted; MAC over
//     seq || plaintext packet (RFC 4253 section 6.4);
//   encrypt-then-MAC (…-etm@openssh.com): length in clear, MAC over seq || length || ciphertext,
//     checked before anything is decrypted;
//   AES-GCM (RFC 5647): length in clear as additional data, 16-byte tag;
//   chacha20-poly1305@openssh.com: length encrypted with its own key, tag over everything.
// Compression ("zlib" at once, "zlib@openssh.com" after user authentication) works on payloads.
// Errors are thrown as ENvSSHError with the session's error codes.
#pragma once

#include "ssh/SshAlgorithms.h"
#include "ssh/SshSecure.h"
#include "ssh/SshWire.h"

#include "ssh/crypto/AesGcm.h"
#include "ssh/crypto/ChaChaPoly.h"
#include "ssh/crypto/Compression.h"

#include <memory>
#include <string>

namespace Varnello::Crypto {
class TRandom;
}

namespace Varnello::Ssh {

// Keys and algorithms for one direction, as the key exchange derives them.
struct TDirectionKeys {
    const TCipherAlgorithm* Cipher = nullptr;
    const TMacAlgorithm* Mac = nullptr; // unused with an AEAD cipher
    const TCompressionAlgorithm* Compression = nullptr;
    TSecureBytes Key, Iv, MacKey;
};

class TSshPacketLayer {
public:
    static constexpr size_t BufferSize = 128000;
    static constexpr size_t IdentificationLimit = 255;

    enum class TUnit { uNone, uLine, uPacket };

    TSshPacketLayer();
    ~TSshPacketLayer();

    // Back to the identification phase with no keys, no compression, sequence numbers 0.
    void Reset();

    // Input: ask the peer for Wanted() bytes, write them at InputSpace(), then Append(count).
    size_t Wanted() const;
    uint8_t* InputSpace() { return FIn.data() + FHeld; }
    void Append(size_t count) { FHeld += count; }
    // Hands over the bytes held and not yet used (the protocol 1 engine takes them after the line).
    TBytes TakeHeld() {
        TBytes out(FIn.begin(), FIn.begin() + long(FHeld));
        FHeld = 0;
        return out;
    }
    // Completes the next unit from the bytes held, if it can: a server line (Line()) or a
    // packet (Payload()). Throws ENvSSHError on bad input.
    TUnit Poll();
    const std::string& Line() const { return FLine; }
    const TBytes& Payload() const { return FPayload; }
    // After the client has sent its own identification: packets from now on.
    void StartPackets();
    bool InPacketPhase() const { return FPhase != TPhase::pLine; }

    // Output: the packet for one payload, MAC or tag included. Throws ENvSSHError(106) when
    // compression fails.
    TBytes Seal(const TBytes& payload);

    // Keys come into use: outbound right after our NEWKEYS, inbound after the server's.
    void SetOutbound(const TDirectionKeys& keys);
    void SetInbound(const TDirectionKeys& keys);
    bool OutboundKeyed() const { return FOut.Keyed; }
    bool InboundKeyed() const { return FIn_.Keyed; }
    // "zlib@openssh.com" starts once the server has accepted the user.
    void StartDelayedCompression();
    // Strict key exchange: the counters start again at every NEWKEYS.
    void ResetOutboundSequence() { FOut.Sequence = 0; }
    void ResetInboundSequence() { FIn_.Sequence = 0; }

    uint32_t InboundSequence() const { return FIn_.Sequence; }
    uint32_t OutboundSequence() const { return FOut.Sequence; }
    // Bytes moved since the last keys came into use, for the client's re-keying.
    uint64_t BytesSinceKeys() const { return FIn_.Bytes > FOut.Bytes ? FIn_.Bytes : FOut.Bytes; }
    void SetCompressionLevel(int level) { FLevel = level; }
    // Padding is random once keys are in use; tests may seed their own generator.
    void SetRandom(Crypto::TRandom* random) { FRandom = random; }

private:
    enum class TPhase { pLine, pFirst, pRest };

    struct TDirection {
        bool Keyed = false;
        const TCipherAlgorithm* Cipher = nullptr;
        const TMacAlgorithm* Mac = nullptr;
        std::unique_ptr<Crypto::TNvCipher> Block;
        std::unique_ptr<Crypto::TMac> MacCtx;
        std::unique_ptr<Crypto::TAesGcm> Gcm;
        std::unique_ptr<Crypto::TChaChaPolyOpenSsh> ChaCha;
        TCompressionKind Compression = TCompressionKind::ckNone;
        bool CompressionOn = false;
        uint32_t Sequence = 0;
        uint64_t Bytes = 0;

        TCipherMode Mode() const { return Keyed && Cipher ? Cipher->Mode : TCipherMode::cmBlock; }
        size_t BlockSize() const;
        bool Etm() const { return Keyed && Mode() == TCipherMode::cmBlock && Mac && Mac->EncryptThenMac; }
        size_t TagSize() const;
    };

    void Install(TDirection& d, const TDirectionKeys& keys, bool encrypt);
    TUnit PollLine();
    void FirstBlock();
    void FinishPacket();
    void Consume(size_t n);

    TBytes FIn;
    size_t FHeld = 0;
    size_t FNeed = 0;
    TPhase FPhase = TPhase::pLine;
    std::string FLine;
    TBytes FPayload;
    uint32_t FPacketLength = 0;
    size_t FFirstLen = 0;

    TDirection FIn_;
    TDirection FOut;
    std::unique_ptr<Crypto::TCompressor> FCompressor;
    std::unique_ptr<Crypto::TDecompressor> FDecompressor;
    int FLevel = 6;
    Crypto::TRandom* FRandom = nullptr;
};

} // namespace Varnello::Ssh
