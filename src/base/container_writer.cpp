#include "vemo/container_writer.h"

#include <algorithm>
#include <cstring>

namespace vemo {

MovieWriter::MovieWriter(char version, uint32_t width, uint32_t height, uint32_t rate_num,
                         uint32_t rate_den, uint32_t header_flags) {
    std::memcpy(header_.magic, "VEM", 3);
    header_.version = version;
    header_.width = width;
    header_.height = height;
    header_.rate_num = rate_num;
    header_.rate_den = rate_den;
    header_.flags = header_flags;
}

void MovieWriter::AddTrack(uint32_t buffer_size, uint32_t format, uint32_t id) {
    buffer_sizes_.push_back(buffer_size);
    formats_.push_back(format);
    ids_.push_back(id);
}

void MovieWriter::AddFrame(bool key_frame, const std::vector<std::vector<uint8_t>>& track_parts,
                           const std::vector<uint8_t>& video) {
    std::vector<uint8_t> packet;
    for (size_t t = 0; t < formats_.size(); ++t) {
        const std::vector<uint8_t>* part = t < track_parts.size() ? &track_parts[t] : nullptr;
        const uint32_t length = part ? static_cast<uint32_t>(part->size()) : 0;
        uint8_t field[4];
        StoreLe32(field, length);
        packet.insert(packet.end(), field, field + 4);
        if (length) packet.insert(packet.end(), part->begin(), part->end());
    }
    packet.insert(packet.end(), video.begin(), video.end());
    if (packet.size() % 2) packet.push_back(0);  // offsets are even
    packets_.push_back(std::move(packet));
    keys_.push_back(key_frame);
}

std::vector<uint8_t> MovieWriter::Finish() const {
    MovieHeader h = header_;
    const uint32_t t = static_cast<uint32_t>(formats_.size());
    const uint32_t n = static_cast<uint32_t>(packets_.size());
    h.frames = n;
    h.index_length = n;
    h.audio_tracks = t;
    h.largest_frame = 0;
    for (const auto& p : packets_)
        h.largest_frame = std::max(h.largest_frame, static_cast<uint32_t>(p.size()));
    std::vector<uint8_t> out(kMovieHeaderSize + 12 * t + 4 * (n + 1));
    uint32_t offset = static_cast<uint32_t>(out.size());
    for (uint32_t i = 0; i < t; ++i) {
        StoreLe32(&out[kMovieHeaderSize + 4 * i], buffer_sizes_[i]);
        StoreLe32(&out[kMovieHeaderSize + 4 * (t + i)], formats_[i]);
        StoreLe32(&out[kMovieHeaderSize + 4 * (2 * t + i)], ids_[i]);
    }
    const size_t index_at = kMovieHeaderSize + 12 * t;
    for (uint32_t i = 0; i < n; ++i) {
        StoreLe32(&out[index_at + 4 * i], offset | (keys_[i] ? 1u : 0u));
        offset += static_cast<uint32_t>(packets_[i].size());
    }
    StoreLe32(&out[index_at + 4 * n], offset);
    h.size = offset - 8;
    StoreMovieHeader(h, out.data());
    for (const auto& p : packets_) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace vemo
