// The control-reply reader and the reply-text parsers.
#include <gtest/gtest.h>

#include <cstring>

#include "ftp/inet/FtpReply.h"

namespace {

std::vector<TFtpReply> Feed(TFtpReplyReader& reader, const std::string& bytes, bool oneAtATime) {
    std::vector<TFtpReply> replies;
    TFtpReply r;
    auto drain = [&] {
        TFtpReplyState s;
        while ((s = reader.Next(r)) == rsComplete) replies.push_back(r);
        EXPECT_NE(s, rsInvalid);
    };
    if (oneAtATime) {
        for (char c : bytes) {
            reader.Feed(&c, 1);
            drain();
        }
    } else {
        reader.Feed(bytes.data(), bytes.size());
        drain();
    }
    return replies;
}

} // namespace

TEST(FtpReply, SingleAndMultiLineRepliesInAnyChunking) {
    const std::string stream = "220 Ready\r\n"
                               "211-Features:\r\n"
                               " MLST type*;size*;\r\n"
                               "211 End\r\n"
                               "230-Welcome\r\n"
                               "230-Still welcome\r\n"
                               "999 a digit line inside\r\n"
                               "230x not closing\r\n"
                               "230 Done\n"
                               "200\r\n";
    for (bool oneAtATime : {false, true}) {
        TFtpReplyReader reader;
        auto replies = Feed(reader, stream, oneAtATime);
        ASSERT_EQ(replies.size(), 4u);
        EXPECT_EQ(replies[0].Code, 220);
        EXPECT_EQ(replies[0].Text, "220 Ready");
        EXPECT_EQ(replies[1].Code, 211);
        EXPECT_EQ(replies[1].Text, "211-Features:\r\n MLST type*;size*;\r\n211 End");
        EXPECT_EQ(replies[2].Code, 230);
        EXPECT_EQ(replies[2].Text.substr(replies[2].Text.size() - 8), "230 Done");
        EXPECT_EQ(replies[3].Code, 200);
        EXPECT_FALSE(reader.HasBufferedData());
    }
}

TEST(FtpReply, NonsenseAndEndlessRepliesAreInvalid) {
    TFtpReply r;
    for (const char* bad : {"hello\r\n", "22 short\r\n", "220_x\r\n", "\r\n"}) {
        TFtpReplyReader reader;
        reader.Feed(bad, std::strlen(bad));
        EXPECT_EQ(reader.Next(r), rsInvalid) << bad;
    }
    TFtpReplyReader reader;
    std::string open = "220-start\r\n";
    reader.Feed(open.data(), open.size());
    EXPECT_EQ(reader.Next(r), rsIncomplete);
    std::string line(1000, 'x');
    line += "\r\n";
    TFtpReplyState s = rsIncomplete;
    for (int i = 0; i < 2000 && s == rsIncomplete; ++i) {
        reader.Feed(line.data(), line.size());
        s = reader.Next(r);
    }
    EXPECT_EQ(s, rsInvalid);
}

TEST(FtpReply, PathAndPortReplies) {
    std::string path;
    ASSERT_TRUE(ParsePwdReply("257 \"/a \"\"quoted\"\" dir\" is current", path));
    EXPECT_EQ(path, "/a \"quoted\" dir");
    ASSERT_TRUE(ParsePwdReply("257 \"/\"", path));
    EXPECT_EQ(path, "/");
    EXPECT_FALSE(ParsePwdReply("257 /no/quotes", path));
    EXPECT_FALSE(ParsePwdReply("257 \"unterminated", path));

    std::uint16_t port = 0;
    ASSERT_TRUE(ParseEpsvReply("229 Entering Extended Passive Mode (|||6446|)", port));
    EXPECT_EQ(port, 6446);
    ASSERT_TRUE(ParseEpsvReply("229 ok (!!!65535!)", port));
    EXPECT_EQ(port, 65535);
    for (const char* bad : {"229 (|||65536|)", "229 (|||0|)", "229 (||6446|)", "229 (|||6446)", "229 none"})
        EXPECT_FALSE(ParseEpsvReply(bad, port)) << bad;

    ASSERT_TRUE(ParsePasvReply("227 Entering Passive Mode (192,0,2,1,19,137)", port));
    EXPECT_EQ(port, 19 * 256 + 137);
    ASSERT_TRUE(ParsePasvReply("227 =10,0,0,5,4,1", port)); // without brackets
    EXPECT_EQ(port, 1025);
    for (const char* bad : {"227 (1,2,3,4,5)", "227 (1,2,3,4,256,1)", "227 (1,2,3,4,0,0)", "227 nothing"})
        EXPECT_FALSE(ParsePasvReply(bad, port)) << bad;

    auto features = ParseFeatures("211-Features:\r\n MLST type*;size*;modify*;\r\n UTF8\r\n epsv\r\n211 End");
    EXPECT_EQ(features, (std::set<std::string>{"MLST", "UTF8", "EPSV"}));
}
