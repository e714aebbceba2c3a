// known_hosts reading, matching and appending; base64 and fingerprints.
#include "ssh/KnownHosts.h"

#include "ssh/SshKey.h"
#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Hmac.h"
#include "ssh/crypto/Random.h"
#include "ssh/crypto/Sha1.h"
#include "ssh/crypto/Sha256.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace Varnello::Ssh {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char ch) {
    if (ch >= 'A' && ch <= 'Z') return ch - 'A';
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9') return ch - '0' + 52;
    if (ch == '+') return 62;
    if (ch == '/') return 63;
    return -1;
}

std::string Lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
    return s;
}

// Glob match with "*" and "?", iterative with one backtrack point (linear in practice, bounded
// by the product of the lengths in the worst case).
bool GlobMatch(std::string_view pattern, std::string_view text) {
    size_t p = 0, t = 0, starP = std::string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool HashedMatches(std::string_view entry, const std::string& name) {
    // |1|base64(salt)|base64(HMAC-SHA1(salt, name))
    entry.remove_prefix(3);
    const size_t bar = entry.find('|');
    if (bar == std::string_view::npos) return false;
    TBytes salt, hash;
    if (!Base64Decode(entry.substr(0, bar), salt) || !Base64Decode(entry.substr(bar + 1), hash)) return false;
    if (salt.size() != Crypto::TSha1::DigestSize || hash.size() != Crypto::TSha1::DigestSize) return false;
    uint8_t mac[Crypto::TSha1::DigestSize];
    Crypto::THmac<Crypto::TSha1>::Compute(salt.data(), salt.size(), name.data(), name.size(), mac);
    return Crypto::ConstTimeEqual(mac, hash.data(), sizeof(mac));
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

} // namespace

std::string Base64Encode(const uint8_t* data, size_t len, bool pad) {
    std::string out;
    out.reserve((len + 2) / 3 * 4);
    for (size_t i = 0; i < len; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (i + 1 < len) v |= uint32_t(data[i + 1]) << 8;
        if (i + 2 < len) v |= data[i + 2];
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
        if (i + 1 < len)
            out += Alphabet[(v >> 6) & 63];
        else if (pad)
            out += '=';
        if (i + 2 < len)
            out += Alphabet[v & 63];
        else if (pad)
            out += '=';
    }
    return out;
}

bool Base64Decode(std::string_view text, TBytes& out) {
    out.clear();
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '=') --end;
    if (text.size() - end > 2) return false;
    if ((end % 4) == 1) return false;
    if (text.size() != end && text.size() % 4 != 0) return false;
    out.reserve(end / 4 * 3 + 2);
    uint32_t v = 0;
    int bits = 0;
    for (size_t i = 0; i < end; ++i) {
        const int x = Base64Value(text[i]);
        if (x < 0) return false;
        v = (v << 6) | uint32_t(x);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(v >> bits));
        }
    }
    return true;
}

std::string KeyFingerprint(const TBytes& blob) {
    uint8_t digest[32];
    Crypto::TSha256::Compute(blob.data(), blob.size(), digest);
    return "SHA256:" + Base64Encode(digest, sizeof(digest), false);
}

bool KnownHostsFieldMatches(std::string_view field, const std::string& name) {
    if (field.substr(0, 3) == "|1|") return HashedMatches(field, name);
    bool matched = false;
    size_t i = 0;
    while (i <= field.size()) {
        size_t j = field.find(',', i);
        if (j == std::string_view::npos) j = field.size();
        std::string_view pattern = field.substr(i, j - i);
        const bool negated = !pattern.empty() && pattern[0] == '!';
        if (negated) pattern.remove_prefix(1);
        if (!pattern.empty() && GlobMatch(Lower(std::string(pattern)), name)) {
            if (negated) return false;
            matched = true;
        }
        i = j + 1;
    }
    return matched;
}

TNvKnownHosts::TNvKnownHosts(std::string ownFile, std::string userFile)
    : FOwnFile(std::move(ownFile)), FUserFile(std::move(userFile)) {}

std::string TNvKnownHosts::DefaultUserFile() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::string(home) + "/.ssh/known_hosts";
}

std::string TNvKnownHosts::HostEntryName(const std::string& host, int port) {
    const std::string h = Lower(host);
    if (port == 22 || port <= 0) return h;
    return "[" + h + "]:" + std::to_string(port);
}

void TNvKnownHosts::ScanFile(const std::string& path, const std::string& name, const TBytes& blob,
                             THostKeyCheck& known, THostKeyCheck& changed, THostKeyCheck& revoked) {
    if (path.empty()) return;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    const std::string type = BlobKeyType(blob);
    std::string line;
    size_t lineNo = 0;
    bool tooLong = false;
    bool eof = false;
    while (!eof && lineNo < MaxLines) {
        line.clear();
        tooLong = false;
        for (;;) {
            const int ch = std::fgetc(f);
            if (ch == EOF) {
                eof = true;
                break;
            }
            if (ch == '\n') break;
            if (line.size() < MaxLineLength)
                line += char(ch);
            else
                tooLong = true;
        }
        if (eof && line.empty()) break;
        ++lineNo;
        const int no = int(lineNo);
        if (tooLong) {
            FWarnings.push_back(path + ":" + std::to_string(no) + ": line too long");
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string_view> fields = SplitFields(line);
        if (fields.empty() || fields[0][0] == '#') continue;
        bool isRevoked = false;
        if (fields[0][0] == '@') {
            if (fields[0] == "@revoked") {
                isRevoked = true;
            } else {
                continue; // @cert-authority and markers this client does not know
            }
            fields.erase(fields.begin());
        }
        if (fields.size() < 3) {
            FWarnings.push_back(path + ":" + std::to_string(no) + ": missing fields");
            continue;
        }
        TBytes lineBlob;
        if (!Base64Decode(fields[2], lineBlob) || lineBlob.empty()) {
            FWarnings.push_back(path + ":" + std::to_string(no) + ": invalid key data");
            continue;
        }
        std::string lineType;
        try {
            lineType = BlobKeyType(lineBlob);
        } catch (const ENvSSHException&) {
            FWarnings.push_back(path + ":" + std::to_string(no) + ": invalid key data");
            continue;
        }
        if (lineType != fields[1]) {
            FWarnings.push_back(path + ":" + std::to_string(no) + ": key type does not match its data");
            continue;
        }
        const bool sameKey = lineBlob == blob;
        if (isRevoked) {
            // A revoked key is refused whatever host it is presented by.
            if (sameKey && revoked.Line == 0) revoked = {THostKeyStatus::Revoked, path, no, {}};
            continue;
        }
        if (!KnownHostsFieldMatches(fields[0], name)) continue;
        if (sameKey) {
            if (known.Line == 0) known = {THostKeyStatus::Known, path, no, {}};
        } else if (lineType == type && changed.Line == 0) {
            changed = {THostKeyStatus::Changed, path, no, KeyFingerprint(lineBlob)};
        }
    }
    if (lineNo >= MaxLines && !eof)
        FWarnings.push_back(path + ": more than " + std::to_string(MaxLines) + " lines, the rest not read");
    std::fclose(f);
}

THostKeyCheck TNvKnownHosts::Check(const std::string& host, int port, const TBytes& blob) {
    FWarnings.clear();
    const std::string name = HostEntryName(host, port);
    THostKeyCheck known, changed, revoked;
    ScanFile(FUserFile, name, blob, known, changed, revoked);
    if (FOwnFile != FUserFile) ScanFile(FOwnFile, name, blob, known, changed, revoked);
    if (revoked.Line) return revoked;
    if (known.Line) return known;
    if (changed.Line) return changed;
    return {};
}

bool TNvKnownHosts::Accept(const std::string& host, int port, const TBytes& blob, bool hashed,
                           std::string& error) {
    error.clear();
    std::string type;
    try {
        type = BlobKeyType(blob);
    } catch (const ENvSSHException&) {
        type.clear();
    }
    if (type.empty()) {
        error = "Invalid host key";
        return false;
    }
    const std::string name = HostEntryName(host, port);
    std::string entry;
    if (hashed) {
        uint8_t salt[Crypto::TSha1::DigestSize];
        Crypto::TRandom::Shared().Fill(salt, sizeof(salt));
        uint8_t mac[Crypto::TSha1::DigestSize];
        Crypto::THmac<Crypto::TSha1>::Compute(salt, sizeof(salt), name.data(), name.size(), mac);
        entry = "|1|" + Base64Encode(salt, sizeof(salt)) + "|" + Base64Encode(mac, sizeof(mac));
    } else {
        entry = name;
    }
    std::string line = entry + " " + type + " " + Base64Encode(blob.data(), blob.size()) + "\n";

    int fd = ::open(FOwnFile.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        // The config folder may not exist before the first accepted key.
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(FOwnFile).parent_path(), ec);
        if (!ec) fd = ::open(FOwnFile.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        error = FOwnFile + ": " + std::strerror(errno);
        return false;
    }
    // A file whose last line lacks its newline must not have the new entry glued to it.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') line.insert(line.begin(), '\n');
    }
    // One write with O_APPEND: the line lands whole at the end even beside another writer.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = FOwnFile + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += size_t(n);
    }
    const bool synced = ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced) {
        error = FOwnFile + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace Varnello::Ssh
