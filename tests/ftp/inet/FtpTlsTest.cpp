// FTP over TLS against pyftpdlib's TLS handler: explicit and implicit TLS, protected and resumed
// data connections, the certificate question, servers that do or do not offer TLS, a data
// connection cut without close_notify, and connections the server drops when idle.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "FtpPeer.h"
#include "ftp/inet/FtpSession.h"
#include "ftp/inet/WinInet.h"

namespace fs = std::filesystem;

namespace {

// Certificates made once per test process: a test CA (the only entry of the trust store the
// layer is pointed at), a server certificate it signed for 127.0.0.1, one it signed for
// "localhost" only, and a self-signed one.
struct TMaterial {
    std::string Folder, Ca, Signed, SignedKey, OtherName, OtherNameKey, SelfSigned, SelfSignedKey;
    std::string SelfSignedFingerprint;

    TMaterial() {
        char tmpl[] = "/tmp/varnello-tls-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        Folder = tmpl;
        auto run = [](const std::string& command) {
            if (std::system(("(" + command + ") >/dev/null 2>&1").c_str()) != 0) {
                std::fprintf(stderr, "failed: %s\n", command.c_str());
                std::abort();
            }
        };
        const std::string f = Folder;
        Ca = f + "/ca.pem";
        run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Varnello-Test-CA -keyout " + f +
            "/ca.key -out " + Ca);
        auto issue = [&](const std::string& name, const std::string& san) {
            run("openssl req -newkey rsa:2048 -nodes -subj /CN=" + name + " -keyout " + f + "/" + name +
                ".key -out " + f + "/" + name + ".csr");
            std::ofstream(f + "/" + name + ".ext") << "subjectAltName=" << san << "\n";
            run("openssl x509 -req -days 2 -in " + f + "/" + name + ".csr -CA " + Ca + " -CAkey " + f +
                "/ca.key -CAcreateserial -extfile " + f + "/" + name + ".ext -out " + f + "/" + name +
                ".pem");
        };
        issue("server", "IP:127.0.0.1");
        issue("elsewhere", "DNS:localhost");
        Signed = f + "/server.pem", SignedKey = f + "/server.key";
        OtherName = f + "/elsewhere.pem", OtherNameKey = f + "/elsewhere.key";
        SelfSigned = f + "/self.pem", SelfSignedKey = f + "/self.key";
        run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Self-Made -addext "
            "subjectAltName=IP:127.0.0.1 -keyout " +
            SelfSignedKey + " -out " + SelfSigned);
        run("openssl x509 -noout -fingerprint -sha256 -in " + SelfSigned + " > " + f + "/fp.txt");
        std::string line = TFtpPeer::ReadFile(f + "/fp.txt");
        SelfSignedFingerprint = line.substr(line.find('=') + 1);
        SelfSignedFingerprint.erase(SelfSignedFingerprint.find_last_not_of("\r\n") + 1);
        // Before the layer's first TLS connection, which reads it once.
        setenv("VARNELLO_FTP_CA_FILE", Ca.c_str(), 1);
    }
    ~TMaterial() {
        std::error_code ec;
        fs::remove_all(Folder, ec);
    }
};

TMaterial& Material() {
    static TMaterial material;
    return material;
}

std::vector<std::string> TlsArgs(const std::string& tls, const std::string& cert, const std::string& key,
                                 bool required = true) {
    std::vector<std::string> args = {"--tls", tls, "--cert", cert, "--key", key};
    if (required) args.push_back("--tls-required");
    return args;
}

std::vector<std::string> SignedArgs(const std::string& tls = "explicit", bool required = true) {
    return TlsArgs(tls, Material().Signed, Material().SignedKey, required);
}

struct TAnswers {
    BOOL Answer = 0;
    int Asked = 0;
    std::string Host, Subject, Issuer, Fingerprint, Problem, NotAfter;
};

BOOL Ask(const TFtpCertificateInfo* info, void* context) {
    auto* a = static_cast<TAnswers*>(context);
    ++a->Asked;
    a->Host = info->Host;
    a->Subject = info->Subject;
    a->Issuer = info->Issuer;
    a->Fingerprint = info->Fingerprint;
    a->Problem = info->Problem;
    a->NotAfter = info->NotAfter;
    return a->Answer;
}

struct TConnection {
    HINTERNET Internet = nullptr;
    HINTERNET Connection = nullptr;
    ~TConnection() {
        InternetCloseHandle(Connection);
        InternetCloseHandle(Internet);
    }
    void Open(const std::string& host, DWORD tls, DWORD flags = 0, TAnswers* answers = nullptr,
              INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT) {
        Internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(Internet, nullptr);
        ASSERT_TRUE(InternetSetOption(Internet, INTERNET_OPTION_FTP_TLS, &tls, sizeof tls));
        if (answers) {
            ASSERT_TRUE(FtpSetCertificateCallback(Internet, Ask, answers));
        }
        Connection = InternetConnect(Internet, host.c_str(), port, TFtpPeer::User, TFtpPeer::Password,
                                     INTERNET_SERVICE_FTP, flags, 0);
    }
    std::string Security() {
        char version[32] = "?";
        EXPECT_TRUE(FtpGetConnectionSecurity(Connection, version, sizeof version));
        return version;
    }
};

std::string LastResponse() {
    char buffer[4097];
    DWORD error = 0, length = sizeof buffer;
    InternetGetLastResponseInfo(&error, buffer, &length);
    return std::string(buffer, std::min<DWORD>(length, sizeof buffer - 1));
}

std::map<std::string, std::uint64_t> ListAll(HINTERNET connection) {
    std::map<std::string, std::uint64_t> entries;
    TWin32FindData data;
    HINTERNET find = FtpFindFirstFile(connection, "", &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) return entries;
    do entries[data.cFileName] = FindDataSize(data);
    while (InternetFindNextFile(find, &data));
    InternetCloseHandle(find);
    return entries;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return s;
}

class FtpTlsModes : public ::testing::TestWithParam<std::tuple<const char*, DWORD>> {};

// A tree goes up and comes back byte for byte over protected data connections, in each TLS mode
// and data-connection direction.
TEST_P(FtpTlsModes, TreeUpAndDownOverProtectedDataConnections) {
    const std::string tls = std::get<0>(GetParam());
    const DWORD flags = std::get<1>(GetParam());
    TFtpPeer peer("active", "127.0.0.1", SignedArgs(tls));
    TConnection c;
    TAnswers answers;
    c.Open(peer.HostField(), tls == "implicit" ? FTP_TLS_IMPLICIT : FTP_TLS_EXPLICIT_REQUIRED, flags,
           &answers);
    ASSERT_NE(c.Connection, nullptr) << GetLastError() << " " << LastResponse();
    EXPECT_EQ(answers.Asked, 0); // the test CA signed it for this address
    EXPECT_EQ(c.Security().rfind("TLSv1.", 0), 0u);

    const std::map<std::string, std::string> files = {
        {"empty.txt", ""}, {"small.txt", "hello over TLS\n"}, {"big.bin", Pattern(3 << 20, 1)}};
    ASSERT_TRUE(FtpCreateDirectory(c.Connection, "tree"));
    ASSERT_TRUE(FtpSetCurrentDirectory(c.Connection, "tree"));
    for (const auto& [name, content] : files) {
        const std::string local = peer.Local() + "/" + name;
        TFtpPeer::WriteFile(local, content);
        ASSERT_TRUE(FtpPutFile(c.Connection, local.c_str(), name.c_str(), FTP_TRANSFER_TYPE_BINARY, 0))
            << name << " " << GetLastError() << " " << LastResponse();
        EXPECT_TRUE(TFtpPeer::ReadFile(peer.Root() + "/tree/" + name) == content) << name;
    }
    std::map<std::string, std::uint64_t> listed = ListAll(c.Connection);
    ASSERT_EQ(listed.size(), files.size());
    for (const auto& [name, content] : files) EXPECT_EQ(listed[name], content.size()) << name;
    fs::create_directories(peer.Local() + "/back");
    for (const auto& [name, content] : files) {
        const std::string local = peer.Local() + "/back/" + name;
        ASSERT_TRUE(FtpGetFile(c.Connection, name.c_str(), local.c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY, 0))
            << name << " " << GetLastError() << " " << LastResponse();
        EXPECT_TRUE(TFtpPeer::ReadFile(local) == content) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(ExplicitAndImplicit, FtpTlsModes,
                         ::testing::Combine(::testing::Values("explicit", "implicit"),
                                            ::testing::Values(DWORD{0}, INTERNET_FLAG_PASSIVE)));

// The data connections resume the control connection's TLS session, as strict servers demand.
TEST(FtpTlsSession, DataConnectionsResumeTheControlSession) {
    Material();
    TFtpPeer peer("active", "127.0.0.1", SignedArgs());
    TFtpPeer::WriteFile(peer.Root() + "/a.txt", "a");
    for (bool passive : {false, true}) {
        TInetOptions options;
        options.TlsMode = FTP_TLS_EXPLICIT_REQUIRED;
        TFtpSession session(options);
        session.Open(peer.HostField(), 0, TFtpPeer::User, TFtpPeer::Password, passive);
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(session.List("").size(), 1u);
            EXPECT_TRUE(session.LastDataResumed()) << "passive " << passive << " round " << round;
        }
        session.Quit();
    }
}

// Each setting against a server with TLS and one without: plain FTP only where allowed.
TEST(FtpTlsOffer, EachSettingAgainstServersWithAndWithoutTls) {
    Material();
    {
        TFtpPeer plain;
        TConnection ifOffered;
        ifOffered.Open(plain.HostField(), FTP_TLS_EXPLICIT_IF_OFFERED);
        ASSERT_NE(ifOffered.Connection, nullptr);
        EXPECT_EQ(ifOffered.Security(), "");
        TConnection required;
        required.Open(plain.HostField(), FTP_TLS_EXPLICIT_REQUIRED);
        EXPECT_EQ(required.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        EXPECT_EQ(LastResponse().rfind("The server does not offer TLS", 0), 0u) << LastResponse();
        TConnection implicit;
        implicit.Open(plain.HostField(), FTP_TLS_IMPLICIT);
        EXPECT_EQ(implicit.Connection, nullptr);
        EXPECT_EQ(LastResponse().rfind("The TLS handshake with the server failed", 0), 0u) << LastResponse();
    }
    {
        TFtpPeer secure("active", "127.0.0.1", SignedArgs());
        TConnection ifOffered;
        ifOffered.Open(secure.HostField(), FTP_TLS_EXPLICIT_IF_OFFERED);
        ASSERT_NE(ifOffered.Connection, nullptr);
        EXPECT_NE(ifOffered.Security(), "");
        TConnection plain;
        plain.Open(secure.HostField(), FTP_TLS_PLAIN);
        EXPECT_EQ(plain.Connection, nullptr); // the server wants TLS before the login
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_LOGIN_FAILURE);
    }
}

// Implicit TLS defaults to port 990 when no port is named; a connect there proves the default
// only by failing to reach it, so the check is on the error, not on a connection.
TEST(FtpTlsOffer, UnknownTlsSettingIsRefused) {
    HINTERNET internet = InternetOpen("Ostrel FTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    DWORD bad = 7;
    EXPECT_FALSE(InternetSetOption(internet, INTERNET_OPTION_FTP_TLS, &bad, sizeof bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    InternetCloseHandle(internet);
}

// An untrusted certificate: refused without a question, refused and accepted by the answer,
// with the details the user is shown.
TEST(FtpTlsCertificate, UntrustedCertificateIsAskedAboutAndAnsweredBothWays) {
    TMaterial& m = Material();
    TFtpPeer peer("active", "127.0.0.1", TlsArgs("explicit", m.SelfSigned, m.SelfSignedKey));
    TFtpPeer::WriteFile(peer.Root() + "/x.txt", "x");
    {
        TConnection unasked;
        unasked.Open(peer.HostField(), FTP_TLS_EXPLICIT_REQUIRED);
        EXPECT_EQ(unasked.Connection, nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        EXPECT_EQ(LastResponse(), "The server's certificate is not trusted: self-signed certificate.");
    }
    {
        TAnswers no;
        TConnection refused;
        refused.Open(peer.HostField(), FTP_TLS_EXPLICIT_IF_OFFERED, 0, &no);
        EXPECT_EQ(refused.Connection, nullptr); // never falls back to plain FTP
        EXPECT_EQ(no.Asked, 1);
        EXPECT_EQ(no.Host, "127.0.0.1");
        EXPECT_NE(no.Subject.find("Self-Made"), std::string::npos) << no.Subject;
        EXPECT_EQ(no.Subject, no.Issuer);
        EXPECT_EQ(no.Fingerprint, m.SelfSignedFingerprint);
        EXPECT_NE(no.NotAfter.find("GMT"), std::string::npos) << no.NotAfter;
        EXPECT_EQ(no.Problem, "self-signed certificate");
    }
    {
        TAnswers yes;
        yes.Answer = 1;
        TConnection accepted;
        accepted.Open(peer.HostField(), FTP_TLS_EXPLICIT_REQUIRED, INTERNET_FLAG_PASSIVE, &yes);
        ASSERT_NE(accepted.Connection, nullptr) << LastResponse();
        EXPECT_EQ(yes.Asked, 1);
        EXPECT_EQ(ListAll(accepted.Connection).count("x.txt"), 1u);
        EXPECT_EQ(yes.Asked, 1); // data connections do not ask again
    }
}

// A certificate from the trusted CA that names another host is asked about too.
TEST(FtpTlsCertificate, CertificateForAnotherHostIsAskedAbout) {
    TMaterial& m = Material();
    TFtpPeer peer("active", "127.0.0.1", TlsArgs("implicit", m.OtherName, m.OtherNameKey));
    TAnswers no;
    TConnection c;
    c.Open(peer.HostField(), FTP_TLS_IMPLICIT, 0, &no);
    EXPECT_EQ(c.Connection, nullptr);
    EXPECT_EQ(no.Asked, 1);
    EXPECT_NE(no.Problem.find("mismatch"), std::string::npos) << no.Problem;
    EXPECT_NE(no.Issuer.find("Varnello-Test-CA"), std::string::npos) << no.Issuer;
}

// A download whose data connection ends without close_notify is a failed transfer even though
// the server confirms it, and the local file stays as it was.
TEST(FtpTlsData, DataConnectionCutWithoutCloseNotifyFails) {
    Material();
    TFtpPeer peer("cut-tls", "127.0.0.1", SignedArgs());
    TFtpPeer::WriteFile(peer.Root() + "/cut.bin", Pattern(1 << 20, 3));
    TFtpPeer::WriteFile(peer.Root() + "/whole.bin", Pattern(1 << 20, 4));
    TConnection c;
    c.Open(peer.HostField(), FTP_TLS_EXPLICIT_REQUIRED, INTERNET_FLAG_PASSIVE);
    ASSERT_NE(c.Connection, nullptr) << LastResponse();
    const std::string target = peer.Local() + "/cut.bin";
    TFtpPeer::WriteFile(target, "previous");
    EXPECT_FALSE(FtpGetFile(c.Connection, "cut.bin", target.c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), ERROR_FTP_DROPPED);
    EXPECT_EQ(TFtpPeer::ReadFile(target), "previous");
    // The control connection is still in step: the next download is whole.
    const std::string whole = peer.Local() + "/whole.bin";
    ASSERT_TRUE(FtpGetFile(c.Connection, "whole.bin", whole.c_str(), 0, 0, FTP_TRANSFER_TYPE_BINARY, 0))
        << GetLastError() << " " << LastResponse();
    EXPECT_TRUE(TFtpPeer::ReadFile(whole) == Pattern(1 << 20, 4));
}

// A server that closes connections idle for 2 s: NOOPs keep it open, and once it has closed
// one the next listing connects again, logs in and lists the same folder.
TEST(FtpIdle, KeepAliveAndReconnectAfterTheServerDroppedAnIdleConnection) {
    std::vector<std::string> args = SignedArgs();
    args.insert(args.end(), {"--idle", "2"});
    TFtpPeer peer("active", "127.0.0.1", args);
    fs::create_directories(peer.Root() + "/sub");
    TFtpPeer::WriteFile(peer.Root() + "/sub/inside.txt", "in");
    const DWORD idle = 300, on = 1;
    {
        TConnection kept;
        kept.Open(peer.HostField(), FTP_TLS_EXPLICIT_REQUIRED);
        ASSERT_NE(kept.Connection, nullptr);
        ASSERT_TRUE(InternetSetOption(kept.Connection, INTERNET_OPTION_FTP_IDLE_TIME, &idle, sizeof idle));
        for (int i = 0; i < 7; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            EXPECT_TRUE(FtpKeepAlive(kept.Connection)) << i << " " << GetLastError();
        }
        // No reconnecting on this one: it lives only thanks to the NOOPs.
        EXPECT_EQ(ListAll(kept.Connection).count("sub"), 1u);
    }
    {
        TConnection dropped;
        dropped.Open(peer.HostField(), FTP_TLS_EXPLICIT_IF_OFFERED);
        ASSERT_NE(dropped.Connection, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(2800));
        EXPECT_FALSE(FtpSetCurrentDirectory(dropped.Connection, "sub")); // without the option: closed
    }
    {
        TConnection back;
        back.Open(peer.HostField(), FTP_TLS_EXPLICIT_IF_OFFERED, INTERNET_FLAG_PASSIVE);
        ASSERT_NE(back.Connection, nullptr);
        ASSERT_TRUE(InternetSetOption(back.Connection, INTERNET_OPTION_FTP_RECONNECT, &on, sizeof on));
        ASSERT_TRUE(FtpSetCurrentDirectory(back.Connection, "sub"));
        std::this_thread::sleep_for(std::chrono::milliseconds(2800));
        std::map<std::string, std::uint64_t> listed = ListAll(back.Connection);
        EXPECT_EQ(listed.count("inside.txt"), 1u) << GetLastError() << " " << LastResponse();
        char dir[MAX_PATH] = "";
        DWORD length = sizeof dir;
        ASSERT_TRUE(FtpGetCurrentDirectory(back.Connection, dir, &length));
        EXPECT_STREQ(dir, "/sub");
    }
}

} // namespace
