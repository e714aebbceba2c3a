// Twofish known answers for the three key sizes.
#include "ssh/crypto/Twofish.h"
#include "ssh/crypto/CipherError.h"

#include "CipherVectors.h"

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Twofish, KnownAnswers) {
    CheckBlockVectors(
        "twofish.vec", 16,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TTwofishKey key;
            key.SetKey(k.data(), k.size());
            TwofishEncryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TTwofishKey key;
            key.SetKey(k.data(), k.size());
            TwofishDecryptBlock(key, in, out);
        });
    TTwofishKey key;
    const uint8_t k[20] = {};
    EXPECT_THROW(key.SetKey(k, 20), ENvCipherError);
}

} // namespace
