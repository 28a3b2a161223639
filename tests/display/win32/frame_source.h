// A conformance frame for the screen checks: a movie decoded up to one
// frame, converted through the library's copy into any surface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vemo/container.h"
#include "vemo/frame_planes.h"
#include "vemo/movie_reader.h"
#include "vemo/pixel_convert.h"
#include "vemo/video_decoder.h"

namespace vemo::check {

class DecodedFrame {
  public:
    DecodedFrame() = default;
    DecodedFrame(const DecodedFrame&) = delete;
    DecodedFrame& operator=(const DecodedFrame&) = delete;
    ~DecodedFrame();

    // Decodes frames 1 to frame; false with a message on failure.
    bool Load(const std::string& movie, uint32_t frame, std::string* error);
    uint32_t width() const { return movie_.header().width; }
    uint32_t height() const { return movie_.header().height; }
    // Converts the whole frame into a surface of the format (the copy's
    // format code) at pixels / pitch holding height rows (YV12: and its
    // chroma planes after them at pitch / 2).
    void Convert(uint32_t format, uint8_t* pixels, int32_t pitch);
    // The frame as 0xRRGGBB words, through format 3.
    std::vector<uint32_t> Rgb();
    // A decoded sample: luma at (x, y), or chroma (kPlaneCr, kPlaneCb) at
    // chroma position (x, y); coordinates are clamped to the plane.
    uint8_t Sample(PlaneIndex plane, uint32_t x, uint32_t y) const;

  private:
    MovieReader movie_;
    FramePlanes* planes_ = nullptr;
    BundleBuffers bundles_;
    uint32_t open_flags_ = 0;
    ConverterState state_;
};

}  // namespace vemo::check
