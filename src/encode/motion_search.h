// Motion search over the whole offset range the format allows (-15..15 in
// each direction): the predicted vectors first, a coarse grid only when none
// of them fits, then diamond steps down to single samples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_kernels.h"

namespace vemo::encode {

struct MotionVector {
    int8_t x = 0, y = 0;
    bool operator==(const MotionVector&) const = default;
};

class MotionSearch {
  public:
    // ref: the reference plane (w x h samples, stride w); range 0-15.
    // offset_bits[m]: bits an offset of size m costs (sign included);
    // lambda converts them into sums of absolute differences.
    MotionSearch(const uint8_t* ref, int w, int h, int range, float lambda,
                 const float (&offset_bits_x)[16], const float (&offset_bits_y)[16]);
    // Makes every search exhaustive over the allowed offsets. block_sums:
    // the sum of the reference's 8x8 block at every position (stride w), by
    // which offsets that cannot beat the best so far are passed over.
    void set_exhaustive(const uint16_t* block_sums) { block_sums_ = block_sums; }

    // The best vector for the 8x8 target (stride 8) at (x, y), trying the
    // candidates first. *sad gets the sum of absolute differences there.
    MotionVector Find(const uint8_t target[64], int x, int y, const MotionVector* candidates,
                      int count, uint32_t* sad);
    // Holds the horizontal or vertical offset of the following searches at
    // one value (kFree: searched); a block that cannot take it gets no vector.
    static constexpr int kFree = 99;
    void Lock(int x, int y) { lock_x_ = x, lock_y_ = y; }
    // Whether the last Find's block may take offset (dx, dy).
    bool Allowed(int dx, int dy) const { return dx >= x0_ && dx <= x1_ && dy >= y0_ && dy <= y1_; }
    // Whether the last Find found an allowed offset.
    bool found() const { return found_; }

  private:
    struct Best {
        int dx = 0, dy = 0;
        float cost = 1e30f;
        uint32_t sad = 0;
    };
    // Measures offset (dx, dy) once per block; true when it became the best.
    bool Try(int dx, int dy, Best& best);
    void Diamond(Best& best, int step);
    void Grid(Best& best);
    void Exhaustive(Best& best);

    const uint8_t* ref_;
    int w_, h_, range_;
    float lambda_;
    const float* bits_x_;
    const float* bits_y_;
    BlockMeasure sad_;
    // Per block: the target, its position, the allowed offsets, and which
    // offsets were measured (a stamp per offset, the block's number).
    const uint16_t* block_sums_ = nullptr;
    const uint8_t* target_ = nullptr;
    int x_ = 0, y_ = 0, x0_ = 0, x1_ = 0, y0_ = 0, y1_ = 0;
    uint32_t stamp_ = 0;
    int lock_x_ = kFree, lock_y_ = kFree;
    bool found_ = false;
    uint32_t seen_[31 * 31] = {};
};

}  // namespace vemo::encode
