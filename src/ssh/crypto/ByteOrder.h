// Big- and little-endian loads and stores of 16, 32 and 64-bit words, shared by every algorithm.
// memcpy plus a byte swap compiles to one load or store and is free of alignment and aliasing traps.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace Varnello::Crypto {

template <typename T> inline T LoadNative(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T> inline void StoreNative(std::uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

template <typename T> inline T ToBig(T v) {
    if constexpr (std::endian::native == std::endian::big) return v;
    if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(v));
    if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(v));
    if constexpr (sizeof(T) == 8) return static_cast<T>(__builtin_bswap64(v));
}
template <typename T> inline T ToLittle(T v) {
    if constexpr (std::endian::native == std::endian::little) return v;
    if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(v));
    if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(v));
    if constexpr (sizeof(T) == 8) return static_cast<T>(__builtin_bswap64(v));
}

inline std::uint16_t LoadBe16(const std::uint8_t* p) {
    return ToBig(LoadNative<std::uint16_t>(p));
}
inline std::uint32_t LoadBe32(const std::uint8_t* p) {
    return ToBig(LoadNative<std::uint32_t>(p));
}
inline std::uint64_t LoadBe64(const std::uint8_t* p) {
    return ToBig(LoadNative<std::uint64_t>(p));
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return ToLittle(LoadNative<std::uint32_t>(p));
}
inline std::uint64_t LoadLe64(const std::uint8_t* p) {
    return ToLittle(LoadNative<std::uint64_t>(p));
}

inline void StoreBe16(std::uint8_t* p, std::uint16_t v) {
    StoreNative(p, ToBig(v));
}
inline void StoreBe32(std::uint8_t* p, std::uint32_t v) {
    StoreNative(p, ToBig(v));
}
inline void StoreBe64(std::uint8_t* p, std::uint64_t v) {
    StoreNative(p, ToBig(v));
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    StoreNative(p, ToLittle(v));
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
    StoreNative(p, ToLittle(v));
}

} // namespace Varnello::Crypto
