// A real OpenSSH sshd for interop tests: its own host keys, configuration and test user in a
// temporary folder, on a free loopback port; stopped by its process id and cleaned up after.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace SshdTest {

// A shell command's standard output (empty when it cannot be started).
inline std::string RunOutput(const std::string& cmd) {
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    pclose(f);
    return out;
}

inline int RunCommand(const std::string& cmd) {
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    int port = ntohs(a.sin_port);
    close(fd);
    return port;
}

inline int ConnectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One sshd with the given extra configuration lines.
class TSshd {
public:
    std::string Dir;
    std::string User;
    std::string Password = "Vr-test-pass-7";
    int Port = 0;
    pid_t Pid = -1;

    ~TSshd() { Stop(); }

    // Generates host keys of every type once per fixture folder; true when sshd listens.
    bool Start(const std::string& extraConfig) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vrn-sshd-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) return false;
        Dir = tmpl;
        chmod(Dir.c_str(), 0755);
        mkdir("/run/sshd", 0755);
        for (const char* type : {"ed25519", "rsa", "dsa"}) {
            std::string cmd = "ssh-keygen -q -t " + std::string(type) + " -N '' -f " + Dir + "/host_" + type +
                              (std::string(type) == "rsa" ? " -b 2048" : "") + " >/dev/null 2>&1";
            if (RunCommand(cmd) != 0) return false;
        }
        User = "vrnssh" + std::to_string(getpid() % 100000);
        RunCommand("userdel -f " + User + " >/dev/null 2>&1");
        if (RunCommand("useradd -M -d " + Dir + " -s /bin/sh " + User + " >/dev/null 2>&1") != 0)
            return false;
        if (RunCommand("echo '" + User + ":" + Password + "' | chpasswd") != 0) return false;
        Port = FreePort();
        std::ofstream cfg(Dir + "/sshd_config");
        // sshd keeps the first value it reads for a keyword, so the test's own lines go first.
        cfg << extraConfig << "\n"
            << "Port " << Port << "\nListenAddress 127.0.0.1\n"
            << "HostKey " << Dir << "/host_ed25519\nHostKey " << Dir << "/host_rsa\nHostKey " << Dir
            << "/host_dsa\n"
            << "PidFile " << Dir << "/sshd.pid\n"
            << "AuthorizedKeysFile " << Dir << "/authorized_keys\n"
            << "StrictModes no\nUsePAM yes\nPasswordAuthentication yes\nKbdInteractiveAuthentication yes\n"
            << "PubkeyAuthentication yes\nPermitRootLogin no\nSubsystem sftp /usr/lib/openssh/sftp-server\n"
            << "LogLevel VERBOSE\n";
        cfg.close();
        std::ofstream(Dir + "/authorized_keys").close();
        chmod((Dir + "/authorized_keys").c_str(), 0644);
        Pid = fork();
        if (Pid == 0) {
            std::string log = Dir + "/sshd.log";
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 2);
            dup2(fd, 1);
            execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", (Dir + "/sshd_config").c_str(),
                  (char*)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            int fd = ConnectLoopback(Port);
            if (fd >= 0) {
                close(fd);
                return true;
            }
            int status;
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                std::fprintf(stderr, "sshd exited:\n%s\n", Log().c_str());
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string Log() const { return ReadFile(Dir + "/sshd.log"); }
    std::string HostKeyBlob(const std::string& type) const {
        return ReadFile(Dir + "/host_" + type + ".pub");
    }

    void AuthorizeKey(const std::string& publicLine) {
        std::ofstream f(Dir + "/authorized_keys", std::ios::app);
        f << publicLine << "\n";
    }

    void Stop() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            int status;
            waitpid(Pid, &status, 0);
            Pid = -1;
        }
        if (!User.empty()) {
            RunCommand("userdel -f " + User + " >/dev/null 2>&1");
            User.clear();
        }
        if (!Dir.empty()) {
            RunCommand("rm -rf " + Dir);
            Dir.clear();
        }
    }
};

} // namespace SshdTest
