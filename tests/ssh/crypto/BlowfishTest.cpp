// Blowfish known answers (Schneier's vectors) and the protocol-1 word order.
#include "ssh/crypto/Blowfish.h"

#include "CipherVectors.h"

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Blowfish, KnownAnswers) {
    CheckBlockVectors(
        "blowfish.vec", 8,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TBlowfishKey key;
            key.SetKey(k.data(), k.size());
            BlowfishEncryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TBlowfishKey key;
            key.SetKey(k.data(), k.size());
            BlowfishDecryptBlock(key, in, out);
        });
}

TEST(Blowfish, LittleEndianWordsEqualSwappingAroundTheBlockOperation) {
    std::mt19937 rng(6);
    const TBytes key = RandomBytes(rng, 32), iv0 = RandomBytes(rng, 8), plain = RandomBytes(rng, 64);
    TBlowfishKey k;
    k.SetKey(key.data(), key.size());
    auto swapWords = [](TBytes b) {
        for (size_t i = 0; i < b.size(); i += 4) {
            std::swap(b[i], b[i + 3]);
            std::swap(b[i + 1], b[i + 2]);
        }
        return b;
    };
    TBytes iv = iv0, le(plain.size());
    BlowfishCbcEncrypt(k, iv.data(), plain.data(), le.data(), 8, true);
    TBytes ivs = swapWords(iv0), be(plain.size());
    const TBytes swapped = swapWords(plain);
    BlowfishCbcEncrypt(k, ivs.data(), swapped.data(), be.data(), 8, false);
    EXPECT_EQ(ToHex(le), ToHex(swapWords(be)));
    EXPECT_EQ(ToHex(iv), ToHex(swapWords(ivs)));
    iv = iv0;
    BlowfishCbcDecrypt(k, iv.data(), le.data(), le.data(), 8, true);
    EXPECT_EQ(le, plain);
}

} // namespace
