// Bits of one audio block: little-endian 32-bit words read from the least
// significant bit up. Reads never go past the end of the bytes given; bits
// beyond it read as zero and are remembered as an overrun.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vemo::audio {

class BlockBits {
  public:
    BlockBits(const uint8_t* begin, const uint8_t* end)
        : next_(begin), end_(end), available_bits_(static_cast<uint64_t>(end - begin) * 8) {}

    // n from 1 to 32.
    uint32_t Read(unsigned n) {
        if (have_ < n) {
            buffer_ |= static_cast<uint64_t>(LoadWord()) << have_;
            have_ += 32;
        }
        const uint32_t value = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << n) - 1));
        buffer_ >>= n;
        have_ -= n;
        consumed_ += n;
        return value;
    }

    // A w-bit value (w from 1 to 15) and, when it is not 0, its sign bit:
    // returns v, or -v when the sign bit is 1.
    int32_t ReadSigned(unsigned w) {
        if (have_ < 16) {
            buffer_ |= static_cast<uint64_t>(LoadWord()) << have_;
            have_ += 32;
        }
        // Without branches: the sign bit is taken only when v is not 0.
        const uint32_t v = static_cast<uint32_t>(buffer_ & ((1u << w) - 1));
        const uint32_t nonzero = v != 0;
        const uint32_t negative = static_cast<uint32_t>(buffer_ >> w) & nonzero;
        const unsigned used = w + nonzero;
        buffer_ >>= used;
        have_ -= used;
        consumed_ += used;
        return static_cast<int32_t>((v ^ (0u - negative)) + negative);
    }

    // count values of ReadSigned(w), each times q, into out. The reader's
    // state stays in locals for the run. Values go two at a time: the second
    // is taken at both places it can start and the first one's sign bit
    // picks, so that the shifts from value to value do not wait on each other.
    void ReadSignedRun(unsigned w, float q, float* out, uint32_t count) {
        uint64_t buffer = buffer_;
        unsigned have = have_;
        uint64_t consumed = consumed_;
        const uint32_t mask = (1u << w) - 1;
        uint32_t i = 0;
        for (; i + 2 <= count; i += 2) {
            if (have < 32) {  // two values take at most 32 bits
                buffer |= static_cast<uint64_t>(LoadWord()) << have;
                have += 32;
            }
            const uint32_t v0 = static_cast<uint32_t>(buffer) & mask;
            const uint32_t nonzero0 = v0 != 0;
            const uint64_t after = buffer >> w, after_sign = buffer >> (w + 1);
            const uint32_t negative0 = static_cast<uint32_t>(after) & nonzero0;
            const uint64_t rest = nonzero0 ? after_sign : after;
            const uint32_t v1 = static_cast<uint32_t>(rest) & mask;
            const uint32_t nonzero1 = v1 != 0;
            const uint32_t negative1 = static_cast<uint32_t>(rest >> w) & nonzero1;
            buffer = rest >> (w + nonzero1);
            const unsigned used = 2 * w + nonzero0 + nonzero1;
            have -= used;
            consumed += used;
            out[i] = Signed(v0, negative0) * q;
            out[i + 1] = Signed(v1, negative1) * q;
        }
        if (i < count) {
            if (have < 16) {
                buffer |= static_cast<uint64_t>(LoadWord()) << have;
                have += 32;
            }
            const uint32_t v = static_cast<uint32_t>(buffer) & mask;
            const uint32_t nonzero = v != 0;
            const uint32_t negative = static_cast<uint32_t>(buffer >> w) & nonzero;
            const unsigned used = w + nonzero;
            buffer >>= used;
            have -= used;
            consumed += used;
            out[i] = Signed(v, negative) * q;
        }
        buffer_ = buffer;
        have_ = have;
        consumed_ = consumed;
    }

    uint64_t BitsConsumed() const { return consumed_; }
    // Whole words the bits read so far touch.
    uint64_t WordsTouched() const { return (consumed_ + 31) / 32; }
    bool Overran() const { return consumed_ > available_bits_; }

  private:
    static float Signed(uint32_t v, uint32_t negative) {
        return static_cast<float>(static_cast<int32_t>((v ^ (0u - negative)) + negative));
    }

    uint32_t LoadWord() {
        const size_t left = next_ < end_ ? static_cast<size_t>(end_ - next_) : 0;
        uint32_t word = 0;
        if (left >= 4) {
            word = static_cast<uint32_t>(next_[0]) | static_cast<uint32_t>(next_[1]) << 8 |
                   static_cast<uint32_t>(next_[2]) << 16 | static_cast<uint32_t>(next_[3]) << 24;
            next_ += 4;
        } else {
            for (size_t i = 0; i < left; ++i) word |= static_cast<uint32_t>(next_[i]) << (8 * i);
            next_ = end_;
        }
        return word;
    }

    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t available_bits_;
    uint64_t buffer_ = 0;
    unsigned have_ = 0;
    uint64_t consumed_ = 0;
};

}  // namespace vemo::audio
