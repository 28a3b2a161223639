// What the Windows blitting styles share with the device: the shared
// DirectDraw object and primary surface, and locking with restore.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h first: ddraw.h builds on its types.
#include <ddraw.h>

#include <cstdint>

#include "vemo/display_device.h"
#include "vemo/display_rules.h"

namespace vemo::win32 {

constexpr HRESULT kCannotLockSurface = static_cast<HRESULT>(0x887601B3);
constexpr HRESULT kSurfaceLost = static_cast<HRESULT>(0x887601C2);

struct SharedDirectDraw {
    IDirectDraw* object = nullptr;
    IDirectDrawSurface* primary = nullptr;
    uint32_t overlay_capabilities = 0;
    uint32_t blit_capabilities = 0;
    uint32_t colour_key = 0;
    uint32_t primary_bits = 0;  // bits per pixel of the primary surface
};
SharedDirectDraw& Shared();

// The SurfaceFormat code of a DirectDraw pixel format.
int32_t SurfaceFormatOfPixelFormat(const DDPIXELFORMAT& format);
// The code of a surface's pixel format (-1 when it cannot be read).
int32_t SurfaceFormatOfSurface(IDirectDrawSurface* surface);

// Locks with DDLOCK_WAIT; a lost surface is restored and locked again.
// *lost is set when any attempt failed (the contents must be rewritten).
// False when the surface cannot be locked now.
bool LockSurface(IDirectDrawSurface* surface, DDSURFACEDESC* desc, bool* lost);

// Makes the surface of one style (1-10); null when the style cannot be made.
DisplaySurface* CreateStyleSurface(HWND window, uint32_t style, uint32_t width, uint32_t height,
                                   const DisplayScreen& screen);

}  // namespace vemo::win32
