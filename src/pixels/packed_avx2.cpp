// Packed-path group kernels with AVX2: the same results as the plain lane
// model, in steps of 16 pixels (16-bit and 8-bit members) or 32 pixels
// (32-bit member, YUY2, UYVY). The kernels see whole steps only; the last
// groups of a span go through padded copies of their samples (AnyGroups).
#include "pixels_internal.h"

// Windows builds keep the SSE2 kernels: these spill 32-byte vectors, and the
// Windows compilers here do not align the stack for them.
#if defined(__AVX2__) && !defined(_WIN32)
#include <immintrin.h>

#include "packed_cursor.h"
#include "yuv_step_avx2.h"

namespace vemo {

namespace {

using Cursor = PackedCursor<16>;

inline __m256i Bias(const ConverterStateData& s, int comp, uint32_t row) {
    const int16_t e = s.packed_bias[comp][row][0], o = s.packed_bias[comp][row][1];
    return _mm256_set_epi16(o, e, o, e, o, e, o, e, o, e, o, e, o, e, o, e);
}

inline __m256i LoadChroma8(const uint8_t* p) {
    const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(c, c));  // c0 c0 c1 c1 ... c7 c7
}

inline __m256i Load16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

struct Lanes {
    __m256i r, g, b;
};

inline Lanes Convert16(const Cursor& k, __m256i br, __m256i bg, __m256i bb) {
    const __m256i y16 = Load16(k.luma);
    const __m256i cr16 = LoadChroma8(k.chroma1);
    const __m256i cb16 = LoadChroma8(k.chroma2);
    const __m256i y =
        _mm256_mulhi_epi16(_mm256_slli_epi16(y16, 6), _mm256_set1_epi16(kPackedLumaGain));
    const __m256i gain = _mm256_set1_epi16(kPackedChromaGain);
    const __m256i r = _mm256_mulhi_epi16(_mm256_slli_epi16(cr16, 5), gain);
    const __m256i b = _mm256_mulhi_epi16(_mm256_slli_epi16(cb16, 4), gain);
    const __m256i red = _mm256_add_epi16(y, _mm256_add_epi16(r, r));
    const __m256i green = _mm256_sub_epi16(_mm256_sub_epi16(y, r), b);
    const __m256i blue = _mm256_add_epi16(y, _mm256_add_epi16(_mm256_slli_epi16(b, 2), b));
    const __m256i floor = _mm256_set1_epi16(static_cast<int16_t>(kPackedFloor));
    Lanes l;
    l.r = _mm256_subs_epu16(_mm256_adds_epi16(red, br), floor);
    l.g = _mm256_subs_epu16(_mm256_adds_epi16(green, bg), floor);
    l.b = _mm256_subs_epu16(_mm256_adds_epi16(blue, bb), floor);
    return l;
}

inline __m256i Place(__m256i v, uint8_t shift, uint8_t position) {
    return _mm256_sll_epi16(_mm256_srl_epi16(v, _mm_cvtsi32_si128(shift)),
                            _mm_cvtsi32_si128(position));
}

// The 32-bit member in steps of 32 pixels. Lanes hold pixel pairs: the even
// pixels of 16 pairs in one register, the odd ones in another, and the
// chroma of those pairs once, so no chroma is spread. The floor that the
// lane model subtracts is folded into each component's chroma term, so a
// component is its sum with the luma term shifted down by 4 and clamped to
// 0..255 by the byte pack. That equals the model's saturate, floor and shift
// for every sample (the terms stay far from the 16-bit wrap, the floor is a
// multiple of 16, and the sums are clamped at the same two ends).
//
// Pairs sit in the order [0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15], for
// which the in-lane interleaves at the end yield the pixels in order.
inline __m256i PairOrder(const uint8_t* p) {
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                                       order);
}

inline __m256i ChromaWords(const uint8_t* p) {
    const __m256i order =
        _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 2, -1, 3, -1, 6,
                         -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
    return _mm256_shuffle_epi8(
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), order);
}

// Even pixels' bytes then odd pixels' bytes of each lane's 8 pairs.
inline __m256i ComponentBytes(__m256i y_even, __m256i y_odd, __m256i term) {
    return _mm256_packus_epi16(_mm256_srai_epi16(_mm256_add_epi16(y_even, term), 4),
                               _mm256_srai_epi16(_mm256_add_epi16(y_odd, term), 4));
}

template <bool kWithAlpha>
void Rgb32Steps(ConversionContext& c, uint32_t steps) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    // The 24- and 32-bit formats have no dither: one bias per component.
    __m256i bias[3];
    for (int comp = 0; comp < 3; ++comp)
        bias[comp] = _mm256_set1_epi16(
            static_cast<int16_t>(s.packed_bias[comp][row][0] - static_cast<int>(kPackedFloor)));
    const bool red_low = s.layout.position[kRed] == 0;
    const __m256i luma_gain = _mm256_set1_epi16(kPackedLumaGain);
    const __m256i chroma_gain = _mm256_set1_epi16(kPackedChromaGain);
    const __m256i even64 = _mm256_set1_epi16(64), odd64 = _mm256_set1_epi16(64 << 8);
    const __m256i five = _mm256_set1_epi16(5);
    const __m256i split = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0,
                                           2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    PackedCursor<32> k(c);
    for (; steps; --steps) {
        const __m256i r =
            _mm256_mulhi_epi16(_mm256_slli_epi16(ChromaWords(k.chroma1), 5), chroma_gain);
        const __m256i b =
            _mm256_mulhi_epi16(_mm256_slli_epi16(ChromaWords(k.chroma2), 4), chroma_gain);
        const __m256i red = _mm256_add_epi16(_mm256_add_epi16(r, r), bias[kRed]);
        const __m256i green = _mm256_sub_epi16(_mm256_sub_epi16(bias[kGreen], r), b);
        const __m256i blue = _mm256_add_epi16(_mm256_mullo_epi16(b, five), bias[kBlue]);
        // Each pixel's sample times 64, the even and the odd pixels of the pairs.
        const __m256i luma = PairOrder(k.luma);
        const __m256i y_even = _mm256_mulhi_epi16(_mm256_maddubs_epi16(luma, even64), luma_gain);
        const __m256i y_odd = _mm256_mulhi_epi16(_mm256_maddubs_epi16(luma, odd64), luma_gain);
        const __m256i r8 = ComponentBytes(y_even, y_odd, red);
        const __m256i g8 = ComponentBytes(y_even, y_odd, green);
        const __m256i b8 = ComponentBytes(y_even, y_odd, blue);
        const __m256i top =
            kWithAlpha ? _mm256_shuffle_epi8(PairOrder(k.alpha), split) : _mm256_setzero_si256();
        const __m256i first = red_low ? r8 : b8, third = red_low ? b8 : r8;
        // Two-byte halves of the pixels, even and odd pixels apart, then in order.
        const __m256i low_even = _mm256_unpacklo_epi8(first, g8);
        const __m256i low_odd = _mm256_unpackhi_epi8(first, g8);
        const __m256i high_even = _mm256_unpacklo_epi8(third, top);
        const __m256i high_odd = _mm256_unpackhi_epi8(third, top);
        const __m256i low0 = _mm256_unpacklo_epi16(low_even, low_odd);
        const __m256i low1 = _mm256_unpackhi_epi16(low_even, low_odd);
        const __m256i high0 = _mm256_unpacklo_epi16(high_even, high_odd);
        const __m256i high1 = _mm256_unpackhi_epi16(high_even, high_odd);
        auto* d = reinterpret_cast<__m256i*>(k.destination);
        _mm256_storeu_si256(d, _mm256_unpacklo_epi16(low0, high0));      // pixels 0-7
        _mm256_storeu_si256(d + 1, _mm256_unpackhi_epi16(low0, high0));  // pixels 8-15
        _mm256_storeu_si256(d + 2, _mm256_unpacklo_epi16(low1, high1));  // pixels 16-23
        _mm256_storeu_si256(d + 3, _mm256_unpackhi_epi16(low1, high1));  // pixels 24-31
        k.Advance(128);
    }
    k.Store(c);
}

template <bool kWithAlpha, bool kByte>
void Rgb16Steps(ConversionContext& c, uint32_t steps) {
    const ConverterStateData& s = *c.state;
    const PixelLayout& lay = s.layout;
    const uint32_t row = c.current_row & 1;
    const __m256i br = Bias(s, kRed, row), bg = Bias(s, kGreen, row), bb = Bias(s, kBlue, row);
    Cursor k(c);
    for (; steps; --steps) {
        const Lanes l = Convert16(k, br, bg, bb);
        __m256i v =
            _mm256_or_si256(_mm256_or_si256(Place(l.r, lay.shift[kRed], lay.position[kRed]),
                                            Place(l.g, lay.shift[kGreen], lay.position[kGreen])),
                            Place(l.b, lay.shift[kBlue], lay.position[kBlue]));
        if (kWithAlpha)
            v = _mm256_or_si256(v, Place(Load16(k.alpha), lay.shift[kAlpha], lay.position[kAlpha]));
        if (kByte) {
            const __m128i bytes =
                _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(k.destination), bytes);
            k.Advance(16);
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(k.destination), v);
            k.Advance(32);
        }
    }
    k.Store(c);
}

// YUY2 and UYVY in steps of 32 pixels (YuvStep).
template <bool kUyvy>
void YuvRow(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2,
            uint8_t* destination, uint32_t units) {
    for (; units; --units, luma += 32, chroma1 += 16, chroma2 += 16, destination += 64)
        YuvStep<kUyvy>(luma, chroma1, chroma2, destination);
}

template <bool kUyvy>
void YuvSteps(ConversionContext& c, uint32_t steps) {
    PackedCursor<32> k(c);
    YuvRow<kUyvy>(k.luma, k.chroma1, k.chroma2, k.destination, steps);
    k.Advance(64 * steps, steps);
    k.Store(c);
}

}  // namespace

void InstallAvx2PackedKernels(PackedKernels& p) {
    p.rgb32 = &AnyGroups<&Rgb32Steps<false>, 32, 4>;
    p.rgb32_alpha = &AnyGroups<&Rgb32Steps<true>, 32, 4>;
    p.rgb16 = &AnyGroups<&Rgb16Steps<false, false>, 16, 2>;
    p.rgb16_alpha = &AnyGroups<&Rgb16Steps<true, false>, 16, 2>;
    p.palette = &AnyGroups<&Rgb16Steps<false, true>, 16, 1>;
    p.yuy2 = &AnyGroups<&YuvSteps<false>, 32, 2>;
    p.uyvy = &AnyGroups<&YuvSteps<true>, 32, 2>;
    p.yuy2_rows = &YuvRows<&YuvRow<false>, &YuvSteps<false>>;
    p.uyvy_rows = &YuvRows<&YuvRow<true>, &YuvSteps<true>>;
}

}  // namespace vemo

#elif defined(__i386__) || defined(__x86_64__)

namespace vemo {

void InstallAvx2PackedKernels(PackedKernels&) {}

}  // namespace vemo

#endif
