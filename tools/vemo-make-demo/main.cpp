// vemo-make-demo: writes the demo movie (moving pictures and a tone), the
// closing image, or the closing image as a C++ header for the player.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vemo/encoder.h"

namespace {

const char kUsage[] =
    "Usage: vemo-make-demo OUT.vem [--frames N] [--fps N] [--size WxH] [--quality Q] [--silent]\n"
    "       vemo-make-demo --closing OUT.vem\n"
    "       vemo-make-demo --closing-header OUT.h\n"
    "  Writes the demo movie (colour bars, a gradient, a bouncing ball and a tone),\n"
    "  the 224x252 closing image, or the closing image as a C++ array header.\n";

bool WriteFile(const std::string& path, const void* data, size_t size) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && ok;
}

std::string HeaderFor(const std::vector<uint8_t>& movie) {
    std::string text =
        "// Made by vemo-make-demo --closing-header: the closing image, a one-frame\n"
        "// movie of 224x252 at 10 frames per second without sound.\n"
        "#pragma once\n\n#include <cstddef>\n#include <cstdint>\n\nnamespace vemo {\n\n"
        "inline constexpr uint8_t kClosingImageMovie[] = {";
    char buf[8];
    for (size_t i = 0; i < movie.size(); ++i) {
        if (i % 16 == 0) text += "\n   ";
        std::snprintf(buf, sizeof buf, " %u,", movie[i]);
        text += buf;
    }
    text +=
        "\n};\ninline constexpr size_t kClosingImageMovieSize = sizeof(kClosingImageMovie);\n\n}  "
        "// namespace vemo\n";
    return text;
}

bool ParseNumber(const char* s, uint32_t lo, uint32_t hi, uint32_t* out) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string out, closing, header;
    vemo::DemoSettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vemo-make-demo: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--closing") {
            closing = value("--closing");
        } else if (a == "--closing-header") {
            header = value("--closing-header");
        } else if (a == "--frames") {
            if (!ParseNumber(value("--frames"), 1, 100000, &settings.frames)) {
                std::fputs("vemo-make-demo: --frames takes 1 to 100000\n", stderr);
                return 2;
            }
        } else if (a == "--fps") {
            if (!ParseNumber(value("--fps"), 1, 120, &settings.fps)) {
                std::fputs("vemo-make-demo: --fps takes 1 to 120\n", stderr);
                return 2;
            }
        } else if (a == "--quality") {
            uint32_t q;
            if (!ParseNumber(value("--quality"), 1, 100, &q)) {
                std::fputs("vemo-make-demo: --quality takes 1 to 100\n", stderr);
                return 2;
            }
            settings.quality = static_cast<int>(q);
        } else if (a == "--size") {
            unsigned w = 0, h = 0;
            char extra;
            if (std::sscanf(value("--size"), "%ux%u%c", &w, &h, &extra) != 2 || w < 16 || h < 16 ||
                w > 4096 || h > 4096) {
                std::fputs("vemo-make-demo: --size takes WxH, 16 to 4096 each\n", stderr);
                return 2;
            }
            settings.width = w;
            settings.height = h;
        } else if (a == "--silent") {
            settings.sound = false;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "vemo-make-demo: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (out.empty()) {
            out = a;
        } else {
            std::fprintf(stderr, "vemo-make-demo: more than one output named\n%s", kUsage);
            return 2;
        }
    }
    if (!closing.empty() || !header.empty()) {
        const std::vector<uint8_t> movie = vemo::MakeClosingImageMovie();
        if (movie.empty()) {
            std::fputs("vemo-make-demo: the closing image could not be encoded\n", stderr);
            return 1;
        }
        if (!closing.empty() && !WriteFile(closing, movie.data(), movie.size())) {
            std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", closing.c_str());
            return 1;
        }
        if (!header.empty()) {
            const std::string text = HeaderFor(movie);
            if (!WriteFile(header, text.data(), text.size())) {
                std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", header.c_str());
                return 1;
            }
        }
    }
    if (!out.empty()) {
        const std::vector<uint8_t> movie = vemo::MakeDemoMovie(settings);
        if (movie.empty()) {
            std::fputs("vemo-make-demo: the demo movie could not be encoded\n", stderr);
            return 1;
        }
        if (!WriteFile(out, movie.data(), movie.size())) {
            std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", out.c_str());
            return 1;
        }
    } else if (closing.empty() && header.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return 0;
}
