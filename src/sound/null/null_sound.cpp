// The null device: a headless device that plays into nothing.
#include "headless_driver.h"
#include "vemo/sound_headless.h"

namespace vemo {

namespace {

SoundDevice* OpenNullSound(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                           const SoundMovieInfo& movie, SoundDeviceInfo* info) {
    if (rate == 0 || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return nullptr;
    auto driver = std::make_unique<sound::HeadlessDriver>(rate, bits, channels, movie);
    if (driver->sizes().chunk_size == 0) return nullptr;
    return sound::HandOver(std::move(driver), info);
}

const SoundBackEnd kNullBackEnd = sound::MakeSoundBackEnd("null", 0, OpenNullSound);

}  // namespace

const SoundBackEnd* GetNullSoundOpener(void*) {
    return &kNullBackEnd;
}

}  // namespace vemo
