#include "run_kernels.h"

#include <bit>
#include <cstring>

#include "vemo/cpu.h"

namespace vemo::audio {

namespace {

uint64_t Load64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    if constexpr (std::endian::native != std::endian::little) {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= ((word >> (8 * (7 - i))) & 0xFF) << (8 * i);
        word = v;
    }
    return word;
}

}  // namespace

// Up to width 13 four values fit the 57 bits of one window: values 0-3 come
// from the window at the start and values 4-7 from the one where value 4
// begins.
uint32_t PlainEightValues(const uint8_t* bytes, unsigned offset, unsigned w, int32_t* out) {
    const uint32_t mask = (1u << w) - 1;
    const unsigned step = w + 1;
    uint32_t zero = 0;
    for (unsigned half = 0; half < 2; ++half) {
        const unsigned start = offset + 4 * half * step;
        uint64_t x = Load64(bytes + (start >> 3)) >> (start & 7);
        for (unsigned i = 4 * half; i < 4 * half + 4; ++i) {
            if (w > 13) {
                const unsigned pos = offset + i * step;
                x = Load64(bytes + (pos >> 3)) >> (pos & 7);
            }
            const uint32_t v = static_cast<uint32_t>(x) & mask;
            const uint32_t negative = static_cast<uint32_t>(x >> w) & 1;
            out[i] = static_cast<int32_t>((v ^ (0u - negative)) + negative);
            zero |= static_cast<uint32_t>(v == 0) << i;
            x >>= step;
        }
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
