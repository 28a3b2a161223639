// A played track opened straight on a back end, as the stream core opens it,
// with the table's operations at hand.
#pragma once

#include "vemo/sound_driver.h"

namespace vemo::test {

class OpenTrack {
  public:
    OpenTrack(const SoundBackEnd* back_end, uint32_t rate, uint32_t bits, uint32_t channels,
              const SoundMovieInfo& movie) {
        if (back_end != nullptr)
            OpenSoundTrackDevice(&track, back_end, rate, bits, channels, 0, movie);
    }
    OpenTrack(const OpenTrack&) = delete;
    OpenTrack& operator=(const OpenTrack&) = delete;
    ~OpenTrack() { Close(); }

    bool is_open() const { return track.device != nullptr; }
    const SoundDeviceInfo& info() const { return track.device_info; }
    int Ready() { return track.back_end->ready(track.device); }
    int GetChunk(uint8_t** chunk, uint32_t* size) {
        return track.back_end->get_chunk(track.device, chunk, size);
    }
    int Commit(uint32_t n) { return track.back_end->commit(track.device, n); }
    void Pan(uint32_t pan) { track.back_end->pan(track.device, pan); }
    int Pause(int pause) { return track.back_end->pause(track.device, pause); }
    int On(int on) { return track.back_end->on(track.device, on); }
    uint32_t TakeRanDry() { return track.back_end->take_ran_dry(track.device); }
    void Close() { CloseSoundTrackDevice(&track); }

    // Hands one chunk of up to n bytes (value fill) to the device; false when
    // the device is not ready or gives no chunk.
    bool Feed(uint32_t n, uint8_t fill);

    SoundTrack track;
};

inline bool OpenTrack::Feed(uint32_t n, uint8_t fill) {
    if (!Ready()) return false;
    uint8_t* chunk = nullptr;
    uint32_t size = 0;
    if (!GetChunk(&chunk, &size)) return false;
    n = n < size ? n : size;
    for (uint32_t i = 0; i < n; ++i) chunk[i] = fill;
    return Commit(n) == 1;
}

}  // namespace vemo::test
