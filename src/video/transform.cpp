// The integer inverse transform and the block output stages.
//
// All sums and products wrap modulo 2^32 (they do overflow with large
// coefficients and high quantisers), so they are done in unsigned
// arithmetic; only the shifts read the words as signed.
#include <atomic>
#include <mutex>

#include "vemo/cpu.h"
#include "video_internal.h"

namespace vemo::video {

namespace {

inline uint32_t Sar(uint32_t v, int n) {
    return static_cast<uint32_t>(static_cast<int32_t>(v) >> n);
}
inline uint32_t Mul(uint32_t k, uint32_t x) {
    return Sar(x * k, 11);
}

constexpr uint32_t kA1 = 2896;
constexpr uint32_t kA2 = 2217;
constexpr uint32_t kA3 = 3784;
constexpr uint32_t kA4 = static_cast<uint32_t>(-5352);

// One butterfly over s[0], s[step], ..., s[7 * step].
inline void Butterfly(const uint32_t* s, int step, uint32_t o[8]) {
    const uint32_t s0 = s[0], s1 = s[step], s2 = s[2 * step], s3 = s[3 * step];
    const uint32_t s4 = s[4 * step], s5 = s[5 * step], s6 = s[6 * step], s7 = s[7 * step];
    const uint32_t a0 = s0 + s4;
    const uint32_t a1 = s0 - s4;
    const uint32_t a2 = s2 + s6;
    const uint32_t a3 = Mul(kA1, s2 - s6) - a2;
    const uint32_t a4 = s5 + s3;
    const uint32_t a5 = s5 - s3;
    const uint32_t a6 = s1 + s7;
    const uint32_t a7 = s1 - s7;
    const uint32_t b0 = a4 + a6;
    const uint32_t b1 = Mul(kA3, a5 + a7);
    const uint32_t b2 = Mul(kA4, a5) - b0 + b1;
    const uint32_t b3 = Mul(kA1, a6 - a4) - b2;
    const uint32_t b4 = Mul(kA2, a7) + b3 - b1;
    o[0] = a0 + a2 + b0;
    o[1] = a1 + a3 + b2;
    o[2] = a1 - a3 + b3;
    o[3] = a0 - a2 - b4;
    o[4] = a0 - a2 + b4;
    o[5] = a1 - a3 - b3;
    o[6] = a1 + a3 - b2;
    o[7] = a0 + a2 - b0;
}

void PlainInverseTransform(const int16_t coefficients[64], const uint32_t quant[64],
                           uint8_t out[64]) {
    uint32_t temp[64];
    for (int col = 0; col < 8; ++col) {
        uint32_t s[8];
        bool ac = false;
        for (int row = 0; row < 8; ++row) {
            const int i = row * 8 + col;
            s[row] =
                Sar(static_cast<uint32_t>(static_cast<int32_t>(coefficients[i])) * quant[i], 11);
            if (row && coefficients[i]) ac = true;
        }
        if (!ac) {
            for (int row = 0; row < 8; ++row) temp[row * 8 + col] = s[0];
            continue;
        }
        uint32_t o[8];
        Butterfly(s, 1, o);
        for (int row = 0; row < 8; ++row) temp[row * 8 + col] = o[row];
    }
    for (int row = 0; row < 8; ++row) {
        uint32_t o[8];
        Butterfly(temp + row * 8, 1, o);
        for (int col = 0; col < 8; ++col)
            out[row * 8 + col] = static_cast<uint8_t>(Sar(o[col] + 127, 8));
    }
}

void PlainAddBlock(const uint8_t add[64], const uint8_t* src, uint8_t* dst, uint32_t stride) {
    for (int row = 0; row < 8; ++row) {
        uint8_t line[8];
        std::memcpy(line, src + row * stride, 8);  // source and destination may overlap
        for (int col = 0; col < 8; ++col)
            line[col] = static_cast<uint8_t>(line[col] + add[row * 8 + col]);
        std::memcpy(dst + row * stride, line, 8);
    }
}

const VideoKernels kPlain = {PlainInverseTransform, PlainAddBlock};

// True when a coefficient of rows 1-7 is not zero (the block needs the
// whole transform).
bool BeyondFirstRow(const int16_t coefficients[64]) {
    uint64_t rows = 0;
    for (int i = 8; i < 64; i += 4) {
        uint64_t w;
        std::memcpy(&w, coefficients + i, 8);
        rows |= w;
    }
    return rows != 0;
}

inline uint32_t Dequantise(int16_t coefficient, uint32_t quant) {
    return Sar(static_cast<uint32_t>(static_cast<int32_t>(coefficient)) * quant, 11);
}

// The one sample value of a block without AC coefficients: every column
// takes the shortcut and the butterfly of one value and seven zeros is that
// value in every output, so all 64 samples are the rounded DC.
inline uint8_t FlatValue(const int16_t coefficients[64], const uint32_t quant[64]) {
    return static_cast<uint8_t>(Sar(Dequantise(coefficients[0], quant[0]) + 127, 8));
}

// Byte-wise sum modulo 256 of two words of eight samples.
inline uint64_t AddBytes(uint64_t a, uint64_t b) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return ((a & kLow7) + (b & kLow7)) ^ ((a ^ b) & ~kLow7);
}

// Adds one line of eight samples to each of the eight source rows, a row
// read before it is written (source and destination may overlap).
void AddLine(const uint8_t line[8], const uint8_t* src, uint8_t* dst, uint32_t stride) {
    uint64_t add;
    std::memcpy(&add, line, 8);
    for (int row = 0; row < 8; ++row) {
        uint64_t w;
        std::memcpy(&w, src + row * stride, 8);
        w = AddBytes(w, add);
        std::memcpy(dst + row * stride, &w, 8);
    }
}

// The plain fused stages: blocks with rows 1-7 zero draw one line eight
// times, the others take the plain transform.
void PlainTransformPut(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                       uint32_t stride) {
    uint8_t out[64];
    if (!BeyondFirstRow(coefficients)) {
        FirstRowLine(coefficients, quant, out);
        for (int row = 0; row < 8; ++row) std::memcpy(dst + row * stride, out, 8);
        return;
    }
    PlainInverseTransform(coefficients, quant, out);
    for (int row = 0; row < 8; ++row) std::memcpy(dst + row * stride, out + row * 8, 8);
}

void PlainTransformAdd(const int16_t coefficients[64], const uint32_t quant[64], const uint8_t* src,
                       uint8_t* dst, uint32_t stride) {
    uint8_t out[64];
    if (!BeyondFirstRow(coefficients)) {
        FirstRowLine(coefficients, quant, out);
        AddLine(out, src, dst, stride);
        return;
    }
    PlainInverseTransform(coefficients, quant, out);
    PlainAddBlock(out, src, dst, stride);
}

// Each sample as a 2x2 square: row r of the block gives rows 2r and 2r + 1.
void PutDoubledRows(const uint8_t out[64], uint8_t* dst, uint32_t stride) {
    for (int row = 0; row < 8; ++row) {
        uint8_t line[16];
        for (int col = 0; col < 8; ++col) line[2 * col] = line[2 * col + 1] = out[row * 8 + col];
        std::memcpy(dst + 2 * row * stride, line, 16);
        std::memcpy(dst + (2 * row + 1) * stride, line, 16);
    }
}

void PlainTransformPutDoubled(const int16_t coefficients[64], const uint32_t quant[64],
                              uint8_t* dst, uint32_t stride) {
    uint8_t out[64];
    if (!BeyondFirstRow(coefficients)) {
        FirstRowLine(coefficients, quant, out);
        for (int row = 1; row < 8; ++row) std::memcpy(out + row * 8, out, 8);
    } else {
        PlainInverseTransform(coefficients, quant, out);
    }
    PutDoubledRows(out, dst, stride);
}

const TransformKernels kPlainTransform = {PlainTransformPut, PlainTransformAdd,
                                          PlainTransformPutDoubled};

CpuKernelTable<VideoKernels, FillVideoKernels> g_kernels;
CpuKernelTable<TransformKernels, FillTransformKernels> g_transform_kernels;

}  // namespace

const VideoKernels& PlainKernels() {
    return kPlain;
}

void FillVideoKernels(VideoKernels& table, uint32_t flags) {
    table = kPlain;
    if (!(flags & kCpuSse2)) return;
    if (const VideoKernels* sse2 = Sse2Kernels()) table = *sse2;
    if (!(flags & kCpuAvx2)) return;
    if (InverseTransformKernel avx2 = Avx2InverseTransformKernel()) table.inverse_transform = avx2;
}

const VideoKernels& ActiveVideoKernels() {
    return g_kernels.Get();
}

const TransformKernels& PlainTransformKernels() {
    return kPlainTransform;
}

void FillTransformKernels(TransformKernels& table, uint32_t flags) {
    table = kPlainTransform;
    if (!(flags & kCpuSse2)) return;
    if (const TransformKernels* sse2 = Sse2TransformKernels()) table = *sse2;
    if (!(flags & kCpuAvx2)) return;
    if (const TransformKernels* avx2 = Avx2TransformKernels()) table = *avx2;
}

const TransformKernels& ActiveTransformKernels() {
    return g_transform_kernels.Get();
}

// Every column takes the shortcut (all eight outputs are its dequantised
// row-0 value), so all eight rows of the intermediate block are equal and
// one row butterfly gives the line all eight output rows share. Without AC
// coefficients that line is the rounded DC.
void FirstRowLine(const int16_t coefficients[64], const uint32_t quant[64], uint8_t line[8]) {
    uint64_t ac;  // coefficients 1-3 and 4-7
    std::memcpy(&ac, coefficients, 8);
    uint64_t more;
    std::memcpy(&more, coefficients + 4, 8);
    if (((ac >> 16) | more) == 0) {
        std::memset(line, FlatValue(coefficients, quant), 8);
        return;
    }
    uint32_t s[8], o[8];
    for (int col = 0; col < 8; ++col) s[col] = Dequantise(coefficients[col], quant[col]);
    Butterfly(s, 1, o);
    for (int col = 0; col < 8; ++col) line[col] = static_cast<uint8_t>(Sar(o[col] + 127, 8));
}

void InverseTransform(const int16_t coefficients[64], const uint32_t quant[64], uint8_t out[64]) {
    if (BeyondFirstRow(coefficients)) {
        ActiveVideoKernels().inverse_transform(coefficients, quant, out);
        return;
    }
    FirstRowLine(coefficients, quant, out);
    for (int row = 1; row < 8; ++row) std::memcpy(out + row * 8, out, 8);
}

namespace {

// The put and add in use, one load away from their callers (which call them
// for every transformed block). They start as, and a new CPU mask sets them
// back to, versions that look the entries up in the table first.
void FirstPut(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
              uint32_t stride);
void FirstAdd(const int16_t coefficients[64], const uint32_t quant[64], const uint8_t* src,
              uint8_t* dst, uint32_t stride);
void FirstPutDoubled(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                     uint32_t stride);
std::atomic<TransformPutKernel> g_put{FirstPut};
std::atomic<TransformAddKernel> g_add{FirstAdd};
std::atomic<TransformPutKernel> g_put_doubled{FirstPutDoubled};

void ForgetEntries(void*) {
    g_put.store(FirstPut);
    g_add.store(FirstAdd);
    g_put_doubled.store(FirstPutDoubled);
}

// A mask set while the entries were being stored may have been missed:
// then they are forgotten again.
void KeepEntries() {
    static std::once_flag registered;
    std::call_once(registered, [] { RegisterCpuKernelTable(ForgetEntries, nullptr); });
    const uint32_t generation = CpuMaskGeneration();
    const TransformKernels& table = ActiveTransformKernels();
    g_put.store(table.put);
    g_add.store(table.add);
    g_put_doubled.store(table.put_doubled);
    if (generation != CpuMaskGeneration()) ForgetEntries(nullptr);
}

void FirstPut(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
              uint32_t stride) {
    KeepEntries();
    ActiveTransformKernels().put(coefficients, quant, dst, stride);
}

void FirstAdd(const int16_t coefficients[64], const uint32_t quant[64], const uint8_t* src,
              uint8_t* dst, uint32_t stride) {
    KeepEntries();
    ActiveTransformKernels().add(coefficients, quant, src, dst, stride);
}

void FirstPutDoubled(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                     uint32_t stride) {
    KeepEntries();
    ActiveTransformKernels().put_doubled(coefficients, quant, dst, stride);
}

}  // namespace

// The kernels tell the block shapes apart themselves.
void IdctPut(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
             uint32_t stride) {
    g_put.load(std::memory_order_relaxed)(coefficients, quant, dst, stride);
}

void IdctPutDoubled(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                    uint32_t stride) {
    g_put_doubled.load(std::memory_order_relaxed)(coefficients, quant, dst, stride);
}

void IdctAdd(const int16_t coefficients[64], const uint32_t quant[64], const uint8_t* src,
             uint8_t* dst, uint32_t stride) {
    g_add.load(std::memory_order_relaxed)(coefficients, quant, src, dst, stride);
}

void AddResidue(const uint8_t residue[64], const uint8_t* src, uint8_t* dst, uint32_t stride) {
    uint8_t add[64];
    for (int i = 0; i < 64; ++i) add[i] = residue[kCoefficientScanInverse[i]];
    ActiveVideoKernels().add_block(add, src, dst, stride);
}

}  // namespace vemo::video
