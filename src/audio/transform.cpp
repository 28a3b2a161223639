#include "transform.h"

#include <cmath>
#include <cstring>

#include "vemo/cpu.h"

namespace vemo::audio {

namespace {

constexpr double kPi = 3.14159265358979323846;

unsigned Log2(uint32_t n) {
    unsigned bits = 0;
    while ((1u << bits) < n) ++bits;
    return bits;
}

template <bool kPositive>
void FirstStages(const TransformTables& t, float* a);
template <bool kPositive>
void Stages(const TransformTables& t, float* a);

// Radix-2 decimation in time on bit-reversed input. The first two stages
// have trivial twiddles and run as one radix-4 pass.
template <bool kPositive>
void Fft(const TransformTables& t, float* a) {
    const uint32_t p = t.points;
    const uint16_t* swap = t.bit_reverse;
    for (uint32_t k = 0; k < t.swap_count; ++k, swap += 2) {
        // Each complex value moves as one 8-byte unit.
        float* x = a + 2 * swap[0];
        float* y = a + 2 * swap[1];
        uint64_t u, v;
        std::memcpy(&u, x, 8);
        std::memcpy(&v, y, 8);
        std::memcpy(x, &v, 8);
        std::memcpy(y, &u, 8);
    }
    if (p < 4) return;
    const TransformKernels& kernels = ActiveTransformKernels();
    kernels.first_stages(t, a, kPositive);
    if (p >= 8) kernels.stages(t, a, kPositive);
}

// Stages of length 2 and 4 as one radix-4 pass: x0..x3 -> butterflies with
// w = 1 and +-i.
template <bool kPositive>
void FirstStages(const TransformTables& t, float* a) {
    for (uint32_t s = 0; s < t.points; s += 4) {
        float* x = a + 2 * s;
        const float ar = x[0] + x[2], ai = x[1] + x[3];
        const float br = x[0] - x[2], bi = x[1] - x[3];
        const float cr = x[4] + x[6], ci = x[5] + x[7];
        const float dr = x[4] - x[6], di = x[5] - x[7];
        // Twiddle of the second butterfly pair: w = e^(+-i pi / 2).
        const float er = kPositive ? -di : di;
        const float ei = kPositive ? dr : -dr;
        x[0] = ar + cr;
        x[1] = ai + ci;
        x[4] = ar - cr;
        x[5] = ai - ci;
        x[2] = br + er;
        x[3] = bi + ei;
        x[6] = br - er;
        x[7] = bi - ei;
    }
}

CpuKernelTable<TransformKernels, FillTransformKernels> g_kernels;

}  // namespace

void PlainFftFirstStages(const TransformTables& t, float* a, bool positive) {
    if (positive)
        FirstStages<true>(t, a);
    else
        FirstStages<false>(t, a);
}

void PlainFftStages(const TransformTables& t, float* a, bool positive) {
    if (positive)
        Stages<true>(t, a);
    else
        Stages<false>(t, a);
}

void FillTransformKernels(TransformKernels& table, uint32_t flags) {
    table = {&PlainFftFirstStages, &PlainFftStages, &PlainDctRotate, &PlainDctFold,
             &PlainDctUnfold};
    if (!(flags & kCpuSse2)) return;
    if (const TransformKernels* sse2 = Sse2TransformKernels()) table = *sse2;
    if (!(flags & kCpuAvx2)) return;
    InstallAvx2TransformKernels(table);
    if (!(flags & kCpuAvx512)) return;
    InstallAvx512TransformKernels(table);
}

const TransformKernels& ActiveTransformKernels() {
    return g_kernels.Get();
}

namespace {

// Stages of length 8 .. points: each has its own run of twiddles (len / 2
// pairs of cos, sin of 2 pi k / len), read in order.
template <bool kPositive>
void Stages(const TransformTables& t, float* a) {
    const uint32_t p = t.points;
    const float* w = t.twiddle;
    for (uint32_t len = 8; len <= p; len <<= 1) {
        const uint32_t half = len / 2;
        for (uint32_t s = 0; s < p; s += len) {
            float* u = a + 2 * s;
            float* v = u + 2 * half;
            for (uint32_t k = 0; k < half; ++k) {
                const float wr = w[2 * k];
                const float wi = kPositive ? w[2 * k + 1] : -w[2 * k + 1];
                const float tr = wr * v[2 * k] - wi * v[2 * k + 1];
                const float ti = wr * v[2 * k + 1] + wi * v[2 * k];
                v[2 * k] = u[2 * k] - tr;
                v[2 * k + 1] = u[2 * k + 1] - ti;
                u[2 * k] += tr;
                u[2 * k + 1] += ti;
            }
        }
        w += 2 * half;
    }
}

}  // namespace

void BuildTransformTables(uint32_t length, bool dct, TransformTables* tables) {
    tables->length = length;
    tables->points = length / 2;
    const uint32_t p = tables->points;
    float* w = tables->twiddle;
    for (uint32_t len = 8; len <= p; len <<= 1) {
        for (uint32_t k = 0; k < len / 2; ++k) {
            const double angle = 2 * kPi * k / len;
            *w++ = static_cast<float>(std::cos(angle));
            *w++ = static_cast<float>(std::sin(angle));
        }
    }
    const unsigned bits = Log2(p);
    uint32_t swaps = 0;
    for (uint32_t i = 0; i < p; ++i) {
        uint32_t r = 0;
        for (unsigned b = 0; b < bits; ++b)
            if (i & (1u << b)) r |= 1u << (bits - 1 - b);
        if (r <= i) continue;
        tables->bit_reverse[2 * swaps] = static_cast<uint16_t>(i);
        tables->bit_reverse[2 * swaps + 1] = static_cast<uint16_t>(r);
        ++swaps;
    }
    tables->swap_count = swaps;
    // Cosine table of nc entries: c[0] = cos(pi/4), c[h] = c[0] / 2 and,
    // with d = (pi/4) / h, c[j] = cos(j d) / 2 and c[nc - j] = sin(j d) / 2.
    const uint32_t nc = CosineFloats(length, dct);
    tables->cosine_count = nc;
    float* c = tables->cosines;
    if (nc > 1) {
        const uint32_t h = nc / 2;
        const double delta = std::atan(1.0) / h;
        const double c0 = std::cos(delta * h);
        c[0] = static_cast<float>(c0);
        c[h] = static_cast<float>(0.5 * c0);
        for (uint32_t j = 1; j < h; ++j) {
            c[j] = static_cast<float>(0.5 * std::cos(delta * j));
            c[nc - j] = static_cast<float>(0.5 * std::sin(delta * j));
        }
    } else if (nc == 1) {
        c[0] = static_cast<float>(std::cos(kPi / 4));
    }
}

void ComplexFft(const TransformTables& tables, float* a, bool positive) {
    if (positive)
        Fft<true>(tables, a);
    else
        Fft<false>(tables, a);
}

void PlainDctRotate(const TransformTables& t, float* a) {
    PlainDctRotateFrom(t, a, 1);
}

void PlainDctRotateFrom(const TransformTables& t, float* a, uint32_t from) {
    const uint32_t n = t.length;
    const float* c = t.cosines;  // nc = n
    for (uint32_t j = from; j < n / 2; ++j) {
        const uint32_t k = n - j;
        const float wr = c[j] - c[n - j];
        const float wi = c[j] + c[n - j];
        const float xr = wi * a[j] - wr * a[k];
        a[j] = wr * a[j] + wi * a[k];
        a[k] = xr;
    }
}

void PlainDctFold(const TransformTables& t, float* a) {
    PlainDctFoldFrom(t, a, 2);
}

void PlainDctFoldFrom(const TransformTables& t, float* a, uint32_t from) {
    const uint32_t n = t.length;
    const float* c = t.cosines;
    for (uint32_t j = from; j < n / 2; j += 2) {
        const uint32_t k = n - j;
        const uint32_t tt = 2 * j;
        const float wr = 0.5f - c[n - tt];
        const float wi = c[tt];
        const float xr = a[j] - a[k];
        const float xi = a[j + 1] + a[k + 1];
        const float yr = wr * xr - wi * xi;
        const float yi = wr * xi + wi * xr;
        a[j] -= yr;
        a[j + 1] -= yi;
        a[k] += yr;
        a[k + 1] -= yi;
    }
}

void PlainDctUnfold(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const float d = a[0] - a[1];
    a[0] += a[1];
    for (uint32_t j = 2; j < n; j += 2) {
        a[j - 1] = a[j] - a[j + 1];
        a[j] += a[j + 1];
    }
    a[n - 1] = d;
}

void InverseDct(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const TransformKernels& kernels = ActiveTransformKernels();
    kernels.dct_rotate(t, a);
    a[n / 2] *= t.cosines[0];
    Fft<true>(t, a);
    // Real-spectrum post-processing.
    kernels.dct_fold(t, a);
    kernels.dct_unfold(t, a);
}

void InverseRealDft(const TransformTables& t, float* a) {
    const uint32_t n = t.length;
    const float* c = t.cosines;  // nc = n / 4
    const uint32_t nc = t.cosine_count;
    a[1] = 0.5f * (a[0] - a[1]);
    a[0] -= a[1];
    // Spectrum pre-processing.
    for (uint32_t j = 2; j < n / 2; j += 2) {
        const uint32_t k = n - j;
        const uint32_t tt = j / 2;
        const float wr = 0.5f - c[nc - tt];
        const float wi = c[tt];
        const float xr = a[j] - a[k];
        const float xi = a[j + 1] + a[k + 1];
        const float yr = wr * xr + wi * xi;
        const float yi = wr * xi - wi * xr;
        a[j] -= yr;
        a[j + 1] -= yi;
        a[k] += yr;
        a[k + 1] -= yi;
    }
    Fft<false>(t, a);
}

}  // namespace vemo::audio
