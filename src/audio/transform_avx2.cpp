// The FFT's passes and the inverse DCT's rotation, fold and unfolding with
// 256-bit vectors: the SSE2 kernels' operations in the same order, twice as
// many values a step.
// Differences and signed terms are additions of negated values, so every
// lane rounds as the plain version does.
#include "transform.h"
#include "vemo/cpu.h"

// Windows builds keep the narrower kernels: these may spill 32-byte vectors,
// and the Windows compilers here do not align the stack for them.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

#include <climits>
#endif

namespace vemo::audio {

#if defined(__AVX2__) && !defined(_WIN32)

namespace {

// The four floats at low and the four at high, in the low and high lane.
inline __m256 Halves(const float* low, const float* high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// The eight floats at p in reverse order, and eight stored reversed, with
// the lanes swapped by the 128-bit loads and stores and reversed within.
inline __m256 LoadReversed(const float* p) {
    return _mm256_permute_ps(Halves(p + 4, p), _MM_SHUFFLE(0, 1, 2, 3));
}
inline void StoreReversed(float* p, __m256 v) {
    const __m256 r = _mm256_permute_ps(v, _MM_SHUFFLE(0, 1, 2, 3));
    _mm_storeu_ps(p + 4, _mm256_castps256_ps128(r));
    _mm_storeu_ps(p, _mm256_extractf128_ps(r, 1));
}

// Reverses the order of the four pairs.
inline __m256 ReversePairs(__m256 v) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(0, 1, 2, 3)));
}

inline __m256 Signs(int32_t even, int32_t odd) {
    return _mm256_castsi256_ps(_mm256_setr_epi32(even, odd, even, odd, even, odd, even, odd));
}

// Eight j at a time, against the eight k = n - j read backwards.
void Avx2DctRotate(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const float* c = t.cosines;
    uint32_t j = 1;
    for (; j + 7 < n / 2; j += 8) {
        const uint32_t k = n - j - 7;
        const __m256 cj = _mm256_loadu_ps(c + j), ck = LoadReversed(c + k);
        const __m256 wr = _mm256_sub_ps(cj, ck), wi = _mm256_add_ps(cj, ck);
        const __m256 aj = _mm256_loadu_ps(a + j), ak = LoadReversed(a + k);
        const __m256 xr = _mm256_sub_ps(_mm256_mul_ps(wi, aj), _mm256_mul_ps(wr, ak));
        _mm256_storeu_ps(a + j, _mm256_add_ps(_mm256_mul_ps(wr, aj), _mm256_mul_ps(wi, ak)));
        StoreReversed(a + k, xr);
    }
    PlainDctRotateFrom(t, a, j);
}

// Four pairs j, j + 2, j + 4, j + 6 at a time, against their k pairs.
void Avx2DctFold(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const float* c = t.cosines;
    const __m256 real_minus = Signs(INT32_MIN, 0), imag_minus = Signs(0, INT32_MIN);
    const __m256 half = _mm256_set1_ps(0.5f);
    uint32_t j = 2;
    for (; j + 6 < n / 2; j += 8) {
        const uint32_t k = n - j - 6;  // pairs k + 6 (for j) down to k (for j + 6)
        // Cosines r0-r3 = c[n - 2j - 4m] and i0-i3 = c[2j + 4m], each twice:
        // the first of each of four loads, picked in pairs within lanes.
        const float* r = c + n - 2 * j;
        const float* i = c + 2 * j;
        const __m256 rs = _mm256_shuffle_ps(Halves(r, r - 8), Halves(r - 4, r - 12), 0);
        const __m256 wr = _mm256_sub_ps(half, rs);
        const __m256 wi = _mm256_shuffle_ps(Halves(i, i + 8), Halves(i + 4, i + 12), 0);
        const __m256 aj = _mm256_loadu_ps(a + j);
        const __m256 ak = ReversePairs(_mm256_loadu_ps(a + k));
        const __m256 x = _mm256_add_ps(aj, _mm256_xor_ps(ak, real_minus));
        const __m256 swapped = _mm256_permute_ps(x, _MM_SHUFFLE(2, 3, 0, 1));
        const __m256 y = _mm256_add_ps(_mm256_mul_ps(wr, x),
                                       _mm256_xor_ps(_mm256_mul_ps(wi, swapped), real_minus));
        _mm256_storeu_ps(a + j, _mm256_sub_ps(aj, y));
        const __m256 bk = _mm256_add_ps(ak, _mm256_xor_ps(y, imag_minus));
        _mm256_storeu_ps(a + k, ReversePairs(bk));
    }
    PlainDctFoldFrom(t, a, j);
}

// a[j - 1] = a[j] - a[j + 1] and a[j] = a[j] + a[j + 1] for four j a step;
// each step writes only values the steps so far have read.
void Avx2DctUnfold(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const __m256 minus = Signs(INT32_MIN, 0);
    const float d = a[0] - a[1];
    a[0] += a[1];
    uint32_t j = 2;
    for (; j + 6 < n; j += 8) {
        const __m256 v = _mm256_loadu_ps(a + j);
        const __m256 p = _mm256_permute_ps(v, _MM_SHUFFLE(2, 2, 0, 0));
        const __m256 q = _mm256_permute_ps(v, _MM_SHUFFLE(3, 3, 1, 1));
        _mm256_storeu_ps(a + j - 1, _mm256_add_ps(p, _mm256_xor_ps(q, minus)));
    }
    for (; j < n; j += 2) {
        a[j - 1] = a[j] - a[j + 1];
        a[j] += a[j + 1];
    }
    a[n - 1] = d;
}

// One butterfly on four complex values each of u and v with the twiddles
// wk: t = w v, then v = u - t, u = u + t, as the SSE2 kernel computes it.
inline void Butterfly(__m256 wk, __m256 sign, __m256& u, __m256& v) {
    const __m256 wr = _mm256_moveldup_ps(wk), wi = _mm256_movehdup_ps(wk);
    const __m256 swapped = _mm256_permute_ps(v, _MM_SHUFFLE(2, 3, 0, 1));
    const __m256 tk =
        _mm256_add_ps(_mm256_mul_ps(wr, v), _mm256_xor_ps(_mm256_mul_ps(wi, swapped), sign));
    v = _mm256_sub_ps(u, tk);
    u = _mm256_add_ps(u, tk);
}

// One stage of length len, four complex values a step.
void Avx2Stage(float* a, uint32_t p, uint32_t len, const float* w, __m256 sign) {
    const uint32_t half = len / 2;
    for (uint32_t s = 0; s < p; s += len) {
        float* u = a + 2 * s;
        float* v = u + 2 * half;
        for (uint32_t k = 0; k < half; k += 4) {
            __m256 uk = _mm256_loadu_ps(u + 2 * k), vk = _mm256_loadu_ps(v + 2 * k);
            Butterfly(_mm256_loadu_ps(w + 2 * k), sign, uk, vk);
            _mm256_storeu_ps(v + 2 * k, vk);
            _mm256_storeu_ps(u + 2 * k, uk);
        }
    }
}

// Stages of length len and 2 len in one pass: each value meets the same
// butterflies in the same order as in two passes, with half the loads and
// stores. w: the twiddles of len, those of 2 len following them.
void Avx2StagePair(float* a, uint32_t p, uint32_t len, const float* w, __m256 sign) {
    const uint32_t half = len / 2;
    const float* w2 = w + 2 * half;
    for (uint32_t s = 0; s < p; s += 2 * len) {
        float* x = a + 2 * s;
        for (uint32_t k = 0; k < half; k += 4) {
            float* at[4] = {x + 2 * k, x + 2 * (k + half), x + 2 * (k + len),
                            x + 2 * (k + len + half)};
            __m256 v[4];
            for (int i = 0; i < 4; ++i) v[i] = _mm256_loadu_ps(at[i]);
            const __m256 wk = _mm256_loadu_ps(w + 2 * k);
            Butterfly(wk, sign, v[0], v[1]);
            Butterfly(wk, sign, v[2], v[3]);
            Butterfly(_mm256_loadu_ps(w2 + 2 * k), sign, v[0], v[2]);
            Butterfly(_mm256_loadu_ps(w2 + 2 * (k + half)), sign, v[1], v[3]);
            for (int i = 0; i < 4; ++i) _mm256_storeu_ps(at[i], v[i]);
        }
    }
}

// Stages of length len, 2 len and 4 len in one pass, as Avx2StagePair.
void Avx2StageTriple(float* a, uint32_t p, uint32_t len, const float* w, __m256 sign) {
    const uint32_t half = len / 2;
    const float* w2 = w + 2 * half;
    const float* w4 = w2 + 2 * len;
    for (uint32_t s = 0; s < p; s += 4 * len) {
        float* x = a + 2 * s;
        for (uint32_t k = 0; k < half; k += 4) {
            __m256 v[8];
            for (uint32_t i = 0; i < 8; ++i) v[i] = _mm256_loadu_ps(x + 2 * (k + i * half));
            const __m256 wk = _mm256_loadu_ps(w + 2 * k);
            for (int i = 0; i < 8; i += 2) Butterfly(wk, sign, v[i], v[i + 1]);
            for (int i : {0, 1, 4, 5})
                Butterfly(_mm256_loadu_ps(w2 + 2 * (k + (i & 1) * half)), sign, v[i], v[i + 2]);
            for (uint32_t i = 0; i < 4; ++i)
                Butterfly(_mm256_loadu_ps(w4 + 2 * (k + i * half)), sign, v[i], v[i + 4]);
            for (uint32_t i = 0; i < 8; ++i) _mm256_storeu_ps(x + 2 * (k + i * half), v[i]);
        }
    }
}

// The FFT's stages of length 8 and up: three a pass while three are left,
// then two, then the last one alone.
void Avx2Stages(const TransformTables& t, float* a, bool positive) {
    const uint32_t p = t.points;
    const float* w = t.twiddle;
    // The signs of the wi products, as in the SSE2 kernel.
    const __m256 sign = positive ? Signs(INT32_MIN, 0) : Signs(0, INT32_MIN);
    uint32_t len = 8;
    for (; 4 * len <= p; len <<= 3) {
        Avx2StageTriple(a, p, len, w, sign);
        w += 2 * (len / 2 + len + 2 * len);
    }
    for (; 2 * len <= p; len <<= 2) {
        Avx2StagePair(a, p, len, w, sign);
        w += 2 * (len / 2 + len);
    }
    if (len <= p) Avx2Stage(a, p, len, w, sign);
}

// The radix-4 first pass on two groups of four complex values a step: the
// SSE2 kernel's operations with one group in each 128-bit half.
void Avx2FirstStages(const TransformTables& t, float* a, bool positive) {
    const __m256 second_minus = _mm256_castsi256_ps(
        _mm256_setr_epi32(0, 0, INT32_MIN, INT32_MIN, 0, 0, INT32_MIN, INT32_MIN));
    const __m256 turn =
        positive ? _mm256_castsi256_ps(_mm256_setr_epi32(0, 0, INT32_MIN, 0, 0, 0, INT32_MIN, 0))
                 : _mm256_castsi256_ps(_mm256_setr_epi32(0, 0, 0, INT32_MIN, 0, 0, 0, INT32_MIN));
    uint32_t s = 0;
    for (; s + 8 <= t.points; s += 8) {
        float* x = a + 2 * s;
        // v0: the first two values of each group, v1: the last two.
        const __m256 v0 = Halves(x, x + 8), v1 = Halves(x + 4, x + 12);
        const __m256 ab = _mm256_add_ps(
            _mm256_permute_ps(v0, _MM_SHUFFLE(1, 0, 1, 0)),
            _mm256_xor_ps(_mm256_permute_ps(v0, _MM_SHUFFLE(3, 2, 3, 2)), second_minus));
        const __m256 cd = _mm256_add_ps(
            _mm256_permute_ps(v1, _MM_SHUFFLE(1, 0, 1, 0)),
            _mm256_xor_ps(_mm256_permute_ps(v1, _MM_SHUFFLE(3, 2, 3, 2)), second_minus));
        const __m256 ce = _mm256_xor_ps(_mm256_permute_ps(cd, _MM_SHUFFLE(2, 3, 1, 0)), turn);
        const __m256 r0 = _mm256_add_ps(ab, ce), r1 = _mm256_sub_ps(ab, ce);
        _mm_storeu_ps(x, _mm256_castps256_ps128(r0));
        _mm_storeu_ps(x + 4, _mm256_castps256_ps128(r1));
        _mm_storeu_ps(x + 8, _mm256_extractf128_ps(r0, 1));
        _mm_storeu_ps(x + 12, _mm256_extractf128_ps(r1, 1));
    }
    if (s < t.points) {  // a last single group (4 points only)
        TransformTables rest = t;
        rest.points = t.points - s;
        PlainFftFirstStages(rest, a + 2 * s, positive);
    }
}

}  // namespace

void InstallAvx2TransformKernels(TransformKernels& table) {
    if (!(CpuFlags() & kCpuAvx2)) return;
    table.first_stages = &Avx2FirstStages;
    table.stages = &Avx2Stages;
    table.dct_rotate = &Avx2DctRotate;
    table.dct_fold = &Avx2DctFold;
    table.dct_unfold = &Avx2DctUnfold;
}

#else

void InstallAvx2TransformKernels(TransformKernels&) {}

#endif

}  // namespace vemo::audio
