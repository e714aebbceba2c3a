// AES: key schedule, the 32-bit table code (one unrolled routine per key size) and the AES-NI /
// VAES routines, with the dispatch between them.
//
// The tables are generated at compile time from the field arithmetic, so no 4 KiB of hex literals
// has to be trusted. The table code indexes by data bytes and so is not constant-time; the AES-NI
// path is, and it is the one taken on every processor that has it.
#include "ssh/crypto/Aes.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNELLO_AES_X86 1
#endif

namespace Varnello::Crypto {

namespace {

// ---- tables -------------------------------------------------------------------------------------

constexpr uint8_t Xtime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

constexpr uint8_t GMul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint8_t Rotl8(uint8_t x, int n) {
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}
constexpr uint32_t Ror32(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

struct TAesTables {
    uint8_t S[256] = {};
    uint8_t Si[256] = {};
    uint32_t Te[4][256] = {};
    uint32_t Td[4][256] = {};
};

constexpr TAesTables MakeTables() {
    TAesTables t;
    // Walk the multiplicative group with generator 3 (p) and its inverse (q), so q = p^-1.
    uint8_t p = 1, q = 1;
    do {
        p = static_cast<uint8_t>(p ^ Xtime(p));
        q = static_cast<uint8_t>(q ^ (q << 1));
        q = static_cast<uint8_t>(q ^ (q << 2));
        q = static_cast<uint8_t>(q ^ (q << 4));
        if (q & 0x80) q ^= 0x09;
        const uint8_t x = q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4);
        t.S[p] = x ^ 0x63;
    } while (p != 1);
    t.S[0] = 0x63;
    for (int i = 0; i < 256; ++i) t.Si[t.S[i]] = static_cast<uint8_t>(i);
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = t.S[i];
        const uint32_t e =
            (uint32_t(GMul(s, 2)) << 24) | (uint32_t(s) << 16) | (uint32_t(s) << 8) | GMul(s, 3);
        const uint8_t si = t.Si[i];
        const uint32_t d = (uint32_t(GMul(si, 14)) << 24) | (uint32_t(GMul(si, 9)) << 16) |
                           (uint32_t(GMul(si, 13)) << 8) | GMul(si, 11);
        for (int k = 0; k < 4; ++k) {
            t.Te[k][i] = k ? Ror32(e, 8 * k) : e;
            t.Td[k][i] = k ? Ror32(d, 8 * k) : d;
        }
    }
    return t;
}

constexpr TAesTables GT = MakeTables();

inline uint32_t SubWord(uint32_t w) {
    return (uint32_t(GT.S[w >> 24]) << 24) | (uint32_t(GT.S[(w >> 16) & 0xff]) << 16) |
           (uint32_t(GT.S[(w >> 8) & 0xff]) << 8) | GT.S[w & 0xff];
}

// InvMixColumns of one round-key word: Td already includes InvSubBytes, so undo it with S first.
inline uint32_t InvMixWord(uint32_t w) {
    return GT.Td[0][GT.S[w >> 24]] ^ GT.Td[1][GT.S[(w >> 16) & 0xff]] ^ GT.Td[2][GT.S[(w >> 8) & 0xff]] ^
           GT.Td[3][GT.S[w & 0xff]];
}

// ---- table code ----------------------------------------------------------------------------------

#define B0(x) ((x) >> 24)
#define B1(x) (((x) >> 16) & 0xff)
#define B2(x) (((x) >> 8) & 0xff)
#define B3(x) ((x)&0xff)

template <int Nr>
[[gnu::always_inline]] inline void EncryptWords(const uint32_t* rk, uint32_t& s0, uint32_t& s1, uint32_t& s2,
                                                uint32_t& s3) {
    s0 ^= rk[0];
    s1 ^= rk[1];
    s2 ^= rk[2];
    s3 ^= rk[3];
    const auto& T0 = GT.Te[0];
    const auto& T1 = GT.Te[1];
    const auto& T2 = GT.Te[2];
    const auto& T3 = GT.Te[3];
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) {
        const uint32_t* k = rk + 4 * r;
        const uint32_t t0 = T0[B0(s0)] ^ T1[B1(s1)] ^ T2[B2(s2)] ^ T3[B3(s3)] ^ k[0];
        const uint32_t t1 = T0[B0(s1)] ^ T1[B1(s2)] ^ T2[B2(s3)] ^ T3[B3(s0)] ^ k[1];
        const uint32_t t2 = T0[B0(s2)] ^ T1[B1(s3)] ^ T2[B2(s0)] ^ T3[B3(s1)] ^ k[2];
        const uint32_t t3 = T0[B0(s3)] ^ T1[B1(s0)] ^ T2[B2(s1)] ^ T3[B3(s2)] ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const uint32_t* k = rk + 4 * Nr;
    const auto& S = GT.S;
    const uint32_t t0 = (uint32_t(S[B0(s0)]) << 24) ^ (uint32_t(S[B1(s1)]) << 16) ^
                        (uint32_t(S[B2(s2)]) << 8) ^ S[B3(s3)] ^ k[0];
    const uint32_t t1 = (uint32_t(S[B0(s1)]) << 24) ^ (uint32_t(S[B1(s2)]) << 16) ^
                        (uint32_t(S[B2(s3)]) << 8) ^ S[B3(s0)] ^ k[1];
    const uint32_t t2 = (uint32_t(S[B0(s2)]) << 24) ^ (uint32_t(S[B1(s3)]) << 16) ^
                        (uint32_t(S[B2(s0)]) << 8) ^ S[B3(s1)] ^ k[2];
    const uint32_t t3 = (uint32_t(S[B0(s3)]) << 24) ^ (uint32_t(S[B1(s0)]) << 16) ^
                        (uint32_t(S[B2(s1)]) << 8) ^ S[B3(s2)] ^ k[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
}

template <int Nr>
[[gnu::always_inline]] inline void DecryptWords(const uint32_t* rk, uint32_t& s0, uint32_t& s1, uint32_t& s2,
                                                uint32_t& s3) {
    s0 ^= rk[0];
    s1 ^= rk[1];
    s2 ^= rk[2];
    s3 ^= rk[3];
    const auto& T0 = GT.Td[0];
    const auto& T1 = GT.Td[1];
    const auto& T2 = GT.Td[2];
    const auto& T3 = GT.Td[3];
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) {
        const uint32_t* k = rk + 4 * r;
        const uint32_t t0 = T0[B0(s0)] ^ T1[B1(s3)] ^ T2[B2(s2)] ^ T3[B3(s1)] ^ k[0];
        const uint32_t t1 = T0[B0(s1)] ^ T1[B1(s0)] ^ T2[B2(s3)] ^ T3[B3(s2)] ^ k[1];
        const uint32_t t2 = T0[B0(s2)] ^ T1[B1(s1)] ^ T2[B2(s0)] ^ T3[B3(s3)] ^ k[2];
        const uint32_t t3 = T0[B0(s3)] ^ T1[B1(s2)] ^ T2[B2(s1)] ^ T3[B3(s0)] ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const uint32_t* k = rk + 4 * Nr;
    const auto& S = GT.Si;
    const uint32_t t0 = (uint32_t(S[B0(s0)]) << 24) ^ (uint32_t(S[B1(s3)]) << 16) ^
                        (uint32_t(S[B2(s2)]) << 8) ^ S[B3(s1)] ^ k[0];
    const uint32_t t1 = (uint32_t(S[B0(s1)]) << 24) ^ (uint32_t(S[B1(s0)]) << 16) ^
                        (uint32_t(S[B2(s3)]) << 8) ^ S[B3(s2)] ^ k[1];
    const uint32_t t2 = (uint32_t(S[B0(s2)]) << 24) ^ (uint32_t(S[B1(s1)]) << 16) ^
                        (uint32_t(S[B2(s0)]) << 8) ^ S[B3(s3)] ^ k[2];
    const uint32_t t3 = (uint32_t(S[B0(s3)]) << 24) ^ (uint32_t(S[B1(s2)]) << 16) ^
                        (uint32_t(S[B2(s1)]) << 8) ^ S[B3(s0)] ^ k[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
}

// Two independent blocks round by round: side by side, the table loads of one fill the gaps in
// the other's dependency chain (measured about a fifth faster than one block at a time).
template <int Nr>
[[gnu::always_inline]] inline void DecryptWords2(const uint32_t* rk, uint32_t& s0, uint32_t& s1, uint32_t& s2,
                                                 uint32_t& s3, uint32_t& u0, uint32_t& u1, uint32_t& u2,
                                                 uint32_t& u3) {
    s0 ^= rk[0];
    s1 ^= rk[1];
    s2 ^= rk[2];
    s3 ^= rk[3];
    u0 ^= rk[0];
    u1 ^= rk[1];
    u2 ^= rk[2];
    u3 ^= rk[3];
    const auto& T0 = GT.Td[0];
    const auto& T1 = GT.Td[1];
    const auto& T2 = GT.Td[2];
    const auto& T3 = GT.Td[3];
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) {
        const uint32_t* k = rk + 4 * r;
        const uint32_t t0 = T0[B0(s0)] ^ T1[B1(s3)] ^ T2[B2(s2)] ^ T3[B3(s1)] ^ k[0];
        const uint32_t t1 = T0[B0(s1)] ^ T1[B1(s0)] ^ T2[B2(s3)] ^ T3[B3(s2)] ^ k[1];
        const uint32_t t2 = T0[B0(s2)] ^ T1[B1(s1)] ^ T2[B2(s0)] ^ T3[B3(s3)] ^ k[2];
        const uint32_t t3 = T0[B0(s3)] ^ T1[B1(s2)] ^ T2[B2(s1)] ^ T3[B3(s0)] ^ k[3];
        const uint32_t v0 = T0[B0(u0)] ^ T1[B1(u3)] ^ T2[B2(u2)] ^ T3[B3(u1)] ^ k[0];
        const uint32_t v1 = T0[B0(u1)] ^ T1[B1(u0)] ^ T2[B2(u3)] ^ T3[B3(u2)] ^ k[1];
        const uint32_t v2 = T0[B0(u2)] ^ T1[B1(u1)] ^ T2[B2(u0)] ^ T3[B3(u3)] ^ k[2];
        const uint32_t v3 = T0[B0(u3)] ^ T1[B1(u2)] ^ T2[B2(u1)] ^ T3[B3(u0)] ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
        u0 = v0;
        u1 = v1;
        u2 = v2;
        u3 = v3;
    }
    const uint32_t* k = rk + 4 * Nr;
    auto last = [k](uint32_t& a0, uint32_t& a1, uint32_t& a2, uint32_t& a3) {
        const auto& S = GT.Si;
        const uint32_t o0 = (uint32_t(S[B0(a0)]) << 24) ^ (uint32_t(S[B1(a3)]) << 16) ^
                            (uint32_t(S[B2(a2)]) << 8) ^ S[B3(a1)] ^ k[0];
        const uint32_t o1 = (uint32_t(S[B0(a1)]) << 24) ^ (uint32_t(S[B1(a0)]) << 16) ^
                            (uint32_t(S[B2(a3)]) << 8) ^ S[B3(a2)] ^ k[1];
        const uint32_t o2 = (uint32_t(S[B0(a2)]) << 24) ^ (uint32_t(S[B1(a1)]) << 16) ^
                            (uint32_t(S[B2(a0)]) << 8) ^ S[B3(a3)] ^ k[2];
        const uint32_t o3 = (uint32_t(S[B0(a3)]) << 24) ^ (uint32_t(S[B1(a2)]) << 16) ^
                            (uint32_t(S[B2(a1)]) << 8) ^ S[B3(a0)] ^ k[3];
        a0 = o0;
        a1 = o1;
        a2 = o2;
        a3 = o3;
    };
    last(s0, s1, s2, s3);
    last(u0, u1, u2, u3);
}

#undef B0
#undef B1
#undef B2
#undef B3

template <int Nr>
void TableEncryptBlocks(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (; blocks; --blocks, in += 16, out += 16) {
        uint32_t s0 = LoadBe32(in), s1 = LoadBe32(in + 4), s2 = LoadBe32(in + 8), s3 = LoadBe32(in + 12);
        EncryptWords<Nr>(rk, s0, s1, s2, s3);
        StoreBe32(out, s0);
        StoreBe32(out + 4, s1);
        StoreBe32(out + 8, s2);
        StoreBe32(out + 12, s3);
    }
}

template <int Nr>
void TableDecryptBlocks(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (; blocks >= 2; blocks -= 2, in += 32, out += 32) {
        uint32_t s[4], u[4];
        for (int i = 0; i < 4; ++i) {
            s[i] = LoadBe32(in + 4 * i);
            u[i] = LoadBe32(in + 16 + 4 * i);
        }
        DecryptWords2<Nr>(rk, s[0], s[1], s[2], s[3], u[0], u[1], u[2], u[3]);
        for (int i = 0; i < 4; ++i) {
            StoreBe32(out + 4 * i, s[i]);
            StoreBe32(out + 16 + 4 * i, u[i]);
        }
    }
    for (; blocks; --blocks, in += 16, out += 16) {
        uint32_t s0 = LoadBe32(in), s1 = LoadBe32(in + 4), s2 = LoadBe32(in + 8), s3 = LoadBe32(in + 12);
        DecryptWords<Nr>(rk, s0, s1, s2, s3);
        StoreBe32(out, s0);
        StoreBe32(out + 4, s1);
        StoreBe32(out + 8, s2);
        StoreBe32(out + 12, s3);
    }
}

template <int Nr>
void TableCbcEncrypt(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t s0 = LoadBe32(iv), s1 = LoadBe32(iv + 4), s2 = LoadBe32(iv + 8), s3 = LoadBe32(iv + 12);
    for (; blocks; --blocks, in += 16, out += 16) {
        s0 ^= LoadBe32(in);
        s1 ^= LoadBe32(in + 4);
        s2 ^= LoadBe32(in + 8);
        s3 ^= LoadBe32(in + 12);
        EncryptWords<Nr>(rk, s0, s1, s2, s3);
        StoreBe32(out, s0);
        StoreBe32(out + 4, s1);
        StoreBe32(out + 8, s2);
        StoreBe32(out + 12, s3);
    }
    StoreBe32(iv, s0);
    StoreBe32(iv + 4, s1);
    StoreBe32(iv + 8, s2);
    StoreBe32(iv + 12, s3);
}

template <int Nr>
void TableCbcDecrypt(const uint32_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t p[4] = {LoadBe32(iv), LoadBe32(iv + 4), LoadBe32(iv + 8), LoadBe32(iv + 12)};
    for (; blocks >= 2; blocks -= 2, in += 32, out += 32) {
        uint32_t c[4], d[4], s[4], u[4];
        for (int i = 0; i < 4; ++i) {
            s[i] = c[i] = LoadBe32(in + 4 * i);
            u[i] = d[i] = LoadBe32(in + 16 + 4 * i);
        }
        DecryptWords2<Nr>(rk, s[0], s[1], s[2], s[3], u[0], u[1], u[2], u[3]);
        for (int i = 0; i < 4; ++i) {
            StoreBe32(out + 4 * i, s[i] ^ p[i]);
            StoreBe32(out + 16 + 4 * i, u[i] ^ c[i]);
            p[i] = d[i];
        }
    }
    for (; blocks; --blocks, in += 16, out += 16) {
        const uint32_t c0 = LoadBe32(in), c1 = LoadBe32(in + 4), c2 = LoadBe32(in + 8),
                       c3 = LoadBe32(in + 12);
        uint32_t s0 = c0, s1 = c1, s2 = c2, s3 = c3;
        DecryptWords<Nr>(rk, s0, s1, s2, s3);
        StoreBe32(out, s0 ^ p[0]);
        StoreBe32(out + 4, s1 ^ p[1]);
        StoreBe32(out + 8, s2 ^ p[2]);
        StoreBe32(out + 12, s3 ^ p[3]);
        p[0] = c0;
        p[1] = c1;
        p[2] = c2;
        p[3] = c3;
    }
    for (int i = 0; i < 4; ++i) StoreBe32(iv + 4 * i, p[i]);
}

// ---- AES-NI --------------------------------------------------------------------------------------

#ifdef VARNELLO_AES_X86

#define NI_TARGET __attribute__((target("aes,sse4.1")))
#define VAES_TARGET __attribute__((target("aes,sse4.1,avx2,vaes")))

template <int Nr> NI_TARGET inline __m128i NiEncrypt1(const __m128i* k, __m128i b) {
    b = _mm_xor_si128(b, k[0]);
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) b = _mm_aesenc_si128(b, k[r]);
    return _mm_aesenclast_si128(b, k[Nr]);
}

template <int Nr> NI_TARGET inline __m128i NiDecrypt1(const __m128i* k, __m128i b) {
    b = _mm_xor_si128(b, k[0]);
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) b = _mm_aesdec_si128(b, k[r]);
    return _mm_aesdeclast_si128(b, k[Nr]);
}

template <int Nr, bool Dec>
NI_TARGET void NiBlocks(const uint8_t* rkBytes, const uint8_t* in, uint8_t* out, size_t blocks) {
    __m128i k[Nr + 1];
    for (int r = 0; r <= Nr; ++r) k[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r);
    const __m128i* src = reinterpret_cast<const __m128i*>(in);
    __m128i* dst = reinterpret_cast<__m128i*>(out);
    for (; blocks >= 8; blocks -= 8, src += 8, dst += 8) {
        __m128i b[8];
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) b[i] = _mm_xor_si128(_mm_loadu_si128(src + i), k[0]);
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i)
                b[i] = Dec ? _mm_aesdec_si128(b[i], k[r]) : _mm_aesenc_si128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            b[i] = Dec ? _mm_aesdeclast_si128(b[i], k[Nr]) : _mm_aesenclast_si128(b[i], k[Nr]);
            _mm_storeu_si128(dst + i, b[i]);
        }
    }
    for (; blocks; --blocks, ++src, ++dst) {
        const __m128i b = _mm_loadu_si128(src);
        _mm_storeu_si128(dst, Dec ? NiDecrypt1<Nr>(k, b) : NiEncrypt1<Nr>(k, b));
    }
}

template <int Nr>
NI_TARGET void NiCbcEncrypt(const uint8_t* rkBytes, uint8_t* iv, const uint8_t* in, uint8_t* out,
                            size_t blocks) {
    __m128i k[Nr + 1];
    for (int r = 0; r <= Nr; ++r) k[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r);
    const __m128i* src = reinterpret_cast<const __m128i*>(in);
    __m128i* dst = reinterpret_cast<__m128i*>(out);
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    if (!blocks) return;
    // The chain is the only serial part. The next block's plaintext and whitening key are folded
    // into the last round key of the current block, so no XOR sits between two AES rounds; the
    // ciphertext itself is recovered off the chain.
    __m128i s = _mm_xor_si128(c, _mm_xor_si128(_mm_loadu_si128(src), k[0]));
    for (; blocks > 1; --blocks, ++src, ++dst) {
        const __m128i fold = _mm_xor_si128(_mm_loadu_si128(src + 1), k[0]);
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) s = _mm_aesenc_si128(s, k[r]);
        s = _mm_aesenclast_si128(s, _mm_xor_si128(k[Nr], fold));
        _mm_storeu_si128(dst, _mm_xor_si128(s, fold));
    }
#pragma GCC unroll 16
    for (int r = 1; r < Nr; ++r) s = _mm_aesenc_si128(s, k[r]);
    c = _mm_aesenclast_si128(s, k[Nr]);
    _mm_storeu_si128(dst, c);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), c);
}

template <int Nr>
NI_TARGET void NiCbcDecrypt(const uint8_t* rkBytes, uint8_t* iv, const uint8_t* in, uint8_t* out,
                            size_t blocks) {
    __m128i k[Nr + 1];
    for (int r = 0; r <= Nr; ++r) k[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r);
    const __m128i* src = reinterpret_cast<const __m128i*>(in);
    __m128i* dst = reinterpret_cast<__m128i*>(out);
    __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    for (; blocks >= 8; blocks -= 8, src += 8, dst += 8) {
        __m128i c[8], b[8];
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            c[i] = _mm_loadu_si128(src + i);
            b[i] = _mm_xor_si128(c[i], k[0]);
        }
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) b[i] = _mm_aesdec_si128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            b[i] = _mm_aesdeclast_si128(b[i], k[Nr]);
            _mm_storeu_si128(dst + i, _mm_xor_si128(b[i], i ? c[i - 1] : prev));
        }
        prev = c[7];
    }
    for (; blocks; --blocks, ++src, ++dst) {
        const __m128i c = _mm_loadu_si128(src);
        _mm_storeu_si128(dst, _mm_xor_si128(NiDecrypt1<Nr>(k, c), prev));
        prev = c;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), prev);
}

// VAES: two blocks per instruction, eight registers in flight (16 blocks per step).
template <int Nr, bool Dec>
VAES_TARGET void VaesBlocks(const uint8_t* rkBytes, const uint8_t* in, uint8_t* out, size_t blocks) {
    const __m128i* rk = reinterpret_cast<const __m128i*>(rkBytes);
    const __m256i* src = reinterpret_cast<const __m256i*>(in);
    __m256i* dst = reinterpret_cast<__m256i*>(out);
    for (; blocks >= 16; blocks -= 16, src += 8, dst += 8) {
        __m256i b[8];
        const __m256i k0 = _mm256_broadcastsi128_si256(_mm_load_si128(rk));
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) b[i] = _mm256_xor_si256(_mm256_loadu_si256(src + i), k0);
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
            const __m256i kr = _mm256_broadcastsi128_si256(_mm_load_si128(rk + r));
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i)
                b[i] = Dec ? _mm256_aesdec_epi128(b[i], kr) : _mm256_aesenc_epi128(b[i], kr);
        }
        const __m256i kl = _mm256_broadcastsi128_si256(_mm_load_si128(rk + Nr));
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i)
            _mm256_storeu_si256(dst + i, Dec ? _mm256_aesdeclast_epi128(b[i], kl)
                                             : _mm256_aesenclast_epi128(b[i], kl));
    }
    if (blocks)
        NiBlocks<Nr, Dec>(rkBytes, reinterpret_cast<const uint8_t*>(src), reinterpret_cast<uint8_t*>(dst),
                          blocks);
}

template <int Nr>
VAES_TARGET void VaesCbcDecrypt(const uint8_t* rkBytes, uint8_t* iv, const uint8_t* in, uint8_t* out,
                                size_t blocks) {
    const __m128i* rk = reinterpret_cast<const __m128i*>(rkBytes);
    __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
    while (blocks >= 16) {
        const __m256i* src = reinterpret_cast<const __m256i*>(in);
        __m256i c[8], b[8];
        const __m256i k0 = _mm256_broadcastsi128_si256(_mm_load_si128(rk));
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            c[i] = _mm256_loadu_si256(src + i);
            b[i] = _mm256_xor_si256(c[i], k0);
        }
        // The value XORed into block n is ciphertext n-1: the previous chaining value for the first,
        // then the input shifted back by one block (read before anything is stored, for in == out).
        __m256i x[8];
        x[0] = _mm256_inserti128_si256(_mm256_castsi128_si256(prev), _mm256_castsi256_si128(c[0]), 1);
#pragma GCC unroll 8
        for (int i = 1; i < 8; ++i)
            x[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * i - 16));
        prev = _mm256_extracti128_si256(c[7], 1);
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
            const __m256i kr = _mm256_broadcastsi128_si256(_mm_load_si128(rk + r));
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) b[i] = _mm256_aesdec_epi128(b[i], kr);
        }
        const __m256i kl = _mm256_broadcastsi128_si256(_mm_load_si128(rk + Nr));
        __m256i* dst = reinterpret_cast<__m256i*>(out);
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i)
            _mm256_storeu_si256(dst + i, _mm256_xor_si256(_mm256_aesdeclast_epi128(b[i], kl), x[i]));
        blocks -= 16;
        in += 256;
        out += 256;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(iv), prev);
    if (blocks) NiCbcDecrypt<Nr>(rkBytes, iv, in, out, blocks);
}

#endif // VARNELLO_AES_X86

void RequireKey(const TAesKey& key, bool decrypt) {
    if (key.Rounds() == 0 || key.IsDecryptKey() != decrypt)
        throw ENvCipherError(decrypt ? "AES key not set for decryption" : "AES key not set for encryption");
}

template <template <int> class F, typename... A> void ByRounds(int rounds, A&&... args) {
    switch (rounds) {
    case 10:
        F<10>::Run(args...);
        break;
    case 12:
        F<12>::Run(args...);
        break;
    default:
        F<14>::Run(args...);
        break;
    }
}

} // namespace

// ---- key schedule -------------------------------------------------------------------------------

TAesKey::~TAesKey() {
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(this);
    for (size_t i = 0; i < sizeof(*this); ++i) p[i] = 0;
}

void TAesKey::Expand(const uint8_t* key, size_t len) {
    if (len != 16 && len != 24 && len != 32) throw ENvCipherError("Invalid AES key length");
    const int nk = static_cast<int>(len / 4);
    FRounds = nk + 6;
    const int total = 4 * (FRounds + 1);
    uint32_t* w = FWords;
    for (int i = 0; i < nk; ++i) w[i] = LoadBe32(key + 4 * i);
    uint32_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t t = w[i - 1];
        if (i % nk == 0) {
            t = SubWord((t << 8) | (t >> 24)) ^ (rcon << 24);
            rcon = Xtime(static_cast<uint8_t>(rcon));
        } else if (nk > 6 && i % nk == 4) {
            t = SubWord(t);
        }
        w[i] = w[i - nk] ^ t;
    }
}

void TAesKey::SetEncryptKey(const uint8_t* key, size_t len) {
    Expand(key, len);
    FDecrypt = false;
    for (int i = 0; i < 4 * (FRounds + 1); ++i) StoreBe32(FBytes + 4 * i, FWords[i]);
}

void TAesKey::SetDecryptKey(const uint8_t* key, size_t len) {
    Expand(key, len);
    FDecrypt = true;
    // Equivalent inverse cipher: round keys reversed, InvMixColumns applied to the inner ones.
    uint32_t enc[60];
    std::memcpy(enc, FWords, sizeof(enc));
    const int nr = FRounds;
    for (int r = 0; r <= nr; ++r) {
        for (int j = 0; j < 4; ++j) {
            const uint32_t w = enc[4 * (nr - r) + j];
            FWords[4 * r + j] = (r == 0 || r == nr) ? w : InvMixWord(w);
        }
    }
    for (int i = 0; i < 4 * (nr + 1); ++i) StoreBe32(FBytes + 4 * i, FWords[i]);
    volatile uint32_t* p = enc;
    for (int i = 0; i < 60; ++i) p[i] = 0;
}

// ---- dispatch -------------------------------------------------------------------------------------

namespace {

template <int Nr> struct TEncBlocks {
    static void Run(const TAesKey& k, const uint8_t* in, uint8_t* out, size_t n) {
#ifdef VARNELLO_AES_X86
        if (n >= 16 && HaveVaes()) return VaesBlocks<Nr, false>(k.FBytes, in, out, n);
        if (HaveAesNi()) return NiBlocks<Nr, false>(k.FBytes, in, out, n);
#endif
        TableEncryptBlocks<Nr>(k.FWords, in, out, n);
    }
};

template <int Nr> struct TDecBlocks {
    static void Run(const TAesKey& k, const uint8_t* in, uint8_t* out, size_t n) {
#ifdef VARNELLO_AES_X86
        if (n >= 16 && HaveVaes()) return VaesBlocks<Nr, true>(k.FBytes, in, out, n);
        if (HaveAesNi()) return NiBlocks<Nr, true>(k.FBytes, in, out, n);
#endif
        TableDecryptBlocks<Nr>(k.FWords, in, out, n);
    }
};

template <int Nr> struct TCbcEnc {
    static void Run(const TAesKey& k, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t n) {
#ifdef VARNELLO_AES_X86
        if (HaveAesNi()) return NiCbcEncrypt<Nr>(k.FBytes, iv, in, out, n);
#endif
        TableCbcEncrypt<Nr>(k.FWords, iv, in, out, n);
    }
};

template <int Nr> struct TCbcDec {
    static void Run(const TAesKey& k, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t n) {
#ifdef VARNELLO_AES_X86
        if (n >= 16 && HaveVaes()) return VaesCbcDecrypt<Nr>(k.FBytes, iv, in, out, n);
        if (HaveAesNi()) return NiCbcDecrypt<Nr>(k.FBytes, iv, in, out, n);
#endif
        TableCbcDecrypt<Nr>(k.FWords, iv, in, out, n);
    }
};

} // namespace

void AesEncryptBlock(const TAesKey& key, const uint8_t* in, uint8_t* out) {
    AesEncryptBlocks(key, in, out, 1);
}
void AesDecryptBlock(const TAesKey& key, const uint8_t* in, uint8_t* out) {
    AesDecryptBlocks(key, in, out, 1);
}

void AesEncryptBlocks(const TAesKey& key, const uint8_t* in, uint8_t* out, size_t blocks) {
    RequireKey(key, false);
    ByRounds<TEncBlocks>(key.Rounds(), key, in, out, blocks);
}

void AesDecryptBlocks(const TAesKey& key, const uint8_t* in, uint8_t* out, size_t blocks) {
    RequireKey(key, true);
    ByRounds<TDecBlocks>(key.Rounds(), key, in, out, blocks);
}

void AesCbcEncrypt(const TAesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    RequireKey(key, false);
    ByRounds<TCbcEnc>(key.Rounds(), key, iv, in, out, blocks);
}

void AesCbcDecrypt(const TAesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    RequireKey(key, true);
    ByRounds<TCbcDec>(key.Rounds(), key, iv, in, out, blocks);
}

} // namespace Varnello::Crypto
