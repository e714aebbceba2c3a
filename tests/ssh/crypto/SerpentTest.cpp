// Serpent known answers (NESSIE) for the three key sizes.
#include "ssh/crypto/Serpent.h"
#include "ssh/crypto/CipherError.h"

#include "CipherVectors.h"

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Serpent, KnownAnswers) {
    CheckBlockVectors(
        "serpent.vec", 16,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TSerpentKey key;
            key.SetKey(k.data(), k.size());
            SerpentEncryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TSerpentKey key;
            key.SetKey(k.data(), k.size());
            SerpentDecryptBlock(key, in, out);
        });
    TSerpentKey key;
    const uint8_t k[8] = {};
    EXPECT_THROW(key.SetKey(k, 8), ENvCipherError);
}

} // namespace
