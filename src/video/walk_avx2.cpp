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

inline __m128i Load(const uint8_t* p, __m128i) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m256i Load(const uint8_t* p, __m256i) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void Store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// 8 rows of two pieces (16 or 32 bytes each) at 0 and `second`, which may
// overlap the first.
template <typename Piece>
inline void CopyPieces(const uint8_t* src, uint8_t* dst, size_t stride, size_t second) {
#pragma GCC unroll 8
    for (int row = 0; row < 8; ++row, src += stride, dst += stride) {
        const Piece a = Load(src, Piece{}), b = Load(src + second, Piece{});
        Store(dst, a);
        Store(dst + second, b);
    }
}

// Strips under 32 bytes a row as two 16-byte pieces, up to 64 bytes as two
// 32-byte pieces (the second overlapping the first where the width is not
// twice the piece); wider ones 64 bytes at a time, the last step moved back
// to end at the strip's end (the two buffers never overlap, so what is
// copied twice is the same).
void Avx2CopyStrip(const uint8_t* src, uint8_t* dst, uint32_t stride, uint32_t bytes) {
    const size_t step = stride;
    if (bytes < 32) {
        CopyPieces<__m128i>(src, dst, step, bytes - 16);
        return;
    }
    uint32_t at = 0;
    for (; at + 64 < bytes; at += 64) CopyPieces<__m256i>(src + at, dst + at, step, 32);
    if (bytes > 64) at = bytes - 64;
    CopyPieces<__m256i>(src + at, dst + at, step, bytes - at - 32);
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
