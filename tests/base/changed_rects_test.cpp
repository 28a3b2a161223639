// Changed-area rectangles over hand-made change maps.
#include "vemo/changed_rects.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vemo {
namespace {

struct Map {
    uint32_t width, height;
    std::vector<uint8_t> bytes;
    Map(uint32_t w, uint32_t h)
        : width(w), height(h), bytes(BlocksAcross() * BlocksDown() + 16, 0) {}
    uint32_t BlocksAcross() const { return (width + 15) / 16; }
    uint32_t BlocksDown() const { return (height + 15) / 16; }
    void Set(uint32_t bx, uint32_t by) { bytes[by * BlocksAcross() + bx] = 1; }
    ChangeMapView View(uint32_t played_w = 0, uint32_t played_h = 0) const {
        ChangeMapView v;
        v.map = bytes.data();
        v.blocks_across = BlocksAcross();
        v.blocks_down = BlocksDown();
        v.coded_width = width;
        v.coded_height = height;
        v.played_width = played_w ? played_w : width;
        v.played_height = played_h ? played_h : height;
        return v;
    }
};

bool Covered(const ChangedRect* rects, int n, uint32_t px, uint32_t py) {
    for (int i = 0; i < n; ++i)
        if (static_cast<int32_t>(px) >= rects[i].x &&
            static_cast<int32_t>(px) < rects[i].x + rects[i].width &&
            static_cast<int32_t>(py) >= rects[i].y &&
            static_cast<int32_t>(py) < rects[i].y + rects[i].height)
            return true;
    return false;
}

TEST(ChangedRects, NothingChangedGivesNone) {
    Map m(320, 240);
    ChangedRect out[kMaxChangedRects];
    EXPECT_EQ(ComputeChangedRects(m.View(), false, 0, out), 0);
}

TEST(ChangedRects, KeyFrameGivesOneWholeRectangle) {
    Map m(320, 240);
    std::fill(m.bytes.begin(), m.bytes.end() - 16, 1);
    ChangedRect out[kMaxChangedRects];
    ASSERT_EQ(ComputeChangedRects(m.View(), false, 0, out), 1);
    EXPECT_EQ(out[0].x, 0);
    EXPECT_EQ(out[0].y, 0);
    EXPECT_EQ(out[0].width, 320);
    EXPECT_EQ(out[0].height, 240);
}

TEST(ChangedRects, OppositeCornersGiveTwoSmallRectangles) {
    Map m(640, 480);
    m.Set(0, 0);
    m.Set(m.BlocksAcross() - 1, m.BlocksDown() - 1);
    ChangedRect out[kMaxChangedRects];
    ASSERT_EQ(ComputeChangedRects(m.View(), false, 0, out), 2);
    EXPECT_EQ(out[0].x, 0);
    EXPECT_EQ(out[0].y, 0);
    EXPECT_EQ(out[0].width, 16);
    EXPECT_EQ(out[0].height, 16);
    EXPECT_EQ(out[1].x, 624);
    EXPECT_EQ(out[1].y, 464);
    EXPECT_EQ(out[1].width, 16);
    EXPECT_EQ(out[1].height, 16);
    // One bounding rectangle when only one is wanted.
    ASSERT_EQ(ComputeChangedRects(m.View(), true, 0, out), 1);
    EXPECT_EQ(out[0].width, 640);
    EXPECT_EQ(out[0].height, 480);
}

TEST(ChangedRects, BoundingTrimsEveryEmptySide) {
    Map m(256, 256);
    m.Set(3, 2);
    m.Set(5, 6);
    ChangedRect b{};
    ASSERT_TRUE(BoundChangedBlocks(m.View(), {0, 0, 256, 256}, &b));
    EXPECT_EQ(b.x, 48);
    EXPECT_EQ(b.y, 32);
    EXPECT_EQ(b.width, 48);
    EXPECT_EQ(b.height, 80);
    EXPECT_FALSE(BoundChangedBlocks(m.View(), {128, 0, 128, 256}, &b));
}

TEST(ChangedRects, NeverMoreThanEightAndEveryChangeCovered) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        Map m(16 + random() % 800, 16 + random() % 600);
        const int changes = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < changes; ++i)
            m.Set(random() % m.BlocksAcross(), random() % m.BlocksDown());
        ChangedRect out[kMaxChangedRects];
        const int n = ComputeChangedRects(m.View(), false, 0, out);
        ASSERT_GE(n, 1);
        ASSERT_LE(n, kMaxChangedRects);
        for (uint32_t by = 0; by < m.BlocksDown(); ++by)
            for (uint32_t bx = 0; bx < m.BlocksAcross(); ++bx)
                if (m.bytes[by * m.BlocksAcross() + bx]) {
                    ASSERT_TRUE(Covered(out, n, bx * 16, by * 16)) << "round " << round;
                }
        for (int i = 0; i < n; ++i) {
            EXPECT_GT(out[i].width, 0);
            EXPECT_GT(out[i].height, 0);
            EXPECT_LE(out[i].x + out[i].width, static_cast<int32_t>(m.width));
            EXPECT_LE(out[i].y + out[i].height, static_cast<int32_t>(m.height));
            if (i > 0) {
                const int64_t a = static_cast<int64_t>(out[i - 1].y) * 65536 + out[i - 1].x;
                const int64_t b = static_cast<int64_t>(out[i].y) * 65536 + out[i].x;
                EXPECT_LE(a, b);
            }
        }
    }
}

TEST(ChangedRects, ScatteredChangesStopAtEight) {
    Map m(512, 512);
    for (uint32_t by = 0; by < 32; by += 4)
        for (uint32_t bx = 0; bx < 32; bx += 4) m.Set(bx, by);
    ChangedRect out[kMaxChangedRects];
    EXPECT_EQ(ComputeChangedRects(m.View(), false, 0, out), kMaxChangedRects);
}

TEST(ChangedRects, OrderedByRowThenColumn) {
    Map m(512, 512);
    m.Set(31, 0);  // top right
    m.Set(0, 31);  // bottom left
    m.Set(0, 0);   // top left
    ChangedRect out[kMaxChangedRects];
    ASSERT_EQ(ComputeChangedRects(m.View(), false, 0, out), 3);
    EXPECT_EQ(out[0].x, 0);
    EXPECT_EQ(out[0].y, 0);
    EXPECT_EQ(out[1].x, 496);
    EXPECT_EQ(out[1].y, 0);
    EXPECT_EQ(out[2].x, 0);
    EXPECT_EQ(out[2].y, 496);
}

TEST(ChangedRects, ScalingModesDoubleTheRightSides) {
    Map m(64, 64);
    m.Set(1, 1);
    ChangedRect out[kMaxChangedRects];
    struct Case {
        uint32_t mode;
        ChangedRect want;
    } cases[] = {{0, {16, 16, 16, 16}}, {1, {16, 32, 16, 32}}, {2, {16, 32, 16, 32}},
                 {3, {32, 16, 32, 16}}, {4, {32, 32, 32, 32}}, {5, {32, 32, 32, 32}},
                 {6, {16, 16, 16, 16}}, {7, {16, 16, 16, 16}}};
    for (const Case& c : cases) {
        ASSERT_EQ(ComputeChangedRects(m.View(128, 128), false, c.mode, out), 1) << c.mode;
        EXPECT_EQ(out[0].x, c.want.x) << c.mode;
        EXPECT_EQ(out[0].y, c.want.y) << c.mode;
        EXPECT_EQ(out[0].width, c.want.width) << c.mode;
        EXPECT_EQ(out[0].height, c.want.height) << c.mode;
    }
}

TEST(ChangedRects, ClippedToThePlayedSize) {
    // 100 x 70: the last block column and row are partial.
    Map m(100, 70);
    m.Set(6, 4);
    ChangedRect out[kMaxChangedRects];
    ASSERT_EQ(ComputeChangedRects(m.View(), false, 0, out), 1);
    EXPECT_EQ(out[0].x, 96);
    EXPECT_EQ(out[0].y, 64);
    EXPECT_EQ(out[0].width, 4);
    EXPECT_EQ(out[0].height, 6);
    // Doubled both ways: clipped to 200 x 140.
    ASSERT_EQ(ComputeChangedRects(m.View(200, 140), false, 4, out), 1);
    EXPECT_EQ(out[0].x, 192);
    EXPECT_EQ(out[0].width, 8);
    EXPECT_EQ(out[0].y, 128);
    EXPECT_EQ(out[0].height, 12);
}

}  // namespace
}  // namespace vemo
