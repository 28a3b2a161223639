// Makes a real-content test clip for the comparison script: a camera panning
// and zooming over photographs (binary PPM files), one scene per photograph
// with hard cuts between them, written as 4:2:0 Y4M.
//
//   vemo-bench-clip WIDTH HEIGHT FRAMES FPS OUT.y4m PHOTO.ppm...
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Photo {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

// Reads the next header number of a PPM, skipping blanks and comments.
bool HeaderNumber(std::istream& in, uint32_t& value) {
    int c = in.get();
    while (c == '#' || std::isspace(c)) {
        if (c == '#')
            while (c != '\n' && c != EOF) c = in.get();
        c = in.get();
    }
    if (c < '0' || c > '9') return false;
    uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 100000) return false;
        c = in.get();
    }
    value = static_cast<uint32_t>(v);
    return true;  // the one blank after the number has been taken
}

bool ReadPhoto(const char* path, Photo& photo, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    uint32_t maxval = 0;
    if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] != '6' ||
        !HeaderNumber(in, photo.width) || !HeaderNumber(in, photo.height) ||
        !HeaderNumber(in, maxval) || maxval != 255) {
        error = "not an 8-bit binary PPM";
        return false;
    }
    if (photo.width < 16 || photo.height < 16 || photo.width > 16384 || photo.height > 16384) {
        error = "picture size out of range";
        return false;
    }
    photo.rgb.resize(size_t{photo.width} * photo.height * 3);
    if (!in.read(reinterpret_cast<char*>(photo.rgb.data()),
                 static_cast<std::streamsize>(photo.rgb.size()))) {
        error = "picture data cut short";
        return false;
    }
    return true;
}

// One output frame: a window of the photograph, `scale` photo samples per
// output sample, its top-left corner at (x0, y0), bilinear sampling.
void RenderFrame(const Photo& p, double x0, double y0, double scale, uint32_t w, uint32_t h,
                 std::vector<uint8_t>& rgb) {
    for (uint32_t y = 0; y < h; ++y) {
        const double fy = std::clamp(y0 + y * scale, 0.0, p.height - 1.001);
        const uint32_t iy = static_cast<uint32_t>(fy);
        const double ty = fy - iy;
        for (uint32_t x = 0; x < w; ++x) {
            const double fx = std::clamp(x0 + x * scale, 0.0, p.width - 1.001);
            const uint32_t ix = static_cast<uint32_t>(fx);
            const double tx = fx - ix;
            const uint8_t* a = &p.rgb[(size_t{iy} * p.width + ix) * 3];
            const uint8_t* b = a + size_t{p.width} * 3;
            for (int c = 0; c < 3; ++c) {
                const double top = a[c] + (a[c + 3] - a[c]) * tx;
                const double bottom = b[c] + (b[c + 3] - b[c]) * tx;
                rgb[(size_t{y} * w + x) * 3 + c] =
                    static_cast<uint8_t>(top + (bottom - top) * ty + 0.5);
            }
        }
    }
}

// Studio-range 4:2:0 planes from RGB; chroma is the mean of each 2x2.
void ToYuv(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, std::vector<uint8_t>& out) {
    const size_t luma = size_t{w} * h;
    out.assign(luma + 2 * (luma / 4), 0);
    uint8_t* u = out.data() + luma;
    uint8_t* v = u + luma / 4;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* s = &rgb[(size_t{y} * w + x) * 3];
            out[size_t{y} * w + x] =
                static_cast<uint8_t>(16.5 + 0.257 * s[0] + 0.504 * s[1] + 0.098 * s[2]);
        }
    for (uint32_t y = 0; y < h / 2; ++y)
        for (uint32_t x = 0; x < w / 2; ++x) {
            double r = 0, g = 0, b = 0;
            for (uint32_t k = 0; k < 4; ++k) {
                const uint8_t* s = &rgb[(size_t{2 * y + k / 2} * w + 2 * x + k % 2) * 3];
                r += s[0] / 4.0;
                g += s[1] / 4.0;
                b += s[2] / 4.0;
            }
            u[size_t{y} * (w / 2) + x] =
                static_cast<uint8_t>(128.5 - 0.148 * r - 0.291 * g + 0.439 * b);
            v[size_t{y} * (w / 2) + x] =
                static_cast<uint8_t>(128.5 + 0.439 * r - 0.368 * g - 0.071 * b);
        }
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "vemo-bench-clip: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7)
        return Fail("usage: vemo-bench-clip WIDTH HEIGHT FRAMES FPS OUT.y4m PHOTO.ppm...");
    const long w = std::strtol(argv[1], nullptr, 10), h = std::strtol(argv[2], nullptr, 10);
    const long frames = std::strtol(argv[3], nullptr, 10), fps = std::strtol(argv[4], nullptr, 10);
    if (w < 16 || h < 16 || w > 4096 || h > 4096 || w % 16 || h % 16 || frames < 1 ||
        frames > 10000 || fps < 1 || fps > 240)
        return Fail("sizes must be multiples of 16 up to 4096, 1-10000 frames, 1-240 fps");
    std::vector<Photo> photos(static_cast<size_t>(argc - 6));
    for (size_t i = 0; i < photos.size(); ++i) {
        std::string error;
        if (!ReadPhoto(argv[6 + i], photos[i], error))
            return Fail(std::string(argv[6 + i]) + ": " + error);
    }
    std::FILE* out = std::fopen(argv[5], "wb");
    if (!out) return Fail(std::string("cannot write ") + argv[5]);
    std::fprintf(out, "YUV4MPEG2 W%ld H%ld F%ld:1 Ip A1:1 C420jpeg\n", w, h, fps);
    const uint32_t uw = static_cast<uint32_t>(w), uh = static_cast<uint32_t>(h);
    std::vector<uint8_t> rgb(size_t{uw} * uh * 3), yuv;
    const long per_scene =
        (frames + static_cast<long>(photos.size()) - 1) / static_cast<long>(photos.size());
    for (long f = 0; f < frames; ++f) {
        const size_t scene = static_cast<size_t>(f / per_scene);
        const Photo& p = photos[scene];
        const double t = static_cast<double>(f % per_scene) / static_cast<double>(per_scene);
        // The whole width fits at zoom 1; the camera zooms in (odd scenes)
        // or out (even scenes) by up to a third while panning across.
        const double fit =
            std::min(static_cast<double>(p.width) / uw, static_cast<double>(p.height) / uh);
        const double zoom = scene % 2 ? 1.0 + t / 3 : 4.0 / 3 - t / 3;
        const double scale = fit / zoom * 0.9;
        const double span_x = p.width - uw * scale, span_y = p.height - uh * scale;
        RenderFrame(p, span_x * (0.1 + 0.8 * t), span_y * (0.5 + 0.3 * (t - 0.5)), scale, uw, uh,
                    rgb);
        ToYuv(rgb, uw, uh, yuv);
        std::fputs("FRAME\n", out);
        if (std::fwrite(yuv.data(), 1, yuv.size(), out) != yuv.size()) {
            std::fclose(out);
            return Fail("write failed");
        }
    }
    return std::fclose(out) == 0 ? 0 : Fail("write failed");
}
