// The player program on Windows: the window "VemoWin", the message loop
// that paces playback, keys, focus, the closing image, the summary box and
// the statistics line drawn with GDI, and the screen-saver mode.
#pragma once

namespace vemo::player {

// Runs the player with the process's command line and returns the exit code.
int RunWin32Player();

}  // namespace vemo::player
