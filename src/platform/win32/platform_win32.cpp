// Windows implementation of the platform layer: Win32 kernel and multimedia
// calls, as the program was designed for.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// (after windows.h, which it needs)
#include <mmsystem.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "vemo/platform.h"

namespace vemo::platform {

namespace {
HANDLE ToHandle(File file) {
    return reinterpret_cast<HANDLE>(file.value);
}
}  // namespace

// ---------------------------------------------------------------- files

File OpenFileForReading(const char* name) {
    HANDLE h = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        h = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) return File{};
    return File{reinterpret_cast<intptr_t>(h)};
}

void CloseFile(File file) {
    if (file.valid()) ::CloseHandle(ToHandle(file));
}

uint32_t ReadFile(File file, void* destination, uint32_t count) {
    if (!file.valid()) return 0;
    DWORD got = 0;
    if (!::ReadFile(ToHandle(file), destination, count, &got, nullptr)) return 0;
    return got;
}

bool SeekFile(File file, uint64_t offset) {
    if (!file.valid()) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(ToHandle(file), to, nullptr, FILE_BEGIN) != 0;
}

uint64_t TellFile(File file) {
    if (!file.valid()) return 0;
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    if (!::SetFilePointerEx(ToHandle(file), zero, &at, FILE_CURRENT)) return 0;
    return static_cast<uint64_t>(at.QuadPart);
}

bool FileExists(const char* name) {
    return ::GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const char* name) {
    DWORD a = ::GetFileAttributesA(name);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ExecutablePath() {
    char buffer[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::string(buffer, n);
}

// ---------------------------------------------------------------- threads

struct Thread {
    HANDLE handle = nullptr;
    DWORD id = 0;
    ThreadBody body = nullptr;
    void* argument = nullptr;
};

namespace {
DWORD WINAPI ThreadStart(LPVOID raw) {
    auto* thread = static_cast<Thread*>(raw);
    thread->body(thread->argument);
    return 0;
}
}  // namespace

Thread* CreateSuspendedThread(ThreadBody body, void* argument, size_t stack_bytes) {
    auto* thread = new Thread;
    thread->body = body;
    thread->argument = argument;
    thread->handle =
        ::CreateThread(nullptr, stack_bytes, ThreadStart, thread,
                       CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &thread->id);
    if (!thread->handle) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void ResumeThread(Thread* thread) {
    if (thread) ::ResumeThread(thread->handle);
}

void SetThreadPriority(Thread* thread, ThreadPriority priority) {
    if (!thread) return;
    int value = THREAD_PRIORITY_NORMAL;
    if (priority == ThreadPriority::BelowNormal) value = THREAD_PRIORITY_BELOW_NORMAL;
    if (priority == ThreadPriority::TimeCritical) value = THREAD_PRIORITY_TIME_CRITICAL;
    ::SetThreadPriority(thread->handle, value);
}

void JoinThread(Thread* thread) {
    if (!thread) return;
    // A thread that was never resumed must run to its end before it can be joined.
    while (::ResumeThread(thread->handle) > 1) {
    }
    ::WaitForSingleObject(thread->handle, INFINITE);
    ::CloseHandle(thread->handle);
    delete thread;
}

uint32_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

struct Mutex {
    HANDLE handle;
};

Mutex* NewMutex() {
    HANDLE h = ::CreateMutexA(nullptr, FALSE, nullptr);
    if (!h) return nullptr;
    return new Mutex{h};
}

void DestroyMutex(Mutex* mutex) {
    if (!mutex) return;
    ::CloseHandle(mutex->handle);
    delete mutex;
}

void LockMutex(Mutex* mutex) {
    ::WaitForSingleObject(mutex->handle, INFINITE);
}
bool TryLockMutex(Mutex* mutex) {
    return ::WaitForSingleObject(mutex->handle, 0) == WAIT_OBJECT_0;
}
void UnlockMutex(Mutex* mutex) {
    ::ReleaseMutex(mutex->handle);
}

int LockAnyMutexWithin1ms(Mutex* const* mutexes, int count) {
    if (count <= 0) return -1;
    if (count > 16) count = 16;
    HANDLE handles[16];
    for (int i = 0; i < count; ++i) handles[i] = mutexes[i]->handle;
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, 1);
    if (r < WAIT_OBJECT_0 + static_cast<DWORD>(count)) return static_cast<int>(r - WAIT_OBJECT_0);
    if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + static_cast<DWORD>(count))
        return static_cast<int>(r - WAIT_ABANDONED_0);
    return -1;
}

struct Event {
    HANDLE handle;
};

Event* NewEvent() {
    HANDLE h = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!h) return nullptr;
    return new Event{h};
}

void DestroyEvent(Event* event) {
    if (!event) return;
    ::CloseHandle(event->handle);
    delete event;
}

void SignalEvent(Event* event) {
    ::SetEvent(event->handle);
}

bool WaitEvent(Event* event, uint32_t milliseconds) {
    return ::WaitForSingleObject(event->handle, milliseconds) == WAIT_OBJECT_0;
}

void YieldThread() {
    ::Sleep(0);
}
void SleepMilliseconds(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

// ---------------------------------------------------------------- time

bool CounterFrequency(uint64_t* frequency) {
    LARGE_INTEGER f;
    if (!::QueryPerformanceFrequency(&f) || f.QuadPart == 0) return false;
    *frequency = static_cast<uint64_t>(f.QuadPart);
    return true;
}

uint64_t CounterValue() {
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return static_cast<uint64_t>(c.QuadPart);
}

uint32_t TickCount() {
    return ::GetTickCount();
}
uint32_t MultimediaTime() {
    return ::timeGetTime();
}
namespace {
std::atomic<uint32_t> g_timer_holds{0};
}  // namespace
void BeginTimerResolution1ms() {
    ::timeBeginPeriod(1);
    g_timer_holds.fetch_add(1);
}
void EndTimerResolution1ms() {
    uint32_t held = g_timer_holds.load();
    while (held != 0 && !g_timer_holds.compare_exchange_weak(held, held - 1)) {
    }
    if (held != 0) ::timeEndPeriod(1);
}
uint32_t TimerResolution1msHolds() {
    return g_timer_holds.load();
}

LocalTime GetLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth,  st.wDay,    st.wDayOfWeek,
                     st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

// ---------------------------------------------------------------- memory

namespace {
HANDLE LibraryHeap() {
    static HANDLE heap = ::HeapCreate(0, 256, 0);
    return heap;
}
}  // namespace

void* HeapAllocate(size_t bytes) {
    HANDLE heap = LibraryHeap();
    return heap ? ::HeapAlloc(heap, 0, bytes) : nullptr;
}

void* HeapAllocateZeroed(size_t bytes) {
    HANDLE heap = LibraryHeap();
    return heap ? ::HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes) : nullptr;
}

void HeapFree(void* block) {
    if (block) ::HeapFree(LibraryHeap(), 0, block);
}

// ---------------------------------------------------------------- settings

std::string OptionStringResource() {
    char buffer[512];
    int n = ::LoadStringA(::GetModuleHandleA(nullptr), 16, buffer, sizeof buffer);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string ReadProfileString(const char* section, const char* key, const char* fallback) {
    char buffer[1024];
    DWORD n = ::GetProfileStringA(section, key, fallback ? fallback : "", buffer, sizeof buffer);
    return std::string(buffer, n);
}

bool StoreProfileString(const char* section, const char* key, const char* value) {
    return ::WriteProfileStringA(section, key, value) != 0;
}

}  // namespace vemo::platform
