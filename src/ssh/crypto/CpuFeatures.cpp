// cpuid-based feature detection, computed once, plus the process-wide "portable only" switch.
#include "ssh/crypto/CpuFeatures.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define VARNELLO_X86 1
#endif

namespace Varnello::Crypto {

namespace {

std::atomic<bool> GForcePortable{false};

#ifdef VARNELLO_X86
unsigned long long ReadXcr0() {
    unsigned int eax, edx;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<unsigned long long>(edx) << 32) | eax;
}
#endif

TCpuFeatures Detect() {
    TCpuFeatures f;
#ifdef VARNELLO_X86
    unsigned int eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return f;
    f.Ssse3 = (ecx >> 9) & 1;
    f.Sse41 = (ecx >> 19) & 1;
    f.Pclmul = (ecx >> 1) & 1;
    f.AesNi = (ecx >> 25) & 1;
    const bool osxsave = (ecx >> 27) & 1;
    const bool avx = (ecx >> 28) & 1;
    // YMM registers are usable only when the OS saves SSE and AVX state (XCR0 bits 1 and 2).
    const bool ymmOk = osxsave && avx && (ReadXcr0() & 6) == 6;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        f.ShaNi = (ebx >> 29) & 1;
        f.Avx2 = ymmOk && ((ebx >> 5) & 1);
        f.Vaes = f.Avx2 && f.AesNi && ((ecx >> 9) & 1);
        f.VpClmul = f.Avx2 && f.Pclmul && ((ecx >> 10) & 1);
    }
#endif
    return f;
}

bool Allowed() {
    return !GForcePortable.load(std::memory_order_relaxed);
}

} // namespace

const TCpuFeatures& DetectedCpuFeatures() {
    static const TCpuFeatures features = Detect();
    return features;
}

void ForcePortableCrypto(bool force) {
    GForcePortable.store(force, std::memory_order_relaxed);
}
bool PortableCryptoForced() {
    return GForcePortable.load(std::memory_order_relaxed);
}

bool HaveAesNi() {
    return Allowed() && DetectedCpuFeatures().AesNi && DetectedCpuFeatures().Sse41;
}
bool HavePclmul() {
    return Allowed() && DetectedCpuFeatures().Pclmul;
}
bool HaveShaNi() {
    return Allowed() && DetectedCpuFeatures().ShaNi && DetectedCpuFeatures().Sse41;
}
bool HaveSse41() {
    return Allowed() && DetectedCpuFeatures().Sse41;
}
bool HaveSsse3() {
    return Allowed() && DetectedCpuFeatures().Ssse3;
}
bool HaveAvx2() {
    return Allowed() && DetectedCpuFeatures().Avx2;
}
bool HaveVaes() {
    return Allowed() && DetectedCpuFeatures().Vaes;
}
bool HaveVpClmul() {
    return Allowed() && DetectedCpuFeatures().VpClmul;
}

} // namespace Varnello::Crypto
