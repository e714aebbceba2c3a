// DES and Triple DES known answers (SP 800-17, SP 800-67).
#include "ssh/crypto/Des.h"

#include "CipherVectors.h"

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

TEST(Des, KnownAnswers) {
    CheckBlockVectors(
        "des.vec", 8,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TDesKey key;
            key.SetKey(k.data());
            DesEncryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TDesKey key;
            key.SetKey(k.data());
            DesDecryptBlock(key, in, out);
        });
}

TEST(Des, ParityBitsDoNotMatter) {
    // 0x01 and 0x00 differ only in the parity bit of every byte.
    const uint8_t k1[8] = {1, 1, 1, 1, 1, 1, 1, 1}, k0[8] = {};
    const uint8_t in[8] = {0x80};
    uint8_t a[8], b[8];
    TDesKey key;
    key.SetKey(k1);
    DesEncryptBlock(key, in, a);
    key.SetKey(k0);
    DesEncryptBlock(key, in, b);
    EXPECT_EQ(ToHex(a, 8), ToHex(b, 8));
}

TEST(Des3, KnownAnswersAndSingleKeyDegeneratesToDes) {
    CheckBlockVectors(
        "3des.vec", 8,
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TDes3Key key;
            key.SetKey(k.data());
            Des3EncryptBlock(key, in, out);
        },
        [](const TBytes& k, const uint8_t* in, uint8_t* out) {
            TDes3Key key;
            key.SetKey(k.data());
            Des3DecryptBlock(key, in, out);
        });
    // EDE with K1 = K2 = K3 is single DES: catches a wrong direction in the middle pass.
    const TBytes k8 = FromHex("133457799bbcdff1");
    TBytes k24;
    for (int i = 0; i < 3; ++i) k24.insert(k24.end(), k8.begin(), k8.end());
    TDes3Key key3;
    key3.SetKey(k24.data());
    const TBytes in = FromHex("0123456789abcdef");
    uint8_t out[8];
    Des3EncryptBlock(key3, in.data(), out);
    EXPECT_EQ(ToHex(out, 8), "85e813540f0ab405");
}

} // namespace
