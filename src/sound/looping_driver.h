// The looping-buffer back end's rules, independent of the device: one loop
// of B bytes written in chunks behind the play cursor, readiness from cursor
// readings (at most every 12 ms), the 540 ms stall limit, the 90 % running-dry
// rule with its two-chunk silence fill, the start threshold and start of
// playback, pause, on/off, volume and pan. A platform supplies the device
// calls (SDL here; a Windows device later).
#pragma once

#include <cstdint>

#include "sound_device.h"
#include "sound_rules.h"
#include "vemo/sound_driver.h"

namespace vemo::sound {

class LoopingDriver : public SoundDevice {
  public:
    static constexpr uint32_t kCursorReadingInterval = 12;  // ms
    static constexpr uint32_t kStallLimit = 540;            // ms
    static constexpr uint32_t kWriteGap = 1024;             // bytes kept clear of the play cursor

    ~LoopingDriver() override;

    int SoundReady() override;
    int GetSoundChunk(uint8_t** chunk, uint32_t* size) override;
    int CommitSoundChunk(uint32_t n) override;
    void SetSoundVolume(uint32_t volume) override;
    void SetSoundPan(uint32_t pan) override;
    int PauseSound(int pause) override;
    int SetSoundOn(int on) override;
    void CloseSound() override;
    void SetSoundOutputs(const uint32_t* outputs, uint32_t count) override;
    void SetSoundOutputVolumes(const uint32_t* outputs, const uint32_t* volumes,
                               uint32_t count) override;
    uint32_t PullFromRing(SoundRing* ring, uint32_t ring_bytes) override;
    // The track has no more data: before the start, playback starts with what
    // was written; while playing, the loop from the write position up to the
    // play cursor (all the device has played and would play again) is
    // silenced, and on each further call what the cursor passed since. The
    // unplayed data is counted down by the cursor's movement; the ran-dry
    // report is raised when it is all played. Until a new write the
    // running-dry rule stays off, so it never silences unplayed data.
    void FlushSound() override;

    const LoopingSizes& sizes() const { return sizes_; }
    bool playing() const { return playing_; }
    bool stopped() const { return stopped_; }
    uint32_t write_position() const { return write_position_; }
    uint32_t bytes_to_write() const { return bytes_to_write_; }
    bool flushing() const { return flushing_; }
    uint32_t unplayed() const { return unplayed_; }
    uint32_t volume() const { return volume_; }
    uint32_t pan() const { return pan_; }
    uint32_t output_count() const { return output_count_; }
    uint32_t output_volume_count() const { return output_volume_count_; }
    const uint32_t* outputs() const { return outputs_; }
    const int32_t* output_volumes() const { return output_volumes_; }

  protected:
    LoopingDriver() = default;
    // Fills the shared fields and the sizes; called by the platform opener
    // before it creates the loop. Volume and pan start at 32767.
    void Setup(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie);
    // Applies rate, pan and volume, fills the loop with silence and arms the
    // start threshold; called once the loop exists.
    void Arm();
    // Closes the device once, from the derived destructor.
    void CloseOnce();
    // A device that plays from the track's ring calls this before Arm: the
    // loop is then only counted (positions, readiness, start, running dry
    // stay the same), chunks carry no destination, their bytes come through
    // PullFromRing and DevicePull, and silence fills are left to the device,
    // which plays silence wherever it has no data.
    void PullFromTheRing() { pulls_ = true; }

    // ----- device calls
    // Locks bytes at offset of the loop; the second region is the part that
    // wraps to the loop start (0 bytes when none). False when it fails.
    virtual bool DeviceLock(uint32_t offset, uint32_t bytes, uint8_t** first, uint32_t* first_bytes,
                            uint8_t** second, uint32_t* second_bytes) = 0;
    virtual void DeviceUnlock(uint8_t* first, uint32_t first_bytes, uint8_t* second,
                              uint32_t second_bytes) = 0;
    // One reading of the play and write cursors (offsets in the loop).
    virtual void DeviceCursors(uint32_t* play, uint32_t* write) = 0;
    virtual bool DevicePlay() = 0;  // loops from the current position
    virtual bool DeviceStop() = 0;
    virtual bool DeviceIsPlaying() = 0;
    virtual void DeviceSetPosition(uint32_t offset) = 0;
    // Rate, pan and volume in hundredths of a decibel.
    virtual void DeviceApply(uint32_t rate, int32_t pan_db, int32_t volume_db) = 0;
    // Releases the loop and the track's use of the device.
    virtual void DeviceRelease() = 0;
    // Pulling devices: takes over n device bytes from the ring (ring bytes:
    // twice as many for 8-bit), to be played at loop offset when nothing else
    // is waiting, else right after what is. Returns the device bytes taken.
    virtual uint32_t DevicePull(SoundRing*, uint32_t /*offset*/, uint32_t) { return 0; }

  private:
    void ReadCursors(uint32_t* play, uint32_t* write);
    void FillSilence(uint32_t offset, uint32_t bytes);
    void StartPlayback();
    void Apply();
    void Written(uint32_t n);

    LoopingSizes sizes_;
    bool armed_ = false;
    bool closed_ = false;
    bool pulls_ = false;
    uint32_t pull_size_ = 0;  // device bytes of the chunk sized for a pull
    uint32_t volume_ = 32767;
    uint32_t pan_ = 32767;
    bool playing_ = false;
    bool stopped_ = false;
    uint32_t write_position_ = 0;
    uint32_t bytes_to_write_ = 0;
    uint32_t last_write_cursor_ = 0;
    bool flushing_ = false;      // flushed, and nothing written since
    uint32_t silenced_to_ = 0;   // loop offset up to which the flush silenced
    uint32_t unplayed_ = 0;      // flushed data the cursor has not passed yet
    uint32_t flush_cursor_ = 0;  // the play cursor at the last flush
    uint32_t last_play_cursor_ = 0;
    uint32_t last_reading_time_ = 0;
    uint8_t* first_region_ = nullptr;
    uint32_t first_bytes_ = 0;
    uint8_t* second_region_ = nullptr;
    uint32_t second_bytes_ = 0;
    uint32_t output_count_ = 0;
    uint32_t output_volume_count_ = 0;
    uint32_t outputs_[8] = {};
    uint32_t volume_outputs_[8] = {};
    int32_t output_volumes_[8] = {};
};

}  // namespace vemo::sound
