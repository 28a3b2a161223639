#include "vemo/cpu.h"

#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define VEMO_HAVE_CPUID 1
#endif

namespace vemo {

namespace {

uint32_t Detect() {
    uint32_t features = kCpuDetected;
#ifdef VEMO_HAVE_CPUID
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return features;
    if (d & (1u << 23)) {
        features |= kCpuMmx;
        if (d & (1u << 25)) features |= kCpuSse;
        if (d & (1u << 26)) features |= kCpuSse2;
        if (__get_cpuid(0x80000000u, &a, &b, &c, &d) && a >= 0x80000001u &&
            __get_cpuid(0x80000001u, &a, &b, &c, &d) && (d & (1u << 31))) {
            features |= kCpu3DNow;
        }
    }
#endif
    return features;
}

}  // namespace

uint32_t CpuFeatures() {
    static std::atomic<uint32_t> cached{0};
    uint32_t value = cached.load(std::memory_order_relaxed);
    if (!(value & kCpuDetected)) {
        value = Detect();
        cached.store(value, std::memory_order_relaxed);
    }
    return value;
}

bool CpuHasAvx2() {
#ifdef VEMO_HAVE_CPUID
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace vemo
