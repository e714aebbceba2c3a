// CRC-32 of protocol 1: the defining example, and the table against zlib's CRC, which is the same
// polynomial with the inversions this variant leaves out.
#include "ssh/crypto/Crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

using namespace Varnello::Crypto;

TEST(Crc32Test, DefinitionAndPieces) {
    EXPECT_EQ(Crc32("abc", 3), 0xCA6598D0u);
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32("c", 1, Crc32("ab", 2)), 0xCA6598D0u);

    std::mt19937_64 gen(3309);
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> data(gen() % 3000);
        for (auto& b : data) b = uint8_t(gen());
        const uint32_t zlibCrc = uint32_t(crc32(0, data.data(), uInt(data.size())));
        EXPECT_EQ(Crc32(data.data(), data.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu, zlibCrc);
        const size_t cut = data.empty() ? 0 : gen() % data.size();
        EXPECT_EQ(Crc32(data.data() + cut, data.size() - cut, Crc32(data.data(), cut)),
                  Crc32(data.data(), data.size()));
    }
}
