// The sound ring, the back-end table, the played track and the sound service.
#include "vemo/sound_driver.h"

#include <algorithm>
#include <cstring>

#include "sound_device.h"
#include "vemo/memory.h"
#include "vemo/platform.h"

namespace vemo {

namespace {

std::atomic<uint32_t> g_open_drivers{0};

}  // namespace

// ------------------------------------------------------------- sound ring

SoundRing::~SoundRing() {
    Free();
}

uint32_t SoundRing::SizeForTrack(uint32_t buffer_size) {
    const uint64_t rounded = (static_cast<uint64_t>(buffer_size) + 255) & ~uint64_t{255};
    return rounded > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(rounded);
}

bool SoundRing::Allocate(uint32_t size, uint32_t device_hold) {
    Free();
    if (size == 0 || device_hold > 0x7FFFFFFFu - size) return false;
    start_ = static_cast<uint8_t*>(AllocateLibraryMemory(size + device_hold));
    if (start_ == nullptr) return false;
    size_ = size;
    hold_ = device_hold & ~1u;
    span_ = size_ + hold_;
    ResetPositions();
    return true;
}

void SoundRing::Free() {
    FreeLibraryMemory(start_);
    start_ = nullptr;
    size_ = hold_ = span_ = 0;
    ResetPositions();
}

void SoundRing::ResetPositions() {
    write_ = 0;
    read_ = 0;
    filled_.store(0, std::memory_order_release);
    handed_end_.store(0, std::memory_order_release);
    consumed_.store(0, std::memory_order_release);
}

// Moves count bytes between offsets (either direction, overlapping allowed),
// wrapping at the span.
void SoundRing::MoveBytes(uint32_t to, uint32_t from, uint32_t count) {
    if (count == 0 || to == from) return;
    const bool ahead = (to + span_ - from) % span_ < count;  // the target overlaps behind
    if (!ahead) {
        while (count > 0) {
            const uint32_t run = std::min({count, span_ - from, span_ - to});
            std::memmove(start_ + to, start_ + from, run);
            count -= run;
            from = (from + run) % span_;
            to = (to + run) % span_;
        }
        return;
    }
    // Moving forward over itself: from the end back.
    uint32_t from_end = (from + count) % span_, to_end = (to + count) % span_;
    while (count > 0) {
        const uint32_t run =
            std::min({count, from_end ? from_end : span_, to_end ? to_end : span_});
        from_end = (from_end + span_ - run) % span_;
        to_end = (to_end + span_ - run) % span_;
        std::memmove(start_ + to_end, start_ + from_end, run);
        count -= run;
    }
}

void SoundRing::Place(uint32_t at, const uint8_t* bytes, uint32_t count) {
    const uint32_t first = std::min(count, span_ - at);
    if (bytes != nullptr) {
        std::memcpy(start_ + at, bytes, first);
        std::memcpy(start_, bytes + first, count - first);
    } else {
        std::memset(start_ + at, 0, first);
        std::memset(start_, 0, count - first);
    }
}

uint32_t SoundRing::Append(const void* bytes, uint32_t count) {
    if (size_ == 0 || count == 0) return 0;
    const uint8_t* source = static_cast<const uint8_t*>(bytes);
    uint32_t dropped = 0;
    if (count > size_) {
        // Only the newest size_ bytes can be kept: everything held and the
        // head of this append are lost.
        dropped = filled() + (count - size_);
        source += count - size_;
        count = size_;
        Empty();
    }
    const uint32_t free = size_ - filled();
    if (free < count) {
        const uint32_t drop = count - free;
        if (hold_ == 0) {
            read_ = (read_ + drop) % span_;
        } else {
            // The bytes just before the read position may be the device's:
            // the survivors move down over the dropped ones instead.
            MoveBytes(read_, (read_ + drop) % span_, filled() - drop);
            write_ = (write_ + span_ - drop) % span_;
        }
        filled_.fetch_sub(drop, std::memory_order_acq_rel);
        dropped += drop;
    }
    filled_.fetch_add(count, std::memory_order_acq_rel);
    // Free room: at most size_ bytes wait and at most hold_ are handed, so
    // the bytes written here are no device's.
    Place(write_, source, count);
    write_ = (write_ + count) % span_;
    return dropped;
}

uint32_t SoundRing::Take(void* destination, uint32_t count) {
    count = std::min(count, filled());
    if (count == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    filled_.fetch_sub(count, std::memory_order_acq_rel);
    const uint32_t first = std::min(count, span_ - read_);
    std::memcpy(out, start_ + read_, first);
    std::memcpy(out + first, start_, count - first);
    read_ = (read_ + count) % span_;
    return count;
}

namespace {

// Converts count ring bytes at offset at (wrapping at span) to 8-bit samples;
// returns the offset after them. An odd offset (a sample split by the ring
// end) takes its high byte from the ring start.
uint32_t CopyAs8Bit(uint8_t* destination, const uint8_t* ring, uint32_t span, uint32_t at,
                    uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const uint32_t run = std::min(count - done, span - at) & ~1u;
        if (run == 0) {
            destination[done / 2] = static_cast<uint8_t>(ring[0] + 128);
            at = 1;
            done += 2;
            continue;
        }
        ConvertSamplesTo8Bit(destination + done / 2, ring + at, run / 2);
        done += run;
        at = (at + run) % span;
    }
    return at;
}

}  // namespace

uint32_t SoundRing::TakeAs8Bit(uint8_t* destination, uint32_t count) {
    count = std::min(count, filled()) & ~1u;
    if (count == 0) return 0;
    filled_.fetch_sub(count, std::memory_order_acq_rel);
    read_ = CopyAs8Bit(destination, start_, span_, read_, count);
    return count;
}

uint32_t SoundRing::handed() const {
    if (span_ == 0) return 0;
    const uint32_t end = handed_end_.load(std::memory_order_acquire);
    const uint32_t at = consumed_.load(std::memory_order_acquire);
    return (end + span_ - at) % span_;
}

uint32_t SoundRing::HandOver(uint32_t count) {
    count = std::min({count, filled(), hold_ - std::min(hold_, handed())});
    if (count == 0) return 0;
    filled_.fetch_sub(count, std::memory_order_acq_rel);
    read_ = (read_ + count) % span_;
    handed_end_.store(read_, std::memory_order_release);
    return count;
}

uint32_t SoundRing::Consume(uint8_t* destination, uint32_t count, bool eight_bit) {
    count = std::min(count, handed());
    if (eight_bit) count &= ~1u;
    if (count == 0) return 0;
    uint32_t at = consumed_.load(std::memory_order_relaxed);
    if (eight_bit) {
        at = CopyAs8Bit(destination, start_, span_, at, count);
    } else {
        const uint32_t first = std::min(count, span_ - at);
        std::memcpy(destination, start_ + at, first);
        std::memcpy(destination + first, start_, count - first);
        at = (at + count) % span_;
    }
    consumed_.store(at, std::memory_order_release);
    return count;
}

void SoundRing::DropHanded() {
    consumed_.store(handed_end_.load(std::memory_order_acquire), std::memory_order_release);
}

void SoundRing::Empty() {
    if (hold_ == 0) {
        ResetPositions();
        return;
    }
    write_ = read_;
    filled_.store(0, std::memory_order_release);
}

void SoundRing::PrimeWithSilence(uint32_t bytes) {
    bytes = std::min(bytes, size_) & ~1u;
    const uint32_t held = filled();
    if (held >= bytes) return;
    const uint32_t missing = bytes - held;
    if (hold_ == 0) {
        // Zeros just behind the read position, which moves back.
        read_ = (read_ + span_ - missing) % span_;
        Place(read_, nullptr, missing);
    } else {
        // Behind the read position lie the device's bytes: the waiting
        // bytes move up and the zeros go in front of them.
        MoveBytes((read_ + missing) % span_, read_, held);
        Place(read_, nullptr, missing);
        write_ = (write_ + missing) % span_;
    }
    filled_.fetch_add(missing, std::memory_order_acq_rel);
}

void ConvertSamplesTo8Bit(uint8_t* destination, const uint8_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        destination[i] = static_cast<uint8_t>(samples[2 * i + 1] + 128);
}

// ------------------------------------------------------------- back ends

namespace sound {

namespace {

int Ready(SoundDevice* d) {
    return d->SoundReady();
}
int GetChunk(SoundDevice* d, uint8_t** chunk, uint32_t* size) {
    return d->GetSoundChunk(chunk, size);
}
int Commit(SoundDevice* d, uint32_t n) {
    return d->CommitSoundChunk(n);
}
void Volume(SoundDevice* d, uint32_t volume) {
    d->SetSoundVolume(volume);
}
void Pan(SoundDevice* d, uint32_t pan) {
    d->SetSoundPan(pan);
}
int Pause(SoundDevice* d, int pause) {
    return d->PauseSound(pause);
}
int On(SoundDevice* d, int on) {
    return d->SetSoundOn(on);
}
void Close(SoundDevice* d) {
    d->CloseSound();
    delete d;
}
void Outputs(SoundDevice* d, const uint32_t* outputs, uint32_t count) {
    d->SetSoundOutputs(outputs, count);
}
void OutputVolumes(SoundDevice* d, const uint32_t* outputs, const uint32_t* volumes,
                   uint32_t count) {
    d->SetSoundOutputVolumes(outputs, volumes, count);
}
uint32_t TakeRanDry(SoundDevice* d) {
    return d->ran_dry.exchange(0, std::memory_order_acq_rel);
}
uint32_t Pull(SoundDevice* d, SoundRing* ring, uint32_t ring_bytes) {
    return d->PullFromRing(ring, ring_bytes);
}
void Flush(SoundDevice* d) {
    d->FlushSound();
}

}  // namespace

SoundBackEnd MakeSoundBackEnd(const char* name, uint32_t caps, SoundDeviceOpener open) {
    const bool outputs = (caps & kSoundCapOutputs) != 0;
    const bool pulls = (caps & kSoundCapPulls) != 0;
    return SoundBackEnd{name,
                        caps,
                        open,
                        Ready,
                        GetChunk,
                        Commit,
                        Volume,
                        Pan,
                        Pause,
                        On,
                        Close,
                        outputs ? Outputs : nullptr,
                        outputs ? OutputVolumes : nullptr,
                        TakeRanDry,
                        pulls ? Pull : nullptr,
                        Flush};
}

SoundDevice* HandOver(std::unique_ptr<SoundDevice> device, SoundDeviceInfo* info) {
    if (device == nullptr) return nullptr;
    if (info != nullptr) *info = device->info;
    return device.release();
}

}  // namespace sound

// ------------------------------------------------------------- a played track

bool OpenSoundTrackDevice(SoundTrack* track, const SoundBackEnd* back_end, uint32_t rate,
                          uint32_t bits, uint32_t channels, uint32_t open_flags,
                          const SoundMovieInfo& movie) {
    if (track->device != nullptr || back_end == nullptr || back_end->open == nullptr) return false;
    SoundDeviceInfo info;
    SoundDevice* device = back_end->open(rate, bits, channels, open_flags, movie, &info);
    if (device == nullptr) return false;
    g_open_drivers.fetch_add(1, std::memory_order_acq_rel);
    track->back_end = back_end;
    track->device = device;
    track->device_info = info;
    track->eight_bit_output = bits == 8 ? 1 : 0;
    track->alignment_mask = info.alignment_mask ? info.alignment_mask : 0xFFFFFFFFu;
    track->clock_ratio = info.clock_ratio ? info.clock_ratio : 0x10000;
    return true;
}

void CloseSoundTrackDevice(SoundTrack* track) {
    if (track->device != nullptr) {
        track->back_end->close(track->device);
        track->device = nullptr;
        g_open_drivers.fetch_sub(1, std::memory_order_acq_rel);
    }
    track->ring.Free();
}

uint32_t OpenSoundDriverCount() {
    return g_open_drivers.load(std::memory_order_acquire);
}

uint32_t TotalSoundBytes(const SoundMovieInfo& movie, uint32_t rate, uint32_t bits,
                         uint32_t channels) {
    const uint64_t per_second = static_cast<uint64_t>(rate) * (bits / 8) * channels;
    if (movie.rate_numerator == 0 || movie.rate_denominator == 0)
        return static_cast<uint32_t>(std::min<uint64_t>(per_second, 0xFFFFFFFFu));
    if (per_second == 0) return 0;
    // frames x denominator x per_second / numerator, exact and capped, split
    // so that no product leaves 64 bits.
    const uint64_t numerator = movie.rate_numerator;
    const uint64_t frame_time = static_cast<uint64_t>(movie.frames) * movie.rate_denominator;
    const uint64_t whole = frame_time / numerator;
    const uint64_t rest = frame_time % numerator;  // < 2^32
    if (whole > 0xFFFFFFFFu / per_second) return 0xFFFFFFFFu;
    const uint64_t part =
        rest * (per_second / numerator) + rest * (per_second % numerator) / numerator;
    return static_cast<uint32_t>(std::min<uint64_t>(whole * per_second + part, 0xFFFFFFFFu));
}

// ------------------------------------------------------------- sound service

int32_t EndOfSoundFrame(uint32_t frames, uint32_t rate_numerator, uint32_t rate_denominator) {
    if (rate_denominator == 0) return static_cast<int32_t>(frames);
    const uint64_t tail = 3ull * rate_numerator / (4ull * rate_denominator);
    return static_cast<int32_t>(static_cast<int64_t>(frames) - static_cast<int64_t>(tail));
}

uint32_t SilencePrimeSize(uint32_t rate, uint32_t channels, uint32_t latency_ms,
                          uint32_t ring_size) {
    const uint32_t ms = latency_ms >= 750 ? 0 : 750 - latency_ms;
    const uint64_t bytes = static_cast<uint64_t>(rate) * 2 * channels * ms / 1000;
    const uint64_t capped = std::min<uint64_t>(bytes & ~uint64_t{3}, ring_size);
    return static_cast<uint32_t>(capped);
}

namespace {

// Hands the track's ring data to its device while the device is ready.
void FeedDevice(SoundTrack* track, int32_t current_frame) {
    const SoundBackEnd& back_end = *track->back_end;
    SoundDevice* device = track->device;
    if (!back_end.ready(device)) return;
    const bool eight = track->eight_bit_output != 0;
    const bool draining = current_frame > track->end_of_sound_frame;
    const uint32_t mask = eight ? track->alignment_mask << 1 : track->alignment_mask;
    const uint32_t chunk_bytes = track->device_info.chunk_bytes;
    // A pulling device is handed the ring bytes and plays them in place.
    const bool pulls = (back_end.caps & kSoundCapPulls) != 0 && back_end.pull != nullptr;
    for (;;) {
        const uint32_t filled = track->ring.filled();
        // Mid-movie only more than one chunk's worth goes out, so the
        // device is not fed in trickles.
        if (filled <= chunk_bytes && !(draining && filled > 0)) break;
        uint8_t* chunk = nullptr;
        uint32_t size = 0;
        if (!back_end.get_chunk(device, &chunk, &size) || size == 0) break;
        if (chunk == nullptr && !pulls) break;
        uint64_t c = eight ? static_cast<uint64_t>(size) * 2 : size;
        c = std::min<uint64_t>(c, filled);
        uint32_t take = static_cast<uint32_t>(c);
        if (!draining) take &= mask;
        if (eight) take &= ~1u;
        if (pulls) {
            take = back_end.pull(device, &track->ring, take);
        } else if (eight) {
            take = track->ring.TakeAs8Bit(chunk, take);
            back_end.commit(device, take / 2);
        } else {
            take = track->ring.Take(chunk, take);
            back_end.commit(device, take);
        }
        // A chunk that took nothing would be handed out again at once.
        if (take == 0 || !back_end.ready(device)) break;
    }
}

}  // namespace

void ServiceSoundTracks(SoundTrack* const* tracks, size_t count, int32_t current_frame) {
    for (size_t i = 0; i < count; ++i) {
        SoundTrack* track = tracks[i];
        if (track == nullptr || track->device == nullptr) continue;
        FeedDevice(track, current_frame);
        // On the last frame an empty ring means the track's sound is all
        // with the device: a tail shorter than the start threshold (or a
        // whole track shorter than it) must still be played.
        const bool ended = track->last_frame > 0 && current_frame >= track->last_frame;
        if (ended && track->ring.filled() == 0 && track->back_end->flush != nullptr)
            track->back_end->flush(track->device);
    }
}

bool ServiceSound(platform::Mutex* sound_lock, SoundTrack* const* tracks, size_t count,
                  int32_t current_frame) {
    if (count == 0 || tracks[count - 1] == nullptr || tracks[count - 1]->device == nullptr)
        return false;
    if (sound_lock != nullptr && !platform::TryLockMutex(sound_lock)) return false;
    ServiceSoundTracks(tracks, count, current_frame);
    if (sound_lock != nullptr) platform::UnlockMutex(sound_lock);
    return true;
}

}  // namespace vemo
