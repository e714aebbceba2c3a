// The zlib wrapper: one stream over several packets, interoperation with plain zlib in both
// directions, the level rule, the 64 KiB chunks, the 65536-byte limit and the failure texts.
#include "ssh/crypto/Compression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

using namespace Varnello::Crypto;

namespace {

std::vector<uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

std::vector<uint8_t> RandomBytes(size_t n, uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(gen());
    return v;
}

const std::vector<std::vector<uint8_t>> Packets = {
    Text("SSH_MSG_CHANNEL_DATA: the first packet of a session, the first packet of a session"),
    Text("the second packet repeats the first packet of a session and refers back to it"),
    Text("third: a session, a packet, a session, a packet"),
};

} // namespace

TEST(CompressionTest, OneStreamCarriesThreePackets) {
    TCompressor c;
    c.Init(6);
    TDecompressor kept;
    kept.Init();
    std::vector<std::vector<uint8_t>> wire;
    for (const auto& p : Packets) {
        std::vector<uint8_t> payload = p;
        c.Compress(payload); // in place, as the transport uses it
        wire.push_back(payload);
        std::vector<uint8_t> out;
        kept.Decompress(wire.back().data(), wire.back().size(), out);
        EXPECT_EQ(out, p);
    }
    // Later packets refer back into the shared window: a decompressor started afresh cannot read them.
    TDecompressor fresh;
    fresh.Init();
    std::vector<uint8_t> out;
    try {
        fresh.Decompress(wire[1].data(), wire[1].size(), out);
        FAIL() << "a fresh stream decoded a later packet";
    } catch (const ECompressionError& e) {
        EXPECT_EQ(std::string(e.what()), "Decompression failed, inflate returned [-3]");
    }
}

TEST(CompressionTest, InteroperatesWithPlainZlib) {
    // Ours to zlib: a peer inflating with sync flush sees each packet whole.
    TCompressor c;
    c.Init(9);
    z_stream in{};
    ASSERT_EQ(inflateInit(&in), Z_OK);
    for (const auto& p : Packets) {
        std::vector<uint8_t> wire;
        c.Compress(p.data(), p.size(), wire);
        std::vector<uint8_t> out(p.size() + 64);
        in.next_in = wire.data();
        in.avail_in = uInt(wire.size());
        in.next_out = out.data();
        in.avail_out = uInt(out.size());
        ASSERT_EQ(inflate(&in, Z_SYNC_FLUSH), Z_OK);
        EXPECT_EQ(in.avail_in, 0u);
        out.resize(out.size() - in.avail_out);
        EXPECT_EQ(out, p);
    }
    inflateEnd(&in);

    // zlib to ours: a peer deflating with partial flush.
    z_stream def{};
    ASSERT_EQ(deflateInit(&def, 3), Z_OK);
    TDecompressor d;
    d.Init();
    for (const auto& p : Packets) {
        std::vector<uint8_t> wire(p.size() + 128);
        def.next_in = const_cast<Bytef*>(p.data());
        def.avail_in = uInt(p.size());
        def.next_out = wire.data();
        def.avail_out = uInt(wire.size());
        ASSERT_EQ(deflate(&def, Z_PARTIAL_FLUSH), Z_OK);
        wire.resize(wire.size() - def.avail_out);
        std::vector<uint8_t> out;
        d.Decompress(wire.data(), wire.size(), out);
        EXPECT_EQ(out, p);
    }
    deflateEnd(&def);
}

TEST(CompressionTest, LevelsOutsideOneToNineBecomeSix) {
    const std::vector<uint8_t> data = RandomBytes(3000, 1);
    std::vector<uint8_t> text;
    for (int i = 0; i < 200; ++i) text.insert(text.end(), data.begin(), data.begin() + 10 + i % 40);
    std::vector<uint8_t> six;
    TCompressor ref;
    ref.Init(6);
    ref.Compress(text.data(), text.size(), six);
    for (int level : {0, 10, -1, 100}) {
        TCompressor c;
        c.Init(level);
        EXPECT_EQ(c.Level(), 6) << level;
        std::vector<uint8_t> out;
        c.Compress(text.data(), text.size(), out);
        EXPECT_EQ(out, six) << level;
    }
    TCompressor one;
    one.Init(1);
    EXPECT_EQ(one.Level(), 1);
}

TEST(CompressionTest, LargePayloadsAndTheDecompressedLimit) {
    // Incompressible payloads larger than a work chunk come out whole.
    TCompressor c;
    c.Init(6);
    TDecompressor d;
    d.Init();
    for (size_t size : {size_t(65536), size_t(1) << 17}) {
        const std::vector<uint8_t> big = RandomBytes(size, size);
        std::vector<uint8_t> wire, out;
        c.Compress(big.data(), big.size(), wire);
        EXPECT_GT(wire.size(), TCompressor::ChunkSize);
        if (size <= TDecompressor::MaxPacket) {
            d.Decompress(wire.data(), wire.size(), out);
            EXPECT_EQ(out, big);
        } else {
            EXPECT_THROW(d.Decompress(wire.data(), wire.size(), out), ECompressionError);
        }
    }
    // A tiny packet that inflates to one byte over the limit is refused, not cut.
    TCompressor bomb;
    bomb.Init(9);
    const std::vector<uint8_t> zeros(TDecompressor::MaxPacket + 1, 0);
    std::vector<uint8_t> wire, out;
    bomb.Compress(zeros.data(), zeros.size(), wire);
    EXPECT_LT(wire.size(), 200u);
    TDecompressor victim;
    victim.Init();
    try {
        victim.Decompress(wire.data(), wire.size(), out);
        FAIL() << "oversized packet accepted";
    } catch (const ECompressionError& e) {
        EXPECT_EQ(std::string(e.what()), "Decompression failed, packet exceeds 65536 bytes");
    }
}

TEST(CompressionTest, FailuresCarryTheZlibCode) {
    TCompressor c;
    std::vector<uint8_t> out;
    EXPECT_THROW(c.Compress(out), ECompressionError);
    TDecompressor d;
    d.Init();
    const std::vector<uint8_t> junk = {0x78, 0x9c, 0xFF, 0xFF, 0xFF, 0xFF};
    try {
        d.Decompress(junk.data(), junk.size(), out);
        FAIL() << "junk accepted";
    } catch (const ECompressionError& e) {
        EXPECT_EQ(std::string(e.what()), "Decompression failed, inflate returned [-3]");
    }
}
