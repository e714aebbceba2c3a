// Poly1305 one-time authenticator (RFC 8439, section 2.5).
//
// The accumulator uses three limbs of 44, 44 and 42 bits so every product fits a 128-bit
// integer; the arithmetic has no branch or index on secret data. Runs of eight blocks or more go
// four or eight lanes wide on AVX2 (26-bit limbs, powers of r up to r^8); runs of 32 blocks or
// more go eight lanes wide on AVX-512 IFMA, on the scalar code's own limbs. Verify compares in constant time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TPoly1305 {
public:
    static constexpr size_t KeySize = 32;
    static constexpr size_t TagSize = 16;

    TPoly1305() = default;
    explicit TPoly1305(const uint8_t key[KeySize]) { Init(key); }
    ~TPoly1305();

    // key = r (clamped here) followed by the 16-byte pad s. A key authenticates one message only.
    void Init(const uint8_t key[KeySize]);
    void Update(const void* data, size_t len);
    void Final(uint8_t tag[TagSize]);

    static void Compute(const uint8_t key[KeySize], const void* data, size_t len, uint8_t tag[TagSize]);
    static bool Verify(const uint8_t key[KeySize], const void* data, size_t len, const uint8_t tag[TagSize]);

private:
    void Blocks(const uint8_t* m, size_t blocks, uint64_t hibit);

    uint64_t FR[3] = {}, FH[3] = {}, FPad[2] = {};
    uint32_t FPowers[8][5] = {};   // r, r^2, ... on 26-bit limbs, for the AVX2 path
    uint64_t FPowers44[8][3] = {}; // the same on 44/44/42-bit limbs, for the IFMA path
    int FPowerCount = 0;           // how many of FPowers are computed for the current key
    uint8_t FBuffer[16] = {};
    size_t FBuffered = 0;
};

} // namespace Varnello::Crypto
