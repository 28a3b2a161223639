// The player's own DIB-section display system: style 2 only, for as long as
// the library has no Windows display system of its own.
#pragma once

#include "vemo/display_device.h"

namespace vemo::player {

DisplaySystem* GetGdiDisplaySystem();

}  // namespace vemo::player
