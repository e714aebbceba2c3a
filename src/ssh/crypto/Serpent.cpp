// Serpent in bitslice form: 32 four-bit S-box applications per round run as word-wide Boolean
// operations. Each S-box is evaluated from its algebraic normal form, which is derived from the
// published 16-entry tables at compile time; the compiler keeps only the monomials that occur.
// The round code is generic over the word type, so CBC decryption, whose blocks are independent,
// runs eight blocks at once in vector lanes.
#include "ssh/crypto/Serpent.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/CpuFeatures.h"

#include <cstring>
#include <utility>

// The bitslice code is already word-parallel; letting the compiler pack its scalar words into
// vector registers costs a shuffle per operation and ran several times slower.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-vectorize")
#endif
// The eight-lane type is passed only between always-inlined helpers, so the ABI note is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace Varnello::Crypto {

namespace {

constexpr uint8_t SBox[8][16] = {
    {3, 8, 15, 1, 10, 6, 5, 11, 14, 13, 4, 2, 7, 0, 9, 12},
    {15, 12, 2, 7, 9, 0, 5, 10, 1, 11, 14, 8, 6, 13, 3, 4},
    {8, 6, 7, 9, 3, 12, 10, 15, 13, 1, 14, 4, 0, 11, 5, 2},
    {0, 15, 11, 8, 12, 9, 6, 3, 13, 1, 2, 4, 10, 7, 5, 14},
    {1, 15, 8, 3, 12, 0, 11, 6, 2, 5, 4, 10, 9, 14, 7, 13},
    {15, 5, 2, 11, 4, 10, 9, 12, 0, 3, 14, 8, 13, 6, 7, 1},
    {7, 2, 12, 5, 8, 4, 6, 11, 14, 9, 1, 15, 13, 3, 10, 0},
    {1, 13, 15, 0, 14, 8, 2, 11, 7, 4, 12, 10, 9, 3, 5, 6},
};

// ANF of each output bit: bit m of Coef[box][out] says whether monomial m (a product of the inputs
// whose bits are set in m) occurs. Boxes 8..15 are the inverses of 0..7.
struct TAnf {
    uint16_t Coef[16][4] = {};
    // The monomials of each output split alternately in two, so each output is the XOR of two
    // half-length chains: the rounds are serial in CBC encryption, so depth sets the speed.
    uint16_t Even[16][4] = {};
    uint16_t Odd[16][4] = {};
};

constexpr TAnf MakeAnf() {
    TAnf anf;
    for (int box = 0; box < 16; ++box) {
        uint8_t table[16] = {};
        for (int x = 0; x < 16; ++x) {
            if (box < 8)
                table[x] = SBox[box][x];
            else
                table[SBox[box - 8][x]] = static_cast<uint8_t>(x);
        }
        for (int bit = 0; bit < 4; ++bit) {
            uint8_t f[16] = {};
            for (int x = 0; x < 16; ++x) f[x] = (table[x] >> bit) & 1;
            // Moebius transform: truth table to ANF coefficients.
            for (int step = 1; step < 16; step <<= 1)
                for (int x = 0; x < 16; ++x)
                    if (x & step) f[x] ^= f[x ^ step];
            uint16_t c = 0;
            for (int m = 0; m < 16; ++m) c |= static_cast<uint16_t>(f[m] << m);
            anf.Coef[box][bit] = c;
            int n = 0;
            for (int m = 0; m < 16; ++m) {
                if (!((c >> m) & 1)) continue;
                if (n++ & 1)
                    anf.Odd[box][bit] |= static_cast<uint16_t>(1u << m);
                else
                    anf.Even[box][bit] |= static_cast<uint16_t>(1u << m);
            }
        }
    }
    return anf;
}

constexpr TAnf GAnf = MakeAnf();

template <typename W, uint16_t Mask, size_t... I>
[[gnu::always_inline]] inline W XorOf(const W* m, std::index_sequence<I...>) {
    return (W{} ^ ... ^ (((Mask >> I) & 1) ? m[I] : W{}));
}

template <int Box, typename W> [[gnu::always_inline]] inline void Sbox(W& x0, W& x1, W& x2, W& x3) {
    W m[16];
    m[0] = ~W{};
    m[1] = x0;
    m[2] = x1;
    m[3] = x0 & x1;
    m[4] = x2;
    m[5] = x0 & x2;
    m[6] = x1 & x2;
    m[7] = m[3] & x2;
    m[8] = x3;
    m[9] = x0 & x3;
    m[10] = x1 & x3;
    m[11] = m[3] & x3;
    m[12] = x2 & x3;
    m[13] = m[5] & x3;
    m[14] = m[6] & x3;
    m[15] = m[7] & x3;
    constexpr auto seq = std::make_index_sequence<16>();
    x0 = XorOf<W, GAnf.Even[Box][0]>(m, seq) ^ XorOf<W, GAnf.Odd[Box][0]>(m, seq);
    x1 = XorOf<W, GAnf.Even[Box][1]>(m, seq) ^ XorOf<W, GAnf.Odd[Box][1]>(m, seq);
    x2 = XorOf<W, GAnf.Even[Box][2]>(m, seq) ^ XorOf<W, GAnf.Odd[Box][2]>(m, seq);
    x3 = XorOf<W, GAnf.Even[Box][3]>(m, seq) ^ XorOf<W, GAnf.Odd[Box][3]>(m, seq);
}

template <typename W> [[gnu::always_inline]] inline W Rol(W x, int n) {
    return (x << n) | (x >> (32 - n));
}
template <typename W> [[gnu::always_inline]] inline W Ror(W x, int n) {
    return (x >> n) | (x << (32 - n));
}

template <typename W> [[gnu::always_inline]] inline void Lt(W& x0, W& x1, W& x2, W& x3) {
    x0 = Rol(x0, 13);
    x2 = Rol(x2, 3);
    x1 ^= x0 ^ x2;
    x3 ^= x2 ^ (x0 << 3);
    x1 = Rol(x1, 1);
    x3 = Rol(x3, 7);
    x0 ^= x1 ^ x3;
    x2 ^= x3 ^ (x1 << 7);
    x0 = Rol(x0, 5);
    x2 = Rol(x2, 22);
}

template <typename W> [[gnu::always_inline]] inline void InvLt(W& x0, W& x1, W& x2, W& x3) {
    x2 = Ror(x2, 22);
    x0 = Ror(x0, 5);
    x2 ^= x3 ^ (x1 << 7);
    x0 ^= x1 ^ x3;
    x3 = Ror(x3, 7);
    x1 = Ror(x1, 1);
    x3 ^= x2 ^ (x0 << 3);
    x1 ^= x0 ^ x2;
    x2 = Ror(x2, 3);
    x0 = Ror(x0, 13);
}

template <typename W>
[[gnu::always_inline]] inline void KeyXor(const uint32_t* k, W& x0, W& x1, W& x2, W& x3) {
    x0 ^= k[0];
    x1 ^= k[1];
    x2 ^= k[2];
    x3 ^= k[3];
}

template <int R, typename W>
[[gnu::always_inline]] inline void EncRound(const TSerpentKey& key, W& a, W& b, W& c, W& d) {
    KeyXor(key.FK[R], a, b, c, d);
    Sbox<R % 8>(a, b, c, d);
    if constexpr (R < 31)
        Lt(a, b, c, d);
    else
        KeyXor(key.FK[32], a, b, c, d);
}

template <int R, typename W>
[[gnu::always_inline]] inline void DecRound(const TSerpentKey& key, W& a, W& b, W& c, W& d) {
    if constexpr (R < 31)
        InvLt(a, b, c, d);
    else
        KeyXor(key.FK[32], a, b, c, d);
    Sbox<8 + R % 8>(a, b, c, d);
    KeyXor(key.FK[R], a, b, c, d);
}

template <typename W, int... R>
[[gnu::always_inline]] inline void EncAll(const TSerpentKey& key, W& a, W& b, W& c, W& d,
                                          std::integer_sequence<int, R...>) {
    (EncRound<R>(key, a, b, c, d), ...);
}
template <typename W, int... R>
[[gnu::always_inline]] inline void DecAll(const TSerpentKey& key, W& a, W& b, W& c, W& d,
                                          std::integer_sequence<int, R...>) {
    (DecRound<31 - R>(key, a, b, c, d), ...);
}

// Out of line: one copy of the 32 unrolled rounds per word type.
template <typename W> [[gnu::noinline]] void Encrypt(const TSerpentKey& key, W* x) {
    W a = x[0], b = x[1], c = x[2], d = x[3];
    EncAll(key, a, b, c, d, std::make_integer_sequence<int, 32>());
    x[0] = a;
    x[1] = b;
    x[2] = c;
    x[3] = d;
}
template <typename W> [[gnu::noinline]] void Decrypt(const TSerpentKey& key, W* x) {
    W a = x[0], b = x[1], c = x[2], d = x[3];
    DecAll(key, a, b, c, d, std::make_integer_sequence<int, 32>());
    x[0] = a;
    x[1] = b;
    x[2] = c;
    x[3] = d;
}

template <int... B> void ApplyKeySboxes(uint32_t (*k)[4], std::integer_sequence<int, B...>) {
    // Subkey i goes through S-box (3 - i) mod 8.
    ((Sbox<(3 - B % 8 + 8) % 8>(k[B][0], k[B][1], k[B][2], k[B][3])), ...);
}

} // namespace

TSerpentKey::~TSerpentKey() {
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(this);
    for (size_t i = 0; i < sizeof(*this); ++i) p[i] = 0;
}

void TSerpentKey::SetKey(const uint8_t* key, size_t len) {
    if (len != 16 && len != 24 && len != 32) throw ENvCipherError("Invalid Serpent key length");
    // Short keys are padded to 256 bits with a single 1 bit followed by zeros.
    uint8_t padded[32] = {};
    std::memcpy(padded, key, len);
    if (len < 32) padded[len] = 1;
    uint32_t w[140];
    for (int i = 0; i < 8; ++i) w[i] = LoadLe32(padded + 4 * i);
    for (int i = 0; i < 132; ++i)
        w[i + 8] = Rol(w[i] ^ w[i + 3] ^ w[i + 5] ^ w[i + 7] ^ 0x9e3779b9u ^ static_cast<uint32_t>(i), 11);
    std::memcpy(FK, w + 8, sizeof(FK));
    ApplyKeySboxes(FK, std::make_integer_sequence<int, 33>());
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(w);
    for (size_t i = 0; i < sizeof(w); ++i) p[i] = 0;
    volatile uint8_t* q = padded;
    for (int i = 0; i < 32; ++i) q[i] = 0;
}

void SerpentEncryptBlock(const TSerpentKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t x[4] = {LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8), LoadLe32(in + 12)};
    Encrypt(key, x);
    for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, x[i]);
}

void SerpentDecryptBlock(const TSerpentKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t x[4] = {LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8), LoadLe32(in + 12)};
    Decrypt(key, x);
    for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, x[i]);
}

void SerpentCbcEncrypt(const TSerpentKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t x[4] = {LoadLe32(iv), LoadLe32(iv + 4), LoadLe32(iv + 8), LoadLe32(iv + 12)};
    for (; blocks; --blocks, in += 16, out += 16) {
        for (int i = 0; i < 4; ++i) x[i] ^= LoadLe32(in + 4 * i);
        Encrypt(key, x);
        for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, x[i]);
    }
    for (int i = 0; i < 4; ++i) StoreLe32(iv + 4 * i, x[i]);
}

namespace {

// Eight independent blocks side by side: lane i of word vector k is word k of block i. GCC's
// vector extension keeps this portable; with AVX2 the same code runs on full 256-bit registers.
typedef uint32_t TLanes8 __attribute__((vector_size(32)));

template <typename TDec>
void CbcDecryptWide(const TSerpentKey& key, uint8_t* iv, const uint8_t*& in, uint8_t*& out, size_t& blocks,
                    TDec decrypt8) {
    while (blocks >= 8) {
        TLanes8 x[4];
        for (int b = 0; b < 8; ++b)
            for (int k = 0; k < 4; ++k) x[k][b] = LoadLe32(in + 16 * b + 4 * k);
        decrypt8(key, x);
        uint8_t lastCipher[16];
        std::memcpy(lastCipher, in + 112, 16);
        // Blocks are chained to the previous ciphertext, read before any output is written.
        uint32_t prev[8][4];
        for (int k = 0; k < 4; ++k) prev[0][k] = LoadLe32(iv + 4 * k);
        for (int b = 1; b < 8; ++b)
            for (int k = 0; k < 4; ++k) prev[b][k] = LoadLe32(in + 16 * (b - 1) + 4 * k);
        for (int b = 0; b < 8; ++b)
            for (int k = 0; k < 4; ++k) StoreLe32(out + 16 * b + 4 * k, x[k][b] ^ prev[b][k]);
        std::memcpy(iv, lastCipher, 16);
        in += 128;
        out += 128;
        blocks -= 8;
    }
}

void Decrypt8Generic(const TSerpentKey& key, TLanes8* x) {
    DecAll(key, x[0], x[1], x[2], x[3], std::make_integer_sequence<int, 32>());
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) void Decrypt8Avx2(const TSerpentKey& key, TLanes8* x) {
    DecAll(key, x[0], x[1], x[2], x[3], std::make_integer_sequence<int, 32>());
}
#endif

} // namespace

void SerpentCbcDecrypt(const TSerpentKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
#if defined(__x86_64__) || defined(__i386__)
    if (HaveAvx2())
        CbcDecryptWide(key, iv, in, out, blocks, Decrypt8Avx2);
    else
        CbcDecryptWide(key, iv, in, out, blocks, Decrypt8Generic);
#else
    CbcDecryptWide(key, iv, in, out, blocks, Decrypt8Generic);
#endif
    uint32_t p[4] = {LoadLe32(iv), LoadLe32(iv + 4), LoadLe32(iv + 8), LoadLe32(iv + 12)};
    for (; blocks; --blocks, in += 16, out += 16) {
        const uint32_t c[4] = {LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8), LoadLe32(in + 12)};
        uint32_t x[4] = {c[0], c[1], c[2], c[3]};
        Decrypt(key, x);
        for (int i = 0; i < 4; ++i) {
            StoreLe32(out + 4 * i, x[i] ^ p[i]);
            p[i] = c[i];
        }
    }
    for (int i = 0; i < 4; ++i) StoreLe32(iv + 4 * i, p[i]);
}

} // namespace Varnello::Crypto
