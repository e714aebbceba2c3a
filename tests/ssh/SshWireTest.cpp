// The wire reader's bounds and the writer's encodings.
#include "ssh/SshWire.h"

#include "ssh/crypto/BigInt.h"

#include <gtest/gtest.h>

using namespace Varnello::Ssh;

namespace {

TEST(SshWire, ReadsStopAtTheEndWithInvalidSize) {
    const TBytes three = {0, 0, 1};
    TSshReader r(three);
    EXPECT_THROW(r.Uint32(), ENvSSHException);
    EXPECT_EQ(r.Position(), 0u) << "a failed read consumes nothing";

    const TBytes lying = {0, 0, 0, 5, 'a', 'b'};
    TSshReader s(lying);
    EXPECT_THROW(s.StringView(), ENvSSHException);

    // A length near 2^32 must not wrap the bound.
    const TBytes wrap = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    TSshReader w(wrap, 0xFFFFFFFFu);
    EXPECT_THROW(w.StringView(), ENvSSHException);

    TBytes big = {0, 0, 0x80, 0x01};
    big.resize(4 + 0x8001, 'x');
    TSshReader b(big);
    EXPECT_THROW(b.StringView(), ENvSSHException) << "strings above 32768 bytes are refused";
    TSshReader m(big);
    EXPECT_THROW(m.Mpint(), ENvSSHException);

    TSshReader empty(nullptr, 0);
    EXPECT_FALSE(empty.Boolean()) << "a missing boolean reads as false";
    EXPECT_THROW(empty.Byte(), ENvSSHException);
    const TBytes t = {7};
    TSshReader tr(t);
    EXPECT_THROW(tr.ExpectEnd(), ENvSSHException) << "trailing bytes are refused";
    EXPECT_TRUE(tr.Boolean());
    EXPECT_NO_THROW(tr.ExpectEnd());
}

TEST(SshWire, NameListsAndMpints) {
    TSshWriter w;
    w.NameList({"a", "bc", ""}).NameList({}).String("x,y");
    TSshReader r(w.Data());
    EXPECT_EQ(r.NameList(), (std::vector<std::string>{"a", "bc", ""}));
    EXPECT_TRUE(r.NameList().empty());
    EXPECT_EQ(r.NameList(), (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(r.AtEnd());

    // RFC 4251 section 5 examples: 0, 9a378f9b2e332a7 and 80 (with its zero byte).
    TSshWriter m;
    m.Mpint(TBytes{0, 0}).Mpint(TBytes{0x09, 0xa3, 0x78, 0xf9, 0xb2, 0xe3, 0x32, 0xa7}).Mpint(TBytes{0x80});
    m.Mpint(Varnello::Crypto::TBigInt::FromUint(0x1234));
    const TBytes expected = {0,    0,    0, 0, 0, 0, 0, 8,    0x09, 0xa3, 0x78, 0xf9, 0xb2, 0xe3,
                             0x32, 0xa7, 0, 0, 0, 2, 0, 0x80, 0,    0,    0,    2,    0x12, 0x34};
    EXPECT_EQ(m.Data(), expected);
    TSshReader mr(m.Data());
    EXPECT_TRUE(mr.Mpint().empty());
    EXPECT_EQ(mr.Mpint().size(), 8u);
    EXPECT_EQ(mr.Mpint(), TBytes{0x80}) << "one leading zero byte is dropped";
    EXPECT_EQ(mr.MpintValue(), Varnello::Crypto::TBigInt::FromUint(0x1234));

    const TBytes negative = {0, 0, 0, 1, 0x80};
    TSshReader nr(negative);
    EXPECT_THROW(nr.MpintValue(), ENvSSHException) << "a negative value is never a valid field";
}

TEST(SshWire, WriterCeilingAndLengthPatch) {
    TSshWriter w(10);
    w.Uint32(1);
    EXPECT_THROW(w.String("too long"), ENvSSHException);
    EXPECT_EQ(w.Size(), 4u) << "a refused write adds nothing";
    TSshWriter p;
    const size_t mark = p.BeginLength();
    p.Byte(1).Uint64(2);
    p.PatchLength(mark);
    EXPECT_EQ(p.Data(), (TBytes{0, 0, 0, 9, 1, 0, 0, 0, 0, 0, 0, 0, 2}));
}

} // namespace
