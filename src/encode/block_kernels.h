// The encoder's block measures: sums of absolute and of squared differences
// over one 8x8 block, in plain C and with SSE2 where the processor has it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vemo::encode {

using BlockMeasure = uint32_t (*)(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b,
                                  ptrdiff_t b_stride);

struct BlockKernels {
    BlockMeasure sad = nullptr;  // sum of |a - b|
    BlockMeasure sse = nullptr;  // sum of (a - b)^2
};

// The kernels CpuFlags() allows; rebuilt after a change of the CPU mask.
const BlockKernels& ActiveBlockKernels();
// The plain versions, and the SSE2 ones (null when not built or not present).
const BlockKernels& PlainBlockKernels();
const BlockKernels* Sse2BlockKernels();

}  // namespace vemo::encode
