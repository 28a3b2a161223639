// Both SDL back ends played headless through SDL's disk audio driver: the
// PCM handed to the sound service comes out of the device whole and in
// order. These run in real time (about two seconds each).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "sound_sdl.h"
#include "test_track.h"
#include "test_util.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo {
namespace {

class SdlSound : public ::testing::Test {
  protected:
    void SetUp() override {
        // One file per test: ctest may run them at the same time.
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        disk_file_ = test::TempPath(std::string("sdl-disk-") + info->name() + ".raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", disk_file_.c_str(), 1);
    }

    // Plays seconds of pseudo-random 16-bit PCM as a movie of 25 frames per
    // second would: the first frame carries half a second extra, the rest
    // arrive on time; then the rest is drained and played out.
    // A pan other than 32767 is set right after the open.
    std::vector<uint8_t> Play(const SoundBackEnd* back_end, uint32_t rate, uint32_t channels,
                              uint32_t frames, uint32_t pan = 32767, uint32_t bits = 16) {
        const SoundMovieInfo movie{frames, 25, 1};
        test::OpenTrack d(back_end, rate, bits, channels, movie);
        if (!d.is_open()) return {};
        if (pan != 32767) d.Pan(pan);
        d.track.end_of_sound_frame = EndOfSoundFrame(frames, 25, 1);
        const uint32_t frame_bytes = rate / 25 * 2 * channels;
        SoundRing& ring = d.track.ring;
        EXPECT_TRUE(ring.Allocate(SoundRing::SizeForTrack(rate * 4 * channels)));
        std::vector<uint8_t> pcm;
        uint32_t seed = 7;
        SoundTrack* tracks[] = {&d.track};
        const uint32_t start = Milliseconds();
        uint32_t frame = 0;
        while (frame < frames || ring.filled() > 0) {
            if (frame < frames && Milliseconds() - start >= frame * 40) {
                ++frame;
                const uint32_t bytes = frame == 1 ? frame_bytes * 13 : frame_bytes;
                std::vector<uint8_t> part(bytes);
                for (uint8_t& b : part)
                    b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
                pcm.insert(pcm.end(), part.begin(), part.end());
                ring.Append(part.data(), bytes);
            }
            ServiceSoundTracks(tracks, 1, static_cast<int32_t>(frame));
            platform::SleepMilliseconds(5);
            if (Milliseconds() - start > 20000) break;
            if (d.TakeRanDry() != 0 && static_cast<int32_t>(frame) <= d.track.end_of_sound_frame)
                ran_dry_before_end_ = true;
        }
        EXPECT_EQ(ring.filled(), 0u);
        // Let the device play out what it holds.
        platform::SleepMilliseconds(900);
        d.Close();
        return pcm;
    }

    static bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle,
                         size_t* at) {
        const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
        *at = static_cast<size_t>(it - haystack.begin());
        return it != haystack.end();
    }

    std::string disk_file_;
    bool ran_dry_before_end_ = false;
};

TEST_F(SdlSound, LoopingBackEndPlaysThePcmWhole) {
    const SoundBackEnd* back_end = GetLoopingSoundOpener(nullptr);
    ASSERT_NE(back_end, nullptr);
    const std::vector<uint8_t> pcm = Play(back_end, 22050, 2, 30);
    ASSERT_FALSE(pcm.empty());
    EXPECT_FALSE(ran_dry_before_end_);
    std::vector<uint8_t> out;
    ASSERT_TRUE(test::ReadWholeFile(disk_file_, &out));
    size_t at = 0;
    EXPECT_TRUE(Contains(out, pcm, &at)) << out.size() << " bytes written";
    // Before the sound, the loop played its silence.
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + at, [](uint8_t b) { return b == 0; }));
}

TEST_F(SdlSound, QueuedBackEndPlaysThePcmWhole) {
    const SoundBackEnd* back_end = GetQueuedSoundOpener(nullptr);
    ASSERT_NE(back_end, nullptr);
    const std::vector<uint8_t> pcm = Play(back_end, 22050, 1, 30);
    ASSERT_FALSE(pcm.empty());
    EXPECT_FALSE(ran_dry_before_end_);
    std::vector<uint8_t> out;
    ASSERT_TRUE(test::ReadWholeFile(disk_file_, &out));
    size_t at = 0;
    EXPECT_TRUE(Contains(out, pcm, &at)) << out.size() << " bytes written";
}

// Pan 0 leaves only the left channel: the right samples come out as zeros,
// the left ones unchanged.
std::vector<uint8_t> LeftOnly(std::vector<uint8_t> pcm) {
    for (size_t i = 2; i + 1 < pcm.size(); i += 4) pcm[i] = pcm[i + 1] = 0;
    return pcm;
}

TEST_F(SdlSound, LoopingBackEndMixesThePan) {
    const std::vector<uint8_t> pcm = Play(GetLoopingSoundOpener(nullptr), 22050, 2, 15, 0);
    ASSERT_FALSE(pcm.empty());
    std::vector<uint8_t> out;
    ASSERT_TRUE(test::ReadWholeFile(disk_file_, &out));
    size_t at = 0;
    EXPECT_TRUE(Contains(out, LeftOnly(pcm), &at));
}

TEST_F(SdlSound, QueuedBackEndAppliesThePan) {
    const std::vector<uint8_t> pcm = Play(GetQueuedSoundOpener(nullptr), 22050, 2, 15, 0);
    ASSERT_FALSE(pcm.empty());
    std::vector<uint8_t> out;
    ASSERT_TRUE(test::ReadWholeFile(disk_file_, &out));
    size_t at = 0;
    EXPECT_TRUE(Contains(out, LeftOnly(pcm), &at));
}

TEST_F(SdlSound, LoopingBackEndPlaysEightBitSamples) {
    const std::vector<uint8_t> pcm = Play(GetLoopingSoundOpener(nullptr), 11025, 1, 15, 32767, 8);
    ASSERT_FALSE(pcm.empty());
    std::vector<uint8_t> expected(pcm.size() / 2);
    ConvertSamplesTo8Bit(expected.data(), pcm.data(), static_cast<uint32_t>(expected.size()));
    std::vector<uint8_t> out;
    ASSERT_TRUE(test::ReadWholeFile(disk_file_, &out));
    size_t at = 0;
    EXPECT_TRUE(Contains(out, expected, &at));
    // The loop's silence before the sound is 0x80 for 8-bit samples.
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + at, [](uint8_t b) { return b == 0x80; }));
}

// Nobody feeds the loop: the device goes round it and plays the old data
// again, and the next readiness check after the stall reports running dry.
TEST_F(SdlSound, AnUnfedLoopReplaysAndReportsRunningDry) {
    const SoundMovieInfo no_rate{100, 0, 0};  // starts after one chunk
    test::OpenTrack d(GetLoopingSoundOpener(nullptr), 22050, 16, 1, no_rate);
    ASSERT_TRUE(d.is_open());
    ASSERT_EQ(d.Ready(), 1);
    uint8_t* chunk = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(d.GetChunk(&chunk, &size), 1);
    ASSERT_EQ(size, 2304u);
    std::vector<uint8_t> pattern(size);
    for (uint32_t i = 0; i < size; ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 1);
    std::copy(pattern.begin(), pattern.end(), chunk);
    d.Commit(size);
    platform::SleepMilliseconds(1400);  // the loop (26624 bytes) lasts about 0.6 s
    d.Ready();
    EXPECT_EQ(d.TakeRanDry(), 1u);
    d.Close();
    std::vector<uint8_t> out;
    ASSERT_TRUE(test::ReadWholeFile(disk_file_, &out));
    int times = 0;
    for (auto it = out.begin();
         (it = std::search(it, out.end(), pattern.begin(), pattern.end())) != out.end(); ++it)
        ++times;
    EXPECT_GE(times, 2);
}

TEST_F(SdlSound, LoopingGetterRefusesAnotherDeviceWhileATrackIsOpen) {
    const SoundBackEnd* back_end = GetLoopingSoundOpener(nullptr);
    ASSERT_NE(back_end, nullptr);
    const SoundMovieInfo movie{100, 25, 1};
    test::OpenTrack d(back_end, 22050, 8, 1, movie);
    ASSERT_TRUE(d.is_open());
    EXPECT_EQ(d.info().chunk_bytes, 2560u);
    EXPECT_TRUE(back_end->caps & kSoundCapOutputs);
    EXPECT_NE(back_end->outputs, nullptr);
    EXPECT_NE(back_end->output_volumes, nullptr);
    // SDL's disk driver takes a device name as the file to write.
    const std::string other = test::TempPath("sdl-other-device.raw");
    char* other_device = const_cast<char*>(other.c_str());
    EXPECT_EQ(GetLoopingSoundOpener(other_device), nullptr);
    EXPECT_NE(GetLoopingSoundOpener(nullptr), nullptr);  // the same one is fine
    d.Close();
    // With no track open the request is recorded (the probe then decides).
    EXPECT_NE(GetLoopingSoundOpener(other_device), nullptr);
    test::OpenTrack on_other(GetLoopingSoundOpener(other_device), 22050, 8, 1, movie);
    ASSERT_TRUE(on_other.is_open());
    EXPECT_EQ(GetLoopingSoundOpener(nullptr), nullptr);  // now the default is another one
    on_other.Close();
    EXPECT_NE(GetLoopingSoundOpener(nullptr), nullptr);
}

TEST_F(SdlSound, QueuedBackEndOffAndOnReopensTheDevice) {
    const SoundBackEnd* back_end = GetQueuedSoundOpener(nullptr);
    ASSERT_NE(back_end, nullptr);
    const SoundMovieInfo movie{100, 25, 1};
    test::OpenTrack d(back_end, 22050, 8, 1, movie);
    ASSERT_TRUE(d.is_open());
    EXPECT_EQ(d.info().chunk_bytes, 2816u);
    EXPECT_FALSE(back_end->caps & kSoundCapOutputs);
    EXPECT_EQ(back_end->outputs, nullptr);
    EXPECT_EQ(d.On(0), 0);
    EXPECT_EQ(d.Ready(), 0);
    EXPECT_EQ(d.On(1), 1);
    EXPECT_EQ(d.Ready(), 1);
    EXPECT_EQ(d.Pause(1), 1);
    EXPECT_EQ(d.Ready(), 0);
    EXPECT_EQ(d.Pause(0), 0);
}

}  // namespace
}  // namespace vemo
