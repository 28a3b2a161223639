// The block writer against the reader, and the encoder's tone round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "block_reader.h"
#include "cpu_levels.h"
#include "vemo/audio_decoder.h"
#include "vemo/audio_writer.h"
#include "vemo/container.h"

namespace vemo {
namespace {

class CollectSink : public AudioSink {
  public:
    void AppendAudio(const uint8_t* bytes, uint32_t count) override {
        for (uint32_t i = 0; i + 1 < count; i += 2)
            values.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    }
    std::vector<int16_t> values;
};

std::vector<int16_t> Tone(uint32_t rate, uint32_t channels, size_t frames_of_sound) {
    std::vector<int16_t> v(frames_of_sound * channels);
    for (size_t i = 0; i < frames_of_sound; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (uint32_t c = 0; c < channels; ++c) {
            const double s = 8000 * std::sin(2 * 3.14159265358979 * (440 + 110 * c) * t) +
                             3000 * std::sin(2 * 3.14159265358979 * 2500 * t + c);
            v[i * channels + c] = static_cast<int16_t>(std::lrint(s));
        }
    }
    return v;
}

TEST(AudioWriter, BitsAreWrittenLowFirstIntoLittleEndianWords) {
    AudioBitWriter w;
    w.Write(0x5, 3);
    w.Write(0x1FFFFFFF, 29);  // fills the first word exactly
    w.Write(0x3, 2);          // second word
    EXPECT_EQ(w.bit_count(), 34u);
    w.PadToWord();
    EXPECT_EQ(w.bit_count(), 64u);
    const std::vector<uint8_t> b = w.bytes();
    ASSERT_EQ(b.size(), 8u);
    EXPECT_EQ(ReadLe32(b.data()), 0xFFFFFFFDu);
    EXPECT_EQ(ReadLe32(b.data() + 4), 0x3u);
    // A field straddling two words: low bits in the first, high in the next.
    AudioBitWriter s;
    s.Write(0, 30);
    s.Write(0xD, 4);
    audio::BlockBits bits(s.bytes().data(), s.bytes().data() + s.bytes().size());
    EXPECT_EQ(bits.Read(30), 0u);
    EXPECT_EQ(bits.Read(4), 0xDu);
    EXPECT_EQ(bits.WordsTouched(), 2u);
}

TEST(AudioWriter, RejectsCodesThatDoNotFitTheGeometry) {
    AudioGeometry g;
    ASSERT_TRUE(ComputeAudioGeometry(8000, 1, true, &g));
    AudioChannelCode ch;
    ch.quantiser.assign(g.band_count, 0);
    ch.runs.push_back({15, 0, {}});  // 2..513: reaches N
    AudioBlockCode good;
    good.channels = {ch};
    AudioBitWriter w;
    EXPECT_TRUE(WriteAudioBlock(g, good, &w));

    AudioBlockCode bad = good;
    bad.channels[0].runs.push_back({-1, 0, {}});  // a run after N
    EXPECT_FALSE(WriteAudioBlock(g, bad, &w));
    bad = good;
    bad.channels[0].runs[0] = {14, 0, {}};  // stops short of N
    EXPECT_FALSE(WriteAudioBlock(g, bad, &w));
    bad = good;
    bad.channels[0].runs = {{-1, 2, {4, 0, 0, 0, 0, 0, 0, 0}}, {15, 0, {}}};  // 4 needs 3 bits
    EXPECT_FALSE(WriteAudioBlock(g, bad, &w));
    bad = good;
    bad.channels[0].runs = {{-1, 2, {1}}, {15, 0, {}}};  // too few values
    EXPECT_FALSE(WriteAudioBlock(g, bad, &w));
    bad = good;
    bad.channels[0].quantiser.pop_back();
    EXPECT_FALSE(WriteAudioBlock(g, bad, &w));
    bad = good;
    bad.channels.push_back(ch);  // two channels in a mono DCT track
    EXPECT_FALSE(WriteAudioBlock(g, bad, &w));
    EXPECT_EQ(w.bit_count() % 32, 0u);
    EXPECT_EQ(w.bytes().size() * 8, w.bit_count());  // only the good block
}

// Coefficients in a run of the given length code (-1: a run of 8).
uint32_t RunLength(int code) {
    constexpr uint32_t kLength[16] = {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 64};
    return code < 0 ? 8 : 8 * kLength[code];
}

TEST(AudioWriter, RandomCodesReadBackExactly) {
    std::mt19937 rng(21);
    for (const auto& [rate, channels, dct] :
         {std::tuple{48000u, 2u, true}, std::tuple{44100u, 2u, false},
          std::tuple{22050u, 1u, false}, std::tuple{11025u, 1u, true},
          // Bands narrower than 8 coefficients, one band, and none at all.
          std::tuple{8000u, 2u, true}, std::tuple{1u, 1u, true}, std::tuple{0u, 1u, false}}) {
        AudioGeometry g;
        ASSERT_TRUE(ComputeAudioGeometry(rate, channels, dct, &g));
        const uint32_t n = g.transform_length;
        AudioBlockCode code;
        code.ignored = rng() & 3;
        std::vector<float> want(static_cast<size_t>(n) * g.coded_channels, 0.0f);
        for (uint32_t k = 0; k < g.coded_channels; ++k) {
            AudioChannelCode ch;
            const uint32_t m0 = rng() & 0x7FFFFF, m1 = rng() & 0x7FFFFF;
            ch.direct[0] = DirectCoefficientField(20, m0, false);
            ch.direct[1] = DirectCoefficientField(23, m1, true);
            want[k * n] = std::ldexp(static_cast<float>(m0), -3);
            want[k * n + 1] = -static_cast<float>(m1);
            std::vector<float> band_q(g.band_count);
            for (uint32_t b = 0; b < g.band_count; ++b) {
                ch.quantiser.push_back(rng() % 120);
                band_q[b] = AudioQuantiser(ch.quantiser.back());
            }
            uint32_t j = 2;
            while (j < n) {
                AudioRun run;
                run.length_code = static_cast<int>(rng() % 17) - 1;
                run.width = (rng() % 3 == 0) ? 0 : rng() % 16;
                const uint32_t end = std::min(j + RunLength(run.length_code), n);
                if (run.width) {
                    for (uint32_t i = j; i < end; ++i) {
                        const int32_t mag = static_cast<int32_t>(rng() % (1u << run.width));
                        run.values.push_back((rng() & 1) ? -mag : mag);
                    }
                }
                j = end;
                ch.runs.push_back(run);
            }
            // Expected values by the band rule, computed separately.
            float q = 0;
            uint32_t b = 0;
            j = 2;
            for (const AudioRun& run : ch.runs) {
                const uint32_t length = run.width ? static_cast<uint32_t>(run.values.size()) : 0;
                if (run.width == 0) {
                    const uint32_t end = std::min(j + RunLength(run.length_code), n);
                    while (b < g.band_count && 2 * g.band_start[b] < end) q = band_q[b++];
                    j = end;
                    continue;
                }
                for (uint32_t i = 0; i < length; ++i, ++j) {
                    if (b < g.band_count && j == 2 * g.band_start[b]) q = band_q[b++];
                    want[k * n + j] = static_cast<float>(run.values[i]) * q;
                }
            }
            code.channels.push_back(ch);
        }
        AudioBitWriter w;
        ASSERT_TRUE(WriteAudioBlock(g, code, &w));
        for (const test::CpuLevel& level : test::CpuLevels()) {
            test::ScopedCpuMask mask(level.mask);
            std::vector<float> got(want.size(), -1.0f);
            audio::BlockBits bits(w.bytes().data(), w.bytes().data() + w.bytes().size());
            const uint64_t read = audio::ReadBlockCoefficients(g, bits, got.data());
            EXPECT_EQ((read + 31) / 32 * 32, w.bit_count()) << rate;
            EXPECT_FALSE(bits.Overran());
            for (size_t i = 0; i < want.size(); ++i)
                ASSERT_EQ(got[i], want[i]) << level.name << " " << rate << " " << i;
        }
    }
}

TEST(AudioWriter, ToneRoundTripsThroughEncoderAndDecoder) {
    // Interleaved stereo puts the channels' difference near the top band,
    // whose one quantiser then needs a larger value range.
    for (const auto& [rate, channels, dct, limit, bound] :
         {std::tuple{48000u, 2u, true, 2047u, 24}, std::tuple{44100u, 2u, false, 2047u, 250},
          std::tuple{44100u, 2u, false, 32767u, 24}, std::tuple{22050u, 1u, false, 2047u, 24},
          std::tuple{11025u, 1u, true, 2047u, 24}}) {
        const std::vector<int16_t> tone = Tone(rate, channels, rate * 3 / 4);
        AudioBlockEncoder encoder(rate, channels, dct, limit);
        ASSERT_TRUE(encoder.ok());
        const uint32_t frames = 30;
        const AudioTrackParts track =
            EncodeAudioTrack(encoder, tone.data(), tone.size(), frames, 30, 1, 1);
        ASSERT_EQ(track.parts.size(), frames);
        const uint32_t format =
            rate | ((0x4000u | (channels == 2 ? 0x2000u : 0) | (dct ? 0x1000u : 0x8000u)) << 16);
        AudioDecoder* decoder = OpenAudioDecoderForTrack(format);
        ASSERT_NE(decoder, nullptr);
        CollectSink sink;
        uint32_t largest = 0;
        for (uint32_t f = 0; f < frames; ++f) {
            const auto& part = track.parts[f];
            AudioPartStatus s;
            DecodeAudioPart(decoder, part.data(), static_cast<uint32_t>(part.size()), &sink, &s);
            EXPECT_TRUE(s.complete);
            largest = std::max(largest, s.declared);
            // Sound stays ahead of the picture: f + 2 frame times by frame f.
            if (sink.values.size() < tone.size()) {
                EXPECT_GE(sink.values.size(), (f + 2) * rate * channels / 30) << f;
            }
        }
        CloseAudioDecoder(decoder);
        EXPECT_EQ(largest, track.buffer_size);
        ASSERT_EQ(sink.values.size(), tone.size()) << rate;
        int worst = 0;
        for (size_t i = 0; i < tone.size(); ++i)
            worst = std::max(worst, std::abs(sink.values[i] - tone[i]));
        std::printf("  %u Hz, %u channel(s), %s, value limit %u: largest error %d\n", rate,
                    channels, dct ? "DCT" : "real DFT", limit, worst);
        EXPECT_LE(worst, bound) << rate;
    }
}

TEST(AudioWriter, SilenceAndEmptySignals) {
    AudioBlockEncoder encoder(48000, 2, true);
    const std::vector<int16_t> silence(20000, 0);
    const AudioTrackParts track =
        EncodeAudioTrack(encoder, silence.data(), silence.size(), 3, 30, 1, 0);
    AudioDecoder* decoder = OpenAudioDecoder(48000, 2, true);
    CollectSink sink;
    for (const auto& part : track.parts)
        DecodeAudioPart(decoder, part.data(), static_cast<uint32_t>(part.size()), &sink);
    CloseAudioDecoder(decoder);
    ASSERT_EQ(sink.values.size(), silence.size());
    for (int16_t v : sink.values) ASSERT_EQ(v, 0);

    const AudioTrackParts none = EncodeAudioTrack(encoder, nullptr, 0, 4, 30, 1, 1);
    ASSERT_EQ(none.parts.size(), 4u);
    for (const auto& part : none.parts) EXPECT_TRUE(part.empty());
    EXPECT_FALSE(AudioBlockEncoder(48000, 5, true).ok());
}

}  // namespace
}  // namespace vemo
