// AES-GCM (NIST SP 800-38D) for "aes128-gcm@openssh.com" and "aes256-gcm@openssh.com" (RFC 5647).
//
// Nonces are 12 bytes: a 4-byte fixed field and an 8-byte big-endian invocation counter. Every
// Seal or Open consumes the current nonce and then adds one to the invocation counter, as
// RFC 5647 prescribes per packet, so a nonce is never used twice by mistake. With AES-NI and
// PCLMULQDQ the counter mode and GHASH run fused, eight blocks per step with one reduction
// (sixteen on 256-bit registers with VAES and VPCLMULQDQ); otherwise table AES and a constant-time GHASH on
// 64-bit multiplies do the work.
#pragma once

#include "ssh/crypto/Aes.h"

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

// Which implementation GCM may use, for tests and benchmarks that run each in turn: the fastest
// the processor has (256-bit VAES/VPCLMULQDQ), at most the 128-bit AES-NI/PCLMULQDQ kernel, or
// the portable code. Process-wide; set it between runs, not while another thread encrypts.
// ForcePortableCrypto (CpuFeatures.h) overrides it.
enum class TGcmKernel { gkFastest, gkAesNi, gkPortable };
void LimitGcmKernel(TGcmKernel limit);

class TAesGcm {
public:
    static constexpr size_t NonceSize = 12;
    static constexpr size_t TagSize = 16;

    TAesGcm() = default;
    ~TAesGcm();
    TAesGcm(const TAesGcm&) = default;
    TAesGcm& operator=(const TAesGcm&) = default;

    // len must be 16, 24 or 32 (else ENvCipherError from the key schedule).
    void SetKey(const uint8_t* key, size_t len);
    void SetNonce(const uint8_t nonce[NonceSize]);
    void GetNonce(uint8_t nonce[NonceSize]) const;

    // Encrypts len bytes of in to out (may be the same buffer) and authenticates them with aad
    // (for SSH the 4-byte packet length). len may not exceed 2^36 - 32 bytes, and a key must be
    // set (else ENvCipherError, nothing written).
    void Seal(const uint8_t* aad, size_t aadLen, const uint8_t* in, size_t len, uint8_t* out,
              uint8_t tag[TagSize]);
    // Decrypts and checks the tag in constant time. On a wrong tag returns false and zeroes out,
    // so no unauthenticated plaintext is left behind.
    bool Open(const uint8_t* aad, size_t aadLen, const uint8_t* in, size_t len, const uint8_t tag[TagSize],
              uint8_t* out);

private:
    void Run(bool encrypt, const uint8_t* aad, size_t aadLen, const uint8_t* in, size_t len, uint8_t* out,
             uint8_t tag[TagSize]);

    TAesKey FKey;
    uint8_t FNonce[NonceSize] = {};
    uint8_t FH[16] = {}; // E_K(0), the hash key
    alignas(
        16) uint8_t FHPowers[16][16] = {}; // H^1 .. H^16, byte-reversed, for the carry-less multiply paths
};

} // namespace Varnello::Crypto
