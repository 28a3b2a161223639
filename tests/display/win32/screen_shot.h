// Screen shots for the checks: the program asks, a helper outside wine
// (run_display_check.sh) takes the X screen with xwd, the program reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vemo::check {

struct ScreenShot {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, rows top-down
    uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFFFF;
        return rgb[static_cast<size_t>(y) * width + x];
    }
};

// Parses an X window dump of a true-colour screen; false with a reason.
bool ParseWindowDump(const std::vector<uint8_t>& bytes, ScreenShot* shot, std::string* error);

// Writes dir/NAME.req and waits (up to timeout_ms) for dir/NAME.xwd.
bool TakeScreenShot(const std::string& dir, const std::string& name, int timeout_ms,
                    ScreenShot* shot, std::string* error);

}  // namespace vemo::check
