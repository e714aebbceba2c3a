// Blowfish: the key schedule from pi's digits, and an unrolled 16-round Feistel network.
#include "ssh/crypto/Blowfish.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/BlowfishTables.h"
#include "ssh/crypto/CipherError.h"

#include <cstring>

namespace Varnello::Crypto {

namespace {

inline uint32_t F(const TBlowfishKey& k, uint32_t x) {
    return ((k.FS[0][x >> 24] + k.FS[1][(x >> 16) & 0xff]) ^ k.FS[2][(x >> 8) & 0xff]) + k.FS[3][x & 0xff];
}

inline void Encrypt(const TBlowfishKey& k, uint32_t& l, uint32_t& r) {
    uint32_t a = l, b = r;
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2) {
        a ^= k.FP[i];
        b ^= F(k, a);
        b ^= k.FP[i + 1];
        a ^= F(k, b);
    }
    l = b ^ k.FP[17];
    r = a ^ k.FP[16];
}

inline void Decrypt(const TBlowfishKey& k, uint32_t& l, uint32_t& r) {
    uint32_t a = l, b = r;
#pragma GCC unroll 8
    for (int i = 17; i > 1; i -= 2) {
        a ^= k.FP[i];
        b ^= F(k, a);
        b ^= k.FP[i - 1];
        a ^= F(k, b);
    }
    l = b ^ k.FP[0];
    r = a ^ k.FP[1];
}

template <bool Le>
void CbcEnc(const TBlowfishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    auto load = Le ? LoadLe32 : LoadBe32;
    auto store = Le ? StoreLe32 : StoreBe32;
    uint32_t l = load(iv), r = load(iv + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        l ^= load(in);
        r ^= load(in + 4);
        Encrypt(key, l, r);
        store(out, l);
        store(out + 4, r);
    }
    store(iv, l);
    store(iv + 4, r);
}

template <bool Le>
void CbcDec(const TBlowfishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    auto load = Le ? LoadLe32 : LoadBe32;
    auto store = Le ? StoreLe32 : StoreBe32;
    uint32_t pl = load(iv), pr = load(iv + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        const uint32_t cl = load(in), cr = load(in + 4);
        uint32_t l = cl, r = cr;
        Decrypt(key, l, r);
        store(out, l ^ pl);
        store(out + 4, r ^ pr);
        pl = cl;
        pr = cr;
    }
    store(iv, pl);
    store(iv + 4, pr);
}

} // namespace

TBlowfishKey::~TBlowfishKey() {
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(this);
    for (size_t i = 0; i < sizeof(*this); ++i) p[i] = 0;
}

void TBlowfishKey::SetKey(const uint8_t* key, size_t len) {
    if (len < 1 || len > 56) throw ENvCipherError("Invalid Blowfish key length");
    std::memcpy(FP, BlowfishPiWords, sizeof(FP));
    std::memcpy(FS, BlowfishPiWords + 18, sizeof(FS));
    size_t at = 0;
    for (auto& p : FP) {
        uint32_t w = 0;
        for (int b = 0; b < 4; ++b) {
            w = (w << 8) | key[at];
            at = (at + 1) % len;
        }
        p ^= w;
    }
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 18; i += 2) {
        Encrypt(*this, l, r);
        FP[i] = l;
        FP[i + 1] = r;
    }
    for (auto& box : FS) {
        for (int i = 0; i < 256; i += 2) {
            Encrypt(*this, l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    }
}

void BlowfishEncryptBlock(const TBlowfishKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Encrypt(key, l, r);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void BlowfishDecryptBlock(const TBlowfishKey& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Decrypt(key, l, r);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void BlowfishCbcEncrypt(const TBlowfishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks,
                        bool littleEndianWords) {
    if (littleEndianWords)
        CbcEnc<true>(key, iv, in, out, blocks);
    else
        CbcEnc<false>(key, iv, in, out, blocks);
}

void BlowfishCbcDecrypt(const TBlowfishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks,
                        bool littleEndianWords) {
    if (littleEndianWords)
        CbcDec<true>(key, iv, in, out, blocks);
    else
        CbcDec<false>(key, iv, in, out, blocks);
}

} // namespace Varnello::Crypto
