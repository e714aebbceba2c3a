// The eight CAST-128 substitution boxes, shared by the round function and the key schedule.
#pragma once

#include <cstdint>

namespace Varnello::Crypto {

extern const uint32_t Cast128SBox[8][256];

} // namespace Varnello::Crypto
