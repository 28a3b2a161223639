#include "sound_track.h"

#include <algorithm>
#include <cstdint>

#include "vemo/audio_decoder.h"
#include "vemo/container.h"

namespace vemo {

namespace {

class RingSink : public AudioSink {
  public:
    explicit RingSink(SoundRing* ring) : ring_(ring) {}
    void AppendAudio(const uint8_t* bytes, uint32_t count) override { ring_->Append(bytes, count); }

  private:
    SoundRing* ring_;
};

}  // namespace

SoundTrack* OpenPlayedTrack(const SoundBackEnd* back_end, const PlayedTrackSetup& setup) {
    const int variant = TrackVariant(setup.format);
    if (!variant || back_end == nullptr) return nullptr;
    const uint32_t rate = TrackRate(setup.format);
    const uint32_t bits = TrackBits(setup.format);
    const uint32_t channels = TrackChannels(setup.format);
    SoundTrack* track = new SoundTrack();
    if (!OpenSoundTrackDevice(track, back_end, setup.play_rate, bits, channels, setup.open_flags,
                              setup.movie)) {
        delete track;
        return nullptr;
    }
    // The ring holds one frame's sound on top of what the service leaves
    // behind (up to one chunk), so that a frame never pushes out sound that
    // was not played yet.
    const uint32_t chunk_bytes = track->device_info.chunk_bytes;
    uint32_t ring_size = AudioRingSize(setup.format, setup.buffer_size);
    const uint64_t with_chunk =
        ring_size ? ring_size + ((uint64_t{chunk_bytes} + 255) & ~uint64_t{255}) : 0;
    ring_size = with_chunk > 0x7FFFFF00u ? 0 : static_cast<uint32_t>(with_chunk);
    track->decoder = ring_size ? OpenAudioDecoder(rate, channels, variant == 1) : nullptr;
    if (!track->decoder || !track->ring.Allocate(ring_size, track->device_info.pull_bytes)) {
        ClosePlayedTrack(track);
        return nullptr;
    }
    const SoundMovieInfo& movie = setup.movie;
    track->end_of_sound_frame =
        EndOfSoundFrame(movie.frames, movie.rate_numerator, movie.rate_denominator);
    track->last_frame = static_cast<int32_t>(std::min<uint32_t>(movie.frames, INT32_MAX));
    track->silence_prime_size =
        SilencePrimeSize(rate, channels, track->device_info.output_latency, ring_size);
    return track;
}

void ClosePlayedTrack(SoundTrack* track) {
    if (track == nullptr) return;
    CloseSoundTrackDevice(track);
    CloseAudioDecoder(track->decoder);
    track->decoder = nullptr;
    delete track;
}

void DecodeIntoTrack(SoundTrack* track, const uint8_t* part, uint32_t length) {
    RingSink sink(&track->ring);
    DecodeAudioPart(track->decoder, part, length, &sink);
}

}  // namespace vemo
