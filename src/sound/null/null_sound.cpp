// The null device: a headless device that plays into nothing.
#include "headless_driver.h"
#include "vemo/sound_headless.h"

namespace vemo {

namespace {

std::unique_ptr<SoundDriver> OpenNullSound(uint32_t rate, uint32_t bits, uint32_t channels,
                                           uint32_t, const SoundMovieInfo& movie) {
    if (rate == 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return nullptr;
    auto driver = std::make_unique<sound::HeadlessDriver>(rate, bits, channels, movie);
    if (driver->sizes().chunk_size == 0) return nullptr;
    return driver;
}

}  // namespace

SoundOpener GetNullSoundOpener(void*) {
    return OpenNullSound;
}

}  // namespace vemo
