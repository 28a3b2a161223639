// Internal types of the pixel converters: converter state, conversion
// context, span converters and store passes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vemo/pixel_convert.h"

namespace vemo {

struct ConversionContext;
struct ConverterStateData;

// Converts count pixels starting at plane column column; returns the pixels
// left unconverted at the end and advances every source and destination
// position of the context past the converted ones.
using SpanConverter = uint32_t (*)(ConversionContext& context, uint32_t count, uint32_t column);
// Moves converted pixels from the scratch row to the destination; returns the
// destination position after them.
using StorePass = uint8_t* (*)(ConversionContext& context, uint8_t* destination,
                               const uint8_t* scratch_begin, const uint8_t* scratch_end);
// Converts groups of 8 pixels on the packed path; column is a multiple of 8.
// Advances the context like a span converter.
using GroupKernel = void (*)(ConversionContext& context, uint32_t groups);

// Whole rows of a packed YUV format in one call: rows rows of groups 8-pixel
// groups each. The chroma sources move on after every odd source row, so a
// row pair shares its chroma row.
struct RowBlock {
    const uint8_t* luma;
    const uint8_t* chroma1;  // read as Cr
    const uint8_t* chroma2;  // read as Cb
    uint8_t* destination;
    ptrdiff_t luma_step;  // from one row's first sample to the next row's
    ptrdiff_t chroma1_step, chroma2_step;
    ptrdiff_t destination_step;
    uint32_t groups;
    uint32_t rows;
    uint32_t first_row;  // source row of the first row
};
using RowsKernel = void (*)(const RowBlock& block);

enum Component { kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3 };

// Position and right shift of each component (alpha: bits 0 when absent).
struct PixelLayout {
    uint8_t position[4];
    uint8_t shift[4];
    uint8_t bits[4];
    bool operator==(const PixelLayout&) const = default;
};

// Dither values for even and odd columns.
struct DitherPair {
    uint16_t even;
    uint16_t odd;
};

struct ConversionContext {
    uint8_t* destination;
    const uint8_t* luma;
    const uint8_t* chroma1;  // read as Cr
    const uint8_t* chroma2;  // read as Cb
    const uint8_t* alpha;
    uint8_t* chroma_destination1;  // YV12: V plane
    uint8_t* chroma_destination2;  // YV12: U plane
    ptrdiff_t row_step;            // distance to the second row of height doubling
    ptrdiff_t chroma_twice_step;   // YV12: distance to the second chroma row
    uint32_t current_row;          // source row (plane coordinates)
    const ConverterStateData* state;
};

struct PackedKernels {
    GroupKernel rgb32 = nullptr;  // 32-bit pixels (also the 24-bit intermediate)
    GroupKernel rgb32_alpha = nullptr;
    GroupKernel rgb16 = nullptr;
    GroupKernel rgb16_alpha = nullptr;
    GroupKernel palette = nullptr;
    GroupKernel yuy2 = nullptr;
    GroupKernel uyvy = nullptr;
    RowsKernel yuy2_rows = nullptr;
    RowsKernel uyvy_rows = nullptr;
};

struct ConverterStateData {
    // Selected converter.
    int entry = 0;
    uint32_t format = 0;
    uint32_t mode = 0;
    bool packed = false;
    SpanConverter span = nullptr;
    SpanConverter base_span = nullptr;
    StorePass store = nullptr;
    StorePass widen = nullptr;
    StorePass inner_store = nullptr;
    GroupKernel group = nullptr;  // packed path: the group kernel of the base converter
    RowsKernel rows = nullptr;    // packed YUV formats: whole rows of groups
    bool uses_scratch = false;
    bool twice = false;  // modes 1 and 4: two destination rows per source row
    uint32_t bytes_per_pixel = 0;
    uint32_t scratch_shift = 0;
    uint32_t output_step = 0;
    PixelLayout layout{};
    DitherPair dither[3][2]{};  // [component][row parity]
    // Packed-path lane constants: bias plus dither per component, row parity
    // and column parity.
    int16_t packed_bias[3][2][2]{};

    // Table path.
    uint32_t clamp_shift = 0;  // s: the largest colour right shift
    int clamp_key[3] = {-1, -1, -1};
    uint32_t clamp_wide[768]{};  // index i + 256
    uint8_t clamp_byte[3][768]{};
    uint32_t clamp_builds = 0;
    uint8_t table_left_shift[3]{};  // where each clamped component is placed

    alignas(16) uint8_t scratch[512 + 64]{};
};

// Shared tables of the table path.
constexpr std::array<uint8_t, 256> MakeLumaRamp() {
    std::array<uint8_t, 256> t{};
    for (int y = 0; y < 256; ++y)
        t[y] = y < 16 ? 0 : (y >= 235 ? 255 : static_cast<uint8_t>(((y - 16) * 76392) >> 16));
    return t;
}
constexpr std::array<int8_t, 256> MakeChromaStep() {
    std::array<int8_t, 256> t{};
    for (int v = 0; v < 256; ++v) t[v] = static_cast<int8_t>(((v - 128) * 26572) >> 16);
    return t;
}
inline constexpr std::array<uint8_t, 256> kLumaRamp = MakeLumaRamp();
inline constexpr std::array<int8_t, 256> kChromaStep = MakeChromaStep();

inline int ClampIndex(int i) {
    return i < -256 ? 0 : (i > 511 ? 767 : i + 256);
}

// Packed 16-bit lane arithmetic (the plain model the SIMD kernels match).
inline int16_t MulHigh(int16_t a, int16_t b) {
    return static_cast<int16_t>((static_cast<int32_t>(a) * b) >> 16);
}
inline int16_t AddSaturate(int16_t a, int16_t b) {
    int32_t v = static_cast<int32_t>(a) + b;
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
inline uint16_t SubUnsignedSaturate(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a > b ? a - b : 0);
}
inline int16_t Wrap16(int32_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

constexpr int16_t kPackedLumaGain = 19081;
constexpr int16_t kPackedChromaGain = 26640;
constexpr uint16_t kPackedFloor = 28672;
constexpr int16_t kPackedBias[3] = {25040, 30887, 24205};

// One lane: the three components in 0..4095 for the given lane constants.
inline void PackedLane(uint8_t y_sample, uint8_t cr_sample, uint8_t cb_sample,
                       const int16_t bias[3], uint16_t out[3]) {
    const int16_t y = MulHigh(static_cast<int16_t>(y_sample << 6), kPackedLumaGain);
    const int16_t r = MulHigh(static_cast<int16_t>(cr_sample << 5), kPackedChromaGain);
    const int16_t b = MulHigh(static_cast<int16_t>(cb_sample << 4), kPackedChromaGain);
    const int16_t red = Wrap16(y + r + r);
    const int16_t green = Wrap16(y - r - b);
    const int16_t blue = Wrap16(y + (b << 2) + b);
    out[0] = SubUnsignedSaturate(static_cast<uint16_t>(AddSaturate(red, bias[0])), kPackedFloor);
    out[1] = SubUnsignedSaturate(static_cast<uint16_t>(AddSaturate(green, bias[1])), kPackedFloor);
    out[2] = SubUnsignedSaturate(static_cast<uint16_t>(AddSaturate(blue, bias[2])), kPackedFloor);
}

inline void Store16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Converter families (convert_rgb.cpp, convert_palette.cpp, convert_yuv.cpp).
// Each fills the state for its format and path; the selection in
// select.cpp calls them.
void SetupRgb(ConverterStateData& s, uint32_t format, bool alpha_member, bool packed);
void SetupPalette(ConverterStateData& s, bool packed);
void SetupYuv(ConverterStateData& s, uint32_t format, bool packed);
void SetupYv12(ConverterStateData& s);

// Builds the table path's clamp tables for the state's layout when it differs
// from the last one built.
void BuildClampTables(ConverterStateData& s, bool byte_form);

// The packed path's kernel table: the scalar group kernels (the model),
// overwritten by the SSE2 and then the AVX2 ones as CpuFlags() allows
// (rebuilt after SetCpuMask). Every entry gives the scalar results.
const PackedKernels& ScalarPackedKernels();
void FillPackedKernels(PackedKernels& table, uint32_t flags);
const PackedKernels& ActivePackedKernels();
#if defined(__i386__) || defined(__x86_64__)
void InstallSse2PackedKernels(PackedKernels& table);
void InstallAvx2PackedKernels(PackedKernels& table);
void InstallAvx512PackedKernels(PackedKernels& table);
#endif

// Store passes shared by the families.
uint8_t* StoreCopy(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e);
uint8_t* StoreTwice(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e);
uint8_t* WidenTwice(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e);
uint8_t* Widen8(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e);
uint8_t* Widen16(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e);
uint8_t* Widen32(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e);

// Packed-path span converter around a group kernel and a pixel-pair rule.
using PairConverter = uint32_t (*)(ConversionContext& context, uint32_t count, uint32_t column);
uint32_t PackedSpan(ConversionContext& c, uint32_t count, uint32_t column, PairConverter pairs);

}  // namespace vemo
