// The one exception type of the cipher routines.
//
// Block-length complaints carry fixed texts that callers (and their users) already know, so the
// message is the whole contract; no error code is attached.
#pragma once

#include <stdexcept>
#include <string>

namespace Varnello::Crypto {

class ENvCipherError : public std::runtime_error {
public:
    explicit ENvCipherError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace Varnello::Crypto
