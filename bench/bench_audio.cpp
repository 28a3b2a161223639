// Audio blocks per second: 48 kHz stereo DCT, 44.1 kHz stereo real DFT and
// 22.05 kHz mono real DFT, from blocks made by the encoder out of a tone;
// the coefficient reading of the 48 kHz blocks alone; and the float-to-PCM
// step, plain and through the kernel table. VEMO_CPU=c, sse2 or avx2 runs
// everything at that CPU mask level.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "block_reader.h"
#include "pcm.h"
#include "vemo/audio_decoder.h"
#include "vemo/audio_writer.h"

namespace {

std::vector<uint8_t> ToneBlocks(uint32_t rate, uint32_t channels, bool dct, int blocks) {
    vemo::AudioBlockEncoder encoder(rate, channels, dct);
    std::vector<int16_t> values(encoder.block_values());
    vemo::AudioBitWriter bits;
    for (int b = 0; b < blocks; ++b) {
        for (size_t i = 0; i < values.size(); ++i) {
            const double t = static_cast<double>(i / channels + b * 1000) / rate;
            values[i] = static_cast<int16_t>(9000 * std::sin(2 * 3.14159265 * 440 * t) +
                                             4000 * std::sin(2 * 3.14159265 * 3100 * t));
        }
        encoder.EncodeBlock(values.data(), &bits);
    }
    return bits.Take();
}

void DecodeBlocks(benchmark::State& state, uint32_t rate, uint32_t channels, bool dct) {
    const int blocks = 16;
    const std::vector<uint8_t> data = ToneBlocks(rate, channels, dct, blocks);
    vemo::AudioDecoder* decoder = vemo::OpenAudioDecoder(rate, channels, dct);
    const vemo::AudioGeometry& g = vemo::GetAudioGeometry(decoder);
    int64_t decoded = 0;
    for (auto _ : state) {
        const uint8_t* p = data.data();
        for (int b = 0; b < blocks; ++b) {
            const vemo::AudioBlockResult r =
                vemo::DecodeAudioBlock(decoder, p, data.data() + data.size());
            benchmark::DoNotOptimize(r.pcm[0]);
            p = r.next;
        }
        decoded += blocks;
    }
    vemo::CloseAudioDecoder(decoder);
    state.SetItemsProcessed(decoded);
    // Real-time factor: seconds of sound per second of decoding.
    const double seconds_per_block = static_cast<double>(g.delivered_bytes / 2 / channels) / rate;
    state.counters["realtime"] = benchmark::Counter(
        static_cast<double>(decoded) * seconds_per_block, benchmark::Counter::kIsRate);
}

void BM_Decode48kStereoDct(benchmark::State& s) {
    DecodeBlocks(s, 48000, 2, true);
}
void BM_Decode44kStereoRealDft(benchmark::State& s) {
    DecodeBlocks(s, 44100, 2, false);
}
void BM_Decode22kMonoRealDft(benchmark::State& s) {
    DecodeBlocks(s, 22050, 1, false);
}
// Reading the coefficients of the 48 kHz stereo blocks, without transforms.
void BM_ReadCoefficients48kStereo(benchmark::State& state) {
    const int blocks = 16;
    const std::vector<uint8_t> data = ToneBlocks(48000, 2, true, blocks);
    vemo::AudioGeometry g;
    vemo::ComputeAudioGeometry(48000, 2, true, &g);
    std::vector<float> coefficients(2 * g.transform_length);
    for (auto _ : state) {
        vemo::audio::BlockBits bits(data.data(), data.data() + data.size());
        for (int b = 0; b < blocks; ++b) {
            const uint64_t read = vemo::audio::ReadBlockCoefficients(g, bits, coefficients.data());
            bits.Skip((32 - read % 32) % 32);  // the next block starts at a word
        }
        benchmark::DoNotOptimize(coefficients[100]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * blocks);
}
BENCHMARK(BM_ReadCoefficients48kStereo);

BENCHMARK(BM_Decode48kStereoDct);
BENCHMARK(BM_Decode44kStereoRealDft);
BENCHMARK(BM_Decode22kMonoRealDft);

void ConvertBench(benchmark::State& state, bool table, uint32_t count) {
    std::vector<float> left(count), right(count);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(std::sin(i * 0.01) * 500000);
        right[i] = static_cast<float>(std::cos(i * 0.013) * 500000);
    }
    std::vector<int16_t> out(2 * count);
    for (auto _ : state) {
        if (table)
            vemo::audio::ConvertStereo(left.data(), right.data(), count, 0.0441941738f, out.data());
        else
            vemo::audio::ConvertStereoPlain(left.data(), right.data(), count, 0.0441941738f,
                                            out.data());
        benchmark::DoNotOptimize(out[100]);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2 * count);
}
void BM_ConvertStereoPlain(benchmark::State& s) {
    ConvertBench(s, false, 2048);
}
void BM_ConvertStereo(benchmark::State& s) {
    ConvertBench(s, true, 2048);
}
// A count that is no multiple of the kernels' group.
void BM_ConvertStereoOddCount(benchmark::State& s) {
    ConvertBench(s, true, 2047);
}
BENCHMARK(BM_ConvertStereoPlain);
BENCHMARK(BM_ConvertStereo);
BENCHMARK(BM_ConvertStereoOddCount);

}  // namespace
