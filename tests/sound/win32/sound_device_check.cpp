// Drives one Windows sound back end through the sound service the way the
// stream core does, for the device check (run_sound_check.sh):
//   sound_device_check waveout|dsound OUT_FILE
// A track of constant samples plays at 48000 Hz 16-bit stereo with a volume
// and pan set; it is paused for 600 ms, played out, switched off and on,
// primed with silence the way the core does, and played to its end. Prints
// what compare_device.py needs: the frames fed, the levels the device was
// given as gains per channel, and how much the output file grew while
// paused.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sound_dsound.h"
#include "sound_rules.h"
#include "sound_waveout.h"
#include "vemo/platform.h"
#include "vemo/sound_driver.h"
#include "vemo/timer.h"

namespace {

using namespace vemo;

constexpr uint32_t kRate = 48000;
constexpr int16_t kLevel = 12000;     // every sample of the track
constexpr uint32_t kSegment = 72000;  // frames fed before and after the off/on
constexpr uint32_t kVolume = 16384;   // both back ends' scales: about half
constexpr uint32_t kPan = 16384;      // towards the left
constexpr uint32_t kPauseMs = 600;

long long FileBytes(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Runs the service for ms milliseconds, topping the ring up from *left frames.
void Serve(SoundTrack* track, int32_t frame, uint32_t* left, uint32_t ms) {
    std::vector<int16_t> block(2 * 480, kLevel);
    const uint32_t start = Milliseconds();
    while (Milliseconds() - start < ms) {
        while (*left > 0 && track->ring.free_bytes() >= block.size() * 2) {
            const uint32_t frames = std::min<uint32_t>(*left, 480);
            track->ring.Append(block.data(), frames * 4);
            *left -= frames;
        }
        ServiceSoundTracks(&track, 1, frame);
        platform::SleepMilliseconds(5);
    }
}

// Plays the rest of the track out: the last frame flushes the device; waits
// for its ran-dry report, then the mixer's latency.
void PlayOut(SoundTrack* track) {
    uint32_t none = 0;
    track->back_end->take_ran_dry(track->device);
    const uint32_t start = Milliseconds();
    while (Milliseconds() - start < 2000 && !track->back_end->take_ran_dry(track->device))
        Serve(track, track->last_frame, &none, 5);
    Serve(track, track->last_frame, &none, 200);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sound_device_check waveout|dsound OUT_FILE\n");
        return 2;
    }
    const bool dsound = std::strcmp(argv[1], "dsound") == 0;
    const SoundBackEnd* back_end =
        dsound ? GetDirectSoundOpener(nullptr) : GetWaveOutOpener(nullptr);
    SoundTrack track;
    const SoundMovieInfo movie{100, 1, 1};  // 100 s: the threshold is the back end's own
    if (back_end == nullptr || !OpenSoundTrackDevice(&track, back_end, kRate, 16, 2, 0, movie) ||
        !track.ring.Allocate(262144)) {
        std::fprintf(stderr, "sound_device_check: %s cannot be opened\n", argv[1]);
        return 77;
    }
    track.end_of_sound_frame = 1;  // frame 1: whole chunks; frame 2: the end
    track.last_frame = 2;
    back_end->volume(track.device, kVolume);
    back_end->pan(track.device, kPan);
    double left_gain = 0, right_gain = 0;
    if (dsound) {
        sound::LoopingChannelGains(sound::VolumeToHundredthsDb(kVolume),
                                   sound::PanToHundredthsDb(kPan), &left_gain, &right_gain);
    } else {
        uint32_t l = 0, r = 0;
        sound::QueuedChannelLevels(sound::QueuedVolume(kVolume), kPan, &l, &r);
        left_gain = l / 65535.0;
        right_gain = r / 65535.0;
    }

    uint32_t left = kSegment;
    Serve(&track, 1, &left, 800);
    back_end->pause(track.device, 1);
    platform::SleepMilliseconds(200);
    const long long paused_at = FileBytes(argv[2]);
    platform::SleepMilliseconds(kPauseMs - 200);
    const long long paused_grew = FileBytes(argv[2]) - paused_at;
    back_end->pause(track.device, 0);
    Serve(&track, 1, &left, 500);
    PlayOut(&track);

    // Off and on: the core then empties the ring and primes it with silence.
    back_end->on(track.device, 0);
    back_end->on(track.device, 1);
    track.ring.Empty();
    const uint32_t prime = SilencePrimeSize(kRate, 2, 0, track.ring.size());
    track.ring.PrimeWithSilence(prime);
    left = kSegment;
    Serve(&track, 1, &left, 1200);
    PlayOut(&track);
    CloseSoundTrackDevice(&track);
    std::printf("fed %u gains %.6f %.6f paused_grew %lld prime_ms %u\n", 2 * kSegment, left_gain,
                right_gain, paused_grew, prime * 1000 / (kRate * 4));
    return 0;
}
