// MD5 (RFC 1321): initialise, update, final and a one-call form.
//
// Still needed by "hmac-md5" and the protocol 1 session identifier and RSA response. Plain data
// so HMAC can copy keyed states.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ssh/crypto/HashBlocks.h"

namespace Varnello::Crypto {

class TMd5 {
public:
    static constexpr size_t BlockSize = 64;
    static constexpr size_t DigestSize = 16;

    TMd5() { Init(); }
    void Init();
    void Update(const void* data, size_t len);
    // Writes 16 bytes; the context must be initialised again before reuse.
    void Final(uint8_t* digest);

    static void Hash(const void* data, size_t len, uint8_t* digest);

private:
    uint32_t FState[4];
    uint64_t FLength;
    THashBlocks<BlockSize> FBlocks;
};

} // namespace Varnello::Crypto
