// DES with combined S-box/permutation tables built at compile time from the standard's tables.
//
// After the initial permutation the halves are 32-bit words with DES bit 1 as the most significant
// bit. The expansion is folded into the lookups: R rotated right by 1 holds the 6-bit inputs of
// S-boxes 1, 3, 5, 7 at bit 26, 18, 10, 2, and rotated by 5 those of S-boxes 8, 2, 4, 6 at the same
// places, so each round is two XORs with the pre-split round key and eight table lookups.
// The initial and final permutations are done with five masked swaps each.
#include "ssh/crypto/Des.h"
#include "ssh/crypto/ByteOrder.h"

#include <cstring>

namespace Varnello::Crypto {

namespace {

constexpr uint8_t PC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                             35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                             46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t PC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                             26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                             51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t Shifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr uint8_t P[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                           2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t SBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// A typo in a transcribed S-box would go unnoticed by most inputs; every row must be a permutation.
constexpr bool SBoxRowsArePermutations() {
    for (const auto& box : SBox) {
        for (int row = 0; row < 4; ++row) {
            unsigned seen = 0;
            for (int c = 0; c < 16; ++c) seen |= 1u << box[16 * row + c];
            if (seen != 0xffff) return false;
        }
    }
    return true;
}
static_assert(SBoxRowsArePermutations());

struct TSpTables {
    uint32_t Sp[8][64] = {};
};

constexpr TSpTables MakeSp() {
    TSpTables t;
    for (int box = 0; box < 8; ++box) {
        for (int v = 0; v < 64; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int col = (v >> 1) & 15;
            const uint32_t pre = uint32_t(SBox[box][16 * row + col]) << (28 - 4 * box);
            uint32_t out = 0;
            for (int j = 0; j < 32; ++j)
                if (pre & (1u << (32 - P[j]))) out |= 1u << (31 - j);
            t.Sp[box][v] = out;
        }
    }
    return t;
}

constexpr TSpTables GSp = MakeSp();

inline uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

#define DES_PERM(a, b, n, m)                                                                                 \
    do {                                                                                                     \
        const uint32_t t_ = (((a) >> (n)) ^ (b)) & (m);                                                      \
        (b) ^= t_;                                                                                           \
        (a) ^= t_ << (n);                                                                                    \
    } while (0)

inline void InitialPerm(uint32_t& l, uint32_t& r) {
    DES_PERM(l, r, 4, 0x0f0f0f0fu);
    DES_PERM(l, r, 16, 0x0000ffffu);
    DES_PERM(r, l, 2, 0x33333333u);
    DES_PERM(r, l, 8, 0x00ff00ffu);
    DES_PERM(l, r, 1, 0x55555555u);
}

// Each masked swap is its own inverse, so the final permutation runs them backwards.
inline void FinalPerm(uint32_t& l, uint32_t& r) {
    DES_PERM(l, r, 1, 0x55555555u);
    DES_PERM(r, l, 8, 0x00ff00ffu);
    DES_PERM(r, l, 2, 0x33333333u);
    DES_PERM(l, r, 16, 0x0000ffffu);
    DES_PERM(l, r, 4, 0x0f0f0f0fu);
}

#undef DES_PERM

[[gnu::always_inline]] inline uint32_t F(uint32_t r, const uint32_t* k) {
    const uint32_t t = Rotr(r, 1) ^ k[0];
    const uint32_t u = Rotr(r, 5) ^ k[1];
    const auto& S = GSp.Sp;
    return S[0][(t >> 26) & 63] ^ S[2][(t >> 18) & 63] ^ S[4][(t >> 10) & 63] ^ S[6][(t >> 2) & 63] ^
           S[7][(u >> 26) & 63] ^ S[1][(u >> 18) & 63] ^ S[3][(u >> 10) & 63] ^ S[5][(u >> 2) & 63];
}

// Sixteen rounds on IP-ordered halves, ending with the halves swapped back.
template <bool Decrypt>
[[gnu::always_inline]] inline void Rounds(const uint32_t* sub, uint32_t& l, uint32_t& r) {
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2) {
        const int a = Decrypt ? 15 - i : i, b = Decrypt ? 14 - i : i + 1;
        l ^= F(r, sub + 2 * a);
        r ^= F(l, sub + 2 * b);
    }
    const uint32_t t = l;
    l = r;
    r = t;
}

[[gnu::always_inline]] inline void Crypt(const TDesKey& key, uint32_t& l, uint32_t& r, bool decrypt) {
    InitialPerm(l, r);
    if (decrypt)
        Rounds<true>(key.FSub, l, r);
    else
        Rounds<false>(key.FSub, l, r);
    FinalPerm(l, r);
}

// EDE (or its inverse) with one initial and one final permutation: the inner ones cancel.
[[gnu::always_inline]] inline void Crypt3(const TDes3Key& key, uint32_t& l, uint32_t& r, bool decrypt) {
    InitialPerm(l, r);
    if (!decrypt) {
        Rounds<false>(key.K1.FSub, l, r);
        Rounds<true>(key.K2.FSub, l, r);
        Rounds<false>(key.K3.FSub, l, r);
    } else {
        Rounds<true>(key.K3.FSub, l, r);
        Rounds<false>(key.K2.FSub, l, r);
        Rounds<true>(key.K1.FSub, l, r);
    }
    FinalPerm(l, r);
}

template <typename TCrypt>
void CbcEncrypt(TCrypt crypt, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t l = LoadBe32(iv), r = LoadBe32(iv + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        l ^= LoadBe32(in);
        r ^= LoadBe32(in + 4);
        crypt(l, r);
        StoreBe32(out, l);
        StoreBe32(out + 4, r);
    }
    StoreBe32(iv, l);
    StoreBe32(iv + 4, r);
}

template <typename TCrypt>
void CbcDecrypt(TCrypt crypt, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t pl = LoadBe32(iv), pr = LoadBe32(iv + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        const uint32_t cl = LoadBe32(in), cr = LoadBe32(in + 4);
        uint32_t l = cl, r = cr;
        crypt(l, r);
        StoreBe32(out, l ^ pl);
        StoreBe32(out + 4, r ^ pr);
        pl = cl;
        pr = cr;
    }
    StoreBe32(iv, pl);
    StoreBe32(iv + 4, pr);
}

} // namespace

TDesKey::~TDesKey() {
    volatile uint32_t* p = FSub;
    for (int i = 0; i < 32; ++i) p[i] = 0;
}

void TDesKey::SetKey(const uint8_t* key) {
    auto keyBit = [key](int n) { return (key[(n - 1) / 8] >> (7 - (n - 1) % 8)) & 1; }; // n is 1-based
    uint8_t cd[56];
    for (int i = 0; i < 56; ++i) cd[i] = static_cast<uint8_t>(keyBit(PC1[i]));
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < Shifts[round]; ++s) {
            const uint8_t c0 = cd[0], d0 = cd[28];
            std::memmove(cd, cd + 1, 27);
            cd[27] = c0;
            std::memmove(cd + 28, cd + 29, 27);
            cd[55] = d0;
        }
        uint32_t group[8] = {};
        for (int i = 0; i < 48; ++i) group[i / 6] = (group[i / 6] << 1) | cd[PC2[i] - 1];
        FSub[2 * round] = (group[0] << 26) | (group[2] << 18) | (group[4] << 10) | (group[6] << 2);
        FSub[2 * round + 1] = (group[7] << 26) | (group[1] << 18) | (group[3] << 10) | (group[5] << 2);
    }
    volatile uint8_t* p = cd;
    for (int i = 0; i < 56; ++i) p[i] = 0;
}

void TDes3Key::SetKey(const uint8_t* key24) {
    K1.SetKey(key24);
    K2.SetKey(key24 + 8);
    K3.SetKey(key24 + 16);
}

void DesEncryptBlock(const TDesKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Crypt(key, l, r, false);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void DesDecryptBlock(const TDesKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Crypt(key, l, r, true);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void DesCbcEncrypt(const TDesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    CbcEncrypt([&key](uint32_t& l, uint32_t& r) { Crypt(key, l, r, false); }, iv, in, out, blocks);
}

void DesCbcDecrypt(const TDesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    CbcDecrypt([&key](uint32_t& l, uint32_t& r) { Crypt(key, l, r, true); }, iv, in, out, blocks);
}

void Des3EncryptBlock(const TDes3Key& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Crypt3(key, l, r, false);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void Des3DecryptBlock(const TDes3Key& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Crypt3(key, l, r, true);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void Des3CbcEncrypt(const TDes3Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    CbcEncrypt([&key](uint32_t& l, uint32_t& r) { Crypt3(key, l, r, false); }, iv, in, out, blocks);
}

void Des3CbcDecrypt(const TDes3Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    CbcDecrypt([&key](uint32_t& l, uint32_t& r) { Crypt3(key, l, r, true); }, iv, in, out, blocks);
}

} // namespace Varnello::Crypto
