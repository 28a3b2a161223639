// The 32-pixel YUY2/UYVY step with 256-bit vectors, shared by the AVX2 and
// AVX-512 kernels. Include it only where AVX2 is enabled; it has internal
// linkage, so each kernel file keeps its own copy built for its own level.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace vemo {

namespace {

// The chroma pairs of 16 columns built as words, each 128-bit half
// interleaved with its luma, and the halves regrouped into two 32-byte stores
// in pixel order.
template <bool kUyvy>
inline void YuvStep(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2,
                    uint8_t* destination) {
    const __m256i u =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma2)));
    const __m256i v =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma1)));
    const __m256i uv = _mm256_or_si256(u, _mm256_slli_epi16(v, 8));  // [pixels 0-15 | 16-31]
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma));
    // [0-7 | 16-23] and [8-15 | 24-31]
    const __m256i a = kUyvy ? _mm256_unpacklo_epi8(uv, y) : _mm256_unpacklo_epi8(y, uv);
    const __m256i b = kUyvy ? _mm256_unpackhi_epi8(uv, y) : _mm256_unpackhi_epi8(y, uv);
    auto* d = reinterpret_cast<__m256i*>(destination);
    _mm256_storeu_si256(d, _mm256_permute2x128_si256(a, b, 0x20));      // pixels 0-15
    _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(a, b, 0x31));  // pixels 16-31
}

}  // namespace

}  // namespace vemo
