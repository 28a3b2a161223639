// The bit writer, prefix codes, code trees and the coefficient and residue
// list codings, read back by a small reader written from the format's rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "vemo/video_writer.h"

namespace vemo {
namespace {

// Reads bits least-significant first from little-endian 32-bit words.
class TestReader {
  public:
    explicit TestReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos_) {
            const size_t byte = pos_ / 8;
            const uint32_t bit = byte < bytes_.size() ? (bytes_[byte] >> (pos_ % 8)) & 1 : 0;
            v |= bit << i;
        }
        return v;
    }
    int Symbol(const CodeTree& tree) {
        // Codes are prefix-free: take bits until one matches.
        uint32_t v = 0;
        for (int len = 1; len <= 7; ++len) {
            v |= Bits(1) << (len - 1);
            for (int c = 0; c < 16; ++c) {
                const PrefixCode code = CodeOf(tree.set, c);
                if (code.length == len && code.value == v) return tree.map[c];
            }
        }
        return -1;
    }
    size_t position() const { return pos_; }

  private:
    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
};

CodeTree ReadTree(TestReader& r) {
    CodeTree t;
    t.set = static_cast<uint8_t>(r.Bits(4));
    if (t.set == 0) return t;
    if (r.Bits(1)) {
        const int n = static_cast<int>(r.Bits(3));
        std::vector<int> listed;
        for (int i = 0; i <= n; ++i) listed.push_back(static_cast<int>(r.Bits(4)));
        int pos = 0;
        for (int v : listed) t.map[pos++] = static_cast<uint8_t>(v);
        for (int v = 0; v < 16; ++v)
            if (std::find(listed.begin(), listed.end(), v) == listed.end())
                t.map[pos++] = static_cast<uint8_t>(v);
        return t;
    }
    const int d = static_cast<int>(r.Bits(2));
    std::vector<int> list(16);
    for (int i = 0; i < 16; ++i) list[i] = i;
    for (int k = 0; k <= d; ++k) {
        const int len = 1 << k;
        std::vector<int> next;
        for (int s = 0; s < 16; s += 2 * len) {
            size_t a = s, b = s + len;
            const size_t ae = s + len, be = s + 2 * len;
            while (a < ae && b < be) next.push_back(r.Bits(1) ? list[b++] : list[a++]);
            while (a < ae) next.push_back(list[a++]);
            while (b < be) next.push_back(list[b++]);
        }
        list = next;
    }
    for (int i = 0; i < 16; ++i) t.map[i] = static_cast<uint8_t>(list[i]);
    return t;
}

// The list walk shared by both codings. value(c) reads a value for scan
// index c and returns false when the walk must end.
template <typename Value>
bool Walk(TestReader& r, std::vector<int>& front, std::vector<int>& back, Value value) {
    // The walk covers the front part (in order) and then the back part.
    std::vector<int> new_front;
    auto group = [&](int c) {
        for (int k = c; k < c + 4; ++k) {
            if (r.Bits(1)) {
                new_front.push_back(k * 4 + 3);
            } else if (!value(k)) {
                return false;
            }
        }
        return true;
    };
    auto visit = [&](std::vector<int>& list, size_t i) -> int {  // 1 next, 0 stay, -1 end
        int& e = list[i];
        if (e == 0) return 1;
        const int c = e >> 2;
        if (!r.Bits(1)) return 1;
        switch (e & 3) {
            case 0:
                e = (c + 4) * 4 + 1;
                return group(c) ? 0 : -1;
            case 1:
                e = c * 4 + 2;
                back.push_back((c + 4) * 4 + 2);
                back.push_back((c + 8) * 4 + 2);
                back.push_back((c + 12) * 4 + 2);
                return 0;
            case 2:
                e = 0;
                return group(c) ? 1 : -1;
            default:
                e = 0;
                return value(c) ? 1 : -1;
        }
    };
    for (size_t i = 0; i < front.size();) {
        const int s = visit(front, i);
        if (s < 0) return false;
        i += static_cast<size_t>(s);
    }
    for (size_t i = 0; i < back.size();) {
        const int s = visit(back, i);
        if (s < 0) return false;
        i += static_cast<size_t>(s);
    }
    // Entries put at the front go before the current first, newest first.
    std::reverse(new_front.begin(), new_front.end());
    new_front.insert(new_front.end(), front.begin(), front.end());
    front = new_front;
    return true;
}

void ReadCoefficientsForTest(TestReader& r, int16_t coef[64]) {
    for (int i = 1; i < 64; ++i) coef[i] = 0;
    std::vector<int> front, back{4 * 4, 24 * 4, 44 * 4, 1 * 4 + 3, 2 * 4 + 3, 3 * 4 + 3};
    const int n = static_cast<int>(r.Bits(4));
    for (int bits = n - 1; bits >= 0; --bits) {
        Walk(r, front, back, [&](int c) {
            int v;
            if (bits == 0) {
                v = r.Bits(1) ? -1 : 1;
            } else {
                const uint32_t t = r.Bits(bits + 1);
                v = static_cast<int>((t & ((1u << bits) - 1)) | (1u << bits));
                if (t >> bits) v = -v;
            }
            coef[kCoefficientScan[c]] = static_cast<int16_t>(v);
            return true;
        });
    }
}

void ReadResidueForTest(TestReader& r, int8_t residue_natural[64]) {
    int8_t res[64] = {};
    const int budget = static_cast<int>(r.Bits(7));
    std::vector<int> front, back{4 * 4, 24 * 4, 44 * 4, 0 * 4 + 2}, nonzero;
    int changes = 0;
    const int e = static_cast<int>(r.Bits(3));
    bool ended = false;
    for (int mask = 1 << e; mask >= 1 && !ended; mask >>= 1) {
        for (int k : nonzero) {
            if (r.Bits(1)) {
                res[k] = static_cast<int8_t>(res[k] >= 0 ? res[k] + mask : res[k] - mask);
                if (++changes > budget) {
                    ended = true;
                    break;
                }
            }
        }
        if (ended) break;
        ended = !Walk(r, front, back, [&](int c) {
            res[c] = static_cast<int8_t>(r.Bits(1) ? -mask : mask);
            nonzero.push_back(c);
            return ++changes <= budget;
        });
    }
    for (int k = 0; k < 64; ++k) residue_natural[kCoefficientScan[k]] = res[k];
}

TEST(BitWriter, PacksLeastSignificantBitFirstIntoLittleEndianWords) {
    BitWriter w;
    w.WriteBits(0x5, 3);   // bits 0-2
    w.WriteBits(0x1, 1);   // bit 3
    w.WriteBits(0xAB, 8);  // bits 4-11
    w.WriteBits(0x3FFFF, 18);
    w.WriteBits(0x2, 3);  // crosses into the second word
    EXPECT_EQ(w.BitCount(), 33u);
    ASSERT_EQ(w.Words().size(), 2u);
    EXPECT_EQ(w.Words()[0], 0x5u | 0x8u | (0xABu << 4) | (0x3FFFFu << 12) | (0x2u << 30));
    EXPECT_EQ(w.Words()[1], 0u);
    const std::vector<uint8_t> bytes = w.Bytes();
    ASSERT_EQ(bytes.size(), 8u);
    EXPECT_EQ(bytes[0], (0x5 | 0x8 | (0xB << 4)) & 0xFF);
    EXPECT_EQ(bytes[1], 0xFA);  // 0xA then the first four bits of 0x3FFFF

    BitWriter a, b;
    a.WriteBits(1, 1);
    b.WriteBits(0xFFFFFFFFu, 32);
    b.WriteBits(0x6, 3);
    a.Append(b);
    EXPECT_EQ(a.BitCount(), 36u);
    EXPECT_EQ(a.Words()[0], 0xFFFFFFFFu);
    EXPECT_EQ(a.Words()[1], 0x1u | (0x6u << 1));
}

TEST(PrefixCodes, EverySetIsACompletePrefixCode) {
    for (int set = 0; set < 16; ++set) {
        double kraft = 0;
        for (int c = 0; c < 16; ++c) {
            const PrefixCode a = CodeOf(set, c);
            kraft += 1.0 / (1 << a.length);
            for (int d = 0; d < 16; ++d) {
                if (d == c) continue;
                const PrefixCode b = CodeOf(set, d);
                if (b.length < a.length) continue;
                EXPECT_NE(b.value & ((1u << a.length) - 1), a.value)
                    << "set " << set << " code " << c;
            }
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0) << "set " << set;
    }
    EXPECT_EQ(CodeOf(0, 9).length, 4);
    EXPECT_EQ(CodeOf(0, 9).value, 9);
}

TEST(CodeTrees, AllThreeFormsReadBackAsWritten) {
    std::mt19937 rng(7);
    CodeTree identity;
    BitWriter w;
    ASSERT_TRUE(WriteCodeTree(w, identity, TreeForm::kIdentity, 0));
    EXPECT_EQ(w.BitCount(), 4u);

    for (int round = 0; round < 200; ++round) {
        CodeTree t;
        t.set = static_cast<uint8_t>(1 + round % 15);
        std::shuffle(t.map.begin(), t.map.end(), rng);
        BitWriter out;
        ASSERT_TRUE(WriteCodeTree(out, t, TreeForm::kMerge, 3));  // any permutation fits
        EXPECT_EQ(static_cast<int>(out.BitCount()), CodeTreeBits(t, TreeForm::kMerge, 3));
        // Four passes read between 32 and 49 bits after the header.
        EXPECT_GE(out.BitCount(), 7u + 32u);
        EXPECT_LE(out.BitCount(), 7u + 49u);
        const std::vector<uint8_t> bytes = out.Bytes();
        TestReader r(bytes);
        const CodeTree back = ReadTree(r);
        EXPECT_EQ(back.set, t.set);
        EXPECT_EQ(back.map, t.map);
    }
    // An explicit list of eight, the other eight ascending.
    CodeTree t;
    t.set = 5;
    t.map = {15, 3, 9, 0, 1, 14, 2, 7, 4, 5, 6, 8, 10, 11, 12, 13};
    EXPECT_FALSE(CodeTreeFits(t, TreeForm::kExplicit, 6));
    BitWriter out;
    ASSERT_TRUE(WriteCodeTree(out, t, TreeForm::kExplicit, 7));
    EXPECT_EQ(out.BitCount(), 4u + 1 + 3 + 32);
    const std::vector<uint8_t> bytes = out.Bytes();
    TestReader r(bytes);
    EXPECT_EQ(ReadTree(r).map, t.map);
    // A shallow merge keeps values inside their runs.
    CodeTree shallow;
    shallow.set = 2;
    shallow.map = {1, 0, 2, 3, 5, 4, 6, 7, 9, 8, 11, 10, 12, 13, 15, 14};
    EXPECT_TRUE(CodeTreeFits(shallow, TreeForm::kMerge, 0));
    shallow.map[0] = 2;
    shallow.map[2] = 1;
    EXPECT_FALSE(CodeTreeFits(shallow, TreeForm::kMerge, 0));
    EXPECT_TRUE(CodeTreeFits(shallow, TreeForm::kMerge, 1));
    EXPECT_FALSE(WriteCodeTree(out, shallow, TreeForm::kIdentity, 0));
}

TEST(CodeTrees, ChosenTreesCodeSymbolsShorterThanFourBitsWhenSkewed) {
    std::array<uint32_t, 16> counts{};
    counts[0] = 1000;
    counts[6] = 50;
    counts[9] = 3;
    const ChosenTree chosen = ChooseCodeTree(counts);
    EXPECT_LT(chosen.bits, 4u * 1053);
    BitWriter out;
    ASSERT_TRUE(WriteCodeTree(out, chosen.tree, chosen.form, chosen.param));
    std::vector<int> symbols;
    for (int i = 0; i < 1053; ++i) symbols.push_back(i < 1000 ? 0 : i < 1050 ? 6 : 9);
    for (int s : symbols) WriteSymbol(out, chosen.tree, s);
    EXPECT_EQ(out.BitCount(), chosen.bits);
    const std::vector<uint8_t> bytes = out.Bytes();
    TestReader r(bytes);
    const CodeTree t = ReadTree(r);
    for (int s : symbols) ASSERT_EQ(r.Symbol(t), s);
    // No symbols at all: the four-bit identity tree.
    const ChosenTree none = ChooseCodeTree({});
    EXPECT_EQ(none.form, TreeForm::kIdentity);
    EXPECT_EQ(none.bits, 4u);
}

TEST(Coefficients, RandomBlocksReadBackExactly) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        int16_t coef[64] = {};
        const int density = round % 8;
        const int range = round % 3 == 0 ? 3 : round % 3 == 1 ? 200 : 32767;
        for (int i = 1; i < 64; ++i) {
            if (static_cast<int>(rng() % 8) < density) {
                coef[i] = static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
            }
        }
        BitWriter out;
        ASSERT_TRUE(WriteCoefficients(out, coef));
        out.WriteBits(0x9, 4);  // a quantiser after the list
        const std::vector<uint8_t> bytes = out.Bytes();
        TestReader r(bytes);
        int16_t back[64];
        back[0] = 1234;
        ReadCoefficientsForTest(r, back);
        for (int i = 1; i < 64; ++i)
            ASSERT_EQ(back[i], coef[i]) << "round " << round << " index " << i;
        EXPECT_EQ(r.Bits(4), 0x9u);
        EXPECT_EQ(r.position(), out.BitCount());
    }
    int16_t zero[64] = {};
    BitWriter out;
    ASSERT_TRUE(WriteCoefficients(out, zero));
    EXPECT_EQ(out.BitCount(), 4u);  // N = 0 and nothing else
    zero[5] = -32768;
    EXPECT_FALSE(WriteCoefficients(out, zero));
    EXPECT_EQ(out.BitCount(), 4u);
}

TEST(Residue, RandomDifferencesReadBackExactlyWithinTheBudget) {
    std::mt19937 rng(5);
    int written = 0;
    for (int round = 0; round < 400; ++round) {
        int8_t res[64] = {};
        const int count = static_cast<int>(rng() % 20);
        const int range = round % 2 ? 6 : 128;
        for (int i = 0; i < count; ++i) {
            res[rng() % 64] =
                static_cast<int8_t>(static_cast<int>(rng() % (2 * range + 1)) - range);
        }
        BitWriter out;
        const bool ok = WriteResidue(out, res);
        EXPECT_EQ(ok, ResidueChanges(res) <= 128);
        if (!ok) {
            EXPECT_EQ(out.BitCount(), 0u);
            continue;
        }
        ++written;
        out.WriteBits(0x5A, 7);
        const std::vector<uint8_t> bytes = out.Bytes();
        TestReader r(bytes);
        int8_t back[64];
        ReadResidueForTest(r, back);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(back[i], res[i]) << "round " << round << " index " << i;
        EXPECT_EQ(r.Bits(7), 0x5Au) << "round " << round;
    }
    EXPECT_GT(written, 300);
    // -128 is one change of the top mask.
    int8_t res[64] = {};
    res[17] = -128;
    EXPECT_EQ(ResidueChanges(res), 1);
    BitWriter out;
    ASSERT_TRUE(WriteResidue(out, res));
    const std::vector<uint8_t> bytes = out.Bytes();
    TestReader r(bytes);
    int8_t back[64];
    ReadResidueForTest(r, back);
    EXPECT_EQ(back[17], -128);
}

TEST(LengthFields, WidthsFollowTheCountBasis) {
    EXPECT_EQ(BundleLengthBits(0), 9u);
    EXPECT_EQ(BundleLengthBits(1), 10u);
    EXPECT_EQ(BundleLengthBits(512), 10u);
    EXPECT_EQ(BundleLengthBits(513), 11u);
    EXPECT_EQ(BundleLengthBits(1536), 11u);
    EXPECT_EQ(BundleLengthBits(1537), 12u);
    EXPECT_EQ(BundleLengthBits(90 * 64), 13u);
    EXPECT_EQ(BundleLengthBits(15872), 14u);
    EXPECT_EQ(BundleLengthBits(15873), 15u);
    EXPECT_EQ(BundleLengthBits(100000), 15u);
}

}  // namespace
}  // namespace vemo
