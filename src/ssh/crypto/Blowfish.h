// Blowfish (Schneier, 1993) with CBC chaining, in two byte orders.
//
// Protocol 2 reads the 64-bit block as two big-endian words, as the algorithm is published.
// Protocol 1 (with its 32-byte key) reads each word little-endian; rather than swapping every
// word before and after the block operation, the chaining loop simply loads and stores that order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t BlowfishBlockSize = 8;

class TBlowfishKey {
public:
    TBlowfishKey() = default;
    ~TBlowfishKey();
    TBlowfishKey(const TBlowfishKey&) = default;
    TBlowfishKey& operator=(const TBlowfishKey&) = default;

    // 1 to 56 key bytes (throws ENvCipherError otherwise); SSH uses 16, protocol 1 uses 32.
    void SetKey(const uint8_t* key, size_t len);

    uint32_t FP[18] = {};
    uint32_t FS[4][256] = {};
};

void BlowfishEncryptBlock(const TBlowfishKey& key, const uint8_t* in, uint8_t* out);
void BlowfishDecryptBlock(const TBlowfishKey& key, const uint8_t* in, uint8_t* out);

// CBC over whole blocks; iv (8 bytes) is updated. littleEndianWords selects protocol 1's order.
void BlowfishCbcEncrypt(const TBlowfishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks,
                        bool littleEndianWords = false);
void BlowfishCbcDecrypt(const TBlowfishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks,
                        bool littleEndianWords = false);

} // namespace Varnello::Crypto
