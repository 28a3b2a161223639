#include "vemo/audio_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "transform.h"
#include "vemo/container.h"

namespace vemo {

namespace {

constexpr uint32_t kRunLength[16] = {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 64};
constexpr double kPi = 3.14159265358979323846;

unsigned BitsFor(uint32_t v) {
    unsigned bits = 0;
    while (v >> bits) ++bits;
    return bits;
}

// The 29-bit field that codes value most precisely: the smallest exponent
// whose 23-bit mantissa still holds it.
uint32_t DirectField(float value) {
    const double magnitude = std::fabs(static_cast<double>(value));
    for (uint32_t e = 0; e < 24; ++e) {
        const double m = std::nearbyint(std::ldexp(magnitude, 23 - static_cast<int>(e)));
        if (m <= 0x7FFFFF) return DirectCoefficientField(e, static_cast<uint32_t>(m), value < 0);
    }
    return DirectCoefficientField(23, 0x7FFFFF, value < 0);
}

// Owns the arrays a TransformTables points into.
struct OwnedTables {
    std::vector<float> twiddle, cosines;
    std::vector<uint16_t> bit_reverse;
    audio::TransformTables t;
    explicit OwnedTables(uint32_t length) {
        twiddle.resize(audio::TwiddleFloats(length));
        bit_reverse.resize(audio::BitReverseEntries(length));
        cosines.resize(audio::CosineFloats(length, false));
        t.twiddle = twiddle.data();
        t.bit_reverse = bit_reverse.data();
        t.cosines = cosines.data();
        audio::BuildTransformTables(length, false, &t);
    }
};

}  // namespace

void AudioBitWriter::Write(uint32_t value, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) {
        if (bits_ % 32 == 0) bytes_.insert(bytes_.end(), 4, 0);
        if ((value >> i) & 1) bytes_[bits_ / 8] |= static_cast<uint8_t>(1u << (bits_ % 8));
        ++bits_;
    }
}

void AudioBitWriter::PadToWord() {
    bits_ = (bits_ + 31) / 32 * 32;
}

std::vector<uint8_t> AudioBitWriter::Take() {
    std::vector<uint8_t> out;
    out.swap(bytes_);
    bits_ = 0;
    return out;
}

bool WriteAudioBlock(const AudioGeometry& g, const AudioBlockCode& code, AudioBitWriter* out) {
    const uint32_t n = g.transform_length;
    if (code.channels.size() != g.coded_channels || code.ignored > 3) return false;
    for (const AudioChannelCode& ch : code.channels) {
        if (ch.quantiser.size() != g.band_count) return false;
        if (ch.direct[0] >> 29 || ch.direct[1] >> 29) return false;
        for (uint32_t q : ch.quantiser)
            if (q > 255) return false;
        uint32_t j = 2;
        for (const AudioRun& run : ch.runs) {
            if (j >= n || run.length_code < -1 || run.length_code > 15 || run.width > 15)
                return false;
            const uint32_t length = run.length_code < 0 ? 8 : 8 * kRunLength[run.length_code];
            const uint32_t end = std::min(j + length, n);
            if (run.width == 0 ? !run.values.empty() : run.values.size() != end - j) return false;
            for (int32_t v : run.values)
                if (static_cast<uint32_t>(std::abs(v)) >> run.width) return false;
            j = end;
        }
        if (j != n) return false;
    }

    if (g.dct) out->Write(code.ignored, 2);
    for (const AudioChannelCode& ch : code.channels) {
        out->Write(ch.direct[0], 29);
        out->Write(ch.direct[1], 29);
        for (uint32_t q : ch.quantiser) out->Write(q, 8);
        for (const AudioRun& run : ch.runs) {
            if (run.length_code < 0) {
                out->Write(0, 1);
            } else {
                out->Write(1, 1);
                out->Write(static_cast<uint32_t>(run.length_code), 4);
            }
            out->Write(run.width, 4);
            for (int32_t v : run.values) {
                out->Write(static_cast<uint32_t>(std::abs(v)), run.width);
                if (v != 0) out->Write(v < 0 ? 1 : 0, 1);
            }
        }
    }
    out->PadToWord();
    return true;
}

struct AudioBlockEncoder::Tables {
    OwnedTables fft;  // complex FFT of 2N points (DCT) or N points (real DFT)
    explicit Tables(uint32_t length) : fft(length) {}
};

AudioBlockEncoder::AudioBlockEncoder(uint32_t sample_rate, uint32_t channels, bool dct_variant,
                                     uint32_t value_limit)
    : value_limit_(std::clamp<uint32_t>(value_limit, 1, 32767)) {
    ok_ = ComputeAudioGeometry(sample_rate, channels, dct_variant, &geometry_);
    if (!ok_) return;
    const uint32_t n = geometry_.transform_length;
    tables_ = std::make_shared<const Tables>(dct_variant ? 4 * n : 2 * n);
}

void AudioBlockEncoder::ForwardTransform(const int16_t* values,
                                         std::vector<float>* coefficients) const {
    const AudioGeometry& g = geometry_;
    const uint32_t n = g.transform_length;
    const uint32_t k_count = g.coded_channels;
    coefficients->assign(static_cast<size_t>(n) * k_count, 0.0f);
    // The decoder's output is its transform times 2 / sqrt(N); undo that.
    const double unscale = std::sqrt(static_cast<double>(n)) / 2;
    std::vector<float> work;
    if (g.dct) {
        // DCT-II through a complex FFT of the even extension (2N points):
        // sum x[k] cos(pi j (k + 1/2) / N) = Re(e^(-i pi j / 2N) Y[j]) / 2.
        for (uint32_t ch = 0; ch < k_count; ++ch) {
            work.assign(4 * static_cast<size_t>(n), 0.0f);
            for (uint32_t k = 0; k < n; ++k) {
                const float x = static_cast<float>(values[k * k_count + ch] * unscale);
                work[2 * k] = x;
                work[2 * (2 * n - 1 - k)] = x;
            }
            audio::ComplexFft(tables_->fft.t, work.data(), false);
            float* a = coefficients->data() + static_cast<size_t>(ch) * n;
            for (uint32_t j = 0; j < n; ++j) {
                const double angle = -kPi * j / (2.0 * n);
                const double c =
                    (work[2 * j] * std::cos(angle) - work[2 * j + 1] * std::sin(angle)) / 2;
                // Inverse of x[k] = sum a[j] cos(..): a[0] = C[0] / N, a[j] = 2 C[j] / N.
                a[j] = static_cast<float>(j == 0 ? c / n : 2 * c / n);
            }
        }
    } else {
        work.assign(2 * static_cast<size_t>(n), 0.0f);
        for (uint32_t k = 0; k < n; ++k) work[2 * k] = static_cast<float>(values[k] * unscale);
        audio::ComplexFft(tables_->fft.t, work.data(), false);
        float* a = coefficients->data();
        const double f = 2.0 / n;
        a[0] = static_cast<float>(f * work[0]);
        a[1] = static_cast<float>(f * work[n]);  // real part of bin N / 2
        for (uint32_t j = 1; j < n / 2; ++j) {
            a[2 * j] = static_cast<float>(f * work[2 * j]);
            a[2 * j + 1] = static_cast<float>(-f * work[2 * j + 1]);
        }
    }
}

AudioBlockCode AudioBlockEncoder::Quantise(const std::vector<float>& coefficients) const {
    const AudioGeometry& g = geometry_;
    const uint32_t n = g.transform_length;
    AudioBlockCode code;
    code.channels.resize(g.coded_channels);
    std::vector<int32_t> v(n);
    for (uint32_t ch = 0; ch < g.coded_channels; ++ch) {
        const float* a = coefficients.data() + static_cast<size_t>(ch) * n;
        AudioChannelCode& out = code.channels[ch];
        out.direct[0] = DirectField(a[0]);
        out.direct[1] = DirectField(a[1]);
        out.quantiser.resize(g.band_count);
        for (uint32_t b = 0; b < g.band_count; ++b) {
            const uint32_t from = 2 * g.band_start[b], to = 2 * g.band_start[b + 1];
            float largest = 0;
            for (uint32_t i = from; i < to; ++i) largest = std::max(largest, std::fabs(a[i]));
            uint32_t index = 0;
            while (index < kAudioQuantiserCount - 1 &&
                   largest / AudioQuantiser(index) > static_cast<float>(value_limit_))
                ++index;
            out.quantiser[b] = index;
            const float q = AudioQuantiser(index);
            for (uint32_t i = from; i < to; ++i) {
                const float r = std::nearbyint(a[i] / q);
                v[i] = static_cast<int32_t>(std::clamp(r, -32767.0f, 32767.0f));
            }
        }
        // Runs of 8 with the narrowest width; zero stretches in long runs.
        uint32_t j = 2;
        while (j < n) {
            const uint32_t end8 = std::min(j + 8, n);
            uint32_t largest = 0;
            for (uint32_t i = j; i < end8; ++i)
                largest = std::max(largest, static_cast<uint32_t>(std::abs(v[i])));
            AudioRun run;
            if (largest == 0) {
                uint32_t zero_end = end8;
                while (zero_end < n &&
                       std::all_of(v.begin() + zero_end, v.begin() + std::min(zero_end + 8, n),
                                   [](int32_t x) { return x == 0; }))
                    zero_end = std::min(zero_end + 8, n);
                int code_index = -1;
                const uint32_t remaining = n - j;
                if (zero_end == n) {
                    // Zeros up to N: the shortest run that reaches N (it is cut there).
                    code_index = 15;
                    for (int r = 0; r < 16; ++r) {
                        if (8 * kRunLength[r] >= remaining) {
                            code_index = r;
                            break;
                        }
                    }
                    if (remaining <= 8) code_index = -1;
                } else {
                    // The longest run that stops before the next value.
                    const uint32_t units = (zero_end - j) / 8;
                    for (int r = 15; r >= 0; --r) {
                        if (kRunLength[r] <= units) {
                            code_index = r;
                            break;
                        }
                    }
                }
                run.length_code = code_index;
                const uint32_t length = code_index < 0 ? 8 : 8 * kRunLength[code_index];
                j = std::min(j + length, n);
            } else {
                run.width = BitsFor(largest);
                run.values.assign(v.begin() + j, v.begin() + end8);
                j = end8;
            }
            out.runs.push_back(std::move(run));
        }
    }
    return code;
}

void AudioBlockEncoder::EncodeBlock(const int16_t* values, AudioBitWriter* out) const {
    std::vector<float> coefficients;
    ForwardTransform(values, &coefficients);
    WriteAudioBlock(geometry_, Quantise(coefficients), out);
}

AudioTrackParts EncodeAudioTrack(const AudioBlockEncoder& encoder, const int16_t* values,
                                 size_t count, uint32_t frames, uint32_t rate_num,
                                 uint32_t rate_den, uint32_t preroll_frames) {
    AudioTrackParts track;
    track.parts.resize(frames);
    if (!encoder.ok() || count == 0 || frames == 0 || rate_num == 0) return track;
    const AudioGeometry& g = encoder.geometry();
    const uint64_t advance = encoder.block_advance();
    const uint64_t block_values = encoder.block_values();
    const uint64_t total_blocks = (count + advance - 1) / advance;
    // Interleaved values per frame time, as a fraction: rate x M x den / num.
    const uint64_t per_frame_num = static_cast<uint64_t>(g.rate) * g.channels * rate_den;
    std::vector<int16_t> window(block_values);
    uint64_t done = 0;
    for (uint32_t f = 0; f < frames && done < total_blocks; ++f) {
        const uint64_t target =
            ((f + 1ull + preroll_frames) * per_frame_num + rate_num - 1) / rate_num;
        const uint64_t want = f + 1 == frames
                                  ? total_blocks
                                  : std::min(total_blocks, (target + advance - 1) / advance);
        if (want <= done) continue;
        AudioBitWriter bits;
        for (uint64_t b = done; b < want; ++b) {
            const uint64_t start = b * advance;
            for (uint64_t i = 0; i < block_values; ++i)
                window[i] = start + i < count ? values[start + i] : 0;
            encoder.EncodeBlock(window.data(), &bits);
        }
        const uint64_t delivered = 2 * (std::min<uint64_t>(want * advance, count) -
                                        std::min<uint64_t>(done * advance, count));
        std::vector<uint8_t>& part = track.parts[f];
        part.resize(4);
        StoreLe32(part.data(), static_cast<uint32_t>(delivered));
        const std::vector<uint8_t>& blocks = bits.bytes();
        part.insert(part.end(), blocks.begin(), blocks.end());
        track.buffer_size = std::max(track.buffer_size, static_cast<uint32_t>(delivered));
        done = want;
    }
    return track;
}

}  // namespace vemo
