// The two ChaCha20-Poly1305 constructions over TChaCha20 and TPoly1305.
#include "ssh/crypto/ChaChaPoly.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Poly1305.h"

#include <cstring>

namespace Varnello::Crypto {

namespace {

void NonceOf(uint64_t seqnr, uint8_t nonce[8]) {
    for (int i = 7; i >= 0; --i) {
        nonce[i] = uint8_t(seqnr);
        seqnr >>= 8;
    }
}

void StoreLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

} // namespace

void TChaChaPolyOpenSsh::SetKey(const uint8_t key[KeySize]) {
    FPayload.SetKey(key);
    FHeader.SetKey(key + 32);
}

uint32_t TChaChaPolyOpenSsh::DecryptLength(uint64_t seqnr, const uint8_t encLength[LengthSize]) const {
    uint8_t nonce[8], plain[LengthSize];
    NonceOf(seqnr, nonce);
    TChaCha20 header = FHeader;
    header.SetNonce64(nonce, 0);
    header.Crypt(encLength, plain, LengthSize);
    return LoadBe32(plain);
}

// Block 0 of K_2's stream keys Poly1305; the payload starts at block 1.
void TChaChaPolyOpenSsh::PayloadCipher(uint64_t seqnr, TChaCha20& payload, uint8_t polyKey[32]) const {
    uint8_t nonce[8];
    NonceOf(seqnr, nonce);
    payload.SetNonce64(nonce, 0);
    payload.Keystream(polyKey, 32);
    payload.SetNonce64(nonce, 1);
}

void TChaChaPolyOpenSsh::Seal(uint64_t seqnr, const uint8_t* packet, size_t len, uint8_t* out,
                              uint8_t tag[TagSize]) const {
    if (len < LengthSize) throw ENvCipherError("Packet shorter than its length field");
    uint8_t nonce[8];
    NonceOf(seqnr, nonce);
    TChaCha20 header = FHeader, payload = FPayload;
    header.SetNonce64(nonce, 0);
    header.Crypt(packet, out, LengthSize);
    uint8_t polyKey[32];
    PayloadCipher(seqnr, payload, polyKey);
    payload.Crypt(packet + LengthSize, out + LengthSize, len - LengthSize);
    TPoly1305::Compute(polyKey, out, len, tag);
    SecureWipe(polyKey, sizeof(polyKey));
}

bool TChaChaPolyOpenSsh::Open(uint64_t seqnr, const uint8_t* encrypted, size_t len,
                              const uint8_t tag[TagSize], uint8_t* out) const {
    if (len < LengthSize) return false;
    TChaCha20 payload = FPayload;
    uint8_t polyKey[32];
    PayloadCipher(seqnr, payload, polyKey);
    const bool ok = TPoly1305::Verify(polyKey, encrypted, len, tag);
    SecureWipe(polyKey, sizeof(polyKey));
    if (!ok) return false;
    uint8_t nonce[8];
    NonceOf(seqnr, nonce);
    TChaCha20 header = FHeader;
    header.SetNonce64(nonce, 0);
    // Payload first: when out == encrypted the length bytes are still needed by nobody else.
    payload.Crypt(encrypted + LengthSize, out + LengthSize, len - LengthSize);
    header.Crypt(encrypted, out, LengthSize);
    return true;
}

namespace {

void AeadTag(const uint8_t polyKey[32], const uint8_t* aad, size_t aadLen, const uint8_t* ct, size_t len,
             uint8_t tag[16]) {
    static const uint8_t zeros[16] = {};
    TPoly1305 p(polyKey);
    p.Update(aad, aadLen);
    p.Update(zeros, (16 - aadLen % 16) % 16);
    p.Update(ct, len);
    p.Update(zeros, (16 - len % 16) % 16);
    uint8_t lengths[16];
    StoreLe64(lengths, aadLen);
    StoreLe64(lengths + 8, len);
    p.Update(lengths, 16);
    p.Final(tag);
}

void AeadStart(const uint8_t key[32], const uint8_t nonce[12], TChaCha20& c, uint8_t polyKey[32]) {
    c.SetKey(key);
    c.SetNonce96(nonce, 0);
    c.Keystream(polyKey, 32);
    c.SetNonce96(nonce, 1);
}

} // namespace

void ChaCha20Poly1305Seal(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad, size_t aadLen,
                          const uint8_t* in, size_t len, uint8_t* out, uint8_t tag[16]) {
    TChaCha20 c;
    uint8_t polyKey[32];
    AeadStart(key, nonce, c, polyKey);
    c.Crypt(in, out, len);
    AeadTag(polyKey, aad, aadLen, out, len, tag);
    SecureWipe(polyKey, sizeof(polyKey));
}

bool ChaCha20Poly1305Open(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad, size_t aadLen,
                          const uint8_t* in, size_t len, const uint8_t tag[16], uint8_t* out) {
    TChaCha20 c;
    uint8_t polyKey[32], want[16];
    AeadStart(key, nonce, c, polyKey);
    AeadTag(polyKey, aad, aadLen, in, len, want);
    SecureWipe(polyKey, sizeof(polyKey));
    if (!ConstTimeEqual(want, tag, 16)) return false;
    c.Crypt(in, out, len);
    return true;
}

} // namespace Varnello::Crypto
