// SSE2 kernels of the video decoder: the inverse transform on four columns
// (then four rows) at a time (its bytes out as a block, straight into
// destination rows, or added to source rows), and the 8x8 add. They give exactly the plain
// kernels' results: the same wrapping 32-bit arithmetic, lane by lane. (A
// column without AC coefficients needs no shortcut here: the butterfly of
// s0 and seven zeros is s0 in every output.)
#include "vemo/cpu.h"
#include "video_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>

// 32-bit Windows only keeps the stack 4-byte aligned; the kernels keep
// 16-byte vectors on it, so they realign it on entry there.
#if defined(__i386__)
#define VEMO_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define VEMO_REALIGN_STACK
#endif

namespace vemo::video {

namespace {

// Low 32 bits of the lane products.
inline __m128i MulLo(__m128i a, __m128i b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// (x * k) >> 11 for a constant k, |k| < 2^15, from 16-bit multiplies: with
// x = xh * 2^16 + xl, x * |k| modulo 2^32 is xl * |k| + (xh * |k| mod 2^16)
// * 2^16, and the low 16-bit products give xl * |k| mod 2^16 and xh * |k|
// mod 2^16 in the two halves of each lane, the high one of xl the rest.
template <int32_t kValue>
inline __m128i MulK(__m128i x) {
    static_assert(kValue != 0 && kValue > -32768 && kValue < 32768);
    const __m128i k = _mm_set1_epi16(static_cast<int16_t>(kValue < 0 ? -kValue : kValue));
    const __m128i low = _mm_mullo_epi16(x, k);
    const __m128i high = _mm_slli_epi32(_mm_mulhi_epu16(x, k), 16);
    __m128i product = _mm_add_epi32(low, high);
    if constexpr (kValue < 0) product = _mm_sub_epi32(_mm_setzero_si128(), product);
    return _mm_srai_epi32(product, 11);
}

// The last step of both butterflies: the eight outputs from the even part's
// sums and differences and the odd part's terms.
inline void ButterflyOutputs(__m128i e, __m128i f, __m128i g, __m128i h, __m128i b0, __m128i b2,
                             __m128i b3, __m128i b4, __m128i o[8]) {
    o[0] = _mm_add_epi32(e, b0);
    o[1] = _mm_add_epi32(g, b2);
    o[2] = _mm_add_epi32(h, b3);
    o[3] = _mm_sub_epi32(f, b4);
    o[4] = _mm_add_epi32(f, b4);
    o[5] = _mm_sub_epi32(h, b3);
    o[6] = _mm_sub_epi32(g, b2);
    o[7] = _mm_sub_epi32(e, b0);
}

inline void Butterfly(const __m128i s[8], __m128i o[8]) {
    const __m128i a0 = _mm_add_epi32(s[0], s[4]);
    const __m128i a1 = _mm_sub_epi32(s[0], s[4]);
    const __m128i a2 = _mm_add_epi32(s[2], s[6]);
    const __m128i a3 = _mm_sub_epi32(MulK<2896>(_mm_sub_epi32(s[2], s[6])), a2);
    const __m128i a4 = _mm_add_epi32(s[5], s[3]);
    const __m128i a5 = _mm_sub_epi32(s[5], s[3]);
    const __m128i a6 = _mm_add_epi32(s[1], s[7]);
    const __m128i a7 = _mm_sub_epi32(s[1], s[7]);
    const __m128i b0 = _mm_add_epi32(a4, a6);
    const __m128i b1 = MulK<3784>(_mm_add_epi32(a5, a7));
    const __m128i b2 = _mm_add_epi32(_mm_sub_epi32(MulK<-5352>(a5), b0), b1);
    const __m128i b3 = _mm_sub_epi32(MulK<2896>(_mm_sub_epi32(a6, a4)), b2);
    const __m128i b4 = _mm_sub_epi32(_mm_add_epi32(MulK<2217>(a7), b3), b1);
    const __m128i e = _mm_add_epi32(a0, a2), f = _mm_sub_epi32(a0, a2);
    const __m128i g = _mm_add_epi32(a1, a3), h = _mm_sub_epi32(a1, a3);
    ButterflyOutputs(e, f, g, h, b0, b2, b3, b4, o);
}

inline void Transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
    const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpackhi_epi32(r0, r1);
    const __m128i t2 = _mm_unpacklo_epi32(r2, r3), t3 = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(t0, t2);
    r1 = _mm_unpackhi_epi64(t0, t2);
    r2 = _mm_unpacklo_epi64(t1, t3);
    r3 = _mm_unpackhi_epi64(t1, t3);
}

// m[r][h]: row r, columns 4h..4h+3 -> m[c][h]: column c, rows 4h..4h+3.
inline void Transpose8(__m128i m[8][2]) {
    Transpose4(m[0][0], m[1][0], m[2][0], m[3][0]);
    Transpose4(m[4][1], m[5][1], m[6][1], m[7][1]);
    Transpose4(m[0][1], m[1][1], m[2][1], m[3][1]);
    Transpose4(m[4][0], m[5][0], m[6][0], m[7][0]);
    for (int i = 0; i < 4; ++i) {
        const __m128i t = m[i][1];
        m[i][1] = m[4 + i][0];
        m[4 + i][0] = t;
    }
}

// The butterfly of s0..s3 with s4..s7 zero: the full one's sums and
// products with the zero terms dropped (x + 0 is x, and MUL(A4, 0 - s3) is
// MUL(5352, s3): the two products are equal modulo 2^32).
inline void HalfButterfly(const __m128i s[4], __m128i o[8]) {
    const __m128i a3 = _mm_sub_epi32(MulK<2896>(s[2]), s[2]);
    const __m128i d = _mm_sub_epi32(s[1], s[3]);  // a5 + a7, and a6 - a4
    const __m128i b0 = _mm_add_epi32(s[3], s[1]);
    const __m128i b1 = MulK<3784>(d);
    const __m128i b2 = _mm_add_epi32(_mm_sub_epi32(MulK<5352>(s[3]), b0), b1);
    const __m128i b3 = _mm_sub_epi32(MulK<2896>(d), b2);
    const __m128i b4 = _mm_sub_epi32(_mm_add_epi32(MulK<2217>(s[1]), b3), b1);
    const __m128i e = _mm_add_epi32(s[0], s[2]), f = _mm_sub_epi32(s[0], s[2]);
    const __m128i g = _mm_add_epi32(s[0], a3), h = _mm_sub_epi32(s[0], a3);
    ButterflyOutputs(e, f, g, h, b0, b2, b3, b4, o);
}

// How far a block's coefficients reach: row 0 only (the block draws one
// line in every row), the top-left 2x2 square (the DC and coefficients 1,
// 8 and 9: many blocks), the top-left 4x4 corner (rows 4-7 and columns 4-7
// zero, as in most blocks), or anywhere.
enum class Extent { kFirstRow, kSquare, kCorner, kFull };

inline bool AllZero(__m128i v) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
}

inline Extent ExtentOf(const int16_t coefficients[64]) {
    __m128i rows[8];
    for (int r = 0; r < 8; ++r)
        rows[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
    const __m128i rows23 = _mm_or_si128(rows[2], rows[3]);
    const __m128i upper = _mm_or_si128(rows[1], rows23);
    const __m128i lower =
        _mm_or_si128(_mm_or_si128(rows[4], rows[5]), _mm_or_si128(rows[6], rows[7]));
    if (AllZero(_mm_or_si128(upper, lower))) return Extent::kFirstRow;
    const __m128i rows01 = _mm_or_si128(rows[0], rows[1]);
    const __m128i top = _mm_or_si128(upper, rows01);
    if (!AllZero(_mm_or_si128(lower, _mm_unpackhi_epi64(top, top)))) return Extent::kFull;
    // Columns 2-7 of rows 0 and 1, and rows 2 and 3.
    const __m128i beyond_square = _mm_setr_epi16(0, 0, -1, -1, -1, -1, -1, -1);
    return AllZero(_mm_or_si128(rows23, _mm_and_si128(rows01, beyond_square))) ? Extent::kSquare
                                                                               : Extent::kCorner;
}

// Four columns' bytes, column by column (four rows each), as rows of four:
// two byte interleaves of the halves, each pairing bytes four apart.
inline __m128i TransposeBytes4x4(__m128i columns) {
    const __m128i a = _mm_unpacklo_epi8(columns, _mm_srli_si128(columns, 8));
    return _mm_unpacklo_epi8(a, _mm_srli_si128(a, 8));
}

// The samples of m[c][h] (column c of rows 4h..4h+3, each 0-255) as the
// transform's output bytes: rows 2k and 2k + 1 in pairs[k] (the first in its
// low eight bytes). Packed to bytes first, so that the turn from columns to
// rows moves bytes rather than 32-bit lanes.
inline void PackColumns(const __m128i m[8][2], __m128i pairs[4]) {
    for (int h = 0; h < 2; ++h) {
        const __m128i left =
            _mm_packus_epi16(_mm_packs_epi32(m[0][h], m[1][h]), _mm_packs_epi32(m[2][h], m[3][h]));
        const __m128i right =
            _mm_packus_epi16(_mm_packs_epi32(m[4][h], m[5][h]), _mm_packs_epi32(m[6][h], m[7][h]));
        const __m128i rows_left = TransposeBytes4x4(left), rows_right = TransposeBytes4x4(right);
        pairs[2 * h] = _mm_unpacklo_epi32(rows_left, rows_right);
        pairs[2 * h + 1] = _mm_unpackhi_epi32(rows_left, rows_right);
    }
}

// The transform's output bytes: rows 2k and 2k + 1 in pairs[k] (the first in
// its low eight bytes). kCorner: the coefficients lie in the top-left 4x4
// corner, so the columns 0-3 have rows 4-7 zero, the columns 4-7 are zero
// throughout, and the intermediate block has columns 4-7 zero.
template <bool kCorner>
inline void TransformRows(const int16_t coefficients[64], const uint32_t quant[64],
                          __m128i pairs[4]) {
    __m128i m[8][2];
    for (int r = 0; r < 8; ++r) {
        if (kCorner && r >= 4) {
            m[r][0] = m[r][1] = _mm_setzero_si128();
            continue;
        }
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r));
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(c, c), 16);
        const __m128i q0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r));
        m[r][0] = _mm_srai_epi32(MulLo(lo, q0), 11);
        if (kCorner) {
            m[r][1] = _mm_setzero_si128();
            continue;
        }
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(c, c), 16);
        const __m128i q1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r + 4));
        m[r][1] = _mm_srai_epi32(MulLo(hi, q1), 11);
    }
    // The rounding of the outputs, (o + 127) >> 8, starts at the DC: every
    // output of both butterflies adds their first input exactly once.
    m[0][0] = _mm_add_epi32(m[0][0], _mm_setr_epi32(127, 0, 0, 0));
    // Columns: lanes are columns, the butterfly runs over the rows.
    for (int h = 0; h < (kCorner ? 1 : 2); ++h) {
        __m128i s[8], o[8];
        for (int r = 0; r < 8; ++r) s[r] = m[r][h];
        if (kCorner)
            HalfButterfly(s, o);
        else
            Butterfly(s, o);
        for (int r = 0; r < 8; ++r) m[r][h] = o[r];
    }
    Transpose8(m);  // m[c][h]: column c of rows 4h..4h+3
    const __m128i low = _mm_set1_epi32(0xFF);
    for (int h = 0; h < 2; ++h) {
        __m128i s[8], o[8];
        for (int c = 0; c < 8; ++c) s[c] = m[c][h];
        if (kCorner)
            HalfButterfly(s, o);
        else
            Butterfly(s, o);
        for (int c = 0; c < 8; ++c) m[c][h] = _mm_and_si128(_mm_srai_epi32(o[c], 8), low);
    }
    PackColumns(m, pairs);
}

// The outputs of a butterfly whose inputs are s0 and s1 alone (the full
// one's sums and products with the zero terms dropped), lane by lane:
// o[k] = s0 + t[k] for the terms t = s1, b2, b3, -b4, b4, -b3, -b2, -s1.
struct PairTerms {
    __m128i b2, b3, b4;
};

inline PairTerms PairButterflyTerms(__m128i s1) {
    const __m128i b1 = MulK<3784>(s1);
    const __m128i b2 = _mm_sub_epi32(b1, s1);
    const __m128i b3 = _mm_sub_epi32(MulK<2896>(s1), b2);
    const __m128i b4 = _mm_sub_epi32(_mm_add_epi32(MulK<2217>(s1), b3), b1);
    return {b2, b3, b4};
}

// A block of the top-left 2x2 square: the column butterflies of columns 0
// and 1 have only rows 0 and 1 as inputs (the other columns give zeros),
// and so have the row butterflies; their outputs are laid out as columns
// (lanes are rows 4h..4h+3) as the row butterflies of TransformRows give
// them.
inline void TransformSquare(const int16_t coefficients[64], const uint32_t quant[64],
                            __m128i pairs[4]) {
    __m128i r[2];
    for (int row = 0; row < 2; ++row) {
        const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coefficients + 8 * row));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * row));
        r[row] = _mm_srai_epi32(MulLo(_mm_srai_epi32(_mm_unpacklo_epi16(c, c), 16), q), 11);
    }
    r[0] = _mm_add_epi32(r[0], _mm_setr_epi32(127, 0, 0, 0));
    const PairTerms t = PairButterflyTerms(r[1]);
    const __m128i a = _mm_unpacklo_epi32(r[1], t.b2), b = _mm_unpacklo_epi32(t.b3, t.b4);
    // Per column: its s1, b2, b3, b4, then for rows 0-3 and 4-7 in order.
    const __m128i terms[2] = {_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b)};
    const __m128i negate_upper = _mm_setr_epi32(0, 0, 0, -1);
    const __m128i negate_lower = _mm_setr_epi32(0, -1, -1, -1);
    __m128i col[2][2];
    for (int c = 0; c < 2; ++c) {
        const __m128i s0 = c ? _mm_shuffle_epi32(r[0], 0x55) : _mm_shuffle_epi32(r[0], 0);
        const __m128i upper = _mm_sub_epi32(_mm_xor_si128(terms[c], negate_upper), negate_upper);
        const __m128i reversed = _mm_shuffle_epi32(terms[c], _MM_SHUFFLE(0, 1, 2, 3));
        const __m128i lower = _mm_sub_epi32(_mm_xor_si128(reversed, negate_lower), negate_lower);
        col[c][0] = _mm_add_epi32(s0, upper);
        col[c][1] = _mm_add_epi32(s0, lower);
    }
    __m128i m[8][2];
    const __m128i low = _mm_set1_epi32(0xFF);
    for (int h = 0; h < 2; ++h) {
        const __m128i s0 = col[0][h], s1 = col[1][h];
        const PairTerms u = PairButterflyTerms(s1);
        const __m128i o[8] = {
            _mm_add_epi32(s0, s1),   _mm_add_epi32(s0, u.b2), _mm_add_epi32(s0, u.b3),
            _mm_sub_epi32(s0, u.b4), _mm_add_epi32(s0, u.b4), _mm_sub_epi32(s0, u.b3),
            _mm_sub_epi32(s0, u.b2), _mm_sub_epi32(s0, s1),
        };
        for (int c = 0; c < 8; ++c) m[c][h] = _mm_and_si128(_mm_srai_epi32(o[c], 8), low);
    }
    PackColumns(m, pairs);
}

inline void TransformRows(Extent extent, const int16_t coefficients[64], const uint32_t quant[64],
                          __m128i pairs[4]) {
    if (extent == Extent::kSquare)
        TransformSquare(coefficients, quant, pairs);
    else if (extent == Extent::kFull)
        TransformRows<false>(coefficients, quant, pairs);
    else
        TransformRows<true>(coefficients, quant, pairs);
}

// The line a block with rows 1-7 zero draws, in the low eight bytes: the
// row butterfly of the dequantised row 0 (every column's outputs are its
// row-0 value), each input in every lane, rounded from the DC as in
// TransformRows. Without AC coefficients it is the rounded DC.
inline __m128i FirstRow(const int16_t coefficients[64], const uint32_t quant[64]) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients));
    const __m128i q0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant));
    const __m128i q1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 4));
    const __m128i lo = _mm_add_epi32(
        _mm_srai_epi32(MulLo(_mm_srai_epi32(_mm_unpacklo_epi16(row, row), 16), q0), 11),
        _mm_setr_epi32(127, 0, 0, 0));
    if (AllZero(_mm_and_si128(row, _mm_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1))))
        return _mm_set1_epi8(static_cast<char>(_mm_cvtsi128_si32(lo) >> 8));
    const __m128i hi =
        _mm_srai_epi32(MulLo(_mm_srai_epi32(_mm_unpackhi_epi16(row, row), 16), q1), 11);
    const __m128i s[8] = {
        _mm_shuffle_epi32(lo, 0x00), _mm_shuffle_epi32(lo, 0x55), _mm_shuffle_epi32(lo, 0xAA),
        _mm_shuffle_epi32(lo, 0xFF), _mm_shuffle_epi32(hi, 0x00), _mm_shuffle_epi32(hi, 0x55),
        _mm_shuffle_epi32(hi, 0xAA), _mm_shuffle_epi32(hi, 0xFF),
    };
    __m128i o[8];
    Butterfly(s, o);
    // Outputs 0-3 and 4-7 side by side, then their samples as bytes.
    const __m128i left =
        _mm_unpacklo_epi64(_mm_unpacklo_epi32(o[0], o[1]), _mm_unpacklo_epi32(o[2], o[3]));
    const __m128i right =
        _mm_unpacklo_epi64(_mm_unpacklo_epi32(o[4], o[5]), _mm_unpacklo_epi32(o[6], o[7]));
    const __m128i low = _mm_set1_epi32(0xFF);
    const __m128i words = _mm_packs_epi32(_mm_and_si128(_mm_srai_epi32(left, 8), low),
                                          _mm_and_si128(_mm_srai_epi32(right, 8), low));
    return _mm_packus_epi16(words, words);
}

VEMO_REALIGN_STACK void Sse2InverseTransform(const int16_t coefficients[64],
                                             const uint32_t quant[64], uint8_t out[64]) {
    __m128i pairs[4];
    TransformRows(ExtentOf(coefficients), coefficients, quant, pairs);
    for (int k = 0; k < 4; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), pairs[k]);
}

VEMO_REALIGN_STACK void Sse2TransformPut(const int16_t coefficients[64], const uint32_t quant[64],
                                         uint8_t* dst, uint32_t stride) {
    const Extent extent = ExtentOf(coefficients);
    if (extent == Extent::kFirstRow) {
        const __m128i line = FirstRow(coefficients, quant);
        for (int row = 0; row < 8; ++row)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + row * stride), line);
        return;
    }
    __m128i pairs[4];
    TransformRows(extent, coefficients, quant, pairs);
    for (int k = 0; k < 4; ++k) {
        uint8_t* row = dst + 2 * k * stride;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row), pairs[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row + stride),
                         _mm_unpackhi_epi64(pairs[k], pairs[k]));
    }
}

// Each source row is read just before its destination row is written.
VEMO_REALIGN_STACK void Sse2TransformAdd(const int16_t coefficients[64], const uint32_t quant[64],
                                         const uint8_t* src, uint8_t* dst, uint32_t stride) {
    const Extent extent = ExtentOf(coefficients);
    __m128i pairs[4];
    if (extent == Extent::kFirstRow) {
        const __m128i line = FirstRow(coefficients, quant);
        for (int k = 0; k < 4; ++k) pairs[k] = _mm_unpacklo_epi64(line, line);
    } else {
        TransformRows(extent, coefficients, quant, pairs);
    }
    for (int row = 0; row < 8; ++row) {
        const __m128i add =
            row & 1 ? _mm_unpackhi_epi64(pairs[row / 2], pairs[row / 2]) : pairs[row / 2];
        const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + row * stride));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + row * stride), _mm_add_epi8(s, add));
    }
}

// Each sample as a 2x2 square: the bytes of a row doubled, stored twice.
inline void StoreDoubledRow(__m128i doubled, uint8_t* dst, uint32_t stride) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), doubled);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + stride), doubled);
}

VEMO_REALIGN_STACK void Sse2TransformPutDoubled(const int16_t coefficients[64],
                                                const uint32_t quant[64], uint8_t* dst,
                                                uint32_t stride) {
    const Extent extent = ExtentOf(coefficients);
    if (extent == Extent::kFirstRow) {
        const __m128i line = FirstRow(coefficients, quant);
        const __m128i doubled = _mm_unpacklo_epi8(line, line);
        for (int row = 0; row < 16; row += 2) StoreDoubledRow(doubled, dst + row * stride, stride);
        return;
    }
    __m128i pairs[4];
    TransformRows(extent, coefficients, quant, pairs);
    for (int k = 0; k < 4; ++k) {
        uint8_t* rows = dst + 4 * k * stride;
        StoreDoubledRow(_mm_unpacklo_epi8(pairs[k], pairs[k]), rows, stride);
        StoreDoubledRow(_mm_unpackhi_epi8(pairs[k], pairs[k]), rows + 2 * stride, stride);
    }
}

VEMO_REALIGN_STACK void Sse2AddBlock(const uint8_t add[64], const uint8_t* src, uint8_t* dst,
                                     uint32_t stride) {
    for (int row = 0; row < 8; ++row) {
        const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + row * stride));
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(add + row * 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + row * stride), _mm_add_epi8(s, a));
    }
}

const VideoKernels kSse2 = {Sse2InverseTransform, Sse2AddBlock};
const TransformKernels kSse2Transform = {Sse2TransformPut, Sse2TransformAdd,
                                         Sse2TransformPutDoubled};

}  // namespace

const VideoKernels* Sse2Kernels() {
    return (CpuFlags() & kCpuSse2) ? &kSse2 : nullptr;
}

const TransformKernels* Sse2TransformKernels() {
    return (CpuFlags() & kCpuSse2) ? &kSse2Transform : nullptr;
}

}  // namespace vemo::video

#else

namespace vemo::video {

const VideoKernels* Sse2Kernels() {
    return nullptr;
}

const TransformKernels* Sse2TransformKernels() {
    return nullptr;
}

}  // namespace vemo::video

#endif
