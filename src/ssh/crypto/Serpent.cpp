// Serpent in bitslice form: 32 four-bit S-box applications per round run as word-wide Boolean
// operations. Each S-box is evaluated from its algebraic normal form, which is derived from the
// published 16-entry tables at compile time; the compiler keeps only the monomials that occur.
#include "ssh/crypto/Serpent.h"

#include "ssh/crypto/CipherError.h"

#include <cstring>
#include <utility>

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
        }
    }
    return anf;
}

constexpr TAnf GAnf = MakeAnf();

template <int Box> inline void Sbox(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    uint32_t m[16];
    m[0] = ~0u;
    m[1] = x0;
    m[2] = x1;
    m[3] = x0 & x1;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) m[4 + i] = m[i] & x2;
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) m[8 + i] = m[i] & x3;
    uint32_t y[4] = {0, 0, 0, 0};
#pragma GCC unroll 4
    for (int bit = 0; bit < 4; ++bit) {
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i)
            if ((GAnf.Coef[Box][bit] >> i) & 1) y[bit] ^= m[i];
    }
    x0 = y[0];
    x1 = y[1];
    x2 = y[2];
    x3 = y[3];
}

inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
inline uint32_t Ror(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

inline void Lt(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
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

inline void InvLt(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
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

inline void KeyXor(const uint32_t* k, uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    x0 ^= k[0];
    x1 ^= k[1];
    x2 ^= k[2];
    x3 ^= k[3];
}

template <int R>
inline void EncRound(const TSerpentKey& key, uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
    KeyXor(key.FK[R], a, b, c, d);
    Sbox<R % 8>(a, b, c, d);
    if constexpr (R < 31)
        Lt(a, b, c, d);
    else
        KeyXor(key.FK[32], a, b, c, d);
}

template <int R>
inline void DecRound(const TSerpentKey& key, uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
    if constexpr (R < 31)
        InvLt(a, b, c, d);
    else
        KeyXor(key.FK[32], a, b, c, d);
    Sbox<8 + R % 8>(a, b, c, d);
    KeyXor(key.FK[R], a, b, c, d);
}

template <int... R>
inline void EncAll(const TSerpentKey& key, uint32_t* x, std::integer_sequence<int, R...>) {
    (EncRound<R>(key, x[0], x[1], x[2], x[3]), ...);
}
template <int... R>
inline void DecAll(const TSerpentKey& key, uint32_t* x, std::integer_sequence<int, R...>) {
    (DecRound<31 - R>(key, x[0], x[1], x[2], x[3]), ...);
}

inline void Encrypt(const TSerpentKey& key, uint32_t* x) {
    EncAll(key, x, std::make_integer_sequence<int, 32>());
}
inline void Decrypt(const TSerpentKey& key, uint32_t* x) {
    DecAll(key, x, std::make_integer_sequence<int, 32>());
}

inline uint32_t Load32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
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
    for (int i = 0; i < 8; ++i) w[i] = Load32(padded + 4 * i);
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
    uint32_t x[4] = {Load32(in), Load32(in + 4), Load32(in + 8), Load32(in + 12)};
    Encrypt(key, x);
    for (int i = 0; i < 4; ++i) Store32(out + 4 * i, x[i]);
}

void SerpentDecryptBlock(const TSerpentKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t x[4] = {Load32(in), Load32(in + 4), Load32(in + 8), Load32(in + 12)};
    Decrypt(key, x);
    for (int i = 0; i < 4; ++i) Store32(out + 4 * i, x[i]);
}

void SerpentCbcEncrypt(const TSerpentKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t x[4] = {Load32(iv), Load32(iv + 4), Load32(iv + 8), Load32(iv + 12)};
    for (; blocks; --blocks, in += 16, out += 16) {
        for (int i = 0; i < 4; ++i) x[i] ^= Load32(in + 4 * i);
        Encrypt(key, x);
        for (int i = 0; i < 4; ++i) Store32(out + 4 * i, x[i]);
    }
    for (int i = 0; i < 4; ++i) Store32(iv + 4 * i, x[i]);
}

void SerpentCbcDecrypt(const TSerpentKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t p[4] = {Load32(iv), Load32(iv + 4), Load32(iv + 8), Load32(iv + 12)};
    for (; blocks; --blocks, in += 16, out += 16) {
        const uint32_t c[4] = {Load32(in), Load32(in + 4), Load32(in + 8), Load32(in + 12)};
        uint32_t x[4] = {c[0], c[1], c[2], c[3]};
        Decrypt(key, x);
        for (int i = 0; i < 4; ++i) {
            Store32(out + 4 * i, x[i] ^ p[i]);
            p[i] = c[i];
        }
    }
    for (int i = 0; i < 4; ++i) Store32(iv + 4 * i, p[i]);
}

} // namespace Varnello::Crypto
