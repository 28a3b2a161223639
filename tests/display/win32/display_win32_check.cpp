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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// The window's client area is larger than the frame by these margins, so
// that a buffer shown at an offset still lies inside it.
constexpr int32_t kMarginX = 24, kMarginY = 16;

HWND MakeWindow(uint32_t width, uint32_t height) {
    WNDCLASSA c;
    std::memset(&c, 0, sizeof c);
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.lpszClassName = "VemoDisplayCheck";
    RegisterClassA(&c);
    RECT r{0, 0, static_cast<LONG>(width) + kMarginX, static_cast<LONG>(height) + kMarginY};
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

// Where the buffer must appear on the screen: its offset in the window's
// client area, placed by the window system (not by the buffer's own idea of
// its screen position).
POINT ShownAt(const DisplayBuffer* b) {
    POINT p{b->destination_client_x, b->destination_client_y};
    ClientToScreen(static_cast<HWND>(b->window), &p);
    return p;
}

// ------------------------------------------------------------------
// How the device turns a YUV surface into screen colours. Measured, not
// assumed: flat patches of known Y, U, V are written into the surface and
// read back from the screen, and each channel is fitted by least squares as
//   out = ky * Y + ku * (U - 128) + kv * (V - 128) + k0
// over the patches that did not clip. A chroma checker tells whether the
// device filters chroma between samples across a row. Wine converts with
// full-range coefficients (ky 1.000; red kv 1.40; green ku -0.34, kv -0.71;
// blue ku 1.77), where the movie format's conversion is video range (luma
// 1.164 * (Y - 16); red 1.62, green -0.41 and -0.81, blue 2.03). YUY2 and
// UYVY chroma it holds per sample; YV12 chroma it samples bilinearly from a
// texture that keeps two chroma rows side by side, so that it blends across
// a row and with the chroma rows two above and below (measured with single
// chroma samples: weights 0.625 / 0.375 and 0.875 / 0.125 down the rows).
struct DeviceConversion {
    double k[3][4] = {};  // red, green, blue: ky, ku, kv, k0
    bool filters_chroma = false;
    bool valid = false;
};

// Writes one pixel's luma and the chroma sample it lies in.
void PutYuv(int32_t format, uint8_t* p, int32_t pitch, uint32_t height, int x, int y, int luma,
            int u, int v) {
    uint8_t* row = p + static_cast<size_t>(y) * static_cast<size_t>(pitch);
    const int pair = 2 * (x & ~1);
    if (format == kSurfaceYuy2) {
        row[2 * x] = static_cast<uint8_t>(luma);
        row[pair + 1] = static_cast<uint8_t>(u);
        row[pair + 3] = static_cast<uint8_t>(v);
    } else if (format == kSurfaceUyvy) {
        row[2 * x + 1] = static_cast<uint8_t>(luma);
        row[pair] = static_cast<uint8_t>(u);
        row[pair + 2] = static_cast<uint8_t>(v);
    } else {  // YV12: the V plane, then the U plane, at half the pitch
        row[x] = static_cast<uint8_t>(luma);
        const size_t chroma_pitch = static_cast<size_t>(pitch) / 2;
        uint8_t* v_plane = p + static_cast<size_t>(pitch) * height;
        uint8_t* u_plane = v_plane + chroma_pitch * (height / 2);
        const size_t at = static_cast<size_t>(y / 2) * chroma_pitch + static_cast<size_t>(x / 2);
        v_plane[at] = static_cast<uint8_t>(v);
        u_plane[at] = static_cast<uint8_t>(u);
    }
}

// Reads back what PutYuv writes: luma, U and V of the pixel.
void GetYuv(int32_t format, const uint8_t* p, int32_t pitch, uint32_t height, int x, int y,
            int out[3]) {
    const uint8_t* row = p + static_cast<size_t>(y) * static_cast<size_t>(pitch);
    const int pair = 2 * (x & ~1);
    if (format == kSurfaceYuy2) {
        out[0] = row[2 * x], out[1] = row[pair + 1], out[2] = row[pair + 3];
    } else if (format == kSurfaceUyvy) {
        out[0] = row[2 * x + 1], out[1] = row[pair], out[2] = row[pair + 2];
    } else {
        const size_t chroma_pitch = static_cast<size_t>(pitch) / 2;
        const uint8_t* v_plane = p + static_cast<size_t>(pitch) * height;
        const uint8_t* u_plane = v_plane + chroma_pitch * (height / 2);
        const size_t at = static_cast<size_t>(y / 2) * chroma_pitch + static_cast<size_t>(x / 2);
        out[0] = row[x], out[1] = u_plane[at], out[2] = v_plane[at];
    }
}

// The drawn surface, read back, holds the frame's own samples where the
// device expects them (YV12: the V plane before the U plane, at half pitch).
void CheckYuvBytes(Context& c, DisplayBuffer* b, const std::string& what) {
    if (!LockDisplayBuffer(b)) return;
    const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
    int wrong = 0;
    for (uint32_t y = 0; y < b->height; ++y) {
        for (uint32_t x = 0; x < b->width; ++x) {
            int got[3];
            GetYuv(format, b->pointer, b->pitch, b->height, static_cast<int>(x),
                   static_cast<int>(y), got);
            const int want[3] = {c.frame.Sample(kPlaneY, x, y),
                                 c.frame.Sample(kPlaneCb, x / 2, y / 2),
                                 c.frame.Sample(kPlaneCr, x / 2, y / 2)};
            if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2]) ++wrong;
        }
    }
    UnlockDisplayBuffer(b);
    Expect(wrong == 0, what + ": the surface holds the frame's Y, U and V (" +
                           std::to_string(wrong) + " pixels wrong)");
}

constexpr int kPatch = 16, kPatchesAcross = 20;
constexpr int kLevels[5] = {16, 60, 126, 180, 235}, kChroma[3] = {64, 128, 192};
constexpr int kCheckerTop = 64;

struct PatchColour {
    int y, u, v;
};
PatchColour PatchAt(int i) {
    return {kLevels[i / 9], kChroma[(i / 3) % 3], kChroma[i % 3]};
}

// Solves the 4x4 normal equations of one channel; false when singular.
bool SolveNormal(double m[4][5], double out[4]) {
    for (int i = 0; i < 4; ++i) {
        int best = i;
        for (int r = i + 1; r < 4; ++r)
            if (std::fabs(m[r][i]) > std::fabs(m[best][i])) best = r;
        if (std::fabs(m[best][i]) < 1e-6) return false;
        for (int j = 0; j < 5; ++j) std::swap(m[i][j], m[best][j]);
        for (int r = 0; r < 4; ++r) {
            if (r == i) continue;
            const double f = m[r][i] / m[i][i];
            for (int j = 0; j < 5; ++j) m[r][j] -= f * m[i][j];
        }
    }
    for (int i = 0; i < 4; ++i) out[i] = m[i][4] / m[i][i];
    return true;
}

// Fits one channel over the unclipped patches; false when the points do not
// lie on a plane (no picture, or a conversion that is not linear).
bool FitChannel(const std::vector<PatchColour>& in, const std::vector<int>& out, double k[4]) {
    double m[4][5] = {};
    int used = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        if (out[i] <= 0 || out[i] >= 255) continue;
        const double row[4] = {double(in[i].y), double(in[i].u - 128), double(in[i].v - 128), 1};
        for (int a = 0; a < 4; ++a) {
            for (int b = 0; b < 4; ++b) m[a][b] += row[a] * row[b];
            m[a][4] += row[a] * out[i];
        }
        ++used;
    }
    if (used < 12 || !SolveNormal(m, k)) return false;
    for (size_t i = 0; i < in.size(); ++i) {
        if (out[i] <= 0 || out[i] >= 255) continue;
        const double p = k[0] * in[i].y + k[1] * (in[i].u - 128) + k[2] * (in[i].v - 128) + k[3];
        if (std::fabs(p - out[i]) > 2.0) return false;
    }
    return true;
}

// Fills the surface with the patches above and, below them, a checker of
// alternating chroma columns.
void FillProbe(int32_t format, uint8_t* p, int32_t pitch, uint32_t w, uint32_t h) {
    for (int y = 0; y < static_cast<int>(h); ++y) {
        for (int x = 0; x < static_cast<int>(w); ++x) {
            PatchColour colour{126, 128, ((x / 2) & 1) ? 192 : 64};
            const int i = (y / kPatch) * kPatchesAcross + x / kPatch;
            if (y < kCheckerTop) colour = i < 45 ? PatchAt(i) : PatchColour{126, 128, 128};
            PutYuv(format, p, pitch, h, x, y, colour.y, colour.u, colour.v);
        }
    }
}

int Channel(uint32_t rgb, int c) {
    return static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
}

DeviceConversion MeasureDeviceConversion(Context& c, DisplayBuffer* b, const std::string& what) {
    DeviceConversion d;
    const int32_t format = static_cast<int32_t>(b->surface_type & kSurfaceTypeFormatMask);
    if (b->width < kPatch * kPatchesAcross || b->height < kCheckerTop + 8 || !LockDisplayBuffer(b))
        return d;
    FillProbe(format, b->pointer, b->pitch, b->width, b->height);
    UnlockDisplayBuffer(b);
    BlitDisplayBuffer(b, nullptr, 0);
    Pump(150);
    ScreenShot shot;
    std::string error;
    if (!TakeScreenShot(c.shots, "probe" + std::to_string(++c.shot_number), 15000, &shot, &error))
        return d;
    const POINT at = ShownAt(b);
    const int sx = at.x, sy = at.y;
    std::vector<PatchColour> in;
    std::vector<int> out[3];
    for (int i = 0; i < 45; ++i) {
        in.push_back(PatchAt(i));
        const uint32_t got = shot.At(sx + (i % kPatchesAcross) * kPatch + kPatch / 2,
                                     sy + (i / kPatchesAcross) * kPatch + kPatch / 2);
        for (int ch = 0; ch < 3; ++ch) out[ch].push_back(Channel(got, ch));
    }
    d.valid = true;
    for (int ch = 0; ch < 3; ++ch) d.valid = d.valid && FitChannel(in, out[ch], d.k[ch]);
    // Held chroma repeats column 0's red in column 1; filtered chroma blends.
    int red[3];
    for (int x = 0; x < 3; ++x) red[x] = Channel(shot.At(sx + x, sy + kCheckerTop + 4), 0);
    d.filters_chroma = std::abs(red[1] - red[0]) > 4 && std::abs(red[1] - red[2]) > 4;
    if (!d.valid) {
        std::printf("  %s: the screen shows no conversion of the surface\n", what.c_str());
        return d;
    }
    static const char* const kNames[3] = {"red", "green", "blue"};
    for (int ch = 0; ch < 3; ++ch) {
        std::printf("  %s: device %s = %.3f Y %+.3f (U-128) %+.3f (V-128) %+.2f\n", what.c_str(),
                    kNames[ch], d.k[ch][0], d.k[ch][1], d.k[ch][2], d.k[ch][3]);
    }
    std::printf("  %s: device chroma %s\n", what.c_str(),
                d.filters_chroma ? "interpolated across a row" : "held per sample");
    return d;
}

// One texel of chroma kept as wine keeps a YV12 surface's: a texture of
// two chroma rows side by side (rows 2r and 2r + 1 make texel row r).
double Texel(const DecodedFrame& f, PlaneIndex plane, int64_t tx, int64_t r) {
    const int64_t row_length = (f.width() + 1) / 2, rows = ((f.height() + 1) / 2 + 1) / 2;
    tx = std::clamp<int64_t>(tx, 0, 2 * row_length - 1);
    r = std::clamp<int64_t>(r, 0, rows - 1);
    const int64_t second = tx >= row_length ? 1 : 0;
    return f.Sample(plane, static_cast<uint32_t>(tx - second * row_length),
                    static_cast<uint32_t>(2 * r + second));
}

// The chroma the device uses at pixel (x, y): held per sample, or (wine's
// YV12) sampled bilinearly from that texture, chroma centred between two luma
// columns, so that a chroma row blends with its neighbours two rows away.
double DeviceChroma(const DecodedFrame& f, const DeviceConversion& d, PlaneIndex plane, uint32_t x,
                    uint32_t y) {
    if (!d.filters_chroma) return f.Sample(plane, x / 2, y / 2);
    const int64_t row_length = (f.width() + 1) / 2;
    const double tx = (x + 0.5) / 2 - 0.5 + static_cast<double>(((y / 2) & 1) * row_length);
    const double ty = (y + 0.5) / 4 - 0.5;
    const double left = std::floor(tx), top = std::floor(ty);
    const double s = tx - left, t = ty - top;
    const auto i = static_cast<int64_t>(left), r = static_cast<int64_t>(top);
    return (1 - t) * ((1 - s) * Texel(f, plane, i, r) + s * Texel(f, plane, i + 1, r)) +
           t * ((1 - s) * Texel(f, plane, i, r + 1) + s * Texel(f, plane, i + 1, r + 1));
}

// The frame as the device shows its YUV samples.
std::vector<uint32_t> DeviceRgb(const DecodedFrame& f, const DeviceConversion& d) {
    std::vector<uint32_t> rgb(static_cast<size_t>(f.width()) * f.height());
    for (uint32_t y = 0; y < f.height(); ++y) {
        for (uint32_t x = 0; x < f.width(); ++x) {
            const double in[3] = {double(f.Sample(kPlaneY, x, y)),
                                  DeviceChroma(f, d, kPlaneCb, x, y) - 128,
                                  DeviceChroma(f, d, kPlaneCr, x, y) - 128};
            uint32_t p = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const double v =
                    d.k[ch][0] * in[0] + d.k[ch][1] * in[1] + d.k[ch][2] * in[2] + d.k[ch][3];
                p = (p << 8) | static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L));
            }
            rgb[static_cast<size_t>(y) * f.width() + x] = p;
        }
    }
    return rgb;
}

struct Difference {
    double mean = -1;        // negative when no shot was had
    double channel[3] = {};  // mean error of red, green and blue
    int differing = 0;       // pixels with any channel off
};

// Compares the buffer's area of the screen with a picture of 0xRRGGBB words.
Difference Compare(const ScreenShot& shot, const DisplayBuffer* b,
                   const std::vector<uint32_t>& want) {
    Difference d;
    const POINT at = ShownAt(b);
    const int w = static_cast<int>(b->width), h = static_cast<int>(b->height);
    uint64_t total[3] = {};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t got = shot.At(at.x + x, at.y + y);
            const uint32_t expected = want[static_cast<size_t>(y) * w + x];
            bool off = false;
            for (int ch = 0; ch < 3; ++ch) {
                const int e = std::abs(Channel(got, ch) - Channel(expected, ch));
                total[ch] += static_cast<uint64_t>(e);
                off = off || e != 0;
            }
            if (off) ++d.differing;
        }
    }
    const double n = static_cast<double>(w) * h;
    for (int ch = 0; ch < 3; ++ch) d.channel[ch] = static_cast<double>(total[ch]) / n;
    d.mean = (d.channel[0] + d.channel[1] + d.channel[2]) / 3.0;
    return d;
}

std::string Describe(const std::string& what, const Difference& d, const DisplayBuffer* b) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: %d of %u pixels differ, mean error %.3f (red %.3f, green %.3f, blue %.3f)",
                  what.c_str(), d.differing, b->width * b->height, d.mean, d.channel[0],
                  d.channel[1], d.channel[2]);
    return text;
}

// Shows the whole buffer and takes the screen; a missing shot is a failure.
bool ShowAndShoot(Context& c, DisplayBuffer* b, ScreenShot* shot, const std::string& what) {
    BlitDisplayBuffer(b, nullptr, 0);
    Pump(150);
    std::string error;
    if (TakeScreenShot(c.shots, "shot" + std::to_string(++c.shot_number), 15000, shot, &error)) {
        return true;
    }
    Expect(false, what + ": " + error);
    return false;
}

// Shows the buffer and expects the screen to equal the conversion exactly.
bool ShowAndCompare(Context& c, DisplayBuffer* b, const std::string& what) {
    ScreenShot shot;
    if (!ShowAndShoot(c, b, &shot, what)) return false;
    const Difference d = Compare(shot, b, c.rgb);
    Expect(d.differing == 0, Describe(what, d, b));
    return d.differing == 0;
}

// A YUV surface: the device's own conversion is measured first; the frame
// is then compared with the format's conversion (reported) and with what the
// device makes of the frame's samples (expected within a mean error of 1,
// which a misplaced plane or swapped chroma is far beyond). True when the
// device showed the frame.
bool CheckYuvStyle(Context& c, DisplayBuffer* b, const std::string& what) {
    const DeviceConversion device = MeasureDeviceConversion(c, b, what);
    ScreenShot shot;
    if (!Draw(c, b)) {
        Expect(false, what + " locks");
        return false;
    }
    CheckYuvBytes(c, b, what);
    if (!ShowAndShoot(c, b, &shot, what)) return false;
    std::printf(
        "  %s\n",
        Describe(what + " against the format's conversion", Compare(shot, b, c.rgb), b).c_str());
    if (!device.valid) return false;
    const Difference d = Compare(shot, b, DeviceRgb(c.frame, device));
    Expect(d.mean < 1.0, Describe(what + " against the device's conversion", d, b));
    return d.mean < 1.0;
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
        const std::string what = "style " + std::to_string(style) + " shows frame 4";
        if (IsYuv(format)) {
            if (CheckYuvStyle(c, b, what)) c.shown |= 1u << style;
        } else if (!Draw(c, b)) {
            Expect(false, "style " + std::to_string(style) + " locks");
        } else if (ShowAndCompare(c, b, what)) {
            c.shown |= 1u << style;
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
    if (b && Draw(c, b)) ShowAndCompare(c, b, "automatic shows frame 4");
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
                ShowAndCompare(c, b, path + " draws in the mode");
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
    ShowAndCompare(c, b, "the restored surface shows frame 4");
    CloseDisplayBuffer(b);
}

// The client area's place inside the window, as the window system has it.
bool HasClientOffsetOf(const DisplayBuffer* b, HWND window) {
    RECT outer;
    POINT origin{0, 0};
    GetWindowRect(window, &outer);
    ClientToScreen(window, &origin);
    return b->client_offset_x == origin.x - outer.left &&
           b->client_offset_y == origin.y - outer.top;
}

// As a player opens its buffer: on a hidden window that is then placed, given
// an offset for a band above the movie, and shown.
void CheckPlacedWhileHidden(Context& c) {
    std::printf("buffer opened on a hidden window\n");
    RECT r;
    GetWindowRect(c.window, &r);
    ShowWindow(c.window, SW_HIDE);
    Pump(100);
    DisplayBuffer* b = OpenDisplayBuffer(c.window, c.frame.width(), c.frame.height(), 0);
    Expect(b != nullptr, "automatic opens on a hidden window");
    if (!b) {
        ShowWindow(c.window, SW_SHOWNORMAL);
        return;
    }
    int32_t x = r.left + 151, y = r.top + 90;
    AdjustWindowPosition(b, &x, &y);
    SetWindowPos(c.window, nullptr, x, y, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetDisplayBufferOffset(b, 0, kMarginY);
    ShowWindow(c.window, SW_SHOWNORMAL);
    Pump(200);
    Expect(HasClientOffsetOf(b, c.window), "the client offset read while hidden holds when shown");
    POINT origin{0, 0};
    ClientToScreen(c.window, &origin);
    const int32_t multiple = b->screen_bytes_per_pixel == 4   ? 2
                             : b->screen_bytes_per_pixel == 3 ? 8
                                                              : 4;
    Expect(origin.x % multiple == 0 && origin.x >= r.left + 151 + b->client_offset_x,
           "the adjusted window puts the client area on a rounded column");
    if (Draw(c, b)) ShowAndCompare(c, b, "it shows frame 4 below the band once the window shows");
    CloseDisplayBuffer(b);
    MoveWindow(c.window, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    Pump(100);
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
        SetDisplayBufferOffset(b, kMarginX, kMarginY);
        Expect(b->destination_screen_x == before_x + dx + kMarginX &&
                   (b->surface_type & kSurfaceTypeRewrite),
               name + " follows the window and its offset and asks for a rewrite");
        if (Draw(c, b)) ShowAndCompare(c, b, name + " shows frame 4 at the new place");
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
    CheckPlacedWhileHidden(c);
    CheckModeRequest(c);
    DestroyWindow(c.window);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
