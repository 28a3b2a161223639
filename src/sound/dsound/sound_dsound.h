// The DirectSound back end (Windows): link vemo_sound_dsound.
//
// One looping secondary buffer of about 0.6 s per track, written in chunks
// of about 50 ms behind the play cursor, with the looping rules' cursor
// readings, stall limit, running-dry rule, silence fill and start threshold.
// "DSOUND.DLL" is loaded at run time, so a program using this back end still
// runs (with waveOut) where it is missing. All ten operations.
#pragma once

#include "vemo/sound_driver.h"

namespace vemo {

// The argument is an IDirectSound object of the caller's, or null to let the
// back end create and own its device. Asking for another device while a
// track of this back end is open refuses (null); null also when the library
// or its entry point is missing or the device cannot be started.
const SoundBackEnd* GetDirectSoundOpener(void* device);

}  // namespace vemo
