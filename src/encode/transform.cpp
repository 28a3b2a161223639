// Quantiser tables, the integer inverse transform as blocks are drawn, and a
// forward transform that the encoder quantises.
#include <cmath>
#include <mutex>

#include "vemo/encoder.h"

namespace vemo {

namespace {

constexpr uint8_t kIntraBase[64] = {16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27,
                                    27, 27, 26, 26, 26, 29, 29, 29, 27, 27, 27, 26, 34, 34, 34, 29,
                                    29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38, 37, 35, 35, 34,
                                    35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83};
constexpr uint8_t kInterBase[64] = {16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21,
                                    21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 23, 23, 23, 23,
                                    23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25, 26, 26, 26, 26,
                                    25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33};
constexpr double kScale[16] = {1, 4.0 / 3, 5.0 / 3, 2,  8.0 / 3, 3.5, 4,  5,
                               6, 8,       12,      17, 22,      28,  34, 44};

// Entries one above the rounded rule: {q, index}, ended by {-1}.
constexpr int8_t kIntraRaised[][2] = {
    {5, 33},  {6, 48},  {6, 53},  {7, 10},  {7, 21},  {7, 42},  {9, 8},   {9, 24},
    {9, 35},  {10, 25}, {10, 48}, {11, 2},  {11, 6},  {11, 20}, {11, 24}, {11, 28},
    {11, 33}, {11, 35}, {12, 37}, {12, 40}, {12, 51}, {12, 59}, {13, 2},  {13, 11},
    {13, 12}, {13, 20}, {13, 29}, {13, 31}, {13, 48}, {13, 60}, {14, 1},  {14, 10},
    {14, 11}, {14, 17}, {14, 18}, {14, 19}, {14, 21}, {14, 25}, {14, 26}, {14, 29},
    {14, 42}, {15, 21}, {15, 42}, {15, 44}, {15, 46}, {15, 48}, {-1, 0}};
constexpr int8_t kInterRaised[][2] = {
    {0, 18},  {1, 27},  {3, 33},  {4, 34},  {7, 18},  {8, 33},  {9, 34},  {9, 61},
    {10, 3},  {10, 37}, {10, 40}, {11, 13}, {11, 16}, {11, 18}, {11, 20}, {11, 25},
    {11, 43}, {12, 14}, {12, 19}, {12, 26}, {12, 30}, {12, 33}, {13, 43}, {13, 48},
    {13, 49}, {14, 10}, {14, 19}, {14, 22}, {14, 26}, {14, 33}, {14, 54}, {15, 12},
    {15, 17}, {15, 22}, {15, 25}, {15, 27}, {15, 41}, {15, 55}, {-1, 0}};

struct Tables {
    uint32_t intra[16][64];
    uint32_t inter[16][64];
    double basis[8][8];  // C(u) / 2 * cos((2i + 1) u pi / 16)
};

const Tables& GetTables() {
    static Tables tables;
    static std::once_flag once;
    std::call_once(once, [] {
        const double pi = std::acos(-1.0);
        double a[8];
        a[0] = 1;
        for (int k = 1; k < 8; ++k) a[k] = std::sqrt(2.0) * std::cos(k * pi / 16);
        for (int q = 0; q < 16; ++q) {
            for (int i = 0; i < 64; ++i) {
                const double f = kScale[q] * 4096 * a[i / 8] * a[i % 8];
                tables.intra[q][i] = static_cast<uint32_t>(std::floor(kIntraBase[i] * f + 0.5));
                tables.inter[q][i] = static_cast<uint32_t>(std::floor(kInterBase[i] * f + 0.5));
            }
        }
        for (int e = 0; kIntraRaised[e][0] >= 0; ++e)
            ++tables.intra[kIntraRaised[e][0]][kIntraRaised[e][1]];
        for (int e = 0; kInterRaised[e][0] >= 0; ++e)
            ++tables.inter[kInterRaised[e][0]][kInterRaised[e][1]];
        for (int u = 0; u < 8; ++u)
            for (int i = 0; i < 8; ++i)
                tables.basis[u][i] =
                    (u == 0 ? std::sqrt(0.5) : 1.0) / 2 * std::cos((2 * i + 1) * u * pi / 16);
    });
    return tables;
}

// Products and sums wrap modulo 2^32 as the drawing does; only the shifts
// read the words as signed.
inline uint32_t Sar(uint32_t v, int n) {
    return static_cast<uint32_t>(static_cast<int32_t>(v) >> n);
}
inline uint32_t Mul(uint32_t k, uint32_t x) {
    return Sar(x * k, 11);
}

void Butterfly(const uint32_t s[8], uint32_t o[8]) {
    const uint32_t a1k = 2896, a2k = 2217, a3k = 3784, a4k = static_cast<uint32_t>(-5352);
    const uint32_t a0 = s[0] + s[4], a1 = s[0] - s[4], a2 = s[2] + s[6];
    const uint32_t a3 = Mul(a1k, s[2] - s[6]) - a2;
    const uint32_t a4 = s[5] + s[3], a5 = s[5] - s[3], a6 = s[1] + s[7], a7 = s[1] - s[7];
    const uint32_t b0 = a4 + a6;
    const uint32_t b1 = Mul(a3k, a5 + a7);
    const uint32_t b2 = Mul(a4k, a5) - b0 + b1;
    const uint32_t b3 = Mul(a1k, a6 - a4) - b2;
    const uint32_t b4 = Mul(a2k, a7) + b3 - b1;
    o[0] = a0 + a2 + b0;
    o[1] = a1 + a3 + b2;
    o[2] = a1 - a3 + b3;
    o[3] = a0 - a2 - b4;
    o[4] = a0 - a2 + b4;
    o[5] = a1 - a3 - b3;
    o[6] = a1 + a3 - b2;
    o[7] = a0 + a2 - b0;
}

}  // namespace

uint32_t IntraQuantiser(int q, int index) {
    return GetTables().intra[q & 15][index & 63];
}
uint32_t InterQuantiser(int q, int index) {
    return GetTables().inter[q & 15][index & 63];
}

void InverseTransform(const int16_t coef[64], const uint32_t table_row[64], uint8_t out[64]) {
    uint32_t temp[64];
    for (int col = 0; col < 8; ++col) {
        uint32_t s[8], o[8];
        bool ac = false;
        for (int row = 0; row < 8; ++row) {
            const int i = row * 8 + col;
            s[row] = Sar(static_cast<uint32_t>(static_cast<int32_t>(coef[i])) * table_row[i], 11);
            if (row && coef[i]) ac = true;
        }
        if (!ac) {
            for (int row = 0; row < 8; ++row) temp[row * 8 + col] = s[0];
            continue;
        }
        Butterfly(s, o);
        for (int row = 0; row < 8; ++row) temp[row * 8 + col] = o[row];
    }
    for (int row = 0; row < 8; ++row) {
        uint32_t o[8];
        Butterfly(temp + row * 8, o);
        for (int col = 0; col < 8; ++col)
            out[row * 8 + col] = static_cast<uint8_t>(Sar(o[col] + 127, 8));
    }
}

void ForwardTransform(const int values[64], int q, bool inter, int16_t coef[64]) {
    const Tables& t = GetTables();
    const uint32_t* table = inter ? t.inter[q & 15] : t.intra[q & 15];
    double rows[8][8];  // horizontal transform of each row
    for (int i = 0; i < 8; ++i)
        for (int v = 0; v < 8; ++v) {
            double sum = 0;
            for (int j = 0; j < 8; ++j) sum += t.basis[v][j] * values[i * 8 + j];
            rows[i][v] = sum;
        }
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double f = 0;
            for (int i = 0; i < 8; ++i) f += t.basis[u][i] * rows[i][v];
            // A coefficient c is drawn as c * table / 2048 through the scaled
            // butterfly: one unit of c is worth table / (65536 a(u) a(v)),
            // that is base * scale / 16, of the plain orthonormal coefficient.
            const int i = u * 8 + v;
            const double a_u = u == 0 ? 1.0 : std::sqrt(2.0) * std::cos(u * std::acos(-1.0) / 16);
            const double a_v = v == 0 ? 1.0 : std::sqrt(2.0) * std::cos(v * std::acos(-1.0) / 16);
            const double step = table[i] / (65536.0 * a_u * a_v);
            const double x = f / step;
            // Round the DC to nearest, shrink the others a little towards 0.
            const double bias = i == 0 ? 0.5 : 0.38;
            double r = x >= 0 ? std::floor(x + bias) : -std::floor(-x + bias);
            if (r > 32767) r = 32767;
            if (r < -32767) r = -32767;
            coef[i] = static_cast<int16_t>(r);
        }
}

}  // namespace vemo
