// vemoplay: the Vemo movie player.
#define SDL_MAIN_HANDLED
#include <cstdio>
#include <cstring>

#include "player.h"
#include "vemo/version.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vemoplay %s\n", vemo::kVersion);
        return 0;
    }
    return vemo::player::RunPlayer(argc, argv);
}
