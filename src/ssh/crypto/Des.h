// DES and Triple DES (FIPS 46-3) with the chaining forms the SSH transport uses.
//
// Protocol 2 runs three-key EDE as one block operation chained in CBC ("outer CBC"); protocol 1
// runs three separate DES-CBC passes, each with its own chaining value ("inner CBC"), so both
// shapes are offered. Round keys are stored pre-split for the SP-table round function.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t DesBlockSize = 8;

class TDesKey {
public:
    TDesKey() = default;
    ~TDesKey();
    TDesKey(const TDesKey&) = default;
    TDesKey& operator=(const TDesKey&) = default;

    // 8 key bytes; the parity bits are ignored, as the standard allows.
    void SetKey(const uint8_t* key);

    uint32_t FSub[32] = {}; // per round: the key bits for the even and the odd S-boxes
};

void DesEncryptBlock(const TDesKey& key, const uint8_t* in, uint8_t* out);
void DesDecryptBlock(const TDesKey& key, const uint8_t* in, uint8_t* out);

// CBC over whole blocks; iv (8 bytes) is the chaining value and is updated. in may equal out.
void DesCbcEncrypt(const TDesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void DesCbcDecrypt(const TDesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

// Three-key EDE: encrypt with K1, decrypt with K2, encrypt with K3 (24 key bytes).
struct TDes3Key {
    TDesKey K1, K2, K3;
    void SetKey(const uint8_t* key24);
};

void Des3EncryptBlock(const TDes3Key& key, const uint8_t* in, uint8_t* out);
void Des3DecryptBlock(const TDes3Key& key, const uint8_t* in, uint8_t* out);

// Outer CBC: the whole EDE operation chained once.
void Des3CbcEncrypt(const TDes3Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void Des3CbcDecrypt(const TDes3Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace Varnello::Crypto
