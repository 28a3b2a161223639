// vemo-encode: turns a YUV4MPEG2 picture stream (and a WAV sound) into a
// movie.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vemo/media_input.h"
#include "vemo/container.h"
#include "vemo/container_writer.h"
#include "vemo/encoder.h"

namespace {

const char kUsage[] =
    "Usage: vemo-encode IN.y4m [--wav IN.wav] -o OUT.vem [--quality Q] [--keyint N] [--search R]\n"
    "  Encodes a 4:2:0 or mono YUV4MPEG2 stream (\"-\" reads standard input) into a movie.\n"
    "  --wav IN.wav   add an 8- or 16-bit PCM sound track (mono or stereo, 1000-65535 Hz)\n"
    "  -o OUT.vem     the movie to write\n"
    "  --quality Q    1 (smallest) to 100 (best), default 75\n"
    "  --keyint N     a key frame every N frames (default: every 5 seconds; 1 = all key frames)\n"
    "  --search R     motion search range in samples, 0 to 15 (default 7)\n"
    "  --quiet        no progress on standard error\n"
    "  --help         show this text\n";

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

}  // namespace

int main(int argc, char** argv) {
    std::string input, wav, output;
    long quality = 75, keyint = -1, search = 7;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--wav" || a == "-o" || a == "--quality" || a == "--keyint" ||
                   a == "--search") {
            const char* v = value();
            if (!v) {
                std::fprintf(stderr, "vemo-encode: %s needs a value\n%s", a.c_str(), kUsage);
                return 2;
            }
            bool ok = true;
            if (a == "--wav") {
                wav = v;
            } else if (a == "-o") {
                output = v;
            } else if (a == "--quality") {
                ok = Number(v, 1, 100, &quality);
            } else if (a == "--keyint") {
                ok = Number(v, 1, 1000000, &keyint);
            } else {
                ok = Number(v, 0, 15, &search);
            }
            if (!ok) {
                std::fprintf(stderr, "vemo-encode: bad value for %s: %s\n", a.c_str(), v);
                return 2;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "vemo-encode: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else if (input.empty()) {
            input = a;
        } else {
            std::fprintf(stderr, "vemo-encode: more than one input named\n%s", kUsage);
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    std::FILE* in = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (!in) return Fail("cannot open " + input);
    vemo::encode::Y4mReader reader;
    std::string error;
    if (!reader.Open(in, &error)) return Fail(input + ": " + error);

    vemo::encode::WavSound sound;
    if (!wav.empty()) {
        std::vector<uint8_t> bytes;
        if (!ReadFile(wav, &bytes, &error) || !vemo::encode::ParseWav(bytes, &sound, &error))
            return Fail(wav + ": " + error);
    }

    vemo::EncoderSettings settings;
    settings.quality = static_cast<int>(quality);
    settings.search_range = static_cast<int>(search);
    settings.grayscale = reader.mono;
    const uint32_t whole_fps = vemo::WholeFramesPerSecond(reader.rate_num, reader.rate_den);
    settings.key_interval = keyint > 0
                                ? static_cast<int>(keyint)
                                : static_cast<int>(std::min<uint32_t>(whole_fps * 5, 100000));
    vemo::VideoEncoder encoder(reader.width, reader.height, settings);

    std::vector<std::vector<uint8_t>> videos;
    std::vector<bool> keys;
    std::vector<uint8_t> y, cb, cr;
    size_t total = 0;
    while (reader.ReadFrame(&y, &cb, &cr, &error)) {
        vemo::EncoderPicture picture;
        picture.y = y.data();
        picture.y_stride = reader.width;
        picture.cb = cb.data();
        picture.cr = cr.data();
        picture.cb_stride = picture.cr_stride = (reader.width + 1) / 2;
        std::vector<uint8_t> video;
        bool key = false;
        if (!encoder.EncodeFrame(picture, false, &video, &key))
            return Fail("frame " + std::to_string(videos.size() + 1) + ": " + encoder.error());
        total += video.size();
        videos.push_back(std::move(video));
        keys.push_back(key);
        if (!quiet)
            std::fprintf(stderr, "\rvemo-encode: frame %zu%s, %zu bytes", videos.size(),
                         key ? " (key)" : "      ", total);
    }
    if (!quiet) std::fputc('\n', stderr);
    if (in != stdin) std::fclose(in);
    if (!error.empty()) return Fail(input + ": " + error);
    if (videos.empty()) return Fail(input + ": no frames");

    vemo::MovieWriter movie('i', reader.width, reader.height, reader.rate_num, reader.rate_den,
                            encoder.header_flags());
    vemo::encode::SoundTrack track;
    if (!wav.empty()) {
        if (!vemo::encode::EncodeSoundTrack(sound, static_cast<uint32_t>(videos.size()),
                                            reader.rate_num, reader.rate_den, &track, &error))
            return Fail(wav + ": " + error);
        movie.AddTrack(track.buffer_size, track.format, 1);
    }
    for (size_t f = 0; f < videos.size(); ++f) {
        std::vector<std::vector<uint8_t>> parts;
        if (!wav.empty()) parts.push_back(track.parts[f]);
        movie.AddFrame(keys[f], parts, videos[f]);
    }
    const std::vector<uint8_t> bytes = movie.Finish();
    std::FILE* out = std::fopen(output.c_str(), "wb");
    if (!out) return Fail("cannot write " + output);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) return Fail("cannot write " + output);
    if (!quiet)
        std::fprintf(stderr, "vemo-encode: %zu frames, %zu bytes written to %s\n", videos.size(),
                     bytes.size(), output.c_str());
    return 0;
}
