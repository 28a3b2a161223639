// The encoder comparison's measure: the mean per-frame PSNR of Y, Cb and Cr
// of decoded pictures against their 4:2:0 Y4M source. The decoded pictures
// come as Y4M or as a stream of PGM frames with the chroma planes side by
// side below the luma (U then V in each row), as MPEG-2 decoders write them.
//
//   vemo-bench-psnr SOURCE.y4m DECODED
// prints "frames N y Y cb CB cr CR" (dB, 99 for identical planes).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLargest = 8192;

struct Frame {
    std::vector<uint8_t> y, cb, cr;
};

// Reads one whitespace-free header word.
std::string Word(std::istream& in) {
    std::string w;
    int c = in.get();
    while (c == ' ' || c == '\n' || c == '\r' || c == '\t') c = in.get();
    while (c != EOF && c != ' ' && c != '\n' && c != '\r' && c != '\t') {
        w.push_back(static_cast<char>(c));
        c = in.get();
    }
    if (c != EOF) in.unget();
    return w;
}

class Reader {
  public:
    explicit Reader(const char* path) : in_(path, std::ios::binary) {}

    // Reads the first header; false when the file is neither kind.
    bool Open() {
        const std::string magic = Word(in_);
        if (magic == "YUV4MPEG2") {
            y4m_ = true;
            for (std::string w; (w = Word(in_)).size();) {
                if (w[0] == 'W') w_ = static_cast<uint32_t>(std::atol(w.c_str() + 1));
                if (w[0] == 'H') h_ = static_cast<uint32_t>(std::atol(w.c_str() + 1));
                if (in_.peek() == '\n') break;
            }
            in_.get();
            return w_ && h_ && w_ <= kLargest && h_ <= kLargest;
        }
        pgm_pending_ = magic == "P5";
        return pgm_pending_ && PgmSize();
    }

    bool Next(Frame* f) {
        if (y4m_) {
            std::string line;
            if (!std::getline(in_, line) || line.compare(0, 5, "FRAME") != 0) return false;
            return Planes(f, false);
        }
        if (!pgm_pending_) {
            if (Word(in_) != "P5" || !PgmSize()) return false;
        }
        pgm_pending_ = false;
        return Planes(f, true);
    }

    uint32_t width() const { return w_; }
    uint32_t height() const { return h_; }

  private:
    bool PgmSize() {
        const uint32_t w = static_cast<uint32_t>(std::atol(Word(in_).c_str()));
        const uint32_t h = static_cast<uint32_t>(std::atol(Word(in_).c_str()));
        Word(in_);  // the largest value
        in_.get();
        w_ = w;
        h_ = h * 2 / 3;
        return w_ && h_ && w_ <= kLargest && h_ <= kLargest && w_ % 2 == 0;
    }

    bool Planes(Frame* f, bool side_by_side) {
        const size_t cw = (w_ + 1) / 2, ch = (h_ + 1) / 2;
        f->y.resize(size_t{w_} * h_);
        f->cb.resize(cw * ch);
        f->cr.resize(cw * ch);
        in_.read(reinterpret_cast<char*>(f->y.data()), static_cast<std::streamsize>(f->y.size()));
        if (!side_by_side) {
            in_.read(reinterpret_cast<char*>(f->cb.data()),
                     static_cast<std::streamsize>(f->cb.size()));
            in_.read(reinterpret_cast<char*>(f->cr.data()),
                     static_cast<std::streamsize>(f->cr.size()));
        } else {
            for (size_t r = 0; r < ch; ++r) {
                in_.read(reinterpret_cast<char*>(&f->cb[r * cw]), static_cast<std::streamsize>(cw));
                in_.read(reinterpret_cast<char*>(&f->cr[r * cw]), static_cast<std::streamsize>(cw));
            }
        }
        return static_cast<bool>(in_);
    }

    std::ifstream in_;
    bool y4m_ = false, pgm_pending_ = false;
    uint32_t w_ = 0, h_ = 0;
};

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sse = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sse += d * d;
    }
    if (sse == 0) return 99;
    return std::min(99.0, 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sse));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vemo-bench-psnr SOURCE.y4m DECODED\n");
        return 2;
    }
    Reader source(argv[1]), decoded(argv[2]);
    if (!source.Open() || !decoded.Open()) {
        std::fprintf(stderr, "vemo-bench-psnr: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    if (source.width() != decoded.width() || source.height() != decoded.height()) {
        std::fprintf(stderr, "vemo-bench-psnr: %ux%u against %ux%u\n", source.width(),
                     source.height(), decoded.width(), decoded.height());
        return 1;
    }
    Frame a, b;
    double sum[3] = {};
    unsigned frames = 0;
    while (source.Next(&a) && decoded.Next(&b)) {
        sum[0] += Psnr(a.y, b.y);
        sum[1] += Psnr(a.cb, b.cb);
        sum[2] += Psnr(a.cr, b.cr);
        ++frames;
    }
    if (!frames) {
        std::fprintf(stderr, "vemo-bench-psnr: no frames to compare\n");
        return 1;
    }
    std::printf("frames %u y %.2f cb %.2f cr %.2f\n", frames, sum[0] / frames, sum[1] / frames,
                sum[2] / frames);
    return 0;
}
