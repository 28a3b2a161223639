// The player run headless (SDL's offscreen video and disk audio), driven by
// synthetic key events.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player.h"
#include "test_util.h"
#include "vemo/pixel_convert.h"

namespace vemo::player {
namespace {

struct PlayRun {
    int code = -1;
    std::vector<PlayerProbe> steps;          // pixels not kept
    std::vector<std::vector<uint8_t>> rows;  // the copied picture of each movie step
    std::vector<std::pair<std::string, std::string>> boxes;
    uint32_t closing_steps = 0;
    uint32_t surface_format = 0;
};

void PushKey(SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

// Plays with the arguments; on_step may push events.
PlayRun Play(std::vector<std::string> arguments,
             std::function<void(const PlayerProbe&, uint32_t movie_steps)> on_step = {},
             const std::string& disk_audio = "") {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", disk_audio.empty() ? "dummy" : "disk", 1);
    if (!disk_audio.empty()) setenv("SDL_DISKAUDIOFILE", disk_audio.c_str(), 1);
    PlayRun run;
    PlayerHooks hooks;
    uint32_t movie_steps = 0;
    hooks.after_step = [&](const PlayerProbe& probe) {
        if (probe.closing_image) {
            ++run.closing_steps;
        } else {
            ++movie_steps;
            std::vector<uint8_t> picture;
            const uint32_t bytes = probe.width * 4;
            if (probe.pixels && probe.surface_format >= 3 && probe.surface_format <= 6) {
                for (uint32_t y = 0; y < probe.height; ++y) {
                    const uint8_t* row = probe.pixels + static_cast<int64_t>(y) * probe.pitch;
                    picture.insert(picture.end(), row, row + bytes);
                }
            }
            run.rows.push_back(std::move(picture));
            run.surface_format = probe.surface_format;
        }
        run.steps.push_back(probe);
        if (on_step) on_step(probe, movie_steps);
    };
    hooks.message_box = [&](const std::string& title, const std::string& text) {
        run.boxes.emplace_back(title, text);
    };
    arguments.insert(arguments.begin(), "vemoplay");
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    run.code = RunPlayer(static_cast<int>(argv.size()), argv.data(), &hooks);
    return run;
}

std::string MoviePath(const std::string& name) {
    return test::ConformanceDir() + "/" + name + ".vem";
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
    size_t start = 0;
    while (start < played.size() && played[start] == 0x80) ++start;
    ASSERT_LT(start, played.size()) << "nothing but silence reached the device";
    size_t matched = 0;
    while (start + matched < played.size() && 2 * matched + 1 < pcm.size() &&
           played[start + matched] == static_cast<uint8_t>(pcm[2 * matched + 1] + 0x80))
        ++matched;
    // Leading samples that are themselves silence count with the prime.
    EXPECT_GE(matched, 512u);
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

}  // namespace
}  // namespace vemo::player
