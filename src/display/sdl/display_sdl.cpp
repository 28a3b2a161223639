// The display system on SDL2. Styles 1 and 2 write the window's own surface
// (directly, or through a software surface scaled onto it); styles 3-10 use
// an SDL renderer with a streaming texture. The renderer styles keep their
// pixels in a buffer of ours that lives as long as the display buffer, since
// the copy rewrites only the changed areas and SDL does not promise that a
// locked streaming texture still holds the previous frame; a blit uploads
// the changed areas and draws the texture at the shown size.
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "display_sdl.h"
#include "vemo/display_buffer.h"
#include "vemo/display_rules.h"

namespace vemo {
namespace {

DisplayPresentHook g_hook = nullptr;
void* g_hook_context = nullptr;
uint64_t g_pixels_pushed = 0;

// Pushes the window surface's pixels: the whole surface, or the rectangles.
void PushWindowSurface(SDL_Window* window, const SDL_Surface* surface,
                       const std::vector<SDL_Rect>* rects) {
    if (!rects) {
        g_pixels_pushed += static_cast<uint64_t>(surface->w) * static_cast<uint64_t>(surface->h);
        SDL_UpdateWindowSurface(window);
        return;
    }
    if (rects->empty()) return;
    for (const SDL_Rect& r : *rects) g_pixels_pushed += static_cast<uint64_t>(r.w) * r.h;
    SDL_UpdateWindowSurfaceRects(window, rects->data(), static_cast<int>(rects->size()));
}

bool EnsureVideo() {
    // A window's surface comes straight from the video driver, not from a
    // renderer SDL would make behind our back and keep bound to the window
    // (which would refuse the renderer styles afterwards). The environment
    // may still say otherwise.
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

uint32_t DepthOfSdlFormat(Uint32 format) {
    const uint32_t bytes = SDL_BYTESPERPIXEL(format);
    return bytes <= 1 ? 8 : bytes * 8;
}

// What each window is drawn with: its surface (styles 1, 2) or a renderer.
struct WindowUse {
    int surface_users = 0;
    SDL_Renderer* renderer = nullptr;
    int renderer_users = 0;
    Uint32 renderer_flags = 0;
};
std::map<SDL_Window*, WindowUse>& WindowUses() {
    static std::map<SDL_Window*, WindowUse> uses;
    return uses;
}

enum class RendererKind { kAny, kTargets, kAccelerated, kSoftware };

SDL_Renderer* AcquireRenderer(SDL_Window* window, RendererKind kind) {
    WindowUse& use = WindowUses()[window];
    if (use.surface_users > 0) return nullptr;
    Uint32 need = 0;
    if (kind == RendererKind::kTargets) need = SDL_RENDERER_TARGETTEXTURE;
    if (kind == RendererKind::kAccelerated) need = SDL_RENDERER_ACCELERATED;
    if (kind == RendererKind::kSoftware) need = SDL_RENDERER_SOFTWARE;
    if (use.renderer) {
        // One renderer per window: a buffer that needs another kind waits
        // until the buffers using this one are closed.
        if ((use.renderer_flags & need) != need) return nullptr;
        ++use.renderer_users;
        return use.renderer;
    }
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, need);
    if (!renderer) return nullptr;
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer, &info) != 0 || (info.flags & need) != need) {
        SDL_DestroyRenderer(renderer);
        return nullptr;
    }
    use.renderer = renderer;
    use.renderer_flags = info.flags;
    use.renderer_users = 1;
    return renderer;
}

void ReleaseRenderer(SDL_Window* window) {
    auto it = WindowUses().find(window);
    if (it == WindowUses().end() || it->second.renderer_users <= 0) return;
    if (--it->second.renderer_users == 0) {
        SDL_DestroyRenderer(it->second.renderer);
        it->second.renderer = nullptr;
        it->second.renderer_flags = 0;
    }
    if (it->second.renderer_users == 0 && it->second.surface_users == 0) WindowUses().erase(it);
}

bool AcquireWindowSurface(SDL_Window* window) {
    WindowUse& use = WindowUses()[window];
    if (use.renderer) return false;
    ++use.surface_users;
    return true;
}

void ReleaseWindowSurface(SDL_Window* window) {
    auto it = WindowUses().find(window);
    if (it == WindowUses().end() || it->second.surface_users <= 0) return;
    --it->second.surface_users;
    if (it->second.renderer_users == 0 && it->second.surface_users == 0) WindowUses().erase(it);
}

void CallHook(SDL_Window* window, SDL_Renderer* renderer) {
    if (g_hook) g_hook(window, renderer, g_hook_context);
}

std::vector<SDL_Rect> ShownRects(const DisplayRect* rects, int count, const BlitTarget& t) {
    std::vector<SDL_Rect> out;
    const DisplayRect whole{0, 0, static_cast<int32_t>(t.width), static_cast<int32_t>(t.height)};
    const int n = rects ? count : 1;
    for (int i = 0; i < n; ++i) {
        const DisplayRect r =
            ScaleRectToShown(rects ? rects[i] : whole, t.width, t.height, t.scaled_width,
                             t.scaled_height, t.client_x, t.client_y);
        out.push_back(SDL_Rect{r.x, r.y, r.width, r.height});
    }
    return out;
}

// Cuts screen rectangles to a surface; drops empty ones.
void ClipToSurface(std::vector<SDL_Rect>* rects, const SDL_Surface* surface) {
    const SDL_Rect bounds{0, 0, surface->w, surface->h};
    std::vector<SDL_Rect> kept;
    for (const SDL_Rect& r : *rects) {
        SDL_Rect c;
        if (SDL_IntersectRect(&r, &bounds, &c)) kept.push_back(c);
    }
    rects->swap(kept);
}

// ------------------------------------------------------------- style 1
class WindowSurfaceStyle : public DisplaySurface {
  public:
    WindowSurfaceStyle(SDL_Window* window, int32_t format, Uint32 sdl_format)
        : window_(window), format_(format), sdl_format_(sdl_format) {}
    ~WindowSurfaceStyle() override { ReleaseWindowSurface(window_); }
    int32_t format() const override { return format_; }

    LockResult Lock(const BlitTarget& t, uint8_t** pixels, int32_t* pitch) override {
        SDL_Surface* s = SDL_GetWindowSurface(window_);
        if (!s || s->format->format != sdl_format_) return kLockFailed;
        // The buffer must lie inside the window's pixels: a partly covered
        // buffer cannot be handed out as one pointer and pitch.
        if (t.client_x < 0 || t.client_y < 0 || static_cast<int64_t>(t.client_x) + t.width > s->w ||
            static_cast<int64_t>(t.client_y) + t.height > s->h) {
            return kLockFailed;
        }
        if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) return kLockFailed;
        locked_ = s;
        const bool lost = s != last_ || s->w != last_w_ || s->h != last_h_;
        last_ = s;
        last_w_ = s->w;
        last_h_ = s->h;
        *pixels = static_cast<uint8_t*>(s->pixels) + static_cast<size_t>(t.client_y) * s->pitch +
                  static_cast<size_t>(t.client_x) * s->format->BytesPerPixel;
        *pitch = s->pitch;
        return lost ? kLockLost : kLockKept;
    }

    void Unlock() override {
        if (locked_ && SDL_MUSTLOCK(locked_)) SDL_UnlockSurface(locked_);
        locked_ = nullptr;
    }

    void Show(const DisplayRect* rects, int count, const BlitTarget& t) override {
        SDL_Surface* s = SDL_GetWindowSurface(window_);
        if (!s) return;
        CallHook(window_, nullptr);
        if (g_hook) {
            PushWindowSurface(window_, s, nullptr);
            return;
        }
        BlitTarget unscaled = t;
        unscaled.scaled_width = t.width;
        unscaled.scaled_height = t.height;
        std::vector<SDL_Rect> shown = ShownRects(rects, count, unscaled);
        ClipToSurface(&shown, s);
        PushWindowSurface(window_, s, &shown);
    }

  private:
    SDL_Window* window_;
    int32_t format_;
    Uint32 sdl_format_;
    SDL_Surface* locked_ = nullptr;
    SDL_Surface* last_ = nullptr;
    int last_w_ = 0, last_h_ = 0;
};

// ------------------------------------------------------------- style 2
class SoftwareSurfaceStyle : public DisplaySurface {
  public:
    SoftwareSurfaceStyle(SDL_Window* window, SDL_Surface* own, int32_t format)
        : window_(window), own_(own), format_(format) {}
    ~SoftwareSurfaceStyle() override {
        SDL_FreeSurface(own_);
        ReleaseWindowSurface(window_);
    }
    int32_t format() const override { return format_; }

    LockResult Lock(const BlitTarget&, uint8_t** pixels, int32_t* pitch) override {
        if (SDL_MUSTLOCK(own_) && SDL_LockSurface(own_) != 0) return kLockFailed;
        *pixels = static_cast<uint8_t*>(own_->pixels);
        *pitch = own_->pitch;
        return kLockKept;
    }
    void Unlock() override {
        if (SDL_MUSTLOCK(own_)) SDL_UnlockSurface(own_);
    }

    void Show(const DisplayRect* rects, int count, const BlitTarget& t) override {
        SDL_Surface* s = SDL_GetWindowSurface(window_);
        if (!s) return;
        const DisplayRect whole{0, 0, static_cast<int32_t>(t.width),
                                static_cast<int32_t>(t.height)};
        std::vector<SDL_Rect> shown;
        const int n = rects ? count : 1;
        for (int i = 0; i < n; ++i) {
            const DisplayRect& r = rects ? rects[i] : whole;
            const DisplayRect d = ScaleRectToShown(r, t.width, t.height, t.scaled_width,
                                                   t.scaled_height, t.client_x, t.client_y);
            SDL_Rect src{r.x, r.y, r.width, r.height};
            SDL_Rect dst{d.x, d.y, d.width, d.height};
            if (dst.w <= 0 || dst.h <= 0) continue;
            if (dst.w == src.w && dst.h == src.h) {
                SDL_BlitSurface(own_, &src, s, &dst);
            } else {
                SDL_BlitScaled(own_, &src, s, &dst);
            }
            shown.push_back(SDL_Rect{d.x, d.y, d.width, d.height});
        }
        CallHook(window_, nullptr);
        if (g_hook) {
            PushWindowSurface(window_, s, nullptr);
            return;
        }
        ClipToSurface(&shown, s);
        PushWindowSurface(window_, s, &shown);
    }

  private:
    SDL_Window* window_;
    SDL_Surface* own_;
    int32_t format_;
};

// ------------------------------------------------------------- styles 3-10
class RendererStyle : public DisplaySurface {
  public:
    ~RendererStyle() override {
        if (texture_) SDL_DestroyTexture(texture_);
        if (target_) SDL_DestroyTexture(target_);
        if (renderer_) ReleaseRenderer(window_);
    }
    int32_t format() const override { return format_; }

    // Makes the surface; null (with nothing left behind) when it cannot.
    static RendererStyle* Make(SDL_Window* window, uint32_t style, uint32_t width,
                               uint32_t height) {
        const RendererKind kind = style >= kBlitYv12OffScreen && style <= kBlitUyvyOffScreen
                                      ? RendererKind::kTargets
                                  : style == kBlitRgbVideo  ? RendererKind::kAccelerated
                                  : style == kBlitRgbSystem ? RendererKind::kSoftware
                                                            : RendererKind::kAny;
        SDL_Renderer* renderer = AcquireRenderer(window, kind);
        if (!renderer) return nullptr;
        auto* r = new RendererStyle();
        r->window_ = window;
        r->renderer_ = renderer;
        r->width_ = width;
        r->height_ = height;
        if (!r->MakeTextures(style)) {
            delete r;
            return nullptr;
        }
        return r;
    }

    LockResult Lock(const BlitTarget&, uint8_t** pixels, int32_t* pitch) override {
        *pixels = pixels_.data();
        *pitch = pitch_;
        return kLockKept;
    }
    void Unlock() override {}

    void Show(const DisplayRect* rects, int count, const BlitTarget& t) override {
        const DisplayRect whole{0, 0, static_cast<int32_t>(width_), static_cast<int32_t>(height_)};
        const int n = rects ? count : 1;
        for (int i = 0; i < n; ++i) {
            SDL_Rect area = Aligned(rects ? rects[i] : whole);
            if (area.w <= 0 || area.h <= 0) continue;
            Upload(area);
            if (target_) {
                SDL_SetRenderTarget(renderer_, target_);
                SDL_RenderCopy(renderer_, texture_, &area, &area);
                SDL_SetRenderTarget(renderer_, nullptr);
            }
        }
        SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        SDL_RenderClear(renderer_);
        const SDL_Rect destination{t.client_x, t.client_y, static_cast<int>(t.scaled_width),
                                   static_cast<int>(t.scaled_height)};
        SDL_RenderCopy(renderer_, target_ ? target_ : texture_, nullptr, &destination);
        CallHook(window_, renderer_);
        SDL_RenderPresent(renderer_);
    }

  private:
    bool MakeTextures(uint32_t style) {
        Uint32 sdl_format = 0;
        switch (style) {
            case kBlitYv12Overlay:
            case kBlitYv12OffScreen:
                sdl_format = SDL_PIXELFORMAT_YV12;
                break;
            case kBlitYuy2Overlay:
            case kBlitYuy2OffScreen:
                sdl_format = SDL_PIXELFORMAT_YUY2;
                break;
            case kBlitUyvyOverlay:
            case kBlitUyvyOffScreen:
                sdl_format = SDL_PIXELFORMAT_UYVY;
                break;
            default:
                sdl_format = ScreenTextureFormat();
                if (sdl_format == 0) {
                    SetLastDisplayError(kDisplayErrorVideoMode);
                    return false;
                }
        }
        // SDL converts YUV textures itself when the renderer cannot.
        if (!SDL_ISPIXELFORMAT_FOURCC(sdl_format) && !Supports(sdl_format)) return false;
        format_ = SurfaceFormatOfSdl(sdl_format);
        if (format_ < 0) return false;
        texture_ = SDL_CreateTexture(renderer_, sdl_format, SDL_TEXTUREACCESS_STREAMING,
                                     static_cast<int>(width_), static_cast<int>(height_));
        if (!texture_) return false;
        SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
        if (style >= kBlitYv12OffScreen && style <= kBlitUyvyOffScreen) {
            target_ =
                SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET,
                                  static_cast<int>(width_), static_cast<int>(height_));
            if (!target_) return false;
            SDL_SetTextureBlendMode(target_, SDL_BLENDMODE_NONE);
        }
        // Our pixels: rows padded to 16 bytes; YV12 adds its two chroma planes
        // with room for the half row an odd height leaves.
        const uint64_t even_width = (static_cast<uint64_t>(width_) + 1) & ~1ull;
        uint64_t row = format_ == kSurfaceYv12 ? even_width
                       : format_ == kSurfaceYuy2 || format_ == kSurfaceUyvy
                           ? 2 * even_width
                           : static_cast<uint64_t>(width_) * SDL_BYTESPERPIXEL(sdl_format);
        row = (row + 15) & ~15ull;
        uint64_t bytes = row * height_;
        if (format_ == kSurfaceYv12) bytes += 2 * ((height_ + 1) / 2 + 1) * (row / 2);
        if (row > 0x7FFFFFFF || bytes > 0x7FFFFFFF) return false;
        pitch_ = static_cast<int32_t>(row);
        pixels_.assign(static_cast<size_t>(bytes), 0);
        return true;
    }

    bool Supports(Uint32 sdl_format) const {
        SDL_RendererInfo info;
        if (SDL_GetRendererInfo(renderer_, &info) != 0) return false;
        for (Uint32 i = 0; i < info.num_texture_formats; ++i) {
            if (info.texture_formats[i] == sdl_format) return true;
        }
        return false;
    }

    // The RGB format for styles 9 and 10: the window's own when the renderer
    // takes it, else the first RGB format the renderer offers that our copy
    // writes.
    Uint32 ScreenTextureFormat() const {
        SDL_RendererInfo info;
        if (SDL_GetRendererInfo(renderer_, &info) != 0) return 0;
        auto usable = [](Uint32 f) {
            const int32_t code = SurfaceFormatOfSdl(f);
            return code > static_cast<int32_t>(kSurfacePalette8) &&
                   code < static_cast<int32_t>(kSurfaceYuy2);
        };
        const Uint32 window_format = SDL_GetWindowPixelFormat(window_);
        for (Uint32 i = 0; i < info.num_texture_formats; ++i) {
            if (info.texture_formats[i] == window_format && usable(window_format)) {
                return window_format;
            }
        }
        for (Uint32 i = 0; i < info.num_texture_formats; ++i) {
            if (usable(info.texture_formats[i])) return info.texture_formats[i];
        }
        return 0;
    }

    // A buffer rectangle cut to the buffer, widened to whole pixel pairs
    // (and whole chroma rows for YV12).
    SDL_Rect Aligned(const DisplayRect& r) const {
        DisplayRect c = r;
        if (!ClipRectToBuffer(&c, width_, height_)) return SDL_Rect{0, 0, 0, 0};
        int x0 = c.x, y0 = c.y, x1 = c.x + c.width, y1 = c.y + c.height;
        if (format_ >= static_cast<int32_t>(kSurfaceYuy2)) {
            x0 &= ~1;
            x1 = std::min<int>(static_cast<int>(width_), (x1 + 1) & ~1);
            if (format_ == kSurfaceYv12) {
                y0 &= ~1;
                y1 = std::min<int>(static_cast<int>(height_), (y1 + 1) & ~1);
            }
        }
        return SDL_Rect{x0, y0, x1 - x0, y1 - y0};
    }

    void Upload(const SDL_Rect& area) {
        uint8_t* base = pixels_.data();
        if (format_ == kSurfaceYv12) {
            const size_t luma = static_cast<size_t>(pitch_) * height_;
            const size_t chroma_pitch = static_cast<size_t>(pitch_) / 2;
            uint8_t* v = base + luma;
            uint8_t* u = v + chroma_pitch * (height_ / 2);
            const size_t cy = static_cast<size_t>(area.y) / 2, cx = static_cast<size_t>(area.x) / 2;
            SDL_UpdateYUVTexture(texture_, &area,
                                 base + static_cast<size_t>(area.y) * pitch_ + area.x, pitch_,
                                 u + cy * chroma_pitch + cx, static_cast<int>(chroma_pitch),
                                 v + cy * chroma_pitch + cx, static_cast<int>(chroma_pitch));
            return;
        }
        const size_t bytes = format_ == kSurfaceYuy2 || format_ == kSurfaceUyvy
                                 ? 2
                                 : SDL_BYTESPERPIXEL(texture_format());
        SDL_UpdateTexture(texture_, &area,
                          base + static_cast<size_t>(area.y) * pitch_ + area.x * bytes, pitch_);
    }

    Uint32 texture_format() const {
        Uint32 f = 0;
        SDL_QueryTexture(texture_, &f, nullptr, nullptr, nullptr);
        return f;
    }

    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    SDL_Texture* target_ = nullptr;
    uint32_t width_ = 0, height_ = 0;
    int32_t format_ = -1;
    int32_t pitch_ = 0;
    std::vector<uint8_t> pixels_;
};

// ------------------------------------------------------------- the system
class SdlDisplaySystem : public DisplaySystem {
  public:
    bool StartDevice(DisplayWindow window) override { return window != nullptr && EnsureVideo(); }
    void StopDevice() override {}

    DisplayScreen ReadScreen(DisplayWindow window) override {
        DisplayScreen screen;
        if (!EnsureVideo()) return screen;
        int index = window ? SDL_GetWindowDisplayIndex(static_cast<SDL_Window*>(window)) : 0;
        if (index < 0) index = 0;
        SDL_DisplayMode mode;
        if (SDL_GetCurrentDisplayMode(index, &mode) != 0) return screen;
        screen.width = static_cast<uint32_t>(std::max(mode.w, 0));
        screen.height = static_cast<uint32_t>(std::max(mode.h, 0));
        screen.bits_per_pixel = DepthOfSdlFormat(mode.format);
        screen.bytes_per_pixel = screen.bits_per_pixel / 8;
        return screen;
    }

    // The renderer scales by any factor both ways.
    uint32_t OverlayCapabilities() override { return kScaleCapabilityMask; }
    uint32_t BlitCapabilities() override { return kScaleCapabilityMask; }

    bool SetMode(DisplayWindow window, uint32_t width, uint32_t height, uint32_t depth,
                 uint32_t* depth_now) override {
        auto* w = static_cast<SDL_Window*>(window);
        if (!w || !EnsureVideo()) return false;
        int index = SDL_GetWindowDisplayIndex(w);
        if (index < 0) index = 0;
        const int modes = SDL_GetNumDisplayModes(index);
        for (int i = 0; i < modes; ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(index, i, &mode) != 0) continue;
            if (mode.w != static_cast<int>(width) || mode.h != static_cast<int>(height)) continue;
            if (depth != 0 && DepthOfSdlFormat(mode.format) != depth) continue;
            if (SDL_SetWindowDisplayMode(w, &mode) != 0) continue;
            if (SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) != 0) continue;
            SDL_DisplayMode now;
            *depth_now =
                SDL_GetWindowDisplayMode(w, &now) == 0 ? DepthOfSdlFormat(now.format) : depth;
            return true;
        }
        return false;
    }

    void RestoreMode(DisplayWindow window) override {
        if (window) SDL_SetWindowFullscreen(static_cast<SDL_Window*>(window), 0);
    }

    WindowGeometry Geometry(DisplayWindow window) override {
        WindowGeometry g;
        auto* w = static_cast<SDL_Window*>(window);
        if (!w) return g;
        int x = 0, y = 0, cw = 0, ch = 0, top = 0, left = 0, bottom = 0, right = 0;
        SDL_GetWindowPosition(w, &x, &y);
        SDL_GetWindowSize(w, &cw, &ch);
        if (SDL_GetWindowBordersSize(w, &top, &left, &bottom, &right) != 0) {
            top = left = bottom = right = 0;
        }
        const Uint32 flags = SDL_GetWindowFlags(w);
        g.valid = true;
        g.visible = (flags & SDL_WINDOW_SHOWN) != 0 && (flags & SDL_WINDOW_HIDDEN) == 0;
        g.minimised = (flags & SDL_WINDOW_MINIMIZED) != 0;
        g.client_x = x;
        g.client_y = y;
        g.client_width = cw;
        g.client_height = ch;
        g.window_x = x - left;
        g.window_y = y - top;
        g.window_width = cw + left + right;
        g.window_height = ch + top + bottom;
        return g;
    }

    DisplaySurface* CreateSurface(DisplayWindow window, uint32_t style, uint32_t width,
                                  uint32_t height, const DisplayScreen& screen) override {
        auto* w = static_cast<SDL_Window*>(window);
        if (!w || !EnsureVideo()) return nullptr;
        if (style == kBlitPrimary) return MakeWindowSurface(w);
        if (style == kBlitDibSection) return MakeSoftwareSurface(w, width, height, screen);
        if (style >= kBlitYv12Overlay && style <= kBlitRgbSystem) {
            return RendererStyle::Make(w, style, width, height);
        }
        return nullptr;
    }

    const char* StyleName(uint32_t style) const override {
        static const char* const kNames[] = {
            "",
            "SDL window surface",
            "SDL software surface, scaled",
            "SDL YV12 texture",
            "SDL YUY2 texture",
            "SDL UYVY texture",
            "SDL YV12 texture through a render target",
            "SDL YUY2 texture through a render target",
            "SDL UYVY texture through a render target",
            "SDL RGB texture, accelerated renderer",
            "SDL RGB texture, software renderer",
        };
        return style <= kBlitStyleCount ? kNames[style] : "";
    }

  private:
    static DisplaySurface* MakeWindowSurface(SDL_Window* w) {
        if (!AcquireWindowSurface(w)) return nullptr;
        SDL_Surface* s = SDL_GetWindowSurface(w);
        if (!s) {
            ReleaseWindowSurface(w);
            return nullptr;
        }
        const Uint32 sdl_format = s->format->format;
        return new WindowSurfaceStyle(w, SurfaceFormatOfSdl(sdl_format), sdl_format);
    }

    static DisplaySurface* MakeSoftwareSurface(SDL_Window* w, uint32_t width, uint32_t height,
                                               const DisplayScreen& screen) {
        Uint32 sdl_format = 0;
        int32_t code = -1;
        if (screen.bytes_per_pixel == 3) {
            sdl_format = SDL_PIXELFORMAT_BGR24;  // bytes blue, green, red
            code = kSurfaceBgr24;
        } else if (screen.bytes_per_pixel >= 4) {
            sdl_format = SDL_PIXELFORMAT_RGB888;
            code = kSurfaceXrgb32;
        } else if (screen.bytes_per_pixel == 2) {
            const bool is565 = SDL_GetWindowPixelFormat(w) == SDL_PIXELFORMAT_RGB565;
            sdl_format = is565 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB555;
            code = is565 ? kSurfaceRgb565 : kSurfaceRgb555;
        } else {
            return nullptr;
        }
        if (!AcquireWindowSurface(w)) return nullptr;
        SDL_Surface* own = SDL_CreateRGBSurfaceWithFormat(
            0, static_cast<int>(width), static_cast<int>(height),
            static_cast<int>(SDL_BITSPERPIXEL(sdl_format)), sdl_format);
        if (!own) {
            ReleaseWindowSurface(w);
            return nullptr;
        }
        SDL_SetSurfaceBlendMode(own, SDL_BLENDMODE_NONE);
        return new SoftwareSurfaceStyle(w, own, code);
    }
};

}  // namespace

int32_t SurfaceFormatOfSdl(uint32_t sdl_format) {
    PixelLayoutDescription d;
    switch (sdl_format) {
        case SDL_PIXELFORMAT_YUY2:
            d.fourcc = kFourCcYuy2;
            return SurfaceFormatOf(d);
        case SDL_PIXELFORMAT_UYVY:
            d.fourcc = kFourCcUyvy;
            return SurfaceFormatOf(d);
        case SDL_PIXELFORMAT_YV12:
            d.fourcc = kFourCcYv12;
            return SurfaceFormatOf(d);
        default:
            break;
    }
    if (sdl_format == SDL_PIXELFORMAT_UNKNOWN || SDL_ISPIXELFORMAT_FOURCC(sdl_format)) return -1;
    if (SDL_ISPIXELFORMAT_INDEXED(sdl_format)) {
        return SDL_BITSPERPIXEL(sdl_format) == 8 ? static_cast<int32_t>(kSurfacePalette8) : -1;
    }
    int bpp = 0;
    Uint32 r = 0, g = 0, b = 0, a = 0;
    if (!SDL_PixelFormatEnumToMasks(sdl_format, &bpp, &r, &g, &b, &a)) return -1;
    d.bits_per_pixel = DepthOfSdlFormat(sdl_format);
    // The copy writes 32-bit pixels with red in the lowest or the third byte
    // and alpha, if any, in the fourth: other orders are not ours to write.
    if (d.bits_per_pixel == 32 && ((r != 0xFF0000 && r != 0xFF) || (a != 0 && a != 0xFF000000))) {
        return -1;
    }
    d.red_mask = r;
    d.green_mask = g;
    d.blue_mask = b;
    d.alpha_mask = a;
    return SurfaceFormatOf(d);
}

DisplaySystem* GetSdlDisplaySystem() {
    static SdlDisplaySystem system;
    return &system;
}

void SetSdlPresentHook(DisplayPresentHook hook, void* context) {
    g_hook = hook;
    g_hook_context = context;
}

uint64_t SdlWindowPixelsPushed() {
    return g_pixels_pushed;
}

}  // namespace vemo
