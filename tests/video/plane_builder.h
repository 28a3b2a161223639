// Builds small plane bitstreams for the decoder tests: a bit writer (32-bit
// little-endian words, least-significant bit first) and a plane builder that
// sends identity code trees, fills each bundle at a row start with the
// values of as many whole rows as its buffer holds, and closes a bundle once
// no later row uses it.
#pragma once

#include <cstdint>
#include <vector>

#include "vemo/video_decoder.h"

namespace vemo::test {

class Bits {
  public:
    void Put(uint32_t value, int n);
    void PutBit(uint32_t bit) { Put(bit & 1, 1); }
    void Append(const Bits& other);
    uint64_t count() const { return count_; }
    std::vector<uint8_t> Bytes() const;  // whole words, zero padded

  private:
    std::vector<uint32_t> words_;
    uint64_t count_ = 0;
};

// Coefficient bits of a block without AC coefficients (N = 0) and quantiser q.
void PutNoCoefficients(Bits& bits, uint32_t q);

// One block row of a plane: the values each bundle hands out in this row
// (logical values: block types, colours 0-255, signed offsets, DC values)
// and the row's own bitstream fields, in order.
struct Row {
    std::vector<int> values[kBundleCount];
    Bits bits;
};

// The plane's bitstream. With old_version colours are sent in the older
// versions' sign-magnitude form so that they decode to the given values.
std::vector<uint8_t> BuildPlane(uint32_t width, const std::vector<Row>& rows,
                                bool old_version = false);

}  // namespace vemo::test
