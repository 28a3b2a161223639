// The cursor over pixels written straight into the screen: a one-time test
// whether the system draws the cursor in software (then a write under it is
// painted over when the cursor moves), and hiding it over a buffer's area
// while the buffer is locked.
#include <cstring>

#include "vemo/display_win32.h"
#include "win32_device.h"

namespace vemo {
namespace {

struct CursorTestCache {
    bool valid = false;
    HCURSOR cursor = nullptr;
    void* address = nullptr;
    uint32_t bits = 0;
    int answer = 0;
};

LRESULT CALLBACK PaintNothing(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_DESTROY) return 0;
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// Hides the cursor until its count is negative; returns the calls made.
int HideFully() {
    int calls = 1;
    while (ShowCursor(FALSE) >= 0) ++calls;
    return calls;
}

// Shows it until the count is not negative.
void ShowAgain() {
    while (ShowCursor(TRUE) < 0) {
    }
}

// Writes one byte into the primary surface at a screen pixel.
bool WriteScreenByte(IDirectDrawSurface* primary, POINT at, uint32_t bits, uint8_t value) {
    DDSURFACEDESC desc;
    bool lost = false;
    if (!win32::LockSurface(primary, &desc, &lost)) return false;
    static_cast<uint8_t*>(desc.lpSurface)[static_cast<size_t>(at.y) * desc.lPitch +
                                          static_cast<size_t>(at.x) * (bits / 8)] = value;
    primary->Unlock(desc.lpSurface);
    return true;
}

// Steps 4-7 of the test: a window under the cursor, a write under its hot
// spot, and whether the system painted the saved background over it.
int ProbeCursor(IDirectDrawSurface* primary, HCURSOR cursor, uint32_t bits) {
    WNDCLASSA window_class;
    std::memset(&window_class, 0, sizeof window_class);
    window_class.style = CS_BYTEALIGNCLIENT;
    window_class.lpfnWndProc = PaintNothing;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = cursor;
    window_class.lpszClassName = "MouseTypeWind";
    RegisterClassA(&window_class);
    POINT at{0, 0};
    GetCursorPos(&at);
    HWND probe =
        CreateWindowExA(WS_EX_TOPMOST, "MouseTypeWind", "", WS_POPUP | WS_VISIBLE, at.x - 16,
                        at.y - 16, 32, 32, nullptr, nullptr, window_class.hInstance, nullptr);
    int answer = 0;
    if (probe) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        POINT local = at;
        ScreenToClient(probe, &local);
        HDC dc = GetDC(probe);
        HideFully();
        const COLORREF before = GetPixel(dc, local.x, local.y);
        SetCursor(cursor);
        ShowAgain();
        if (at.x >= 0 && at.y >= 0 &&
            WriteScreenByte(primary, at, bits, before == 0 ? 0xFF : 0x00)) {
            HideFully();
            const COLORREF after = GetPixel(dc, local.x, local.y);
            if (after == before) {
                answer = 1;
            } else {
                SetPixel(dc, local.x, local.y, before);
            }
            ShowAgain();
        }
        ReleaseDC(probe, dc);
        DestroyWindow(probe);
    }
    UnregisterClassA("MouseTypeWind", window_class.hInstance);
    return answer;
}

}  // namespace

int IsSoftwareCursor(void* primary_surface, void* cursor_handle) {
    static CursorTestCache cache;
    auto* primary = static_cast<IDirectDrawSurface*>(primary_surface);
    auto* cursor = static_cast<HCURSOR>(cursor_handle);
    if (!primary || GetSystemMetrics(SM_MOUSEPRESENT) == 0) return 0;
    DDSURFACEDESC desc;
    bool lost = false;
    if (!win32::LockSurface(primary, &desc, &lost)) return 0;
    void* address = desc.lpSurface;
    const uint32_t bits = desc.ddpfPixelFormat.dwRGBBitCount;
    primary->Unlock(address);
    if (cache.valid && cache.cursor == cursor && cache.address == address && cache.bits == bits) {
        return cache.answer;
    }
    // The probe leaves the show count and the cursor as it found them.
    const int count = ShowCursor(TRUE) - 1;
    ShowCursor(FALSE);
    HCURSOR previous = GetCursor();
    const int answer = bits >= 8 ? ProbeCursor(primary, cursor, bits) : 0;
    int now = ShowCursor(TRUE);
    while (now > count) now = ShowCursor(FALSE);
    while (now < count) now = ShowCursor(TRUE);
    SetCursor(previous);
    cache = CursorTestCache{true, cursor, address, bits, answer};
    return answer;
}

int HideCursorOver(DisplayWindow window, int32_t x, int32_t y, int32_t width, int32_t height) {
    static const int cursor_width = GetSystemMetrics(SM_CXCURSOR);
    static const int cursor_height = GetSystemMetrics(SM_CYCURSOR);
    POINT origin{x, y};
    if (window) ClientToScreen(static_cast<HWND>(window), &origin);
    POINT at{0, 0};
    if (!GetCursorPos(&at)) return 0;
    const int64_t left = origin.x, top = origin.y;
    if (at.x >= left + width || at.y >= top + height || at.x + cursor_width <= left ||
        at.y + cursor_height <= top) {
        return 0;
    }
    return HideFully();
}

void ShowCursorTimes(int count) {
    for (int i = 0; i < count; ++i) ShowCursor(TRUE);
}

}  // namespace vemo
