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
    uint64_t pos = 0;
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

// The doubling build against the per-code build, every set with the
// identity map and random ones.
TEST(FillFastPath, TreeLookupsMatchThePerCodeBuild) {
    std::mt19937 rng(7);
    for (int round = 0; round < 16 * 20; ++round) {
        CodeTree tree = round < 16 ? CodeTree{} : RandomTree(rng, round % kCodeSetCount);
        tree.set = static_cast<uint8_t>(round % kCodeSetCount);
        tree.BuildDecode();
        CodeTree fast = tree;
        std::memset(fast.decode, 0xAA, sizeof fast.decode);
        BuildTreeLookup(fast);
        ASSERT_EQ(std::memcmp(fast.decode, tree.decode, sizeof tree.decode), 0) << round;
    }
}

// A fill of n values (no fill flag) followed by `words` random words; few
// words make the fill run past the end of the data.
std::vector<uint8_t> FillStream(std::mt19937& rng, uint32_t n, uint32_t words) {
    Bits bits;
    bits.Put(n, 10);
    bits.PutBit(0);
    for (uint32_t k = 0; k < words; ++k) bits.Put(rng() & 0xFFFF, 16), bits.Put(rng() & 0xFFFF, 16);
    return bits.Bytes();
}

constexpr uint32_t kCapacity = 1000;
constexpr uint8_t kUntouched = 0xEE;

struct Buffer {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kCapacity + 64, kUntouched);
    Bundle bundle;
    Buffer() {
        bundle.data = bytes.data();
        bundle.capacity = kCapacity;
        bundle.width = 10;
    }
};

// Plain block-type fill: types 0-11, repeats 12-15 of the last type, a
// repeat cut at the fill's end.
std::vector<uint8_t> PlainTypes(PlainBits& in, const CodeTree& tree, uint32_t n, bool* overrun) {
    static const uint32_t kRepeat[4] = {4, 8, 12, 32};
    std::vector<uint8_t> out;
    uint8_t last = 0;
    while (out.size() < n) {
        const uint32_t s = in.Symbol(tree);
        if (s < 12) {
            out.push_back(last = static_cast<uint8_t>(s));
            continue;
        }
        for (uint32_t r = 0; r < kRepeat[s - 12]; ++r) {
            if (out.size() == n) {
                *overrun = true;
                break;
            }
            out.push_back(last);
        }
    }
    return out;
}

// Short fills take the plain loop, long ones the grouped lookups, and the
// trees change between fills (sometimes only in their map) so that cached
// groups of an earlier tree must not be used.
TEST(FillFastPath, BlockTypesMatchThePlainDecoder) {
    std::mt19937 rng(6);
    CodeTree previous = RandomTree(rng, 15);
    for (int round = 0; round < 600; ++round) {
        CodeTree tree = round % 3 == 2 ? previous : RandomTree(rng, round % kCodeSetCount);
        if (round % 3 == 2) std::swap(tree.map[rng() % 16], tree.map[rng() % 16]);
        // Skewed maps make long runs of short literal codes (as skips are).
        if (round % 4 == 0) std::swap(tree.map[0], *std::find(tree.map, tree.map + 16, 0));
        tree.BuildDecode();
        previous = tree;
        const uint32_t n = round % 5 == 0 ? 1 + rng() % 80 : 60 + rng() % (kCapacity - 59);
        const uint32_t words = round % 7 == 0 ? rng() % 8 : 300;
        const std::vector<uint8_t> data = FillStream(rng, n, words);
        BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
        Buffer b;
        b.bundle.tree = tree;
        uint32_t faults = 0;
        ASSERT_EQ(FillBlockTypes(b.bundle, reader, &faults), FillResult::kFilled);
        PlainBits plain{data};
        plain.pos = 11;
        bool overrun = false;
        const std::vector<uint8_t> expected = PlainTypes(plain, tree, n, &overrun);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), b.bytes.begin())) << round;
        ASSERT_TRUE(std::all_of(b.bytes.begin() + n, b.bytes.end(), [](uint8_t v) {
            return v == kUntouched;
        })) << round;
        EXPECT_EQ((faults & kFaultFillOverrun) != 0, overrun) << round;
        ASSERT_EQ(reader.ConsumedBits(), plain.pos) << round;
    }
}

// Colours of both versions: every high-nibble tree and the low tree random,
// the previous high nibble carried in and out, fill flag 0 and 1. Some
// streams are all ones: with sets 13-15 every colour then takes the longest
// codes, 14 bits.
TEST(FillFastPath, ColoursMatchThePlainDecoder) {
    std::mt19937 rng(66);
    for (int round = 0; round < 300; ++round) {
        CodeTree high_trees[16];
        auto set = [&] { return static_cast<int>(round % 6 == 3 ? 13 + rng() % 3 : rng() % 16); };
        for (auto& t : high_trees) t = RandomTree(rng, set());
        const CodeTree low = RandomTree(rng, set());
        const bool old_version = round % 2 == 1;
        const bool flag = round % 9 == 0;
        const uint32_t n = round % 4 == 0 ? 1 + rng() % 9 : 1 + rng() % kCapacity;
        Bits bits;
        bits.Put(n, 10);
        bits.PutBit(flag);
        const uint32_t ones = round % 6 == 3 ? 0xFFFF : 0;
        for (uint32_t k = 0, words = round % 5 == 0 ? rng() % 6 : 600; k < words; ++k)
            bits.Put((rng() | ones) & 0xFFFF, 16), bits.Put((rng() | ones) & 0xFFFF, 16);
        const std::vector<uint8_t> data = bits.Bytes();
        BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
        Buffer b;
        b.bundle.tree = low;
        const uint32_t start_high = rng() % 16;
        uint32_t high = start_high;
        ASSERT_EQ(FillColours(b.bundle, high_trees, &high, old_version, reader),
                  FillResult::kFilled);
        PlainBits plain{data};
        plain.pos = 11;
        uint32_t plain_high = start_high;
        std::vector<uint8_t> expected;
        for (uint32_t i = 0; i < (flag ? 1 : n); ++i) {
            plain_high = plain.Symbol(high_trees[plain_high]);
            const uint32_t v = plain_high * 16 + plain.Symbol(low);
            const uint32_t stored = !old_version ? v : (v & 0x80) ? 128 - (v & 0x7F) : 128 + v;
            expected.push_back(static_cast<uint8_t>(stored));
        }
        if (flag) expected.resize(n, expected[0]);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), b.bytes.begin())) << round;
        ASSERT_EQ(b.bytes[n], kUntouched) << round;
        EXPECT_EQ(high, plain_high) << round;
        ASSERT_EQ(reader.ConsumedBits(), plain.pos) << round;
    }
}

// A fill's length field and flag 0, then random words (or all ones, which
// with the longest codes takes the most bits per value); few words make the
// fill run past the end of the data.
std::vector<uint8_t> RandomFill(std::mt19937& rng, uint32_t n, uint32_t words, bool ones) {
    Bits bits;
    bits.Put(n, 10);
    bits.PutBit(0);
    for (uint32_t k = 0; k < words; ++k)
        bits.Put((rng() | (ones ? 0xFFFF : 0)) & 0xFFFF, 16), bits.Put(rng() & 0xFFFF, 16);
    return bits.Bytes();
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
        const std::vector<uint8_t> data =
            RandomFill(rng, n, round % 5 == 0 ? rng() % 6 : 300, round % 8 == 7);
        BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
        Buffer b;
        b.bundle.tree = tree;
        ASSERT_EQ(FillMotion(b.bundle, MotionLookup(tree), reader), FillResult::kFilled);
        PlainBits plain{data};
        plain.pos = 11;
        for (uint32_t i = 0; i < n; ++i) {
            const int m = static_cast<int>(plain.Symbol(tree));
            const int v = m && plain.Bit() ? -m : m;
            ASSERT_EQ(static_cast<int8_t>(b.bytes[i]), v) << round << " at " << i;
        }
        ASSERT_EQ(b.bytes[n], kUntouched) << round;
        ASSERT_EQ(reader.ConsumedBits(), plain.pos) << round;
    }
}

// DC groups of every width (the random 4-bit fields), both bundles, partial
// last groups.
TEST(FillFastPath, DcValuesMatchThePlainDecoder) {
    std::mt19937 rng(6666);
    for (int round = 0; round < 400; ++round) {
        const bool is_signed = round % 2 == 1;
        const uint32_t n = round % 3 ? 1 + rng() % 40 : 1 + rng() % 500;
        const std::vector<uint8_t> data =
            RandomFill(rng, n, round % 5 == 0 ? rng() % 10 : 300, round % 8 == 7);
        BitReader reader(data.data(), static_cast<uint32_t>(data.size()));
        std::vector<uint16_t> words(kCapacity / 2 + 8, 0xEEEE);
        Bundle bundle;
        bundle.data = words.data();
        bundle.capacity = kCapacity / 2;
        bundle.width = 10;
        // The data's fill flag bit is the first bit of the first value here.
        ASSERT_EQ(FillDc(bundle, is_signed, reader), FillResult::kFilled);
        PlainBits plain{data};
        plain.pos = 10;
        uint32_t value = is_signed ? plain.Read(10) : plain.Read(11);
        if (is_signed && value && plain.Bit()) value = 0u - value;
        std::vector<uint16_t> expected{static_cast<uint16_t>(value)};
        while (expected.size() < n) {
            const int bits = static_cast<int>(plain.Read(4));
            for (int j = 0; j < 8 && expected.size() < n; ++j) {
                const uint32_t m = bits ? plain.Read(bits) : 0;
                if (m) value = plain.Bit() ? value - m : value + m;
                expected.push_back(static_cast<uint16_t>(value));
            }
        }
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), words.begin())) << round;
        ASSERT_EQ(words[n], 0xEEEE) << round;
        ASSERT_EQ(reader.ConsumedBits(), plain.pos) << round;
    }
}

}  // namespace
}  // namespace vemo::video
