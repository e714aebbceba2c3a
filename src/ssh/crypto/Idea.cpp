// IDEA: 8.5 rounds of multiplication modulo 65537 (0 stands for 65536), addition modulo 65536
// and XOR on 16-bit words. The multiplication is branch-free in the data.
#include "ssh/crypto/Idea.h"
#include "ssh/crypto/ByteOrder.h"

namespace Varnello::Crypto {

namespace {

inline uint32_t Mul(uint32_t a, uint32_t b) {
    // a, b in [0, 65535], 0 meaning 2^16. With p = a*b: if a*b != 0, result = lo - hi (+1 on borrow);
    // the zero cases fall out of 1 - a - b computed modulo 2^16.
    const uint32_t p = a * b;
    if (p) {
        const uint32_t lo = p & 0xffff, hi = p >> 16;
        return (lo - hi + (lo < hi)) & 0xffff;
    }
    return (1 - a - b) & 0xffff;
}

// Multiplicative inverse modulo 65537 by Fermat (x^(p-2)); 0 and 1 are their own inverses.
uint16_t MulInv(uint16_t x) {
    if (x <= 1) return x;
    uint32_t result = 1, base = x, e = 65535;
    while (e) {
        if (e & 1) result = Mul(result, base);
        base = Mul(base, base);
        e >>= 1;
    }
    return static_cast<uint16_t>(result);
}

inline void Crypt(const uint16_t* k, const uint8_t* in, uint8_t* out) {
    uint32_t x1 = LoadBe16(in), x2 = LoadBe16(in + 2), x3 = LoadBe16(in + 4), x4 = LoadBe16(in + 6);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r, k += 6) {
        x1 = Mul(x1, k[0]);
        x2 = (x2 + k[1]) & 0xffff;
        x3 = (x3 + k[2]) & 0xffff;
        x4 = Mul(x4, k[3]);
        const uint32_t t0 = Mul(x1 ^ x3, k[4]);
        const uint32_t t1 = Mul((t0 + (x2 ^ x4)) & 0xffff, k[5]);
        const uint32_t t2 = (t0 + t1) & 0xffff;
        x1 ^= t1;
        x4 ^= t2;
        const uint32_t a = x2 ^ t2;
        x2 = x3 ^ t1;
        x3 = a;
    }
    StoreBe16(out, Mul(x1, k[0]));
    StoreBe16(out + 2, x3 + k[1]);
    StoreBe16(out + 4, x2 + k[2]);
    StoreBe16(out + 6, Mul(x4, k[3]));
}

} // namespace

TIdeaKey::~TIdeaKey() {
    volatile uint16_t* p = FSub;
    for (int i = 0; i < 52; ++i) p[i] = 0;
}

void TIdeaKey::SetEncryptKey(const uint8_t* key16) {
    // The 128-bit key rotated left by 25 bits after every eight 16-bit subkeys.
    uint8_t k[16];
    for (int i = 0; i < 16; ++i) k[i] = key16[i];
    for (int n = 0; n < 52; ++n) {
        const int w = n % 8;
        FSub[n] = LoadBe16(k + 2 * w);
        if (w == 7) {
            uint8_t t[16];
            for (int i = 0; i < 16; ++i) {
                // bit offset 25 = 3 bytes + 1 bit
                t[i] = static_cast<uint8_t>((k[(i + 3) % 16] << 1) | (k[(i + 4) % 16] >> 7));
            }
            for (int i = 0; i < 16; ++i) k[i] = t[i];
        }
    }
    volatile uint8_t* p = k;
    for (int i = 0; i < 16; ++i) p[i] = 0;
}

void TIdeaKey::SetDecryptKey(const uint8_t* key16) {
    TIdeaKey enc;
    enc.SetEncryptKey(key16);
    const uint16_t* e = enc.FSub;
    // Round r of decryption undoes round 9-r of encryption; the middle additive keys swap places.
    for (int r = 0; r <= 8; ++r) {
        const int src = 6 * (8 - r);
        uint16_t* d = FSub + 6 * r;
        d[0] = MulInv(e[src]);
        d[3] = MulInv(e[src + 3]);
        if (r == 0 || r == 8) {
            d[1] = static_cast<uint16_t>(-e[src + 1]);
            d[2] = static_cast<uint16_t>(-e[src + 2]);
        } else {
            d[1] = static_cast<uint16_t>(-e[src + 2]);
            d[2] = static_cast<uint16_t>(-e[src + 1]);
        }
        if (r < 8) {
            d[4] = e[src - 2];
            d[5] = e[src - 1];
        }
    }
}

void IdeaCryptBlock(const TIdeaKey& key, const uint8_t* in, uint8_t* out) {
    Crypt(key.FSub, in, out);
}

void IdeaCbcEncrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (; blocks; --blocks, in += 8, out += 8) {
        for (int i = 0; i < 8; ++i) iv[i] ^= in[i];
        Crypt(key.FSub, iv, iv);
        for (int i = 0; i < 8; ++i) out[i] = iv[i];
    }
}

void IdeaCbcDecrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (; blocks; --blocks, in += 8, out += 8) {
        uint8_t c[8], p[8];
        for (int i = 0; i < 8; ++i) c[i] = in[i];
        Crypt(key.FSub, c, p);
        for (int i = 0; i < 8; ++i) {
            out[i] = p[i] ^ iv[i];
            iv[i] = c[i];
        }
    }
}

void IdeaCfbEncrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (; blocks; --blocks, in += 8, out += 8) {
        Crypt(key.FSub, iv, iv);
        for (int i = 0; i < 8; ++i) out[i] = iv[i] ^= in[i];
    }
}

void IdeaCfbDecrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    for (; blocks; --blocks, in += 8, out += 8) {
        uint8_t s[8];
        Crypt(key.FSub, iv, s);
        for (int i = 0; i < 8; ++i) {
            const uint8_t c = in[i];
            out[i] = s[i] ^ c;
            iv[i] = c;
        }
    }
}

} // namespace Varnello::Crypto
