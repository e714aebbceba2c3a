// Ed25519 over Field25519: extended twisted-Edwards points, a constant-time fixed-base comb for
// [s]B, a variable-time window for the public part of verification, and scalars modulo the
// group order L reduced by Barrett's method on 64-bit words.
#include "ssh/crypto/Ed25519.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Field25519.h"
#include "ssh/crypto/Sha512.h"

#include <array>
#include <cstring>

namespace Varnello::Crypto {

using namespace Field25519;

namespace {

// ---- Curve constants ----------------------------------------------------------------------

constexpr uint8_t DBytes[32] = {0xa3, 0x78, 0x59, 0x13, 0xca, 0x4d, 0xeb, 0x75, 0xab, 0xd8, 0x41,
                                0x41, 0x4d, 0x0a, 0x70, 0x00, 0x98, 0xe8, 0x79, 0x77, 0x79, 0x40,
                                0xc7, 0x8c, 0x73, 0xfe, 0x6f, 0x2b, 0xee, 0x6c, 0x03, 0x52};
constexpr uint8_t D2Bytes[32] = {0x59, 0xf1, 0xb2, 0x26, 0x94, 0x9b, 0xd6, 0xeb, 0x56, 0xb1, 0x83,
                                 0x82, 0x9a, 0x14, 0xe0, 0x00, 0x30, 0xd1, 0xf3, 0xee, 0xf2, 0x80,
                                 0x8e, 0x19, 0xe7, 0xfc, 0xdf, 0x56, 0xdc, 0xd9, 0x06, 0x24};
constexpr uint8_t SqrtM1Bytes[32] = {0xb0, 0xa0, 0x0e, 0x4a, 0x27, 0x1b, 0xee, 0xc4, 0x78, 0xe4, 0x2f,
                                     0xad, 0x06, 0x18, 0x43, 0x2f, 0xa7, 0xd7, 0xfb, 0x3d, 0x99, 0x00,
                                     0x4d, 0x2b, 0x0b, 0xdf, 0xc1, 0x4f, 0x80, 0x24, 0x83, 0x2b};
// The base point's encoding: y = 4/5, x even.
constexpr uint8_t BaseBytes[32] = {0x58, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
                                   0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
                                   0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66};

const TFe& D() {
    static const TFe d = FeFromBytes(DBytes);
    return d;
}
const TFe& D2() {
    static const TFe d2 = FeFromBytes(D2Bytes);
    return d2;
}
const TFe& SqrtM1() {
    static const TFe s = FeFromBytes(SqrtM1Bytes);
    return s;
}

// ---- Points --------------------------------------------------------------------------------

struct TGe { // extended coordinates: x = X/Z, y = Y/Z, xy = T/Z
    TFe X, Y, Z, T;
};

struct TGeCached { // a point prepared as an addend
    TFe YpX, YmX, Z2, T2d;
};

TGe GeIdentity() {
    return TGe{FeZero(), FeOne(), FeOne(), FeZero()};
}

TGeCached CachedIdentity() {
    TGeCached c{FeOne(), FeOne(), FeZero(), FeZero()};
    c.Z2.V[0] = 2;
    return c;
}

TGeCached ToCached(const TGe& p) {
    return TGeCached{FeAdd(p.Y, p.X), FeSub(p.Y, p.X), FeAdd(p.Z, p.Z), FeMul(p.T, D2())};
}

TGe GeAdd(const TGe& p, const TGeCached& q) {
    const TFe a = FeMul(FeSub(p.Y, p.X), q.YmX);
    const TFe b = FeMul(FeAdd(p.Y, p.X), q.YpX);
    const TFe c = FeMul(p.T, q.T2d);
    const TFe d = FeMul(p.Z, q.Z2);
    const TFe e = FeSub(b, a), f = FeSub(d, c), g = FeAdd(d, c), h = FeAdd(b, a);
    return TGe{FeMul(e, f), FeMul(g, h), FeMul(f, g), FeMul(e, h)};
}

TGe GeDouble(const TGe& p) {
    const TFe a = FeSq(p.X), b = FeSq(p.Y);
    const TFe zz = FeSq(p.Z);
    const TFe c = FeAdd(zz, zz);
    const TFe h = FeAdd(a, b);
    const TFe e = FeSub(h, FeSq(FeAdd(p.X, p.Y)));
    const TFe g = FeSub(a, b);
    const TFe f = FeAdd(c, g);
    return TGe{FeMul(e, f), FeMul(g, h), FeMul(f, g), FeMul(e, h)};
}

void GeToBytes(uint8_t s[32], const TGe& p) {
    const TFe zi = FeInvert(p.Z);
    const TFe x = FeMul(p.X, zi), y = FeMul(p.Y, zi);
    FeToBytes(s, y);
    s[31] ^= uint8_t(FeIsNegative(x) << 7);
}

// RFC 8032, section 5.1.3, refusing non-canonical y.
bool GeFromBytes(TGe& p, const uint8_t s[32]) {
    const TFe y = FeFromBytes(s);
    uint8_t check[32];
    FeToBytes(check, y);
    check[31] |= s[31] & 0x80;
    if (std::memcmp(check, s, 32) != 0) return false;
    const uint64_t sign = s[31] >> 7;

    const TFe y2 = FeSq(y);
    const TFe u = FeSub(y2, FeOne());
    const TFe v = FeAdd(FeMul(D(), y2), FeOne());
    const TFe v3 = FeMul(FeSq(v), v);
    const TFe v7 = FeMul(FeSq(v3), v);
    TFe x = FeMul(FeMul(u, v3), FePow22523(FeMul(u, v7)));
    const TFe vx2 = FeMul(v, FeSq(x));
    if (!FeEqual(vx2, u)) {
        if (!FeEqual(vx2, FeNeg(u))) return false;
        x = FeMul(x, SqrtM1());
    }
    if (FeIsZero(x) && sign) return false;
    if (FeIsNegative(x) != sign) x = FeNeg(x);
    p = TGe{x, y, FeOne(), FeMul(x, y)};
    return true;
}

// ---- Fixed-base multiplication --------------------------------------------------------------

// Table[i][j] = (j + 1) * 16^i * B: with signed base-16 digits a scalar costs 64 additions and
// 64 constant-time table scans, no doublings.
using TBaseTable = std::array<std::array<TGeCached, 8>, 64>;

const TBaseTable& BaseTable() {
    static const TBaseTable table = [] {
        TBaseTable t;
        TGe base;
        GeFromBytes(base, BaseBytes);
        for (int i = 0; i < 64; ++i) {
            const TGeCached step = ToCached(base);
            TGe multiple = base;
            t[i][0] = step;
            for (int j = 1; j < 8; ++j) {
                multiple = GeAdd(multiple, step);
                t[i][j] = ToCached(multiple);
            }
            for (int k = 0; k < 4; ++k) base = GeDouble(base);
        }
        return t;
    }();
    return table;
}

void CachedCmov(TGeCached& r, const TGeCached& p, uint64_t move) {
    FeCmov(r.YpX, p.YpX, move);
    FeCmov(r.YmX, p.YmX, move);
    FeCmov(r.Z2, p.Z2, move);
    FeCmov(r.T2d, p.T2d, move);
}

// Reads every entry of row i so the memory trace does not depend on the digit.
TGeCached Select(int i, int8_t digit) {
    const uint8_t negative = uint8_t(digit) >> 7;
    const uint8_t magnitude = uint8_t(digit - ((-int(negative) & digit) << 1));
    TGeCached r = CachedIdentity();
    const auto& row = BaseTable()[i];
    for (int j = 0; j < 8; ++j) {
        const uint8_t diff = magnitude ^ uint8_t(j + 1);
        const uint64_t equal = (uint64_t(diff) - 1) >> 63; // 1 when diff == 0
        CachedCmov(r, row[j], equal);
    }
    TGeCached neg{r.YmX, r.YpX, r.Z2, FeNeg(r.T2d)};
    CachedCmov(r, neg, negative);
    return r;
}

// [a]B for a < 2^255 (a[31] <= 127), constant time.
TGe ScalarMultBase(const uint8_t a[32]) {
    int8_t e[64];
    for (int i = 0; i < 32; ++i) {
        e[2 * i] = int8_t(a[i] & 15);
        e[2 * i + 1] = int8_t(a[i] >> 4);
    }
    int8_t carry = 0;
    for (int i = 0; i < 63; ++i) {
        e[i] = int8_t(e[i] + carry);
        carry = int8_t((e[i] + 8) >> 4);
        e[i] = int8_t(e[i] - carry * 16);
    }
    e[63] = int8_t(e[63] + carry);
    TGe r = GeIdentity();
    for (int i = 0; i < 64; ++i) r = GeAdd(r, Select(i, e[i]));
    SecureWipe(e, sizeof(e));
    return r;
}

// [a]P in variable time (verification only: a and P are public).
TGe ScalarMultVartime(const uint8_t a[32], const TGe& p) {
    TGeCached multiples[16];
    TGe acc = p;
    multiples[1] = ToCached(p);
    for (int j = 2; j < 16; ++j) {
        acc = GeAdd(acc, multiples[1]);
        multiples[j] = ToCached(acc);
    }
    TGe r = GeIdentity();
    for (int i = 63; i >= 0; --i) {
        for (int k = 0; k < 4; ++k) r = GeDouble(r);
        const int nibble = (a[i >> 1] >> (4 * (i & 1))) & 15;
        if (nibble != 0) r = GeAdd(r, multiples[nibble]);
    }
    return r;
}

// ---- Scalars modulo L = 2^252 + 27742317777372353535851937790883648493 ----------------------

using u128 = unsigned __int128;
constexpr uint64_t L[5] = {0x5812631a5cf5d3edULL, 0x14def9dea2f79cd6ULL, 0, 0x1000000000000000ULL, 0};
// floor(2^512 / L), Barrett's constant for 256-bit words of 64 bits.
constexpr uint64_t Mu[5] = {0xed9ce5a30a2c131bULL, 0x2106215d086329a7ULL, 0xffffffffffffffebULL,
                            0xffffffffffffffffULL, 0xf};

void MulWords(const uint64_t* a, int na, const uint64_t* b, int nb, uint64_t* out) {
    for (int i = 0; i < na + nb; ++i) out[i] = 0;
    for (int i = 0; i < na; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < nb; ++j) {
            const u128 t = u128(a[i]) * b[j] + out[i + j] + carry;
            out[i + j] = uint64_t(t);
            carry = uint64_t(t >> 64);
        }
        out[i + nb] = carry;
    }
}

// r -= L when r >= L, without a branch on r.
void CondSubL(uint64_t r[5]) {
    uint64_t t[5], borrow = 0;
    for (int i = 0; i < 5; ++i) {
        const u128 d = u128(r[i]) - L[i] - borrow;
        t[i] = uint64_t(d);
        borrow = uint64_t(d >> 64) & 1;
    }
    const uint64_t keep = 0 - borrow; // all ones: r < L, keep r
    for (int i = 0; i < 5; ++i) r[i] = (r[i] & keep) | (t[i] & ~keep);
}

// x (eight words, x < 2^512) mod L into 32 little-endian bytes (HAC algorithm 14.42).
void BarrettReduce(const uint64_t x[8], uint8_t out[32]) {
    uint64_t q2[10], q3l[10], r[5];
    MulWords(x + 3, 5, Mu, 5, q2);
    MulWords(q2 + 5, 5, L, 4, q3l);
    uint64_t borrow = 0;
    for (int i = 0; i < 5; ++i) {
        const u128 d = u128(x[i]) - q3l[i] - borrow;
        r[i] = uint64_t(d);
        borrow = uint64_t(d >> 64) & 1;
    }
    CondSubL(r);
    CondSubL(r);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) out[8 * i + j] = uint8_t(r[i] >> (8 * j));
}

void LoadWords(const uint8_t* s, int words, uint64_t* w) {
    for (int i = 0; i < words; ++i) {
        uint64_t v = 0;
        for (int j = 7; j >= 0; --j) v = (v << 8) | s[8 * i + j];
        w[i] = v;
    }
}

void ScReduce(uint8_t out[32], const uint8_t in[64]) {
    uint64_t x[8];
    LoadWords(in, 8, x);
    BarrettReduce(x, out);
    SecureWipe(x, sizeof(x));
}

// (a * b + c) mod L for 256-bit a, b, c with a, b < 2^255 and c < L.
void ScMulAdd(uint8_t out[32], const uint8_t a[32], const uint8_t b[32], const uint8_t c[32]) {
    uint64_t aw[4], bw[4], cw[4], x[8];
    LoadWords(a, 4, aw);
    LoadWords(b, 4, bw);
    LoadWords(c, 4, cw);
    MulWords(aw, 4, bw, 4, x);
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const u128 t = u128(x[i]) + (i < 4 ? cw[i] : 0) + carry;
        x[i] = uint64_t(t);
        carry = uint64_t(t >> 64);
    }
    BarrettReduce(x, out);
    SecureWipe(aw, sizeof(aw));
    SecureWipe(bw, sizeof(bw));
    SecureWipe(cw, sizeof(cw));
    SecureWipe(x, sizeof(x));
}

bool ScIsCanonical(const uint8_t s[32]) {
    uint64_t w[4];
    LoadWords(s, 4, w);
    for (int i = 3; i >= 0; --i) {
        if (w[i] < L[i]) return true;
        if (w[i] > L[i]) return false;
    }
    return false; // equal to L
}

} // namespace

TEd25519Key::~TEd25519Key() {
    SecureWipe(FScalar, sizeof(FScalar));
    SecureWipe(FPrefix, sizeof(FPrefix));
}

void TEd25519Key::SetSeed(const uint8_t seed[Ed25519SeedSize]) {
    uint8_t h[64];
    TSha512::Compute(seed, Ed25519SeedSize, h);
    h[0] &= 248;
    h[31] &= 127;
    h[31] |= 64;
    std::memcpy(FScalar, h, 32);
    std::memcpy(FPrefix, h + 32, 32);
    SecureWipe(h, sizeof(h));
    GeToBytes(FPublic, ScalarMultBase(FScalar));
}

void TEd25519Key::Sign(const uint8_t* msg, size_t len, uint8_t signature[Ed25519SignatureSize]) const {
    uint8_t digest[64], r[32], k[32];
    TSha512 h;
    h.Update(FPrefix, 32);
    h.Update(msg, len);
    h.Final(digest);
    ScReduce(r, digest);
    GeToBytes(signature, ScalarMultBase(r));

    h.Init();
    h.Update(signature, 32);
    h.Update(FPublic, 32);
    h.Update(msg, len);
    h.Final(digest);
    ScReduce(k, digest);
    ScMulAdd(signature + 32, k, FScalar, r);
    SecureWipe(digest, sizeof(digest));
    SecureWipe(r, sizeof(r));
}

bool Ed25519Verify(const uint8_t publicKey[Ed25519PublicKeySize], const uint8_t* msg, size_t len,
                   const uint8_t signature[Ed25519SignatureSize]) {
    if (!ScIsCanonical(signature + 32)) return false;
    TGe a;
    if (!GeFromBytes(a, publicKey)) return false;
    a.X = FeNeg(a.X);
    a.T = FeNeg(a.T);

    uint8_t digest[64], k[32];
    TSha512 h;
    h.Update(signature, 32);
    h.Update(publicKey, 32);
    h.Update(msg, len);
    h.Final(digest);
    ScReduce(k, digest);

    // R' = [S]B - [k]A, compared with R by encoding, so a non-canonical R never matches.
    const TGe p = GeAdd(ScalarMultBase(signature + 32), ToCached(ScalarMultVartime(k, a)));
    uint8_t check[32];
    GeToBytes(check, p);
    return ConstTimeEqual(check, signature, 32);
}

} // namespace Varnello::Crypto
