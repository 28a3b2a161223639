// The encoder's measures and its motion search: the SSE2 block measures
// against the plain ones, the counted coefficient bits against the written
// ones, and the search over the whole offset range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "block_coder.h"
#include "block_kernels.h"
#include "motion_search.h"
#include "rate.h"
#include "vemo/encoder.h"
#include "vemo/video_writer.h"

namespace vemo::encode {
namespace {

TEST(BlockKernels, Sse2MeasuresEqualThePlainOnes) {
    const BlockKernels* sse2 = Sse2BlockKernels();
    if (!sse2) GTEST_SKIP() << "no SSE2 here";
    const BlockKernels& plain = PlainBlockKernels();
    std::mt19937 rng(7);
    std::vector<uint8_t> a(40 * 9), b(40 * 9);
    for (int round = 0; round < 200; ++round) {
        // Extremes as well as noise: 0 against 255 is the largest difference.
        for (auto& v : a) v = static_cast<uint8_t>(round < 2 ? 255 * round : rng());
        for (auto& v : b) v = static_cast<uint8_t>(round < 2 ? 255 * (1 - round) : rng());
        const int offset = round % 7;  // rows that start anywhere
        const ptrdiff_t stride = 33 + round % 5;
        EXPECT_EQ(sse2->sad(&a[offset], stride, &b[3], 40),
                  plain.sad(&a[offset], stride, &b[3], 40));
        EXPECT_EQ(sse2->sse(&a[offset], stride, &b[3], 40),
                  plain.sse(&a[offset], stride, &b[3], 40));
    }
    std::vector<uint8_t> zero(64, 0), full(64, 255);
    EXPECT_EQ(sse2->sse(zero.data(), 8, full.data(), 8), 64u * 255 * 255);
    EXPECT_EQ(sse2->sad(zero.data(), 8, full.data(), 8), 64u * 255);
}

TEST(CoefficientBits, CountsWhatTheWriterWrites) {
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        int16_t coef[64] = {};
        // Sparse low blocks, dense blocks, and a few of the largest sizes.
        const int count = round % 4 == 0 ? 63 : static_cast<int>(rng() % 8);
        const int top = round % 50 == 0 ? 32767 : round % 3 == 0 ? 3 : 300;
        for (int k = 0; k < count; ++k) {
            const int index = 1 + static_cast<int>(rng() % (round % 2 ? 63 : 12));
            coef[index] = static_cast<int16_t>(static_cast<int>(rng() % (2 * top + 1)) - top);
        }
        coef[0] = static_cast<int16_t>(rng() % 2048);  // not part of the list
        BitWriter bits;
        ASSERT_TRUE(WriteCoefficients(bits, coef));
        ASSERT_EQ(static_cast<size_t>(CoefficientBits(coef)), bits.BitCount()) << round;
    }
}

TEST(PlaneRates, FollowTheTreesOfTheCounts) {
    PlaneCounts counts;
    counts.types[kBlockSkip] = 900;
    counts.types[kBlockMotion] = 90;
    counts.types[kBlockInter] = 10;
    counts.offset_x[3] = 500;
    const PlaneRates r = RatesFrom(counts);
    EXPECT_LT(r.type[kBlockSkip], r.type[kBlockMotion]);
    EXPECT_LE(r.type[kBlockMotion], r.type[kBlockInter]);
    EXPECT_LT(r.type[kBlockInter], r.type[kBlockRaw]);  // never seen: a long code
    EXPECT_LT(r.offset_x[3], r.offset_x[4]);
    EXPECT_EQ(r.offset_x[0], r.offset_y[0]);  // no offsets counted: no sign bit
    EXPECT_EQ(r.offset_y[5], r.offset_y[0] + 1);
}

// A plane of texture without repeats: noise smoothed over about 7 samples,
// so that every offset has a basin a few samples wide.
std::vector<uint8_t> Texture(int w, int h) {
    std::mt19937 rng(5);
    std::vector<int> noise(static_cast<size_t>(w) * h);
    for (auto& v : noise) v = static_cast<int>(rng() % 256);
    std::vector<uint8_t> p(noise.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0, n = 0;
            for (int j = std::max(y - 3, 0); j <= std::min(y + 3, h - 1); ++j)
                for (int i = std::max(x - 3, 0); i <= std::min(x + 3, w - 1); ++i, ++n)
                    sum += noise[j * w + i];
            p[y * w + x] = static_cast<uint8_t>(std::clamp((sum / n - 128) * 4 + 128, 0, 255));
        }
    return p;
}

TEST(MotionSearch, FindsShiftsUpToTheEdgeOfTheRange) {
    const int w = 96, h = 96;
    const std::vector<uint8_t> ref = Texture(w, h);
    float bits[16];
    for (int i = 0; i < 16; ++i) bits[i] = i ? 5.0f : 1.0f;
    MotionSearch search(ref.data(), w, h, 15, 2.0f, bits, bits);
    for (const auto& [dx, dy] : {std::pair{15, -15}, {-15, 15}, {-15, -15}, {7, 3}, {0, -1}}) {
        uint8_t target[64];
        const int x = 40, y = 40;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) target[r * 8 + c] = ref[(y + dy + r) * w + x + dx + c];
        // With the vector among the candidates it is taken at once; without
        // any, the coarse grid and the diamond steps reach it.
        const MotionVector hint{static_cast<int8_t>(dx), static_cast<int8_t>(dy)};
        uint32_t sad = 1;
        EXPECT_EQ(search.Find(target, x, y, &hint, 1, &sad), hint);
        EXPECT_EQ(sad, 0u);
        EXPECT_EQ(search.Find(target, x, y, nullptr, 0, &sad), hint) << dx << "," << dy;
    }
    // A smaller range keeps the vector inside it.
    MotionSearch near(ref.data(), w, h, 4, 2.0f, bits, bits);
    uint8_t target[64];
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) target[r * 8 + c] = ref[(40 + 9 + r) * w + 40 + c];
    const MotionVector far{0, 9};
    uint32_t sad = 0;
    const MotionVector v = near.Find(target, 40, 40, &far, 1, &sad);
    EXPECT_LE(std::abs(v.x), 4);
    EXPECT_LE(std::abs(v.y), 4);
}

TEST(MotionSearch, KeepsEverySourceBlockInsideThePlane) {
    const int w = 48, h = 40;
    const std::vector<uint8_t> ref = Texture(w, h);
    float bits[16] = {};
    MotionSearch search(ref.data(), w, h, 15, 1.0f, bits, bits);
    std::mt19937 rng(3);
    for (int y = 0; y + 8 <= h; y += 8)
        for (int x = 0; x + 8 <= w; x += 8) {
            uint8_t target[64];
            for (auto& v : target) v = static_cast<uint8_t>(rng());
            const MotionVector wild[2] = {{-15, -15}, {15, 15}};
            uint32_t sad = 0;
            const MotionVector v = search.Find(target, x, y, wild, 2, &sad);
            EXPECT_GE(x + v.x, 0);
            EXPECT_GE(y + v.y, 0);
            EXPECT_LE(x + v.x + 8, w);
            EXPECT_LE(y + v.y + 8, h);
        }
}

TEST(MotionSearch, HeldOffsetsAndTheExhaustiveSearch) {
    const int w = 64, h = 64;
    const std::vector<uint8_t> ref = Texture(w, h);
    float bits[16] = {};
    uint8_t target[64];
    auto take = [&](int x, int y) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) target[r * 8 + c] = ref[(y + r) * w + x + c];
    };
    // A held vertical offset: the horizontal one is still found.
    MotionSearch search(ref.data(), w, h, 15, 1.0f, bits, bits);
    search.Lock(MotionSearch::kFree, 3);
    take(24 + 5, 24 + 3);
    uint32_t sad = 1;
    EXPECT_EQ(search.Find(target, 24, 24, nullptr, 0, &sad), (MotionVector{5, 3}));
    EXPECT_TRUE(search.found());
    EXPECT_EQ(sad, 0u);
    take(24 - 6, 24 - 4);
    EXPECT_EQ(search.Find(target, 24, 24, nullptr, 0, &sad).y, 3);
    // An offset the block cannot take at the plane's edge gives no vector.
    search.Lock(MotionSearch::kFree, 1);
    search.Find(target, 24, h - 8, nullptr, 0, &sad);
    EXPECT_FALSE(search.found());
    search.Lock(MotionSearch::kFree, 0);
    search.Find(target, 24, h - 8, nullptr, 0, &sad);
    EXPECT_TRUE(search.found());

    // The exhaustive search finds the least difference of all offsets for
    // targets that match nowhere exactly.
    std::vector<uint16_t> sums(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y + 8 <= h; ++y)
        for (int x = 0; x + 8 <= w; ++x)
            for (int i = 0; i < 64; ++i) sums[y * w + x] += ref[(y + i / 8) * w + x + i % 8];
    MotionSearch full(ref.data(), w, h, 15, 1.0f, bits, bits);
    full.set_exhaustive(sums.data());
    const BlockMeasure sad_of = ActiveBlockKernels().sad;
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        const int x = 8 * static_cast<int>(rng() % 8), y = 8 * static_cast<int>(rng() % 8);
        take(static_cast<int>(rng() % 57), static_cast<int>(rng() % 57));
        for (auto& v : target) v = static_cast<uint8_t>(v + rng() % 40);
        uint32_t least = UINT32_MAX;
        for (int dy = std::max(-15, -y); dy <= std::min(15, h - 8 - y); ++dy)
            for (int dx = std::max(-15, -x); dx <= std::min(15, w - 8 - x); ++dx)
                least = std::min(least, sad_of(target, 8, &ref[(y + dy) * w + x + dx], w));
        full.Find(target, x, y, nullptr, 0, &sad);
        EXPECT_EQ(sad, least) << round;
    }
}

// The thorough decisions of every block of src (w x h) predicted from ref,
// the last frame's vectors all `previous`.
std::vector<Block> Decisions(const std::vector<uint8_t>& src, const std::vector<uint8_t>& ref,
                             uint32_t w, uint32_t h, const PlaneRates& rates, float lambda,
                             MotionVector previous = {}) {
    const PlaneView src_view{src.data(), w, h}, ref_view{ref.data(), w, h};
    std::vector<MotionVector> field(w * h / 64), before(w * h / 64, previous);
    PlaneJob job{src_view, &ref_view, 10, 15, lambda, rates, w / 8, h / 8};
    job.field = field.data();
    job.previous = before.data();
    job.thorough = true;
    BlockCoder coder(job);
    std::vector<Block> blocks;
    for (uint32_t i = 0; i < w * h / 64; ++i)
        blocks.push_back(coder.Decide(i % (w / 8), i / (w / 8), true));
    return blocks;
}

TEST(BlockCoder, EvenOffsetRatesLetTheVectorsFollowTheMotion) {
    // A ramp across (rows raised at random) moved 6 samples left; an older
    // frame's rates make offsets 5 and 8 cheap and 6 dear. Under them the
    // blocks take 5, one sample off; under the even rates, the true 6.
    const uint32_t w = 96, h = 48;
    std::mt19937 rng(2);
    std::vector<uint8_t> ref(w * h), src(w * h);
    for (uint32_t y = 0, raised = 0; y < h; ++y, raised = rng() % 60)
        for (uint32_t x = 0; x < w; ++x) {
            ref[y * w + x] = static_cast<uint8_t>(2 * x + raised);
            src[y * w + x] = static_cast<uint8_t>(2 * std::min(x + 6, w - 1) + raised);
        }
    PlaneRates skewed = DefaultRates();
    for (int i = 0; i < 16; ++i) skewed.offset_x[i] = i == 5 || i == 8 ? 2.0f : 9.0f;
    for (int round = 0; round < 2; ++round) {
        const std::vector<Block> blocks =
            Decisions(src, ref, w, h, round ? EvenOffsetRates(skewed) : skewed, 100.0f);
        for (uint32_t i = 0; i < blocks.size(); ++i) {
            if (i % (w / 8) == 0 || i % (w / 8) + 3 >= w / 8) continue;  // offsets cut off
            EXPECT_EQ(blocks[i].dx * 100 + blocks[i].dy, round ? 600 : 500) << i;
        }
    }
}

TEST(BlockCoder, ResidueBlocksSendOnlyTheLargeDifferences) {
    // Noise moved 3 samples down; a few samples of each block changed by 30
    // to 60, every sample by up to 1 more. The residues send the large
    // changes rounded to a coarse step: an exact coding costs far more.
    const uint32_t w = 64, h = 32;
    std::mt19937 rng(8);
    std::vector<uint8_t> ref(w * h), src(w * h);
    for (auto& v : ref) v = static_cast<uint8_t>(60 + rng() % 120);
    for (uint32_t i = 0; i < w * h; ++i)
        src[i] = static_cast<uint8_t>(ref[std::min(i + 3 * w, w * h - w + i % w)] + rng() % 2 +
                                      (i % 23 == 0 ? 30 + rng() % 31 : 0));
    // The last frame moved alike (noise has no basins for the search).
    const std::vector<Block> blocks = Decisions(src, ref, w, h, DefaultRates(), 40.0f, {0, 3});
    int residues = 0;
    for (uint32_t n = 0; n + w / 8 < blocks.size(); ++n) {  // the last row cannot move down
        const Block& b = blocks[n];
        if (b.type != kBlockResidue) continue;
        ++residues;
        int changed = 0;
        for (uint32_t k = 0; k < 64; ++k) {
            const uint32_t i = (n / (w / 8) * 8 + k / 8) * w + n % (w / 8) * 8 + k % 8;
            // What the decoder draws: the moved sample plus the residue.
            ASSERT_EQ(b.recon[k], static_cast<uint8_t>(ref[i + b.dy * w + b.dx] + b.residue[k]));
            EXPECT_LE(std::abs(b.recon[k] - src[i]), 8);
            EXPECT_EQ(b.residue[k] % 4, 0);  // no exact ones
            changed += b.residue[k] != 0;
        }
        EXPECT_LE(changed, 8);
    }
    EXPECT_GE(residues, 12);
}

TEST(PlanePsnr, FromTheMeanSquaredError) {
    std::vector<uint8_t> a(30 * 4, 100), b(30 * 4, 100);
    EXPECT_EQ(PlanePsnr(a.data(), 30, b.data(), 30, 30, 4), kPerfectPsnr);
    b[0] = 110;  // squared error 100 over 120 samples
    b[29] = 0;   // outside the 29 columns measured
    b[30] = 100;
    EXPECT_NEAR(PlanePsnr(a.data(), 30, b.data(), 30, 29, 4),
                10 * std::log10(255.0 * 255.0 * 116 / 100), 1e-9);
}

}  // namespace
}  // namespace vemo::encode
