// SSE2 kernels of the video decoder (placeholder until written).
#include "video/video_internal.h"

namespace vemo::video {

const VideoKernels* Sse2Kernels() {
    return nullptr;
}

}  // namespace vemo::video
