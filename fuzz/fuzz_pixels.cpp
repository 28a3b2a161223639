// Random copy requests over random planes: conversion must stay inside the
// destination it was given and inside the planes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vemo/pixel_convert.h"

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    uint32_t Take(uint32_t bound) {
        uint32_t v = 0;
        for (int i = 0; i < 4 && size; ++i, ++data, --size) v = v << 8 | *data;
        return bound ? v % bound : v;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    const uint32_t width = 1 + r.Take(80), height = 1 + r.Take(40);
    vemo::FramePlanes planes{};
    planes.buffer_count = 1;
    planes.luma_width = vemo::RoundUp8(width);
    planes.luma_height = vemo::RoundUp8(height);
    planes.chroma_width = vemo::RoundUp8((width + 1) / 2);
    planes.chroma_height = vemo::RoundUp8((height + 1) / 2);
    std::vector<uint8_t> y(size_t{planes.luma_width} * planes.luma_height);
    std::vector<uint8_t> c1(size_t{planes.chroma_width} * planes.chroma_height), c2(c1.size());
    std::vector<uint8_t> a(y.size());
    for (auto* v : {&y, &c1, &c2, &a})
        for (size_t i = 0; i < v->size(); ++i) (*v)[i] = static_cast<uint8_t>(i * 37 + r.Take(0));
    planes.buffer[0][vemo::kPlaneY] = {1, y.data(), planes.luma_width};
    planes.buffer[0][vemo::kPlaneCr] = {1, c1.data(), planes.chroma_width};
    planes.buffer[0][vemo::kPlaneCb] = {1, c2.data(), planes.chroma_width};
    if (r.Take(2)) planes.buffer[0][vemo::kPlaneAlpha] = {1, a.data(), planes.luma_width};
    std::vector<uint8_t> map(size_t{(width + 15) / 16} * ((height + 15) / 16));
    for (auto& b : map) b = static_cast<uint8_t>(r.Take(2));

    vemo::FrameSource source;
    source.planes = &planes;
    source.coded_width = width;
    source.coded_height = height;
    source.movie_width = r.Take(200);
    source.movie_height = r.Take(100);
    source.change_map = map.data();
    source.change_map_stride = (width + 15) / 16;
    source.unchanged_areas = r.Take(10);
    source.full_copy_threshold = r.Take(10);
    vemo::CopyRequest request;
    request.flags = r.Take(0);
    const uint32_t format = request.flags & vemo::kCopyFormatMask;
    const uint32_t rows = r.Take(120);
    int32_t pitch = static_cast<int32_t>(r.Take(700)) - (format == vemo::kSurfaceYv12 ? 0 : 300);
    const size_t abs_pitch = static_cast<size_t>(pitch < 0 ? -pitch : pitch);
    const size_t bytes = format == vemo::kSurfaceYv12 && pitch > 0
                             ? vemo::SurfaceBufferSize(format, static_cast<uint32_t>(pitch), rows)
                             : abs_pitch * rows;
    std::vector<uint8_t> destination(bytes ? bytes : 1);
    request.destination = destination.data();
    request.pitch = pitch;
    request.destination_height = rows;
    request.destination_x = r.Take(300);
    request.destination_y = r.Take(300);
    request.source_left = r.Take(300);
    request.source_top = r.Take(300);
    request.source_width = r.Take(300);
    request.source_height = r.Take(300);
    vemo::ConverterState state;
    state.set_path(r.Take(2) ? vemo::PixelPath::kTable : vemo::PixelPath::kPacked);
    vemo::ConvertFrame(state, source, request);
    return 0;
}
