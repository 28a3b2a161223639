// Threaded playback: the background reader and the sound service run while
// movies are played, opened and closed many times; every frame's picture
// must still be the decoded one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "movie_internal.h"
#include "test_util.h"
#include "vemo/memory.h"
#include "vemo/movie.h"
#include "vemo/movie_io.h"
#include "vemo/pixel_convert.h"
#include "vemo/platform.h"
#include "vemo/sound_headless.h"
#include "vemo/surface_format.h"

namespace vemo {
namespace {

// The planes of each frame as the conformance dump holds them.
struct ExpectedPlanes {
    std::vector<uint8_t> bytes;
    size_t frame_size = 0;
};

size_t FramePlanesSize(const FramePlanes& p, bool gray, bool alpha) {
    size_t luma = static_cast<size_t>(p.luma_width) * p.luma_height;
    size_t chroma = static_cast<size_t>(p.chroma_width) * p.chroma_height;
    return luma + (gray ? 0 : 2 * chroma) + (alpha ? luma : 0);
}

bool SameAsDump(const Movie* m, const ExpectedPlanes& want, uint32_t frame) {
    const FramePlanes& p = *MovieFramePlanes(m);
    const PlaneDescriptor* b = p.buffer[p.current];
    const uint8_t* at = want.bytes.data() + want.frame_size * (frame - 1);
    const size_t luma = static_cast<size_t>(p.luma_width) * p.luma_height;
    const size_t chroma = static_cast<size_t>(p.chroma_width) * p.chroma_height;
    if (std::memcmp(b[kPlaneY].samples, at, luma) != 0) return false;
    return std::memcmp(b[kPlaneCr].samples, at + luma, chroma) == 0 &&
           std::memcmp(b[kPlaneCb].samples, at + luma + chroma, chroma) == 0;
}

TEST(MovieThreads, ManyOpenCloseCyclesWithReaderAndSoundService) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    const std::string movie = dir + "/big1.vem";
    ExpectedPlanes want;
    ASSERT_TRUE(test::ReadWholeFile(dir + "/big1.planes", &want.bytes));
    ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    const uint32_t ids[] = {1292738049u};
    for (int cycle = 0; cycle < 12; ++cycle) {
        // A ring smaller than the movie, so the reader wraps around it.
        SetPendingReadBufferSize(65536);
        SetPendingTrackList(1, ids);
        SetPendingFrameRate(0, 0);
        const uint32_t flags = kOpenUseBufferSize | kOpenUseTrackList | kOpenUseFrameRate |
                               (cycle % 3 == 2 ? kOpenNoFill : 0);
        Movie* m = OpenMovie(movie.c_str(), flags);
        ASSERT_NE(m, nullptr) << GetLastMovieError();
        MovieInfo info;
        GetMovieInfo(m, &info);
        EXPECT_EQ(info.preloaded, 0u);
        EXPECT_EQ(info.threaded, 1u);
        EXPECT_EQ(info.played_tracks, 1u);
        if (cycle == 0) want.frame_size = FramePlanesSize(*MovieFramePlanes(m), false, false);
        ASSERT_EQ(want.bytes.size(), want.frame_size * info.frames);
        std::vector<uint8_t> surface(static_cast<size_t>(info.width) * info.height * 4);
        // Two loops, so that the reader also seeks back to the start.
        for (uint32_t n = 0; n < 2 * info.frames; ++n) {
            EXPECT_EQ(ShouldWait(m), 0);
            ASSERT_EQ(DecodeFrame(m), 0);
            const uint32_t frame = n % info.frames + 1;
            ASSERT_TRUE(SameAsDump(m, want, frame)) << "cycle " << cycle << " frame " << frame;
            CopyFrameToSurface(m, surface.data(), static_cast<int32_t>(info.width * 4), info.height,
                               0, 0, 0, 0, info.width, info.height, 3);
            GetChangedRects(0, m);
            NextFrame(m);
        }
        if (cycle % 4 == 1) {
            PauseMovie(m, 1);
            PauseMovie(m, 0);
        }
        MovieSummary sum;
        GetSummary(m, &sum);
        EXPECT_EQ(sum.frames_played, 2 * info.frames);
        EXPECT_EQ(sum.total_input_memory, 65536u);
        CloseMovie(m);
    }
    // The last movie took both service threads with it.
    EXPECT_EQ(BackgroundReaderThread(), nullptr);
    EXPECT_EQ(SoundServiceThread(), nullptr);
}

TEST(MovieThreads, TwoMoviesAtOnceAndAThreadThatCannotStart) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    const std::string a = dir + "/big1.vem", b = dir + "/s07.vem";
    ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    SetPendingReadBufferSize(65536);
    Movie* first = OpenMovie(a.c_str(), kOpenUseBufferSize);
    ASSERT_NE(first, nullptr);
    Movie* second = OpenMovie(b.c_str(), 0);
    ASSERT_NE(second, nullptr);
    for (int i = 0; i < 30; ++i)
        for (Movie* m : {first, second}) {
            ShouldWait(m);
            DecodeFrame(m);
            NextFrame(m);
        }
    CloseMovie(first);
    CloseMovie(second);

    // When the reader cannot start, the movie is served on this thread.
    FailServiceThreadStartsForTesting(2);
    SetPendingReadBufferSize(65536);
    Movie* m = OpenMovie(a.c_str(), kOpenUseBufferSize);
    ASSERT_NE(m, nullptr);
    MovieInfo info;
    GetMovieInfo(m, &info);
    EXPECT_EQ(info.threaded, 0u);
    for (uint32_t n = 0; n < 2 * info.frames; ++n) {
        ShouldWait(m);
        ASSERT_EQ(DecodeFrame(m), 0);
        NextFrame(m);
    }
    CloseMovie(m);
    FailServiceThreadStartsForTesting(0);
}

// ---------------------------------------------------------------- machine faults
// The movie's bytes as a faulty device delivers them: in pieces, failing at a
// byte, stalling, shrinking, or with its handle closed under the reader.
constexpr uint32_t kNever = 0xFFFFFFFFu;
struct FaultPlan {
    std::vector<uint8_t> bytes;
    uint32_t piece = 0;                          // most bytes one read delivers (0: all)
    uint32_t fail_at = kNever;                   // nothing is delivered from this byte on
    uint32_t stall_at = kNever, stall_ms = 0;    // the first read reaching this byte waits
    uint32_t shrink_at = kNever, shrink_to = 0;  // a read reaching shrink_at cuts the file
    std::atomic<bool> closed{false};             // the handle was closed under the reader
};
FaultPlan* g_plan = nullptr;

class FaultySource final : public InputSource {
  public:
    uint32_t Read(void* destination, uint32_t count) override {
        FaultPlan& p = *g_plan;
        if (p.closed.load()) return 0;
        const uint64_t reach = static_cast<uint64_t>(position_) + count;
        if (position_ <= p.stall_at && p.stall_at < reach) {
            p.stall_at = kNever;
            platform::SleepMilliseconds(p.stall_ms);
        }
        if (position_ <= p.shrink_at && p.shrink_at < reach) p.bytes.resize(p.shrink_to);
        uint64_t end = std::min<uint64_t>({reach, p.bytes.size(), p.fail_at});
        if (p.piece) end = std::min<uint64_t>(end, static_cast<uint64_t>(position_) + p.piece);
        if (end <= position_) return 0;
        const auto n = static_cast<uint32_t>(end - position_);
        std::memcpy(destination, p.bytes.data() + position_, n);
        position_ += n;
        return n;
    }
    bool Seek(uint32_t movie_offset) override {
        position_ = movie_offset;
        return !g_plan->closed.load();
    }

  private:
    uint32_t position_ = 0;
};

InputSourcePtr MakeFaultySource(const char*) {
    return std::make_unique<FaultySource>();
}

class MovieFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string dir = test::ConformanceDir();
        if (dir.empty()) GTEST_SKIP() << "no conformance directory";
        ASSERT_TRUE(test::ReadWholeFile(dir + "/big1.vem", &plan_.bytes));
        movie_size_ = plan_.bytes.size();
        ASSERT_TRUE(test::ReadWholeFile(dir + "/big1.planes", &want_.bytes));
        ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
        g_plan = &plan_;
        SetInputSourceForTesting(MakeFaultySource);
        blocks_before_ = LibraryBlocksInUse();
    }
    void TearDown() override {
        SetInputSourceForTesting(nullptr);
        g_plan = nullptr;
        EXPECT_EQ(BackgroundReaderThread(), nullptr);
        EXPECT_EQ(SoundServiceThread(), nullptr);
        EXPECT_EQ(LibraryBlocksInUse(), blocks_before_);
    }
    // Both service threads, a ring smaller than the movie, as fast as possible.
    Movie* Open(uint32_t flags = 0) {
        const uint32_t ids[] = {1292738049u};
        SetPendingReadBufferSize(65536);
        SetPendingTrackList(1, ids);
        SetPendingFrameRate(0, 0);
        return OpenMovie("faulty.vem",
                         flags | kOpenUseBufferSize | kOpenUseTrackList | kOpenUseFrameRate);
    }
    // Frames whose bytes all lie before the byte.
    uint32_t FramesBefore(const Movie* m, uint32_t byte) const {
        uint32_t n = 0;
        while (n < m->frames && IndexOffset(m->source.index[n + 1]) <= byte) ++n;
        return n;
    }
    // Plays up to `steps` frames (closing the handle after `close_after`);
    // every decoded frame must be the right picture. Returns the frames
    // decoded before the movie reported its end.
    uint32_t Play(Movie* m, uint32_t steps, uint32_t close_after = kNever) {
        MovieInfo info;
        GetMovieInfo(m, &info);
        if (!want_.frame_size)
            want_.frame_size = FramePlanesSize(*MovieFramePlanes(m), false, false);
        std::vector<uint8_t> surface(static_cast<size_t>(info.width) * info.height * 4);
        for (uint32_t n = 0; n < steps; ++n) {
            if (n == close_after) plan_.closed.store(true);
            EXPECT_EQ(ShouldWait(m), 0);
            if (DecodeFrame(m) != 0) {
                // A movie that ended stays ended.
                EXPECT_EQ(ShouldWait(m), 0);
                EXPECT_EQ(DecodeFrame(m), 1);
                return n;
            }
            EXPECT_TRUE(SameAsDump(m, want_, n % info.frames + 1)) << "frame " << n + 1;
            CopyFrameToSurface(m, surface.data(), static_cast<int32_t>(info.width * 4), info.height,
                               0, 0, 0, 0, info.width, info.height, kSurfaceXrgb32);
            GetChangedRects(0, m);
            NextFrame(m);
        }
        return steps;
    }
    // The summary agrees with what was played.
    void ExpectSaneSummary(Movie* m, uint32_t played) {
        MovieSummary s;
        GetSummary(m, &s);
        EXPECT_EQ(s.frames_played, played);
        EXPECT_LE(s.skipped_blits, played);
        EXPECT_LE(s.highest_input_memory, s.total_input_memory);
        // Each loop reads the movie once; frame 1 is read again at each rewind.
        EXPECT_LE(m->source.io->Statistics().bytes_read, 3 * movie_size_);
    }
    FaultPlan plan_;
    ExpectedPlanes want_;
    size_t blocks_before_ = 0;
    size_t movie_size_ = 0;
};

TEST_F(MovieFaults, ReadsInPiecesAndAStallStillPlayEveryFrame) {
    for (const uint32_t piece : {1u, 4093u, 65535u}) {
        plan_.piece = piece;
        plan_.stall_at = 100000;
        plan_.stall_ms = 200;
        Movie* m = Open();
        ASSERT_NE(m, nullptr) << GetLastMovieError();
        const uint32_t frames = m->frames;
        EXPECT_EQ(Play(m, 2 * frames), 2 * frames) << piece;
        ExpectSaneSummary(m, 2 * frames);
        // The stall is booked as time spent reading.
        EXPECT_GE(m->source.io->Statistics().read_time, 200u) << piece;
        CloseMovie(m);
    }
}

TEST_F(MovieFaults, PlaybackEndsAtTheFirstFrameAnErrorCuts) {
    for (const uint32_t preload : {0u, kOpenPreloadMovie})
        for (const uint32_t fail_at : {3000u, 70000u, 131072u, 200001u}) {
            plan_.fail_at = fail_at;
            Movie* m = Open(preload);
            ASSERT_NE(m, nullptr) << GetLastMovieError();
            const uint32_t whole = FramesBefore(m, fail_at);
            ASSERT_LT(whole, m->frames);
            EXPECT_EQ(Play(m, 2 * m->frames), whole) << fail_at << " " << preload;
            ExpectSaneSummary(m, whole);
            CloseMovie(m);
        }
}

TEST_F(MovieFaults, AFileThatShrinksOrVanishesEndsPlaybackCleanly) {
    // Cut behind the reader, ahead of it, and to nothing.
    const uint32_t cuts[][2] = {{180000, 90000}, {70000, 160000}, {140000, 0}};
    for (const auto& cut : cuts) {
        ASSERT_TRUE(test::ReadWholeFile(test::ConformanceDir() + "/big1.vem", &plan_.bytes));
        plan_.shrink_at = cut[0];
        plan_.shrink_to = cut[1];
        Movie* m = Open();
        ASSERT_NE(m, nullptr) << GetLastMovieError();
        const uint32_t played = Play(m, 2 * m->frames);
        // What was read before the cut plays; nothing past the cut does.
        EXPECT_GE(played, FramesBefore(m, std::min(cut[0], std::max(cut[1], 65536u))));
        EXPECT_LE(played, FramesBefore(m, std::max(cut[0], cut[1]) + 65536));
        EXPECT_LT(played, m->frames);
        ExpectSaneSummary(m, played);
        CloseMovie(m);
    }
    // A file that is gone before the open.
    plan_.bytes.clear();
    EXPECT_EQ(Open(), nullptr);
    EXPECT_STREQ(GetLastMovieError(), "Not a Vemo file.");
}

TEST_F(MovieFaults, AHandleClosedUnderTheReaderEndsPlayback) {
    for (const uint32_t close_after : {0u, 3u, 9u}) {
        plan_.closed.store(false);
        Movie* m = Open();
        ASSERT_NE(m, nullptr) << GetLastMovieError();
        const uint32_t played = Play(m, 2 * m->frames, close_after);
        EXPECT_GE(played, close_after);
        EXPECT_LT(played, 2 * m->frames);
        ExpectSaneSummary(m, played);
        CloseMovie(m);
        // The next movie opens and plays.
        plan_.closed.store(false);
        m = Open();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(Play(m, m->frames), m->frames);
        CloseMovie(m);
    }
}

// Every allocation of an open with both service threads and of a short
// playback fails in turn: the open says "Out of memory." or the movie plays
// (silent or served on this thread when its part could not be had), nothing
// is left behind, and the next open works.
TEST(MovieMemory, EachFailedAllocationOfAThreadedOpenAndPlaybackIsClean) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    const std::string movie = dir + "/big1.vem";
    ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    const uint32_t ids[] = {1292738049u};
    const size_t before = LibraryBlocksInUse();
    auto open = [&] {
        SetPendingReadBufferSize(65536);
        SetPendingTrackList(1, ids);
        SetPendingFrameRate(0, 0);
        return OpenMovie(movie.c_str(), kOpenUseBufferSize | kOpenUseTrackList | kOpenUseFrameRate);
    };
    int failures = 0;
    bool whole = false;
    for (int64_t n = 0; n < 100 && !whole; ++n) {
        FailLibraryAllocationsAfter(n);
        Movie* m = open();
        if (!m) {
            ++failures;
            EXPECT_STREQ(GetLastMovieError(), n == 0 ? "Error opening file." : "Out of memory.");
        } else {
            MovieInfo info;
            GetMovieInfo(m, &info);
            whole = info.threaded == 1 && info.played_tracks == 1 && SoundServiceThread();
            for (uint32_t f = 0; f < 2 * info.frames; ++f) {
                ShouldWait(m);
                ASSERT_EQ(DecodeFrame(m), 0) << n;
                NextFrame(m);
            }
            CloseMovie(m);
        }
        FailLibraryAllocationsAfter(-1);
        EXPECT_EQ(LibraryBlocksInUse(), before) << n;
        EXPECT_EQ(BackgroundReaderThread(), nullptr) << n;
        EXPECT_EQ(SoundServiceThread(), nullptr) << n;
        m = open();
        ASSERT_NE(m, nullptr) << n;
        CloseMovie(m);
    }
    EXPECT_TRUE(whole);
    // The input, the record, the planes, the read buffer at least.
    EXPECT_GE(failures, 4);
}

}  // namespace
}  // namespace vemo

namespace vemo {
namespace {

// CopyFrameToSurface converts the decoded frame as the reference does.
TEST(MovieCopy, CopyAllMatchesTheConvertedReferenceBothWaysUp) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    std::vector<uint8_t> bytes, want;
    ASSERT_TRUE(test::ReadWholeFile(dir + "/big1.vem", &bytes));
    ASSERT_TRUE(test::ReadWholeFile(dir + "/big1.f4.s3.table.c0.raw", &want));
    SetPixelPath(PixelPath::kTable);
    Movie* m = OpenMovie(bytes.data(), kOpenInMemory | kOpenWithoutThreads);
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < 3; ++i) {
        DecodeFrame(m);
        NextFrame(m);
    }
    ASSERT_EQ(DecodeFrame(m), 0);
    const uint32_t w = 320, h = 240, pitch = w * 4;
    ASSERT_EQ(want.size(), static_cast<size_t>(pitch) * h);
    std::vector<uint8_t> top_down(want.size(), 0), bottom_up(want.size(), 0);
    EXPECT_EQ(CopyFrameToSurface(m, top_down.data(), static_cast<int32_t>(pitch), h, 0, 0, 0, 0, w,
                                 h, kSurfaceXrgb32 | kCopyAll),
              0);
    EXPECT_TRUE(top_down == want);
    EXPECT_EQ(CopyFrameToSurface(m, bottom_up.data(), -static_cast<int32_t>(pitch), h, 0, 0, 0, 0,
                                 w, h, kSurfaceXrgb32 | kCopyAll),
              0);
    for (uint32_t y = 0; y < h; ++y)
        ASSERT_EQ(std::memcmp(&bottom_up[(h - 1 - y) * pitch], &want[y * pitch], pitch), 0)
            << "row " << y;
    CloseMovie(m);
    SetPixelPath(PixelPath::kAuto);
}

}  // namespace
}  // namespace vemo
