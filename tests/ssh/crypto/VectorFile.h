// Reader for the known-answer files under data/: "# comment" lines, and records of "Name = value"
// lines separated by blank lines. Values in hexadecimal stay text; the runner decides.
#pragma once

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using TVectorRecord = std::map<std::string, std::string>;

inline std::vector<TVectorRecord> ReadVectorFile(const std::string& name) {
    std::ifstream in(std::string(VARNELLO_TEST_DATA) + "/data/" + name);
    if (!in) throw std::runtime_error("missing vector file " + name);
    std::vector<TVectorRecord> records;
    TVectorRecord current;
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
        const auto eq = line.find(" =");
        if (eq == std::string::npos) throw std::runtime_error("bad vector line: " + line);
        std::string value = line.substr(eq + 2);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        current[line.substr(0, eq)] = value;
    }
    flush();
    return records;
}

inline std::vector<uint8_t> FromHexText(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ToHexText(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}
