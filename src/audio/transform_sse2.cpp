// SSE2 FFT stages (two complex values a vector) and the inverse DCT's
// rotation, fold and unfolding. Each product, sum and
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

inline __m128 Reverse(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3));
}

// Four j at a time, against the four k = n - j read backwards.
void Sse2DctRotate(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const float* c = t.cosines;
    uint32_t j = 1;
    for (; j + 3 < n / 2; j += 4) {
        const uint32_t k = n - j - 3;
        const __m128 cj = _mm_loadu_ps(c + j), ck = Reverse(_mm_loadu_ps(c + k));
        const __m128 wr = _mm_sub_ps(cj, ck), wi = _mm_add_ps(cj, ck);
        const __m128 aj = _mm_loadu_ps(a + j), ak = Reverse(_mm_loadu_ps(a + k));
        const __m128 xr = _mm_sub_ps(_mm_mul_ps(wi, aj), _mm_mul_ps(wr, ak));
        _mm_storeu_ps(a + j, _mm_add_ps(_mm_mul_ps(wr, aj), _mm_mul_ps(wi, ak)));
        _mm_storeu_ps(a + k, Reverse(xr));
    }
    PlainDctRotateFrom(t, a, j);
}

// Two j (pairs j, j + 1 and j + 2, j + 3) at a time, against their k pairs;
// the differences and the signed terms are additions of negated values.
void Sse2DctFold(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const float* c = t.cosines;
    const __m128 real_minus = _mm_castsi128_ps(_mm_setr_epi32(INT32_MIN, 0, INT32_MIN, 0));
    const __m128 imag_minus = _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN));
    const __m128 half = _mm_set1_ps(0.5f);
    uint32_t j = 2;
    for (; j + 2 < n / 2; j += 4) {
        const uint32_t k = n - j - 2;  // pairs k + 2 (for j) and k (for j + 2)
        const __m128 wr = _mm_sub_ps(
            half, _mm_setr_ps(c[n - 2 * j], c[n - 2 * j], c[n - 2 * j - 4], c[n - 2 * j - 4]));
        const __m128 wi = _mm_setr_ps(c[2 * j], c[2 * j], c[2 * j + 4], c[2 * j + 4]);
        const __m128 aj = _mm_loadu_ps(a + j);
        const __m128 raw = _mm_loadu_ps(a + k);
        const __m128 ak = _mm_shuffle_ps(raw, raw, _MM_SHUFFLE(1, 0, 3, 2));
        const __m128 x = _mm_add_ps(aj, _mm_xor_ps(ak, real_minus));
        const __m128 swapped = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1));
        const __m128 y =
            _mm_add_ps(_mm_mul_ps(wr, x), _mm_xor_ps(_mm_mul_ps(wi, swapped), real_minus));
        _mm_storeu_ps(a + j, _mm_sub_ps(aj, y));
        const __m128 bk = _mm_add_ps(ak, _mm_xor_ps(y, imag_minus));
        _mm_storeu_ps(a + k, _mm_shuffle_ps(bk, bk, _MM_SHUFFLE(1, 0, 3, 2)));
    }
    PlainDctFoldFrom(t, a, j);
}

// Four complex values x0..x3 a step: (a, b) = (x0 + x1, x0 - x1) and
// (c, e) = (x2 + x3, (x2 - x3) times +-i), then a + c, b + e, a - c, b - e.
void Sse2FirstStages(const TransformTables& t, float* a, bool positive) {
    const __m128 second_minus = _mm_castsi128_ps(_mm_setr_epi32(0, 0, INT32_MIN, INT32_MIN));
    const __m128 turn = positive ? _mm_castsi128_ps(_mm_setr_epi32(0, 0, INT32_MIN, 0))
                                 : _mm_castsi128_ps(_mm_setr_epi32(0, 0, 0, INT32_MIN));
    for (uint32_t s = 0; s < t.points; s += 4) {
        float* x = a + 2 * s;
        const __m128 v0 = _mm_loadu_ps(x), v1 = _mm_loadu_ps(x + 4);
        const __m128 ab =
            _mm_add_ps(_mm_shuffle_ps(v0, v0, _MM_SHUFFLE(1, 0, 1, 0)),
                       _mm_xor_ps(_mm_shuffle_ps(v0, v0, _MM_SHUFFLE(3, 2, 3, 2)), second_minus));
        const __m128 cd =
            _mm_add_ps(_mm_shuffle_ps(v1, v1, _MM_SHUFFLE(1, 0, 1, 0)),
                       _mm_xor_ps(_mm_shuffle_ps(v1, v1, _MM_SHUFFLE(3, 2, 3, 2)), second_minus));
        const __m128 ce = _mm_xor_ps(_mm_shuffle_ps(cd, cd, _MM_SHUFFLE(2, 3, 1, 0)), turn);
        _mm_storeu_ps(x, _mm_add_ps(ab, ce));
        _mm_storeu_ps(x + 4, _mm_sub_ps(ab, ce));
    }
}

// a[j - 1] = a[j] - a[j + 1] and a[j] = a[j] + a[j + 1] for two j a step;
// each step writes only values the steps so far have read.
void Sse2DctUnfold(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const __m128 minus = _mm_castsi128_ps(_mm_setr_epi32(INT32_MIN, 0, INT32_MIN, 0));
    const float d = a[0] - a[1];
    a[0] += a[1];
    uint32_t j = 2;
    for (; j + 2 < n; j += 4) {
        const __m128 v = _mm_loadu_ps(a + j);
        const __m128 p = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 0, 0));
        const __m128 q = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 1, 1));
        _mm_storeu_ps(a + j - 1, _mm_add_ps(p, _mm_xor_ps(q, minus)));
    }
    for (; j < n; j += 2) {
        a[j - 1] = a[j] - a[j + 1];
        a[j] += a[j + 1];
    }
    a[n - 1] = d;
}

const TransformKernels kSse2 = {&Sse2FirstStages, &Sse2Stages, &Sse2DctRotate, &Sse2DctFold,
                                &Sse2DctUnfold};

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
