// Inside a back end: the device state behind the opaque SoundDevice, and the
// table of functions every back end of this folder shares. A back end derives
// its device from SoundDevice, implements the operations and builds its
// SoundBackEnd with MakeSoundBackEnd.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "vemo/sound_driver.h"

namespace vemo {

struct SoundDevice {
    SoundDevice() = default;
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;
    // Every back end closes its device from its destructor, so destroying a
    // device that was not closed releases it too.
    virtual ~SoundDevice() = default;

    virtual int SoundReady() = 0;
    virtual int GetSoundChunk(uint8_t** chunk, uint32_t* size) = 0;
    virtual int CommitSoundChunk(uint32_t n) = 0;
    virtual void SetSoundVolume(uint32_t volume) = 0;
    virtual void SetSoundPan(uint32_t pan) = 0;
    virtual int PauseSound(int pause) = 0;
    virtual int SetSoundOn(int on) = 0;
    // Stops the device and releases what it holds; calling it twice is
    // harmless.
    virtual void CloseSound() = 0;
    virtual void SetSoundOutputs(const uint32_t*, uint32_t) {}
    virtual void SetSoundOutputVolumes(const uint32_t*, const uint32_t*, uint32_t) {}
    // Devices of a back end with kSoundCapPulls: takes over ring_bytes at the
    // ring's read position in place of a commit; returns the ring bytes taken.
    virtual uint32_t PullFromRing(SoundRing*, uint32_t) { return 0; }
    // No more data for now: play what is held, keep what follows silent.
    virtual void FlushSound() {}

    // Written by the device, read by the core through the back end's table.
    SoundDeviceInfo info;
    std::atomic<uint32_t> ran_dry{0};  // set here, taken (and cleared) by the core
    uint32_t on = 0;                   // 1 while the device is open and accepting data
};

namespace sound {

using SoundDeviceOpener = SoundDevice* (*)(uint32_t rate, uint32_t bits, uint32_t channels,
                                           uint32_t open_flags, const SoundMovieInfo& movie,
                                           SoundDeviceInfo* info);

// The table of a back end whose devices derive from SoundDevice. With
// kSoundCapOutputs in caps the output slots are filled, with kSoundCapPulls
// the pull slot; else they stay null.
SoundBackEnd MakeSoundBackEnd(const char* name, uint32_t caps, SoundDeviceOpener open);

// Hands a device just opened to the core: copies its info out and gives up
// ownership (null stays null).
SoundDevice* HandOver(std::unique_ptr<SoundDevice> device, SoundDeviceInfo* info);

}  // namespace sound
}  // namespace vemo
