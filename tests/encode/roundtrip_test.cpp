// Planes and frames made with the writer and the encoder, read back by the
// video decoder.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "vemo/encoder.h"
#include "vemo/video_decoder.h"
#include "vemo/video_writer.h"

namespace vemo {
namespace {

struct Decoded {
    std::vector<uint8_t> y, cr, cb, alpha;
    uint32_t unchanged = 0;
    uint32_t faults = 0;
    std::vector<uint8_t> map;
};

// Decodes video parts in order with the movie's flags.
class Player {
  public:
    Player(uint32_t width, uint32_t height, bool all_key, uint32_t open_flags,
           uint32_t header_flags)
        : open_(open_flags), header_(header_flags) {
        planes_ = CreateFramePlanes(width, height, all_key, open_flags);
        EXPECT_TRUE(AllocateBundleBuffers(width, &bundles_));
        across_ = (width + 15) / 16;
        down_ = (height + 15) / 16;
    }
    ~Player() {
        FreeFramePlanes(planes_);
        FreeBundleBuffers(&bundles_);
    }
    Decoded Decode(const std::vector<uint8_t>& video, bool key) {
        Decoded d;
        d.map.assign(across_ * down_ + 16, 0);
        VideoReport report;
        d.unchanged = DecodeFrameVideo(planes_, d.map.data(), across_, video.data(),
                                       static_cast<uint32_t>(video.size()), key, bundles_, open_,
                                       header_, &report);
        d.faults = report.faults;
        d.map.resize(across_ * down_);
        const PlaneDescriptor* b = planes_->buffer[planes_->current];
        const size_t luma = size_t{planes_->luma_width} * planes_->luma_height;
        const size_t chroma = size_t{planes_->chroma_width} * planes_->chroma_height;
        d.y.assign(b[kPlaneY].samples, b[kPlaneY].samples + luma);
        d.cr.assign(b[kPlaneCr].samples, b[kPlaneCr].samples + chroma);
        d.cb.assign(b[kPlaneCb].samples, b[kPlaneCb].samples + chroma);
        if (b[kPlaneAlpha].samples)
            d.alpha.assign(b[kPlaneAlpha].samples, b[kPlaneAlpha].samples + luma);
        return d;
    }

  private:
    uint32_t open_, header_;
    FramePlanes* planes_ = nullptr;
    BundleBuffers bundles_;
    uint32_t across_, down_;
};

// A one-plane grayscale video part (version "i").
std::vector<uint8_t> GrayPart(PlaneWriter& w) {
    VideoPartPlanes planes;
    planes.luma = w.Finish();
    EXPECT_FALSE(planes.luma.empty()) << w.error();
    return WriteVideoPart(planes, false, true, true);
}

uint8_t At(const std::vector<uint8_t>& plane, uint32_t stride, uint32_t x, uint32_t y) {
    return plane[y * stride + x];
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t stride,
            uint32_t w, uint32_t h) {
    double sse = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double d = static_cast<double>(a[y * stride + x]) - b[y * stride + x];
            sse += d * d;
        }
    if (sse == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * w * h / sse);
}

TEST(Quantisers, TellingRowsAndTheRaisedEntries) {
    const uint32_t intra0[8] = {65536, 90901, 85627, 91511, 65536, 61146, 48768, 24862};
    const uint32_t inter0[8] = {65536, 96582, 90979, 86695, 73728, 57928, 42118, 21472};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(IntraQuantiser(0, i), intra0[i]) << i;
        EXPECT_EQ(InterQuantiser(0, i), inter0[i]) << i;
    }
    EXPECT_EQ(IntraQuantiser(15, 0), 2883584u);
}

// What the intra plane test writes: random raw blocks, a pattern, two
// coefficient blocks and runs over 63 positions (the last takes last_colour).
struct IntraInputs {
    uint8_t raw[64], raw2[64];
    uint8_t rows[8] = {0x01, 0x80, 0xFF, 0x00, 0x0F, 0xF0, 0x55, 0xAA};
    int16_t coef[64] = {}, coef2[64] = {};
    std::vector<RunSegment> runs;

    IntraInputs() {
        std::mt19937 rng(3);
        for (auto& v : raw) v = static_cast<uint8_t>(rng());
        for (auto& v : raw2) v = static_cast<uint8_t>(rng());
        coef[0] = 1024;  // flat 128
        coef2[0] = 800;
        coef2[1] = -40;
        coef2[9] = 12;
        coef2[63] = 3;
        for (int i = 0; i < 3; ++i)
            runs.push_back(RunSegment{16, true, {static_cast<uint8_t>(40 + i)}});
        RunSegment each{15, false, {}};
        for (int i = 0; i < 15; ++i) each.colours[i] = static_cast<uint8_t>(200 + i);
        runs.push_back(each);
    }
};

// 64x48 grayscale: 8 columns, 6 block rows of every intra type, scaled or not.
void WriteIntraPlane(PlaneWriter& pw, const IntraInputs& in) {
    // Row 0
    ASSERT_TRUE(pw.Fill(17));
    ASSERT_TRUE(pw.Pattern(10, 250, in.rows));
    ASSERT_TRUE(pw.Raw(in.raw));
    ASSERT_TRUE(pw.Intra(in.coef, 0));
    ASSERT_TRUE(pw.Intra(in.coef2, 3));
    ASSERT_TRUE(pw.Run(5, in.runs, 99));
    ASSERT_TRUE(pw.ScaledFill(77));
    // Row 1
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(pw.Fill(static_cast<uint8_t>(i)));
    EXPECT_FALSE(pw.ScaledFill(1));  // odd row
    ASSERT_TRUE(pw.ScaledLowerHalf());
    // Rows 2-3: every scaled sub-type.
    ASSERT_TRUE(pw.ScaledPattern(1, 2, in.rows));
    ASSERT_TRUE(pw.ScaledRaw(in.raw2));
    ASSERT_TRUE(pw.ScaledIntra(in.coef2, 1));
    ASSERT_TRUE(pw.ScaledRun(0, in.runs, 5));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(pw.ScaledLowerHalf());
    // Row 4: types that draw nothing, then raw to close the row.
    ASSERT_TRUE(pw.OtherType(10));
    ASSERT_TRUE(pw.OtherType(11));
    ASSERT_TRUE(pw.ScaledOther(4));
    ASSERT_TRUE(pw.Skip());  // with one buffer a skip copies the block onto itself
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(pw.Fill(9));
    // Row 5: the last row cannot start a scaled block.
    EXPECT_FALSE(pw.ScaledFill(3));
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(pw.Raw(in.raw));
    ASSERT_TRUE(pw.complete());
    EXPECT_FALSE(pw.Fill(1));
}

// The block the test's runs draw in scan pattern `scan`.
std::array<uint8_t, 64> RunBlock(int scan, uint8_t last_colour) {
    std::array<uint8_t, 64> block{};
    int pos = 0;
    for (int i = 0; i < 48; ++i) block[kRunScan[scan][pos++]] = static_cast<uint8_t>(40 + i / 16);
    for (int i = 0; i < 15; ++i) block[kRunScan[scan][pos++]] = static_cast<uint8_t>(200 + i);
    block[kRunScan[scan][63]] = last_colour;
    return block;
}

std::array<uint8_t, 64> IntraBlock(const int16_t coef[64], int quantiser) {
    uint32_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = IntraQuantiser(quantiser, i);
    std::array<uint8_t, 64> out;
    InverseTransform(coef, table, out.data());
    return out;
}

// The size x size samples of plane (stride w) at (x0, y0) equal expected(x, y).
template <typename F>
void SamplesAre(const std::vector<uint8_t>& plane, uint32_t w, uint32_t x0, uint32_t y0,
                uint32_t size, F expected) {
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x)
            ASSERT_EQ(At(plane, w, x0 + x, y0 + y), expected(x, y))
                << x0 << "," << y0 << " " << x << "," << y;
}

template <typename F>
void BlockIs(const std::vector<uint8_t>& plane, uint32_t w, uint32_t bx, uint32_t by, F expected) {
    SamplesAre(plane, w, bx * 8, by * 8, 8, expected);
}

// A scaled block at (x0, y0): sample (x, y) comes from entry (x/2, y/2) of an
// 8x8 block.
void ScaledIs(const std::vector<uint8_t>& plane, uint32_t w, uint32_t x0, uint32_t y0,
              const uint8_t block[64]) {
    SamplesAre(plane, w, x0, y0, 16,
               [&](uint32_t x, uint32_t y) { return block[(y / 2) * 8 + x / 2]; });
}

TEST(PlaneRoundTrip, EveryIntraTypeDrawsWhatWasWritten) {
    const uint32_t w = 64, h = 48;
    const IntraInputs in;
    PlaneWriter pw(w, h);
    ASSERT_NO_FATAL_FAILURE(WriteIntraPlane(pw, in));

    Player player(w, h, true, kVideoGrayscale, 0x20000);
    const Decoded d = player.Decode(GrayPart(pw), true);
    EXPECT_EQ(d.faults, 0u);
    auto flat = [](int v) { return [v](uint32_t, uint32_t) { return v; }; };
    BlockIs(d.y, w, 0, 0, flat(17));
    BlockIs(d.y, w, 1, 0, [&](uint32_t x, uint32_t y) { return (in.rows[y] >> x) & 1 ? 250 : 10; });
    BlockIs(d.y, w, 2, 0, [&](uint32_t x, uint32_t y) { return in.raw[y * 8 + x]; });
    BlockIs(d.y, w, 3, 0, flat(128));
    const std::array<uint8_t, 64> idct3 = IntraBlock(in.coef2, 3);
    BlockIs(d.y, w, 4, 0, [&](uint32_t x, uint32_t y) { return idct3[y * 8 + x]; });
    const std::array<uint8_t, 64> run5 = RunBlock(5, 99);
    BlockIs(d.y, w, 5, 0, [&](uint32_t x, uint32_t y) { return run5[y * 8 + x]; });
    SamplesAre(d.y, w, 48, 0, 16, flat(77));
    BlockIs(d.y, w, 3, 1, flat(3));
    // Scaled pattern: pattern byte k covers rows 2k and 2k + 1.
    SamplesAre(d.y, w, 0, 16, 16,
               [&](uint32_t x, uint32_t y) { return (in.rows[y / 2] >> (x / 2)) & 1 ? 2 : 1; });
    ScaledIs(d.y, w, 16, 16, in.raw2);
    ScaledIs(d.y, w, 32, 16, IntraBlock(in.coef2, 1).data());
    ScaledIs(d.y, w, 48, 16, RunBlock(0, 5).data());
    // Types that draw nothing leave the first frame's zeros.
    BlockIs(d.y, w, 0, 4, flat(0));
    BlockIs(d.y, w, 1, 4, flat(0));
    BlockIs(d.y, w, 2, 4, flat(0));
    BlockIs(d.y, w, 7, 4, flat(9));
    BlockIs(d.y, w, 7, 5, [&](uint32_t x, uint32_t y) { return in.raw[y * 8 + x]; });
}

TEST(PlaneRoundTrip, InterTypesPredictFromTheOtherBuffer) {
    const uint32_t w = 48, h = 32;
    std::mt19937 rng(9);
    // Frame 1: every block raw noise.
    PlaneWriter first(w, h);
    std::vector<uint8_t> picture(w * h);
    for (auto& v : picture) v = static_cast<uint8_t>(rng());
    for (uint32_t by = 0; by < h / 8; ++by)
        for (uint32_t bx = 0; bx < w / 8; ++bx) {
            uint8_t s[64];
            for (int i = 0; i < 64; ++i) s[i] = picture[(by * 8 + i / 8) * w + bx * 8 + i % 8];
            ASSERT_TRUE(first.Raw(s));
        }
    // Frame 2: skip, motion, residue, inter, then skips.
    PlaneWriter second(w, h);
    ASSERT_TRUE(second.Skip());
    ASSERT_TRUE(second.Motion(3, 2));
    int8_t res[64] = {};
    res[0] = 5;
    res[9] = -128;
    res[63] = 77;
    ASSERT_TRUE(second.Residue(-8, 0, res));
    int16_t coef[64] = {};
    coef[0] = -300;
    coef[2] = 50;
    ASSERT_TRUE(second.Inter(0, 8, coef, 2));
    ASSERT_TRUE(second.Motion(-15, 0));
    ASSERT_TRUE(second.Motion(0, 0));
    for (int i = 0; i < 18; ++i) ASSERT_TRUE(second.Skip());

    Player player(w, h, false, kVideoGrayscale, 0x20000);
    const Decoded d1 = player.Decode(GrayPart(first), true);
    ASSERT_EQ(d1.y, picture);
    const Decoded d2 = player.Decode(GrayPart(second), false);
    EXPECT_EQ(d2.faults, 0u);
    auto ref = [&](int x, int y) {
        return picture[static_cast<size_t>(y) * w + static_cast<size_t>(x)];
    };
    uint8_t add[64];
    uint32_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = InterQuantiser(2, i);
    InverseTransform(coef, table, add);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            ASSERT_EQ(d2.y[y * w + x], ref(x, y));
            ASSERT_EQ(d2.y[y * w + 8 + x], ref(8 + x + 3, y + 2));
            ASSERT_EQ(d2.y[y * w + 16 + x], static_cast<uint8_t>(ref(8 + x, y) + res[y * 8 + x]));
            ASSERT_EQ(d2.y[y * w + 24 + x],
                      static_cast<uint8_t>(ref(24 + x, y + 8) + add[y * 8 + x]));
            ASSERT_EQ(d2.y[y * w + 32 + x], ref(17 + x, y));
            ASSERT_EQ(d2.y[(y + 8) * w + x], ref(x, y + 8));
        }
    // Map: the first 16x16 area holds skip + motion, so it changed; the
    // lower row is all skip.
    EXPECT_EQ(d2.map[0], 1);
    EXPECT_EQ(d2.map[1], 1);
    EXPECT_EQ(d2.map[2], 1);
    EXPECT_EQ(d2.map[3], 0);
}

TEST(PlaneRoundTrip, WriterRefusesWhatTheReaderCannotTake) {
    PlaneWriter pw(16, 16);
    EXPECT_FALSE(pw.Motion(16, 0));
    EXPECT_FALSE(pw.Motion(0, -16));
    int16_t coef[64] = {};
    EXPECT_FALSE(pw.Intra(coef, 16));
    coef[3] = -32768;
    EXPECT_FALSE(pw.Intra(coef, 0));
    std::vector<RunSegment> short_runs{RunSegment{16, true, {1}}};
    EXPECT_FALSE(pw.Run(0, short_runs));  // 16 positions only
    std::vector<RunSegment> long_runs(5, RunSegment{16, true, {1}});
    EXPECT_FALSE(pw.Run(0, long_runs));  // passes 64
    EXPECT_FALSE(pw.ScaledOther(6));     // a drawing sub-type
    EXPECT_EQ(pw.column(), 0u);          // nothing was taken
    ASSERT_TRUE(pw.Skip());
    EXPECT_TRUE(pw.Finish().empty());  // three blocks missing
    EXPECT_FALSE(pw.error().empty());

    // An intra DC that starts a fill must fit 11 bits.
    PlaneWriter dc(8, 8);
    coef[3] = 0;
    coef[0] = 2048;
    ASSERT_TRUE(dc.Intra(coef, 0));
    EXPECT_TRUE(dc.Finish().empty());
    EXPECT_NE(dc.error().find("2048"), std::string::npos);
    // Types 12-15 have no symbol of their own: only a fill of one value
    // carries them.
    PlaneWriter alone(16, 8);
    ASSERT_TRUE(alone.OtherType(13));
    ASSERT_TRUE(alone.OtherType(13));
    EXPECT_FALSE(alone.Finish().empty()) << alone.error();
    PlaneWriter mixed(16, 8);
    ASSERT_TRUE(mixed.OtherType(13));
    ASSERT_TRUE(mixed.Fill(1));
    EXPECT_TRUE(mixed.Finish().empty());
}

TEST(PlaneRoundTrip, OldVersionsMapColoursAndDropTheLumaSize) {
    const uint32_t w = 16, h = 8;
    PlaneWriter pw(w, h, true);
    ASSERT_TRUE(pw.Fill(200));
    ASSERT_TRUE(pw.Fill(30));
    VideoPartPlanes planes;
    planes.luma = pw.Finish();
    const std::vector<uint8_t> part = WriteVideoPart(planes, false, false, true);
    EXPECT_EQ(part.size(), planes.luma.size());
    Player player(w, h, true, kVideoGrayscale | kVideoOldVersion, 0x20000);
    const Decoded d = player.Decode(part, true);
    EXPECT_EQ(d.faults, 0u);
    EXPECT_EQ(d.y[0], 200);
    EXPECT_EQ(d.y[8], 30);
}

TEST(PlaneRoundTrip, LongRowsSplitIntoSeveralFillsAndTreesShrinkThem) {
    // 720 samples wide: a row of raw blocks needs 5760 colours, more than
    // one fill of a plane with fewer columns would hold; many rows share a fill.
    const uint32_t w = 720, h = 64;
    std::mt19937 rng(1);
    std::vector<uint8_t> picture(w * h);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<uint8_t>(i % 7 == 0 ? rng() : 100);
    PlaneWriter pw(w, h);
    for (uint32_t by = 0; by < h / 8; ++by)
        for (uint32_t bx = 0; bx < w / 8; ++bx) {
            uint8_t s[64];
            for (int i = 0; i < 64; ++i) s[i] = picture[(by * 8 + i / 8) * w + bx * 8 + i % 8];
            if ((bx + by) % 3 == 0) {
                ASSERT_TRUE(pw.Raw(s));
            } else if ((bx + by) % 3 == 1) {
                ASSERT_TRUE(pw.Fill(s[0]));
                std::memset(&s[0], s[0], 64);
                for (int i = 0; i < 64; ++i) picture[(by * 8 + i / 8) * w + bx * 8 + i % 8] = s[0];
            } else {
                ASSERT_TRUE(pw.Skip());  // one buffer: leaves zeros
                for (int i = 0; i < 64; ++i) picture[(by * 8 + i / 8) * w + bx * 8 + i % 8] = 0;
            }
        }
    VideoPartPlanes planes;
    planes.luma = pw.Finish();
    ASSERT_FALSE(planes.luma.empty()) << pw.error();
    // Skewed colours code below eight bits each.
    EXPECT_LT(pw.bits(), 8u * w * h / 3 + 8u * w * h / 64);
    Player player(w, h, true, kVideoGrayscale, 0x20000);
    const Decoded d = player.Decode(WriteVideoPart(planes, false, true, true), true);
    EXPECT_EQ(d.faults, 0u);
    EXPECT_EQ(d.y, picture);
}

TEST(PlaneRoundTrip, RowsThatShareAnOffsetTakeFillsOfTheirOwn) {
    // Motion blocks whose vertical offsets are one per row, then the same
    // offsets shuffled across the rows: the symbols and so the trees are
    // alike, but only the first sends each row's offset once.
    const uint32_t w = 128, h = 64, bw = w / 8, bh = h / 8;
    std::mt19937 rng(4);
    std::vector<uint8_t> picture(w * h);
    for (auto& v : picture) v = static_cast<uint8_t>(rng());
    std::vector<int> dx(bw * bh), dy(bw * bh);
    for (uint32_t i = 0; i < bw * bh; ++i) {
        dx[i] = static_cast<int>(rng() % 5) - 2;
        dy[i] = (i / bw) % 3 == 0 ? 0 : (i / bw) % 3 == 1 ? 1 : -1;
    }
    std::vector<int> shuffled = dy;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    size_t bits[2] = {};
    for (int round = 0; round < 2; ++round) {
        const std::vector<int>& vy = round ? shuffled : dy;
        PlaneWriter first(w, h), second(w, h);
        for (uint32_t by = 0; by < bh; ++by)
            for (uint32_t bx = 0; bx < bw; ++bx) {
                uint8_t s[64];
                for (int i = 0; i < 64; ++i) s[i] = picture[(by * 8 + i / 8) * w + bx * 8 + i % 8];
                ASSERT_TRUE(first.Raw(s));
                const uint32_t i = by * bw + bx;
                const bool edge = bx == 0 || by == 0 || bx + 1 == bw || by + 1 == bh;
                ASSERT_TRUE(edge ? second.Skip() : second.Motion(dx[i], vy[i]));
            }
        Player player(w, h, false, kVideoGrayscale, 0x20000);
        ASSERT_EQ(player.Decode(GrayPart(first), true).y, picture);
        const Decoded d = player.Decode(GrayPart(second), false);
        bits[round] = second.bits();
        EXPECT_EQ(d.faults, 0u);
        for (uint32_t y = 8; y < h - 8; ++y)
            for (uint32_t x = 8; x < w - 8; ++x) {
                const uint32_t i = (y / 8) * bw + x / 8;
                ASSERT_EQ(d.y[y * w + x], picture[(y + vy[i]) * w + x + dx[i]]) << x << "," << y;
            }
    }
    // 84 vertical offsets of over two bits each against six fills of one.
    EXPECT_LT(bits[0] + 40, bits[1]);
}

TEST(PlaneRoundTrip, RunsOfBlockTypesDecodeWhateverRepeatsSendThem) {
    // Runs of skip, motion (one row down or up) and fill blocks of every
    // length from 1 to 40 draw what was written: the repeats chosen by their
    // bits cover each run exactly. The plane starts with motion blocks,
    // which a fill cannot repeat before it has sent one.
    const uint32_t w = 256, h = 64, bw = w / 8;
    std::mt19937 rng(9);
    std::vector<uint8_t> before(w * h), picture(w * h);
    for (auto& v : before) v = static_cast<uint8_t>(rng());
    PlaneWriter first(w, h), second(w, h);
    for (uint32_t i = 0, type = 1, left = 32; i < bw * (h / 8); ++i, --left) {
        if (left == 0) type = (type + 1 + rng() % 2) % 3, left = 1 + rng() % 40;
        const uint32_t x = i % bw * 8, y = i / bw * 8;
        const int dy = y + 8 < h ? 1 : -1;
        uint8_t s[64];
        for (uint32_t k = 0; k < 64; ++k) s[k] = before[(y + k / 8) * w + x + k % 8];
        ASSERT_TRUE(first.Raw(s));
        ASSERT_TRUE(type == 0 ? second.Skip() : type == 1 ? second.Motion(0, dy) : second.Fill(7));
        for (uint32_t k = 0; k < 64; ++k)
            picture[(y + k / 8) * w + x + k % 8] =
                type == 2 ? 7 : before[(y + k / 8 + (type ? dy : 0)) * w + x + k % 8];
    }
    Player player(w, h, false, kVideoGrayscale, 0x20000);
    ASSERT_EQ(player.Decode(GrayPart(first), true).y, before);
    EXPECT_EQ(player.Decode(GrayPart(second), false).y, picture);
}

// A picture with structure: gradients, bars and a moving disc.
void Scene(uint32_t w, uint32_t h, int t, std::vector<uint8_t>* y, std::vector<uint8_t>* cb,
           std::vector<uint8_t>* cr) {
    const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    y->assign(w * h, 0);
    cb->assign(cw * ch, 0);
    cr->assign(cw * ch, 0);
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i) {
            int v = static_cast<int>((i * 255) / w);
            if (j < h / 3) v = (i / 16) % 2 ? 235 : 16;
            const int dx = static_cast<int>(i) - (20 + 3 * t), dy = static_cast<int>(j) - 30;
            if (dx * dx + dy * dy < 100) v = 250;
            (*y)[j * w + i] = static_cast<uint8_t>(v);
        }
    for (uint32_t j = 0; j < ch; ++j)
        for (uint32_t i = 0; i < cw; ++i) {
            (*cb)[j * cw + i] = static_cast<uint8_t>(64 + (i * 128) / cw);
            (*cr)[j * cw + i] = static_cast<uint8_t>(200 - (j * 100) / ch);
        }
}

TEST(EncoderRoundTrip, DecodedPlanesEqualTheEncodersOwnAndStayClose) {
    for (uint32_t size : {0u, 1u}) {
        const uint32_t w = size ? 75 : 64, h = size ? 41 : 48;  // odd sizes pad
        for (int quality : {100, 75, 30}) {
            EncoderSettings s;
            s.quality = quality;
            s.key_interval = 4;
            VideoEncoder enc(w, h, s);
            Player player(w, h, false, 0, 0);
            for (int t = 0; t < 6; ++t) {
                std::vector<uint8_t> y, cb, cr;
                Scene(w, h, t, &y, &cb, &cr);
                EncoderPicture pic;
                pic.y = y.data();
                pic.y_stride = w;
                pic.cb = cb.data();
                pic.cb_stride = (w + 1) / 2;
                pic.cr = cr.data();
                pic.cr_stride = (w + 1) / 2;
                std::vector<uint8_t> video;
                bool key = false;
                ASSERT_TRUE(enc.EncodeFrame(pic, false, &video, &key)) << enc.error();
                EXPECT_EQ(key, t % 4 == 0);
                const Decoded d = player.Decode(video, key);
                EXPECT_EQ(d.faults, 0u);
                ASSERT_EQ(d.y, enc.decoded(0)) << "quality " << quality << " frame " << t;
                ASSERT_EQ(d.cr, enc.decoded(1));
                ASSERT_EQ(d.cb, enc.decoded(2));
                std::vector<uint8_t> padded(enc.plane_width(0) * enc.plane_height(0));
                for (uint32_t j = 0; j < h; ++j)
                    std::memcpy(&padded[j * enc.plane_width(0)], &y[j * w], w);
                const double psnr = Psnr(padded, d.y, enc.plane_width(0), w, h);
                EXPECT_GT(psnr, quality == 100  ? 45.0
                                : quality == 75 ? 32.0
                                                : 25.0)
                    << "quality " << quality << " frame " << t;
            }
        }
    }
}

// Frame t of a clip with motion up to the edge of the offset range, flat
// areas and a cut at frame 4: a textured picture panning 13 samples across
// and 6 down per frame above a flat band, then a different picture.
void ClipFrame(uint32_t w, uint32_t h, int t, std::vector<uint8_t>* y, std::vector<uint8_t>* cb,
               std::vector<uint8_t>* cr) {
    const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    y->resize(w * h);
    cb->resize(cw * ch);
    cr->resize(cw * ch);
    const int scene = t < 4 ? 0 : 1, px = 13 * t, py = 6 * t;
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i) {
            const int u = static_cast<int>(i) + px, v = static_cast<int>(j) + py;
            const int texture = scene ? ((u / 5 + v / 7) % 2) * 90 + (u * v) % 37
                                      : (u * 7 + v * 3) % 61 + ((u ^ v) & 24) * 4;
            (*y)[j * w + i] = static_cast<uint8_t>(j >= h - 16 ? 40 + 100 * scene : 30 + texture);
        }
    for (uint32_t j = 0; j < ch; ++j)
        for (uint32_t i = 0; i < cw; ++i) {
            (*cb)[j * cw + i] = static_cast<uint8_t>(scene ? 90 : 100 + (i + px / 2) % 40);
            (*cr)[j * cw + i] = static_cast<uint8_t>(scene ? 160 + (j % 9) : 120);
        }
}

TEST(EncoderRoundTrip, MotionCutsAndFlatAreasDecodeToTheReconstructionOnAnyThreadCount) {
    const uint32_t w = 120, h = 72;
    for (int quality : {95, 60, 20}) {
        std::vector<std::vector<uint8_t>> videos[2];
        for (int threads : {1, 2}) {
            EncoderSettings s;
            s.quality = quality;
            s.threads = threads;
            VideoEncoder enc(w, h, s);
            EXPECT_EQ(enc.threads(), threads);
            Player player(w, h, false, 0, 0);
            uint32_t moved = 0;
            for (int t = 0; t < 7; ++t) {
                std::vector<uint8_t> y, cb, cr;
                ClipFrame(w, h, t, &y, &cb, &cr);
                EncoderPicture pic{y.data(), w, cb.data(), (w + 1) / 2, cr.data(), (w + 1) / 2};
                std::vector<uint8_t> video;
                ASSERT_TRUE(enc.EncodeFrame(pic, false, &video)) << enc.error();
                const Decoded d = player.Decode(video, t == 0);
                EXPECT_EQ(d.faults, 0u);
                ASSERT_EQ(d.y, enc.decoded(0)) << "quality " << quality << " frame " << t;
                ASSERT_EQ(d.cr, enc.decoded(1));
                ASSERT_EQ(d.cb, enc.decoded(2));
                if (t > 0 && t != 4)
                    moved += enc.stats().blocks[kBlockMotion] + enc.stats().blocks[kBlockInter] +
                             enc.stats().blocks[kBlockResidue];
                videos[threads - 1].push_back(std::move(video));
            }
            // The pan is followed: most luma blocks of the panning frames move.
            EXPECT_GT(moved, 5u * (w / 8) * (h / 8) / 2) << "quality " << quality;
        }
        EXPECT_EQ(videos[0], videos[1]) << "quality " << quality;
    }
}

TEST(EncoderRoundTrip, AreaOffsetsSteerTheQuantiserAndStillDecodeToTheReconstruction) {
    const uint32_t w = 120, h = 72, aw = (w + 15) / 16, ah = (h + 15) / 16;
    // Finer on the left half of the areas, coarser on the right; or all 0.
    std::vector<float> split(aw * ah), zero(aw * ah, 0.0f);
    for (uint32_t i = 0; i < split.size(); ++i) split[i] = i % aw < aw / 2 ? -1.5f : 1.5f;
    auto encode = [&](const float* offsets, int threads, std::vector<double>* errors) {
        EncoderSettings s;
        s.quality = 50;
        s.threads = threads;
        VideoEncoder enc(w, h, s);
        Player player(w, h, false, 0, 0);
        std::vector<std::vector<uint8_t>> videos;
        for (int t = 0; t < 3; ++t) {
            std::vector<uint8_t> y, cb, cr;
            ClipFrame(w, h, t, &y, &cb, &cr);
            EncoderPicture pic{y.data(), w, cb.data(), (w + 1) / 2, cr.data(), (w + 1) / 2};
            pic.area_offsets = offsets;
            std::vector<uint8_t> video;
            EXPECT_TRUE(enc.EncodeFrame(pic, false, &video)) << enc.error();
            const Decoded d = player.Decode(video, t == 0);
            EXPECT_EQ(d.faults, 0u);
            EXPECT_EQ(d.y, enc.decoded(0)) << t;
            EXPECT_EQ(d.cr, enc.decoded(1)) << t;
            EXPECT_EQ(d.cb, enc.decoded(2)) << t;
            // Squared error of the left and of the right half of the areas,
            // in the luma and in a chroma plane.
            double e[4] = {};
            for (uint32_t j = 0; j < h; ++j)
                for (uint32_t i = 0; i < w; ++i) {
                    const double diff = d.y[j * enc.plane_width(0) + i] - y[j * w + i];
                    e[i < aw / 2 * 16 ? 0 : 1] += diff * diff;
                    if (i >= w / 2 || j >= h / 2) continue;
                    const double c = d.cb[j * enc.plane_width(2) + i] - cb[j * (w / 2) + i];
                    e[i < aw / 2 * 8 ? 2 : 3] += c * c;
                }
            errors->insert(errors->end(), e, e + 4);
            videos.push_back(std::move(video));
        }
        return videos;
    };
    std::vector<double> plain, zeroed, steered, unused;
    const auto none = encode(nullptr, 1, &plain);
    EXPECT_EQ(encode(zero.data(), 2, &zeroed), none);  // offsets of 0 change nothing
    EXPECT_EQ(encode(split.data(), 1, &steered), encode(split.data(), 2, &unused));
    // Offsets out of range or not numbers are held within range.
    const float wild[] = {NAN, INFINITY, -INFINITY, 1e9f, -1e9f, 0.3f};
    std::vector<float> odd(aw * ah);
    for (uint32_t i = 0; i < odd.size(); ++i) odd[i] = wild[i % 6];
    encode(odd.data(), 2, &unused);
    // Luma frame by frame; the chroma halves (15 blocks each) over the clip,
    // as a row may trade a little of one half's error for the bits of both.
    double chroma[2][2] = {};
    for (size_t i = 0; i < plain.size(); i += 4) {
        EXPECT_LT(steered[i], plain[i] * 0.8) << i;
        EXPECT_GT(steered[i + 1], plain[i + 1] * 1.2) << i;
        for (int half = 0; half < 2; ++half) {
            chroma[0][half] += steered[i + 2 + half];
            chroma[1][half] += plain[i + 2 + half];
        }
    }
    EXPECT_LT(chroma[0][0], chroma[1][0] * 0.8);
    EXPECT_GT(chroma[0][1], chroma[1][1] * 1.2);
}

TEST(EncoderRoundTrip, LevelsPastFifteenSpendLessAndStillDecodeToTheReconstruction) {
    const uint32_t w = 96, h = 64;
    auto bytes_at = [&](int level) {
        EncoderSettings s;
        VideoEncoder enc(w, h, s);
        enc.set_quantiser(level);
        Player player(w, h, false, 0, 0);
        size_t total = 0;
        for (int t = 0; t < 3; ++t) {
            std::vector<uint8_t> y, cb, cr;
            ClipFrame(w, h, t, &y, &cb, &cr);
            EncoderPicture pic{y.data(), w, cb.data(), (w + 1) / 2, cr.data(), (w + 1) / 2};
            std::vector<uint8_t> video;
            EXPECT_TRUE(enc.EncodeFrame(pic, false, &video)) << enc.error();
            const Decoded d = player.Decode(video, t == 0);
            EXPECT_EQ(d.faults, 0u);
            EXPECT_EQ(d.y, enc.decoded(0)) << level << " " << t;
            EXPECT_EQ(d.cb, enc.decoded(2)) << level << " " << t;
            if (t > 0) total += video.size();
        }
        EXPECT_EQ(enc.quantiser(), std::min(level, VideoEncoder::kCoarsestLevel));
        return total;
    };
    const size_t q15 = bytes_at(15), q17 = bytes_at(17), coarsest = bytes_at(40);
    EXPECT_LT(q17, q15);
    EXPECT_LT(coarsest, q17);
}

TEST(EncoderRoundTrip, ChromaFollowsMotionUpToTheWholeOffsetRange) {
    // Flat luma over a noisy Cb plane that pans 15 chroma samples a frame
    // (30 luma samples, twice the luma range): the chroma blocks whose
    // source lies inside the plane are copies at offset 15, the others are
    // coded anew.
    const uint32_t w = 128, h = 64, cw = w / 2, ch = h / 2;
    std::minstd_rand rng(7);
    std::vector<uint8_t> texture((cw + 15) * ch);
    for (uint8_t& v : texture) v = static_cast<uint8_t>(40 + rng() % 160);
    EncoderSettings s;
    s.quality = 75;
    VideoEncoder enc(w, h, s);
    Player player(w, h, false, 0, 0);
    std::vector<uint8_t> y(w * h, 100), cr(cw * ch, 128), cb(cw * ch);
    for (int t = 0; t < 2; ++t) {
        for (uint32_t j = 0; j < ch; ++j)
            for (uint32_t i = 0; i < cw; ++i) cb[j * cw + i] = texture[j * (cw + 15) + i + 15 * t];
        EncoderPicture pic{y.data(), w, cb.data(), cw, cr.data(), cw};
        std::vector<uint8_t> video;
        ASSERT_TRUE(enc.EncodeFrame(pic, false, &video)) << enc.error();
        const Decoded d = player.Decode(video, t == 0);
        EXPECT_EQ(d.cb, enc.decoded(2)) << t;
    }
    // Block columns 0-5 of the four Cb block rows reach their source: most
    // of these 24 are plain copies (no other offset matches the noise).
    EXPECT_GE(enc.stats().blocks[kBlockMotion], 12u);
}

TEST(EncoderRoundTrip, RowsHoldAnOffsetThatIsNotTheCommonest) {
    // All but the first block column move 4 samples left and 2 up. Over the
    // horizontal stripes (most of each row) every horizontal offset copies
    // exactly; only the noise blocks fix -4, which every vector can hold. The
    // frame should cost what it does when noise everywhere leaves only -4.
    const int w = 128, h = 64;
    std::minstd_rand rng(3);
    std::vector<uint8_t> noise(w * 4), y(w * h);
    for (uint8_t& v : noise) v = static_cast<uint8_t>(rng());
    size_t bytes[2] = {};
    for (int stripes : {1, 0}) {
        EncoderSettings s;
        s.grayscale = true;
        s.quality = 100;
        VideoEncoder enc(w, h, s);
        Player player(w, h, false, kVideoGrayscale, enc.header_flags());
        for (int t = 0; t < 2; ++t) {
            for (int j = 0; j < h; ++j)
                for (int i = 0; i < w; ++i) {
                    const int x = t && i >= 8 ? i - 4 : i, r = (t && i >= 8 ? j + 2 : j) & 3;
                    y[j * w + i] = stripes && x < 76 ? 40 + 50 * r : noise[r * w + x];
                }
            EncoderPicture pic{y.data(), w};
            std::vector<uint8_t> video;
            ASSERT_TRUE(enc.EncodeFrame(pic, t == 0, &video));
            EXPECT_EQ(player.Decode(video, t == 0).y, enc.decoded(0));
            bytes[stripes] = video.size();
        }
    }
    EXPECT_LE(bytes[1], bytes[0] + 4);
}

TEST(EncoderRoundTrip, SmoothAreasTakeScaledIntraBlocks) {
    // Gentle slopes: a 16x16 fill would miss them by several levels, the
    // transform of the 2x2 means draws them closely for a few coefficients.
    const uint32_t w = 64, h = 64;
    std::vector<uint8_t> y(w * h);
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i)
            y[j * w + i] =
                static_cast<uint8_t>(60 + i + j / 2 + 12 * std::sin(i / 11.0 + j / 17.0));
    EncoderSettings s;
    s.grayscale = true;
    s.quality = 60;
    VideoEncoder enc(w, h, s);
    EncoderPicture pic;
    pic.y = y.data();
    pic.y_stride = w;
    std::vector<uint8_t> video;
    ASSERT_TRUE(enc.EncodeFrame(pic, true, &video));
    Player player(w, h, true, kVideoGrayscale, enc.header_flags());
    const Decoded d = player.Decode(video, true);
    EXPECT_EQ(d.faults, 0u);
    EXPECT_EQ(d.y, enc.decoded(0));
    // Every area is one scaled block (fills alone would take a few of them).
    EXPECT_EQ(enc.stats().blocks[kBlockScaled], w * h / 64);
    EXPECT_GT(Psnr(y, d.y, w, w, h), 40.0);
}

TEST(EncoderRoundTrip, AlphaAndGrayscaleMovies) {
    const uint32_t w = 32, h = 32;
    std::vector<uint8_t> y(w * h), a(w * h);
    for (uint32_t i = 0; i < w * h; ++i) {
        y[i] = static_cast<uint8_t>(i * 3);
        a[i] = static_cast<uint8_t>(i % 32 < 16 ? 255 : 0);
    }
    EncoderSettings s;
    s.alpha = true;
    s.grayscale = true;
    s.quality = 100;
    VideoEncoder enc(w, h, s);
    EXPECT_EQ(enc.header_flags(), 0x120000u);
    EncoderPicture pic;
    pic.y = y.data();
    pic.y_stride = w;
    pic.alpha = a.data();
    pic.alpha_stride = w;
    std::vector<uint8_t> video;
    ASSERT_TRUE(enc.EncodeFrame(pic, true, &video));
    Player player(w, h, true, kVideoGrayscale | kVideoAlpha, enc.header_flags());
    const Decoded d = player.Decode(video, true);
    EXPECT_EQ(d.faults, 0u);
    EXPECT_EQ(d.y, enc.decoded(0));
    EXPECT_EQ(d.alpha, a);  // two levels: patterns or fills, exact
    // Opened without alpha, the alpha plane is skipped by its size.
    Player no_alpha(w, h, true, kVideoGrayscale, enc.header_flags());
    EXPECT_EQ(no_alpha.Decode(video, true).y, enc.decoded(0));
    // A picture without its planes is refused.
    pic.alpha = nullptr;
    EXPECT_FALSE(enc.EncodeFrame(pic, true, &video));
    EXPECT_FALSE(enc.error().empty());
}

TEST(EncoderRoundTrip, WidestPicturesKeepEachRowInOneColourFill) {
    // 4096 samples of noise: raw blocks everywhere would need 32768 colours
    // in a row, one more than a fill holds.
    const uint32_t w = 4096, h = 16;
    std::mt19937 rng(2);
    std::vector<uint8_t> y(w * h);
    for (auto& v : y) v = static_cast<uint8_t>(rng());
    EncoderSettings s;
    s.quality = 100;
    s.grayscale = true;
    VideoEncoder enc(w, h, s);
    EncoderPicture pic;
    pic.y = y.data();
    pic.y_stride = w;
    std::vector<uint8_t> video;
    ASSERT_TRUE(enc.EncodeFrame(pic, true, &video)) << enc.error();
    EXPECT_LT(enc.stats().blocks[kBlockRaw], 2u * 512);
    Player player(w, h, true, kVideoGrayscale, 0x20000);
    const Decoded d = player.Decode(video, true);
    EXPECT_EQ(d.faults, 0u);
    EXPECT_EQ(d.y, enc.decoded(0));
    VideoEncoder wider(w + 1, h, s);
    EXPECT_FALSE(wider.EncodeFrame(pic, true, &video));
    EXPECT_FALSE(wider.error().empty());
}

}  // namespace
}  // namespace vemo
