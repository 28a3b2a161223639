// vemo-decode --surface: converts one frame into a destination surface of a
// SurfaceFormat, laid out as a zero-filled surface at x = y = 0 whose pitch
// is the scaled width times the bytes per pixel (YV12: the width rounded up
// to even, doubled in the wide modes, followed by the V and U planes).
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "decode_mode.h"
#include "vemo/container.h"
#include "vemo/pixel_convert.h"
#include "vemo/video_decoder.h"

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

// A PNG of 8-bit RGB rows, compressed with stored deflate blocks (no
// compression library needed; the files are larger, not different).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& body) {
    PutBe32(out, static_cast<uint32_t>(body.size()));
    const size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), body.begin(), body.end());
    PutBe32(out, Crc32(out->data() + start, out->size() - start));
}

std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height) {
    std::vector<uint8_t> raw;
    raw.reserve((size_t{width} * 3 + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const uint8_t* row = rgb.data() + size_t{y} * width * 3;
        raw.insert(raw.end(), row, row + size_t{width} * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (raw.empty()) break;
    }
    PutBe32(&z, (b << 16) | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBe32(&ihdr, width);
    PutBe32(&ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    PutChunk(&png, "IHDR", ihdr);
    PutChunk(&png, "IDAT", z);
    PutChunk(&png, "IEND", {});
    return png;
}

bool WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "vemo-decode: cannot write %s\n", name.c_str());
    return ok;
}

int RunSurface(const DecodeArgs& args) {
    unsigned long long format = 0, frame = 1;
    const bool png = args.has("--png");
    if (png && !args.has("--surface")) {
        format = vemo::kSurfaceRgb24;
    } else if (!ParseNumber(args.get("--surface"), &format) || format > 15) {
        std::fprintf(stderr, "vemo-decode: --surface needs a format code 0-15\n");
        return 2;
    }
    if (args.has("--frame") && (!ParseNumber(args.get("--frame"), &frame) || frame == 0)) {
        std::fprintf(stderr, "vemo-decode: --frame needs a frame number from 1\n");
        return 2;
    }
    uint32_t copy_flags = 0;
    if (args.has("--copy-flags") && !ParseHex(args.get("--copy-flags"), &copy_flags)) {
        std::fprintf(stderr, "vemo-decode: --copy-flags needs a hexadecimal word\n");
        return 2;
    }
    vemo::PixelPath path = vemo::PixelPath::kAuto;
    if (args.has("--path")) {
        const std::string p = args.get("--path");
        if (p == "table")
            path = vemo::PixelPath::kTable;
        else if (p == "packed")
            path = vemo::PixelPath::kPacked;
        else {
            std::fprintf(stderr, "vemo-decode: --path is table or packed\n");
            return 2;
        }
    }
    if (args.has("--surface") && !args.has("-o")) {
        std::fprintf(stderr, "vemo-decode: --surface needs -o OUT\n");
        return 2;
    }

    vemo::MovieData movie;
    if (!movie.Load(args.movie)) {
        std::fprintf(stderr, "vemo-decode: %s: %s %s\n", args.movie.c_str(), movie.error().c_str(),
                     movie.detail().c_str());
        return 1;
    }
    const vemo::MovieHeader& header = movie.header();
    if (frame > header.frames) {
        std::fprintf(stderr, "vemo-decode: %s has %u frames\n", args.movie.c_str(), header.frames);
        return 2;
    }
    uint32_t open_flags = movie.open_flags();
    if (header.flags & vemo::kHeaderAlpha) open_flags |= vemo::kVideoAlpha;
    const uint32_t header_mode =
        (header.flags & vemo::kHeaderScalingMask) >> vemo::kHeaderScalingShift;
    if (header_mode >= 1 && header_mode <= 6)
        open_flags |= header_mode << vemo::kHeaderScalingShift;

    vemo::FramePlanes* planes = vemo::CreateFramePlanes(
        header.width, header.height, vemo::AllKeyFrames(movie.index(), header.frames), open_flags);
    vemo::BundleBuffers bundles;
    if (!planes || !vemo::AllocateBundleBuffers(header.width, &bundles)) {
        std::fprintf(stderr, "vemo-decode: %s: cannot hold a %ux%u picture\n", args.movie.c_str(),
                     header.width, header.height);
        vemo::FreeFramePlanes(planes);
        return 1;
    }
    const uint32_t across = vemo::BlocksAcross(header.width);
    const uint32_t down = vemo::BlocksDown(header.height);
    std::vector<uint8_t> map(static_cast<size_t>(across) * down + 16);
    int rc = 0;
    for (uint32_t i = 0; i < frame && rc == 0; ++i) {
        const uint8_t* packet = nullptr;
        uint32_t packet_size = 0;
        const uint8_t* video = nullptr;
        uint32_t video_size = 0;
        if (!movie.Packet(i, &packet, &packet_size) ||
            !vemo::FindVideoPart(packet, packet_size, header.audio_tracks, &video, &video_size)) {
            std::fprintf(stderr, "vemo-decode: %s: frame %u cannot be read\n", args.movie.c_str(),
                         i + 1);
            rc = 1;
            break;
        }
        vemo::VideoReport report;
        vemo::DecodeFrameVideo(planes, map.data(), across, video, video_size,
                               vemo::IsKeyFrame(movie.index()[i]), bundles, open_flags,
                               header.flags, &report);
    }
    if (rc == 0) {
        const uint32_t flags = (copy_flags & ~vemo::kCopyFormatMask) |
                               static_cast<uint32_t>(format) |
                               (open_flags & vemo::kCopyMovieFlagsMask) | vemo::kCopyAll;
        const uint32_t mode = (flags & vemo::kCopyScaleMask) >> vemo::kCopyScaleShift;
        const bool wide = mode == 3 || mode == 4 || mode == 5;
        const bool tall = mode == 1 || mode == 2 || mode == 4 || mode == 5;
        const uint32_t width = wide ? 2 * header.width : header.width;
        const uint32_t rows = tall ? 2 * header.height : header.height;
        const uint64_t pitch64 =
            format == vemo::kSurfaceYv12
                ? (static_cast<uint64_t>(header.width + 1) & ~1ull) * (wide ? 2 : 1)
                : static_cast<uint64_t>(width) *
                      vemo::SurfaceBytesPerPixel(static_cast<uint32_t>(format));
        if (pitch64 > 0x7FFFFFFF || pitch64 * rows > (1ull << 31)) {
            std::fprintf(stderr, "vemo-decode: %s: surface too large\n", args.movie.c_str());
            rc = 1;
        } else {
            const uint32_t pitch = static_cast<uint32_t>(pitch64);
            std::vector<uint8_t> out(
                vemo::SurfaceBufferSize(static_cast<uint32_t>(format), pitch, rows), 0);
            vemo::FrameSource source;
            source.planes = planes;
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
            state.set_path(path);
            vemo::ConvertFrame(state, source, request);
            if (args.has("-o") && !WriteFile(args.get("-o"), out)) rc = 1;
            if (rc == 0 && png) {
                // The picture through format 2 (bytes red, green, blue), same flags.
                std::vector<uint8_t> rgb(size_t{width} * 3 * rows, 0);
                request.destination = rgb.data();
                request.pitch = static_cast<int32_t>(width * 3);
                request.flags = (flags & ~vemo::kCopyFormatMask) | vemo::kSurfaceRgb24;
                vemo::ConvertFrame(state, source, request);
                if (!WriteFile(args.get("--png"), EncodePng(rgb, width, rows))) rc = 1;
            }
        }
    }
    vemo::FreeBundleBuffers(&bundles);
    vemo::FreeFramePlanes(planes);
    return rc;
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
