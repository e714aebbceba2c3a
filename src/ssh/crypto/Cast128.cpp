// CAST-128: the RFC's key schedule written out step by step (it is easier to check against the
// text that way), and a round function with the three kinds of round unrolled.
#include "ssh/crypto/Cast128.h"
#include "ssh/crypto/ByteOrder.h"

#include "ssh/crypto/Cast128Tables.h"
#include "ssh/crypto/CipherError.h"

#include <cstring>
#include <utility>

namespace Varnello::Crypto {

namespace {

inline uint32_t Rotl(uint32_t x, unsigned n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}

const auto& S1 = Cast128SBox[0];
const auto& S2 = Cast128SBox[1];
const auto& S3 = Cast128SBox[2];
const auto& S4 = Cast128SBox[3];
const auto& S5 = Cast128SBox[4];
const auto& S6 = Cast128SBox[5];
const auto& S7 = Cast128SBox[6];
const auto& S8 = Cast128SBox[7];

inline uint32_t F1(uint32_t d, uint32_t km, unsigned kr) {
    const uint32_t i = Rotl(km + d, kr);
    return ((S1[i >> 24] ^ S2[(i >> 16) & 0xff]) - S3[(i >> 8) & 0xff]) + S4[i & 0xff];
}
inline uint32_t F2(uint32_t d, uint32_t km, unsigned kr) {
    const uint32_t i = Rotl(km ^ d, kr);
    return ((S1[i >> 24] - S2[(i >> 16) & 0xff]) + S3[(i >> 8) & 0xff]) ^ S4[i & 0xff];
}
inline uint32_t F3(uint32_t d, uint32_t km, unsigned kr) {
    const uint32_t i = Rotl(km - d, kr);
    return ((S1[i >> 24] + S2[(i >> 16) & 0xff]) ^ S3[(i >> 8) & 0xff]) - S4[i & 0xff];
}

// Round n (0-based) uses f1, f2, f3 in turn.
template <int N> [[gnu::always_inline]] inline uint32_t Round(uint32_t d, const TCast128Key& k) {
    if constexpr (N % 3 == 0)
        return F1(d, k.FMask[N], k.FRot[N]);
    else if constexpr (N % 3 == 1)
        return F2(d, k.FMask[N], k.FRot[N]);
    else
        return F3(d, k.FMask[N], k.FRot[N]);
}

template <int... N>
[[gnu::always_inline]] inline void Forward(const TCast128Key& k, uint32_t& l, uint32_t& r,
                                           std::integer_sequence<int, N...>) {
    ((l ^= Round<2 * N>(r, k), r ^= Round<2 * N + 1>(l, k)), ...);
}

template <int First, int... N>
[[gnu::always_inline]] inline void Backward(const TCast128Key& k, uint32_t& l, uint32_t& r,
                                            std::integer_sequence<int, N...>) {
    ((l ^= Round<First - 2 * N>(r, k), r ^= Round<First - 2 * N - 1>(l, k)), ...);
}

[[gnu::always_inline]] inline void Encrypt(const TCast128Key& k, uint32_t& l, uint32_t& r) {
    Forward(k, l, r, std::make_integer_sequence<int, 6>());
    if (k.FRounds == 16) {
        l ^= Round<12>(r, k);
        r ^= Round<13>(l, k);
        l ^= Round<14>(r, k);
        r ^= Round<15>(l, k);
    }
    const uint32_t t = l;
    l = r;
    r = t;
}

[[gnu::always_inline]] inline void Decrypt(const TCast128Key& k, uint32_t& l, uint32_t& r) {
    if (k.FRounds == 16) {
        l ^= Round<15>(r, k);
        r ^= Round<14>(l, k);
        l ^= Round<13>(r, k);
        r ^= Round<12>(l, k);
    }
    Backward<11>(k, l, r, std::make_integer_sequence<int, 6>());
    const uint32_t t = l;
    l = r;
    r = t;
}

// One pass of the RFC's schedule: 16 subkey words from x (updated in place, as the RFC chains it).
void SchedulePass(uint8_t x[16], uint32_t k[16]) {
    uint8_t z[16];
    auto put = [](uint8_t* p, uint32_t v) { StoreBe32(p, v); };
    for (int half = 0; half < 2; ++half) {
        put(z + 0, LoadBe32(x + 0) ^ S5[x[0xD]] ^ S6[x[0xF]] ^ S7[x[0xC]] ^ S8[x[0xE]] ^ S7[x[0x8]]);
        put(z + 4, LoadBe32(x + 8) ^ S5[z[0x0]] ^ S6[z[0x2]] ^ S7[z[0x1]] ^ S8[z[0x3]] ^ S8[x[0xA]]);
        put(z + 8, LoadBe32(x + 12) ^ S5[z[0x7]] ^ S6[z[0x6]] ^ S7[z[0x5]] ^ S8[z[0x4]] ^ S5[x[0x9]]);
        put(z + 12, LoadBe32(x + 4) ^ S5[z[0xA]] ^ S6[z[0x9]] ^ S7[z[0xB]] ^ S8[z[0x8]] ^ S6[x[0xB]]);
        uint32_t* o = k + 8 * half;
        if (half == 0) {
            o[0] = S5[z[0x8]] ^ S6[z[0x9]] ^ S7[z[0x7]] ^ S8[z[0x6]] ^ S5[z[0x2]];
            o[1] = S5[z[0xA]] ^ S6[z[0xB]] ^ S7[z[0x5]] ^ S8[z[0x4]] ^ S6[z[0x6]];
            o[2] = S5[z[0xC]] ^ S6[z[0xD]] ^ S7[z[0x3]] ^ S8[z[0x2]] ^ S7[z[0x9]];
            o[3] = S5[z[0xE]] ^ S6[z[0xF]] ^ S7[z[0x1]] ^ S8[z[0x0]] ^ S8[z[0xC]];
        } else {
            o[0] = S5[z[0x3]] ^ S6[z[0x2]] ^ S7[z[0xC]] ^ S8[z[0xD]] ^ S5[z[0x9]];
            o[1] = S5[z[0x1]] ^ S6[z[0x0]] ^ S7[z[0xE]] ^ S8[z[0xF]] ^ S6[z[0xC]];
            o[2] = S5[z[0x7]] ^ S6[z[0x6]] ^ S7[z[0x8]] ^ S8[z[0x9]] ^ S7[z[0x2]];
            o[3] = S5[z[0x5]] ^ S6[z[0x4]] ^ S7[z[0xA]] ^ S8[z[0xB]] ^ S8[z[0x6]];
        }
        put(x + 0, LoadBe32(z + 8) ^ S5[z[0x5]] ^ S6[z[0x7]] ^ S7[z[0x4]] ^ S8[z[0x6]] ^ S7[z[0x0]]);
        put(x + 4, LoadBe32(z + 0) ^ S5[x[0x0]] ^ S6[x[0x2]] ^ S7[x[0x1]] ^ S8[x[0x3]] ^ S8[z[0x2]]);
        put(x + 8, LoadBe32(z + 4) ^ S5[x[0x7]] ^ S6[x[0x6]] ^ S7[x[0x5]] ^ S8[x[0x4]] ^ S5[z[0x1]]);
        put(x + 12, LoadBe32(z + 12) ^ S5[x[0xA]] ^ S6[x[0x9]] ^ S7[x[0xB]] ^ S8[x[0x8]] ^ S6[z[0x3]]);
        if (half == 0) {
            o[4] = S5[x[0x3]] ^ S6[x[0x2]] ^ S7[x[0xC]] ^ S8[x[0xD]] ^ S5[x[0x8]];
            o[5] = S5[x[0x1]] ^ S6[x[0x0]] ^ S7[x[0xE]] ^ S8[x[0xF]] ^ S6[x[0xD]];
            o[6] = S5[x[0x7]] ^ S6[x[0x6]] ^ S7[x[0x8]] ^ S8[x[0x9]] ^ S7[x[0x3]];
            o[7] = S5[x[0x5]] ^ S6[x[0x4]] ^ S7[x[0xA]] ^ S8[x[0xB]] ^ S8[x[0x7]];
        } else {
            o[4] = S5[x[0x8]] ^ S6[x[0x9]] ^ S7[x[0x7]] ^ S8[x[0x6]] ^ S5[x[0x3]];
            o[5] = S5[x[0xA]] ^ S6[x[0xB]] ^ S7[x[0x5]] ^ S8[x[0x4]] ^ S6[x[0x7]];
            o[6] = S5[x[0xC]] ^ S6[x[0xD]] ^ S7[x[0x3]] ^ S8[x[0x2]] ^ S7[x[0x8]];
            o[7] = S5[x[0xE]] ^ S6[x[0xF]] ^ S7[x[0x1]] ^ S8[x[0x0]] ^ S8[x[0xD]];
        }
    }
    volatile uint8_t* p = z;
    for (int i = 0; i < 16; ++i) p[i] = 0;
}

} // namespace

TCast128Key::~TCast128Key() {
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(this);
    for (size_t i = 0; i < sizeof(*this); ++i) p[i] = 0;
}

void TCast128Key::SetKey(const uint8_t* key, size_t len) {
    if (len < 5 || len > 16) throw ENvCipherError("Invalid CAST-128 key length");
    uint8_t x[16] = {};
    std::memcpy(x, key, len);
    uint32_t rot[16];
    SchedulePass(x, FMask);
    SchedulePass(x, rot);
    for (int i = 0; i < 16; ++i) FRot[i] = static_cast<uint8_t>(rot[i] & 31);
    FRounds = len <= 10 ? 12 : 16;
    volatile uint8_t* p = x;
    for (int i = 0; i < 16; ++i) p[i] = 0;
}

void Cast128EncryptBlock(const TCast128Key& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Encrypt(key, l, r);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void Cast128DecryptBlock(const TCast128Key& key, const uint8_t* in, uint8_t* out) {
    uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
    Decrypt(key, l, r);
    StoreBe32(out, l);
    StoreBe32(out + 4, r);
}

void Cast128CbcEncrypt(const TCast128Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t l = LoadBe32(iv), r = LoadBe32(iv + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        l ^= LoadBe32(in);
        r ^= LoadBe32(in + 4);
        Encrypt(key, l, r);
        StoreBe32(out, l);
        StoreBe32(out + 4, r);
    }
    StoreBe32(iv, l);
    StoreBe32(iv + 4, r);
}

void Cast128CbcDecrypt(const TCast128Key& key, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t pl = LoadBe32(iv), pr = LoadBe32(iv + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        const uint32_t cl = LoadBe32(in), cr = LoadBe32(in + 4);
        uint32_t l = cl, r = cr;
        Decrypt(key, l, r);
        StoreBe32(out, l ^ pl);
        StoreBe32(out + 4, r ^ pr);
        pl = cl;
        pr = cr;
    }
    StoreBe32(iv, pl);
    StoreBe32(iv + 4, pr);
}

} // namespace Varnello::Crypto
