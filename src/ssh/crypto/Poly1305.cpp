// Poly1305 in radix 2^44: h = (h + m) * r mod 2^130 - 5, block by block, then h + s mod 2^128.
#include "ssh/crypto/Poly1305.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define VARNELLO_POLY_AVX2 1
#endif

namespace Varnello::Crypto {

namespace {

using u128 = unsigned __int128;
constexpr uint64_t Mask44 = 0xfffffffffffULL;
constexpr uint64_t Mask42 = 0x3ffffffffffULL;

// a * b mod 2^130 - 5 on the 44/44/42-bit limbs (result partly reduced).
void MulMod(const uint64_t a[3], const uint64_t b[3], uint64_t out[3]) {
    const uint64_t s1 = b[1] * 20, s2 = b[2] * 20;
    const u128 d0 = u128(a[0]) * b[0] + u128(a[1]) * s2 + u128(a[2]) * s1;
    u128 d1 = u128(a[0]) * b[1] + u128(a[1]) * b[0] + u128(a[2]) * s2;
    u128 d2 = u128(a[0]) * b[2] + u128(a[1]) * b[1] + u128(a[2]) * b[0];
    uint64_t c = uint64_t(d0 >> 44);
    out[0] = uint64_t(d0) & Mask44;
    d1 += c;
    c = uint64_t(d1 >> 44);
    out[1] = uint64_t(d1) & Mask44;
    d2 += c;
    c = uint64_t(d2 >> 42);
    out[2] = uint64_t(d2) & Mask42;
    out[0] += c * 5;
    c = out[0] >> 44;
    out[0] &= Mask44;
    out[1] += c;
}

// The same value on five 26-bit limbs (the top limb takes whatever is left), and back.
void To26(const uint64_t h[3], uint32_t l[5]) {
    u128 t = h[0];
    l[0] = uint32_t(t) & 0x3ffffff;
    t = (t >> 26) + (u128(h[1]) << 18);
    l[1] = uint32_t(t) & 0x3ffffff;
    t = (t >> 26) + (u128(h[2]) << 36);
    l[2] = uint32_t(t) & 0x3ffffff;
    t >>= 26;
    l[3] = uint32_t(t) & 0x3ffffff;
    l[4] = uint32_t(t >> 26);
}

void From26(const uint64_t l[5], uint64_t h[3]) {
    u128 t = u128(l[0]) + (u128(l[1]) << 26) + (u128(l[2]) << 52);
    h[0] = uint64_t(t) & Mask44;
    t = (t >> 44) + (u128(l[3]) << 34);
    h[1] = uint64_t(t) & Mask44;
    t = (t >> 44) + (u128(l[4]) << 16);
    // Fold everything above 2^130 back in (times 5) so the scalar code sees small limbs.
    h[2] = uint64_t(t) & Mask42;
    h[0] += uint64_t(t >> 42) * 5;
    h[1] += h[0] >> 44;
    h[0] &= Mask44;
}

#ifdef VARNELLO_POLY_AVX2
#define VARNELLO_AVX2 __attribute__((target("avx2")))

// Four consecutive blocks, lane j = block j, as 26-bit limbs with the 2^128 bit set.
VARNELLO_AVX2 inline void LoadGroup(const uint8_t* m, __m256i out[5]) {
    const __m256i mask = _mm256_set1_epi64x(0x3ffffff);
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m + 32));
    const __m256i lo = _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(v0, v1), 0xD8);
    const __m256i hi = _mm256_permute4x64_epi64(_mm256_unpackhi_epi64(v0, v1), 0xD8);
    out[0] = _mm256_and_si256(lo, mask);
    out[1] = _mm256_and_si256(_mm256_srli_epi64(lo, 26), mask);
    out[2] = _mm256_and_si256(_mm256_or_si256(_mm256_srli_epi64(lo, 52), _mm256_slli_epi64(hi, 12)), mask);
    out[3] = _mm256_and_si256(_mm256_srli_epi64(hi, 14), mask);
    out[4] = _mm256_or_si256(_mm256_srli_epi64(hi, 40), _mm256_set1_epi64x(1 << 24));
}

// a = a * r mod 2^130 - 5 per lane; s holds 5 * r limbs. Limbs stay below 2^27 or so.
VARNELLO_AVX2 inline void MulLanes(__m256i a[5], const __m256i r[5], const __m256i s[5]) {
#define M(x, y) _mm256_mul_epu32(x, y)
    __m256i d0 =
        _mm256_add_epi64(_mm256_add_epi64(M(a[0], r[0]), M(a[1], s[4])),
                         _mm256_add_epi64(_mm256_add_epi64(M(a[2], s[3]), M(a[3], s[2])), M(a[4], s[1])));
    __m256i d1 =
        _mm256_add_epi64(_mm256_add_epi64(M(a[0], r[1]), M(a[1], r[0])),
                         _mm256_add_epi64(_mm256_add_epi64(M(a[2], s[4]), M(a[3], s[3])), M(a[4], s[2])));
    __m256i d2 =
        _mm256_add_epi64(_mm256_add_epi64(M(a[0], r[2]), M(a[1], r[1])),
                         _mm256_add_epi64(_mm256_add_epi64(M(a[2], r[0]), M(a[3], s[4])), M(a[4], s[3])));
    __m256i d3 =
        _mm256_add_epi64(_mm256_add_epi64(M(a[0], r[3]), M(a[1], r[2])),
                         _mm256_add_epi64(_mm256_add_epi64(M(a[2], r[1]), M(a[3], r[0])), M(a[4], s[4])));
    __m256i d4 =
        _mm256_add_epi64(_mm256_add_epi64(M(a[0], r[4]), M(a[1], r[3])),
                         _mm256_add_epi64(_mm256_add_epi64(M(a[2], r[2]), M(a[3], r[1])), M(a[4], r[0])));
#undef M
    const __m256i mask = _mm256_set1_epi64x(0x3ffffff);
    __m256i c = _mm256_srli_epi64(d0, 26);
    d0 = _mm256_and_si256(d0, mask);
    d1 = _mm256_add_epi64(d1, c);
    c = _mm256_srli_epi64(d1, 26);
    d1 = _mm256_and_si256(d1, mask);
    d2 = _mm256_add_epi64(d2, c);
    c = _mm256_srli_epi64(d2, 26);
    d2 = _mm256_and_si256(d2, mask);
    d3 = _mm256_add_epi64(d3, c);
    c = _mm256_srli_epi64(d3, 26);
    d3 = _mm256_and_si256(d3, mask);
    d4 = _mm256_add_epi64(d4, c);
    c = _mm256_srli_epi64(d4, 26);
    d4 = _mm256_and_si256(d4, mask);
    d0 = _mm256_add_epi64(d0, _mm256_add_epi64(c, _mm256_slli_epi64(c, 2)));
    c = _mm256_srli_epi64(d0, 26);
    d0 = _mm256_and_si256(d0, mask);
    d1 = _mm256_add_epi64(d1, c);
    a[0] = d0;
    a[1] = d1;
    a[2] = d2;
    a[3] = d3;
    a[4] = d4;
}

// Interleaved Horner chains on 4 * sets lanes: lane j of set k takes blocks 4k+j, 4k+j+n, ...
// (n = 4 * sets) stepping by r^n, and is finally multiplied by r^(n-4k-j), so the lanes add up
// to the serial result. Two sets keep two independent multiply chains in flight.
template <int Sets>
VARNELLO_AVX2 void LanesAvx2(uint64_t h[3], const uint32_t powers[8][5], const uint8_t* m, size_t steps) {
    constexpr int N = 4 * Sets;
    __m256i rn[5], sn[5], rf[Sets][5], sf[Sets][5], a[Sets][5], t[5];
    for (int i = 0; i < 5; ++i) {
        rn[i] = _mm256_set1_epi64x(powers[N - 1][i]);
        sn[i] = _mm256_set1_epi64x(5 * uint64_t(powers[N - 1][i]));
        for (int k = 0; k < Sets; ++k) {
            // lane j of set k: r^(N - 4k - j), i.e. powers[N - 4k - j - 1]
            const int top = N - 4 * k - 1;
            rf[k][i] =
                _mm256_set_epi64x(powers[top - 3][i], powers[top - 2][i], powers[top - 1][i], powers[top][i]);
            sf[k][i] = _mm256_set_epi64x(5 * uint64_t(powers[top - 3][i]), 5 * uint64_t(powers[top - 2][i]),
                                         5 * uint64_t(powers[top - 1][i]), 5 * uint64_t(powers[top][i]));
        }
    }
    uint32_t hl[5];
    To26(h, hl);
    for (int k = 0; k < Sets; ++k) LoadGroup(m + 64 * k, a[k]);
    for (int i = 0; i < 5; ++i) a[0][i] = _mm256_add_epi64(a[0][i], _mm256_set_epi64x(0, 0, 0, hl[i]));
    for (size_t step = 1; step < steps; ++step) {
        m += 16 * N;
        for (int k = 0; k < Sets; ++k) {
            MulLanes(a[k], rn, sn);
            LoadGroup(m + 64 * k, t);
            for (int i = 0; i < 5; ++i) a[k][i] = _mm256_add_epi64(a[k][i], t[i]);
        }
    }
    uint64_t limbs[5] = {};
    for (int k = 0; k < Sets; ++k) {
        MulLanes(a[k], rf[k], sf[k]);
        for (int i = 0; i < 5; ++i) {
            alignas(32) uint64_t lanes[4];
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), a[k][i]);
            limbs[i] += lanes[0] + lanes[1] + lanes[2] + lanes[3];
        }
    }
    From26(limbs, h);
}
#endif

// Carries a 44/44/42-bit value so that each limb is back within its width (the top folded in
// times 5), except that limb 1 may end a few units above 2^44.
void Normalize(uint64_t h[3]) {
    uint64_t c = h[0] >> 44;
    h[0] &= Mask44;
    h[1] += c;
    c = h[1] >> 44;
    h[1] &= Mask44;
    h[2] += c;
    c = h[2] >> 42;
    h[2] &= Mask42;
    h[0] += c * 5;
    c = h[0] >> 44;
    h[0] &= Mask44;
    h[1] += c;
}

#ifdef VARNELLO_POLY_AVX2
// AVX-512 IFMA: the 44/44/42-bit limbs of the scalar code fit the 52-bit multipliers, so eight
// lanes run the scalar algorithm side by side. Checked here; CpuFeatures has no IFMA entry.
bool HaveIfma() {
    static const bool present = __builtin_cpu_supports("avx512ifma") && __builtin_cpu_supports("avx512f");
    return present && !PortableCryptoForced();
}

#define VARNELLO_IFMA __attribute__((target("avx512f,avx512ifma")))

// GCC 12 warns about the deliberately undefined pass-through operand inside the AVX-512 shifts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

VARNELLO_IFMA inline void Load8(const uint8_t* m, __m512i& l0, __m512i& l1, __m512i& l2) {
    const __m512i v0 = _mm512_loadu_si512(m), v1 = _mm512_loadu_si512(m + 64);
    const __m512i lo = _mm512_permutex2var_epi64(v0, _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0), v1);
    const __m512i hi = _mm512_permutex2var_epi64(v0, _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1), v1);
    const __m512i m44 = _mm512_set1_epi64(int64_t(Mask44));
    l0 = _mm512_and_si512(lo, m44);
    l1 = _mm512_and_si512(_mm512_or_si512(_mm512_srli_epi64(lo, 44), _mm512_slli_epi64(hi, 20)), m44);
    l2 = _mm512_or_si512(_mm512_srli_epi64(hi, 24), _mm512_set1_epi64(int64_t(1) << 40));
}

// a = a * r per lane; s1, s2 = 20 r1, 20 r2. Each product is split by the instructions into
// its low and high 52 bits, which are carried back into 44/44/42-bit limbs.
VARNELLO_IFMA inline void MulIfma(__m512i& a0, __m512i& a1, __m512i& a2, __m512i r0, __m512i r1, __m512i r2,
                                  __m512i s1, __m512i s2) {
    const __m512i z = _mm512_setzero_si512();
    __m512i lo0 = _mm512_madd52lo_epu64(z, a0, r0), hi0 = _mm512_madd52hi_epu64(z, a0, r0);
    lo0 = _mm512_madd52lo_epu64(lo0, a1, s2), hi0 = _mm512_madd52hi_epu64(hi0, a1, s2);
    lo0 = _mm512_madd52lo_epu64(lo0, a2, s1), hi0 = _mm512_madd52hi_epu64(hi0, a2, s1);
    __m512i lo1 = _mm512_madd52lo_epu64(z, a0, r1), hi1 = _mm512_madd52hi_epu64(z, a0, r1);
    lo1 = _mm512_madd52lo_epu64(lo1, a1, r0), hi1 = _mm512_madd52hi_epu64(hi1, a1, r0);
    lo1 = _mm512_madd52lo_epu64(lo1, a2, s2), hi1 = _mm512_madd52hi_epu64(hi1, a2, s2);
    __m512i lo2 = _mm512_madd52lo_epu64(z, a0, r2), hi2 = _mm512_madd52hi_epu64(z, a0, r2);
    lo2 = _mm512_madd52lo_epu64(lo2, a1, r1), hi2 = _mm512_madd52hi_epu64(hi2, a1, r1);
    lo2 = _mm512_madd52lo_epu64(lo2, a2, r0), hi2 = _mm512_madd52hi_epu64(hi2, a2, r0);

    const __m512i m44 = _mm512_set1_epi64(int64_t(Mask44)), m42 = _mm512_set1_epi64(int64_t(Mask42));
    // d_i = lo_i + hi_i * 2^52; 2^52 is 2^8 above a 44-bit limb boundary, 2^10 above the 42-bit one.
    __m512i c = _mm512_add_epi64(_mm512_srli_epi64(lo0, 44), _mm512_slli_epi64(hi0, 8));
    a0 = _mm512_and_si512(lo0, m44);
    lo1 = _mm512_add_epi64(lo1, c);
    c = _mm512_add_epi64(_mm512_srli_epi64(lo1, 44), _mm512_slli_epi64(hi1, 8));
    a1 = _mm512_and_si512(lo1, m44);
    lo2 = _mm512_add_epi64(lo2, c);
    c = _mm512_add_epi64(_mm512_srli_epi64(lo2, 42), _mm512_slli_epi64(hi2, 10));
    a2 = _mm512_and_si512(lo2, m42);
    a0 = _mm512_add_epi64(a0, _mm512_add_epi64(c, _mm512_slli_epi64(c, 2)));
    c = _mm512_srli_epi64(a0, 44);
    a0 = _mm512_and_si512(a0, m44);
    a1 = _mm512_add_epi64(a1, c);
}

// Eight Horner chains: lane j takes blocks j, j+8, ... stepping by r^8 and is finally multiplied
// by r^(8-j). powers[i] = r^(i+1), normalized.
VARNELLO_IFMA void LanesIfma(uint64_t h[3], const uint64_t powers[8][3], const uint8_t* m, size_t steps) {
    const __m512i r0 = _mm512_set1_epi64(int64_t(powers[7][0])),
                  r1 = _mm512_set1_epi64(int64_t(powers[7][1]));
    const __m512i r2 = _mm512_set1_epi64(int64_t(powers[7][2]));
    const __m512i s1 = _mm512_set1_epi64(int64_t(20 * powers[7][1])),
                  s2 = _mm512_set1_epi64(int64_t(20 * powers[7][2]));
    __m512i a0, a1, a2, t0, t1, t2;
    Normalize(h);
    Load8(m, a0, a1, a2);
    a0 = _mm512_add_epi64(a0, _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, int64_t(h[0])));
    a1 = _mm512_add_epi64(a1, _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, int64_t(h[1])));
    a2 = _mm512_add_epi64(a2, _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, int64_t(h[2])));
    for (size_t step = 1; step < steps; ++step) {
        m += 128;
        MulIfma(a0, a1, a2, r0, r1, r2, s1, s2);
        Load8(m, t0, t1, t2);
        a0 = _mm512_add_epi64(a0, t0);
        a1 = _mm512_add_epi64(a1, t1);
        a2 = _mm512_add_epi64(a2, t2);
    }
    alignas(64) int64_t f[5][8]; // lane j: limbs of r^(8-j), then 20 times limbs 1 and 2
    for (int j = 0; j < 8; ++j) {
        for (int k = 0; k < 3; ++k) f[k][j] = int64_t(powers[7 - j][k]);
        f[3][j] = int64_t(20 * powers[7 - j][1]);
        f[4][j] = int64_t(20 * powers[7 - j][2]);
    }
    MulIfma(a0, a1, a2, _mm512_load_si512(f[0]), _mm512_load_si512(f[1]), _mm512_load_si512(f[2]),
            _mm512_load_si512(f[3]), _mm512_load_si512(f[4]));
    h[0] = uint64_t(_mm512_reduce_add_epi64(a0));
    h[1] = uint64_t(_mm512_reduce_add_epi64(a1));
    h[2] = uint64_t(_mm512_reduce_add_epi64(a2));
    Normalize(h);
}
#pragma GCC diagnostic pop
#endif

} // namespace

TPoly1305::~TPoly1305() {
    SecureWipe(FR, sizeof(FR));
    SecureWipe(FH, sizeof(FH));
    SecureWipe(FPad, sizeof(FPad));
    SecureWipe(FBuffer, sizeof(FBuffer));
    SecureWipe(FPowers, sizeof(FPowers));
    SecureWipe(FPowers44, sizeof(FPowers44));
}

void TPoly1305::Init(const uint8_t key[KeySize]) {
    const uint64_t t0 = LoadLe64(key), t1 = LoadLe64(key + 8);
    // Clamping (RFC 8439: r &= 0x0ffffffc0ffffffc0ffffffc0fffffff), folded into the limb split.
    FR[0] = t0 & 0xffc0fffffffULL;
    FR[1] = ((t0 >> 44) | (t1 << 20)) & 0xfffffc0ffffULL;
    FR[2] = (t1 >> 24) & 0x00ffffffc0fULL;
    FH[0] = FH[1] = FH[2] = 0;
    FPad[0] = LoadLe64(key + 16);
    FPad[1] = LoadLe64(key + 24);
    FBuffered = 0;
    FPowerCount = 0;
}

void TPoly1305::Blocks(const uint8_t* m, size_t blocks, uint64_t hibit) {
#ifdef VARNELLO_POLY_AVX2
    if (hibit != 0 && blocks >= 8 && HaveAvx2()) {
        // Powers of r on first use: r^1..r^4 for short runs, up to r^8 for long ones.
        const int need = blocks >= 16 ? 8 : 4;
        if (FPowerCount < need) {
            uint64_t p[3] = {FR[0], FR[1], FR[2]};
            for (int i = 0; i < need; ++i) {
                To26(p, FPowers[i]);
                Normalize(p);
                std::memcpy(FPowers44[i], p, sizeof(p));
                MulMod(p, FR, p);
            }
            FPowerCount = need;
        }
        if (blocks >= 32 && HaveIfma()) {
            const size_t steps = blocks / 8;
            LanesIfma(FH, FPowers44, m, steps);
            m += 128 * steps;
            blocks -= 8 * steps;
        } else if (need == 8) {
            const size_t steps = blocks / 8;
            LanesAvx2<2>(FH, FPowers, m, steps);
            m += 128 * steps;
            blocks -= 8 * steps;
        } else {
            const size_t steps = blocks / 4;
            LanesAvx2<1>(FH, FPowers, m, steps);
            m += 64 * steps;
            blocks -= 4 * steps;
        }
    }
#endif
    const uint64_t r0 = FR[0], r1 = FR[1], r2 = FR[2];
    // 2^132 = 4 * 2^130 = 20 mod p: products that overflow the top limb come back times 20.
    const uint64_t s1 = r1 * 20, s2 = r2 * 20;
    uint64_t h0 = FH[0], h1 = FH[1], h2 = FH[2];
    for (; blocks > 0; --blocks, m += 16) {
        const uint64_t t0 = LoadLe64(m), t1 = LoadLe64(m + 8);
        h0 += t0 & Mask44;
        h1 += ((t0 >> 44) | (t1 << 20)) & Mask44;
        h2 += ((t1 >> 24) & Mask42) | hibit;

        const u128 d0 = u128(h0) * r0 + u128(h1) * s2 + u128(h2) * s1;
        u128 d1 = u128(h0) * r1 + u128(h1) * r0 + u128(h2) * s2;
        u128 d2 = u128(h0) * r2 + u128(h1) * r1 + u128(h2) * r0;

        uint64_t c = uint64_t(d0 >> 44);
        h0 = uint64_t(d0) & Mask44;
        d1 += c;
        c = uint64_t(d1 >> 44);
        h1 = uint64_t(d1) & Mask44;
        d2 += c;
        c = uint64_t(d2 >> 42);
        h2 = uint64_t(d2) & Mask42;
        h0 += c * 5;
        c = h0 >> 44;
        h0 &= Mask44;
        h1 += c;
    }
    FH[0] = h0;
    FH[1] = h1;
    FH[2] = h2;
}

void TPoly1305::Update(const void* data, size_t len) {
    if (len == 0) return; // data may be null then
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (FBuffered > 0) {
        const size_t take = len < 16 - FBuffered ? len : 16 - FBuffered;
        std::memcpy(FBuffer + FBuffered, p, take);
        FBuffered += take;
        p += take;
        len -= take;
        if (FBuffered < 16) return;
        Blocks(FBuffer, 1, 1ULL << 40);
        FBuffered = 0;
    }
    if (len >= 16) {
        Blocks(p, len / 16, 1ULL << 40);
        p += len & ~size_t(15);
        len &= 15;
    }
    if (len > 0) {
        std::memcpy(FBuffer, p, len);
        FBuffered = len;
    }
}

void TPoly1305::Final(uint8_t tag[TagSize]) {
    if (FBuffered > 0) {
        // The last short block carries its 1 bit right after the message bytes.
        FBuffer[FBuffered] = 1;
        std::memset(FBuffer + FBuffered + 1, 0, 16 - FBuffered - 1);
        Blocks(FBuffer, 1, 0);
    }
    uint64_t h0 = FH[0], h1 = FH[1], h2 = FH[2];
    uint64_t c = h1 >> 44;
    h1 &= Mask44;
    h2 += c;
    c = h2 >> 42;
    h2 &= Mask42;
    h0 += c * 5;
    c = h0 >> 44;
    h0 &= Mask44;
    h1 += c;
    c = h1 >> 44;
    h1 &= Mask44;
    h2 += c;
    c = h2 >> 42;
    h2 &= Mask42;
    h0 += c * 5;
    c = h0 >> 44;
    h0 &= Mask44;
    h1 += c;

    // g = h - p = h + 5 - 2^130; keep g when it did not go negative, without a branch.
    uint64_t g0 = h0 + 5;
    c = g0 >> 44;
    g0 &= Mask44;
    uint64_t g1 = h1 + c;
    c = g1 >> 44;
    g1 &= Mask44;
    uint64_t g2 = h2 + c - (1ULL << 42);
    const uint64_t keepG = (g2 >> 63) - 1; // all ones when g2 did not borrow
    h0 = (h0 & ~keepG) | (g0 & keepG);
    h1 = (h1 & ~keepG) | (g1 & keepG);
    h2 = (h2 & ~keepG) | (g2 & keepG);

    const uint64_t t0 = FPad[0], t1 = FPad[1];
    h0 += t0 & Mask44;
    c = h0 >> 44;
    h0 &= Mask44;
    h1 += (((t0 >> 44) | (t1 << 20)) & Mask44) + c;
    c = h1 >> 44;
    h1 &= Mask44;
    h2 += ((t1 >> 24) & Mask42) + c;
    h2 &= Mask42;

    const uint64_t out0 = h0 | (h1 << 44), out1 = (h1 >> 20) | (h2 << 24);
    for (int i = 0; i < 8; ++i) {
        tag[i] = uint8_t(out0 >> (8 * i));
        tag[8 + i] = uint8_t(out1 >> (8 * i));
    }
    SecureWipe(FH, sizeof(FH));
    SecureWipe(FBuffer, sizeof(FBuffer));
    FBuffered = 0;
}

void TPoly1305::Compute(const uint8_t key[KeySize], const void* data, size_t len, uint8_t tag[TagSize]) {
    TPoly1305 p(key);
    p.Update(data, len);
    p.Final(tag);
}

bool TPoly1305::Verify(const uint8_t key[KeySize], const void* data, size_t len, const uint8_t tag[TagSize]) {
    uint8_t want[TagSize];
    Compute(key, data, len, want);
    const bool ok = ConstTimeEqual(want, tag, TagSize);
    SecureWipe(want, sizeof(want));
    return ok;
}

} // namespace Varnello::Crypto
