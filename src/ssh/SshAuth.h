// SSH-2 user authentication (RFC 4252, RFC 4256): the "ssh-userauth" service request, then
// "none", and the methods the server lets continue in the client's order: keyboard-interactive,
// password, publickey, hostbased.
//
// The class only exchanges payloads (messages 6 and 50 to 79). With an RSA key it signs with
// rsa-sha2-512 or rsa-sha2-256 when the server's "server-sig-algs" lists them (RFC 8308, 8332);
// servers that refuse SHA-1 would turn an "ssh-rsa" signature down.
#pragma once

#include "ssh/SshKey.h"
#include "ssh/SshSecure.h"
#include "ssh/SshWire.h"

#include <functional>
#include <string>
#include <vector>

namespace Varnello::Crypto {
class TRandom;
}

namespace Varnello::Ssh {

// AuthenticationTypes bits, also the codes of OnAuthenticationFailed.
inline constexpr int atRhosts = 1;
inline constexpr int atPublicKey = 2;
inline constexpr int atPassword = 4;
inline constexpr int atHostBased = 8;
inline constexpr int atKeyboardInteractive = 16;

class TSshAuth {
public:
    static constexpr uint8_t MsgServiceRequest = 5;
    static constexpr uint8_t MsgServiceAccept = 6;
    static constexpr uint8_t MsgRequest = 50;
    static constexpr uint8_t MsgFailure = 51;
    static constexpr uint8_t MsgSuccess = 52;
    static constexpr uint8_t MsgBanner = 53;
    static constexpr uint8_t MsgPkOk = 60; // also INFO_REQUEST
    static constexpr uint8_t MsgInfoResponse = 61;

    // Read at each use, so the owner's properties stay the single source.
    std::string UserName;
    std::string Password;
    std::string ClientUserName;
    std::string ClientHostName;
    unsigned AuthenticationTypes = atPassword;
    TNvSSHCustomKeyStorage* KeyStorage = nullptr;
    bool UseSha2Signatures = true; // the original set signs with "ssh-rsa" only

    std::function<void(const TBytes& payload)> OnSendPayload;
    std::function<void(int method)> OnFailed;
    std::function<void(const std::vector<std::string>& prompts, const std::vector<bool>& echo,
                       std::vector<std::string>& responses)>
        OnKeyboard;
    std::function<void()> OnSuccess;

    void Reset();
    // Sends SERVICE_REQUEST "ssh-userauth".
    void Start();
    // Messages 6 and 50 to 79; lastSent is the number of the last message the client sent.
    // Throws ENvSSHError (6, 114, 200).
    void Handle(const TBytes& payload, uint8_t lastSent, const TBytes& sessionId, Crypto::TRandom& rng);
    // The server's "server-sig-algs" (EXT_INFO).
    void SetServerSigAlgs(const std::vector<std::string>& names) { FServerSigAlgs = names; }

    bool Authenticated() const { return FAuthenticated; }
    int CurrentMethod() const { return FMethod; }

private:
    void ProcessFailure();
    void KeyStep(int method);
    TBytes RequestHead(const std::string& method) const;
    TBytes SignedBlob(const std::string& method) const;
    void Send(const TBytes& payload);
    std::string AlgorithmFor(const TNvSSHKey& key) const;

    int FMethod = -1;
    unsigned FAllowed = 0;
    int FKeyIndex = 0;
    std::string FKeyAlgorithm;
    TBytes FKeyBlob;
    TBytes FLastFailure;
    bool FAuthenticated = false;
    std::vector<std::string> FServerSigAlgs;
    const TBytes* FSessionId = nullptr;
    Crypto::TRandom* FRandom = nullptr;
};

} // namespace Varnello::Ssh
