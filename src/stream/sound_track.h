// A played track's set-up and tear-down: its device, ring and decoder.
#pragma once

#include <cstdint>

#include "vemo/sound_driver.h"

namespace vemo {

struct PlayedTrackSetup {
    uint32_t format = 0;       // the track table's format word
    uint32_t buffer_size = 0;  // the track table's buffer size
    uint32_t play_rate = 0;    // the device rate (the stored one unless overridden)
    uint32_t open_flags = 0;
    SoundMovieInfo movie;
};

// Opens the device through back_end, then the ring (one frame's sound on top
// of one device chunk) and the decoder. Null when any of them fails; nothing
// is left open then.
SoundTrack* OpenPlayedTrack(const SoundBackEnd* back_end, const PlayedTrackSetup& setup);
// Closes the device, then frees the decoder, the ring and the record.
void ClosePlayedTrack(SoundTrack* track);
// Decodes one audio part of the track into its ring.
void DecodeIntoTrack(SoundTrack* track, const uint8_t* part, uint32_t length);

}  // namespace vemo
