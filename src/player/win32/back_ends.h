// The display and sound back ends the Windows player plays through.
#pragma once

#include "vemo/display_device.h"

namespace vemo::player {

// The display system for the player's window.
DisplaySystem* PlayerDisplaySystem();

// Registers the sound back end with the library: the
// waveOut back end with /Z, else DirectSound. VEMO_SOUND_FILE names a WAV file that receives
// the played sound instead of a sound device (for tests).
void UseSoundBackEnd(bool wave_out);

}  // namespace vemo::player
