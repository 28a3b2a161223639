// YUV to RGB: 16-, 24- and 32-bit destination pixels on the table path and
// the packed path, with their store and widen passes.
#include <algorithm>

#include "pixels_internal.h"

namespace vemo {

namespace {

constexpr uint8_t kRgbPositions[13][4] = {
    {0, 0, 0, 0},   {16, 8, 0, 0},  {0, 8, 16, 0}, {16, 8, 0, 24}, {0, 8, 16, 24},
    {16, 8, 0, 24}, {0, 8, 16, 24}, {8, 4, 0, 12}, {10, 5, 0, 15}, {10, 5, 0, 0},
    {11, 5, 0, 0},  {10, 5, 0, 0},  {10, 4, 0, 0},
};
constexpr uint8_t kRgbBits[13][4] = {
    {0, 0, 0, 0}, {8, 8, 8, 0}, {8, 8, 8, 0}, {8, 8, 8, 8}, {8, 8, 8, 8},
    {8, 8, 8, 8}, {8, 8, 8, 8}, {4, 4, 4, 4}, {5, 5, 5, 1}, {5, 5, 5, 0},
    {5, 6, 5, 0}, {6, 5, 5, 0}, {6, 6, 4, 0},
};

// ---------------------------------------------------------------- table path

template <bool kWithAlpha>
inline uint32_t TablePixel(const ConverterStateData& s, uint8_t luma, int cr, int cb, int dither,
                           uint8_t alpha) {
    const int y = kLumaRamp[luma] + dither;
    uint32_t v = (s.clamp_wide[ClampIndex(y + 4 * cr - 2)] << s.table_left_shift[kRed]) |
                 (s.clamp_wide[ClampIndex(y - 2 * cr - cb + 1)] << s.table_left_shift[kGreen]) |
                 (s.clamp_wide[ClampIndex(y + 5 * cb - 1)] << s.table_left_shift[kBlue]);
    if (kWithAlpha)
        v |= static_cast<uint32_t>(alpha >> s.layout.shift[kAlpha]) << s.layout.position[kAlpha];
    return v;
}

template <int kBytes>
inline void StorePixel(uint8_t* p, uint32_t v) {
    if (kBytes == 4)
        Store32(p, v);
    else
        Store16(p, v);
}

template <int kBytes, bool kWithAlpha>
uint32_t TableRgbSpan(ConversionContext& c, uint32_t count, uint32_t column) {
    const ConverterStateData& s = *c.state;
    const DitherPair d = s.dither[kRed][c.current_row & 1];
    uint32_t left = 0;
    if (count && (column & 1)) {
        StorePixel<kBytes>(c.destination,
                           TablePixel<kWithAlpha>(s, c.luma[0], kChromaStep[c.chroma1[0]],
                                                  kChromaStep[c.chroma2[0]], d.odd, c.alpha[0]));
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
        c.destination += kBytes;
        --count;
    }
    if (count > 1 && (count & 1)) {
        left = 1;
        --count;
    }
    for (; count >= 2; count -= 2) {
        const int cr = kChromaStep[*c.chroma1++];
        const int cb = kChromaStep[*c.chroma2++];
        StorePixel<kBytes>(c.destination,
                           TablePixel<kWithAlpha>(s, c.luma[0], cr, cb, d.even, c.alpha[0]));
        StorePixel<kBytes>(c.destination + kBytes,
                           TablePixel<kWithAlpha>(s, c.luma[1], cr, cb, d.odd, c.alpha[1]));
        c.luma += 2, c.alpha += 2;
        c.destination += 2 * kBytes;
    }
    if (count == 1) {
        StorePixel<kBytes>(c.destination,
                           TablePixel<kWithAlpha>(s, c.luma[0], kChromaStep[c.chroma1[0]],
                                                  kChromaStep[c.chroma2[0]], d.even, c.alpha[0]));
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
        c.destination += kBytes;
    }
    return left;
}

// ---------------------------------------------------------------- packed path

template <bool kWithAlpha>
inline uint32_t PackedPixel(const ConverterStateData& s, uint8_t luma, uint8_t cr, uint8_t cb,
                            uint32_t row, uint32_t parity, uint8_t alpha) {
    const int16_t bias[3] = {s.packed_bias[kRed][row][parity], s.packed_bias[kGreen][row][parity],
                             s.packed_bias[kBlue][row][parity]};
    uint16_t o[3];
    PackedLane(luma, cr, cb, bias, o);
    uint32_t v =
        (static_cast<uint32_t>(o[0] >> s.layout.shift[kRed]) << s.layout.position[kRed]) |
        (static_cast<uint32_t>(o[1] >> s.layout.shift[kGreen]) << s.layout.position[kGreen]) |
        (static_cast<uint32_t>(o[2] >> s.layout.shift[kBlue]) << s.layout.position[kBlue]);
    if (kWithAlpha)
        v |= static_cast<uint32_t>(alpha >> s.layout.shift[kAlpha]) << s.layout.position[kAlpha];
    return v;
}

template <int kBytes, bool kWithAlpha>
uint32_t PackedRgbPairs(ConversionContext& c, uint32_t count, uint32_t column) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    uint32_t left = 0;
    if (count && (column & 1)) {
        StorePixel<kBytes>(
            c.destination,
            PackedPixel<kWithAlpha>(s, c.luma[0], c.chroma1[0], c.chroma2[0], row, 1, c.alpha[0]));
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
        c.destination += kBytes;
        --count;
    }
    if (count > 1 && (count & 1)) {
        left = 1;
        --count;
    }
    for (; count >= 2; count -= 2) {
        const uint8_t cr = *c.chroma1++;
        const uint8_t cb = *c.chroma2++;
        StorePixel<kBytes>(c.destination,
                           PackedPixel<kWithAlpha>(s, c.luma[0], cr, cb, row, 0, c.alpha[0]));
        StorePixel<kBytes>(c.destination + kBytes,
                           PackedPixel<kWithAlpha>(s, c.luma[1], cr, cb, row, 1, c.alpha[1]));
        c.luma += 2, c.alpha += 2;
        c.destination += 2 * kBytes;
    }
    if (count == 1) {
        StorePixel<kBytes>(
            c.destination,
            PackedPixel<kWithAlpha>(s, c.luma[0], c.chroma1[0], c.chroma2[0], row, 0, c.alpha[0]));
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
        c.destination += kBytes;
    }
    return left;
}

template <int kBytes, bool kWithAlpha>
uint32_t PackedRgbSpan(ConversionContext& c, uint32_t count, uint32_t column) {
    return PackedSpan(c, count, column, &PackedRgbPairs<kBytes, kWithAlpha>);
}

template <int kBytes, bool kWithAlpha>
void ScalarRgbGroups(ConversionContext& c, uint32_t groups) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    for (; groups; --groups) {
        for (uint32_t i = 0; i < 8; ++i)
            StorePixel<kBytes>(c.destination + i * kBytes,
                               PackedPixel<kWithAlpha>(s, c.luma[i], c.chroma1[i >> 1],
                                                       c.chroma2[i >> 1], row, i & 1, c.alpha[i]));
        c.luma += 8, c.alpha += 8, c.chroma1 += 4, c.chroma2 += 4;
        c.destination += 8 * kBytes;
    }
}

// ---------------------------------------------------------------- 24-bit passes

uint8_t* Store24(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    for (; b + 4 <= e; b += 4, d += 3) {
        d[0] = b[0];
        d[1] = b[1];
        d[2] = b[2];
    }
    return d;
}

uint8_t* Widen24(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    for (; b + 4 <= e; b += 4, d += 6) {
        d[0] = d[3] = b[0];
        d[1] = d[4] = b[1];
        d[2] = d[5] = b[2];
    }
    return d;
}

}  // namespace

// ---------------------------------------------------------------- shared passes

uint8_t* StoreCopy(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    const size_t n = static_cast<size_t>(e - b);
    std::memcpy(d, b, n);
    return d + n;
}

uint8_t* StoreTwice(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    uint8_t* next = c.state->inner_store(c, d, b, e);
    c.state->inner_store(c, d + c.row_step, b, e);
    return next;
}

uint8_t* WidenTwice(ConversionContext& c, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    uint8_t* next = c.state->widen(c, d, b, e);
    c.state->widen(c, d + c.row_step, b, e);
    return next;
}

uint8_t* Widen8(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    for (; b < e; ++b, d += 2) d[0] = d[1] = *b;
    return d;
}

uint8_t* Widen16(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    for (; b + 2 <= e; b += 2, d += 4) {
        d[0] = d[2] = b[0];
        d[1] = d[3] = b[1];
    }
    return d;
}

uint8_t* Widen32(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    for (; b + 4 <= e; b += 4, d += 8) {
        std::memcpy(d, b, 4);
        std::memcpy(d + 4, b, 4);
    }
    return d;
}

uint32_t PackedSpan(ConversionContext& c, uint32_t count, uint32_t column, PairConverter pairs) {
    if (count < 8) return pairs(c, count, column);
    const uint32_t lead = (8 - (column & 7)) & 7;
    if (lead) {
        pairs(c, lead, column);  // reaches the multiple of 8 exactly: nothing is left
        count -= lead;
    }
    const uint32_t groups = count / 8;
    if (groups) c.state->group(c, groups);
    return count & 7;
}

const PackedKernels& ScalarPackedKernels();

void SetupRgb(ConverterStateData& s, uint32_t format, bool alpha_member, bool packed) {
    s.format = format;
    s.packed = packed;
    PixelLayout l{};
    for (int i = 0; i < 4; ++i) {
        l.position[i] = kRgbPositions[format][i];
        l.bits[i] = kRgbBits[format][i];
        if (l.bits[i] == 0) continue;
        const int base = (packed && i != kAlpha) ? 12 : 8;
        l.shift[i] = static_cast<uint8_t>(base - l.bits[i]);
    }
    s.layout = l;
    const bool wide = format <= 6;
    s.bytes_per_pixel = format <= 2 ? 3 : (wide ? 4 : 2);
    s.scratch_shift = wide ? 2 : 1;
    s.uses_scratch = format <= 2;
    s.store = format <= 2 ? &Store24 : &StoreCopy;
    s.widen = format <= 2 ? &Widen24 : (wide ? &Widen32 : &Widen16);
    const PackedKernels& k = ActivePackedKernels();
    if (wide) {
        s.base_span = packed ? (alpha_member ? &PackedRgbSpan<4, true> : &PackedRgbSpan<4, false>)
                             : (alpha_member ? &TableRgbSpan<4, true> : &TableRgbSpan<4, false>);
        s.group = alpha_member ? k.rgb32_alpha : k.rgb32;
    } else {
        s.base_span = packed ? (alpha_member ? &PackedRgbSpan<2, true> : &PackedRgbSpan<2, false>)
                             : (alpha_member ? &TableRgbSpan<2, true> : &TableRgbSpan<2, false>);
        s.group = alpha_member ? k.rgb16_alpha : k.rgb16;
    }
    // Dither: 16-bit formats only.
    for (int comp = 0; comp < 3; ++comp) {
        uint32_t h = 0;
        if (!wide) h = packed ? (1u << l.shift[comp]) : 0;  // table path: set below
        s.dither[comp][0] = {0, static_cast<uint16_t>(h / 2)};
        s.dither[comp][1] = {static_cast<uint16_t>(h / 4), static_cast<uint16_t>(3 * h / 4)};
    }
    if (!packed) {
        BuildClampTables(s, false);
        const uint32_t shift = s.clamp_shift;
        for (int comp = 0; comp < 3; ++comp)
            s.table_left_shift[comp] =
                static_cast<uint8_t>(l.position[comp] + shift - l.shift[comp]);
        if (!wide) {
            const uint32_t h = 1u << shift;
            for (int comp = 0; comp < 3; ++comp) {
                s.dither[comp][0] = {0, static_cast<uint16_t>(h / 2)};
                s.dither[comp][1] = {static_cast<uint16_t>(h / 4),
                                     static_cast<uint16_t>(3 * h / 4)};
            }
        }
    }
    for (int comp = 0; comp < 3; ++comp)
        for (int row = 0; row < 2; ++row) {
            s.packed_bias[comp][row][0] =
                static_cast<int16_t>(kPackedBias[comp] + s.dither[comp][row].even);
            s.packed_bias[comp][row][1] =
                static_cast<int16_t>(kPackedBias[comp] + s.dither[comp][row].odd);
        }
}

namespace detail {
GroupKernel ScalarRgb32() {
    return &ScalarRgbGroups<4, false>;
}
GroupKernel ScalarRgb32Alpha() {
    return &ScalarRgbGroups<4, true>;
}
GroupKernel ScalarRgb16() {
    return &ScalarRgbGroups<2, false>;
}
GroupKernel ScalarRgb16Alpha() {
    return &ScalarRgbGroups<2, true>;
}
}  // namespace detail

}  // namespace vemo
