// The Movie record and the stream core's internal helpers, shared by the
// core's files and its tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "vemo/audio_decoder.h"
#include "vemo/changed_rects.h"
#include "vemo/container.h"
#include "vemo/decode_threads.h"
#include "vemo/frame_planes.h"
#include "vemo/memory.h"
#include "vemo/movie.h"
#include "vemo/movie_io.h"
#include "vemo/service_thread.h"
#include "vemo/sound_driver.h"
#include "vemo/video_decoder.h"

namespace vemo {

namespace platform {
struct Mutex;
}

// The frame source: the frame index and track tables, the stream input with
// its read buffer (or the preloaded movie) and the current frame packet. Its
// tear-down closes the input and frees the buffers it owns.
struct FrameFeed {
    const uint32_t* index = nullptr;  // frames + 1 (at least) host-order entries
    const uint32_t* track_buffer_size = nullptr;
    const uint32_t* track_format = nullptr;
    const uint32_t* track_id = nullptr;
    uint32_t track_count = 0;
    uint32_t index_length = 0;
    uint32_t size_field = 0;
    uint32_t largest_frame = 0;  // the true largest packet of the index
    uint32_t first_frame_offset = 0;
    uint32_t peak_rate = 0;
    uint32_t peak_frame = 0;  // 0-based window start

    const uint8_t* packet = nullptr;  // the current frame's packet
    uint32_t packet_size = 0;
    const uint8_t* preload_base = nullptr;  // the first frame's byte when preloaded (or in memory)
    uint32_t preload_valid = 0;             // bytes from preload_base that hold the movie
    LibraryPtr<uint8_t> preload_block;      // owned when preloaded from a file
    LibraryPtr<uint32_t> table_copy;        // tables of a memory source, in host order
    LibraryPtr<uint8_t> read_block;         // read buffer then frame buffer
    uint8_t* frame_buffer = nullptr;
    uint32_t read_buffer_size = 0;
    bool preloaded = false;
    bool memory_source = false;
    bool all_key_frames = false;
    bool reader_registered = false;
    bool threads = false;  // a background reader serves the input

    MovieIOPtr io;
    ServiceClient reader_client;

    FrameFeed() = default;
    FrameFeed(const FrameFeed&) = delete;
    FrameFeed& operator=(const FrameFeed&) = delete;
    ~FrameFeed();
    // Stops the background reader's service of this input (before tear-down).
    void Unregister();
    // Whether there is a read buffer to refill.
    bool Buffered() const { return !preloaded && io != nullptr; }
};

// Why the input pump runs; each reason has its own level and manners.
enum class PumpReason {
    kAhead,   // before the video step or a conversion: below 3/4 of the level, try the
              // lock, else yield
    kWait,    // while the caller waits: with a background reader only below 1/2; never yields
    kOpen,    // at open: until the input has nothing more to read
    kRefill,  // after a sound skip, lock held: until 29/32 of the full level
};

// The picture: the decoder's planes and bundle buffers, the change map and
// the changed areas last reported. Its tear-down frees the planes.
struct MoviePicture {
    FramePlanes* planes = nullptr;  // null with kOpenNoVideo
    BundleBuffers bundles;
    uint8_t* change_map = nullptr;  // block count + 16 bytes (in the record's block)
    uint32_t blocks_across = 0;
    uint32_t blocks_down = 0;
    uint32_t block_count = 0;
    uint32_t full_copy_threshold = 0;
    uint32_t unchanged_count = 0;
    uint32_t last_copy_flags = 0;
    int rect_count = -1;  // -1: not computed for this frame
    bool video_on = false;
    bool copy_in_progress = false;
    ChangedRect rects[kMaxChangedRects] = {};

    MoviePicture() = default;
    MoviePicture(const MoviePicture&) = delete;
    MoviePicture& operator=(const MoviePicture&) = delete;
    ~MoviePicture();
    void ClearChangeMap();
};

// The played sound tracks: for each its SoundTrack (which owns the track's
// decoder, ring and device), the sound lock and the sound-service
// registration. Its tear-down closes every track.
struct PlayedTracks {
    uint32_t requested = 0;               // room in the arrays below
    uint32_t* played = nullptr;           // track-table indexes, in requested order
    SoundTrack** sound_tracks = nullptr;  // the played tracks, in played order
    uint32_t count = 0;
    bool sound_on = false;
    bool registered = false;
    platform::Mutex* own_lock = nullptr;  // when no sound-service client lock exists
    ServiceClient client;

    PlayedTracks() = default;
    PlayedTracks(const PlayedTracks&) = delete;
    PlayedTracks& operator=(const PlayedTracks&) = delete;
    ~PlayedTracks();
    // Stops the sound service of this movie (before tear-down).
    void Unregister();
    platform::Mutex* Lock() const;              // the client's lock, or the own one
    SoundTrack* TrackOf(uint32_t track) const;  // the played track of a track-table index
};

// What the clock says about the frame decoded next (ShouldWait) or just
// decoded (the copy).
enum class FrameTiming { kWait, kDraw, kDrawLate, kSkip };
enum class TimingQuestion {
    kWait,  // ShouldWait: is the next frame due? (signed comparison, late carry)
    kBlit,  // the copy: draw, draw late or skip? (unsigned comparison, late count)
};

// The frame clock with its late bookkeeping and the one timing decision.
struct MovieClock {
    uint32_t rate_num = 0;  // as played (override or header); 0: as fast as possible
    uint32_t rate_den = 0;
    uint32_t two_frame_time = 2000;
    uint32_t frames_decoded = 0;
    uint32_t clock_start = 0;  // 0: not started
    uint32_t frames_at_clock_start = 0;
    int32_t late_carry = 0;
    int32_t late_step = 0;
    uint32_t pause_offset = 0;
    uint32_t consecutive_late = 0;
    uint32_t reset_on_rewind_time = 0;  // 0: not set
    bool skip_this_blit = false;
    bool last_blit_skipped = false;
    bool reset_request = false;
    bool paused = false;

    // Starts the clock at now when it is not running.
    void StartIfNeeded(uint32_t now);
    // Starts the clock again with the next frame.
    void Restart();
    // The decision for the question at now. with_sound: tracks play;
    // sound_on: their devices are on; ratio: the first track's clock ratio.
    // kWait: kWait or kDraw (the late carry is booked). kBlit: kDraw,
    // kDrawLate (never_skip) or kSkip (the skip flags are set).
    FrameTiming Decide(TimingQuestion question, uint32_t now, uint32_t ratio, bool with_sound,
                       bool sound_on, bool never_skip);
};

// The timing rings, one entry per frame of the last second.
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

// Playback statistics: the counters and the timing rings (in the record's block).
struct MovieStatistics {
    uint32_t video_time = 0;
    uint32_t audio_time = 0;
    uint32_t blit_time = 0;
    uint32_t decode_end_time = 0;
    uint32_t frame_start_time = 0;
    uint32_t frame_start_number = 0;
    bool decode_end_pending = false;
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
    uint32_t ring_position = 0;
    uint32_t* rings[kTimingRings] = {};
};

// The next frame's picture, decoded on a worker thread while the current
// frame is converted and shown. The worker writes only the plane buffer that
// does not hold the current frame (through its own copy of the planes
// record) and its own change map; DecodeFrame takes the result when it was
// made from the packet and the change map the frame would be decoded from
// now, and decodes the frame itself otherwise.
struct VideoAhead {
    uint32_t threads = 1;                  // decoding threads in use
    std::unique_ptr<HelperThread> worker;  // null: frames are decoded in DecodeFrame
    std::unique_ptr<PlaneHelper> planes;   // splits a frame's planes (null: not split)
    std::vector<uint8_t> map;              // the next frame's change map
    LibraryPtr<uint8_t> spare_block;       // the next packet when not preloaded
    uint8_t* spare = nullptr;              // the frame buffer not holding the current packet
    FramePlanes shadow{};                  // the planes record as the worker leaves it
    uint32_t frame = 0;                    // frame decoded ahead (0: none)
    const uint8_t* packet = nullptr;       // its packet
    uint32_t packet_size = 0;
    uint32_t read_frame = 0;  // frame whose packet the spare buffer holds (0: none)
    uint32_t read_size = 0;
    bool map_kept = false;  // started from the change map of a skipped blit
    uint32_t unchanged = 0;
    uint32_t decode_us = 0;  // the worker's decode time
    uint32_t us_carry = 0;   // microseconds not yet booked as video time

    VideoAhead() = default;
    VideoAhead(const VideoAhead&) = delete;
    VideoAhead& operator=(const VideoAhead&) = delete;
    ~VideoAhead();
};

// The open movie: what it is, where it is, and its parts. Lives at the start
// of its block pool allocation; destroying it tears the parts down (sound
// tracks first, then the frame source, then the picture).
struct Movie {
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
    uint32_t header_rate_num = 0;
    uint32_t header_rate_den = 0;
    uint32_t whole_fps = 1;
    bool done = false;

    MoviePicture picture;
    FrameFeed source;
    PlayedTracks tracks;
    MovieClock clock;
    MovieStatistics stats;
    // With more than one decoding thread; declared last, so that its worker
    // ends before any part it reads goes.
    std::unique_ptr<VideoAhead> ahead;
};

// ---------------------------------------------------------------- timing arithmetic
// Milliseconds after clock start at which the frame `frames` frames after the
// clock start is due: (frames x 1000 x d / r) x s / 65536, in 64-bit
// products (32-bit ones would wrap after a dozen frames at 29.97 Hz).
uint32_t DueTime(uint32_t frames, uint32_t rate_num, uint32_t rate_den, uint32_t clock_ratio);
// late x d / r, 64-bit product, saturated to the signed 32-bit range.
int32_t LateStep(uint32_t late, uint32_t rate_num, uint32_t rate_den);

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
// The one input pump: refills the read buffer as the reason asks (nothing
// for a preloaded movie).
void PumpInput(Movie* m, PumpReason reason);
// Reads frame n (1-based) into the frame buffer (or points into the
// preloaded bytes). False (and the movie done) on a read error.
bool ReadMovieFrame(Movie* m, uint32_t n);
// Decodes the current packet's audio parts into the played tracks' rings.
void DecodeMovieAudio(Movie* m);

// ---------------------------------------------------------------- decoding ahead
// Sets up the decoding threads asked for at open (0: as suits the machine).
// Without memory for them the movie decodes on the caller's thread.
void SetUpDecodeThreads(Movie* m, uint32_t threads);
// Hands the worker the frame after the current one (from CopyFrameToSurface,
// once the blit is decided) or the current frame when it is not decoded yet
// (from NextFrame). map_kept: the frame will be decoded onto the current
// change map (the blit before it is skipped), else onto a cleared one. Does
// nothing when a frame is already in hand or none can be decoded ahead.
void StartVideoAhead(Movie* m, bool map_kept);
// The current frame's picture from the worker: true when it was installed,
// false when the frame must be decoded here (anything ahead is dropped).
bool TakeVideoAhead(Movie* m);
// Waits for the worker and drops what it decoded; drop_read: the packet read
// ahead too.
void CancelVideoAhead(Movie* m, bool drop_read);
// Frame n's packet read ahead into the spare buffer becomes the current
// packet; false when frame n was not read ahead.
bool UseFrameReadAhead(Movie* m, uint32_t n);
// The frame's picture decoded on this thread (with the plane helper when
// there is one).
uint32_t DecodePictureHere(Movie* m, const uint8_t* video, uint32_t size, bool key);

// Sound-service client operation: ServiceSound for the owner movie.
void MovieSoundService(ServiceClient* client, uint32_t sweep);

}  // namespace vemo
