// The video decoder: turns the video part of a frame packet into the planes
// of a FramePlanes buffer and marks the changed 16x16 areas.
//
// Every plane is bounded by the video part it comes from: bits past its end
// read as zero, a bundle fill larger than its buffer ends the plane, runs,
// scaled blocks and motion sources are kept inside their block, buffers and
// planes. Well-formed video parts decode exactly as written; for damaged ones
// the decoder never reads or writes outside what it was given and notes what
// it met in a VideoReport.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vemo/flags.h"
#include "vemo/frame_planes.h"
#include "vemo/memory.h"

namespace vemo {

// The nine per-plane value buffers, in their fixed order.
enum BundleKind {
    kBundleBlockTypes = 0,
    kBundleSubBlockTypes = 1,
    kBundleColours = 2,
    kBundlePatterns = 3,
    kBundleMotionX = 4,
    kBundleMotionY = 5,
    kBundleIntraDc = 6,
    kBundleInterDc = 7,
    kBundleRuns = 8,
    kBundleCount = 9
};

// The bundle buffers of a movie, sized once from its played width. Buffers
// 6 and 7 hold 16-bit values, the others bytes. Capacities are in elements.
struct BundleBuffers {
    void* buffer[kBundleCount] = {};
    uint32_t capacity[kBundleCount] = {};
};

// The count basis of bundle `kind` for a plane (or buffer) `width` samples
// wide: the width of its fill length fields and the size of its buffer
// follow from it.
uint64_t BundleCountBasis(uint64_t width, int kind);
// Bytes of bundle buffer `kind` for a movie whose played width is
// played_width (rounded up to 16 inside); a multiple of 4.
uint32_t BundleBufferBytes(uint32_t played_width, int kind);
// Plans the nine buffers in a block pool (the movie's own block) and sets
// the capacities now; the addresses are stored into *bundles when the pool
// is committed, so *bundles must stay where it is until then.
void RequestBundleBuffers(BlockPool* pool, uint32_t played_width, BundleBuffers* bundles);
// For tools and tests: the nine buffers as one library block. False when
// memory runs out (nothing is then allocated).
bool AllocateBundleBuffers(uint32_t played_width, BundleBuffers* bundles);
void FreeBundleBuffers(BundleBuffers* bundles);

// Creates the picture of a movie: one buffer when every frame is a key frame,
// two otherwise; Y, Cr, Cb in each, alpha too when open_flags holds
// kVideoAlpha. The record and all planes are one library block, samples
// start as zeros. Null when the size is absurd or memory runs out.
FramePlanes* CreateFramePlanes(uint32_t width, uint32_t height, bool all_key_frames,
                               uint32_t open_flags);
void FreeFramePlanes(FramePlanes* planes);

// What a decode met in damaged input (bits of VideoReport::faults). None of
// them is ever set by a well-formed video part.
enum VideoFault : uint32_t {
    kFaultPastEnd = 1u << 0,         // a plane read bits past the end of its data
    kFaultBundleOverflow = 1u << 1,  // a bundle fill above its capacity ended the plane
    kFaultFillOverrun = 1u << 2,     // a run repeat passed the fill's length
    kFaultBundleEmpty = 1u << 3,     // a block asked an exhausted or closed bundle (got 0)
    kFaultRunOverrun = 1u << 4,      // a run block's runs passed the 64th position
    kFaultScaledClipped = 1u << 5,   // a scaled block did not fit in the plane (drawn clipped)
    kFaultMotionClamped = 1u << 6,   // a motion source outside the reference was clamped
    kFaultTreeDuplicate = 1u << 7,   // an explicit code tree named a value twice
    kFaultSizeField = 1u << 8,       // an alpha or luma size field did not fit the video part
};

struct VideoReport {
    uint32_t faults = 0;  // VideoFault bits, or-ed over the planes
};

// Decodes one frame's video part (video, size bytes) into the other buffer of
// *planes (or in place with one buffer) and returns the number of 16x16
// areas in which no plane coded anything but skip blocks. change_map holds
// blocks across x blocks down bytes with rows map_stride (= blocks across)
// apart; bytes are only ever set to 1. open_flags: kVideoOldVersion,
// kVideoGrayscale, kVideoAlpha; header_flags: the movie header's flags (its
// alpha bit tells whether an alpha plane leads the video part). key_frame
// does not change the decoding. report may be null.
uint32_t DecodeFrameVideo(FramePlanes* planes, uint8_t* change_map, uint32_t map_stride,
                          const uint8_t* video, uint32_t size, bool key_frame,
                          const BundleBuffers& bundles, uint32_t open_flags, uint32_t header_flags,
                          VideoReport* report = nullptr);

// What the decoder needs to know about a movie, taken from its open flags and
// header flags once.
struct VideoDecodeOptions {
    bool old_version = false;  // the movie's version is before "i"
    bool grayscale = false;    // decode the luma plane only
    bool want_alpha = false;   // decode the alpha plane (when the movie has one)
    bool movie_has_alpha = false;

    static constexpr VideoDecodeOptions For(uint32_t open_flags, uint32_t header_flags) {
        VideoDecodeOptions o;
        o.old_version = (open_flags & kVideoOldVersion) != 0;
        o.grayscale = (open_flags & kVideoGrayscale) != 0;
        o.want_alpha = (open_flags & kVideoAlpha) != 0;
        o.movie_has_alpha = (header_flags & kHeaderAlpha) != 0;
        return o;
    }
    constexpr uint32_t OpenFlags() const {
        return (old_version ? kVideoOldVersion : 0) | (grayscale ? kVideoGrayscale : 0) |
               (want_alpha ? kVideoAlpha : 0);
    }
    constexpr uint32_t HeaderFlags() const { return movie_has_alpha ? kHeaderAlpha : 0; }
};
inline uint32_t DecodeFrameVideo(FramePlanes* planes, uint8_t* change_map, uint32_t map_stride,
                                 const uint8_t* video, uint32_t size, bool key_frame,
                                 const BundleBuffers& bundles, const VideoDecodeOptions& options,
                                 VideoReport* report = nullptr) {
    return DecodeFrameVideo(planes, change_map, map_stride, video, size, key_frame, bundles,
                            options.OpenFlags(), options.HeaderFlags(), report);
}

}  // namespace vemo
