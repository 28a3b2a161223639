// The process-wide screen state that every display buffer shares: the
// device in use, the screen's size and depth, the scaling capabilities, the
// full-screen resolution request with its depth fallbacks, and the last
// display error text. The platform's display system (SDL2 on Linux) plugs in
// through DisplaySystem; everything else here is platform-neutral.
#pragma once

#include <cstdint>
#include <functional>

#include "vemo/flags.h"

namespace vemo {

// The window a display buffer shows in: an SDL_Window* on Linux, a window
// handle on Windows.
using DisplayWindow = void*;

// The scaling capability bits (also the top byte of the display-buffer open
// flags) are in vemo/flags.h.

// Requested depth values besides an exact 8, 16, 24 or 32.
constexpr uint32_t kDepthAtLeastHighColour = 1;  // 16, 32, 24
constexpr uint32_t kDepthTryTrueColour = 2;      // 32, 24, 16
constexpr uint32_t kDepthTrueColourOnly = 3;     // 32, 24

struct DisplayModeRequest {
    uint32_t width = 0;  // 0 = no request
    uint32_t height = 0;
    uint32_t depth = 0;  // exact depth or a fallback code; 0 = none
};

// The screen as the display buffers see it.
struct DisplayScreen {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bits_per_pixel = 0;
    uint32_t bytes_per_pixel = 0;
};

// Stores the full-screen request (the player's /D option). The first mode
// change that uses it resets it to zero.
void SetDisplayModeRequest(uint32_t width, uint32_t height, uint32_t depth);
DisplayModeRequest GetDisplayModeRequest();

// The depths a request tries, in order (an exact depth once, a code its
// list); returns the count (0 for no or an unknown depth).
int DepthsToTry(uint32_t depth, uint32_t depths[3]);

// One attempt at a mode: depth 0 asks for the resolution alone. Returns true
// when the device took the mode and fills *depth_now with the depth the
// screen reports afterwards.
using ModeAttempt =
    std::function<bool(uint32_t width, uint32_t height, uint32_t depth, uint32_t* depth_now)>;
// Undoes a mode the walk took and then rejected.
using ModeUndo = std::function<void()>;

// The depth walk: tries each depth of the request's list; a taken mode whose
// reported depth differs goes on to the next depth (after undo, when undo is
// given). With resolution_fallback, an exhausted list tries the resolution
// alone once. Returns true when a mode is in force afterwards.
bool WalkDisplayDepths(const DisplayModeRequest& request, bool resolution_fallback,
                       const ModeAttempt& attempt, const ModeUndo& undo);

// The destination colour key: 253 on an 8-bit screen, else the darkest
// magenta the format holds (the lowest bit of the red mask plus the lowest
// bit of the blue mask).
uint32_t ColourKeyFor(uint32_t bits_per_pixel, uint32_t red_mask, uint32_t blue_mask);

// The last display error ("" when none).
const char* GetLastDisplayError();
void SetLastDisplayError(const char* text);

class DisplaySurface;
struct DisplayRect;

// Where a window is and how big its frame is, in screen coordinates.
struct WindowGeometry {
    bool valid = false;
    bool visible = false;
    bool minimised = false;
    int32_t window_x = 0, window_y = 0;  // outer origin
    int32_t window_width = 0, window_height = 0;
    int32_t client_x = 0, client_y = 0;  // client origin on the screen
    int32_t client_width = 0, client_height = 0;
};

// Where a blit puts the buffer: its size, and the destination of the whole
// buffer in client and in screen coordinates at the shown size.
struct BlitTarget {
    uint32_t width = 0, height = 0;
    int32_t client_x = 0, client_y = 0;
    int32_t screen_x = 0, screen_y = 0;
    uint32_t scaled_width = 0, scaled_height = 0;
};

// A surface of one blitting style, made by the display system.
class DisplaySurface {
  public:
    virtual ~DisplaySurface() = default;
    // The surface format code (SurfaceFormatOf) of the pixels handed out.
    virtual int32_t format() const = 0;
    // Pixel pointer and pitch of the buffer's top-left pixel (a surface that
    // is the window's own pixels starts at the target's client position).
    // Returns kLockFailed when the surface cannot be reached now, kLockLost
    // when it can but its earlier contents are gone.
    enum LockResult { kLockFailed, kLockKept, kLockLost };
    virtual LockResult Lock(const BlitTarget& target, uint8_t** pixels, int32_t* pitch) = 0;
    virtual void Unlock() = 0;
    // Shows the listed rectangles (buffer pixels), or all when rects is null.
    virtual void Show(const DisplayRect* rects, int count, const BlitTarget& target) = 0;
    // The buffer's place changed (SetDisplayBufferOffset); shown tells
    // whether an overlay is to stay visible. Surfaces the device places on
    // the screen themselves (overlays) follow it here.
    virtual void Moved(const BlitTarget& target, bool shown) {
        (void)target;
        (void)shown;
    }
};

// The platform's display system. One is in use per process (SetDisplaySystem).
class DisplaySystem {
  public:
    virtual ~DisplaySystem() = default;
    // Starts the shared device for a window; false when it is unavailable.
    // Called when the first buffer needs it; StopDevice when the last leaves.
    virtual bool StartDevice(DisplayWindow window) = 0;
    virtual void StopDevice() = 0;
    virtual DisplayScreen ReadScreen(DisplayWindow window) = 0;
    // What surfaces of the overlay styles (3-5) and of the off-screen styles
    // (6-10) can scale (capability bits).
    virtual uint32_t OverlayCapabilities() = 0;
    virtual uint32_t BlitCapabilities() = 0;
    // One full-screen mode attempt for the window (depth 0: keep the depth).
    virtual bool SetMode(DisplayWindow window, uint32_t width, uint32_t height, uint32_t depth,
                         uint32_t* depth_now) = 0;
    // Goes back to the mode in force before the first SetMode.
    virtual void RestoreMode(DisplayWindow window) = 0;
    virtual WindowGeometry Geometry(DisplayWindow window) = 0;
    // Makes the surface of one style (1-10) for a buffer of width x height;
    // null when the style cannot be made (an error text may be set).
    virtual DisplaySurface* CreateSurface(DisplayWindow window, uint32_t style, uint32_t width,
                                          uint32_t height, const DisplayScreen& screen) = 0;
    // The name of a style as this system realises it.
    virtual const char* StyleName(uint32_t style) const = 0;
};

// Installs the display system used by OpenDisplayBuffer (null: none, every
// open fails). Not owned.
void SetDisplaySystem(DisplaySystem* system);
DisplaySystem* GetDisplaySystem();

// The shared device and the mode change, reference-counted as the buffers
// use them (OpenDisplayBuffer and CloseDisplayBuffer call these).
// Starts or joins the device; applies the mode request when asked and the
// request is complete. True when the device exists afterwards.
bool AcquireDisplayDevice(DisplayWindow window, bool want_full_screen);
void ReleaseDisplayDevice();
// The device-less path: does nothing and returns false when the device is in
// use; otherwise applies a complete request (falling back to the resolution
// alone), reads the screen, counts a user and returns true.
bool ChangeDisplayModeWithoutDevice(DisplayWindow window, bool want_full_screen);
void RestoreDisplayModeWithoutDevice();
// The current screen values (read at device start and after mode changes).
DisplayScreen GetDisplayScreen();
bool DisplayDeviceInUse();
// Drops all display state (tests, and the end of the program).
void ResetDisplayState();

}  // namespace vemo
