// File input: direct reads, the read-ahead ring, skipping and seeking, the
// full level, short files, the simulated rate and the statistics.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"
#include "vemo/movie_io.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo {
namespace {

constexpr uint32_t kChunk = kInputChunk;

// Movie bytes that differ at every offset within a few megabytes.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 7) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>((x >> 16) ^ (i >> 8));
    }
    return bytes;
}

// Lock operations that count how often they run.
struct CountingLock {
    int locks = 0;
    int tries = 0;
    int unlocks = 0;
    int yields = 0;
    int depth = 0;
    bool busy = false;  // the try-lock fails while set
    InputLock Operations() {
        InputLock l;
        l.lock = [](void* c) {
            auto* self = static_cast<CountingLock*>(c);
            ++self->locks;
            ++self->depth;
        };
        l.try_lock = [](void* c) {
            auto* self = static_cast<CountingLock*>(c);
            ++self->tries;
            if (self->busy) return false;
            ++self->depth;
            return true;
        };
        l.unlock = [](void* c) {
            auto* self = static_cast<CountingLock*>(c);
            ++self->unlocks;
            --self->depth;
        };
        l.yield = [](void* c) { ++static_cast<CountingLock*>(c)->yields; };
        l.context = this;
        return l;
    }
};

// A memory movie with a ring of the given number of chunks.
struct RingInput {
    std::vector<uint8_t> movie;
    std::vector<uint8_t> ring;
    MovieIOPtr io;
    CountingLock lock;
    RingInput(size_t movie_size, uint32_t ring_chunks, uint32_t limit = 0)
        : movie(Pattern(movie_size)) {
        io = OpenMemoryInput(movie.data(), movie.size());
        io->SetInputLock(lock.Operations());
        ring.resize(static_cast<size_t>(ring_chunks) * kChunk);
        io->SetBuffer(ring.empty() ? nullptr : ring.data(), static_cast<uint32_t>(ring.size()),
                      limit ? limit : static_cast<uint32_t>(movie.size()), 0);
    }
    // Reads count bytes at offset and checks them against the movie.
    void Expect(uint32_t offset, uint32_t count, uint32_t seek = kCurrentPosition) {
        std::vector<uint8_t> got(count);
        ASSERT_EQ(io->ReadFrame(0, seek, got.data(), count), count) << "at " << offset;
        ASSERT_EQ(0, std::memcmp(got.data(), movie.data() + offset, count)) << "at " << offset;
    }
    void FillRing() {
        while (io->ServiceInput() > 0) {
        }
    }
};

TEST(FileInput, BufferSizeRoundsUpToWholeChunks) {
    std::vector<uint8_t> none;
    auto io = OpenMemoryInput(none.data(), 0);
    ASSERT_TRUE(io);
    EXPECT_EQ(io->GetBufferSize(0), 0u);
    EXPECT_EQ(io->GetBufferSize(1), 65536u);
    EXPECT_EQ(io->GetBufferSize(65536), 65536u);
    EXPECT_EQ(io->GetBufferSize(65537), 131072u);
    // No wrap to a tiny ring for absurd requests.
    EXPECT_EQ(io->GetBufferSize(0xFFFFFFFFu), 0xFFFF0000u);
    EXPECT_EQ(io->GetBufferSize(0xFFFF0001u), 0xFFFF0000u);
}

TEST(FileInput, SetBufferCutsTheRingToWholeChunks) {
    std::vector<uint8_t> movie = Pattern(300000), ring(3 * kChunk - 1);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    io->SetInputLock(SingleThreadInputLock());
    EXPECT_EQ(io->SetBuffer(ring.data(), static_cast<uint32_t>(ring.size()), 300000, 0),
              2 * kChunk);
    EXPECT_EQ(io->BufferSize(), 2 * kChunk);
    EXPECT_EQ(io->FreeSpace(), 2 * kChunk);
    // Below one chunk there is no ring: nothing is read ahead, reads are direct.
    EXPECT_EQ(io->SetBuffer(ring.data(), kChunk - 1, 300000, 0), 0u);
    EXPECT_EQ(io->ServiceInput(), 0);
    std::vector<uint8_t> got(1000);
    ASSERT_EQ(io->ReadFrame(0, 5000, got.data(), 1000), 1000u);
    EXPECT_EQ(0, std::memcmp(got.data(), movie.data() + 5000, 1000));
}

TEST(FileInput, DirectReadsAtOffsetsAndShortReads) {
    std::vector<uint8_t> movie = Pattern(1000);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    uint8_t got[100];
    ASSERT_EQ(io->ReadDirect(0, got, 44), 44u);
    EXPECT_EQ(0, std::memcmp(got, movie.data(), 44));
    ASSERT_EQ(io->ReadDirect(kCurrentPosition, got, 10), 10u);  // continues at 44
    EXPECT_EQ(0, std::memcmp(got, movie.data() + 44, 10));
    ASSERT_EQ(io->ReadDirect(500, got, 100), 100u);
    EXPECT_EQ(0, std::memcmp(got, movie.data() + 500, 100));
    EXPECT_EQ(io->FilePosition(), 600u);
    EXPECT_EQ(io->ConsumerPosition(), 600u);
    EXPECT_FALSE(io->ReadFailed());
    // Past the end: short, and read failed is set.
    EXPECT_EQ(io->ReadDirect(950, got, 100), 50u);
    EXPECT_TRUE(io->ReadFailed());
    EXPECT_EQ(io->ReadFrame(0, 0, got, 10), 0u);
    // Direct reads are not counted as movie bytes read.
    EXPECT_EQ(io->Statistics().bytes_read, 0u);
}

TEST(FileInput, ReadAheadWithWrapAroundDeliversTheMovie) {
    // Odd frame sizes over a 3-chunk ring make the consumer wrap at every
    // position; the reader tops the ring up between frames.
    RingInput in(2000000, 3);
    in.FillRing();
    EXPECT_EQ(in.io->Fill(), 3 * kChunk);
    EXPECT_EQ(in.io->Statistics().highest_fill, 3 * kChunk);
    uint32_t offset = 0;
    const uint32_t sizes[] = {10007, 1, 65536, 40000, 3, 77777, 12345};
    int i = 0;
    int direct_reads_before = in.lock.locks;
    while (offset < in.movie.size()) {
        uint32_t n =
            std::min<uint32_t>(sizes[i++ % 7], static_cast<uint32_t>(in.movie.size()) - offset);
        in.Expect(offset, n);
        offset += n;
        EXPECT_EQ(in.io->Fill() + in.io->FreeSpace(), in.io->BufferSize());
        EXPECT_EQ(in.io->ConsumerPosition() + in.io->Fill(), in.io->FilePosition());
        in.io->ServiceInput();
    }
    EXPECT_FALSE(in.io->ReadFailed());
    EXPECT_EQ(in.lock.depth, 0);
    // Every byte came from the source exactly once.
    EXPECT_EQ(in.io->Statistics().bytes_read, in.movie.size());
    EXPECT_GT(in.lock.locks, direct_reads_before);  // the tail was read directly
}

TEST(FileInput, NextBytesFromTheRingTakeNoLock) {
    RingInput in(500000, 2);
    in.FillRing();
    in.Expect(0, 100, 0);  // offset 0 = consumer position: still no lock
    const int locks = in.lock.locks;
    in.Expect(100, 5000);
    in.Expect(5100, 20000, 5100);
    EXPECT_EQ(in.lock.locks, locks);
    EXPECT_EQ(in.io->Statistics().bytes_read, 2 * kChunk);
}

TEST(FileInput, SkipForwardInsideTheRingDoesNotTouchTheFile) {
    RingInput in(1000000, 2);
    in.FillRing();
    in.Expect(0, 1000);
    const uint32_t read = in.io->Statistics().bytes_read;
    const uint32_t file = in.io->FilePosition();
    // Skip to just before the end of the read-ahead data, across the ring end.
    in.Expect(2 * kChunk - 10, 10, 2 * kChunk - 10);
    EXPECT_EQ(in.io->Statistics().bytes_read, read);
    EXPECT_EQ(in.io->FilePosition(), file);
    EXPECT_EQ(in.io->Fill(), 0u);
    // The ring then continues from the skipped-to position after a wrap.
    in.io->ServiceInput();
    in.Expect(2 * kChunk, 30000);
    in.io->ServiceInput();
    in.Expect(2 * kChunk + 30000, 10000, 2 * kChunk + 30000);
    in.Expect(2 * kChunk + 70000, 60000, 2 * kChunk + 70000);  // skip again, wrapping
    EXPECT_EQ(in.io->Statistics().bytes_read, 4 * kChunk);
}

TEST(FileInput, SeekBackwardsOrBeyondEmptiesTheRing) {
    RingInput in(1000000, 2);
    in.FillRing();
    in.Expect(0, 70000);
    // Backwards: the ring is emptied and the file re-read from there.
    in.Expect(100, 500, 100);
    EXPECT_EQ(in.io->Fill(), 0u);
    EXPECT_EQ(in.io->FilePosition(), 600u);
    in.FillRing();
    in.Expect(600, 70000);
    // Beyond the read-ahead data.
    in.Expect(900000, 1000, 900000);
    EXPECT_EQ(in.io->Fill(), 0u);
    EXPECT_EQ(in.io->FilePosition(), 901000u);
    in.io->ServiceInput();
    in.Expect(901000, 65536);
    EXPECT_EQ(in.lock.depth, 0);
}

TEST(FileInput, ReadAheadOnlyWholeChunksOfTheMovie) {
    {
        // 70000 bytes of movie left and 65536 free: one chunk.
        RingInput in(70000, 1);
        EXPECT_EQ(in.io->ServiceInput(), 65536);
        EXPECT_EQ(in.io->ServiceInput(), 0);  // no room
        EXPECT_EQ(in.io->FullLevel(), in.io->Fill());
        in.Expect(0, 70000);  // the last partial chunk is read directly
        EXPECT_EQ(in.io->Statistics().bytes_read, 70000u);
    }
    {
        // 60000 left: nothing is read and the full level becomes the fill.
        RingInput in(200000, 4, 60000);
        std::vector<uint8_t> got(5);
        ASSERT_EQ(in.io->ReadFrame(0, 0, got.data(), 5), 5u);
        EXPECT_EQ(in.io->ServiceInput(), 0);
        EXPECT_EQ(in.io->Fill(), 0u);
        EXPECT_EQ(in.io->FullLevel(), 0u);
    }
}

TEST(FileInput, FullLevelFollowsTheConsumer) {
    RingInput in(10 * kChunk, 4);
    in.Expect(0, 100, 0);  // direct: ring empty
    // min(movie left, ring size)
    EXPECT_EQ(in.io->FullLevel(), 4 * kChunk);
    in.FillRing();
    in.Expect(100, 100);
    // The ring cannot take another chunk: full level = fill.
    EXPECT_EQ(in.io->FullLevel(), in.io->Fill());
    // Near the end of the movie the movie left bounds it.
    in.Expect(10 * kChunk - 1000, 10, 10 * kChunk - 1000);
    EXPECT_EQ(in.io->FullLevel(), 0u);  // fill 0 + 65536 > 990
    // A consumer past the movie limit gives no wrap-around.
    RingInput past(300000, 2, 100000);
    std::vector<uint8_t> got(10);
    ASSERT_EQ(past.io->ReadFrame(0, 200000, got.data(), 10), 10u);
    EXPECT_EQ(past.io->FullLevel(), 0u);
    EXPECT_EQ(past.io->ServiceInput(), 0);
}

TEST(FileInput, ShortMovieSetsReadFailedForGood) {
    // The movie claims more bytes than the source holds.
    RingInput in(100000, 2, 300000);
    EXPECT_EQ(in.io->ServiceInput(), 65536);
    EXPECT_EQ(in.io->ServiceInput(), 100000 - 65536);  // short chunk
    EXPECT_TRUE(in.io->ReadFailed());
    EXPECT_EQ(in.io->ServiceInput(), 0);
    EXPECT_EQ(in.io->FullLevel(), in.io->Fill());  // a failed input stops being urgent
    // What was read before the failure is still handed out; no more.
    std::vector<uint8_t> got(100001);
    EXPECT_EQ(in.io->ReadFrame(0, 0, got.data(), 100001), 100000u);
    EXPECT_EQ(0, std::memcmp(got.data(), in.movie.data(), 100000));
    EXPECT_EQ(in.io->ReadFrame(0, kCurrentPosition, got.data(), 10), 0u);

    // A frame read running past the end delivers what there is.
    RingInput frame(1000, 0, 5000);
    std::vector<uint8_t> big(2000);
    EXPECT_EQ(frame.io->ReadFrame(0, 500, big.data(), 2000), 500u);
    EXPECT_EQ(0, std::memcmp(big.data(), frame.movie.data() + 500, 500));
    EXPECT_TRUE(frame.io->ReadFailed());
    EXPECT_EQ(frame.io->ReadFrame(0, 0, big.data(), 10), 0u);
}

TEST(FileInput, LockBusyOrAbsent) {
    RingInput in(300000, 2);
    in.lock.busy = true;
    EXPECT_EQ(in.io->ServiceInput(), -1);
    EXPECT_EQ(in.lock.yields, 1);
    EXPECT_EQ(in.io->Fill(), 0u);
    in.lock.busy = false;
    EXPECT_EQ(in.io->ServiceInput(), 65536);

    // Without lock operations nothing is read ahead; reads are direct.
    std::vector<uint8_t> movie = Pattern(200000), ring(2 * kChunk), got(150000);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    io->SetBuffer(ring.data(), 2 * kChunk, 200000, 0);
    EXPECT_EQ(io->ServiceInput(), -1);
    ASSERT_EQ(io->ReadFrame(0, 1000, got.data(), 150000), 150000u);
    EXPECT_EQ(0, std::memcmp(got.data(), movie.data() + 1000, 150000));
}

TEST(FileInput, SuspendStopsReadingAhead) {
    RingInput in(500000, 4);
    EXPECT_EQ(in.io->SuspendInput(kSuspendReading | kSuspendAndSync), 1u);
    EXPECT_EQ(in.lock.locks, 2);  // SetBuffer, then the wait for a chunk in progress
    EXPECT_EQ(in.io->ServiceInput(), 0);
    EXPECT_EQ(in.io->Fill(), 0u);
    EXPECT_EQ(in.io->SuspendInput(kResumeReading), 0u);
    EXPECT_EQ(in.io->Fill(), 0u);
    in.io->SuspendInput(kSuspendReading);
    EXPECT_EQ(in.io->SuspendInput(kResumeReading | kSuspendAndSync), 0u);
    EXPECT_EQ(in.io->Fill(), kChunk);  // one chunk read at once
}

TEST(FileInput, DirectReadAfterReadAheadKeepsPositionsTogether) {
    RingInput in(500000, 2);
    in.FillRing();
    uint8_t got[44];
    ASSERT_EQ(in.io->ReadDirect(300000, got, 44), 44u);
    EXPECT_EQ(0, std::memcmp(got, in.movie.data() + 300000, 44));
    EXPECT_EQ(in.io->Fill(), 0u);
    in.Expect(300044, 1000);
    in.io->ServiceInput();
    in.Expect(301044, 1000);
}

TEST(FileInput, PreloadReadsEverythingThenCloses) {
    std::vector<uint8_t> movie = Pattern(123457), whole(123457 - 8020);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    io->SetInputLock(SingleThreadInputLock());
    io->SetBuffer(nullptr, 0, static_cast<uint32_t>(movie.size()), 0);
    ASSERT_EQ(io->ReadFrame(0, 8020, whole.data(), static_cast<uint32_t>(whole.size())),
              whole.size());
    EXPECT_EQ(0, std::memcmp(whole.data(), movie.data() + 8020, whole.size()));
    io->CloseInput();
    io->CloseInput();  // twice is harmless
    EXPECT_EQ(io->ServiceInput(), 0);
}

TEST(FileInput, FilesByNameAndByHandle) {
    const std::string path = test::TempPath("input-bundle.bin");
    const std::string dir = path.substr(0, path.find_last_of("/\\"));
    EXPECT_FALSE(OpenFileInputByName(test::TempPath("input-missing.vem").c_str()));
    EXPECT_FALSE(OpenFileInputByName(""));
    EXPECT_FALSE(OpenFileInputByName(nullptr));
    EXPECT_FALSE(OpenFileInputByName(dir.c_str()));  // a directory

    // A movie embedded at offset 5000 of a larger file.
    std::vector<uint8_t> file = Pattern(400000, 99);
    ASSERT_TRUE(test::WriteWholeFile(path, file));

    auto by_name = OpenFileInput(path.c_str(), 0);
    ASSERT_TRUE(by_name);
    uint8_t got[64];
    ASSERT_EQ(by_name->ReadDirect(7, got, 64), 64u);
    EXPECT_EQ(0, std::memcmp(got, file.data() + 7, 64));
    by_name->CloseInput();

    platform::File handle = platform::OpenFileForReading(path.c_str());
    ASSERT_TRUE(handle.valid());
    ASSERT_TRUE(platform::SeekFile(handle, 5000));
    auto io = OpenFileInput(&handle.value, kOpenFromHandle);
    ASSERT_TRUE(io);
    io->SetInputLock(SingleThreadInputLock());
    ASSERT_EQ(io->ReadDirect(0, got, 44), 44u);
    EXPECT_EQ(0, std::memcmp(got, file.data() + 5000, 44));  // movie offset 0 = file offset 5000
    std::vector<uint8_t> ring(2 * kChunk), frame(3000);
    io->SetBuffer(ring.data(), 2 * kChunk, 395000, 0);
    while (io->ServiceInput() > 0) {
    }
    ASSERT_EQ(io->ReadFrame(0, 100000, frame.data(), 3000), 3000u);  // a seek
    EXPECT_EQ(0, std::memcmp(frame.data(), file.data() + 105000, 3000));
    ASSERT_EQ(io->ReadFrame(0, 394000, frame.data(), 3000), 1000u);  // past the movie: short
    io->CloseInput();
    // The given handle stays open.
    ASSERT_TRUE(platform::SeekFile(handle, 0));
    EXPECT_EQ(platform::ReadFile(handle, got, 4), 4u);
    platform::CloseFile(handle);
}

// The simulated-rate wait advances the test clock by 1 ms per yield.
void AdvanceOneMs() {
    AdvanceTestClock(1);
}

TEST(FileInput, SimulatedRateOnTheTestClock) {
    UseTestClock(true, 1000);
    SetRateWaitYieldForTesting(AdvanceOneMs);
    std::vector<uint8_t> movie = Pattern(600000), ring(4 * kChunk);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    io->SetInputLock(SingleThreadInputLock());
    io->SetBuffer(ring.data(), 4 * kChunk, 600000, 100000);
    // 65536 bytes at 100000 B/s: 655 ms.
    EXPECT_EQ(io->ServiceInput(), 65536);
    EXPECT_EQ(Milliseconds(), 1000u + 655u);
    EXPECT_EQ(io->Statistics().read_time, 655u);
    EXPECT_EQ(io->Statistics().idle_service_time, 655u);
    // With the core busy the same read counts as busy service time.
    io->SetCoreBusy(true);
    EXPECT_EQ(io->ServiceInput(), 65536);
    EXPECT_EQ(io->Statistics().busy_service_time, 655u);
    EXPECT_EQ(io->Statistics().idle_service_time, 655u);
    io->SetCoreBusy(false);
    // Direct frame reads keep to the rate too: 6553 bytes -> 65 ms.
    const uint32_t before = Milliseconds();
    std::vector<uint8_t> got(6553);
    ASSERT_EQ(io->ReadFrame(0, 500000, got.data(), 6553), 6553u);
    EXPECT_EQ(Milliseconds() - before, 65u);
    EXPECT_EQ(io->Statistics().frame_read_time, 65u);
    SetRateWaitYieldForTesting(nullptr);
    UseTestClock(false);
}

std::atomic<uint32_t> g_step{1};
void AdvanceStep() {
    AdvanceTestClock(g_step.load());
}

TEST(FileInput, SimulatedRateOvershootShortensTheNextWait) {
    // A coarse clock: every yield lets 300 ms pass, so waits overshoot.
    UseTestClock(true, 0);
    g_step = 300;
    SetRateWaitYieldForTesting(AdvanceStep);
    std::vector<uint8_t> movie = Pattern(300000), ring(4 * kChunk);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    io->SetInputLock(SingleThreadInputLock());
    io->SetBuffer(ring.data(), 4 * kChunk, 300000, 100000);
    EXPECT_EQ(io->ServiceInput(), 65536);
    EXPECT_EQ(Milliseconds(), 900u);  // 655 owed, 245 overshoot
    EXPECT_EQ(io->ServiceInput(), 65536);
    EXPECT_EQ(Milliseconds(), 1500u);  // 655 - 245 = 410 owed: two steps
    EXPECT_EQ(io->ServiceInput(), 65536);
    EXPECT_EQ(Milliseconds(), 2100u);  // 655 - 190 = 465 owed: two steps
    EXPECT_EQ(io->Statistics().read_time, 2100u);
    SetRateWaitYieldForTesting(nullptr);
    UseTestClock(false);
}

TEST(FileInput, SimulatedRateTakesRealTime) {
    std::vector<uint8_t> movie = Pattern(200000), ring(2 * kChunk);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    io->SetInputLock(SingleThreadInputLock());
    io->SetBuffer(ring.data(), 2 * kChunk, 200000, 100000);
    const uint32_t start = Milliseconds();
    EXPECT_EQ(io->ServiceInput(), 65536);
    EXPECT_GE(Milliseconds() - start, 655u);
}

}  // namespace
}  // namespace vemo
