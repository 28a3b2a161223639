// The FFT's stages of length 8 and up with 256- and 512-bit vectors: the
// same operations as the SSE2 kernel in the same order, four and eight
// complex values at a time. Built without contraction into fused
// multiply-adds, so each product rounds on its own as in the plain kernel.
#include "transform.h"
#include "vemo/cpu.h"

#if defined(__AVX512F__) && !defined(_WIN32)
#include <immintrin.h>

#include <climits>

namespace vemo::audio {

namespace {

// The masked forms with every lane kept: the plain ones trip a false
// uninitialised warning of the compiler's own header.
constexpr __mmask16 kAll = 0xFFFF;

// Length 8: four butterflies per block, the four twiddles of the stage.
void StageOf8(uint32_t points, const float* w, float* a, __m256i sign) {
    const __m256 wk = _mm256_loadu_ps(w);
    const __m256 wr = _mm256_moveldup_ps(wk), wi = _mm256_movehdup_ps(wk);
    for (uint32_t s = 0; s < points; s += 8) {
        float* u = a + 2 * s;
        float* v = u + 8;
        const __m256 vk = _mm256_loadu_ps(v);
        const __m256 swapped = _mm256_permute_ps(vk, _MM_SHUFFLE(2, 3, 0, 1));
        const __m256 signed_part = _mm256_castsi256_ps(
            _mm256_xor_si256(_mm256_castps_si256(_mm256_mul_ps(wi, swapped)), sign));
        const __m256 tk = _mm256_add_ps(_mm256_mul_ps(wr, vk), signed_part);
        const __m256 uk = _mm256_loadu_ps(u);
        _mm256_storeu_ps(v, _mm256_sub_ps(uk, tk));
        _mm256_storeu_ps(u, _mm256_add_ps(uk, tk));
    }
}

void Avx512Stages(const TransformTables& t, float* a, bool positive) {
    const uint32_t p = t.points;
    const float* w = t.twiddle;
    // The signs of the wi products, as in the SSE2 kernel.
    const int32_t re = positive ? INT32_MIN : 0, im = positive ? 0 : INT32_MIN;
    const __m512i sign =
        _mm512_setr_epi32(re, im, re, im, re, im, re, im, re, im, re, im, re, im, re, im);
    StageOf8(p, w, a, _mm256_setr_epi32(re, im, re, im, re, im, re, im));
    w += 8;
    for (uint32_t len = 16; len <= p; len <<= 1) {
        const uint32_t half = len / 2;
        for (uint32_t s = 0; s < p; s += len) {
            float* u = a + 2 * s;
            float* v = u + 2 * half;
            for (uint32_t k = 0; k < half; k += 8) {
                const __m512 wk = _mm512_loadu_ps(w + 2 * k);
                const __m512 wr = _mm512_maskz_moveldup_ps(kAll, wk),
                             wi = _mm512_maskz_movehdup_ps(kAll, wk);
                const __m512 vk = _mm512_loadu_ps(v + 2 * k);
                const __m512 swapped = _mm512_maskz_permute_ps(kAll, vk, _MM_SHUFFLE(2, 3, 0, 1));
                const __m512 signed_part = _mm512_castsi512_ps(
                    _mm512_xor_si512(_mm512_castps_si512(_mm512_mul_ps(wi, swapped)), sign));
                const __m512 tk = _mm512_add_ps(_mm512_mul_ps(wr, vk), signed_part);
                const __m512 uk = _mm512_loadu_ps(u + 2 * k);
                _mm512_storeu_ps(v + 2 * k, _mm512_sub_ps(uk, tk));
                _mm512_storeu_ps(u + 2 * k, _mm512_add_ps(uk, tk));
            }
        }
        w += 2 * half;
    }
}

}  // namespace

void InstallAvx512TransformKernels(TransformKernels& table) {
    if (CpuFlags() & kCpuAvx512) table.stages = &Avx512Stages;
}

}  // namespace vemo::audio

#else

namespace vemo::audio {

void InstallAvx512TransformKernels(TransformKernels&) {}

}  // namespace vemo::audio

#endif
