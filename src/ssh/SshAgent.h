// A key storage that asks a running SSH agent (draft-miller-ssh-agent) over its Unix socket,
// normally $SSH_AUTH_SOCK: the identities it holds are listed once, and each signature is
// requested when the server has accepted the key, with the rsa-sha2-256/512 flags for RSA.
//
// Each request opens its own connection, so an agent that was restarted is found again and one
// that died is noticed at the next request. Every failure (no agent, refused connection, a
// reply that is too long, malformed or a refusal) is reported through OnError and LastError;
// the client then goes on with its next key and method. Replies are read with a size bound and a
// time limit.
#pragma once

#include "ssh/KeyFile.h"
#include "ssh/SshKey.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Varnello::Ssh {

class TNvSSHAgentKeyStorage : public TNvSSHCustomKeyStorage {
public:
    static constexpr size_t MaxReplySize = 256 * 1024;
    static constexpr uint32_t MaxIdentities = 1024;
    static constexpr int TimeoutMs = 10000;

    // socketPath: the agent's socket; empty means $SSH_AUTH_SOCK.
    explicit TNvSSHAgentKeyStorage(std::string socketPath = {});

    // $SSH_AUTH_SOCK, or empty when no agent is announced.
    static std::string DefaultSocket();

    // Lists the agent's identities again. False (with the list empty and OnError called) when
    // the agent cannot be reached or its answer is invalid. Keys of types the client does not
    // speak are left out.
    bool Refresh();

    int GetCount() override { return int(FKeys.size()); }
    TNvSSHKey* GetKey(int index) override;
    std::string Comment(int index) const;
    bool CanSign(int index) override { return index >= 0 && index < GetCount(); }
    bool SignExternally(int index, const std::string& algorithm, const uint8_t* data, size_t len,
                        TBytes& signature) override;
    void Clear() override { FKeys.clear(); }

    // The signature string for a key blob the agent holds; empty on failure (reported).
    TBytes Sign(const TBytes& blob, const std::string& algorithm, const uint8_t* data, size_t len);

    const std::string& SocketPath() const { return FSocket; }
    const std::string& LastError() const { return FLastError; }
    std::function<void(TNvSSHAgentKeyStorage* sender, const std::string& message)> OnError;

private:
    struct TIdentity {
        std::unique_ptr<TNvSSHKey> Key;
        TBytes Blob;
        std::string Comment;
    };
    // Sends one request and reads its reply (type byte first); false after reporting.
    bool Transact(const TBytes& request, TBytes& reply);
    void Report(const std::string& message);

    std::string FSocket;
    std::string FLastError;
    std::vector<TIdentity> FKeys;
};

class TNvSSHClient;

// The main window's secure-logon settings put to use: "Private Key" names a key file whose key
// is offered; with it empty, the keys of a running agent are offered. "SSH V1" also allows
// protocol 1.5 (logged as not secure); otherwise, and by default, protocol 2 only.
struct TNvSSHLogonSettings {
    std::string PrivateKey;
    bool SshV1 = false;
    bool SshV2 = false;
};

class TNvSSHUserKeys {
public:
    // agentSocket: empty means $SSH_AUTH_SOCK.
    explicit TNvSSHUserKeys(std::string agentSocket = {}) : FAgent(std::move(agentSocket)) {}

    TNvPassphraseEvent OnPassphrase;
    std::function<void(const std::string& message)> OnLog;

    // Sets the client's versions and, when a key can be offered, its key storage and the
    // public-key method (and drops "password" when the client's Password is empty). A key file that cannot be
    // loaded is logged and not offered; the other methods stay as they were. The storage lives in this
    // object, which must outlive the session.
    void Apply(TNvSSHClient& client, const TNvSSHLogonSettings& settings);

    TNvSSHFileKeyStorage& FileKeys() { return FFile; }
    TNvSSHAgentKeyStorage& AgentKeys() { return FAgent; }

private:
    void Offer(TNvSSHClient& client, TNvSSHCustomKeyStorage* storage);
    void Log(const std::string& message) {
        if (OnLog) OnLog(message);
    }

    TNvSSHFileKeyStorage FFile;
    TNvSSHAgentKeyStorage FAgent;
};

} // namespace Varnello::Ssh
