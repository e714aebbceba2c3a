// Ed25519 signatures (RFC 8032, section 5.1) for "ssh-ed25519" host keys and user keys.
//
// Wire formats: a 32-byte public key, a 64-byte signature R || S, and a 32-byte private seed
// (OpenSSH stores seed || public key; the seed is what matters). Signing is constant time; the
// key type derives its own public key from the seed, because signing with a public key that
// does not belong to the seed gives away the private scalar.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t Ed25519SeedSize = 32;
constexpr size_t Ed25519PublicKeySize = 32;
constexpr size_t Ed25519SignatureSize = 64;

class TEd25519Key {
public:
    TEd25519Key() = default;
    explicit TEd25519Key(const uint8_t seed[Ed25519SeedSize]) { SetSeed(seed); }
    ~TEd25519Key();
    TEd25519Key(const TEd25519Key&) = default;
    TEd25519Key& operator=(const TEd25519Key&) = default;

    // Expands the seed (SHA-512, clamping) and computes the public key.
    void SetSeed(const uint8_t seed[Ed25519SeedSize]);
    const uint8_t* PublicKey() const { return FPublic; }

    void Sign(const uint8_t* msg, size_t len, uint8_t signature[Ed25519SignatureSize]) const;

private:
    uint8_t FScalar[32] = {}; // clamped secret scalar
    uint8_t FPrefix[32] = {}; // second half of SHA-512(seed), keys the nonce
    uint8_t FPublic[32] = {};
};

// Strict check: false for an S not below the group order, a public key or R that is not a
// canonical curve point encoding, or a signature that does not match.
bool Ed25519Verify(const uint8_t publicKey[Ed25519PublicKeySize], const uint8_t* msg, size_t len,
                   const uint8_t signature[Ed25519SignatureSize]);

} // namespace Varnello::Crypto
