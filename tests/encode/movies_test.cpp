// The built-in movies: the closing image and the demo movie are well-formed
// and decode without a fault.
#include <gtest/gtest.h>

#include "vemo/container.h"
#include "vemo/encoder.h"
#include "vemo/video_decoder.h"

namespace vemo {
namespace {

struct MovieCheck {
    MovieHeader header{};
    std::vector<uint32_t> index;
    std::vector<uint32_t> formats, ids;
    std::vector<uint32_t> decoded;           // per frame: the first track's decoded bytes
    std::vector<std::vector<uint8_t>> luma;  // per frame, padded
    uint32_t faults = 0;
    uint32_t frames_with_sound = 0;
};

MovieCheck DecodeMovie(const std::vector<uint8_t>& movie) {
    MovieCheck c;
    EXPECT_GE(movie.size(), 44u);
    if (movie.size() < 44) return c;
    EXPECT_EQ(ParseMovieHeader(movie.data(), &c.header), HeaderStatus::kOk);
    const uint32_t t = c.header.audio_tracks;
    const size_t tables = 44 + 12 * size_t{t};
    EXPECT_LE(tables + 4 * (size_t{c.header.index_length} + 1), movie.size());
    for (uint32_t i = 0; i < t; ++i) {
        c.formats.push_back(ReadLe32(&movie[44 + 4 * t + 4 * i]));
        c.ids.push_back(ReadLe32(&movie[44 + 8 * t + 4 * i]));
    }
    for (uint32_t i = 0; i <= c.header.index_length; ++i)
        c.index.push_back(ReadLe32(&movie[tables + 4 * i]));
    EXPECT_EQ(CheckMovieTables(c.header, c.index.data()), nullptr);
    EXPECT_EQ(IndexOffset(c.index.back()), movie.size());
    const uint32_t open = VersionOpenFlags(c.header.version) | (c.header.flags & 0x20000);
    FramePlanes* planes = CreateFramePlanes(c.header.width, c.header.height,
                                            AllKeyFrames(c.index.data(), c.header.frames), open);
    BundleBuffers bundles;
    EXPECT_TRUE(AllocateBundleBuffers(c.header.width, &bundles));
    std::vector<uint8_t> map(BlocksAcross(c.header.width) * BlocksDown(c.header.height) + 16);
    for (uint32_t f = 0; f < c.header.frames; ++f) {
        const uint32_t start = IndexOffset(c.index[f]), end = IndexOffset(c.index[f + 1]);
        PacketParts parts;
        EXPECT_TRUE(SplitPacket(&movie[start], end - start, t, &parts));
        for (const TrackPart& p : parts.tracks)
            if (p.length) ++c.frames_with_sound;
        if (t) {
            const TrackPart& p = parts.tracks[0];
            c.decoded.push_back(p.length >= 4 ? ReadLe32(p.data) : 0);
        }
        VideoReport report;
        DecodeFrameVideo(planes, map.data(), BlocksAcross(c.header.width), parts.video,
                         parts.video_size, IsKeyFrame(c.index[f]), bundles, open, c.header.flags,
                         &report);
        c.faults |= report.faults;
        const PlaneDescriptor& y = planes->buffer[planes->current][kPlaneY];
        c.luma.emplace_back(y.samples,
                            y.samples + size_t{planes->luma_width} * planes->luma_height);
    }
    FreeFramePlanes(planes);
    FreeBundleBuffers(&bundles);
    return c;
}

TEST(BuiltInMovies, ClosingImageIsOne224x252FrameAtTenFramesPerSecond) {
    const std::vector<uint8_t> movie = MakeClosingImageMovie();
    const MovieCheck c = DecodeMovie(movie);
    EXPECT_EQ(c.header.version, 'i');
    EXPECT_EQ(c.header.width, 224u);
    EXPECT_EQ(c.header.height, 252u);
    EXPECT_EQ(c.header.frames, 1u);
    EXPECT_EQ(c.header.rate_num / c.header.rate_den, 10u);
    EXPECT_EQ(c.header.rate_num % c.header.rate_den, 0u);
    EXPECT_EQ(c.header.audio_tracks, 0u);
    EXPECT_TRUE(IsKeyFrame(c.index[0]));
    EXPECT_EQ(c.faults, 0u);
    ASSERT_EQ(c.luma.size(), 1u);
    // The word is drawn bright on a dark gradient: both must be there.
    int bright = 0, dark = 0;
    for (uint8_t v : c.luma[0]) {
        bright += v > 200;
        dark += v < 100;
    }
    EXPECT_GT(bright, 2000);
    EXPECT_GT(dark, 224 * 252 / 2);
    EXPECT_EQ(MakeClosingImageMovie(), movie);  // the same bytes every time
}

TEST(BuiltInMovies, DemoMovieMovesAndCarriesATone) {
    DemoSettings s;
    s.width = 96;
    s.height = 64;
    s.frames = 12;
    s.fps = 6;
    const std::vector<uint8_t> movie = MakeDemoMovie(s);
    const MovieCheck c = DecodeMovie(movie);
    EXPECT_EQ(c.header.width, 96u);
    EXPECT_EQ(c.header.height, 64u);
    EXPECT_EQ(c.header.frames, 12u);
    EXPECT_EQ(c.faults, 0u);
    EXPECT_TRUE(IsKeyFrame(c.index[0]));
    EXPECT_FALSE(AllKeyFrames(c.index.data(), c.header.frames));
    ASSERT_EQ(c.luma.size(), 12u);
    EXPECT_NE(c.luma[0], c.luma[6]);  // the ball and the counter move
    ASSERT_EQ(c.formats.size(), 1u);
    EXPECT_EQ(TrackVariant(c.formats[0]), 1);  // DCT variant
    EXPECT_EQ(TrackRate(c.formats[0]), 22050u);
    ASSERT_EQ(c.ids.size(), 1u);
    EXPECT_EQ(c.ids[0], kDefaultTrackId);  // played without choosing a track
    // Two seconds of mono 16-bit sound, 7350 bytes a frame: the first frame
    // carries its own and the lead of 4 frames; the rest follows frame by
    // frame and is all there by frame 8, before the last three quarters of
    // a second (4 frames at 6 per second).
    ASSERT_EQ(c.decoded.size(), 12u);
    EXPECT_GE(c.decoded[0], 5u * 7350);
    EXPECT_LT(c.decoded[0], 6u * 7350);
    uint32_t by_frame_8 = 0;
    for (size_t f = 0; f < 8; ++f) by_frame_8 += c.decoded[f];
    EXPECT_EQ(by_frame_8, 2u * 44100);
    s.sound = false;
    EXPECT_EQ(DecodeMovie(MakeDemoMovie(s)).header.audio_tracks, 0u);
    s.frames = 0;
    EXPECT_TRUE(MakeDemoMovie(s).empty());
}

}  // namespace
}  // namespace vemo
