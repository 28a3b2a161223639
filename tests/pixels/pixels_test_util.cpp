#include "pixels_test_util.h"

#include <cctype>

#include "test_util.h"

namespace vemo::test {

namespace {

size_t SkipValue(const std::string& t, size_t i, std::string* value) {
    if (t[i] == '"') {
        const size_t end = t.find('"', i + 1);
        *value = t.substr(i + 1, end - i - 1);
        return end + 1;
    }
    if (t[i] == '[' || t[i] == '{') {
        int depth = 0;
        for (; i < t.size(); ++i) {
            if (t[i] == '[' || t[i] == '{') ++depth;
            if (t[i] == ']' || t[i] == '}') {
                if (--depth == 0) return i + 1;
            }
        }
        return i;
    }
    size_t end = i;
    while (end < t.size() && t[end] != ',' && t[end] != '}' && !std::isspace(t[end])) ++end;
    *value = t.substr(i, end - i);
    return end;
}

}  // namespace

JsonObject ParseFlatObject(const std::string& t) {
    JsonObject o;
    size_t i = t.find('{');
    if (i == std::string::npos) return o;
    ++i;
    while (i < t.size()) {
        const size_t q = t.find('"', i);
        if (q == std::string::npos) break;
        const size_t qe = t.find('"', q + 1);
        const std::string key = t.substr(q + 1, qe - q - 1);
        size_t v = t.find(':', qe) + 1;
        while (std::isspace(static_cast<unsigned char>(t[v]))) ++v;
        std::string value;
        i = SkipValue(t, v, &value);
        o[key] = value;
        while (i < t.size() && t[i] != ',' && t[i] != '}') ++i;
        if (i >= t.size() || t[i] == '}') break;
        ++i;
    }
    return o;
}

std::vector<JsonObject> ParseObjectArray(const std::string& t) {
    std::vector<JsonObject> out;
    size_t i = 0;
    while ((i = t.find('{', i)) != std::string::npos) {
        const size_t end = t.find('}', i);
        out.push_back(ParseFlatObject(t.substr(i, end - i + 1)));
        i = end + 1;
    }
    return out;
}

void OwnedPlanes::Init(uint32_t width, uint32_t height, bool with_chroma, bool with_alpha) {
    planes = FramePlanes{};
    planes.buffer_count = 1;
    planes.luma_width = RoundUp8(width);
    planes.luma_height = RoundUp8(height);
    planes.chroma_width = RoundUp8((width + 1) / 2);
    planes.chroma_height = RoundUp8((height + 1) / 2);
    y.assign(size_t{planes.luma_width} * planes.luma_height, 0);
    planes.buffer[0][kPlaneY] = {1, y.data(), planes.luma_width};
    if (with_chroma) {
        cr.assign(size_t{planes.chroma_width} * planes.chroma_height, 0);
        cb.assign(cr.size(), 0);
        planes.buffer[0][kPlaneCr] = {1, cr.data(), planes.chroma_width};
        planes.buffer[0][kPlaneCb] = {1, cb.data(), planes.chroma_width};
    }
    if (with_alpha) {
        alpha.assign(y.size(), 0);
        planes.buffer[0][kPlaneAlpha] = {1, alpha.data(), planes.luma_width};
    }
}

uint32_t ConformanceMovie::OpenFlags() const {
    uint32_t open = (flags & 0x20000u) | (flags & 0x70000000u);
    if (version == 'f' || version == 'g') open |= 0x8000u | 0x10000u;
    if (version == 'h') open |= 0x8000u;
    return open;
}

bool LoadConformanceMovie(const std::string& name, ConformanceMovie* movie) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(ConformanceDir() + "/" + name + ".json", &bytes)) return false;
    const JsonObject o = ParseFlatObject(std::string(bytes.begin(), bytes.end()));
    movie->name = name;
    movie->version = o.at("version")[0];
    movie->width = static_cast<uint32_t>(std::stoul(o.at("width")));
    movie->height = static_cast<uint32_t>(std::stoul(o.at("height")));
    movie->frames = static_cast<uint32_t>(std::stoul(o.at("frames")));
    movie->flags = static_cast<uint32_t>(std::stoul(o.at("flags")));
    return true;
}

bool LoadConformanceFrame(const ConformanceMovie& m, uint32_t frame, OwnedPlanes* p) {
    const bool grey = (m.flags & 0x20000u) != 0;
    const bool alpha = (m.flags & 0x100000u) != 0;
    p->Init(m.width, m.height, !grey, alpha);
    const size_t frame_bytes = p->y.size() + p->cr.size() + p->cb.size() + p->alpha.size();
    // The planes of the last movie read stay loaded: entries come by movie.
    static std::string loaded_name;
    static std::vector<uint8_t> all;
    if (loaded_name != m.name) {
        loaded_name.clear();
        if (!ReadWholeFile(ConformanceDir() + "/" + m.name + ".planes", &all)) return false;
        loaded_name = m.name;
    }
    if (frame == 0 || all.size() < frame_bytes * frame) return false;
    const uint8_t* at = all.data() + frame_bytes * (frame - 1);
    for (std::vector<uint8_t>* v : {&p->y, &p->cr, &p->cb, &p->alpha}) {
        std::copy(at, at + v->size(), v->begin());
        at += v->size();
    }
    return true;
}

std::vector<uint8_t> ConvertWhole(ConverterState& state, const FramePlanes& planes, uint32_t width,
                                  uint32_t height, uint32_t flags) {
    const uint32_t format = flags & kCopyFormatMask;
    const uint32_t mode = (flags & kCopyScaleMask) >> kCopyScaleShift;
    const bool wide = mode == 3 || mode == 4 || mode == 5;
    const bool tall = mode == 1 || mode == 2 || mode == 4 || mode == 5;
    const uint32_t scaled_width = wide ? 2 * width : width;
    const uint32_t rows = tall ? 2 * height : height;
    // YV12: the width rounded up to even, then doubled in the wide modes.
    const uint32_t pitch = format == kSurfaceYv12 ? ((width + 1) & ~1u) * (wide ? 2 : 1)
                                                  : scaled_width * SurfaceBytesPerPixel(format);
    std::vector<uint8_t> out(SurfaceBufferSize(format, pitch, rows), 0);
    FrameSource source;
    source.planes = &planes;
    source.movie_width = source.coded_width = width;
    source.movie_height = source.coded_height = height;
    CopyRequest request;
    request.destination = out.data();
    request.pitch = static_cast<int32_t>(pitch);
    request.destination_height = rows;
    request.source_width = width;
    request.source_height = height;
    request.flags = flags | kCopyAll;
    ConvertFrame(state, source, request);
    return out;
}

}  // namespace vemo::test
