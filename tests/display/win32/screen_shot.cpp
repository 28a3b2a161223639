// Reading X window dumps: a header of big-endian 32-bit words, the window
// name, the colour map, then the pixel rows.
#include "screen_shot.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

namespace vemo::check {
namespace {

uint32_t BigEndianWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

uint32_t ToEightBits(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const uint32_t max = mask >> shift;
    return ((pixel & mask) >> shift) * 255 / max;
}

bool ReadFile(const std::string& name, std::vector<uint8_t>* bytes) {
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    std::fclose(f);
    return true;
}

}  // namespace

bool ParseWindowDump(const std::vector<uint8_t>& bytes, ScreenShot* shot, std::string* error) {
    constexpr size_t kHeaderWords = 25;
    if (bytes.size() < kHeaderWords * 4) {
        *error = "dump too short";
        return false;
    }
    uint32_t h[kHeaderWords];
    for (size_t i = 0; i < kHeaderWords; ++i) h[i] = BigEndianWord(&bytes[i * 4]);
    const uint32_t header_size = h[0], format = h[2], width = h[4], height = h[5];
    const uint32_t byte_order = h[7], bits = h[11], row_bytes = h[12];
    const uint32_t red = h[14], green = h[15], blue = h[16], colours = h[19];
    if (format != 2 || (bits != 32 && bits != 24) || width == 0 || height == 0 || width > 16384 ||
        height > 16384) {
        *error = "not a true-colour screen dump";
        return false;
    }
    const uint64_t start = static_cast<uint64_t>(header_size) + 12ull * colours;
    if (row_bytes < width * (bits / 8) ||
        start + static_cast<uint64_t>(row_bytes) * height > bytes.size()) {
        *error = "dump shorter than its header says";
        return false;
    }
    shot->width = static_cast<int>(width);
    shot->height = static_cast<int>(height);
    shot->rgb.assign(static_cast<size_t>(width) * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = &bytes[start + static_cast<uint64_t>(y) * row_bytes];
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + x * (bits / 8);
            uint32_t v = 0;
            for (uint32_t b = 0; b < bits / 8; ++b) {
                const uint32_t byte = byte_order == 0 ? p[b] : p[bits / 8 - 1 - b];
                v |= byte << (8 * b);
            }
            shot->rgb[static_cast<size_t>(y) * width + x] =
                ToEightBits(v, red) << 16 | ToEightBits(v, green) << 8 | ToEightBits(v, blue);
        }
    }
    return true;
}

bool TakeScreenShot(const std::string& dir, const std::string& name, int timeout_ms,
                    ScreenShot* shot, std::string* error) {
    const std::string dump = dir + "/" + name + ".xwd";
    std::remove(dump.c_str());
    FILE* request = std::fopen((dir + "/" + name + ".req").c_str(), "wb");
    if (!request) {
        *error = "cannot write the shot request in " + dir;
        return false;
    }
    std::fclose(request);
    std::vector<uint8_t> bytes;
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (ReadFile(dump, &bytes)) return ParseWindowDump(bytes, shot, error);
        Sleep(20);
    }
    *error = "no screen shot came (is the capture helper running?)";
    return false;
}

}  // namespace vemo::check
