// Shared helpers of the SHA-2, AES-mode, ChaCha/Poly1305, curve and RSA-SHA-2 tests: a reader for
// the vector files under data/ and hex conversion.
//
// Vector files are blocks of "Name = value" lines separated by blank lines; "[Section]" lines name
// the algorithm of the blocks that follow and "#" lines cite the source.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace Varnello::Crypto::Testing {

using TBytes = std::vector<uint8_t>;
using TVector = std::map<std::string, std::string>; // "Section" holds the section name

inline TBytes FromHex(const std::string& hex) {
    TBytes out;
    int nibble = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ' || c == ':')
            continue;
        else
            throw std::invalid_argument("bad hex digit in " + hex);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(uint8_t(nibble << 4 | v));
            nibble = -1;
        }
    }
    if (nibble >= 0) throw std::invalid_argument("odd hex length in " + hex);
    return out;
}

inline std::string ToHex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline std::string ToHex(const TBytes& b) {
    return ToHex(b.data(), b.size());
}

inline std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    const size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// Reads data/<name>; every block becomes one map. Fails the caller loudly when the file is missing.
inline std::vector<TVector> ReadVectors(const std::string& name) {
    const std::string path = std::string(VARNELLO_TEST_DATA) + "/data/" + name;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<TVector> all;
    std::string section, line;
    TVector cur;
    auto flush = [&] {
        if (!cur.empty()) {
            cur["Section"] = section;
            all.push_back(cur);
            cur.clear();
        }
    };
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty()) {
            flush();
        } else if (t[0] == '#') {
            continue;
        } else if (t[0] == '[') {
            flush();
            section = t.substr(1, t.find(']') - 1);
        } else {
            const size_t eq = t.find('=');
            if (eq == std::string::npos) throw std::runtime_error("bad line in " + path + ": " + t);
            cur[Trim(t.substr(0, eq))] = Trim(t.substr(eq + 1));
        }
    }
    flush();
    return all;
}

inline TBytes RandomBytes(std::mt19937_64& rng, size_t n) {
    TBytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

// Cuts n into a random sequence of chunk lengths (some zero), so incremental code is exercised
// across every alignment.
inline std::vector<size_t> RandomSplit(std::mt19937_64& rng, size_t n, size_t maxChunk = 200) {
    std::vector<size_t> parts;
    while (n > 0) {
        size_t c = rng() % (maxChunk + 1);
        if (c > n) c = n;
        parts.push_back(c);
        n -= c;
    }
    return parts;
}

} // namespace Varnello::Crypto::Testing
