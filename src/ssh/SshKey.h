// Keys of the SSH client: TNvSSHKey (one RSA, DSS or Ed25519 key, public or private), the key
// storage interface TNvSSHCustomKeyStorage, and the blob and signature forms of the wire
// (RFC 4253 section 6.6, RFC 8332, RFC 8709).
//
// Private halves live in wiped buffers. Signing and verification take what is signed (the
// exchange hash, the authentication data), never a digest, and pick the hash by algorithm name.
#pragma once

#include "ssh/SshSecure.h"
#include "ssh/SshWire.h"

#include <memory>
#include <string>
#include <vector>

namespace Varnello::Crypto {
class TRandom;
}

namespace Varnello::Ssh {

class TNvSSHKey {
public:
    static constexpr int ktRSA = 0;
    static constexpr int ktDSS = 1;
    static constexpr int ktEd25519 = 2;
    static constexpr int ktNone = 0xFFFF;

    int KeyType = ktNone;
    TBytes RSAPublicExponent;
    TSecureBytes RSAPrivateExponent;
    TBytes RSAModulus;
    TBytes DSSP, DSSQ, DSSG, DSSY;
    TSecureBytes DSSX;
    TBytes Ed25519PublicKey;  // 32 bytes
    TSecureBytes Ed25519Seed; // 32 bytes, empty for a public key

    bool HasPrivate() const;
};

// The public key blob: string type, then the key's values.
TBytes PublicKeyBlob(const TNvSSHKey& key);
// The key type named inside a blob ("ssh-rsa", "ssh-dss", "ssh-ed25519").
std::string BlobKeyType(const TBytes& blob);
// Reads a public key blob; throws ENvSSHException("Invalid size") when its fields cannot be
// read, and returns false for a key type it does not know.
bool KeyFromBlob(const TBytes& blob, TNvSSHKey& key);

// The signature string (string algorithm, string blob) for algorithm "ssh-rsa", "rsa-sha2-256",
// "rsa-sha2-512", "ssh-dss" or "ssh-ed25519" made with the private key. Empty when the key cannot
// make it (no private half, wrong type).
TBytes SignData(const TNvSSHKey& key, const std::string& algorithm, const uint8_t* data, size_t len,
                Crypto::TRandom& rng);
// Checks a signature string of that algorithm over data under the public key. Throws
// ENvSSHException when the string cannot be read; false for any mismatch.
bool VerifySignature(const TNvSSHKey& key, const std::string& algorithm, const uint8_t* data, size_t len,
                     const TBytes& signature);
// The algorithm name inside a signature string.
std::string SignatureAlgorithm(const TBytes& signature);

// An abstract list of keys; the client reads Count and GetKey only and never keeps the objects.
class TNvSSHCustomKeyStorage {
public:
    virtual ~TNvSSHCustomKeyStorage();
    int Count() { return GetCount(); }
    virtual int GetCount() { return 0; }
    virtual TNvSSHKey* GetKey(int /*index*/) { return nullptr; }
    // For storages whose private halves live elsewhere (an agent). CanSign: whether the key at
    // index can make a public-key signature (by default: it holds its private half).
    // SignExternally: true when the storage signs itself; signature is then the signature string,
    // empty when signing failed (the client then goes on with the next key).
    virtual bool CanSign(int index) {
        TNvSSHKey* key = GetKey(index);
        return key && key->HasPrivate();
    }
    virtual bool SignExternally(int /*index*/, const std::string& /*algorithm*/, const uint8_t* /*data*/,
                                size_t /*len*/, TBytes& /*signature*/) {
        return false;
    }
    // Not used by the client; storages may give them a meaning.
    virtual void AddKey(const TNvSSHKey& /*key*/) {}
    virtual void DeleteKey(int /*index*/) {}
    virtual void Clear() {}
};

// Keys held in memory.
class TNvSSHMemoryKeyStorage : public TNvSSHCustomKeyStorage {
public:
    int GetCount() override { return int(FKeys.size()); }
    TNvSSHKey* GetKey(int index) override;
    void AddKey(const TNvSSHKey& key) override { FKeys.push_back(std::make_unique<TNvSSHKey>(key)); }
    void DeleteKey(int index) override;
    void Clear() override { FKeys.clear(); }

private:
    std::vector<std::unique_ptr<TNvSSHKey>> FKeys;
};

} // namespace Varnello::Ssh
