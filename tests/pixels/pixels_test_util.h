// Helpers of the pixel tests: conformance planes as FramePlanes, small
// metadata reads, and synthetic planes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vemo/frame_planes.h"
#include "vemo/pixel_convert.h"

namespace vemo::test {

// One flat JSON object: every "key": value pair, values as text (strings
// without their quotes).
using JsonObject = std::map<std::string, std::string>;
// The top-level scalar members of an object (nested arrays are skipped).
JsonObject ParseFlatObject(const std::string& text);
// The objects of a JSON array of flat objects.
std::vector<JsonObject> ParseObjectArray(const std::string& text);

// Planes owning their samples.
struct OwnedPlanes {
    FramePlanes planes{};
    std::vector<uint8_t> y, cr, cb, alpha;
    void Init(uint32_t width, uint32_t height, bool with_chroma, bool with_alpha);
};

struct ConformanceMovie {
    std::string name;
    char version = 0;
    uint32_t width = 0, height = 0, frames = 0, flags = 0;
    uint32_t OpenFlags() const;  // the copy-relevant open flags
};
bool LoadConformanceMovie(const std::string& name, ConformanceMovie* movie);
// Frame n (1-based) of NAME.planes into planes (sized by Init).
bool LoadConformanceFrame(const ConformanceMovie& movie, uint32_t frame, OwnedPlanes* planes);

// Converts with CopyAll into a zero-filled destination laid out as the
// conformance files are; returns its bytes.
std::vector<uint8_t> ConvertWhole(ConverterState& state, const FramePlanes& planes, uint32_t width,
                                  uint32_t height, uint32_t flags);

}  // namespace vemo::test
