// Sizes, thresholds and levels shared by the back ends.
#include "sound_rules.h"

#include <gtest/gtest.h>

namespace vemo::sound {
namespace {

const SoundMovieInfo kLongMovie{3000, 30, 1};  // 100 seconds

TEST(LoopingSizes, Mono8Bit22050) {
    const LoopingSizes s = ComputeLoopingSizes(22050, 8, 1, kLongMovie);
    EXPECT_EQ(s.bytes_per_second, 22050u);
    EXPECT_EQ(s.buffer_size, 13312u);
    EXPECT_EQ(s.chunk_size, 1280u);
    EXPECT_EQ(s.core_chunk_bytes, 2560u);
    EXPECT_EQ(s.ninety_percent, 11980u);
    EXPECT_EQ(s.start_threshold, 13312u);  // capped at the buffer
}

TEST(LoopingSizes, Stereo16Bit48000) {
    const LoopingSizes s = ComputeLoopingSizes(48000, 16, 2, kLongMovie);
    EXPECT_EQ(s.buffer_size, 115712u);
    EXPECT_EQ(s.chunk_size, 9728u);
    EXPECT_EQ(s.ninety_percent, 104140u);
    EXPECT_EQ(s.start_threshold, 115712u);
    EXPECT_EQ(s.core_chunk_bytes, 9728u);
}

TEST(LoopingSizes, StartThresholdWithoutRateOrWithShortSound) {
    const SoundMovieInfo no_rate{3000, 0, 0};
    EXPECT_EQ(ComputeLoopingSizes(48000, 16, 2, no_rate).start_threshold, 9728u);
    const SoundMovieInfo short_movie{3, 30, 1};  // 0.1 s
    EXPECT_EQ(ComputeLoopingSizes(48000, 16, 2, short_movie).start_threshold, 19200u);
}

TEST(QueuedSizes, Mono8Bit22050) {
    const QueuedSizes s = ComputeQueuedSizes(22050, 8, 1, kLongMovie);
    EXPECT_EQ(s.buffer_size, 1408u);
    EXPECT_EQ(s.start_threshold, 11040u);
    EXPECT_EQ(s.core_chunk_bytes, 2816u);
}

TEST(QueuedSizes, Stereo16Bit48000AndShortSound) {
    const QueuedSizes s = ComputeQueuedSizes(48000, 16, 2, kLongMovie);
    EXPECT_EQ(s.buffer_size, 12000u);
    EXPECT_EQ(s.start_threshold, 96000u);
    EXPECT_EQ(s.buffer_memory, 192576u);
    EXPECT_EQ(s.core_chunk_bytes, 12000u);
    // 4000 bytes of sound in all: 1000 frames of 1/1000 s at 4 bytes/s... the
    // movie's whole sound bounds the threshold.
    const SoundMovieInfo tiny{1, 48, 1};  // 1/48 s of 192000 B/s = 4000 bytes
    EXPECT_EQ(ComputeQueuedSizes(48000, 16, 2, tiny).start_threshold, 4000u);
    const SoundMovieInfo no_rate{10, 0, 1};  // one second's worth
    EXPECT_EQ(ComputeQueuedSizes(48000, 16, 2, no_rate).total_sound, 192000u);
}

TEST(SoundLevels, VolumeInHundredthsOfADecibel) {
    EXPECT_EQ(VolumeToHundredthsDb(32767), 0);
    EXPECT_EQ(VolumeToHundredthsDb(65535), 0);
    EXPECT_EQ(VolumeToHundredthsDb(16384), -1003);
    EXPECT_EQ(VolumeToHundredthsDb(1), -10000);
    EXPECT_EQ(VolumeToHundredthsDb(0), -10000);
    EXPECT_EQ(VolumeToHundredthsDb(3277), -3333);  // a tenth: -20 dB
}

TEST(SoundLevels, PanInHundredthsOfADecibel) {
    EXPECT_EQ(PanToHundredthsDb(0), -10000);
    EXPECT_EQ(PanToHundredthsDb(32768), 0);
    EXPECT_EQ(PanToHundredthsDb(32767), 0);  // -0.3 truncated toward zero
    EXPECT_EQ(PanToHundredthsDb(65536), 10000);
    EXPECT_EQ(PanToHundredthsDb(100000), 10000);
    EXPECT_EQ(PanToHundredthsDb(16384), -5000);
}

TEST(SoundLevels, LoopingGains) {
    double left = 0, right = 0;
    LoopingChannelGains(0, 0, &left, &right);
    EXPECT_DOUBLE_EQ(left, 1.0);
    EXPECT_DOUBLE_EQ(right, 1.0);
    LoopingChannelGains(-10000, 0, &left, &right);
    EXPECT_EQ(left, 0.0);
    EXPECT_EQ(right, 0.0);
    LoopingChannelGains(0, -10000, &left, &right);  // left only
    EXPECT_DOUBLE_EQ(left, 1.0);
    EXPECT_EQ(right, 0.0);
    LoopingChannelGains(-600, 600, &left, &right);  // -6 dB, panned right by 6 dB
    EXPECT_NEAR(right, 0.501, 0.001);
    EXPECT_NEAR(left, 0.251, 0.001);
}

TEST(SoundLevels, QueuedVolumeAndPan) {
    EXPECT_EQ(QueuedVolume(65535), 32767u);
    EXPECT_EQ(QueuedVolume(100000), 32767u);
    EXPECT_EQ(QueuedVolume(0), 0u);
    uint32_t left = 0, right = 0;
    QueuedChannelLevels(32767, 0, &left, &right);
    EXPECT_EQ(left, 32767u);
    EXPECT_EQ(right, 0u);
    QueuedChannelLevels(32767, 65536, &left, &right);
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(right, 32767u);
    QueuedChannelLevels(32767, 32767, &left, &right);
    EXPECT_EQ(left, 32767u);
    EXPECT_EQ(right, 32767u);
    QueuedChannelLevels(32767, 32768, &left, &right);
    EXPECT_EQ(left, 32766u);
    EXPECT_EQ(right, 32767u);
    QueuedChannelLevels(32767, 70000, &left, &right);  // capped at 65536
    EXPECT_EQ(left, 0u);
}

}  // namespace
}  // namespace vemo::sound
