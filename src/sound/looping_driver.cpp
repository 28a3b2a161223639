#include "looping_driver.h"

#include <algorithm>
#include <cstring>

#include "vemo/timer.h"

namespace vemo::sound {

namespace {

// The start waits at most this long for a device whose play cursor does not
// come back to the loop start (a stuck device must not hang the caller).
constexpr uint32_t kStartWaitLimit = 250;
constexpr uint32_t kStartReplayAfter = 50;
// Cursor readings that disagree are retried this many times at most.
constexpr int kCursorAttempts = 64;

}  // namespace

LoopingDriver::~LoopingDriver() = default;

void LoopingDriver::Setup(uint32_t rate, uint32_t bits_per_sample, uint32_t channel_count,
                          const SoundMovieInfo& movie) {
    info.rate = rate;
    info.bits = bits_per_sample;
    info.channels = channel_count;
    sizes_ = ComputeLoopingSizes(rate, bits_per_sample, channel_count, movie);
    ran_dry = 0;
    info.output_latency = 0;
    info.chunk_bytes = sizes_.core_chunk_bytes;
    volume_ = 32767;
    pan_ = 32767;
}

void LoopingDriver::Arm() {
    Apply();
    FillSilence(0, sizes_.buffer_size);
    write_position_ = 0;
    playing_ = false;
    stopped_ = false;
    bytes_to_write_ = sizes_.start_threshold;
    flushing_ = false;
    on = 1;
    armed_ = true;
}

void LoopingDriver::CloseOnce() {
    if (closed_) return;
    closed_ = true;
    if (armed_) {
        DeviceStop();
        stopped_ = true;
    }
    DeviceRelease();
    armed_ = false;
    on = 0;
}

void LoopingDriver::CloseSound() {
    CloseOnce();
}

void LoopingDriver::Apply() {
    DeviceApply(info.rate, PanToHundredthsDb(pan_), VolumeToHundredthsDb(volume_));
}

void LoopingDriver::SetSoundVolume(uint32_t volume) {
    volume_ = std::min<uint32_t>(volume, 32767);
    if (armed_) Apply();
}

void LoopingDriver::SetSoundPan(uint32_t pan) {
    pan_ = std::min<uint32_t>(pan, 65536);
    if (armed_) Apply();
}

void LoopingDriver::SetSoundOutputs(const uint32_t* outputs, uint32_t count) {
    output_count_ = outputs == nullptr ? 0 : std::min<uint32_t>(count, 8);
    for (uint32_t i = 0; i < output_count_; ++i) outputs_[i] = outputs[i];
    if (armed_) Apply();
}

void LoopingDriver::SetSoundOutputVolumes(const uint32_t* outputs, const uint32_t* volumes,
                                          uint32_t count) {
    output_volume_count_ =
        outputs == nullptr || volumes == nullptr ? 0 : std::min<uint32_t>(count, 8);
    for (uint32_t i = 0; i < output_volume_count_; ++i) {
        volume_outputs_[i] = outputs[i];
        output_volumes_[i] = VolumeToHundredthsDb(volumes[i]);
    }
    if (armed_) Apply();
}

void LoopingDriver::ReadCursors(uint32_t* play, uint32_t* write) {
    const uint32_t b = sizes_.buffer_size;
    uint32_t p1 = 0, w1 = 0, p3 = 0, w3 = 0;
    for (int attempt = 0; attempt < kCursorAttempts; ++attempt) {
        DeviceCursors(&p1, &w1);
        DeviceCursors(&p3, &w3);
        DeviceCursors(&p3, &w3);
        // Both cursors of the third reading must lie less than 1024 bytes
        // after the first reading's (measured around the loop).
        if ((p3 + b - p1) % b < 1024 && (w3 + b - w1) % b < 1024) break;
    }
    *play = p3;
    *write = w3;
}

void LoopingDriver::FillSilence(uint32_t offset, uint32_t bytes) {
    if (pulls_) return;
    uint8_t *first = nullptr, *second = nullptr;
    uint32_t first_bytes = 0, second_bytes = 0;
    if (!DeviceLock(offset, bytes, &first, &first_bytes, &second, &second_bytes)) return;
    const int value = info.bits == 8 ? 0x80 : 0;
    if (first != nullptr) std::memset(first, value, first_bytes);
    if (second != nullptr) std::memset(second, value, second_bytes);
    DeviceUnlock(first, first_bytes, second, second_bytes);
}

void LoopingDriver::StartPlayback() {
    playing_ = true;
    DevicePlay();
    stopped_ = false;
    uint32_t started_at = Milliseconds();
    const uint32_t first_try = started_at;
    uint32_t play = 0, write = 0;
    ReadCursors(&play, &write);
    uint32_t noted = play;
    // A device restarted from a stop may still report its old position for
    // a moment: wait for its play cursor to come back to the loop start.
    while (play > sizes_.chunk_size && Milliseconds() - first_try < kStartWaitLimit) {
        ReadCursors(&play, &write);
        if (play != noted) {
            noted = play;
            continue;
        }
        if (Milliseconds() - started_at > kStartReplayAfter) {
            DevicePlay();
            started_at = Milliseconds();
            ReadCursors(&noted, &write);
            play = noted;
        }
    }
    last_play_cursor_ = play;
    last_write_cursor_ = write;
    last_reading_time_ = Milliseconds();
}

int LoopingDriver::SoundReady() {
    if (!armed_ || stopped_ || on == 0) return 0;
    if (!playing_) return 1;  // before the start every chunk up to the threshold
    const uint32_t b = sizes_.buffer_size;
    bool dry = false;
    const uint32_t now = Milliseconds();
    if (now - last_reading_time_ > kCursorReadingInterval) {
        uint32_t play = 0, write = 0;
        ReadCursors(&play, &write);
        const uint32_t play_moved = (play + b - last_play_cursor_) % b;
        const uint32_t write_moved = (write + b - last_write_cursor_) % b;
        const uint32_t difference =
            play_moved > write_moved ? play_moved - write_moved : write_moved - play_moved;
        if (difference > b / 2) return 0;  // an implausible reading is not kept
        const uint32_t previous = last_reading_time_;
        last_play_cursor_ = play;
        last_write_cursor_ = write;
        last_reading_time_ = now;
        if (now - previous >= kStallLimit && !flushing_) dry = true;
    }
    for (int pass = 0; pass < 2; ++pass) {
        if (!dry) {
            const uint32_t writable = (last_play_cursor_ + b - write_position_) % b;
            const uint32_t usable = writable < kWriteGap ? 0 : (writable - kWriteGap) & ~3u;
            if (usable < sizes_.chunk_size && (bytes_to_write_ == 0 || usable == 0)) return 0;
            // Flushed, the cursor nearing the data's end is no sign of a
            // device gone dry (and its tail must not be silenced).
            if (usable < sizes_.ninety_percent || pass == 1 || flushing_) {
                bytes_to_write_ = usable;
                return usable != 0 ? 1 : 0;
            }
        }
        // Running dry: the device has played (nearly) everything. Put two
        // chunks of silence at its write cursor and continue after them.
        ran_dry.store(1, std::memory_order_release);
        FillSilence(last_write_cursor_, 2 * sizes_.chunk_size);
        write_position_ = (last_write_cursor_ + 2 * sizes_.chunk_size) % b;
        dry = false;
    }
    return 0;
}

int LoopingDriver::GetSoundChunk(uint8_t** chunk, uint32_t* size) {
    if (!armed_ || bytes_to_write_ == 0) return 0;
    if (pulls_) {
        // The same size a locked loop region would have, up to the loop end.
        const uint32_t b = sizes_.buffer_size;
        pull_size_ = std::min(std::min(bytes_to_write_, b), b - write_position_);
        *chunk = nullptr;
        *size = pull_size_;
        return pull_size_ != 0 ? 1 : 0;
    }
    first_region_ = nullptr;
    first_bytes_ = 0;
    second_region_ = nullptr;
    second_bytes_ = 0;
    if (!DeviceLock(write_position_, bytes_to_write_, &first_region_, &first_bytes_,
                    &second_region_, &second_bytes_)) {
        first_region_ = nullptr;
        return 0;
    }
    // The wrapped second region is not handed out.
    *chunk = first_region_;
    *size = first_bytes_;
    return first_region_ != nullptr && first_bytes_ != 0 ? 1 : 0;
}

int LoopingDriver::CommitSoundChunk(uint32_t n) {
    if (first_region_ == nullptr) return 1;
    n = std::min(n, first_bytes_);
    DeviceUnlock(first_region_, first_bytes_, second_region_, second_bytes_);
    first_region_ = nullptr;
    Written(n);
    return 1;
}

uint32_t LoopingDriver::PullFromRing(SoundRing* ring, uint32_t ring_bytes) {
    if (!pulls_ || pull_size_ == 0 || ring == nullptr) return 0;
    const bool eight = info.bits == 8;
    const uint32_t n = std::min(eight ? ring_bytes / 2 : ring_bytes, pull_size_);
    pull_size_ = 0;
    const uint32_t taken = DevicePull(ring, write_position_, n);
    Written(taken);
    return eight ? taken * 2 : taken;
}

void LoopingDriver::FlushSound() {
    if (!armed_ || stopped_ || on == 0) return;
    if (!playing_) {
        // A track shorter than the start threshold starts with all it has.
        if (bytes_to_write_ >= sizes_.start_threshold) return;
        bytes_to_write_ = 0;
        StartPlayback();
    }
    const uint32_t b = sizes_.buffer_size;
    uint32_t play = 0, write = 0;
    ReadCursors(&play, &write);
    if (!flushing_) {
        flushing_ = true;
        silenced_to_ = write_position_;
        unplayed_ = (write_position_ + b - play) % b;
        flush_cursor_ = play;
    }
    const uint32_t moved = (play + b - flush_cursor_) % b;
    flush_cursor_ = play;
    if (unplayed_ != 0 && moved >= unplayed_) ran_dry.store(1, std::memory_order_release);
    unplayed_ -= std::min(moved, unplayed_);
    // Everything behind the play cursor back to where the last flush ended
    // (the first time: to the end of the data) has been played: silence it.
    // The unplayed data lies ahead of the cursor and stays untouched.
    const uint32_t played = (play + b - silenced_to_) % b;
    if (played != 0) FillSilence(silenced_to_, played);
    silenced_to_ = play;
}

void LoopingDriver::Written(uint32_t n) {
    if (n != 0) flushing_ = false;
    write_position_ += n;
    if (write_position_ >= sizes_.buffer_size) write_position_ -= sizes_.buffer_size;
    bytes_to_write_ -= std::min(n, bytes_to_write_);
    if (!playing_ && bytes_to_write_ == 0 && !stopped_) StartPlayback();
}

int LoopingDriver::PauseSound(int pause) {
    if (!armed_) return pause != 0 ? 1 : 0;
    if (pause != 0) {
        if (playing_) DeviceStop();
        stopped_ = true;
        return 1;
    }
    if (playing_) {
        DevicePlay();
        // The time spent paused is no stall of the device.
        last_reading_time_ = Milliseconds();
    } else if (bytes_to_write_ == 0) {
        StartPlayback();
    }
    stopped_ = false;
    return 0;
}

int LoopingDriver::SetSoundOn(int on_flag) {
    if (!armed_) return 0;
    if (on_flag != 0) {
        if (on == 0) {
            playing_ = false;
            on = 1;
            write_position_ = 0;
            bytes_to_write_ = sizes_.start_threshold;
            flushing_ = false;
        }
    } else if (on != 0) {
        if (DeviceStop()) {
            const uint32_t since = Milliseconds();
            while (DeviceIsPlaying() && Milliseconds() - since < kStartWaitLimit) {
            }
        }
        DeviceSetPosition(0);
        FillSilence(0, sizes_.buffer_size);
        on = 0;
    }
    return static_cast<int>(on);
}

}  // namespace vemo::sound
