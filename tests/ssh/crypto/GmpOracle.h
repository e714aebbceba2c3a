// Bridges from the crypto library's types to GMP and nettle, the independent oracles of the tests.
#pragma once

#include "ssh/crypto/BigInt.h"

#include <gmp.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

// A GMP integer that frees itself.
struct TMpz {
    mpz_t V;
    TMpz() { mpz_init(V); }
    explicit TMpz(const Varnello::Crypto::TBigInt& b) {
        mpz_init(V);
        std::vector<uint8_t> bytes = b.ToBytes();
        mpz_import(V, bytes.size(), 1, 1, 1, 0, bytes.data());
        if (b.IsNegative()) mpz_neg(V, V);
    }
    TMpz(const TMpz&) = delete;
    TMpz& operator=(const TMpz&) = delete;
    ~TMpz() { mpz_clear(V); }
    std::string Hex() const { return HexOf(V); }
    static std::string HexOf(const mpz_t v) {
        char* s = mpz_get_str(nullptr, 16, v);
        std::string r(s);
        free(s);
        return r;
    }
};

inline Varnello::Crypto::TBigInt FromMpz(const mpz_t v) {
    return Varnello::Crypto::TBigInt::FromHex(TMpz::HexOf(v));
}

// Deterministic byte source in nettle's random-function shape, so key generation is repeatable.
inline void NettleTestRandom(void* ctx, size_t length, uint8_t* dst) {
    auto* gen = static_cast<std::mt19937_64*>(ctx);
    for (size_t i = 0; i < length; ++i) dst[i] = uint8_t((*gen)());
}
