// Moving a playing movie to another frame.
#pragma once

#include <cstdint>

#include "vemo/movie.h"

namespace vemo {

// Moves to `frame` (1-based, brought into 1 .. frames). The pictures from the
// key frame at or before it up to the frame before it are decoded silently
// (nothing is shown, no sound is decoded), so no inter frame is ever decoded
// against a wrong reference; the next DecodeFrame decodes `frame` itself with
// its sound and marks the whole picture as changed. The sound is switched off
// and on, its rings primed with the lead the sound runs ahead by, and the
// clock restarts at the new frame, so picture and sound resume together.
// With direction > 0 a frame before the current one, and with direction < 0
// one after it, is not gone to. Returns the frame now current (0 for no
// movie); a read error on the way ends the movie (done).
uint32_t SeekMovie(Movie* movie, uint32_t frame, int direction);

}  // namespace vemo
