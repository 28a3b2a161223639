// The rules the Windows display system takes from the portable layer: scaling
// capabilities from a device's effect bits, overlay placement at the screen
// edges, and the overlay being told where its buffer went.
#include <gtest/gtest.h>

#include "vemo/display_rules.h"

namespace vemo {
namespace {

constexpr DeviceEffectBits kBits = {0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80};

TEST(ScaleCapabilitiesFromEffects, AnyFactorGrantsTheIntegerFactorToo) {
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0, kBits), 0u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x1, kBits), 0xC0000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x2, kBits), 0x80000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x4, kBits), 0x30000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x8, kBits), 0x20000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x10, kBits), 0x0C000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x20, kBits), 0x08000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x40, kBits), 0x03000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0x80, kBits), 0x02000000u);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0xFF, kBits), kScaleCapabilityMask);
    EXPECT_EQ(ScaleCapabilitiesFromEffects(0xFFFFFF00, kBits), 0u);  // bits of other effects
}

BlitTarget At(int32_t x, int32_t y, uint32_t w, uint32_t h, uint32_t sw, uint32_t sh) {
    BlitTarget t;
    t.width = w, t.height = h, t.screen_x = x, t.screen_y = y;
    t.scaled_width = sw, t.scaled_height = sh;
    return t;
}

TEST(PlaceOverlay, InsideTheScreenShowsEverything) {
    const OverlayPlacement p = PlaceOverlay(At(10, 20, 320, 240, 640, 480), 1024, 768);
    ASSERT_FALSE(p.empty);
    EXPECT_EQ(p.source.left, 0);
    EXPECT_EQ(p.source.right, 320);
    EXPECT_EQ(p.source.bottom, 240);
    EXPECT_EQ(p.destination.left, 10);
    EXPECT_EQ(p.destination.right, 650);
    EXPECT_EQ(p.destination.bottom, 500);
}

TEST(PlaceOverlay, EdgesOffTheScreenCutDestinationAndSourceAlike) {
    // Dragged 30 pixels off the left and 5 off the top.
    OverlayPlacement p = PlaceOverlay(At(-30, -5, 320, 240, 320, 240), 1024, 768);
    ASSERT_FALSE(p.empty);
    EXPECT_EQ(p.destination.left, 0);
    EXPECT_EQ(p.destination.top, 0);
    EXPECT_EQ(p.source.left, 30);
    EXPECT_EQ(p.source.top, 5);
    EXPECT_EQ(p.source.right, 320);
    // 20 pixels past the right and 1 past the bottom.
    p = PlaceOverlay(At(724, 529, 320, 240, 320, 240), 1024, 768);
    ASSERT_FALSE(p.empty);
    EXPECT_EQ(p.destination.right, 1024);
    EXPECT_EQ(p.source.right, 300);
    EXPECT_EQ(p.destination.bottom, 768);
    EXPECT_EQ(p.source.bottom, 239);
    // One pixel left on the screen still shows; none left hides.
    EXPECT_FALSE(PlaceOverlay(At(-319, 0, 320, 240, 320, 240), 1024, 768).empty);
    EXPECT_TRUE(PlaceOverlay(At(-320, 0, 320, 240, 320, 240), 1024, 768).empty);
    EXPECT_TRUE(PlaceOverlay(At(1024, 0, 320, 240, 320, 240), 1024, 768).empty);
    EXPECT_TRUE(PlaceOverlay(At(0, 0, 320, 240, 0, 240), 1024, 768).empty);
}

}  // namespace
}  // namespace vemo
