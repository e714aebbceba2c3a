// known_hosts files written by OpenSSH's own tools (ssh-keyscan against a real sshd, ssh-keygen -H
// and -R), every line form, changed and revoked keys, ports, and fingerprints equal to ssh-keygen -l.
#include "SshTestPump.h"

#include "ssh/KnownHosts.h"
#include "ssh/SshKey.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

class TTempDir {
public:
    std::string Path;
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-kh-XXXXXX").string();
        if (mkdtemp(tmpl.data())) Path = tmpl;
    }
    ~TTempDir() {
        if (!Path.empty()) RunCommand("rm -rf " + Path);
    }
};

// A fresh key's .pub line made by ssh-keygen.
std::string NewPublicLine(const std::string& dir, const std::string& type, const std::string& name) {
    RunCommand("ssh-keygen -q -t " + type + " -N '' -f " + dir + "/" + name + " >/dev/null 2>&1");
    return ReadFile(dir + "/" + name + ".pub");
}

std::string KeyPart(const std::string& pubLine) {
    // "type base64 comment" -> "type base64"
    const size_t a = pubLine.find(' ');
    const size_t b = pubLine.find_first_of(" \n", a + 1);
    return pubLine.substr(0, b);
}

class KnownHosts : public ::testing::Test {
protected:
    TSshd Sshd;
    TTempDir Tmp;
    bool Start() {
        const bool ok = Sshd.Start("");
        EXPECT_TRUE(ok) << "sshd did not start";
        return ok;
    }
    TBytes HostBlob(const std::string& type) { return PubFileBlob(Sshd.HostKeyBlob(type)); }
};

} // namespace

TEST(KnownHostsBase64, RoundTripsAndRejectsBadText) {
    for (size_t n = 0; n < 40; ++n) {
        TBytes in(n);
        for (size_t i = 0; i < n; ++i) in[i] = uint8_t(i * 37 + 11);
        TBytes out;
        ASSERT_TRUE(Base64Decode(Base64Encode(in.data(), in.size()), out)) << n;
        EXPECT_EQ(out, in);
        ASSERT_TRUE(Base64Decode(Base64Encode(in.data(), in.size(), false), out)) << n;
        EXPECT_EQ(out, in);
    }
    TBytes out;
    EXPECT_FALSE(Base64Decode("AB$D", out));
    EXPECT_FALSE(Base64Decode("A", out));
    EXPECT_FALSE(Base64Decode("AB=C", out));
    EXPECT_FALSE(Base64Decode("AB===", out));
}

TEST(KnownHostsPatterns, NamesWildcardsNegationAndPorts) {
    EXPECT_EQ(TNvKnownHosts::HostEntryName("Example.ORG", 22), "example.org");
    EXPECT_EQ(TNvKnownHosts::HostEntryName("::1", 2222), "[::1]:2222");
    EXPECT_TRUE(KnownHostsFieldMatches("a.org,example.org", "example.org"));
    EXPECT_TRUE(KnownHostsFieldMatches("*.ORG", "example.org"));
    EXPECT_TRUE(KnownHostsFieldMatches("exam?le.org", "example.org"));
    EXPECT_FALSE(KnownHostsFieldMatches("exam?le.org", "exale.org"));
    EXPECT_FALSE(KnownHostsFieldMatches("*.org,!example.org", "example.org"));
    EXPECT_TRUE(KnownHostsFieldMatches("*.org,!example.org", "other.org"));
    EXPECT_FALSE(KnownHostsFieldMatches("example.org", "[example.org]:2222"));
    EXPECT_TRUE(KnownHostsFieldMatches("[example.org]:2222", "[example.org]:2222"));
    EXPECT_FALSE(KnownHostsFieldMatches("[example.org]:2223", "[example.org]:2222"));
    EXPECT_FALSE(KnownHostsFieldMatches("|1|bad|bad", "example.org"));
    EXPECT_FALSE(KnownHostsFieldMatches("", "example.org"));
}

TEST_F(KnownHosts, KeyscanFileHashedAndRemovedByKeygen) {
    if (!Start()) return;
    const std::string file = Tmp.Path + "/known_hosts";
    ASSERT_EQ(RunCommand("ssh-keyscan -p " + std::to_string(Sshd.Port) + " -t ed25519,rsa 127.0.0.1 > " +
                         file + " 2>/dev/null"),
              0);
    const std::string scanned = ReadFile(file);
    ASSERT_NE(scanned.find("[127.0.0.1]:" + std::to_string(Sshd.Port)), std::string::npos) << scanned;

    // This sshd no longer offers its DSA key, so keyscan writes the other two types.
    TNvKnownHosts hosts(Tmp.Path + "/own", file);
    for (const char* type : {"ed25519", "rsa"}) {
        const THostKeyCheck c = hosts.Check("127.0.0.1", Sshd.Port, HostBlob(type));
        EXPECT_EQ(c.Status, THostKeyStatus::Known) << type << "\n" << scanned;
        EXPECT_EQ(c.File, file);
        EXPECT_GT(c.Line, 0);
        // The same key on the default port is another host.
        EXPECT_EQ(hosts.Check("127.0.0.1", 22, HostBlob(type)).Status, THostKeyStatus::Unknown) << type;
    }
    EXPECT_TRUE(hosts.Warnings().empty());

    ASSERT_EQ(RunCommand("ssh-keygen -q -H -f " + file + " >/dev/null 2>&1"), 0);
    const std::string hashed = ReadFile(file);
    ASSERT_EQ(hashed.find("127.0.0.1"), std::string::npos) << hashed;
    ASSERT_NE(hashed.find("|1|"), std::string::npos);
    for (const char* type : {"ed25519", "rsa"})
        EXPECT_EQ(hosts.Check("127.0.0.1", Sshd.Port, HostBlob(type)).Status, THostKeyStatus::Known) << type;
    EXPECT_EQ(hosts.Check("127.0.0.2", Sshd.Port, HostBlob("ed25519")).Status, THostKeyStatus::Unknown);

    ASSERT_EQ(RunCommand("ssh-keygen -R '[127.0.0.1]:" + std::to_string(Sshd.Port) + "' -f " + file +
                         " >/dev/null 2>&1"),
              0);
    for (const char* type : {"ed25519", "rsa"})
        EXPECT_EQ(hosts.Check("127.0.0.1", Sshd.Port, HostBlob(type)).Status, THostKeyStatus::Unknown)
            << type;
}

TEST_F(KnownHosts, ChangedRevokedAndCertAuthorityLines) {
    if (!Start()) return;
    const std::string user = Tmp.Path + "/user_known_hosts";
    const std::string port = std::to_string(Sshd.Port);
    const std::string other = KeyPart(NewPublicLine(Tmp.Path, "ed25519", "other"));
    const std::string real = KeyPart(Sshd.HostKeyBlob("ed25519"));
    // The host's real key only as a CA line: it must not count as the host key.
    WriteFile(user, "# comment\n\n@cert-authority [127.0.0.1]:" + port + " " + real + "\n" +
                        "[127.0.0.1]:" + port + ",otherhost " + other + " old key\n");
    TNvKnownHosts hosts(Tmp.Path + "/own", user);
    THostKeyCheck c = hosts.Check("127.0.0.1", Sshd.Port, HostBlob("ed25519"));
    EXPECT_EQ(c.Status, THostKeyStatus::Changed);
    EXPECT_EQ(c.File, user);
    EXPECT_EQ(c.Line, 4);
    EXPECT_EQ(c.OldFingerprint, KeyFingerprint(PubFileBlob(other)));
    // A key of another type is unknown, not changed.
    EXPECT_EQ(hosts.Check("127.0.0.1", Sshd.Port, HostBlob("rsa")).Status, THostKeyStatus::Unknown);

    // Accepting writes the own file; the key is then known, and the user's file is untouched.
    const std::string before = ReadFile(user);
    std::string error;
    ASSERT_TRUE(hosts.Accept("127.0.0.1", Sshd.Port, HostBlob("ed25519"), false, error)) << error;
    EXPECT_EQ(ReadFile(user), before);
    c = hosts.Check("127.0.0.1", Sshd.Port, HostBlob("ed25519"));
    EXPECT_EQ(c.Status, THostKeyStatus::Known);
    EXPECT_EQ(c.File, Tmp.Path + "/own");
    struct stat st {};
    ASSERT_EQ(stat((Tmp.Path + "/own").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Revoked wins over the known line, whatever host the revocation names.
    std::ofstream(user, std::ios::app) << "@revoked * " << real << "\n";
    c = hosts.Check("127.0.0.1", Sshd.Port, HostBlob("ed25519"));
    EXPECT_EQ(c.Status, THostKeyStatus::Revoked);
    EXPECT_EQ(c.Line, 5);
}

TEST_F(KnownHosts, AcceptedEntriesAreReadByOpenSsh) {
    if (!Start()) return;
    const std::string own = Tmp.Path + "/own_known_hosts";
    WriteFile(own, "somehost " + KeyPart(NewPublicLine(Tmp.Path, "rsa", "x"))); // no final newline
    TNvKnownHosts hosts(own, "");
    std::string error;
    ASSERT_TRUE(hosts.Accept("127.0.0.1", Sshd.Port, HostBlob("ed25519"), true, error)) << error;
    ASSERT_TRUE(hosts.Accept("127.0.0.1", Sshd.Port, HostBlob("rsa"), false, error)) << error;
    EXPECT_EQ(hosts.Check("127.0.0.1", Sshd.Port, HostBlob("ed25519")).Status, THostKeyStatus::Known);
    EXPECT_EQ(hosts.Check("127.0.0.1", Sshd.Port, HostBlob("rsa")).Status, THostKeyStatus::Known);
    EXPECT_EQ(hosts.Check("somehost", 22, HostBlob("rsa")).Status, THostKeyStatus::Changed);
    // ssh-keygen -F finds both entries, the hashed one included.
    const std::string found =
        RunOutput("ssh-keygen -F '[127.0.0.1]:" + std::to_string(Sshd.Port) + "' -f " + own + " 2>/dev/null");
    EXPECT_NE(found.find("ssh-ed25519"), std::string::npos) << found;
    EXPECT_NE(found.find("ssh-rsa"), std::string::npos) << found;
    // And OpenSSH's ssh trusts the host through the file with strict checking.
    const std::string cmd = "ssh -o BatchMode=yes -o StrictHostKeyChecking=yes -o UserKnownHostsFile=" + own +
                            " -o GlobalKnownHostsFile=/dev/null -o HostKeyAlgorithms=ssh-ed25519 -o "
                            "PreferredAuthentications=none -p " +
                            std::to_string(Sshd.Port) + " " + Sshd.User + "@127.0.0.1 true 2>&1";
    const std::string out = RunOutput(cmd);
    EXPECT_EQ(out.find("Host key verification failed"), std::string::npos) << out;
    EXPECT_NE(out.find("Permission denied"), std::string::npos) << out;
}

TEST_F(KnownHosts, FingerprintsEqualSshKeygen) {
    if (!Start()) return;
    for (const char* type : {"ed25519", "rsa", "dsa"}) {
        const std::string printed =
            RunOutput("ssh-keygen -l -E sha256 -f " + Sshd.Dir + "/host_" + type + ".pub");
        const std::string fp = KeyFingerprint(HostBlob(type));
        EXPECT_EQ(fp.rfind("SHA256:", 0), 0u);
        EXPECT_NE(printed.find(" " + fp + " "), std::string::npos) << type << ": " << printed << " vs " << fp;
    }
}

TEST(KnownHostsFile, MalformedAndOversizedLinesAreSkippedWithWarnings) {
    TTempDir tmp;
    const std::string line = KeyPart(NewPublicLine(tmp.Path, "ed25519", "k"));
    TBytes blob = PubFileBlob(line + " c");
    const std::string file = tmp.Path + "/kh";
    WriteFile(file, "onlyhost\n"                   // missing fields
                    "h ssh-ed25519 !!!notbase64\n" // bad data
                    "h ssh-rsa " +
                        line.substr(line.find(' ') + 1) + "\n" +                       // type does not match
                        "h " + std::string(TNvKnownHosts::MaxLineLength, 'x') + "\n" + // too long
                        "h " + line + "\r\n");
    TNvKnownHosts hosts(tmp.Path + "/own", file);
    const THostKeyCheck c = hosts.Check("h", 22, blob);
    EXPECT_EQ(c.Status, THostKeyStatus::Known);
    EXPECT_EQ(c.Line, 5);
    ASSERT_EQ(hosts.Warnings().size(), 4u);
    EXPECT_NE(hosts.Warnings()[3].find(":4: line too long"), std::string::npos) << hosts.Warnings()[3];

    // A missing config folder is created; a path under a plain file cannot be written.
    std::string error;
    TNvKnownHosts fresh(tmp.Path + "/new-config/sub/kh", "");
    EXPECT_TRUE(fresh.Accept("h", 22, blob, false, error)) << error;
    EXPECT_EQ(fresh.Check("h", 22, blob).Status, THostKeyStatus::Known);
    TNvKnownHosts unwritable(file + "/kh", "");
    EXPECT_FALSE(unwritable.Accept("h", 22, blob, false, error));
    EXPECT_NE(error.find(file + "/kh: "), std::string::npos) << error;
    EXPECT_FALSE(unwritable.Accept("h", 22, TBytes{1, 2, 3}, false, error));
}
