// Sound back ends on SDL2 (Linux): link vemo_sound_sdl.
//
// The looping-buffer back end (the default): one loop of about 0.6 s written
// in chunks of about 50 ms behind the play cursor, played by an SDL audio
// callback that reads the loop at its play cursor (an unfed loop replays old
// data). All ten operations; volume and pan are mixed in the callback.
//
// The queued back end (player switch /Z): sixteen buffers of 1/16 s queued in
// order once half a second (or the movie's whole sound) is committed; done
// buffers are tracked from what the device has consumed. Slots 0-7 only.
//
// Both open the SDL audio subsystem on first use (SDL_AUDIODRIVER selects the
// driver, e.g. "disk" or "dummy" when headless).
//
// How the levels map: the looping back end turns volume and pan into
// hundredths of a decibel (full volume 0, 16384 -> -1003, pan 0 -> left only)
// and mixes them as gains in its callback; a mono track has no sides, so only
// the volume applies to it. The device plays at the rate it was opened with.
// The queued back end computes left and right levels of 0-32767 and scales
// the samples by level / 32767, so full volume at the centre leaves them
// unchanged. Each buffer is queued with the bytes it was committed with.
#pragma once

#include "vemo/sound_driver.h"

namespace vemo {

// The argument names a device: null lets the back end open and own its own
// SDL audio subsystem; otherwise it is a const char* SDL output device name
// given by the caller. Asking for a different device while a track of this
// back end is open refuses (null). Null also when no audio device can be
// opened.
const SoundBackEnd* GetLoopingSoundOpener(void* device);

// The argument is ignored; null only when SDL audio cannot be initialised.
const SoundBackEnd* GetQueuedSoundOpener(void* argument);

}  // namespace vemo
