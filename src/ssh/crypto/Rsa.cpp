// RSA operations and PKCS #1 v1.5 block formats.
#include "ssh/crypto/Rsa.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/Random.h"

#include <cstring>
#include <stdexcept>

namespace Varnello::Crypto {

namespace {

const uint8_t Sha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                              0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};

constexpr size_t MinPadding = 8;

void RequireInRange(const TBigInt& x, const TBigInt& n) {
    if (n.IsNegative() || n.IsZero()) throw std::invalid_argument("RSA modulus must be positive");
    if (x.IsNegative() || !(x < n)) throw std::invalid_argument("RSA input out of range");
}

} // namespace

const TRsaDigestInfo RsaSha1DigestInfo = {"sha1", Sha1Prefix, sizeof(Sha1Prefix), 20};

TBigInt RsaPublic(const TRsaPublicKey& key, const TBigInt& x) {
    RequireInRange(x, key.N);
    return TBigInt::ModExp(x, key.E, key.N);
}

TBigInt RsaPrivate(const TRsaPrivateKey& key, const TBigInt& x) {
    RequireInRange(x, key.N);
    return TBigInt::ModExp(x, key.D, key.N);
}

std::vector<uint8_t> RsaBuildSignatureBlock(const TRsaDigestInfo& info, const uint8_t* digest,
                                            size_t blockLen) {
    const size_t tail = info.PrefixLen + info.DigestLen;
    if (blockLen < tail + 3 + MinPadding) throw std::invalid_argument("RSA modulus too short for the digest");
    std::vector<uint8_t> block(blockLen, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[blockLen - tail - 1] = 0x00;
    std::memcpy(&block[blockLen - tail], info.Prefix, info.PrefixLen);
    std::memcpy(&block[blockLen - info.DigestLen], digest, info.DigestLen);
    return block;
}

bool RsaCheckSignatureBlock(const TRsaDigestInfo& info, const uint8_t* digest, const uint8_t* block,
                            size_t blockLen) {
    if (blockLen < info.PrefixLen + info.DigestLen + 3 + MinPadding) return false;
    const std::vector<uint8_t> expected = RsaBuildSignatureBlock(info, digest, blockLen);
    return ConstTimeEqual(expected.data(), block, blockLen);
}

std::vector<uint8_t> RsaSign(const TRsaPrivateKey& key, const TRsaDigestInfo& info, const uint8_t* digest) {
    const size_t k = RsaModulusBytes(key.N);
    std::vector<uint8_t> block = RsaBuildSignatureBlock(info, digest, k);
    const TBigInt s = RsaPrivate(key, TBigInt::FromBytes(block));
    std::vector<uint8_t> out(k);
    s.ToBytes(out.data(), k);
    return out;
}

bool RsaVerify(const TRsaPublicKey& key, const TRsaDigestInfo& info, const uint8_t* digest,
               const uint8_t* sig, size_t sigLen) {
    if (key.N.IsNegative() || key.N.IsZero() || key.E.IsNegative()) return false;
    const size_t k = RsaModulusBytes(key.N);
    TBigInt s;
    try {
        s = TBigInt::FromBytes(sig, sigLen);
    } catch (const EBigIntOverflow&) {
        return false;
    }
    if (!(s < key.N)) return false;
    const TBigInt m = TBigInt::ModExp(s, key.E, key.N);
    std::vector<uint8_t> block(k);
    m.ToBytes(block.data(), k);
    return RsaCheckSignatureBlock(info, digest, block.data(), k);
}

std::vector<uint8_t> RsaPadType2(const uint8_t* data, size_t len, size_t blockLen, TRandom& rng) {
    if (blockLen < len + 3 + MinPadding) throw std::invalid_argument("RSA modulus too short for the data");
    std::vector<uint8_t> block(blockLen);
    block[0] = 0x00;
    block[1] = 0x02;
    const size_t padEnd = blockLen - len - 1;
    for (size_t i = 2; i < padEnd; ++i) {
        uint8_t b;
        do b = rng.NextByte();
        while (b == 0);
        block[i] = b;
    }
    block[padEnd] = 0x00;
    if (len > 0) std::memcpy(&block[padEnd + 1], data, len);
    return block;
}

std::optional<std::vector<uint8_t>> RsaUnpadType2(const uint8_t* block, size_t blockLen) {
    if (blockLen < 3 + MinPadding || block[0] != 0x00 || block[1] != 0x02) return std::nullopt;
    size_t i = 2;
    while (i < blockLen && block[i] != 0) ++i;
    if (i == blockLen || i - 2 < MinPadding) return std::nullopt;
    return std::vector<uint8_t>(block + i + 1, block + blockLen);
}

TBigInt RsaEncryptType2(const TRsaPublicKey& key, const uint8_t* data, size_t len, TRandom& rng) {
    const std::vector<uint8_t> block = RsaPadType2(data, len, RsaModulusBytes(key.N), rng);
    return RsaPublic(key, TBigInt::FromBytes(block));
}

} // namespace Varnello::Crypto
