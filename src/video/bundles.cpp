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

CodeTree ReadCodeTree(BitReader& reader, uint32_t* faults) {
    CodeTree tree = ReadTreeMap(reader, faults);
    tree.BuildDecode();
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

inline void StoreRepeated(uint8_t* p, uint32_t count, uint8_t v) {
    std::memset(p, v, count);
}

}  // namespace

FillResult FillBlockTypes(Bundle& bundle, BitReader& stream, uint32_t* faults) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    LocalReader local(stream);
    BitReader& reader = *local;
    FillResult result;
    const uint32_t n = StartFill(bundle, reader, &result);
    if (!n) return result;
    uint8_t* out = bundle.bytes();
    if (reader.ReadBit()) {
        StoreRepeated(out, n, static_cast<uint8_t>(reader.Read(4)));
        return result;
    }
    static const uint32_t kRepeat[4] = {4, 8, 12, 32};
    uint8_t last = 0;
    uint32_t i = 0;
    while (i < n) {
        const uint32_t s = DecodeSymbol(reader, bundle.tree);
        if (s < 12) {
            last = static_cast<uint8_t>(s);
            out[i++] = last;
            continue;
        }
        uint32_t r = kRepeat[s - 12];
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
    return result;
}

FillResult FillColours(Bundle& bundle, const CodeTree high_trees[16], uint32_t* previous_high,
                       bool old_version, BitReader& stream) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    LocalReader local(stream);
    BitReader& reader = *local;
    FillResult result;
    const uint32_t n = StartFill(bundle, reader, &result);
    if (!n) return result;
    uint8_t* out = bundle.bytes();
    const CodeTree& low_tree = bundle.tree;
    uint32_t high = *previous_high;
    auto colour = [&]() -> uint8_t {
        high = DecodeSymbol(reader, high_trees[high]);
        const uint32_t v = high * 16 + DecodeSymbol(reader, low_tree);
        if (!old_version) return static_cast<uint8_t>(v);
        return static_cast<uint8_t>((v & 0x80) ? 128 - (v & 0x7F) : 128 + (v & 0x7F));
    };
    if (reader.ReadBit()) {
        StoreRepeated(out, n, colour());
    } else {
        for (uint32_t i = 0; i < n; ++i) out[i] = colour();
    }
    *previous_high = high;
    return result;
}

FillResult FillPatterns(Bundle& bundle, BitReader& stream) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    LocalReader local(stream);
    BitReader& reader = *local;
    FillResult result;
    const uint32_t n = StartFill(bundle, reader, &result);
    if (!n) return result;
    uint8_t* out = bundle.bytes();
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t low = DecodeSymbol(reader, bundle.tree);
        out[i] = static_cast<uint8_t>(low + 16 * DecodeSymbol(reader, bundle.tree));
    }
    return result;
}

void MotionLookup::Build(const CodeTree& tree) {
    // Only the set's longest code and a sign bit are ever looked at. Each
    // code fills the entries whose low bits are its value, the sign bit
    // right above them choosing between +m and -m.
    const uint32_t used = 2u << kCodeLongest[tree.set];
    for (uint32_t c = 0; c < 16; ++c) {
        const uint32_t length = kCodeLengths[tree.set][c];
        const uint32_t m = tree.map[c];
        if (m == 0) {
            const auto e = static_cast<uint16_t>(length << 8);
            for (uint32_t i = kCodeValues[tree.set][c]; i < used; i += 1u << length) entry[i] = e;
            continue;
        }
        const auto plus = static_cast<uint16_t>((length + 1) << 8 | m);
        const auto minus = static_cast<uint16_t>((length + 1) << 8 | ((0u - m) & 0xFF));
        for (uint32_t i = kCodeValues[tree.set][c]; i < used; i += 2u << length) {
            entry[i] = plus;
            entry[i + (1u << length)] = minus;
        }
    }
    mask = used - 1;
}

FillResult FillMotion(Bundle& bundle, const MotionLookup& lookup, BitReader& stream) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    LocalReader local(stream);
    BitReader& reader = *local;
    FillResult result;
    const uint32_t n = StartFill(bundle, reader, &result);
    if (!n) return result;
    uint8_t* out = bundle.bytes();
    if (reader.ReadBit()) {
        uint32_t m = reader.Read(4);
        if (m && reader.ReadBit()) m = 0u - m;
        StoreRepeated(out, n, static_cast<uint8_t>(m));
        return result;
    }
    for (uint32_t i = 0; i < n;) {
        reader.Refill();
        const uint32_t end = std::min(n, i + kLookupsPerRefill);
        for (; i < end; ++i) {
            const uint32_t e = lookup.entry[reader.Cache() & lookup.mask];
            reader.Skip(static_cast<int>(e >> 8));
            out[i] = static_cast<uint8_t>(e);
        }
    }
    return result;
}

FillResult FillMotion(Bundle& bundle, BitReader& reader) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    return FillMotion(bundle, MotionLookup(bundle.tree), reader);
}

FillResult FillRuns(Bundle& bundle, BitReader& stream) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    LocalReader local(stream);
    BitReader& reader = *local;
    FillResult result;
    const uint32_t n = StartFill(bundle, reader, &result);
    if (!n) return result;
    uint8_t* out = bundle.bytes();
    if (reader.ReadBit()) {
        StoreRepeated(out, n, static_cast<uint8_t>(reader.Read(4)));
        return result;
    }
    for (uint32_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(DecodeSymbol(reader, bundle.tree));
    return result;
}

FillResult FillDc(Bundle& bundle, bool is_signed, BitReader& stream) {
    if (bundle.closed || !bundle.Exhausted()) return FillResult::kUnchanged;
    LocalReader local(stream);
    BitReader& reader = *local;
    FillResult result;
    const uint32_t n = StartFill(bundle, reader, &result);
    if (!n) return result;
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
        const int bits = static_cast<int>(reader.Read(4));
        if (bits == 0) {
            for (uint32_t j = 0; j < group; ++j) out[i + j] = value;
        } else {
            for (uint32_t j = 0; j < group; ++j) {
                const uint32_t m = reader.Read(bits);
                if (m) value = static_cast<uint16_t>(reader.ReadBit() ? value - m : value + m);
                out[i + j] = value;
            }
        }
        i += group;
    }
    return result;
}

}  // namespace vemo::video
