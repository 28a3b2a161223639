// Bundle fills that take several codes per reader refill, the word-wide
// block-type repeats, and frame planes that start as zeros.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "plane_builder.h"
#include "vemo/frame_planes.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

using test::Bits;

// Code c of a set, first stream bit in bit 0.
void PutCode(Bits& bits, int set, uint32_t c) {
    bits.Put(kCodeValues[set][c], kCodeLengths[set][c]);
}

struct Filled {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(1024, 0xEE);
    Bundle bundle;
    explicit Filled(uint32_t capacity) {
        bundle.data = bytes.data();
        bundle.capacity = capacity;
        bundle.width = 10;
    }
};

// Every offset of -15..15 in a shuffled order, several times over (more
// values than one refill serves), through a reversed map of every set: the
// longest codes carry a sign bit at the far end of the lookup.
TEST(BatchedFills, MotionOffsetsOfEverySetAndMap) {
    std::mt19937 rng(17);
    for (int set = 0; set < kCodeSetCount; ++set) {
        std::vector<int> values;
        for (int round = 0; round < 3; ++round)
            for (int v = -15; v <= 15; ++v) values.push_back(v);
        std::shuffle(values.begin(), values.end(), rng);
        Bits bits;
        bits.Put(static_cast<uint32_t>(values.size()), 10);
        bits.PutBit(0);
        for (int v : values) {
            const uint32_t m = static_cast<uint32_t>(v < 0 ? -v : v);
            PutCode(bits, set, 15 - m);  // the map below sends code c to 15 - c
            if (m) bits.PutBit(v < 0);
        }
        bits.Put(0x2A5, 10);  // what follows the fill stays unread
        const std::vector<uint8_t> data = bits.Bytes();
        BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
        Filled f(600);
        f.bundle.tree.set = static_cast<uint8_t>(set);
        for (int c = 0; c < 16; ++c) f.bundle.tree.map[c] = static_cast<uint8_t>(15 - c);
        f.bundle.tree.BuildDecode();
        ASSERT_EQ(FillMotion(f.bundle, reader), FillResult::kFilled) << set;
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(static_cast<int8_t>(f.bytes[i]), values[i]) << set << " at " << i;
        EXPECT_EQ(f.bytes[values.size()], 0xEE) << set;
        EXPECT_EQ(reader.Read(10), 0x2A5u) << set;
    }
}

// Block types 3, repeat 4, 5, repeat 32 with fills of three lengths: a
// repeat that fits is stored whole and what follows it overwrites the rest
// of a word-wide store; nothing lands past the fill's length.
TEST(BatchedFills, BlockTypeRepeatsStayInsideTheFill) {
    for (uint32_t n : {40u, 38u, 37u}) {
        Bits bits;
        bits.Put(n, 10);
        bits.PutBit(0);
        for (uint32_t s : {3u, 12u, 5u, 15u, 7u, 7u}) bits.Put(s, 4);  // set 0: 4-bit codes
        const std::vector<uint8_t> data = bits.Bytes();
        BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
        Filled f(600);
        uint32_t faults = 0;
        ASSERT_EQ(FillBlockTypes(f.bundle, reader, &faults), FillResult::kFilled);
        std::vector<uint8_t> expected(n, 5);  // 3 x5, then 5 x33, then 7 7
        for (uint32_t i = 0; i < n; ++i) expected[i] = i < 5 ? 3 : i < 38 ? 5 : 7;
        EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + n), expected) << n;
        EXPECT_EQ(f.bytes[n], 0xEE) << n;
        EXPECT_EQ((faults & kFaultFillOverrun) != 0, n == 37) << n;
    }
}

// Grouped block-type fills through ten trees (more than the tables kept per
// thread) in turn, twice over: every fill decodes as its own tree says,
// whichever tables were rebuilt or kept in between.
TEST(BatchedFills, BlockTypesThroughManyTreesInTurn) {
    std::mt19937 rng(3);
    std::vector<CodeTree> trees(10);
    for (uint32_t t = 0; t < trees.size(); ++t) {
        trees[t].set = static_cast<uint8_t>(13 + t % 3);  // sets shared, maps not
        std::shuffle(trees[t].map, trees[t].map + 16, rng);
        BuildTreeLookup(trees[t]);
    }
    for (int pass = 0; pass < 2; ++pass)
        for (const CodeTree& tree : trees) {
            constexpr uint32_t n = 100;
            Bits bits;
            bits.Put(n, 10);
            bits.PutBit(0);
            std::vector<uint8_t> expected;
            uint8_t last = 0;
            while (expected.size() < n) {
                // Mostly types, now and then a repeat that still fits.
                uint32_t s = rng() % 16;
                const uint32_t repeat = s >= 12 ? (s == 15 ? 32 : 4 * (s - 11)) : 0;
                if (repeat > n - expected.size()) s = rng() % 12;
                const uint32_t code =
                    static_cast<uint32_t>(std::find(tree.map, tree.map + 16, s) - tree.map);
                PutCode(bits, tree.set, code);
                if (s < 12) last = static_cast<uint8_t>(s);
                expected.insert(expected.end(), s < 12 ? 1 : repeat, last);
            }
            const std::vector<uint8_t> data = bits.Bytes();
            BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
            Filled f(600);
            f.bundle.tree = tree;
            uint32_t faults = 0;
            ASSERT_EQ(FillBlockTypes(f.bundle, reader, &faults), FillResult::kFilled);
            EXPECT_EQ(std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + n), expected)
                << "pass " << pass << " set " << int{tree.set};
            EXPECT_EQ(faults, 0u);
        }
}

// Planes come from a cleared block even where the memory was used before.
TEST(BatchedFills, NewFramePlanesReadAsZerosAfterReuse) {
    for (int round = 0; round < 2; ++round) {
        FramePlanes* p = CreateFramePlanes(40, 24, false, kVideoAlpha);
        ASSERT_NE(p, nullptr);
        size_t nonzero = 0;
        for (auto& buffer : p->buffer)
            for (int plane = 0; plane < 4; ++plane) {
                const bool luma = plane == kPlaneY || plane == kPlaneAlpha;
                const size_t bytes = luma ? size_t{p->luma_width} * p->luma_height
                                          : size_t{p->chroma_width} * p->chroma_height;
                uint8_t* samples = buffer[plane].samples;
                ASSERT_NE(samples, nullptr);
                for (size_t i = 0; i < bytes; ++i) nonzero += samples[i] != 0;
                std::fill_n(samples, bytes, uint8_t{0x5A});  // dirty for the next round
            }
        EXPECT_EQ(nonzero, 0u) << round;
        FreeFramePlanes(p);
    }
}

}  // namespace
}  // namespace vemo::video
