// The looping-buffer and queued back ends' rules over scripted devices, on
// the test clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "looping_driver.h"
#include "queued_driver.h"
#include "vemo/timer.h"

namespace vemo::sound {
namespace {

// A loop whose cursors the test sets.
class ScriptedLoop : public LoopingDriver {
  public:
    ScriptedLoop(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie) {
        Setup(rate, bits, channels, movie);
        loop.assign(sizes().buffer_size, 0x33);
        Arm();
    }
    ~ScriptedLoop() override { CloseOnce(); }

    std::vector<uint8_t> loop;
    uint32_t play = 0, write = 0;
    bool device_playing = false;
    int plays = 0, stops = 0, releases = 0, cursor_reads = 0;
    uint32_t applied_rate = 0;
    int32_t applied_pan = 1, applied_volume = 1;

  protected:
    bool DeviceLock(uint32_t offset, uint32_t bytes, uint8_t** first, uint32_t* first_bytes,
                    uint8_t** second, uint32_t* second_bytes) override {
        const uint32_t b = static_cast<uint32_t>(loop.size());
        bytes = std::min(bytes, b);
        *first = loop.data() + offset;
        *first_bytes = std::min(bytes, b - offset);
        *second_bytes = bytes - *first_bytes;
        *second = *second_bytes != 0 ? loop.data() : nullptr;
        return true;
    }
    void DeviceUnlock(uint8_t*, uint32_t, uint8_t*, uint32_t) override {}
    void DeviceCursors(uint32_t* p, uint32_t* w) override {
        ++cursor_reads;
        *p = play;
        *w = write;
    }
    bool DevicePlay() override {
        ++plays;
        device_playing = true;
        return true;
    }
    bool DeviceStop() override {
        ++stops;
        device_playing = false;
        return true;
    }
    bool DeviceIsPlaying() override { return device_playing; }
    void DeviceSetPosition(uint32_t offset) override { play = write = offset; }
    void DeviceApply(uint32_t rate, int32_t pan_db, int32_t volume_db) override {
        applied_rate = rate;
        applied_pan = pan_db;
        applied_volume = volume_db;
    }
    void DeviceRelease() override { ++releases; }
};

class LoopingRules : public ::testing::Test {
  protected:
    void SetUp() override { UseTestClock(true, 1000); }
    void TearDown() override { UseTestClock(false); }

    // Writes n bytes through the operations; returns the chunk size offered.
    static uint32_t Write(LoopingDriver* d, uint32_t n, uint8_t value) {
        uint8_t* chunk = nullptr;
        uint32_t size = 0;
        if (!d->GetSoundChunk(&chunk, &size)) return 0;
        n = std::min(n, size);
        std::memset(chunk, value, n);
        d->CommitSoundChunk(n);
        return size;
    }
};

const SoundMovieInfo kLong{3000, 30, 1};

TEST_F(LoopingRules, OpensSilentAtFullVolumeWithTheThresholdArmed) {
    ScriptedLoop d(22050, 8, 1, kLong);
    EXPECT_EQ(d.info.chunk_bytes, 2560u);
    EXPECT_EQ(d.on, 1u);
    EXPECT_EQ(d.applied_rate, 22050u);
    EXPECT_EQ(d.applied_volume, 0);
    EXPECT_EQ(d.applied_pan, 0);  // 32767 is -0.3 hundredths: 0
    EXPECT_EQ(d.loop, std::vector<uint8_t>(13312, 0x80));
    EXPECT_EQ(d.bytes_to_write(), 13312u);
}

TEST_F(LoopingRules, PrebuffersTheThresholdThenPlays) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(48000, 16, 2, no_rate);  // threshold: one chunk (9728)
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(Write(&d, 4000, 1), 9728u);
    EXPECT_FALSE(d.playing());
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(Write(&d, 9728, 2), 5728u);  // the rest of the threshold
    EXPECT_TRUE(d.playing());
    EXPECT_EQ(d.plays, 1);
    EXPECT_EQ(d.write_position(), 9728u);
}

TEST_F(LoopingRules, TwoThousandBytesAheadLeaveNineHundredSeventySixUsable) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 8, 1, no_rate);  // threshold 1280
    Write(&d, 1280, 1);
    ASSERT_TRUE(d.playing());
    ASSERT_EQ(d.bytes_to_write(), 0u);
    // The play cursor is 2000 bytes ahead of the write position (1280).
    d.play = 3280;
    d.write = 3300;
    AdvanceTestClock(13);
    EXPECT_EQ(d.SoundReady(), 0);  // 976 usable is below one chunk
    // With a part of the previous amount left over, the smaller amount goes.
    d.play = 4001;  // writable 2721: usable 1696 >= one chunk
    AdvanceTestClock(13);
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.bytes_to_write(), 1696u);
    Write(&d, 1000, 2);  // 696 left to write
    d.play = 4280;       // 2000 ahead of 2280: usable 976 < chunk, previous 696
    AdvanceTestClock(13);
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.bytes_to_write(), 976u);
}

TEST_F(LoopingRules, FlushStartsAShortTrackAndSilencesOnlyWhatWasPlayed) {
    ScriptedLoop d(22050, 8, 1, kLong);  // B = 13312 = threshold, chunk 1280
    d.FlushSound();                      // nothing written: nothing starts
    EXPECT_FALSE(d.playing());
    Write(&d, 1280, 1);
    Write(&d, 1280, 2);
    ASSERT_FALSE(d.playing());
    d.FlushSound();
    ASSERT_TRUE(d.playing());
    EXPECT_EQ(d.plays, 1);
    EXPECT_EQ(d.loop[2559], 2);

    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop e(22050, 8, 1, no_rate);
    Write(&e, 1280, 1);
    ASSERT_TRUE(e.playing());
    // An old lap's bytes lie beyond the data; the cursor is 280 bytes short
    // of the data's end.
    std::fill(e.loop.begin() + 1280, e.loop.end(), 0x44);
    e.play = 1000;
    e.FlushSound();
    // From the end of the data round to the play cursor: silence; the data
    // ahead of the cursor is untouched.
    EXPECT_EQ(std::count(e.loop.begin() + 1280, e.loop.end(), 0x80), 13312 - 1280);
    EXPECT_EQ(std::count(e.loop.begin(), e.loop.begin() + 1000, 0x80), 1000);
    EXPECT_EQ(e.loop[1000], 1);
    EXPECT_EQ(e.loop[1279], 1);
    EXPECT_EQ(e.unplayed(), 280u);
    // The next flush silences what the cursor passed since, and only that.
    e.play = 1200;
    e.write = 1250;
    e.FlushSound();
    EXPECT_EQ(e.loop[1199], 0x80);
    EXPECT_EQ(e.loop[1200], 1);
    EXPECT_EQ(e.unplayed(), 80u);
    // 80 bytes short of the data's end is no running dry while flushed: the
    // tail is neither silenced nor written over.
    AdvanceTestClock(13);
    EXPECT_EQ(e.SoundReady(), 1);
    EXPECT_EQ(e.write_position(), 1280u);
    EXPECT_EQ(e.loop[1279], 1);
    EXPECT_EQ(e.ran_dry.load(), 0u);
    e.play = 1279;
    e.FlushSound();
    EXPECT_EQ(e.ran_dry.load(), 0u);
    e.play = 1280;  // all played
    e.FlushSound();
    EXPECT_EQ(e.ran_dry.load(), 1u);
    EXPECT_TRUE(e.flushing());
}

TEST_F(LoopingRules, AWriteAfterAFlushEndsIt) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 8, 1, no_rate);
    Write(&d, 1280, 1);
    ASSERT_TRUE(d.playing());
    d.play = 4000;
    d.FlushSound();
    EXPECT_TRUE(d.flushing());
    AdvanceTestClock(13);
    ASSERT_EQ(d.SoundReady(), 1);
    Write(&d, 1000, 3);
    EXPECT_FALSE(d.flushing());
    EXPECT_EQ(d.loop[1280], 3);  // straight after the earlier data
    // Paused, a flush neither starts nor silences anything.
    d.PauseSound(1);
    d.play = 6000;
    d.FlushSound();
    EXPECT_FALSE(d.flushing());
    EXPECT_EQ(d.loop[4000], 0x80);
}

TEST_F(LoopingRules, CursorsAreReadAtMostEvery12Milliseconds) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 8, 1, no_rate);
    Write(&d, 1280, 1);
    const int reads = d.cursor_reads;
    d.play = 5000;
    d.write = 5100;
    AdvanceTestClock(12);
    EXPECT_EQ(d.SoundReady(), 1);  // from the cursors read at the start (0)
    EXPECT_EQ(d.cursor_reads, reads);
    EXPECT_EQ(d.bytes_to_write(), 13312u - 1280u - 1024u);
    AdvanceTestClock(1);
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.cursor_reads, reads + 3);  // three readings make one
    EXPECT_EQ(d.bytes_to_write(), 5000u - 1280u - 1024u);
}

TEST_F(LoopingRules, ImplausibleReadingsAreNotKept) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 8, 1, no_rate);  // B = 13312
    Write(&d, 1280, 1);
    d.play = 8000;  // moved 8000
    d.write = 100;  // moved 100: they differ by more than B / 2
    AdvanceTestClock(20);
    EXPECT_EQ(d.SoundReady(), 0);
    d.write = 8100;
    AdvanceTestClock(1);
    EXPECT_EQ(d.SoundReady(), 1);
}

TEST_F(LoopingRules, RunningDryAtNinetyPercentFillsTwoChunksOfSilence) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 8, 1, no_rate);  // chunk 1280, 90 % = 11980
    Write(&d, 1280, 1);
    ASSERT_EQ(d.loop[0], 1);
    // The device has played round almost to the write position: 13000 ahead.
    d.play = 1000;
    d.write = 1100;
    d.loop.assign(d.loop.size(), 0x44);
    AdvanceTestClock(13);
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.ran_dry.load(), 1u);
    // Silence at the write cursor for two chunks, writing continues after it.
    for (uint32_t i = 1100; i < 1100 + 2560; ++i) ASSERT_EQ(d.loop[i], 0x80) << i;
    EXPECT_EQ(d.loop[1099], 0x44);
    EXPECT_EQ(d.loop[3660], 0x44);
    EXPECT_EQ(d.write_position(), 3660u);
    EXPECT_EQ(d.bytes_to_write(), (1000u + 13312u - 3660u - 1024u) & ~3u);
}

TEST_F(LoopingRules, AStallOf540MillisecondsRunsDry) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 8, 1, no_rate);
    Write(&d, 1280, 1);
    d.play = 4000;
    d.write = 4100;
    AdvanceTestClock(539);
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.ran_dry.load(), 0u);
    Write(&d, 1280, 2);
    d.play = 5000;
    d.write = 5100;
    AdvanceTestClock(540);  // plausible cursors, but a service pause this long
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.ran_dry.load(), 1u);
    EXPECT_EQ(d.write_position(), 5100u + 2560u);
}

TEST_F(LoopingRules, PauseOnOffAndClose) {
    const SoundMovieInfo no_rate{100, 0, 0};
    ScriptedLoop d(22050, 16, 2, no_rate);
    Write(&d, 100000, 1);
    ASSERT_TRUE(d.playing());
    EXPECT_EQ(d.PauseSound(1), 1);
    EXPECT_FALSE(d.device_playing);
    EXPECT_EQ(d.SoundReady(), 0);
    AdvanceTestClock(5000);
    EXPECT_EQ(d.PauseSound(0), 0);
    EXPECT_TRUE(d.device_playing);
    d.play = 200;
    d.write = 300;
    AdvanceTestClock(13);
    d.SoundReady();
    EXPECT_EQ(d.ran_dry.load(), 0u);  // the pause was no stall

    EXPECT_EQ(d.SetSoundOn(0), 0);
    EXPECT_FALSE(d.device_playing);
    EXPECT_EQ(d.play, 0u);
    EXPECT_EQ(d.loop, std::vector<uint8_t>(d.loop.size(), 0));
    EXPECT_EQ(d.SoundReady(), 0);
    EXPECT_EQ(d.SetSoundOn(1), 1);
    EXPECT_FALSE(d.playing());
    EXPECT_EQ(d.bytes_to_write(), d.sizes().start_threshold);
    EXPECT_EQ(d.write_position(), 0u);
    d.CloseSound();
    d.CloseSound();
    EXPECT_EQ(d.releases, 1);
    EXPECT_EQ(d.SoundReady(), 0);
}

TEST_F(LoopingRules, VolumePanAndOutputSlots) {
    ScriptedLoop d(44100, 16, 2, kLong);
    d.SetSoundVolume(16384);
    EXPECT_EQ(d.applied_volume, -1003);
    d.SetSoundVolume(100000);
    EXPECT_EQ(d.volume(), 32767u);
    EXPECT_EQ(d.applied_volume, 0);
    d.SetSoundPan(0);
    EXPECT_EQ(d.applied_pan, -10000);
    d.SetSoundPan(70000);
    EXPECT_EQ(d.pan(), 65536u);
    EXPECT_EQ(d.applied_pan, 10000);
    const uint32_t ids[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const uint32_t volumes[10] = {32767, 16384, 1, 0, 0, 0, 0, 0, 0, 0};
    d.SetSoundOutputs(ids, 10);
    EXPECT_EQ(d.output_count(), 8u);
    d.SetSoundOutputVolumes(ids, volumes, 3);
    EXPECT_EQ(d.output_volume_count(), 3u);
    EXPECT_EQ(d.output_volumes()[1], -1003);
    EXPECT_EQ(d.output_volumes()[2], -10000);
}

// Sixteen buffers whose playing the test decides.
class ScriptedQueue : public QueuedDriver {
  public:
    bool Open(uint32_t rate, uint32_t bits, uint32_t channels, const SoundMovieInfo& movie) {
        return Start(rate, bits, channels, movie);
    }
    ~ScriptedQueue() override { CloseOnce(); }

    struct Write {
        int index;
        uint32_t length;
        uint8_t first;
    };
    std::vector<Write> writes;
    bool played[kQueuedBuffers] = {};
    bool fail_open = false;
    int opens = 0, closes = 0;
    bool device_paused = false;
    uint32_t left = 0, right = 0;

    // The device finishes the oldest n queued buffers.
    void Play(size_t n) {
        for (size_t i = 0; i < n && next_ < writes.size(); ++i)
            played[writes[next_++].index] = true;
    }

  protected:
    bool DeviceOpen() override {
        ++opens;
        return !fail_open;
    }
    void DeviceClose() override {
        ++closes;
        next_ = writes.size();
    }
    void DeviceWrite(int index, const uint8_t* data, uint32_t length) override {
        played[index] = false;
        writes.push_back({index, length, data[0]});
    }
    void DeviceCollectDone(bool* done) override {
        for (int i = 0; i < kQueuedBuffers; ++i)
            if (played[i]) done[i] = true;
    }
    void DevicePause() override { device_paused = true; }
    void DeviceRestart() override { device_paused = false; }
    void DeviceSetVolume(uint32_t l, uint32_t r) override {
        left = l;
        right = r;
    }

  private:
    size_t next_ = 0;
};

uint32_t Feed(QueuedDriver* d, uint32_t n, uint8_t value) {
    if (!d->SoundReady()) return 0;
    uint8_t* chunk = nullptr;
    uint32_t size = 0;
    if (!d->GetSoundChunk(&chunk, &size)) return 0;
    n = std::min(n, size);
    std::memset(chunk, value, n);
    d->CommitSoundChunk(n);
    return n;
}

TEST(QueuedRules, StartsAtTheThresholdWithTheBuffersInOrder) {
    ScriptedQueue d;
    ASSERT_TRUE(d.Open(22050, 8, 1, kLong));
    EXPECT_EQ(d.info.chunk_bytes, 2816u);
    EXPECT_EQ(d.left, 32767u);
    EXPECT_EQ(d.right, 32767u);
    // 11040 bytes: seven full buffers of 1408 (9856) and 1184 more.
    for (int i = 0; i < 7; ++i) ASSERT_EQ(Feed(&d, 1408, static_cast<uint8_t>(10 + i)), 1408u);
    EXPECT_TRUE(d.writes.empty());
    EXPECT_FALSE(d.started());
    ASSERT_EQ(Feed(&d, 1184, 17), 1184u);
    EXPECT_TRUE(d.started());
    ASSERT_EQ(d.writes.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(d.writes[i].index, i);
        EXPECT_EQ(d.writes[i].first, 10 + i);
        EXPECT_EQ(d.writes[i].length, i < 7 ? 1408u : 1184u);
    }
    // After the start each commit is queued at once.
    ASSERT_EQ(Feed(&d, 1408, 18), 1408u);
    ASSERT_EQ(d.writes.size(), 9u);
    EXPECT_EQ(d.writes[8].index, 8);
}

TEST(QueuedRules, AShortMovieStartsWhenAllItsSoundIsCommitted) {
    ScriptedQueue d;
    const SoundMovieInfo tiny{1, 48, 1};  // 4000 bytes at 48000 Hz 16-bit stereo
    ASSERT_TRUE(d.Open(48000, 16, 2, tiny));
    EXPECT_EQ(d.sizes().start_threshold, 4000u);
    ASSERT_EQ(Feed(&d, 3000, 1), 3000u);
    EXPECT_FALSE(d.started());
    ASSERT_EQ(Feed(&d, 1000, 2), 1000u);
    EXPECT_TRUE(d.started());
    EXPECT_EQ(d.writes.size(), 2u);
}

TEST(QueuedRules, FlushQueuesWhatIsHeldBelowTheThreshold) {
    ScriptedQueue d;
    ASSERT_TRUE(d.Open(22050, 8, 1, kLong));  // buffer 1408, threshold 11040
    d.FlushSound();                           // nothing committed: nothing queued
    EXPECT_FALSE(d.started());
    ASSERT_EQ(Feed(&d, 1408, 1), 1408u);
    ASSERT_EQ(Feed(&d, 500, 2), 500u);
    d.FlushSound();
    EXPECT_TRUE(d.started());
    ASSERT_EQ(d.writes.size(), 2u);
    EXPECT_EQ(d.writes[1].length, 500u);
    EXPECT_EQ(d.writes[1].first, 2);
    d.FlushSound();  // once started every commit is queued at once anyway
    EXPECT_EQ(d.writes.size(), 2u);
    // After running dry a short tail waits for the threshold, until flushed.
    d.Play(2);
    ASSERT_EQ(Feed(&d, 1408, 3), 1408u);
    EXPECT_EQ(d.ran_dry.load(), 1u);
    EXPECT_EQ(d.writes.size(), 2u);
    d.PauseSound(1);
    d.FlushSound();  // paused: queued, the device stays paused
    EXPECT_TRUE(d.device_paused);
    ASSERT_EQ(d.writes.size(), 3u);
    EXPECT_EQ(d.writes[2].index, 0);
    EXPECT_EQ(d.writes[2].first, 3);
}

TEST(QueuedRules, FullWhenNothingIsDoneDryWhenEverythingIs) {
    ScriptedQueue d;
    ASSERT_TRUE(d.Open(22050, 16, 1, kLong));  // buffer 2784, threshold 22080
    int fed = 0;
    while (Feed(&d, 100000, static_cast<uint8_t>(fed)) != 0) ++fed;
    EXPECT_EQ(fed, 16);
    EXPECT_TRUE(d.started());
    EXPECT_EQ(d.SoundReady(), 0);
    d.Play(1);  // buffer 0 is free again; the one after the last (15) is not
    ASSERT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.fill_index(), 0);
    EXPECT_EQ(d.ran_dry.load(), 0u);
    d.Play(15);
    EXPECT_EQ(d.SoundReady(), 1);
    EXPECT_EQ(d.ran_dry.load(), 1u);
    EXPECT_FALSE(d.started());
    EXPECT_EQ(d.queued_bytes(), 0u);
    EXPECT_EQ(d.fill_index(), 0);  // prebuffering from buffer 0 again
    const size_t before = d.writes.size();
    Feed(&d, 2784, 1);
    EXPECT_EQ(d.writes.size(), before);  // waits for the threshold
}

TEST(QueuedRules, VolumePanPauseAndOnOff) {
    ScriptedQueue d;
    ASSERT_TRUE(d.Open(22050, 16, 2, kLong));
    d.SetSoundPan(0);
    EXPECT_EQ(d.left, 32767u);
    EXPECT_EQ(d.right, 0u);
    d.SetSoundPan(32768);
    EXPECT_EQ(d.left, 32766u);
    EXPECT_EQ(d.right, 32767u);
    d.SetSoundVolume(0);
    EXPECT_EQ(d.left, 0u);
    EXPECT_EQ(d.right, 0u);
    d.SetSoundVolume(65535);
    EXPECT_EQ(d.volume(), 32767u);

    EXPECT_EQ(d.PauseSound(1), 1);
    EXPECT_TRUE(d.device_paused);
    EXPECT_EQ(d.SoundReady(), 0);
    EXPECT_EQ(d.PauseSound(0), 0);
    EXPECT_FALSE(d.device_paused);

    EXPECT_EQ(d.SetSoundOn(2), 1);  // other values change nothing
    EXPECT_EQ(d.SetSoundOn(0), 0);
    EXPECT_EQ(d.closes, 1);
    EXPECT_FALSE(d.device_open());
    EXPECT_EQ(d.SoundReady(), 0);
    d.fail_open = true;
    EXPECT_EQ(d.SetSoundOn(1), 0);  // stays off when the device cannot open
    d.fail_open = false;
    EXPECT_EQ(d.SetSoundOn(1), 1);
    EXPECT_EQ(d.SoundReady(), 1);
    d.CloseSound();
    d.CloseSound();
    EXPECT_EQ(d.closes, 2);
}

TEST(QueuedRules, OpenFailsWhenTheDeviceDoes) {
    ScriptedQueue d;
    d.fail_open = true;
    EXPECT_FALSE(d.Open(22050, 16, 2, kLong));
}

}  // namespace
}  // namespace vemo::sound
