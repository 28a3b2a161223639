// The display buffer's operations over the platform's display system.
#include "vemo/display_buffer.h"

#include <cstring>
#include <new>
#include <string>

#include "vemo/display_rules.h"
#include "vemo/memory.h"

namespace vemo {
namespace {

bool IsOverlayStyle(uint32_t style) {
    return style >= kBlitYv12Overlay && style <= kBlitUyvyOverlay;
}
bool IsOffScreenStyle(uint32_t style) {
    return style >= kBlitYv12OffScreen && style <= kBlitRgbSystem;
}

uint32_t FormatBytesPerPixel(int32_t format, uint32_t screen_bytes) {
    switch (format) {
        case kSurfacePalette8:
        case kSurfaceYv12:
            return 1;
        case kSurfaceBgr24:
        case kSurfaceRgb24:
            return 3;
        case kSurfaceXrgb32:
        case kSurfaceXbgr32:
        case kSurfaceArgb32:
        case kSurfaceAbgr32:
            return 4;
        case kSurfaceArgb4444:
        case kSurfaceArgb1555:
        case kSurfaceRgb555:
        case kSurfaceRgb565:
        case kSurfaceRgb655:
        case kSurfaceRgb664:
        case kSurfaceYuy2:
        case kSurfaceUyvy:
            return 2;
        default:
            return screen_bytes;
    }
}

BlitTarget TargetOf(const DisplayBuffer* b) {
    BlitTarget t;
    t.width = b->width;
    t.height = b->height;
    t.client_x = b->destination_client_x;
    t.client_y = b->destination_client_y;
    t.screen_x = b->destination_screen_x;
    t.screen_y = b->destination_screen_y;
    t.scaled_width = b->scaled_width;
    t.scaled_height = b->scaled_height;
    return t;
}

// Clears a fresh surface of the overlay and off-screen styles.
bool ClearSurface(DisplaySurface* surface, const BlitTarget& target, uint32_t screen_bytes) {
    uint8_t* pixels = nullptr;
    int32_t pitch = 0;
    if (surface->Lock(target, &pixels, &pitch) == DisplaySurface::kLockFailed) return false;
    const int32_t format = surface->format();
    ClearSurfacePixels(format, pixels, pitch, target.width, target.height,
                       FormatBytesPerPixel(format, screen_bytes));
    surface->Unlock();
    return true;
}

void GiveBackUses(bool device_use, bool mode_use) {
    if (device_use) ReleaseDisplayDevice();
    if (mode_use) RestoreDisplayModeWithoutDevice();
}

}  // namespace

DisplayBuffer* OpenDisplayBuffer(DisplayWindow window, uint32_t width, uint32_t height,
                                 uint32_t open_flags) {
    if (width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF) {
        SetLastDisplayError(kDisplayErrorNoStyle);
        return nullptr;
    }
    DisplaySystem* system = GetDisplaySystem();
    const uint32_t asked = open_flags & kDisplayOpenStyleMask;
    const bool full_screen = (open_flags & kDisplayOpenChangeMode) != 0;
    const uint32_t wanted = open_flags & kScaleCapabilityMask;

    bool device_use = false, mode_use = false, mode_path_ran = false;
    if (asked == kBlitDibSection) {
        if (ChangeDisplayModeWithoutDevice(window, full_screen)) {
            mode_use = mode_path_ran = true;
        } else {
            device_use = AcquireDisplayDevice(window, full_screen);
        }
    } else {
        device_use = AcquireDisplayDevice(window, full_screen);
        if (!device_use && asked != kBlitAutomatic) {
            SetLastDisplayError(kDisplayErrorNoDevice);
            return nullptr;
        }
    }

    DisplaySurface* surface = nullptr;
    DisplayScreen screen = GetDisplayScreen();
    BlitTarget target;
    target.width = width;
    target.height = height;
    target.scaled_width = width;
    target.scaled_height = height;

    StyleWalkSetup setup;
    setup.asked_style = asked;
    setup.wanted_capabilities = wanted;
    setup.device_available = device_use;
    setup.overlay_capabilities = system && device_use ? system->OverlayCapabilities() : 0;
    setup.blit_capabilities = system && device_use ? system->BlitCapabilities() : 0;
    setup.screen_bits_per_pixel = screen.bits_per_pixel;

    const StyleWalkResult walk = WalkBlitStyles(setup, [&](uint32_t style, std::string* error) {
        SetLastDisplayError("");
        if (!system) return false;
        if (style == kBlitDibSection) {
            if (!mode_path_ran && (!device_use || screen.bytes_per_pixel == 0)) {
                mode_path_ran = true;
                if (ChangeDisplayModeWithoutDevice(window, full_screen)) mode_use = true;
                screen = GetDisplayScreen();
            }
            if (screen.bytes_per_pixel < 2) {
                *error = kDisplayError256Colours;
                return false;
            }
        }
        surface = system->CreateSurface(window, style, width, height, screen);
        if (!surface) {
            if (style == kBlitDibSection) {
                *error = kDisplayErrorDibSection;
            } else if (*GetLastDisplayError() != '\0') {
                *error = GetLastDisplayError();
            }
            return false;
        }
        const int32_t format = surface->format();
        bool usable = format >= 0 && format <= static_cast<int32_t>(kSurfaceYv12);
        if (format < 0) *error = kDisplayErrorVideoMode;
        // A palette surface only serves the styles that write 8-bit pixels.
        if (format == kSurfacePalette8 &&
            (style == kBlitPrimary || style == kBlitRgbVideo || style == kBlitRgbSystem)) {
            usable = false;
        }
        if (usable && (IsOverlayStyle(style) || IsOffScreenStyle(style))) {
            usable = ClearSurface(surface, target, screen.bytes_per_pixel);
        }
        if (!usable) {
            delete surface;
            surface = nullptr;
            return false;
        }
        return true;
    });

    if (walk.style == 0) {
        SetLastDisplayError(walk.error.c_str());
        GiveBackUses(device_use, mode_use);
        return nullptr;
    }

    void* memory = AllocateLibraryMemory(sizeof(DisplayBuffer));
    if (!memory) {
        delete surface;
        GiveBackUses(device_use, mode_use);
        SetLastDisplayError("Out of memory.");
        return nullptr;
    }
    std::memset(memory, 0, sizeof(DisplayBuffer));
    auto* b = static_cast<DisplayBuffer*>(memory);
    const uint32_t style = walk.style;
    b->width = width;
    b->height = height;
    b->window = window;
    b->style = style;
    b->surface = surface;
    b->owns_device_use = device_use;
    b->owns_mode_use = mode_use;
    screen = GetDisplayScreen();
    b->screen_width = screen.width;
    b->screen_height = screen.height;
    b->screen_bits_per_pixel = screen.bits_per_pixel;
    b->screen_bytes_per_pixel = screen.bytes_per_pixel;
    b->surface_type = static_cast<uint32_t>(surface->format()) & kSurfaceTypeFormatMask;
    if (style == kBlitPrimary) {
        b->capabilities = 0;
        b->writes_primary = 1;
        b->surface_type |= kSurfaceTypeNoRects;
    } else if (style == kBlitDibSection) {
        b->capabilities = kScaleCapabilityMask;
        if (wanted) b->surface_type |= kSurfaceTypeBoundingRect;
    } else if (IsOverlayStyle(style)) {
        b->capabilities = system->OverlayCapabilities();
        b->is_overlay = 1;
        b->surface_type |= kSurfaceTypeNoRects;
    } else {
        b->capabilities = system->BlitCapabilities();
        b->is_off_screen = 1;
        if (wanted) b->surface_type |= kSurfaceTypeBoundingRect;
    }
    const WindowGeometry g = system->Geometry(window);
    if (g.valid) {
        b->client_offset_x = g.client_x - g.window_x;
        b->client_offset_y = g.client_y - g.window_y;
        b->non_client_width = g.window_width - g.client_width;
        b->non_client_height = g.window_height - g.client_height;
    }
    SetDisplayBufferOffset(b, 0, 0);
    SetDisplayBufferScale(b, width, height);
    SetLastDisplayError("");
    return b;
}

void CloseDisplayBuffer(DisplayBuffer* buffer) {
    if (!buffer) return;
    if (buffer->pointer && buffer->surface) buffer->surface->Unlock();
    delete buffer->surface;
    GiveBackUses(buffer->owns_device_use != 0, buffer->owns_mode_use != 0);
    std::memset(buffer, 0, sizeof(DisplayBuffer));
    FreeLibraryMemory(buffer);
}

int LockDisplayBuffer(DisplayBuffer* buffer) {
    if (!buffer || !buffer->surface) return 0;
    if (buffer->pointer) return 1;  // already locked: the same pixels
    if (buffer->style != kBlitDibSection && buffer->minimised) return 0;
    uint8_t* pixels = nullptr;
    int32_t pitch = 0;
    const DisplaySurface::LockResult r = buffer->surface->Lock(TargetOf(buffer), &pixels, &pitch);
    if (r == DisplaySurface::kLockFailed) {
        buffer->surface_type |= kSurfaceTypeRewrite;
        buffer->pointer = nullptr;
        buffer->pitch = 0;
        return 0;
    }
    if (r == DisplaySurface::kLockLost) buffer->surface_type |= kSurfaceTypeRewrite;
    buffer->pointer = pixels;
    buffer->pitch = pitch;
    return 1;
}

int UnlockDisplayBuffer(DisplayBuffer* buffer) {
    if (!buffer) return 1;
    if (buffer->pointer && buffer->surface) buffer->surface->Unlock();
    buffer->pointer = nullptr;
    buffer->pitch = 0;
    buffer->surface_type &= ~kSurfaceTypeRewrite;
    if (buffer->is_overlay) buffer->overlay_shown = 1;
    return 1;
}

int BlitDisplayBuffer(DisplayBuffer* buffer, const DisplayRect* rects, int count) {
    if (!buffer || !buffer->surface) return 0;
    if (rects && count <= 0) return 1;
    if (buffer->style != kBlitDibSection && buffer->minimised) return 0;
    const BlitTarget target = TargetOf(buffer);
    if (!rects || count > kMaxBlitRects) {
        buffer->surface->Show(nullptr, 0, target);
        return 1;
    }
    DisplayRect clipped[kMaxBlitRects];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        DisplayRect r = rects[i];
        if (ClipRectToBuffer(&r, buffer->width, buffer->height)) clipped[n++] = r;
    }
    if (n > 0) buffer->surface->Show(clipped, n, target);
    return 1;
}

int ClearDisplayBuffer(DisplayBuffer* buffer) {
    if (!LockDisplayBuffer(buffer)) return 0;
    const int32_t format = static_cast<int32_t>(buffer->surface_type & kSurfaceTypeFormatMask);
    ClearSurfacePixels(format, buffer->pointer, buffer->pitch, buffer->width, buffer->height,
                       FormatBytesPerPixel(format, buffer->screen_bytes_per_pixel));
    UnlockDisplayBuffer(buffer);
    return 1;
}

int SetDisplayBufferOffset(DisplayBuffer* buffer, int32_t x, int32_t y) {
    if (!buffer) return 1;
    DisplaySystem* system = GetDisplaySystem();
    const WindowGeometry g = system ? system->Geometry(buffer->window) : WindowGeometry{};
    if (g.minimised) {
        buffer->minimised = 1;
        return 1;
    }
    buffer->minimised = 0;
    buffer->destination_screen_x = g.client_x + x;
    buffer->destination_screen_y = g.client_y + y;
    buffer->destination_client_x = x;
    buffer->destination_client_y = y;
    buffer->surface_type |= kSurfaceTypeRewrite;
    if (buffer->surface) buffer->surface->Moved(TargetOf(buffer), buffer->overlay_shown != 0);
    return 1;
}

int SetDisplayBufferScale(DisplayBuffer* buffer, uint32_t width, uint32_t height) {
    if (!buffer) return 0;
    if (width == 0) width = buffer->screen_width;
    if (height == 0) height = buffer->screen_height;
    // Sizes past what a window can have are refused (they would overflow the
    // shown rectangles).
    constexpr uint32_t kLargestShown = 0x7FFF;
    if (width > kLargestShown) width = 0;
    if (height > kLargestShown) height = 0;
    int accepted = 1;
    const uint32_t need_w = WidthScaleNeeds(buffer->width, width);
    if (width != 0 && (need_w == 0 || (need_w & buffer->capabilities) != 0)) {
        buffer->scaled_width = width;
    } else {
        accepted = 0;
    }
    const uint32_t need_h = HeightScaleNeeds(buffer->height, height);
    if (height != 0 && (need_h == 0 || (need_h & buffer->capabilities) != 0)) {
        buffer->scaled_height = height;
    } else {
        accepted = 0;
    }
    buffer->window_width = static_cast<uint32_t>(buffer->non_client_width) + buffer->scaled_width;
    buffer->window_height =
        static_cast<uint32_t>(buffer->non_client_height) + buffer->scaled_height;
    return accepted;
}

void AdjustWindowPosition(const DisplayBuffer* buffer, int32_t* x, int32_t* y) {
    if (!buffer) return;
    PositionRules rules;
    rules.client_offset_x = buffer->client_offset_x;
    rules.client_offset_y = buffer->client_offset_y;
    rules.clamp_to_screen = buffer->writes_primary != 0;
    rules.screen_width = buffer->screen_width;
    rules.screen_height = buffer->screen_height;
    rules.screen_bytes_per_pixel = buffer->screen_bytes_per_pixel;
    rules.buffer_width = buffer->width;
    rules.buffer_height = buffer->height;
    if (x) *x = AdjustWindowX(rules, *x);
    if (y) *y = AdjustWindowY(rules, *y);
}

const char* GetBlitStyleName(const DisplayBuffer* buffer) {
    if (!buffer) return "";
    DisplaySystem* system = GetDisplaySystem();
    return system ? system->StyleName(buffer->style) : "";
}

}  // namespace vemo
