// Host fields as the connection field holds them.
#include <gtest/gtest.h>

#include "ftp/inet/FtpSocket.h"

TEST(FtpSocket, HostFieldForms) {
    struct TCase {
        const char* Field;
        bool Ok;
        const char* Host;
        std::uint16_t Port;
    };
    const TCase cases[] = {
        {"ftp.example.org", true, "ftp.example.org", 0},
        {" ftp.example.org:2121 ", true, "ftp.example.org", 2121},
        {"192.0.2.7:21", true, "192.0.2.7", 21},
        {"[::1]:2222", true, "::1", 2222},
        {"[2001:db8::5]", true, "2001:db8::5", 0},
        {"2001:db8::5", true, "2001:db8::5", 0}, // bare IPv6: every colon belongs to the address
        {"host:0", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:", false, "", 0},
        {":21", false, "", 0},
        {"host:2x", false, "", 0},
        {"[::1", false, "", 0},
        {"[]:21", false, "", 0},
        {"[::1]21", false, "", 0},
        {"", false, "", 0},
    };
    for (const TCase& c : cases) {
        std::string host;
        std::uint16_t port = 99;
        EXPECT_EQ(SplitHostPort(c.Field, host, port), c.Ok) << c.Field;
        if (!c.Ok) continue;
        EXPECT_EQ(host, c.Host) << c.Field;
        EXPECT_EQ(port, c.Port) << c.Field;
    }
}
