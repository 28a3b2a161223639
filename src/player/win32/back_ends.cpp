#include "back_ends.h"

#include <cstdlib>

#include "gdi_display.h"
#include "vemo/movie.h"
#include "vemo/sound_headless.h"

namespace vemo::player {

DisplaySystem* PlayerDisplaySystem() {
    return GetGdiDisplaySystem();
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
