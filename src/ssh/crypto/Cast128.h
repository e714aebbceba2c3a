// CAST-128 (RFC 2144) with CBC chaining.
//
// Keys of 5 to 16 bytes are accepted; keys of 10 bytes or fewer run 12 rounds, as the RFC says.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t Cast128BlockSize = 8;

class TCast128Key {
public:
    TCast128Key() = default;
    ~TCast128Key();
    TCast128Key(const TCast128Key&) = default;
    TCast128Key& operator=(const TCast128Key&) = default;

    // 5 to 16 key bytes (throws ENvCipherError otherwise); shorter keys are padded with zeros.
    void SetKey(const uint8_t* key, size_t len);

    uint32_t FMask[16] = {};
    uint8_t FRot[16] = {};
    int FRounds = 16;
};

void Cast128EncryptBlock(const TCast128Key& key, const uint8_t* in, uint8_t* out);
void Cast128DecryptBlock(const TCast128Key& key, const uint8_t* in, uint8_t* out);

// CBC over whole blocks; iv (8 bytes) is updated. in may equal out.
void Cast128CbcEncrypt(const TCast128Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void Cast128CbcDecrypt(const TCast128Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace Varnello::Crypto
