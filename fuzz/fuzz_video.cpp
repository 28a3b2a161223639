// Fuzzes DecodeFrameVideo: the first 6 bytes choose the picture size and the
// flags, the rest is the video part (decoded twice, so that the second frame
// predicts from the first).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vemo/container.h"
#include "vemo/video_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const uint32_t width = 1 + data[0] % 96;
    const uint32_t height = 1 + data[1] % 80;
    const uint8_t f = data[2];
    uint32_t open_flags = 0;
    if (f & 1) open_flags |= vemo::kVideoOldVersion;
    if (f & 2) open_flags |= vemo::kVideoGrayscale;
    if (f & 4) open_flags |= vemo::kVideoAlpha;
    const uint32_t header_flags = (f & 8) ? vemo::kHeaderAlpha : 0;
    const bool all_key = (f & 16) != 0;
    // The played width may be up to twice the picture width.
    const uint32_t played = width * ((f & 32) ? 2 : 1);
    const uint32_t split = static_cast<uint32_t>(data[3] | data[4] << 8);
    data += 6;
    size -= 6;

    vemo::FramePlanes* planes = vemo::CreateFramePlanes(width, height, all_key, open_flags);
    if (!planes) return 0;
    vemo::BundleBuffers bundles;
    if (!vemo::AllocateBundleBuffers(played, &bundles)) {
        vemo::FreeFramePlanes(planes);
        return 0;
    }
    const uint32_t across = vemo::BlocksAcross(width);
    std::vector<uint8_t> map(across * vemo::BlocksDown(height));
    // Exact copies, so that any read past a part is caught.
    const size_t first = size ? split % (size + 1) : 0;
    std::vector<uint8_t> a(data, data + first), b(data + first, data + size);
    vemo::DecodeFrameVideo(planes, map.data(), across, a.data(), static_cast<uint32_t>(a.size()),
                           true, bundles, open_flags, header_flags);
    vemo::DecodeFrameVideo(planes, map.data(), across, b.data(), static_cast<uint32_t>(b.size()),
                           false, bundles, open_flags, header_flags);
    for (uint8_t m : map)
        if (m > 1) __builtin_trap();
    vemo::FreeBundleBuffers(&bundles);
    vemo::FreeFramePlanes(planes);
    return 0;
}
