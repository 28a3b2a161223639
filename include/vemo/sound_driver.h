// Sound output: one SoundTrack per played track of a movie. The stream core
// appends decoded 16-bit PCM to the track's SoundRing and moves it into the
// device with ServiceSound; a back end (a SoundBackEnd table of functions)
// owns the device and keeps its state to itself.
//
// Choosing a back end ("sound system"): a caller registers a SoundSystemGetter
// once, before opening movies (the core's SetSoundSystem). The getter takes one
// pointer-sized argument and returns the back end, or null when it cannot
// work. SetSoundSystem's refusal rule: when the getter differs from the
// registered one and any track of any movie is open (OpenSoundDriverCount()
// != 0), nothing changes and the result is 0. Otherwise the getter is
// registered and called with the argument; a non-null result becomes the back
// end tracks open with (a null result keeps the previous one).
//
// Threads: ready, get_chunk, commit and on run under the movie's sound lock; the
// decoder side appends under the same lock. ServiceSound only tries the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vemo {

namespace platform {
struct Mutex;
}

// ------------------------------------------------------------- sound ring

// The ring of decoded 16-bit PCM of one track. The decoder side appends; the
// sound service takes bytes out. When an append does not fit, the oldest
// bytes are dropped, never the newest.
//
// A device that plays straight from the ring (kSoundCapPulls) is handed bytes
// instead: they leave filled() but stay in the ring, in extra room reserved
// for the device, until the device's own thread consumes them. Append,
// HandOver, Empty and PrimeWithSilence run on the decoder side (under the
// sound lock); Consume runs on the one device thread. Dropping on overflow
// never touches handed bytes, so the two sides share only the two atomic
// positions of the handed span.
class SoundRing {
  public:
    SoundRing() = default;
    SoundRing(const SoundRing&) = delete;
    SoundRing& operator=(const SoundRing&) = delete;
    ~SoundRing();

    // The ring size for a track whose track table gives buffer_size bytes:
    // rounded up to a multiple of 256 (0 when that overflows 32 bits).
    static uint32_t SizeForTrack(uint32_t buffer_size);

    // Allocates an empty ring of size bytes from library memory (a size of 0
    // fails), plus device_hold bytes of room for bytes handed to a device and
    // not played yet. Any previous ring is freed. False when out of memory.
    bool Allocate(uint32_t size, uint32_t device_hold = 0);
    void Free();

    // Appends count bytes; when fewer than count bytes are free, the oldest
    // count - free bytes are dropped first (the read position moves on). A
    // single append larger than the ring keeps only its newest size() bytes.
    // Returns the bytes dropped.
    uint32_t Append(const void* bytes, uint32_t count);

    // Copies count bytes (at most filled()) from the read position into
    // destination, advancing the read position. Returns the bytes taken.
    uint32_t Take(void* destination, uint32_t count);
    // As Take, but each 16-bit sample becomes one 8-bit sample (high byte +
    // 128); count is in ring bytes and is rounded down to an even number.
    // Returns the ring bytes taken (destination receives half as many).
    uint32_t TakeAs8Bit(uint8_t* destination, uint32_t count);

    // Decoder side: hands count bytes (at most filled(), and no more than the
    // device's room has free) at the read position to the device. Returns the
    // bytes handed over; 0 for a ring without device room.
    uint32_t HandOver(uint32_t count);
    // Device side: copies up to count handed bytes into destination, as 8-bit
    // samples when eight_bit (count in ring bytes, rounded down to even;
    // destination receives half as many). Returns the ring bytes consumed.
    uint32_t Consume(uint8_t* destination, uint32_t count, bool eight_bit);
    // Bytes handed over and not consumed yet.
    uint32_t handed() const;
    // Forgets the handed bytes; only while the device does not consume.
    void DropHanded();

    // Nothing filled: write and read position back to the ring start, or, while
    // the ring has device room, the write position back to the read position
    // (handed bytes stay the device's).
    void Empty();
    // When the ring holds fewer than bytes (capped at the ring size, rounded
    // down to even), zeros are placed just ahead of the read position so that
    // it holds exactly that many; the read position moves back.
    void PrimeWithSilence(uint32_t bytes);

    uint32_t size() const { return size_; }
    uint32_t filled() const { return filled_.load(std::memory_order_acquire); }
    uint32_t free_bytes() const { return size_ - filled(); }
    const uint8_t* start() const { return start_; }
    uint32_t read_offset() const { return read_; }
    uint32_t write_offset() const { return write_; }

  private:
    void ResetPositions();
    void MoveBytes(uint32_t to, uint32_t from, uint32_t count);
    void Place(uint32_t at, const uint8_t* bytes, uint32_t count);

    uint8_t* start_ = nullptr;
    uint32_t size_ = 0;
    uint32_t hold_ = 0;   // room for handed bytes
    uint32_t span_ = 0;   // size_ + hold_: where the offsets wrap
    uint32_t write_ = 0;  // offsets from start_
    uint32_t read_ = 0;
    std::atomic<uint32_t> filled_{0};
    std::atomic<uint32_t> handed_end_{0};  // the handed span is [consumed_, handed_end_)
    std::atomic<uint32_t> consumed_{0};
};

// Converts count 16-bit little-endian samples to unsigned 8-bit ones: the
// high byte plus 128 (0x1234 -> 0x92, 0x8000 -> 0x00).
void ConvertSamplesTo8Bit(uint8_t* destination, const uint8_t* samples, uint32_t count);

// ------------------------------------------------------------- back ends

// What an opener reads from the movie: the frame count and the frame rate.
struct SoundMovieInfo {
    uint32_t frames = 0;
    uint32_t rate_numerator = 0;
    uint32_t rate_denominator = 0;
};

// The movie's total sound bytes for a device format: frames x denominator x
// bytes per second / numerator in 64-bit unsigned arithmetic; one second's
// worth when numerator or denominator is 0. Capped at 0xFFFFFFFF.
uint32_t TotalSoundBytes(const SoundMovieInfo& movie, uint32_t rate, uint32_t bits,
                         uint32_t channels);

// A back end's private state for one open track; only its own functions see
// inside.
struct SoundDevice;

// What a back end reports when it opens a track. The back end fills it once,
// in its opener; the core only reads it.
struct SoundDeviceInfo {
    uint32_t rate = 0;  // the format the device was opened with
    uint32_t bits = 0;
    uint32_t channels = 0;
    uint32_t chunk_bytes = 0;     // ring bytes that fill one device chunk
    uint32_t output_latency = 0;  // milliseconds
    uint32_t alignment_mask = 0;  // 0: none (the core then uses all ones)
    uint32_t clock_ratio = 0;     // 16.16 on the frame clock; 0: the core uses 0x10000
    uint32_t self_serviced = 0;   // not 0: no sound-service thread is needed
    uint32_t pull_bytes = 0;      // kSoundCapPulls: most ring bytes it holds unplayed
};

// Capability flags of a back end.
constexpr uint32_t kSoundCapOutputs = 1u << 0;  // output lists and volumes are kept
// The device plays straight from the track's ring: the service hands ring
// bytes over with pull instead of copying them into chunks (get_chunk then
// gives a size and no destination).
constexpr uint32_t kSoundCapPulls = 1u << 1;

// A sound back end: its name, capabilities and one function per operation,
// in the fixed slot order (ready = slot 0 ... output_volumes = slot 9). Every
// operation takes the device its open returned.
struct SoundBackEnd {
    const char* name;
    uint32_t caps;
    // Opens a track's output: sample rate, bits per sample (8 or 16),
    // channels (1 or 2), the movie's open flags and its frame count and
    // rate. Fills info; null on failure (the track is then not played).
    SoundDevice* (*open)(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t open_flags,
                         const SoundMovieInfo& movie, SoundDeviceInfo* info);
    // Not 0 when the device can take data now; also picks the place get_chunk
    // will return. 0 while paused, off or full.
    int (*ready)(SoundDevice* device);
    // The destination and its size in device bytes; 0 when none.
    int (*get_chunk)(SoundDevice* device, uint8_t** chunk, uint32_t* size);
    // The first n bytes of the last chunk were written; queues them.
    int (*commit)(SoundDevice* device, uint32_t n);
    void (*volume)(SoundDevice* device, uint32_t volume);  // back-end specific scale
    void (*pan)(SoundDevice* device, uint32_t pan);        // 0-65536, 32768 centre
    // Not 0 pauses, 0 resumes; returns the paused state afterwards.
    int (*pause)(SoundDevice* device, int pause);
    // 1 opens or re-arms the device, 0 stops and empties it; returns the on
    // state afterwards.
    int (*on)(SoundDevice* device, int on);
    // Stops the device, releases everything the back end holds and frees the
    // device itself.
    void (*close)(SoundDevice* device);
    // With kSoundCapOutputs: at most 8 entries are kept (more are cut to 8).
    // Null without it.
    void (*outputs)(SoundDevice* device, const uint32_t* outputs, uint32_t count);
    void (*output_volumes)(SoundDevice* device, const uint32_t* outputs, const uint32_t* volumes,
                           uint32_t count);
    // The ran-dry report: 1 when the device found it had played everything it
    // was given since the last call. Reading it clears it.
    uint32_t (*take_ran_dry)(SoundDevice* device);
    // With kSoundCapPulls: takes over ring_bytes bytes at the ring's read
    // position (SoundRing::HandOver) as the chunk get_chunk sized, in place of
    // commit; returns the ring bytes taken. Null without it.
    uint32_t (*pull)(SoundDevice* device, SoundRing* ring, uint32_t ring_bytes) = nullptr;
    // No more sound comes for now (the track's data is exhausted): the device
    // plays what it holds even when that is less than its start threshold,
    // and keeps what follows it silent. Harmless to call again; new commits
    // after it are played as usual. Null: nothing to do.
    void (*flush)(SoundDevice* device) = nullptr;
};

// Returns a back end, or null when it cannot work.
using SoundSystemGetter = const SoundBackEnd* (*)(void* argument);

// ------------------------------------------------------------- a played track

struct AudioDecoder;

// One played track, owned by the stream core: its decoder and ring, the open
// device, and the numbers the sound service works with. The core writes every
// field; the back end sees only its device.
struct SoundTrack {
    SoundTrack() = default;
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    SoundRing ring;
    AudioDecoder* decoder = nullptr;  // opened and closed by the core
    const SoundBackEnd* back_end = nullptr;
    SoundDevice* device = nullptr;
    SoundDeviceInfo device_info;     // as the back end reported it
    uint32_t eight_bit_output = 0;   // 1 when the device plays 8-bit samples
    int32_t end_of_sound_frame = 0;  // from the frame after it, partial chunks go out
    uint32_t silence_prime_size = 0;
    uint32_t alignment_mask = 0xFFFFFFFFu;  // ANDed into every hand-over before the end
    uint32_t clock_ratio = 0x10000;         // 16.16
    // The movie's last frame (0: unknown). While the service runs on it and
    // the ring is empty, the device is flushed: the track has no more data.
    int32_t last_frame = 0;
};

// Opens the track's device through back_end and takes over what it reports
// (8-bit output, alignment, clock ratio). False when the back end refuses.
bool OpenSoundTrackDevice(SoundTrack* track, const SoundBackEnd* back_end, uint32_t rate,
                          uint32_t bits, uint32_t channels, uint32_t open_flags,
                          const SoundMovieInfo& movie);
// Closes the track's device (when open) and frees its ring.
void CloseSoundTrackDevice(SoundTrack* track);

// Number of track devices open in the process through OpenSoundTrackDevice
// and not yet closed (all back ends).
uint32_t OpenSoundDriverCount();

// ------------------------------------------------------------- sound service

// End-of-sound frame of a track: frames - 3 x numerator / (4 x denominator),
// integer arithmetic (0 rate parts give frames).
int32_t EndOfSoundFrame(uint32_t frames, uint32_t rate_numerator, uint32_t rate_denominator);
// Bytes of (750 - latency) ms of 16-bit sound at rate and channels, rounded
// down to a multiple of 4 and capped at ring_size.
uint32_t SilencePrimeSize(uint32_t rate, uint32_t channels, uint32_t latency_ms,
                          uint32_t ring_size);

// Moves ring data of each track into its device in whole chunks (partial
// chunks once current_frame is past the track's end-of-sound frame). On the
// track's last frame, once its ring is empty, the device is flushed. The
// caller holds the movie's sound lock. Null entries are skipped.
void ServiceSoundTracks(SoundTrack* const* tracks, size_t count, int32_t current_frame);
// The whole service for one movie: does nothing when the last track is null,
// tries sound_lock without waiting (returns false when it is held elsewhere),
// runs ServiceSoundTracks and releases the lock.
bool ServiceSound(platform::Mutex* sound_lock, SoundTrack* const* tracks, size_t count,
                  int32_t current_frame);

}  // namespace vemo
