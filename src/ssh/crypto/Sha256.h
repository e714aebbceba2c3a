// SHA-256 (FIPS 180-4): incremental and one-call forms.
//
// The type follows the hash interface of Hmac.h (BlockSize, DigestSize, Init/Update/Final, plain
// copyable state), so THmac<TSha256> is HMAC-SHA-256. The compression function runs on the SHA
// extensions when the processor has them and on portable code otherwise; the choice is made per
// call (CpuFeatures.h), so a forced-portable run takes effect at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ssh/crypto/HashBlocks.h"

namespace Varnello::Crypto {

class TSha256 {
public:
    static constexpr size_t BlockSize = 64;
    static constexpr size_t DigestSize = 32;

    TSha256() { Init(); }

    void Init();
    void Update(const void* data, size_t len);
    // Writes DigestSize bytes. The context must be Init-ed again before the next message.
    void Final(uint8_t* digest);

    static void Compute(const void* data, size_t len, uint8_t* digest);

private:
    uint32_t FState[8];
    uint64_t FLength; // bytes hashed so far
    THashBlocks<BlockSize> FBlocks;
};

// Compression of whole 64-byte blocks; exposed so tests can drive each variant directly.
void Sha256CompressPortable(uint32_t state[8], const uint8_t* data, size_t blocks);
void Sha256CompressShaNi(uint32_t state[8], const uint8_t* data, size_t blocks);

} // namespace Varnello::Crypto
