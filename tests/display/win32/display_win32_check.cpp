// The Windows display buffer on a real screen: under wine on a virtual X
// server, each blitting style opens or refuses, shows a conformance frame
// converted by the library's copy, and the X screen is compared with the
// conversion (RGB styles exactly, YUV styles within a mean error of 3).
// Also: automatic choice, forced styles, the full-screen mode request and
// its restore, a lost surface and a moved or minimised window.
//
//   display_win32_check --shots DIR --movie big1.vem
#define WIN32_LEAN_AND_MEAN
#include <ddraw.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_source.h"
#include "screen_shot.h"
#include "vemo/display_buffer.h"
#include "vemo/display_rules.h"
#include "vemo/display_win32.h"

namespace vemo::check {
namespace {

int g_passed = 0, g_failed = 0;

void Expect(bool ok, const std::string& what) {
    ok ? ++g_passed : ++g_failed;
    std::printf("  %s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
}

struct Context {
    std::string shots;
    DecodedFrame frame;
    std::vector<uint32_t> rgb;
    HWND window = nullptr;
    int shot_number = 0;
    uint32_t shown = 0;  // styles whose picture matched
};

HWND MakeWindow(uint32_t width, uint32_t height) {
    WNDCLASSA c;
    std::memset(&c, 0, sizeof c);
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.lpszClassName = "VemoDisplayCheck";
    RegisterClassA(&c);
    RECT r{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    HWND w =
        CreateWindowA("VemoDisplayCheck", "Vemo display check", WS_OVERLAPPEDWINDOW, 40, 30,
                      r.right - r.left, r.bottom - r.top, nullptr, nullptr, c.hInstance, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    return w;
}

void Pump(int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        Sleep(10);
    } while (static_cast<int32_t>(end - GetTickCount()) > 0);
}

bool IsYuv(int32_t format) {
    return format == kSurfaceYuy2 || format == kSurfaceUyvy || format == kSurfaceYv12;
}

// Converts the frame into the locked buffer; false when it cannot be locked.
bool Draw(Context& c, DisplayBuffer* b) {
    if (!LockDisplayBuffer(b)) return false;
    c.frame.Convert(b->surface_type & kSurfaceTypeFormatMask, b->pointer, b->pitch);
    UnlockDisplayBuffer(b);
    return true;
}

// How a shown picture is judged: every pixel equal, a mean error under 3,
// or only reported (YUV surfaces the device converts in its own way).
enum class Judge { kExact, kClose, kReport };

// Shows the buffer, takes the screen and compares the buffer's area with the
// conversion. Returns the mean error (negative when no shot was had).
double ShowAndCompare(Context& c, DisplayBuffer* b, Judge judge, const std::string& what) {
    BlitDisplayBuffer(b, nullptr, 0);
    Pump(150);
    ScreenShot shot;
    std::string error;
    if (!TakeScreenShot(c.shots, "shot" + std::to_string(++c.shot_number), 15000, &shot, &error)) {
        Expect(false, what + ": " + error);
        return -1;
    }
    const int w = static_cast<int>(b->width), h = static_cast<int>(b->height);
    uint64_t total = 0;
    int differing = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t got = shot.At(b->destination_screen_x + x, b->destination_screen_y + y);
            const uint32_t want = c.rgb[static_cast<size_t>(y) * w + x];
            int d = 0;
            for (int s = 0; s < 24; s += 8) {
                d += std::abs(static_cast<int>((got >> s) & 0xFF) -
                              static_cast<int>((want >> s) & 0xFF));
            }
            total += static_cast<uint64_t>(d);
            if (d) ++differing;
        }
    }
    const double mean = static_cast<double>(total) / (3.0 * w * h);
    char text[160];
    std::snprintf(text, sizeof text, "%s: %d of %d pixels differ, mean error %.3f", what.c_str(),
                  differing, w * h, mean);
    if (judge == Judge::kReport) {
        std::printf("  %s: %s\n", mean < 3.0 ? "shown" : "not shown within a mean error of 3",
                    text);
    } else {
        Expect(judge == Judge::kExact ? differing == 0 : mean < 3.0, text);
    }
    return mean;
}

// Each style forced in turn; returns the mask of styles that opened.
uint32_t CheckEveryStyle(Context& c) {
    uint32_t opened = 0;
    for (uint32_t style = 1; style <= kBlitStyleCount; ++style) {
        DisplayBuffer* b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), style);
        if (!b) {
            std::printf("style %u: refused: %s\n", style, GetLastDisplayError());
            const bool must_open = style == kBlitPrimary || style == kBlitDibSection ||
                                   style == kBlitRgbVideo || style == kBlitRgbSystem;
            Expect(!must_open, "style " + std::to_string(style) + " refused");
            Expect(std::strcmp(GetLastDisplayError(), kDisplayErrorNoStyle) == 0 ||
                       std::strcmp(GetLastDisplayError(), kDisplayErrorVideoMode) == 0,
                   "the refusal gives a display error text");
            continue;
        }
        opened |= 1u << style;
        const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
        std::printf("style %u: opened \"%s\", surface format %d, capabilities %08x\n", style,
                    GetBlitStyleName(b), format, b->capabilities);
        const bool no_rects = style == kBlitPrimary || (style >= 3 && style <= 5);
        Expect(((b->surface_type & kSurfaceTypeNoRects) != 0) == no_rects,
               "the surface type's no-rectangles bit");
        Expect(IsYuv(format) == (style >= 3 && style <= 8), "the surface format fits the style");
        ClearDisplayBuffer(b);
        if (!Draw(c, b)) {
            Expect(false, "style " + std::to_string(style) + " locks");
        } else {
            // The device converts YUV surfaces itself: they count as provided
            // only when the picture comes within a mean error of 3.
            const double mean = ShowAndCompare(c, b, IsYuv(format) ? Judge::kReport : Judge::kExact,
                                               "style " + std::to_string(style) + " shows frame 4");
            if (mean >= 0 && (!IsYuv(format) || mean < 3.0)) c.shown |= 1u << style;
        }
        CloseDisplayBuffer(b);
        Pump(50);
    }
    return opened;
}

void CheckAutomaticAndForced(Context& c, uint32_t opened) {
    std::printf("automatic choice and forced styles\n");
    DisplayBuffer* b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), 0);
    uint32_t first = 0;
    while (first <= kBlitStyleCount && !(opened & (1u << first))) ++first;
    Expect(b && b->style == first,
           "automatic takes the first style that opens (" + std::to_string(first) + ")");
    if (b && Draw(c, b)) ShowAndCompare(c, b, Judge::kExact, "automatic shows frame 4");
    CloseDisplayBuffer(b);
    // The screen itself cannot scale: asking for a stretch passes it by.
    b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(),
                          kScaleWidthStretchInteger | kScaleHeightStretchInteger);
    Expect(b && b->style != kBlitPrimary, "automatic with stretching skips the primary surface");
    if (b) {
        Expect(SetDisplayBufferScale(b, 2 * b->width, 2 * b->height) == 1, "it stretches 2x");
        Expect((b->surface_type & kSurfaceTypeBoundingRect) != 0,
               "scaled surfaces ask for one rect");
    }
    CloseDisplayBuffer(b);
    b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(),
                          kBlitPrimary | kScaleWidthStretchAny);
    Expect(!b && std::strcmp(GetLastDisplayError(), kDisplayErrorNoStyle) == 0,
           "a forced primary surface with stretching fails with the no-style text");
    CloseDisplayBuffer(b);
    b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), kBlitPrimary);
    if (b) {
        Expect(SetDisplayBufferScale(b, 640, 480) == 0 && b->scaled_width == b->width,
               "the primary surface refuses a scale and keeps its size");
        int32_t x = 13, y = -7;
        AdjustWindowPosition(b, &x, &y);
        Expect((x + b->client_offset_x) % (b->screen_bytes_per_pixel == 4 ? 2 : 4) == 0 &&
                   y + b->client_offset_y >= 0,
               "window positions are rounded and kept on the screen");
    }
    CloseDisplayBuffer(b);
    Expect(OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), 11) == nullptr,
           "style 11 does not open");
}

uint32_t GdiBits() {
    HDC dc = GetDC(nullptr);
    const uint32_t bits =
        static_cast<uint32_t>(GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES));
    ReleaseDC(nullptr, dc);
    return bits;
}

// The full-screen request through DirectDraw (style 10) and through GDI
// (style 2 while DirectDraw is not in use); the screen is back afterwards.
void CheckModeRequest(Context& c) {
    std::printf("full-screen mode request\n");
    const uint32_t w = static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN));
    const uint32_t h = static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN));
    const uint32_t bits = GdiBits();
    const uint32_t styles[2] = {kBlitRgbSystem, kBlitDibSection};
    for (uint32_t style : styles) {
        SetDisplayModeRequest(w, h, 16);
        DisplayBuffer* b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(),
                                             style | kDisplayOpenChangeMode);
        const std::string path = style == kBlitDibSection ? "GDI" : "DirectDraw";
        Expect(b != nullptr, path + " mode request opens: " + GetLastDisplayError());
        Expect(GetDisplayModeRequest().width == 0, path + " consumes the request");
        if (b) {
            std::printf("  %s: screen %ux%u at %u bits during the request (was %u)\n", path.c_str(),
                        b->screen_width, b->screen_height, b->screen_bits_per_pixel, bits);
            Expect(b->screen_width == w && b->screen_height == h, path + " keeps the resolution");
            if (Draw(c, b) && b->screen_bits_per_pixel >= 24) {
                ShowAndCompare(c, b, Judge::kExact, path + " draws in the mode");
            }
        }
        CloseDisplayBuffer(b);
        Pump(100);
        Expect(GdiBits() == bits && static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN)) == w,
               path + " puts the screen back when the buffer closes");
    }
}

// A surface whose memory the device dropped: the next lock restores it and
// asks for a whole rewrite.
void CheckLostSurface(Context& c) {
    std::printf("lost surface\n");
    DisplayBuffer* b =
        OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), kBlitRgbVideo);
    if (!b) {
        Expect(false, "style 9 opens");
        return;
    }
    Draw(c, b);
    BlitDisplayBuffer(b, nullptr, 0);
    // A display mode change loses every surface of the DirectDraw object.
    auto* ddraw = static_cast<IDirectDraw*>(GetSharedDirectDraw());
    const uint32_t w = static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN));
    const uint32_t h = static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN));
    ddraw->SetDisplayMode(w, h, GdiBits());
    ddraw->RestoreDisplayMode();
    Expect(LockDisplayBuffer(b) == 1, "the lost surface locks again");
    Expect((b->surface_type & kSurfaceTypeRewrite) != 0, "the lock asks for a whole rewrite");
    c.frame.Convert(b->surface_type & kSurfaceTypeFormatMask, b->pointer, b->pitch);
    UnlockDisplayBuffer(b);
    Expect((b->surface_type & kSurfaceTypeRewrite) == 0, "the unlock clears the rewrite bit");
    ShowAndCompare(c, b, Judge::kExact, "the restored surface shows frame 4");
    CloseDisplayBuffer(b);
}

void CheckMovedWindow(Context& c) {
    std::printf("moved and minimised window\n");
    const uint32_t styles[3] = {kBlitPrimary, kBlitDibSection, kBlitRgbSystem};
    const int dx = 120;
    for (uint32_t style : styles) {
        DisplayBuffer* b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), style);
        if (!b) continue;
        const std::string name = "style " + std::to_string(style);
        const int32_t before_x = b->destination_screen_x;
        RECT r;
        GetWindowRect(c.window, &r);
        MoveWindow(c.window, r.left + dx, r.top + 50, r.right - r.left, r.bottom - r.top, TRUE);
        Pump(150);
        UnlockDisplayBuffer(b);  // clears the rewrite bit
        SetDisplayBufferOffset(b, 0, 0);
        Expect(b->destination_screen_x == before_x + dx && (b->surface_type & kSurfaceTypeRewrite),
               name + " follows the window and asks for a rewrite");
        if (Draw(c, b))
            ShowAndCompare(c, b, Judge::kExact, name + " shows frame 4 at the new place");
        ShowWindow(c.window, SW_MINIMIZE);
        Pump(150);
        SetDisplayBufferOffset(b, 0, 0);
        Expect(b->minimised == 1 && (style == kBlitDibSection || LockDisplayBuffer(b) == 0),
               name + " does not lock while minimised");
        ShowWindow(c.window, SW_RESTORE);
        Pump(150);
        SetDisplayBufferOffset(b, 0, 0);
        Expect(b->minimised == 0, name + " locks again after the restore");
        MoveWindow(c.window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        Pump(100);
        CloseDisplayBuffer(b);
    }
}

}  // namespace
}  // namespace vemo::check

int main(int argc, char** argv) {
    using namespace vemo;
    using namespace vemo::check;
    Context c;
    std::string movie;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--shots") == 0) c.shots = argv[i + 1];
        if (std::strcmp(argv[i], "--movie") == 0) movie = argv[i + 1];
    }
    std::string error;
    if (c.shots.empty() || movie.empty()) {
        std::fprintf(stderr, "usage: display_win32_check --shots DIR --movie MOVIE\n");
        return 2;
    }
    if (!c.frame.Load(movie, 4, &error)) {
        std::fprintf(stderr, "display_win32_check: %s\n", error.c_str());
        return 1;
    }
    c.rgb = c.frame.Rgb();
    SetDisplaySystem(GetWin32DisplaySystem());
    c.window = MakeWindow(c.frame.width(), c.frame.height());
    Pump(300);
    const uint32_t opened = CheckEveryStyle(c);
    std::printf("styles that show frame 4:");
    for (uint32_t style = 1; style <= kBlitStyleCount; ++style) {
        if (c.shown & (1u << style)) std::printf(" %u", style);
    }
    std::printf("\n");
    CheckAutomaticAndForced(c, opened);
    CheckLostSurface(c);
    CheckMovedWindow(c);
    CheckModeRequest(c);
    DestroyWindow(c.window);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
