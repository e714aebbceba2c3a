// The algorithm tables of the SSH-2 client, one constant table per family.
//
// Each entry names the algorithm, gives its sizes, whether it is enabled, and which offers it
// belongs to: the modern set (what today's servers accept, strongest first) and the original set
// (the classic offer, kept byte for byte). A table's order is the client's order of preference
// for both sets, so the modern entries come first. Negotiation walks these tables; no other code
// spells an algorithm name.
#pragma once

#include "ssh/crypto/CipherSuite.h"
#include "ssh/crypto/MacSuite.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace Varnello::Ssh {

enum class TAlgorithmSet { asModern, asOriginal };

enum class THashKind { hkSha1, hkSha256, hkSha512 };
size_t HashSize(THashKind hash);
// The digest of the concatenated parts.
std::vector<uint8_t> HashBytes(THashKind hash, const uint8_t* data, size_t len);

enum class TKexKind {
    kkCurve25519,
    kkDhGroup,
    kkDhGroupExchange,
    kkMarker, // a name that only signals an extension (ext-info-c, strict kex); never chosen
};

struct TKexAlgorithm {
    const char* Name;
    TKexKind Kind;
    THashKind Hash;
    int Group; // Oakley / MODP group number for kkDhGroup
    bool Enabled;
    bool Modern;
    bool Original;
};

enum class THostKeyKind { hkEd25519, hkRsaSha512, hkRsaSha256, hkRsaSha1, hkDss, hkUnsupported };

struct THostKeyAlgorithm {
    const char* Name;
    THostKeyKind Kind;
    const char* BlobType; // key type inside K_S ("ssh-rsa" for the rsa-sha2 forms)
    bool Enabled;
    bool Modern;
    bool Original;
};

enum class TCipherMode { cmBlock, cmGcm, cmChaChaPoly };

struct TCipherAlgorithm {
    const char* Name;
    size_t KeySize;
    size_t BlockSize; // padding unit
    size_t IvSize;    // bytes of the derived IV the cipher takes
    TCipherMode Mode;
    bool Enabled;
    bool Modern;
    bool Original;
    Crypto::TNvCipherFactory Create; // cmBlock only; nullptr: the library's entry of this name
};

struct TMacAlgorithm {
    const char* Name;
    size_t KeyBytes;
    size_t MacBytes;
    bool EncryptThenMac;
    bool Enabled;
    bool Modern;
    bool Original;
    std::unique_ptr<Crypto::TMac> (*Create)(const uint8_t* key); // nullptr: the library's LibraryName
    const char* LibraryName;
};

enum class TCompressionKind { ckNone, ckZlib, ckZlibDelayed };

struct TCompressionAlgorithm {
    const char* Name;
    TCompressionKind Kind;
    bool Modern;
    bool Original;
};

std::span<const TKexAlgorithm> KexAlgorithms();
std::span<const THostKeyAlgorithm> HostKeyAlgorithms();
std::span<const TCipherAlgorithm> CipherAlgorithms();
std::span<const TMacAlgorithm> MacAlgorithms();
std::span<const TCompressionAlgorithm> CompressionAlgorithms();

const TKexAlgorithm* FindKex(std::string_view name);
const THostKeyAlgorithm* FindHostKey(std::string_view name);
const TCipherAlgorithm* FindCipherAlgorithm(std::string_view name);
const TMacAlgorithm* FindMacAlgorithm(std::string_view name);
const TCompressionAlgorithm* FindCompression(std::string_view name);

// The markers the client adds to its modern key-exchange list, and the server's counterparts.
extern const char* const ExtInfoClientName;   // "ext-info-c"
extern const char* const StrictKexClientName; // "kex-strict-c-v00@openssh.com"
extern const char* const StrictKexServerName; // "kex-strict-s-v00@openssh.com"

// The name-lists of the client's KEXINIT for one set, in table order.
std::vector<std::string> OfferedKex(TAlgorithmSet set);
std::vector<std::string> OfferedHostKeys(TAlgorithmSet set);
std::vector<std::string> OfferedCiphers(TAlgorithmSet set);
std::vector<std::string> OfferedMacs(TAlgorithmSet set);
// With forceCompression the compressing entries come first and "none" last.
std::vector<std::string> OfferedCompression(TAlgorithmSet set, bool forceCompression);

// Contexts for a table entry (block ciphers and MACs).
std::unique_ptr<Crypto::TNvCipher> CreateCipher(const TCipherAlgorithm& alg, bool encrypt, const uint8_t* key,
                                                const uint8_t* iv);
std::unique_ptr<Crypto::TMac> CreateMac(const TMacAlgorithm& alg, const uint8_t* key);

// The first of the client's names that the server lists (exact match), or an empty string.
std::string Choose(const std::vector<std::string>& client, const std::vector<std::string>& server);

} // namespace Varnello::Ssh
