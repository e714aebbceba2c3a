// RC4 key schedule and keystream.
#include "ssh/crypto/Rc4.h"

#include "ssh/crypto/CipherError.h"

#include <cstring>

namespace Varnello::Crypto {

namespace {

// The keystream word is assembled least significant byte first; on a big-endian host swap it
// so its bytes land in stream order.
inline uint64_t LittleEndian(uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap64(v);
#else
    return v;
#endif
}

} // namespace

TRc4::~TRc4() {
    volatile uint32_t* p = FS;
    for (int i = 0; i < 256; ++i) p[i] = 0;
    FI = FJ = 0;
}

void TRc4::SetKey(const uint8_t* key, size_t len) {
    if (len < 1 || len > 256) throw ENvCipherError("Invalid RC4 key length");
    for (uint32_t i = 0; i < 256; ++i) FS[i] = i;
    uint32_t j = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        j = (j + FS[i] + key[i % len]) & 0xff;
        const uint32_t t = FS[i];
        FS[i] = FS[j];
        FS[j] = t;
    }
    FI = FJ = 0;
}

void TRc4::Process(const uint8_t* in, uint8_t* out, size_t len) {
    // Eight keystream bytes are gathered into one word and XORed at once; the byte-wide indices
    // wrap by themselves, which measured clearly faster than masking word-wide ones.
    uint32_t* s = FS;
    uint8_t i = static_cast<uint8_t>(FI), j = static_cast<uint8_t>(FJ);
    auto step = [&]() -> uint32_t {
        ++i;
        const uint32_t si = s[i];
        j = static_cast<uint8_t>(j + si);
        const uint32_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        return s[static_cast<uint8_t>(si + sj)];
    };
    size_t n = 0;
    for (; n + 8 <= len; n += 8) {
        uint64_t ks = 0;
#pragma GCC unroll 8
        for (int b = 0; b < 8; ++b) ks |= uint64_t(step()) << (8 * b);
        uint64_t x;
        std::memcpy(&x, in + n, 8);
        x ^= LittleEndian(ks);
        std::memcpy(out + n, &x, 8);
    }
    for (; n < len; ++n) out[n] = static_cast<uint8_t>(in[n] ^ step());
    FI = i;
    FJ = j;
}

} // namespace Varnello::Crypto
