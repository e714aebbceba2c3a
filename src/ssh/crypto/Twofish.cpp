// Twofish: the fixed permutations q0 and q1 are built at compile time from their 4-bit tables,
// the MDS and RS multiplications are done in their own fields, and the data path is word-wise.
#include "ssh/crypto/Twofish.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/CipherError.h"

#include <cstring>

namespace Varnello::Crypto {

namespace {

constexpr uint8_t QT[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}}};

struct TQ {
    uint8_t Q[2][256] = {};
};

constexpr TQ MakeQ() {
    TQ q;
    for (int which = 0; which < 2; ++which) {
        const auto& t = QT[which];
        for (int x = 0; x < 256; ++x) {
            auto ror4 = [](int v) { return ((v >> 1) | (v << 3)) & 15; };
            int a0 = x >> 4, b0 = x & 15;
            int a1 = a0 ^ b0, b1 = (a0 ^ ror4(b0) ^ (8 * a0)) & 15;
            int a2 = t[0][a1], b2 = t[1][b1];
            int a3 = a2 ^ b2, b3 = (a2 ^ ror4(b2) ^ (8 * a2)) & 15;
            int a4 = t[2][a3], b4 = t[3][b3];
            q.Q[which][x] = static_cast<uint8_t>(16 * b4 + a4);
        }
    }
    return q;
}

constexpr TQ GQ = MakeQ();
constexpr const uint8_t* Q0 = GQ.Q[0];
constexpr const uint8_t* Q1 = GQ.Q[1];
static_assert(GQ.Q[0][0] == 0xA9 && GQ.Q[1][0] == 0x75);

constexpr uint8_t GfMul(uint8_t a, uint8_t b, unsigned poly) {
    unsigned r = 0, x = a;
    while (b) {
        if (b & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= poly;
        b >>= 1;
    }
    return static_cast<uint8_t>(r);
}

constexpr uint8_t Mds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
constexpr uint8_t Rs[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                              {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                              {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                              {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};

// Column `col` of the MDS matrix times byte y, as a little-endian word.
inline uint32_t MdsColumn(int col, uint8_t y) {
    uint32_t w = 0;
    for (int row = 0; row < 4; ++row) w |= uint32_t(GfMul(Mds[row][col], y, 0x169)) << (8 * row);
    return w;
}

inline uint8_t Byte(uint32_t w, int i) {
    return static_cast<uint8_t>(w >> (8 * i));
}
inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}
inline uint32_t Ror(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

// The key-dependent permutation of h for byte position i, before the MDS step; l[] holds k words.
inline uint8_t HByte(int i, uint8_t y, const uint32_t* l, int k) {
    // Which q each stage applies, per byte position, from the outermost stage inwards.
    static constexpr bool Q4[4] = {true, false, false, true};  // q1 q0 q0 q1
    static constexpr bool Q3[4] = {true, true, false, false};  // q1 q1 q0 q0
    static constexpr bool Q2[4] = {false, true, false, true};  // q0 q1 q0 q1
    static constexpr bool Q1s[4] = {false, false, true, true}; // q0 q0 q1 q1
    static constexpr bool Q0s[4] = {true, false, true, false}; // q1 q0 q1 q0
    auto q = [](bool one, uint8_t v) { return one ? Q1[v] : Q0[v]; };
    if (k == 4) y = q(Q4[i], y) ^ Byte(l[3], i);
    if (k >= 3) y = q(Q3[i], y) ^ Byte(l[2], i);
    y = q(Q2[i], y) ^ Byte(l[1], i);
    y = q(Q1s[i], y) ^ Byte(l[0], i);
    return q(Q0s[i], y);
}

inline uint32_t H(uint32_t x, const uint32_t* l, int k) {
    uint32_t z = 0;
    for (int i = 0; i < 4; ++i) z ^= MdsColumn(i, HByte(i, Byte(x, i), l, k));
    return z;
}

#define G0(k, x) (k.FS[0][Byte(x, 0)] ^ k.FS[1][Byte(x, 1)] ^ k.FS[2][Byte(x, 2)] ^ k.FS[3][Byte(x, 3)])
#define G1(k, x) (k.FS[0][Byte(x, 3)] ^ k.FS[1][Byte(x, 0)] ^ k.FS[2][Byte(x, 1)] ^ k.FS[3][Byte(x, 2)])

[[gnu::always_inline]] inline void Encrypt(const TTwofishKey& k, uint32_t* x) {
    uint32_t r0 = x[0] ^ k.FK[0], r1 = x[1] ^ k.FK[1], r2 = x[2] ^ k.FK[2], r3 = x[3] ^ k.FK[3];
#pragma GCC unroll 8
    for (int r = 0; r < 16; r += 2) {
        uint32_t t0 = G0(k, r0), t1 = G1(k, r1);
        r2 = Ror(r2 ^ (t0 + t1 + k.FK[2 * r + 8]), 1);
        r3 = Rol(r3, 1) ^ (t0 + 2 * t1 + k.FK[2 * r + 9]);
        t0 = G0(k, r2);
        t1 = G1(k, r3);
        r0 = Ror(r0 ^ (t0 + t1 + k.FK[2 * r + 10]), 1);
        r1 = Rol(r1, 1) ^ (t0 + 2 * t1 + k.FK[2 * r + 11]);
    }
    x[0] = r2 ^ k.FK[4];
    x[1] = r3 ^ k.FK[5];
    x[2] = r0 ^ k.FK[6];
    x[3] = r1 ^ k.FK[7];
}

[[gnu::always_inline]] inline void Decrypt(const TTwofishKey& k, uint32_t* x) {
    uint32_t r2 = x[0] ^ k.FK[4], r3 = x[1] ^ k.FK[5], r0 = x[2] ^ k.FK[6], r1 = x[3] ^ k.FK[7];
#pragma GCC unroll 8
    for (int r = 14; r >= 0; r -= 2) {
        uint32_t t0 = G0(k, r2), t1 = G1(k, r3);
        r0 = Rol(r0, 1) ^ (t0 + t1 + k.FK[2 * r + 10]);
        r1 = Ror(r1 ^ (t0 + 2 * t1 + k.FK[2 * r + 11]), 1);
        t0 = G0(k, r0);
        t1 = G1(k, r1);
        r2 = Rol(r2, 1) ^ (t0 + t1 + k.FK[2 * r + 8]);
        r3 = Ror(r3 ^ (t0 + 2 * t1 + k.FK[2 * r + 9]), 1);
    }
    x[0] = r0 ^ k.FK[0];
    x[1] = r1 ^ k.FK[1];
    x[2] = r2 ^ k.FK[2];
    x[3] = r3 ^ k.FK[3];
}

#undef G0
#undef G1

} // namespace

TTwofishKey::~TTwofishKey() {
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(this);
    for (size_t i = 0; i < sizeof(*this); ++i) p[i] = 0;
}

void TTwofishKey::SetKey(const uint8_t* key, size_t len) {
    if (len != 16 && len != 24 && len != 32) throw ENvCipherError("Invalid Twofish key length");
    const int k = static_cast<int>(len / 8);
    uint32_t me[4], mo[4], s[4];
    for (int i = 0; i < k; ++i) {
        me[i] = LoadLe32(key + 8 * i);
        mo[i] = LoadLe32(key + 8 * i + 4);
        // S words come from the RS code over each 8-byte group, and are used in reverse order.
        uint32_t w = 0;
        for (int row = 0; row < 4; ++row) {
            uint8_t acc = 0;
            for (int col = 0; col < 8; ++col) acc ^= GfMul(Rs[row][col], key[8 * i + col], 0x14D);
            w |= uint32_t(acc) << (8 * row);
        }
        s[k - 1 - i] = w;
    }
    constexpr uint32_t rho = 0x01010101;
    for (int i = 0; i < 20; ++i) {
        const uint32_t a = H(2 * i * rho, me, k);
        const uint32_t b = Rol(H((2 * i + 1) * rho, mo, k), 8);
        FK[2 * i] = a + b;
        FK[2 * i + 1] = Rol(a + 2 * b, 9);
    }
    for (int pos = 0; pos < 4; ++pos)
        for (int x = 0; x < 256; ++x) FS[pos][x] = MdsColumn(pos, HByte(pos, static_cast<uint8_t>(x), s, k));
    volatile uint32_t* p = s;
    for (int i = 0; i < 4; ++i) p[i] = me[i] = mo[i] = 0;
}

void TwofishEncryptBlock(const TTwofishKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t x[4] = {LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8), LoadLe32(in + 12)};
    Encrypt(key, x);
    for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, x[i]);
}

void TwofishDecryptBlock(const TTwofishKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t x[4] = {LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8), LoadLe32(in + 12)};
    Decrypt(key, x);
    for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, x[i]);
}

void TwofishCbcEncrypt(const TTwofishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t x[4] = {LoadLe32(iv), LoadLe32(iv + 4), LoadLe32(iv + 8), LoadLe32(iv + 12)};
    for (; blocks; --blocks, in += 16, out += 16) {
        for (int i = 0; i < 4; ++i) x[i] ^= LoadLe32(in + 4 * i);
        Encrypt(key, x);
        for (int i = 0; i < 4; ++i) StoreLe32(out + 4 * i, x[i]);
    }
    for (int i = 0; i < 4; ++i) StoreLe32(iv + 4 * i, x[i]);
}

void TwofishCbcDecrypt(const TTwofishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t p[4] = {LoadLe32(iv), LoadLe32(iv + 4), LoadLe32(iv + 8), LoadLe32(iv + 12)};
    for (; blocks; --blocks, in += 16, out += 16) {
        uint32_t c[4] = {LoadLe32(in), LoadLe32(in + 4), LoadLe32(in + 8), LoadLe32(in + 12)};
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
