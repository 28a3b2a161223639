// The stream core on small hand-made movies, a test sound back end and the
// test clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "movie_internal.h"
#include "test_util.h"
#include "vemo/container_writer.h"
#include "vemo/movie.h"
#include "vemo/platform.h"
#include "vemo/surface_format.h"
#include "vemo/timer.h"

namespace vemo {
namespace {

constexpr uint32_t kRate = 10000000, kDen = 333667;         // 29.97 Hz: 33.37 ms a frame
constexpr uint32_t kStereo16Dct = (0x7000u << 16) | 48000;  // 16-bit stereo, DCT variant

// ---------------------------------------------------------------- a test back end
struct Opened {
    uint32_t rate = 0, bits = 0, channels = 0, count = 0;
};
Opened g_opened;

// A device that takes nothing (rings keep what they get) and whose ran-dry
// report the test raises.
struct TestDevice {
    uint32_t on = 1;
    int paused = 0;
    uint32_t ran_dry = 0;
};
TestDevice* AsTest(SoundDevice* d) {
    return reinterpret_cast<TestDevice*>(d);
}

SoundDevice* OpenTestDevice(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                            const SoundMovieInfo&, SoundDeviceInfo* info) {
    g_opened.rate = rate;
    g_opened.bits = bits;
    g_opened.channels = channels;
    g_opened.count++;
    info->rate = rate;
    info->bits = bits;
    info->channels = channels;
    info->chunk_bytes = 4096;
    return reinterpret_cast<SoundDevice*>(new TestDevice());
}

const SoundBackEnd kTestBackEnd = {
    "test",
    0,
    OpenTestDevice,
    [](SoundDevice*) { return 0; },
    [](SoundDevice*, uint8_t**, uint32_t*) { return 0; },
    [](SoundDevice*, uint32_t) { return 1; },
    [](SoundDevice*, uint32_t) {},
    [](SoundDevice*, uint32_t) {},
    [](SoundDevice* d, int pause) { return AsTest(d)->paused = pause != 0; },
    [](SoundDevice* d, int value) { return static_cast<int>(AsTest(d)->on = value ? 1 : 0); },
    [](SoundDevice* d) { delete AsTest(d); },
    nullptr,
    nullptr,
    [](SoundDevice* d) { return std::exchange(AsTest(d)->ran_dry, 0u); },
};

const SoundBackEnd* GetTestSound(void*) {
    return &kTestBackEnd;
}
const SoundBackEnd* GetOtherSound(void*) {
    return &kTestBackEnd;
}

// ---------------------------------------------------------------- movies
struct MovieShape {
    uint32_t frames = 10;
    uint32_t width = 64, height = 48;
    uint32_t rate_num = kRate, rate_den = kDen;
    std::vector<uint32_t> track_ids;  // one DCT track per ID
    bool all_key = false;
    uint32_t video_bytes = 64;
};

std::vector<uint8_t> MakeMovie(const MovieShape& s) {
    MovieWriter w('i', s.width, s.height, s.rate_num, s.rate_den);
    for (uint32_t id : s.track_ids) w.AddTrack(8192, kStereo16Dct, id);
    for (uint32_t f = 0; f < s.frames; ++f) {
        std::vector<std::vector<uint8_t>> parts(s.track_ids.size());
        w.AddFrame(s.all_key || f == 0, parts, std::vector<uint8_t>(s.video_bytes, 0));
    }
    return w.Finish();
}

class MovieTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseTestClock(true, 1000);
        SetSoundSystem(GetTestSound, nullptr);
        g_opened = {};
    }
    void TearDown() override {
        CloseMovie(movie_);
        UseTestClock(false);
    }
    Movie* Open(const MovieShape& s, uint32_t flags = 0) {
        bytes_ = MakeMovie(s);
        if (!s.track_ids.empty()) {
            SetPendingTrackList(static_cast<uint32_t>(s.track_ids.size()), s.track_ids.data());
            flags |= kOpenUseTrackList;
        }
        movie_ = OpenMovie(bytes_.data(), flags | kOpenInMemory | kOpenWithoutThreads);
        return movie_;
    }
    // One playback step as the player runs it, with a destination to copy to.
    int Step() {
        DecodeFrame(movie_);
        const int late =
            CopyFrameToSurface(movie_, surface_, 64 * 4, 48, 0, 0, 0, 0, 64, 48, kSurfaceXrgb32);
        NextFrame(movie_);
        return late;
    }
    std::vector<uint8_t> bytes_;
    Movie* movie_ = nullptr;
    uint8_t surface_[64 * 48 * 4] = {};
};

// ---------------------------------------------------------------- opening
TEST_F(MovieTest, OpenErrorsCarryTheirTexts) {
    EXPECT_EQ(OpenMovie("/nonexistent/movie.vem", 0), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "Error opening file.");

    std::vector<uint8_t> movie = MakeMovie(MovieShape{});
    std::vector<uint8_t> bad = movie;
    bad[0] = 'X';
    EXPECT_EQ(OpenMovie(bad.data(), kOpenInMemory), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "Not a Vemo file.");

    bad = movie;
    StoreLe32(&bad[8], 0);  // no frames
    EXPECT_EQ(OpenMovie(bad.data(), kOpenInMemory), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "The file doesn't contain any compressed frames yet.");

    // A file that ends inside the frame index.
    const std::string path = test::TempPath("short.vem");
    ASSERT_TRUE(
        test::WriteWholeFile(path, std::vector<uint8_t>(movie.begin(), movie.begin() + 60)));
    EXPECT_EQ(OpenMovie(path.c_str(), 0), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "Error reading Vemo header.");

    // An index that runs backwards is refused the same way.
    bad = movie;
    StoreLe32(&bad[44 + 4 * 3], 100);
    EXPECT_EQ(OpenMovie(bad.data(), kOpenInMemory), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "Error reading Vemo header.");

    // A frame rate no movie has (the timing rings hold a second of frames).
    bad = movie;
    StoreLe32(&bad[28], 0xFFFFFFFFu);
    StoreLe32(&bad[32], 1);
    EXPECT_EQ(OpenMovie(bad.data(), kOpenInMemory), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "Error reading Vemo header.");

    // A good open clears the last error.
    Movie* m = OpenMovie(movie.data(), kOpenInMemory | kOpenWithoutThreads);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(GetLastMovieError(), "");
    CloseMovie(m);
    CloseMovie(nullptr);
}

// A header that announces a long index is checked against the file before
// anything is allocated for it: the record's allocation is made to fail, so
// only an open that got that far says "Out of memory.".
TEST_F(MovieTest, TablesAnnouncedPastTheFileEndAllocateNothing) {
    MovieShape s;
    s.track_ids = {0};
    std::vector<uint8_t> movie = MakeMovie(s);
    StoreLe32(&movie[16], 1000000);     // index length: a 4 MB index
    StoreLe32(&movie[4], 0xFFFFFF00u);  // a movie size that leaves room for it
    const size_t tables_end = 44 + 12 + 4 * (size_t{1000000} + 1);
    const std::string path = test::TempPath("long-index.vem");
    ASSERT_TRUE(test::WriteWholeFile(path, movie));
    FailLibraryAllocationsAfter(1);  // the file input succeeds, the record fails
    EXPECT_EQ(OpenMovie(path.c_str(), kOpenWithoutThreads), nullptr);
    FailLibraryAllocationsAfter(-1);
    EXPECT_STREQ(GetLastMovieError(), "Error reading Vemo header.");
    // One byte short of the tables' end is refused; at the end the open plans.
    for (const size_t length : {tables_end - 1, tables_end}) {
        movie.resize(length, 0);
        ASSERT_TRUE(test::WriteWholeFile(path, movie));
        FailLibraryAllocationsAfter(1);
        EXPECT_EQ(OpenMovie(path.c_str(), kOpenWithoutThreads), nullptr);
        FailLibraryAllocationsAfter(-1);
        EXPECT_STREQ(GetLastMovieError(),
                     length < tables_end ? "Error reading Vemo header." : "Out of memory.");
    }
}

TEST_F(MovieTest, FlagsCombineWithTheHeader) {
    struct Case {
        char version;
        uint32_t header_flags, caller_flags;
        uint32_t width, height, mode;
        uint32_t set, clear;  // open-flag bits that must be set / clear
    } cases[] = {
        {'i', 4u << 28, 0, 128, 96, 4, 0, kOpenVersionBits},
        {'i', 4u << 28, 7u << 28, 64, 48, 0, 0, 0},
        {'i', 4u << 28, 3u << 28, 128, 48, 3, 0, 0},
        {'i', 7u << 28, 0, 64, 48, 7, 0, 0},
        {'i', 7u << 28, 7u << 28, 64, 48, 0, 0, 0},
        {'h', 1u << 28, 0, 64, 96, 1, 0x8000, 0x10000},
        {'f', 0x20000, kOpenDecodeAlpha, 64, 48, 0, 0x18000 | kOpenGrayscaleMovie,
         kOpenDecodeAlpha},
        {'g', 0x100000, kOpenDecodeAlpha | (6u << 28), 64, 48, 6, 0x18000 | kOpenDecodeAlpha, 0},
    };
    for (const Case& c : cases) {
        MovieWriter w(c.version, 64, 48, 25, 1, c.header_flags);
        w.AddFrame(true, {}, std::vector<uint8_t>(64, 0));
        const std::vector<uint8_t> movie = w.Finish();
        Movie* m = OpenMovie(movie.data(), c.caller_flags | kOpenInMemory | kOpenWithoutThreads);
        ASSERT_NE(m, nullptr);
        MovieInfo info;
        GetMovieInfo(m, &info);
        EXPECT_EQ(info.width, c.width) << c.version << " " << c.caller_flags;
        EXPECT_EQ(info.height, c.height) << c.version << " " << c.caller_flags;
        EXPECT_EQ(info.scaling_mode, c.mode) << c.version << " " << c.caller_flags;
        EXPECT_EQ(info.open_flags & c.set, c.set) << c.version;
        EXPECT_EQ(info.open_flags & c.clear, 0u) << c.version;
        EXPECT_EQ(DecodeFrame(m), 0);
        CloseMovie(m);
    }
}

// Columns and rows of a 128x96 XRGB surface that a copy with the doubling
// copy mode 4 wrote, for a 64x48 movie with the given header scaling mode.
std::pair<uint32_t, uint32_t> WrittenByDoublingCopy(uint32_t header_mode) {
    MovieWriter w('i', 64, 48, 25, 1, header_mode << kHeaderScalingShift);
    w.AddFrame(true, {}, std::vector<uint8_t>(64, 0));
    const std::vector<uint8_t> bytes = w.Finish();
    Movie* m = OpenMovie(bytes.data(), kOpenInMemory | kOpenWithoutThreads);
    if (!m || DecodeFrame(m) != 0) return {0, 0};
    std::vector<uint32_t> surface(128 * 96, 0xABABABABu);
    CopyFrameToSurface(m, reinterpret_cast<uint8_t*>(surface.data()), 128 * 4, 96, 0, 0, 0, 0, 64,
                       48, kSurfaceXrgb32 | kCopyAll | (4u << kCopyScaleShift));
    CloseMovie(m);
    uint32_t columns = 0, rows = 0;
    for (uint32_t y = 0; y < 96; ++y)
        for (uint32_t x = 0; x < 128; ++x)
            if (surface[y * 128 + x] != 0xABABABABu) {
                columns = std::max(columns, x + 1);
                rows = std::max(rows, y + 1);
            }
    return {columns, rows};
}

TEST_F(MovieTest, HeaderScalingModeSevenKeepsEveryCopyUnscaled) {
    EXPECT_EQ(WrittenByDoublingCopy(7), std::make_pair(64u, 48u));
    // Without the header's 7 the copy's own mode doubles the picture.
    EXPECT_EQ(WrittenByDoublingCopy(0), std::make_pair(128u, 96u));
}

TEST_F(MovieTest, AllKeyFramesGiveOneBufferOtherwiseTwo) {
    MovieShape s;
    s.frames = 1;
    s.all_key = true;
    ASSERT_NE(Open(s), nullptr);
    EXPECT_EQ(MovieFramePlanes(movie_)->buffer_count, 1u);
    CloseMovie(movie_);
    s.frames = 3;
    s.all_key = false;
    ASSERT_NE(Open(s), nullptr);
    EXPECT_EQ(MovieFramePlanes(movie_)->buffer_count, 2u);
    CloseMovie(movie_);
    ASSERT_NE(Open(s, kOpenNoVideo), nullptr);
    EXPECT_EQ(MovieFramePlanes(movie_), nullptr);
}

TEST_F(MovieTest, PreloadsFromNinetyPercent) {
    // One-frame movies whose size field is just at and just below 9/10 of
    // the 65536-byte read buffer the input answers for an offer of 1 byte.
    for (uint32_t size_field : {72816u, 73636u}) {
        MovieShape s;
        s.frames = 1;
        s.video_bytes = size_field + 8 - 44 - 8;
        const std::vector<uint8_t> movie = MakeMovie(s);
        ASSERT_EQ(ReadLe32(&movie[4]), size_field);
        const std::string path = test::TempPath("preload.vem");
        ASSERT_TRUE(test::WriteWholeFile(path, movie));
        SetPendingReadBufferSize(1);
        Movie* m = OpenMovie(path.c_str(), kOpenUseBufferSize | kOpenWithoutThreads);
        ASSERT_NE(m, nullptr);
        MovieInfo info;
        GetMovieInfo(m, &info);
        EXPECT_EQ(info.preloaded, size_field == 72816u ? 1u : 0u) << size_field;
        EXPECT_EQ(DecodeFrame(m), 0);
        CloseMovie(m);
    }
}

TEST_F(MovieTest, OpensFromAHandleAtAnOffset) {
    std::vector<uint8_t> file(1000, 0xAB);
    const std::vector<uint8_t> movie = MakeMovie(MovieShape{});
    file.insert(file.end(), movie.begin(), movie.end());
    const std::string path = test::TempPath("embedded.vem");
    ASSERT_TRUE(test::WriteWholeFile(path, file));
    platform::File f = platform::OpenFileForReading(path.c_str());
    ASSERT_TRUE(f.valid());
    ASSERT_TRUE(platform::SeekFile(f, 1000));
    intptr_t handle = f.value;
    Movie* m = OpenMovie(&handle, kOpenHandle | kOpenWithoutThreads);
    ASSERT_NE(m, nullptr) << GetLastMovieError();
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(DecodeFrame(m), 0);
        NextFrame(m);
    }
    CloseMovie(m);
    platform::CloseFile(f);  // the movie leaves a given handle open
}

TEST_F(MovieTest, FileEndingEarlyEndsPlaybackAtTheMissingFrame) {
    for (bool preload : {true, false}) {
        MovieShape s;
        s.frames = 4;
        s.video_bytes = 30000;
        std::vector<uint8_t> movie = MakeMovie(s);
        movie.resize(movie.size() - 45000);  // frame 4 and half of frame 3 are gone
        const std::string path = test::TempPath("cut.vem");
        ASSERT_TRUE(test::WriteWholeFile(path, movie));
        SetPendingReadBufferSize(1);
        Movie* m = OpenMovie(path.c_str(), kOpenWithoutThreads | kOpenUseBufferSize |
                                               (preload ? kOpenPreloadMovie : 0));
        ASSERT_NE(m, nullptr) << GetLastMovieError();
        MovieInfo opened;
        GetMovieInfo(m, &opened);
        EXPECT_EQ(opened.preloaded, preload ? 1u : 0u);
        // Frame 1 plays; the first frame that cannot be read whole ends it
        // (a read-ahead that met the end already fails the frames after it).
        EXPECT_EQ(DecodeFrame(m), 0);
        uint32_t ended = 0;
        for (uint32_t frame = 2; frame <= 4 && !ended; ++frame) {
            NextFrame(m);
            if (DecodeFrame(m)) ended = frame;
        }
        if (preload) {
            EXPECT_EQ(ended, 3u);
        } else {
            EXPECT_TRUE(ended == 2 || ended == 3) << ended;
        }
        EXPECT_EQ(DecodeFrame(m), 1);
        MovieInfo info;
        GetMovieInfo(m, &info);
        EXPECT_EQ(info.done, 1u);
        CloseMovie(m);
    }
}

TEST_F(MovieTest, WaitingServicesTheInputWithoutThreads) {
    MovieShape s;
    s.frames = 6;
    s.video_bytes = 30000;
    const std::string path = test::TempPath("service.vem");
    ASSERT_TRUE(test::WriteWholeFile(path, MakeMovie(s)));
    SetPendingReadBufferSize(1);
    Movie* m = OpenMovie(path.c_str(), kOpenWithoutThreads | kOpenUseBufferSize | kOpenNoFill);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->source.io->Fill(), 0u);  // not filled at open
    ASSERT_EQ(DecodeFrame(m), 0);
    NextFrame(m);
    // Decoding read one chunk ahead (the ring was empty); frame 2 came out
    // of it. Waiting for frame 2 reads ahead again once a chunk fits.
    EXPECT_EQ(m->source.io->Fill(), 65536u - 30000u);
    EXPECT_EQ(ShouldWait(m), 1);
    EXPECT_FALSE(m->source.io->CoreBusy());
    for (int i = 0; i < 12; ++i) {
        AdvanceTestClock(34);
        ASSERT_EQ(ShouldWait(m), 0);
        ASSERT_EQ(DecodeFrame(m), 0);
        NextFrame(m);
    }
    MovieSummary sum;
    GetSummary(m, &sum);
    EXPECT_EQ(sum.total_input_memory, 65536u);
    EXPECT_EQ(sum.highest_input_memory, 65536u);
    EXPECT_EQ(sum.average_frame_size,
              (ReadLe32(MakeMovie(s).data() + 4) - IndexOffset(m->source.index[0])) / 6);
    CloseMovie(m);
}

TEST_F(MovieTest, ChangedRectsFollowTheFlags) {
    ASSERT_NE(Open(MovieShape{}), nullptr);
    DecodeFrame(movie_);
    std::memset(movie_->picture.change_map, 0, movie_->picture.block_count);
    movie_->picture.change_map[0] = 1;
    movie_->picture.change_map[movie_->picture.block_count - 1] = 1;
    EXPECT_EQ(GetChangedRects(kRectsNotWanted, movie_), 0);
    EXPECT_EQ(GetChangedRects(kRectsBoundingOnly, movie_), 1);
    EXPECT_EQ(MovieChangedRects(movie_)[0].width, 64);
    // Computed once per frame: the stored list is returned.
    EXPECT_EQ(GetChangedRects(0, movie_), 1);
    movie_->picture.rect_count = -1;
    EXPECT_EQ(GetChangedRects(0, movie_), 2);
    NextFrame(movie_);
    DecodeFrame(movie_);
    EXPECT_EQ(movie_->picture.rect_count, -1);
}

TEST_F(MovieTest, TracksAreChosenByIdAndMissingOnesGiveSilence) {
    MovieShape s;
    s.track_ids = {5, 9};
    const uint32_t want[] = {9, 77};
    bytes_ = MakeMovie(s);
    SetPendingTrackList(2, want);
    movie_ = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads | kOpenUseTrackList);
    ASSERT_NE(movie_, nullptr);
    MovieInfo info;
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.played_tracks, 1u);
    EXPECT_EQ(movie_->tracks.played[0], 1u);  // the track with ID 9
    CloseMovie(movie_);

    const uint32_t missing[] = {1234};
    SetPendingTrackList(1, missing);
    movie_ = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads | kOpenUseTrackList);
    ASSERT_NE(movie_, nullptr);
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.played_tracks, 0u);
    EXPECT_EQ(SetSoundOnOff(movie_, 0), 0);
    CloseMovie(movie_);

    // Without the track-list flag the list is one track with ID 0.
    movie_ = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads);
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.played_tracks, 0u);
}

TEST_F(MovieTest, FrameRateOverrideChangesTheSoundRate) {
    MovieShape s;
    s.track_ids = {0};
    SetPendingFrameRate(15, 1);
    ASSERT_NE(Open(s, kOpenUseFrameRate), nullptr);
    EXPECT_EQ(g_opened.rate, 24024u);  // 48000 x 15 x 333667 / 10000000, rounded
    MovieInfo info;
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.rate_num, 15u);
    EXPECT_EQ(info.rate_den, 1u);
    CloseMovie(movie_);
    // The override is consumed by the open that used it.
    ASSERT_NE(Open(s, kOpenUseFrameRate), nullptr);
    EXPECT_EQ(g_opened.rate, 48000u);
}

TEST_F(MovieTest, SoundSystemCannotChangeWhileTracksAreOpen) {
    MovieShape s;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    EXPECT_EQ(SetSoundSystem(GetOtherSound, nullptr), 0);
    EXPECT_EQ(SetSoundSystem(GetTestSound, nullptr), 1);  // the same getter is fine
    EXPECT_EQ(SetSoundSystem(nullptr, nullptr), 0);
    CloseMovie(movie_);
    movie_ = nullptr;
    EXPECT_EQ(SetSoundSystem(GetOtherSound, nullptr), 1);
}

// ---------------------------------------------------------------- timing
TEST(MovieTiming, DueTimeUsesWideProducts) {
    // 100 frames at 29.97 Hz: 3336 ms; a 32-bit product would have wrapped.
    EXPECT_EQ(DueTime(100, kRate, kDen, 0x10000), 3336u);
    EXPECT_EQ(DueTime(100, kRate, kDen, 0x8000), 1668u);
    EXPECT_EQ(DueTime(5, 0, 1, 0x10000), 0u);
    EXPECT_EQ(LateStep(300, kRate, kDen), 10);
}

TEST_F(MovieTest, AsFastAsPossibleNeverWaits) {
    MovieShape s;
    SetPendingFrameRate(0, 0);
    ASSERT_NE(Open(s, kOpenUseFrameRate), nullptr);
    for (int i = 0; i < 20; ++i) {
        if (i) {
            EXPECT_EQ(ShouldWait(movie_), 0);
        }
        Step();
    }
    MovieSummary sum;
    GetSummary(movie_, &sum);
    EXPECT_EQ(sum.played_rate_num, 0u);
    EXPECT_EQ(sum.played_rate_den, 0u);
}

TEST_F(MovieTest, WaitsUntilTheFrameIsDue) {
    ASSERT_NE(Open(MovieShape{}), nullptr);
    EXPECT_EQ(ShouldWait(movie_), 0);  // nothing decoded yet
    Step();
    EXPECT_EQ(ShouldWait(movie_), 1);
    AdvanceTestClock(30);
    EXPECT_EQ(ShouldWait(movie_), 1);
    AdvanceTestClock(4);
    EXPECT_EQ(ShouldWait(movie_), 0);
}

TEST_F(MovieTest, WithoutSoundALateClockIsRebased) {
    ASSERT_NE(Open(MovieShape{}), nullptr);
    Step();
    AdvanceTestClock(1000);  // far beyond the two-frame time
    EXPECT_EQ(ShouldWait(movie_), 0);
    EXPECT_EQ(movie_->clock.clock_start, 2000u);
    Step();
    EXPECT_EQ(ShouldWait(movie_), 1);  // the next frame is a whole period away again
}

TEST_F(MovieTest, WithSoundLatenessIsCarriedAndTakenBack) {
    MovieShape s;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    Step();
    AdvanceTestClock(333);  // 300 ms late for frame 2
    EXPECT_EQ(ShouldWait(movie_), 0);
    EXPECT_EQ(movie_->clock.late_step, 10);         // 300 x d / r
    EXPECT_EQ(movie_->clock.late_carry, 300 - 10);  // the first step is taken at once
    Step();
    EXPECT_EQ(ShouldWait(movie_), 1);  // forgiven: frame 3 is due 33 ms on
}

TEST_F(MovieTest, EveryFourthLateBlitIsDrawn) {
    MovieShape s;
    s.frames = 30;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    std::vector<int> results;
    std::vector<uint32_t> skipped;
    for (int i = 0; i < 9; ++i) {
        DecodeFrame(movie_);
        AdvanceTestClock(200);  // every copy comes far beyond the two-frame time
        results.push_back(
            CopyFrameToSurface(movie_, surface_, 256, 48, 0, 0, 0, 0, 64, 48, kSurfaceXrgb32));
        skipped.push_back(movie_->stats.skipped_blits);
        NextFrame(movie_);
    }
    EXPECT_EQ(results, (std::vector<int>{1, 1, 1, 0, 1, 1, 1, 0, 1}));
    EXPECT_EQ(skipped, (std::vector<uint32_t>{1, 2, 3, 3, 4, 5, 6, 6, 7}));
    MovieSummary sum;
    GetSummary(movie_, &sum);
    EXPECT_EQ(sum.skipped_blits, 7u);
    EXPECT_EQ(sum.skipped_frames, 0u);
}

TEST_F(MovieTest, NeverSkipDrawsLateBlitsAndSaysSo) {
    MovieShape s;
    s.frames = 30;
    s.track_ids = {0};
    ASSERT_NE(Open(s, kOpenNeverSkipBlits), nullptr);
    std::vector<int> results;
    for (int i = 0; i < 4; ++i) {
        DecodeFrame(movie_);
        AdvanceTestClock(200);
        results.push_back(
            CopyFrameToSurface(movie_, surface_, 256, 48, 0, 0, 0, 0, 64, 48, kSurfaceXrgb32));
        EXPECT_GT(GetChangedRects(0, movie_), -1);
        NextFrame(movie_);
    }
    EXPECT_EQ(results, (std::vector<int>{1, 1, 1, 0}));
    EXPECT_EQ(movie_->stats.skipped_blits, 0u);
}

TEST_F(MovieTest, SkippedBlitKeepsTheChangeMapAndShowsNoRects) {
    MovieShape s;
    s.frames = 30;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    DecodeFrame(movie_);
    AdvanceTestClock(200);
    ASSERT_EQ(CopyFrameToSurface(movie_, surface_, 256, 48, 0, 0, 0, 0, 64, 48, kSurfaceXrgb32), 1);
    EXPECT_EQ(GetChangedRects(0, movie_), 0);
    EXPECT_TRUE(movie_->clock.last_blit_skipped);
    // A change of the skipped frame is still in the map after the next decode.
    movie_->picture.change_map[0] = 1;
    NextFrame(movie_);
    DecodeFrame(movie_);
    EXPECT_EQ(movie_->picture.change_map[0], 1);
    EXPECT_GE(GetChangedRects(kRectsNeverSkip, movie_), 1);
}

TEST_F(MovieTest, AfterTheLastFrameComesFrameOne) {
    MovieShape s;
    s.frames = 3;
    ASSERT_NE(Open(s), nullptr);
    for (int i = 0; i < 3; ++i) Step();
    MovieInfo info;
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.current_frame, 1u);
    EXPECT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(movie_->clock.frames_decoded, 4u);
    EXPECT_EQ(DecodeFrame(movie_), 0);  // the same frame again does nothing
    EXPECT_EQ(movie_->clock.frames_decoded, 4u);
}

TEST_F(MovieTest, RewindRebasesAtMostOncePerFiveMinutes) {
    MovieShape s;
    s.frames = 2;
    ASSERT_NE(Open(s), nullptr);
    Step();
    Step();  // back to frame 1: the rewind time is set
    EXPECT_FALSE(movie_->clock.reset_request);
    AdvanceTestClock(300000);
    Step();
    Step();
    EXPECT_FALSE(movie_->clock.reset_request);  // 300000 ms is not enough
    AdvanceTestClock(2);
    Step();
    Step();
    EXPECT_TRUE(movie_->clock.reset_request);
    DecodeFrame(movie_);
    EXPECT_FALSE(movie_->clock.reset_request);
    EXPECT_EQ(movie_->clock.frames_at_clock_start,
              movie_->clock.frames_decoded - 1);  // restarted with this frame
}

// ---------------------------------------------------------------- pause and sound
TEST_F(MovieTest, PausedMovieWaitsAndTheScheduleContinues) {
    MovieShape s;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    Step();
    AdvanceTestClock(10);
    EXPECT_EQ(PauseMovie(movie_, 1), 1);
    EXPECT_EQ(PauseMovie(movie_, 1), 1);  // twice
    AdvanceTestClock(100000);
    EXPECT_EQ(ShouldWait(movie_), 1);
    EXPECT_EQ(PauseMovie(movie_, 0), 0);  // resumed once
    EXPECT_EQ(ShouldWait(movie_), 1);     // 10 ms into a 33 ms frame
    AdvanceTestClock(24);
    EXPECT_EQ(ShouldWait(movie_), 0);
    const uint32_t before = movie_->stats.skipped_blits;
    Step();
    EXPECT_EQ(movie_->stats.skipped_blits, before);
    EXPECT_EQ(PauseMovie(nullptr, 1), 0);
}

TEST_F(MovieTest, SwitchingSoundOffPrimesEveryRingWithSilence) {
    MovieShape s;
    s.track_ids = {0, 1};
    ASSERT_NE(Open(s), nullptr);
    Step();
    Step();
    SoundTrack* a = MovieSoundTrack(movie_, 0);
    SoundTrack* b = MovieSoundTrack(movie_, 1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const uint8_t noise[1000] = {1, 2, 3};
    a->ring.Append(noise, sizeof(noise));
    EXPECT_EQ(SetSoundOnOff(movie_, 0), 0);
    for (SoundTrack* d : {a, b}) {
        EXPECT_EQ(d->silence_prime_size, SilencePrimeSize(48000, 2, 0, d->ring.size()));
        EXPECT_EQ(d->ring.filled(), d->silence_prime_size);
        std::vector<uint8_t> out(d->ring.filled(), 0xFF);
        d->ring.Take(out.data(), static_cast<uint32_t>(out.size()));
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<long>(out.size()));
    }
    MovieInfo info;
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.sound_on, 0u);
    movie_->clock.clock_start = 1234;
    EXPECT_EQ(SetSoundOnOff(movie_, 1), 1);
    EXPECT_EQ(movie_->clock.clock_start, 0u);  // the clock starts again with the next frame
}

TEST_F(MovieTest, RingHoldsAFrameOnTopOfAChunk) {
    MovieShape s;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    SoundTrack* d = MovieSoundTrack(movie_, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->ring.size(), AudioRingSize(kStereo16Dct, 8192) + 4096);
    EXPECT_NE(d->decoder, nullptr);
    EXPECT_EQ(d->alignment_mask, 0xFFFFFFFFu);
    EXPECT_EQ(d->clock_ratio, 0x10000u);
    EXPECT_EQ(d->eight_bit_output, 0u);
}

TEST_F(MovieTest, RanDryCountsASkipOnlyInsideTheMovie) {
    MovieShape s;
    s.frames = 100;
    s.track_ids = {0};
    ASSERT_NE(Open(s), nullptr);
    SoundTrack* d = MovieSoundTrack(movie_, 0);
    TestDevice* device = AsTest(d->device);
    EXPECT_EQ(d->end_of_sound_frame, 100 - 22);  // frames - 3 x r / (4 x d)
    device->ran_dry = 1;
    Step();  // reported on frame 1: cleared, not counted
    EXPECT_EQ(device->ran_dry, 0u);
    EXPECT_EQ(movie_->stats.sound_skips, 0u);
    Step();
    device->ran_dry = 1;
    movie_->clock.clock_start = 77;
    Step();  // frame 3
    EXPECT_EQ(movie_->stats.sound_skips, 1u);
    EXPECT_EQ(movie_->clock.clock_start, 0u);
    EXPECT_EQ(device->on, 1u);
    while (movie_->current_frame <= 78) Step();
    device->ran_dry = 1;
    Step();  // past the end-of-sound frame
    EXPECT_EQ(movie_->stats.sound_skips, 1u);
}

// ---------------------------------------------------------------- statistics
TEST_F(MovieTest, RealtimeWindowAfterTheFirstFrameIsOnePeriod) {
    MovieShape s;
    s.frames = 100;
    ASSERT_NE(Open(s), nullptr);
    Step();
    RealtimeStats rt;
    GetRealtimeStats(0, movie_, &rt);
    EXPECT_EQ(rt.window_frames, 1u);
    EXPECT_EQ(rt.window_time, 33u);  // 1000 x 333667 / 10000000
    EXPECT_EQ(rt.frame, 1u);
    EXPECT_EQ(rt.played_rate_num, kRate);
    // Later the window is whole frames per second less one.
    for (int i = 0; i < 40; ++i) {
        AdvanceTestClock(34);
        Step();
    }
    GetRealtimeStats(0, movie_, &rt);
    EXPECT_EQ(rt.window_frames, 29u);
    EXPECT_EQ(rt.window_time, 29u * 34);
    GetRealtimeStats(5, movie_, &rt);
    EXPECT_EQ(rt.window_frames, 5u);
    EXPECT_EQ(rt.window_time, 5u * 34);
    const uint32_t frame_bytes =
        IndexOffset(movie_->source.index[1]) - IndexOffset(movie_->source.index[0]);
    EXPECT_EQ(rt.data_rate, static_cast<uint32_t>(5ull * frame_bytes * kRate / (5ull * kDen)));
    // Near the start of a loop the window is the frames played so far.
    while (movie_->current_frame != 4) Step();
    GetRealtimeStats(0, movie_, &rt);
    EXPECT_EQ(rt.window_frames, 3u);
}

TEST_F(MovieTest, SlowestFramesKeepTheEarlierOnTies) {
    ASSERT_NE(Open(MovieShape{}), nullptr);
    for (uint32_t t : {5u, 9u, 9u, 3u}) {
        DecodeFrame(movie_);
        AdvanceTestClock(t);
        ShouldWait(movie_);  // books the frame time
        NextFrame(movie_);
    }
    MovieSummary sum;
    GetSummary(movie_, &sum);
    EXPECT_EQ(sum.slowest_frame_time, 9u);
    EXPECT_EQ(sum.slowest_frame, 2u);
    EXPECT_EQ(sum.second_slowest_frame_time, 9u);
    EXPECT_EQ(sum.second_slowest_frame, 3u);
    EXPECT_EQ(sum.frames_played, 4u);
    EXPECT_EQ(sum.blit_time, 5u + 9 + 9 + 3);
    EXPECT_EQ(sum.frames, 10u);
    EXPECT_EQ(sum.width, 64u);
    EXPECT_EQ(sum.peak_frame, movie_->source.peak_frame + 1);
}

TEST_F(MovieTest, DamagedPacketEndsPlaybackCleanly) {
    MovieShape s;
    s.frames = 3;
    s.track_ids = {0};
    bytes_ = MakeMovie(s);
    // Frame 2's audio length runs past its packet.
    const uint32_t second = IndexOffset(ReadLe32(&bytes_[44 + 12 + 4]));
    StoreLe32(&bytes_[second], 0x7FFFFFF0);
    const uint32_t ids[] = {0};
    SetPendingTrackList(1, ids);
    movie_ = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads | kOpenUseTrackList);
    ASSERT_NE(movie_, nullptr);
    EXPECT_EQ(DecodeFrame(movie_), 0);
    NextFrame(movie_);
    EXPECT_EQ(DecodeFrame(movie_), 1);
    EXPECT_EQ(ShouldWait(movie_), 0);
    EXPECT_EQ(DecodeFrame(movie_), 1);
}

// ---------------------------------------------------------------- the open's assembly
TEST_F(MovieTest, AnOpenThatRunsOutOfMemoryLeavesNothingBehind) {
    MovieShape s;
    s.track_ids = {0};
    const std::vector<uint8_t> bytes = MakeMovie(s);
    const std::string path = test::TempPath("memory-steps.vem");
    ASSERT_TRUE(test::WriteWholeFile(path, bytes));
    const uint32_t ids[] = {0};
    // A memory source (table copy) and a file with a read buffer, then a
    // preloaded file: every allocation of each open fails in turn.
    const uint32_t sources[] = {kOpenInMemory, 0, kOpenPreloadMovie};
    for (uint32_t source : sources) {
        const size_t before = LibraryBlocksInUse();
        int failures = 0;
        for (int64_t n = 0; n < 64; ++n) {
            SetPendingTrackList(1, ids);
            FailLibraryAllocationsAfter(n);
            const void* from = source == kOpenInMemory ? static_cast<const void*>(bytes.data())
                                                       : static_cast<const void*>(path.c_str());
            Movie* m = OpenMovie(from, source | kOpenUseTrackList | kOpenWithoutThreads);
            FailLibraryAllocationsAfter(-1);
            if (!m) {
                ++failures;
                // A file input that cannot be created is an error opening the file.
                const char* text =
                    source != kOpenInMemory && n == 0 ? "Error opening file." : "Out of memory.";
                EXPECT_STREQ(GetLastMovieError(), text) << source << " " << n;
                EXPECT_EQ(LibraryBlocksInUse(), before) << source << " " << n;
                EXPECT_EQ(OpenSoundDriverCount(), 0u) << source << " " << n;
                continue;
            }
            MovieInfo info;
            GetMovieInfo(m, &info);
            CloseMovie(m);
            EXPECT_EQ(LibraryBlocksInUse(), before) << source << " " << n;
            if (info.played_tracks == 1) break;  // nothing failed any more
        }
        // The record, the planes and the table copy, read buffer or preload block.
        EXPECT_GE(failures, 3) << source;
    }
}

TEST_F(MovieTest, GivenSettingsLeaveThePendingOnesAlone) {
    bytes_ = MakeMovie(MovieShape{});
    SetPendingFrameRate(5, 1);
    OpenSettings settings;
    settings.frame_rate = OpenSettings::FrameRate{15, 1};
    Movie* m = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads, settings);
    ASSERT_NE(m, nullptr);
    MovieInfo info;
    GetMovieInfo(m, &info);
    EXPECT_EQ(info.rate_num, 15u);
    EXPECT_NE(info.open_flags & kOpenUseFrameRate, 0u);
    CloseMovie(m);
    // The pending rate is still there for the next open that asks for it...
    m = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads | kOpenUseFrameRate);
    ASSERT_NE(m, nullptr);
    GetMovieInfo(m, &info);
    EXPECT_EQ(info.rate_num, 5u);
    CloseMovie(m);
    // ...and used up by it.
    m = OpenMovie(bytes_.data(), kOpenInMemory | kOpenWithoutThreads | kOpenUseFrameRate);
    ASSERT_NE(m, nullptr);
    GetMovieInfo(m, &info);
    EXPECT_EQ(info.rate_num, kRate);
    CloseMovie(m);
}

// ---------------------------------------------------------------- the one timing decision
// A clock at 10 frames per second started at 1000 with two frames decoded:
// the next frame is due 200 ms after the start; the tolerance is 200 ms.
MovieClock TestClock() {
    MovieClock c;
    c.rate_num = 10;
    c.rate_den = 1;
    c.two_frame_time = 200;
    c.frames_decoded = 2;
    c.clock_start = 1000;
    return c;
}
FrameTiming Ask(MovieClock& c, TimingQuestion q, uint32_t now, bool sound = true,
                bool never_skip = false) {
    return c.Decide(q, now, 0x10000, sound, sound, never_skip);
}

TEST(MovieClockTest, TheWaitIsOverWhenTheFrameIsDue) {
    MovieClock c = TestClock();
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 1199), FrameTiming::kWait);
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 1200), FrameTiming::kDraw);
    c.paused = true;
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 5000), FrameTiming::kWait);
    c = TestClock();
    EXPECT_EQ(c.Decide(TimingQuestion::kWait, 5000, 0x10000, true, false, false),
              FrameTiming::kWait);  // sound switched off
    c.rate_num = 0;
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 0), FrameTiming::kDraw);
}

TEST(MovieClockTest, LatenessBeyondTheToleranceIsRebasedOrCarried) {
    MovieClock c = TestClock();
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 1400, false), FrameTiming::kDraw);
    EXPECT_EQ(c.clock_start, 1000u);  // exactly the tolerance: kept
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 1401, false), FrameTiming::kDraw);
    EXPECT_EQ(c.clock_start, 1401u);  // without sound: re-based
    EXPECT_EQ(c.frames_at_clock_start, 1u);
    c = TestClock();
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 1401), FrameTiming::kDraw);
    EXPECT_EQ(c.late_step, 20);  // 201 x 1 / 10
    EXPECT_EQ(c.late_carry, 201 - 20);
    EXPECT_EQ(c.clock_start, 1000u);
}

TEST(MovieClockTest, LateBlitsAreSkippedThreeInARow) {
    MovieClock c = TestClock();
    EXPECT_EQ(Ask(c, TimingQuestion::kBlit, 1400), FrameTiming::kDraw);  // at the tolerance
    std::vector<FrameTiming> got;
    for (int i = 0; i < 5; ++i) got.push_back(Ask(c, TimingQuestion::kBlit, 1401));
    EXPECT_EQ(got,
              (std::vector<FrameTiming>{FrameTiming::kSkip, FrameTiming::kSkip, FrameTiming::kSkip,
                                        FrameTiming::kDraw, FrameTiming::kSkip}));
    EXPECT_TRUE(c.skip_this_blit && c.last_blit_skipped);
    c = TestClock();
    EXPECT_EQ(Ask(c, TimingQuestion::kBlit, 1401, true, true), FrameTiming::kDrawLate);
    EXPECT_FALSE(c.skip_this_blit);
    EXPECT_EQ(Ask(c, TimingQuestion::kBlit, 9999, false), FrameTiming::kDraw);  // no sound
    // The copy compares unsigned: an elapsed time before the start is late
    // for it, while the wait test takes it as not yet due.
    c = TestClock();
    EXPECT_EQ(Ask(c, TimingQuestion::kWait, 900), FrameTiming::kWait);
    EXPECT_EQ(Ask(c, TimingQuestion::kBlit, 900), FrameTiming::kSkip);
}

}  // namespace
}  // namespace vemo
