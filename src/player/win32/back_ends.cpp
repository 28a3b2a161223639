#include "back_ends.h"

#include <cstdlib>

#include "sound_dsound.h"
#include "sound_waveout.h"
#include "vemo/display_win32.h"
#include "vemo/movie.h"
#include "vemo/sound_headless.h"

namespace vemo::player {

DisplaySystem* PlayerDisplaySystem() {
    return GetWin32DisplaySystem();
}

void UseSoundBackEnd(bool wave_out) {
    static const char* file = std::getenv("VEMO_SOUND_FILE");
    if (file && *file) {
        SetSoundSystem(GetFileSoundOpener, const_cast<char*>(file));
        return;
    }
    SetSoundSystem(wave_out ? GetWaveOutOpener : GetDirectSoundOpener, nullptr);
}

}  // namespace vemo::player
