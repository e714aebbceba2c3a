// ChaCha20: the scalar block function, an eight-way AVX2 keystream generator, and the byte-level
// stream position kept across calls.
#include "ssh/crypto/ChaCha20.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define VARNELLO_CHACHA_AVX2 1
#endif

namespace Varnello::Crypto {

namespace {

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

#define VARNELLO_QR(a, b, c, d)                                                                              \
    a += b;                                                                                                  \
    d = Rotl(d ^ a, 16);                                                                                     \
    c += d;                                                                                                  \
    b = Rotl(b ^ c, 12);                                                                                     \
    a += b;                                                                                                  \
    d = Rotl(d ^ a, 8);                                                                                      \
    c += d;                                                                                                  \
    b = Rotl(b ^ c, 7)

#ifdef VARNELLO_CHACHA_AVX2
// Eight consecutive blocks XORed over 512 bytes of src: lane j of vector i is word i of block j. The counter
// lanes are counter+j, carried into word 13 when the layout has a 64-bit counter.
__attribute__((target("avx2"))) void Blocks8Avx2(const uint32_t state[16], bool counter64, const uint8_t* src,
                                                 uint8_t* out) {
    __m256i x[16], in[16];
    for (int i = 0; i < 16; ++i) in[i] = _mm256_set1_epi32(int(state[i]));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    in[12] = _mm256_add_epi32(in[12], lanes);
    if (counter64) {
        // Unsigned "less than the start" marks the lanes that wrapped; -1 there, so subtracting adds 1.
        const __m256i bias = _mm256_set1_epi32(int(0x80000000u));
        const __m256i wrapped = _mm256_cmpgt_epi32(_mm256_xor_si256(_mm256_set1_epi32(int(state[12])), bias),
                                                   _mm256_xor_si256(in[12], bias));
        in[13] = _mm256_sub_epi32(in[13], wrapped);
    }
    for (int i = 0; i < 16; ++i) x[i] = in[i];
    const __m256i rot16 = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0, 1,
                                           6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    const __m256i rot8 = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3, 0, 1, 2, 7,
                                          4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
#define VARNELLO_QR8(a, b, c, d)                                                                             \
    do {                                                                                                     \
        x[a] = _mm256_add_epi32(x[a], x[b]);                                                                 \
        x[d] = _mm256_shuffle_epi8(_mm256_xor_si256(x[d], x[a]), rot16);                                     \
        x[c] = _mm256_add_epi32(x[c], x[d]);                                                                 \
        __m256i t = _mm256_xor_si256(x[b], x[c]);                                                            \
        x[b] = _mm256_or_si256(_mm256_slli_epi32(t, 12), _mm256_srli_epi32(t, 20));                          \
        x[a] = _mm256_add_epi32(x[a], x[b]);                                                                 \
        x[d] = _mm256_shuffle_epi8(_mm256_xor_si256(x[d], x[a]), rot8);                                      \
        x[c] = _mm256_add_epi32(x[c], x[d]);                                                                 \
        t = _mm256_xor_si256(x[b], x[c]);                                                                    \
        x[b] = _mm256_or_si256(_mm256_slli_epi32(t, 7), _mm256_srli_epi32(t, 25));                           \
    } while (0)
    for (int round = 0; round < 10; ++round) {
        VARNELLO_QR8(0, 4, 8, 12);
        VARNELLO_QR8(1, 5, 9, 13);
        VARNELLO_QR8(2, 6, 10, 14);
        VARNELLO_QR8(3, 7, 11, 15);
        VARNELLO_QR8(0, 5, 10, 15);
        VARNELLO_QR8(1, 6, 11, 12);
        VARNELLO_QR8(2, 7, 8, 13);
        VARNELLO_QR8(3, 4, 9, 14);
    }
#undef VARNELLO_QR8
    for (int i = 0; i < 16; ++i) x[i] = _mm256_add_epi32(x[i], in[i]);

    // Transpose each group of eight words so that every block's words become contiguous.
    for (int half = 0; half < 2; ++half) {
        __m256i* a = x + 8 * half;
        const __m256i t0 = _mm256_unpacklo_epi32(a[0], a[1]), t1 = _mm256_unpackhi_epi32(a[0], a[1]);
        const __m256i t2 = _mm256_unpacklo_epi32(a[2], a[3]), t3 = _mm256_unpackhi_epi32(a[2], a[3]);
        const __m256i t4 = _mm256_unpacklo_epi32(a[4], a[5]), t5 = _mm256_unpackhi_epi32(a[4], a[5]);
        const __m256i t6 = _mm256_unpacklo_epi32(a[6], a[7]), t7 = _mm256_unpackhi_epi32(a[6], a[7]);
        const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
        const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
        const __m256i v0 = _mm256_unpacklo_epi64(t4, t6), v1 = _mm256_unpackhi_epi64(t4, t6);
        const __m256i v2 = _mm256_unpacklo_epi64(t5, t7), v3 = _mm256_unpackhi_epi64(t5, t7);
        const __m256i rows[8] = {
            _mm256_permute2x128_si256(u0, v0, 0x20), _mm256_permute2x128_si256(u1, v1, 0x20),
            _mm256_permute2x128_si256(u2, v2, 0x20), _mm256_permute2x128_si256(u3, v3, 0x20),
            _mm256_permute2x128_si256(u0, v0, 0x31), _mm256_permute2x128_si256(u1, v1, 0x31),
            _mm256_permute2x128_si256(u2, v2, 0x31), _mm256_permute2x128_si256(u3, v3, 0x31)};
        for (int block = 0; block < 8; ++block) {
            const size_t at = 64 * block + 32 * half;
            const __m256i data = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + at));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), _mm256_xor_si256(data, rows[block]));
        }
    }
}

// The same over sixteen blocks (1024 bytes) on 512-bit registers, where AVX-512 rotates in one
// instruction. Checked here rather than in CpuFeatures, which has no AVX-512 entry; the
// compiler's check includes the operating system's support for the register state.
bool HaveAvx512() {
    static const bool present = __builtin_cpu_supports("avx512f");
    return present && !PortableCryptoForced();
}

// GCC 12 warns about the deliberately undefined pass-through operand inside _mm512_rol_epi32.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"))) void Blocks16Avx512(const uint32_t state[16], bool counter64,
                                                       const uint8_t* src, uint8_t* out) {
    // Only x lives through the rounds; the input words are broadcast again for the final
    // addition, so the 32 vector registers hold the state without spilling.
    __m512i x[16];
    for (int i = 0; i < 16; ++i) x[i] = _mm512_set1_epi32(int(state[i]));
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i counterLo = _mm512_add_epi32(x[12], lanes);
    __m512i counterHi = x[13];
    if (counter64) {
        const __mmask16 wrapped = _mm512_cmplt_epu32_mask(counterLo, x[12]);
        counterHi = _mm512_mask_add_epi32(counterHi, wrapped, counterHi, _mm512_set1_epi32(1));
    }
    x[12] = counterLo;
    x[13] = counterHi;
#define VARNELLO_QR16(a, b, c, d)                                                                            \
    do {                                                                                                     \
        x[a] = _mm512_add_epi32(x[a], x[b]);                                                                 \
        x[d] = _mm512_rol_epi32(_mm512_xor_si512(x[d], x[a]), 16);                                           \
        x[c] = _mm512_add_epi32(x[c], x[d]);                                                                 \
        x[b] = _mm512_rol_epi32(_mm512_xor_si512(x[b], x[c]), 12);                                           \
        x[a] = _mm512_add_epi32(x[a], x[b]);                                                                 \
        x[d] = _mm512_rol_epi32(_mm512_xor_si512(x[d], x[a]), 8);                                            \
        x[c] = _mm512_add_epi32(x[c], x[d]);                                                                 \
        x[b] = _mm512_rol_epi32(_mm512_xor_si512(x[b], x[c]), 7);                                            \
    } while (0)
    for (int round = 0; round < 10; ++round) {
        VARNELLO_QR16(0, 4, 8, 12);
        VARNELLO_QR16(1, 5, 9, 13);
        VARNELLO_QR16(2, 6, 10, 14);
        VARNELLO_QR16(3, 7, 11, 15);
        VARNELLO_QR16(0, 5, 10, 15);
        VARNELLO_QR16(1, 6, 11, 12);
        VARNELLO_QR16(2, 7, 8, 13);
        VARNELLO_QR16(3, 4, 9, 14);
    }
#undef VARNELLO_QR16
    for (int i = 0; i < 16; ++i) {
        const __m512i input = i == 12 ? counterLo : i == 13 ? counterHi : _mm512_set1_epi32(int(state[i]));
        x[i] = _mm512_add_epi32(x[i], input);
    }

    // 16x16 transpose: first within 128-bit lanes (words 4g..4g+3 of one block per lane), then
    // the lanes of the four word groups gathered per block.
    __m512i u[4][4];
    for (int g = 0; g < 4; ++g) {
        const __m512i* a = x + 4 * g;
        const __m512i t0 = _mm512_unpacklo_epi32(a[0], a[1]), t1 = _mm512_unpackhi_epi32(a[0], a[1]);
        const __m512i t2 = _mm512_unpacklo_epi32(a[2], a[3]), t3 = _mm512_unpackhi_epi32(a[2], a[3]);
        u[g][0] = _mm512_unpacklo_epi64(t0, t2);
        u[g][1] = _mm512_unpackhi_epi64(t0, t2);
        u[g][2] = _mm512_unpacklo_epi64(t1, t3);
        u[g][3] = _mm512_unpackhi_epi64(t1, t3);
    }
    for (int q = 0; q < 4; ++q) {
        const __m512i s0 = _mm512_shuffle_i32x4(u[0][q], u[1][q], 0x44);
        const __m512i s1 = _mm512_shuffle_i32x4(u[0][q], u[1][q], 0xEE);
        const __m512i s2 = _mm512_shuffle_i32x4(u[2][q], u[3][q], 0x44);
        const __m512i s3 = _mm512_shuffle_i32x4(u[2][q], u[3][q], 0xEE);
        const __m512i rows[4] = {_mm512_shuffle_i32x4(s0, s2, 0x88), _mm512_shuffle_i32x4(s0, s2, 0xDD),
                                 _mm512_shuffle_i32x4(s1, s3, 0x88), _mm512_shuffle_i32x4(s1, s3, 0xDD)};
        for (int lane = 0; lane < 4; ++lane) {
            const size_t at = 64 * size_t(4 * lane + q);
            const __m512i data = _mm512_loadu_si512(src + at);
            _mm512_storeu_si512(out + at, _mm512_xor_si512(data, rows[lane]));
        }
    }
}
#pragma GCC diagnostic pop
#endif

} // namespace

void ChaCha20Block(const uint32_t state[16], uint8_t out[64]) {
    uint32_t x[16];
    std::memcpy(x, state, sizeof(x));
    for (int round = 0; round < 10; ++round) {
        VARNELLO_QR(x[0], x[4], x[8], x[12]);
        VARNELLO_QR(x[1], x[5], x[9], x[13]);
        VARNELLO_QR(x[2], x[6], x[10], x[14]);
        VARNELLO_QR(x[3], x[7], x[11], x[15]);
        VARNELLO_QR(x[0], x[5], x[10], x[15]);
        VARNELLO_QR(x[1], x[6], x[11], x[12]);
        VARNELLO_QR(x[2], x[7], x[8], x[13]);
        VARNELLO_QR(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) StoreLe32(out + 4 * i, x[i] + state[i]);
    SecureWipe(x, sizeof(x));
}

TChaCha20::~TChaCha20() {
    SecureWipe(FState, sizeof(FState));
    SecureWipe(FLeftover, sizeof(FLeftover));
}

void TChaCha20::SetKey(const uint8_t key[KeySize]) {
    // "expand 32-byte k"
    FState[0] = 0x61707865;
    FState[1] = 0x3320646e;
    FState[2] = 0x79622d32;
    FState[3] = 0x6b206574;
    for (int i = 0; i < 8; ++i) FState[4 + i] = LoadLe32(key + 4 * i);
    FLeftoverPos = BlockSize;
}

void TChaCha20::SetNonce96(const uint8_t nonce[12], uint32_t counter) {
    FCounter64 = false;
    FState[12] = counter;
    for (int i = 0; i < 3; ++i) FState[13 + i] = LoadLe32(nonce + 4 * i);
    FLeftoverPos = BlockSize;
}

void TChaCha20::SetNonce64(const uint8_t nonce[8], uint64_t counter) {
    FCounter64 = true;
    FState[12] = uint32_t(counter);
    FState[13] = uint32_t(counter >> 32);
    FState[14] = LoadLe32(nonce);
    FState[15] = LoadLe32(nonce + 4);
    FLeftoverPos = BlockSize;
}

void TChaCha20::Advance(uint64_t blocks) {
    if (FCounter64) {
        const uint64_t c = ((uint64_t(FState[13]) << 32) | FState[12]) + blocks;
        FState[12] = uint32_t(c);
        FState[13] = uint32_t(c >> 32);
    } else {
        FState[12] += uint32_t(blocks);
    }
}

void TChaCha20::NextBlocks(uint8_t* out, size_t blocks) {
    for (; blocks > 0; --blocks, out += BlockSize) {
        ChaCha20Block(FState, out);
        Advance(1);
    }
}

void TChaCha20::Crypt(const uint8_t* in, uint8_t* out, size_t len) {
    if (FLeftoverPos < BlockSize && len > 0) {
        const size_t take = len < BlockSize - FLeftoverPos ? len : BlockSize - FLeftoverPos;
        for (size_t i = 0; i < take; ++i) out[i] = in[i] ^ FLeftover[FLeftoverPos + i];
        FLeftoverPos += take;
        in += take;
        out += take;
        len -= take;
    }
#ifdef VARNELLO_CHACHA_AVX2
    if (HaveAvx512()) {
        for (; len >= 16 * BlockSize; len -= 16 * BlockSize, in += 16 * BlockSize, out += 16 * BlockSize) {
            Blocks16Avx512(FState, FCounter64, in, out);
            Advance(16);
        }
    }
    if (HaveAvx2()) {
        for (; len >= 8 * BlockSize; len -= 8 * BlockSize, in += 8 * BlockSize, out += 8 * BlockSize) {
            Blocks8Avx2(FState, FCounter64, in, out);
            Advance(8);
        }
    }
#endif
    uint8_t ks[BlockSize];
    for (; len >= BlockSize; len -= BlockSize, in += BlockSize, out += BlockSize) {
        NextBlocks(ks, 1);
        for (size_t i = 0; i < BlockSize; ++i) out[i] = in[i] ^ ks[i];
    }
    if (len > 0) {
        NextBlocks(FLeftover, 1);
        for (size_t i = 0; i < len; ++i) out[i] = in[i] ^ FLeftover[i];
        FLeftoverPos = len;
    }
    SecureWipe(ks, sizeof(ks));
}

void TChaCha20::Keystream(uint8_t* out, size_t len) {
    std::memset(out, 0, len);
    Crypt(out, out, len);
}

} // namespace Varnello::Crypto
