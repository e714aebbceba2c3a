// RSA signatures with SHA-2 for "rsa-sha2-256" and "rsa-sha2-512" (RFC 8332): PKCS #1 v1.5
// blocks with the SHA-256 and SHA-512 DigestInfo prefixes over the RSA primitives of Rsa.h.
//
// The message is hashed here, so callers hand over what is signed (the exchange hash, the
// user-authentication blob), never a digest they computed with another hash.
#pragma once

#include "ssh/crypto/Rsa.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Varnello::Crypto {

extern const TRsaDigestInfo RsaSha256DigestInfo; // 30 31 30 0D 06 09 60 86 48 01 65 03 04 02 01 05 00 04 20
extern const TRsaDigestInfo RsaSha512DigestInfo; // 30 51 30 0D 06 09 60 86 48 01 65 03 04 02 03 05 00 04 40

enum class TRsaSha2Hash { shSha256, shSha512 };

// The signature as k bytes (k = modulus length). Throws std::invalid_argument when the modulus is
// too short for the block (below 62 bytes for SHA-256, 94 for SHA-512).
std::vector<uint8_t> RsaSha2Sign(const TRsaPrivateKey& key, TRsaSha2Hash hash, const uint8_t* msg,
                                 size_t len);

// true only when sig is a signature of msg under key with this hash; a signature made with the
// other hash, a wrong block or a value not below n is false.
bool RsaSha2Verify(const TRsaPublicKey& key, TRsaSha2Hash hash, const uint8_t* msg, size_t len,
                   const uint8_t* sig, size_t sigLen);

} // namespace Varnello::Crypto
