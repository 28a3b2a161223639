// The queued back end on the waveOut device.
#include <windows.h>
// After windows.h:
#include <mmsystem.h>

#include "queued_driver.h"
#include "sound_waveout.h"

namespace vemo {

namespace {

class WaveOutQueue : public sound::QueuedDriver {
  public:
    ~WaveOutQueue() override { CloseOnce(); }

    bool Open(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie) {
        return Start(rate, bits, channels, movie);
    }

  protected:
    bool DeviceOpen() override {
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = static_cast<WORD>(info.channels);
        format.nSamplesPerSec = info.rate;
        format.wBitsPerSample = static_cast<WORD>(info.bits);
        format.nBlockAlign = static_cast<WORD>(info.bits / 8 * info.channels);
        format.nAvgBytesPerSec = format.nBlockAlign * info.rate;
        format.cbSize = 0;
        if (waveOutOpen(&device_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            device_ = nullptr;
            return false;
        }
        // The play position starts again from 0 on a new device: so do the
        // headers' ends (old ones would keep every header from ever
        // counting as done, and the track silent after sound off and on).
        written_ = 0;
        for (uint32_t& end : ends_) end = 0;
        for (int i = 0; i < sound::kQueuedBuffers; ++i) {
            WAVEHDR& h = headers_[i];
            h = WAVEHDR{};
            h.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(buffer(i)));
            h.dwBufferLength = sizes().buffer_size;
            waveOutPrepareHeader(device_, &h, sizeof h);
            h.dwFlags |= WHDR_DONE;
        }
        return true;
    }
    void DeviceClose() override {
        if (device_ == nullptr) return;
        // Reset hands every queued header back (marked done).
        waveOutReset(device_);
        for (WAVEHDR& h : headers_) {
            h.dwBufferLength = sizes().buffer_size;
            waveOutUnprepareHeader(device_, &h, sizeof h);
            h.dwFlags |= WHDR_DONE;
        }
        waveOutClose(device_);
        device_ = nullptr;
        written_ = 0;
    }
    void DeviceWrite(int index, const uint8_t*, uint32_t length) override {
        if (device_ == nullptr || length == 0) return;
        WAVEHDR& h = headers_[index];
        h.dwBufferLength = length;
        h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
        if (waveOutWrite(device_, &h, sizeof h) != MMSYSERR_NOERROR) {
            h.dwFlags |= WHDR_DONE;
            return;
        }
        written_ += length;
        ends_[index] = written_;
    }
    // A header the device handed back may only have been copied into its
    // mixer: it counts as done once the play position has passed its end.
    void DeviceCollectDone(bool* done) override {
        MMTIME time = {};
        time.wType = TIME_BYTES;
        const bool timed = device_ != nullptr &&
                           waveOutGetPosition(device_, &time, sizeof time) == MMSYSERR_NOERROR &&
                           time.wType == TIME_BYTES;
        for (int i = 0; i < sound::kQueuedBuffers; ++i) {
            done[i] = (headers_[i].dwFlags & WHDR_DONE) != 0;
            if (done[i] && timed) done[i] = static_cast<int32_t>(time.u.cb - ends_[i]) >= 0;
        }
    }
    void DevicePause() override {
        if (device_ != nullptr) waveOutPause(device_);
    }
    void DeviceRestart() override {
        if (device_ != nullptr) waveOutRestart(device_);
    }
    void DeviceSetVolume(uint32_t left, uint32_t right) override {
        if (device_ != nullptr) waveOutSetVolume(device_, (left & 0xFFFF) | (right << 16));
    }

  private:
    HWAVEOUT device_ = nullptr;
    WAVEHDR headers_[sound::kQueuedBuffers] = {};
    uint32_t written_ = 0;                       // bytes handed to the device since it opened
    uint32_t ends_[sound::kQueuedBuffers] = {};  // written_ after each header's bytes
};

SoundDevice* OpenWaveOutSound(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                              const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    if (rate == 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return nullptr;
    auto driver = std::make_unique<WaveOutQueue>();
    if (!driver->Open(rate, bits, channels, movie)) return nullptr;
    return sound::HandOver(std::move(driver), info);
}

const SoundBackEnd kWaveOutBackEnd = sound::MakeSoundBackEnd("waveout", 0, OpenWaveOutSound);

}  // namespace

const SoundBackEnd* GetWaveOutOpener(void*) {
    return &kWaveOutBackEnd;
}

}  // namespace vemo
