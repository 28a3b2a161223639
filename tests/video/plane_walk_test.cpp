// The plane walk at its limits: a block-type bundle running out within a
// row, scaled-block marks at the end of a map row, skip counts against a map
// narrower than the plane, and plane jobs of an unknown kind.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plane_builder.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

using test::BuildPlane;
using test::Row;

struct Walk {
    uint32_t w, h;
    int kind;
    std::vector<uint8_t> dst, ref, map;
    BundleBuffers bundles;
    PlaneJob job;
    Walk(uint32_t width, uint32_t height, int plane_kind, uint32_t map_columns, uint32_t map_rows)
        : w(width),
          h(height),
          kind(plane_kind),
          dst(width * height, 0x11),
          ref(width * height),
          map(map_columns * map_rows, 0) {
        for (size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<uint8_t>(i * 5 + 1);
        EXPECT_TRUE(AllocateBundleBuffers(width * (plane_kind == 2 ? 2 : 1), &bundles));
        job.dst = dst.data();
        job.ref = ref.data();
        job.width = w;
        job.height = h;
        job.stride = w;
        job.map = map.data();
        job.map_stride = map_columns;
        job.map_columns = map_columns;
        job.map_rows = map_rows;
        job.kind = kind;
        job.bundles = &bundles;
    }
    ~Walk() { FreeBundleBuffers(&bundles); }
    PlaneOutcome Decode(const std::vector<uint8_t>& data) {
        job.data = data.data();
        job.size = static_cast<uint32_t>(data.size());
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

TEST(VideoPlaneWalk, BlockTypesRunningOutWithinARowGiveCountedSkips) {
    // 48 x 16 luma. The first row has its six columns; the second only
    // three of them, so the bundle runs out at column 3. Whatever lies in the
    // buffer past the fill (here fill types) must not be read.
    Walk f(48, 16, 1, 3, 1);
    std::memset(f.bundles.buffer[kBundleBlockTypes], 6, f.bundles.capacity[kBundleBlockTypes]);
    std::vector<Row> rows = {Blocks({6, 1, 0, 0, 0}), Blocks({2, 1})};
    rows[0].values[kBundleColours] = {40, 90};
    rows[0].values[kBundleSubBlockTypes] = {6};
    rows[1].values[kBundleMotionX] = {8};
    rows[1].values[kBundleMotionY] = {-8};
    const PlaneOutcome out = f.Decode(BuildPlane(48, rows));
    EXPECT_EQ(out.faults, kFaultBundleEmpty);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 48; ++x) {
            uint8_t want = f.Ref(x, y);  // skipped
            if (x < 8) want = y < 8 ? 40 : f.Ref(x + 8, y - 8);
            if (x >= 8 && x < 24) want = 90;
            ASSERT_EQ(f.At(x, y), want) << x << "," << y;
        }
    // Columns 4 and 5 of both rows lie in the one area nothing marked.
    EXPECT_EQ(f.map, (std::vector<uint8_t>{1, 1, 0}));
    EXPECT_EQ(out.unchanged, 4u);
}

TEST(VideoPlaneWalk, SubTypesRunningOutWithinARowDrawNothing) {
    // Three scaled blocks with two sub-types: the third draws nothing (sub
    // type 0), whatever lies in the buffer past the fill.
    Walk f(48, 16, 1, 3, 1);
    std::memset(f.bundles.buffer[kBundleSubBlockTypes], 6,
                f.bundles.capacity[kBundleSubBlockTypes]);
    std::vector<Row> rows = {Blocks({1, 1, 1}), Blocks({1, 1, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6, 6};
    rows[0].values[kBundleColours] = {10, 20};
    const PlaneOutcome out = f.Decode(BuildPlane(48, rows));
    EXPECT_EQ(out.faults, kFaultBundleEmpty);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 48; ++x) ASSERT_EQ(f.At(x, y), x < 16 ? 10 : x < 32 ? 20 : 0x11);
    EXPECT_EQ(f.map, (std::vector<uint8_t>{1, 1, 1}));
}

TEST(VideoPlaneWalk, AScaledBlockInTheLastChromaColumnMarksOnlyItsOwnArea) {
    // 24 x 16 chroma: three areas a row. The scaled block's second column
    // lies past the row, where the next map row begins.
    Walk f(24, 16, 2, 3, 2);
    std::vector<Row> rows = {Blocks({0, 0, 1}), Blocks({0, 0, 1})};
    rows[0].values[kBundleSubBlockTypes] = {6};
    rows[0].values[kBundleColours] = {7};
    const PlaneOutcome out = f.Decode(BuildPlane(24, rows));
    EXPECT_EQ(out.faults, kFaultScaledClipped);
    EXPECT_EQ(f.map, (std::vector<uint8_t>{0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(out.unchanged, 4u);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 24; ++x) ASSERT_EQ(f.At(x, y), x < 16 ? f.Ref(x, y) : 7);
}

TEST(VideoPlaneWalk, SkipsCountOnlyTheColumnsTheMapCovers) {
    // 64 luma columns wide (eight blocks) with a map of one area a row:
    // only the first two blocks of the skip run are counted.
    for (const uint32_t columns : {1u, 2u, 4u}) {
        Walk f(64, 8, 1, columns, 1);
        const PlaneOutcome out = f.Decode(BuildPlane(64, {Blocks({0, 0, 0, 0, 0, 0, 0, 0})}));
        EXPECT_EQ(out.unchanged, 2 * columns);
        EXPECT_EQ(f.dst, f.ref);
    }
    Walk chroma(64, 8, 2, 3, 1);
    const PlaneOutcome out = chroma.Decode(BuildPlane(64, {Blocks({0, 0, 0, 0, 0, 0, 0, 0})}));
    EXPECT_EQ(out.unchanged, 3u);
}

TEST(VideoPlaneWalk, JobsOfAnUnknownKindAreRefused) {
    for (const int kind : {0, 3, -1}) {
        Walk f(16, 8, 1, 1, 1);
        const std::vector<uint8_t> data = BuildPlane(16, {Blocks({6, 6})});
        f.job.kind = kind;
        const PlaneOutcome out = f.Decode(data);
        EXPECT_EQ(out.next_offset, 0u);
        EXPECT_EQ(out.faults, 0u);
        for (uint8_t v : f.dst) EXPECT_EQ(v, 0x11);
        EXPECT_EQ(f.map[0], 0);
    }
}

}  // namespace
}  // namespace vemo::video
