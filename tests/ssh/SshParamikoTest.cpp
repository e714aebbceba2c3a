// The client against paramiko, the second real peer: the older ciphers OpenSSH no longer has
// (paramiko's table extended by the server script) and "zlib" from the first NEWKEYS on.
#include "SshTestPump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

struct TParamikoCase {
    const char* Cipher;
    const char* Mac;
    const char* Compression;
};

class Paramiko : public ::testing::TestWithParam<TParamikoCase> {};

TEST_P(Paramiko, SessionRunsACommand) {
    const TParamikoCase& p = GetParam();
    std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-paramiko-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    const std::string dir = tmpl;
    const std::string portFile = dir + "/port";
    const std::string script = std::string(VARNELLO_TEST_DATA) + "/paramiko_server.py";
    pid_t pid = fork();
    if (pid == 0) {
        const std::string log = dir + "/server.log";
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execl("/usr/bin/python3", "/usr/bin/python3", script.c_str(), portFile.c_str(), p.Cipher, p.Mac,
              p.Compression, "user", "pw-123", (char*)nullptr);
        _exit(127);
    }
    int port = 0;
    for (int i = 0; i < 200 && port == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string text = ReadFile(portFile);
        if (!text.empty()) port = std::stoi(text);
    }
    TNvSSHClient client;
    client.Versions = qxSSH2;
    client.UserName = "user";
    client.Password = "pw-123";
    client.ForceCompression = std::string(p.Compression) != "none";
    std::vector<int> errors;
    client.OnError = [&](TNvSSHClient*, int code) { errors.push_back(code); };
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    tunnel.Command = "olleh";
    tunnel.UseTerminal = false;
    list.Add(&tunnel);
    client.SetTunnelList(&list);
    std::string out;
    bool closed = false;
    tunnel.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            out.append(reinterpret_cast<const char*>(b), size_t(n));
        };
        c->OnClose = [&](TNvSSHTunnelConnection*, int) { closed = true; };
    };
    TPump pump(client);
    if (port > 0 && pump.Connect(port)) pump.RunUntil([&] { return closed || !errors.empty(); }, 30);
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    const std::string log = ReadFile(dir + "/server.log");
    RunCommand("rm -rf " + dir);
    ASSERT_GT(port, 0) << log;
    EXPECT_TRUE(errors.empty()) << errors.front() << "\n" << log;
    EXPECT_EQ(out, "hello\n") << log;
    EXPECT_STREQ(client.Negotiated().CipherOut->Name, p.Cipher);
    EXPECT_STREQ(client.Negotiated().CompressionIn->Name, p.Compression);
}

const TParamikoCase Cases[] = {
    {"aes128-ctr", "hmac-sha2-256", "zlib"}, {"blowfish-cbc", "hmac-sha1", "none"},
    {"cast128-cbc", "hmac-md5", "none"},     {"idea-cbc", "hmac-sha1", "none"},
    {"arcfour", "hmac-sha1", "none"},        {"des-cbc", "hmac-sha1-96", "none"},
    {"twofish256-cbc", "hmac-sha1", "none"}, {"twofish192-cbc", "hmac-sha1", "none"},
    {"twofish128-cbc", "hmac-sha1", "zlib"}, {"serpent256-cbc", "hmac-sha1", "none"},
    {"serpent192-cbc", "hmac-sha1", "none"}, {"serpent128-cbc", "hmac-md5-96", "none"},
};

INSTANTIATE_TEST_SUITE_P(Each, Paramiko, ::testing::ValuesIn(Cases), [](const auto& info) {
    std::string n = std::string(info.param.Cipher) + "_" + info.param.Compression;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

} // namespace
