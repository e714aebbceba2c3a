// The SSH-2 connection protocol (RFC 4254) as the client speaks it: channels opened tunnel by
// tunnel, channel requests, data with flow control, close, and the server's own channels.
//
// Flow control both ways: sends never exceed the server's window or maximum packet size (data
// waits in the connection until CHANNEL_WINDOW_ADJUST makes room), and the client opens its own
// window at 2 MiB with 32 KiB packets, adjusting it for every data message it receives.
// The layer only exchanges payloads (messages 80 to 127) through OnSendPayload.
#pragma once

#include "ssh/SshTunnels.h"
#include "ssh/SshWire.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Varnello::Crypto {
class TRandom;
}

namespace Varnello::Ssh {

class TSshConnectionLayer;

enum class TChannelPhase { cpOpening, cpTerminal, cpShell, cpCommand, cpSubsystem, cpX11, cpOpen };

class TSsh1Engine;

class TNvSSHTunnelConnection {
public:
    std::function<void(TNvSSHTunnelConnection* sender, const uint8_t* buffer, int size)> OnData;
    std::function<void(TNvSSHTunnelConnection* sender, int errorCode)> OnError;
    std::function<void(TNvSSHTunnelConnection* sender, int closeType)> OnClose;
    std::function<void(TNvSSHTunnelConnection* sender, const uint8_t* buffer, int size)> OnExtendedData;

    TNvSSHClient* SSHClient = nullptr;
    // Set on connections of a protocol 1 session, whose traffic the protocol 1 engine carries.
    TSsh1Engine* Ssh1 = nullptr;
    bool Attached = true;
    TNvCustomSSHTunnel* Tunnel = nullptr;
    uint32_t LocalChannel = 0;
    uint32_t RemoteChannel = 0xFFFF;
    bool CloseSent = false;
    bool CloseReceived = false;
    bool EofReceived = false;
    TChannelPhase ChannelPhase = TChannelPhase::cpOpening;
    int ExitStatus = 0;
    std::string ExitSignal;
    std::string ExitMessage;
    int CloseType = 0;

    // Queues the bytes for the channel; they go out as the server's window allows.
    void SendData(const uint8_t* buffer, int size);
    // No more data from us (CHANNEL_EOF once the queue has drained); the channel stays open.
    void SendEof();
    // EOF and CLOSE, after whatever is still queued.
    void Close();

    uint32_t RemoteWindow = 0;
    uint32_t RemoteMaxPacket = 0;
    size_t Queued() const { return FQueue.size() - FQueueHead; }

private:
    friend class TSshConnectionLayer;
    friend class TNvCustomSSHTunnel;
    TSshConnectionLayer* FLayer = nullptr;
    TBytes FQueue; // bytes waiting for the server's window, from FQueueHead on
    size_t FQueueHead = 0;
    bool FEofWanted = false;
    bool FEofSent = false;
    bool FCloseWanted = false;
};

class TSshConnectionLayer {
public:
    static constexpr uint32_t InitialWindow = 2 * 1024 * 1024;
    static constexpr uint32_t MaxPacket = 32768;
    static constexpr uint32_t OpenAdjust = 0x20000;

    std::function<void(const TBytes& payload)> OnSendPayload;
    // Whether channel data may be sent; false reports error 222 through OnChannelError.
    std::function<bool()> SessionActive;
    std::function<void(int code)> OnChannelError;
    // The session is up (a subsystem granted, or every tunnel walked) / the last channel closed.
    std::function<void()> OnOpenConnection;
    std::function<void()> OnCloseConnection;

    TNvSSHClient* Client = nullptr;
    TNvSSHTunnelList* TunnelList = nullptr;
    Crypto::TRandom* Random = nullptr;

    ~TSshConnectionLayer();
    // Empties the connection list (each leaves its tunnel) and restarts channel numbers at 0.
    void Reset();
    void OpenNextTunnel(int index);
    // Messages 80 to 127. Throws ENvSSHError (6, 200).
    void Handle(const TBytes& payload);
    // The SSH connection failed: every connection hears OnClose with CloseType 2.
    void FailAll();
    // A tunnel is going away: its connections leave the client's list.
    void ForgetTunnel(TNvCustomSSHTunnel* tunnel);

    const std::vector<std::unique_ptr<TNvSSHTunnelConnection>>& Connections() const { return FConnections; }

private:
    friend class TNvSSHTunnelConnection;
    TNvSSHTunnelConnection* Create(TNvCustomSSHTunnel* tunnel);
    TNvSSHTunnelConnection* Find(uint32_t local) const;
    void Discard(TNvSSHTunnelConnection* c);
    void Send(const TBytes& payload);
    void Flush(TNvSSHTunnelConnection* c);
    void SendData(TNvSSHTunnelConnection* c, const uint8_t* data, size_t len);
    void TunnelOpened(TNvSSHTunnelConnection* c);
    void SendPty(TNvSSHTunnelConnection* c);
    void SendEnv(TNvSSHTunnelConnection* c);
    void SendRequest(TNvSSHTunnelConnection* c, const std::string& type, bool wantReply, const TBytes& data);
    void AfterTerminal(TNvSSHTunnelConnection* c);
    void ChannelOpen(TSshReader& r);
    void ChannelRequest(TSshReader& r);
    void Success(TNvSSHTunnelConnection* c);

    std::vector<std::unique_ptr<TNvSSHTunnelConnection>> FConnections;
    uint32_t FNextChannel = 0;
    int FConnectionIndex = 0;
};

// The protocol 1 forms of SendData and Close (in the protocol 1 engine).
void Ssh1SendData(TSsh1Engine* engine, TNvSSHTunnelConnection* c, const uint8_t* data, size_t len);
void Ssh1Close(TSsh1Engine* engine, TNvSSHTunnelConnection* c);

// The 47 pairs sent when a session tunnel has no terminal info, then the two speeds.
TBytes DefaultTerminalModes();

} // namespace Varnello::Ssh
