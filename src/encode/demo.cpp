// The built-in pictures: the demo movie and the closing image, drawn with a
// tiny bitmap font and encoded with the video encoder.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vemo/audio_writer.h"
#include "vemo/container_writer.h"
#include "vemo/encoder.h"
#include "vemo/media_input.h"

namespace vemo {

namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost pixel.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : kFont)
        if (g.c == upper) return &g;
    return nullptr;
}

// A 4:2:0 picture held in three vectors.
struct Picture {
    uint32_t w, h, cw, ch;
    std::vector<uint8_t> y, cb, cr;
    Picture(uint32_t width, uint32_t height)
        : w(width),
          h(height),
          cw((width + 1) / 2),
          ch((height + 1) / 2),
          y(w * h),
          cb(cw * ch),
          cr(cw * ch) {}
    EncoderPicture View() const {
        EncoderPicture p;
        p.y = y.data();
        p.y_stride = w;
        p.cb = cb.data();
        p.cb_stride = cw;
        p.cr = cr.data();
        p.cr_stride = cw;
        return p;
    }
    // A disc of colour (luma, cb, cr) centred at (x, y).
    void Disc(double x, double y0, double r, uint8_t luma, uint8_t u, uint8_t v) {
        for (uint32_t j = 0; j < h; ++j)
            for (uint32_t i = 0; i < w; ++i) {
                const double dx = i + 0.5 - x, dy = j + 0.5 - y0;
                if (dx * dx + dy * dy > r * r) continue;
                y[j * w + i] = luma;
                cb[(j / 2) * cw + i / 2] = u;
                cr[(j / 2) * cw + i / 2] = v;
            }
    }
};

int TextWidth(const char* text, int scale) {
    return static_cast<int>(std::strlen(text)) * 6 * scale - scale;
}

}  // namespace

void DrawText(uint8_t* plane, ptrdiff_t stride, uint32_t plane_w, uint32_t plane_h, int x, int y,
              const char* text, int scale, uint8_t value) {
    for (int n = 0; text[n]; ++n) {
        const Glyph* g = FindGlyph(text[n]);
        if (!g) continue;
        for (int r = 0; r < 7 * scale; ++r)
            for (int c = 0; c < 5 * scale; ++c) {
                if (!((g->rows[r / scale] >> (4 - c / scale)) & 1)) continue;
                const int px = x + n * 6 * scale + c, py = y + r;
                if (px < 0 || py < 0 || px >= static_cast<int>(plane_w) ||
                    py >= static_cast<int>(plane_h))
                    continue;
                plane[py * stride + px] = value;
            }
    }
}

std::vector<uint8_t> MakeClosingImageMovie() {
    const uint32_t w = 224, h = 252;
    Picture pic(w, h);
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i) pic.y[j * w + i] = static_cast<uint8_t>(30 + (j * 60) / h);
    for (uint32_t j = 0; j < pic.ch; ++j)
        for (uint32_t i = 0; i < pic.cw; ++i) {
            pic.cb[j * pic.cw + i] = static_cast<uint8_t>(150 + (i * 40) / pic.cw);
            pic.cr[j * pic.cw + i] = static_cast<uint8_t>(110 + (j * 30) / pic.ch);
        }
    // A frame of film holes along both sides.
    for (uint32_t j = 8; j + 12 < h; j += 20)
        for (uint32_t r = 0; r < 10; ++r)
            for (uint32_t c = 0; c < 10; ++c) {
                pic.y[(j + r) * w + 6 + c] = 200;
                pic.y[(j + r) * w + w - 16 + c] = 200;
            }
    const int big = 7;
    DrawText(pic.y.data(), w, w, h, (static_cast<int>(w) - TextWidth("Vemo", big)) / 2, 70, "Vemo",
             big, 235);
    const char* line = "VIDEO PLAYER";
    DrawText(pic.y.data(), w, w, h, (static_cast<int>(w) - TextWidth(line, 2)) / 2, 150, line, 2,
             220);
    const char* end = "THE END";
    DrawText(pic.y.data(), w, w, h, (static_cast<int>(w) - TextWidth(end, 2)) / 2, 190, end, 2,
             160);

    EncoderSettings settings;
    settings.quality = 90;
    VideoEncoder encoder(w, h, settings);
    std::vector<uint8_t> video;
    if (!encoder.EncodeFrame(pic.View(), true, &video)) return {};
    MovieWriter movie('i', w, h, 10, 1, 0);
    movie.AddFrame(true, {}, video);
    return movie.Finish();
}

std::vector<uint8_t> MakeDemoMovie(const DemoSettings& s) {
    const uint32_t w = s.width & ~1u, h = s.height & ~1u;
    if (w < 16 || h < 16 || s.fps == 0 || s.frames == 0) return {};
    EncoderSettings settings;
    settings.quality = s.quality;
    settings.key_interval = static_cast<int>(s.fps * 2);
    VideoEncoder encoder(w, h, settings);
    MovieWriter movie('i', w, h, s.fps, 1, 0);

    std::vector<std::vector<uint8_t>> sound_parts;
    if (s.sound) {
        // A 440 Hz tone that swells and fades with each second, mono 22050 Hz,
        // as long as the pictures.
        const uint32_t rate = 22050;
        const size_t count = static_cast<size_t>(rate) * s.frames / s.fps;
        std::vector<int16_t> pcm(count);
        const double pi = std::acos(-1.0);
        for (size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double envelope = 0.35 + 0.25 * std::sin(2 * pi * t);
            pcm[i] =
                static_cast<int16_t>(std::lround(9000 * envelope * std::sin(2 * pi * 440 * t)));
        }
        AudioBlockEncoder audio(rate, 1, true);
        if (audio.ok()) {
            AudioTrackParts track = EncodeAudioTrack(audio, pcm.data(), pcm.size(), s.frames, s.fps,
                                                     1, encode::SoundLeadFrames(s.fps, 1));
            if (track.parts.size() == s.frames) {
                movie.AddTrack(track.buffer_size, rate | (0x5000u << 16), kDefaultTrackId);
                sound_parts = std::move(track.parts);
            }
        }
    }

    const double pi = std::acos(-1.0);
    for (uint32_t f = 0; f < s.frames; ++f) {
        Picture pic(w, h);
        // Colour bars across the top third, a gradient below.
        static const uint8_t kBars[7][3] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44},
                                            {133, 63, 52},   {63, 193, 204}, {51, 109, 212},
                                            {28, 212, 120}};
        for (uint32_t j = 0; j < h; ++j)
            for (uint32_t i = 0; i < w; ++i) {
                uint8_t luma, u, v;
                if (j < h / 3) {
                    const uint8_t* bar = kBars[std::min<uint32_t>(6, i * 7 / w)];
                    luma = bar[0];
                    u = bar[1];
                    v = bar[2];
                } else {
                    luma = static_cast<uint8_t>(16 + (i * 200) / w);
                    u = static_cast<uint8_t>(96 + (j * 64) / h);
                    v = static_cast<uint8_t>(160 - (i * 64) / w);
                }
                pic.y[j * w + i] = luma;
                pic.cb[(j / 2) * pic.cw + i / 2] = u;
                pic.cr[(j / 2) * pic.cw + i / 2] = v;
            }
        // A ball bouncing across the gradient.
        const double t = static_cast<double>(f) / s.fps;
        const double bx = w * (0.15 + 0.7 * (0.5 - 0.5 * std::cos(pi * t / 2)));
        const double by = h * 0.55 + h * 0.25 * std::fabs(std::sin(pi * t * 1.2));
        pic.Disc(bx, by - h * 0.12, h / 12.0, 210, 60, 200);
        // The name, and the running frame number.
        DrawText(pic.y.data(), w, w, h, 8, static_cast<int>(h / 3 + 6), "Vemo DEMO", 3, 240);
        char counter[32];
        std::snprintf(counter, sizeof counter, "FRAME %u", f + 1);
        DrawText(pic.y.data(), w, w, h, 8, static_cast<int>(h) - 20, counter, 2, 235);

        std::vector<uint8_t> video;
        bool key = false;
        if (!encoder.EncodeFrame(pic.View(), false, &video, &key)) return {};
        std::vector<std::vector<uint8_t>> parts;
        if (!sound_parts.empty()) parts.push_back(sound_parts[f]);
        movie.AddFrame(key, parts, video);
    }
    return movie.Finish();
}

}  // namespace vemo
