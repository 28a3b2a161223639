// The queued back end's rules, independent of the device: sixteen buffers of
// about 1/16 s filled in turn, queued all at once (in order from 0) when the
// start threshold is reached and one by one after that; the device running
// dry when all sixteen are done; volume and pan as left and right levels.
// A platform supplies the device calls (SDL here; a Windows device later).
#pragma once

#include <cstdint>

#include "sound_device.h"
#include "sound_rules.h"
#include "vemo/sound_driver.h"

namespace vemo::sound {

class QueuedDriver : public SoundDevice {
  public:
    ~QueuedDriver() override;

    int SoundReady() override;
    int GetSoundChunk(uint8_t** chunk, uint32_t* size) override;
    int CommitSoundChunk(uint32_t n) override;
    void SetSoundVolume(uint32_t volume) override;
    void SetSoundPan(uint32_t pan) override;
    int PauseSound(int pause) override;
    int SetSoundOn(int on) override;
    void CloseSound() override;
    // Before the start: queues what was committed although it is less than
    // the start threshold (the track has no more data).
    void FlushSound() override;

    const QueuedSizes& sizes() const { return sizes_; }
    bool started() const { return started_; }
    bool paused() const { return paused_; }
    int fill_index() const { return fill_index_; }
    int last_index() const { return last_index_; }
    uint32_t queued_bytes() const { return queued_bytes_; }
    uint32_t volume() const { return volume_; }
    uint32_t pan() const { return pan_; }
    bool device_open() const { return open_; }

  protected:
    QueuedDriver() = default;
    // Fills the shared fields and opens the device; false when it cannot be
    // opened (the opener then fails).
    bool Start(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie);
    // Closes the device once, from the derived destructor.
    void CloseOnce();

    // ----- device calls
    virtual bool DeviceOpen() = 0;
    // Stops playback, forgets everything queued, closes the device.
    virtual void DeviceClose() = 0;
    // Queues length bytes of buffer index for playing after those before.
    virtual void DeviceWrite(int index, const uint8_t* data, uint32_t length) = 0;
    // Sets done[i] for every queued buffer the device has finished playing.
    virtual void DeviceCollectDone(bool* done) = 0;
    virtual void DevicePause() = 0;
    virtual void DeviceRestart() = 0;
    // Levels 0-32767 of the left and right channel.
    virtual void DeviceSetVolume(uint32_t left, uint32_t right) = 0;

    const uint8_t* buffer(int index) const { return memory_ + index * sizes_.buffer_size; }

  private:
    bool OpenDevice();
    void CloseDevice();
    void Queue(int index, uint32_t length);
    void QueueCommitted();
    void ApplyVolume();

    QueuedSizes sizes_;
    bool closed_ = false;
    bool open_ = false;
    uint32_t volume_ = 32767;
    uint32_t pan_ = 32767;
    bool started_ = false;
    bool paused_ = false;
    int fill_index_ = -1;
    int last_index_ = -1;
    uint32_t queued_bytes_ = 0;
    uint8_t* memory_ = nullptr;
    bool done_[kQueuedBuffers] = {};
    uint32_t lengths_[kQueuedBuffers] = {};
};

}  // namespace vemo::sound
