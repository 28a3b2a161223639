// The Movie record and the stream core's internal helpers, shared by the
// core's files and its tests.
#pragma once

#include <atomic>
#include <cstdint>

#include "vemo/audio_decoder.h"
#include "vemo/changed_rects.h"
#include "vemo/container.h"
#include "vemo/frame_planes.h"
#include "vemo/movie.h"
#include "vemo/movie_io.h"
#include "vemo/service_thread.h"
#include "vemo/sound_driver.h"
#include "vemo/video_decoder.h"

namespace vemo {

namespace platform {
struct Mutex;
}

// The seven timing rings, one entry per frame of the last second.
enum TimingRing {
    kRingTime = 0,
    kRingVideo,
    kRingAudio,
    kRingBlit,
    kRingFrameRead,
    kRingIdleService,
    kRingBusyService,
    kTimingRings
};

struct Movie {
    // ---- picture
    uint32_t width = 0;  // as played
    uint32_t height = 0;
    uint32_t header_width = 0;
    uint32_t header_height = 0;
    uint32_t frames = 0;
    uint32_t current_frame = 0;  // 1-based; 0xFFFFFFFF before frame 1 is read
    // The current frame as the sound-service thread sees it (the caller's
    // thread refreshes it whenever it runs the service).
    std::atomic<uint32_t> service_frame{0};
    uint32_t last_decoded_frame = 0;
    uint32_t open_flags = 0;
    uint32_t header_flags = 0;
    uint32_t rate_num = 0;  // as played (override or header)
    uint32_t rate_den = 0;
    uint32_t header_rate_num = 0;
    uint32_t header_rate_den = 0;
    uint32_t whole_fps = 1;
    uint32_t two_frame_time = 2000;
    uint32_t largest_frame = 0;  // the true largest packet of the index
    uint32_t index_length = 0;
    uint32_t size_field = 0;
    uint32_t track_count = 0;

    // ---- frame data
    const uint32_t* index = nullptr;  // frames + 1 (at least) host-order entries
    const uint32_t* track_buffer_size = nullptr;
    const uint32_t* track_format = nullptr;
    const uint32_t* track_id = nullptr;
    const uint8_t* packet = nullptr;  // the current frame's packet
    uint32_t packet_size = 0;
    const uint8_t* preload_base = nullptr;  // the first frame's byte when preloaded (or in memory)
    uint32_t preload_valid = 0;             // bytes from preload_base that hold the movie
    uint8_t* preload_block = nullptr;       // owned when preloaded from a file
    uint32_t* table_copy = nullptr;         // tables of a memory source, in host order
    uint8_t* read_block = nullptr;          // read buffer then frame buffer
    uint8_t* frame_buffer = nullptr;
    uint32_t read_buffer_size = 0;
    uint32_t first_frame_offset = 0;
    bool preloaded = false;
    bool memory_source = false;
    uint8_t* change_map = nullptr;
    uint32_t blocks_across = 0;
    uint32_t blocks_down = 0;
    uint32_t block_count = 0;
    uint32_t full_copy_threshold = 0;
    uint32_t peak_rate = 0;
    uint32_t peak_frame = 0;  // 0-based window start
    bool all_key_frames = false;

    // ---- video
    FramePlanes* planes = nullptr;
    BundleBuffers bundles;
    bool video_on = false;
    uint32_t unchanged_count = 0;
    uint32_t last_copy_flags = 0;
    bool copy_in_progress = false;

    // ---- sound
    uint32_t requested_tracks = 0;        // room in the arrays below
    uint32_t* played = nullptr;           // track-table indexes, in pending-list order
    SoundTrack** sound_tracks = nullptr;  // the played tracks, in played order
    uint32_t played_count = 0;
    bool sound_on = false;
    platform::Mutex* own_sound_lock = nullptr;  // when no sound-service client lock exists
    ServiceClient sound_client;
    bool sound_registered = false;

    // ---- input
    MovieIOPtr io;
    ServiceClient reader_client;
    bool reader_registered = false;
    bool threads = false;  // a background reader serves the input

    // ---- timing
    uint32_t frames_decoded = 0;
    uint32_t clock_start = 0;  // 0: not started
    uint32_t frames_at_clock_start = 0;
    int32_t late_carry = 0;
    int32_t late_step = 0;
    uint32_t pause_offset = 0;
    uint32_t consecutive_late = 0;
    bool skip_this_blit = false;
    bool last_blit_skipped = false;
    uint32_t reset_on_rewind_time = 0;  // 0: not set
    bool reset_request = false;
    bool done = false;
    bool paused = false;

    // ---- statistics
    uint32_t video_time = 0;
    uint32_t audio_time = 0;
    uint32_t blit_time = 0;
    uint32_t decode_end_time = 0;
    bool decode_end_pending = false;
    uint32_t frame_start_time = 0;
    uint32_t frame_start_number = 0;
    bool frame_time_pending = false;
    uint32_t first_decode_time = 0;
    uint32_t open_time = 0;
    uint32_t skipped_blits = 0;
    uint32_t sound_skips = 0;
    uint32_t slowest_time = 0;
    uint32_t second_slowest_time = 0;
    uint32_t slowest_frame = 0;
    uint32_t second_slowest_frame = 0;
    uint32_t total_memory = 0;
    uint32_t idle_service_base = 0;  // input counters at the first decode
    uint32_t busy_service_base = 0;
    uint32_t* rings[kTimingRings] = {};
    uint32_t ring_position = 0;

    // ---- changed areas
    ChangedRect rects[kMaxChangedRects] = {};
    int rect_count = -1;  // -1: not computed for this frame
};

// ---------------------------------------------------------------- timing arithmetic
// Milliseconds after clock start at which the frame `frames` frames after the
// clock start is due: (frames x 1000 x d / r) x s / 65536, in 64-bit
// products (32-bit ones would wrap after a dozen frames at 29.97 Hz).
uint32_t DueTime(uint32_t frames, uint32_t rate_num, uint32_t rate_den, uint32_t clock_ratio);
// late x d / r, 64-bit product, saturated to the signed 32-bit range.
int32_t LateStep(uint32_t late, uint32_t rate_num, uint32_t rate_den);

// Blit-skip decision of one copy (the clock values as the copy sees them).
enum class BlitDecision { kDraw, kDrawLate, kSkip };

// ---------------------------------------------------------------- internal operations
uint32_t ClockRatio(const Movie* m);
uint32_t MovieNow();  // Milliseconds(), never 0 (0 marks an unset time)
void StartClockIfNeeded(Movie* m);
platform::Mutex* SoundLock(Movie* m);
void RunSoundService(Movie* m);          // on the caller's thread
void RunSoundServiceOnThread(Movie* m);  // on the sound-service thread
void BookBlitTime(Movie* m);
void UpdateSlowestFrames(Movie* m);
void PushTimingRings(Movie* m, uint32_t now);
// One read-ahead step when the ring is below three quarters of
// min(peak rate, full level); yields when the lock is busy and threads run.
void ServiceInputIfLow(Movie* m);
// Reads frame n (1-based) into the frame buffer (or points into the
// preloaded bytes). False (and the movie done) on a read error.
bool ReadMovieFrame(Movie* m, uint32_t n);
// Decodes the current packet's audio parts into the played tracks' rings.
void DecodeMovieAudio(Movie* m);

// Sound-service client operation: ServiceSound for the owner movie.
void MovieSoundService(ServiceClient* client, uint32_t sweep);

}  // namespace vemo
