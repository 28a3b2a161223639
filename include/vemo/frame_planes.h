// The decoded picture: one or two buffers of Y, Cr, Cb and alpha planes.
#pragma once

#include <cstdint>

namespace vemo {

struct PlaneDescriptor {
    uint32_t wanted;   // 1 when the plane exists in this buffer
    uint8_t* samples;  // null when not allocated
    uint32_t stride;   // bytes per row (the plane's width)
};

enum PlaneIndex { kPlaneY = 0, kPlaneCr = 1, kPlaneCb = 2, kPlaneAlpha = 3 };

struct FramePlanes {
    uint32_t buffer_count;   // 1 or 2
    uint32_t luma_width;     // movie width rounded up to a multiple of 8
    uint32_t luma_height;    // movie height rounded up to a multiple of 8
    uint32_t chroma_width;   // (movie width + 1) / 2 rounded up to a multiple of 8
    uint32_t chroma_height;  // (movie height + 1) / 2 rounded up to a multiple of 8
    uint32_t current;        // buffer holding the most recently decoded frame
    PlaneDescriptor buffer[2][4];
};

inline uint32_t RoundUp8(uint32_t v) {
    return (v + 7) & ~7u;
}
inline uint32_t LumaPlaneWidth(uint32_t movie_width) {
    return RoundUp8(movie_width);
}
inline uint32_t ChromaPlaneWidth(uint32_t movie_width) {
    return RoundUp8((movie_width + 1) / 2);
}

}  // namespace vemo
