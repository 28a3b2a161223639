// The eight values of a coefficient run with 256-bit vectors: each value's
// four bytes shuffled out of two 16-byte loads, then shifted by its bit
// offset.
#include "run_kernels.h"
#include "vemo/cpu.h"

// Windows builds keep the narrower kernels: these may spill 32-byte vectors,
// and the Windows compilers here do not align the stack for them.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>
#endif

namespace vemo::audio {

#if defined(__AVX2__) && !defined(_WIN32)

namespace {

// Per width w: the bit offsets i (w + 1) of the eight values, less 8 times
// the byte of the second half's load for values 4-7.
struct Strides {
    alignas(32) int32_t offset[16][8];
    int32_t high[16];  // the second half's first byte: (4 (w + 1)) / 8
    constexpr Strides() : offset{}, high{} {
        for (int w = 0; w < 16; ++w) {
            high[w] = (4 * (w + 1)) >> 3;
            for (int i = 0; i < 8; ++i) offset[w][i] = i * (w + 1) - (i < 4 ? 0 : 8 * high[w]);
        }
    }
};
constexpr Strides kStrides;

inline uint32_t Avx2EightValues(const uint8_t* bytes, unsigned offset, unsigned w, int32_t* out) {
    // Values 0-3 come from the 16 bytes at the start, values 4-7 from the 16
    // at the first byte that value 4 can begin in (offset 0).
    const int high = kStrides.high[w];
    const __m256i at =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(offset)),
                         _mm256_load_si256(reinterpret_cast<const __m256i*>(kStrides.offset[w])));
    // Each 32-bit lane takes bytes first .. first + 3 of its half.
    const __m256i first = _mm256_mullo_epi16(_mm256_srli_epi32(at, 3), _mm256_set1_epi32(0x0101));
    const __m256i control = _mm256_add_epi32(_mm256_add_epi32(first, _mm256_slli_epi32(first, 16)),
                                             _mm256_set1_epi32(0x03020100));
    const __m256i data = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + high)), 1);
    const __m256i words = _mm256_shuffle_epi8(data, control);
    const __m256i x = _mm256_srlv_epi32(words, _mm256_and_si256(at, _mm256_set1_epi32(7)));
    const __m256i v = _mm256_and_si256(x, _mm256_set1_epi32(static_cast<int>((1u << w) - 1)));
    const __m256i sign = _mm256_and_si256(
        _mm256_srl_epi32(x, _mm_cvtsi32_si128(static_cast<int>(w))), _mm256_set1_epi32(1));
    const __m256i negative = _mm256_sub_epi32(_mm256_setzero_si256(), sign);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_sub_epi32(_mm256_xor_si256(v, negative), negative));
    const __m256i zero = _mm256_cmpeq_epi32(v, _mm256_setzero_si256());
    return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(zero)));
}

void Avx2ReadRuns(BlockBits& reader, uint32_t n, int32_t* values) {
    BlockBits bits = reader;  // kept in registers
    ReadRunValues(bits, n, values,
                  [](const uint8_t* bytes, unsigned offset, unsigned w, int32_t* out) {
                      return Avx2EightValues(bytes, offset, w, out);
                  });
    reader = bits;
}

const RunKernels kAvx2 = {&Avx2ReadRuns};

}  // namespace

const RunKernels* Avx2RunKernels() {
    return (CpuFlags() & kCpuAvx2) ? &kAvx2 : nullptr;
}

#else

const RunKernels* Avx2RunKernels() {
    return nullptr;
}

#endif

}  // namespace vemo::audio
