// Packed-path group kernels with AVX2: sixteen 16-bit lanes (two groups of
// 8 pixels a step), the same arithmetic as the plain lane model. The kernels
// see whole steps only; an odd last group goes through padded copies of its
// samples (AnyGroups).
#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include "packed_cursor.h"
#include "pixels_internal.h"

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

// Loads in the order [0-3, 8-11 | 4-7, 12-15], for which the in-lane
// interleave of the 32-bit kernel yields pixels 0-7 and 8-15 in order.
inline __m256i Load16Split(const uint8_t* p) {
    const __m128i order = _mm_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14, 15);
    return _mm256_cvtepu8_epi16(
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), order));
}
inline __m256i LoadChroma8Split(const uint8_t* p) {
    const __m128i order = _mm_setr_epi8(0, 0, 1, 1, 4, 4, 5, 5, 2, 2, 3, 3, 6, 6, 7, 7);
    return _mm256_cvtepu8_epi16(
        _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), order));
}

struct Lanes {
    __m256i r, g, b;
};

template <bool kSplit = false>
inline Lanes Convert16(const Cursor& k, __m256i br, __m256i bg, __m256i bb) {
    const __m256i y16 = kSplit ? Load16Split(k.luma) : Load16(k.luma);
    const __m256i cr16 = kSplit ? LoadChroma8Split(k.chroma1) : LoadChroma8(k.chroma1);
    const __m256i cb16 = kSplit ? LoadChroma8Split(k.chroma2) : LoadChroma8(k.chroma2);
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

template <bool kWithAlpha>
void Rgb32Steps(ConversionContext& c, uint32_t steps) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    const __m256i br = Bias(s, kRed, row), bg = Bias(s, kGreen, row), bb = Bias(s, kBlue, row);
    const bool red_low = s.layout.position[kRed] == 0;
    Cursor k(c);
    for (; steps; --steps) {
        const Lanes l = Convert16<true>(k, br, bg, bb);
        const __m256i r8 = _mm256_srli_epi16(l.r, 4);
        const __m256i g8 = _mm256_srli_epi16(l.g, 4);
        const __m256i b8 = _mm256_srli_epi16(l.b, 4);
        const __m256i top =
            kWithAlpha ? _mm256_slli_epi16(Load16Split(k.alpha), 8) : _mm256_setzero_si256();
        const __m256i low = _mm256_or_si256(red_low ? r8 : b8, _mm256_slli_epi16(g8, 8));
        const __m256i high = _mm256_or_si256(red_low ? b8 : r8, top);
        auto* d = reinterpret_cast<__m256i*>(k.destination);
        _mm256_storeu_si256(d, _mm256_unpacklo_epi16(low, high));      // pixels 0-7
        _mm256_storeu_si256(d + 1, _mm256_unpackhi_epi16(low, high));  // pixels 8-15
        k.Advance(64);
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

// Any number of 8-pixel groups through a kernel of 16-pixel steps: the whole
// steps in place, an odd last group as one step over padded copies of its
// samples, of which the first half of the output is kept.
template <GroupKernel kSteps, uint32_t kBytesPerPixel>
void AnyGroups(ConversionContext& c, uint32_t groups) {
    if (groups >= 2) kSteps(c, groups / 2);
    if (!(groups & 1)) return;
    alignas(32) uint8_t luma[16]{}, alpha[16]{}, chroma1[8]{}, chroma2[8]{};
    alignas(32) uint8_t out[16 * kBytesPerPixel];
    std::memcpy(luma, c.luma, 8);
    if (c.alpha) std::memcpy(alpha, c.alpha, 8);
    std::memcpy(chroma1, c.chroma1, 4);
    std::memcpy(chroma2, c.chroma2, 4);
    ConversionContext padded = c;
    padded.destination = out;
    padded.luma = luma, padded.alpha = alpha;
    padded.chroma1 = chroma1, padded.chroma2 = chroma2;
    kSteps(padded, 1);
    std::memcpy(c.destination, out, 8 * kBytesPerPixel);
    c.destination += 8 * kBytesPerPixel;
    c.luma += 8;
    if (c.alpha) c.alpha += 8;
    c.chroma1 += 4, c.chroma2 += 4;
}

}  // namespace

void InstallAvx2PackedKernels(PackedKernels& p) {
    // YUY2 and UYVY are bound by memory: they keep the SSE2 kernels.
    p.rgb32 = &AnyGroups<&Rgb32Steps<false>, 4>;
    p.rgb32_alpha = &AnyGroups<&Rgb32Steps<true>, 4>;
    p.rgb16 = &AnyGroups<&Rgb16Steps<false, false>, 2>;
    p.rgb16_alpha = &AnyGroups<&Rgb16Steps<true, false>, 2>;
    p.palette = &AnyGroups<&Rgb16Steps<false, true>, 1>;
}

}  // namespace vemo
#endif
