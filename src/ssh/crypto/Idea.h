// IDEA (Lai and Massey) with CBC chaining for protocol 2 and 64-bit CFB for protocol 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t IdeaBlockSize = 8;

class TIdeaKey {
public:
    TIdeaKey() = default;
    ~TIdeaKey();
    TIdeaKey(const TIdeaKey&) = default;
    TIdeaKey& operator=(const TIdeaKey&) = default;

    // 16 key bytes. An encryption key serves encryption and both CFB directions (CFB only
    // encrypts); a decryption key serves block decryption and CBC decryption.
    void SetEncryptKey(const uint8_t* key16);
    void SetDecryptKey(const uint8_t* key16);

    uint16_t FSub[52] = {};
};

// The block operation under the key's own direction.
void IdeaCryptBlock(const TIdeaKey& key, const uint8_t* in, uint8_t* out);

// CBC over whole blocks (encryption key / decryption key); iv (8 bytes) is updated.
void IdeaCbcEncrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void IdeaCbcDecrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

// 64-bit CFB over whole blocks, both with the encryption key; iv is updated.
void IdeaCfbEncrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void IdeaCfbDecrypt(const TIdeaKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace Varnello::Crypto
