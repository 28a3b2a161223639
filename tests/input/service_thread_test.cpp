// Service threads with real threads: start and stop, registration into a
// running thread, the urgency order of a sweep, pause and resume, clients
// whose lock is busy or whose service takes long, thread start failure, and
// the background reader feeding a movie input.
//
// Tests wait on conditions (with a generous limit), never on how long
// something took, so a loaded machine only makes them slower.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "vemo/movie_io.h"
#include "vemo/platform.h"
#include "vemo/service_thread.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace vemo {
namespace {

// Polls until the condition holds; false after about 20 seconds.
template <typename Condition>
bool WaitFor(Condition condition) {
    for (int i = 0; i < 20000; ++i) {
        if (condition()) return true;
        platform::SleepMilliseconds(1);
    }
    return condition();
}

// A client whose urgency is fixed until it was served in the current sweep;
// it records the order in which clients were served.
struct Recorder {
    std::mutex mutex;
    std::vector<std::pair<uint32_t, int>> served;  // (sweep, client id)
    void Add(uint32_t sweep, int id) {
        std::lock_guard<std::mutex> guard(mutex);
        served.emplace_back(sweep, id);
    }
    std::vector<std::pair<uint32_t, int>> Copy() {
        std::lock_guard<std::mutex> guard(mutex);
        return served;
    }
};

struct TestClient {
    ServiceClient client;
    int id = 0;
    uint32_t fixed_urgency = 1;
    Recorder* recorder = nullptr;
    std::atomic<uint32_t> services{0};
    std::atomic<uint32_t> hold_ms{0};  // a long service
    std::atomic<bool> always{false};   // urgent even when served in this sweep
    TestClient(int client_id, uint32_t urgency, Recorder* r)
        : id(client_id), fixed_urgency(urgency), recorder(r) {
        client.owner = this;
        client.urgency_operation = [](ServiceClient* c, uint32_t sweep) -> uint32_t {
            auto* self = static_cast<TestClient*>(c->owner);
            if (self->always.load()) return self->fixed_urgency;
            return c->last_served_sweep.load() == sweep ? 0 : self->fixed_urgency;
        };
        client.service_operation = [](ServiceClient* c, uint32_t sweep) {
            auto* self = static_cast<TestClient*>(c->owner);
            if (self->recorder) self->recorder->Add(sweep, self->id);
            if (uint32_t ms = self->hold_ms.load()) platform::SleepMilliseconds(ms);
            c->last_served_sweep.store(sweep);
            self->services.fetch_add(1);
        };
    }
};

TEST(ServiceThread, PeriodsAndRefusedRate) {
    ServiceThread* reader = StartServiceThread(kBackgroundReaderRate);
    ServiceThread* sound = StartServiceThread(kSoundServiceRate);
    ASSERT_TRUE(reader && sound);
    EXPECT_EQ(reader->period, 12u);
    EXPECT_EQ(sound->period, 76u);
    EXPECT_EQ(reader->state.load(), kServiceCreated);
    EXPECT_EQ(reader->sweep.load(), 1u);
    EXPECT_EQ(StartServiceThread(0), nullptr);
    // Never-started threads stop cleanly, together.
    StopServiceThreads(reader, sound);
}

TEST(ServiceThread, StartAndStopManyTimes) {
    const uint32_t holds = platform::TimerResolution1msHolds();
    ServiceThread* thread = nullptr;
    for (int cycle = 0; cycle < 40; ++cycle) {
        TestClient a(1, 5, nullptr), b(2, 5, nullptr);
        ASSERT_TRUE(RegisterServiceClient(&thread, 1000, &a.client));
        ASSERT_TRUE(thread);
        EXPECT_EQ(platform::TimerResolution1msHolds(), holds + 1);
        ASSERT_TRUE(RegisterServiceClient(&thread, 1000, &b.client));
        EXPECT_EQ(thread->client_count.load(), 2u);
        if (cycle % 4 == 0) {
            ASSERT_TRUE(WaitFor([&] { return a.services > 0 && b.services > 0; }));
        }
        if (cycle % 3 == 0) {
            PauseServiceThreads(thread);
            ResumeServiceThread(thread);
        }
        EXPECT_FALSE(RemoveServiceClient(&thread, &a.client, true));
        EXPECT_EQ(a.client.lock, nullptr);
        EXPECT_TRUE(thread);
        EXPECT_TRUE(RemoveServiceClient(&thread, &b.client, true));
        EXPECT_EQ(thread, nullptr);
        EXPECT_EQ(platform::TimerResolution1msHolds(), holds);
    }
}

TEST(ServiceThread, RegisteringIntoARunningThreadDoesNotPauseIt) {
    ServiceThread* thread = nullptr;
    TestClient a(1, 5, nullptr), b(2, 5, nullptr);
    ASSERT_TRUE(RegisterServiceClient(&thread, 200, &a.client));
    ASSERT_TRUE(WaitFor([&] { return a.services >= 2; }));
    ASSERT_TRUE(RegisterServiceClient(&thread, 200, &b.client));
    EXPECT_EQ(thread->state.load(), kServiceRunning);
    EXPECT_EQ(thread->clients.load(), &b.client);  // newest first
    EXPECT_EQ(b.client.next.load(), &a.client);
    EXPECT_TRUE(b.client.lock != nullptr);
    EXPECT_TRUE(WaitFor([&] { return b.services >= 2; }));
    // Registering twice does not link the client twice.
    ASSERT_TRUE(RegisterServiceClient(&thread, 200, &b.client));
    EXPECT_EQ(thread->client_count.load(), 2u);
    RemoveServiceClient(&thread, &a.client, true);
    EXPECT_TRUE(RemoveServiceClient(&thread, &b.client, true));
}

TEST(ServiceThread, SweepServesByUrgencyLargestFirst) {
    Recorder recorder;
    ServiceThread* thread = StartServiceThread(500);
    ASSERT_TRUE(thread);
    TestClient low(1, 10, &recorder), high(2, 0xFFFFFFF0u, &recorder),
        mid(3, 0x80000000u, &recorder), tie_old(4, 10, &recorder);
    // Register while never started, so every sweep sees all four.
    for (TestClient* c : {&low, &tie_old, &high, &mid}) {
        ASSERT_TRUE(RegisterServiceClient(&thread, 500, &c->client));
    }
    ResumeServiceThread(thread);
    ASSERT_TRUE(WaitFor([&] { return low.services >= 3; }));
    PauseServiceThreads(thread);
    auto served = recorder.Copy();
    ResumeServiceThread(thread);
    // Every complete sweep serves each client once: high, mid, then of the
    // two equal ones the one later in list order (registered earlier) first.
    std::vector<std::vector<int>> sweeps;
    uint32_t current = 0;
    for (auto& [sweep, id] : served) {
        if (sweep != current) sweeps.emplace_back();
        current = sweep;
        sweeps.back().push_back(id);
    }
    ASSERT_GE(sweeps.size(), 2u);
    for (size_t i = 0; i + 1 < sweeps.size(); ++i) {
        EXPECT_EQ(sweeps[i], (std::vector<int>{2, 3, 1, 4})) << "sweep " << i;
    }
    for (TestClient* c : {&low, &tie_old, &high, &mid})
        RemoveServiceClient(&thread, &c->client, true);
    EXPECT_EQ(thread, nullptr);
}

TEST(ServiceThread, PauseHoldsTheListLockUntilResume) {
    ServiceThread* thread = nullptr;
    TestClient a(1, 5, nullptr);
    ASSERT_TRUE(RegisterServiceClient(&thread, 500, &a.client));
    ASSERT_TRUE(WaitFor([&] { return a.services >= 1; }));
    PauseServiceThreads(thread);
    EXPECT_EQ(thread->state.load(), kServicePaused);
    const uint32_t sweep = thread->sweep.load();
    const uint32_t services = a.services.load();
    std::atomic<bool> free_elsewhere{true};
    std::thread other([&] {
        bool taken = platform::TryLockMutex(thread->list_lock);
        if (taken) platform::UnlockMutex(thread->list_lock);
        free_elsewhere = taken;
    });
    other.join();
    EXPECT_FALSE(free_elsewhere);
    platform::SleepMilliseconds(20);
    EXPECT_EQ(thread->sweep.load(), sweep);
    EXPECT_EQ(a.services.load(), services);
    // Pausing twice and resuming once leaves it running; resume when running
    // releases nothing it does not hold.
    PauseServiceThreads(thread);
    ResumeServiceThread(thread);
    ResumeServiceThread(thread);
    EXPECT_EQ(thread->state.load(), kServiceRunning);
    EXPECT_TRUE(WaitFor([&] { return a.services.load() > services; }));
    // Removing a client while paused keeps the thread paused.
    TestClient b(2, 5, nullptr);
    ASSERT_TRUE(RegisterServiceClient(&thread, 500, &b.client));
    PauseServiceThreads(thread);
    EXPECT_FALSE(RemoveServiceClient(&thread, &b.client, true));
    EXPECT_EQ(thread->state.load(), kServicePaused);
    // Stopping a paused thread works.
    EXPECT_TRUE(RemoveServiceClient(&thread, &a.client, true));
    EXPECT_EQ(thread, nullptr);
}

TEST(ServiceThread, PauseTwoThreadsTogether) {
    ServiceThread* first = nullptr;
    ServiceThread* second = nullptr;
    TestClient a(1, 5, nullptr), b(2, 5, nullptr);
    ASSERT_TRUE(RegisterServiceClient(&first, 300, &a.client));
    ASSERT_TRUE(RegisterServiceClient(&second, -300, &b.client));
    for (int i = 0; i < 20; ++i) {
        PauseServiceThreads(first, second);
        EXPECT_EQ(first->state.load(), kServicePaused);
        EXPECT_EQ(second->state.load(), kServicePaused);
        ResumeServiceThread(first);
        ResumeServiceThread(second);
    }
    EXPECT_TRUE(WaitFor([&] { return a.services > 0 && b.services > 0; }));
    RemoveServiceClient(&first, &a.client, false);
    RemoveServiceClient(&second, &b.client, false);
    ASSERT_TRUE(first && second);
    StopServiceThreads(first, second);
}

TEST(ServiceThread, ABusyClientLockDoesNotBlockTheOthers) {
    ServiceThread* thread = nullptr;
    // The other client always wants more (as a starving reader does): it is
    // served again and again while the more urgent one's lock stays busy.
    TestClient busy(1, 0xF0000000u, nullptr), other(2, 5, nullptr);
    other.always = true;
    ASSERT_TRUE(RegisterServiceClient(&thread, 500, &busy.client));
    ASSERT_TRUE(RegisterServiceClient(&thread, 500, &other.client));
    // Another thread (the stream core) holds the urgent client's lock.
    std::atomic<bool> release{false};
    std::atomic<bool> holding{false};
    std::thread core([&] {
        platform::LockMutex(busy.client.lock);
        holding = true;
        while (!release) platform::SleepMilliseconds(1);
        platform::UnlockMutex(busy.client.lock);
    });
    ASSERT_TRUE(WaitFor([&] { return holding.load(); }));
    const uint32_t busy_services = busy.services.load();
    const uint32_t before = other.services.load();
    EXPECT_TRUE(WaitFor([&] { return other.services.load() >= before + 3; }));
    EXPECT_EQ(busy.services.load(), busy_services);
    other.always = false;  // lets the sweep end, so the next one serves the busy client
    release = true;
    core.join();
    EXPECT_TRUE(WaitFor([&] { return busy.services.load() > busy_services; }));
    RemoveServiceClient(&thread, &busy.client, true);
    RemoveServiceClient(&thread, &other.client, true);
    EXPECT_EQ(thread, nullptr);
}

// A sweep waits only for the locks of its 16 most urgent clients: while
// those are held elsewhere the 17th is not served; once the 16th's lock is
// free, it is.
TEST(ServiceThread, ASweepWaitsForTheSixteenMostUrgentLocksOnly) {
#ifdef _WIN32
    // Under wine the sweep now and then never sees the sixteenth lock let go
    // (about one run in five); until that is understood the test runs on the
    // POSIX build only.
    GTEST_SKIP() << "not reliable under wine yet";
#endif
    ServiceThread* thread = nullptr;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 17; ++i) {
        clients.push_back(std::make_unique<TestClient>(i, 1000u - i, nullptr));
        ASSERT_TRUE(RegisterServiceClient(&thread, 500, &clients.back()->client));
    }
    std::atomic<int> stage{0};  // 1: the first 16 held, 2: the 16th let go, 3: all
    std::thread core([&] {
        for (int i = 0; i < 16; ++i) platform::LockMutex(clients[i]->client.lock);
        stage = 1;
        while (stage < 2) platform::SleepMilliseconds(1);
        platform::UnlockMutex(clients[15]->client.lock);
        while (stage < 3) platform::SleepMilliseconds(1);
        for (int i = 0; i < 15; ++i) platform::UnlockMutex(clients[i]->client.lock);
    });
    ASSERT_TRUE(WaitFor([&] { return stage.load() == 1; }));
    const uint32_t last = clients[16]->services.load(), sixteenth = clients[15]->services.load();
    platform::SleepMilliseconds(150);  // many sweeps' worth of lock waits
    EXPECT_EQ(clients[16]->services.load(), last);
    stage = 2;
    EXPECT_TRUE(WaitFor([&] { return clients[15]->services.load() > sixteenth; }));
    stage = 3;
    core.join();
    for (auto& c : clients) RemoveServiceClient(&thread, &c->client, true);
    EXPECT_EQ(thread, nullptr);
}

TEST(ServiceThread, RemovalWaitsForALongService) {
    ServiceThread* thread = nullptr;
    TestClient slow(1, 5, nullptr), stays(2, 5, nullptr);
    slow.hold_ms = 50;
    ASSERT_TRUE(RegisterServiceClient(&thread, 500, &stays.client));
    ASSERT_TRUE(RegisterServiceClient(&thread, 500, &slow.client));
    ASSERT_TRUE(WaitFor([&] { return slow.services >= 1; }));
    // Removing returns only once no service of the removed client runs.
    EXPECT_FALSE(RemoveServiceClient(&thread, &slow.client, true));
    const uint32_t after = slow.services.load();
    const uint32_t stays_before = stays.services.load();
    EXPECT_TRUE(WaitFor([&] { return stays.services.load() >= stays_before + 2; }));
    EXPECT_EQ(slow.services.load(), after);
    // Stopping while a long service runs waits for it too.
    stays.hold_ms = 30;
    EXPECT_TRUE(RemoveServiceClient(&thread, &stays.client, true));
}

TEST(ServiceThread, AThreadThatCannotStart) {
    ServiceThread* thread = nullptr;
    TestClient a(1, 5, nullptr);
    const uint32_t holds = platform::TimerResolution1msHolds();
    FailServiceThreadStartsForTesting(1);
    EXPECT_FALSE(RegisterServiceClient(&thread, kBackgroundReaderRate, &a.client));
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(a.client.lock, nullptr);
    EXPECT_EQ(platform::TimerResolution1msHolds(), holds);
    EXPECT_FALSE(RemoveServiceClient(&thread, &a.client, true));
    // The next start works again.
    ASSERT_TRUE(RegisterServiceClient(&thread, kBackgroundReaderRate, &a.client));
    EXPECT_TRUE(RemoveServiceClient(&thread, &a.client, true));
}

#ifndef _WIN32
TEST(ServiceThread, SoundServiceRunsBelowNormalPriority) {
    ServiceThread* reader = nullptr;
    ServiceThread* sound = nullptr;
    TestClient a(1, 5, nullptr), b(2, 5, nullptr);
    ASSERT_TRUE(RegisterServiceClient(&reader, kBackgroundReaderRate, &a.client));
    ASSERT_TRUE(RegisterServiceClient(&sound, kSoundServiceRate, &b.client));
    ASSERT_TRUE(WaitFor([&] { return a.services > 0 && b.services > 0; }));
    errno = 0;
    const int reader_nice = getpriority(PRIO_PROCESS, static_cast<id_t>(reader->thread_id.load()));
    const int sound_nice = getpriority(PRIO_PROCESS, static_cast<id_t>(sound->thread_id.load()));
    EXPECT_GT(sound_nice, reader_nice);
    RemoveServiceClient(&reader, &a.client, true);
    RemoveServiceClient(&sound, &b.client, true);
}
#endif

TEST(ServiceThread, UrgencyRules) {
    std::vector<uint8_t> movie(2000000, 1), ring(8 * kInputChunk), got(10);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    ServiceClient client;
    SetupReaderClient(&client, io.get());
    io->SetInputLock(ClientInputLock(&client));  // no lock yet: works single-threaded
    io->SetBuffer(ring.data(), 8 * kInputChunk, 2000000, 0);
    ASSERT_EQ(io->ReadFrame(0, 0, got.data(), 10), 10u);
    ASSERT_EQ(io->FullLevel(), 8 * kInputChunk);
    // Empty: the emptier, the more urgent, above every other value.
    EXPECT_EQ(ReaderUrgency(&client, 5), 0xFFFFFFFFu);
    for (int i = 0; i < 3; ++i) io->ServiceInput();
    EXPECT_EQ(ReaderUrgency(&client, 5),
              ~static_cast<uint32_t>((3 * 65536 + 1) * 100ull / (8 * 65536 + 1)));
    io->ServiceInput();  // half full
    client.last_served_sweep = 5;
    EXPECT_EQ(ReaderUrgency(&client, 5), 0u);
    // Served longer ago: more urgent.
    ServiceClient older;
    SetupReaderClient(&older, io.get());
    older.last_served_sweep = 2;
    EXPECT_GT(ReaderUrgency(&older, 6), ReaderUrgency(&client, 6));
    EXPECT_EQ(ReaderUrgency(&older, 6), 0x80000000u - 2);
    // Just below half full (p = 49): urgent again, however recently served.
    std::vector<uint8_t> part(2144);
    ASSERT_EQ(io->ReadFrame(0, kCurrentPosition, part.data(), 2144), 2144u);
    ASSERT_EQ(io->FullLevel(), 8 * kInputChunk);
    EXPECT_EQ(ReaderUrgency(&client, 5), ~49u);

    ServiceClient sound;
    sound.last_served_sweep = 9;
    EXPECT_EQ(SoundServiceUrgency(&sound, 9), 0u);
    EXPECT_EQ(SoundServiceUrgency(&sound, 10), ~9u);
}

TEST(ServiceThread, ReaderBelowHalfFullIsServedRepeatedlyInOneSweep) {
    std::vector<uint8_t> movie(4000000, 3), ring(8 * kInputChunk), got(10);
    auto io = OpenMemoryInput(movie.data(), movie.size());
    Recorder recorder;
    struct Reader {
        ServiceClient client;
        Recorder* recorder;
    } reader;
    reader.recorder = &recorder;
    SetupReaderClient(&reader.client, io.get());
    io->SetInputLock(ClientInputLock(&reader.client));
    io->SetBuffer(ring.data(), 8 * kInputChunk, 4000000, 0);
    ASSERT_EQ(io->ReadFrame(0, 0, got.data(), 10), 10u);
    static Recorder* g_recorder;
    g_recorder = &recorder;
    reader.client.service_operation = [](ServiceClient* c, uint32_t sweep) {
        g_recorder->Add(sweep, 0);
        ReaderService(c, sweep);
    };
    ServiceThread* thread = nullptr;
    ASSERT_TRUE(RegisterServiceClient(&thread, kBackgroundReaderRate, &reader.client));
    ASSERT_TRUE(WaitFor([&] { return io->Fill() == 8 * kInputChunk; }));
    ASSERT_TRUE(RemoveServiceClient(&thread, &reader.client, true));
    auto served = recorder.Copy();
    ASSERT_EQ(served.size(), 8u);
    // Four chunks in the first sweep (up to half full), then one per sweep.
    for (int i = 1; i < 4; ++i) EXPECT_EQ(served[i].first, served[0].first);
    for (int i = 4; i < 8; ++i) EXPECT_GT(served[i].first, served[i - 1].first);
}

// Background reader and consumer at once: the consumer reads the whole movie
// in frame-sized pieces with seeks while the reader thread fills the ring.
TEST(ServiceThread, BackgroundReaderFeedsAConsumer) {
    std::vector<uint8_t> movie(3 * 1024 * 1024);
    for (size_t i = 0; i < movie.size(); ++i) movie[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    for (int round = 0; round < 3; ++round) {
        auto io = OpenMemoryInput(movie.data(), movie.size());
        std::vector<uint8_t> ring(4 * kInputChunk), frame(70000);
        ServiceClient client;
        SetupReaderClient(&client, io.get());
        ServiceThread*& reader = BackgroundReaderThread();
        ASSERT_TRUE(RegisterServiceClient(&reader, kBackgroundReaderRate, &client));
        io->SetInputLock(ClientInputLock(&client));
        io->SetBuffer(ring.data(), static_cast<uint32_t>(ring.size()),
                      static_cast<uint32_t>(movie.size()), 0);
        uint32_t offset = 0;
        uint32_t n = 1;
        while (offset < movie.size()) {
            n = (n * 2654435761u) % 69000 + 1;
            const uint32_t count =
                std::min<uint32_t>(n, static_cast<uint32_t>(movie.size()) - offset);
            // Now and then skip ahead or go back, as a rewinding movie does.
            uint32_t at = kCurrentPosition;
            if (n % 97 == 0) at = offset + count;
            if (n % 211 == 0 && offset > 200000) at = offset - 150000;
            if (at != kCurrentPosition) offset = at;
            const uint32_t want =
                std::min<uint32_t>(count, static_cast<uint32_t>(movie.size()) - offset);
            if (want == 0) break;
            io->SetCoreBusy(true);
            ASSERT_EQ(io->ReadFrame(0, at, frame.data(), want), want);
            io->SetCoreBusy(false);
            ASSERT_EQ(0, std::memcmp(frame.data(), movie.data() + offset, want)) << offset;
            offset += want;
            if (n % 5 == 0) platform::YieldThread();
        }
        EXPECT_FALSE(io->ReadFailed());
        RemoveServiceClient(&reader, &client, true);
        EXPECT_EQ(reader, nullptr);
        io->CloseInput();
    }
}

}  // namespace
}  // namespace vemo
