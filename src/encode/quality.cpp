// Picture quality measures for the encoder's reports.
#include <algorithm>
#include <cmath>

#include "vemo/encoder.h"

namespace vemo {

double PlanePsnr(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride,
                 uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return kPerfectPsnr;
    uint64_t se = 0;
    for (uint32_t y = 0; y < height; ++y, a += a_stride, b += b_stride)
        for (uint32_t x = 0; x < width; ++x) {
            const int d = a[x] - b[x];
            se += static_cast<uint64_t>(d * d);
        }
    if (se == 0) return kPerfectPsnr;
    const double mse = static_cast<double>(se) / (static_cast<double>(width) * height);
    return std::min(kPerfectPsnr, 10 * std::log10(255.0 * 255.0 / mse));
}

}  // namespace vemo
