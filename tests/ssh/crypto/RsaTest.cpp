// RSA: PKCS #1 v1.5 signatures against nettle (byte-identical both ways), the DigestInfo prefix
// check, and the type 2 blocks of protocol 1.
#include "ssh/crypto/Rsa.h"
#include "ssh/crypto/Random.h"
#include "ssh/crypto/Sha1.h"

#include "GmpOracle.h"

#include <gtest/gtest.h>
#include <nettle/rsa.h>

#include <algorithm>

using namespace Varnello::Crypto;

namespace {

struct TNettleRsa {
    rsa_public_key Pub;
    rsa_private_key Priv;
    explicit TNettleRsa(unsigned bits, uint64_t seed) {
        rsa_public_key_init(&Pub);
        rsa_private_key_init(&Priv);
        std::mt19937_64 gen(seed);
        mpz_set_ui(Pub.e, 65537);
        if (!rsa_generate_keypair(&Pub, &Priv, &gen, NettleTestRandom, nullptr, nullptr, bits, 0))
            throw std::runtime_error("nettle key generation failed");
    }
    ~TNettleRsa() {
        rsa_public_key_clear(&Pub);
        rsa_private_key_clear(&Priv);
    }
    TRsaPrivateKey Private() const { return {FromMpz(Pub.e), FromMpz(Pub.n), FromMpz(Priv.d)}; }
    TRsaPublicKey Public() const { return {FromMpz(Pub.e), FromMpz(Pub.n)}; }
};

TRandom& TestRandom() {
    static TRandom rng;
    if (!rng.IsSeeded()) {
        const uint8_t seed[] = "rsa test";
        rng.SeedWith(seed, sizeof(seed));
    }
    return rng;
}

} // namespace

TEST(RsaTest, SignaturesMatchNettleBothWays) {
    // 1030 bits: k = 129 bytes, not a whole number of 32-bit words.
    for (unsigned bits : {1024u, 1030u, 2048u}) {
        SCOPED_TRACE(bits);
        TNettleRsa nettle(bits, bits);
        const TRsaPrivateKey priv = nettle.Private();
        const TRsaPublicKey pub = nettle.Public();
        const size_t k = (bits + 7) / 8;
        for (int i = 0; i < 3; ++i) {
            uint8_t digest[20];
            const std::string msg = "exchange hash " + std::to_string(i);
            TSha1::Hash(msg.data(), msg.size(), digest);

            const std::vector<uint8_t> ours = RsaSign(priv, RsaSha1DigestInfo, digest);
            ASSERT_EQ(ours.size(), k);
            TMpz theirs;
            ASSERT_TRUE(rsa_sha1_sign_digest(&nettle.Priv, digest, theirs.V));
            EXPECT_EQ(TBigInt::FromBytes(ours).ToHex(), theirs.Hex()); // v1.5 signatures are deterministic
            TMpz oursMpz(TBigInt::FromBytes(ours));
            EXPECT_TRUE(rsa_sha1_verify_digest(&nettle.Pub, digest, oursMpz.V));
            const std::vector<uint8_t> theirBytes = FromMpz(theirs.V).ToMinimalBytes();
            EXPECT_TRUE(RsaVerify(pub, RsaSha1DigestInfo, digest, theirBytes.data(), theirBytes.size()));

            std::vector<uint8_t> bad = ours;
            bad[k / 2] ^= 1;
            EXPECT_FALSE(RsaVerify(pub, RsaSha1DigestInfo, digest, bad.data(), bad.size()));
            digest[0] ^= 0x80;
            EXPECT_FALSE(RsaVerify(pub, RsaSha1DigestInfo, digest, ours.data(), ours.size()));
        }
    }
}

TEST(RsaTest, CheckRejectsAWrongDigestInfoPrefixAndMalformedBlocks) {
    TNettleRsa nettle(1024, 5);
    const TRsaPrivateKey priv = nettle.Private();
    const TRsaPublicKey pub = nettle.Public();
    uint8_t digest[20];
    TSha1::Hash("H", 1, digest);
    const std::vector<uint8_t> good = RsaBuildSignatureBlock(RsaSha1DigestInfo, digest, 128);
    ASSERT_EQ(good[0], 0);
    ASSERT_EQ(good[1], 1);
    ASSERT_EQ(good[128 - 36], 0);
    EXPECT_TRUE(RsaCheckSignatureBlock(RsaSha1DigestInfo, digest, good.data(), good.size()));

    auto signBlock = [&](std::vector<uint8_t> block) {
        std::vector<uint8_t> s(128);
        RsaPrivate(priv, TBigInt::FromBytes(block)).ToBytes(s.data(), s.size());
        return RsaVerify(pub, RsaSha1DigestInfo, digest, s.data(), s.size());
    };
    EXPECT_TRUE(signBlock(good));
    // A forged prefix (here naming MD5's OID byte) with the right digest is a different algorithm.
    std::vector<uint8_t> block = good;
    block[128 - 20 - 15 + 8] ^= 0x01;
    EXPECT_FALSE(signBlock(block));
    block = good; // padding byte not FF
    block[10] = 0xFE;
    EXPECT_FALSE(signBlock(block));
    block = good; // separator moved: digest info shifted by one
    std::rotate(block.begin() + 2, block.begin() + 3, block.end());
    block.back() = 0;
    EXPECT_FALSE(signBlock(block));
    block = good;
    block[1] = 2;
    EXPECT_FALSE(signBlock(block));

    // Signature values at or above n never verify.
    const std::vector<uint8_t> n = pub.N.ToMinimalBytes();
    EXPECT_FALSE(RsaVerify(pub, RsaSha1DigestInfo, digest, n.data(), n.size()));
    EXPECT_THROW(RsaBuildSignatureBlock(RsaSha1DigestInfo, digest, 45), std::invalid_argument);
}

TEST(RsaTest, Type2BlocksCarryTheSessionKey) {
    TNettleRsa nettle(1024, 9);
    const TRsaPrivateKey priv = nettle.Private();
    uint8_t sessionKey[32];
    for (int i = 0; i < 32; ++i) sessionKey[i] = uint8_t(i * 7);

    const std::vector<uint8_t> block = RsaPadType2(sessionKey, 32, 128, TestRandom());
    ASSERT_EQ(block.size(), 128u);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], 2);
    EXPECT_EQ(std::count(block.begin() + 2, block.end() - 33, 0), 0);
    EXPECT_EQ(block[128 - 33], 0);

    const TBigInt c = RsaEncryptType2(nettle.Public(), sessionKey, 32, TestRandom());
    std::vector<uint8_t> plain(128);
    RsaPrivate(priv, c).ToBytes(plain.data(), plain.size());
    auto data = RsaUnpadType2(plain.data(), plain.size());
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(*data, std::vector<uint8_t>(sessionKey, sessionKey + 32));

    std::vector<uint8_t> bad = block;
    bad[1] = 1;
    EXPECT_FALSE(RsaUnpadType2(bad.data(), bad.size()));
    bad = block;
    bad[5] = 0; // padding shorter than eight bytes
    EXPECT_FALSE(RsaUnpadType2(bad.data(), bad.size()));
    bad.assign(128, 0xAA);
    bad[0] = 0;
    bad[1] = 2; // no separator
    EXPECT_FALSE(RsaUnpadType2(bad.data(), bad.size()));
    EXPECT_THROW(RsaPadType2(sessionKey, 32, 42, TestRandom()), std::invalid_argument);
    EXPECT_THROW(RsaPublic(nettle.Public(), nettle.Public().N), std::invalid_argument);
}
