// What the encoder's decisions cost: the bits of a coefficient list, the
// bits of bundle symbols under the code trees a plane's statistics give, and
// the orthonormal transform with the step each quantiser gives a coefficient.
#pragma once

#include <array>
#include <cstdint>

namespace vemo::encode {

// The bits WriteCoefficients writes for coefficients 1-63 of coef, counted
// without writing them.
int CoefficientBits(const int16_t coef[64]);

// Symbols of one plane's bundles as a frame used them.
struct PlaneCounts {
    std::array<uint32_t, 16> types{};
    std::array<uint32_t, 16> offset_x{}, offset_y{};         // offset sizes
    std::array<std::array<uint32_t, 16>, 16> colour_high{};  // by previous high nibble
    std::array<uint32_t, 16> colour_low{};
    uint32_t colours = 0;
    void AddColour(uint8_t c, int& previous_high) {
        ++colour_high[previous_high][c >> 4];
        ++colour_low[c & 15];
        previous_high = c >> 4;
        ++colours;
    }
};

// Bits per symbol under the trees that counts would choose (a symbol the
// counts never saw gets the tree's code for it all the same).
struct PlaneRates {
    float type[16];
    float offset_x[16], offset_y[16];  // sign bit included
    float colour;                      // average over the colours counted
};
PlaneRates RatesFrom(const PlaneCounts& counts);
// Rates before any statistics: 4-bit types and offsets, 8-bit colours.
PlaneRates DefaultRates();

// Orthonormal 2-D DCT of an 8x8 block (row-major).
void ForwardDct(const int values[64], float out[64]);
// Steps of quantiser q (0-15): one unit of coefficient i is drawn as
// steps[i] units of the orthonormal transform.
const float* QuantiserSteps(bool inter, int q);
// 1 / QuantiserSteps(inter, q)[i].
const float* InverseQuantiserSteps(bool inter, int q);

}  // namespace vemo::encode
