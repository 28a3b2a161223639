// The movie container: header, audio track table, frame index and frame
// packets. All integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vemo/flags.h"

namespace vemo {

constexpr uint32_t kMovieHeaderSize = 44;

// The header flags and the bits the version letter adds to the open flags
// are in vemo/flags.h.

// Track flags (high half of a track's format word).
constexpr uint32_t kTrackRealDft = 0x8000;
constexpr uint32_t kTrack16Bit = 0x4000;
constexpr uint32_t kTrackStereo = 0x2000;
constexpr uint32_t kTrackDct = 0x1000;

struct MovieHeader {
    char magic[3];
    char version;
    uint32_t size;  // movie length minus 8
    uint32_t frames;
    uint32_t largest_frame;
    uint32_t index_length;
    uint32_t width;
    uint32_t height;
    uint32_t rate_num;
    uint32_t rate_den;
    uint32_t flags;
    uint32_t audio_tracks;
};

enum class HeaderStatus { kOk, kNotVemo, kNoFrames };

// The stream core's error texts.
extern const char kErrorOpeningFile[];    // "Error opening file."
extern const char kErrorNotVemo[];        // "Not a Vemo file."
extern const char kErrorNoFrames[];       // "The file doesn't contain any compressed frames yet."
extern const char kErrorReadingHeader[];  // "Error reading Vemo header."
extern const char kErrorOutOfMemory[];    // "Out of memory."

// Decodes and checks 44 header bytes (magic and version, then the frame count).
HeaderStatus ParseMovieHeader(const uint8_t* bytes, MovieHeader* header);
const char* HeaderStatusText(HeaderStatus status);
// Writes a header back into 44 bytes.
void StoreMovieHeader(const MovieHeader& header, uint8_t* bytes);

// Open-flag bits for a version letter ("f", "g": 0x18000; "h": 0x8000; "i": 0).
uint32_t VersionOpenFlags(char version);

// Bytes of the track table and the frame index that follow the header.
uint64_t TablesSize(const MovieHeader& header);

// Track table, three arrays of T words each (sizes, formats, IDs).
struct TrackTable {
    const uint32_t* buffer_size = nullptr;
    const uint32_t* format = nullptr;
    const uint32_t* id = nullptr;
    uint32_t count = 0;
};
inline uint32_t TrackRate(uint32_t format) {
    return format & 0xFFFF;
}
inline uint32_t TrackFlags(uint32_t format) {
    return format >> 16;
}
inline uint32_t TrackChannels(uint32_t format) {
    return (format & (kTrackStereo << 16)) ? 2 : 1;
}
inline uint32_t TrackBits(uint32_t format) {
    return (format & (kTrack16Bit << 16)) ? 16 : 8;
}
// 0: never played, 1: DCT variant, 2: real-DFT variant.
int TrackVariant(uint32_t format);

// The track ID a player takes when the caller names none. Our writers give
// their first sound track this ID (and the next ones 1, 2, ...).
constexpr uint32_t kDefaultTrackId = 0;
// The table position of the track taken by default: the first with the
// default ID (count when there is none). It is played when its variant is
// usable.
inline uint32_t DefaultTrackIndex(const TrackTable& tracks) {
    for (uint32_t i = 0; i < tracks.count; ++i)
        if (tracks.id[i] == kDefaultTrackId) return i;
    return tracks.count;
}

// Values derived once from the header and the index.
inline uint32_t BlocksAcross(uint32_t width) {
    return (width + 15) / 16;
}
inline uint32_t BlocksDown(uint32_t height) {
    return (height + 15) / 16;
}
uint32_t WholeFramesPerSecond(uint32_t rate_num, uint32_t rate_den);
uint32_t TwoFrameTime(uint32_t rate_num, uint32_t rate_den);
struct PeakRate {
    uint32_t rate;   // bytes in the busiest second of playback
    uint32_t frame;  // 0-based start of that window
};
// index holds frames + 1 raw entries (bit 0 included).
PeakRate PeakDataRate(const uint32_t* index, uint32_t frames, uint32_t whole_fps);
bool AllKeyFrames(const uint32_t* index, uint32_t frames);
inline uint32_t IndexOffset(uint32_t entry) {
    return entry & ~1u;
}
inline bool IsKeyFrame(uint32_t entry) {
    return (entry & 1) != 0;
}

// Checks what a reader would otherwise trust in the header alone: picture
// size, track count, frames within the index, a non-zero rate denominator,
// tables inside the movie (size + 8). Null when all is well, else a short
// description of the first problem (reported as kErrorReadingHeader).
const char* CheckMovieHeader(const MovieHeader& header);
// CheckMovieHeader, then the index: it must rise, stay inside the movie and
// start behind the tables.
const char* CheckMovieTables(const MovieHeader& header, const uint32_t* index);

// The parts of one frame packet.
struct TrackPart {
    const uint8_t* data = nullptr;  // the part's L bytes (decoded-byte count first)
    uint32_t length = 0;            // L; 0 = no sound in this frame
};
struct PacketParts {
    std::vector<TrackPart> tracks;
    const uint8_t* video = nullptr;
    uint32_t video_size = 0;
};
// Splits a packet by walking the T length fields. False when a length field
// or a part runs past the packet (the packet is then unusable).
bool SplitPacket(const uint8_t* packet, uint32_t size, uint32_t tracks, PacketParts* parts);
// Walks the length fields without collecting: finds the video part only.
bool FindVideoPart(const uint8_t* packet, uint32_t size, uint32_t tracks, const uint8_t** video,
                   uint32_t* video_size);

inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace vemo
