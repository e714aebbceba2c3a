// SHA-1 (FIPS 180-1): initialise, update, final and a one-call form.
//
// The compression function runs on the SHA extensions (SHA-NI) when the processor has them and on
// portable code otherwise; the choice is made per call (CpuFeatures.h), so tests can run both on
// one machine. The state is plain data so HMAC can copy keyed states.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ssh/crypto/HashBlocks.h"

namespace Varnello::Crypto {

class TSha1 {
public:
    static constexpr size_t BlockSize = 64;
    static constexpr size_t DigestSize = 20;

    TSha1() { Init(); }
    void Init();
    void Update(const void* data, size_t len);
    // Writes 20 bytes; the context must be initialised again before reuse.
    void Final(uint8_t* digest);

    static void Hash(const void* data, size_t len, uint8_t* digest);

private:
    uint32_t FState[5];
    uint64_t FLength; // bytes hashed so far
    THashBlocks<BlockSize> FBlocks;
};

} // namespace Varnello::Crypto
