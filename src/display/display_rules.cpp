// The display buffer's platform-neutral rules.
#include "vemo/display_rules.h"

#include <cstring>
#include <numeric>

#include "vemo/display_device.h"

namespace vemo {

const char kDisplayErrorNoDevice[] = "DirectDraw is not available";
const char kDisplayErrorNoStyle[] = "No capable blitting style available.";
const char kDisplayErrorVideoMode[] = "Video mode not supported.";
const char kDisplayErrorDibSection[] = "Unable to create DIBSection.";
const char kDisplayError256Colours[] = "256 color mode not supported.";

int32_t SurfaceFormatOf(const PixelLayoutDescription& layout) {
    if (layout.fourcc != 0) {
        if (layout.fourcc == kFourCcYuy2) return kSurfaceYuy2;
        if (layout.fourcc == kFourCcUyvy) return kSurfaceUyvy;
        if (layout.fourcc == kFourCcYv12) return kSurfaceYv12;
        return -1;
    }
    const uint32_t r = layout.red_mask, g = layout.green_mask, b = layout.blue_mask,
                   a = layout.alpha_mask;
    switch (layout.bits_per_pixel) {
        case 8:
            return kSurfacePalette8;
        case 24:
            return r == 0xFF0000 ? kSurfaceBgr24 : kSurfaceRgb24;
        case 32:
            if (a == 0) return r == 0xFF0000 ? kSurfaceXrgb32 : kSurfaceXbgr32;
            return r == 0xFF0000 ? kSurfaceArgb32 : kSurfaceAbgr32;
        case 16:
            if (a == 0xF000 && r == 0x0F00 && g == 0x00F0 && b == 0x000F) return kSurfaceArgb4444;
            if (r == 0x7C00 && g == 0x03E0 && b == 0x001F) {
                return a == 0x8000 ? kSurfaceArgb1555 : kSurfaceRgb555;
            }
            if (r == 0xF800 && g == 0x07E0 && b == 0x001F) return kSurfaceRgb565;
            if (r == 0xFC00 && g == 0x03E0 && b == 0x001F) return kSurfaceRgb655;
            if (r == 0xFC00 && g == 0x03F0 && b == 0x000F) return kSurfaceRgb664;
            return -1;
        default:
            return -1;
    }
}

namespace {

uint32_t ScaleNeeds(uint32_t size, uint32_t shown, uint32_t stretch_integer,
                    uint32_t shrink_integer, uint32_t stretch_any, uint32_t shrink_any) {
    if (shown == size || size == 0 || shown == 0) return 0;
    if (shown % size == 0) return stretch_integer;
    if (size % shown == 0) return shrink_integer;
    return shown > size ? stretch_any : shrink_any;
}

}  // namespace

uint32_t WidthScaleNeeds(uint32_t buffer_width, uint32_t shown_width) {
    return ScaleNeeds(buffer_width, shown_width, kScaleWidthStretchInteger,
                      kScaleWidthShrinkInteger, kScaleWidthStretchAny, kScaleWidthShrinkAny);
}

uint32_t HeightScaleNeeds(uint32_t buffer_height, uint32_t shown_height) {
    return ScaleNeeds(buffer_height, shown_height, kScaleHeightStretchInteger,
                      kScaleHeightShrinkInteger, kScaleHeightStretchAny, kScaleHeightShrinkAny);
}

namespace {

uint64_t RowBytes(int32_t format, uint32_t width, uint32_t bytes_per_pixel) {
    switch (format) {
        case kSurfaceYuy2:
        case kSurfaceUyvy:
            return 2ull * width;
        case kSurfaceYv12:
            return width;
        default:
            return static_cast<uint64_t>(width) * bytes_per_pixel;
    }
}

}  // namespace

uint64_t SurfaceBytesNeeded(int32_t format, int32_t pitch, uint32_t height) {
    if (pitch <= 0 || height == 0) return 0;
    const uint64_t p = static_cast<uint64_t>(pitch);
    if (format == kSurfaceYv12) {
        uint64_t bytes = p * height;
        if (height >= 2) bytes += 2ull * (height / 2) * (p / 2);
        return bytes;
    }
    return p * height;
}

bool ClearSurfacePixels(int32_t format, uint8_t* pixels, int32_t pitch, uint32_t width,
                        uint32_t height, uint32_t bytes_per_pixel) {
    if (!pixels || width == 0 || height == 0) return true;
    if (pitch <= 0 || RowBytes(format, width, bytes_per_pixel) > static_cast<uint64_t>(pitch)) {
        return false;
    }
    const size_t step = static_cast<size_t>(pitch);
    switch (format) {
        case kSurfacePalette8:
        case kSurfaceBgr24:
        case kSurfaceXrgb32:
        case kSurfaceRgb555:
        case kSurfaceRgb565:
        case kSurfaceRgb655:
        case kSurfaceRgb664: {
            const size_t row = static_cast<size_t>(width) * bytes_per_pixel;
            for (uint32_t y = 0; y < height; ++y) std::memset(pixels + y * step, 0, row);
            return true;
        }
        case kSurfaceYuy2:
        case kSurfaceUyvy: {
            const uint8_t luma_first = format == kSurfaceYuy2;
            const uint8_t first = luma_first ? 0x00 : 0x80, second = luma_first ? 0x80 : 0x00;
            for (uint32_t y = 0; y < height; ++y) {
                uint8_t* p = pixels + y * step;
                for (uint32_t x = 0; x < width; ++x) {
                    p[2 * x] = first;
                    p[2 * x + 1] = second;
                }
            }
            return true;
        }
        case kSurfaceYv12: {
            for (uint32_t y = 0; y < height; ++y) std::memset(pixels + y * step, 16, width);
            if (height >= 2) {
                uint8_t* chroma = pixels + step * height;
                const size_t chroma_step = step / 2;
                const uint32_t rows = 2 * (height / 2);
                for (uint32_t y = 0; y < rows; ++y) {
                    std::memset(chroma + y * chroma_step, 128, width / 2);
                }
            }
            return true;
        }
        default:
            // Formats 2 and 4-8: left as they are.
            return true;
    }
}

namespace {

// Rounds v up to a multiple of m (m > 0), also for negative values.
int32_t RoundUpTo(int32_t v, int32_t m) {
    const int64_t q =
        v >= 0 ? (static_cast<int64_t>(v) + m - 1) / m : -((-static_cast<int64_t>(v)) / m);
    return static_cast<int32_t>(q * m);
}

int32_t ClampToScreen(int32_t v, uint32_t screen, uint32_t buffer) {
    const int64_t limit = static_cast<int64_t>(screen) - static_cast<int64_t>(buffer);
    int64_t r = v;
    if (r > limit) r = limit;
    if (r < 0) r = 0;
    return static_cast<int32_t>(r);
}

}  // namespace

int32_t AdjustWindowX(const PositionRules& rules, int32_t x) {
    int32_t v = x + rules.client_offset_x;
    if (rules.clamp_to_screen) v = ClampToScreen(v, rules.screen_width, rules.buffer_width);
    const int32_t multiple = rules.screen_bytes_per_pixel == 4   ? 2
                             : rules.screen_bytes_per_pixel == 3 ? 8
                                                                 : 4;
    v = RoundUpTo(v, multiple);
    return v - rules.client_offset_x;
}

int32_t AdjustWindowY(const PositionRules& rules, int32_t y) {
    int32_t v = y + rules.client_offset_y;
    if (rules.clamp_to_screen) v = ClampToScreen(v, rules.screen_height, rules.buffer_height);
    return v - rules.client_offset_y;
}

DisplayRect ScaleRectToShown(const DisplayRect& rect, uint32_t width, uint32_t height,
                             uint32_t scaled_width, uint32_t scaled_height, int32_t origin_x,
                             int32_t origin_y) {
    auto scale = [](int32_t v, uint32_t to, uint32_t from) -> int32_t {
        if (from == 0) return 0;
        return static_cast<int32_t>(static_cast<uint64_t>(static_cast<uint32_t>(v)) * to / from);
    };
    DisplayRect r;
    r.x = scale(rect.x, scaled_width, width) + origin_x;
    r.y = scale(rect.y, scaled_height, height) + origin_y;
    r.width = scale(rect.width, scaled_width, width);
    r.height = scale(rect.height, scaled_height, height);
    return r;
}

bool ClipRectToBuffer(DisplayRect* rect, uint32_t width, uint32_t height) {
    int64_t x0 = rect->x, y0 = rect->y;
    int64_t x1 = x0 + rect->width, y1 = y0 + rect->height;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > width) x1 = width;
    if (y1 > height) y1 = height;
    if (x1 <= x0 || y1 <= y0) return false;
    rect->x = static_cast<int32_t>(x0);
    rect->y = static_cast<int32_t>(y0);
    rect->width = static_cast<int32_t>(x1 - x0);
    rect->height = static_cast<int32_t>(y1 - y0);
    return true;
}

bool StyleCanScale(uint32_t style, uint32_t wanted, uint32_t overlay_capabilities,
                   uint32_t blit_capabilities) {
    wanted &= kScaleCapabilityMask;
    switch (style) {
        case kBlitPrimary:
            return wanted == 0;
        case kBlitDibSection:
            return true;
        case kBlitYv12Overlay:
        case kBlitYuy2Overlay:
        case kBlitUyvyOverlay:
            return (wanted & ~overlay_capabilities) == 0;
        default:
            return style <= kBlitStyleCount && (wanted & ~blit_capabilities) == 0;
    }
}

StyleWalkResult WalkBlitStyles(const StyleWalkSetup& setup, const StyleAttempt& attempt) {
    StyleWalkResult result;
    const bool automatic = setup.asked_style == kBlitAutomatic;
    if (!automatic && setup.asked_style != kBlitDibSection && !setup.device_available) {
        result.error = kDisplayErrorNoDevice;
        return result;
    }
    const uint32_t first = automatic ? 1 : setup.asked_style;
    const uint32_t last = automatic ? kBlitStyleCount : setup.asked_style;
    std::string error;
    for (uint32_t style = first; style <= last; ++style) {
        error.clear();
        if (style < 1 || style > kBlitStyleCount) break;
        if (style != kBlitDibSection && !setup.device_available) continue;
        if (!StyleCanScale(style, setup.wanted_capabilities, setup.overlay_capabilities,
                           setup.blit_capabilities)) {
            continue;
        }
        if (attempt(style, &error)) {
            result.style = style;
            return result;
        }
    }
    if (!automatic && setup.asked_style == kBlitDibSection) {
        result.error = !error.empty()                     ? error
                       : setup.screen_bits_per_pixel < 16 ? kDisplayError256Colours
                                                          : kDisplayErrorDibSection;
        return result;
    }
    if (!automatic && !error.empty()) {
        result.error = error;
    } else if (setup.screen_bits_per_pixel >= 1 && setup.screen_bits_per_pixel <= 8) {
        result.error = kDisplayError256Colours;
    } else {
        result.error = kDisplayErrorNoStyle;
    }
    return result;
}

uint32_t ScaleCapabilitiesFromEffects(uint32_t effect_caps, const DeviceEffectBits& bits) {
    uint32_t caps = 0;
    if (effect_caps & bits.stretch_x) caps |= kScaleWidthStretchAny | kScaleWidthStretchInteger;
    if (effect_caps & bits.stretch_x_integer) caps |= kScaleWidthStretchInteger;
    if (effect_caps & bits.shrink_x) caps |= kScaleWidthShrinkAny | kScaleWidthShrinkInteger;
    if (effect_caps & bits.shrink_x_integer) caps |= kScaleWidthShrinkInteger;
    if (effect_caps & bits.stretch_y) caps |= kScaleHeightStretchAny | kScaleHeightStretchInteger;
    if (effect_caps & bits.stretch_y_integer) caps |= kScaleHeightStretchInteger;
    if (effect_caps & bits.shrink_y) caps |= kScaleHeightShrinkAny | kScaleHeightShrinkInteger;
    if (effect_caps & bits.shrink_y_integer) caps |= kScaleHeightShrinkInteger;
    return caps;
}

OverlayPlacement PlaceOverlay(const BlitTarget& target, uint32_t screen_width,
                              uint32_t screen_height) {
    // Edges in 64 bits: a position near the 32-bit limits plus a size stays exact.
    int64_t src[4] = {0, 0, target.width, target.height};
    int64_t dst[4] = {target.screen_x, target.screen_y,
                      static_cast<int64_t>(target.screen_x) + target.scaled_width,
                      static_cast<int64_t>(target.screen_y) + target.scaled_height};
    const int64_t screen[2] = {screen_width, screen_height};
    for (int axis = 0; axis < 2; ++axis) {
        if (dst[axis] < 0) {
            src[axis] -= dst[axis];
            dst[axis] = 0;
        }
        if (dst[axis + 2] > screen[axis]) {
            src[axis + 2] -= dst[axis + 2] - screen[axis];
            dst[axis + 2] = screen[axis];
        }
    }
    OverlayPlacement p;
    p.empty = src[2] <= src[0] || src[3] <= src[1] || dst[2] <= dst[0] || dst[3] <= dst[1];
    if (p.empty) return p;
    auto edges = [](const int64_t e[4]) {
        return EdgeRect{static_cast<int32_t>(e[0]), static_cast<int32_t>(e[1]),
                        static_cast<int32_t>(e[2]), static_cast<int32_t>(e[3])};
    };
    p.source = edges(src);
    p.destination = edges(dst);
    return p;
}

uint32_t SoftwareRowPixels(uint32_t width, uint32_t bytes_per_pixel) {
    if (bytes_per_pixel == 0) return width;
    // Rows of n pixels are a multiple of 32 bytes exactly when n is a
    // multiple of 32 / gcd(32, bytes per pixel).
    const uint32_t unit = 32 / std::gcd(32u, bytes_per_pixel);
    return static_cast<uint32_t>((static_cast<uint64_t>(width) + unit - 1) / unit * unit);
}

}  // namespace vemo
