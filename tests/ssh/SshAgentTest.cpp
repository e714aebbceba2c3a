// The agent storage against a real ssh-agent started by the test (keys added with ssh-add), logins
// through it to a real sshd, the agent killed before signing, no agent at all, and a scripted
// hostile agent.
#include "SshTestPump.h"

#include "ssh/KeyFile.h"
#include "ssh/KnownHosts.h"
#include "ssh/SshAgent.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace Varnello::Ssh;
using namespace SshdTest;

namespace {

class TTempDir {
public:
    std::string Path;
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-ag-XXXXXX").string();
        if (mkdtemp(tmpl.data())) Path = tmpl;
    }
    ~TTempDir() {
        if (!Path.empty()) RunCommand("rm -rf " + Path);
    }
};

// ssh-agent in the foreground on a socket of our own; stopped by its pid.
class TAgent {
public:
    std::string Socket;
    pid_t Pid = -1;
    bool Start(const std::string& dir) {
        Socket = dir + "/agent.sock";
        Pid = fork();
        if (Pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("ssh-agent", "ssh-agent", "-D", "-a", Socket.c_str(), (char*)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            struct stat st {};
            if (stat(Socket.c_str(), &st) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    int Add(const std::string& keyFile, const std::string& flag = "") {
        return RunCommand("SSH_AUTH_SOCK=" + Socket + " ssh-add " + flag + " " + keyFile +
                          " >/dev/null 2>&1");
    }
    void Stop() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            int status;
            waitpid(Pid, &status, 0);
            Pid = -1;
        }
    }
    ~TAgent() { Stop(); }
};

std::string NewKey(const std::string& dir, const std::string& name, const std::string& type) {
    const std::string path = dir + "/" + name;
    RunCommand("ssh-keygen -q -t " + type + " -N '' -C " + name + " -f " + path + " >/dev/null 2>&1");
    return path;
}

// Logs in with the storage as the only method; returns the command's output.
std::string LoginThrough(TSshd& sshd, TNvSSHCustomKeyStorage& storage, TSession& s) {
    s.Client.AuthenticationTypes = atPublicKey;
    s.Client.SetKeyStorage(&storage);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    return RunExec(sshd, "echo agent", s, list, tunnel);
}

class SshAgentTest : public ::testing::Test {
protected:
    TSshd Sshd;
    TTempDir Tmp;
    TAgent Agent;
    bool Start() {
        if (!Sshd.Start("PubkeyAcceptedAlgorithms ssh-ed25519,rsa-sha2-512,rsa-sha2-256")) {
            ADD_FAILURE() << "sshd did not start";
            return false;
        }
        if (!Agent.Start(Tmp.Path)) {
            ADD_FAILURE() << "ssh-agent did not start";
            return false;
        }
        return true;
    }
};

} // namespace

TEST_F(SshAgentTest, LogsInWithEd25519AndRsaSha2FromTheAgent) {
    if (!Start()) return;
    const std::string stranger = NewKey(Tmp.Path, "stranger", "ed25519");
    const std::string rsa = NewKey(Tmp.Path, "rsa", "rsa");
    const std::string ed = NewKey(Tmp.Path, "ed", "ed25519");
    Sshd.AuthorizeKey(ReadFile(rsa + ".pub"));
    Sshd.AuthorizeKey(ReadFile(ed + ".pub"));
    ASSERT_EQ(Agent.Add(stranger), 0);
    ASSERT_EQ(Agent.Add(rsa), 0);
    ASSERT_EQ(Agent.Add(ed), 0);

    TNvSSHAgentKeyStorage storage(Agent.Socket);
    std::vector<std::string> errors;
    storage.OnError = [&](TNvSSHAgentKeyStorage*, const std::string& m) { errors.push_back(m); };
    ASSERT_TRUE(storage.Refresh()) << storage.LastError();
    ASSERT_EQ(storage.Count(), 3);
    EXPECT_EQ(storage.Comment(1), "rsa");
    EXPECT_FALSE(storage.GetKey(1)->HasPrivate());
    EXPECT_EQ(PublicKeyBlob(*storage.GetKey(1)), PubFileBlob(ReadFile(rsa + ".pub")));

    // The unknown key first, then RSA with a SHA-2 signature made by the agent.
    {
        TSession s(Sshd);
        EXPECT_EQ(LoginThrough(Sshd, storage, s), "agent\n");
        EXPECT_TRUE(s.Errors.empty());
        const std::string log = Sshd.Log();
        EXPECT_NE(log.find("Accepted publickey for " + Sshd.User), std::string::npos) << log;
        EXPECT_NE(log.find(KeyFingerprint(PubFileBlob(ReadFile(rsa + ".pub")))), std::string::npos) << log;
        EXPECT_NE(log.find("RSA SHA256:"), std::string::npos) << log;
    }
    // Without the RSA key in the agent, the Ed25519 key is used.
    ASSERT_EQ(Agent.Add(rsa + ".pub", "-d"), 0);
    ASSERT_TRUE(storage.Refresh());
    ASSERT_EQ(storage.Count(), 2);
    {
        TSession s(Sshd);
        EXPECT_EQ(LoginThrough(Sshd, storage, s), "agent\n");
        EXPECT_TRUE(s.Errors.empty());
        EXPECT_NE(Sshd.Log().find("ED25519 " + KeyFingerprint(PubFileBlob(ReadFile(ed + ".pub")))),
                  std::string::npos);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(SshAgentTest, AgentKilledBeforeSigningIsReportedAndAuthenticationGoesOn) {
    if (!Start()) return;
    const std::string ed = NewKey(Tmp.Path, "ed", "ed25519");
    const std::string rsa = NewKey(Tmp.Path, "rsa", "rsa");
    Sshd.AuthorizeKey(ReadFile(ed + ".pub"));
    Sshd.AuthorizeKey(ReadFile(rsa + ".pub"));
    ASSERT_EQ(Agent.Add(ed), 0);
    ASSERT_EQ(Agent.Add(rsa), 0);
    TNvSSHAgentKeyStorage storage(Agent.Socket);
    std::vector<std::string> errors;
    storage.OnError = [&](TNvSSHAgentKeyStorage*, const std::string& m) { errors.push_back(m); };
    ASSERT_TRUE(storage.Refresh());
    ASSERT_EQ(storage.Count(), 2);
    Agent.Stop();

    // Both keys are accepted by the server but cannot be signed: each failure is reported, the
    // public-key method fails and, with nothing left, the session ends cleanly (no internal error).
    TSession s(Sshd);
    LoginThrough(Sshd, storage, s);
    EXPECT_FALSE(s.Authenticated);
    EXPECT_EQ(s.AuthFailures, std::vector<int>{atPublicKey});
    EXPECT_EQ(s.Errors, std::vector<int>{114});
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find(Agent.Socket), std::string::npos) << errors[0];

    // The same storage with a local key after it: the local key logs in.
    struct TBoth : TNvSSHCustomKeyStorage {
        TNvSSHAgentKeyStorage* Agent;
        TNvSSHKey Local;
        int GetCount() override { return Agent->Count() + 1; }
        TNvSSHKey* GetKey(int i) override { return i < Agent->Count() ? Agent->GetKey(i) : &Local; }
        bool CanSign(int i) override { return i < Agent->Count() ? Agent->CanSign(i) : true; }
        bool SignExternally(int i, const std::string& a, const uint8_t* d, size_t n, TBytes& sig) override {
            return i < Agent->Count() && Agent->SignExternally(i, a, d, n, sig);
        }
    } both;
    both.Agent = &storage;
    both.Local = LoadPrivateKeyFile(ed, nullptr);
    errors.clear();
    TSession s2(Sshd);
    EXPECT_EQ(LoginThrough(Sshd, both, s2), "agent\n");
    EXPECT_TRUE(s2.Errors.empty());
    EXPECT_EQ(errors.size(), 2u);
}

TEST(SshAgentAbsent, NoSocketOrNoAgentIsReported) {
    TTempDir tmp;
    TNvSSHAgentKeyStorage none(tmp.Path + "/no-such.sock");
    std::string reported;
    none.OnError = [&](TNvSSHAgentKeyStorage*, const std::string& m) { reported = m; };
    EXPECT_FALSE(none.Refresh());
    EXPECT_EQ(none.Count(), 0);
    EXPECT_NE(reported.find(tmp.Path + "/no-such.sock"), std::string::npos) << reported;
    EXPECT_EQ(reported, none.LastError());

    // A socket path that exists but has no listener behind it.
    const std::string stale = tmp.Path + "/stale.sock";
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, stale.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        close(fd);
    }
    TNvSSHAgentKeyStorage dead(stale);
    EXPECT_FALSE(dead.Refresh());
    EXPECT_NE(dead.LastError().find("Cannot reach"), std::string::npos) << dead.LastError();
}

// A one-connection-at-a-time agent that answers every request with fixed bytes.
class THostileAgent {
public:
    std::string Socket;
    std::vector<uint8_t> Reply;
    bool CloseEarly = false;
    explicit THostileAgent(const std::string& dir) : Socket(dir + "/hostile.sock") {
        FFd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, Socket.c_str());
        bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(FFd, 4);
        FThread = std::thread([this] {
            for (;;) {
                pollfd p{FFd, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) {
                    if (FStop) return;
                    continue;
                }
                int c = accept(FFd, nullptr, nullptr);
                if (c < 0) return;
                uint8_t buf[4096];
                recv(c, buf, sizeof(buf), 0);
                if (!CloseEarly) send(c, Reply.data(), Reply.size(), MSG_NOSIGNAL);
                close(c);
            }
        });
    }
    ~THostileAgent() {
        FStop = true;
        FThread.join();
        close(FFd);
    }

private:
    int FFd;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

TEST(SshAgentHostile, BadRepliesAreRefusedWithoutHangingOrAllocating) {
    TTempDir tmp;
    THostileAgent agent(tmp.Path);
    TNvSSHAgentKeyStorage storage(agent.Socket);
    struct TCase {
        std::vector<uint8_t> Reply;
        const char* Expect;
    } cases[] = {
        {{0xff, 0xff, 0xff, 0xf0, 12}, "length"},                      // 4 GiB announced
        {{0, 0, 0, 0}, "length"},                                      // empty message
        {{0, 0, 0, 5, 12, 0x7f, 0xff, 0xff, 0xff}, "Invalid reply"},   // 2^31 identities
        {{0, 0, 0, 1, 5}, "refused"},                                  // SSH_AGENT_FAILURE
        {{0, 0, 0, 9, 12, 0, 0, 0, 1, 0, 0, 0, 200}, "Invalid reply"}, // string past the end
        {{0, 0, 0, 10, 12}, "closed"},                                 // cut short
    };
    for (const TCase& c : cases) {
        agent.Reply = c.Reply;
        EXPECT_FALSE(storage.Refresh());
        EXPECT_EQ(storage.Count(), 0);
        EXPECT_NE(storage.LastError().find(c.Expect), std::string::npos) << storage.LastError();
    }
    // A sign request answered with a signature of another algorithm is refused.
    TSshWriter sig;
    sig.String("ssh-rsa").String("xx");
    TSshWriter w;
    w.Byte(14).String(sig.Data());
    TSshWriter frame;
    frame.String(w.Data());
    agent.Reply = frame.Data();
    const uint8_t data[3] = {1, 2, 3};
    EXPECT_TRUE(storage.Sign(TBytes{1}, "rsa-sha2-256", data, 3).empty());
    EXPECT_NE(storage.LastError().find("instead of"), std::string::npos) << storage.LastError();
    agent.CloseEarly = true;
    EXPECT_TRUE(storage.Sign(TBytes{1}, "ssh-ed25519", data, 3).empty());
    EXPECT_NE(storage.LastError().find("closed"), std::string::npos) << storage.LastError();
}

TEST_F(SshAgentTest, LogonSettingsOfferTheKeyFileOrElseTheAgent) {
    if (!Start()) return;
    const std::string inAgent = NewKey(Tmp.Path, "agent-key", "ed25519");
    const std::string file = Tmp.Path + "/file-key";
    ASSERT_EQ(RunCommand("ssh-keygen -q -t rsa -b 2048 -N 'file-pass-1' -f " + file + " >/dev/null 2>&1"), 0);
    Sshd.AuthorizeKey(ReadFile(inAgent + ".pub"));
    Sshd.AuthorizeKey(ReadFile(file + ".pub"));
    ASSERT_EQ(Agent.Add(inAgent), 0);

    TNvSSHUserKeys keys(Agent.Socket);
    std::vector<std::string> log;
    keys.OnLog = [&](const std::string& m) { log.push_back(m); };
    keys.OnPassphrase = [](const std::string&, int, std::string& pass) {
        pass = "file-pass-1";
        return true;
    };
    auto run = [&](const TNvSSHLogonSettings& settings, const TBytes& expectedKey) {
        TSession s(Sshd);
        s.Client.Password.clear(); // nothing typed: the key must be used, not an empty password
        s.Client.AuthenticationTypes = atPassword | atKeyboardInteractive;
        keys.Apply(s.Client, settings);
        EXPECT_EQ(s.Client.Versions, qxSSH2);
        EXPECT_EQ(s.Client.AuthenticationTypes, unsigned(atPublicKey | atKeyboardInteractive));
        TNvSSHTunnelList list;
        TNvCommandSSHTunnel tunnel;
        EXPECT_EQ(RunExec(Sshd, "echo set", s, list, tunnel), "set\n");
        EXPECT_NE(Sshd.Log().find(KeyFingerprint(expectedKey)), std::string::npos)
            << KeyFingerprint(expectedKey) << Sshd.Log();
    };
    run({}, PubFileBlob(ReadFile(inAgent + ".pub")));
    run({file, false, true}, PubFileBlob(ReadFile(file + ".pub")));
    EXPECT_TRUE(log.empty());

    TSession s(Sshd);
    keys.Apply(s.Client, {Tmp.Path + "/no-key", true, false});
    EXPECT_EQ(s.Client.AuthenticationTypes, unsigned(atPassword)); // a typed password stays
    EXPECT_EQ(s.Client.Versions, qxSSH1 | qxSSH2);
    EXPECT_EQ(s.Client.KeyStorage(), nullptr);
    EXPECT_EQ(s.Client.AuthenticationTypes & atPublicKey, 0u);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find("not secure"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find(Tmp.Path + "/no-key"), std::string::npos) << log[1];

    // No key file and the agent gone: reported, nothing offered.
    Agent.Stop();
    log.clear();
    TSession s2(Sshd);
    keys.Apply(s2.Client, {});
    EXPECT_EQ(s2.Client.KeyStorage(), nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("Cannot reach"), std::string::npos) << log[0];
}
