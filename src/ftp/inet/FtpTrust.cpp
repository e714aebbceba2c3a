// The remembered-certificates file; see FtpTrust.h.
#include "ftp/inet/FtpTrust.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

TFtpTrustStore::TFtpTrustStore(std::string path) : FPath(std::move(path)) {
    std::ifstream in(FPath);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t space = line.rfind(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos || space == 0) continue;
        FEntries[line.substr(0, space)] = line.substr(space + 1);
    }
}

std::string TFtpTrustStore::Key(const std::string& host, std::uint16_t port) {
    // Brackets keep an IPv6 address apart from its port.
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string TFtpTrustStore::Lookup(const std::string& host, std::uint16_t port) const {
    auto it = FEntries.find(Key(host, port));
    return it == FEntries.end() ? std::string() : it->second;
}

bool TFtpTrustStore::Remember(const std::string& host, std::uint16_t port, const std::string& fingerprint) {
    // A name with a space or line break would not read back as written.
    if (host.find_first_of(" \r\n") != std::string::npos ||
        fingerprint.find_first_of(" \r\n") != std::string::npos)
        return false;
    FEntries[Key(host, port)] = fingerprint;
    std::ostringstream text;
    for (const auto& [key, value] : FEntries) text << key << ' ' << value << '\n';
    // Written beside and renamed over, so a failed write leaves the old list whole.
    const std::string temp = FPath + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string bytes = text.str();
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), FPath.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}
