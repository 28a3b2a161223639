// The inverse transforms and the FFT against their direct definitions,
// evaluated in double precision.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

#include "cpu_levels.h"
#include "pcm.h"
#include "transform.h"

namespace vemo::audio {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Tables {
    explicit Tables(uint32_t n, bool dct)
        : twiddle(TwiddleFloats(n)),
          bit_reverse(BitReverseEntries(n)),
          cosines(CosineFloats(n, dct)) {
        t.twiddle = twiddle.data();
        t.bit_reverse = bit_reverse.data();
        t.cosines = cosines.data();
        BuildTransformTables(n, dct, &t);
    }
    std::vector<float> twiddle;
    std::vector<uint16_t> bit_reverse;
    std::vector<float> cosines;
    TransformTables t;
};

std::vector<double> DirectDct(const std::vector<float>& a) {
    const size_t n = a.size();
    std::vector<double> x(n);
    for (size_t k = 0; k < n; ++k) {
        double s = 0;
        for (size_t j = 0; j < n; ++j) s += a[j] * std::cos(kPi * j * (k + 0.5) / n);
        x[k] = s;
    }
    return x;
}

std::vector<double> DirectRealDft(const std::vector<float>& a) {
    const size_t n = a.size();
    std::vector<double> x(n);
    for (size_t k = 0; k < n; ++k) {
        double s = (a[0] + a[1] * ((k & 1) ? -1.0 : 1.0)) / 2;
        for (size_t j = 1; j < n / 2; ++j) {
            const double angle = 2 * kPi * static_cast<double>((j * k) % n) / n;
            s += a[2 * j] * std::cos(angle) + a[2 * j + 1] * std::sin(angle);
        }
        x[k] = s;
    }
    return x;
}

// Coefficients like a block's: most small, some zero, a few large.
std::vector<float> RandomBlock(size_t n, std::mt19937& rng, float magnitude) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> a(n);
    for (size_t i = 0; i < n; ++i) {
        const float r = u(rng);
        a[i] = (i % 7 == 3) ? 0.0f : r * magnitude / (1.0f + static_cast<float>(i) / 64.0f);
    }
    return a;
}

// Largest difference in 16-bit output between the float transform and the
// double definition, after the same scaling and rounding.
int PcmDeviation(const std::vector<float>& x, const std::vector<double>& ref) {
    const size_t n = x.size();
    const double scale = 2.0 / std::sqrt(static_cast<double>(n));
    const float fscale = static_cast<float>(scale);
    int worst = 0;
    for (size_t k = 0; k < n; ++k) {
        double r = std::nearbyint(ref[k] * scale);
        r = std::min(32767.0, std::max(-32768.0, r));
        const int d = std::abs(ConvertSample(x[k], fscale) - static_cast<int>(r));
        worst = std::max(worst, d);
    }
    return worst;
}

TEST(AudioTransform, ComplexFftMatchesDirectDftBothSigns) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
    for (uint32_t points : {4u, 8u, 256u, 2048u}) {
        Tables tables(2 * points, false);
        for (bool positive : {true, false}) {
            std::vector<float> a(2 * points);
            for (float& v : a) v = u(rng);
            std::vector<std::complex<double>> want(points);
            for (uint32_t k = 0; k < points; ++k) {
                std::complex<double> s = 0;
                for (uint32_t m = 0; m < points; ++m) {
                    const double angle =
                        (positive ? 2 : -2) * kPi * ((uint64_t{m} * k) % points) / points;
                    s += std::complex<double>(a[2 * m], a[2 * m + 1]) *
                         std::complex<double>(std::cos(angle), std::sin(angle));
                }
                want[k] = s;
            }
            ComplexFft(tables.t, a.data(), positive);
            double worst = 0;
            for (uint32_t k = 0; k < points; ++k)
                worst = std::max(worst,
                                 std::abs(std::complex<double>(a[2 * k], a[2 * k + 1]) - want[k]));
            // Relative to the size of the values: a few float epsilons per stage.
            EXPECT_LT(worst, 1000.0 * std::sqrt(points) * 1e-5) << points << " points";
        }
    }
}

// Every CPU level gives the plain kernels' values: bit for bit where single
// precision arithmetic rounds every operation, else within a few units of
// the last place.
TEST(AudioTransform, EveryCpuLevelGivesThePlainValues) {
    std::mt19937 rng(21);
    for (uint32_t n = 8; n <= kMaxTransformLength; n *= 2) {
        for (int kind = 0; kind < 4; ++kind) {  // DCT, real DFT, FFT of both signs
            Tables tables(n, kind == 0);
            const std::vector<float> input = RandomBlock(n, rng, 30000.0f);
            std::vector<float> plain;
            for (const test::CpuLevel& level : test::CpuLevels()) {
                test::ScopedCpuMask mask(level.mask);
                std::vector<float> a = input;
                if (kind == 0)
                    InverseDct(tables.t, a.data());
                else if (kind == 1)
                    InverseRealDft(tables.t, a.data());
                else
                    ComplexFft(tables.t, a.data(), kind == 2);
                if (plain.empty()) {
                    plain = a;
                    continue;
                }
                for (uint32_t i = 0; i < n; ++i) {
                    if (FLT_EVAL_METHOD == 0)
                        ASSERT_EQ(a[i], plain[i]) << level.name << " n " << n << " kind " << kind;
                    else
                        ASSERT_NEAR(a[i], plain[i], 1e-4 * (1 + std::abs(plain[i])));
                }
            }
        }
    }
}

TEST(AudioTransform, InverseDctMatchesDefinitionWithinOneAfterRounding) {
    std::mt19937 rng(11);
    int worst = 0;
    for (uint32_t n : {512u, 1024u, 2048u}) {
        Tables tables(n, true);
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<float> a = RandomBlock(n, rng, trial < 3 ? 2000.0f : 60000.0f);
            const std::vector<double> ref = DirectDct(a);
            InverseDct(tables.t, a.data());
            worst = std::max(worst, PcmDeviation(a, ref));
        }
    }
    std::printf("  inverse DCT: largest output deviation %d\n", worst);
    EXPECT_LE(worst, 1);
}

TEST(AudioTransform, InverseRealDftMatchesDefinitionWithinOneAfterRounding) {
    std::mt19937 rng(13);
    int worst = 0;
    for (uint32_t n : {512u, 1024u, 2048u, 4096u}) {
        Tables tables(n, false);
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<float> a = RandomBlock(n, rng, trial < 3 ? 2000.0f : 60000.0f);
            const std::vector<double> ref = DirectRealDft(a);
            InverseRealDft(tables.t, a.data());
            worst = std::max(worst, PcmDeviation(a, ref));
        }
    }
    std::printf("  inverse real DFT: largest output deviation %d\n", worst);
    EXPECT_LE(worst, 1);
}

// The swap list is the bit-reversal permutation: every index moves at most
// once, to its reversed index, and the list fits the table it is kept in.
TEST(AudioTransform, SwapListIsTheBitReversal) {
    for (uint32_t n = 8; n <= kMaxTransformLength; n *= 2) {
        Tables tables(n, false);
        const uint32_t p = n / 2;
        uint32_t bits = 0;
        while ((1u << bits) < p) ++bits;
        std::vector<uint32_t> order(p);
        for (uint32_t i = 0; i < p; ++i) order[i] = i;
        ASSERT_LE(2 * tables.t.swap_count, BitReverseEntries(n));
        std::vector<int> moved(p, 0);
        for (uint32_t k = 0; k < tables.t.swap_count; ++k) {
            const uint32_t i = tables.bit_reverse[2 * k], r = tables.bit_reverse[2 * k + 1];
            ASSERT_LT(i, r);
            ASSERT_LT(r, p);
            ++moved[i];
            ++moved[r];
            std::swap(order[i], order[r]);
        }
        uint32_t expected_swaps = 0;
        for (uint32_t i = 0; i < p; ++i) {
            uint32_t r = 0;
            for (uint32_t b = 0; b < bits; ++b)
                if (i & (1u << b)) r |= 1u << (bits - 1 - b);
            EXPECT_EQ(order[i], r) << "n " << n << " index " << i;
            EXPECT_LE(moved[i], 1);
            expected_swaps += r > i;
        }
        EXPECT_EQ(tables.t.swap_count, expected_swaps) << n;
    }
}

TEST(AudioTransform, CosineTableFollowsItsDefinition) {
    Tables dct(1024, true);
    const uint32_t nc = 1024, h = nc / 2;
    const double delta = (kPi / 4) / h;
    EXPECT_FLOAT_EQ(dct.cosines[0], static_cast<float>(std::cos(kPi / 4)));
    EXPECT_FLOAT_EQ(dct.cosines[h], static_cast<float>(0.5 * std::cos(kPi / 4)));
    EXPECT_FLOAT_EQ(dct.cosines[5], static_cast<float>(0.5 * std::cos(5 * delta)));
    EXPECT_FLOAT_EQ(dct.cosines[nc - 5], static_cast<float>(0.5 * std::sin(5 * delta)));
    Tables dft(1024, false);
    EXPECT_EQ(dft.t.cosine_count, 256u);
}

}  // namespace
}  // namespace vemo::audio
