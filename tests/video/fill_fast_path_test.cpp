// The bundle fillers' table-driven paths against a plain decoder that takes
// the stream one bit at a time and matches codes by length and value: random
// trees of every set, random bits, fills of every size and data that ends
// before the fill does.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "plane_builder.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

using test::Bits;

// The stream one bit at a time; bytes past the end read as zero.
struct PlainBits {
    const std::vector<uint8_t>& data;
    uint64_t pos;
    uint32_t Bit() {
        const uint64_t byte = pos / 8;
        const uint32_t b = byte < data.size() ? data[byte] >> (pos % 8) & 1 : 0;
        ++pos;
        return b;
    }
    uint32_t Read(int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k) v |= Bit() << k;
        return v;
    }
    uint32_t Symbol(const CodeTree& tree) {
        uint32_t v = 0;
        for (uint32_t length = 1; length <= kLongestCode; ++length) {
            v |= Bit() << (length - 1);
            for (int c = 0; c < 16; ++c)
                if (kCodeLengths[tree.set][c] == length && kCodeValues[tree.set][c] == v)
                    return tree.map[c];
        }
        ADD_FAILURE() << "no code of set " << int{tree.set} << " matches";
        return 0;
    }
};

CodeTree RandomTree(std::mt19937& rng, int set) {
    CodeTree tree;
    tree.set = static_cast<uint8_t>(set);
    std::shuffle(tree.map, tree.map + 16, rng);
    tree.BuildDecode();
    return tree;
}

// The doubling build against the per-code build: every set with the
// identity map, then random maps.
TEST(FillFastPath, TreeLookupsMatchThePerCodeBuild) {
    std::mt19937 rng(7);
    for (int round = 0; round < 320; ++round) {
        CodeTree tree = round < 16 ? CodeTree{} : RandomTree(rng, 0);
        tree.set = static_cast<uint8_t>(round % kCodeSetCount);
        tree.BuildDecode();
        CodeTree fast = tree;
        std::memset(fast.decode, 0xAA, sizeof fast.decode);
        BuildTreeLookup(fast);
        ASSERT_EQ(std::memcmp(fast.decode, tree.decode, sizeof tree.decode), 0) << round;
    }
}

constexpr uint32_t kCapacity = 1000;
constexpr uint8_t kUntouched = 0xEE;

// A fill of n values with the given fill flag, then random words (all ones
// where `ones`: with sets 13-15 every value then takes the longest codes);
// few words make the fill run past the end of the data. The plain reader
// starts after the length field and the flag.
struct RandomFill {
    std::vector<uint8_t> data;
    BitReader reader;
    PlainBits plain;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kCapacity + 64, kUntouched);
    Bundle bundle;

    static std::vector<uint8_t> Stream(std::mt19937& rng, uint32_t n, bool flag, uint32_t words,
                                       bool ones) {
        Bits bits;
        bits.Put(n, 10);
        bits.PutBit(flag);
        for (uint32_t k = 0; k < 2 * words; ++k)
            bits.Put((rng() | (ones ? 0xFFFF : 0)) & 0xFFFF, 16);
        return bits.Bytes();
    }
    RandomFill(std::mt19937& rng, uint32_t n, bool flag, uint32_t words, bool ones)
        : data(Stream(rng, n, flag, words, ones)),
          reader(data.data(), static_cast<uint32_t>(data.size())),
          plain{data, 11} {
        bundle.data = bytes.data();
        bundle.capacity = kCapacity;
        bundle.width = 10;
    }
};

// Short fills take the plain loop, long ones the grouped lookups; the trees
// change between fills, sometimes only in their map, so cached groups of an
// earlier tree must not be used. Types 12-15 repeat the last type 4, 8, 12
// or 32 times, cut at the fill's end.
TEST(FillFastPath, BlockTypesMatchThePlainDecoder) {
    std::mt19937 rng(6);
    CodeTree tree = RandomTree(rng, 15);
    for (int round = 0; round < 600; ++round) {
        if (round % 3 == 2) {
            std::swap(tree.map[rng() % 16], tree.map[rng() % 16]);
        } else {
            tree = RandomTree(rng, round % kCodeSetCount);
        }
        // Skewed maps make long runs of short literal codes (as skips are).
        if (round % 4 == 0) std::swap(tree.map[0], *std::find(tree.map, tree.map + 16, 0));
        tree.BuildDecode();
        const uint32_t n = round % 5 == 0 ? 1 + rng() % 80 : 60 + rng() % (kCapacity - 59);
        RandomFill f(rng, n, false, round % 7 == 0 ? rng() % 8 : 300, round % 8 == 7);
        f.bundle.tree = tree;
        uint32_t faults = 0;
        ASSERT_EQ(FillBlockTypes(f.bundle, f.reader, &faults), FillResult::kFilled);
        std::vector<uint8_t> expected;
        bool overrun = false;
        while (expected.size() < n) {
            const uint32_t s = f.plain.Symbol(tree);
            const uint32_t count = s < 12 ? 1 : std::vector<uint32_t>{4, 8, 12, 32}[s - 12];
            const uint8_t v = s < 12             ? static_cast<uint8_t>(s)
                              : expected.empty() ? 0
                                                 : expected.back();
            overrun = overrun || count > n - expected.size();
            expected.resize(std::min<size_t>(n, expected.size() + count), v);
        }
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), f.bytes.begin())) << round;
        ASSERT_TRUE(std::all_of(f.bytes.begin() + n, f.bytes.end(), [](uint8_t v) {
            return v == kUntouched;
        })) << round;
        EXPECT_EQ((faults & kFaultFillOverrun) != 0, overrun) << round;
        ASSERT_EQ(f.reader.ConsumedBits(), f.plain.pos) << round;
    }
}

// Colours of both versions: every high-nibble tree and the low tree random,
// the previous high nibble carried in and out, fill flag 0 and 1.
TEST(FillFastPath, ColoursMatchThePlainDecoder) {
    std::mt19937 rng(66);
    for (int round = 0; round < 300; ++round) {
        const bool longest = round % 6 == 3;
        auto set = [&] { return static_cast<int>(longest ? 13 + rng() % 3 : rng() % 16); };
        CodeTree high_trees[16];
        for (auto& t : high_trees) t = RandomTree(rng, set());
        const bool old_version = round % 2 == 1, flag = round % 9 == 0;
        const uint32_t n = round % 4 == 0 ? 1 + rng() % 9 : 1 + rng() % kCapacity;
        RandomFill f(rng, n, flag, round % 5 == 0 ? rng() % 6 : 600, longest);
        f.bundle.tree = RandomTree(rng, set());
        const uint32_t start_high = rng() % 16;
        uint32_t high = start_high, plain_high = start_high;
        ASSERT_EQ(FillColours(f.bundle, high_trees, &high, old_version, f.reader),
                  FillResult::kFilled);
        std::vector<uint8_t> expected;
        for (uint32_t i = 0; i < (flag ? 1 : n); ++i) {
            plain_high = f.plain.Symbol(high_trees[plain_high]);
            const uint32_t v = plain_high * 16 + f.plain.Symbol(f.bundle.tree);
            const uint32_t stored = !old_version ? v : (v & 0x80) ? 128 - (v & 0x7F) : 128 + v;
            expected.push_back(static_cast<uint8_t>(stored));
        }
        if (flag) expected.resize(n, expected[0]);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), f.bytes.begin())) << round;
        ASSERT_EQ(f.bytes[n], kUntouched) << round;
        EXPECT_EQ(high, plain_high) << round;
        ASSERT_EQ(f.reader.ConsumedBits(), f.plain.pos) << round;
    }
}

// Fill lengths around the seven offsets one refill serves, and long ones;
// the lookup built from the tree as the plane decoder builds it.
TEST(FillFastPath, MotionOffsetsMatchThePlainDecoder) {
    std::mt19937 rng(666);
    for (int round = 0; round < 400; ++round) {
        CodeTree tree = RandomTree(rng, round % kCodeSetCount);
        if (round % 10 == 9) {  // a malformed map: offset 0 for two codes
            tree.map[rng() % 16] = 0;
            tree.BuildDecode();
        }
        const uint32_t n = round % 2 ? 1 + round / 2 % 16 : 1 + rng() % kCapacity;
        RandomFill f(rng, n, false, round % 5 == 0 ? rng() % 6 : 300, round % 8 == 7);
        f.bundle.tree = tree;
        ASSERT_EQ(FillMotion(f.bundle, MotionLookup(tree), f.reader), FillResult::kFilled);
        for (uint32_t i = 0; i < n; ++i) {
            const int m = static_cast<int>(f.plain.Symbol(tree));
            ASSERT_EQ(static_cast<int8_t>(f.bytes[i]), m && f.plain.Bit() ? -m : m) << round;
        }
        ASSERT_EQ(f.bytes[n], kUntouched) << round;
        ASSERT_EQ(f.reader.ConsumedBits(), f.plain.pos) << round;
    }
}

// DC groups of every width (the random 4-bit fields), both bundles, partial
// last groups. The DC fill has no flag: that bit starts the first value.
TEST(FillFastPath, DcValuesMatchThePlainDecoder) {
    std::mt19937 rng(6666);
    for (int round = 0; round < 400; ++round) {
        const bool is_signed = round % 2 == 1;
        const uint32_t n = round % 3 ? 1 + rng() % 40 : 1 + rng() % (kCapacity / 2);
        RandomFill f(rng, n, false, round % 5 == 0 ? rng() % 10 : 300, round % 8 == 7);
        f.bundle.capacity = kCapacity / 2;
        ASSERT_EQ(FillDc(f.bundle, is_signed, f.reader), FillResult::kFilled);
        f.plain.pos = 10;
        uint32_t value = f.plain.Read(is_signed ? 10 : 11);
        if (is_signed && value && f.plain.Bit()) value = 0u - value;
        std::vector<uint16_t> expected{static_cast<uint16_t>(value)};
        while (expected.size() < n) {
            const int bits = static_cast<int>(f.plain.Read(4));
            for (int j = 0; j < 8 && expected.size() < n; ++j) {
                const uint32_t m = bits ? f.plain.Read(bits) : 0;
                if (m) value = f.plain.Bit() ? value - m : value + m;
                expected.push_back(static_cast<uint16_t>(value));
            }
        }
        std::vector<uint16_t> words(n + 1);
        std::memcpy(words.data(), f.bytes.data(), 2 * words.size());
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), words.begin())) << round;
        ASSERT_EQ(words[n], 0xEEEE) << round;
        ASSERT_EQ(f.reader.ConsumedBits(), f.plain.pos) << round;
    }
}

}  // namespace
}  // namespace vemo::video
