// Reading the encoder tool's inputs: YUV4MPEG2 pictures and WAV sound, with
// every size checked before anything is allocated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vemo::encode {

class Y4mReader {
  public:
    // Reads the stream header. False with *error set when it is not a
    // 4:2:0 or monochrome YUV4MPEG2 stream of a sane size.
    bool Open(std::FILE* file, std::string* error);
    // The next frame (Cb and Cr stay empty for mono streams). False at the
    // end of the stream with *error empty, or with *error set when a frame
    // is damaged or cut short.
    bool ReadFrame(std::vector<uint8_t>* y, std::vector<uint8_t>* cb, std::vector<uint8_t>* cr,
                   std::string* error);

    uint32_t width = 0, height = 0;
    uint32_t rate_num = 25, rate_den = 1;
    bool mono = false;

  private:
    std::FILE* file_ = nullptr;
    uint64_t frames_ = 0;
};

// 8- or 16-bit PCM, one or two channels, interleaved as 16-bit values.
struct WavSound {
    uint32_t rate = 0;
    uint32_t channels = 0;
    std::vector<int16_t> samples;
};
bool ParseWav(const std::vector<uint8_t>& bytes, WavSound* sound, std::string* error);

// How far a movie's sound runs ahead of its pictures in the frame packets:
// the player primes a restarted device with this much silence and drains the
// rings from this long before the end, so the packets must carry the sound
// that much early for the device to start with frame 1 and to play out
// before the movie ends.
constexpr uint32_t kSoundLeadMilliseconds = 750;
// The lead in whole frames at rate_num / rate_den frames per second: the
// frames within kSoundLeadMilliseconds (as many as the rings drain at the
// end; the parts' whole blocks add the rest), at least 1 (1 as well for a
// rate of 0).
uint32_t SoundLeadFrames(uint32_t rate_num, uint32_t rate_den);

// Cuts the sound into per-frame audio parts of a DCT-variant 16-bit track,
// kSoundLeadMilliseconds ahead of the pictures.
struct SoundTrack {
    std::vector<std::vector<uint8_t>> parts;
    uint32_t buffer_size = 0;
    uint32_t format = 0;
};
bool EncodeSoundTrack(const WavSound& sound, uint32_t frames, uint32_t rate_num, uint32_t rate_den,
                      SoundTrack* track, std::string* error);

}  // namespace vemo::encode
