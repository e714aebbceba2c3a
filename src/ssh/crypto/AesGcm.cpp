// AES-GCM: nonce handling, the GHASH and counter-mode flow, a fused AES-NI + PCLMULQDQ kernel and
// a portable path (table AES, constant-time carry-less multiplication on 64-bit integers).
#include "ssh/crypto/AesGcm.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#define VARNELLO_GCM_X86 1
#endif

namespace Varnello::Crypto {

namespace {

// ---- Portable GHASH: GF(2^128) products from integer multiplies with holes -------------------

// Low 64 bits of the carry-less product. Masking the operands to every fourth bit leaves room
// for the carries of the integer multiplications, which the final masks discard.
inline uint64_t Bmul64(uint64_t x, uint64_t y) {
    const uint64_t m0 = 0x1111111111111111ULL, m1 = 0x2222222222222222ULL, m2 = 0x4444444444444444ULL,
                   m3 = 0x8888888888888888ULL;
    const uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
    const uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
    uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

inline uint64_t Rev64(uint64_t x) {
    x = ((x & 0x5555555555555555ULL) << 1) | ((x >> 1) & 0x5555555555555555ULL);
    x = ((x & 0x3333333333333333ULL) << 2) | ((x >> 2) & 0x3333333333333333ULL);
    x = ((x & 0x0F0F0F0F0F0F0F0FULL) << 4) | ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL);
    return __builtin_bswap64(x);
}

// y = (y ^ block) * H for each 16-byte block. GCM's bit order is reflected, so the high halves
// of the products come from multiplying bit-reversed operands.
void GhashPortable(uint8_t y[16], const uint8_t h[16], const uint8_t* data, size_t blocks) {
    uint64_t y1 = LoadBe64(y), y0 = LoadBe64(y + 8);
    const uint64_t h1 = LoadBe64(h), h0 = LoadBe64(h + 8);
    const uint64_t h0r = Rev64(h0), h1r = Rev64(h1), h2 = h0 ^ h1, h2r = h0r ^ h1r;
    for (; blocks > 0; --blocks, data += 16) {
        y1 ^= LoadBe64(data);
        y0 ^= LoadBe64(data + 8);
        const uint64_t y0r = Rev64(y0), y1r = Rev64(y1), y2 = y0 ^ y1, y2r = y0r ^ y1r;
        const uint64_t z0 = Bmul64(y0, h0), z1 = Bmul64(y1, h1);
        uint64_t z2 = Bmul64(y2, h2);
        uint64_t z0h = Bmul64(y0r, h0r), z1h = Bmul64(y1r, h1r), z2h = Bmul64(y2r, h2r);
        z2 ^= z0 ^ z1;
        z2h ^= z0h ^ z1h;
        z0h = Rev64(z0h) >> 1;
        z1h = Rev64(z1h) >> 1;
        z2h = Rev64(z2h) >> 1;
        uint64_t v0 = z0, v1 = z0h ^ z2, v2 = z1 ^ z2h, v3 = z1h;
        v3 = (v3 << 1) | (v2 >> 63);
        v2 = (v2 << 1) | (v1 >> 63);
        v1 = (v1 << 1) | (v0 >> 63);
        v0 = v0 << 1;
        v2 ^= v0 ^ (v0 >> 1) ^ (v0 >> 2) ^ (v0 >> 7);
        v1 ^= (v0 << 63) ^ (v0 << 62) ^ (v0 << 57);
        v3 ^= v1 ^ (v1 >> 1) ^ (v1 >> 2) ^ (v1 >> 7);
        v2 ^= (v1 << 63) ^ (v1 << 62) ^ (v1 << 57);
        y0 = v2;
        y1 = v3;
    }
    StoreBe64(y, y1);
    StoreBe64(y + 8, y0);
}

// Counter blocks nonce || ctr, ctr + 1, ... (32-bit increment), encrypted with the table code.
void CtrPortable(const TAesKey& key, const uint8_t nonce[12], uint32_t ctr, const uint8_t* in, uint8_t* out,
                 size_t len) {
    uint8_t ks[16 * 16];
    while (len > 0) {
        size_t n = (len + 15) / 16;
        if (n > 16) n = 16;
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(ks + 16 * i, nonce, 12);
            StoreBe32(ks + 16 * i + 12, ctr++);
        }
        AesEncryptBlocks(key, ks, ks, n);
        const size_t bytes = len < 16 * n ? len : 16 * n;
        for (size_t i = 0; i < bytes; ++i) out[i] = in[i] ^ ks[i];
        in += bytes;
        out += bytes;
        len -= bytes;
    }
    SecureWipe(ks, sizeof(ks));
}

#ifdef VARNELLO_GCM_X86
#define VARNELLO_GCM_NI __attribute__((target("aes,pclmul,sse4.1")))

VARNELLO_GCM_NI inline __m128i ByteReverse(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

// The 256-bit product hi:lo of byte-reversed operands, shifted left by one (GCM's reflected bit
// order) and reduced modulo x^128 + x^7 + x^2 + x + 1.
VARNELLO_GCM_NI inline __m128i ShiftReduce(__m128i lo, __m128i hi) {
    __m128i t7 = _mm_srli_epi32(lo, 31), t8 = _mm_srli_epi32(hi, 31);
    lo = _mm_slli_epi32(lo, 1);
    hi = _mm_slli_epi32(hi, 1);
    const __m128i t9 = _mm_srli_si128(t7, 12);
    t8 = _mm_slli_si128(t8, 4);
    t7 = _mm_slli_si128(t7, 4);
    lo = _mm_or_si128(lo, t7);
    hi = _mm_or_si128(_mm_or_si128(hi, t8), t9);

    t7 = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(lo, 31), _mm_slli_epi32(lo, 30)), _mm_slli_epi32(lo, 25));
    t8 = _mm_srli_si128(t7, 4);
    t7 = _mm_slli_si128(t7, 12);
    lo = _mm_xor_si128(lo, t7);
    __m128i t2 =
        _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(lo, 1), _mm_srli_epi32(lo, 2)), _mm_srli_epi32(lo, 7));
    t2 = _mm_xor_si128(t2, t8);
    lo = _mm_xor_si128(lo, t2);
    return _mm_xor_si128(hi, lo);
}

VARNELLO_GCM_NI inline void MulAccumulate(__m128i a, __m128i b, __m128i& lo, __m128i& mid, __m128i& hi) {
    lo = _mm_xor_si128(lo, _mm_clmulepi64_si128(a, b, 0x00));
    hi = _mm_xor_si128(hi, _mm_clmulepi64_si128(a, b, 0x11));
    mid =
        _mm_xor_si128(mid, _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01)));
}

VARNELLO_GCM_NI inline __m128i Finish(__m128i lo, __m128i mid, __m128i hi) {
    return ShiftReduce(_mm_xor_si128(lo, _mm_slli_si128(mid, 8)), _mm_xor_si128(hi, _mm_srli_si128(mid, 8)));
}

VARNELLO_GCM_NI inline __m128i GfMul(__m128i a, __m128i b) {
    __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
    MulAccumulate(a, b, lo, mid, hi);
    return Finish(lo, mid, hi);
}

// H^1..H^16 in byte-reversed form.
VARNELLO_GCM_NI void PowersNi(const uint8_t h[16], uint8_t powers[16][16]) {
    const __m128i hr = ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)));
    __m128i p = hr;
    for (int i = 0; i < 16; ++i) {
        _mm_store_si128(reinterpret_cast<__m128i*>(powers[i]), p);
        p = GfMul(p, hr);
    }
}

// Eight blocks (byte-reversed) folded into y with one reduction: y = (y^x0)H^8 + x1 H^7 + ... + x7 H.
VARNELLO_GCM_NI inline __m128i Ghash8(__m128i y, const __m128i x[8], const __m128i* hp) {
    __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
    MulAccumulate(_mm_xor_si128(x[0], y), hp[7], lo, mid, hi);
#pragma GCC unroll 7
    for (int i = 1; i < 8; ++i) MulAccumulate(x[i], hp[7 - i], lo, mid, hi);
    return Finish(lo, mid, hi);
}

VARNELLO_GCM_NI void GhashNi(uint8_t yBytes[16], const uint8_t powers[16][16], const uint8_t* data,
                             size_t blocks) {
    const __m128i* hp = reinterpret_cast<const __m128i*>(powers);
    __m128i y = ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yBytes)));
    for (; blocks >= 8; blocks -= 8, data += 128) {
        __m128i x[8];
        for (int i = 0; i < 8; ++i)
            x[i] = ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data) + i));
        y = Ghash8(y, x, hp);
    }
    for (; blocks > 0; --blocks, data += 16)
        y = GfMul(_mm_xor_si128(y, ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)))),
                  hp[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yBytes), ByteReverse(y));
}

// Counter mode from counter ctr over whole blocks, with GHASH of the ciphertext folded in.
template <int Nr>
VARNELLO_GCM_NI void GcmBlocksNi(const uint8_t* rkBytes, const uint8_t powers[16][16], uint8_t yBytes[16],
                                 const uint8_t nonce[12], uint32_t ctr, const uint8_t* in, uint8_t* out,
                                 size_t blocks, bool encrypt) {
    __m128i k[Nr + 1];
    for (int r = 0; r <= Nr; ++r) k[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r);
    const __m128i* hp = reinterpret_cast<const __m128i*>(powers);
    uint8_t baseBytes[16] = {};
    std::memcpy(baseBytes, nonce, 12);
    const __m128i base = _mm_loadu_si128(reinterpret_cast<const __m128i*>(baseBytes));
    __m128i y = ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yBytes)));
    for (; blocks >= 8; blocks -= 8, in += 128, out += 128, ctr += 8) {
        __m128i b[8], x[8];
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i)
            b[i] = _mm_xor_si128(_mm_insert_epi32(base, int(__builtin_bswap32(ctr + uint32_t(i))), 3), k[0]);
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) b[i] = _mm_aesenc_si128(b[i], k[r]);
        }
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in) + i);
            const __m128i c = _mm_xor_si128(p, _mm_aesenclast_si128(b[i], k[Nr]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out) + i, c);
            x[i] = ByteReverse(encrypt ? c : p);
        }
        y = Ghash8(y, x, hp);
    }
    for (; blocks > 0; --blocks, in += 16, out += 16, ++ctr) {
        __m128i b = _mm_xor_si128(_mm_insert_epi32(base, int(__builtin_bswap32(ctr)), 3), k[0]);
#pragma GCC unroll 16
        for (int r = 1; r < Nr; ++r) b = _mm_aesenc_si128(b, k[r]);
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i c = _mm_xor_si128(p, _mm_aesenclast_si128(b, k[Nr]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), c);
        y = GfMul(_mm_xor_si128(y, ByteReverse(encrypt ? c : p)), hp[0]);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yBytes), ByteReverse(y));
}

#define VARNELLO_GCM_VAES __attribute__((target("aes,pclmul,sse4.1,avx2,vaes,vpclmulqdq")))

VARNELLO_GCM_VAES inline __m256i ByteReverse2(__m256i x) {
    const __m128i m = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm256_shuffle_epi8(x, _mm256_broadcastsi128_si256(m));
}

VARNELLO_GCM_VAES inline __m128i FoldLanes(__m256i v) {
    return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// Sixteen blocks per step on 256-bit registers (two blocks each): VAES for the counter mode,
// VPCLMULQDQ for GHASH against H^16..H^1, one reduction per step. The rest goes to GcmBlocksNi.
template <int Nr>
VARNELLO_GCM_VAES void GcmBlocksVaes(const uint8_t* rkBytes, const uint8_t powers[16][16], uint8_t yBytes[16],
                                     const uint8_t nonce[12], uint32_t ctr, const uint8_t* in, uint8_t* out,
                                     size_t blocks, bool encrypt) {
    const size_t wide = blocks / 16;
    if (wide > 0) {
        __m256i k[Nr + 1];
        for (int r = 0; r <= Nr; ++r)
            k[r] = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(rkBytes) + r));
        // hp[j] pairs the blocks 2j and 2j+1 of a step with H^(16-2j) and H^(15-2j).
        __m256i hp[8];
        for (int j = 0; j < 8; ++j)
            hp[j] = _mm256_set_m128i(_mm_load_si128(reinterpret_cast<const __m128i*>(powers[14 - 2 * j])),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(powers[15 - 2 * j])));
        // Counter blocks kept with the 32-bit counter as a native integer in the last word; one
        // byte shuffle per register turns it big-endian.
        uint32_t words[8];
        std::memcpy(words, nonce, 12);
        words[3] = ctr;
        std::memcpy(words + 4, nonce, 12);
        words[7] = ctr + 1;
        __m256i counters = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
        const __m256i two = _mm256_set_epi32(2, 0, 0, 0, 2, 0, 0, 0);
        const __m256i toBigEndian =
            _mm256_broadcastsi128_si256(_mm_set_epi8(12, 13, 14, 15, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
        __m128i y = ByteReverse(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yBytes)));
        for (size_t step = 0; step < wide; ++step, in += 256, out += 256) {
            __m256i b[8];
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) {
                b[i] = _mm256_xor_si256(_mm256_shuffle_epi8(counters, toBigEndian), k[0]);
                counters = _mm256_add_epi32(counters, two);
            }
#pragma GCC unroll 16
            for (int r = 1; r < Nr; ++r) {
#pragma GCC unroll 8
                for (int i = 0; i < 8; ++i) b[i] = _mm256_aesenc_epi128(b[i], k[r]);
            }
            __m256i lo = _mm256_setzero_si256(), mid = lo, hi = lo;
#pragma GCC unroll 8
            for (int i = 0; i < 8; ++i) {
                const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in) + i);
                const __m256i c = _mm256_xor_si256(p, _mm256_aesenclast_epi128(b[i], k[Nr]));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out) + i, c);
                __m256i x = ByteReverse2(encrypt ? c : p);
                if (i == 0) x = _mm256_xor_si256(x, _mm256_zextsi128_si256(y));
                lo = _mm256_xor_si256(lo, _mm256_clmulepi64_epi128(x, hp[i], 0x00));
                hi = _mm256_xor_si256(hi, _mm256_clmulepi64_epi128(x, hp[i], 0x11));
                mid = _mm256_xor_si256(mid, _mm256_xor_si256(_mm256_clmulepi64_epi128(x, hp[i], 0x10),
                                                             _mm256_clmulepi64_epi128(x, hp[i], 0x01)));
            }
            y = Finish(FoldLanes(lo), FoldLanes(mid), FoldLanes(hi));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(yBytes), ByteReverse(y));
        ctr += uint32_t(16 * wide);
        blocks -= 16 * wide;
    }
    if (blocks > 0) GcmBlocksNi<Nr>(rkBytes, powers, yBytes, nonce, ctr, in, out, blocks, encrypt);
}
#endif

std::atomic<TGcmKernel> GKernelLimit{TGcmKernel::gkFastest};

enum class TPath { Portable, AesNi, Vaes };

TPath ChoosePath() {
    const TGcmKernel limit = GKernelLimit.load(std::memory_order_relaxed);
#ifdef VARNELLO_GCM_X86
    if (limit == TGcmKernel::gkFastest && HaveVaes() && HaveVpClmul()) return TPath::Vaes;
    if (limit != TGcmKernel::gkPortable && HaveAesNi() && HavePclmul()) return TPath::AesNi;
#endif
    (void)limit;
    return TPath::Portable;
}

} // namespace

void LimitGcmKernel(TGcmKernel limit) {
    GKernelLimit.store(limit, std::memory_order_relaxed);
}

TAesGcm::~TAesGcm() {
    SecureWipe(FH, sizeof(FH));
    SecureWipe(FHPowers, sizeof(FHPowers));
}

void TAesGcm::SetKey(const uint8_t* key, size_t len) {
    FKey.SetEncryptKey(key, len);
    std::memset(FH, 0, 16);
    AesEncryptBlock(FKey, FH, FH);
#ifdef VARNELLO_GCM_X86
    if (DetectedCpuFeatures().Pclmul && DetectedCpuFeatures().Sse41) PowersNi(FH, FHPowers);
#endif
}

void TAesGcm::SetNonce(const uint8_t nonce[NonceSize]) {
    std::memcpy(FNonce, nonce, NonceSize);
}
void TAesGcm::GetNonce(uint8_t nonce[NonceSize]) const {
    std::memcpy(nonce, FNonce, NonceSize);
}

void TAesGcm::Run(bool encrypt, const uint8_t* aad, size_t aadLen, const uint8_t* in, size_t len,
                  uint8_t* out, uint8_t tag[TagSize]) {
    // 32-bit block counter starting at 2: at most 2^32 - 2 blocks (SP 800-38D, section 5.2.1.1).
    if (uint64_t(len) > (uint64_t(1) << 36) - 32) throw ENvCipherError("GCM message too long");
    // Without a key the kernels would run on zero round keys; refuse before anything is written.
    if (FKey.Rounds() == 0) throw ENvCipherError("AES key not set for encryption");
    const TPath path = ChoosePath();
    const bool ni = path != TPath::Portable;
    uint8_t y[16] = {};
    auto ghash = [&](const uint8_t* data, size_t blocks) {
#ifdef VARNELLO_GCM_X86
        if (ni) return GhashNi(y, FHPowers, data, blocks);
#endif
        GhashPortable(y, FH, data, blocks);
    };
    auto ghashPadded = [&](const uint8_t* data, size_t n) {
        ghash(data, n / 16);
        if (n % 16) {
            uint8_t last[16] = {};
            std::memcpy(last, data + n - n % 16, n % 16);
            ghash(last, 1);
        }
    };

    ghashPadded(aad, aadLen);

    const size_t whole = len / 16;
    const size_t tail = len % 16;
    const uint32_t firstCounter = 2;
    if (ni) {
#ifdef VARNELLO_GCM_X86
        const bool vaes = path == TPath::Vaes;
        auto kernel = [&](auto rounds) {
            constexpr int Nr = decltype(rounds)::value;
            if (vaes)
                GcmBlocksVaes<Nr>(FKey.FBytes, FHPowers, y, FNonce, firstCounter, in, out, whole, encrypt);
            else
                GcmBlocksNi<Nr>(FKey.FBytes, FHPowers, y, FNonce, firstCounter, in, out, whole, encrypt);
        };
        switch (FKey.Rounds()) {
        case 10:
            kernel(std::integral_constant<int, 10>());
            break;
        case 12:
            kernel(std::integral_constant<int, 12>());
            break;
        default:
            kernel(std::integral_constant<int, 14>());
            break;
        }
#endif
    } else {
        // Chunks keep the ciphertext in cache between the two passes; decryption hashes first,
        // because out may be in.
        const size_t chunkBlocks = 256;
        for (size_t done = 0; done < whole; done += chunkBlocks) {
            const size_t n = whole - done < chunkBlocks ? whole - done : chunkBlocks;
            const uint8_t* src = in + 16 * done;
            uint8_t* dst = out + 16 * done;
            if (!encrypt) ghash(src, n);
            CtrPortable(FKey, FNonce, firstCounter + uint32_t(done), src, dst, 16 * n);
            if (encrypt) ghash(dst, n);
        }
    }
    if (tail) {
        uint8_t last[16] = {};
        const uint8_t* src = in + 16 * whole;
        uint8_t* dst = out + 16 * whole;
        if (!encrypt) std::memcpy(last, src, tail);
        CtrPortable(FKey, FNonce, firstCounter + uint32_t(whole), src, dst, tail);
        if (encrypt) std::memcpy(last, dst, tail);
        ghash(last, 1);
    }

    uint8_t lengths[16];
    StoreBe64(lengths, uint64_t(aadLen) * 8);
    StoreBe64(lengths + 8, uint64_t(len) * 8);
    ghash(lengths, 1);

    uint8_t j0[16];
    std::memcpy(j0, FNonce, 12);
    StoreBe32(j0 + 12, 1);
    AesEncryptBlock(FKey, j0, j0);
    for (int i = 0; i < 16; ++i) tag[i] = j0[i] ^ y[i];
    SecureWipe(j0, sizeof(j0));
    SecureWipe(y, sizeof(y));

    // RFC 5647, section 7.1: the invocation counter is the last eight bytes, big-endian.
    StoreBe64(FNonce + 4, LoadBe64(FNonce + 4) + 1);
}

void TAesGcm::Seal(const uint8_t* aad, size_t aadLen, const uint8_t* in, size_t len, uint8_t* out,
                   uint8_t tag[TagSize]) {
    Run(true, aad, aadLen, in, len, out, tag);
}

bool TAesGcm::Open(const uint8_t* aad, size_t aadLen, const uint8_t* in, size_t len,
                   const uint8_t tag[TagSize], uint8_t* out) {
    uint8_t want[TagSize];
    Run(false, aad, aadLen, in, len, out, want);
    const bool ok = ConstTimeEqual(want, tag, TagSize);
    SecureWipe(want, sizeof(want));
    if (!ok) SecureWipe(out, len);
    return ok;
}

} // namespace Varnello::Crypto
