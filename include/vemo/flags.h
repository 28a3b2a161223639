// Every bit of the library's classic flags words, each defined once here.
//
// The words keep their values because stored movies and callers use them:
//   - the movie header's flags word (stored in every movie file),
//   - the open flags (OpenMovie's second argument; the movie keeps the
//     combined word and hands parts of it to the video decoder, the sound
//     opener and every copy),
//   - the copy flags (CopyFrameToSurface's last argument),
//   - the display buffer's surface type word (ORed into the copy flags and
//     passed to GetChangedRects),
//   - the display buffer's open flags (blit style, mode change and the
//     scaling capabilities).
// Where two words share a bit by design (the copy takes the movie's scale
// mode, chroma swap and grey bits; the open flags take the header's grey
// bit), one name is defined and the others are derived from it.
#pragma once

#include <cstdint>

namespace vemo {

// ---------------------------------------------------------------- movie header flags
constexpr uint32_t kHeaderGrayscale = 0x20000;       // no chroma planes are coded
constexpr uint32_t kHeaderAlpha = 0x100000;          // an alpha plane leads each video part
constexpr uint32_t kHeaderScalingMask = 0x70000000;  // the movie's own scaling mode (0-7)
constexpr int kHeaderScalingShift = 28;

// ---------------------------------------------------------------- open flags
// Bits not listed are kept and passed on (to the sound opener and the copy).
constexpr uint32_t kOpenNoVideo = 0x400;        // no planes; nothing decoded or copied
constexpr uint32_t kOpenUseFrameRate = 0x1000;  // use the pending frame-rate override
constexpr uint32_t kOpenPreloadMovie = 0x2000;  // read the whole movie at open
constexpr uint32_t kOpenUseTrackList = 0x4000;  // use the pending sound-track list
constexpr uint32_t kOpenOldVersion = 0x8000;    // set from the version letter: before "i"
constexpr uint32_t kOpenSwapChroma = 0x10000;   // set from the version letter: "f" and "g"
constexpr uint32_t kOpenVersionBits = kOpenOldVersion | kOpenSwapChroma;
constexpr uint32_t kOpenGrayscaleMovie = kHeaderGrayscale;  // also set when the header has it
constexpr uint32_t kOpenNeverSkipBlits = 0x80000;
constexpr uint32_t kOpenDecodeAlpha = kHeaderAlpha;  // kept only when the movie has alpha
constexpr uint32_t kOpenNoFill = 0x200000;           // do not fill the read buffer at open
constexpr uint32_t kOpenUseReadSpeed = 0x400000;     // use the pending simulated read speed
constexpr uint32_t kOpenHandle = 0x800000;           // source: pointer to an intptr_t file handle
constexpr uint32_t kOpenUseBufferSize = 0x1000000;   // use the pending read-buffer size
constexpr uint32_t kOpenInMemory = 0x4000000;        // source: the whole movie in memory
constexpr uint32_t kOpenWithoutThreads = 0x8000000;  // input serviced on the caller's thread
constexpr uint32_t kOpenScaleMask = kHeaderScalingMask;  // mode 1-7 (7 = none); 0 = the header's
constexpr int kOpenScaleShift = kHeaderScalingShift;

// The open-flag bits the video decoder reads (it also tests the header's
// alpha bit with kVideoAlpha).
constexpr uint32_t kVideoOldVersion = kOpenOldVersion;
constexpr uint32_t kVideoGrayscale = kOpenGrayscaleMovie;  // luma plane only
constexpr uint32_t kVideoAlpha = kOpenDecodeAlpha;         // alpha wanted (and in the file)

// ---------------------------------------------------------------- copy flags
constexpr uint32_t kCopyFormatMask = 0xF;  // the SurfaceFormat
constexpr uint32_t kCopyShowAlpha = 0x800;
constexpr uint32_t kCopySwapChroma = kOpenSwapChroma;
constexpr uint32_t kCopyGrayscale = kOpenGrayscaleMovie;
constexpr uint32_t kCopyNeverSkip = kOpenNeverSkipBlits;
constexpr uint32_t kCopyNoReadService = 0x200000;
constexpr uint32_t kCopyScaleMask = kOpenScaleMask;
constexpr int kCopyScaleShift = kOpenScaleShift;
constexpr uint32_t kCopyAll = 0x80000000;
// Bits of the movie's open flags that every copy ORs into its copy flags.
constexpr uint32_t kCopyMovieFlagsMask = kCopyScaleMask | kCopySwapChroma | kCopyGrayscale;

// ---------------------------------------------------------------- surface type word
// The low four bits are the SurfaceFormat; the word is handed to the copy as
// its format and flags, and to the changed-area query.
constexpr uint32_t kSurfaceTypeFormatMask = kCopyFormatMask;
constexpr uint32_t kSurfaceTypeNoRects = 0x4000000;       // primary and overlays
constexpr uint32_t kSurfaceTypeBoundingRect = 0x8000000;  // scaled software/off-screen
constexpr uint32_t kSurfaceTypeRewrite = kCopyAll;        // the whole buffer must be written

// GetChangedRects flags: the surface type word, and never-skip.
constexpr uint32_t kRectsNotWanted = kSurfaceTypeNoRects;
constexpr uint32_t kRectsBoundingOnly = kSurfaceTypeBoundingRect;
constexpr uint32_t kRectsNeverSkip = kCopyNeverSkip;

// ---------------------------------------------------------------- display open flags
// Bits 0-4 the blit style, bit 23 the full-screen mode request, the top byte
// the scaling capabilities the caller needs (the display device's bits).
constexpr uint32_t kDisplayOpenStyleMask = 0x1F;
constexpr uint32_t kDisplayOpenChangeMode = 0x800000;
constexpr uint32_t kScaleWidthStretchInteger = 0x80000000;
constexpr uint32_t kScaleWidthStretchAny = 0x40000000;
constexpr uint32_t kScaleWidthShrinkInteger = 0x20000000;
constexpr uint32_t kScaleWidthShrinkAny = 0x10000000;
constexpr uint32_t kScaleHeightStretchInteger = 0x08000000;
constexpr uint32_t kScaleHeightStretchAny = 0x04000000;
constexpr uint32_t kScaleHeightShrinkInteger = 0x02000000;
constexpr uint32_t kScaleHeightShrinkAny = 0x01000000;
constexpr uint32_t kScaleCapabilityMask = 0xFF000000;

}  // namespace vemo
