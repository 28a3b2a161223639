// The audio block writer: the exact inverse of the audio block reader, and a
// simple encoder (forward transform and per-band quantiser) that turns
// 16-bit PCM into blocks and per-frame audio parts.
//
// Typical use (a 48 kHz stereo DCT track of a 30 fps movie):
//
//   vemo::AudioBlockEncoder encoder(48000, 2, /*dct_variant=*/true);
//   std::vector<int16_t> pcm = ...;  // interleaved left, right
//   vemo::AudioTrackParts track =
//       vemo::EncodeAudioTrack(encoder, pcm.data(), pcm.size(), frames, 30, 1, 1);
//   // track.parts[f] is frame f's audio part (u32 decoded-byte count, then
//   // the blocks); track.buffer_size goes into the track table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vemo/audio_decoder.h"

namespace vemo {

// Bits written least significant first into little-endian 32-bit words, as
// the block reader takes them.
class AudioBitWriter {
  public:
    // Appends the low `bits` bits of value (bits 0 to 32).
    void Write(uint32_t value, unsigned bits);
    // Fills the current word with zero bits (blocks end on a word boundary).
    void PadToWord();
    uint64_t bit_count() const { return bits_; }
    // The bytes written so far; a partly filled last word is included whole.
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> Take();

  private:
    std::vector<uint8_t> bytes_;
    uint64_t bits_ = 0;
};

// One run of coefficients as the reader sees it.
struct AudioRun {
    // -1: a run of 8 (flag bit 0); 0..15: flag bit 1 and this index into the
    // run-length table (2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32,
    // 64 times 8). The reader cuts a run that passes N at N.
    int length_code = -1;
    uint32_t width = 0;           // 0..15 bits per value
    std::vector<int32_t> values;  // one per coefficient of the run when width > 0 (|v| < 2^width)
};

// The 29-bit field of a directly coded coefficient: exponent (0..31),
// 23-bit mantissa and sign; its value is mantissa x 2^(exponent - 23).
constexpr uint32_t DirectCoefficientField(uint32_t exponent, uint32_t mantissa, bool negative) {
    return (exponent & 31) | (mantissa & 0x7FFFFF) << 5 | (negative ? 1u << 28 : 0u);
}

struct AudioChannelCode {
    uint32_t direct[2] = {0, 0};      // 29-bit fields of coefficients 0 and 1
    std::vector<uint32_t> quantiser;  // B indices (8 bits each; the reader clamps above 95)
    std::vector<AudioRun> runs;       // covering coefficients 2 .. N - 1
};

struct AudioBlockCode {
    uint32_t ignored = 0;                    // the DCT variant's two leading bits
    std::vector<AudioChannelCode> channels;  // K channels
};

// Writes one block exactly as the reader reads it, then pads to a word.
// False (nothing written) when the code does not fit the geometry: wrong
// channel or quantiser count, runs that do not end exactly at N (the last
// run may pass N), a value count that differs from the run's length or a
// value too wide for its run.
bool WriteAudioBlock(const AudioGeometry& geometry, const AudioBlockCode& code,
                     AudioBitWriter* out);

// A simple encoder: forward transform of each block, one quantiser per band
// chosen so that the band's largest value fits `value_limit`, runs of 8
// coefficients each with the narrowest width that holds them (zero stretches
// merged into long runs).
class AudioBlockEncoder {
  public:
    AudioBlockEncoder(uint32_t sample_rate, uint32_t channels, bool dct_variant,
                      uint32_t value_limit = 2047);
    bool ok() const { return ok_; }
    const AudioGeometry& geometry() const { return geometry_; }
    // Interleaved 16-bit values one block covers (L x M), and how far the
    // next block starts behind it (L x M minus the cross-fade length).
    uint32_t block_values() const { return geometry_.block_bytes / 2; }
    uint32_t block_advance() const { return geometry_.delivered_bytes / 2; }

    // The coefficients the decoder's inverse transform turns back into the
    // block_values() interleaved values (per coded channel, N each).
    void ForwardTransform(const int16_t* values, std::vector<float>* coefficients) const;
    // Quantises coefficients into a block code.
    AudioBlockCode Quantise(const std::vector<float>& coefficients) const;
    // Both, then writes the block (block_values() interleaved values).
    void EncodeBlock(const int16_t* values, AudioBitWriter* out) const;

  private:
    struct Tables;
    AudioGeometry geometry_;
    uint32_t value_limit_;
    bool ok_ = false;
    std::shared_ptr<const Tables> tables_;
};

// A whole track cut into per-frame audio parts.
struct AudioTrackParts {
    std::vector<std::vector<uint8_t>> parts;  // one per frame (empty: no sound in that frame)
    uint32_t buffer_size = 0;                 // the largest decoded-byte count of any part
};

// Encodes `count` interleaved values into parts for `frames` frames at
// rate_num / rate_den frames per second. Each part holds whole blocks: by the
// end of frame f the parts deliver at least the sound of (f + 1 +
// preroll_frames) frame times, and never more blocks than the signal needs;
// the last frame carries whatever remains of the signal.
// The cross-fade joins blocks seamlessly, so the decoded track reproduces
// the signal (within quantisation error) from its first value.
AudioTrackParts EncodeAudioTrack(const AudioBlockEncoder& encoder, const int16_t* values,
                                 size_t count, uint32_t frames, uint32_t rate_num,
                                 uint32_t rate_den, uint32_t preroll_frames);

}  // namespace vemo
