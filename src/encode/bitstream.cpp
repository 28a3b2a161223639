// Bit packing, prefix codes, code trees and the coefficient and residue list
// codings.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <numeric>

#include "tables.h"
#include "vemo/video_writer.h"

namespace vemo {

// ---- BitWriter ---------------------------------------------------------------

void BitWriter::WriteBits(uint32_t value, unsigned n) {
    if (n == 0) return;
    if (n < 32) value &= (1u << n) - 1;
    const unsigned used = static_cast<unsigned>(bit_count_ & 31);
    if (used == 0) {
        words_.push_back(value);
    } else {
        words_.back() |= value << used;
        if (used + n > 32) words_.push_back(value >> (32 - used));
    }
    bit_count_ += n;
}

void BitWriter::Append(const BitWriter& other) {
    size_t left = other.bit_count_;
    for (uint32_t word : other.words_) {
        const unsigned n = left >= 32 ? 32 : static_cast<unsigned>(left);
        WriteBits(word, n);
        left -= n;
    }
}

std::vector<uint8_t> BitWriter::Bytes() const {
    std::vector<uint8_t> bytes(words_.size() * 4);
    for (size_t i = 0; i < words_.size(); ++i) {
        for (int b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<uint8_t>(words_[i] >> (8 * b));
    }
    return bytes;
}

// ---- Prefix codes and trees --------------------------------------------------

PrefixCode CodeOf(int set, int code) {
    return PrefixCode{encode::kCodeLength[set & 15][code & 15],
                      encode::kCodeValue[set & 15][code & 15]};
}

void WriteSymbol(BitWriter& out, const CodeTree& tree, int symbol) {
    for (int c = 0; c < 16; ++c) {
        if (tree.map[c] == symbol) {
            const PrefixCode code = CodeOf(tree.set, c);
            out.WriteBits(code.value, code.length);
            return;
        }
    }
}

namespace {

bool IsPermutation(const CodeTree& tree) {
    unsigned seen = 0;
    for (uint8_t v : tree.map) {
        if (v > 15 || (seen & (1u << v))) return false;
        seen |= 1u << v;
    }
    return true;
}

// Merge bits of pass k (runs of 2^k merged pairwise) for the final order map.
void MergePassBits(const CodeTree& tree, int k, BitWriter* out, int* count) {
    const int half = 1 << k;
    for (int start = 0; start < 16; start += 2 * half) {
        int left_a = half, left_b = half;
        for (int pos = 0; pos < 16 && left_a > 0 && left_b > 0; ++pos) {
            const int v = tree.map[pos];
            if (v < start || v >= start + 2 * half) continue;
            const bool from_b = v >= start + half;
            if (out) out->WriteBit(from_b ? 1 : 0);
            ++*count;
            if (from_b) {
                --left_b;
            } else {
                --left_a;
            }
        }
    }
}

}  // namespace

bool CodeTreeFits(const CodeTree& tree, TreeForm form, int param) {
    if (tree.set > 15 || !IsPermutation(tree)) return false;
    switch (form) {
        case TreeForm::kIdentity:
            if (tree.set != 0) return false;
            for (int i = 0; i < 16; ++i)
                if (tree.map[i] != i) return false;
            return true;
        case TreeForm::kExplicit: {
            if (tree.set == 0 || param < 0 || param > 7) return false;
            unsigned listed = 0;
            for (int i = 0; i <= param; ++i) listed |= 1u << tree.map[i];
            int pos = param + 1;
            for (int v = 0; v < 16; ++v) {
                if (listed & (1u << v)) continue;
                if (tree.map[pos++] != v) return false;
            }
            return true;
        }
        case TreeForm::kMerge: {
            if (tree.set == 0 || param < 0 || param > 3) return false;
            const int run = 2 << param;
            for (int i = 0; i < 16; ++i)
                if (tree.map[i] / run != i / run) return false;
            return true;
        }
    }
    return false;
}

int CodeTreeBits(const CodeTree& tree, TreeForm form, int param) {
    if (!CodeTreeFits(tree, form, param)) return -1;
    switch (form) {
        case TreeForm::kIdentity:
            return 4;
        case TreeForm::kExplicit:
            return 4 + 1 + 3 + 4 * (param + 1);
        case TreeForm::kMerge: {
            int count = 0;
            for (int k = 0; k <= param; ++k) MergePassBits(tree, k, nullptr, &count);
            return 4 + 1 + 2 + count;
        }
    }
    return -1;
}

bool WriteCodeTree(BitWriter& out, const CodeTree& tree, TreeForm form, int param) {
    if (!CodeTreeFits(tree, form, param)) return false;
    out.WriteBits(tree.set, 4);
    if (form == TreeForm::kIdentity) return true;
    if (form == TreeForm::kExplicit) {
        out.WriteBit(1);
        out.WriteBits(static_cast<uint32_t>(param), 3);
        for (int i = 0; i <= param; ++i) out.WriteBits(tree.map[i], 4);
        return true;
    }
    out.WriteBit(0);
    out.WriteBits(static_cast<uint32_t>(param), 2);
    int count = 0;
    for (int k = 0; k <= param; ++k) MergePassBits(tree, k, &out, &count);
    return true;
}

ChosenTree ChooseCodeTree(const std::array<uint32_t, 16>& counts) {
    ChosenTree best;
    uint64_t total = 0;
    for (uint32_t c : counts) total += c;
    best.bits = 4 + 4 * total;
    if (total == 0) return best;

    std::array<int, 16> by_count;
    std::iota(by_count.begin(), by_count.end(), 0);
    std::stable_sort(by_count.begin(), by_count.end(),
                     [&](int a, int b) { return counts[a] > counts[b]; });
    for (int set = 1; set < 16; ++set) {
        std::array<int, 16> by_length;
        std::iota(by_length.begin(), by_length.end(), 0);
        std::stable_sort(by_length.begin(), by_length.end(), [&](int a, int b) {
            return encode::kCodeLength[set][a] < encode::kCodeLength[set][b];
        });
        // Every permutation can be sent as a four-pass merge.
        CodeTree full;
        full.set = static_cast<uint8_t>(set);
        for (int i = 0; i < 16; ++i) full.map[by_length[i]] = static_cast<uint8_t>(by_count[i]);
        auto symbol_bits = [&](const CodeTree& t) {
            uint64_t bits = 0;
            for (int c = 0; c < 16; ++c)
                bits += uint64_t{counts[t.map[c]]} * encode::kCodeLength[set][c];
            return bits;
        };
        for (int d = 0; d <= 3; ++d) {
            const int tb = CodeTreeBits(full, TreeForm::kMerge, d);
            if (tb < 0) continue;
            const uint64_t bits = static_cast<uint64_t>(tb) + symbol_bits(full);
            if (bits < best.bits) best = ChosenTree{full, TreeForm::kMerge, d, bits};
        }
        // Explicit lists: the n + 1 commonest symbols on codes 0..n.
        for (int n = 0; n <= 7; ++n) {
            CodeTree t;
            t.set = static_cast<uint8_t>(set);
            unsigned listed = 0;
            for (int i = 0; i <= n; ++i) {
                t.map[i] = static_cast<uint8_t>(by_count[i]);
                listed |= 1u << by_count[i];
            }
            int pos = n + 1;
            for (int v = 0; v < 16; ++v)
                if (!(listed & (1u << v))) t.map[pos++] = static_cast<uint8_t>(v);
            const uint64_t bits =
                static_cast<uint64_t>(CodeTreeBits(t, TreeForm::kExplicit, n)) + symbol_bits(t);
            if (bits < best.bits) best = ChosenTree{t, TreeForm::kExplicit, n, bits};
        }
    }
    return best;
}

// ---- Coefficient and residue lists --------------------------------------------

namespace {

// The significance list: a front part growing downwards and a back part
// growing at the end. Entries are scan index * 4 + mode; 0 is empty.
struct SignificanceList {
    uint8_t entry[256] = {};
    int first = 128, last = 128;
    void PushFront(int v) { entry[--first] = static_cast<uint8_t>(v); }
    void PushBack(int v) { entry[last++] = static_cast<uint8_t>(v); }
};

bool AnyAtLeast(const int mag[64], int from, int count, int threshold) {
    for (int k = from; k < from + count; ++k)
        if (mag[k] >= threshold) return true;
    return false;
}

int TopBit(int v) {
    int b = -1;
    while (v) {
        ++b;
        v >>= 1;
    }
    return b;
}

// Walks one pass of the list as the reader does, writing the bits that make
// it find the magnitudes mag at threshold. on_value(k) is called where the
// reader takes a value for scan index k; it returns false to end everything.
template <typename OnValue>
bool WalkPass(SignificanceList& list, const int mag[64], int threshold, BitWriter& out,
              OnValue on_value) {
    auto group = [&](int c) {
        for (int k = c; k < c + 4; ++k) {
            if (mag[k] >= threshold) {
                out.WriteBit(0);
                if (!on_value(k)) return false;
            } else {
                out.WriteBit(1);
                list.PushFront(k * 4 + 3);
            }
        }
        return true;
    };
    int i = list.first;
    while (i < list.last) {
        const int e = list.entry[i];
        if (e == 0) {
            ++i;
            continue;
        }
        const int c = e >> 2;
        switch (e & 3) {
            case 0: {
                const bool sig = AnyAtLeast(mag, c, 20, threshold);
                out.WriteBit(sig);
                if (!sig) {
                    ++i;
                    break;
                }
                list.entry[i] = static_cast<uint8_t>((c + 4) * 4 + 1);
                if (!group(c)) return false;
                break;
            }
            case 1: {
                const bool sig = AnyAtLeast(mag, c, 16, threshold);
                out.WriteBit(sig);
                if (!sig) {
                    ++i;
                    break;
                }
                list.entry[i] = static_cast<uint8_t>(c * 4 + 2);
                list.PushBack((c + 4) * 4 + 2);
                list.PushBack((c + 8) * 4 + 2);
                list.PushBack((c + 12) * 4 + 2);
                break;
            }
            case 2: {
                const bool sig = AnyAtLeast(mag, c, 4, threshold);
                out.WriteBit(sig);
                ++i;
                if (!sig) break;
                list.entry[i - 1] = 0;
                if (!group(c)) return false;
                break;
            }
            default: {
                const bool sig = mag[c] >= threshold;
                out.WriteBit(sig);
                ++i;
                if (!sig) break;
                list.entry[i - 1] = 0;
                if (!on_value(c)) return false;
                break;
            }
        }
    }
    return true;
}

}  // namespace

bool WriteCoefficients(BitWriter& out, const int16_t coef[64]) {
    int mag[64] = {};
    bool negative[64] = {};
    int top = -1;
    for (int k = 1; k < 64; ++k) {
        const int v = coef[kCoefficientScan[k]];
        if (v < -32767) return false;
        mag[k] = std::abs(v);
        negative[k] = v < 0;
        top = std::max(top, TopBit(mag[k]));
    }
    const int passes = top + 1;  // 0..15
    out.WriteBits(static_cast<uint32_t>(passes), 4);
    SignificanceList list;
    for (int v : {4 * 4, 24 * 4, 44 * 4, 1 * 4 + 3, 2 * 4 + 3, 3 * 4 + 3}) list.PushBack(v);
    for (int bits = passes - 1; bits >= 0; --bits) {
        const int threshold = 1 << bits;
        WalkPass(list, mag, threshold, out, [&](int k) {
            if (bits == 0) {
                out.WriteBit(negative[k] ? 1 : 0);
            } else {
                const uint32_t t = (static_cast<uint32_t>(mag[k]) & (threshold - 1u)) |
                                   (negative[k] ? 1u << bits : 0u);
                out.WriteBits(t, static_cast<unsigned>(bits + 1));
            }
            return true;
        });
    }
    return true;
}

int ResidueChanges(const int8_t residue[64]) {
    int changes = 0;
    for (int i = 0; i < 64; ++i)
        changes += std::popcount(static_cast<unsigned>(std::abs(int{residue[i]})));
    return changes;
}

bool WriteResidue(BitWriter& out, const int8_t residue[64]) {
    const int changes_needed = ResidueChanges(residue);
    if (changes_needed > 128) return false;
    int mag[64];
    bool negative[64];
    int top = 0;
    for (int k = 0; k < 64; ++k) {
        const int v = residue[kCoefficientScan[k]];
        mag[k] = std::abs(v);
        negative[k] = v < 0;
        top = std::max(top, TopBit(mag[k]));
    }
    // The budget: the reader stops right after change budget + 1.
    out.WriteBits(static_cast<uint32_t>(changes_needed > 0 ? changes_needed - 1 : 0), 7);
    out.WriteBits(static_cast<uint32_t>(top), 3);
    SignificanceList list;
    for (int v : {4 * 4, 24 * 4, 44 * 4, 0 * 4 + 2}) list.PushBack(v);
    std::vector<int> nonzero;
    int changes = 0;
    auto done = [&] { return changes_needed > 0 && changes == changes_needed; };
    for (int mask = 1 << top; mask >= 1; mask >>= 1) {
        for (int k : nonzero) {
            const bool bit = (mag[k] & mask) != 0;
            out.WriteBit(bit);
            if (bit && (++changes, done())) return true;
        }
        // Magnitudes the walk has not given yet: below the top bit they are
        // not significant for the list.
        int pending[64];
        for (int k = 0; k < 64; ++k) pending[k] = mag[k];
        for (int k : nonzero) pending[k] = 0;
        const bool finished = !WalkPass(list, pending, mask, out, [&](int k) {
            out.WriteBit(negative[k] ? 1 : 0);
            nonzero.push_back(k);
            ++changes;
            return !done();
        });
        if (finished) return true;
    }
    return true;
}

// ---- Length fields -----------------------------------------------------------

unsigned BundleLengthBits(uint32_t c) {
    uint32_t v = c + 511;
    unsigned bits = 0;
    while (v) {
        ++bits;
        v >>= 1;
    }
    return bits > 15 ? 15 : bits;
}

}  // namespace vemo
