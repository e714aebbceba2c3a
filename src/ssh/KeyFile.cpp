// Private key files: PEM armour, openssh-key-v1, PKCS#1 / DSA / PKCS#8 DER, and their ciphers.
#include "ssh/KeyFile.h"

#include "ssh/KnownHosts.h"
#include "ssh/crypto/Aes.h"
#include "ssh/crypto/AesCtr.h"
#include "ssh/crypto/BcryptPbkdf.h"
#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/Des.h"
#include "ssh/crypto/Ed25519.h"
#include "ssh/crypto/Md5.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace Varnello::Ssh {

using namespace Varnello::Crypto;

namespace {

[[noreturn]] void Fail(TKeyFileErrorKind kind, const std::string& file, const std::string& why) {
    throw ENvKeyFileError(kind, file + ": " + why);
}

struct TArmor {
    std::string Label;                                        // "RSA PRIVATE KEY"
    std::vector<std::pair<std::string, std::string>> Headers; // Proc-Type, DEK-Info
    TSecureBytes Body;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

TArmor ReadArmor(std::string_view text, const std::string& file) {
    const size_t begin = text.find("-----BEGIN ");
    if (begin == std::string_view::npos) Fail(TKeyFileErrorKind::Format, file, "not a private key file");
    const size_t labelStart = begin + 11;
    const size_t labelEnd = text.find("-----", labelStart);
    const size_t lineEnd = text.find('\n', labelStart);
    if (labelEnd == std::string_view::npos || (lineEnd != std::string_view::npos && labelEnd > lineEnd))
        Fail(TKeyFileErrorKind::Format, file, "malformed BEGIN line");
    TArmor a;
    a.Label = std::string(text.substr(labelStart, labelEnd - labelStart));
    const std::string endLine = "-----END " + a.Label + "-----";
    const size_t end = text.find(endLine, labelEnd);
    if (end == std::string_view::npos || lineEnd == std::string_view::npos || lineEnd > end)
        Fail(TKeyFileErrorKind::Format, file, "truncated (no END line)");
    std::string_view body = text.substr(lineEnd + 1, end - lineEnd - 1);
    std::string b64;
    bool inHeaders = true;
    while (!body.empty()) {
        size_t nl = body.find('\n');
        std::string_view line = Trim(body.substr(0, nl));
        body = nl == std::string_view::npos ? std::string_view() : body.substr(nl + 1);
        if (inHeaders) {
            const size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                a.Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                       std::string(Trim(line.substr(colon + 1))));
                continue;
            }
            inHeaders = false;
            if (line.empty()) continue;
        }
        for (char ch : line)
            if (ch != ' ' && ch != '\t') b64 += ch;
    }
    TBytes raw;
    const bool ok = Base64Decode(b64, raw);
    if (!b64.empty()) SecureWipe(b64.data(), b64.size());
    a.Body = TSecureBytes(raw);
    if (!raw.empty()) SecureWipe(raw.data(), raw.size());
    if (!ok || a.Body.empty()) Fail(TKeyFileErrorKind::Format, file, "corrupt base64 data");
    return a;
}

std::string Header(const TArmor& a, const std::string& name) {
    for (const auto& [k, v] : a.Headers)
        if (k == name) return v;
    return {};
}

TBytes StripZeros(const uint8_t* p, size_t n) {
    while (n > 0 && *p == 0) {
        ++p;
        --n;
    }
    return TBytes(p, p + n);
}

// Private values are copied straight from the (wiped) plaintext into wiped buffers.
TSecureBytes SecretMpint(TSshReader& r) {
    const std::string_view v = r.StringView();
    size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return TSecureBytes(v.begin() + std::ptrdiff_t(i), v.end());
}

// Checks a loaded key for internal consistency, so a corrupt or wrongly decrypted file is
// reported here rather than as a refused signature at the server.
void CheckKey(const TNvSSHKey& key, const std::string& file) {
    switch (key.KeyType) {
    case TNvSSHKey::ktRSA: {
        // The arithmetic holds products of two values of the modulus' size.
        if (key.RSAModulus.size() * 8 > size_t(TBigInt::MaxBits) / 2)
            Fail(TKeyFileErrorKind::Unsupported, file, "RSA keys over 4096 bits are not supported");
        if (key.RSAModulus.size() < 64 || key.RSAPublicExponent.empty() || key.RSAPrivateExponent.empty() ||
            key.RSAPublicExponent.size() > key.RSAModulus.size() ||
            key.RSAPrivateExponent.size() > key.RSAModulus.size())
            Fail(TKeyFileErrorKind::Format, file, "invalid RSA key");
        const TBigInt n = TBigInt::FromBytes(key.RSAModulus);
        const TBigInt m = TBigInt::FromUint(0x5a17);
        const TBigInt c = TBigInt::ModExp(m, TBigInt::FromBytes(key.RSAPublicExponent), n);
        const TBigInt back = TBigInt::ModExp(
            c, TBigInt::FromBytes(key.RSAPrivateExponent.data(), key.RSAPrivateExponent.size()), n);
        if (TBigInt::CompareMagnitude(back, m) != 0)
            Fail(TKeyFileErrorKind::Format, file, "RSA key halves do not match");
        break;
    }
    case TNvSSHKey::ktDSS: {
        if (key.DSSP.size() * 8 > size_t(TBigInt::MaxBits) / 2)
            Fail(TKeyFileErrorKind::Unsupported, file, "DSA keys over 4096 bits are not supported");
        const size_t pn = key.DSSP.size();
        if (pn < 64 || key.DSSQ.empty() || key.DSSG.empty() || key.DSSX.empty() || key.DSSQ.size() > pn ||
            key.DSSG.size() > pn || key.DSSY.size() > pn || key.DSSX.size() > pn)
            Fail(TKeyFileErrorKind::Format, file, "invalid DSA key");
        const TBigInt p = TBigInt::FromBytes(key.DSSP), g = TBigInt::FromBytes(key.DSSG);
        const TBigInt y = TBigInt::ModExp(g, TBigInt::FromBytes(key.DSSX.data(), key.DSSX.size()), p);
        if (TBigInt::CompareMagnitude(y, TBigInt::FromBytes(key.DSSY)) != 0)
            Fail(TKeyFileErrorKind::Format, file, "DSA key halves do not match");
        // g must generate the subgroup of order q, or signatures would not verify.
        if (TBigInt::CompareMagnitude(TBigInt::ModExp(g, TBigInt::FromBytes(key.DSSQ), p),
                                      TBigInt::FromUint(1)) != 0)
            Fail(TKeyFileErrorKind::Format, file, "invalid DSA parameters");
        break;
    }
    case TNvSSHKey::ktEd25519: {
        if (key.Ed25519Seed.size() != Ed25519SeedSize || key.Ed25519PublicKey.size() != 32)
            Fail(TKeyFileErrorKind::Format, file, "invalid Ed25519 key");
        TEd25519Key k(key.Ed25519Seed.data());
        if (!ConstTimeEqual(k.PublicKey(), key.Ed25519PublicKey.data(), 32))
            Fail(TKeyFileErrorKind::Format, file, "Ed25519 key halves do not match");
        break;
    }
    default:
        Fail(TKeyFileErrorKind::Unsupported, file, "unsupported key type");
    }
}

// Asks for a passphrase and runs attempt(passphrase) until it succeeds, is cancelled or the
// attempts run out. attempt returns false for a wrong passphrase.
template <class TAttempt>
TNvSSHKey WithPassphrase(const std::string& file, const TNvPassphraseEvent& ask, TAttempt attempt) {
    if (!ask) Fail(TKeyFileErrorKind::Cancelled, file, "the key is encrypted and no passphrase was given");
    for (int i = 1; i <= MaxPassphraseAttempts; ++i) {
        std::string pass;
        const bool given = ask(file, i, pass);
        if (!given) {
            WipeString(pass);
            Fail(TKeyFileErrorKind::Cancelled, file, "no passphrase was given");
        }
        TNvSSHKey key;
        bool ok;
        try {
            ok = attempt(pass, key);
        } catch (...) {
            WipeString(pass);
            throw;
        }
        WipeString(pass);
        if (ok) return key;
    }
    Fail(TKeyFileErrorKind::WrongPassphrase, file, "wrong passphrase");
}

// ---- openssh-key-v1 ----------------------------------------------------------------------

struct TOsshCipher {
    const char* Name;
    size_t KeyLen, IvLen, Block;
    bool Ctr;
};
constexpr TOsshCipher OsshCiphers[] = {
    {"none", 0, 0, 8, false},          {"aes256-ctr", 32, 16, 16, true},  {"aes192-ctr", 24, 16, 16, true},
    {"aes128-ctr", 16, 16, 16, true},  {"aes256-cbc", 32, 16, 16, false}, {"aes192-cbc", 24, 16, 16, false},
    {"aes128-cbc", 16, 16, 16, false},
};

TNvSSHKey ReadOsshPrivate(const TSecureBytes& plain, const TBytes& publicBlob, const std::string& file,
                          std::string& comment) {
    TSshReader r(plain, MaxKeyFileSize);
    const std::string type = r.String();
    TNvSSHKey key;
    if (type == "ssh-ed25519") {
        key.KeyType = TNvSSHKey::ktEd25519;
        key.Ed25519PublicKey = r.StringBytes();
        const std::string_view priv = r.StringView();
        if (priv.size() != 64 || key.Ed25519PublicKey.size() != 32)
            Fail(TKeyFileErrorKind::Format, file, "invalid Ed25519 key");
        key.Ed25519Seed.assign(priv.begin(), priv.begin() + 32);
        if (std::memcmp(priv.data() + 32, key.Ed25519PublicKey.data(), 32) != 0)
            Fail(TKeyFileErrorKind::Format, file, "invalid Ed25519 key");
    } else if (type == "ssh-rsa") {
        key.KeyType = TNvSSHKey::ktRSA;
        key.RSAModulus = r.Mpint();
        key.RSAPublicExponent = r.Mpint();
        key.RSAPrivateExponent = SecretMpint(r);
        for (int i = 0; i < 3; ++i) SecretMpint(r); // iqmp, p, q: read past; signing uses d
    } else if (type == "ssh-dss") {
        key.KeyType = TNvSSHKey::ktDSS;
        key.DSSP = r.Mpint();
        key.DSSQ = r.Mpint();
        key.DSSG = r.Mpint();
        key.DSSY = r.Mpint();
        key.DSSX = SecretMpint(r);
    } else {
        Fail(TKeyFileErrorKind::Unsupported, file, "unsupported key type \"" + type + "\"");
    }
    comment = r.String();
    // Padding 1, 2, 3, ... up to the cipher's block.
    if (r.Remaining() > 255) Fail(TKeyFileErrorKind::Format, file, "corrupt padding");
    for (size_t i = 1; !r.AtEnd(); ++i)
        if (r.Byte() != uint8_t(i)) Fail(TKeyFileErrorKind::Format, file, "corrupt padding");
    CheckKey(key, file);
    if (PublicKeyBlob(key) != publicBlob)
        Fail(TKeyFileErrorKind::Format, file, "public and private keys differ");
    return key;
}

TNvSSHKey ReadOpenSsh(const TSecureBytes& data, const std::string& file, const TNvPassphraseEvent& ask,
                      TNvKeyFileInfo* info) {
    static const char Magic[] = "openssh-key-v1";
    if (data.size() < sizeof(Magic) || std::memcmp(data.data(), Magic, sizeof(Magic)) != 0)
        Fail(TKeyFileErrorKind::Format, file, "not an openssh-key-v1 key");
    try {
        TSshReader r(data.data() + sizeof(Magic), data.size() - sizeof(Magic), MaxKeyFileSize);
        const std::string cipherName = r.String();
        const std::string kdfName = r.String();
        const TBytes kdfOptions = r.StringBytes();
        const uint32_t count = r.Uint32();
        if (count != 1)
            Fail(TKeyFileErrorKind::Unsupported, file,
                 "files with " + std::to_string(count) + " keys are not read");
        const TBytes publicBlob = r.StringBytes();
        const TBytes sealed = r.StringBytes();
        const TOsshCipher* cipher = nullptr;
        for (const TOsshCipher& c : OsshCiphers)
            if (cipherName == c.Name) cipher = &c;
        if (!cipher) Fail(TKeyFileErrorKind::Unsupported, file, "unsupported cipher \"" + cipherName + "\"");
        if (sealed.size() % cipher->Block != 0 || sealed.size() < 8)
            Fail(TKeyFileErrorKind::Format, file, "truncated private section");
        if (info) {
            info->Format = "openssh-key-v1";
            info->Encrypted = cipher->KeyLen != 0;
        }
        std::string comment;
        auto open = [&](const TSecureBytes& plain, TNvSSHKey& key) {
            TSshReader pr(plain, MaxKeyFileSize);
            const uint32_t check1 = pr.Uint32(), check2 = pr.Uint32();
            if (check1 != check2) return false;
            TSecureBytes rest(pr.Current(), pr.Current() + pr.Remaining());
            key = ReadOsshPrivate(rest, publicBlob, file, comment);
            return true;
        };
        TNvSSHKey key;
        if (cipher->KeyLen == 0) {
            if (kdfName != "none")
                Fail(TKeyFileErrorKind::Unsupported, file, "unsupported KDF \"" + kdfName + "\"");
            if (!open(TSecureBytes(sealed), key))
                Fail(TKeyFileErrorKind::Format, file, "corrupt private section");
        } else {
            if (kdfName != "bcrypt")
                Fail(TKeyFileErrorKind::Unsupported, file, "unsupported KDF \"" + kdfName + "\"");
            TSshReader kr(kdfOptions);
            const TBytes salt = kr.StringBytes();
            const uint32_t rounds = kr.Uint32();
            // ssh-keygen writes 16 by default; far more would be a file meant to hang the reader.
            if (salt.empty() || rounds == 0 || rounds > 10000)
                Fail(TKeyFileErrorKind::Format, file, "invalid KDF options");
            key = WithPassphrase(file, ask, [&](const std::string& pass, TNvSSHKey& out) {
                TSecureBytes keyIv(cipher->KeyLen + cipher->IvLen);
                if (!BcryptPbkdf(reinterpret_cast<const uint8_t*>(pass.data()), pass.size(), salt.data(),
                                 salt.size(), keyIv.data(), keyIv.size(), rounds))
                    Fail(TKeyFileErrorKind::Format, file, "invalid KDF options");
                TSecureBytes plain(sealed.size());
                if (cipher->Ctr) {
                    TAesCtr ctr;
                    ctr.SetKey(keyIv.data(), cipher->KeyLen);
                    ctr.SetCounter(keyIv.data() + cipher->KeyLen);
                    ctr.Crypt(sealed.data(), plain.data(), sealed.size());
                } else {
                    TAesKey k;
                    k.SetDecryptKey(keyIv.data(), cipher->KeyLen);
                    uint8_t iv[16];
                    std::memcpy(iv, keyIv.data() + cipher->KeyLen, 16);
                    AesCbcDecrypt(k, iv, sealed.data(), plain.data(), sealed.size() / 16);
                }
                return open(plain, out);
            });
        }
        if (info) info->Comment = comment;
        return key;
    } catch (const ENvKeyFileError&) {
        throw;
    } catch (const ENvSSHException&) {
        Fail(TKeyFileErrorKind::Format, file, "truncated or corrupt key data");
    }
}

// ---- DER (PKCS#1, DSA, PKCS#8) -----------------------------------------------------------

class TDer {
public:
    TDer(const uint8_t* p, size_t n, const std::string& file) : FP(p), FN(n), FFile(file) {}

    // The contents of the next element, which must have this tag.
    TDer Element(uint8_t tag) {
        if (FPos >= FN || FP[FPos] != tag) Bad();
        size_t pos = FPos + 1;
        if (pos >= FN) Bad();
        size_t len = FP[pos++];
        if (len & 0x80) {
            const size_t bytes = len & 0x7f;
            if (bytes == 0 || bytes > 4) Bad();
            len = 0;
            for (size_t i = 0; i < bytes; ++i) {
                if (pos >= FN) Bad();
                len = (len << 8) | FP[pos++];
            }
        }
        if (len > FN - pos) Bad();
        FPos = pos + len;
        return TDer(FP + pos, len, FFile);
    }
    TDer Sequence() { return Element(0x30); }
    TBytes Integer() {
        TDer e = Element(0x02);
        if (e.FN == 0 || (e.FP[0] & 0x80)) Bad(); // key values are positive
        return StripZeros(e.FP, e.FN);
    }
    TSecureBytes SecretInteger() {
        TDer e = Element(0x02);
        if (e.FN == 0 || (e.FP[0] & 0x80)) Bad();
        size_t i = 0;
        while (i < e.FN && e.FP[i] == 0) ++i;
        return TSecureBytes(e.FP + i, e.FP + e.FN);
    }
    bool AtEnd() const { return FPos == FN; }
    bool Peek(uint8_t tag) const { return FPos < FN && FP[FPos] == tag; }
    const uint8_t* Data() const { return FP; }
    size_t Size() const { return FN; }
    [[noreturn]] void Bad() const { Fail(TKeyFileErrorKind::Format, FFile, "truncated or corrupt key data"); }

private:
    const uint8_t* FP;
    size_t FN;
    size_t FPos = 0;
    const std::string& FFile;
};

TNvSSHKey RsaFromPkcs1(TDer der, const std::string& file) {
    TDer s = der.Sequence();
    if (!der.AtEnd()) der.Bad();
    const TBytes version = s.Integer();
    if (!version.empty()) Fail(TKeyFileErrorKind::Unsupported, file, "unsupported RSA key version");
    TNvSSHKey key;
    key.KeyType = TNvSSHKey::ktRSA;
    key.RSAModulus = s.Integer();
    key.RSAPublicExponent = s.Integer();
    key.RSAPrivateExponent = s.SecretInteger();
    for (int i = 0; i < 5; ++i) s.SecretInteger(); // p, q, dp, dq, qinv: read past; signing uses d
    return key;
}

TNvSSHKey DsaFromDer(TDer der, const std::string& file) {
    TDer s = der.Sequence();
    if (!der.AtEnd()) der.Bad();
    if (!s.Integer().empty()) Fail(TKeyFileErrorKind::Unsupported, file, "unsupported DSA key version");
    TNvSSHKey key;
    key.KeyType = TNvSSHKey::ktDSS;
    key.DSSP = s.Integer();
    key.DSSQ = s.Integer();
    key.DSSG = s.Integer();
    key.DSSY = s.Integer();
    key.DSSX = s.SecretInteger();
    return key;
}

TNvSSHKey FromPkcs8(TDer der, const std::string& file) {
    static const uint8_t OidRsa[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};
    static const uint8_t OidDsa[] = {0x2a, 0x86, 0x48, 0xce, 0x38, 0x04, 0x01};
    static const uint8_t OidEd25519[] = {0x2b, 0x65, 0x70};
    TDer s = der.Sequence();
    s.Integer(); // version 0 or 1
    TDer alg = s.Sequence();
    TDer oid = alg.Element(0x06);
    TDer priv = s.Element(0x04);
    auto is = [&](const uint8_t* o, size_t n) {
        return oid.Size() == n && std::memcmp(oid.Data(), o, n) == 0;
    };
    if (is(OidRsa, sizeof(OidRsa))) return RsaFromPkcs1(priv, file);
    if (is(OidDsa, sizeof(OidDsa))) {
        TDer params = alg.Sequence();
        TNvSSHKey key;
        key.KeyType = TNvSSHKey::ktDSS;
        key.DSSP = params.Integer();
        key.DSSQ = params.Integer();
        key.DSSG = params.Integer();
        key.DSSX = priv.SecretInteger();
        if (key.DSSP.size() * 8 > size_t(TBigInt::MaxBits) / 2 || key.DSSG.size() > key.DSSP.size() ||
            key.DSSX.size() > key.DSSP.size() || key.DSSP.empty())
            der.Bad();
        key.DSSY = TBigInt::ModExp(TBigInt::FromBytes(key.DSSG),
                                   TBigInt::FromBytes(key.DSSX.data(), key.DSSX.size()),
                                   TBigInt::FromBytes(key.DSSP))
                       .ToBytes();
        return key;
    }
    if (is(OidEd25519, sizeof(OidEd25519))) {
        TDer seed = priv.Element(0x04);
        if (seed.Size() != Ed25519SeedSize) der.Bad();
        TNvSSHKey key;
        key.KeyType = TNvSSHKey::ktEd25519;
        key.Ed25519Seed.assign(seed.Data(), seed.Data() + seed.Size());
        TEd25519Key k(key.Ed25519Seed.data());
        key.Ed25519PublicKey.assign(k.PublicKey(), k.PublicKey() + 32);
        return key;
    }
    Fail(TKeyFileErrorKind::Unsupported, file, "unsupported key algorithm in PKCS#8 file");
}

// ---- classic PEM encryption (DEK-Info) ---------------------------------------------------

struct TPemCipher {
    const char* Name;
    size_t KeyLen, Block;
};
constexpr TPemCipher PemCiphers[] = {{"AES-128-CBC", 16, 16},
                                     {"AES-192-CBC", 24, 16},
                                     {"AES-256-CBC", 32, 16},
                                     {"DES-EDE3-CBC", 24, 8},
                                     {"DES-CBC", 8, 8}};

// OpenSSL's EVP_BytesToKey with MD5 and one iteration: D_i = MD5(D_(i-1) || pass || salt).
TSecureBytes BytesToKey(const std::string& pass, const uint8_t salt[8], size_t len) {
    TSecureBytes out;
    uint8_t d[16];
    bool first = true;
    while (out.size() < len) {
        TMd5 md5;
        if (!first) md5.Update(d, sizeof(d));
        md5.Update(pass.data(), pass.size());
        md5.Update(salt, 8);
        md5.Final(d);
        out.insert(out.end(), d, d + 16);
        first = false;
    }
    SecureWipe(d, sizeof(d));
    out.resize(len);
    return out;
}

bool PemDecrypt(const TPemCipher& c, const TBytes& iv, const std::string& pass, const TSecureBytes& sealed,
                TSecureBytes& plain) {
    const TSecureBytes key = BytesToKey(pass, iv.data(), c.KeyLen);
    plain.assign(sealed.size(), 0);
    TBytes ivCopy = iv;
    if (c.Block == 16) {
        TAesKey k;
        k.SetDecryptKey(key.data(), c.KeyLen);
        AesCbcDecrypt(k, ivCopy.data(), sealed.data(), plain.data(), sealed.size() / 16);
    } else if (c.KeyLen == 24) {
        TDes3Key k;
        k.SetKey(key.data());
        Des3CbcDecrypt(k, ivCopy.data(), sealed.data(), plain.data(), sealed.size() / 8);
    } else {
        TDesKey k;
        k.SetKey(key.data());
        DesCbcDecrypt(k, ivCopy.data(), sealed.data(), plain.data(), sealed.size() / 8);
    }
    // PKCS#7 padding; a wrong passphrase almost always breaks it.
    const uint8_t pad = plain.back();
    if (pad == 0 || pad > c.Block) return false;
    for (size_t i = 0; i < pad; ++i)
        if (plain[plain.size() - 1 - i] != pad) return false;
    plain.resize(plain.size() - pad);
    return true;
}

TNvSSHKey ReadPem(const TArmor& a, const std::string& file, const TNvPassphraseEvent& ask,
                  TNvKeyFileInfo* info) {
    const bool pkcs8 = a.Label == "PRIVATE KEY";
    auto parse = [&](const TSecureBytes& der) {
        TDer d(der.data(), der.size(), file);
        if (pkcs8) return FromPkcs8(d, file);
        if (a.Label == "RSA PRIVATE KEY") return RsaFromPkcs1(d, file);
        return DsaFromDer(d, file);
    };
    if (info) {
        info->Format = pkcs8 ? "PKCS#8" : "PEM";
        info->Encrypted = false;
    }
    const std::string procType = Header(a, "Proc-Type");
    if (procType.empty()) {
        TNvSSHKey key = parse(a.Body);
        CheckKey(key, file);
        return key;
    }
    if (procType != "4,ENCRYPTED")
        Fail(TKeyFileErrorKind::Unsupported, file, "unsupported Proc-Type \"" + procType + "\"");
    const std::string dek = Header(a, "DEK-Info");
    const size_t comma = dek.find(',');
    const std::string cipherName = dek.substr(0, comma);
    const TPemCipher* cipher = nullptr;
    for (const TPemCipher& c : PemCiphers)
        if (cipherName == c.Name) cipher = &c;
    if (!cipher) Fail(TKeyFileErrorKind::Unsupported, file, "unsupported cipher \"" + cipherName + "\"");
    TBytes iv;
    if (comma != std::string::npos) {
        const std::string hex = dek.substr(comma + 1);
        if (hex.size() % 2 != 0) Fail(TKeyFileErrorKind::Format, file, "invalid DEK-Info");
        for (size_t i = 0; i < hex.size(); i += 2) {
            auto nib = [&](char ch) {
                if (ch >= '0' && ch <= '9') return ch - '0';
                if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
                if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
                return -1;
            };
            const int hi = nib(hex[i]), lo = nib(hex[i + 1]);
            if (hi < 0 || lo < 0) Fail(TKeyFileErrorKind::Format, file, "invalid DEK-Info");
            iv.push_back(uint8_t(hi * 16 + lo));
        }
    }
    if (iv.size() != cipher->Block) Fail(TKeyFileErrorKind::Format, file, "invalid DEK-Info");
    if (a.Body.size() % cipher->Block != 0) Fail(TKeyFileErrorKind::Format, file, "truncated encrypted data");
    if (info) info->Encrypted = true;
    return WithPassphrase(file, ask, [&](const std::string& pass, TNvSSHKey& out) {
        TSecureBytes plain;
        if (!PemDecrypt(*cipher, iv, pass, a.Body, plain)) return false;
        // Garbage from a wrong passphrase that happens to end in valid padding fails here.
        try {
            out = parse(plain);
            CheckKey(out, file);
        } catch (const ENvKeyFileError& e) {
            if (e.Kind == TKeyFileErrorKind::Format) return false;
            throw;
        }
        return true;
    });
}

} // namespace

namespace {
TNvSSHKey ParseArmored(std::string_view text, const std::string& fileName, const TNvPassphraseEvent& ask,
                       TNvKeyFileInfo* info);
}

TNvSSHKey ParsePrivateKey(std::string_view text, const std::string& fileName, const TNvPassphraseEvent& ask,
                          TNvKeyFileInfo* info) {
    if (text.size() > MaxKeyFileSize) Fail(TKeyFileErrorKind::Format, fileName, "too large for a key file");
    try {
        return ParseArmored(text, fileName, ask, info);
    } catch (const ENvKeyFileError&) {
        throw;
    } catch (const std::exception&) {
        // Arithmetic or cipher refusals on values that passed the size checks.
        Fail(TKeyFileErrorKind::Format, fileName, "truncated or corrupt key data");
    }
}

namespace {

TNvSSHKey ParseArmored(std::string_view text, const std::string& fileName, const TNvPassphraseEvent& ask,
                       TNvKeyFileInfo* info) {
    const TArmor a = ReadArmor(text, fileName);
    if (a.Label == "OPENSSH PRIVATE KEY") return ReadOpenSsh(a.Body, fileName, ask, info);
    if (a.Label == "RSA PRIVATE KEY" || a.Label == "DSA PRIVATE KEY" || a.Label == "PRIVATE KEY")
        return ReadPem(a, fileName, ask, info);
    if (a.Label == "ENCRYPTED PRIVATE KEY")
        Fail(TKeyFileErrorKind::Unsupported, fileName, "encrypted PKCS#8 keys are not supported");
    if (a.Label == "EC PRIVATE KEY")
        Fail(TKeyFileErrorKind::Unsupported, fileName, "ECDSA keys are not supported");
    Fail(TKeyFileErrorKind::Unsupported, fileName, "unsupported key file (\"" + a.Label + "\")");
}

} // namespace

TNvSSHKey LoadPrivateKeyFile(const std::string& path, const TNvPassphraseEvent& ask, TNvKeyFileInfo* info) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) Fail(TKeyFileErrorKind::Io, path, std::strerror(errno));
    std::string text;
    text.resize(MaxKeyFileSize + 1);
    const size_t n = std::fread(text.data(), 1, text.size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    text.resize(n);
    if (failed) {
        WipeString(text);
        Fail(TKeyFileErrorKind::Io, path, "read error");
    }
    try {
        TNvSSHKey key = ParsePrivateKey(text, path, ask, info);
        WipeString(text);
        return key;
    } catch (...) {
        WipeString(text);
        throw;
    }
}

bool TNvSSHFileKeyStorage::LoadFile(const std::string& path) {
    LastError.clear();
    try {
        AddKey(LoadPrivateKeyFile(path, OnPassphrase));
        return true;
    } catch (const ENvKeyFileError& e) {
        LastError = e.what();
        LastErrorKind = e.Kind;
    } catch (const std::exception& e) {
        LastError = path + ": " + e.what();
        LastErrorKind = TKeyFileErrorKind::Format;
    }
    return false;
}

} // namespace Varnello::Ssh
