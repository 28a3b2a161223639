// Rate control, read-rate cap and key-frame choice on short synthetic clips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "vemo/container.h"
#include "vemo/encoder.h"
#include "vemo/rate_control.h"

namespace vemo {
namespace {

constexpr uint32_t kW = 160, kH = 120;

// A textured scene: waves and fine noise, seen from (ox, oy) and scaled by
// zoom around the picture's centre.
struct Scene {
    double fx, fy;
    uint32_t seed;
    uint8_t At(double x, double y) const {
        const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
        uint32_t h = static_cast<uint32_t>(xi) * 73856093u ^ static_cast<uint32_t>(yi) * 19349663u;
        h = (h ^ seed) * 2654435761u;
        const double v = 128 + 60 * std::sin(x * fx) * std::cos(y * fy) + ((h >> 24) % 32) - 16;
        return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
    }
};

struct Picture {
    std::vector<uint8_t> y, cb, cr;
    EncoderPicture view() const {
        EncoderPicture p;
        p.y = y.data();
        p.y_stride = kW;
        p.cb = cb.data();
        p.cr = cr.data();
        p.cb_stride = p.cr_stride = kW / 2;
        return p;
    }
};

Picture Draw(const Scene& s, double ox, double oy, double zoom = 1) {
    Picture p;
    p.y.resize(kW * kH);
    for (uint32_t r = 0; r < kH; ++r)
        for (uint32_t c = 0; c < kW; ++c)
            p.y[r * kW + c] = s.At(ox + (c - kW / 2.0) / zoom, oy + (r - kH / 2.0) / zoom);
    p.cb.assign(kW * kH / 4, 110);
    p.cr.assign(kW * kH / 4, 150);
    return p;
}

const Scene kHills{0.11, 0.07, 1}, kWaves{0.31, 0.23, 77};

// A pan over one scene, then (with cut) a cut to another panned the other
// way.
Picture ClipFrame(int f, bool cut) {
    return f < 24 || !cut ? Draw(kHills, 3.0 * f, 1.5 * f) : Draw(kWaves, -2.0 * f, 2.0 * f);
}

// Encodes a 48-frame clip at 25 frames/s; the packet sizes come back.
std::vector<size_t> EncodeClip(RateSettings rs, std::vector<bool>* keys = nullptr,
                               bool cut = true) {
    rs.rate_num = 25;
    rs.rate_den = 1;
    rs.width = kW;
    rs.height = kH;
    rs.frames = 48;
    VideoEncoder encoder(kW, kH, EncoderSettings{});
    RateController rate(rs);
    KeyFrameChooser chooser(125);
    std::vector<size_t> sizes;
    for (int f = 0; f < 48; ++f) {
        const Picture p = ClipFrame(f, cut);
        const bool key = chooser.Next(p.y.data(), kW, kW, kH);
        std::vector<uint8_t> video;
        bool was_key = false;
        EXPECT_TRUE(EncodeWithinRate(encoder, rate, p.view(), key, 0, &video, &was_key))
            << encoder.error();
        sizes.push_back(video.size());
        if (keys) keys->push_back(was_key);
    }
    return sizes;
}

double Kbit(const std::vector<size_t>& sizes) {
    double bytes = 0;
    for (size_t s : sizes) bytes += static_cast<double>(s);
    return bytes * 8 / 1000 * 25 / static_cast<double>(sizes.size());
}

TEST(RateControl, MeetsTheBitRateOverTheClip) {
    for (uint32_t target : {150u, 400u}) {
        RateSettings rs;
        rs.bitrate_kbit = target;
        const double got = Kbit(EncodeClip(rs));
        EXPECT_NEAR(got, target, 0.05 * target) << target;
    }
}

// A still first half saves what its frames cannot use even at quantiser 0;
// a busy second half spends it, all of it before the movie ends (whose
// frames are fewer than a second's).
TEST(RateControl, SavingsAreSpentByTheEndOfAShortMovie) {
    RateSettings rs;
    rs.bitrate_kbit = 400;
    rs.frames = 20;  // under a second at 25 frames/s
    RateController rate(rs);
    const double target = 400 * 1000 / 8.0 / 25;  // bytes per frame
    double spent = 0;
    for (int f = 0; f < 20; ++f) {
        const int q = rate.NextQuantiser(false, 0);
        const double complexity = f < 10 ? 0.4 * target / TypicalFrameSize(0) : target;
        const size_t bytes = static_cast<size_t>(complexity * TypicalFrameSize(q));
        rate.FrameDone(false, q, bytes);
        spent += static_cast<double>(bytes);
    }
    EXPECT_NEAR(spent / (20 * target), 1.0, 0.02);
}

TEST(RateControl, KeyFramesInARowAreEachFittedToTheWish) {
    RateSettings rs;
    rs.bitrate_kbit = 400;  // 2000 bytes a frame at 25 frames/s
    rs.width = kW;
    rs.height = kH;
    RateController rate(rs);
    // Key frames of exactly the target's size at quantiser 8: none has
    // inter frames after it to pay for a finer one.
    for (int f = 0; f < 3; ++f) rate.FrameDone(true, 8, 2000);
    EXPECT_EQ(rate.NextQuantiser(true, 0), 8);
    // After an inter frame a key frame is finer than the inter frames.
    rate.FrameDone(false, 10, 2000);
    EXPECT_LT(rate.NextQuantiser(true, 0), rate.NextQuantiser(false, 0));
}

TEST(RateControl, KeepsEverySecondUnderTheReadRateCap) {
    RateSettings rs;
    rs.quantiser = 0;  // far above the cap left alone
    rs.max_rate_kbit = 400;
    // Without a cut: a key frame at a cut may not fit whatever is left of
    // its second even at the coarsest quantiser (the tool warns then).
    const std::vector<size_t> sizes = EncodeClip(rs, nullptr, false);
    EXPECT_LE(PeakWindowBytes(sizes, 25) * 8, 400u * 1000);
    // The cap is a ceiling, not a target far below it.
    EXPECT_GT(PeakWindowBytes(sizes, 25) * 8, 300u * 1000);
}

TEST(RateControl, FramesOfGuessedSizeAreTriedAndRefitted) {
    RateSettings rs;
    rs.bitrate_kbit = 400;  // 2000 bytes a frame
    rs.rate_num = 25;
    rs.width = kW;
    rs.height = kH;
    rs.frames = 48;
    EXPECT_FALSE(RateController(RateSettings{}).Unsure(true));  // no bit rate: nothing to fit
    // A trial far above the wish points to a coarser quantiser, one far
    // below it to a finer one, but no more than two steps away.
    for (size_t trial : {size_t{40000}, size_t{100}}) {
        RateController rate(rs);
        const int q = rate.NextQuantiser(true, 0);
        const int step = rate.Refit(true, q, trial) - q;
        EXPECT_EQ(step, trial > 2000 ? 2 : -2) << trial << " from " << q;
    }
    RateController rate(rs);
    EXPECT_TRUE(rate.Unsure(false));  // nothing seen yet
    rate.FrameDone(true, 8, 6000);
    EXPECT_TRUE(rate.Unsure(false));  // the first inter frame after a key frame
    rate.FrameDone(false, 8, 2000);
    EXPECT_FALSE(rate.Unsure(false));
    rate.FrameDone(false, 8, 2000);
    EXPECT_FALSE(rate.Unsure(false));
    EXPECT_TRUE(rate.Unsure(true));
    rate.FrameDone(true, 8, 6000);
    EXPECT_TRUE(rate.Unsure(false));
}

// Steady content as an encoder shows it: a frame coded finer than the one
// before costs more (it mends the reference), a coarser one less. Returns
// each frame's quantiser; key frames at `keys`, 4000 bytes at quantiser 8.
std::vector<int> RunModel(RateController& rate, int frames, const std::vector<int>& keys = {0}) {
    std::vector<int> qs;
    int previous = 8;
    for (int f = 0; f < frames; ++f) {
        const bool key = std::find(keys.begin(), keys.end(), f) != keys.end();
        const int q = rate.NextQuantiser(key, 0);
        const double mend = key ? 3.0 : std::pow(1.5, previous - q);
        rate.FrameDone(key, q, static_cast<size_t>(1300 * TypicalFrameSize(q) * mend));
        qs.push_back(q);
        previous = q;
    }
    return qs;
}

RateSettings ModelSettings() {
    RateSettings rs;
    rs.bitrate_kbit = 200;  // 1000 bytes a frame
    rs.rate_num = 25;
    rs.width = kW;
    rs.height = kH;
    return rs;
}

TEST(RateControl, InterQuantisersMoveOneStepAtATimeAndMeetTheRate) {
    RateController rate(ModelSettings());
    const std::vector<int> qs = RunModel(rate, 150);
    for (size_t f = 3; f < qs.size(); ++f) EXPECT_LE(std::abs(qs[f] - qs[f - 1]), 1) << f;
    int changes = 0;
    for (size_t f = 51; f < qs.size(); ++f) changes += qs[f] != qs[f - 1];
    EXPECT_LE(changes, 10);  // held, not swung frame to frame
    EXPECT_NEAR(rate.AchievedKbit(), 200, 10);
}

TEST(RateControl, ARateBelowQuantiserFifteensReachesTheLevelsPastIt) {
    // 40 kbit/s is 200 bytes a frame; the model's inter frames take 285 at
    // quantiser 15 and 166 at the coarsest level.
    RateSettings rs = ModelSettings();
    rs.bitrate_kbit = 40;
    RateController rate(rs);
    const std::vector<int> qs = RunModel(rate, 150);
    EXPECT_LE(qs[0], 15);  // nothing seen yet: no level past 15
    EXPECT_GT(*std::max_element(qs.begin(), qs.end()), 15);
    EXPECT_LE(*std::max_element(qs.begin(), qs.end()), VideoEncoder::kCoarsestLevel);
    EXPECT_NEAR(rate.AchievedKbit(), 40, 2);
}

TEST(RateControl, AKeyFrameAtACutIsRepaidSlowlyAndFinerTheMoreIsDrawnFromIt) {
    RateController rate(ModelSettings());
    const std::vector<int> qs = RunModel(rate, 100, {0, 50});
    // The cut's key frame is finer than the scene's inter frames, which
    // keep their quantiser while they repay it.
    EXPECT_LT(qs[50], qs[49]);
    EXPECT_LE(std::abs(qs[52] - qs[49]), 1);
    EXPECT_NEAR(rate.AchievedKbit(), 200, 10);
    std::vector<int> key_q;
    for (double carry : {-1.0, 0.4, 2.0}) {
        rate.SetOutlook(carry, -1);
        key_q.push_back(rate.NextQuantiser(true, 0));
    }
    const int inter = rate.NextQuantiser(false, 0);
    EXPECT_LT(key_q[0], inter);      // unknown: finer all the same
    EXPECT_EQ(key_q[1], inter - 1);  // little drawn from it: one step
    EXPECT_LT(key_q[2], key_q[0]);   // much drawn from it: finer still
}

TEST(RateControl, AnInterFrameIsAtMostOneStepFinerThanTheFrameBefore) {
    RateController rate(ModelSettings());  // 1000 bytes a frame
    // A coarse key frame far under the wish: the inter frame after it would
    // otherwise be fitted six steps finer.
    rate.FrameDone(true, 12, 600);
    EXPECT_EQ(rate.NextQuantiser(false, 0), 11);
    rate.FrameDone(false, 11, 400);
    EXPECT_EQ(rate.NextQuantiser(false, 0), 10);
    // Key frames are not held to it.
    rate.FrameDone(false, 10, 300);
    EXPECT_LT(rate.NextQuantiser(true, 0), 9);
}

TEST(RateControl, PeakWindowCountsEveryWindowUpToTheLastFrame) {
    EXPECT_EQ(PeakWindowBytes({1, 1, 1, 10}, 2), 11u);  // the last window
    EXPECT_EQ(PeakWindowBytes({10, 1, 1, 1}, 2), 11u);  // the first
    EXPECT_EQ(PeakWindowBytes({5, 5, 5}, 2), 10u);
    EXPECT_EQ(PeakWindowBytes({5, 5, 5}, 3), 15u);
    EXPECT_EQ(PeakWindowBytes({5, 5, 5}, 9), 15u);  // fewer frames than a second
    EXPECT_EQ(PeakWindowBytes({}, 9), 0u);
}

TEST(SceneCut, AHardCutPassesAndPansAndZoomsDoNot) {
    SceneCutDetector detector;
    int f = 0;
    auto cut = [&](const Picture& p) { return detector.IsCut(p.y.data(), kW, kW, kH); };
    for (; f < 10; ++f) EXPECT_FALSE(cut(Draw(kHills, 6.0 * f, -4.0 * f))) << f;  // fast pan
    for (int z = 0; z < 10; ++z, ++f)
        EXPECT_FALSE(cut(Draw(kHills, 60, -40, 1 + 0.03 * z))) << z;  // zoom
    EXPECT_TRUE(cut(Draw(kWaves, 0, 0))) << detector.score();
    EXPECT_FALSE(cut(Draw(kWaves, 2, 1)));
    EXPECT_TRUE(cut(Draw(kHills, 2, 1)));  // and straight back
}

TEST(KeyFrames, ComeAtCutsAndAtMostEveryIntervalFrames) {
    std::vector<bool> keys;
    EncodeClip(RateSettings{}, &keys);
    for (int f = 0; f < 48; ++f) EXPECT_EQ(keys[f], f == 0 || f == 24) << f;

    KeyFrameChooser chooser(10);
    const Picture still = Draw(kHills, 0, 0), other = Draw(kWaves, 0, 0);
    std::vector<int> at;
    for (int f = 0; f < 40; ++f) {
        const Picture& p = f >= 15 ? other : still;
        if (chooser.Next(p.y.data(), kW, kW, kH)) at.push_back(f);
    }
    // Every 10 frames, counted again from the cut at 15.
    EXPECT_EQ(at, (std::vector<int>{0, 10, 15, 25, 35}));
    EXPECT_EQ(chooser.cuts(), 1u);
}

// The mean of a picture's area offsets.
double MeanOffset(const std::vector<float>& offsets) {
    double sum = 0;
    for (float o : offsets) sum += o;
    return offsets.empty() ? 0 : sum / static_cast<double>(offsets.size());
}

TEST(Lookahead, LaterPicturesOfAStillSceneCarryLessAndAKeyFrameEndsIt) {
    const Picture still = Draw(kHills, 0, 0);
    Lookahead ahead(kW, kH);
    EXPECT_TRUE(ahead.Take().empty());
    // Seven pictures of one still scene, the sixth a key frame all the same.
    for (int f = 0; f < 7; ++f) ahead.Push(still.y.data(), kW, f == 5);
    EXPECT_EQ(ahead.pending(), 7u);
    std::vector<double> means;
    for (int f = 0; f < 7; ++f) {
        const std::vector<float> offsets = ahead.Take();
        ASSERT_EQ(offsets.size(), size_t{(kW + 15) / 16} * ((kH + 15) / 16));
        for (float o : offsets) {
            EXPECT_LE(std::fabs(o), Lookahead::kMostOffset);
            // A still picture is carried alike everywhere.
            EXPECT_NEAR(o, offsets[0], 0.05) << f;
        }
        means.push_back(MeanOffset(offsets));
    }
    EXPECT_EQ(ahead.pending(), 0u);
    EXPECT_NEAR(means[0], 0, 1e-6);  // the first sets what is typical
    // Each picture has one picture fewer after it to carry into: coarser
    // and coarser up to the last before the key frame, which carries nothing
    // (as the last picture of all does).
    for (int f = 1; f < 5; ++f) EXPECT_GT(means[f], means[f - 1] + 0.02) << f;
    EXPECT_LT(means[5], means[4]);
    EXPECT_GT(means[6], means[5]);
}

TEST(Lookahead, AreasThatLeaveThePictureSoonGetCoarserOnes) {
    // A pan to the left by 6 samples a picture: the left column of areas
    // is gone after three pictures, the right one stays the longest.
    Lookahead ahead(kW, kH);
    for (int f = 0; f < 10; ++f) ahead.Push(Draw(kHills, 6.0 * f, 0).y.data(), kW, f == 0);
    const std::vector<float> offsets = ahead.Take();
    const uint32_t aw = ahead.areas_across(), ah = ahead.areas_down();
    ASSERT_EQ(offsets.size(), size_t{aw} * ah);
    double left = 0, right = 0;
    for (uint32_t r = 0; r < ah; ++r) {
        left += offsets[r * aw];
        right += offsets[r * aw + aw - 1];
    }
    EXPECT_GT(left, right + 0.1 * ah);
    EXPECT_NEAR(MeanOffset(offsets), 0, 1e-3);
}

TEST(Lookahead, FollowRatioTellsHowCheaplyTheNextPictureIsDrawn) {
    // A still picture, a pan, a cut (key frame), the last picture.
    Lookahead ahead(kW, kH);
    const Picture still = Draw(kHills, 0, 0);
    ahead.Push(still.y.data(), kW, true);
    ahead.Push(still.y.data(), kW, false);
    ahead.Push(Draw(kHills, 5, 3).y.data(), kW, false);
    ahead.Push(Draw(kWaves, 0, 0).y.data(), kW, true);
    std::vector<double> ratios;
    for (int f = 0; f < 4; ++f) {
        ahead.Take();
        ratios.push_back(ahead.follow_ratio());
    }
    EXPECT_GE(ratios[0], 0);
    EXPECT_LT(ratios[0], ratios[1]);  // a copy costs less than a pan
    EXPECT_LE(ratios[1], 1);
    EXPECT_LT(ratios[2], 0);  // a key frame follows
    EXPECT_LT(ratios[3], 0);  // nothing follows
}

TEST(Lookahead, PicturesOfAnySizeTakeOneOffsetPerArea) {
    for (auto [w, h] : {std::pair{1u, 1u}, std::pair{17u, 9u}, std::pair{40u, 16u}}) {
        std::vector<uint8_t> y(size_t{w} * h);
        Lookahead ahead(w, h);
        for (int f = 0; f < 3; ++f) {
            for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i * 37 + f * 11);
            ahead.Push(y.data(), w, false);
        }
        for (int f = 0; f < 3; ++f)
            EXPECT_EQ(ahead.Take().size(), size_t{(w + 15) / 16} * ((h + 15) / 16));
    }
}

}  // namespace
}  // namespace vemo
