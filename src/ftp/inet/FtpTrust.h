// Server certificates the user chose to trust for good: one "host:port fingerprint" line per
// server in a text file of the program's config folder. A server is remembered with one
// certificate; a different one for the same server is a change the user is warned about.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class TFtpTrustStore {
public:
    explicit TFtpTrustStore(std::string path);
    // The remembered fingerprint, or "" when the server is not remembered.
    std::string Lookup(const std::string& host, std::uint16_t port) const;
    // Remembers (or replaces) the server's certificate and rewrites the file; false when the
    // file could not be written.
    bool Remember(const std::string& host, std::uint16_t port, const std::string& fingerprint);

private:
    static std::string Key(const std::string& host, std::uint16_t port);
    std::string FPath;
    std::map<std::string, std::string> FEntries;
};
