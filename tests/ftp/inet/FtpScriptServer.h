// A scripted FTP server inside the test process, for server behaviour real servers never
// show: it serves one control connection on a free loopback port, hands each command line to
// Answer (on the server's thread) and answers through Reply. Data connections are opened by
// the script itself (OpenPassive / ConnectActive).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline int ListenLoopback(std::uint16_t& port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s, 4);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return s;
}

inline void SendAll(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += std::size_t(n);
    }
}

// Serves one control connection (later ones are refused with 421); Answer sees each command
// line and replies through Reply.
class TScriptedServer {
public:
    std::function<void(TScriptedServer& s, const std::string& line)> Answer;
    std::string Greeting = "220 Scripted\r\n";

    TScriptedServer() { FListener = ListenLoopback(FPort); }
    ~TScriptedServer() {
        shutdown(FListener, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FControl >= 0) shutdown(FControl, SHUT_RDWR); // a client still connected
        }
        if (FThread.joinable()) FThread.join();
        close(FListener);
        if (FDataListener >= 0) close(FDataListener);
    }
    void Start() {
        FThread = std::thread([this] {
            int c = accept(FListener, nullptr, nullptr);
            if (c < 0) return;
            FControl = c;
            SendAll(c, Greeting);
            std::string buffer;
            char chunk[512];
            // A second client (the window's transfer connection) is told at once that there
            // is room for one, as servers limited to one session per user do.
            pollfd p[2] = {{c, POLLIN, 0}, {FListener, POLLIN, 0}};
            for (;;) {
                if (poll(p, 2, -1) < 0) break;
                if (p[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                    p[1].fd = -1; // shut down by the destructor
                } else if (p[1].revents & POLLIN) {
                    int extra = accept(FListener, nullptr, nullptr);
                    if (extra >= 0) {
                        SendAll(extra, "421 One connection at a time\r\n");
                        close(extra);
                    } else {
                        p[1].fd = -1;
                    }
                }
                if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t n = recv(c, chunk, sizeof chunk, 0);
                if (n <= 0) break;
                buffer.append(chunk, std::size_t(n));
                std::size_t eol;
                while ((eol = buffer.find("\r\n")) != std::string::npos) {
                    std::string line = buffer.substr(0, eol);
                    buffer.erase(0, eol + 2);
                    {
                        std::lock_guard<std::mutex> lock(FLock);
                        FReceived.push_back(line);
                    }
                    Answer(*this, line);
                }
            }
            std::lock_guard<std::mutex> lock(FLock);
            FControl = -1;
            close(c);
        });
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(FPort); }
    void Reply(const std::string& text) { SendAll(FControl, text); }
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> lock(FLock);
        return FReceived;
    }
    bool ReceivedVerb(const std::string& verb) {
        for (const std::string& l : Received())
            if (l.rfind(verb, 0) == 0) return true;
        return false;
    }
    // Passive: a data listener whose port goes into the 229 reply.
    std::uint16_t OpenPassive() {
        if (FDataListener >= 0) close(FDataListener);
        std::uint16_t port;
        FDataListener = ListenLoopback(port);
        return port;
    }
    void SendPassiveData(const std::string& data) {
        pollfd p{FDataListener, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return; // the client never came
        int d = accept(FDataListener, nullptr, nullptr);
        if (d < 0) return;
        SendAll(d, data);
        close(d);
    }
    // Sends chunk `times` times on a passive data connection; false when the client hung up
    // before all of it went.
    bool SendPassiveDataChecked(const std::string& chunk, int times) {
        pollfd p{FDataListener, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return false;
        int d = accept(FDataListener, nullptr, nullptr);
        if (d < 0) return false;
        bool whole = true;
        for (int i = 0; i < times && whole; ++i) {
            std::size_t sent = 0;
            while (sent < chunk.size()) {
                ssize_t n = send(d, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    whole = false;
                    break;
                }
                sent += std::size_t(n);
            }
        }
        close(d);
        return whole;
    }
    // Reads a passive data connection to its end (an upload).
    std::string ReceivePassiveData() {
        std::string data;
        pollfd p{FDataListener, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return data;
        int d = accept(FDataListener, nullptr, nullptr);
        if (d < 0) return data;
        char chunk[4096];
        ssize_t n;
        while ((n = recv(d, chunk, sizeof chunk, 0)) > 0) data.append(chunk, std::size_t(n));
        close(d);
        return data;
    }
    // Active: connect to the port a PORT command names and keep the connection.
    void ConnectActive(const std::string& portLine) {
        unsigned h1, h2, h3, h4, p1, p2;
        std::sscanf(portLine.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2);
        FActive = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(std::uint16_t(p1 * 256 + p2));
        connect(FActive, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    void SendActiveData(const std::string& data) {
        SendAll(FActive, data);
        close(FActive);
    }
    void Hangup() { shutdown(FControl, SHUT_RDWR); }

private:
    int FListener = -1, FDataListener = -1, FActive = -1;
    std::atomic<int> FControl{-1};
    std::uint16_t FPort = 0;
    std::thread FThread;
    std::mutex FLock;
    std::vector<std::string> FReceived;
};

// A passive-only server with a tree the test describes through callbacks, so a tree can be
// endless or refuse a folder: enough of FTP for the main window's connect, listing, walks and
// transfers. Override sees every line first and returns true when it has answered it.
class TScriptedFtpTree {
public:
    struct TEntry {
        std::string Name;
        bool Folder = false;
        std::uint64_t Size = 0;
    };
    // The entries of a folder, or false when there is no such folder (CWD and LIST say 550).
    std::function<bool(const std::string& path, std::vector<TEntry>& entries)> Listing;
    // A file's bytes, or false when there is none (RETR says 550).
    std::function<bool(const std::string& path, std::string& content)> Content;
    std::function<bool(TScriptedServer& s, const std::string& line)> Override;
    void SetSizeReply(const std::string& reply) {
        std::lock_guard<std::mutex> lock(FLock);
        FSizeReply = reply;
    }

    TScriptedFtpTree() {
        Server.Answer = [this](TScriptedServer& s, const std::string& line) { Answer(s, line); };
    }
    void Start() { Server.Start(); }
    std::string Host() const { return Server.Host(); }
    std::vector<std::string> Received() { return Server.Received(); }
    int Count(const std::string& verb) {
        int n = 0;
        for (const std::string& l : Server.Received()) n += l.rfind(verb, 0) == 0;
        return n;
    }
    // Uploaded files by server path.
    std::vector<std::pair<std::string, std::string>> Stored() {
        std::lock_guard<std::mutex> lock(FLock);
        return FStored;
    }
    static std::string ListLine(const TEntry& e) {
        return std::string(e.Folder ? "drwxr-xr-x" : "-rw-r--r--") + " 1 u g " + std::to_string(e.Size) +
               " Jan  1  2020 " + e.Name + "\r\n";
    }
    std::string Resolve(const std::string& arg) const {
        if (arg.empty()) return FCwd;
        if (arg[0] == '/') return arg;
        return (FCwd == "/" ? "" : FCwd) + "/" + arg;
    }

    TScriptedServer Server;

private:
    void Answer(TScriptedServer& s, const std::string& line) {
        if (Override && Override(s, line)) return;
        std::size_t space = line.find(' ');
        std::string verb = line.substr(0, space);
        std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
        std::vector<TEntry> entries;
        std::string content;
        if (verb == "USER") return s.Reply("331 Password\r\n");
        if (verb == "PASS") return s.Reply("230 In\r\n");
        if (verb == "TYPE") return s.Reply("200 Binary\r\n");
        if (verb == "PORT" || verb == "EPRT") return s.Reply("502 Passive only\r\n");
        if (verb == "EPSV") return s.Reply("229 Ok (|||" + std::to_string(s.OpenPassive()) + "|)\r\n");
        if (verb == "PWD") return s.Reply("257 \"" + FCwd + "\"\r\n");
        if (verb == "CWD") {
            std::string path = Resolve(arg);
            if (!Listing(path, entries)) return s.Reply("550 " + path + ": No such folder\r\n");
            FCwd = path;
            return s.Reply("250 Moved\r\n");
        }
        if (verb == "LIST") {
            if (!Listing(Resolve(arg), entries)) return s.Reply("550 No such folder\r\n");
            std::string text;
            for (const TEntry& e : entries) text += ListLine(e);
            s.Reply("150 Here it comes\r\n");
            s.SendPassiveData(text);
            return s.Reply("226 Done\r\n");
        }
        if (verb == "SIZE") {
            std::lock_guard<std::mutex> lock(FLock);
            return s.Reply(FSizeReply);
        }
        if (verb == "RETR") {
            if (!Content || !Content(Resolve(arg), content)) return s.Reply("550 No such file\r\n");
            s.Reply("150 Opening\r\n");
            s.SendPassiveData(content);
            return s.Reply("226 Sent\r\n");
        }
        if (verb == "STOR") {
            s.Reply("150 Send it\r\n");
            std::string data = s.ReceivePassiveData();
            {
                std::lock_guard<std::mutex> lock(FLock);
                FStored.emplace_back(Resolve(arg), data);
            }
            return s.Reply("226 Stored\r\n");
        }
        if (verb == "MKD") return s.Reply("257 Made\r\n");
        if (verb == "QUIT") return s.Reply("221 Bye\r\n");
        s.Reply("502 " + verb + " not here\r\n");
    }

    std::string FCwd = "/";
    std::string FSizeReply = "502 No SIZE here\r\n";
    std::mutex FLock;
    std::vector<std::pair<std::string, std::string>> FStored;
};
