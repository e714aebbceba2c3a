// HMAC over SHA-1 and MD5: RFC 2202 and random keys and split messages against nettle, including
// the reuse of one keyed context for consecutive messages.
#include "ssh/crypto/Hmac.h"
#include "ssh/crypto/Md5.h"
#include "ssh/crypto/Sha1.h"

#include "HashSplit.h"
#include "VectorFile.h"

#include <gtest/gtest.h>
#include <nettle/hmac.h>

using namespace Varnello::Crypto;

namespace {

template <class THash>
std::string OneCall(const std::vector<uint8_t>& key, const std::vector<uint8_t>& data) {
    uint8_t mac[THash::DigestSize];
    THmac<THash>::Compute(key.data(), key.size(), data.data(), data.size(), mac);
    return ToHexText(mac, sizeof(mac));
}

} // namespace

TEST(HmacTest, Rfc2202Cases) {
    int checked = 0;
    for (const TVectorRecord& v : ReadVectorFile("hmac-rfc2202.vec")) {
        const auto key = FromHexText(v.at("Key"));
        const auto data = FromHexText(v.at("Data"));
        const std::string got = v.at("Hash") == "sha1" ? OneCall<TSha1>(key, data) : OneCall<TMd5>(key, data);
        EXPECT_EQ(got, v.at("Mac")) << v.at("Hash") << " case " << v.at("Case");
        ++checked;
    }
    EXPECT_EQ(checked, 14);
}

TEST(HmacTest, MatchesNettleWithReusedContexts) {
    std::mt19937_64 gen(2104);
    for (int i = 0; i < 60; ++i) {
        std::vector<uint8_t> key(gen() % 150); // below, at and above the 64-byte block
        for (auto& b : key) b = uint8_t(gen());
        THmac<TSha1> sha(key.data(), key.size());
        THmac<TMd5> md5(key.data(), key.size());
        hmac_sha1_ctx nsha;
        hmac_md5_ctx nmd5;
        hmac_sha1_set_key(&nsha, key.size(), key.data());
        hmac_md5_set_key(&nmd5, key.size(), key.data());
        for (int msg = 0; msg < 4; ++msg) { // one keyed context, several messages
            const TSplitMessage m = RandomSplitMessage(gen, 400);
            FeedPieces(m, [&](const uint8_t* p, size_t n) {
                sha.Update(p, n);
                md5.Update(p, n);
            });
            hmac_sha1_update(&nsha, m.Data.size(), m.Data.data());
            hmac_md5_update(&nmd5, m.Data.size(), m.Data.data());
            uint8_t a[20], b[20];
            sha.Final(a);
            hmac_sha1_digest(&nsha, 20, b);
            ASSERT_EQ(ToHexText(a, 20), ToHexText(b, 20)) << "key " << key.size() << " msg " << msg;
            md5.Final(a);
            hmac_md5_digest(&nmd5, 16, b);
            ASSERT_EQ(ToHexText(a, 16), ToHexText(b, 16)) << "key " << key.size() << " msg " << msg;
        }
    }
}
