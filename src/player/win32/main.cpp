// vemoplay.exe: the Vemo movie player.
#include <windows.h>

#include "player.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return vemo::player::RunWin32Player();
}
