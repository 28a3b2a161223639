// The display buffer: the surface converted frames are written into and then
// shown in the player's window, in one of ten blitting styles.
#pragma once

#include <cstdint>

#include "vemo/display_device.h"
#include "vemo/surface_format.h"

namespace vemo {

// Blitting styles (the player's /B option passes them through unchanged).
enum BlitStyle : uint32_t {
    kBlitAutomatic = 0,    // the first of 1, 2, 3 ... 10 that works
    kBlitPrimary = 1,      // the window's own pixels, written directly
    kBlitDibSection = 2,   // a software surface stretched onto the window
    kBlitYv12Overlay = 3,  // YUV surfaces the device converts and scales
    kBlitYuy2Overlay = 4,
    kBlitUyvyOverlay = 5,
    kBlitYv12OffScreen = 6,  // the same through an off-screen surface
    kBlitYuy2OffScreen = 7,
    kBlitUyvyOffScreen = 8,
    kBlitRgbVideo = 9,    // screen-format surface, accelerated device
    kBlitRgbSystem = 10,  // screen-format surface, system memory
};
constexpr uint32_t kBlitStyleCount = 10;

// The open flags (style, mode change, scaling capabilities) and the surface
// type word's bits are in vemo/flags.h.

// Error texts.
extern const char kDisplayErrorNoDevice[];    // "DirectDraw is not available"
extern const char kDisplayErrorNoStyle[];     // "No capable blitting style available."
extern const char kDisplayErrorVideoMode[];   // "Video mode not supported."
extern const char kDisplayErrorDibSection[];  // "Unable to create DIBSection."
extern const char kDisplayError256Colours[];  // "256 color mode not supported."

// A rectangle in buffer pixels (the layout of the stream core's changed areas).
struct DisplayRect {
    int32_t x, y, width, height;
};
constexpr int kMaxBlitRects = 8;

struct DisplayBuffer {
    uint32_t width, height;                // buffer size (the movie's frame size)
    uint32_t window_width, window_height;  // outer window size for the scaled buffer
    uint32_t surface_type;
    uint8_t* pointer;  // valid between lock and unlock: the buffer's row 0
    int32_t pitch;
    int32_t client_offset_x, client_offset_y;  // client origin minus window origin
    uint32_t screen_width, screen_height, screen_bits_per_pixel;
    uint32_t screen_bytes_per_pixel;
    int32_t non_client_width, non_client_height;  // window size minus client size
    uint32_t capabilities;                        // what this buffer can scale
    uint32_t scaled_width, scaled_height;         // the size it is shown at
    int32_t destination_screen_x, destination_screen_y;
    int32_t destination_client_x, destination_client_y;  // the offset given
    DisplayWindow window;
    uint32_t minimised;
    uint32_t is_overlay, is_off_screen, overlay_shown;
    uint32_t style;           // 1-10
    uint32_t writes_primary;  // style 1: positions are clamped to the screen
    uint32_t owns_device_use, owns_mode_use;
    DisplaySurface* surface;
};

// Opens a buffer of width x height for the window; null on failure, with the
// reason in GetLastDisplayError().
DisplayBuffer* OpenDisplayBuffer(DisplayWindow window, uint32_t width, uint32_t height,
                                 uint32_t open_flags);
void CloseDisplayBuffer(DisplayBuffer* buffer);
// Returns 1 and fills pointer and pitch, or 0 (minimised, or not lockable).
int LockDisplayBuffer(DisplayBuffer* buffer);
// Returns 1; clears pointer, pitch and the rewrite bit.
int UnlockDisplayBuffer(DisplayBuffer* buffer);
// Shows the listed rectangles (at most kMaxBlitRects are used), or the whole
// buffer when rects is null. Returns 1, 0 when nothing could be shown.
int BlitDisplayBuffer(DisplayBuffer* buffer, const DisplayRect* rects, int count);
// Lock, fill with black, unlock; 0 when the lock fails.
int ClearDisplayBuffer(DisplayBuffer* buffer);
// Where in the window's client area the buffer is shown; returns 1.
int SetDisplayBufferOffset(DisplayBuffer* buffer, int32_t x, int32_t y);
// The size to show the buffer at (0 = the screen's); 1 only when both
// dimensions were accepted.
int SetDisplayBufferScale(DisplayBuffer* buffer, uint32_t width, uint32_t height);
// Corrects a proposed outer window position (either pointer may be null).
void AdjustWindowPosition(const DisplayBuffer* buffer, int32_t* x, int32_t* y);
// The name of the style in use ("" for null).
const char* GetBlitStyleName(const DisplayBuffer* buffer);

}  // namespace vemo
