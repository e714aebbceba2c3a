// Key blobs, signing and signature checks for the SSH-2 key types.
#include "ssh/SshKey.h"

#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/Dsa.h"
#include "ssh/crypto/Ed25519.h"
#include "ssh/crypto/Rsa.h"
#include "ssh/crypto/RsaSha2.h"
#include "ssh/crypto/Sha1.h"

#include <stdexcept>

namespace Varnello::Ssh {

using namespace Varnello::Crypto;

namespace {

// Key values can exceed the 32 KiB string bound of messages only in theory (8192-bit keys are
// about 1 KiB); blobs are read with the same bound.
TBigInt Big(const TBytes& b) {
    return TBigInt::FromBytes(b.data(), b.size());
}

TRsaPublicKey RsaPublicOf(const TNvSSHKey& key) {
    return {Big(key.RSAPublicExponent), Big(key.RSAModulus)};
}

TDsaKey DsaOf(const TNvSSHKey& key) {
    TDsaKey k;
    k.P = Big(key.DSSP);
    k.Q = Big(key.DSSQ);
    k.G = Big(key.DSSG);
    k.Y = Big(key.DSSY);
    k.X = key.DSSX.empty() ? TBigInt::Zero() : TBigInt::FromBytes(key.DSSX.data(), key.DSSX.size());
    return k;
}

TBytes SignatureString(const std::string& algorithm, const uint8_t* blob, size_t len) {
    TSshWriter w;
    w.String(algorithm).String(blob, len);
    return w.Take();
}

} // namespace

bool TNvSSHKey::HasPrivate() const {
    switch (KeyType) {
    case ktRSA:
        return !RSAPrivateExponent.empty();
    case ktDSS:
        return !DSSX.empty();
    case ktEd25519:
        return Ed25519Seed.size() == Ed25519SeedSize;
    default:
        return false;
    }
}

TBytes PublicKeyBlob(const TNvSSHKey& key) {
    TSshWriter w;
    switch (key.KeyType) {
    case TNvSSHKey::ktRSA:
        w.String("ssh-rsa").Mpint(key.RSAPublicExponent).Mpint(key.RSAModulus);
        break;
    case TNvSSHKey::ktDSS:
        w.String("ssh-dss").Mpint(key.DSSP).Mpint(key.DSSQ).Mpint(key.DSSG).Mpint(key.DSSY);
        break;
    case TNvSSHKey::ktEd25519:
        w.String("ssh-ed25519").String(key.Ed25519PublicKey);
        break;
    default:
        break;
    }
    return w.Take();
}

std::string BlobKeyType(const TBytes& blob) {
    TSshReader r(blob);
    return r.String();
}

bool KeyFromBlob(const TBytes& blob, TNvSSHKey& key) {
    TSshReader r(blob);
    std::string type = r.String();
    if (type == "ssh-rsa") {
        key.KeyType = TNvSSHKey::ktRSA;
        key.RSAPublicExponent = r.Mpint();
        key.RSAModulus = r.Mpint();
        return true;
    }
    if (type == "ssh-dss") {
        key.KeyType = TNvSSHKey::ktDSS;
        key.DSSP = r.Mpint();
        key.DSSQ = r.Mpint();
        key.DSSG = r.Mpint();
        key.DSSY = r.Mpint();
        return true;
    }
    if (type == "ssh-ed25519") {
        TBytes pk = r.StringBytes();
        if (pk.size() != Ed25519PublicKeySize) throw ENvSSHException("Invalid size");
        key.KeyType = TNvSSHKey::ktEd25519;
        key.Ed25519PublicKey = pk;
        return true;
    }
    return false;
}

std::string SignatureAlgorithm(const TBytes& signature) {
    TSshReader r(signature);
    return r.String();
}

TBytes SignData(const TNvSSHKey& key, const std::string& algorithm, const uint8_t* data, size_t len,
                TRandom& rng) {
    if (!key.HasPrivate()) return {};
    try {
        if (key.KeyType == TNvSSHKey::ktRSA) {
            TRsaPrivateKey k{
                Big(key.RSAPublicExponent), Big(key.RSAModulus),
                TBigInt::FromBytes(key.RSAPrivateExponent.data(), key.RSAPrivateExponent.size())};
            TSecureBytes sig;
            if (algorithm == "rsa-sha2-256")
                sig = RsaSha2Sign(k, TRsaSha2Hash::shSha256, data, len);
            else if (algorithm == "rsa-sha2-512")
                sig = RsaSha2Sign(k, TRsaSha2Hash::shSha512, data, len);
            else if (algorithm == "ssh-rsa") {
                uint8_t digest[20];
                TSha1::Hash(data, len, digest);
                sig = RsaSign(k, RsaSha1DigestInfo, digest);
            } else
                return {};
            return SignatureString(algorithm, sig.data(), sig.size());
        }
        if (key.KeyType == TNvSSHKey::ktDSS && algorithm == "ssh-dss") {
            TDsaKey k = DsaOf(key);
            uint8_t digest[20];
            TSha1::Hash(data, len, digest);
            uint8_t sig[DsaSignatureSize];
            DsaSign(k, digest, sizeof(digest), rng, sig);
            return SignatureString(algorithm, sig, sizeof(sig));
        }
        if (key.KeyType == TNvSSHKey::ktEd25519 && algorithm == "ssh-ed25519") {
            TEd25519Key k(key.Ed25519Seed.data());
            uint8_t sig[Ed25519SignatureSize];
            k.Sign(data, len, sig);
            return SignatureString(algorithm, sig, sizeof(sig));
        }
    } catch (const std::exception&) {
        return {};
    }
    return {};
}

bool VerifySignature(const TNvSSHKey& key, const std::string& algorithm, const uint8_t* data, size_t len,
                     const TBytes& signature) {
    TSshReader r(signature);
    if (r.String() != algorithm) return false;
    TBytes blob = r.StringBytes();
    try {
        if (key.KeyType == TNvSSHKey::ktRSA) {
            TRsaPublicKey k = RsaPublicOf(key);
            if (algorithm == "rsa-sha2-256")
                return RsaSha2Verify(k, TRsaSha2Hash::shSha256, data, len, blob.data(), blob.size());
            if (algorithm == "rsa-sha2-512")
                return RsaSha2Verify(k, TRsaSha2Hash::shSha512, data, len, blob.data(), blob.size());
            if (algorithm == "ssh-rsa") {
                uint8_t digest[20];
                TSha1::Hash(data, len, digest);
                // The whole block is compared, DigestInfo prefix included.
                return RsaVerify(k, RsaSha1DigestInfo, digest, blob.data(), blob.size());
            }
            return false;
        }
        if (key.KeyType == TNvSSHKey::ktDSS && algorithm == "ssh-dss") {
            if (blob.size() != DsaSignatureSize) return false;
            uint8_t digest[20];
            TSha1::Hash(data, len, digest);
            return DsaVerify(DsaOf(key), digest, sizeof(digest), blob.data());
        }
        if (key.KeyType == TNvSSHKey::ktEd25519 && algorithm == "ssh-ed25519") {
            if (blob.size() != Ed25519SignatureSize || key.Ed25519PublicKey.size() != Ed25519PublicKeySize)
                return false;
            return Ed25519Verify(key.Ed25519PublicKey.data(), data, len, blob.data());
        }
    } catch (const std::exception&) {
        return false;
    }
    return false;
}

TNvSSHCustomKeyStorage::~TNvSSHCustomKeyStorage() = default;

TNvSSHKey* TNvSSHMemoryKeyStorage::GetKey(int index) {
    if (index < 0 || index >= int(FKeys.size())) return nullptr;
    return FKeys[size_t(index)].get();
}

void TNvSSHMemoryKeyStorage::DeleteKey(int index) {
    if (index >= 0 && index < int(FKeys.size())) FKeys.erase(FKeys.begin() + index);
}

} // namespace Varnello::Ssh
