// vemo-decode --simulate: plays the movie through the stream core at its
// frame rate (or as fast as possible) with a headless sound device, then
// prints the playback summary.
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "decode_mode.h"
#include "vemo/container.h"
#include "vemo/movie.h"
#include "vemo/movie_reader.h"
#include "vemo/platform.h"
#include "vemo/sound_headless.h"
#include "vemo/surface_format.h"
#include "vemo/timer.h"

#ifdef _WIN32
#include "sound_dsound.h"
#include "sound_waveout.h"
#endif

namespace {

using vemo::tool::DecodeArgs;

const char* const kSummaryKeys[31] = {"width",
                                      "height",
                                      "total_playback_time",
                                      "header_rate_num",
                                      "header_rate_den",
                                      "played_rate_num",
                                      "played_rate_den",
                                      "open_time",
                                      "frames",
                                      "frames_played",
                                      "skipped_frames",
                                      "skipped_blits",
                                      "sound_skips",
                                      "blit_time",
                                      "frame_read_time",
                                      "video_time",
                                      "audio_time",
                                      "idle_service_time",
                                      "busy_service_time",
                                      "device_speed",
                                      "slowest_frame_time",
                                      "second_slowest_frame_time",
                                      "slowest_frame",
                                      "second_slowest_frame",
                                      "average_data_rate",
                                      "average_frame_size",
                                      "total_memory",
                                      "total_input_memory",
                                      "highest_input_memory",
                                      "peak_data_rate",
                                      "peak_frame"};

// Bytes still waiting in the played tracks' rings.
uint32_t RingBytes(const vemo::Movie* movie) {
    uint32_t total = 0;
    for (uint32_t i = 0; vemo::SoundTrack* track = vemo::MovieSoundTrack(movie, i); ++i)
        total += track->ring.filled();
    return total;
}

// Milliseconds a Windows device is given to play what it holds once the
// rings are empty (waveOut holds at most sixteen 1/16 s buffers,
// DirectSound one 0.6 s loop).
constexpr uint32_t kDevicePlayOut = 1500;
// A device reports what it has played as it mixes; what reaches the output
// lags behind by the mixer's latency, so the devices stay open this much
// longer before the movie moves on (and closes them).
constexpr uint32_t kDeviceLatency = 150;

// Runs the sound service until the rings are empty (or stop emptying for
// 1.5 s). On the last frame the tracks are past their end-of-sound frame,
// so partial chunks go out too.
void DrainRings(vemo::Movie* movie) {
    uint32_t last = RingBytes(movie);
    uint32_t since = vemo::Milliseconds();
    while (last && vemo::Milliseconds() - since < 1500) {
        vemo::ShouldWait(movie);
        vemo::platform::SleepMilliseconds(5);
        const uint32_t now = RingBytes(movie);
        if (now != last) since = vemo::Milliseconds();
        last = now;
    }
}

// With a Windows device, before the last frame moves on (and rewinds the
// movie to frame 1): hands the whole track to the device and waits until
// every device reports it has played everything it was given.
void PlayOutDevices(vemo::Movie* movie) {
    DrainRings(movie);
    std::vector<vemo::SoundTrack*> waiting;
    for (uint32_t i = 0; vemo::SoundTrack* track = vemo::MovieSoundTrack(movie, i); ++i) {
        // A report from before the last hand-over is stale.
        track->back_end->take_ran_dry(track->device);
        waiting.push_back(track);
    }
    const uint32_t start = vemo::Milliseconds();
    while (!waiting.empty() && vemo::Milliseconds() - start < kDevicePlayOut) {
        vemo::ShouldWait(movie);
        vemo::platform::SleepMilliseconds(5);
        std::erase_if(waiting, [](vemo::SoundTrack* track) {
            return track->back_end->take_ran_dry(track->device) != 0;
        });
    }
    const uint32_t played = vemo::Milliseconds();
    while (vemo::Milliseconds() - played < kDeviceLatency) {
        vemo::ShouldWait(movie);
        vemo::platform::SleepMilliseconds(5);
    }
}

#ifdef _WIN32
constexpr const char* kSoundChoices = "null, file:OUT.wav, dsound or waveout";
#else
constexpr const char* kSoundChoices = "null or file:OUT.wav";
#endif

// What the command line asks of the simulation.
struct SimulateChoice {
    unsigned long long loops = 1;
    std::string sound;
    std::string wav;                           // --sound file:OUT.wav
    vemo::SoundSystemGetter device = nullptr;  // a real device (Windows)
    unsigned long long sound_rate = 0;         // --sound-rate: 0 keeps the movie's pace
};

// Reads --loops and --sound; false (after the message) when either is bad.
bool ParseSimulateChoice(const DecodeArgs& args, SimulateChoice* c) {
    if (args.has("--loops") && (!vemo::tool::ParseNumber(args.get("--loops"), &c->loops) ||
                                c->loops == 0 || c->loops > 1000000)) {
        std::fprintf(stderr, "vemo-decode: --loops needs a number from 1 to 1000000\n");
        return false;
    }
    if (args.has("--sound-rate") &&
        (!vemo::tool::ParseNumber(args.get("--sound-rate"), &c->sound_rate) ||
         c->sound_rate < 1000 || c->sound_rate > 65535 || args.has("--fast"))) {
        std::fprintf(stderr,
                     "vemo-decode: --sound-rate needs a rate from 1000 to 65535 Hz "
                     "(and no --fast)\n");
        return false;
    }
    c->sound = args.get("--sound", "null");
#ifdef _WIN32
    if (c->sound == "dsound") c->device = vemo::GetDirectSoundOpener;
    if (c->sound == "waveout") c->device = vemo::GetWaveOutOpener;
#endif
    if (c->sound.rfind("file:", 0) == 0) {
        c->wav = c->sound.substr(5);
        if (c->wav.empty()) {
            std::fprintf(stderr, "vemo-decode: --sound file:OUT.wav needs a file name\n");
            return false;
        }
    } else if (c->sound != "null" && c->device == nullptr) {
        std::fprintf(stderr, "vemo-decode: --sound takes %s\n", kSoundChoices);
        return false;
    }
    return true;
}

// Registers the chosen sound system; false when the device is not here.
bool ChooseSoundSystem(const SimulateChoice& c) {
    if (c.device != nullptr) {
        if (vemo::SetSoundSystem(c.device, nullptr) == 0) {
            std::fprintf(stderr, "vemo-decode: --sound %s: no such sound device here\n",
                         c.sound.c_str());
            return false;
        }
    } else if (c.wav.empty()) {
        vemo::SetSoundSystem(vemo::GetNullSoundOpener, nullptr);
    } else {
        vemo::SetSoundSystem(vemo::GetFileSoundOpener, const_cast<char*>(c.wav.c_str()));
    }
    return true;
}

// The frame rate at which the first track plays at sound_rate Hz: the
// header's rate scaled by sound_rate / track rate, reduced. False when it
// does not fit the frame-rate override's 31 bits.
bool FrameRateForSoundRate(const vemo::MovieReader& data, unsigned long long sound_rate,
                           uint32_t* num, uint32_t* den) {
    const vemo::MovieHeader& h = data.header();
    const uint32_t track_rate = data.tracks().count ? vemo::TrackRate(data.tracks().format[0]) : 0;
    if (track_rate == 0 || h.rate_num == 0 || h.rate_den == 0) return false;
    unsigned long long n = static_cast<unsigned long long>(h.rate_num) * sound_rate;
    unsigned long long d = static_cast<unsigned long long>(h.rate_den) * track_rate;
    const unsigned long long g = std::gcd(n, d);
    n /= g;
    d /= g;
    if (n > 0x7FFFFFFFu || d > 0x7FFFFFFFu) return false;
    *num = static_cast<uint32_t>(n);
    *den = static_cast<uint32_t>(d);
    return true;
}

// Opens the movie with every track played (NAME|OFFSET through a handle the
// caller closes after the movie), at the frame rate num/den when num is not
// 0, decoding the picture on `threads` threads. Null after the message.
vemo::Movie* OpenSimulatedMovie(const DecodeArgs& args, std::vector<uint32_t>& ids,
                                vemo::platform::File* file, uint32_t num, uint32_t den,
                                uint32_t threads) {
    vemo::OpenSettings settings;
    settings.tracks = ids;
    if (args.has("--fast") || num != 0)
        settings.frame_rate =
            vemo::OpenSettings::FrameRate{static_cast<int32_t>(num), static_cast<int32_t>(den)};
    settings.decode_threads = threads;
    std::string name = args.movie;
    unsigned long long offset = 0;
    const size_t bar = name.rfind('|');
    vemo::Movie* movie = nullptr;
    if (bar != std::string::npos && vemo::tool::ParseNumber(name.substr(bar + 1), &offset)) {
        name = name.substr(0, bar);
        *file = vemo::platform::OpenFileForReading(name.c_str());
        if (!file->valid() || !vemo::platform::SeekFile(*file, offset)) {
            std::fprintf(stderr, "vemo-decode: %s: Error opening file.\n", name.c_str());
            return nullptr;
        }
        intptr_t handle = file->value;
        movie = vemo::OpenMovie(&handle, vemo::kOpenHandle, settings);
    } else {
        movie = vemo::OpenMovie(name.c_str(), 0, settings);
    }
    if (!movie)
        std::fprintf(stderr, "vemo-decode: %s: %s\n", args.movie.c_str(),
                     vemo::GetLastMovieError());
    return movie;
}

// Plays total frames at the movie's pace; false when a frame was damaged.
bool PlayFrames(vemo::Movie* movie, unsigned long long total, bool play_out) {
    vemo::MovieInfo info;
    vemo::GetMovieInfo(movie, &info);
    std::vector<uint8_t> surface(static_cast<size_t>(info.width) * info.height * 4);
    for (unsigned long long played = 0; played < total;) {
        if (vemo::ShouldWait(movie)) {
            vemo::platform::SleepMilliseconds(1);
            continue;
        }
        if (vemo::DecodeFrame(movie)) return false;
        vemo::CopyFrameToSurface(movie, surface.data(), static_cast<int32_t>(info.width * 4),
                                 info.height, 0, 0, 0, 0, info.width, info.height,
                                 vemo::kSurfaceXrgb32);
        vemo::GetChangedRects(0, movie);
        if (play_out && played + 1 == total) PlayOutDevices(movie);
        vemo::NextFrame(movie);
        ++played;
    }
    return true;
}

void PrintSummary(const vemo::MovieSummary& summary, bool json) {
    const uint32_t* fields = &summary.width;
    if (json) {
        std::printf("{");
        for (int i = 0; i < 31; ++i)
            std::printf("%s\"%s\": %u", i ? ", " : "", kSummaryKeys[i], fields[i]);
        std::printf("}\n");
    } else {
        for (int i = 0; i < 31; ++i) std::printf("%-26s %u\n", kSummaryKeys[i], fields[i]);
    }
}

int RunSimulate(const DecodeArgs& args) {
    SimulateChoice choice;
    if (!ParseSimulateChoice(args, &choice)) return 2;
    // Every track of the movie is played, in table order.
    vemo::MovieReader data;
    if (!data.Open(args.movie)) {
        std::fprintf(stderr, "vemo-decode: %s: %s%s%s\n", args.movie.c_str(), data.error().c_str(),
                     data.detail().empty() ? "" : " ", data.detail().c_str());
        return 1;
    }
    const vemo::TrackTable& tracks = data.tracks();
    std::vector<uint32_t> ids(tracks.id, tracks.id + tracks.count);
    uint32_t num = 0, den = 0;
    if (choice.sound_rate != 0 && !FrameRateForSoundRate(data, choice.sound_rate, &num, &den)) {
        std::fprintf(stderr, "vemo-decode: %s: no frame rate plays its first track at %llu Hz\n",
                     args.movie.c_str(), choice.sound_rate);
        return 1;
    }
    uint32_t threads = 1;
    if (!vemo::tool::ThreadCount(args, &threads)) return 2;
    if (!ChooseSoundSystem(choice)) return 1;

    vemo::platform::File file;
    vemo::Movie* movie = OpenSimulatedMovie(args, ids, &file, num, den, threads);
    if (!movie) {
        if (file.valid()) vemo::platform::CloseFile(file);
        return 1;
    }
    vemo::MovieInfo info;
    vemo::GetMovieInfo(movie, &info);
    const bool fast = args.has("--fast");
    const bool whole =
        PlayFrames(movie, choice.loops * info.frames, choice.device != nullptr && !fast);
    vemo::MovieSummary summary;
    vemo::GetSummary(movie, &summary);
    // Let the file device write out what the rings still hold (at most a
    // few seconds; a device that stops taking bytes ends the wait).
    if (choice.device == nullptr && !fast) DrainRings(movie);
    vemo::CloseMovie(movie);
    if (file.valid()) vemo::platform::CloseFile(file);

    PrintSummary(summary, args.has("--json"));
    if (!whole) {
        std::fprintf(stderr, "vemo-decode: %s: playback ended at a damaged frame\n",
                     args.movie.c_str());
        return 1;
    }
    return 0;
}

const vemo::tool::DecodeMode kSimulateMode = {
    "playback simulation",
    {{"--simulate", false, true, "play the movie through the stream core and print its summary"},
     {"--loops", true, false, "with --simulate: play the movie N times (default 1)"},
     {"--fast", false, false, "with --simulate: as fast as possible instead of at the frame rate"},
     {"--sound-rate", true, false,
      "with --simulate: play at the frame rate that gives the first track this sample rate (Hz)"},
     {"--sound", true, false,
      "with --simulate: null (default), file:OUT.wav, or on Windows dsound or waveout"},
     {"--json", false, false, "with --simulate: print the summary as one JSON object"}},
    RunSimulate};
VEMO_DECODE_MODE(kSimulateMode);

}  // namespace
