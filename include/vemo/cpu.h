// Processor features, detected once with CPUID and cached.
#pragma once

#include <cstdint>

namespace vemo {

enum CpuFeatureBits : uint32_t {
    kCpuMmx = 1u << 0,
    kCpu3DNow = 1u << 1,
    kCpuSse = 1u << 2,
    kCpuSse2 = 1u << 3,
    kCpuDetected = 1u << 31,  // set in the cached word once detection ran
};

// The feature word: bit 0 MMX, 1 3DNow!, 2 SSE, 3 SSE2 (bits 1-3 only when MMX
// is present), bit 31 set once detected; just bit 31 without CPUID.
uint32_t CpuFeatures();

// Whether the running processor has AVX2 (with operating system support);
// used only to pick faster kernels, never to change results.
bool CpuHasAvx2();

}  // namespace vemo
