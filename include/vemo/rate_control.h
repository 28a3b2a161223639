// Steering the encoder: the quantiser of each frame for a bit rate or a cap
// on the read rate, and where key frames go (scene cuts, a longest interval).
//
//   vemo::RateSettings rs;                       // 600 kbit/s at 30 frames/s
//   rs.bitrate_kbit = 600;
//   rs.rate_num = 30;
//   vemo::RateController rate(rs);
//   vemo::KeyFrameChooser keys(150);
//   for (each picture) {
//       const bool key = keys.Next(y, stride, width, height);
//       vemo::EncodeWithinRate(encoder, rate, picture, key, 0, &video, &was_key);
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "vemo/encoder.h"

namespace vemo {

// ---- Rate control ----------------------------------------------------------------

struct RateSettings {
    uint32_t bitrate_kbit = 0;   // the picture track's bit rate over the movie; 0: `quantiser`
    int quantiser = 8;           // every frame's quantiser without a bit rate (0-15)
    uint32_t max_rate_kbit = 0;  // most kbit the player reads in any one second; 0: no cap
    uint32_t rate_num = 25, rate_den = 1;
    uint32_t width = 320, height = 240;
    uint64_t frames = 0;  // frames in the movie when known, else 0
};

// A one-pass controller with a buffer model: the bytes spent beyond the
// target so far are paid back over the next second (or the frames left),
// and each frame's size is predicted from the last frames of its kind.
// The read-rate cap looks at the packets of the last second.
class RateController {
  public:
    explicit RateController(const RateSettings& settings);

    // The quantiser for the next frame; extra_bytes is what its packet
    // carries beyond the video part (sound parts, their length fields).
    int NextQuantiser(bool key, size_t extra_bytes);
    // The most video bytes the next frame may have under the read-rate cap
    // (SIZE_MAX without one).
    size_t Allowance() const;
    // After a frame that came out above Allowance(): a higher quantiser to
    // try again with, or q itself when there is none.
    int RetryQuantiser(int q, size_t video_bytes) const;
    // Whether the next frame's size is a guess (the first of its kind, a key
    // frame, the first inter frame after one): it is then worth encoding
    // once at NextQuantiser and telling Refit the size that came out.
    bool Unsure(bool key) const;
    // Learns the picture's complexity from a trial at quantiser q and gives
    // the quantiser to encode it with.
    int Refit(bool key, int q, size_t video_bytes);
    // What the look-ahead tells of the next picture: what the pictures after
    // it draw from it (Lookahead::carried()), and the estimated cost of the
    // picture after it from it over its cost alone (Lookahead::
    // follow_ratio()). A key frame drawn from more takes a finer quantiser;
    // the ratio, scaled by what the last scene showed, predicts its inter
    // frames' size. Negative: not known (the default).
    void SetOutlook(double carry, double follow_ratio) {
        key_carry_ = carry;
        follow_ = follow_ratio;
    }
    // The frame as it was written.
    void FrameDone(bool key, int q, size_t video_bytes);

    uint64_t frames_done() const { return done_; }
    // The picture track's bit rate over the frames so far.
    double AchievedKbit() const;

  private:
    int Fit(double complexity, double bytes) const;
    // The bytes wished for the next frame under the bit rate.
    double Wanted() const;
    static int Nearest(double basis, double wanted);
    // Quantiser q for an inter frame, held near the last one's.
    int Steady(int q, double wanted) const;
    // Steps a key frame's quantiser is finer than an inter frame's.
    int KeyFiner() const;
    // The inter frames' complexity over the key frame's for a new scene.
    double InterShare() const;

    RateSettings settings_;
    double fps_, target_ = 0;  // video bytes per frame
    uint32_t window_;          // frames in one second of reading
    double complexity_[2];     // inter, key: bytes at quantiser 8
    bool known_[2] = {false, false};
    double coarsest_inter_ = 0;  // the last inter frame at the coarsest level
    uint64_t done_ = 0;
    uint64_t since_key_ = 0;     // inter frames since the last key frame
    bool last_key_ = false;      // the last frame was a key frame
    double inter_share_ = 0.45;  // an inter frame's complexity over a key frame's
    double spent_ = 0;
    double loan_ = 0, repay_ = 0;  // a key frame's bytes beyond the target, repaid per frame
    int last_inter_q_ = -1;
    int last_q_ = -1;  // the last frame's quantiser, key or inter
    double key_carry_ = -1, follow_ = -1;
    double key_follow_ = -1;      // follow_ of the last key frame
    double share_per_ratio_ = 0;  // inter share over follow ratio, as last seen
    std::deque<size_t> recent_;   // the last window_ - 1 packets
    size_t extra_ = 0;
};

// Encodes one picture at the quantiser `rate` asks for, again at coarser
// ones while it overflows the read-rate cap, and tells `rate` what came
// out. extra_bytes as for NextQuantiser. False with encoder.error() set when
// the encoder refuses the picture.
bool EncodeWithinRate(VideoEncoder& encoder, RateController& rate, const EncoderPicture& picture,
                      bool key, size_t extra_bytes, std::vector<uint8_t>* video, bool* was_key);

// A frame's video size at quantiser q relative to quantiser 8 on typical
// content (larger quantisers give smaller frames).
double TypicalFrameSize(int q);

// The most bytes in any `window` consecutive packets (all of them when
// there are fewer).
uint64_t PeakWindowBytes(const std::vector<size_t>& packet_bytes, uint32_t window);

// ---- Key frames --------------------------------------------------------------------

// Tells a hard cut from motion by comparing small copies of successive luma
// pictures, block by block, each block at its best offset: a pan or a zoom
// finds its blocks again nearby, a new scene does not.
class SceneCutDetector {
  public:
    // Whether this picture starts a new scene after the one given before
    // (never for the first).
    bool IsCut(const uint8_t* y, ptrdiff_t stride, uint32_t width, uint32_t height);
    // The mean sample difference the last call found, after motion.
    double score() const { return score_; }

    static constexpr double kCutScore = 12.0;

  private:
    std::vector<uint8_t> previous_, current_;
    uint32_t small_w_ = 0, small_h_ = 0, width_ = 0, height_ = 0;
    double score_ = 0;
};

// Key frames for the encoder: the first picture, each scene cut, and any
// picture key_interval frames after the last key frame (0: no such limit).
class KeyFrameChooser {
  public:
    explicit KeyFrameChooser(uint32_t key_interval) : interval_(key_interval) {}
    bool Next(const uint8_t* y, ptrdiff_t stride, uint32_t width, uint32_t height);
    // Key frames chosen for a cut.
    uint64_t cuts() const { return cuts_; }

  private:
    SceneCutDetector detector_;
    uint32_t interval_;
    uint64_t since_key_ = 0, cuts_ = 0;
    bool first_ = true;
};

// ---- Look-ahead ----------------------------------------------------------------------

// Weighs each 16x16 area of a picture by how much of the pictures after it
// (up to the next key frame) is drawn from it: a coarse motion estimate on
// half-size luma pictures, each picture's areas handing what they draw
// from the one before back through their vectors, latest picture first.
// An area that the future keeps copying (still or panned content) gets a
// finer quantiser, one soon replaced a coarser one (EncoderPicture::
// area_offsets).
//
//   vemo::Lookahead ahead(width, height);
//   for (each picture) {
//       ahead.Push(y, stride, key);
//       if (ahead.pending() == vemo::Lookahead::kDepth) encode(oldest, ahead.Take());
//   }
//   while (ahead.pending()) encode(oldest, ahead.Take());
class Lookahead {
  public:
    Lookahead(uint32_t width, uint32_t height);

    // The next picture's luma (width x height) and whether it is to be a
    // key frame (a key frame draws nothing from the pictures before it).
    void Push(const uint8_t* y, ptrdiff_t stride, bool key);
    // Pictures pushed and not yet taken.
    size_t pending() const { return frames_.size(); }
    // The step offsets of the oldest pending picture, which is forgotten:
    // per area (areas_across() per row, areas_down() rows) the log2 of the
    // factor its quantiser step is scaled by, with a mean of 0 over the
    // picture. Empty when nothing is pending.
    std::vector<float> Take();

    // Of the picture taken last: the mean over its areas of the log2 of what
    // each carries into the pictures after it (itself included) over itself;
    // 0 when nothing is drawn from it.
    double carried() const { return carried_; }
    // Of the picture taken last: the estimated cost of the picture after it
    // when drawn from it, over that picture's cost alone; negative when a key
    // frame or nothing follows.
    double follow_ratio() const { return follow_; }

    uint32_t areas_across() const { return aw_; }
    uint32_t areas_down() const { return ah_; }

    // Pictures the look-ahead is meant to hold before the oldest is taken.
    static constexpr size_t kDepth = 16;
    // Step offset per doubling of what an area carries into the future
    // (itself and what is drawn from it) beyond the picture's mean; per
    // doubling of the picture's mean beyond what pictures typically carry;
    // and the largest offset either way.
    static constexpr float kStrength = 0.15f;
    static constexpr float kPictureStrength = 0.3f;
    static constexpr float kMostOffset = 1.5f;

  private:
    struct Vector {
        int8_t x = 0, y = 0;
    };
    struct Frame {
        bool key = false;
        std::vector<float> intra;    // per area: an estimate of coding it alone
        std::vector<float> inter;    // ... from the picture before at its vector
        std::vector<Vector> motion;  // in half-size samples
    };
    void Shrink(const uint8_t* y, ptrdiff_t stride);
    void Estimate(Frame& frame) const;
    uint32_t Sad(uint32_t ax, uint32_t ay, int dx, int dy) const;

    uint32_t width_, height_, aw_, ah_;
    uint32_t hw_, hh_;  // half-size plane: 8 samples per area each way
    // Sum of absolute differences of two 8x8 blocks.
    uint32_t (*sad_)(const uint8_t*, ptrdiff_t, const uint8_t*, ptrdiff_t);
    std::vector<uint8_t> half_, previous_half_;
    std::deque<Frame> frames_;
    // What the pictures taken so far carried, typically (a running mean of
    // the log2 of their areas' mean share; < 0 before the first).
    double typical_ = -1;
    double carried_ = 0;
    double follow_ = -1;
};

}  // namespace vemo
