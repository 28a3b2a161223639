// The video encoder: decides the blocks of each plane (pairs of block rows
// on several threads, the same result on any number), joins flat 16x16
// areas into scaled fills, writes the blocks in order, and keeps the planes
// exactly as they will be drawn. The rates of the next frame's decisions
// come from the code trees this frame's symbols give.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include "vemo/encoder.h"
#include "vemo/flags.h"
#include "vemo/frame_planes.h"
#include "vemo/video_writer.h"

#include "block_coder.h"

namespace vemo {

namespace encode {

// What the encoder carries from one frame to the next, per plane: the rates
// its code trees gave and its motion field.
struct EncoderState {
    PlaneRates rates[4];
    std::vector<MotionVector> field[4], previous[4];
    bool after_key[4] = {};  // the last frame was a key frame
    // The picture being encoded: its area step offsets (EncoderPicture), or
    // null.
    const float* area_offsets = nullptr;
};

}  // namespace encode

namespace {

using encode::Block;
using encode::BlockCoder;
using encode::MotionVector;
using encode::PlaneCounts;
using encode::PlaneJob;
using encode::PlaneView;

// Quality 1..100 to quantiser 15..0.
int QuantiserFor(int quality) {
    static const int kLimits[16] = {100, 97, 94, 91, 88, 85, 82, 79, 75, 70, 62, 52, 42, 32, 20, 0};
    quality = std::clamp(quality, 1, 100);
    for (int q = 0; q < 16; ++q)
        if (quality >= kLimits[q]) return q;
    return 15;
}

constexpr double kScaleOf[16] = {1, 4.0 / 3, 5.0 / 3, 2,  8.0 / 3, 3.5, 4,  5,
                                 6, 8,       12,      17, 22,      28,  34, 44};

// Lambda (squared error per bit) of quantiser q; each level past 15 weighs
// bits by another factor of the square root of 2.
float LambdaFor(int q) {
    const double step = 1.5 * kScaleOf[std::clamp(q, 0, 15)];
    return static_cast<float>(0.08 * step * step * std::exp2(0.5 * std::max(q - 15, 0)));
}

// The quantiser nearest (in ratio) to quantiser q's step scaled by 2^offset.
int ScaledQuantiser(int q, float offset) {
    static const auto kLog = [] {
        std::array<double, 16> log{};
        for (int c = 0; c < 16; ++c) log[c] = std::log2(kScaleOf[c]);
        return log;
    }();
    const double target = kLog[q & 15] + offset;
    int best = 0;
    for (int c = 1; c < 16; ++c)
        if (std::fabs(kLog[c] - target) < std::fabs(kLog[best] - target)) best = c;
    return best;
}

// The largest step offset a block takes either way (a factor of 16).
constexpr float kMostStepOffset = 4.0f;

// Per block of a plane (bw x bh; a chroma block covers one 16x16 area, a
// luma block a quarter of one) the quantiser and lambda its area's step
// offset gives: the quantiser nearest the scaled step, lambda scaled with
// the square of the step.
void BlockScales(const float* offsets, uint32_t areas_across, uint32_t areas_down, bool chroma,
                 int q, float lambda, uint32_t bw, uint32_t bh, std::vector<uint8_t>& block_q,
                 std::vector<float>& block_lambda) {
    block_q.resize(size_t{bw} * bh);
    block_lambda.resize(size_t{bw} * bh);
    const int shift = chroma ? 0 : 1;
    for (uint32_t by = 0; by < bh; ++by) {
        for (uint32_t bx = 0; bx < bw; ++bx) {
            const uint32_t ax = std::min(bx >> shift, areas_across - 1);
            const uint32_t ay = std::min(by >> shift, areas_down - 1);
            const float given = offsets[size_t{ay} * areas_across + ax];
            const float o =
                std::isfinite(given) ? std::clamp(given, -kMostStepOffset, kMostStepOffset) : 0.0f;
            block_q[size_t{by} * bw + bx] = static_cast<uint8_t>(ScaledQuantiser(q, o));
            block_lambda[size_t{by} * bw + bx] = lambda * std::exp2(2 * o);
        }
    }
}

// Pictures of up to this many luma samples get the more thorough search:
// an exhaustive motion search, rows that try holding an offset shared by a
// fifth of their vectors rather than half, the blocks of every inter frame
// decided twice (with the rates of their own trees the second time), and
// the thorough block decisions of PlaneJob. On small pictures it costs
// little, and each vector is a larger share of the picture.
constexpr uint32_t kThoroughSearchArea = 352 * 288;

// The sum of the 8x8 block at every position of a w x h plane (stride w;
// positions less than 8 from the right or bottom edge are left 0).
std::vector<uint16_t> BlockSums(const uint8_t* p, uint32_t w, uint32_t h) {
    std::vector<uint16_t> sums(size_t{w} * h, 0);
    if (w < 8 || h < 8) return sums;
    std::vector<uint16_t> columns(w);  // sums of 8 samples down, from row y
    for (uint32_t y = 0; y + 8 <= h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint16_t c = 0;
            for (uint32_t k = 0; k < 8; ++k) c = static_cast<uint16_t>(c + p[(y + k) * w + x]);
            columns[x] = c;
        }
        uint32_t run = 0;
        for (uint32_t x = 0; x < w; ++x) {
            run += columns[x];
            if (x >= 8) run -= columns[x - 8];
            if (x >= 7) sums[size_t{y} * w + x - 7] = static_cast<uint16_t>(run);
        }
    }
    return sums;
}

// Runs work(i) for i = 0 .. count - 1 on up to `threads` threads (this one
// included); the order of the calls does not matter to the result.
template <typename Work>
void RunParallel(uint32_t count, int threads, const Work& work) {
    const uint32_t extra = std::min<uint32_t>(static_cast<uint32_t>(std::max(threads, 1)) - 1,
                                              count > 0 ? count - 1 : 0);
    std::atomic<uint32_t> next{0};
    auto loop = [&] {
        for (uint32_t i; (i = next.fetch_add(1)) < count;) work(i);
    };
    std::vector<std::thread> pool;
    pool.reserve(extra);
    for (uint32_t t = 0; t < extra; ++t) {
        try {
            pool.emplace_back(loop);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the others do the work
        }
    }
    loop();
    for (std::thread& t : pool) t.join();
}

// The blocks chosen for a pair of block rows (rows[1] unused for a last,
// unpaired row) and, per column, whether a scaled fill starts there.
struct ScaledArea {
    uint8_t kind = 0;  // 0 none, kBlockFill or kBlockIntra
    uint8_t colour = 0, q = 0;
    int16_t coef[64] = {};
    uint8_t recon[256] = {};
};
struct RowPair {
    std::vector<Block> rows[2];
    std::vector<ScaledArea> scaled;
};

float BlockLambda(const PlaneJob& job, uint32_t bx, uint32_t by) {
    return job.block_lambda ? job.block_lambda[size_t{by} * job.bw + bx] : job.lambda;
}

uint32_t ColoursOf(const Block& b) {
    return b.type == kBlockRaw       ? 64u
           : b.type == kBlockPattern ? 2u
           : b.type == kBlockFill    ? 1u
                                     : 0u;
}

bool CarriesVector(const Block& b) {
    return b.type == kBlockMotion || b.type == kBlockInter || b.type == kBlockResidue;
}

// Bits of a row whose vectors all share one offset, beyond the length field
// that any fill of its values takes: the flag, the size and the sign.
constexpr float kHeldOffsetBits = 6;

// Decides block row y with the coder's present lock; the summed cost. With
// a base row, its blocks with `value` as their vector's offset on `axis`
// stay as they are, less that offset's bits. One colour fill must hold
// a row's colours (at most 32767, less than 4096 samples of raw blocks).
float DecideRow(BlockCoder& coder, const PlaneJob& job, uint32_t y, std::vector<Block>& row,
                const std::vector<Block>* base = nullptr, int axis = 0, int value = 0) {
    const uint32_t bw = static_cast<uint32_t>(row.size());
    const uint32_t colour_limit = std::min<uint32_t>(bw * 64 + 511, 32767);
    const float held_bits =
        axis ? job.rates.offset_y[std::abs(value)] : job.rates.offset_x[std::abs(value)];
    uint32_t colours = 0;
    float cost = 0;
    for (uint32_t c = 0; c < bw; ++c) {
        const Block* kept = base ? &(*base)[c] : nullptr;
        if (kept && CarriesVector(*kept) && (axis ? kept->dy : kept->dx) == value) {
            row[c] = *kept;
            row[c].cost -= BlockLambda(job, c, y) * held_bits;
        } else {
            coder.set_previous_type(c > 0 ? row[c - 1].type : 255);
            row[c] = coder.Decide(c, y, colours + 64 <= colour_limit);
        }
        colours += ColoursOf(row[c]);
        cost += row[c].cost;
    }
    return cost;
}

// The offsets (axis 0: horizontal, 1: vertical) that the most vectors of
// the row have, commonest first, up to `wanted` of them; share[i] of the
// *carried vectors have value[i]. Returns how many it found.
int CommonOffsets(const std::vector<Block>& row, int axis, int wanted, int value[], int share[],
                  int* carried) {
    int count[31] = {};
    *carried = 0;
    for (const Block& b : row) {
        if (!CarriesVector(b)) continue;
        ++count[(axis ? b.dy : b.dx) + 15];
        ++*carried;
    }
    int found = 0;
    for (; found < wanted; ++found) {
        int* most = std::max_element(count, count + 31);
        if (*most == 0) break;
        value[found] = static_cast<int>(most - count) - 15;
        share[found] = *most;
        *most = 0;
    }
    return found;
}

// A row tries holding each of its two commonest offsets on an axis (when
// that many vectors share it): where the motion falls between two whole
// samples, the vectors split between its neighbours and either may pay.
constexpr int kHoldTries = 2;

// Offsets a row holds (MotionSearch::kFree where it holds none).
struct HeldOffsets {
    int axis[2] = {encode::MotionSearch::kFree, encode::MotionSearch::kFree};
};

// Decides block row y, then tries it again with the vertical and then the
// horizontal offset of every vector held at one of the row's commonest ones
// (sent once for the row; tried when 1 / job.hold_share of the vectors have
// it) and keeps what costs least. An offset the row above holds as well goes on
// in that row's fill and costs nothing more. Returns what the row holds.
HeldOffsets DecideRowHeld(BlockCoder& coder, const PlaneJob& job, uint32_t y,
                          std::vector<Block>& row, const HeldOffsets& above) {
    float cost = DecideRow(coder, job, y, row);
    HeldOffsets held;
    if (!job.ref) return held;
    const uint32_t bw = static_cast<uint32_t>(row.size());
    MotionVector* field = job.field + size_t{y} * bw;
    std::vector<Block> trial(bw);
    std::vector<MotionVector> kept(field, field + bw);
    for (int axis : {1, 0}) {
        int value[kHoldTries] = {}, share[kHoldTries] = {}, carried = 0;
        int tries = CommonOffsets(row, axis, kHoldTries, value, share, &carried);
        for (int i = 0; i < tries; ++i)
            if (carried < 2 || share[i] == carried || share[i] * job.hold_share < carried)
                tries = i;
        // Every try starts from the row as it stands now (copied only when
        // there is more than one).
        std::vector<Block> free_row;
        if (tries > 1) free_row = row;
        const std::vector<Block>& base = tries > 1 ? free_row : row;
        const std::vector<MotionVector> free_field = kept;
        for (int i = 0; i < tries; ++i) {
            HeldOffsets lock = held;
            lock.axis[axis] = value[i];
            coder.Lock(lock.axis[0], lock.axis[1]);
            std::copy(free_field.begin(), free_field.end(), field);
            const float fill_bits = above.axis[axis] == value[i] ? 0.0f : kHeldOffsetBits;
            const float held_cost =
                DecideRow(coder, job, y, trial, &base, axis, value[i]) + job.lambda * fill_bits;
            if (held_cost < cost) {
                cost = held_cost;
                row.swap(trial);
                held.axis[axis] = value[i];
                kept.assign(field, field + bw);
            }
        }
        std::copy(kept.begin(), kept.end(), field);
    }
    coder.Lock(encode::MotionSearch::kFree, encode::MotionSearch::kFree);
    return held;
}

// Decides the blocks of block row r and, when pair, of row r + 1 (after the
// whole of row r, whose vectors and held offsets it may take).
void DecideRows(BlockCoder& coder, const PlaneJob& job, uint32_t r, bool pair, RowPair& rp) {
    const HeldOffsets upper = DecideRowHeld(coder, job, r, rp.rows[0], HeldOffsets{});
    if (pair) DecideRowHeld(coder, job, r + 1, rp.rows[1], upper);
}

// Marks the 16x16 areas of a row pair that cost less as one scaled fill or
// scaled intra block than as their four blocks.
void FindScaledAreas(BlockCoder& coder, const PlaneJob& job, uint32_t r, bool pair, RowPair& rp) {
    const uint32_t bw = static_cast<uint32_t>(rp.scaled.size());
    const PlaneView& src = job.src;
    for (ScaledArea& s : rp.scaled) s.kind = 0;
    // Two type symbols (the lower half is one of the row below), the
    // sub-type and the colour.
    const float bits = 2 * job.rates.type[kBlockScaled] + 2 + job.rates.colour;
    for (uint32_t c = 0; pair && c + 1 < bw; c += 2) {
        const std::vector<Block>& a = rp.rows[0];
        const std::vector<Block>& b = rp.rows[1];
        const float split = a[c].cost + a[c + 1].cost + b[c].cost + b[c + 1].cost;
        const float lambda = BlockLambda(job, c, r);
        if (lambda * bits >= split) continue;
        uint8_t area[256];
        int sum = 0;
        for (int y = 0; y < 16; ++y) {
            std::memcpy(area + y * 16, src.At(static_cast<int>(c * 8), static_cast<int>(r * 8) + y),
                        16);
            for (int x = 0; x < 16; ++x) sum += area[y * 16 + x];
        }
        const int mean = (sum + 128) / 256;
        float sse = 0;
        for (int i = 0; i < 256; ++i)
            sse += static_cast<float>((area[i] - mean) * (area[i] - mean));
        ScaledArea& s = rp.scaled[c];
        float best = split;
        if (sse + lambda * bits < best) {
            best = sse + lambda * bits;
            s.kind = kBlockFill;
            s.colour = static_cast<uint8_t>(mean);
            std::memset(s.recon, mean, sizeof s.recon);
        }
        ScaledArea intra;
        coder.UseBlock(c, r);
        if (coder.ScaledIntra(area, intra.coef, &intra.q, intra.recon) < best) {
            intra.kind = kBlockIntra;
            s = intra;
        }
    }
}

bool WriteBlock(PlaneWriter& writer, const Block& b) {
    switch (b.type) {
        case kBlockSkip:
            return writer.Skip();
        case kBlockMotion:
            return writer.Motion(b.dx, b.dy);
        case kBlockFill:
            return writer.Fill(b.c0);
        case kBlockPattern:
            return writer.Pattern(b.c0, b.c1, b.pattern);
        case kBlockIntra:
            return writer.Intra(b.coef, b.q);
        case kBlockInter:
            return writer.Inter(b.dx, b.dy, b.coef, b.q);
        case kBlockResidue:
            return writer.Residue(b.dx, b.dy, b.residue);
        default:
            return writer.Raw(b.recon);
    }
}

// Counts the bundle symbols of a written block for the next frame's rates.
void CountBlock(const Block& b, PlaneCounts& counts, int& previous_high) {
    ++counts.types[b.type];
    if (b.type == kBlockMotion || b.type == kBlockInter || b.type == kBlockResidue) {
        ++counts.offset_x[std::abs(b.dx)];
        ++counts.offset_y[std::abs(b.dy)];
    }
    if (b.type == kBlockFill) counts.AddColour(b.c0, previous_high);
    if (b.type == kBlockPattern) {
        counts.AddColour(b.c0, previous_high);
        counts.AddColour(b.c1, previous_high);
    }
    if (b.type == kBlockRaw)
        for (uint8_t c : b.recon) counts.AddColour(c, previous_high);
}

// Decides the blocks of a plane, its pairs of block rows on up to `threads`
// threads.
void DecidePlane(const PlaneJob& job, int threads, std::vector<RowPair>& pairs) {
    const uint32_t bw = job.bw, bh = job.bh;
    RunParallel(static_cast<uint32_t>(pairs.size()), threads, [&](uint32_t i) {
        BlockCoder coder(job);
        RowPair& rp = pairs[i];
        for (auto& row : rp.rows) row.resize(bw);
        rp.scaled.resize(bw);
        const bool pair = i * 2 + 1 < bh;
        DecideRows(coder, job, i * 2, pair, rp);
        FindScaledAreas(coder, job, i * 2, pair, rp);
    });
}

// Counts the bundle symbols of the blocks of a plane (bh block rows) in the
// order they are written.
PlaneCounts CountPlane(const std::vector<RowPair>& pairs, uint32_t bh) {
    PlaneCounts counts;
    int previous_high = 0;
    for (uint32_t i = 0; i < pairs.size(); ++i) {
        const RowPair& rp = pairs[i];
        for (uint32_t half = 0; half < 2 && i * 2 + half < bh; ++half) {
            const std::vector<Block>& row = rp.rows[half];
            for (uint32_t c = 0; c < row.size(); ++c) {
                const ScaledArea& s = rp.scaled[c];
                if (!s.kind) {
                    CountBlock(row[c], counts, previous_high);
                    continue;
                }
                ++counts.types[kBlockScaled];
                if (!half && s.kind == kBlockFill) counts.AddColour(s.colour, previous_high);
                ++c;
            }
        }
    }
    return counts;
}

// Where the blocks of a plane go: the writer, the plane as the decoder will
// rebuild it (w samples across) and the block counts.
struct PlaneOutput {
    PlaneWriter& writer;
    std::vector<uint8_t>& next;
    uint32_t w;
    EncoderFrameStats& stats;
};

// Writes one block row of a pair (half 1: the lower row, whose scaled blocks
// are the lower halves of those above) and draws it into out.next. Returns
// the reason when the writer refuses a block, else null.
const char* WriteBlockRow(const RowPair& rp, int half, uint32_t r, PlaneOutput& out) {
    const std::vector<Block>& row = rp.rows[half];
    const uint32_t bw = static_cast<uint32_t>(row.size());
    const uint32_t y = (r + static_cast<uint32_t>(half)) * 8, w = out.w;
    for (uint32_t c = 0; c < bw; ++c) {
        const ScaledArea& s = rp.scaled[c];
        if (s.kind) {
            const bool ok = half                   ? out.writer.ScaledLowerHalf()
                            : s.kind == kBlockFill ? out.writer.ScaledFill(s.colour)
                                                   : out.writer.ScaledIntra(s.coef, s.q);
            if (!ok) return "the plane writer refused a scaled block";
            for (uint32_t yy = 0; yy < 8; ++yy)
                std::memcpy(&out.next[(y + yy) * w + c * 8], s.recon + (half * 8 + yy) * 16, 16);
            out.stats.blocks[kBlockScaled] += 2;
            ++c;
            continue;
        }
        const Block& b = row[c];
        if (!WriteBlock(out.writer, b)) return "the plane writer refused a block";
        ++out.stats.blocks[b.type];
        for (int yy = 0; yy < 8; ++yy)
            std::memcpy(&out.next[(y + yy) * w + c * 8], b.recon + yy * 8, 8);
    }
    return nullptr;
}

// Writes every block row of the plane, pair by pair (a last row of an odd
// count stands alone). Returns the writer's reason for a refusal, else null.
const char* WriteBlockRows(const std::vector<RowPair>& pairs, uint32_t bh, PlaneOutput& out) {
    for (uint32_t i = 0; i < pairs.size(); ++i) {
        const bool pair = i * 2 + 1 < bh;
        for (int half = 0; half < (pair ? 2 : 1); ++half)
            if (const char* error = WriteBlockRow(pairs[i], half, i * 2, out)) return error;
    }
    return nullptr;
}

}  // namespace

VideoEncoder::VideoEncoder(uint32_t width, uint32_t height, const EncoderSettings& settings)
    : width_(width),
      height_(height),
      luma_w_(LumaPlaneWidth(width)),
      luma_h_(RoundUp8(height)),
      chroma_w_(ChromaPlaneWidth(width)),
      chroma_h_(RoundUp8((height + 1) / 2)),
      settings_(settings),
      q_(QuantiserFor(settings.quality)),
      threads_(settings.threads > 0 ? settings.threads
                                    : static_cast<int>(std::thread::hardware_concurrency())),
      state_(std::make_unique<encode::EncoderState>()) {
    settings_.search_range = std::clamp(settings_.search_range, 0, 15);
    threads_ = std::clamp(threads_, 1, kMostEncoderThreads);
    for (auto& rates : state_->rates) rates = encode::DefaultRates();
    for (int p = 0; p < 4; ++p)
        recon_[p].assign(static_cast<size_t>(plane_width(p)) * plane_height(p), 0);
}

void VideoEncoder::set_quantiser(int q) {
    q_ = std::clamp(q, 0, kCoarsestLevel);
}

VideoEncoder::~VideoEncoder() = default;

VideoEncoder::VideoEncoder(const VideoEncoder& other)
    : width_(other.width_),
      height_(other.height_),
      luma_w_(other.luma_w_),
      luma_h_(other.luma_h_),
      chroma_w_(other.chroma_w_),
      chroma_h_(other.chroma_h_),
      settings_(other.settings_),
      q_(other.q_),
      frame_(other.frame_),
      stats_(other.stats_),
      error_(other.error_),
      threads_(other.threads_),
      state_(std::make_unique<encode::EncoderState>(*other.state_)) {
    for (int p = 0; p < 4; ++p) recon_[p] = other.recon_[p];
}

VideoEncoder& VideoEncoder::operator=(const VideoEncoder& other) {
    if (this == &other) return *this;
    width_ = other.width_, height_ = other.height_;
    luma_w_ = other.luma_w_, luma_h_ = other.luma_h_;
    chroma_w_ = other.chroma_w_, chroma_h_ = other.chroma_h_;
    settings_ = other.settings_;
    q_ = other.q_;
    frame_ = other.frame_;
    for (int p = 0; p < 4; ++p) recon_[p] = other.recon_[p];
    stats_ = other.stats_;
    error_ = other.error_;
    threads_ = other.threads_;
    *state_ = *other.state_;
    return *this;
}

uint32_t VideoEncoder::header_flags() const {
    return (settings_.grayscale ? kHeaderGrayscale : 0u) | (settings_.alpha ? kHeaderAlpha : 0u);
}

bool VideoEncoder::EncodePlane(int plane, const std::vector<uint8_t>& source, bool key,
                               std::vector<uint8_t>* out) {
    const uint32_t w = plane_width(plane), h = plane_height(plane);
    const PlaneView ref{recon_[plane].data(), w, h};
    const bool chroma = plane == 1 || plane == 2;
    encode::EncoderState& state = *state_;
    const int q = std::min(q_, 15);
    const float lambda = LambdaFor(q_);
    // Chroma planes search the same range in their own samples: that
    // follows luma motion of up to twice the luma range, which fast pans
    // reach.
    PlaneJob job{PlaneView{source.data(), w, h},
                 key ? nullptr : &ref,
                 q,
                 settings_.search_range,
                 lambda,
                 state.rates[plane],
                 w / 8,
                 h / 8};
    const uint32_t bw = job.bw, bh = job.bh;
    state.field[plane].assign(size_t{bw} * bh, MotionVector{});
    state.previous[plane].resize(size_t{bw} * bh);
    job.field = state.field[plane].data();
    job.previous = state.previous[plane].data();
    if (chroma && !key && state.field[0].size() == size_t{luma_w_ / 8} * (luma_h_ / 8)) {
        job.luma = state.field[0].data();
        job.luma_bw = luma_w_ / 8;
        job.luma_bh = luma_h_ / 8;
    }
    std::vector<uint8_t> block_q;
    std::vector<float> block_lambda;
    if (state.area_offsets) {
        BlockScales(state.area_offsets, (width_ + 15) / 16, (height_ + 15) / 16, chroma, q, lambda,
                    bw, bh, block_q, block_lambda);
        job.block_q = block_q.data();
        job.block_lambda = block_lambda.data();
    }
    std::vector<uint16_t> block_sums;
    const bool small = size_t{luma_w_} * luma_h_ <= kThoroughSearchArea;
    job.thorough = small;
    if (!key && settings_.search_range > 0 && small) {
        block_sums = BlockSums(ref.p, w, h);
        job.block_sums = block_sums.data();
        job.hold_share = 5;
    }

    std::vector<RowPair> pairs((bh + 1) / 2);
    // The code trees are this frame's own: decided once with the last
    // frame's rates (small pictures: with even offset sizes), the blocks are
    // decided again with the rates of the trees their symbols give. Always
    // on small pictures; on larger ones only after a key frame, whose trees
    // knew no inter types.
    if (!key && small) job.rates = encode::EvenOffsetRates(job.rates);
    DecidePlane(job, threads_, pairs);
    if (!key && (small || state.after_key[plane])) {
        job.rates = encode::RatesFrom(CountPlane(pairs, bh));
        std::fill(state.field[plane].begin(), state.field[plane].end(), MotionVector{});
        DecidePlane(job, threads_, pairs);
    }
    state.after_key[plane] = key;

    std::vector<uint8_t> next(recon_[plane].size());
    PlaneWriter writer(w, h, settings_.old_version);
    PlaneOutput output{writer, next, w, stats_};
    if (const char* error = WriteBlockRows(pairs, bh, output)) {
        error_ = error;
        return false;
    }
    *out = writer.Finish();
    if (out->empty()) {
        error_ = writer.error();
        return false;
    }
    recon_[plane].swap(next);
    // A key frame's trees know no inter types: the next frame starts afresh.
    state.rates[plane] = key ? encode::DefaultRates() : encode::RatesFrom(CountPlane(pairs, bh));
    return true;
}

bool VideoEncoder::EncodeFrame(const EncoderPicture& picture, bool key, std::vector<uint8_t>* video,
                               bool* was_key) {
    error_.clear();
    stats_ = EncoderFrameStats{};
    if (!picture.y || (!settings_.grayscale && (!picture.cb || !picture.cr)) ||
        (settings_.alpha && !picture.alpha)) {
        error_ = "a plane of the picture is missing";
        return false;
    }
    if (width_ == 0 || height_ == 0 || width_ > kLargestEncodedWidth) {
        error_ = "the picture must be 1 to 4096 samples wide";
        return false;
    }
    if (frame_ == 0 ||
        (settings_.key_interval > 0 && frame_ % static_cast<uint64_t>(settings_.key_interval) == 0))
        key = true;
    // Pad each plane to whole blocks by repeating its last column and row.
    auto padded = [](const uint8_t* p, ptrdiff_t stride, uint32_t w, uint32_t h, uint32_t pw,
                     uint32_t ph) {
        std::vector<uint8_t> out(static_cast<size_t>(pw) * ph);
        for (uint32_t y = 0; y < ph; ++y) {
            const uint8_t* row = p + static_cast<ptrdiff_t>(std::min(y, h - 1)) * stride;
            for (uint32_t x = 0; x < pw; ++x) out[y * pw + x] = row[std::min(x, w - 1)];
        }
        return out;
    };
    const uint32_t cw = (width_ + 1) / 2, ch = (height_ + 1) / 2;
    // The offsets are the picture's: they are not kept past this call.
    struct Offsets {
        encode::EncoderState& state;
        ~Offsets() { state.area_offsets = nullptr; }
    } offsets{*state_};
    state_->area_offsets = picture.area_offsets;
    VideoPartPlanes planes;
    if (settings_.alpha &&
        !EncodePlane(3,
                     padded(picture.alpha, picture.alpha_stride, width_, height_, luma_w_, luma_h_),
                     key, &planes.alpha))
        return false;
    if (!EncodePlane(0, padded(picture.y, picture.y_stride, width_, height_, luma_w_, luma_h_), key,
                     &planes.luma))
        return false;
    if (!settings_.grayscale) {
        if (!EncodePlane(1, padded(picture.cr, picture.cr_stride, cw, ch, chroma_w_, chroma_h_),
                         key, &planes.cr) ||
            !EncodePlane(2, padded(picture.cb, picture.cb_stride, cw, ch, chroma_w_, chroma_h_),
                         key, &planes.cb))
            return false;
    }
    for (int p = 0; p < 4; ++p) state_->previous[p].swap(state_->field[p]);
    *video = WriteVideoPart(planes, settings_.alpha, !settings_.old_version, settings_.grayscale);
    stats_.bytes = video->size();
    if (was_key) *was_key = key;
    ++frame_;
    return true;
}

}  // namespace vemo
