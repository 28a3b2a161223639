// Background service threads: a periodic sweep over the registered clients,
// serving the most urgent client whose lock is free.
#include "vemo/service_thread.h"

#include <new>

#include "vemo/memory.h"
#include "vemo/movie_io.h"
#include "vemo/platform.h"

namespace vemo {

namespace {

constexpr int kLockWaitClients = 16;

std::atomic<uint32_t> g_failing_starts{0};

bool TakeFailingStart() {
    uint32_t left = g_failing_starts.load();
    while (left != 0) {
        if (g_failing_starts.compare_exchange_weak(left, left - 1)) return true;
    }
    return false;
}

bool IsRunning(const ServiceThread* t) {
    return t->state.load() == kServiceRunning;
}

// One sweep: evaluate every client, serve the most urgent one whose lock
// comes free within 1 ms, and evaluate again until nobody needs service.
void Sweep(ServiceThread* t) {
    const uint32_t sweep = t->sweep.fetch_add(1) + 1;
    for (;;) {
        ServiceClient* sorted = nullptr;
        for (ServiceClient* c = t->clients.load(std::memory_order_acquire); c != nullptr;
             c = c->next.load(std::memory_order_acquire)) {
            if (!IsRunning(t)) return;
            const uint32_t urgency = c->urgency_operation ? c->urgency_operation(c, sweep) : 0;
            c->urgency = urgency;
            if (urgency == 0) continue;
            // Largest first; a client equal to one already placed goes before it.
            ServiceClient** at = &sorted;
            while (*at != nullptr && (*at)->urgency > urgency) at = &(*at)->sorted_next;
            c->sorted_next = *at;
            *at = c;
        }
        if (sorted == nullptr || !IsRunning(t)) return;

        platform::Mutex* locks[kLockWaitClients];
        ServiceClient* owners[kLockWaitClients];
        int count = 0;
        for (ServiceClient* c = sorted; c != nullptr && count < kLockWaitClients;
             c = c->sorted_next) {
            if (c->lock == nullptr) continue;
            locks[count] = c->lock;
            owners[count] = c;
            ++count;
        }
        if (count == 0) return;
        const int taken = platform::LockAnyMutexWithin1ms(locks, count);
        if (taken >= 0) {
            ServiceClient* c = owners[taken];
            if (c->service_operation) c->service_operation(c, sweep);
            platform::UnlockMutex(locks[taken]);
        }
    }
}

void ThreadBody(void* argument) {
    auto* t = static_cast<ServiceThread*>(argument);
    t->thread_id.store(platform::CurrentThreadId());
    if (platform::WaitEvent(t->wake_event, t->period)) return;
    for (;;) {
        platform::LockMutex(t->list_lock);
        if (IsRunning(t) && t->clients.load(std::memory_order_acquire) != nullptr) Sweep(t);
        if (t->state.load() == kServiceStopping) {
            platform::UnlockMutex(t->list_lock);
            return;
        }
        platform::UnlockMutex(t->list_lock);
        if (platform::WaitEvent(t->wake_event, t->period)) return;
    }
}

void FreeRecord(ServiceThread* t) {
    if (t->list_lock) platform::DestroyMutex(t->list_lock);
    if (t->wake_event) platform::DestroyEvent(t->wake_event);
    t->~ServiceThread();
    FreeLibraryMemory(t);
}

// Sets the thread moving towards its end without waiting for it.
void SignalStop(ServiceThread* t) {
    const uint32_t previous = t->state.load();
    platform::SignalEvent(t->wake_event);
    t->state.store(kServiceStopping);
    platform::SetThreadPriority(t->thread, platform::ThreadPriority::TimeCritical);
    if (t->started.load() == 0) {
        t->started.store(1);
        platform::ResumeThread(t->thread);
    }
    if (previous == kServicePaused) platform::UnlockMutex(t->list_lock);
}

void FinishStop(ServiceThread* t) {
    platform::JoinThread(t->thread);
    t->thread = nullptr;
    FreeRecord(t);
    platform::EndTimerResolution1ms();
}

void LockInputClient(void* context) {
    if (auto* lock = static_cast<ServiceClient*>(context)->lock) platform::LockMutex(lock);
}

bool TryLockInputClient(void* context) {
    auto* lock = static_cast<ServiceClient*>(context)->lock;
    return lock == nullptr || platform::TryLockMutex(lock);
}

void UnlockInputClient(void* context) {
    if (auto* lock = static_cast<ServiceClient*>(context)->lock) platform::UnlockMutex(lock);
}

void YieldInputClient(void*) {
    platform::YieldThread();
}

}  // namespace

ServiceThread* StartServiceThread(int32_t rate) {
    if (rate == 0 || TakeFailingStart()) return nullptr;
    void* block = AllocateLibraryMemory(sizeof(ServiceThread));
    if (block == nullptr) return nullptr;
    auto* t = new (block) ServiceThread;
    const uint32_t magnitude =
        rate < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(rate)) : static_cast<uint32_t>(rate);
    t->rate = rate;
    t->period = 1000u / magnitude;
    if (t->period == 0) t->period = 1;  // never a busy loop
    t->list_lock = platform::NewMutex();
    t->wake_event = platform::NewEvent();
    if (t->list_lock == nullptr || t->wake_event == nullptr) {
        FreeRecord(t);
        return nullptr;
    }
    t->thread = platform::CreateSuspendedThread(ThreadBody, t, 32768);
    if (t->thread == nullptr) {
        FreeRecord(t);
        return nullptr;
    }
    if (rate < 0) platform::SetThreadPriority(t->thread, platform::ThreadPriority::BelowNormal);
    platform::BeginTimerResolution1ms();
    return t;
}

bool RegisterServiceClient(ServiceThread** thread, int32_t rate, ServiceClient* client) {
    if (thread == nullptr || client == nullptr) return false;
    bool created = false;
    if (*thread == nullptr) {
        ServiceThread* t = StartServiceThread(rate);
        if (t == nullptr) return false;
        *thread = t;
        created = true;
    }
    ServiceThread* t = *thread;
    for (ServiceClient* c = t->clients.load(); c != nullptr; c = c->next.load()) {
        if (c == client) return true;  // already registered
    }
    platform::Mutex* lock = platform::NewMutex();
    if (lock == nullptr) {
        if (created) {
            StopServiceThread(t);
            *thread = nullptr;
        }
        return false;
    }
    client->lock = lock;
    client->sorted_next = nullptr;
    client->urgency = 0;
    // The next link is set before the head is published, so a sweep walking
    // the list meanwhile sees either list.
    client->next.store(t->clients.load(), std::memory_order_relaxed);
    t->clients.store(client, std::memory_order_release);
    t->client_count.fetch_add(1);
    if (created) {
        t->state.store(kServiceRunning);
        t->started.store(1);
        platform::ResumeThread(t->thread);
    }
    return true;
}

bool RemoveServiceClient(ServiceThread** thread, ServiceClient* client, bool stop_when_empty) {
    if (thread == nullptr || *thread == nullptr || client == nullptr) return false;
    ServiceThread* t = *thread;
    // Unlink while holding the list lock: a sweep in progress ends first
    // (it stops at once when it sees the state change).
    const uint32_t previous = t->state.exchange(kServiceControlling);
    platform::LockMutex(t->list_lock);
    bool found = false;
    std::atomic<ServiceClient*>* link = &t->clients;
    for (ServiceClient* c = link->load(); c != nullptr; c = link->load()) {
        if (c == client) {
            link->store(c->next.load());
            found = true;
            break;
        }
        link = &c->next;
    }
    if (found) t->client_count.fetch_sub(1);
    t->state.store(previous == kServiceControlling ? kServiceRunning : previous);
    platform::UnlockMutex(t->list_lock);
    if (!found) return false;
    client->next.store(nullptr);
    client->sorted_next = nullptr;
    if (client->lock) platform::DestroyMutex(client->lock);
    client->lock = nullptr;
    if (stop_when_empty && t->clients.load() == nullptr) {
        StopServiceThread(t);
        *thread = nullptr;
        return true;
    }
    return false;
}

void PauseServiceThreads(ServiceThread* first, ServiceThread* second) {
    if (first == nullptr) {
        first = second;
        second = nullptr;
    }
    if (first == nullptr) return;
    if (first->state.load() == kServicePaused) first = nullptr;
    if (second != nullptr && second->state.load() == kServicePaused) second = nullptr;
    if (first == nullptr) {
        first = second;
        second = nullptr;
    }
    if (first == nullptr) return;  // already paused
    first->state.store(kServiceControlling);
    if (second == nullptr || second == first) {
        platform::LockMutex(first->list_lock);
        first->state.store(kServicePaused);
        return;
    }
    second->state.store(kServiceControlling);
    // Whichever comes free first, then the other.
    platform::Mutex* locks[2] = {first->list_lock, second->list_lock};
    int taken = -1;
    while (taken < 0) taken = platform::LockAnyMutexWithin1ms(locks, 2);
    platform::LockMutex(locks[1 - taken]);
    first->state.store(kServicePaused);
    second->state.store(kServicePaused);
}

void ResumeServiceThread(ServiceThread* thread) {
    if (thread == nullptr) return;
    const uint32_t previous = thread->state.load();
    if (previous == kServiceStopping) return;
    thread->state.store(kServiceRunning);
    if (previous == kServicePaused) platform::UnlockMutex(thread->list_lock);
    if (thread->started.load() == 0) {
        thread->started.store(1);
        platform::ResumeThread(thread->thread);
    }
}

void StopServiceThread(ServiceThread* thread) {
    if (thread == nullptr) return;
    SignalStop(thread);
    FinishStop(thread);
}

void StopServiceThreads(ServiceThread* first, ServiceThread* second) {
    if (first == second) second = nullptr;
    if (first) SignalStop(first);
    if (second) SignalStop(second);
    if (first) FinishStop(first);
    if (second) FinishStop(second);
}

ServiceThread*& BackgroundReaderThread() {
    static ServiceThread* instance = nullptr;
    return instance;
}

ServiceThread*& SoundServiceThread() {
    static ServiceThread* instance = nullptr;
    return instance;
}

uint32_t ReaderUrgency(ServiceClient* client, uint32_t sweep) {
    auto* io = static_cast<MovieIO*>(client->owner);
    if (io == nullptr) return 0;
    const uint64_t p = (static_cast<uint64_t>(io->Fill()) + 1) * 100u /
                       (static_cast<uint64_t>(io->FullLevel()) + 1);
    if (p < 50) return ~static_cast<uint32_t>(p);
    const uint32_t last = client->last_served_sweep.load();
    if (last == sweep) return 0;
    const uint32_t urgency = 0x80000000u - last;
    return urgency != 0 ? urgency : 1;
}

void ReaderService(ServiceClient* client, uint32_t sweep) {
    if (auto* io = static_cast<MovieIO*>(client->owner)) io->ServiceInput();
    client->last_served_sweep.store(sweep);
}

uint32_t SoundServiceUrgency(ServiceClient* client, uint32_t sweep) {
    const uint32_t last = client->last_served_sweep.load();
    if (last == sweep) return 0;
    const uint32_t urgency = ~last;
    return urgency != 0 ? urgency : 1;
}

void SetupReaderClient(ServiceClient* client, MovieIO* io) {
    client->owner = io;
    client->urgency_operation = ReaderUrgency;
    client->service_operation = ReaderService;
}

InputLock ClientInputLock(ServiceClient* client) {
    InputLock lock;
    lock.lock = LockInputClient;
    lock.try_lock = TryLockInputClient;
    lock.unlock = UnlockInputClient;
    lock.yield = YieldInputClient;
    lock.context = client;
    return lock;
}

void FailServiceThreadStartsForTesting(uint32_t count) {
    g_failing_starts.store(count);
}

}  // namespace vemo
