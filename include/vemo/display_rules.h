// The display buffer's platform-neutral rules: surface format codes from a
// pixel layout, the scaling each size change needs, clearing to black per
// format, the window-position arithmetic, the mapping of buffer rectangles
// to the shown size, and the walk over the blitting styles.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vemo/display_buffer.h"

namespace vemo {

constexpr uint32_t MakeFourCc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
constexpr uint32_t kFourCcYuy2 = MakeFourCc('Y', 'U', 'Y', '2');
constexpr uint32_t kFourCcUyvy = MakeFourCc('U', 'Y', 'V', 'Y');
constexpr uint32_t kFourCcYv12 = MakeFourCc('Y', 'V', '1', '2');

// A surface's pixel layout: a FourCC (0 for RGB) or a bit count and masks.
struct PixelLayoutDescription {
    uint32_t fourcc = 0;
    uint32_t bits_per_pixel = 0;
    uint32_t red_mask = 0, green_mask = 0, blue_mask = 0, alpha_mask = 0;
};

// The SurfaceFormat code of a layout, or -1 when no converter writes it.
int32_t SurfaceFormatOf(const PixelLayoutDescription& layout);

// The capability bit a change of the shown width (height) needs: 0 when it
// stays, the integer stretch or shrink bit when one size is a multiple of the
// other, else the any-factor bit. A new size of 0 needs nothing (callers map
// 0 to the screen size first).
uint32_t WidthScaleNeeds(uint32_t buffer_width, uint32_t shown_width);
uint32_t HeightScaleNeeds(uint32_t buffer_height, uint32_t shown_height);

// Fills width x height pixels of a surface of the given format with black,
// row by row at pitch (YV12: the luma rows, then two chroma planes of
// height / 2 rows at pitch / 2). RGB formats clear width x bytes_per_pixel
// bytes per row; formats 2 and 4-8 are left as they are. Returns false for
// arguments that describe no memory (negative pitch smaller than a row).
bool ClearSurfacePixels(int32_t format, uint8_t* pixels, int32_t pitch, uint32_t width,
                        uint32_t height, uint32_t bytes_per_pixel);
// Bytes the clear of such a surface touches from pixels on (0 when invalid).
uint64_t SurfaceBytesNeeded(int32_t format, int32_t pitch, uint32_t height);

// Window-position correction: x and y are outer window positions.
struct PositionRules {
    int32_t client_offset_x = 0, client_offset_y = 0;
    bool clamp_to_screen = false;  // the buffer writes the window's pixels directly
    uint32_t screen_width = 0, screen_height = 0, screen_bytes_per_pixel = 0;
    uint32_t buffer_width = 0, buffer_height = 0;
};
int32_t AdjustWindowX(const PositionRules& rules, int32_t x);
int32_t AdjustWindowY(const PositionRules& rules, int32_t y);

// A buffer rectangle mapped to the shown size at a destination origin
// (products in 64 bits, unsigned division).
DisplayRect ScaleRectToShown(const DisplayRect& rect, uint32_t width, uint32_t height,
                             uint32_t scaled_width, uint32_t scaled_height, int32_t origin_x,
                             int32_t origin_y);
// Cuts a rectangle to the buffer; false when nothing is left.
bool ClipRectToBuffer(DisplayRect* rect, uint32_t width, uint32_t height);

// The walk over the styles.
struct StyleWalkSetup {
    uint32_t asked_style = 0;          // 0 = automatic
    uint32_t wanted_capabilities = 0;  // top byte of the open flags
    bool device_available = false;
    uint32_t overlay_capabilities = 0;
    uint32_t blit_capabilities = 0;
    uint32_t screen_bits_per_pixel = 0;
};
// Tries to make one style; returns true on success. It may set an error text
// (through *error), which explicit requests report.
using StyleAttempt = std::function<bool(uint32_t style, std::string* error)>;
struct StyleWalkResult {
    uint32_t style = 0;  // 0 when no style could be made
    std::string error;   // the reason, when style is 0
};
// Walks: an asked style is tried alone, automatic tries 1 to 10 in order.
// Styles 1 and 3-10 need the device; style 1 takes no scaling; 3-5 need the
// wanted capabilities among the overlay ones, 6-10 among the blit ones;
// style 2 can scale everything. Failure texts follow the house rules: an
// asked style without a device fails with kDisplayErrorNoDevice, an asked
// style 2 with kDisplayError256Colours (fewer than 2 bytes per pixel) or
// kDisplayErrorDibSection, others with their own text or, without one,
// kDisplayError256Colours on 1-8 bit screens and kDisplayErrorNoStyle.
StyleWalkResult WalkBlitStyles(const StyleWalkSetup& setup, const StyleAttempt& attempt);
// True when a style can provide all wanted capabilities (style 1: none).
bool StyleCanScale(uint32_t style, uint32_t wanted, uint32_t overlay_capabilities,
                   uint32_t blit_capabilities);

// The scaling capability bits a device's effect capabilities give overlays
// and blits to the screen: each stretch or shrink bit for any factor also
// grants the integer factor of the same direction.
struct DeviceEffectBits {
    uint32_t stretch_x, stretch_x_integer, shrink_x, shrink_x_integer;
    uint32_t stretch_y, stretch_y_integer, shrink_y, shrink_y_integer;
};
uint32_t ScaleCapabilitiesFromEffects(uint32_t effect_caps, const DeviceEffectBits& bits);

// Where an overlay is shown: the shown buffer at its screen position, cut to
// the screen. A destination edge left of or above the screen moves to 0 and
// the source edge in by the same number of pixels; an edge past the screen's
// right or bottom is cut back and the source's right or bottom reduced by the
// same number. Rectangles are edges (left, top, right, bottom).
struct EdgeRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct OverlayPlacement {
    EdgeRect source, destination;
    bool empty = true;  // nothing of the overlay is on the screen
};
OverlayPlacement PlaceOverlay(const BlitTarget& target, uint32_t screen_width,
                              uint32_t screen_height);

// The row length in pixels of a software surface: the smallest count whose
// row is a multiple of 32 bytes and holds width pixels.
uint32_t SoftwareRowPixels(uint32_t width, uint32_t bytes_per_pixel);

}  // namespace vemo
