// Float-to-PCM under every CPU mask level: any count, with the groups
// through the kernel table and the rest through the plain kernel, equals the
// plain conversion and writes nothing past the count.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "cpu_levels.h"
#include "pcm.h"

namespace vemo::audio {
namespace {

std::vector<float> Values(std::mt19937& rng, uint32_t count) {
    std::uniform_real_distribution<float> u(-50000.0f, 50000.0f);
    std::vector<float> v(count);
    for (uint32_t i = 0; i < count; ++i) {
        switch (rng() % 6) {
            case 0:
                v[i] = static_cast<float>(static_cast<int>(rng() % 2000) - 1000) + 0.5f;
                break;
            case 1:
                v[i] = (rng() & 1 ? 1 : -1) * std::numeric_limits<float>::infinity();
                break;
            case 2:
                v[i] = std::numeric_limits<float>::quiet_NaN();
                break;
            default:
                v[i] = u(rng);
                break;
        }
    }
    return v;
}

TEST(AudioPcmTable, AnyCountMatchesPlainAtEveryLevel) {
    std::mt19937 rng(3);
    const auto left = Values(rng, 2100), right = Values(rng, 2100);
    PcmKernels plain{};
    for (const test::CpuLevel& level : test::CpuLevels()) {
        test::ScopedCpuMask mask(level.mask);
        const PcmKernels& active = ActivePcmKernels();
        if (!plain.stereo)
            plain = active;  // the first level is the plain one
        else
            EXPECT_NE(active.stereo, plain.stereo) << level.name;
        for (uint32_t count : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 2048u, 2055u}) {
            for (float scale : {1.0f, 0.0441941738f}) {
                const uint32_t at = count % 5;  // unaligned starts as well
                std::vector<int16_t> want(2 * count + 16, 0x55), got(2 * count + 16, 0x55);
                ConvertStereoPlain(&left[at], &right[at], count, scale, want.data());
                ConvertStereo(&left[at], &right[at], count, scale, got.data());
                ASSERT_EQ(want, got) << level.name << " stereo count " << count;
                std::fill(want.begin(), want.end(), 0x55);
                std::fill(got.begin(), got.end(), 0x55);
                ConvertMonoPlain(&left[at], count, scale, want.data());
                ConvertMono(&left[at], count, scale, got.data());
                ASSERT_EQ(want, got) << level.name << " mono count " << count;
            }
        }
    }
    EXPECT_EQ(ConvertSample(std::numeric_limits<float>::quiet_NaN(), 1.0f), -32768);
}

}  // namespace
}  // namespace vemo::audio
