#include "vemo/audio_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "block_bits.h"
#include "block_reader.h"
#include "pcm.h"
#include "run_kernels.h"
#include "transform.h"
#include "vemo/container.h"
#include "vemo/memory.h"

namespace vemo {

namespace {

constexpr uint32_t kBandFrequency[kAudioMaxBands] = {
    0,    100,  200,  300,  400,  510,  630,  770,  920,  1080, 1270,  1480, 1720,
    2000, 2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500};

struct QuantiserTable {
    float q[kAudioQuantiserCount];
    float exponent[24];
    QuantiserTable() {
        // In double precision, then rounded: single-precision powers drift
        // from i = 9 on.
        for (uint32_t i = 0; i < kAudioQuantiserCount; ++i)
            q[i] = static_cast<float>(std::pow(10.0, 0.0664 * i));
        for (int e = 0; e < 24; ++e) exponent[e] = std::ldexp(1.0f, e - 23);
    }
};

const QuantiserTable& Tables() {
    static const QuantiserTable tables;
    return tables;
}

}  // namespace

// The decoder record; its buffers follow it in the same library block.
struct AudioDecoder {
    AudioGeometry geometry;
    audio::TransformTables transform;
    float* coefficients;  // N x K
    int16_t* pcm;         // S bytes
    int16_t* tail;        // S / 2 bytes reserved, the first S / 16 in use
    uint32_t first_block;
    uint32_t fade_shift;  // log2 of the fade length n = S / 32
};

float AudioQuantiser(uint32_t index) {
    return Tables().q[std::min(index, kAudioQuantiserCount - 1)];
}

bool ComputeAudioGeometry(uint32_t rate, uint32_t channels, bool dct_variant,
                          AudioGeometry* geometry) {
    if (channels != 1 && channels != 2) return false;
    AudioGeometry g;
    g.rate = rate;
    g.channels = channels;
    g.dct = dct_variant;
    g.base_length = rate >= 44100 ? 2048 : rate >= 22050 ? 1024 : 512;
    g.transform_length = dct_variant ? g.base_length : g.base_length * channels;
    g.coded_channels = dct_variant ? channels : 1;
    g.effective_rate = dct_variant ? rate : rate * channels;
    g.half_rate = (g.effective_rate + 1) / 2;
    const uint32_t half = g.transform_length / 2;
    g.band_count = kAudioMaxBands;
    for (uint32_t i = 0; i < kAudioMaxBands; ++i) {
        if (kBandFrequency[i] >= g.half_rate) {
            g.band_count = i;
            break;
        }
    }
    for (uint32_t i = 0; i < g.band_count; ++i) {
        const uint32_t e = kBandFrequency[i] * half / g.half_rate;  // half_rate > 0 here
        g.band_start[i] = e == 0 ? 1 : e;
    }
    g.band_start[g.band_count] = half;
    g.block_bytes = 2 * g.base_length * channels;
    g.overlap_bytes = g.block_bytes / 16;
    g.delivered_bytes = g.block_bytes - g.overlap_bytes;
    g.output_scale = static_cast<float>(2.0 / std::sqrt(static_cast<double>(g.transform_length)));
    *geometry = g;
    return true;
}

int AudioTrackVariant(uint32_t format) {
    return TrackVariant(format);
}

AudioDecoder* OpenAudioDecoder(uint32_t sample_rate, uint32_t channels, bool dct_variant) {
    AudioGeometry g;
    if (!ComputeAudioGeometry(sample_rate, channels, dct_variant, &g)) return nullptr;
    (void)Tables();  // built once, before any decoding
    const uint32_t n = g.transform_length;

    AudioDecoder* d = nullptr;
    float* twiddle = nullptr;
    uint16_t* bit_reverse = nullptr;
    float* cosines = nullptr;
    float* coefficients = nullptr;
    int16_t* pcm = nullptr;
    int16_t* tail = nullptr;
    BlockPool pool;
    pool.Request(&pcm, g.block_bytes);
    pool.Request(&twiddle, sizeof(float) * audio::TwiddleFloats(n));
    pool.Request(&cosines, sizeof(float) * audio::CosineFloats(n, dct_variant));
    pool.Request(&bit_reverse, sizeof(uint16_t) * audio::BitReverseEntries(n));
    pool.Request(&coefficients, sizeof(float) * n * g.coded_channels);
    pool.Request(&tail, g.block_bytes / 2);
    void* block = nullptr;
    if (!pool.Commit(&block, sizeof(AudioDecoder))) return nullptr;
    d = new (block) AudioDecoder{};
    d->geometry = g;
    d->transform.twiddle = twiddle;
    d->transform.bit_reverse = bit_reverse;
    d->transform.cosines = cosines;
    audio::BuildTransformTables(n, dct_variant, &d->transform);
    d->coefficients = coefficients;
    d->pcm = pcm;
    d->tail = tail;
    std::memset(tail, 0, g.block_bytes / 2);
    d->first_block = 1;
    const uint32_t fade = g.overlap_bytes / 2;
    d->fade_shift = 0;
    while ((1u << d->fade_shift) < fade) ++d->fade_shift;
    return d;
}

AudioDecoder* OpenAudioDecoderForTrack(uint32_t format) {
    const int variant = TrackVariant(format);
    if (variant == 0) return nullptr;
    return OpenAudioDecoder(TrackRate(format), TrackChannels(format), variant == 1);
}

void CloseAudioDecoder(AudioDecoder* decoder) {
    if (!decoder) return;
    decoder->~AudioDecoder();
    FreeLibraryMemory(decoder);
}

const AudioGeometry& GetAudioGeometry(const AudioDecoder* decoder) {
    return decoder->geometry;
}

namespace audio {

namespace {

inline void ScaleEight(const int32_t* values, float q, float* a) {
    for (uint32_t k = 0; k < 8; ++k) a[k] = static_cast<float>(values[k]) * q;
}

// One channel's coefficients from the block's bits. The runs give the
// integer values; each coefficient's quantiser is that of the band holding
// it (a band is entered at its start inside a coded run and passed inside a
// run of width 0, whose values are all 0), so the values are scaled band by
// band afterwards.
void ReadChannel(const AudioGeometry& g, audio::BlockBits& reader, float* a, int32_t* values) {
    audio::BlockBits bits = reader;  // kept in registers
    const QuantiserTable& tables = Tables();
    const uint32_t n = g.transform_length;
    for (int c = 0; c < 2; ++c) {
        const uint32_t field = bits.Read(29);
        const uint32_t e = field & 31;
        const uint32_t m = (field >> 5) & 0x7FFFFF;
        // Exponents 24-31 lie beyond the scale table: such a coefficient is 0.
        float value = e < 24 ? static_cast<float>(m) * tables.exponent[e] : 0.0f;
        if (field >> 28) value = -value;
        a[c] = value;
    }
    float band_q[kAudioMaxBands];
    for (uint32_t b = 0; b < g.band_count; ++b)
        band_q[b] = tables.q[std::min<uint32_t>(bits.Read(8), kAudioQuantiserCount - 1)];

    audio::ActiveRunKernels().read_runs(bits, n, values);
    reader = bits;

    // Before band 0 (only without bands) the quantiser is 0.
    const uint32_t* start = g.band_start;
    uint32_t i = 2;
    for (const uint32_t first = std::min(2 * start[0], n); i < first; ++i)
        a[i] = static_cast<float>(values[i]) * 0.0f;
    for (uint32_t b = 0; b < g.band_count; ++b) {
        const float q = band_q[b];
        const uint32_t stop = 2 * start[b + 1];
        if (stop - i >= 8) {
            // Groups of 8, which the compiler vectorises; the last group ends
            // at the band's end and may go over values already scaled.
            for (; i + 8 <= stop; i += 8) ScaleEight(values + i, q, a + i);
            ScaleEight(values + stop - 8, q, a + stop - 8);
            i = stop;
        }
        for (; i < stop; ++i) a[i] = static_cast<float>(values[i]) * q;
    }
}

}  // namespace

uint64_t ReadBlockCoefficients(const AudioGeometry& g, BlockBits& bits, float* coefficients) {
    if (g.dct) bits.Read(2);  // two bits of no meaning, once per block
    int32_t values[kMaxTransformLength];
    for (uint32_t k = 0; k < g.coded_channels; ++k)
        ReadChannel(g, bits, coefficients + k * g.transform_length, values);
    return bits.BitsConsumed();
}

void CrossFade(const int16_t* tail, int16_t* values, uint32_t count, unsigned shift) {
    const int32_t length = static_cast<int32_t>(count);
    for (int32_t i = 0; i < length; ++i) {
        // Arithmetic shift: rounds toward minus infinity.
        const int32_t mixed = tail[i] * (length - i) + values[i] * i;
        values[i] = static_cast<int16_t>(mixed >> shift);
    }
}

}  // namespace audio

AudioBlockResult DecodeAudioBlock(AudioDecoder* d, const uint8_t* block, const uint8_t* end) {
    const AudioGeometry& g = d->geometry;
    const uint32_t n = g.transform_length;
    if (end < block) end = block;  // an empty range: every bit reads as zero
    audio::BlockBits bits(block, end);
    audio::ReadBlockCoefficients(g, bits, d->coefficients);

    int16_t* pcm = d->pcm;
    if (g.dct) {
        for (uint32_t k = 0; k < g.coded_channels; ++k)
            audio::InverseDct(d->transform, d->coefficients + k * n);
        if (g.coded_channels == 2)
            audio::ConvertStereo(d->coefficients, d->coefficients + n, n, g.output_scale, pcm);
        else
            audio::ConvertMono(d->coefficients, n, g.output_scale, pcm);
    } else {
        audio::InverseRealDft(d->transform, d->coefficients);
        audio::ConvertMono(d->coefficients, n, g.output_scale, pcm);
    }

    // Cross-fade the first n values with the previous block's tail, then keep
    // this block's last n values as the next tail.
    const uint32_t fade = g.overlap_bytes / 2;
    if (d->first_block) {
        d->first_block = 0;
    } else {
        audio::CrossFade(d->tail, pcm, fade, d->fade_shift);
    }
    const uint32_t values = g.block_bytes / 2;
    std::memcpy(d->tail, pcm + values - fade, g.overlap_bytes);

    AudioBlockResult result;
    result.pcm = pcm;
    result.delivered = g.delivered_bytes;
    const uint64_t bytes = 4 * bits.WordsTouched();
    const uint64_t available = static_cast<uint64_t>(end - block);
    result.overran = bits.Overran();
    result.next = bytes <= available ? block + bytes : end;
    return result;
}

uint32_t DecodeAudioPart(AudioDecoder* decoder, const uint8_t* part, uint32_t length,
                         AudioSink* sink, AudioPartStatus* status) {
    AudioPartStatus local;
    AudioPartStatus& s = status ? *status : local;
    s = AudioPartStatus{};
    if (length < 4) {
        s.complete = length == 0;
        return 0;
    }
    uint32_t remaining = ReadLe32(part);
    s.declared = remaining;
    const uint8_t* end = part + length;
    const uint8_t* position = part + 4;
    while (remaining != 0) {
        if (position >= end) break;  // no bytes left for another block
        const AudioBlockResult block = DecodeAudioBlock(decoder, position, end);
        const uint32_t h = std::min(remaining, block.delivered);
        remaining -= h;
        if (sink) sink->AppendAudio(reinterpret_cast<const uint8_t*>(block.pcm), h);
        s.delivered += h;
        ++s.blocks;
        if (block.overran) break;  // the part ended inside this block
        position = block.next;
    }
    s.complete = remaining == 0;
    return s.delivered;
}

uint32_t AudioRingSize(uint32_t format, uint32_t buffer_size) {
    const int variant = TrackVariant(format);
    if (variant == 0) return 0;
    AudioGeometry g;
    if (!ComputeAudioGeometry(TrackRate(format), TrackChannels(format), variant == 1, &g)) return 0;
    const uint64_t ring = (static_cast<uint64_t>(buffer_size) + 255) & ~uint64_t{255};
    const uint64_t block = (static_cast<uint64_t>(g.delivered_bytes) + 255) & ~uint64_t{255};
    const uint64_t size = std::max(ring, block);
    return size > 0xFFFFFF00u ? 0xFFFFFF00u : static_cast<uint32_t>(size);
}

}  // namespace vemo
