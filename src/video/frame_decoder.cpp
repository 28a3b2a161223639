#include "vemo/frame_decoder.h"

#include <algorithm>

namespace vemo {

FrameDecoderSettings DecoderSettingsFor(const MovieReader& movie, bool decode_alpha) {
    const MovieHeader& h = movie.header();
    FrameDecoderSettings s;
    s.width = h.width;
    s.height = h.height;
    s.all_key_frames = movie.index() && movie.all_key_frames();
    s.open_flags = movie.open_flags();
    if (decode_alpha && (h.flags & kHeaderAlpha)) s.open_flags |= kVideoAlpha;
    s.header_flags = h.flags;
    return s;
}

bool FrameDecoder::Open(const FrameDecoderSettings& settings) {
    Close();
    const uint32_t played = settings.played_width ? settings.played_width : settings.width;
    planes_ = CreateFramePlanes(settings.width, settings.height, settings.all_key_frames,
                                settings.open_flags);
    if (!planes_ || !AllocateBundleBuffers(played, &bundles_)) {
        Close();
        return false;
    }
    settings_ = settings;
    across_ = BlocksAcross(settings.width);
    down_ = BlocksDown(settings.height);
    map_.assign(static_cast<size_t>(across_) * down_ + 16, 0);
    if (settings.threads >= 2) {
        helper_ = std::make_unique<PlaneHelper>();
        // Without the helper's memory the planes are decoded on one thread.
        if (!helper_->Open(played, across_ * down_)) helper_.reset();
    }
    return true;
}

void FrameDecoder::Close() {
    helper_.reset();
    FreeBundleBuffers(&bundles_);
    FreeFramePlanes(planes_);
    planes_ = nullptr;
    map_.clear();
    across_ = down_ = unchanged_ = 0;
    report_ = VideoReport{};
}

uint32_t FrameDecoder::DecodeVideoPart(const uint8_t* video, uint32_t size, bool key_frame) {
    report_ = VideoReport{};
    if (!planes_) return unchanged_ = 0;
    std::fill(map_.begin(), map_.end(), 0);
    unchanged_ = DecodeFrameVideoOnThreads(helper_.get(), planes_, map_.data(), across_, video,
                                           size, key_frame, bundles_, settings_.open_flags,
                                           settings_.header_flags, &report_);
    return unchanged_;
}

}  // namespace vemo
