// Shared helpers of the cipher tests: a reader for the known-answer files under data/ and hex
// conversion. A vector file is a list of records separated by blank lines; each record holds
// "Name = hex" lines; lines starting with '#' cite the source and are skipped.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace CipherTest {

using TBytes = std::vector<uint8_t>;
using TRecord = std::map<std::string, std::string>;

inline TBytes FromHex(const std::string& hex) {
    TBytes out;
    int nibble = -1;
    for (char ch : hex) {
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else if (ch == ' ')
            continue;
        else
            throw std::runtime_error("bad hex digit in " + hex);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    if (nibble >= 0) throw std::runtime_error("odd hex length: " + hex);
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

inline std::vector<TRecord> ReadVectors(const std::string& name) {
    const std::string path = std::string(VARNELLO_TEST_DATA) + "/data/" + name;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<TRecord> records;
    TRecord current;
    std::string line;
    auto flush = [&] {
        if (!current.empty()) records.push_back(current);
        current.clear();
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            flush();
            continue;
        }
        if (line[0] == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) throw std::runtime_error("bad line in " + path + ": " + line);
        auto trim = [](std::string s) {
            const auto a = s.find_first_not_of(" \t");
            const auto b = s.find_last_not_of(" \t");
            return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
        };
        current[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    flush();
    if (records.empty()) throw std::runtime_error("no vectors in " + path);
    return records;
}

inline TBytes RandomBytes(std::mt19937& rng, size_t n) {
    TBytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// Splits n units into a few chunks of random size (some empty), to drive chained calls.
inline std::vector<size_t> RandomSplit(std::mt19937& rng, size_t n) {
    std::vector<size_t> parts;
    while (n) {
        size_t take = rng() % (n + 1);
        if (rng() % 4 == 0) take = n;
        parts.push_back(take);
        n -= take;
    }
    return parts;
}

// Runs every record of a block-cipher vector file (In and Out may span several blocks, processed
// one block at a time): encryption gives Out, and decryption in place gives In back.
using TBlockFn = std::function<void(const TBytes& key, const uint8_t* in, uint8_t* out)>;

inline void CheckBlockVectors(const std::string& file, size_t block, const TBlockFn& encrypt,
                              const TBlockFn& decrypt) {
    for (const auto& v : ReadVectors(file)) {
        const TBytes key = FromHex(v.at("Key")), in = FromHex(v.at("In")), out = FromHex(v.at("Out"));
        ASSERT_EQ(in.size(), out.size());
        ASSERT_EQ(in.size() % block, 0u);
        TBytes buf(in.size());
        for (size_t at = 0; at < in.size(); at += block) encrypt(key, in.data() + at, buf.data() + at);
        EXPECT_EQ(ToHex(buf), ToHex(out)) << file << " key " << v.at("Key");
        for (size_t at = 0; at < in.size(); at += block) decrypt(key, buf.data() + at, buf.data() + at);
        EXPECT_EQ(ToHex(buf), ToHex(in)) << file << " key " << v.at("Key");
    }
}

} // namespace CipherTest
