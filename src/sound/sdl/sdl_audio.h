// What both SDL sound back ends share: the audio subsystem's lifetime and
// opening an output device in a track's own format.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>

namespace vemo::sound::sdl {

// Starts (counted) and stops the SDL audio subsystem; false when it cannot
// start.
bool StartAudio();
void StopAudio();

// Opens an output device (name null: the default) for 8-bit unsigned or
// 16-bit signed little-endian samples at rate and channels; SDL converts to
// whatever the hardware takes. The device starts paused. 0 on failure.
SDL_AudioDeviceID OpenOutput(const char* name, uint32_t rate, uint32_t bits, uint32_t channels,
                             SDL_AudioCallback callback, void* user, uint32_t* callback_bytes);

}  // namespace vemo::sound::sdl
