// SHA-256, SHA-512 and their HMACs: published vectors on every code path, the SHA-NI compression
// against the portable one, and incremental hashing against nettle on random inputs.
#include "ssh/crypto/CpuFeatures.h"
#include "ssh/crypto/HmacSha2.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/Sha512.h"

#include "ModernTestSupport.h"

#include <gtest/gtest.h>
#include <nettle/hmac.h>
#include <nettle/sha2.h>

using namespace Varnello::Crypto;
using namespace Varnello::Crypto::Testing;

namespace {

// Runs body once on the accelerated path (when present) and once forced portable.
template <class F> void OnEveryPath(F body) {
    {
        SCOPED_TRACE("default path");
        body();
    }
    TPortableCryptoScope portable;
    SCOPED_TRACE("portable path");
    body();
}

template <class THash> std::string HashOf(const TBytes& msg, size_t repeat) {
    THash h;
    for (size_t i = 0; i < repeat; ++i) h.Update(msg.data(), msg.size());
    uint8_t d[THash::DigestSize];
    h.Final(d);
    return ToHex(d, sizeof(d));
}

} // namespace

TEST(Sha2Test, PublishedVectors) {
    const auto vectors = ReadVectors("sha2.vec");
    ASSERT_EQ(vectors.size(), 10u);
    OnEveryPath([&] {
        for (const auto& v : vectors) {
            const TBytes in = FromHex(v.at("In"));
            const size_t repeat = v.count("Repeat") ? std::stoul(v.at("Repeat")) : 1;
            const std::string got =
                v.at("Section") == "SHA-256" ? HashOf<TSha256>(in, repeat) : HashOf<TSha512>(in, repeat);
            EXPECT_EQ(got, v.at("Out")) << v.at("Section") << " of " << v.at("In");
        }
    });
}

TEST(Sha2Test, HmacRfc4231) {
    const auto vectors = ReadVectors("hmac-sha2.vec");
    ASSERT_EQ(vectors.size(), 14u);
    OnEveryPath([&] {
        for (const auto& v : vectors) {
            const TBytes key = FromHex(v.at("Key")), in = FromHex(v.at("In")), want = FromHex(v.at("Out"));
            uint8_t mac[64];
            if (v.at("Section") == "HMAC-SHA-256") {
                THmacSha256::Compute(key.data(), key.size(), in.data(), in.size(), mac);
            } else {
                // Keyed once, used twice: Final must leave the context ready for the next message.
                THmacSha512 h(key.data(), key.size());
                h.Update(in.data(), 3);
                h.Final(mac);
                h.Update(in.data(), in.size());
                h.Final(mac);
            }
            EXPECT_EQ(ToHex(mac, want.size()), v.at("Out")) << v.at("Section") << " key " << v.at("Key");
        }
    });
}

TEST(Sha2Test, ShaNiCompressionMatchesPortable) {
    if (!DetectedCpuFeatures().ShaNi) GTEST_SKIP() << "processor has no SHA extensions";
    std::mt19937_64 rng(256);
    for (int round = 0; round < 200; ++round) {
        const size_t blocks = 1 + rng() % 9;
        const TBytes data = RandomBytes(rng, blocks * 64);
        uint32_t a[8], b[8];
        for (int i = 0; i < 8; ++i) a[i] = b[i] = uint32_t(rng());
        Sha256CompressPortable(a, data.data(), blocks);
        Sha256CompressShaNi(b, data.data(), blocks);
        ASSERT_EQ(0, memcmp(a, b, sizeof(a))) << "round " << round;
    }
}

TEST(Sha2Test, IncrementalMatchesNettle) {
    std::mt19937_64 rng(180);
    OnEveryPath([&] {
        for (int round = 0; round < 150; ++round) {
            const size_t len = rng() % 2500;
            const TBytes msg = RandomBytes(rng, len);
            const TBytes key = RandomBytes(rng, rng() % 200);
            uint8_t ours[64], theirs[64];

            TSha256 s256;
            TSha512 s512;
            THmacSha256 h256(key.data(), key.size());
            THmacSha512 h512(key.data(), key.size());
            size_t at = 0;
            // Short pieces, or long ones that hand the compression several blocks at a time.
            for (size_t part : RandomSplit(rng, len, round % 2 ? 200 : 1500)) {
                s256.Update(msg.data() + at, part);
                s512.Update(msg.data() + at, part);
                h256.Update(msg.data() + at, part);
                h512.Update(msg.data() + at, part);
                at += part;
            }

            sha256_ctx n256;
            sha256_init(&n256);
            sha256_update(&n256, len, msg.data());
            sha256_digest(&n256, 32, theirs);
            s256.Final(ours);
            ASSERT_EQ(ToHex(ours, 32), ToHex(theirs, 32)) << "sha256 length " << len;

            sha512_ctx n512;
            sha512_init(&n512);
            sha512_update(&n512, len, msg.data());
            sha512_digest(&n512, 64, theirs);
            s512.Final(ours);
            ASSERT_EQ(ToHex(ours, 64), ToHex(theirs, 64)) << "sha512 length " << len;

            hmac_sha256_ctx m256;
            hmac_sha256_set_key(&m256, key.size(), key.data());
            hmac_sha256_update(&m256, len, msg.data());
            hmac_sha256_digest(&m256, 32, theirs);
            h256.Final(ours);
            ASSERT_EQ(ToHex(ours, 32), ToHex(theirs, 32)) << "hmac-sha256 length " << len;

            hmac_sha512_ctx m512;
            hmac_sha512_set_key(&m512, key.size(), key.data());
            hmac_sha512_update(&m512, len, msg.data());
            hmac_sha512_digest(&m512, 64, theirs);
            h512.Final(ours);
            ASSERT_EQ(ToHex(ours, 64), ToHex(theirs, 64)) << "hmac-sha512 length " << len;
        }
    });
}
