// A movie made by vemo-encode from pictures and a WAV plays with its sound
// without choosing a track: played through the stream engine on the test
// clock into the null device, the device starts with frame 1, a click and a
// flash made for the same instant meet within one frame, and the whole sound,
// its first and last second included, is played before the movie ends. After
// a seek far from the one key frame, picture and sound resume together.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "sound_rules.h"
#include "test_util.h"
#include "vemo/movie.h"
#include "vemo/movie_seek.h"
#include "vemo/sound_headless.h"
#include "vemo/surface_format.h"
#include "vemo/timer.h"

namespace vemo {
namespace {

constexpr uint32_t kFps = 25, kFrameMs = 1000 / kFps, kFrames = 125;  // 5 s
constexpr uint32_t kFlashFrame = 76;                                  // at 3.0 s
constexpr uint32_t kRate = 22050, kClickAt = kRate * 3;
constexpr uint32_t kWidth = 64, kHeight = 48;

// ---------------------------------------------------------------- the device
// The null device, with what reaches it recorded: every committed sample and
// the clock time at which the device started playing (when the committed
// bytes first reach its start threshold).
// A device switched off and on again starts afresh: the recording with it.
struct Recording {
    std::vector<int16_t> samples;
    uint32_t threshold = 0;
    uint32_t started_at = 0;
    uint32_t ran_dry_reports = 0;
    bool off = false;
};
Recording g_recording;

struct RecordedDevice {
    const SoundBackEnd* inner;
    SoundDevice* device;
    uint8_t* chunk = nullptr;
};
RecordedDevice* AsRecorded(SoundDevice* d) {
    return reinterpret_cast<RecordedDevice*>(d);
}
SoundDevice* Inner(SoundDevice* d) {
    return AsRecorded(d)->device;
}
const SoundBackEnd* Null() {
    return GetNullSoundOpener(nullptr);
}

SoundDevice* OpenRecorded(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t flags,
                          const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    SoundDevice* device = Null()->open(rate, bits, channels, flags, movie, info);
    if (!device) return nullptr;
    g_recording = Recording{};
    g_recording.threshold = sound::ComputeLoopingSizes(rate, bits, channels, movie).start_threshold;
    return reinterpret_cast<SoundDevice*>(new RecordedDevice{Null(), device});
}

int GetRecordedChunk(SoundDevice* d, uint8_t** chunk, uint32_t* size) {
    const int got = Null()->get_chunk(Inner(d), chunk, size);
    AsRecorded(d)->chunk = got ? *chunk : nullptr;
    return got;
}

int CommitRecorded(SoundDevice* d, uint32_t n) {
    const uint8_t* bytes = AsRecorded(d)->chunk;
    for (uint32_t i = 0; bytes && i + 1 < n; i += 2)
        g_recording.samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    if (!g_recording.started_at && g_recording.samples.size() * 2 >= g_recording.threshold)
        g_recording.started_at = Milliseconds();
    return Null()->commit(Inner(d), n);
}

const SoundBackEnd kRecordedBackEnd = {
    "recorded",
    0,
    OpenRecorded,
    [](SoundDevice* d) { return Null()->ready(Inner(d)); },
    GetRecordedChunk,
    CommitRecorded,
    [](SoundDevice* d, uint32_t v) { Null()->volume(Inner(d), v); },
    [](SoundDevice* d, uint32_t p) { Null()->pan(Inner(d), p); },
    [](SoundDevice* d, int pause) { return Null()->pause(Inner(d), pause); },
    [](SoundDevice* d, int on) {
        if (on && g_recording.off) {
            g_recording.samples.clear();
            g_recording.started_at = 0;
        }
        g_recording.off = !on;
        return Null()->on(Inner(d), on);
    },
    [](SoundDevice* d) {
        Null()->close(Inner(d));
        delete AsRecorded(d);
    },
    nullptr,
    nullptr,
    [](SoundDevice* d) {
        const uint32_t dry = Null()->take_ran_dry(Inner(d));
        g_recording.ran_dry_reports += dry;
        return dry;
    },
};
const SoundBackEnd* GetRecordedSound(void*) {
    return &kRecordedBackEnd;
}

// ---------------------------------------------------------------- the sources
std::string PicturesWithAFlash() {
    std::string s = "YUV4MPEG2 W64 H48 F25:1 C420jpeg\n";
    for (uint32_t f = 1; f <= kFrames; ++f) {
        s += "FRAME\n";
        s.append(kWidth * kHeight, static_cast<char>(f == kFlashFrame ? 235 : 40));
        s.append(kWidth * kHeight / 2, static_cast<char>(128));
    }
    return s;
}

// A quiet 300 Hz tone for the whole five seconds and a loud 5 ms click at 3 s.
std::vector<uint8_t> SoundWithAClick() {
    const uint32_t count = kRate * kFrames / kFps;
    std::vector<uint8_t> wav(44 + 2 * count);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) wav[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    // RIFF header of 16-bit mono PCM at kRate.
    const uint32_t header[] = {0x46464952, 36 + 2 * count, 0x45564157, 0x20746D66,
                               16,         0x00010001,     kRate,      kRate * 2,
                               0x00100002, 0x61746164,     2 * count};
    for (size_t w = 0; w < 11; ++w) put(4 * w, header[w], 4);
    const double pi = std::acos(-1.0);
    for (uint32_t i = 0; i < count; ++i) {
        double v = 1500 * std::sin(2 * pi * 300 * i / kRate);
        if (i >= kClickAt && i < kClickAt + kRate / 200) v = (i / 4) % 2 ? 24000 : -24000;
        put(44 + 2 * size_t{i}, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))), 2);
    }
    return wav;
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0;
}

// ---------------------------------------------------------------- playing
struct Played {
    uint32_t first_frame_at = 0, flash_at = 0, end_at = 0;
};

// Plays `count` frames as the player does, advancing the test clock while
// ShouldWait asks to wait; the flash is seen in the copied picture. The end
// is when the frame after the last one played is due.
Played Play(Movie* m, uint32_t count) {
    Played p;
    std::vector<uint32_t> surface(kWidth * kHeight);
    for (uint32_t i = 0; i < count; ++i) {
        for (int guard = 0; ShouldWait(m) && guard < 10000; ++guard) AdvanceTestClock(1);
        DecodeFrame(m);
        CopyFrameToSurface(m, reinterpret_cast<uint8_t*>(surface.data()), kWidth * 4, kHeight, 0, 0,
                           0, 0, kWidth, kHeight, kSurfaceXrgb32 | kCopyAll | kCopyNeverSkip);
        const uint32_t now = Milliseconds();
        if (i == 0) p.first_frame_at = now;
        if (!p.flash_at && (surface[kWidth * kHeight / 2] & 0xFF) > 200) p.flash_at = now;
        NextFrame(m);
    }
    for (int guard = 0; ShouldWait(m) && guard < 10000; ++guard) AdvanceTestClock(1);
    p.end_at = Milliseconds();
    return p;
}

uint32_t Distance(double a, double b) {
    return static_cast<uint32_t>(std::lround(std::fabs(a - b)));
}

// When the device played the first loud sample of the recording (0: none).
double ClickHeardAt(const Recording& r) {
    size_t click = 0;
    while (click < r.samples.size() && std::abs(r.samples[click]) < 12000) ++click;
    if (click == r.samples.size() || !r.started_at) return 0;
    return r.started_at + 1000.0 * static_cast<double>(click) / kRate;
}

int RunEncoder(const std::string& args) {
    const int status = std::system((std::string(VEMO_ENCODE_TOOL) + " " + args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SoundLead : public ::testing::Test {
  protected:
    // One movie for the whole suite: five seconds with a single key frame
    // (vemo-encode puts one every five seconds).
    static void SetUpTestSuite() {
        const std::string y4m = test::TempPath("lead.y4m"), wav = test::TempPath("lead.wav");
        movie_path_ = test::TempPath("lead.vem");
        const std::string pictures = PicturesWithAFlash();
        ASSERT_TRUE(
            test::WriteWholeFile(y4m, std::vector<uint8_t>(pictures.begin(), pictures.end())));
        ASSERT_TRUE(test::WriteWholeFile(wav, SoundWithAClick()));
        ASSERT_EQ(RunEncoder(y4m + " --wav " + wav + " -o " + movie_path_ + " --quiet"), 0);
    }
    void SetUp() override {
        UseTestClock(true, 1000);
        ASSERT_EQ(SetSoundSystem(GetRecordedSound, nullptr), 1);
        movie_ = OpenMovie(movie_path_.c_str(), kOpenWithoutThreads);  // no track chosen
        ASSERT_NE(movie_, nullptr) << GetLastMovieError();
    }
    void TearDown() override {
        CloseMovie(movie_);
        UseTestClock(false);
        SetSoundSystem(GetNullSoundOpener, nullptr);
    }
    uint32_t SoundSkips() {
        MovieSummary summary{};
        GetSummary(movie_, &summary);
        return summary.sound_skips;
    }
    static std::string movie_path_;
    Movie* movie_ = nullptr;
};
std::string SoundLead::movie_path_;

TEST_F(SoundLead, StartsWithFrameOneMeetsItsPicturesAndPlaysOutBeforeTheEnd) {
    MovieInfo info{};
    GetMovieInfo(movie_, &info);
    EXPECT_EQ(info.played_tracks, 1u);
    const Played p = Play(movie_, kFrames);
    EXPECT_EQ(SoundSkips(), 0u);
    CloseMovie(movie_);  // the device plays out what it holds
    movie_ = nullptr;
    const Recording& r = g_recording;
    // The device starts with frame 1 and plays on without a gap.
    ASSERT_NE(r.started_at, 0u);
    EXPECT_LE(Distance(r.started_at, p.first_frame_at), kFrameMs);
    EXPECT_EQ(r.ran_dry_reports, 0u);
    // The click is heard within a frame of the flash being shown.
    ASSERT_NE(p.flash_at, 0u);
    EXPECT_LE(Distance(ClickHeardAt(r), p.flash_at), kFrameMs);
    // All five seconds reach the device, the first and the last with their
    // tone, and are played by the time the movie ends.
    const size_t total = kRate * kFrames / kFps;
    ASSERT_GE(r.samples.size(), total);
    EXPECT_GT(Rms(r.samples, 0, kRate), 700);
    EXPECT_GT(Rms(r.samples, total - kRate, total), 700);
    const double played_by = r.started_at + 1000.0 * static_cast<double>(total) / kRate;
    EXPECT_LE(played_by, p.end_at + kFrameMs);
}

TEST_F(SoundLead, SeekInAMovieWithOneKeyFrameResumesPictureAndSoundTogether) {
    Play(movie_, 1);
    ASSERT_EQ(SeekMovie(movie_, 51, 1), 51u);  // two seconds in, far from the key frame
    const Played p = Play(movie_, kFrames - 50);
    EXPECT_EQ(SoundSkips(), 0u);
    CloseMovie(movie_);
    movie_ = nullptr;
    const Recording& r = g_recording;
    // The device starts again with the new frame behind the silence the
    // sound runs ahead by; nothing of the frames passed over is heard.
    ASSERT_NE(r.started_at, 0u);
    EXPECT_LE(Distance(r.started_at, p.first_frame_at), kFrameMs);
    ASSERT_GT(r.samples.size(), size_t{kRate});
    EXPECT_LT(Rms(r.samples, 0, kRate * 7 / 10), 10);
    EXPECT_GT(Rms(r.samples, kRate * 8 / 10, kRate), 700);
    ASSERT_NE(p.flash_at, 0u);
    EXPECT_EQ(p.flash_at - p.first_frame_at, (kFlashFrame - 51) * kFrameMs);
    EXPECT_LE(Distance(ClickHeardAt(r), p.flash_at), kFrameMs);
}

}  // namespace
}  // namespace vemo
