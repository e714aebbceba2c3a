// Server bytes into an open SFTP client, delivered in pieces whose sizes the input chooses, with
// handlers that send the next request from inside their event as a window does. After an
// invalid packet the client must raise nothing more.
#include "sftp/SftpClient.h"

#include <cstdlib>

using namespace Varnello::Sftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    TNvSftpClient client;
    size_t sentBytes = 0;
    bool invalid = false;
    client.SendHook = [&](const uint8_t*, size_t n) { sentBytes += n; };
    auto afterEnd = [&] {
        if (invalid) std::abort();
    };
    client.OnCloseConnection = [&](TNvSftpClient*) {};
    client.OnError = [&](TNvSftpClient* c, int code, const std::string& m) {
        afterEnd();
        if (code == SftpErrInvalidPacket) {
            if (m != "Invalid Packet") std::abort();
            invalid = true;
        }
        c->ReadDirectory("h");
    };
    client.OnSuccess = [&](TNvSftpClient*, const std::string&) { afterEnd(); };
    client.OnOpenFile = [&](TNvSftpClient* c, const std::string& h) {
        afterEnd();
        c->ReadBlock(h, 0, 32768);
    };
    client.OnData = [&](TNvSftpClient* c, const uint8_t* b, int n) {
        afterEnd();
        if (n < 0 || n > int(TNvSftpClient::BufferSize)) std::abort();
        volatile uint8_t sum = 0;
        for (int i = 0; i < n; ++i) sum = uint8_t(sum + b[i]); // the buffer must be readable
        c->ReadBlock("h", uint64_t(n), 32768);
    };
    client.OnDirectoryListing = [&](TNvSftpClient* c, const std::vector<TNvSftpFileInfo>& l) {
        afterEnd();
        for (const auto& e : l) {
            TNvSftpFileInfo copy;
            e.CopyTo(copy);
        }
        c->ReadDirectory("h");
    };
    client.OnFileAttributes = [&](TNvSftpClient*, const TNvSftpFileAttributes&) { afterEnd(); };
    client.OnAbsolutePath = [&](TNvSftpClient* c, const std::string&) {
        afterEnd();
        c->OpenDirectory(".");
    };
    client.OnOpenConnection = [&](TNvSftpClient* c) {
        afterEnd();
        c->RequestAbsolutePath(".");
        c->ReadDirectory("h");
    };
    client.ChannelOpened(nullptr);
    // Ids 1..3 await answers of three kinds, so NAME replies reach every branch.
    client.ReadDirectory("h");
    client.RequestAbsolutePath(".");
    client.OpenFile("f", ModeRead);

    const size_t piece = size_t(data[0]) * 37 + 1;
    ++data;
    --size;
    while (size > 0) {
        size_t n = size < piece ? size : piece;
        client.ChannelData(data, n);
        data += n;
        size -= n;
    }
    return 0;
}
