// A movie's picture decoder: owns the frame planes, the bundle buffers and
// the change map for one picture size and set of flags, and decodes one
// frame's video part at a time into them. For tools, tests, benchmarks and
// fuzzers; the stream core keeps these pieces in its own block pool.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vemo/decode_threads.h"
#include "vemo/frame_planes.h"
#include "vemo/movie_reader.h"
#include "vemo/video_decoder.h"

namespace vemo {

struct FrameDecoderSettings {
    uint32_t width = 0;
    uint32_t height = 0;
    bool all_key_frames = false;  // one buffer, decoded in place
    uint32_t open_flags = 0;      // kVideoOldVersion, kVideoGrayscale, kVideoAlpha
    uint32_t header_flags = 0;    // the movie header's flags (its alpha bit)
    uint32_t played_width = 0;    // width the bundles are sized for; 0: width
    uint32_t threads = 1;         // 2 or more: planes decoded on two threads where they can be
};

// The settings that decode a movie as its file says: version and grayscale
// bits from the header, and the alpha plane too when the file has one and
// decode_alpha is set.
FrameDecoderSettings DecoderSettingsFor(const MovieReader& movie, bool decode_alpha);

class FrameDecoder {
  public:
    FrameDecoder() = default;
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;
    ~FrameDecoder() { Close(); }

    // Makes room for the picture; false when it cannot be held (absurd size
    // or no memory), with nothing held.
    bool Open(const FrameDecoderSettings& settings);
    void Close();

    // Clears the change map and decodes one video part (size bytes) into the
    // other buffer (in place with one); returns the unchanged-area count.
    uint32_t DecodeVideoPart(const uint8_t* video, uint32_t size, bool key_frame);

    const FramePlanes* planes() const { return planes_; }
    // The buffer holding the frame decoded last.
    const PlaneDescriptor* current() const { return planes_->buffer[planes_->current]; }
    // One byte per 16x16 area, map_stride() bytes per row, map_rows() rows.
    const uint8_t* change_map() const { return map_.data(); }
    uint32_t map_stride() const { return across_; }
    uint32_t map_rows() const { return down_; }
    uint32_t unchanged() const { return unchanged_; }
    // What the last decode met in damaged data (no fault bits when none).
    const VideoReport& report() const { return report_; }
    const FrameDecoderSettings& settings() const { return settings_; }

  private:
    FrameDecoderSettings settings_;
    FramePlanes* planes_ = nullptr;
    BundleBuffers bundles_;
    std::unique_ptr<PlaneHelper> helper_;  // with two threads or more
    std::vector<uint8_t> map_;             // across x down bytes and 16 of slack
    uint32_t across_ = 0;
    uint32_t down_ = 0;
    uint32_t unchanged_ = 0;
    VideoReport report_;
};

}  // namespace vemo
