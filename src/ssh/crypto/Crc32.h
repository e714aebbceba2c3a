// CRC-32 of the protocol 1 packet trailer.
//
// The reflected CRC of polynomial 0xEDB88320 with initial value 0 and no final inversion; that is
// not the zlib/PNG convention (which starts from and ends with 0xFFFFFFFF), so "abc" gives
// 0xCA6598D0, and zlib's crc32 cannot be used in its place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

// Continues from crc (0 for a new computation), so a message may be fed in pieces.
uint32_t Crc32(const void* data, size_t len, uint32_t crc = 0);

} // namespace Varnello::Crypto
