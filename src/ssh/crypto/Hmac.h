// HMAC (RFC 2104) over any hash that follows the small interface below.
//
// The template keeps the two keyed hash states (inner and outer pad already absorbed), so a MAC
// per packet costs the message plus one extra compression, not a rehash of the key. A hash type
// plugs in by providing, as SHA-1 and MD5 here do:
//   static constexpr size_t BlockSize, DigestSize;
//   void Init(); void Update(const void* data, size_t len); void Final(uint8_t* digest);
// and by being copyable (its state is plain data).
#pragma once

#include "ssh/crypto/ConstTime.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Varnello::Crypto {

template <class T>
concept THashFunction = std::copyable<T> && requires(T h, const void* p, size_t n, uint8_t* out) {
    { T::BlockSize } -> std::convertible_to<size_t>;
    { T::DigestSize } -> std::convertible_to<size_t>;
    h.Init();
    h.Update(p, n);
    h.Final(out);
};

template <THashFunction THash> class THmac {
public:
    static constexpr size_t BlockSize = THash::BlockSize;
    static constexpr size_t DigestSize = THash::DigestSize;

    THmac() { Init(nullptr, 0); }
    THmac(const void* key, size_t keyLen) { Init(key, keyLen); }
    ~THmac() { SecureWipe(this, sizeof(*this)); }
    THmac(const THmac&) = default;
    THmac& operator=(const THmac&) = default;

    // Keys longer than the hash's block are hashed first (RFC 2104, section 3).
    void Init(const void* key, size_t keyLen) {
        uint8_t block[BlockSize] = {};
        if (keyLen > BlockSize) {
            THash h;
            h.Init();
            h.Update(key, keyLen);
            h.Final(block);
        } else if (keyLen > 0) {
            std::memcpy(block, key, keyLen);
        }
        uint8_t pad[BlockSize];
        for (size_t i = 0; i < BlockSize; ++i) pad[i] = block[i] ^ 0x36;
        FInnerKeyed.Init();
        FInnerKeyed.Update(pad, BlockSize);
        for (size_t i = 0; i < BlockSize; ++i) pad[i] = block[i] ^ 0x5c;
        FOuterKeyed.Init();
        FOuterKeyed.Update(pad, BlockSize);
        SecureWipe(block, sizeof(block));
        SecureWipe(pad, sizeof(pad));
        FInner = FInnerKeyed;
    }

    void Update(const void* data, size_t len) { FInner.Update(data, len); }

    // Writes DigestSize bytes and leaves the context keyed and empty, ready for the next message.
    void Final(uint8_t* mac) {
        uint8_t inner[DigestSize];
        FInner.Final(inner);
        THash outer = FOuterKeyed;
        outer.Update(inner, DigestSize);
        outer.Final(mac);
        SecureWipe(inner, sizeof(inner));
        FInner = FInnerKeyed;
    }

    static void Compute(const void* key, size_t keyLen, const void* data, size_t len, uint8_t* mac) {
        THmac h(key, keyLen);
        h.Update(data, len);
        h.Final(mac);
    }

private:
    THash FInnerKeyed;
    THash FOuterKeyed;
    THash FInner;
};

} // namespace Varnello::Crypto
