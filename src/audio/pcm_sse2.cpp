// SSE2 float-to-PCM: the conversion rounds halves to even under the default
// rounding mode and the pack saturates, as the plain version clamps.
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
}  // namespace

bool PcmSimdAvailable() {
    return (CpuFeatures() & kCpuSse2) != 0;
}

void ConvertMonoSimd(const float* in, uint32_t count, float scale, int16_t* out) {
    const __m128 s = _mm_set1_ps(scale);
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i a = Round4(in + i, s);
        const __m128i b = Round4(in + i + 4, s);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
    }
    ConvertMonoPlain(in + i, count - i, scale, out + i);
}

void ConvertStereoSimd(const float* left, const float* right, uint32_t count, float scale,
                       int16_t* out) {
    const __m128 s = _mm_set1_ps(scale);
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i l = _mm_packs_epi32(Round4(left + i, s), Round4(left + i + 4, s));
        const __m128i r = _mm_packs_epi32(Round4(right + i, s), Round4(right + i + 4, s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), _mm_unpackhi_epi16(l, r));
    }
    ConvertStereoPlain(left + i, right + i, count - i, scale, out + 2 * i);
}

#else

bool PcmSimdAvailable() {
    return false;
}

void ConvertMonoSimd(const float* in, uint32_t count, float scale, int16_t* out) {
    ConvertMonoPlain(in, count, scale, out);
}

void ConvertStereoSimd(const float* left, const float* right, uint32_t count, float scale,
                       int16_t* out) {
    ConvertStereoPlain(left, right, count, scale, out);
}

#endif

}  // namespace vemo::audio
