// Throughput of the bulk algorithms on 16 KiB blocks (the size `openssl speed -bytes 16384` uses)
// and operations per second of X25519 and Ed25519 beside nettle's, for run.sh to tabulate.
#include "ssh/crypto/AesCtr.h"
#include "ssh/crypto/AesGcm.h"
#include "ssh/crypto/ChaChaPoly.h"
#include "ssh/crypto/CpuFeatures.h"
#include "ssh/crypto/Ed25519.h"
#include "ssh/crypto/Sha256.h"
#include "ssh/crypto/Sha512.h"
#include "ssh/crypto/X25519.h"

#include <benchmark/benchmark.h>
#include <nettle/curve25519.h>
#include <nettle/eddsa.h>

#include <cstring>
#include <vector>

using namespace Varnello::Crypto;

namespace {

constexpr size_t BlockBytes = 16384;

std::vector<uint8_t> Buffer() {
    std::vector<uint8_t> b(BlockBytes);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 131 + 7);
    return b;
}

template <class F> void Throughput(benchmark::State& state, bool portable, F body) {
    TPortableCryptoScope scope(portable);
    std::vector<uint8_t> buf = Buffer();
    for (auto _ : state) {
        body(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BlockBytes));
}

void Sha256Bench(benchmark::State& state, bool portable) {
    uint8_t d[32];
    Throughput(state, portable, [&](uint8_t* p) {
        TSha256::Compute(p, BlockBytes, d);
        benchmark::DoNotOptimize(d);
    });
}
void BM_sha256(benchmark::State& s) {
    Sha256Bench(s, false);
}
void BM_sha256_portable(benchmark::State& s) {
    Sha256Bench(s, true);
}

void BM_sha512(benchmark::State& state) {
    uint8_t d[64];
    Throughput(state, false, [&](uint8_t* p) {
        TSha512::Compute(p, BlockBytes, d);
        benchmark::DoNotOptimize(d);
    });
}

void CtrBench(benchmark::State& state, bool portable) {
    const uint8_t key[16] = {1, 2, 3}, iv[16] = {4, 5, 6};
    TAesCtr c;
    c.SetKey(key, 16);
    c.SetCounter(iv);
    Throughput(state, portable, [&](uint8_t* p) { c.Crypt(p, p, BlockBytes); });
}
void BM_aes128_ctr(benchmark::State& s) {
    CtrBench(s, false);
}
void BM_aes128_ctr_portable(benchmark::State& s) {
    CtrBench(s, true);
}

void GcmBench(benchmark::State& state, bool portable) {
    const uint8_t key[16] = {1, 2, 3}, nonce[12] = {4, 5, 6};
    TAesGcm g;
    g.SetKey(key, 16);
    g.SetNonce(nonce);
    uint8_t tag[16];
    Throughput(state, portable, [&](uint8_t* p) { g.Seal(nullptr, 0, p, BlockBytes, p, tag); });
}
void BM_aes128_gcm(benchmark::State& s) {
    GcmBench(s, false);
}
void BM_aes128_gcm_portable(benchmark::State& s) {
    GcmBench(s, true);
}

void ChaChaPolyBench(benchmark::State& state, bool portable) {
    const uint8_t key[32] = {1, 2, 3}, nonce[12] = {4, 5, 6};
    uint8_t tag[16];
    Throughput(state, portable,
               [&](uint8_t* p) { ChaCha20Poly1305Seal(key, nonce, nullptr, 0, p, BlockBytes, p, tag); });
}
void BM_chacha20_poly1305(benchmark::State& s) {
    ChaChaPolyBench(s, false);
}
void BM_chacha20_poly1305_portable(benchmark::State& s) {
    ChaChaPolyBench(s, true);
}

void BM_chacha20_poly1305_openssh(benchmark::State& state) {
    uint8_t key[64] = {1, 2, 3}, tag[16];
    TChaChaPolyOpenSsh c;
    c.SetKey(key);
    uint32_t seq = 0;
    Throughput(state, false, [&](uint8_t* p) { c.Seal(seq++, p, BlockBytes, p, tag); });
}

// ---- Curve25519 operations ----

const uint8_t Scalar[32] = {0x77, 0x07, 0x6d, 0x0a, 0x73, 0x18, 0xa5, 0x7d, 0x3c, 0x16, 0xc1,
                            0x72, 0x51, 0xb2, 0x66, 0x45, 0xdf, 0x4c, 0x2f, 0x87, 0xeb, 0xc0,
                            0x99, 0x2a, 0xb1, 0x77, 0xfb, 0xa5, 0x1d, 0xb9, 0x2c, 0x2a};
const uint8_t PeerU[32] = {0xde, 0x9e, 0xdb, 0x7d, 0x7b, 0x7d, 0xc1, 0xb4, 0xd3, 0x5b, 0x61,
                           0xc2, 0xec, 0xe4, 0x35, 0x37, 0x3f, 0x83, 0x43, 0xc8, 0x5b, 0x78,
                           0x67, 0x4d, 0xad, 0xfc, 0x7e, 0x14, 0x6f, 0x88, 0x2b, 0x4f};

void BM_x25519(benchmark::State& state) {
    uint8_t out[32];
    for (auto _ : state) {
        X25519(out, Scalar, PeerU);
        benchmark::DoNotOptimize(out);
    }
}
void BM_nettle_x25519(benchmark::State& state) {
    uint8_t out[32];
    for (auto _ : state) {
        curve25519_mul(out, Scalar, PeerU);
        benchmark::DoNotOptimize(out);
    }
}

const uint8_t Message[64] = {'s', 's', 'h'};

void BM_ed25519_sign(benchmark::State& state) {
    TEd25519Key key(Scalar);
    uint8_t sig[64];
    for (auto _ : state) {
        key.Sign(Message, sizeof(Message), sig);
        benchmark::DoNotOptimize(sig);
    }
}
void BM_nettle_ed25519_sign(benchmark::State& state) {
    uint8_t pub[32], sig[64];
    ed25519_sha512_public_key(pub, Scalar);
    for (auto _ : state) {
        ed25519_sha512_sign(pub, Scalar, sizeof(Message), Message, sig);
        benchmark::DoNotOptimize(sig);
    }
}
void BM_ed25519_verify(benchmark::State& state) {
    TEd25519Key key(Scalar);
    uint8_t sig[64];
    key.Sign(Message, sizeof(Message), sig);
    for (auto _ : state)
        benchmark::DoNotOptimize(Ed25519Verify(key.PublicKey(), Message, sizeof(Message), sig));
}
void BM_nettle_ed25519_verify(benchmark::State& state) {
    uint8_t pub[32], sig[64];
    ed25519_sha512_public_key(pub, Scalar);
    ed25519_sha512_sign(pub, Scalar, sizeof(Message), Message, sig);
    for (auto _ : state) benchmark::DoNotOptimize(ed25519_sha512_verify(pub, sizeof(Message), Message, sig));
}

} // namespace

BENCHMARK(BM_sha256)->UseRealTime();
BENCHMARK(BM_sha256_portable)->UseRealTime();
BENCHMARK(BM_sha512)->UseRealTime();
BENCHMARK(BM_aes128_ctr)->UseRealTime();
BENCHMARK(BM_aes128_ctr_portable)->UseRealTime();
BENCHMARK(BM_aes128_gcm)->UseRealTime();
BENCHMARK(BM_aes128_gcm_portable)->UseRealTime();
BENCHMARK(BM_chacha20_poly1305)->UseRealTime();
BENCHMARK(BM_chacha20_poly1305_portable)->UseRealTime();
BENCHMARK(BM_chacha20_poly1305_openssh)->UseRealTime();
BENCHMARK(BM_x25519)->UseRealTime();
BENCHMARK(BM_nettle_x25519)->UseRealTime();
BENCHMARK(BM_ed25519_sign)->UseRealTime();
BENCHMARK(BM_nettle_ed25519_sign)->UseRealTime();
BENCHMARK(BM_ed25519_verify)->UseRealTime();
BENCHMARK(BM_nettle_ed25519_verify)->UseRealTime();

BENCHMARK_MAIN();
