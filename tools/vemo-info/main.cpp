// vemo-info: prints what a movie holds (header, tracks, key frames, sizes
// and data rates), or the same as one JSON object with --json.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "vemo/movie_reader.h"
#include "vemo/version.h"

namespace {

void PrintHelp() {
    std::puts(
        "Usage: vemo-info MOVIE [--json]\n"
        "  MOVIE may be NAME|OFFSET for a movie embedded at a byte offset.\n"
        "  --json     print the movie's metadata as one JSON object\n"
        "  --help     show this text\n"
        "  --version  show the program's version");
}

struct Derived {
    uint32_t across, down, whole_fps, two_frame_ms;
    vemo::PeakRate peak;
    bool all_key;
    uint32_t key_frames;
};

Derived Derive(const vemo::MovieReader& movie) {
    const vemo::MovieHeader& h = movie.header();
    Derived d{};
    d.across = vemo::BlocksAcross(h.width);
    d.down = vemo::BlocksDown(h.height);
    d.whole_fps = vemo::WholeFramesPerSecond(h.rate_num, h.rate_den);
    d.two_frame_ms = vemo::TwoFrameTime(h.rate_num, h.rate_den);
    d.peak = vemo::PeakDataRate(movie.index(), h.frames, d.whole_fps);
    d.all_key = vemo::AllKeyFrames(movie.index(), h.frames);
    for (uint32_t i = 0; i < h.frames; ++i) d.key_frames += vemo::IsKeyFrame(movie.index()[i]);
    return d;
}

void PrintJson(const vemo::MovieReader& movie) {
    const vemo::MovieHeader& h = movie.header();
    const Derived d = Derive(movie);
    std::printf(
        "{\n \"version\": \"%c\",\n \"width\": %" PRIu32 ",\n \"height\": %" PRIu32
        ",\n \"frames\": %" PRIu32 ",\n \"index_length\": %" PRIu32 ",\n \"rate_num\": %" PRIu32
        ",\n \"rate_den\": %" PRIu32 ",\n \"flags\": %" PRIu32 ",\n \"tracks\": [",
        h.version, h.width, h.height, h.frames, h.index_length, h.rate_num, h.rate_den, h.flags);
    const vemo::TrackTable& t = movie.tracks();
    for (uint32_t i = 0; i < t.count; ++i) {
        std::printf("%s\n  {\"buffer_size\": %" PRIu32 ", \"format\": %" PRIu32 ", \"id\": %" PRIu32
                    "}",
                    i ? "," : "", t.buffer_size[i], t.format[i], t.id[i]);
    }
    std::printf("%s],\n \"index\": [", t.count ? "\n " : "");
    for (uint32_t i = 0; i <= h.index_length; ++i)
        std::printf("%s\n  %" PRIu32, i ? "," : "", movie.index()[i]);
    std::printf("\n ],\n \"blocks_across\": %" PRIu32 ",\n \"blocks_down\": %" PRIu32
                ",\n \"whole_fps\": %" PRIu32 ",\n \"two_frame_ms\": %" PRIu32
                ",\n \"peak_rate\": %" PRIu32 ",\n \"peak_frame\": %" PRIu32
                ",\n \"all_key\": %s\n}\n",
                d.across, d.down, d.whole_fps, d.two_frame_ms, d.peak.rate, d.peak.frame,
                d.all_key ? "true" : "false");
}

const char* VariantName(uint32_t format) {
    switch (vemo::TrackVariant(format)) {
        case 1:
            return "DCT";
        case 2:
            return "real DFT";
        default:
            return "none (not played)";
    }
}

// The track table, with the track the player takes when none is chosen.
void PrintTracks(const vemo::TrackTable& t) {
    std::printf("  audio tracks %" PRIu32 "\n", t.count);
    const uint32_t taken = vemo::DefaultTrackIndex(t);
    for (uint32_t i = 0; i < t.count; ++i) {
        const uint32_t f = t.format[i];
        const char* mark = "";
        if (i == taken)
            mark = vemo::TrackVariant(f) ? ", played by default" : ", taken by default (silent)";
        std::printf("    #%" PRIu32 "  ID %" PRIu32 ": %" PRIu32 " Hz, %" PRIu32
                    "-bit, %s, %s, "
                    "buffer %" PRIu32 " bytes%s\n",
                    i, t.id[i], vemo::TrackRate(f), vemo::TrackBits(f),
                    vemo::TrackChannels(f) == 2 ? "stereo" : "mono", VariantName(f),
                    t.buffer_size[i], mark);
    }
    if (t.count && taken == t.count)
        std::printf("    no track has ID %" PRIu32 ": silent unless a track is chosen\n",
                    vemo::kDefaultTrackId);
}

void PrintReport(const std::string& name, const vemo::MovieReader& movie) {
    const vemo::MovieHeader& h = movie.header();
    const Derived d = Derive(movie);
    const double fps = h.rate_den ? static_cast<double>(h.rate_num) / h.rate_den : 0.0;
    std::printf("%s\n", name.c_str());
    std::printf("  version      \"%c\"\n", h.version);
    std::printf("  picture      %" PRIu32 " x %" PRIu32 "%s%s", h.width, h.height,
                (h.flags & vemo::kHeaderGrayscale) ? ", grayscale" : "",
                (h.flags & vemo::kHeaderAlpha) ? ", alpha" : "");
    const uint32_t mode = (h.flags & vemo::kHeaderScalingMask) >> vemo::kHeaderScalingShift;
    if (mode >= 1 && mode <= 6) std::printf(", scaling mode %" PRIu32, mode);
    std::printf("\n  frame rate   %" PRIu32 "/%" PRIu32 " (%.3f frames per second)\n", h.rate_num,
                h.rate_den, fps);
    const double seconds = fps > 0 ? h.frames / fps : 0.0;
    std::printf("  frames       %" PRIu32 " (%.2f s), index length %" PRIu32 "\n", h.frames,
                seconds, h.index_length);
    std::printf("  key frames   %" PRIu32 "%s\n", d.key_frames, d.all_key ? " (every frame)" : "");
    std::printf("  blocks       %" PRIu32 " x %" PRIu32 " of 16x16\n", d.across, d.down);
    const uint64_t movie_bytes = static_cast<uint64_t>(h.size) + 8;
    const uint32_t first = vemo::IndexOffset(movie.index()[0]);
    std::printf("  size         %" PRIu64 " bytes, frame data from offset %" PRIu32 "\n",
                movie_bytes, first);
    std::printf("  largest frame %" PRIu32 " bytes\n", h.largest_frame);
    if (h.frames && h.rate_den) {
        const uint64_t average =
            (movie_bytes - first) * h.rate_num / (static_cast<uint64_t>(h.frames) * h.rate_den);
        std::printf("  data rate    %" PRIu64 " bytes/s average, peak %" PRIu32
                    " bytes/s from frame %" PRIu32 "\n",
                    average, d.peak.rate, d.peak.frame + 1);
    }
    PrintTracks(movie.tracks());
}

}  // namespace

int main(int argc, char** argv) {
    std::string name;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            PrintHelp();
            return 0;
        } else if (!std::strcmp(argv[i], "--version")) {
            std::printf("vemo-info %s\n", vemo::kVersion);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            std::fprintf(stderr, "vemo-info: unknown option %s (see --help)\n", argv[i]);
            return 2;
        } else if (name.empty()) {
            name = argv[i];
        } else {
            std::fprintf(stderr, "vemo-info: only one movie at a time (see --help)\n");
            return 2;
        }
    }
    if (name.empty()) {
        PrintHelp();
        return 2;
    }
    vemo::MovieReader movie;
    if (!movie.Open(name)) {
        std::fprintf(stderr, "%s\n", movie.error().c_str());
        if (!movie.detail().empty())
            std::fprintf(stderr, "vemo-info: %s: %s\n", name.c_str(), movie.detail().c_str());
        return 1;
    }
    if (json)
        PrintJson(movie);
    else
        PrintReport(name, movie);
    return 0;
}
