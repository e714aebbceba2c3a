// The protocol 1.5 engine over loopback against the scripted Python server, for each cipher the
// client can choose, with and without compression.
#include "Ssh1TestKeys.h"
#include "SshTestPump.h"

#include "ssh/crypto/BigInt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

// Runs ssh1_server.py with args; stops it by its pid when the test is done.
struct TSsh1Server {
    std::string Dir;
    pid_t Pid = -1;
    int Port = 0;

    explicit TSsh1Server(const std::vector<std::string>& args) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-ssh1-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) return;
        Dir = tmpl;
        const std::string script = std::string(VARNELLO_TEST_DATA) + "/ssh1_server.py";
        const std::string log = Dir + "/server.log";
        Pid = fork();
        if (Pid == 0) {
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<const char*> argv{"/usr/bin/python3", script.c_str()};
            for (const auto& a : args) argv.push_back(a.c_str());
            argv.push_back(nullptr);
            execv(argv[0], const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        for (int i = 0; i < 200 && Port == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::string text = ReadFile(log);
            if (text.rfind("PORT ", 0) == 0) Port = std::stoi(text.substr(5));
        }
    }

    // Waits for the server's verdict (it exits after one client), then its log.
    std::string Finish() {
        for (int i = 0; i < 100 && Pid > 0; ++i) {
            int status;
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return ReadFile(Dir + "/server.log");
    }

    ~TSsh1Server() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            int status;
            waitpid(Pid, &status, 0);
        }
        if (!Dir.empty()) std::filesystem::remove_all(Dir);
    }
};

struct TCase {
    int Cipher;
    bool Compression;
};

class Ssh1Server : public ::testing::TestWithParam<TCase> {};

TEST_P(Ssh1Server, PasswordLoginPtyAndEchoShell) {
    const TCase& p = GetParam();
    TSsh1Server server({"--cipher", std::to_string(p.Cipher)});
    ASSERT_GT(server.Port, 0) << server.Finish();

    TNvSSHClient client;
    client.Versions = qxSSH1;
    client.UserName = "user";
    client.Password = "secret";
    client.ForceCompression = p.Compression;
    std::vector<int> errors;
    client.OnError = [&](TNvSSHClient*, int code) { errors.push_back(code); };
    TNvSSHTunnelList list;
    TNvShellSSHTunnel shell;
    list.Add(&shell);
    client.SetTunnelList(&list);
    std::string out;
    bool closed = false;
    TNvSSHTunnelConnection* session = nullptr;
    shell.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        session = c;
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            out.append(reinterpret_cast<const char*>(b), size_t(n));
        };
        c->OnClose = [&](TNvSSHTunnelConnection*, int) { closed = true; };
    };
    bool sent = false;
    client.OnOpenConnection = [&](TNvSSHClient*) {
        ASSERT_NE(session, nullptr);
        const std::string text = "one two\nexit\n";
        session->SendData(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
        sent = true;
    };
    TPump pump(client);
    ASSERT_TRUE(pump.Connect(server.Port));
    pump.RunUntil([&] { return closed || !errors.empty(); }, 30);
    const std::string log = server.Finish();
    EXPECT_TRUE(errors.empty()) << log;
    EXPECT_TRUE(sent);
    EXPECT_EQ(out, "one two\nexit\n") << log;
    EXPECT_TRUE(closed);
    EXPECT_NE(log.find("RESULT "), std::string::npos) << log;
    EXPECT_NE(log.find("cipher=" + std::to_string(p.Cipher) + " "), std::string::npos) << log;
    EXPECT_NE(log.find("confirmed=1"), std::string::npos) << log;
    EXPECT_NE(log.find("pty=vt100:80x24"), std::string::npos) << log;
    EXPECT_EQ(log.find("compression=6") != std::string::npos, p.Compression) << log;
    client.SetTunnelList(nullptr);
}

const TCase Cases[] = {{6, false}, {6, true},  {2, false}, {2, true},  {5, false},
                       {5, true},  {1, false}, {1, true},  {0, false}, {0, true}};

INSTANTIATE_TEST_SUITE_P(Each, Ssh1Server, ::testing::ValuesIn(Cases), [](const auto& info) {
    return "cipher" + std::to_string(info.param.Cipher) + (info.param.Compression ? "_zlib" : "_plain");
});

TEST(Ssh1ServerRsa, ChallengeLoginRunsACommand) {
    TSsh1Server server({"--cipher", "6", "--authorized", Ssh1TestKeys::User1024N, "--password", "not-this"});
    ASSERT_GT(server.Port, 0) << server.Finish();
    using Varnello::Crypto::TBigInt;
    TNvSSHMemoryKeyStorage storage;
    for (auto [n, d] : {std::pair{Ssh1TestKeys::Key1024N, Ssh1TestKeys::Key1024D},
                        std::pair{Ssh1TestKeys::User1024N, Ssh1TestKeys::User1024D}}) {
        TNvSSHKey key;
        key.KeyType = TNvSSHKey::ktRSA;
        key.RSAPublicExponent = TBigInt::FromUint(65537).ToMinimalBytes();
        key.RSAModulus = TBigInt::FromHex(n).ToMinimalBytes();
        key.RSAPrivateExponent = TBigInt::FromHex(d).ToMinimalBytes();
        storage.AddKey(key);
    }
    TNvSSHClient client;
    client.Versions = qxSSH1;
    client.UserName = "user";
    client.AuthenticationTypes = 2;
    client.SetKeyStorage(&storage);
    std::vector<int> errors;
    client.OnError = [&](TNvSSHClient*, int code) { errors.push_back(code); };
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel command;
    command.Command = "echo hi";
    list.Add(&command);
    client.SetTunnelList(&list);
    std::string out, err;
    int exitStatus = -1;
    command.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            out.append(reinterpret_cast<const char*>(b), size_t(n));
        };
        c->OnExtendedData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            err.append(reinterpret_cast<const char*>(b), size_t(n));
        };
        c->OnClose = [&](TNvSSHTunnelConnection* conn, int) { exitStatus = conn->ExitStatus; };
    };
    TPump pump(client);
    ASSERT_TRUE(pump.Connect(server.Port));
    pump.RunUntil([&] { return exitStatus >= 0 || !errors.empty(); }, 30);
    const std::string log = server.Finish();
    EXPECT_TRUE(errors.empty()) << log;
    EXPECT_EQ(out, "hi\n") << log;
    EXPECT_EQ(err, "") << "standard error goes to shell sessions only";
    EXPECT_EQ(exitStatus, 3);
    EXPECT_NE(log.find("auth=rsa"), std::string::npos) << log;
    EXPECT_NE(log.find("command=echo hi"), std::string::npos) << log;
    client.SetTunnelList(nullptr);
}

} // namespace
