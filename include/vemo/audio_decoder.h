// The audio decoder: turns a track's audio parts (a decoded-byte count and
// transform-coded blocks) into signed 16-bit PCM, channels interleaved.
//
// One AudioDecoder per played track. It lives in one library block (record,
// tables and buffers) and decoding allocates nothing. Decoders never read
// outside the bytes they are given: bits past the end of a part read as zero
// and the part's decoding stops at the block that reached the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vemo {

// Band frequency table size and the largest band count.
constexpr uint32_t kAudioMaxBands = 25;
constexpr uint32_t kAudioQuantiserCount = 96;

// Quantiser table entry i = 10^(0.0664 i), computed in double precision and
// rounded to single (Q[0] = 1, Q[95] = 2032357). Indices above 95 give Q[95].
float AudioQuantiser(uint32_t index);

// The decoder geometry that follows from rate, channels and variant.
struct AudioGeometry {
    uint32_t rate = 0;                             // R, Hz
    uint32_t channels = 0;                         // M (1 or 2)
    bool dct = false;                              // DCT variant (else real-DFT)
    uint32_t base_length = 0;                      // L: 2048, 1024 or 512
    uint32_t transform_length = 0;                 // N: L (DCT) or L x M (real-DFT)
    uint32_t coded_channels = 0;                   // K: M (DCT) or 1 (real-DFT)
    uint32_t effective_rate = 0;                   // R': R (DCT) or R x M (real-DFT)
    uint32_t half_rate = 0;                        // H = (R' + 1) / 2
    uint32_t band_count = 0;                       // B <= 25
    uint32_t band_start[kAudioMaxBands + 1] = {};  // E[0..B], E[B] = N / 2
    uint32_t block_bytes = 0;                      // S = 2 L M
    uint32_t overlap_bytes = 0;                    // S / 16
    uint32_t delivered_bytes = 0;                  // S - S / 16, bytes one block delivers
    float output_scale = 0;                        // 2 / sqrt(N) in single precision
};

// Fills *geometry; false (and nothing filled) when channels is not 1 or 2.
bool ComputeAudioGeometry(uint32_t rate, uint32_t channels, bool dct_variant,
                          AudioGeometry* geometry);

// 0: the format word names no variant (never played), 1: DCT, 2: real-DFT.
// Same rule as TrackVariant in container.h.
int AudioTrackVariant(uint32_t format);

struct AudioDecoder;  // opaque; one library block

// Creates a decoder; null when channels is not 1 or 2 or memory runs out.
AudioDecoder* OpenAudioDecoder(uint32_t sample_rate, uint32_t channels, bool dct_variant);
// From a track's format word (rate in the low half, flags in the high half);
// null when the flags name no variant (the track is not played).
AudioDecoder* OpenAudioDecoderForTrack(uint32_t format);
// Frees the decoder's block (null is ignored).
void CloseAudioDecoder(AudioDecoder* decoder);

const AudioGeometry& GetAudioGeometry(const AudioDecoder* decoder);

// The result of one block.
struct AudioBlockResult {
    const int16_t* pcm = nullptr;   // the decoder's PCM buffer, valid until the next call
    uint32_t delivered = 0;         // always S - S/16 bytes
    const uint8_t* next = nullptr;  // block start + 4 x words the block touched
    bool overran = false;           // the block's bits ran past end (read as zero)
};

// Decodes one block starting at `block` (a word boundary of the part) whose
// bytes end at `end`: reads the fields, transforms, converts to PCM, applies
// the cross-fade with the previous block and saves the new tail. Bits at or
// past `end` read as zero; `overran` then tells so and `next` is `end`.
AudioBlockResult DecodeAudioBlock(AudioDecoder* decoder, const uint8_t* block, const uint8_t* end);

// Where decoded sound goes: the stream core's sound ring for the track.
// Each call carries at most S - S/16 bytes (one block's delivery).
class AudioSink {
  public:
    virtual ~AudioSink() = default;
    virtual void AppendAudio(const uint8_t* bytes, uint32_t count) = 0;
};

// How a part's decoding ended.
struct AudioPartStatus {
    uint32_t declared = 0;   // D, the part's decoded-byte count
    uint32_t delivered = 0;  // bytes appended to the sink
    uint32_t blocks = 0;     // blocks decoded
    bool complete = true;    // false when the part ended before D bytes were delivered
};

// Decodes one frame's audio part of a track: `part` holds the part's L
// bytes (the u32 decoded-byte count D, then the blocks). Decodes blocks
// while D is not 0, appending min(D, S - S/16) bytes of each to the sink;
// the last block of a part may deliver less, but its tail is still kept
// for the next block's cross-fade. Decoding stops early at the block whose
// bits reach the end of the part (that block is still delivered), so a D
// the part cannot hold never runs on past its bytes. Returns the bytes
// appended. A part shorter than 4 bytes delivers nothing.
uint32_t DecodeAudioPart(AudioDecoder* decoder, const uint8_t* part, uint32_t length,
                         AudioSink* sink, AudioPartStatus* status = nullptr);

// The ring size a track needs: its buffer size from the track table rounded
// up to 256, but never less than one block's delivery (also rounded up to
// 256), so that the largest single append always fits an empty ring.
// 0 when the format names no variant.
uint32_t AudioRingSize(uint32_t format, uint32_t buffer_size);

}  // namespace vemo
