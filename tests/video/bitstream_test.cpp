// Bit reader, code sets, code trees, bundle fillers, coefficient and residue
// lists, quantiser tables and the transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "plane_builder.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

using test::Bits;

struct Stream {
    std::vector<uint8_t> bytes;
    BitReader reader;
    explicit Stream(const Bits& bits)
        : bytes(bits.Bytes()), reader(bytes.data(), static_cast<uint32_t>(bytes.size())) {}
};

// The bits of a byte string one at a time (zeros past its end).
struct ModelBits {
    const std::vector<uint8_t>& bytes;
    uint64_t pos = 0;
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos)
            if (pos / 8 < bytes.size()) v |= ((bytes[pos / 8] >> (pos % 8)) & 1u) << i;
        return v;
    }
};

// ---- bit reader ------------------------------------------------------------

TEST(VideoBitReader, ReadsLeastSignificantBitFirstAcrossWords) {
    const uint8_t data[8] = {0xB5, 0x00, 0x00, 0x80, 0x03, 0, 0, 0};
    BitReader r(data, 8);
    EXPECT_EQ(r.ReadBit(), 1u);
    EXPECT_EQ(r.Read(3), 0x2u);  // bits 1-3 of 0xB5 = 010
    EXPECT_EQ(r.Read(4), 0xBu);
    EXPECT_EQ(r.Read(23), 0u);
    // One bit left in word 0 (bit 31 = 1), then word 1 starts with 11.
    EXPECT_EQ(r.Read(3), 0x7u);
    EXPECT_EQ(r.NextWordOffset(), 8u);
}

TEST(VideoBitReader, PeekPastCachedBitsDoesNotMoveTheNextPlane) {
    std::vector<uint8_t> data(12, 0xFF);
    BitReader r(data.data(), 12);
    r.Read(25);
    r.Read(4);
    EXPECT_EQ(r.NextWordOffset(), 4u);
    EXPECT_EQ(r.Peek(7), 0x7Fu);  // reaches into word 1 ...
    r.Skip(3);                    // ... but the code taken ends with word 0
    EXPECT_EQ(r.NextWordOffset(), 4u);
    r.Read(1);  // the first bit of word 1 counts
    EXPECT_EQ(r.NextWordOffset(), 8u);
}

TEST(VideoBitReader, BitsPastTheEndReadAsZero) {
    const uint8_t data[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0x81};
    BitReader r(data, 5);
    EXPECT_EQ(r.Read(16), 0xFFFFu);
    EXPECT_EQ(r.Read(16), 0xFFFFu);
    EXPECT_EQ(r.Read(8), 0x81u);
    EXPECT_FALSE(r.PastEnd());
    EXPECT_EQ(r.Read(20), 0u);
    EXPECT_EQ(r.Read(20), 0u);
    EXPECT_TRUE(r.PastEnd());
    BitReader empty(nullptr, 0);
    EXPECT_EQ(empty.Read(9), 0u);
    EXPECT_TRUE(empty.PastEnd());
}

TEST(VideoBitReader, EveryReadMatchesTheBitsAcrossRefillsAndTheEnd) {
    // Sizes around the eight-byte refill and its byte-at-a-time tail; reads
    // of every width mixed with peeks and explicit refills.
    std::mt19937 rng(3);
    for (uint32_t size = 0; size < 40; ++size) {
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        for (int round = 0; round < 20; ++round) {
            BitReader r(bytes.data(), size);
            ModelBits model{bytes};
            while (model.pos < size * 8 + 70) {
                const int n = 1 + static_cast<int>(rng() % 25);
                const uint64_t at = model.pos;
                switch (rng() % 4) {
                    case 0:
                        ASSERT_EQ(r.ReadBit(), model.Get(1)) << size << " at " << at;
                        break;
                    case 1:
                        r.Refill();
                        ASSERT_GE(r.Available(), 56u);
                        [[fallthrough]];
                    case 2: {
                        const uint32_t want = model.Get(n);
                        ASSERT_EQ(r.Peek(n), want) << size << " at " << at;
                        r.Skip(n);
                        break;
                    }
                    default:
                        ASSERT_EQ(r.Read(n), model.Get(n)) << size << " at " << at;
                }
                ASSERT_EQ(r.ConsumedBits(), model.pos);
                ASSERT_EQ(r.NextWordOffset(), (model.pos + 31) / 32 * 4);
                ASSERT_EQ(r.PastEnd(), model.pos > uint64_t{size} * 8);
            }
        }
    }
}

// ---- code sets -------------------------------------------------------------

TEST(VideoCodeSets, EveryLookupEntryDecodesTheCodeItStartsWith) {
    for (int set = 0; set < kCodeSetCount; ++set) {
        int longest = 0;
        for (int code = 0; code < 16; ++code)
            longest = std::max<int>(longest, kCodeLengths[set][code]);
        EXPECT_EQ(longest, kCodeLongest[set]) << "set " << set;
        for (int bits = 0; bits < kCodeLookupSize; ++bits) {
            const int entry = kCodeLookup[set][bits];
            const int length = entry >> 4, code = entry & 15;
            ASSERT_GE(length, 1) << "set " << set << " bits " << bits << " match no code";
            EXPECT_EQ(length, kCodeLengths[set][code]);
            EXPECT_EQ(bits & ((1 << length) - 1), kCodeValues[set][code])
                << "set " << set << " bits " << bits;
        }
    }
}

TEST(VideoCodeSets, DecodeSymbolConsumesOnlyTheCodeLength) {
    // Set 7, code 3 = 5 bits 0x03; map reversed.
    CodeTree tree;
    tree.set = 7;
    for (int i = 0; i < 16; ++i) tree.map[i] = static_cast<uint8_t>(15 - i);
    tree.BuildDecode();
    Bits bits;
    bits.Put(0x03, 5);
    bits.Put(0, 1);  // code 0 (1 bit)
    Stream s(bits);
    EXPECT_EQ(DecodeSymbol(s.reader, tree), 12u);
    EXPECT_EQ(s.reader.ConsumedBits(), 5u);
    EXPECT_EQ(DecodeSymbol(s.reader, tree), 15u);
    EXPECT_EQ(s.reader.ConsumedBits(), 6u);
}

// ---- code trees ------------------------------------------------------------

TEST(VideoCodeTree, SetZeroIsTheIdentityAndReadsFourBits) {
    Bits bits;
    bits.Put(0, 4);
    bits.Put(0xF, 4);
    Stream s(bits);
    uint32_t faults = 0;
    const CodeTree t = ReadCodeTree(s.reader, &faults);
    EXPECT_EQ(t.set, 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(t.map[i], i);
    EXPECT_EQ(s.reader.ConsumedBits(), 4u);
}

TEST(VideoCodeTree, ExplicitListsAppendTheRestInOrder) {
    Bits bits;
    bits.Put(5, 4);
    bits.PutBit(1);
    bits.Put(7, 3);
    const int listed[8] = {15, 3, 9, 0, 12, 7, 1, 4};
    for (int v : listed) bits.Put(static_cast<uint32_t>(v), 4);
    Stream s(bits);
    uint32_t faults = 0;
    const CodeTree t = ReadCodeTree(s.reader, &faults);
    const uint8_t want[16] = {15, 3, 9, 0, 12, 7, 1, 4, 2, 5, 6, 8, 10, 11, 13, 14};
    EXPECT_EQ(t.set, 5);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(t.map[i], want[i]);
    EXPECT_EQ(s.reader.ConsumedBits(), 4u + 1 + 3 + 32);
    EXPECT_EQ(faults, 0u);
}

TEST(VideoCodeTree, ExplicitListNamingAValueTwiceStaysSixteenLong) {
    Bits bits;
    bits.Put(2, 4);
    bits.PutBit(1);
    bits.Put(7, 3);
    for (int i = 0; i < 8; ++i) bits.Put(6, 4);  // 6 eight times
    bits.Put(0xFFFF, 16);
    Stream s(bits);
    uint32_t faults = 0;
    const CodeTree t = ReadCodeTree(s.reader, &faults);
    EXPECT_NE(faults & kFaultTreeDuplicate, 0u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(t.map[i], 6);
    const uint8_t rest[8] = {0, 1, 2, 3, 4, 5, 7, 8};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(t.map[8 + i], rest[i]);
}

TEST(VideoCodeTree, MergeShuffleReadsBetween32And49BitsAtDepth3) {
    // All zeros: every merge takes run A first; the identity comes back.
    {
        Bits bits;
        bits.Put(9, 4);
        bits.PutBit(0);
        bits.Put(3, 2);
        for (int i = 0; i < 64; ++i) bits.PutBit(0);
        Stream s(bits);
        uint32_t faults = 0;
        const CodeTree t = ReadCodeTree(s.reader, &faults);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(t.map[i], i);
        EXPECT_EQ(s.reader.ConsumedBits(), 7u + 32);
    }
    // Alternating takes keep both runs alive longest: 8 + 12 + 14 + 15 bits.
    {
        Bits bits;
        bits.Put(9, 4);
        bits.PutBit(0);
        bits.Put(3, 2);
        for (int i = 0; i < 64; ++i) bits.PutBit(i & 1);
        Stream s(bits);
        uint32_t faults = 0;
        const CodeTree t = ReadCodeTree(s.reader, &faults);
        EXPECT_EQ(s.reader.ConsumedBits(), 7u + 49);
        bool seen[16] = {};
        for (int i = 0; i < 16; ++i) seen[t.map[i]] = true;
        for (bool b : seen) EXPECT_TRUE(b);
    }
    // One pass, bits 1 then 0...: pairs (0,1) become (1,0) where the bit is 1.
    {
        Bits bits;
        bits.Put(4, 4);
        bits.PutBit(0);
        bits.Put(0, 2);
        const int take_b[8] = {1, 0, 0, 1, 0, 0, 0, 1};
        for (int b : take_b) bits.PutBit(static_cast<uint32_t>(b));
        Stream s(bits);
        uint32_t faults = 0;
        const CodeTree t = ReadCodeTree(s.reader, &faults);
        const uint8_t want[16] = {1, 0, 2, 3, 4, 5, 7, 6, 8, 9, 10, 11, 12, 13, 15, 14};
        for (int i = 0; i < 16; ++i) EXPECT_EQ(t.map[i], want[i]);
        EXPECT_EQ(s.reader.ConsumedBits(), 7u + 8);
    }
}

// ---- bundle fillers ----------------------------------------------------------

struct TestBundle {
    std::vector<uint16_t> storage = std::vector<uint16_t>(1024, 0xEEEE);
    Bundle b;
    explicit TestBundle(uint32_t capacity = 600, int width = 10) {
        b.data = storage.data();
        b.capacity = capacity;
        b.width = width;
    }
};

TEST(VideoFillers, LengthFieldWidthsFollowTheCountBasis) {
    EXPECT_EQ(LengthFieldWidth(0), 9);
    EXPECT_EQ(LengthFieldWidth(1), 10);
    EXPECT_EQ(LengthFieldWidth(512), 10);
    EXPECT_EQ(LengthFieldWidth(513), 11);
    EXPECT_EQ(LengthFieldWidth(1536), 11);
    EXPECT_EQ(LengthFieldWidth(1537), 12);
    EXPECT_EQ(LengthFieldWidth(3585), 13);
    EXPECT_EQ(LengthFieldWidth(7681), 14);
    EXPECT_EQ(LengthFieldWidth(15873), 15);
    EXPECT_EQ(LengthFieldWidth(1000000), 15);
    // A 720-sample plane: 90 blocks across.
    EXPECT_EQ(LengthFieldWidth(90), 10);
    EXPECT_EQ(LengthFieldWidth(90 * 64), 13);
    EXPECT_EQ(LengthFieldWidth(90 * 8), 11);
    EXPECT_EQ(LengthFieldWidth(90 * 48), 13);
}

TEST(VideoFillers, ALengthOfZeroClosesTheBundleForThePlane) {
    Bits bits;
    bits.Put(0, 10);
    bits.Put(0x3FF, 10);
    Stream s(bits);
    TestBundle t;
    uint32_t faults = 0;
    EXPECT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kUnchanged);
    EXPECT_TRUE(t.b.closed);
    EXPECT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kUnchanged);
    EXPECT_EQ(s.reader.ConsumedBits(), 10u);  // no second length field
}

TEST(VideoFillers, AFillIsReadOnlyWhenTheBundleIsUsedUp) {
    Bits bits;
    bits.Put(3, 10);
    bits.PutBit(1);
    bits.Put(6, 4);
    bits.Put(2, 10);
    bits.PutBit(1);
    bits.Put(9, 4);
    Stream s(bits);
    TestBundle t;
    uint32_t faults = 0;
    EXPECT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kFilled);
    // Fill flag: exactly the length field, the flag and one value.
    EXPECT_EQ(s.reader.ConsumedBits(), 15u);
    EXPECT_EQ(t.b.end, 3u);
    t.b.read = 2;
    EXPECT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kUnchanged);
    EXPECT_EQ(s.reader.ConsumedBits(), 15u);
    t.b.read = 3;
    EXPECT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kFilled);
    EXPECT_EQ(t.b.bytes()[0], 9);
    EXPECT_EQ(t.b.bytes()[1], 9);
}

TEST(VideoFillers, BlockTypeRepeatsStoreTheLastValue) {
    Bits bits;
    bits.Put(4 + 1 + 8 + 2, 10);
    bits.PutBit(0);
    bits.Put(12, 4);  // 4 x last (0)
    bits.Put(7, 4);
    bits.Put(13, 4);  // 8 x 7
    bits.Put(5, 4);
    bits.Put(3, 4);
    Stream s(bits);
    TestBundle t;
    uint32_t faults = 0;
    ASSERT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kFilled);
    const uint8_t want[15] = {0, 0, 0, 0, 7, 7, 7, 7, 7, 7, 7, 7, 7, 5, 3};
    for (int i = 0; i < 15; ++i) EXPECT_EQ(t.b.bytes()[i], want[i]) << i;
    EXPECT_EQ(faults, 0u);
}

TEST(VideoFillers, MalformedFillsStayInsideTheBuffer) {
    // A repeat of 32 into a fill of 5 stops at 5.
    {
        Bits bits;
        bits.Put(5, 10);
        bits.PutBit(0);
        bits.Put(4, 4);
        bits.Put(15, 4);
        Stream s(bits);
        TestBundle t;
        uint32_t faults = 0;
        ASSERT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kFilled);
        EXPECT_NE(faults & kFaultFillOverrun, 0u);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(t.b.bytes()[i], 4);
        EXPECT_EQ(t.b.bytes()[5], 0xEE);
    }
    // A length above the capacity stores nothing.
    {
        Bits bits;
        bits.Put(601, 10);
        bits.PutBit(1);
        bits.Put(4, 4);
        Stream s(bits);
        TestBundle t(600);
        uint32_t faults = 0;
        EXPECT_EQ(FillBlockTypes(t.b, s.reader, &faults), FillResult::kOverflow);
        EXPECT_EQ(t.b.bytes()[0], 0xEE);
        EXPECT_TRUE(t.b.Exhausted());
    }
}

TEST(VideoFillers, ColoursCarryThePreviousHighNibble) {
    CodeTree high[16];
    high[3].set = 1;  // after a high nibble of 3 the next one uses set 1
    high[3].BuildDecode();
    Bits bits;
    bits.Put(2, 10);
    bits.PutBit(0);
    bits.Put(3, 4);  // h = 3 (tree 0: set 0)
    bits.Put(10, 4);
    bits.Put(0x01, 4);  // tree 3, set 1: code 1 = 4 bits 0x01 -> h = 1
    bits.Put(2, 4);
    bits.Put(1, 10);  // next fill: previous high nibble is still 1
    bits.PutBit(1);
    bits.Put(6, 4);
    bits.Put(5, 4);
    Stream s(bits);
    TestBundle t;
    uint32_t previous = 0;
    ASSERT_EQ(FillColours(t.b, high, &previous, false, s.reader), FillResult::kFilled);
    EXPECT_EQ(t.b.bytes()[0], 0x3A);
    EXPECT_EQ(t.b.bytes()[1], 0x12);
    EXPECT_EQ(previous, 1u);
    t.b.read = t.b.end;
    ASSERT_EQ(FillColours(t.b, high, &previous, false, s.reader), FillResult::kFilled);
    EXPECT_EQ(t.b.bytes()[0], 0x65);
    EXPECT_EQ(previous, 6u);
}

TEST(VideoFillers, OlderVersionsStoreColoursAroundTheMiddle) {
    CodeTree high[16];
    Bits bits;
    bits.Put(4, 10);
    bits.PutBit(0);
    for (uint32_t v : {0x00u, 0x05u, 0x85u, 0x80u}) {
        bits.Put(v >> 4, 4);
        bits.Put(v & 15, 4);
    }
    Stream s(bits);
    TestBundle t;
    uint32_t previous = 0;
    ASSERT_EQ(FillColours(t.b, high, &previous, true, s.reader), FillResult::kFilled);
    EXPECT_EQ(t.b.bytes()[0], 128);
    EXPECT_EQ(t.b.bytes()[1], 133);
    EXPECT_EQ(t.b.bytes()[2], 123);
    EXPECT_EQ(t.b.bytes()[3], 128);
}

TEST(VideoFillers, MotionOffsetsAreSignedAndZeroHasNoSignBit) {
    Bits bits;
    bits.Put(3, 10);
    bits.PutBit(0);
    bits.Put(15, 4);
    bits.PutBit(1);
    bits.Put(0, 4);
    bits.Put(2, 4);
    bits.PutBit(0);
    bits.Put(2, 10);  // fill flag with a negative value
    bits.PutBit(1);
    bits.Put(7, 4);
    bits.PutBit(1);
    Stream s(bits);
    TestBundle t;
    ASSERT_EQ(FillMotion(t.b, s.reader), FillResult::kFilled);
    EXPECT_EQ(static_cast<int8_t>(t.b.bytes()[0]), -15);
    EXPECT_EQ(t.b.bytes()[1], 0);
    EXPECT_EQ(t.b.bytes()[2], 2);
    t.b.read = t.b.end;
    ASSERT_EQ(FillMotion(t.b, s.reader), FillResult::kFilled);
    EXPECT_EQ(static_cast<int8_t>(t.b.bytes()[1]), -7);
    EXPECT_EQ(s.reader.ConsumedBits(), bits.count());
}

TEST(VideoFillers, DcGroupsOfEightWithRunningValue) {
    // Signed: first -5, then a group of width 0 (repeat) and a group of
    // width 15 with steps up to 32767.
    Bits bits;
    bits.Put(12, 10);
    bits.Put(5, 10);
    bits.PutBit(1);
    bits.Put(0, 4);  // values 2-9 repeat -5
    bits.Put(15, 4);
    bits.Put(32767, 15);
    bits.PutBit(0);
    bits.Put(0, 15);  // step 0: no sign bit
    bits.Put(10, 15);
    bits.PutBit(1);
    Stream s(bits);
    TestBundle t;
    ASSERT_EQ(FillDc(t.b, true, s.reader), FillResult::kFilled);
    const uint16_t* v = t.b.words();
    EXPECT_EQ(static_cast<int16_t>(v[0]), -5);
    for (int i = 1; i < 9; ++i) EXPECT_EQ(static_cast<int16_t>(v[i]), -5);
    EXPECT_EQ(static_cast<int16_t>(v[9]), 32762);
    EXPECT_EQ(static_cast<int16_t>(v[10]), 32762);
    EXPECT_EQ(static_cast<int16_t>(v[11]), 32752);
    EXPECT_EQ(s.reader.ConsumedBits(), bits.count());
    // Unsigned: an 11-bit start value; steps wrap at 16 bits.
    Bits b2;
    b2.Put(2, 10);
    b2.Put(2047, 11);
    b2.Put(15, 4);
    b2.Put(32767, 15);
    b2.PutBit(0);
    Stream s2(b2);
    TestBundle t2;
    ASSERT_EQ(FillDc(t2.b, false, s2.reader), FillResult::kFilled);
    EXPECT_EQ(t2.b.words()[0], 2047);
    EXPECT_EQ(t2.b.words()[1], static_cast<uint16_t>(2047 + 32767));
}

// ---- coefficients and residue -------------------------------------------------

TEST(VideoCoefficients, NoPassesReadOnlyTheCount) {
    Bits bits;
    bits.Put(0, 4);
    bits.Put(0xFFFF, 16);
    Stream s(bits);
    int16_t c[64];
    for (auto& v : c) v = 77;
    ReadCoefficients(s.reader, c);
    EXPECT_EQ(c[0], 77);  // the DC is left alone
    for (int i = 1; i < 64; ++i) EXPECT_EQ(c[i], 0);
    EXPECT_EQ(s.reader.ConsumedBits(), 4u);
}

TEST(VideoCoefficients, ValuesLandAtTheirNaturalIndex) {
    // Two passes. Pass bits = 1: entries (4,0) (24,0) (44,0) skipped, (1,3)
    // coded: value of 2 bits t = 0b11 -> magnitude 3, negative.
    // Pass bits = 0: (2,3) coded with sign 0 -> +1; the rest skipped.
    Bits bits;
    bits.Put(2, 4);
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(1);
    bits.Put(3, 2);
    bits.PutBit(0);
    bits.PutBit(0);
    // second pass: (4,0) (24,0) (44,0) empty(1) (2,3) (3,3)
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(1);
    bits.PutBit(0);
    bits.PutBit(0);
    Stream s(bits);
    int16_t c[64] = {};
    ReadCoefficients(s.reader, c);
    EXPECT_EQ(c[kCoefficientScan[1]], -3);
    EXPECT_EQ(c[kCoefficientScan[2]], 1);
    EXPECT_EQ(s.reader.ConsumedBits(), bits.count());
    int nonzero = 0;
    for (int i = 1; i < 64; ++i) nonzero += c[i] != 0;
    EXPECT_EQ(nonzero, 2);
}

TEST(VideoCoefficients, GroupsPutPendingIndexesAtTheFront) {
    // One pass, bits = 0. (4,0) coded: entry becomes (8,1), group 4..7 read:
    // 4 -> value (+1), 5 -> pending, 6 -> value (-1), 7 -> pending. Then (8,1)
    // is examined again: 0. The rest 0. Pending entries are not visited in
    // this pass.
    Bits bits;
    bits.Put(1, 4);
    bits.PutBit(1);
    bits.PutBit(0);
    bits.PutBit(0);  // 4: +1
    bits.PutBit(1);  // 5 pending
    bits.PutBit(0);
    bits.PutBit(1);                              // 6: -1
    bits.PutBit(1);                              // 7 pending
    bits.PutBit(0);                              // (8,1) again
    for (int i = 0; i < 5; ++i) bits.PutBit(0);  // (24,0) (44,0) (1,3) (2,3) (3,3)
    Stream s(bits);
    int16_t c[64] = {};
    ReadCoefficients(s.reader, c);
    EXPECT_EQ(c[kCoefficientScan[4]], 1);
    EXPECT_EQ(c[kCoefficientScan[5]], 0);
    EXPECT_EQ(c[kCoefficientScan[6]], -1);
    EXPECT_EQ(s.reader.ConsumedBits(), bits.count());
}

TEST(VideoCoefficients, PendingIndexesOfAnEarlierPassComeFirstNewestFirst) {
    // Pass bits = 1: (4,0) coded, group 4..7: 4 pending, 5 -> t = 0b01 (+3),
    // 6 pending, 7 -> t = 0b10 (-2); (8,1) and the five others read 0.
    // Pass bits = 0 walks 6 then 4 (the newest front entry first): 6 gets
    // sign 1, 4 sign 0; then the six other entries read 0.
    Bits bits;
    bits.Put(2, 4);
    bits.PutBit(1);
    bits.PutBit(1);  // 4 pending
    bits.PutBit(0);
    bits.Put(1, 2);  // 5: +3
    bits.PutBit(1);  // 6 pending
    bits.PutBit(0);
    bits.Put(2, 2);  // 7: -2
    for (int i = 0; i < 6; ++i) bits.PutBit(0);
    bits.PutBit(1);
    bits.PutBit(1);  // 6: -1
    bits.PutBit(1);
    bits.PutBit(0);  // 4: +1
    for (int i = 0; i < 6; ++i) bits.PutBit(0);
    Stream s(bits);
    int16_t c[64] = {};
    ReadCoefficients(s.reader, c);
    EXPECT_EQ(c[kCoefficientScan[4]], 1);
    EXPECT_EQ(c[kCoefficientScan[5]], 3);
    EXPECT_EQ(c[kCoefficientScan[6]], -1);
    EXPECT_EQ(c[kCoefficientScan[7]], -2);
    EXPECT_EQ(s.reader.ConsumedBits(), bits.count());
}

TEST(VideoResidue, ABudgetOfZeroEndsAfterTheFirstChange) {
    // e = 2: mask 4. Walk: (4,0) 0, (24,0) 0, (44,0) 0, (0,2) 1 -> group
    // 0..3: index 0 value (sign 1 -> -4) -> 1 change > 0: stop.
    Bits bits;
    bits.Put(2, 3);
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(1);
    bits.PutBit(0);
    bits.PutBit(1);
    bits.Put(0x3FF, 10);  // never read
    Stream s(bits);
    uint8_t r[64];
    ReadResidue(s.reader, 0, r);
    EXPECT_EQ(static_cast<int8_t>(r[0]), -4);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(r[i], 0);
    EXPECT_EQ(s.reader.ConsumedBits(), 3u + 6);
}

TEST(VideoResidue, ValuesGrowAwayFromZeroAndWrapAsSignedBytes) {
    // e = 7: mask 128 first. Index 0 gets +128 (reads as -128); in the
    // next pass (mask 64) it moves away from zero: -128 - 64 = 64 (wraps).
    Bits bits;
    bits.Put(7, 3);
    bits.Put(0, 3);
    bits.PutBit(1);  // (0,2)
    bits.PutBit(0);
    bits.PutBit(0);  // index 0: +mask
    bits.PutBit(0);
    bits.PutBit(1);  // index 1: -mask -> -128
    bits.PutBit(1);  // index 2 pending
    bits.PutBit(1);  // index 3 pending
    // pass mask 64: nonzero list 0, 1 -> bits 1, 0
    bits.PutBit(1);
    bits.PutBit(0);
    // walk: front (3,3) (2,3) first: 3 coded sign 1 -> -64, 2 not coded
    bits.PutBit(1);
    bits.PutBit(1);
    bits.PutBit(0);
    // then (4,0) (24,0) (44,0) and the emptied (0,2): 0 each (empty skipped)
    bits.PutBit(0);
    bits.PutBit(0);
    bits.PutBit(0);
    Stream s(bits);
    uint8_t r[64];
    ReadResidue(s.reader, 3, r);  // the 4th change (index 3) ends it
    EXPECT_EQ(r[0], 64);
    EXPECT_EQ(static_cast<int8_t>(r[1]), -128);
    EXPECT_EQ(r[2], 0);
    EXPECT_EQ(static_cast<int8_t>(r[3]), -64);
    EXPECT_EQ(s.reader.ConsumedBits(), 3u + 10 + 2 + 2);
}

// The list codings read one bit at a time, every entry kept, as a model for
// the decoder's walk (which drops emptied entries and passes runs of 0 bits
// in one step).
struct ModelList {
    uint8_t e[160] = {};
    int front = 80, back = 80;
    // One pass; value(index) returns false to stop everything.
    template <typename F>
    bool Walk(ModelBits& r, F&& value) {
        auto group = [&](int c) {
            for (int k = c; k < c + 4; ++k)
                if (r.Get(1))
                    e[--front] = static_cast<uint8_t>(k * 4 + 3);
                else if (!value(k))
                    return false;
            return true;
        };
        for (int i = front; i < back; ++i)
            while (e[i] && r.Get(1)) {
                const int c = e[i] >> 2, mode = e[i] & 3;
                if (mode == 0) {
                    e[i] = static_cast<uint8_t>((c + 4) * 4 + 1);
                    if (!group(c)) return false;
                    continue;
                }
                if (mode == 1) {
                    e[i] = static_cast<uint8_t>(c * 4 + 2);
                    for (int step = 4; step <= 12; step += 4)
                        e[back++] = static_cast<uint8_t>((c + step) * 4 + 2);
                    continue;
                }
                e[i] = 0;
                if (mode == 2 ? !group(c) : !value(c)) return false;
                break;
            }
        return true;
    }
};

// Moves the model and the reader past the same prefix of `bits` bits.
void SkipBoth(ModelBits& model, BitReader& reader, int bits) {
    for (int left = bits; left > 0; left -= 16) {
        model.Get(std::min(left, 16));
        reader.Read(std::min(left, 16));
    }
}

// A coefficient block (natural order, index 0 left at zero) read by the model.
void ModelCoefficients(ModelBits& model, int16_t want[64]) {
    ModelList list;
    for (int c : {4, 24, 44}) list.e[list.back++] = static_cast<uint8_t>(c * 4);
    for (int c : {1, 2, 3}) list.e[list.back++] = static_cast<uint8_t>(c * 4 + 3);
    for (int bits = static_cast<int>(model.Get(4)) - 1; bits >= 0; --bits)
        list.Walk(model, [&](int k) {
            const uint32_t t = model.Get(bits + 1), top = 1u << bits;
            const uint32_t m = bits ? (t & (top - 1)) | top : 1;
            want[kCoefficientScan[k]] =
                static_cast<int16_t>(static_cast<uint16_t>((t >> bits) & 1 ? 0u - m : m));
            return true;
        });
}

TEST(VideoLists, WalksMatchABitByBitModelOnRandomStreams) {
    std::mt19937 rng(5);
    for (int round = 0; round < 3000; ++round) {
        // Sparse ones make long runs of 0 bits (every fifth stream has runs
        // longer than a reader caches); dense ones grow long lists.
        const uint32_t ones = 1 + rng() % 3;
        const uint32_t scale = round % 5 == 0 ? 32 : 4;
        std::vector<uint8_t> bytes(1 + rng() % 90);
        for (auto& b : bytes)
            for (int k = 0; k < 8; ++k) b |= static_cast<uint8_t>((rng() % scale < ones) << k);
        ModelBits model{bytes};
        ModelList list;
        BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (round % 2 == 0) {
            int16_t want[64] = {}, got[64];
            ModelCoefficients(model, want);
            ReadCoefficients(reader, got);
            got[0] = 0;
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "round " << round;
        } else {
            const uint32_t budget = rng() % 128;
            uint8_t want[64] = {}, got[64];
            for (int c : {4, 24, 44}) list.e[list.back++] = static_cast<uint8_t>(c * 4);
            list.e[list.back++] = 2;
            std::vector<int> nonzero;
            uint32_t changes = 0;
            bool go = true;
            for (uint32_t mask = 1u << model.Get(3); mask && go; mask >>= 1) {
                for (size_t j = 0, known = nonzero.size(); j < known && go; ++j) {
                    if (!model.Get(1)) continue;
                    uint8_t& v = want[nonzero[j]];
                    v = static_cast<uint8_t>(static_cast<int8_t>(v) >= 0 ? v + mask : v - mask);
                    go = ++changes <= budget;
                }
                go = go && list.Walk(model, [&](int k) {
                    want[k] = static_cast<uint8_t>(model.Get(1) ? 0u - mask : mask);
                    nonzero.push_back(k);
                    return ++changes <= budget;
                });
            }
            ReadResidue(reader, budget, got);
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "round " << round;
        }
        ASSERT_EQ(reader.ConsumedBits(), model.pos) << "round " << round;
    }
}

// Blocks in which a step after a run of 0s takes the most bits it can: a run
// of fifteen entries reading 0, the 1 that ends it, then a group whose four
// elements all take values. In the first, the pass with bits = 2 meets it at
// the start of its walk (the pass before leaves fifteen pending entries); in
// the second, the last pass meets it right after a pass that ended on a run
// of fourteen 0s. The group's values are 4-7 and +1 -1 +1 -1.
Bits PairedPassLongestStep() {
    Bits b;
    b.Put(4, 4);  // passes: value bits 4, then 3, 2 and 1
    b.PutBit(1);  // (4, group): group 4..7 pending
    b.Put(0xF, 4);
    b.PutBit(1);  // (8, 1): appends 12, 16, 20
    b.PutBit(1);  // (8, 2): group 8..11 pending
    b.Put(0xF, 4);
    b.Put(0, 5);  // (24, group), (44, group), 1, 2 and 3 read 0
    b.PutBit(1);  // (12, 2): group 12..15 pending
    b.Put(0xF, 4);
    b.PutBit(1);  // (16, 2): 16..18 pending, 19 takes a value
    b.Put(0x7, 3);
    b.Put(0, 5);
    b.PutBit(0);   // (20, 2)
    b.Put(0, 15);  // bits = 2: the fifteen pending entries read 0
    b.PutBit(1);   // (24, group)
    for (uint32_t k = 0; k < 4; ++k) b.Put(k << 1, 4);
    return b;  // the rest reads 0s
}

Bits LastPassLongestStep() {
    Bits b;
    b.Put(3, 4);  // passes: value bits 3, 2 and 1
    for (int group = 0; group < 3; ++group) {
        b.PutBit(1);  // (4|24|44, group): four values
        for (uint32_t k = 0; k < 4; ++k) b.Put(k << 1, 4);
        b.PutBit(1);  // (c + 4, 1): appends three groups
        b.PutBit(0);  // (c + 4, 2)
    }
    b.Put(0, 12);  // 1, 2, 3 and the nine appended groups
    b.PutBit(1);   // bits = 1: (8, 2), group 8..11 pending
    b.Put(0xF, 4);
    b.Put(0, 14);  // the other fourteen entries
    b.Put(0, 15);  // last pass: 11, 10, 9, 8 and eleven kept entries read 0
    b.PutBit(1);   // (52, 2)
    b.Put(0b10001000, 8);
    return b;
}

TEST(VideoLists, TheLongestStepAfterARunMatchesTheModelFromEveryCachePosition) {
    const Bits blocks[2] = {PairedPassLongestStep(), LastPassLongestStep()};
    const int first_value[2] = {24, 52};
    for (int which = 0; which < 2; ++which) {
        for (int offset = 0; offset < 64; ++offset) {
            Bits stream;
            for (int k = 0; k < offset; ++k) stream.PutBit(k % 3 == 0);
            stream.Append(blocks[which]);
            stream.Put(0, 32);
            const std::vector<uint8_t> bytes = stream.Bytes();
            ModelBits model{bytes};
            BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
            SkipBoth(model, reader, offset);
            int16_t want[64] = {}, got[64];
            ModelCoefficients(model, want);
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(want[kCoefficientScan[first_value[which] + k]],
                          which ? 1 - 2 * (k & 1) : 4 + k);
            EXPECT_EQ(ReadCodedBlock(reader, got), model.Get(4));
            got[0] = 0;
            ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << which << " at " << offset;
            ASSERT_EQ(reader.ConsumedBits(), model.pos) << which << " at " << offset;
        }
    }
}

// Coded blocks (lists, then the quantiser) of one or two passes whose groups
// read 0 in the first pass, in the last pass or in neither, each after a
// prefix of 0 to 63 bits (every cache position) and with the stream cut
// short at times (what follows the data reads as zeros), match the model:
// values, quantiser and bits consumed. A block starts with the DC alone left.
TEST(VideoLists, ShortCodedBlocksMatchTheModelFromEveryCachePosition) {
    std::mt19937 rng(41);
    for (int round = 0; round < 4000; ++round) {
        Bits stream;
        const int offset = round % 64;
        for (int k = 0; k < offset; ++k) stream.PutBit(rng() & 1);
        const uint32_t passes = round % 7 == 6 ? rng() % 16 : 1 + (round / 64) % 2;
        stream.Put(passes, 4);
        // Sparse bits keep the groups at 0; every third block lets the groups
        // of one of its passes read a 1.
        const int busy_pass = round % 3 == 0 ? static_cast<int>(rng() % 2) : -1;
        for (uint32_t pass = 0; pass < passes && pass < 2; ++pass) {
            stream.Put(static_cast<int>(pass) == busy_pass ? 1u << (rng() % 3) : 0, 3);
            for (int k = 0; k < 12; ++k) stream.PutBit(rng() % 3 == 0);
        }
        for (int k = 0; k < 40; ++k) stream.PutBit(rng() % 4 == 0);
        std::vector<uint8_t> bytes = stream.Bytes();
        if (round % 5 == 0) bytes.resize(std::max<size_t>(1, (offset + 6) / 8 + rng() % 3));
        ModelBits model{bytes};
        BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
        SkipBoth(model, reader, offset);
        int16_t want[64] = {}, got[64];
        for (auto& v : got) v = static_cast<int16_t>(rng());
        want[0] = got[0];
        ModelCoefficients(model, want);
        EXPECT_EQ(ReadCodedBlock(reader, got), model.Get(4)) << "round " << round;
        ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << "round " << round;
        ASSERT_EQ(reader.ConsumedBits(), model.pos) << "round " << round;
    }
}

// ---- quantisers and transform -------------------------------------------------

TEST(VideoQuant, TellingRows) {
    const uint32_t intra0[8] = {65536, 90901, 85627, 91511, 65536, 61146, 48768, 24862};
    const uint32_t inter0[8] = {65536, 96582, 90979, 86695, 73728, 57928, 42118, 21472};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(IntraQuantTable()[0][i], intra0[i]) << i;
        EXPECT_EQ(InterQuantTable()[0][i], inter0[i]) << i;
    }
    EXPECT_EQ(IntraQuantTable()[15][0], 2883584u);
}

TEST(VideoTransform, DcOnlyBlocksGiveDTimes32Rounded) {
    int16_t c[64] = {};
    c[0] = 1024;
    uint8_t out[64];
    InverseTransform(c, IntraQuantTable()[0], out);
    for (uint8_t v : out) EXPECT_EQ(v, 128);
    c[0] = 2048;  // 256 wraps to 0
    InverseTransform(c, IntraQuantTable()[0], out);
    for (uint8_t v : out) EXPECT_EQ(v, 0);
    c[0] = -8;  // (-256 + 127) >> 8 = -1 -> 255
    InverseTransform(c, IntraQuantTable()[0], out);
    for (uint8_t v : out) EXPECT_EQ(v, 255);
}

TEST(VideoTransform, AddWrapsModulo256AndDoubledRepeatsSamples) {
    int16_t c[64] = {};
    c[0] = 80;  // (80 x 32 + 127) >> 8 = 10
    uint8_t src[8 * 8], dst[8 * 8];
    std::fill(src, src + 64, 250);
    IdctAdd(c, IntraQuantTable()[0], src, dst, 8);
    for (uint8_t v : dst) EXPECT_EQ(v, 4);
    c[1] = 300;
    c[9] = -700;
    uint8_t plain[64], big[16 * 16];
    InverseTransform(c, IntraQuantTable()[3], plain);
    IdctPutDoubled(c, IntraQuantTable()[3], big, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(big[y * 16 + x], plain[(y / 2) * 8 + x / 2]);
}

TEST(VideoTransform, HugeCoefficientsWrapWithoutUndefinedBehaviour) {
    int16_t c[64];
    for (int i = 0; i < 64; ++i) c[i] = static_cast<int16_t>(i & 1 ? 32767 : -32768);
    uint8_t a[64], b[64];
    InverseTransform(c, IntraQuantTable()[15], a);
    PlainKernels().inverse_transform(c, IntraQuantTable()[15], b);
    EXPECT_EQ(0, std::memcmp(a, b, 64));
}

// The selected (SIMD) kernels give exactly what the plain ones give.
TEST(VideoKernels, SimdMatchesPlainOnRandomInput) {
    const VideoKernels* simd = Sse2Kernels();
    if (!simd) GTEST_SKIP() << "no SIMD kernels on this processor or build";
    std::mt19937 rng(7);
    for (int round = 0; round < 4000; ++round) {
        int16_t c[64] = {};
        const int kind = round % 4;
        for (int i = 0; i < 64; ++i) {
            if (kind == 0 && i > 0) break;           // DC only
            if (kind == 1 && (rng() & 3)) continue;  // sparse
            const uint32_t r = rng();
            c[i] = static_cast<int16_t>(kind == 3 ? r : (r % 512) - 256);  // 3: full range
        }
        const auto& quant = (round & 1 ? IntraQuantTable() : InterQuantTable())[rng() % 16];
        uint8_t want[64], got[64];
        PlainKernels().inverse_transform(c, quant, want);
        simd->inverse_transform(c, quant, got);
        ASSERT_EQ(0, std::memcmp(want, got, 64)) << "round " << round;
        uint8_t src[12 * 16], dst_a[12 * 16], dst_b[12 * 16];
        for (auto& v : src) v = static_cast<uint8_t>(rng());
        std::memcpy(dst_a, src, sizeof src);
        std::memcpy(dst_b, src, sizeof src);
        PlainKernels().add_block(want, src + 1, dst_a + 16 + 3, 16);
        simd->add_block(want, src + 1, dst_b + 16 + 3, 16);
        ASSERT_EQ(0, std::memcmp(dst_a, dst_b, sizeof src)) << "round " << round;
    }
}

}  // namespace
}  // namespace vemo::video
