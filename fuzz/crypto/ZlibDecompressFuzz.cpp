// The decompressor takes packets straight from the peer. The input is cut into packets (the first
// byte picks the cut size) and fed to one kept stream, as the transport does: every packet must end
// in output within the limit or in ECompressionError. The same packets, compressed by us, must
// come back unchanged.
#include "ssh/crypto/Compression.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace Varnello::Crypto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t cut = 1 + data[0] * 8;
    const int level = data[0] % 11; // 0 and 10 included: both become 6
    ++data;
    --size;

    TDecompressor hostile;
    hostile.Init();
    std::vector<uint8_t> out;
    for (size_t at = 0; at < size; at += cut) {
        const size_t n = size - at < cut ? size - at : cut;
        try {
            hostile.Decompress(data + at, n, out);
        } catch (const ECompressionError&) {
            break; // the transport drops the session here
        }
        if (out.size() > TDecompressor::MaxPacket) std::abort();
    }

    TCompressor c;
    c.Init(level);
    TDecompressor d;
    d.Init();
    std::vector<uint8_t> wire, back;
    for (size_t at = 0; at < size; at += cut) {
        const size_t n = size - at < cut ? size - at : cut;
        c.Compress(data + at, n, wire);
        d.Decompress(wire.data(), wire.size(), back);
        if (back.size() != n || (n > 0 && std::memcmp(back.data(), data + at, n) != 0)) std::abort();
    }
    return 0;
}
