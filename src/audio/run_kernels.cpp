#include "run_kernels.h"

#include <cstring>

#include "vemo/cpu.h"

namespace vemo::audio {

uint32_t PlainEightValues(const uint8_t* bytes, unsigned offset, unsigned w, int32_t* out) {
    const uint32_t mask = (1u << w) - 1;
    uint32_t zero = 0;
    for (unsigned i = 0; i < 8; ++i) {
        const unsigned pos = offset + i * (w + 1);
        uint64_t x = 0;
        for (unsigned b = 0; b < 8; ++b)
            x |= static_cast<uint64_t>(bytes[(pos >> 3) + b]) << (8 * b);
        x >>= pos & 7;
        const uint32_t v = static_cast<uint32_t>(x) & mask;
        const uint32_t negative = static_cast<uint32_t>(x >> w) & 1;
        out[i] = static_cast<int32_t>((v ^ (0u - negative)) + negative);
        zero |= static_cast<uint32_t>(v == 0) << i;
    }
    return zero;
}

void PlainReadRuns(BlockBits& reader, uint32_t n, int32_t* values) {
    BlockBits bits = reader;  // kept in registers
    ReadRunValues(bits, n, values, &PlainEightValues);
    reader = bits;
}

void BlockBits::ReadSignedRun(unsigned w, float q, float* out, uint32_t count) {
    int32_t values[64];
    while (count) {
        const uint32_t step = count < 64 ? count : 64;
        ReadSignedValues(w, values, step, &PlainEightValues);
        for (uint32_t i = 0; i < step; ++i) out[i] = static_cast<float>(values[i]) * q;
        out += step;
        count -= step;
    }
}

namespace {

CpuKernelTable<RunKernels, FillRunKernels> g_kernels;

}  // namespace

void FillRunKernels(RunKernels& table, uint32_t flags) {
    table = {&PlainReadRuns};
    if (!(flags & kCpuAvx2)) return;
    if (const RunKernels* avx2 = Avx2RunKernels()) table = *avx2;
}

const RunKernels& ActiveRunKernels() {
    return g_kernels.Get();
}

}  // namespace vemo::audio
