// The initial Blowfish state (P-array and S-boxes), shared by the key schedule.
#pragma once

#include <cstdint>

namespace Varnello::Crypto {

extern const uint32_t BlowfishPiWords[1042]; // P[0..17], then S0..S3 of 256 words each

} // namespace Varnello::Crypto
