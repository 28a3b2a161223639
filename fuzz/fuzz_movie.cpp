// Opens arbitrary bytes as a movie in memory and plays every frame through
// the stream core: sound, picture, copy, changed areas, statistics.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vemo/container.h"
#include "vemo/movie.h"
#include "vemo/sound_headless.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < vemo::kMovieHeaderSize || size > (1u << 24)) return 0;
    // A memory movie is trusted to be as long as its size field says; make
    // it so, so that what is fuzzed is everything else.
    // Pictures beyond a megapixel only cost memory here.
    if (static_cast<uint64_t>(vemo::ReadLe32(data + 20)) * vemo::ReadLe32(data + 24) > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    vemo::StoreLe32(&bytes[4], static_cast<uint32_t>(size - 8));
    static const bool sound = vemo::SetSoundSystem(vemo::GetNullSoundOpener, nullptr) != 0;
    (void)sound;
    const uint32_t ids[] = {0, 1, 2, 3};
    vemo::SetPendingTrackList(4, ids);
    vemo::SetPendingFrameRate(0, 0);
    vemo::Movie* movie = vemo::OpenMovie(
        bytes.data(), vemo::kOpenInMemory | vemo::kOpenWithoutThreads | vemo::kOpenUseTrackList |
                          vemo::kOpenUseFrameRate | (size & 1 ? vemo::kOpenDecodeAlpha : 0) |
                          (static_cast<uint32_t>(size % 7) << vemo::kOpenScaleShift));
    if (!movie) return 0;
    vemo::MovieInfo info;
    vemo::GetMovieInfo(movie, &info);
    std::vector<uint8_t> surface(static_cast<size_t>(info.width) * info.height * 4 + 64);
    const uint32_t frames = info.frames < 64 ? info.frames : 64;
    for (uint32_t i = 0; i < frames; ++i) {
        vemo::ShouldWait(movie);
        if (vemo::DecodeFrame(movie)) break;
        vemo::CopyFrameToSurface(movie, surface.data(), static_cast<int32_t>(info.width * 4),
                                 info.height, 0, 0, 0, 0, info.width, info.height, 3 | 0x80000000u);
        vemo::GetChangedRects(0, movie);
        vemo::NextFrame(movie);
    }
    vemo::MovieSummary summary;
    vemo::GetSummary(movie, &summary);
    vemo::RealtimeStats stats;
    vemo::GetRealtimeStats(0, movie, &stats);
    vemo::CloseMovie(movie);
    return 0;
}
