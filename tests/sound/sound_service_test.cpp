// The sound ring, the 8-bit conversion and the sound service's chunk rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "vemo/platform.h"
#include "vemo/sound_driver.h"
#include "vemo/sound_headless.h"

namespace vemo {
namespace {

std::vector<uint8_t> Sequence(uint32_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(SoundRing, SizeForTrackRoundsUpTo256) {
    EXPECT_EQ(SoundRing::SizeForTrack(1), 256u);
    EXPECT_EQ(SoundRing::SizeForTrack(256), 256u);
    EXPECT_EQ(SoundRing::SizeForTrack(257), 512u);
    EXPECT_EQ(SoundRing::SizeForTrack(0xFFFFFF01u), 0u);
}

TEST(SoundRing, OverflowDropsTheOldestBytes) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(4096));
    const std::vector<uint8_t> old_bytes = Sequence(2000, 1);
    EXPECT_EQ(ring.Append(old_bytes.data(), 2000), 0u);
    const std::vector<uint8_t> new_bytes = Sequence(3000, 7);
    EXPECT_EQ(ring.Append(new_bytes.data(), 3000), 904u);
    EXPECT_EQ(ring.filled(), 4096u);
    EXPECT_EQ(ring.read_offset(), 904u);
    std::vector<uint8_t> out(4096);
    EXPECT_EQ(ring.Take(out.data(), 5000), 4096u);
    // The survivors of the first append, then the whole second one.
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1096, old_bytes.begin() + 904));
    EXPECT_TRUE(std::equal(out.begin() + 1096, out.end(), new_bytes.begin()));
    EXPECT_EQ(ring.filled(), 0u);
}

TEST(SoundRing, AppendLargerThanTheRingKeepsTheNewest) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(256));
    const std::vector<uint8_t> first = Sequence(100);
    ring.Append(first.data(), 100);
    const std::vector<uint8_t> big = Sequence(600, 3);
    EXPECT_EQ(ring.Append(big.data(), 600), 100u + 344u);
    std::vector<uint8_t> out(256);
    ASSERT_EQ(ring.Take(out.data(), 256), 256u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), big.end() - 256));
}

TEST(SoundRing, WrapsAtTheEnd) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(256));
    std::vector<uint8_t> out(256);
    const std::vector<uint8_t> a = Sequence(200);
    ring.Append(a.data(), 200);
    ring.Take(out.data(), 150);
    const std::vector<uint8_t> b = Sequence(150, 50);
    ring.Append(b.data(), 150);  // 56 bytes to the end, 94 from the start
    EXPECT_EQ(ring.write_offset(), 94u);
    ASSERT_EQ(ring.Take(out.data(), 256), 200u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 50, a.begin() + 150));
    EXPECT_TRUE(std::equal(out.begin() + 50, out.begin() + 200, b.begin()));
}

TEST(SoundRing, SilencePrimeFillsUpToTheSizeBehindTheReadPosition) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(512));
    std::vector<uint8_t> data(100, 0x55);
    ring.Append(data.data(), 100);
    ring.PrimeWithSilence(300);
    EXPECT_EQ(ring.filled(), 300u);
    EXPECT_EQ(ring.read_offset(), 512u - 200u);  // wrapped back from 0
    std::vector<uint8_t> out(300);
    ASSERT_EQ(ring.Take(out.data(), 300), 300u);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(out[i], 0) << i;
    for (int i = 200; i < 300; ++i) ASSERT_EQ(out[i], 0x55) << i;
    // A ring already holding enough is left alone; the size is capped.
    ring.Append(data.data(), 100);
    ring.PrimeWithSilence(50);
    EXPECT_EQ(ring.filled(), 100u);
    ring.PrimeWithSilence(100000);
    EXPECT_EQ(ring.filled(), 512u);
}

// A ring with room for a device that plays from it: handed bytes stay put
// until consumed, whatever the decoder side does meanwhile.
TEST(SoundRingHandOver, OverflowEmptyAndPrimeNeverTouchHandedBytes) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(1024, 512));
    const std::vector<uint8_t> a = Sequence(800, 1);
    ring.Append(a.data(), 800);
    EXPECT_EQ(ring.HandOver(300), 300u);
    EXPECT_EQ(ring.handed(), 300u);
    EXPECT_EQ(ring.filled(), 500u);
    // 524 free: the oldest 176 bytes that wait are dropped, not handed ones.
    const std::vector<uint8_t> b = Sequence(700, 101);
    EXPECT_EQ(ring.Append(b.data(), 700), 176u);
    EXPECT_EQ(ring.filled(), 1024u);
    // The device's room caps a hand-over: 212 of 512 are free.
    EXPECT_EQ(ring.HandOver(600), 212u);
    std::vector<uint8_t> out(2000);
    ASSERT_EQ(ring.Consume(out.data(), 2000, false), 512u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 300, a.begin()));
    EXPECT_TRUE(std::equal(out.begin() + 300, out.begin() + 512, a.begin() + 476));
    EXPECT_EQ(ring.HandOver(2000), 512u);
    ASSERT_EQ(ring.Consume(out.data(), 2000, false), 512u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 112, a.begin() + 688));
    EXPECT_TRUE(std::equal(out.begin() + 112, out.begin() + 512, b.begin()));
    // Empty and the silence prime keep what the device was handed.
    EXPECT_EQ(ring.HandOver(100), 100u);
    ring.Empty();
    EXPECT_EQ(ring.filled(), 0u);
    ring.Append(b.data(), 40);
    ring.PrimeWithSilence(100);
    EXPECT_EQ(ring.handed(), 100u);
    EXPECT_EQ(ring.HandOver(1000), 100u);
    ASSERT_EQ(ring.Consume(out.data(), 2000, false), 200u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 100, b.begin() + 400));
    EXPECT_TRUE(
        std::all_of(out.begin() + 100, out.begin() + 160, [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(out.begin() + 160, out.begin() + 200, b.begin()));
    // Dropping the handed bytes leaves nothing to consume.
    ring.Append(a.data(), 64);
    ring.HandOver(64);
    ring.DropHanded();
    EXPECT_EQ(ring.Consume(out.data(), 64, false), 0u);
}

TEST(SoundRingHandOver, ConsumesAsEightBitAcrossTheEnd) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(256, 256));
    const std::vector<uint8_t> filler = Sequence(200);
    std::vector<uint8_t> out(256);
    for (int i = 0; i < 2; ++i) {
        ring.Append(filler.data(), 200);
        ring.HandOver(200);
        ASSERT_EQ(ring.Consume(out.data(), 200, false), 200u);
    }
    const uint8_t samples[] = {0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F};
    for (int i = 0; i < 42; ++i) ring.Append(samples, 6);  // wraps at 512
    ASSERT_EQ(ring.HandOver(360), 252u);
    ASSERT_EQ(ring.Consume(out.data(), 255, true), 252u);
    const uint8_t expected[] = {0x92, 0x00, 0xFF};
    for (int i = 0; i < 126; ++i) ASSERT_EQ(out[i], expected[i % 3]) << i;
}

// One thread appends and hands over under a lock, another consumes: every
// byte arrives once and in order.
TEST(SoundRingHandOver, AConsumerThreadGetsEveryByteInOrder) {
    SoundRing ring;
    ASSERT_TRUE(ring.Allocate(4096, 2048));
    constexpr uint32_t kTotal = 1 << 20;
    std::atomic<bool> stop{false};
    std::vector<uint8_t> got;
    std::thread consumer([&] {
        uint8_t buffer[700];
        while (!stop.load() || ring.handed() != 0) {
            const uint32_t n = ring.Consume(buffer, sizeof buffer, false);
            got.insert(got.end(), buffer, buffer + n);
        }
    });
    std::mutex lock;
    uint32_t sent = 0;
    while (sent < kTotal) {
        std::lock_guard<std::mutex> guard(lock);
        if (ring.free_bytes() >= 1000) {
            uint8_t part[1000];
            for (uint32_t i = 0; i < 1000; ++i) part[i] = static_cast<uint8_t>((sent + i) * 7);
            EXPECT_EQ(ring.Append(part, 1000), 0u);
            sent += 1000;
        }
        ring.HandOver(ring.filled());
    }
    while (ring.filled() != 0) ring.HandOver(ring.filled());
    stop.store(true);
    consumer.join();
    ASSERT_EQ(got.size(), sent);
    for (uint32_t i = 0; i < sent; ++i) ASSERT_EQ(got[i], static_cast<uint8_t>(i * 7)) << i;
}

TEST(SoundConversion, HighBytePlus128) {
    const uint8_t samples[] = {0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00};
    uint8_t out[4];
    ConvertSamplesTo8Bit(out, samples, 4);
    EXPECT_EQ(out[0], 0x92);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(out[3], 0x80);
}

TEST(SoundArithmetic, EndOfSoundFrameAndSilencePrime) {
    EXPECT_EQ(EndOfSoundFrame(100, 30, 1), 100 - 22);           // 90 / 4
    EXPECT_EQ(EndOfSoundFrame(10, 10000000, 333667), 10 - 22);  // short movies go negative
    EXPECT_EQ(SilencePrimeSize(22050, 1, 0, 1 << 20), 33072u);  // 33075 rounded down
    EXPECT_EQ(SilencePrimeSize(48000, 2, 0, 1 << 20), 144000u);
    EXPECT_EQ(SilencePrimeSize(48000, 2, 250, 1 << 20), 96000u);
    EXPECT_EQ(SilencePrimeSize(48000, 2, 0, 4096), 4096u);
}

TEST(SoundArithmetic, TotalSoundBytes) {
    const SoundMovieInfo movie{300, 30, 1};  // ten seconds
    EXPECT_EQ(TotalSoundBytes(movie, 22050, 8, 1), 220500u);
    EXPECT_EQ(TotalSoundBytes(movie, 48000, 16, 2), 1920000u);
    const SoundMovieInfo no_rate{300, 0, 1};
    EXPECT_EQ(TotalSoundBytes(no_rate, 48000, 16, 2), 192000u);
    const SoundMovieInfo ntsc{100, 10000000, 333667};
    // 100 x 333667 x 88200 / 10000000 = 294294.294
    EXPECT_EQ(TotalSoundBytes(ntsc, 44100, 16, 1), 294294u);
    const SoundMovieInfo huge{0xFFFFFFFFu, 1, 0xFFFFFFFFu};
    EXPECT_EQ(TotalSoundBytes(huge, 48000, 16, 2), 0xFFFFFFFFu);
}

// A device that takes chunks of a fixed size and records what it got, with
// its track.
class RecordingDriver {
  public:
    explicit RecordingDriver(uint32_t device_chunk) : buffer_(device_chunk) {
        track.back_end = &kTable;
        track.device = reinterpret_cast<SoundDevice*>(this);
        track.device_info.chunk_bytes = device_chunk;
    }
    ~RecordingDriver() { track.device = nullptr; }

    void MakeReady(int chunks) { ready_chunks_ = chunks; }
    SoundTrack track;
    SoundRing& ring = track.ring;
    std::vector<uint8_t> received;
    std::vector<uint32_t> commits;
    int flushes = 0;

  private:
    static RecordingDriver* Of(SoundDevice* d) { return reinterpret_cast<RecordingDriver*>(d); }
    static const SoundBackEnd kTable;

    std::vector<uint8_t> buffer_;
    int ready_chunks_ = 0;
};

const SoundBackEnd RecordingDriver::kTable = {
    "recording",
    0,
    nullptr,
    [](SoundDevice* d) { return Of(d)->ready_chunks_ > 0 ? 1 : 0; },
    [](SoundDevice* d, uint8_t** chunk, uint32_t* size) {
        *chunk = Of(d)->buffer_.data();
        *size = static_cast<uint32_t>(Of(d)->buffer_.size());
        return 1;
    },
    [](SoundDevice* d, uint32_t n) {
        RecordingDriver* r = Of(d);
        r->received.insert(r->received.end(), r->buffer_.begin(), r->buffer_.begin() + n);
        r->commits.push_back(n);
        --r->ready_chunks_;
        return 1;
    },
    [](SoundDevice*, uint32_t) {},
    [](SoundDevice*, uint32_t) {},
    [](SoundDevice*, int pause) { return pause != 0 ? 1 : 0; },
    [](SoundDevice*, int on) { return on != 0 ? 1 : 0; },
    [](SoundDevice*) {},
    nullptr,
    nullptr,
    [](SoundDevice*) { return 0u; },
    nullptr,
    [](SoundDevice* d) { ++Of(d)->flushes; },
};

TEST(SoundService, EightBitOutputHandsOverHighBytesPlus128) {
    RecordingDriver driver(1);
    driver.track.device_info.chunk_bytes = 2;
    driver.track.eight_bit_output = 1;
    driver.track.end_of_sound_frame = 10;
    ASSERT_TRUE(driver.ring.Allocate(256));
    const uint8_t samples[] = {0x34, 0x12, 0x00, 0x80};
    driver.ring.Append(samples, 4);
    driver.MakeReady(5);
    SoundTrack* tracks[] = {&driver.track};
    // Mid-movie: the ring holds 4 bytes, more than one chunk (2), so one
    // chunk goes out; then 2 are left, which is not more than one chunk.
    ServiceSoundTracks(tracks, 1, 3);
    ASSERT_EQ(driver.received.size(), 1u);
    EXPECT_EQ(driver.received[0], 0x92);
    // Past the end-of-sound frame the rest goes too.
    ServiceSoundTracks(tracks, 1, 11);
    ASSERT_EQ(driver.received.size(), 2u);
    EXPECT_EQ(driver.received[1], 0x00);
}

TEST(SoundService, MidMovieNeedsMoreThanOneChunkAfterTheEndEverything) {
    RecordingDriver driver(1000);
    driver.track.end_of_sound_frame = 50;
    ASSERT_TRUE(driver.ring.Allocate(8192));
    const std::vector<uint8_t> pcm = Sequence(1000);
    driver.ring.Append(pcm.data(), 1000);
    driver.MakeReady(10);
    SoundTrack* tracks[] = {&driver.track};
    ServiceSoundTracks(tracks, 1, 50);  // not past the end-of-sound frame
    EXPECT_TRUE(driver.received.empty());
    ServiceSoundTracks(tracks, 1, 51);
    EXPECT_EQ(driver.received, pcm);
    EXPECT_EQ(driver.ring.filled(), 0u);
    // One byte more than a chunk is enough mid-movie: one chunk goes out.
    driver.received.clear();
    driver.ring.Append(pcm.data(), 1000);
    driver.ring.Append(pcm.data(), 1);
    driver.MakeReady(10);
    ServiceSoundTracks(tracks, 1, 50);
    EXPECT_EQ(driver.received.size(), 1000u);
    EXPECT_EQ(driver.ring.filled(), 1u);
}

TEST(SoundService, TheLastFrameFlushesTheDeviceOnceTheRingIsEmpty) {
    RecordingDriver driver(1000);
    driver.track.end_of_sound_frame = 8;
    driver.track.last_frame = 10;
    ASSERT_TRUE(driver.ring.Allocate(8192));
    const std::vector<uint8_t> pcm = Sequence(1500);
    driver.ring.Append(pcm.data(), 1500);
    driver.MakeReady(10);
    SoundTrack* tracks[] = {&driver.track};
    ServiceSoundTracks(tracks, 1, 9);  // draining, but not the last frame
    EXPECT_EQ(driver.ring.filled(), 0u);
    EXPECT_EQ(driver.flushes, 0);
    driver.ring.Append(pcm.data(), 1500);
    driver.MakeReady(1);  // the device takes one chunk: 500 bytes stay
    ServiceSoundTracks(tracks, 1, 10);
    EXPECT_EQ(driver.ring.filled(), 500u);
    EXPECT_EQ(driver.flushes, 0);
    driver.MakeReady(1);
    ServiceSoundTracks(tracks, 1, 10);
    EXPECT_EQ(driver.flushes, 1);
    ServiceSoundTracks(tracks, 1, 10);  // said again while nothing comes
    EXPECT_EQ(driver.flushes, 2);
    driver.track.last_frame = 0;  // unknown: never
    ServiceSoundTracks(tracks, 1, 10);
    EXPECT_EQ(driver.flushes, 2);
}

TEST(SoundService, WholeChunksAndTheAlignmentMask) {
    RecordingDriver driver(1000);
    driver.track.end_of_sound_frame = 50;
    driver.track.alignment_mask = ~0xFFu;  // hand over multiples of 256 only
    ASSERT_TRUE(driver.ring.Allocate(8192));
    const std::vector<uint8_t> pcm = Sequence(2500);
    driver.ring.Append(pcm.data(), 2500);
    driver.MakeReady(10);
    SoundTrack* tracks[] = {&driver.track};
    ServiceSoundTracks(tracks, 1, 5);
    // 1000 & ~255 = 768 twice (2500 -> 1732 -> 964, which is <= one chunk).
    EXPECT_EQ(driver.commits, (std::vector<uint32_t>{768, 768}));
    EXPECT_EQ(driver.ring.filled(), 964u);
    EXPECT_TRUE(std::equal(driver.received.begin(), driver.received.end(), pcm.begin()));
    // Past the end the mask no longer applies.
    ServiceSoundTracks(tracks, 1, 51);
    EXPECT_EQ(driver.commits.back(), 964u);
}

TEST(SoundService, StopsWhenNotReadyAndSkipsMissingTracks) {
    RecordingDriver first(100), second(100);
    for (RecordingDriver* d : {&first, &second}) {
        d->track.end_of_sound_frame = 100;
        ASSERT_TRUE(d->ring.Allocate(4096));
        const std::vector<uint8_t> pcm = Sequence(1000);
        d->ring.Append(pcm.data(), 1000);
    }
    first.MakeReady(2);
    second.MakeReady(0);
    SoundTrack closed;  // a track whose device is not open is passed over too
    SoundTrack* tracks[] = {&first.track, nullptr, &closed, &second.track};
    ServiceSoundTracks(tracks, 4, 1);
    EXPECT_EQ(first.commits.size(), 2u);
    EXPECT_TRUE(second.commits.empty());
    EXPECT_EQ(second.ring.filled(), 1000u);
}

TEST(SoundService, TriesTheLockAndRefusesWithoutALastTrack) {
    RecordingDriver driver(100);
    driver.track.end_of_sound_frame = 100;
    ASSERT_TRUE(driver.ring.Allocate(4096));
    const std::vector<uint8_t> pcm = Sequence(1000);
    driver.ring.Append(pcm.data(), 1000);
    driver.MakeReady(100);
    platform::Mutex* lock = platform::NewMutex();
    SoundTrack closed;
    SoundTrack* tracks[] = {&driver.track};
    SoundTrack* no_last[] = {&driver.track, nullptr};
    SoundTrack* closed_last[] = {&driver.track, &closed};
    EXPECT_FALSE(ServiceSound(lock, no_last, 2, 1));
    EXPECT_FALSE(ServiceSound(lock, closed_last, 2, 1));
    EXPECT_TRUE(driver.commits.empty());
    EXPECT_TRUE(ServiceSound(lock, tracks, 1, 1));
    EXPECT_EQ(driver.commits.size(), 9u);  // 1000 -> 100 left, not more than a chunk
    platform::DestroyMutex(lock);
}

TEST(SoundDriverCount, CountsOpenTrackDevicesOnly) {
    const uint32_t before = OpenSoundDriverCount();
    const SoundMovieInfo movie{300, 30, 1};
    SoundTrack a, b;
    ASSERT_TRUE(OpenSoundTrackDevice(&a, GetNullSoundOpener(nullptr), 22050, 16, 1, 0, movie));
    EXPECT_FALSE(OpenSoundTrackDevice(&a, GetNullSoundOpener(nullptr), 22050, 16, 1, 0, movie));
    EXPECT_FALSE(OpenSoundTrackDevice(&b, GetNullSoundOpener(nullptr), 22050, 12, 1, 0, movie));
    EXPECT_EQ(OpenSoundDriverCount(), before + 1);
    ASSERT_TRUE(OpenSoundTrackDevice(&b, GetNullSoundOpener(nullptr), 22050, 8, 2, 0, movie));
    EXPECT_EQ(b.eight_bit_output, 1u);
    EXPECT_EQ(b.clock_ratio, 0x10000u);
    EXPECT_EQ(OpenSoundDriverCount(), before + 2);
    CloseSoundTrackDevice(&a);
    CloseSoundTrackDevice(&a);  // a second close changes nothing
    EXPECT_EQ(a.device, nullptr);
    EXPECT_EQ(OpenSoundDriverCount(), before + 1);
    CloseSoundTrackDevice(&b);
    EXPECT_EQ(OpenSoundDriverCount(), before);
}

}  // namespace
}  // namespace vemo

namespace vemo {
namespace {

// Random appends, takes, 8-bit takes, primes and empties against a plain
// model of the ring (a byte queue that loses its oldest bytes).
TEST(SoundRing, AgreesWithAModelOverRandomOperations) {
    SoundRing ring;
    const uint32_t size = 1024;
    ASSERT_TRUE(ring.Allocate(size));
    std::deque<uint8_t> model;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1664525 + 1013904223;
        return (seed >> 8) % bound;
    };
    uint8_t counter = 0;
    for (int step = 0; step < 20000; ++step) {
        const uint32_t op = next(10);
        if (op < 4) {
            const uint32_t n = 2 * next(700);
            std::vector<uint8_t> bytes(n);
            for (uint8_t& b : bytes) b = ++counter;
            ring.Append(bytes.data(), n);
            model.insert(model.end(), bytes.begin(), bytes.end());
            while (model.size() > size) model.pop_front();
        } else if (op < 7) {
            const uint32_t n = 2 * next(400);
            std::vector<uint8_t> out(n);
            const uint32_t got = ring.Take(out.data(), n);
            ASSERT_EQ(got, std::min<size_t>(n, model.size()));
            for (uint32_t i = 0; i < got; ++i) {
                ASSERT_EQ(out[i], model.front()) << "step " << step;
                model.pop_front();
            }
        } else if (op < 9) {
            const uint32_t n = 2 * next(400);
            std::vector<uint8_t> out(n / 2);
            const uint32_t got = ring.TakeAs8Bit(out.data(), n);
            ASSERT_EQ(got, std::min<size_t>(n, model.size()) & ~size_t{1});
            for (uint32_t i = 0; i < got / 2; ++i) {
                model.pop_front();
                ASSERT_EQ(out[i], static_cast<uint8_t>(model.front() + 128)) << "step " << step;
                model.pop_front();
            }
        } else if (next(4) == 0) {
            ring.Empty();
            model.clear();
        } else {
            const uint32_t n = 2 * next(600);
            ring.PrimeWithSilence(n);
            while (model.size() < std::min(n, size)) model.push_front(0);
        }
        ASSERT_EQ(ring.filled(), model.size()) << "step " << step;
    }
}

}  // namespace
}  // namespace vemo
