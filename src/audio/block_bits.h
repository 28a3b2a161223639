// Bits of one audio block: little-endian 32-bit words read from the least
// significant bit up, which is one stream of bits in byte order. Reads never
// go past the end of the bytes given; bits beyond it read as zero and are
// remembered as an overrun.
//
// The reader's state is just the position of the next bit: every field is
// taken from an unaligned 64-bit load at that position, so fields whose
// positions are known in advance load independently of each other.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vemo::audio {

// The readable bytes an eight-value kernel needs from its start.
constexpr uint32_t kEightValuesBytes = 24;

// Eight w-bit values (w from 1 to 15) at bit offsets offset + i (w + 1),
// offset 0 to 7, of the little-endian bit stream at bytes, each followed by
// its sign bit, taken as if none of them were 0: out[i] is v or -v. Returns
// a mask with bit i set when value i is 0 (its sign bit then belongs to the
// next value).
uint32_t PlainEightValues(const uint8_t* bytes, unsigned offset, unsigned w, int32_t* out);

class BlockBits {
  public:
    BlockBits(const uint8_t* begin, const uint8_t* end)
        : begin_(begin), size_(end > begin ? static_cast<size_t>(end - begin) : 0) {}

    // The 57 or more bits from bit position pos on, in the low end (bits past
    // the end of the block read as zero).
    uint64_t Window(uint64_t pos) const {
        const uint64_t byte = pos >> 3;
        return (byte + 8 <= size_ ? Load(byte) : LoadNearEnd(byte)) >> (pos & 7);
    }
    // Whether the bytes from the current position on hold `bytes` more, so
    // that windows up to `bytes` - 8 bytes ahead need no check.
    bool Holds(uint64_t bytes) const { return (pos_ >> 3) + bytes <= size_; }
    // Window() for a position inside what Holds() confirmed.
    uint64_t WindowInside(uint64_t pos) const { return Load(pos >> 3) >> (pos & 7); }

    uint64_t Position() const { return pos_; }
    void Skip(uint64_t n) { pos_ += n; }

    // n from 1 to 32.
    uint32_t Read(unsigned n) {
        const uint32_t value = static_cast<uint32_t>(Window(pos_) & ((uint64_t{1} << n) - 1));
        pos_ += n;
        return value;
    }

    // A w-bit value (w from 1 to 15) and, when it is not 0, its sign bit:
    // returns v, or -v when the sign bit is 1.
    int32_t ReadSigned(unsigned w) {
        uint64_t x = Window(pos_);
        return TakeSigned(x, w, (1u << w) - 1);
    }

    // count values of ReadSigned(w), each times q, into out.
    void ReadSignedRun(unsigned w, float q, float* out, uint32_t count);

    // count values of ReadSigned(w) into out. While eight or more are left
    // and the block holds their bits, eight(bytes, bit offset, w, out) takes
    // eight as if none were 0 and returns a mask of the zeros (as
    // PlainEightValues); the values stand up to the first 0, and the next
    // ones start at its end. The rest go one by one, from one window when it
    // holds them.
    template <class Eight>
    void ReadSignedValues(unsigned w, int32_t* out, uint32_t count, Eight eight) {
        while (count >= 8 && Holds(kEightValuesBytes)) {
            const uint32_t zero = eight(begin_ + (pos_ >> 3), pos_ & 7, w, out);
            // A branch, not a selection: the next position then need not wait
            // for the values.
            if (zero == 0) [[likely]] {
                pos_ += 8 * (w + 1);
                out += 8;
                count -= 8;
                continue;
            }
            const uint32_t done = static_cast<uint32_t>(std::countr_zero(zero)) + 1;
            pos_ += done * (w + 1) - 1;
            out += done;
            count -= done;
        }
        const uint32_t mask = (1u << w) - 1;
        if (count * (w + 1) <= 56 && Holds(8)) {
            uint64_t x = WindowInside(pos_);
            for (; count; --count) *out++ = TakeSigned(x, w, mask);
        }
        for (; count; --count) *out++ = ReadSigned(w);
    }

    uint64_t BitsConsumed() const { return pos_; }
    // Whole words the bits read so far touch.
    uint64_t WordsTouched() const { return (pos_ + 31) / 32; }
    bool Overran() const { return pos_ > uint64_t{size_} * 8; }

  private:
    uint64_t Load(uint64_t byte) const {
        uint64_t word;
        std::memcpy(&word, begin_ + byte, 8);
        if constexpr (std::endian::native == std::endian::little) {
            return word;
        } else {
            uint64_t v = 0;
            for (int i = 0; i < 8; ++i) v |= ((word >> (8 * (7 - i))) & 0xFF) << (8 * i);
            return v;
        }
    }

    // Byte by byte, zero bytes past the end.
    uint64_t LoadNearEnd(uint64_t byte) const {
        uint64_t word = 0;
        for (uint64_t i = 0; i < 8 && byte + i < size_; ++i)
            word |= static_cast<uint64_t>(begin_[byte + i]) << (8 * i);
        return word;
    }

    // One value from the window x (at least w + 1 bits left), which moves on
    // with the position. Without branches: the sign bit is taken only when v
    // is not 0.
    int32_t TakeSigned(uint64_t& x, unsigned w, uint32_t mask) {
        const uint32_t v = static_cast<uint32_t>(x) & mask;
        const uint32_t nonzero = v != 0;
        const uint32_t negative = static_cast<uint32_t>(x >> w) & nonzero;
        const unsigned used = w + nonzero;
        x >>= used;
        pos_ += used;
        return static_cast<int32_t>((v ^ (0u - negative)) + negative);
    }

    const uint8_t* begin_;
    size_t size_;
    uint64_t pos_ = 0;  // bits read, counting those past the end
};

}  // namespace vemo::audio
