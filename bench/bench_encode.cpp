// Encoding speed at 640x480 on a synthetic pan over texture with flat areas
// (frames per second on one thread and on every core), and the encoder's
// 8x8 block measures, plain against SSE2.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "block_kernels.h"
#include "vemo/encoder.h"

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480;

// A large textured picture the clip pans over, 5 samples right and 2 down
// per frame.
struct Clip {
    uint32_t w = kWidth + 200, h = kHeight + 100;
    std::vector<uint8_t> y, c;
    Clip() : y(size_t{w} * h), c(size_t{w / 2} * (h / 2), 128) {
        for (uint32_t j = 0; j < h; ++j)
            for (uint32_t i = 0; i < w; ++i)
                y[j * w + i] = static_cast<uint8_t>(
                    j > h * 3 / 4 ? 90
                                  : 128 + 50 * std::sin(i * 0.05 + std::sin(j * 0.03) * 3) +
                                        30 * std::cos(j * 0.11 + i * 0.02));
    }
    vemo::EncoderPicture Frame(int t) const {
        const uint32_t x = (5u * static_cast<uint32_t>(t)) % 200,
                       yy = (2u * static_cast<uint32_t>(t)) % 100;
        vemo::EncoderPicture p;
        p.y = &y[yy * w + x];
        p.y_stride = w;
        p.cb = p.cr = &c[(yy / 2) * (w / 2) + x / 2];
        p.cb_stride = p.cr_stride = w / 2;
        return p;
    }
};

void BM_Encode640x480(benchmark::State& state) {
    static const Clip clip;
    vemo::EncoderSettings settings;  // the defaults: quality 75, whole range
    settings.threads = static_cast<int>(state.range(0));
    vemo::VideoEncoder encoder(kWidth, kHeight, settings);
    std::vector<uint8_t> video;
    int t = 0;
    for (auto _ : state) {
        if (!encoder.EncodeFrame(clip.Frame(t++), false, &video)) state.SkipWithError("refused");
        benchmark::DoNotOptimize(video.data());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
// 0: one thread per core.
BENCHMARK(BM_Encode640x480)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

void BlockMeasure(benchmark::State& state, const vemo::encode::BlockKernels* kernels, bool sse) {
    if (!kernels) {
        state.SkipWithError("not available");
        return;
    }
    std::mt19937 rng(1);
    std::vector<uint8_t> a(64 * 64), b(64 * 64);
    for (auto& v : a) v = static_cast<uint8_t>(rng());
    for (auto& v : b) v = static_cast<uint8_t>(rng());
    const vemo::encode::BlockMeasure f = sse ? kernels->sse : kernels->sad;
    uint32_t sum = 0;
    for (auto _ : state)
        for (int i = 0; i < 32; ++i) sum += f(&a[i * 65], 64, &b[i * 3], 64);
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK_CAPTURE(BlockMeasure, SadPlain, &vemo::encode::PlainBlockKernels(), false);
BENCHMARK_CAPTURE(BlockMeasure, SadSse2, vemo::encode::Sse2BlockKernels(), false);
BENCHMARK_CAPTURE(BlockMeasure, SsePlain, &vemo::encode::PlainBlockKernels(), true);
BENCHMARK_CAPTURE(BlockMeasure, SseSse2, vemo::encode::Sse2BlockKernels(), true);

}  // namespace
