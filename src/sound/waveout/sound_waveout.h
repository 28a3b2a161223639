// The waveOut back end (Windows): link vemo_sound_waveout.
//
// Sixteen buffers of about 1/16 s, prepared once when the device opens and
// queued with waveOutWrite: all at once, in order from 0, once half a second
// of sound (or the movie's whole sound) has been committed, then one by one.
// The device is opened without a callback; played buffers are found by their
// WHDR_DONE flag. When all sixteen are done the device has run dry and waits
// for a new start threshold. Volume and pan become the left and right words
// of waveOutSetVolume. Slots 0-7 only.
#pragma once

#include "vemo/sound_driver.h"

namespace vemo {

// The argument is ignored; never null.
const SoundBackEnd* GetWaveOutOpener(void* argument);

}  // namespace vemo
