// zlib wrapper: stream lifetimes, the chunk loops and the failure texts.
#include "ssh/crypto/Compression.h"

#include <cstdio>
#include <zlib.h>

namespace Varnello::Crypto {

namespace {

std::string Failure(const char* what, const char* call, int rc) {
    char text[96];
    std::snprintf(text, sizeof(text), "%s failed, %s returned [%d]", what, call, rc);
    return text;
}

} // namespace

struct TCompressor::TStream {
    z_stream Z{};
    ~TStream() { deflateEnd(&Z); }
};

struct TDecompressor::TStream {
    z_stream Z{};
    ~TStream() { inflateEnd(&Z); }
};

TCompressor::TCompressor() = default;
TCompressor::~TCompressor() = default;

void TCompressor::Init(int level) {
    FStream.reset();
    FLevel = level >= 1 && level <= 9 ? level : 6;
    auto stream = std::make_unique<TStream>();
    int rc = deflateInit(&stream->Z, FLevel);
    if (rc != Z_OK) {
        stream.release(); // deflateInit failed: nothing to end, and deflateEnd on it is not allowed
        throw ECompressionError(Failure("Compression", "deflate", rc));
    }
    FStream = std::move(stream);
}

void TCompressor::Compress(const uint8_t* data, size_t len, std::vector<uint8_t>& out) {
    if (!FStream) throw ECompressionError("Compression failed, stream not initialised");
    z_stream& z = FStream->Z;
    out.clear();
    uint8_t chunk[ChunkSize];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(len);
    do {
        z.next_out = chunk;
        z.avail_out = ChunkSize;
        int rc = deflate(&z, Z_PARTIAL_FLUSH);
        // zlib itself avoids a "no progress" answer on the call after a chunk filled exactly.
        if (rc != Z_OK) throw ECompressionError(Failure("Compression", "deflate", rc));
        out.insert(out.end(), chunk, chunk + (ChunkSize - z.avail_out));
    } while (z.avail_out == 0);
}

void TCompressor::Compress(std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    Compress(payload.data(), payload.size(), out);
    payload.swap(out);
}

TDecompressor::TDecompressor() = default;
TDecompressor::~TDecompressor() = default;

void TDecompressor::Init() {
    FStream.reset();
    auto stream = std::make_unique<TStream>();
    int rc = inflateInit(&stream->Z);
    if (rc != Z_OK) {
        stream.release();
        throw ECompressionError(Failure("Decompression", "inflate", rc));
    }
    FStream = std::move(stream);
}

void TDecompressor::Decompress(const uint8_t* data, size_t len, std::vector<uint8_t>& out) {
    if (!FStream) throw ECompressionError("Decompression failed, stream not initialised");
    z_stream& z = FStream->Z;
    out.clear();
    uint8_t chunk[ChunkSize];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(len);
    for (;;) {
        z.next_out = chunk;
        z.avail_out = ChunkSize;
        int rc = inflate(&z, Z_PARTIAL_FLUSH);
        if (rc == Z_BUF_ERROR) return; // no progress possible: the packet is consumed
        if (rc != Z_OK) throw ECompressionError(Failure("Decompression", "inflate", rc));
        const size_t produced = ChunkSize - z.avail_out;
        if (produced > MaxPacket - out.size())
            throw ECompressionError("Decompression failed, packet exceeds 65536 bytes");
        out.insert(out.end(), chunk, chunk + produced);
    }
}

void TDecompressor::Decompress(std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    Decompress(payload.data(), payload.size(), out);
    payload.swap(out);
}

} // namespace Varnello::Crypto
