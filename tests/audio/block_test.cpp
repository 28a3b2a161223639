#include <gtest/gtest.h>

#include "vemo/audio_decoder.h"

namespace vemo {
namespace {

TEST(AudioGeometry, WorkedExamples) {
    AudioGeometry g;
    ASSERT_TRUE(ComputeAudioGeometry(48000, 2, true, &g));
    EXPECT_EQ(g.base_length, 2048u);
    EXPECT_EQ(g.transform_length, 2048u);
    EXPECT_EQ(g.coded_channels, 2u);
    EXPECT_EQ(g.half_rate, 24000u);
    EXPECT_EQ(g.band_count, 25u);
    const uint32_t e[26] = {1,  4,  8,   12,  17,  21,  26,  32,  39,  46,  54,  63,  73,
                            85, 98, 115, 134, 157, 187, 226, 273, 328, 405, 512, 661, 1024};
    for (int i = 0; i < 26; ++i) EXPECT_EQ(g.band_start[i], e[i]) << i;
    EXPECT_EQ(g.block_bytes, 8192u);
    EXPECT_EQ(g.delivered_bytes, 7680u);

    ASSERT_TRUE(ComputeAudioGeometry(22050, 1, false, &g));
    EXPECT_EQ(g.transform_length, 1024u);
    EXPECT_EQ(g.half_rate, 11025u);
    EXPECT_EQ(g.band_count, 23u);

    ASSERT_TRUE(ComputeAudioGeometry(44100, 2, false, &g));
    EXPECT_EQ(g.base_length, 2048u);
    EXPECT_EQ(g.transform_length, 4096u);
    EXPECT_EQ(g.coded_channels, 1u);
    EXPECT_EQ(g.effective_rate, 88200u);
    EXPECT_EQ(g.half_rate, 44100u);
    EXPECT_EQ(g.band_count, 25u);
    EXPECT_EQ(g.band_start[25], 2048u);
    EXPECT_FLOAT_EQ(g.output_scale, 2.0f / 64.0f);
}

TEST(AudioGeometry, QuantiserTableComesFromDoublePrecision) {
    EXPECT_EQ(AudioQuantiser(0), 1.0f);
    EXPECT_EQ(AudioQuantiser(1), 1.1651987f);
    EXPECT_EQ(AudioQuantiser(2), 1.3576881f);
    EXPECT_EQ(AudioQuantiser(95), 2032357.0f);
    EXPECT_EQ(AudioQuantiser(200), 2032357.0f);
}

}  // namespace
}  // namespace vemo
