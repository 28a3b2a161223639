// The looping-buffer back end on SDL2: the loop lives in memory and an SDL
// audio callback plays it at its play cursor, wrapping round, so that a loop
// nobody feeds replays old data as a hardware loop would. Volume and pan are
// mixed in the callback.
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "looping_driver.h"
#include "sdl_audio.h"
#include "sound_sdl.h"

namespace vemo {

namespace {

// Process-wide: the device asked for and the tracks open on it.
struct LoopingState {
    std::mutex mutex;
    bool recorded = false;
    bool caller_device = false;  // a caller named the device
    std::string device_name;
    int open_tracks = 0;
};

LoopingState& State() {
    static LoopingState state;
    return state;
}

class SdlLoop : public sound::LoopingDriver {
  public:
    ~SdlLoop() override { CloseOnce(); }

    bool Open(uint32_t rate, uint32_t bits_per_sample, uint32_t channel_count,
              const SoundMovieInfo& movie, const char* device_name) {
        Setup(rate, bits_per_sample, channel_count, movie);
        if (sizes().buffer_size == 0 || sizes().chunk_size == 0) return false;
        if (!sound::sdl::StartAudio()) return false;
        audio_started_ = true;
        loop_.assign(sizes().buffer_size, bits_per_sample == 8 ? 0x80 : 0);
        device_ = sound::sdl::OpenOutput(device_name, rate, bits_per_sample, channel_count,
                                         &SdlLoop::Callback, this, &callback_bytes_);
        if (device_ == 0) return false;
        Arm();
        return true;
    }

  protected:
    bool DeviceLock(uint32_t offset, uint32_t bytes, uint8_t** first, uint32_t* first_bytes,
                    uint8_t** second, uint32_t* second_bytes) override {
        const uint32_t b = static_cast<uint32_t>(loop_.size());
        if (b == 0 || offset >= b) return false;
        bytes = std::min(bytes, b);
        *first = loop_.data() + offset;
        *first_bytes = std::min(bytes, b - offset);
        *second_bytes = bytes - *first_bytes;
        *second = *second_bytes != 0 ? loop_.data() : nullptr;
        return true;
    }
    void DeviceUnlock(uint8_t*, uint32_t, uint8_t*, uint32_t) override {
        // Written bytes lie ahead of the play cursor; passing through the
        // device lock publishes them to the callback before it gets there.
        if (device_ == 0) return;
        SDL_LockAudioDevice(device_);
        SDL_UnlockAudioDevice(device_);
    }
    void DeviceCursors(uint32_t* play, uint32_t* write) override {
        SDL_LockAudioDevice(device_);
        const uint32_t p = play_;
        SDL_UnlockAudioDevice(device_);
        // The callback has already taken everything before the play
        // cursor; the next callback's block is as good as taken.
        *play = p;
        *write = (p + callback_bytes_) % static_cast<uint32_t>(loop_.size());
    }
    bool DevicePlay() override {
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }
    bool DeviceStop() override {
        SDL_PauseAudioDevice(device_, 1);
        return true;
    }
    bool DeviceIsPlaying() override {
        return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_PLAYING;
    }
    void DeviceSetPosition(uint32_t offset) override {
        SDL_LockAudioDevice(device_);
        play_ = offset;
        SDL_UnlockAudioDevice(device_);
    }
    void DeviceApply(uint32_t, int32_t pan_db, int32_t volume_db) override {
        // The rate is the one the device was opened with; frequency changes
        // are not offered.
        double left = 1, right = 1;
        sound::LoopingChannelGains(volume_db, pan_db, &left, &right);
        // A mono device has no sides: only the volume applies.
        if (info.channels == 1) left = right = LevelOnly(volume_db);
        SDL_LockAudioDevice(device_);
        left_ = left;
        right_ = right;
        SDL_UnlockAudioDevice(device_);
    }
    void DeviceRelease() override {
        if (device_ != 0) {
            SDL_CloseAudioDevice(device_);
            device_ = 0;
        }
        if (audio_started_) {
            sound::sdl::StopAudio();
            audio_started_ = false;
        }
        if (counted_) {
            LoopingState& state = State();
            std::lock_guard<std::mutex> guard(state.mutex);
            --state.open_tracks;
            counted_ = false;
        }
    }

  public:
    bool counted_ = false;

  private:
    static double LevelOnly(int32_t volume_db) {
        double left = 0, right = 0;
        sound::LoopingChannelGains(volume_db, 0, &left, &right);
        return left;
    }

    static void Callback(void* user, Uint8* stream, int length) {
        static_cast<SdlLoop*>(user)->Mix(stream, static_cast<uint32_t>(length));
    }

    // Runs on SDL's audio thread with the device locked.
    void Mix(uint8_t* out, uint32_t length) {
        const uint32_t b = static_cast<uint32_t>(loop_.size());
        uint32_t done = 0;
        while (done < length) {
            const uint32_t run = std::min(length - done, b - play_);
            std::memcpy(out + done, loop_.data() + play_, run);
            done += run;
            play_ += run;
            if (play_ >= b) play_ -= b;
        }
        if (left_ == 1.0 && right_ == 1.0) return;
        if (info.bits == 16) {
            for (uint32_t i = 0; i + 1 < length; i += 2) {
                const bool is_left = info.channels == 1 || (i / 2) % 2 == 0;
                const int16_t s = static_cast<int16_t>(out[i] | (out[i + 1] << 8));
                const int v = static_cast<int>(s * (is_left ? left_ : right_));
                out[i] = static_cast<uint8_t>(v & 0xFF);
                out[i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
        } else {
            for (uint32_t i = 0; i < length; ++i) {
                const bool is_left = info.channels == 1 || i % 2 == 0;
                const int v = static_cast<int>((out[i] - 128) * (is_left ? left_ : right_));
                out[i] = static_cast<uint8_t>(v + 128);
            }
        }
    }

    std::vector<uint8_t> loop_;
    SDL_AudioDeviceID device_ = 0;
    bool audio_started_ = false;
    uint32_t callback_bytes_ = 0;
    uint32_t play_ = 0;  // changed by the callback under the device lock
    double left_ = 1, right_ = 1;
};

SoundDevice* OpenLoopingSound(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                              const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    std::string name;
    bool named = false;
    {
        LoopingState& state = State();
        std::lock_guard<std::mutex> guard(state.mutex);
        named = state.caller_device;
        name = state.device_name;
    }
    auto driver = std::make_unique<SdlLoop>();
    if (!driver->Open(rate, bits, channels, movie, named ? name.c_str() : nullptr)) return nullptr;
    LoopingState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    ++state.open_tracks;
    driver->counted_ = true;
    return sound::HandOver(std::move(driver), info);
}

const SoundBackEnd kLoopingBackEnd =
    sound::MakeSoundBackEnd("sdl-looping", kSoundCapOutputs, OpenLoopingSound);

}  // namespace

const SoundBackEnd* GetLoopingSoundOpener(void* device) {
    const char* wanted = static_cast<const char*>(device);
    LoopingState& state = State();
    std::string name;
    bool named = false;
    {
        std::lock_guard<std::mutex> guard(state.mutex);
        const bool same = state.recorded && state.caller_device == (wanted != nullptr) &&
                          (wanted == nullptr || state.device_name == wanted);
        // Another device while a track plays on the recorded one: refused.
        if (state.recorded && !same && state.open_tracks > 0) return nullptr;
        state.recorded = true;
        state.caller_device = wanted != nullptr;
        state.device_name = wanted != nullptr ? wanted : "";
        named = state.caller_device;
        name = state.device_name;
    }
    // Probe: the subsystem starts and a device opens.
    if (!sound::sdl::StartAudio()) return nullptr;
    const SDL_AudioDeviceID probe = sound::sdl::OpenOutput(named ? name.c_str() : nullptr, 22050,
                                                           16, 1, nullptr, nullptr, nullptr);
    if (probe != 0) SDL_CloseAudioDevice(probe);
    sound::sdl::StopAudio();
    return probe != 0 ? &kLoopingBackEnd : nullptr;
}

}  // namespace vemo
