// A device without hardware: a queue of the looping-buffer size that is
// played (emptied) at the sample rate on the library clock. The null and the
// file back ends are this device; the file one also keeps what is played.
#pragma once

#include <cstdint>
#include <vector>

#include "sound_device.h"
#include "sound_rules.h"
#include "vemo/sound_driver.h"

namespace vemo::sound {

class HeadlessDriver : public SoundDevice {
  public:
    HeadlessDriver(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie);
    ~HeadlessDriver() override;

    int SoundReady() override;
    int GetSoundChunk(uint8_t** chunk, uint32_t* size) override;
    int CommitSoundChunk(uint32_t n) override;
    void SetSoundVolume(uint32_t volume) override { volume_ = volume; }
    void SetSoundPan(uint32_t pan) override { pan_ = pan > 65536 ? 65536 : pan; }
    int PauseSound(int pause) override;
    int SetSoundOn(int on) override;
    void CloseSound() override;

    const LoopingSizes& sizes() const { return sizes_; }
    bool started() const { return started_; }
    bool paused() const { return paused_; }
    // Bytes queued and not yet played (as of the last operation).
    uint32_t queued() const { return queued_; }
    // Bytes played since the device was opened.
    uint64_t played_total() const { return played_total_; }
    uint32_t volume() const { return volume_; }
    uint32_t pan() const { return pan_; }

  protected:
    // Receives every byte as it is played, in order.
    virtual void OnPlayed(const uint8_t* bytes, uint32_t count);
    // Called once by CloseSound after the queue has been played out.
    virtual void OnClosed() {}
    // Brings the queue up to date with the clock.
    void Advance();

  private:
    // The chunk GetSoundChunk would hand out now (0: none).
    uint32_t ChunkSize() const;
    void PlayOut(uint32_t count);
    void Restart();

    LoopingSizes sizes_;
    uint32_t block_align_;
    std::vector<uint8_t> queue_;  // ring of sizes_.buffer_size bytes
    uint32_t head_ = 0;           // next byte to play
    uint32_t queued_ = 0;
    std::vector<uint8_t> chunk_;
    uint32_t chunk_size_out_ = 0;  // size of the chunk handed out, until committed
    bool started_ = false;
    bool paused_ = false;
    bool closed_ = false;
    uint32_t volume_ = 32767;
    uint32_t pan_ = 32767;
    // Clock since the start: milliseconds played before the last resume,
    // the time of that resume, and the bytes played since the start.
    uint64_t played_ms_before_ = 0;
    uint32_t resumed_at_ = 0;
    uint64_t played_since_start_ = 0;
    uint64_t played_total_ = 0;
};

}  // namespace vemo::sound
