// The ten blitting styles on DirectDraw and GDI: the primary surface written
// directly, a DIB section stretched onto the window, YUV overlays keyed into
// the window, and off-screen surfaces blitted to the primary surface.
#include <cstring>

#include "vemo/display_buffer.h"
#include "vemo/display_win32.h"
#include "win32_device.h"

namespace vemo::win32 {
namespace {

RECT ToRect(const DisplayRect& r) {
    return RECT{r.x, r.y, r.x + r.width, r.y + r.height};
}

// The rectangles a blit shows: the list, or the whole buffer.
int RectsToShow(const DisplayRect* rects, int count, const BlitTarget& t, DisplayRect* whole) {
    *whole = DisplayRect{0, 0, static_cast<int32_t>(t.width), static_cast<int32_t>(t.height)};
    return rects ? count : 1;
}

// What the DirectDraw styles share: the window's clipper, attached to the
// primary surface around each blit.
class DirectDrawStyle : public DisplaySurface {
  public:
    DirectDrawStyle(HWND window, IDirectDrawSurface* surface, int32_t format)
        : window_(window), surface_(surface), format_(format) {
        IDirectDraw* object = Shared().object;
        if (object && SUCCEEDED(object->CreateClipper(0, &clipper_, nullptr)) && clipper_) {
            clipper_->SetHWnd(0, window);
        } else {
            clipper_ = nullptr;
        }
    }
    ~DirectDrawStyle() override {
        if (clipper_) clipper_->Release();
        if (surface_ && surface_ != Shared().primary) surface_->Release();
    }
    int32_t format() const override { return format_; }

    LockResult Lock(const BlitTarget& target, uint8_t** pixels, int32_t* pitch) override {
        target_ = target;
        bool lost = false;
        DDSURFACEDESC desc;
        if (!LockSurface(surface_, &desc, &lost)) return kLockFailed;
        locked_ = desc.lpSurface;
        *pixels = static_cast<uint8_t*>(desc.lpSurface);
        *pitch = static_cast<int32_t>(desc.lPitch);
        return lost ? kLockLost : kLockKept;
    }

    void Unlock() override {
        if (locked_) surface_->Unlock(locked_);
        locked_ = nullptr;
    }

  protected:
    // Attaches the clipper to the primary surface for the life of a blit.
    class Clipped {
      public:
        explicit Clipped(IDirectDrawClipper* clipper) : clipper_(clipper) {
            if (clipper_ && Shared().primary) Shared().primary->SetClipper(clipper_);
        }
        ~Clipped() {
            if (clipper_ && Shared().primary) Shared().primary->SetClipper(nullptr);
        }

      private:
        IDirectDrawClipper* clipper_;
    };

    HWND window_;
    IDirectDrawSurface* surface_;
    int32_t format_;
    IDirectDrawClipper* clipper_ = nullptr;
    void* locked_ = nullptr;
    BlitTarget target_;
};

// ------------------------------------------------------------- style 1
class PrimaryStyle : public DirectDrawStyle {
  public:
    PrimaryStyle(HWND window, int32_t format, uint32_t bytes_per_pixel)
        : DirectDrawStyle(window, Shared().primary, format), bytes_(bytes_per_pixel) {
        const auto cursor =
            reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCLP_HCURSOR));  // NOLINT
        software_cursor_ = IsSoftwareCursor(Shared().primary, cursor) != 0;
    }

    LockResult Lock(const BlitTarget& t, uint8_t** pixels, int32_t* pitch) override {
        // The buffer must lie on the screen: one pointer and pitch cannot
        // describe a buffer partly outside the screen's pixels.
        const int64_t right = static_cast<int64_t>(t.screen_x) + t.width;
        const int64_t bottom = static_cast<int64_t>(t.screen_y) + t.height;
        if (t.screen_x < 0 || t.screen_y < 0 || right > GetSystemMetrics(SM_CXSCREEN) ||
            bottom > GetSystemMetrics(SM_CYSCREEN)) {
            return kLockFailed;
        }
        if (software_cursor_) {
            hidden_ = HideCursorOver(nullptr, t.screen_x, t.screen_y, static_cast<int32_t>(t.width),
                                     static_cast<int32_t>(t.height));
        }
        uint8_t* base = nullptr;
        const LockResult r = DirectDrawStyle::Lock(t, &base, pitch);
        if (r == kLockFailed) {
            ShowCursorTimes(hidden_);
            hidden_ = 0;
            return r;
        }
        *pixels = base + static_cast<size_t>(t.screen_y) * static_cast<size_t>(*pitch) +
                  static_cast<size_t>(t.screen_x) * bytes_;
        return r;
    }

    void Unlock() override {
        DirectDrawStyle::Unlock();
        ShowCursorTimes(hidden_);
        hidden_ = 0;
    }

    // The frame was written to the screen.
    void Show(const DisplayRect*, int, const BlitTarget&) override {}

  private:
    uint32_t bytes_;
    bool software_cursor_ = false;
    int hidden_ = 0;
};

DisplaySurface* MakePrimary(HWND window, const DisplayScreen& screen) {
    IDirectDrawSurface* primary = Shared().primary;
    if (!primary) return nullptr;
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    const HRESULT r = primary->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    if (r == kCannotLockSurface) return nullptr;
    if (SUCCEEDED(r)) primary->Unlock(desc.lpSurface);
    return new PrimaryStyle(window, SurfaceFormatOfSurface(primary), screen.bytes_per_pixel);
}

// ------------------------------------------------------------- styles 3-5
class OverlayStyle : public DirectDrawStyle {
  public:
    using DirectDrawStyle::DirectDrawStyle;
    ~OverlayStyle() override {
        if (Shared().primary)
            surface_->UpdateOverlay(nullptr, Shared().primary, nullptr, DDOVER_HIDE, nullptr);
    }

    void Unlock() override {
        DirectDrawStyle::Unlock();
        if (placed_) Update(target_, true);
    }

    void Moved(const BlitTarget& target, bool shown) override {
        placed_ = true;
        Update(target, shown);
    }

    // Paints the colour key where the overlay shows through.
    void Show(const DisplayRect* rects, int count, const BlitTarget& t) override {
        IDirectDrawSurface* primary = Shared().primary;
        if (!primary) return;
        Clipped clipped(clipper_);
        DDBLTFX fx;
        std::memset(&fx, 0, sizeof fx);
        fx.dwSize = sizeof fx;
        fx.dwFillColor = Shared().colour_key;
        if (!rects) {
            RECT area{t.screen_x, t.screen_y, t.screen_x + static_cast<LONG>(t.scaled_width),
                      t.screen_y + static_cast<LONG>(t.scaled_height)};
            primary->Blt(&area, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
            return;
        }
        for (int i = 0; i < count; ++i) {
            const DisplayRect& r = rects[i];
            RECT area{t.screen_x + r.x, t.screen_y + r.y, t.screen_x + r.x + r.width,
                      t.screen_y + r.y + r.height};
            primary->Blt(&area, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
        }
    }

  private:
    void Update(const BlitTarget& t, bool show) {
        IDirectDrawSurface* primary = Shared().primary;
        if (!primary) return;
        const OverlayPlacement p =
            PlaceOverlay(t, static_cast<uint32_t>(GetSystemMetrics(SM_CXSCREEN)),
                         static_cast<uint32_t>(GetSystemMetrics(SM_CYSCREEN)));
        if (!IsWindowVisible(window_) || p.empty) {
            surface_->UpdateOverlay(nullptr, primary, nullptr, DDOVER_HIDE, nullptr);
            return;
        }
        RECT source{p.source.left, p.source.top, p.source.right, p.source.bottom};
        RECT destination{p.destination.left, p.destination.top, p.destination.right,
                         p.destination.bottom};
        DDOVERLAYFX fx;
        std::memset(&fx, 0, sizeof fx);
        fx.dwSize = sizeof fx;
        fx.dckDestColorkey.dwColorSpaceLowValue = Shared().colour_key;
        fx.dckDestColorkey.dwColorSpaceHighValue = Shared().colour_key;
        const DWORD flags = (show ? DDOVER_SHOW : DDOVER_HIDE) | DDOVER_KEYDESTOVERRIDE;
        surface_->UpdateOverlay(&source, primary, &destination, flags, &fx);
    }

    bool placed_ = false;
};

// ------------------------------------------------------------- styles 6-10
class OffScreenStyle : public DirectDrawStyle {
  public:
    using DirectDrawStyle::DirectDrawStyle;

    void Show(const DisplayRect* rects, int count, const BlitTarget& t) override {
        IDirectDrawSurface* primary = Shared().primary;
        if (!primary) return;
        Clipped clipped(clipper_);
        if (!rects) {
            RECT destination{t.screen_x, t.screen_y, t.screen_x + static_cast<LONG>(t.scaled_width),
                             t.screen_y + static_cast<LONG>(t.scaled_height)};
            primary->Blt(&destination, surface_, nullptr, DDBLT_WAIT, nullptr);
            return;
        }
        for (int i = 0; i < count; ++i) {
            RECT source = ToRect(rects[i]);
            RECT destination = ToRect(ScaleRectToShown(rects[i], t.width, t.height, t.scaled_width,
                                                       t.scaled_height, t.screen_x, t.screen_y));
            primary->Blt(&destination, surface_, &source, DDBLT_WAIT, nullptr);
        }
    }
};

uint32_t FourCcOfStyle(uint32_t style) {
    switch (style) {
        case kBlitYv12Overlay:
        case kBlitYv12OffScreen:
            return kFourCcYv12;
        case kBlitYuy2Overlay:
        case kBlitYuy2OffScreen:
            return kFourCcYuy2;
        case kBlitUyvyOverlay:
        case kBlitUyvyOffScreen:
            return kFourCcUyvy;
        default:
            return 0;
    }
}

DisplaySurface* MakeDirectDrawSurface(HWND window, uint32_t style, uint32_t width,
                                      uint32_t height) {
    IDirectDraw* object = Shared().object;
    if (!object) return nullptr;
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.dwWidth = width;
    desc.dwHeight = height;
    const bool overlay = style >= kBlitYv12Overlay && style <= kBlitUyvyOverlay;
    const uint32_t fourcc = FourCcOfStyle(style);
    desc.ddsCaps.dwCaps = overlay                   ? DDSCAPS_OVERLAY | DDSCAPS_VIDEOMEMORY
                          : style == kBlitRgbSystem ? DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY
                                                    : DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (fourcc) {
        desc.dwFlags |= DDSD_PIXELFORMAT;
        desc.ddpfPixelFormat.dwSize = sizeof desc.ddpfPixelFormat;
        desc.ddpfPixelFormat.dwFlags = DDPF_FOURCC;
        desc.ddpfPixelFormat.dwFourCC = fourcc;
    }
    IDirectDrawSurface* surface = nullptr;
    if (FAILED(object->CreateSurface(&desc, &surface, nullptr)) || !surface) return nullptr;
    const int32_t format = SurfaceFormatOfSurface(surface);
    if (format < 0 || format == kSurfacePalette8) {
        surface->Release();
        if (format < 0) SetLastDisplayError(kDisplayErrorVideoMode);
        return nullptr;
    }
    if (overlay) return new OverlayStyle(window, surface, format);
    return new OffScreenStyle(window, surface, format);
}

// ------------------------------------------------------------- style 2
class DibStyle : public DisplaySurface {
  public:
    ~DibStyle() override {
        if (memory_dc_) {
            if (previous_) SelectObject(memory_dc_, previous_);
            DeleteDC(memory_dc_);
        }
        if (bitmap_) DeleteObject(bitmap_);
    }
    int32_t format() const override { return format_; }

    static DibStyle* Make(HWND window, uint32_t width, uint32_t height,
                          const DisplayScreen& screen);

    LockResult Lock(const BlitTarget&, uint8_t** pixels, int32_t* pitch) override {
        GdiFlush();  // GDI may still be reading the bits
        *pixels = bits_;
        *pitch = pitch_;
        return kLockKept;
    }
    void Unlock() override {}

    void Show(const DisplayRect* rects, int count, const BlitTarget& t) override {
        HDC dc = GetDC(window_);
        if (!dc) return;
        SetStretchBltMode(dc, COLORONCOLOR);
        DisplayRect whole;
        const int n = RectsToShow(rects, count, t, &whole);
        for (int i = 0; i < n; ++i) {
            const DisplayRect& r = rects ? rects[i] : whole;
            const DisplayRect d = ScaleRectToShown(r, t.width, t.height, t.scaled_width,
                                                   t.scaled_height, t.client_x, t.client_y);
            StretchBlt(dc, d.x, d.y, d.width, d.height, memory_dc_, r.x, r.y, r.width, r.height,
                       SRCCOPY);
        }
        ReleaseDC(window_, dc);
    }

  private:
    HWND window_ = nullptr;
    HDC memory_dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint8_t* bits_ = nullptr;
    int32_t pitch_ = 0;
    int32_t format_ = -1;
};

// The 16-bit layout of the window's screen: 565 when GDI reports it.
bool ScreenIs565(HDC window_dc) {
    HBITMAP probe = CreateCompatibleBitmap(window_dc, 1, 1);
    if (!probe) return false;
    struct {
        BITMAPINFOHEADER header;
        DWORD masks[256];
    } info;
    std::memset(&info, 0, sizeof info);
    info.header.biSize = sizeof info.header;
    // The first call fills the header, the second the masks.
    GetDIBits(window_dc, probe, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    GetDIBits(window_dc, probe, 0, 1, nullptr, reinterpret_cast<BITMAPINFO*>(&info),
              DIB_RGB_COLORS);
    DeleteObject(probe);
    return info.header.biCompression == BI_BITFIELDS && info.masks[0] == 0xF800;
}

DibStyle* DibStyle::Make(HWND window, uint32_t width, uint32_t height,
                         const DisplayScreen& screen) {
    const uint32_t bytes = screen.bytes_per_pixel;
    if (bytes < 2 || bytes > 4) return nullptr;
    HDC window_dc = GetDC(window);
    if (!window_dc) return nullptr;
    auto* dib = new DibStyle();
    dib->window_ = window;
    dib->memory_dc_ = CreateCompatibleDC(window_dc);
    struct {
        BITMAPINFOHEADER header;
        DWORD masks[256];
    } info;
    std::memset(&info, 0, sizeof info);
    const uint32_t row_pixels = SoftwareRowPixels(width, bytes);
    info.header.biSize = sizeof info.header;
    info.header.biWidth = static_cast<LONG>(row_pixels);
    info.header.biHeight = -static_cast<LONG>(height);  // top-down rows
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(8 * bytes);
    info.header.biCompression = bytes == 3 ? BI_RGB : BI_BITFIELDS;
    if (bytes > 2) {
        info.masks[0] = 0xFF0000, info.masks[1] = 0x00FF00, info.masks[2] = 0x0000FF;
        dib->format_ = bytes == 3 ? kSurfaceBgr24 : kSurfaceXrgb32;
    } else if (ScreenIs565(window_dc)) {
        info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
        dib->format_ = kSurfaceRgb565;
    } else {
        info.masks[0] = 0x7C00, info.masks[1] = 0x03E0, info.masks[2] = 0x001F;
        dib->format_ = kSurfaceRgb555;
    }
    ReleaseDC(window, window_dc);
    void* bits = nullptr;
    if (dib->memory_dc_) {
        dib->bitmap_ = CreateDIBSection(dib->memory_dc_, reinterpret_cast<BITMAPINFO*>(&info),
                                        DIB_RGB_COLORS, &bits, nullptr, 0);
    }
    if (!dib->bitmap_ || !bits) {
        delete dib;
        return nullptr;
    }
    dib->previous_ = SelectObject(dib->memory_dc_, dib->bitmap_);
    dib->bits_ = static_cast<uint8_t*>(bits);
    // The bitmap's own row length (its width is rounded up to whole 32-byte rows).
    dib->pitch_ = static_cast<int32_t>((row_pixels * bytes + 3) & ~3u);
    return dib;
}

}  // namespace

DisplaySurface* CreateStyleSurface(HWND window, uint32_t style, uint32_t width, uint32_t height,
                                   const DisplayScreen& screen) {
    if (!window) return nullptr;
    if (style == kBlitDibSection) return DibStyle::Make(window, width, height, screen);
    if (style == kBlitPrimary) return MakePrimary(window, screen);
    if (style >= kBlitYv12Overlay && style <= kBlitRgbSystem) {
        return MakeDirectDrawSurface(window, style, width, height);
    }
    return nullptr;
}

}  // namespace vemo::win32
