// Tunnels: what the application asks the client to open once the user is authenticated.
//
// A TNvSSHTunnelList holds tunnels in order and refers back to the client it serves. Tunnels
// and lists refer to each other without owning; each side forgets the other when it is
// destroyed. A tunnel's Connections are the open channels it gave rise to; the client owns them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Varnello::Ssh {

class TNvSSHClient;
class TNvSSHTunnelList;
class TNvSSHTunnelConnection;

// Terminal type and the mode values of a "pty-req" (RFC 4254 section 8).
class TNvTerminalInfo {
public:
    std::string TerminalType = "vt100";
    int Cols = 80;
    int Rows = 24;
    std::map<uint8_t, uint32_t> Modes; // opcode -> value
};

enum class TTunnelKind {
    tkShell,
    tkCommand,
    tkSubsystem,
    tkRemotePortForward,
    tkLocalPortForward,
    tkX11,
    tkAgent
};

class TNvCustomSSHTunnel {
public:
    virtual ~TNvCustomSSHTunnel();
    virtual TTunnelKind Kind() const = 0;

    std::function<void(TNvCustomSSHTunnel* sender, TNvSSHTunnelConnection* connection)> OnOpen;
    std::function<void(TNvCustomSSHTunnel* sender, TNvSSHTunnelConnection* connection)> OnClose;
    std::function<void(TNvCustomSSHTunnel* sender, int errorCode)> OnError;

    TNvSSHTunnelList* TunnelList() const { return FTunnelList; }
    // Leaves the previous list and joins the new one (nullptr: no list).
    void SetTunnelList(TNvSSHTunnelList* list);
    std::vector<TNvSSHTunnelConnection*>& Connections() { return FConnections; }

private:
    friend class TNvSSHTunnelList;
    TNvSSHTunnelList* FTunnelList = nullptr;
    std::vector<TNvSSHTunnelConnection*> FConnections;
};

// Session tunnels with environment lines "NAME=value".
class TNvSessionSSHTunnel : public TNvCustomSSHTunnel {
public:
    std::vector<std::string> Environment;
    TNvTerminalInfo* TerminalInfo = nullptr; // referenced, not owned
    // Ask for a pseudo-terminal before the shell or command; a binary stream through "exec"
    // needs it off, since a terminal's line discipline rewrites bytes.
    bool UseTerminal = true;
};

class TNvShellSSHTunnel : public TNvSessionSSHTunnel {
public:
    TTunnelKind Kind() const override { return TTunnelKind::tkShell; }
};

class TNvCommandSSHTunnel : public TNvSessionSSHTunnel {
public:
    TTunnelKind Kind() const override { return TTunnelKind::tkCommand; }
    std::string Command;
};

class TNvSubsystemSSHTunnel : public TNvSessionSSHTunnel {
public:
    TNvSubsystemSSHTunnel() { UseTerminal = false; }
    TTunnelKind Kind() const override { return TTunnelKind::tkSubsystem; }
    std::string Subsystem;
};

class TNvRemotePortForwardSSHTunnel : public TNvCustomSSHTunnel {
public:
    TTunnelKind Kind() const override { return TTunnelKind::tkRemotePortForward; }
    uint16_t Port = 0;
    std::string ToHost;
    uint16_t ToPort = 0;
};

class TNvLocalPortForwardSSHTunnel : public TNvCustomSSHTunnel {
public:
    TTunnelKind Kind() const override { return TTunnelKind::tkLocalPortForward; }
    uint16_t Port = 0;
    std::string ToHost;
    uint16_t ToPort = 0;
};

class TNvX11ForwardSSHTunnel : public TNvSessionSSHTunnel {
public:
    TTunnelKind Kind() const override { return TTunnelKind::tkX11; }
    std::string AuthenticationProtocol = "MIT-MAGIC-COOKIE-1";
    int ScreenNumber = 0;
};

class TNvAuthenticationAgentSSHTunnel : public TNvCustomSSHTunnel {
public:
    TTunnelKind Kind() const override { return TTunnelKind::tkAgent; }
};

class TNvSSHTunnelList {
public:
    ~TNvSSHTunnelList();

    // -1 when the tunnel is in the list already; else its index.
    int Add(TNvCustomSSHTunnel* tunnel);
    void Remove(TNvCustomSSHTunnel* tunnel);
    int Count() const { return int(FTunnels.size()); }
    // nullptr for an index outside the list.
    TNvCustomSSHTunnel* Tunnels(int index) const;

    TNvSSHClient* SSHClient = nullptr; // set by the client's SetTunnelList

private:
    std::vector<TNvCustomSSHTunnel*> FTunnels;
};

} // namespace Varnello::Ssh
