// SHA-1: buffering, padding, and the two block functions (portable and SHA-NI).
#include "ssh/crypto/Sha1.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARNELLO_SHA1_NI 1
#endif

namespace Varnello::Crypto {

namespace {

inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

#ifdef VARNELLO_SHA1_NI

// Four rounds per step; the message schedule is kept in four registers W[g % 4], the next
// group's words computed from the previous four with SHA1MSG1/XOR/SHA1MSG2.
template <int G>
__attribute__((target("sha,sse4.1"), always_inline)) inline void ShaNiGroup(__m128i& abcd, __m128i& e,
                                                                            __m128i& ePrev, __m128i* w) {
    if constexpr (G >= 4) {
        w[G % 4] = _mm_sha1msg2_epu32(
            _mm_xor_si128(_mm_sha1msg1_epu32(w[G % 4], w[(G + 1) % 4]), w[(G + 2) % 4]), w[(G + 3) % 4]);
    }
    __m128i eThis;
    if constexpr (G == 0)
        eThis = _mm_add_epi32(e, w[0]);
    else
        eThis = _mm_sha1nexte_epu32(ePrev, w[G % 4]);
    ePrev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, eThis, G / 5);
}

template <int... G>
__attribute__((target("sha,sse4.1"), always_inline)) inline void
ShaNiGroups(__m128i& abcd, __m128i& e, __m128i& ePrev, __m128i* w, std::integer_sequence<int, G...>) {
    (ShaNiGroup<G>(abcd, e, ePrev, w), ...);
}

__attribute__((target("sha,sse4.1"))) void CompressShaNi(uint32_t state[5], const uint8_t* data,
                                                         size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(int(state[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcdSave = abcd;
        const __m128i eSave = e;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        __m128i ePrev;
        ShaNiGroups(abcd, e, ePrev, w, std::make_integer_sequence<int, 20>{});
        e = _mm_sha1nexte_epu32(ePrev, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = uint32_t(_mm_extract_epi32(e, 3));
}

#endif

void CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks);

void Compress(uint32_t state[5], const uint8_t* data, size_t blocks) {
#ifdef VARNELLO_SHA1_NI
    if (HaveShaNi() && HaveSse41() && HaveSsse3()) {
        CompressShaNi(state, data, blocks);
        return;
    }
#endif
    CompressPortable(state, data, blocks);
}

void CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = LoadBe32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        auto next = [&w](int t) {
            uint32_t x = Rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
            w[t & 15] = x;
            return x;
        };
        auto step = [&](uint32_t f, uint32_t k, uint32_t wt) {
            uint32_t t = Rol(a, 5) + f + e + k + wt;
            e = d;
            d = c;
            c = Rol(b, 30);
            b = a;
            a = t;
        };
        for (int t = 0; t < 16; ++t) step((b & c) | (~b & d), 0x5A827999, w[t]);
        for (int t = 16; t < 20; ++t) step((b & c) | (~b & d), 0x5A827999, next(t));
        for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ED9EBA1, next(t));
        for (int t = 40; t < 60; ++t) step((b & c) | (b & d) | (c & d), 0x8F1BBCDC, next(t));
        for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xCA62C1D6, next(t));
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

} // namespace

void TSha1::Init() {
    FState[0] = 0x67452301;
    FState[1] = 0xEFCDAB89;
    FState[2] = 0x98BADCFE;
    FState[3] = 0x10325476;
    FState[4] = 0xC3D2E1F0;
    FLength = 0;
    FBlocks.Used = 0;
}

void TSha1::Update(const void* data, size_t len) {
    FLength += len;
    FBlocks.Absorb(static_cast<const uint8_t*>(data), len,
                   [this](const uint8_t* blocks, size_t count) { Compress(FState, blocks, count); });
}

void TSha1::Final(uint8_t* digest) {
    const uint64_t bits = FLength * 8;
    FBlocks.Pad(
        8, [bits](uint8_t* field) { StoreBe64(field, bits); },
        [this](const uint8_t* blocks, size_t count) { Compress(FState, blocks, count); });
    for (int i = 0; i < 5; ++i) StoreBe32(digest + 4 * i, FState[i]);
    SecureWipe(this, sizeof(*this));
}

void TSha1::Hash(const void* data, size_t len, uint8_t* digest) {
    TSha1 h;
    h.Update(data, len);
    h.Final(digest);
}

} // namespace Varnello::Crypto
