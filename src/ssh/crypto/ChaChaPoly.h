// ChaCha20-Poly1305 in its two shapes: the "chacha20-poly1305@openssh.com" packet cipher and the
// RFC 8439 AEAD.
//
// The SSH form takes a 64-byte key: the first 32 bytes (K_2) encrypt the payload and key Poly1305,
// the last 32 (K_1) encrypt only the 4-byte packet length, so a receiver can learn the length from
// the first four bytes alone. Both use the original ChaCha20 layout with the packet sequence
// number as a 64-bit big-endian nonce. The tag covers the encrypted length and the encrypted
// payload, and is checked before anything is decrypted.
#pragma once

#include "ssh/crypto/ChaCha20.h"

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TChaChaPolyOpenSsh {
public:
    static constexpr size_t KeySize = 64;
    static constexpr size_t TagSize = 16;
    static constexpr size_t LengthSize = 4;

    void SetKey(const uint8_t key[KeySize]);

    // The packet length from the first four bytes of an encrypted packet (not yet authenticated:
    // the caller bounds it before waiting for that many bytes).
    uint32_t DecryptLength(uint64_t seqnr, const uint8_t encLength[LengthSize]) const;

    // packet = 4-byte length followed by the rest of the packet, len >= 4 bytes in all (shorter
    // throws ENvCipherError). Writes the len encrypted bytes to out (may equal packet) and the tag.
    void Seal(uint64_t seqnr, const uint8_t* packet, size_t len, uint8_t* out, uint8_t tag[TagSize]) const;

    // Checks the tag over the len encrypted bytes, then decrypts them into out (length included).
    // On a wrong tag, or len < 4, returns false and leaves out untouched.
    bool Open(uint64_t seqnr, const uint8_t* encrypted, size_t len, const uint8_t tag[TagSize],
              uint8_t* out) const;

private:
    void PayloadCipher(uint64_t seqnr, TChaCha20& payload, uint8_t polyKey[32]) const;

    TChaCha20 FHeader;  // K_1
    TChaCha20 FPayload; // K_2
};

// RFC 8439 section 2.8 AEAD: 32-byte key, 12-byte nonce, tag over aad and ciphertext with their
// lengths. in and out may be the same buffer.
void ChaCha20Poly1305Seal(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad, size_t aadLen,
                          const uint8_t* in, size_t len, uint8_t* out, uint8_t tag[16]);
// false (and out untouched) when the tag does not match.
bool ChaCha20Poly1305Open(const uint8_t key[32], const uint8_t nonce[12], const uint8_t* aad, size_t aadLen,
                          const uint8_t* in, size_t len, const uint8_t tag[16], uint8_t* out);

} // namespace Varnello::Crypto
