// The SIMD group kernels of the packed path against the plain lane model:
// random planes, every format, start column and width.
#include <gtest/gtest.h>

#include <random>

#include "pixels_internal.h"
#include "pixels_test_util.h"

namespace vemo {
namespace {

std::vector<uint8_t> ConvertWith(const test::OwnedPlanes& p, uint32_t flags, uint32_t left,
                                 uint32_t top, uint32_t width, uint32_t height, int level) {
    ForcePackedKernels(level);
    ConverterState state;
    state.set_path(PixelPath::kPacked);
    const uint32_t pitch = 64 * 8 * 2;
    std::vector<uint8_t> out(pitch * 8, 0x5A);
    FrameSource source;
    source.planes = &p.planes;
    source.movie_width = source.coded_width = 64;
    source.movie_height = source.coded_height = 6;
    CopyRequest request;
    request.destination = out.data();
    request.pitch = pitch;
    request.destination_height = 8;
    request.source_left = left;
    request.source_top = top;
    request.source_width = width;
    request.source_height = height;
    request.flags = flags | kCopyAll;
    ConvertFrame(state, source, request);
    ForcePackedKernels(-1);
    return out;
}

TEST(PixelSimd, KernelsMatchTheLaneModel) {
    ForcePackedKernels(-1);
    const int best = PackedKernelLevel();
    if (best == 0) {
        GTEST_SKIP() << "no SIMD kernels on this processor";
    }
    std::mt19937 rng(12345);
    test::OwnedPlanes p;
    p.Init(64, 6, true, true);
    for (auto* v : {&p.y, &p.cr, &p.cb, &p.alpha})
        for (auto& b : *v) b = static_cast<uint8_t>(rng());
    int compared = 0;
    for (uint32_t format = 0; format <= 14; ++format) {
        for (uint32_t extra : {0u, 0x30000000u, kCopySwapChroma}) {
            for (uint32_t left = 0; left < 16; ++left) {
                for (uint32_t width = 1; left + width <= 64; width += (width < 24 ? 1 : 7)) {
                    const uint32_t flags = format | extra;
                    const uint32_t top = left & 1;
                    const auto model = ConvertWith(p, flags, left, top, width, 3, 0);
                    for (int level = 1; level <= best; ++level) {
                        const auto simd = ConvertWith(p, flags, left, top, width, 3, level);
                        ASSERT_EQ(model, simd)
                            << "level " << level << " format " << format << " flags " << std::hex
                            << flags << std::dec << " left " << left << " width " << width;
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 1000);
}

}  // namespace
}  // namespace vemo
