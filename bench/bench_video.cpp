// Picture decoding speed on the largest conformance movie, next to a plain
// copy of the same planes (the least any decoder has to write).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vemo/container.h"
#include "vemo/video_decoder.h"
#include "video/video_internal.h"

namespace {

std::string ConformanceMovie(const char* name) {
    if (const char* dir = std::getenv("VEMO_CONFORMANCE_DIR")) return std::string(dir) + "/" + name;
    std::string here = __FILE__;  // .../bench/bench_video.cpp
    here = here.substr(0, here.find_last_of('/'));
    return here + "/../../shared/conformance/" + name;
}

struct Movie {
    vemo::MovieData data;
    std::vector<std::pair<const uint8_t*, uint32_t>> video;  // per frame
    bool ok = false;
    explicit Movie(const char* name) {
        if (!data.Load(ConformanceMovie(name))) return;
        const auto& h = data.header();
        for (uint32_t i = 0; i < h.frames; ++i) {
            const uint8_t* packet;
            uint32_t size;
            const uint8_t* v;
            uint32_t vs;
            if (!data.Packet(i, &packet, &size) ||
                !vemo::FindVideoPart(packet, size, h.audio_tracks, &v, &vs))
                return;
            video.emplace_back(v, vs);
        }
        ok = true;
    }
};

void BM_DecodeBig1(benchmark::State& state) {
    Movie movie("big1.vem");
    if (!movie.ok) {
        state.SkipWithError("big1.vem not found (set VEMO_CONFORMANCE_DIR)");
        return;
    }
    const auto& h = movie.data.header();
    const uint32_t flags = movie.data.open_flags();
    vemo::FramePlanes* planes = vemo::CreateFramePlanes(h.width, h.height, false, flags);
    vemo::BundleBuffers bundles;
    vemo::AllocateBundleBuffers(h.width, &bundles);
    const uint32_t across = vemo::BlocksAcross(h.width);
    std::vector<uint8_t> map(across * vemo::BlocksDown(h.height) + 16);
    uint64_t frames = 0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < movie.video.size(); ++i) {
            std::memset(map.data(), 0, map.size());
            benchmark::DoNotOptimize(
                vemo::DecodeFrameVideo(planes, map.data(), across, movie.video[i].first,
                                       movie.video[i].second, false, bundles, flags, h.flags));
            ++frames;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    vemo::FreeBundleBuffers(&bundles);
    vemo::FreeFramePlanes(planes);
}
BENCHMARK(BM_DecodeBig1)->Unit(benchmark::kMillisecond);

// The same planes copied from one buffer to the other, frame by frame.
void BM_CopyBig1Planes(benchmark::State& state) {
    Movie movie("big1.vem");
    if (!movie.ok) {
        state.SkipWithError("big1.vem not found (set VEMO_CONFORMANCE_DIR)");
        return;
    }
    const auto& h = movie.data.header();
    vemo::FramePlanes* planes = vemo::CreateFramePlanes(h.width, h.height, false, 0);
    const size_t luma = size_t(planes->luma_width) * planes->luma_height;
    const size_t chroma = size_t(planes->chroma_width) * planes->chroma_height;
    uint64_t frames = 0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < movie.video.size(); ++i) {
            const auto* from = planes->buffer[i & 1];
            auto* to = planes->buffer[(i & 1) ^ 1];
            std::memcpy(to[vemo::kPlaneY].samples, from[vemo::kPlaneY].samples, luma);
            std::memcpy(to[vemo::kPlaneCr].samples, from[vemo::kPlaneCr].samples, chroma);
            std::memcpy(to[vemo::kPlaneCb].samples, from[vemo::kPlaneCb].samples, chroma);
            benchmark::ClobberMemory();
            ++frames;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    vemo::FreeFramePlanes(planes);
}
BENCHMARK(BM_CopyBig1Planes)->Unit(benchmark::kMillisecond);

// The inverse transform alone, plain C++ against the SIMD kernel, on a
// block with a realistic spread of coefficients.
void TransformBench(benchmark::State& state, const vemo::video::VideoKernels* kernels) {
    if (!kernels) {
        state.SkipWithError("no SIMD kernels here");
        return;
    }
    int16_t c[64] = {};
    for (int i = 0; i < 64; i += 3) c[i] = static_cast<int16_t>((i * 37) % 200 - 100);
    uint8_t out[64];
    const auto& quant = vemo::video::IntraQuantTable()[4];
    for (auto _ : state) {
        kernels->inverse_transform(c, quant, out);
        benchmark::DoNotOptimize(out);
        c[5] = static_cast<int16_t>(c[5] + 1);
    }
    state.SetItemsProcessed(state.iterations());
}
void BM_TransformPlain(benchmark::State& state) {
    TransformBench(state, &vemo::video::PlainKernels());
}
void BM_TransformSse2(benchmark::State& state) {
    TransformBench(state, vemo::video::Sse2Kernels());
}
BENCHMARK(BM_TransformPlain);
BENCHMARK(BM_TransformSse2);

}  // namespace
