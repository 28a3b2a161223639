#include "motion_search.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <utility>

namespace vemo::encode {

namespace {

// A block whose best match differs by less than this per sample on average
// is not searched further.
constexpr uint32_t kGoodEnough = 64;
// A block whose predicted vectors all miss by more than this per sample
// gets the coarse grid.
constexpr uint32_t kPoorMatch = 6 * 64;

}  // namespace

MotionSearch::MotionSearch(const uint8_t* ref, int w, int h, int range, float lambda,
                           const float (&offset_bits_x)[16], const float (&offset_bits_y)[16])
    : ref_(ref),
      w_(w),
      h_(h),
      range_(std::clamp(range, 0, 15)),
      lambda_(lambda),
      bits_x_(offset_bits_x),
      bits_y_(offset_bits_y),
      sad_(ActiveBlockKernels().sad) {}

bool MotionSearch::Try(int dx, int dy, Best& best) {
    if (dx < x0_ || dx > x1_ || dy < y0_ || dy > y1_) return false;
    uint32_t& seen = seen_[(dy + 15) * 31 + dx + 15];
    if (seen == stamp_) return false;
    seen = stamp_;
    const uint32_t sad =
        sad_(target_, 8, ref_ + static_cast<ptrdiff_t>(y_ + dy) * w_ + x_ + dx, w_);
    const float cost = static_cast<float>(sad) +
                       lambda_ * (bits_x_[dx < 0 ? -dx : dx] + bits_y_[dy < 0 ? -dy : dy]);
    if (cost >= best.cost) return false;
    best = Best{dx, dy, cost, sad};
    return true;
}

void MotionSearch::Diamond(Best& best, int step) {
    // Walks to the best of the four neighbours at this step until none is
    // better; a few rounds at most.
    for (int round = 0; round < 16; ++round) {
        const int cx = best.dx, cy = best.dy;
        bool moved = false;
        moved |= Try(cx + step, cy, best);
        moved |= Try(cx - step, cy, best);
        moved |= Try(cx, cy + step, best);
        moved |= Try(cx, cy - step, best);
        if (!moved) return;
    }
}

void MotionSearch::Grid(Best& best) {
    // A coarse grid over the whole range, centred on no motion (every offset
    // lies within 2 of a grid point); the three best points each start a
    // descent of their own, as one of them may lie in the wrong basin.
    Best found[3];
    for (int dy = -15; dy <= 15; dy += 5)
        for (int dx = -15; dx <= 15; dx += 5) {
            Best here;
            if (!Try(lock_x_ == kFree ? dx : lock_x_, lock_y_ == kFree ? dy : lock_y_, here))
                continue;
            for (Best& f : found)
                if (here.cost < f.cost) std::swap(here, f);
        }
    for (Best& start : found) {
        if (start.cost >= 1e30f) continue;
        Diamond(start, 2);
        if (start.cost < best.cost) best = start;
    }
}

void MotionSearch::Exhaustive(Best& best) {
    // The difference of two blocks' sums is a lower bound of their sum of
    // absolute differences.
    int sum = 0;
    for (int i = 0; i < 64; ++i) sum += target_[i];
    for (int dy = y0_; dy <= y1_; ++dy) {
        const uint16_t* sums = block_sums_ + static_cast<ptrdiff_t>(y_ + dy) * w_ + x_;
        const float y_bits = lambda_ * bits_y_[dy < 0 ? -dy : dy];
        for (int dx = x0_; dx <= x1_; ++dx) {
            const float bound = static_cast<float>(std::abs(sum - sums[dx])) + y_bits +
                                lambda_ * bits_x_[dx < 0 ? -dx : dx];
            if (bound < best.cost) Try(dx, dy, best);
        }
    }
}

MotionVector MotionSearch::Find(const uint8_t target[64], int x, int y,
                                const MotionVector* candidates, int count, uint32_t* sad) {
    target_ = target;
    x_ = x;
    y_ = y;
    x0_ = std::max(-range_, -x);
    x1_ = std::min(range_, w_ - 8 - x);
    y0_ = std::max(-range_, -y);
    y1_ = std::min(range_, h_ - 8 - y);
    if (lock_x_ != kFree) x0_ = std::max(x0_, lock_x_), x1_ = std::min(x1_, lock_x_);
    if (lock_y_ != kFree) y0_ = std::max(y0_, lock_y_), y1_ = std::min(y1_, lock_y_);
    if (++stamp_ == 0) {
        std::fill(std::begin(seen_), std::end(seen_), 0u);
        stamp_ = 1;
    }
    Best best;
    // Under a lock every candidate keeps its other offset.
    const auto lx = [&](int v) { return lock_x_ == kFree ? v : lock_x_; };
    const auto ly = [&](int v) { return lock_y_ == kFree ? v : lock_y_; };
    Try(lx(0), ly(0), best);
    for (int i = 0; i < count; ++i) Try(lx(candidates[i].x), ly(candidates[i].y), best);
    if (best.sad >= kGoodEnough && range_ > 0) {
        if (best.sad >= kPoorMatch) Grid(best);
        Diamond(best, 2);
        Diamond(best, 1);
        // The diagonal neighbours once more, all four tried.
        const int cx = best.dx, cy = best.dy;
        bool moved = false;
        for (const auto& d :
             {std::pair{1, 1}, std::pair{-1, 1}, std::pair{1, -1}, std::pair{-1, -1}})
            moved = Try(cx + d.first, cy + d.second, best) || moved;
        if (moved) Diamond(best, 1);
    }
    if (block_sums_) Exhaustive(best);
    found_ = best.cost < 1e30f;
    if (!found_) best = Best{};  // nothing allowed: stay in place
    *sad = best.sad;
    return MotionVector{static_cast<int8_t>(best.dx), static_cast<int8_t>(best.dy)};
}

}  // namespace vemo::encode
