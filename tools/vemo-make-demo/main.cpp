// vemo-make-demo: writes the demo movie (moving pictures and a tone), the
// closing image, or the closing image as a C++ header for the player.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vemo/encoder.h"
#include "vemo/version.h"

namespace {

const char kUsage[] =
    "Usage: vemo-make-demo OUT.vem [--frames N] [--fps N] [--size WxH] [--quality Q] [--silent]\n"
    "       vemo-make-demo --closing OUT.vem\n"
    "       vemo-make-demo --closing-header OUT.h\n"
    "  Writes the demo movie (colour bars, a gradient, a bouncing ball and a tone),\n"
    "  the 224x252 closing image, or the closing image as a C++ array header.\n"
    "  --help       show this text\n"
    "  --version    show the program's version\n";

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

// Reads the value of one of the demo's settings (--frames, --fps, --quality,
// --size); says what it takes and returns false when the value is bad.
bool ParseSetting(const std::string& a, const char* v, vemo::DemoSettings* settings) {
    if (a == "--frames") {
        if (!ParseNumber(v, 1, 100000, &settings->frames)) {
            std::fputs("vemo-make-demo: --frames takes 1 to 100000\n", stderr);
            return false;
        }
    } else if (a == "--fps") {
        if (!ParseNumber(v, 1, 120, &settings->fps)) {
            std::fputs("vemo-make-demo: --fps takes 1 to 120\n", stderr);
            return false;
        }
    } else if (a == "--quality") {
        uint32_t q;
        if (!ParseNumber(v, 1, 100, &q)) {
            std::fputs("vemo-make-demo: --quality takes 1 to 100\n", stderr);
            return false;
        }
        settings->quality = static_cast<int>(q);
    } else {
        unsigned w = 0, h = 0;
        char extra;
        if (std::sscanf(v, "%ux%u%c", &w, &h, &extra) != 2 || w < 16 || h < 16 || w > 4096 ||
            h > 4096) {
            std::fputs("vemo-make-demo: --size takes WxH, 16 to 4096 each\n", stderr);
            return false;
        }
        settings->width = w;
        settings->height = h;
    }
    return true;
}

struct Options {
    std::string out, closing, header;
    vemo::DemoSettings settings;
};

// Reads the command line into *o. Returns the exit code when the program is
// to stop (help, a bad command line), else -1.
int ParseArgs(int argc, char** argv, Options* o) {
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
        } else if (a == "--version") {
            std::printf("vemo-make-demo %s\n", vemo::kVersion);
            return 0;
        } else if (a == "--closing") {
            o->closing = value("--closing");
        } else if (a == "--closing-header") {
            o->header = value("--closing-header");
        } else if (a == "--frames" || a == "--fps" || a == "--quality" || a == "--size") {
            if (!ParseSetting(a, value(a.c_str()), &o->settings)) return 2;
        } else if (a == "--silent") {
            o->settings.sound = false;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "vemo-make-demo: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (o->out.empty()) {
            o->out = a;
        } else {
            std::fprintf(stderr, "vemo-make-demo: more than one output named\n%s", kUsage);
            return 2;
        }
    }
    return -1;
}

// Writes the closing image as a movie (to closing) and as a header (to
// header), each when named. Returns false after saying what failed.
bool WriteClosing(const std::string& closing, const std::string& header) {
    const std::vector<uint8_t> movie = vemo::MakeClosingImageMovie();
    if (movie.empty()) {
        std::fputs("vemo-make-demo: the closing image could not be encoded\n", stderr);
        return false;
    }
    if (!closing.empty() && !WriteFile(closing, movie.data(), movie.size())) {
        std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", closing.c_str());
        return false;
    }
    if (!header.empty()) {
        const std::string text = HeaderFor(movie);
        if (!WriteFile(header, text.data(), text.size())) {
            std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", header.c_str());
            return false;
        }
    }
    return true;
}

bool WriteDemo(const std::string& out, const vemo::DemoSettings& settings) {
    const std::vector<uint8_t> movie = vemo::MakeDemoMovie(settings);
    if (movie.empty()) {
        std::fputs("vemo-make-demo: the demo movie could not be encoded\n", stderr);
        return false;
    }
    if (!WriteFile(out, movie.data(), movie.size())) {
        std::fprintf(stderr, "vemo-make-demo: cannot write %s\n", out.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    Options o;
    if (const int code = ParseArgs(argc, argv, &o); code >= 0) return code;
    if (!o.closing.empty() || !o.header.empty()) {
        if (!WriteClosing(o.closing, o.header)) return 1;
    }
    if (!o.out.empty()) {
        if (!WriteDemo(o.out, o.settings)) return 1;
    } else if (o.closing.empty() && o.header.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return 0;
}
