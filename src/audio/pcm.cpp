#include "pcm.h"

#include <cmath>

#include "vemo/cpu.h"

namespace vemo::audio {

int16_t ConvertSample(float value, float scale) {
    const float y = value * scale;
    if (y >= 32767.0f) return 32767;
    if (!(y > -32768.0f)) return -32768;  // also a value that is not a number
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

namespace {

void PlainMonoGroups(const float* in, uint32_t groups, float scale, int16_t* out) {
    ConvertMonoPlain(in, groups * kPcmGroup, scale, out);
}

void PlainStereoGroups(const float* left, const float* right, uint32_t groups, float scale,
                       int16_t* out) {
    ConvertStereoPlain(left, right, groups * kPcmGroup, scale, out);
}

CpuKernelTable<PcmKernels, FillPcmKernels> g_kernels;

}  // namespace

void FillPcmKernels(PcmKernels& table, uint32_t flags) {
    table = {&PlainMonoGroups, &PlainStereoGroups};
    if (!(flags & kCpuSse2)) return;
    if (const PcmKernels* sse2 = Sse2PcmKernels()) table = *sse2;
    if (!(flags & kCpuAvx2)) return;
    if (const PcmKernels* avx2 = Avx2PcmKernels()) table = *avx2;
}

const PcmKernels& ActivePcmKernels() {
    return g_kernels.Get();
}

void ConvertMono(const float* in, uint32_t count, float scale, int16_t* out) {
    const uint32_t groups = count / kPcmGroup, done = groups * kPcmGroup;
    if (groups) ActivePcmKernels().mono(in, groups, scale, out);
    ConvertMonoPlain(in + done, count - done, scale, out + done);
}

void ConvertStereo(const float* left, const float* right, uint32_t count, float scale,
                   int16_t* out) {
    const uint32_t groups = count / kPcmGroup, done = groups * kPcmGroup;
    if (groups) ActivePcmKernels().stereo(left, right, groups, scale, out);
    ConvertStereoPlain(left + done, right + done, count - done, scale, out + 2 * done);
}

}  // namespace vemo::audio
