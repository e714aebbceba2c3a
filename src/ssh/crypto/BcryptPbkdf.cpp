// bcrypt_pbkdf on the Blowfish state and SHA-512 of this library.
#include "ssh/crypto/BcryptPbkdf.h"

#include "ssh/crypto/Blowfish.h"
#include "ssh/crypto/BlowfishTables.h"
#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Sha512.h"

#include <cstring>
#include <vector>

namespace Varnello::Crypto {

namespace {

constexpr size_t HashSize = 32;

inline uint32_t F(const TBlowfishKey& k, uint32_t x) {
    return ((k.FS[0][x >> 24] + k.FS[1][(x >> 16) & 0xff]) ^ k.FS[2][(x >> 8) & 0xff]) + k.FS[3][x & 0xff];
}

inline void Encipher(const TBlowfishKey& k, uint32_t& l, uint32_t& r) {
    uint32_t a = l, b = r;
    for (int i = 0; i < 16; i += 2) {
        a ^= k.FP[i];
        b ^= F(k, a);
        b ^= k.FP[i + 1];
        a ^= F(k, b);
    }
    l = b ^ k.FP[17];
    r = a ^ k.FP[16];
}

// Four bytes as a big-endian word, wrapping around the data.
inline uint32_t StreamWord(const uint8_t* data, size_t len, size_t& pos) {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) {
        w = (w << 8) | data[pos];
        pos = pos + 1 == len ? 0 : pos + 1;
    }
    return w;
}

void InitState(TBlowfishKey& k) {
    std::memcpy(k.FP, BlowfishPiWords, sizeof(k.FP));
    std::memcpy(k.FS, BlowfishPiWords + 18, sizeof(k.FS));
}

// The Eksblowfish key schedule: the key mixed into P, then P and S replaced by successive
// encryptions, each block first XORed with the next words of data (when there is data).
void Expand(TBlowfishKey& k, const uint8_t* data, size_t dataLen, const uint8_t* key, size_t keyLen) {
    size_t j = 0;
    for (uint32_t& p : k.FP) p ^= StreamWord(key, keyLen, j);
    j = 0;
    uint32_t l = 0, r = 0;
    auto next = [&](uint32_t& a, uint32_t& b) {
        if (data) {
            l ^= StreamWord(data, dataLen, j);
            r ^= StreamWord(data, dataLen, j);
        }
        Encipher(k, l, r);
        a = l;
        b = r;
    };
    for (int i = 0; i < 18; i += 2) next(k.FP[i], k.FP[i + 1]);
    for (auto& box : k.FS)
        for (int i = 0; i < 256; i += 2) next(box[i], box[i + 1]);
}

void BcryptHash(const uint8_t sha2pass[64], const uint8_t sha2salt[64], uint8_t out[HashSize]) {
    static const char Magic[] = "OxychromaticBlowfishSwatDynamite";
    TBlowfishKey k;
    InitState(k);
    Expand(k, sha2salt, 64, sha2pass, 64);
    for (int i = 0; i < 64; ++i) {
        Expand(k, nullptr, 0, sha2salt, 64);
        Expand(k, nullptr, 0, sha2pass, 64);
    }
    uint32_t c[8];
    size_t j = 0;
    for (uint32_t& w : c) w = StreamWord(reinterpret_cast<const uint8_t*>(Magic), HashSize, j);
    for (int i = 0; i < 8; i += 2)
        for (int n = 0; n < 64; ++n) Encipher(k, c[i], c[i + 1]);
    for (int i = 0; i < 8; ++i) {
        out[4 * i + 0] = uint8_t(c[i]);
        out[4 * i + 1] = uint8_t(c[i] >> 8);
        out[4 * i + 2] = uint8_t(c[i] >> 16);
        out[4 * i + 3] = uint8_t(c[i] >> 24);
    }
    SecureWipe(c, sizeof(c));
}

} // namespace

bool BcryptPbkdf(const uint8_t* pass, size_t passLen, const uint8_t* salt, size_t saltLen, uint8_t* key,
                 size_t keyLen, unsigned rounds) {
    if (rounds < 1 || keyLen == 0 || keyLen > HashSize * HashSize || saltLen == 0 || saltLen > (1u << 20))
        return false;
    const size_t stride = (keyLen + HashSize - 1) / HashSize;
    size_t amount = (keyLen + stride - 1) / stride;
    uint8_t sha2pass[64], sha2salt[64], out[HashSize], tmp[HashSize];
    TSha512::Compute(pass, passLen, sha2pass);
    std::vector<uint8_t> countSalt(salt, salt + saltLen);
    countSalt.resize(saltLen + 4);
    size_t left = keyLen;
    for (uint32_t count = 1; left > 0; ++count) {
        countSalt[saltLen + 0] = uint8_t(count >> 24);
        countSalt[saltLen + 1] = uint8_t(count >> 16);
        countSalt[saltLen + 2] = uint8_t(count >> 8);
        countSalt[saltLen + 3] = uint8_t(count);
        TSha512::Compute(countSalt.data(), countSalt.size(), sha2salt);
        BcryptHash(sha2pass, sha2salt, tmp);
        std::memcpy(out, tmp, HashSize);
        for (unsigned i = 1; i < rounds; ++i) {
            TSha512::Compute(tmp, HashSize, sha2salt);
            BcryptHash(sha2pass, sha2salt, tmp);
            for (size_t b = 0; b < HashSize; ++b) out[b] ^= tmp[b];
        }
        if (amount > left) amount = left;
        size_t i = 0;
        for (; i < amount; ++i) {
            const size_t dest = i * stride + (count - 1);
            if (dest >= keyLen) break;
            key[dest] = out[i];
        }
        left -= i;
    }
    SecureWipe(sha2pass, sizeof(sha2pass));
    SecureWipe(sha2salt, sizeof(sha2salt));
    SecureWipe(out, sizeof(out));
    SecureWipe(tmp, sizeof(tmp));
    return true;
}

} // namespace Varnello::Crypto
