// Picture decoding speed on the largest conformance movie, next to a plain
// copy of the same planes (the least any decoder has to write). VEMO_CPU=c,
// sse2 or avx2 runs everything at that CPU mask level.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vemo/frame_decoder.h"
#include "vemo/movie_reader.h"
#include "vemo/video_decoder.h"
#include "vemo/video_writer.h"
#include "video_internal.h"

namespace {

std::string ConformanceMovie(const char* name) {
    if (const char* dir = std::getenv("VEMO_CONFORMANCE_DIR")) return std::string(dir) + "/" + name;
    std::string here = __FILE__;  // .../bench/bench_video.cpp
    here = here.substr(0, here.find_last_of('/'));
    return here + "/../../shared/conformance/" + name;
}

// The video parts of every frame, read once.
struct Movie {
    vemo::MovieReader data;
    std::vector<std::vector<uint8_t>> video;  // per frame
    bool ok = false;
    explicit Movie(const char* name) {
        if (!data.Open(ConformanceMovie(name))) return;
        for (uint32_t i = 0; i < data.header().frames; ++i) {
            const uint8_t* v;
            uint32_t vs;
            if (!data.VideoPart(i, &v, &vs)) return;
            video.emplace_back(v, v + vs);
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
    vemo::FrameDecoderSettings settings = vemo::DecoderSettingsFor(movie.data, false);
    settings.all_key_frames = false;
    vemo::FrameDecoder decoder;
    if (!decoder.Open(settings)) {
        state.SkipWithError("no memory for the picture");
        return;
    }
    uint64_t frames = 0;
    for (auto _ : state) {
        for (const auto& video : movie.video) {
            benchmark::DoNotOptimize(
                decoder.DecodeVideoPart(video.data(), static_cast<uint32_t>(video.size()), false));
            ++frames;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
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

// A synthetic stream at a broadcast size with a realistic mix: mostly skip
// and motion blocks, some fills, patterns, intra and inter transform
// blocks and residue blocks; the first frame is all fills and intra blocks.
struct SyntheticMovie {
    uint32_t width, height;
    std::vector<std::vector<uint8_t>> frames;  // video parts, version "i"
};

// A transform block with two coefficients: -3 at scan position 1, +1 at 2.
void FewCoefficients(int dc, int16_t coef[64]) {
    std::fill(coef, coef + 64, int16_t{0});
    coef[0] = static_cast<int16_t>(dc);
    coef[vemo::kCoefficientScan[1]] = -3;
    coef[vemo::kCoefficientScan[2]] = 1;
}

struct Lcg {
    uint32_t state;
    uint32_t operator()() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

// One block of the mix; motion sources stay inside the plane.
bool SyntheticBlock(vemo::PlaneWriter& out, bool key, bool left, bool right, bool top, bool bottom,
                    Lcg& next) {
    const uint32_t pick = next() % 100;
    int type;
    if (key)
        type = pick < 60 ? 6 : 5;
    else
        type = pick < 55   ? 0
               : pick < 75 ? 2
               : pick < 80 ? 6
               : pick < 85 ? 8
               : pick < 91 ? 5
               : pick < 96 ? 7
                           : 4;
    int dx = static_cast<int>(next() % 7) - 3, dy = static_cast<int>(next() % 5) - 2;
    if ((left && dx < 0) || (right && dx > 0)) dx = 0;
    if ((top && dy < 0) || (bottom && dy > 0)) dy = 0;
    int16_t coef[64];
    switch (type) {
        case 0:
            return out.Skip();
        case 2:
            return out.Motion(dx, dy);
        case 6:
            return out.Fill(static_cast<uint8_t>(next()));
        case 8: {
            const auto c0 = static_cast<uint8_t>(next()), c1 = static_cast<uint8_t>(next());
            uint8_t rows[8];
            for (uint8_t& row : rows) row = static_cast<uint8_t>(next());
            return out.Pattern(c0, c1, rows);
        }
        case 5: {
            FewCoefficients(static_cast<int>(next() % 2048), coef);
            return out.Intra(coef, static_cast<int>(next() % 16));
        }
        case 7: {
            FewCoefficients(static_cast<int>(next() % 64) - 32, coef);
            return out.Inter(dx, dy, coef, static_cast<int>(next() % 16));
        }
        default: {
            int8_t residue[64] = {};
            for (int i = 0; i < 4; ++i) residue[vemo::kCoefficientScan[i]] = next() & 1 ? 1 : -1;
            return out.Residue(dx, dy, residue);
        }
    }
}

std::vector<uint8_t> SyntheticPlane(uint32_t width, uint32_t height, bool key, uint32_t seed) {
    Lcg next{seed};
    vemo::PlaneWriter out(width, height);
    const uint32_t across = width / 8, down = height / 8;
    for (uint32_t y = 0; y < down; ++y)
        for (uint32_t x = 0; x < across; ++x)
            if (!SyntheticBlock(out, key, x == 0, x + 1 == across, y == 0, y + 1 == down, next))
                return {};
    return out.Finish();
}

const SyntheticMovie& Synthetic(uint32_t width, uint32_t height) {
    static std::vector<SyntheticMovie*> made;
    for (auto* m : made)
        if (m->width == width && m->height == height) return *m;
    auto* movie = new SyntheticMovie{width, height, {}};
    for (uint32_t f = 0; f < 8; ++f) {
        vemo::VideoPartPlanes planes;
        planes.luma = SyntheticPlane(width, height, f == 0, 11 + f);
        planes.cr = SyntheticPlane(width / 2, height / 2, f == 0, 100 + 2 * f);
        planes.cb = SyntheticPlane(width / 2, height / 2, f == 0, 101 + 2 * f);
        std::vector<uint8_t> video = vemo::WriteVideoPart(planes, false, true, false);
        movie->frames.push_back(std::move(video));
    }
    made.push_back(movie);
    return *movie;
}

void BM_DecodeSynthetic(benchmark::State& state) {
    const uint32_t w = static_cast<uint32_t>(state.range(0)),
                   h = static_cast<uint32_t>(state.range(1));
    const SyntheticMovie& movie = Synthetic(w, h);
    vemo::FrameDecoderSettings settings;
    settings.width = w;
    settings.height = h;
    vemo::FrameDecoder decoder;
    if (!decoder.Open(settings)) {
        state.SkipWithError("no memory for the picture");
        return;
    }
    uint64_t frames = 0;
    uint32_t faults = 0;
    for (auto _ : state) {
        for (const auto& video : movie.frames) {
            benchmark::DoNotOptimize(
                decoder.DecodeVideoPart(video.data(), static_cast<uint32_t>(video.size()), false));
            faults |= decoder.report().faults;
            ++frames;
        }
    }
    if (faults) state.SkipWithError("the synthetic stream is malformed");
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeSynthetic)->Args({720, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

// Plain copies of the planes of the same sizes, for the ratio.
void BM_CopyPlanes(benchmark::State& state) {
    const uint32_t w = static_cast<uint32_t>(state.range(0)),
                   h = static_cast<uint32_t>(state.range(1));
    vemo::FramePlanes* planes = vemo::CreateFramePlanes(w, h, false, 0);
    const size_t luma = size_t(planes->luma_width) * planes->luma_height;
    const size_t chroma = size_t(planes->chroma_width) * planes->chroma_height;
    uint64_t frames = 0;
    for (auto _ : state) {
        const auto* from = planes->buffer[frames & 1];
        auto* to = planes->buffer[(frames & 1) ^ 1];
        std::memcpy(to[vemo::kPlaneY].samples, from[vemo::kPlaneY].samples, luma);
        std::memcpy(to[vemo::kPlaneCr].samples, from[vemo::kPlaneCr].samples, chroma);
        std::memcpy(to[vemo::kPlaneCb].samples, from[vemo::kPlaneCb].samples, chroma);
        benchmark::ClobberMemory();
        ++frames;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    vemo::FreeFramePlanes(planes);
}
BENCHMARK(BM_CopyPlanes)->Args({720, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

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
