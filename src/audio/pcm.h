// Float to 16-bit PCM: scale, round half to even, clamp, interleave.
#pragma once

#include <cstdint>

namespace vemo::audio {

// out[i] = clamp(round_half_even(in[i] * scale)), i < count.
void ConvertMonoPlain(const float* in, uint32_t count, float scale, int16_t* out);
// out[2i] from left[i], out[2i + 1] from right[i], i < count.
void ConvertStereoPlain(const float* left, const float* right, uint32_t count, float scale,
                        int16_t* out);

// The same through SSE2 where the processor has it (count a multiple of 8);
// results equal the plain versions.
bool PcmSimdAvailable();
void ConvertMonoSimd(const float* in, uint32_t count, float scale, int16_t* out);
void ConvertStereoSimd(const float* left, const float* right, uint32_t count, float scale,
                       int16_t* out);

// The fastest available one.
void ConvertMono(const float* in, uint32_t count, float scale, int16_t* out);
void ConvertStereo(const float* left, const float* right, uint32_t count, float scale,
                   int16_t* out);

// One value as the plain version converts it.
int16_t ConvertSample(float value, float scale);

}  // namespace vemo::audio
