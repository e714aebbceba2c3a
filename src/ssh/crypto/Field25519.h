// Arithmetic modulo p = 2^255 - 19, shared by X25519 and Ed25519.
//
// An element is five 51-bit limbs, least significant first; products go through 128-bit integers
// and are folded back with 2^255 = 19 (mod p). Limbs may run a few bits over 51 between
// operations (sums are not carried), which every multiplication tolerates. Nothing here branches
// on or indexes by an element's value: conditional moves are masks.
#pragma once

#include <cstdint>
#include <cstring>

namespace Varnello::Crypto::Field25519 {

using u128 = unsigned __int128;
constexpr uint64_t Mask51 = (uint64_t(1) << 51) - 1;

struct TFe {
    uint64_t V[5];
};

inline TFe FeZero() {
    return TFe{{0, 0, 0, 0, 0}};
}
inline TFe FeOne() {
    return TFe{{1, 0, 0, 0, 0}};
}

// The top bit of the 32 bytes is ignored, as X25519 and Ed25519 both require.
inline TFe FeFromBytes(const uint8_t s[32]) {
    uint64_t w[4];
    for (int i = 0; i < 4; ++i) {
        uint64_t v = 0;
        for (int j = 7; j >= 0; --j) v = (v << 8) | s[8 * i + j];
        w[i] = v;
    }
    TFe h;
    h.V[0] = w[0] & Mask51;
    h.V[1] = ((w[0] >> 51) | (w[1] << 13)) & Mask51;
    h.V[2] = ((w[1] >> 38) | (w[2] << 26)) & Mask51;
    h.V[3] = ((w[2] >> 25) | (w[3] << 39)) & Mask51;
    h.V[4] = (w[3] >> 12) & Mask51;
    return h;
}

inline void FeCarry(TFe& h) {
    uint64_t c;
    c = h.V[0] >> 51, h.V[0] &= Mask51, h.V[1] += c;
    c = h.V[1] >> 51, h.V[1] &= Mask51, h.V[2] += c;
    c = h.V[2] >> 51, h.V[2] &= Mask51, h.V[3] += c;
    c = h.V[3] >> 51, h.V[3] &= Mask51, h.V[4] += c;
    c = h.V[4] >> 51, h.V[4] &= Mask51, h.V[0] += c * 19;
    c = h.V[0] >> 51, h.V[0] &= Mask51, h.V[1] += c;
}

// The unique representative in [0, p), little-endian.
inline void FeToBytes(uint8_t s[32], const TFe& f) {
    TFe h = f;
    FeCarry(h);
    FeCarry(h);
    // h < 2^255 + small now; q = 1 exactly when h >= p, found by adding 19 and watching bit 255.
    uint64_t q = (h.V[0] + 19) >> 51;
    q = (h.V[1] + q) >> 51;
    q = (h.V[2] + q) >> 51;
    q = (h.V[3] + q) >> 51;
    q = (h.V[4] + q) >> 51;
    h.V[0] += 19 * q;
    uint64_t c;
    c = h.V[0] >> 51, h.V[0] &= Mask51, h.V[1] += c;
    c = h.V[1] >> 51, h.V[1] &= Mask51, h.V[2] += c;
    c = h.V[2] >> 51, h.V[2] &= Mask51, h.V[3] += c;
    c = h.V[3] >> 51, h.V[3] &= Mask51, h.V[4] += c;
    h.V[4] &= Mask51;
    const uint64_t w[4] = {h.V[0] | (h.V[1] << 51), (h.V[1] >> 13) | (h.V[2] << 38),
                           (h.V[2] >> 26) | (h.V[3] << 25), (h.V[3] >> 39) | (h.V[4] << 12)};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) s[8 * i + j] = uint8_t(w[i] >> (8 * j));
}

inline TFe FeAdd(const TFe& f, const TFe& g) {
    TFe h;
    for (int i = 0; i < 5; ++i) h.V[i] = f.V[i] + g.V[i];
    return h;
}

// f - g + 4p, carried: safe for g with limbs up to 2^53.
inline TFe FeSub(const TFe& f, const TFe& g) {
    TFe h;
    h.V[0] = f.V[0] + 0x1fffffffffffb4ULL - g.V[0];
    for (int i = 1; i < 5; ++i) h.V[i] = f.V[i] + 0x1ffffffffffffcULL - g.V[i];
    FeCarry(h);
    return h;
}

inline TFe FeNeg(const TFe& f) {
    return FeSub(FeZero(), f);
}

inline TFe FeMul(const TFe& f, const TFe& g) {
    const uint64_t f0 = f.V[0], f1 = f.V[1], f2 = f.V[2], f3 = f.V[3], f4 = f.V[4];
    const uint64_t g0 = g.V[0], g1 = g.V[1], g2 = g.V[2], g3 = g.V[3], g4 = g.V[4];
    const uint64_t g1_19 = 19 * g1, g2_19 = 19 * g2, g3_19 = 19 * g3, g4_19 = 19 * g4;
    u128 r0 = u128(f0) * g0 + u128(f1) * g4_19 + u128(f2) * g3_19 + u128(f3) * g2_19 + u128(f4) * g1_19;
    u128 r1 = u128(f0) * g1 + u128(f1) * g0 + u128(f2) * g4_19 + u128(f3) * g3_19 + u128(f4) * g2_19;
    u128 r2 = u128(f0) * g2 + u128(f1) * g1 + u128(f2) * g0 + u128(f3) * g4_19 + u128(f4) * g3_19;
    u128 r3 = u128(f0) * g3 + u128(f1) * g2 + u128(f2) * g1 + u128(f3) * g0 + u128(f4) * g4_19;
    u128 r4 = u128(f0) * g4 + u128(f1) * g3 + u128(f2) * g2 + u128(f3) * g1 + u128(f4) * g0;
    TFe h;
    r1 += uint64_t(r0 >> 51);
    h.V[0] = uint64_t(r0) & Mask51;
    r2 += uint64_t(r1 >> 51);
    h.V[1] = uint64_t(r1) & Mask51;
    r3 += uint64_t(r2 >> 51);
    h.V[2] = uint64_t(r2) & Mask51;
    r4 += uint64_t(r3 >> 51);
    h.V[3] = uint64_t(r3) & Mask51;
    const uint64_t c = uint64_t(r4 >> 51);
    h.V[4] = uint64_t(r4) & Mask51;
    h.V[0] += c * 19;
    h.V[1] += h.V[0] >> 51;
    h.V[0] &= Mask51;
    return h;
}

inline TFe FeSq(const TFe& f) {
    const uint64_t f0 = f.V[0], f1 = f.V[1], f2 = f.V[2], f3 = f.V[3], f4 = f.V[4];
    const uint64_t f0_2 = 2 * f0, f1_2 = 2 * f1, f1_38 = 38 * f1, f2_38 = 38 * f2, f3_38 = 38 * f3;
    const uint64_t f3_19 = 19 * f3, f4_19 = 19 * f4;
    u128 r0 = u128(f0) * f0 + u128(f1_38) * f4 + u128(f2_38) * f3;
    u128 r1 = u128(f0_2) * f1 + u128(f2_38) * f4 + u128(f3_19) * f3;
    u128 r2 = u128(f0_2) * f2 + u128(f1) * f1 + u128(f3_38) * f4;
    u128 r3 = u128(f0_2) * f3 + u128(f1_2) * f2 + u128(f4_19) * f4;
    u128 r4 = u128(f0_2) * f4 + u128(f1_2) * f3 + u128(f2) * f2;
    TFe h;
    r1 += uint64_t(r0 >> 51);
    h.V[0] = uint64_t(r0) & Mask51;
    r2 += uint64_t(r1 >> 51);
    h.V[1] = uint64_t(r1) & Mask51;
    r3 += uint64_t(r2 >> 51);
    h.V[2] = uint64_t(r2) & Mask51;
    r4 += uint64_t(r3 >> 51);
    h.V[3] = uint64_t(r3) & Mask51;
    const uint64_t c = uint64_t(r4 >> 51);
    h.V[4] = uint64_t(r4) & Mask51;
    h.V[0] += c * 19;
    h.V[1] += h.V[0] >> 51;
    h.V[0] &= Mask51;
    return h;
}

inline TFe FeSqTimes(TFe f, int n) {
    for (int i = 0; i < n; ++i) f = FeSq(f);
    return f;
}

inline TFe FeMulSmall(const TFe& f, uint32_t k) {
    TFe h;
    u128 c = 0;
    for (int i = 0; i < 5; ++i) {
        c += u128(f.V[i]) * k;
        h.V[i] = uint64_t(c) & Mask51;
        c >>= 51;
    }
    h.V[0] += uint64_t(c) * 19;
    return h;
}

// Swaps (swap = 1) or keeps (swap = 0) f and g without a branch.
inline void FeCswap(TFe& f, TFe& g, uint64_t swap) {
    const uint64_t mask = 0 - swap;
    for (int i = 0; i < 5; ++i) {
        const uint64_t x = (f.V[i] ^ g.V[i]) & mask;
        f.V[i] ^= x;
        g.V[i] ^= x;
    }
}

// f = g when move = 1.
inline void FeCmov(TFe& f, const TFe& g, uint64_t move) {
    const uint64_t mask = 0 - move;
    for (int i = 0; i < 5; ++i) f.V[i] ^= (f.V[i] ^ g.V[i]) & mask;
}

// z^(2^250 - 1) and z^11, the common head of inversion and of the square-root power.
inline void FePow2250(const TFe& z, TFe& z2_250_0, TFe& z11) {
    const TFe z2 = FeSq(z);
    const TFe z9 = FeMul(FeSqTimes(z2, 2), z);
    z11 = FeMul(z9, z2);
    const TFe z2_5_0 = FeMul(FeSq(z11), z9);
    const TFe z2_10_0 = FeMul(FeSqTimes(z2_5_0, 5), z2_5_0);
    const TFe z2_20_0 = FeMul(FeSqTimes(z2_10_0, 10), z2_10_0);
    const TFe z2_40_0 = FeMul(FeSqTimes(z2_20_0, 20), z2_20_0);
    const TFe z2_50_0 = FeMul(FeSqTimes(z2_40_0, 10), z2_10_0);
    const TFe z2_100_0 = FeMul(FeSqTimes(z2_50_0, 50), z2_50_0);
    const TFe z2_200_0 = FeMul(FeSqTimes(z2_100_0, 100), z2_100_0);
    z2_250_0 = FeMul(FeSqTimes(z2_200_0, 50), z2_50_0);
}

// z^(p-2) = 1/z (0 for 0).
inline TFe FeInvert(const TFe& z) {
    TFe t, z11;
    FePow2250(z, t, z11);
    return FeMul(FeSqTimes(t, 5), z11);
}

// z^((p-5)/8) = z^(2^252 - 3), the core of the square root.
inline TFe FePow22523(const TFe& z) {
    TFe t, z11;
    FePow2250(z, t, z11);
    return FeMul(FeSqTimes(t, 2), z);
}

inline bool FeIsZero(const TFe& f) {
    uint8_t s[32];
    FeToBytes(s, f);
    uint8_t acc = 0;
    for (uint8_t b : s) acc |= b;
    return acc == 0;
}

// The "sign" of Ed25519 encodings: the low bit of the canonical value.
inline uint64_t FeIsNegative(const TFe& f) {
    uint8_t s[32];
    FeToBytes(s, f);
    return s[0] & 1;
}

inline bool FeEqual(const TFe& f, const TFe& g) {
    return FeIsZero(FeSub(f, g));
}

} // namespace Varnello::Crypto::Field25519
