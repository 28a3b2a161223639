// Changed-area rectangles: up to eight rectangles that cover every changed
// 16x16 block of a frame with little waste.
#pragma once

#include <cstdint>

namespace vemo {

struct ChangedRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

constexpr int kMaxChangedRects = 8;

// What ComputeChangedRects works on: the change map (one byte per 16x16
// block, row-major, blocks_across bytes per row, blocks_down rows; non-zero =
// changed) and the sizes involved.
struct ChangeMapView {
    const uint8_t* map = nullptr;
    uint32_t blocks_across = 0;
    uint32_t blocks_down = 0;
    uint32_t coded_width = 0;   // the header's picture width
    uint32_t coded_height = 0;  // the header's picture height
    uint32_t played_width = 0;  // the size rectangles are clipped to
    uint32_t played_height = 0;
};

// Bounding rectangle of the changed blocks inside r (x, y multiples of 16).
// False when no block inside r changed.
bool BoundChangedBlocks(const ChangeMapView& view, const ChangedRect& r, ChangedRect* bound);

// Computes the rectangles of one frame into out (room for kMaxChangedRects):
// the bounding rectangle of all changes, split while a split saves area
// (unless one_only), ordered top to bottom then left to right, scaled by the
// scaling mode (0-7, the copy's ScaleMode field) and clipped to the played
// size. Returns the count (0 when nothing changed).
int ComputeChangedRects(const ChangeMapView& view, bool one_only, uint32_t scale_mode,
                        ChangedRect* out);

}  // namespace vemo
