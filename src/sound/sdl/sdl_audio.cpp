#include "sdl_audio.h"

namespace vemo::sound::sdl {

bool StartAudio() {
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

void StopAudio() {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

SDL_AudioDeviceID OpenOutput(const char* name, uint32_t rate, uint32_t bits, uint32_t channels,
                             SDL_AudioCallback callback, void* user, uint32_t* callback_bytes) {
    if (rate == 0 || rate > 0x7FFFFFFF || (bits != 8 && bits != 16) ||
        (channels != 1 && channels != 2))
        return 0;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = static_cast<int>(rate);
    want.format = bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(channels);
    // About 10 ms per callback: small enough that the cursors move smoothly.
    Uint16 samples = 256;
    while (samples < 4096 && samples < rate / 100) samples = static_cast<Uint16>(samples * 2);
    want.samples = samples;
    want.callback = callback;
    want.userdata = user;
    SDL_AudioSpec have;
    SDL_zero(have);
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (device != 0 && callback_bytes != nullptr) *callback_bytes = have.size;
    return device;
}

}  // namespace vemo::sound::sdl
