// vemoplay: the Vemo movie player.
#define SDL_MAIN_HANDLED
#include "player.h"

int main(int argc, char** argv) {
    return vemo::player::RunPlayer(argc, argv);
}
