// The encoder tool's inputs (YUV4MPEG2, WAV) and the tool itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "test_util.h"
#include "vemo/container.h"
#include "vemo/media_input.h"

#ifdef VEMO_ENCODE_TOOL
#include <sys/wait.h>
#endif

namespace vemo::encode {
namespace {

std::string WriteTemp(const std::string& name, const std::string& bytes) {
    const std::string path = test::TempPath(name);
    EXPECT_TRUE(test::WriteWholeFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end())));
    return path;
}

std::string Y4m(const std::string& header, int w, int h, int frames, bool mono = false) {
    std::string s = header + "\n";
    const size_t chroma = mono ? 0 : size_t((w + 1) / 2) * ((h + 1) / 2);
    for (int f = 0; f < frames; ++f) {
        s += "FRAME\n";
        for (int i = 0; i < w * h; ++i) s.push_back(static_cast<char>(i + f));
        s.append(2 * chroma, static_cast<char>(128));
    }
    return s;
}

struct Opened {
    bool ok;
    std::string error;
    Y4mReader reader;
    std::FILE* file = nullptr;
    ~Opened() {
        if (file) std::fclose(file);
    }
};

void OpenY4m(const std::string& bytes, Opened* o) {
    o->file = std::fopen(WriteTemp("in.y4m", bytes).c_str(), "rb");
    ASSERT_NE(o->file, nullptr);
    o->ok = o->reader.Open(o->file, &o->error);
}

TEST(Y4mInput, ReadsHeaderAndFramesOfOddSizes) {
    Opened o;
    OpenY4m(Y4m("YUV4MPEG2 W5 H3 F30000:1001 It A1:1 C420jpeg XYSCSS=420JPEG", 5, 3, 2), &o);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.reader.width, 5u);
    EXPECT_EQ(o.reader.height, 3u);
    EXPECT_EQ(o.reader.rate_num, 30000u);
    EXPECT_EQ(o.reader.rate_den, 1001u);
    EXPECT_FALSE(o.reader.mono);
    std::vector<uint8_t> y, cb, cr;
    std::string error;
    ASSERT_TRUE(o.reader.ReadFrame(&y, &cb, &cr, &error)) << error;
    EXPECT_EQ(y.size(), 15u);
    EXPECT_EQ(cb.size(), 6u);  // 3 x 2
    EXPECT_EQ(y[7], 7);
    ASSERT_TRUE(o.reader.ReadFrame(&y, &cb, &cr, &error));
    EXPECT_EQ(y[7], 8);
    EXPECT_FALSE(o.reader.ReadFrame(&y, &cb, &cr, &error));
    EXPECT_TRUE(error.empty()) << error;  // a clean end
}

TEST(Y4mInput, RefusesWhatItCannotEncode) {
    const char* bad[] = {
        "YUV4MPEG W8 H8",             // wrong magic
        "YUV4MPEG2 W8 H8 C444",       // other sampling
        "YUV4MPEG2 H8",               // no width
        "YUV4MPEG2 W99999 H8",        // too large
        "YUV4MPEG2 W8 H8 F0:1",       // no rate
        "YUV4MPEG2 W8 H8 F25",        // rate without a colon
        "YUV4MPEG2 W8 H99999999999",  // past 32 bits
    };
    for (const char* header : bad) {
        Opened o;
        OpenY4m(std::string(header) + "\n", &o);
        EXPECT_FALSE(o.ok) << header;
        EXPECT_FALSE(o.error.empty()) << header;
    }
    // A frame cut short, and a frame without its FRAME line.
    std::string cut = Y4m("YUV4MPEG2 W8 H8", 8, 8, 2);
    cut.resize(cut.size() - 10);
    Opened o;
    OpenY4m(cut, &o);
    ASSERT_TRUE(o.ok);
    std::vector<uint8_t> y, cb, cr;
    std::string error;
    EXPECT_TRUE(o.reader.ReadFrame(&y, &cb, &cr, &error));
    EXPECT_FALSE(o.reader.ReadFrame(&y, &cb, &cr, &error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    Opened junk;
    OpenY4m("YUV4MPEG2 W8 H8 Cmono\nFRAMX\n", &junk);
    ASSERT_TRUE(junk.ok);
    EXPECT_TRUE(junk.reader.mono);
    EXPECT_FALSE(junk.reader.ReadFrame(&y, &cb, &cr, &error));
    EXPECT_FALSE(error.empty());
}

std::vector<uint8_t> Wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                         const std::vector<uint8_t>& data, bool junk_chunk = false) {
    std::vector<uint8_t> w;
    auto put = [&](const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        w.insert(w.end(), b, b + n);
    };
    auto u32 = [&](uint32_t v) { put(&v, 4); };  // the tests run on little-endian machines
    auto u16 = [&](uint16_t v) { put(&v, 2); };
    put("RIFF", 4);
    u32(0);
    put("WAVE", 4);
    if (junk_chunk) {
        put("LIST", 4);
        u32(3);
        put("abc\0", 4);  // odd size, padded
    }
    put("fmt ", 4);
    u32(16);
    u16(format);
    u16(channels);
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(static_cast<uint16_t>(channels * bits / 8));
    u16(bits);
    put("data", 4);
    u32(static_cast<uint32_t>(data.size()));
    put(data.data(), data.size());
    return w;
}

TEST(WavInput, ReadsPcmAndRefusesTheRest) {
    WavSound s;
    std::string error;
    ASSERT_TRUE(
        ParseWav(Wav(1, 2, 44100, 16, {0x34, 0x12, 0xFF, 0xFF, 0, 0x80, 1, 0}, true), &s, &error))
        << error;
    EXPECT_EQ(s.rate, 44100u);
    EXPECT_EQ(s.channels, 2u);
    ASSERT_EQ(s.samples.size(), 4u);
    EXPECT_EQ(s.samples[0], 0x1234);
    EXPECT_EQ(s.samples[1], -1);
    EXPECT_EQ(s.samples[2], -32768);
    WavSound m;
    ASSERT_TRUE(ParseWav(Wav(1, 1, 8000, 8, {128, 255, 0}), &m, &error));
    ASSERT_EQ(m.samples.size(), 3u);
    EXPECT_EQ(m.samples[0], 0);
    EXPECT_EQ(m.samples[1], 127 * 256);
    EXPECT_EQ(m.samples[2], -32768);
    // A data chunk longer than the file keeps the whole values it has.
    std::vector<uint8_t> cut = Wav(1, 2, 8000, 16, std::vector<uint8_t>(40, 1));
    cut.resize(cut.size() - 3);
    WavSound c;
    ASSERT_TRUE(ParseWav(cut, &c, &error));
    EXPECT_EQ(c.samples.size(), 18u);

    WavSound bad;
    EXPECT_FALSE(ParseWav(Wav(3, 1, 8000, 32, {0, 0, 0, 0}), &bad, &error));  // float
    EXPECT_FALSE(ParseWav(Wav(1, 6, 8000, 16, {0, 0}), &bad, &error));        // 6 channels
    EXPECT_FALSE(ParseWav(Wav(1, 1, 100000, 16, {0, 0}), &bad, &error));      // rate too high
    EXPECT_FALSE(ParseWav({'R', 'I', 'F', 'F'}, &bad, &error));
    EXPECT_FALSE(error.empty());
}

TEST(WavInput, SoundIsCutIntoOnePartPerFrame) {
    WavSound s;
    s.rate = 22050;
    s.channels = 1;
    s.samples.assign(22050, 0);
    for (size_t i = 0; i < s.samples.size(); ++i)
        s.samples[i] = static_cast<int16_t>((i % 50) * 200);
    SoundTrack track;
    std::string error;
    ASSERT_TRUE(EncodeSoundTrack(s, 10, 10, 1, &track, &error)) << error;
    EXPECT_EQ(track.parts.size(), 10u);
    EXPECT_EQ(TrackRate(track.format), 22050u);
    EXPECT_EQ(TrackVariant(track.format), 1);
    EXPECT_EQ(TrackChannels(track.format), 1u);
    EXPECT_EQ(TrackBits(track.format), 16u);
    EXPECT_GT(track.buffer_size, 0u);
}

TEST(WavInput, LeadIsTheWholeFramesWithinThreeQuartersOfASecond) {
    EXPECT_EQ(SoundLeadFrames(12, 1), 9u);
    EXPECT_EQ(SoundLeadFrames(25, 1), 18u);             // 18.75
    EXPECT_EQ(SoundLeadFrames(10000000, 333667), 22u);  // 22.48
    EXPECT_EQ(SoundLeadFrames(4, 1), 3u);
    EXPECT_EQ(SoundLeadFrames(2, 1), 1u);  // 1.5
    EXPECT_EQ(SoundLeadFrames(1, 1), 1u);  // 0.75, but never less than one frame
    EXPECT_EQ(SoundLeadFrames(0, 0), 1u);
}

uint32_t DecodedBytes(const std::vector<uint8_t>& part) {
    return part.size() >= 4 ? ReadLe32(part.data()) : 0;
}

TEST(WavInput, SoundRunsTheLeadAheadAndIsAllThereBeforeTheLastThreeQuarters) {
    // One second at 22050 Hz mono under 10 frames at 10 per second: 4410
    // bytes a frame, a lead of 7 frames, the rings drain after frame 3.
    WavSound s;
    s.rate = 22050;
    s.channels = 1;
    s.samples.assign(22050, 1000);
    SoundTrack track;
    std::string error;
    ASSERT_TRUE(EncodeSoundTrack(s, 10, 10, 1, &track, &error)) << error;
    ASSERT_EQ(track.parts.size(), 10u);
    EXPECT_GE(DecodedBytes(track.parts[0]), 8u * 4410);
    EXPECT_LT(DecodedBytes(track.parts[0]), 9u * 4410);
    EXPECT_EQ(track.buffer_size, DecodedBytes(track.parts[0]));
    uint32_t by_frame_3 = 0;
    for (size_t f = 0; f < 3; ++f) by_frame_3 += DecodedBytes(track.parts[f]);
    EXPECT_EQ(by_frame_3, 44100u);
}

#ifdef VEMO_ENCODE_TOOL
int RunTool(const std::string& args) {
    const std::string cmd = std::string(VEMO_ENCODE_TOOL) + " " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EncodeTool, WritesAMovieAndReportsBadInput) {
    const std::string in = WriteTemp("tool.y4m", Y4m("YUV4MPEG2 W20 H12 F5:1", 20, 12, 3));
    const std::string out = test::TempPath("tool.vem");
    EXPECT_EQ(RunTool("--help"), 0);
    EXPECT_EQ(RunTool(in + " -o " + out + " --quality 90 --keyint 2"), 0);
    std::vector<uint8_t> movie;
    ASSERT_TRUE(test::ReadWholeFile(out, &movie));
    MovieHeader header;
    ASSERT_EQ(ParseMovieHeader(movie.data(), &header), HeaderStatus::kOk);
    EXPECT_EQ(header.frames, 3u);
    EXPECT_EQ(header.width, 20u);
    EXPECT_EQ(header.rate_num, 5u);
    EXPECT_EQ(RunTool(in), 2);                                  // no output named
    EXPECT_EQ(RunTool(in + " -o " + out + " --quality 0"), 2);  // out of range
    EXPECT_EQ(RunTool(in + " -o " + out + " --bogus"), 2);
    EXPECT_EQ(RunTool(test::TempPath("missing.y4m") + " -o " + out), 1);
    const std::string bad = WriteTemp("bad.y4m", "YUV4MPEG2 W8 H8 C422\n");
    EXPECT_EQ(RunTool(bad + " -o " + out), 1);
    const std::string wav = WriteTemp("bad.wav", "RIFF....WAVE");
    EXPECT_EQ(RunTool(in + " --wav " + wav + " -o " + out), 1);
}

TEST(EncodeTool, TakesRateOptionsAndRefusesBadValues) {
    const std::string in = WriteTemp("rate.y4m", Y4m("YUV4MPEG2 W32 H16 F5:1", 32, 16, 4));
    const std::string out = test::TempPath("rate.vem");
    const std::string run = in + " -o " + out;
    EXPECT_EQ(RunTool(run + " --bitrate 64 --max-rate 80 --progress"), 0);
    EXPECT_EQ(RunTool(run + " --max-rate 16 --quality 100 --quiet"), 0);
    // Without a look-ahead, and with one longer than the clip.
    EXPECT_EQ(RunTool(run + " --bitrate 64 --lookahead 0"), 0);
    EXPECT_EQ(RunTool(run + " --lookahead 64"), 0);
    for (const char* bad : {"--bitrate 0", "--bitrate 15", "--bitrate 200001", "--bitrate 1e3",
                            "--bitrate", "--max-rate 15", "--max-rate -5",
                            "--bitrate 500 --max-rate 400", "--bitrate 500 --quality 50",
                            "--progress --quiet", "--keyint 0", "--lookahead -1", "--lookahead 65"})
        EXPECT_EQ(RunTool(run + " " + bad), 2) << bad;
}

TEST(EncodeTool, PrintsPsnrAndWritesTheSameMovieOnAnyThreadCount) {
    const std::string in = WriteTemp("psnr.y4m", Y4m("YUV4MPEG2 W36 H20 F5:1", 36, 20, 3));
    const std::string one = test::TempPath("one.vem"), two = test::TempPath("two.vem");
    const std::string report = test::TempPath("psnr.txt");
    const std::string cmd = std::string(VEMO_ENCODE_TOOL) + " " + in + " -o " + two +
                            " --quality 40 --psnr --quiet --threads 2 > " + report;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(RunTool(in + " -o " + one + " --quality 40 --threads 1"), 0);
    std::vector<uint8_t> a, b, text;
    ASSERT_TRUE(test::ReadWholeFile(one, &a) && test::ReadWholeFile(two, &b));
    EXPECT_EQ(a, b);
    ASSERT_TRUE(test::ReadWholeFile(report, &text));
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string line;
    double sum[3] = {}, average[3] = {};
    int frames = 0;
    while (std::getline(lines, line)) {
        int n = 0;
        double y, cb, cr;
        if (std::sscanf(line.c_str(), "frame %d: Y %lf Cb %lf Cr %lf dB", &n, &y, &cb, &cr) == 4) {
            EXPECT_EQ(n, ++frames);
            EXPECT_GT(y, 20.0);
            EXPECT_LE(y, 100.0);
            sum[0] += y, sum[1] += cb, sum[2] += cr;
        } else {
            ASSERT_EQ(
                std::sscanf(line.c_str(), "average PSNR over 3 frames: Y %lf Cb %lf Cr %lf dB",
                            &average[0], &average[1], &average[2]),
                3)
                << line;
        }
    }
    EXPECT_EQ(frames, 3);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(average[i], sum[i] / 3, 0.01);
    EXPECT_EQ(RunTool(in + " -o " + one + " --threads 0"), 2);
    EXPECT_EQ(RunTool(in + " -o " + one + " --threads 65"), 2);
}

TEST(EncodeTool, FramesLimitsThePicturesReadAndStatsTellsEachFrame) {
    const std::string header = "YUV4MPEG2 W32 H16 F5:1";
    const std::string five = WriteTemp("five.y4m", Y4m(header, 32, 16, 5));
    const std::string three = WriteTemp("three.y4m", Y4m(header, 32, 16, 3));
    const std::string cut = test::TempPath("cut.vem"), whole = test::TempPath("whole.vem");
    const std::string report = test::TempPath("stats.txt"), run = " --keyint 2 --quality 60";
    const std::string cmd = std::string(VEMO_ENCODE_TOOL) + " " + five + " -o " + cut + run +
                            " --frames 3 --stats --quiet > " + report;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // The first three pictures of five make the movie of those three alone.
    EXPECT_EQ(RunTool(three + " -o " + whole + run), 0);
    std::vector<uint8_t> a, b, text;
    ASSERT_TRUE(test::ReadWholeFile(cut, &a) && test::ReadWholeFile(whole, &b));
    EXPECT_EQ(a, b);
    ASSERT_TRUE(test::ReadWholeFile(report, &text));
    std::istringstream lines(std::string(text.begin(), text.end()));
    std::string line;
    int frames = 0, n = 0, q = -1;
    size_t bytes = 0, total = 0;
    char kind[8] = {};
    while (std::getline(lines, line)) {
        ASSERT_EQ(std::sscanf(line.c_str(), "frame %d: %7s q %d %zu bytes", &n, kind, &q, &bytes),
                  4);
        EXPECT_EQ(n, ++frames);
        EXPECT_STREQ(kind, n == 2 ? "inter" : "key");  // every second frame a key frame
        EXPECT_TRUE(q >= 0 && q <= 15 && bytes > 0);
        total += bytes;
    }
    EXPECT_EQ(frames, 3);
    EXPECT_LT(total, a.size());
    EXPECT_EQ(RunTool(five + " -o " + cut + " --frames 0"), 2);
}
#endif

}  // namespace
}  // namespace vemo::encode
