#include "block_coder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "vemo/encoder.h"
#include "vemo/video_tables.h"
#include "vemo/video_writer.h"

namespace vemo::encode {

namespace {

// Rounding offsets of the quantiser: the DC to nearest, the others a little
// towards zero (a plain rounding spends bits on values that barely pay).
constexpr float kIntraBias = 0.38f;
constexpr float kInterBias = 0.30f;
// Quantisers tried around the frame's: a block may take a finer or coarser one.
constexpr int kQuantiserSpread = 1;
// A lone coefficient of size 1 is dropped when keeping it would improve the
// squared error by less than lambda times this many bits.
constexpr float kLoneOneBits = 5.0f;
// Bits a DC value takes in its bundle, on average (groups of differences).
constexpr float kIntraDcBits = 5.0f, kInterDcBits = 4.0f;
// A type that repeats the one before it is counted at this share of its
// symbol's bits: runs of one type are sent as repeat symbols.
constexpr float kRepeatShare = 0.6f;
// Bits of a pattern block's eight rows (two pattern symbols each).
constexpr float kPatternRowBits = 8.0f;

void Load(const PlaneView& v, int x, int y, uint8_t out[64]) {
    for (int r = 0; r < 8; ++r) std::memcpy(out + r * 8, v.At(x, y + r), 8);
}

// Levels of an orthonormal transform under quantiser steps (given as their
// reciprocals).
void Quantise(const float dct[64], const float* inverse_steps, bool inter, int16_t coef[64]) {
    const float ac_bias = inter ? kInterBias : kIntraBias;
    float m[64];
    for (int i = 0; i < 64; ++i)
        m[i] = std::min(std::fabs(dct[i]) * inverse_steps[i] + ac_bias, 16383.0f);
    m[0] += 0.5f - ac_bias;  // the DC rounds to nearest
    for (int i = 0; i < 64; ++i) {
        const int level = static_cast<int>(m[i]);  // m >= 0: truncation is the floor
        coef[i] = static_cast<int16_t>(dct[i] < 0 ? -level : level);
    }
    coef[0] = static_cast<int16_t>(inter ? std::clamp<int>(coef[0], -1023, 1023)
                                         : std::clamp<int>(coef[0], 0, 2047));
}

// Drops the coefficients of size 1 whose squared error gain is below
// `worth` (orthonormal units); true when any was dropped.
bool DropLoneOnes(const float dct[64], const float* steps, float worth, int16_t coef[64]) {
    bool dropped = false;
    for (int i = 1; i < 64; ++i) {
        if (coef[i] != 1 && coef[i] != -1) continue;
        const float x = std::fabs(dct[i]), s = steps[i];
        // Error as 0 minus error as 1: x^2 - (x - s)^2.
        if (x * x - (x - s) * (x - s) < worth) {
            coef[i] = 0;
            dropped = true;
        }
    }
    return dropped;
}

}  // namespace

PlaneRates EvenOffsetRates(const PlaneRates& rates) {
    PlaneRates even = rates;
    float x = 0, y = 0;
    for (int i = 0; i < 16; ++i) {
        x += rates.offset_x[i] / 16;
        y += rates.offset_y[i] / 16;
    }
    std::fill(std::begin(even.offset_x), std::end(even.offset_x), x);
    std::fill(std::begin(even.offset_y), std::end(even.offset_y), y);
    return even;
}

BlockCoder::BlockCoder(const PlaneJob& job)
    : job_(job),
      search_(job.ref ? job.ref->p : nullptr, job.ref ? static_cast<int>(job.ref->w) : 0,
              job.ref ? static_cast<int>(job.ref->h) : 0, job.range, std::sqrt(job.lambda),
              job.rates.offset_x, job.rates.offset_y),
      sse_(ActiveBlockKernels().sse),
      q_(job.q),
      lambda_(job.lambda) {
    search_.set_exhaustive(job.block_sums);
    for (int q = 0; q < 16; ++q) {
        intra_rows_[q] = video::IntraQuantTable()[q];
        inter_rows_[q] = video::InterQuantTable()[q];
    }
}

void BlockCoder::UseBlock(uint32_t bx, uint32_t by) {
    const size_t i = size_t{by} * job_.bw + bx;
    q_ = job_.block_q ? job_.block_q[i] : job_.q;
    lambda_ = job_.block_lambda ? job_.block_lambda[i] : job_.lambda;
}

void BlockCoder::Lock(int x, int y) {
    lock_x_ = x;
    lock_y_ = y;
    search_.Lock(x, y);
}

float BlockCoder::TypeBits(uint8_t type) const {
    return type == previous_type_ ? job_.rates.type[type] * kRepeatShare : job_.rates.type[type];
}

float BlockCoder::OffsetBits(int dx, int dy) const {
    return (lock_x_ == MotionSearch::kFree ? job_.rates.offset_x[std::abs(dx)] : 0.0f) +
           (lock_y_ == MotionSearch::kFree ? job_.rates.offset_y[std::abs(dy)] : 0.0f);
}

float BlockCoder::ScaledIntra(const uint8_t area[256], int16_t coef[64], uint8_t* q_out,
                              uint8_t recon[256]) const {
    // The transform codes the means of the 2x2 squares; each output sample
    // is drawn as a 2x2 square.
    int values[64];
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const uint8_t* p = area + r * 32 + c * 2;
            values[r * 8 + c] = (p[0] + p[1] + p[16] + p[17] + 2) / 4;
        }
    float dct[64];
    ForwardDct(values, dct);
    // Two type symbols: the upper half and the lower half a row below.
    const float header = 2 * job_.rates.type[kBlockScaled] + 2 + kIntraDcBits + 4;
    float best = 1e30f;
    for (int q = std::max(q_ - kQuantiserSpread, 0); q <= std::min(q_ + kQuantiserSpread, 15);
         ++q) {
        int16_t levels[64];
        uint8_t small[64], drawn[256];
        Quantise(dct, InverseQuantiserSteps(false, q), false, levels);
        video::InverseTransform(levels, intra_rows_[q], small);
        for (int i = 0; i < 256; ++i) drawn[i] = small[(i / 32) * 8 + (i % 16) / 2];
        const float cost =
            static_cast<float>(sse_(area, 16, drawn, 16) + sse_(area + 8, 16, drawn + 8, 16) +
                               sse_(area + 128, 16, drawn + 128, 16) +
                               sse_(area + 136, 16, drawn + 136, 16)) +
            lambda_ * (header + static_cast<float>(CoefficientBits(levels)));
        if (cost < best) {
            best = cost;
            std::memcpy(coef, levels, sizeof levels);
            std::memcpy(recon, drawn, sizeof drawn);
            *q_out = static_cast<uint8_t>(q);
        }
    }
    return best;
}

void BlockCoder::Consider(Block& best, uint8_t type, int dx, int dy, const uint8_t recon[64],
                          float cost) {
    if (cost >= best.cost) return;
    best.type = type;
    best.dx = static_cast<int8_t>(dx);
    best.dy = static_cast<int8_t>(dy);
    std::memcpy(best.recon, recon, 64);
    best.cost = cost;
}

void BlockCoder::TryFill(const uint8_t t[64], Block& best) {
    int sum = 0;
    for (int i = 0; i < 64; ++i) sum += t[i];
    uint8_t flat[64];
    std::memset(flat, (sum + 32) / 64, 64);
    const float cost = static_cast<float>(sse_(t, 8, flat, 8)) +
                       lambda_ * (TypeBits(kBlockFill) + job_.rates.colour);
    if (cost < best.cost) {
        Consider(best, kBlockFill, 0, 0, flat, cost);
        best.c0 = flat[0];
    }
}

void BlockCoder::TryPattern(const uint8_t t[64], Block& best) {
    const float bits = TypeBits(kBlockPattern) + 2 * job_.rates.colour + 8 * kPatternRowBits;
    if (lambda_ * bits >= best.cost) return;
    int lo = 255, hi = 0;
    for (int i = 0; i < 64; ++i) {
        lo = std::min<int>(lo, t[i]);
        hi = std::max<int>(hi, t[i]);
    }
    if (lo == hi) return;
    int c0 = lo, c1 = hi;
    bool one[64];
    for (int iter = 0; iter < 4; ++iter) {
        int s0 = 0, n0 = 0, s1 = 0, n1 = 0;
        for (int i = 0; i < 64; ++i) {
            one[i] = std::abs(t[i] - c1) < std::abs(t[i] - c0);
            (one[i] ? s1 : s0) += t[i];
            ++(one[i] ? n1 : n0);
        }
        if (n0) c0 = (s0 + n0 / 2) / n0;
        if (n1) c1 = (s1 + n1 / 2) / n1;
    }
    uint8_t recon[64], rows[8] = {};
    for (int i = 0; i < 64; ++i) {
        recon[i] = static_cast<uint8_t>(one[i] ? c1 : c0);
        if (one[i]) rows[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    const float cost = static_cast<float>(sse_(t, 8, recon, 8)) + lambda_ * bits;
    if (cost < best.cost) {
        Consider(best, kBlockPattern, 0, 0, recon, cost);
        best.c0 = static_cast<uint8_t>(c0);
        best.c1 = static_cast<uint8_t>(c1);
        std::memcpy(best.pattern, rows, 8);
    }
}

// Squared error plus lambda times the coefficient bits of one transform
// block (intra when moved is null); recon gets what the decoder draws.
float BlockCoder::TransformCost(const uint8_t t[64], const uint8_t* moved, const int16_t coef[64],
                                int q, uint8_t recon[64]) const {
    if (moved) {
        uint8_t add[64];
        video::InverseTransform(coef, inter_rows_[q], add);
        for (int i = 0; i < 64; ++i) recon[i] = static_cast<uint8_t>(moved[i] + add[i]);
    } else {
        video::InverseTransform(coef, intra_rows_[q], recon);
    }
    return static_cast<float>(sse_(t, 8, recon, 8)) +
           lambda_ * static_cast<float>(CoefficientBits(coef) + 4);
}

// Transform coding of the block (intra) or of its difference from the moved
// reference block (inter), at the frame's quantiser and its neighbours.
void BlockCoder::TryTransform(const uint8_t t[64], const uint8_t* moved, int dx, int dy,
                              Block& best) {
    const bool inter = moved != nullptr;
    const float header = inter ? TypeBits(kBlockInter) + OffsetBits(dx, dy) + kInterDcBits
                               : TypeBits(kBlockIntra) + kIntraDcBits;
    if (lambda_ * (header + 8) >= best.cost) return;
    int values[64];
    for (int i = 0; i < 64; ++i) values[i] = t[i] - (inter ? moved[i] : 0);
    float dct[64];
    ForwardDct(values, dct);
    for (int q = std::max(q_ - kQuantiserSpread, 0); q <= std::min(q_ + kQuantiserSpread, 15);
         ++q) {
        const float* steps = QuantiserSteps(inter, q);
        int16_t coef[2][64];
        uint8_t recon[64];
        Quantise(dct, InverseQuantiserSteps(inter, q), inter, coef[0]);
        std::memcpy(coef[1], coef[0], sizeof coef[0]);
        const int tries = DropLoneOnes(dct, steps, lambda_ * kLoneOneBits, coef[1]) ? 2 : 1;
        for (int k = 0; k < tries; ++k) {
            const float cost = TransformCost(t, moved, coef[k], q, recon) + lambda_ * header;
            if (cost < best.cost) {
                Consider(best, inter ? kBlockInter : kBlockIntra, dx, dy, recon, cost);
                std::memcpy(best.coef, coef[k], sizeof coef[k]);
                best.q = static_cast<uint8_t>(q);
            }
        }
    }
}

void BlockCoder::RefineLevels(const uint8_t t[64], const uint8_t* moved, Block& best) const {
    // Each coefficient of size 1 or 2, the last in scan order first, is
    // moved one step towards zero where that costs less: the bits it saves
    // may be worth more than the error it adds. (A larger one saves a bit
    // or so at most, which seldom pays for a whole step of error.)
    uint8_t recon[64];
    const float header = best.cost - TransformCost(t, moved, best.coef, best.q, recon);
    float cost = best.cost;
    for (int k = 63; k >= 1; --k) {
        int16_t& c = best.coef[kCoefficientScan[k]];
        if (c == 0 || c > 2 || c < -2) continue;
        const int16_t kept = c;
        c = static_cast<int16_t>(c > 0 ? c - 1 : c + 1);
        const float trial = TransformCost(t, moved, best.coef, best.q, recon) + header;
        if (trial < cost) {
            cost = trial;
            std::memcpy(best.recon, recon, 64);
        } else {
            c = kept;
        }
    }
    best.cost = cost;
}

void BlockCoder::TryResidue(const uint8_t t[64], const uint8_t moved[64], int dx, int dy,
                            Block& best) {
    const float header = TypeBits(kBlockResidue) + OffsetBits(dx, dy) + 10;
    if (lambda_ * header >= best.cost) return;
    // The exact difference, and (thorough decisions) the difference rounded
    // to multiples of 2, 4, 8 and 16: the coding ends after its last change,
    // so the lower bit planes then cost nothing.
    for (int step = 1; step <= (job_.thorough ? 16 : 1); step *= 2) {
        int8_t res[64];
        uint8_t recon[64];
        for (int i = 0; i < 64; ++i) {
            const int d = t[i] - moved[i];
            // Nearest multiple of step towards zero on a tie, kept within
            // the samples (the sum wraps) and the signed byte.
            int r = (std::abs(d) + step / 2 - (step > 1)) / step * step;
            r = std::min(r, d < 0 ? moved[i] : 255 - moved[i]);
            r = std::min(r, 127) / step * step;
            res[i] = static_cast<int8_t>(d < 0 ? -r : r);
            recon[i] = static_cast<uint8_t>(moved[i] + res[i]);
        }
        const int changes = ResidueChanges(res);
        const float sse = static_cast<float>(sse_(t, 8, recon, 8));
        // Every change takes at least one bit.
        if (changes > 128 || sse + lambda_ * (header + static_cast<float>(changes)) >= best.cost)
            continue;
        BitWriter bits;
        if (!WriteResidue(bits, res)) continue;
        const float cost = sse + lambda_ * (header - 10 + static_cast<float>(bits.BitCount()));
        if (cost < best.cost) {
            Consider(best, kBlockResidue, dx, dy, recon, cost);
            std::memcpy(best.residue, res, sizeof res);
        }
    }
}

int BlockCoder::Candidates(uint32_t bx, uint32_t by, MotionVector* out) const {
    int n = 0;
    const uint32_t bw = job_.bw, bh = job_.bh;
    auto here = [&](uint32_t x, uint32_t y) { return job_.field[y * bw + x]; };
    auto before = [&](uint32_t x, uint32_t y) { return job_.previous[y * bw + x]; };
    if (bx > 0) out[n++] = here(bx - 1, by);
    // The row above is decided first within the same pair of rows.
    if (by & 1) {
        out[n++] = here(bx, by - 1);
        if (bx + 1 < bw) out[n++] = here(bx + 1, by - 1);
    }
    out[n++] = before(bx, by);
    if (bx + 1 < bw) out[n++] = before(bx + 1, by);
    if (by + 1 < bh) out[n++] = before(bx, by + 1);
    if (bx > 0) out[n++] = before(bx - 1, by);
    if (by > 0) out[n++] = before(bx, by - 1);
    if (job_.luma) {
        // Chroma: this frame's luma vectors over the same area, halved.
        for (uint32_t j = 0; j < 2; ++j)
            for (uint32_t i = 0; i < 2; ++i) {
                const uint32_t lx = std::min(bx * 2 + i, job_.luma_bw - 1);
                const uint32_t ly = std::min(by * 2 + j, job_.luma_bh - 1);
                const MotionVector v = job_.luma[ly * job_.luma_bw + lx];
                out[n++] = MotionVector{static_cast<int8_t>(v.x / 2), static_cast<int8_t>(v.y / 2)};
            }
    }
    return n;
}

void BlockCoder::TryCopies(const uint8_t t[64], int x, int y, MotionVector found,
                           const MotionVector* candidates, int count, Block& best) {
    // The search ranks offsets by absolute differences; a copy is judged by
    // its squared error, at the offset found, its neighbours and the
    // predicted offsets.
    const PlaneView& ref = *job_.ref;
    MotionVector tried[9 + 16];
    int n = 0;
    tried[n++] = found;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy)
                tried[n++] = MotionVector{static_cast<int8_t>(found.x + dx),
                                          static_cast<int8_t>(found.y + dy)};
    for (int i = 0; i < count; ++i) tried[n++] = candidates[i];
    for (int i = 0; i < n; ++i) {
        const MotionVector v = tried[i];
        if (!search_.Allowed(v.x, v.y) || std::find(tried, tried + i, v) != tried + i) continue;
        const float bits = TypeBits(kBlockMotion) + OffsetBits(v.x, v.y);
        if (lambda_ * bits >= best.cost) continue;
        const float cost = static_cast<float>(sse_(t, 8, ref.At(x + v.x, y + v.y),
                                                   static_cast<ptrdiff_t>(ref.w))) +
                           lambda_ * bits;
        if (cost >= best.cost) continue;
        uint8_t moved[64];
        Load(ref, x + v.x, y + v.y, moved);
        Consider(best, kBlockMotion, v.x, v.y, moved, cost);
    }
}

void BlockCoder::TryInterBlocks(const uint8_t t[64], uint32_t bx, uint32_t by, Block& best) {
    const PlaneView& ref = *job_.ref;
    const int x = static_cast<int>(bx * 8), y = static_cast<int>(by * 8);
    const uint32_t skip_sse = sse_(t, 8, ref.At(x, y), static_cast<ptrdiff_t>(ref.w));
    uint8_t same[64];
    Load(ref, x, y, same);
    if (skip_sse == 0) {
        // A block equal to the one it would keep is always left alone: no
        // other type draws it better, and a left block is neither decoded
        // nor blitted again, whatever the skip code costs this frame.
        Consider(best, kBlockSkip, 0, 0, same, 0.0f);
        job_.field[by * job_.bw + bx] = MotionVector{};
        return;
    }
    Consider(best, kBlockSkip, 0, 0, same,
             static_cast<float>(skip_sse) + lambda_ * TypeBits(kBlockSkip));
    MotionVector candidates[16];
    const int count = Candidates(bx, by, candidates);
    uint32_t sad = 0;
    const MotionVector mv = search_.Find(t, x, y, candidates, count, &sad);
    job_.field[by * job_.bw + bx] = mv;
    // Nothing else can pay for its extra bits.
    if (skip_sse <= lambda_ || !search_.found()) return;
    uint8_t moved[64];
    Load(ref, x + mv.x, y + mv.y, moved);
    if (job_.thorough) {
        TryCopies(t, x, y, mv, candidates, count, best);
    } else {
        Consider(best, kBlockMotion, mv.x, mv.y, moved,
                 static_cast<float>(sse_(t, 8, moved, 8)) +
                     lambda_ * (TypeBits(kBlockMotion) + OffsetBits(mv.x, mv.y)));
    }
    TryResidue(t, moved, mv.x, mv.y, best);
    TryTransform(t, moved, mv.x, mv.y, best);
}

Block BlockCoder::Decide(uint32_t bx, uint32_t by, bool raw_allowed) {
    UseBlock(bx, by);
    uint8_t target[64];
    Load(job_.src, static_cast<int>(bx * 8), static_cast<int>(by * 8), target);
    Block best;
    best.type = kBlockRaw;
    std::memcpy(best.recon, target, 64);
    best.cost = raw_allowed ? lambda_ * (TypeBits(kBlockRaw) + 64 * job_.rates.colour) : 1e30f;
    if (job_.ref) {
        TryInterBlocks(target, bx, by, best);
        if (best.type == kBlockSkip && best.cost <= lambda_ * 2) return best;
    } else {
        job_.field[by * job_.bw + bx] = MotionVector{};
    }
    TryFill(target, best);
    TryPattern(target, best);
    TryTransform(target, nullptr, 0, 0, best);
    if (!job_.thorough) return best;
    if (best.type == kBlockInter) {
        uint8_t moved[64];
        Load(*job_.ref, static_cast<int>(bx * 8) + best.dx, static_cast<int>(by * 8) + best.dy,
             moved);
        RefineLevels(target, moved, best);
    } else if (best.type == kBlockIntra) {
        RefineLevels(target, nullptr, best);
    }
    return best;
}

}  // namespace vemo::encode
