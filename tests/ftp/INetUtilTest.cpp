// InetCheck's messages for each kind of code, and the listing-name rule.
#include <gtest/gtest.h>

#include "ftp/INetUtil.h"
#include "inet/FtpPeer.h"

namespace {

std::string Raised(DWORD code) {
    SetLastError(code);
    try {
        InetCheck(BOOL(0));
    } catch (const EInetError& e) {
        EXPECT_EQ(e.Code, code);
        return e.what();
    }
    ADD_FAILURE() << "no error raised for " << code;
    return {};
}

} // namespace

TEST(INetUtil, SuccessReturnsAndEveryFailureRaises) {
    SetLastError(12029);
    EXPECT_NO_THROW(InetCheck(BOOL(1)));
    // A handle with its low 32 bits zero is a success, not a zero.
    EXPECT_NO_THROW(InetCheck(static_cast<std::uintptr_t>(1) << 32));
    EXPECT_THROW(InetCheck(HINTERNET(nullptr)), EVarnelloError);
}

TEST(INetUtil, TableTextsExactlyWithTheirBlanks) {
    EXPECT_EQ(Raised(12029), "INTERNET_CANNOT_CONNECT");
    EXPECT_EQ(Raised(12002), "INTERNET_TIMEOUT ");
    EXPECT_EQ(Raised(12111), "FTP_DROPPED    ");
    EXPECT_EQ(Raised(12110), "FTP_TRANSFER_IN_PROGRESS ");
    EXPECT_EQ(Raised(12156), "HTTP_REDIRECT_FAILED ");
    int named = 0;
    for (DWORD code = 12000; code < 12200; ++code) named += InetErrorName(code) != nullptr;
    EXPECT_EQ(named, 57); // 12002..12156 without 12003, 12034/12035, 12044..12109, 12112..12129, 12139..12149
    EXPECT_EQ(InetErrorName(12003), nullptr);
}

TEST(INetUtil, CodesOutsideTheTableGetTheSystemText) {
    EXPECT_EQ(Raised(12044), "Win32 Error.  Code: 12044.\nUnknown error 12044");
    EXPECT_EQ(Raised(6), "Win32 Error.  Code: 6.\nThe handle is invalid");
    EXPECT_EQ(Raised(0), "A Win32 API function failed");
}

TEST(INetUtil, ExtendedErrorShowsTheServerReply) {
    TFtpPeer peer;
    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnect(internet, peer.HostField().c_str(), 21, TFtpPeer::User,
                                           TFtpPeer::Password, INTERNET_SERVICE_FTP, 0, 0);
    ASSERT_NE(connection, nullptr);
    try {
        InetCheck(FtpRemoveDirectory(connection, "/not-there"));
        ADD_FAILURE() << "no error raised";
    } catch (const EInetError& e) {
        EXPECT_EQ(e.Code, ERROR_INTERNET_EXTENDED_ERROR);
        EXPECT_EQ(std::string(e.what()), "Win32 Error 12003:\r\n\r\n550 No such file or directory.");
    }
    // A reply longer than the 4,097-byte buffer is cut inside it.
    try {
        InetCheck(FtpDeleteFile(connection, "long-reply"));
        ADD_FAILURE() << "no error raised";
    } catch (const EInetError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.size(), std::string("Win32 Error 12003:\r\n\r\n").size() + 4096);
        EXPECT_EQ(text.substr(22, 8), "550-xxxx");
    }
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
}

TEST(INetUtil, UnsafeListingNames) {
    for (std::string_view bad : std::initializer_list<std::string_view>{
             "", ".", "..", "...", "a/b", "/etc", "..\\x", "a\\b", std::string_view("a\0b", 3)})
        EXPECT_TRUE(IsUnsafeListingName(bad)) << bad;
    for (std::string_view good : {"a", ".hidden", "a..b", "...x", "name with spaces", "ü.txt"})
        EXPECT_FALSE(IsUnsafeListingName(good)) << good;
}
