// TNvSftpTransfer: one file's data moved through TNvSftpClient with several requests in flight.
//
// The owner opens the handle, routes every DATA and STATUS answer to HandleData / HandleStatus
// (each says whether the request id belonged to this transfer) and closes the handle when Done().
// Every answer is matched to the request that caused it by id, so answers may come in any order;
// a short read has the rest of its range asked for again, and a download ends only when the
// server reports end of file, whatever size a listing gave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Varnello::Sftp {

class TNvSftpClient;

class TNvSftpTransfer {
public:
    enum class TDirection { Download, Upload };

    // Download: Write stores bytes at an offset (false: a local error that stops the transfer).
    // Upload: Read fills up to max bytes from an offset and returns how many (0 at the end;
    // a negative value is a local error). UploadSize is the number of bytes to send.
    TNvSftpTransfer(TNvSftpClient& client, std::string handle, TDirection direction,
                    uint32_t blockSize = 32768, int inFlight = 64);

    std::function<bool(uint64_t offset, const uint8_t* data, size_t size)> Write;
    std::function<long long(uint64_t offset, uint8_t* buffer, size_t max)> Read;

    // Issues the first requests; false when nothing could be sent.
    bool Start();
    bool HandleData(uint32_t id, const uint8_t* data, int size);
    bool HandleStatus(uint32_t id, int code, const std::string& message);
    // Stops issuing requests; answers still outstanding are taken and dropped.
    void Cancel();

    // No request is outstanding and either the whole file has moved or the transfer failed.
    bool Done() const { return FRequests.empty() && (FFailed || FCancelled || FFinished); }
    bool Failed() const { return FFailed; }
    bool Cancelled() const { return FCancelled; }
    bool Succeeded() const { return Done() && !FFailed && !FCancelled; }
    // Why it failed: the server's message, or the local reason.
    const std::string& FailureText() const { return FFailureText; }
    int FailureCode() const { return FFailureCode; }
    // Bytes moved so far (for a download, bytes written locally, gaps not counted).
    uint64_t Transferred() const { return FTransferred; }
    // Download: where the server reported end of file (the file's length).
    uint64_t EndOfFile() const { return FEndOfFile; }
    const std::string& Handle() const { return FHandle; }

private:
    struct TRange {
        uint64_t Offset;
        uint32_t Length;
    };
    void Fill();
    void Issue(uint64_t offset, uint32_t length);
    void Fail(int code, const std::string& text);
    bool Take(uint32_t id, TRange& range);

    TNvSftpClient& FClient;
    std::string FHandle;
    TDirection FDirection;
    uint32_t FBlockSize;
    int FInFlight;
    std::map<uint32_t, TRange> FRequests;
    std::vector<TRange> FRetry;
    std::vector<uint8_t> FBlock;
    uint64_t FNext = 0;
    uint64_t FEndOfFile = UINT64_MAX;
    uint64_t FTransferred = 0;
    uint64_t FWrittenEnd = 0; // end of the furthest range stored locally
    bool FSourceEnded = false;
    bool FFailed = false;
    bool FCancelled = false;
    bool FFinished = false;
    int FFailureCode = 0;
    std::string FFailureText;
};

} // namespace Varnello::Sftp
