// vemo-decode's sound outputs: --pcm-prefix against the conformance files,
// --wav read back as a WAV file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/audio_decoder.h"
#include "vemo/movie_reader.h"

namespace vemo {
namespace {

int RunDecode(const std::string& args) {
    const std::string command = std::string("\"") + VEMO_DECODE_PATH + "\" " + args;
    return std::system(command.c_str());
}

// A fresh directory for one test's outputs.
std::string OutputDir(const std::string& leaf) {
    const std::string dir = test::TempPath(leaf);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

// "rate channels samples" as sox reads the file; "" when sox is missing.
std::string SoxInfo(const std::string& wav) {
#if defined(_WIN32)
    (void)wav;
    return "";
#else
    if (std::system("soxi >/dev/null 2>&1") == 127 << 8) return "";
    std::string text;
    for (const char* field : {"-r", "-c", "-s"}) {
        const std::string command = std::string("soxi ") + field + " \"" + wav + "\" 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return "";
        char line[64] = {};
        const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
        pclose(pipe);
        if (!got) return "unreadable";
        std::string value(line);
        while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
        text += (text.empty() ? "" : " ") + value;
    }
    return text;
#endif
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return ReadLe32(b.data() + at);
}
uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8;
}

TEST(AudioTool, PcmPrefixMatchesEveryConformanceTrack) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    const std::string out = OutputDir("audio-tool");
    int checked = 0;
    for (const std::string& name : test::ConformanceMovies()) {
        MovieReader movie;
        ASSERT_TRUE(movie.Open(dir + "/" + name + ".vem"));
        const std::string prefix = out + "/" + name;
        ASSERT_EQ(RunDecode("\"" + dir + "/" + name + ".vem\" --pcm-prefix \"" + prefix + "\""), 0)
            << name;
        for (uint32_t t = 0; t < movie.tracks().count; ++t) {
            const std::string leaf = ".track" + std::to_string(movie.tracks().id[t]) + ".pcm";
            std::vector<uint8_t> got, want, tol;
            const bool written = test::ReadWholeFile(prefix + leaf, &got);
            if (AudioTrackVariant(movie.tracks().format[t]) == 0) {
                EXPECT_FALSE(written) << prefix + leaf;
                continue;
            }
            ASSERT_TRUE(written) << prefix + leaf;
            ASSERT_TRUE(test::ReadWholeFile(dir + "/" + name + leaf, &want));
            std::string tol_name = dir + "/" + name + leaf;
            tol_name.replace(tol_name.size() - 4, 4, ".tol");
            ASSERT_TRUE(test::ReadWholeFile(tol_name, &tol));
            const int tolerance = std::atoi(std::string(tol.begin(), tol.end()).c_str());
            ASSERT_EQ(got.size(), want.size()) << leaf;
            for (size_t i = 0; i + 1 < got.size(); i += 2) {
                const int a = static_cast<int16_t>(got[i] | got[i + 1] << 8);
                const int b = static_cast<int16_t>(want[i] | want[i + 1] << 8);
                ASSERT_LE(std::abs(a - b), tolerance) << name << leaf << " sample " << i / 2;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

TEST(AudioTool, WavHasTheTracksRateChannelsAndLength) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    const std::string out = OutputDir("audio-wav");
    int checked = 0;
    for (const std::string& name : test::ConformanceMovies()) {
        MovieReader movie;
        ASSERT_TRUE(movie.Open(dir + "/" + name + ".vem"));
        const TrackTable& tracks = movie.tracks();
        for (uint32_t t = 0; t < tracks.count; ++t) {
            if (AudioTrackVariant(tracks.format[t]) == 0) continue;
            const std::string wav = out + "/" + name + std::to_string(t) + ".wav";
            ASSERT_EQ(RunDecode("\"" + dir + "/" + name + ".vem\" --wav \"" + wav + "\" --track " +
                                std::to_string(tracks.id[t])),
                      0);
            std::vector<uint8_t> bytes, want;
            ASSERT_TRUE(test::ReadWholeFile(wav, &bytes));
            ASSERT_TRUE(test::ReadWholeFile(
                dir + "/" + name + ".track" + std::to_string(tracks.id[t]) + ".pcm", &want));
            ASSERT_GE(bytes.size(), 44u);
            EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
            EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
            EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
            EXPECT_EQ(Le16(bytes, 20), 1u);
            const uint32_t channels = TrackChannels(tracks.format[t]);
            EXPECT_EQ(Le16(bytes, 22), channels);
            EXPECT_EQ(Le32(bytes, 24), TrackRate(tracks.format[t]));
            EXPECT_EQ(Le16(bytes, 34), 16u);
            EXPECT_EQ(Le32(bytes, 40), want.size() / (2 * channels) * (2 * channels));
            EXPECT_EQ(bytes.size(), 44 + Le32(bytes, 40));
            const std::string sox = SoxInfo(wav);
            if (!sox.empty()) {
                EXPECT_EQ(sox, std::to_string(TrackRate(tracks.format[t])) + " " +
                                   std::to_string(channels) + " " +
                                   std::to_string(Le32(bytes, 40) / (2 * channels)))
                    << wav;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

TEST(AudioTool, RefusesUnknownTracksAndSilentMovies) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    const std::string out = OutputDir("audio-bad");
    for (const std::string& name : test::ConformanceMovies()) {
        MovieReader movie;
        ASSERT_TRUE(movie.Open(dir + "/" + name + ".vem"));
        bool playable = false;
        for (uint32_t t = 0; t < movie.tracks().count; ++t)
            playable = playable || AudioTrackVariant(movie.tracks().format[t]) != 0;
        const std::string movie_arg = "\"" + dir + "/" + name + ".vem\"";
        if (!playable) {
            EXPECT_NE(RunDecode(movie_arg + " --wav \"" + out + "/x.wav\""), 0) << name;
        } else {
            EXPECT_NE(RunDecode(movie_arg + " --wav \"" + out + "/x.wav\" --track 12345678901"), 0);
        }
    }
    EXPECT_NE(RunDecode("\"" + out + "/missing.vem\" --pcm-prefix \"" + out + "/m\""), 0);
}

}  // namespace
}  // namespace vemo
