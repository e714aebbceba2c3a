// RC4 keystream known answers (RFC 6229) and continuity across calls.
#include "ssh/crypto/Rc4.h"

#include "CipherVectors.h"

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Rc4, KeystreamFromTheFirstByteAcrossCalls) {
    for (const auto& v : ReadVectors("rc4.vec")) {
        const TBytes key = FromHex(v.at("Key")), expect = FromHex(v.at("Out"));
        ASSERT_EQ(v.at("Offset"), "0");
        TRc4 rc4;
        rc4.SetKey(key.data(), key.size());
        // Encrypting zeros yields the keystream; split 1 + 6 + rest to check the state carries over.
        TBytes stream(expect.size());
        rc4.Process(stream.data(), stream.data(), 1);
        rc4.Process(stream.data() + 1, stream.data() + 1, 6);
        rc4.Process(stream.data() + 7, stream.data() + 7, stream.size() - 7);
        EXPECT_EQ(ToHex(stream), ToHex(expect)) << v.at("Key");
    }
}

} // namespace
