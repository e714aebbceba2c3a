// HMAC-SHA-256 and HMAC-SHA-512 (RFC 2104 with FIPS 180-4 hashes), for the "hmac-sha2-256" and
// "hmac-sha2-512" MACs and their -etm forms. The generic template does the work; these names are
// what the MAC table and the key derivation refer to.
#pragma once

#include "ssh/crypto/Hmac.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/Sha512.h"

namespace Varnello::Crypto {

using THmacSha256 = THmac<TSha256>;
using THmacSha512 = THmac<TSha512>;

} // namespace Varnello::Crypto
