// Long runs: one movie looped many times as fast as possible with its sound,
// and many open/close cycles with the background reader and the sound
// service, the resident size staying flat after a warm-up. The counts are
// short by default (the test command); scripts/soak.sh runs the full form
// through VEMO_SOAK_LOOPS and VEMO_SOAK_CYCLES and VEMO_SOAK_REPORT=1, which
// prints the resident size at checkpoints.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/movie.h"
#include "vemo/service_thread.h"
#include "vemo/sound_headless.h"
#include "vemo/surface_format.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEMO_SOAK_SANITIZED 1  // the sanitizers' own memory hides a flat size
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEMO_SOAK_SANITIZED 1
#endif
#endif

namespace vemo {
namespace {

constexpr long kAllowedGrowthKb = 1024;
constexpr uint32_t kBig1Track = 1292738049u;

// The resident size in KB, or -1 where it cannot be read.
long ResidentKb() {
#if defined(__linux__) && !defined(VEMO_SOAK_SANITIZED)
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long size = 0, resident = 0;
    const bool read = std::fscanf(f, "%ld %ld", &size, &resident) == 2;
    std::fclose(f);
    return read ? resident * 4 : -1;  // 4 KB pages
#else
    return -1;
#endif
}

int Count(const char* variable, int fallback) {
    const char* text = std::getenv(variable);
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

// Follows the resident size: the first reading after the warm-up is the
// base, every later one must stay within kAllowedGrowthKb of it.
class ResidentWatch {
  public:
    ResidentWatch(const char* what, int total) : what_(what), total_(total) {
        report_ = std::getenv("VEMO_SOAK_REPORT") != nullptr;
    }
    // Called after each of `done` (1-based) iterations.
    void After(int done) {
        const int step = total_ >= 10 ? total_ / 10 : 1;
        if (done % step != 0 && done != total_) return;
        const long kb = ResidentKb();
        if (report_) std::printf("%s %d/%d: resident %ld KB\n", what_, done, total_, kb);
        if (kb < 0) return;
        if (base_ < 0) {
            base_ = kb;  // after the first tenth: the warm-up
            return;
        }
        peak_ = kb > peak_ ? kb : peak_;
        EXPECT_LE(kb - base_, kAllowedGrowthKb) << what_ << " after " << done;
    }

  private:
    const char* what_;
    int total_;
    bool report_ = false;
    long base_ = -1, peak_ = -1;
};

TEST(Soak, LoopsAMovieWithSoundAsFastAsPossible) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    const int loops = Count("VEMO_SOAK_LOOPS", 2000);
    OpenSettings settings;
    settings.frame_rate = OpenSettings::FrameRate{0, 0};
    Movie* m = OpenMovie((dir + "/s07.vem").c_str(), 0, settings);
    ASSERT_NE(m, nullptr) << GetLastMovieError();
    MovieInfo info;
    GetMovieInfo(m, &info);
    ASSERT_EQ(info.played_tracks, 1u);
    std::vector<uint8_t> surface(size_t{info.width} * info.height * 4);
    ResidentWatch watch("loops", loops);
    for (int loop = 1; loop <= loops; ++loop) {
        for (uint32_t n = 0; n < info.frames; ++n) {
            ASSERT_EQ(ShouldWait(m), 0) << "loop " << loop;
            ASSERT_EQ(DecodeFrame(m), 0) << "loop " << loop;
            CopyFrameToSurface(m, surface.data(), static_cast<int32_t>(info.width * 4), info.height,
                               0, 0, 0, 0, info.width, info.height, kSurfaceXrgb32);
            GetChangedRects(0, m);
            NextFrame(m);
        }
        watch.After(loop);
    }
    MovieSummary summary;
    GetSummary(m, &summary);
    EXPECT_EQ(summary.frames_played, info.frames * static_cast<uint32_t>(loops));
    CloseMovie(m);
}

// One cycle: open with the reader and the sound, play a few frames, close.
void OpenPlayClose(const std::string& path, int cycle, const std::string& wav) {
    if (cycle % 8 == 7) {
        ASSERT_EQ(SetSoundSystem(GetFileSoundOpener, const_cast<char*>(wav.c_str())), 1);
    }
    OpenSettings settings;
    settings.tracks = std::vector<uint32_t>{kBig1Track};
    settings.read_buffer_size = 65536;  // smaller than the movie: read by the background reader
    settings.frame_rate = OpenSettings::FrameRate{0, 0};
    Movie* m = OpenMovie(path.c_str(), cycle % 3 == 2 ? kOpenNoFill : 0, settings);
    ASSERT_NE(m, nullptr) << "cycle " << cycle << ": " << GetLastMovieError();
    MovieInfo info;
    GetMovieInfo(m, &info);
    ASSERT_EQ(info.threaded, 1u);
    ASSERT_EQ(info.played_tracks, 1u);
    const int frames = 1 + cycle % 5;
    for (int n = 0; n < frames; ++n) {
        ShouldWait(m);
        ASSERT_EQ(DecodeFrame(m), 0) << "cycle " << cycle;
        NextFrame(m);
    }
    CloseMovie(m);
    if (cycle % 8 == 7) {
        ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    }
}

TEST(Soak, OpensAndClosesWithTheServiceThreadsAndSound) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    ASSERT_EQ(SetSoundSystem(GetNullSoundOpener, nullptr), 1);
    const int cycles = Count("VEMO_SOAK_CYCLES", 100);
    const std::string path = dir + "/big1.vem", wav = test::TempPath("soak.wav");
    ResidentWatch watch("cycles", cycles);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        ASSERT_NO_FATAL_FAILURE(OpenPlayClose(path, cycle, wav));
        ASSERT_EQ(BackgroundReaderThread(), nullptr) << "cycle " << cycle;
        ASSERT_EQ(SoundServiceThread(), nullptr) << "cycle " << cycle;
        watch.After(cycle + 1);
    }
    std::remove(wav.c_str());
}

}  // namespace
}  // namespace vemo
