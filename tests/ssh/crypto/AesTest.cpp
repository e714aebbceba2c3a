// AES block functions: FIPS 197 and SP 800-38A known answers, and nettle as an oracle on random
// keys and run lengths, each on the table code and on the processor's own instructions.
#include "ssh/crypto/Aes.h"
#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/CpuFeatures.h"

#include "CipherVectors.h"

#include <gtest/gtest.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

class AesPaths : public ::testing::TestWithParam<bool> {
protected:
    TPortableCryptoScope FScope{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Paths, AesPaths, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Table" : "Native"; });

TEST_P(AesPaths, KnownAnswersSingleBlock) {
    for (const auto& v : ReadVectors("aes.vec")) {
        const TBytes key = FromHex(v.at("Key")), in = FromHex(v.at("In")), out = FromHex(v.at("Out"));
        TAesKey enc, dec;
        enc.SetEncryptKey(key.data(), key.size());
        dec.SetDecryptKey(key.data(), key.size());
        EXPECT_EQ(enc.Rounds(), static_cast<int>(key.size() / 4 + 6));
        uint8_t buf[16];
        AesEncryptBlock(enc, in.data(), buf);
        EXPECT_EQ(ToHex(buf, 16), v.at("Out")) << v.at("Key");
        AesDecryptBlock(dec, buf, buf); // in place
        EXPECT_EQ(ToHex(buf, 16), v.at("In")) << v.at("Key");
        // The same block repeated through the wide routines (VAES takes 16 blocks at a time).
        TBytes many(16 * 37);
        for (size_t i = 0; i < 37; ++i) std::copy(in.begin(), in.end(), many.begin() + 16 * i);
        AesEncryptBlocks(enc, many.data(), many.data(), 37);
        for (size_t i = 0; i < 37; ++i) ASSERT_EQ(ToHex(many.data() + 16 * i, 16), v.at("Out")) << i;
        AesDecryptBlocks(dec, many.data(), many.data(), 37);
        for (size_t i = 0; i < 37; ++i) ASSERT_EQ(ToHex(many.data() + 16 * i, 16), v.at("In")) << i;
    }
}

TEST_P(AesPaths, KnownAnswersCbcAcrossCalls) {
    for (const auto& v : ReadVectors("aes-cbc.vec")) {
        const TBytes key = FromHex(v.at("Key")), iv0 = FromHex(v.at("IV")), in = FromHex(v.at("In"));
        TAesKey enc, dec;
        enc.SetEncryptKey(key.data(), key.size());
        dec.SetDecryptKey(key.data(), key.size());
        // Two calls of two blocks each must equal one chain of four.
        TBytes buf = in, iv = iv0;
        AesCbcEncrypt(enc, iv.data(), buf.data(), buf.data(), 2);
        AesCbcEncrypt(enc, iv.data(), buf.data() + 32, buf.data() + 32, 2);
        EXPECT_EQ(ToHex(buf), v.at("Out"));
        EXPECT_EQ(ToHex(iv), v.at("Out").substr(96));
        iv = iv0;
        AesCbcDecrypt(dec, iv.data(), buf.data(), buf.data(), 1);
        AesCbcDecrypt(dec, iv.data(), buf.data() + 16, buf.data() + 16, 3);
        EXPECT_EQ(ToHex(buf), v.at("In"));
    }
}

TEST_P(AesPaths, MatchesNettleOnRandomRuns) {
    std::mt19937 rng(1197);
    for (int round = 0; round < 60; ++round) {
        const size_t keyLen = 16 + 8 * (round % 3);
        const TBytes key = RandomBytes(rng, keyLen), iv0 = RandomBytes(rng, 16);
        const size_t blocks = rng() % 70;
        const TBytes plain = RandomBytes(rng, 16 * blocks);

        struct aes256_ctx c256;
        struct aes192_ctx c192;
        struct aes128_ctx c128;
        TBytes expectEcb(plain.size()), expectCbc(plain.size());
        TBytes niv = iv0;
        if (keyLen == 16) {
            aes128_set_encrypt_key(&c128, key.data());
            aes128_encrypt(&c128, plain.size(), expectEcb.data(), plain.data());
            cbc_encrypt(&c128, (nettle_cipher_func*)aes128_encrypt, 16, niv.data(), plain.size(),
                        expectCbc.data(), plain.data());
        } else if (keyLen == 24) {
            aes192_set_encrypt_key(&c192, key.data());
            aes192_encrypt(&c192, plain.size(), expectEcb.data(), plain.data());
            cbc_encrypt(&c192, (nettle_cipher_func*)aes192_encrypt, 16, niv.data(), plain.size(),
                        expectCbc.data(), plain.data());
        } else {
            aes256_set_encrypt_key(&c256, key.data());
            aes256_encrypt(&c256, plain.size(), expectEcb.data(), plain.data());
            cbc_encrypt(&c256, (nettle_cipher_func*)aes256_encrypt, 16, niv.data(), plain.size(),
                        expectCbc.data(), plain.data());
        }

        TAesKey enc, dec;
        enc.SetEncryptKey(key.data(), keyLen);
        dec.SetDecryptKey(key.data(), keyLen);
        TBytes ecb(plain.size());
        AesEncryptBlocks(enc, plain.data(), ecb.data(), blocks);
        ASSERT_EQ(ToHex(ecb), ToHex(expectEcb)) << "round " << round;
        AesDecryptBlocks(dec, ecb.data(), ecb.data(), blocks);
        ASSERT_EQ(ecb, plain) << "round " << round;

        TBytes cbc = plain, iv = iv0;
        size_t at = 0;
        for (size_t part : RandomSplit(rng, blocks)) {
            AesCbcEncrypt(enc, iv.data(), cbc.data() + 16 * at, cbc.data() + 16 * at, part);
            at += part;
        }
        ASSERT_EQ(ToHex(cbc), ToHex(expectCbc)) << "round " << round;
        iv = iv0;
        at = 0;
        TBytes back(plain.size());
        for (size_t part : RandomSplit(rng, blocks)) {
            AesCbcDecrypt(dec, iv.data(), cbc.data() + 16 * at, back.data() + 16 * at, part);
            at += part;
        }
        ASSERT_EQ(back, plain) << "round " << round;
    }
}

TEST_P(AesPaths, WideCbcDecryptionInPlaceMatchesBlockByBlock) {
    // 16 blocks and more take the interleaved routines, which read ahead of what they write.
    std::mt19937 rng(38);
    for (size_t blocks : {15u, 16u, 17u, 31u, 32u, 33u, 67u}) {
        const TBytes key = RandomBytes(rng, 32), iv0 = RandomBytes(rng, 16),
                     plain = RandomBytes(rng, 16 * blocks);
        TAesKey enc, dec;
        enc.SetEncryptKey(key.data(), 32);
        dec.SetDecryptKey(key.data(), 32);
        TBytes cipher(plain.size()), iv = iv0;
        for (size_t i = 0; i < blocks; ++i)
            AesCbcEncrypt(enc, iv.data(), plain.data() + 16 * i, cipher.data() + 16 * i, 1);
        TBytes buf = cipher;
        iv = iv0;
        AesCbcDecrypt(dec, iv.data(), buf.data(), buf.data(), blocks);
        EXPECT_EQ(buf, plain) << blocks;
        EXPECT_EQ(ToHex(iv), ToHex(cipher.data() + 16 * (blocks - 1), 16)) << blocks;
    }
}

TEST(CpuFeatures, PortableSwitchTurnsEveryAccelerationOffAndBack) {
    const TCpuFeatures& detected = DetectedCpuFeatures();
    {
        TPortableCryptoScope portable;
        EXPECT_TRUE(PortableCryptoForced());
        EXPECT_FALSE(HaveAesNi() || HavePclmul() || HaveShaNi() || HaveSse41() || HaveSsse3() || HaveAvx2() ||
                     HaveVaes() || HaveVpClmul());
    }
    EXPECT_FALSE(PortableCryptoForced());
    EXPECT_EQ(HaveAesNi(), detected.AesNi && detected.Sse41);
    EXPECT_EQ(HaveAvx2(), detected.Avx2);
    EXPECT_EQ(HaveVaes(), detected.Vaes);
    // The wide extensions are only reported together with what they build on.
    EXPECT_TRUE(!detected.Vaes || (detected.Avx2 && detected.AesNi));
    EXPECT_TRUE(!detected.VpClmul || (detected.Avx2 && detected.Pclmul));
}

TEST(Aes, RejectsBadKeysAndMisusedDirections) {
    const uint8_t key[32] = {};
    TAesKey k;
    EXPECT_THROW(k.SetEncryptKey(key, 20), ENvCipherError);
    uint8_t block[16] = {};
    EXPECT_THROW(AesEncryptBlock(k, block, block), ENvCipherError); // no key yet
    k.SetDecryptKey(key, 16);
    EXPECT_THROW(AesEncryptBlock(k, block, block), ENvCipherError);
    EXPECT_NO_THROW(AesDecryptBlock(k, block, block));
}

} // namespace
