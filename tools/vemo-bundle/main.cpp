// vemo-bundle: turns a movie into a self-running player.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bundle.h"
#include "vemo/container.h"
#include "vemo/platform.h"
#include "vemo/version.h"

namespace {

const char kUsage[] =
    "usage: vemo-bundle MOVIE -o OUT [--options \"TEXT\"] [--player PLAYER]\n"
    "\n"
    "Copies the player, appends MOVIE to it and stores \":OFFSET TEXT\" as the\n"
    "player's option string, so that OUT plays the movie when run.\n"
    "  -o OUT            the self-running movie to write\n"
    "  --options TEXT    player switches the bundle always uses (e.g. \"/L0 /S\")\n"
    "  --player PLAYER   the player to copy (default: vemoplay beside this tool)\n"
    "  --help            show this text\n"
    "  --version         show the program's version\n";

bool ReadAll(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The bundle runs as a program (on Windows every file may run).
void MakeExecutable(const std::string& path) {
    std::error_code ignored;
    std::filesystem::permissions(
        path,
        std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
            std::filesystem::perms::others_exec,
        ignored);
}

// The player beside this tool.
std::string DefaultPlayerPath() {
    std::string self = vemo::platform::ExecutablePath();
    size_t slash = self.find_last_of("/\\");
    std::string path =
        (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/vemoplay";
#ifdef _WIN32
    path += ".exe";
#endif
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    std::string movie_path, out_path, options, player_path;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vemo-bundle: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("vemo-bundle %s\n", vemo::kVersion);
            return 0;
        } else if (arg == "-o") {
            out_path = value("-o");
        } else if (arg == "--options") {
            options = value("--options");
        } else if (arg == "--player") {
            player_path = value("--player");
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "vemo-bundle: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else if (movie_path.empty()) {
            movie_path = arg;
        } else {
            std::fprintf(stderr, "vemo-bundle: more than one movie given\n%s", kUsage);
            return 2;
        }
    }
    if (movie_path.empty() || out_path.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (player_path.empty()) player_path = DefaultPlayerPath();

    std::vector<uint8_t> player, movie;
    if (!ReadAll(player_path, &player)) {
        std::fprintf(stderr, "vemo-bundle: cannot read the player %s\n", player_path.c_str());
        return 1;
    }
    if (!ReadAll(movie_path, &movie)) {
        std::fprintf(stderr, "vemo-bundle: cannot read %s\n", movie_path.c_str());
        return 1;
    }
    vemo::MovieHeader header;
    vemo::HeaderStatus status = movie.size() < vemo::kMovieHeaderSize
                                    ? vemo::HeaderStatus::kNotVemo
                                    : vemo::ParseMovieHeader(movie.data(), &header);
    if (status != vemo::HeaderStatus::kOk) {
        std::fprintf(stderr, "vemo-bundle: %s: %s\n", movie_path.c_str(),
                     vemo::HeaderStatusText(status));
        return 1;
    }
    std::vector<uint8_t> out;
    std::string error;
    if (!vemo::bundle::MakeBundle(player, movie, options, &out, &error)) {
        std::fprintf(stderr, "vemo-bundle: %s\n", error.c_str());
        return 1;
    }
    std::ofstream file(out_path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "vemo-bundle: cannot write %s\n", out_path.c_str());
        return 1;
    }
    MakeExecutable(out_path);
    std::printf("%s: %zu bytes (player %zu + movie %zu)\n", out_path.c_str(), out.size(),
                player.size(), movie.size());
    return 0;
}
