// Multi-precision integers: the record's conversions and limits, and every operation against GMP
// on random operands of sizes up to 8192 bits.
#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/CpuFeatures.h"
#include "ssh/crypto/Random.h"

#include "GmpOracle.h"

#include <gtest/gtest.h>

#include <random>

using namespace Varnello::Crypto;

namespace {

TBigInt RandomValue(std::mt19937_64& gen, int bits, bool allowNegative = false) {
    std::vector<uint8_t> bytes((bits + 7) / 8);
    for (auto& b : bytes) b = uint8_t(gen());
    if (!bytes.empty() && bits % 8) bytes[0] &= uint8_t((1u << (bits % 8)) - 1);
    // Sparse patterns (runs of 0xFF or 0x00) find carry and normalisation faults that uniform
    // bytes rarely reach.
    switch (gen() % 6) {
    case 0:
        std::fill(bytes.begin() + bytes.size() / 2, bytes.end(), 0xFF);
        break;
    case 1:
        std::fill(bytes.begin() + bytes.size() / 3, bytes.end(), 0x00);
        break;
    default:
        break;
    }
    TBigInt v = TBigInt::FromBytes(bytes);
    if (allowNegative && (gen() & 1)) v = -v;
    return v;
}

std::string Hex(const TBigInt& b) {
    return b.ToHex();
}

} // namespace

TEST(BigIntTest, RecordConversions) {
    TBigInt fresh;
    EXPECT_EQ(fresh.ToHex(), "1");
    EXPECT_EQ(fresh.ToBytes(), (std::vector<uint8_t>{0, 0, 0, 1}));

    const uint8_t padded[] = {0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x9a};
    TBigInt v = TBigInt::FromBytes(padded, sizeof(padded));
    EXPECT_EQ(v.WordCount(), 2);
    EXPECT_EQ(v.ToBytes(), (std::vector<uint8_t>{0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x9a}));
    EXPECT_EQ(v.ToMinimalBytes(), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9a}));
    uint8_t fixed[7];
    v.ToBytes(fixed, sizeof(fixed));
    EXPECT_EQ(std::vector<uint8_t>(fixed, fixed + 7),
              (std::vector<uint8_t>{0, 0, 0x12, 0x34, 0x56, 0x78, 0x9a}));
    EXPECT_THROW(v.ToBytes(fixed, 4), std::length_error);

    EXPECT_TRUE(TBigInt::FromBytes(nullptr, 0).IsZero());
    EXPECT_EQ(TBigInt::Zero().ToBytes(), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(TBigInt::Zero().ToMinimalBytes().empty());

    EXPECT_EQ(TBigInt::FromHex("00ABCdef0123456789").ToHex(), "abcdef0123456789");
    EXPECT_EQ(TBigInt::FromHex("-ff").ToHex(), "-ff");
    EXPECT_EQ(TBigInt::FromHex("-0").ToHex(), "0");
    EXPECT_THROW(TBigInt::FromHex("12g4"), std::invalid_argument);
    EXPECT_THROW(TBigInt::FromHex(""), std::invalid_argument);
}

TEST(BigIntTest, ResultsBeyond8192BitsAreRejected) {
    const TBigInt top = TBigInt::FromUint(1).ShiftLeft(8191); // 8192 bits: fits
    const TBigInt max = (top - TBigInt::FromUint(1)) + top;   // 2^8192 - 1
    EXPECT_EQ(max.BitCount(), 8192);
    EXPECT_THROW(max + TBigInt::FromUint(1), EBigIntOverflow);
    EXPECT_THROW(top.ShiftLeft(1), EBigIntOverflow);
    const TBigInt half = TBigInt::FromUint(1).ShiftLeft(4096);
    EXPECT_THROW(half * half, EBigIntOverflow);
    EXPECT_EQ((half * TBigInt::FromUint(1).ShiftLeft(4095)).BitCount(), 8192);
    std::vector<uint8_t> big(1025, 0);
    big[0] = 1;
    EXPECT_THROW(TBigInt::FromBytes(big), EBigIntOverflow);
    big[0] = 0; // leading zeros do not count
    big[1] = 0x80;
    EXPECT_EQ(TBigInt::FromBytes(big).BitCount(), 8192);
    EXPECT_THROW(TBigInt::FromHex(std::string(2049, 'f')), EBigIntOverflow);
    // The operands survive a rejected operation.
    EXPECT_EQ(max.BitCount(), 8192);

    EXPECT_THROW(TBigInt::FromUint(5) % TBigInt::Zero(), std::domain_error);
    EXPECT_THROW(TBigInt::ModInverse(TBigInt::FromUint(6), TBigInt::FromUint(9)), std::domain_error);
    EXPECT_THROW(TBigInt::ModExp(TBigInt::FromUint(2), -TBigInt::FromUint(1), TBigInt::FromUint(7)),
                 std::domain_error);
}

TEST(BigIntTest, ArithmeticMatchesGmp) {
    std::mt19937_64 gen(20261209);
    for (int iter = 0; iter < 400; ++iter) {
        const int bitsA = 1 + int(gen() % 8192);
        const int bitsB = 1 + int(gen() % (iter % 4 == 0 ? 64 : 8192));
        const TBigInt a = RandomValue(gen, bitsA, true);
        const TBigInt b = RandomValue(gen, bitsB, true);
        TMpz ga(a), gb(b), r;
        SCOPED_TRACE("a=" + Hex(a) + " b=" + Hex(b));

        mpz_add(r.V, ga.V, gb.V);
        if (mpz_sizeinbase(r.V, 2) <= 8192) {
            EXPECT_EQ(Hex(a + b), r.Hex());
        }
        mpz_sub(r.V, ga.V, gb.V);
        if (mpz_sizeinbase(r.V, 2) <= 8192) {
            EXPECT_EQ(Hex(a - b), r.Hex());
        }
        mpz_mul(r.V, ga.V, gb.V);
        if (mpz_sizeinbase(r.V, 2) <= 8192) {
            EXPECT_EQ(Hex(a * b), r.Hex());
        } else {
            EXPECT_THROW(a * b, EBigIntOverflow);
        }

        EXPECT_EQ(a < b, mpz_cmp(ga.V, gb.V) < 0);
        EXPECT_EQ(a == b, mpz_cmp(ga.V, gb.V) == 0);
        EXPECT_EQ(a == a, true);
        mpz_tdiv_q_2exp(r.V, ga.V, 1);
        EXPECT_EQ(Hex(a.Half()), r.Hex());

        if (b.IsZero()) continue;
        TBigInt q, rem;
        TBigInt::DivMod(a, b, q, rem);
        TMpz gq, gr;
        mpz_tdiv_qr(gq.V, gr.V, ga.V, gb.V);
        EXPECT_EQ(Hex(q), gq.Hex());
        EXPECT_EQ(Hex(rem), gr.Hex());

        const TBigInt m = b.IsNegative() ? -b : b;
        TMpz gm(m);
        mpz_mod(r.V, ga.V, gm.V);
        EXPECT_EQ(Hex(a % m), r.Hex());

        const TBigInt c = RandomValue(gen, 1 + int(gen() % 4096));
        TMpz gc(c);
        mpz_mul(r.V, gc.V, ga.V);
        mpz_mod(r.V, r.V, gm.V);
        EXPECT_EQ(Hex(TBigInt::ModMul(c, a, m)), r.Hex());

        if (mpz_invert(r.V, ga.V, gm.V) != 0 && mpz_cmp_ui(gm.V, 1) > 0) {
            EXPECT_EQ(Hex(TBigInt::ModInverse(a, m)), r.Hex());
        }
    }
}

// Runs on the MULX/ADX kernel where the processor has it, and on the portable kernel.
class BigIntModExpTest : public ::testing::TestWithParam<bool> {
protected:
    TPortableCryptoScope FScope{GetParam()};
};

TEST_P(BigIntModExpTest, MatchesGmp) {
    std::mt19937_64 gen(7);
    auto check = [&](int modBits, int expBits, bool odd) {
        // A modulus of exactly modBits bits with the wanted parity.
        std::vector<uint8_t> mb((modBits + 7) / 8);
        for (auto& x : mb) x = uint8_t(gen());
        mb[0] = uint8_t((mb[0] | 0x80) >> ((8 - modBits % 8) % 8));
        mb.back() = odd ? (mb.back() | 1) : (mb.back() & 0xFE);
        const TBigInt m = TBigInt::FromBytes(mb);
        ASSERT_EQ(m.BitCount(), modBits);
        const TBigInt base = RandomValue(gen, 1 + int(gen() % (modBits + 40)), true);
        const TBigInt e = RandomValue(gen, expBits);
        TMpz gb(base), ge(e), gm(m), r;
        mpz_powm(r.V, gb.V, ge.V, gm.V);
        SCOPED_TRACE("m=" + Hex(m) + " base=" + Hex(base) + " e=" + Hex(e));
        EXPECT_EQ(Hex(TBigInt::ModExp(base, e, m)), r.Hex());
    };
    for (int i = 0; i < 60; ++i) check(2 + int(gen() % 2048), 1 + int(gen() % 2048), true);
    for (int i = 0; i < 20; ++i) check(2 + int(gen() % 512), 1 + int(gen() % 300), false);
    for (int bits : {1024, 2048, 4096, 8192}) check(bits, bits, true);
    check(8192, 8192, true);
    check(4096, 4096, true);

    const TBigInt seven = TBigInt::FromUint(7);
    EXPECT_EQ(Hex(TBigInt::ModExp(TBigInt::FromUint(3), TBigInt::Zero(), seven)), "1");
    EXPECT_EQ(Hex(TBigInt::ModExp(TBigInt::FromUint(3), TBigInt::FromUint(5), TBigInt::FromUint(1))), "0");
    EXPECT_EQ(Hex(TBigInt::ModExp(-TBigInt::FromUint(2), TBigInt::FromUint(3), seven)), "6");
    EXPECT_EQ(Hex(TBigInt::ModExp(TBigInt::Zero(), TBigInt::FromUint(3), seven)), "0");
}

INSTANTIATE_TEST_SUITE_P(, BigIntModExpTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "Native"; });

TEST(BigIntTest, RandomFillTakesTheGivenBytes) {
    TRandom rng;
    const uint8_t seed[] = {1, 2, 3};
    rng.SeedWith(seed, sizeof(seed));
    TBigInt v;
    v.RandomFill(rng, 128);
    EXPECT_FALSE(v.IsNegative());
    EXPECT_LE(v.ByteCount(), 128u);
    EXPECT_GT(v.ByteCount(), 120u); // a leading zero byte or two at most, by chance
    TRandom again;
    again.SeedWith(seed, sizeof(seed));
    TBigInt w;
    w.RandomFill(again, 128);
    EXPECT_EQ(v, w);
    EXPECT_THROW(v.RandomFill(rng, 1025), EBigIntOverflow);
}
