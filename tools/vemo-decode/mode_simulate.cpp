// vemo-decode --simulate: plays the movie through the stream core at its
// frame rate (or as fast as possible) with a headless sound device, then
// prints the playback summary.
#include <cstdio>
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

#ifdef _WIN32
constexpr const char* kSoundChoices = "null, file:OUT.wav, dsound or waveout";
#else
constexpr const char* kSoundChoices = "null or file:OUT.wav";
#endif

int RunSimulate(const DecodeArgs& args) {
    unsigned long long loops = 1;
    if (args.has("--loops") &&
        (!vemo::tool::ParseNumber(args.get("--loops"), &loops) || loops == 0 || loops > 1000000)) {
        std::fprintf(stderr, "vemo-decode: --loops needs a number from 1 to 1000000\n");
        return 2;
    }
    const std::string sound = args.get("--sound", "null");
    std::string wav;
    vemo::SoundSystemGetter device = nullptr;
#ifdef _WIN32
    if (sound == "dsound") device = vemo::GetDirectSoundOpener;
    if (sound == "waveout") device = vemo::GetWaveOutOpener;
#endif
    if (sound.rfind("file:", 0) == 0) {
        wav = sound.substr(5);
        if (wav.empty()) {
            std::fprintf(stderr, "vemo-decode: --sound file:OUT.wav needs a file name\n");
            return 2;
        }
    } else if (sound != "null" && device == nullptr) {
        std::fprintf(stderr, "vemo-decode: --sound takes %s\n", kSoundChoices);
        return 2;
    }

    // Every track of the movie is played, in table order.
    vemo::MovieReader data;
    if (!data.Open(args.movie)) {
        std::fprintf(stderr, "vemo-decode: %s: %s%s%s\n", args.movie.c_str(), data.error().c_str(),
                     data.detail().empty() ? "" : " ", data.detail().c_str());
        return 1;
    }
    const vemo::TrackTable& tracks = data.tracks();
    std::vector<uint32_t> ids(tracks.id, tracks.id + tracks.count);

    if (device != nullptr) {
        if (vemo::SetSoundSystem(device, nullptr) == 0) {
            std::fprintf(stderr, "vemo-decode: --sound %s: no such sound device here\n",
                         sound.c_str());
            return 1;
        }
    } else if (wav.empty())
        vemo::SetSoundSystem(vemo::GetNullSoundOpener, nullptr);
    else
        vemo::SetSoundSystem(vemo::GetFileSoundOpener, const_cast<char*>(wav.c_str()));

    uint32_t flags = vemo::kOpenUseTrackList;
    vemo::SetPendingTrackList(static_cast<uint32_t>(ids.size()), ids.data());
    if (args.has("--fast")) {
        vemo::SetPendingFrameRate(0, 0);
        flags |= vemo::kOpenUseFrameRate;
    }
    // NAME|OFFSET: open the file and hand the core a handle at the offset.
    std::string name = args.movie;
    unsigned long long offset = 0;
    const size_t bar = name.rfind('|');
    vemo::platform::File file;
    vemo::Movie* movie = nullptr;
    if (bar != std::string::npos && vemo::tool::ParseNumber(name.substr(bar + 1), &offset)) {
        name = name.substr(0, bar);
        file = vemo::platform::OpenFileForReading(name.c_str());
        if (!file.valid() || !vemo::platform::SeekFile(file, offset)) {
            std::fprintf(stderr, "vemo-decode: %s: Error opening file.\n", name.c_str());
            if (file.valid()) vemo::platform::CloseFile(file);
            return 1;
        }
        intptr_t handle = file.value;
        movie = vemo::OpenMovie(&handle, flags | vemo::kOpenHandle);
    } else {
        movie = vemo::OpenMovie(name.c_str(), flags);
    }
    if (!movie) {
        std::fprintf(stderr, "vemo-decode: %s: %s\n", args.movie.c_str(),
                     vemo::GetLastMovieError());
        if (file.valid()) vemo::platform::CloseFile(file);
        return 1;
    }

    vemo::MovieInfo info;
    vemo::GetMovieInfo(movie, &info);
    std::vector<uint8_t> surface(static_cast<size_t>(info.width) * info.height * 4);
    const unsigned long long total = loops * info.frames;
    unsigned long long played = 0;
    bool damaged = false;
    while (played < total) {
        if (vemo::ShouldWait(movie)) {
            vemo::platform::SleepMilliseconds(1);
            continue;
        }
        if (vemo::DecodeFrame(movie)) {
            damaged = true;
            break;
        }
        vemo::CopyFrameToSurface(movie, surface.data(), static_cast<int32_t>(info.width * 4),
                                 info.height, 0, 0, 0, 0, info.width, info.height,
                                 vemo::kSurfaceXrgb32);
        vemo::GetChangedRects(0, movie);
        vemo::NextFrame(movie);
        ++played;
    }
    vemo::MovieSummary summary;
    vemo::GetSummary(movie, &summary);
    // Let the devices play out what the rings still hold (at most a few
    // seconds; a device that stops taking bytes ends the wait).
    if (!args.has("--fast")) {
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
    vemo::CloseMovie(movie);
    if (file.valid()) vemo::platform::CloseFile(file);

    const uint32_t* fields = &summary.width;
    if (args.has("--json")) {
        std::printf("{");
        for (int i = 0; i < 31; ++i)
            std::printf("%s\"%s\": %u", i ? ", " : "", kSummaryKeys[i], fields[i]);
        std::printf("}\n");
    } else {
        for (int i = 0; i < 31; ++i) std::printf("%-26s %u\n", kSummaryKeys[i], fields[i]);
    }
    if (damaged) {
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
     {"--sound", true, false,
      "with --simulate: null (default), file:OUT.wav, or on Windows dsound or waveout"},
     {"--json", false, false, "with --simulate: print the summary as one JSON object"}},
    RunSimulate};
VEMO_DECODE_MODE(kSimulateMode);

}  // namespace
