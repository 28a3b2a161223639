// Process-wide display state: the shared device, the mode request and the
// screen values every display buffer copies at open.
#include "vemo/display_device.h"

#include <cstring>
#include <string>

namespace vemo {
namespace {

struct DisplayState {
    DisplaySystem* system = nullptr;
    bool device_started = false;
    int32_t device_users = 0;
    int32_t mode_users = 0;            // buffers that went through the device-less path
    bool mode_changed = false;         // a device-less mode change is in force
    bool device_mode_changed = false;  // a device mode change is in force
    DisplayWindow mode_window = nullptr;
    DisplayModeRequest request;
    DisplayScreen screen;
    std::string last_error;
};

DisplayState& State() {
    static DisplayState state;
    return state;
}

bool RequestComplete(const DisplayModeRequest& r) {
    return r.width != 0 && r.height != 0 && r.depth != 0;
}

void ReadScreenInto(DisplayState& s, DisplayWindow window) {
    if (s.system) s.screen = s.system->ReadScreen(window);
}

}  // namespace

void SetDisplayModeRequest(uint32_t width, uint32_t height, uint32_t depth) {
    State().request = DisplayModeRequest{width, height, depth};
}

DisplayModeRequest GetDisplayModeRequest() {
    return State().request;
}

int DepthsToTry(uint32_t depth, uint32_t depths[3]) {
    switch (depth) {
        case kDepthAtLeastHighColour:
            depths[0] = 16, depths[1] = 32, depths[2] = 24;
            return 3;
        case kDepthTryTrueColour:
            depths[0] = 32, depths[1] = 24, depths[2] = 16;
            return 3;
        case kDepthTrueColourOnly:
            depths[0] = 32, depths[1] = 24;
            return 2;
        case 8:
        case 16:
        case 24:
        case 32:
            depths[0] = depth;
            return 1;
        default:
            return 0;
    }
}

bool WalkDisplayDepths(const DisplayModeRequest& request, bool resolution_fallback,
                       const ModeAttempt& attempt, const ModeUndo& undo) {
    uint32_t depths[3] = {0, 0, 0};
    const int count = DepthsToTry(request.depth, depths);
    bool in_force = false;
    for (int i = 0; i < count; ++i) {
        uint32_t now = 0;
        if (!attempt(request.width, request.height, depths[i], &now)) continue;
        if (now == depths[i]) return true;
        // The device took the mode but shows another depth: undo it when we
        // can and try the next one; otherwise the last one taken stays.
        if (undo) {
            undo();
        } else {
            in_force = true;
        }
    }
    if (in_force) return true;
    if (!resolution_fallback) return false;
    uint32_t now = 0;
    return attempt(request.width, request.height, 0, &now);
}

uint32_t ColourKeyFor(uint32_t bits_per_pixel, uint32_t red_mask, uint32_t blue_mask) {
    if (bits_per_pixel == 8) return 253;
    return (red_mask & (~red_mask + 1)) + (blue_mask & (~blue_mask + 1));
}

const char* GetLastDisplayError() {
    return State().last_error.c_str();
}

void SetLastDisplayError(const char* text) {
    State().last_error = text ? text : "";
}

void SetDisplaySystem(DisplaySystem* system) {
    State().system = system;
}

DisplaySystem* GetDisplaySystem() {
    return State().system;
}

bool AcquireDisplayDevice(DisplayWindow window, bool want_full_screen) {
    DisplayState& s = State();
    if (!s.device_started) {
        if (!s.system || !s.system->StartDevice(window)) return false;
        s.device_started = true;
        if (want_full_screen && RequestComplete(s.request)) {
            DisplaySystem* system = s.system;
            const bool taken = WalkDisplayDepths(
                s.request, false,
                [&](uint32_t w, uint32_t h, uint32_t depth, uint32_t* now) {
                    return system->SetMode(window, w, h, depth, now);
                },
                nullptr);
            if (taken) {
                s.device_mode_changed = true;
                s.mode_window = window;
            }
            s.request = DisplayModeRequest{};
        }
        ReadScreenInto(s, window);
    }
    ++s.device_users;
    return true;
}

void ReleaseDisplayDevice() {
    DisplayState& s = State();
    if (s.device_users <= 0) return;
    if (--s.device_users > 0) return;
    if (s.device_mode_changed && s.system) s.system->RestoreMode(s.mode_window);
    s.device_mode_changed = false;
    if (s.system && s.device_started) s.system->StopDevice();
    s.device_started = false;
}

bool ChangeDisplayModeWithoutDevice(DisplayWindow window, bool want_full_screen) {
    DisplayState& s = State();
    if (s.device_started) return false;
    if (s.system && want_full_screen && s.request.width != 0 && s.request.height != 0 &&
        s.request.depth != 0) {
        DisplaySystem* system = s.system;
        const bool taken = WalkDisplayDepths(
            s.request, true,
            [&](uint32_t w, uint32_t h, uint32_t depth, uint32_t* now) {
                return system->SetMode(window, w, h, depth, now);
            },
            [&] { system->RestoreMode(window); });
        if (taken) {
            s.mode_changed = true;
            s.mode_window = window;
        }
        s.request = DisplayModeRequest{};
    }
    ReadScreenInto(s, window);
    ++s.mode_users;
    return true;
}

void RestoreDisplayModeWithoutDevice() {
    DisplayState& s = State();
    if (s.mode_users <= 0) return;
    if (--s.mode_users > 0) return;
    if (s.mode_changed) {
        s.mode_changed = false;
        if (s.system) s.system->RestoreMode(s.mode_window);
    }
}

DisplayScreen GetDisplayScreen() {
    return State().screen;
}

bool DisplayDeviceInUse() {
    return State().device_started;
}

void ResetDisplayState() {
    DisplaySystem* system = State().system;
    State() = DisplayState{};
    State().system = system;
}

}  // namespace vemo
