#include <gtest/gtest.h>

#include <algorithm>
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
        s04_width_ = info.header_width;
        s04_height_ = info.header_height;
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
    uint32_t s04_width_ = 0, s04_height_ = 0;
    Movie* movie_ = nullptr;
};

TEST_F(SeekTest, LandsOnTheAskedFrameDecodedExactly) {
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(1));
    // Each frame lies behind a key frame (1 or 4) and is decoded from it.
    const struct {
        uint32_t asked;
        int direction;
    } moves[] = {{3, 1}, {5, 1}, {2, -1}, {4, 1}, {1, -1}, {5, 0}};
    for (const auto& move : moves) {
        EXPECT_EQ(SeekMovie(movie_, move.asked, move.direction), move.asked);
        ASSERT_EQ(DecodeFrame(movie_), 0);
        EXPECT_EQ(CurrentPlanes(movie_), Expected(move.asked)) << "frame " << move.asked;
    }
    // Playing on from a frame reached silently decodes right.
    EXPECT_EQ(SeekMovie(movie_, 2, 0), 2u);
    for (uint32_t n = 2; n <= 3; ++n) {
        ASSERT_EQ(DecodeFrame(movie_), 0);
        EXPECT_EQ(CurrentPlanes(movie_), Expected(n)) << "frame " << n;
        NextFrame(movie_);
    }
}

TEST_F(SeekTest, MarksTheWholePictureChangedAndKeepsToItsDirection) {
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(SeekMovie(movie_, 3, 1), 3u);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    const uint8_t* map = MovieChangeMap(movie_);
    const uint32_t blocks = ((s04_width_ + 15) / 16) * ((s04_height_ + 15) / 16);
    EXPECT_EQ(std::count(map, map + blocks, 1), static_cast<long>(blocks));
    // Forward never goes back, backward never ahead; the same frame again is
    // decoded again.
    EXPECT_EQ(SeekMovie(movie_, 2, 1), 3u);
    EXPECT_EQ(SeekMovie(movie_, 5, -1), 3u);
    EXPECT_EQ(SeekMovie(movie_, 3, 1), 3u);
    ASSERT_EQ(DecodeFrame(movie_), 0);
    EXPECT_EQ(CurrentPlanes(movie_), Expected(3));
    // Out-of-range frames are brought into range; no movie gives 0.
    EXPECT_EQ(SeekMovie(movie_, 99, 0), 5u);
    EXPECT_EQ(SeekMovie(movie_, 0, 0), 1u);
    EXPECT_EQ(Current(), 1u);
    EXPECT_EQ(SeekMovie(nullptr, 3, 0), 0u);
}

}  // namespace
}  // namespace vemo
