// Throughput of every cipher context on 16 KiB packets, in place, as the transport drives them.
// BM_<cipher>/<enc|dec>; the "_table" AES variants force the portable code. nettle's Twofish and
// Serpent run beside ours as BM_nettle_<cipher>, libgcrypt's IDEA as BM_gcrypt_idea_enc.
#include "ssh/crypto/CipherSuite.h"
#include "ssh/crypto/CpuFeatures.h"

#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <nettle/cbc.h>
#include <nettle/serpent.h>
#include <nettle/twofish.h>

#include <vector>

using namespace Varnello::Crypto;

namespace {

constexpr size_t PacketBytes = 16384;

void RunContext(benchmark::State& state, const char* name, bool encrypt, bool portable) {
    TPortableCryptoScope scope(portable);
    const auto* info = FindCipher(name);
    std::vector<uint8_t> key(info->KeySize, 0x42), iv(info->BlockSize, 0x24), buf(PacketBytes, 0x5a);
    auto ctx = info->Create(encrypt, key.data(), iv.data());
    for (auto _ : state) {
        ctx->Process(buf.data(), buf.size());
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * PacketBytes);
}

#define CIPHER_BENCH(label, name, encrypt, portable)                                                         \
    void BM_##label(benchmark::State& s) {                                                                   \
        RunContext(s, name, encrypt, portable);                                                              \
    }                                                                                                        \
    BENCHMARK(BM_##label)->UseRealTime()

CIPHER_BENCH(aes128_enc, "aes128-cbc", true, false);
CIPHER_BENCH(aes128_dec, "aes128-cbc", false, false);
CIPHER_BENCH(aes256_enc, "aes256-cbc", true, false);
CIPHER_BENCH(aes256_dec, "aes256-cbc", false, false);
CIPHER_BENCH(aes128_table_enc, "aes128-cbc", true, true);
CIPHER_BENCH(aes128_table_dec, "aes128-cbc", false, true);
CIPHER_BENCH(3des_enc, "3des-cbc", true, false);
CIPHER_BENCH(blowfish_enc, "blowfish-cbc", true, false);
CIPHER_BENCH(cast128_enc, "cast128-cbc", true, false);
CIPHER_BENCH(rc4_enc, "arcfour", true, false);
CIPHER_BENCH(twofish256_enc, "twofish256-cbc", true, false);
CIPHER_BENCH(twofish256_dec, "twofish256-cbc", false, false);
CIPHER_BENCH(serpent256_enc, "serpent256-cbc", true, false);
CIPHER_BENCH(serpent256_dec, "serpent256-cbc", false, false);
CIPHER_BENCH(idea_enc, "idea-cbc", true, false);
CIPHER_BENCH(des_enc, "des-cbc", true, false);

template <typename TCtx>
void RunNettle(benchmark::State& state, TCtx* ctx, nettle_cipher_func* f, bool encrypt) {
    std::vector<uint8_t> iv(16, 0x24), buf(PacketBytes, 0x5a);
    for (auto _ : state) {
        if (encrypt)
            cbc_encrypt(ctx, f, 16, iv.data(), buf.size(), buf.data(), buf.data());
        else
            cbc_decrypt(ctx, f, 16, iv.data(), buf.size(), buf.data(), buf.data());
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * PacketBytes);
}

void BM_nettle_twofish256_enc(benchmark::State& s) {
    const std::vector<uint8_t> key(32, 0x42);
    twofish_ctx c;
    twofish_set_key(&c, 32, key.data());
    RunNettle(s, &c, (nettle_cipher_func*)twofish_encrypt, true);
}
void BM_nettle_twofish256_dec(benchmark::State& s) {
    const std::vector<uint8_t> key(32, 0x42);
    twofish_ctx c;
    twofish_set_key(&c, 32, key.data());
    RunNettle(s, &c, (nettle_cipher_func*)twofish_decrypt, false);
}
void BM_nettle_serpent256_enc(benchmark::State& s) {
    const std::vector<uint8_t> key(32, 0x42);
    serpent_ctx c;
    serpent_set_key(&c, 32, key.data());
    RunNettle(s, &c, (nettle_cipher_func*)serpent_encrypt, true);
}
void BM_nettle_serpent256_dec(benchmark::State& s) {
    const std::vector<uint8_t> key(32, 0x42);
    serpent_ctx c;
    serpent_set_key(&c, 32, key.data());
    RunNettle(s, &c, (nettle_cipher_func*)serpent_decrypt, false);
}
BENCHMARK(BM_nettle_twofish256_enc)->UseRealTime();
BENCHMARK(BM_nettle_twofish256_dec)->UseRealTime();
BENCHMARK(BM_nettle_serpent256_enc)->UseRealTime();
BENCHMARK(BM_nettle_serpent256_dec)->UseRealTime();

void BM_gcrypt_idea_enc(benchmark::State& state) {
    if (!gcry_check_version(nullptr)) {
        state.SkipWithError("libgcrypt did not initialise");
        return;
    }
    const std::vector<uint8_t> key(16, 0x42), iv(8, 0x24);
    std::vector<uint8_t> buf(PacketBytes, 0x5a);
    gcry_cipher_hd_t h;
    if (gcry_cipher_open(&h, GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_CBC, 0) ||
        gcry_cipher_setkey(h, key.data(), 16) || gcry_cipher_setiv(h, iv.data(), 8)) {
        state.SkipWithError("libgcrypt has no IDEA");
        return;
    }
    for (auto _ : state) {
        gcry_cipher_encrypt(h, buf.data(), buf.size(), nullptr, 0);
        benchmark::DoNotOptimize(buf.data());
    }
    gcry_cipher_close(h);
    state.SetBytesProcessed(int64_t(state.iterations()) * PacketBytes);
}
BENCHMARK(BM_gcrypt_idea_enc)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
