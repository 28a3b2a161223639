// AVX-512 skip strips: strips up to 64 bytes a row copied by one masked
// load and store a row, so the strip's width takes no branch; wider ones as
// the AVX2 rung does. The same bytes as the plain kernel.
#include "vemo/cpu.h"
#include "video_internal.h"

// Windows builds keep the plain kernels, like the other wide kernels.
#if defined(__AVX512BW__) && !defined(_WIN32)
#include <immintrin.h>

namespace vemo::video {

namespace {

// 8 rows of 32-byte pieces at 0 and `second` (which may overlap the first).
inline void CopyPairs(const uint8_t* src, uint8_t* dst, size_t stride, size_t second) {
#pragma GCC unroll 8
    for (int row = 0; row < 8; ++row, src += stride, dst += stride) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + second));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + second), b);
    }
}

void Avx512CopyStrip(const uint8_t* src, uint8_t* dst, uint32_t stride, uint32_t bytes) {
    const size_t step = stride;
    if (bytes <= 64) {
        // Bytes past the strip are neither read nor written.
        const __mmask64 keep = ~0ull >> (64 - bytes);
#pragma GCC unroll 8
        for (int row = 0; row < 8; ++row, src += step, dst += step)
            _mm512_mask_storeu_epi8(dst, keep, _mm512_maskz_loadu_epi8(keep, src));
        return;
    }
    uint32_t at = 0;
    for (; at + 64 < bytes; at += 64) CopyPairs(src + at, dst + at, step, 32);
    at = bytes - 64;
    CopyPairs(src + at, dst + at, step, 32);
}

}  // namespace

void Avx512WalkKernels(WalkKernels& table) {
    if (CpuFlags() & kCpuAvx512) table.copy_strip = Avx512CopyStrip;
}

}  // namespace vemo::video

#else

namespace vemo::video {

void Avx512WalkKernels(WalkKernels&) {}

}  // namespace vemo::video

#endif
