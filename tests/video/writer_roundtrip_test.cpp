// The encoder's list writers against the decoder's readers: random
// coefficient and residue blocks come back exactly.
#include <gtest/gtest.h>

#include <random>

#include "vemo/video_writer.h"
#include "video/video_internal.h"

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
