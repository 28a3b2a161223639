// The Windows display system: DirectDraw (loaded at run time from
// "DDRAW.DLL") for the primary-surface, overlay and off-screen styles, GDI
// for the DIB section and for display modes when DirectDraw is absent.
#pragma once

#include <cstdint>

#include "vemo/display_device.h"

namespace vemo {

// The process's Windows display system; install it with SetDisplaySystem.
// The window handed to OpenDisplayBuffer is an HWND.
DisplaySystem* GetWin32DisplaySystem();

// The destination colour key written around overlays (valid while the
// shared DirectDraw object exists).
uint32_t GetDisplayColourKey();

// The shared DirectDraw object (IDirectDraw*) and its primary surface
// (IDirectDrawSurface*), null while DirectDraw is not in use.
void* GetSharedDirectDraw();
void* GetSharedPrimarySurface();

// 1 when the cursor is drawn in software over the primary surface (an
// IDirectDrawSurface*) for the cursor (an HCURSOR); the answer is cached for
// the same cursor, surface address and depth.
int IsSoftwareCursor(void* primary, void* cursor);
// Hides the cursor when its rectangle meets the area (client coordinates of
// window, or screen coordinates when window is null); returns how many
// times the cursor was hidden. ShowCursorTimes shows it that many times.
int HideCursorOver(DisplayWindow window, int32_t x, int32_t y, int32_t width, int32_t height);
void ShowCursorTimes(int count);

}  // namespace vemo
