// RC4 stream cipher ("arcfour"): keystream from the first byte on, nothing discarded, as the SSH
// identifier "arcfour" requires. The state persists across calls, so one object is one stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TRc4 {
public:
    TRc4() = default;
    ~TRc4();
    TRc4(const TRc4&) = default;
    TRc4& operator=(const TRc4&) = default;

    // 1 to 256 key bytes (throws ENvCipherError otherwise).
    void SetKey(const uint8_t* key, size_t len);

    // XORs the next len keystream bytes into in, writing out; in may equal out.
    void Process(const uint8_t* in, uint8_t* out, size_t len);

private:
    uint32_t FS[256] = {}; // words, not bytes: avoids partial-register stalls in the inner loop
    uint32_t FI = 0;
    uint32_t FJ = 0;
};

} // namespace Varnello::Crypto
