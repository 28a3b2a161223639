// Decoding and converting the conformance frame for the screen checks.
#include "frame_source.h"

#include <algorithm>
#include <cstring>

namespace vemo::check {

DecodedFrame::~DecodedFrame() {
    FreeBundleBuffers(&bundles_);
    FreeFramePlanes(planes_);
}

bool DecodedFrame::Load(const std::string& movie, uint32_t frame, std::string* error) {
    if (!movie_.Open(movie)) {
        *error = movie + ": " + movie_.error() + " " + movie_.detail();
        return false;
    }
    const MovieHeader& header = movie_.header();
    if (frame == 0 || frame > header.frames) {
        *error = movie + ": no frame " + std::to_string(frame);
        return false;
    }
    open_flags_ = movie_.open_flags();
    if (header.flags & kHeaderAlpha) open_flags_ |= kVideoAlpha;
    planes_ = CreateFramePlanes(header.width, header.height,
                                AllKeyFrames(movie_.index(), header.frames), open_flags_);
    if (!planes_ || !AllocateBundleBuffers(header.width, &bundles_)) {
        *error = movie + ": cannot hold the picture";
        return false;
    }
    const uint32_t across = BlocksAcross(header.width);
    std::vector<uint8_t> map(static_cast<size_t>(across) * BlocksDown(header.height) + 16, 0);
    for (uint32_t i = 0; i < frame; ++i) {
        const uint8_t *packet = nullptr, *video = nullptr;
        uint32_t packet_size = 0, video_size = 0;
        if (!movie_.Packet(i, &packet, &packet_size) ||
            !FindVideoPart(packet, packet_size, header.audio_tracks, &video, &video_size)) {
            *error = movie + ": frame " + std::to_string(i + 1) + " cannot be read";
            return false;
        }
        VideoReport report;
        DecodeFrameVideo(planes_, map.data(), across, video, video_size,
                         IsKeyFrame(movie_.index()[i]), bundles_, open_flags_, header.flags,
                         &report);
    }
    return true;
}

void DecodedFrame::Convert(uint32_t format, uint8_t* pixels, int32_t pitch) {
    FrameSource source;
    source.planes = planes_;
    source.movie_width = source.coded_width = width();
    source.movie_height = source.coded_height = height();
    CopyRequest request;
    request.destination = pixels;
    request.pitch = pitch;
    request.destination_height = height();
    request.source_width = width();
    request.source_height = height();
    request.flags = format | (open_flags_ & kCopyMovieFlagsMask) | kCopyAll;
    ConvertFrame(state_, source, request);
}

std::vector<uint32_t> DecodedFrame::Rgb() {
    std::vector<uint32_t> rgb(static_cast<size_t>(width()) * height(), 0);
    Convert(kSurfaceXrgb32, reinterpret_cast<uint8_t*>(rgb.data()),
            static_cast<int32_t>(width() * 4));
    for (uint32_t& p : rgb) p &= 0xFFFFFF;
    return rgb;
}

uint8_t DecodedFrame::Sample(PlaneIndex plane, uint32_t x, uint32_t y) const {
    const bool luma = plane == kPlaneY;
    const uint32_t w = luma ? width() : (width() + 1) / 2;
    const uint32_t h = luma ? height() : (height() + 1) / 2;
    const PlaneDescriptor& d = planes_->buffer[planes_->current][plane];
    return d.samples[static_cast<size_t>(std::min(y, h - 1)) * d.stride + std::min(x, w - 1)];
}

}  // namespace vemo::check
