#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/movie.h"
#include "vemo/movie_seek.h"

namespace vemo {
namespace {

// The decoded planes of the frame just decoded, laid out as the
// conformance dumps hold them (Y, Cr, Cb, no alpha in s04).
std::vector<uint8_t> CurrentPlanes(const Movie* movie) {
    const FramePlanes* planes = MovieFramePlanes(movie);
    std::vector<uint8_t> out;
    const uint32_t widths[3] = {planes->luma_width, planes->chroma_width, planes->chroma_width};
    const uint32_t heights[3] = {planes->luma_height, planes->chroma_height, planes->chroma_height};
    for (int p = 0; p < 3; ++p) {
        const PlaneDescriptor& d = planes->buffer[planes->current][p];
        for (uint32_t y = 0; y < heights[p]; ++y) {
            out.insert(out.end(), d.samples + y * d.stride, d.samples + y * d.stride + widths[p]);
        }
    }
    return out;
}

class SeekTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = vemo::test::ConformanceDir() + "/s04.vem";
        if (!vemo::test::ReadWholeFile(vemo::test::ConformanceDir() + "/s04.planes", &expected_)) {
            GTEST_SKIP() << "no conformance movies here";
        }
        movie_ = OpenMovie(path_.c_str(), kOpenWithoutThreads);
        ASSERT_NE(movie_, nullptr) << GetLastMovieError();
        MovieInfo info{};
        GetMovieInfo(movie_, &info);
        ASSERT_EQ(info.frames, 5u);  // key frames 1 and 4
        frame_bytes_ = expected_.size() / 5;
    }
    void TearDown() override { CloseMovie(movie_); }
    std::vector<uint8_t> Expected(uint32_t frame) const {
        return {expected_.begin() + (frame - 1) * frame_bytes_,
                expected_.begin() + frame * frame_bytes_};
    }
    uint32_t Current() const {
        MovieInfo info{};
        GetMovieInfo(movie_, &info);
        return info.current_frame;
    }
    std::string path_;
    std::vector<uint8_t> expected_;
    size_t frame_bytes_ = 0;
    Movie* movie_ = nullptr;
};

TEST_F(SeekTest, LandsOnKeyFramesAndDecodesThemExactly) {
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(1));
    // Forward to frame 5: the key frame before it is 4.
    EXPECT_EQ(SeekMovie(movie_, 5, 1), 4u);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(4));
    NextFrame(movie_);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(5));  // the inter frame after it decodes right
    // Back to 3: the key frame at or before it is 1.
    EXPECT_EQ(SeekMovie(movie_, 3, -1), 1u);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(1));
    for (uint32_t n = 2; n <= 3; ++n) {
        NextFrame(movie_);
        ASSERT_EQ(DecodeFrame(movie_), 0);
        EXPECT_EQ(CurrentPlanes(movie_), Expected(n)) << "frame " << n;
    }
}

TEST_F(SeekTest, ForwardFindsTheNextKeyFrameAndStopsAtTheEnd) {
    ASSERT_EQ(DecodeFrame(movie_), 0);
    // Frame 2 has no key frame of its own: forward goes on to frame 4.
    EXPECT_EQ(SeekMovie(movie_, 2, 1), 4u);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    // Nothing ahead of 4: it stays.
    EXPECT_EQ(SeekMovie(movie_, 5, 1), 4u);
    EXPECT_EQ(Current(), 4u);
    // The same frame again is decoded again (the picture is redrawn).
    EXPECT_EQ(SeekMovie(movie_, 4, 0), 4u);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(4));
    // Out-of-range frames are brought into range; no movie gives 0.
    EXPECT_EQ(SeekMovie(movie_, 0, 0), 1u);
    EXPECT_EQ(SeekMovie(movie_, 99, -1), 4u);
    EXPECT_EQ(SeekMovie(nullptr, 3, 0), 0u);
}

}  // namespace
}  // namespace vemo
