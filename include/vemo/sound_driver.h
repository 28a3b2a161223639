// Sound output: one SoundDriver per played track of a movie. The stream core
// appends decoded 16-bit PCM to the track's SoundRing and moves it into the
// device with ServiceSound; a back end owns the device and implements the ten
// operations below (in their fixed slot order).
//
// Choosing a back end ("sound system"): a caller registers a SoundSystemGetter
// once, before opening movies (the core's SetSoundSystem). The getter takes one
// pointer-sized argument and returns the back end's SoundOpener, or null when
// the back end cannot work. SetSoundSystem's refusal rule: when the getter
// differs from the registered one and any track of any movie is open
// (OpenSoundDriverCount() != 0), nothing changes and the result is 0.
// Otherwise the getter is registered and called with the argument; a non-null
// result becomes the track opener (a null result keeps the previous opener).
//
// Threads: slots 0-2 and SetSoundOn run under the movie's sound lock; the
// decoder side appends under the same lock. ServiceSound only tries the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vemo {

namespace platform {
struct Mutex;
}

// ------------------------------------------------------------- sound ring

// The ring of decoded 16-bit PCM of one track. The decoder side appends; the
// sound service takes bytes out. When an append does not fit, the oldest
// bytes are dropped, never the newest.
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
    // fails). Any previous ring is freed. False when out of memory.
    bool Allocate(uint32_t size);
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

    // Write and read position back to the ring start, nothing filled.
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
    uint8_t* start_ = nullptr;
    uint32_t size_ = 0;
    uint32_t write_ = 0;  // offsets from start_
    uint32_t read_ = 0;
    std::atomic<uint32_t> filled_{0};
};

// Converts count 16-bit little-endian samples to unsigned 8-bit ones: the
// high byte plus 128 (0x1234 -> 0x92, 0x8000 -> 0x00).
void ConvertSamplesTo8Bit(uint8_t* destination, const uint8_t* samples, uint32_t count);

// ------------------------------------------------------------- the driver

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

// One played track's sound output. Back ends derive from it; the fields after
// the operations are shared with the stream core (who writes each is noted).
class SoundDriver {
  public:
    SoundDriver();
    SoundDriver(const SoundDriver&) = delete;
    SoundDriver& operator=(const SoundDriver&) = delete;
    // Every back end calls its CloseSound from its destructor, so destroying
    // a driver that was not closed releases the device too.
    virtual ~SoundDriver();

    // Slot 0: not 0 when the device can take data now; also picks the place
    // GetSoundChunk will return. 0 while paused, off or full.
    virtual int SoundReady() = 0;
    // Slot 1: the destination and its size in device bytes; 0 when none.
    virtual int GetSoundChunk(uint8_t** chunk, uint32_t* size) = 0;
    // Slot 2: the first n bytes of the last chunk were written; queues them.
    virtual int CommitSoundChunk(uint32_t n) = 0;
    // Slot 3: back-end specific scale.
    virtual void SetSoundVolume(uint32_t volume) = 0;
    // Slot 4: 0-65536, 32768 centre.
    virtual void SetSoundPan(uint32_t pan) = 0;
    // Slot 5: not 0 pauses, 0 resumes; returns the paused state afterwards.
    virtual int PauseSound(int pause) = 0;
    // Slot 6: 1 opens or re-arms the device, 0 stops and empties it; returns
    // the on state afterwards.
    virtual int SetSoundOn(int on) = 0;
    // Slot 7: stops the device and releases everything the back end holds.
    // Calling it twice is harmless.
    virtual void CloseSound() = 0;
    // Slots 8 and 9 exist only where HasOutputSlots() is true; elsewhere they
    // do nothing. At most 8 entries are stored (more are cut to 8).
    virtual bool HasOutputSlots() const { return false; }
    virtual void SetSoundOutputs(const uint32_t* outputs, uint32_t count);
    virtual void SetSoundOutputVolumes(const uint32_t* outputs, const uint32_t* volumes,
                                       uint32_t count);

    // ----- written by the core
    SoundRing ring;
    void* decoder = nullptr;         // the track's audio decoder (owned by the core)
    uint32_t eight_bit_output = 0;   // 1 when the device plays 8-bit samples
    int32_t end_of_sound_frame = 0;  // from the frame after it, partial chunks go out
    uint32_t silence_prime_size = 0;
    uint32_t alignment_mask = 0;  // the core sets all ones when the back end left 0
    uint32_t clock_ratio = 0;     // 16.16; the core sets 0x10000 when left 0
    // ----- written by the back end
    uint32_t chunk_bytes = 0;          // ring bytes that fill one device chunk
    std::atomic<uint32_t> ran_dry{0};  // set by the back end, cleared by the core
    uint32_t self_serviced = 0;
    uint32_t on = 0;
    uint32_t output_latency = 0;  // milliseconds
    uint32_t sample_rate = 0;
    uint32_t bits = 0;
    uint32_t channels = 0;
};

// Number of SoundDriver objects alive in the process (all back ends).
uint32_t OpenSoundDriverCount();

// Opens a track's output: sample rate, bits per sample (8 or 16), channels (1
// or 2), the movie's open flags and its frame count and rate. Null on failure
// (the track is then not played). The core calls CloseSound and then destroys
// the driver at movie close.
using SoundOpener = std::unique_ptr<SoundDriver> (*)(uint32_t rate, uint32_t bits,
                                                     uint32_t channels, uint32_t open_flags,
                                                     const SoundMovieInfo& movie);
// Returns the opener of a back end, or null when it cannot work.
using SoundSystemGetter = SoundOpener (*)(void* argument);

// ------------------------------------------------------------- sound service

// End-of-sound frame of a track: frames - 3 x numerator / (4 x denominator),
// integer arithmetic (0 rate parts give frames).
int32_t EndOfSoundFrame(uint32_t frames, uint32_t rate_numerator, uint32_t rate_denominator);
// Bytes of (750 - latency) ms of 16-bit sound at rate and channels, rounded
// down to a multiple of 4 and capped at ring_size.
uint32_t SilencePrimeSize(uint32_t rate, uint32_t channels, uint32_t latency_ms,
                          uint32_t ring_size);

// Moves ring data of each track into its device in whole chunks (partial
// chunks once current_frame is past the track's end-of-sound frame). The
// caller holds the movie's sound lock. Null entries are skipped.
void ServiceSoundTracks(SoundDriver* const* tracks, size_t count, int32_t current_frame);
// The whole service for one movie: does nothing when the last track is null,
// tries sound_lock without waiting (returns false when it is held elsewhere),
// runs ServiceSoundTracks and releases the lock.
bool ServiceSound(platform::Mutex* sound_lock, SoundDriver* const* tracks, size_t count,
                  int32_t current_frame);

}  // namespace vemo
