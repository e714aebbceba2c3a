// InetCheck's messages for each kind of code, and the listing-name rule.
#include <gtest/gtest.h>

#include "ftp/INetUtil.h"
#include "inet/FtpPeer.h"

#include <vector>

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

TEST(INetUtil, EveryTableCodeKeepsItsTextAndGainsOneSentence) {
    std::vector<DWORD> codes{ERROR_INTERNET_EXTENDED_ERROR};
    for (DWORD code = 12000; code < 12200; ++code)
        if (InetErrorName(code)) codes.push_back(code);
    for (DWORD code : codes) {
        SetLastError(code);
        try {
            InetCheck(BOOL(0), "localhost:2121");
            ADD_FAILURE() << "no error raised for " << code;
        } catch (const EInetError& e) {
            if (code != ERROR_INTERNET_EXTENDED_ERROR) {
                EXPECT_STREQ(e.what(), InetErrorName(code)) << code;
            }
            const std::string& advice = e.Advice;
            ASSERT_FALSE(advice.empty()) << code;
            // One sentence: a capital first, a single period at the very end.
            EXPECT_TRUE(advice.front() >= 'A' && advice.front() <= 'Z') << code << ": " << advice;
            EXPECT_EQ(advice.find('.'), advice.size() - 1) << code << ": " << advice;
            EXPECT_EQ(advice.find('\n'), std::string::npos) << code;
        }
    }
    // Codes outside the table keep their system text and add nothing unless one is known.
    EXPECT_EQ(InetErrorAdvice(12044), "");
    EXPECT_EQ(InetErrorAdvice(112), "The local disk is full: free some space and try again.");
}

TEST(INetUtil, AdviceNamesTheConnectionTarget) {
    EXPECT_EQ(InetErrorAdvice(12029, "127.0.0.1:2121"), "Nothing answered at 127.0.0.1 port 2121: check the "
                                                        "host and port, or whether the server is running.");
    EXPECT_EQ(
        InetErrorAdvice(12029, "ftp.example.org"),
        "Nothing answered at ftp.example.org port 21: check the host and port, or whether the server is "
        "running.");
    EXPECT_EQ(
        InetErrorAdvice(12029, "[::1]:2222"),
        "Nothing answered at ::1 port 2222: check the host and port, or whether the server is running.");
    // Without a target (a later call on the connection) the sentence does not invent one.
    EXPECT_EQ(InetErrorAdvice(12029).find("127.0.0.1"), std::string::npos);
    EXPECT_EQ(
        InetErrorAdvice(12007, "nosuch.invalid:21"),
        "The host name nosuch.invalid could not be found: check its spelling and the network connection.");
    EXPECT_EQ(InetErrorAdvice(12007, "host:notaport"),
              "The Host Server field is not a host name with an optional :port: check its spelling.");
    EXPECT_EQ(
        InetErrorAdvice(12002, "10.0.0.9"),
        "The server at 10.0.0.9 port 21 did not answer in time: check the network connection and try again.");
    EXPECT_EQ(InetErrorAdvice(12014, "10.0.0.9").rfind("The server refused the user name or password", 0),
              0u);
    // A huge host field is cut, so the message box stays readable.
    EXPECT_LT(InetErrorAdvice(12029, std::string(5000, 'h')).size(), 400u);
}

TEST(INetUtil, UnsafeListingNames) {
    for (std::string_view bad : std::initializer_list<std::string_view>{
             "", ".", "..", "...", "a/b", "/etc", "..\\x", "a\\b", std::string_view("a\0b", 3)})
        EXPECT_TRUE(IsUnsafeListingName(bad)) << bad;
    for (std::string_view good : {"a", ".hidden", "a..b", "...x", "name with spaces", "ü.txt"})
        EXPECT_FALSE(IsUnsafeListingName(good)) << good;
}
