// The encoder's look-ahead: how much of the pictures to come each area of a
// picture carries, from a coarse motion estimate on half-size pictures.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "vemo/rate_control.h"

#include "block_kernels.h"

namespace vemo {

namespace {

// Half-size samples an area's vector may reach each way (16 picture samples,
// a little beyond what a block vector reaches).
constexpr int kRange = 8;
// Steps of the refinement of an area's vector from its best predictor.
constexpr int kRefineSteps = 8;
// Added to every area's estimate of coding it alone, so that flat areas,
// which cost little whatever is drawn from them, carry little forward.
constexpr float kFlatCost = 64.0f;
// Weight of each picture in the running mean of what pictures carry.
constexpr double kTypicalWeight = 0.1;

}  // namespace

Lookahead::Lookahead(uint32_t width, uint32_t height)
    : width_(std::max<uint32_t>(width, 1)),
      height_(std::max<uint32_t>(height, 1)),
      aw_((width_ + 15) / 16),
      ah_((height_ + 15) / 16),
      hw_(aw_ * 8),
      hh_(ah_ * 8),
      sad_(encode::ActiveBlockKernels().sad) {}

void Lookahead::Shrink(const uint8_t* y, ptrdiff_t stride) {
    // Each half-size sample is the mean of a 2x2 square; squares past the
    // picture's edge repeat its last column and row.
    half_.resize(size_t{hw_} * hh_);
    for (uint32_t r = 0; r < hh_; ++r) {
        const uint32_t y0 = std::min(2 * r, height_ - 1), y1 = std::min(2 * r + 1, height_ - 1);
        const uint8_t* a = y + static_cast<ptrdiff_t>(y0) * stride;
        const uint8_t* b = y + static_cast<ptrdiff_t>(y1) * stride;
        for (uint32_t c = 0; c < hw_; ++c) {
            const uint32_t x0 = std::min(2 * c, width_ - 1), x1 = std::min(2 * c + 1, width_ - 1);
            half_[size_t{r} * hw_ + c] =
                static_cast<uint8_t>((a[x0] + a[x1] + b[x0] + b[x1] + 2) / 4);
        }
    }
}

uint32_t Lookahead::Sad(uint32_t ax, uint32_t ay, int dx, int dy) const {
    const uint8_t* cur = half_.data() + size_t{ay} * 8 * hw_ + ax * 8;
    const uint8_t* ref = previous_half_.data() +
                         static_cast<ptrdiff_t>(static_cast<int>(ay * 8) + dy) * hw_ +
                         static_cast<int>(ax * 8) + dx;
    return sad_(cur, hw_, ref, hw_);
}

void Lookahead::Estimate(Frame& frame) const {
    const size_t areas = size_t{aw_} * ah_;
    frame.intra.assign(areas, 0);
    frame.motion.assign(areas, Vector{});
    for (uint32_t ay = 0; ay < ah_; ++ay) {
        for (uint32_t ax = 0; ax < aw_; ++ax) {
            const uint8_t* p = half_.data() + size_t{ay} * 8 * hw_ + ax * 8;
            int sum = 0;
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c) sum += p[r * hw_ + c];
            float deviation = 0;
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c)
                    deviation += std::fabs(static_cast<float>(p[r * hw_ + c]) - sum / 64.0f);
            frame.intra[size_t{ay} * aw_ + ax] = deviation + kFlatCost;
        }
    }
    frame.inter = frame.intra;
    if (frame.key || previous_half_.size() != half_.size()) return;
    const Frame* before = frames_.empty() ? nullptr : &frames_.back();
    for (uint32_t ay = 0; ay < ah_; ++ay) {
        for (uint32_t ax = 0; ax < aw_; ++ax) {
            const int lo_x = -std::min<int>(kRange, static_cast<int>(ax * 8));
            const int hi_x = std::min<int>(kRange, static_cast<int>(hw_ - 8 - ax * 8));
            const int lo_y = -std::min<int>(kRange, static_cast<int>(ay * 8));
            const int hi_y = std::min<int>(kRange, static_cast<int>(hh_ - 8 - ay * 8));
            auto inside = [&](int dx, int dy) {
                return dx >= lo_x && dx <= hi_x && dy >= lo_y && dy <= hi_y;
            };
            const size_t i = size_t{ay} * aw_ + ax;
            Vector tries[4] = {};
            int n = 1;
            if (ax > 0) tries[n++] = frame.motion[i - 1];
            if (ay > 0) tries[n++] = frame.motion[i - aw_];
            if (before && before->motion.size() == frame.motion.size())
                tries[n++] = before->motion[i];
            Vector best{};
            uint32_t best_sad = Sad(ax, ay, 0, 0);
            for (int k = 1; k < n; ++k) {
                if (!inside(tries[k].x, tries[k].y)) continue;
                const uint32_t sad = Sad(ax, ay, tries[k].x, tries[k].y);
                if (sad < best_sad) best_sad = sad, best = tries[k];
            }
            for (int step = 0; step < kRefineSteps; ++step) {
                static constexpr int kAround[8][2] = {{1, 0}, {-1, 0}, {0, 1},  {0, -1},
                                                      {1, 1}, {-1, 1}, {1, -1}, {-1, -1}};
                const Vector centre = best;
                for (const auto& d : kAround) {
                    const int dx = centre.x + d[0], dy = centre.y + d[1];
                    if (!inside(dx, dy)) continue;
                    const uint32_t sad = Sad(ax, ay, dx, dy);
                    if (sad < best_sad)
                        best_sad = sad,
                        best = Vector{static_cast<int8_t>(dx), static_cast<int8_t>(dy)};
                }
                if (best.x == centre.x && best.y == centre.y) break;
            }
            frame.motion[i] = best;
            frame.inter[i] = std::min(static_cast<float>(best_sad) + kFlatCost, frame.intra[i]);
        }
    }
}

void Lookahead::Push(const uint8_t* y, ptrdiff_t stride, bool key) {
    Shrink(y, stride);
    Frame frame;
    frame.key = key;
    Estimate(frame);
    frames_.push_back(std::move(frame));
    previous_half_.swap(half_);
}

std::vector<float> Lookahead::Take() {
    if (frames_.empty()) return {};
    const size_t areas = size_t{aw_} * ah_;
    // Nothing is drawn across a key frame: the pictures up to the next one.
    size_t n = 1;
    while (n < frames_.size() && !frames_[n].key) ++n;
    // What the pictures after frame k draw from it, latest first: each area
    // of frame k hands the share of itself and of what it carries that its
    // prediction saves to the areas its vector's block covers in frame k - 1.
    std::vector<float> carried(areas, 0), below(areas);
    for (size_t k = n - 1; k >= 1; --k) {
        const Frame& f = frames_[k];
        std::fill(below.begin(), below.end(), 0.0f);
        for (uint32_t ay = 0; ay < ah_; ++ay) {
            for (uint32_t ax = 0; ax < aw_; ++ax) {
                const size_t i = size_t{ay} * aw_ + ax;
                const float share = (f.intra[i] - f.inter[i]) / f.intra[i];
                const float amount = (f.intra[i] + carried[i]) * share;
                if (amount <= 0) continue;
                const int px = static_cast<int>(ax * 8) + f.motion[i].x;
                const int py = static_cast<int>(ay * 8) + f.motion[i].y;
                const uint32_t x0 = static_cast<uint32_t>(px / 8),
                               y0 = static_cast<uint32_t>(py / 8);
                const float fx = static_cast<float>(px % 8) / 8,
                            fy = static_cast<float>(py % 8) / 8;
                below[size_t{y0} * aw_ + x0] += amount * (1 - fx) * (1 - fy);
                if (fx > 0) below[size_t{y0} * aw_ + x0 + 1] += amount * fx * (1 - fy);
                if (fy > 0) below[size_t{y0 + 1} * aw_ + x0] += amount * (1 - fx) * fy;
                if (fx > 0 && fy > 0) below[size_t{y0 + 1} * aw_ + x0 + 1] += amount * fx * fy;
            }
        }
        carried.swap(below);
    }
    // Per area the log2 of its share: what it carries forward, itself
    // included, over itself. The picture's mean share against the typical
    // one sets the picture's offset, each area's against the mean its own.
    const Frame& front = frames_.front();
    std::vector<float> offsets(areas);
    double mean = 0;
    for (size_t i = 0; i < areas; ++i) {
        offsets[i] = std::log2((front.intra[i] + carried[i]) / front.intra[i]);
        mean += offsets[i];
    }
    mean /= static_cast<double>(areas);
    carried_ = mean;
    if (typical_ < 0) typical_ = mean;
    const float picture = -kPictureStrength * static_cast<float>(mean - typical_);
    typical_ += kTypicalWeight * (mean - typical_);
    for (float& o : offsets)
        o = std::clamp(picture - kStrength * (o - static_cast<float>(mean)), -kMostOffset,
                       kMostOffset);
    follow_ = -1;
    if (n > 1) {
        double inter = 0, intra = 0;
        for (size_t i = 0; i < areas; ++i) {
            inter += frames_[1].inter[i];
            intra += frames_[1].intra[i];
        }
        follow_ = intra > 0 ? inter / intra : -1;
    }
    frames_.pop_front();
    return offsets;
}

}  // namespace vemo
