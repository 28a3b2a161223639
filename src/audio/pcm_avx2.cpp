// AVX2 float-to-PCM over whole groups of 8 values: the SSE2 kernel's clamp
// (minimum and maximum in the same order, so a value that is not a number
// gives -32768) and conversion; the clamped values fit 16 bits, so the
// channels are interleaved by masks and shifts.
#include "pcm.h"
#include "vemo/cpu.h"

// Windows builds keep the narrower kernels: these may spill 32-byte vectors,
// and the Windows compilers here do not align the stack for them.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>
#endif

namespace vemo::audio {

#if defined(__AVX2__) && !defined(_WIN32)

namespace {

inline __m256i Round8(const float* in, __m256 scale) {
    const __m256 lo = _mm256_set1_ps(-32768.0f);
    const __m256 hi = _mm256_set1_ps(32767.0f);
    __m256 y = _mm256_mul_ps(_mm256_loadu_ps(in), scale);
    y = _mm256_min_ps(_mm256_max_ps(y, lo), hi);
    return _mm256_cvtps_epi32(y);
}

void MonoGroups(const float* in, uint32_t groups, float scale, int16_t* out) {
    const __m256 s = _mm256_set1_ps(scale);
    for (; groups >= 2; groups -= 2, in += 16, out += 16) {
        const __m256i packed = _mm256_packs_epi32(Round8(in, s), Round8(in + 8, s));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    if (groups) ConvertMonoPlain(in, kPcmGroup, scale, out);
}

void StereoGroups(const float* left, const float* right, uint32_t groups, float scale,
                  int16_t* out) {
    const __m256 s = _mm256_set1_ps(scale);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    for (; groups; --groups, left += 8, right += 8, out += 16) {
        const __m256i l = Round8(left, s), r = Round8(right, s);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_or_si256(_mm256_and_si256(l, low), _mm256_slli_epi32(r, 16)));
    }
}

const PcmKernels kAvx2 = {&MonoGroups, &StereoGroups};

}  // namespace

const PcmKernels* Avx2PcmKernels() {
    return (CpuFlags() & kCpuAvx2) ? &kAvx2 : nullptr;
}

#else

const PcmKernels* Avx2PcmKernels() {
    return nullptr;
}

#endif

}  // namespace vemo::audio
