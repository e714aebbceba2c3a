// X25519 Diffie-Hellman (RFC 7748) for "curve25519-sha256" key exchange.
//
// Keys are the 32-byte strings of the wire: a private scalar (clamped here, so any 32 random
// bytes serve) and a public u-coordinate. The ladder runs in constant time whatever the inputs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

constexpr size_t X25519KeySize = 32;

// out = X25519(scalar, u). Returns false when the result is all zeros, which happens exactly when
// the peer sent a point of small order; the shared secret must then be refused (the caller
// aborts the key exchange). out is written either way.
bool X25519(uint8_t out[X25519KeySize], const uint8_t scalar[X25519KeySize], const uint8_t u[X25519KeySize]);

// The public key of a private scalar: X25519(scalar, 9).
void X25519PublicKey(uint8_t publicKey[X25519KeySize], const uint8_t privateKey[X25519KeySize]);

} // namespace Varnello::Crypto
