// The SDL2 display system, headless (SDL's offscreen or dummy video driver)
// and, when VEMO_DISPLAY_X11 is set (the Xvfb run), in a real X window.
#include "display_sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/display_buffer.h"
#include "vemo/display_rules.h"

namespace vemo {
#ifdef VEMO_TEST_X11
// A real screenshot of the window (x11_grab.cpp): what X shows after the blit.
bool GrabX11Window(SDL_Window* window, int* width, int* height, std::vector<uint32_t>* argb);
#endif
namespace {

constexpr int32_t F(SurfaceFormat f) {
    return static_cast<int32_t>(f);
}

bool UnderX11() {
    return std::getenv("VEMO_DISPLAY_X11") != nullptr;
}

// Starts SDL's video once per process: headless unless the Xvfb run asks for X.
bool StartVideo() {
    static int started = -1;
    if (started >= 0) return started == 1;
    if (!UnderX11()) {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
                started = 0;
                return false;
            }
        }
    } else if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        started = 0;
        return false;
    }
    started = 1;
    // Keep the GL libraries loaded for the whole run, so that what they keep
    // for themselves is reported against them (and suppressed below) rather
    // than against unloaded code.
    SDL_GL_LoadLibrary(nullptr);
    return true;
}

struct Rgb {
    int r, g, b;
};

// The frame a blit showed, read just before the window was updated.
struct Readback {
    int width = 0, height = 0;
    std::vector<uint32_t> argb;
    int calls = 0;
    Rgb At(int x, int y) const {
        const uint32_t p = argb[static_cast<size_t>(y) * width + x];
        return Rgb{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
                   static_cast<int>(p & 0xFF)};
    }
};

void ReadFrame(DisplayWindow window, void* renderer, void* context) {
    auto* rb = static_cast<Readback*>(context);
    ++rb->calls;
    if (renderer) {
        auto* r = static_cast<SDL_Renderer*>(renderer);
        int w = 0, h = 0;
        if (SDL_GetRendererOutputSize(r, &w, &h) != 0) return;
        rb->width = w;
        rb->height = h;
        rb->argb.assign(static_cast<size_t>(w) * h, 0);
        SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_ARGB8888, rb->argb.data(), w * 4);
        return;
    }
    SDL_Surface* s = SDL_GetWindowSurface(static_cast<SDL_Window*>(window));
    if (!s) return;
    SDL_Surface* c = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_ARGB8888, 0);
    if (!c) return;
    rb->width = c->w;
    rb->height = c->h;
    rb->argb.assign(static_cast<size_t>(c->w) * c->h, 0);
    for (int y = 0; y < c->h; ++y) {
        std::memcpy(&rb->argb[static_cast<size_t>(y) * c->w],
                    static_cast<uint8_t*>(c->pixels) + static_cast<size_t>(y) * c->pitch,
                    static_cast<size_t>(c->w) * 4);
    }
    SDL_FreeSurface(c);
}

// The test picture: four quadrants of known colours.
const Rgb kQuadrantRgb[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
// For YUV surfaces: black, white, mid grey and a limited-range red.
struct Yuv {
    uint8_t y, u, v;
};
const Yuv kQuadrantYuv[4] = {{16, 128, 128}, {235, 128, 128}, {126, 128, 128}, {81, 90, 240}};
const Rgb kQuadrantYuvRgb[4] = {{0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {255, 0, 0}};

int Quadrant(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    return (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
}

// Writes a pixel of an RGB surface format.
bool PutRgb(int32_t format, uint8_t* p, const Rgb& c) {
    switch (format) {
        case kSurfaceBgr24:
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
            return true;
        case kSurfaceRgb24:
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
            return true;
        case kSurfaceXrgb32:
        case kSurfaceArgb32:
            p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
            return true;
        case kSurfaceXbgr32:
        case kSurfaceAbgr32:
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 0;
            return true;
        case kSurfaceRgb565: {
            const uint16_t v = static_cast<uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
            std::memcpy(p, &v, 2);
            return true;
        }
        case kSurfaceRgb555: {
            const uint16_t v = static_cast<uint16_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
            std::memcpy(p, &v, 2);
            return true;
        }
        default:
            return false;
    }
}

// Fills the locked buffer with the test picture; false for formats it
// does not know.
bool DrawPattern(DisplayBuffer* b) {
    const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
    const uint32_t w = b->width, h = b->height;
    uint8_t* base = b->pointer;
    const size_t pitch = static_cast<size_t>(b->pitch);
    if (format == kSurfaceYv12) {
        uint8_t* v = base + pitch * h;
        uint8_t* u = v + (pitch / 2) * (h / 2);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const Yuv& c = kQuadrantYuv[Quadrant(x, y, w, h)];
                base[y * pitch + x] = c.y;
                if (y % 2 == 0 && x % 2 == 0) {
                    u[(y / 2) * (pitch / 2) + x / 2] = c.u;
                    v[(y / 2) * (pitch / 2) + x / 2] = c.v;
                }
            }
        }
        return true;
    }
    if (format == kSurfaceYuy2 || format == kSurfaceUyvy) {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; x += 2) {
                const Yuv& c = kQuadrantYuv[Quadrant(x, y, w, h)];
                uint8_t* p = base + y * pitch + 2 * x;
                if (format == kSurfaceYuy2) {
                    p[0] = c.y, p[1] = c.u, p[2] = c.y, p[3] = c.v;
                } else {
                    p[0] = c.u, p[1] = c.y, p[2] = c.v, p[3] = c.y;
                }
            }
        }
        return true;
    }
    const uint32_t bytes = format == kSurfaceBgr24 || format == kSurfaceRgb24     ? 3
                           : format == kSurfaceRgb565 || format == kSurfaceRgb555 ? 2
                                                                                  : 4;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            if (!PutRgb(format, base + y * pitch + x * bytes, kQuadrantRgb[Quadrant(x, y, w, h)])) {
                return false;
            }
        }
    }
    return true;
}

bool IsYuv(const DisplayBuffer* b) {
    return (b->surface_type & kSurfaceTypeFormatMask) >= static_cast<uint32_t>(kSurfaceYuy2);
}

// Checks the centre of each quadrant of the shown picture.
void ExpectPattern(const Readback& rb, const DisplayBuffer* b, int origin_x, int origin_y,
                   const char* what) {
    ASSERT_GT(rb.width, 0) << what;
    const Rgb* expected = IsYuv(b) ? kQuadrantYuvRgb : kQuadrantRgb;
    const int tolerance = IsYuv(b) ? 24 : 8;
    const int sw = static_cast<int>(b->scaled_width), sh = static_cast<int>(b->scaled_height);
    for (int q = 0; q < 4; ++q) {
        const int x = origin_x + (q % 2 ? 3 * sw / 4 : sw / 4);
        const int y = origin_y + (q / 2 ? 3 * sh / 4 : sh / 4);
        ASSERT_LT(x, rb.width) << what;
        ASSERT_LT(y, rb.height) << what;
        const Rgb got = rb.At(x, y);
        EXPECT_NEAR(got.r, expected[q].r, tolerance) << what << " quadrant " << q;
        EXPECT_NEAR(got.g, expected[q].g, tolerance) << what << " quadrant " << q;
        EXPECT_NEAR(got.b, expected[q].b, tolerance) << what << " quadrant " << q;
    }
}

// The bytes of one row of pixels of a format.
uint32_t RowBytes(int32_t format, uint32_t w) {
    return format == kSurfaceYv12                               ? w
           : format == kSurfaceYuy2 || format == kSurfaceUyvy   ? 2 * w
           : format == kSurfaceBgr24 || format == kSurfaceRgb24 ? 3 * w
           : format >= static_cast<int32_t>(kSurfaceArgb4444) &&
                   format <= static_cast<int32_t>(kSurfaceRgb664)
               ? 2 * w
               : 4 * w;
}

// A locked buffer just cleared: black in the surface's own terms.
void ExpectClearedToBlack(const DisplayBuffer* b, int32_t format) {
    if (format == kSurfaceYv12) {
        EXPECT_EQ(b->pointer[0], 16);
        EXPECT_EQ(b->pointer[static_cast<size_t>(b->pitch) * b->height], 128);
    } else if (format == kSurfaceYuy2) {
        EXPECT_EQ(b->pointer[1], 0x80);
    } else if (format == kSurfaceUyvy) {
        EXPECT_EQ(b->pointer[0], 0x80);
    } else {
        EXPECT_EQ(b->pointer[0], 0);
    }
}

// In a locked buffer showing the test picture, copies rows of the
// bottom-right quadrant over the top-left 16x16 area.
void CopyBottomRightToTopLeft(DisplayBuffer* b, int32_t format, uint32_t row) {
    const uint32_t w = b->width, h = b->height;
    const size_t pitch = static_cast<size_t>(b->pitch);
    for (uint32_t y = 0; y < 16; ++y) {
        std::memcpy(b->pointer + y * pitch, b->pointer + (h - 1 - y) * pitch + row / 2, row / 4);
    }
    if (format == kSurfaceYv12) {
        uint8_t* v = b->pointer + pitch * h;
        uint8_t* u = v + (pitch / 2) * (h / 2);
        for (uint32_t y = 0; y < 8; ++y) {
            std::memcpy(v + y * (pitch / 2), v + (h / 2 - 1) * (pitch / 2) + w / 2 - 8, 8);
            std::memcpy(u + y * (pitch / 2), u + (h / 2 - 1) * (pitch / 2) + w / 2 - 8, 8);
        }
    }
}

class SdlDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!StartVideo()) GTEST_SKIP() << "no SDL video driver: " << SDL_GetError();
        ResetDisplayState();
        SetDisplaySystem(GetSdlDisplaySystem());
        SetSdlPresentHook(ReadFrame, &readback_);
    }
    void TearDown() override {
        SetSdlPresentHook(nullptr, nullptr);
        for (SDL_Window* w : windows_) SDL_DestroyWindow(w);
        SetDisplaySystem(nullptr);
        ResetDisplayState();
    }
    SDL_Window* NewWindow(int w, int h) {
        SDL_Window* window = SDL_CreateWindow("display test", 0, 0, w, h,
                                              UnderX11() ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
        if (window) windows_.push_back(window);
        return window;
    }
    // Clears, locks and fills a fresh buffer with the test picture, then
    // shows it whole.
    void DrawAndShow(DisplayBuffer* b) {
        ASSERT_EQ(ClearDisplayBuffer(b), 1);
        ASSERT_EQ(LockDisplayBuffer(b), 1);
        ASSERT_NE(b->pointer, nullptr);
        const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
        EXPECT_GE(b->pitch, static_cast<int32_t>(RowBytes(format, b->width)));
        ExpectClearedToBlack(b, format);
        ASSERT_TRUE(DrawPattern(b)) << "format " << format;
        UnlockDisplayBuffer(b);
        EXPECT_EQ(b->surface_type & kSurfaceTypeRewrite, 0u);

        readback_ = Readback{};
        ASSERT_EQ(BlitDisplayBuffer(b, nullptr, 0), 1);
        EXPECT_EQ(readback_.calls, 1);
        ExpectPattern(readback_, b, 0, 0, GetBlitStyleName(b));
    }
    // A changed area: the top-left quadrant turns into the bottom-right one
    // and only that area is shown again.
    void ShowChangedArea(DisplayBuffer* b) {
        ASSERT_EQ(LockDisplayBuffer(b), 1);
        const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
        CopyBottomRightToTopLeft(b, format, RowBytes(format, b->width));
        UnlockDisplayBuffer(b);
        const DisplayRect area{0, 0, 16, 16};
        readback_ = Readback{};
        ASSERT_EQ(BlitDisplayBuffer(b, &area, 1), 1);
        ASSERT_GT(readback_.width, 0);
        const Rgb* expected = IsYuv(b) ? kQuadrantYuvRgb : kQuadrantRgb;
        const int tolerance = IsYuv(b) ? 24 : 8;
        const Rgb got = readback_.At(8, 8);
        EXPECT_NEAR(got.r, expected[3].r, tolerance);
        EXPECT_NEAR(got.g, expected[3].g, tolerance);
        EXPECT_NEAR(got.b, expected[3].b, tolerance);
        const Rgb kept = readback_.At(48, 12);  // the top-right quadrant stays
        EXPECT_NEAR(kept.r, expected[1].r, tolerance);
        EXPECT_NEAR(kept.g, expected[1].g, tolerance);
    }
    std::vector<SDL_Window*> windows_;
    Readback readback_;
};

TEST(SdlSurfaceFormatTest, MapsSdlPixelFormats) {
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_INDEX8), F(kSurfacePalette8));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_BGR24), F(kSurfaceBgr24));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_RGB24), F(kSurfaceRgb24));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_RGB888), F(kSurfaceXrgb32));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_BGR888), F(kSurfaceXbgr32));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_ARGB8888), F(kSurfaceArgb32));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_ABGR8888), F(kSurfaceAbgr32));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_ARGB4444), F(kSurfaceArgb4444));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_ARGB1555), F(kSurfaceArgb1555));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_RGB555), F(kSurfaceRgb555));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_RGB565), F(kSurfaceRgb565));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_YUY2), F(kSurfaceYuy2));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_UYVY), F(kSurfaceUyvy));
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_YV12), F(kSurfaceYv12));
    // Layouts no converter writes.
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_RGBA8888), -1);
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_BGR565), -1);
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_IYUV), -1);
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_NV12), -1);
    EXPECT_EQ(SurfaceFormatOfSdl(SDL_PIXELFORMAT_UNKNOWN), -1);
}

TEST_F(SdlDisplayTest, EveryStyleOpensLocksClearsAndShowsThePicture) {
    const uint32_t w = 64, h = 48;
    int opened = 0;
    for (uint32_t style = 1; style <= kBlitStyleCount; ++style) {
        SCOPED_TRACE("style " + std::to_string(style));
        SDL_Window* window = NewWindow(static_cast<int>(w), static_cast<int>(h));
        ASSERT_NE(window, nullptr) << SDL_GetError();
        DisplayBuffer* b = OpenDisplayBuffer(window, w, h, style);
        if (!b && style == kBlitRgbVideo) {
            // Only where SDL has an accelerated renderer.
            EXPECT_STREQ(GetLastDisplayError(), kDisplayErrorNoStyle);
            continue;
        }
        ASSERT_NE(b, nullptr) << GetLastDisplayError();
        ++opened;
        EXPECT_EQ(b->style, style);
        EXPECT_NE(std::string(GetBlitStyleName(b)).find("SDL"), std::string::npos);
        ASSERT_NO_FATAL_FAILURE(DrawAndShow(b));
        ASSERT_NO_FATAL_FAILURE(ShowChangedArea(b));
        CloseDisplayBuffer(b);
    }
    EXPECT_GE(opened, 9);
}

TEST_F(SdlDisplayTest, AutomaticChoiceWritesTheWindowSurface) {
    SDL_Window* window = NewWindow(96, 64);
    ASSERT_NE(window, nullptr);
    DisplayBuffer* b = OpenDisplayBuffer(window, 96, 64, kBlitAutomatic);
    ASSERT_NE(b, nullptr) << GetLastDisplayError();
    EXPECT_EQ(b->style, 1u);
    EXPECT_STREQ(GetBlitStyleName(b), "SDL window surface");
    EXPECT_NE(b->surface_type & kSurfaceTypeNoRects, 0u);
    // Nothing can be scaled when the window's own pixels are written.
    EXPECT_EQ(SetDisplayBufferScale(b, 192, 64), 0);
    EXPECT_EQ(b->scaled_width, 96u);
    // A buffer shown past the window's pixels cannot be locked.
    SetDisplayBufferOffset(b, 8, 0);
    EXPECT_EQ(LockDisplayBuffer(b), 0);
    SetDisplayBufferOffset(b, 0, 0);
    EXPECT_EQ(LockDisplayBuffer(b), 1);
    UnlockDisplayBuffer(b);
    // Asking for scaling skips to a style that can.
    DisplayBuffer* scaled = nullptr;
    CloseDisplayBuffer(b);
    scaled = OpenDisplayBuffer(window, 96, 64, kBlitAutomatic | kScaleWidthStretchInteger);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->style, 2u);
    CloseDisplayBuffer(scaled);
}

TEST_F(SdlDisplayTest, RendererStylesScaleToAnySize) {
    SDL_Window* window = NewWindow(160, 120);
    ASSERT_NE(window, nullptr);
    for (uint32_t style : {kBlitDibSection, kBlitYv12Overlay, kBlitYuy2OffScreen}) {
        SCOPED_TRACE("style " + std::to_string(style));
        DisplayBuffer* b = OpenDisplayBuffer(window, 64, 48, style);
        ASSERT_NE(b, nullptr) << GetLastDisplayError();
        EXPECT_EQ(SetDisplayBufferScale(b, 128, 96), 1);  // integer stretch
        EXPECT_EQ(SetDisplayBufferScale(b, 100, 75), 1);  // any factor
        SetDisplayBufferOffset(b, 20, 10);
        ASSERT_EQ(LockDisplayBuffer(b), 1);
        ASSERT_TRUE(DrawPattern(b));
        UnlockDisplayBuffer(b);
        readback_ = Readback{};
        ASSERT_EQ(BlitDisplayBuffer(b, nullptr, 0), 1);
        ExpectPattern(readback_, b, 20, 10, GetBlitStyleName(b));
        // Outside the shown area the window is black (renderer styles clear it).
        if (style != kBlitDibSection) {
            const Rgb outside = readback_.At(140, 100);
            EXPECT_EQ(outside.r + outside.g + outside.b, 0);
        }
        CloseDisplayBuffer(b);
    }
}

TEST_F(SdlDisplayTest, OneWindowIsDrawnOneWayAtATime) {
    SDL_Window* window = NewWindow(64, 48);
    ASSERT_NE(window, nullptr);
    DisplayBuffer* a = OpenDisplayBuffer(window, 64, 48, kBlitYv12Overlay);
    ASSERT_NE(a, nullptr) << GetLastDisplayError();
    DisplayBuffer* b = OpenDisplayBuffer(window, 32, 32, kBlitUyvyOverlay);
    ASSERT_NE(b, nullptr) << GetLastDisplayError();  // shares the renderer
    EXPECT_EQ(OpenDisplayBuffer(window, 64, 48, kBlitPrimary), nullptr);
    EXPECT_STREQ(GetLastDisplayError(), kDisplayErrorNoStyle);
    CloseDisplayBuffer(a);
    CloseDisplayBuffer(b);
    // With the renderer gone the window's surface can be used.
    DisplayBuffer* c = OpenDisplayBuffer(window, 64, 48, kBlitPrimary);
    ASSERT_NE(c, nullptr) << GetLastDisplayError();
    EXPECT_EQ(OpenDisplayBuffer(window, 64, 48, kBlitRgbSystem), nullptr);
    CloseDisplayBuffer(c);
    DisplayBuffer* d = OpenDisplayBuffer(window, 64, 48, kBlitRgbSystem);
    ASSERT_NE(d, nullptr) << GetLastDisplayError();
    EXPECT_STREQ(GetBlitStyleName(d), "SDL RGB texture, software renderer");
    CloseDisplayBuffer(d);
}

TEST_F(SdlDisplayTest, ScreenAndModeRequest) {
    SDL_Window* window = NewWindow(64, 48);
    ASSERT_NE(window, nullptr);
    SDL_DisplayMode current;
    ASSERT_EQ(SDL_GetCurrentDisplayMode(0, &current), 0);
    SetDisplayModeRequest(static_cast<uint32_t>(current.w), static_cast<uint32_t>(current.h),
                          kDepthTryTrueColour);
    DisplayBuffer* b = OpenDisplayBuffer(window, 64, 48, kBlitRgbSystem | kDisplayOpenChangeMode);
    ASSERT_NE(b, nullptr) << GetLastDisplayError();
    EXPECT_EQ(GetDisplayModeRequest().width, 0u);  // consumed
    EXPECT_EQ(b->screen_width, static_cast<uint32_t>(current.w));
    EXPECT_EQ(b->screen_height, static_cast<uint32_t>(current.h));
    EXPECT_EQ(b->screen_bits_per_pixel % 8, 0u);
    EXPECT_GE(b->screen_bits_per_pixel, 16u);
    // A scale of 0 means the screen size.
    EXPECT_EQ(SetDisplayBufferScale(b, 0, 0), 1);
    EXPECT_EQ(b->scaled_width, static_cast<uint32_t>(current.w));
    CloseDisplayBuffer(b);
    EXPECT_EQ(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN, 0u);  // restored
}

// A conformance frame in two forms: 32-bit pixels (bytes blue, green, red,
// unused) and YV12 (Y, then V, then U).
struct ConformanceFrame {
    uint32_t w = 320, h = 240;
    std::vector<uint8_t> rgb, yv12;
    const uint8_t* y_plane() const { return yv12.data(); }
    const uint8_t* v_plane() const { return y_plane() + w * h; }
    const uint8_t* u_plane() const { return v_plane() + (w / 2) * (h / 2); }
};

// The frame repacked into pixel pairs of YUY2 or UYVY.
void WritePixelPairs(const ConformanceFrame& f, bool yuy2, uint8_t* out, size_t pitch) {
    const uint32_t w = f.w;
    for (uint32_t y = 0; y < f.h; ++y) {
        for (uint32_t x = 0; x < w; x += 2) {
            const uint8_t y0 = f.y_plane()[y * w + x], y1 = f.y_plane()[y * w + x + 1];
            const uint8_t u = f.u_plane()[(y / 2) * (w / 2) + x / 2];
            const uint8_t v = f.v_plane()[(y / 2) * (w / 2) + x / 2];
            uint8_t* p = out + y * pitch + 2 * x;
            if (yuy2) {
                p[0] = y0, p[1] = u, p[2] = y1, p[3] = v;
            } else {
                p[0] = u, p[1] = y0, p[2] = v, p[3] = y1;
            }
        }
    }
}

// Writes the frame into a locked buffer in the buffer's format; *exact when
// the shown pixels must equal the RGB frame. False for a format without a
// form of the frame.
bool WriteConformanceFrame(const ConformanceFrame& f, DisplayBuffer* b, bool* exact) {
    const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
    const size_t pitch = static_cast<size_t>(b->pitch);
    const uint32_t w = f.w, h = f.h;
    uint8_t* out = b->pointer;
    *exact = false;
    if (format == F(kSurfaceXrgb32) || format == F(kSurfaceArgb32)) {
        for (uint32_t y = 0; y < h; ++y) std::memcpy(out + y * pitch, &f.rgb[y * w * 4], w * 4);
        *exact = true;
    } else if (format == F(kSurfaceYv12)) {
        for (uint32_t y = 0; y < h; ++y) std::memcpy(out + y * pitch, f.y_plane() + y * w, w);
        uint8_t* v = out + pitch * h;
        uint8_t* u = v + (pitch / 2) * (h / 2);
        for (uint32_t y = 0; y < h / 2; ++y) {
            std::memcpy(v + y * (pitch / 2), f.v_plane() + y * (w / 2), w / 2);
            std::memcpy(u + y * (pitch / 2), f.u_plane() + y * (w / 2), w / 2);
        }
    } else if (format == F(kSurfaceYuy2) || format == F(kSurfaceUyvy)) {
        WritePixelPairs(f, format == F(kSurfaceYuy2), out, pitch);
    } else {
        return false;
    }
    return true;
}

// The shown picture against the RGB frame: equal when exact, else close on
// average.
void ExpectShownFrame(const Readback& rb, const ConformanceFrame& f, bool exact, const char* what) {
    uint64_t total = 0;
    int worst = 0, mismatches = 0;
    for (uint32_t y = 0; y < f.h; ++y) {
        for (uint32_t x = 0; x < f.w; ++x) {
            const Rgb got = rb.At(static_cast<int>(x), static_cast<int>(y));
            const uint8_t* want = &f.rgb[(y * f.w + x) * 4];  // bytes blue, green, red
            const int d[3] = {std::abs(got.b - want[0]), std::abs(got.g - want[1]),
                              std::abs(got.r - want[2])};
            for (int c : d) {
                total += static_cast<uint64_t>(c);
                worst = std::max(worst, c);
                if (c != 0) ++mismatches;
            }
        }
    }
    const double mean = static_cast<double>(total) / (3.0 * f.w * f.h);
    if (exact) {
        EXPECT_EQ(mismatches, 0) << what << " worst " << worst;
    } else {
        EXPECT_LT(mean, 3.0) << what << " worst " << worst;
    }
}

// A conformance frame, as the converter writes it, shown through every
// style: the RGB styles show its bytes exactly, the YUV styles show what the
// renderer makes of the YV12 frame (or of it repacked into pixel pairs),
// close to the RGB conversion.
TEST_F(SdlDisplayTest, ConformanceFrameThroughEveryStyle) {
    const std::string dir = test::ConformanceDir();
    ConformanceFrame f;
    if (dir.empty() || !test::ReadWholeFile(dir + "/big1.f4.s3.table.c0.raw", &f.rgb) ||
        !test::ReadWholeFile(dir + "/big1.f4.s15.table.c0.raw", &f.yv12)) {
        GTEST_SKIP() << "conformance frames not found";
    }
    const uint32_t w = f.w, h = f.h;
    ASSERT_EQ(f.rgb.size(), static_cast<size_t>(w) * h * 4);
    ASSERT_EQ(f.yv12.size(), static_cast<size_t>(w) * h * 3 / 2);
    for (uint32_t style = 1; style <= kBlitStyleCount; ++style) {
        SCOPED_TRACE("style " + std::to_string(style));
        SDL_Window* window = NewWindow(static_cast<int>(w), static_cast<int>(h));
        ASSERT_NE(window, nullptr);
        DisplayBuffer* b = OpenDisplayBuffer(window, w, h, style);
        if (!b) {
            EXPECT_EQ(style, kBlitRgbVideo) << GetLastDisplayError();
            continue;
        }
        ASSERT_EQ(LockDisplayBuffer(b), 1);
        bool exact = false;
        if (!WriteConformanceFrame(f, b, &exact)) {
            const uint32_t format = b->surface_type & kSurfaceTypeFormatMask;
            UnlockDisplayBuffer(b);
            CloseDisplayBuffer(b);
            ADD_FAILURE() << "no conformance frame for format " << format;
            continue;
        }
        UnlockDisplayBuffer(b);
        readback_ = Readback{};
        ASSERT_EQ(BlitDisplayBuffer(b, nullptr, 0), 1);
        ASSERT_GE(readback_.width, static_cast<int>(w));
        ASSERT_GE(readback_.height, static_cast<int>(h));
        ExpectShownFrame(readback_, f, exact, GetBlitStyleName(b));
        CloseDisplayBuffer(b);
    }
}

#ifdef VEMO_TEST_X11
bool GrabWindow(SDL_Window* window, Readback* rb) {
    return GrabX11Window(window, &rb->width, &rb->height, &rb->argb);
}
#endif

TEST_F(SdlDisplayTest, XvfbScreenshotShowsThePictureThroughStyles2And3And9) {
#ifndef VEMO_TEST_X11
    GTEST_SKIP() << "built without X11";
#else
    if (!UnderX11()) GTEST_SKIP() << "runs under Xvfb only (VEMO_DISPLAY_X11)";
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    SetSdlPresentHook(nullptr, nullptr);
    for (uint32_t style : {kBlitDibSection, kBlitYv12Overlay, kBlitRgbVideo}) {
        SCOPED_TRACE("style " + std::to_string(style));
        SDL_Window* window = NewWindow(128, 96);
        ASSERT_NE(window, nullptr);
        DisplayBuffer* b = OpenDisplayBuffer(window, 64, 48, style);
        ASSERT_NE(b, nullptr) << GetLastDisplayError();
        ASSERT_EQ(SetDisplayBufferScale(b, 128, 96), 1);
        ASSERT_EQ(LockDisplayBuffer(b), 1);
        ASSERT_TRUE(DrawPattern(b));
        UnlockDisplayBuffer(b);
        // Let the window map, then show the frame and take the screenshot.
        for (int i = 0; i < 20; ++i) {
            SDL_PumpEvents();
            SDL_Delay(10);
        }
        ASSERT_EQ(BlitDisplayBuffer(b, nullptr, 0), 1);
        SDL_Delay(50);
        Readback shot;
        ASSERT_TRUE(GrabWindow(window, &shot));
        ExpectPattern(shot, b, 0, 0, GetBlitStyleName(b));
        CloseDisplayBuffer(b);
    }
#endif
}

}  // namespace
}  // namespace vemo

// The session bus library that SDL starts under X keeps a buffer for the
// life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}
