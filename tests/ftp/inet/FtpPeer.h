// A pyftpdlib server for interop tests: started on a free loopback port with a temporary root
// and a user, stopped (and its root removed) by the destructor. The process is ours alone and
// is only ever signalled by its own pid.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

class TFtpPeer {
public:
    static constexpr const char* User = "tester";
    static constexpr const char* Password = "secret";

    explicit TFtpPeer(const std::string& mode = "active", const std::string& host = "127.0.0.1",
                      const std::vector<std::string>& extra = {})
        : FHost(host) {
        char tmpl[] = "/tmp/varnello-ftp-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        FBase = tmpl;
        FRoot = FBase + "/root";
        FLocal = FBase + "/local";
        std::filesystem::create_directories(FRoot);
        std::filesystem::create_directories(FLocal);

        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string script = std::string(VARNELLO_SOURCE_DIR) + "/tests/ftp/inet/ftpserver.py";
        std::vector<std::string> args = {"/usr/bin/python3", script, "--host",     host,     "--root", FRoot,
                                         "--user",           User,   "--password", Password, "--mode", mode};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            throw std::runtime_error("cannot start the FTP peer");
        }
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0 && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        if (line.rfind("PORT ", 0) != 0) {
            Stop();
            throw std::runtime_error("the FTP peer did not start: " + line);
        }
        FPort = std::stoi(line.substr(5));
    }
    ~TFtpPeer() {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(FBase, ec);
    }

    // Ends the server abruptly (SIGKILL), as a crash or a pulled cable would.
    void Kill() {
        if (FPid > 0) kill(FPid, SIGKILL);
        Reap();
    }
    void Stop() {
        if (FPid > 0) kill(FPid, SIGTERM);
        Reap();
    }

    int Port() const { return FPort; }
    // The host field as the window's FTPEdit would hold it.
    std::string HostField() const {
        return (FHost.find(':') != std::string::npos ? "[" + FHost + "]" : FHost) + ":" +
               std::to_string(FPort);
    }
    const std::string& Root() const { return FRoot; }   // the server's "/"
    const std::string& Local() const { return FLocal; } // a scratch folder for local files

    static void WriteFile(const std::string& path, const std::string& content) {
        std::ofstream f(path, std::ios::binary);
        f << content;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

private:
    void Reap() {
        if (FPid > 0) {
            int status;
            waitpid(FPid, &status, 0);
            FPid = -1;
        }
    }

    std::string FHost, FBase, FRoot, FLocal;
    pid_t FPid = -1;
    int FPort = 0;
};
