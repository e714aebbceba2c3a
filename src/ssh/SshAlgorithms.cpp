// The algorithm tables and the negotiation that walks them.
#include "ssh/SshAlgorithms.h"

#include "ssh/crypto/AesCtr.h"
#include "ssh/crypto/HmacSha2.h"
#include "ssh/crypto/Sha1.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/Sha512.h"

#include <algorithm>

namespace Varnello::Ssh {

using namespace Varnello::Crypto;

const char* const ExtInfoClientName = "ext-info-c";
const char* const StrictKexClientName = "kex-strict-c-v00@openssh.com";
const char* const StrictKexServerName = "kex-strict-s-v00@openssh.com";

size_t HashSize(THashKind hash) {
    switch (hash) {
    case THashKind::hkSha1:
        return 20;
    case THashKind::hkSha256:
        return 32;
    case THashKind::hkSha512:
        return 64;
    }
    return 0;
}

std::vector<uint8_t> HashBytes(THashKind hash, const uint8_t* data, size_t len) {
    std::vector<uint8_t> out(HashSize(hash));
    switch (hash) {
    case THashKind::hkSha1:
        TSha1::Hash(data, len, out.data());
        break;
    case THashKind::hkSha256:
        TSha256::Compute(data, len, out.data());
        break;
    case THashKind::hkSha512:
        TSha512::Compute(data, len, out.data());
        break;
    }
    return out;
}

namespace {

// AES counter mode as a transport cipher context.
class TAesCtrCipher : public TNvCipher {
public:
    TAesCtrCipher(const uint8_t* key, size_t keyLen, const uint8_t* iv) {
        FCtr.SetKey(key, keyLen);
        FCtr.SetCounter(iv);
    }
    size_t BlockSize() const override { return 16; }
    size_t Process(const uint8_t* in, size_t len, uint8_t* out, size_t outSize) override {
        if (outSize < len) throw ENvCipherError("Output buffer too small");
        FCtr.Crypt(in, out, len);
        return len;
    }

private:
    TAesCtr FCtr;
};

template <size_t KeyLen> std::unique_ptr<TNvCipher> MakeAesCtr(bool, const uint8_t* key, const uint8_t* iv) {
    return std::make_unique<TAesCtrCipher>(key, KeyLen, iv);
}

template <class THmacT, size_t Truncated> class THmacSha2Mac : public TMac {
public:
    explicit THmacSha2Mac(const uint8_t* key) : FHmac(key, THmacT::DigestSize) {}
    size_t MacSize() const override { return Truncated; }
    void Compute(uint32_t sequence, const uint8_t* packet, size_t len, uint8_t* mac) override {
        uint8_t seq[4] = {uint8_t(sequence >> 24), uint8_t(sequence >> 16), uint8_t(sequence >> 8),
                          uint8_t(sequence)};
        FHmac.Update(seq, 4);
        FHmac.Update(packet, len);
        uint8_t full[THmacT::DigestSize];
        FHmac.Final(full);
        std::copy(full, full + Truncated, mac);
        SecureWipe(full, sizeof(full));
    }

private:
    THmacT FHmac;
};

template <class THmacT> std::unique_ptr<TMac> MakeSha2(const uint8_t* key) {
    return std::make_unique<THmacSha2Mac<THmacT, THmacT::DigestSize>>(key);
}

const TKexAlgorithm KexTable[] = {
    {"curve25519-sha256", TKexKind::kkCurve25519, THashKind::hkSha256, 0, true, true, false},
    {"curve25519-sha256@libssh.org", TKexKind::kkCurve25519, THashKind::hkSha256, 0, true, true, false},
    {"diffie-hellman-group16-sha512", TKexKind::kkDhGroup, THashKind::hkSha512, 16, true, true, false},
    {"diffie-hellman-group14-sha256", TKexKind::kkDhGroup, THashKind::hkSha256, 14, true, true, false},
    {"diffie-hellman-group-exchange-sha256", TKexKind::kkDhGroupExchange, THashKind::hkSha256, 0, true, true,
     false},
    {"diffie-hellman-group-exchange-sha1", TKexKind::kkDhGroupExchange, THashKind::hkSha1, 0, true, true,
     true},
    {"diffie-hellman-group1-sha1", TKexKind::kkDhGroup, THashKind::hkSha1, 1, true, true, true},
    {"diffie-hellman-group14-sha1", TKexKind::kkDhGroup, THashKind::hkSha1, 14, true, true, false},
    {ExtInfoClientName, TKexKind::kkMarker, THashKind::hkSha1, 0, true, true, false},
    {StrictKexClientName, TKexKind::kkMarker, THashKind::hkSha1, 0, true, true, false},
};

const THostKeyAlgorithm HostKeyTable[] = {
    {"ssh-ed25519", THostKeyKind::hkEd25519, "ssh-ed25519", true, true, false},
    {"rsa-sha2-512", THostKeyKind::hkRsaSha512, "ssh-rsa", true, true, false},
    {"rsa-sha2-256", THostKeyKind::hkRsaSha256, "ssh-rsa", true, true, false},
    {"ssh-dss", THostKeyKind::hkDss, "ssh-dss", true, true, true},
    {"ssh-rsa", THostKeyKind::hkRsaSha1, "ssh-rsa", true, true, true},
    {"x509v3-sign-rsa", THostKeyKind::hkUnsupported, "", true, true, true},
    {"x509v3-sign-dss", THostKeyKind::hkUnsupported, "", true, true, true},
    {"spki-sign-rsa", THostKeyKind::hkUnsupported, "", true, true, true},
    {"spki-sign-dss", THostKeyKind::hkUnsupported, "", true, true, true},
    {"pgp-sign-rsa", THostKeyKind::hkUnsupported, "", true, true, true},
    {"pgp-sign-dss", THostKeyKind::hkUnsupported, "", true, true, true},
};

// Entries without a factory take the algorithm library's context of the same name; the table is
// constant data, so it does not depend on the library's tables being initialised first.
#define CLASSIC_CIPHER(name, key, block, iv)                                                                 \
    { name, key, block, iv, TCipherMode::cmBlock, true, true, true, nullptr }

const TCipherAlgorithm CipherTable[] = {
    {"chacha20-poly1305@openssh.com", 64, 8, 0, TCipherMode::cmChaChaPoly, true, true, false, nullptr},
    {"aes256-gcm@openssh.com", 32, 16, 12, TCipherMode::cmGcm, true, true, false, nullptr},
    {"aes128-gcm@openssh.com", 16, 16, 12, TCipherMode::cmGcm, true, true, false, nullptr},
    {"aes256-ctr", 32, 16, 16, TCipherMode::cmBlock, true, true, false, MakeAesCtr<32>},
    {"aes192-ctr", 24, 16, 16, TCipherMode::cmBlock, true, true, false, MakeAesCtr<24>},
    {"aes128-ctr", 16, 16, 16, TCipherMode::cmBlock, true, true, false, MakeAesCtr<16>},
    {"3des-cbc", 24, 8, 8, TCipherMode::cmBlock, false, true, true, nullptr},
    CLASSIC_CIPHER("blowfish-cbc", 16, 8, 8),
    CLASSIC_CIPHER("twofish256-cbc", 32, 16, 16),
    CLASSIC_CIPHER("twofish192-cbc", 24, 16, 16),
    CLASSIC_CIPHER("twofish128-cbc", 16, 16, 16),
    CLASSIC_CIPHER("aes256-cbc", 32, 16, 16),
    CLASSIC_CIPHER("aes192-cbc", 24, 16, 16),
    CLASSIC_CIPHER("aes128-cbc", 16, 16, 16),
    CLASSIC_CIPHER("serpent256-cbc", 32, 16, 16),
    CLASSIC_CIPHER("serpent192-cbc", 24, 16, 16),
    CLASSIC_CIPHER("serpent128-cbc", 16, 16, 16),
    CLASSIC_CIPHER("arcfour", 16, 8, 0),
    CLASSIC_CIPHER("idea-cbc", 16, 8, 8),
    CLASSIC_CIPHER("cast128-cbc", 16, 8, 8),
    // Never offered in the modern set: it would send the password in clear.
    {"none", 0, 8, 0, TCipherMode::cmBlock, true, false, true, nullptr},
    CLASSIC_CIPHER("des-cbc", 8, 8, 8),
};

#undef CLASSIC_CIPHER

const TMacAlgorithm MacTableModern[] = {
    {"hmac-sha2-256-etm@openssh.com", 32, 32, true, true, true, false, MakeSha2<THmacSha256>, nullptr},
    {"hmac-sha2-512-etm@openssh.com", 64, 64, true, true, true, false, MakeSha2<THmacSha512>, nullptr},
    {"hmac-sha1-etm@openssh.com", 20, 20, true, true, true, false, nullptr, "hmac-sha1"},
    {"hmac-sha2-256", 32, 32, false, true, true, false, MakeSha2<THmacSha256>, nullptr},
    {"hmac-sha2-512", 64, 64, false, true, true, false, MakeSha2<THmacSha512>, nullptr},
    {"hmac-sha1", 20, 20, false, true, true, true, nullptr, "hmac-sha1"},
    {"hmac-sha1-96", 20, 12, false, true, true, true, nullptr, "hmac-sha1-96"},
    {"hmac-md5", 16, 16, false, true, true, true, nullptr, "hmac-md5"},
    {"hmac-md5-96", 16, 12, false, true, true, true, nullptr, "hmac-md5-96"},
    {"none", 0, 0, false, true, false, true, nullptr, "none"},
};

const TCompressionAlgorithm CompressionTable[] = {
    {"none", TCompressionKind::ckNone, true, true},
    {"zlib@openssh.com", TCompressionKind::ckZlibDelayed, true, false},
    {"zlib", TCompressionKind::ckZlib, true, true},
};

template <class T> const T* FindIn(std::span<const T> table, std::string_view name) {
    for (const T& e : table)
        if (name == e.Name) return &e;
    return nullptr;
}

template <class T> std::vector<std::string> Offer(std::span<const T> table, TAlgorithmSet set) {
    std::vector<std::string> names;
    for (const T& e : table) {
        if (!e.Enabled) continue;
        if (set == TAlgorithmSet::asModern ? e.Modern : e.Original) names.emplace_back(e.Name);
    }
    return names;
}

} // namespace

std::span<const TKexAlgorithm> KexAlgorithms() {
    return KexTable;
}
std::span<const THostKeyAlgorithm> HostKeyAlgorithms() {
    return HostKeyTable;
}
std::span<const TCipherAlgorithm> CipherAlgorithms() {
    return CipherTable;
}
std::span<const TMacAlgorithm> MacAlgorithms() {
    return MacTableModern;
}
std::span<const TCompressionAlgorithm> CompressionAlgorithms() {
    return CompressionTable;
}

const TKexAlgorithm* FindKex(std::string_view name) {
    return FindIn(KexAlgorithms(), name);
}
const THostKeyAlgorithm* FindHostKey(std::string_view name) {
    return FindIn(HostKeyAlgorithms(), name);
}
const TCipherAlgorithm* FindCipherAlgorithm(std::string_view name) {
    return FindIn(CipherAlgorithms(), name);
}
const TMacAlgorithm* FindMacAlgorithm(std::string_view name) {
    return FindIn(MacAlgorithms(), name);
}
const TCompressionAlgorithm* FindCompression(std::string_view name) {
    return FindIn(CompressionAlgorithms(), name);
}

std::vector<std::string> OfferedKex(TAlgorithmSet set) {
    return Offer(KexAlgorithms(), set);
}
std::vector<std::string> OfferedHostKeys(TAlgorithmSet set) {
    return Offer(HostKeyAlgorithms(), set);
}
std::vector<std::string> OfferedCiphers(TAlgorithmSet set) {
    return Offer(CipherAlgorithms(), set);
}
std::vector<std::string> OfferedMacs(TAlgorithmSet set) {
    return Offer(MacAlgorithms(), set);
}

std::vector<std::string> OfferedCompression(TAlgorithmSet set, bool forceCompression) {
    std::vector<std::string> names, none;
    for (const TCompressionAlgorithm& e : CompressionAlgorithms()) {
        if (!(set == TAlgorithmSet::asModern ? e.Modern : e.Original)) continue;
        if (forceCompression && e.Kind == TCompressionKind::ckNone)
            none.emplace_back(e.Name);
        else
            names.emplace_back(e.Name);
    }
    names.insert(names.end(), none.begin(), none.end());
    return names;
}

std::unique_ptr<TNvCipher> CreateCipher(const TCipherAlgorithm& alg, bool encrypt, const uint8_t* key,
                                        const uint8_t* iv) {
    if (alg.Create) return alg.Create(encrypt, key, iv);
    const TNvCipherInfo* info = FindCipher(alg.Name);
    if (!info) throw ENvCipherError("Unknown cipher");
    return info->Create(encrypt, key, iv);
}

std::unique_ptr<TMac> CreateMac(const TMacAlgorithm& alg, const uint8_t* key) {
    if (alg.Create) return alg.Create(key);
    const TMacInfo* info = FindMac(alg.LibraryName);
    if (!info) throw ENvCipherError("Unknown MAC");
    return info->Create(key);
}

std::string Choose(const std::vector<std::string>& client, const std::vector<std::string>& server) {
    for (const std::string& c : client)
        if (std::find(server.begin(), server.end(), c) != server.end()) return c;
    return {};
}

} // namespace Varnello::Ssh
