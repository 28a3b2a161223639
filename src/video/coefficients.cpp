// Coefficient and residue significance lists.
//
// A list entry is one byte, scan index x 4 + mode; 0 is an empty entry. The
// list grows at the front (values pending for a later pass) and at the back
// (new groups). Its shape is fixed by the scan layout: at most 15 back
// entries and one front entry per coefficient, so the buffer below cannot
// overflow whatever the bits say.
#include <algorithm>
#include <array>
#include <bit>

#include "video_internal.h"

namespace vemo::video {

namespace {

constexpr int kListMiddle = 80;
constexpr int kListSize = 160;

struct EntryList {
    uint8_t entry[kListSize];
    int front = kListMiddle;
    int back = kListMiddle;
    void PushBack(int index, int mode) { entry[back++] = static_cast<uint8_t>(index * 4 + mode); }
    void PushFront(int index, int mode) { entry[--front] = static_cast<uint8_t>(index * 4 + mode); }
};

// Walks the list once for one pass. OnValue(index) reads a value for scan
// index `index` and returns false when the walk must stop at once.
//
// Emptied entries are dropped as the walk passes (the list stays in order
// and only empty entries read no bit, so dropping them changes nothing), and
// a run of entries that each read a 0 bit is passed in one step.
template <typename OnValue>
bool WalkList(BitReader& reader, EntryList& list, OnValue&& on_value) {
    auto read_group = [&](int c) {
        for (int index = c; index < c + 4; ++index) {
            if (reader.ReadBit()) {
                list.PushFront(index, 3);
            } else if (!on_value(index)) {
                return false;
            }
        }
        return true;
    };
    int kept = list.front;  // entries before this one stay for the next pass
    int i = list.front;
    while (i < list.back) {
        if (reader.Available() < 56) reader.Refill();
        const uint32_t zeros =
            std::min(static_cast<uint32_t>(std::countr_zero(reader.Cache() | 1ull << 56)),
                     static_cast<uint32_t>(list.back - i));
        reader.Skip(static_cast<int>(zeros));
        if (kept != i)
            for (uint32_t k = 0; k < zeros; ++k) list.entry[kept + k] = list.entry[i + k];
        kept += static_cast<int>(zeros);
        i += static_cast<int>(zeros);
        if (i == list.back) break;
        reader.Skip(1);  // the entry at i reads a 1
        const uint8_t e = list.entry[i];
        const int c = e >> 2;
        switch (e & 3) {
            case 0:  // examined again with a new bit
                list.entry[i] = static_cast<uint8_t>((c + 4) * 4 + 1);
                if (!read_group(c)) return false;
                break;
            case 1:  // examined again with a new bit
                list.entry[i] = static_cast<uint8_t>(c * 4 + 2);
                list.PushBack(c + 4, 2);
                list.PushBack(c + 8, 2);
                list.PushBack(c + 12, 2);
                break;
            case 2:
                ++i;  // emptied
                if (!read_group(c)) return false;
                break;
            default:
                ++i;  // emptied
                if (!on_value(c)) return false;
                break;
        }
    }
    list.back = kept;
    return true;
}

// A value of a pass with `bits` takes bits + 1 bits t: magnitude
// (t AND (2^bits - 1)) OR 2^bits, negative when bit `bits` of t is set. The
// same arithmetic gives +1 or -1 for a single sign bit when bits = 0.
//
// kBits >= 0 fixes bits at compile time (for the pass with bits = 1, which
// most blocks with more than one pass end on); -1 takes it at run time.
template <int kBits>
struct ValueShape {
    uint32_t width;  // bits of a value
    uint32_t low;    // 2^bits - 1
    uint32_t top;    // 2^bits
    int bits;

    explicit constexpr ValueShape(int b)
        : width(static_cast<uint32_t>(b) + 1), low((1u << b) - 1), top(1u << b), bits(b) {}
    // The value held in the low `width` bits of t (higher bits ignored).
    constexpr int16_t Decode(uint32_t t) const {
        const uint32_t magnitude = (t & low) | top;
        const uint32_t negative = (t >> bits) & 1;
        return static_cast<int16_t>(
            static_cast<uint16_t>((magnitude ^ (0u - negative)) + negative));
    }
};

template <int kBits>
requires(kBits >= 0) struct ValueShape<kBits> {
    static constexpr uint32_t width = kBits + 1;
    // Every value of the pass, by its bits.
    static constexpr std::array<int16_t, 1u << width> kValues = [] {
        std::array<int16_t, 1u << width> values{};
        for (uint32_t t = 0; t < values.size(); ++t) values[t] = ValueShape<-1>(kBits).Decode(t);
        return values;
    }();
    explicit ValueShape(int) {}
    int16_t Decode(uint32_t t) const { return kValues[t & ((1u << width) - 1)]; }
};

// The coefficient walk keeps two list buffers: a pass reads the current
// list from one and writes the next pass's list into the other (entries put
// at the front below its middle, the entries that stay from its middle up),
// so the entries a run of 0 bits keeps are moved in one 16-byte chunk (bytes
// past the run land where later entries will overwrite them).
//
// Entries of one list buffer: the middle leaves room for one front entry per
// coefficient below it; above it fit the entries kept (at most 60 front and
// 15 back), the 9 appended in a pass, and the slack the chunk moves read.
constexpr int kWalkMiddle = 64;
constexpr int kWalkSize = kWalkMiddle + 84 + 16 + 16;

struct CoefficientWalk {
    uint8_t buffer[2][kWalkSize];
    int current = 0;  // which buffer holds the list of the next pass
    int front = kWalkMiddle;
    int back = kWalkMiddle;
};

// The natural index of an entry's coefficient, looked up by the whole entry
// byte (a value's entry is read for nothing else).
struct EntryNatural {
    uint8_t index[256];
};

EntryNatural MakeEntryNatural() {
    EntryNatural table{};
    for (int e = 0; e < 256; ++e) table.index[e] = kCoefficientScan[e >> 2];
    return table;
}

const EntryNatural kEntryNatural = MakeEntryNatural();

// The passes refill below this many cached bits, so a zero run may look at
// the low kRunBits bits without a test of the count.
constexpr int kRunBits = 16;

// How many of the next `remaining` entries read a 0 bit before the first
// that reads a 1, looking at most kRunBits - 1 bits ahead: a marker bit
// above them ends a longer run there, and the caller tells the two apart by
// the next bit (still 0 where the marker ended the run).
inline uint32_t ZeroRun(const BitReader& reader, int remaining) {
    const uint32_t run =
        static_cast<uint32_t>(std::countr_zero(reader.Cache() | 1ull << (kRunBits - 1)));
    return std::min(run, static_cast<uint32_t>(remaining));
}

// The passes with bits = 1 and 2 read their groups two elements per lookup.
template <int kBits>
constexpr bool kPairedBits = kBits == 1 || kBits == 2;

// Cached bits a pass asks for before each run. The passes with bits = 1 and
// 2 ask for enough that, after a run and the 1 that ends it, the value or
// group that follows (at most 16 bits, looked up 8 at a time) is cached
// too; the passes with more bits test again before each value or group.
template <int kBits>
constexpr uint32_t PassRefillBits() {
    return kPairedBits<kBits> ? kRunBits + 16 : kRunBits;
}

// Two elements of a group in a pass with bits = 1 or 2 take 2 to 6 (or 8)
// bits: one lookup gives the bits used, the two values (zero where pending,
// the first in the low half) and which of the two are pending (bit k).
template <int kBits>
struct ElementPairs {
    static constexpr uint32_t kElementBits = kBits + 2;  // the 0 and the value
    static constexpr uint32_t kCodes = 1u << (2 * kElementBits);
    uint32_t values[kCodes];
    uint8_t length[kCodes];
    uint8_t pending[kCodes];
};

template <int kBits>
constexpr ElementPairs<kBits> MakeElementPairs() {
    ElementPairs<kBits> table{};
    for (uint32_t code = 0; code < table.kCodes; ++code) {
        uint32_t pos = 0;
        for (uint32_t k = 0; k < 2; ++k) {
            if ((code >> pos++) & 1) {
                table.pending[code] = static_cast<uint8_t>(table.pending[code] | 1u << k);
                continue;
            }
            const int16_t value = ValueShape<-1>(kBits).Decode(code >> pos);
            table.values[code] |= static_cast<uint32_t>(static_cast<uint16_t>(value)) << (16 * k);
            pos += kBits + 1;
        }
        table.length[code] = static_cast<uint8_t>(pos);
    }
    return table;
}

template <int kBits>
constexpr ElementPairs<kBits> kElementPairs = MakeElementPairs<kBits>();

// A pending element's front entry is always written and only counted when
// pending, so the pair takes no branch.
template <int kBits>
inline void ReadElementPair(BitReader& reader, int index, int16_t* pair, uint8_t* next,
                            int& front) {
    const ElementPairs<kBits>& table = kElementPairs<kBits>;
    const uint32_t code = static_cast<uint32_t>(reader.Cache()) & (table.kCodes - 1);
    const uint32_t pending = table.pending[code];
    std::memcpy(pair, &table.values[code], 4);
    next[front - 1] = static_cast<uint8_t>(index * 4 + 3);
    front -= static_cast<int>(pending & 1);
    next[front - 1] = static_cast<uint8_t>((index + 1) * 4 + 3);
    front -= static_cast<int>(pending >> 1);
    reader.Skip(table.length[code]);
}

// A group of four (scan indexes c..c+3, the natural 2x2 square n, n+1, n+8,
// n+9): bit 1 puts the index at the front of the next pass's list, bit 0
// reads its value. The walk made at least 32 bits available before it (for
// bits = 1 or 2, the 12 or 16 its two lookups look at).
template <int kBits, typename Shape>
inline void ReadGroup(BitReader& reader, const Shape& shape, int c, uint8_t* next, int& front,
                      int16_t coefficients[64]) {
    int16_t* square = coefficients + kCoefficientScan[c];
    if constexpr (kPairedBits<kBits>) {
        ReadElementPair<kBits>(reader, c, square, next, front);
        ReadElementPair<kBits>(reader, c + 2, square + 8, next, front);
        return;
    }
    uint16_t values[4];
    for (int k = 0; k < 4; ++k) {
        if (k == 2 && reader.Available() < 32) reader.Refill();  // two take at most 32 bits
        const uint64_t cache = reader.Cache();
        if (cache & 1) {
            next[--front] = static_cast<uint8_t>((c + k) * 4 + 3);
            values[k] = 0;
            reader.Skip(1);
        } else {
            values[k] = static_cast<uint16_t>(shape.Decode(static_cast<uint32_t>(cache >> 1)));
            reader.Skip(static_cast<int>(1 + shape.width));
        }
    }
    std::memcpy(square, values, 4);
    std::memcpy(square + 8, values + 2, 4);
}

// An entry of mode 1 that reads a 1 splits into its four quarters c, c + 4,
// c + 8 and c + 12, each examined again with a new bit: the first takes the
// entry's place, the others go to the end of the list. Returns the new end.
[[gnu::always_inline]] inline int SplitEntry(uint8_t* list, int i, int end, int c) {
    list[i] = static_cast<uint8_t>(c * 4 + 2);
    list[end] = static_cast<uint8_t>((c + 4) * 4 + 2);
    list[end + 1] = static_cast<uint8_t>((c + 8) * 4 + 2);
    list[end + 2] = static_cast<uint8_t>((c + 12) * 4 + 2);
    return end + 3;
}

template <int kBits>
[[gnu::always_inline]] inline void CoefficientPass(BitReader& reader, CoefficientWalk& walk,
                                                   int bits, int16_t coefficients[64]) {
    const ValueShape<kBits> shape(bits);
    uint8_t* list = walk.buffer[walk.current];
    uint8_t* next = walk.buffer[walk.current ^ 1];
    int i = walk.front;
    int end = walk.back;
    int front = kWalkMiddle;
    int kept = kWalkMiddle;
    static_assert(kRunBits - 1 <= 16);
    for (;;) {
        if (reader.Available() < PassRefillBits<kBits>()) reader.Refill();
        const uint32_t zeros = ZeroRun(reader, end - i);
        reader.Skip(static_cast<int>(zeros));
        // A run is shorter than kRunBits. An empty run moves nothing: its
        // 16-byte load would span entries stored a byte at a time just
        // before (the previous pass's front entries, this pass's splits)
        // and wait for all of them to reach the cache.
        if (zeros != 0) std::memcpy(next + kept, list + i, 16);
        kept += static_cast<int>(zeros);
        i += static_cast<int>(zeros);
        if (i == end) break;
        if ((reader.Cache() & 1) == 0) continue;  // the run reached the marker
        reader.Skip(1);                           // the entry at i reads a 1
        if (!kPairedBits<kBits> && reader.Available() < 32) reader.Refill();
        const uint8_t e = list[i];
        const int c = e >> 2;
        const uint32_t mode = e & 3;
        if (mode == 3) [[likely]] {
            ++i;  // emptied
            coefficients[kEntryNatural.index[e]] =
                shape.Decode(static_cast<uint32_t>(reader.Cache()));
            reader.Skip(static_cast<int>(shape.width));
        } else if (mode != 1) [[likely]] {
            // Mode 0 is examined again with a new bit, mode 2 emptied.
            list[i] = static_cast<uint8_t>((c + 4) * 4 + 1);
            i += static_cast<int>(mode >> 1);
            ReadGroup<kBits>(reader, shape, c, next, front, coefficients);
        } else {  // examined again with a new bit
            end = SplitEntry(list, i, end, c);
        }
    }
    walk.current ^= 1;
    walk.front = front;
    walk.back = kept;
}

// The last pass (bits = 0) keeps nothing for later: entries that read 0 and
// values left pending are dropped, and every value is a sign bit. Its groups
// are decoded a whole at a time: four scan indexes c..c+3 (c a multiple of 4)
// are the natural 2x2 square n, n+1, n+8, n+9, and their four elements take
// 4 to 8 bits, so one lookup of 8 bits gives the bits used and the two pairs
// of values (zero where pending).
struct LastGroup {
    uint32_t upper[256];  // values of n, n+1 (low half first)
    uint32_t lower[256];  // values of n+8, n+9
    uint8_t length[256];
};

constexpr LastGroup MakeLastGroups() {
    LastGroup table{};
    for (uint32_t code = 0; code < 256; ++code) {
        uint32_t pos = 0;
        uint32_t values[4] = {};
        for (uint32_t k = 0; k < 4; ++k) {
            if ((code >> pos++) & 1) continue;  // pending
            values[k] = (code >> pos++) & 1 ? 0xFFFFu : 1u;
        }
        table.upper[code] = values[0] | values[1] << 16;
        table.lower[code] = values[2] | values[3] << 16;
        table.length[code] = static_cast<uint8_t>(pos);
    }
    return table;
}

constexpr LastGroup kLastGroups = MakeLastGroups();

inline void ReadLastGroup(BitReader& reader, int c, int16_t coefficients[64]) {
    const uint32_t code = static_cast<uint32_t>(reader.Cache()) & 0xFF;
    int16_t* square = coefficients + kCoefficientScan[c];
    std::memcpy(square, &kLastGroups.upper[code], 4);
    std::memcpy(square + 8, &kLastGroups.lower[code], 4);
    reader.Skip(kLastGroups.length[code]);
}

constexpr int16_t kSigns[2] = {1, -1};  // a value of the last pass, by its bit

[[gnu::always_inline]] inline void LastCoefficientPass(BitReader& reader, CoefficientWalk& walk,
                                                       int16_t coefficients[64]) {
    uint8_t* list = walk.buffer[walk.current];
    int i = walk.front;
    int end = walk.back;
    for (;;) {
        // After a run and the 1 that ends it, a group's 8-bit lookup is cached.
        if (reader.Available() < kRunBits + 8) reader.Refill();
        const uint32_t zeros = ZeroRun(reader, end - i);
        reader.Skip(static_cast<int>(zeros));
        i += static_cast<int>(zeros);
        if (i == end) return;
        if ((reader.Cache() & 1) == 0) continue;  // the run reached the marker
        reader.Skip(1);                           // the entry at i reads a 1
        const uint8_t e = list[i];
        const int c = e >> 2;
        const uint32_t mode = e & 3;
        if (mode == 3) [[likely]] {
            ++i;  // emptied
            coefficients[kEntryNatural.index[e]] = kSigns[reader.Cache() & 1];
            reader.Skip(1);
        } else if (mode != 1) [[likely]] {
            // Mode 0 is examined again with a new bit, mode 2 emptied.
            list[i] = static_cast<uint8_t>((c + 4) * 4 + 1);
            i += static_cast<int>(mode >> 1);
            ReadLastGroup(reader, c, coefficients);
        } else {  // examined again with a new bit
            end = SplitEntry(list, i, end, c);
        }
    }
}

// Clears coefficients 1-63 with one store per row of eight (the DC and
// seven zeros first): the transform loads the block a row at a time, and a
// load that spans two pending stores waits for both to reach the cache,
// where one that a single store covers takes its bytes straight from it.
// (Pieces of at most 64 bytes: one clear of 112 bytes would become a string
// instruction with a slow start.)
[[gnu::always_inline]] inline void ClearAc(int16_t coefficients[64]) {
    const uint64_t row0[2] = {static_cast<uint16_t>(coefficients[0]), 0};
    std::memcpy(coefficients, row0, sizeof row0);
    std::memset(coefficients + 8, 0, 24 * sizeof(int16_t));
    std::memset(coefficients + 32, 0, 32 * sizeof(int16_t));
}

// The passes from `passes` - 1 bits down to 0 over the list in the walk.
[[gnu::always_inline]] inline void RunPasses(BitReader& reader, CoefficientWalk& walk, int passes,
                                             int16_t coefficients[64]) {
    // One dispatch on the count; the passes with fewer bits follow in turn.
    switch (passes) {
        default:
            for (int bits = passes - 1; bits >= 3; --bits)
                CoefficientPass<-1>(reader, walk, bits, coefficients);
            [[fallthrough]];
        case 3:
            CoefficientPass<2>(reader, walk, 2, coefficients);
            [[fallthrough]];
        case 2:
            CoefficientPass<1>(reader, walk, 1, coefficients);
            [[fallthrough]];
        case 1:
            LastCoefficientPass(reader, walk, coefficients);
    }
}

// The lists of a block (coefficients 1-63 already clear) through a local
// reader.
[[gnu::always_inline]] inline void ReadClearedLists(BitReader& reader, int16_t coefficients[64]) {
    const int passes = static_cast<int>(reader.Read(4));
    if (passes == 0) return;
    // (4, group), (24, group), (44, group), then 1, 2 and 3 awaiting values.
    static constexpr uint8_t kStart[6] = {4 * 4, 24 * 4, 44 * 4, 1 * 4 + 3, 2 * 4 + 3, 3 * 4 + 3};
    CoefficientWalk walk;
    std::memcpy(walk.buffer[0] + kWalkMiddle, kStart, sizeof kStart);
    walk.back = kWalkMiddle + 6;
    RunPasses(reader, walk, passes, coefficients);
}

// Blocks of one or two passes whose starting list's three groups read 0 in
// every pass (about half of all blocks in typical movies) leave the list's
// shape alone: the groups stay, and of the entries 1, 2 and 3 (natural 1, 8
// and 9) those still awaiting read a 0 (they stay) or a 1 and their value.
// A pass over them is one lookup of the at most 3 x (bits + 2) bits they
// take, one word: the values of natural 1, 8 and 9 (zero where not read) in
// bits 0-47, which still await (bit 48 + k for entry k + 1) and the bits
// used from bit 56. (One word, so that no piece of it is stored and then
// loaded whole.)
constexpr int kAwaitingShift = 48, kLengthShift = 56;
constexpr uint64_t kSquareValues = (uint64_t{1} << kAwaitingShift) - 1;

template <uint32_t kCodes>
constexpr std::array<uint64_t, kCodes> MakeSquarePasses(int bits, uint32_t awaiting) {
    std::array<uint64_t, kCodes> table{};
    const ValueShape<-1> shape(bits);
    for (uint32_t code = 0; code < kCodes; ++code) {
        uint32_t pos = 0;
        uint64_t entry = 0;
        for (uint32_t k = 0; k < 3; ++k) {
            if ((awaiting >> k & 1) == 0) continue;
            if (((code >> pos++) & 1) == 0) {
                entry |= uint64_t{1} << (kAwaitingShift + k);
                continue;
            }
            entry |= uint64_t{static_cast<uint16_t>(shape.Decode(code >> pos))} << (16 * k);
            pos += shape.width;
        }
        table[code] = entry | uint64_t{pos} << kLengthShift;
    }
    return table;
}

// The pass with bits = 1 over all three entries (9 bits at most), and the
// last pass over each set of those still awaiting (6 bits at most).
constexpr std::array<uint64_t, 512> kFirstOfTwo = MakeSquarePasses<512>(1, 7);
constexpr std::array<std::array<uint64_t, 64>, 8> kLastSquarePasses = [] {
    std::array<std::array<uint64_t, 64>, 8> table{};
    for (uint32_t awaiting = 0; awaiting < 8; ++awaiting)
        table[awaiting] = MakeSquarePasses<64>(0, awaiting);
    return table;
}();

// The 4-bit pass counts 1 and 2 followed by the groups' three 0 bits.
constexpr int kSquareHeadBits = 7;
constexpr uint32_t kOnePassHead = 1, kTwoPassHead = 2;

// Every block the fast paths below do not take, out of line so that they
// keep a small frame.
[[gnu::noinline]] uint32_t ReadClearedBlock(BitReader& stream, int16_t coefficients[64]) {
    LocalReader local(stream);
    ReadClearedLists(*local, coefficients);
    return local->Read(4);
}

// A two-pass block whose groups read 0 in the first pass but not in the
// last: the last pass walks the starting list less the entries read.
[[gnu::noinline]] uint32_t ReadLastPassBlock(BitReader& stream, uint32_t awaiting,
                                             int16_t coefficients[64]) {
    LocalReader local(stream);
    CoefficientWalk walk;
    uint8_t* list = walk.buffer[0] + kWalkMiddle;
    list[0] = 4 * 4;
    list[1] = 24 * 4;
    list[2] = 44 * 4;
    int back = 3;
    for (uint32_t k = 0; k < 3; ++k)
        if (awaiting >> k & 1) list[back++] = static_cast<uint8_t>((k + 1) * 4 + 3);
    walk.back = kWalkMiddle + back;
    LastCoefficientPass(*local, walk, coefficients);
    return local->Read(4);
}

// Natural 1 into row 0 beside the DC, 8 and 9 into row 1.
inline void StoreSquare(uint64_t values, int16_t coefficients[64]) {
    const uint16_t first = static_cast<uint16_t>(values);
    const uint32_t second = static_cast<uint32_t>(values >> 16);
    std::memcpy(coefficients + 1, &first, 2);
    std::memcpy(coefficients + 8, &second, 4);
}

}  // namespace

void ReadCoefficients(BitReader& stream, int16_t coefficients[64]) {
    LocalReader local(stream);
    ClearAc(coefficients);
    ReadClearedLists(*local, coefficients);
}

uint32_t ReadCodedBlock(BitReader& stream, int16_t coefficients[64]) {
    ClearAc(coefficients);
    // The head and at most nine bits of a first pass.
    const uint32_t head = stream.Peek(kSquareHeadBits + 9);
    const uint32_t kind = head & ((1u << kSquareHeadBits) - 1);
    uint64_t values = 0;
    uint32_t awaiting = 7;
    if (kind == kTwoPassHead) {
        const uint64_t first = kFirstOfTwo[head >> kSquareHeadBits];
        values = first & kSquareValues;
        awaiting = static_cast<uint32_t>(first >> kAwaitingShift) & 7;
        stream.Skip(kSquareHeadBits + static_cast<int>(first >> kLengthShift));
        if (stream.Peek(3) != 0) {
            StoreSquare(values, coefficients);
            return ReadLastPassBlock(stream, awaiting, coefficients);
        }
        stream.Skip(3);
    } else if (kind == kOnePassHead) {
        stream.Skip(kSquareHeadBits);
    } else {
        return ReadClearedBlock(stream, coefficients);
    }
    // The last pass's values and the quantiser.
    const uint32_t bits = stream.Peek(6 + 4);
    const uint64_t last = kLastSquarePasses[awaiting][bits & 63];
    StoreSquare(values | last, coefficients);
    const int length = static_cast<int>(last >> kLengthShift);
    stream.Skip(length + 4);
    return (bits >> length) & 15;
}

void ReadResidue(BitReader& stream, uint32_t budget, uint8_t residue[64]) {
    LocalReader local(stream);
    BitReader& reader = *local;
    std::memset(residue, 0, 64);
    uint8_t nonzero[64];
    int nonzero_count = 0;
    uint32_t changes = 0;
    EntryList list;
    list.PushBack(4, 0);
    list.PushBack(24, 0);
    list.PushBack(44, 0);
    list.PushBack(0, 2);
    const uint32_t top = reader.Read(3);
    for (uint32_t mask = 1u << top; mask >= 1; mask >>= 1) {
        const int known = nonzero_count;
        for (int j = 0; j < known; ++j) {
            if (!reader.ReadBit()) continue;
            uint8_t& v = residue[nonzero[j]];
            v = static_cast<uint8_t>(static_cast<int8_t>(v) >= 0 ? v + mask : v - mask);
            if (++changes > budget) return;
        }
        const bool go_on = WalkList(reader, list, [&](int index) {
            residue[index] = static_cast<uint8_t>(reader.ReadBit() ? 0u - mask : mask);
            // Every scan index is reached once, so the list cannot pass 64.
            if (nonzero_count < 64) nonzero[nonzero_count++] = static_cast<uint8_t>(index);
            return ++changes <= budget;
        });
        if (!go_on) return;
    }
}

}  // namespace vemo::video
