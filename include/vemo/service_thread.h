// Background service threads: a periodic loop over registered clients that
// asks each how urgently it needs service and serves the most urgent one
// whose lock is free.
//
// Two process-wide instances exist, each created by the first client that
// registers and stopped when its last client leaves: the background reader
// (rate 80: every 12 ms, normal priority; clients are movie inputs served by
// ServiceInput) and the sound service (rate -13: every 76 ms, below-normal
// priority; clients are the movies' sound outputs).
//
// Locks: each thread's list lock is held by the thread through a whole sweep
// (and by a controller while the thread is paused); each client's lock is
// taken by the thread around the service operation. Order: list lock, then a
// client lock. Client locks are recursive.
//
// Control (register, remove, pause, resume, stop) runs on one controller
// thread at a time (the thread that opens and closes movies).
#pragma once

#include <atomic>
#include <cstdint>

namespace vemo {

namespace platform {
struct Mutex;
struct Thread;
struct Event;
}  // namespace platform

class MovieIO;
struct InputLock;

constexpr int32_t kBackgroundReaderRate = 80;  // 12 ms, normal priority
constexpr int32_t kSoundServiceRate = -13;     // 76 ms, below-normal priority

struct ServiceClient;
// (client, sweep) -> unsigned urgency; 0 = nothing to do.
using ServiceUrgencyOperation = uint32_t (*)(ServiceClient* client, uint32_t sweep);
// (client, sweep): performs one unit of work. Called with the client's lock held.
using ServiceOperation = void (*)(ServiceClient* client, uint32_t sweep);

// Embedded in its owner (e.g. in the movie). Set the operations and owner
// before registering; the lock is created by RegisterServiceClient and closed
// (set to null) by RemoveServiceClient.
struct ServiceClient {
    std::atomic<ServiceClient*> next{nullptr};  // next client of the same thread
    platform::Mutex* lock = nullptr;            // the client's recursive mutex
    ServiceClient* sorted_next = nullptr;       // link in the current sweep's urgency order
    uint32_t urgency = 0;                       // last value of the urgency operation
    ServiceUrgencyOperation urgency_operation = nullptr;
    ServiceOperation service_operation = nullptr;
    void* owner = nullptr;                       // for the operations (reader: the MovieIO)
    std::atomic<uint32_t> last_served_sweep{0};  // set by the service operations below
};

enum ServiceThreadState : uint32_t {
    kServiceCreated = 0,  // created and never started
    kServiceRunning = 1,
    kServicePaused = 2,  // the controller holds the list lock
    kServiceStopping = 3,
    kServiceControlling = 4,  // a controller is waiting for the list lock
};

// Allocated through the library allocator (32-byte aligned). Read-only for
// everyone but this facility.
struct ServiceThread {
    std::atomic<uint32_t> state{kServiceCreated};
    uint32_t period = 0;                    // ms between sweeps: 1000 / abs(rate)
    platform::Event* wake_event = nullptr;  // auto-reset; signalled only to stop
    platform::Thread* thread = nullptr;     // created suspended, 32 KB stack
    std::atomic<uint32_t> thread_id{0};     // set by the thread when it runs
    platform::Mutex* list_lock = nullptr;
    std::atomic<ServiceClient*> clients{nullptr};  // newest first
    std::atomic<uint32_t> sweep{1};                // 1 at creation, +1 per sweep
    std::atomic<uint32_t> client_count{0};
    int32_t rate = 0;
    std::atomic<uint32_t> started{0};  // 1 once the thread was resumed
};

// Creates the record and the suspended thread (below-normal priority when
// rate < 0), the list lock and the wake event, and raises the system timer
// resolution to 1 ms. Null when the thread (or anything else) cannot be
// created; nothing is left behind then. Rate 0 is refused.
ServiceThread* StartServiceThread(int32_t rate);

// Registers a client with the process-wide thread *thread, starting it (with
// the given rate) when it does not exist yet. Creates the client's lock and
// pushes the client at the head of the list without pausing a running
// thread. Returns false when the thread cannot be started or the lock cannot
// be created: the client is then not registered, its lock stays null, and the
// owner must do the work on its own thread.
bool RegisterServiceClient(ServiceThread** thread, int32_t rate, ServiceClient* client);

// Unlinks the client (waiting for a sweep in progress to end), then closes
// its lock. When the list is now empty and stop_when_empty is set, the thread
// is stopped and *thread is set to null. Returns whether it was stopped. A
// client that is not registered is ignored.
bool RemoveServiceClient(ServiceThread** thread, ServiceClient* client, bool stop_when_empty);

// Holds the list lock of each given thread (null ones are skipped; for two,
// waits until both are held, in either order): no sweep runs until
// ResumeServiceThread.
void PauseServiceThreads(ServiceThread* first, ServiceThread* second = nullptr);
// Releases a paused thread's list lock, or lets a never-started thread run.
void ResumeServiceThread(ServiceThread* thread);
// Ends the thread (from any state), waits for it, frees everything and
// restores the timer resolution. Null is ignored.
void StopServiceThread(ServiceThread* thread);
// Stops two threads together: signals both, then waits for both.
void StopServiceThreads(ServiceThread* first, ServiceThread* second);

// The process-wide instance pointers (null while they do not exist).
ServiceThread*& BackgroundReaderThread();
ServiceThread*& SoundServiceThread();

// ------------------------------------------------------------ client rules
// Background reader urgency; owner is the MovieIO. p = (fill + 1) * 100 /
// (full level + 1): below 50 gives NOT p (above every other value); else 0
// when served in this sweep, otherwise 0x80000000 - last served sweep.
uint32_t ReaderUrgency(ServiceClient* client, uint32_t sweep);
// One ServiceInput step of the owner MovieIO, then last served sweep = sweep.
void ReaderService(ServiceClient* client, uint32_t sweep);
// Sound-service urgency: 0 when served in this sweep, else NOT last served.
uint32_t SoundServiceUrgency(ServiceClient* client, uint32_t sweep);
// Sets the reader operations and the owner.
void SetupReaderClient(ServiceClient* client, MovieIO* io);
// Lock operations over the client's lock for MovieIO::SetInputLock. While
// the client has no lock (not registered, or removed) they do nothing and the
// try-lock succeeds, so an input serviced on the caller's thread still works.
InputLock ClientInputLock(ServiceClient* client);

// Test hook: the next count thread starts fail as if the system refused.
void FailServiceThreadStartsForTesting(uint32_t count);

}  // namespace vemo
