// Code trees and the bundle fillers.
#include <algorithm>

#include "video_internal.h"

namespace vemo::video {

namespace {

CodeTree ReadTreeMap(BitReader& reader, uint32_t* faults) {
    CodeTree tree;
    tree.set = static_cast<uint8_t>(reader.Read(4));
    if (tree.set == 0) return tree;
    if (reader.ReadBit()) {
        // Explicit list, then every value not listed in increasing order.
        const uint32_t listed = reader.Read(3) + 1;
        bool used[16] = {};
        uint32_t count = 0;
        for (uint32_t i = 0; i < listed; ++i) {
            const uint8_t v = static_cast<uint8_t>(reader.Read(4));
            if (used[v]) *faults |= kFaultTreeDuplicate;
            used[v] = true;
            tree.map[count++] = v;
        }
        // A list naming a value twice leaves fewer values to append than
        // places would suggest; the map still ends at 16 entries.
        for (uint8_t v = 0; v < 16 && count < 16; ++v)
            if (!used[v]) tree.map[count++] = v;
        return tree;
    }
    // Merge shuffle: d + 1 passes over runs of 1, 2, 4, 8 entries.
    const uint32_t depth = reader.Read(2);
    uint8_t list[16];
    for (uint8_t i = 0; i < 16; ++i) list[i] = i;
    for (uint32_t k = 0; k <= depth; ++k) {
        const uint32_t run = 1u << k;
        uint8_t merged[16];
        for (uint32_t start = 0; start < 16; start += 2 * run) {
            uint32_t a = start, b = start + run;
            const uint32_t a_end = start + run, b_end = start + 2 * run;
            uint32_t out = start;
            while (a < a_end && b < b_end) merged[out++] = reader.ReadBit() ? list[b++] : list[a++];
            while (a < a_end) merged[out++] = list[a++];
            while (b < b_end) merged[out++] = list[b++];
        }
        std::copy(merged, merged + 16, list);
    }
    std::copy(list, list + 16, tree.map);
    return tree;
}

}  // namespace

void BuildTreeLookup(CodeTree& tree) {
    static constexpr uint8_t kIdentity[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    if (std::memcmp(tree.map, kIdentity, 16) == 0) {
        std::memcpy(tree.decode, kCodeLookup[tree.set], kCodeLookupSize);
        return;
    }
    // Width by width: the entries of width w - 1 are repeated once (each
    // code shorter than w fills every index its value ends), then each code
    // of length w takes its own index. The codes of every set come in
    // order of length, and no code is the start of another.
    static_assert(kCodeLookupSize == 128);
    const uint8_t* lengths = kCodeLengths[tree.set];
    const uint8_t* values = kCodeValues[tree.set];
    uint8_t* d = tree.decode;
    d[0] = 0;
    uint32_t c = 0;
    auto codes_of = [&](uint32_t w) {
        for (; c < 16 && lengths[c] == w; ++c)
            d[values[c]] = static_cast<uint8_t>(w << 4 | tree.map[c]);
    };
    std::memcpy(d + 1, d, 1);
    codes_of(1);
    std::memcpy(d + 2, d, 2);
    codes_of(2);
    std::memcpy(d + 4, d, 4);
    codes_of(3);
    std::memcpy(d + 8, d, 8);
    codes_of(4);
    std::memcpy(d + 16, d, 16);
    codes_of(5);
    std::memcpy(d + 32, d, 32);
    codes_of(6);
    std::memcpy(d + 64, d, 64);
    codes_of(7);
}

CodeTree ReadCodeTree(BitReader& reader, uint32_t* faults) {
    CodeTree tree = ReadTreeMap(reader, faults);
    BuildTreeLookup(tree);
    return tree;
}

int LengthFieldWidth(uint32_t c) {
    uint32_t v = c + 511;
    int bits = 0;
    while (v) {
        ++bits;
        v >>= 1;
    }
    return std::min(bits, 15);
}

namespace {

// Reads the length field of an exhausted, open bundle. Returns the count, or
// 0 when nothing is to be stored (closed now or before, or still holding
// values); *result tells which.
uint32_t StartFill(Bundle& bundle, BitReader& reader, FillResult* result) {
    *result = FillResult::kUnchanged;
    if (bundle.closed || !bundle.Exhausted()) return 0;
    const uint32_t n = reader.Read(bundle.width);
    if (n == 0) {
        bundle.closed = true;
        return 0;
    }
    if (n > bundle.capacity) {
        *result = FillResult::kOverflow;
        return 0;
    }
    bundle.read = 0;
    bundle.end = n;
    *result = FillResult::kFilled;
    return n;
}

// The frame of every fill: nothing while the bundle is closed or still
// holds values; otherwise the length field, then body(reader, n) stores the
// n values, reading through a copy of the stream kept in registers.
//
// The fill itself is out of line, so that the common case (nothing to do)
// returns before any register is saved.
template <typename Body>
[[gnu::noinline]] FillResult RunOpenFill(Bundle& bundle, BitReader& stream, Body& body) {
    LocalReader local(stream);
    FillResult result;
    if (const uint32_t n = StartFill(bundle, *local, &result)) body(*local, n);
    return result;
}

template <typename Body>
inline FillResult RunFill(Bundle& bundle, BitReader& stream, Body&& body) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    return RunOpenFill(bundle, stream, body);
}

inline void StoreRepeated(uint8_t* p, uint32_t count, uint8_t v) {
    std::memset(p, v, count);
}

// A fill of 4-bit symbols opens with one bit: when set, one 4-bit value
// fills the whole bundle. Returns whether it did.
inline bool FilledWithOneValue(BitReader& reader, uint8_t* out, uint32_t n) {
    if (!reader.ReadBit()) return false;
    StoreRepeated(out, n, static_cast<uint8_t>(reader.Read(4)));
    return true;
}

}  // namespace

namespace {

constexpr uint32_t kTypeRepeat[4] = {4, 8, 12, 32};

// Block types 0-11 stand for themselves; 12-15 repeat the last type 4, 8,
// 12 or 32 times.
struct TypeDecode {
    uint8_t* out;
    uint32_t n;
    uint32_t i = 0;
    uint8_t last = 0;
    uint32_t* faults;

    void Repeat(uint32_t symbol) {
        uint32_t r = kTypeRepeat[symbol - 12];
        if (r > n - i) {  // a repeat past the fill's length is cut there
            *faults |= kFaultFillOverrun;
            r = n - i;
        }
        if (i + 32 <= n) {
            // Whole words; what lands past the repeat is overwritten by the
            // values after it.
            uint8_t line[32];
            std::memset(line, last, 32);
            std::memcpy(out + i, line, 32);
        } else {
            StoreRepeated(out + i, r, last);
        }
        i += r;
    }
    // One code at a time up to the end of the fill.
    void Rest(BitReader& reader, const CodeTree& tree) {
        while (i < n) {
            const uint32_t s = DecodeSymbol(reader, tree);
            if (s >= 12) {
                Repeat(s);
                continue;
            }
            last = static_cast<uint8_t>(s);
            out[i++] = last;
        }
    }
};

// One lookup on the next 7 stream bits gives either the types whose codes
// lie wholly in them, up to the first repeat code (at most seven, the first
// in the low byte of `types`), or, where a repeat code comes first, that
// repeat; with the bits used, the count of values stored and (for types)
// the last of them. Every code fits in 7 bits, so every entry is one or the
// other.
struct TypeGroups {
    static constexpr int kBits = 7;
    static_assert(kBits >= kLongestCode);
    // info: bits used | count << kCountShift | last type << kLastShift, and
    // kRepeat for a repeat of the last type stored before it. The bits used
    // fill the low six bits, so a 64-bit shift takes the entry as it is.
    static constexpr uint32_t kUsedMask = 63, kCountShift = 6, kLastShift = 12;
    static constexpr uint32_t kRepeatShift = 16, kRepeat = 1u << kRepeatShift;
    // A repeat's types are 0, so its word is the last type's word alone.
    uint64_t types[1 << kBits];
    uint32_t info[1 << kBits];
    // The last type of a group entry in every byte (0 for a repeat).
    uint64_t last[1 << kBits];

    void Build(const CodeTree& tree) {
        // The same table for every width w < kBits (at offset 2^w - 1); an
        // entry of width w is one code followed by the entry of width
        // w - length for the bits after it.
        uint64_t narrow_types[(1 << kBits) - 1];
        uint32_t narrow_info[(1 << kBits) - 1];
        const uint8_t* lengths = kCodeLengths[tree.set];
        const uint8_t* values = kCodeValues[tree.set];
        for (uint32_t w = 0; w <= kBits; ++w) {
            const bool last_level = w == kBits;
            uint64_t* level_types = last_level ? types : narrow_types + (1u << w) - 1;
            uint32_t* level_info = last_level ? info : narrow_info + (1u << w) - 1;
            std::memset(level_types, 0, sizeof(uint64_t) << w);
            std::memset(level_info, 0, sizeof(uint32_t) << w);
            // Codes come in order of length.
            for (uint32_t c = 0; c < 16 && lengths[c] <= w; ++c) {
                const uint32_t length = lengths[c], symbol = tree.map[c];
                const uint32_t rest = w - length;
                if (symbol >= 12) {
                    if (!last_level) continue;  // groups end before a repeat
                    const uint32_t repeat =
                        length | kTypeRepeat[symbol - 12] << kCountShift | kRepeat;
                    for (uint32_t x = 0; x < (1u << rest); ++x)
                        level_info[values[c] | x << length] = repeat;
                    continue;
                }
                const uint64_t* child_types = narrow_types + (1u << rest) - 1;
                const uint32_t* child_info = narrow_info + (1u << rest) - 1;
                const uint32_t one = 1u << kCountShift;
                for (uint32_t x = 0; x < (1u << rest); ++x) {
                    const uint32_t j = values[c] | x << length;
                    const uint32_t child = child_info[x];
                    level_types[j] = child_types[x] << 8 | symbol;
                    level_info[j] =
                        child ? child + length + one : length | one | symbol << kLastShift;
                }
            }
        }
        for (uint32_t j = 0; j < (1u << kBits); ++j)
            last[j] = 0x0101010101010101ull * (info[j] >> kLastShift & 15);
    }
};

// The tables of the trees used last on this thread, one cache per kind of
// table: a plane's trees change once per plane at most, and the planes of
// a frame (and the frames of a scene) often use the same ones again. The
// entry not used for longest is replaced.
template <typename Table>
const Table& CachedFor(const CodeTree& tree) {
    constexpr int kEntries = 8;
    struct Entry {
        bool valid = false;
        uint8_t set = 0;
        uint8_t map[16] = {};
        uint32_t used = 0;
        Table table;
    };
    thread_local Entry cache[kEntries];
    thread_local uint32_t clock = 0;
    Entry* oldest = &cache[0];
    for (Entry& e : cache) {
        if (e.valid && e.set == tree.set && std::memcmp(e.map, tree.map, 16) == 0) {
            e.used = ++clock;
            return e.table;
        }
        if (e.used < oldest->used) oldest = &e;
    }
    Entry& e = *oldest;
    e.table.Build(tree);
    e.set = tree.set;
    std::memcpy(e.map, tree.map, 16);
    e.valid = true;
    e.used = ++clock;
    return e.table;
}

// Fills shorter than this decode one code at a time.
constexpr uint32_t kGroupedTypesFrom = 64;

void DecodeTypes(BitReader& reader, const CodeTree& tree, TypeDecode& d) {
    if (d.n >= kGroupedTypesFrom) {
        const TypeGroups& groups = CachedFor<TypeGroups>(tree);
        // Each lookup stores 32 bytes (a group's types, or the last type
        // repeated), so the last types are left to the plain loop; what
        // lands past a lookup's values is overwritten by the ones after it.
        uint64_t last = 0x0101010101010101ull * d.last;
        uint8_t* const out = d.out;
        uint32_t i = d.i;
        while (d.n - i >= 32) {
            if (reader.Available() < TypeGroups::kBits) reader.Refill();
            const uint32_t bits =
                static_cast<uint32_t>(reader.Cache()) & ((1u << TypeGroups::kBits) - 1);
            const uint32_t info = groups.info[bits];
            // All ones for a repeat, else 0: the word and the last type are
            // picked without a branch on the entry's kind.
            const uint64_t keep = 0 - static_cast<uint64_t>(info >> TypeGroups::kRepeatShift);
            const uint64_t word = groups.types[bits] | (last & keep);
            // Four stores of the word held in a register.
            for (int k = 0; k < 4; ++k) std::memcpy(out + i + 8 * k, &word, 8);
            i += info >> TypeGroups::kCountShift & 63;
            last = (last & keep) | groups.last[bits];
            reader.Skip(static_cast<int>(info & TypeGroups::kUsedMask));
        }
        d.i = i;
        d.last = static_cast<uint8_t>(last);
    }
    d.Rest(reader, tree);
}

}  // namespace

FillResult FillBlockTypes(Bundle& bundle, BitReader& stream, uint32_t* faults) {
    return RunFill(bundle, stream, [&](BitReader& reader, uint32_t n) {
        uint8_t* out = bundle.bytes();
        if (FilledWithOneValue(reader, out, n)) return;
        TypeDecode decode{out, n, 0, 0, faults};
        DecodeTypes(reader, bundle.tree, decode);
    });
}

namespace {

// A colour value as movies before version "i" store it: 128 + the low seven
// bits, or 128 - them when bit 7 is set.
constexpr uint8_t OldColour(uint32_t v) {
    return static_cast<uint8_t>((v & 0x80) ? 128 - (v & 0x7F) : 128 + (v & 0x7F));
}

// The colour codes of one fill. A colour takes at most two 7-bit codes, so
// one refill serves four of them; the two codes of a colour are looked up
// in the same cached bits and consumed together.
template <bool kOldVersion>
uint32_t DecodeColours(BitReader& reader, const CodeTree high_trees[16], const CodeTree& low_tree,
                       uint32_t high, uint8_t* out, uint32_t n) {
    constexpr uint32_t kColoursPerRefill = 4;
    const uint8_t* high_decode[16];
    for (int k = 0; k < 16; ++k) high_decode[k] = high_trees[k].decode;
    const uint8_t* low_decode = low_tree.decode;
    auto colour = [&]() {
        const uint64_t cache = reader.Cache();
        const uint32_t h = high_decode[high][cache & (kCodeLookupSize - 1)];
        const uint32_t high_length = h >> 4;
        const uint32_t l = low_decode[(cache >> high_length) & (kCodeLookupSize - 1)];
        reader.Skip(static_cast<int>(high_length + (l >> 4)));
        high = h & 15;
        const uint32_t v = high * 16 + (l & 15);
        return kOldVersion ? OldColour(v) : static_cast<uint8_t>(v);
    };
    uint32_t i = 0;
    for (; n - i >= kColoursPerRefill; i += kColoursPerRefill) {
        reader.Refill();
        for (uint32_t k = 0; k < kColoursPerRefill; ++k) out[i + k] = colour();
    }
    reader.Refill();
    for (; i < n; ++i) out[i] = colour();
    return high;
}

}  // namespace

FillResult FillColours(Bundle& bundle, const CodeTree high_trees[16], uint32_t* previous_high,
                       bool old_version, BitReader& stream) {
    return RunFill(bundle, stream, [&](BitReader& reader, uint32_t n) {
        uint8_t* out = bundle.bytes();
        const bool fill = reader.ReadBit() != 0;
        const uint32_t count = fill ? 1 : n;
        *previous_high =
            old_version
                ? DecodeColours<true>(reader, high_trees, bundle.tree, *previous_high, out, count)
                : DecodeColours<false>(reader, high_trees, bundle.tree, *previous_high, out, count);
        if (fill) StoreRepeated(out, n, out[0]);
    });
}

FillResult FillPatterns(Bundle& bundle, BitReader& stream) {
    return RunFill(bundle, stream, [&](BitReader& reader, uint32_t n) {
        uint8_t* out = bundle.bytes();
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t low = DecodeSymbol(reader, bundle.tree);
            out[i] = static_cast<uint8_t>(low + 16 * DecodeSymbol(reader, bundle.tree));
        }
    });
}

void MotionLookup::Build(const CodeTree& tree) {
    // Width by width as for the tree lookups (BuildTreeLookup), over the
    // codes with their sign bits: offset 0 is its code alone, any other
    // offset m its code and a sign bit right above it choosing +m or -m. The
    // whole table is built; only the set's longest code and a sign bit are
    // ever looked at.
    static_assert(sizeof entry / sizeof entry[0] == 256 && kLongestCode + 1 <= 8);
    const uint8_t* lengths = kCodeLengths[tree.set];
    const uint8_t* values = kCodeValues[tree.set];
    entry[0] = 0;
    uint32_t zeros = 0;         // codes of length w with offset 0 (one in a well-formed map)
    uint32_t signed_codes = 0;  // codes of length w - 1 with other offsets
    auto codes_of = [&](uint32_t w) {
        for (; zeros < 16 && lengths[zeros] <= w; ++zeros)
            if (tree.map[zeros] == 0) entry[values[zeros]] = static_cast<uint16_t>(w << 8);
        for (; signed_codes < 16 && lengths[signed_codes] + 1u <= w; ++signed_codes) {
            const uint32_t m = tree.map[signed_codes];
            if (m == 0) continue;
            const uint32_t v = values[signed_codes];
            entry[v] = static_cast<uint16_t>(w << 8 | m);
            entry[v | 1u << (w - 1)] = static_cast<uint16_t>(w << 8 | ((0u - m) & 0xFF));
        }
    };
    std::memcpy(entry + 1, entry, 2);
    codes_of(1);
    std::memcpy(entry + 2, entry, 4);
    codes_of(2);
    std::memcpy(entry + 4, entry, 8);
    codes_of(3);
    std::memcpy(entry + 8, entry, 16);
    codes_of(4);
    std::memcpy(entry + 16, entry, 32);
    codes_of(5);
    std::memcpy(entry + 32, entry, 64);
    codes_of(6);
    std::memcpy(entry + 64, entry, 128);
    codes_of(7);
    std::memcpy(entry + 128, entry, 256);
    codes_of(8);
    mask = (2u << kCodeLongest[tree.set]) - 1;
}

namespace {

// The high byte of table[index], read by itself (a byte load on
// little-endian hosts rather than the word and a shift).
inline uint32_t EntryHighByte(const uint16_t* table, uint32_t index) {
    if constexpr (std::endian::native == std::endian::little)
        return reinterpret_cast<const uint8_t*>(table + index)[1];
    else
        return table[index] >> 8;
}

}  // namespace

FillResult FillMotion(Bundle& bundle, const MotionLookup& lookup, BitReader& stream) {
    return RunFill(bundle, stream, [&](BitReader& reader, uint32_t n) {
        uint8_t* out = bundle.bytes();
        if (reader.ReadBit()) {
            uint32_t m = reader.Read(4);
            if (m && reader.ReadBit()) m = 0u - m;
            StoreRepeated(out, n, static_cast<uint8_t>(m));
            return;
        }
        // The offsets of one refill are taken from a copy of the cache; the
        // reader skips their bits at once.
        // The bits used are loaded as a byte of their own, so the next
        // index waits on one load and one shift.
        const uint16_t* entry = lookup.entry;
        const uint32_t mask = lookup.mask;
        auto offsets = [&](uint32_t i, uint32_t count) {
            reader.Refill();
            uint64_t cache = reader.Cache();
            uint32_t used = 0;
            for (uint32_t k = 0; k < count; ++k) {
                const uint32_t index = static_cast<uint32_t>(cache) & mask;
                const uint32_t length = EntryHighByte(entry, index);
                cache >>= length;
                used += length;
                out[i + k] = static_cast<uint8_t>(entry[index]);
            }
            reader.Skip(static_cast<int>(used));
        };
        uint32_t i = 0;
        for (; n - i >= kLookupsPerRefill; i += kLookupsPerRefill) offsets(i, kLookupsPerRefill);
        offsets(i, n - i);
    });
}

FillResult FillMotion(Bundle& bundle, BitReader& reader) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    return FillMotion(bundle, MotionLookup(bundle.tree), reader);
}

FillResult FillRuns(Bundle& bundle, BitReader& stream) {
    return RunFill(bundle, stream, [&](BitReader& reader, uint32_t n) {
        uint8_t* out = bundle.bytes();
        if (FilledWithOneValue(reader, out, n)) return;
        for (uint32_t i = 0; i < n; ++i)
            out[i] = static_cast<uint8_t>(DecodeSymbol(reader, bundle.tree));
    });
}

FillResult FillDc(Bundle& bundle, bool is_signed, BitReader& stream) {
    return RunFill(bundle, stream, [&](BitReader& reader, uint32_t n) {
        uint16_t* out = bundle.words();
        uint16_t value;
        if (is_signed) {
            uint32_t m = reader.Read(10);
            if (m && reader.ReadBit()) m = 0u - m;
            value = static_cast<uint16_t>(m);
        } else {
            value = static_cast<uint16_t>(reader.Read(11));
        }
        out[0] = value;
        for (uint32_t i = 1; i < n;) {
            const uint32_t group = std::min<uint32_t>(8, n - i);
            const uint32_t bits = reader.Read(4);
            if (bits == 0) {
                for (uint32_t j = 0; j < group; ++j) out[i + j] = value;
                i += group;
                continue;
            }
            // A step of bits m, then a sign bit only when m is not 0.
            const uint32_t low = (1u << bits) - 1;
            auto step = [&](uint32_t j) {
                const uint32_t t = static_cast<uint32_t>(reader.Cache());
                const uint32_t m = t & low;
                const uint32_t nonzero = m != 0;
                const uint32_t negative = (t >> bits) & nonzero;
                reader.Skip(static_cast<int>(bits + nonzero));
                value = static_cast<uint16_t>(value + ((m ^ (0u - negative)) + negative));
                out[i + j] = value;
            };
            // Eight steps of up to 7 bits fit one refill.
            if (bits < 7) {
                reader.Refill();
                for (uint32_t j = 0; j < group; ++j) step(j);
            } else {
                for (uint32_t j = 0; j < group; ++j) {
                    if (reader.Available() < 16) reader.Refill();
                    step(j);
                }
            }
            i += group;
        }
    });
}

}  // namespace vemo::video
