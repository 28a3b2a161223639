#include "vemo/container.h"

#include <cstring>
#include <limits>

namespace vemo {

const char kErrorOpeningFile[] = "Error opening file.";
const char kErrorNotVemo[] = "Not a Vemo file.";
const char kErrorNoFrames[] = "The file doesn't contain any compressed frames yet.";
const char kErrorReadingHeader[] = "Error reading Vemo header.";
const char kErrorOutOfMemory[] = "Out of memory.";

namespace {

// Limits beyond which a header describes nothing we could allocate.
constexpr uint32_t kMaxDimension = 16384;
constexpr uint32_t kMaxTracks = 1024;

}  // namespace

HeaderStatus ParseMovieHeader(const uint8_t* bytes, MovieHeader* header) {
    std::memcpy(header->magic, bytes, 3);
    header->version = static_cast<char>(bytes[3]);
    uint32_t* fields = &header->size;
    for (int i = 0; i < 10; ++i) fields[i] = ReadLe32(bytes + 4 + 4 * i);
    if (std::memcmp(bytes, "VEM", 3) != 0) return HeaderStatus::kNotVemo;
    if (header->version < 'f' || header->version > 'i') return HeaderStatus::kNotVemo;
    if (header->frames == 0) return HeaderStatus::kNoFrames;
    return HeaderStatus::kOk;
}

const char* HeaderStatusText(HeaderStatus status) {
    switch (status) {
        case HeaderStatus::kOk:
            return "";
        case HeaderStatus::kNotVemo:
            return kErrorNotVemo;
        case HeaderStatus::kNoFrames:
            return kErrorNoFrames;
    }
    return kErrorNotVemo;
}

void StoreMovieHeader(const MovieHeader& header, uint8_t* bytes) {
    std::memcpy(bytes, header.magic, 3);
    bytes[3] = static_cast<uint8_t>(header.version);
    const uint32_t* fields = &header.size;
    for (int i = 0; i < 10; ++i) StoreLe32(bytes + 4 + 4 * i, fields[i]);
}

uint32_t VersionOpenFlags(char version) {
    switch (version) {
        case 'f':
        case 'g':
            return kOpenOldVersion | kOpenSwapChroma;
        case 'h':
            return kOpenOldVersion;
        default:
            return 0;
    }
}

uint64_t TablesSize(const MovieHeader& header) {
    return 12ull * header.audio_tracks + 4ull * (static_cast<uint64_t>(header.index_length) + 1);
}

int TrackVariant(uint32_t format) {
    const uint32_t flags = TrackFlags(format);
    if (flags & kTrackRealDft) return 2;
    if (flags & kTrackDct) return 1;
    return 0;
}

uint32_t WholeFramesPerSecond(uint32_t rate_num, uint32_t rate_den) {
    if (rate_den == 0) return 1;  // a zero denominator would divide by zero
    const uint32_t w = (rate_num + rate_den / 2) / rate_den;
    return w < 1 ? 1 : w;
}

uint32_t TwoFrameTime(uint32_t rate_num, uint32_t rate_den) {
    if (rate_num == 0) return 2000;
    return static_cast<uint32_t>(2000ull * rate_den / rate_num);
}

PeakRate PeakDataRate(const uint32_t* index, uint32_t frames, uint32_t whole_fps) {
    PeakRate peak{0, 0};
    const uint32_t w = whole_fps;
    if (frames > w) {
        for (uint32_t i = 0; i + w < frames; ++i) {
            const uint32_t d = index[i + w] - index[i];
            if (d > peak.rate) {
                peak.rate = d;
                peak.frame = i;
            }
        }
    }
    if (peak.rate == 0) {
        peak.frame = 0;
        peak.rate = frames == 0 ? 0
                                : static_cast<uint32_t>(
                                      static_cast<uint64_t>(index[frames] - index[0]) * w / frames);
    }
    return peak;
}

bool AllKeyFrames(const uint32_t* index, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i)
        if (!IsKeyFrame(index[i])) return false;
    return true;
}

const char* CheckMovieHeader(const MovieHeader& h) {
    if (h.width == 0 || h.height == 0 || h.width > kMaxDimension || h.height > kMaxDimension)
        return "the picture size is out of range";
    if (h.audio_tracks > kMaxTracks) return "too many audio tracks";
    if (h.frames > h.index_length) return "the frame index is shorter than the frame count";
    if (h.rate_den == 0) return "the frame rate has a zero denominator";
    const uint64_t movie_end = static_cast<uint64_t>(h.size) + 8;
    if (kMovieHeaderSize + TablesSize(h) > movie_end)
        return "the tables run past the end of the movie";
    return nullptr;
}

const char* CheckMovieTables(const MovieHeader& h, const uint32_t* index) {
    if (const char* problem = CheckMovieHeader(h)) return problem;
    const uint64_t movie_end = static_cast<uint64_t>(h.size) + 8;
    const uint64_t tables_end = kMovieHeaderSize + TablesSize(h);
    uint32_t previous = 0;
    for (uint32_t i = 0; i <= h.frames; ++i) {
        const uint32_t offset = IndexOffset(index[i]);
        if (offset > movie_end) return "a frame index entry lies past the end of the movie";
        if (i > 0 && offset < previous) return "the frame index runs backwards";
        if (i == 0 && offset < tables_end) return "the first frame lies inside the tables";
        previous = offset;
    }
    return nullptr;
}

bool FindVideoPart(const uint8_t* packet, uint32_t size, uint32_t tracks, const uint8_t** video,
                   uint32_t* video_size) {
    uint32_t at = 0;
    for (uint32_t t = 0; t < tracks; ++t) {
        if (size - at < 4) return false;
        const uint32_t length = ReadLe32(packet + at);
        at += 4;
        if (length > size - at) return false;
        at += length;
    }
    *video = packet + at;
    *video_size = size - at;
    return true;
}

bool SplitPacket(const uint8_t* packet, uint32_t size, uint32_t tracks, PacketParts* parts) {
    parts->tracks.assign(tracks, TrackPart{});
    uint32_t at = 0;
    for (uint32_t t = 0; t < tracks; ++t) {
        if (size - at < 4) return false;
        const uint32_t length = ReadLe32(packet + at);
        at += 4;
        if (length > size - at) return false;
        parts->tracks[t].data = length ? packet + at : nullptr;
        parts->tracks[t].length = length;
        at += length;
    }
    parts->video = packet + at;
    parts->video_size = size - at;
    return true;
}

}  // namespace vemo
