// The client's cipher table and the per-direction cipher contexts the transport drives.
//
// The table is data: identifier, key and block sizes, the enabled flag, the protocol-1 number and
// a factory. Negotiation walks it in index order; nothing else spells the identifiers. A context
// is created for one direction and carries the CBC chaining value (or the RC4 state) from call to
// call for the whole session.
//
// Incomplete blocks: the AES, DES / Triple DES and IDEA contexts hold the bytes of an incomplete
// block and put them in front of the next call's data, so a call writes only whole blocks: fewer
// bytes than it was given while a tail waits, up to BlockSize() - 1 more once a held tail joins.
// Blowfish, Twofish, Serpent and CAST-128 refuse such a length with their own texts. The transport
// always hands whole blocks, and then every context writes exactly what it was given, in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "ssh/crypto/CipherError.h"

namespace Varnello::Crypto {

class TNvCipher {
public:
    virtual ~TNvCipher() = default;

    // The transport's padding unit: the block size (8 for RC4, 1 for "none").
    virtual size_t BlockSize() const = 0;

    // Encrypts or decrypts (as the context was created) len bytes from in into out, which has
    // room for outSize bytes; out may equal in. Returns the number of bytes written. Throws
    // ENvCipherError on a refused length or when out is too small for the result.
    virtual size_t Process(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) = 0;

    // In place, for whole blocks (or any length for the stream ciphers and "none").
    size_t Process(uint8_t* data, size_t len) { return Process(data, len, data, len); }
};

// key holds KeySize bytes and iv BlockSize bytes of the entry ("arcfour" and "none" ignore iv,
// which may then be nullptr).
using TNvCipherFactory = std::unique_ptr<TNvCipher> (*)(bool encrypt, const uint8_t* key, const uint8_t* iv);

struct TNvCipherInfo {
    int Index;
    const char* Name;
    size_t KeySize;   // bytes of key material the context takes
    size_t BlockSize; // block and IV bytes (8 for "arcfour", which takes no IV; 0 for "none")
    bool Enabled;
    int Ssh1Number; // protocol-1 cipher number, or -1 when protocol 1 does not use the entry
    TNvCipherFactory Create;
};

constexpr size_t NvCipherCount = 16;
extern const TNvCipherInfo NvCiphers[NvCipherCount];

// The entry of an identifier, or nullptr.
const TNvCipherInfo* FindCipher(std::string_view name);

// Protocol 1: a context for cipher `number` (0 none, 1 IDEA-CFB, 2 DES, 3 3DES inner CBC, 5 RC4,
// 6 Blowfish) keyed from the 32-byte session key with zero IVs; nullptr for an unknown number.
std::unique_ptr<TNvCipher> CreateSsh1Cipher(int number, bool encrypt, const uint8_t* sessionKey32);

} // namespace Varnello::Crypto
