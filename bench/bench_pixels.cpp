// Pixel conversion speed: every format on both paths for a 1280x720 frame,
// the packed path against the system's libyuv counterparts of formats 3-6,
// 10 and 13-15 (loaded at run time when it is installed), and the
// changed-blocks driver at 10 % changed blocks. YUY2 and UYVY also at
// 640x360, where the planes and the output stay in the second-level cache
// and the kernels rather than the memory traffic set the pace.
// VEMO_CPU=c, sse2 or avx2 runs everything at that CPU mask level.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "vemo/pixel_convert.h"

#if !defined(_WIN32) && __has_include(<dlfcn.h>)
#include <dlfcn.h>
#define VEMO_BENCH_DLOPEN 1
#endif

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr uint32_t kSmallWidth = 640, kSmallHeight = 360;

struct Frame {
    uint32_t width, height;
    std::vector<uint8_t> y, cr, cb, alpha, map;
    vemo::FramePlanes planes{};
    Frame(uint32_t w, uint32_t h) : width(w), height(h) {
        std::mt19937 rng(7);
        y.resize(size_t{w} * h);
        cr.resize(size_t{w / 2} * (h / 2));
        cb.resize(cr.size());
        alpha.resize(y.size());
        for (auto* v : {&y, &cr, &cb, &alpha})
            for (auto& b : *v) b = static_cast<uint8_t>(rng());
        planes.buffer_count = 1;
        planes.luma_width = w;
        planes.luma_height = h;
        planes.chroma_width = w / 2;
        planes.chroma_height = h / 2;
        planes.buffer[0][vemo::kPlaneY] = {1, y.data(), w};
        planes.buffer[0][vemo::kPlaneCr] = {1, cr.data(), w / 2};
        planes.buffer[0][vemo::kPlaneCb] = {1, cb.data(), w / 2};
        planes.buffer[0][vemo::kPlaneAlpha] = {1, alpha.data(), w};
        // One block in ten changed.
        map.assign(size_t{w / 16} * (h / 16), 0);
        for (size_t i = 0; i < map.size(); i += 10) map[i] = 1;
    }
};

const Frame& TheFrame() {
    static const Frame f(kWidth, kHeight);
    return f;
}
const Frame& SmallFrame() {
    static const Frame f(kSmallWidth, kSmallHeight);
    return f;
}

void Convert(benchmark::State& st, uint32_t format, vemo::PixelPath path, uint32_t extra,
             bool changed_only, const Frame& f = TheFrame()) {
    const uint32_t w = f.width, h = f.height;
    const uint32_t bpp = vemo::SurfaceBytesPerPixel(format);
    const uint32_t pitch = w * bpp;
    std::vector<uint8_t> out(vemo::SurfaceBufferSize(format, pitch, h));
    vemo::ConverterState state;
    state.set_path(path);
    vemo::FrameSource source;
    source.planes = &f.planes;
    source.movie_width = source.coded_width = w;
    source.movie_height = source.coded_height = h;
    source.change_map = f.map.data();
    source.change_map_stride = w / 16;
    source.unchanged_areas = static_cast<uint32_t>(f.map.size() * 9 / 10);
    source.full_copy_threshold = static_cast<uint32_t>(f.map.size() / 4);
    vemo::CopyRequest request;
    request.destination = out.data();
    request.pitch = static_cast<int32_t>(pitch);
    request.destination_height = h;
    request.source_width = w;
    request.source_height = h;
    request.flags = format | extra | (changed_only ? 0 : vemo::kCopyAll);
    for (auto _ : st) {
        vemo::ConvertFrame(state, source, request);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * w * h);
}

void BM_Table(benchmark::State& st) {
    Convert(st, static_cast<uint32_t>(st.range(0)), vemo::PixelPath::kTable, 0, false);
}
void BM_Packed(benchmark::State& st) {
    Convert(st, static_cast<uint32_t>(st.range(0)), vemo::PixelPath::kPacked, 0, false);
}
BENCHMARK(BM_Table)->DenseRange(0, 15)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Packed)->DenseRange(0, 15)->Unit(benchmark::kMicrosecond);

void BM_Packed640x360(benchmark::State& st) {
    Convert(st, static_cast<uint32_t>(st.range(0)), vemo::PixelPath::kPacked, 0, false,
            SmallFrame());
}
BENCHMARK(BM_Packed640x360)->DenseRange(13, 14)->Unit(benchmark::kMicrosecond);

void BM_PackedChangedBlocks10Percent(benchmark::State& st) {
    Convert(st, vemo::kSurfaceXrgb32, vemo::PixelPath::kPacked, 0, true);
}
void BM_PackedFullCopy(benchmark::State& st) {
    Convert(st, vemo::kSurfaceXrgb32, vemo::PixelPath::kPacked, 0, false);
}
BENCHMARK(BM_PackedChangedBlocks10Percent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PackedFullCopy)->Unit(benchmark::kMicrosecond);

#ifdef VEMO_BENCH_DLOPEN
using I420ToArgbFn = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int,
                             uint8_t*, int, int, int);
using I420ToRgb565Fn = I420ToArgbFn;
using I420ToYuy2Fn = I420ToArgbFn;

void* LibYuv() {
    static void* handle = dlopen("libyuv.so.0", RTLD_NOW);
    return handle;
}

void Reference(benchmark::State& st, const char* symbol, uint32_t bpp,
               const Frame& f = TheFrame()) {
    void* lib = LibYuv();
    auto fn = lib ? reinterpret_cast<I420ToArgbFn>(dlsym(lib, symbol)) : nullptr;
    if (!fn) {
        st.SkipWithError("libyuv is not installed");
        return;
    }
    const uint32_t w = f.width, h = f.height;
    std::vector<uint8_t> out(size_t{w} * h * bpp);
    for (auto _ : st) {
        fn(f.y.data(), w, f.cb.data(), w / 2, f.cr.data(), w / 2, out.data(),
           static_cast<int>(w * bpp), w, h);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * w * h);
}

// The counterparts of our formats: 3 I420ToARGB, 4 I420ToABGR, 10
// I420ToRGB565, 13 I420ToYUY2, 14 I420ToUYVY.
void BM_LibyuvI420ToARGB(benchmark::State& st) {
    Reference(st, "I420ToARGB", 4);
}
void BM_LibyuvI420ToABGR(benchmark::State& st) {
    Reference(st, "I420ToABGR", 4);
}
void BM_LibyuvI420ToRGB565(benchmark::State& st) {
    Reference(st, "I420ToRGB565", 2);
}
void BM_LibyuvI420ToYUY2(benchmark::State& st) {
    Reference(st, "I420ToYUY2", 2);
}
void BM_LibyuvI420ToUYVY(benchmark::State& st) {
    Reference(st, "I420ToUYVY", 2);
}
BENCHMARK(BM_LibyuvI420ToARGB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvI420ToABGR)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvI420ToRGB565)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvI420ToYUY2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvI420ToUYVY)->Unit(benchmark::kMicrosecond);
void BM_Libyuv640x360I420ToYUY2(benchmark::State& st) {
    Reference(st, "I420ToYUY2", 2, SmallFrame());
}
void BM_Libyuv640x360I420ToUYVY(benchmark::State& st) {
    Reference(st, "I420ToUYVY", 2, SmallFrame());
}
BENCHMARK(BM_Libyuv640x360I420ToYUY2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libyuv640x360I420ToUYVY)->Unit(benchmark::kMicrosecond);

// Formats 5 and 6 (with the alpha plane): I420AlphaToARGB and
// I420AlphaToABGR without attenuation.
using I420AlphaFn = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int,
                            const uint8_t*, int, uint8_t*, int, int, int, int);
void ReferenceAlpha(benchmark::State& st, const char* symbol) {
    void* lib = LibYuv();
    auto fn = lib ? reinterpret_cast<I420AlphaFn>(dlsym(lib, symbol)) : nullptr;
    if (!fn) {
        st.SkipWithError("libyuv is not installed");
        return;
    }
    const Frame& f = TheFrame();
    std::vector<uint8_t> out(size_t{kWidth} * kHeight * 4);
    for (auto _ : st) {
        fn(f.y.data(), kWidth, f.cb.data(), kWidth / 2, f.cr.data(), kWidth / 2, f.alpha.data(),
           kWidth, out.data(), static_cast<int>(kWidth * 4), kWidth, kHeight, 0);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kWidth * kHeight);
}
void BM_LibyuvI420AlphaToARGB(benchmark::State& st) {
    ReferenceAlpha(st, "I420AlphaToARGB");
}
void BM_LibyuvI420AlphaToABGR(benchmark::State& st) {
    ReferenceAlpha(st, "I420AlphaToABGR");
}
BENCHMARK(BM_LibyuvI420AlphaToARGB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvI420AlphaToABGR)->Unit(benchmark::kMicrosecond);

// Format 15: I420Copy into the same planar layout (luma, then V, then U).
using I420CopyFn = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int, uint8_t*,
                           int, uint8_t*, int, uint8_t*, int, int, int);
void BM_LibyuvI420Copy(benchmark::State& st) {
    void* lib = LibYuv();
    auto fn = lib ? reinterpret_cast<I420CopyFn>(dlsym(lib, "I420Copy")) : nullptr;
    if (!fn) {
        st.SkipWithError("libyuv is not installed");
        return;
    }
    const Frame& f = TheFrame();
    std::vector<uint8_t> out(vemo::SurfaceBufferSize(vemo::kSurfaceYv12, kWidth, kHeight));
    uint8_t* v = out.data() + size_t{kWidth} * kHeight;
    uint8_t* u = v + size_t{kWidth / 2} * (kHeight / 2);
    for (auto _ : st) {
        fn(f.y.data(), kWidth, f.cb.data(), kWidth / 2, f.cr.data(), kWidth / 2, out.data(), kWidth,
           u, kWidth / 2, v, kWidth / 2, kWidth, kHeight);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_LibyuvI420Copy)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
