// Decoding on more than one thread gives what one thread gives: the planes,
// change maps, unchanged counts and faults of every frame, through playback
// with seeks, pauses, steps and frames decoded without a copy, and closing a
// movie while its worker decodes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "movie_internal.h"
#include "test_util.h"
#include "vemo/decode_threads.h"
#include "vemo/frame_decoder.h"
#include "vemo/movie.h"
#include "vemo/movie_reader.h"
#include "vemo/movie_seek.h"

namespace vemo {
namespace {

const char* const kMovies[] = {"big1", "s01", "s02", "s03", "s04", "s05", "s06",
                               "s07",  "s08", "s09", "s10", "s11", "s12"};

uint64_t Hash(uint64_t h, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

// The frame just decoded: every plane of the current buffer, the change map
// and the unchanged count.
uint64_t PictureHash(const FramePlanes& p, const uint8_t* map, size_t map_bytes,
                     uint32_t unchanged) {
    uint64_t h = Hash(14695981039346656037ull, map, map_bytes);
    h = Hash(h, reinterpret_cast<const uint8_t*>(&unchanged), 4);
    for (int k = 0; k < 4; ++k) {
        const PlaneDescriptor& d = p.buffer[p.current][k];
        if (!d.samples) continue;
        const bool chroma = k == kPlaneCr || k == kPlaneCb;
        h = Hash(h, d.samples, size_t{d.stride} * (chroma ? p.chroma_height : p.luma_height));
    }
    return h;
}

uint64_t MovieHash(const Movie* m) {
    const MoviePicture& pic = m->picture;
    uint64_t h = PictureHash(*pic.planes, pic.change_map, pic.block_count, pic.unchanged_count);
    return Hash(h, reinterpret_cast<const uint8_t*>(&m->current_frame), 4);
}

// Plays the movie by a fixed script of ordinary frames, frames decoded
// without a copy or copied again late, seeks and steps while paused; one hash
// per decoded frame.
// started counts the copies after which the worker had a frame in hand.
std::vector<uint64_t> PlayScript(Movie* m, uint32_t* started) {
    MovieInfo info{};
    GetMovieInfo(m, &info);
    std::vector<uint8_t> surface(size_t{info.width} * info.height * 4);
    const int32_t pitch = static_cast<int32_t>(info.width * 4);
    auto copy = [&] {
        CopyFrameToSurface(m, surface.data(), pitch, info.height, 0, 0, 0, 0, info.width,
                           info.height, 0);
        if (m->ahead && m->ahead->frame) ++*started;
        GetChangedRects(0, m);
    };
    std::vector<uint64_t> hashes;
    uint32_t seed = 12345;
    for (int step = 0; step < 3 * static_cast<int>(info.frames) + 12; ++step) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t op = (seed >> 16) % 10;
        // A seek lands with the whole picture marked changed; the frame after
        // it is decoded without a copy, so the next one goes onto its map,
        // unless a late copy of it (every other time) starts the map afresh.
        const bool seek = op == 0;
        if (seek) SeekMovie(m, (seed >> 8) % info.frames + 1, 0);
        if (op == 1) PauseMovie(m, 1);
        EXPECT_EQ(DecodeFrame(m), 0);
        hashes.push_back(MovieHash(m));
        if (op != 2 && !seek) copy();  // op 2: a frame that is decoded but never shown
        NextFrame(m);
        if (op == 3 || (seek && (seed >> 4) % 2)) copy();  // shown again after the next read
        if (op == 1) PauseMovie(m, 0);
    }
    return hashes;
}

Movie* OpenWith(const std::string& path, uint32_t threads, bool streamed) {
    OpenSettings s;
    s.frame_rate = OpenSettings::FrameRate{0, 0};  // no late blits: the same frames drawn
    s.decode_threads = threads;
    if (streamed) s.read_buffer_size = 65536;
    return OpenMovie(path.c_str(), 0, s);
}

TEST(DecodeThreads, PlaybackWithSeeksPausesAndStepsMatchesOneThread) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    uint32_t started = 0;
    for (const char* name : kMovies) {
        const std::string path = dir + "/" + name + ".vem";
        for (bool streamed : {false, true}) {
            Movie* serial = OpenWith(path, 1, streamed);
            ASSERT_NE(serial, nullptr) << name << ": " << GetLastMovieError();
            uint32_t none = 0;
            const std::vector<uint64_t> want = PlayScript(serial, &none);
            EXPECT_EQ(none, 0u);
            CloseMovie(serial);
            for (uint32_t threads : {2u, 3u}) {
                Movie* m = OpenWith(path, threads, streamed);
                ASSERT_NE(m, nullptr) << name;
                MovieInfo info{};
                GetMovieInfo(m, &info);
                EXPECT_GE(info.decode_threads, 2u) << name;
                EXPECT_EQ(PlayScript(m, &started), want)
                    << name << " threads " << threads << (streamed ? " streamed" : "");
                CloseMovie(m);
            }
        }
    }
    EXPECT_GT(started, 50u);  // the worker did decode ahead
}

TEST(DecodeThreads, ClosingWhileTheWorkerDecodesEndsCleanly) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    std::vector<uint8_t> surface(320 * 240 * 4);
    for (int round = 0; round < 20; ++round) {
        Movie* m = OpenWith(dir + "/big1.vem", 2 + round % 2, round % 4 >= 2);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(DecodeFrame(m), 0);
        CopyFrameToSurface(m, surface.data(), 320 * 4, 240, 0, 0, 0, 0, 320, 240, 0);
        ASSERT_NE(m->ahead, nullptr);
        EXPECT_EQ(m->ahead->frame, 2u);
        if (round % 3 == 1) NextFrame(m);  // the frame is then the current one
        CloseMovie(m);
    }
}

// Damaged video parts too: bytes of every frame changed at random, decoded on
// one thread and on two.
TEST(DecodeThreads, PlaneSplitMatchesOneThreadOnWholeAndDamagedFrames) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "no conformance directory";
    uint32_t seed = 99;
    for (const char* name : kMovies) {
        for (int damage : {0, 1, 8}) {
            MovieReader movie;
            ASSERT_TRUE(movie.Open(dir + "/" + name + ".vem")) << name;
            FrameDecoderSettings settings = DecoderSettingsFor(movie, true);
            FrameDecoder one, two;
            ASSERT_TRUE(one.Open(settings));
            settings.threads = 2;
            ASSERT_TRUE(two.Open(settings));
            for (uint32_t i = 0; i < movie.header().frames; ++i) {
                const uint8_t* video = nullptr;
                uint32_t size = 0;
                ASSERT_TRUE(movie.VideoPart(i, &video, &size));
                std::vector<uint8_t> part(video, video + size);
                for (int k = 0; k < damage && size > 8; ++k) {
                    seed = seed * 1103515245u + 12345u;
                    part[8 + (seed >> 8) % (size - 8)] ^= static_cast<uint8_t>(seed >> 24 | 1);
                }
                const bool key = IsKeyFrame(movie.index()[i]);
                const uint32_t a = one.DecodeVideoPart(part.data(), size, key);
                const uint32_t b = two.DecodeVideoPart(part.data(), size, key);
                const size_t map_bytes = size_t{one.map_stride()} * one.map_rows();
                ASSERT_EQ(PictureHash(*one.planes(), one.change_map(), map_bytes, a),
                          PictureHash(*two.planes(), two.change_map(), map_bytes, b))
                    << name << " frame " << i + 1 << " damage " << damage;
                ASSERT_EQ(one.report().faults, two.report().faults) << name << " frame " << i + 1;
            }
        }
    }
}

}  // namespace
}  // namespace vemo
