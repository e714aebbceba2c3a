#include "sftp/SftpTransfer.h"

#include "sftp/SftpClient.h"

#include <algorithm>

namespace Varnello::Sftp {

namespace {
constexpr int StatusEof = 1;
}

TNvSftpTransfer::TNvSftpTransfer(TNvSftpClient& client, std::string handle, TDirection direction,
                                 uint32_t blockSize, int inFlight)
    : FClient(client), FHandle(std::move(handle)), FDirection(direction), FInFlight(std::max(1, inFlight)) {
    const uint32_t most = direction == TDirection::Download ? TNvSftpClient::MaxReadLength
                                                            : TNvSftpClient::MaxWriteLength(FHandle.size());
    FBlockSize = std::clamp<uint32_t>(blockSize, 1, std::max<uint32_t>(1, most));
}

bool TNvSftpTransfer::Start() {
    Fill();
    if (FRequests.empty() && !FFailed && FDirection == TDirection::Download) Fail(0, "request not sent");
    return !FRequests.empty() || Succeeded();
}

void TNvSftpTransfer::Fail(int code, const std::string& text) {
    if (FFailed) return;
    FFailed = true;
    FFailureCode = code;
    FFailureText = text;
}

void TNvSftpTransfer::Cancel() {
    FCancelled = true;
}

void TNvSftpTransfer::Issue(uint64_t offset, uint32_t length) {
    std::optional<uint32_t> id;
    if (FDirection == TDirection::Download) {
        id = FClient.ReadBlock(FHandle, offset, length);
    } else {
        id = FClient.WriteBlock(FHandle, offset, FBlock.data(), length);
    }
    if (!id) {
        Fail(0, "request not sent");
        return;
    }
    FRequests[*id] = {offset, length};
}

void TNvSftpTransfer::Fill() {
    while (!FFailed && !FCancelled && !FRetry.empty() && int(FRequests.size()) < FInFlight) {
        TRange r = FRetry.back();
        FRetry.pop_back();
        Issue(r.Offset, r.Length);
    }
    while (!FFailed && !FCancelled && int(FRequests.size()) < FInFlight) {
        if (FDirection == TDirection::Download) {
            if (FNext >= FEndOfFile) break;
            Issue(FNext, FBlockSize);
            FNext += FBlockSize;
        } else {
            if (FSourceEnded) break;
            FBlock.resize(FBlockSize);
            const long long n = Read ? Read(FNext, FBlock.data(), FBlock.size()) : -1;
            if (n < 0 || size_t(n) > FBlock.size()) {
                Fail(0, "cannot read the local file");
                break;
            }
            if (n == 0) {
                FSourceEnded = true;
                break;
            }
            Issue(FNext, uint32_t(n));
            FNext += uint64_t(n);
        }
    }
    if (FRequests.empty() && !FFailed && !FCancelled && FRetry.empty()) {
        FFinished = FDirection == TDirection::Download ? FNext >= FEndOfFile : FSourceEnded;
    }
}

bool TNvSftpTransfer::Take(uint32_t id, TRange& range) {
    auto it = FRequests.find(id);
    if (it == FRequests.end()) return false;
    range = it->second;
    FRequests.erase(it);
    return true;
}

bool TNvSftpTransfer::HandleData(uint32_t id, const uint8_t* data, int size) {
    TRange r;
    if (FDirection != TDirection::Download || !Take(id, r)) return false;
    if (FFailed || FCancelled) return true;
    if (size <= 0 || uint32_t(size) > r.Length) {
        // More than was asked for, or nothing at all: the data cannot be placed safely.
        Fail(5, "the server answered a read with " + std::to_string(size) + " bytes for " +
                    std::to_string(r.Length) + " asked");
    } else if (r.Offset + uint64_t(size) > FEndOfFile) {
        Fail(5, "the server sent data beyond the end of the file it reported");
    } else if (!Write || !Write(r.Offset, data, size_t(size))) {
        Fail(0, "cannot write the local file");
    } else {
        FTransferred += uint64_t(size);
        FWrittenEnd = std::max(FWrittenEnd, r.Offset + uint64_t(size));
        if (uint32_t(size) < r.Length)
            FRetry.push_back({r.Offset + uint64_t(size), r.Length - uint32_t(size)});
    }
    Fill();
    return true;
}

bool TNvSftpTransfer::HandleStatus(uint32_t id, int code, const std::string& message) {
    TRange r;
    if (!Take(id, r)) return false;
    if (FFailed || FCancelled) return true;
    if (FDirection == TDirection::Download && code == StatusEof) {
        if (r.Offset < FWrittenEnd) {
            Fail(5, "the server reported the end of the file before data it had sent");
        } else if (r.Offset < FEndOfFile) {
            FEndOfFile = r.Offset;
            if (FNext > FEndOfFile) FNext = FEndOfFile;
            FRetry.erase(std::remove_if(FRetry.begin(), FRetry.end(),
                                        [&](const TRange& g) { return g.Offset >= FEndOfFile; }),
                         FRetry.end());
        }
    } else if (FDirection == TDirection::Upload && code == 0) {
        FTransferred += r.Length;
    } else {
        Fail(code, message);
    }
    Fill();
    return true;
}

} // namespace Varnello::Sftp
