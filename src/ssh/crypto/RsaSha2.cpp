// SHA-256/SHA-512 DigestInfo prefixes (RFC 8017, section 9.2, note 1) and the hash-then-sign glue.
#include "ssh/crypto/RsaSha2.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/Sha512.h"

namespace Varnello::Crypto {

namespace {

const uint8_t Sha256Prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const uint8_t Sha512Prefix[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

const TRsaDigestInfo& InfoOf(TRsaSha2Hash hash) {
    return hash == TRsaSha2Hash::shSha256 ? RsaSha256DigestInfo : RsaSha512DigestInfo;
}

void Digest(TRsaSha2Hash hash, const uint8_t* msg, size_t len, uint8_t out[64]) {
    if (hash == TRsaSha2Hash::shSha256)
        TSha256::Compute(msg, len, out);
    else
        TSha512::Compute(msg, len, out);
}

} // namespace

const TRsaDigestInfo RsaSha256DigestInfo = {"sha256", Sha256Prefix, sizeof(Sha256Prefix), 32};
const TRsaDigestInfo RsaSha512DigestInfo = {"sha512", Sha512Prefix, sizeof(Sha512Prefix), 64};

std::vector<uint8_t> RsaSha2Sign(const TRsaPrivateKey& key, TRsaSha2Hash hash, const uint8_t* msg,
                                 size_t len) {
    uint8_t digest[64];
    Digest(hash, msg, len, digest);
    std::vector<uint8_t> sig = RsaSign(key, InfoOf(hash), digest);
    SecureWipe(digest, sizeof(digest));
    return sig;
}

bool RsaSha2Verify(const TRsaPublicKey& key, TRsaSha2Hash hash, const uint8_t* msg, size_t len,
                   const uint8_t* sig, size_t sigLen) {
    uint8_t digest[64];
    Digest(hash, msg, len, digest);
    return RsaVerify(key, InfoOf(hash), digest, sig, sigLen);
}

} // namespace Varnello::Crypto
