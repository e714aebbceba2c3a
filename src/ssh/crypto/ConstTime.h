// Comparisons whose running time does not depend on the bytes compared.
//
// Every MAC and authentication-tag check goes through here: an early-exit memcmp would tell an
// attacker, byte by byte, how much of a forged tag was right.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

// true when the n bytes at a and b are equal. Reads all n bytes whatever they hold.
bool ConstTimeEqual(const void* a, const void* b, size_t n);

// Overwrites n bytes with zeros in a way the compiler may not drop as a dead store.
void SecureWipe(void* p, size_t n);

} // namespace Varnello::Crypto
