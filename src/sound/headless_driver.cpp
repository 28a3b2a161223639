#include "headless_driver.h"

#include <algorithm>

#include "vemo/timer.h"

namespace vemo::sound {

HeadlessDriver::HeadlessDriver(uint32_t rate, uint32_t bits, uint32_t channels,
                               const SoundMovieInfo& movie)
    : sizes_(ComputeLoopingSizes(rate, bits, channels, movie)),
      block_align_(std::max<uint32_t>(1, bits / 8 * channels)) {
    info.rate = rate;
    info.bits = bits;
    info.channels = channels;
    info.chunk_bytes = sizes_.core_chunk_bytes;
    queue_.resize(sizes_.buffer_size);
    // Before the start the device takes the rest of its threshold at once.
    if (sizes_.start_threshold == 0) sizes_.start_threshold = sizes_.chunk_size;
    chunk_.resize(sizes_.buffer_size);
    on = 1;
}

HeadlessDriver::~HeadlessDriver() {
    // A derived class has already closed (its own hooks are gone by now).
    closed_ = true;
}

void HeadlessDriver::OnPlayed(const uint8_t*, uint32_t) {}

void HeadlessDriver::PlayOut(uint32_t count) {
    count = std::min(count, queued_);
    while (count > 0) {
        const uint32_t run = std::min<uint32_t>(count, sizes_.buffer_size - head_);
        OnPlayed(queue_.data() + head_, run);
        head_ += run;
        if (head_ == sizes_.buffer_size) head_ = 0;
        queued_ -= run;
        count -= run;
        played_total_ += run;
        played_since_start_ += run;
    }
}

void HeadlessDriver::Advance() {
    if (!started_ || paused_ || on == 0) return;
    const uint64_t ms = played_ms_before_ + (Milliseconds() - resumed_at_);
    uint64_t due = ms * sizes_.bytes_per_second / 1000;
    due -= due % block_align_;
    if (due <= played_since_start_) return;
    const uint64_t step = due - played_since_start_;
    if (step >= queued_) {
        // Everything given has been played: the device has run dry and
        // waits for a new start threshold.
        PlayOut(queued_);
        ran_dry.store(1, std::memory_order_release);
        Restart();
        return;
    }
    PlayOut(static_cast<uint32_t>(step));
}

void HeadlessDriver::Restart() {
    started_ = false;
    played_ms_before_ = 0;
    played_since_start_ = 0;
}

int HeadlessDriver::SoundReady() {
    if (closed_ || paused_ || on == 0) return 0;
    Advance();
    return ChunkSize() != 0 ? 1 : 0;
}

uint32_t HeadlessDriver::ChunkSize() const {
    if (!started_) return sizes_.start_threshold - std::min(queued_, sizes_.start_threshold);
    return sizes_.buffer_size - queued_ >= sizes_.chunk_size ? sizes_.chunk_size : 0;
}

int HeadlessDriver::GetSoundChunk(uint8_t** chunk, uint32_t* size) {
    if (closed_ || on == 0) return 0;
    const uint32_t n = ChunkSize();
    if (n == 0) return 0;
    *chunk = chunk_.data();
    *size = n;
    chunk_size_out_ = n;
    return 1;
}

int HeadlessDriver::CommitSoundChunk(uint32_t n) {
    n = std::min({n, chunk_size_out_, sizes_.buffer_size - queued_});
    chunk_size_out_ = 0;
    uint32_t tail = head_ + queued_;
    if (tail >= sizes_.buffer_size) tail -= sizes_.buffer_size;
    const uint32_t first = std::min(n, sizes_.buffer_size - tail);
    std::copy(chunk_.begin(), chunk_.begin() + first, queue_.begin() + tail);
    std::copy(chunk_.begin() + first, chunk_.begin() + n, queue_.begin());
    queued_ += n;
    if (!started_ && queued_ >= sizes_.start_threshold) {
        started_ = true;
        played_ms_before_ = 0;
        played_since_start_ = 0;
        resumed_at_ = Milliseconds();
    }
    return 1;
}

int HeadlessDriver::PauseSound(int pause) {
    if (pause != 0) {
        if (!paused_) {
            Advance();
            if (started_) played_ms_before_ += Milliseconds() - resumed_at_;
            paused_ = true;
        }
        return 1;
    }
    if (paused_) {
        paused_ = false;
        resumed_at_ = Milliseconds();
    }
    return 0;
}

int HeadlessDriver::SetSoundOn(int on_flag) {
    if (closed_) return 0;
    if (on_flag != 0) {
        if (on == 0) {
            on = 1;
            Restart();
        }
    } else if (on != 0) {
        // Stopped and emptied: what was queued is never played.
        Advance();
        head_ = 0;
        queued_ = 0;
        chunk_size_out_ = 0;
        Restart();
        on = 0;
    }
    return static_cast<int>(on);
}

void HeadlessDriver::CloseSound() {
    if (closed_) return;
    Advance();
    // The device plays out what it holds before it is released.
    if (on != 0) PlayOut(queued_);
    closed_ = true;
    on = 0;
    started_ = false;
    OnClosed();
}

}  // namespace vemo::sound
