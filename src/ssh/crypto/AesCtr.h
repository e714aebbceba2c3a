// AES in counter mode for "aes128-ctr", "aes192-ctr" and "aes256-ctr" (RFC 4344).
//
// The counter is the whole 16-byte block read as one 128-bit big-endian number and incremented
// by one per block, carries running through all 16 bytes, as RFC 4344 defines it for SSH. The
// stream position is kept to the byte, so calls may cut the data anywhere. With AES-NI the
// counter blocks are made, encrypted and applied in registers, eight at a time (sixteen with
// VAES); otherwise the table code encrypts a run of counter blocks.
#pragma once

#include "ssh/crypto/Aes.h"

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TAesCtr {
public:
    TAesCtr() = default;
    ~TAesCtr();
    TAesCtr(const TAesCtr&) = default;
    TAesCtr& operator=(const TAesCtr&) = default;

    // len must be 16, 24 or 32 (else ENvCipherError from the key schedule).
    void SetKey(const uint8_t* key, size_t len);
    // The initial counter block (the derived IV in SSH).
    void SetCounter(const uint8_t counter[16]);

    // Encryption and decryption are the same operation. in and out may be the same buffer.
    // Before SetKey it throws ENvCipherError.
    void Crypt(const uint8_t* in, uint8_t* out, size_t len);

    // The counter block the next whole block will use.
    void GetCounter(uint8_t counter[16]) const;

private:
    TAesKey FKey;
    uint64_t FHigh = 0, FLow = 0; // the counter as two big-endian halves, in native integers
    uint8_t FLeftover[16] = {};   // keystream of the block last cut short
    size_t FLeftoverPos = 16;
};

} // namespace Varnello::Crypto
