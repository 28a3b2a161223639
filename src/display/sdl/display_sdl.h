// The SDL2 display system: the ten blitting styles on an SDL window.
#pragma once

#include <cstdint>

#include "vemo/display_device.h"

namespace vemo {

// The process's SDL2 display system; install it with SetDisplaySystem. The
// window handed to OpenDisplayBuffer is an SDL_Window*. SDL's video
// subsystem is started on first use when the caller has not started it.
// Buffers must be closed before their window is destroyed.
DisplaySystem* GetSdlDisplaySystem();

// The SurfaceFormat code of an SDL pixel format (SDL_PIXELFORMAT_*), or -1.
int32_t SurfaceFormatOfSdl(uint32_t sdl_format);

// Called by every blit just before the window is updated, so that the caller
// can draw over the picture (the statistics line) or read the frame back:
// renderer is the SDL_Renderer* of the renderer styles (3-10), null for the
// window-surface styles (1, 2), whose pixels are SDL_GetWindowSurface's; for
// those a blit with a hook installed updates the whole window surface.
using DisplayPresentHook = void (*)(DisplayWindow window, void* renderer, void* context);
void SetSdlPresentHook(DisplayPresentHook hook, void* context);

// Pixels the window-surface styles (1, 2) have pushed to their windows so
// far, all windows together: what was put on the screen, for tests.
uint64_t SdlWindowPixelsPushed();

}  // namespace vemo
