// DSA arithmetic on the multi-precision integers.
#include "ssh/crypto/Dsa.h"

#include "ssh/crypto/Random.h"

#include <stdexcept>

namespace Varnello::Crypto {

namespace {

bool Positive(const TBigInt& v) {
    return !v.IsNegative() && !v.IsZero();
}

// The digest as an integer, cut to q's bit length (FIPS 186-3, section 4.6).
TBigInt DigestValue(const TBigInt& q, const uint8_t* digest, size_t digestLen) {
    TBigInt z = TBigInt::FromBytes(digest, digestLen);
    const int excess = int(digestLen * 8) - q.BitCount();
    return excess > 0 ? z.ShiftRight(excess) : z;
}

void CheckSigningKey(const TDsaKey& key) {
    if (!Positive(key.P) || !Positive(key.Q) || !Positive(key.G) || !Positive(key.X) ||
        key.Q.BitCount() > int(DsaFieldSize * 8) || !(key.Q < key.P) || !(key.X < key.Q) ||
        key.Q == TBigInt::FromUint(1))
        throw std::invalid_argument("Unusable DSA key");
}

} // namespace

bool DsaSignWithNonce(const TDsaKey& key, const uint8_t* digest, size_t digestLen, const TBigInt& k,
                      uint8_t signature[DsaSignatureSize]) {
    CheckSigningKey(key);
    if (!Positive(k) || !(k < key.Q)) throw std::invalid_argument("DSA nonce out of range");
    const TBigInt r = TBigInt::ModExp(key.G, k, key.P) % key.Q;
    if (r.IsZero()) return false;
    const TBigInt z = DigestValue(key.Q, digest, digestLen);
    const TBigInt kInv = TBigInt::ModInverse(k, key.Q);
    const TBigInt s = TBigInt::ModMul(kInv, (z + TBigInt::ModMul(key.X, r, key.Q)) % key.Q, key.Q);
    if (s.IsZero()) return false;
    r.ToBytes(signature, DsaFieldSize);
    s.ToBytes(signature + DsaFieldSize, DsaFieldSize);
    return true;
}

void DsaSign(const TDsaKey& key, const uint8_t* digest, size_t digestLen, TRandom& rng,
             uint8_t signature[DsaSignatureSize]) {
    CheckSigningKey(key);
    const TBigInt qMinus1 = key.Q - TBigInt::FromUint(1);
    for (;;) {
        // 64 extra bits make the bias of the reduction negligible (FIPS 186-4, B.2.1).
        TBigInt c;
        c.RandomFill(rng, key.Q.ByteCount() + 8);
        const TBigInt k = c % qMinus1 + TBigInt::FromUint(1);
        if (DsaSignWithNonce(key, digest, digestLen, k, signature)) return;
    }
}

bool DsaVerify(const TDsaKey& key, const uint8_t* digest, size_t digestLen,
               const uint8_t signature[DsaSignatureSize]) {
    if (!Positive(key.P) || !Positive(key.Q) || !Positive(key.G) || !Positive(key.Y)) return false;
    if (!(key.Q < key.P) || !(key.G < key.P) || !(key.Y < key.P)) return false;
    const TBigInt r = TBigInt::FromBytes(signature, DsaFieldSize);
    const TBigInt s = TBigInt::FromBytes(signature + DsaFieldSize, DsaFieldSize);
    if (!Positive(r) || !Positive(s) || !(r < key.Q) || !(s < key.Q)) return false;
    TBigInt w;
    try {
        w = TBigInt::ModInverse(s, key.Q);
    } catch (const std::domain_error&) {
        return false; // q not prime
    }
    const TBigInt z = DigestValue(key.Q, digest, digestLen);
    const TBigInt u1 = TBigInt::ModMul(z, w, key.Q);
    const TBigInt u2 = TBigInt::ModMul(r, w, key.Q);
    const TBigInt v =
        TBigInt::ModMul(TBigInt::ModExp(key.G, u1, key.P), TBigInt::ModExp(key.Y, u2, key.P), key.P) % key.Q;
    return v == r;
}

} // namespace Varnello::Crypto
