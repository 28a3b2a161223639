// Destination pixel formats and the copy flags word.
#pragma once

#include <cstdint>

#include "vemo/flags.h"

namespace vemo {

enum SurfaceFormat : uint32_t {
    kSurfacePalette8 = 0,  // 3-3-2 colour cube index
    kSurfaceBgr24 = 1,     // red mask 0xFF0000: bytes B, G, R
    kSurfaceRgb24 = 2,     // red mask 0x0000FF: bytes R, G, B
    kSurfaceXrgb32 = 3,    // red mask 0xFF0000, fourth byte 0
    kSurfaceXbgr32 = 4,    // red mask 0x0000FF, fourth byte 0
    kSurfaceArgb32 = 5,    // red mask 0xFF0000, fourth byte alpha
    kSurfaceAbgr32 = 6,    // red mask 0x0000FF, fourth byte alpha
    kSurfaceArgb4444 = 7,
    kSurfaceArgb1555 = 8,
    kSurfaceRgb555 = 9,
    kSurfaceRgb565 = 10,
    kSurfaceRgb655 = 11,
    kSurfaceRgb664 = 12,
    kSurfaceYuy2 = 13,
    kSurfaceUyvy = 14,
    kSurfaceYv12 = 15,
};

// The copy flags word's bits are in vemo/flags.h; CopyOptions is the same
// word taken apart.
struct CopyOptions {
    uint32_t format = 0;  // SurfaceFormat
    bool show_alpha = false;
    bool swap_chroma = false;
    bool grayscale = false;
    bool never_skip = false;
    bool no_read_service = false;
    uint32_t scale_mode = 0;  // 0-7
    bool copy_all = false;
    uint32_t other_bits = 0;  // bits the copy ignores (kept for the round trip)

    static constexpr CopyOptions FromFlags(uint32_t flags) {
        CopyOptions o;
        o.format = flags & kCopyFormatMask;
        o.show_alpha = (flags & kCopyShowAlpha) != 0;
        o.swap_chroma = (flags & kCopySwapChroma) != 0;
        o.grayscale = (flags & kCopyGrayscale) != 0;
        o.never_skip = (flags & kCopyNeverSkip) != 0;
        o.no_read_service = (flags & kCopyNoReadService) != 0;
        o.scale_mode = (flags & kCopyScaleMask) >> kCopyScaleShift;
        o.copy_all = (flags & kCopyAll) != 0;
        o.other_bits = flags & ~kKnownBits;
        return o;
    }
    constexpr uint32_t Flags() const {
        return (format & kCopyFormatMask) | (show_alpha ? kCopyShowAlpha : 0) |
               (swap_chroma ? kCopySwapChroma : 0) | (grayscale ? kCopyGrayscale : 0) |
               (never_skip ? kCopyNeverSkip : 0) | (no_read_service ? kCopyNoReadService : 0) |
               ((scale_mode << kCopyScaleShift) & kCopyScaleMask) | (copy_all ? kCopyAll : 0) |
               (other_bits & ~kKnownBits);
    }

  private:
    static constexpr uint32_t kKnownBits = kCopyFormatMask | kCopyShowAlpha | kCopySwapChroma |
                                           kCopyGrayscale | kCopyNeverSkip | kCopyNoReadService |
                                           kCopyScaleMask | kCopyAll;
};

// Destination bytes per source pixel at normal width (YV12: the luma byte).
uint32_t SurfaceBytesPerPixel(uint32_t format);

}  // namespace vemo
