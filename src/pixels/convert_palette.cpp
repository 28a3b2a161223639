// 8-bit palettized output: an index into the 3-3-2 colour cube, with a
// per-component ordered dither.
#include "pixels_internal.h"

namespace vemo {

namespace {

inline uint8_t TableIndex(const ConverterStateData& s, uint8_t luma, int cr, int cb, bool odd,
                          uint32_t row) {
    const int y = kLumaRamp[luma];
    const int dr = odd ? s.dither[kRed][row].odd : s.dither[kRed][row].even;
    const int dg = odd ? s.dither[kGreen][row].odd : s.dither[kGreen][row].even;
    const int db = odd ? s.dither[kBlue][row].odd : s.dither[kBlue][row].even;
    return static_cast<uint8_t>(s.clamp_byte[kRed][ClampIndex(y + dr + 4 * cr - 2)] |
                                s.clamp_byte[kGreen][ClampIndex(y + dg - 2 * cr - cb + 1)] |
                                s.clamp_byte[kBlue][ClampIndex(y + db + 5 * cb - 1)]);
}

inline uint8_t PackedIndex(const ConverterStateData& s, uint8_t luma, uint8_t cr, uint8_t cb,
                           uint32_t row, uint32_t parity) {
    const int16_t bias[3] = {s.packed_bias[kRed][row][parity], s.packed_bias[kGreen][row][parity],
                             s.packed_bias[kBlue][row][parity]};
    uint16_t o[3];
    PackedLane(luma, cr, cb, bias, o);
    return static_cast<uint8_t>(((o[0] >> s.layout.shift[kRed]) << s.layout.position[kRed]) |
                                ((o[1] >> s.layout.shift[kGreen]) << s.layout.position[kGreen]) |
                                ((o[2] >> s.layout.shift[kBlue]) << s.layout.position[kBlue]));
}

template <bool kPacked>
inline uint8_t Index(const ConverterStateData& s, uint8_t luma, uint8_t cr, uint8_t cb,
                     uint32_t row, bool odd) {
    if (kPacked) return PackedIndex(s, luma, cr, cb, row, odd ? 1 : 0);
    return TableIndex(s, luma, kChromaStep[cr], kChromaStep[cb], odd, row);
}

template <bool kPacked>
uint32_t PalettePairs(ConversionContext& c, uint32_t count, uint32_t column) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    uint32_t left = 0;
    if (count && (column & 1)) {
        *c.destination++ = Index<kPacked>(s, c.luma[0], c.chroma1[0], c.chroma2[0], row, true);
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
        --count;
    }
    if (count > 1 && (count & 1)) {
        left = 1;
        --count;
    }
    for (; count >= 2; count -= 2) {
        const uint8_t cr = *c.chroma1++;
        const uint8_t cb = *c.chroma2++;
        c.destination[0] = Index<kPacked>(s, c.luma[0], cr, cb, row, false);
        c.destination[1] = Index<kPacked>(s, c.luma[1], cr, cb, row, true);
        c.destination += 2;
        c.luma += 2, c.alpha += 2;
    }
    if (count == 1) {
        *c.destination++ = Index<kPacked>(s, c.luma[0], c.chroma1[0], c.chroma2[0], row, false);
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
    }
    return left;
}

uint32_t PackedPaletteSpan(ConversionContext& c, uint32_t count, uint32_t column) {
    return PackedSpan(c, count, column, &PalettePairs<true>);
}

void ScalarPaletteGroups(ConversionContext& c, uint32_t groups) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    for (; groups; --groups) {
        for (uint32_t i = 0; i < 8; ++i)
            c.destination[i] =
                PackedIndex(s, c.luma[i], c.chroma1[i >> 1], c.chroma2[i >> 1], row, i & 1);
        c.luma += 8, c.alpha += 8, c.chroma1 += 4, c.chroma2 += 4;
        c.destination += 8;
    }
}

}  // namespace

void SetupPalette(ConverterStateData& s, bool packed) {
    s.format = kSurfacePalette8;
    s.packed = packed;
    PixelLayout l{};
    const uint8_t position[3] = {0, 3, 6};
    const uint8_t bits[3] = {3, 3, 2};
    for (int i = 0; i < 3; ++i) {
        l.position[i] = position[i];
        l.bits[i] = bits[i];
        l.shift[i] = static_cast<uint8_t>((packed ? 12 : 8) - bits[i]);
    }
    s.layout = l;
    s.bytes_per_pixel = 1;
    s.scratch_shift = 0;
    s.uses_scratch = false;
    s.store = &StoreCopy;
    s.widen = &Widen8;
    s.base_span = packed ? &PackedPaletteSpan : &PalettePairs<false>;
    s.group = ActivePackedKernels().palette;
    for (int comp = 0; comp < 3; ++comp) {
        // One step of the component's field: in sample units on the table
        // path, in sixteenths on the packed path.
        const uint32_t h = (256u >> bits[comp]) * (packed ? 16u : 1u);
        s.dither[comp][0] = {0, static_cast<uint16_t>(h / 2)};
        s.dither[comp][1] = {static_cast<uint16_t>(h / 4), static_cast<uint16_t>(3 * h / 4)};
        for (int row = 0; row < 2; ++row) {
            s.packed_bias[comp][row][0] =
                static_cast<int16_t>(kPackedBias[comp] + s.dither[comp][row].even);
            s.packed_bias[comp][row][1] =
                static_cast<int16_t>(kPackedBias[comp] + s.dither[comp][row].odd);
        }
    }
    if (!packed) BuildClampTables(s, true);
}

namespace detail {
GroupKernel ScalarPalette() {
    return &ScalarPaletteGroups;
}
}  // namespace detail

}  // namespace vemo
