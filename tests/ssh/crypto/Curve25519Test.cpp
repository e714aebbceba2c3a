// X25519 and Ed25519: published vectors, agreement with nettle on random keys, refusal of
// small-order peer points, and rejection of altered or malleated signatures.
#include "ssh/crypto/Ed25519.h"
#include "ssh/crypto/X25519.h"

#include "ModernTestSupport.h"

#include <gtest/gtest.h>
#include <nettle/curve25519.h>
#include <nettle/eddsa.h>

#include <cstring>

using namespace Varnello::Crypto;
using namespace Varnello::Crypto::Testing;

TEST(Curve25519Test, X25519Rfc7748) {
    const auto vectors = ReadVectors("x25519.vec");
    ASSERT_EQ(vectors.size(), 5u);
    for (const auto& v : vectors) {
        uint8_t out[32];
        if (v.at("Section") == "X25519") {
            const TBytes k = FromHex(v.at("Scalar")), u = FromHex(v.at("U"));
            EXPECT_TRUE(X25519(out, k.data(), u.data()));
            EXPECT_EQ(ToHex(out, 32), v.at("Out"));
        } else if (v.at("Section") == "X25519-Iterated") {
            uint8_t k[32] = {9}, u[32] = {9};
            const int n = std::stoi(v.at("Iterations"));
            for (int i = 0; i < n; ++i) {
                X25519(out, k, u);
                std::memcpy(u, k, 32);
                std::memcpy(k, out, 32);
            }
            EXPECT_EQ(ToHex(k, 32), v.at("Out")) << n << " iterations";
        } else {
            const TBytes a = FromHex(v.at("AlicePrivate")), b = FromHex(v.at("BobPrivate"));
            uint8_t pa[32], pb[32], sa[32], sb[32];
            X25519PublicKey(pa, a.data());
            X25519PublicKey(pb, b.data());
            EXPECT_EQ(ToHex(pa, 32), v.at("AlicePublic"));
            EXPECT_EQ(ToHex(pb, 32), v.at("BobPublic"));
            EXPECT_TRUE(X25519(sa, a.data(), pb));
            EXPECT_TRUE(X25519(sb, b.data(), pa));
            EXPECT_EQ(ToHex(sa, 32), v.at("Shared"));
            EXPECT_EQ(ToHex(sb, 32), v.at("Shared"));
        }
    }
}

TEST(Curve25519Test, X25519MatchesNettleAndIgnoresTopBit) {
    std::mt19937_64 rng(7748);
    for (int round = 0; round < 100; ++round) {
        const TBytes k = RandomBytes(rng, 32);
        TBytes u = RandomBytes(rng, 32);
        u[31] &= 0x7f;
        uint8_t ours[32], theirs[32], high[32];
        X25519(ours, k.data(), u.data());
        curve25519_mul(theirs, k.data(), u.data());
        ASSERT_EQ(ToHex(ours, 32), ToHex(theirs, 32)) << "round " << round;
        // The most significant bit of u is masked off, not reduced.
        u[31] |= 0x80;
        X25519(high, k.data(), u.data());
        ASSERT_EQ(ToHex(high, 32), ToHex(ours, 32));
        if (round % 10 == 0) {
            uint8_t pub[32], nettlePub[32];
            X25519PublicKey(pub, k.data());
            curve25519_mul_g(nettlePub, k.data());
            ASSERT_EQ(ToHex(pub, 32), ToHex(nettlePub, 32));
        }
    }
}

TEST(Curve25519Test, SmallOrderPeerPointsAreRefused) {
    // 0, 1, the two points of order 8, and p and p - 1, which reduce to 0 and -1 (also of small
    // order): every result is all zeros.
    const char* points[] = {"0000000000000000000000000000000000000000000000000000000000000000",
                            "0100000000000000000000000000000000000000000000000000000000000000",
                            "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
                            "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
                            "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
                            "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"};
    std::mt19937_64 rng(8);
    for (const char* p : points) {
        const TBytes u = FromHex(p), k = RandomBytes(rng, 32);
        uint8_t out[32];
        EXPECT_FALSE(X25519(out, k.data(), u.data())) << p;
        EXPECT_EQ(ToHex(out, 32), std::string(64, '0')) << p;
    }
}

TEST(Curve25519Test, Ed25519Rfc8032) {
    const auto vectors = ReadVectors("ed25519.vec");
    ASSERT_EQ(vectors.size(), 4u);
    for (const auto& v : vectors) {
        const TBytes seed = FromHex(v.at("Seed")), msg = FromHex(v.at("Message"));
        const TBytes pub = FromHex(v.at("Public")), sig = FromHex(v.at("Signature"));
        TEd25519Key key(seed.data());
        EXPECT_EQ(ToHex(key.PublicKey(), 32), v.at("Public"));
        uint8_t ours[64];
        key.Sign(msg.data(), msg.size(), ours);
        EXPECT_EQ(ToHex(ours, 64), v.at("Signature"));
        EXPECT_TRUE(Ed25519Verify(pub.data(), msg.data(), msg.size(), sig.data()));
    }
}

TEST(Curve25519Test, Ed25519MatchesNettle) {
    std::mt19937_64 rng(8032);
    for (int round = 0; round < 60; ++round) {
        const TBytes seed = RandomBytes(rng, 32), msg = RandomBytes(rng, rng() % 300);
        TEd25519Key key(seed.data());
        uint8_t nettlePub[32], ours[64], theirs[64];
        ed25519_sha512_public_key(nettlePub, seed.data());
        ASSERT_EQ(ToHex(key.PublicKey(), 32), ToHex(nettlePub, 32)) << "round " << round;
        key.Sign(msg.data(), msg.size(), ours);
        ed25519_sha512_sign(nettlePub, seed.data(), msg.size(), msg.data(), theirs);
        ASSERT_EQ(ToHex(ours, 64), ToHex(theirs, 64)) << "round " << round;
        ASSERT_TRUE(Ed25519Verify(nettlePub, msg.data(), msg.size(), theirs));
        ASSERT_EQ(1, ed25519_sha512_verify(key.PublicKey(), msg.size(), msg.data(), ours));
    }
}

TEST(Curve25519Test, Ed25519RejectsAlteredSignatures) {
    std::mt19937_64 rng(25519);
    const TBytes seed = RandomBytes(rng, 32), msg = RandomBytes(rng, 40);
    TEd25519Key key(seed.data());
    uint8_t sig[64];
    key.Sign(msg.data(), msg.size(), sig);
    ASSERT_TRUE(Ed25519Verify(key.PublicKey(), msg.data(), msg.size(), sig));

    for (int bit = 0; bit < 512; ++bit) {
        uint8_t bad[64];
        std::memcpy(bad, sig, 64);
        bad[bit / 8] ^= uint8_t(1u << (bit % 8));
        ASSERT_FALSE(Ed25519Verify(key.PublicKey(), msg.data(), msg.size(), bad)) << "signature bit " << bit;
    }
    for (int bit = 0; bit < 256; bit += 3) {
        uint8_t pub[32];
        std::memcpy(pub, key.PublicKey(), 32);
        pub[bit / 8] ^= uint8_t(1u << (bit % 8));
        ASSERT_FALSE(Ed25519Verify(pub, msg.data(), msg.size(), sig)) << "public key bit " << bit;
    }
    TBytes other = msg;
    other[17] ^= 4;
    EXPECT_FALSE(Ed25519Verify(key.PublicKey(), other.data(), other.size(), sig));

    // S + L verifies arithmetically but is a second encoding of the same signature: refused.
    static const uint8_t order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                      0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                      0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
    uint8_t malleated[64];
    std::memcpy(malleated, sig, 64);
    int carry = 0;
    for (int i = 0; i < 32; ++i) {
        const int s = malleated[32 + i] + order[i] + carry;
        malleated[32 + i] = uint8_t(s);
        carry = s >> 8;
    }
    ASSERT_EQ(carry, 0);
    EXPECT_FALSE(Ed25519Verify(key.PublicKey(), msg.data(), msg.size(), malleated));

    // A public key whose y is not below p is not a canonical encoding.
    uint8_t nonCanonical[32];
    std::memset(nonCanonical, 0xff, 32);
    nonCanonical[0] = 0xee;
    nonCanonical[31] = 0x7f; // y = p + 1
    EXPECT_FALSE(Ed25519Verify(nonCanonical, msg.data(), msg.size(), sig));
}
