// vemo-encode: turns a YUV4MPEG2 picture stream (and a WAV sound) into a
// movie.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "vemo/container.h"
#include "vemo/container_writer.h"
#include "vemo/encoder.h"
#include "vemo/media_input.h"
#include "vemo/rate_control.h"
#include "vemo/version.h"

namespace {

const char kUsage[] =
    "Usage: vemo-encode IN.y4m [--wav IN.wav] -o OUT.vem [--quality Q | --bitrate KBIT]\n"
    "                   [--max-rate KBIT] [--keyint N] [--search R] [--frames N] [--stats]\n"
    "                   [--psnr] [--progress | --quiet]\n"
    "  Encodes a 4:2:0 or mono YUV4MPEG2 stream (\"-\" reads standard input) into a movie.\n"
    "  --wav IN.wav     add an 8- or 16-bit PCM sound track (mono or stereo, 1000-65535 Hz)\n"
    "  -o OUT.vem       the movie to write\n"
    "  --quality Q      1 (smallest) to 100 (best), default 75: one quantiser for every frame\n"
    "  --bitrate KBIT   aim the picture track at KBIT kbit/s over the movie (16 to 200000)\n"
    "  --max-rate KBIT  read at most KBIT kbit/s in any one second of playback, sound included\n"
    "  --keyint N       at most N frames from one key frame to the next (default: 5 seconds;\n"
    "                   1 = all key frames); scene cuts get key frames as well\n"
    "  --search R       motion search range in samples, 0 to 15 (default 15)\n"
    "  --lookahead N    pictures read ahead, 0 to 64 (default 16): areas that later pictures\n"
    "                   keep drawing from get a finer quantiser, areas soon replaced a\n"
    "                   coarser one (0: every block at its frame's quantiser)\n"
    "  --frames N       encode only the first N pictures of the input\n"
    "  --threads N      threads to encode with, 1 to 64 (default: one per processor core);\n"
    "                   the movie is the same for any number\n"
    "  --stats          print each frame's kind (key or inter), quantiser and video bytes\n"
    "                   on standard output (16-19: quantiser 15 with ever fewer bits\n"
    "                   spent on detail, for bit rates that 15 alone overshoots)\n"
    "  --psnr           print each frame's PSNR of Y, Cb and Cr against the source on\n"
    "                   standard output, and their averages over the frames (identical\n"
    "                   planes: 100 dB)\n"
    "  --progress       show frames done, frames per second and time left (the default\n"
    "                   when standard error is a terminal)\n"
    "  --quiet          nothing on standard error but errors and warnings\n"
    "  --help           show this text\n"
    "  --version        show the program's version\n";

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
    long quality = 75, keyint = -1, search = 15, bitrate = 0, max_rate = 0, threads = 0;
    long lookahead = static_cast<long>(vemo::Lookahead::kDepth);
    long frames = 0;  // pictures to encode at most (0: all)
    bool quality_given = false, quiet = false, progress = false, psnr = false, stats = false;
};

constexpr const char* kValueOptions[] = {"--wav",       "-o",        "--quality",  "--keyint",
                                         "--search",    "--bitrate", "--max-rate", "--threads",
                                         "--lookahead", "--frames"};

// Stores the value v of option a in *o; false when it is out of range.
bool SetValue(const std::string& a, const char* v, Options* o) {
    if (a == "--wav") {
        o->wav = v;
    } else if (a == "-o") {
        o->output = v;
    } else if (a == "--quality") {
        o->quality_given = true;
        return Number(v, 1, 100, &o->quality);
    } else if (a == "--keyint") {
        return Number(v, 1, 1000000, &o->keyint);
    } else if (a == "--bitrate") {
        return Number(v, 16, 200000, &o->bitrate);
    } else if (a == "--max-rate") {
        return Number(v, 16, 2000000, &o->max_rate);
    } else if (a == "--lookahead") {
        return Number(v, 0, 64, &o->lookahead);
    } else if (a == "--frames") {
        return Number(v, 1, 10000000, &o->frames);
    } else if (a == "--threads") {
        return Number(v, 1, vemo::kMostEncoderThreads, &o->threads);
    } else {
        return Number(v, 0, 15, &o->search);
    }
    return true;
}

// Options that cannot go together. Returns the exit code, or -1 when all is
// well.
int CheckCombination(const Options& o) {
    const char* problem = nullptr;
    if (o.input.empty() || o.output.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (o.quality_given && o.bitrate) problem = "--quality and --bitrate exclude each other";
    if (o.quiet && o.progress) problem = "--progress and --quiet exclude each other";
    if (o.bitrate && o.max_rate && o.max_rate < o.bitrate)
        problem = "--max-rate is below --bitrate";
    if (!problem) return -1;
    std::fprintf(stderr, "vemo-encode: %s\n", problem);
    return 2;
}

// Reads the command line into *o. Returns the exit code when the program is
// to stop (help, a bad command line), else -1.
int ParseArgs(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool takes_value = std::find(std::begin(kValueOptions), std::end(kValueOptions), a) !=
                                 std::end(kValueOptions);
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("vemo-encode %s\n", vemo::kVersion);
            return 0;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (a == "--progress") {
            o->progress = true;
        } else if (a == "--psnr") {
            o->psnr = true;
        } else if (a == "--stats") {
            o->stats = true;
        } else if (takes_value) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vemo-encode: %s needs a value\n%s", a.c_str(), kUsage);
                return 2;
            }
            const char* v = argv[++i];
            if (!SetValue(a, v, o)) {
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
    return CheckCombination(*o);
}

vemo::EncoderSettings SettingsFor(const Options& o, const vemo::encode::Y4mReader& reader) {
    vemo::EncoderSettings settings;
    settings.quality = static_cast<int>(o.quality);
    settings.search_range = static_cast<int>(o.search);
    settings.threads = static_cast<int>(o.threads);
    settings.grayscale = reader.mono;
    settings.key_interval = 0;  // the key frames are chosen here, see KeyInterval
    return settings;
}

// The longest run from one key frame to the next.
uint32_t KeyInterval(const Options& o, const vemo::encode::Y4mReader& reader) {
    const uint32_t whole_fps = vemo::WholeFramesPerSecond(reader.rate_num, reader.rate_den);
    return o.keyint > 0 ? static_cast<uint32_t>(o.keyint)
                        : std::min<uint32_t>(whole_fps * 5, 100000);
}

// The frames of a regular input file, told from its size and the stream
// header's end (0 when not known, as for standard input).
uint64_t FramesInFile(const Options& o, std::FILE* in, const vemo::encode::Y4mReader& reader) {
    if (o.input == "-") return 0;
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(o.input, ec);
    const long header = std::ftell(in);
    if (ec || header < 0 || size < static_cast<uintmax_t>(header)) return 0;
    const uint64_t luma = uint64_t{reader.width} * reader.height;
    const uint64_t chroma =
        reader.mono ? 0 : 2 * uint64_t{(reader.width + 1) / 2} * ((reader.height + 1) / 2);
    return (size - static_cast<uintmax_t>(header)) / (6 + luma + chroma);  // "FRAME\n"
}

// What each frame's packet will carry beyond its video part (the sound
// parts with their length fields, a padding byte), from a trial cut of the
// sound into the frames expected. Empty without sound.
std::vector<size_t> ExtraBytes(const Options& o, const vemo::encode::Y4mReader& reader,
                               const vemo::encode::WavSound& sound, uint64_t frames) {
    if (o.wav.empty() || !sound.rate || !sound.channels) return {};
    if (!frames) {  // as many frames as the sound lasts
        const uint64_t samples = sound.samples.size() / sound.channels;
        frames = samples * reader.rate_num / (uint64_t{sound.rate} * std::max(reader.rate_den, 1u));
    }
    frames = std::min<uint64_t>(frames + 1, 10000000);
    vemo::encode::SoundTrack track;
    std::string error;
    if (!vemo::encode::EncodeSoundTrack(sound, static_cast<uint32_t>(frames), reader.rate_num,
                                        reader.rate_den, &track, &error))
        return {};
    std::vector<size_t> extra;
    for (const auto& part : track.parts) extra.push_back(4 + part.size() + 1);
    return extra;
}

bool IsTerminal(std::FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

// Frames done, frames per second and time left on standard error: on one
// line rewritten in place on a terminal, else a line each second.
class Progress {
  public:
    Progress(bool on, bool terminal, uint64_t total)
        : on_(on), terminal_(terminal), total_(total), start_(Clock::now()), shown_(start_) {}

    void Show(uint64_t done, double kbit, bool last) {
        if (!on_) return;
        const Clock::time_point now = Clock::now();
        const double since = std::chrono::duration<double>(now - shown_).count();
        if (!last && since < (terminal_ ? 0.25 : 1.0)) return;
        shown_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        char line[160];
        int n = std::snprintf(line, sizeof line, "vemo-encode: frame %llu",
                              static_cast<unsigned long long>(done));
        if (total_ >= done && total_)
            n += std::snprintf(line + n, sizeof line - n, "/%llu",
                               static_cast<unsigned long long>(total_));
        n += std::snprintf(line + n, sizeof line - n, ", %.1f frames/s, %.0f kbit/s", fps, kbit);
        if (total_ > done && fps > 0) {
            const uint64_t left = static_cast<uint64_t>(static_cast<double>(total_ - done) / fps);
            std::snprintf(line + n, sizeof line - n, ", %llu:%02llu left",
                          static_cast<unsigned long long>(left / 60),
                          static_cast<unsigned long long>(left % 60));
        }
        if (terminal_)
            std::fprintf(stderr, "\r%-79s%s", line, last ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", line);
        std::fflush(stderr);
    }

  private:
    using Clock = std::chrono::steady_clock;
    bool on_, terminal_;
    uint64_t total_;
    Clock::time_point start_, shown_;
};

struct Steering {
    vemo::RateController rate;
    vemo::KeyFrameChooser keys;
    std::vector<size_t> extra;  // by frame, see ExtraBytes
    bool sound = false;
    size_t Extra(size_t frame) const {
        return frame < extra.size() ? extra[frame] : sound ? size_t{5} : size_t{0};
    }
};

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
// against the source planes, on the frame's line, and adds them to the
// report.
void ReportPsnr(const vemo::EncoderPicture& picture, const vemo::VideoEncoder& encoder,
                uint32_t width, uint32_t height, bool mono, PsnrReport* report) {
    const uint32_t cw = (width + 1) / 2, ch = (height + 1) / 2;
    // The encoder's planes: 0 Y, 1 Cr, 2 Cb.
    const uint8_t* source[3] = {picture.y, picture.cb, picture.cr};
    const ptrdiff_t strides[3] = {picture.y_stride, picture.cb_stride, picture.cr_stride};
    const int planes[3] = {0, 2, 1};
    ++report->frames;
    for (int i = 0; i < (mono ? 1 : 3); ++i) {
        const int p = planes[i];
        const double db = vemo::PlanePsnr(source[i], strides[i], encoder.decoded(p).data(),
                                          encoder.plane_width(p), i ? cw : width, i ? ch : height);
        report->sum[i] += db;
        std::printf(" %s %.2f", i == 0 ? "Y" : i == 1 ? "Cb" : "Cr", db);
    }
    std::printf(" dB");
}

// The line of frame `number` (from 1) on standard output, for --stats and
// --psnr.
void ReportFrame(const Options& o, size_t number, const vemo::EncoderPicture& picture,
                 const vemo::VideoEncoder& encoder, const vemo::encode::Y4mReader& reader, bool key,
                 size_t bytes, PsnrReport* psnr) {
    if (!o.stats && !o.psnr) return;
    std::printf("frame %zu:", number);
    if (o.stats)
        std::printf(" %s q %d %zu bytes", key ? "key" : "inter", encoder.quantiser(), bytes);
    if (o.psnr) ReportPsnr(picture, encoder, reader.width, reader.height, reader.mono, psnr);
    std::printf("\n");
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

// A picture read and waiting for the look-ahead to see past it.
struct PendingPicture {
    std::vector<uint8_t> y, cb, cr;
    bool key = false;
};

// The pictures, read ahead of the one being encoded, and what the
// look-ahead makes of them.
struct Ahead {
    vemo::Lookahead lookahead;
    std::deque<PendingPicture> pictures;
    size_t depth;  // pictures held past the one encoded (0: none)
};

// Pictures the look-ahead holds: as asked, but no more than 256 MB of them.
size_t AheadDepth(const Options& o, const vemo::encode::Y4mReader& reader) {
    const uint64_t bytes = uint64_t{reader.width} * reader.height * 3 / 2 + 1;
    return static_cast<size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(o.lookahead), (uint64_t{256} << 20) / bytes));
}

// Encodes the oldest pending picture with the step offsets the look-ahead
// gives it. Returns the failure message, else empty.
std::string EncodeOldest(const vemo::encode::Y4mReader& reader, vemo::VideoEncoder& encoder,
                         const Options& o, Steering& steering, Ahead& ahead, EncodedFrames* frames,
                         PsnrReport* psnr) {
    const PendingPicture& p = ahead.pictures.front();
    const std::vector<float> offsets = ahead.depth ? ahead.lookahead.Take() : std::vector<float>{};
    vemo::EncoderPicture picture;
    picture.y = p.y.data();
    picture.y_stride = reader.width;
    picture.cb = p.cb.data();
    picture.cr = p.cr.data();
    picture.cb_stride = picture.cr_stride = (reader.width + 1) / 2;
    picture.area_offsets = offsets.empty() ? nullptr : offsets.data();
    if (ahead.depth)
        steering.rate.SetOutlook(ahead.lookahead.carried(), ahead.lookahead.follow_ratio());
    const size_t f = frames->videos.size();
    std::vector<uint8_t> video;
    bool was_key = false;
    if (!vemo::EncodeWithinRate(encoder, steering.rate, picture, p.key, steering.Extra(f), &video,
                                &was_key))
        return "frame " + std::to_string(f + 1) + ": " + encoder.error();
    ReportFrame(o, f + 1, picture, encoder, reader, was_key, video.size(), psnr);
    frames->videos.push_back(std::move(video));
    frames->keys.push_back(was_key);
    ahead.pictures.pop_front();
    return {};
}

// Encodes every picture the reader gives, each once the look-ahead has seen
// the ones after it. Returns the failure message when the encoder refuses a
// frame, else empty; a read error is left in *read_error.
std::string EncodeFrames(vemo::encode::Y4mReader& reader, vemo::VideoEncoder& encoder,
                         const Options& o, Steering& steering, Progress& progress,
                         EncodedFrames* frames, std::string* read_error) {
    PsnrReport psnr;
    Ahead ahead{vemo::Lookahead(reader.width, reader.height), {}, AheadDepth(o, reader)};
    bool reading = true;
    while (reading || !ahead.pictures.empty()) {
        PendingPicture p;
        const size_t read = frames->videos.size() + ahead.pictures.size();
        reading = reading && (!o.frames || read < static_cast<size_t>(o.frames)) &&
                  reader.ReadFrame(&p.y, &p.cb, &p.cr, read_error);
        if (reading) {
            p.key = steering.keys.Next(p.y.data(), reader.width, reader.width, reader.height);
            if (ahead.depth) ahead.lookahead.Push(p.y.data(), reader.width, p.key);
            ahead.pictures.push_back(std::move(p));
            if (ahead.pictures.size() <= ahead.depth) continue;
        } else if (ahead.pictures.empty()) {
            break;
        }
        const std::string failure =
            EncodeOldest(reader, encoder, o, steering, ahead, frames, &psnr);
        if (!failure.empty()) {
            progress.Show(frames->videos.size(), steering.rate.AchievedKbit(), true);
            return failure;
        }
        progress.Show(frames->videos.size(), steering.rate.AchievedKbit(), false);
    }
    progress.Show(frames->videos.size(), steering.rate.AchievedKbit(), true);
    if (o.psnr) PrintPsnrAverage(psnr, reader.mono);
    return {};
}

// Warnings when the movie missed what was asked of it: the bit rate by more
// than 5 %, or the read-rate cap in its busiest second.
void CheckRates(const Options& o, const vemo::encode::Y4mReader& reader, double kbit,
                const std::vector<size_t>& packets) {
    if (o.bitrate && std::fabs(kbit - static_cast<double>(o.bitrate)) > 0.05 * o.bitrate)
        std::fprintf(stderr,
                     "vemo-encode: warning: the picture track came out at %.0f kbit/s, not the "
                     "%ld kbit/s asked for\n",
                     kbit, o.bitrate);
    if (!o.max_rate) return;
    const uint32_t window = vemo::WholeFramesPerSecond(reader.rate_num, reader.rate_den);
    const uint64_t peak = vemo::PeakWindowBytes(packets, window);
    if (peak * 8 > static_cast<uint64_t>(o.max_rate) * 1000)
        std::fprintf(stderr,
                     "vemo-encode: warning: the busiest second of the movie reads %llu kbit, "
                     "above --max-rate %ld\n",
                     static_cast<unsigned long long>((peak * 8 + 999) / 1000), o.max_rate);
}

// Joins the frames and the sound (when a WAV was given) into the movie and
// writes it to o.output. Returns the exit code.
int WriteMovie(const Options& o, const vemo::encode::Y4mReader& reader, uint32_t header_flags,
               const EncodedFrames& frames, const vemo::encode::WavSound& sound, double kbit) {
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
    std::vector<size_t> packets;
    size_t keys = 0;
    for (size_t f = 0; f < frames.videos.size(); ++f) {
        std::vector<std::vector<uint8_t>> parts;
        if (!o.wav.empty()) parts.push_back(track.parts[f]);
        movie.AddFrame(frames.keys[f], parts, frames.videos[f]);
        const size_t packet = frames.videos[f].size() + (parts.empty() ? 0 : 4 + parts[0].size());
        packets.push_back(packet + packet % 2);
        keys += frames.keys[f] ? 1 : 0;
    }
    const std::vector<uint8_t> bytes = movie.Finish();
    std::FILE* out = std::fopen(o.output.c_str(), "wb");
    if (!out) return Fail("cannot write " + o.output);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) return Fail("cannot write " + o.output);
    CheckRates(o, reader, kbit, packets);
    if (!o.quiet)
        std::fprintf(stderr,
                     "vemo-encode: %zu frames (%zu key), %zu bytes written to %s, picture track "
                     "%.0f kbit/s\n",
                     frames.videos.size(), keys, bytes.size(), o.output.c_str(), kbit);
    return 0;
}

vemo::RateSettings RateSettingsFor(const Options& o, const vemo::encode::Y4mReader& reader,
                                   int quantiser, uint64_t frames) {
    vemo::RateSettings rs;
    rs.bitrate_kbit = static_cast<uint32_t>(o.bitrate);
    rs.max_rate_kbit = static_cast<uint32_t>(o.max_rate);
    rs.quantiser = quantiser;
    rs.rate_num = reader.rate_num;
    rs.rate_den = reader.rate_den;
    rs.width = reader.width;
    rs.height = reader.height;
    rs.frames = frames;
    return rs;
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
    uint64_t expected = FramesInFile(o, in, reader);
    if (o.frames && (!expected || expected > static_cast<uint64_t>(o.frames)))
        expected = static_cast<uint64_t>(o.frames);
    Steering steering{
        vemo::RateController(RateSettingsFor(o, reader, encoder.quantiser(), expected)),
        vemo::KeyFrameChooser(KeyInterval(o, reader)),
        o.max_rate ? ExtraBytes(o, reader, sound, expected) : std::vector<size_t>{},
        !o.wav.empty()};
    Progress progress(!o.quiet && (o.progress || IsTerminal(stderr)), IsTerminal(stderr), expected);
    EncodedFrames frames;
    const std::string failure =
        EncodeFrames(reader, encoder, o, steering, progress, &frames, &error);
    if (!failure.empty()) return Fail(failure);
    if (in != stdin) std::fclose(in);
    if (!error.empty()) return Fail(o.input + ": " + error);
    if (frames.videos.empty()) return Fail(o.input + ": no frames");
    return WriteMovie(o, reader, encoder.header_flags(), frames, sound,
                      steering.rate.AchievedKbit());
}
