// SHA-512 (FIPS 180-4): incremental and one-call forms.
//
// Same shape as TSha256, so THmac<TSha512> is HMAC-SHA-512 and Ed25519 hashes with it. The rounds
// are portable code on 64-bit words everywhere; with AVX2, runs of four blocks or more have their
// message schedules computed four at a time in vector registers first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ssh/crypto/HashBlocks.h"

namespace Varnello::Crypto {

class TSha512 {
public:
    static constexpr size_t BlockSize = 128;
    static constexpr size_t DigestSize = 64;

    TSha512() { Init(); }

    void Init();
    void Update(const void* data, size_t len);
    // Writes DigestSize bytes. The context must be Init-ed again before the next message.
    void Final(uint8_t* digest);

    static void Compute(const void* data, size_t len, uint8_t* digest);

private:
    uint64_t FState[8];
    uint64_t FLength; // bytes hashed so far; messages stay far below 2^61 bytes
    THashBlocks<BlockSize> FBlocks;
};

} // namespace Varnello::Crypto
