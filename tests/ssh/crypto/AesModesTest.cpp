// AES-CTR and AES-GCM: published vectors, nettle cross-checks on random keys, counters and
// lengths split across calls, the RFC 4344 and RFC 5647 counter rules, and GCM forgeries.
// Everything runs on the hardware path (when present) and forced portable.
#include "ssh/crypto/AesCtr.h"
#include "ssh/crypto/AesGcm.h"
#include "ssh/crypto/CipherError.h"
#include "ssh/crypto/CpuFeatures.h"

#include "ModernTestSupport.h"

#include <gtest/gtest.h>
#include <nettle/aes.h>
#include <nettle/ctr.h>
#include <nettle/gcm.h>

#include <cstring>

using namespace Varnello::Crypto;
using namespace Varnello::Crypto::Testing;

namespace {

// The fastest path, the 128-bit GCM kernel where a wider one exists, and the portable code.
template <class F> void OnEveryPath(F body) {
    {
        SCOPED_TRACE("default path");
        body();
    }
    {
        SCOPED_TRACE("128-bit AES-NI GCM kernel");
        LimitGcmKernel(TGcmKernel::gkAesNi);
        body();
        LimitGcmKernel(TGcmKernel::gkFastest);
    }
    TPortableCryptoScope portable;
    SCOPED_TRACE("portable path");
    body();
}

TBytes NettleCtr(const TBytes& key, const TBytes& counter, const TBytes& in) {
    TBytes out(in.size()), ctr = counter;
    if (key.size() == 16) {
        aes128_ctx c;
        aes128_set_encrypt_key(&c, key.data());
        ctr_crypt(&c, (nettle_cipher_func*)aes128_encrypt, 16, ctr.data(), in.size(), out.data(), in.data());
    } else {
        aes256_ctx c;
        aes256_set_encrypt_key(&c, key.data());
        ctr_crypt(&c, (nettle_cipher_func*)aes256_encrypt, 16, ctr.data(), in.size(), out.data(), in.data());
    }
    return out;
}

TBytes NettleGcm(const TBytes& key, const TBytes& nonce, const TBytes& aad, const TBytes& in,
                 uint8_t tag[16]) {
    TBytes out(in.size());
    if (key.size() == 16) {
        gcm_aes128_ctx c;
        gcm_aes128_set_key(&c, key.data());
        gcm_aes128_set_iv(&c, 12, nonce.data());
        gcm_aes128_update(&c, aad.size(), aad.data());
        gcm_aes128_encrypt(&c, in.size(), out.data(), in.data());
        gcm_aes128_digest(&c, 16, tag);
    } else {
        gcm_aes256_ctx c;
        gcm_aes256_set_key(&c, key.data());
        gcm_aes256_set_iv(&c, 12, nonce.data());
        gcm_aes256_update(&c, aad.size(), aad.data());
        gcm_aes256_encrypt(&c, in.size(), out.data(), in.data());
        gcm_aes256_digest(&c, 16, tag);
    }
    return out;
}

} // namespace

TEST(AesModesTest, PublishedVectors) {
    const auto vectors = ReadVectors("aes-modes.vec");
    ASSERT_EQ(vectors.size(), 15u);
    OnEveryPath([&] {
        for (const auto& v : vectors) {
            const TBytes key = FromHex(v.at("Key")), in = FromHex(v.at("In"));
            TBytes out(in.size());
            if (v.at("Section") == "AES-CTR") {
                TAesCtr c;
                c.SetKey(key.data(), key.size());
                c.SetCounter(FromHex(v.at("Counter")).data());
                // Cut mid-block, then in place: the stream continues.
                c.Crypt(in.data(), out.data(), 5);
                std::memcpy(out.data() + 5, in.data() + 5, in.size() - 5);
                c.Crypt(out.data() + 5, out.data() + 5, in.size() - 5);
                EXPECT_EQ(ToHex(out), v.at("Out")) << "key " << v.at("Key");
            } else {
                const TBytes nonce = FromHex(v.at("Nonce")), aad = FromHex(v.at("Aad"));
                TAesGcm g;
                g.SetKey(key.data(), key.size());
                g.SetNonce(nonce.data());
                uint8_t tag[16];
                g.Seal(aad.data(), aad.size(), in.data(), in.size(), out.data(), tag);
                EXPECT_EQ(ToHex(out), v.at("Out")) << "key " << v.at("Key") << " in " << v.at("In");
                EXPECT_EQ(ToHex(tag, 16), v.at("Tag")) << "key " << v.at("Key") << " in " << v.at("In");
                g.SetNonce(nonce.data());
                TBytes back(in.size());
                EXPECT_TRUE(g.Open(aad.data(), aad.size(), out.data(), out.size(), tag, back.data()));
                EXPECT_EQ(back, in);
            }
        }
    });
}

TEST(AesModesTest, CtrMatchesNettleAcrossCounterCarries) {
    std::mt19937_64 rng(4344);
    OnEveryPath([&] {
        for (int round = 0; round < 120; ++round) {
            const TBytes key = RandomBytes(rng, round % 2 ? 16 : 32);
            TBytes counter = RandomBytes(rng, 16);
            // Start a few blocks below a carry out of the low 64 bits, or out of all 128 bits.
            if (round % 3 == 0) std::fill(counter.begin() + 8, counter.end(), 0xff);
            if (round % 9 == 0) std::fill(counter.begin(), counter.end(), 0xff);
            if (round % 3 == 0) counter[15] = uint8_t(0xff - rng() % 10);
            const size_t len = rng() % 1500;
            const TBytes in = RandomBytes(rng, len);
            TAesCtr c;
            c.SetKey(key.data(), key.size());
            c.SetCounter(counter.data());
            TBytes out(len);
            size_t at = 0;
            for (size_t part : RandomSplit(rng, len, 300)) {
                c.Crypt(in.data() + at, out.data() + at, part);
                at += part;
            }
            ASSERT_EQ(ToHex(out), ToHex(NettleCtr(key, counter, in))) << "round " << round;
        }
    });
    // One long call across the carry out of the low 64 bits, and across the wrap of all 128.
    OnEveryPath([&] {
        for (const char* start : {"0123456789abcdeffffffffffffffffd", "fffffffffffffffffffffffffffffffe"}) {
            const TBytes key = RandomBytes(rng, 16), counter = FromHex(start), in = RandomBytes(rng, 1000);
            TAesCtr c;
            c.SetKey(key.data(), 16);
            c.SetCounter(counter.data());
            TBytes out(in.size());
            c.Crypt(in.data(), out.data(), in.size());
            ASSERT_EQ(ToHex(out), ToHex(NettleCtr(key, counter, in))) << "from " << start;
        }
    });
    // RFC 4344: all ones wraps to all zeros, carrying through every byte.
    TAesCtr c;
    const TBytes key(16, 1);
    c.SetKey(key.data(), 16);
    TBytes ones(16, 0xff), zero(16, 0), counter(16);
    c.SetCounter(ones.data());
    uint8_t block[16] = {};
    c.Crypt(block, block, 16);
    c.GetCounter(counter.data());
    EXPECT_EQ(counter, zero);
}

TEST(AesModesTest, GcmMatchesNettle) {
    std::mt19937_64 rng(38);
    OnEveryPath([&] {
        for (int round = 0; round < 120; ++round) {
            const TBytes key = RandomBytes(rng, round % 2 ? 16 : 32), nonce = RandomBytes(rng, 12);
            const TBytes aad = RandomBytes(rng, round % 4 == 0 ? 4 : rng() % 70);
            // Up to 40 blocks and a tail: the 16-block steps, the 8-block steps and single blocks.
            const size_t len = rng() % 650;
            const TBytes in = RandomBytes(rng, len);
            uint8_t want[16], got[16];
            const TBytes expect = NettleGcm(key, nonce, aad, in, want);
            TAesGcm g;
            g.SetKey(key.data(), key.size());
            g.SetNonce(nonce.data());
            TBytes out = in; // in place
            g.Seal(aad.data(), aad.size(), out.data(), len, out.data(), got);
            ASSERT_EQ(ToHex(out), ToHex(expect)) << "round " << round << " length " << len;
            ASSERT_EQ(ToHex(got, 16), ToHex(want, 16)) << "round " << round << " length " << len;
            g.SetNonce(nonce.data());
            ASSERT_TRUE(g.Open(aad.data(), aad.size(), out.data(), len, got, out.data()));
            ASSERT_EQ(out, in);
        }
    });
}

TEST(AesModesTest, GcmInvocationCounterAdvancesPerPacket) {
    std::mt19937_64 rng(5647);
    const TBytes key = RandomBytes(rng, 16);
    TBytes nonce = FromHex("01020304"
                           "00000000000000fe");
    TAesGcm sender, receiver;
    sender.SetKey(key.data(), 16);
    receiver.SetKey(key.data(), 16);
    sender.SetNonce(nonce.data());
    receiver.SetNonce(nonce.data());
    for (int packet = 0; packet < 4; ++packet) {
        const TBytes length = RandomBytes(rng, 4), body = RandomBytes(rng, 48);
        TBytes sealed(body.size()), opened(body.size());
        uint8_t tag[16], want[16];
        // Each packet must use the nonce with the invocation counter advanced by one per packet.
        const TBytes expect = NettleGcm(key, nonce, length, body, want);
        sender.Seal(length.data(), 4, body.data(), body.size(), sealed.data(), tag);
        ASSERT_EQ(ToHex(sealed), ToHex(expect)) << "packet " << packet;
        ASSERT_EQ(ToHex(tag, 16), ToHex(want, 16));
        ASSERT_TRUE(receiver.Open(length.data(), 4, sealed.data(), sealed.size(), tag, opened.data()));
        ASSERT_EQ(opened, body);
        for (int i = 11; i >= 4 && ++nonce[i] == 0; --i) {
        }
    }
    TBytes now(12);
    sender.GetNonce(now.data());
    EXPECT_EQ(ToHex(now), "010203040000000000000102");
    // The 64-bit counter wraps without touching the fixed field.
    const TBytes top = FromHex("a1b2c3d4ffffffffffffffff");
    sender.SetNonce(top.data());
    uint8_t tag[16];
    sender.Seal(nullptr, 0, nullptr, 0, nullptr, tag);
    sender.GetNonce(now.data());
    EXPECT_EQ(ToHex(now), "a1b2c3d40000000000000000");
}

TEST(AesModesTest, UseWithoutKeyThrowsBeforeWriting) {
    uint8_t buf[64] = {1, 2, 3}, tag[16];
    const TBytes before(buf, buf + 64);
    TAesCtr ctr;
    EXPECT_THROW(ctr.Crypt(buf, buf, 64), ENvCipherError);
    TAesGcm gcm;
    EXPECT_THROW(gcm.Seal(nullptr, 0, buf, 64, buf, tag), ENvCipherError);
    EXPECT_EQ(TBytes(buf, buf + 64), before);
}

TEST(AesModesTest, GcmOneFlippedBitIsRejected) {
    std::mt19937_64 rng(128);
    const TBytes key = RandomBytes(rng, 16), nonce = RandomBytes(rng, 12), aad = RandomBytes(rng, 4);
    const TBytes body = RandomBytes(rng, 37);
    OnEveryPath([&] {
        TAesGcm g;
        g.SetKey(key.data(), 16);
        g.SetNonce(nonce.data());
        TBytes sealed(body.size());
        uint8_t tag[16];
        g.Seal(aad.data(), aad.size(), body.data(), body.size(), sealed.data(), tag);
        TBytes wire = aad;
        wire.insert(wire.end(), sealed.begin(), sealed.end());
        wire.insert(wire.end(), tag, tag + 16);
        for (size_t bit = 0; bit < wire.size() * 8; ++bit) {
            TBytes f = wire;
            f[bit / 8] ^= uint8_t(1u << (bit % 8));
            TBytes out(body.size(), 0xAA);
            g.SetNonce(nonce.data());
            ASSERT_FALSE(
                g.Open(f.data(), 4, f.data() + 4, body.size(), f.data() + 4 + body.size(), out.data()))
                << "bit " << bit;
            ASSERT_EQ(out, TBytes(body.size(), 0)) << "plaintext left behind, bit " << bit;
        }
        // The right packet under the next nonce (a replay one packet later) fails too.
        TBytes out(body.size());
        EXPECT_FALSE(g.Open(aad.data(), 4, sealed.data(), sealed.size(), tag, out.data()));
    });
}
