#include "queued_driver.h"

#include <algorithm>
#include <cstring>

#include "vemo/memory.h"

namespace vemo::sound {

QueuedDriver::~QueuedDriver() {
    FreeLibraryMemory(memory_);
}

bool QueuedDriver::Start(uint32_t rate, uint32_t bits_per_sample, uint32_t channel_count,
                         const SoundMovieInfo& movie) {
    info.rate = rate;
    info.bits = bits_per_sample;
    info.channels = channel_count;
    sizes_ = ComputeQueuedSizes(rate, bits_per_sample, channel_count, movie);
    volume_ = 32767;
    pan_ = 32767;
    paused_ = false;
    on = 1;
    if (sizes_.buffer_size == 0 || !OpenDevice()) {
        on = 0;
        return false;
    }
    info.chunk_bytes = sizes_.core_chunk_bytes;
    info.output_latency = 0;
    return true;
}

bool QueuedDriver::OpenDevice() {
    fill_index_ = last_index_ = -1;
    started_ = false;
    queued_bytes_ = 0;
    memory_ = static_cast<uint8_t*>(
        AllocateLibraryMemory(static_cast<size_t>(sizes_.buffer_size) * kQueuedBuffers));
    if (memory_ == nullptr) return false;
    std::memset(memory_, info.bits == 16 ? 0 : 0x80,
                static_cast<size_t>(sizes_.buffer_size) * kQueuedBuffers);
    if (!DeviceOpen()) {
        FreeLibraryMemory(memory_);
        memory_ = nullptr;
        return false;
    }
    for (int i = 0; i < kQueuedBuffers; ++i) {
        done_[i] = true;
        lengths_[i] = sizes_.buffer_size;
    }
    open_ = true;
    ApplyVolume();
    if (paused_) DevicePause();
    return true;
}

void QueuedDriver::CloseDevice() {
    if (!open_) return;
    DeviceClose();
    for (bool& d : done_) d = true;
    open_ = false;
    FreeLibraryMemory(memory_);
    memory_ = nullptr;
    fill_index_ = last_index_ = -1;
    started_ = false;
    queued_bytes_ = 0;
}

void QueuedDriver::CloseOnce() {
    if (closed_) return;
    closed_ = true;
    CloseDevice();
    on = 0;
}

void QueuedDriver::CloseSound() {
    CloseOnce();
}

void QueuedDriver::ApplyVolume() {
    if (!open_) return;
    uint32_t left = 0, right = 0;
    QueuedChannelLevels(volume_, pan_, &left, &right);
    DeviceSetVolume(left, right);
}

void QueuedDriver::Queue(int index, uint32_t length) {
    done_[index] = false;
    DeviceWrite(index, buffer(index), length);
}

int QueuedDriver::SoundReady() {
    if (paused_ || on == 0 || !open_) return 0;
    DeviceCollectDone(done_);
    if (started_ && std::all_of(std::begin(done_), std::end(done_), [](bool d) { return d; })) {
        // Everything queued has been played.
        ran_dry.store(1, std::memory_order_release);
        started_ = false;
        queued_bytes_ = 0;
        fill_index_ = last_index_ = -1;
    }
    int index = (last_index_ + 1) % kQueuedBuffers;
    if (!done_[index]) {
        index = -1;
        for (int i = 0; i < kQueuedBuffers && index < 0; ++i)
            if (done_[i]) index = i;
        if (index < 0) return 0;
    }
    fill_index_ = index;
    return 1;
}

int QueuedDriver::GetSoundChunk(uint8_t** chunk, uint32_t* size) {
    if (fill_index_ < 0 || !open_) return 0;
    *chunk = memory_ + fill_index_ * sizes_.buffer_size;
    *size = sizes_.buffer_size;
    return 1;
}

int QueuedDriver::CommitSoundChunk(uint32_t n) {
    if (fill_index_ < 0 || !open_) return 0;
    n = std::min(n, sizes_.buffer_size);
    last_index_ = fill_index_;
    fill_index_ = -1;
    queued_bytes_ += n;
    lengths_[last_index_] = n;
    if (started_) {
        Queue(last_index_, n);
    } else if (queued_bytes_ >= sizes_.start_threshold) {
        QueueCommitted();
    }
    return 1;
}

void QueuedDriver::QueueCommitted() {
    started_ = true;
    // Before the start the buffers were filled in order from 0. Each is
    // sent with the length it was committed with, so a short last one
    // carries no stale bytes.
    for (int i = 0; i <= last_index_; ++i) Queue(i, lengths_[i]);
}

void QueuedDriver::FlushSound() {
    if (!open_ || on == 0 || started_ || queued_bytes_ == 0 || last_index_ < 0) return;
    QueueCommitted();
}

void QueuedDriver::SetSoundVolume(uint32_t volume) {
    volume_ = QueuedVolume(volume);
    ApplyVolume();
}

void QueuedDriver::SetSoundPan(uint32_t pan) {
    pan_ = std::min<uint32_t>(pan, 65536);
    ApplyVolume();
}

int QueuedDriver::PauseSound(int pause) {
    if (pause != 0) {
        if (open_) DevicePause();
        paused_ = true;
    } else {
        if (open_) DeviceRestart();
        paused_ = false;
    }
    return paused_ ? 1 : 0;
}

int QueuedDriver::SetSoundOn(int on_flag) {
    if (closed_) return 0;
    if (on_flag == 1) {
        if (on == 0 && OpenDevice()) on = 1;
    } else if (on_flag == 0) {
        if (on != 0) {
            CloseDevice();
            on = 0;
        }
    }
    return static_cast<int>(on);
}

}  // namespace vemo::sound
