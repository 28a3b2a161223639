// vemo-decode: decodes a movie into dumps, pictures, sound or a playback run.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "decode_mode.h"
#include "vemo/cpu.h"
#include "vemo/version.h"

namespace {

using vemo::tool::DecodeModes;

const vemo::tool::DecodeOption* FindOption(const std::string& name) {
    for (const auto* mode : DecodeModes())
        for (const auto& option : mode->options)
            if (name == option.name) return &option;
    return nullptr;
}

void PrintHelp() {
    std::puts(
        "Usage: vemo-decode MOVIE [OPTIONS]\n"
        "  MOVIE may be NAME|OFFSET for a movie embedded at a byte offset.\n"
        "  Several outputs may be asked for in one run.\n");
    for (const auto* mode : DecodeModes()) {
        std::printf("%s:\n", mode->name);
        for (const auto& option : mode->options)
            std::printf("  %-22s %s\n",
                        (std::string(option.name) + (option.takes_value ? " ARG" : "")).c_str(),
                        option.help);
    }
    std::puts("  --help                 show this text");
    std::puts("  --version              show the program's version");
}

}  // namespace

int main(int argc, char** argv) {
    vemo::tool::DecodeArgs args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if (arg == "--version") {
            std::printf("vemo-decode %s\nkernels: %s\n", vemo::kVersion, vemo::CpuKernelLevel());
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            const auto* option = FindOption(arg);
            if (!option) {
                std::fprintf(stderr, "vemo-decode: unknown option %s (see --help)\n", arg.c_str());
                return 2;
            }
            std::string value;
            if (option->takes_value) {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "vemo-decode: %s needs a value\n", arg.c_str());
                    return 2;
                }
                value = argv[++i];
            }
            args.values[arg] = value;
        } else if (args.movie.empty()) {
            args.movie = arg;
        } else {
            std::fprintf(stderr, "vemo-decode: only one movie at a time (see --help)\n");
            return 2;
        }
    }
    if (args.movie.empty()) {
        PrintHelp();
        return 2;
    }
    int ran = 0;
    for (const auto* mode : DecodeModes()) {
        const bool selected =
            std::any_of(mode->options.begin(), mode->options.end(),
                        [&](const auto& o) { return o.triggers && args.has(o.name); });
        if (!selected) continue;
        ++ran;
        if (int rc = mode->run(args); rc != 0) return rc;
    }
    if (!ran) {
        std::fprintf(stderr, "vemo-decode: nothing to do: name an output (see --help)\n");
        return 2;
    }
    return 0;
}
