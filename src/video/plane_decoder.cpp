// The plane decoder: bundle set-up, the walk over the 8x8 blocks and the
// drawing of every block type.
#include <algorithm>
#include <bit>

#include "vemo/cpu.h"
#include "video_internal.h"

namespace vemo::video {

namespace {

inline uint32_t Replicate(uint8_t v) {
    return 0x01010101u * v;
}

// Fills a size x size square (8 or 16) with one value: one store a row,
// two rows a step, the value held in a register throughout.
inline void Fill(uint8_t* dst, uint32_t stride, int size, uint8_t v) {
    const uint64_t word = 0x0101010101010101ull * v;
    const size_t step = stride;
    if (size == 8) {
        for (int row = 0; row < 8; row += 2, dst += 2 * step) {
            std::memcpy(dst, &word, 8);
            std::memcpy(dst + step, &word, 8);
        }
        return;
    }
    const uint64_t line[2] = {word, word};
    for (int row = 0; row < 16; row += 2, dst += 2 * step) {
        std::memcpy(dst, line, 16);
        std::memcpy(dst + step, line, 16);
    }
}

// How many of the first `limit` bytes of p equal v (and, where q is given,
// the bytes of q at the same places equal w), up to the first that does not;
// eight bytes a step.
inline uint32_t LeadingPairs(const uint8_t* p, uint8_t v, const uint8_t* q, uint8_t w,
                             uint32_t limit) {
    const uint64_t pv = 0x0101010101010101ull * v, qw = 0x0101010101010101ull * w;
    uint32_t n = 0;
    for (; n + 8 <= limit; n += 8) {
        uint64_t differ = LoadLittle64(p + n) ^ pv;
        if (q) differ |= LoadLittle64(q + n) ^ qw;
        if (differ) return n + static_cast<uint32_t>(std::countr_zero(differ)) / 8;
    }
    while (n < limit && p[n] == v && (!q || q[n] == w)) ++n;
    return n;
}

// Stores `count` bytes of 1 from p: overlapping word stores instead of a
// library call (the ranges are mostly a few bytes).
inline void SetOnes(uint8_t* p, uint32_t count) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    if (count >= 8) {
        for (uint32_t at = 0; at + 8 < count; at += 8) std::memcpy(p + at, &kOnes, 8);
        std::memcpy(p + count - 8, &kOnes, 8);
    } else if (count >= 4) {
        std::memcpy(p, &kOnes, 4);
        std::memcpy(p + count - 4, &kOnes, 4);
    } else if (count >= 2) {
        std::memcpy(p, &kOnes, 2);
        std::memcpy(p + count - 2, &kOnes, 2);
    } else if (count) {
        *p = 1;
    }
}

// The top bit of every byte of x that is 0.
inline uint64_t ZeroByteMarks(uint64_t x) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return ~((((x & kLow7) + kLow7) | x) | kLow7);
}

// How many bytes of marks (from ZeroByteMarks) are marked.
inline uint32_t CountMarks(uint64_t marks) {
    return static_cast<uint32_t>(((marks >> 7) * 0x0101010101010101ull) >> 56);
}

// How many of the eight bytes of x are 0.
inline uint32_t ZeroBytes(uint64_t x) {
    return CountMarks(ZeroByteMarks(x));
}

// How many of the blocks first .. end - 1 (first < end, at most 8 map bytes
// from first / 2 to (end - 1) / 2) of a luma block row have a zero map
// byte, map holding two blocks a byte, from the 8 bytes at map + first / 2:
// without a branch on where the run starts or ends.
inline uint32_t UnchangedLumaBlocks(const uint8_t* map, uint32_t first, uint32_t end) {
    const uint32_t bytes = (end - 1) / 2 - first / 2 + 1;  // 1 to 8
    const uint64_t marks =
        ZeroByteMarks(LoadLittle64(map + first / 2)) & (~0ull >> (64 - 8 * bytes));
    // An odd first block leaves out the first byte's other block, an odd
    // end the last byte's second block.
    const uint64_t left_out =
        ((first & 1) & (marks >> 7)) + ((end & 1) & (marks >> (8 * bytes - 1)));
    return 2 * CountMarks(marks) - static_cast<uint32_t>(left_out);
}

// The same for first .. end - 1 (first < end <= first + 8) of a chroma
// block row, a block a byte, from the 8 bytes at map + first.
inline uint32_t UnchangedChromaBlocks(const uint8_t* map, uint32_t first, uint32_t end) {
    const uint32_t bytes = end - first;
    return CountMarks(ZeroByteMarks(LoadLittle64(map + first)) & (~0ull >> (64 - 8 * bytes)));
}

// The change-map row of a block row: `limit` bytes of it may be marked
// (none without a row).
struct RowMap {
    uint8_t* bytes;
    uint32_t limit;
    void Mark(uint32_t i) const {
        if (i < limit) bytes[i] = 1;
    }
    // Bytes first .. last.
    void MarkRange(uint32_t first, uint32_t last) const {
        const uint32_t end = std::min(last + 1, limit);
        if (first < end) SetOnes(bytes + first, end - first);
    }
    // 1 when byte i is in the row and still 0.
    uint32_t Unchanged(uint32_t i) const { return i < limit && bytes[i] == 0; }
};

// Copies 8 rows of `bytes` bytes (a multiple of 8) between the two frame
// buffers (which never overlap). Up to 64 bytes a row are moved as 16-byte
// pieces, the last ones overlapping where the width is not a multiple of 16.
// Strips over 64 bytes, out of line: the row copies call the library.
[[gnu::noinline]] void CopyWideStrip(const uint8_t* src, uint8_t* dst, size_t stride,
                                     uint32_t bytes) {
    for (int row = 0; row < 8; ++row, src += stride, dst += stride) std::memcpy(dst, src, bytes);
}

inline void CopyStrip(const uint8_t* src, uint8_t* dst, size_t stride, uint32_t bytes) {
    auto rows = [&](auto copy_row) {
        for (int row = 0; row < 8; ++row, src += stride, dst += stride) copy_row();
    };
    auto copy16 = [&](uint32_t at) { std::memcpy(dst + at, src + at, 16); };
    if (bytes == 8) {
        rows([&] { std::memcpy(dst, src, 8); });
    } else if (bytes <= 32) {
        rows([&] {
            copy16(0);
            copy16(bytes - 16);
        });
    } else if (bytes <= 64) {
        rows([&] {
            copy16(0);
            copy16(16);
            copy16(bytes - 32);
            copy16(bytes - 16);
        });
    } else {
        CopyWideStrip(src, dst, stride, bytes);
    }
}

void PlainFillSquares(uint8_t* dst, uint32_t stride, const uint8_t* colours, uint32_t count) {
    for (; count; --count, ++colours, dst += 16) Fill(dst, stride, 16, *colours);
}

void PlainCopyStrip(const uint8_t* src, uint8_t* dst, uint32_t stride, uint32_t bytes) {
    CopyStrip(src, dst, stride, bytes);
}

const WalkKernels kPlainWalk = {PlainFillSquares, PlainCopyStrip};
CpuKernelTable<WalkKernels, FillWalkKernels> g_walk_kernels;

// Row by row, each row loaded before it is stored: with one frame buffer the
// source may overlap the block (or be the block itself).
inline void Copy8x8(const uint8_t* src, uint8_t* dst, uint32_t stride) {
    for (int row = 0; row < 8; ++row) {
        uint64_t line;
        std::memcpy(&line, src + row * stride, 8);
        std::memcpy(dst + row * stride, &line, 8);
    }
}

// Draws an 8x8 byte block, doubled when `doubled` (each sample a 2x2 square).
inline void PutBlock(const uint8_t block[64], uint8_t* dst, uint32_t stride, bool doubled) {
    if (!doubled) {
        for (int row = 0; row < 8; ++row) std::memcpy(dst + row * stride, block + row * 8, 8);
        return;
    }
    for (int row = 0; row < 8; ++row) {
        uint8_t line[16];
        for (int col = 0; col < 8; ++col) line[2 * col] = line[2 * col + 1] = block[row * 8 + col];
        std::memcpy(dst + 2 * row * stride, line, 16);
        std::memcpy(dst + (2 * row + 1) * stride, line, 16);
    }
}

// Word masks of a pattern nibble: bit j set selects byte j.
struct PatternMasks {
    uint32_t mask[16];
    uint32_t pair[4];  // doubled: bit j selects bytes 2j and 2j + 1
    PatternMasks() {
        for (uint32_t n = 0; n < 16; ++n) {
            uint8_t b[4];
            for (int j = 0; j < 4; ++j) b[j] = (n >> j) & 1 ? 0xFF : 0;
            std::memcpy(&mask[n], b, 4);
        }
        for (uint32_t n = 0; n < 4; ++n) {
            uint8_t b[4] = {0, 0, 0, 0};
            for (int j = 0; j < 2; ++j) b[2 * j] = b[2 * j + 1] = (n >> j) & 1 ? 0xFF : 0;
            std::memcpy(&pair[n], b, 4);
        }
    }
};
const PatternMasks kPatternMasks;

class PlaneDecoder {
  public:
    explicit PlaneDecoder(const PlaneJob& job) : job_(job), reader_(job.data, job.size) {}

    PlaneOutcome Run();

  private:
    // Next values of the bundles (0 from an exhausted or closed bundle).
    uint8_t NextByte(int kind) {
        Bundle& b = bundles_[kind];
        if (b.read < b.end) [[likely]]
            return b.bytes()[b.read++];
        faults_ |= kFaultBundleEmpty;
        return 0;
    }
    uint16_t NextWord(int kind) {
        Bundle& b = bundles_[kind];
        if (b.read < b.end) [[likely]]
            return b.words()[b.read++];
        faults_ |= kFaultBundleEmpty;
        return 0;
    }
    uint8_t NextColour() { return NextByte(kBundleColours); }

    void SetUp();
    // The next value of a bundle's bytes at position `at` before `end` (0
    // past it).
    uint32_t NextOf(const uint8_t* bytes, uint32_t& at, uint32_t end) {
        if (at < end) [[likely]]
            return bytes[at++];
        faults_ |= kFaultBundleEmpty;
        return 0;
    }

    // A skip block at column `col` and the skip blocks right after it in the
    // block-type bundle (from position `read` on), copied as one strip;
    // returns the columns used. The caller moves past the run's values.
    template <uint32_t kKind>
    [[gnu::noinline]] uint32_t SkipRun(uint32_t col, uint32_t bw, uint32_t read);
    // The blocks of the row at y.
    // kKind is the plane kind (1 or 2); kScaledRow tells an even block row,
    // where scaled blocks are drawn. kChecked: the block-type or sub-type
    // bundle may run out within the row (a row never takes more types than
    // it has columns, nor more sub-types than half of them rounded up, so
    // with that many left no read needs a test).
    template <uint32_t kKind, bool kScaledRow, bool kChecked>
    [[gnu::noinline]] void WalkRow(uint32_t y, uint32_t bw);
    template <uint32_t kKind>
    void WalkRowOfKind(uint32_t y, uint32_t bw) {
        const Bundle& types = bundles_[kBundleBlockTypes];
        const Bundle& sub_types = bundles_[kBundleSubBlockTypes];
        const bool checked = types.end - types.read < bw ||
                             ((y & 8) == 0 && sub_types.end - sub_types.read < (bw + 1) / 2);
        if (y & 8)
            checked ? WalkRow<kKind, false, true>(y, bw) : WalkRow<kKind, false, false>(y, bw);
        else
            checked ? WalkRow<kKind, true, true>(y, bw) : WalkRow<kKind, true, false>(y, bw);
    }
    // A scaled block at column col of an even row (its type taken from
    // read - 1), with the scaled fills right after it; returns the columns
    // used, moving read and sub_read past what it took. Blocks from
    // scaled_end on hang over the plane's edge.
    template <uint32_t kKind, bool kChecked>
    [[gnu::always_inline]] inline uint32_t ScaledBlocks(uint32_t col, uint32_t y,
                                                        uint32_t scaled_end, uint32_t& read,
                                                        uint32_t& sub_read);
    // A scaled block's lower half at column col of an odd row and the ones
    // right after it; returns the columns used, moving read past them.
    template <uint32_t kKind>
    [[gnu::always_inline]] inline uint32_t ScaledBelow(uint32_t col, uint32_t bw, uint32_t& read);
    // Draws a block of a type the walk does not draw itself (run, residue,
    // intra, inter, pattern, raw, or none) at (x, y); returns the columns used.
    [[gnu::noinline]] int DecodeBlock(uint32_t type, uint32_t x, uint32_t y, uint32_t p);
    // A scaled block hanging over the plane's edge: drawn into a 16x16 block
    // (holding what is there now) and only what fits is stored back.
    [[gnu::noinline]] void DrawScaledClipped(uint32_t sub_type, uint32_t x, uint32_t y);
    [[gnu::noinline]] void DrawScaled(uint32_t sub_type, uint8_t* dst, uint32_t stride);
    void RunBlock(uint8_t block[64]);
    void PatternBlock(uint8_t* dst, uint32_t stride, bool doubled);
    // The source block of offsets (dx, dy) from (x, y), kept in the plane.
    [[gnu::always_inline]] inline const uint8_t* MotionSource(uint32_t x, uint32_t y, int32_t dx,
                                                              int32_t dy);
    const uint8_t* MotionSource(uint32_t x, uint32_t y) {
        const int32_t dx = static_cast<int8_t>(NextByte(kBundleMotionX));
        return MotionSource(x, y, dx, static_cast<int8_t>(NextByte(kBundleMotionY)));
    }
    void Mark(uint32_t p) {
        if (p / 2 < map_limit_) map_row_[p / 2] = 1;
    }

    const PlaneJob job_;  // a copy: one load per field in the walk
    // The largest motion source positions (the plane's size less a block).
    const int32_t motion_max_x_ = static_cast<int32_t>(job_.width) - 8;
    const int32_t motion_max_y_ = static_cast<int32_t>(job_.height) - 8;
    BitReader reader_;
    Bundle bundles_[kBundleCount];
    CodeTree high_trees_[16];
    MotionLookup motion_lookup_[2];  // horizontal, vertical
    uint32_t previous_high_ = 0;
    uint32_t faults_ = 0;
    uint32_t unchanged_ = 0;
    uint8_t* map_row_ = nullptr;
    uint32_t map_limit_ = 0;  // bytes of map_row_ that may be marked (0 without a row)
    uint8_t* dst_row_ = nullptr;
    const uint8_t* ref_row_ = nullptr;
    int16_t coefficients_[64];
    const WalkKernels& walk_ = ActiveWalkKernels();
    const QuantTable& intra_quant_ = IntraQuantTable();
    const QuantTable& inter_quant_ = InterQuantTable();
};

void PlaneDecoder::SetUp() {
    const BundleBuffers& buffers = *job_.bundles;
    for (int i = 0; i < kBundleCount; ++i) {
        bundles_[i].data = buffers.buffer[i];
        bundles_[i].capacity = buffers.buffer[i] ? buffers.capacity[i] : 0;
        bundles_[i].width =
            LengthFieldWidth(static_cast<uint32_t>(BundleCountBasis(job_.width, i)));
    }
    bundles_[kBundleBlockTypes].tree = ReadCodeTree(reader_, &faults_);
    bundles_[kBundleSubBlockTypes].tree = ReadCodeTree(reader_, &faults_);
    for (auto& tree : high_trees_) tree = ReadCodeTree(reader_, &faults_);
    bundles_[kBundleColours].tree = ReadCodeTree(reader_, &faults_);
    bundles_[kBundlePatterns].tree = ReadCodeTree(reader_, &faults_);
    bundles_[kBundleMotionX].tree = ReadCodeTree(reader_, &faults_);
    bundles_[kBundleMotionY].tree = ReadCodeTree(reader_, &faults_);
    bundles_[kBundleRuns].tree = ReadCodeTree(reader_, &faults_);
    motion_lookup_[0].Build(bundles_[kBundleMotionX].tree);
    motion_lookup_[1].Build(bundles_[kBundleMotionY].tree);
    previous_high_ = 0;
}

PlaneOutcome PlaneDecoder::Run() {
    PlaneOutcome outcome;
    SetUp();
    const uint32_t bw = job_.width / 8;
    const uint32_t rows = job_.height / 8;
    const uint32_t kind = static_cast<uint32_t>(job_.kind);
    uint32_t map_row_index = 0;
    bool ended = false;
    for (uint32_t row = 0; row < rows && !ended; ++row) {
        const uint32_t y = row * 8;
        if (reader_.PastEnd()) break;  // only zeros would follow
        // Refill in bundle order; a fill above its buffer ends the plane.
        const bool old_version = (job_.open_flags & kVideoOldVersion) != 0;
        ended =
            FillBlockTypes(bundles_[kBundleBlockTypes], reader_, &faults_) == FillResult::kOverflow;
        if (!ended)
            ended = FillBlockTypes(bundles_[kBundleSubBlockTypes], reader_, &faults_) ==
                    FillResult::kOverflow;
        if (!ended)
            ended = FillColours(bundles_[kBundleColours], high_trees_, &previous_high_, old_version,
                                reader_) == FillResult::kOverflow;
        if (!ended)
            ended = FillPatterns(bundles_[kBundlePatterns], reader_) == FillResult::kOverflow;
        if (!ended)
            ended = FillMotion(bundles_[kBundleMotionX], motion_lookup_[0], reader_) ==
                    FillResult::kOverflow;
        if (!ended)
            ended = FillMotion(bundles_[kBundleMotionY], motion_lookup_[1], reader_) ==
                    FillResult::kOverflow;
        if (!ended)
            ended = FillDc(bundles_[kBundleIntraDc], false, reader_) == FillResult::kOverflow;
        if (!ended)
            ended = FillDc(bundles_[kBundleInterDc], true, reader_) == FillResult::kOverflow;
        if (!ended) ended = FillRuns(bundles_[kBundleRuns], reader_) == FillResult::kOverflow;
        if (ended) {
            faults_ |= kFaultBundleOverflow;
            break;
        }
        map_row_ = job_.map && map_row_index < job_.map_rows
                       ? job_.map + map_row_index * job_.map_stride
                       : nullptr;
        map_limit_ = map_row_ ? job_.map_columns : 0;
        dst_row_ = job_.dst + y * job_.stride;
        ref_row_ = job_.ref + y * job_.stride;
        kind == 2 ? WalkRowOfKind<2>(y, bw) : WalkRowOfKind<1>(y, bw);
        if (kind == 2 || (y & 8)) ++map_row_index;
    }
    if (reader_.PastEnd()) faults_ |= kFaultPastEnd;
    outcome.next_offset = reader_.NextWordOffset();
    outcome.unchanged = unchanged_;
    outcome.faults = faults_;
    return outcome;
}

template <uint32_t kKind, bool kScaledRow, bool kChecked>
void PlaneDecoder::WalkRow(uint32_t y, uint32_t bw) {
    // The walk's own state stays in locals: the samples are written through
    // byte pointers, which would otherwise force every bundle position and
    // map pointer back to memory after each store.
    const uint32_t stride = job_.stride;
    constexpr uint32_t kind = kKind;
    // Columns before which a scaled block fits in the plane (none when the
    // block row below is missing).
    const uint32_t scaled_end = kScaledRow && y + 16 <= job_.height ? bw - 1 : 0;
    Bundle& types = bundles_[kBundleBlockTypes];
    Bundle& sub_types = bundles_[kBundleSubBlockTypes];
    Bundle& motion_x = bundles_[kBundleMotionX];
    Bundle& motion_y = bundles_[kBundleMotionY];
    const uint8_t* const type_bytes = types.bytes();
    const uint32_t types_end = types.end;
    uint32_t read = types.read, sub_read = sub_types.read;
    uint32_t dx_read = motion_x.read, dy_read = motion_y.read;
    uint8_t* const row = dst_row_;
    const uint8_t* const ref = ref_row_;
    const RowMap map{map_row_, map_limit_};
    uint32_t unchanged = 0;
    for (uint32_t col = 0; col < bw;) {
        const uint32_t type = kChecked ? NextOf(type_bytes, read, types_end) : type_bytes[read++];
        uint8_t* dst = row + size_t{col} * 8;
        switch (type) {
            case 0:
                // A lone skip block is copied here, a run of them as one strip.
                if ((!kChecked || read < types_end) && col + 1 < bw && type_bytes[read] != 0) {
                    if (ref != row) CopyStrip(ref + size_t{col} * 8, dst, stride, 8);
                    unchanged += map.Unchanged(col * kind / 2);
                    ++col;
                } else {
                    const uint32_t run = SkipRun<kKind>(col, bw, read);
                    read += run - 1;
                    col += run;
                }
                continue;
            case 1:  // scaled: drawn from the even row, marked from both
                col += kScaledRow
                           ? ScaledBlocks<kKind, kChecked>(col, y, scaled_end, read, sub_read)
                           : ScaledBelow<kKind>(col, bw, read);
                continue;
            case 2: {
                const int32_t dx =
                    static_cast<int8_t>(NextOf(motion_x.bytes(), dx_read, motion_x.end));
                const int32_t dy =
                    static_cast<int8_t>(NextOf(motion_y.bytes(), dy_read, motion_y.end));
                Copy8x8(MotionSource(col * 8, y, dx, dy), dst, stride);
                break;
            }
            case 6:
                Fill(dst, stride, 8, NextColour());
                break;
            default:
                // The rare types read the offsets through the bundles.
                motion_x.read = dx_read;
                motion_y.read = dy_read;
                col += static_cast<uint32_t>(DecodeBlock(type, col * 8, y, col * kind));
                dx_read = motion_x.read;
                dy_read = motion_y.read;
                continue;
        }
        map.Mark(col * kind / 2);
        ++col;
    }
    types.read = read;
    sub_types.read = sub_read;
    motion_x.read = dx_read;
    motion_y.read = dy_read;
    unchanged_ += unchanged;
}

template <uint32_t kKind, bool kChecked>
inline uint32_t PlaneDecoder::ScaledBlocks(uint32_t col, uint32_t y, uint32_t scaled_end,
                                           uint32_t& read, uint32_t& sub_read) {
    const Bundle& sub_types = bundles_[kBundleSubBlockTypes];
    const uint32_t sub_type = kChecked ? NextOf(sub_types.bytes(), sub_read, sub_types.end)
                                       : sub_types.bytes()[sub_read++];
    const RowMap map{map_row_, map_limit_};
    uint8_t* dst = dst_row_ + size_t{col} * 8;
    const uint32_t stride = job_.stride;
    if (col >= scaled_end) {
        DrawScaledClipped(sub_type, col * 8, y);
    } else if (sub_type == 6) {
        // Scaled fills come in long runs: the ones right after this one
        // are drawn with it.
        Bundle& colours = bundles_[kBundleColours];
        if (colours.read < colours.end) [[likely]] {
            const uint32_t limit =
                std::min({(scaled_end - 1 - col) / 2, bundles_[kBundleBlockTypes].end - read,
                          sub_types.end - sub_read, colours.end - colours.read - 1});
            const uint32_t more = LeadingPairs(bundles_[kBundleBlockTypes].bytes() + read, 1,
                                               sub_types.bytes() + sub_read, 6, limit);
            const uint8_t* run_colours = colours.bytes() + colours.read;
            if (more)
                walk_.fill_squares(dst, stride, run_colours, more + 1);
            else
                Fill(dst, stride, 16, run_colours[0]);
            colours.read += more + 1;
            read += more;
            sub_read += more;
            map.MarkRange(col * kKind / 2, (col + 2 * more + 1) * kKind / 2);
            return 2 * (more + 1);
        }
        Fill(dst, stride, 16, NextColour());
    } else {
        DrawScaled(sub_type, dst, stride);
    }
    map.MarkRange(col * kKind / 2, (col + 1) * kKind / 2);
    return 2;
}

template <uint32_t kKind>
inline uint32_t PlaneDecoder::ScaledBelow(uint32_t col, uint32_t bw, uint32_t& read) {
    // The lower halves of scaled blocks: nothing read or drawn, their areas
    // marked, the run of them at once.
    const Bundle& types = bundles_[kBundleBlockTypes];
    const uint32_t limit = std::min((bw - 1 - col) / 2, types.end - read);
    const uint32_t more = LeadingPairs(types.bytes() + read, 1, nullptr, 0, limit);
    read += more;
    const RowMap map{map_row_, map_limit_};
    map.MarkRange(col * kKind / 2, (col + 2 * more + 1) * kKind / 2);
    return 2 * (more + 1);
}

template <uint32_t kKind>
uint32_t PlaneDecoder::SkipRun(uint32_t col, uint32_t bw, uint32_t read) {
    const Bundle& types = bundles_[kBundleBlockTypes];
    // The skip values right after this one, eight bytes at a time: the run
    // ends at the first other value, the row end or the end of the fill.
    const uint32_t limit = std::min(bw - col - 1, types.end - read);
    const uint32_t run = LeadingPairs(types.bytes() + read, 0, nullptr, 0, limit) + 1;
    if (ref_row_ != dst_row_) {
        const uint8_t* src = ref_row_ + size_t{col} * 8;
        uint8_t* dst = dst_row_ + size_t{col} * 8;
        if (run == 1)
            CopyStrip(src, dst, job_.stride, 8);
        else
            walk_.copy_strip(src, dst, job_.stride, run * 8);
    }
    // Skip blocks leave the map alone; each one whose area is still
    // unchanged counts. A luma area holds two blocks of the row, a chroma
    // area one.
    const uint64_t marked_columns = uint64_t{map_limit_} * (kKind == 1 ? 2 : 1);
    const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(col + run, marked_columns));
    const uint8_t* map = map_row_;
    uint32_t unchanged = 0;
    uint32_t k = col;
    // Short runs whose map bytes lie in the row are counted from one load,
    // long runs (whole rows of a still picture) eight map bytes a step.
    if (k < end && (end - 1) * kKind / 2 - k * kKind / 2 < 8 && k * kKind / 2 + 8 <= map_limit_) {
        unchanged =
            kKind == 1 ? UnchangedLumaBlocks(map, k, end) : UnchangedChromaBlocks(map, k, end);
        k = end;
    } else if (kKind == 1) {
        // Two blocks a byte: an odd first block alone, then pairs.
        if ((k & 1) && k < end) unchanged += map[k++ / 2] == 0;
        for (; k + 16 <= end; k += 16) unchanged += 2 * ZeroBytes(LoadLittle64(map + k / 2));
        for (; k + 1 < end; k += 2) unchanged += map[k / 2] == 0 ? 2 : 0;
    } else {
        for (; k + 8 <= end; k += 8) unchanged += ZeroBytes(LoadLittle64(map + k));
    }
    for (; k < end; ++k) unchanged += map[k * kKind / 2] == 0;
    unchanged_ += unchanged;
    return run;
}

inline const uint8_t* PlaneDecoder::MotionSource(uint32_t x, uint32_t y, int32_t dx, int32_t dy) {
    int32_t sx = static_cast<int32_t>(x) + dx;
    int32_t sy = static_cast<int32_t>(y) + dy;
    const int32_t max_x = motion_max_x_;
    const int32_t max_y = motion_max_y_;
    // One unsigned test per axis: a negative offset wraps above the limit.
    if (static_cast<uint32_t>(sx) > static_cast<uint32_t>(max_x) ||
        static_cast<uint32_t>(sy) > static_cast<uint32_t>(max_y)) {
        faults_ |= kFaultMotionClamped;
        sx = std::clamp(sx, 0, max_x);
        sy = std::clamp(sy, 0, max_y);
    }
    return job_.ref + static_cast<uint32_t>(sy) * job_.stride + static_cast<uint32_t>(sx);
}

void PlaneDecoder::RunBlock(uint8_t block[64]) {
    const uint8_t* scan = kRunScans[reader_.Read(4)];
    uint32_t i = 0;
    while (i < 63) {
        const bool one_colour = reader_.ReadBit() != 0;
        uint32_t r = NextByte(kBundleRuns) + 1u;
        if (r > 64 - i) {  // runs never pass the last position
            faults_ |= kFaultRunOverrun;
            r = 64 - i;
        }
        if (one_colour) {
            const uint8_t c = NextColour();
            for (uint32_t k = 0; k < r; ++k) block[scan[i++]] = c;
        } else {
            for (uint32_t k = 0; k < r; ++k) block[scan[i++]] = NextColour();
        }
    }
    if (i == 63) block[scan[63]] = NextColour();
}

void PlaneDecoder::PatternBlock(uint8_t* dst, uint32_t stride, bool doubled) {
    const uint32_t c0 = Replicate(NextColour());
    const uint32_t c1 = Replicate(NextColour());
    const uint32_t diff = c0 ^ c1;
    for (int row = 0; row < 8; ++row) {
        const uint32_t bits = NextByte(kBundlePatterns);
        if (!doubled) {
            const uint32_t w[2] = {c0 ^ (diff & kPatternMasks.mask[bits & 15]),
                                   c0 ^ (diff & kPatternMasks.mask[bits >> 4])};
            std::memcpy(dst + row * stride, w, 8);
        } else {
            uint32_t w[4];
            for (int k = 0; k < 4; ++k)
                w[k] = c0 ^ (diff & kPatternMasks.pair[(bits >> (2 * k)) & 3]);
            std::memcpy(dst + 2 * row * stride, w, 16);
            std::memcpy(dst + (2 * row + 1) * stride, w, 16);
        }
    }
}

void PlaneDecoder::DrawScaled(uint32_t sub_type, uint8_t* dst, uint32_t stride) {
    uint8_t block[64];
    switch (sub_type) {
        case 3:
            RunBlock(block);
            PutBlock(block, dst, stride, true);
            break;
        case 5: {
            coefficients_[0] = static_cast<int16_t>(NextWord(kBundleIntraDc));
            const uint32_t q = ReadCodedBlock(reader_, coefficients_);
            IdctPutDoubled(coefficients_, intra_quant_[q], dst, stride);
            break;
        }
        case 6:
            Fill(dst, stride, 16, NextColour());
            break;
        case 8:
            PatternBlock(dst, stride, true);
            break;
        case 9:
            for (int i = 0; i < 64; ++i) block[i] = NextColour();
            PutBlock(block, dst, stride, true);
            break;
        default:
            break;  // draws nothing
    }
}

void PlaneDecoder::DrawScaledClipped(uint32_t sub_type, uint32_t x, uint32_t y) {
    uint8_t* dst = dst_row_ + x;
    faults_ |= kFaultScaledClipped;
    const uint32_t w = std::min<uint32_t>(16, job_.width - x);
    const uint32_t h = std::min<uint32_t>(16, job_.height - y);
    uint8_t area[256];
    for (uint32_t row = 0; row < h; ++row) std::memcpy(area + row * 16, dst + row * job_.stride, w);
    DrawScaled(sub_type, area, 16);
    for (uint32_t row = 0; row < h; ++row) std::memcpy(dst + row * job_.stride, area + row * 16, w);
}

int PlaneDecoder::DecodeBlock(uint32_t type, uint32_t x, uint32_t y, uint32_t p) {
    const uint32_t stride = job_.stride;
    uint8_t* dst = dst_row_ + x;
    switch (type) {
        case 3: {  // run
            uint8_t block[64];
            RunBlock(block);
            PutBlock(block, dst, stride, false);
            break;
        }
        case 4: {  // residue
            const uint8_t* src = MotionSource(x, y);
            uint8_t residue[64];
            ReadResidue(reader_, reader_.Read(7), residue);
            AddResidue(residue, src, dst, stride);
            break;
        }
        case 5: {  // intra
            coefficients_[0] = static_cast<int16_t>(NextWord(kBundleIntraDc));
            const uint32_t q = ReadCodedBlock(reader_, coefficients_);
            IdctPut(coefficients_, intra_quant_[q], dst, stride);
            break;
        }
        case 7: {  // inter
            const uint8_t* src = MotionSource(x, y);
            coefficients_[0] = static_cast<int16_t>(NextWord(kBundleInterDc));
            const uint32_t q = ReadCodedBlock(reader_, coefficients_);
            IdctAdd(coefficients_, inter_quant_[q], src, dst, stride);
            break;
        }
        case 8:  // pattern
            PatternBlock(dst, stride, false);
            break;
        case 9: {  // raw
            uint8_t block[64];
            for (int i = 0; i < 64; ++i) block[i] = NextColour();
            PutBlock(block, dst, stride, false);
            break;
        }
        default:  // not a block type: nothing drawn or marked
            return 1;
    }
    Mark(p);
    return 1;
}

}  // namespace

const WalkKernels& PlainWalkKernels() {
    return kPlainWalk;
}

void FillWalkKernels(WalkKernels& table, uint32_t flags) {
    table = kPlainWalk;
    if (!(flags & kCpuAvx2)) return;
    if (const WalkKernels* avx2 = Avx2WalkKernels()) table = *avx2;
    if (flags & kCpuAvx512) Avx512WalkKernels(table);
}

const WalkKernels& ActiveWalkKernels() {
    return g_walk_kernels.Get();
}

PlaneOutcome DecodePlane(const PlaneJob& job) {
    if ((!job.data && job.size) || !job.dst || !job.ref || !job.bundles || job.width < 8 ||
        job.height < 8 || job.stride < job.width || (job.kind != 1 && job.kind != 2))
        return PlaneOutcome{};
    PlaneDecoder decoder(job);
    return decoder.Run();
}

}  // namespace vemo::video
