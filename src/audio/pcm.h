// Float to 16-bit PCM: scale, round half to even, clamp, interleave.
#pragma once

#include <cstdint>

namespace vemo::audio {

// out[i] = clamp(round_half_even(in[i] * scale)), i < count; a value that is
// not a number gives -32768.
void ConvertMonoPlain(const float* in, uint32_t count, float scale, int16_t* out);
// out[2i] from left[i], out[2i + 1] from right[i], i < count.
void ConvertStereoPlain(const float* left, const float* right, uint32_t count, float scale,
                        int16_t* out);

// The PCM kernel table: kernels over whole groups of kPcmGroup values per
// channel, the plain ones first, overwritten by the SSE2 ones when CpuFlags()
// has SSE2 and by the AVX2 ones when it has AVX2 (rebuilt after SetCpuMask). Every entry gives the
// plain results.
constexpr uint32_t kPcmGroup = 8;
struct PcmKernels {
    void (*mono)(const float* in, uint32_t groups, float scale, int16_t* out) = nullptr;
    void (*stereo)(const float* left, const float* right, uint32_t groups, float scale,
                   int16_t* out) = nullptr;
};
void FillPcmKernels(PcmKernels& table, uint32_t flags);
const PcmKernels& ActivePcmKernels();
// The SSE2 rung (pcm_sse2.cpp): null when not built or not in CpuFlags().
const PcmKernels* Sse2PcmKernels();
// The AVX2 rung (pcm_avx2.cpp), likewise.
const PcmKernels* Avx2PcmKernels();

// Any count: the whole groups through the table, the rest through the plain
// kernel.
void ConvertMono(const float* in, uint32_t count, float scale, int16_t* out);
void ConvertStereo(const float* left, const float* right, uint32_t count, float scale,
                   int16_t* out);

// One value as the plain version converts it.
int16_t ConvertSample(float value, float scale);

}  // namespace vemo::audio
