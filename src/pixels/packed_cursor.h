// The positions of a packed-path kernel in locals, so that stores through
// the destination do not force them back to the context on every group.
// Pixels is the group width of the kernel (8 for SSE2, 16 to 64 for the
// wider sets). Also the "any width" wrapper of the wide kernels.
#pragma once

#include <cstdint>
#include <cstring>

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

// Each kernel file compiles its own copy, for its own instruction set.
namespace {

// Any number of 8-pixel groups through a kernel of whole steps of
// kStepPixels: the whole steps in place, the last groups as one step over
// padded copies of their samples, of which only their pixels are kept.
template <GroupKernel kSteps, uint32_t kStepPixels, uint32_t kBytesPerPixel>
void AnyGroups(ConversionContext& c, uint32_t groups) {
    constexpr uint32_t kGroupsPerStep = kStepPixels / 8;
    if (groups >= kGroupsPerStep) kSteps(c, groups / kGroupsPerStep);
    const uint32_t pixels = groups % kGroupsPerStep * 8;
    if (!pixels) return;
    alignas(32) uint8_t luma[kStepPixels]{}, alpha[kStepPixels]{};
    alignas(32) uint8_t chroma1[kStepPixels / 2]{}, chroma2[kStepPixels / 2]{};
    alignas(32) uint8_t out[kStepPixels * kBytesPerPixel];
    std::memcpy(luma, c.luma, pixels);
    if (c.alpha) std::memcpy(alpha, c.alpha, pixels);
    std::memcpy(chroma1, c.chroma1, pixels / 2);
    std::memcpy(chroma2, c.chroma2, pixels / 2);
    ConversionContext padded = c;
    padded.destination = out;
    padded.luma = luma, padded.alpha = alpha;
    padded.chroma1 = chroma1, padded.chroma2 = chroma2;
    kSteps(padded, 1);
    std::memcpy(c.destination, out, pixels * kBytesPerPixel);
    c.destination += pixels * kBytesPerPixel;
    c.luma += pixels;
    if (c.alpha) c.alpha += pixels;
    c.chroma1 += pixels / 2, c.chroma2 += pixels / 2;
}

}  // namespace

}  // namespace vemo
