// SHA-1: FIPS 180 examples and random split messages against nettle, on both block functions.
#include "ssh/crypto/Sha1.h"
#include "ssh/crypto/CpuFeatures.h"

#include "HashSplit.h"
#include "VectorFile.h"

#include <gtest/gtest.h>
#include <nettle/sha1.h>

using namespace Varnello::Crypto;

namespace {

// Each test runs once on the SHA-NI path (where the processor has it) and once on portable code.
class Sha1Test : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!GetParam() && !DetectedCpuFeatures().ShaNi) GTEST_SKIP() << "no SHA extensions here";
    }
    TPortableCryptoScope FScope{GetParam()}; // true: portable code only
};

} // namespace

TEST_P(Sha1Test, Fips180Examples) {
    for (const TVectorRecord& v : ReadVectorFile("sha1.vec")) {
        const std::string& msg = v.at("Msg");
        const long repeat = std::stol(v.at("Repeat"));
        TSha1 h;
        for (long i = 0; i < repeat; ++i) h.Update(msg.data(), msg.size());
        uint8_t digest[20];
        h.Final(digest);
        EXPECT_EQ(ToHexText(digest, 20), v.at("Digest")) << msg;
        if (repeat == 1) {
            TSha1::Hash(msg.data(), msg.size(), digest);
            EXPECT_EQ(ToHexText(digest, 20), v.at("Digest")) << msg;
        }
    }
}

TEST_P(Sha1Test, MatchesNettleOnRandomSplitMessages) {
    std::mt19937_64 gen(1801);
    for (int i = 0; i < 300; ++i) {
        const TSplitMessage m = RandomSplitMessage(gen, i < 250 ? 300 : 20000);
        TSha1 ours;
        FeedPieces(m, [&](const uint8_t* p, size_t n) { ours.Update(p, n); });
        uint8_t a[20], b[20];
        ours.Final(a);
        sha1_ctx theirs;
        sha1_init(&theirs);
        sha1_update(&theirs, m.Data.size(), m.Data.data());
        sha1_digest(&theirs, 20, b);
        ASSERT_EQ(ToHexText(a, 20), ToHexText(b, 20)) << "length " << m.Data.size();
    }
}

INSTANTIATE_TEST_SUITE_P(, Sha1Test, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "ShaNi"; });
