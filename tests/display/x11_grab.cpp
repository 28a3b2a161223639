// Reads a window's pixels back from the X server (kept apart from the tests:
// the X headers define macros that clash with the test framework).
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <vector>

namespace vemo {
namespace {

// The value of a pixel channel scaled to 8 bits.
uint32_t Channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const unsigned long max = mask >> shift;
    return static_cast<uint32_t>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

bool GrabX11Window(SDL_Window* window, int* width, int* height, std::vector<uint32_t>* argb) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    Display* display = info.info.x11.display;
    XSync(display, False);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, info.info.x11.window, &attributes)) return false;
    XImage* image =
        XGetImage(display, info.info.x11.window, 0, 0, static_cast<unsigned>(attributes.width),
                  static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) return false;
    *width = attributes.width;
    *height = attributes.height;
    argb->assign(static_cast<size_t>(*width) * *height, 0);
    for (int y = 0; y < *height; ++y) {
        for (int x = 0; x < *width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            (*argb)[static_cast<size_t>(y) * *width + x] = Channel(p, image->red_mask) << 16 |
                                                           Channel(p, image->green_mask) << 8 |
                                                           Channel(p, image->blue_mask);
        }
    }
    XDestroyImage(image);
    return true;
}

}  // namespace vemo
