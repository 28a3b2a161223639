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

bool SoundRing::Allocate(uint32_t size) {
    Free();
    if (size == 0) return false;
    start_ = static_cast<uint8_t*>(AllocateLibraryMemory(size));
    if (start_ == nullptr) return false;
    size_ = size;
    Empty();
    return true;
}

void SoundRing::Free() {
    FreeLibraryMemory(start_);
    start_ = nullptr;
    size_ = 0;
    Empty();
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
        read_ += drop;
        if (read_ >= size_) read_ -= size_;
        filled_.fetch_sub(drop, std::memory_order_acq_rel);
        dropped += drop;
    }
    filled_.fetch_add(count, std::memory_order_acq_rel);
    const uint32_t first = std::min(count, size_ - write_);
    std::memcpy(start_ + write_, source, first);
    std::memcpy(start_, source + first, count - first);
    write_ += count;
    if (write_ >= size_) write_ -= size_;
    return dropped;
}

uint32_t SoundRing::Take(void* destination, uint32_t count) {
    count = std::min(count, filled());
    if (count == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    filled_.fetch_sub(count, std::memory_order_acq_rel);
    const uint32_t first = std::min(count, size_ - read_);
    std::memcpy(out, start_ + read_, first);
    std::memcpy(out + first, start_, count - first);
    read_ += count;
    if (read_ >= size_) read_ -= size_;
    return count;
}

uint32_t SoundRing::TakeAs8Bit(uint8_t* destination, uint32_t count) {
    count = std::min(count, filled()) & ~1u;
    if (count == 0) return 0;
    filled_.fetch_sub(count, std::memory_order_acq_rel);
    uint32_t done = 0;
    while (done < count) {
        // read_ stays even (every append and take moves it by even amounts
        // for 16-bit data), so a sample never straddles the ring end; still,
        // pick bytes one at a time near the end to be safe.
        const uint32_t run = std::min(count - done, size_ - read_) & ~1u;
        if (run == 0) {
            const uint8_t high = start_[0];
            destination[done / 2] = static_cast<uint8_t>(high + 128);
            read_ = 1;
            done += 2;
            continue;
        }
        ConvertSamplesTo8Bit(destination + done / 2, start_ + read_, run / 2);
        done += run;
        read_ += run;
        if (read_ >= size_) read_ -= size_;
    }
    return count;
}

void SoundRing::Empty() {
    write_ = 0;
    read_ = 0;
    filled_.store(0, std::memory_order_release);
}

void SoundRing::PrimeWithSilence(uint32_t bytes) {
    bytes = std::min(bytes, size_) & ~1u;
    const uint32_t held = filled();
    if (held >= bytes) return;
    uint32_t missing = bytes - held;
    filled_.fetch_add(missing, std::memory_order_acq_rel);
    while (missing > 0) {
        if (read_ == 0) read_ = size_;
        const uint32_t run = std::min(missing, read_);
        read_ -= run;
        std::memset(start_ + read_, 0, run);
        missing -= run;
    }
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

}  // namespace

SoundBackEnd MakeSoundBackEnd(const char* name, uint32_t caps, SoundDeviceOpener open) {
    const bool outputs = (caps & kSoundCapOutputs) != 0;
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
                        TakeRanDry};
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

void ServiceSoundTracks(SoundTrack* const* tracks, size_t count, int32_t current_frame) {
    for (size_t i = 0; i < count; ++i) {
        SoundTrack* track = tracks[i];
        if (track == nullptr || track->device == nullptr) continue;
        const SoundBackEnd& back_end = *track->back_end;
        SoundDevice* device = track->device;
        if (!back_end.ready(device)) continue;
        const bool eight = track->eight_bit_output != 0;
        const bool draining = current_frame > track->end_of_sound_frame;
        const uint32_t mask = eight ? track->alignment_mask << 1 : track->alignment_mask;
        const uint32_t chunk_bytes = track->device_info.chunk_bytes;
        for (;;) {
            const uint32_t filled = track->ring.filled();
            // Mid-movie only more than one chunk's worth goes out, so the
            // device is not fed in trickles.
            if (filled <= chunk_bytes && !(draining && filled > 0)) break;
            uint8_t* chunk = nullptr;
            uint32_t size = 0;
            if (!back_end.get_chunk(device, &chunk, &size) || chunk == nullptr || size == 0) break;
            uint64_t c = eight ? static_cast<uint64_t>(size) * 2 : size;
            c = std::min<uint64_t>(c, filled);
            uint32_t take = static_cast<uint32_t>(c);
            if (!draining) take &= mask;
            if (eight) take &= ~1u;
            if (eight) {
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
