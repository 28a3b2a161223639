// vemo-make-demo: writes the demo movie.
// For now it holds the container only (header, track table, index and
// packets with empty picture parts); the picture and the tone follow once
// the bitstream writers exist.
#include <cstdio>
#include <cstring>
#include <string>

#include "vemo/container_writer.h"

int main(int argc, char** argv) {
    if (argc != 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::puts("Usage: vemo-make-demo OUT.vem\n  Writes the demo movie to OUT.vem.");
        return argc == 2 ? 0 : 2;
    }
    vemo::MovieWriter writer('i', 320, 240, 30, 1, 0);
    for (int i = 0; i < 90; ++i) writer.AddFrame(i % 30 == 0, {}, std::vector<uint8_t>(8, 0));
    const std::vector<uint8_t> movie = writer.Finish();
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(movie.data(), 1, movie.size(), out) != movie.size()) {
        std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", argv[1]);
        if (out) std::fclose(out);
        return 1;
    }
    std::fclose(out);
    return 0;
}
