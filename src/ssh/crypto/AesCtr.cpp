// AES-CTR: an AES-NI kernel that builds, encrypts and applies eight counter blocks per step, and
// a portable path over the table-based AesEncryptBlocks.
#include "ssh/crypto/AesCtr.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define VARNELLO_CTR_X86 1
#endif

namespace Varnello::Crypto {

namespace {

#ifdef VARNELLO_CTR_X86
#define VARNELLO_NI __attribute__((target("aes,sse4.1")))

VARNELLO_NI inline __m128i CounterBlock(uint64_t high, uint64_t low) {
    return _mm_set_epi64x(int64_t(__builtin_bswap64(low)), int64_t(__builtin_bswap64(high)));
}

// Whole blocks only; advances high:low by `blocks`.
template <int Nr>
VARNELLO_NI void CtrNi(const uint8_t* rkBytes, uint64_t& high, uint64_t& low, const uint8_t* in, uint8_t* out,
                       size_t blocks) {
    __m128i k[Nr + 1];
    for (int r = 0; r <= Nr; ++r) k[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r);
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128) {
        __m128i b[8];
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            const uint64_t l = low + uint64_t(i);
            b[i] = _mm_xor_si128(CounterBlock(high + (l < low), l), k[0]);
        }
        const uint64_t next = low + 8;
        high += next < low;
        low = next;
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) b[i] = _mm_aesenc_si128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            b[i] = _mm_aesenclast_si128(b[i], k[Nr]);
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in) + i);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out) + i, _mm_xor_si128(p, b[i]));
        }
    }
    for (; blocks > 0; --blocks, in += 16, out += 16) {
        __m128i b = _mm_xor_si128(CounterBlock(high, low), k[0]);
        ++low;
        high += low == 0;
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) b = _mm_aesenc_si128(b, k[r]);
        b = _mm_aesenclast_si128(b, k[Nr]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), b));
    }
}
#define VARNELLO_VAES __attribute__((target("aes,sse4.1,avx2,vaes")))

// Sixteen blocks per step, two per 256-bit register. The counters are added as 64-bit lanes, so
// a step that would carry out of the low half is left to CtrNi, which carries block by block.
template <int Nr>
VARNELLO_VAES void CtrVaes(const uint8_t* rkBytes, uint64_t& high, uint64_t& low, const uint8_t* in,
                           uint8_t* out, size_t blocks) {
    __m256i k[Nr + 1];
    for (int r = 0; r <= Nr; ++r)
        k[r] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r));
    const __m256i reverse =
        _mm256_broadcastsi128_si256(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    const __m256i two = _mm256_set_epi64x(0, 2, 0, 2);
    for (; blocks >= 16 && low <= ~uint64_t(0) - 16; blocks -= 16, in += 256, out += 256) {
        // Each 128-bit lane holds (low, high) little-endian; reversing its bytes gives the block.
        __m256i c = _mm256_set_epi64x(int64_t(high), int64_t(low + 1), int64_t(high), int64_t(low));
        low += 16;
        __m256i b[8];
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            b[i] = _mm256_xor_si256(_mm256_shuffle_epi8(c, reverse), k[0]);
            c = _mm256_add_epi64(c, two);
        }
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) b[i] = _mm256_aesenc_epi128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in) + i);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out) + i,
                                _mm256_xor_si256(p, _mm256_aesenclast_epi128(b[i], k[Nr])));
        }
    }
    if (blocks > 0) CtrNi<Nr>(rkBytes, high, low, in, out, blocks);
}
#endif

void CtrPortable(const TAesKey& key, uint64_t& high, uint64_t& low, const uint8_t* in, uint8_t* out,
                 size_t blocks) {
    uint8_t ks[16 * 16];
    while (blocks > 0) {
        const size_t n = blocks < 16 ? blocks : 16;
        for (size_t i = 0; i < n; ++i) {
            StoreBe64(ks + 16 * i, high);
            StoreBe64(ks + 16 * i + 8, low);
            ++low;
            high += low == 0;
        }
        AesEncryptBlocks(key, ks, ks, n);
        for (size_t i = 0; i < 16 * n; ++i) out[i] = in[i] ^ ks[i];
        in += 16 * n;
        out += 16 * n;
        blocks -= n;
    }
    SecureWipe(ks, sizeof(ks));
}

void CtrBlocks(const TAesKey& key, uint64_t& high, uint64_t& low, const uint8_t* in, uint8_t* out,
               size_t blocks) {
#ifdef VARNELLO_CTR_X86
    if (blocks >= 16 && HaveVaes()) {
        switch (key.Rounds()) {
        case 10:
            return CtrVaes<10>(key.FBytes, high, low, in, out, blocks);
        case 12:
            return CtrVaes<12>(key.FBytes, high, low, in, out, blocks);
        case 14:
            return CtrVaes<14>(key.FBytes, high, low, in, out, blocks);
        }
    }
    if (HaveAesNi()) {
        switch (key.Rounds()) {
        case 10:
            return CtrNi<10>(key.FBytes, high, low, in, out, blocks);
        case 12:
            return CtrNi<12>(key.FBytes, high, low, in, out, blocks);
        case 14:
            return CtrNi<14>(key.FBytes, high, low, in, out, blocks);
        }
    }
#endif
    CtrPortable(key, high, low, in, out, blocks);
}

} // namespace

TAesCtr::~TAesCtr() {
    SecureWipe(FLeftover, sizeof(FLeftover));
}

void TAesCtr::SetKey(const uint8_t* key, size_t len) {
    FKey.SetEncryptKey(key, len);
    FLeftoverPos = 16;
}

void TAesCtr::SetCounter(const uint8_t counter[16]) {
    FHigh = LoadBe64(counter);
    FLow = LoadBe64(counter + 8);
    FLeftoverPos = 16;
}

void TAesCtr::GetCounter(uint8_t counter[16]) const {
    StoreBe64(counter, FHigh);
    StoreBe64(counter + 8, FLow);
}

void TAesCtr::Crypt(const uint8_t* in, uint8_t* out, size_t len) {
    if (FKey.Rounds() == 0) throw ENvCipherError("AES key not set for encryption");
    if (FLeftoverPos < 16 && len > 0) {
        const size_t take = len < 16 - FLeftoverPos ? len : 16 - FLeftoverPos;
        for (size_t i = 0; i < take; ++i) out[i] = in[i] ^ FLeftover[FLeftoverPos + i];
        FLeftoverPos += take;
        in += take;
        out += take;
        len -= take;
    }
    if (len >= 16) {
        const size_t blocks = len / 16;
        CtrBlocks(FKey, FHigh, FLow, in, out, blocks);
        in += 16 * blocks;
        out += 16 * blocks;
        len -= 16 * blocks;
    }
    if (len > 0) {
        std::memset(FLeftover, 0, 16);
        CtrBlocks(FKey, FHigh, FLow, FLeftover, FLeftover, 1);
        for (size_t i = 0; i < len; ++i) out[i] = in[i] ^ FLeftover[i];
        FLeftoverPos = len;
    }
}

} // namespace Varnello::Crypto
