// The video encoder: per 8x8 block it weighs the block types the decoder
// knows (skip, motion, fill, two-colour pattern, transform-coded intra and
// inter, residue, raw) by distortion plus a rate estimate, joins flat 16x16
// areas into scaled fills, and keeps the planes exactly as they will be drawn.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "vemo/encoder.h"
#include "vemo/flags.h"
#include "vemo/frame_planes.h"
#include "vemo/video_writer.h"

namespace vemo {

namespace {

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

struct Block {
    uint8_t type = kBlockRaw;
    int dx = 0, dy = 0;
    int16_t coef[64] = {};
    int8_t residue[64] = {};
    uint8_t c0 = 0, c1 = 0, pattern[8] = {};
    uint8_t recon[64] = {};
    double cost = 0;
};

struct PlaneView {
    const uint8_t* p;
    uint32_t w, h;
    const uint8_t* At(int x, int y) const { return p + static_cast<ptrdiff_t>(y) * w + x; }
};

void Load(const PlaneView& v, int x, int y, uint8_t out[64]) {
    for (int r = 0; r < 8; ++r) std::memcpy(out + r * 8, v.At(x, y + r), 8);
}

uint32_t Sse(const uint8_t a[64], const uint8_t b[64]) {
    uint32_t s = 0;
    for (int i = 0; i < 64; ++i) {
        const int d = a[i] - b[i];
        s += static_cast<uint32_t>(d * d);
    }
    return s;
}

uint32_t Sad(const uint8_t target[64], const PlaneView& ref, int x, int y, uint32_t stop) {
    uint32_t s = 0;
    for (int r = 0; r < 8; ++r) {
        const uint8_t* row = ref.At(x, y + r);
        for (int c = 0; c < 8; ++c)
            s += static_cast<uint32_t>(std::abs(target[r * 8 + c] - row[c]));
        if (s >= stop) return s;
    }
    return s;
}

class PlaneCoder {
  public:
    PlaneCoder(const PlaneView& src, const PlaneView* ref, int q, int range)
        : src_(src), ref_(ref), q_(q), range_(range) {
        const double step = 1.5 * kScaleOf[q];
        lambda_ = 0.08 * step * step;
        for (int i = 0; i < 64; ++i) {
            intra_row_[i] = IntraQuantiser(q, i);
            inter_row_[i] = InterQuantiser(q, i);
        }
    }

    // raw_allowed: false when the row's colours would overflow one fill.
    Block Decide(int x, int y, bool raw_allowed) {
        uint8_t target[64];
        Load(src_, x, y, target);
        Block best;
        best.type = kBlockRaw;
        std::memcpy(best.recon, target, 64);
        best.cost = raw_allowed ? lambda_ * (3 + 512) : 1e300;

        TryFill(target, &best);
        TryPattern(target, &best);
        TryIntra(target, &best);
        if (ref_) {
            int dx = 0, dy = 0;
            Search(target, x, y, &dx, &dy);
            uint8_t moved[64];
            Load(*ref_, x + dx, y + dy, moved);
            uint8_t same[64];
            Load(*ref_, x, y, same);
            Consider(best, kBlockSkip, 0, 0, same, Sse(target, same) + lambda_ * 2);
            Consider(best, kBlockMotion, dx, dy, moved, Sse(target, moved) + lambda_ * 13);
            TryInter(target, moved, dx, dy, &best);
            TryResidue(target, moved, dx, dy, &best);
        }
        return best;
    }

    double lambda() const { return lambda_; }

  private:
    void Consider(Block& best, uint8_t type, int dx, int dy, const uint8_t recon[64], double cost) {
        if (cost >= best.cost) return;
        best.type = type;
        best.dx = dx;
        best.dy = dy;
        std::memcpy(best.recon, recon, 64);
        best.cost = cost;
    }

    void TryFill(const uint8_t t[64], Block* best) {
        int sum = 0;
        for (int i = 0; i < 64; ++i) sum += t[i];
        uint8_t flat[64];
        std::memset(flat, (sum + 32) / 64, 64);
        const double cost = Sse(t, flat) + lambda_ * 11;
        if (cost < best->cost) {
            Consider(*best, kBlockFill, 0, 0, flat, cost);
            best->c0 = flat[0];
        }
    }

    void TryPattern(const uint8_t t[64], Block* best) {
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
                if (one[i]) {
                    s1 += t[i];
                    ++n1;
                } else {
                    s0 += t[i];
                    ++n0;
                }
            }
            if (n0) c0 = (s0 + n0 / 2) / n0;
            if (n1) c1 = (s1 + n1 / 2) / n1;
        }
        uint8_t recon[64], rows[8] = {};
        for (int i = 0; i < 64; ++i) {
            recon[i] = static_cast<uint8_t>(one[i] ? c1 : c0);
            if (one[i]) rows[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        }
        const double cost = Sse(t, recon) + lambda_ * 83;
        if (cost < best->cost) {
            Consider(*best, kBlockPattern, 0, 0, recon, cost);
            best->c0 = static_cast<uint8_t>(c0);
            best->c1 = static_cast<uint8_t>(c1);
            std::memcpy(best->pattern, rows, 8);
        }
    }

    void TryIntra(const uint8_t t[64], Block* best) {
        int values[64];
        for (int i = 0; i < 64; ++i) values[i] = t[i];
        int16_t coef[64];
        ForwardTransform(values, q_, false, coef);
        if (coef[0] < 0) coef[0] = 0;
        if (coef[0] > 2047) coef[0] = 2047;
        uint8_t recon[64];
        InverseTransform(coef, intra_row_, recon);
        BitWriter bits;
        WriteCoefficients(bits, coef);
        const double cost =
            Sse(t, recon) + lambda_ * static_cast<double>(bits.BitCount() + 3 + 4 + 8);
        if (cost < best->cost) {
            Consider(*best, kBlockIntra, 0, 0, recon, cost);
            std::memcpy(best->coef, coef, sizeof coef);
        }
    }

    void TryInter(const uint8_t t[64], const uint8_t moved[64], int dx, int dy, Block* best) {
        int values[64];
        for (int i = 0; i < 64; ++i) values[i] = t[i] - moved[i];
        int16_t coef[64];
        ForwardTransform(values, q_, true, coef);
        coef[0] = static_cast<int16_t>(std::clamp<int>(coef[0], -1023, 1023));
        uint8_t add[64], recon[64];
        InverseTransform(coef, inter_row_, add);
        for (int i = 0; i < 64; ++i) recon[i] = static_cast<uint8_t>(moved[i] + add[i]);
        BitWriter bits;
        WriteCoefficients(bits, coef);
        const double cost =
            Sse(t, recon) + lambda_ * static_cast<double>(bits.BitCount() + 3 + 10 + 4 + 6);
        if (cost < best->cost) {
            Consider(*best, kBlockInter, dx, dy, recon, cost);
            std::memcpy(best->coef, coef, sizeof coef);
        }
    }

    void TryResidue(const uint8_t t[64], const uint8_t moved[64], int dx, int dy, Block* best) {
        int8_t res[64];
        for (int i = 0; i < 64; ++i)
            res[i] = static_cast<int8_t>(static_cast<uint8_t>(t[i] - moved[i]));
        if (ResidueChanges(res) > 128) return;
        BitWriter bits;
        if (!WriteResidue(bits, res)) return;
        const double cost = lambda_ * static_cast<double>(bits.BitCount() + 3 + 10);
        if (cost < best->cost) {
            Consider(*best, kBlockResidue, dx, dy, t, cost);
            std::memcpy(best->residue, res, sizeof res);
        }
    }

    void Search(const uint8_t target[64], int x, int y, int* best_dx, int* best_dy) {
        const int w = static_cast<int>(ref_->w), h = static_cast<int>(ref_->h);
        uint32_t best = Sad(target, *ref_, x, y, UINT32_MAX);
        *best_dx = *best_dy = 0;
        if (best == 0) return;
        const int x0 = std::max(-range_, -x), x1 = std::min(range_, w - 8 - x);
        const int y0 = std::max(-range_, -y), y1 = std::min(range_, h - 8 - y);
        for (int dy = y0; dy <= y1; ++dy) {
            for (int dx = x0; dx <= x1; ++dx) {
                // A small bias keeps the offsets short and the vectors calm.
                const uint32_t bias = static_cast<uint32_t>(std::abs(dx) + std::abs(dy));
                const uint32_t s = Sad(target, *ref_, x + dx, y + dy, best) + bias;
                if (s < best) {
                    best = s;
                    *best_dx = dx;
                    *best_dy = dy;
                }
            }
        }
    }

    PlaneView src_;
    const PlaneView* ref_;
    int q_, range_;
    double lambda_;
    uint32_t intra_row_[64], inter_row_[64];
};

// The blocks chosen for a pair of block rows (rows[1] unused for a last,
// unpaired row) and, per column, whether a scaled fill starts there.
struct RowPair {
    std::vector<Block> rows[2];
    std::vector<uint8_t> scaled, fill_colour;
};

uint32_t ColoursOf(const Block& b) {
    return b.type == kBlockRaw       ? 64u
           : b.type == kBlockPattern ? 2u
           : b.type == kBlockFill    ? 1u
                                     : 0u;
}

// Decides the blocks of block row r and, when pair, of row r + 1. One colour
// fill must hold a row's colours (at most 32767, less than 4096 samples of
// raw blocks).
void DecideRows(PlaneCoder& coder, uint32_t r, bool pair, RowPair& rp) {
    const uint32_t bw = static_cast<uint32_t>(rp.rows[0].size());
    const uint32_t colour_limit = std::min<uint32_t>(bw * 64 + 511, 32767);
    uint32_t colours_a = 0, colours_b = 0;
    for (uint32_t c = 0; c < bw; ++c) {
        rp.rows[0][c] = coder.Decide(static_cast<int>(c * 8), static_cast<int>(r * 8),
                                     colours_a + 64 <= colour_limit);
        colours_a += ColoursOf(rp.rows[0][c]);
        if (pair) {
            rp.rows[1][c] = coder.Decide(static_cast<int>(c * 8), static_cast<int>(r * 8 + 8),
                                         colours_b + 64 <= colour_limit);
            colours_b += ColoursOf(rp.rows[1][c]);
        }
    }
}

// Marks the flat 16x16 areas of a row pair that cost less as one scaled fill
// than as their four blocks.
void FindScaledFills(const PlaneView& src, double lambda, uint32_t r, bool pair, RowPair& rp) {
    const uint32_t bw = static_cast<uint32_t>(rp.scaled.size());
    std::fill(rp.scaled.begin(), rp.scaled.end(), 0);
    for (uint32_t c = 0; pair && c + 1 < bw; c += 2) {
        const int x0 = static_cast<int>(c * 8), y0 = static_cast<int>(r * 8);
        int sum = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) sum += *src.At(x0 + x, y0 + y);
        const int mean = (sum + 128) / 256;
        double sse = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const int d = *src.At(x0 + x, y0 + y) - mean;
                sse += d * d;
            }
        const double cost = sse + lambda * 22;
        const std::vector<Block>& a = rp.rows[0];
        const std::vector<Block>& b = rp.rows[1];
        const double split = a[c].cost + a[c + 1].cost + b[c].cost + b[c + 1].cost;
        if (cost < split) {
            rp.scaled[c] = 1;
            rp.fill_colour[c] = static_cast<uint8_t>(mean);
        }
    }
}

bool WriteBlock(PlaneWriter& writer, const Block& b, int q) {
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
            return writer.Intra(b.coef, q);
        case kBlockInter:
            return writer.Inter(b.dx, b.dy, b.coef, q);
        case kBlockResidue:
            return writer.Residue(b.dx, b.dy, b.residue);
        default:
            return writer.Raw(b.recon);
    }
}

// Where the blocks of a plane go: the writer, the plane as the decoder will
// rebuild it (w samples across), and the block counts.
struct PlaneOutput {
    PlaneWriter& writer;
    std::vector<uint8_t>& next;
    uint32_t w;
    EncoderFrameStats& stats;
};

// Writes one block row of a pair (half 1: the lower row, whose scaled blocks
// are the lower halves of those above) and draws it into out.next. Returns
// the reason when the writer refuses a block, else null.
const char* WriteBlockRow(const RowPair& rp, int half, uint32_t r, int q, PlaneOutput& out) {
    const std::vector<Block>& row = rp.rows[half];
    const uint32_t bw = static_cast<uint32_t>(row.size());
    const uint32_t y = (r + static_cast<uint32_t>(half)) * 8, w = out.w;
    for (uint32_t c = 0; c < bw; ++c) {
        if (rp.scaled[c]) {
            const bool ok =
                half ? out.writer.ScaledLowerHalf() : out.writer.ScaledFill(rp.fill_colour[c]);
            if (!ok) return "the plane writer refused a scaled block";
            for (uint32_t yy = 0; yy < 8; ++yy)
                std::memset(&out.next[(y + yy) * w + c * 8], rp.fill_colour[c], 16);
            out.stats.blocks[kBlockScaled] += 2;
            ++c;
            continue;
        }
        const Block& b = row[c];
        if (!WriteBlock(out.writer, b, q)) return "the plane writer refused a block";
        ++out.stats.blocks[b.type];
        for (int yy = 0; yy < 8; ++yy)
            std::memcpy(&out.next[(y + yy) * w + c * 8], b.recon + yy * 8, 8);
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
      q_(QuantiserFor(settings.quality)) {
    settings_.search_range = std::clamp(settings_.search_range, 0, 15);
    for (int p = 0; p < 4; ++p)
        recon_[p].assign(static_cast<size_t>(plane_width(p)) * plane_height(p), 0);
}

void VideoEncoder::set_quantiser(int q) {
    q_ = std::clamp(q, 0, 15);
}

uint32_t VideoEncoder::header_flags() const {
    return (settings_.grayscale ? kHeaderGrayscale : 0u) | (settings_.alpha ? kHeaderAlpha : 0u);
}

bool VideoEncoder::EncodePlane(int plane, const std::vector<uint8_t>& source, bool key,
                               std::vector<uint8_t>* out) {
    const uint32_t w = plane_width(plane), h = plane_height(plane);
    const PlaneView src{source.data(), w, h};
    const PlaneView ref{recon_[plane].data(), w, h};
    const bool chroma = plane == 1 || plane == 2;
    PlaneCoder coder(src, key ? nullptr : &ref, q_,
                     chroma ? (settings_.search_range + 1) / 2 : settings_.search_range);
    const uint32_t bw = w / 8, bh = h / 8;
    std::vector<uint8_t> next(recon_[plane].size());
    PlaneWriter writer(w, h, settings_.old_version);
    PlaneOutput output{writer, next, w, stats_};

    RowPair rp;
    rp.rows[0].resize(bw);
    rp.rows[1].resize(bw);
    rp.scaled.resize(bw);
    rp.fill_colour.resize(bw);
    for (uint32_t r = 0; r < bh; r += 2) {
        const bool pair = r + 1 < bh;
        DecideRows(coder, r, pair, rp);
        FindScaledFills(src, coder.lambda(), r, pair, rp);
        for (int half = 0; half < (pair ? 2 : 1); ++half) {
            if (const char* error = WriteBlockRow(rp, half, r, q_, output)) {
                error_ = error;
                return false;
            }
        }
    }
    *out = writer.Finish();
    if (out->empty()) {
        error_ = writer.error();
        return false;
    }
    recon_[plane].swap(next);
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
    *video = WriteVideoPart(planes, settings_.alpha, !settings_.old_version, settings_.grayscale);
    stats_.bytes = video->size();
    if (was_key) *was_key = key;
    ++frame_;
    return true;
}

}  // namespace vemo
