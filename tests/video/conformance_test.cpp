// Every conformance movie decodes to the expected planes and change maps;
// damaged copies of them decode without reading or writing out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/frame_decoder.h"
#include "vemo/movie_reader.h"

namespace vemo {
namespace {

struct DecodedMovie {
    std::vector<uint8_t> planes;
    std::vector<uint8_t> changes;
    uint32_t damaged_frames = 0;
};

// Decodes every frame of a movie the way the dumps are made: alpha always
// decoded when the file has it, the map cleared before each frame.
bool DecodeMovie(MovieReader& movie, DecodedMovie* out) {
    const MovieHeader& h = movie.header();
    FrameDecoder decoder;
    if (!decoder.Open(DecoderSettingsFor(movie, true))) return false;
    const bool gray = (decoder.settings().open_flags & kVideoGrayscale) != 0;
    const bool alpha = (h.flags & kHeaderAlpha) != 0;
    const FramePlanes* planes = decoder.planes();
    const size_t map_bytes = size_t{decoder.map_stride()} * decoder.map_rows();
    for (uint32_t i = 0; i < h.frames; ++i) {
        const uint8_t* video;
        uint32_t video_size;
        if (!movie.VideoPart(i, &video, &video_size)) return false;
        const uint32_t unchanged =
            decoder.DecodeVideoPart(video, video_size, IsKeyFrame(movie.index()[i]));
        if (decoder.report().faults) ++out->damaged_frames;
        for (int b = 0; b < 4; ++b)
            out->changes.push_back(static_cast<uint8_t>(unchanged >> (8 * b)));
        const uint8_t* map = decoder.change_map();
        out->changes.insert(out->changes.end(), map, map + map_bytes);
        const PlaneDescriptor* buffer = decoder.current();
        auto dump = [&](int plane, uint32_t w, uint32_t hgt) {
            out->planes.insert(out->planes.end(), buffer[plane].samples,
                               buffer[plane].samples + w * hgt);
        };
        dump(kPlaneY, planes->luma_width, planes->luma_height);
        if (!gray) {
            dump(kPlaneCr, planes->chroma_width, planes->chroma_height);
            dump(kPlaneCb, planes->chroma_width, planes->chroma_height);
        }
        if (alpha) dump(kPlaneAlpha, planes->luma_width, planes->luma_height);
        // The map's slack bytes are never touched.
        for (size_t k = map_bytes; k < map_bytes + 16; ++k)
            EXPECT_EQ(map[k], 0) << "frame " << i + 1;
    }
    return true;
}

// Index of the first differing frame, for a readable failure.
std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
                            size_t frame_bytes) {
    if (got.size() != want.size())
        return "sizes differ: " + std::to_string(got.size()) + " vs " + std::to_string(want.size());
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i])
            return "first difference in frame " + std::to_string(i / frame_bytes + 1) +
                   " at byte " + std::to_string(i % frame_bytes);
    return "";
}

TEST(VideoConformance, EveryMovieDecodesBitExact) {
    const auto movies = test::ConformanceMovies();
    if (movies.empty()) GTEST_SKIP() << "conformance movies not found";
    int checked = 0;
    for (const std::string& name : movies) {
        SCOPED_TRACE(name);
        const std::string base = test::ConformanceDir() + "/" + name;
        MovieReader movie;
        ASSERT_TRUE(movie.Open(base + ".vem")) << movie.error();
        DecodedMovie decoded;
        ASSERT_TRUE(DecodeMovie(movie, &decoded));
        EXPECT_EQ(decoded.damaged_frames, 0u);
        std::vector<uint8_t> planes, changes;
        ASSERT_TRUE(test::ReadWholeFile(base + ".planes", &planes));
        ASSERT_TRUE(test::ReadWholeFile(base + ".changes", &changes));
        const uint32_t frames = movie.header().frames;
        EXPECT_TRUE(decoded.planes == planes)
            << FirstDifference(decoded.planes, planes, planes.size() / frames);
        EXPECT_TRUE(decoded.changes == changes)
            << FirstDifference(decoded.changes, changes, changes.size() / frames);
        ++checked;
    }
    EXPECT_GE(checked, 13);
}

// Damaged movies: frame packets cut short and bytes of the video parts
// changed at random. Nothing may crash or touch memory it does not own
// (the sanitizer builds check that); most damage is reported.
TEST(VideoConformance, DamagedMoviesStayInBounds) {
    const auto movies = test::ConformanceMovies();
    if (movies.empty()) GTEST_SKIP() << "conformance movies not found";
    std::mt19937 rng(20261209);
    uint32_t reported = 0, runs = 0;
    for (const std::string& name : movies) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(test::ReadWholeFile(test::ConformanceDir() + "/" + name + ".vem", &bytes));
        MovieReader original;
        ASSERT_TRUE(original.OpenMemory(bytes));
        const MovieHeader h = original.header();
        const uint32_t first = IndexOffset(original.index()[0]);
        for (int round = 0; round < 6; ++round) {
            std::vector<uint8_t> damaged = bytes;
            const uint32_t span = static_cast<uint32_t>(damaged.size()) - first;
            const uint32_t flips = round < 3 ? 1 + round * 4 : 40;
            for (uint32_t k = 0; k < flips; ++k)
                damaged[first + rng() % span] ^= static_cast<uint8_t>(1 + rng() % 255);
            MovieReader movie;
            if (!movie.OpenMemory(damaged)) continue;
            DecodedMovie decoded;
            DecodeMovie(movie, &decoded);
            reported += decoded.damaged_frames;
            ++runs;
        }
        // Every frame's video part cut at a few lengths.
        FrameDecoderSettings settings = DecoderSettingsFor(original, true);
        settings.all_key_frames = false;
        settings.open_flags |= kVideoAlpha;
        FrameDecoder decoder;
        ASSERT_TRUE(decoder.Open(settings));
        for (uint32_t i = 0; i < h.frames; ++i) {
            const uint8_t* video;
            uint32_t video_size;
            ASSERT_TRUE(original.VideoPart(i, &video, &video_size));
            for (uint32_t cut :
                 {0u, 1u, 3u, 4u, 7u, video_size / 3, video_size / 2, video_size - 1}) {
                if (cut >= video_size) continue;
                // An exactly sized copy, so that the sanitizer sees any read past it.
                std::vector<uint8_t> part(video, video + cut);
                decoder.DecodeVideoPart(part.empty() ? nullptr : part.data(), cut, false);
                if (cut < 8) {
                    EXPECT_NE(decoder.report().faults, 0u) << "cut at " << cut << " went unnoticed";
                }
            }
        }
    }
    EXPECT_GT(runs, 0u);
    EXPECT_GT(reported, 0u);
}

}  // namespace
}  // namespace vemo
