// The fused transform table (put into destination rows, add to source rows)
// under every CPU mask level, and each rung against the plain kernels on
// random blocks, the top-left-corner and first-row blocks the rungs treat
// apart and overlapping source rows included.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "cpu_levels.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

TEST(TransformKernelTable, FollowsTheMask) {
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        const TransformKernels* sse2 = Sse2TransformKernels();
        const TransformKernels* avx2 = Avx2TransformKernels();
        const TransformKernels& want = avx2 ? *avx2 : sse2 ? *sse2 : PlainTransformKernels();
        EXPECT_EQ(ActiveTransformKernels().put, want.put) << level.name;
        EXPECT_EQ(ActiveTransformKernels().add, want.add) << level.name;
        EXPECT_EQ(ActiveTransformKernels().put_doubled, want.put_doubled) << level.name;
        EXPECT_EQ(sse2 != nullptr, level.name != "c" && (CpuFlags() & kCpuSse2)) << level.name;
        EXPECT_EQ(avx2 != nullptr, Avx2InverseTransformKernel() != nullptr) << level.name;
    }
}

// Coefficients of one of eight shapes: the top-left 4x4 corner only, rows
// 0-3 only, columns 0-3 only, anywhere, full-scale values anywhere, row 0
// only (full-scale every other time), the DC alone, or the top-left 2x2
// square only (full-scale every other time).
void RandomBlock(std::mt19937& rng, int shape, int16_t c[64]) {
    const bool full_scale = shape == 4 || ((shape == 5 || shape == 7) && rng() % 2 == 0);
    for (int i = 0; i < 64; ++i) {
        const int row = i / 8, col = i % 8;
        const bool allowed = shape == 0   ? row < 4 && col < 4
                             : shape == 1 ? row < 4
                             : shape == 2 ? col < 4
                             : shape == 5 ? row == 0
                             : shape == 6 ? i == 0
                             : shape == 7 ? row < 2 && col < 2
                                          : true;
        c[i] = 0;
        if (allowed && (full_scale || shape == 6 || rng() % 3 == 0))
            c[i] = static_cast<int16_t>(full_scale || shape == 6 ? rng() : rng() % 800 - 400);
    }
    // A corner block with a single coefficient on the corner's edge.
    if (shape == 0 && rng() % 4 == 0) {
        std::memset(c, 0, 128);
        c[rng() % 2 ? 3 : 24] = static_cast<int16_t>(rng() % 200 + 1);
    }
}

TEST(TransformKernelTable, EveryRungPutsAndAddsThePlainSamples) {
    std::vector<const TransformKernels*> rungs = {Sse2TransformKernels(), Avx2TransformKernels()};
    const TransformKernels& plain = PlainTransformKernels();
    constexpr uint32_t kStride = 20;
    std::mt19937 rng(23);
    for (int round = 0; round < 3200; ++round) {
        int16_t c[64];
        RandomBlock(rng, round % 8, c);
        const auto& quant = (round & 1 ? IntraQuantTable() : InterQuantTable())[rng() % 16];
        // Rows 2-9 of a 12-row canvas, columns 5-12; the source of an add is
        // moved by up to a row and three columns either way (the same rows
        // when not moved).
        uint8_t canvas[12 * kStride];
        for (auto& v : canvas) v = static_cast<uint8_t>(rng());
        const int move = static_cast<int>(rng() % 3) - 1, shift = static_cast<int>(rng() % 7) - 3;
        uint8_t* dst = canvas + 2 * kStride + 5;
        const uint8_t* src = dst + move * static_cast<int>(kStride) + shift;
        uint8_t put_want[sizeof canvas], add_want[sizeof canvas];
        std::memcpy(put_want, canvas, sizeof canvas);
        std::memcpy(add_want, canvas, sizeof canvas);
        plain.put(c, quant, put_want + (dst - canvas), kStride);
        plain.add(c, quant, add_want + (src - canvas), add_want + (dst - canvas), kStride);
        for (const TransformKernels* rung : rungs) {
            if (!rung) continue;
            uint8_t got[sizeof canvas];
            std::memcpy(got, canvas, sizeof canvas);
            rung->put(c, quant, got + (dst - canvas), kStride);
            ASSERT_EQ(0, std::memcmp(put_want, got, sizeof got)) << "put, round " << round;
            std::memcpy(got, canvas, sizeof canvas);
            rung->add(c, quant, got + (src - canvas), got + (dst - canvas), kStride);
            ASSERT_EQ(0, std::memcmp(add_want, got, sizeof got))
                << "add, round " << round << " move " << move << " shift " << shift;
        }
    }
}

// The doubled put writes rows 2-17 of a 20-row canvas, columns 3-18, and
// nothing else; the plain one is the block's samples as 2x2 squares.
TEST(TransformKernelTable, EveryRungPutsThePlainDoubledSamples) {
    constexpr uint32_t kStride = 24;
    std::mt19937 rng(31);
    for (int round = 0; round < 1600; ++round) {
        int16_t c[64];
        RandomBlock(rng, round % 8, c);
        const auto& quant = IntraQuantTable()[rng() % 16];
        uint8_t canvas[20 * kStride];
        for (auto& v : canvas) v = static_cast<uint8_t>(rng());
        uint8_t block[64], want[sizeof canvas];
        PlainKernels().inverse_transform(c, quant, block);
        std::memcpy(want, canvas, sizeof canvas);
        for (int i = 0; i < 256; ++i)
            want[(2 + i / 16) * kStride + 3 + i % 16] = block[i / 32 * 8 + i % 16 / 2];
        for (const TransformKernels* rung :
             {&PlainTransformKernels(), Sse2TransformKernels(), Avx2TransformKernels()}) {
            if (!rung) continue;
            uint8_t got[sizeof canvas];
            std::memcpy(got, canvas, sizeof canvas);
            rung->put_doubled(c, quant, got + 2 * kStride + 3, kStride);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof got)) << "round " << round;
        }
    }
}

// A block with one coefficient at each position in turn (the DC among
// them, then beside a DC) sits on every edge between the shapes the rungs
// tell apart: row 0 only, the top-left corner, and the rest.
TEST(TransformKernelTable, SingleCoefficientsAtEveryPositionPutAndAddThePlainSamples) {
    const TransformKernels& plain = PlainTransformKernels();
    constexpr uint32_t kStride = 8;
    const int16_t values[] = {1, -1, 700, -32768, 32767};
    for (const TransformKernels* rung : {Sse2TransformKernels(), Avx2TransformKernels()}) {
        if (!rung) continue;
        for (int position = 0; position < 64; ++position) {
            for (const int16_t value : values) {
                for (const int16_t dc : {int16_t{0}, int16_t{300}}) {
                    int16_t c[64] = {};
                    c[0] = dc;
                    c[position] = value;
                    const auto& quant = IntraQuantTable()[position % 16];
                    uint8_t src[64], want[64], got[64];
                    for (int i = 0; i < 64; ++i) src[i] = static_cast<uint8_t>(i * 37);
                    plain.put(c, quant, want, kStride);
                    rung->put(c, quant, got, kStride);
                    ASSERT_EQ(0, std::memcmp(want, got, 64)) << "put at " << position;
                    plain.add(c, quant, src, want, kStride);
                    rung->add(c, quant, src, got, kStride);
                    ASSERT_EQ(0, std::memcmp(want, got, 64)) << "add at " << position;
                }
            }
        }
    }
}

// A full top-left 2x2 square of full-scale values (products that wrap)
// with one more coefficient at each position in turn: inside the square the
// rungs take their two-input butterflies, one step outside it the corner or
// full ones. The block alone (inverse transform), put and add all match the
// plain kernels.
TEST(TransformKernelTable, SquareBlocksAndTheirNeighboursMatchThePlainKernels) {
    const TransformKernels& plain = PlainTransformKernels();
    const InverseTransformKernel alone[] = {
        Sse2Kernels() ? Sse2Kernels()->inverse_transform : nullptr, Avx2InverseTransformKernel()};
    const TransformKernels* fused[] = {Sse2TransformKernels(), Avx2TransformKernels()};
    std::mt19937 rng(29);
    for (int round = 0; round < 4 * 64; ++round) {
        int16_t c[64] = {};
        for (const int i : {0, 1, 8, 9}) c[i] = static_cast<int16_t>(rng());
        c[round % 64] = static_cast<int16_t>(rng() | 1);
        const auto& quant = (round & 1 ? IntraQuantTable() : InterQuantTable())[rng() % 16];
        uint8_t src[64], want[64], got[64];
        for (auto& v : src) v = static_cast<uint8_t>(rng());
        for (int k = 0; k < 2; ++k) {
            if (alone[k]) {
                PlainKernels().inverse_transform(c, quant, want);
                alone[k](c, quant, got);
                ASSERT_EQ(0, std::memcmp(want, got, 64)) << "alone, round " << round;
            }
            if (!fused[k]) continue;
            plain.put(c, quant, want, 8);
            fused[k]->put(c, quant, got, 8);
            ASSERT_EQ(0, std::memcmp(want, got, 64)) << "put, round " << round;
            plain.add(c, quant, src, want, 8);
            fused[k]->add(c, quant, src, got, 8);
            ASSERT_EQ(0, std::memcmp(want, got, 64)) << "add, round " << round;
        }
    }
}

}  // namespace
}  // namespace vemo::video
