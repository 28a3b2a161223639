// Picture decoding speed on the largest conformance movie, next to a plain
// copy of the same planes (the least any decoder has to write). VEMO_CPU=c,
// sse2 or avx2 runs everything at that CPU mask level.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vemo/container.h"
#include "vemo/video_decoder.h"
#include "video/video_internal.h"

// The test suite's plane writer builds the synthetic movies below.
#include "../tests/video/plane_builder.cpp"

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

// A synthetic stream at a broadcast size with a realistic mix: mostly skip
// and motion blocks, some fills, patterns, intra and inter transform
// blocks and residue blocks; the first frame is all fills and intra blocks.
struct SyntheticMovie {
    uint32_t width, height;
    std::vector<std::vector<uint8_t>> frames;  // video parts, version "i"
};

void PutFewCoefficients(vemo::test::Bits& bits, uint32_t q) {
    bits.Put(2, 4);  // two passes
    for (int i = 0; i < 3; ++i) bits.PutBit(0);
    bits.PutBit(1);
    bits.Put(3, 2);  // scan 1: -3
    bits.PutBit(0);
    bits.PutBit(0);
    for (int i = 0; i < 3; ++i) bits.PutBit(0);
    bits.PutBit(1);
    bits.PutBit(0);  // scan 2: +1
    bits.PutBit(0);
    bits.Put(q, 4);
}

std::vector<uint8_t> SyntheticPlane(uint32_t width, uint32_t height, bool key, uint32_t seed) {
    using vemo::test::Row;
    std::vector<Row> rows(height / 8);
    uint32_t r = seed;
    auto next = [&r]() {
        r = r * 1664525u + 1013904223u;
        return r >> 8;
    };
    for (Row& row : rows) {
        for (uint32_t x = 0; x < width / 8; ++x) {
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
            row.values[vemo::kBundleBlockTypes].push_back(type);
            const int dx = static_cast<int>(next() % 7) - 3, dy = static_cast<int>(next() % 5) - 2;
            switch (type) {
                case 2:
                case 4:
                case 7:
                    row.values[vemo::kBundleMotionX].push_back(x == 0 && dx < 0 ? 0 : dx);
                    row.values[vemo::kBundleMotionY].push_back(dy);
                    break;
                default:
                    break;
            }
            switch (type) {
                case 6:
                    row.values[vemo::kBundleColours].push_back(static_cast<int>(next() % 256));
                    break;
                case 8:
                    row.values[vemo::kBundleColours].push_back(static_cast<int>(next() % 256));
                    row.values[vemo::kBundleColours].push_back(static_cast<int>(next() % 256));
                    for (int k = 0; k < 8; ++k)
                        row.values[vemo::kBundlePatterns].push_back(static_cast<int>(next() % 256));
                    break;
                case 5:
                    row.values[vemo::kBundleIntraDc].push_back(static_cast<int>(next() % 2048));
                    PutFewCoefficients(row.bits, next() % 16);
                    break;
                case 7:
                    row.values[vemo::kBundleInterDc].push_back(static_cast<int>(next() % 64) - 32);
                    PutFewCoefficients(row.bits, next() % 16);
                    break;
                case 4:
                    row.bits.Put(10, 7);  // budget
                    row.bits.Put(1, 3);   // mask 2, then 1
                    for (int i = 0; i < 3; ++i) row.bits.PutBit(0);
                    row.bits.PutBit(1);
                    for (int i = 0; i < 4; ++i) {
                        row.bits.PutBit(0);
                        row.bits.PutBit(next() & 1);
                    }
                    for (int i = 0; i < 4 + 3; ++i) row.bits.PutBit(0);
                    break;
                default:
                    break;
            }
        }
    }
    // Motion sources stay inside the plane: clamp offsets of edge blocks.
    for (size_t y = 0; y < rows.size(); ++y) {
        auto& dys = rows[y].values[vemo::kBundleMotionY];
        for (int& dy : dys) {
            if (y == 0 && dy < 0) dy = 0;
            if (y + 1 == rows.size() && dy > 0) dy = 0;
        }
        auto& dxs = rows[y].values[vemo::kBundleMotionX];
        const auto& types = rows[y].values[vemo::kBundleBlockTypes];
        size_t k = 0;
        for (size_t x = 0; x < types.size(); ++x) {
            if (types[x] != 2 && types[x] != 4 && types[x] != 7) continue;
            if (x + 1 == types.size() && dxs[k] > 0) dxs[k] = 0;
            if (x == 0 && dxs[k] < 0) dxs[k] = 0;
            ++k;
        }
    }
    return vemo::test::BuildPlane(width, rows);
}

const SyntheticMovie& Synthetic(uint32_t width, uint32_t height) {
    static std::vector<SyntheticMovie*> made;
    for (auto* m : made)
        if (m->width == width && m->height == height) return *m;
    auto* movie = new SyntheticMovie{width, height, {}};
    for (uint32_t f = 0; f < 8; ++f) {
        std::vector<uint8_t> video;
        const auto luma = SyntheticPlane(width, height, f == 0, 11 + f);
        uint8_t size[4];
        vemo::StoreLe32(size, static_cast<uint32_t>(luma.size()) + 4);
        video.insert(video.end(), size, size + 4);
        video.insert(video.end(), luma.begin(), luma.end());
        for (uint32_t c = 0; c < 2; ++c) {
            const auto chroma = SyntheticPlane(width / 2, height / 2, f == 0, 100 + 2 * f + c);
            video.insert(video.end(), chroma.begin(), chroma.end());
        }
        movie->frames.push_back(std::move(video));
    }
    made.push_back(movie);
    return *movie;
}

void BM_DecodeSynthetic(benchmark::State& state) {
    const uint32_t w = static_cast<uint32_t>(state.range(0)),
                   h = static_cast<uint32_t>(state.range(1));
    const SyntheticMovie& movie = Synthetic(w, h);
    vemo::FramePlanes* planes = vemo::CreateFramePlanes(w, h, false, 0);
    vemo::BundleBuffers bundles;
    vemo::AllocateBundleBuffers(w, &bundles);
    const uint32_t across = vemo::BlocksAcross(w);
    std::vector<uint8_t> map(across * vemo::BlocksDown(h) + 16);
    uint64_t frames = 0;
    uint32_t faults = 0;
    for (auto _ : state) {
        for (const auto& video : movie.frames) {
            std::memset(map.data(), 0, map.size());
            vemo::VideoReport report;
            benchmark::DoNotOptimize(vemo::DecodeFrameVideo(
                planes, map.data(), across, video.data(), static_cast<uint32_t>(video.size()),
                false, bundles, 0, 0, &report));
            faults |= report.faults;
            ++frames;
        }
    }
    if (faults) state.SkipWithError("the synthetic stream is malformed");
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    vemo::FreeBundleBuffers(&bundles);
    vemo::FreeFramePlanes(planes);
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
