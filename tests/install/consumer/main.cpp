// Decodes every frame of a movie through the installed library and prints
// the library's version, the movie's size and the frames it decoded.
#include <cinttypes>
#include <cstdio>

#include "vemo/frame_decoder.h"
#include "vemo/movie_reader.h"
#include "vemo/version.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    vemo::MovieReader movie;
    if (!movie.Open(argv[1])) return 1;
    vemo::FrameDecoder decoder;
    if (!decoder.Open(vemo::DecoderSettingsFor(movie, false))) return 1;
    uint32_t decoded = 0;
    for (uint32_t i = 0; i < movie.header().frames; ++i) {
        const uint8_t* video = nullptr;
        uint32_t size = 0;
        if (!movie.VideoPart(i, &video, &size)) return 1;
        decoder.DecodeVideoPart(video, size, vemo::IsKeyFrame(movie.index()[i]));
        ++decoded;
    }
    std::printf("%s %" PRIu32 "x%" PRIu32 " %" PRIu32 "\n", vemo::kVersion, movie.header().width,
                movie.header().height, decoded);
    return 0;
}
