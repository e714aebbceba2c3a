// One timed SSH session of our client against a running sshd, for run.sh to compare with ssh.
//
//   bench_ssh PORT USER KEYFILE handshake          connect, authenticate, run "true"
//   bench_ssh PORT USER KEYFILE up BYTES           "cat > /dev/null" fed BYTES
//   bench_ssh PORT USER KEYFILE down PATH BYTES    "cat PATH", BYTES expected
// Prints the wall time in seconds from TCP connect to the channel's close. KEYFILE is an
// unencrypted OpenSSH Ed25519 private key, the same file ssh is given.
#include "ssh/SshClient.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace Varnello::Ssh;

namespace {

std::vector<uint8_t> Unbase64(const std::string& in) {
    std::vector<uint8_t> out;
    uint32_t v = 0;
    int bits = 0;
    for (char ch : in) {
        int x;
        if (ch >= 'A' && ch <= 'Z')
            x = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            x = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            x = ch - '0' + 52;
        else if (ch == '+')
            x = 62;
        else if (ch == '/')
            x = 63;
        else
            continue;
        v = (v << 6) | uint32_t(x);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(v >> bits));
        }
    }
    return out;
}

// The "openssh-key-v1" container, unencrypted, one Ed25519 key.
bool LoadEd25519(const std::string& path, TNvSSHKey& key) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    std::string text = s.str(), body;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find("-----") == std::string::npos) body += line;
    std::vector<uint8_t> raw = Unbase64(body);
    const char magic[] = "openssh-key-v1";
    if (raw.size() < sizeof(magic) || std::memcmp(raw.data(), magic, sizeof(magic)) != 0) return false;
    try {
        TSshReader r(raw.data() + sizeof(magic), raw.size() - sizeof(magic));
        if (r.String() != "none") return false;
        r.String();
        r.String();
        if (r.Uint32() != 1) return false;
        r.StringView();
        TBytes priv = r.StringBytes();
        TSshReader p(priv);
        p.Uint32();
        p.Uint32();
        if (p.String() != "ssh-ed25519") return false;
        TBytes pk = p.StringBytes();
        TBytes sk = p.StringBytes();
        if (pk.size() != 32 || sk.size() != 64) return false;
        key.KeyType = TNvSSHKey::ktEd25519;
        key.Ed25519PublicKey = pk;
        key.Ed25519Seed.assign(sk.begin(), sk.begin() + 32);
        return true;
    } catch (const ENvSSHException&) {
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_ssh PORT USER KEYFILE handshake|up BYTES|down PATH BYTES\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string mode = argv[4];
    TNvSSHKey key;
    if (!LoadEd25519(argv[3], key)) {
        std::fprintf(stderr, "cannot read the key\n");
        return 2;
    }
    TNvSSHMemoryKeyStorage storage;
    storage.AddKey(key);
    uint64_t total = 0;
    std::string command = "true";
    if (mode == "up" && argc >= 6) {
        total = std::strtoull(argv[5], nullptr, 10);
        command = "cat > /dev/null";
    } else if (mode == "down" && argc >= 7) {
        total = std::strtoull(argv[6], nullptr, 10);
        command = std::string("cat ") + argv[5];
    }

    const auto start = std::chrono::steady_clock::now();
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return 1;

    TNvSSHClient client;
    client.Versions = qxSSH2;
    client.UserName = argv[2];
    client.AuthenticationTypes = atPublicKey;
    client.SetKeyStorage(&storage);
    TNvSSHTunnelList list;
    TNvCommandSSHTunnel tunnel;
    tunnel.Command = command;
    tunnel.UseTerminal = false;
    list.Add(&tunnel);
    client.SetTunnelList(&list);
    int error = 0;
    bool closed = false, gotBytes = false;
    uint64_t sent = 0, received = 0;
    TNvSSHTunnelConnection* conn = nullptr;
    std::vector<uint8_t> chunk(65536, 'v');
    client.OnError = [&](TNvSSHClient*, int code) { error = code; };
    client.OnSend = [&](TNvSSHClient*, const uint8_t* b, int n) {
        size_t done = 0;
        while (done < size_t(n)) {
            ssize_t w = send(fd, b + done, size_t(n) - done, MSG_NOSIGNAL);
            if (w <= 0) return;
            done += size_t(w);
        }
    };
    client.OnReceive = [&](TNvSSHClient*, uint8_t* b, int max, int& written) {
        ssize_t n = recv(fd, b, size_t(max), MSG_DONTWAIT);
        written = n > 0 ? int(n) : 0;
        gotBytes = n > 0;
        if (n == 0) closed = true;
    };
    tunnel.OnOpen = [&](TNvCustomSSHTunnel*, TNvSSHTunnelConnection* c) {
        conn = c;
        c->OnData = [&](TNvSSHTunnelConnection*, const uint8_t*, int n) { received += uint64_t(n); };
        c->OnClose = [&](TNvSSHTunnelConnection*, int) {
            closed = true;
            conn = nullptr;
        };
        if (mode != "up") c->SendEof();
    };
    client.Open();
    while (!closed && error == 0) {
        if (conn && mode == "up") {
            while (conn && sent < total && conn->Queued() < (1u << 20)) {
                const size_t n = size_t(std::min<uint64_t>(chunk.size(), total - sent));
                conn->SendData(chunk.data(), int(n));
                sent += n;
            }
            if (conn && sent == total) conn->SendEof();
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 100);
        for (int i = 0; i < 1000; ++i) {
            gotBytes = false;
            client.ReceiveData();
            if (!gotBytes || closed) break;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fd);
    if (error != 0 || (mode == "down" && received != total)) {
        std::fprintf(stderr, "session failed: error %d, %llu of %llu bytes\n", error,
                     static_cast<unsigned long long>(received), static_cast<unsigned long long>(total));
        return 1;
    }
    std::printf("%.4f %s\n", seconds,
                client.Negotiated().CipherOut ? client.Negotiated().CipherOut->Name : "");
    return 0;
}
