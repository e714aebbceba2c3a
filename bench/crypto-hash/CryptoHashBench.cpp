// Throughput of SHA-1, MD5 and HMAC-SHA1 on 16 KiB blocks, and modular exponentiation with full
// exponents at 1024 to 8192 bits next to GMP's mpz_powm_sec on the same operands.
#include "ssh/crypto/BigInt.h"
#include "ssh/crypto/CpuFeatures.h"
#include "ssh/crypto/Hmac.h"
#include "ssh/crypto/Md5.h"
#include "ssh/crypto/Sha1.h"

#include <benchmark/benchmark.h>
#include <gmp.h>

#include <random>
#include <vector>

using namespace Varnello::Crypto;

namespace {

constexpr size_t BlockBytes = 16384;

std::vector<uint8_t> Block() {
    std::vector<uint8_t> v(BlockBytes);
    std::mt19937_64 gen(1);
    for (auto& b : v) b = uint8_t(gen());
    return v;
}

template <class THash> void HashBlocks(benchmark::State& state) {
    const std::vector<uint8_t> data = Block();
    uint8_t digest[THash::DigestSize];
    for (auto _ : state) {
        THash::Hash(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BlockBytes));
}

void BM_sha1(benchmark::State& state) {
    HashBlocks<TSha1>(state);
}
void BM_sha1_portable(benchmark::State& state) {
    TPortableCryptoScope portable;
    HashBlocks<TSha1>(state);
}
void BM_md5(benchmark::State& state) {
    HashBlocks<TMd5>(state);
}

void BM_hmac_sha1(benchmark::State& state) {
    const std::vector<uint8_t> data = Block();
    const uint8_t key[20] = {1, 2, 3};
    THmac<TSha1> mac(key, sizeof(key));
    uint8_t out[20];
    for (auto _ : state) {
        mac.Update(data.data(), data.size());
        mac.Final(out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BlockBytes));
}

struct TOperands {
    std::vector<uint8_t> Base, Exponent, Modulus;
};

TOperands Operands(int bits) {
    std::mt19937_64 gen(bits);
    TOperands o;
    for (auto* v : {&o.Base, &o.Exponent, &o.Modulus}) {
        v->resize(size_t(bits) / 8);
        for (auto& b : *v) b = uint8_t(gen());
    }
    o.Modulus[0] |= 0x80;
    o.Modulus.back() |= 1;
    o.Exponent[0] |= 0x80;
    o.Base[0] &= 0x7F;
    return o;
}

void BM_modexp(benchmark::State& state) {
    const TOperands o = Operands(int(state.range(0)));
    const TBigInt b = TBigInt::FromBytes(o.Base), e = TBigInt::FromBytes(o.Exponent),
                  m = TBigInt::FromBytes(o.Modulus);
    for (auto _ : state) benchmark::DoNotOptimize(TBigInt::ModExp(b, e, m));
}

void BM_gmp_powm_sec(benchmark::State& state) {
    const TOperands o = Operands(int(state.range(0)));
    mpz_t b, e, m, r;
    mpz_inits(b, e, m, r, nullptr);
    mpz_import(b, o.Base.size(), 1, 1, 1, 0, o.Base.data());
    mpz_import(e, o.Exponent.size(), 1, 1, 1, 0, o.Exponent.data());
    mpz_import(m, o.Modulus.size(), 1, 1, 1, 0, o.Modulus.data());
    for (auto _ : state) {
        mpz_powm_sec(r, b, e, m);
        benchmark::ClobberMemory();
    }
    mpz_clears(b, e, m, r, nullptr);
}

} // namespace

BENCHMARK(BM_sha1)->UseRealTime();
BENCHMARK(BM_sha1_portable)->UseRealTime();
BENCHMARK(BM_md5)->UseRealTime();
BENCHMARK(BM_hmac_sha1)->UseRealTime();
BENCHMARK(BM_modexp)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(4096)
    ->Arg(8192)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_gmp_powm_sec)
    ->Arg(1024)
    ->Arg(2048)
    ->Arg(4096)
    ->Arg(8192)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
