// rsa-sha2-256 / rsa-sha2-512 signatures against nettle's PKCS #1 v1.5 SHA-2 signatures on
// keys nettle generates from a fixed seed, and rejection of mixed hashes and altered signatures.
#include "ssh/crypto/RsaSha2.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/Sha512.h"

#include "ModernTestSupport.h"

#include <gtest/gtest.h>
#include <nettle/bignum.h>
#include <nettle/knuth-lfib.h>
#include <nettle/rsa.h>

#include <stdexcept>

using namespace Varnello::Crypto;
using namespace Varnello::Crypto::Testing;

namespace {

TBytes MpzBytes(const mpz_t x, size_t len) {
    TBytes out(len);
    nettle_mpz_get_str_256(len, out.data(), x);
    return out;
}

TBigInt FromMpz(const mpz_t x) {
    return TBigInt::FromBytes(MpzBytes(x, nettle_mpz_sizeinbase_256_u(x)));
}

struct TNettleKey {
    rsa_public_key Pub;
    rsa_private_key Priv;
    TRsaPublicKey OurPub;
    TRsaPrivateKey OurPriv;
    size_t K;

    explicit TNettleKey(unsigned bits, uint32_t seed) {
        rsa_public_key_init(&Pub);
        rsa_private_key_init(&Priv);
        knuth_lfib_ctx rnd;
        knuth_lfib_init(&rnd, seed);
        mpz_set_ui(Pub.e, 65537);
        if (!rsa_generate_keypair(&Pub, &Priv, &rnd, (nettle_random_func*)knuth_lfib_random, nullptr, nullptr,
                                  bits, 0))
            throw std::runtime_error("nettle could not make a key");
        OurPub.E = OurPriv.E = FromMpz(Pub.e);
        OurPub.N = OurPriv.N = FromMpz(Pub.n);
        OurPriv.D = FromMpz(Priv.d);
        K = Pub.size;
    }
    ~TNettleKey() {
        rsa_public_key_clear(&Pub);
        rsa_private_key_clear(&Priv);
    }
};

TBytes NettleSign(TNettleKey& key, TRsaSha2Hash hash, const TBytes& msg) {
    mpz_t s;
    mpz_init(s);
    uint8_t digest[64];
    if (hash == TRsaSha2Hash::shSha256) {
        TSha256::Compute(msg.data(), msg.size(), digest);
        EXPECT_EQ(1, rsa_sha256_sign_digest(&key.Priv, digest, s));
    } else {
        TSha512::Compute(msg.data(), msg.size(), digest);
        EXPECT_EQ(1, rsa_sha512_sign_digest(&key.Priv, digest, s));
    }
    TBytes out = MpzBytes(s, key.K);
    mpz_clear(s);
    return out;
}

bool NettleVerify(TNettleKey& key, TRsaSha2Hash hash, const TBytes& msg, const TBytes& sig) {
    mpz_t s;
    mpz_init(s);
    nettle_mpz_set_str_256_u(s, sig.size(), sig.data());
    uint8_t digest[64];
    int ok;
    if (hash == TRsaSha2Hash::shSha256) {
        TSha256::Compute(msg.data(), msg.size(), digest);
        ok = rsa_sha256_verify_digest(&key.Pub, digest, s);
    } else {
        TSha512::Compute(msg.data(), msg.size(), digest);
        ok = rsa_sha512_verify_digest(&key.Pub, digest, s);
    }
    mpz_clear(s);
    return ok == 1;
}

} // namespace

TEST(RsaSha2Test, SignaturesMatchNettle) {
    std::mt19937_64 rng(8332);
    for (unsigned bits : {1024u, 2048u}) {
        TNettleKey key(bits, bits);
        for (int round = 0; round < 6; ++round) {
            const TRsaSha2Hash hash = round % 2 ? TRsaSha2Hash::shSha512 : TRsaSha2Hash::shSha256;
            const TBytes msg = RandomBytes(rng, rng() % 400);
            const TBytes ours = RsaSha2Sign(key.OurPriv, hash, msg.data(), msg.size());
            ASSERT_EQ(ours.size(), key.K);
            const TBytes theirs = NettleSign(key, hash, msg);
            ASSERT_EQ(ToHex(ours), ToHex(theirs)) << bits << " bits, round " << round;
            EXPECT_TRUE(NettleVerify(key, hash, msg, ours));
            EXPECT_TRUE(
                RsaSha2Verify(key.OurPub, hash, msg.data(), msg.size(), theirs.data(), theirs.size()));
        }
    }
}

TEST(RsaSha2Test, WrongHashAlteredSignatureAndShortModulusAreRefused) {
    TNettleKey key(1024, 77);
    std::mt19937_64 rng(1);
    const TBytes msg = RandomBytes(rng, 100);
    const TBytes s256 = RsaSha2Sign(key.OurPriv, TRsaSha2Hash::shSha256, msg.data(), msg.size());
    const TBytes s512 = RsaSha2Sign(key.OurPriv, TRsaSha2Hash::shSha512, msg.data(), msg.size());
    EXPECT_TRUE(
        RsaSha2Verify(key.OurPub, TRsaSha2Hash::shSha256, msg.data(), msg.size(), s256.data(), s256.size()));
    // An rsa-sha2-256 signature offered as rsa-sha2-512, and the reverse.
    EXPECT_FALSE(
        RsaSha2Verify(key.OurPub, TRsaSha2Hash::shSha512, msg.data(), msg.size(), s256.data(), s256.size()));
    EXPECT_FALSE(
        RsaSha2Verify(key.OurPub, TRsaSha2Hash::shSha256, msg.data(), msg.size(), s512.data(), s512.size()));
    for (size_t bit = 0; bit < s256.size() * 8; bit += 13) {
        TBytes bad = s256;
        bad[bit / 8] ^= uint8_t(1u << (bit % 8));
        EXPECT_FALSE(
            RsaSha2Verify(key.OurPub, TRsaSha2Hash::shSha256, msg.data(), msg.size(), bad.data(), bad.size()))
            << "bit " << bit;
    }
    TBytes other = msg;
    other[0] ^= 1;
    EXPECT_FALSE(RsaSha2Verify(key.OurPub, TRsaSha2Hash::shSha256, other.data(), other.size(), s256.data(),
                               s256.size()));

    // 512-bit modulus: room for a SHA-256 block, none for SHA-512 (19 + 64 + 3 + 8 > 64 bytes).
    TRsaPrivateKey small;
    small.N = TBigInt::FromUint(1).ShiftLeft(511) + TBigInt::FromUint(1);
    small.D = TBigInt::FromUint(3);
    small.E = TBigInt::FromUint(3);
    EXPECT_THROW(RsaSha2Sign(small, TRsaSha2Hash::shSha512, msg.data(), msg.size()), std::invalid_argument);
}
