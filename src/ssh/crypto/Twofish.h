// Twofish (Schneier et al., 1998) for 128-, 192- and 256-bit keys, with CBC chaining.
//
// Keys are "fully keyed": the key-dependent S-boxes are folded with the MDS matrix into four
// 256-entry word tables at key set-up, so the round function g is four lookups and three XORs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t TwofishBlockSize = 16;

class TTwofishKey {
public:
    TTwofishKey() = default;
    ~TTwofishKey();
    TTwofishKey(const TTwofishKey&) = default;
    TTwofishKey& operator=(const TTwofishKey&) = default;

    // 16, 24 or 32 key bytes (throws ENvCipherError otherwise).
    void SetKey(const uint8_t* key, size_t len);

    uint32_t FK[40] = {};
    uint32_t FS[4][256] = {};
};

void TwofishEncryptBlock(const TTwofishKey& key, const uint8_t* in, uint8_t* out);
void TwofishDecryptBlock(const TTwofishKey& key, const uint8_t* in, uint8_t* out);

// CBC over whole blocks; iv (16 bytes) is updated. in may equal out.
void TwofishCbcEncrypt(const TTwofishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void TwofishCbcDecrypt(const TTwofishKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace Varnello::Crypto
