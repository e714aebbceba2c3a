// The Montgomery ladder of RFC 7748, section 5, over Field25519.
#include "ssh/crypto/X25519.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Field25519.h"

namespace Varnello::Crypto {

using namespace Field25519;

bool X25519(uint8_t out[X25519KeySize], const uint8_t scalar[X25519KeySize], const uint8_t u[X25519KeySize]) {
    uint8_t k[32];
    for (int i = 0; i < 32; ++i) k[i] = scalar[i];
    k[0] &= 248;
    k[31] &= 127;
    k[31] |= 64;

    const TFe x1 = FeFromBytes(u); // drops the top bit, as the RFC requires
    TFe x2 = FeOne(), z2 = FeZero(), x3 = x1, z3 = FeOne();
    uint64_t swap = 0;
    for (int t = 254; t >= 0; --t) {
        const uint64_t bit = (k[t >> 3] >> (t & 7)) & 1;
        swap ^= bit;
        FeCswap(x2, x3, swap);
        FeCswap(z2, z3, swap);
        swap = bit;

        const TFe a = FeAdd(x2, z2), b = FeSub(x2, z2);
        const TFe aa = FeSq(a), bb = FeSq(b);
        const TFe e = FeSub(aa, bb);
        const TFe c = FeAdd(x3, z3), d = FeSub(x3, z3);
        const TFe da = FeMul(d, a), cb = FeMul(c, b);
        x3 = FeSq(FeAdd(da, cb));
        z3 = FeMul(x1, FeSq(FeSub(da, cb)));
        x2 = FeMul(aa, bb);
        z2 = FeMul(e, FeAdd(aa, FeMulSmall(e, 121665)));
    }
    FeCswap(x2, x3, swap);
    FeCswap(z2, z3, swap);
    FeToBytes(out, FeMul(x2, FeInvert(z2)));
    SecureWipe(k, sizeof(k));

    uint8_t acc = 0;
    for (int i = 0; i < 32; ++i) acc |= out[i];
    return acc != 0;
}

void X25519PublicKey(uint8_t publicKey[X25519KeySize], const uint8_t privateKey[X25519KeySize]) {
    static const uint8_t basePoint[32] = {9};
    X25519(publicKey, privateKey, basePoint);
}

} // namespace Varnello::Crypto
