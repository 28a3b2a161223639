// Pieces of the video decoder below DecodeFrameVideo: the bounded bit
// reader, code trees, bundles and their fillers, coefficient and residue
// lists, the inverse transform and the plane decoder.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "vemo/video_decoder.h"
#include "vemo/video_tables.h"

namespace vemo::video {

// Eight bytes as a little-endian value (one load on little-endian hosts).
inline uint64_t LoadLittle64(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    } else {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
        return v;
    }
}

// Reads a plane's bits least-significant first from 32-bit little-endian
// words. The plane's data is bounded: bytes past its end read as zero. The
// cache is refilled up to eight bytes at a time (never reading a byte past
// the data); the position is kept as the number of bits consumed, so the
// word the next plane starts at is the one after the last word a consumed
// bit came from; bits only peeked never count.
//
// Hot loops copy the reader into a local and store it back when done, so
// that the cache stays in registers while bytes are written elsewhere.
class BitReader {
  public:
    BitReader(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}

    // Next n bits (0 <= n <= 25) without consuming them.
    uint32_t Peek(int n) {
        if (count_ < static_cast<uint32_t>(n)) Refill();
        return static_cast<uint32_t>(cache_) & ((1u << n) - 1);
    }
    void Skip(int n) {
        cache_ >>= n;
        count_ -= static_cast<uint32_t>(n);
    }
    // Reads n bits (1 <= n <= 25).
    uint32_t Read(int n) {
        const uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    uint32_t ReadBit() {
        if (count_ == 0) Refill();
        const uint32_t bit = static_cast<uint32_t>(cache_) & 1;
        cache_ >>= 1;
        --count_;
        return bit;
    }
    // Makes at least 56 bits available to Peek and Skip without a refill.
    void Refill() {
        if (loaded_ + 8 <= size_) {
            // Whole bytes are counted; the bits of the next byte shifted in
            // beyond the count are the same ones the next refill brings.
            cache_ |= LoadLittle64(data_ + loaded_) << count_;
            loaded_ += (63 - count_) >> 3;
            count_ |= 56;
        } else {
            RefillTail();
        }
    }
    uint32_t Available() const { return count_; }
    // The cached bits, next bit in bit 0; only the low Available() count.
    uint64_t Cache() const { return cache_; }

    uint64_t ConsumedBits() const { return loaded_ * 8 - count_; }
    // Byte offset (from the data start) of the first word no consumed bit
    // came from: where the next plane begins.
    uint64_t NextWordOffset() const { return (ConsumedBits() + 31) / 32 * 4; }
    bool PastEnd() const { return ConsumedBits() > static_cast<uint64_t>(size_) * 8; }
    // Hands the position to a reader of the same data (what a local copy
    // gives back to its home: the data and its size never change).
    void MoveStateTo(BitReader& home) const {
        home.loaded_ = loaded_;
        home.cache_ = cache_;
        home.count_ = count_;
    }

  private:
    // The last bytes and what lies past the end (zeros), a byte at a time.
    void RefillTail() {
        while (count_ <= 56) {
            const uint64_t byte = loaded_ < size_ ? data_[loaded_] : 0;
            cache_ |= byte << count_;
            count_ += 8;
            ++loaded_;  // 64 bits: cannot wrap however far past the end
        }
    }

    const uint8_t* data_;
    uint32_t size_;
    uint64_t loaded_ = 0;  // bytes loaded into the cache so far
    uint64_t cache_ = 0;
    uint32_t count_ = 0;
};

// A local copy of a reader for one hot loop, stored back when it ends.
class LocalReader {
  public:
    explicit LocalReader(BitReader& home) : home_(home), reader_(home) {}
    ~LocalReader() { reader_.MoveStateTo(home_); }
    LocalReader(const LocalReader&) = delete;
    LocalReader& operator=(const LocalReader&) = delete;
    BitReader& operator*() { return reader_; }
    BitReader* operator->() { return &reader_; }

  private:
    BitReader& home_;
    BitReader reader_;
};

// The symbol map a bundle uses with one of the sixteen code sets.
struct CodeTree {
    uint8_t set = 0;
    uint8_t map[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    // The set's lookup with the map applied: code length in the high
    // nibble, the symbol (not the code number) in the low one. Rebuild it
    // (BuildDecode) after changing the set or the map.
    uint8_t decode[kCodeLookupSize];

    CodeTree() { BuildDecode(); }
    void BuildDecode() {
        static constexpr uint8_t kIdentity[16] = {0, 1, 2,  3,  4,  5,  6,  7,
                                                  8, 9, 10, 11, 12, 13, 14, 15};
        if (std::memcmp(map, kIdentity, 16) == 0) {
            std::memcpy(decode, kCodeLookup[set], kCodeLookupSize);
            return;
        }
        for (int code = 0; code < 16; ++code) {
            const int length = kCodeLengths[set][code];
            const uint8_t entry = static_cast<uint8_t>(length << 4 | map[code]);
            for (int i = kCodeValues[set][code]; i < kCodeLookupSize; i += 1 << length)
                decode[i] = entry;
        }
    }
};

// Reads a tree (identity, explicit list or merge shuffle). An explicit list
// that names a value twice still yields 16 entries (faults gets
// kFaultTreeDuplicate).
CodeTree ReadCodeTree(BitReader& reader, uint32_t* faults);

inline uint32_t DecodeSymbol(BitReader& reader, const CodeTree& tree) {
    const uint32_t entry = tree.decode[reader.Peek(kLongestCode)];
    reader.Skip(static_cast<int>(entry >> 4));
    return entry & 15;
}

// One value buffer of a plane decode.
struct Bundle {
    void* data = nullptr;   // bytes, or 16-bit values for the DC bundles
    uint32_t capacity = 0;  // elements
    uint32_t read = 0;
    uint32_t end = 0;
    int width = 9;  // bits of the length field
    bool closed = false;
    CodeTree tree;

    bool Exhausted() const { return read == end; }
    uint8_t* bytes() const { return static_cast<uint8_t*>(data); }
    uint16_t* words() const { return static_cast<uint16_t*>(data); }
};

// Outcome of a filler.
enum class FillResult { kUnchanged, kFilled, kOverflow };

// Bits of the length field for count basis c: significant bits of c + 511,
// at most 15.
int LengthFieldWidth(uint32_t c);

// The fillers. Each does nothing unless the bundle is exhausted and open;
// a length above the capacity returns kOverflow without storing anything.
FillResult FillBlockTypes(Bundle& bundle, BitReader& reader, uint32_t* faults);
FillResult FillColours(Bundle& bundle, const CodeTree high_trees[16], uint32_t* previous_high,
                       bool old_version, BitReader& reader);
FillResult FillPatterns(Bundle& bundle, BitReader& reader);
FillResult FillMotion(Bundle& bundle, BitReader& reader);
FillResult FillRuns(Bundle& bundle, BitReader& reader);
FillResult FillDc(Bundle& bundle, bool is_signed, BitReader& reader);

// Coefficients 1-63 of a block, natural order (index 0 left alone).
void ReadCoefficients(BitReader& reader, int16_t coefficients[64]);
// The same, then the block's 4-bit quantiser that follows the lists: returns
// the quantiser.
uint32_t ReadCodedBlock(BitReader& reader, int16_t coefficients[64]);
// A residue block (signed bytes indexed by scan index) with change budget m.
void ReadResidue(BitReader& reader, uint32_t budget, uint8_t residue[64]);

// Transform outputs.
void IdctPut(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
             uint32_t stride);
void IdctPutDoubled(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                    uint32_t stride);
void IdctAdd(const int16_t coefficients[64], const uint32_t quant[64], const uint8_t* src,
             uint8_t* dst, uint32_t stride);
void AddResidue(const uint8_t residue[64], const uint8_t* src, uint8_t* dst, uint32_t stride);

using InverseTransformKernel = void (*)(const int16_t coefficients[64], const uint32_t quant[64],
                                        uint8_t out[64]);

// The video kernel table: the plain C++ kernels, overwritten by the SSE2
// ones when CpuFlags() has SSE2, then the transform by the AVX2 one when it
// has AVX2 (rebuilt after SetCpuMask). Every entry gives the plain kernel's
// results.
struct VideoKernels {
    InverseTransformKernel inverse_transform = nullptr;
    void (*add_block)(const uint8_t add[64], const uint8_t* src, uint8_t* dst,
                      uint32_t stride) = nullptr;
};
const VideoKernels& PlainKernels();
// The SSE2 rung: null when not built or not in CpuFlags().
const VideoKernels* Sse2Kernels();
// The AVX2 rung's transform: null when not built or not in CpuFlags().
InverseTransformKernel Avx2InverseTransformKernel();
// Fills the table for the given flags (plain first, then each allowed rung).
void FillVideoKernels(VideoKernels& table, uint32_t flags);
// The table in use.
const VideoKernels& ActiveVideoKernels();

// ---- Fused transform stages ------------------------------------------------
// Dequantise, transform and write the samples straight into the destination
// rows (put), or add them modulo 256 to the source rows (add: row by row, a
// source row read just before its destination row is written, so source and
// destination may overlap as the plain add allows).
using TransformPutKernel = void (*)(const int16_t coefficients[64], const uint32_t quant[64],
                                    uint8_t* dst, uint32_t stride);
using TransformAddKernel = void (*)(const int16_t coefficients[64], const uint32_t quant[64],
                                    const uint8_t* src, uint8_t* dst, uint32_t stride);

// Their table: the plain versions (the plain transform, then the rows copied
// or added), overwritten by the SSE2 ones when CpuFlags() has SSE2, then by
// the AVX2 ones when it has AVX2 (rebuilt after SetCpuMask). Every entry
// gives the plain results for any block: each tells apart itself the blocks
// whose rows 1-7 are zero, which draw one line of samples (FirstRowLine) in
// every row. (The coefficient reader could note a block's extent as it
// places values and hand it over, but the mask it would keep through the
// passes costs it more than the kernels' look at the rows saves.)
struct TransformKernels {
    TransformPutKernel put = nullptr;
    TransformAddKernel add = nullptr;
    // Each sample as a 2x2 square: 16 rows of 16 bytes (the scaled blocks).
    TransformPutKernel put_doubled = nullptr;
};
// The line of samples every row of a block with rows 1-7 zero draws.
void FirstRowLine(const int16_t coefficients[64], const uint32_t quant[64], uint8_t line[8]);
const TransformKernels& PlainTransformKernels();
// The SSE2 and AVX2 rungs: null when not built or not in CpuFlags().
const TransformKernels* Sse2TransformKernels();
const TransformKernels* Avx2TransformKernels();
void FillTransformKernels(TransformKernels& table, uint32_t flags);
const TransformKernels& ActiveTransformKernels();

// ---- Plane walk kernels -----------------------------------------------------
// The wide stores of the walk's runs:
// - fill_squares: `count` (at least 1) 16x16 squares side by side from dst,
//   square j all colours[j];
// - copy_strip: 8 rows of `bytes` bytes (a multiple of 8, at least 16) from
//   src to dst, which never overlap (the two frame buffers).
struct WalkKernels {
    void (*fill_squares)(uint8_t* dst, uint32_t stride, const uint8_t* colours,
                         uint32_t count) = nullptr;
    void (*copy_strip)(const uint8_t* src, uint8_t* dst, uint32_t stride, uint32_t bytes) = nullptr;
};
const WalkKernels& PlainWalkKernels();
// The AVX2 rung: null when not built or not in CpuFlags().
const WalkKernels* Avx2WalkKernels();
// Puts the AVX-512 rung's kernels into the table when CpuFlags() has
// AVX-512 (none when not built).
void Avx512WalkKernels(WalkKernels& table);
// Fills the table for the given flags (plain, then AVX2 and AVX-512 when
// allowed).
void FillWalkKernels(WalkKernels& table, uint32_t flags);
// The table in use (rebuilt after SetCpuMask).
const WalkKernels& ActiveWalkKernels();

// One plane of a frame.
struct PlaneJob {
    const uint8_t* data = nullptr;  // the plane's bitstream
    uint32_t size = 0;              // bytes that belong to it (bits beyond read as zero)
    uint8_t* dst = nullptr;
    const uint8_t* ref = nullptr;  // same as dst with one frame buffer
    uint32_t width = 0;            // multiples of 8
    uint32_t height = 0;
    uint32_t stride = 0;
    uint8_t* map = nullptr;  // change map (may be null)
    uint32_t map_stride = 0;
    uint32_t map_columns = 0;  // bytes of a map row that belong to the picture
    uint32_t map_rows = 0;
    int kind = 1;  // 1 luma and alpha, 2 chroma
    const BundleBuffers* bundles = nullptr;
    uint32_t open_flags = 0;
};

struct PlaneOutcome {
    uint64_t next_offset = 0;  // where the following plane starts, from data
    uint32_t unchanged = 0;    // skip blocks whose map byte was still 0
    uint32_t faults = 0;
};

PlaneOutcome DecodePlane(const PlaneJob& job);

// ---------------------------------------------------------------- batched fills

// Symbol lookups of at most 8 bits each; a fill loop refills the reader once
// and then takes this many of them from the cache.
constexpr uint32_t kLookupsPerRefill = 7;

// A motion-offset code and its sign bit in one lookup, indexed by the next
// stream bits (as many as the set's longest code and a sign take, see mask):
// bits used (code and sign) in the high byte, the offset as a signed byte in
// the low one.
struct MotionLookup {
    uint16_t entry[256];
    uint32_t mask = 0;
    MotionLookup() = default;
    explicit MotionLookup(const CodeTree& tree) { Build(tree); }
    void Build(const CodeTree& tree);
};

FillResult FillMotion(Bundle& bundle, const MotionLookup& lookup, BitReader& reader);

// ------------------------------------------------------- tree lookups, built fast

// The same table as CodeTree::BuildDecode, built with one store per code
// and a doubling copy per code length (what ReadCodeTree uses).
void BuildTreeLookup(CodeTree& tree);

}  // namespace vemo::video
