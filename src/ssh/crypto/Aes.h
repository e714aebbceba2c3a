// AES (FIPS 197) block operations for 128-, 192- and 256-bit keys.
//
// The key schedule is computed once by portable code into a record that serves both back ends:
// the round keys as 32-bit words for the table code and as bytes for AES-NI. Every block function
// picks AES-NI (and VAES for wide independent work) at call time when the processor has it, else
// the table code; ForcePortableCrypto (CpuFeatures.h) makes the table code run everywhere.
// The multi-block functions are the hot paths: CTR and GCM call AesEncryptBlocks, CBC uses the
// chaining forms below, which interleave independent blocks where the mode allows it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t AesBlockSize = 16;

class TAesKey {
public:
    TAesKey() = default;
    ~TAesKey();
    TAesKey(const TAesKey&) = default;
    TAesKey& operator=(const TAesKey&) = default;

    // len must be 16, 24 or 32; anything else throws ENvCipherError("Invalid AES key length").
    // An encryption key serves the *Encrypt* functions only, a decryption key the *Decrypt* ones.
    void SetEncryptKey(const uint8_t* key, size_t len);
    void SetDecryptKey(const uint8_t* key, size_t len);

    int Rounds() const { return FRounds; } // 10, 12 or 14; 0 before a key was set
    bool IsDecryptKey() const { return FDecrypt; }

    // Round keys in the order the cipher direction uses them (decryption keys are those of the
    // equivalent inverse cipher), as big-endian words and as the same bytes.
    alignas(16) uint32_t FWords[60] = {};
    alignas(16) uint8_t FBytes[240] = {};
    int FRounds = 0;
    bool FDecrypt = false;

private:
    void Expand(const uint8_t* key, size_t len);
};

// One block. in and out may be the same buffer.
void AesEncryptBlock(const TAesKey& key, const uint8_t* in, uint8_t* out);
void AesDecryptBlock(const TAesKey& key, const uint8_t* in, uint8_t* out);

// `blocks` consecutive independent blocks (ECB over a run; the core of CTR and GCM).
// in and out may be the same buffer; partial overlap is not allowed.
void AesEncryptBlocks(const TAesKey& key, const uint8_t* in, uint8_t* out, size_t blocks);
void AesDecryptBlocks(const TAesKey& key, const uint8_t* in, uint8_t* out, size_t blocks);

// CBC over `blocks` whole blocks; iv holds the chaining value and is updated to the last
// ciphertext block, so consecutive calls continue one chain. in may equal out.
void AesCbcEncrypt(const TAesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void AesCbcDecrypt(const TAesKey& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace Varnello::Crypto
