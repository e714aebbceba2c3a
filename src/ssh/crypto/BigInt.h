// Multi-precision integers for Diffie-Hellman, RSA and DSA.
//
// A value is a fixed record: a word count, up to 256 32-bit words least significant first (at
// most 8192 bits) and a sign flag. Nothing inside the arithmetic allocates; temporaries are
// records or fixed arrays on the stack. A result that would need more than 8192 bits is never
// truncated: the operation throws EBigIntOverflow and leaves its operands untouched.
//
// Modular exponentiation uses Montgomery multiplication with a sliding window for odd moduli
// (every modulus of DH, RSA and DSA) and plain square-and-multiply with remainders otherwise.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Varnello::Crypto {

class TRandom;

class EBigIntOverflow : public std::overflow_error {
public:
    EBigIntOverflow() : std::overflow_error("Multi-precision result exceeds 8192 bits") {}
};

class TBigInt {
public:
    static constexpr int MaxWords = 256;
    static constexpr int MaxBits = MaxWords * 32;

    TBigInt(); // a new value is 1
    ~TBigInt();
    TBigInt(const TBigInt&) = default;
    TBigInt& operator=(const TBigInt&) = default;

    static TBigInt Zero() { return FromUint(0); }
    static TBigInt FromUint(uint64_t value);
    // Unsigned big-endian bytes; leading zero bytes are ignored, so any length is accepted as long
    // as the value itself fits in 8192 bits (else EBigIntOverflow).
    static TBigInt FromBytes(const uint8_t* data, size_t len);
    static TBigInt FromBytes(const std::vector<uint8_t>& data) { return FromBytes(data.data(), data.size()); }
    // Hexadecimal digits, either case, an optional leading '-'; whitespace is skipped. Anything
    // else throws std::invalid_argument.
    static TBigInt FromHex(std::string_view hex);

    // The magnitude as exactly four big-endian bytes per word in use, so the result can start with
    // up to three zero bytes; the value 1 gives 00 00 00 01.
    std::vector<uint8_t> ToBytes() const;
    // The magnitude right-aligned in exactly len bytes (zeros in front). Throws std::length_error
    // when it needs more than len bytes.
    void ToBytes(uint8_t* out, size_t len) const;
    // The magnitude in as few bytes as it takes (none for zero).
    std::vector<uint8_t> ToMinimalBytes() const;
    // Lower-case hexadecimal without leading zeros ("0" for zero), '-' in front when negative.
    std::string ToHex() const;

    // Replaces the value with a non-negative number made of byteCount bytes of rng.
    // byteCount above 1024 throws EBigIntOverflow.
    void RandomFill(TRandom& rng, size_t byteCount);

    int WordCount() const { return FCount; } // at least 1; zero is one zero word
    uint32_t Word(int i) const { return i < FCount ? FWords[i] : 0; }
    bool IsNegative() const { return FNegative; }
    bool IsZero() const { return FCount == 1 && FWords[0] == 0; }
    bool IsOdd() const { return FWords[0] & 1; }
    int BitCount() const; // of the magnitude; 0 for zero
    size_t ByteCount() const { return (BitCount() + 7) / 8; }
    bool Bit(int i) const; // of the magnitude

    // Arithmetic on signed values. Remainder and the modular operations take a positive modulus
    // (zero or negative throws std::domain_error) and answer in [0, m).
    friend TBigInt operator+(const TBigInt& a, const TBigInt& b);
    friend TBigInt operator-(const TBigInt& a, const TBigInt& b);
    friend TBigInt operator*(const TBigInt& a, const TBigInt& b);
    friend TBigInt operator%(const TBigInt& a, const TBigInt& m);
    TBigInt operator-() const;
    // Truncating division of magnitudes with the sign rules of C++ (quotient towards zero,
    // remainder with the sign of a). b == 0 throws std::domain_error.
    static void DivMod(const TBigInt& a, const TBigInt& b, TBigInt& quotient, TBigInt& remainder);

    // base^exponent mod m, exponent >= 0 (negative throws std::domain_error).
    static TBigInt ModExp(const TBigInt& base, const TBigInt& exponent, const TBigInt& m);
    static TBigInt ModMul(const TBigInt& a, const TBigInt& b, const TBigInt& m);
    // The x in [1, m) with a*x = 1 mod m; throws std::domain_error when gcd(a, m) != 1.
    static TBigInt ModInverse(const TBigInt& a, const TBigInt& m);

    TBigInt Half() const; // magnitude shifted right by one bit, sign kept (zero is never negative)
    TBigInt ShiftLeft(int bits) const;
    TBigInt ShiftRight(int bits) const;

    // Signed order. Greater-than and equality are the operations the protocol code uses.
    friend std::strong_ordering operator<=>(const TBigInt& a, const TBigInt& b);
    friend bool operator==(const TBigInt& a, const TBigInt& b);
    static int CompareMagnitude(const TBigInt& a, const TBigInt& b);

    // For the implementation's helpers; words above FCount are kept zero.
    uint32_t FWords[MaxWords];
    int FCount;
    bool FNegative;

    void Normalize(); // drops leading zero words, clears the sign of zero
};

} // namespace Varnello::Crypto
