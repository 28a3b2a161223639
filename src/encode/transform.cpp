// The encoder's view of the transform: the decoder's quantiser tables and
// inverse transform (so the encoder predicts exactly what is drawn), and a
// forward transform that the encoder quantises.
#include <cmath>
#include <mutex>

#include "vemo/encoder.h"
#include "vemo/video_tables.h"

namespace vemo {

namespace {

struct Basis {
    double basis[8][8];  // C(u) / 2 * cos((2i + 1) u pi / 16)
};

const Basis& GetBasis() {
    static Basis tables;
    static std::once_flag once;
    std::call_once(once, [] {
        const double pi = std::acos(-1.0);
        for (int u = 0; u < 8; ++u)
            for (int i = 0; i < 8; ++i)
                tables.basis[u][i] =
                    (u == 0 ? std::sqrt(0.5) : 1.0) / 2 * std::cos((2 * i + 1) * u * pi / 16);
    });
    return tables;
}

}  // namespace

uint32_t IntraQuantiser(int q, int index) {
    return video::IntraQuantTable()[q & 15][index & 63];
}
uint32_t InterQuantiser(int q, int index) {
    return video::InterQuantTable()[q & 15][index & 63];
}

void InverseTransform(const int16_t coef[64], const uint32_t table_row[64], uint8_t out[64]) {
    video::InverseTransform(coef, table_row, out);
}

void ForwardTransform(const int values[64], int q, bool inter, int16_t coef[64]) {
    const uint32_t* table =
        inter ? video::InterQuantTable()[q & 15] : video::IntraQuantTable()[q & 15];
    const Basis& t = GetBasis();
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
