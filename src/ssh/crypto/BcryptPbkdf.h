// bcrypt_pbkdf: the key derivation of OpenSSH's encrypted "openssh-key-v1" private keys
// (OpenSSH PROTOCOL.key, "kdfname bcrypt"). A PBKDF2-like loop whose PRF is a bcrypt-style
// hash: SHA-512 of the passphrase and salt fed to Blowfish's expensive key schedule. Output
// bytes are spread across the blocks (stride), as the OpenBSD definition does, so the result
// matches OpenSSH for every length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

// Derives keyLen bytes (1 to 1024) into key. rounds must be at least 1. Returns false (and
// writes nothing) for lengths or rounds out of range or an empty salt.
bool BcryptPbkdf(const uint8_t* pass, size_t passLen, const uint8_t* salt, size_t saltLen, uint8_t* key,
                 size_t keyLen, unsigned rounds);

} // namespace Varnello::Crypto
