// The converters' worked examples, the drivers' row and run handling, the
// selection order and the guarded edges (clamping, clipping, sizes).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "pixels_internal.h"
#include "pixels_test_util.h"
#include "vemo/cpu.h"

namespace vemo {
namespace {

using test::OwnedPlanes;

// A small picture filled with one colour.
OwnedPlanes Flat(uint32_t w, uint32_t h, uint8_t y, uint8_t cr, uint8_t cb, int alpha = -1) {
    OwnedPlanes p;
    p.Init(w, h, true, alpha >= 0);
    std::fill(p.y.begin(), p.y.end(), y);
    std::fill(p.cr.begin(), p.cr.end(), cr);
    std::fill(p.cb.begin(), p.cb.end(), cb);
    if (alpha >= 0) std::fill(p.alpha.begin(), p.alpha.end(), static_cast<uint8_t>(alpha));
    return p;
}

struct Copy {
    FrameSource source;
    CopyRequest request;
    Copy(const OwnedPlanes& p, uint32_t w, uint32_t h, uint8_t* dest, int32_t pitch, uint32_t rows,
         uint32_t flags) {
        source.planes = &p.planes;
        source.movie_width = source.coded_width = w;
        source.movie_height = source.coded_height = h;
        request.destination = dest;
        request.pitch = pitch;
        request.destination_height = rows;
        request.source_width = w;
        request.source_height = h;
        request.flags = flags;
    }
};

std::vector<uint8_t> Convert(PixelPath path, const OwnedPlanes& p, uint32_t w, uint32_t h,
                             uint32_t flags) {
    ConverterState state;
    state.set_path(path);
    return test::ConvertWhole(state, p.planes, w, h, flags);
}

TEST(PixelArithmetic, TablePathWorkedExamples) {
    // Y = 235, neutral chroma: red 253, green 255 (index 256 clamps), blue 254.
    auto out = Convert(PixelPath::kTable, Flat(2, 2, 235, 128, 128), 2, 2, kSurfaceXrgb32);
    EXPECT_EQ(out[0], 254);  // blue
    EXPECT_EQ(out[1], 255);  // green
    EXPECT_EQ(out[2], 253);  // red
    EXPECT_EQ(out[3], 0);
    // Y <= 16 with neutral chroma: indices -2, 1, -1 give 0, 1, 0.
    out = Convert(PixelPath::kTable, Flat(2, 2, 10, 128, 128), 2, 2, kSurfaceXrgb32);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 0);
    // Cr = 255 steps by 51: red index y + 202 (y = 36 for Y = 47).
    out = Convert(PixelPath::kTable, Flat(2, 2, 47, 255, 128), 2, 2, kSurfaceXrgb32);
    EXPECT_EQ(out[2], 36 + 202);
    // Format 10 on the table path keeps green even; red-blue byte order of format 4.
    out = Convert(PixelPath::kTable, Flat(2, 2, 100, 90, 170), 2, 2, kSurfaceRgb565);
    EXPECT_EQ(((out[0] | out[1] << 8) >> 5) & 1, 0);
    auto a = Convert(PixelPath::kTable, Flat(2, 2, 100, 90, 170), 2, 2, kSurfaceXrgb32);
    auto b = Convert(PixelPath::kTable, Flat(2, 2, 100, 90, 170), 2, 2, kSurfaceXbgr32);
    EXPECT_EQ(a[0], b[2]);
    EXPECT_EQ(a[2], b[0]);
}

TEST(PixelArithmetic, PackedPathWorkedExamples) {
    auto out = Convert(PixelPath::kPacked, Flat(2, 2, 16, 128, 128), 2, 2, kSurfaceXrgb32);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 0);
    out = Convert(PixelPath::kPacked, Flat(2, 2, 235, 128, 128), 2, 2, kSurfaceXrgb32);
    EXPECT_EQ(out[1], 255);
    // The lane model: a saturated sum gives 4095 exactly.
    const int16_t bias[3] = {kPackedBias[0], kPackedBias[1], kPackedBias[2]};
    uint16_t lanes[3];
    PackedLane(255, 255, 255, bias, lanes);
    EXPECT_EQ(lanes[0], 4095);
    EXPECT_EQ(lanes[2], 4095);
}

TEST(PixelArithmetic, ExtremeSamplesStayInsideTheTables) {
    // Low luma with the smallest Cb drives the blue index below -256; dither
    // pushes palette indices past 511. Both clamp by value.
    for (int y : {0, 16, 20}) {
        for (int cb : {0, 1, 2}) {
            auto out = Convert(PixelPath::kTable, Flat(4, 4, y, 128, cb), 4, 4, kSurfaceXrgb32);
            EXPECT_EQ(out[0], 0) << y << " " << cb;
        }
    }
    auto out = Convert(PixelPath::kTable, Flat(4, 4, 255, 255, 255), 4, 4, kSurfacePalette8);
    for (uint8_t v : out) EXPECT_EQ(v & 0xC7, 0xC7);  // red 7 and blue 3 at every dither
    out = Convert(PixelPath::kTable, Flat(4, 4, 255, 255, 255), 4, 4, kSurfaceRgb555);
    EXPECT_EQ((out[0] | out[1] << 8) & 0x7C1F, 0x7C1F);
}

TEST(PixelArithmetic, PaletteIndices) {
    for (PixelPath path : {PixelPath::kTable, PixelPath::kPacked}) {
        auto white = Convert(path, Flat(2, 2, 235, 128, 128), 2, 2, kSurfacePalette8);
        EXPECT_EQ(white[0], 255);
        auto black = Convert(path, Flat(2, 2, 16, 128, 128), 2, 2, kSurfacePalette8);
        for (uint8_t v : black) EXPECT_EQ(v, 0);
    }
    // Y = 47: red never falls back to 0 at any dither position.
    auto out = Convert(PixelPath::kTable, Flat(2, 2, 47, 128, 128), 2, 2, kSurfacePalette8);
    for (uint8_t v : out) EXPECT_GE(v & 7, 1);
}

TEST(PixelArithmetic, DitherOfFormat9OnTheTablePath) {
    // Y = 18 gives y = 2; the dither (h = 8) adds 0, 4 / 2, 6 over a 2x2 square;
    // with neutral chroma the blue index is y + d - 1 and blue = index >> 3.
    // Pick Y so that y = 5: blue index 4 + d -> 0 (d 0, 2), 1 (d 4, 6).
    uint8_t luma = 0;
    while (kLumaRamp[luma] != 5) ++luma;
    auto out = Convert(PixelPath::kTable, Flat(2, 2, luma, 128, 128), 2, 2, kSurfaceRgb555);
    auto blue = [&](int x, int y) {
        return (out[(y * 2 + x) * 2] | out[(y * 2 + x) * 2 + 1] << 8) & 31;
    };
    EXPECT_EQ(blue(0, 0), 0);  // 4 + 0
    EXPECT_EQ(blue(1, 0), 1);  // 4 + 4
    EXPECT_EQ(blue(0, 1), 0);  // 4 + 2
    EXPECT_EQ(blue(1, 1), 1);  // 4 + 6 = 10
    // Green index y + d + 1: 6, 10, 8, 12 -> 0, 1, 1, 1.
    auto green = [&](int x, int y) {
        return ((out[(y * 2 + x) * 2] | out[(y * 2 + x) * 2 + 1] << 8) >> 5) & 31;
    };
    EXPECT_EQ(green(0, 0), 0);
    EXPECT_EQ(green(1, 0), 1);
    EXPECT_EQ(green(0, 1), 1);
    EXPECT_EQ(green(1, 1), 1);
}

TEST(PixelAlpha, AlphaMembersAndShowAlpha) {
    for (PixelPath path : {PixelPath::kTable, PixelPath::kPacked}) {
        auto low = Convert(path, Flat(2, 2, 100, 128, 128, 127), 2, 2, kSurfaceArgb1555);
        auto high = Convert(path, Flat(2, 2, 100, 128, 128, 128), 2, 2, kSurfaceArgb1555);
        EXPECT_EQ(low[1] & 0x80, 0);
        EXPECT_EQ(high[1] & 0x80, 0x80);
        auto a32 = Convert(path, Flat(2, 2, 100, 128, 128, 77), 2, 2, kSurfaceArgb32);
        EXPECT_EQ(a32[3], 77);
        auto a4444 = Convert(path, Flat(2, 2, 100, 128, 128, 0xA7), 2, 2, kSurfaceArgb4444);
        EXPECT_EQ(a4444[1] >> 4, 0xA);
        // Without an alpha plane, format 5 is format 3 and ShowAlpha does nothing.
        auto plain5 = Convert(path, Flat(4, 2, 100, 90, 170), 4, 2, kSurfaceArgb32);
        auto plain3 = Convert(path, Flat(4, 2, 100, 90, 170), 4, 2, kSurfaceXrgb32);
        auto shown = Convert(path, Flat(4, 2, 100, 90, 170), 4, 2, kSurfaceXrgb32 | kCopyShowAlpha);
        EXPECT_EQ(plain5, plain3);
        EXPECT_EQ(shown, plain3);
        // With one, ShowAlpha reads the alpha plane as luma.
        auto swapped =
            Convert(path, Flat(4, 2, 100, 128, 128, 235), 4, 2, kSurfaceXrgb32 | kCopyShowAlpha);
        auto white = Convert(path, Flat(4, 2, 235, 128, 128), 4, 2, kSurfaceXrgb32);
        EXPECT_EQ(swapped, white);
    }
}

TEST(PixelYuv, SpansAndChromaOptions) {
    OwnedPlanes p;
    p.Init(8, 2, true, false);
    for (int i = 0; i < 8; ++i) p.y[i] = static_cast<uint8_t>(10 + i);
    for (int i = 0; i < 4; ++i)
        p.cr[i] = static_cast<uint8_t>(100 + i), p.cb[i] = static_cast<uint8_t>(50 + i);
    for (PixelPath path : {PixelPath::kTable, PixelPath::kPacked}) {
        // Span of 3 from column 1: Y1 V0, then the pair of column 2.
        std::vector<uint8_t> d(16, 0);
        Copy c(p, 8, 2, d.data(), 16, 1, kSurfaceYuy2 | kCopyAll);
        c.request.source_left = 1;
        c.request.source_width = 3;
        c.request.source_height = 1;
        ConverterState state;
        state.set_path(path);
        ConvertFrame(state, c.source, c.request);
        EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 7),
                  (std::vector<uint8_t>{11, 100, 12, 51, 13, 101, 0}));
        // SwapChroma exchanges U and V; UYVY order.
        auto swapped = Convert(path, p, 8, 2, kSurfaceYuy2 | kCopySwapChroma);
        EXPECT_EQ(swapped[1], 100);
        EXPECT_EQ(swapped[3], 50);
        auto uyvy = Convert(path, p, 8, 2, kSurfaceUyvy);
        EXPECT_EQ((std::vector<uint8_t>(uyvy.begin(), uyvy.begin() + 4)),
                  (std::vector<uint8_t>{50, 10, 100, 11}));
    }
}

TEST(PixelYuv, Yv12PlanesRowsAndOddHeight) {
    OwnedPlanes p;
    p.Init(5, 4, true, false);
    for (size_t i = 0; i < p.y.size(); ++i) p.y[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < p.cr.size(); ++i) p.cr[i] = static_cast<uint8_t>(200 + i % 50);
    for (size_t i = 0; i < p.cb.size(); ++i) p.cb[i] = static_cast<uint8_t>(100 + i % 50);
    // Width 5 at pitch 6: 5 luma bytes per row, 3 chroma bytes per even row.
    auto out = Convert(PixelPath::kTable, p, 5, 4, kSurfaceYv12);
    ASSERT_EQ(out.size(), 6u * 4 + 2 * 2 * 3);
    EXPECT_EQ(out[5], 0);     // luma padding column untouched
    EXPECT_EQ(out[24], 200);  // V row 0 from Cr
    EXPECT_EQ(out[26], 202);
    EXPECT_EQ(out[27], 200 + 8);  // V row 1 from chroma row 1 (stride 8)
    EXPECT_EQ(out[30], 100);      // U row 0 from Cb
    // Grayscale fills both chroma planes with 128.
    auto grey = Convert(PixelPath::kTable, p, 5, 4, kSurfaceYv12 | kCopyGrayscale);
    EXPECT_EQ(grey[24], 128);
    EXPECT_EQ(grey[35], 128);
    // Destination y = 3: chroma row 1.
    std::vector<uint8_t> d(6 * 8 + 2 * 4 * 3, 0);
    Copy c(p, 5, 4, d.data(), 6, 8, kSurfaceYv12 | kCopyAll);
    c.request.destination_y = 3;
    c.request.source_height = 2;
    ConverterState state;
    ConvertFrame(state, c.source, c.request);
    EXPECT_EQ(d[6 * 3], 0);
    EXPECT_EQ(d[6 * 3 + 1], 1);
    EXPECT_EQ(d[48 + 3], 200);       // V row 1
    EXPECT_EQ(d[48 + 12 + 3], 100);  // U row 1
    // An odd height into an exact buffer: the last chroma row lands in the
    // U plane for V and is dropped for U (the buffer ends there).
    std::vector<uint8_t> odd(6 * 3 + 2 * 1 * 3, 0);
    Copy o(p, 5, 3, odd.data(), 6, 3, kSurfaceYv12 | kCopyAll);
    ConverterState s2;
    EXPECT_EQ(ConvertFrame(s2, o.source, o.request), ConvertResult::kCopiedAll);
    EXPECT_EQ(odd[18], 200);      // V row 0
    EXPECT_EQ(odd[21], 200 + 8);  // V row 1 written over U row 0
}

TEST(PixelDrivers, NegativePitchAndRowModes) {
    OwnedPlanes p = Flat(4, 4, 235, 128, 128);
    // Pitch -P, destination y 10 of 100 rows: first row at pointer + 89 P.
    const int P = 16;
    std::vector<uint8_t> d(P * 100, 0);
    Copy c(p, 4, 4, d.data(), -P, 100, kSurfaceXrgb32 | kCopyAll);
    c.request.destination_y = 10;
    ConverterState state;
    ConvertFrame(state, c.source, c.request);
    EXPECT_EQ(d[89 * P + 1], 255);
    EXPECT_EQ(d[86 * P + 1], 255);
    EXPECT_EQ(d[85 * P + 1], 0);
    EXPECT_EQ(d[90 * P + 1], 0);
    // Mode 2 leaves the rows in between untouched; mode 1 writes them.
    auto interlaced = Convert(PixelPath::kTable, p, 4, 4, kSurfaceXrgb32 | 0x20000000);
    auto doubled = Convert(PixelPath::kTable, p, 4, 4, kSurfaceXrgb32 | 0x10000000);
    EXPECT_EQ(interlaced[16 + 1], 0);
    EXPECT_EQ(interlaced[32 + 1], 255);
    EXPECT_EQ(doubled[16 + 1], 255);
    // Mode 3 doubles the width: every pixel twice.
    OwnedPlanes ramp;
    ramp.Init(4, 2, true, false);
    for (int i = 0; i < 4; ++i) ramp.y[i] = static_cast<uint8_t>(i);
    std::fill(ramp.cr.begin(), ramp.cr.end(), 128);
    std::fill(ramp.cb.begin(), ramp.cb.end(), 128);
    auto wide = Convert(PixelPath::kTable, ramp, 4, 2, kSurfacePalette8 | 0x30000000);
    auto narrow = Convert(PixelPath::kTable, ramp, 4, 2, kSurfacePalette8);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(wide[2 * i], narrow[i]);
    // Mode 6 reads even rows only.
    OwnedPlanes rows;
    rows.Init(2, 4, true, false);
    for (int r = 0; r < 4; ++r)
        rows.y[r * 8] = rows.y[r * 8 + 1] = static_cast<uint8_t>(r * 60 + 20);
    std::fill(rows.cr.begin(), rows.cr.end(), 128);
    std::fill(rows.cb.begin(), rows.cb.end(), 128);
    auto half = Convert(PixelPath::kTable, rows, 2, 4, kSurfaceYuy2 | 0x60000000);
    EXPECT_EQ(half[0], 20);
    ASSERT_EQ(half.size(), 16u);
    EXPECT_EQ(half[4], 0);    // destination row 1 untouched
    EXPECT_EQ(half[8], 140);  // destination row 2: source row 2
}

TEST(PixelDrivers, ChangedBlockRuns) {
    OwnedPlanes p = Flat(64, 16, 235, 128, 128);
    uint8_t map[4] = {1, 1, 1, 0};
    auto run = [&](const uint8_t* m, uint32_t left, uint32_t width) {
        std::vector<uint8_t> d(64 * 16, 0);
        Copy c(p, 64, 16, d.data(), 64, 16, kSurfacePalette8);
        c.source.change_map = m;
        c.source.change_map_stride = 4;
        c.source.unchanged_areas = 4;
        c.source.full_copy_threshold = 1;
        c.request.source_left = left;
        c.request.source_width = width;
        ConverterState state;
        EXPECT_EQ(ConvertFrame(state, c.source, c.request), ConvertResult::kCopiedChanged);
        return d;
    };
    // Left 8, width 40, three changed map bytes: one run of 40 pixels.
    auto d = run(map, 8, 40);
    for (int x = 0; x < 40; ++x) EXPECT_EQ(d[x], 255) << x;
    EXPECT_EQ(d[40], 0);
    // Non-zero, zero, non-zero: columns 8-15 and 32-47 only.
    uint8_t gap[4] = {1, 0, 1, 0};
    d = run(gap, 8, 40);
    EXPECT_EQ(d[7], 255);
    EXPECT_EQ(d[8], 0);
    EXPECT_EQ(d[23], 0);
    EXPECT_EQ(d[24], 255);
    EXPECT_EQ(d[39], 255);
    EXPECT_EQ(d[40], 0);
    // An all-zero map changes nothing.
    uint8_t none[4] = {0, 0, 0, 0};
    d = run(none, 0, 64);
    for (uint8_t v : d) ASSERT_EQ(v, 0);
}

// The whole-frame shortcuts (whole rows straight to the converters, YV12
// planes copied directly, as one block where nothing lies between the rows)
// give the bytes of the block walk with every block changed.
TEST(PixelDrivers, WholeFrameShortcutsMatchTheBlockWalk) {
    std::mt19937 rng(99);
    OwnedPlanes p;
    p.Init(96, 20, true, true);
    for (auto* v : {&p.y, &p.cr, &p.cb, &p.alpha})
        for (auto& b : *v) b = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> map(6 * 2, 1);
    struct Rect {
        uint32_t left, top, width, height;
    };
    const Rect rects[] = {{0, 0, 96, 20}, {3, 1, 77, 17}, {8, 2, 64, 16}, {16, 0, 80, 19}};
    int compared = 0;
    for (uint32_t format = 0; format <= 15; ++format) {
        const uint32_t bpp = SurfaceBytesPerPixel(format);
        for (uint32_t mode = 0; mode <= 7; ++mode) {
            for (const Rect& r : rects) {
                // A pitch of exactly one row (YV12 at normal size: the planes
                // as single blocks) and a wider one.
                for (uint32_t pitch : {96 * bpp, 96 * bpp * 2 + 8}) {
                    if (pitch < 96 * bpp * ((mode >= 3 && mode <= 5) ? 2 : 1)) continue;
                    const uint32_t rows = 44;
                    auto run = [&](bool all) {
                        std::vector<uint8_t> d(SurfaceBufferSize(format, pitch, rows), 0x33);
                        Copy c(p, 96, 20, d.data(), static_cast<int32_t>(pitch), rows,
                               format | (mode << 28) | (all ? kCopyAll : 0));
                        c.request.source_left = r.left, c.request.source_top = r.top;
                        c.request.source_width = r.width, c.request.source_height = r.height;
                        c.source.change_map = map.data();
                        c.source.change_map_stride = 6;
                        c.source.unchanged_areas = 1;
                        ConverterState state;
                        EXPECT_NE(ConvertFrame(state, c.source, c.request),
                                  ConvertResult::kNothing);
                        return d;
                    };
                    ASSERT_EQ(run(true), run(false)) << "format " << format << " mode " << mode
                                                     << " left " << r.left << " pitch " << pitch;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 600);
}

TEST(PixelDrivers, SourceRectangleUsesTheCodedSize) {
    // A 17-pixel-wide movie copies 17 columns into a surface sized for 17,
    // even though its planes are 24 wide.
    OwnedPlanes p = Flat(17, 2, 235, 128, 128);
    std::vector<uint8_t> d(17 * 2, 0);
    Copy c(p, 17, 2, d.data(), 17, 2, kSurfacePalette8 | kCopyAll);
    ConverterState state;
    ConvertFrame(state, c.source, c.request);
    for (uint8_t v : d) EXPECT_EQ(v, 255);
    // A movie played at twice its size maps its rectangle back to the planes.
    std::vector<uint8_t> half(17 * 2, 0);
    Copy big(p, 17, 2, half.data(), 17, 2, kSurfacePalette8 | kCopyAll);
    big.source.movie_width = 34;
    big.source.movie_height = 4;
    big.request.source_left = 2;
    big.request.source_width = 100;
    big.request.source_height = 4;
    ConvertFrame(state, big.source, big.request);
    EXPECT_EQ(half[15], 255);
    EXPECT_EQ(half[16], 0);  // 16 columns from column 1
    // Zero-sized sources and missing destinations write nothing.
    big.source.movie_width = 0;
    EXPECT_EQ(ConvertFrame(state, big.source, big.request), ConvertResult::kNothing);
    big.source.movie_width = 34;
    big.request.destination = nullptr;
    EXPECT_EQ(ConvertFrame(state, big.source, big.request), ConvertResult::kNothing);
}

TEST(PixelDrivers, NeverWritesOutsideTheDestination) {
    OwnedPlanes p = Flat(16, 8, 235, 128, 128);
    for (uint32_t mode : {0u, 1u, 4u}) {
        // Destination of 6 rows, copy placed at x 4, y 3: rows past the end
        // and the part of the last row past the end are dropped.
        const int32_t pitch = 40;
        std::vector<uint8_t> d(pitch * 6 + 16, 0xEE);
        Copy c(p, 16, 8, d.data(), pitch, 6, kSurfaceRgb565 | kCopyAll | (mode << 28));
        c.request.destination_x = 4;
        c.request.destination_y = 3;
        ConverterState state;
        ConvertFrame(state, c.source, c.request);
        for (size_t i = pitch * 6; i < d.size(); ++i) ASSERT_EQ(d[i], 0xEE) << mode << " " << i;
        EXPECT_NE(d[pitch * 5 + 8], 0xEE);
        EXPECT_EQ(d[pitch * 3 + 7], 0xEE);  // left of destination x untouched
    }
}

TEST(PixelSelection, EntryOrderAndTables) {
    ConverterState state;
    state.set_path(PixelPath::kPacked);
    EXPECT_EQ(state.SelectConverter(5, true), 1);
    EXPECT_EQ(state.SelectConverter(5, false), 2);
    EXPECT_EQ(state.SelectConverter(8, true), 3);
    EXPECT_EQ(state.SelectConverter(8, false), 4);
    EXPECT_EQ(state.SelectConverter(13, false), 5);
    EXPECT_EQ(state.SelectConverter(0, false), 6);
    EXPECT_EQ(state.SelectConverter(15, false), 12);  // no packed YV12
    state.set_path(PixelPath::kTable);
    EXPECT_EQ(state.SelectConverter(6, true), 7);
    EXPECT_EQ(state.SelectConverter(1, true), 8);
    EXPECT_EQ(state.SelectConverter(7, true), 9);
    EXPECT_EQ(state.SelectConverter(12, false), 10);
    EXPECT_EQ(state.SelectConverter(14, false), 11);
    EXPECT_EQ(state.SelectConverter(0, false), 13);
    // The clamp table is rebuilt only when the layout changes.
    const uint32_t builds = state.clamp_table_builds();
    state.SelectConverter(12, false);
    state.SelectConverter(12 | 0x40000000, false);
    EXPECT_EQ(state.clamp_table_builds(), builds + 1);
    state.SelectConverter(3, false);
    state.SelectConverter(4, false);  // same shifts: keys 16 8 0 and 0 8 16 differ
    EXPECT_EQ(state.clamp_table_builds(), builds + 3);
    EXPECT_EQ(SurfaceBytesPerPixel(1), 3u);
    EXPECT_EQ(SurfaceBytesPerPixel(15), 1u);
    EXPECT_EQ(SurfaceBytesPerPixel(16), 0u);
    EXPECT_EQ(SurfaceBufferSize(15, 6, 5), 6u * 5 + 2 * 2 * 3);
}

TEST(PixelSelection, PathOverride) {
    SetPixelPath(PixelPath::kTable);
    EXPECT_EQ(ResolvedPixelPath(), PixelPath::kTable);
    SetPixelPath(PixelPath::kPacked);
    EXPECT_EQ(ResolvedPixelPath(), PixelPath::kPacked);
    SetPixelPath(PixelPath::kAuto);
    EXPECT_EQ(ResolvedPixelPath(),
              (CpuFeatures() & kCpuMmx) ? PixelPath::kPacked : PixelPath::kTable);
}

}  // namespace
}  // namespace vemo

namespace vemo {
namespace {

// Random requests into destinations exactly as large as they describe: a
// write outside would be caught by the address checker, and bytes outside
// the described rows must keep their guard value.
TEST(PixelDrivers, RandomRequestsStayInsideTheirDestination) {
    std::mt19937 rng(99);
    OwnedPlanes p;
    p.Init(37, 21, true, true);
    for (auto* v : {&p.y, &p.cr, &p.cb, &p.alpha})
        for (auto& b : *v) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> map(3 * 2);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t format = rng() % 16;
        const uint32_t flags = format | ((rng() % 8) << 28) | (rng() & 1 ? kCopyAll : 0) |
                               (rng() & 1 ? kCopySwapChroma : 0) |
                               (rng() % 4 == 0 ? kCopyGrayscale : 0) |
                               (rng() % 4 == 0 ? kCopyShowAlpha : 0);
        const uint32_t rows = 1 + rng() % 50;
        int32_t pitch = static_cast<int32_t>(1 + rng() % 200);
        if (format != kSurfaceYv12 && rng() % 3 == 0) pitch = -pitch;
        const size_t size = format == kSurfaceYv12 ? SurfaceBufferSize(format, pitch, rows)
                                                   : static_cast<size_t>(std::abs(pitch)) * rows;
        std::vector<uint8_t> d(size + 8, 0xEE);
        for (auto& b : map) b = rng() & 1;
        Copy c(p, 37, 21, d.data(), pitch, rows, flags);
        c.source.change_map = map.data();
        c.source.change_map_stride = 3;
        c.source.unchanged_areas = 5;
        c.source.full_copy_threshold = 1;
        c.source.movie_width = 37 * (1 + rng() % 2);
        c.source.movie_height = 21 * (1 + rng() % 2);
        c.request.destination_x = rng() % 40;
        c.request.destination_y = rng() % 60;
        c.request.source_left = rng() % 80;
        c.request.source_top = rng() % 50;
        c.request.source_width = rng() % 90;
        c.request.source_height = rng() % 50;
        ConverterState state;
        state.set_path(rng() & 1 ? PixelPath::kTable : PixelPath::kPacked);
        ConvertFrame(state, c.source, c.request);
        for (size_t j = size; j < d.size(); ++j) ASSERT_EQ(d[j], 0xEE) << i;
    }
}

}  // namespace
}  // namespace vemo
