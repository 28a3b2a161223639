// Threaded playback: the background reader and the sound service run while
// movies are played, opened and closed many times; every frame's picture
// must still be the decoded one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "movie_internal.h"
#include "test_util.h"
#include "vemo/movie.h"
#include "vemo/pixel_convert.h"
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
