// Geometry, block layout, band rules, PCM conversion, cross-fade and the
// per-part loop with its bounds.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "block_reader.h"
#include "cpu_levels.h"
#include "pcm.h"
#include "run_kernels.h"
#include "vemo/audio_decoder.h"
#include "vemo/audio_writer.h"
#include "vemo/container.h"

namespace vemo {
namespace {

class CollectSink : public AudioSink {
  public:
    void AppendAudio(const uint8_t* bytes, uint32_t count) override {
        data.insert(data.end(), bytes, bytes + count);
        calls.push_back(count);
    }
    std::vector<uint8_t> data;
    std::vector<uint32_t> calls;
};

struct DecoderDeleter {
    void operator()(AudioDecoder* d) const { CloseAudioDecoder(d); }
};
using DecoderPtr = std::unique_ptr<AudioDecoder, DecoderDeleter>;

AudioGeometry Geometry(uint32_t rate, uint32_t channels, bool dct) {
    AudioGeometry g;
    EXPECT_TRUE(ComputeAudioGeometry(rate, channels, dct, &g));
    return g;
}

// A channel whose coefficients 2 .. N - 1 are all zero, in long runs.
AudioChannelCode SilentChannel(const AudioGeometry& g) {
    AudioChannelCode ch;
    ch.quantiser.assign(g.band_count, 0);
    for (uint32_t j = 2; j < g.transform_length; j += 512) ch.runs.push_back({15, 0, {}});
    return ch;
}

// *bits: the block's bits including the padding to a whole word.
std::vector<uint8_t> Block(const AudioGeometry& g, const AudioBlockCode& code,
                           uint64_t* bits = nullptr) {
    AudioBitWriter w;
    EXPECT_TRUE(WriteAudioBlock(g, code, &w));
    if (bits) *bits = w.bit_count();
    return w.Take();
}

// Reads a block's coefficients as the decoder does.
std::vector<float> Coefficients(const AudioGeometry& g, const std::vector<uint8_t>& bytes,
                                uint64_t* bits_read = nullptr) {
    std::vector<float> a(static_cast<size_t>(g.transform_length) * g.coded_channels, -99.0f);
    audio::BlockBits bits(bytes.data(), bytes.data() + bytes.size());
    const uint64_t n = audio::ReadBlockCoefficients(g, bits, a.data());
    if (bits_read) *bits_read = n;
    return a;
}

uint64_t Padded(uint64_t bits) {
    return (bits + 31) / 32 * 32;
}

std::vector<uint8_t> Part(uint32_t declared, const std::vector<uint8_t>& blocks) {
    std::vector<uint8_t> part(4 + blocks.size());
    StoreLe32(part.data(), declared);
    std::copy(blocks.begin(), blocks.end(), part.begin() + 4);
    return part;
}

TEST(AudioGeometry, WorkedExamples) {
    AudioGeometry g = Geometry(48000, 2, true);
    EXPECT_EQ(g.base_length, 2048u);
    EXPECT_EQ(g.transform_length, 2048u);
    EXPECT_EQ(g.coded_channels, 2u);
    EXPECT_EQ(g.half_rate, 24000u);
    EXPECT_EQ(g.band_count, 25u);
    const uint32_t e[26] = {1,  4,  8,   12,  17,  21,  26,  32,  39,  46,  54,  63,  73,
                            85, 98, 115, 134, 157, 187, 226, 273, 328, 405, 512, 661, 1024};
    for (int i = 0; i < 26; ++i) EXPECT_EQ(g.band_start[i], e[i]) << i;
    EXPECT_EQ(g.block_bytes, 8192u);
    EXPECT_EQ(g.overlap_bytes, 512u);
    EXPECT_EQ(g.delivered_bytes, 7680u);

    g = Geometry(22050, 1, false);
    EXPECT_EQ(g.transform_length, 1024u);
    EXPECT_EQ(g.half_rate, 11025u);
    EXPECT_EQ(g.band_count, 23u);

    g = Geometry(44100, 2, false);
    EXPECT_EQ(g.base_length, 2048u);
    EXPECT_EQ(g.transform_length, 4096u);
    EXPECT_EQ(g.coded_channels, 1u);
    EXPECT_EQ(g.effective_rate, 88200u);
    EXPECT_EQ(g.half_rate, 44100u);
    EXPECT_EQ(g.band_count, 25u);
    EXPECT_EQ(g.band_start[25], 2048u);
    EXPECT_FLOAT_EQ(g.output_scale, 2.0f / 64.0f);

    g = Geometry(22049, 1, true);  // just below 22050: the short frame
    EXPECT_EQ(g.base_length, 512u);
    EXPECT_EQ(g.delivered_bytes, 960u);
    g = Geometry(0, 1, true);  // no bands at all; nothing divides by zero
    EXPECT_EQ(g.band_count, 0u);
    EXPECT_EQ(g.band_start[0], 256u);

    EXPECT_FALSE(ComputeAudioGeometry(48000, 3, true, &g));
    EXPECT_EQ(OpenAudioDecoder(48000, 0, true), nullptr);
}

TEST(AudioGeometry, QuantiserTableComesFromDoublePrecision) {
    EXPECT_EQ(AudioQuantiser(0), 1.0f);
    EXPECT_EQ(AudioQuantiser(1), 1.1651987f);
    EXPECT_EQ(AudioQuantiser(2), 1.3576881f);
    EXPECT_EQ(AudioQuantiser(95), 2032357.0f);
    EXPECT_EQ(AudioQuantiser(200), 2032357.0f);
}

TEST(AudioGeometry, TrackFormatsAndRingSizes) {
    const uint32_t dct_stereo = 48000 | (0x7000u << 16);
    const uint32_t dft_mono = 22050 | (0xC000u << 16);
    const uint32_t neither = 48000 | (0x6000u << 16);
    EXPECT_EQ(AudioTrackVariant(dct_stereo), 1);
    EXPECT_EQ(AudioTrackVariant(dft_mono), 2);
    EXPECT_EQ(AudioTrackVariant(neither), 0);
    EXPECT_EQ(AudioTrackVariant(48000 | (0x9000u << 16)), 2);  // bit 15 wins over bit 12
    EXPECT_EQ(OpenAudioDecoderForTrack(neither), nullptr);
    DecoderPtr d(OpenAudioDecoderForTrack(dft_mono));
    ASSERT_TRUE(d);
    EXPECT_FALSE(GetAudioGeometry(d.get()).dct);
    EXPECT_EQ(GetAudioGeometry(d.get()).channels, 1u);

    EXPECT_EQ(AudioRingSize(dct_stereo, 145920), 145920u);
    EXPECT_EQ(AudioRingSize(dct_stereo, 145921), 146176u);  // rounded up to 256
    EXPECT_EQ(AudioRingSize(dct_stereo, 100), 7680u);       // never below one block
    EXPECT_EQ(AudioRingSize(neither, 1000), 0u);
}

// A run of signed values read in one go equals one ReadSigned after another:
// the values, the bits consumed, the overrun past the end and the reads after.
TEST(AudioBlock, SignedRunsReadAsSingleValuesDo) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> bytes(rng() % 40);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() & (trial % 3 ? 0xFF : 0x81));
        const unsigned w = 1 + trial % 15;
        const uint32_t skip = rng() % 7, count = rng() % 48;
        const float q = 0.75f + static_cast<float>(trial);
        audio::BlockBits one(bytes.data(), bytes.data() + bytes.size());
        audio::BlockBits run(bytes.data(), bytes.data() + bytes.size());
        one.Read(skip + 1);
        run.Read(skip + 1);
        std::vector<float> want(count), got(count, -1.0f);
        for (uint32_t i = 0; i < count; ++i) want[i] = static_cast<float>(one.ReadSigned(w)) * q;
        run.ReadSignedRun(w, q, got.data(), count);
        ASSERT_EQ(got, want) << "trial " << trial;
        ASSERT_EQ(run.BitsConsumed(), one.BitsConsumed());
        ASSERT_EQ(run.Overran(), one.Overran());
        ASSERT_EQ(run.Read(13), one.Read(13));
    }
}

// Eight values taken as if none were 0 match single reads up to the first 0,
// and its mask marks exactly the values that are 0.
TEST(AudioBlock, EightValuesMatchSingleReadsUpToTheFirstZero) {
    std::mt19937 rng(8);
    for (int trial = 0; trial < 3000; ++trial) {
        uint8_t bytes[audio::kEightValuesBytes];
        // Sparse bytes give many values of 0 at every width.
        const uint8_t keep = trial % 2 ? 0xFF : static_cast<uint8_t>(rng());
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() & keep);
        const unsigned w = 1 + trial % 15, offset = (trial / 15) % 8;
        int32_t got[8];
        const uint32_t zero = audio::PlainEightValues(bytes, offset, w, got);
        audio::BlockBits one(bytes, bytes + sizeof bytes);
        if (offset) one.Read(offset);
        for (unsigned i = 0; i < 8; ++i) {
            audio::BlockBits fixed(bytes, bytes + sizeof bytes);
            fixed.Skip(offset + i * (w + 1));
            const uint32_t v = fixed.Read(w);
            ASSERT_EQ((zero >> i) & 1, v == 0 ? 1u : 0u) << trial << " value " << i;
            if (i == 0 || !(zero & ((1u << i) - 1))) {
                ASSERT_EQ(got[i], one.ReadSigned(w));
            }
        }
    }
}

// Whole channels of runs read by every kernel level give the plain values
// and end at the same bit, also for blocks cut short.
TEST(AudioBlock, RunKernelsGiveThePlainValuesAtEveryLevel) {
    std::mt19937 rng(9);
    for (int trial = 0; trial < 60; ++trial) {
        const uint32_t n = trial % 3 == 0 ? 512 : 2048;
        std::vector<uint8_t> bytes(trial % 4 == 0 ? rng() % 300 : 6000);
        const uint8_t keep = trial % 2 ? 0xFF : 0x5A;
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng() & keep);
        const uint8_t* end = bytes.data() + bytes.size();
        std::vector<int32_t> plain(n, -7);
        audio::BlockBits reference(bytes.data(), end);
        audio::PlainReadRuns(reference, n, plain.data());
        for (const test::CpuLevel& level : test::CpuLevels()) {
            test::ScopedCpuMask mask(level.mask);
            std::vector<int32_t> got(n, -7);
            audio::BlockBits bits(bytes.data(), end);
            audio::ActiveRunKernels().read_runs(bits, n, got.data());
            ASSERT_EQ(bits.BitsConsumed(), reference.BitsConsumed()) << level.name << " " << trial;
            for (uint32_t i = 2; i < n; ++i)
                ASSERT_EQ(got[i], plain[i]) << level.name << " trial " << trial << " at " << i;
        }
    }
}

// A block cut at any length reads, at every level, what the same bytes
// followed by zeros give, without touching a byte past its end (each cut is
// an exactly sized copy, for the address sanitizer).
TEST(AudioBlock, BlocksCutShortReadAsIfZeroFollowed) {
    const AudioGeometry g = Geometry(48000, 2, true);
    std::mt19937 rng(12);
    std::vector<uint8_t> full(2 * 1024);
    for (uint8_t& b : full) b = static_cast<uint8_t>(rng() & (rng() & 1 ? 0xFF : 0x24));
    for (size_t cut = 0; cut < 1200; cut += 1 + cut / 16) {
        std::vector<uint8_t> padded(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
        padded.resize(cut + 4096, 0);
        uint64_t want_bits = 0;
        const std::vector<float> want = Coefficients(g, padded, &want_bits);
        std::unique_ptr<uint8_t[]> exact(new uint8_t[cut]);
        std::memcpy(exact.get(), full.data(), cut);
        for (const test::CpuLevel& level : test::CpuLevels()) {
            test::ScopedCpuMask mask(level.mask);
            std::vector<float> got(want.size(), -99.0f);
            audio::BlockBits bits(exact.get(), exact.get() + cut);
            ASSERT_EQ(audio::ReadBlockCoefficients(g, bits, got.data()), want_bits) << cut;
            ASSERT_EQ(bits.Overran(), want_bits > 8 * cut) << cut;
            ASSERT_EQ(got, want) << level.name << " cut " << cut;
        }
    }
}

TEST(AudioBlock, DirectCoefficientsQuantiserClampAndIgnoredBits) {
    const AudioGeometry g = Geometry(48000, 1, true);
    AudioBlockCode code;
    code.ignored = 3;
    AudioChannelCode ch = SilentChannel(g);
    ch.direct[0] = DirectCoefficientField(23, 1234567, true);    // -1234567
    ch.direct[1] = DirectCoefficientField(24, 0x7FFFFF, false);  // beyond the table: 0
    ch.quantiser[0] = 200;                                       // clamped to 95
    ch.runs.clear();
    ch.runs.push_back({-1, 2, {1, -1, 0, 3, 0, 0, -2, 1}});
    for (uint32_t j = 10; j < g.transform_length; j += 512) ch.runs.push_back({15, 0, {}});
    code.channels = {ch};
    uint64_t written = 0;
    const std::vector<uint8_t> bytes = Block(g, code, &written);
    uint64_t read = 0;
    const std::vector<float> a = Coefficients(g, bytes, &read);
    EXPECT_EQ(Padded(read), written);
    EXPECT_EQ(a[0], -1234567.0f);
    EXPECT_EQ(a[1], 0.0f);
    const float q = 2032357.0f;
    // Band 0 covers 2..7, band 1 starts at 8 (quantiser index 0: 1.0).
    const float want[8] = {q, -q, 0, 3 * q, 0, 0, -2.0f, 1.0f};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(a[2 + i], want[i]) << i;
    for (uint32_t i = 10; i < g.transform_length; ++i) ASSERT_EQ(a[i], 0.0f) << i;

    // Exponent 0 scales by 2^-23; sign bit set.
    ch.direct[0] = DirectCoefficientField(0, 3, true);
    code.channels = {ch};
    EXPECT_EQ(Coefficients(g, Block(g, code))[0], -3.0f / 8388608.0f);
}

TEST(AudioBlock, BandsAreEnteredAtTheirStartsAndPassedInsideZeroRuns) {
    // 48 kHz: band starts 2E = 2, 8, 16, 24, 34, 42, 52, ...
    const AudioGeometry g = Geometry(48000, 1, true);
    AudioChannelCode ch;
    ch.quantiser.assign(g.band_count, 0);
    for (uint32_t b = 0; b < 8; ++b) ch.quantiser[b] = 10 * (b + 1);
    ch.runs.push_back({-1, 2, {1, 1, 1, 1, 1, 1, 1, 1}});  // 2..9: bands 0 and 1
    ch.runs.push_back({0, 0, {}});                         // 10..25 zero: passes 16 and 24
    ch.runs.push_back({-1, 1, {1, 1, 1, 1, 1, 1, 1, 1}});  // 26..33: still band 3
    ch.runs.push_back({-1, 0, {}});                        // 34..41 zero: passes 34 only
    ch.runs.push_back({-1, 1, {1, 1, 1, 1, 1, 1, 1, 1}});  // 42..49: band 5 entered at 42
    uint32_t j = 50;
    ch.runs.push_back({13, 0, {}});  // 50..177
    j += 128;
    while (j < g.transform_length) {
        ch.runs.push_back({15, 0, {}});
        j += 512;
    }
    AudioBlockCode code;
    code.channels = {ch};
    const std::vector<float> a = Coefficients(g, Block(g, code));
    for (int i = 2; i < 8; ++i) EXPECT_EQ(a[i], AudioQuantiser(10)) << i;
    for (int i = 8; i < 10; ++i) EXPECT_EQ(a[i], AudioQuantiser(20)) << i;
    for (int i = 10; i < 26; ++i) EXPECT_EQ(a[i], 0.0f) << i;
    for (int i = 26; i < 34; ++i) EXPECT_EQ(a[i], AudioQuantiser(40)) << i;
    for (int i = 42; i < 50; ++i) EXPECT_EQ(a[i], AudioQuantiser(60)) << i;
}

TEST(AudioBlock, RunsAreCutAtNAndWidthZeroRunsReadNoValues) {
    const AudioGeometry g = Geometry(8000, 1, true);  // N = 512, 18 bands
    ASSERT_EQ(g.transform_length, 512u);
    ASSERT_EQ(g.band_count, 18u);
    AudioChannelCode ch;
    ch.quantiser.assign(g.band_count, 0);
    ch.runs.push_back({14, 0, {}});                  // 2..257 (32 x 8), no value bits however long
    ch.runs.push_back({12, 0, {}});                  // 258..377
    ch.runs.push_back({12, 0, {}});                  // 378..497
    ch.runs.push_back({-1, 0, {}});                  // 498..505
    ch.runs.push_back({15, 3, {1, 2, 0, 4, 5, 6}});  // 506..511: nominally 512 long, cut at N
    AudioBlockCode code;
    code.channels = {ch};
    uint64_t written = 0;
    std::vector<uint8_t> bytes = Block(g, code, &written);
    uint64_t read = 0;
    std::vector<float> a = Coefficients(g, bytes, &read);
    // Width-0 runs cost their flag, length and width bits and nothing else;
    // a coded 0 has no sign bit.
    const uint64_t header = 2 + 58 + 8 * g.band_count;
    EXPECT_EQ(read, header + 3 * 9 + 5 + 9 + 5 * (3 + 1) + 3);
    EXPECT_EQ(Padded(read), written);
    const float want[6] = {1, 2, 0, 4, 5, 6};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(a[506 + i], want[i]);
    for (int i = 2; i < 506; ++i) ASSERT_EQ(a[i], 0.0f);

    // 14 coefficients left and a run of 64 x 8: only those 14 are read.
    ch.runs.clear();
    ch.runs.push_back({14, 0, {}});  // 2..257
    ch.runs.push_back({13, 0, {}});  // 258..385
    ch.runs.push_back({11, 0, {}});  // 386..497
    ch.runs.push_back({15, 2, std::vector<int32_t>(14, -1)});
    code.channels = {ch};
    bytes = Block(g, code, &written);
    a = Coefficients(g, bytes, &read);
    EXPECT_EQ(read, header + 3 * 9 + 9 + 14 * 3);
    for (int i = 498; i < 512; ++i) EXPECT_EQ(a[i], -1.0f);
}

TEST(AudioBlock, StereoChannelsFollowEachOtherWithoutAlignment) {
    const AudioGeometry g = Geometry(48000, 2, true);
    AudioBlockCode code;
    AudioChannelCode left = SilentChannel(g), right = SilentChannel(g);
    left.direct[0] = DirectCoefficientField(23, 1000, false);
    right.direct[0] = DirectCoefficientField(23, 2000, true);
    right.direct[1] = DirectCoefficientField(22, 5, false);
    right.runs.clear();
    right.runs.push_back({-1, 4, {7, 0, 0, 0, 0, 0, 0, -7}});
    for (int r = 0; r < 4; ++r) right.runs.push_back({15, 0, {}});
    code.channels = {left, right};
    uint64_t written = 0;
    const std::vector<uint8_t> bytes = Block(g, code, &written);
    uint64_t read = 0;
    const std::vector<float> a = Coefficients(g, bytes, &read);
    EXPECT_EQ(Padded(read), written);
    // The first channel ends off a word boundary; the second follows directly.
    const uint64_t first = 2 + 58 + 8 * 25 + 4 * 9;
    ASSERT_NE(first % 32, 0u);
    EXPECT_EQ(read, first + 58 + 8 * 25 + (5 + 8 * 4 + 2) + 4 * 9);
    EXPECT_EQ(a[0], 1000.0f);
    EXPECT_EQ(a[2048], -2000.0f);
    EXPECT_EQ(a[2049], 2.5f);
    EXPECT_EQ(a[2050], 7.0f);
    EXPECT_EQ(a[2057], -7.0f);
}

TEST(AudioPcm, RoundsHalfToEvenAndClamps) {
    EXPECT_EQ(audio::ConvertSample(40000.0f, 1.0f), 32767);
    EXPECT_EQ(audio::ConvertSample(-40000.0f, 1.0f), -32768);
    EXPECT_EQ(audio::ConvertSample(2.5f, 1.0f), 2);
    EXPECT_EQ(audio::ConvertSample(3.5f, 1.0f), 4);
    EXPECT_EQ(audio::ConvertSample(-2.5f, 1.0f), -2);
    EXPECT_EQ(audio::ConvertSample(-3.5f, 1.0f), -4);
    EXPECT_EQ(audio::ConvertSample(32767.5f, 1.0f), 32767);
    EXPECT_EQ(audio::ConvertSample(-32768.5f, 1.0f), -32768);
    EXPECT_EQ(audio::ConvertSample(1e30f, 1.0f), 32767);
}

TEST(AudioPcm, SimdConversionEqualsPlain) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-50000.0f, 50000.0f);
    const uint32_t count = 2048;
    std::vector<float> left(count), right(count);
    for (uint32_t i = 0; i < count; ++i) {
        left[i] = u(rng);
        // Ties and values at the clamp edges as well as ordinary ones.
        right[i] = (i % 3 == 0)   ? static_cast<float>(static_cast<int>(i) - 1024) + 0.5f
                   : (i % 3 == 1) ? 1e12f * ((i & 4) ? 1 : -1)
                                  : u(rng) / 8;
    }
    for (float scale : {1.0f, 2.0f / 45.254834f, 0.03125f}) {
        std::vector<int16_t> plain(2 * count), simd(2 * count, 1);
        audio::ConvertStereoPlain(left.data(), right.data(), count, scale, plain.data());
        audio::ConvertStereo(left.data(), right.data(), count, scale, simd.data());
        EXPECT_EQ(plain, simd);
        audio::ConvertMonoPlain(right.data(), count, scale, plain.data());
        audio::ConvertMono(right.data(), count, scale, simd.data());
        EXPECT_EQ(plain, simd);
    }
}

TEST(AudioPcm, CrossFadeRoundsTowardMinusInfinity) {
    std::vector<int16_t> tail(256, -1), values(256, 0);
    audio::CrossFade(tail.data(), values.data(), 256, 8);
    EXPECT_EQ(values[0], -1);
    EXPECT_EQ(values[1], -1);    // -255 / 256
    EXPECT_EQ(values[255], -1);  // -1 / 256
    std::vector<int16_t> t2(32, 1000), v2(32, -1000);
    audio::CrossFade(t2.data(), v2.data(), 32, 5);
    EXPECT_EQ(v2[0], 1000);
    EXPECT_EQ(v2[16], 0);
    EXPECT_EQ(v2[31], (1000 * 1 - 1000 * 31) >> 5);
}

// A block with energy: a sine in the DCT domain.
std::vector<uint8_t> LoudBlock(const AudioGeometry& g, uint32_t seed) {
    AudioBlockCode code;
    for (uint32_t k = 0; k < g.coded_channels; ++k) {
        AudioChannelCode ch;
        ch.quantiser.assign(g.band_count, 40);
        ch.direct[0] = DirectCoefficientField(23, 100 + seed, seed & 1);
        std::vector<int32_t> values(8);
        for (int i = 0; i < 8; ++i) values[i] = static_cast<int32_t>((seed * 7 + i * 3) % 15) - 7;
        ch.runs.push_back({-1, 4, values});
        for (uint32_t j = 10; j < g.transform_length; j += 512) ch.runs.push_back({15, 0, {}});
        code.channels.push_back(ch);
    }
    return Block(g, code);
}

TEST(AudioDecode, FirstBlockUnmixedThenZeroBlockFadesTheTailOut) {
    const AudioGeometry g = Geometry(48000, 2, true);
    DecoderPtr d(OpenAudioDecoder(48000, 2, true));
    ASSERT_TRUE(d);
    const std::vector<uint8_t> loud = LoudBlock(g, 3);
    AudioBlockResult r = DecodeAudioBlock(d.get(), loud.data(), loud.data() + loud.size());
    EXPECT_EQ(r.delivered, 7680u);
    EXPECT_EQ(r.next, loud.data() + loud.size());
    EXPECT_FALSE(r.overran);
    const uint32_t values = g.block_bytes / 2, n = g.overlap_bytes / 2;
    std::vector<int16_t> first(r.pcm, r.pcm + values);
    // Unmixed: the stereo output of the two transforms, channel 0 first.
    std::vector<float> a = Coefficients(g, loud);
    int nonzero = 0;
    for (uint32_t i = 0; i < values; ++i) nonzero += first[i] != 0;
    EXPECT_GT(nonzero, 1000);
    for (uint32_t k = 0; k < 4; ++k) {
        double x0 = 0, x1 = 0;
        for (uint32_t j = 0; j < g.transform_length; ++j) {
            const double c = std::cos(3.14159265358979 * j * (k + 0.5) / g.transform_length);
            x0 += a[j] * c;
            x1 += a[g.transform_length + j] * c;
        }
        EXPECT_NEAR(first[2 * k], x0 * g.output_scale, 1.0) << k;
        EXPECT_NEAR(first[2 * k + 1], x1 * g.output_scale, 1.0) << k;
    }

    AudioBlockCode silent;
    silent.channels = {SilentChannel(g), SilentChannel(g)};
    const std::vector<uint8_t> zero = Block(g, silent);
    r = DecodeAudioBlock(d.get(), zero.data(), zero.data() + zero.size());
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t tail = first[values - n + i];
        ASSERT_EQ(r.pcm[i], (tail * static_cast<int32_t>(n - i)) >> 8) << i;
    }
    for (uint32_t i = n; i < values; ++i) ASSERT_EQ(r.pcm[i], 0) << i;
}

TEST(AudioDecode, PartsDeliverDeclaredBytesAndTruncateTheLastBlock) {
    const AudioGeometry g = Geometry(48000, 2, true);
    std::vector<uint8_t> blocks;
    std::vector<std::vector<uint8_t>> each;
    for (uint32_t b = 0; b < 19; ++b) {
        each.push_back(LoudBlock(g, b));
        blocks.insert(blocks.end(), each.back().begin(), each.back().end());
    }
    {  // D = 7680: exactly one block.
        DecoderPtr d(OpenAudioDecoder(48000, 2, true));
        CollectSink sink;
        const std::vector<uint8_t> part = Part(7680, blocks);
        AudioPartStatus s;
        EXPECT_EQ(DecodeAudioPart(d.get(), part.data(), part.size(), &sink, &s), 7680u);
        EXPECT_EQ(s.blocks, 1u);
        EXPECT_TRUE(s.complete);
    }
    CollectSink all;
    {  // D = 145920: 19 blocks.
        DecoderPtr d(OpenAudioDecoder(48000, 2, true));
        const std::vector<uint8_t> part = Part(145920, blocks);
        AudioPartStatus s;
        EXPECT_EQ(DecodeAudioPart(d.get(), part.data(), part.size(), &all, &s), 145920u);
        EXPECT_EQ(s.blocks, 19u);
        EXPECT_EQ(all.calls.size(), 19u);
        EXPECT_TRUE(s.complete);
    }
    {  // D = 4000: one block, 4000 bytes; the next frame still fades with its tail.
        DecoderPtr d(OpenAudioDecoder(48000, 2, true));
        CollectSink sink;
        const std::vector<uint8_t> p1 = Part(4000, each[0]);
        std::vector<uint8_t> rest;
        for (int b = 1; b < 3; ++b) rest.insert(rest.end(), each[b].begin(), each[b].end());
        const std::vector<uint8_t> p2 = Part(2 * 7680, rest);
        EXPECT_EQ(DecodeAudioPart(d.get(), p1.data(), p1.size(), &sink), 4000u);
        EXPECT_EQ(DecodeAudioPart(d.get(), p2.data(), p2.size(), &sink), 15360u);
        ASSERT_EQ(sink.data.size(), 4000u + 15360u);
        EXPECT_TRUE(std::equal(sink.data.begin(), sink.data.begin() + 4000, all.data.begin()));
        EXPECT_TRUE(std::equal(sink.data.begin() + 4000, sink.data.end(), all.data.begin() + 7680));
    }
}

TEST(AudioDecode, BoundedPartsNeverReadPastTheirEnd) {
    const AudioGeometry g = Geometry(48000, 2, true);
    std::vector<uint8_t> blocks;
    for (uint32_t b = 0; b < 2; ++b) {
        const std::vector<uint8_t> one = LoudBlock(g, b);
        blocks.insert(blocks.end(), one.begin(), one.end());
    }
    {  // A count the part cannot hold stops after the blocks it has.
        DecoderPtr d(OpenAudioDecoder(48000, 2, true));
        CollectSink sink;
        const std::vector<uint8_t> part = Part(0xFFFFFFFFu, blocks);
        AudioPartStatus s;
        EXPECT_EQ(DecodeAudioPart(d.get(), part.data(), part.size(), &sink, &s), 2 * 7680u);
        EXPECT_EQ(s.blocks, 2u);
        EXPECT_FALSE(s.complete);
    }
    {  // A part cut inside its second block: that block reads zeros past the end.
        DecoderPtr d(OpenAudioDecoder(48000, 2, true));
        CollectSink sink;
        const std::vector<uint8_t> full = Part(2 * 7680, blocks);
        // Exactly sized copy so that a read past it is caught by the sanitizer.
        const size_t cut = full.size() - 5;
        std::unique_ptr<uint8_t[]> part(new uint8_t[cut]);
        std::memcpy(part.get(), full.data(), cut);
        AudioPartStatus s;
        EXPECT_EQ(DecodeAudioPart(d.get(), part.get(), static_cast<uint32_t>(cut), &sink, &s),
                  2 * 7680u);
        EXPECT_EQ(s.blocks, 2u);
        EXPECT_TRUE(s.complete);
    }
    {  // Too short for a count, or a count with no blocks at all.
        DecoderPtr d(OpenAudioDecoder(48000, 2, true));
        CollectSink sink;
        const uint8_t three[3] = {1, 2, 3};
        AudioPartStatus s;
        EXPECT_EQ(DecodeAudioPart(d.get(), three, 3, &sink, &s), 0u);
        EXPECT_FALSE(s.complete);
        const std::vector<uint8_t> empty = Part(7680, {});
        EXPECT_EQ(DecodeAudioPart(d.get(), empty.data(), empty.size(), &sink, &s), 0u);
        EXPECT_FALSE(s.complete);
        EXPECT_EQ(DecodeAudioPart(d.get(), nullptr, 0, &sink, &s), 0u);
        EXPECT_TRUE(s.complete);
        EXPECT_TRUE(sink.calls.empty());
    }
    {  // A block of bytes that are all ones: the widest runs, clamped indices.
        DecoderPtr d(OpenAudioDecoder(44100, 2, false));
        std::vector<uint8_t> junk(64, 0xFF);
        StoreLe32(junk.data(), 1000);
        CollectSink sink;
        AudioPartStatus s;
        EXPECT_EQ(DecodeAudioPart(d.get(), junk.data(), junk.size(), &sink, &s), 1000u);
        EXPECT_EQ(s.blocks, 1u);
    }
}

}  // namespace
}  // namespace vemo
