// AVX2 inverse transform: the columns of the whole block in one butterfly of
// eight 32-bit lanes, then the rows the same way after a transpose. Exactly
// the plain kernel's wrapping 32-bit arithmetic, lane by lane; the low 32
// bits of a product are the same whether it is read as signed or unsigned.
#include "vemo/cpu.h"
#include "video_internal.h"

// Windows builds keep the SSE2 transform: this kernel spills 32-byte
// vectors, and the Windows compilers here do not align the stack for them.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

namespace vemo::video {

namespace {

inline __m256i MulK(__m256i x, int32_t k) {
    return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(k)), 11);
}

inline void Butterfly(const __m256i s[8], __m256i o[8]) {
    const __m256i a0 = _mm256_add_epi32(s[0], s[4]);
    const __m256i a1 = _mm256_sub_epi32(s[0], s[4]);
    const __m256i a2 = _mm256_add_epi32(s[2], s[6]);
    const __m256i a3 = _mm256_sub_epi32(MulK(_mm256_sub_epi32(s[2], s[6]), 2896), a2);
    const __m256i a4 = _mm256_add_epi32(s[5], s[3]);
    const __m256i a5 = _mm256_sub_epi32(s[5], s[3]);
    const __m256i a6 = _mm256_add_epi32(s[1], s[7]);
    const __m256i a7 = _mm256_sub_epi32(s[1], s[7]);
    const __m256i b0 = _mm256_add_epi32(a4, a6);
    const __m256i b1 = MulK(_mm256_add_epi32(a5, a7), 3784);
    const __m256i b2 = _mm256_add_epi32(_mm256_sub_epi32(MulK(a5, -5352), b0), b1);
    const __m256i b3 = _mm256_sub_epi32(MulK(_mm256_sub_epi32(a6, a4), 2896), b2);
    const __m256i b4 = _mm256_sub_epi32(_mm256_add_epi32(MulK(a7, 2217), b3), b1);
    const __m256i e = _mm256_add_epi32(a0, a2), f = _mm256_sub_epi32(a0, a2);
    const __m256i g = _mm256_add_epi32(a1, a3), h = _mm256_sub_epi32(a1, a3);
    o[0] = _mm256_add_epi32(e, b0);
    o[1] = _mm256_add_epi32(g, b2);
    o[2] = _mm256_add_epi32(h, b3);
    o[3] = _mm256_sub_epi32(f, b4);
    o[4] = _mm256_add_epi32(f, b4);
    o[5] = _mm256_sub_epi32(h, b3);
    o[6] = _mm256_sub_epi32(g, b2);
    o[7] = _mm256_sub_epi32(e, b0);
}

// Rows of 32-bit lanes to columns (and back).
inline void Transpose8(__m256i r[8]) {
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
        r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
    }
}

void Avx2InverseTransform(const int16_t coefficients[64], const uint32_t quant[64],
                          uint8_t out[64]) {
    __m256i m[8], o[8];
    for (int r = 0; r < 8; ++r) {
        const __m256i c = _mm256_cvtepi16_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r)));
        const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quant + 8 * r));
        m[r] = _mm256_srai_epi32(_mm256_mullo_epi32(c, q), 11);
    }
    // Columns: lanes are columns. (A column without AC coefficients needs no
    // shortcut: the butterfly of s0 and seven zeros is s0 in every output.)
    Butterfly(m, o);
    Transpose8(o);  // o[c]: column c, lanes are rows
    Butterfly(o, m);
    const __m256i round = _mm256_set1_epi32(127), low = _mm256_set1_epi32(0xFF);
    for (int c = 0; c < 8; ++c)
        m[c] = _mm256_and_si256(_mm256_srai_epi32(_mm256_add_epi32(m[c], round), 8), low);
    Transpose8(m);  // back to rows
    // Packing works within 128-bit halves: rows r..r+3 come out as their
    // low halves then their high halves, put back in order by the permute.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (int r = 0; r < 8; r += 4) {
        const __m256i words = _mm256_packus_epi16(_mm256_packs_epi32(m[r], m[r + 1]),
                                                  _mm256_packs_epi32(m[r + 2], m[r + 3]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * r),
                            _mm256_permutevar8x32_epi32(words, order));
    }
}

}  // namespace

InverseTransformKernel Avx2InverseTransformKernel() {
    return (CpuFlags() & kCpuAvx2) ? Avx2InverseTransform : nullptr;
}

}  // namespace vemo::video

#else

namespace vemo::video {

InverseTransformKernel Avx2InverseTransformKernel() {
    return nullptr;
}

}  // namespace vemo::video

#endif
