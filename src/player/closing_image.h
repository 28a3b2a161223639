// The picture shown for a moment when playback ends: a one-frame movie of
// 224x252 at 10 frames per second, without sound, held in the program.
#pragma once

#include <cstdint>
#include <vector>

namespace vemo::player {

// The movie's bytes (empty when the program was built without it).
std::vector<uint8_t> ClosingImageMovie();

}  // namespace vemo::player
