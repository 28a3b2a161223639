// Destination pixel formats and the copy flags word.
#pragma once

#include <cstdint>

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

// The copy flags word.
constexpr uint32_t kCopyFormatMask = 0xF;
constexpr uint32_t kCopyShowAlpha = 0x800;
constexpr uint32_t kCopySwapChroma = 0x10000;
constexpr uint32_t kCopyGrayscale = 0x20000;
constexpr uint32_t kCopyNeverSkip = 0x80000;
constexpr uint32_t kCopyNoReadService = 0x200000;
constexpr uint32_t kCopyScaleMask = 0x70000000;
constexpr int kCopyScaleShift = 28;
constexpr uint32_t kCopyAll = 0x80000000;

// Destination bytes per source pixel at normal width (YV12: the luma byte).
uint32_t SurfaceBytesPerPixel(uint32_t format);

}  // namespace vemo
