// MD5: the RFC 1321 test suite and random split messages against nettle.
#include "ssh/crypto/Md5.h"

#include "HashSplit.h"
#include "VectorFile.h"

#include <gtest/gtest.h>
#include <nettle/md5.h>

using namespace Varnello::Crypto;

TEST(Md5Test, Rfc1321Suite) {
    for (const TVectorRecord& v : ReadVectorFile("md5.vec")) {
        const std::string& msg = v.at("Msg");
        uint8_t digest[16];
        TMd5::Hash(msg.data(), msg.size(), digest);
        EXPECT_EQ(ToHexText(digest, 16), v.at("Digest")) << msg;
        TMd5 h; // byte by byte through the buffer
        for (char c : msg) h.Update(&c, 1);
        h.Final(digest);
        EXPECT_EQ(ToHexText(digest, 16), v.at("Digest")) << msg;
    }
}

TEST(Md5Test, MatchesNettleOnRandomSplitMessages) {
    std::mt19937_64 gen(1321);
    for (int i = 0; i < 300; ++i) {
        const TSplitMessage m = RandomSplitMessage(gen, i < 250 ? 300 : 20000);
        TMd5 ours;
        FeedPieces(m, [&](const uint8_t* p, size_t n) { ours.Update(p, n); });
        uint8_t a[16], b[16];
        ours.Final(a);
        md5_ctx theirs;
        md5_init(&theirs);
        md5_update(&theirs, m.Data.size(), m.Data.data());
        md5_digest(&theirs, 16, b);
        ASSERT_EQ(ToHexText(a, 16), ToHexText(b, 16)) << "length " << m.Data.size();
    }
}
