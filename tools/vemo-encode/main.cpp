// vemo-encode: turns a YUV4MPEG2 picture stream (and a WAV sound) into a
// movie.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vemo/container.h"
#include "vemo/container_writer.h"
#include "vemo/encoder.h"
#include "vemo/media_input.h"
#include "vemo/version.h"

namespace {

const char kUsage[] =
    "Usage: vemo-encode IN.y4m [--wav IN.wav] -o OUT.vem [--quality Q] [--keyint N] [--search R]\n"
    "  Encodes a 4:2:0 or mono YUV4MPEG2 stream (\"-\" reads standard input) into a movie.\n"
    "  --wav IN.wav   add an 8- or 16-bit PCM sound track (mono or stereo, 1000-65535 Hz)\n"
    "  -o OUT.vem     the movie to write\n"
    "  --quality Q    1 (smallest) to 100 (best), default 75\n"
    "  --keyint N     a key frame every N frames (default: every 5 seconds; 1 = all key frames)\n"
    "  --search R     motion search range in samples, 0 to 15 (default 15)\n"
    "  --threads N    threads to encode with, 1 to 64 (default: one per processor core);\n"
    "                 the movie is the same for any number\n"
    "  --psnr         print each frame's PSNR of Y, Cb and Cr against the source on standard\n"
    "                 output, and their averages over the frames (identical planes: 100 dB)\n"
    "  --quiet        no progress on standard error\n"
    "  --help         show this text\n"
    "  --version      show the program's version\n";

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path;
        return false;
    }
    bytes->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes->size() + n > (size_t{1} << 30)) {
            std::fclose(f);
            *error = path + " is larger than 1 GB";
            return false;
        }
        bytes->insert(bytes->end(), buf, buf + n);
    }
    std::fclose(f);
    return true;
}

bool Number(const char* text, long lo, long hi, long* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "vemo-encode: %s\n", message.c_str());
    return 1;
}

struct Options {
    std::string input, wav, output;
    long quality = 75, keyint = -1, search = 15, threads = 0;
    bool quiet = false, psnr = false;
};

// Reads the command line into *o. Returns the exit code when the program is
// to stop (help, a bad command line), else -1.
int ParseArgs(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("vemo-encode %s\n", vemo::kVersion);
            return 0;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (a == "--psnr") {
            o->psnr = true;
        } else if (a == "--wav" || a == "-o" || a == "--quality" || a == "--keyint" ||
                   a == "--search" || a == "--threads") {
            const char* v = value();
            if (!v) {
                std::fprintf(stderr, "vemo-encode: %s needs a value\n%s", a.c_str(), kUsage);
                return 2;
            }
            bool ok = true;
            if (a == "--wav") {
                o->wav = v;
            } else if (a == "-o") {
                o->output = v;
            } else if (a == "--quality") {
                ok = Number(v, 1, 100, &o->quality);
            } else if (a == "--keyint") {
                ok = Number(v, 1, 1000000, &o->keyint);
            } else if (a == "--threads") {
                ok = Number(v, 1, vemo::kMostEncoderThreads, &o->threads);
            } else {
                ok = Number(v, 0, 15, &o->search);
            }
            if (!ok) {
                std::fprintf(stderr, "vemo-encode: bad value for %s: %s\n", a.c_str(), v);
                return 2;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "vemo-encode: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (o->input.empty()) {
            o->input = a;
        } else {
            std::fprintf(stderr, "vemo-encode: more than one input named\n%s", kUsage);
            return 2;
        }
    }
    if (o->input.empty() || o->output.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return -1;
}

vemo::EncoderSettings SettingsFor(const Options& o, const vemo::encode::Y4mReader& reader) {
    vemo::EncoderSettings settings;
    settings.quality = static_cast<int>(o.quality);
    settings.search_range = static_cast<int>(o.search);
    settings.threads = static_cast<int>(o.threads);
    settings.grayscale = reader.mono;
    const uint32_t whole_fps = vemo::WholeFramesPerSecond(reader.rate_num, reader.rate_den);
    settings.key_interval = o.keyint > 0
                                ? static_cast<int>(o.keyint)
                                : static_cast<int>(std::min<uint32_t>(whole_fps * 5, 100000));
    return settings;
}

struct EncodedFrames {
    std::vector<std::vector<uint8_t>> videos;
    std::vector<bool> keys;
};

// PSNR of each plane of the frames so far, for --psnr.
struct PsnrReport {
    double sum[3] = {};
    size_t frames = 0;
};

// Prints the frame's PSNR of Y, Cb and Cr (Y alone for a mono source)
// against the source planes and adds them to the report.
void ReportPsnr(const vemo::EncoderPicture& picture, const vemo::VideoEncoder& encoder,
                uint32_t width, uint32_t height, bool mono, PsnrReport* report) {
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    // The encoder's planes: 0 Y, 1 Cr, 2 Cb.
    const uint8_t* source[3] = {picture.y, picture.cb, picture.cr};
    const ptrdiff_t strides[3] = {picture.y_stride, picture.cb_stride, picture.cr_stride};
    const int planes[3] = {0, 2, 1};
    ++report->frames;
    std::printf("frame %zu:", report->frames);
    for (int i = 0; i < (mono ? 1 : 3); ++i) {
        const int p = planes[i];
        const double db = vemo::PlanePsnr(source[i], strides[i], encoder.decoded(p).data(),
                                          encoder.plane_width(p), i ? cw : width, i ? ch : height);
        report->sum[i] += db;
        std::printf(" %s %.2f", i == 0 ? "Y" : i == 1 ? "Cb" : "Cr", db);
    }
    std::printf(" dB\n");
}

void PrintPsnrAverage(const PsnrReport& report, bool mono) {
    if (report.frames == 0) return;
    std::printf("average PSNR over %zu frames:", report.frames);
    for (int i = 0; i < (mono ? 1 : 3); ++i)
        std::printf(" %s %.2f",
                    i == 0   ? "Y"
                    : i == 1 ? "Cb"
                             : "Cr",
                    report.sum[i] / static_cast<double>(report.frames));
    std::printf(" dB\n");
}

// Encodes every picture the reader gives. Returns the failure message when
// the encoder refuses a frame, else empty; a read error is left in
// *read_error.
std::string EncodeFrames(vemo::encode::Y4mReader& reader, vemo::VideoEncoder& encoder,
                         const Options& o, EncodedFrames* frames, std::string* read_error) {
    PsnrReport psnr;
    std::vector<uint8_t> y, cb, cr;
    size_t total = 0;
    while (reader.ReadFrame(&y, &cb, &cr, read_error)) {
        vemo::EncoderPicture picture;
        picture.y = y.data();
        picture.y_stride = reader.width;
        picture.cb = cb.data();
        picture.cr = cr.data();
        picture.cb_stride = picture.cr_stride = (reader.width + 1) / 2;
        std::vector<uint8_t> video;
        bool key = false;
        if (!encoder.EncodeFrame(picture, false, &video, &key))
            return "frame " + std::to_string(frames->videos.size() + 1) + ": " + encoder.error();
        total += video.size();
        if (o.psnr) ReportPsnr(picture, encoder, reader.width, reader.height, reader.mono, &psnr);
        frames->videos.push_back(std::move(video));
        frames->keys.push_back(key);
        if (!o.quiet)
            std::fprintf(stderr, "\rvemo-encode: frame %zu%s, %zu bytes", frames->videos.size(),
                         key ? " (key)" : "      ", total);
    }
    if (o.psnr) PrintPsnrAverage(psnr, reader.mono);
    return {};
}

// Joins the frames and the sound (when a WAV was given) into the movie and
// writes it to o.output. Returns the exit code.
int WriteMovie(const Options& o, const vemo::encode::Y4mReader& reader, uint32_t header_flags,
               const EncodedFrames& frames, const vemo::encode::WavSound& sound) {
    vemo::MovieWriter movie('i', reader.width, reader.height, reader.rate_num, reader.rate_den,
                            header_flags);
    vemo::encode::SoundTrack track;
    std::string error;
    if (!o.wav.empty()) {
        if (!vemo::encode::EncodeSoundTrack(sound, static_cast<uint32_t>(frames.videos.size()),
                                            reader.rate_num, reader.rate_den, &track, &error))
            return Fail(o.wav + ": " + error);
        movie.AddTrack(track.buffer_size, track.format, vemo::kDefaultTrackId);
    }
    for (size_t f = 0; f < frames.videos.size(); ++f) {
        std::vector<std::vector<uint8_t>> parts;
        if (!o.wav.empty()) parts.push_back(track.parts[f]);
        movie.AddFrame(frames.keys[f], parts, frames.videos[f]);
    }
    const std::vector<uint8_t> bytes = movie.Finish();
    std::FILE* out = std::fopen(o.output.c_str(), "wb");
    if (!out) return Fail("cannot write " + o.output);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) return Fail("cannot write " + o.output);
    if (!o.quiet)
        std::fprintf(stderr, "vemo-encode: %zu frames, %zu bytes written to %s\n",
                     frames.videos.size(), bytes.size(), o.output.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int code = ParseArgs(argc, argv, &o); code >= 0) return code;

    std::FILE* in = o.input == "-" ? stdin : std::fopen(o.input.c_str(), "rb");
    if (!in) return Fail("cannot open " + o.input);
    vemo::encode::Y4mReader reader;
    std::string error;
    if (!reader.Open(in, &error)) return Fail(o.input + ": " + error);

    vemo::encode::WavSound sound;
    if (!o.wav.empty()) {
        std::vector<uint8_t> bytes;
        if (!ReadFile(o.wav, &bytes, &error) || !vemo::encode::ParseWav(bytes, &sound, &error))
            return Fail(o.wav + ": " + error);
    }

    vemo::VideoEncoder encoder(reader.width, reader.height, SettingsFor(o, reader));
    EncodedFrames frames;
    const std::string failure = EncodeFrames(reader, encoder, o, &frames, &error);
    if (!failure.empty()) return Fail(failure);
    if (!o.quiet) std::fputc('\n', stderr);
    if (in != stdin) std::fclose(in);
    if (!error.empty()) return Fail(o.input + ": " + error);
    if (frames.videos.empty()) return Fail(o.input + ": no frames");
    return WriteMovie(o, reader, encoder.header_flags(), frames, sound);
}
