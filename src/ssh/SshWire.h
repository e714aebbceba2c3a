// The one reader and the one writer of SSH wire data (RFC 4251 section 5).
//
// Every byte that comes from a peer is read through TSshReader: each read checks what is left
// with a subtraction that cannot overflow and throws ENvSSHException("Invalid size") instead of
// reading past the end. Strings (and mpints) longer than the reader's limit are refused the same
// way, so a length field can never make the client allocate or copy more than it allows.
// TSshWriter appends to a growing buffer with a fixed ceiling and can back-patch a length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Varnello::Crypto {
class TBigInt;
}

namespace Varnello::Ssh {

using TBytes = std::vector<uint8_t>;

class ENvSSHException : public std::runtime_error {
public:
    explicit ENvSSHException(const std::string& message) : std::runtime_error(message) {}
};

class TSshReader {
public:
    static constexpr size_t DefaultStringLimit = 32768;

    TSshReader(const uint8_t* data, size_t len, size_t stringLimit = DefaultStringLimit)
        : FData(data), FLen(len), FLimit(stringLimit) {}
    explicit TSshReader(const TBytes& data, size_t stringLimit = DefaultStringLimit)
        : TSshReader(data.data(), data.size(), stringLimit) {}

    uint8_t Byte();
    // Any nonzero byte is true; with no byte left the value reads as false.
    bool Boolean();
    uint32_t Uint32();
    uint64_t Uint64();
    // A string's bytes, valid while the underlying buffer lives.
    std::string_view StringView();
    std::string String() { return std::string(StringView()); }
    TBytes StringBytes();
    // An mpint's bytes with one leading zero byte dropped (the magnitude, big-endian).
    TBytes Mpint();
    Crypto::TBigInt MpintValue();
    // Split at each ","; an empty string is an empty list.
    std::vector<std::string> NameList();
    // Raw bytes without a length field.
    const uint8_t* Raw(size_t n);

    size_t Position() const { return FPos; }
    size_t Remaining() const { return FLen - FPos; }
    bool AtEnd() const { return FPos == FLen; }
    const uint8_t* Current() const { return FData + FPos; }
    // Throws "Invalid size" unless everything has been read.
    void ExpectEnd() const;

private:
    void Need(size_t n) const;

    const uint8_t* FData;
    size_t FLen;
    size_t FPos = 0;
    size_t FLimit;
};

class TSshWriter {
public:
    // Packets carry at most this much; a larger message is a programming error of the caller.
    static constexpr size_t DefaultCeiling = 128000;

    explicit TSshWriter(size_t ceiling = DefaultCeiling) : FCeiling(ceiling) {}

    TSshWriter& Byte(uint8_t v);
    TSshWriter& Boolean(bool v) { return Byte(v ? 1 : 0); }
    TSshWriter& Uint32(uint32_t v);
    TSshWriter& Uint64(uint64_t v);
    TSshWriter& String(std::string_view s) {
        return String(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    TSshWriter& String(const TBytes& b) { return String(b.data(), b.size()); }
    TSshWriter& String(const uint8_t* data, size_t len);
    // Magnitude bytes (leading zeros allowed): written without leading zeros, with a 0 in front
    // when the top bit is set, so the value reads back as positive.
    TSshWriter& Mpint(const uint8_t* magnitude, size_t len);
    TSshWriter& Mpint(const TBytes& magnitude) { return Mpint(magnitude.data(), magnitude.size()); }
    TSshWriter& Mpint(const Crypto::TBigInt& value);
    TSshWriter& NameList(const std::vector<std::string>& names);
    TSshWriter& Raw(const uint8_t* data, size_t len);
    TSshWriter& Raw(const TBytes& b) { return Raw(b.data(), b.size()); }

    // Reserves a uint32 to be filled by PatchLength with the count of bytes written after it.
    size_t BeginLength();
    void PatchLength(size_t mark);

    const TBytes& Data() const { return FData; }
    TBytes& Data() { return FData; }
    TBytes Take() { return std::move(FData); }
    size_t Size() const { return FData.size(); }

private:
    void Reserve(size_t n);

    TBytes FData;
    size_t FCeiling;
};

// Joins names with "," (no spaces).
std::string JoinNames(const std::vector<std::string>& names);

} // namespace Varnello::Ssh
