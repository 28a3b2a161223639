// The 32-pixel YUY2/UYVY step with 256-bit vectors, shared by the AVX2 and
// AVX-512 kernels. Include it only where AVX2 is enabled; it has internal
// linkage, so each kernel file keeps its own copy built for its own level.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace vemo {

namespace {

// The chroma pairs of 32 columns interleaved in two 128-bit halves, each
// half interleaved with its luma in its own lane, and the four 128-bit
// results stored in pixel order. Nothing crosses lanes but the one insert:
// a cross-lane permute costs several times a store on some processors.
template <bool kUyvy>
inline void YuvStep(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2,
                    uint8_t* destination) {
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma2));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma1));
    const __m256i uv = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi8(u, v)),
                                               _mm_unpackhi_epi8(u, v), 1);  // [0-15 | 16-31]
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma));
    // [0-7 | 16-23] and [8-15 | 24-31]
    const __m256i a = kUyvy ? _mm256_unpacklo_epi8(uv, y) : _mm256_unpacklo_epi8(y, uv);
    const __m256i b = kUyvy ? _mm256_unpackhi_epi8(uv, y) : _mm256_unpackhi_epi8(y, uv);
    auto* d = reinterpret_cast<__m128i*>(destination);
    _mm_storeu_si128(d, _mm256_castsi256_si128(a));
    _mm_storeu_si128(d + 1, _mm256_castsi256_si128(b));
    _mm_storeu_si128(d + 2, _mm256_extracti128_si256(a, 1));
    _mm_storeu_si128(d + 3, _mm256_extracti128_si256(b, 1));
}

}  // namespace

}  // namespace vemo
