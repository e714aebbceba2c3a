// Serpent (Anderson, Biham, Knudsen, 1998) for 128-, 192- and 256-bit keys, with CBC chaining.
//
// Bytes map to words little-endian, the order nettle and the SSH implementations use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t SerpentBlockSize = 16;

class TSerpentKey {
public:
    TSerpentKey() = default;
    ~TSerpentKey();
    TSerpentKey(const TSerpentKey&) = default;
    TSerpentKey& operator=(const TSerpentKey&) = default;

    // 16, 24 or 32 key bytes (throws ENvCipherError otherwise).
    void SetKey(const uint8_t* key, size_t len);

    uint32_t FK[33][4] = {};
};

void SerpentEncryptBlock(const TSerpentKey& key, const uint8_t* in, uint8_t* out);
void SerpentDecryptBlock(const TSerpentKey& key, const uint8_t* in, uint8_t* out);

// CBC over whole blocks; iv (16 bytes) is updated. in may equal out.
void SerpentCbcEncrypt(const TSerpentKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void SerpentCbcDecrypt(const TSerpentKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace Varnello::Crypto
