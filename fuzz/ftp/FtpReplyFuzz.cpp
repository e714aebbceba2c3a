// Control-connection bytes cut at fuzzer-chosen points, and the parsers of reply texts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ftp/inet/FtpReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // First byte: chunk length, so replies get split at every possible place.
    std::size_t chunk = data[0] % 64 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    std::size_t length = size - 1;
    TFtpReplyReader reader;
    TFtpReply reply;
    for (std::size_t pos = 0; pos < length; pos += chunk) {
        reader.Feed(bytes + pos, std::min(chunk, length - pos));
        TFtpReplyState state;
        while ((state = reader.Next(reply)) == rsComplete) {
            if (reply.Code < 0 || reply.Code > 999) __builtin_trap();
            std::string path;
            std::uint16_t port;
            ParsePwdReply(reply.Text, path);
            ParseEpsvReply(reply.Text, port);
            ParsePasvReply(reply.Text, port);
            ParseFeatures(reply.Text);
        }
        if (state == rsInvalid) break;
    }
    return 0;
}
