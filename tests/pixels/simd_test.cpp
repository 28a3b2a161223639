// The packed path's kernel table under every CPU mask level against the
// plain lane model (random planes, every format, start column and width),
// and the mask itself: its parser and the classic word and path it lowers.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cpu_levels.h"
#include "pixels_internal.h"
#include "pixels_test_util.h"

namespace vemo {
namespace {

std::vector<uint8_t> ConvertWith(const test::OwnedPlanes& p, uint32_t flags, uint32_t left,
                                 uint32_t top, uint32_t width, uint32_t height,
                                 uint32_t plane_width = 64) {
    ConverterState state;
    state.set_path(PixelPath::kPacked);
    const uint32_t pitch = plane_width * 8 * 2;
    std::vector<uint8_t> out(pitch * 8, 0x5A);
    FrameSource source;
    source.planes = &p.planes;
    source.movie_width = source.coded_width = plane_width;
    source.movie_height = source.coded_height = 6;
    CopyRequest request;
    request.destination = out.data();
    request.pitch = pitch;
    request.destination_height = 8;
    request.source_left = left;
    request.source_top = top;
    request.source_width = width;
    request.source_height = height;
    request.flags = flags | kCopyAll;
    ConvertFrame(state, source, request);
    return out;
}

TEST(PixelSimd, EveryMaskLevelMatchesTheLaneModel) {
    const auto levels = test::CpuLevels();
    if (levels.size() < 2) {
        GTEST_SKIP() << "no SIMD kernels on this processor";
    }
    std::mt19937 rng(12345);
    test::OwnedPlanes p;
    p.Init(64, 6, true, true);
    for (auto* v : {&p.y, &p.cr, &p.cb, &p.alpha})
        for (auto& b : *v) b = static_cast<uint8_t>(rng());
    int compared = 0;
    for (uint32_t format = 0; format <= 14; ++format) {
        for (uint32_t extra : {0u, 0x30000000u, kCopySwapChroma}) {
            for (uint32_t left = 0; left < 16; ++left) {
                for (uint32_t width = 1; left + width <= 64; width += (width < 40 ? 1 : 7)) {
                    const uint32_t flags = format | extra;
                    const uint32_t top = left & 1;
                    std::vector<uint8_t> model;
                    for (const test::CpuLevel& level : levels) {
                        test::ScopedCpuMask mask(level.mask);
                        const auto got = ConvertWith(p, flags, left, top, width, 3);
                        if (model.empty()) {
                            model = got;
                            continue;
                        }
                        ASSERT_EQ(model, got)
                            << level.name << " format " << format << " flags " << std::hex << flags
                            << std::dec << " left " << left << " width " << width;
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 1000);
}

// Spans of several 32-pixel steps with every kind of remainder, for the
// members whose widest kernels work in such steps, with the chroma options
// and the row modes.
TEST(PixelSimd, LongSpansMatchAtEveryMaskLevel) {
    const auto levels = test::CpuLevels();
    if (levels.size() < 2) {
        GTEST_SKIP() << "no SIMD kernels on this processor";
    }
    std::mt19937 rng(777);
    test::OwnedPlanes p;
    p.Init(192, 6, true, true);
    for (auto* v : {&p.y, &p.cr, &p.cb, &p.alpha})
        for (auto& b : *v) b = static_cast<uint8_t>(rng());
    int compared = 0;
    for (uint32_t format : {1u, 2u, 3u, 4u, 5u, 6u, 13u, 14u}) {
        for (uint32_t extra : {0u, kCopySwapChroma, kCopyGrayscale, 0x20000000u, 0x60000000u}) {
            for (uint32_t left : {0u, 1u, 8u, 24u, 33u}) {
                for (uint32_t width : {31u, 32u, 40u, 63u, 64u, 65u, 96u, 97u, 150u}) {
                    std::vector<uint8_t> model;
                    for (const test::CpuLevel& level : levels) {
                        test::ScopedCpuMask mask(level.mask);
                        const auto got = ConvertWith(p, format | extra, left, 1, width, 5, 192);
                        if (model.empty()) {
                            model = got;
                            continue;
                        }
                        ASSERT_EQ(model, got)
                            << level.name << " format " << format << " flags " << std::hex << extra
                            << std::dec << " left " << left << " width " << width;
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 8 * 5 * 5 * 9);
}

// The whole-rows entry of YUY2 and UYVY against the plain group kernel run
// row by row: odd strides, odd start rows (chroma moves after odd rows),
// bottom-up and gapped destinations, widths with every remainder of the
// widest steps. Bytes around the rows stay as they were.
TEST(PixelSimd, RowBlocksMatchRowByRowAtEveryMaskLevel) {
    std::mt19937 rng(4242);
    constexpr ptrdiff_t kLumaStride = 203, kChromaStride = 109;
    std::vector<uint8_t> luma(kLumaStride * 7), chroma1(kChromaStride * 4), chroma2(chroma1.size());
    for (auto* v : {&luma, &chroma1, &chroma2})
        for (auto& b : *v) b = static_cast<uint8_t>(rng());
    const PackedKernels& plain = ScalarPackedKernels();
    int compared = 0;
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        const PackedKernels& active = ActivePackedKernels();
        for (const bool uyvy : {false, true}) {
            const GroupKernel groups_of = uyvy ? plain.uyvy : plain.yuy2;
            for (const uint32_t groups : {1u, 3u, 4u, 5u, 8u, 11u, 12u, 20u, 23u}) {
                for (const uint32_t rows : {1u, 2u, 3u, 6u}) {
                    for (const uint32_t first_row : {0u, 1u}) {
                        for (const ptrdiff_t step : {ptrdiff_t{400}, ptrdiff_t{-373}}) {
                            const size_t bytes = 16 * groups;
                            std::vector<uint8_t> want(2600, 0x5A), got(want);
                            const ptrdiff_t first = step > 0 ? 16 : 16 - step * (rows - 1);
                            RowBlock b{luma.data() + 5,
                                       chroma1.data() + 3,
                                       chroma2.data() + 7,
                                       got.data() + first,
                                       kLumaStride,
                                       kChromaStride,
                                       kChromaStride,
                                       step,
                                       groups,
                                       rows,
                                       first_row};
                            (uyvy ? active.uyvy_rows : active.yuy2_rows)(b);
                            for (uint32_t k = 0; k < rows; ++k) {
                                // Source row first_row + k reads chroma row
                                // (first_row + k) / 2, counted from the first.
                                const ptrdiff_t chroma_row = (first_row + k) / 2 - first_row / 2;
                                ConversionContext c{};
                                c.luma = c.alpha = b.luma + kLumaStride * k;
                                c.chroma1 = b.chroma1 + kChromaStride * chroma_row;
                                c.chroma2 = b.chroma2 + kChromaStride * chroma_row;
                                c.destination = want.data() + first + step * k;
                                groups_of(c, groups);
                                ASSERT_EQ(c.destination - (want.data() + first + step * k),
                                          static_cast<ptrdiff_t>(bytes));
                            }
                            ASSERT_EQ(want, got) << level.name << (uyvy ? " uyvy" : " yuy2")
                                                 << " groups " << groups << " rows " << rows
                                                 << " first row " << first_row << " step " << step;
                            ++compared;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(compared, static_cast<int>(test::CpuLevels().size()) * 2 * 9 * 4 * 2 * 2);
}

TEST(PixelSimd, TheTableFollowsTheMask) {
    const PackedKernels& scalar = ScalarPackedKernels();
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        const PackedKernels& active = ActivePackedKernels();
        const bool plain = level.name == "c";
        EXPECT_EQ(active.rgb32 == scalar.rgb32, plain) << level.name;
        EXPECT_EQ(active.yuy2 == scalar.yuy2, plain) << level.name;
        EXPECT_EQ(active.uyvy_rows == scalar.uyvy_rows, plain) << level.name;
        EXPECT_NE(active.palette, nullptr);
    }
}

TEST(CpuMask, ParsesLevelsAndHexadecimalMasks) {
    uint32_t mask = 7;
    EXPECT_TRUE(ParseCpuMask("c", &mask));
    EXPECT_EQ(mask & (kCpuSse2 | kCpuAvx2), 0u);
    EXPECT_NE(mask & kCpuMmx, 0u);
    EXPECT_TRUE(ParseCpuMask("sse2", &mask));
    EXPECT_EQ(mask & (kCpuSse2 | kCpuAvx2), kCpuSse2);
    EXPECT_TRUE(ParseCpuMask("table", &mask));
    EXPECT_EQ(mask & (kCpuMmx | kCpuSse2 | kCpuAvx2), 0u);
    EXPECT_TRUE(ParseCpuMask("avx2", &mask));
    EXPECT_EQ(mask, kCpuMaskAll & ~kCpuAvx512);
    EXPECT_TRUE(ParseCpuMask("avx512", &mask));
    EXPECT_EQ(mask, kCpuMaskAll);
    EXPECT_TRUE(ParseCpuMask("0x9", &mask));
    EXPECT_EQ(mask, kCpuMmx | kCpuSse2 | kCpuDetected);  // bit 31 is always kept
    EXPECT_TRUE(ParseCpuMask("0XfffffffF", &mask));
    EXPECT_EQ(mask, kCpuMaskAll);
    mask = 7;
    for (const char* bad : {"", "SSE2", "sse", "0x", "0x123456789", "0x-1", "0x1g", "9", " c"})
        EXPECT_FALSE(ParseCpuMask(bad, &mask)) << bad;
    EXPECT_EQ(mask, 7u);
}

TEST(CpuMask, NamesTheWidestKernelLevelItLeaves) {
    const struct {
        const char* name;
        uint32_t bit;  // the level's own feature (none for plain kernels)
    } levels[] = {{"c", 0}, {"sse2", kCpuSse2}, {"avx2", kCpuAvx2}, {"avx512", kCpuAvx512}};
    for (const auto& level : levels) {
        uint32_t lowered = 0;
        ASSERT_TRUE(ParseCpuMask(level.name, &lowered));
        test::ScopedCpuMask mask(CpuMask() & lowered);
        const std::string named = CpuKernelLevel();
        uint32_t named_mask = 0;
        ASSERT_TRUE(ParseCpuMask(named.c_str(), &named_mask)) << named;
        EXPECT_EQ(named_mask & ~lowered, 0u) << level.name << " named " << named;
#if defined(_WIN32)
        const bool built = level.bit <= kCpuSse2;
#else
        const bool built = true;
#endif
        if (built && (level.bit == 0 || (CpuFlags() & level.bit))) {
            EXPECT_EQ(named, level.name);
        }
    }
}

TEST(CpuMask, LowersTheClassicWordAndThePixelPath) {
    const uint32_t classic = CpuFeatures();
    EXPECT_NE(classic & kCpuDetected, 0u);
    EXPECT_EQ(classic & ~kCpuClassicBits, 0u);
    if (!(classic & kCpuMmx)) {
        EXPECT_EQ(classic, kCpuDetected);
    }
    const PixelPath automatic = ResolvedPixelPath();
    EXPECT_EQ(automatic, (classic & kCpuMmx) ? PixelPath::kPacked : PixelPath::kTable);
    const uint32_t generation = CpuMaskGeneration();
    {
        test::ScopedCpuMask mask(CpuMask() & ~kCpuMmx);
        EXPECT_NE(CpuMaskGeneration(), generation);
        EXPECT_EQ(CpuFeatures(), kCpuDetected);  // no SSE bits without MMX
        EXPECT_EQ(ResolvedPixelPath(), PixelPath::kTable);
        EXPECT_EQ(CpuFlags() & kCpuSse2, CpuDetectedFeatures() & CpuMask() & kCpuSse2);
    }
    {
        test::ScopedCpuMask mask(CpuMask() & ~kCpuSse);
        EXPECT_EQ(CpuFeatures(), classic & ~kCpuSse);
    }
    EXPECT_EQ(CpuFeatures(), classic);
    EXPECT_EQ(ResolvedPixelPath(), automatic);
    EXPECT_EQ(CpuFlags(), CpuDetectedFeatures() & CpuMask());
}

}  // namespace
}  // namespace vemo
