// The random generator context: an RC4 state (permutation and two indices) plus a seeded flag.
//
// Seeding takes a full 256-byte key from the operating system (getrandom) and throws away the
// first 3072 output bytes, whose bias is RC4's known weakness; a clock-based seed would make
// session keys and Diffie-Hellman exponents guessable. A context never seeded seeds itself at its
// first use. Shared() is the per-thread context that also serves the key-exchange cookie and the
// packet padding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Varnello::Crypto {

class TRandom {
public:
    static constexpr size_t KeyBytes = 256;
    static constexpr size_t DroppedBytes = 3072;

    TRandom() = default; // not seeded yet
    ~TRandom();
    TRandom(const TRandom&) = delete;
    TRandom& operator=(const TRandom&) = delete;

    // Fresh key from the operating system. Throws std::runtime_error when no entropy can be read
    // (never falls back to a weak seed).
    void Seed();
    // Deterministic seeding for tests: key (1 to 256 bytes, else std::invalid_argument) repeated
    // over the 256-byte schedule, then the same 3072 bytes dropped.
    void SeedWith(const uint8_t* key, size_t len);
    bool IsSeeded() const { return FSeeded; }

    uint8_t NextByte();
    void Fill(uint8_t* out, size_t len);
    uint32_t NextUint32(); // four bytes, big-endian

    static TRandom& Shared();

private:
    void Schedule(const uint8_t* key, size_t len);
    uint8_t Step() {
        FI = uint8_t(FI + 1);
        uint8_t si = FS[FI];
        FJ = uint8_t(FJ + si);
        uint8_t sj = FS[FJ];
        FS[FI] = sj;
        FS[FJ] = si;
        return FS[uint8_t(si + sj)];
    }

    uint8_t FS[256] = {};
    uint8_t FI = 0;
    uint8_t FJ = 0;
    bool FSeeded = false;
};

} // namespace Varnello::Crypto
