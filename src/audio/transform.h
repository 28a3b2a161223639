// The audio decoder's inverse transforms: one complex FFT of N/2 points with
// pre- and post-rotations gives the inverse DCT or the inverse real DFT of N
// single-precision values. The tables live in memory the caller provides
// (the decoder's single block), so a transform allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vemo::audio {

// Transform lengths N that the decoder uses.
constexpr uint32_t kMinTransformLength = 512;
constexpr uint32_t kMaxTransformLength = 4096;

struct TransformTables {
    uint32_t length = 0;  // N (power of two, 8 .. 4096)
    uint32_t points = 0;  // N / 2 complex points
    // For each FFT stage of length len = 8, 16 .. points: len / 2 pairs of
    // cos, sin of 2 pi k / len.
    float* twiddle = nullptr;
    // The bit-reversal permutation as its swaps: pairs i, r(i) with
    // i < r(i), swap_count of them (at most points / 2) in the first
    // 2 swap_count of the array's points entries.
    uint16_t* bit_reverse = nullptr;
    uint32_t swap_count = 0;
    float* cosines = nullptr;   // nc entries (N for the DCT, N / 4 for the real DFT)
    uint32_t cosine_count = 0;  // nc
};

// Sizes of the three tables, in elements.
inline uint32_t TwiddleFloats(uint32_t length) {
    return length < 16 ? 2 : length;
}
inline uint32_t BitReverseEntries(uint32_t length) {
    return length / 2;
}
inline uint32_t CosineFloats(uint32_t length, bool dct) {
    return dct ? length : length / 4;
}

// Fills the tables (pointers set by the caller to arrays of the sizes above).
void BuildTransformTables(uint32_t length, bool dct, TransformTables* tables);

// In-place complex FFT of tables.points values a[2m] + i a[2m+1], natural
// order in and out. Kernel e^(+2 pi i m n / P) when positive, else e^(-...).
void ComplexFft(const TransformTables& tables, float* a, bool positive);

// The transform kernel table: the FFT's first two stages (one radix-4 pass)
// and its stages of length 8 .. points, and the inverse DCT's rotation before
// its FFT and its spectrum fold and unfolding after it; the plain versions
// first, overwritten by the SSE2 ones when CpuFlags() has SSE2, then rung by
// rung by the AVX2 and 512-bit ones (rebuilt after SetCpuMask). Every entry
// does the plain version's operations in its order, so it gives the same
// values wherever the plain version rounds every operation to single
// precision.
struct TransformKernels {
    void (*first_stages)(const TransformTables& tables, float* a, bool positive) = nullptr;
    void (*stages)(const TransformTables& tables, float* a, bool positive) = nullptr;
    void (*dct_rotate)(const TransformTables& tables, float* a) = nullptr;
    void (*dct_fold)(const TransformTables& tables, float* a) = nullptr;
    void (*dct_unfold)(const TransformTables& tables, float* a) = nullptr;
};
void PlainFftFirstStages(const TransformTables& tables, float* a, bool positive);
void PlainFftStages(const TransformTables& tables, float* a, bool positive);
void PlainDctRotate(const TransformTables& tables, float* a);
void PlainDctFold(const TransformTables& tables, float* a);
// The plain steps from j = from on: the tails the wider rungs leave.
void PlainDctRotateFrom(const TransformTables& tables, float* a, uint32_t from);
void PlainDctFoldFrom(const TransformTables& tables, float* a, uint32_t from);
void PlainDctUnfold(const TransformTables& tables, float* a);
void FillTransformKernels(TransformKernels& table, uint32_t flags);
const TransformKernels& ActiveTransformKernels();
// The SSE2 rung (transform_sse2.cpp): null when not built or not in CpuFlags().
const TransformKernels* Sse2TransformKernels();
// The 256-bit rung (transform_avx2.cpp): replaces the inverse DCT's entries
// when built and in CpuFlags().
void InstallAvx2TransformKernels(TransformKernels& table);
// The 512-bit rung (transform_avx512.cpp): replaces entries when built and
// in CpuFlags().
void InstallAvx512TransformKernels(TransformKernels& table);

// x[k] = sum_j a[j] cos(pi j (k + 1/2) / N), in place.
void InverseDct(const TransformTables& tables, float* a);
// x[k] = (a[0] + a[1] (-1)^k) / 2
//        + sum_{j=1}^{N/2-1} (a[2j] cos(2 pi j k / N) + a[2j+1] sin(2 pi j k / N)),
// in place.
void InverseRealDft(const TransformTables& tables, float* a);

}  // namespace vemo::audio
