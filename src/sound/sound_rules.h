// Sizes, thresholds and level arithmetic of the sound back ends, shared by
// every platform's device code (only the device calls differ per platform).
#pragma once

#include <cstdint>

#include "vemo/sound_driver.h"

namespace vemo::sound {

// Bytes per second of a format, with bits / 8 and channels taken as 16-bit
// quantities.
uint32_t BytesPerSecond(uint32_t rate, uint32_t bits, uint32_t channels);

// The looping-buffer back end: one loop of about 600 ms written in chunks of
// about 50 ms.
struct LoopingSizes {
    uint32_t bytes_per_second = 0;
    uint32_t buffer_size = 0;       // (P x 600 / 1000 + 1023) rounded down to 1024
    uint32_t chunk_size = 0;        // (P x 50 / 1000 + 255) rounded down to 256
    uint32_t ninety_percent = 0;    // buffer size x 90 / 100
    uint32_t start_threshold = 0;   // total sound (or one chunk without a frame rate), <= B
    uint32_t core_chunk_bytes = 0;  // chunk size, doubled for 8-bit
};
LoopingSizes ComputeLoopingSizes(uint32_t rate, uint32_t bits, uint32_t channels,
                                 const SoundMovieInfo& movie);

// The queued back end: sixteen buffers of about 1/16 s, started after about
// half a second.
constexpr int kQueuedBuffers = 16;
struct QueuedSizes {
    uint32_t bytes_per_second = 0;
    uint32_t buffer_size = 0;      // (P x 1000 / 16000 + 31) rounded down to 32
    uint32_t start_threshold = 0;  // (P x 1000 / 2000 + 31) rounded down to 32, <= total
    uint32_t total_sound = 0;
    uint32_t buffer_memory = 0;     // 16 x (buffer size + 36)
    uint32_t core_chunk_bytes = 0;  // buffer size, doubled when bits is not 16
};
QueuedSizes ComputeQueuedSizes(uint32_t rate, uint32_t bits, uint32_t channels,
                               const SoundMovieInfo& movie);

// Volume 0-32767 as hundredths of a decibel: 0 -> -10000, 32767 -> 0,
// 16384 -> -1003; never below -10000.
int32_t VolumeToHundredthsDb(uint32_t volume);
// Pan 0-65536 (32768 centre, larger values capped) as hundredths of a
// decibel from -10000 (left only) to 10000 (right only), truncated.
int32_t PanToHundredthsDb(uint32_t pan);
// Linear gains of the left and right channel for a volume and pan in
// hundredths of a decibel, the way a mixer applies them: the volume scales
// both; a positive pan attenuates the left by that much, a negative one the
// right. Results in 0..1.
void LoopingChannelGains(int32_t volume_db, int32_t pan_db, double* left, double* right);

// The queued back end's volume: (min(v, 65535) + 1) x 32767 / 65536.
uint32_t QueuedVolume(uint32_t volume);
// Left and right device levels (0-32767) of the queued back end for a volume
// (already scaled to 0-32767) and a pan 0-65536.
void QueuedChannelLevels(uint32_t volume, uint32_t pan, uint32_t* left, uint32_t* right);

}  // namespace vemo::sound
