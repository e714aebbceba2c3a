// TNvSftpClient: SFTP protocol version 3 (draft-ietf-secsh-filexfer-02) over one channel of a
// subsystem tunnel.
//
// Nothing here blocks: a request method builds one packet in the send buffer, hands it to the
// channel and returns; the reply arrives later as an event raised from inside the channel's data
// delivery. Replies are reassembled in a fixed receive buffer and decoded strictly through the
// one SSH wire reader; a reply that lies about its fields ends the connection with error 101.
// The client keeps no notion of a current operation: each request method returns the id it
// used, and ReplyId() names the request an event answers, so a caller with several requests in
// flight can match every answer to its request.
#pragma once

#include "sftp/SftpFileInfo.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Varnello::Ssh {
class TNvSubsystemSSHTunnel;
class TNvSSHTunnelConnection;
class TSshWriter;
} // namespace Varnello::Ssh

namespace Varnello::Sftp {

enum TNvSftpPacketType : uint8_t {
    SSH_FXP_INIT = 1,
    SSH_FXP_VERSION = 2,
    SSH_FXP_OPEN = 3,
    SSH_FXP_CLOSE = 4,
    SSH_FXP_READ = 5,
    SSH_FXP_WRITE = 6,
    SSH_FXP_OPENDIR = 11,
    SSH_FXP_READDIR = 12,
    SSH_FXP_REMOVE = 13,
    SSH_FXP_MKDIR = 14,
    SSH_FXP_RMDIR = 15,
    SSH_FXP_REALPATH = 16,
    SSH_FXP_RENAME = 18,
    SSH_FXP_READLINK = 19,
    SSH_FXP_STATUS = 101,
    SSH_FXP_HANDLE = 102,
    SSH_FXP_DATA = 103,
    SSH_FXP_NAME = 104,
    SSH_FXP_ATTRS = 105,
};

// Open modes; each maps to the protocol's open flag of the same bit.
enum TNvSftpOpenMode : uint32_t {
    ModeRead = 0x01,
    ModeWrite = 0x02,
    ModeAppend = 0x04,
    ModeCreate = 0x08,
    ModeTruncate = 0x10,  // sent only together with ModeCreate
    ModeExclusive = 0x20, // sent only together with ModeCreate
};

// The client's own error codes, raised through OnError.
enum : int {
    SftpErrUnsupportedVersion = 100,
    SftpErrInvalidPacket = 101,
    SftpErrTunnel = 102,
    SftpErrClosedByLowerLevel = 103,
};

class TNvSftpClient {
public:
    static constexpr size_t BufferSize = 81920;

    TNvSftpClient();
    // REQUIRES: the channel, if still attached, has not been freed yet (destroy the client before
    // the SSH client that carries it); the handlers installed on it are removed here.
    ~TNvSftpClient();
    TNvSftpClient(const TNvSftpClient&) = delete;
    TNvSftpClient& operator=(const TNvSftpClient&) = delete;

    // Takes the tunnel over: installs its OnOpen, OnClose and OnError handlers and sets its
    // subsystem to "sftp". The tunnel must already be in the SSH client's tunnel list.
    void SetTunnel(Ssh::TNvSubsystemSSHTunnel* tunnel);
    Ssh::TNvSubsystemSSHTunnel* Tunnel() const { return FTunnel; }
    Ssh::TNvSSHTunnelConnection* TunnelConnection() const { return FConnection; }

    std::function<void(TNvSftpClient* sender)> OnOpenConnection;
    std::function<void(TNvSftpClient* sender)> OnCloseConnection;
    std::function<void(TNvSftpClient* sender, const std::string& handle)> OnOpenFile;
    std::function<void(TNvSftpClient* sender, int errorCode, const std::string& comment)> OnError;
    std::function<void(TNvSftpClient* sender, const std::string& comment)> OnSuccess;
    std::function<void(TNvSftpClient* sender, const std::vector<TNvSftpFileInfo>& listing)>
        OnDirectoryListing;
    std::function<void(TNvSftpClient* sender, const TNvSftpFileAttributes& attributes)> OnFileAttributes;
    std::function<void(TNvSftpClient* sender, const uint8_t* buffer, int size)> OnData;
    std::function<void(TNvSftpClient* sender, const std::string& path)> OnAbsolutePath;

    // Requests. Each returns the request id it used, or nothing when it was not sent: no channel
    // attached, the connection has failed, or the packet would not fit the send buffer.
    std::optional<uint32_t> OpenDirectory(const std::string& path);
    std::optional<uint32_t> ReadDirectory(const std::string& handle);
    std::optional<uint32_t> CloseHandle(const std::string& handle);
    std::optional<uint32_t> OpenFile(const std::string& fileName, uint32_t modes,
                                     const TNvSftpFileAttributes* attributes = nullptr);
    std::optional<uint32_t> CreateFile(const std::string& fileName);
    std::optional<uint32_t> ReadBlock(const std::string& handle, uint64_t offset, uint32_t length);
    std::optional<uint32_t> WriteBlock(const std::string& handle, uint64_t offset, const uint8_t* buffer,
                                       uint32_t length);
    std::optional<uint32_t> RemoveFile(const std::string& fileName);
    std::optional<uint32_t> RenameFile(const std::string& oldPath, const std::string& newPath);
    std::optional<uint32_t> MakeDirectory(const std::string& path,
                                          const TNvSftpFileAttributes* attributes = nullptr);
    std::optional<uint32_t> RemoveDirectory(const std::string& path);
    std::optional<uint32_t> RequestAbsolutePath(const std::string& path);

    // The most a WriteBlock can carry for a handle of this length.
    static uint32_t MaxWriteLength(size_t handleLength);
    // The most a ReadBlock may ask for: a longer answer would not fit the receive limit and would
    // end the connection as an invalid packet.
    static constexpr uint32_t MaxReadLength = BufferSize - 9;

    // During an event raised for a reply: the reply's request id (0 for VERSION) and the packet
    // type of the request it matched (0 when no pending request had that id).
    uint32_t ReplyId() const { return FReplyId; }
    uint8_t ReplyRequestType() const { return FReplyRequestType; }
    size_t PendingCount() const { return FPending.size(); }
    uint32_t RequestCounter() const { return FRequestCounter; }

    // Channel handlers; public so that a transcript test can feed the client exact bytes without
    // an SSH connection. Production code reaches them only through the tunnel.
    void ChannelOpened(Ssh::TNvSSHTunnelConnection* connection);
    void ChannelData(const uint8_t* data, size_t size);
    void ChannelExtendedData();
    void ChannelError();
    void ChannelClosed();
    void TunnelError();
    void TunnelClosed();

    // A HANDLE, DATA, NAME or ATTRS reply whose id answers no outstanding request ends the
    // connection as an invalid packet (error 101) instead of raising its event with
    // ReplyRequestType() 0: the server has lost track of the conversation (or opened something
    // nobody asked for). A stray STATUS changes nothing and is still raised as before.
    bool StrictReplyIds = false;

    // Instead of a channel: every packet goes here (for transcripts). Set before ChannelOpened.
    std::function<void(const uint8_t* data, size_t size)> SendHook;

private:
    struct TPendingRequest {
        uint32_t Id;
        uint32_t Type;
    };

    void SendInit();
    std::optional<uint32_t> Send(uint8_t type, const std::function<void(Ssh::TSshWriter&)>& body);
    void Extract();
    void Dispatch(const uint8_t* packet, size_t length);
    uint8_t TakePending(uint32_t id);
    void Fail(int code, const std::string& comment);
    void InvalidPacket();
    void DetachConnection();

    Ssh::TNvSubsystemSSHTunnel* FTunnel = nullptr;
    Ssh::TNvSSHTunnelConnection* FConnection = nullptr;
    bool FAttached = false; // a channel (or the send hook) is there to send on
    bool FFailed = false;   // an invalid packet ended this connection; no more reading or sending
    std::vector<uint8_t> FReceiveBuffer;
    size_t FReceived = 0;
    std::deque<TPendingRequest> FPending;
    uint32_t FRequestCounter = 0;
    uint32_t FReplyId = 0;
    uint8_t FReplyRequestType = 0;
};

} // namespace Varnello::Sftp
