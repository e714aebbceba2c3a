// Run-time detection of the processor's instruction-set extensions used by the crypto library.
//
// Every accelerated routine sits beside its portable version and is chosen at call time through
// these accessors, so one binary runs on any x86-64 (and on other architectures, where every
// accessor answers false). ForcePortableCrypto lets tests and benchmarks run the portable code on
// a machine that has the extensions; it is process-wide and meant to be flipped between runs, not
// while another thread is encrypting.
#pragma once

namespace Varnello::Crypto {

// What the processor and the operating system support, regardless of the portable switch.
struct TCpuFeatures {
    bool AesNi = false;
    bool Pclmul = false;
    bool ShaNi = false;
    bool Sse41 = false;
    bool Ssse3 = false;
    bool Avx2 = false;    // only when the OS saves the YMM state
    bool Vaes = false;    // VAES on 256-bit registers; implies Avx2
    bool VpClmul = false; // VPCLMULQDQ on 256-bit registers; implies Avx2
};

const TCpuFeatures& DetectedCpuFeatures();

// true: every accessor below answers false, so all dispatchers take the portable code.
void ForcePortableCrypto(bool force);
bool PortableCryptoForced();

bool HaveAesNi();
bool HavePclmul();
bool HaveShaNi();
bool HaveSse41();
bool HaveSsse3();
bool HaveAvx2();
bool HaveVaes();
bool HaveVpClmul();

// RAII form for tests: forces (or releases) the portable code for one scope, then restores.
class TPortableCryptoScope {
public:
    explicit TPortableCryptoScope(bool force = true) : FPrevious(PortableCryptoForced()) {
        ForcePortableCrypto(force);
    }
    ~TPortableCryptoScope() { ForcePortableCrypto(FPrevious); }
    TPortableCryptoScope(const TPortableCryptoScope&) = delete;
    TPortableCryptoScope& operator=(const TPortableCryptoScope&) = delete;

private:
    bool FPrevious;
};

} // namespace Varnello::Crypto
