// The MAC table: entries, the MAC input (sequence number then packet), truncation of the -96
// forms, and verification that refuses any changed bit.
#include "ssh/crypto/MacSuite.h"
#include "ssh/crypto/Hmac.h"
#include "ssh/crypto/Md5.h"
#include "ssh/crypto/Sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Varnello::Crypto;

TEST(MacSuiteTest, TableOrderAndSizes) {
    const std::vector<std::string> names = {"hmac-sha1", "hmac-sha1-96", "hmac-md5", "hmac-md5-96", "none"};
    const size_t keys[] = {20, 20, 16, 16, 0}, macs[] = {20, 12, 16, 12, 0};
    auto table = MacTable();
    ASSERT_GE(table.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(table[i].Name, names[i]);
        EXPECT_EQ(table[i].KeyBytes, keys[i]);
        EXPECT_EQ(table[i].MacBytes, macs[i]);
        EXPECT_TRUE(table[i].Enabled);
        EXPECT_EQ(FindMac(names[i]), &table[i]);
    }
    EXPECT_EQ(FindMac("hmac-sha2-1"), nullptr);
}

TEST(MacSuiteTest, ComputesOverSequenceAndPacketAndTruncates) {
    std::vector<uint8_t> key(20), packet(300);
    for (size_t i = 0; i < key.size(); ++i) key[i] = uint8_t(0x30 + i);
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = uint8_t(i * 13);
    const uint32_t seq = 0x01020304;
    std::vector<uint8_t> input = {1, 2, 3, 4};
    input.insert(input.end(), packet.begin(), packet.end());
    uint8_t sha[20], md5[16];
    THmac<TSha1>::Compute(key.data(), 20, input.data(), input.size(), sha);
    THmac<TMd5>::Compute(key.data(), 16, input.data(), input.size(), md5);

    for (const TMacInfo& info : MacTable()) {
        if (info.Name == "none") continue;
        SCOPED_TRACE(std::string(info.Name));
        auto mac = info.Create(key.data());
        ASSERT_EQ(mac->MacSize(), info.MacBytes);
        for (int round = 0; round < 2; ++round) { // the context is reused packet after packet
            uint8_t out[64] = {};
            mac->Compute(seq, packet.data(), packet.size(), out);
            const uint8_t* full = info.Name.starts_with("hmac-sha1") ? sha : md5;
            EXPECT_EQ(std::vector<uint8_t>(out, out + info.MacBytes),
                      std::vector<uint8_t>(full, full + info.MacBytes));
            EXPECT_EQ(out[info.MacBytes], 0); // nothing written past the MAC
        }
    }
}

TEST(MacSuiteTest, VerifyRefusesEveryChangedBit) {
    const uint8_t key[20] = {9, 8, 7};
    const std::vector<uint8_t> packet(77, 0x5A);
    for (const TMacInfo& info : MacTable()) {
        SCOPED_TRACE(std::string(info.Name));
        auto mac = info.Create(key);
        uint8_t good[64];
        mac->Compute(7, packet.data(), packet.size(), good);
        EXPECT_TRUE(mac->Verify(7, packet.data(), packet.size(), good));
        if (info.MacBytes == 0) {
            uint8_t junk[4] = {1, 2, 3, 4};
            EXPECT_TRUE(mac->Verify(99, packet.data(), packet.size(), junk)); // "none" always succeeds
            continue;
        }
        EXPECT_FALSE(mac->Verify(8, packet.data(), packet.size(), good));
        for (size_t bit = 0; bit < info.MacBytes * 8; ++bit) {
            good[bit / 8] ^= uint8_t(1 << (bit % 8));
            EXPECT_FALSE(mac->Verify(7, packet.data(), packet.size(), good)) << bit;
            good[bit / 8] ^= uint8_t(1 << (bit % 8));
        }
        std::vector<uint8_t> changed = packet;
        changed[40] ^= 1;
        EXPECT_FALSE(mac->Verify(7, changed.data(), changed.size(), good));
    }
}
