// The plane writer: collects the blocks of a plane row by row, then plans the
// bundle fills (each fill serves whole block rows and is sent at the start of
// the first row it serves), picks a code tree per bundle from the symbols the
// fills use, and lays the plane out as the plane reader walks it.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vemo/video_writer.h"

namespace vemo {

namespace {

enum Bundle {
    kTypes = 0,
    kSubTypes = 1,
    kColours = 2,
    kPatterns = 3,
    kMotionX = 4,
    kMotionY = 5,
    kIntraDc = 6,
    kInterDc = 7,
    kRuns = 8,
};

// Trees in the order the plane reads them.
enum Tree {
    kTreeTypes = 0,
    kTreeSubTypes = 1,
    kTreeColourHigh = 2,  // 16 of them, by previous high nibble
    kTreeColourLow = 18,
    kTreePatterns = 19,
    kTreeMotionX = 20,
    kTreeMotionY = 21,
    kTreeRuns = 22,
    kTreeCount = 23,
};

// One piece of a fill: raw bits, or a symbol of a tree.
struct Item {
    bool symbol;
    uint8_t tree_or_bits;
    uint16_t value;
};

class ItemList {
  public:
    void Bits(uint32_t value, unsigned n) {
        items.push_back(Item{false, static_cast<uint8_t>(n), static_cast<uint16_t>(value)});
    }
    void Symbol(int tree, int s) {
        items.push_back(Item{true, static_cast<uint8_t>(tree), static_cast<uint16_t>(s)});
    }
    std::vector<Item> items;
};

bool InOffsetRange(int v) {
    return v >= -15 && v <= 15;
}

int BitWidth(uint32_t v) {
    int b = 0;
    while (v) {
        ++b;
        v >>= 1;
    }
    return b;
}

}  // namespace

PlaneWriter::PlaneWriter(uint32_t width, uint32_t height, bool old_version)
    : width_(width & ~7u),
      blocks_across_(width / 8),
      rows_total_(height / 8),
      old_version_(old_version) {
    rows_.emplace_back();
}

bool PlaneWriter::complete() const {
    return rows_total_ == 0 || (rows_.size() == rows_total_ + 1 && column_ == 0);
}

bool PlaneWriter::Begin(uint32_t columns) {
    if (rows_.size() > rows_total_ || blocks_across_ == 0) return false;
    return column_ + columns <= blocks_across_;
}

void PlaneWriter::Advance(uint32_t columns) {
    column_ += columns;
    if (column_ == blocks_across_) {
        column_ = 0;
        rows_.emplace_back();  // the extra row after the last one marks completion
    }
}

bool PlaneWriter::PutColour(uint8_t c) {
    uint8_t v = c;
    if (old_version_) {
        // Older versions store 128 + v (bit 7 clear) or 128 - (v & 0x7F)
        // (bit 7 set); sample 0 cannot be sent and becomes 1.
        if (c >= 128) {
            v = static_cast<uint8_t>(c - 128);
        } else {
            v = static_cast<uint8_t>(0x80 | (128 - std::max<int>(c, 1)));
        }
    }
    row_ref().values[kColours].push_back(v);
    return true;
}

bool PlaneWriter::Skip() {
    if (!Begin(1)) return false;
    row_ref().values[kTypes].push_back(kBlockSkip);
    Advance(1);
    return true;
}

bool PlaneWriter::Motion(int dx, int dy) {
    if (!Begin(1) || !InOffsetRange(dx) || !InOffsetRange(dy)) return false;
    Row& r = row_ref();
    r.values[kTypes].push_back(kBlockMotion);
    r.values[kMotionX].push_back(static_cast<uint16_t>(dx));
    r.values[kMotionY].push_back(static_cast<uint16_t>(dy));
    Advance(1);
    return true;
}

bool PlaneWriter::Fill(uint8_t colour) {
    if (!Begin(1)) return false;
    row_ref().values[kTypes].push_back(kBlockFill);
    PutColour(colour);
    Advance(1);
    return true;
}

bool PlaneWriter::Pattern(uint8_t c0, uint8_t c1, const uint8_t rows[8]) {
    if (!Begin(1)) return false;
    row_ref().values[kTypes].push_back(kBlockPattern);
    PutColour(c0);
    PutColour(c1);
    for (int i = 0; i < 8; ++i) row_ref().values[kPatterns].push_back(rows[i]);
    Advance(1);
    return true;
}

bool PlaneWriter::Raw(const uint8_t samples[64]) {
    if (!Begin(1)) return false;
    row_ref().values[kTypes].push_back(kBlockRaw);
    for (int i = 0; i < 64; ++i) PutColour(samples[i]);
    Advance(1);
    return true;
}

bool PlaneWriter::RunsFit(const std::vector<RunSegment>& runs) const {
    int pos = 0;
    for (const RunSegment& r : runs) {
        if (pos >= 63 || r.length < 1 || r.length > 16) return false;
        pos += r.length;
    }
    return pos == 63 || pos == 64;
}

bool PlaneWriter::PutRun(int scan, const std::vector<RunSegment>& runs, uint8_t last_colour) {
    Row& r = row_ref();
    r.bits.WriteBits(static_cast<uint32_t>(scan), 4);
    int pos = 0;
    for (const RunSegment& seg : runs) {
        r.bits.WriteBit(seg.single ? 1 : 0);
        r.values[kRuns].push_back(static_cast<uint16_t>(seg.length - 1));
        if (seg.single) {
            PutColour(seg.colours[0]);
        } else {
            for (int i = 0; i < seg.length; ++i) PutColour(seg.colours[i]);
        }
        pos += seg.length;
    }
    if (pos == 63) PutColour(last_colour);
    return true;
}

bool PlaneWriter::Run(int scan, const std::vector<RunSegment>& runs, uint8_t last_colour) {
    if (!Begin(1) || scan < 0 || scan > 15 || !RunsFit(runs)) return false;
    row_ref().values[kTypes].push_back(kBlockRun);
    PutRun(scan, runs, last_colour);
    Advance(1);
    return true;
}

bool PlaneWriter::Intra(const int16_t coef[64], int quantiser) {
    BitWriter bits;
    if (!Begin(1) || quantiser < 0 || quantiser > 15 || !WriteCoefficients(bits, coef))
        return false;
    Row& r = row_ref();
    r.values[kTypes].push_back(kBlockIntra);
    r.values[kIntraDc].push_back(static_cast<uint16_t>(coef[0]));
    r.bits.Append(bits);
    r.bits.WriteBits(static_cast<uint32_t>(quantiser), 4);
    Advance(1);
    return true;
}

bool PlaneWriter::Inter(int dx, int dy, const int16_t coef[64], int quantiser) {
    BitWriter bits;
    if (!Begin(1) || !InOffsetRange(dx) || !InOffsetRange(dy) || quantiser < 0 || quantiser > 15 ||
        !WriteCoefficients(bits, coef))
        return false;
    Row& r = row_ref();
    r.values[kTypes].push_back(kBlockInter);
    r.values[kMotionX].push_back(static_cast<uint16_t>(dx));
    r.values[kMotionY].push_back(static_cast<uint16_t>(dy));
    r.values[kInterDc].push_back(static_cast<uint16_t>(coef[0]));
    r.bits.Append(bits);
    r.bits.WriteBits(static_cast<uint32_t>(quantiser), 4);
    Advance(1);
    return true;
}

bool PlaneWriter::Residue(int dx, int dy, const int8_t residue[64]) {
    BitWriter bits;
    if (!Begin(1) || !InOffsetRange(dx) || !InOffsetRange(dy) || !WriteResidue(bits, residue))
        return false;
    Row& r = row_ref();
    r.values[kTypes].push_back(kBlockResidue);
    r.values[kMotionX].push_back(static_cast<uint16_t>(dx));
    r.values[kMotionY].push_back(static_cast<uint16_t>(dy));
    r.bits.Append(bits);
    Advance(1);
    return true;
}

// A scaled block needs two columns on an even row with a row below it.
#define VEMO_SCALED_BEGIN()                                             \
    const uint32_t row_index = static_cast<uint32_t>(rows_.size() - 1); \
    if (!Begin(2) || (row_index & 1) || row_index + 1 >= rows_total_) return false

bool PlaneWriter::ScaledFill(uint8_t colour) {
    VEMO_SCALED_BEGIN();
    row_ref().values[kTypes].push_back(kBlockScaled);
    row_ref().values[kSubTypes].push_back(kBlockFill);
    PutColour(colour);
    Advance(2);
    return true;
}

bool PlaneWriter::ScaledPattern(uint8_t c0, uint8_t c1, const uint8_t rows[8]) {
    VEMO_SCALED_BEGIN();
    row_ref().values[kTypes].push_back(kBlockScaled);
    row_ref().values[kSubTypes].push_back(kBlockPattern);
    PutColour(c0);
    PutColour(c1);
    for (int i = 0; i < 8; ++i) row_ref().values[kPatterns].push_back(rows[i]);
    Advance(2);
    return true;
}

bool PlaneWriter::ScaledRaw(const uint8_t samples[64]) {
    VEMO_SCALED_BEGIN();
    row_ref().values[kTypes].push_back(kBlockScaled);
    row_ref().values[kSubTypes].push_back(kBlockRaw);
    for (int i = 0; i < 64; ++i) PutColour(samples[i]);
    Advance(2);
    return true;
}

bool PlaneWriter::ScaledRun(int scan, const std::vector<RunSegment>& runs, uint8_t last_colour) {
    VEMO_SCALED_BEGIN();
    if (scan < 0 || scan > 15 || !RunsFit(runs)) return false;
    row_ref().values[kTypes].push_back(kBlockScaled);
    row_ref().values[kSubTypes].push_back(kBlockRun);
    PutRun(scan, runs, last_colour);
    Advance(2);
    return true;
}

bool PlaneWriter::ScaledIntra(const int16_t coef[64], int quantiser) {
    VEMO_SCALED_BEGIN();
    BitWriter bits;
    if (quantiser < 0 || quantiser > 15 || !WriteCoefficients(bits, coef)) return false;
    Row& r = row_ref();
    r.values[kTypes].push_back(kBlockScaled);
    r.values[kSubTypes].push_back(kBlockIntra);
    r.values[kIntraDc].push_back(static_cast<uint16_t>(coef[0]));
    r.bits.Append(bits);
    r.bits.WriteBits(static_cast<uint32_t>(quantiser), 4);
    Advance(2);
    return true;
}

bool PlaneWriter::ScaledOther(uint8_t sub_type) {
    VEMO_SCALED_BEGIN();
    if (sub_type > 15 || sub_type == 3 || sub_type == 5 || sub_type == 6 || sub_type == 8 ||
        sub_type == 9)
        return false;
    row_ref().values[kTypes].push_back(kBlockScaled);
    row_ref().values[kSubTypes].push_back(sub_type);
    Advance(2);
    return true;
}

#undef VEMO_SCALED_BEGIN

bool PlaneWriter::ScaledLowerHalf() {
    const uint32_t row_index = static_cast<uint32_t>(rows_.size() - 1);
    if (!Begin(2) || !(row_index & 1)) return false;
    row_ref().values[kTypes].push_back(kBlockScaled);
    Advance(2);
    return true;
}

bool PlaneWriter::OtherType(uint8_t type) {
    if (!Begin(1) || type < 10 || type > 15) return false;
    row_ref().values[kTypes].push_back(type);
    Advance(1);
    return true;
}

namespace {

// The values of one bundle, block row by block row.
using BundleRows = std::vector<const std::vector<uint16_t>*>;

// Code lengths of the sixteen symbols of one tree, and of every tree.
using TreeLengths = std::array<uint8_t, 16>;
using SymbolLengths = std::array<TreeLengths, kTreeCount>;

// The repeat symbols 12-15 store the last value this many times.
constexpr uint32_t kRepeats[4] = {4, 8, 12, 32};

// The symbols that send the block types v, with `last` the value the
// repeats copy at the start. Under lengths, the parse with the fewest bits
// (*bits gets them); without, each run of the last value takes the longest
// repeat that fits. Empty when a value of 12-15 cannot be sent.
std::vector<uint8_t> ParseTypes(const std::vector<uint16_t>& v, int last,
                                const TreeLengths* lengths, uint64_t* bits = nullptr) {
    const size_t n = v.size();
    // same[i]: how many values from i on equal the one before i.
    std::vector<uint32_t> same(n + 1, 0);
    for (size_t i = n; i-- > 0;) {
        const int before = i ? v[i - 1] : last;
        same[i] = v[i] == before ? 1 + (i + 1 < n && v[i + 1] == v[i] ? same[i + 1] : 0) : 0;
    }
    constexpr uint64_t kNone = UINT64_MAX;
    std::vector<uint64_t> cost(n + 1, kNone);
    std::vector<uint8_t> choice(n, 0);
    cost[n] = 0;
    for (size_t i = n; i-- > 0;) {
        auto offer = [&](uint8_t symbol, size_t next) {
            if (cost[next] == kNone) return;
            const uint64_t c = cost[next] + (lengths ? (*lengths)[symbol] : 0);
            if (c < cost[i]) cost[i] = c, choice[i] = symbol;
        };
        if (v[i] < 12) offer(static_cast<uint8_t>(v[i]), i + 1);
        for (int r = 0; r < 4; ++r) {
            if (same[i] < kRepeats[r]) break;
            if (!lengths) cost[i] = kNone;  // the longest repeat that fits
            offer(static_cast<uint8_t>(12 + r), i + kRepeats[r]);
        }
    }
    if (cost[0] == kNone) return {};
    if (bits) *bits = cost[0];
    std::vector<uint8_t> symbols;
    for (size_t i = 0; i < n; i += choice[i] < 12 ? 1 : kRepeats[choice[i] - 12])
        symbols.push_back(choice[i]);
    return symbols;
}

// Block types and sub-types: one value for the whole fill, or a symbol per
// block with runs of the previous value sent as the repeat symbols 12-15.
const char* CodeTypes(int tree, const std::vector<uint16_t>& v, bool same,
                      const TreeLengths* lengths, ItemList& items) {
    if (same) {
        items.Bits(1, 1);
        items.Bits(v[0], 4);
        return nullptr;
    }
    items.Bits(0, 1);
    const std::vector<uint8_t> symbols = ParseTypes(v, 0, lengths);
    if (symbols.empty()) return "block types 12-15 need a fill of their own";
    for (uint8_t s : symbols) items.Symbol(tree, s);
    return nullptr;
}

// Colours: the high nibble from the tree chosen by the previous high nibble
// (carried across fills), then the low nibble.
void CodeColours(const std::vector<uint16_t>& v, bool same, int& previous_high, ItemList& items) {
    auto colour = [&](int c) {
        items.Symbol(kTreeColourHigh + previous_high, c >> 4);
        previous_high = c >> 4;
        items.Symbol(kTreeColourLow, c & 15);
    };
    items.Bits(same ? 1 : 0, 1);
    if (same) {
        colour(v[0]);
    } else {
        for (uint16_t c : v) colour(c);
    }
}

void CodePatterns(const std::vector<uint16_t>& v, ItemList& items) {
    for (uint16_t p : v) {
        items.Symbol(kTreePatterns, p & 15);
        items.Symbol(kTreePatterns, (p >> 4) & 15);
    }
}

// Motion: one size in four bits for the whole fill, or a symbol per value;
// each non-zero value is followed by its sign.
void CodeMotion(int tree, const std::vector<uint16_t>& v, bool same, ItemList& items) {
    items.Bits(same ? 1 : 0, 1);
    for (size_t i = 0; i < (same ? 1 : v.size()); ++i) {
        const int m = static_cast<int16_t>(v[i]);
        if (same) {
            items.Bits(static_cast<uint32_t>(std::abs(m)), 4);
        } else {
            items.Symbol(tree, std::abs(m));
        }
        if (m != 0) items.Bits(m < 0 ? 1 : 0, 1);
    }
}

// One group of up to eight DC values after position g: a bit width, then
// each difference from the value before it as size and sign.
const char* CodeDcGroup(const std::vector<uint16_t>& v, size_t g, int16_t& running,
                        ItemList& items) {
    const size_t end = std::min(v.size(), g + 8);
    int16_t deltas[8];
    int width = 0;
    int16_t run_value = running;
    for (size_t i = g; i < end; ++i) {
        const int16_t d =
            static_cast<int16_t>(static_cast<uint16_t>(v[i] - static_cast<uint16_t>(run_value)));
        if (d == -32768) return "two DC values in a row differ by 32768";
        deltas[i - g] = d;
        width = std::max(width, BitWidth(static_cast<uint32_t>(std::abs(int{d}))));
        run_value = static_cast<int16_t>(v[i]);
    }
    items.Bits(static_cast<uint32_t>(width), 4);
    if (width > 0) {
        for (size_t i = 0; i < end - g; ++i) {
            items.Bits(static_cast<uint32_t>(std::abs(int{deltas[i]})),
                       static_cast<unsigned>(width));
            if (deltas[i] != 0) items.Bits(deltas[i] < 0 ? 1 : 0, 1);
        }
    }
    running = run_value;
    return nullptr;
}

// DC values: the first in full (intra: 11 bits, inter: size and sign), the
// rest as groups of differences.
const char* CodeDc(bool intra, const std::vector<uint16_t>& v, ItemList& items) {
    int16_t running = static_cast<int16_t>(v[0]);
    if (intra) {
        if (v[0] >= 2048) return "an intra DC value that starts a fill must be below 2048";
        items.Bits(v[0], 11);
    } else {
        if (std::abs(int{running}) > 1023)
            return "an inter DC value that starts a fill must lie within -1023..1023";
        items.Bits(static_cast<uint32_t>(std::abs(int{running})), 10);
        if (running != 0) items.Bits(running < 0 ? 1 : 0, 1);
    }
    for (size_t g = 1; g < v.size(); g += 8) {
        if (const char* error = CodeDcGroup(v, g, running, items)) return error;
    }
    return nullptr;
}

void CodeRuns(const std::vector<uint16_t>& v, bool same, ItemList& items) {
    items.Bits(same ? 1 : 0, 1);
    if (same) {
        items.Bits(v[0], 4);
    } else {
        for (uint16_t x : v) items.Symbol(kTreeRuns, x);
    }
}

// The items of one fill of bundle b after its length; the reason when the
// values cannot be coded, else null.
const char* CodeFill(int b, const std::vector<uint16_t>& v, int& previous_high,
                     const SymbolLengths* lengths, ItemList& items) {
    const bool same = std::all_of(v.begin(), v.end(), [&](uint16_t x) { return x == v[0]; });
    switch (b) {
        case kTypes:
            return CodeTypes(kTreeTypes, v, same, lengths ? &(*lengths)[kTreeTypes] : nullptr,
                             items);
        case kSubTypes:
            return CodeTypes(kTreeSubTypes, v, same, lengths ? &(*lengths)[kTreeSubTypes] : nullptr,
                             items);
        case kColours:
            CodeColours(v, same, previous_high, items);
            break;
        case kPatterns:
            CodePatterns(v, items);
            break;
        case kMotionX:
            CodeMotion(kTreeMotionX, v, same, items);
            break;
        case kMotionY:
            CodeMotion(kTreeMotionY, v, same, items);
            break;
        case kIntraDc:
        case kInterDc:
            return CodeDc(b == kIntraDc, v, items);
        case kRuns:
            CodeRuns(v, same, items);
            break;
    }
    return nullptr;
}

// Plans the fills of bundle b: fills[r] gets the items sent at the start of
// row r when the bundle is exhausted there. Without ends, each fill takes as
// many whole rows as fit in limit; with them, the fill that starts at row r
// takes the rows up to ends[r]. Once no later row needs a value, a zero
// length closes the bundle.
const char* PlanBundle(int b, const BundleRows& rows, unsigned length_bits, uint32_t limit,
                       const std::vector<uint32_t>& ends, const SymbolLengths* lengths,
                       std::vector<ItemList>& fills, int& previous_high) {
    const uint32_t count = static_cast<uint32_t>(rows.size());
    uint32_t remaining = 0;
    bool closed = false;
    std::vector<uint32_t> after(count + 1, 0);  // values in rows r.. end
    for (uint32_t r = count; r-- > 0;)
        after[r] = after[r + 1] + static_cast<uint32_t>(rows[r]->size());
    for (ItemList& items : fills) items.items.clear();
    for (uint32_t r = 0; r < count; ++r) {
        const uint32_t need = static_cast<uint32_t>(rows[r]->size());
        if (!closed && remaining == 0) {
            ItemList& items = fills[r];
            if (after[r] == 0) {
                items.Bits(0, length_bits);
                closed = true;
            } else {
                std::vector<uint16_t> v;
                const uint32_t end = ends.empty() ? count : ends[r];
                for (uint32_t s = r; s < end && v.size() + rows[s]->size() <= limit; ++s)
                    v.insert(v.end(), rows[s]->begin(), rows[s]->end());
                remaining = static_cast<uint32_t>(v.size());
                items.Bits(remaining, length_bits);
                if (const char* error = CodeFill(b, v, previous_high, lengths, items)) return error;
            }
        }
        remaining -= need;
    }
    return nullptr;
}

// Code lengths of every symbol of every tree, under the trees chosen from
// the symbols of fills.

SymbolLengths LengthsOf(const std::vector<std::vector<ItemList>>& fills) {
    std::array<std::array<uint32_t, 16>, kTreeCount> counts{};
    for (const auto& per_bundle : fills)
        for (const ItemList& items : per_bundle)
            for (const Item& it : items.items)
                if (it.symbol) ++counts[it.tree_or_bits][it.value & 15];
    SymbolLengths lengths{};
    for (int t = 0; t < kTreeCount; ++t) {
        const ChosenTree chosen = ChooseCodeTree(counts[t]);
        for (int c = 0; c < 16; ++c)
            lengths[t][chosen.tree.map[c]] = CodeOf(chosen.tree.set, c).length;
    }
    return lengths;
}

bool IsTypeBundle(int b) {
    return b == kTypes || b == kSubTypes;
}

// Bits of one value of a motion-offset or run bundle sent as a symbol, and
// sent alone for a whole fill (the fill flag 1 case).
uint32_t SymbolValueBits(int b, uint16_t value, const SymbolLengths& lengths) {
    if (b == kRuns) return lengths[kTreeRuns][value & 15];
    const int m = static_cast<int16_t>(value);
    return lengths[b == kMotionX ? kTreeMotionX : kTreeMotionY][std::abs(m) & 15] + (m != 0);
}

uint32_t SameValueBits(int b, uint16_t value) {
    return b == kRuns || IsTypeBundle(b) ? 4u : 4u + (value != 0);
}

// Bits of each row's values as symbols. Type rows are parsed into repeats
// as if the fill went on from the row before (a fill starts afresh, which
// the estimate leaves aside).
std::vector<uint64_t> RowSymbolBits(int b, const BundleRows& rows, const SymbolLengths& lengths) {
    std::vector<uint64_t> row_bits(rows.size(), 0);
    int last = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
        const std::vector<uint16_t>& row = *rows[r];
        if (!IsTypeBundle(b)) {
            for (uint16_t v : row) row_bits[r] += SymbolValueBits(b, v, lengths);
            continue;
        }
        if (row.empty()) continue;
        const TreeLengths& tree = lengths[b == kTypes ? kTreeTypes : kTreeSubTypes];
        if (ParseTypes(row, last, &tree, &row_bits[r]).empty()) row_bits[r] = 1u << 20;
        last = row.back();
    }
    return row_bits;
}

// The fill boundaries of motion-offset or run bundle b with the fewest bits
// under lengths: a fill that starts at row s ends[s] takes the rows s ..
// ends[s] - 1, the last of which needs a value (the reader refills as soon as
// a fill is used up).
std::vector<uint32_t> BestFillEnds(int b, const BundleRows& rows, unsigned length_bits,
                                   uint32_t limit, const SymbolLengths& lengths) {
    const uint32_t count = static_cast<uint32_t>(rows.size());
    // Per row: the bits of its values as symbols, and whether they are all one.
    const std::vector<uint64_t> row_bits = RowSymbolBits(b, rows, lengths);
    std::vector<bool> row_same(count, true);
    for (uint32_t r = 0; r < count; ++r)
        for (uint16_t v : *rows[r])
            if (v != rows[r]->front()) row_same[r] = false;
    constexpr uint64_t kNone = UINT64_MAX;
    std::vector<uint64_t> best(count + 1, kNone);
    std::vector<uint32_t> from(count + 1, 0), ends(count, count);
    best[0] = 0;
    for (uint32_t s = 0; s < count; ++s) {
        if (best[s] == kNone) continue;
        uint64_t bits = 0;
        size_t size = 0;
        bool same = true, any = false;
        uint16_t first = 0;
        for (uint32_t e = s + 1; e <= count; ++e) {
            const std::vector<uint16_t>& row = *rows[e - 1];
            if (size + row.size() > limit) break;
            size += row.size();
            if (row.empty()) continue;
            if (!any) first = row.front();
            same = same && row_same[e - 1] && row.front() == first;
            any = true;
            bits += row_bits[e - 1];
            const uint64_t cost =
                best[s] + length_bits + 1 + (same ? SameValueBits(b, first) : bits);
            if (cost < best[e]) {
                best[e] = cost;
                from[e] = s;
            }
        }
        // Nothing left from here on: the closing length and the remaining rows.
        if (!any && size <= limit && best[s] + length_bits < best[count]) {
            best[count] = best[s] + length_bits;
            from[count] = s;
        }
    }
    for (uint32_t e = count; e > 0 && best[e] != kNone;) {
        const uint32_t s = from[e];
        ends[s] = e;
        e = s;
    }
    return ends;
}

// Chooses each tree from the symbol counts of all fills and writes the trees.
std::vector<CodeTree> WriteTrees(const std::vector<std::vector<ItemList>>& fills, BitWriter& out) {
    std::array<std::array<uint32_t, 16>, kTreeCount> counts{};
    for (const auto& per_bundle : fills)
        for (const ItemList& items : per_bundle)
            for (const Item& it : items.items)
                if (it.symbol) ++counts[it.tree_or_bits][it.value & 15];
    std::vector<CodeTree> trees(kTreeCount);
    for (int t = 0; t < kTreeCount; ++t) {
        const ChosenTree chosen = ChooseCodeTree(counts[t]);
        trees[t] = chosen.tree;
        WriteCodeTree(out, chosen.tree, chosen.form, chosen.param);
    }
    return trees;
}

void WriteItems(BitWriter& out, const std::vector<CodeTree>& trees, const ItemList& items) {
    for (const Item& it : items.items) {
        if (it.symbol) {
            WriteSymbol(out, trees[it.tree_or_bits], it.value);
        } else {
            out.WriteBits(it.value, it.tree_or_bits);
        }
    }
}

}  // namespace

std::vector<uint8_t> PlaneWriter::Finish() {
    error_.clear();
    bits_ = 0;
    if (!complete()) {
        error_ = "the plane has blocks missing";
        return {};
    }
    const uint32_t rows = rows_total_;
    const uint32_t bw = blocks_across_;
    const uint32_t basis[9] = {bw, width_ / 16, bw * 64, bw * 8, bw, bw, bw, bw, bw * 48};
    unsigned length_bits[9];
    uint32_t limit[9];
    std::vector<BundleRows> bundle_rows(9, BundleRows(rows));
    for (int b = 0; b < 9; ++b) {
        length_bits[b] = BundleLengthBits(basis[b]);
        limit[b] = std::min<uint32_t>(basis[b] + 511, (1u << length_bits[b]) - 1);
        for (uint32_t r = 0; r < rows; ++r) {
            bundle_rows[b][r] = &rows_[r].values[b];
            if (rows_[r].values[b].size() > limit[b]) {
                error_ = "a block row needs more values than one bundle fill holds";
                return {};
            }
        }
    }

    // fills[b][r] holds the items sent for bundle b at the start of row r.
    // The type, offset and run bundles are planned again with the boundaries
    // (and for types, the repeats) that cost least under the trees of a
    // first, greedy plan.
    std::vector<std::vector<ItemList>> fills(9, std::vector<ItemList>(rows));
    const std::vector<uint32_t> greedy;
    for (int pass = 0; pass < 2; ++pass) {
        const SymbolLengths lengths = pass ? LengthsOf(fills) : SymbolLengths{};
        int previous_high = 0;
        for (int b = 0; b < 9; ++b) {
            const bool replan =
                b == kTypes || b == kSubTypes || b == kMotionX || b == kMotionY || b == kRuns;
            if (pass && !replan) continue;
            const std::vector<uint32_t> ends =
                pass ? BestFillEnds(b, bundle_rows[b], length_bits[b], limit[b], lengths) : greedy;
            const char* error = PlanBundle(b, bundle_rows[b], length_bits[b], limit[b], ends,
                                           pass ? &lengths : nullptr, fills[b], previous_high);
            if (error) {
                error_ = error;
                return {};
            }
        }
    }

    BitWriter out;
    const std::vector<CodeTree> trees = WriteTrees(fills, out);
    for (uint32_t r = 0; r < rows; ++r) {
        for (int b = 0; b < 9; ++b) WriteItems(out, trees, fills[b][r]);
        out.Append(rows_[r].bits);
    }
    bits_ = out.BitCount();
    return out.Bytes();
}

std::vector<uint8_t> WriteVideoPart(const VideoPartPlanes& planes, bool has_alpha, bool version_i,
                                    bool grayscale) {
    const size_t size = (has_alpha ? 4 + planes.alpha.size() : 0) + (version_i ? 4 : 0) +
                        planes.luma.size() + (grayscale ? 0 : planes.cr.size() + planes.cb.size());
    std::vector<uint8_t> part(size);
    size_t pos = 0;
    auto put32 = [&](size_t v) {
        for (int i = 0; i < 4; ++i) part[pos++] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put = [&](const std::vector<uint8_t>& bytes) {
        if (!bytes.empty()) std::memcpy(&part[pos], bytes.data(), bytes.size());
        pos += bytes.size();
    };
    if (has_alpha) {
        put32(planes.alpha.size() + 4);
        put(planes.alpha);
    }
    if (version_i) put32(planes.luma.size() + 4);
    put(planes.luma);
    if (!grayscale) {
        put(planes.cr);
        put(planes.cb);
    }
    return part;
}

}  // namespace vemo
