// Packed-path group kernels with SSE2: eight 16-bit lanes, the same
// arithmetic as the plain lane model (PackedLane).
#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

#include "packed_cursor.h"
#include "pixels_internal.h"

namespace vemo {

namespace {

using Cursor = PackedCursor<8>;

struct Lanes {
    __m128i r, g, b;  // 0..4095 per lane
};

inline __m128i Bias(const ConverterStateData& s, int comp, uint32_t row) {
    return _mm_set_epi16(s.packed_bias[comp][row][1], s.packed_bias[comp][row][0],
                         s.packed_bias[comp][row][1], s.packed_bias[comp][row][0],
                         s.packed_bias[comp][row][1], s.packed_bias[comp][row][0],
                         s.packed_bias[comp][row][1], s.packed_bias[comp][row][0]);
}

inline __m128i LoadChroma4(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    const __m128i bytes = _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), _mm_setzero_si128());
    return _mm_unpacklo_epi16(bytes, bytes);  // c0 c0 c1 c1 c2 c2 c3 c3
}

inline Lanes Convert8(const uint8_t* luma, const uint8_t* cr, const uint8_t* cb, __m128i bias_r,
                      __m128i bias_g, __m128i bias_b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i y16 =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma)), zero);
    const __m128i y = _mm_mulhi_epi16(_mm_slli_epi16(y16, 6), _mm_set1_epi16(kPackedLumaGain));
    const __m128i gain = _mm_set1_epi16(kPackedChromaGain);
    const __m128i r = _mm_mulhi_epi16(_mm_slli_epi16(LoadChroma4(cr), 5), gain);
    const __m128i b = _mm_mulhi_epi16(_mm_slli_epi16(LoadChroma4(cb), 4), gain);
    const __m128i red = _mm_add_epi16(y, _mm_add_epi16(r, r));
    const __m128i green = _mm_sub_epi16(_mm_sub_epi16(y, r), b);
    const __m128i blue = _mm_add_epi16(y, _mm_add_epi16(_mm_slli_epi16(b, 2), b));
    const __m128i floor = _mm_set1_epi16(static_cast<int16_t>(kPackedFloor));
    Lanes l;
    l.r = _mm_subs_epu16(_mm_adds_epi16(red, bias_r), floor);
    l.g = _mm_subs_epu16(_mm_adds_epi16(green, bias_g), floor);
    l.b = _mm_subs_epu16(_mm_adds_epi16(blue, bias_b), floor);
    return l;
}

inline __m128i Place(__m128i v, uint8_t shift, uint8_t position) {
    return _mm_sll_epi16(_mm_srl_epi16(v, _mm_cvtsi32_si128(shift)), _mm_cvtsi32_si128(position));
}

template <bool kWithAlpha>
void Rgb32Groups(ConversionContext& c, uint32_t groups) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    const __m128i br = Bias(s, kRed, row), bg = Bias(s, kGreen, row), bb = Bias(s, kBlue, row);
    // Components at bit 0 and 8 form the low halves, at 16 and 24 the high.
    const bool red_low = s.layout.position[kRed] == 0;
    Cursor k(c);
    for (; groups; --groups) {
        const Lanes l = Convert8(k.luma, k.chroma1, k.chroma2, br, bg, bb);
        const __m128i r8 = _mm_srli_epi16(l.r, 4);
        const __m128i g8 = _mm_srli_epi16(l.g, 4);
        const __m128i b8 = _mm_srli_epi16(l.b, 4);
        __m128i top = _mm_setzero_si128();
        if (kWithAlpha)
            top = _mm_slli_epi16(
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.alpha)),
                                  _mm_setzero_si128()),
                8);
        const __m128i low = _mm_or_si128(red_low ? r8 : b8, _mm_slli_epi16(g8, 8));
        const __m128i high = _mm_or_si128(red_low ? b8 : r8, top);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(k.destination), _mm_unpacklo_epi16(low, high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(k.destination + 16),
                         _mm_unpackhi_epi16(low, high));
        k.Advance(32);
    }
    k.Store(c);
}

template <bool kWithAlpha, bool kByte>
void Rgb16Groups(ConversionContext& c, uint32_t groups) {
    const ConverterStateData& s = *c.state;
    const PixelLayout& lay = s.layout;
    const uint32_t row = c.current_row & 1;
    const __m128i br = Bias(s, kRed, row), bg = Bias(s, kGreen, row), bb = Bias(s, kBlue, row);
    Cursor k(c);
    for (; groups; --groups) {
        const Lanes l = Convert8(k.luma, k.chroma1, k.chroma2, br, bg, bb);
        __m128i v = _mm_or_si128(_mm_or_si128(Place(l.r, lay.shift[kRed], lay.position[kRed]),
                                              Place(l.g, lay.shift[kGreen], lay.position[kGreen])),
                                 Place(l.b, lay.shift[kBlue], lay.position[kBlue]));
        if (kWithAlpha) {
            const __m128i a = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.alpha)), _mm_setzero_si128());
            v = _mm_or_si128(v, Place(a, lay.shift[kAlpha], lay.position[kAlpha]));
        }
        if (kByte) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(k.destination), _mm_packus_epi16(v, v));
            k.Advance(8);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(k.destination), v);
            k.Advance(16);
        }
    }
    k.Store(c);
}

template <bool kUyvy>
void YuvGroups(ConversionContext& c, uint32_t groups) {
    Cursor k(c);
    for (; groups >= 2; groups -= 2) {
        const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.chroma2));
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.chroma1));
        const __m128i uv = _mm_unpacklo_epi8(u, v);
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.luma));
        auto* d = reinterpret_cast<__m128i*>(k.destination);
        _mm_storeu_si128(d, kUyvy ? _mm_unpacklo_epi8(uv, y) : _mm_unpacklo_epi8(y, uv));
        _mm_storeu_si128(d + 1, kUyvy ? _mm_unpackhi_epi8(uv, y) : _mm_unpackhi_epi8(y, uv));
        k.Advance(32, 2);
    }
    if (groups) {
        int32_t u, v;
        std::memcpy(&u, k.chroma2, 4);
        std::memcpy(&v, k.chroma1, 4);
        const __m128i uv = _mm_unpacklo_epi8(_mm_cvtsi32_si128(u), _mm_cvtsi32_si128(v));
        const __m128i y = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k.luma));
        const __m128i out = kUyvy ? _mm_unpacklo_epi8(uv, y) : _mm_unpacklo_epi8(y, uv);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(k.destination), out);
        k.Advance(16);
    }
    k.Store(c);
}

}  // namespace

void InstallSse2PackedKernels(PackedKernels& p) {
    p.rgb32 = &Rgb32Groups<false>;
    p.rgb32_alpha = &Rgb32Groups<true>;
    p.rgb16 = &Rgb16Groups<false, false>;
    p.rgb16_alpha = &Rgb16Groups<true, false>;
    p.palette = &Rgb16Groups<false, true>;
    p.yuy2 = &YuvGroups<false>;
    p.uyvy = &YuvGroups<true>;
    p.yuy2_rows = &GroupRows<&YuvGroups<false>>;
    p.uyvy_rows = &GroupRows<&YuvGroups<true>>;
}

}  // namespace vemo
#endif
