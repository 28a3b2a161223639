// Moving a playing movie to another frame.
#pragma once

#include <cstdint>

#include "vemo/movie.h"

namespace vemo {

// Moves to a key frame near `frame` (1-based): the nearest key frame at or
// before it, or, with direction > 0, the first key frame after the current
// frame when there is none between. The picture is decoded from that key
// frame, so no inter frame is ever decoded against a wrong reference. Sound
// is switched off for the move and back on after it; the clock restarts at
// the new frame. Returns the frame now current (0 for no movie).
uint32_t SeekMovie(Movie* movie, uint32_t frame, int direction);

}  // namespace vemo
