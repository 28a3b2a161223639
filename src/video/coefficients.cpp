// Coefficient and residue significance lists.
//
// A list entry is one byte, scan index x 4 + mode; 0 is an empty entry. The
// list grows at the front (values pending for a later pass) and at the back
// (new groups). Its shape is fixed by the scan layout: at most 15 back
// entries and one front entry per coefficient, so the buffer below cannot
// overflow whatever the bits say.
#include <algorithm>
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

}  // namespace

void ReadCoefficients(BitReader& stream, int16_t coefficients[64]) {
    LocalReader local(stream);
    BitReader& reader = *local;
    std::memset(coefficients + 1, 0, 63 * sizeof(int16_t));
    EntryList list;
    list.PushBack(4, 0);
    list.PushBack(24, 0);
    list.PushBack(44, 0);
    list.PushBack(1, 3);
    list.PushBack(2, 3);
    list.PushBack(3, 3);
    const int passes = static_cast<int>(reader.Read(4));
    for (int bits = passes - 1; bits >= 0; --bits) {
        WalkList(reader, list, [&](int index) {
            uint32_t value;
            if (bits == 0) {
                value = reader.ReadBit() ? 0xFFFFu : 1u;
            } else {
                const uint32_t t = reader.Read(bits + 1);
                const uint32_t magnitude = (t & ((1u << bits) - 1)) | (1u << bits);
                value = (t >> bits) & 1 ? 0u - magnitude : magnitude;
            }
            coefficients[kCoefficientScan[index]] =
                static_cast<int16_t>(static_cast<uint16_t>(value));
            return true;
        });
    }
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
