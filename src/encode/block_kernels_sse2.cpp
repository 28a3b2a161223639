// SSE2 block measures: two rows of eight samples per register.
#include "block_kernels.h"
#include "vemo/cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vemo::encode {

#if defined(__SSE2__)

namespace {

inline __m128i TwoRows(const uint8_t* p, ptrdiff_t stride) {
    const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + stride));
    return _mm_unpacklo_epi64(lo, hi);
}

uint32_t Sad(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride) {
    __m128i sum = _mm_setzero_si128();
    for (int r = 0; r < 8; r += 2, a += 2 * a_stride, b += 2 * b_stride)
        sum = _mm_add_epi64(sum, _mm_sad_epu8(TwoRows(a, a_stride), TwoRows(b, b_stride)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(sum) +
                                 _mm_cvtsi128_si32(_mm_srli_si128(sum, 8)));
}

uint32_t Sse(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = _mm_setzero_si128();
    for (int r = 0; r < 8; r += 2, a += 2 * a_stride, b += 2 * b_stride) {
        const __m128i x = TwoRows(a, a_stride), y = TwoRows(b, b_stride);
        const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero));
        const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero));
        sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

const BlockKernels kSse2 = {&Sad, &Sse};

}  // namespace

const BlockKernels* Sse2BlockKernels() {
    return (CpuFlags() & kCpuSse2) ? &kSse2 : nullptr;
}

#else

const BlockKernels* Sse2BlockKernels() {
    return nullptr;
}

#endif

}  // namespace vemo::encode
