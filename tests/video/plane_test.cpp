// Planes and frames built with the test writer: every block type, the map
// and the unchanged count, the frame layout of each version, and the bounds
// kept on malformed planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "cpu_levels.h"
#include "plane_builder.h"
#include "vemo/container.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

using test::Bits;
using test::BuildPlane;
using test::Row;

// A plane, its reference, a change map and bundle buffers for a test.
struct PlaneFixture {
    uint32_t w, h;
    int kind;
    uint32_t narrow_map = 0;  // map columns given to the decoder when not 0
    std::vector<uint8_t> dst, ref, map;
    BundleBuffers bundles;
    PlaneFixture(uint32_t width, uint32_t height, int plane_kind = 1)
        : w(width), h(height), kind(plane_kind), dst(width * height, 0x11), ref(width * height) {
        for (size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<uint8_t>(i * 7 + 3);
        map.assign(MapColumns() * MapRows(), 0);
        EXPECT_TRUE(AllocateBundleBuffers(width * (plane_kind == 2 ? 2 : 1), &bundles));
    }
    ~PlaneFixture() { FreeBundleBuffers(&bundles); }
    uint32_t MapColumns() const { return kind == 2 ? w / 8 : (w / 8 + 1) / 2; }
    uint32_t MapRows() const { return kind == 2 ? h / 8 : (h / 8 + 1) / 2; }
    PlaneOutcome Decode(const std::vector<uint8_t>& data, bool same_buffer = false) {
        PlaneJob job;
        job.data = data.data();
        job.size = static_cast<uint32_t>(data.size());
        job.dst = dst.data();
        job.ref = same_buffer ? dst.data() : ref.data();
        job.width = w;
        job.height = h;
        job.stride = w;
        job.map = map.data();
        job.map_stride = MapColumns();
        job.map_columns = narrow_map ? narrow_map : MapColumns();
        job.map_rows = MapRows();
        job.kind = kind;
        job.bundles = &bundles;
        return DecodePlane(job);
    }
    uint8_t At(uint32_t x, uint32_t y) const { return dst[y * w + x]; }
    uint8_t Ref(uint32_t x, uint32_t y) const { return ref[y * w + x]; }
};

Row Blocks(std::initializer_list<int> types) {
    Row row;
    row.values[kBundleBlockTypes] = types;
    return row;
}

TEST(VideoPlane, AllSkipPlaneCopiesTheReferenceAndCountsEveryBlock) {
    PlaneFixture f(16, 24);
    std::vector<Row> rows = {Blocks({0, 0}), Blocks({0, 0}), Blocks({0, 0})};
    const PlaneOutcome out = f.Decode(BuildPlane(16, rows));
    EXPECT_EQ(f.dst, f.ref);
    EXPECT_EQ(out.unchanged, 6u);
    for (uint8_t m : f.map) EXPECT_EQ(m, 0);
    EXPECT_EQ(out.faults, 0u);
}

TEST(VideoPlane, SkipCountsOnlyWhereTheMapIsStillClear) {
    // Luma: blocks 0 and 1 of row 0 share map byte 0; a fill there first
    // makes the following skip not count. Row 1 shares the map row.
    PlaneFixture f(32, 16);
    std::vector<Row> rows = {Blocks({6, 0, 0, 0}), Blocks({0, 0, 0, 2})};
    rows[0].values[kBundleColours] = {99};
    rows[1].values[kBundleMotionX] = {0};
    rows[1].values[kBundleMotionY] = {0};
    const PlaneOutcome out = f.Decode(BuildPlane(32, rows));
    // Row 0: block 1 sees byte 0 set; blocks 2, 3 count. Row 1: block 0 and
    // 1 see byte 0 set, block 2 counts, block 3 is a motion block.
    EXPECT_EQ(out.unchanged, 3u);
    EXPECT_EQ(f.map[0], 1);
    EXPECT_EQ(f.map[1], 1);
    // dx = dy = 0 motion equals a skip copy.
    for (uint32_t y = 8; y < 16; ++y)
        for (uint32_t x = 24; x < 32; ++x) EXPECT_EQ(f.At(x, y), f.Ref(x, y));
}

TEST(VideoPlane, SkipRunsStopAtOtherBlocksAndAtTheRowEnd) {
    // Both rows come in one fill of the block-type bundle, so a run of skips
    // must not carry on into the next row.
    PlaneFixture f(64, 16);
    std::vector<Row> rows = {Blocks({0, 0, 0, 6, 0, 0, 0, 0}), Blocks({0, 0, 0, 0, 0, 0, 0, 0})};
    rows[0].values[kBundleColours] = {42};
    const PlaneOutcome out = f.Decode(BuildPlane(64, rows));
    EXPECT_EQ(out.faults, 0u);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 64; ++x)
            EXPECT_EQ(f.At(x, y), y < 8 && x >= 24 && x < 32 ? 42 : f.Ref(x, y)) << x << "," << y;
    // Map byte 1 (blocks 2 and 3) is set by the fill after block 2 counted:
    // row 0 counts 2 + 1 + 2 + 2, row 1 counts 2 + 0 + 2 + 2.
    EXPECT_EQ(out.unchanged, 13u);
    EXPECT_EQ(f.map, (std::vector<uint8_t>{0, 1, 0, 0}));
}

TEST(VideoPlane, LongSkipRunsAtOddColumnsCopyAndCountLikeSingleBlocks) {
    // Runs of 11, 2, 1, 5, 3 and 12 blocks between fills (strips of 8 to 96
    // bytes, starting at odd and even columns), then a whole row of 40.
    PlaneFixture f(320, 16);
    std::vector<int> types = {6};
    for (int run : {11, 2, 1, 5, 3, 12}) {
        types.insert(types.end(), run, 0);
        if (types.size() < 40) types.push_back(6);
    }
    ASSERT_EQ(types.size(), 40u);
    std::vector<Row> rows(2);
    rows[0].values[kBundleBlockTypes] = types;
    rows[0].values[kBundleColours] = {10, 20, 30, 40, 50, 60};
    rows[1].values[kBundleBlockTypes] = std::vector<int>(40, 0);
    const PlaneOutcome out = f.Decode(BuildPlane(320, rows));
    EXPECT_EQ(out.faults, 0u);
    const std::vector<uint32_t> fills = {0, 12, 15, 17, 23, 27};
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 320; ++x) {
            const auto fill = std::find(fills.begin(), fills.end(), x / 8);
            const bool filled = y < 8 && fill != fills.end();
            ASSERT_EQ(f.At(x, y), filled ? 10 * (fill - fills.begin() + 1) : f.Ref(x, y))
                << x << "," << y;
        }
    // Row 0: each skip counts unless its area's other block was a fill to
    // its left: 10 + 1 + 1 + 5 + 3 + 12. Row 1: the 28 blocks outside the
    // six marked areas.
    EXPECT_EQ(out.unchanged, 32u + 28u);
}

// Skip runs of many lengths from odd and even columns over a map holding
// marks of several values (any byte other than 0 is a mark): each skip
// block counts where its map byte is 0 when it is reached, fills mark theirs.
TEST(VideoPlane, SkipRunsCountTheClearMapBytesUnderThem) {
    std::mt19937 rng(11);
    const uint8_t marks[] = {1, 0x80, 0xFF};
    for (int kind : {1, 2})
        for (int round = 0; round < 6; ++round) {
            PlaneFixture f(512, 8, kind);  // 64 blocks
            for (auto& m : f.map) m = rng() % 2 ? 0 : marks[rng() % 3];
            std::vector<uint8_t> model = f.map;
            std::vector<int> types;
            std::vector<int> colours;
            uint32_t expected = 0;
            while (types.size() < 64) {
                const uint32_t run = std::min<uint32_t>(1 + rng() % 40, 64 - types.size());
                for (uint32_t k = 0; k < run; ++k) {
                    const size_t byte = types.size() * kind / 2;
                    expected += model[byte] == 0;
                    types.push_back(0);
                }
                if (types.size() < 64) {
                    model[types.size() * kind / 2] = 1;
                    types.push_back(6);
                    colours.push_back(9);
                }
            }
            Row row = Blocks({});
            row.values[kBundleBlockTypes] = types;
            row.values[kBundleColours] = colours;
            const PlaneOutcome out = f.Decode(BuildPlane(512, {row}));
            EXPECT_EQ(out.faults, 0u);
            EXPECT_EQ(out.unchanged, expected) << "kind " << kind << " round " << round;
            for (uint32_t x = 0; x < 512; x += 8)
                ASSERT_EQ(f.At(x, 7), types[x / 8] ? 9 : f.Ref(x, 7)) << x;
        }
}

// One skip run from every start column and of every length up to 20 blocks
// (the short runs count their map bytes from one load: odd and even ends,
// and runs whose bytes reach the map row's end or the narrowed map's).
TEST(VideoPlane, SkipRunsFromEveryColumnCountLikeTheModel) {
    std::mt19937 rng(23);
    for (int kind : {1, 2})
        for (const uint32_t narrow : {0u, 11u})
            for (uint32_t start = 0; start < 24; ++start)
                for (uint32_t run = 1; start + run <= 24 && run <= 20; ++run) {
                    PlaneFixture f(192, 8, kind);  // 24 blocks
                    f.narrow_map = narrow;
                    for (auto& m : f.map) m = rng() % 2 ? 0 : 1;
                    const uint32_t columns = narrow ? narrow : f.MapColumns();
                    std::vector<int> types(24, 6);
                    // The fills before the run mark their bytes first.
                    std::vector<uint8_t> model = f.map;
                    for (uint32_t k = 0; k < start; ++k) model[k * kind / 2] = 1;
                    uint32_t expected = 0;
                    for (uint32_t k = start; k < start + run; ++k) {
                        types[k] = 0;
                        const uint32_t byte = k * kind / 2;
                        expected += byte < columns && model[byte] == 0;
                    }
                    Row row = Blocks({});
                    row.values[kBundleBlockTypes] = types;
                    row.values[kBundleColours] = std::vector<int>(24 - run, 9);
                    const PlaneOutcome out = f.Decode(BuildPlane(192, {row}));
                    ASSERT_EQ(out.unchanged, expected) << "kind " << kind << " map " << columns
                                                       << " start " << start << " run " << run;
                }
}

TEST(VideoPlane, ChromaBlocksEachHaveTheirOwnMapByte) {
    PlaneFixture f(16, 16, 2);
    std::vector<Row> rows = {Blocks({0, 6}), Blocks({6, 0})};
    rows[0].values[kBundleColours] = {1};
    rows[1].values[kBundleColours] = {2};
    const PlaneOutcome out = f.Decode(BuildPlane(16, rows));
    EXPECT_EQ(f.map, (std::vector<uint8_t>{0, 1, 1, 0}));
    EXPECT_EQ(out.unchanged, 2u);
}

TEST(VideoPlane, FillPatternAndRawBlocks) {
    PlaneFixture f(24, 8);
    std::vector<Row> rows = {Blocks({6, 8, 9})};
    auto& colours = rows[0].values[kBundleColours];
    colours = {200, 10, 20};
    for (int i = 0; i < 64; ++i) colours.push_back(i * 3);
    rows[0].values[kBundlePatterns] = {0x01, 0x80, 0xF0, 0x0F, 0x55, 0xAA, 0x00, 0xFF};
    f.Decode(BuildPlane(24, rows));
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(f.At(x, y), 200);
    const uint8_t pattern[8] = {0x01, 0x80, 0xF0, 0x0F, 0x55, 0xAA, 0x00, 0xFF};
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            EXPECT_EQ(f.At(8 + x, y), (pattern[y] >> x) & 1 ? 20 : 10)
                << x << "," << y;  // bit 0 leftmost
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(f.At(16 + x, y), (y * 8 + x) * 3);
}

TEST(VideoPlane, RunBlocksFollowTheirScan) {
    // Block 0: scan 5, runs of 16 x3 (one colour each) then 15 (one colour)
    // reach 63: the last position takes one more colour.
    // Block 1: scan 0, four runs of 16 with colours one by one on the last:
    // reaching 64 takes no extra colour.
    PlaneFixture f(16, 8);
    std::vector<Row> rows = {Blocks({3, 3})};
    rows[0].values[kBundleRuns] = {15, 15, 15, 14, 15, 15, 15, 15};
    auto& colours = rows[0].values[kBundleColours];
    colours = {1, 2, 3, 4, 5};
    colours.insert(colours.end(), {6, 7, 8});
    for (int i = 0; i < 16; ++i) colours.push_back(100 + i);
    Bits& bits = rows[0].bits;
    bits.Put(5, 4);
    for (int i = 0; i < 4; ++i) bits.PutBit(1);
    bits.Put(0, 4);
    bits.PutBit(1);
    bits.PutBit(1);
    bits.PutBit(1);
    bits.PutBit(0);
    const PlaneOutcome out = f.Decode(BuildPlane(16, rows));
    EXPECT_EQ(out.faults, 0u);
    uint8_t want[64];
    for (int i = 0; i < 64; ++i)
        want[kRunScans[5][i]] = static_cast<uint8_t>(i < 48 ? 1 + i / 16 : (i < 63 ? 4 : 5));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(f.At(i % 8, i / 8), want[i]) << i;
    for (int i = 0; i < 64; ++i)
        want[kRunScans[0][i]] = static_cast<uint8_t>(i < 48 ? 6 + i / 16 : 100 + (i - 48));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(f.At(8 + i % 8, i / 8), want[i]) << i;
}

TEST(VideoPlane, RunsPastTheLastPositionStopThere) {
    PlaneFixture f(8, 8);
    std::vector<Row> rows = {Blocks({3})};
    rows[0].values[kBundleRuns] = {15, 15, 15, 8, 15};
    rows[0].values[kBundleColours] = {1, 2, 3, 4, 5};
    Bits& bits = rows[0].bits;
    bits.Put(0, 4);
    for (int i = 0; i < 5; ++i) bits.PutBit(1);
    const PlaneOutcome out = f.Decode(BuildPlane(8, rows));
    EXPECT_NE(out.faults & kFaultRunOverrun, 0u);
    // 16 + 16 + 16 + 9 reach 57; the last run of 16 is cut to the 7 left.
    for (int i = 48; i < 64; ++i)
        EXPECT_EQ(f.At(kRunScans[0][i] % 8, kRunScans[0][i] / 8), i < 57 ? 4 : 5) << i;
}

TEST(VideoPlane, IntraInterAndResidueBlocks) {
    PlaneFixture f(24, 8);
    std::fill(f.ref.begin(), f.ref.end(), 250);
    std::vector<Row> rows = {Blocks({5, 7, 4})};
    rows[0].values[kBundleIntraDc] = {1024};
    rows[0].values[kBundleInterDc] = {80};  // +10 with inter q 0
    rows[0].values[kBundleMotionX] = {0, 0};
    rows[0].values[kBundleMotionY] = {0, 0};
    Bits& bits = rows[0].bits;
    test::PutNoCoefficients(bits, 0);
    test::PutNoCoefficients(bits, 0);
    bits.Put(5, 7);  // residue budget
    bits.Put(0, 3);  // e = 0: one pass of mask 1, nothing coded
    for (int i = 0; i < 4; ++i) bits.PutBit(0);
    f.Decode(BuildPlane(24, rows));
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(f.At(x, y), 128);
            EXPECT_EQ(f.At(8 + x, y), 4);  // 250 + 10 wraps
            EXPECT_EQ(f.At(16 + x, y), 250);
        }
}

TEST(VideoPlane, MotionSourcesOutsideTheReferenceAreClamped) {
    PlaneFixture f(16, 16);
    std::vector<Row> rows = {Blocks({2, 2}), Blocks({0, 0})};
    rows[0].values[kBundleMotionX] = {-3, 15};
    rows[0].values[kBundleMotionY] = {-1, 4};
    const PlaneOutcome out = f.Decode(BuildPlane(16, rows));
    EXPECT_NE(out.faults & kFaultMotionClamped, 0u);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(f.At(x, y), f.Ref(x, y));              // clamped to (0, 0)
            EXPECT_EQ(f.At(8 + x, y), f.Ref(8 + x, 4 + y));  // x clamped to 8
        }
}

TEST(VideoPlane, ScaledBlocksDrawSixteenBySixteen) {
    // Row 0: scaled fill, scaled intra (doubled), scaled sub-type 4 (nothing).
    // Row 1: the lower halves: type 1 reads nothing.
    PlaneFixture f(48, 16);
    std::vector<Row> rows = {Blocks({1, 1, 1}), Blocks({1, 1, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6, 5, 4};
    rows[0].values[kBundleColours] = {77};
    rows[0].values[kBundleIntraDc] = {1024};
    test::PutNoCoefficients(rows[0].bits, 0);
    const auto data = BuildPlane(48, rows);
    const PlaneOutcome out = f.Decode(data);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
            EXPECT_EQ(f.At(x, y), 77);
            EXPECT_EQ(f.At(16 + x, y), 128);
            EXPECT_EQ(f.At(32 + x, y), 0x11);  // untouched
        }
    EXPECT_EQ(f.map, (std::vector<uint8_t>{1, 1, 1}));
    EXPECT_EQ(out.faults, 0u);
    EXPECT_EQ(out.next_offset, data.size());
}

TEST(VideoPlane, ScaledPatternRawAndRunAreDoubled) {
    PlaneFixture f(48, 16);
    std::vector<Row> rows = {Blocks({1, 1, 1}), Blocks({1, 1, 1})};
    rows[0].values[kBundleSubBlockTypes] = {8, 9, 3};
    auto& colours = rows[0].values[kBundleColours];
    colours = {5, 9};
    for (int i = 0; i < 64; ++i) colours.push_back(i);
    colours.push_back(42);
    rows[0].values[kBundlePatterns] = {0x03, 0, 0, 0, 0, 0, 0, 0x80};
    rows[0].values[kBundleRuns] = {15, 15, 15, 15};
    rows[0].bits.Put(0, 4);
    for (int i = 0; i < 4; ++i) rows[0].bits.PutBit(1);
    colours.insert(colours.end(), {42, 42, 42});
    f.Decode(BuildPlane(48, rows));
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
            const int row = static_cast<int>(y / 2), col = static_cast<int>(x / 2);
            const uint8_t bits = row == 0 ? 0x03 : row == 7 ? 0x80 : 0;
            EXPECT_EQ(f.At(x, y), (bits >> col) & 1 ? 9 : 5) << x << "," << y;
            EXPECT_EQ(f.At(16 + x, y), row * 8 + col);
            EXPECT_EQ(f.At(32 + x, y), 42);
        }
}

TEST(VideoPlane, ScaledBlockOverTheEdgeDrawsOnlyWhatFits) {
    // Three columns: a scaled fill in the last one, and a last row of the
    // plane that is even (no room below). The plane buffer is exact, so a
    // sanitizer build would catch any write past it.
    PlaneFixture f(24, 8);
    std::vector<Row> rows = {Blocks({6, 0, 1})};
    rows[0].values[kBundleColours] = {3, 250};
    rows[0].values[kBundleSubBlockTypes] = {6};
    const PlaneOutcome out = f.Decode(BuildPlane(24, rows));
    EXPECT_NE(out.faults & kFaultScaledClipped, 0u);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 16; x < 24; ++x) EXPECT_EQ(f.At(x, y), 250);
    EXPECT_EQ(f.map, (std::vector<uint8_t>{1, 1}));
}

TEST(VideoPlane, ScaledFillsTouchingTheRightAndLowerEdgesAreWhole) {
    // 32 x 24: two scaled fills ending exactly at the right edge (whole),
    // then on the third block row two that end 8 rows below the plane.
    PlaneFixture f(32, 24);
    std::vector<Row> rows = {Blocks({1, 1}), Blocks({1, 1}), Blocks({1, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6, 6};
    rows[0].values[kBundleColours] = {10, 20};
    rows[2].values[kBundleSubBlockTypes] = {6, 6};
    rows[2].values[kBundleColours] = {30, 40};
    PlaneFixture whole(32, 16);
    const PlaneOutcome top = whole.Decode(BuildPlane(32, {rows[0], rows[1]}));
    EXPECT_EQ(top.faults, 0u);
    const PlaneOutcome out = f.Decode(BuildPlane(32, rows));
    EXPECT_EQ(out.faults, kFaultScaledClipped);
    for (uint32_t y = 0; y < 24; ++y)
        for (uint32_t x = 0; x < 32; ++x)
            EXPECT_EQ(f.At(x, y), (y < 16 ? 10 : 30) + (x < 16 ? 0 : 10)) << x << "," << y;
    EXPECT_EQ(f.map, (std::vector<uint8_t>{1, 1, 1, 1}));
}

TEST(VideoPlane, RunsOfScaledBlocksDrawMarkAndEndLikeSingleBlocks) {
    // 24 columns: nine scaled fills (an odd count, over eight), a scaled
    // block of sub-type 4, two skips, a scaled fill in the last two
    // columns; the lower halves below them come as one run too. At every
    // CPU level (the runs' stores go through the walk kernels).
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        PlaneFixture f(192, 16);
        std::vector<Row> rows = {Blocks({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1}),
                                 Blocks({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1})};
        rows[0].values[kBundleSubBlockTypes] = {6, 6, 6, 6, 6, 6, 6, 6, 6, 4, 6};
        rows[0].values[kBundleColours] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 50};
        const PlaneOutcome out = f.Decode(BuildPlane(192, rows));
        EXPECT_EQ(out.faults, 0u) << level.name;
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < 192; ++x) {
                const uint32_t col = x / 8;
                const uint8_t want = col < 18   ? static_cast<uint8_t>(col / 2 + 1)
                                     : col < 20 ? 0x11
                                     : col < 22 ? f.Ref(x, y)
                                                : 50;
                ASSERT_EQ(f.At(x, y), want) << level.name << " " << x << "," << y;
            }
        // The skips' area (byte 10) stays clear and counts in both rows.
        std::vector<uint8_t> map(12, 1);
        map[10] = 0;
        EXPECT_EQ(f.map, map) << level.name;
        EXPECT_EQ(out.unchanged, 4u) << level.name;
    }
}

TEST(VideoPlane, ScaledFillRunsStopWhereTheColoursAndTheMapRowEnd) {
    // Three scaled fills with two colours: the third gets 0.
    PlaneFixture f(48, 16);
    std::vector<Row> rows = {Blocks({1, 1, 1}), Blocks({1, 1, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6, 6, 6};
    rows[0].values[kBundleColours] = {7, 8};
    PlaneOutcome out = f.Decode(BuildPlane(48, rows));
    EXPECT_EQ(out.faults, kFaultBundleEmpty);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 48; ++x) ASSERT_EQ(f.At(x, y), x < 16 ? 7 : x < 32 ? 8 : 0);
    // Chroma from an odd column, a map row of five bytes out of eight: the
    // runs of both rows mark bytes 1 to 4 and nothing past them.
    PlaneFixture g(64, 16, 2);
    g.narrow_map = 5;
    rows = {Blocks({6, 1, 1, 1, 0}), Blocks({6, 1, 1, 1, 0})};
    rows[0].values[kBundleSubBlockTypes] = {6, 6, 6};
    rows[0].values[kBundleColours] = {3, 4, 5, 6};
    rows[1].values[kBundleColours] = {9};
    out = g.Decode(BuildPlane(64, rows));
    EXPECT_EQ(out.faults, 0u);
    EXPECT_EQ(g.map, (std::vector<uint8_t>{1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0}));
    for (uint32_t x = 8; x < 56; ++x) ASSERT_EQ(g.At(x, 15), 4 + (x - 8) / 16) << x;
}

// The walk kernels in use against the plain ones: square fills of 1 to 9
// and strips of 16 to 200 bytes, with the bytes around them left alone.
TEST(VideoPlane, WalkKernelsMatchPlainAtEveryLevel) {
    std::mt19937 rng(5);
    constexpr uint32_t kStride = 256;
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        const WalkKernels& active = ActiveWalkKernels();
        const WalkKernels* avx2 = Avx2WalkKernels();
        EXPECT_EQ(active.fill_squares, (avx2 ? avx2 : &PlainWalkKernels())->fill_squares);
        for (uint32_t round = 0; round < 48; ++round) {
            std::vector<uint8_t> src(kStride * 18), want(kStride * 18), got;
            for (auto& v : src) v = static_cast<uint8_t>(rng());
            for (auto& v : want) v = static_cast<uint8_t>(rng());
            got = want;
            const uint32_t at = kStride + 8 * (rng() % 4);
            if (round % 2) {
                uint8_t colours[9];
                for (auto& c : colours) c = static_cast<uint8_t>(rng());
                const uint32_t count = 1 + round / 2 % 9;
                PlainWalkKernels().fill_squares(want.data() + at, kStride, colours, count);
                active.fill_squares(got.data() + at, kStride, colours, count);
            } else {
                const uint32_t bytes = 16 + 8 * (round / 2 % 24);
                PlainWalkKernels().copy_strip(src.data() + at, want.data() + at, kStride, bytes);
                active.copy_strip(src.data() + at, got.data() + at, kStride, bytes);
            }
            ASSERT_EQ(want, got) << level.name << " round " << round;
        }
    }
}

TEST(VideoPlane, BlockTypesAboveNineLeaveTheBlockAlone) {
    PlaneFixture f(16, 8);
    std::vector<Row> rows = {Blocks({10, 11})};
    const PlaneOutcome out = f.Decode(BuildPlane(16, rows));
    for (uint8_t v : f.dst) EXPECT_EQ(v, 0x11);
    EXPECT_EQ(f.map[0], 0);
    EXPECT_EQ(out.unchanged, 0u);
}

TEST(VideoPlane, OneBufferSkipLeavesSamplesAndMotionCopiesWithinThePlane) {
    PlaneFixture f(16, 8);
    for (size_t i = 0; i < f.dst.size(); ++i) f.dst[i] = static_cast<uint8_t>(i);
    const std::vector<uint8_t> before = f.dst;
    std::vector<Row> rows = {Blocks({0, 2})};
    rows[0].values[kBundleMotionX] = {-8};
    rows[0].values[kBundleMotionY] = {0};
    f.Decode(BuildPlane(16, rows), true);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(f.At(x, y), before[y * 16 + x]);
            EXPECT_EQ(f.At(8 + x, y), before[y * 16 + x]);
        }
}

TEST(VideoPlane, FillsLongerThanTheirBufferEndThePlane) {
    PlaneFixture f(16, 16);
    Bits bits;
    for (int t = 0; t < 23; ++t) bits.Put(0, 4);
    bits.Put(1023, LengthFieldWidth(2));  // block types: 1023 > capacity
    bits.PutBit(1);
    bits.Put(6, 4);
    bits.Put(0xFFFFFFFF, 32);
    const PlaneOutcome out = f.Decode(bits.Bytes());
    EXPECT_NE(out.faults & kFaultBundleOverflow, 0u);
    for (uint8_t v : f.dst) EXPECT_EQ(v, 0x11);
}

TEST(VideoPlane, AnEmptyBundleYieldsZerosAndTruncatedDataReadsAsZero) {
    PlaneFixture f(16, 8);
    // Only the trees and a closed block-type bundle: every block reads 0
    // (skip) from the closed bundle.
    Bits bits;
    for (int t = 0; t < 23; ++t) bits.Put(0, 4);
    bits.Put(0, LengthFieldWidth(2));
    auto data = bits.Bytes();
    const PlaneOutcome out = f.Decode(data);
    EXPECT_NE(out.faults & kFaultBundleEmpty, 0u);
    EXPECT_EQ(f.dst, f.ref);
    data.resize(5);
    PlaneFixture g(16, 8);
    const PlaneOutcome cut = g.Decode(data);
    EXPECT_NE(cut.faults & kFaultPastEnd, 0u);
}

// The walk reads its bundles unchecked while a row cannot exhaust them:
// values lying in a buffer past its fill must never be taken.
TEST(VideoPlane, BundlesRunningOutWithinARowGiveZerosNotStaleValues) {
    PlaneFixture f(48, 16);
    std::memset(f.bundles.buffer[kBundleBlockTypes], 6, f.bundles.capacity[kBundleBlockTypes]);
    std::vector<Row> rows = {Blocks({6, 1, 0, 0, 0}), Blocks({2, 1})};  // second row: 3 of 6
    rows[0].values[kBundleColours] = {40, 90};
    rows[0].values[kBundleSubBlockTypes] = {6};
    rows[1].values[kBundleMotionX] = {8};
    rows[1].values[kBundleMotionY] = {-8};
    PlaneOutcome out = f.Decode(BuildPlane(48, rows));
    EXPECT_EQ(out.faults, kFaultBundleEmpty);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 48; ++x) {
            const uint8_t want = x >= 24  ? f.Ref(x, y)
                                 : x >= 8 ? 90
                                 : y < 8  ? 40
                                          : f.Ref(x + 8, y - 8);
            ASSERT_EQ(f.At(x, y), want) << x << "," << y;
        }
    EXPECT_EQ(f.map, (std::vector<uint8_t>{1, 1, 0}));
    EXPECT_EQ(out.unchanged, 4u);  // columns 4 and 5 of both rows

    PlaneFixture g(48, 16);  // three scaled blocks, two sub-types
    std::memset(g.bundles.buffer[kBundleSubBlockTypes], 6,
                g.bundles.capacity[kBundleSubBlockTypes]);
    rows = {Blocks({1, 1, 1}), Blocks({1, 1, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6, 6};
    rows[0].values[kBundleColours] = {10, 20};
    out = g.Decode(BuildPlane(48, rows));
    EXPECT_EQ(out.faults, kFaultBundleEmpty);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 48; ++x) ASSERT_EQ(g.At(x, y), x < 16 ? 10 : x < 32 ? 20 : 0x11);
}

TEST(VideoPlane, MarksAndCountsStayInsideTheMapRow) {
    // Chroma, three areas a row: a scaled block in the last column marks
    // only its own area, not the first of the next map row.
    PlaneFixture f(24, 16, 2);
    std::vector<Row> rows = {Blocks({0, 0, 1}), Blocks({0, 0, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6};
    rows[0].values[kBundleColours] = {7};
    const PlaneOutcome out = f.Decode(BuildPlane(24, rows));
    EXPECT_EQ(f.map, (std::vector<uint8_t>{0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(out.unchanged, 4u);
    // Luma skips count two blocks for each map column the decoder is given.
    for (const uint32_t columns : {1u, 2u, 4u}) {
        PlaneFixture g(64, 8);
        g.narrow_map = columns;
        EXPECT_EQ(g.Decode(BuildPlane(64, {Blocks({0, 0, 0, 0, 0, 0, 0, 0})})).unchanged,
                  2 * columns);
    }
}

TEST(VideoPlane, JobsOfAnUnknownKindAreRefused) {
    for (const int kind : {0, 3, -1}) {
        PlaneFixture f(16, 8);
        f.kind = kind;
        const PlaneOutcome out = f.Decode(BuildPlane(16, {Blocks({6, 6})}));
        EXPECT_EQ(out.next_offset, 0u);
        for (uint8_t v : f.dst) EXPECT_EQ(v, 0x11);
    }
}

TEST(VideoPlane, PlanesEndOnTheWordAfterTheirLastConsumedBit) {
    PlaneFixture f(8, 8);
    std::vector<Row> rows = {Blocks({6})};
    rows[0].values[kBundleColours] = {1};
    auto data = BuildPlane(8, rows);
    const size_t plane_bytes = data.size();
    data.resize(plane_bytes + 8, 0xFF);  // the next plane's words
    const PlaneOutcome out = f.Decode(data);
    EXPECT_EQ(out.next_offset, plane_bytes);
    EXPECT_EQ(out.faults, 0u);
}

// ---- whole frames --------------------------------------------------------------

// A plane of fill blocks of one colour.
std::vector<uint8_t> FillPlane(uint32_t width, uint32_t height, int colour,
                               bool old_version = false) {
    std::vector<Row> rows(height / 8);
    for (Row& row : rows) {
        row.values[kBundleBlockTypes].assign(width / 8, 6);
        row.values[kBundleColours].assign(width / 8, colour);
    }
    return BuildPlane(width, rows, old_version);
}
std::vector<uint8_t> SkipPlane(uint32_t width, uint32_t height) {
    std::vector<Row> rows(height / 8);
    for (Row& row : rows) row.values[kBundleBlockTypes].assign(width / 8, 0);
    return BuildPlane(width, rows);
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part) {
    out.insert(out.end(), part.begin(), part.end());
}
void AppendSized(std::vector<uint8_t>& out, const std::vector<uint8_t>& part,
                 uint32_t padding = 0) {
    uint8_t size[4];
    StoreLe32(size, static_cast<uint32_t>(part.size()) + 4 + padding);
    out.insert(out.end(), size, size + 4);
    Append(out, part);
    out.insert(out.end(), padding, 0xA5);
}

struct FrameFixture {
    FramePlanes* planes;
    BundleBuffers bundles;
    std::vector<uint8_t> map;
    FrameFixture(uint32_t w, uint32_t h, bool all_key, uint32_t flags)
        : planes(CreateFramePlanes(w, h, all_key, flags)), map(BlocksAcross(w) * BlocksDown(h)) {
        EXPECT_NE(planes, nullptr);
        EXPECT_TRUE(AllocateBundleBuffers(w, &bundles));
    }
    ~FrameFixture() {
        FreeBundleBuffers(&bundles);
        FreeFramePlanes(planes);
    }
    uint32_t Decode(const std::vector<uint8_t>& video, uint32_t open_flags, uint32_t header_flags,
                    VideoReport* report = nullptr) {
        std::fill(map.begin(), map.end(), 0);
        return DecodeFrameVideo(planes, map.data(), BlocksAcross(planes->luma_width), video.data(),
                                static_cast<uint32_t>(video.size()), false, bundles, open_flags,
                                header_flags, report);
    }
    uint8_t Sample(int plane) const { return planes->buffer[planes->current][plane].samples[0]; }
};

TEST(VideoFrame, FramePlanesHaveThePaddedSizesAndOneOrTwoBuffers) {
    FramePlanes* p = CreateFramePlanes(720, 480, false, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->buffer_count, 2u);
    EXPECT_EQ(p->luma_width, 720u);
    EXPECT_EQ(p->chroma_width, 360u);
    EXPECT_EQ(p->chroma_height, 240u);
    EXPECT_NE(p->buffer[1][kPlaneY].samples, nullptr);
    EXPECT_EQ(p->buffer[0][kPlaneAlpha].samples, nullptr);
    EXPECT_EQ(p->buffer[0][kPlaneCr].stride, 360u);
    FreeFramePlanes(p);
    p = CreateFramePlanes(17, 9, true, kVideoAlpha);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->buffer_count, 1u);
    EXPECT_EQ(p->luma_width, 24u);
    EXPECT_EQ(p->luma_height, 16u);
    EXPECT_EQ(p->chroma_width, 16u);
    EXPECT_EQ(p->chroma_height, 8u);
    EXPECT_EQ(p->buffer[1][kPlaneY].samples, nullptr);
    EXPECT_NE(p->buffer[0][kPlaneAlpha].samples, nullptr);
    FreeFramePlanes(p);
    EXPECT_EQ(CreateFramePlanes(0, 10, false, 0), nullptr);
    EXPECT_EQ(CreateFramePlanes(100000, 100000, false, 0), nullptr);
}

TEST(VideoFrame, BundleBuffersAreSizedFromThePlayedWidth) {
    // 720 samples: 90 blocks; capacities c + 512 bytes (DC: 2c + 1024).
    EXPECT_EQ(BundleBufferBytes(720, kBundleBlockTypes), 604u);
    EXPECT_EQ(BundleBufferBytes(720, kBundleSubBlockTypes), 560u);
    EXPECT_EQ(BundleBufferBytes(720, kBundleColours), 90u * 64 + 512);
    EXPECT_EQ(BundleBufferBytes(720, kBundleIntraDc), 2u * 90 + 1024);
    EXPECT_EQ(BundleBufferBytes(17, kBundleBlockTypes), 516u);  // 32 wide: c = 4
    BlockPool pool;
    BundleBuffers b;
    RequestBundleBuffers(&pool, 720, &b);
    EXPECT_EQ(b.capacity[kBundleInterDc], 90u + 512);
    void* header = nullptr;
    ASSERT_NE(pool.Commit(&header, 64), nullptr);
    for (void* buffer : b.buffer) EXPECT_NE(buffer, nullptr);
    FreeLibraryMemory(header);
}

TEST(VideoFrame, TwoBuffersAlternateAndSkipsCopyThePreviousFrame) {
    FrameFixture f(16, 16, false, 0);
    std::vector<uint8_t> first, second;
    AppendSized(first, FillPlane(16, 16, 40));
    Append(first, FillPlane(8, 8, 50));
    Append(first, FillPlane(8, 8, 60));
    AppendSized(second, SkipPlane(16, 16));
    Append(second, SkipPlane(8, 8));
    Append(second, SkipPlane(8, 8));
    EXPECT_EQ(f.Decode(first, 0, 0), 0u);
    EXPECT_EQ(f.planes->current, 1u);
    EXPECT_EQ(f.Sample(kPlaneY), 40);
    EXPECT_EQ(f.Decode(second, 0, 0), 1u);  // every plane skipped: one area
    EXPECT_EQ(f.planes->current, 0u);
    EXPECT_EQ(f.Sample(kPlaneY), 40);
    EXPECT_EQ(f.Sample(kPlaneCr), 50);
    EXPECT_EQ(f.Sample(kPlaneCb), 60);
    EXPECT_EQ(f.map[0], 0);
}

TEST(VideoFrame, OneBufferDecodesInPlace) {
    FrameFixture f(16, 16, true, 0);
    std::vector<uint8_t> first;
    AppendSized(first, FillPlane(16, 16, 40));
    Append(first, FillPlane(8, 8, 50));
    Append(first, FillPlane(8, 8, 60));
    f.Decode(first, 0, 0);
    EXPECT_EQ(f.planes->current, 0u);
    EXPECT_EQ(f.Sample(kPlaneCb), 60);
}

TEST(VideoFrame, LumaSizeFieldFindsTheChromaPlanesBehindPadding) {
    FrameFixture f(16, 16, false, 0);
    std::vector<uint8_t> video;
    AppendSized(video, FillPlane(16, 16, 40), 12);
    Append(video, FillPlane(8, 8, 50));
    Append(video, FillPlane(8, 8, 60));
    VideoReport report;
    f.Decode(video, 0, 0, &report);
    EXPECT_EQ(report.faults, 0u);
    EXPECT_EQ(f.Sample(kPlaneCr), 50);
    EXPECT_EQ(f.Sample(kPlaneCb), 60);
}

TEST(VideoFrame, OlderVersionsHaveNoLumaSizeAndRecentreColours) {
    FrameFixture f(16, 16, false, 0);
    std::vector<uint8_t> video;
    Append(video, FillPlane(16, 16, 40, true));
    Append(video, FillPlane(8, 8, 200, true));
    Append(video, FillPlane(8, 8, 1, true));
    VideoReport report;
    f.Decode(video, kVideoOldVersion, 0, &report);
    EXPECT_EQ(report.faults, 0u);
    EXPECT_EQ(f.Sample(kPlaneY), 40);
    EXPECT_EQ(f.Sample(kPlaneCr), 200);
    EXPECT_EQ(f.Sample(kPlaneCb), 1);
}

TEST(VideoFrame, AlphaIsDecodedWhenAskedAndSkippedByItsSizeOtherwise) {
    std::vector<uint8_t> video;
    AppendSized(video, FillPlane(16, 16, 9), 8);
    AppendSized(video, FillPlane(16, 16, 40));
    Append(video, FillPlane(8, 8, 50));
    Append(video, FillPlane(8, 8, 60));
    {
        FrameFixture f(16, 16, false, kVideoAlpha);
        f.Decode(video, kVideoAlpha, kHeaderAlpha);
        EXPECT_EQ(f.Sample(kPlaneAlpha), 9);
        EXPECT_EQ(f.Sample(kPlaneY), 40);
        EXPECT_EQ(f.Sample(kPlaneCb), 60);
    }
    {
        FrameFixture f(16, 16, false, 0);
        VideoReport report;
        f.Decode(video, 0, kHeaderAlpha, &report);
        EXPECT_EQ(report.faults, 0u);
        EXPECT_EQ(f.Sample(kPlaneY), 40);
        EXPECT_EQ(f.Sample(kPlaneCb), 60);
    }
}

TEST(VideoFrame, GrayscaleReturnsAQuarterOfTheLumaCount) {
    FrameFixture f(32, 16, false, 0);
    f.planes->buffer[0][kPlaneCr].samples[0] = 77;
    f.planes->buffer[1][kPlaneCr].samples[0] = 77;
    std::vector<uint8_t> video;
    AppendSized(video, SkipPlane(32, 16));
    EXPECT_EQ(f.Decode(video, kVideoGrayscale, 0), 2u);  // 8 skip blocks / 4
    EXPECT_EQ(f.Sample(kPlaneCr), 77);
}

TEST(VideoFrame, SizeFieldsBeyondTheVideoPartAreRefused) {
    FrameFixture f(16, 16, false, kVideoAlpha);
    std::vector<uint8_t> video;
    AppendSized(video, FillPlane(16, 16, 40));
    Append(video, FillPlane(8, 8, 50));
    Append(video, FillPlane(8, 8, 60));
    std::vector<uint8_t> bad = video;
    StoreLe32(bad.data(), static_cast<uint32_t>(bad.size()) + 1);
    VideoReport report;
    EXPECT_EQ(f.Decode(bad, 0, 0, &report), 0u);
    EXPECT_NE(report.faults & kFaultSizeField, 0u);
    StoreLe32(bad.data(), 3);
    report = {};
    f.Decode(bad, 0, 0, &report);
    EXPECT_NE(report.faults & kFaultSizeField, 0u);
    std::vector<uint8_t> alpha_bad = {0xFF, 0xFF, 0, 0};
    Append(alpha_bad, video);
    report = {};
    f.Decode(alpha_bad, kVideoAlpha, kHeaderAlpha, &report);
    EXPECT_NE(report.faults & kFaultSizeField, 0u);
    report = {};
    f.Decode(std::vector<uint8_t>{1, 0}, 0, 0, &report);
    EXPECT_NE(report.faults & kFaultSizeField, 0u);
}

}  // namespace
}  // namespace vemo::video
