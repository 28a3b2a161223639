// The video bitstream writer: the exact inverse of the video decoder's
// readers. BitWriter packs bits into little-endian 32-bit words, least
// significant bit first; the code-tree, coefficient and residue writers emit
// what the corresponding readers consume; PlaneWriter takes the blocks of one
// plane in walk order (rows top to bottom, blocks left to right) and lays out
// the trees, the bundle fills at each block row and the per-block fields;
// WriteVideoPart joins the planes of one frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vemo {

class BitWriter {
  public:
    // Appends the low n bits of value (0 <= n <= 32), bit 0 first.
    void WriteBits(uint32_t value, unsigned n);
    void WriteBit(unsigned bit) { WriteBits(bit & 1u, 1); }
    // Appends every bit written to other, in order.
    void Append(const BitWriter& other);
    size_t BitCount() const { return bit_count_; }
    // The bits as whole 32-bit words (the last one padded with zero bits),
    // stored little-endian: the bytes a reader takes the plane from.
    std::vector<uint8_t> Bytes() const;
    const std::vector<uint32_t>& Words() const { return words_; }

  private:
    std::vector<uint32_t> words_;
    size_t bit_count_ = 0;
};

// ---- Prefix codes and code trees -------------------------------------------

struct PrefixCode {
    uint8_t length;  // bits
    uint8_t value;   // bit 0 goes first into the stream
};
// Code `code` (0-15) of code set `set` (0-15).
PrefixCode CodeOf(int set, int code);

// A bundle's symbol map: symbol = map[code number].
struct CodeTree {
    uint8_t set = 0;
    std::array<uint8_t, 16> map{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
};

enum class TreeForm : uint8_t {
    kIdentity,  // set 0: 4 bits, the map is the identity
    kExplicit,  // param + 1 listed symbols (param 0-7), the rest ascending
    kMerge,     // param + 1 merge passes (param 0-3) over the identity list
};

// True when `tree` can be sent in `form` with `param`.
bool CodeTreeFits(const CodeTree& tree, TreeForm form, int param);
// Writes the tree; false (and nothing written) when it does not fit the form.
bool WriteCodeTree(BitWriter& out, const CodeTree& tree, TreeForm form, int param);
// Bits WriteCodeTree would write, or -1 when the tree does not fit.
int CodeTreeBits(const CodeTree& tree, TreeForm form, int param);

// The cheapest tree (and its form) for symbols occurring counts[s] times.
struct ChosenTree {
    CodeTree tree;
    TreeForm form = TreeForm::kIdentity;
    int param = 0;
    uint64_t bits = 0;  // tree plus all symbols
};
ChosenTree ChooseCodeTree(const std::array<uint32_t, 16>& counts);

// Writes symbol s (0-15) with tree (its code c where map[c] == s).
void WriteSymbol(BitWriter& out, const CodeTree& tree, int symbol);

// ---- Coefficients and residue ----------------------------------------------

// Scan index k -> natural index (row * 8 + column) of the list codings.
extern const uint8_t (&kCoefficientScan)[64];
// The sixteen run orders of run blocks (position = row * 8 + column).
extern const uint8_t (&kRunScan)[16][64];

// Writes coefficients 1-63 of coef (natural order; index 0, the DC, is not
// written) as the coefficient reader takes them. Values must lie within
// -32767..32767; false (nothing written) otherwise.
bool WriteCoefficients(BitWriter& out, const int16_t coef[64]);

// Writes the 7-bit budget and the residue list coding of residue (signed
// differences in natural order). False (nothing written) when the residue
// needs more than 128 changes, the most a budget allows.
bool WriteResidue(BitWriter& out, const int8_t residue[64]);
// Changes the residue coding of residue takes (each value counts once per
// set bit of its magnitude).
int ResidueChanges(const int8_t residue[64]);

// ---- Planes ----------------------------------------------------------------

// Length-field width of a bundle whose count basis is c.
unsigned BundleLengthBits(uint32_t c);

enum BlockType : uint8_t {
    kBlockSkip = 0,
    kBlockScaled = 1,
    kBlockMotion = 2,
    kBlockRun = 3,
    kBlockResidue = 4,
    kBlockIntra = 5,
    kBlockFill = 6,
    kBlockInter = 7,
    kBlockPattern = 8,
    kBlockRaw = 9,
};

// One run of a run block: `length` (1-16) scan positions, filled with one
// colour (`single`) or with `length` colours of their own.
struct RunSegment {
    uint8_t length;
    bool single;
    uint8_t colours[16];  // colours[0] only when single
};

// Collects the blocks of one plane in walk order and writes the plane. Each
// block call appends to the current block row; a row ends when its columns
// are used up. A scaled block (16x16) takes two columns on an even block row;
// on the following odd row the same two columns take ScaledLowerHalf().
// Calls that do not fit (a scaled block in the last column, a bad value)
// return false and change nothing; Finish() then still writes what was
// accepted only when every row is complete.
class PlaneWriter {
  public:
    // width and height: the plane's size in samples (multiples of 8).
    // old_version: the movie's version is before "i" (colours are mapped).
    PlaneWriter(uint32_t width, uint32_t height, bool old_version = false);

    bool Skip();
    bool Motion(int dx, int dy);
    bool Fill(uint8_t colour);
    // rows[r] bit j set: sample j of row r takes c1, else c0.
    bool Pattern(uint8_t c0, uint8_t c1, const uint8_t rows[8]);
    bool Raw(const uint8_t samples[64]);
    // runs cover scan positions from 0; they must reach 63 or 64 positions.
    // With 63, last_colour fills the last scan position.
    bool Run(int scan, const std::vector<RunSegment>& runs, uint8_t last_colour = 0);
    // coef: natural order, coef[0] the DC (0-65535 as a 16-bit value).
    bool Intra(const int16_t coef[64], int quantiser);
    bool Inter(int dx, int dy, const int16_t coef[64], int quantiser);
    // residue: natural order differences added to the moved block.
    bool Residue(int dx, int dy, const int8_t residue[64]);
    // Scaled 16x16 blocks (even block rows only).
    bool ScaledFill(uint8_t colour);
    bool ScaledPattern(uint8_t c0, uint8_t c1, const uint8_t rows[8]);
    bool ScaledRaw(const uint8_t samples[64]);
    bool ScaledRun(int scan, const std::vector<RunSegment>& runs, uint8_t last_colour = 0);
    bool ScaledIntra(const int16_t coef[64], int quantiser);
    // A scaled block whose sub-type draws nothing (any value but 3, 5, 6, 8, 9).
    bool ScaledOther(uint8_t sub_type);
    // The lower half of the scaled block drawn one row above (odd rows).
    bool ScaledLowerHalf();
    // A block-type value that draws nothing (10-15); 12-15 need a fill of
    // their own and may be refused.
    bool OtherType(uint8_t type);

    uint32_t column() const { return column_; }
    uint32_t row() const { return static_cast<uint32_t>(rows_.size() - 1); }
    bool complete() const;

    // The plane's bitstream as whole 32-bit words. Empty when the plane is
    // incomplete or a fill cannot be coded (the reason in error()).
    std::vector<uint8_t> Finish();
    // Bits of the plane after Finish (before the padding to a word).
    size_t bits() const { return bits_; }
    const std::string& error() const { return error_; }

  private:
    struct Row {
        std::vector<uint16_t> values[9];
        BitWriter bits;
    };
    bool Begin(uint32_t columns);
    void Advance(uint32_t columns);
    bool PutColour(uint8_t c);
    bool PutRun(int scan, const std::vector<RunSegment>& runs, uint8_t last_colour);
    bool RunsFit(const std::vector<RunSegment>& runs) const;
    Row& row_ref() { return rows_.back(); }

    uint32_t width_, blocks_across_, rows_total_;
    bool old_version_;
    uint32_t column_ = 0;
    std::vector<Row> rows_;
    size_t bits_ = 0;
    std::string error_;
};

// Joins the planes of one frame into a video part. alpha is written (with
// its size field) when has_alpha; version_i adds the luma size field;
// grayscale drops cr and cb.
struct VideoPartPlanes {
    std::vector<uint8_t> alpha, luma, cr, cb;
};
std::vector<uint8_t> WriteVideoPart(const VideoPartPlanes& planes, bool has_alpha, bool version_i,
                                    bool grayscale);

}  // namespace vemo
