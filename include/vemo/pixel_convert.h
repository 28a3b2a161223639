// Pixel conversion: a rectangle of the decoded planes into a destination
// surface in one of the sixteen SurfaceFormat codes, with the scale modes,
// grey and alpha display, and the copy-all and changed-blocks drivers.
//
// What the stream core's CopyFrameToSurface does around ConvertFrame:
//   1. Return 0 when the movie, the destination or its FramePlanes is missing.
//   2. Merge the movie's open flags: flags |= open_flags & kCopyMovieFlagsMask.
//   3. ScaleSourceRect(); when the result is empty (or the skip-this-blit
//      flag is set) return the skip-this-blit flag and copy nothing.
//   4. Set copy-in-progress; run the late-blit skipping on the movie's clock
//      (a skipped blit returns before ConvertFrame); run the read-buffer
//      service; store the flags as the last copy flags.
//   5. ConvertFrame() with the merged flags, the frame's change map and the
//      unchanged-area count with the full-copy threshold; it picks the
//      copy-all or the changed-blocks driver itself.
//   6. Clear copy-in-progress and return the late flag.
// ConvertFrame itself clears ShowAlpha for frames without an alpha plane,
// moves a negative-pitch destination to the row of destination y, selects
// the converter and never writes outside the destination described by the
// request (see CopyRequest) nor reads outside the planes.
//
// Converter state and tables are not thread-safe: one ConverterState must not
// be used by two copies at once (the process keeps one for all movies).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "vemo/frame_planes.h"
#include "vemo/surface_format.h"

namespace vemo {

// The two arithmetic paths. kAuto takes the packed path when CpuFeatures()
// has MMX (the CPU mask can take it away: SetCpuMask, VEMO_CPU=table).
enum class PixelPath : uint8_t { kAuto = 0, kTable = 1, kPacked = 2 };

// Forces a path for every later copy of every ConverterState whose own path
// is kAuto (kAuto restores the automatic choice).
void SetPixelPath(PixelPath path);
// The path a ConverterState with path kAuto uses now (never kAuto).
PixelPath ResolvedPixelPath();

// The picture a copy reads.
struct FrameSource {
    const FramePlanes* planes = nullptr;  // the current buffer is read
    uint32_t movie_width = 0;  // the played size OpenMovie reports (after the movie's scale mode)
    uint32_t movie_height = 0;
    uint32_t coded_width = 0;  // the header's width and height (the coded picture)
    uint32_t coded_height = 0;
    // One byte per 16x16 luma area, rows of change_map_stride bytes covering
    // (coded_height + 15) / 16 rows; null means "everything changed".
    const uint8_t* change_map = nullptr;
    uint32_t change_map_stride = 0;
    // The unchanged-area count of this frame and the movie's full-copy
    // threshold (block count / 4): fewer unchanged areas than the threshold
    // make the copy convert the whole rectangle.
    uint32_t unchanged_areas = 0;
    uint32_t full_copy_threshold = 0;
};

// The destination and what to copy.
//   destination: the surface's lowest address. With a positive pitch row y
//   starts at destination + y * pitch; with a negative pitch -P (bottom-up)
//   row y starts at destination + (destination_height - 1 - y) * P.
//   The described memory is destination_height rows of |pitch| bytes; for
//   YV12 (positive pitch) it is followed by the V and then the U plane of
//   destination_height / 2 rows of pitch / 2 bytes each. Nothing outside it
//   is written (rows or chroma rows past it are dropped).
struct CopyRequest {
    uint8_t* destination = nullptr;
    int32_t pitch = 0;
    uint32_t destination_height = 0;
    uint32_t destination_x = 0;  // destination pixels
    uint32_t destination_y = 0;  // destination rows
    uint32_t source_left = 0;    // movie pixels (the played size)
    uint32_t source_top = 0;
    uint32_t source_width = 0;
    uint32_t source_height = 0;
    uint32_t flags = 0;  // copy flags, already merged with the movie's open flags
};

// A rectangle of plane pixels (the coded picture's coordinates).
struct PlaneRect {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    bool empty() const { return width == 0 || height == 0; }
};

// Scales the request's rectangle from the played size to the coded size and
// clips it to the coded picture.
PlaneRect ScaleSourceRect(const FrameSource& source, const CopyRequest& request);

// Whether the current buffer of planes holds an alpha plane.
bool FrameHasAlpha(const FramePlanes& planes);

// Bytes a destination of the given format, pitch (> 0) and height occupies,
// including the two chroma planes of YV12.
size_t SurfaceBufferSize(uint32_t format, uint32_t pitch, uint32_t height);

enum class ConvertResult : uint8_t {
    kNothing = 0,        // missing planes or destination, empty rectangle or no converter
    kCopiedAll = 1,      // the copy-all driver ran
    kCopiedChanged = 2,  // the changed-blocks driver ran
};

struct ConverterStateData;

// The process-wide converter state: the selected converter, the pixel
// layout, dither pairs and the lookup tables of the table path (rebuilt only
// when the layout changes). Not copyable.
class ConverterState {
  public:
    ConverterState();
    ~ConverterState();
    ConverterState(const ConverterState&) = delete;
    ConverterState& operator=(const ConverterState&) = delete;

    // kAuto follows SetPixelPath, else CpuFeatures() under the CPU mask.
    void set_path(PixelPath path) { path_ = path; }
    PixelPath path() const { return path_; }

    // Runs the converter selection for the flags: returns the number (1-13)
    // of the entry that accepted them, 0 when none did.
    int SelectConverter(uint32_t flags, bool frame_has_alpha);
    // How many times the table path's clamp table was built (for tests).
    uint32_t clamp_table_builds() const;

    ConverterStateData& data() { return *data_; }

  private:
    PixelPath path_ = PixelPath::kAuto;
    std::unique_ptr<ConverterStateData> data_;
};

// Converts the source's current frame into the destination (the part of
// CopyFrameToSurface after the late-blit decision).
ConvertResult ConvertFrame(ConverterState& state, const FrameSource& source,
                           const CopyRequest& request);

}  // namespace vemo
