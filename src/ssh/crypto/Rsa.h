// RSA: the public and private operations and the PKCS #1 v1.5 blocks the SSH client needs.
//
// Signature blocks (type 1) carry a DigestInfo: the DER prefix naming the hash, then the digest.
// The hash is a parameter (TRsaDigestInfo) so further hashes only add a constant; checking builds
// the expected block and compares all of it, prefix included, rather than parsing the block.
// Blocks and signatures are as long as the modulus in bytes (k), as PKCS #1 defines them.
// Encryption blocks (type 2) serve the protocol 1 session key and RSA challenge.
#pragma once

#include "ssh/crypto/BigInt.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace Varnello::Crypto {

class TRandom;

struct TRsaDigestInfo {
    std::string_view Name;
    const uint8_t* Prefix; // DER of the DigestInfo up to the digest octets
    size_t PrefixLen;
    size_t DigestLen;
};

extern const TRsaDigestInfo RsaSha1DigestInfo; // 30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14

struct TRsaPublicKey {
    TBigInt E;
    TBigInt N;
};

struct TRsaPrivateKey {
    TBigInt E;
    TBigInt N;
    TBigInt D;
};

// k: the modulus length in bytes.
inline size_t RsaModulusBytes(const TBigInt& n) {
    return n.ByteCount();
}

// x^e mod n and x^d mod n. The input must lie in [0, n), else std::invalid_argument.
TBigInt RsaPublic(const TRsaPublicKey& key, const TBigInt& x);
TBigInt RsaPrivate(const TRsaPrivateKey& key, const TBigInt& x);

// 00 01 FF..FF 00 prefix digest, blockLen bytes. digest holds info.DigestLen bytes. Throws
// std::invalid_argument when blockLen leaves fewer than eight FF bytes.
std::vector<uint8_t> RsaBuildSignatureBlock(const TRsaDigestInfo& info, const uint8_t* digest,
                                            size_t blockLen);
// true only for exactly the block RsaBuildSignatureBlock would make for this digest and length.
bool RsaCheckSignatureBlock(const TRsaDigestInfo& info, const uint8_t* digest, const uint8_t* block,
                            size_t blockLen);

// The signature value s = block^d mod n as k bytes.
std::vector<uint8_t> RsaSign(const TRsaPrivateKey& key, const TRsaDigestInfo& info, const uint8_t* digest);
// sig: the signature as big-endian bytes (leading zeros optional). false for s >= n, a wrong
// block, or a wrong prefix or digest.
bool RsaVerify(const TRsaPublicKey& key, const TRsaDigestInfo& info, const uint8_t* digest,
               const uint8_t* sig, size_t sigLen);

// 00 02, nonzero random bytes, 00, data: blockLen bytes. Throws std::invalid_argument when fewer
// than eight random bytes fit.
std::vector<uint8_t> RsaPadType2(const uint8_t* data, size_t len, size_t blockLen, TRandom& rng);
// The data of a type 2 block, or nothing when the block is not 00 02 <at least 8 nonzero> 00.
std::optional<std::vector<uint8_t>> RsaUnpadType2(const uint8_t* block, size_t blockLen);
// Pads data to the key's k bytes and applies the public operation.
TBigInt RsaEncryptType2(const TRsaPublicKey& key, const uint8_t* data, size_t len, TRandom& rng);

} // namespace Varnello::Crypto
