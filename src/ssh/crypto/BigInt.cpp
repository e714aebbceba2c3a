// Multi-precision arithmetic on the fixed record.
//
// Magnitude routines work on raw 32-bit word arrays with explicit lengths, so that products and
// the normalised operands of division (up to twice the record's size) can live in stack arrays;
// the record-level operations check the 256-word limit on what they return. Montgomery
// exponentiation repacks the operands into 64-bit limbs, which quarters the number of
// multiplications compared with 32-bit words; its multiply-accumulate rows run on MULX/ADCX/ADOX
// where the processor has them (two independent carry chains), else on portable 128-bit code.
#include "ssh/crypto/BigInt.h"

#include "ssh/crypto/ConstTime.h"
#include "ssh/crypto/CpuFeatures.h"
#include "ssh/crypto/Random.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace Varnello::Crypto {

namespace {

using u32 = uint32_t;
using u64 = uint64_t;
using u128 = unsigned __int128;

constexpr int MaxWords = TBigInt::MaxWords;
constexpr int WideWords = 2 * MaxWords + 4; // products and normalised dividends
constexpr int MaxLimbs = MaxWords / 2;

int Normalized(const u32* w, int n) {
    while (n > 1 && w[n - 1] == 0) --n;
    return n < 1 ? 1 : n;
}

int CompareRaw(const u32* a, int na, const u32* b, int nb) {
    na = Normalized(a, na);
    nb = Normalized(b, nb);
    if (na != nb) return na < nb ? -1 : 1;
    for (int i = na - 1; i >= 0; --i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// out = a + b; out has room for max(na, nb) + 1 words. Returns the length written.
int AddRaw(const u32* a, int na, const u32* b, int nb, u32* out) {
    if (na < nb) {
        std::swap(a, b);
        std::swap(na, nb);
    }
    u64 carry = 0;
    for (int i = 0; i < na; ++i) {
        carry += u64(a[i]) + (i < nb ? b[i] : 0);
        out[i] = u32(carry);
        carry >>= 32;
    }
    out[na] = u32(carry);
    return na + 1;
}

// out = a - b, requires a >= b; out has room for na words.
void SubRaw(const u32* a, int na, const u32* b, int nb, u32* out) {
    int64_t borrow = 0;
    for (int i = 0; i < na; ++i) {
        int64_t t = int64_t(a[i]) - (i < nb ? int64_t(b[i]) : 0) - borrow;
        out[i] = u32(t);
        borrow = t < 0;
    }
}

// out = a * b; out has room for na + nb words and must not overlap the inputs.
void MulRaw(const u32* a, int na, const u32* b, int nb, u32* out) {
    std::fill(out, out + na + nb, 0u);
    for (int i = 0; i < na; ++i) {
        u64 carry = 0;
        const u64 ai = a[i];
        if (ai == 0) continue;
        for (int j = 0; j < nb; ++j) {
            carry += ai * b[j] + out[i + j];
            out[i + j] = u32(carry);
            carry >>= 32;
        }
        out[i + nb] = u32(carry);
    }
}

// Knuth's algorithm D (TAOCP 4.3.1). q gets nu - nv + 1 words (may be null), r gets nv words.
// Requires v normalised with nv >= 1 and v != 0, nu <= WideWords - 1.
void DivModRaw(const u32* u, int nu, const u32* v, int nv, u32* q, u32* r) {
    nu = Normalized(u, nu);
    nv = Normalized(v, nv);
    if (CompareRaw(u, nu, v, nv) < 0) {
        if (q) std::fill(q, q + std::max(nu - nv + 1, 1), 0u);
        std::fill(r, r + nv, 0u);
        std::copy(u, u + std::min(nu, nv), r);
        return;
    }
    if (nv == 1) {
        u64 rem = 0;
        for (int i = nu - 1; i >= 0; --i) {
            u64 cur = (rem << 32) | u[i];
            if (q) q[i] = u32(cur / v[0]);
            rem = cur % v[0];
        }
        r[0] = u32(rem);
        return;
    }
    const int s = __builtin_clz(v[nv - 1]);
    u32 vn[MaxWords * 2 + 2];
    u32 un[WideWords + 1];
    for (int i = nv - 1; i > 0; --i) vn[i] = (v[i] << s) | (s ? u32(u64(v[i - 1]) >> (32 - s)) : 0);
    vn[0] = v[0] << s;
    un[nu] = s ? u32(u64(u[nu - 1]) >> (32 - s)) : 0;
    for (int i = nu - 1; i > 0; --i) un[i] = (u[i] << s) | (s ? u32(u64(u[i - 1]) >> (32 - s)) : 0);
    un[0] = u[0] << s;
    const u64 base = u64(1) << 32;
    for (int j = nu - nv; j >= 0; --j) {
        const u64 num = (u64(un[j + nv]) << 32) | un[j + nv - 1];
        u64 qhat = num / vn[nv - 1];
        u64 rhat = num % vn[nv - 1];
        while (qhat >= base || qhat * vn[nv - 2] > ((rhat << 32) | un[j + nv - 2])) {
            --qhat;
            rhat += vn[nv - 1];
            if (rhat >= base) break;
        }
        int64_t k = 0;
        int64_t t;
        for (int i = 0; i < nv; ++i) {
            const u64 p = qhat * vn[i];
            t = int64_t(un[i + j]) - k - int64_t(p & 0xFFFFFFFFu);
            un[i + j] = u32(t);
            k = int64_t(p >> 32) - (t >> 32);
        }
        t = int64_t(un[j + nv]) - k;
        un[j + nv] = u32(t);
        if (t < 0) {
            --qhat;
            u64 c = 0;
            for (int i = 0; i < nv; ++i) {
                c += u64(un[i + j]) + vn[i];
                un[i + j] = u32(c);
                c >>= 32;
            }
            un[j + nv] += u32(c);
        }
        if (q) q[j] = u32(qhat);
    }
    for (int i = 0; i < nv - 1; ++i) r[i] = (un[i] >> s) | (s ? u32(u64(un[i + 1]) << (32 - s)) : 0);
    r[nv - 1] = un[nv - 1] >> s;
}

// The record from a raw magnitude; more than 256 significant words is an overflow.
TBigInt FromRaw(const u32* w, int n, bool negative) {
    n = Normalized(w, n);
    if (n > MaxWords) throw EBigIntOverflow();
    TBigInt r = TBigInt::Zero();
    std::copy(w, w + n, r.FWords);
    r.FCount = n;
    r.FNegative = negative;
    r.Normalize();
    return r;
}

// Signed addition of magnitudes with signs.
TBigInt AddSigned(const TBigInt& a, bool aNeg, const TBigInt& b, bool bNeg) {
    u32 tmp[MaxWords + 1];
    if (aNeg == bNeg) {
        int n = AddRaw(a.FWords, a.FCount, b.FWords, b.FCount, tmp);
        return FromRaw(tmp, n, aNeg);
    }
    if (CompareRaw(a.FWords, a.FCount, b.FWords, b.FCount) >= 0) {
        SubRaw(a.FWords, a.FCount, b.FWords, b.FCount, tmp);
        return FromRaw(tmp, a.FCount, aNeg);
    }
    SubRaw(b.FWords, b.FCount, a.FWords, a.FCount, tmp);
    return FromRaw(tmp, b.FCount, bNeg);
}

void RequirePositiveModulus(const TBigInt& m) {
    if (m.FNegative || m.IsZero()) throw std::domain_error("Modulus must be positive");
}

// ---- Montgomery arithmetic on 64-bit limbs ----

struct TMont {
    int N;             // limbs
    u64 M[MaxLimbs];   // modulus
    u64 MInv;          // -M^-1 mod 2^64
    u64 One[MaxLimbs]; // R mod M
    u64 R2[MaxLimbs];  // R^2 mod M
};

// r = a * b * R^-1 mod m (CIOS). r may alias a or b.
template <int Fixed> void MontMul(const TMont& ctx, u64* r, const u64* a, const u64* b) {
    const int n = Fixed > 0 ? Fixed : ctx.N;
    const u64* m = ctx.M;
    u64 t[MaxLimbs + 2];
    std::fill(t, t + n + 2, u64(0));
    for (int i = 0; i < n; ++i) {
        // t = (t + a*b[i] + q*m) / 2^64, with the two products in one pass over j: their carry
        // chains are independent, so the processor can overlap them.
        const u64 bi = b[i];
        u128 p1 = u128(a[0]) * bi + t[0];
        const u64 q = u64(p1) * ctx.MInv;
        u128 p2 = u128(q) * m[0] + u64(p1);
        u64 c1 = u64(p1 >> 64), c2 = u64(p2 >> 64);
        for (int j = 1; j < n; ++j) {
            p1 = u128(a[j]) * bi + t[j] + c1;
            p2 = u128(q) * m[j] + u64(p1) + c2;
            t[j - 1] = u64(p2);
            c1 = u64(p1 >> 64);
            c2 = u64(p2 >> 64);
        }
        u128 s = u128(t[n]) + c1 + c2;
        t[n - 1] = u64(s);
        t[n] = t[n + 1] + u64(s >> 64);
        t[n + 1] = 0;
    }
    // t < 2m: one conditional subtraction, done branch-free over the limbs.
    u64 diff[MaxLimbs];
    u64 borrow = 0;
    for (int j = 0; j < n; ++j) {
        u128 d = u128(t[j]) - m[j] - borrow;
        diff[j] = u64(d);
        borrow = u64(d >> 64) & 1;
    }
    const u64 keepT = u64(0) - u64(t[n] < borrow); // t[n] - borrow < 0: t < m
    for (int j = 0; j < n; ++j) r[j] = (t[j] & keepT) | (diff[j] & ~keepT);
}

// r = a * a * R^-1 mod m: the square first (each cross product once, then doubled), then a
// separate Montgomery reduction; about three quarters of MontMul's multiplications.
template <int Fixed> void MontSqr(const TMont& ctx, u64* r, const u64* a) {
    const int n = Fixed > 0 ? Fixed : ctx.N;
    const u64* m = ctx.M;
    u64 t[2 * MaxLimbs + 1];
    std::fill(t, t + 2 * n + 1, u64(0));
    for (int i = 0; i < n; ++i) {
        const u64 ai = a[i];
        u64 c = 0;
        for (int j = i + 1; j < n; ++j) {
            u128 p = u128(ai) * a[j] + t[i + j] + c;
            t[i + j] = u64(p);
            c = u64(p >> 64);
        }
        t[i + n] = c;
    }
    u64 top = 0; // double the cross products
    for (int k = 0; k < 2 * n; ++k) {
        const u64 v = t[k];
        t[k] = (v << 1) | top;
        top = v >> 63;
    }
    u64 c = 0; // add the squares on the diagonal
    for (int i = 0; i < n; ++i) {
        u128 p = u128(a[i]) * a[i];
        u128 s = u128(t[2 * i]) + u64(p) + c;
        t[2 * i] = u64(s);
        s = u128(t[2 * i + 1]) + u64(p >> 64) + u64(s >> 64);
        t[2 * i + 1] = u64(s);
        c = u64(s >> 64);
    }
    u64 carryTop = 0;
    for (int i = 0; i < n; ++i) {
        const u64 q = t[i] * ctx.MInv;
        u64 cc = 0;
        for (int j = 0; j < n; ++j) {
            u128 p = u128(q) * m[j] + t[i + j] + cc;
            t[i + j] = u64(p);
            cc = u64(p >> 64);
        }
        u128 s = u128(t[i + n]) + cc + carryTop;
        t[i + n] = u64(s);
        carryTop = u64(s >> 64);
    }
    // The value t[n..2n) + carryTop * R is below 2m: one conditional subtraction.
    const u64* hi = t + n;
    u64 diff[MaxLimbs];
    u64 borrow = 0;
    for (int j = 0; j < n; ++j) {
        u128 d = u128(hi[j]) - m[j] - borrow;
        diff[j] = u64(d);
        borrow = u64(d >> 64) & 1;
    }
    const u64 keepT = u64(0) - u64(carryTop < borrow);
    for (int j = 0; j < n; ++j) r[j] = (hi[j] & keepT) | (diff[j] & ~keepT);
}

#if defined(__x86_64__)
#define VARNELLO_BIGINT_ADX 1

// BMI2 and ADX are not in the shared feature record; both sit in cpuid leaf 7, EBX bits 8 and 19.
bool HaveMulxAdx() {
    static const bool present = [] {
        unsigned eax, ebx, ecx, edx;
        if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
        return ((ebx >> 8) & 1) && ((ebx >> 19) & 1);
    }();
    return present && !PortableCryptoForced();
}

// t[0..n) += a[0..n) * b, n >= 1; returns the carry limb. MULX leaves the flags alone, so the
// carries of the low halves (CF, ADCX) and of t (OF, ADOX) run as two chains; the loop control
// uses LEA and JRCXZ, which do not touch the flags either.
__attribute__((target("bmi2,adx"))) inline u64 AddMulRowAdx(u64* t, const u64* a, size_t n, u64 b) {
    u64 carry, lo, hi;
    asm volatile("xor %[carry], %[carry]\n\t"
                 "1:\n\t"
                 "mulx (%[a]), %[lo], %[hi]\n\t"
                 "adcx %[carry], %[lo]\n\t"
                 "adox (%[t]), %[lo]\n\t"
                 "mov %[lo], (%[t])\n\t"
                 "mov %[hi], %[carry]\n\t"
                 "lea 8(%[a]), %[a]\n\t"
                 "lea 8(%[t]), %[t]\n\t"
                 "lea -1(%[n]), %[n]\n\t"
                 "jrcxz 2f\n\t"
                 "jmp 1b\n\t"
                 "2:\n\t"
                 "mov $0, %[lo]\n\t"
                 "adcx %[lo], %[carry]\n\t"
                 "adox %[lo], %[carry]\n\t"
                 : [a] "+r"(a), [t] "+r"(t), [n] "+c"(n), [carry] "=&r"(carry), [lo] "=&r"(lo), [hi] "=&r"(hi)
                 : "d"(b)
                 : "cc", "memory");
    return carry;
}

// r = (t[n..2n) + top * R) reduced once below m.
void MontFinish(const TMont& ctx, u64* r, const u64* hi, u64 top) {
    const int n = ctx.N;
    u64 diff[MaxLimbs];
    u64 borrow = 0;
    for (int j = 0; j < n; ++j) {
        u128 d = u128(hi[j]) - ctx.M[j] - borrow;
        diff[j] = u64(d);
        borrow = u64(d >> 64) & 1;
    }
    const u64 keep = u64(0) - u64(top < borrow);
    for (int j = 0; j < n; ++j) r[j] = (hi[j] & keep) | (diff[j] & ~keep);
}

// Montgomery multiplication, row by row: add a*b[i], then q*m, to the window t[i..i+n].
__attribute__((target("bmi2,adx"))) void MontMulAdx(const TMont& ctx, u64* r, const u64* a, const u64* b) {
    const int n = ctx.N;
    u64 t[2 * MaxLimbs + 2];
    std::fill(t, t + 2 * n + 2, u64(0));
    for (int i = 0; i < n; ++i) {
        u128 s = u128(t[i + n]) + AddMulRowAdx(t + i, a, size_t(n), b[i]);
        t[i + n] = u64(s);
        t[i + n + 1] += u64(s >> 64);
        const u64 q = t[i] * ctx.MInv;
        s = u128(t[i + n]) + AddMulRowAdx(t + i, ctx.M, size_t(n), q);
        t[i + n] = u64(s);
        t[i + n + 1] += u64(s >> 64);
    }
    MontFinish(ctx, r, t + n, t[2 * n]);
}

__attribute__((target("bmi2,adx"))) void MontSqrAdx(const TMont& ctx, u64* r, const u64* a) {
    const int n = ctx.N;
    u64 t[2 * MaxLimbs + 1];
    std::fill(t, t + 2 * n + 1, u64(0));
    for (int i = 0; i + 1 < n; ++i)
        t[i + n] = AddMulRowAdx(t + 2 * i + 1, a + i + 1, size_t(n - i - 1), a[i]);
    u64 top = 0;
    for (int k = 0; k < 2 * n; ++k) {
        const u64 v = t[k];
        t[k] = (v << 1) | top;
        top = v >> 63;
    }
    u64 c = 0;
    for (int i = 0; i < n; ++i) {
        u128 p = u128(a[i]) * a[i];
        u128 s = u128(t[2 * i]) + u64(p) + c;
        t[2 * i] = u64(s);
        s = u128(t[2 * i + 1]) + u64(p >> 64) + u64(s >> 64);
        t[2 * i + 1] = u64(s);
        c = u64(s >> 64);
    }
    u64 carryTop = 0;
    for (int i = 0; i < n; ++i) {
        const u64 q = t[i] * ctx.MInv;
        u128 s = u128(t[i + n]) + AddMulRowAdx(t + i, ctx.M, size_t(n), q) + carryTop;
        t[i + n] = u64(s);
        carryTop = u64(s >> 64);
    }
    MontFinish(ctx, r, t + n, carryTop);
}

struct TAdxKernel {
    static void Mul(const TMont& ctx, u64* r, const u64* a, const u64* b) { MontMulAdx(ctx, r, a, b); }
    static void Sqr(const TMont& ctx, u64* r, const u64* a) { MontSqrAdx(ctx, r, a); }
};
#endif

template <int Fixed> struct TPortableKernel {
    static void Mul(const TMont& ctx, u64* r, const u64* a, const u64* b) { MontMul<Fixed>(ctx, r, a, b); }
    static void Sqr(const TMont& ctx, u64* r, const u64* a) { MontSqr<Fixed>(ctx, r, a); }
};

void ToLimbs(const u32* w, int nw, u64* limbs, int n) {
    for (int i = 0; i < n; ++i) {
        const u64 lo = 2 * i < nw ? w[2 * i] : 0;
        const u64 hi = 2 * i + 1 < nw ? w[2 * i + 1] : 0;
        limbs[i] = lo | (hi << 32);
    }
}

void FromLimbs(const u64* limbs, int n, u32* w) {
    for (int i = 0; i < n; ++i) {
        w[2 * i] = u32(limbs[i]);
        w[2 * i + 1] = u32(limbs[i] >> 32);
    }
}

void MontSetup(TMont& ctx, const TBigInt& m) {
    ctx.N = (m.FCount + 1) / 2;
    ToLimbs(m.FWords, m.FCount, ctx.M, ctx.N);
    u64 inv = ctx.M[0]; // correct to 3 bits for odd m; each step doubles the precision
    for (int i = 0; i < 5; ++i) inv *= 2 - ctx.M[0] * inv;
    ctx.MInv = u64(0) - inv;
    // R mod m and R^2 mod m by division of the powers of two themselves.
    const int mw = 2 * ctx.N;
    u32 pow[WideWords];
    u32 rem[MaxWords + 2];
    std::fill(pow, pow + mw + 1, 0u);
    pow[mw] = 1;
    DivModRaw(pow, mw + 1, m.FWords, m.FCount, nullptr, rem);
    std::fill(rem + m.FCount, rem + mw, 0u);
    ToLimbs(rem, mw, ctx.One, ctx.N);
    std::fill(pow, pow + 2 * mw + 1, 0u);
    pow[2 * mw] = 1;
    DivModRaw(pow, 2 * mw + 1, m.FWords, m.FCount, nullptr, rem);
    std::fill(rem + m.FCount, rem + mw, 0u);
    ToLimbs(rem, mw, ctx.R2, ctx.N);
}

int WindowBits(int exponentBits) {
    if (exponentBits > 768) return 6;
    if (exponentBits > 240) return 5;
    if (exponentBits > 80) return 4;
    if (exponentBits > 24) return 3;
    return 1;
}

// TKernel: the Montgomery multiply and square to use.
template <class TKernel> TBigInt ModExpMontgomery(const TMont& ctx, const TBigInt& base, const TBigInt& e) {
    const int n = ctx.N;
    const int bits = e.BitCount();
    const int w = WindowBits(bits);
    u64 table[32][MaxLimbs]; // odd powers base^1, base^3, ..., base^(2^w - 1), Montgomery form
    u64 acc[MaxLimbs];
    u64 tmp[MaxLimbs];

    ToLimbs(base.FWords, base.FCount, tmp, n);
    TKernel::Mul(ctx, table[0], tmp, ctx.R2);
    const int entries = 1 << (w - 1);
    if (entries > 1) {
        u64 sq[MaxLimbs];
        TKernel::Sqr(ctx, sq, table[0]);
        for (int k = 1; k < entries; ++k) TKernel::Mul(ctx, table[k], table[k - 1], sq);
    }

    std::copy(ctx.One, ctx.One + n, acc);
    bool started = false;
    int i = bits - 1;
    while (i >= 0) {
        if (!e.Bit(i)) {
            if (started) TKernel::Sqr(ctx, acc, acc);
            --i;
            continue;
        }
        int low = std::max(i - w + 1, 0);
        while (!e.Bit(low)) ++low;
        int value = 0;
        for (int b = i; b >= low; --b) value = (value << 1) | int(e.Bit(b));
        if (started) {
            for (int b = i; b >= low; --b) TKernel::Sqr(ctx, acc, acc);
            TKernel::Mul(ctx, acc, acc, table[(value - 1) / 2]);
        } else {
            std::copy(table[(value - 1) / 2], table[(value - 1) / 2] + n, acc);
            started = true;
        }
        i = low - 1;
    }
    // Leave Montgomery form: multiply by plain 1.
    std::fill(tmp, tmp + n, u64(0));
    tmp[0] = 1;
    TKernel::Mul(ctx, acc, acc, tmp);
    u32 words[MaxWords + 2];
    FromLimbs(acc, n, words);
    SecureWipe(table, sizeof(table));
    return FromRaw(words, 2 * n, false);
}

TBigInt ModExpMontgomery(const TBigInt& base, const TBigInt& e, const TBigInt& m) {
    TMont ctx;
    MontSetup(ctx, m);
#ifdef VARNELLO_BIGINT_ADX
    if (HaveMulxAdx()) return ModExpMontgomery<TAdxKernel>(ctx, base, e);
#endif
    switch (ctx.N) {
    case 16:
        return ModExpMontgomery<TPortableKernel<16>>(ctx, base, e);
    case 32:
        return ModExpMontgomery<TPortableKernel<32>>(ctx, base, e);
    case 64:
        return ModExpMontgomery<TPortableKernel<64>>(ctx, base, e);
    case 128:
        return ModExpMontgomery<TPortableKernel<128>>(ctx, base, e);
    default:
        return ModExpMontgomery<TPortableKernel<0>>(ctx, base, e);
    }
}

TBigInt ModExpPlain(const TBigInt& base, const TBigInt& e, const TBigInt& m) {
    TBigInt result = TBigInt::FromUint(1) % m;
    for (int i = e.BitCount() - 1; i >= 0; --i) {
        result = TBigInt::ModMul(result, result, m);
        if (e.Bit(i)) result = TBigInt::ModMul(result, base, m);
    }
    return result;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

TBigInt::TBigInt() : FCount(1), FNegative(false) {
    std::fill(FWords, FWords + MaxWords, 0u);
    FWords[0] = 1;
}

TBigInt::~TBigInt() {
    SecureWipe(FWords, sizeof(u32) * size_t(FCount));
}

void TBigInt::Normalize() {
    FCount = Normalized(FWords, FCount);
    if (IsZero()) FNegative = false;
}

TBigInt TBigInt::FromUint(uint64_t value) {
    TBigInt r;
    r.FWords[0] = u32(value);
    r.FWords[1] = u32(value >> 32);
    r.FCount = 2;
    r.Normalize();
    return r;
}

TBigInt TBigInt::FromBytes(const uint8_t* data, size_t len) {
    while (len > 0 && *data == 0) {
        ++data;
        --len;
    }
    if (len > size_t(MaxWords) * 4) throw EBigIntOverflow();
    TBigInt r = Zero();
    for (size_t i = 0; i < len; ++i) {
        const size_t bit = (len - 1 - i) * 8;
        r.FWords[bit / 32] |= u32(data[i]) << (bit % 32);
    }
    r.FCount = len == 0 ? 1 : int((len + 3) / 4);
    r.Normalize();
    return r;
}

TBigInt TBigInt::FromHex(std::string_view hex) {
    bool negative = false;
    size_t pos = 0;
    while (pos < hex.size() && (hex[pos] == ' ' || hex[pos] == '\t' || hex[pos] == '\n' || hex[pos] == '\r'))
        ++pos;
    if (pos < hex.size() && hex[pos] == '-') {
        negative = true;
        ++pos;
    }
    int digits[MaxWords * 8 + 1];
    int count = 0;
    bool any = false;
    for (; pos < hex.size(); ++pos) {
        const char c = hex[pos];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        const int d = HexDigit(c);
        if (d < 0) throw std::invalid_argument("Invalid hexadecimal number");
        any = true;
        if (count == 0 && d == 0) continue; // leading zeros
        if (count == MaxWords * 8) throw EBigIntOverflow();
        digits[count++] = d;
    }
    if (!any) throw std::invalid_argument("Invalid hexadecimal number");
    TBigInt r = Zero();
    for (int i = 0; i < count; ++i) {
        const int nibble = count - 1 - i;
        r.FWords[nibble / 8] |= u32(digits[i]) << (4 * (nibble % 8));
    }
    r.FCount = count == 0 ? 1 : (count + 7) / 8;
    r.FNegative = negative;
    r.Normalize();
    return r;
}

std::vector<uint8_t> TBigInt::ToBytes() const {
    std::vector<uint8_t> out(size_t(FCount) * 4);
    for (int i = 0; i < FCount; ++i) {
        const u32 w = FWords[FCount - 1 - i];
        out[4 * i] = uint8_t(w >> 24);
        out[4 * i + 1] = uint8_t(w >> 16);
        out[4 * i + 2] = uint8_t(w >> 8);
        out[4 * i + 3] = uint8_t(w);
    }
    return out;
}

void TBigInt::ToBytes(uint8_t* out, size_t len) const {
    if (ByteCount() > len) throw std::length_error("Multi-precision value does not fit");
    for (size_t i = 0; i < len; ++i) {
        const size_t byte = len - 1 - i; // significance of out[i]
        out[i] = byte / 4 < size_t(FCount) ? uint8_t(FWords[byte / 4] >> (8 * (byte % 4))) : 0;
    }
}

std::vector<uint8_t> TBigInt::ToMinimalBytes() const {
    std::vector<uint8_t> out(ByteCount());
    ToBytes(out.data(), out.size());
    return out;
}

std::string TBigInt::ToHex() const {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = FCount * 8 - 1; i >= 0; --i) {
        const int d = int(FWords[i / 8] >> (4 * (i % 8))) & 15;
        if (s.empty() && d == 0) continue;
        s.push_back(digits[d]);
    }
    if (s.empty()) return "0";
    return FNegative ? "-" + s : s;
}

void TBigInt::RandomFill(TRandom& rng, size_t byteCount) {
    if (byteCount > size_t(MaxWords) * 4) throw EBigIntOverflow();
    uint8_t bytes[MaxWords * 4];
    rng.Fill(bytes, byteCount);
    *this = FromBytes(bytes, byteCount);
    SecureWipe(bytes, byteCount);
}

int TBigInt::BitCount() const {
    if (IsZero()) return 0;
    return (FCount - 1) * 32 + (32 - __builtin_clz(FWords[FCount - 1]));
}

bool TBigInt::Bit(int i) const {
    if (i < 0 || i >= FCount * 32) return false;
    return (FWords[i / 32] >> (i % 32)) & 1;
}

TBigInt operator+(const TBigInt& a, const TBigInt& b) {
    return AddSigned(a, a.FNegative, b, b.FNegative);
}

TBigInt operator-(const TBigInt& a, const TBigInt& b) {
    return AddSigned(a, a.FNegative, b, !b.FNegative && !b.IsZero());
}

TBigInt operator*(const TBigInt& a, const TBigInt& b) {
    u32 tmp[2 * MaxWords];
    MulRaw(a.FWords, a.FCount, b.FWords, b.FCount, tmp);
    return FromRaw(tmp, a.FCount + b.FCount, a.FNegative != b.FNegative);
}

TBigInt operator%(const TBigInt& a, const TBigInt& m) {
    RequirePositiveModulus(m);
    u32 rem[MaxWords];
    DivModRaw(a.FWords, a.FCount, m.FWords, m.FCount, nullptr, rem);
    TBigInt r = FromRaw(rem, m.FCount, false);
    if (a.FNegative && !r.IsZero()) r = m - r;
    return r;
}

TBigInt TBigInt::operator-() const {
    TBigInt r = *this;
    r.FNegative = !FNegative;
    r.Normalize();
    return r;
}

void TBigInt::DivMod(const TBigInt& a, const TBigInt& b, TBigInt& quotient, TBigInt& remainder) {
    if (b.IsZero()) throw std::domain_error("Division by zero");
    u32 q[MaxWords + 1];
    u32 r[MaxWords];
    DivModRaw(a.FWords, a.FCount, b.FWords, b.FCount, q, r);
    const int qn = std::max(a.FCount - b.FCount + 1, 1);
    TBigInt qq = FromRaw(q, qn, a.FNegative != b.FNegative);
    TBigInt rr = FromRaw(r, b.FCount, a.FNegative);
    quotient = qq;
    remainder = rr;
}

TBigInt TBigInt::ModMul(const TBigInt& a, const TBigInt& b, const TBigInt& m) {
    RequirePositiveModulus(m);
    u32 prod[2 * MaxWords];
    u32 rem[MaxWords];
    MulRaw(a.FWords, a.FCount, b.FWords, b.FCount, prod);
    DivModRaw(prod, a.FCount + b.FCount, m.FWords, m.FCount, nullptr, rem);
    TBigInt r = FromRaw(rem, m.FCount, false);
    if (a.FNegative != b.FNegative && !r.IsZero()) r = m - r;
    return r;
}

TBigInt TBigInt::ModExp(const TBigInt& base, const TBigInt& exponent, const TBigInt& m) {
    RequirePositiveModulus(m);
    if (exponent.FNegative) throw std::domain_error("Negative exponent");
    const TBigInt b = base % m;
    if (m.IsOdd() && m.FCount > 1) return ModExpMontgomery(b, exponent, m);
    if (m.IsOdd() && m.FWords[0] > 1) return ModExpMontgomery(b, exponent, m);
    return ModExpPlain(b, exponent, m);
}

TBigInt TBigInt::ModInverse(const TBigInt& a, const TBigInt& m) {
    RequirePositiveModulus(m);
    // Extended Euclid on (a mod m, m); the coefficient of a stays below m in magnitude.
    TBigInt oldR = a % m, r = m;
    TBigInt oldS = FromUint(1), s = Zero();
    TBigInt q, rem;
    while (!r.IsZero()) {
        DivMod(oldR, r, q, rem);
        oldR = r;
        r = rem;
        TBigInt next = oldS - q * s;
        oldS = s;
        s = next;
    }
    if (!(oldR == FromUint(1))) throw std::domain_error("No modular inverse");
    return oldS % m;
}

TBigInt TBigInt::Half() const {
    return ShiftRight(1);
}

TBigInt TBigInt::ShiftLeft(int bits) const {
    if (bits < 0) return ShiftRight(-bits);
    if (IsZero()) return *this;
    if (BitCount() + bits > MaxBits) throw EBigIntOverflow();
    TBigInt r = Zero();
    const int words = bits / 32, shift = bits % 32;
    for (int i = FCount - 1; i >= 0; --i) {
        const u64 v = u64(FWords[i]) << shift;
        if (i + words + 1 < MaxWords) r.FWords[i + words + 1] |= u32(v >> 32);
        r.FWords[i + words] |= u32(v);
    }
    r.FCount = std::min(FCount + words + 1, MaxWords);
    r.FNegative = FNegative;
    r.Normalize();
    return r;
}

TBigInt TBigInt::ShiftRight(int bits) const {
    if (bits < 0) return ShiftLeft(-bits);
    TBigInt r = Zero();
    const int words = bits / 32, shift = bits % 32;
    for (int i = words; i < FCount; ++i) {
        u64 v = FWords[i] >> shift;
        if (shift && i + 1 < FCount) v |= u64(FWords[i + 1]) << (32 - shift);
        r.FWords[i - words] = u32(v);
    }
    r.FCount = std::max(FCount - words, 1);
    r.FNegative = FNegative;
    r.Normalize();
    return r;
}

int TBigInt::CompareMagnitude(const TBigInt& a, const TBigInt& b) {
    return CompareRaw(a.FWords, a.FCount, b.FWords, b.FCount);
}

std::strong_ordering operator<=>(const TBigInt& a, const TBigInt& b) {
    if (a.FNegative != b.FNegative)
        return a.FNegative ? std::strong_ordering::less : std::strong_ordering::greater;
    int c = TBigInt::CompareMagnitude(a, b);
    if (a.FNegative) c = -c;
    return c < 0   ? std::strong_ordering::less
           : c > 0 ? std::strong_ordering::greater
                   : std::strong_ordering::equal;
}

bool operator==(const TBigInt& a, const TBigInt& b) {
    return a.FNegative == b.FNegative && TBigInt::CompareMagnitude(a, b) == 0;
}

} // namespace Varnello::Crypto
