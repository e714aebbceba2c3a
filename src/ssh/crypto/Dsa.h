// DSA (FIPS 186) signing and verification for "ssh-dss": 160-bit q, SHA-1 digests, and the
// signature as r and s in fixed 20-byte big-endian fields (40 bytes).
//
// The nonce k is drawn uniformly from [1, q-1]: 64 bits more than q's length, reduced modulo q-1.
// A short or biased nonce leaks the private key through a handful of signatures.
#pragma once

#include "ssh/crypto/BigInt.h"

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TRandom;

struct TDsaKey {
    TBigInt P;
    TBigInt Q;
    TBigInt G;
    TBigInt Y;
    TBigInt X; // private; unused by verification
};

constexpr size_t DsaFieldSize = 20;
constexpr size_t DsaSignatureSize = 2 * DsaFieldSize;

// digest: the hash of the message (20 bytes for SHA-1); only its leftmost bits up to q's length
// count. Writes r || s. Throws std::invalid_argument for parameters that cannot sign (q wider
// than 160 bits, non-positive values).
void DsaSign(const TDsaKey& key, const uint8_t* digest, size_t digestLen, TRandom& rng,
             uint8_t signature[DsaSignatureSize]);
// The same with a caller-chosen nonce (for known-answer tests); k must lie in [1, q-1]. Returns
// false when k yields r or s of zero, in which case another k is needed.
bool DsaSignWithNonce(const TDsaKey& key, const uint8_t* digest, size_t digestLen, const TBigInt& k,
                      uint8_t signature[DsaSignatureSize]);
// false for any malformed parameter or signature as well as for a wrong one.
bool DsaVerify(const TDsaKey& key, const uint8_t* digest, size_t digestLen,
               const uint8_t signature[DsaSignatureSize]);

} // namespace Varnello::Crypto
