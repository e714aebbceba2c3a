// The "zlib" compression of the SSH transport: one deflate and one inflate stream per session.
//
// Each direction keeps its stream for the whole session and flushes with Z_PARTIAL_FLUSH after
// every packet, so the peer can decode each packet as it arrives while the dictionary carries
// over; resetting a stream between packets would break the peer's decoding. Work is done in
// 64 KiB chunks. Failures throw ECompressionError with the zlib return code in the text; the
// transport turns them into its compression error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Varnello::Crypto {

class ECompressionError : public std::runtime_error {
public:
    explicit ECompressionError(const std::string& message) : std::runtime_error(message) {}
};

class TCompressor {
public:
    static constexpr size_t ChunkSize = 65536;

    TCompressor();
    ~TCompressor();
    TCompressor(const TCompressor&) = delete;
    TCompressor& operator=(const TCompressor&) = delete;

    // Sets the stream up once; a level outside 1 to 9 becomes 6. A second Init starts a new stream.
    void Init(int level);
    bool IsInitialized() const { return FStream != nullptr; }
    int Level() const { return FLevel; }

    // Deflates one payload and flushes it to a byte boundary. out is replaced (it may be the
    // caller's payload buffer only through the in-place form). Requires Init.
    void Compress(const uint8_t* data, size_t len, std::vector<uint8_t>& out);
    void Compress(std::vector<uint8_t>& payload);

private:
    struct TStream;
    std::unique_ptr<TStream> FStream;
    int FLevel = 0;
};

class TDecompressor {
public:
    static constexpr size_t ChunkSize = 65536;
    static constexpr size_t MaxPacket = 65536; // a larger result is rejected, never delivered

    TDecompressor();
    ~TDecompressor();
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    void Init();
    bool IsInitialized() const { return FStream != nullptr; }

    // Inflates one packet's worth of the stream; out is replaced. Requires Init.
    void Decompress(const uint8_t* data, size_t len, std::vector<uint8_t>& out);
    void Decompress(std::vector<uint8_t>& payload);

private:
    struct TStream;
    std::unique_ptr<TStream> FStream;
};

} // namespace Varnello::Crypto
