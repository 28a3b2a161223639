// Linux implementation of the platform layer: POSIX files, pthreads, clocks.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "vemo/platform.h"

namespace vemo::platform {

// ---------------------------------------------------------------- files

File OpenFileForReading(const char* name) {
    // Linux has no share modes: a plain read-only open already lets other
    // programs read and write the file.
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return File{};
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return File{};
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return File{fd};
}

void CloseFile(File file) {
    if (file.valid()) ::close(static_cast<int>(file.value));
}

uint32_t ReadFile(File file, void* destination, uint32_t count) {
    if (!file.valid()) return 0;
    auto* out = static_cast<unsigned char*>(destination);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::read(static_cast<int>(file.value), out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

bool SeekFile(File file, uint64_t offset) {
    if (!file.valid()) return false;
    return ::lseek(static_cast<int>(file.value), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

uint64_t TellFile(File file) {
    if (!file.valid()) return 0;
    off_t at = ::lseek(static_cast<int>(file.value), 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<uint64_t>(at);
}

bool FileExists(const char* name) {
    struct stat st;
    return ::stat(name, &st) == 0;
}

bool IsDirectory(const char* name) {
    struct stat st;
    return ::stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return std::string(buffer.data(), static_cast<size_t>(n));
}

// ---------------------------------------------------------------- threads

struct Thread {
    pthread_t handle{};
    ThreadBody body = nullptr;
    void* argument = nullptr;
    pthread_mutex_t gate = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t resumed = PTHREAD_COND_INITIALIZER;
    bool running = false;
    bool started = false;
    pid_t tid = 0;
    ThreadPriority priority = ThreadPriority::Normal;
};

namespace {

void ApplyPriority(Thread* thread) {
    // Without privileges Linux only lets a thread lower its own priority, so
    // "time critical" is applied as the highest nice value we may use.
    int nice_value = 0;
    switch (thread->priority) {
        case ThreadPriority::Normal:
            nice_value = 0;
            break;
        case ThreadPriority::BelowNormal:
            nice_value = 5;
            break;
        case ThreadPriority::TimeCritical:
            nice_value = -10;
            break;
    }
    if (thread->tid != 0 && ::setpriority(PRIO_PROCESS, thread->tid, nice_value) != 0 &&
        nice_value < 0) {
        ::setpriority(PRIO_PROCESS, thread->tid, 0);
    }
}

void* ThreadStart(void* raw) {
    auto* thread = static_cast<Thread*>(raw);
    pthread_mutex_lock(&thread->gate);
    thread->tid = static_cast<pid_t>(::syscall(SYS_gettid));
    while (!thread->running) pthread_cond_wait(&thread->resumed, &thread->gate);
    ApplyPriority(thread);
    pthread_mutex_unlock(&thread->gate);
    thread->body(thread->argument);
    return nullptr;
}

}  // namespace

Thread* CreateSuspendedThread(ThreadBody body, void* argument, size_t stack_bytes) {
    auto* thread = new Thread;
    thread->body = body;
    thread->argument = argument;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    size_t stack = stack_bytes;
    // Sanitizers need far more stack than the thread itself does.
    if (stack < static_cast<size_t>(PTHREAD_STACK_MIN)) stack = PTHREAD_STACK_MIN;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    stack = std::max<size_t>(stack, 1 << 20);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    stack = std::max<size_t>(stack, 1 << 20);
#endif
#endif
    pthread_attr_setstacksize(&attr, stack);
    int rc = pthread_create(&thread->handle, &attr, ThreadStart, thread);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete thread;
        return nullptr;
    }
    thread->started = true;
    return thread;
}

void ResumeThread(Thread* thread) {
    if (!thread) return;
    pthread_mutex_lock(&thread->gate);
    thread->running = true;
    pthread_cond_signal(&thread->resumed);
    pthread_mutex_unlock(&thread->gate);
}

void SetThreadPriority(Thread* thread, ThreadPriority priority) {
    if (!thread) return;
    pthread_mutex_lock(&thread->gate);
    thread->priority = priority;
    if (thread->running) ApplyPriority(thread);
    pthread_mutex_unlock(&thread->gate);
}

void JoinThread(Thread* thread) {
    if (!thread) return;
    ResumeThread(thread);
    pthread_join(thread->handle, nullptr);
    pthread_mutex_destroy(&thread->gate);
    pthread_cond_destroy(&thread->resumed);
    delete thread;
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

struct Mutex {
    pthread_mutex_t handle;
};

Mutex* NewMutex() {
    auto* mutex = new Mutex;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex->handle, &attr);
    pthread_mutexattr_destroy(&attr);
    return mutex;
}

void DestroyMutex(Mutex* mutex) {
    if (!mutex) return;
    pthread_mutex_destroy(&mutex->handle);
    delete mutex;
}

void LockMutex(Mutex* mutex) {
    pthread_mutex_lock(&mutex->handle);
}
bool TryLockMutex(Mutex* mutex) {
    return pthread_mutex_trylock(&mutex->handle) == 0;
}
void UnlockMutex(Mutex* mutex) {
    pthread_mutex_unlock(&mutex->handle);
}

namespace {
uint64_t MonotonicMicroseconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}
}  // namespace

int LockAnyMutexWithin1ms(Mutex* const* mutexes, int count) {
    if (count > 16) count = 16;
    // POSIX has no wait-for-any on mutexes: poll in list order for up to 1 ms.
    const uint64_t deadline = MonotonicMicroseconds() + 1000;
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (TryLockMutex(mutexes[i])) return i;
        }
        if (MonotonicMicroseconds() >= deadline) return -1;
        timespec pause{0, 50000};
        nanosleep(&pause, nullptr);
    }
}

struct Event {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond;
    bool signalled = false;
};

Event* NewEvent() {
    auto* event = new Event;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&event->cond, &attr);
    pthread_condattr_destroy(&attr);
    return event;
}

void DestroyEvent(Event* event) {
    if (!event) return;
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    delete event;
}

void SignalEvent(Event* event) {
    pthread_mutex_lock(&event->mutex);
    event->signalled = true;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

bool WaitEvent(Event* event, uint32_t milliseconds) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&event->mutex);
    while (!event->signalled) {
        if (pthread_cond_timedwait(&event->cond, &event->mutex, &deadline) == ETIMEDOUT) break;
    }
    bool was = event->signalled;
    event->signalled = false;
    pthread_mutex_unlock(&event->mutex);
    return was;
}

void YieldThread() {
    sched_yield();
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------- time

bool CounterFrequency(uint64_t* frequency) {
    *frequency = 1000000000u;
    return true;
}

uint64_t CounterValue() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

uint32_t TickCount() {
    // The tick count keeps counting across counter adjustments: take it from
    // the boot clock, which also runs during suspend.
    timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

uint32_t MultimediaTime() {
    return TickCount();
}

// Linux timers already have millisecond resolution or better: the requests
// are only counted.
namespace {
std::atomic<uint32_t> g_timer_holds{0};
}  // namespace
void BeginTimerResolution1ms() {
    g_timer_holds.fetch_add(1);
}
void EndTimerResolution1ms() {
    uint32_t held = g_timer_holds.load();
    while (held != 0 && !g_timer_holds.compare_exchange_weak(held, held - 1)) {
    }
}
uint32_t TimerResolution1msHolds() {
    return g_timer_holds.load();
}

LocalTime GetLocalTime() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t seconds = ts.tv_sec;
    tm parts;
    localtime_r(&seconds, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1,
                     parts.tm_mday,        parts.tm_wday,
                     parts.tm_hour,        parts.tm_min,
                     parts.tm_sec,         static_cast<int>(ts.tv_nsec / 1000000)};
}

// ---------------------------------------------------------------- memory

// The C heap is already private to the process and grows on demand.
void* HeapAllocate(size_t bytes) {
    return std::malloc(bytes);
}
// Large zeroed blocks are the frame planes, written whole by the first
// frames: their pages are mapped in with one call rather than one fault
// each (a fault costs several microseconds on a virtual machine). Kernels
// without the call leave the pages to fault in as before.
void* HeapAllocateZeroed(size_t bytes) {
    void* block = std::calloc(1, bytes);
#ifdef MADV_POPULATE_WRITE
    constexpr size_t kPopulateFrom = size_t{64} << 10;
    if (block && bytes >= kPopulateFrom) {
        const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(page - 1);
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
#endif
    return block;
}
void HeapFree(void* block) {
    std::free(block);
}

// ---------------------------------------------------------------- settings

// The option string lives in a section of its own so that a bundling tool
// can find it in the file and overwrite it in place: the marker, then 511
// characters padded with '~', then a terminating zero.
extern "C" {
__attribute__((used, section(".vemoopt"))) volatile char vemo_option_string[16 + 512] =
    "VEMO-OPTIONS-01:"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~"
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~";
}

std::string OptionStringResource() {
    std::string text;
    for (size_t i = 16; i < sizeof(vemo_option_string) && vemo_option_string[i] != '\0'; ++i) {
        if (text.size() >= 511) break;
        text.push_back(vemo_option_string[i]);
    }
    return text;
}

namespace {

std::string ProfilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return {};
        base = std::string(home) + "/.config";
    }
    return base + "/vemo/vemo.ini";
}

// Reads the ini file as ordered sections of key=value lines.
using Section = std::vector<std::pair<std::string, std::string>>;
std::vector<std::pair<std::string, Section>> ReadIni(const std::string& path) {
    std::vector<std::pair<std::string, Section>> sections;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            sections.emplace_back(line.substr(1, line.size() - 2), Section{});
        } else if (!sections.empty()) {
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                sections.back().second.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return sections;
}

bool SameText(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

std::string ReadProfileString(const char* section, const char* key, const char* fallback) {
    std::string path = ProfilePath();
    if (!path.empty()) {
        for (auto& [name, entries] : ReadIni(path)) {
            if (!SameText(name, section)) continue;
            for (auto& [k, v] : entries)
                if (SameText(k, key)) return v;
        }
    }
    return fallback ? fallback : "";
}

bool StoreProfileString(const char* section, const char* key, const char* value) {
    std::string path = ProfilePath();
    if (path.empty()) return false;
    auto sections = ReadIni(path);
    bool done = false;
    for (auto& [name, entries] : sections) {
        if (!SameText(name, section)) continue;
        for (auto& [k, v] : entries) {
            if (SameText(k, key)) {
                v = value;
                done = true;
            }
        }
        if (!done) {
            entries.emplace_back(key, value);
            done = true;
        }
    }
    if (!done) sections.emplace_back(section, Section{{key, value}});
    std::string dir = path.substr(0, path.rfind('/'));
    std::string parent = dir.substr(0, dir.rfind('/'));
    ::mkdir(parent.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    std::ofstream out(path, std::ios::trunc);
    if (!out) return false;
    for (auto& [name, entries] : sections) {
        out << '[' << name << "]\n";
        for (auto& [k, v] : entries) out << k << '=' << v << '\n';
    }
    return static_cast<bool>(out);
}

}  // namespace vemo::platform
