#include "gdi_display.h"

#include <windows.h>

#include <cstring>

#include "vemo/display_buffer.h"
#include "vemo/surface_format.h"

namespace vemo::player {

namespace {

HWND WindowOf(DisplayWindow window) {
    return static_cast<HWND>(window);
}

// A top-down DIB section of 32-bit pixels, copied to the window with
// StretchBlt.
class DibSurface : public DisplaySurface {
  public:
    DibSurface(HWND window, uint32_t width, uint32_t height) : window_(window) {
        HDC dc = ::GetDC(window);
        memory_dc_ = ::CreateCompatibleDC(dc);
        ::ReleaseDC(window, dc);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = static_cast<LONG>((width + 7) & ~7u);
        info.bmiHeader.biHeight = -static_cast<LONG>(height);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        pitch_ = info.bmiHeader.biWidth * 4;
        if (memory_dc_) {
            bitmap_ = ::CreateDIBSection(memory_dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        }
        if (bitmap_) old_ = ::SelectObject(memory_dc_, bitmap_);
    }
    ~DibSurface() override {
        if (old_) ::SelectObject(memory_dc_, old_);
        if (bitmap_) ::DeleteObject(bitmap_);
        if (memory_dc_) ::DeleteDC(memory_dc_);
    }
    bool ok() const { return bitmap_ && bits_; }
    int32_t format() const override { return kSurfaceXrgb32; }
    LockResult Lock(const BlitTarget&, uint8_t** pixels, int32_t* pitch) override {
        ::GdiFlush();
        *pixels = static_cast<uint8_t*>(bits_);
        *pitch = pitch_;
        return kLockKept;
    }
    void Unlock() override {}
    void Show(const DisplayRect*, int, const BlitTarget& t) override {
        HDC dc = ::GetDC(window_);
        if (!dc) return;
        const int w = static_cast<int>(t.scaled_width ? t.scaled_width : t.width);
        const int h = static_cast<int>(t.scaled_height ? t.scaled_height : t.height);
        ::SetStretchBltMode(dc, COLORONCOLOR);
        ::StretchBlt(dc, t.client_x, t.client_y, w, h, memory_dc_, 0, 0, static_cast<int>(t.width),
                     static_cast<int>(t.height), SRCCOPY);
        ::ReleaseDC(window_, dc);
    }

  private:
    HWND window_;
    HDC memory_dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
    int32_t pitch_ = 0;
};

class GdiDisplaySystem : public DisplaySystem {
  public:
    bool StartDevice(DisplayWindow) override { return false; }
    void StopDevice() override {}
    DisplayScreen ReadScreen(DisplayWindow window) override {
        DisplayScreen screen;
        HDC dc = ::GetDC(WindowOf(window));
        if (!dc) return screen;
        screen.width = static_cast<uint32_t>(::GetDeviceCaps(dc, HORZRES));
        screen.height = static_cast<uint32_t>(::GetDeviceCaps(dc, VERTRES));
        screen.bits_per_pixel = static_cast<uint32_t>(::GetDeviceCaps(dc, BITSPIXEL));
        screen.bytes_per_pixel = (screen.bits_per_pixel + 7) / 8;
        ::ReleaseDC(WindowOf(window), dc);
        return screen;
    }
    uint32_t OverlayCapabilities() override { return 0; }
    uint32_t BlitCapabilities() override { return 0; }
    bool SetMode(DisplayWindow, uint32_t, uint32_t, uint32_t, uint32_t*) override { return false; }
    void RestoreMode(DisplayWindow) override {}
    WindowGeometry Geometry(DisplayWindow window) override {
        WindowGeometry g;
        HWND hwnd = WindowOf(window);
        RECT outer{}, client{};
        if (!hwnd || !::GetWindowRect(hwnd, &outer) || !::GetClientRect(hwnd, &client)) return g;
        POINT origin{0, 0};
        ::ClientToScreen(hwnd, &origin);
        g.valid = true;
        g.visible = ::IsWindowVisible(hwnd) != 0;
        g.minimised = ::IsIconic(hwnd) != 0;
        g.window_x = outer.left;
        g.window_y = outer.top;
        g.window_width = outer.right - outer.left;
        g.window_height = outer.bottom - outer.top;
        g.client_x = origin.x;
        g.client_y = origin.y;
        g.client_width = client.right;
        g.client_height = client.bottom;
        return g;
    }
    DisplaySurface* CreateSurface(DisplayWindow window, uint32_t style, uint32_t width,
                                  uint32_t height, const DisplayScreen&) override {
        if (style != kBlitDibSection) return nullptr;
        auto* surface = new DibSurface(WindowOf(window), width, height);
        if (surface->ok()) return surface;
        delete surface;
        return nullptr;
    }
    const char* StyleName(uint32_t style) const override {
        return style == kBlitDibSection ? "DIB Section" : "";
    }
};

}  // namespace

DisplaySystem* GetGdiDisplaySystem() {
    static GdiDisplaySystem system;
    return &system;
}

}  // namespace vemo::player
