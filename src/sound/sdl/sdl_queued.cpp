// The queued back end on SDL2: buffers are queued on an SDL device without a
// callback; a buffer is done once the device has consumed the bytes queued
// up to its end.
#include <deque>
#include <vector>

#include "queued_driver.h"
#include "sdl_audio.h"
#include "sound_sdl.h"

namespace vemo {

namespace {

class SdlQueue : public sound::QueuedDriver {
  public:
    ~SdlQueue() override { CloseOnce(); }

    bool Open(uint32_t rate, uint32_t bits_per_sample, uint32_t channel_count,
              const SoundMovieInfo& movie) {
        return Start(rate, bits_per_sample, channel_count, movie);
    }

  protected:
    bool DeviceOpen() override {
        if (!sound::sdl::StartAudio()) return false;
        device_ = sound::sdl::OpenOutput(nullptr, info.rate, info.bits, info.channels, nullptr,
                                         nullptr, nullptr);
        if (device_ == 0) {
            sound::sdl::StopAudio();
            return false;
        }
        written_ = 0;
        pending_.clear();
        // Like a wave device, it plays whatever is queued as soon as it is.
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }
    void DeviceClose() override {
        if (device_ == 0) return;
        SDL_ClearQueuedAudio(device_);
        SDL_CloseAudioDevice(device_);
        device_ = 0;
        pending_.clear();
        sound::sdl::StopAudio();
    }
    void DeviceWrite(int index, const uint8_t* data, uint32_t length) override {
        if (device_ == 0 || length == 0) return;
        const uint8_t* out = data;
        if (left_ != 32767 || right_ != 32767) {
            scaled_.assign(data, data + length);
            Scale(scaled_.data(), length);
            out = scaled_.data();
        }
        if (SDL_QueueAudio(device_, out, length) != 0) return;  // stays "playing" until dry
        written_ += length;
        pending_.push_back({index, written_});
    }
    void DeviceCollectDone(bool* done) override {
        if (device_ == 0) return;
        const uint64_t consumed = written_ - SDL_GetQueuedAudioSize(device_);
        while (!pending_.empty() && pending_.front().end <= consumed) {
            done[pending_.front().index] = true;
            pending_.pop_front();
        }
        // A failed write never comes back: count it as played.
        for (int i = 0; i < sound::kQueuedBuffers; ++i) {
            bool waiting = false;
            for (const Pending& p : pending_) waiting = waiting || p.index == i;
            if (!waiting) done[i] = true;
        }
    }
    void DevicePause() override {
        if (device_ != 0) SDL_PauseAudioDevice(device_, 1);
    }
    void DeviceRestart() override {
        if (device_ != 0) SDL_PauseAudioDevice(device_, 0);
    }
    void DeviceSetVolume(uint32_t left, uint32_t right) override {
        left_ = left;
        right_ = right;
    }

  private:
    struct Pending {
        int index;
        uint64_t end;  // bytes written up to the end of this buffer
    };

    // Levels 0-32767 scale the samples (32767 leaves them unchanged).
    void Scale(uint8_t* bytes, uint32_t length) const {
        const double left = left_ / 32767.0, right = right_ / 32767.0;
        if (info.bits == 16) {
            for (uint32_t i = 0; i + 1 < length; i += 2) {
                const bool is_left = info.channels == 1 || (i / 2) % 2 == 0;
                const int16_t s = static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8));
                const int v = static_cast<int>(s * (is_left ? left : right));
                bytes[i] = static_cast<uint8_t>(v & 0xFF);
                bytes[i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
        } else {
            for (uint32_t i = 0; i < length; ++i) {
                const bool is_left = info.channels == 1 || i % 2 == 0;
                const int v = static_cast<int>((bytes[i] - 128) * (is_left ? left : right));
                bytes[i] = static_cast<uint8_t>(v + 128);
            }
        }
    }

    SDL_AudioDeviceID device_ = 0;
    uint64_t written_ = 0;
    std::deque<Pending> pending_;
    std::vector<uint8_t> scaled_;
    uint32_t left_ = 32767, right_ = 32767;
};

SoundDevice* OpenQueuedSound(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                             const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    auto driver = std::make_unique<SdlQueue>();
    if (!driver->Open(rate, bits, channels, movie)) return nullptr;
    return sound::HandOver(std::move(driver), info);
}

const SoundBackEnd kQueuedBackEnd = sound::MakeSoundBackEnd("sdl-queued", 0, OpenQueuedSound);

}  // namespace

const SoundBackEnd* GetQueuedSoundOpener(void*) {
    if (!sound::sdl::StartAudio()) return nullptr;
    sound::sdl::StopAudio();
    return &kQueuedBackEnd;
}

}  // namespace vemo
