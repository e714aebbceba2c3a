// User private key files for public-key authentication, and a key storage backed by them.
//
// Read formats: OpenSSH's "openssh-key-v1" (OpenSSH PROTOCOL.key; Ed25519, RSA, DSA; plain or
// bcrypt-pbkdf with aes256-ctr, aes128/192-ctr or aes*-cbc), the PEM forms "RSA PRIVATE KEY"
// (PKCS#1) and "DSA PRIVATE KEY", plain or with the classic Proc-Type/DEK-Info encryption
// (AES-128/192/256-CBC, DES-EDE3-CBC, DES-CBC; key from the MD5 EVP_BytesToKey scheme), and
// unencrypted PKCS#8 "PRIVATE KEY" (RSA, DSA, Ed25519). The public half comes from the private
// file. Every failure is an ENvKeyFileError naming the file; passphrases are asked through an
// event so the library has no dialogs, and are wiped after use together with the decrypted data.
#pragma once

#include "ssh/SshKey.h"

#include <functional>
#include <string>
#include <string_view>

namespace Varnello::Ssh {

enum class TKeyFileErrorKind {
    Io,              // the file cannot be read
    Format,          // not a key file, truncated or corrupt
    Unsupported,     // a key type, cipher or KDF this client does not read
    WrongPassphrase, // decryption gave no valid key
    Cancelled        // no passphrase was given
};

class ENvKeyFileError : public ENvSSHException {
public:
    ENvKeyFileError(TKeyFileErrorKind kind, const std::string& message)
        : ENvSSHException(message), Kind(kind) {}
    TKeyFileErrorKind Kind;
};

// Asked for the passphrase of an encrypted file; attempt counts from 1. Returning false cancels.
using TNvPassphraseEvent =
    std::function<bool(const std::string& fileName, int attempt, std::string& passphrase)>;

struct TNvKeyFileInfo {
    std::string Format; // "openssh-key-v1", "PEM", "PKCS#8"
    bool Encrypted = false;
    std::string Comment; // openssh-key-v1 only
};

// Files larger than this are not key files.
constexpr size_t MaxKeyFileSize = 256 * 1024;
// Passphrase attempts per file before WrongPassphrase is final.
constexpr int MaxPassphraseAttempts = 3;

// Reads a private key from the text of a key file; fileName only names it in messages.
// Throws ENvKeyFileError.
TNvSSHKey ParsePrivateKey(std::string_view text, const std::string& fileName, const TNvPassphraseEvent& ask,
                          TNvKeyFileInfo* info = nullptr);
TNvSSHKey LoadPrivateKeyFile(const std::string& path, const TNvPassphraseEvent& ask,
                             TNvKeyFileInfo* info = nullptr);

// Keys loaded from files, held in memory (wiped when freed) for the client's public-key method.
class TNvSSHFileKeyStorage : public TNvSSHMemoryKeyStorage {
public:
    TNvPassphraseEvent OnPassphrase;
    // Adds the file's key. False with LastError ("file: reason") when it cannot be loaded;
    // LastErrorKind tells why.
    bool LoadFile(const std::string& path);
    std::string LastError;
    TKeyFileErrorKind LastErrorKind = TKeyFileErrorKind::Io;
};

} // namespace Varnello::Ssh
