#include "pcm.h"

#include <cmath>

namespace vemo::audio {

int16_t ConvertSample(float value, float scale) {
    const float y = value * scale;
    if (y >= 32767.0f) return 32767;
    if (y <= -32768.0f) return -32768;
    // The default rounding mode rounds halves to even.
    return static_cast<int16_t>(std::lrint(y));
}

void ConvertMonoPlain(const float* in, uint32_t count, float scale, int16_t* out) {
    for (uint32_t i = 0; i < count; ++i) out[i] = ConvertSample(in[i], scale);
}

void ConvertStereoPlain(const float* left, const float* right, uint32_t count, float scale,
                        int16_t* out) {
    for (uint32_t i = 0; i < count; ++i) {
        out[2 * i] = ConvertSample(left[i], scale);
        out[2 * i + 1] = ConvertSample(right[i], scale);
    }
}

void ConvertMono(const float* in, uint32_t count, float scale, int16_t* out) {
    static const bool simd = PcmSimdAvailable();
    if (simd && count % 8 == 0)
        ConvertMonoSimd(in, count, scale, out);
    else
        ConvertMonoPlain(in, count, scale, out);
}

void ConvertStereo(const float* left, const float* right, uint32_t count, float scale,
                   int16_t* out) {
    static const bool simd = PcmSimdAvailable();
    if (simd && count % 8 == 0)
        ConvertStereoSimd(left, right, count, scale, out);
    else
        ConvertStereoPlain(left, right, count, scale, out);
}

}  // namespace vemo::audio
