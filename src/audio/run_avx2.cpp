// The eight values of a coefficient run with 256-bit vectors: each value's
// four bytes shuffled out of two 16-byte loads, then shifted by its bit
// offset.
#include "run_kernels.h"
#include "vemo/cpu.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace vemo::audio {

#if defined(__AVX2__)

namespace {

inline uint32_t Avx2EightValues(const uint8_t* bytes, unsigned offset, unsigned w, int32_t* out) {
    const int s = static_cast<int>(w + 1);
    // Values 0-3 come from the 16 bytes at the start, values 4-7 from the 16
    // at the first byte that value 4 can begin in (offset 0).
    const int high = (4 * s) >> 3;
    const __m256i at =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(offset)),
                         _mm256_setr_epi32(0, s, 2 * s, 3 * s, 4 * s, 5 * s, 6 * s, 7 * s));
    const __m256i first = _mm256_sub_epi32(_mm256_srli_epi32(at, 3),
                                           _mm256_setr_epi32(0, 0, 0, 0, high, high, high, high));
    // Each 32-bit lane gathers bytes first .. first + 3 of its half.
    const __m256i control = _mm256_add_epi32(
        _mm256_mullo_epi16(first, _mm256_set1_epi32(0x0101)),
        _mm256_add_epi32(
            _mm256_slli_epi32(_mm256_mullo_epi16(first, _mm256_set1_epi32(0x0101)), 16),
            _mm256_set1_epi32(0x03020100)));
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
