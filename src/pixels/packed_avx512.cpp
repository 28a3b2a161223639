// Packed-path group kernels with 512-bit vectors (AVX-512 byte and word
// instructions): the 32-bit member in steps of 64 pixels, with the same
// results as the plain lane model, and YUY2 and UYVY in steps of 64 pixels
// (whole rows and groups). The 16-bit and 8-bit members keep their AVX2
// kernels.
#include "pixels_internal.h"

// Windows builds keep the SSE2 kernels (their compilers do not align the
// stack for spilled wide vectors).
#if defined(__AVX512BW__) && !defined(_WIN32)
#include <immintrin.h>

#include "packed_cursor.h"
#include "yuv_step_avx2.h"

namespace vemo {

namespace {

// Each 128-bit lane of a step holds 8 pixel pairs: lane j the pairs
// 8k + 2j and 8k + 2j + 1 for k = 0..3, for which the in-lane interleaves at
// the end yield 16 pixels per lane pair in order (see the AVX2 kernel).
inline __m512i PairOrder(__m512i pair_words) {
    const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    // The masked form: the plain one trips a false uninitialised warning of
    // the compiler's own header.
    return _mm512_maskz_permutexvar_epi32(0xFFFF, order, pair_words);
}

inline __m512i LumaPairs(const uint8_t* p) {
    return PairOrder(_mm512_loadu_si512(p));
}

inline __m512i ChromaWords(const uint8_t* p) {
    return PairOrder(_mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}

inline __m512i ComponentBytes(__m512i y_even, __m512i y_odd, __m512i term) {
    return _mm512_packus_epi16(_mm512_srai_epi16(_mm512_add_epi16(y_even, term), 4),
                               _mm512_srai_epi16(_mm512_add_epi16(y_odd, term), 4));
}

// The arithmetic is the AVX2 kernel's, twice as wide: the floor folded into
// each component's chroma term, the byte pack clamping to 0..255.
template <bool kWithAlpha>
void Rgb32Steps(ConversionContext& c, uint32_t steps) {
    const ConverterStateData& s = *c.state;
    const uint32_t row = c.current_row & 1;
    __m512i bias[3];
    for (int comp = 0; comp < 3; ++comp)
        bias[comp] = _mm512_set1_epi16(
            static_cast<int16_t>(s.packed_bias[comp][row][0] - static_cast<int>(kPackedFloor)));
    const bool red_low = s.layout.position[kRed] == 0;
    const __m512i luma_gain = _mm512_set1_epi16(kPackedLumaGain);
    const __m512i chroma_gain = _mm512_set1_epi16(kPackedChromaGain);
    const __m512i even64 = _mm512_set1_epi16(64), odd64 = _mm512_set1_epi16(64 << 8);
    const __m512i five = _mm512_set1_epi16(5);
    const __m512i split = _mm512_maskz_broadcast_i32x4(
        0xFFFF, _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15));
    PackedCursor<64> k(c);
    for (; steps; --steps) {
        const __m512i r =
            _mm512_mulhi_epi16(_mm512_slli_epi16(ChromaWords(k.chroma1), 5), chroma_gain);
        const __m512i b =
            _mm512_mulhi_epi16(_mm512_slli_epi16(ChromaWords(k.chroma2), 4), chroma_gain);
        const __m512i red = _mm512_add_epi16(_mm512_add_epi16(r, r), bias[kRed]);
        const __m512i green = _mm512_sub_epi16(_mm512_sub_epi16(bias[kGreen], r), b);
        const __m512i blue = _mm512_add_epi16(_mm512_mullo_epi16(b, five), bias[kBlue]);
        const __m512i luma = LumaPairs(k.luma);
        const __m512i y_even = _mm512_mulhi_epi16(_mm512_maddubs_epi16(luma, even64), luma_gain);
        const __m512i y_odd = _mm512_mulhi_epi16(_mm512_maddubs_epi16(luma, odd64), luma_gain);
        const __m512i r8 = ComponentBytes(y_even, y_odd, red);
        const __m512i g8 = ComponentBytes(y_even, y_odd, green);
        const __m512i b8 = ComponentBytes(y_even, y_odd, blue);
        const __m512i top =
            kWithAlpha ? _mm512_shuffle_epi8(LumaPairs(k.alpha), split) : _mm512_setzero_si512();
        const __m512i first = red_low ? r8 : b8, third = red_low ? b8 : r8;
        const __m512i low_even = _mm512_unpacklo_epi8(first, g8);
        const __m512i low_odd = _mm512_unpackhi_epi8(first, g8);
        const __m512i high_even = _mm512_unpacklo_epi8(third, top);
        const __m512i high_odd = _mm512_unpackhi_epi8(third, top);
        const __m512i low0 = _mm512_unpacklo_epi16(low_even, low_odd);
        const __m512i low1 = _mm512_unpackhi_epi16(low_even, low_odd);
        const __m512i high0 = _mm512_unpacklo_epi16(high_even, high_odd);
        const __m512i high1 = _mm512_unpackhi_epi16(high_even, high_odd);
        uint8_t* d = k.destination;
        _mm512_storeu_si512(d, _mm512_unpacklo_epi16(low0, high0));        // pixels 0-15
        _mm512_storeu_si512(d + 64, _mm512_unpackhi_epi16(low0, high0));   // pixels 16-31
        _mm512_storeu_si512(d + 128, _mm512_unpacklo_epi16(low1, high1));  // pixels 32-47
        _mm512_storeu_si512(d + 192, _mm512_unpackhi_epi16(low1, high1));  // pixels 48-63
        k.Advance(256);
    }
    k.Store(c);
}

// YUY2 and UYVY: each 128-bit lane interleaves 16 pixels with their chroma
// pairs, and the lanes are regrouped into 32-byte stores in pixel order
// (whole 64-byte stores are slower here when the output misses the cache).
template <bool kUyvy>
inline void YuvStep64(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2,
                      uint8_t* destination) {
    const __m512i u =
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(chroma2)));
    const __m512i v =
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(chroma1)));
    const __m512i uv =
        _mm512_or_si512(u, _mm512_slli_epi16(v, 8));  // lane k: pixels 16k to 16k + 15
    const __m512i y = _mm512_loadu_si512(luma);
    const __m512i a = kUyvy ? _mm512_unpacklo_epi8(uv, y) : _mm512_unpacklo_epi8(y, uv);
    const __m512i b = kUyvy ? _mm512_unpackhi_epi8(uv, y) : _mm512_unpackhi_epi8(y, uv);
    const __m512i low = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
    const __m512i high = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
    const __m512i first = _mm512_permutex2var_epi64(a, low, b);    // pixels 0-31
    const __m512i second = _mm512_permutex2var_epi64(a, high, b);  // pixels 32-63
    // The masked extracts: the plain ones trip the same false warning.
    auto* d = reinterpret_cast<__m256i*>(destination);
    _mm256_storeu_si256(d, _mm512_maskz_extracti64x4_epi64(0xFF, first, 0));
    _mm256_storeu_si256(d + 1, _mm512_maskz_extracti64x4_epi64(0xFF, first, 1));
    _mm256_storeu_si256(d + 2, _mm512_maskz_extracti64x4_epi64(0xFF, second, 0));
    _mm256_storeu_si256(d + 3, _mm512_maskz_extracti64x4_epi64(0xFF, second, 1));
}

// Units of 32 pixels: pairs of them in 64-pixel steps, an odd one last.
template <bool kUyvy>
void YuvRow(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2,
            uint8_t* destination, uint32_t units) {
    for (; units >= 2; units -= 2, luma += 64, chroma1 += 32, chroma2 += 32, destination += 128)
        YuvStep64<kUyvy>(luma, chroma1, chroma2, destination);
    if (units) YuvStep<kUyvy>(luma, chroma1, chroma2, destination);
}

template <bool kUyvy>
void YuvSteps(ConversionContext& c, uint32_t units) {
    PackedCursor<32> k(c);
    YuvRow<kUyvy>(k.luma, k.chroma1, k.chroma2, k.destination, units);
    k.Advance(64 * units, units);
    k.Store(c);
}

}  // namespace

void InstallAvx512PackedKernels(PackedKernels& p) {
    p.rgb32 = &AnyGroups<&Rgb32Steps<false>, 64, 4>;
    p.rgb32_alpha = &AnyGroups<&Rgb32Steps<true>, 64, 4>;
    p.yuy2 = &AnyGroups<&YuvSteps<false>, 32, 2>;
    p.uyvy = &AnyGroups<&YuvSteps<true>, 32, 2>;
    p.yuy2_rows = &YuvRows<&YuvRow<false>, &YuvSteps<false>>;
    p.uyvy_rows = &YuvRows<&YuvRow<true>, &YuvSteps<true>>;
}

}  // namespace vemo

#elif defined(__i386__) || defined(__x86_64__)

namespace vemo {

void InstallAvx512PackedKernels(PackedKernels&) {}

}  // namespace vemo

#endif
