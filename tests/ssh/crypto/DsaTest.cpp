// DSA: the FIPS 186 example, interoperation with nettle both ways, the nonce range and the fixed
// 20-byte fields.
#include "ssh/crypto/Dsa.h"
#include "ssh/crypto/Random.h"
#include "ssh/crypto/Sha1.h"

#include "GmpOracle.h"
#include "VectorFile.h"

#include <gtest/gtest.h>
#include <nettle/dsa.h>

#include <map>
#include <set>

using namespace Varnello::Crypto;

namespace {

TDsaKey KeyFrom(const TVectorRecord& v) {
    TDsaKey key;
    key.P = TBigInt::FromHex(v.at("P"));
    key.Q = TBigInt::FromHex(v.at("Q"));
    key.G = TBigInt::FromHex(v.at("G"));
    key.Y = TBigInt::FromHex(v.at("Y"));
    key.X = TBigInt::FromHex(v.at("X"));
    return key;
}

TRandom& TestRandom() {
    static TRandom rng;
    static bool seeded = false;
    if (!seeded) {
        const uint8_t seed[] = "dsa test";
        rng.SeedWith(seed, sizeof(seed));
        seeded = true;
    }
    return rng;
}

} // namespace

TEST(DsaTest, Fips186Example) {
    for (const TVectorRecord& v : ReadVectorFile("dsa-fips186.vec")) {
        const TDsaKey key = KeyFrom(v);
        uint8_t digest[20];
        TSha1::Hash(v.at("Msg").data(), v.at("Msg").size(), digest);
        uint8_t sig[DsaSignatureSize];
        ASSERT_TRUE(DsaSignWithNonce(key, digest, sizeof(digest), TBigInt::FromHex(v.at("K")), sig));
        EXPECT_EQ(ToHexText(sig, 20), v.at("R"));
        EXPECT_EQ(ToHexText(sig + 20, 20), v.at("S"));
        EXPECT_TRUE(DsaVerify(key, digest, sizeof(digest), sig));

        // Random nonces: every signature differs and verifies; a changed digest or field fails.
        uint8_t other[DsaSignatureSize];
        DsaSign(key, digest, sizeof(digest), TestRandom(), other);
        EXPECT_NE(ToHexText(sig, 40), ToHexText(other, 40));
        EXPECT_TRUE(DsaVerify(key, digest, sizeof(digest), other));
        digest[19] ^= 1;
        EXPECT_FALSE(DsaVerify(key, digest, sizeof(digest), other));
        digest[19] ^= 1;
        for (size_t at : {0u, 19u, 20u, 39u}) {
            other[at] ^= 0x40;
            EXPECT_FALSE(DsaVerify(key, digest, sizeof(digest), other)) << at;
            other[at] ^= 0x40;
        }
        // Nonces span q's full width: recovered from signatures (k = s^-1 (z + x r) mod q), none is
        // confined to 144 bits, as 18 random bytes would be. Chance of a false alarm: about 2^-16 each.
        const TBigInt z = TBigInt::FromBytes(digest, 20);
        for (int i = 0; i < 20; ++i) {
            DsaSign(key, digest, sizeof(digest), TestRandom(), other);
            const TBigInt r = TBigInt::FromBytes(other, 20), s = TBigInt::FromBytes(other + 20, 20);
            const TBigInt k = TBigInt::ModMul(TBigInt::ModInverse(s, key.Q), (z + key.X * r) % key.Q, key.Q);
            EXPECT_GT(k.BitCount(), 144);
        }
        // r or s of zero, or s = q, are refused before any arithmetic.
        uint8_t bad[DsaSignatureSize] = {};
        EXPECT_FALSE(DsaVerify(key, digest, sizeof(digest), bad));
        std::copy(sig, sig + 20, bad);
        key.Q.ToBytes(bad + 20, 20);
        EXPECT_FALSE(DsaVerify(key, digest, sizeof(digest), bad));
    }
}

TEST(DsaTest, InteroperatesWithNettle) {
    std::mt19937_64 gen(186);
    dsa_params params;
    dsa_params_init(&params);
    ASSERT_TRUE(dsa_generate_params(&params, &gen, NettleTestRandom, nullptr, nullptr, 1024, 160));
    TMpz y, x;
    dsa_generate_keypair(&params, y.V, x.V, &gen, NettleTestRandom);
    TDsaKey key{FromMpz(params.p), FromMpz(params.q), FromMpz(params.g), FromMpz(y.V), FromMpz(x.V)};

    for (int i = 0; i < 12; ++i) {
        uint8_t digest[20];
        const std::string msg = "message " + std::to_string(i);
        TSha1::Hash(msg.data(), msg.size(), digest);

        dsa_signature theirs;
        dsa_signature_init(&theirs);
        ASSERT_TRUE(dsa_sign(&params, x.V, &gen, NettleTestRandom, sizeof(digest), digest, &theirs));
        uint8_t blob[DsaSignatureSize];
        FromMpz(theirs.r).ToBytes(blob, 20);
        FromMpz(theirs.s).ToBytes(blob + 20, 20);
        EXPECT_TRUE(DsaVerify(key, digest, sizeof(digest), blob));

        uint8_t ours[DsaSignatureSize];
        DsaSign(key, digest, sizeof(digest), TestRandom(), ours);
        mpz_import(theirs.r, 20, 1, 1, 1, 0, ours);
        mpz_import(theirs.s, 20, 1, 1, 1, 0, ours + 20);
        EXPECT_TRUE(dsa_verify(&params, y.V, sizeof(digest), digest, &theirs));
        dsa_signature_clear(&theirs);
    }
    dsa_params_clear(&params);
}

// A toy group (q = 47) makes r and s tiny, so the fixed-width fields must carry leading zeros,
// and the nonce can be recovered from each signature to see that it covers all of [1, q-1].
TEST(DsaTest, NonceIsUniformOverTheWholeRangeAndFieldsAreFixedWidth) {
    TDsaKey key;
    key.P = TBigInt::FromUint(283);
    key.Q = TBigInt::FromUint(47);
    key.G = TBigInt::ModExp(TBigInt::FromUint(2), TBigInt::FromUint(282 / 47), key.P);
    ASSERT_EQ(TBigInt::ModExp(key.G, key.Q, key.P), TBigInt::FromUint(1));
    key.X = TBigInt::FromUint(29);
    key.Y = TBigInt::ModExp(key.G, key.X, key.P);

    uint8_t digest[20];
    TSha1::Hash("toy", 3, digest);
    const TBigInt z = TBigInt::FromBytes(digest, 20).ShiftRight(160 - key.Q.BitCount());
    std::map<std::string, int> seen;
    for (int i = 0; i < 3000; ++i) {
        uint8_t sig[DsaSignatureSize];
        DsaSign(key, digest, sizeof(digest), TestRandom(), sig);
        for (int j = 0; j < 19; ++j) ASSERT_EQ(sig[j] | sig[20 + j], 0);
        ASSERT_TRUE(DsaVerify(key, digest, sizeof(digest), sig));
        const TBigInt r = TBigInt::FromBytes(sig, 20), s = TBigInt::FromBytes(sig + 20, 20);
        // k = s^-1 (z + x r) mod q
        const TBigInt k = TBigInt::ModMul(TBigInt::ModInverse(s, key.Q), (z + key.X * r) % key.Q, key.Q);
        ++seen[k.ToHex()];
    }
    // Nonces giving r = 0 or s = 0 are discarded; every other value of [1, 46] must occur, about
    // equally often.
    std::set<std::string> usable;
    for (uint64_t k = 1; k < 47; ++k) {
        uint8_t sig[DsaSignatureSize];
        if (DsaSignWithNonce(key, digest, sizeof(digest), TBigInt::FromUint(k), sig))
            usable.insert(TBigInt::FromUint(k).ToHex());
    }
    ASSERT_GE(usable.size(), 40u);
    std::set<std::string> drawn;
    for (const auto& [k, count] : seen) {
        drawn.insert(k);
        EXPECT_LT(count, 2 * 3000 / int(usable.size())) << k;
        EXPECT_GT(count, 3000 / int(usable.size()) / 2) << k;
    }
    EXPECT_EQ(drawn, usable);
}
