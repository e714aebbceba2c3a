// The client against a real OpenSSH sshd: stock configuration, each modern algorithm, the
// authentication methods, channels, and the original algorithm set as far as sshd still has it.
#include "SshTestPump.h"

#include "ssh/SshClient.h"

#include <gtest/gtest.h>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

class SshdInterop : public ::testing::Test {
protected:
    TSshd Sshd;
    bool StartSshd(const std::string& config = "") {
        const bool ok = Sshd.Start(config);
        EXPECT_TRUE(ok) << "sshd did not start";
        return ok;
    }
};

TEST_F(SshdInterop, StockConfigurationPasswordExecWithExitStatus) {
    if (!StartSshd()) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    const std::string out = RunExec(Sshd, "echo hello; echo oops >&2; exit 3", s, list, tunnel);
    EXPECT_TRUE(s.Errors.empty()) << s.Errors.front() << "\n" << Sshd.Log();
    EXPECT_TRUE(s.Authenticated);
    EXPECT_EQ(out, "hello\n");
    EXPECT_EQ(s.Stderr, "oops\n");
    EXPECT_EQ(s.ExitStatus, 3);
    EXPECT_STREQ(s.Client.Negotiated().Kex->Name, "curve25519-sha256");
    EXPECT_STREQ(s.Client.Negotiated().HostKey->Name, "ssh-ed25519");
    EXPECT_STREQ(s.Client.Negotiated().CipherOut->Name, "chacha20-poly1305@openssh.com");
}

struct TAlgorithmCase {
    const char* Label;
    const char* Config;
    TAlgorithmSet Set;
    bool Force;
    // Expected choices (nullptr: not checked).
    const char* Kex;
    const char* HostKey;
    const char* Cipher;
    const char* Mac;
    const char* Compression;
};

class SshdAlgorithms : public ::testing::TestWithParam<TAlgorithmCase> {};

TEST_P(SshdAlgorithms, SessionRunsACommand) {
    const TAlgorithmCase& p = GetParam();
    TSshd sshd;
    ASSERT_TRUE(sshd.Start(p.Config));
    TSession s(sshd);
    s.Client.AlgorithmSet = p.Set;
    s.Client.ForceCompression = p.Force;
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    const std::string out = RunExec(sshd, "echo ok; exit 7", s, list, tunnel);
    ASSERT_TRUE(s.Errors.empty()) << "error " << s.Errors.front() << "\n" << sshd.Log();
    EXPECT_EQ(out, "ok\n");
    EXPECT_EQ(s.ExitStatus, 7);
    const TNegotiated& n = s.Client.Negotiated();
    if (p.Kex) {
        EXPECT_STREQ(n.Kex->Name, p.Kex);
    }
    if (p.HostKey) {
        EXPECT_STREQ(n.HostKey->Name, p.HostKey);
    }
    if (p.Cipher) {
        EXPECT_STREQ(n.CipherOut->Name, p.Cipher);
        EXPECT_STREQ(n.CipherIn->Name, p.Cipher);
    }
    if (p.Mac) {
        ASSERT_NE(n.MacOut, nullptr);
        EXPECT_STREQ(n.MacOut->Name, p.Mac);
        EXPECT_STREQ(n.MacIn->Name, p.Mac);
    }
    if (p.Compression) {
        EXPECT_STREQ(n.CompressionOut->Name, p.Compression);
    }
}

constexpr TAlgorithmSet M = TAlgorithmSet::asModern;
constexpr TAlgorithmSet O = TAlgorithmSet::asOriginal;

const TAlgorithmCase Cases[] = {
    {"stock", "", M, false, "curve25519-sha256", "ssh-ed25519", "chacha20-poly1305@openssh.com", nullptr,
     "none"},
    {"curve25519_libssh", "KexAlgorithms curve25519-sha256@libssh.org", M, false,
     "curve25519-sha256@libssh.org", nullptr, nullptr, nullptr, nullptr},
    {"group16_sha512", "KexAlgorithms diffie-hellman-group16-sha512", M, false,
     "diffie-hellman-group16-sha512", nullptr, nullptr, nullptr, nullptr},
    {"group14_sha256", "KexAlgorithms diffie-hellman-group14-sha256", M, false,
     "diffie-hellman-group14-sha256", nullptr, nullptr, nullptr, nullptr},
    {"gex_sha256", "KexAlgorithms diffie-hellman-group-exchange-sha256", M, false,
     "diffie-hellman-group-exchange-sha256", nullptr, nullptr, nullptr, nullptr},
    {"group14_sha1", "KexAlgorithms diffie-hellman-group14-sha1", M, false, "diffie-hellman-group14-sha1",
     nullptr, nullptr, nullptr, nullptr},
    {"rsa_sha2_512", "HostKeyAlgorithms rsa-sha2-512", M, false, nullptr, "rsa-sha2-512", nullptr, nullptr,
     nullptr},
    {"rsa_sha2_256", "HostKeyAlgorithms rsa-sha2-256", M, false, nullptr, "rsa-sha2-256", nullptr, nullptr,
     nullptr},
    {"aes256_gcm", "Ciphers aes256-gcm@openssh.com", M, false, nullptr, nullptr, "aes256-gcm@openssh.com",
     nullptr, nullptr},
    {"aes128_gcm", "Ciphers aes128-gcm@openssh.com", M, false, nullptr, nullptr, "aes128-gcm@openssh.com",
     nullptr, nullptr},
    {"aes256_ctr", "Ciphers aes256-ctr", M, false, nullptr, nullptr, "aes256-ctr",
     "hmac-sha2-256-etm@openssh.com", nullptr},
    {"aes192_ctr", "Ciphers aes192-ctr", M, false, nullptr, nullptr, "aes192-ctr", nullptr, nullptr},
    {"aes128_ctr", "Ciphers aes128-ctr", M, false, nullptr, nullptr, "aes128-ctr", nullptr, nullptr},
    {"aes256_cbc", "Ciphers aes256-cbc", M, false, nullptr, nullptr, "aes256-cbc", nullptr, nullptr},
    {"aes192_cbc", "Ciphers aes192-cbc", M, false, nullptr, nullptr, "aes192-cbc", nullptr, nullptr},
    {"aes128_cbc", "Ciphers aes128-cbc", M, false, nullptr, nullptr, "aes128-cbc", nullptr, nullptr},
    {"sha2_512_etm", "Ciphers aes128-ctr\nMACs hmac-sha2-512-etm@openssh.com", M, false, nullptr, nullptr,
     nullptr, "hmac-sha2-512-etm@openssh.com", nullptr},
    {"sha1_etm", "Ciphers aes128-ctr\nMACs hmac-sha1-etm@openssh.com", M, false, nullptr, nullptr, nullptr,
     "hmac-sha1-etm@openssh.com", nullptr},
    {"sha2_256", "Ciphers aes128-ctr\nMACs hmac-sha2-256", M, false, nullptr, nullptr, nullptr,
     "hmac-sha2-256", nullptr},
    {"sha2_512", "Ciphers aes128-ctr\nMACs hmac-sha2-512", M, false, nullptr, nullptr, nullptr,
     "hmac-sha2-512", nullptr},
    {"sha1", "Ciphers aes128-ctr\nMACs hmac-sha1", M, false, nullptr, nullptr, nullptr, "hmac-sha1", nullptr},
    {"sha1_96", "Ciphers aes128-ctr\nMACs hmac-sha1-96", M, false, nullptr, nullptr, nullptr, "hmac-sha1-96",
     nullptr},
    {"md5", "Ciphers aes128-ctr\nMACs hmac-md5", M, false, nullptr, nullptr, nullptr, "hmac-md5", nullptr},
    {"md5_96", "Ciphers aes128-ctr\nMACs hmac-md5-96", M, false, nullptr, nullptr, nullptr, "hmac-md5-96",
     nullptr},
    {"delayed_zlib", "Compression yes", M, true, nullptr, nullptr, nullptr, nullptr, "zlib@openssh.com"},
    // The original offer against a server configured for it.
    {"original_group1_rsa_aes128cbc_sha1",
     "KexAlgorithms diffie-hellman-group1-sha1\nHostKeyAlgorithms ssh-rsa\nCiphers aes128-cbc\nMACs "
     "hmac-sha1",
     O, false, "diffie-hellman-group1-sha1", "ssh-rsa", "aes128-cbc", "hmac-sha1", "none"},
    {"original_gex_dss_aes256cbc_md5",
     "KexAlgorithms diffie-hellman-group-exchange-sha1\nHostKeyAlgorithms ssh-dss\nCiphers aes256-cbc\nMACs "
     "hmac-md5",
     O, false, "diffie-hellman-group-exchange-sha1", "ssh-dss", "aes256-cbc", "hmac-md5", nullptr},
    {"original_aes192cbc_sha1_96",
     "KexAlgorithms diffie-hellman-group1-sha1\nHostKeyAlgorithms ssh-rsa\nCiphers aes192-cbc\nMACs "
     "hmac-sha1-96",
     O, false, nullptr, nullptr, "aes192-cbc", "hmac-sha1-96", nullptr},
    {"original_md5_96",
     "KexAlgorithms diffie-hellman-group-exchange-sha1\nHostKeyAlgorithms ssh-dss,ssh-rsa\nCiphers "
     "aes128-cbc\nMACs hmac-md5-96",
     O, false, nullptr, "ssh-dss", nullptr, "hmac-md5-96", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Each, SshdAlgorithms, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.Label); });

} // namespace
