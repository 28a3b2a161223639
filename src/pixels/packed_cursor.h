// The positions of a packed-path kernel in locals, so that stores through
// the destination do not force them back to the context on every group.
// Pixels is the group width of the kernel (8 for SSE2, 16 for AVX2).
#pragma once

#include <cstdint>

#include "pixels_internal.h"

namespace vemo {

template <uint32_t Pixels>
struct PackedCursor {
    uint8_t* destination;
    const uint8_t *luma, *alpha, *chroma1, *chroma2;
    explicit PackedCursor(const ConversionContext& c)
        : destination(c.destination),
          luma(c.luma),
          alpha(c.alpha),
          chroma1(c.chroma1),
          chroma2(c.chroma2) {}
    void Advance(uint32_t bytes, uint32_t groups = 1) {
        destination += bytes;
        luma += Pixels * groups, alpha += Pixels * groups;
        chroma1 += Pixels / 2 * groups, chroma2 += Pixels / 2 * groups;
    }
    void Store(ConversionContext& c) const {
        c.destination = destination;
        c.luma = luma, c.alpha = alpha, c.chroma1 = chroma1, c.chroma2 = chroma2;
    }
};

}  // namespace vemo
