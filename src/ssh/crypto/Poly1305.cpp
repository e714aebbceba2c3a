// Poly1305 in radix 2^44: h = (h + m) * r mod 2^130 - 5, block by block, then h + s mod 2^128.
#include "ssh/crypto/Poly1305.h"

#include "ssh/crypto/ConstTime.h"

#include <cstring>

namespace Varnello::Crypto {

namespace {

using u128 = unsigned __int128;
constexpr uint64_t Mask44 = 0xfffffffffffULL;
constexpr uint64_t Mask42 = 0x3ffffffffffULL;

inline uint64_t LoadLe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

} // namespace

TPoly1305::~TPoly1305() {
    SecureWipe(FR, sizeof(FR));
    SecureWipe(FH, sizeof(FH));
    SecureWipe(FPad, sizeof(FPad));
    SecureWipe(FBuffer, sizeof(FBuffer));
}

void TPoly1305::Init(const uint8_t key[KeySize]) {
    const uint64_t t0 = LoadLe64(key), t1 = LoadLe64(key + 8);
    // Clamping (RFC 8439: r &= 0x0ffffffc0ffffffc0ffffffc0fffffff), folded into the limb split.
    FR[0] = t0 & 0xffc0fffffffULL;
    FR[1] = ((t0 >> 44) | (t1 << 20)) & 0xfffffc0ffffULL;
    FR[2] = (t1 >> 24) & 0x00ffffffc0fULL;
    FH[0] = FH[1] = FH[2] = 0;
    FPad[0] = LoadLe64(key + 16);
    FPad[1] = LoadLe64(key + 24);
    FBuffered = 0;
}

void TPoly1305::Blocks(const uint8_t* m, size_t blocks, uint64_t hibit) {
    const uint64_t r0 = FR[0], r1 = FR[1], r2 = FR[2];
    // 2^132 = 4 * 2^130 = 20 mod p: products that overflow the top limb come back times 20.
    const uint64_t s1 = r1 * 20, s2 = r2 * 20;
    uint64_t h0 = FH[0], h1 = FH[1], h2 = FH[2];
    for (; blocks > 0; --blocks, m += 16) {
        const uint64_t t0 = LoadLe64(m), t1 = LoadLe64(m + 8);
        h0 += t0 & Mask44;
        h1 += ((t0 >> 44) | (t1 << 20)) & Mask44;
        h2 += ((t1 >> 24) & Mask42) | hibit;

        const u128 d0 = u128(h0) * r0 + u128(h1) * s2 + u128(h2) * s1;
        u128 d1 = u128(h0) * r1 + u128(h1) * r0 + u128(h2) * s2;
        u128 d2 = u128(h0) * r2 + u128(h1) * r1 + u128(h2) * r0;

        uint64_t c = uint64_t(d0 >> 44);
        h0 = uint64_t(d0) & Mask44;
        d1 += c;
        c = uint64_t(d1 >> 44);
        h1 = uint64_t(d1) & Mask44;
        d2 += c;
        c = uint64_t(d2 >> 42);
        h2 = uint64_t(d2) & Mask42;
        h0 += c * 5;
        c = h0 >> 44;
        h0 &= Mask44;
        h1 += c;
    }
    FH[0] = h0;
    FH[1] = h1;
    FH[2] = h2;
}

void TPoly1305::Update(const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (FBuffered > 0) {
        const size_t take = len < 16 - FBuffered ? len : 16 - FBuffered;
        std::memcpy(FBuffer + FBuffered, p, take);
        FBuffered += take;
        p += take;
        len -= take;
        if (FBuffered < 16) return;
        Blocks(FBuffer, 1, 1ULL << 40);
        FBuffered = 0;
    }
    if (len >= 16) {
        Blocks(p, len / 16, 1ULL << 40);
        p += len & ~size_t(15);
        len &= 15;
    }
    if (len > 0) {
        std::memcpy(FBuffer, p, len);
        FBuffered = len;
    }
}

void TPoly1305::Final(uint8_t tag[TagSize]) {
    if (FBuffered > 0) {
        // The last short block carries its 1 bit right after the message bytes.
        FBuffer[FBuffered] = 1;
        std::memset(FBuffer + FBuffered + 1, 0, 16 - FBuffered - 1);
        Blocks(FBuffer, 1, 0);
    }
    uint64_t h0 = FH[0], h1 = FH[1], h2 = FH[2];
    uint64_t c = h1 >> 44;
    h1 &= Mask44;
    h2 += c;
    c = h2 >> 42;
    h2 &= Mask42;
    h0 += c * 5;
    c = h0 >> 44;
    h0 &= Mask44;
    h1 += c;
    c = h1 >> 44;
    h1 &= Mask44;
    h2 += c;
    c = h2 >> 42;
    h2 &= Mask42;
    h0 += c * 5;
    c = h0 >> 44;
    h0 &= Mask44;
    h1 += c;

    // g = h - p = h + 5 - 2^130; keep g when it did not go negative, without a branch.
    uint64_t g0 = h0 + 5;
    c = g0 >> 44;
    g0 &= Mask44;
    uint64_t g1 = h1 + c;
    c = g1 >> 44;
    g1 &= Mask44;
    uint64_t g2 = h2 + c - (1ULL << 42);
    const uint64_t keepG = (g2 >> 63) - 1; // all ones when g2 did not borrow
    h0 = (h0 & ~keepG) | (g0 & keepG);
    h1 = (h1 & ~keepG) | (g1 & keepG);
    h2 = (h2 & ~keepG) | (g2 & keepG);

    const uint64_t t0 = FPad[0], t1 = FPad[1];
    h0 += t0 & Mask44;
    c = h0 >> 44;
    h0 &= Mask44;
    h1 += (((t0 >> 44) | (t1 << 20)) & Mask44) + c;
    c = h1 >> 44;
    h1 &= Mask44;
    h2 += ((t1 >> 24) & Mask42) + c;
    h2 &= Mask42;

    const uint64_t out0 = h0 | (h1 << 44), out1 = (h1 >> 20) | (h2 << 24);
    for (int i = 0; i < 8; ++i) {
        tag[i] = uint8_t(out0 >> (8 * i));
        tag[8 + i] = uint8_t(out1 >> (8 * i));
    }
    SecureWipe(FH, sizeof(FH));
    SecureWipe(FBuffer, sizeof(FBuffer));
    FBuffered = 0;
}

void TPoly1305::Compute(const uint8_t key[KeySize], const void* data, size_t len, uint8_t tag[TagSize]) {
    TPoly1305 p(key);
    p.Update(data, len);
    p.Final(tag);
}

bool TPoly1305::Verify(const uint8_t key[KeySize], const void* data, size_t len, const uint8_t tag[TagSize]) {
    uint8_t want[TagSize];
    Compute(key, data, len, want);
    const bool ok = ConstTimeEqual(want, tag, TagSize);
    SecureWipe(want, sizeof(want));
    return ok;
}

} // namespace Varnello::Crypto
