// ChaCha20, Poly1305, the RFC 8439 AEAD and the OpenSSH packet construction: published vectors,
// cross-checks against nettle's primitives on random inputs, and one-bit forgeries.
#include "ssh/crypto/ChaChaPoly.h"
#include "ssh/crypto/ChaCha20.h"
#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/CpuFeatures.h"
#include "ssh/crypto/Poly1305.h"

#include "ModernTestSupport.h"

#include <gtest/gtest.h>
#include <nettle/aes.h>
#include <nettle/chacha-poly1305.h>
#include <nettle/chacha.h>
#include <nettle/poly1305.h>

#include <cstring>

using namespace Varnello::Crypto;
using namespace Varnello::Crypto::Testing;

namespace {

template <class F> void OnEveryPath(F body) {
    {
        SCOPED_TRACE("default path");
        body();
    }
    TPortableCryptoScope portable;
    SCOPED_TRACE("portable path");
    body();
}

// Raw Poly1305 from nettle's public Poly1305-AES: that tag is poly(r, m) + AES_k(n), so
// subtracting AES_k(n) and adding our pad s gives the plain Poly1305 tag for key (r, s).
TBytes NettlePoly1305(const uint8_t key[32], const TBytes& msg) {
    uint8_t aesKey[16] = {7, 1, 2, 3}, nonce[16] = {9}, aesOut[16], tag[16];
    uint8_t nettleKey[32];
    std::memcpy(nettleKey, aesKey, 16);
    std::memcpy(nettleKey + 16, key, 16);
    poly1305_aes_ctx ctx;
    poly1305_aes_set_key(&ctx, nettleKey);
    poly1305_aes_set_nonce(&ctx, nonce);
    poly1305_aes_update(&ctx, msg.size(), msg.data());
    poly1305_aes_digest(&ctx, 16, tag);
    aes128_ctx aes;
    aes128_set_encrypt_key(&aes, aesKey);
    aes128_encrypt(&aes, 16, aesOut, nonce);
    TBytes out(16);
    int borrow = 0, carry = 0;
    for (int i = 0; i < 16; ++i) {
        int d = int(tag[i]) - aesOut[i] - borrow;
        borrow = d < 0;
        d = (d + 256) & 255;
        const int s = d + key[16 + i] + carry;
        carry = s >> 8;
        out[i] = uint8_t(s);
    }
    return out;
}

TBytes NettleChaCha64(const uint8_t key[32], const uint8_t nonce[8], uint64_t counter, const TBytes& in) {
    chacha_ctx c;
    chacha_set_key(&c, key);
    chacha_set_nonce(&c, nonce);
    uint8_t ctr[8];
    for (int i = 0; i < 8; ++i) ctr[i] = uint8_t(counter >> (8 * i));
    chacha_set_counter(&c, ctr);
    TBytes out(in.size());
    chacha_crypt(&c, in.size(), out.data(), in.data());
    return out;
}

} // namespace

TEST(ChaChaPolyTest, Rfc8439Vectors) {
    const auto vectors = ReadVectors("chacha-poly.vec");
    ASSERT_EQ(vectors.size(), 17u);
    OnEveryPath([&] {
        for (const auto& v : vectors) {
            const TBytes key = FromHex(v.at("Key")), in = FromHex(v.at("In")), want = FromHex(v.at("Out"));
            const std::string& section = v.at("Section");
            if (section == "ChaCha20") {
                const TBytes nonce = FromHex(v.at("Nonce"));
                TChaCha20 c;
                c.SetKey(key.data());
                c.SetNonce96(nonce.data(), uint32_t(std::stoul(v.at("Counter"))));
                TBytes out(in.size());
                // Two calls cut mid-block: the second must continue the same keystream.
                const size_t cut = in.size() / 3;
                c.Crypt(in.data(), out.data(), cut);
                c.Crypt(in.data() + cut, out.data() + cut, in.size() - cut);
                EXPECT_EQ(ToHex(out), v.at("Out")) << section;
            } else if (section == "Poly1305") {
                uint8_t tag[16];
                TPoly1305 p(key.data());
                const size_t cut = in.size() / 2 + 1 < in.size() ? in.size() / 2 + 1 : in.size();
                p.Update(in.data(), cut);
                p.Update(in.data() + cut, in.size() - cut);
                p.Final(tag);
                EXPECT_EQ(ToHex(tag, 16), v.at("Out")) << "poly1305 of " << v.at("In");
                EXPECT_TRUE(TPoly1305::Verify(key.data(), in.data(), in.size(), want.data()));
            } else {
                const TBytes nonce = FromHex(v.at("Nonce")), aad = FromHex(v.at("Aad"));
                TBytes out(in.size()), back(in.size());
                uint8_t tag[16];
                ChaCha20Poly1305Seal(key.data(), nonce.data(), aad.data(), aad.size(), in.data(), in.size(),
                                     out.data(), tag);
                EXPECT_EQ(ToHex(out), v.at("Out"));
                EXPECT_EQ(ToHex(tag, 16), v.at("Tag"));
                ASSERT_TRUE(ChaCha20Poly1305Open(key.data(), nonce.data(), aad.data(), aad.size(), out.data(),
                                                 out.size(), tag, back.data()));
                EXPECT_EQ(back, in);
            }
        }
    });
}

TEST(ChaChaPolyTest, ChaCha20MatchesNettleInBothLayouts) {
    std::mt19937_64 rng(8439);
    OnEveryPath([&] {
        for (int round = 0; round < 120; ++round) {
            const TBytes key = RandomBytes(rng, 32), nonce = RandomBytes(rng, 12);
            // Long enough for the 16-block and 8-block kernels, cut so each call may use either.
            const size_t len = rng() % 3000;
            const TBytes in = RandomBytes(rng, len);
            // Every fourth round starts just below a 32-bit counter boundary, where the 64-bit
            // layout must carry and the 96-bit layout must wrap.
            uint64_t counter = rng();
            if (round % 4 == 0) counter = (counter & 0xffffffff00000000ULL) | (0xffffffffULL - rng() % 12);
            const bool wide = round % 2 == 0;

            TChaCha20 c;
            c.SetKey(key.data());
            TBytes want(len), got(len);
            chacha_ctx n;
            chacha_set_key(&n, key.data());
            if (wide) {
                c.SetNonce64(nonce.data(), counter);
                want = NettleChaCha64(key.data(), nonce.data(), counter, in);
            } else {
                c.SetNonce96(nonce.data(), uint32_t(counter));
                chacha_set_nonce96(&n, nonce.data());
                uint8_t ctr[4];
                for (int i = 0; i < 4; ++i) ctr[i] = uint8_t(counter >> (8 * i));
                chacha_set_counter32(&n, ctr);
                chacha_crypt32(&n, len, want.data(), in.data());
            }
            size_t at = 0;
            for (size_t part : RandomSplit(rng, len, 1600)) {
                c.Crypt(in.data() + at, got.data() + at, part);
                at += part;
            }
            ASSERT_EQ(ToHex(got), ToHex(want)) << "round " << round << " length " << len;
        }
    });
}

TEST(ChaChaPolyTest, Poly1305AndAeadMatchNettle) {
    std::mt19937_64 rng(1305);
    OnEveryPath([&] {
        for (int round = 0; round < 300; ++round) {
            TBytes key = RandomBytes(rng, 32);
            // Some keys with every r bit that clamping keeps set, and pads of all ones, to reach
            // the carries at the top of the accumulator.
            if (round % 5 == 0) std::fill(key.begin(), key.end(), 0xff);
            const size_t len = rng() % 1500;
            TBytes msg = RandomBytes(rng, len);
            if (round % 7 == 0) std::fill(msg.begin(), msg.end(), 0xff);
            TPoly1305 p(key.data());
            size_t at = 0;
            // Chunks short and long, so runs of blocks take the one-block code and every wide one.
            static const size_t maxChunk[] = {40, 400, 1200};
            for (size_t part : RandomSplit(rng, len, maxChunk[round % 3])) {
                p.Update(msg.data() + at, part);
                at += part;
            }
            uint8_t tag[16];
            p.Final(tag);
            ASSERT_EQ(ToHex(tag, 16), ToHex(NettlePoly1305(key.data(), msg))) << "round " << round;
        }
    });
    for (int round = 0; round < 100; ++round) {
        const TBytes key = RandomBytes(rng, 32), nonce = RandomBytes(rng, 12);
        const TBytes aad = RandomBytes(rng, rng() % 40), msg = RandomBytes(rng, rng() % 1000);
        chacha_poly1305_ctx n;
        chacha_poly1305_set_key(&n, key.data());
        chacha_poly1305_set_nonce(&n, nonce.data());
        chacha_poly1305_update(&n, aad.size(), aad.data());
        TBytes want(msg.size()), got(msg.size());
        uint8_t wantTag[16], gotTag[16];
        chacha_poly1305_encrypt(&n, msg.size(), want.data(), msg.data());
        chacha_poly1305_digest(&n, 16, wantTag);
        ChaCha20Poly1305Seal(key.data(), nonce.data(), aad.data(), aad.size(), msg.data(), msg.size(),
                             got.data(), gotTag);
        ASSERT_EQ(ToHex(got), ToHex(want));
        ASSERT_EQ(ToHex(gotTag, 16), ToHex(wantTag, 16));
    }
}

// The OpenSSH construction assembled by hand from nettle's ChaCha20 and Poly1305.
TEST(ChaChaPolyTest, OpenSshPacketsMatchNettleAssembly) {
    std::mt19937_64 rng(4344);
    OnEveryPath([&] {
        for (int round = 0; round < 60; ++round) {
            const TBytes key = RandomBytes(rng, 64);
            const uint64_t seqnr = round < 3 ? uint64_t(round) : rng() % 0x100000000ULL;
            const size_t len = 4 + rng() % 1200;
            TBytes packet = RandomBytes(rng, len);
            packet[0] = uint8_t((len - 4) >> 24);
            packet[1] = uint8_t((len - 4) >> 16);
            packet[2] = uint8_t((len - 4) >> 8);
            packet[3] = uint8_t(len - 4);

            uint8_t nonce[8];
            for (int i = 0; i < 8; ++i) nonce[i] = uint8_t(seqnr >> (56 - 8 * i));
            TBytes want =
                NettleChaCha64(key.data() + 32, nonce, 0, TBytes(packet.begin(), packet.begin() + 4));
            const TBytes body =
                NettleChaCha64(key.data(), nonce, 1, TBytes(packet.begin() + 4, packet.end()));
            want.insert(want.end(), body.begin(), body.end());
            const TBytes polyKey = NettleChaCha64(key.data(), nonce, 0, TBytes(32));
            const TBytes wantTag = NettlePoly1305(polyKey.data(), want);

            TChaChaPolyOpenSsh c;
            c.SetKey(key.data());
            TBytes got(len);
            uint8_t tag[16];
            c.Seal(seqnr, packet.data(), len, got.data(), tag);
            ASSERT_EQ(ToHex(got), ToHex(want)) << "round " << round;
            ASSERT_EQ(ToHex(tag, 16), ToHex(wantTag));

            EXPECT_EQ(c.DecryptLength(seqnr, got.data()), uint32_t(len - 4));
            // Decrypt in place, as the transport does with its receive buffer.
            ASSERT_TRUE(c.Open(seqnr, got.data(), len, tag, got.data()));
            ASSERT_EQ(got, packet);
        }
    });
}

TEST(ChaChaPolyTest, OneFlippedBitIsRejected) {
    std::mt19937_64 rng(99);
    const TBytes key = RandomBytes(rng, 64), packet = RandomBytes(rng, 4 + 45);
    TChaChaPolyOpenSsh c;
    c.SetKey(key.data());
    TBytes sealed(packet.size());
    uint8_t tag[16];
    c.Seal(7, packet.data(), packet.size(), sealed.data(), tag);

    // Every bit of the encrypted packet (length included) and of the tag.
    TBytes wire = sealed;
    wire.insert(wire.end(), tag, tag + 16);
    for (size_t bit = 0; bit < wire.size() * 8; ++bit) {
        TBytes forged = wire;
        forged[bit / 8] ^= uint8_t(1u << (bit % 8));
        TBytes out(packet.size(), 0xAA);
        ASSERT_FALSE(c.Open(7, forged.data(), packet.size(), forged.data() + packet.size(), out.data()))
            << "bit " << bit;
        ASSERT_EQ(out, TBytes(packet.size(), 0xAA)) << "output written on failure, bit " << bit;
    }
    // A "packet" shorter than its own length field is refused, not read past.
    uint8_t shortOut[3];
    EXPECT_THROW(c.Seal(7, packet.data(), 3, shortOut, tag), ENvCipherError);
    EXPECT_FALSE(c.Open(7, sealed.data(), 3, tag, shortOut));
    // The right tag under another sequence number is a forgery too.
    TBytes out(packet.size());
    EXPECT_FALSE(c.Open(8, sealed.data(), sealed.size(), tag, out.data()));
    EXPECT_TRUE(c.Open(7, sealed.data(), sealed.size(), tag, out.data()));

    // The RFC 8439 AEAD: flips in the aad, ciphertext and tag.
    const TBytes k = RandomBytes(rng, 32), n = RandomBytes(rng, 12), aad = RandomBytes(rng, 13);
    TBytes ct(packet.size());
    uint8_t t[16];
    ChaCha20Poly1305Seal(k.data(), n.data(), aad.data(), aad.size(), packet.data(), packet.size(), ct.data(),
                         t);
    TBytes all = aad;
    all.insert(all.end(), ct.begin(), ct.end());
    all.insert(all.end(), t, t + 16);
    for (size_t bit = 0; bit < all.size() * 8; ++bit) {
        TBytes f = all;
        f[bit / 8] ^= uint8_t(1u << (bit % 8));
        ASSERT_FALSE(ChaCha20Poly1305Open(k.data(), n.data(), f.data(), aad.size(), f.data() + aad.size(),
                                          ct.size(), f.data() + aad.size() + ct.size(), out.data()))
            << "bit " << bit;
    }
}
