// Channels: opening tunnel by tunnel, requests, flow-controlled data, close.
#include "ssh/SshConnection.h"

#include "ssh/SshError.h"

#include "ssh/crypto/Random.h"

#include <algorithm>

namespace Varnello::Ssh {

namespace {

constexpr uint8_t MsgGlobalRequest = 80;
constexpr uint8_t MsgRequestSuccess = 81;
constexpr uint8_t MsgRequestFailure = 82;
constexpr uint8_t MsgChannelOpen = 90;
constexpr uint8_t MsgOpenConfirmation = 91;
constexpr uint8_t MsgOpenFailure = 92;
constexpr uint8_t MsgWindowAdjust = 93;
constexpr uint8_t MsgData = 94;
constexpr uint8_t MsgExtendedData = 95;
constexpr uint8_t MsgEof = 96;
constexpr uint8_t MsgClose = 97;
constexpr uint8_t MsgRequest = 98;
constexpr uint8_t MsgSuccess = 99;
constexpr uint8_t MsgFailure = 100;

[[noreturn]] void Invalid() {
    throw ENvSSHError(6, MsgInvalidPacket);
}

bool IsSessionTunnel(TTunnelKind k) {
    return k == TTunnelKind::tkShell || k == TTunnelKind::tkCommand || k == TTunnelKind::tkSubsystem ||
           k == TTunnelKind::tkX11;
}

} // namespace

TBytes DefaultTerminalModes() {
    static const uint8_t pairs[][2] = {
        {1, 3},   {2, 28},  {3, 8},   {4, 21},  {5, 4},  {6, 0},  {7, 0},  {8, 17}, {9, 19}, {10, 26},
        {12, 18}, {13, 23}, {14, 22}, {18, 15}, {30, 0}, {31, 0}, {32, 0}, {33, 0}, {34, 0}, {35, 0},
        {36, 1},  {37, 0},  {38, 1},  {39, 0},  {40, 0}, {41, 0}, {50, 1}, {51, 1}, {53, 1}, {54, 0},
        {55, 0},  {56, 0},  {57, 0},  {58, 0},  {59, 1}, {60, 0}, {61, 0}, {70, 1}, {71, 0}, {72, 1},
        {73, 0},  {74, 0},  {75, 0},  {90, 1},  {91, 1}, {92, 0}, {93, 0},
    };
    static_assert(sizeof(pairs) / sizeof(pairs[0]) == 47);
    TSshWriter w;
    for (const auto& p : pairs) w.Byte(p[0]).Uint32(p[1]);
    w.Byte(128).Uint32(38400).Byte(129).Uint32(38400).Byte(0);
    return w.Take();
}

void TNvSSHTunnelConnection::SendData(const uint8_t* buffer, int size) {
    if (Ssh1) {
        if (!CloseSent && size > 0) Ssh1SendData(Ssh1, this, buffer, size_t(size));
        return;
    }
    if (CloseSent || CloseReceived || FCloseWanted || FEofWanted || !Attached || !FLayer || size <= 0) return;
    FLayer->SendData(this, buffer, size_t(size));
}

void TNvSSHTunnelConnection::SendEof() {
    if (!Attached || !FLayer || CloseSent || FEofWanted) return;
    FEofWanted = true;
    FLayer->Flush(this);
}

void TNvSSHTunnelConnection::Close() {
    if (Ssh1) {
        if (!CloseSent) Ssh1Close(Ssh1, this);
        return;
    }
    if (!Attached || !FLayer || CloseSent || FCloseWanted) return;
    FCloseWanted = true;
    FEofWanted = true;
    FLayer->Flush(this);
}

TSshConnectionLayer::~TSshConnectionLayer() {
    Reset();
}

void TSshConnectionLayer::Reset() {
    for (auto& c : FConnections) {
        if (c->Tunnel) {
            auto& list = c->Tunnel->Connections();
            list.erase(std::remove(list.begin(), list.end(), c.get()), list.end());
        }
    }
    FConnections.clear();
    FNextChannel = 0;
    FConnectionIndex = 0;
}

void TSshConnectionLayer::Send(const TBytes& payload) {
    if (OnSendPayload) OnSendPayload(payload);
}

TNvSSHTunnelConnection* TSshConnectionLayer::Create(TNvCustomSSHTunnel* tunnel) {
    auto c = std::make_unique<TNvSSHTunnelConnection>();
    c->SSHClient = Client;
    c->Tunnel = tunnel;
    c->LocalChannel = FNextChannel++;
    c->FLayer = this;
    TNvSSHTunnelConnection* raw = c.get();
    FConnections.push_back(std::move(c));
    tunnel->Connections().push_back(raw);
    return raw;
}

TNvSSHTunnelConnection* TSshConnectionLayer::Find(uint32_t local) const {
    for (const auto& c : FConnections)
        if (c->LocalChannel == local) return c.get();
    return nullptr;
}

void TSshConnectionLayer::ForgetTunnel(TNvCustomSSHTunnel* tunnel) {
    tunnel->Connections().clear();
    FConnections.erase(std::remove_if(FConnections.begin(), FConnections.end(),
                                      [&](const auto& c) { return c->Tunnel == tunnel; }),
                       FConnections.end());
}

void TSshConnectionLayer::Discard(TNvSSHTunnelConnection* c) {
    if (c->OnClose) c->OnClose(c, c->CloseType);
    if (c->Tunnel) {
        auto& list = c->Tunnel->Connections();
        list.erase(std::remove(list.begin(), list.end(), c), list.end());
    }
    FConnections.erase(
        std::remove_if(FConnections.begin(), FConnections.end(), [&](const auto& p) { return p.get() == c; }),
        FConnections.end());
    if (FConnections.empty() && OnCloseConnection) OnCloseConnection();
}

void TSshConnectionLayer::FailAll() {
    // A handler may close or send; work on a snapshot of the list.
    std::vector<TNvSSHTunnelConnection*> all;
    for (auto& c : FConnections) all.push_back(c.get());
    for (TNvSSHTunnelConnection* c : all) {
        c->CloseType = 2;
        c->Attached = false;
        if (c->OnClose) c->OnClose(c, 2);
    }
}

void TSshConnectionLayer::OpenNextTunnel(int index) {
    // Each step either stops or moves to the next index, so the walk ends with the list.
    for (;;) {
        FConnectionIndex = index;
        TNvCustomSSHTunnel* t = TunnelList ? TunnelList->Tunnels(index) : nullptr;
        if (!t) {
            if (OnOpenConnection) OnOpenConnection();
            return;
        }
        const TTunnelKind kind = t->Kind();
        if (IsSessionTunnel(kind)) {
            TNvSSHTunnelConnection* c = Create(t);
            TSshWriter w;
            w.Byte(MsgChannelOpen)
                .String("session")
                .Uint32(c->LocalChannel)
                .Uint32(InitialWindow)
                .Uint32(MaxPacket);
            Send(w.Take());
            return;
        }
        if (kind == TTunnelKind::tkRemotePortForward) {
            auto* f = static_cast<TNvRemotePortForwardSSHTunnel*>(t);
            TSshWriter w;
            w.Byte(MsgGlobalRequest).String("tcpip-forward").Boolean(true).String("0.0.0.0").Uint32(f->Port);
            Send(w.Take());
        }
        ++index;
    }
}

void TSshConnectionLayer::TunnelOpened(TNvSSHTunnelConnection* c) {
    c->ChannelPhase = TChannelPhase::cpOpen;
    TSshWriter w;
    w.Byte(MsgWindowAdjust).Uint32(c->RemoteChannel).Uint32(OpenAdjust);
    Send(w.Take());
    if (c->Tunnel && c->Tunnel->OnOpen) c->Tunnel->OnOpen(c->Tunnel, c);
}

void TSshConnectionLayer::SendRequest(TNvSSHTunnelConnection* c, const std::string& type, bool wantReply,
                                      const TBytes& data) {
    TSshWriter w;
    w.Byte(MsgRequest).Uint32(c->RemoteChannel).String(type).Boolean(wantReply).Raw(data);
    Send(w.Take());
}

void TSshConnectionLayer::SendPty(TNvSSHTunnelConnection* c) {
    auto* t = static_cast<TNvSessionSSHTunnel*>(c->Tunnel);
    TSshWriter d;
    TBytes modes;
    if (t->TerminalInfo) {
        TSshWriter m;
        for (const auto& [op, value] : t->TerminalInfo->Modes)
            if (op >= 1 && op <= 159) m.Byte(op).Uint32(value & 0xFF);
        m.Byte(128).Uint32(38400).Byte(129).Uint32(38400).Byte(0);
        modes = m.Take();
        d.String(t->TerminalInfo->TerminalType);
    } else {
        modes = DefaultTerminalModes();
        d.String("vt100");
    }
    d.Uint32(24).Uint32(80).Uint32(0).Uint32(0).String(modes);
    c->ChannelPhase = TChannelPhase::cpTerminal;
    SendRequest(c, "pty-req", true, d.Data());
}

void TSshConnectionLayer::SendEnv(TNvSSHTunnelConnection* c) {
    auto* t = static_cast<TNvSessionSSHTunnel*>(c->Tunnel);
    for (const std::string& line : t->Environment) {
        const size_t eq = line.find('=');
        const std::string name = line.substr(0, eq);
        // The value of the first line with this name.
        std::string value;
        for (const std::string& other : t->Environment)
            if (other.compare(0, name.size(), name) == 0 && other.size() > name.size() &&
                other[name.size()] == '=') {
                value = other.substr(name.size() + 1);
                break;
            }
        TSshWriter d;
        d.String(name).String(value);
        SendRequest(c, "env", false, d.Data());
    }
}

void TSshConnectionLayer::AfterTerminal(TNvSSHTunnelConnection* c) {
    SendEnv(c);
    switch (c->Tunnel->Kind()) {
    case TTunnelKind::tkShell:
        c->ChannelPhase = TChannelPhase::cpShell;
        SendRequest(c, "shell", true, {});
        break;
    case TTunnelKind::tkCommand: {
        c->ChannelPhase = TChannelPhase::cpCommand;
        TSshWriter d;
        d.String(static_cast<TNvCommandSSHTunnel*>(c->Tunnel)->Command);
        SendRequest(c, "exec", true, d.Data());
        break;
    }
    case TTunnelKind::tkX11: {
        auto* x = static_cast<TNvX11ForwardSSHTunnel*>(c->Tunnel);
        c->ChannelPhase = TChannelPhase::cpX11;
        static const char hex[] = "0123456789ABCDEF";
        std::string cookie;
        for (int i = 0; i < 16; ++i) {
            uint8_t b = Random ? Random->NextByte() : Crypto::TRandom::Shared().NextByte();
            cookie += hex[b >> 4];
            cookie += hex[b & 15];
        }
        TSshWriter d;
        d.Boolean(false).String(x->AuthenticationProtocol).String(cookie).Uint32(uint32_t(x->ScreenNumber));
        SendRequest(c, "x11-req", true, d.Data());
        break;
    }
    default:
        break;
    }
    OpenNextTunnel(FConnectionIndex + 1);
}

void TSshConnectionLayer::Success(TNvSSHTunnelConnection* c) {
    switch (c->ChannelPhase) {
    case TChannelPhase::cpTerminal:
        AfterTerminal(c);
        break;
    case TChannelPhase::cpShell:
    case TChannelPhase::cpCommand:
        TunnelOpened(c);
        break;
    case TChannelPhase::cpSubsystem:
        if (OnOpenConnection) OnOpenConnection();
        TunnelOpened(c);
        break;
    default:
        break;
    }
}

void TSshConnectionLayer::SendData(TNvSSHTunnelConnection* c, const uint8_t* data, size_t len) {
    if (SessionActive && !SessionActive()) {
        if (OnChannelError) OnChannelError(222);
        return;
    }
    // Drop what has gone out before growing the buffer, so it holds only what still waits.
    if (c->FQueueHead > 0 && c->FQueueHead >= c->FQueue.size() / 2) {
        c->FQueue.erase(c->FQueue.begin(), c->FQueue.begin() + std::ptrdiff_t(c->FQueueHead));
        c->FQueueHead = 0;
    }
    c->FQueue.insert(c->FQueue.end(), data, data + len);
    Flush(c);
}

void TSshConnectionLayer::Flush(TNvSSHTunnelConnection* c) {
    if (c->CloseSent || c->ChannelPhase == TChannelPhase::cpOpening) return;
    // Each message takes at least one byte of the window or the queue ends, so this ends.
    while (c->Queued() > 0 && c->RemoteWindow > 0) {
        size_t n = std::min<size_t>(
            {c->Queued(), c->RemoteWindow, c->RemoteMaxPacket ? c->RemoteMaxPacket : 32768, MaxPacket});
        TSshWriter w;
        w.Data().reserve(n + 9);
        w.Byte(MsgData).Uint32(c->RemoteChannel).String(c->FQueue.data() + c->FQueueHead, n);
        c->FQueueHead += n;
        c->RemoteWindow -= uint32_t(n);
        Send(w.Data());
    }
    if (c->Queued() > 0) return;
    c->FQueue.clear();
    c->FQueueHead = 0;
    if (c->FEofWanted && !c->FEofSent) {
        c->FEofSent = true;
        TSshWriter w;
        w.Byte(MsgEof).Uint32(c->RemoteChannel);
        Send(w.Take());
    }
    if (c->FCloseWanted && !c->CloseSent) {
        c->CloseSent = true;
        TSshWriter w;
        w.Byte(MsgClose).Uint32(c->RemoteChannel);
        Send(w.Take());
    }
}

void TSshConnectionLayer::ChannelOpen(TSshReader& r) {
    const std::string type = r.String();
    const uint32_t sender = r.Uint32();
    const uint32_t window = r.Uint32();
    const uint32_t maxPacket = r.Uint32();
    TNvCustomSSHTunnel* accepting = nullptr;
    if (type == "forwarded-tcpip") {
        r.String();
        const uint32_t port = r.Uint32();
        r.String();
        for (int i = 0; TunnelList && i < TunnelList->Count(); ++i) {
            TNvCustomSSHTunnel* t = TunnelList->Tunnels(i);
            if (t->Kind() == TTunnelKind::tkRemotePortForward &&
                static_cast<TNvRemotePortForwardSSHTunnel*>(t)->Port == port) {
                accepting = t;
                break;
            }
        }
    } else if (type == "x11") {
        r.String();
        r.Uint32();
        for (int i = 0; TunnelList && i < TunnelList->Count(); ++i)
            if (TunnelList->Tunnels(i)->Kind() == TTunnelKind::tkX11) {
                accepting = TunnelList->Tunnels(i);
                break;
            }
        if (!accepting) throw ENvSSHError(200, MsgInternalError);
    }
    if (!accepting) {
        // Refused rather than left unanswered, so the server can free its side.
        TSshWriter w;
        w.Byte(MsgOpenFailure).Uint32(sender).Uint32(type == "forwarded-tcpip" ? 1 : 3).String("").String("");
        Send(w.Take());
        return;
    }
    TNvSSHTunnelConnection* c = Create(accepting);
    c->RemoteChannel = sender;
    c->RemoteWindow = window;
    c->RemoteMaxPacket = maxPacket;
    TSshWriter w;
    w.Byte(MsgOpenConfirmation)
        .Uint32(sender)
        .Uint32(c->LocalChannel)
        .Uint32(InitialWindow)
        .Uint32(MaxPacket);
    Send(w.Take());
    TunnelOpened(c);
}

void TSshConnectionLayer::ChannelRequest(TSshReader& r) {
    const uint32_t recipient = r.Uint32();
    const std::string type = r.String();
    const bool wantReply = r.Boolean();
    TNvSSHTunnelConnection* c = Find(recipient);
    bool handled = false;
    if (c && type == "exit-status") {
        c->ExitStatus = int(r.Uint32());
        c->CloseType = 0;
        handled = true;
    } else if (c && type == "exit-signal") {
        c->ExitSignal = r.String();
        r.Boolean();
        c->ExitMessage = r.AtEnd() ? std::string() : r.String();
        c->ExitStatus = 0;
        c->CloseType = 1;
        handled = true;
    }
    // Requests we do not serve (keepalive@openssh.com among them) are refused, not fatal.
    if (wantReply && c) {
        TSshWriter w;
        w.Byte(handled ? MsgSuccess : MsgFailure).Uint32(c->RemoteChannel);
        Send(w.Take());
    }
}

void TSshConnectionLayer::Handle(const TBytes& payload) {
    if (payload.empty()) return;
    try {
        TSshReader r(payload);
        const uint8_t msg = r.Byte();
        switch (msg) {
        case MsgGlobalRequest: {
            r.String();
            if (r.Boolean()) Send(TBytes{MsgRequestFailure});
            return;
        }
        case MsgRequestSuccess:
        case MsgRequestFailure:
            return;
        case MsgChannelOpen:
            ChannelOpen(r);
            return;
        case MsgOpenConfirmation: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            c->RemoteChannel = r.Uint32();
            c->RemoteWindow = r.Uint32();
            c->RemoteMaxPacket = r.Uint32();
            switch (c->Tunnel->Kind()) {
            case TTunnelKind::tkShell:
            case TTunnelKind::tkCommand:
            case TTunnelKind::tkX11:
                if (static_cast<TNvSessionSSHTunnel*>(c->Tunnel)->UseTerminal)
                    SendPty(c);
                else
                    AfterTerminal(c);
                break;
            case TTunnelKind::tkSubsystem: {
                c->ChannelPhase = TChannelPhase::cpSubsystem;
                TSshWriter d;
                d.String(static_cast<TNvSubsystemSSHTunnel*>(c->Tunnel)->Subsystem);
                SendRequest(c, "subsystem", true, d.Data());
                break;
            }
            case TTunnelKind::tkLocalPortForward:
                TunnelOpened(c);
                break;
            default:
                break;
            }
            return;
        }
        case MsgOpenFailure:
            return;
        case MsgWindowAdjust: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            const uint32_t add = r.Uint32();
            if (!c) return;
            // RFC 4254 section 5.2: the window may not grow beyond 2^32 - 1.
            c->RemoteWindow = add > 0xFFFFFFFFu - c->RemoteWindow ? 0xFFFFFFFFu : c->RemoteWindow + add;
            Flush(c);
            return;
        }
        case MsgData: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            std::string_view data = r.StringView();
            if (!c) return;
            TSshWriter w;
            w.Byte(MsgWindowAdjust).Uint32(c->RemoteChannel).Uint32(uint32_t(payload.size() + 256));
            Send(w.Take());
            if (c->OnData) c->OnData(c, reinterpret_cast<const uint8_t*>(data.data()), int(data.size()));
            return;
        }
        case MsgExtendedData: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            r.Uint32();
            std::string_view data = r.StringView();
            if (!c) return;
            // Extended data counts against the window as well (RFC 4254 section 5.2).
            TSshWriter w;
            w.Byte(MsgWindowAdjust).Uint32(c->RemoteChannel).Uint32(uint32_t(data.size()));
            Send(w.Take());
            if (c->OnExtendedData)
                c->OnExtendedData(c, reinterpret_cast<const uint8_t*>(data.data()), int(data.size()));
            return;
        }
        case MsgEof: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            // The channel stays open until the server closes it, so its exit status still arrives.
            c->EofReceived = true;
            return;
        }
        case MsgClose: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            c->CloseReceived = true;
            if (!c->CloseSent) {
                c->CloseSent = true;
                TSshWriter w;
                w.Byte(MsgClose).Uint32(c->RemoteChannel);
                Send(w.Take());
            }
            Discard(c);
            return;
        }
        case MsgRequest:
            ChannelRequest(r);
            return;
        case MsgSuccess: {
            TNvSSHTunnelConnection* c = Find(r.Uint32());
            if (!c) Invalid();
            Success(c);
            return;
        }
        case MsgFailure:
            return;
        default:
            return;
        }
    } catch (const ENvSSHException&) {
        Invalid();
    }
}

} // namespace Varnello::Ssh
