// The block buffering shared by the Merkle-Damgard hashes (MD5, SHA-1, SHA-256, SHA-512): bytes are
// handed to the compression function in whole blocks, a partial block waits for the next call, and
// the final padding is 0x80, zeros, then the message length in the block's last lengthSize bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Varnello::Crypto {

template <std::size_t BlockSize> struct THashBlocks {
    std::uint8_t Data[BlockSize];
    std::size_t Used = 0;

    // compress(const uint8_t* blocks, size_t count) runs the hash's compression function.
    template <typename Compress> void Absorb(const std::uint8_t* p, std::size_t len, Compress&& compress) {
        if (len == 0) return; // p may be null then
        if (Used > 0) {
            const std::size_t take = len < BlockSize - Used ? len : BlockSize - Used;
            std::memcpy(Data + Used, p, take);
            Used += take;
            p += take;
            len -= take;
            if (Used < BlockSize) return;
            compress(Data, 1);
            Used = 0;
        }
        if (len >= BlockSize) {
            const std::size_t blocks = len / BlockSize;
            compress(p, blocks);
            p += blocks * BlockSize;
            len -= blocks * BlockSize;
        }
        if (len > 0) {
            std::memcpy(Data, p, len);
            Used = len;
        }
    }

    // putLength(uint8_t* field) writes the length field; the buffer is empty afterwards.
    template <typename PutLength, typename Compress>
    void Pad(std::size_t lengthSize, PutLength&& putLength, Compress&& compress) {
        Data[Used++] = 0x80;
        if (Used > BlockSize - lengthSize) {
            std::memset(Data + Used, 0, BlockSize - Used);
            compress(Data, 1);
            Used = 0;
        }
        std::memset(Data + Used, 0, BlockSize - lengthSize - Used);
        putLength(Data + BlockSize - lengthSize);
        compress(Data, 1);
        Used = 0;
    }
};

} // namespace Varnello::Crypto
