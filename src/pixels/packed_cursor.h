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

// Whole rows through a group kernel, one call per row.
template <GroupKernel kGroups>
void GroupRows(const RowBlock& b) {
    ConversionContext c{};
    const uint8_t *chroma1 = b.chroma1, *chroma2 = b.chroma2;
    for (uint32_t k = 0; k < b.rows; ++k) {
        const uint32_t row = b.first_row + k;
        c.luma = c.alpha = b.luma + b.luma_step * static_cast<ptrdiff_t>(k);
        c.destination = b.destination + b.destination_step * static_cast<ptrdiff_t>(k);
        c.chroma1 = chroma1, c.chroma2 = chroma2;
        c.current_row = row;
        kGroups(c, b.groups);
        if (row & 1) chroma1 += b.chroma1_step, chroma2 += b.chroma2_step;
    }
}

// A YUV row function: whole 32-pixel units of one row, straight from its
// sources.
using YuvRowFunction = void (*)(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2,
                                uint8_t* destination, uint32_t units);

// Whole rows through a row function of 32-pixel units; each row's last
// groups go through the padded path of kUnits (a group kernel of 32-pixel
// steps).
template <YuvRowFunction kRow, GroupKernel kUnits>
void YuvRows(const RowBlock& b) {
    const uint32_t units = b.groups / 4, tail = b.groups % 4;
    const uint8_t *luma = b.luma, *chroma1 = b.chroma1, *chroma2 = b.chroma2;
    uint8_t* destination = b.destination;
    for (uint32_t k = 0; k < b.rows; ++k) {
        kRow(luma, chroma1, chroma2, destination, units);
        if (tail) {
            ConversionContext c{};
            c.luma = luma + 32 * units;
            c.chroma1 = chroma1 + 16 * units, c.chroma2 = chroma2 + 16 * units;
            c.destination = destination + 64 * units;
            AnyGroups<kUnits, 32, 2>(c, tail);
        }
        luma += b.luma_step, destination += b.destination_step;
        if ((b.first_row + k) & 1) chroma1 += b.chroma1_step, chroma2 += b.chroma2_step;
    }
}

}  // namespace

}  // namespace vemo
