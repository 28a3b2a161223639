// The stream core: opening and closing movies, pacing frames on the
// millisecond clock, decoding sound and picture, keeping them together,
// copying frames out, changed areas and playback statistics.
//
// A caller plays a movie by repeating
//     if (!ShouldWait(m)) { DecodeFrame(m); CopyFrameToSurface(m, ...);
//                           GetChangedRects(...); NextFrame(m); }
// on one thread. Operations return null or 0 on failure; the text of the last
// failure is GetLastMovieError().
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "vemo/changed_rects.h"
#include "vemo/flags.h"
#include "vemo/frame_planes.h"

namespace vemo {

struct Movie;

// The sound back end's types (vemo/sound_driver.h declares them the same way).
struct SoundBackEnd;
struct SoundTrack;
using SoundSystemGetter = const SoundBackEnd* (*)(void* argument);

// The open flags and the GetChangedRects flags are in vemo/flags.h.

// ---------------------------------------------------------------- open and close
// source: a file name (const char*), a pointer to an intptr_t holding an open
// file handle positioned at the movie's first byte (kOpenHandle), or the
// movie's first byte in memory (kOpenInMemory; the bytes must stay valid
// and unchanged until CloseMovie). Null on failure (see GetLastMovieError).
Movie* OpenMovie(const void* source, uint32_t flags);
// What concerns one open only; each setting is used when present.
struct OpenSettings {
    struct FrameRate {
        int32_t numerator = 0;  // 0/0 (either part 0): as fast as possible
        int32_t denominator = 0;
    };
    std::optional<FrameRate> frame_rate;          // else the header's rate
    std::optional<std::vector<uint32_t>> tracks;  // track IDs; else one track with ID 0
    std::optional<int32_t> read_buffer_size;      // bytes; else the peak data rate
    std::optional<int32_t> read_speed;            // simulated bytes per second (> 0)
    // Threads that decode the picture: 1 (or absent) decodes on the caller's
    // thread; 2 or more decodes the next frame's picture on a worker thread
    // while the current one is converted and shown (movies with two plane
    // buffers), and 3 or more also splits each frame's planes over two
    // threads (a movie of key frames only splits its planes from 2 on). 0
    // picks for this machine: 2 with at least two cores, else 1. Whatever the
    // count, the frames, their changed areas and the statistics' meaning are
    // the same.
    std::optional<uint32_t> decode_threads;
};
// OpenMovie with its settings given: the pending settings are neither used
// nor changed. Each present setting adds its kOpenUse* bit to the movie's
// open flags (as if it had been pending).
Movie* OpenMovie(const void* source, uint32_t flags, const OpenSettings& settings);
// Accepts null.
void CloseMovie(Movie* movie);
// The text of the last error ("" after a successful open).
const char* GetLastMovieError();

// Registers the sound back end. Refused (0, nothing changes) when the getter
// differs from the registered one while any track of any movie is open.
// Otherwise the getter is kept and called with the argument; a non-null
// result becomes the track opener. Returns whether an opener is available.
// A null getter: 0.
int SetSoundSystem(SoundSystemGetter getter, void* argument);

// Pending open settings: consumed (and reset) by the next OpenMovie(source,
// flags) that asks for them with its flags (the track list is reset by every
// such open). Each setter writes one part of the pending OpenSettings.
void SetPendingFrameRate(int32_t numerator, int32_t denominator);  // numerator -1: not set
void SetPendingTrackList(uint32_t count, const uint32_t* ids);     // default: one track, ID 0
void SetPendingReadBufferSize(int32_t bytes);                      // -1: not set
void SetPendingReadSpeed(int32_t bytes_per_second);                // -1: not set

// ---------------------------------------------------------------- playback
// 1 when the caller should wait (the next frame is not due), 0 when the frame
// should be decoded now.
int ShouldWait(Movie* movie);
// Decodes the current frame's sound and picture. 0 on success or when it was
// already decoded; 1 when the movie is done (read error or damaged packet).
int DecodeFrame(Movie* movie);
// Advances to the next frame (after the last, to frame 1) and reads it.
void NextFrame(Movie* movie);
// Non-zero pauses, 0 resumes; returns the paused state afterwards.
int PauseMovie(Movie* movie, int pause);
// Switches every played track's sound off or on; returns whether any device
// is on afterwards.
int SetSoundOnOff(Movie* movie, int on);

// Converts the source rectangle (movie pixels) of the current frame into the
// destination (pitch negative for bottom-up surfaces). flags: the copy flags
// word (surface_format.h). Returns 1 when the frame was late (skipped, or
// drawn late under NeverSkip), otherwise 0.
int CopyFrameToSurface(Movie* movie, uint8_t* destination, int32_t pitch,
                       uint32_t destination_height, uint32_t destination_x, uint32_t destination_y,
                       uint32_t source_left, uint32_t source_top, uint32_t source_width,
                       uint32_t source_height, uint32_t flags);

// Number of changed-area rectangles of the frame (0-8); the rectangles are
// MovieChangedRects(movie). flags: kRects*.
int GetChangedRects(uint32_t flags, Movie* movie);
const ChangedRect* MovieChangedRects(const Movie* movie);

// ---------------------------------------------------------------- statistics
struct MovieSummary {
    uint32_t width;
    uint32_t height;
    uint32_t total_playback_time;
    uint32_t header_rate_num;
    uint32_t header_rate_den;
    uint32_t played_rate_num;  // 0/0: as fast as possible
    uint32_t played_rate_den;
    uint32_t open_time;
    uint32_t frames;
    uint32_t frames_played;
    uint32_t skipped_frames;  // always 0: only blits are skipped
    uint32_t skipped_blits;
    uint32_t sound_skips;
    uint32_t blit_time;
    uint32_t frame_read_time;
    uint32_t video_time;
    uint32_t audio_time;
    uint32_t idle_service_time;
    uint32_t busy_service_time;
    uint32_t device_speed;  // bytes read x 1000 / (read time + 1)
    uint32_t slowest_frame_time;
    uint32_t second_slowest_frame_time;
    uint32_t slowest_frame;
    uint32_t second_slowest_frame;
    uint32_t average_data_rate;
    uint32_t average_frame_size;
    uint32_t total_memory;
    uint32_t total_input_memory;
    uint32_t highest_input_memory;
    uint32_t peak_data_rate;
    uint32_t peak_frame;  // 1-based
};
static_assert(sizeof(MovieSummary) == 31 * 4, "31 fields");

struct RealtimeStats {
    uint32_t frame;  // the last decoded frame
    uint32_t played_rate_num;
    uint32_t played_rate_den;
    uint32_t window_frames;
    uint32_t window_time;  // at least 1
    uint32_t video_time;
    uint32_t audio_time;
    uint32_t frame_read_time;
    uint32_t idle_service_time;
    uint32_t busy_service_time;
    uint32_t blit_time;
    uint32_t input_full_level;
    uint32_t input_fill;
    uint32_t data_rate;  // bytes per second over the window
};
static_assert(sizeof(RealtimeStats) == 14 * 4, "14 fields");

// Does nothing for no movie or no record.
void GetSummary(Movie* movie, MovieSummary* summary);
// frames: the window; 0, or whole frames per second or more, means one
// second less one frame.
void GetRealtimeStats(uint32_t frames, Movie* movie, RealtimeStats* stats);

// ---------------------------------------------------------------- what a caller may read
struct MovieInfo {
    uint32_t width;  // as played (after the scaling mode)
    uint32_t height;
    uint32_t header_width;
    uint32_t header_height;
    uint32_t frames;
    uint32_t current_frame;  // 1-based
    uint32_t last_decoded_frame;
    uint32_t rate_num;  // as played
    uint32_t rate_den;
    uint32_t open_flags;  // the combined flags
    uint32_t header_flags;
    uint32_t scaling_mode;  // 0-7
    uint32_t played_tracks;
    uint32_t sound_on;
    uint32_t paused;
    uint32_t done;  // a read error or a damaged packet ended playback
    uint32_t preloaded;
    uint32_t threaded;        // a background reader serves the input
    uint32_t decode_threads;  // threads decoding the picture (1: the caller's only)
};
// False for no movie.
bool GetMovieInfo(const Movie* movie, MovieInfo* info);
// The decoded picture (null with kOpenNoVideo) and the change map.
const FramePlanes* MovieFramePlanes(const Movie* movie);
const uint8_t* MovieChangeMap(const Movie* movie);
// The i-th played track: its ring, device and back end (null past the end).
SoundTrack* MovieSoundTrack(const Movie* movie, uint32_t i);

}  // namespace vemo
