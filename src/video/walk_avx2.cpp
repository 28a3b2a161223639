// AVX2 stores for the plane walk's runs: scaled fills two squares (32 bytes
// a row) a store, skip strips 32 bytes a row a step. The same bytes as the
// plain kernels.
#include "vemo/cpu.h"
#include "video_internal.h"

// Windows builds keep the plain kernels, like the other wide kernels.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

namespace vemo::video {

namespace {

inline void FillSquare16(uint8_t* dst, size_t stride, uint8_t colour) {
    const __m128i v = _mm_set1_epi8(static_cast<char>(colour));
    for (int row = 0; row < 16; ++row, dst += stride)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}

void Avx2FillSquares(uint8_t* dst, uint32_t stride, const uint8_t* colours, uint32_t count) {
    const size_t step = stride;
    for (; count >= 2; count -= 2, colours += 2, dst += 32) {
        const __m256i v = _mm256_setr_m128i(_mm_set1_epi8(static_cast<char>(colours[0])),
                                            _mm_set1_epi8(static_cast<char>(colours[1])));
        uint8_t* p = dst;
        for (int row = 0; row < 16; ++row, p += step)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    if (count) FillSquare16(dst, step, colours[0]);
}

// Rows under 32 bytes as two 16-byte pieces, wider ones as 32-byte pieces;
// the last piece of a row overlaps the one before it where the width is not
// a multiple of the piece.
void Avx2CopyStrip(const uint8_t* src, uint8_t* dst, uint32_t stride, uint32_t bytes) {
    const size_t step = stride;
    if (bytes < 32) {
        for (int row = 0; row < 8; ++row, src += step, dst += step) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + bytes - 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + bytes - 16), b);
        }
        return;
    }
    for (int row = 0; row < 8; ++row, src += step, dst += step) {
        uint32_t at = 0;
        for (; at + 32 < bytes; at += 32)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + at),
                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + at)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + bytes - 32),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + bytes - 32)));
    }
}

const WalkKernels kAvx2Walk = {Avx2FillSquares, Avx2CopyStrip};

}  // namespace

const WalkKernels* Avx2WalkKernels() {
    return (CpuFlags() & kCpuAvx2) ? &kAvx2Walk : nullptr;
}

}  // namespace vemo::video

#else

namespace vemo::video {

const WalkKernels* Avx2WalkKernels() {
    return nullptr;
}

}  // namespace vemo::video

#endif
