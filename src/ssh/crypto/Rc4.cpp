// RC4 key schedule and keystream.
#include "ssh/crypto/Rc4.h"

#include "ssh/crypto/CipherError.h"

namespace Varnello::Crypto {

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
    uint32_t* s = FS;
    uint32_t i = FI, j = FJ;
    for (size_t n = 0; n < len; ++n) {
        i = (i + 1) & 0xff;
        const uint32_t si = s[i];
        j = (j + si) & 0xff;
        const uint32_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        out[n] = static_cast<uint8_t>(in[n] ^ s[(si + sj) & 0xff]);
    }
    FI = i;
    FJ = j;
}

} // namespace Varnello::Crypto
