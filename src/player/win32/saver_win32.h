// The screen saver's dealings with the system: the password check of the
// Windows 9x family and the "a saver is running" announcement.
#pragma once

#include <windows.h>

namespace vemo::player {

// The password check, asked when input would end a saver run by the system.
// Only the 9x family asks "PASSWORD.CPL"; elsewhere (and without a password,
// the library or its entry point) the check passes. After one success every
// later check passes at once.
class PasswordCheck {
  public:
    bool Passes(HWND window);

  private:
    bool passed_ = false;
};

// Tells the system that a screen saver runs (true) or no longer runs.
void AnnounceSaverRunning(bool running);

}  // namespace vemo::player
