#include "rate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "vemo/video_tables.h"
#include "vemo/video_writer.h"

namespace vemo::encode {

namespace {

int TopBit(int v) {
    int b = -1;
    for (; v; v >>= 1) ++b;
    return b;
}

// The magnitudes of a block in scan order, with the largest of each group
// of four (every span the list tests longer than one starts a group).
struct Magnitudes {
    int mag[64];
    int group[16];
    bool AnyAtLeast(int from, int count, int threshold) const {
        if (count == 1) return mag[from] >= threshold;
        for (int g = from / 4; g < (from + count) / 4 && g < 16; ++g)
            if (group[g] >= threshold) return true;
        return false;
    }
};

// One pass of the significance list as the reader walks it; returns the bits.
int CountPass(uint8_t (&entry)[256], int& first, int& last, const Magnitudes& m, int bits) {
    const int* mag = m.mag;
    const int threshold = 1 << bits;
    const int value_bits = bits + 1;  // magnitude below the top bit, and the sign
    int n = 0;
    auto group = [&](int c) {
        for (int k = c; k < c + 4; ++k) {
            ++n;
            if (mag[k] >= threshold) {
                n += value_bits;
            } else {
                entry[--first] = static_cast<uint8_t>(k * 4 + 3);
            }
        }
    };
    for (int i = first; i < last;) {
        const int e = entry[i];
        if (e == 0) {
            ++i;
            continue;
        }
        const int c = e >> 2, mode = e & 3;
        const int span = mode == 0 ? 20 : mode == 1 ? 16 : mode == 2 ? 4 : 1;
        ++n;
        if (!m.AnyAtLeast(c, span, threshold)) {
            ++i;
            continue;
        }
        if (mode == 0) {
            entry[i] = static_cast<uint8_t>((c + 4) * 4 + 1);
            group(c);
        } else if (mode == 1) {
            entry[i] = static_cast<uint8_t>(c * 4 + 2);
            entry[last++] = static_cast<uint8_t>((c + 4) * 4 + 2);
            entry[last++] = static_cast<uint8_t>((c + 8) * 4 + 2);
            entry[last++] = static_cast<uint8_t>((c + 12) * 4 + 2);
        } else {
            entry[i++] = 0;
            if (mode == 2) {
                group(c);
            } else {
                n += value_bits;
            }
        }
    }
    return n;
}

// Bits of each symbol under the tree ChooseCodeTree picks for counts.
void SymbolBits(const std::array<uint32_t, 16>& counts, float out[16]) {
    const ChosenTree chosen = ChooseCodeTree(counts);
    for (int c = 0; c < 16; ++c) out[chosen.tree.map[c]] = CodeOf(chosen.tree.set, c).length;
}

}  // namespace

int CoefficientBits(const int16_t coef[64]) {
    Magnitudes m;
    m.mag[0] = 0;
    int largest = 0;
    for (int k = 1; k < 64; ++k) {
        m.mag[k] = std::abs(int{coef[kCoefficientScan[k]]});
        largest = std::max(largest, m.mag[k]);
    }
    if (largest == 0) return 4;  // the pass count alone
    for (int g = 0; g < 16; ++g)
        m.group[g] = std::max(std::max(m.mag[4 * g], m.mag[4 * g + 1]),
                              std::max(m.mag[4 * g + 2], m.mag[4 * g + 3]));
    const int top = TopBit(largest);
    uint8_t entry[256] = {};
    int first = 128, last = 128;
    for (int v : {4 * 4, 24 * 4, 44 * 4, 1 * 4 + 3, 2 * 4 + 3, 3 * 4 + 3})
        entry[last++] = static_cast<uint8_t>(v);
    int n = 4;
    for (int bits = top; bits >= 0; --bits) n += CountPass(entry, first, last, m, bits);
    return n;
}

PlaneRates DefaultRates() {
    PlaneRates r;
    for (int i = 0; i < 16; ++i) {
        r.type[i] = 4;
        r.offset_x[i] = r.offset_y[i] = i ? 5.0f : 4.0f;
    }
    r.colour = 8;
    return r;
}

PlaneRates RatesFrom(const PlaneCounts& counts) {
    PlaneRates r;
    SymbolBits(counts.types, r.type);
    SymbolBits(counts.offset_x, r.offset_x);
    SymbolBits(counts.offset_y, r.offset_y);
    for (int i = 1; i < 16; ++i) {
        r.offset_x[i] += 1;
        r.offset_y[i] += 1;
    }
    r.colour = 8;
    if (counts.colours > 0) {
        uint64_t bits = ChooseCodeTree(counts.colour_low).bits;
        for (const auto& high : counts.colour_high) bits += ChooseCodeTree(high).bits;
        r.colour =
            std::clamp(static_cast<float>(bits) / static_cast<float>(counts.colours), 2.0f, 8.5f);
    }
    return r;
}

namespace {

struct TransformTables {
    float basis[8][8];       // C(u) / 2 cos((2i + 1) u pi / 16)
    float steps[2][16][64];  // [inter][q][natural index]
    float inverse[2][16][64];
};

const TransformTables& Tables() {
    static TransformTables t;
    static std::once_flag once;
    std::call_once(once, [] {
        const double pi = std::acos(-1.0);
        double a[8];
        for (int u = 0; u < 8; ++u) {
            a[u] = u == 0 ? 1.0 : std::sqrt(2.0) * std::cos(u * pi / 16);
            for (int i = 0; i < 8; ++i)
                t.basis[u][i] = static_cast<float>((u == 0 ? std::sqrt(0.5) : 1.0) / 2 *
                                                   std::cos((2 * i + 1) * u * pi / 16));
        }
        // A coefficient c is drawn as c * table / 2048 through the scaled
        // butterfly: one unit of c is worth table / (65536 a(u) a(v)) of the
        // orthonormal coefficient.
        for (int inter = 0; inter < 2; ++inter)
            for (int q = 0; q < 16; ++q)
                for (int i = 0; i < 64; ++i) {
                    const uint32_t entry =
                        inter ? video::InterQuantTable()[q][i] : video::IntraQuantTable()[q][i];
                    const double step = entry / (65536.0 * a[i / 8] * a[i % 8]);
                    t.steps[inter][q][i] = static_cast<float>(step);
                    t.inverse[inter][q][i] = static_cast<float>(1 / step);
                }
    });
    return t;
}

}  // namespace

void ForwardDct(const int values[64], float out[64]) {
    const TransformTables& t = Tables();
    float rows[8][8];
    for (int i = 0; i < 8; ++i)
        for (int v = 0; v < 8; ++v) {
            float sum = 0;
            for (int j = 0; j < 8; ++j)
                sum += t.basis[v][j] * static_cast<float>(values[i * 8 + j]);
            rows[i][v] = sum;
        }
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            float f = 0;
            for (int i = 0; i < 8; ++i) f += t.basis[u][i] * rows[i][v];
            out[u * 8 + v] = f;
        }
}

const float* QuantiserSteps(bool inter, int q) {
    return Tables().steps[inter ? 1 : 0][q & 15];
}

const float* InverseQuantiserSteps(bool inter, int q) {
    return Tables().inverse[inter ? 1 : 0][q & 15];
}

}  // namespace vemo::encode
