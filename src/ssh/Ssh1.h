// The protocol 1.5 engine behind TNvSSHClient (the public SSH 1.5 protocol description).
//
// It takes over the byte stream once the server's identification selects protocol 1: framing
// with padding and CRC-32, the session key exchange with the server's two RSA keys, the
// protocol 1 authentication methods, optional compression and the interactive session. Input
// is pulled in exact amounts like the SSH-2 packet layer; every length from the peer is bounded
// before anything is allocated. Failures are thrown as ENvSSHError and end in the client's abort.
#pragma once

#include "ssh/SshSecure.h"
#include "ssh/SshWire.h"
#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/CipherSuite.h"
#include "ssh/crypto/Compression.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Varnello::Crypto {
class TRandom;
}

namespace Varnello::Ssh {

class TNvSSHClient;
class TNvCustomSSHTunnel;
class TNvSSHTunnelConnection;

// Reads a protocol 1 mp-int (uint16 bit count, then the bytes). More than maxBits: error 6.
TBytes ReadSsh1Mpint(TSshReader& r, int maxBits);
void WriteSsh1Mpint(TSshWriter& w, const TBytes& magnitude);

// Padding, type, data and CRC as they go on the wire (before encryption), length in front.
TBytes FrameSsh1Packet(const TBytes& payload, Crypto::TRandom* padding);

// The CRC-32 compensation attack detector (Futoransky and Kargieman): an inserted forgery
// repeats ciphertext blocks, so a packet in which an 8-byte block equals another one or the
// chaining block it follows is refused. iv is the previous packet's last ciphertext block.
bool DetectCrcAttack(const uint8_t* data, size_t len, const uint8_t* iv);

class TSsh1Engine {
public:
    static constexpr size_t PacketLimit = 128000;
    static constexpr int MaxKeyBits = 8192;

    // Protocol 1 message numbers.
    enum : uint8_t {
        MsgDisconnect = 1,
        SmsgPublicKey = 2,
        CmsgSessionKey = 3,
        CmsgUser = 4,
        CmsgAuthRhosts = 5,
        CmsgAuthRsa = 6,
        SmsgAuthRsaChallenge = 7,
        CmsgAuthRsaResponse = 8,
        CmsgAuthPassword = 9,
        CmsgRequestPty = 10,
        CmsgExecShell = 12,
        CmsgExecCmd = 13,
        SmsgSuccess = 14,
        SmsgFailure = 15,
        CmsgStdinData = 16,
        SmsgStdoutData = 17,
        SmsgStderrData = 18,
        SmsgExitStatus = 20,
        MsgChannelOpenConfirmation = 21,
        MsgChannelOpenFailure = 22,
        MsgChannelData = 23,
        MsgChannelClose = 24,
        MsgChannelCloseConfirmation = 25,
        SmsgX11Open = 27,
        CmsgPortForwardRequest = 28,
        MsgPortOpen = 29,
        CmsgAgentRequestForwarding = 30,
        SmsgAgentOpen = 31,
        MsgIgnore = 32,
        CmsgExitConfirmation = 33,
        CmsgX11RequestForwarding = 34,
        CmsgAuthRhostsRsa = 35,
        MsgDebug = 36,
        CmsgRequestCompression = 37
    };

    explicit TSsh1Engine(TNvSSHClient& client);
    ~TSsh1Engine();

    // Bytes that followed the server's line in the same read.
    void Feed(const uint8_t* data, size_t len);
    // Pulls what the current step needs through OnReceive and handles complete packets.
    void ReceiveData();
    // Sends one payload (type and data) as a packet.
    void Send(const TBytes& payload);
    // The DISCONNECT of an abort; never throws.
    void SendDisconnect(const std::string& message);

    // Channel operations of this session's tunnel connections.
    void ConnectionSend(TNvSSHTunnelConnection* c, const uint8_t* data, size_t len);
    void ConnectionClose(TNvSSHTunnelConnection* c);
    const std::vector<std::unique_ptr<TNvSSHTunnelConnection>>& Connections() const { return FConns; }
    // Every connection's OnClose with CloseType 2 (the server's disconnect).
    void CloseAll();

    int LastSent() const { return FLastSent; }
    int LastReceived() const { return FLastReceived; }
    int CipherNumber() const { return FCipher; }
    unsigned AuthMask() const { return FAuthMask; }
    bool EncryptionOn() const { return FEncryption; }
    bool CompressionOn() const { return FCompression; }
    const uint8_t* SessionId() const { return FSessionId; }

private:
    void Poll();
    void HandlePacket();
    void Dispatch(const TBytes& payload);
    void PublicKey(const TBytes& payload);
    void Reply(bool success);
    void NextMethod();
    bool NextKey();
    void Challenge(const TBytes& payload);
    void Authenticated();
    void RequestPty();
    void NextForwarding();
    void StartSession();
    TNvSSHTunnelConnection* Create(TNvCustomSSHTunnel* tunnel, uint32_t local, uint32_t remote);
    TNvSSHTunnelConnection* Find(uint32_t local) const;
    void Remove(TNvSSHTunnelConnection* c);
    void Accept(TNvCustomSSHTunnel* tunnel, uint32_t remote);
    void Refuse(uint32_t remote);
    // Runs a channel operation the application started; a failure ends the session.
    template <class F> void Guarded(F f);

    TNvSSHClient& FClient;
    TBytes FIn;
    size_t FHeld = 0;
    size_t FNeed = 4;
    bool FHaveLength = false;
    uint32_t FLength = 0;

    int FLastSent = -1;
    int FLastReceived = -1;
    bool FEncryption = false;
    bool FCompression = false;
    int FCipher = -1;
    unsigned FAuthMask = 0;
    unsigned FUntried = 0;
    int FKeyMethod = 0;
    int FKeyIndex = -1;
    int FForwardIndex = -1;
    int FSessionKind = 3;
    TNvCustomSSHTunnel* FSessionTunnel = nullptr;
    TNvSSHTunnelConnection* FSession = nullptr;
    std::vector<std::unique_ptr<TNvSSHTunnelConnection>> FConns;
    uint32_t FLastLocal = 0;

    uint8_t FCookie[8] = {};
    uint8_t FSessionId[16] = {};
    TSecureBytes FSessionKey;
    uint8_t FInIv[8] = {};
    std::unique_ptr<Crypto::TNvCipher> FEncrypt;
    std::unique_ptr<Crypto::TNvCipher> FDecrypt;
    std::unique_ptr<Crypto::TCompressor> FCompressor;
    std::unique_ptr<Crypto::TDecompressor> FDecompressor;
};

} // namespace Varnello::Ssh
