// The video kernel table under every CPU mask level: the entries in use and
// the block stages that go through them against the plain kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "cpu_levels.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

TEST(VideoKernelTable, FollowsTheMask) {
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        const VideoKernels& active = ActiveVideoKernels();
        const VideoKernels* sse2 = Sse2Kernels();
        const VideoKernels& want = sse2 ? *sse2 : PlainKernels();
        const InverseTransformKernel avx2 = Avx2InverseTransformKernel();
        EXPECT_EQ(active.inverse_transform, avx2 ? avx2 : want.inverse_transform) << level.name;
        EXPECT_EQ(active.add_block, want.add_block) << level.name;
        EXPECT_EQ(sse2 != nullptr, level.name != "c" && (CpuFlags() & kCpuSse2)) << level.name;
        const bool wide = level.name == "avx2" || level.name == "avx512";
        EXPECT_TRUE(!avx2 || (wide && (CpuFlags() & kCpuAvx2))) << level.name;
#if defined(__x86_64__) && !defined(_WIN32)
        if (level.name == "avx2") {
            EXPECT_NE(avx2, nullptr);  // only Windows builds go without
        }
#endif
    }
}

TEST(VideoKernelTable, BlockStagesMatchPlainAtEveryLevel) {
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        std::mt19937 rng(11);
        for (int round = 0; round < 1500; ++round) {
            int16_t c[64] = {};
            for (int i = 0; i < 64; ++i)
                if (round % 3 == 0 || !(rng() & 3))
                    c[i] = static_cast<int16_t>(round & 1 ? rng() : rng() % 600 - 300);
            // Blocks with coefficients in the first row only, or with a DC
            // alone, take shortcuts.
            if (round % 5 == 4) std::fill(c + 8, c + 64, int16_t{0});
            if (round % 7 == 6) std::fill(c + 1, c + 64, int16_t{0});
            const auto& quant = (round & 2 ? IntraQuantTable() : InterQuantTable())[rng() % 16];
            uint8_t want[64], got[64];
            PlainKernels().inverse_transform(c, quant, want);
            InverseTransform(c, quant, got);
            ASSERT_EQ(0, std::memcmp(want, got, 64)) << level.name << " round " << round;
            // In place (source and destination the same rows) and shifted.
            uint8_t picture[10 * 24], expected[10 * 24];
            for (auto& v : picture) v = static_cast<uint8_t>(rng());
            std::memcpy(expected, picture, sizeof picture);
            const int offset = static_cast<int>(rng() % 3) * 8;  // 0: in place
            PlainKernels().add_block(want, expected + 24 + 5 + offset, expected + 24 + 5, 24);
            IdctAdd(c, quant, picture + 24 + 5 + offset, picture + 24 + 5, 24);
            ASSERT_EQ(0, std::memcmp(expected, picture, sizeof picture))
                << level.name << " round " << round;
            // Put and doubled put write the plain samples into strided rows
            // and nothing around them.
            for (const int scale : {1, 2}) {
                uint8_t rows[18 * 40], put[18 * 40];
                std::memset(rows, 0x5A, sizeof rows);
                std::memcpy(put, rows, sizeof rows);
                for (int i = 0; i < 64 * scale * scale; ++i) {
                    const int y = i / (8 * scale), x = i % (8 * scale);
                    put[(1 + y) * 40 + 3 + x] = want[y / scale * 8 + x / scale];
                }
                if (scale == 1)
                    IdctPut(c, quant, rows + 40 + 3, 40);
                else
                    IdctPutDoubled(c, quant, rows + 40 + 3, 40);
                ASSERT_EQ(0, std::memcmp(put, rows, sizeof rows))
                    << level.name << " round " << round << " scale " << scale;
            }
        }
    }
}

TEST(VideoKernelTable, ExtremeBlocksWrapAsThePlainKernelDoes) {
    // Full-scale coefficients at the coarsest quantisers overflow the 32-bit
    // products and sums; every level must wrap them the same way, the
    // first-row shortcut included.
    const int16_t extremes[4] = {32767, -32768, -1, 12345};
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        for (int pattern = 0; pattern < 8; ++pattern) {
            int16_t c[64];
            for (int i = 0; i < 64; ++i) c[i] = extremes[(i * (pattern + 1) + pattern) % 4];
            if (pattern >= 6) std::fill(c + 8, c + 64, int16_t{0});
            if (pattern == 7) std::fill(c + 1, c + 8, int16_t{0});
            for (const QuantTable* table : {&IntraQuantTable(), &InterQuantTable()}) {
                uint8_t want[64], got[64], added[64], source[64];
                PlainKernels().inverse_transform(c, (*table)[15], want);
                InverseTransform(c, (*table)[15], got);
                EXPECT_EQ(0, std::memcmp(want, got, 64)) << level.name << " pattern " << pattern;
                for (int i = 0; i < 64; ++i) source[i] = static_cast<uint8_t>(i * 37 + 200);
                IdctAdd(c, (*table)[15], source, added, 8);
                for (int i = 0; i < 64; ++i)
                    ASSERT_EQ(added[i], static_cast<uint8_t>(source[i] + want[i]))
                        << level.name << " pattern " << pattern << " at " << i;
            }
        }
    }
}

}  // namespace
}  // namespace vemo::video
