// Table-driven CRC-32, one byte per step; the table is built at compile time.
#include "ssh/crypto/Crc32.h"

#include <array>

namespace Varnello::Crypto {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> Table = MakeTable();

} // namespace

uint32_t Crc32(const void* data, size_t len, uint32_t crc) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < len; ++i) crc = Table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

} // namespace Varnello::Crypto
