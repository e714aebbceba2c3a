// IDEA known answer, and the CFB mode against its definition over the block operation.
#include "ssh/crypto/Idea.h"

#include "CipherVectors.h"

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Idea, KnownAnswers) {
    CheckBlockVectors(
        "idea.vec", 8,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TIdeaKey key;
            key.SetEncryptKey(k.data());
            IdeaCryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TIdeaKey key;
            key.SetDecryptKey(k.data());
            IdeaCryptBlock(key, in, out);
        });
}

TEST(Idea, DecryptKeyInvertsOnKeysWithZeroSubkeys) {
    // Zero subkeys stand for 2^16 in the multiplication; their inverse is the edge of the schedule.
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        TBytes key = RandomBytes(rng, 16);
        if (round % 2) key[rng() % 8 * 2] = key[rng() % 8 * 2 + 1] = 0;
        if (round == 0) key.assign(16, 0);
        const TBytes plain = RandomBytes(rng, 8);
        TIdeaKey enc, dec;
        enc.SetEncryptKey(key.data());
        dec.SetDecryptKey(key.data());
        uint8_t c[8], p[8];
        IdeaCryptBlock(enc, plain.data(), c);
        IdeaCryptBlock(dec, c, p);
        ASSERT_EQ(ToHex(p, 8), ToHex(plain)) << ToHex(key);
    }
}

} // namespace
