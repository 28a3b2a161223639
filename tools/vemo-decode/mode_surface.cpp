// vemo-decode --surface: converts one frame into a destination surface of a
// SurfaceFormat, laid out as a zero-filled surface at x = y = 0 whose pitch
// is the scaled width times the bytes per pixel (YV12: the width rounded up
// to even, doubled in the wide modes, followed by the V and U planes).
#if defined(VEMO_HAVE_PNG)
#include <png.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "decode_mode.h"
#include "vemo/frame_decoder.h"
#include "vemo/movie_reader.h"
#include "vemo/pixel_convert.h"

namespace {

using vemo::tool::DecodeArgs;
using vemo::tool::ParseNumber;

bool ParseHex(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 10) return false;
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

#if defined(VEMO_HAVE_PNG)
// An 8-bit RGB picture as a PNG file, written by libpng.
bool WritePng(const std::string& name, const std::vector<uint8_t>& rgb, uint32_t width,
              uint32_t height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    const bool ok = png_image_write_to_file(&image, name.c_str(), 0, rgb.data(),
                                            static_cast<png_int_32>(width * 3), nullptr) != 0;
    if (!ok) std::fprintf(stderr, "vemo-decode: %s: %s\n", name.c_str(), image.message);
    png_image_free(&image);
    return ok;
}
#else
bool WritePng(const std::string& name, const std::vector<uint8_t>&, uint32_t, uint32_t) {
    std::fprintf(stderr, "vemo-decode: %s: this build writes no PNG files\n", name.c_str());
    return false;
}
#endif

bool WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "vemo-decode: cannot write %s\n", name.c_str());
    return ok;
}

// The choices of a --surface or --png run.
struct SurfaceChoice {
    unsigned long long format = 0, frame = 1;
    bool png = false;
    uint32_t copy_flags = 0;
    vemo::PixelPath path = vemo::PixelPath::kAuto;
};

// Reads the mode's options into *c. Returns the exit code when one is bad,
// else -1.
int ParseSurfaceChoice(const DecodeArgs& args, SurfaceChoice* c) {
    c->png = args.has("--png");
    if (c->png && !args.has("--surface")) {
        c->format = vemo::kSurfaceRgb24;
    } else if (!ParseNumber(args.get("--surface"), &c->format) || c->format > 15) {
        std::fprintf(stderr, "vemo-decode: --surface needs a format code 0-15\n");
        return 2;
    }
    if (args.has("--frame") && (!ParseNumber(args.get("--frame"), &c->frame) || c->frame == 0)) {
        std::fprintf(stderr, "vemo-decode: --frame needs a frame number from 1\n");
        return 2;
    }
    if (args.has("--copy-flags") && !ParseHex(args.get("--copy-flags"), &c->copy_flags)) {
        std::fprintf(stderr, "vemo-decode: --copy-flags needs a hexadecimal word\n");
        return 2;
    }
    if (args.has("--path")) {
        const std::string p = args.get("--path");
        if (p == "table")
            c->path = vemo::PixelPath::kTable;
        else if (p == "packed")
            c->path = vemo::PixelPath::kPacked;
        else {
            std::fprintf(stderr, "vemo-decode: --path is table or packed\n");
            return 2;
        }
    }
    if (args.has("--surface") && !args.has("-o")) {
        std::fprintf(stderr, "vemo-decode: --surface needs -o OUT\n");
        return 2;
    }
    return -1;
}

// Decodes frames 1..frame. Returns the exit code.
int DecodeUpTo(const DecodeArgs& args, vemo::MovieReader& movie, vemo::FrameDecoder& decoder,
               unsigned long long frame) {
    for (uint32_t i = 0; i < frame; ++i) {
        const uint8_t* video = nullptr;
        uint32_t video_size = 0;
        if (!movie.VideoPart(i, &video, &video_size)) {
            std::fprintf(stderr, "vemo-decode: %s: frame %u cannot be read\n", args.movie.c_str(),
                         i + 1);
            return 1;
        }
        decoder.DecodeVideoPart(video, video_size, vemo::IsKeyFrame(movie.index()[i]));
    }
    return 0;
}

// Converts the decoded picture with the given copy flags into a zero-filled
// surface, writes it to -o and, for --png, writes the picture through format
// 2 as well. Returns the exit code.
int WriteSurface(const DecodeArgs& args, const SurfaceChoice& c, const vemo::MovieHeader& header,
                 const vemo::FrameDecoder& decoder, uint32_t flags) {
    const uint32_t format = static_cast<uint32_t>(c.format);
    const uint32_t mode = (flags & vemo::kCopyScaleMask) >> vemo::kCopyScaleShift;
    const bool wide = mode == 3 || mode == 4 || mode == 5;
    const bool tall = mode == 1 || mode == 2 || mode == 4 || mode == 5;
    const uint32_t width = wide ? 2 * header.width : header.width;
    const uint32_t rows = tall ? 2 * header.height : header.height;
    const uint64_t pitch64 =
        format == vemo::kSurfaceYv12
            ? (static_cast<uint64_t>(header.width + 1) & ~1ull) * (wide ? 2 : 1)
            : static_cast<uint64_t>(width) * vemo::SurfaceBytesPerPixel(format);
    if (pitch64 > 0x7FFFFFFF || pitch64 * rows > (1ull << 31)) {
        std::fprintf(stderr, "vemo-decode: %s: surface too large\n", args.movie.c_str());
        return 1;
    }
    const uint32_t pitch = static_cast<uint32_t>(pitch64);
    std::vector<uint8_t> out(vemo::SurfaceBufferSize(format, pitch, rows), 0);
    vemo::FrameSource source;
    source.planes = decoder.planes();
    source.movie_width = source.coded_width = header.width;
    source.movie_height = source.coded_height = header.height;
    vemo::CopyRequest request;
    request.destination = out.data();
    request.pitch = static_cast<int32_t>(pitch);
    request.destination_height = rows;
    request.source_width = header.width;
    request.source_height = header.height;
    request.flags = flags;
    vemo::ConverterState state;
    state.set_path(c.path);
    vemo::ConvertFrame(state, source, request);
    if (args.has("-o") && !WriteFile(args.get("-o"), out)) return 1;
    if (c.png) {
        // The picture through format 2 (bytes red, green, blue), same flags.
        std::vector<uint8_t> rgb(size_t{width} * 3 * rows, 0);
        request.destination = rgb.data();
        request.pitch = static_cast<int32_t>(width * 3);
        request.flags = (flags & ~vemo::kCopyFormatMask) | vemo::kSurfaceRgb24;
        vemo::ConvertFrame(state, source, request);
        if (!WritePng(args.get("--png"), rgb, width, rows)) return 1;
    }
    return 0;
}

int RunSurface(const DecodeArgs& args) {
    SurfaceChoice c;
    if (const int code = ParseSurfaceChoice(args, &c); code >= 0) return code;

    vemo::MovieReader movie;
    if (!movie.Open(args.movie)) {
        std::fprintf(stderr, "vemo-decode: %s: %s %s\n", args.movie.c_str(), movie.error().c_str(),
                     movie.detail().c_str());
        return 1;
    }
    const vemo::MovieHeader& header = movie.header();
    if (c.frame > header.frames) {
        std::fprintf(stderr, "vemo-decode: %s has %u frames\n", args.movie.c_str(), header.frames);
        return 2;
    }
    vemo::FrameDecoderSettings settings = vemo::DecoderSettingsFor(movie, true);
    if (!vemo::tool::ThreadCount(args, &settings.threads)) return 2;
    vemo::FrameDecoder decoder;
    if (!decoder.Open(settings)) {
        std::fprintf(stderr, "vemo-decode: %s: cannot hold a %ux%u picture\n", args.movie.c_str(),
                     header.width, header.height);
        return 1;
    }
    uint32_t open_flags = decoder.settings().open_flags;
    const uint32_t header_mode =
        (header.flags & vemo::kHeaderScalingMask) >> vemo::kHeaderScalingShift;
    if (header_mode >= 1 && header_mode <= 6)
        open_flags |= header_mode << vemo::kHeaderScalingShift;
    if (const int rc = DecodeUpTo(args, movie, decoder, c.frame); rc != 0) return rc;
    const uint32_t flags = (c.copy_flags & ~vemo::kCopyFormatMask) |
                           static_cast<uint32_t>(c.format) |
                           (open_flags & vemo::kCopyMovieFlagsMask) | vemo::kCopyAll;
    return WriteSurface(args, c, header, decoder, flags);
}

const vemo::tool::DecodeMode kSurfaceMode = {
    "surface",
    {
        {"--surface", true, true, "convert one frame into SurfaceFormat ARG (0-15); needs -o"},
        {"--frame", true, false, "the frame to convert (1-based, default 1)"},
        {"--path", true, false, "arithmetic path: table or packed (default: the processor's)"},
        {"--copy-flags", true, false, "copy flags in hex (scale mode, ShowAlpha, ...)"},
        {"-o", true, false, "the surface file to write"},
        {"--png", true, true, "write the frame as an RGB PNG (through format 2) to ARG"},
    },
    RunSurface,
};
VEMO_DECODE_MODE(kSurfaceMode);

}  // namespace
