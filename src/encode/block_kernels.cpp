#include "block_kernels.h"

#include <cstdlib>

#include "vemo/cpu.h"

namespace vemo::encode {

namespace {

uint32_t PlainSad(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride) {
    uint32_t s = 0;
    for (int r = 0; r < 8; ++r, a += a_stride, b += b_stride)
        for (int c = 0; c < 8; ++c) s += static_cast<uint32_t>(std::abs(a[c] - b[c]));
    return s;
}

uint32_t PlainSse(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride) {
    uint32_t s = 0;
    for (int r = 0; r < 8; ++r, a += a_stride, b += b_stride)
        for (int c = 0; c < 8; ++c) {
            const int d = a[c] - b[c];
            s += static_cast<uint32_t>(d * d);
        }
    return s;
}

const BlockKernels kPlain = {&PlainSad, &PlainSse};

void FillBlockKernels(BlockKernels& table, uint32_t flags) {
    table = kPlain;
    if (!(flags & kCpuSse2)) return;
    if (const BlockKernels* sse2 = Sse2BlockKernels()) table = *sse2;
}

CpuKernelTable<BlockKernels, FillBlockKernels> g_kernels;

}  // namespace

const BlockKernels& PlainBlockKernels() {
    return kPlain;
}

const BlockKernels& ActiveBlockKernels() {
    return g_kernels.Get();
}

}  // namespace vemo::encode
