// The encoder's list writers against the decoder's readers: random
// coefficient and residue blocks come back exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "vemo/video_writer.h"
#include "video_internal.h"

namespace vemo::video {
namespace {

TEST(VideoWriterRoundTrip, CoefficientBlocksComeBackExactly) {
    std::mt19937 rng(31);
    for (int round = 0; round < 3000; ++round) {
        int16_t coef[64] = {};
        const int density = 1 + round % 8;
        for (int i = 1; i < 64; ++i) {
            if (static_cast<int>(rng() % 8) >= density) continue;
            const int range = round % 3 == 0 ? 32767 : round % 3 == 1 ? 300 : 3;
            coef[i] = static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
        }
        BitWriter out;
        ASSERT_TRUE(WriteCoefficients(out, coef));
        out.WriteBits(0x5A5, 12);  // what follows must be left for its reader
        const std::vector<uint8_t> bytes = out.Bytes();
        BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
        int16_t got[64];
        got[0] = 1234;
        ReadCoefficients(reader, got);
        EXPECT_EQ(got[0], 1234);
        for (int i = 1; i < 64; ++i)
            ASSERT_EQ(got[i], coef[i]) << "round " << round << " index " << i;
        ASSERT_EQ(reader.Read(12), 0x5A5u) << "round " << round;
    }
}

// Blocks back to back, each with its quantiser, the last ending at the end
// of the data: zero runs longer than one look-ahead and reads across
// refills and into the data's tail must each take exactly their own bits.
TEST(VideoWriterRoundTrip, CodedBlocksInOneStreamKeepTheirQuantisers) {
    std::mt19937 rng(33);
    std::vector<std::vector<int16_t>> blocks;
    BitWriter out;
    for (int round = 0; round < 400; ++round) {
        std::vector<int16_t> coef(64, 0);
        const int density = round % 9;  // 0: no coefficients at all
        for (int i = 1; i < 64; ++i) {
            if (static_cast<int>(rng() % 8) >= density) continue;
            const int range = round % 2 ? 2 : 600;
            coef[i] = static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
        }
        ASSERT_TRUE(WriteCoefficients(out, coef.data()));
        out.WriteBits(static_cast<uint32_t>(round % 16), 4);
        blocks.push_back(coef);
    }
    const std::vector<uint8_t> bytes = out.Bytes();
    BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
    for (size_t round = 0; round < blocks.size(); ++round) {
        int16_t got[64];
        got[0] = -7;
        ASSERT_EQ(ReadCodedBlock(reader, got), round % 16) << "round " << round;
        EXPECT_EQ(got[0], -7);
        for (int i = 1; i < 64; ++i)
            ASSERT_EQ(got[i], blocks[round][i]) << "round " << round << " index " << i;
    }
    EXPECT_FALSE(reader.PastEnd());
    EXPECT_EQ(reader.ConsumedBits(), out.BitCount());
}

TEST(VideoWriterRoundTrip, ResidueBlocksComeBackExactly) {
    std::mt19937 rng(32);
    int written = 0;
    for (int round = 0; round < 3000; ++round) {
        int8_t residue[64] = {};
        const int count = static_cast<int>(rng() % 20);
        for (int k = 0; k < count; ++k)
            residue[rng() % 64] = static_cast<int8_t>(
                static_cast<int>(rng() % (round % 2 ? 255 : 17)) - (round % 2 ? 127 : 8));
        BitWriter out;
        if (!WriteResidue(out, residue)) continue;  // more changes than a budget allows
        ++written;
        out.WriteBits(0x3C, 7);
        const std::vector<uint8_t> bytes = out.Bytes();
        BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
        uint8_t got[64];
        ReadResidue(reader, reader.Read(7), got);
        for (int k = 0; k < 64; ++k)
            ASSERT_EQ(static_cast<int8_t>(got[k]), residue[kCoefficientScan[k]])
                << "round " << round << " scan " << k;
        ASSERT_EQ(reader.Read(7), 0x3Cu) << "round " << round;
    }
    EXPECT_GT(written, 1000);
}

}  // namespace
}  // namespace vemo::video

namespace vemo::video {
namespace {

// A random plane being built: the reference the moving blocks copy from and
// the samples the decoder must produce.
struct RandomPlane {
    uint32_t w, h;
    std::vector<uint8_t> ref, want;
    uint8_t& at(std::vector<uint8_t>& p, uint32_t x, uint32_t y) { return p[y * w + x]; }
    template <typename F>
    void Draw(uint32_t x0, uint32_t y0, F sample) {
        for (uint32_t y = 0; y < 8; ++y)
            for (uint32_t x = 0; x < 8; ++x) at(want, x0 + x, y0 + y) = sample(x, y);
    }
};

// The scaled blocks: two columns on an even row (100) and the same two on the
// row below (101); -1 elsewhere.
std::vector<int> PlanScaledBlocks(std::mt19937& rng, uint32_t cols, uint32_t rows) {
    std::vector<int> plan(cols * rows, -1);
    for (uint32_t r = 0; r + 1 < rows; r += 2)
        for (uint32_t c = 0; c + 1 < cols; ++c)
            if (plan[r * cols + c] < 0 && rng() % 5 == 0) {
                plan[r * cols + c] = plan[r * cols + c + 1] = 100;
                plan[(r + 1) * cols + c] = plan[(r + 1) * cols + c + 1] = 101;
                ++c;
            }
    return plan;
}

// Random runs covering the 64 positions of scan pattern `scan`; block gets
// the samples they draw (natural order).
std::vector<RunSegment> RandomRuns(std::mt19937& rng, int scan, uint8_t block[64]) {
    std::vector<RunSegment> runs;
    int pos = 0;
    while (pos < 64) {
        RunSegment seg{};
        seg.length = static_cast<uint8_t>(std::min<int>(1 + rng() % 16, 64 - pos));
        if (pos + seg.length == 63)
            seg.length = static_cast<uint8_t>(seg.length < 16 ? seg.length + 1 : 15);
        if (pos + seg.length > 64) seg.length = static_cast<uint8_t>(64 - pos);
        seg.single = rng() & 1;
        for (int k = 0; k < seg.length; ++k) {
            seg.colours[k] = static_cast<uint8_t>(rng());
            block[kRunScans[scan][pos + k]] = seg.single ? seg.colours[0] : seg.colours[k];
        }
        pos += seg.length;
        runs.push_back(seg);
    }
    return runs;
}

// Writes a random 8x8 block of any unscaled kind at (x0, y0) and records the
// samples it must decode to.
void WriteRandomBlock(std::mt19937& rng, PlaneWriter& writer, RandomPlane& p, uint32_t x0,
                      uint32_t y0) {
    // Offsets that keep the source inside the plane.
    const int dx = std::clamp(static_cast<int>(rng() % 31) - 15, -static_cast<int>(x0),
                              static_cast<int>(p.w - 8 - x0));
    const int dy = std::clamp(static_cast<int>(rng() % 31) - 15, -static_cast<int>(y0),
                              static_cast<int>(p.h - 8 - y0));
    auto src = [&](uint32_t x, uint32_t y) { return p.at(p.ref, x0 + dx + x, y0 + dy + y); };
    switch (rng() % 8) {
        case 0:
            ASSERT_TRUE(writer.Skip());
            p.Draw(x0, y0, [&](uint32_t x, uint32_t y) { return p.at(p.ref, x0 + x, y0 + y); });
            break;
        case 1:
            ASSERT_TRUE(writer.Motion(dx, dy));
            p.Draw(x0, y0, src);
            break;
        case 2: {
            const uint8_t colour = static_cast<uint8_t>(rng());
            ASSERT_TRUE(writer.Fill(colour));
            p.Draw(x0, y0, [&](uint32_t, uint32_t) { return colour; });
            break;
        }
        case 3: {
            const uint8_t c0 = static_cast<uint8_t>(rng()), c1 = static_cast<uint8_t>(rng());
            uint8_t bits[8];
            for (auto& b : bits) b = static_cast<uint8_t>(rng());
            ASSERT_TRUE(writer.Pattern(c0, c1, bits));
            p.Draw(x0, y0, [&](uint32_t x, uint32_t y) { return (bits[y] >> x) & 1 ? c1 : c0; });
            break;
        }
        case 4: {
            uint8_t samples[64];
            for (auto& s : samples) s = static_cast<uint8_t>(rng());
            ASSERT_TRUE(writer.Raw(samples));
            p.Draw(x0, y0, [&](uint32_t x, uint32_t y) { return samples[y * 8 + x]; });
            break;
        }
        case 5: {
            const int scan = static_cast<int>(rng() % 16);
            uint8_t block[64];
            const std::vector<RunSegment> runs = RandomRuns(rng, scan, block);
            ASSERT_TRUE(writer.Run(scan, runs));
            p.Draw(x0, y0, [&](uint32_t x, uint32_t y) { return block[y * 8 + x]; });
            break;
        }
        case 6: {
            int16_t coef[64] = {};
            coef[0] = static_cast<int16_t>(rng() % 2048);
            for (int k = 0; k < 6; ++k)
                coef[1 + rng() % 63] = static_cast<int16_t>(rng() % 200) - 100;
            const int q = static_cast<int>(rng() % 16);
            ASSERT_TRUE(writer.Intra(coef, q));
            uint8_t out[64];
            PlainKernels().inverse_transform(coef, IntraQuantTable()[q], out);
            p.Draw(x0, y0, [&](uint32_t x, uint32_t y) { return out[y * 8 + x]; });
            break;
        }
        default: {
            int8_t residue[64] = {};
            for (int k = 0; k < 5; ++k) residue[rng() % 64] = static_cast<int8_t>(rng() % 21) - 10;
            ASSERT_TRUE(writer.Residue(dx, dy, residue));
            p.Draw(x0, y0, [&](uint32_t x, uint32_t y) {
                return static_cast<uint8_t>(src(x, y) + residue[y * 8 + x]);
            });
            break;
        }
    }
}

// Writes every block of the plane: the planned scaled blocks, random kinds
// elsewhere.
void WriteRandomPlane(std::mt19937& rng, const std::vector<int>& plan, PlaneWriter& writer,
                      RandomPlane& p) {
    const uint32_t cols = p.w / 8, rows = p.h / 8;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            const uint32_t x0 = c * 8, y0 = r * 8;
            if (plan[r * cols + c] == 100) {
                const uint8_t colour = static_cast<uint8_t>(rng());
                ASSERT_TRUE(writer.ScaledFill(colour));
                for (uint32_t y = 0; y < 16; ++y)
                    for (uint32_t x = 0; x < 16; ++x) p.at(p.want, x0 + x, y0 + y) = colour;
                ++c;
                continue;
            }
            if (plan[r * cols + c] == 101) {
                ASSERT_TRUE(writer.ScaledLowerHalf());
                ++c;
                continue;
            }
            ASSERT_NO_FATAL_FAILURE(WriteRandomBlock(rng, writer, p, x0, y0));
        }
    }
}

// Random planes of every kind of block, written by the encoder's plane
// writer and decoded here; the expected samples are worked out block by
// block from the reference plane. Several block rows per fill and refills
// between rows are exercised by the sizes.
TEST(VideoWriterRoundTrip, RandomPlanesDecodeToTheirBlocks) {
    std::mt19937 rng(33);
    const uint32_t w = 64, h = 48, cols = w / 8, rows = h / 8;
    BundleBuffers bundles;
    ASSERT_TRUE(AllocateBundleBuffers(w, &bundles));
    for (int round = 0; round < 40; ++round) {
        RandomPlane p{w, h, std::vector<uint8_t>(w * h), std::vector<uint8_t>(w * h, 0)};
        std::vector<uint8_t> dst(w * h, 0);
        for (auto& v : p.ref) v = static_cast<uint8_t>(rng());
        PlaneWriter writer(w, h);
        const std::vector<int> plan = PlanScaledBlocks(rng, cols, rows);
        ASSERT_NO_FATAL_FAILURE(WriteRandomPlane(rng, plan, writer, p));
        const std::vector<uint8_t> data = writer.Finish();
        ASSERT_FALSE(data.empty()) << writer.error();
        PlaneJob job;
        job.data = data.data();
        job.size = static_cast<uint32_t>(data.size());
        job.dst = dst.data();
        job.ref = p.ref.data();
        job.width = w;
        job.height = h;
        job.stride = w;
        job.kind = 1;
        job.bundles = &bundles;
        const PlaneOutcome out = DecodePlane(job);
        EXPECT_EQ(out.faults, 0u) << "round " << round;
        EXPECT_EQ(out.next_offset, data.size()) << "round " << round;
        for (uint32_t i = 0; i < w * h; ++i)
            ASSERT_EQ(dst[i], p.want[i]) << "round " << round << " at " << i % w << "," << i / w;
    }
    FreeBundleBuffers(&bundles);
}

}  // namespace
}  // namespace vemo::video
