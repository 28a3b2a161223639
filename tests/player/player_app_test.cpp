// The player run headless (SDL's offscreen video and disk audio), driven by
// synthetic key events.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display_sdl.h"
#include "playback.h"
#include "player.h"
#include "test_util.h"
#include "vemo/container_writer.h"
#include "vemo/encoder.h"
#include "vemo/pixel_convert.h"
#include "vemo/timer.h"

namespace vemo::player {
namespace {

struct PlayRun {
    int code = -1;
    std::vector<PlayerProbe> steps;          // pixels not kept
    std::vector<std::vector<uint8_t>> rows;  // the copied picture of each movie step
    std::vector<std::pair<std::string, std::string>> boxes;
    uint32_t closing_steps = 0;
    uint32_t surface_format = 0;
    std::vector<uint8_t> closing;  // the first closing-image step's buffer (32-bit styles)
};

SDL_Event KeyEvent(SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    return event;
}

SDL_Event WindowEvent(uint8_t what) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = what;
    return event;
}

void PushKey(SDL_Keycode key) {
    SDL_Event event = KeyEvent(key);
    SDL_PushEvent(&event);
}

// Pushes `event` after `ms` milliseconds.
void PushLater(uint32_t ms, SDL_Event event) {
    SDL_AddTimer(
        ms,
        [](uint32_t, void* e) -> uint32_t {
            SDL_PushEvent(static_cast<SDL_Event*>(e));
            delete static_cast<SDL_Event*>(e);
            return 0;
        },
        new SDL_Event(event));
}

std::vector<uint8_t> Picture32(const PlayerProbe& probe) {
    std::vector<uint8_t> picture;
    if (!probe.pixels || probe.surface_format < 3 || probe.surface_format > 6) return picture;
    for (uint32_t y = 0; y < probe.height; ++y) {
        const uint8_t* row = probe.pixels + static_cast<int64_t>(y) * probe.pitch;
        picture.insert(picture.end(), row, row + probe.width * 4);
    }
    return picture;
}

// Plays with the arguments; on_step may push events.
PlayRun Play(std::vector<std::string> arguments,
             std::function<void(const PlayerProbe&, uint32_t movie_steps)> on_step = {},
             const std::string& disk_audio = "", const std::string& program = "vemoplay") {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", disk_audio.empty() ? "dummy" : "disk", 1);
    if (!disk_audio.empty()) setenv("SDL_DISKAUDIOFILE", disk_audio.c_str(), 1);
    PlayRun run;
    PlayerHooks hooks;
    uint32_t movie_steps = 0;
    hooks.after_step = [&](const PlayerProbe& probe) {
        if (probe.closing_image) {
            if (run.closing_steps++ == 0) run.closing = Picture32(probe);
        } else {
            ++movie_steps;
            run.rows.push_back(Picture32(probe));
            run.surface_format = probe.surface_format;
        }
        run.steps.push_back(probe);
        if (on_step) on_step(probe, movie_steps);
    };
    hooks.message_box = [&](const std::string& title, const std::string& text) {
        run.boxes.emplace_back(title, text);
    };
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    run.code = RunPlayer(static_cast<int>(argv.size()), argv.data(), &hooks);
    return run;
}

std::string MoviePath(const std::string& name) {
    return test::ConformanceDir() + "/" + name + ".vem";
}

// Ends the run as soon as the closing image shows.
void EscapeAtClosing(const PlayerProbe& probe) {
    if (probe.closing_image) PushKey(SDLK_ESCAPE);
}

// Samples of a track (16-bit PCM) that reached an 8-bit device in order
// after its leading silence.
size_t MatchedSamples(const std::vector<uint8_t>& played, const std::vector<uint8_t>& pcm) {
    size_t start = 0;
    while (start < played.size() && played[start] == 0x80) ++start;
    size_t matched = 0;
    while (start + matched < played.size() && 2 * matched + 1 < pcm.size() &&
           played[start + matched] == static_cast<uint8_t>(pcm[2 * matched + 1] + 0x80))
        ++matched;
    return matched;
}

int PeakLevel(const std::vector<uint8_t>& played) {
    int peak = 0;
    for (uint8_t b : played) peak = std::max(peak, std::abs(static_cast<int>(b) - 0x80));
    return peak;
}

// A 64x48 movie at 30 frames/sec: frames 2 and 3 repeat frame 1 as drawn,
// frame 4 changes one corner block.
std::string StillMovie() {
    VideoEncoder encoder(64, 48, EncoderSettings{});
    MovieWriter writer('i', 64, 48, 30, 1, encoder.header_flags());
    std::vector<uint8_t> y(64 * 48), c(32 * 24, 128);
    for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i * 7);
    EncoderPicture picture{y.data(), 64, c.data(), 32, c.data(), 32};
    std::vector<uint8_t> planes[3];
    for (int frame = 1; frame <= 4; ++frame) {
        if (frame == 2) {
            for (int i = 0; i < 3; ++i) planes[i] = encoder.decoded(i);
            picture = {planes[0].data(),       encoder.plane_width(0), planes[2].data(),
                       encoder.plane_width(2), planes[1].data(),       encoder.plane_width(1)};
        }
        if (frame == 4)
            for (int row = 0; row < 8; ++row)
                std::fill_n(&planes[0][row * encoder.plane_width(0)], 8, 250);
        std::vector<uint8_t> video;
        bool key = false;
        encoder.EncodeFrame(picture, false, &video, &key);
        writer.AddFrame(key, {}, video);
    }
    const std::string path = test::TempPath("still.vem");
    test::WriteWholeFile(path, writer.Finish());
    return path;
}

#define REQUIRE_CONFORMANCE() \
    if (test::ConformanceDir().empty()) GTEST_SKIP() << "no conformance movies"

TEST(PlayerHeadless, PlaysToTheEndShowsTheClosingImageAndTheSummary) {
    REQUIRE_CONFORMANCE();
    const std::string disk = test::TempPath("player_disk.raw");
    PlayRun run = Play({"/S", MoviePath("s06")}, {}, disk);
    EXPECT_EQ(run.code, 0);
    ASSERT_EQ(run.rows.size(), 8u);  // every frame once
    EXPECT_GT(run.closing_steps, 0u);

    // The fourth frame as shown equals the reference conversion.
    ASSERT_EQ(run.surface_format, 3u) << "the offscreen window surface is 32-bit RGB";
    const char* path = ResolvedPixelPath() == PixelPath::kTable ? "table" : "packed";
    std::vector<uint8_t> expected;
    ASSERT_TRUE(test::ReadWholeFile(
        test::ConformanceDir() + "/s06.f4.s3." + std::string(path) + ".c0.raw", &expected));
    EXPECT_EQ(run.rows[3], expected);

    // The summary box, filled in.
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].first, "Vemo Playback Summary");
    const std::string& text = run.boxes[0].second;
    EXPECT_NE(text.find("Video: 33 x 17 at 29.9 frames/sec\nTotal frames: 8\n"), std::string::npos);
    EXPECT_NE(text.find("Total frames played: 8\n"), std::string::npos);
    EXPECT_NE(text.find("Skipped frames: 0\n"), std::string::npos);

    // The sound device got silence, then the decoded track as 8-bit samples.
    std::vector<uint8_t> played, pcm;
    ASSERT_TRUE(test::ReadWholeFile(disk, &played));
    ASSERT_TRUE(test::ReadWholeFile(test::ConformanceDir() + "/s06.track0.pcm", &pcm));
    // Leading samples that are themselves silence count with the prime.
    EXPECT_GE(MatchedSamples(played, pcm), 512u);
}

TEST(PlayerHeadless, EscapeEndsALoopAndAgainEndsTheClosingImageAtOnce) {
    REQUIRE_CONFORMANCE();
    bool escaped_closing = false;
    PlayRun run =
        Play({"/L0", MoviePath("s02")}, [&](const PlayerProbe& probe, uint32_t movie_steps) {
            if (!probe.closing_image && movie_steps == 15) PushKey(SDLK_ESCAPE);
            if (probe.closing_image && !escaped_closing) {
                escaped_closing = true;
                PushKey(SDLK_ESCAPE);
            }
        });
    EXPECT_EQ(run.code, 0);
    EXPECT_GE(run.rows.size(), 15u);  // /L0 went round the six frames more than twice
    EXPECT_LE(run.rows.size(), 17u);
    EXPECT_TRUE(escaped_closing);
    EXPECT_LE(run.closing_steps, 3u);  // not the 2.25 s of a closing image left alone
    EXPECT_TRUE(run.boxes.empty());    // no /S: no summary
}

TEST(PlayerHeadless, DisabledQuitIgnoresEscapeAndPeriodSkipsToTheEnd) {
    REQUIRE_CONFORMANCE();
    PlayRun run =
        Play({"/L0", "/U4", MoviePath("s02")}, [&](const PlayerProbe& probe, uint32_t movie_steps) {
            if (probe.closing_image) return;
            if (movie_steps == 4) PushKey(SDLK_ESCAPE);
            if (movie_steps == 20) PushKey(SDLK_PERIOD);
        });
    EXPECT_EQ(run.code, 0);
    EXPECT_GE(run.rows.size(), 20u);  // Escape did nothing
    EXPECT_LE(run.rows.size(), 22u);  // "." finished the movie
    EXPECT_GT(run.closing_steps, 0u);
}

TEST(PlayerHeadless, SpacePausesUntilPressedAgain) {
    REQUIRE_CONFORMANCE();
    uint32_t paused_at = 0, resumed_at = 0;
    PlayRun run =
        Play({"/S", MoviePath("s02")}, [&](const PlayerProbe& probe, uint32_t movie_steps) {
            if (probe.closing_image) return;
            if (movie_steps == 2) {
                paused_at = SDL_GetTicks();
                PushKey(SDLK_SPACE);
                SDL_AddTimer(
                    300,
                    [](uint32_t, void*) -> uint32_t {
                        PushKey(SDLK_SPACE);
                        return 0;
                    },
                    nullptr);
            }
            if (movie_steps == 3) resumed_at = SDL_GetTicks();
        });
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.rows.size(), 6u);
    EXPECT_GE(resumed_at - paused_at, 250u);  // nothing was shown while paused
}

TEST(PlayerHeadless, BadFilesAndOptionsEndWithABox) {
    PlayRun missing = Play({test::TempPath("no-such-movie.vem")});
    EXPECT_EQ(missing.code, 1);
    ASSERT_EQ(missing.boxes.size(), 1u);
    EXPECT_EQ(missing.boxes[0].first, "Vemo Error");
    EXPECT_EQ(missing.boxes[0].second, "Error opening file.");

    std::string junk = test::TempPath("junk.vem");
    ASSERT_TRUE(test::WriteWholeFile(junk, std::vector<uint8_t>(100, 'x')));
    PlayRun bad = Play({junk});
    EXPECT_EQ(bad.code, 1);
    ASSERT_EQ(bad.boxes.size(), 1u);
    EXPECT_EQ(bad.boxes[0].second, "Not a Vemo file.");

    PlayRun help = Play({"/Y"});
    EXPECT_EQ(help.code, 1);
    ASSERT_EQ(help.boxes.size(), 1u);
    EXPECT_EQ(help.boxes[0].first, "Vemo Video Player Help");
}

TEST(PlayerHeadless, EveryScaleModeFillsItsBuffer) {
    REQUIRE_CONFORMANCE();
    const std::string path = ResolvedPixelPath() == PixelPath::kTable ? "table" : "packed";
    auto expected = [&](int frame, int mode) {
        std::vector<uint8_t> bytes;
        test::ReadWholeFile(test::ConformanceDir() + "/s01.f" + std::to_string(frame) + ".s3." +
                                path + ".c" + std::to_string(mode) + "0000000.raw",
                            &bytes);
        return bytes;
    };
    auto play = [](const std::string& movie, const std::string& option) {
        return Play({option, movie}, [](const PlayerProbe& p, uint32_t) { EscapeAtClosing(p); });
    };
    for (int mode = 1; mode <= 7; ++mode) {
        const int frame = 2 - mode % 2;  // the frame with an expected output for the mode
        PlayRun run = play(MoviePath("s01"), "/A" + std::to_string(mode));
        ASSERT_EQ(run.rows.size(), 2u);
        EXPECT_EQ(run.rows[frame - 1], expected(frame, mode)) << "/A" << mode;
    }
    // The mode carried by the movie's header (flags at byte 36).
    std::vector<uint8_t> movie;
    ASSERT_TRUE(test::ReadWholeFile(MoviePath("s01"), &movie));
    movie[39] |= 0x30;
    const std::string own = test::TempPath("s01-width-doubled.vem");
    ASSERT_TRUE(test::WriteWholeFile(own, movie));
    PlayRun run = play(own, "/S");
    ASSERT_EQ(run.rows.size(), 2u);
    EXPECT_EQ(run.rows[0], expected(1, 3));
}

TEST(PlayerHeadless, FullScreenAndResizingFitTheMovieKeepingItsShape) {
    REQUIRE_CONFORMANCE();
    std::vector<PlayerProbe> seen;
    PlayRun run = Play({"/L0", MoviePath("s06")}, [&](const PlayerProbe& p, uint32_t n) {
        if (n == 2 || n == 3) PushKey(SDLK_f);
        if (n == 4) SDL_SetWindowSize(static_cast<SDL_Window*>(p.window), 200, 300);
        if (n >= 3 && n <= 5 && !p.closing_image) seen.push_back(p);
        if (n == 5) PushKey(SDLK_ESCAPE);
        EscapeAtClosing(p);
    });
    ASSERT_EQ(seen.size(), 3u);
    const PlayerProbe& full = seen[0];
    EXPECT_GT(full.window_width, 33);
    EXPECT_TRUE(full.scaled_width == static_cast<uint32_t>(full.window_width) ||
                full.scaled_height == static_cast<uint32_t>(full.window_height));
    EXPECT_LE(std::abs(static_cast<int>(full.scaled_width * 17) -
                       static_cast<int>(full.scaled_height * 33)),
              33);
    EXPECT_LE(full.window_width - 2 * full.offset_x - static_cast<int>(full.scaled_width), 1);
    EXPECT_LE(full.window_height - 2 * full.offset_y - static_cast<int>(full.scaled_height), 1);
    const PlayerProbe& back = seen[1];
    EXPECT_EQ(back.window_width, 33);
    EXPECT_EQ(back.scaled_width, 33u);
    EXPECT_EQ(back.offset_y, 0);
    EXPECT_TRUE(back.window_flags & SDL_WINDOW_RESIZABLE);
    const PlayerProbe& resized = seen[2];
    EXPECT_EQ(resized.scaled_width, 200u);
    EXPECT_EQ(resized.scaled_height, 17u * 200 / 33);
    EXPECT_EQ(resized.offset_y, (300 - 17 * 200 / 33) / 2);
}

TEST(PlayerHeadless, VolumeStepsOverTheBackEndsRangeAndStaysForTheList) {
    REQUIRE_CONFORMANCE();
    auto peak_after_downs = [](int downs, std::string* title) {
        const std::string disk = test::TempPath("volume.raw");
        Play(
            {MoviePath("s06"), MoviePath("s06")},
            [&](const PlayerProbe& p, uint32_t n) {
                if (n == 1) {
                    PushKey(SDLK_UP);  // already full
                    for (int i = 0; i < downs; ++i) PushKey(SDLK_DOWN);
                }
                if (n == 2 && title) *title = p.title;
                EscapeAtClosing(p);
            },
            disk);
        std::vector<uint8_t> played;
        test::ReadWholeFile(disk, &played);
        return PeakLevel(played);
    };
    std::string title;
    const int full = peak_after_downs(0, nullptr);
    EXPECT_GT(full, 8);
    EXPECT_LT(peak_after_downs(8, &title), full * 6 / 10);  // half the range: about -10 dB
    EXPECT_NE(title.find("Volume 50%"), std::string::npos) << title;
    EXPECT_LE(peak_after_downs(16, nullptr), 1);  // both movies silent
}

// The closing image on a test clock: the clock is moved from a timer thread
// to 1 ms before its end, to its end, then far beyond.
std::atomic<uint32_t> g_closing_start{0};
std::atomic<int> g_clock_stage{0};
uint32_t MoveClosingClock(uint32_t, void* stage) {
    const auto s = static_cast<int>(reinterpret_cast<intptr_t>(stage));
    const uint32_t offsets[] = {0, 2249, 2250, 100000};
    g_clock_stage.store(s);
    SetTestClock(g_closing_start.load() + offsets[s]);
    return 0;
}

TEST(PlayerHeadless, TheClosingImageStaysExactly2250Milliseconds) {
    UseTestClock(true, 10000);
    g_clock_stage.store(0);
    bool closing = false;
    SDL_TimerID timers[3] = {};
    PlayRun run = Play({StillMovie()}, [&](const PlayerProbe& p, uint32_t) {
        if (!p.closing_image) {
            AdvanceTestClock(1000);  // the next frame is due at once
            return;
        }
        if (closing) return;
        closing = true;
        g_closing_start.store(Milliseconds());
        const uint32_t after[] = {150, 500, 1500};
        for (intptr_t i = 0; i < 3; ++i)
            timers[i] = SDL_AddTimer(after[i], MoveClosingClock, reinterpret_cast<void*>(i + 1));
    });
    const int stage_at_end = g_clock_stage.load();
    for (SDL_TimerID t : timers) SDL_RemoveTimer(t);
    UseTestClock(false);
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(closing);
    EXPECT_EQ(stage_at_end, 2);
}

// The loop sleeps at most 10 ms of its credit, takes the time really slept
// off it, and never owes more than 100 ms.
std::atomic<uint32_t> g_slept{0};
std::atomic<uint32_t> g_overrun{0};
void TestSleep(uint32_t ms) {
    g_slept.store(ms);
    AdvanceTestClock(ms + g_overrun.load());
}

TEST(PlayerLoop, SleepsFromACreditOfAtMostTenAndOwesAtMostAHundred) {
    UseTestClock(true, 5000);
    constexpr uint32_t kNone = 999;
    const struct {
        int32_t credit;
        uint32_t overrun, slept;
        int32_t after;
    } cases[] = {{0, 0, kNone, 0},  {-5, 0, kNone, -5},  {1, 0, 1, 0},
                 {10, 0, 10, 0},    {11, 0, 10, 1},      {25, 3, 10, 12},
                 {10, 99, 10, -99}, {10, 100, 10, -100}, {10, 101, 10, -100}};
    for (const auto& c : cases) {
        g_slept.store(kNone);
        g_overrun.store(c.overrun);
        int32_t credit = c.credit;
        SleepFromCredit(&credit, TestSleep);
        EXPECT_EQ(g_slept.load(), c.slept) << c.credit << " " << c.overrun;
        EXPECT_EQ(credit, c.after) << c.credit << " " << c.overrun;
    }
    UseTestClock(false);
    // A pass earns 1 ms by waiting and 5 more while paused or unfocused.
    EXPECT_EQ(PassSleepCredit(false, false), 0);
    EXPECT_EQ(PassSleepCredit(true, false), 1);
    EXPECT_EQ(PassSleepCredit(false, true), 5);
    EXPECT_EQ(PassSleepCredit(true, true), 6);
}

TEST(PlayerHeadless, TheClosingImageShowsOnACleanBuffer) {
    REQUIRE_CONFORMANCE();
    for (const char* style : {"/B2", "/B10"}) {
        PlayRun run = Play({"/A4", style, MoviePath("big1")},
                           [](const PlayerProbe& p, uint32_t) { EscapeAtClosing(p); });
        ASSERT_EQ(run.closing.size(), 640u * 480 * 4) << style;
        // Right of the 224-pixel image, on its rows: black, though the last
        // frame was not.
        auto beside_image = [](const std::vector<uint8_t>& picture) {
            uint32_t lit = 0;
            for (uint32_t y = 0; y < 252; ++y)
                for (uint32_t x = 224 * 4; x < 640 * 4; ++x) lit += picture[y * 640 * 4 + x] != 0;
            return lit;
        };
        EXPECT_GT(beside_image(run.rows.back()), 0u) << style;
        EXPECT_EQ(beside_image(run.closing), 0u) << style;
    }
}

TEST(PlayerHeadless, OnlyChangedAreasReachTheWindow) {
    const std::string movie = StillMovie();
    for (const char* style : {"/B1", "/B2"}) {
        std::vector<int> blitted;
        std::vector<uint64_t> pushed;
        Play({style, movie}, [&](const PlayerProbe& p, uint32_t) {
            if (!p.closing_image) {
                blitted.push_back(p.blitted);
                pushed.push_back(SdlWindowPixelsPushed());
            }
            EscapeAtClosing(p);
        });
        ASSERT_EQ(blitted.size(), 4u) << style;
        EXPECT_EQ(blitted[0], -1) << style;  // the first copy is a full one
        EXPECT_EQ(blitted[1], 0) << style;
        EXPECT_EQ(blitted[2], 0) << style;
        EXPECT_EQ(blitted[3], 1) << style;
        EXPECT_EQ(pushed[2], pushed[1]) << style;
        EXPECT_GT(pushed[3] - pushed[2], 0u) << style;
        EXPECT_LE(pushed[3] - pushed[2], 16u * 16) << style;
    }
}

TEST(PlayerHeadless, WindowStylesParentWindowAndTheSaverName) {
    REQUIRE_CONFORMANCE();
    auto flags_with = [](const std::string& option) {
        uint32_t flags = 0;
        Play({option, MoviePath("s01")}, [&](const PlayerProbe& p, uint32_t) {
            flags = p.window_flags;
            PushKey(SDLK_ESCAPE);
        });
        return flags & (SDL_WINDOW_BORDERLESS | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALWAYS_ON_TOP);
    };
    EXPECT_EQ(flags_with("/I0"), static_cast<uint32_t>(SDL_WINDOW_RESIZABLE));
    EXPECT_EQ(flags_with("/I1"),
              static_cast<uint32_t>(SDL_WINDOW_BORDERLESS | SDL_WINDOW_RESIZABLE));
    EXPECT_EQ(flags_with("/I2"), static_cast<uint32_t>(SDL_WINDOW_BORDERLESS));
    EXPECT_EQ(flags_with("/I102"),
              static_cast<uint32_t>(SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP));

    // The headless driver has no windows of others to draw in: said plainly.
    PlayRun parent = Play({"/#4660", MoviePath("s01")});
    EXPECT_EQ(parent.code, 1);
    ASSERT_EQ(parent.boxes.size(), 1u);
    EXPECT_NE(parent.boxes[0].second.find("parent window 4660"), std::string::npos);

    // Started by a saver's name (a link, say), whatever the file is.
    PlayRun saver = Play({"/c"}, {}, "", "/some/dir/movie.scr");
    EXPECT_EQ(saver.code, 0);
    ASSERT_EQ(saver.boxes.size(), 1u);
    EXPECT_EQ(saver.boxes[0].second, "There are no settings for this screensaver.");
}

TEST(PlayerHeadless, ADroppedMovieReplacesTheList) {
    REQUIRE_CONFORMANCE();
    PlayRun run = Play({MoviePath("s02"), MoviePath("s01")}, [&](const PlayerProbe& p, uint32_t n) {
        if (n == 3) {
            SDL_Event drop{};
            drop.type = SDL_DROPFILE;
            drop.drop.file = SDL_strdup(MoviePath("s06").c_str());
            SDL_PushEvent(&drop);
        }
        EscapeAtClosing(p);
    });
    ASSERT_EQ(run.steps.size() - run.closing_steps, 3u + 8u);
    for (uint32_t i = 3; i < 11; ++i) {
        EXPECT_EQ(run.steps[i].frames, 8u);
        EXPECT_EQ(run.steps[i].frame, i - 2);
    }
}

// The times of the movie steps of a run; at(n) runs after the n-th.
std::vector<uint32_t> StepTimes(std::vector<std::string> arguments,
                                const std::function<void(uint32_t)>& at) {
    std::vector<uint32_t> times;
    Play(std::move(arguments), [&](const PlayerProbe& p, uint32_t n) {
        EscapeAtClosing(p);
        if (p.closing_image) return;
        times.push_back(SDL_GetTicks());
        at(n);
    });
    return times;
}

TEST(PlayerHeadless, EnterStepsOnceWhilePausedAndFocusLossPausesUnlessJ) {
    REQUIRE_CONFORMANCE();
    std::vector<uint32_t> t = StepTimes({MoviePath("s02")}, [](uint32_t n) {
        if (n == 2) {
            PushKey(SDLK_SPACE);
            PushLater(200, KeyEvent(SDLK_RETURN));
        }
        if (n == 3) PushLater(400, KeyEvent(SDLK_SPACE));
    });
    ASSERT_EQ(t.size(), 6u);
    EXPECT_GE(t[2] - t[1], 150u);  // paused until Enter
    EXPECT_GE(t[3] - t[2], 350u);  // one step, then paused again
    for (const char* keep : {"/J", "/S"}) {
        t = StepTimes({keep, MoviePath("s02")}, [](uint32_t n) {
            if (n != 2) return;
            SDL_Event lost = WindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
            SDL_PushEvent(&lost);
            PushLater(600, WindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED));
        });
        ASSERT_EQ(t.size(), 6u);
        if (std::string(keep) == "/J") {
            EXPECT_LT(t[2] - t[1], 300u);
        } else {
            EXPECT_GE(t[2] - t[1], 500u);
        }
    }
}

// Left goes back to the first frame, Right lands on the last (the movie is
// shorter than a seek), each showing exactly what plain playback shows.
TEST(PlayerHeadless, SeekingShowsTheAskedFrames) {
    REQUIRE_CONFORMANCE();
    auto escape = [](const PlayerProbe& p, uint32_t) { EscapeAtClosing(p); };
    PlayRun plain = Play({"/S", MoviePath("s06")}, escape);
    ASSERT_EQ(plain.rows.size(), 8u);
    PlayRun run = Play({"/S", MoviePath("s06")}, [&](const PlayerProbe& p, uint32_t steps) {
        EscapeAtClosing(p);
        if (!p.closing_image && steps == 5) PushKey(SDLK_LEFT);
        if (!p.closing_image && steps == 7) PushKey(SDLK_RIGHT);
    });
    std::vector<uint32_t> frames;
    for (const PlayerProbe& p : run.steps)
        if (!p.closing_image) frames.push_back(p.frame);
    EXPECT_EQ(frames, (std::vector<uint32_t>{1, 2, 3, 4, 5, 1, 2, 8}));
    ASSERT_EQ(run.rows.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(run.rows[i], plain.rows[frames[i] - 1]) << "step " << i + 1;
}

TEST(PlayerHeadless, AListPlaysEachMovieOncePerLoop) {
    REQUIRE_CONFORMANCE();
    PlayRun run = Play({"/L2", MoviePath("s02"), MoviePath("s01")},
                       [](const PlayerProbe& p, uint32_t) { EscapeAtClosing(p); });
    std::vector<uint32_t> frames, expected;
    for (const PlayerProbe& p : run.steps)
        if (!p.closing_image) frames.push_back(p.frames * 100 + p.frame);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t f = 1; f <= 6; ++f) expected.push_back(600 + f);
        for (uint32_t f = 1; f <= 2; ++f) expected.push_back(200 + f);
    }
    EXPECT_EQ(frames, expected);
    EXPECT_GT(run.closing_steps, 0u);
}

// The movie frames shown, as frames * 100 + frame (the closing image left out).
std::vector<uint32_t> ListFrames(const PlayRun& run) {
    std::vector<uint32_t> frames;
    for (const PlayerProbe& p : run.steps)
        if (!p.closing_image) frames.push_back(p.frames * 100 + p.frame);
    return frames;
}

TEST(PlayerHeadless, SkipMovesOnInTheListEscapeDropsItABadNameEndsIt) {
    REQUIRE_CONFORMANCE();
    // "." goes to the next name, not to the closing image; the second pass
    // plays the skipped movie whole.
    bool skipped = false;
    PlayRun skip =
        Play({"/L2", MoviePath("s02"), MoviePath("s01")}, [&](const PlayerProbe& p, uint32_t) {
            if (!skipped && p.frame == 2) {
                skipped = true;
                PushKey(SDLK_PERIOD);
            }
            EscapeAtClosing(p);
        });
    EXPECT_EQ(ListFrames(skip),
              (std::vector<uint32_t>{601, 602, 201, 202, 601, 602, 603, 604, 605, 606, 201, 202}));
    EXPECT_GT(skip.closing_steps, 0u);

    // Escape on the first movie drops the rest of the list and both passes;
    // the summary reports the movie it stopped.
    PlayRun escape =
        Play({"/L2", "/S", MoviePath("s02"), MoviePath("s01")}, [](const PlayerProbe& p, uint32_t) {
            if (p.frame == 3 && !p.closing_image) PushKey(SDLK_ESCAPE);
            EscapeAtClosing(p);
        });
    EXPECT_EQ(escape.code, 0);
    EXPECT_EQ(ListFrames(escape), (std::vector<uint32_t>{601, 602, 603}));
    ASSERT_EQ(escape.boxes.size(), 1u);
    EXPECT_NE(escape.boxes[0].second.find("Total frames: 6\n\nTotal frames played: 3\n"),
              std::string::npos);

    // A later name that does not open ends the program with its error and
    // no closing image.
    PlayRun bad = Play({MoviePath("s01"), test::TempPath("no-such-movie.vem")});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(ListFrames(bad), (std::vector<uint32_t>{201, 202}));
    EXPECT_EQ(bad.closing_steps, 0u);
    ASSERT_EQ(bad.boxes.size(), 1u);
    EXPECT_EQ(bad.boxes[0].second, "Error opening file.");
}

TEST(PlayerHeadless, StatisticsBandBlackBackgroundSizesAndStyles) {
    REQUIRE_CONFORMANCE();
    auto second_step = [](std::vector<std::string> arguments,
                          std::vector<uint8_t>* band = nullptr) {
        PlayerProbe seen;
        PlayRun run = Play(std::move(arguments), [&](const PlayerProbe& p, uint32_t n) {
            if (n == 2 && !p.closing_image) {
                seen = p;
                SDL_Surface* s = SDL_GetWindowSurface(static_cast<SDL_Window*>(p.window));
                for (int y = 0; band && s && y < p.offset_y; ++y) {
                    for (int x = 0; x < s->w; ++x) {
                        uint8_t r, g, b;
                        SDL_GetRGB(static_cast<uint32_t*>(s->pixels)[y * s->pitch / 4 + x],
                                   s->format, &r, &g, &b);
                        if (r > 200 && g > 200 && b < 50) band->push_back(1);
                    }
                }
                PushKey(SDLK_ESCAPE);
            }
            EscapeAtClosing(p);
        });
        seen.title = run.boxes.empty() ? "" : run.boxes[0].second;  // the summary
        return seen;
    };
    std::vector<uint8_t> yellow;
    PlayerProbe q = second_step({"/Q", MoviePath("s06")}, &yellow);
    EXPECT_GT(q.offset_y, 0);
    EXPECT_EQ(q.window_height, 17 + q.offset_y);
    EXPECT_EQ(q.offset_x, ((q.window_width - 33) / 2) & ~3);
    EXPECT_FALSE(yellow.empty()) << "no statistics text in the band";

    SDL_DisplayMode screen{};
    PlayerProbe r = second_step({"/R", MoviePath("s06")});
    SDL_Init(SDL_INIT_VIDEO);
    SDL_GetDesktopDisplayMode(0, &screen);
    SDL_Quit();
    EXPECT_EQ(r.window_width, screen.w);
    EXPECT_EQ(r.offset_x, (screen.w - 33) / 2);
    EXPECT_EQ(r.offset_y, (screen.h - 17) / 2);

    PlayerProbe stretched = second_step({"/W-2", "/H-3", MoviePath("s06")});
    EXPECT_EQ(stretched.width, 33u);
    EXPECT_EQ(stretched.scaled_width, 66u);
    EXPECT_EQ(stretched.scaled_height, 51u);
    PlayerProbe doubled = second_step({"/W-2", MoviePath("s06")});
    EXPECT_EQ(doubled.width, 66u);  // the copy doubles the width
    EXPECT_EQ(doubled.scaled_width, 66u);
    // (The GL renderers of the YUV styles leave leaks in the system's driver.)
    PlayerProbe software = second_step({"/B10", "/S", MoviePath("s06")});
    EXPECT_EQ(software.surface_format, 3u);
    EXPECT_NE(software.title.find("Blitting style: SDL RGB texture, software renderer\n"),
              std::string::npos);
}

TEST(PlayerHeadless, TrackAndSoundBackEndSwitches) {
    REQUIRE_CONFORMANCE();
    std::vector<uint8_t> track0;
    ASSERT_TRUE(test::ReadWholeFile(test::ConformanceDir() + "/s07.track0.pcm", &track0));
    auto played = [](std::vector<std::string> arguments) {
        const std::string disk = test::TempPath("tracks.raw");
        arguments.push_back(MoviePath("s07"));
        Play(
            arguments, [](const PlayerProbe& p, uint32_t) { EscapeAtClosing(p); }, disk);
        std::vector<uint8_t> bytes;
        test::ReadWholeFile(disk, &bytes);
        return bytes;
    };
    EXPECT_GE(MatchedSamples(played({}), track0), 256u);
    EXPECT_GE(MatchedSamples(played({"/Z"}), track0), 256u);
    const std::vector<uint8_t> other = played({"/T1"});
    EXPECT_LT(MatchedSamples(other, track0), 64u);
    EXPECT_GT(PeakLevel(other), 0);
}

}  // namespace
}  // namespace vemo::player
