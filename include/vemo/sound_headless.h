// Headless sound back ends: devices without hardware that consume what they
// are given at their sample rate on the library clock (Milliseconds()), so
// the whole sound path runs and can be tested anywhere.
//
// Both hold a queue of the looping-buffer size (about 0.6 s) fed in chunks of
// about 50 ms, start "playing" once the start threshold is queued (the
// movie's whole sound when it has a frame rate, else one chunk; at most the
// queue size), raise the ran-dry report when everything queued has been
// played and then wait for the start threshold again. Pause stops the
// consumption; SetSoundOn(0) drops what is queued.
#pragma once

#include <string>

#include "vemo/sound_driver.h"

namespace vemo {

// The null device ("null"): plays into nothing. The argument is ignored; never fails.
const SoundBackEnd* GetNullSoundOpener(void* argument);

// The file device ("file"): as the null device, and writes every byte it plays into a
// 16-bit or 8-bit PCM WAV file. The argument is the file name (const char*),
// copied; null gives null. The first track opened writes to that name; while
// it is open, further tracks write to NAME.2.wav, NAME.3.wav, ... (the
// extension ".wav" is replaced when present). Bytes still queued at close
// are written too (the device plays out its queue). The WAV header is
// completed at close.
const SoundBackEnd* GetFileSoundOpener(void* file_name);

// The WAV file name of the n-th concurrently open track (n from 1) for a base
// name as above.
std::string SoundFileNameForTrack(const std::string& base, unsigned n);

}  // namespace vemo
