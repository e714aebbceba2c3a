// The cipher table and its contexts: the table as listed, every entry against an independent
// implementation (nettle; IDEA against libgcrypt) on random keys, IVs and packet splits, the
// partial-block rules and texts, and the protocol-1 variants.
#include "ssh/crypto/CipherSuite.h"
#include "ssh/crypto/CpuFeatures.h"

#include "CipherVectors.h"

#include <gcrypt.h>
#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/blowfish.h>
#include <nettle/cast128.h>
#include <nettle/cbc.h>
#include <nettle/des.h>
#include <nettle/serpent.h>
#include <nettle/twofish.h>

#include <cstring>
#include <string>

using namespace Varnello::Crypto;
using namespace CipherTest;

namespace {

// ---- independent references: the whole stream in one call ---------------------------------------

template <typename TCtx>
TBytes NettleCbc(TCtx* ctx, nettle_cipher_func* f, size_t block, TBytes iv, const TBytes& plain) {
    TBytes out(plain.size());
    cbc_encrypt(ctx, f, block, iv.data(), plain.size(), out.data(), plain.data());
    return out;
}

TBytes GcryIdea(int mode, const TBytes& key, const TBytes& iv, const TBytes& plain) {
    static const bool ready = gcry_check_version(nullptr) != nullptr;
    EXPECT_TRUE(ready);
    gcry_cipher_hd_t h;
    EXPECT_EQ(gcry_cipher_open(&h, GCRY_CIPHER_IDEA, mode, 0), 0u);
    EXPECT_EQ(gcry_cipher_setkey(h, key.data(), key.size()), 0u);
    EXPECT_EQ(gcry_cipher_setiv(h, iv.data(), iv.size()), 0u);
    TBytes out(plain.size());
    EXPECT_EQ(gcry_cipher_encrypt(h, out.data(), out.size(), plain.data(), plain.size()), 0u);
    gcry_cipher_close(h);
    return out;
}

// Protocol 2 encryption of `plain` under a table entry, computed by the reference library.
TBytes Reference(const std::string& name, const TBytes& key, const TBytes& iv, const TBytes& plain) {
    if (name == "3des-cbc") {
        des3_ctx c;
        des3_set_key(&c, key.data());
        return NettleCbc(&c, (nettle_cipher_func*)des3_encrypt, 8, iv, plain);
    }
    if (name == "des-cbc") {
        des_ctx c;
        des_set_key(&c, key.data());
        return NettleCbc(&c, (nettle_cipher_func*)des_encrypt, 8, iv, plain);
    }
    if (name == "blowfish-cbc") {
        blowfish_ctx c;
        blowfish_set_key(&c, key.size(), key.data());
        return NettleCbc(&c, (nettle_cipher_func*)blowfish_encrypt, 8, iv, plain);
    }
    if (name.rfind("twofish", 0) == 0) {
        twofish_ctx c;
        twofish_set_key(&c, key.size(), key.data());
        return NettleCbc(&c, (nettle_cipher_func*)twofish_encrypt, 16, iv, plain);
    }
    if (name.rfind("serpent", 0) == 0) {
        serpent_ctx c;
        serpent_set_key(&c, key.size(), key.data());
        return NettleCbc(&c, (nettle_cipher_func*)serpent_encrypt, 16, iv, plain);
    }
    if (name.rfind("aes", 0) == 0) {
        if (key.size() == 16) {
            aes128_ctx c;
            aes128_set_encrypt_key(&c, key.data());
            return NettleCbc(&c, (nettle_cipher_func*)aes128_encrypt, 16, iv, plain);
        }
        if (key.size() == 24) {
            aes192_ctx c;
            aes192_set_encrypt_key(&c, key.data());
            return NettleCbc(&c, (nettle_cipher_func*)aes192_encrypt, 16, iv, plain);
        }
        aes256_ctx c;
        aes256_set_encrypt_key(&c, key.data());
        return NettleCbc(&c, (nettle_cipher_func*)aes256_encrypt, 16, iv, plain);
    }
    if (name == "cast128-cbc") {
        cast128_ctx c;
        cast5_set_key(&c, key.size(), key.data());
        return NettleCbc(&c, (nettle_cipher_func*)cast128_encrypt, 8, iv, plain);
    }
    if (name == "arcfour") {
        arcfour_ctx c;
        arcfour_set_key(&c, key.size(), key.data());
        TBytes out(plain.size());
        arcfour_crypt(&c, plain.size(), out.data(), plain.data());
        return out;
    }
    if (name == "idea-cbc") return GcryIdea(GCRY_CIPHER_MODE_CBC, key, iv, plain);
    if (name == "none") return plain;
    ADD_FAILURE() << "no reference for " << name;
    return {};
}

// Runs a context over `in` in the given pieces and concatenates what it writes.
TBytes RunSplit(TNvCipher& ctx, const TBytes& in, const std::vector<size_t>& pieces) {
    TBytes out;
    size_t at = 0;
    for (size_t piece : pieces) {
        TBytes buf(in.begin() + at, in.begin() + at + piece);
        buf.resize(piece + 16);
        const size_t wrote = ctx.Process(buf.data(), piece, buf.data(), buf.size());
        out.insert(out.end(), buf.begin(), buf.begin() + wrote);
        at += piece;
    }
    return out;
}

// Pieces of whole blocks (the transport's case), some empty.
std::vector<size_t> BlockSplit(std::mt19937& rng, size_t blocks, size_t block) {
    auto parts = RandomSplit(rng, blocks);
    for (auto& p : parts) p *= block;
    return parts;
}

class CipherPaths : public ::testing::TestWithParam<bool> {
protected:
    TPortableCryptoScope FScope{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Paths, CipherPaths, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Portable" : "Native"; });

// ---- the table -----------------------------------------------------------------------------------

TEST(CipherSuite, TableAsListed) {
    struct TRow {
        const char* Name;
        size_t Key, Block;
        bool Enabled;
        int Ssh1;
    };
    const TRow rows[NvCipherCount] = {
        {"3des-cbc", 24, 8, false, 3},
        {"blowfish-cbc", 16, 8, true, 6},
        {"twofish256-cbc", 32, 16, true, -1},
        {"twofish192-cbc", 24, 16, true, -1},
        {"twofish128-cbc", 16, 16, true, -1},
        {"aes256-cbc", 32, 16, true, -1},
        {"aes192-cbc", 24, 16, true, -1},
        {"aes128-cbc", 16, 16, true, -1},
        {"serpent256-cbc", 32, 16, true, -1},
        {"serpent192-cbc", 24, 16, true, -1},
        {"serpent128-cbc", 16, 16, true, -1},
        {"arcfour", 16, 8, true, 5},
        {"idea-cbc", 16, 8, true, 1},
        {"cast128-cbc", 16, 8, true, -1},
        {"none", 0, 0, true, 0},
        {"des-cbc", 8, 8, true, 2},
    };
    for (size_t i = 0; i < NvCipherCount; ++i) {
        const auto& c = NvCiphers[i];
        EXPECT_EQ(c.Index, static_cast<int>(i));
        EXPECT_STREQ(c.Name, rows[i].Name);
        EXPECT_EQ(c.KeySize, rows[i].Key) << c.Name;
        EXPECT_EQ(c.BlockSize, rows[i].Block) << c.Name;
        EXPECT_EQ(c.Enabled, rows[i].Enabled) << c.Name;
        EXPECT_EQ(c.Ssh1Number, rows[i].Ssh1) << c.Name;
        EXPECT_EQ(FindCipher(c.Name), &c);
    }
    EXPECT_EQ(FindCipher("aes128-ctr"), nullptr);
    EXPECT_EQ(FindCipher(""), nullptr);
}

// ---- every entry against the reference ------------------------------------------------------------

TEST_P(CipherPaths, EveryEntryMatchesReferenceAcrossSplitPackets) {
    std::mt19937 rng(2026);
    for (const auto& info : NvCiphers) {
        const std::string name = info.Name;
        const size_t block = info.BlockSize ? info.BlockSize : 1;
        for (int round = 0; round < 12; ++round) {
            const TBytes key = RandomBytes(rng, info.KeySize), iv = RandomBytes(rng, info.BlockSize);
            const size_t blocks = rng() % 40;
            const TBytes plain = RandomBytes(rng, blocks * block);
            const TBytes expect = Reference(name, key, iv, plain);

            auto enc = info.Create(true, key.data(), iv.data());
            auto dec = info.Create(false, key.data(), iv.data());
            ASSERT_TRUE(enc && dec) << name;
            EXPECT_EQ(enc->BlockSize(), info.BlockSize ? info.BlockSize : 1) << name;
            EXPECT_EQ(ToHex(RunSplit(*enc, plain, BlockSplit(rng, blocks, block))), ToHex(expect))
                << name << " round " << round;
            EXPECT_EQ(RunSplit(*dec, expect, BlockSplit(rng, blocks, block)), plain)
                << name << " round " << round;
        }
    }
}

TEST(CipherSuite, NoneAndDesCbcAreWhatTheySay) {
    const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8}, iv[8] = {};
    TBytes data = FromHex("00112233445566778899aabbccddeeff");
    const TBytes orig = data;
    auto none = FindCipher("none")->Create(true, nullptr, nullptr);
    EXPECT_EQ(none->Process(data.data(), 5), 5u);
    EXPECT_EQ(data, orig);
    // "des-cbc" must really encrypt: a bare entry would let packets travel in clear.
    auto des = FindCipher("des-cbc")->Create(true, key, iv);
    des->Process(data.data(), data.size());
    EXPECT_NE(data, orig);
}

// ---- edge cases ------------------------------------------------------------------------------------

TEST_P(CipherPaths, Aes128CbcSecondPacketChainsFromTheFirst) {
    std::mt19937 rng(7);
    const TBytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16);
    TBytes p1 = RandomBytes(rng, 48), p2 = RandomBytes(rng, 32);
    const TBytes plain2 = p2;
    auto enc = FindCipher("aes128-cbc")->Create(true, key.data(), iv.data());
    enc->Process(p1.data(), p1.size());
    enc->Process(p2.data(), p2.size());
    // A fresh context whose IV is the last cipher block of packet 1 gives the same packet 2.
    const TBytes lastBlock(p1.end() - 16, p1.end());
    TBytes alone = plain2;
    FindCipher("aes128-cbc")->Create(true, key.data(), lastBlock.data())->Process(alone.data(), alone.size());
    EXPECT_EQ(alone, p2);
    // And the decryption context carries its chaining value the same way.
    auto dec = FindCipher("aes128-cbc")->Create(false, key.data(), iv.data());
    dec->Process(p1.data(), p1.size());
    dec->Process(p2.data(), p2.size());
    EXPECT_EQ(p2, plain2);
}

TEST(CipherSuite, ArcfourStartsWithTheFirstKeystreamByte) {
    const TBytes key = FromHex("0102030405060708090a0b0c0d0e0f10"); // RFC 6229 keystream starts 9a c7
    uint8_t b[2] = {0, 0};
    auto enc = FindCipher("arcfour")->Create(true, key.data(), nullptr);
    enc->Process(b, 1);
    enc->Process(b + 1, 1);
    EXPECT_EQ(b[0], 0x9a);
    EXPECT_EQ(b[1], 0xc7);
}

TEST_P(CipherPaths, Aes3desIdeaHoldAnIncompleteBlockForTheNextCall) {
    std::mt19937 rng(11);
    for (const char* name : {"aes128-cbc", "aes256-cbc", "3des-cbc", "idea-cbc", "des-cbc"}) {
        const auto* info = FindCipher(name);
        const size_t b = info->BlockSize;
        const TBytes key = RandomBytes(rng, info->KeySize), iv = RandomBytes(rng, b);
        const TBytes plain = RandomBytes(rng, 6 * b);
        const TBytes expect = Reference(name, key, iv, plain);
        // Odd splits: every call writes only the whole blocks so far, in order.
        auto enc = info->Create(true, key.data(), iv.data());
        std::vector<size_t> pieces = {b / 2 + 1, b - 1, 1, 2 * b + 3, 0, b + b / 2};
        size_t sum = 0;
        for (size_t p : pieces) sum += p;
        pieces.push_back(plain.size() - sum); // ends on a block boundary, so everything comes out
        EXPECT_EQ(ToHex(RunSplit(*enc, plain, pieces)), ToHex(expect)) << name;
        // Random byte splits, both directions: only the grid of the whole stream matters.
        for (int round = 0; round < 20; ++round) {
            auto e = info->Create(true, key.data(), iv.data());
            auto d = info->Create(false, key.data(), iv.data());
            ASSERT_EQ(ToHex(RunSplit(*e, plain, RandomSplit(rng, plain.size()))), ToHex(expect)) << name;
            ASSERT_EQ(RunSplit(*d, expect, RandomSplit(rng, expect.size())), plain) << name;
        }
        // A call that completes a held block writes more than it was given; in place, too.
        auto dec = info->Create(false, key.data(), iv.data());
        TBytes buf(expect.begin(), expect.begin() + 3);
        EXPECT_EQ(dec->Process(buf.data(), 3, buf.data(), buf.size()), 0u);
        buf.assign(expect.begin() + 3, expect.end());
        buf.resize(buf.size() + b);
        EXPECT_EQ(dec->Process(buf.data(), expect.size() - 3, buf.data(), buf.size()), expect.size()) << name;
        buf.resize(expect.size());
        EXPECT_EQ(buf, plain) << name;
        // Without room for the completed block the context refuses rather than overrunning.
        auto dec2 = info->Create(false, key.data(), iv.data());
        TBytes small(expect.begin(), expect.begin() + 1);
        dec2->Process(small.data(), 1, small.data(), 1);
        TBytes rest(expect.begin() + 1, expect.begin() + b);
        EXPECT_THROW(dec2->Process(rest.data(), rest.size(), rest.data(), rest.size()), ENvCipherError)
            << name;
    }
}

void ExpectText(TNvCipher& ctx, const uint8_t* in, size_t len, uint8_t* out, size_t outSize,
                const std::string& text) {
    try {
        ctx.Process(in, len, out, outSize);
        ADD_FAILURE() << "no exception, expected \"" << text << "\"";
    } catch (const ENvCipherError& e) {
        EXPECT_EQ(std::string(e.what()), text);
    }
}

TEST(CipherSuite, RefusingCiphersUseTheirOwnTexts) {
    struct TCase {
        const char* Name;
        const char* SizeText;
        const char* OutText;
    };
    const TCase cases[] = {
        {"blowfish-cbc", "Invalid chunk size", "Output buffer too small"},
        {"serpent128-cbc", "Size must be a multiple of 16", "Output buffer too small"},
        {"serpent256-cbc", "Size must be a multiple of 16", "Output buffer too small"},
        {"cast128-cbc", "Invalid input size", "Output buffer size too small"},
        {"twofish128-cbc", "The input size must be a multiple of cipher block size",
         "Output buffer too small"},
        {"twofish256-cbc", "The input size must be a multiple of cipher block size",
         "Output buffer too small"},
    };
    uint8_t key[32] = {}, iv[16] = {}, buf[64] = {};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto* info = FindCipher(c.Name);
        for (bool encrypt : {true, false}) {
            auto ctx = info->Create(encrypt, key, iv);
            ExpectText(*ctx, buf, info->BlockSize + 4, buf, sizeof(buf), c.SizeText);
            ExpectText(*ctx, buf, 1, buf, sizeof(buf), c.SizeText);
            ExpectText(*ctx, buf, 2 * info->BlockSize, buf, info->BlockSize, c.OutText);
            EXPECT_EQ(ctx->Process(buf, 0), 0u);
        }
        // A refused call leaves the chain untouched: the next whole packet still matches.
        auto ctx = info->Create(true, key, iv);
        EXPECT_THROW(ctx->Process(buf, 3), ENvCipherError);
        TBytes one(info->BlockSize, 0x5a);
        ctx->Process(one.data(), one.size());
        const TBytes ref = Reference(c.Name, TBytes(key, key + info->KeySize),
                                     TBytes(iv, iv + info->BlockSize), TBytes(info->BlockSize, 0x5a));
        EXPECT_EQ(one, ref);
    }
}

// ---- protocol 1 ------------------------------------------------------------------------------------

TEST(CipherSuiteSsh1, VariantsMatchTheirDefinitions) {
    std::mt19937 rng(1995);
    for (int round = 0; round < 10; ++round) {
        const TBytes sk = RandomBytes(rng, 32);
        const TBytes zero(8, 0);
        const size_t blocks = 1 + rng() % 30;
        const TBytes plain = RandomBytes(rng, 8 * blocks);
        auto check = [&](int number, const TBytes& expect) {
            SCOPED_TRACE("cipher " + std::to_string(number));
            auto enc = CreateSsh1Cipher(number, true, sk.data());
            auto dec = CreateSsh1Cipher(number, false, sk.data());
            ASSERT_TRUE(enc && dec);
            EXPECT_EQ(ToHex(RunSplit(*enc, plain, BlockSplit(rng, blocks, 8))), ToHex(expect));
            EXPECT_EQ(RunSplit(*dec, expect, BlockSplit(rng, blocks, 8)), plain);
        };

        check(0, plain);
        {
            des_ctx c;
            des_set_key(&c, sk.data());
            check(2, NettleCbc(&c, (nettle_cipher_func*)des_encrypt, 8, zero, plain));
        }
        {
            // Inner CBC: three DES-CBC passes (encrypt K1, decrypt K2, encrypt K3), own IVs.
            des_ctx k1, k2, k3;
            des_set_key(&k1, sk.data());
            des_set_key(&k2, sk.data() + 8);
            des_set_key(&k3, sk.data() + 16);
            TBytes t = NettleCbc(&k1, (nettle_cipher_func*)des_encrypt, 8, zero, plain);
            TBytes iv = zero, u(t.size());
            cbc_decrypt(&k2, (nettle_cipher_func*)des_decrypt, 8, iv.data(), t.size(), u.data(), t.data());
            check(3, NettleCbc(&k3, (nettle_cipher_func*)des_encrypt, 8, zero, u));
        }
        {
            // Blowfish with 32 key bytes and every data word byte-swapped around the block operation.
            auto swapWords = [](TBytes b) {
                for (size_t i = 0; i < b.size(); i += 4) {
                    std::swap(b[i], b[i + 3]);
                    std::swap(b[i + 1], b[i + 2]);
                }
                return b;
            };
            blowfish_ctx c;
            blowfish_set_key(&c, 32, sk.data());
            check(6,
                  swapWords(NettleCbc(&c, (nettle_cipher_func*)blowfish_encrypt, 8, zero, swapWords(plain))));
        }
        check(1, GcryIdea(GCRY_CIPHER_MODE_CFB, TBytes(sk.begin(), sk.begin() + 16), zero, plain));
        {
            // RC4: client-to-server (our encryption) keyed with bytes 16..31.
            arcfour_ctx c;
            arcfour_set_key(&c, 16, sk.data() + 16);
            TBytes out(plain.size());
            arcfour_crypt(&c, plain.size(), out.data(), plain.data());
            auto enc = CreateSsh1Cipher(5, true, sk.data());
            TBytes got = plain;
            enc->Process(got.data(), got.size());
            EXPECT_EQ(got, out);
            // Server-to-client (our decryption) is keyed with bytes 0..15.
            arcfour_set_key(&c, 16, sk.data());
            arcfour_crypt(&c, plain.size(), out.data(), plain.data());
            auto dec = CreateSsh1Cipher(5, false, sk.data());
            got = plain;
            dec->Process(got.data(), got.size());
            EXPECT_EQ(got, out);
        }
    }
    const uint8_t sk[32] = {};
    EXPECT_EQ(CreateSsh1Cipher(4, true, sk), nullptr);
    EXPECT_EQ(CreateSsh1Cipher(7, false, sk), nullptr);
}

} // namespace
