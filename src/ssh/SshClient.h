// TNvSSHClient: the socket-less SSH-2 client component.
//
// It owns no socket and never blocks. The application calls Open when its byte stream is
// connected and ReceiveData whenever bytes may be readable; the client pulls exactly what it
// needs through OnReceive and hands every byte it produces to OnSend. All events are raised
// inside those calls (or inside a channel send). The layers it joins only exchange payloads:
// the packet layer (framing and crypto), key exchange, user authentication and channels.
//
// Failures end in OnError with a code; fatal ones then send DISCONNECT, close every channel
// with CloseType 2 and raise OnCloseConnection. Input after that is ignored.
#pragma once

#include "ssh/SshAlgorithms.h"
#include "ssh/SshAuth.h"
#include "ssh/SshConnection.h"
#include "ssh/SshKex.h"
#include "ssh/SshKey.h"
#include "ssh/SshPacketLayer.h"
#include "ssh/SshTunnels.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Varnello::Ssh {

class TSsh1Engine;

enum TSSHVersion : uint8_t { qxSSH1 = 1, qxSSH2 = 2 };
using TSSHVersions = uint8_t; // bit set of TSSHVersion

class TNvSSHClient {
public:
    TNvSSHClient();
    ~TNvSSHClient();
    TNvSSHClient(const TNvSSHClient&) = delete;
    TNvSSHClient& operator=(const TNvSSHClient&) = delete;

    // Properties.
    std::string SoftwareName = "Norvane_SSH";
    TSSHVersions Versions = 0;
    std::string UserName;
    std::string Password;
    std::string ClientUserName;
    std::string ClientHostName;
    bool ForceCompression = false;
    int CompressionLevel = 6;
    unsigned AuthenticationTypes = atPassword;
    // Modern: today's algorithms first (and no "none" cipher or MAC); original: the classic offer.
    TAlgorithmSet AlgorithmSet = TAlgorithmSet::asModern;
    // The client starts a re-exchange after this many bytes either way, or this much time.
    uint64_t RekeyBytes = uint64_t(1) << 30;
    std::chrono::seconds RekeyTime{3600};

    TNvSSHCustomKeyStorage* KeyStorage() const { return FKeyStorage; }
    void SetKeyStorage(TNvSSHCustomKeyStorage* storage) { FKeyStorage = storage; }
    TNvSSHTunnelList* TunnelList() const { return FTunnelList; }
    void SetTunnelList(TNvSSHTunnelList* list);

    // Events.
    std::function<void(TNvSSHClient* sender, const uint8_t* buffer, int size)> OnSend;
    std::function<void(TNvSSHClient* sender, uint8_t* buffer, int maxSize, int& written)> OnReceive;
    std::function<void(TNvSSHClient* sender)> OnOpenConnection;
    std::function<void(TNvSSHClient* sender)> OnCloseConnection;
    std::function<void(TNvSSHClient* sender, const uint8_t* buffer, int size)> OnDebugData;
    std::function<void(TNvSSHClient* sender, int errorCode)> OnError;
    std::function<void(TNvSSHClient* sender, const TNvSSHKey& serverKey, bool& validate)> OnKeyValidate;
    std::function<void(TNvSSHClient* sender)> OnAuthenticationSuccess;
    std::function<void(TNvSSHClient* sender, int authenticationType)> OnAuthenticationFailed;
    std::function<void(TNvSSHClient* sender, const std::vector<std::string>& prompts,
                       const std::vector<bool>& echo, std::vector<std::string>& responses)>
        OnAuthenticationKeyboard;

    // Starts a session on a connected stream; sends nothing until the server's line arrives.
    void Open();
    // Raises OnReceive once for what the current step needs and processes it.
    void ReceiveData();

    bool SessionActive() const { return FSessionActive; }
    int LastError() const { return FLastError; }
    const std::string& ServerVersion() const { return FServerVersion; }
    const std::string& DisconnectMessage() const { return FDisconnectMessage; }
    const TNegotiated& Negotiated() const { return FKex.Negotiated(); }
    int KeyExchanges() const { return FExchanges; }
    const std::vector<std::unique_ptr<TNvSSHTunnelConnection>>& Connections() const {
        return FChannels.Connections();
    }
    // For tests: a deterministic generator for padding, cookies and exponents.
    void SeedRandom(const uint8_t* key, size_t len);

    // Used by tunnels that are destroyed while the client lists their connections.
    void ForgetTunnel(TNvCustomSSHTunnel* tunnel) { FChannels.ForgetTunnel(tunnel); }

    // The protocol spoken after the identification exchange (0 before it).
    int Protocol() const { return FProtocol; }
    const TSsh1Engine* Ssh1() const { return FSsh1.get(); }

private:
    friend class TSsh1Engine;
    void HandleLine(const std::string& line);
    void Dispatch(const TBytes& payload);
    void SendPayload(const TBytes& payload);
    void Transmit(const TBytes& payload);
    void Abort(int code, const std::string& message);
    void Error(int code);
    void Disconnected(const TBytes& payload);
    void ExtInfo(const TBytes& payload);
    void MaybeRekey();

    TNvSSHCustomKeyStorage* FKeyStorage = nullptr;
    TNvSSHTunnelList* FTunnelList = nullptr;

    TSshPacketLayer FPacket;
    TSshKex FKex;
    TSshAuth FAuth;
    TSshConnectionLayer FChannels;

    bool FSessionActive = false;
    bool FStalled = false;
    bool FClosed = false;
    bool FHoldOutput = false;
    std::deque<TBytes> FHeld;
    int FLastError = 0;
    uint8_t FLastSent = 0;
    uint64_t FPacketsIn = 0;
    int FExchanges = 0;
    std::chrono::steady_clock::time_point FKeysSince;
    std::string FServerVersion;
    std::string FDisconnectMessage;
    std::string FClientLine;
    int FProtocol = 0;
    std::unique_ptr<TSsh1Engine> FSsh1;
};

} // namespace Varnello::Ssh
