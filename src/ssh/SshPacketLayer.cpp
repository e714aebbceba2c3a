// Framing, padding, sequence numbers, cipher, MAC and compression of SSH-2 packets.
#include "ssh/SshPacketLayer.h"

#include "ssh/SshError.h"

#include "ssh/crypto/ByteOrder.h"
#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Random.h"

#include <cstring>

namespace Varnello::Ssh {

using namespace Varnello::Crypto;

namespace {
constexpr size_t MaxMac = 64;
} // namespace

size_t TSshPacketLayer::TDirection::BlockSize() const {
    if (!Keyed || !Cipher) return 8;
    return Cipher->BlockSize < 8 ? 8 : Cipher->BlockSize;
}

size_t TSshPacketLayer::TDirection::TagSize() const {
    if (!Keyed) return 0;
    if (Mode() != TCipherMode::cmBlock) return 16;
    return MacCtx ? MacCtx->MacSize() : 0;
}

TSshPacketLayer::TSshPacketLayer() : FIn(BufferSize + MaxMac) {
    Reset();
}

TSshPacketLayer::~TSshPacketLayer() {
    SecureWipe(FIn.data(), FIn.size());
}

void TSshPacketLayer::Reset() {
    FHeld = 0;
    FNeed = IdentificationLimit;
    FPhase = TPhase::pLine;
    FLine.clear();
    FPayload.clear();
    FIn_ = TDirection();
    FOut = TDirection();
    FCompressor = std::make_unique<TCompressor>();
    FDecompressor = std::make_unique<TDecompressor>();
}

size_t TSshPacketLayer::Wanted() const {
    return FNeed > FHeld ? FNeed - FHeld : 0;
}

void TSshPacketLayer::Consume(size_t n) {
    if (n < FHeld) std::memmove(FIn.data(), FIn.data() + n, FHeld - n);
    FHeld -= n;
}

void TSshPacketLayer::StartPackets() {
    FPhase = TPhase::pFirst;
    FFirstLen = 8;
    FNeed = FFirstLen;
}

TSshPacketLayer::TUnit TSshPacketLayer::Poll() {
    if (FPhase == TPhase::pLine) return PollLine();
    if (FHeld < FNeed) return TUnit::uNone;
    if (FPhase == TPhase::pFirst) {
        FirstBlock();
        if (FHeld < FNeed) return TUnit::uNone;
    }
    FinishPacket();
    return TUnit::uPacket;
}

TSshPacketLayer::TUnit TSshPacketLayer::PollLine() {
    for (;;) {
        const char* text = reinterpret_cast<const char*>(FIn.data());
        std::string_view held(text, FHeld);
        size_t end = std::string_view::npos, termLen = 0;
        size_t crlf = held.find("\r\n");
        if (crlf != std::string_view::npos && crlf > 0) {
            end = crlf;
            termLen = 2;
        } else {
            size_t lf = held.find('\n');
            if (lf != std::string_view::npos && lf > 0) {
                end = lf;
                termLen = 1;
            } else if (crlf == 0 || lf == 0) {
                // An empty line before the identification: drop it and look again.
                Consume(crlf == 0 ? 2 : 1);
                continue;
            }
        }
        if (end == std::string_view::npos) {
            // A line that fills the whole window without a terminator can never complete.
            if (FHeld >= IdentificationLimit) throw ENvSSHError(1, "");
            FNeed = IdentificationLimit;
            return TUnit::uNone;
        }
        std::string line(held.substr(0, end));
        Consume(end + termLen);
        if (line.rfind("SSH-", 0) != 0) continue; // a banner line before the identification
        FLine = line + (termLen == 2 ? "\r\n" : "\n");
        return TUnit::uLine;
    }
}

void TSshPacketLayer::FirstBlock() {
    TDirection& d = FIn_;
    uint8_t* p = FIn.data();
    const TCipherMode mode = d.Mode();
    if (!d.Keyed || (mode == TCipherMode::cmBlock && !d.Etm())) {
        if (d.Keyed) d.Block->Process(p, FFirstLen);
        FPacketLength = LoadBe32(p);
    } else if (mode == TCipherMode::cmChaChaPoly) {
        FPacketLength = d.ChaCha->DecryptLength(d.Sequence, p);
    } else {
        FPacketLength = LoadBe32(p);
    }
    const size_t tag = d.TagSize();
    const size_t block = d.BlockSize();
    if (FPacketLength > BufferSize - 4 - tag) throw ENvSSHError(11, MsgInvalidPacketSize);
    const bool lengthOutside = d.Keyed && (mode != TCipherMode::cmBlock || d.Etm());
    if (lengthOutside) {
        if (FPacketLength < 8 || FPacketLength % block != 0) throw ENvSSHError(6, MsgInvalidPacket);
    } else {
        if (FPacketLength + 4 < FFirstLen) throw ENvSSHError(6, MsgInvalidPacket);
        if (d.Keyed && (FPacketLength + 4) % block != 0) throw ENvSSHError(6, MsgInvalidPacket);
    }
    FNeed = 4 + size_t(FPacketLength) + tag;
    FPhase = TPhase::pRest;
}

void TSshPacketLayer::FinishPacket() {
    TDirection& d = FIn_;
    uint8_t* p = FIn.data();
    const size_t total = 4 + size_t(FPacketLength);
    const size_t tag = d.TagSize();
    if (d.Keyed) {
        switch (d.Mode()) {
        case TCipherMode::cmChaChaPoly:
            if (!d.ChaCha->Open(d.Sequence, p, total, p + total, p)) throw ENvSSHError(105, MsgInvalidMac);
            break;
        case TCipherMode::cmGcm:
            if (!d.Gcm->Open(p, 4, p + 4, FPacketLength, p + total, p + 4))
                throw ENvSSHError(105, MsgInvalidMac);
            break;
        case TCipherMode::cmBlock:
            if (d.Etm()) {
                if (!d.MacCtx->Verify(d.Sequence, p, total, p + total)) throw ENvSSHError(105, MsgInvalidMac);
                d.Block->Process(p + 4, FPacketLength);
            } else {
                if (total > FFirstLen) d.Block->Process(p + FFirstLen, total - FFirstLen);
                if (!d.MacCtx->Verify(d.Sequence, p, total, p + total)) throw ENvSSHError(105, MsgInvalidMac);
            }
            break;
        }
    }
    const uint8_t padding = p[4];
    if (padding < 4 || size_t(padding) + 1 > FPacketLength) throw ENvSSHError(6, MsgInvalidPacket);
    const size_t payloadLen = FPacketLength - padding - 1;
    if (d.CompressionOn) {
        try {
            FDecompressor->Decompress(p + 5, payloadLen, FPayload);
        } catch (const ECompressionError& e) {
            throw ENvSSHError(106, e.what());
        }
    } else {
        FPayload.assign(p + 5, p + 5 + payloadLen);
    }
    d.Bytes += total + tag;
    ++d.Sequence;
    Consume(total + tag);
    FPhase = TPhase::pFirst;
    FFirstLen = (d.Keyed && (d.Mode() != TCipherMode::cmBlock || d.Etm())) ? 4 : d.BlockSize();
    FNeed = FFirstLen;
}

TBytes TSshPacketLayer::Seal(const TBytes& input) {
    TDirection& d = FOut;
    const TBytes* payload = &input;
    TBytes compressed;
    if (d.CompressionOn) {
        try {
            FCompressor->Compress(input.data(), input.size(), compressed);
        } catch (const ECompressionError& e) {
            throw ENvSSHError(106, e.what());
        }
        payload = &compressed;
    }
    const size_t len = payload->size();
    const size_t block = d.BlockSize();
    const bool lengthOutside = d.Keyed && (d.Mode() != TCipherMode::cmBlock || d.Etm());
    const size_t framed = len + 1 + (lengthOutside ? 0 : 4);
    size_t padding = block - framed % block;
    if (padding < 4) padding += block;
    const size_t total = len + 5 + padding;
    const size_t tag = d.TagSize();
    TBytes out(total + tag);
    StoreBe32(out.data(), uint32_t(total - 4));
    out[4] = uint8_t(padding);
    if (len) std::memcpy(out.data() + 5, payload->data(), len);
    if (d.Keyed) {
        TRandom& rng = FRandom ? *FRandom : TRandom::Shared();
        rng.Fill(out.data() + 5 + len, padding);
    }
    uint8_t* p = out.data();
    if (d.Keyed) {
        switch (d.Mode()) {
        case TCipherMode::cmChaChaPoly:
            d.ChaCha->Seal(d.Sequence, p, total, p, p + total);
            break;
        case TCipherMode::cmGcm:
            d.Gcm->Seal(p, 4, p + 4, total - 4, p + 4, p + total);
            break;
        case TCipherMode::cmBlock:
            if (d.Etm()) {
                d.Block->Process(p + 4, total - 4);
                d.MacCtx->Compute(d.Sequence, p, total, p + total);
            } else {
                d.MacCtx->Compute(d.Sequence, p, total, p + total);
                d.Block->Process(p, total);
            }
            break;
        }
    }
    d.Bytes += out.size();
    ++d.Sequence;
    return out;
}

void TSshPacketLayer::Install(TDirection& d, const TDirectionKeys& keys, bool encrypt) {
    const uint32_t sequence = d.Sequence;
    const bool compressing = d.CompressionOn;
    d.Keyed = true;
    d.Cipher = keys.Cipher;
    d.Mac = keys.Cipher->Mode == TCipherMode::cmBlock ? keys.Mac : nullptr;
    d.Block.reset();
    d.MacCtx.reset();
    d.Gcm.reset();
    d.ChaCha.reset();
    switch (keys.Cipher->Mode) {
    case TCipherMode::cmChaChaPoly:
        d.ChaCha = std::make_unique<TChaChaPolyOpenSsh>();
        d.ChaCha->SetKey(keys.Key.data());
        break;
    case TCipherMode::cmGcm:
        d.Gcm = std::make_unique<TAesGcm>();
        d.Gcm->SetKey(keys.Key.data(), keys.Cipher->KeySize);
        d.Gcm->SetNonce(keys.Iv.data());
        break;
    case TCipherMode::cmBlock:
        d.Block =
            CreateCipher(*keys.Cipher, encrypt, keys.Key.data(), keys.Iv.empty() ? nullptr : keys.Iv.data());
        d.MacCtx = CreateMac(*keys.Mac, keys.MacKey.empty() ? nullptr : keys.MacKey.data());
        break;
    }
    d.Sequence = sequence;
    d.Bytes = 0;
    d.Compression = keys.Compression ? keys.Compression->Kind : TCompressionKind::ckNone;
    // A running stream carries on over a re-exchange; the dictionary must not be lost.
    d.CompressionOn = d.Compression == TCompressionKind::ckZlib ||
                      (d.Compression == TCompressionKind::ckZlibDelayed && compressing);
}

void TSshPacketLayer::SetOutbound(const TDirectionKeys& keys) {
    const bool wasOn = FOut.CompressionOn;
    Install(FOut, keys, true);
    if (FOut.CompressionOn && !wasOn) FCompressor->Init(FLevel);
}

void TSshPacketLayer::SetInbound(const TDirectionKeys& keys) {
    const bool wasOn = FIn_.CompressionOn;
    Install(FIn_, keys, false);
    if (FIn_.CompressionOn && !wasOn) FDecompressor->Init();
    if (FPhase == TPhase::pFirst) {
        FFirstLen = (FIn_.Mode() != TCipherMode::cmBlock || FIn_.Etm()) ? 4 : FIn_.BlockSize();
        FNeed = FFirstLen;
    }
}

void TSshPacketLayer::StartDelayedCompression() {
    if (FOut.Compression == TCompressionKind::ckZlibDelayed && !FOut.CompressionOn) {
        FCompressor->Init(FLevel);
        FOut.CompressionOn = true;
    }
    if (FIn_.Compression == TCompressionKind::ckZlibDelayed && !FIn_.CompressionOn) {
        FDecompressor->Init();
        FIn_.CompressionOn = true;
    }
}

} // namespace Varnello::Ssh
