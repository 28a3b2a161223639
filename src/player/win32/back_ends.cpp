#include "back_ends.h"

#include <cstdlib>

#include "vemo/display_win32.h"
#include "vemo/movie.h"
#include "vemo/sound_headless.h"

namespace vemo::player {

DisplaySystem* PlayerDisplaySystem() {
    return GetWin32DisplaySystem();
}

void UseSoundBackEnd(bool) {
    static const char* file = std::getenv("VEMO_SOUND_FILE");
    if (file && *file) {
        SetSoundSystem(GetFileSoundOpener, const_cast<char*>(file));
        return;
    }
    SetSoundSystem(GetNullSoundOpener, nullptr);
}

}  // namespace vemo::player
