// Authentication methods, host-key validation and channel kinds against a real OpenSSH sshd,
// and a bulk transfer with forced re-keying and server keep-alives.
#include "SshTestPump.h"

#include "ssh/crypto/Ed25519.h"
#include "ssh/crypto/Random.h"
#include "ssh/crypto/Sha256.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

// A 2048-bit RSA key made by openssl, read from its text dump.
TNvSSHKey MakeRsaKey(const std::string& dir) {
    RunCommand("openssl genrsa -out " + dir + "/user_rsa.pem 2048 >/dev/null 2>&1");
    const std::string text = RunOutput("openssl rsa -in " + dir + "/user_rsa.pem -text -noout 2>/dev/null");
    auto field = [&](const std::string& name) {
        size_t p = text.find(name + ":");
        std::string hex;
        for (size_t i = text.find('\n', p) + 1; i < text.size(); ++i) {
            char ch = text[i];
            if (std::isxdigit(static_cast<unsigned char>(ch)))
                hex += ch;
            else if (ch == '\n' && i + 1 < text.size() && text[i + 1] != ' ')
                break;
        }
        std::vector<uint8_t> out;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return out;
    };
    TNvSSHKey key;
    key.KeyType = TNvSSHKey::ktRSA;
    key.RSAModulus = field("modulus");
    key.RSAPrivateExponent = field("privateExponent");
    size_t e = text.find("publicExponent: ");
    uint32_t exponent = uint32_t(std::stoul(text.substr(e + 16)));
    key.RSAPublicExponent = {uint8_t(exponent >> 16), uint8_t(exponent >> 8), uint8_t(exponent)};
    return key;
}

// A DSA key (1024-bit p, 160-bit q, the size ssh-dss uses) made by openssl.
TNvSSHKey MakeDsaKey(const std::string& dir) {
    RunCommand("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 -pkeyopt "
               "dsa_paramgen_q_bits:160 -out " +
               dir + "/dsa_params.pem >/dev/null 2>&1");
    RunCommand("openssl genpkey -paramfile " + dir + "/dsa_params.pem -out " + dir +
               "/user_dsa.pem >/dev/null 2>&1");
    const std::string text = RunOutput("openssl dsa -in " + dir + "/user_dsa.pem -text -noout 2>/dev/null");
    auto field = [&](const std::string& name) {
        size_t p = text.find("\n" + name + ":");
        std::string hex;
        for (size_t i = text.find('\n', p + 1) + 1; i < text.size(); ++i) {
            char ch = text[i];
            if (std::isxdigit(static_cast<unsigned char>(ch)))
                hex += ch;
            else if (ch == '\n' && i + 1 < text.size() && text[i + 1] != ' ')
                break;
        }
        std::vector<uint8_t> out;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return out;
    };
    TNvSSHKey key;
    key.KeyType = TNvSSHKey::ktDSS;
    key.DSSX = field("priv");
    key.DSSY = field("pub");
    key.DSSP = field("P");
    key.DSSQ = field("Q");
    key.DSSG = field("G");
    return key;
}

TNvSSHKey MakeEd25519Key() {
    TNvSSHKey key;
    key.KeyType = TNvSSHKey::ktEd25519;
    key.Ed25519Seed.resize(32);
    Varnello::Crypto::TRandom::Shared().Fill(key.Ed25519Seed.data(), 32);
    Varnello::Crypto::TEd25519Key k(key.Ed25519Seed.data());
    key.Ed25519PublicKey.assign(k.PublicKey(), k.PublicKey() + 32);
    return key;
}

std::string AuthorizedLine(const TNvSSHKey& key) {
    const TBytes blob = PublicKeyBlob(key);
    return BlobKeyType(blob) + " " + Base64(blob);
}

class SshdSession : public ::testing::Test {
protected:
    TSshd Sshd;
    bool Start(const std::string& config = "") {
        const bool ok = Sshd.Start(config);
        EXPECT_TRUE(ok) << "sshd did not start";
        return ok;
    }
};

TEST_F(SshdSession, WrongPasswordFailsThenNoMethodsLeft) {
    if (!Start()) return;
    TSession s(Sshd);
    s.Client.Password = "not-the-password";
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    RunExec(Sshd, "true", s, list, tunnel);
    EXPECT_EQ(s.AuthFailures, std::vector<int>{atPassword});
    EXPECT_EQ(s.Errors, std::vector<int>{114});
    EXPECT_TRUE(s.Closed);
    EXPECT_FALSE(s.Authenticated);
}

TEST_F(SshdSession, KeyboardInteractiveAnswersThePrompt) {
    if (!Start("PasswordAuthentication no")) return;
    TSession s(Sshd);
    s.Client.AuthenticationTypes = atKeyboardInteractive;
    int rounds = 0;
    s.Client.OnAuthenticationKeyboard = [&](TNvSSHClient*, const std::vector<std::string>& prompts,
                                            const std::vector<bool>& echo,
                                            std::vector<std::string>& responses) {
        ++rounds;
        ASSERT_EQ(prompts.size(), echo.size());
        for (size_t i = 0; i < prompts.size(); ++i) responses.push_back(Sshd.Password);
    };
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    EXPECT_EQ(RunExec(Sshd, "echo kbd", s, list, tunnel), "kbd\n");
    EXPECT_TRUE(s.Errors.empty());
    EXPECT_GE(rounds, 1);
}

TEST_F(SshdSession, PublicKeyEd25519AndRsaSha2) {
    if (!Start("PasswordAuthentication no\nKbdInteractiveAuthentication no\nPubkeyAcceptedAlgorithms "
               "ssh-ed25519,rsa-sha2-512,rsa-sha2-256"))
        return;
    const TNvSSHKey ed = MakeEd25519Key();
    const TNvSSHKey rsa = MakeRsaKey(Sshd.Dir);
    ASSERT_GE(rsa.RSAModulus.size(), 256u);
    Sshd.AuthorizeKey(AuthorizedLine(rsa));
    Sshd.AuthorizeKey(AuthorizedLine(ed));
    // A key the server does not know comes first: the client must move on to the next.
    TNvSSHMemoryKeyStorage storage;
    storage.AddKey(MakeEd25519Key());
    storage.AddKey(rsa);
    TSession s(Sshd);
    s.Client.AuthenticationTypes = atPublicKey;
    s.Client.SetKeyStorage(&storage);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    EXPECT_EQ(RunExec(Sshd, "echo rsa", s, list, tunnel), "rsa\n");
    EXPECT_TRUE(s.Errors.empty()) << Sshd.Log();
    EXPECT_NE(Sshd.Log().find("Accepted publickey for " + Sshd.User), std::string::npos) << Sshd.Log();
    EXPECT_NE(Sshd.Log().find(": RSA SHA256:"), std::string::npos) << Sshd.Log();

    TNvSSHMemoryKeyStorage edOnly;
    edOnly.AddKey(ed);
    TSession s2(Sshd);
    s2.Client.AuthenticationTypes = atPublicKey;
    s2.Client.SetKeyStorage(&edOnly);
    TNvSSHTunnelList list2;
    TNvCommandSSHTunnel tunnel2;
    EXPECT_EQ(RunExec(Sshd, "echo ed", s2, list2, tunnel2), "ed\n");
    EXPECT_TRUE(s2.Errors.empty());
}

TEST_F(SshdSession, PublicKeyDsaWhereTheServerAllowsIt) {
    if (!Start(
            "PasswordAuthentication no\nKbdInteractiveAuthentication no\nPubkeyAcceptedAlgorithms +ssh-dss"))
        return;
    const TNvSSHKey dsa = MakeDsaKey(Sshd.Dir);
    ASSERT_GE(dsa.DSSQ.size(), 20u);
    Sshd.AuthorizeKey(AuthorizedLine(dsa));
    TNvSSHMemoryKeyStorage storage;
    storage.AddKey(dsa);
    TSession s(Sshd);
    s.Client.AuthenticationTypes = atPublicKey;
    s.Client.SetKeyStorage(&storage);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    EXPECT_EQ(RunExec(Sshd, "echo dsa", s, list, tunnel), "dsa\n");
    EXPECT_TRUE(s.Errors.empty()) << Sshd.Log();
}

TEST_F(SshdSession, PublicKeyWithoutMatchingKeyReportsFailure) {
    if (!Start("PasswordAuthentication no\nKbdInteractiveAuthentication no")) return;
    TNvSSHMemoryKeyStorage storage;
    storage.AddKey(MakeEd25519Key());
    TSession s(Sshd);
    s.Client.AuthenticationTypes = atPublicKey;
    s.Client.SetKeyStorage(&storage);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    RunExec(Sshd, "true", s, list, tunnel);
    EXPECT_EQ(s.AuthFailures, std::vector<int>{atPublicKey});
    EXPECT_EQ(s.Errors, std::vector<int>{114});
}

TEST_F(SshdSession, KeyValidateSeesTheRealHostKeyOfEachType) {
    struct TCase {
        const char* Config;
        const char* File;
    } cases[] = {{"HostKeyAlgorithms ssh-ed25519", "ed25519"},
                 {"HostKeyAlgorithms rsa-sha2-512", "rsa"},
                 {"HostKeyAlgorithms ssh-dss", "dsa"}};
    for (const TCase& c : cases) {
        TSshd sshd;
        ASSERT_TRUE(sshd.Start(c.Config));
        TSession s(sshd);
        TBytes seen;
        s.Client.OnKeyValidate = [&](TNvSSHClient*, const TNvSSHKey& key, bool& validate) {
            EXPECT_TRUE(validate);
            seen = PublicKeyBlob(key);
        };
        TNvSSHTunnelList list;
        TNvCommandSSHTunnel tunnel;
        EXPECT_EQ(RunExec(sshd, "echo v", s, list, tunnel), "v\n") << c.File;
        EXPECT_EQ(seen, PubFileBlob(sshd.HostKeyBlob(c.File))) << c.File;
    }
}

TEST_F(SshdSession, RefusedHostKeyIsError109WithoutNewKeys) {
    if (!Start()) return;
    TSession s(Sshd);
    s.Client.OnKeyValidate = [](TNvSSHClient*, const TNvSSHKey&, bool& validate) { validate = false; };
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    RunExec(Sshd, "true", s, list, tunnel);
    EXPECT_EQ(s.Errors, std::vector<int>{109});
    EXPECT_TRUE(s.Closed);
    EXPECT_FALSE(s.Authenticated);
    EXPECT_EQ(s.Client.KeyExchanges(), 0);
}

TEST_F(SshdSession, SftpSubsystemAnswersInitWithVersion) {
    if (!Start()) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvSubsystemSSHTunnel sftp;
    sftp.Subsystem = "sftp";
    list.Add(&sftp);
    s.Client.SetTunnelList(&list);
    s.Attach(sftp);
    bool openedBeforeTunnel = false;
    auto onOpen = sftp.OnOpen;
    sftp.OnOpen = [&](TNvCustomSSHTunnel* t, TNvSSHTunnelConnection* c) {
        openedBeforeTunnel = s.Opened;
        onOpen(t, c);
        const uint8_t init[] = {0, 0, 0, 5, 1, 0, 0, 0, 3};
        c->SendData(init, sizeof(init));
    };
    ASSERT_TRUE(s.Pump.Connect(Sshd.Port));
    ASSERT_TRUE(s.Pump.RunUntil([&] { return s.Output.size() >= 9 || !s.Errors.empty(); }));
    EXPECT_TRUE(openedBeforeTunnel);
    EXPECT_TRUE(s.Client.SessionActive());
    ASSERT_GE(s.Output.size(), 9u);
    // uint32 length, byte SSH_FXP_VERSION (2), uint32 version 3.
    EXPECT_EQ(uint8_t(s.Output[4]), 2);
    EXPECT_EQ(uint8_t(s.Output[8]), 3);
}

TEST_F(SshdSession, ShellWithTerminal) {
    if (!Start()) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvShellSSHTunnel shell;
    list.Add(&shell);
    s.Client.SetTunnelList(&list);
    s.Attach(shell);
    auto onOpen = shell.OnOpen;
    shell.OnOpen = [&](TNvCustomSSHTunnel* t, TNvSSHTunnelConnection* c) {
        onOpen(t, c);
        const std::string cmd = "tty; echo marker-$((6*7)); exit 5\n";
        c->SendData(reinterpret_cast<const uint8_t*>(cmd.data()), int(cmd.size()));
    };
    ASSERT_TRUE(s.Pump.Connect(Sshd.Port));
    ASSERT_TRUE(s.Pump.RunUntil([&] { return s.ChannelClosed || !s.Errors.empty(); }));
    EXPECT_TRUE(s.Errors.empty());
    EXPECT_NE(s.Output.find("/dev/pts/"), std::string::npos) << s.Output;
    EXPECT_NE(s.Output.find("marker-42"), std::string::npos) << s.Output;
    EXPECT_EQ(s.ExitStatus, 5);
}

TEST_F(SshdSession, RemoteForwardAcceptsTheServersChannel) {
    if (!Start()) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvRemotePortForwardSSHTunnel forward;
    forward.Port = uint16_t(FreePort());
    TNvCommandSSHTunnel keep;
    keep.Command = "sleep 20";
    keep.UseTerminal = false;
    list.Add(&forward);
    list.Add(&keep);
    s.Client.SetTunnelList(&list);
    std::string forwarded;
    TNvSSHTunnelConnection* fc = nullptr;
    forward.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        fc = c;
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            forwarded.append(reinterpret_cast<const char*>(b), size_t(n));
        };
    };
    bool keepOpen = false;
    keep.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection*) { keepOpen = true; };
    ASSERT_TRUE(s.Pump.Connect(Sshd.Port));
    ASSERT_TRUE(s.Pump.RunUntil([&] { return keepOpen || !s.Errors.empty(); }));
    // Give the server a moment to listen, then connect to the forwarded port on its side.
    int peer = -1;
    s.Pump.RunUntil(
        [&] {
            if (peer < 0) peer = ConnectLoopback(forward.Port);
            return peer >= 0;
        },
        10);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(send(peer, "ping", 4, 0), 4);
    ASSERT_TRUE(s.Pump.RunUntil([&] { return forwarded == "ping" || !s.Errors.empty(); }));
    ASSERT_NE(fc, nullptr);
    fc->SendData(reinterpret_cast<const uint8_t*>("pong"), 4);
    s.Pump.RunUntil([] { return false; }, 1);
    char buf[8] = {};
    EXPECT_EQ(recv(peer, buf, sizeof(buf), MSG_DONTWAIT), 4);
    EXPECT_EQ(std::string(buf, 4), "pong");
    close(peer);
    EXPECT_TRUE(s.Errors.empty());
}

TEST_F(SshdSession, KeepAlivesAreAnsweredThroughAnIdlePeriod) {
    if (!Start("ClientAliveInterval 1\nClientAliveCountMax 2")) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    EXPECT_EQ(RunExec(Sshd, "sleep 8; echo still-here", s, list, tunnel), "still-here\n");
    EXPECT_TRUE(s.Errors.empty());
}

// Under the sanitizers the ciphers run several times slower; a smaller volume with a smaller
// re-key limit still crosses as many re-exchanges.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kBulkMiB = 32, kServerRekeyMiB = 2, kClientRekeyMiB = 3;
#else
constexpr size_t kBulkMiB = 256, kServerRekeyMiB = 16, kClientRekeyMiB = 24;
#endif

TEST_F(SshdSession, BulkThroughCatWithReKeying) {
    if (!Start("RekeyLimit " + std::to_string(kServerRekeyMiB) + "M\nClientAliveInterval 1")) return;
    TSession s(Sshd);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    tunnel.Command = "cat";
    tunnel.UseTerminal = false;
    list.Add(&tunnel);
    s.Client.SetTunnelList(&list);
    s.Client.RekeyBytes = kClientRekeyMiB << 20; // our own re-keying as well
    constexpr size_t Total = kBulkMiB << 20;
    Varnello::Crypto::TSha256 sentHash, gotHash;
    size_t sent = 0, got = 0;
    Varnello::Crypto::TRandom rng;
    const uint8_t seed[] = {1, 2, 3};
    rng.SeedWith(seed, sizeof(seed));
    std::vector<uint8_t> chunk(65536);
    bool eofSent = false;
    TNvSSHTunnelConnection* conn = nullptr;
    tunnel.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        conn = c;
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            gotHash.Update(b, size_t(n));
            got += size_t(n);
        };
        c->OnClose = [&](TNvSSHTunnelConnection*, int) { conn = nullptr; };
    };
    ASSERT_TRUE(s.Pump.Connect(Sshd.Port));
    const bool done = s.Pump.RunUntil(
        [&] {
            if (conn && sent < Total && conn->Queued() < (1u << 20)) {
                rng.Fill(chunk.data(), chunk.size());
                sentHash.Update(chunk.data(), chunk.size());
                conn->SendData(chunk.data(), int(chunk.size()));
                sent += chunk.size();
            }
            if (conn && sent == Total && !eofSent) {
                eofSent = true;
                conn->SendEof();
            }
            return got == Total || !s.Errors.empty();
        },
        300);
    ASSERT_TRUE(done);
    EXPECT_TRUE(s.Errors.empty());
    uint8_t a[32], b[32];
    sentHash.Final(a);
    gotHash.Final(b);
    EXPECT_EQ(got, Total);
    EXPECT_EQ(0, memcmp(a, b, 32));
    // Twice the volume crossed the connection with a server re-exchange every kServerRekeyMiB.
    EXPECT_GE(s.Client.KeyExchanges(), 16);
}

} // namespace
