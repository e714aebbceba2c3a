// The random generator: RC4 output after the 3072 dropped bytes (against nettle's RC4), seeding on
// first use, and independent contexts.
#include "ssh/crypto/Random.h"

#include <gtest/gtest.h>
#include <nettle/arcfour.h>

#include <vector>

using namespace Varnello::Crypto;

TEST(RandomTest, OutputIsTheRc4StreamAfterTheDroppedBytes) {
    for (size_t keyLen : {5u, 16u, 256u}) {
        std::vector<uint8_t> key(keyLen);
        for (size_t i = 0; i < keyLen; ++i) key[i] = uint8_t(i * 31 + 7);
        TRandom rng;
        rng.SeedWith(key.data(), key.size());
        std::vector<uint8_t> ours(1000);
        rng.Fill(ours.data(), 500);
        for (size_t i = 500; i < 1000; ++i) ours[i] = rng.NextByte();

        arcfour_ctx rc4;
        arcfour_set_key(&rc4, keyLen, key.data());
        std::vector<uint8_t> stream(TRandom::DroppedBytes + 1000, 0);
        arcfour_crypt(&rc4, stream.size(), stream.data(), stream.data());
        EXPECT_EQ(ours, std::vector<uint8_t>(stream.begin() + TRandom::DroppedBytes, stream.end())) << keyLen;
    }
    TRandom rng;
    EXPECT_THROW(rng.SeedWith(nullptr, 0), std::invalid_argument);
    std::vector<uint8_t> tooLong(257);
    EXPECT_THROW(rng.SeedWith(tooLong.data(), tooLong.size()), std::invalid_argument);
}

TEST(RandomTest, SeedsItselfAtFirstUseFromTheSystem) {
    TRandom a, b;
    EXPECT_FALSE(a.IsSeeded());
    std::vector<uint8_t> x(64), y(64);
    a.Fill(x.data(), x.size());
    EXPECT_TRUE(a.IsSeeded());
    b.NextByte();
    EXPECT_TRUE(b.IsSeeded());
    b.Fill(y.data(), y.size());
    EXPECT_NE(x, y); // two 256-byte system seeds: equal streams would mean a fixed seed

    TRandom& shared = TRandom::Shared();
    EXPECT_EQ(&shared, &TRandom::Shared());
    shared.Fill(x.data(), x.size());
    EXPECT_TRUE(shared.IsSeeded());
}
