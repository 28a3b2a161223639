// SSE2 FFT stages: two complex values a vector. Each product, sum and
// difference is the plain stage's, in the same order: t = w v is
// (wr vr - wi vi, wr vi + wi vr), where the subtraction is the addition of
// the negated product, so every lane rounds as the plain version does.
#include "transform.h"
#include "vemo/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vemo::audio {

#if defined(__SSE2__)

namespace {

void Sse2Stages(const TransformTables& t, float* a, bool positive) {
    const uint32_t p = t.points;
    const float* w = t.twiddle;
    // Signs of the wi products: minus on the real lanes for the positive
    // kernel; the negative kernel negates wi as well, which moves the minus
    // to the imaginary lanes.
    const __m128 sign = positive ? _mm_castsi128_ps(_mm_setr_epi32(INT32_MIN, 0, INT32_MIN, 0))
                                 : _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN));
    for (uint32_t len = 8; len <= p; len <<= 1) {
        const uint32_t half = len / 2;
        for (uint32_t s = 0; s < p; s += len) {
            float* u = a + 2 * s;
            float* v = u + 2 * half;
            for (uint32_t k = 0; k < half; k += 2) {
                const __m128 wk = _mm_loadu_ps(w + 2 * k);
                const __m128 wr = _mm_shuffle_ps(wk, wk, _MM_SHUFFLE(2, 2, 0, 0));
                const __m128 wi = _mm_shuffle_ps(wk, wk, _MM_SHUFFLE(3, 3, 1, 1));
                const __m128 vk = _mm_loadu_ps(v + 2 * k);
                const __m128 swapped = _mm_shuffle_ps(vk, vk, _MM_SHUFFLE(2, 3, 0, 1));
                const __m128 tk =
                    _mm_add_ps(_mm_mul_ps(wr, vk), _mm_xor_ps(_mm_mul_ps(wi, swapped), sign));
                const __m128 uk = _mm_loadu_ps(u + 2 * k);
                _mm_storeu_ps(v + 2 * k, _mm_sub_ps(uk, tk));
                _mm_storeu_ps(u + 2 * k, _mm_add_ps(uk, tk));
            }
        }
        w += 2 * half;
    }
}

const TransformKernels kSse2 = {&Sse2Stages};

}  // namespace

const TransformKernels* Sse2TransformKernels() {
    return (CpuFlags() & kCpuSse2) ? &kSse2 : nullptr;
}

#else

const TransformKernels* Sse2TransformKernels() {
    return nullptr;
}

#endif

}  // namespace vemo::audio
