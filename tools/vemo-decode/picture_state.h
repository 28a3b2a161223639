// What a picture-decoding mode holds while it decodes a movie: the frame
// planes, the bundle buffers and the change map, released when it goes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vemo/container.h"
#include "vemo/video_decoder.h"

class PictureState {
  public:
    PictureState() = default;
    PictureState(const PictureState&) = delete;
    PictureState& operator=(const PictureState&) = delete;
    ~PictureState() {
        vemo::FreeBundleBuffers(&bundles);
        vemo::FreeFramePlanes(planes);
    }

    // Makes room for the movie's picture; false (with a message naming the
    // movie) when it cannot be held.
    bool Open(const vemo::MovieHeader& header, const uint32_t* index, uint32_t open_flags,
              const std::string& name) {
        planes = vemo::CreateFramePlanes(header.width, header.height,
                                         vemo::AllKeyFrames(index, header.frames), open_flags);
        if (!planes || !vemo::AllocateBundleBuffers(header.width, &bundles)) {
            std::fprintf(stderr, "vemo-decode: %s: cannot hold a %ux%u picture\n", name.c_str(),
                         header.width, header.height);
            return false;
        }
        across = vemo::BlocksAcross(header.width);
        down = vemo::BlocksDown(header.height);
        map.assign(static_cast<size_t>(across) * down + 16, 0);
        return true;
    }

    vemo::FramePlanes* planes = nullptr;
    vemo::BundleBuffers bundles;
    std::vector<uint8_t> map;
    uint32_t across = 0;
    uint32_t down = 0;
};
