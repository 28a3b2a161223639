// Per-block decisions of the video encoder: for one 8x8 block every block
// type the decoder knows is weighed by its squared error plus lambda times
// its bits, with bits counted exactly for coefficient and residue lists and
// taken from the previous frame's code trees for bundle symbols.
#pragma once

#include <cstdint>
#include <vector>

#include "motion_search.h"
#include "rate.h"

namespace vemo::encode {

struct PlaneView {
    const uint8_t* p;
    uint32_t w, h;
    const uint8_t* At(int x, int y) const { return p + static_cast<ptrdiff_t>(y) * w + x; }
};

struct Block {
    uint8_t type = 9;  // raw
    int8_t dx = 0, dy = 0;
    uint8_t q = 0;
    int16_t coef[64] = {};
    int8_t residue[64] = {};
    uint8_t c0 = 0, c1 = 0, pattern[8] = {};
    uint8_t recon[64] = {};
    float cost = 0;
};

// What every block of one plane in one frame shares.
struct PlaneJob {
    PlaneView src;
    const PlaneView* ref = nullptr;  // null for a key frame
    int q = 0, range = 0;
    float lambda = 1;
    PlaneRates rates;
    uint32_t bw = 0, bh = 0;  // blocks across and down
    // Motion fields, one vector per block: this frame's (written by the
    // decisions), the previous frame's, and for chroma this frame's luma.
    MotionVector* field = nullptr;
    const MotionVector* previous = nullptr;
    const MotionVector* luma = nullptr;
    uint32_t luma_bw = 0, luma_bh = 0;
    // For an exhaustive motion search: the sum of the reference's 8x8 block
    // at every position (stride ref->w), else null.
    const uint16_t* block_sums = nullptr;
    // A row tries holding an offset that at least 1 / hold_share of its
    // vectors have.
    int hold_share = 2;
    // Small pictures: motion copies are tried at the neighbours of the
    // offset found and at the predicted ones, and the coefficients of chosen
    // transform blocks are refined by their cost.
    bool thorough = false;
    // Per block (bw x bh), when not null: the quantiser and lambda that
    // block is decided with in place of q and lambda.
    const uint8_t* block_q = nullptr;
    const float* block_lambda = nullptr;
};

// rates with every offset size of each axis at their mean. A first pass of
// decisions under them lets the vectors follow the motion rather than the
// sizes the last frame's trees favoured; the trees the pass gives then price
// the sizes that the motion really has.
PlaneRates EvenOffsetRates(const PlaneRates& rates);

class BlockCoder {
  public:
    explicit BlockCoder(const PlaneJob& job);
    // The block at block column bx, row by; raw_allowed is false when the
    // row's colours would overflow one colour fill.
    Block Decide(uint32_t bx, uint32_t by, bool raw_allowed);
    // Holds the offsets of the following blocks' vectors (MotionSearch::Lock);
    // a held offset is sent once for the row, so the blocks are not charged
    // for it.
    void Lock(int x, int y);
    // A 16x16 area (row-major) drawn as a scaled intra block: the cost, and
    // the coefficients, quantiser and samples the decoder draws.
    float ScaledIntra(const uint8_t area[256], int16_t coef[64], uint8_t* q,
                      uint8_t recon[256]) const;
    // Decides what follows (ScaledIntra) with the quantiser and lambda of
    // block bx, by; Decide does so itself.
    void UseBlock(uint32_t bx, uint32_t by);
    // The type of the block before the next one in its row (none: 255).
    void set_previous_type(uint8_t type) { previous_type_ = type; }

  private:
    int Candidates(uint32_t bx, uint32_t by, MotionVector* out) const;
    void Consider(Block& best, uint8_t type, int dx, int dy, const uint8_t recon[64], float cost);
    void TryFill(const uint8_t t[64], Block& best);
    void TryPattern(const uint8_t t[64], Block& best);
    void TryTransform(const uint8_t t[64], const uint8_t* moved, int dx, int dy, Block& best);
    float TransformCost(const uint8_t t[64], const uint8_t* moved, const int16_t coef[64], int q,
                        uint8_t recon[64]) const;
    // Moves the coefficients of the chosen intra or inter block (moved: the
    // block it adds to, else null) towards zero where that costs less.
    void RefineLevels(const uint8_t t[64], const uint8_t* moved, Block& best) const;
    void TryResidue(const uint8_t t[64], const uint8_t moved[64], int dx, int dy, Block& best);
    void TryCopies(const uint8_t t[64], int x, int y, MotionVector found,
                   const MotionVector* candidates, int count, Block& best);
    void TryInterBlocks(const uint8_t t[64], uint32_t bx, uint32_t by, Block& best);
    // Bits of a vector's offsets in their bundles.
    float OffsetBits(int dx, int dy) const;
    // Bits of a block type after the one before it.
    float TypeBits(uint8_t type) const;

    const PlaneJob& job_;
    MotionSearch search_;
    BlockMeasure sse_;
    const uint32_t* intra_rows_[16];
    const uint32_t* inter_rows_[16];
    uint8_t previous_type_ = 255;
    int q_;
    float lambda_;
    int lock_x_ = MotionSearch::kFree, lock_y_ = MotionSearch::kFree;
};

}  // namespace vemo::encode
