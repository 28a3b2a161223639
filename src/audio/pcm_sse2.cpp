// SSE2 float-to-PCM over whole groups of 8 values: the conversion rounds
// halves to even under the default rounding mode, the pack saturates as the
// plain version clamps, and a value that is not a number leaves the clamp as
// -32768, as in the plain version.
#include "pcm.h"
#include "vemo/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vemo::audio {

#if defined(__SSE2__)

namespace {

inline __m128i Round4(const float* in, __m128 scale) {
    const __m128 lo = _mm_set1_ps(-32768.0f);
    const __m128 hi = _mm_set1_ps(32767.0f);
    __m128 y = _mm_mul_ps(_mm_loadu_ps(in), scale);
    y = _mm_min_ps(_mm_max_ps(y, lo), hi);
    return _mm_cvtps_epi32(y);
}

void MonoGroups(const float* in, uint32_t groups, float scale, int16_t* out) {
    const __m128 s = _mm_set1_ps(scale);
    for (; groups; --groups, in += 8, out += 8) {
        const __m128i a = Round4(in, s);
        const __m128i b = Round4(in + 4, s);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(a, b));
    }
}

void StereoGroups(const float* left, const float* right, uint32_t groups, float scale,
                  int16_t* out) {
    const __m128 s = _mm_set1_ps(scale);
    for (; groups; --groups, left += 8, right += 8, out += 16) {
        const __m128i l = _mm_packs_epi32(Round4(left, s), Round4(left + 4, s));
        const __m128i r = _mm_packs_epi32(Round4(right, s), Round4(right + 4, s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi16(l, r));
    }
}

const PcmKernels kSse2 = {&MonoGroups, &StereoGroups};

}  // namespace

const PcmKernels* Sse2PcmKernels() {
    return (CpuFlags() & kCpuSse2) ? &kSse2 : nullptr;
}

#else

const PcmKernels* Sse2PcmKernels() {
    return nullptr;
}

#endif

}  // namespace vemo::audio
