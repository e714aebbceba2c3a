// Constant-time equality and wiping; kept out of line so the optimiser cannot see through the
// accumulator at the call site and turn it back into an early exit.
#include "ssh/crypto/ConstTime.h"

namespace Varnello::Crypto {

bool ConstTimeEqual(const void* a, const void* b, size_t n) {
    const volatile uint8_t* x = static_cast<const volatile uint8_t*>(a);
    const volatile uint8_t* y = static_cast<const volatile uint8_t*>(b);
    uint8_t diff = 0;
    for (size_t i = 0; i < n; ++i) diff |= static_cast<uint8_t>(x[i] ^ y[i]);
    return diff == 0;
}

void SecureWipe(void* p, size_t n) {
    volatile uint8_t* q = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) q[i] = 0;
}

} // namespace Varnello::Crypto
