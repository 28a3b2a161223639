// The video encoder built on the bitstream writer, and the two pictures the
// system carries: the demo movie and the closing image.
//
//   vemo::EncoderSettings settings;           // quality 75, key frame every 0
//   vemo::VideoEncoder encoder(320, 240, settings);
//   std::vector<uint8_t> video;
//   encoder.EncodeFrame(picture, /*key=*/true, &video);  // a frame's video part
//
// The encoder keeps the planes exactly as the decoder will draw them and
// predicts every following frame from those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vemo {

namespace encode {
struct EncoderState;
}

// ---- Transform arithmetic, exactly as blocks are drawn ------------------------

// Quantiser table entry for quantiser q (0-15) and natural index (0-63).
uint32_t IntraQuantiser(int q, int index);
uint32_t InterQuantiser(int q, int index);
// The integer inverse transform of coef with one quantiser table row
// (64 entries): the low 8 bits of each output sample, row-major.
void InverseTransform(const int16_t coef[64], const uint32_t table_row[64], uint8_t out[64]);
// Coefficients whose inverse transform with table row q approximates the
// 8x8 values (samples, or differences for inter blocks), row-major.
void ForwardTransform(const int values[64], int q, bool inter, int16_t coef[64]);

// ---- The encoder --------------------------------------------------------------

struct EncoderSettings {
    int quality = 75;       // 1 (smallest) .. 100 (best)
    int key_interval = 0;   // a key frame every N frames (0: only the first)
    int search_range = 15;  // motion search in whole samples (0-15)
    bool alpha = false;     // code an alpha plane
    bool grayscale = false;
    bool old_version = false;  // write for versions before "i" (no luma size field)
    // Threads that decide blocks (0: one per processor core). The movie is
    // the same for every thread count.
    int threads = 0;
};

// The most threads an encoder uses.
constexpr int kMostEncoderThreads = 64;

// One picture: Y width x height, Cb and Cr (width + 1) / 2 x (height + 1) / 2,
// alpha width x height (only with EncoderSettings::alpha).
struct EncoderPicture {
    const uint8_t* y = nullptr;
    ptrdiff_t y_stride = 0;
    const uint8_t* cb = nullptr;
    ptrdiff_t cb_stride = 0;
    const uint8_t* cr = nullptr;
    ptrdiff_t cr_stride = 0;
    const uint8_t* alpha = nullptr;
    ptrdiff_t alpha_stride = 0;
    // Optional: per 16x16 area of the picture, (width + 15) / 16 per row,
    // row by row, the log2 of the factor by which the blocks there scale the
    // frame's quantiser step (negative: finer). Chroma blocks take the area
    // they cover; offsets are taken within -4..4 (and as 0 when not finite).
    // Null: every block at the frame's quantiser.
    const float* area_offsets = nullptr;
};

// What the last frame used.
struct EncoderFrameStats {
    uint32_t blocks[10] = {};  // 8x8 blocks by type (a scaled block counts four)
    size_t bytes = 0;
};

// The widest picture the encoder takes.
constexpr uint32_t kLargestEncodedWidth = 4096;

class VideoEncoder {
  public:
    VideoEncoder(uint32_t width, uint32_t height, const EncoderSettings& settings);
    ~VideoEncoder();
    // A copy carries everything the next frame depends on, so that a frame
    // can be encoded again from the same point (see EncodeWithinRate).
    VideoEncoder(const VideoEncoder& other);
    VideoEncoder& operator=(const VideoEncoder& other);

    // Encodes the next frame into *video (the frame packet's video part).
    // The first frame, and every key_interval-th, is a key frame whatever
    // `key` says; `key` forces one. *was_key tells which it became.
    bool EncodeFrame(const EncoderPicture& picture, bool key, std::vector<uint8_t>* video,
                     bool* was_key = nullptr);

    // The planes as the decoder draws them after the last frame: 0 Y, 1 Cr,
    // 2 Cb, 3 alpha; padded sizes, stride = plane width.
    const std::vector<uint8_t>& decoded(int plane) const { return recon_[plane]; }
    uint32_t plane_width(int plane) const { return plane == 1 || plane == 2 ? chroma_w_ : luma_w_; }
    uint32_t plane_height(int plane) const {
        return plane == 1 || plane == 2 ? chroma_h_ : luma_h_;
    }
    int quantiser() const { return q_; }
    // The quantiser (0 to kCoarsestLevel) for the frames from the next one
    // on, in place of the one the quality setting gave. Levels past 15 code
    // with quantiser 15 and weigh bits ever more against error, for bit
    // rates that quantiser 15 alone cannot get down to.
    void set_quantiser(int q);
    static constexpr int kCoarsestLevel = 19;
    // Threads the encoder decides blocks with.
    int threads() const { return threads_; }
    const EncoderFrameStats& stats() const { return stats_; }
    const std::string& error() const { return error_; }
    // The movie header flags these settings imply (grayscale, alpha).
    uint32_t header_flags() const;

  private:
    bool EncodePlane(int plane, const std::vector<uint8_t>& source, bool key,
                     std::vector<uint8_t>* bits);

    uint32_t width_, height_, luma_w_, luma_h_, chroma_w_, chroma_h_;
    EncoderSettings settings_;
    int q_;
    uint64_t frame_ = 0;
    std::vector<uint8_t> recon_[4];
    EncoderFrameStats stats_;
    std::string error_;
    int threads_;
    std::unique_ptr<encode::EncoderState> state_;  // rates and motion fields
};

// Peak signal-to-noise ratio in dB of plane b against plane a (8-bit
// samples, width x height): 10 log10(255^2 / mean squared error); identical
// planes give kPerfectPsnr.
constexpr double kPerfectPsnr = 100.0;
double PlanePsnr(const uint8_t* a, ptrdiff_t a_stride, const uint8_t* b, ptrdiff_t b_stride,
                 uint32_t width, uint32_t height);

// ---- Built-in movies ------------------------------------------------------------

// The closing image: one 224x252 key frame at 10 frames per second, no sound.
std::vector<uint8_t> MakeClosingImageMovie();

struct DemoSettings {
    uint32_t width = 320, height = 240;
    uint32_t fps = 12;
    uint32_t frames = 48;
    bool sound = true;  // a tone, when the audio writer is built in
    int quality = 80;
};
// The demo movie: colour bars and a gradient with a moving ball and a
// bouncing word, and a tone.
std::vector<uint8_t> MakeDemoMovie(const DemoSettings& settings = {});

// Draws text with the built-in 5x7 font into a luma plane (each font pixel
// `scale` x `scale` samples); letters A-Z, a-z, digits and a few signs.
void DrawText(uint8_t* plane, ptrdiff_t stride, uint32_t plane_w, uint32_t plane_h, int x, int y,
              const char* text, int scale, uint8_t value);

}  // namespace vemo
