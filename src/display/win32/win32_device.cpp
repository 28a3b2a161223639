// The Windows display device: DirectDraw loaded on demand and shared by the
// display buffers, the screen's size and depth, the scaling capabilities,
// full-screen modes through DirectDraw or GDI display settings, and the
// cursor over directly written screen pixels.
#include <cstring>

#include "vemo/display_win32.h"
#include "win32_device.h"

namespace vemo {
namespace win32 {
namespace {

using DirectDrawCreateEntry = HRESULT(WINAPI*)(GUID*, IDirectDraw**, IUnknown*);

// The library stays loaded for the life of the process once found; a
// failed load is never tried again.
struct Library {
    bool tried = false;
    HMODULE module = nullptr;
    DirectDrawCreateEntry create = nullptr;
};

Library& DirectDrawLibrary() {
    static Library library;
    if (!library.tried) {
        library.tried = true;
        const UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
        HMODULE module = LoadLibraryA("DDRAW.DLL");
        SetErrorMode(previous);
        if (reinterpret_cast<uintptr_t>(module) >= 32) {
            const FARPROC entry = GetProcAddress(module, "DirectDrawCreate");
            if (entry) {
                library.module = module;
                library.create =
                    reinterpret_cast<DirectDrawCreateEntry>(reinterpret_cast<void (*)()>(entry));
            } else {
                FreeLibrary(module);
            }
        }
    }
    return library;
}

uint32_t ScreenBitsFromGdi() {
    HDC dc = GetDC(nullptr);
    if (!dc) return 0;
    const int bits = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(nullptr, dc);
    return bits > 0 ? static_cast<uint32_t>(bits) : 0;
}

constexpr DeviceEffectBits kOverlayEffects = {DDFXCAPS_OVERLAYSTRETCHX, DDFXCAPS_OVERLAYSTRETCHXN,
                                              DDFXCAPS_OVERLAYSHRINKX,  DDFXCAPS_OVERLAYSHRINKXN,
                                              DDFXCAPS_OVERLAYSTRETCHY, DDFXCAPS_OVERLAYSTRETCHYN,
                                              DDFXCAPS_OVERLAYSHRINKY,  DDFXCAPS_OVERLAYSHRINKYN};
constexpr DeviceEffectBits kBlitEffects = {
    DDFXCAPS_BLTSTRETCHX, DDFXCAPS_BLTSTRETCHXN, DDFXCAPS_BLTSHRINKX, DDFXCAPS_BLTSHRINKXN,
    DDFXCAPS_BLTSTRETCHY, DDFXCAPS_BLTSTRETCHYN, DDFXCAPS_BLTSHRINKY, DDFXCAPS_BLTSHRINKYN};

void ReleasePrimary(SharedDirectDraw& s) {
    if (s.primary) s.primary->Release();
    s.primary = nullptr;
}

// The primary surface with the capabilities, pixel layout and colour key
// read from the device.
bool CreatePrimary(SharedDirectDraw& s) {
    ReleasePrimary(s);
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(s.object->CreateSurface(&desc, &s.primary, nullptr))) {
        s.primary = nullptr;
        return false;
    }
    DDCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    s.overlay_capabilities = s.blit_capabilities = 0;
    if (SUCCEEDED(s.object->GetCaps(&caps, nullptr))) {
        s.overlay_capabilities = ScaleCapabilitiesFromEffects(caps.dwFXCaps, kOverlayEffects);
        s.blit_capabilities = ScaleCapabilitiesFromEffects(caps.dwFXCaps, kBlitEffects);
    }
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof format);
    format.dwSize = sizeof format;
    s.primary_bits = 0;
    s.colour_key = 0;
    if (SUCCEEDED(s.primary->GetPixelFormat(&format))) {
        s.primary_bits = format.dwRGBBitCount;
        s.colour_key = ColourKeyFor(format.dwRGBBitCount, format.dwRBitMask, format.dwBBitMask);
    }
    return true;
}

void StopDirectDraw(SharedDirectDraw& s) {
    ReleasePrimary(s);
    if (s.object) s.object->Release();
    s = SharedDirectDraw{};
}

class Win32DisplaySystem : public DisplaySystem {
  public:
    bool StartDevice(DisplayWindow window) override {
        SharedDirectDraw& s = Shared();
        if (s.object) return true;
        const Library& library = DirectDrawLibrary();
        if (!library.create) return false;
        if (FAILED(library.create(nullptr, &s.object, nullptr)) || !s.object) {
            s.object = nullptr;
            return false;
        }
        // A full-screen request takes the screen exclusively in SetMode.
        if (FAILED(s.object->SetCooperativeLevel(static_cast<HWND>(window), DDSCL_NORMAL)) ||
            !CreatePrimary(s)) {
            StopDirectDraw(s);
            return false;
        }
        window_ = static_cast<HWND>(window);
        return true;
    }

    void StopDevice() override {
        StopDirectDraw(Shared());
        exclusive_ = false;
    }

    DisplayScreen ReadScreen(DisplayWindow) override {
        DisplayScreen screen;
        screen.width = static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN));
        screen.height = static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN));
        screen.bits_per_pixel = ScreenBitsFromGdi();
        const SharedDirectDraw& s = Shared();
        screen.bytes_per_pixel = (s.primary ? s.primary_bits : screen.bits_per_pixel) / 8;
        return screen;
    }

    uint32_t OverlayCapabilities() override { return Shared().overlay_capabilities; }
    uint32_t BlitCapabilities() override { return Shared().blit_capabilities; }

    bool SetMode(DisplayWindow window, uint32_t width, uint32_t height, uint32_t depth,
                 uint32_t* depth_now) override {
        SharedDirectDraw& s = Shared();
        if (s.object) {
            if (depth == 0) return false;
            if (!exclusive_) {
                const DWORD level = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;
                if (FAILED(s.object->SetCooperativeLevel(static_cast<HWND>(window), level))) {
                    return false;
                }
                exclusive_ = true;
            }
            if (FAILED(s.object->SetDisplayMode(width, height, depth))) return false;
            // The old primary belongs to the old mode.
            CreatePrimary(s);
            *depth_now = ScreenBitsFromGdi();
            return true;
        }
        DEVMODEA mode;
        std::memset(&mode, 0, sizeof mode);
        mode.dmSize = sizeof mode;
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | (depth ? DM_BITSPERPEL : 0);
        mode.dmPelsWidth = width;
        mode.dmPelsHeight = height;
        mode.dmBitsPerPel = depth;
        if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) return false;
        *depth_now = ScreenBitsFromGdi();
        return true;
    }

    void RestoreMode(DisplayWindow window) override {
        SharedDirectDraw& s = Shared();
        if (s.object) {
            s.object->RestoreDisplayMode();
            if (exclusive_) {
                s.object->SetCooperativeLevel(static_cast<HWND>(window), DDSCL_NORMAL);
                exclusive_ = false;
            }
            CreatePrimary(s);
            return;
        }
        ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN);
    }

    WindowGeometry Geometry(DisplayWindow window) override {
        WindowGeometry g;
        HWND hwnd = static_cast<HWND>(window);
        RECT outer, client;
        POINT origin{0, 0};
        if (!hwnd || !GetWindowRect(hwnd, &outer) || !GetClientRect(hwnd, &client) ||
            !ClientToScreen(hwnd, &origin)) {
            return g;
        }
        g.valid = true;
        g.visible = IsWindowVisible(hwnd) != 0;
        g.minimised = IsIconic(hwnd) != 0;
        g.window_x = outer.left;
        g.window_y = outer.top;
        g.window_width = outer.right - outer.left;
        g.window_height = outer.bottom - outer.top;
        g.client_x = origin.x;
        g.client_y = origin.y;
        g.client_width = client.right - client.left;
        g.client_height = client.bottom - client.top;
        return g;
    }

    DisplaySurface* CreateSurface(DisplayWindow window, uint32_t style, uint32_t width,
                                  uint32_t height, const DisplayScreen& screen) override {
        return CreateStyleSurface(static_cast<HWND>(window), style, width, height, screen);
    }

    const char* StyleName(uint32_t style) const override {
        static const char* const kNames[] = {
            "",
            "DirectDraw primary surface",
            "DIB Section",
            "DirectDraw YV12 overlay",
            "DirectDraw YUY2 overlay",
            "DirectDraw UYVY overlay",
            "DirectDraw YV12 off-screen surface",
            "DirectDraw YUY2 off-screen surface",
            "DirectDraw UYVY off-screen surface",
            "DirectDraw RGB off-screen video surface",
            "DirectDraw RGB off-screen system surface",
        };
        return style <= kBlitStyleCount ? kNames[style] : "";
    }

  private:
    HWND window_ = nullptr;
    bool exclusive_ = false;
};

}  // namespace

SharedDirectDraw& Shared() {
    static SharedDirectDraw shared;
    return shared;
}

int32_t SurfaceFormatOfPixelFormat(const DDPIXELFORMAT& format) {
    PixelLayoutDescription d;
    if (format.dwFlags & DDPF_FOURCC) {
        d.fourcc = format.dwFourCC;
        return SurfaceFormatOf(d);
    }
    d.bits_per_pixel = (format.dwFlags & DDPF_PALETTEINDEXED8) ? 8 : format.dwRGBBitCount;
    d.red_mask = format.dwRBitMask;
    d.green_mask = format.dwGBitMask;
    d.blue_mask = format.dwBBitMask;
    d.alpha_mask = (format.dwFlags & DDPF_ALPHAPIXELS) ? format.dwRGBAlphaBitMask : 0;
    return SurfaceFormatOf(d);
}

int32_t SurfaceFormatOfSurface(IDirectDrawSurface* surface) {
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof format);
    format.dwSize = sizeof format;
    if (!surface || FAILED(surface->GetPixelFormat(&format))) return -1;
    return SurfaceFormatOfPixelFormat(format);
}

bool LockSurface(IDirectDrawSurface* surface, DDSURFACEDESC* desc, bool* lost) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::memset(desc, 0, sizeof *desc);
        desc->dwSize = sizeof *desc;
        const HRESULT r = surface->Lock(nullptr, desc, DDLOCK_WAIT, nullptr);
        if (SUCCEEDED(r)) {
            if (desc->lpSurface) return true;
            surface->Unlock(nullptr);
            return false;
        }
        *lost = true;
        if (r != kSurfaceLost || FAILED(surface->Restore())) return false;
    }
    return false;
}

}  // namespace win32

DisplaySystem* GetWin32DisplaySystem() {
    static win32::Win32DisplaySystem system;
    return &system;
}

uint32_t GetDisplayColourKey() {
    return win32::Shared().colour_key;
}

void* GetSharedDirectDraw() {
    return win32::Shared().object;
}

void* GetSharedPrimarySurface() {
    return win32::Shared().primary;
}

}  // namespace vemo
