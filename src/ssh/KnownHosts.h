// Host-key trust in OpenSSH's known_hosts format, and key fingerprints as OpenSSH prints them.
//
// Two files are read: the user's OpenSSH file (~/.ssh/known_hosts) and the program's own file,
// whose path the caller gives. Accepted keys are appended to the program's own file only; the
// user's OpenSSH file is never written. Lines are "[marker] hosts keytype base64 [comment]", with
// hosts a comma-separated list of names, "[name]:port" forms, "*"/"?" wildcards, "!" negations,
// or one hashed "|1|salt|hash" entry (HMAC-SHA1 of the name keyed by the salt). "@revoked" marks a
// key refused for every host it names; "@cert-authority" lines describe CA keys, which this client
// does not use, so they are skipped rather than read as host keys.
#pragma once

#include "ssh/SshWire.h"

#include <string>
#include <string_view>
#include <vector>

namespace Varnello::Ssh {

// RFC 4648 base64. Decoding skips nothing: any character outside the alphabet, or padding in the
// wrong place, makes it return false.
std::string Base64Encode(const uint8_t* data, size_t len, bool pad = true);
bool Base64Decode(std::string_view text, TBytes& out);

// "SHA256:" and the unpadded base64 of the SHA-256 of a public key blob, as ssh-keygen -l prints.
std::string KeyFingerprint(const TBytes& blob);

enum class THostKeyStatus { Known, Unknown, Changed, Revoked };

struct THostKeyCheck {
    THostKeyStatus Status = THostKeyStatus::Unknown;
    // For Changed: where the host's other key of the same type is written; for Revoked and Known:
    // the line that decided.
    std::string File;
    int Line = 0;
    std::string OldFingerprint; // Changed only
};

class TNvKnownHosts {
public:
    // Longer lines are skipped with a warning (the longest real key, RSA 16384, is under 3 KiB);
    // reading stops after MaxLines lines of one file.
    static constexpr size_t MaxLineLength = 16384;
    static constexpr size_t MaxLines = 200000;

    // ownFile: the program's own file (created on the first Accept). userFile: an OpenSSH file
    // only read; empty means none.
    explicit TNvKnownHosts(std::string ownFile, std::string userFile = DefaultUserFile());

    // $HOME/.ssh/known_hosts, or empty when HOME is not set.
    static std::string DefaultUserFile();

    // The name a host is written under: "host" on port 22, "[host]:port" otherwise (lower case).
    static std::string HostEntryName(const std::string& host, int port);

    // Reads both files again and decides for this host and key blob. A revoked key wins over any
    // other line; a line with this very key makes it Known; a line for this host with another key
    // of the same type makes it Changed; else Unknown. Unreadable files count as empty.
    THostKeyCheck Check(const std::string& host, int port, const TBytes& blob);

    // Appends "name keytype base64" to the program's own file (hashed when asked), creating the
    // file with mode 0600 and its folder when missing. False with error set when the file cannot be written.
    bool Accept(const std::string& host, int port, const TBytes& blob, bool hashed, std::string& error);

    const std::string& OwnFile() const { return FOwnFile; }
    const std::string& UserFile() const { return FUserFile; }
    // Lines the last Check skipped as malformed or too long, as "file:line: reason".
    const std::vector<std::string>& Warnings() const { return FWarnings; }

private:
    void ScanFile(const std::string& path, const std::string& name, const TBytes& blob, THostKeyCheck& known,
                  THostKeyCheck& changed, THostKeyCheck& revoked);

    std::string FOwnFile;
    std::string FUserFile;
    std::vector<std::string> FWarnings;
};

// True when one host field of a known_hosts line (comma list or hashed entry) names "name"
// (already in HostEntryName form). A matching "!" pattern excludes the name.
bool KnownHostsFieldMatches(std::string_view field, const std::string& name);

} // namespace Varnello::Ssh
