// vemo-decode picture outputs: --planes, --changes and --y4m, written from
// one pass over the movie's frames.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "decode_mode.h"
#include "vemo/frame_decoder.h"
#include "vemo/movie_reader.h"

namespace {

using vemo::tool::DecodeArgs;

class Output {
  public:
    // `whole_planes`: every write is a plane or more, so it goes straight to
    // the file rather than through the stream's buffer.
    bool Open(const std::string& path, bool whole_planes = false) {
        path_ = path;
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) std::fprintf(stderr, "vemo-decode: cannot write %s\n", path.c_str());
        if (file_ && whole_planes) std::setvbuf(file_, nullptr, _IONBF, 0);
        return file_ != nullptr;
    }
    bool Write(const void* data, size_t size) {
        if (!file_ || size == 0) return true;
        if (std::fwrite(data, 1, size, file_) != size) {
            std::fprintf(stderr, "vemo-decode: write to %s failed\n", path_.c_str());
            return false;
        }
        return true;
    }
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    bool Close() {
        if (!file_) return true;
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) std::fprintf(stderr, "vemo-decode: closing %s failed\n", path_.c_str());
        return ok;
    }
    ~Output() {
        if (file_) std::fclose(file_);
    }
    explicit operator bool() const { return file_ != nullptr; }

  private:
    std::string path_;
    FILE* file_ = nullptr;
};

bool WritePlane(Output& out, const vemo::PlaneDescriptor& plane, uint32_t width, uint32_t height) {
    if (!plane.samples) {
        // A missing plane reads as zeros, written from one small block.
        static const uint8_t zeros[64 * 1024] = {};
        for (size_t left = static_cast<size_t>(width) * height; left > 0;) {
            const size_t piece = std::min(left, sizeof zeros);
            if (!out.Write(zeros, piece)) return false;
            left -= piece;
        }
        return true;
    }
    return out.Write(plane.samples, static_cast<size_t>(plane.stride) * height);
}

// Rows of a plane cropped to width x height; 128 where the plane is missing.
bool WriteCropped(Output& out, const vemo::PlaneDescriptor* plane, uint32_t width,
                  uint32_t height) {
    std::vector<uint8_t> row(width, 128);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = plane && plane->samples
                                 ? plane->samples + static_cast<size_t>(y) * plane->stride
                                 : row.data();
        if (!out.Write(src, width)) return false;
    }
    return true;
}

struct Outputs {
    Output planes, changes, y4m;
};

// One decoded frame into each output that is open.
bool WriteFrame(Outputs& out, const vemo::FrameDecoder& decoder, const vemo::MovieHeader& header,
                uint32_t unchanged) {
    const vemo::FramePlanes* planes = decoder.planes();
    const uint32_t open_flags = decoder.settings().open_flags;
    const bool gray = (open_flags & vemo::kVideoGrayscale) != 0;
    const bool alpha = (header.flags & vemo::kHeaderAlpha) != 0;
    const vemo::PlaneDescriptor* buffer = decoder.current();
    if (out.changes) {
        uint8_t count[4];
        vemo::StoreLe32(count, unchanged);
        if (!out.changes.Write(count, 4) ||
            !out.changes.Write(decoder.change_map(),
                               static_cast<size_t>(decoder.map_stride()) * decoder.map_rows()))
            return false;
    }
    if (out.planes) {
        bool ok =
            WritePlane(out.planes, buffer[vemo::kPlaneY], planes->luma_width, planes->luma_height);
        if (!gray)
            ok = ok &&
                 WritePlane(out.planes, buffer[vemo::kPlaneCr], planes->chroma_width,
                            planes->chroma_height) &&
                 WritePlane(out.planes, buffer[vemo::kPlaneCb], planes->chroma_width,
                            planes->chroma_height);
        if (alpha)
            ok = ok && WritePlane(out.planes, buffer[vemo::kPlaneAlpha], planes->luma_width,
                                  planes->luma_height);
        if (!ok) return false;
    }
    if (out.y4m) {
        // U is the plane the copy reads as Cb: the second chroma plane,
        // or the first when the movie's flags exchange the two.
        const bool swap = (open_flags & vemo::kOpenSwapChroma) != 0;
        const vemo::PlaneDescriptor* u =
            gray ? nullptr : &buffer[swap ? vemo::kPlaneCr : vemo::kPlaneCb];
        const vemo::PlaneDescriptor* v =
            gray ? nullptr : &buffer[swap ? vemo::kPlaneCb : vemo::kPlaneCr];
        const uint32_t cw = (header.width + 1) / 2, ch = (header.height + 1) / 2;
        if (!out.y4m.Write(std::string("FRAME\n")) ||
            !WriteCropped(out.y4m, &buffer[vemo::kPlaneY], header.width, header.height) ||
            !WriteCropped(out.y4m, u, cw, ch) || !WriteCropped(out.y4m, v, cw, ch))
            return false;
    }
    return true;
}

int RunVideo(const DecodeArgs& args) {
    vemo::MovieReader movie;
    if (!movie.Open(args.movie)) {
        std::fprintf(stderr, "vemo-decode: %s: %s %s\n", args.movie.c_str(), movie.error().c_str(),
                     movie.detail().c_str());
        return 1;
    }
    const vemo::MovieHeader& header = movie.header();
    vemo::FrameDecoderSettings settings = vemo::DecoderSettingsFor(movie, true);
    if (!vemo::tool::ThreadCount(args, &settings.threads)) return 2;
    vemo::FrameDecoder decoder;  // alpha is always decoded here
    if (!decoder.Open(settings)) {
        std::fprintf(stderr, "vemo-decode: %s: cannot hold a %ux%u picture\n", args.movie.c_str(),
                     header.width, header.height);
        return 1;
    }
    Outputs outputs;
    int rc = 0;
    if ((args.has("--planes") && !outputs.planes.Open(args.get("--planes"), true)) ||
        (args.has("--changes") && !outputs.changes.Open(args.get("--changes"))) ||
        (args.has("--y4m") && !outputs.y4m.Open(args.get("--y4m"))))
        rc = 1;
    if (rc == 0 && outputs.y4m) {
        char line[160];
        std::snprintf(line, sizeof line, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 C420jpeg\n",
                      header.width, header.height, header.rate_num, header.rate_den);
        if (!outputs.y4m.Write(std::string(line))) rc = 1;
    }
    uint32_t damaged = 0;
    for (uint32_t i = 0; i < header.frames && rc == 0; ++i) {
        const uint8_t* video = nullptr;
        uint32_t video_size = 0;
        if (!movie.VideoPart(i, &video, &video_size)) {
            std::fprintf(stderr, "vemo-decode: %s: frame %u cannot be read\n", args.movie.c_str(),
                         i + 1);
            rc = 1;
            break;
        }
        const uint32_t unchanged =
            decoder.DecodeVideoPart(video, video_size, vemo::IsKeyFrame(movie.index()[i]));
        if (decoder.report().faults) ++damaged;
        if (!WriteFrame(outputs, decoder, header, unchanged)) rc = 1;
    }
    if (!outputs.planes.Close() || !outputs.changes.Close() || !outputs.y4m.Close()) rc = 1;
    if (damaged)
        std::fprintf(
            stderr,
            "vemo-decode: %s: %u frame(s) had damaged picture data (decoded within bounds)\n",
            args.movie.c_str(), damaged);
    return rc;
}

const vemo::tool::DecodeMode kVideoMode = {
    "picture",
    {
        {"--planes", true, true,
         "write every frame's decoded planes (Y, Cr, Cb, alpha; padded) to ARG"},
        {"--changes", true, true, "write every frame's unchanged-area count and change map to ARG"},
        {"--y4m", true, true, "write the picture as 4:2:0 YUV4MPEG2 at the movie's size to ARG"},
        {"--threads", true, false,
         "decode on ARG threads (default 1; for every output; the output is the same)"},
    },
    RunVideo,
};
VEMO_DECODE_MODE(kVideoMode);

}  // namespace
