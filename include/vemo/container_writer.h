// Writes movies in the container format: header, track table, frame index
// and packets. Used by the tests, the demo movie and the encoder.
#pragma once

#include <cstdint>
#include <vector>

#include "vemo/container.h"

namespace vemo {

class MovieWriter {
  public:
    MovieWriter(char version, uint32_t width, uint32_t height, uint32_t rate_num, uint32_t rate_den,
                uint32_t header_flags = 0);
    // Tracks must be added before the first frame.
    void AddTrack(uint32_t buffer_size, uint32_t format, uint32_t id);
    // One frame packet: for every track its part (the decoded-byte count and
    // the blocks; empty = no sound this frame), then the video part.
    void AddFrame(bool key_frame, const std::vector<std::vector<uint8_t>>& track_parts,
                  const std::vector<uint8_t>& video);
    // The whole movie. index_length defaults to the frame count.
    std::vector<uint8_t> Finish() const;
    uint32_t frames() const { return static_cast<uint32_t>(packets_.size()); }

  private:
    MovieHeader header_{};
    std::vector<uint32_t> buffer_sizes_, formats_, ids_;
    std::vector<std::vector<uint8_t>> packets_;
    std::vector<bool> keys_;
};

}  // namespace vemo
