// AVX2 inverse transform: the columns of the whole block in one butterfly of
// eight 32-bit lanes, then the rows the same way after a transpose; the
// bytes go out as a block, straight into destination rows, or added to
// source rows. Exactly
// the plain kernel's wrapping 32-bit arithmetic, lane by lane; the low 32
// bits of a product are the same whether it is read as signed or unsigned.
#include "vemo/cpu.h"
#include "video_internal.h"

// Windows builds keep the SSE2 transform: this kernel spills 32-byte
// vectors, and the Windows compilers here do not align the stack for them.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

namespace vemo::video {

namespace {

// The butterfly's constants, each in every lane: read from memory by the
// multiplies (built in registers they would crowd out the block's values).
template <int32_t kValue>
struct Splat {
    alignas(32) static constexpr int32_t lanes[8] = {kValue, kValue, kValue, kValue,
                                                     kValue, kValue, kValue, kValue};
};

template <int32_t k>
inline __m256i MulK(__m256i x) {
    const int32_t* lanes = Splat<k>::lanes;
    asm("" : "+r"(lanes));  // the compiler would build the value in a register
    const __m256i factor = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
    return _mm256_srai_epi32(_mm256_mullo_epi32(x, factor), 11);
}

// The last step of both butterflies: the eight outputs from the even part's
// sums and differences and the odd part's terms.
inline void ButterflyOutputs(__m256i e, __m256i f, __m256i g, __m256i h, __m256i b0, __m256i b2,
                             __m256i b3, __m256i b4, __m256i o[8]) {
    o[0] = _mm256_add_epi32(e, b0);
    o[1] = _mm256_add_epi32(g, b2);
    o[2] = _mm256_add_epi32(h, b3);
    o[3] = _mm256_sub_epi32(f, b4);
    o[4] = _mm256_add_epi32(f, b4);
    o[5] = _mm256_sub_epi32(h, b3);
    o[6] = _mm256_sub_epi32(g, b2);
    o[7] = _mm256_sub_epi32(e, b0);
}

inline void Butterfly(const __m256i s[8], __m256i o[8]) {
    const __m256i a0 = _mm256_add_epi32(s[0], s[4]);
    const __m256i a1 = _mm256_sub_epi32(s[0], s[4]);
    const __m256i a2 = _mm256_add_epi32(s[2], s[6]);
    const __m256i a3 = _mm256_sub_epi32(MulK<2896>(_mm256_sub_epi32(s[2], s[6])), a2);
    const __m256i a4 = _mm256_add_epi32(s[5], s[3]);
    const __m256i a5 = _mm256_sub_epi32(s[5], s[3]);
    const __m256i a6 = _mm256_add_epi32(s[1], s[7]);
    const __m256i a7 = _mm256_sub_epi32(s[1], s[7]);
    const __m256i b0 = _mm256_add_epi32(a4, a6);
    const __m256i b1 = MulK<3784>(_mm256_add_epi32(a5, a7));
    const __m256i b2 = _mm256_add_epi32(_mm256_sub_epi32(MulK<-5352>(a5), b0), b1);
    const __m256i b3 = _mm256_sub_epi32(MulK<2896>(_mm256_sub_epi32(a6, a4)), b2);
    const __m256i b4 = _mm256_sub_epi32(_mm256_add_epi32(MulK<2217>(a7), b3), b1);
    const __m256i e = _mm256_add_epi32(a0, a2), f = _mm256_sub_epi32(a0, a2);
    const __m256i g = _mm256_add_epi32(a1, a3), h = _mm256_sub_epi32(a1, a3);
    ButterflyOutputs(e, f, g, h, b0, b2, b3, b4, o);
}

// The butterfly of s0..s3 with s4..s7 zero: the full one's sums and
// products with the zero terms dropped (x + 0 is x, and MUL(A4, 0 - s3) is
// MUL(5352, s3): the two products are equal modulo 2^32).
inline void HalfButterfly(const __m256i s[4], __m256i o[8]) {
    const __m256i a3 = _mm256_sub_epi32(MulK<2896>(s[2]), s[2]);
    const __m256i d = _mm256_sub_epi32(s[1], s[3]);  // a5 + a7, and a6 - a4
    const __m256i b0 = _mm256_add_epi32(s[3], s[1]);
    const __m256i b1 = MulK<3784>(d);
    const __m256i b2 = _mm256_add_epi32(_mm256_sub_epi32(MulK<5352>(s[3]), b0), b1);
    const __m256i b3 = _mm256_sub_epi32(MulK<2896>(d), b2);
    const __m256i b4 = _mm256_sub_epi32(_mm256_add_epi32(MulK<2217>(s[1]), b3), b1);
    const __m256i e = _mm256_add_epi32(s[0], s[2]), f = _mm256_sub_epi32(s[0], s[2]);
    const __m256i g = _mm256_add_epi32(s[0], a3), h = _mm256_sub_epi32(s[0], a3);
    ButterflyOutputs(e, f, g, h, b0, b2, b3, b4, o);
}

// Rows of 32-bit lanes to columns (and back).
inline void Transpose8(__m256i r[8]) {
    __m256i t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
        r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
    }
}

// The transform's output bytes, two rows to each 128-bit half (the first
// in its low eight bytes): rows 0, 1 and 4, 5 in r0145; 2, 3 and 6, 7 in
// r2367.
struct OutputRows {
    __m256i r0145, r2367;
};

// How far a block's coefficients reach: row 0 only (the block draws one
// line in every row), the top-left 2x2 square (the DC and coefficients 1,
// 8 and 9: many blocks), the top-left 4x4 corner (rows 4-7 and columns 4-7
// zero, as in most blocks), or anywhere.
enum class Extent { kFirstRow, kSquare, kCorner, kFull };

inline __m128i CoefficientRow(const int16_t coefficients[64], int r) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
}

inline Extent ExtentOf(const int16_t c[64]) {
    const __m128i ones = _mm_set1_epi32(-1);
    const __m128i row1 = CoefficientRow(c, 1);
    const __m128i rows23 = _mm_or_si128(CoefficientRow(c, 2), CoefficientRow(c, 3));
    const __m128i upper = _mm_or_si128(row1, rows23);
    const __m128i lower = _mm_or_si128(_mm_or_si128(CoefficientRow(c, 4), CoefficientRow(c, 5)),
                                       _mm_or_si128(CoefficientRow(c, 6), CoefficientRow(c, 7)));
    if (_mm_testz_si128(_mm_or_si128(upper, lower), ones)) return Extent::kFirstRow;
    const __m128i rows01 = _mm_or_si128(CoefficientRow(c, 0), row1);
    const __m128i top = _mm_or_si128(upper, rows01);
    if (!_mm_testz_si128(_mm_or_si128(lower, _mm_unpackhi_epi64(top, top)), ones))
        return Extent::kFull;
    // Columns 2-7 of rows 0 and 1, and rows 2 and 3.
    const __m128i beyond_square = _mm_setr_epi16(0, 0, -1, -1, -1, -1, -1, -1);
    return _mm_testz_si128(_mm_or_si128(rows23, _mm_and_si128(rows01, beyond_square)), ones)
               ? Extent::kSquare
               : Extent::kCorner;
}

// The columns 0-3 of a block whose columns 4-7 are zero, from rows of
// 32-bit lanes to columns: the rows r and r + 4 share a vector, then one
// 4x4 transpose per 128-bit half.
inline void TransposeLeftHalf(const __m256i r[8], __m256i c[4]) {
    __m256i p[4], t[4];
    for (int i = 0; i < 4; ++i)
        p[i] = _mm256_inserti128_si256(r[i], _mm256_castsi256_si128(r[i + 4]), 1);
    t[0] = _mm256_unpacklo_epi32(p[0], p[1]);
    t[1] = _mm256_unpackhi_epi32(p[0], p[1]);
    t[2] = _mm256_unpacklo_epi32(p[2], p[3]);
    t[3] = _mm256_unpackhi_epi32(p[2], p[3]);
    c[0] = _mm256_unpacklo_epi64(t[0], t[2]);
    c[1] = _mm256_unpackhi_epi64(t[0], t[2]);
    c[2] = _mm256_unpacklo_epi64(t[1], t[3]);
    c[3] = _mm256_unpackhi_epi64(t[1], t[3]);
}

// Byte k of every 32-bit lane from byte 1 of lane k / 4 where k % 4 is the
// column's place (0-3) in its half of the row, zero elsewhere: gathers four
// columns' output bytes into rows of four.
struct ByteGathers {
    alignas(32) uint8_t mask[4][32];
};

constexpr ByteGathers MakeByteGathers() {
    ByteGathers g{};
    for (int place = 0; place < 4; ++place)
        for (int k = 0; k < 32; ++k)
            g.mask[place][k] = k % 4 == place ? static_cast<uint8_t>((k % 16) / 4 * 4 + 1) : 0x80;
    return g;
}

constexpr ByteGathers kByteGathers = MakeByteGathers();

// Four columns' samples (byte 1 of each lane) as rows of four bytes.
inline __m256i GatherColumns(const __m256i m[4]) {
    __m256i rows = _mm256_setzero_si256();
    for (int place = 0; place < 4; ++place) {
        const __m256i mask =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(kByteGathers.mask[place]));
        rows = _mm256_or_si256(rows, _mm256_shuffle_epi8(m[place], mask));
    }
    return rows;
}

// kCorner: the coefficients lie in the top-left 4x4 corner, so the column
// butterflies have rows 4-7 zero and, the columns 4-7 of the intermediate
// block being zero too, so have the row butterflies.
//
// The rounding of the outputs, (o + 127) >> 8, starts at the DC: every
// output of both butterflies adds their first input exactly once, so 127
// added to the dequantised DC reaches every output. The sample is then
// byte 1 of each lane.
template <bool kCorner>
__attribute__((always_inline)) inline OutputRows TransformRows(const int16_t coefficients[64],
                                                               const uint32_t quant[64]) {
    constexpr int kRows = kCorner ? 4 : 8;
    __m256i m[8], o[8];
    for (int r = 0; r < kRows; ++r) {
        const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quant + 8 * r));
        const __m256i c = _mm256_cvtepi16_epi32(CoefficientRow(coefficients, r));
        m[r] = _mm256_srai_epi32(_mm256_mullo_epi32(c, q), 11);
    }
    m[0] = _mm256_add_epi32(m[0], _mm256_setr_epi32(127, 0, 0, 0, 0, 0, 0, 0));
    // Columns: lanes are columns. (A column without AC coefficients needs no
    // shortcut: the butterfly of s0 and seven zeros is s0 in every output.)
    if constexpr (kCorner) {
        HalfButterfly(m, o);
        TransposeLeftHalf(o, m);  // m[c]: column c, lanes are rows
        HalfButterfly(m, o);
    } else {
        Butterfly(m, o);
        Transpose8(o);
        Butterfly(o, m);
        for (int c = 0; c < 8; ++c) o[c] = m[c];
    }
    // o[c] is column c (rows 0-3 low half, 4-7 high half): per half, rows of
    // columns 0-3 and of columns 4-7, then the two interleaved.
    const __m256i left = GatherColumns(o);
    const __m256i right = GatherColumns(o + 4);
    return {_mm256_unpacklo_epi32(left, right), _mm256_unpackhi_epi32(left, right)};
}

// The outputs of a butterfly whose inputs are s0 and s1 alone (the full
// one's sums and products with the zero terms dropped), lane by lane:
// o[k] = s0 + t[k] for the terms t = s1, b2, b3, -b4, b4, -b3, -b2, -s1.
struct PairTerms {
    __m256i b2, b3, b4;
};

inline PairTerms PairButterflyTerms(__m256i s1) {
    const __m256i b1 = MulK<3784>(s1);
    const __m256i b2 = _mm256_sub_epi32(b1, s1);
    const __m256i b3 = _mm256_sub_epi32(MulK<2896>(s1), b2);
    const __m256i b4 = _mm256_sub_epi32(_mm256_add_epi32(MulK<2217>(s1), b3), b1);
    return {b2, b3, b4};
}

// A block of the top-left 2x2 square: rows 0 and 1 dequantised, the column
// butterflies of columns 0 and 1 have only those two inputs (the others
// give zeros), and so have the row butterflies. The column butterflies'
// outputs are laid out as columns (lanes are rows) for the rows' ones,
// whose outputs are then the block's columns, as GatherColumns takes them.
__attribute__((always_inline)) inline OutputRows TransformSquare(const int16_t coefficients[64],
                                                                 const uint32_t quant[64]) {
    __m256i r[2];
    for (int row = 0; row < 2; ++row) {
        const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quant + 8 * row));
        const __m256i c = _mm256_cvtepi16_epi32(CoefficientRow(coefficients, row));
        r[row] = _mm256_srai_epi32(_mm256_mullo_epi32(c, q), 11);
    }
    r[0] = _mm256_add_epi32(r[0], _mm256_setr_epi32(127, 0, 0, 0, 0, 0, 0, 0));
    const PairTerms t = PairButterflyTerms(r[1]);
    // Lane 0 (column 0) and lane 1 (column 1) of s1, b2, b3, b4 in order.
    const __m256i x =
        _mm256_unpacklo_epi64(_mm256_unpacklo_epi32(r[1], t.b2), _mm256_unpacklo_epi32(t.b3, t.b4));
    const __m256i y =
        _mm256_unpackhi_epi64(_mm256_unpacklo_epi32(r[1], t.b2), _mm256_unpacklo_epi32(t.b3, t.b4));
    const __m256i order = _mm256_setr_epi32(0, 1, 2, 3, 3, 2, 1, 0);
    const __m256i negate = _mm256_setr_epi32(0, 0, 0, -1, 0, -1, -1, -1);
    __m256i s[2];
    const __m256i terms[2] = {x, y};
    for (int col = 0; col < 2; ++col) {
        const __m256i term = _mm256_permutevar8x32_epi32(terms[col], order);
        const __m256i signed_term = _mm256_sub_epi32(_mm256_xor_si256(term, negate), negate);
        const __m256i s0 = _mm256_permutevar8x32_epi32(r[0], _mm256_set1_epi32(col));
        s[col] = _mm256_add_epi32(s0, signed_term);
    }
    const PairTerms u = PairButterflyTerms(s[1]);
    const __m256i o[8] = {
        _mm256_add_epi32(s[0], s[1]), _mm256_add_epi32(s[0], u.b2), _mm256_add_epi32(s[0], u.b3),
        _mm256_sub_epi32(s[0], u.b4), _mm256_add_epi32(s[0], u.b4), _mm256_sub_epi32(s[0], u.b3),
        _mm256_sub_epi32(s[0], u.b2), _mm256_sub_epi32(s[0], s[1]),
    };
    const __m256i left = GatherColumns(o);
    const __m256i right = GatherColumns(o + 4);
    return {_mm256_unpacklo_epi32(left, right), _mm256_unpackhi_epi32(left, right)};
}

__attribute__((always_inline)) inline OutputRows Transform(Extent extent,
                                                           const int16_t coefficients[64],
                                                           const uint32_t quant[64]) {
    if (extent == Extent::kSquare) return TransformSquare(coefficients, quant);
    return extent == Extent::kFull ? TransformRows<false>(coefficients, quant)
                                   : TransformRows<true>(coefficients, quant);
}

// The line a block with rows 1-7 zero draws, in the low eight bytes (and
// again in the next eight): the row butterfly of the dequantised row 0
// (every column's outputs are its row-0 value), each input in every lane,
// rounded from the DC as in TransformRows. Without AC coefficients it is
// the rounded DC.
inline __m128i FirstRow(const int16_t coefficients[64], const uint32_t quant[64]) {
    const __m128i row = CoefficientRow(coefficients, 0);
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quant));
    __m256i deq = _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_cvtepi16_epi32(row), q), 11);
    deq = _mm256_add_epi32(deq, _mm256_setr_epi32(127, 0, 0, 0, 0, 0, 0, 0));
    const __m128i lo = _mm256_castsi256_si128(deq), hi = _mm256_extracti128_si256(deq, 1);
    if (_mm_testz_si128(row, _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1)))
        return _mm_shuffle_epi8(lo, _mm_set1_epi8(1));  // byte 1 of the rounded DC
    const __m256i s[8] = {
        _mm256_broadcastd_epi32(lo),
        _mm256_broadcastd_epi32(_mm_shuffle_epi32(lo, 1)),
        _mm256_broadcastd_epi32(_mm_shuffle_epi32(lo, 2)),
        _mm256_broadcastd_epi32(_mm_shuffle_epi32(lo, 3)),
        _mm256_broadcastd_epi32(hi),
        _mm256_broadcastd_epi32(_mm_shuffle_epi32(hi, 1)),
        _mm256_broadcastd_epi32(_mm_shuffle_epi32(hi, 2)),
        _mm256_broadcastd_epi32(_mm_shuffle_epi32(hi, 3)),
    };
    __m256i o[8];
    Butterfly(s, o);
    // Outputs 0-3 and 4-7 side by side, then byte 1 of each.
    __m128i w[8];
    for (int c = 0; c < 8; ++c) w[c] = _mm256_castsi256_si128(o[c]);
    const __m128i left =
        _mm_unpacklo_epi64(_mm_unpacklo_epi32(w[0], w[1]), _mm_unpacklo_epi32(w[2], w[3]));
    const __m128i right =
        _mm_unpacklo_epi64(_mm_unpacklo_epi32(w[4], w[5]), _mm_unpacklo_epi32(w[6], w[7]));
    const __m128i bytes = _mm_setr_epi8(1, 5, 9, 13, 1, 5, 9, 13, 1, 5, 9, 13, 1, 5, 9, 13);
    return _mm_unpacklo_epi32(_mm_shuffle_epi8(left, bytes), _mm_shuffle_epi8(right, bytes));
}

void Avx2InverseTransform(const int16_t coefficients[64], const uint32_t quant[64],
                          uint8_t out[64]) {
    const OutputRows rows = Transform(ExtentOf(coefficients), coefficients, quant);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permute2x128_si256(rows.r0145, rows.r2367, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm256_permute2x128_si256(rows.r0145, rows.r2367, 0x31));
}

// The two rows of a 128-bit half, in order.
inline void StoreTwoRows(__m128i rows, uint8_t* dst, uint32_t stride) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), rows);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride), _mm_unpackhi_epi64(rows, rows));
}

void Avx2TransformPut(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                      uint32_t stride) {
    const Extent extent = ExtentOf(coefficients);
    if (extent == Extent::kFirstRow) {
        const __m128i line = FirstRow(coefficients, quant);
        for (int row = 0; row < 8; ++row)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + row * stride), line);
        return;
    }
    const OutputRows rows = Transform(extent, coefficients, quant);
    StoreTwoRows(_mm256_castsi256_si128(rows.r0145), dst, stride);
    StoreTwoRows(_mm256_castsi256_si128(rows.r2367), dst + 2 * stride, stride);
    StoreTwoRows(_mm256_extracti128_si256(rows.r0145, 1), dst + 4 * stride, stride);
    StoreTwoRows(_mm256_extracti128_si256(rows.r2367, 1), dst + 6 * stride, stride);
}

// Adds two rows, each source row read just before its destination row is
// written.
inline void AddTwoRows(__m128i rows, const uint8_t* src, uint8_t* dst, uint32_t stride) {
    const __m128i s0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_add_epi8(s0, rows));
    const __m128i s1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + stride));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + stride),
                     _mm_add_epi8(s1, _mm_unpackhi_epi64(rows, rows)));
}

void Avx2TransformAdd(const int16_t coefficients[64], const uint32_t quant[64], const uint8_t* src,
                      uint8_t* dst, uint32_t stride) {
    const Extent extent = ExtentOf(coefficients);
    if (extent == Extent::kFirstRow) {
        const __m128i line = FirstRow(coefficients, quant);
        for (int row = 0; row < 8; ++row) {
            const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + row * stride));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + row * stride), _mm_add_epi8(s, line));
        }
        return;
    }
    const OutputRows rows = Transform(extent, coefficients, quant);
    AddTwoRows(_mm256_castsi256_si128(rows.r0145), src, dst, stride);
    AddTwoRows(_mm256_castsi256_si128(rows.r2367), src + 2 * stride, dst + 2 * stride, stride);
    AddTwoRows(_mm256_extracti128_si256(rows.r0145, 1), src + 4 * stride, dst + 4 * stride, stride);
    AddTwoRows(_mm256_extracti128_si256(rows.r2367, 1), src + 6 * stride, dst + 6 * stride, stride);
}

// Each sample as a 2x2 square: the bytes of a row doubled, stored twice.
inline void StoreDoubledRow(__m128i doubled, uint8_t* dst, uint32_t stride) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), doubled);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + stride), doubled);
}

// Rows 2k, 2k + 1 (low half) and 2k + 4, 2k + 5 (high half) of `rows`
// doubled, from row 4k of dst.
inline void StoreDoubledPairs(__m256i rows, uint8_t* dst, uint32_t stride) {
    const __m256i first = _mm256_unpacklo_epi8(rows, rows),
                  second = _mm256_unpackhi_epi8(rows, rows);
    StoreDoubledRow(_mm256_castsi256_si128(first), dst, stride);
    StoreDoubledRow(_mm256_castsi256_si128(second), dst + 2 * stride, stride);
    StoreDoubledRow(_mm256_extracti128_si256(first, 1), dst + 8 * stride, stride);
    StoreDoubledRow(_mm256_extracti128_si256(second, 1), dst + 10 * stride, stride);
}

void Avx2TransformPutDoubled(const int16_t coefficients[64], const uint32_t quant[64], uint8_t* dst,
                             uint32_t stride) {
    const Extent extent = ExtentOf(coefficients);
    if (extent == Extent::kFirstRow) {
        const __m128i line = FirstRow(coefficients, quant);
        const __m128i doubled = _mm_unpacklo_epi8(line, line);
        for (int row = 0; row < 16; row += 2) StoreDoubledRow(doubled, dst + row * stride, stride);
        return;
    }
    const OutputRows rows = Transform(extent, coefficients, quant);
    StoreDoubledPairs(rows.r0145, dst, stride);
    StoreDoubledPairs(rows.r2367, dst + 4 * stride, stride);
}

const TransformKernels kAvx2Transform = {Avx2TransformPut, Avx2TransformAdd,
                                         Avx2TransformPutDoubled};

}  // namespace

InverseTransformKernel Avx2InverseTransformKernel() {
    return (CpuFlags() & kCpuAvx2) ? Avx2InverseTransform : nullptr;
}

const TransformKernels* Avx2TransformKernels() {
    return (CpuFlags() & kCpuAvx2) ? &kAvx2Transform : nullptr;
}

}  // namespace vemo::video

#else

namespace vemo::video {

InverseTransformKernel Avx2InverseTransformKernel() {
    return nullptr;
}

const TransformKernels* Avx2TransformKernels() {
    return nullptr;
}

}  // namespace vemo::video

#endif
