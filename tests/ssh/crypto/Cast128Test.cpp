// CAST-128 known answers (RFC 2144 B.1) and the RFC's full maintenance test (B.2).
#include "ssh/crypto/Cast128.h"

#include "CipherVectors.h"

#include <cstring>

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Cast128, KnownAnswersForAllKeyLengths) {
    CheckBlockVectors(
        "cast128.vec", 8,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TCast128Key key;
            key.SetKey(k.data(), k.size());
            Cast128EncryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TCast128Key key;
            key.SetKey(k.data(), k.size());
            Cast128DecryptBlock(key, in, out);
        });
}

TEST(Cast128, MaintenanceTest) {
    // RFC 2144, Appendix B.2: a and b encrypt each other a million times. Exercises every
    // S-box entry and both halves of the key schedule.
    uint8_t a[16], b[16];
    const TBytes init = FromHex("0123456712345678234567893456789a");
    std::memcpy(a, init.data(), 16);
    std::memcpy(b, init.data(), 16);
    TCast128Key key;
    for (int i = 0; i < 1000000; ++i) {
        key.SetKey(b, 16);
        Cast128EncryptBlock(key, a, a);
        Cast128EncryptBlock(key, a + 8, a + 8);
        key.SetKey(a, 16);
        Cast128EncryptBlock(key, b, b);
        Cast128EncryptBlock(key, b + 8, b + 8);
    }
    EXPECT_EQ(ToHex(a, 16), "eea9d0a249fd3ba6b3436fb89d6dca92");
    EXPECT_EQ(ToHex(b, 16), "b2c95eb00c31ad7180ac05b8e83d696e");
}

} // namespace
