#include "plane_builder.h"

#include <algorithm>
#include <stdexcept>

#include "video_internal.h"

namespace vemo::test {

void Bits::Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) {
        if (count_ % 32 == 0) words_.push_back(0);
        words_.back() |= ((value >> i) & 1u) << (count_ % 32);
        ++count_;
    }
}

void Bits::Append(const Bits& other) {
    for (uint64_t i = 0; i < other.count_; ++i) PutBit(other.words_[i / 32] >> (i % 32));
}

std::vector<uint8_t> Bits::Bytes() const {
    std::vector<uint8_t> out;
    for (uint32_t w : words_)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return out;
}

void PutNoCoefficients(Bits& bits, uint32_t q) {
    bits.Put(0, 4);  // N = 0
    bits.Put(q, 4);
}

namespace {

void PutSigned(Bits& bits, int v, int magnitude_bits) {
    bits.Put(static_cast<uint32_t>(v < 0 ? -v : v), magnitude_bits);
    if (v != 0) bits.PutBit(v < 0 ? 1 : 0);
}

// One fill of bundle `kind` holding `values` (identity trees, no fill flag).
void PutFill(Bits& bits, int kind, int width, const std::vector<int>& values, bool old_version) {
    bits.Put(static_cast<uint32_t>(values.size()), width);
    switch (kind) {
        case kBundleBlockTypes:
        case kBundleSubBlockTypes:
            bits.PutBit(0);
            for (int v : values) {
                if (v >= 12)
                    throw std::invalid_argument("block type values above 11 need a fill flag");
                bits.Put(static_cast<uint32_t>(v), 4);
            }
            break;
        case kBundleColours:
            bits.PutBit(0);
            for (int v : values) {
                uint32_t coded = static_cast<uint32_t>(v) & 0xFF;
                if (old_version)  // v = 128 + m or 128 - m, sent as m with bit 7 for minus
                    coded = coded >= 128 ? coded - 128 : ((128 - coded) | 0x80);
                bits.Put(coded >> 4, 4);  // high nibble tree (identity)
                bits.Put(coded & 15, 4);
            }
            break;
        case kBundlePatterns:
            for (int v : values) {
                bits.Put(static_cast<uint32_t>(v) & 15, 4);
                bits.Put((static_cast<uint32_t>(v) >> 4) & 15, 4);
            }
            break;
        case kBundleMotionX:
        case kBundleMotionY:
            bits.PutBit(0);
            for (int v : values) PutSigned(bits, v, 4);
            break;
        case kBundleIntraDc:
        case kBundleInterDc: {
            const bool is_signed = kind == kBundleInterDc;
            if (is_signed)
                PutSigned(bits, values[0], 10);
            else
                bits.Put(static_cast<uint32_t>(values[0]), 11);
            int running = values[0];
            for (size_t i = 1; i < values.size(); i += 8) {
                bits.Put(15, 4);
                for (size_t j = i; j < std::min(values.size(), i + 8); ++j) {
                    PutSigned(bits, values[j] - running, 15);
                    running = values[j];
                }
            }
            break;
        }
        case kBundleRuns:
            bits.PutBit(0);
            for (int v : values) bits.Put(static_cast<uint32_t>(v), 4);
            break;
        default:
            break;
    }
}

}  // namespace

std::vector<uint8_t> BuildPlane(uint32_t width, const std::vector<Row>& rows, bool old_version) {
    Bits bits;
    for (int t = 0; t < 23; ++t) bits.Put(0, 4);  // every tree: set 0, identity
    bool closed[kBundleCount] = {};
    size_t left[kBundleCount] = {};  // values of the current fill not yet used
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int k = 0; k < kBundleCount; ++k) {
            if (closed[k] || left[k]) continue;
            // A fill of as many whole rows as the buffer holds, from here on.
            const bool word = k == kBundleIntraDc || k == kBundleInterDc;
            const size_t capacity = BundleBufferBytes(width, k) / (word ? 2 : 1);
            std::vector<int> fill;
            for (size_t q = r; q < rows.size(); ++q) {
                const auto& v = rows[q].values[k];
                if (!fill.empty() && fill.size() + v.size() > capacity) break;
                fill.insert(fill.end(), v.begin(), v.end());
            }
            const int w =
                video::LengthFieldWidth(static_cast<uint32_t>(BundleCountBasis(width, k)));
            if (fill.empty()) {
                bits.Put(0, w);
                closed[k] = true;
            } else {
                PutFill(bits, k, w, fill, old_version);
                left[k] = fill.size();
            }
        }
        for (int k = 0; k < kBundleCount; ++k)
            left[k] -= std::min(left[k], rows[r].values[k].size());
        bits.Append(rows[r].bits);
    }
    return bits.Bytes();
}

}  // namespace vemo::test
