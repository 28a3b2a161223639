// Kernels of the coefficient runs: the run loop of one channel, with eight
// values of one width taken at once.
#pragma once

#include <algorithm>
#include <cstdint>

#include "block_bits.h"

namespace vemo::audio {

// Run lengths in units of 8 coefficients.
constexpr uint32_t kRunLength[16] = {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 64};

// The runs of coefficients 2 .. n - 1 of one channel: values[i] is the
// signed integer value of coefficient i (0 in runs of width 0).
template <class Eight>
inline void ReadRunValues(BlockBits& bits, uint32_t n, int32_t* values, Eight eight) {
    for (uint32_t j = 2; j < n;) {
        // The run's header: flag bit, with flag 1 a 4-bit length index, then
        // the 4-bit width.
        const uint32_t header = static_cast<uint32_t>(bits.Window(bits.Position())) & 0x1FF;
        uint32_t length = 8, w = (header >> 1) & 15;
        // A branch, not a selection: runs of eight are the common kind (the
        // longer ones mostly close a channel's silent top), and their width
        // then need not wait for the flag.
        if (header & 1) [[unlikely]] {
            length = 8 * kRunLength[(header >> 1) & 15];
            w = header >> 5;
            bits.Skip(4);
        }
        bits.Skip(5);
        const uint32_t end = std::min(j + length, n);
        if (w == 0)
            std::fill(values + j, values + end, 0);
        else
            bits.ReadSignedValues(w, values + j, end - j, eight);
        j = end;
    }
}

// The run kernel table: the plain kernel, overwritten by the AVX2 one when
// CpuFlags() has AVX2 (rebuilt after SetCpuMask). Every entry gives the
// plain results: ReadRunValues with PlainEightValues.
struct RunKernels {
    void (*read_runs)(BlockBits& bits, uint32_t n, int32_t* values) = nullptr;
};
void PlainReadRuns(BlockBits& bits, uint32_t n, int32_t* values);
void FillRunKernels(RunKernels& table, uint32_t flags);
const RunKernels& ActiveRunKernels();
// The AVX2 rung (run_avx2.cpp): null when not built or not in CpuFlags().
const RunKernels* Avx2RunKernels();

}  // namespace vemo::audio
