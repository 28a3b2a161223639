#include "saver_win32.h"

namespace vemo::player {

namespace {

bool IsWindows9x() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

bool PasswordWanted() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0, size = sizeof value, type = 0;
    LONG status = ::RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, &type,
                                     reinterpret_cast<BYTE*>(&value), &size);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && value != 0;
}

}  // namespace

bool PasswordCheck::Passes(HWND window) {
    if (passed_) return true;
    bool ok = true;
    if (IsWindows9x() && PasswordWanted()) {
        if (HMODULE library = ::LoadLibraryA("PASSWORD.CPL")) {
            using Verify = BOOL(WINAPI*)(HWND);
            // Through the generic function type, which any entry point may take.
            auto verify = reinterpret_cast<Verify>(
                reinterpret_cast<void (*)()>(::GetProcAddress(library, "VerifyScreenSavePwd")));
            if (verify) ok = verify(window) != 0;
            ::FreeLibrary(library);
        }
    }
    passed_ = ok;
    return ok;
}

void AnnounceSaverRunning(bool running) {
    BOOL previous = FALSE;
    ::SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, running ? TRUE : FALSE, &previous, 0);
}

}  // namespace vemo::player
