// YUV destinations: YUY2 and UYVY repack the samples into pixel pairs, YV12
// copies the planes. U is the second chroma source, V the first.
#include "packed_cursor.h"
#include "pixels_internal.h"

namespace vemo {

namespace {

// kUyvy: bytes U Y0 V Y1; otherwise Y0 U Y1 V.
template <bool kUyvy>
uint32_t YuvPairs(ConversionContext& c, uint32_t count, uint32_t column) {
    uint32_t left = 0;
    uint8_t* d = c.destination;
    if (count && (column & 1)) {
        // A lone pixel at an odd column carries the pair's V.
        d[kUyvy ? 1 : 0] = c.luma[0];
        d[kUyvy ? 0 : 1] = c.chroma1[0];
        d += 2;
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
        --count;
    }
    if (count > 1 && (count & 1)) {
        left = 1;
        --count;
    }
    for (; count >= 2; count -= 2) {
        const uint8_t v = *c.chroma1++;
        const uint8_t u = *c.chroma2++;
        if (kUyvy) {
            d[0] = u, d[1] = c.luma[0], d[2] = v, d[3] = c.luma[1];
        } else {
            d[0] = c.luma[0], d[1] = u, d[2] = c.luma[1], d[3] = v;
        }
        d += 4;
        c.luma += 2, c.alpha += 2;
    }
    if (count == 1) {
        // A lone pixel at an even column carries the pair's U.
        d[kUyvy ? 1 : 0] = c.luma[0];
        d[kUyvy ? 0 : 1] = c.chroma2[0];
        d += 2;
        ++c.luma, ++c.alpha, ++c.chroma1, ++c.chroma2;
    }
    c.destination = d;
    return left;
}

template <bool kUyvy>
uint32_t PackedYuvSpan(ConversionContext& c, uint32_t count, uint32_t column) {
    return PackedSpan(c, count, column, &YuvPairs<kUyvy>);
}

template <bool kUyvy>
void ScalarYuvGroups(ConversionContext& c, uint32_t groups) {
    for (; groups; --groups) {
        ConversionContext& k = c;
        YuvPairs<kUyvy>(k, 8, 0);
    }
}

// Widen: every pixel of a pair becomes a whole pair with the pair's chroma;
// a lone two-byte pixel is written twice.
template <bool kUyvy>
uint8_t* WidenYuv(ConversionContext&, uint8_t* d, const uint8_t* b, const uint8_t* e) {
    for (; b + 4 <= e; b += 4, d += 8) {
        if (kUyvy) {
            d[0] = d[4] = b[0];
            d[1] = d[3] = b[1];
            d[2] = d[6] = b[2];
            d[5] = d[7] = b[3];
        } else {
            d[0] = d[2] = b[0];
            d[1] = d[5] = b[1];
            d[3] = d[7] = b[3];
            d[4] = d[6] = b[2];
        }
    }
    if (b + 2 <= e) {
        d[0] = d[2] = b[0];
        d[1] = d[3] = b[1];
        d += 4;
    }
    return d;
}

uint32_t Yv12Span(ConversionContext& c, uint32_t count, uint32_t) {
    const uint32_t chroma = (count + 1) / 2;
    std::memcpy(c.destination, c.luma, count);
    // No chroma destination: this row's chroma is not written (odd rows,
    // and rows past the end of the chroma planes).
    const bool chroma_row = c.chroma_destination1 && !(c.current_row & 1);
    if (chroma_row) {
        std::memcpy(c.chroma_destination1, c.chroma1, chroma);
        std::memcpy(c.chroma_destination2, c.chroma2, chroma);
    }
    c.destination += count;
    c.luma += count, c.alpha += count;
    c.chroma1 += chroma, c.chroma2 += chroma;
    if (c.chroma_destination1) c.chroma_destination1 += chroma, c.chroma_destination2 += chroma;
    return 0;
}

uint32_t Yv12DoubleSpan(ConversionContext& c, uint32_t count, uint32_t) {
    const uint32_t chroma = (count + 1) / 2;
    for (uint32_t i = 0; i < count; ++i)
        c.destination[2 * i] = c.destination[2 * i + 1] = c.luma[i];
    // No chroma destination: this row's chroma is not written (odd rows,
    // and rows past the end of the chroma planes).
    const bool chroma_row = c.chroma_destination1 && !(c.current_row & 1);
    if (chroma_row) {
        for (uint32_t i = 0; i < chroma; ++i) {
            c.chroma_destination1[2 * i] = c.chroma_destination1[2 * i + 1] = c.chroma1[i];
            c.chroma_destination2[2 * i] = c.chroma_destination2[2 * i + 1] = c.chroma2[i];
        }
    }
    c.destination += 2 * count;
    c.luma += count, c.alpha += count;
    c.chroma1 += chroma, c.chroma2 += chroma;
    const uint32_t step = (count + 1) & ~1u;
    if (c.chroma_destination1) c.chroma_destination1 += step, c.chroma_destination2 += step;
    return 0;
}

}  // namespace

void SetupYuv(ConverterStateData& s, uint32_t format, bool packed) {
    const bool uyvy = format == kSurfaceUyvy;
    s.format = format;
    s.packed = packed;
    s.layout = PixelLayout{};
    s.bytes_per_pixel = 2;
    s.scratch_shift = 1;
    s.uses_scratch = false;
    s.store = &StoreCopy;
    s.widen = uyvy ? &WidenYuv<true> : &WidenYuv<false>;
    if (packed)
        s.base_span = uyvy ? &PackedYuvSpan<true> : &PackedYuvSpan<false>;
    else
        s.base_span = uyvy ? &YuvPairs<true> : &YuvPairs<false>;
    const PackedKernels& k = ActivePackedKernels();
    s.group = uyvy ? k.uyvy : k.yuy2;
    s.rows = packed ? (uyvy ? k.uyvy_rows : k.yuy2_rows) : nullptr;
}

void SetupYv12(ConverterStateData& s) {
    s.format = kSurfaceYv12;
    s.packed = false;
    s.layout = PixelLayout{};
    s.bytes_per_pixel = 1;
    s.scratch_shift = 0;
    s.uses_scratch = false;
    s.store = nullptr;
    s.widen = nullptr;
    s.base_span = &Yv12Span;
    s.group = nullptr;
}

namespace detail {
RowsKernel ScalarYuy2Rows() {
    return &GroupRows<&ScalarYuvGroups<false>>;
}
RowsKernel ScalarUyvyRows() {
    return &GroupRows<&ScalarYuvGroups<true>>;
}
GroupKernel ScalarYuy2() {
    return &ScalarYuvGroups<false>;
}
GroupKernel ScalarUyvy() {
    return &ScalarYuvGroups<true>;
}
SpanConverter Yv12Double() {
    return &Yv12DoubleSpan;
}
}  // namespace detail

}  // namespace vemo
