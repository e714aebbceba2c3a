// A byte vector for key material that is wiped before its memory is given back.
#pragma once

#include "ssh/crypto/ConstTime.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Varnello::Ssh {

class TSecureBytes : public std::vector<uint8_t> {
public:
    using std::vector<uint8_t>::vector;
    TSecureBytes() = default;
    TSecureBytes(const std::vector<uint8_t>& v) : std::vector<uint8_t>(v) {}
    TSecureBytes(const TSecureBytes&) = default;
    TSecureBytes& operator=(const TSecureBytes&) = default;
    TSecureBytes(TSecureBytes&&) = default;
    TSecureBytes& operator=(TSecureBytes&& o) noexcept {
        Wipe();
        std::vector<uint8_t>::operator=(std::move(o));
        return *this;
    }
    ~TSecureBytes() { Wipe(); }
    void Wipe() {
        if (!empty()) Crypto::SecureWipe(data(), size());
    }
};

// Overwrites a string's characters (a password) before it is dropped.
inline void WipeString(std::string& s) {
    if (!s.empty()) Crypto::SecureWipe(s.data(), s.size());
    s.clear();
}

} // namespace Varnello::Ssh
