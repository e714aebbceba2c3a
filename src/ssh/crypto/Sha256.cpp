// SHA-256: portable compression plus the SHA-NI variant, and the buffering around them.
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNELLO_SHA_X86 1
#endif

namespace Varnello::Crypto {

namespace {

alignas(16) constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Compress(uint32_t state[8], const uint8_t* data, size_t blocks) {
    if (HaveShaNi())
        Sha256CompressShaNi(state, data, blocks);
    else
        Sha256CompressPortable(state, data, blocks);
}

} // namespace

namespace {

inline uint32_t Sigma0(uint32_t x) {
    return Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22);
}
inline uint32_t Sigma1(uint32_t x) {
    return Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25);
}
inline uint32_t Gamma0(uint32_t x) {
    return Rotr(x, 7) ^ Rotr(x, 18) ^ (x >> 3);
}
inline uint32_t Gamma1(uint32_t x) {
    return Rotr(x, 17) ^ Rotr(x, 19) ^ (x >> 10);
}

// One round with the working variables renamed instead of moved; w is the 16-word ring.
#define VARNELLO_R256(a, b, c, d, e, f, g, h, i, wi)                                                         \
    do {                                                                                                     \
        const uint32_t t1 = h + Sigma1(e) + (g ^ (e & (f ^ g))) + K[round + i] + (wi);                       \
        d += t1;                                                                                             \
        h = t1 + Sigma0(a) + ((a & b) | (c & (a | b)));                                                      \
    } while (0)

#define VARNELLO_SCHED(i) (w[i] += Gamma1(w[(i + 14) & 15]) + w[(i + 9) & 15] + Gamma0(w[(i + 1) & 15]))
#define VARNELLO_LOADED(i) w[i]

#define VARNELLO_16ROUNDS(W)                                                                                 \
    VARNELLO_R256(a, b, c, d, e, f, g, h, 0, W(0));                                                          \
    VARNELLO_R256(h, a, b, c, d, e, f, g, 1, W(1));                                                          \
    VARNELLO_R256(g, h, a, b, c, d, e, f, 2, W(2));                                                          \
    VARNELLO_R256(f, g, h, a, b, c, d, e, 3, W(3));                                                          \
    VARNELLO_R256(e, f, g, h, a, b, c, d, 4, W(4));                                                          \
    VARNELLO_R256(d, e, f, g, h, a, b, c, 5, W(5));                                                          \
    VARNELLO_R256(c, d, e, f, g, h, a, b, 6, W(6));                                                          \
    VARNELLO_R256(b, c, d, e, f, g, h, a, 7, W(7));                                                          \
    VARNELLO_R256(a, b, c, d, e, f, g, h, 8, W(8));                                                          \
    VARNELLO_R256(h, a, b, c, d, e, f, g, 9, W(9));                                                          \
    VARNELLO_R256(g, h, a, b, c, d, e, f, 10, W(10));                                                        \
    VARNELLO_R256(f, g, h, a, b, c, d, e, 11, W(11));                                                        \
    VARNELLO_R256(e, f, g, h, a, b, c, d, 12, W(12));                                                        \
    VARNELLO_R256(d, e, f, g, h, a, b, c, 13, W(13));                                                        \
    VARNELLO_R256(c, d, e, f, g, h, a, b, 14, W(14));                                                        \
    VARNELLO_R256(b, c, d, e, f, g, h, a, 15, W(15))

} // namespace

void Sha256CompressPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = LoadBe32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        int round = 0;
        VARNELLO_16ROUNDS(VARNELLO_LOADED);
        for (round = 16; round < 64; round += 16) {
            VARNELLO_16ROUNDS(VARNELLO_SCHED);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#undef VARNELLO_R256
#undef VARNELLO_SCHED
#undef VARNELLO_LOADED
#undef VARNELLO_16ROUNDS

#ifdef VARNELLO_SHA_X86
// The SHA extensions keep the state as the register pair ABEF / CDGH and do two rounds per
// sha256rnds2; the message schedule advances four words at a time with msg1/msg2.
__attribute__((target("sha,sse4.1"))) void Sha256CompressShaNi(uint32_t state[8], const uint8_t* data,
                                                               size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8); // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);      // CDGH

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefSave = state0, cdghSave = state1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            __m128i msg =
                _mm_add_epi32(m[i & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(K + 4 * i)));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            if (i < 12) {
                // W[4i+16..4i+19] = W[t-16] + s0(W[t-15]) + W[t-7] + s1(W[t-2]), into the slot just used.
                __m128i t = _mm_sha256msg1_epu32(m[i & 3], m[(i + 1) & 3]);
                t = _mm_add_epi32(t, _mm_alignr_epi8(m[(i + 3) & 3], m[(i + 2) & 3], 4));
                m[i & 3] = _mm_sha256msg2_epu32(t, m[(i + 3) & 3]);
            }
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
        }
        state0 = _mm_add_epi32(state0, abefSave);
        state1 = _mm_add_epi32(state1, cdghSave);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);    // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0); // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);    // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}
#else
void Sha256CompressShaNi(uint32_t state[8], const uint8_t* data, size_t blocks) {
    Sha256CompressPortable(state, data, blocks);
}
#endif

void TSha256::Init() {
    static constexpr uint32_t iv[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(FState, iv, sizeof(FState));
    FLength = 0;
    FBlocks.Used = 0;
}

void TSha256::Update(const void* data, size_t len) {
    FLength += len;
    FBlocks.Absorb(static_cast<const uint8_t*>(data), len,
                   [this](const uint8_t* blocks, size_t count) { Compress(FState, blocks, count); });
}

void TSha256::Final(uint8_t* digest) {
    const uint64_t bits = FLength * 8;
    FBlocks.Pad(
        8, [bits](uint8_t* field) { StoreBe64(field, bits); },
        [this](const uint8_t* blocks, size_t count) { Compress(FState, blocks, count); });
    for (int i = 0; i < 8; ++i) StoreBe32(digest + 4 * i, FState[i]);
    SecureWipe(FBlocks.Data, sizeof(FBlocks.Data));
}

void TSha256::Compute(const void* data, size_t len, uint8_t* digest) {
    TSha256 h;
    h.Update(data, len);
    h.Final(digest);
}

} // namespace Varnello::Crypto
