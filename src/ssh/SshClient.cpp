// The client component: identification, dispatch by message number, abort and disconnect.
#include "ssh/SshClient.h"

#include "ssh/Ssh1.h"
#include "ssh/SshError.h"

namespace Varnello::Ssh {

namespace {
constexpr uint8_t MsgDisconnect = 1;
constexpr uint8_t MsgIgnore = 2;
constexpr uint8_t MsgUnimplemented = 3;
constexpr uint8_t MsgDebug = 4;
constexpr uint8_t MsgExtInfo = 7;

bool IsKexMessage(uint8_t m) {
    return m == 20 || m == 21 || (m >= 30 && m <= 49);
}
} // namespace

TNvSSHClient::TNvSSHClient() {
    FKex.OnSendPayload = [this](const TBytes& p) { SendPayload(p); };
    FKex.OnHostKey = [this](const TNvSSHKey& key) {
        bool validate = true;
        if (OnKeyValidate) OnKeyValidate(this, key, validate);
        return validate;
    };
    FKex.OnOutboundKeys = [this](const TDirectionKeys& keys) {
        FPacket.SetOutbound(keys);
        if (FKex.Strict()) FPacket.ResetOutboundSequence();
        // Messages held back during the exchange go out under the new keys, in order.
        FHoldOutput = false;
        while (!FHeld.empty() && !FClosed) {
            TBytes p = std::move(FHeld.front());
            FHeld.pop_front();
            Transmit(p);
        }
    };
    FKex.OnInboundKeys = [this](const TDirectionKeys& keys, bool first) {
        FPacket.SetInbound(keys);
        if (FKex.Strict()) FPacket.ResetInboundSequence();
        ++FExchanges;
        FKeysSince = std::chrono::steady_clock::now();
        if (first) FAuth.Start();
    };
    FAuth.OnSendPayload = [this](const TBytes& p) { SendPayload(p); };
    FAuth.OnFailed = [this](int method) {
        if (OnAuthenticationFailed) OnAuthenticationFailed(this, method);
    };
    FAuth.OnKeyboard = [this](const std::vector<std::string>& prompts, const std::vector<bool>& echo,
                              std::vector<std::string>& responses) {
        if (OnAuthenticationKeyboard) OnAuthenticationKeyboard(this, prompts, echo, responses);
    };
    FAuth.OnSuccess = [this]() {
        if (OnAuthenticationSuccess) OnAuthenticationSuccess(this);
        FPacket.StartDelayedCompression();
        FChannels.TunnelList = FTunnelList;
        FChannels.OpenNextTunnel(0);
    };
    FChannels.Client = this;
    FChannels.Random = &FKex.Random();
    FChannels.OnSendPayload = [this](const TBytes& p) { SendPayload(p); };
    FChannels.SessionActive = [this]() { return FSessionActive; };
    FChannels.OnChannelError = [this](int code) { Error(code); };
    FChannels.OnOpenConnection = [this]() {
        FSessionActive = true;
        if (OnOpenConnection) OnOpenConnection(this);
    };
    FChannels.OnCloseConnection = [this]() {
        FSessionActive = false;
        if (OnCloseConnection) OnCloseConnection(this);
    };
}

TNvSSHClient::~TNvSSHClient() {
    if (FTunnelList) FTunnelList->SSHClient = nullptr;
    FChannels.Reset();
    WipeString(Password);
}

void TNvSSHClient::SetTunnelList(TNvSSHTunnelList* list) {
    if (FTunnelList && FTunnelList != list) FTunnelList->SSHClient = nullptr;
    FTunnelList = list;
    FChannels.TunnelList = list;
    if (list) list->SSHClient = this;
}

void TNvSSHClient::SeedRandom(const uint8_t* key, size_t len) {
    FKex.Random().SeedWith(key, len);
    FPacket.SetRandom(&FKex.Random());
}

void TNvSSHClient::Open() {
    FPacket.Reset();
    FPacket.SetCompressionLevel(CompressionLevel);
    FChannels.Reset();
    FChannels.TunnelList = FTunnelList;
    FAuth.Reset();
    FSessionActive = false;
    FStalled = false;
    FClosed = false;
    FHoldOutput = false;
    FHeld.clear();
    FLastError = 0;
    FLastSent = 0;
    FPacketsIn = 0;
    FExchanges = 0;
    FServerVersion.clear();
    FDisconnectMessage.clear();
    FClientLine.clear();
    FProtocol = 0;
    FSsh1.reset();
}

void TNvSSHClient::ReceiveData() {
    if (FStalled || FClosed) return;
    if (FSsh1) {
        try {
            FSsh1->ReceiveData();
        } catch (const ENvSSHError& e) {
            Abort(e.Code, e.what());
        } catch (const std::exception&) {
            Abort(6, MsgInvalidPacket);
        }
        return;
    }
    const size_t want = FPacket.Wanted();
    int written = 0;
    if (want > 0 && OnReceive) {
        OnReceive(this, FPacket.InputSpace(), int(want), written);
        if (written < 0) written = 0;
        if (size_t(written) > want) written = int(want);
        FPacket.Append(size_t(written));
    }
    // Bounded: each turn completes a unit from the bytes held, which only shrink.
    while (!FStalled && !FClosed) {
        try {
            const TSshPacketLayer::TUnit unit = FPacket.Poll();
            if (unit == TSshPacketLayer::TUnit::uNone) break;
            if (unit == TSshPacketLayer::TUnit::uLine) {
                HandleLine(FPacket.Line());
                continue;
            }
            ++FPacketsIn;
            Dispatch(FPacket.Payload());
            MaybeRekey();
        } catch (const ENvSSHError& e) {
            if (e.Code == 1) {
                FStalled = true;
                Error(1);
            } else {
                Abort(e.Code, e.what());
            }
        } catch (const ENvSSHException&) {
            Abort(6, MsgInvalidPacket);
        } catch (const std::exception&) {
            // A library refusal (a cipher length, an arithmetic bound) on peer data: a bad packet.
            Abort(6, MsgInvalidPacket);
        }
    }
}

void TNvSSHClient::Error(int code) {
    FLastError = code;
    if (OnError) OnError(this, code);
}

void TNvSSHClient::HandleLine(const std::string& withTerminator) {
    const bool crlf = withTerminator.size() >= 2 && withTerminator[withTerminator.size() - 2] == '\r';
    const std::string terminator = crlf ? "\r\n" : "\n";
    const std::string line = withTerminator.substr(0, withTerminator.size() - terminator.size());
    if (line.size() <= 7) {
        FStalled = true;
        Error(1);
        return;
    }
    const size_t dash = line.find('-', 4);
    const std::string version = line.substr(4, dash == std::string::npos ? std::string::npos : dash - 4);
    FServerVersion = dash == std::string::npos ? std::string() : line.substr(dash + 1);
    int protocol = 0;
    if (version == "1.99" || version == "2.0") {
        if (Versions & qxSSH2) protocol = 2;
    }
    if (protocol == 0 && (Versions & qxSSH1) && (version == "1.5" || version == "1.99")) protocol = 1;
    if (protocol == 0) {
        FStalled = true;
        Error(2);
        return;
    }
    std::string name = SoftwareName.substr(0, SoftwareName.find(' '));
    name = name.substr(0, name.find('-'));
    FProtocol = protocol;
    if (protocol == 1) {
        FClientLine = ("SSH-1.5-" + name).substr(0, 253);
        const std::string out = FClientLine + "\n";
        if (OnSend) OnSend(this, reinterpret_cast<const uint8_t*>(out.data()), int(out.size()));
        FSsh1 = std::make_unique<TSsh1Engine>(*this);
        // Bytes read together with the line belong to the first protocol 1 packet.
        const TBytes rest = FPacket.TakeHeld();
        FSsh1->Feed(rest.data(), rest.size());
        return;
    }
    std::string own = ("SSH-2.0-" + name).substr(0, 253);
    FClientLine = own;
    const std::string out = own + terminator;
    if (OnSend) OnSend(this, reinterpret_cast<const uint8_t*>(out.data()), int(out.size()));
    FPacket.StartPackets();
    FKex.AlgorithmSet = AlgorithmSet;
    FKex.ForceCompression = ForceCompression;
    FKex.Reset(own, line);
    FAuth.UseSha2Signatures = AlgorithmSet == TAlgorithmSet::asModern;
}

void TNvSSHClient::Dispatch(const TBytes& payload) {
    if (payload.empty()) throw ENvSSHError(6, MsgInvalidPacket);
    const uint8_t msg = payload[0];
    // Strict key exchange: the first exchange admits nothing but its own messages, and the
    // server's KEXINIT must be the very first packet.
    if (msg == TSshKex::MsgKexInit && !FKex.FirstDone()) {
        FKex.Handle(payload);
        if (FKex.Strict() && FPacketsIn != 1) throw ENvSSHError(6, MsgInvalidPacket);
        return;
    }
    if (FKex.Strict() && !FKex.FirstDone() && !IsKexMessage(msg)) throw ENvSSHError(6, MsgInvalidPacket);

    if (IsKexMessage(msg)) {
        FKex.Handle(payload);
        return;
    }
    switch (msg) {
    case MsgDisconnect:
        Disconnected(payload);
        return;
    case MsgIgnore:
    case MsgUnimplemented:
        return;
    case MsgDebug: {
        try {
            TSshReader r(payload);
            r.Byte();
            r.Boolean();
            std::string_view text = r.StringView();
            if (OnDebugData)
                OnDebugData(this, reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
        } catch (const ENvSSHException&) {
            throw ENvSSHError(6, MsgInvalidPacket);
        }
        return;
    }
    case MsgExtInfo:
        if (AlgorithmSet == TAlgorithmSet::asModern) {
            ExtInfo(payload);
            return;
        }
        break;
    default:
        if (msg == TSshAuth::MsgServiceAccept || (msg >= 50 && msg <= 79)) {
            FAuth.UserName = UserName;
            FAuth.Password = Password;
            FAuth.ClientUserName = ClientUserName;
            FAuth.ClientHostName = ClientHostName;
            FAuth.AuthenticationTypes = AuthenticationTypes;
            FAuth.KeyStorage = FKeyStorage;
            FAuth.Handle(payload, FLastSent, FKex.SessionId(), FKex.Random());
            WipeString(FAuth.Password);
            return;
        }
        if (msg >= 80 && msg <= 127) {
            FChannels.Handle(payload);
            return;
        }
        break;
    }
    // RFC 4253 section 11.4: once keys are in place an unknown message is answered, not fatal.
    if (FKex.FirstDone()) {
        TSshWriter w;
        w.Byte(MsgUnimplemented).Uint32(FPacket.InboundSequence() - 1);
        SendPayload(w.Take());
        return;
    }
    throw ENvSSHError(3, MsgInvalidPacket);
}

void TNvSSHClient::ExtInfo(const TBytes& payload) {
    try {
        TSshReader r(payload);
        r.Byte();
        const uint32_t count = r.Uint32();
        if (count > r.Remaining() / 8) throw ENvSSHException("Invalid size");
        for (uint32_t i = 0; i < count; ++i) {
            const std::string name = r.String();
            if (name == "server-sig-algs")
                FAuth.SetServerSigAlgs(r.NameList());
            else
                r.StringView();
        }
    } catch (const ENvSSHException&) {
        throw ENvSSHError(6, MsgInvalidPacket);
    }
}

void TNvSSHClient::Disconnected(const TBytes& payload) {
    uint32_t reason = 0;
    try {
        TSshReader r(payload);
        r.Byte();
        reason = r.Uint32();
        FDisconnectMessage = r.String();
        r.String();
    } catch (const ENvSSHException&) {
        throw ENvSSHError(6, MsgInvalidPacket);
    }
    FClosed = true;
    FChannels.FailAll();
    Error(int(reason));
    FSessionActive = false;
    if (OnCloseConnection) OnCloseConnection(this);
}

void TNvSSHClient::Abort(int code, const std::string& message) {
    if (FClosed) return;
    FClosed = true;
    Error(code);
    if (FSsh1) {
        FSsh1->SendDisconnect(message);
        FSessionActive = false;
        if (OnCloseConnection) OnCloseConnection(this);
        return;
    }
    try {
        TSshWriter w;
        w.Byte(MsgDisconnect).Uint32(2).String(message).String("");
        if (FPacket.InPacketPhase()) Transmit(w.Take());
    } catch (const ENvSSHError&) {
        // The DISCONNECT itself could not be built; the session ends all the same.
    }
    FChannels.FailAll();
    FSessionActive = false;
    if (OnCloseConnection) OnCloseConnection(this);
}

void TNvSSHClient::SendPayload(const TBytes& payload) {
    if (FClosed || payload.empty()) return;
    const uint8_t msg = payload[0];
    if (msg == TSshKex::MsgKexInit) FHoldOutput = true;
    // Between our KEXINIT and our NEWKEYS only transport and key-exchange messages may go out
    // (RFC 4253 section 7.1); the rest waits, in order, for the new keys.
    if (FHoldOutput && !IsKexMessage(msg) && msg > MsgDebug) {
        FHeld.push_back(payload);
        return;
    }
    Transmit(payload);
}

void TNvSSHClient::Transmit(const TBytes& payload) {
    FLastSent = payload[0];
    const TBytes packet = FPacket.Seal(payload);
    if (OnSend) OnSend(this, packet.data(), int(packet.size()));
}

void TNvSSHClient::MaybeRekey() {
    if (FClosed || !FKex.FirstDone() || FKex.InProgress() || FHoldOutput) return;
    if (FPacket.BytesSinceKeys() >= RekeyBytes || std::chrono::steady_clock::now() - FKeysSince >= RekeyTime)
        FKex.Start();
}

} // namespace Varnello::Ssh
