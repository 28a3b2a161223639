// The display buffer's operations over a scripted display system.
#include "vemo/display_buffer.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "vemo/display_rules.h"

namespace vemo {
namespace {

struct FakeSystem;

class FakeSurface : public DisplaySurface {
  public:
    FakeSurface(FakeSystem* system, int32_t format, uint32_t width, uint32_t height)
        : system_(system), format_(format), pitch_(static_cast<int32_t>(width) * 4 + 8) {
        pixels_.assign(static_cast<size_t>(pitch_) * height * 2, 0x55);
    }
    ~FakeSurface() override;
    int32_t format() const override { return format_; }
    LockResult Lock(const BlitTarget& target, uint8_t** pixels, int32_t* pitch) override;
    void Unlock() override;
    void Show(const DisplayRect* rects, int count, const BlitTarget& target) override;

    FakeSystem* system_;
    int32_t format_;
    int32_t pitch_;
    std::vector<uint8_t> pixels_;
    bool locked_ = false;
};

struct FakeSystem : DisplaySystem {
    bool device_works = true;
    int starts = 0, stops = 0, restores = 0;
    std::vector<uint32_t> mode_depths;
    DisplayScreen screen{1024, 768, 32, 4};
    uint32_t overlay_caps = kScaleWidthStretchInteger | kScaleHeightStretchInteger;
    uint32_t blit_caps = kScaleCapabilityMask;
    std::set<uint32_t> working_styles{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<uint32_t> created;
    int live_surfaces = 0;
    int lock_calls = 0, unlocks = 0;
    WindowGeometry geometry;
    // Lock script: results handed out in order, then kLockKept.
    std::vector<DisplaySurface::LockResult> locks;
    std::vector<std::vector<DisplayRect>> shows;  // empty vector = whole buffer
    BlitTarget last_target;
    int32_t rgb_format = kSurfaceXrgb32;

    FakeSystem() {
        geometry.valid = true;
        geometry.visible = true;
        geometry.window_x = 100;
        geometry.window_y = 50;
        geometry.client_x = 104;
        geometry.client_y = 80;
        geometry.window_width = 328;
        geometry.window_height = 274;
        geometry.client_width = 320;
        geometry.client_height = 240;
    }
    bool StartDevice(DisplayWindow) override {
        if (!device_works) return false;
        ++starts;
        return true;
    }
    void StopDevice() override { ++stops; }
    DisplayScreen ReadScreen(DisplayWindow) override { return screen; }
    uint32_t OverlayCapabilities() override { return overlay_caps; }
    uint32_t BlitCapabilities() override { return blit_caps; }
    bool SetMode(DisplayWindow, uint32_t, uint32_t, uint32_t depth, uint32_t* now) override {
        mode_depths.push_back(depth);
        *now = depth;
        return true;
    }
    void RestoreMode(DisplayWindow) override { ++restores; }
    WindowGeometry Geometry(DisplayWindow) override { return geometry; }
    DisplaySurface* CreateSurface(DisplayWindow, uint32_t style, uint32_t width, uint32_t height,
                                  const DisplayScreen&) override {
        created.push_back(style);
        if (!working_styles.count(style)) return nullptr;
        int32_t format = rgb_format;
        if (style == 3 || style == 6) format = kSurfaceYv12;
        if (style == 4 || style == 7) format = kSurfaceYuy2;
        if (style == 5 || style == 8) format = kSurfaceUyvy;
        ++live_surfaces;
        return new FakeSurface(this, format, width, height);
    }
    const char* StyleName(uint32_t style) const override {
        return style == 2 ? "fake software" : "fake other";
    }
};

FakeSurface::~FakeSurface() {
    --system_->live_surfaces;
}

void FakeSurface::Unlock() {
    locked_ = false;
    ++system_->unlocks;
}

DisplaySurface::LockResult FakeSurface::Lock(const BlitTarget&, uint8_t** pixels, int32_t* pitch) {
    LockResult r = kLockKept;
    ++system_->lock_calls;
    if (!system_->locks.empty()) {
        r = system_->locks.front();
        system_->locks.erase(system_->locks.begin());
    }
    if (r == kLockFailed) return r;
    locked_ = true;
    *pixels = pixels_.data();
    *pitch = pitch_;
    return r;
}

void FakeSurface::Show(const DisplayRect* rects, int count, const BlitTarget& target) {
    system_->last_target = target;
    system_->shows.emplace_back(rects ? std::vector<DisplayRect>(rects, rects + count)
                                      : std::vector<DisplayRect>{});
}

class DisplayBufferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetDisplayState();
        SetDisplaySystem(&system_);
    }
    void TearDown() override {
        SetDisplaySystem(nullptr);
        ResetDisplayState();
    }
    DisplayWindow window_ = reinterpret_cast<DisplayWindow>(0x1000);
    FakeSystem system_;
};

TEST_F(DisplayBufferTest, AutomaticTakesTheSoftwareStyleWhenTheDirectStyleFails) {
    system_.working_styles.erase(1);
    DisplayBuffer* b = OpenDisplayBuffer(window_, 320, 240, 0);
    ASSERT_NE(b, nullptr) << GetLastDisplayError();
    EXPECT_EQ(b->style, 2u);
    EXPECT_EQ(system_.created, (std::vector<uint32_t>{1, 2}));
    EXPECT_STREQ(GetBlitStyleName(b), "fake software");
    EXPECT_EQ(b->capabilities, kScaleCapabilityMask);
    EXPECT_EQ(b->surface_type & kSurfaceTypeFormatMask, static_cast<uint32_t>(kSurfaceXrgb32));
    EXPECT_EQ(b->surface_type & kSurfaceTypeBoundingRect, 0u);  // no scaling asked
    EXPECT_EQ(b->client_offset_x, 4);
    EXPECT_EQ(b->client_offset_y, 30);
    EXPECT_EQ(b->non_client_width, 8);
    EXPECT_EQ(b->non_client_height, 34);
    EXPECT_EQ(b->window_width, 328u);
    EXPECT_EQ(b->window_height, 274u);
    EXPECT_EQ(b->destination_screen_x, 104);
    EXPECT_EQ(b->screen_bits_per_pixel, 32u);
    CloseDisplayBuffer(b);
    EXPECT_EQ(system_.live_surfaces, 0);
    EXPECT_EQ(system_.stops, 1);
}

TEST_F(DisplayBufferTest, AskedStyleDoesNotFallBackAndGivesEverythingBack) {
    system_.working_styles.erase(4);
    EXPECT_EQ(OpenDisplayBuffer(window_, 320, 240, kBlitYuy2Overlay), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), "No capable blitting style available.");
    EXPECT_EQ(system_.created, (std::vector<uint32_t>{4}));
    EXPECT_EQ(system_.stops, system_.starts);
    EXPECT_FALSE(DisplayDeviceInUse());

    system_.device_works = false;
    EXPECT_EQ(OpenDisplayBuffer(window_, 320, 240, kBlitYv12Overlay), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), "DirectDraw is not available");
    EXPECT_EQ(OpenDisplayBuffer(window_, 0, 240, 0), nullptr);
    EXPECT_EQ(OpenDisplayBuffer(window_, 320, 0x10000, 0), nullptr);
}

TEST_F(DisplayBufferTest, UnknownRgbLayoutIsAVideoModeError) {
    system_.rgb_format = -1;
    EXPECT_EQ(OpenDisplayBuffer(window_, 64, 64, kBlitRgbSystem), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), "Video mode not supported.");
    EXPECT_EQ(system_.live_surfaces, 0);
    system_.screen = DisplayScreen{640, 480, 8, 1};
    system_.rgb_format = kSurfacePalette8;
    system_.working_styles = {1, 2, 9, 10};
    EXPECT_EQ(OpenDisplayBuffer(window_, 64, 64, 0), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), "256 color mode not supported.");
    EXPECT_EQ(OpenDisplayBuffer(window_, 64, 64, kBlitDibSection), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), "256 color mode not supported.");
    EXPECT_EQ(system_.live_surfaces, 0);
}

TEST_F(DisplayBufferTest, NewOverlaysAreClearedToBlack) {
    DisplayBuffer* b = OpenDisplayBuffer(window_, 5, 2, kBlitYuy2Overlay);
    ASSERT_NE(b, nullptr);
    auto* s = static_cast<FakeSurface*>(b->surface);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(s->pixels_[i], i % 2 ? 0x80 : 0x00);
    EXPECT_EQ(s->pixels_[10], 0x55);
    EXPECT_EQ(b->surface_type & kSurfaceTypeNoRects, kSurfaceTypeNoRects);
    EXPECT_EQ(b->is_overlay, 1u);
    CloseDisplayBuffer(b);
}

TEST_F(DisplayBufferTest, ScaleFollowsTheCapabilities) {
    // The direct style scales nothing: the previous width stays.
    DisplayBuffer* b = OpenDisplayBuffer(window_, 320, 240, kBlitPrimary);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SetDisplayBufferScale(b, 640, 240), 0);
    EXPECT_EQ(b->scaled_width, 320u);
    EXPECT_EQ(SetDisplayBufferScale(b, 500, 240), 0);
    EXPECT_EQ(b->scaled_width, 320u);
    CloseDisplayBuffer(b);

    // Overlays with integer stretching only: 640 yes, 500 no.
    b = OpenDisplayBuffer(window_, 320, 240, kBlitYv12Overlay);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SetDisplayBufferScale(b, 640, 480), 1);
    EXPECT_EQ(b->scaled_width, 640u);
    EXPECT_EQ(b->window_width, 648u);
    EXPECT_EQ(b->window_height, 514u);
    EXPECT_EQ(SetDisplayBufferScale(b, 500, 480), 0);
    EXPECT_EQ(b->scaled_width, 640u);
    EXPECT_EQ(b->scaled_height, 480u);  // the height was accepted alone
    CloseDisplayBuffer(b);

    // The software style scales anything; 0 means the screen size.
    b = OpenDisplayBuffer(window_, 320, 240, kBlitDibSection | kScaleWidthStretchAny);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->surface_type & kSurfaceTypeBoundingRect, kSurfaceTypeBoundingRect);
    EXPECT_EQ(SetDisplayBufferScale(b, 500, 0), 1);
    EXPECT_EQ(b->scaled_width, 500u);
    EXPECT_EQ(b->scaled_height, 768u);
    EXPECT_EQ(SetDisplayBufferScale(b, 0x80000000u, 480), 0);  // no such window
    EXPECT_EQ(b->scaled_width, 500u);
    EXPECT_EQ(b->scaled_height, 480u);
    CloseDisplayBuffer(b);
}

TEST_F(DisplayBufferTest, RewriteBitFollowsOffsetsLocksAndUnlocks) {
    DisplayBuffer* b = OpenDisplayBuffer(window_, 64, 32, kBlitRgbVideo);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b->surface_type & kSurfaceTypeRewrite, 0u);  // set by the first offset
    ASSERT_EQ(LockDisplayBuffer(b), 1);
    EXPECT_NE(b->pointer, nullptr);
    EXPECT_EQ(b->pitch, 64 * 4 + 8);
    UnlockDisplayBuffer(b);
    EXPECT_EQ(b->surface_type & kSurfaceTypeRewrite, 0u);
    EXPECT_EQ(b->pointer, nullptr);

    system_.locks = {DisplaySurface::kLockFailed, DisplaySurface::kLockLost};
    EXPECT_EQ(LockDisplayBuffer(b), 0);
    EXPECT_NE(b->surface_type & kSurfaceTypeRewrite, 0u);
    EXPECT_EQ(LockDisplayBuffer(b), 1);
    EXPECT_NE(b->surface_type & kSurfaceTypeRewrite, 0u);  // contents lost: copy all
    UnlockDisplayBuffer(b);

    EXPECT_EQ(SetDisplayBufferOffset(b, 10, 20), 1);
    EXPECT_EQ(b->destination_screen_x, 114);
    EXPECT_EQ(b->destination_screen_y, 100);
    EXPECT_EQ(b->destination_client_x, 10);
    EXPECT_NE(b->surface_type & kSurfaceTypeRewrite, 0u);

    system_.geometry.minimised = true;
    EXPECT_EQ(SetDisplayBufferOffset(b, 0, 0), 1);
    EXPECT_EQ(b->minimised, 1u);
    EXPECT_EQ(b->destination_client_x, 10);  // kept while minimised
    EXPECT_EQ(LockDisplayBuffer(b), 0);
    EXPECT_EQ(BlitDisplayBuffer(b, nullptr, 0), 0);
    CloseDisplayBuffer(b);
}

TEST_F(DisplayBufferTest, LockingTwiceOrClosingWhileLockedIsSafe) {
    DisplayBuffer* b = OpenDisplayBuffer(window_, 64, 32, kBlitRgbSystem);
    ASSERT_NE(b, nullptr);
    const int locks = system_.lock_calls, unlocks = system_.unlocks;
    ASSERT_EQ(LockDisplayBuffer(b), 1);
    uint8_t* first = b->pointer;
    ASSERT_EQ(LockDisplayBuffer(b), 1);
    EXPECT_EQ(b->pointer, first);
    EXPECT_EQ(system_.lock_calls, locks + 1);
    CloseDisplayBuffer(b);
    EXPECT_EQ(system_.unlocks, unlocks + 1);
    EXPECT_EQ(system_.live_surfaces, 0);
}

TEST_F(DisplayBufferTest, BlitShowsListedRectsClippedOrTheWholeBuffer) {
    DisplayBuffer* b = OpenDisplayBuffer(window_, 64, 32, kBlitYuy2OffScreen);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(SetDisplayBufferScale(b, 128, 64), 1);
    EXPECT_EQ(BlitDisplayBuffer(b, nullptr, 0), 1);
    ASSERT_EQ(system_.shows.size(), 1u);
    EXPECT_TRUE(system_.shows[0].empty());
    EXPECT_EQ(system_.last_target.scaled_width, 128u);

    const DisplayRect rects[2] = {{0, 0, 16, 16}, {48, 16, 32, 32}};
    EXPECT_EQ(BlitDisplayBuffer(b, rects, 0), 1);
    EXPECT_EQ(system_.shows.size(), 1u);  // an empty list shows nothing
    EXPECT_EQ(BlitDisplayBuffer(b, rects, 2), 1);
    ASSERT_EQ(system_.shows.size(), 2u);
    ASSERT_EQ(system_.shows[1].size(), 2u);
    EXPECT_EQ(system_.shows[1][1].width, 16);
    EXPECT_EQ(system_.shows[1][1].height, 16);

    std::vector<DisplayRect> many(9, DisplayRect{0, 0, 16, 16});
    EXPECT_EQ(BlitDisplayBuffer(b, many.data(), 9), 1);
    EXPECT_TRUE(system_.shows[2].empty());  // more than eight: the whole buffer
    const DisplayRect outside{64, 0, 16, 16};
    EXPECT_EQ(BlitDisplayBuffer(b, &outside, 1), 1);
    EXPECT_EQ(system_.shows.size(), 3u);
    CloseDisplayBuffer(b);
}

TEST_F(DisplayBufferTest, ClearUsesTheSurfaceFormat) {
    DisplayBuffer* b = OpenDisplayBuffer(window_, 4, 2, kBlitYv12OffScreen);
    ASSERT_NE(b, nullptr);
    auto* s = static_cast<FakeSurface*>(b->surface);
    std::fill(s->pixels_.begin(), s->pixels_.end(), 0x55);
    ASSERT_EQ(ClearDisplayBuffer(b), 1);
    const int32_t pitch = s->pitch_;
    EXPECT_EQ(s->pixels_[0], 16);
    EXPECT_EQ(s->pixels_[pitch + 3], 16);
    EXPECT_EQ(s->pixels_[pitch + 4], 0x55);
    EXPECT_EQ(s->pixels_[2 * pitch], 128);              // V plane row 0
    EXPECT_EQ(s->pixels_[2 * pitch + pitch / 2], 128);  // U plane row 0
    system_.locks = {DisplaySurface::kLockFailed};
    EXPECT_EQ(ClearDisplayBuffer(b), 0);
    CloseDisplayBuffer(b);
}

TEST_F(DisplayBufferTest, DeviceIsSharedAndTheModeRequestAppliedOnce) {
    SetDisplayModeRequest(800, 600, kDepthTryTrueColour);
    DisplayBuffer* a = OpenDisplayBuffer(window_, 64, 64, kBlitRgbVideo | kDisplayOpenChangeMode);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(system_.mode_depths, (std::vector<uint32_t>{32}));
    EXPECT_EQ(GetDisplayModeRequest().width, 0u);
    DisplayBuffer* b = OpenDisplayBuffer(window_, 64, 64, kBlitRgbVideo | kDisplayOpenChangeMode);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(system_.starts, 1);
    // With the device in use the software style joins it instead of the mode path.
    DisplayBuffer* c = OpenDisplayBuffer(window_, 64, 64, kBlitDibSection);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->owns_device_use, 1u);
    EXPECT_EQ(c->owns_mode_use, 0u);
    CloseDisplayBuffer(a);
    CloseDisplayBuffer(c);
    EXPECT_EQ(system_.restores, 0);
    CloseDisplayBuffer(b);
    EXPECT_EQ(system_.restores, 1);
    EXPECT_EQ(system_.stops, 1);
}

TEST_F(DisplayBufferTest, SoftwareStyleAloneTakesTheModePath) {
    SetDisplayModeRequest(640, 480, 16);
    DisplayBuffer* b = OpenDisplayBuffer(window_, 64, 64, kBlitDibSection | kDisplayOpenChangeMode);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->owns_mode_use, 1u);
    EXPECT_EQ(b->owns_device_use, 0u);
    EXPECT_EQ(system_.starts, 0);
    EXPECT_EQ(system_.mode_depths, (std::vector<uint32_t>{16}));
    CloseDisplayBuffer(b);
    EXPECT_EQ(system_.restores, 1);
}

TEST_F(DisplayBufferTest, WindowPositionUsesTheBuffersOffsets) {
    DisplayBuffer* b = OpenDisplayBuffer(window_, 320, 240, kBlitPrimary);
    ASSERT_NE(b, nullptr);
    int32_t x = 2000, y = -100;
    AdjustWindowPosition(b, &x, &y);
    EXPECT_EQ(x, 1024 - 320 - 4);
    EXPECT_EQ(y, -30);
    AdjustWindowPosition(b, nullptr, &y);
    AdjustWindowPosition(b, &x, nullptr);
    CloseDisplayBuffer(b);
}

TEST_F(DisplayBufferTest, NoDisplaySystemFailsCleanly) {
    SetDisplaySystem(nullptr);
    EXPECT_EQ(OpenDisplayBuffer(window_, 64, 64, 0), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), "No capable blitting style available.");
    EXPECT_EQ(LockDisplayBuffer(nullptr), 0);
    EXPECT_EQ(BlitDisplayBuffer(nullptr, nullptr, 0), 0);
    EXPECT_STREQ(GetBlitStyleName(nullptr), "");
    CloseDisplayBuffer(nullptr);
}

}  // namespace
}  // namespace vemo
