// Every conformance track with a variant decodes to its expected PCM within
// the tolerance stored next to it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/audio_decoder.h"
#include "vemo/movie_reader.h"

namespace vemo {
namespace {

class CollectSink : public AudioSink {
  public:
    void AppendAudio(const uint8_t* bytes, uint32_t count) override {
        data.insert(data.end(), bytes, bytes + count);
    }
    std::vector<uint8_t> data;
};

struct Deviation {
    int largest = 0;
    size_t differing = 0;
};

Deviation Compare(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
    Deviation d;
    const size_t samples = std::min(got.size(), want.size()) / 2;
    for (size_t i = 0; i < samples; ++i) {
        const int a = static_cast<int16_t>(got[2 * i] | got[2 * i + 1] << 8);
        const int b = static_cast<int16_t>(want[2 * i] | want[2 * i + 1] << 8);
        const int diff = std::abs(a - b);
        if (diff > d.largest) d.largest = diff;
        if (diff) ++d.differing;
    }
    return d;
}

TEST(AudioConformance, EveryTrackMatchesWithinItsTolerance) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    int tracks_checked = 0;
    for (const std::string& name : test::ConformanceMovies()) {
        MovieReader movie;
        ASSERT_TRUE(movie.Open(dir + "/" + name + ".vem")) << name << ": " << movie.error();
        const TrackTable& table = movie.tracks();
        for (uint32_t t = 0; t < table.count; ++t) {
            const uint32_t format = table.format[t];
            const std::string base = dir + "/" + name + ".track" + std::to_string(table.id[t]);
            std::vector<uint8_t> want, tol_text;
            const bool has_pcm = test::ReadWholeFile(base + ".pcm", &want);
            if (AudioTrackVariant(format) == 0) {
                EXPECT_FALSE(has_pcm) << base << " exists for a track without a variant";
                EXPECT_EQ(OpenAudioDecoderForTrack(format), nullptr);
                continue;
            }
            ASSERT_TRUE(has_pcm) << base << ".pcm missing";
            ASSERT_TRUE(test::ReadWholeFile(base + ".tol", &tol_text));
            const int tolerance = std::atoi(std::string(tol_text.begin(), tol_text.end()).c_str());

            AudioDecoder* decoder = OpenAudioDecoderForTrack(format);
            ASSERT_NE(decoder, nullptr) << base;
            CollectSink sink;
            bool all_complete = true;
            for (uint32_t f = 0; f < movie.header().frames; ++f) {
                PacketParts parts;
                ASSERT_TRUE(movie.Parts(f, &parts)) << base << " frame " << f;
                const TrackPart& part = parts.tracks[t];
                AudioPartStatus status;
                DecodeAudioPart(decoder, part.data, part.length, &sink, &status);
                all_complete = all_complete && status.complete;
            }
            CloseAudioDecoder(decoder);
            EXPECT_TRUE(all_complete) << base << ": a part ended before its declared bytes";
            ASSERT_EQ(sink.data.size(), want.size()) << base;
            const Deviation d = Compare(sink.data, want);
            EXPECT_LE(d.largest, tolerance) << base;
            std::printf(
                "  %s.track%u: %zu samples, largest deviation %d (tolerance %d), %zu differ\n",
                name.c_str(), table.id[t], want.size() / 2, d.largest, tolerance, d.differing);
            ++tracks_checked;
        }
    }
    EXPECT_GT(tracks_checked, 0);
}

}  // namespace
}  // namespace vemo
