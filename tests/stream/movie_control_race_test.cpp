// The window thread's controls while both service threads run: seeking,
// pausing, stepping, switching the sound off and on and closing the movie in
// the middle of playback at the movie's own pace. Run under ThreadSanitizer
// (the tsan build), this is where a race between the controls and the
// background reader or the sound service shows; in every build the movie
// must stay in a sane state and show the decoded pictures after each seek.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/movie.h"
#include "vemo/movie_seek.h"
#include "vemo/platform.h"
#include "vemo/service_thread.h"
#include "vemo/sound_headless.h"

namespace vemo {
namespace {

constexpr uint32_t kBig1Track = 1292738049u;

Movie* OpenThreadedWithSound(const std::string& path) {
    OpenSettings settings;
    settings.tracks = std::vector<uint32_t>{kBig1Track};
    settings.read_buffer_size = 65536;  // smaller than the movie: read by the background reader
    return OpenMovie(path.c_str(), 0, settings);
}

// Plays `frames` frames at the movie's pace (the caller waits while the
// next frame is not due, as the window thread does between messages). With
// the sound off no frame falls due: those are decoded after one wait.
void PlayFrames(Movie* m, int frames, bool pace = true) {
    for (int n = 0; n < frames; ++n) {
        while (ShouldWait(m) && pace) platform::SleepMilliseconds(1);
        ASSERT_EQ(DecodeFrame(m), 0);
        GetChangedRects(0, m);
        NextFrame(m);
    }
}

bool PictureIs(const Movie* m, const std::vector<uint8_t>& planes, uint32_t frame) {
    const FramePlanes& p = *MovieFramePlanes(m);
    const PlaneDescriptor* b = p.buffer[p.current];
    const size_t luma = static_cast<size_t>(p.luma_width) * p.luma_height;
    const size_t chroma = static_cast<size_t>(p.chroma_width) * p.chroma_height;
    const uint8_t* want = planes.data() + (luma + 2 * chroma) * (frame - 1);
    return std::memcmp(b[kPlaneY].samples, want, luma) == 0 &&
           std::memcmp(b[kPlaneCr].samples, want + luma, chroma) == 0 &&
           std::memcmp(b[kPlaneCb].samples, want + luma + chroma, chroma) == 0;
}

TEST(MovieControlRace, SeekPauseStepSoundAndCloseWhileTheServiceThreadsRun) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    std::vector<uint8_t> planes;
    ASSERT_TRUE(test::ReadWholeFile(dir + "/big1.planes", &planes));
    ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    const std::string path = dir + "/big1.vem";
    for (int open = 0; open < 3; ++open) {
        Movie* m = OpenThreadedWithSound(path);
        ASSERT_NE(m, nullptr) << GetLastMovieError();
        MovieInfo info;
        GetMovieInfo(m, &info);
        ASSERT_EQ(info.threaded, 1u);
        ASSERT_EQ(info.played_tracks, 1u);
        ASSERT_EQ(planes.size() % info.frames, 0u);
        for (int round = 0; round < 4; ++round) {
            PlayFrames(m, 3 + round);
            // Seek to a frame other than the next one and check its picture.
            const uint32_t target = (info.current_frame + 5 + 3 * round) % info.frames + 1;
            ASSERT_EQ(SeekMovie(m, target, 0), target);
            ASSERT_EQ(DecodeFrame(m), 0);
            EXPECT_TRUE(PictureIs(m, planes, target)) << "open " << open << " frame " << target;
            NextFrame(m);
            // Pause, step one frame, resume.
            EXPECT_EQ(PauseMovie(m, 1), 1);
            platform::SleepMilliseconds(15);
            EXPECT_EQ(PauseMovie(m, 0), 0);
            PlayFrames(m, 1);
            EXPECT_EQ(PauseMovie(m, 1), 1);
            EXPECT_EQ(PauseMovie(m, 0), 0);
            // Sound off for a few frames, then on again.
            EXPECT_EQ(SetSoundOnOff(m, 0), 0);
            PlayFrames(m, 2, false);
            EXPECT_EQ(SetSoundOnOff(m, 1), 1);
            GetMovieInfo(m, &info);
            ASSERT_EQ(info.done, 0u);
            ASSERT_GE(info.current_frame, 1u);
            ASSERT_LE(info.current_frame, info.frames);
        }
        // Closed in the middle: paused on odd opens, playing on even ones.
        if (open % 2 == 1) PauseMovie(m, 1);
        CloseMovie(m);
    }
    EXPECT_EQ(BackgroundReaderThread(), nullptr);
    EXPECT_EQ(SoundServiceThread(), nullptr);
}

}  // namespace
}  // namespace vemo
