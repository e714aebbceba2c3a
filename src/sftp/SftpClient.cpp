#include "sftp/SftpClient.h"

#include "ssh/SshConnection.h"
#include "ssh/SshTunnels.h"
#include "ssh/SshWire.h"

#include <algorithm>
#include <cstring>

namespace Varnello::Sftp {

using Ssh::ENvSSHException;
using Ssh::TSshReader;
using Ssh::TSshWriter;

namespace {
constexpr uint32_t ProtocolVersion = 3;
// Room for one maximal packet with its length field, plus as much again for the data that can
// arrive while it is incomplete; ChannelData takes input in pieces that fit.
constexpr size_t ReceiveCapacity = 2 * (TNvSftpClient::BufferSize + 4);
// Header of a WRITE packet: length, type, id, handle count, offset, data count.
constexpr size_t WriteOverhead = 4 + 1 + 4 + 4 + 8 + 4;
} // namespace

TNvSftpClient::TNvSftpClient() : FReceiveBuffer(ReceiveCapacity) {}

TNvSftpClient::~TNvSftpClient() {
    DetachConnection();
    if (FTunnel) {
        FTunnel->OnOpen = nullptr;
        FTunnel->OnClose = nullptr;
        FTunnel->OnError = nullptr;
    }
}

void TNvSftpClient::SetTunnel(Ssh::TNvSubsystemSSHTunnel* tunnel) {
    FTunnel = tunnel;
    if (!tunnel) return;
    tunnel->Subsystem = "sftp";
    tunnel->OnOpen = [this](Ssh::TNvCustomSSHTunnel*, Ssh::TNvSSHTunnelConnection* c) { ChannelOpened(c); };
    tunnel->OnClose = [this](Ssh::TNvCustomSSHTunnel*, Ssh::TNvSSHTunnelConnection*) { TunnelClosed(); };
    tunnel->OnError = [this](Ssh::TNvCustomSSHTunnel*, int) { TunnelError(); };
}

void TNvSftpClient::ChannelOpened(Ssh::TNvSSHTunnelConnection* connection) {
    FConnection = connection;
    FAttached = true;
    FFailed = false;
    FReceived = 0;
    if (connection) {
        connection->OnData = [this](Ssh::TNvSSHTunnelConnection*, const uint8_t* b, int n) {
            ChannelData(b, n > 0 ? size_t(n) : 0);
        };
        connection->OnExtendedData = [this](Ssh::TNvSSHTunnelConnection*, const uint8_t*, int) {
            ChannelExtendedData();
        };
        connection->OnError = [this](Ssh::TNvSSHTunnelConnection*, int) { ChannelError(); };
        connection->OnClose = [this](Ssh::TNvSSHTunnelConnection*, int) { ChannelClosed(); };
    }
    SendInit();
}

void TNvSftpClient::DetachConnection() {
    if (FConnection) {
        FConnection->OnData = nullptr;
        FConnection->OnExtendedData = nullptr;
        FConnection->OnError = nullptr;
        FConnection->OnClose = nullptr;
    }
    FConnection = nullptr;
    FAttached = false;
}

void TNvSftpClient::SendInit() {
    Send(SSH_FXP_INIT, [](TSshWriter& w) { w.Uint32(ProtocolVersion); });
}

std::optional<uint32_t> TNvSftpClient::Send(uint8_t type, const std::function<void(TSshWriter&)>& body) {
    if (!FAttached || FFailed) return std::nullopt;
    TSshWriter w(BufferSize);
    const uint32_t id = FRequestCounter;
    try {
        size_t mark = w.BeginLength();
        w.Byte(type);
        if (type != SSH_FXP_INIT) w.Uint32(id);
        body(w);
        w.PatchLength(mark);
    } catch (const ENvSSHException&) {
        return std::nullopt; // larger than the send buffer: refused, nothing sent
    }
    FPending.push_back({id, type});
    ++FRequestCounter;
    if (SendHook)
        SendHook(w.Data().data(), w.Size());
    else if (FConnection)
        FConnection->SendData(w.Data().data(), int(w.Size()));
    return id;
}

uint32_t TNvSftpClient::MaxWriteLength(size_t handleLength) {
    if (handleLength >= BufferSize - WriteOverhead) return 0;
    return uint32_t(BufferSize - WriteOverhead - handleLength);
}

std::optional<uint32_t> TNvSftpClient::OpenDirectory(const std::string& path) {
    return Send(SSH_FXP_OPENDIR, [&](TSshWriter& w) { w.String(path); });
}

std::optional<uint32_t> TNvSftpClient::ReadDirectory(const std::string& handle) {
    return Send(SSH_FXP_READDIR, [&](TSshWriter& w) { w.String(handle); });
}

std::optional<uint32_t> TNvSftpClient::CloseHandle(const std::string& handle) {
    return Send(SSH_FXP_CLOSE, [&](TSshWriter& w) { w.String(handle); });
}

std::optional<uint32_t> TNvSftpClient::OpenFile(const std::string& fileName, uint32_t modes,
                                                const TNvSftpFileAttributes* attributes) {
    uint32_t flags = modes & (ModeRead | ModeWrite | ModeAppend | ModeCreate);
    if (modes & ModeCreate) flags |= modes & (ModeTruncate | ModeExclusive);
    return Send(SSH_FXP_OPEN, [&](TSshWriter& w) {
        w.String(fileName).Uint32(flags);
        if (attributes)
            attributes->Encode(w);
        else
            w.Uint32(0);
    });
}

std::optional<uint32_t> TNvSftpClient::CreateFile(const std::string& fileName) {
    return Send(SSH_FXP_OPEN,
                [&](TSshWriter& w) { w.String(fileName).Uint32(ModeWrite | ModeCreate).Uint32(0); });
}

std::optional<uint32_t> TNvSftpClient::ReadBlock(const std::string& handle, uint64_t offset,
                                                 uint32_t length) {
    if (length > MaxReadLength) return std::nullopt;
    return Send(SSH_FXP_READ, [&](TSshWriter& w) { w.String(handle).Uint64(offset).Uint32(length); });
}

std::optional<uint32_t> TNvSftpClient::WriteBlock(const std::string& handle, uint64_t offset,
                                                  const uint8_t* buffer, uint32_t length) {
    if (length > 0 && !buffer) return std::nullopt;
    return Send(SSH_FXP_WRITE,
                [&](TSshWriter& w) { w.String(handle).Uint64(offset).String(buffer, length); });
}

std::optional<uint32_t> TNvSftpClient::RemoveFile(const std::string& fileName) {
    return Send(SSH_FXP_REMOVE, [&](TSshWriter& w) { w.String(fileName); });
}

std::optional<uint32_t> TNvSftpClient::RenameFile(const std::string& oldPath, const std::string& newPath) {
    return Send(SSH_FXP_RENAME, [&](TSshWriter& w) { w.String(oldPath).String(newPath); });
}

std::optional<uint32_t> TNvSftpClient::MakeDirectory(const std::string& path,
                                                     const TNvSftpFileAttributes* attributes) {
    return Send(SSH_FXP_MKDIR, [&](TSshWriter& w) {
        w.String(path);
        if (attributes)
            attributes->Encode(w);
        else
            w.Uint32(0);
    });
}

std::optional<uint32_t> TNvSftpClient::RemoveDirectory(const std::string& path) {
    return Send(SSH_FXP_RMDIR, [&](TSshWriter& w) { w.String(path); });
}

std::optional<uint32_t> TNvSftpClient::RequestAbsolutePath(const std::string& path) {
    return Send(SSH_FXP_REALPATH, [&](TSshWriter& w) { w.String(path); });
}

void TNvSftpClient::ChannelData(const uint8_t* data, size_t size) {
    // Taken in pieces that fit the buffer; each piece is followed by an extraction pass, which
    // leaves at most one incomplete packet behind.
    while (size > 0 && !FFailed) {
        size_t n = std::min(size, FReceiveBuffer.size() - FReceived);
        if (n == 0) { // cannot happen while Extract keeps its promise; never spin
            InvalidPacket();
            return;
        }
        std::memcpy(FReceiveBuffer.data() + FReceived, data, n);
        FReceived += n;
        data += n;
        size -= n;
        Extract();
    }
}

void TNvSftpClient::ChannelExtendedData() {
    // The server's error stream carries no SFTP packets.
    Extract();
}

void TNvSftpClient::Extract() {
    size_t pos = 0;
    // Removes what was dispatched even when a handler throws, so no packet is seen twice.
    struct TCompact {
        TNvSftpClient* Self;
        size_t& Pos;
        ~TCompact() {
            if (Self->FFailed) {
                Self->FReceived = 0;
                return;
            }
            if (Pos == 0) return;
            size_t rest = Self->FReceived - Pos;
            std::memmove(Self->FReceiveBuffer.data(), Self->FReceiveBuffer.data() + Pos, rest);
            Self->FReceived = rest;
        }
    } compact{this, pos};
    while (!FFailed && FReceived - pos >= 4) {
        const uint8_t* p = FReceiveBuffer.data() + pos;
        uint32_t length = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        if (length > BufferSize || length == 0) {
            // Nothing of the rest can be framed any more.
            pos = FReceived;
            InvalidPacket();
            return;
        }
        if (FReceived - pos - 4 < length) return;
        size_t start = pos;
        pos += 4 + size_t(length); // consumed before its events run
        Dispatch(FReceiveBuffer.data() + start + 4, length);
    }
}

uint8_t TNvSftpClient::TakePending(uint32_t id) {
    auto it =
        std::find_if(FPending.begin(), FPending.end(), [id](const TPendingRequest& r) { return r.Id == id; });
    if (it == FPending.end()) return 0;
    uint8_t type = uint8_t(it->Type);
    FPending.erase(it);
    return type;
}

void TNvSftpClient::Dispatch(const uint8_t* packet, size_t length) {
    TSshReader r(packet, length, 32768);
    FReplyId = 0;
    FReplyRequestType = 0;
    try {
        uint8_t type = r.Byte();
        switch (type) {
        case SSH_FXP_VERSION: {
            uint32_t version = r.Uint32();
            if (version == ProtocolVersion) {
                if (OnOpenConnection) OnOpenConnection(this);
            } else {
                if (OnError) OnError(this, SftpErrUnsupportedVersion, "Unsupported Protocol Version");
                if (OnCloseConnection) OnCloseConnection(this);
            }
            return;
        }
        case SSH_FXP_STATUS: {
            uint32_t id = r.Uint32();
            uint32_t code = r.Uint32();
            std::string message = r.String();
            r.StringView(); // the language tag must be there
            FReplyId = id;
            FReplyRequestType = TakePending(id);
            if (code == 0) {
                if (OnSuccess) OnSuccess(this, message);
            } else if (OnError) {
                OnError(this, int(code), message);
            }
            return;
        }
        case SSH_FXP_HANDLE: {
            uint32_t id = r.Uint32();
            std::string handle = r.String();
            FReplyId = id;
            FReplyRequestType = TakePending(id);
            if (StrictReplyIds && FReplyRequestType == 0) throw ENvSSHException("Unknown request id");
            if (OnOpenFile) OnOpenFile(this, handle);
            return;
        }
        case SSH_FXP_DATA: {
            uint32_t id = r.Uint32();
            uint32_t n = r.Uint32();
            const uint8_t* data = r.Raw(n);
            FReplyId = id;
            FReplyRequestType = TakePending(id);
            if (StrictReplyIds && FReplyRequestType == 0) throw ENvSSHException("Unknown request id");
            if (OnData) OnData(this, data, int(n));
            return;
        }
        case SSH_FXP_NAME: {
            uint32_t id = r.Uint32();
            uint32_t count = r.Uint32();
            // An entry takes at least 12 bytes; a count beyond that is a lie, refused before
            // anything is allocated for it.
            if (count > r.Remaining() / 12) throw ENvSSHException("Invalid size");
            std::vector<TNvSftpFileInfo> entries(count);
            for (auto& e : entries) {
                e.Name = r.String();
                e.LongName = r.String();
                e.Attributes.Decode(r);
            }
            FReplyId = id;
            FReplyRequestType = TakePending(id);
            if (StrictReplyIds && FReplyRequestType == 0) throw ENvSSHException("Unknown request id");
            if (FReplyRequestType == SSH_FXP_READDIR || FReplyRequestType == SSH_FXP_READLINK) {
                if (OnDirectoryListing) OnDirectoryListing(this, entries);
            } else if (FReplyRequestType == SSH_FXP_REALPATH) {
                if (!entries.empty() && OnAbsolutePath) OnAbsolutePath(this, entries.front().Name);
            }
            return;
        }
        case SSH_FXP_ATTRS: {
            uint32_t id = r.Uint32();
            TNvSftpFileAttributes attributes;
            attributes.Decode(r);
            FReplyId = id;
            FReplyRequestType = TakePending(id);
            if (StrictReplyIds && FReplyRequestType == 0) throw ENvSSHException("Unknown request id");
            if (OnFileAttributes) OnFileAttributes(this, attributes);
            return;
        }
        default:
            return; // unknown replies are ignored
        }
    } catch (const ENvSSHException&) {
        // Only the decoding above throws this type; handlers run after their reply is decoded.
        InvalidPacket();
    }
}

void TNvSftpClient::InvalidPacket() {
    FFailed = true;
    FReceived = 0;
    Ssh::TNvSSHTunnelConnection* connection = FConnection;
    Fail(SftpErrInvalidPacket, "Invalid Packet");
    if (connection && connection == FConnection) connection->Close();
}

void TNvSftpClient::Fail(int code, const std::string& comment) {
    FReplyId = 0; // the client's own errors answer no request
    FReplyRequestType = 0;
    if (OnError) OnError(this, code, comment);
    if (OnCloseConnection) OnCloseConnection(this);
}

void TNvSftpClient::ChannelError() {
    Fail(SftpErrTunnel, "Tunnel Error");
}

void TNvSftpClient::TunnelError() {
    Fail(SftpErrTunnel, "Tunnel Error");
}

void TNvSftpClient::ChannelClosed() {
    // The channel layer frees the connection right after this event.
    DetachConnection();
    Fail(SftpErrClosedByLowerLevel, "Connection closed by lower level protocol");
}

void TNvSftpClient::TunnelClosed() {
    if (OnCloseConnection) OnCloseConnection(this);
}

} // namespace Varnello::Sftp
