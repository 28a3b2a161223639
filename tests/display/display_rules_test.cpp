// The display buffer's platform-neutral rules.
#include "vemo/display_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "vemo/display_device.h"

namespace vemo {
namespace {

constexpr int32_t F(SurfaceFormat f) {
    return static_cast<int32_t>(f);
}

PixelLayoutDescription Rgb(uint32_t bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0) {
    PixelLayoutDescription d;
    d.bits_per_pixel = bits;
    d.red_mask = r;
    d.green_mask = g;
    d.blue_mask = b;
    d.alpha_mask = a;
    return d;
}

TEST(SurfaceFormatOfTest, MapsEveryLayoutOfTheTable) {
    EXPECT_EQ(SurfaceFormatOf(Rgb(8, 0, 0, 0)), F(kSurfacePalette8));
    EXPECT_EQ(SurfaceFormatOf(Rgb(24, 0xFF0000, 0xFF00, 0xFF)), F(kSurfaceBgr24));
    EXPECT_EQ(SurfaceFormatOf(Rgb(24, 0xFF, 0xFF00, 0xFF0000)), F(kSurfaceRgb24));
    EXPECT_EQ(SurfaceFormatOf(Rgb(32, 0xFF0000, 0xFF00, 0xFF)), F(kSurfaceXrgb32));
    EXPECT_EQ(SurfaceFormatOf(Rgb(32, 0xFF, 0xFF00, 0xFF0000)), F(kSurfaceXbgr32));
    EXPECT_EQ(SurfaceFormatOf(Rgb(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)), F(kSurfaceArgb32));
    EXPECT_EQ(SurfaceFormatOf(Rgb(32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000)), F(kSurfaceAbgr32));
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0x0F00, 0x00F0, 0x000F, 0xF000)), F(kSurfaceArgb4444));
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0x7C00, 0x03E0, 0x001F, 0x8000)), F(kSurfaceArgb1555));
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0x7C00, 0x03E0, 0x001F)), F(kSurfaceRgb555));
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0xF800, 0x07E0, 0x001F)), F(kSurfaceRgb565));
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0xFC00, 0x03E0, 0x001F)), F(kSurfaceRgb655));
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0xFC00, 0x03F0, 0x000F)), F(kSurfaceRgb664));
    PixelLayoutDescription yuv;
    yuv.fourcc = kFourCcYuy2;
    EXPECT_EQ(SurfaceFormatOf(yuv), F(kSurfaceYuy2));
    yuv.fourcc = kFourCcUyvy;
    EXPECT_EQ(SurfaceFormatOf(yuv), F(kSurfaceUyvy));
    yuv.fourcc = kFourCcYv12;
    EXPECT_EQ(SurfaceFormatOf(yuv), F(kSurfaceYv12));
}

TEST(SurfaceFormatOfTest, FourCcComesFirstAndUnknownLayoutsAreRejected) {
    PixelLayoutDescription d = Rgb(16, 0xF800, 0x07E0, 0x001F);
    d.fourcc = kFourCcYv12;
    EXPECT_EQ(SurfaceFormatOf(d), F(kSurfaceYv12));
    d.fourcc = MakeFourCc('N', 'V', '1', '2');
    EXPECT_EQ(SurfaceFormatOf(d), -1);
    EXPECT_EQ(SurfaceFormatOf(Rgb(16, 0x001F, 0x07E0, 0xF800)), -1);  // BGR 5-6-5
    EXPECT_EQ(SurfaceFormatOf(Rgb(15, 0x7C00, 0x03E0, 0x001F)), -1);
    EXPECT_EQ(SurfaceFormatOf(Rgb(0, 0, 0, 0)), -1);
    // 24 bits are told apart only by the red mask: a green-first layout is 2.
    EXPECT_EQ(SurfaceFormatOf(Rgb(24, 0xFF00, 0xFF, 0xFF0000)), F(kSurfaceRgb24));
}

TEST(ScaleNeedsTest, WidthAndHeightBits) {
    EXPECT_EQ(WidthScaleNeeds(320, 320), 0u);
    EXPECT_EQ(WidthScaleNeeds(320, 640), kScaleWidthStretchInteger);
    EXPECT_EQ(WidthScaleNeeds(320, 960), kScaleWidthStretchInteger);
    EXPECT_EQ(WidthScaleNeeds(320, 500), kScaleWidthStretchAny);
    EXPECT_EQ(WidthScaleNeeds(320, 160), kScaleWidthShrinkInteger);
    EXPECT_EQ(WidthScaleNeeds(320, 200), kScaleWidthShrinkAny);
    EXPECT_EQ(HeightScaleNeeds(240, 480), kScaleHeightStretchInteger);
    EXPECT_EQ(HeightScaleNeeds(240, 300), kScaleHeightStretchAny);
    EXPECT_EQ(HeightScaleNeeds(240, 80), kScaleHeightShrinkInteger);
    EXPECT_EQ(HeightScaleNeeds(240, 100), kScaleHeightShrinkAny);
    EXPECT_EQ(HeightScaleNeeds(240, 240), 0u);
}

TEST(ClearSurfaceTest, Yuy2PairsAndOddLastPixel) {
    const uint32_t width = 5, height = 3;
    const int32_t pitch = 12;
    std::vector<uint8_t> pixels(pitch * height, 0x55);
    ASSERT_TRUE(ClearSurfacePixels(kSurfaceYuy2, pixels.data(), pitch, width, height, 2));
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t i = 0; i < 2 * width; ++i) {
            EXPECT_EQ(pixels[y * pitch + i], i % 2 == 0 ? 0x00 : 0x80) << y << "," << i;
        }
        EXPECT_EQ(pixels[y * pitch + 10], 0x55);  // beyond the row: untouched
        EXPECT_EQ(pixels[y * pitch + 11], 0x55);
    }
}

TEST(ClearSurfaceTest, UyvyPairs) {
    std::vector<uint8_t> pixels(8, 0x55);
    ASSERT_TRUE(ClearSurfacePixels(kSurfaceUyvy, pixels.data(), 8, 3, 1, 2));
    const uint8_t expected[8] = {0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x55, 0x55};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(pixels[i], expected[i]) << i;
}

TEST(ClearSurfaceTest, Yv12LumaAndTwoChromaPlanes) {
    const uint32_t width = 6, height = 5;
    const int32_t pitch = 8;
    // Luma 5 rows of 8, then two planes of 2 rows of 4 bytes.
    std::vector<uint8_t> pixels(pitch * height + 2 * 2 * 4 + 4, 0x55);
    ASSERT_TRUE(ClearSurfacePixels(kSurfaceYv12, pixels.data(), pitch, width, height, 1));
    for (uint32_t y = 0; y < height; ++y) {
        for (int x = 0; x < pitch; ++x) {
            EXPECT_EQ(pixels[y * pitch + x], x < 6 ? 16 : 0x55) << y << "," << x;
        }
    }
    const uint8_t* chroma = pixels.data() + pitch * height;
    for (int row = 0; row < 4; ++row) {
        for (int x = 0; x < 4; ++x) EXPECT_EQ(chroma[row * 4 + x], x < 3 ? 128 : 0x55);
    }
    for (int i = 16; i < 20; ++i) EXPECT_EQ(chroma[i], 0x55);  // nothing past the U plane
}

TEST(ClearSurfaceTest, Yv12OfOneRowHasNoChroma) {
    std::vector<uint8_t> pixels(16, 0x55);
    ASSERT_TRUE(ClearSurfacePixels(kSurfaceYv12, pixels.data(), 8, 8, 1, 1));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(pixels[i], 16);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(pixels[i], 0x55);
}

TEST(ClearSurfaceTest, RgbFormatsZeroTheRowAndOthersAreLeft) {
    std::vector<uint8_t> pixels(2 * 16, 0x55);
    ASSERT_TRUE(ClearSurfacePixels(kSurfaceXrgb32, pixels.data(), 16, 3, 2, 4));
    for (int y = 0; y < 2; ++y) {
        for (int i = 0; i < 16; ++i) EXPECT_EQ(pixels[y * 16 + i], i < 12 ? 0 : 0x55);
    }
    for (int32_t format : {kSurfaceRgb24, kSurfaceXbgr32, kSurfaceArgb32, kSurfaceAbgr32,
                           kSurfaceArgb4444, kSurfaceArgb1555}) {
        std::vector<uint8_t> other(32, 0x55);
        ASSERT_TRUE(ClearSurfacePixels(format, other.data(), 16, 2, 2, 4));
        for (uint8_t v : other) EXPECT_EQ(v, 0x55) << format;
    }
}

TEST(ClearSurfaceTest, RefusesPitchesThatCannotHoldARow) {
    std::vector<uint8_t> pixels(64, 0x55);
    EXPECT_FALSE(ClearSurfacePixels(kSurfaceYuy2, pixels.data(), 8, 5, 2, 2));
    EXPECT_FALSE(ClearSurfacePixels(kSurfaceXrgb32, pixels.data(), -16, 2, 2, 4));
    for (uint8_t v : pixels) EXPECT_EQ(v, 0x55);
    EXPECT_EQ(SurfaceBytesNeeded(kSurfaceYv12, 8, 5), 40u + 16u);
    EXPECT_EQ(SurfaceBytesNeeded(kSurfaceYuy2, 12, 3), 36u);
    EXPECT_EQ(SurfaceBytesNeeded(kSurfaceYuy2, -12, 3), 0u);
}

TEST(AdjustWindowPositionTest, RoundsTheClientOriginPerScreenDepth) {
    PositionRules rules;
    rules.client_offset_x = 3;
    rules.client_offset_y = 22;
    rules.screen_width = 1024;
    rules.screen_height = 768;
    rules.buffer_width = 320;
    rules.buffer_height = 240;
    rules.screen_bytes_per_pixel = 4;
    EXPECT_EQ(AdjustWindowX(rules, 100), 104 - 3);  // client x 103 -> 104
    rules.screen_bytes_per_pixel = 3;
    EXPECT_EQ(AdjustWindowX(rules, 100), 104 - 3);  // 103 -> 104 (multiple of 8)
    EXPECT_EQ(AdjustWindowX(rules, 102), 112 - 3);  // 105 -> 112
    rules.screen_bytes_per_pixel = 2;
    EXPECT_EQ(AdjustWindowX(rules, 102), 108 - 3);  // 105 -> 108
    EXPECT_EQ(AdjustWindowX(rules, -10), -4 - 3);   // -7 -> -4, rounding up
    EXPECT_EQ(AdjustWindowY(rules, 77), 77);        // y is not rounded
}

TEST(AdjustWindowPositionTest, DirectStyleKeepsTheBufferOnTheScreen) {
    PositionRules rules;
    rules.client_offset_x = 4;
    rules.client_offset_y = 20;
    rules.clamp_to_screen = true;
    rules.screen_width = 640;
    rules.screen_height = 480;
    rules.buffer_width = 320;
    rules.buffer_height = 240;
    rules.screen_bytes_per_pixel = 4;
    EXPECT_EQ(AdjustWindowX(rules, 500), 320 - 4);
    EXPECT_EQ(AdjustWindowX(rules, -50), 0 - 4);
    EXPECT_EQ(AdjustWindowY(rules, 400), 240 - 20);
    EXPECT_EQ(AdjustWindowY(rules, -30), -20);
}

TEST(RectRulesTest, ScaleAndClip) {
    const DisplayRect r = ScaleRectToShown({16, 32, 16, 16}, 320, 240, 640, 480, 10, 20);
    EXPECT_EQ(r.x, 42);
    EXPECT_EQ(r.y, 84);
    EXPECT_EQ(r.width, 32);
    EXPECT_EQ(r.height, 32);
    const DisplayRect big = ScaleRectToShown({0, 0, 320, 240}, 320, 240, 500, 375, 0, 0);
    EXPECT_EQ(big.width, 500);
    EXPECT_EQ(big.height, 375);
    DisplayRect c{300, -8, 48, 24};
    ASSERT_TRUE(ClipRectToBuffer(&c, 320, 240));
    EXPECT_EQ(c.x, 300);
    EXPECT_EQ(c.y, 0);
    EXPECT_EQ(c.width, 20);
    EXPECT_EQ(c.height, 16);
    DisplayRect outside{320, 0, 16, 16};
    EXPECT_FALSE(ClipRectToBuffer(&outside, 320, 240));
    DisplayRect huge{0x7FFFFFF0, 0, 0x7FFFFFF0, 16};
    EXPECT_FALSE(ClipRectToBuffer(&huge, 320, 240));
}

TEST(SoftwareRowTest, RowsAreMultiplesOf32Bytes) {
    EXPECT_EQ(SoftwareRowPixels(320, 4), 320u);
    EXPECT_EQ(SoftwareRowPixels(321, 4), 328u);
    EXPECT_EQ(SoftwareRowPixels(10, 3), 32u);
    EXPECT_EQ(SoftwareRowPixels(33, 2), 48u);
}

TEST(DepthWalkTest, ListsPerCode) {
    uint32_t d[3];
    ASSERT_EQ(DepthsToTry(1, d), 3);
    EXPECT_EQ(d[0], 16u);
    EXPECT_EQ(d[1], 32u);
    EXPECT_EQ(d[2], 24u);
    ASSERT_EQ(DepthsToTry(2, d), 3);
    EXPECT_EQ(d[0], 32u);
    EXPECT_EQ(d[2], 16u);
    ASSERT_EQ(DepthsToTry(3, d), 2);
    EXPECT_EQ(d[1], 24u);
    ASSERT_EQ(DepthsToTry(16, d), 1);
    EXPECT_EQ(d[0], 16u);
    EXPECT_EQ(DepthsToTry(0, d), 0);
    EXPECT_EQ(DepthsToTry(15, d), 0);
}

// A device that takes the depths in `accepted` and reports `reported`.
struct FakeModes {
    std::vector<uint32_t> accepted;
    uint32_t reported = 0;  // 0: the depth asked for
    std::vector<uint32_t> tried;
    int undos = 0;
    ModeAttempt Attempt() {
        return [this](uint32_t, uint32_t, uint32_t depth, uint32_t* now) {
            tried.push_back(depth);
            for (uint32_t a : accepted) {
                if (a == depth) {
                    *now = reported ? reported : depth;
                    return true;
                }
            }
            return false;
        };
    }
};

TEST(DepthWalkTest, AcceptedButReportedOtherwiseGoesOn) {
    FakeModes modes;
    modes.accepted = {16, 32, 24};
    modes.reported = 8;
    EXPECT_TRUE(WalkDisplayDepths({640, 480, 1}, false, modes.Attempt(), nullptr));
    EXPECT_EQ(modes.tried, (std::vector<uint32_t>{16, 32, 24}));
}

TEST(DepthWalkTest, StopsAtTheFirstDepthTheScreenShows) {
    FakeModes modes;
    modes.accepted = {32, 24};
    EXPECT_TRUE(WalkDisplayDepths({640, 480, 1}, false, modes.Attempt(), nullptr));
    EXPECT_EQ(modes.tried, (std::vector<uint32_t>{16, 32}));
}

TEST(DepthWalkTest, RejectedExactDepthKeepsTheModeOnTheDevicePath) {
    FakeModes modes;
    modes.accepted = {32};
    EXPECT_FALSE(WalkDisplayDepths({640, 480, 16}, false, modes.Attempt(), nullptr));
    EXPECT_EQ(modes.tried, (std::vector<uint32_t>{16}));
}

TEST(DepthWalkTest, DevicelessPathUndoesAndFallsBackToTheResolution) {
    FakeModes modes;
    modes.accepted = {16, 0};
    modes.reported = 32;
    int undos = 0;
    EXPECT_TRUE(WalkDisplayDepths({640, 480, 16}, true, modes.Attempt(), [&] { ++undos; }));
    EXPECT_EQ(modes.tried, (std::vector<uint32_t>{16, 0}));
    EXPECT_EQ(undos, 1);
}

TEST(ColourKeyTest, DarkestMagentaOrIndex253) {
    EXPECT_EQ(ColourKeyFor(8, 0, 0), 253u);
    EXPECT_EQ(ColourKeyFor(16, 0xF800, 0x001F), 0x0801u);
    EXPECT_EQ(ColourKeyFor(16, 0x7C00, 0x001F), 0x0401u);
    EXPECT_EQ(ColourKeyFor(32, 0xFF0000, 0xFF), 0x010001u);
}

// Style walk with a scripted attempt.
struct Walk {
    StyleWalkSetup setup;
    std::vector<uint32_t> works;                           // styles whose attempt succeeds
    std::vector<std::pair<uint32_t, std::string>> errors;  // texts attempts set
    std::vector<uint32_t> tried;
    StyleWalkResult Run() {
        return WalkBlitStyles(setup, [this](uint32_t style, std::string* error) {
            tried.push_back(style);
            for (auto& e : errors) {
                if (e.first == style) *error = e.second;
            }
            for (uint32_t w : works) {
                if (w == style) return true;
            }
            return false;
        });
    }
};

TEST(StyleWalkTest, AutomaticTakesTheSoftwareStyleBeforeAnyOverlay) {
    Walk w;
    w.setup.device_available = true;
    w.setup.screen_bits_per_pixel = 32;
    w.setup.overlay_capabilities = kScaleCapabilityMask;
    w.works = {2, 3, 4};
    EXPECT_EQ(w.Run().style, 2u);
    EXPECT_EQ(w.tried, (std::vector<uint32_t>{1, 2}));
}

TEST(StyleWalkTest, AutomaticWithoutDeviceTriesOnlyTheSoftwareStyle) {
    Walk w;
    w.setup.screen_bits_per_pixel = 16;
    const StyleWalkResult r = w.Run();
    EXPECT_EQ(r.style, 0u);
    EXPECT_EQ(r.error, kDisplayErrorNoStyle);
    EXPECT_EQ(w.tried, (std::vector<uint32_t>{2}));
    w.setup.screen_bits_per_pixel = 8;
    EXPECT_EQ(w.Run().error, kDisplayError256Colours);
}

TEST(StyleWalkTest, AskedStyleIsTriedAloneWithItsOwnMessages) {
    Walk w;
    w.setup.device_available = true;
    w.setup.screen_bits_per_pixel = 32;
    w.setup.asked_style = kBlitYuy2Overlay;
    w.works = {5, 6};
    StyleWalkResult r = w.Run();
    EXPECT_EQ(r.style, 0u);
    EXPECT_EQ(r.error, kDisplayErrorNoStyle);
    EXPECT_EQ(w.tried, (std::vector<uint32_t>{4}));

    w.setup.asked_style = kBlitRgbVideo;
    w.errors = {{9, kDisplayErrorVideoMode}};
    EXPECT_EQ(w.Run().error, kDisplayErrorVideoMode);

    w.setup.device_available = false;
    EXPECT_EQ(w.Run().error, kDisplayErrorNoDevice);

    w.setup.asked_style = kBlitDibSection;
    w.errors.clear();
    EXPECT_EQ(w.Run().error, kDisplayErrorDibSection);
    w.setup.screen_bits_per_pixel = 8;
    EXPECT_EQ(w.Run().error, kDisplayError256Colours);

    w.setup.asked_style = 17;  // no such style
    w.setup.device_available = true;
    w.tried.clear();
    EXPECT_EQ(w.Run().style, 0u);
    EXPECT_TRUE(w.tried.empty());
}

TEST(StyleWalkTest, AutomaticWalkMessageReplacesStyleTexts) {
    Walk w;
    w.setup.device_available = true;
    w.setup.screen_bits_per_pixel = 32;
    w.errors = {{9, kDisplayErrorVideoMode}};
    const StyleWalkResult r = w.Run();
    EXPECT_EQ(r.error, kDisplayErrorNoStyle);
    EXPECT_EQ(w.tried.size(), 10u);
}

TEST(StyleWalkTest, WantedScalingSkipsStylesThatCannotScale) {
    Walk w;
    w.setup.device_available = true;
    w.setup.screen_bits_per_pixel = 32;
    w.setup.wanted_capabilities = kScaleWidthStretchInteger | kScaleHeightStretchInteger;
    w.setup.overlay_capabilities = kScaleWidthStretchInteger;  // not enough
    w.setup.blit_capabilities = kScaleCapabilityMask;
    w.works = {1, 3, 6};
    EXPECT_EQ(w.Run().style, 6u);
    EXPECT_EQ(w.tried, (std::vector<uint32_t>{2, 6}));
    EXPECT_TRUE(StyleCanScale(1, 0, 0, 0));
    EXPECT_FALSE(StyleCanScale(1, kScaleWidthStretchAny, ~0u, ~0u));
    EXPECT_TRUE(StyleCanScale(2, kScaleCapabilityMask, 0, 0));
}

}  // namespace
}  // namespace vemo
