// The null and file devices on the test clock: start threshold, playing at
// the sample rate, running dry, pause, on and off, and the WAV they write.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_track.h"
#include "test_util.h"
#include "vemo/sound_headless.h"
#include "vemo/timer.h"

namespace vemo {
namespace {

class HeadlessSound : public ::testing::Test {
  protected:
    void SetUp() override { UseTestClock(true, 5000); }
    void TearDown() override { UseTestClock(false); }

    static bool Feed(test::OpenTrack& d, uint32_t n, uint8_t fill = 0x11) {
        return d.Feed(n, fill);
    }
};

const SoundMovieInfo kTenSeconds{300, 30, 1};

TEST_F(HeadlessSound, NullDeviceWaitsForTheStartThresholdThenPlaysAtItsRate) {
    const SoundBackEnd* back_end = GetNullSoundOpener(nullptr);
    ASSERT_NE(back_end, nullptr);
    EXPECT_STREQ(back_end->name, "null");
    EXPECT_EQ(back_end->outputs, nullptr);
    // 22050 Hz 8-bit mono: loop 13312, chunk 1280 (2560 ring bytes).
    test::OpenTrack d(back_end, 22050, 8, 1, kTenSeconds);
    ASSERT_TRUE(d.is_open());
    EXPECT_EQ(d.info().chunk_bytes, 2560u);
    EXPECT_EQ(d.info().rate, 22050u);
    EXPECT_EQ(d.track.eight_bit_output, 1u);
    // Ten chunks (12800 bytes) are below the threshold (13312): nothing plays.
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(Feed(d, 1280));
    AdvanceTestClock(1000);
    EXPECT_TRUE(Feed(d, 512));  // 13312: starts now
    // The loop is full: not ready until a chunk's worth has played.
    EXPECT_FALSE(d.Ready());
    AdvanceTestClock(57);  // 1256 bytes
    EXPECT_FALSE(d.Ready());
    AdvanceTestClock(1);  // 1278 bytes
    EXPECT_FALSE(d.Ready());
    AdvanceTestClock(1);  // 1300 bytes
    EXPECT_TRUE(d.Ready());
    EXPECT_EQ(d.TakeRanDry(), 0u);
    d.Close();
}

TEST_F(HeadlessSound, RunsDryAndWaitsForTheThresholdAgain) {
    const SoundMovieInfo no_rate{300, 0, 0};  // starts after one chunk
    test::OpenTrack d(GetNullSoundOpener(nullptr), 48000, 16, 2, no_rate);
    ASSERT_TRUE(d.is_open());
    ASSERT_TRUE(Feed(d, 9728));  // one chunk of 9728: 50.67 ms
    AdvanceTestClock(50);
    EXPECT_TRUE(d.Ready());
    EXPECT_EQ(d.TakeRanDry(), 0u);
    AdvanceTestClock(1);
    EXPECT_TRUE(d.Ready());
    EXPECT_EQ(d.TakeRanDry(), 1u);
    EXPECT_EQ(d.TakeRanDry(), 0u);  // taking the report clears it
    // Prebuffering again: a short commit does not start the clock, and the
    // next chunk offered is the rest of the threshold.
    ASSERT_TRUE(Feed(d, 4000));
    AdvanceTestClock(1000);
    d.Ready();
    EXPECT_EQ(d.TakeRanDry(), 0u);
    uint8_t* chunk = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(d.Ready());
    ASSERT_EQ(d.GetChunk(&chunk, &size), 1);
    EXPECT_EQ(size, 5728u);
    d.Commit(size);        // 9728: started
    AdvanceTestClock(50);  // 9600 bytes played
    d.Ready();
    EXPECT_EQ(d.TakeRanDry(), 0u);
    AdvanceTestClock(1);
    d.Ready();
    EXPECT_EQ(d.TakeRanDry(), 1u);
}

TEST_F(HeadlessSound, PauseStopsTheClockAndOffDropsTheQueue) {
    const SoundMovieInfo no_rate{300, 0, 0};
    test::OpenTrack d(GetNullSoundOpener(nullptr), 48000, 16, 2, no_rate);
    ASSERT_TRUE(d.is_open());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Feed(d, 9728));  // 152 ms
    AdvanceTestClock(100);
    EXPECT_EQ(d.Pause(1), 1);
    EXPECT_EQ(d.Pause(1), 1);  // twice
    EXPECT_FALSE(d.Ready());   // paused: never ready
    AdvanceTestClock(10000);
    EXPECT_EQ(d.Pause(0), 0);
    AdvanceTestClock(50);  // 150 ms played in all, still not dry
    EXPECT_TRUE(d.Ready());
    EXPECT_EQ(d.TakeRanDry(), 0u);

    EXPECT_EQ(d.On(0), 0);
    EXPECT_EQ(d.On(0), 0);
    EXPECT_FALSE(d.Ready());
    uint8_t* chunk = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(d.GetChunk(&chunk, &size), 0);
    AdvanceTestClock(1000);
    EXPECT_EQ(d.On(1), 1);
    EXPECT_TRUE(d.Ready());
    EXPECT_EQ(d.TakeRanDry(), 0u);  // the dropped queue was never "played"
}

std::vector<uint8_t> WavData(const std::vector<uint8_t>& wav) {
    if (wav.size() < 44) return {};
    return std::vector<uint8_t>(wav.begin() + 44, wav.end());
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    return v;
}

TEST_F(HeadlessSound, FileDeviceWritesWhatItPlays) {
    const std::string name = test::TempPath("played.wav");
    const SoundBackEnd* back_end = GetFileSoundOpener(const_cast<char*>(name.c_str()));
    ASSERT_NE(back_end, nullptr);
    test::OpenTrack d(back_end, 48000, 16, 2, kTenSeconds);
    test::OpenTrack second(back_end, 22050, 8, 1, kTenSeconds);
    ASSERT_TRUE(d.is_open());
    ASSERT_TRUE(second.is_open());
    for (int i = 0; i < 11; ++i) ASSERT_TRUE(Feed(d, 9728, static_cast<uint8_t>(i)));
    // Before the start the device asks for the rest of its threshold: 8704.
    ASSERT_TRUE(Feed(d, 9728, 11));
    EXPECT_FALSE(d.Ready());  // full, and playing from now on
    AdvanceTestClock(100);    // 19200 bytes played
    ASSERT_TRUE(Feed(d, 100, 0x77));
    ASSERT_TRUE(d.On(0) == 0);  // everything still queued is dropped
    ASSERT_TRUE(d.On(1) == 1);
    ASSERT_TRUE(Feed(d, 64, 0x55));
    d.Close();  // the rest of the queue is played out
    d.Close();  // harmless
    ASSERT_TRUE(Feed(second, 10, 0x80));
    second.Close();

    std::vector<uint8_t> wav;
    ASSERT_TRUE(test::ReadWholeFile(name, &wav));
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(Le(wav, 4, 4), wav.size() - 8);
    EXPECT_EQ(Le(wav, 22, 2), 2u);
    EXPECT_EQ(Le(wav, 24, 4), 48000u);
    EXPECT_EQ(Le(wav, 34, 2), 16u);
    EXPECT_EQ(Le(wav, 40, 4), wav.size() - 44);
    const std::vector<uint8_t> data = WavData(wav);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), 9728, static_cast<uint8_t>(i));
    expected.resize(19200);  // the 100 ms played before the switch
    expected.insert(expected.end(), 64, 0x55);
    EXPECT_EQ(data, expected);

    std::vector<uint8_t> wav2;
    ASSERT_TRUE(test::ReadWholeFile(SoundFileNameForTrack(name, 2), &wav2));
    EXPECT_EQ(Le(wav2, 34, 2), 8u);
    EXPECT_EQ(WavData(wav2), std::vector<uint8_t>(10, 0x80));
}

TEST(SoundFileNames, NumberedPerTrack) {
    EXPECT_EQ(SoundFileNameForTrack("out.wav", 1), "out.wav");
    EXPECT_EQ(SoundFileNameForTrack("out.wav", 2), "out.2.wav");
    EXPECT_EQ(SoundFileNameForTrack("OUT.WAV", 3), "OUT.3.wav");
    EXPECT_EQ(SoundFileNameForTrack("out", 2), "out.2.wav");
    EXPECT_EQ(GetFileSoundOpener(nullptr), nullptr);
    EXPECT_EQ(GetFileSoundOpener(const_cast<char*>("")), nullptr);
}

TEST(SoundFileNames, UnwritableFileFailsTheOpen) {
    const SoundBackEnd* back_end =
        GetFileSoundOpener(const_cast<char*>("/nonexistent-dir/x/out.wav"));
    ASSERT_NE(back_end, nullptr);
    SoundDeviceInfo info;
    EXPECT_EQ(back_end->open(22050, 16, 1, 0, kTenSeconds, &info), nullptr);
    EXPECT_EQ(back_end->open(22050, 12, 1, 0, kTenSeconds, &info), nullptr);  // bad format
    const uint32_t before = OpenSoundDriverCount();
    test::OpenTrack refused(back_end, 22050, 16, 1, kTenSeconds);
    EXPECT_FALSE(refused.is_open());
    EXPECT_EQ(OpenSoundDriverCount(), before);
}

// The whole path: a ring fed at the sound's own pace, the sound service and
// the file device; the WAV holds exactly the PCM, with no ran-dry report.
TEST_F(HeadlessSound, ServiceThroughTheFileDeviceKeepsEveryByte) {
    const std::string name = test::TempPath("pipeline.wav");
    const SoundMovieInfo movie{100, 25, 1};  // 4 seconds, 40 ms frames
    test::OpenTrack d(GetFileSoundOpener(const_cast<char*>(name.c_str())), 22050, 16, 1, movie);
    ASSERT_TRUE(d.is_open());
    EXPECT_EQ(d.track.alignment_mask, 0xFFFFFFFFu);
    d.track.end_of_sound_frame = EndOfSoundFrame(movie.frames, 25, 1);
    SoundRing& ring = d.track.ring;
    ASSERT_TRUE(ring.Allocate(SoundRing::SizeForTrack(22050 * 2)));
    // 22050 Hz mono 16-bit: 1764 bytes per 40 ms frame; the first frame
    // carries half a second more.
    std::vector<uint8_t> pcm;
    uint32_t seed = 1;
    SoundTrack* tracks[] = {&d.track};
    for (int frame = 1; frame <= 100; ++frame) {
        const uint32_t bytes = frame == 1 ? 1764 + 22050 : 1764;
        std::vector<uint8_t> part(bytes);
        for (uint8_t& b : part) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        pcm.insert(pcm.end(), part.begin(), part.end());
        ring.Append(part.data(), bytes);
        ServiceSoundTracks(tracks, 1, frame);
        AdvanceTestClock(40);
        ServiceSoundTracks(tracks, 1, frame);
        ASSERT_EQ(d.TakeRanDry(), 0u) << "frame " << frame;
    }
    // The movie is over: drain what is left, as the last frame does.
    for (int i = 0; i < 30; ++i) {
        ServiceSoundTracks(tracks, 1, 100);
        AdvanceTestClock(40);
    }
    EXPECT_EQ(ring.filled(), 0u);
    d.Close();
    std::vector<uint8_t> wav;
    ASSERT_TRUE(test::ReadWholeFile(name, &wav));
    EXPECT_TRUE(WavData(wav) == pcm) << "played " << wav.size() - 44 << " of " << pcm.size();
}

}  // namespace
}  // namespace vemo
