// The encoder's rate control and key-frame choice.
#include "vemo/rate_control.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <type_traits>

#include "vemo/container.h"

namespace vemo {

namespace {

// The coarsest level the controller asks for (past 15: quantiser 15 with
// detail weighed ever less against bits).
constexpr int kCoarsest = VideoEncoder::kCoarsestLevel;

// Frame sizes by quantiser, relative to quantiser 8, measured on camera
// pans over photographs. Only the ratios between neighbours matter: the
// controller learns each movie's own level as it goes.
constexpr double kTypicalSize[kCoarsest + 1] = {7.52,  4.93,  3.24,  2.46,  1.87,  1.58,  1.34,
                                                1.16,  1.0,   0.775, 0.6,   0.475, 0.375, 0.315,
                                                0.266, 0.219, 0.191, 0.166, 0.145, 0.128};

// A first guess of a frame's bytes per luma sample at quantiser 8, before
// the movie has shown its own.
constexpr double kFirstKeyBytesPerSample = 0.25;
// The share the inter frames' size may be thought to have of a key frame's.
constexpr double kLeastInterShare = 0.1, kMostInterShare = 1.5;

// With a bit rate, a key frame's quantiser is this many steps finer than an
// inter frame's would be: every frame up to the next key frame is predicted
// from it, so its detail is paid for once and kept many times.
constexpr int kKeyFiner = 2;
// With a look-ahead, the steps follow what the pictures after the key frame
// draw from it (the mean log2 of what its areas carry over themselves):
// this many steps per doubling, within the bounds below.
constexpr double kKeyStepsPerCarry = 1.4;
constexpr int kLeastKeyFiner = 1, kMostKeyFiner = 4;

// A key frame's cost beyond the target is repaid over this many seconds.
constexpr double kKeyRepaySeconds = 1.5;

// An inter frame keeps the last one's quantiser while its predicted size is
// within this ratio of the wish, and the bytes spent are within this many
// seconds of the target.
constexpr double kSteadyRatio = 1.25;
constexpr double kSteadySeconds = 0.5;
// ... and within this share of the frames left.
constexpr double kSteadyLeftShare = 0.1;

// An inter frame is at most this many steps finer than the frame before
// it: much finer than the picture it is drawn from, it codes that picture's
// detail again, at a cost the typical sizes do not foresee (one such frame
// took seven times its share and starved the rest of its scene).
constexpr int kMostFinerSteps = 1;

// A frame tried at one quantiser is encoded again at most this many steps
// away.
constexpr int kMostRefitSteps = 2;

// Bytes saved below the target are spent over this many seconds.
constexpr double kSavingSeconds = 3.0;

// Predictions under the read-rate cap keep this much room for error.
constexpr double kCapMargin = 1.1;
// The frames still to come in a second are kept room for at this many times
// the size of an inter frame at the coarsest quantiser (as last seen, or
// as predicted); more before one has been seen, as the prediction is
// weakest at the ends of the quantiser range.
constexpr double kReserveMargin = 1.5;
constexpr double kUnseenReserveMargin = 3.0;

// Setting the encoder back for another try takes a copy of it; an encoder
// that cannot be copied keeps its first try.
template <typename Encoder>
constexpr bool kCopyable =
    std::is_copy_constructible_v<Encoder>&& std::is_copy_assignable_v<Encoder>;

template <typename Encoder>
bool Save(const Encoder& encoder, std::optional<Encoder>* saved) {
    if constexpr (kCopyable<Encoder>) {
        saved->emplace(encoder);
        return true;
    }
    return false;
}

template <typename Encoder>
void Restore(Encoder& encoder, const std::optional<Encoder>& saved) {
    if constexpr (kCopyable<Encoder>) encoder = *saved;
}

}  // namespace

namespace {

// Encodes a picture whose size the controller can only guess once at q and
// tells the controller what came out. True when that try is the frame (*q
// kept); false with *q the quantiser to encode it with again, the encoder
// set back. *failed when the encoder refused the picture.
bool TryUnsure(VideoEncoder& encoder, RateController& rate, const EncoderPicture& picture, bool key,
               std::vector<uint8_t>* video, bool* became_key, int* q, bool* failed) {
    std::optional<VideoEncoder> saved;
    if (!Save(encoder, &saved)) return false;
    encoder.set_quantiser(*q);
    if (!encoder.EncodeFrame(picture, key, video, became_key)) {
        *failed = true;
        return false;
    }
    const size_t allowance = rate.Allowance();
    int next = rate.Refit(*became_key, *q, video->size());
    if (video->size() > allowance) next = std::max(next, rate.RetryQuantiser(*q, video->size()));
    if (next == *q) return true;
    Restore(encoder, saved);
    *q = next;
    return false;
}

}  // namespace

bool EncodeWithinRate(VideoEncoder& encoder, RateController& rate, const EncoderPicture& picture,
                      bool key, size_t extra_bytes, std::vector<uint8_t>* video, bool* was_key) {
    int q = rate.NextQuantiser(key, extra_bytes);
    const size_t allowance = rate.Allowance();
    bool became_key = key, failed = false;
    // A frame whose size the controller can only guess is tried once and
    // encoded again at the quantiser its own size points to.
    bool done =
        rate.Unsure(key) && TryUnsure(encoder, rate, picture, key, video, &became_key, &q, &failed);
    if (failed) return false;
    while (!done) {
        encoder.set_quantiser(q);
        std::optional<VideoEncoder> saved;
        const bool can_retry = allowance != SIZE_MAX && q < kCoarsest && Save(encoder, &saved);
        if (!encoder.EncodeFrame(picture, key, video, &became_key)) return false;
        if (!can_retry || video->size() <= allowance) break;
        const int coarser = rate.RetryQuantiser(q, video->size());
        if (coarser == q) break;
        Restore(encoder, saved);
        q = coarser;
    }
    rate.FrameDone(became_key, encoder.quantiser(), video->size());
    if (was_key) *was_key = became_key;
    return true;
}

double TypicalFrameSize(int q) {
    return kTypicalSize[std::clamp(q, 0, kCoarsest)];
}

uint64_t PeakWindowBytes(const std::vector<size_t>& packet_bytes, uint32_t window) {
    window = std::max<uint32_t>(window, 1);
    uint64_t sum = 0, peak = 0;
    for (size_t i = 0; i < packet_bytes.size(); ++i) {
        sum += packet_bytes[i];
        if (i >= window) sum -= packet_bytes[i - window];
        peak = std::max(peak, sum);
    }
    return peak;
}

RateController::RateController(const RateSettings& settings)
    : settings_(settings),
      fps_(settings.rate_den ? static_cast<double>(settings.rate_num) / settings.rate_den : 0),
      window_(WholeFramesPerSecond(settings.rate_num, settings.rate_den)) {
    if (fps_ <= 0) fps_ = 1;
    settings_.quantiser = std::clamp(settings_.quantiser, 0, 15);
    target_ = settings_.bitrate_kbit * 1000.0 / 8.0 / fps_;
    const double samples = static_cast<double>(settings.width) * settings.height;
    complexity_[1] = std::max(samples * kFirstKeyBytesPerSample, 64.0);
    complexity_[0] = complexity_[1] * inter_share_;
}

int RateController::Fit(double complexity, double bytes) const {
    // The finest quantiser whose predicted size is within bytes.
    for (int q = 0; q < kCoarsest; ++q)
        if (complexity * kTypicalSize[q] <= bytes) return q;
    return kCoarsest;
}

size_t RateController::Allowance() const {
    if (!settings_.max_rate_kbit) return SIZE_MAX;
    // Every second that this frame falls in must hold the frames before it
    // in that second, this one, and the frames still to come in it at no
    // less than an inter frame at the coarsest quantiser.
    const double cap = settings_.max_rate_kbit * 1000.0 / 8.0;
    const double predicted = complexity_[0] * kTypicalSize[kCoarsest];
    const double least =
        (coarsest_inter_ > 0 ? std::max(predicted, coarsest_inter_) * kReserveMargin
                             : predicted * kUnseenReserveMargin) +
        static_cast<double>(extra_);
    const uint32_t later = window_ - 1;
    double room = cap - static_cast<double>(later) * least;
    double before = 0;
    uint32_t k = 0;
    for (auto it = recent_.rbegin(); it != recent_.rend() && k < later; ++it) {
        before += static_cast<double>(*it);
        ++k;
        room = std::min(room, cap - before - static_cast<double>(later - k) * least);
    }
    room -= static_cast<double>(extra_);
    return room <= 0 ? 0 : static_cast<size_t>(room);
}

double RateController::Wanted() const {
    // Pay back what was spent beyond the target over the next second, or
    // over the frames left when the movie ends sooner. Savings are spent
    // more slowly, over the next few seconds: they are the reserve for
    // scenes that cost more. Near the end there are no more such scenes, and
    // what is left is spent over the frames left (a clip shorter than a
    // second would otherwise end short of its rate). What a key frame took
    // beyond the target is a loan that the frames after it repay in equal
    // shares.
    const double debt = spent_ - target_ * static_cast<double>(done_) - loan_;
    const double second = std::max(fps_, 1.0);
    const double left =
        settings_.frames > done_ ? static_cast<double>(settings_.frames - done_) : 1e300;
    const double horizon = std::min(debt < 0 ? second * kSavingSeconds : second, left);
    return std::max(target_ - debt / horizon - repay_, target_ * 0.05);
}

int RateController::Nearest(double basis, double wanted) {
    // The quantiser whose predicted size is nearest the wish (in ratio), so
    // that the debt swings both ways around the target.
    int q = kCoarsest;
    double best = 1e300;
    for (int c = 0; c <= kCoarsest; ++c) {
        const double miss = std::fabs(std::log(basis * kTypicalSize[c] / wanted));
        if (miss < best) {
            best = miss;
            q = c;
        }
    }
    return q;
}

int RateController::KeyFiner() const {
    if (key_carry_ < 0) return kKeyFiner;
    return std::clamp(static_cast<int>(std::lround(kKeyStepsPerCarry * key_carry_)), kLeastKeyFiner,
                      kMostKeyFiner);
}

double RateController::InterShare() const {
    if (follow_ <= 0 || share_per_ratio_ <= 0) return inter_share_;
    return std::clamp(share_per_ratio_ * follow_, kLeastInterShare, kMostInterShare);
}

int RateController::Steady(int q, double wanted) const {
    // Within a scene an inter frame keeps the last one's quantiser while its
    // predicted size is near the wish, else moves one step: a frame coded
    // coarser leaves the next more to mend, so following every estimate
    // makes the quantiser swing and costs more than it saves. Far from the
    // target the buffer decides alone.
    if (last_inter_q_ < 0 || since_key_ == 0 || last_key_) return q;
    const double debt = spent_ - target_ * static_cast<double>(done_) - loan_;
    // Near the end of the movie the debt must be settled: less is held.
    const double left =
        settings_.frames > done_ ? static_cast<double>(settings_.frames - done_) : 1e300;
    if (std::fabs(debt) > target_ * std::min(fps_ * kSteadySeconds, kSteadyLeftShare * left))
        return q;
    const double held = complexity_[0] * kTypicalSize[last_inter_q_];
    if (std::fabs(std::log(held / wanted)) <= std::log(kSteadyRatio)) return last_inter_q_;
    return std::clamp(q, last_inter_q_ - 1, last_inter_q_ + 1);
}

int RateController::NextQuantiser(bool key, size_t extra_bytes) {
    extra_ = extra_bytes;
    const int kind = key ? 1 : 0;
    int q = settings_.quantiser;
    if (settings_.bitrate_kbit) {
        const double wanted = Wanted();
        // A key frame takes a finer quantiser than an inter frame would: it
        // costs more, and the frames after it pay for that. Key frames in a
        // row have no inter frames to pay for them: each is fitted itself.
        const bool keys_in_a_row = key && last_key_;
        q = Nearest(keys_in_a_row ? complexity_[1] : complexity_[0], wanted);
        if (key && !keys_in_a_row) q = std::max(q - KeyFiner(), 0);
        if (!key) q = Steady(q, wanted);
        if (!key && last_q_ >= 0) q = std::max(q, last_q_ - kMostFinerSteps);
        // The first guesses of a movie's sizes are rough: the levels past
        // quantiser 15 wait until it has shown its own.
        if (!known_[kind]) q = std::min(q, 15);
    }
    const size_t allowance = Allowance();
    if (allowance != SIZE_MAX)
        q = std::max(q, Fit(complexity_[kind] * kCapMargin, static_cast<double>(allowance)));
    return q;
}

bool RateController::Unsure(bool key) const {
    return settings_.bitrate_kbit && (key || !known_[0] || since_key_ == 0);
}

int RateController::Refit(bool key, int q, size_t video_bytes) {
    const int kind = key ? 1 : 0;
    const double seen = static_cast<double>(video_bytes) / TypicalFrameSize(q);
    complexity_[kind] = seen;
    if (key) {
        complexity_[0] = seen * InterShare();
    } else {
        known_[0] = true;
    }
    // The typical sizes are a poor guide far from the quantiser tried (a
    // picture's noise may be kept at one and dropped at the next).
    return std::clamp(NextQuantiser(key, extra_), q - kMostRefitSteps, q + kMostRefitSteps);
}

int RateController::RetryQuantiser(int q, size_t video_bytes) const {
    if (q >= kCoarsest) return q;
    // The size just seen tells this picture's own complexity.
    const double seen = static_cast<double>(video_bytes) / TypicalFrameSize(q);
    return std::max(q + 1, Fit(seen * kCapMargin, static_cast<double>(Allowance())));
}

void RateController::FrameDone(bool key, int q, size_t video_bytes) {
    const int kind = key ? 1 : 0;
    const double seen = static_cast<double>(video_bytes) / TypicalFrameSize(q);
    // Key frames mostly come at new scenes: the last one says the most.
    // Inter frames change less from one to the next: average them a little.
    // The first inter frame after a key frame tells how the two compare in
    // this movie.
    if (!key && since_key_ == 0 && known_[1]) {
        inter_share_ = std::clamp(seen / complexity_[1], kLeastInterShare, kMostInterShare);
        if (key_follow_ > 0) share_per_ratio_ = inter_share_ / key_follow_;
    }
    if (key) key_follow_ = follow_;
    complexity_[kind] = !known_[kind] || key ? seen : 0.5 * complexity_[kind] + 0.5 * seen;
    known_[kind] = true;
    if (!key && q == kCoarsest) coarsest_inter_ = static_cast<double>(video_bytes);
    if (key && !known_[0]) complexity_[0] = seen * inter_share_;

    spent_ += static_cast<double>(video_bytes);
    loan_ = std::max(loan_ - repay_, 0.0);
    if (loan_ == 0) repay_ = 0;
    if (key && !last_key_ && video_bytes > target_) {
        loan_ += static_cast<double>(video_bytes) - target_;
        const double left = settings_.frames > done_ + 1
                                ? static_cast<double>(settings_.frames - done_ - 1)
                                : 1e300;
        repay_ = loan_ / std::max(std::min(fps_ * kKeyRepaySeconds, left), 1.0);
    }
    if (!key) last_inter_q_ = q;
    last_q_ = q;
    ++done_;
    since_key_ = key ? 0 : since_key_ + 1;
    last_key_ = key;
    recent_.push_back(video_bytes + extra_);
    while (recent_.size() > window_ - 1) recent_.pop_front();
    extra_ = 0;
}

double RateController::AchievedKbit() const {
    if (!done_) return 0;
    return spent_ * 8.0 / 1000.0 * fps_ / static_cast<double>(done_);
}

// ---- Key frames ----------------------------------------------------------------------

bool SceneCutDetector::IsCut(const uint8_t* y, ptrdiff_t stride, uint32_t width, uint32_t height) {
    // A small copy: each sample the mean of an s x s square, s chosen so that
    // the copy is about 64 samples across.
    const uint32_t s = std::max<uint32_t>(8, (width + 63) / 64);
    const uint32_t sw = std::max<uint32_t>(1, width / s), sh = std::max<uint32_t>(1, height / s);
    const uint32_t bx = std::min(s, width), by = std::min(s, height);
    current_.assign(static_cast<size_t>(sw) * sh, 0);
    for (uint32_t r = 0; r < sh; ++r) {
        for (uint32_t c = 0; c < sw; ++c) {
            uint32_t sum = 0;
            for (uint32_t yy = 0; yy < by; ++yy) {
                const uint8_t* row = y + static_cast<ptrdiff_t>(r * s + yy) * stride + c * s;
                for (uint32_t xx = 0; xx < bx; ++xx) sum += row[xx];
            }
            current_[r * sw + c] = static_cast<uint8_t>((sum + bx * by / 2) / (bx * by));
        }
    }
    const bool comparable = !previous_.empty() && width == width_ && height == height_;
    width_ = width;
    height_ = height;
    small_w_ = sw;
    small_h_ = sh;
    score_ = 0;
    if (!comparable) {
        previous_.swap(current_);
        return false;
    }
    // Blocks of 4 x 4 small samples, each at its best offset within two
    // small samples (two squares of the full picture) each way.
    const int b = static_cast<int>(std::min<uint32_t>({4, sw, sh}));
    const int w = static_cast<int>(sw), h = static_cast<int>(sh);
    uint64_t total = 0, counted = 0;
    for (int y0 = 0; y0 + b <= h; y0 += b) {
        for (int x0 = 0; x0 + b <= w; x0 += b) {
            uint32_t best = UINT32_MAX;
            for (int dy = std::max(-2, -y0); dy <= 2 && y0 + dy + b <= h; ++dy) {
                for (int dx = std::max(-2, -x0); dx <= 2 && x0 + dx + b <= w; ++dx) {
                    uint32_t sad = 0;
                    for (int r = 0; r < b; ++r)
                        for (int c = 0; c < b; ++c)
                            sad += static_cast<uint32_t>(
                                std::abs(current_[(y0 + r) * w + x0 + c] -
                                         previous_[(y0 + dy + r) * w + x0 + dx + c]));
                    best = std::min(best, sad);
                }
            }
            total += best;
            counted += static_cast<uint64_t>(b * b);
        }
    }
    previous_.swap(current_);
    score_ = counted ? static_cast<double>(total) / static_cast<double>(counted) : 0;
    return score_ > kCutScore;
}

bool KeyFrameChooser::Next(const uint8_t* y, ptrdiff_t stride, uint32_t width, uint32_t height) {
    const bool cut = detector_.IsCut(y, stride, width, height);
    bool key = first_ || (interval_ && since_key_ + 1 >= interval_);
    if (cut && !key) {
        key = true;
        ++cuts_;
    }
    first_ = false;
    since_key_ = key ? 0 : since_key_ + 1;
    return key;
}

}  // namespace vemo
